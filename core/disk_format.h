// The recorder's on-disk format: units, the system cluster (superblock,
// backup superblock, root-directory copy, the two FATs, CRC trailer), the
// 128-byte directory entry, the date stamp and the recording header.
//
// Every offset here is in the "view": the disk stores each aligned 32-bit
// word byte-reversed, the cluster routines reverse every word after a read
// and before a write, and in that view every multi-byte field is big-endian.
// The decoders and encoders below work on buffers that hold the view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

// ---------------------------------------------------------------- units

constexpr int32_t kSectorSize = 512;
// FAT indexes run from 0 to 0x1FFFF; FAT index i is disk cluster i + 1.
constexpr int32_t kMaxFatIndex = 0x1FFFF;
constexpr int32_t kFatEntries = 0x20000;
// The smallest cluster that holds both FATs (FAT2 ends at 0xE0000).
constexpr int32_t kMinClusterBytes = 0x80000 + 3 * kFatEntries;
constexpr int32_t kMinSectorsPerCluster = kMinClusterBytes / kSectorSize;   // 1792
// Sectors per cluster is a signed 16-bit field.
constexpr int32_t kMaxSectorsPerCluster = 0x7FFF;

// True when a sectors-per-cluster value read from a superblock or a dump can
// be used: both FATs must lie inside the system cluster.
bool ValidSectorsPerCluster(int32_t sectorsPerCluster);

// LastCluster of a disk: sectors / SPC rounded to nearest (ties to even)
// minus 1, computed in double precision, never above 0x1FFFF. -1 when
// sectorsPerCluster is not positive.
int32_t ComputeLastCluster(double sectors, int32_t sectorsPerCluster);
// The last FAT index the file-system check looks at: Ceil(sectors / SPC) - 1,
// in double precision, within -1 .. 0x1FFFF. It takes in the index or two
// whose clusters the device's end cuts (or that lie just past it), so that
// a used entry there is found; none of them holds data (LastDataIndex).
int32_t FsckLastIndex(double sectors, int32_t sectorsPerCluster);
// The highest FAT index that may hold data, for both programs: FAT index i
// is the disk's cluster i + 1, which must lie wholly on the device's
// `deviceSectors`, and i must not exceed `lastCluster`. When the device's
// size is unknown (below 0) the last index is taken as cut off. -1 when
// there is none. The index or two past it, which the device's end cuts
// where the loader's rounding counts them, are no data clusters.
int32_t LastDataIndex(int32_t lastCluster, int64_t deviceSectors, int32_t sectorsPerCluster);
// The highest FAT index the tables of either program take part in:
// `lastIndex` (LastCluster, or the last index a check looks at) within
// -1 .. kMaxFatIndex, and, when `systemClusterBytes` is given (0 or more),
// no further than the last entry whose three bytes lie inside both FAT
// areas of a system cluster that long. -1 when there is none.
int32_t LastTableIndex(int64_t lastIndex, int64_t systemClusterBytes = -1);

// What a disk's own content says of its cluster size, gathered before
// anything is written at one: the sizes at whose cluster 1 the root lies
// (its first sector equal to the copy the system cluster keeps), and the
// sizes the folders' "." slots at the start of the disk name (a "." lies
// at the start of its own cluster: sector (its FAT index + 1) x size).
struct ClusterSizeEvidence {
  std::vector<int32_t> RootAt;
  std::vector<std::pair<int32_t, int32_t>> Dots;   // size, how many "." slots name it
};
// How strongly the evidence names `sectorsPerCluster`: 2 for the root lying
// there, and 1 for each "." slot naming it, at most 2 of them.
int32_t EvidenceWeight(const ClusterSizeEvidence& evidence, int32_t sectorsPerCluster);
// The cluster size a disk may be written at when its superblock words lead
// to `words`: the words' size when the evidence names no size, or names it
// as strongly as any other (the disk-size table is no evidence: on large
// disks it cannot tell sizes apart). Otherwise the evidence contradicts the
// words, and the size it names is used when it is clear: the root lies
// there or two "." slots agree on it, and no other size is named as
// strongly. -1 when the evidence contradicts the words but names no size
// clearly: nothing may then be written.
int32_t ConfirmedClusterSize(int32_t words, const ClusterSizeEvidence& evidence);

