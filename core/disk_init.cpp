#include "core/disk_init.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/cluster_io.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/iodebug.h"
#include "platform/platform.h"

namespace core {

namespace {

std::string InitHead(int side) {
  return IODebugHead("InitTopf", kIODebugNarrowName) + std::to_string(side);
}

// A short read of a dump file: a run-time error like any other file error.
void ReadDumpFile(int handle, uint64_t offset, void* data, size_t length, const std::string& file) {
  if (!platform::ReadAt(handle, offset, data, length))
    RaiseSystemError(platform::LastError(), file);
}

// Maps the dump of the side for the file-mode cluster I/O. A dump file that
// is missing or cannot be read is a run-time error for the error handler
// (Retry reads the dump again; Ignore leaves the side without a dump).
bool PrepareDump(int side) {
  DiskRec& d = Disk[side];
  std::fill(ScdIndex.begin(), ScdIndex.end(), 0);
  FileModeSectorsPerCluster = 0;
  const std::string scc = d.Name + ".scc";
  const std::string scd = d.Name + ".scd";

  uint8_t sector[512] = {};
  int64_t sccLength = -1, scdLength = -1;
  const bool read = TRY_STATEMENT({
    const int handle = platform::DriveOpen(scc, false);
    if (handle < 1) RaiseSystemError(platform::LastError(), scc);
    sccLength = platform::DriveSize(handle);
    const bool whole = platform::ReadAt(handle, 0, sector, sizeof sector);
    const int error = platform::LastError();
    platform::DriveClose(handle);
    if (!whole) RaiseSystemError(error, scc);
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

  const int64_t record = 4 + int64_t(spc) * kSectorSize;
  const bool mapped = TRY_STATEMENT({
    std::fill(ScdIndex.begin(), ScdIndex.end(), 0);
    const int handle = platform::DriveOpen(scd, false);
    if (handle < 1) RaiseSystemError(platform::LastError(), scd);
    struct Close {
      int handle;
      ~Close() { platform::DriveClose(handle); }
    } close{handle};
    scdLength = platform::DriveSize(handle);
    for (int64_t start = 0; start + record <= scdLength; start += record) {
      uint8_t index[4];
      ReadDumpFile(handle, uint64_t(start), index, 4, scd);
      const uint32_t fatIndex = uint32_t(index[0]) | (uint32_t(index[1]) << 8) |
                                (uint32_t(index[2]) << 16) | (uint32_t(index[3]) << 24);
      // Disk cluster fatIndex + 1 must exist in the map; other records are ignored.
      if (fatIndex < uint32_t(kMaxFatIndex)) ScdIndex[fatIndex + 1] = start + 1;
    }
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

bool InitTopf(int side, const std::string& name, bool readWrite) {
  ProcScope scope("InitTopf");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  if (d.Handle > 0) {
    const int32_t old = d.Handle;
    CloseDisk(old);
    AddIODebugLog(InitHead(side) + " Closed disk with handle " + std::to_string(old));
    d.Handle = 0;
  }
  DeviceSectors[side] = -1;

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
  if (gib > 250) spc = 4512;
  return spc;
}

int32_t GuessClusterSize(int side) {
  ProcScope scope("GuessClusterSize");
  CheckSideIndex(side);
  if (InFileMode()) {
    const int64_t length = platform::FileLength(Disk[side].Name + ".scc");
    return length > 0 ? int32_t(std::min<int64_t>(length / 512, 0x7FFFFFFF)) : 0;
  }
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
  for (int32_t n = 0; n <= 18800; ++n) {
    if (!ReadTopfSector(side, n)) continue;
    const uint8_t* s = SectorBuffer.data();
    if (s[kDeAttribute] != AttrSelf || s[kDeName] != '.' || s[kDeName + 1] != 0) continue;
    const double divisor = double(GetBE32(s + kDeStartCluster)) + 1.0;
    if (divisor > 4294967295.5) continue;   // start field 0xFFFFFFFF: no cluster number
    // The first match ends the scan, whatever it gives (below 1: no size).
    return int32_t(std::nearbyint(double(n) / divisor));
  }
  return -1;
}

}  // namespace core
