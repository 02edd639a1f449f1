// Disk-image builder for the tests: writes sparse image files of a recorder
// disk (and system-cluster dumps) from its own tables and code, without any
// help from core/, so that a mistake in the format cannot cancel out between
// the writer under test and the reader under test.
//
// The model: folders and files by recorder path ("\DataFiles\Sub\film.rec"),
// each file on a FAT chain (contiguous, fragmented or chosen automatically),
// with content made of given bytes, a byte pattern, zeros or the committed
// transport stream tests/data/sample.ts repeated, and optionally a 1656-byte
// recording header in front. `Write` lays the model out on an image file;
// `ImageFile` then gives raw access, so a test can read any field back or
// damage it on purpose.
//
// Offsets called "view" are those of the format description (every 32-bit
// word in the order the programs work with); "raw" offsets and bytes are what
// the image file holds (each aligned 32-bit word byte-reversed).
//
// All functions throw std::runtime_error on misuse (a path whose folder does
// not exist, a chain index already taken, an I/O failure): tests want to stop
// at the first mistake in their own set-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace imagebuilder {

// ------------------------------------------------------------ format constants

constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kFatEntries = 0x20000;          // FAT indexes 0 .. 0x1FFFF
constexpr uint32_t kFat1Offset = 0x20000;
constexpr uint32_t kFat2Offset = 0x80000;
constexpr uint32_t kSlotBytes = 128;
constexpr uint32_t kRecHeaderBytes = 1656;
constexpr uint32_t kMagicNumber = 0x07082607;
constexpr uint32_t kBackupCrcMarker = 0x46697265;  // "Fire"
constexpr uint32_t kSectorsPerCylinder = 16065;    // 255 x 63

constexpr uint32_t kFatFree = 0xFFFFFF;
constexpr uint32_t kFatEnd = 0xFFFFFE;

constexpr uint8_t kAttrFile = 0xD0;
constexpr uint8_t kAttrRecording = 0xD1;
constexpr uint8_t kAttrParent = 0xF0;
constexpr uint8_t kAttrSelf = 0xF1;
constexpr uint8_t kAttrDirectory = 0xF2;
constexpr uint8_t kAttrRecycle = 0xF3;
constexpr uint8_t kAttrUnused = 0xFF;

// Superblock field offsets (view, sector 0; the backup superblock at + 512).
constexpr uint32_t kSbMagic = 0;
constexpr uint32_t kSbIdString = 4;
constexpr uint32_t kSbVersionMajor = 32;
constexpr uint32_t kSbVersionMinor = 33;
constexpr uint32_t kSbSectorsPerCluster = 34;
constexpr uint32_t kSbParameterArea = 36;
constexpr uint32_t kSbUsedClusters = 40;
constexpr uint32_t kSbRootFreeBytes = 44;
constexpr uint32_t kSbFatCrc = 48;
constexpr uint32_t kBackupSuperblock = 512;
constexpr uint32_t kRootDirectoryCopy = 1024;

// ------------------------------------------------------ independent helpers

// CRC-32/MPEG-2 (poly 0x04C11DB7, init 0xFFFFFFFF, not reflected, no xor out).
uint32_t Crc32Mpeg2(const uint8_t* data, size_t length);
// Bytes the FAT CRC covers for n FAT entries: Ceil(3n / 512) x 512.
uint32_t FatCrcLength(uint32_t n);
// Reverses the bytes of every aligned 32-bit word (length a multiple of 4).
void SwapWords(uint8_t* data, size_t length);

// Big-endian field access in a view buffer.
uint32_t GetBE32(const uint8_t* p);
uint32_t GetBE24(const uint8_t* p);
uint16_t GetBE16(const uint8_t* p);
void PutBE32(uint8_t* p, uint32_t v);
void PutBE24(uint8_t* p, uint32_t v);
void PutBE16(uint8_t* p, uint16_t v);