// ------------------------------------------------------- system cluster

constexpr int32_t kSuperblock = 0;
constexpr int32_t kBackupSuperblock = 512;
constexpr int32_t kRootDirectoryCopy = 1024;
constexpr int32_t kRootCopySlots = 4;
constexpr int32_t kFAT1 = 0x20000;
constexpr int32_t kFAT2 = 0x80000;

// Superblock fields (add kBackupSuperblock for the backup's copy).
constexpr int32_t kSbMagicNumber = 0;
constexpr int32_t kSbIdString = 4;
constexpr int32_t kSbIdStringLength = 28;
constexpr int32_t kSbLayoutMajor = 32;
constexpr int32_t kSbLayoutMinor = 33;
constexpr int32_t kSbSectorsPerCluster = 34;
constexpr int32_t kSbParameterArea = 36;
constexpr int32_t kSbUsedClusters = 40;
constexpr int32_t kSbRootFreeBytes = 44;
constexpr int32_t kSbFatCrc = 48;

constexpr uint32_t kMagicNumber = 0x07082607;
// The identity the loader and the probe accept (bytes 4..25, exactly).
constexpr std::string_view kTopfieldId = "TOPFIELD TF5000PVR HDD";
constexpr int32_t kTopfieldIdLength = 22;
// The variant the file-system check also accepts.
constexpr std::string_view kTopfieldIdShort = "TOPFIELD PVR HDD";
constexpr uint32_t kBackupCrcMarker = 0x46697265;   // "Fire"

// The root folder's first slots kept in the system cluster (its first
// 512 bytes of view): put over `rootHead` (the root cluster's first sector)
// when the copy begins with the root's "." entry. False (nothing changed)
// when it does not.
bool TakeRootCopy(uint8_t* rootHead, const uint8_t* systemCluster);

// The 22 identity characters at bytes 4..25 of a sector-0 view.
std::string ReadIdString(const uint8_t* sector0);

// Offsets of the CRC trailer in a system cluster of `clusterBytes`.
inline int64_t BackupCrcMarkerOffset(int64_t clusterBytes) { return clusterBytes - 8; }
inline int64_t BackupCrcOffset(int64_t clusterBytes) { return clusterBytes - 4; }

// ---------------------------------------------------------------- FAT24

constexpr uint32_t kFat24Free = 0xFFFFFF;
constexpr uint32_t kFat24End = 0xFFFFFE;

// Decodes FAT entry `index` (FAT1 at kFAT1 or FAT2 at kFAT2 = `fatOffset`) of
// a system-cluster view into the in-memory link: 0 free, -1 end of chain,
// else the next FAT index (1..0x1FFFF). 0x000000 and 0x020000..0xFFFFFD are
// invalid and read as free.
int32_t DecodeFatLink(uint32_t raw24);
inline uint32_t ReadFat24(const uint8_t* view, int32_t fatOffset, int32_t index) {
  const uint8_t* p = view + fatOffset + 3 * index;
  return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}
// In-memory link -> the 24-bit entry (0 free, -1 end, else the low 24 bits).
uint32_t EncodeFatLink(int32_t next);
inline void WriteFat24(uint8_t* view, int32_t fatOffset, int32_t index, uint32_t value) {
  uint8_t* p = view + fatOffset + 3 * index;
  p[0] = uint8_t(value >> 16);
  p[1] = uint8_t(value >> 8);
  p[2] = uint8_t(value);
}

// ------------------------------------------------- big-endian view fields

inline uint16_t GetBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// CRC text of a disk: exactly 8 upper-case hex digits ("0000ABCD").
std::string CrcIdText(uint32_t crc);

// ------------------------------------------------------ directory entry

