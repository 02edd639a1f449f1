#include "core/cluster_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/dump_files.h"
#include "core/error_handler.h"
#include "core/iodebug.h"
#include "core/read_ahead.h"
#include "library/loader.h"
#include "platform/platform.h"

namespace core {

namespace {

// Why the last cluster read, write or copy of this thread failed.
thread_local std::string g_clusterFailure;

bool ClusterFailed(const std::string& why) {
  g_clusterFailure = why;
  return false;
}
std::string SectorFailure(const char* transfer) {
  return std::string(transfer) + " the cluster failed (" + SectorErrorText() + ")";
}

// "ReadTopfCluster  0 000005/2068"
std::string Head(const char* name, int side, int64_t cluster, int32_t spc) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%d %06lld/%04d", side, static_cast<long long>(cluster),
                spc);
  return IODebugHead(name, kIODebugNarrowName) + numbers;
}

void Log(const char* name, int side, int64_t cluster, int32_t spc, const std::string& suffix) {
  if (!IODebug) return;
  AddIODebugLog(Head(name, side, cluster, spc) + suffix);
}

void ZeroBuffer(std::vector<uint8_t>& buffer, int64_t bytes) {
  if (bytes > 0) buffer.assign(size_t(bytes), 0);
  else std::fill(buffer.begin(), buffer.end(), 0);
}

void InvalidateAllSlots() {
  for (auto& side : ClusterCache)
    for (CacheSlot& slot : side) slot.Valid = false;
}

// Puts the buffer into slot (side, cluster); a slot of another size is
// resized first, which invalidates all twelve slots.
void StoreInSlot(int side, int32_t cluster, const std::vector<uint8_t>& buffer) {
  CacheSlot& slot = ClusterCache[side][cluster];
  if (slot.Data.size() != buffer.size()) {
    slot.Data.resize(buffer.size());
    InvalidateAllSlots();
  }
  std::memcpy(slot.Data.data(), buffer.data(), buffer.size());
  slot.Valid = true;
}

void InvalidateSlot(int side, int32_t cluster) {
  ClusterCache[side][cluster].Valid = false;
  if (SameDisk()) ClusterCache[OtherSide(side)][cluster].Valid = false;
}

const char* kNotInDump = " FileMode failed because the rquested cluster is not in the dump file.";

// File mode: where disk cluster `cluster` lies in the dump, or false.
bool DumpLocation(int side, int64_t cluster, std::string& file, int64_t& offset) {
  if (cluster == 0) {
    file = SccFileOf(Disk[side].Name);
    offset = 0;
    return true;
  }
  if (cluster < 0 || cluster > kMaxFatIndex || ScdIndex[size_t(cluster)] == 0) return false;
  file = ScdFileOf(Disk[side].Name);
  offset = DumpRecordDataOffset(ScdIndex[size_t(cluster)]);
  return true;
}

// One transfer with a dump file, opened and closed around it (a write
// flushed before it counts).
bool DumpTransfer(const std::string& file, int64_t offset, void* data, size_t length, bool write) {
  DumpFile dump(file, write);
  if (!dump.IsOpen()) RaiseSystemError(platform::LastError(), file);
  return write ? dump.Write(offset, data, length) && dump.Close() : dump.Read(offset, data, length);
}

}  // namespace

int32_t LastDataIndex(int side) {
  const DiskRec& d = Disk[side];
  return LastDataIndex(d.LastCluster, DeviceSectors[side], d.SectorsPerCluster);
}

bool ClusterOnDisk(int side, int64_t cluster) {
  const DiskRec& d = Disk[side];
  if (cluster < 0 || d.SectorsPerCluster <= 0) return false;
  if (cluster >= 1) return cluster - 1 <= LastDataIndex(side);
  // The system cluster.
  if (DeviceSectors[side] < 0) return d.LastCluster >= 0;
  return d.LastCluster >= -1 && d.SectorsPerCluster <= DeviceSectors[side];
}

bool IndexOnDisk(int side, int64_t fatIndex) { return fatIndex >= 0 && ClusterOnDisk(side, fatIndex + 1); }

