#include "checker/disk_layer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "checker/checker_state.h"
#include "core/disk_format.h"
#include "core/disk_init.h"
#include "core/dump_files.h"
#include "core/disk_io.h"
#include "core/disk_probe.h"
#include "core/error_handler.h"
#include "core/number_format.h"
#include "library/loader.h"
#include "platform/platform.h"

namespace checker {

bool FileMode = false;
std::string DiskName;
int32_t DiskHandle = 0;
int32_t SectorsPerCluster = 0;
int32_t LastCluster = 0;
int32_t CheckedPastLast = 0;
// The highest FAT index whose cluster lies wholly on the device.
int32_t lastDataIndex = -1;
std::vector<uint8_t> ClusterBuffer;
std::array<uint8_t, 512> SectorBuffer{};
std::vector<int64_t> ScdIndex(core::kFatEntries, 0);
int32_t SpcFromSize = -1;
int32_t SpcFromSuperblock = -1;
int32_t SpcFromBackup = -1;
int32_t SpcFromDirScan = -1;
// How many "." slots the directory scan found at the start of a cluster of
// SpcFromDirScan sectors.
int32_t DirScanAgreeing = 0;
// The two cluster-size words of the superblock and its backup as read
// (signed; SpcFromSuperblock and SpcFromBackup keep only values up to 6000).
int32_t SuperblockWord = -1;
int32_t BackupWord = -1;
// The words among these two at whose cluster 1 the root lies (its first
// sector equals the copy that cluster 0 keeps); -1 for none.
std::array<int32_t, 2> RootFoundAt = {-1, -1};
// What the disk's own content says of its cluster size (disk mode).
core::ClusterSizeEvidence Evidence;
std::string ClusterSizeDoubt;
std::string ForeignContent;
std::string SessionPrefix;
double DumpCylinders = 0;
int32_t DumpTracksPerCylinder = 0;
int32_t DumpSectorsPerTrack = 0;

namespace {

// The disk cluster whose read into ClusterBuffer failed last (-1: the last
// read succeeded, or the buffer was filled from elsewhere). Its zeroed
// buffer stands for nothing and must not be written over that cluster.
int32_t failedReadCluster = -1;

std::array<uint8_t, 512> probeBuffer{};

// The files that hold this run's undo copies, by disk cluster: the content
// before its first write, and that of its last write.
std::map<std::string, std::string> originalCopies, fixedCopies;   // by the name each was meant to have
// The user's answer to the question before writing to a disk that is no
// recorder's: unset until asked.
std::optional<bool> foreignWritesAllowed;

// Why the run writes nothing more (a before-image that could not be saved);
// empty while it may write.
std::string writesStopped;

// ---- the dump files ----

std::string SccFile() { return core::SccFileOf(DiskName); }
std::string ScdFile() { return core::ScdFileOf(DiskName); }

// The undo copies. A copy is a new file at its name, or at the next free
// one when that is taken ("..._2.bin"): nothing someone placed at the name
// (a file, a link) is ever written through or taken as the copy. It is
// written whole, flushed and its length checked; on any failure nothing is
// left of it and `error` says why. `path` gets the name used.
bool SaveNewCopy(std::string& path, const std::vector<uint8_t>& data, int& error) {
  const bool ok = platform::PcFileWriteFree(path, data.data(), data.size());
  error = ok ? 0 : platform::LastError();
  return ok;
}

// The folder a copy was to go to, and why it could not.
std::string CopyFolder(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::absolute(std::filesystem::path(path), ignored).parent_path().string();
}
std::string WhyNotSaved(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return "there is no room left";
    case EACCES:
    case EPERM:
    case EROFS: return "there is no permission to write there";
    default: return std::strerror(error ? error : EIO);
  }
}

// Keeps this run's copy of disk cluster c as it is now (ClusterBuffer must
// hold it). False, after saying so, when it cannot be saved: the run then
// writes nothing more.
bool KeepOriginal(int32_t c) {
  const std::string name = OriginalClusterFile(c);
  std::string path = name;
  int error = 0;
  if (SaveNewCopy(path, ClusterBuffer, error)) {
    originalCopies[name] = path;
    return true;
  }
  std::string what = ClusterText(c);
  what[0] = char(std::toupper(static_cast<unsigned char>(what[0])));
  writesStopped = what + " was not written: its content could not be saved in '" +
                  CopyFolder(path) + "' first (" + WhyNotSaved(error) +
                  "). Nothing more is written to the disk in this run";
  Addinfo(kError, writesStopped);
  return false;
}

// Keeps the content of the write of disk cluster c (ClusterBuffer); a copy
// that cannot be saved is reported, the write goes on.
void KeepFixed(int32_t c) {
  const std::string name = FixedClusterFile(c);
  auto it = fixedCopies.find(name);
  std::string path = it != fixedCopies.end() ? it->second : name;
  int error = 0;
  bool saved;
  if (it != fixedCopies.end()) {
    saved = platform::PcFileReplace(path, ClusterBuffer.data(), ClusterBuffer.size());
    if (!saved) error = platform::LastError();
  } else {
    saved = SaveNewCopy(path, ClusterBuffer, error);
    if (saved) fixedCopies[name] = path;
  }
  if (!saved)
    Addinfo(kError, "The copy of what is written to " + ClusterText(c) + " could not be saved in '" + CopyFolder(path) +
                        "' (" + WhyNotSaved(error) + ")");
}

size_t ClusterBytes() { return size_t(SectorsPerCluster > 0 ? SectorsPerCluster : 0) * core::kSectorSize; }

void SizeBuffer() {
  if (ClusterBuffer.size() != ClusterBytes()) ClusterBuffer.assign(ClusterBytes(), 0);
}

void ZeroBuffer() { std::fill(ClusterBuffer.begin(), ClusterBuffer.end(), uint8_t(0)); }

bool ValidClusterSize(int64_t spc) { return spc >= 1 && spc <= core::kMaxSectorsPerCluster; }

// Reads disk cluster c of the drive into `buffer` (view order); false when
// it cannot be read.
bool ReadDiskCluster(int32_t c, std::vector<uint8_t>& buffer) {
  const uint64_t first = uint64_t(c) * uint64_t(SectorsPerCluster);
  if (first > UINT32_MAX) return false;
  if (core::ReadSectors(DiskHandle, uint32_t(first), SectorsPerCluster, buffer.data()) == 0)
    return false;
  qlib::TopfSwapDWORD(buffer.data(), SectorsPerCluster);
  return true;
}

}  // namespace