constexpr int32_t kDirEntrySize = 128;
constexpr int32_t kDeAttribute = 0;
constexpr int32_t kDeDate = 1;            // MJD (2), hour, minute, second
constexpr int32_t kDeStartCluster = 8;
constexpr int32_t kDeClusterCount = 12;
constexpr int32_t kDeFreeBytes = 16;
constexpr int32_t kDeName = 20;
constexpr int32_t kDeNameField = 100;
constexpr int32_t kDeCryptFlags = 120;    // 4 when kDeCryptValue holds a value
constexpr int32_t kDeCryptValue = 121;
constexpr int32_t kDeSkipByte = 123;
constexpr int32_t kDeCheckByte = 125;
constexpr int32_t kDeLastSectorBytes = 126;

// Longest name a writer stores: a name part and its extension together take
// kMaxEntryName bytes, the "." one more (EntryNameBytes in create_file.h).
constexpr int32_t kMaxEntryName = 94;
// Longest name the readers take from a slot.
constexpr int32_t kMaxReadName = 97;

// The loader reads a folder's slots up to 128,000 bytes into its cluster
// (slots 0 to 999, so 998 entries besides "." and ".."): no writer puts an
// entry behind them, whatever the cluster size.
constexpr int32_t kDirReadableBytes = 128000;
constexpr int32_t kMaxDirEntries = kDirReadableBytes / kDirEntrySize - 2;   // 998
// The slots of a folder cluster of `clusterBytes` that a writer may use.
int32_t WritableDirSlots(size_t clusterBytes);
// The "." FreeBytes of a folder cluster as the check program computes it:
// the cluster's bytes behind its last slot in use (an entry, "." or "..").
// -1 when no slot is in use.
int64_t DirFreeBytes(const std::vector<uint8_t>& cluster, int32_t sectorsPerCluster);

constexpr uint8_t AttrFile = 0xD0;
constexpr uint8_t AttrRecording = 0xD1;
constexpr uint8_t AttrParent = 0xF0;
constexpr uint8_t AttrSelf = 0xF1;
constexpr uint8_t AttrDirectory = 0xF2;
constexpr uint8_t AttrRecycle = 0xF3;
constexpr uint8_t AttrUnused = 0xFF;

constexpr uint8_t kCryptValidBit = 0x04;
constexpr uint8_t CryptCrypted = 1;
constexpr uint8_t CryptNotCrypted = 2;
constexpr uint8_t CryptPartially = 3;

// A folder's "." entry: Attribute 0xF1 and the name ".".
inline bool IsSelfEntry(const uint8_t* slot) {
  return slot[kDeAttribute] == AttrSelf && slot[kDeName] == '.' && slot[kDeName + 1] == 0;
}

// The loader's reading of an entry name: from byte 20, at most 97 bytes,
// ending at a byte 0x00 or 0xFF, bytes 1..31 left out. Windows-1252 bytes.
std::string ReadEntryName(const uint8_t* slot);
// The dump walk's reading: the same without leaving out control bytes.
std::string ReadEntryNameRaw(const uint8_t* slot);

// What a file entry's size fields say, for every reader that turns an entry
// into a byte count (the list, the copy, the check). The size is
// ClusterCount x SPC x 512 - FreeBytes - 512 + (LastSectorBytes, or 512 when
// 0); an empty file (all three 0) reads back as 0.
// The fields are possible when they can describe a file: ClusterCount 0
// with FreeBytes and LastSectorBytes 0, or ClusterCount 1 .. 0x20000 with
// LastSectorBytes 0 .. 512 (0 and 512 both a full last sector) and a
// FreeBytes of 0 or more that leaves at least one byte in the last cluster.
// Where a field is not possible it is read as 0 (no unused sectors, a full
// last sector), as a repair sets it, and a count no chain can have reads as
// no bytes at all: the size is never negative and never beyond the entry's
// clusters, and never takes bytes past what a possible field says is in use.
struct EntrySizeReading {
  double Size = 0;
  bool Possible = true;
};
EntrySizeReading ReadEntrySize(int64_t clusterCount, int32_t sectorsPerCluster, int64_t freeBytes,
                               int64_t lastSectorBytes);
