#include "core/disk_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace core {

bool ValidSectorsPerCluster(int32_t sectorsPerCluster) {
  return sectorsPerCluster >= kMinSectorsPerCluster && sectorsPerCluster <= kMaxSectorsPerCluster;
}

int32_t ComputeLastCluster(double sectors, int32_t sectorsPerCluster) {
  if (sectorsPerCluster <= 0 || !(sectors > 0)) return -1;
  double n = std::nearbyint(sectors / double(sectorsPerCluster));   // ties to even
  double last = n - 1;
  if (last > kMaxFatIndex) return kMaxFatIndex;
  return int32_t(last);
}

int32_t FsckLastIndex(double sectors, int32_t sectorsPerCluster) {
  if (sectorsPerCluster <= 0) return -1;
  const double last = std::ceil(sectors / double(sectorsPerCluster)) - 1;
  return int32_t(std::clamp(last, -1.0, double(kMaxFatIndex)));
}

int32_t LastDataIndex(int32_t lastCluster, int64_t deviceSectors, int32_t sectorsPerCluster) {
  if (lastCluster < 0 || sectorsPerCluster <= 0) return -1;
  if (deviceSectors < 0) return lastCluster - 1;
  return int32_t(std::clamp<int64_t>(deviceSectors / sectorsPerCluster - 2, -1, lastCluster));
}

int32_t LastTableIndex(int64_t lastIndex, int64_t systemClusterBytes) {
  int64_t last = std::clamp<int64_t>(lastIndex, -1, kMaxFatIndex);
  if (systemClusterBytes >= 0) {
    // FAT2 lies behind FAT1: its entries end first.
    const int64_t fits = systemClusterBytes >= kFAT2 + 3 ? (systemClusterBytes - kFAT2) / 3 - 1 : -1;
    last = std::min(last, fits);
  }
  return int32_t(last);
}

int32_t EvidenceWeight(const ClusterSizeEvidence& evidence, int32_t sectorsPerCluster) {
  int32_t weight = 0;
  for (int32_t at : evidence.RootAt)
    if (at == sectorsPerCluster) weight = 2;
  for (const auto& [size, slots] : evidence.Dots)
    if (size == sectorsPerCluster) weight += std::min(slots, 2);
  return weight;
}

int32_t ConfirmedClusterSize(int32_t words, const ClusterSizeEvidence& evidence) {
  int32_t best = -1, bestWeight = 0;
  bool tie = false;
  auto consider = [&](int32_t size) {
    const int32_t weight = EvidenceWeight(evidence, size);
    if (size == best) return;
    if (weight > bestWeight) {
      best = size;
      bestWeight = weight;
      tie = false;
    } else if (weight == bestWeight && weight > 0) {
      tie = true;
    }
  };
  for (int32_t at : evidence.RootAt) consider(at);
  for (const auto& dot : evidence.Dots) consider(dot.first);
  if (bestWeight == 0 || EvidenceWeight(evidence, words) >= bestWeight) return words;
  return bestWeight >= 2 && !tie ? best : -1;
}

std::string ReadIdString(const uint8_t* sector0) {
  return std::string(reinterpret_cast<const char*>(sector0 + kSbIdString), kTopfieldIdLength);
}

int32_t DecodeFatLink(uint32_t raw24) {
  if (raw24 == kFat24Free) return 0;
  if (raw24 == kFat24End) return -1;
  if (raw24 == 0 || raw24 >= uint32_t(kFatEntries)) return 0;
  return int32_t(raw24);
}

uint32_t EncodeFatLink(int32_t next) {
  if (next == 0) return kFat24Free;
  if (next == -1) return kFat24End;
  return uint32_t(next) & 0xFFFFFF;
}

std::string CrcIdText(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", crc);
  return text;
}

std::string ReadEntryName(const uint8_t* slot) {
  std::string name;
  name.reserve(32);
  for (int i = 0; i < kMaxReadName; ++i) {
    uint8_t b = slot[kDeName + i];
    if (b == 0x00 || b == 0xFF) break;
    if (b < 32) continue;
    name.push_back(char(b));
  }
  return name;
}