void ResetDiskState() {
  if (DiskHandle >= 1) CloseDisk(DiskHandle);
  FileMode = false;
  DiskName.clear();
  DiskHandle = 0;
  SectorsPerCluster = 0;
  LastCluster = 0;
  CheckedPastLast = 0;
  lastDataIndex = -1;
  ClusterBuffer.clear();
  SectorBuffer.fill(0);
  ScdIndex.assign(core::kFatEntries, 0);
  SpcFromSize = SpcFromSuperblock = SpcFromBackup = SpcFromDirScan = -1;
  DirScanAgreeing = 0;
  SuperblockWord = BackupWord = -1;
  RootFoundAt = {-1, -1};
  Evidence = {};
  ClusterSizeDoubt.clear();
  ForeignContent.clear();
  foreignWritesAllowed.reset();
  SessionPrefix.clear();
  DumpCylinders = 0;
  DumpTracksPerCylinder = DumpSectorsPerTrack = 0;
  failedReadCluster = -1;
  originalCopies.clear();
  fixedCopies.clear();
  writesStopped.clear();
}

void MarkClusterBufferLoaded() { failedReadCluster = -1; }

void IndexDumpRecords() {
  // A missing or unreadable ".scd" file leaves the records it could not
  // show unindexed: they read as not in the dump.
  core::IndexDumpRecords(ScdFile(), SectorsPerCluster, ScdIndex);
}

std::string ClusterFileStem(int32_t fatIndex) {
  char text[32];
  const int64_t n = fatIndex;
  if (n < 0)
    std::snprintf(text, sizeof text, "Cluster_-%06lld", static_cast<long long>(-n));
  else
    std::snprintf(text, sizeof text, "Cluster_%06lld", static_cast<long long>(n));
  return text;
}

