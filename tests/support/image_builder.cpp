// The model and the writer of the disk-image builder.
#include "tests/support/image_builder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace imagebuilder {

// ------------------------------------------------------ independent helpers

uint32_t Crc32Mpeg2(const uint8_t* data, size_t length) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i << 24;
      for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) crc = table[(crc >> 24) ^ data[i]] ^ (crc << 8);
  return crc;
}

uint32_t FatCrcLength(uint32_t n) { return (3 * n + 511) / 512 * 512; }

void SwapWords(uint8_t* data, size_t length) {
  for (size_t i = 0; i + 4 <= length; i += 4) {
    std::swap(data[i], data[i + 3]);
    std::swap(data[i + 1], data[i + 2]);
  }
}

uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint32_t GetBE24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }
uint16_t GetBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
void PutBE24(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 16); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v); }
void PutBE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }

SizeFields SizeFieldsFor(uint64_t size, uint32_t spc) {
  SizeFields f;
  if (size == 0) {
    f.CheckByte = 1;
    return f;
  }
  const uint64_t clusterBytes = uint64_t(spc) * 512;
  f.ClusterCount = static_cast<uint32_t>((size + clusterBytes - 1) / clusterBytes);
  const uint64_t lastBytes = size - uint64_t(f.ClusterCount - 1) * clusterBytes;
  f.FreeBytes = static_cast<uint32_t>((spc - (lastBytes + 511) / 512) * 512);
  f.LastSectorBytes = static_cast<uint16_t>(lastBytes % 512);
  f.CheckByte = static_cast<uint8_t>((f.LastSectorBytes & 0xFF) + (f.LastSectorBytes >> 8) + 1);
  return f;
}

uint64_t SizeFromFields(uint32_t clusterCount, uint32_t freeBytes, uint16_t lastSectorBytes,
                        uint32_t spc) {
  if (clusterCount == 0) return 0;
  const uint64_t last = lastSectorBytes == 0 ? 512 : lastSectorBytes;
  return uint64_t(clusterCount) * spc * 512 - freeBytes - 512 + last;
}

namespace {

// Days from 1 January 1970 of a calendar day (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr int64_t kMjdOf1970 = 40587;
constexpr int64_t kDateValueOf1970 = 25569;    // days from 30 Dec 1899

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("image builder: " + what); }

std::string ParentOf(const std::string& path) {
  size_t pos = path.rfind('\\');
  return pos == 0 ? "\\" : path.substr(0, pos);
}
std::string NameOf(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

std::string Normalise(std::string path) {
  if (path.empty() || path[0] != '\\') Fail("recorder paths start with a backslash: " + path);
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  return path;
}

void PwriteAll(int fd, const uint8_t* data, size_t length, uint64_t offset, const std::string& path) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = pwrite(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("cannot write " + path + ": " + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
}

uint64_t Mix(uint64_t x) {
  x ^= x >> 30; x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27; x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return x;
}

}  // namespace

uint16_t MjdOf(int year, int month, int day) {
  return static_cast<uint16_t>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kMjdOf1970);
}

double DateValueOf(const Date& d) {
  const int64_t days = DaysFromCivil(d.Year, static_cast<unsigned>(d.Month), static_cast<unsigned>(d.Day)) + kDateValueOf1970;
  return double(days) + d.Hour / 24.0 + d.Minute / 1440.0;
}

int64_t CylindersOf(uint64_t bytes) { return static_cast<int64_t>(bytes / 512 / kSectorsPerCylinder); }

int64_t LastClusterOf(uint64_t bytes, uint32_t spc) {
  const double sectors = double(CylindersOf(bytes)) * 255.0 * 63.0;
  return static_cast<int64_t>(std::nearbyint(sectors / double(spc))) - 1;   // ties to even
}

uint8_t PatternByte(uint32_t seed, uint64_t offset) {
  const uint64_t word = Mix((uint64_t(seed) << 40) ^ (offset >> 3) ^ 0x5DEECE66Dull);
  return static_cast<uint8_t>(word >> (8 * (offset & 7)));
}