bool TakeRootCopy(uint8_t* rootHead, const uint8_t* systemCluster) {
  const uint8_t* copy = systemCluster + kRootDirectoryCopy;
  if (copy[kDeAttribute] != AttrSelf || GetBE32(copy + kDeStartCluster) != 0) return false;
  std::memcpy(rootHead, copy, size_t(kRootCopySlots) * kDirEntrySize);
  return true;
}

std::string ReadEntryNameRaw(const uint8_t* slot) {
  std::string name;
  for (int i = 0; i < kMaxReadName; ++i) {
    uint8_t b = slot[kDeName + i];
    if (b == 0x00 || b == 0xFF) break;
    name.push_back(char(b));
  }
  return name;
}

EntrySizeReading ReadEntrySize(int64_t clusterCount, int32_t sectorsPerCluster, int64_t freeBytes,
                               int64_t lastSectorBytes) {
  EntrySizeReading r;
  if (clusterCount == 0) {
    r.Possible = freeBytes == 0 && lastSectorBytes == 0;
    return r;
  }
  if (sectorsPerCluster < 1 || clusterCount < 0 || clusterCount > kFatEntries) {
    r.Possible = false;
    return r;
  }
  const int64_t clusterBytes = int64_t(sectorsPerCluster) * kSectorSize;
  // 0 and 512 both mean a full last sector.
  const bool lastOk = lastSectorBytes >= 0 && lastSectorBytes <= kSectorSize;
  const int64_t last = lastOk && lastSectorBytes != 0 ? lastSectorBytes : kSectorSize;
  // At least one byte of the file lies in its last cluster.
  const bool freeOk = freeBytes >= 0 && clusterBytes - freeBytes - kSectorSize + last >= 1;
  r.Possible = freeOk && lastOk;
  const int64_t unused = freeOk ? freeBytes : 0;
  r.Size = double(clusterCount * clusterBytes - unused - kSectorSize + last);
  return r;
}

EntrySizeReading ReadEntrySizeOf(const uint8_t* slot, int32_t sectorsPerCluster) {
  return ReadEntrySize(GetBE32(slot + kDeClusterCount), sectorsPerCluster,
                       GetBE32(slot + kDeFreeBytes), GetBE16(slot + kDeLastSectorBytes));
}

double EntrySize(int32_t clusterCount, int32_t sectorsPerCluster, int32_t freeBytes,
                 int32_t lastSectorBytes) {
  return ReadEntrySize(clusterCount, sectorsPerCluster, freeBytes, lastSectorBytes).Size;
}

double EntrySizeOf(const uint8_t* slot, int32_t sectorsPerCluster) {
  return ReadEntrySizeOf(slot, sectorsPerCluster).Size;
}

int32_t WritableDirSlots(size_t clusterBytes) {
  return int32_t(std::min<size_t>(clusterBytes, size_t(kDirReadableBytes)) / kDirEntrySize);
}

int64_t DirFreeBytes(const std::vector<uint8_t>& cluster, int32_t sectorsPerCluster) {
  const int64_t bytes = int64_t(sectorsPerCluster) * kSectorSize;
  const int64_t slots = std::min<int64_t>(int64_t(cluster.size()), bytes) / kDirEntrySize;
  for (int64_t s = slots - 1; s >= 0; --s) {
    const uint8_t a = cluster[size_t(s) * kDirEntrySize];
    if (a == AttrFile || a == AttrRecording || a == AttrParent || a == AttrSelf ||
        a == AttrDirectory || a == AttrRecycle)
      return bytes - (s + 1) * kDirEntrySize;
  }
  return -1;
}