std::string ClusterText(int32_t diskCluster) {
  return diskCluster == 0 ? std::string("the system cluster") : "cluster " + std::to_string(int64_t(diskCluster) - 1);
}

std::string OriginalClusterFile(int32_t diskCluster) {
  return SessionPrefix + ClusterFileStem(diskCluster - 1) + "_Original.bin";
}

std::string FixedClusterFile(int32_t diskCluster) {
  return SessionPrefix + ClusterFileStem(diskCluster - 1) + "_Fixed.bin";
}

std::string MakeSessionPrefix() {
  const std::tm now = core::LocalNow();
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d %02d%02d - ", now.tm_year + 1900, now.tm_mon + 1,
                now.tm_mday, now.tm_hour, now.tm_min);
  return text;
}

int32_t OpenDisk(const std::string& name, bool readWrite) {
  core::ProcScope scope("OpenDisk");
  int32_t handle = core::OpenDisk(name, readWrite);
  return handle >= 1 ? handle : -1;
}

void CloseDisk(int32_t handle) {
  core::ProcScope scope("CloseDisk");
  if (handle >= 1) core::CloseDisk(handle);
}

void DiskGeometry(int32_t handle, double& Cylinders, int32_t& TracksPerCylinder,
                  int32_t& SectorsPerTrack, int32_t& BytesPerSector) {
  core::ProcScope scope("DiskGeometry");
  if (FileMode)
    core::FileModeGeometry(SccFile(), Cylinders, TracksPerCylinder, SectorsPerTrack, BytesPerSector);
  else
    core::HandleGeometry(handle, Cylinders, TracksPerCylinder, SectorsPerTrack, BytesPerSector);
}

void CheckHDConnection() {
  core::ProcScope scope("CheckHDConnection");
  if (core::ReadSectors(DiskHandle, 0, 1, probeBuffer.data()) != 0) return;
  core::EmergencyStop("Quenbrix has lost the link to the hard drive! Terminating now!",
                      ui::Icon::Critical);
}

void ReadTopfSector(int32_t n) {
  core::ProcScope scope("ReadTopfSector");
  if (FileMode) {
    SectorBuffer.fill(0);
    if (n == 0) {
      core::ReadDumpFileAt(SccFile(), 0, SectorBuffer.data(), SectorBuffer.size());
    } else if (n > 0 && n < core::kFatEntries && ScdIndex[size_t(n)] != 0) {
      if (core::ReadDumpFileAt(ScdFile(), core::DumpRecordDataOffset(ScdIndex[size_t(n)]), SectorBuffer.data(),
                               SectorBuffer.size()) != SectorBuffer.size())
        SectorBuffer.fill(0);
    }
    return;
  }
  const int64_t first = int64_t(n) * int64_t(SectorsPerCluster);
  if (n >= 0 && first <= int64_t(UINT32_MAX) &&
      core::ReadSectors(DiskHandle, uint32_t(first), 1, SectorBuffer.data()) != 0) {
    qlib::TopfSwapDWORD(SectorBuffer.data(), 1);
    return;
  }
  CheckHDConnection();
  SectorBuffer.fill(0);
}

bool IndexOnDisk(int32_t fatIndex) {
  if (fatIndex < 0 || fatIndex >= core::kFatEntries || fatIndex > LastCluster) return false;
  // An index whose cluster the device's end cuts holds no data.
  return fatIndex <= LastDataIndex();
}

int32_t LastDataIndex() { return FileMode ? LastCluster : lastDataIndex; }

namespace {
// Disk mode: disk cluster c may be read or written: the system cluster, or
// the cluster of a data index (never one the device's end cuts).
bool OnDevice(int32_t c) { return c == 0 ? LastCluster >= 0 : c >= 1 && IndexOnDisk(c - 1); }
}  // namespace

