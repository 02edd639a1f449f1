// The small recorder image the load-and-check fuzz target works on, and the
// way a fuzz input damages it. Shared by the fuzz target and by the test that
// replays the inputs committed under tests/data/fuzz/.
//
// The seed image: cluster size 1800 sectors (the smallest that holds both
// FATs), about 17 FAT indexes, the standard folders, a subfolder and three
// files. An input is a list of patches, each
//   region (1 byte), offset (2 bytes, big-endian), length (1 byte), bytes
// where the region picks a part worth damaging (superblocks, FAT1, FAT2, the
// CRC trailer, the start of a directory cluster, anywhere in cluster 0) and
// the offset is taken modulo that part's size. Bytes are given in the view
// (the order the programs work with) and written in the disk's word order.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fsck.h"
#include "tests/support/image_builder.h"

namespace fuzzimage {

constexpr uint32_t kSectorsPerCluster = 1800;
constexpr uint64_t kClusterBytes = uint64_t(kSectorsPerCluster) * 512;

inline imagebuilder::DiskImage SeedModel() {
  imagebuilder::ImageSpec spec;
  spec.SectorsPerCluster = kSectorsPerCluster;
  spec.LastCluster = 12;
  imagebuilder::DiskImage model(spec);
  model.AddFolder("\\DataFiles\\Films");
  imagebuilder::FileSpec a;
  a.Path = "\\DataFiles\\a.rec";
  a.Size = kClusterBytes + 1000;
  a.Data = imagebuilder::Content::Zeros();
  a.Header = imagebuilder::RecHeader();
  model.AddFile(a);
  imagebuilder::FileSpec b;
  b.Path = "\\DataFiles\\Films\\b.ts";
  b.Size = 5000;
  b.Data = imagebuilder::Content::Zeros();
  model.AddFile(b);
  imagebuilder::FileSpec c;
  c.Path = "\\ProgramFiles\\c.tap";
  c.Size = 100;
  c.Data = imagebuilder::Content::Zeros();
  model.AddFile(c);
  return model;
}

// A region of the image: start (view offset within the image) and size.
inline std::pair<uint64_t, uint64_t> Region(uint8_t selector) {
  switch (selector % 10) {
    case 0: return {0, 1536};                       // superblock, backup, root copy
    case 1: return {0x20000, 3 * 64};               // FAT1, first entries
    case 2: return {0x80000, 3 * 64};               // FAT2, first entries
    case 3: return {kClusterBytes - 16, 16};        // CRC trailer
    case 4: return {1 * kClusterBytes, 2048};       // root directory
    case 5: return {2 * kClusterBytes, 1024};       // recycle directory
    case 6: return {3 * kClusterBytes, 2048};       // DataFiles
    case 7: return {4 * kClusterBytes, 1024};       // ProgramFiles
    case 8: return {5 * kClusterBytes, 2048};       // the next folders
    default: return {0, kClusterBytes};             // anywhere in cluster 0
  }
}

// Raw file offset of view byte `view`.
inline uint64_t RawOffset(uint64_t view) { return (view & ~uint64_t(3)) + 3 - (view % 4); }

// Applies the input to the image file; returns the original bytes of every
// raw range it touched (offset, bytes), for Restore.
inline std::vector<std::pair<uint64_t, std::vector<uint8_t>>> Apply(int fd, const uint8_t* data,
                                                                    size_t size) {
  std::vector<std::pair<uint64_t, std::vector<uint8_t>>> saved;
  size_t p = 0;
  while (p + 4 <= size) {
    const auto [start, length] = Region(data[p]);
    const uint64_t offset = ((uint64_t(data[p + 1]) << 8) | data[p + 2]) % length;
    size_t count = data[p + 3];
    p += 4;
    count = std::min(count, size - p);
    count = size_t(std::min<uint64_t>(count, length - offset));
    if (count == 0) continue;
    const uint64_t first = (start + offset) & ~uint64_t(3);
    const uint64_t end = (start + offset + count + 3) & ~uint64_t(3);
    std::vector<uint8_t> raw(size_t(end - first));
    if (pread(fd, raw.data(), raw.size(), off_t(first)) != ssize_t(raw.size())) break;
    saved.emplace_back(first, raw);
    for (size_t k = 0; k < count; ++k) raw[size_t(RawOffset(start + offset + k) - first)] = data[p + k];
    if (pwrite(fd, raw.data(), raw.size(), off_t(first)) != ssize_t(raw.size())) break;
    p += count;
  }
  return saved;
}

inline void Restore(int fd, const std::vector<std::pair<uint64_t, std::vector<uint8_t>>>& saved) {
  for (auto it = saved.rbegin(); it != saved.rend(); ++it)
    if (pwrite(fd, it->second.data(), it->second.size(), off_t(it->first)) !=
        ssize_t(it->second.size()))
      return;
}

// Writes the seed image to `path` and damages it with the input.
inline void WriteDamaged(const std::string& path, const std::string& input) {
  SeedModel().Write(path);
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  Apply(fd, reinterpret_cast<const uint8_t*>(input.data()), input.size());
  close(fd);
}

// Opens drive 0 afresh, loads it and runs the check, the way a user's first
// look at the disk does; closes it again. A run-time error would go to the
// error handler in the program: here it simply ends the attempt.
inline void LoadAndCheckDrive0() {
  core::ResetState();
  core::ResetFsckState();
  core::Flags = core::FlagNormal;
  core::DiskId[0] = 0;
  try {
    if (core::InitTopf(0, "PhysicalDrive0", false)) {
      core::LoadTopf(0, true);
      core::FSCK(0);
    }
  } catch (const core::RuntimeError&) {
  }
  if (core::Disk[0].Handle >= 1) core::CloseDisk(core::Disk[0].Handle);
  core::Disk[0].Handle = 0;
}

}  // namespace fuzzimage