EntrySizeFields SizeToEntryFields(double size, int32_t sectorsPerCluster) {
  EntrySizeFields f;
  if (sectorsPerCluster <= 0 || size <= 0) {
    f.CheckByte = 1;
    return f;
  }
  const double clusterBytes = double(sectorsPerCluster) * 512.0;
  f.ClusterCount = int32_t(std::ceil(size / 512.0 / double(sectorsPerCluster)));
  int64_t lastBytes = int64_t(size - double(f.ClusterCount - 1) * clusterBytes);
  f.FreeBytes = int32_t((int64_t(sectorsPerCluster) - (lastBytes + 511) / 512) * 512);
  f.LastSectorBytes = uint16_t(lastBytes % 512);
  f.CheckByte = uint8_t(((f.LastSectorBytes >> 8) + (f.LastSectorBytes & 0xFF) + 1) & 0xFF);
  return f;
}

void KeepCheckByte(uint8_t* slot) {
  const bool file = slot[kDeAttribute] == AttrFile || slot[kDeAttribute] == AttrRecording;
  slot[kDeCheckByte] =
      file ? uint8_t((slot[kDeLastSectorBytes] + slot[kDeLastSectorBytes + 1] + 1) & 0xFF) : uint8_t(0);
}

void PutLastSectorBytes(uint8_t* slot, uint16_t lastSectorBytes) {
  PutBE16(slot + kDeLastSectorBytes, lastSectorBytes);
  KeepCheckByte(slot);
}

// ------------------------------------------------------------------ dates

TopfDate ReadTopfDate(const uint8_t* p) {
  TopfDate d;
  d.Mjd = GetBE16(p);
  d.Hour = p[2];
  d.Minute = p[3];
  d.Second = p[4];
  return d;
}

void WriteTopfDate(uint8_t* p, const TopfDate& date) {
  PutBE16(p, date.Mjd);
  p[2] = date.Hour;
  p[3] = date.Minute;
  p[4] = date.Second;
}

double TopfDateToDateValue(const TopfDate& date) {
  return double(int32_t(date.Mjd) - kMjdOffset) + date.Hour / 24.0 + date.Minute / 1440.0;
}

TopfDate DateValueToTopfDate(double dateValue) {
  TopfDate d;
  double days = std::floor(dateValue);
  d.Mjd = uint16_t(int64_t(days + kMjdOffset) & 0xFFFF);
  int64_t seconds = std::llround((dateValue - days) * 86400.0);
  if (seconds >= 86400) seconds = 86399;   // stay on the same day
  if (seconds < 0) seconds = 0;
  d.Hour = uint8_t(seconds / 3600);
  d.Minute = uint8_t(seconds / 60 % 60);
  d.Second = uint8_t(seconds % 60);
  return d;
}

namespace {
// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = int(doy - (153 * mp + 2) / 5 + 1);
  m = int(mp < 10 ? mp + 3 : mp - 9);
  y = int(yoe + era * 400 + (m <= 2));
}
// 1899-12-30 counted from 1970-01-01.
constexpr int64_t kEpochOffset = -25569;
}  // namespace

double DateSerial(int year, int month, int day) {
  return double(DaysFromCivil(year, month, day) - kEpochOffset);
}

double DateValue(int year, int month, int day, int hour, int minute, int second) {
  return DateSerial(year, month, day) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

DateParts SplitDateValue(double dateValue) {
  DateParts p;
  int64_t total = std::llround(dateValue * 86400.0);
  int64_t days = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
  int64_t secs = total - days * 86400;
  CivilFromDays(days + kEpochOffset, p.Year, p.Month, p.Day);
  p.Hour = int(secs / 3600);
  p.Minute = int(secs / 60 % 60);
  p.Second = int(secs % 60);
  return p;
}

double DateValueFromTimeT(int64_t seconds) {
  std::time_t t = std::time_t(seconds);
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return 0;
  return DateValue(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                   tm.tm_sec);
}

bool IsRecHeader(const uint8_t* firstSector) {
  return firstSector[0] == 'T' && firstSector[1] == 'F' && firstSector[2] == 'r' &&
         firstSector[3] == 'c' && firstSector[4] == 0x50 && firstSector[5] == 0;
}

}  // namespace core