// The four size fields of a file entry, derived from its size.
struct SizeFields {
  uint32_t ClusterCount = 0;
  uint32_t FreeBytes = 0;
  uint16_t LastSectorBytes = 0;
  uint8_t CheckByte = 0;   // (low byte + high byte of LastSectorBytes + 1) mod 256
};
SizeFields SizeFieldsFor(uint64_t size, uint32_t sectorsPerCluster);
// The size a reader computes back from the entry fields.
uint64_t SizeFromFields(uint32_t clusterCount, uint32_t freeBytes,
                        uint16_t lastSectorBytes, uint32_t sectorsPerCluster);

// A date as stored in a directory entry (local time, no time zone).
struct Date {
  int Year = 2005, Month = 6, Day = 15, Hour = 20, Minute = 15, Second = 0;
};
// Modified Julian Date of a calendar day, low 16 bits (1 Jan 2000 -> 51544).
uint16_t MjdOf(int year, int month, int day);
// The programs' date value: days since 30 December 1899 + time of day.
double DateValueOf(const Date& date);

// Disk geometry as the platform reports it for an image of `bytes` bytes.
int64_t CylindersOf(uint64_t bytes);
// LastCluster as the loader computes it: round-half-even(cyl x 16065 / spc) - 1.
int64_t LastClusterOf(uint64_t bytes, uint32_t sectorsPerCluster);

// --------------------------------------------------------------- the model

struct ImageSpec {
  uint32_t SectorsPerCluster = 2068;
  // The highest FAT index wanted. When SizeBytes is 0 the image gets the
  // smallest whole number of cylinders whose LastCluster is at least this, so
  // the actual value (`DiskImage::LastCluster()`) may be a little larger.
  uint32_t LastCluster = 1000;
  // Image size in bytes; 0 = from LastCluster as above (the file is then made
  // long enough to hold disk cluster LastCluster + 1). When given, LastCluster
  // follows from it by the loader's rounding rule and the file has exactly
  // this length.
  uint64_t SizeBytes = 0;
  std::string IdString = "TOPFIELD TF5000PVR HDD";
  uint8_t VersionMajor = 1;
  uint8_t VersionMinor = 0;
  // Root slots 1..3: "__RECYCLE__" (FAT 1), "DataFiles" (FAT 2),
  // "ProgramFiles" (FAT 3). Without them the root holds only "__ROOT__".
  bool StandardFolders = true;
  // Write the "Fire" trailer with this backup CRC (none when empty).
  std::optional<uint32_t> BackupCrc;
  // FAT entries past LastCluster (both FATs) hold zeros, as the
  // check-and-repair program leaves them, instead of free entries (0xFFFFFF).
  bool ZeroFatTails = false;
};

// Content of a file after its optional recording header.
struct Content {
  enum class Kind { Pattern, Zeros, Bytes, SampleTs };
  Kind kind = Kind::Pattern;
  uint32_t Seed = 1;          // Pattern: see PatternByte
  std::string Bytes;          // Bytes: repeated to fill the size
  std::string SampleTsPath;   // SampleTs: "" = the committed tests/data/sample.ts

  static Content Pattern(uint32_t seed) { Content c; c.kind = Kind::Pattern; c.Seed = seed; return c; }
  static Content Zeros() { Content c; c.kind = Kind::Zeros; return c; }
  static Content Of(std::string bytes) { Content c; c.kind = Kind::Bytes; c.Bytes = std::move(bytes); return c; }
  static Content SampleTs(std::string path = "") { Content c; c.kind = Kind::SampleTs; c.SampleTsPath = std::move(path); return c; }
};
// Byte o of a Pattern content (cheap, position dependent, not periodic within
// a cluster): a test can check any range of a copy without keeping it.
uint8_t PatternByte(uint32_t seed, uint64_t offset);