bool ReadTopfCluster(int side, int32_t cluster) {
  ProcScope scope("ReadTopfCluster");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];

  if (InFileMode()) {
    const int32_t spc = FileModeSectorsPerCluster;
    const int64_t bytes = int64_t(spc) * kSectorSize;
    std::string file;
    int64_t offset = 0;
    if (spc <= 0 || !DumpLocation(side, cluster, file, offset)) {
      ZeroBuffer(ClusterBuffer, bytes);
      Log("ReadTopfCluster", side, cluster, d.SectorsPerCluster, kNotInDump);
      return ClusterFailed("the dump holds no such cluster");
    }
    ClusterBuffer.resize(size_t(bytes));
    if (!DumpTransfer(file, offset, ClusterBuffer.data(), ClusterBuffer.size(), false)) {
      ZeroBuffer(ClusterBuffer, bytes);
      Log("ReadTopfCluster", side, cluster, d.SectorsPerCluster,
          " FileMode failed because the dump file is too short.");
      return ClusterFailed("the dump file is too short");
    }
    Log("ReadTopfCluster", side, cluster, d.SectorsPerCluster, " FileMode");
    return true;
  }

  const int32_t spc = d.SectorsPerCluster;
  const int64_t bytes = int64_t(spc) * kSectorSize;
  if (cluster < 0 || spc <= 0) {
    ZeroBuffer(ClusterBuffer, bytes);
    Log("ReadTopfCluster", side, cluster, spc, " failed");
    return ClusterFailed("the cluster size is not known");
  }
  if (!ClusterOnDisk(side, cluster)) {
    ZeroBuffer(ClusterBuffer, bytes);
    if (cluster > d.LastCluster)
      Log("ReadTopfCluster", side, cluster, spc,
          " failed because Cluster>LastCluster (" + std::to_string(d.LastCluster) + ")");
    else
      Log("ReadTopfCluster", side, cluster, spc,
          " failed because the cluster lies beyond the end of the disk");
    return ClusterFailed("the cluster lies beyond the end of the disk");
  }

  if (cluster < kCachedClusters) {
    CacheSlot& slot = ClusterCache[side][cluster];
    if (slot.Valid && int64_t(slot.Data.size()) == bytes) {
      ClusterBuffer.resize(size_t(bytes));
      std::memcpy(ClusterBuffer.data(), slot.Data.data(), size_t(bytes));
      Log("ReadTopfCluster", side, cluster, spc, " served by the cache");
      return true;
    }
  }
  if (int64_t(ClusterBuffer.size()) != bytes) ClusterBuffer.resize(size_t(bytes));

  const uint32_t first = uint32_t(int64_t(cluster) * spc);
  if (ReadSectors(d.Handle, first, spc, ClusterBuffer.data()) != 0) {
    Log("ReadTopfCluster", side, cluster, spc, "");
    qlib::TopfSwapDWORD(ClusterBuffer.data(), spc);
    if (cluster < kCachedClusters) StoreInSlot(side, cluster, ClusterBuffer);
    return true;
  }
  Log("ReadTopfCluster", side, cluster, spc, " failed because ReadSectors failed");
  ClusterFailed(SectorFailure("reading"));   // before the probe read sets its own error
  if (ReadSectors(d.Handle, 0, 1, ProbeBuffer.data()) == 0) CheckHDConnection(side);
  ZeroBuffer(ClusterBuffer, bytes);
  return false;
}

bool ReadTopfClusterSectors(int side, int32_t cluster, std::vector<int32_t>& unreadable) {
  ProcScope scope("ReadTopfClusterSectors");
  unreadable.clear();
  if (ReadTopfCluster(side, cluster)) return true;
  // Refused (not on the disk, file mode): there is nothing to read again.
  DiskRec& d = Disk[side];
  const int32_t spc = d.SectorsPerCluster;
  if (InFileMode() || spc <= 0 || cluster < 0 || !ClusterOnDisk(side, cluster)) return false;
  // The link held (ReadTopfCluster checked it): sector by sector.
  ClusterBuffer.assign(size_t(spc) * kSectorSize, 0);
  ReadSectorsOneByOne(d.Handle, uint32_t(int64_t(cluster) * spc), spc, ClusterBuffer.data(),
                      unreadable);
  qlib::TopfSwapDWORD(ClusterBuffer.data(), spc);
  Log("ReadTopfCluster", side, cluster, spc,
      " read sector by sector; " + std::to_string(unreadable.size()) + " sectors unreadable");
  if (!unreadable.empty()) return false;
  // Every sector read after all: the cluster as it is on the disk.
  if (cluster < kCachedClusters) StoreInSlot(side, cluster, ClusterBuffer);
  return true;
}

namespace {
int g_rawWrites = 0;   // RawWriteScopes alive
}  // namespace

RawWriteScope::RawWriteScope() { ++g_rawWrites; }
RawWriteScope::~RawWriteScope() { --g_rawWrites; }

