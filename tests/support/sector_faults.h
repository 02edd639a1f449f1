// A stand-in between the disk core and the device for tests: fails chosen
// reads or writes, and records every write so that a power cut after any
// single write can be replayed on a copy of the image taken before the job.
//
//   faults::SectorFaults f;                      // installed until it goes
//   f.FailReadsWhere([](uint32_t s, int32_t n) { return s == 0; });
//   f.FailWritesAfter(3);                        // the 4th write on fails
//   ... run the job ...
//   for (size_t n = 0; n <= f.Writes().size(); ++n) {
//     image.Write(copy);                         // the image before the job
//     faults::ApplyWrites(copy, f.Writes(), n);  // as a cut after write n left it
//     ... load, check, compare ...
//   }
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/disk_io.h"

namespace faults {

struct SectorWrite {
  int32_t Handle = 0;
  uint32_t FirstSector = 0;
  std::vector<uint8_t> Bytes;
};

using SectorPredicate = std::function<bool(uint32_t firstSector, int32_t count)>;

class SectorFaults {
 public:
  SectorFaults() {
    previous_ = core::SetSectorIoFilter(
        [this](bool isWrite, int32_t handle, uint32_t first, int32_t count, const void* buffer) {
          return Filter(isWrite, handle, first, count, buffer);
        });
  }
  ~SectorFaults() { core::SetSectorIoFilter(std::move(previous_)); }
  SectorFaults(const SectorFaults&) = delete;
  SectorFaults& operator=(const SectorFaults&) = delete;

  // Reads (writes) for which the predicate holds fail; empty: none.
  void FailReadsWhere(SectorPredicate p) { failRead_ = std::move(p); }
  void FailWritesWhere(SectorPredicate p) { failWrite_ = std::move(p); }
  // Every write after the first n that succeed fails (a device gone away).
  void FailWritesAfter(uint64_t n) { writeLimit_ = n; }
  // Only transfers on this handle are filtered and recorded; 0: all.
  void OnlyHandle(int32_t handle) { handle_ = handle; }
  // Whether writes that pass are recorded (on by default).
  void Record(bool on) { record_ = on; }

  const std::vector<SectorWrite>& Writes() const { return writes_; }
  void ClearWrites() { writes_.clear(); }
  uint64_t Reads() const { return reads_; }
  uint64_t FailedReads() const { return failedReads_; }
  uint64_t FailedWrites() const { return failedWrites_; }

 private:
  bool Filter(bool isWrite, int32_t handle, uint32_t first, int32_t count, const void* buffer) {
    if (handle_ != 0 && handle != handle_) return true;
    if (!isWrite) {
      ++reads_;
      if (failRead_ && failRead_(first, count)) {
        ++failedReads_;
        return false;
      }
      return true;
    }
    if (passed_ >= writeLimit_ || (failWrite_ && failWrite_(first, count))) {
      ++failedWrites_;
      return false;
    }
    ++passed_;
    if (record_) {
      const auto* p = static_cast<const uint8_t*>(buffer);
      writes_.push_back({handle, first, std::vector<uint8_t>(p, p + size_t(count) * 512)});
    }
    return true;
  }

  core::SectorIoFilter previous_;
  SectorPredicate failRead_, failWrite_;
  uint64_t writeLimit_ = std::numeric_limits<uint64_t>::max();
  uint64_t passed_ = 0, reads_ = 0, failedReads_ = 0, failedWrites_ = 0;
  int32_t handle_ = 0;
  bool record_ = true;
  std::vector<SectorWrite> writes_;
};

// Applies writes [from, to) of a recording to the image file at `path`
// (only those of `handle`, when it is not 0).
inline void ApplyWrites(const std::string& path, const std::vector<SectorWrite>& writes,
                        size_t to, size_t from = 0, int32_t handle = 0) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  for (size_t i = from; i < to && i < writes.size(); ++i) {
    const SectorWrite& w = writes[i];
    if (handle != 0 && w.Handle != handle) continue;
    ssize_t n = ::pwrite(fd, w.Bytes.data(), w.Bytes.size(), off_t(w.FirstSector) * 512);
    if (n != ssize_t(w.Bytes.size())) {
      ::close(fd);
      throw std::runtime_error("cannot write " + path);
    }
  }
  ::close(fd);
}

}  // namespace faults