// Fields of the 1656-byte recording header ("TFrc").
struct RecHeader {
  uint16_t DurationMinutes = 1;
  uint8_t ServiceType = 0;            // 0 television, 1 radio
  uint16_t ServiceId = 42;
  uint16_t PmtPid = 0x1000;
  uint16_t PcrPid = 0x100;
  uint16_t VideoPid = 0x100;
  uint16_t AudioPid = 0x101;
  std::string ServiceName = "Test Channel";  // at most 23 characters kept
  std::string EventName;                     // stored after a 0x05 byte
  std::string EventText;                     // extended text, CR -> 0x8D, LF -> 0x8A
  uint8_t CryptValue = 2;                    // byte 1396
};
// The 1656 header bytes for the fields above.
std::string RecHeaderBytes(const RecHeader& header);

struct FileSpec {
  std::string Path;                   // "\DataFiles\film.rec" (Windows-1252 bytes)
  uint8_t Attribute = 0;              // 0: 0xD1 for ".rec" names, else 0xD0
  Date When;
  // Size of the whole file in bytes, header included. Unset: the header plus
  // the content's natural length (Bytes: its length; SampleTs: the stream
  // file x SampleTsRepeat; Pattern and Zeros need a size).
  std::optional<uint64_t> Size;
  Content Data;
  uint32_t SampleTsRepeat = 1;
  std::optional<RecHeader> Header;    // set: the file begins with the header
  // Placement: an explicit chain (fragmented files), or a contiguous run at
  // StartIndex, or (neither) the lowest free FAT indexes, contiguous when a
  // run is free.
  std::vector<uint32_t> Chain;
  uint32_t StartIndex = 0;
  int Slot = -1;                      // slot in the folder; -1 = next free
  uint8_t CryptFlags = 0;             // entry byte 120 (4: byte 121 valid)
  uint8_t CryptValue = 0;             // entry byte 121
  uint8_t SkipByte = 0;               // entry byte 123
};

struct FolderSpec {
  std::string Path;                   // "\DataFiles\Films"
  Date When;
  uint32_t Index = 0;                 // FAT index of its cluster; 0 = lowest free
  int Slot = -1;
  uint8_t Attribute = kAttrDirectory;
};

// One entry as the model holds it after placement.
struct ModelEntry {
  std::string Path;
  std::string Name;                   // last component
  std::string Parent;                 // folder path ("\" for the root)
  bool IsDir = false;
  uint8_t Attribute = 0;
  Date When;
  uint64_t Size = 0;                  // files: bytes; folders: 0
  std::vector<uint32_t> Chain;        // FAT indexes in order (folders: one)
  int Slot = 0;
  FileSpec File;                      // files: the description as given
};

class DiskImage {
 public:
  explicit DiskImage(const ImageSpec& spec = {});
  // Copies are independent models.
  DiskImage(const DiskImage& other);
  DiskImage& operator=(const DiskImage& other);
  DiskImage(DiskImage&&) = default;
  DiskImage& operator=(DiskImage&&) = default;
  ~DiskImage();

  uint32_t SectorsPerCluster() const { return spec_.SectorsPerCluster; }
  uint64_t ClusterBytes() const { return uint64_t(spec_.SectorsPerCluster) * kSectorBytes; }
  // The LastCluster the loader will compute for this image (may exceed 0x1FFFF
  // when SizeBytes was given large).
  int64_t LastCluster() const { return lastCluster_; }
  uint64_t SizeBytes() const { return sizeBytes_; }