std::string RecHeaderBytes(const RecHeader& h) {
  std::string s(kRecHeaderBytes, '\0');
  auto* p = reinterpret_cast<uint8_t*>(s.data());
  std::memcpy(p, "TFrc", 4);
  p[4] = 0x50;
  p[5] = 0;
  PutBE16(p + 8, h.DurationMinutes);
  p[13] = h.ServiceType;
  PutBE16(p + 18, h.ServiceId);
  PutBE16(p + 20, h.PmtPid);
  PutBE16(p + 22, h.PcrPid);
  PutBE16(p + 24, h.VideoPid);
  PutBE16(p + 26, h.AudioPid);
  std::memcpy(p + 28, h.ServiceName.data(), std::min<size_t>(h.ServiceName.size(), 23));
  PutBE32(p + 72, (h.EventName.empty() && h.EventText.empty()) ? 0 : 1);
  if (!h.EventName.empty()) {
    const size_t n = std::min<size_t>(h.EventName.size(), 127);
    p[85] = static_cast<uint8_t>(n + 1);
    p[87] = 0x05;
    std::memcpy(p + 88, h.EventName.data(), n);
  }
  if (!h.EventText.empty()) {
    const size_t n = std::min<size_t>(h.EventText.size(), 1023);
    PutBE16(p + 362, static_cast<uint16_t>(n + 1));
    p[368] = 0x05;
    for (size_t i = 0; i < n; ++i) {
      char c = h.EventText[i];
      p[369 + i] = c == '\r' ? 0x8D : c == '\n' ? 0x8A : static_cast<uint8_t>(c);
    }
  }
  p[1396] = h.CryptValue;
  return s;
}

// --------------------------------------------------------------- the model

struct DiskImage::Folder {
  enum class SlotKind { Self, Parent, Entry, Erased };
  struct Slot {
    SlotKind kind = SlotKind::Entry;
    size_t entry = 0;          // entries_ index for SlotKind::Entry
  };
  std::string path;
  uint32_t index = 0;
  uint32_t parentIndex = 0;
  Date when;
  std::map<int, Slot> slots;
};

DiskImage::DiskImage(const ImageSpec& spec) : spec_(spec) {
  const uint32_t spc = spec_.SectorsPerCluster;
  if (uint64_t(spc) * 512 < kFat2Offset + 3ull * kFatEntries + 8 || spc > 0xFFFF)
    Fail("sectors per cluster must hold both FATs and fit 16 bits");
  if (spec_.SizeBytes) {
    sizeBytes_ = spec_.SizeBytes;
    cylinders_ = CylindersOf(sizeBytes_);
    lastCluster_ = LastClusterOf(sizeBytes_, spc);
  } else {
    const uint32_t wanted = std::max<uint32_t>(spec_.LastCluster, 4);
    int64_t c = std::max<int64_t>(1, int64_t(uint64_t(wanted + 1) * spc / kSectorsPerCylinder));
    while (LastClusterOf(uint64_t(c) * kSectorsPerCylinder * 512, spc) < wanted) ++c;
    cylinders_ = c;
    lastCluster_ = LastClusterOf(uint64_t(c) * kSectorsPerCylinder * 512, spc);
    // Long enough to hold disk cluster LastCluster + 1, short enough to keep
    // the same whole number of cylinders.
    uint64_t sectors = std::max<uint64_t>(uint64_t(c) * kSectorsPerCylinder,
                                          uint64_t(lastCluster_ + 2) * spc);
    sectors = std::min<uint64_t>(sectors, uint64_t(c + 1) * kSectorsPerCylinder - 1);
    sizeBytes_ = sectors * 512;
  }
  if (lastCluster_ < 4) Fail("the image is too small");
  fat_.assign(kFatEntries, kFatFree);
  owner_.assign(kFatEntries, "");

  auto root = std::make_shared<Folder>();
  root->path = "\\";
  root->index = 0;
  root->slots[0] = {Folder::SlotKind::Self, 0};
  folders_["\\"] = root;
  Claim(0, "\\");
  fat_[0] = kFatEnd;

  if (spec_.StandardFolders) {
    FolderSpec recycle;
    recycle.Path = "\\__RECYCLE__";
    recycle.Index = 1;
    recycle.Slot = 1;
    recycle.Attribute = kAttrRecycle;
    AddFolder(recycle);
    FolderSpec data;
    data.Path = "\\DataFiles";
    data.Index = 2;
    data.Slot = 2;
    AddFolder(data);
    FolderSpec program;
    program.Path = "\\ProgramFiles";
    program.Index = 3;
    program.Slot = 3;
    AddFolder(program);
  }
}