bool DiskWriteRefused(int side) {
  CheckSideIndex(side);
  if (InFileMode() || g_rawWrites > 0) return false;
  const int slot = DriveSlot(DiskId[side]);
  return slot >= 0 && ReadIncomplete[slot];
}

bool WriteTopfCluster(int side, int32_t cluster, bool allowSystem) {
  ProcScope scope("WriteTopfCluster");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];

  if (cluster < 1 && !allowSystem) {
    Log("WriteTopfCluster", side, cluster, d.SectorsPerCluster,
        " failed because of an unauthorized system cluster access.");
    EmergencyStop(
        "Something has freaked out and tried an unauthorized write to the system area! "
        "Emergency stop!",
        ui::Icon::Critical);
  }

  const int32_t spc = InFileMode() ? FileModeSectorsPerCluster : d.SectorsPerCluster;
  const int64_t bytes = int64_t(spc) * kSectorSize;
  if (spc <= 0 || cluster < 0 || int64_t(ClusterBuffer.size()) < bytes ||
      (cluster == 0 && (!ValidSectorsPerCluster(spc) || d.LastCluster < 1))) {
    Log("WriteTopfCluster", side, cluster, d.SectorsPerCluster,
        " failed because the cluster buffer or the cluster size does not fit.");
    return ClusterFailed("the cluster size does not fit the disk");
  }
  ClusterBuffer.resize(size_t(bytes));

  if (cluster == 0) qlib::Calc_CRC(ClusterBuffer.data(), d.LastCluster);

  if (InFileMode()) {
    std::string file;
    int64_t offset = 0;
    if (!DumpLocation(side, cluster, file, offset)) {
      ZeroBuffer(ClusterBuffer, bytes);
      if (IODebug)
        AddIODebugLog(IODebugHead("WriteTopfCluster", kIODebugNarrowName + 1) +
                      Head("", side, cluster, d.SectorsPerCluster).substr(kIODebugNarrowName) +
                      kNotInDump);
      return ClusterFailed("the dump holds no such cluster");
    }
    bool ok = DumpTransfer(file, offset, ClusterBuffer.data(), ClusterBuffer.size(), true);
    if (IODebug)
      AddIODebugLog(IODebugHead("WriteTopfCluster", kIODebugNarrowName + 1) +
                    Head("", side, cluster, d.SectorsPerCluster).substr(kIODebugNarrowName) +
                    (ok ? " FileMode" : " FileMode failed because the dump file could not be written."));
    return ok || ClusterFailed("the dump file could not be written (" +
                               platform::PcFileErrorText(platform::LastError()) + ")");
  }

  if (DiskWriteRefused(side)) {
    Log("WriteTopfCluster", side, cluster, spc,
        " failed because the disk could not be read in full in this run");
    return ClusterFailed(kTakesNoWriteText);
  }
  if (!ClusterOnDisk(side, cluster)) {
    Log("WriteTopfCluster", side, cluster, spc,
        cluster > d.LastCluster
            ? " failed because Cluster>LastCluster (" + std::to_string(d.LastCluster) + ")"
            : std::string(" failed because the cluster lies beyond the end of the disk"));
    return ClusterFailed("the cluster lies beyond the end of the disk");
  }

  if (cluster < kCachedClusters) {
    StoreInSlot(side, cluster, ClusterBuffer);
    if (SameDisk()) StoreInSlot(OtherSide(side), cluster, ClusterBuffer);
  }

  qlib::TopfSwapDWORD(ClusterBuffer.data(), spc);
  const uint32_t first = uint32_t(int64_t(cluster) * spc);
  const bool ok = WriteSectors(d.Handle, first, spc, ClusterBuffer.data()) != 0;

  // Back to the view.
  if (cluster < kCachedClusters)
    std::memcpy(ClusterBuffer.data(), ClusterCache[side][cluster].Data.data(), size_t(bytes));
  else
    qlib::TopfSwapDWORD(ClusterBuffer.data(), spc);

  if (!ok) {
    // What the disk holds now is unknown.
    if (cluster < kCachedClusters) InvalidateSlot(side, cluster);
    Log("WriteTopfCluster", side, cluster, spc, " failed because WriteSectors failed");
    ClusterFailed(SectorFailure("writing"));
    CheckHDConnection(side);
  }
  return ok;
}

const std::string& ClusterFailure() { return g_clusterFailure; }