bool ReadTopfCluster(int32_t c) {
  core::ProcScope scope("ReadTopfCluster");
  SizeBuffer();
  bool ok = false;
  if (FileMode) {
    if (c == 0) {
      ok = core::ReadDumpFileAt(SccFile(), 0, ClusterBuffer.data(), ClusterBuffer.size()) ==
           ClusterBuffer.size();
    } else if (c > 0 && c < core::kFatEntries && ScdIndex[size_t(c)] != 0) {
      ok = core::ReadDumpFileAt(ScdFile(), core::DumpRecordDataOffset(ScdIndex[size_t(c)]),
                                ClusterBuffer.data(), ClusterBuffer.size()) == ClusterBuffer.size();
    }
  } else if (OnDevice(c) && SectorsPerCluster > 0) {
    ok = ReadDiskCluster(c, ClusterBuffer);
    if (!ok && core::ReadSectors(DiskHandle, 0, 1, probeBuffer.data()) == 0) CheckHDConnection();
  }
  if (!ok) ZeroBuffer();
  failedReadCluster = ok ? -1 : c;
  return ok;
}

bool ReadTopfClusterSectors(int32_t c, std::vector<int32_t>& unreadable) {
  core::ProcScope scope("ReadTopfClusterSectors");
  unreadable.clear();
  if (ReadTopfCluster(c)) return true;
  // Refused, or a dump: there is nothing to read again. The link held
  // (ReadTopfCluster checked it).
  const uint64_t first = uint64_t(c) * uint64_t(SectorsPerCluster);
  if (FileMode || !OnDevice(c) || SectorsPerCluster <= 0 || first > UINT32_MAX) return false;
  core::ReadSectorsOneByOne(DiskHandle, uint32_t(first), SectorsPerCluster, ClusterBuffer.data(), unreadable);
  qlib::TopfSwapDWORD(ClusterBuffer.data(), SectorsPerCluster);
  if (unreadable.empty()) failedReadCluster = -1;
  return unreadable.empty();
}

bool DiskTooSmall() { return !FileMode && LastCluster < 1; }

bool NothingToCheck() { return DiskTooSmall() || !ClusterSizeDoubt.empty() || !MayWriteDisk(); }

namespace {
std::string WhatIsOpen() { return FileMode ? "The dump " + SccFile() : DiskName; }
}  // namespace

bool MayWriteDisk() {
  if (ForeignContent.empty()) return true;
  if (!foreignWritesAllowed) {
    // As mkfs asks before it writes over another file system.
    const std::string text =
        WhatIsOpen() + " does not look like a recorder disk: neither of its superblocks carries the recorder's "
        "magic number or ID string, and it holds " + ForeignContent +
        ".\n\nA check would write over what it holds. Check and repair it anyway?";
    foreignWritesAllowed =
        ui::Current().MsgBox(text, ui::Buttons::YesNoDefaultNo, ui::Icon::Exclamation) == ui::Answer::Yes;
  }
  return *foreignWritesAllowed;
}

std::string NotRecorderDiskText() {
  return std::string("Superblock - ") + (FileMode ? "The dump" : "The disk") +
         " does not look like a recorder disk: neither superblock carries the recorder's magic number or ID "
         "string (it holds " + ForeignContent + "). Nothing was changed";
}

bool WritesStopped() { return !writesStopped.empty(); }

std::string OriginalCopyOf(int32_t diskCluster) {
  auto it = originalCopies.find(OriginalClusterFile(diskCluster));
  return it != originalCopies.end() ? it->second : std::string();
}

