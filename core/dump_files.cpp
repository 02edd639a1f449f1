#include "core/dump_files.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/error_handler.h"
#include "platform/platform.h"

namespace core {

DumpFile::DumpFile(const std::string& path, bool write)
    : handle_(platform::PcFileOpen(path, write)), write_(write) {}

DumpFile::~DumpFile() {
  if (handle_ < 0) return;
  if (write_) platform::PcFileClose(handle_);
  else platform::DriveClose(handle_);
}

int64_t DumpFile::Length() const { return handle_ >= 0 ? platform::DriveSize(handle_) : -1; }

bool DumpFile::Read(int64_t offset, void* data, size_t length) const {
  return handle_ >= 0 && offset >= 0 && platform::ReadAt(handle_, uint64_t(offset), data, length);
}

size_t DumpFile::ReadSome(int64_t offset, void* data, size_t length) const {
  const int64_t size = Length();
  if (offset < 0 || size <= offset) return 0;
  const size_t count = size_t(std::min<int64_t>(int64_t(length), size - offset));
  return Read(offset, data, count) ? count : 0;
}

bool DumpFile::Write(int64_t offset, const void* data, size_t length) {
  return handle_ >= 0 && offset >= 0 && platform::WriteAt(handle_, uint64_t(offset), data, length);
}

bool DumpFile::Close() {
  if (handle_ < 0) return false;
  const int handle = handle_;
  handle_ = -1;
  if (write_) return platform::PcFileClose(handle);
  platform::DriveClose(handle);
  return true;
}

size_t ReadDumpFileAt(const std::string& path, int64_t offset, void* data, size_t length) {
  const DumpFile file(path);
  return file.ReadSome(offset, data, length);
}

void WriteDumpFileAt(const std::string& path, int64_t offset, const void* data, size_t length) {
  DumpFile file(path, true);
  if (!file.IsOpen()) RaisePcFileError(path);
  const bool written = file.Write(offset, data, length);
  const int error = written ? 0 : platform::LastError();
  if (!file.Close() || !written) RaisePcFileError(path, error);
}

bool IndexDumpRecords(const std::string& scdPath, int32_t sectorsPerCluster,
                      std::vector<int64_t>& index) {
  index.assign(size_t(kFatEntries), 0);
  const DumpFile file(scdPath);
  if (!file.IsOpen()) return false;
  const int64_t record = DumpRecordBytes(sectorsPerCluster);
  const int64_t length = file.Length();
  for (int64_t start = 0; sectorsPerCluster > 0 && start + record <= length; start += record) {
    uint8_t head[kDumpRecordHead];
    if (!file.Read(start, head, sizeof head)) return false;
    const uint32_t fatIndex = GetLE32(head);
    // Disk cluster fatIndex + 1 must lie in the index; other records are
    // never indexed.
    if (fatIndex < uint32_t(kMaxFatIndex)) index[fatIndex + 1] = start + 1;
  }
  return true;
}

void PutDumpTrailer(uint8_t* trailer, const DumpGeometry& geometry) {
  std::memcpy(trailer, &geometry.Cylinders, 8);
  PutLE32(trailer + 8, uint32_t(geometry.TracksPerCylinder));
  PutLE32(trailer + 12, uint32_t(geometry.SectorsPerTrack));
}

DumpGeometry GetDumpTrailer(const uint8_t* trailer) {
  DumpGeometry geometry;
  std::memcpy(&geometry.Cylinders, trailer, 8);
  if (!std::isfinite(geometry.Cylinders) || geometry.Cylinders < 0) geometry.Cylinders = 0;
  geometry.TracksPerCylinder = int32_t(GetLE32(trailer + 8));
  geometry.SectorsPerTrack = int32_t(GetLE32(trailer + 12));
  return geometry;
}

bool ReadDumpGeometry(const std::string& sccPath, int32_t sectorsPerCluster, DumpGeometry& geometry) {
  uint8_t trailer[kDumpTrailerBytes] = {};
  if (sectorsPerCluster <= 0 ||
      ReadDumpFileAt(sccPath, int64_t(sectorsPerCluster) * kSectorSize, trailer, sizeof trailer) !=
          sizeof trailer)
    return false;
  geometry = GetDumpTrailer(trailer);
  return true;
}

int32_t SccLengthClusterSize(const std::string& sccPath) {
  const int64_t length = platform::FileLength(sccPath);
  return length > 0 ? int32_t(std::min<int64_t>(length / kSectorSize, INT32_MAX)) : 0;
}

void FileModeGeometry(const std::string& sccPath, double& Cylinders, int32_t& TracksPerCylinder,
                      int32_t& SectorsPerTrack, int32_t& BytesPerSector) {
  Cylinders = 1.0;
  TracksPerCylinder = 1;
  SectorsPerTrack = SccLengthClusterSize(sccPath);
  BytesPerSector = kSectorSize;
}

}  // namespace core