namespace {

// The cluster CopyTopfCluster reads ahead, and the count of sector writes
// when it would be taken: any other write in between drops it.
struct AheadCluster {
  bool Active = false;
  int Side = 0;
  int32_t Handle = 0;
  int32_t Cluster = -1;
  int32_t Spc = 0;
  uint64_t Writes = 0;
};
AheadCluster g_aheadCluster;
std::vector<uint8_t> g_copyBuffer, g_aheadCopyBuffer;

ReadAheadWorker& CopyWorker() {
  static ReadAheadWorker worker;
  return worker;
}

// The cluster read ahead when it is `cluster` of the side as the disk holds
// it now: true with it in g_copyBuffer. Anything else read ahead is dropped.
bool TakeAheadCluster(int side, int32_t cluster, int32_t spc) {
  if (!g_aheadCluster.Active) return false;
  const AheadCluster& a = g_aheadCluster;
  const bool fits = a.Side == side && a.Handle == Disk[side].Handle && a.Cluster == cluster &&
                    a.Spc == spc && a.Writes == SectorWriteCalls;
  const bool ok = CopyWorker().Wait();
  g_aheadCluster.Active = false;
  if (!fits || !ok) return false;
  g_copyBuffer.swap(g_aheadCopyBuffer);
  return true;
}

// Starts reading `cluster` of the side into g_aheadCopyBuffer, to be taken
// after the write about to be made (and no other).
void StartAheadCluster(int side, int32_t cluster, int32_t spc) {
  const int32_t handle = Disk[side].Handle;
  const int64_t first = int64_t(cluster) * spc;
  if (first > int64_t(UINT32_MAX)) return;
  g_aheadCopyBuffer.resize(size_t(spc) * kSectorSize);
  uint8_t* into = g_aheadCopyBuffer.data();
  const bool admitted = AdmitSectorRead(handle, uint32_t(first), spc, into);
  AddReadAheadDropper(&DropClusterReadAhead);
  g_aheadCluster = {true, side, handle, cluster, spc, SectorWriteCalls + 1};
  CopyWorker().Start([admitted, handle, first, spc, into] {
    return admitted &&
           qlib::DiskIOReadSectors(handle, uint32_t(first), spc, kSectorSize, into) != 0;
  });
}

}  // namespace

void DropClusterReadAhead() {
  if (!g_aheadCluster.Active) return;
  CopyWorker().Wait();
  g_aheadCluster.Active = false;
}

bool CopyTopfCluster(int side, int32_t from, int32_t to, bool allowSystem, int32_t next) {
  ProcScope scope("CopyTopfCluster");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  const int32_t spc = d.SectorsPerCluster;
  if (DiskWriteRefused(side)) {
    DropClusterReadAhead();
    Log("WriteTopfCluster", side, to, spc,
        " failed because the disk could not be read in full in this run");
    return ClusterFailed(kTakesNoWriteText);
  }
  // The cached clusters, the system cluster, file mode and clusters off the
  // disk take the way through ClusterBuffer, which handles all of them.
  if (InFileMode() || spc <= 0 || from < kCachedClusters || to < kCachedClusters ||
      !ClusterOnDisk(side, from) || !ClusterOnDisk(side, to)) {
    DropClusterReadAhead();
    if (!ReadTopfCluster(side, from)) return ClusterFailed(SectorFailure("reading"));
    return WriteTopfCluster(side, to, allowSystem);
  }
  const int64_t bytes = int64_t(spc) * kSectorSize;
  if (!TakeAheadCluster(side, from, spc)) {
    if (int64_t(g_copyBuffer.size()) != bytes) g_copyBuffer.resize(size_t(bytes));
    if (ReadSectors(d.Handle, uint32_t(int64_t(from) * spc), spc, g_copyBuffer.data()) == 0) {
      Log("ReadTopfCluster", side, from, spc, " failed because ReadSectors failed");
      ClusterFailed(SectorFailure("reading"));
      if (ReadSectors(d.Handle, 0, 1, ProbeBuffer.data()) == 0) CheckHDConnection(side);
      return false;
    }
  }
  Log("ReadTopfCluster", side, from, spc, "");
  if (next >= kCachedClusters && next != to && next != from && ClusterOnDisk(side, next))
    StartAheadCluster(side, next, spc);
  if (WriteSectors(d.Handle, uint32_t(int64_t(to) * spc), spc, g_copyBuffer.data()) == 0) {
    DropClusterReadAhead();
    Log("WriteTopfCluster", side, to, spc, " failed because WriteSectors failed");
    ClusterFailed(SectorFailure("writing"));
    CheckHDConnection(side);
    return false;
  }
  return true;
}