// The same for the fields of a directory slot (the view).
EntrySizeReading ReadEntrySizeOf(const uint8_t* slot, int32_t sectorsPerCluster);
// The size alone.
double EntrySize(int32_t clusterCount, int32_t sectorsPerCluster, int32_t freeBytes,
                 int32_t lastSectorBytes);
double EntrySizeOf(const uint8_t* slot, int32_t sectorsPerCluster);

// The size fields a writer derives from a file's size.
struct EntrySizeFields {
  int32_t ClusterCount = 0;
  int32_t FreeBytes = 0;
  uint16_t LastSectorBytes = 0;
  uint8_t CheckByte = 0;    // (byte 126 + byte 127 + 1) mod 256
};
EntrySizeFields SizeToEntryFields(double size, int32_t sectorsPerCluster);
// Every writer of an entry keeps its check byte with its LastSectorBytes: a
// file's (Attribute 0xD0 or 0xD1) is (byte 126 + byte 127 + 1) mod 256,
// any other entry's ("." and ".." and folders) 0. KeepCheckByte sets it
// from the slot's own fields; PutLastSectorBytes sets both.
void KeepCheckByte(uint8_t* slot);
void PutLastSectorBytes(uint8_t* slot, uint16_t lastSectorBytes);

// ------------------------------------------------------------------ dates
//
// The programs' date value: days since 30 December 1899 as a double, the
// time of day as the fraction. On the disk a date is a Modified Julian Date:
// date value = MJD - 15018.

constexpr int32_t kMjdOffset = 15018;

struct TopfDate {
  uint16_t Mjd = 0;
  uint8_t Hour = 0;
  uint8_t Minute = 0;
  uint8_t Second = 0;
};
TopfDate ReadTopfDate(const uint8_t* p);     // p = the entry's byte 1
void WriteTopfDate(uint8_t* p, const TopfDate& date);
// Date value as the loader takes it: MJD - 15018 + hour/24 + minute/1440.
double TopfDateToDateValue(const TopfDate& date);
// MJD = whole days + 15018 (low 16 bits), time of day to the second.
TopfDate DateValueToTopfDate(double dateValue);

// Calendar conversions of date values (proleptic Gregorian, no time zone).
double DateSerial(int year, int month, int day);
double DateValue(int year, int month, int day, int hour, int minute, int second);
struct DateParts {
  int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0;
};
// Rounds to the nearest second.
DateParts SplitDateValue(double dateValue);
// The date value of a POSIX time taken as local time.
double DateValueFromTimeT(int64_t seconds);

// ------------------------------------------------------ recording header

constexpr int32_t kRecHeaderSize = 1656;
constexpr int32_t kRhMagic = 0;            // "TFrc"
constexpr int32_t kRhVersion = 4;          // 0x50, then byte 5 = 0
constexpr int32_t kRhDuration = 8;
constexpr int32_t kRhServiceType = 13;
constexpr int32_t kRhServiceId = 18;
constexpr int32_t kRhPmtPid = 20;
constexpr int32_t kRhPcrPid = 22;
constexpr int32_t kRhVideoPid = 24;
constexpr int32_t kRhAudioPid = 26;
constexpr int32_t kRhServiceName = 28;
constexpr int32_t kRhServiceNameLength = 24;
constexpr int32_t kRhEventPresent = 72;
constexpr int32_t kRhEventNameLength = 85;
constexpr int32_t kRhEventName = 87;
constexpr int32_t kRhEventNameField = 129;
constexpr int32_t kRhEventTextLength = 362;
constexpr int32_t kRhEventText = 368;
constexpr int32_t kRhEventTextField = 1024;
constexpr int32_t kRhCryptValue = 1396;

// A header counts when bytes 0..3 are "TFrc", byte 4 is 0x50 and byte 5 is 0.
bool IsRecHeader(const uint8_t* firstSector);

}  // namespace core