bool WriteTopfCluster(int32_t c, bool allowSystem) {
  core::ProcScope scope("WriteTopfCluster");
  if (c < 1 && !allowSystem)
    core::EmergencyStop(
        "Something has freaked out and tried an unauthorized write to the system area! "
        "Emergency stop!",
        ui::Icon::Critical);
  SizeBuffer();
  // A cluster that does not exist, or whose last read failed (the buffer
  // holds zeros standing for it, not its content), is never written.
  if (c < 0 || c >= core::kFatEntries || ClusterBuffer.empty()) return false;
  if (!FileMode && !OnDevice(c)) return false;
  if (c == failedReadCluster) return false;
  // Never at a cluster size the disk contradicts, never after a
  // before-image could not be saved.
  if (!ClusterSizeDoubt.empty() || WritesStopped()) return false;
  // Never to a disk that does not show it is a recorder's, unless the user
  // said so.
  if (!MayWriteDisk()) return false;

  if (c == 0) {
    // The FAT CRC over the entries that fit into the buffer.
    const int64_t room = int64_t(ClusterBuffer.size()) - core::kFAT1;
    int64_t entries = LastCluster;
    if (room <= 0) entries = 0;
    else if (entries * 3 > room) entries = room / 3;
    while (entries > 0 && int64_t(std::ceil(3.0 * double(entries) / 512.0)) * 512 > room) --entries;
    if (entries > 0 && ClusterBuffer.size() >= size_t(core::kBackupSuperblock + core::kSbFatCrc + 4))
      qlib::Calc_CRC(ClusterBuffer.data(), int32_t(entries));
  }

  const std::vector<uint8_t> kept = ClusterBuffer;
  if (!originalCopies.count(OriginalClusterFile(c))) {
    // The undo copy: what is on the disk (or in the dump) now.
    bool read = ReadTopfCluster(c);
    const bool inDumpOnlyMissing = FileMode && c != 0 && ScdIndex[size_t(c)] == 0;
    if (!read && !inDumpOnlyMissing) {
      ClusterBuffer = kept;
      failedReadCluster = -1;
      return false;
    }
    const bool saved = KeepOriginal(c);
    ClusterBuffer = kept;
    failedReadCluster = -1;
    if (!saved) return false;
  } else if (!FileMode) {
    // The cluster must still be readable before it is overwritten.
    std::vector<uint8_t> probe(ClusterBuffer.size());
    if (!ReadDiskCluster(c, probe)) {
      if (core::ReadSectors(DiskHandle, 0, 1, probeBuffer.data()) == 0) CheckHDConnection();
      return false;
    }
  }

  if (FileMode) {
    bool written;
    if (c != 0) {
      written = core::Guard([&] {
        if (ScdIndex[size_t(c)] != 0) {
          core::WriteDumpFileAt(ScdFile(), core::DumpRecordDataOffset(ScdIndex[size_t(c)]),
                                ClusterBuffer.data(), ClusterBuffer.size());
        } else {
          int64_t length = platform::FileLength(ScdFile());
          if (length < 0) length = 0;
          std::vector<uint8_t> record(core::kDumpRecordHead);
          core::PutLE32(record.data(), uint32_t(c - 1));
          record.insert(record.end(), ClusterBuffer.begin(), ClusterBuffer.end());
          core::WriteDumpFileAt(ScdFile(), length, record.data(), record.size());
          ScdIndex[size_t(c)] = length + 1;
        }
      });
    } else {
      written = core::Guard([&] { core::WriteDumpFileAt(SccFile(), 0, ClusterBuffer.data(), ClusterBuffer.size()); });
    }
    KeepFixed(c);
    return written;
  }

  KeepFixed(c);
  qlib::TopfSwapDWORD(ClusterBuffer.data(), SectorsPerCluster);
  const uint64_t first = uint64_t(c) * uint64_t(SectorsPerCluster);
  bool ok = first <= UINT32_MAX &&
            core::WriteSectors(DiskHandle, uint32_t(first), SectorsPerCluster, ClusterBuffer.data()) != 0;
  qlib::TopfSwapDWORD(ClusterBuffer.data(), SectorsPerCluster);
  if (!ok) CheckHDConnection();
  return ok;
}

bool WriteBackCluster(int32_t diskCluster, bool allowSystem, const std::string& prefix) {
  const bool written = WriteTopfCluster(diskCluster, allowSystem);
  // The fixes of the cluster are reported only now that they are on the disk.
  SettleHeldLines(written);
  if (!written) Addinfo(kError, prefix + "Couldn't write " + ClusterText(diskCluster));
  return written;
}