DiskImage::DiskImage(const DiskImage& other)
    : spec_(other.spec_), lastCluster_(other.lastCluster_), sizeBytes_(other.sizeBytes_),
      cylinders_(other.cylinders_), entries_(other.entries_), byPath_(other.byPath_),
      fat_(other.fat_), owner_(other.owner_), sampleCache_(other.sampleCache_) {
  for (const auto& [key, folder] : other.folders_) folders_[key] = std::make_shared<Folder>(*folder);
}

DiskImage& DiskImage::operator=(const DiskImage& other) {
  if (this != &other) {
    DiskImage copy(other);
    *this = std::move(copy);
  }
  return *this;
}

DiskImage::~DiskImage() = default;

void DiskImage::Claim(uint32_t index, const std::string& owner) {
  const int64_t top = std::min<int64_t>(lastCluster_, kFatEntries - 1);
  if (int64_t(index) > top) Fail("FAT index " + std::to_string(index) + " beyond LastCluster for " + owner);
  if ((uint64_t(index) + 2) * ClusterBytes() > sizeBytes_)
    Fail("FAT index " + std::to_string(index) + " lies beyond the image's end for " + owner);
  if (!owner_[index].empty())
    Fail("FAT index " + std::to_string(index) + " of " + owner + " already belongs to " + owner_[index]);
  owner_[index] = owner;
}

uint32_t DiskImage::AllocateFolderIndex(uint32_t wanted) {
  if (wanted) return wanted;
  const int64_t top = std::min<int64_t>(lastCluster_, kFatEntries - 1);
  for (int64_t i = 1; i <= top; ++i)
    if (owner_[i].empty()) return static_cast<uint32_t>(i);
  Fail("the disk is full");
}

std::vector<uint32_t> DiskImage::AllocateChain(uint32_t clusters, uint32_t start,
                                               const std::vector<uint32_t>& given) {
  if (!given.empty()) {
    if (given.size() != clusters)
      Fail("the chain has " + std::to_string(given.size()) + " clusters, the size needs " +
           std::to_string(clusters));
    return given;
  }
  std::vector<uint32_t> chain;
  if (clusters == 0) return chain;
  const int64_t top = std::min<int64_t>(lastCluster_, kFatEntries - 1);
  if (start) {
    for (uint32_t k = 0; k < clusters; ++k) chain.push_back(start + k);
    return chain;
  }
  // The lowest free run that is long enough; else the lowest free indexes.
  int64_t runStart = -1, run = 0;
  for (int64_t i = 1; i <= top; ++i) {
    if (!owner_[i].empty() || (uint64_t(i) + 2) * ClusterBytes() > sizeBytes_) {
      run = 0;
      continue;
    }
    if (run == 0) runStart = i;
    if (++run == clusters) {
      for (uint32_t k = 0; k < clusters; ++k) chain.push_back(static_cast<uint32_t>(runStart + k));
      return chain;
    }
  }
  for (int64_t i = 1; i <= top && chain.size() < clusters; ++i)
    if (owner_[i].empty()) chain.push_back(static_cast<uint32_t>(i));
  if (chain.size() < clusters) Fail("the disk is full");
  return chain;
}

int DiskImage::TakeSlot(Folder& folder, int wanted, const std::string& owner) {
  const int slots = static_cast<int>(ClusterBytes() / kSlotBytes);
  int slot = wanted;
  if (slot < 0) {
    slot = 0;
    while (folder.slots.count(slot)) ++slot;
  }
  if (slot >= slots) Fail("no free slot in " + folder.path + " for " + owner);
  if (folder.slots.count(slot)) Fail("slot " + std::to_string(slot) + " of " + folder.path + " is taken");
  return slot;
}

