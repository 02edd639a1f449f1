#include "core/disk_init.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/cluster_io.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/dump_files.h"
#include "core/error_handler.h"
#include "core/iodebug.h"
#include "platform/platform.h"

namespace core {

namespace {

std::string InitHead(int side) {
  return IODebugHead("InitTopf", kIODebugNarrowName) + std::to_string(side);
}

// Maps the dump of the side for the file-mode cluster I/O. A dump file that
// is missing or cannot be read is a run-time error for the error handler
// (Retry reads the dump again; Ignore leaves the side without a dump).
bool PrepareDump(int side) {
  DiskRec& d = Disk[side];
  std::fill(ScdIndex.begin(), ScdIndex.end(), 0);
  FileModeSectorsPerCluster = 0;
  const std::string scc = SccFileOf(d.Name);
  const std::string scd = ScdFileOf(d.Name);

  uint8_t sector[512] = {};
  int64_t sccLength = -1;
  const bool read = TRY_STATEMENT({
    const DumpFile file(scc);
    if (!file.IsOpen()) RaiseSystemError(platform::LastError(), scc);
    sccLength = file.Length();
    if (!file.Read(0, sector, sizeof sector)) RaiseSystemError(platform::LastError(), scc);
  });
  if (!read) return false;

  int32_t spc = GetBE16(sector + kSbSectorsPerCluster);
  if (spc == 0) spc = GuessClusterSize(side);
  if (!ValidSectorsPerCluster(spc) || sccLength < int64_t(spc) * kSectorSize) {
    ui::Current().MsgBox("The dump " + d.Name +
                             " cannot be used: its cluster size of " + std::to_string(spc) +
                             " sectors does not fit the system cluster it holds.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }

  const bool mapped = TRY_STATEMENT({
    if (!IndexDumpRecords(scd, spc, ScdIndex)) RaiseSystemError(platform::LastError(), scd);
  });
  if (!mapped) {
    std::fill(ScdIndex.begin(), ScdIndex.end(), 0);
    return false;
  }
  FileModeSectorsPerCluster = spc;
  AddIODebugLog(InitHead(side) + " FileMode: Read " + d.Name);
  return true;
}

}  // namespace

void ReleaseTopf(int side) {
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  if (d.Handle > 0) {
    const int32_t old = d.Handle;
    CloseDisk(old);
    AddIODebugLog(InitHead(side) + " Closed disk with handle " + std::to_string(old));
    d.Handle = 0;
  }
  DeviceSectors[side] = -1;
  InvalidateSideCache(side);
}

bool InitTopf(int side, const std::string& name, bool readWrite) {
  ProcScope scope("InitTopf");
  ReleaseTopf(side);
  DiskRec& d = Disk[side];

  bool ok = false;
  if (InFileMode()) {
    if (!name.empty()) d.Name = name;
    ok = PrepareDump(side);
  } else {
    d.Name = name;
    for (int attempt = 1; attempt <= 5; ++attempt) {
      d.Handle = OpenDisk(name, readWrite);
      if (d.Handle >= 1) break;
      if (attempt < 5) platform::SleepMs(100);
    }
    ok = d.Handle >= 1;
    if (ok) {
      AddIODebugLog(InitHead(side) + " Succesfully opened disk " + name + " with handle " +
                    std::to_string(d.Handle) + ", ReadWrite=" + (readWrite ? "True" : "False"));
      const int64_t size = platform::DriveSize(d.Handle);
      if (size >= 0) DeviceSectors[side] = size / kSectorSize;
    } else {
      AddIODebugLog(InitHead(side) + " Failed to open disk " + name +
                    ", ErrorCode= " + std::to_string(platform::LastError()));
    }
  }
  InvalidateSideCache(side);
  return ok;
}

int32_t ClusterSizeForDiskBytes(double bytes) {
  const double gib = bytes / 1048576.0 / 1024.0;
  int32_t spc = 2068;
  if (gib > 130) spc = 2444;
  if (gib > 160) spc = 3760;
  if (gib > 250) spc = kLargestDiskSizeClusterSize;
  return spc;
}

int32_t GuessClusterSize(int side) {
  ProcScope scope("GuessClusterSize");
  CheckSideIndex(side);
  if (InFileMode()) return SccLengthClusterSize(SccFileOf(Disk[side].Name));
  const int32_t scanned = ScanForClusterSize(side);
  if (scanned >= 1) return scanned;
  double cylinders = 0;
  int32_t tracks = 0, sectors = 0, bytesPerSector = 0;
  DiskGeometry(Disk[side].Handle, cylinders, tracks, sectors, bytesPerSector);
  return ClusterSizeForDiskBytes(cylinders * tracks * sectors * bytesPerSector);
}

int32_t ScanForClusterSize(int side) {
  ProcScope scope("ScanForClusterSize");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  const int32_t remembered = d.SectorsPerCluster;
  struct Restore {
    DiskRec& d;
    int32_t value;
    ~Restore() { d.SectorsPerCluster = value; }
  } restore{d, remembered};

  d.SectorsPerCluster = 1;
  for (int32_t n = 0; n <= kClusterSizeScanLastSector; ++n) {
    if (!ReadTopfSector(side, n)) continue;
    const uint8_t* s = SectorBuffer.data();
    if (!IsSelfEntry(s)) continue;
    const double divisor = double(GetBE32(s + kDeStartCluster)) + 1.0;
    if (divisor > 4294967295.5) continue;   // start field 0xFFFFFFFF: no cluster number
    // The first match ends the scan, whatever it gives (below 1: no size).
    return int32_t(std::nearbyint(double(n) / divisor));
  }
  return -1;
}

}  // namespace core