void GuessClusterSize() {
  core::ProcScope scope("GuessClusterSize");
  if (FileMode) {
    SpcFromSize = core::SccLengthClusterSize(SccFile());
  } else {
    double cylinders = 0;
    int32_t tracks = 0, sectors = 0, bytes = 0;
    DiskGeometry(DiskHandle, cylinders, tracks, sectors, bytes);
    SpcFromSize = core::ClusterSizeForDiskBytes(cylinders * tracks * sectors * bytes);
  }
  // A dump whose size gives no cluster size cannot be worked on.
  if (!ValidClusterSize(SpcFromSize))
    core::EmergencyStop("Unable to open the disk!", ui::Icon::Critical);

  SectorsPerCluster = SpcFromSize;
  SizeBuffer();
  ReadTopfCluster(0);
  auto word = [](size_t offset) { return int16_t(core::GetBE16(ClusterBuffer.data() + offset)); };
  constexpr size_t kBackupWord = core::kBackupSuperblock + core::kSbSectorsPerCluster;
  SpcFromSuperblock = SuperblockWord = word(core::kSbSectorsPerCluster);
  SpcFromBackup = BackupWord = ClusterBuffer.size() >= kBackupWord + 2 ? word(kBackupWord) : -1;
  if (SpcFromSuperblock < 0 || SpcFromSuperblock >= 6001) SpcFromSuperblock = -1;
  if (SpcFromBackup < 0 || SpcFromBackup >= 6001) SpcFromBackup = -1;

  SpcFromDirScan = -1;
  DirScanAgreeing = 0;
  RootFoundAt = {-1, -1};
  Evidence = {};
  if (!FileMode) {
    // Cluster 0 keeps a copy of the root's first sector: a word whose
    // cluster 1 begins with it names where the root really lies, also for
    // the large clusters whose "." slots lie beyond the scan below.
    std::array<uint8_t, core::kSectorSize> rootCopy{};
    if (ClusterBuffer.size() >= size_t(core::kRootDirectoryCopy) + rootCopy.size())
      std::copy_n(ClusterBuffer.begin() + core::kRootDirectoryCopy, rootCopy.size(), rootCopy.begin());
    const bool blank = std::all_of(rootCopy.begin(), rootCopy.end(), [&](uint8_t b) { return b == rootCopy[0]; });
    SectorsPerCluster = 1;
    for (size_t k = 0; k < 2 && !blank; ++k) {
      const int32_t word = k == 0 ? SuperblockWord : BackupWord;
      if (!core::ValidSectorsPerCluster(word)) continue;
      ReadTopfSector(word);
      if (SectorBuffer == rootCopy) RootFoundAt[k] = word;
      if (SectorBuffer == rootCopy && word > core::kClusterSizeScanLastSector) Evidence.RootAt.push_back(word);
    }

    // A "." lies at the start of its own cluster: a start cluster that does
    // not divide its sector number into a cluster size that can hold
    // cluster 0's two FATs is damaged and says nothing. Of the others, the
    // size most "." slots agree on counts (the first one found on a tie),
    // so one damaged "." cannot decide alone.
    std::vector<std::pair<int32_t, int32_t>> found;   // size, number of "." slots
    for (int32_t s = 0; s <= core::kClusterSizeScanLastSector; ++s) {
      ReadTopfSector(s);
      // Where the root lies, whatever the words say.
      if (!blank && core::ValidSectorsPerCluster(s) && SectorBuffer == rootCopy) Evidence.RootAt.push_back(s);
      if (!core::IsSelfEntry(SectorBuffer.data())) continue;
      const int64_t n = int32_t(core::GetBE32(SectorBuffer.data() + core::kDeStartCluster));
      if (n + 1 <= 0 || s % (n + 1) != 0) continue;
      const int64_t spc = s / (n + 1);
      if (spc * core::kSectorSize <= core::kFAT2 || !ValidClusterSize(spc)) continue;
      auto it = std::find_if(found.begin(), found.end(), [&](const auto& f) { return f.first == spc; });
      if (it == found.end()) found.push_back({int32_t(spc), 1});
      else ++it->second;
    }
    DirScanAgreeing = 0;
    for (const auto& [spc, count] : found) {
      if (core::ValidSectorsPerCluster(spc)) Evidence.Dots.push_back({spc, count});
      if (count > DirScanAgreeing) {
        DirScanAgreeing = count;
        SpcFromDirScan = spc;
      }
    }
    SectorsPerCluster = SpcFromSize;
  }
}