  // Adds a folder (its parent must exist); returns its FAT index.
  uint32_t AddFolder(const FolderSpec& folder);
  uint32_t AddFolder(const std::string& path) { FolderSpec f; f.Path = path; return AddFolder(f); }
  uint32_t AddFolder(const std::string& path, uint32_t index) {
    FolderSpec f;
    f.Path = path;
    f.Index = index;
    return AddFolder(f);
  }
  // Adds a file (its folder must exist); returns its chain.
  std::vector<uint32_t> AddFile(const FileSpec& file);
  // Reserves a slot of a folder as erased (all 0xFF). Like any unused slot it
  // does not count for the "." free-byte count; one between used slots is
  // inside the range readers visit. Slot -1 = next free.
  void AddErasedSlot(const std::string& folder, int slot = -1);
  // Marks FAT indexes as used by nobody (a lost chain in the FAT only).
  void AddLostChain(const std::vector<uint32_t>& chain);

  const ModelEntry& Entry(const std::string& path) const;   // throws when missing
  bool Has(const std::string& path) const;
  std::vector<std::string> Paths() const;                   // in insertion order
  uint32_t FolderIndex(const std::string& path) const;      // "\" -> 0
  // The bytes a file holds, [offset, offset + length) clipped to its size.
  std::string FileBytes(const std::string& path, uint64_t offset = 0,
                        uint64_t length = UINT64_MAX) const;
  // FAT entry value as written (0xFFFFFF free, 0xFFFFFE end, next index).
  uint32_t FatValue(uint32_t index) const;
  uint32_t UsedClusters() const;
  bool IndexUsed(uint32_t index) const;

  // Writes the image (sparse: ftruncate to the size, then only the system
  // cluster, the directory clusters and the file data clusters).
  void Write(const std::string& path) const;
  // Writes the dump pair base + ".scc" and base + ".scd" of the same model,
  // with the geometry of the image (or the given one).
  void WriteDump(const std::string& basePath) const;
  void WriteDump(const std::string& basePath, double cylinders,
                 int32_t tracksPerCylinder, int32_t sectorsPerTrack) const;

  // The view of disk cluster 0 / of the directory cluster of a folder, as
  // Write lays them out (useful for comparisons).
  std::vector<uint8_t> SystemClusterView() const;
  std::vector<uint8_t> FolderClusterView(const std::string& path) const;
  // Folder FAT indexes in the breadth-first order a directory walk visits them.
  std::vector<uint32_t> FolderWalkOrder() const;

 private:
  struct Folder;
  uint32_t AllocateFolderIndex(uint32_t wanted);
  std::vector<uint32_t> AllocateChain(uint32_t clusters, uint32_t start,
                                      const std::vector<uint32_t>& given);
  void Claim(uint32_t index, const std::string& owner);
  int TakeSlot(Folder& folder, int wanted, const std::string& owner);
  uint32_t FolderClusterCount(const std::string& path) const;
  void FillDirectoryView(const std::string& path, std::vector<uint8_t>& view) const;
  void WriteEntry(uint8_t* slot, const ModelEntry& e) const;
  void WriteFileData(int fd, const ModelEntry& e) const;

  ImageSpec spec_;
  int64_t lastCluster_ = 0;
  uint64_t sizeBytes_ = 0;
  int64_t cylinders_ = 0;
  std::vector<ModelEntry> entries_;
  std::map<std::string, size_t> byPath_;   // path (exact bytes) -> entries_ index
  std::map<std::string, std::shared_ptr<Folder>> folders_;   // path, root "\\"
  std::vector<uint32_t> fat_;              // kFatEntries values
  std::vector<std::string> owner_;         // who holds each FAT index
  mutable std::map<std::string, std::string> sampleCache_;
};

// ------------------------------------------------------- raw image access

// Opens an existing image file (read/write) for inspection and damage.
class ImageFile {
 public:
  explicit ImageFile(const std::string& path, uint32_t sectorsPerCluster = 0);
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // 0 on construction = taken from the superblock.
  uint32_t SectorsPerCluster() const { return spc_; }
  uint64_t ClusterBytes() const { return uint64_t(spc_) * kSectorBytes; }
  uint64_t Size() const;