uint32_t DiskImage::AddFolder(const FolderSpec& spec) {
  const std::string path = Normalise(spec.Path);
  if (path == "\\" || byPath_.count(path)) Fail("exists already: " + path);
  auto parentIt = folders_.find(ParentOf(path));
  if (parentIt == folders_.end()) Fail("no folder for " + path);
  Folder& parent = *parentIt->second;
  const std::string name = NameOf(path);
  if (name.empty() || name.size() > 99) Fail("bad folder name: " + path);

  const uint32_t index = AllocateFolderIndex(spec.Index);
  const int slot = TakeSlot(parent, spec.Slot, path);
  Claim(index, path);
  fat_[index] = kFatEnd;

  ModelEntry e;
  e.Path = path;
  e.Name = name;
  e.Parent = parent.path;
  e.IsDir = true;
  e.Attribute = spec.Attribute;
  e.When = spec.When;
  e.Chain = {index};
  e.Slot = slot;
  entries_.push_back(e);
  byPath_[path] = entries_.size() - 1;
  parent.slots[slot] = {Folder::SlotKind::Entry, entries_.size() - 1};

  auto folder = std::make_shared<Folder>();
  folder->path = path;
  folder->index = index;
  folder->parentIndex = parent.index;
  folder->when = spec.When;
  folder->slots[0] = {Folder::SlotKind::Self, 0};
  folder->slots[1] = {Folder::SlotKind::Parent, 0};
  folders_[path] = folder;
  return index;
}

std::vector<uint32_t> DiskImage::AddFile(const FileSpec& spec) {
  const std::string path = Normalise(spec.Path);
  if (byPath_.count(path) || folders_.count(path)) Fail("exists already: " + path);
  auto parentIt = folders_.find(ParentOf(path));
  if (parentIt == folders_.end()) Fail("no folder for " + path);
  Folder& parent = *parentIt->second;
  const std::string name = NameOf(path);
  if (name.empty() || name.size() > 99) Fail("bad file name: " + path);

  ModelEntry e;
  e.Path = path;
  e.Name = name;
  e.Parent = parent.path;
  e.File = spec;
  e.File.Path = path;
  e.When = spec.When;
  if (spec.Attribute) {
    e.Attribute = spec.Attribute;
  } else {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    e.Attribute = lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".rec") == 0 ? kAttrRecording : kAttrFile;
  }
  if (spec.Size) {
    e.Size = *spec.Size;
  } else {
    uint64_t natural;
    switch (spec.Data.kind) {
      case Content::Kind::Bytes: natural = spec.Data.Bytes.size(); break;
      case Content::Kind::SampleTs: {
        std::string p = spec.Data.SampleTsPath.empty() ? TestDataPath("sample.ts") : spec.Data.SampleTsPath;
        auto it = sampleCache_.find(p);
        if (it == sampleCache_.end()) it = sampleCache_.emplace(p, ReadWholeFile(p)).first;
        natural = uint64_t(it->second.size()) * spec.SampleTsRepeat;
        break;
      }
      default: Fail("a pattern or zero file needs a size: " + path);
    }
    e.Size = natural + (spec.Header ? kRecHeaderBytes : 0);
  }
  const SizeFields f = SizeFieldsFor(e.Size, spec_.SectorsPerCluster);
  e.Chain = AllocateChain(f.ClusterCount, spec.StartIndex, spec.Chain);
  const int slot = TakeSlot(parent, spec.Slot, path);
  for (uint32_t index : e.Chain) Claim(index, path);
  for (size_t k = 0; k < e.Chain.size(); ++k)
    fat_[e.Chain[k]] = k + 1 < e.Chain.size() ? e.Chain[k + 1] : kFatEnd;
  e.Slot = slot;
  entries_.push_back(e);
  byPath_[path] = entries_.size() - 1;
  parent.slots[slot] = {Folder::SlotKind::Entry, entries_.size() - 1};
  return e.Chain;
}

void DiskImage::AddErasedSlot(const std::string& folderPath, int slot) {
  auto it = folders_.find(Normalise(folderPath));
  if (it == folders_.end()) Fail("no folder " + folderPath);
  const int s = TakeSlot(*it->second, slot, "an erased slot");
  it->second->slots[s] = {Folder::SlotKind::Erased, 0};
}

void DiskImage::AddLostChain(const std::vector<uint32_t>& chain) {
  for (uint32_t index : chain) Claim(index, "a lost chain");
  for (size_t k = 0; k < chain.size(); ++k)
    fat_[chain[k]] = k + 1 < chain.size() ? chain[k + 1] : kFatEnd;
}