int32_t ClusterSizeVotes(int32_t spc) {
  if (!core::ValidSectorsPerCluster(spc)) return 0;
  int32_t votes = 0;
  for (int32_t source : {SuperblockWord, BackupWord, SpcFromDirScan})
    if (source == spc) ++votes;
  if (spc == SpcFromSize || (!FileMode && SpcFromSize == core::kLargestDiskSizeClusterSize && spc > SpcFromSize)) ++votes;
  // Two or more folders lying where this size puts them weigh as much as
  // the superblock's two copies of one word; so does the root lying there.
  if (spc == SpcFromDirScan && DirScanAgreeing >= 2) ++votes;
  if (spc == RootFoundAt[0] || spc == RootFoundAt[1]) votes += 2;
  return votes;
}

int32_t VotedClusterSize() {
  if (core::ValidSectorsPerCluster(SuperblockWord) && SuperblockWord == BackupWord) return SuperblockWord;
  int32_t best = SpcFromSize, bestVotes = 0;
  // On a tie the directory scan's value wins: it comes from where a real
  // directory lies on the disk, while the two words are copies of one field.
  for (int32_t candidate : {SpcFromDirScan, SuperblockWord, BackupWord, SpcFromSize}) {
    const int32_t votes = ClusterSizeVotes(candidate);
    if (votes > bestVotes) {
      best = candidate;
      bestVotes = votes;
    }
  }
  return best;
}

namespace {
// Why the cluster size `words` cannot be written at.
std::string DoubtText(int32_t words) {
  std::string named;
  for (const auto& [size, slots] : Evidence.Dots)
    if (size != words) named += (named.empty() ? "" : ", ") + std::to_string(size);
  for (int32_t size : Evidence.RootAt)
    if (size != words) named += (named.empty() ? "" : ", ") + std::to_string(size);
  return "Superblock - The cluster size is in doubt: the superblock gives " + std::to_string(words) +
         " sectors, but the folders on the disk lie where " + named +
         " sectors put them. Nothing was changed";
}

// What the opened disk or dump holds where its superblocks belong: "" for a
// recorder's (core::ShowsRecorderSuperblock), else what a question names.
std::string ReadForeignContent() {
  constexpr size_t kLook = 4096;
  std::vector<uint8_t> raw(kLook, 0);
  // View order and disk order differ by the byte order of each 32-bit word.
  auto swapWords = [](std::vector<uint8_t>& bytes) {
    for (size_t k = 0; k + 4 <= bytes.size(); k += 4) std::reverse(bytes.begin() + k, bytes.begin() + k + 4);
  };
  bool superblockRead = false;
  if (FileMode) {
    // A dump holds the system cluster in view order.
    const size_t got = core::ReadDumpFileAt(SccFile(), 0, raw.data(), kLook);
    superblockRead = got >= size_t(2 * core::kSectorSize);
    raw.resize(got / 4 * 4);
    swapWords(raw);
  } else {
    // Sector by sector: one unreadable sector leaves the others to look at.
    bool read[2] = {false, false};
    for (uint32_t s = 0; s < kLook / 512; ++s) {
      if (core::ReadSectors(DiskHandle, s, 1, &raw[s * 512]) != 0) {
        if (s < 2) read[s] = true;
      } else {
        std::fill_n(&raw[s * 512], 512, uint8_t(0));
      }
    }
    superblockRead = read[0] || read[1];
  }
  if (!superblockRead) return "no superblock that could be read";
  std::vector<uint8_t> view(raw.begin(), raw.begin() + 2 * core::kSectorSize);
  swapWords(view);
  if (core::ShowsRecorderSuperblock(view.data())) return "";
  return core::ForeignContentName(raw.data(), raw.size());
}

// How long InitTopf waits for a disk in use before it gives up.
constexpr int kHandOverWaitMs = 3000;

// The open device's size in sectors, -1 when unknown.
int64_t DeviceSizeSectors() {
  const int64_t bytes = DiskHandle >= 1 ? platform::DriveSize(DiskHandle) : -1;
  return bytes >= 0 ? bytes / core::kSectorSize : -1;
}
}  // namespace

