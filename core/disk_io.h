// The lowest layer of disk access: opening a physical drive or a PC file as
// a raw handle, whole-sector reads and writes through the raw-disk library,
// the drive geometry, and the link check that ends the program when the
// drive is gone. No byte-order conversion and no caching here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace core {

// Opens "PhysicalDriveN" (resolved by the platform layer) or a PC file path,
// read-only or read/write (write-through). Returns the handle (>= 1) or a
// value below 1. Logs one I/O debug line; never shows anything, never retries.
int32_t OpenDisk(const std::string& name, bool readWrite);
// Closes the handle (the result is ignored) and logs it.
void CloseDisk(int32_t handle);

// A drive is one program's at a time (platform::DriveOpen): true when the
// last failed open met a drive that the system or another program holds.
bool DiskInUse();
// What the user is told then, for the drive `name` ("PhysicalDrive1").
std::string DiskInUseText(const std::string& name);
// The text for a failed open of `name`: DiskInUseText when the disk is in
// use, else `otherwise`.
std::string OpenFailureText(const std::string& name, const std::string& otherwise);
// A drive list's remark for a drive that is in use.
inline constexpr const char* kInUseRemark = " (in use)";

// count x 512 bytes at sector `firstSector`; 1 success, 0 failure. The buffer
// must hold count x 512 bytes.
int32_t ReadSectors(int32_t handle, uint32_t firstSector, int32_t count, void* buffer);
int32_t WriteSectors(int32_t handle, uint32_t firstSector, int32_t count, const void* buffer);
// The system's reason of the last sector transfer of this thread that
// failed, as text ("Input/output error"; EIO where the test filter below
// refused it).
std::string SectorErrorText();
// After a failed read of `count` sectors from `firstSector`, reads them one
// at a time, as a rescue tool does: every sector that reads lands in its
// place in `buffer`, every one that does not is left as zeros and its number
// (counted from firstSector) is added to `unreadable`. Returns the number of
// sectors read.
int32_t ReadSectorsOneByOne(int32_t handle, uint32_t firstSector, int32_t count, uint8_t* buffer,
                            std::vector<int32_t>& unreadable);
// Makes count x 512 bytes at `firstSector` read back as zeros: on a regular
// file the range is deallocated (a hole), elsewhere, or where that fails,
// `zeros` (count x 512 zero bytes) is written. To the test filter it is a
// write of `zeros`. 1 success, 0 failure.
int32_t ZeroSectors(int32_t handle, uint32_t firstSector, int32_t count, const void* zeros);

// A read that another thread makes (qlib::DiskIOReadSectors): counted and
// shown to the filter below now, on the calling thread, as ReadSectors would.
// False when it must not be made (it fails).
bool AdmitSectorRead(int32_t handle, uint32_t firstSector, int32_t count, void* buffer);

// A seam for tests that stand between the program and the device: the
// filter sees every sector transfer before it happens and returns false to
// make that transfer fail (nothing reaches the device, the call returns 0).
// Tests use it to fail chosen reads or writes and to record every write,
// so that a power cut after any single write can be replayed. Empty: no filter.
using SectorIoFilter = std::function<bool(bool isWrite, int32_t handle, uint32_t firstSector,
                                          int32_t count, const void* buffer)>;
// Installs the filter; returns the previous one.
SectorIoFilter SetSectorIoFilter(SectorIoFilter filter);

// Device transfers so far (tests and benchmarks count them).
extern uint64_t SectorReadCalls;
extern uint64_t SectorWriteCalls;

// The geometry as the recorder tools always computed it: 512 bytes a sector,
// 63 sectors a track, 255 tracks a cylinder. All zeros when the query fails.
// In file mode: 1 cylinder, 1 track, the .scc file of Disk[0] in sectors
// (FileModeGeometry).
void DiskGeometry(int32_t handle, double& Cylinders, int32_t& TracksPerCylinder,
                  int32_t& SectorsPerTrack, int32_t& BytesPerSector);
// The same for the open drive or file `handle` alone, whatever the mode.
void HandleGeometry(int32_t handle, double& Cylinders, int32_t& TracksPerCylinder,
                    int32_t& SectorsPerTrack, int32_t& BytesPerSector);

// Reads sector 0 of the side's handle; when that fails too, shows "Quenbrix
// has lost the link to the hard drive! Terminating now!" and ends the program
// (exit status non-zero).
void CheckHDConnection(int side);

// The device path OpenDisk logs for a name: "\\.\" before it, for a drive
// ("\\.\PhysicalDrive2") and a PC file alike.
std::string DevicePath(const std::string& name);

}  // namespace core