const ModelEntry& DiskImage::Entry(const std::string& path) const {
  auto it = byPath_.find(Normalise(path));
  if (it == byPath_.end()) Fail("no entry " + path);
  return entries_[it->second];
}

bool DiskImage::Has(const std::string& path) const { return byPath_.count(Normalise(path)) != 0; }

std::vector<std::string> DiskImage::Paths() const {
  std::vector<std::string> paths;
  for (const ModelEntry& e : entries_) paths.push_back(e.Path);
  return paths;
}

uint32_t DiskImage::FolderIndex(const std::string& path) const {
  auto it = folders_.find(Normalise(path));
  if (it == folders_.end()) Fail("no folder " + path);
  return it->second->index;
}

uint32_t DiskImage::FatValue(uint32_t index) const {
  if (index >= kFatEntries) Fail("FAT index out of range");
  return fat_[index];
}

bool DiskImage::IndexUsed(uint32_t index) const { return index < kFatEntries && fat_[index] != kFatFree; }

uint32_t DiskImage::UsedClusters() const {
  const int64_t top = std::min<int64_t>(lastCluster_, kFatEntries - 1);
  uint32_t used = 0;
  for (int64_t i = 0; i <= top; ++i) used += fat_[i] != kFatFree;
  return used;
}

std::string DiskImage::FileBytes(const std::string& path, uint64_t offset, uint64_t length) const {
  const ModelEntry& e = Entry(path);
  if (e.IsDir) Fail("not a file: " + path);
  if (offset >= e.Size) return "";
  const uint64_t n = std::min<uint64_t>(length, e.Size - offset);
  std::string out(n, '\0');
  const FileSpec& f = e.File;
  const std::string header = f.Header ? RecHeaderBytes(*f.Header) : std::string();
  const std::string* sample = nullptr;
  if (f.Data.kind == Content::Kind::SampleTs) {
    std::string p = f.Data.SampleTsPath.empty() ? TestDataPath("sample.ts") : f.Data.SampleTsPath;
    auto it = sampleCache_.find(p);
    if (it == sampleCache_.end()) it = sampleCache_.emplace(p, ReadWholeFile(p)).first;
    sample = &it->second;
  }
  uint64_t i = 0;
  for (; i < n && offset + i < header.size(); ++i) out[i] = header[offset + i];
  for (; i < n; ++i) {
    const uint64_t o = offset + i - header.size();
    switch (f.Data.kind) {
      case Content::Kind::Pattern: out[i] = static_cast<char>(PatternByte(f.Data.Seed, o)); break;
      case Content::Kind::Zeros: break;
      case Content::Kind::Bytes:
        if (!f.Data.Bytes.empty()) out[i] = f.Data.Bytes[o % f.Data.Bytes.size()];
        break;
      case Content::Kind::SampleTs:
        if (!sample->empty()) out[i] = (*sample)[o % sample->size()];
        break;
    }
  }
  return out;
}

// ------------------------------------------------------------- the layout

uint32_t DiskImage::FolderClusterCount(const std::string& path) const {
  auto it = folders_.find(path);
  uint32_t count = 1;
  for (const auto& [slot, s] : it->second->slots) {
    if (s.kind != Folder::SlotKind::Entry) continue;
    const ModelEntry& e = entries_[s.entry];
    count += e.IsDir ? FolderClusterCount(e.Path) : SizeFieldsFor(e.Size, spec_.SectorsPerCluster).ClusterCount;
  }
  return count;
}

namespace {

void PutDate(uint8_t* slot, const Date& d) {
  PutBE16(slot + 1, MjdOf(d.Year, d.Month, d.Day));
  slot[3] = static_cast<uint8_t>(d.Hour);
  slot[4] = static_cast<uint8_t>(d.Minute);
  slot[5] = static_cast<uint8_t>(d.Second);
}

void PutName(uint8_t* slot, const std::string& name) {
  std::memcpy(slot + 20, name.data(), std::min<size_t>(name.size(), 99));
}

}  // namespace

