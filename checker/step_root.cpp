// Check steps 2 and 3: the two copies of the root directory's head (the
// RootDirectoryCopy at bytes 1024..1535 of the system cluster, and slots 0
// to 3 of the root directory, disk cluster 1).
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/field_access.h"
#include "checker/step_dirscan.h"
#include "checker/steps.h"
#include "core/error_handler.h"

namespace checker {

namespace {

constexpr int32_t kRootCopy = core::kRootDirectoryCopy;
constexpr int32_t kHeadBytes = 4 * slot::kBytes;   // slots 0 to 3

struct StandardSlot {
  uint8_t Attribute;
  int32_t StartCluster;
  int32_t ClusterCount;
  const char* Name;
  uint8_t Byte124;
};
constexpr StandardSlot kStandard[4] = {
    {slot::kSelf, 0, 1, "__ROOT__", 0x31},
    {slot::kRecycle, 1, 1, "__RECYCLE__", 0xBA},
    {slot::kDirectory, 2, 1, "DataFiles", 0x44},
    {slot::kDirectory, 3, 2, "ProgramFiles", 0x1C},
};

// The four slots at `base` of ClusterBuffer carry the standard Attributes.
bool Sound(int32_t base) {
  if (ClusterBuffer.size() < size_t(base + kHeadBytes)) return false;
  for (int k = 0; k < 4; ++k)
    if (ClusterBuffer[size_t(base + k * slot::kBytes)] != kStandard[k].Attribute) return false;
  return true;
}

bool Sound(const std::vector<uint8_t>& head) {
  if (head.size() < size_t(kHeadBytes)) return false;
  for (int k = 0; k < 4; ++k)
    if (head[size_t(k * slot::kBytes)] != kStandard[k].Attribute) return false;
  return true;
}

// Puts back the fixed start cluster of each standard slot at `base` whose
// start differs (a sound set whose pointer was damaged: the folder itself is
// still at its fixed place). Reports each as "Fixed:" prefix + the slot and
// the start; true when anything changed.
bool RestoreStandardStarts(int32_t base, const std::string& prefix) {
  bool changed = false;
  for (int k = 0; k < 4; ++k) {
    const int32_t off = base + k * slot::kBytes + slot::kStartCluster;
    if (GetTopfLong(off) == kStandard[k].StartCluster) continue;
    SetTopfLong(off, kStandard[k].StartCluster);
    Addinfo(kFixed, prefix + std::to_string(k) + " (" + kStandard[k].Name + "): start cluster set to " +
                        std::to_string(kStandard[k].StartCluster));
    changed = true;
  }
  return changed;
}

std::vector<uint8_t> Head(int32_t base) {
  return std::vector<uint8_t>(ClusterBuffer.begin() + base, ClusterBuffer.begin() + base + kHeadBytes);
}

void PutHead(int32_t base, const std::vector<uint8_t>& head) {
  std::copy(head.begin(), head.end(), ClusterBuffer.begin() + base);
}

// The system cluster must reach past the RootDirectoryCopy.
bool ReadSystemCluster(const std::string& prefix) {
  if (!ReadTopfCluster(0)) {
    ReportSystemClusterUnreadable(prefix);
    return false;
  }
  if (ClusterBuffer.size() < size_t(kRootCopy + kHeadBytes)) {
    Addinfo(kError, prefix + "The cluster size of " + std::to_string(SectorsPerCluster) +
                        " sectors cannot hold a system cluster");
    return false;
  }
  return true;
}

}  // namespace

// ------------------------------------------------------------ step 2

void fsck_02_RootDir() {
  StepResults results;
  core::ProcScope scope("fsck_02_RootDir");
  if (NothingToCheck()) return;   // step 1 said why
  if (!ReadSystemCluster("Superblock - ")) return;
  if (Sound(kRootCopy)) {
    if (RestoreStandardStarts(kRootCopy, "Superblock - Root Directory slot "))
      WriteBackCluster(0, true, "Superblock - ");
    else
      Addinfo(kOK, "Superblock - Root Directory");
    return;
  }

  if (ReadTopfCluster(1) && Sound(0)) {
    const std::vector<uint8_t> head = Head(0);
    if (!ReadSystemCluster("Superblock - ")) return;
    PutHead(kRootCopy, head);
    Addinfo(kFixed, "Superblock - Root Directory copied from cluster 0");
    RestoreStandardStarts(kRootCopy, "Superblock - Root Directory slot ");
  } else {
    if (!ReadSystemCluster("Superblock - ")) return;
    std::fill_n(ClusterBuffer.begin() + kRootCopy, 2 * slot::kBytes, slot::kUnused);
    std::fill_n(ClusterBuffer.begin() + kRootCopy + 2 * slot::kBytes, 2 * slot::kBytes, uint8_t(0));
    const int32_t dirFree = SectorsPerCluster * 512 - 256;
    for (int k = 0; k < 4; ++k) {
      const int32_t off = kRootCopy + k * slot::kBytes;
      const StandardSlot& want = kStandard[k];
      ClusterBuffer[size_t(off + slot::kAttribute)] = want.Attribute;
      SetTopfLong(off + slot::kStartCluster, want.StartCluster);
      SetTopfLong(off + slot::kClusterCount, want.ClusterCount);
      SetTopfLong(off + slot::kFreeBytes, dirFree);
      SetTopfString(off + slot::kName, want.Name);
      ClusterBuffer[size_t(off + slot::kByte124)] = want.Byte124;
      KeepCheckByte(off);
    }
    Addinfo(kFixed, "Superblock - Root Directory reconstructed");
  }
  WriteBackCluster(0, true, "Superblock - ");
}

// ------------------------------------------------------------ step 3

void fsck_03_Cluster0Root() {
  StepResults results;
  core::ProcScope scope("fsck_03_Cluster0Root");
  if (NothingToCheck()) return;
  if (!ReadTopfCluster(1)) {
    Addinfo(kError, "Root Directory - Couldn't read cluster 0");
    return;
  }
  if (ClusterBuffer.size() < size_t(kHeadBytes)) return;
  bool fixed = false;
  std::pair<uint8_t, int32_t> before[4];   // each standard slot's Attribute and start
  for (int k = 0; k < 4; ++k)
    before[k] = {ClusterBuffer[size_t(k * slot::kBytes)], GetTopfLong(k * slot::kBytes + slot::kStartCluster)};

  if (!Sound(0)) {
    if (!ReadSystemCluster("Root Directory - ")) return;
    const std::vector<uint8_t> head = Head(kRootCopy);
    if (!ReadTopfCluster(1)) {
      Addinfo(kError, "Root Directory - Couldn't read cluster 0");
      return;
    }
    if (Sound(head)) {
      // The root keeps its end (the main program reads the slots before
      // it), which takes in the four slots of its head at least.
      const int32_t freeBytes = GetTopfLong(slot::kFreeBytes);
      PutHead(0, head);
      SetTopfLong(slot::kFreeBytes, freeBytes);
      if (SlotsInSight() < 4) SetSlotsInSight(4);
      Addinfo(kFixed, "Root Directory - entries copied from superblock");
      fixed = true;
    } else {
      // Step 2 could not make the copy sound: copying it would only spread
      // the damage.
      Addinfo(kError, "Root Directory - the copy in the superblock is damaged too: entries not copied");
    }
  }

  // The standard folders lie at fixed clusters: a damaged start is put
  // back, never removed with the slot (that would cut off every recording).
  if (Sound(0) && RestoreStandardStarts(0, "Root Directory - Slot ")) fixed = true;

  const int32_t slots = SlotsPerCluster();
  for (int32_t s = 4; s < slots; ++s) {
    const int32_t off = s * slot::kBytes;
    const uint8_t a = ClusterBuffer[size_t(off)];
    if (a != 0x00 && a != slot::kFile && a != slot::kRecording && a != slot::kDirectory && a != slot::kUnused) {
      std::fill_n(ClusterBuffer.begin() + off, slot::kBytes, slot::kUnused);
      Addinfo(kFixed, "Root Directory - Slot " + std::to_string(s) + ": erased invalid entry");
      fixed = true;
    }
  }

  if (fixed && WriteBackCluster(1, true, "Root Directory - ")) {
    // A standard folder whose slot was put back comes into the main
    // program's sight only now.
    for (int k = 1; k < 4; ++k)
      if (before[k] != std::make_pair(kStandard[k].Attribute, kStandard[k].StartCluster))
        RevealedFolders[kStandard[k].StartCluster] = true;
  } else if (!fixed)
    Addinfo(kOK, "Cluster 0 - Root Directory");
}

}  // namespace checker
