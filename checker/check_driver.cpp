#include "checker/check_driver.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "checker/step_fat.h"
#include "checker/steps.h"
#include "core/error_handler.h"
#include "core/number_format.h"
#include "core/pc_helpers.h"

namespace checker {

namespace {

const std::string kRule(80, '=');

}  // namespace

std::string FormatOneDecimal(double value) {
  return core::FormatFixed(std::round(value * 10.0) / 10.0, 1);
}

int32_t UsedClustersInFAT1() {
  int32_t used = 0;
  const int32_t last = core::LastTableIndex(LastCluster);
  for (int32_t i = 0; i <= last && size_t(i) < FAT1.size(); ++i)
    if (FAT1[size_t(i)].Value < kFatFree) ++used;
  return used;
}

void RunChecks() {
  core::ProcScope scope("Menu_File_PerformChecks_Click");
  BusyPointer busy;
  if (HintShown) ClearResults();
  HintShown = false;
  if (FoundEntries.size() != size_t(kMaxFoundEntries)) AllocateFoundEntries();

  // A recovered lost directory makes the first five steps run again, so its
  // contents are walked and claimed too. The passes are bounded: a disk on
  // which every pass "recovers" a directory again must not keep the check
  // running for ever.
  int passes = 0;
  RevealedFolders.clear();
  do {
    LostDirectoryRecovered = false;
    fsck_01_SuperBlock();
    fsck_02_RootDir();
    fsck_03_Cluster0Root();
    fsck_04_ScanDirectories();
    fsck_05_FAT();
  } while (LostDirectoryRecovered && !WritesStopped() && ++passes < kMaxCheckPasses);

  fsck_06_FATSubDirsXCheck();
  fsck_07_SuperBlockDependencies();

  Addinfo("", kRule);
  Addinfo(kInfo, "Cluster size = " + FileSizeToString(double(SectorsPerCluster) * 512.0, 2));
  // Counts are shown only from what was read: the whole tree, and the FAT
  // of a system cluster that could be read.
  if (DirScanIncomplete || !FatTablesLoaded) {
    Addinfo(kInfo, "Free/Used: Information not yet available.");
  } else {
    int32_t files = 0, directories = 0;
    const int32_t count = std::min<int32_t>(FoundEntryCount, int32_t(FoundEntries.size()));
    for (int32_t k = 0; k < count; ++k) {
      if (FoundEntries[size_t(k)].IsDir) ++directories;
      else ++files;
    }
    const int32_t used = UsedClustersInFAT1();
    const double clusterBytes = 512.0 * double(SectorsPerCluster);
    const double share = LastCluster > 0 ? double(used) / double(LastCluster) * 100.0 : 0.0;
    Addinfo(kInfo, "Used: " + std::to_string(files) + " files; " + std::to_string(directories) +
                       " directories; " + std::to_string(used) + " clusters; " +
                       FileSizeToString(double(used) * clusterBytes, 1) + "; " +
                       FormatOneDecimal(share) + "%");
    const int32_t free = LastCluster - used;
    Addinfo(kInfo, "Free: " + std::to_string(free) + " clusters; " +
                       FileSizeToString(double(free) * clusterBytes, 1));
  }
  Addinfo("", kRule);
  AddResultLine("");
}

void SaveResults(const std::string& path) {
  core::ProcScope scope("Menu_File_Save_Results_Click");
  std::string text;
  for (const std::string& line : ResultLines()) text += line + "\r\n";
  core::Guard([&] { core::SavePcFile(path, text); });
}

}  // namespace checker
