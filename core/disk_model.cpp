#include "core/disk_model.h"

#include <algorithm>

#include "core/error_handler.h"

namespace core {

DiskRec Disk[2];
int32_t DiskId[2] = {kNoDisk, kNoDisk};
int32_t CheckState[32] = {};
bool ReadIncomplete[32] = {};
int32_t Flags = 0;

std::vector<uint8_t> ClusterBuffer;
std::array<uint8_t, 512> SectorBuffer{};
std::array<uint8_t, 512> ProbeBuffer{};
std::vector<uint8_t> DataBuffer;
int32_t DataBufferFill = 0;
std::vector<uint8_t> SubDirBuffer;

CacheSlot ClusterCache[2][kCachedClusters];
std::vector<int64_t> ScdIndex(kFatEntries, 0);
int32_t FileModeSectorsPerCluster = 0;
int64_t DeviceSectors[2] = {-1, -1};
std::string CurrentFolder[2];

WorkList List1;
WorkList List4[2] = {WorkList(true), WorkList(true)};
// Defined here so that they exist before the start-up state below is set
// (ResetState empties the probe's lists too).
std::vector<ChooserEntry> ChooserEntries[2];
std::vector<int> InUseRecorderDrives;
std::vector<UnopenedDrive> UnopenedDrives;
std::vector<int> ForeignDrives;

namespace {
// The records start out with their arrays at the start-up sizes.
struct ModelInit {
  ModelInit() { ResetState(); }
} modelInit;
}  // namespace

void CheckSideIndex(int side) {
  if (side != 0 && side != 1) Raise(9, "Subscript out of range (side " + std::to_string(side) + ")");
}

int32_t LastFatIndex(int side) {
  const DiskRec& d = Disk[side];
  return std::min<int32_t>(LastTableIndex(d.LastCluster), int32_t(d.FAT.size()) - 1);
}

void ResetState() {
  for (int side = 0; side < 2; ++side) {
    DiskRec& d = Disk[side];
    d = DiskRec();
    d.FAT.assign(kFatEntries, FatLink());
    d.Files.assign(kInitialFiles, FileRec());
    d.RootCopy.assign(kInitialRootCopy, RootCopyEntry());
    DiskId[side] = kNoDisk;
    for (CacheSlot& slot : ClusterCache[side]) {
      slot.Data.assign(1, 0);
      slot.Valid = false;
    }
    DeviceSectors[side] = -1;
    CurrentFolder[side].clear();
    List4[side].Clear();
    ChooserEntries[side].clear();
  }
  InUseRecorderDrives.clear();
  UnopenedDrives.clear();
  ForeignDrives.clear();
  std::fill(std::begin(CheckState), std::end(CheckState), 0);
  std::fill(std::begin(ReadIncomplete), std::end(ReadIncomplete), false);
  Flags = 0;
  ClusterBuffer.clear();
  SectorBuffer.fill(0);
  ProbeBuffer.fill(0);
  DataBuffer.clear();
  DataBufferFill = 0;
  SubDirBuffer.clear();
  ScdIndex.assign(kFatEntries, 0);
  FileModeSectorsPerCluster = 0;
  List1.Clear();
}

}  // namespace core
