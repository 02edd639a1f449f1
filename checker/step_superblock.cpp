// Check steps 1 and 7: the superblock, its backup and the cleared areas of
// the system cluster; the values the superblock keeps about the rest of the
// disk (root free bytes, used clusters).
#include <algorithm>
#include <cstdint>
#include <string>

#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "checker/field_access.h"
#include "checker/step_dirscan.h"
#include "checker/step_fat.h"
#include "checker/steps.h"
#include "core/error_handler.h"

namespace checker {

namespace {

constexpr int32_t kMagic = int32_t(core::kMagicNumber);
const std::string kIdString(core::kTopfieldId);

// Superblock offsets (the backup copy lies 512 bytes further on).
constexpr int32_t kSbMagic = core::kSbMagicNumber;
constexpr int32_t kSbId = core::kSbIdString;
constexpr int32_t kSbVersion = core::kSbLayoutMajor;
constexpr int32_t kSbSpc = core::kSbSectorsPerCluster;
constexpr int32_t kSbParameterArea = core::kSbParameterArea;
constexpr int32_t kSbUsedClusters = core::kSbUsedClusters;
constexpr int32_t kSbRootFreeBytes = core::kSbRootFreeBytes;
constexpr int32_t kBackup = core::kBackupSuperblock;
constexpr int32_t kRootCopyFreeBytes = core::kRootDirectoryCopy + core::kDeFreeBytes;
// Behind the identification, and behind the last field (the FAT CRC).
constexpr int32_t kIdEnd = kSbId + core::kTopfieldIdLength;
constexpr int32_t kSbEnd = core::kSbFatCrc + 4;

// The superblock step touches the first 1536 bytes at least: both
// superblocks and the root folder's copy.
constexpr size_t kSystemHead = core::kRootDirectoryCopy + core::kRootCopySlots * core::kDirEntrySize;

// Zeroes [from, to) of ClusterBuffer, clipped to the buffer.
void Zero(int64_t from, int64_t to) {
  const int64_t size = int64_t(ClusterBuffer.size());
  from = std::clamp<int64_t>(from, 0, size);
  to = std::clamp<int64_t>(to, 0, size);
  if (from < to) std::fill(ClusterBuffer.begin() + from, ClusterBuffer.begin() + to, uint8_t(0));
}

// Offset inside each FAT area from which the tail is cleared: the FAT's
// length rounded up to whole sectors, Ceil(3 x LastCluster / 512) x 512, but
// never into the entry of LastCluster itself (the tables hold LastCluster + 1
// entries), and never beyond the area (0x60000 bytes).
int64_t FatTailStart() {
  const int64_t last = std::max<int64_t>(LastCluster, 0);
  const int64_t rounded = (3 * last + 511) / 512 * 512;
  const int64_t start = std::max<int64_t>(rounded, 3 * (last + 1));
  return std::min<int64_t>(start, core::kFAT2 - core::kFAT1);
}

std::string Estimate(int32_t value, const char* none) {
  return value == -1 ? std::string(none) : std::to_string(value);
}

}  // namespace

// ------------------------------------------------------------ step 1

void fsck_01_SuperBlock() {
  StepResults results;
  core::ProcScope scope("fsck_01_SuperBlock");
  if (DiskTooSmall()) {
    Addinfo(kError, "Superblock - The disk is damaged or too small: it holds no cluster beyond the system cluster. "
                    "Nothing was changed");
    return;
  }
  if (!ClusterSizeDoubt.empty()) {
    Addinfo(kError, ClusterSizeDoubt);
    return;
  }
  // A disk that does not show it is a recorder's is only written when the
  // user says so; otherwise the run changes nothing and says why, once.
  if (!MayWriteDisk()) {
    Addinfo(kError, NotRecorderDiskText());
    return;
  }
  if (!ReadTopfCluster(0)) {
    ReportSystemClusterUnreadable("Superblock - ");
    return;
  }
  if (ClusterBuffer.size() < kSystemHead) {
    Addinfo(kError, "Superblock - The cluster size of " + std::to_string(SectorsPerCluster) +
                        " sectors cannot hold a system cluster");
    return;
  }

  const int32_t magic = GetTopfLong(kSbMagic);
  const std::string id = GetTopfString(kSbId);
  const int32_t version = GetTopfWord(kSbVersion);
  const int32_t backupMagic = GetTopfLong(kBackup + kSbMagic);
  const std::string backupId = GetTopfString(kBackup + kSbId);
  const int32_t backupVersion = GetTopfWord(kBackup + kSbVersion);
  SpcFromSuperblock = GetTopfWord(kSbSpc);
  SpcFromBackup = GetTopfWord(kBackup + kSbSpc);
  bool fixed = false;

  // Areas that must hold zeros (reach the disk only with a fix below).
  SetTopfWord(kSbParameterArea, 0);
  Zero(kIdEnd, kSbVersion);
  Zero(kSbEnd, kBackup);
  Zero(kSystemHead, core::kFAT1);
  const int64_t tail = FatTailStart();
  Zero(core::kFAT1 + tail, core::kFAT2);
  Zero(core::kFAT2 + tail, int64_t(ClusterBuffer.size()));

  if (magic != kMagic) {
    SetTopfLong(kSbMagic, kMagic);
    Addinfo(kFixed, "Superblock - Magic Number");
    fixed = true;
  }
  if (id != kIdString) {
    SetTopfString(kSbId, kIdString);
    Addinfo(kFixed, "Superblock - ID String");
    fixed = true;
  }
  if (version != 0x0100 && version != 0x0101) {
    SetTopfWord(kSbVersion, 0x0101);
    Addinfo(kFixed, "Superblock - Layout Version");
    fixed = true;
  }
  Addinfo(kInfo, "Sectors per Cluster: Superblock: " + Estimate(SpcFromSuperblock, "invalid") +
                     ", Backup Superblock: " + Estimate(SpcFromBackup, "invalid") +
                     ", Disk Size: " + std::to_string(SpcFromSize) +
                     ", Dir Scan: " + Estimate(SpcFromDirScan, "N.A."));
  if (SectorsPerCluster != GetTopfWord(kSbSpc)) {
    SetTopfWord(kSbSpc, SectorsPerCluster);
    Addinfo(kFixed, "Superblock - Sectors per Cluster set to " + std::to_string(SectorsPerCluster));
    fixed = true;
  }
  if (!fixed) Addinfo(kOK, "Superblock - Parameter area");

  SetTopfWord(kBackup + kSbParameterArea, 0);
  Zero(kBackup + kIdEnd, kBackup + kSbVersion);
  Zero(kBackup + kSbEnd, core::kRootDirectoryCopy);
  if (backupMagic != kMagic) {
    SetTopfLong(kBackup + kSbMagic, kMagic);
    Addinfo(kFixed, "Superblock - Backup Magic Number");
    fixed = true;
  }
  if (backupId != kIdString) {
    SetTopfString(kBackup + kSbId, kIdString);
    Addinfo(kFixed, "Superblock - Backup ID String");
    fixed = true;
  }
  if (backupVersion != 0x0101) {
    SetTopfWord(kBackup + kSbVersion, 0x0101);
    Addinfo(kFixed, "Superblock - Backup Layout Version");
    fixed = true;
  }
  // The backup word lost the vote of the disk layer (or the dump's length
  // decides): it is the one to mend.
  if (SectorsPerCluster != GetTopfWord(kBackup + kSbSpc)) {
    SetTopfWord(kBackup + kSbSpc, SectorsPerCluster);
    Addinfo(kFixed, "Superblock - Backup Sectors per Cluster set to " + std::to_string(SectorsPerCluster));
    fixed = true;
  }

  if (fixed)
    WriteBackCluster(0, true, "Superblock - ");
  else
    Addinfo(kOK, "Superblock - Backup Parameter area");
}

// ------------------------------------------------------------ step 7

bool fsck_07_SuperBlockDependencies() {
  StepResults results;
  core::ProcScope scope("fsck_07_SuperBlockDependencies");
  if (SkippedWithoutDirectoryData("superblock dependencies")) return false;

  // Root free bytes R from the last slot in use of the root cluster.
  const int64_t clusterBytes = int64_t(SectorsPerCluster) * 512;
  int64_t rootFree = 0;
  const bool rootRead = ReadTopfCluster(1);
  if (!rootRead) {
    Addinfo(kError, "Files - Couldn't read cluster 0");
  } else if (ClusterBuffer.size() >= size_t(slot::kBytes)) {
    const int32_t s = LastEntrySlot(0);
    if (s >= 0) {
      rootFree = clusterBytes - int64_t(s + 1) * slot::kBytes;
      if (GetTopfLong(slot::kFreeBytes) != int32_t(rootFree)) {
        SetTopfLong(slot::kFreeBytes, int32_t(rootFree));
        SetLastSectorBytes(0, 0);
        Addinfo(kFixed, "Files - FreeBytes field of the root directory: corrected");
        WriteBackCluster(1, false, "Files - ");
      }
    }
  }

  if (!ReadTopfCluster(0)) {
    ReportSystemClusterUnreadable("Superblock - ");
    return false;
  }
  if (ClusterBuffer.size() < kSystemHead) return false;
  // Normally the tables hold FAT1 as the FAT step left it; when that step
  // could not load them in this check, they come from the disk now.
  if (!FatTablesLoaded) {
    LoadTopfFAT();
    FatTablesLoaded = true;
  }
  int32_t used = 0;
  const int32_t last = core::LastTableIndex(LastCluster);
  for (int32_t i = 0; i <= last; ++i)
    if (FAT1[size_t(i)].Value != kFatFree) ++used;

  bool changed = false;
  if (GetTopfLong(kSbUsedClusters) != used) {
    SetTopfLong(kSbUsedClusters, used);
    SetTopfLong(kBackup + kSbUsedClusters, used);
    Addinfo(kFixed, "Superblock - number of used clusters: corrected");
    changed = true;
  }
  if (rootRead && GetTopfLong(kSbRootFreeBytes) != int32_t(rootFree)) {
    SetTopfLong(kSbRootFreeBytes, int32_t(rootFree));
    SetTopfLong(kBackup + kSbRootFreeBytes, int32_t(rootFree));
    SetTopfLong(kRootCopyFreeBytes, int32_t(rootFree));
    Addinfo(kFixed, "Superblock - free bytes in root dir.: corrected");
    changed = true;
  }
  if (!changed) return false;
  return WriteBackCluster(0, true, "Superblock - ");
}

}  // namespace checker