void DiskImage::WriteEntry(uint8_t* slot, const ModelEntry& e) const {
  std::memset(slot, 0, kSlotBytes);
  slot[0] = e.Attribute;
  PutDate(slot, e.When);
  PutName(slot, e.Name);
  if (e.IsDir) {
    PutBE32(slot + 8, e.Chain[0]);
    PutBE32(slot + 12, FolderClusterCount(e.Path));
    return;
  }
  const SizeFields f = SizeFieldsFor(e.Size, spec_.SectorsPerCluster);
  PutBE32(slot + 8, e.Chain.empty() ? e.File.StartIndex : e.Chain[0]);
  PutBE32(slot + 12, f.ClusterCount);
  PutBE32(slot + 16, f.FreeBytes);
  slot[120] = e.File.CryptFlags;
  slot[121] = e.File.CryptValue;
  slot[123] = e.File.SkipByte;
  slot[125] = f.CheckByte;
  PutBE16(slot + 126, f.LastSectorBytes);
}

void DiskImage::FillDirectoryView(const std::string& path, std::vector<uint8_t>& view) const {
  const Folder& folder = *folders_.at(path);
  view.assign(ClusterBytes(), 0xFF);
  int highest = 0;
  for (const auto& [slot, s] : folder.slots)
    if (s.kind != Folder::SlotKind::Erased) highest = std::max(highest, slot);
  const uint32_t freeBytes = static_cast<uint32_t>(ClusterBytes() - kSlotBytes * (highest + 1));
  for (const auto& [slot, s] : folder.slots) {
    uint8_t* p = view.data() + kSlotBytes * slot;
    switch (s.kind) {
      case Folder::SlotKind::Erased: break;
      case Folder::SlotKind::Entry: WriteEntry(p, entries_[s.entry]); break;
      case Folder::SlotKind::Self:
        std::memset(p, 0, kSlotBytes);
        p[0] = kAttrSelf;
        PutDate(p, folder.when);
        PutBE32(p + 8, folder.index);
        PutBE32(p + 12, 1);
        PutBE32(p + 16, freeBytes);
        PutName(p, path == "\\" ? "__ROOT__" : ".");
        break;
      case Folder::SlotKind::Parent: {
        std::memset(p, 0, kSlotBytes);
        p[0] = kAttrParent;
        PutDate(p, folder.when);
        PutBE32(p + 8, folder.parentIndex);
        PutBE32(p + 12, 1);
        // The parent's "." free-byte count as it stands now.
        const Folder& parent = *folders_.at(path.rfind('\\') == 0 ? "\\" : path.substr(0, path.rfind('\\')));
        int top = 0;
        for (const auto& [ps, pk] : parent.slots)
          if (pk.kind != Folder::SlotKind::Erased) top = std::max(top, ps);
        PutBE32(p + 16, static_cast<uint32_t>(ClusterBytes() - kSlotBytes * (top + 1)));
        PutName(p, "..");
        break;
      }
    }
  }
}

std::vector<uint8_t> DiskImage::FolderClusterView(const std::string& path) const {
  const std::string p = Normalise(path);
  if (!folders_.count(p)) Fail("no folder " + path);
  std::vector<uint8_t> view;
  FillDirectoryView(p, view);
  return view;
}

std::vector<uint8_t> DiskImage::SystemClusterView() const {
  std::vector<uint8_t> v(ClusterBytes(), 0);
  uint8_t* sb = v.data();
  PutBE32(sb + kSbMagic, kMagicNumber);
  std::memcpy(sb + kSbIdString, spec_.IdString.data(), std::min<size_t>(spec_.IdString.size(), 27));
  sb[kSbVersionMajor] = spec_.VersionMajor;
  sb[kSbVersionMinor] = spec_.VersionMinor;
  PutBE16(sb + kSbSectorsPerCluster, static_cast<uint16_t>(spec_.SectorsPerCluster));
  PutBE32(sb + kSbUsedClusters, UsedClusters());

  std::vector<uint8_t> root;
  FillDirectoryView("\\", root);
  PutBE32(sb + kSbRootFreeBytes, GetBE32(root.data() + 16));
  std::memcpy(v.data() + kRootDirectoryCopy, root.data(), 4 * kSlotBytes);

  for (uint32_t i = 0; i < kFatEntries; ++i) {
    const uint32_t value = spec_.ZeroFatTails && int64_t(i) > lastCluster_ ? 0 : fat_[i];
    PutBE24(v.data() + kFat1Offset + 3 * i, value);
    PutBE24(v.data() + kFat2Offset + 3 * i, value);
  }
  const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(lastCluster_, kFatEntries - 1));
  const uint32_t crc = Crc32Mpeg2(v.data() + kFat1Offset, FatCrcLength(n));
  PutBE32(sb + kSbFatCrc, crc);
  std::memcpy(v.data() + kBackupSuperblock, sb, 512);
  if (spec_.BackupCrc) {
    PutBE32(v.data() + ClusterBytes() - 8, kBackupCrcMarker);
    PutBE32(v.data() + ClusterBytes() - 4, *spec_.BackupCrc);
  }
  return v;
}