bool ZeroTopfCluster(int side, int32_t cluster) {
  ProcScope scope("ZeroTopfCluster");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  const int32_t spc = InFileMode() ? FileModeSectorsPerCluster : d.SectorsPerCluster;
  if (spc <= 0 || cluster < 1) return WriteTopfCluster(side, cluster, false);
  ClusterBuffer.assign(size_t(spc) * kSectorSize, 0);
  // The dumps go the ordinary way.
  if (InFileMode()) return WriteTopfCluster(side, cluster, false);
  if (!ClusterOnDisk(side, cluster) || DiskWriteRefused(side)) {
    Log("ZeroTopfCluster", side, cluster, spc,
        DiskWriteRefused(side) ? " failed because the disk could not be read in full in this run"
                               : " failed because the cluster is not on the disk");
    return false;
  }
  if (cluster < kCachedClusters) {
    StoreInSlot(side, cluster, ClusterBuffer);
    if (SameDisk()) StoreInSlot(OtherSide(side), cluster, ClusterBuffer);
  }
  const uint32_t first = uint32_t(int64_t(cluster) * spc);
  if (ZeroSectors(d.Handle, first, spc, ClusterBuffer.data()) == 0) {
    if (cluster < kCachedClusters) InvalidateSlot(side, cluster);
    Log("ZeroTopfCluster", side, cluster, spc, " failed because ZeroSectors failed");
    CheckHDConnection(side);
    return false;
  }
  return true;
}

bool ReadTopfSector(int side, int32_t cluster) {
  ProcScope scope("ReadTopfSector");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];

  if (InFileMode()) {
    std::string file;
    int64_t offset = 0;
    if (!DumpLocation(side, cluster, file, offset)) {
      SectorBuffer.fill(0);
      Log("ReadTopfSector", side, cluster, d.SectorsPerCluster,
          " FilMode failed because the rquested cluster is not in the dump file.");
      return false;
    }
    if (!DumpTransfer(file, offset, SectorBuffer.data(), SectorBuffer.size(), false)) {
      SectorBuffer.fill(0);
      return false;
    }
    Log("ReadTopfSector", side, cluster, d.SectorsPerCluster, " FileMode");
    return true;
  }

  const int64_t sector = int64_t(cluster) * d.SectorsPerCluster;
  if (cluster < 0 || d.SectorsPerCluster <= 0 || sector > 0xFFFFFFFFLL ||
      (DeviceSectors[side] >= 0 && sector >= DeviceSectors[side])) {
    // Not on the device: nothing to read, and no reason to doubt the link.
    SectorBuffer.fill(0);
    return false;
  }
  if (ReadSectors(d.Handle, uint32_t(sector), 1, SectorBuffer.data()) != 0) {
    qlib::TopfSwapDWORD(SectorBuffer.data(), 1);
    return true;
  }
  CheckHDConnection(side);
  SectorBuffer.fill(0);
  return false;
}

int16_t GetTopfWord(int32_t offset) {
  if (offset < 0 || size_t(offset) + 2 > ClusterBuffer.size())
    Raise(9, "Subscript out of range (offset " + std::to_string(offset) + ")");
  return int16_t(GetBE16(ClusterBuffer.data() + offset));
}

int32_t GetTopfLong(int32_t offset) {
  if (offset < 0 || size_t(offset) + 4 > ClusterBuffer.size())
    Raise(9, "Subscript out of range (offset " + std::to_string(offset) + ")");
  return int32_t(GetBE32(ClusterBuffer.data() + offset));
}

void SetTopfLong(int32_t offset, int32_t value) {
  if (offset < 0 || size_t(offset) + 4 > ClusterBuffer.size())
    Raise(9, "Subscript out of range (offset " + std::to_string(offset) + ")");
  PutBE32(ClusterBuffer.data() + offset, uint32_t(value));
}

void CheckArraySize(int side) {
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  if (d.FileCount < 0) d.FileCount = 0;
  if (size_t(d.FileCount) + 1 > d.Files.size()) d.Files.resize(size_t(d.FileCount) * 2 + 1);
}

void InvalidateCachedSectors(int side, uint32_t firstSector, int64_t count) {
  CheckSideIndex(side);
  const int64_t spc = Disk[side].SectorsPerCluster;
  const int64_t begin = firstSector;
  const int64_t end = begin + std::max<int64_t>(count, 0);
  for (int32_t c = 0; c < kCachedClusters; ++c) {
    bool touched = spc <= 0 || (begin < (c + 1) * spc && end > c * spc);
    if (touched) InvalidateSlot(side, c);
  }
}

void InvalidateSideCache(int side) {
  CheckSideIndex(side);
  for (CacheSlot& slot : ClusterCache[side]) slot.Valid = false;
}

}  // namespace core