void InitTopf(const std::string& name) {
  core::ProcScope scope("InitTopf");
  DiskName = name;
  double cylinders = 0;
  int32_t tracks = 0, sectors = 0, bytes = 0;
  foreignWritesAllowed.reset();
  if (FileMode) {
    GuessClusterSize();
    ForeignContent = ReadForeignContent();
    IndexDumpRecords();
    core::DumpGeometry geometry;
    core::ReadDumpGeometry(SccFile(), SectorsPerCluster, geometry);
    DumpCylinders = cylinders = geometry.Cylinders;
    DumpTracksPerCylinder = tracks = geometry.TracksPerCylinder;
    DumpSectorsPerTrack = sectors = geometry.SectorsPerTrack;
  } else {
    DiskHandle = OpenDisk(DiskName, true);
    // The main program hands its disk over as it starts this one: give it a
    // moment to let the disk go. A disk held longer is another program's.
    for (int waited = 0; DiskHandle < 1 && core::DiskInUse() && waited < kHandOverWaitMs;
         waited += 100) {
      platform::SleepMs(100);
      DiskHandle = OpenDisk(DiskName, true);
    }
    if (DiskHandle < 1) {
      DiskHandle = 0;
      core::EmergencyStop(core::OpenFailureText(DiskName, "Unable to open the disk!"),
                          ui::Icon::Critical);
    }
    ForeignContent = ReadForeignContent();
    GuessClusterSize();
    // The superblock's cluster size decides; only where it differs from its
    // backup may the backup word and the estimates agree on another one
    // against it: a single changed byte in the word must not make every
    // cluster address wrong (the superblock step then repairs the word). A
    // word that is no cluster size at all never decides.
    const int32_t words = VotedClusterSize();
    // Nothing is ever written at a size the disk's own content contradicts:
    // where it names another size clearly, the run works at that one (the
    // superblock step mends the words); where it only casts doubt, nothing
    // is changed.
    const int32_t confirmed = core::ConfirmedClusterSize(words, Evidence);
    SectorsPerCluster = confirmed > 0 ? confirmed : words;
    if (confirmed <= 0) ClusterSizeDoubt = DoubtText(words);
    DiskGeometry(DiskHandle, cylinders, tracks, sectors, bytes);
  }
  LastCluster = core::ComputeLastCluster(cylinders * tracks * sectors, SectorsPerCluster);
  CheckedPastLast =
      FileMode || LastCluster < 1
          ? 0
          : std::max(0, core::FsckLastIndex(cylinders * tracks * sectors, SectorsPerCluster) - LastCluster);
  // The same data clusters as the main program's: an index up to
  // LastCluster whose whole cluster lies on the device.
  lastDataIndex = FileMode ? LastCluster
                           : core::LastDataIndex(LastCluster, DeviceSizeSectors(), SectorsPerCluster);
  // A dump without a geometry covers the whole FAT; a device too small for a
  // cluster beyond the system cluster keeps its LastCluster below 1, so that
  // nothing on it is read or written (DiskTooSmall).
  if (LastCluster < 0 && FileMode) LastCluster = core::kMaxFatIndex;
  SizeBuffer();
  failedReadCluster = -1;
}

std::string FileSizeToString(double size, int32_t decimals) {
  std::string units = " kMGT";
  while (size > 1024 && units.size() >= 2) {
    size /= 1024;
    units.erase(0, 1);
  }
  std::string text;
  if (decimals <= 0 || units[0] == ' ') {
    text = core::FormatFixed(std::round(size), 0);
  } else {
    if (decimals > 15) decimals = 15;
    const double scale = std::pow(10.0, decimals);
    text = core::FormatFixed(std::round(size * scale) / scale, decimals);
  }
  return text + " " + units[0] + "B";
}

}  // namespace checker
