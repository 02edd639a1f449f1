// The two files of a system-cluster dump (their format: core/dumps.h) as
// both programs read and write them: transfers at an offset, the geometry
// trailer stored behind the system cluster in the .scc file, the number
// that heads each .scd record, the index of the .scd records, and the
// drive geometry of file mode, which describes a dump as a one-cluster disk.
//
// A dump file is opened as a PC file (platform::PcFileOpen): only a regular
// file, and an open that cannot block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/disk_format.h"

namespace core {

inline std::string SccFileOf(const std::string& base) { return base + ".scc"; }
inline std::string ScdFileOf(const std::string& base) { return base + ".scd"; }

// Little-endian 32-bit fields of the dump files (record numbers, trailer).
inline uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// ------------------------------------------------------------ .scd records

// A record: the FAT index (little-endian, signed), then the cluster.
constexpr int32_t kDumpRecordHead = 4;
inline int64_t DumpRecordBytes(int32_t sectorsPerCluster) {
  return kDumpRecordHead + int64_t(sectorsPerCluster) * kSectorSize;
}
// Where the cluster of a record lies in the .scd file, for its index entry
// (the record's 1-based start position).
inline int64_t DumpRecordDataOffset(int64_t indexEntry) { return indexEntry - 1 + kDumpRecordHead; }

// Rebuilds `index` (kFatEntries entries, all 0 first) from the .scd file at
// `scdPath` of `sectorsPerCluster`-sector records, opened once: for each
// complete record numbered with FAT index i, index[i + 1] := its 1-based
// start position (a later record of one index wins). Only FAT indexes 0 to
// 0x1FFFE are indexed (their disk clusters 1 .. 0x1FFFF lie in the index);
// a record with any other number (the system cluster's -1 among them), and
// a record the file's end cuts short, never are. False when the file cannot
// be opened or a record's number cannot be read (platform::LastError() says
// why); what was indexed before stays.
bool IndexDumpRecords(const std::string& scdPath, int32_t sectorsPerCluster,
                      std::vector<int64_t>& index);

// ------------------------------------------------------------ .scc file

// The drive geometry stored behind the system cluster: Cylinders as a
// little-endian double, TracksPerCylinder and SectorsPerTrack as
// little-endian 32-bit values.
constexpr int32_t kDumpTrailerBytes = 16;
struct DumpGeometry {
  double Cylinders = 0;
  int32_t TracksPerCylinder = 0;
  int32_t SectorsPerTrack = 0;
};
void PutDumpTrailer(uint8_t* trailer, const DumpGeometry& geometry);
// A Cylinders value that is no finite number of 0 or more reads as 0.
DumpGeometry GetDumpTrailer(const uint8_t* trailer);
// Reads the trailer behind a system cluster of `sectorsPerCluster` sectors;
// false (geometry left as it was) when the file does not hold it whole.
bool ReadDumpGeometry(const std::string& sccPath, int32_t sectorsPerCluster, DumpGeometry& geometry);

// The .scc file's length / 512, remainder dropped: the dump's cluster size
// (the file is one system cluster and the 16-byte trailer). 0 when the file
// is missing or empty.
int32_t SccLengthClusterSize(const std::string& sccPath);

// The drive geometry of file mode: 1 cylinder, 1 track, the .scc file in
// sectors (SccLengthClusterSize), 512 bytes a sector.
void FileModeGeometry(const std::string& sccPath, double& Cylinders, int32_t& TracksPerCylinder,
                      int32_t& SectorsPerTrack, int32_t& BytesPerSector);

// ------------------------------------------------------------ transfers

// A dump file opened once, so that every transfer of a run goes through
// the descriptor that was opened (and checked) first. Closed with the
// object; a file opened for writing is flushed then.
class DumpFile {
 public:
  explicit DumpFile(const std::string& path, bool write = false);
  ~DumpFile();
  DumpFile(const DumpFile&) = delete;
  DumpFile& operator=(const DumpFile&) = delete;

  bool IsOpen() const { return handle_ >= 0; }
  int Handle() const { return handle_; }
  // The file's length through the descriptor; -1 when unknown.
  int64_t Length() const;
  // `length` bytes at `offset`, whole or false.
  bool Read(int64_t offset, void* data, size_t length) const;
  // Up to `length` bytes at `offset`, as far as the file reaches; the count
  // read (0 on a failure).
  size_t ReadSome(int64_t offset, void* data, size_t length) const;
  // `length` bytes at `offset` (the file grows when it ends before), whole
  // or false.
  bool Write(int64_t offset, const void* data, size_t length);
  // Flushes and closes; false (platform::LastError()) when the data may not
  // be stored.
  bool Close();

 private:
  int handle_ = -1;
  bool write_ = false;
};

// Up to `length` bytes at `offset` of a dump file; the count read (0 when it
// cannot be opened or read).
size_t ReadDumpFileAt(const std::string& path, int64_t offset, void* data, size_t length);
// Writes `length` bytes at `offset` of an existing dump file, changed in
// place and flushed; a run-time error (RaisePcFileError) naming the file
// and the reason when it cannot be opened or written.
void WriteDumpFileAt(const std::string& path, int64_t offset, const void* data, size_t length);

}  // namespace core