std::vector<uint32_t> DiskImage::FolderWalkOrder() const {
  std::vector<uint32_t> order;
  std::deque<std::string> queue{"\\"};
  while (!queue.empty()) {
    const Folder& f = *folders_.at(queue.front());
    queue.pop_front();
    order.push_back(f.index);
    for (const auto& [slot, s] : f.slots)
      if (s.kind == Folder::SlotKind::Entry && entries_[s.entry].IsDir) queue.push_back(entries_[s.entry].Path);
  }
  return order;
}

void DiskImage::WriteFileData(int fd, const ModelEntry& e) const {
  const uint64_t cb = ClusterBytes();
  std::vector<uint8_t> buffer(cb);
  for (size_t k = 0; k < e.Chain.size(); ++k) {
    std::string bytes = FileBytes(e.Path, k * cb, cb);
    std::fill(buffer.begin(), buffer.end(), 0);
    std::memcpy(buffer.data(), bytes.data(), bytes.size());
    SwapWords(buffer.data(), cb);
    PwriteAll(fd, buffer.data(), cb, (uint64_t(e.Chain[k]) + 1) * cb, e.Path);
  }
}

void DiskImage::Write(const std::string& path) const {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot create " + path + ": " + std::strerror(errno));
  try {
    if (ftruncate(fd, static_cast<off_t>(sizeBytes_)) != 0) Fail("cannot size " + path);
    std::vector<uint8_t> v = SystemClusterView();
    SwapWords(v.data(), v.size());
    PwriteAll(fd, v.data(), v.size(), 0, path);
    for (const auto& [key, folder] : folders_) {
      FillDirectoryView(key, v);
      SwapWords(v.data(), v.size());
      PwriteAll(fd, v.data(), v.size(), (uint64_t(folder->index) + 1) * ClusterBytes(), path);
    }
    for (const ModelEntry& e : entries_)
      if (!e.IsDir) WriteFileData(fd, e);
  } catch (...) {
    close(fd);
    throw;
  }
  close(fd);
}

void DiskImage::WriteDump(const std::string& basePath) const {
  WriteDump(basePath, double(cylinders_), 255, 63);
}

void DiskImage::WriteDump(const std::string& basePath, double cylinders, int32_t tracks,
                          int32_t sectors) const {
  const std::vector<uint8_t> view = SystemClusterView();
  std::string scc(reinterpret_cast<const char*>(view.data()), view.size());
  uint8_t trailer[16];
  std::memcpy(trailer, &cylinders, 8);      // the PC's own (little-endian) order
  std::memcpy(trailer + 8, &tracks, 4);
  std::memcpy(trailer + 12, &sectors, 4);
  scc.append(reinterpret_cast<const char*>(trailer), 16);
  WriteWholeFile(basePath + ".scc", scc);

  std::string scd;
  std::map<uint32_t, std::string> byIndex;
  for (const auto& [key, folder] : folders_) byIndex[folder->index] = key;
  std::vector<uint8_t> v;
  for (uint32_t index : FolderWalkOrder()) {
    FillDirectoryView(byIndex.at(index), v);
    const int32_t i = static_cast<int32_t>(index);
    scd.append(reinterpret_cast<const char*>(&i), 4);
    scd.append(reinterpret_cast<const char*>(v.data()), v.size());
  }
  WriteWholeFile(basePath + ".scd", scd);
}

}  // namespace imagebuilder
