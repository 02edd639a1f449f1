#include "core/disk_io.h"

#include <cerrno>
#include <cstring>

#include "core/disk_model.h"
#include "core/dump_files.h"
#include "core/error_handler.h"
#include "core/iodebug.h"
#include "core/read_ahead.h"
#include "library/loader.h"
#include "platform/platform.h"

namespace core {

uint64_t SectorReadCalls = 0;
uint64_t SectorWriteCalls = 0;

namespace {
SectorIoFilter g_ioFilter;
}

SectorIoFilter SetSectorIoFilter(SectorIoFilter filter) {
  SectorIoFilter previous = std::move(g_ioFilter);
  g_ioFilter = std::move(filter);
  return previous;
}

std::string DevicePath(const std::string& name) {
  // Drives and PC files go through the same open, under the same prefix.
  return "\\\\.\\" + name;
}

int32_t OpenDisk(const std::string& name, bool readWrite) {
  ProcScope scope("OpenDisk");
  int32_t handle = platform::DriveOpen(name, readWrite);
  const std::string rw = readWrite ? "True" : "False";
  if (handle >= 1) {
    AddIODebugLog(IODebugHead("OpenDisk", kIODebugWideName) + "successfully opened " +
                  DevicePath(name) + ", Handle=" + std::to_string(handle) + ", ReadWrite=" + rw);
  } else {
    AddIODebugLog(IODebugHead("OpenDisk", kIODebugWideName) + "failed to opened " +
                  DevicePath(name) + ", ErrorCode=" + std::to_string(platform::LastError()) +
                  ", ReadWrite=" + rw);
  }
  return handle;
}

bool DiskInUse() { return platform::LastError() == EBUSY; }

std::string DiskInUseText(const std::string& name) {
  return "The disk " + name +
         " is in use by another program, or the system has mounted it. Nothing has been "
         "written to it.\r\n\r\nClose that program, or unmount the disk, and try again.";
}

std::string OpenFailureText(const std::string& name, const std::string& otherwise) {
  return DiskInUse() ? DiskInUseText(name) : otherwise;
}

void CloseDisk(int32_t handle) {
  ProcScope scope("CloseDisk");
  DropReadAheads();   // one may read from this handle
  if (handle >= 1) platform::DriveClose(handle);
  AddIODebugLog(IODebugHead("CloseDisk", kIODebugWideName) + "Handle=" + std::to_string(handle));
}

namespace {
thread_local int g_sectorError = 0;

// A transfer that failed: its reason is kept.
int32_t Refused(int error) {
  g_sectorError = error;
  return 0;
}
// The result of a transfer of the device; errno tells why it failed.
int32_t Transferred(int32_t result) {
  return result != 0 ? result : Refused(errno != 0 ? errno : EIO);
}
}  // namespace

std::string SectorErrorText() { return std::strerror(g_sectorError != 0 ? g_sectorError : EIO); }

int32_t ReadSectors(int32_t handle, uint32_t firstSector, int32_t count, void* buffer) {
  ++SectorReadCalls;
  if (handle < 1 || count <= 0) return Refused(EBADF);
  if (g_ioFilter && !g_ioFilter(false, handle, firstSector, count, buffer)) return Refused(EIO);
  errno = 0;
  return Transferred(qlib::DiskIOReadSectors(handle, firstSector, count, kSectorSize, buffer));
}

int32_t ReadSectorsOneByOne(int32_t handle, uint32_t firstSector, int32_t count, uint8_t* buffer,
                            std::vector<int32_t>& unreadable) {
  int32_t read = 0;
  for (int32_t s = 0; s < count; ++s) {
    uint8_t* at = buffer + size_t(s) * kSectorSize;
    if (ReadSectors(handle, firstSector + uint32_t(s), 1, at) != 0) {
      ++read;
    } else {
      std::memset(at, 0, kSectorSize);
      unreadable.push_back(s);
    }
  }
  return read;
}

bool AdmitSectorRead(int32_t handle, uint32_t firstSector, int32_t count, void* buffer) {
  ++SectorReadCalls;
  if (handle < 1 || count <= 0) return false;
  return !g_ioFilter || g_ioFilter(false, handle, firstSector, count, buffer);
}

int32_t WriteSectors(int32_t handle, uint32_t firstSector, int32_t count, const void* buffer) {
  ++SectorWriteCalls;
  if (handle < 1 || count <= 0) return Refused(EBADF);
  if (g_ioFilter && !g_ioFilter(true, handle, firstSector, count, buffer)) return Refused(EIO);
  errno = 0;
  return Transferred(qlib::DiskIOWriteSectors(handle, firstSector, count, kSectorSize, buffer));
}

int32_t ZeroSectors(int32_t handle, uint32_t firstSector, int32_t count, const void* zeros) {
  ++SectorWriteCalls;
  if (handle < 1 || count <= 0) return 0;
  if (g_ioFilter && !g_ioFilter(true, handle, firstSector, count, zeros)) return 0;
  if (platform::PunchHole(handle, uint64_t(firstSector) * kSectorSize,
                          uint64_t(count) * kSectorSize))
    return 1;
  return qlib::DiskIOWriteSectors(handle, firstSector, count, kSectorSize, zeros);
}

void DiskGeometry(int32_t handle, double& Cylinders, int32_t& TracksPerCylinder,
                  int32_t& SectorsPerTrack, int32_t& BytesPerSector) {
  ProcScope scope("DiskGeometry");
  if (InFileMode())
    FileModeGeometry(SccFileOf(Disk[0].Name), Cylinders, TracksPerCylinder, SectorsPerTrack,
                     BytesPerSector);
  else
    HandleGeometry(handle, Cylinders, TracksPerCylinder, SectorsPerTrack, BytesPerSector);
}

void HandleGeometry(int32_t handle, double& Cylinders, int32_t& TracksPerCylinder,
                    int32_t& SectorsPerTrack, int32_t& BytesPerSector) {
  Cylinders = 0;
  TracksPerCylinder = 0;
  SectorsPerTrack = 0;
  BytesPerSector = 0;
  platform::DriveGeometry g;
  if (handle >= 1 && platform::GetDriveGeometry(handle, g)) {
    Cylinders = double(g.Cylinders);
    TracksPerCylinder = int32_t(g.TracksPerCylinder);
    SectorsPerTrack = int32_t(g.SectorsPerTrack);
    BytesPerSector = int32_t(g.BytesPerSector);
  }
}

void CheckHDConnection(int side) {
  ProcScope scope("CheckHDConnection");
  CheckSideIndex(side);
  if (ReadSectors(Disk[side].Handle, 0, 1, ProbeBuffer.data()) != 0) return;
  EmergencyStop("Quenbrix has lost the link to the hard drive! Terminating now!",
                ui::Icon::Critical);
}

}  // namespace core