  std::vector<uint8_t> ReadRaw(uint64_t offset, size_t length) const;
  void WriteRaw(uint64_t offset, const std::vector<uint8_t>& bytes);
  // View bytes at any image offset (word order taken care of).
  std::vector<uint8_t> ReadView(uint64_t offset, size_t length) const;
  void WriteView(uint64_t offset, const std::vector<uint8_t>& bytes);

  // Whole disk clusters (disk cluster = FAT index + 1), view or raw.
  std::vector<uint8_t> ReadClusterView(uint32_t diskCluster) const;
  void WriteClusterView(uint32_t diskCluster, const std::vector<uint8_t>& view);
  std::vector<uint8_t> ReadClusterRaw(uint32_t diskCluster) const;
  void WriteClusterRaw(uint32_t diskCluster, const std::vector<uint8_t>& raw);

  // FAT entries (1 = FAT1, 2 = FAT2). Setting does not touch the CRC.
  uint32_t FatEntry(uint32_t index, int fat = 1) const;
  void SetFatEntry(uint32_t index, uint32_t value, bool fat1 = true, bool fat2 = true);

  // Superblock fields (view); backup = the copy at + 512.
  uint32_t SuperU32(uint32_t offset, bool backup = false) const;
  uint16_t SuperU16(uint32_t offset, bool backup = false) const;
  void SetSuperU32(uint32_t offset, uint32_t value, bool main = true, bool backup = true);
  void SetSuperU16(uint32_t offset, uint16_t value, bool main = true, bool backup = true);
  std::string IdString(bool backup = false) const;    // up to the zero byte

  // CRC over the FAT1 area for n entries as it is on the image now.
  uint32_t ComputeFatCrc(uint32_t n) const;
  // Recomputes it and stores it in both superblocks; returns it.
  uint32_t RecomputeFatCrc(uint32_t n);

  // Slot `slot` of the directory cluster of FAT index `fatIndex` (view).
  std::vector<uint8_t> ReadSlot(uint32_t fatIndex, int slot) const;
  void WriteSlot(uint32_t fatIndex, int slot, const std::vector<uint8_t>& bytes);

 private:
  int fd_ = -1;
  uint32_t spc_ = 0;
};

// A directory entry decoded from 128 view bytes.
struct DecodedEntry {
  uint8_t Attribute = 0;
  uint16_t Mjd = 0;
  uint8_t Hour = 0, Minute = 0, Second = 0;
  uint32_t StartCluster = 0;
  uint32_t ClusterCount = 0;
  uint32_t FreeBytes = 0;
  std::string Name;                   // bytes up to the first zero
  uint8_t CryptFlags = 0, CryptValue = 0, SkipByte = 0, CheckByte = 0;
  uint16_t LastSectorBytes = 0;
};
DecodedEntry DecodeEntry(const uint8_t* slot);
// Every slot of a directory cluster view that is in use (attribute not 0xFF),
// with its slot number, within the "." entry's used range (or all slots).
std::vector<std::pair<int, DecodedEntry>> DecodeDirectory(const std::vector<uint8_t>& view,
                                                          bool honourFreeBytes = true);

// -------------------------------------------------------------- test helpers

// A fresh folder under the system's temporary folder, removed with everything
// in it (symbolic links not followed) when the object goes.
// Removes a file or link, or a folder with everything in it; a symbolic
// link is removed itself, never followed.
void RemoveTree(const std::string& path);

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "quenbrix");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }            // no trailing "/"
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadWholeFile(const std::string& path);            // throws when unreadable
void WriteWholeFile(const std::string& path, const std::string& bytes);
// tests/data/<name> in the source tree.
std::string TestDataPath(const std::string& name);

// For the tools that write disk images into a folder the user names: true
// (and a line on stderr, "<tool>: ...") when `path` already exists in any
// form - a file, a link to a device, even a dangling link - or cannot be
// looked at; the tool must then leave it alone and write nothing.
bool RefuseExistingDisk(const std::string& tool, const std::string& path);

}  // namespace imagebuilder
