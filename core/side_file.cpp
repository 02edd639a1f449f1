#include "core/side_file.h"

#include <algorithm>
#include <cmath>

#include "core/cluster_io.h"
#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "platform/platform.h"

namespace core {

void FSOpenFile(int side, int index, bool readWrite) {
  ProcScope scope("FSOpenFile");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size())
    Raise(9, "Subscript out of range (file index " + std::to_string(index) + ")");
  const FileRec& rec = d.Files[size_t(index)];
  OpenFileRec& f = d.OpenFile;

  if (IsPCSide(side)) d.SectorsPerCluster = Disk[OtherSide(side)].SectorsPerCluster;
  f.EntryIndex = index;
  SeparatePathComponents(rec.Name, f.Dir, f.FileName, f.Ext);
  if (IsPCSide(side)) {
    const std::string name = rec.Name;   // InitTopf replaces Disk[side].Name
    InitTopf(side, name, readWrite);
    f.CurrentCluster = 0;
  } else {
    f.CurrentCluster = rec.StartCluster;
  }
  f.ClustersDone = 0;
  f.ClusterCount = rec.ClusterCount;
  f.Size = rec.Size;
  f.PcDevice = f.PcInode = 0;
  f.PcModifiedNs = 0;
  platform::FileState now;
  if (IsPCSide(side) && d.Handle >= 1 && platform::HandleState(d.Handle, now)) {
    // The file as it is now, not as the pane listed it: a file still being
    // written has grown since.
    const double clusterBytes = double(d.SectorsPerCluster) * kSectorSize;
    f.Size = double(now.Size);
    f.ClusterCount = clusterBytes > 0 ? int32_t(std::ceil(f.Size / clusterBytes)) : 0;
    f.PcDevice = now.Device;
    f.PcInode = now.Inode;
    f.PcModifiedNs = now.ModifiedNs;
  }

  const int32_t m = Disk[1].SectorsPerCluster > Disk[0].SectorsPerCluster
                        ? Disk[1].SectorsPerCluster
                        : Disk[0].SectorsPerCluster;
  // Only what DataBufferFill counts is ever used: a buffer of the right
  // size is kept as it is rather than cleared for every file.
  const size_t bytes = size_t(m > 0 ? m : 0) * 2560;
  if (DataBuffer.size() != bytes) DataBuffer.assign(bytes, 0);
  DataBufferFill = 0;
}

void FSCloseFile(int side) {
  ProcScope scope("FSCloseFile");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  d.OpenFile.ClustersDone = 0;
  if (IsPCSide(side)) {
    if (d.Handle >= 1) CloseDisk(d.Handle);
    d.Handle = 0;
  }
}

double FSGetFreeSpace(int side) {
  ProcScope scope("FSGetFreeSpace");
  CheckSideIndex(side);
  if (IsPCSide(side)) {
    // The file system of the folder the pane shows, which need not be the
    // drive's own (a tmpfs mounted below it).
    const std::string root =
        CurrentFolder[side].empty() ? DriveRoot(DiskId[side]) : CurrentFolder[side];
    if (root.empty()) return 0;
    std::string label, fileSystem, serial;
    double total = 0, freeKiB = 0;
    if (!DriveInformation(root, label, fileSystem, serial, total, freeKiB)) return 0;
    return freeKiB * 1024.0;
  }
  if (Flags & FlagDisasterMode) return 0;
  const DiskRec& d = Disk[side];
  int64_t free = 0;
  const int32_t last = LastFatIndex(side);
  // Only clusters wholly on the device count: the cluster writer refuses
  // the others, so no file can be written there.
  const bool fileMode = InFileMode();
  for (int32_t i = 0; i <= last; ++i)
    if (d.FAT[size_t(i)].Next == 0 && (fileMode || IndexOnDisk(side, i))) ++free;
  return double(free) * double(d.SectorsPerCluster) * 512.0;
}

}  // namespace core
