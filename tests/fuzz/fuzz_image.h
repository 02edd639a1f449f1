// The small recorder image the fuzz targets work on, the way a fuzz input
// damages it, and the main program's load and check as one run. Shared by the
// fuzz targets and by the tests that replay the inputs committed under
// tests/data/fuzz/.
//
// The seed image: 2068 sectors a cluster, about 46 FAT indexes, the standard
// folders, a subfolder, a recording, a fragmented file and a plug-in: a disk
// both programs accept as it is. An input is a list of patches, each
//   region (1 byte), unit (2 bytes, big-endian), byte (1 byte), length (1 byte),
//   then `length` bytes; or, for length 0, a fill: count (2 bytes, big-endian)
//   and the value
// where the region picks a part of the disk worth damaging (Regions()), the
// patch starts at byte `byte` of unit `unit` of it (both taken modulo the
// region's) and is cut at the region's end. Bytes are given in the view (the
// order the programs work with) and written in the disk's word order.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fsck.h"
#include "core/settings.h"
#include "library/loader.h"
#include "tests/fuzz/quiet_ui.h"
#include "tests/support/image_builder.h"

namespace fuzzimage {

constexpr uint32_t kSectorsPerCluster = 2068;
constexpr uint64_t kClusterBytes = uint64_t(kSectorsPerCluster) * 512;

inline imagebuilder::DiskImage SeedModel() {
  imagebuilder::ImageSpec spec;
  spec.SectorsPerCluster = kSectorsPerCluster;
  spec.LastCluster = 40;
  spec.VersionMinor = 1;   // the backup superblock of a disk the recorder formatted
  imagebuilder::DiskImage model(spec);
  model.AddFolder("\\DataFiles\\Films");
  auto add = [&](const std::string& path, uint64_t size, std::vector<uint32_t> chain, bool header) {
    imagebuilder::FileSpec f;
    f.Path = path;
    f.Size = size;
    f.Data = imagebuilder::Content::Zeros();
    if (header) f.Header = imagebuilder::RecHeader();
    f.Chain = std::move(chain);
    model.AddFile(f);
  };
  add("\\DataFiles\\a.rec", kClusterBytes + 1000, {5, 6}, true);
  add("\\DataFiles\\Films\\b.rec", 2 * kClusterBytes - 7000, {9, 7}, true);
  add("\\ProgramFiles\\c.tap", 100, {8}, false);
  return model;
}

// A part of the image (view offsets): `Units` units of `UnitBytes` from `Start`.
struct Region {
  uint64_t Start;
  uint32_t Units;
  uint32_t UnitBytes;
};

// The parts of the seed image an input reaches: the superblock, its backup and
// the root copy (in slots), both FATs over every index the image has and a few
// beyond, the end of cluster 0 (the backup CRC), anywhere in cluster 0, every
// slot of the root and of each folder, and the first sectors of each file
// (the recording header).
inline const std::vector<Region>& Regions() {
  static const std::vector<Region> regions = [] {
    const imagebuilder::DiskImage model = SeedModel();
    const uint32_t fatEntries = uint32_t(model.LastCluster()) + 1 + 16;
    std::vector<Region> r = {
        {0, 12, 128},
        {imagebuilder::kFat1Offset, fatEntries, 3},
        {imagebuilder::kFat2Offset, fatEntries, 3},
        {kClusterBytes - 512, 2, 256},
        {0, uint32_t(kClusterBytes / 256), 256},
        {kClusterBytes, uint32_t(kClusterBytes / 128), 128},
    };
    for (const std::string& path : model.Paths()) {
      const imagebuilder::ModelEntry& e = model.Entry(path);
      const uint64_t start = (uint64_t(e.Chain.at(0)) + 1) * kClusterBytes;
      if (e.IsDir) r.push_back({start, uint32_t(kClusterBytes / 128), 128});
      else r.push_back({start, 8, 256});
    }
    return r;
  }();
  return regions;
}

// Raw file offset of view byte `view`.
inline uint64_t RawOffset(uint64_t view) { return (view & ~uint64_t(3)) + 3 - (view % 4); }

// Raw ranges of the image (offset, length).
using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

// Applies the input to the image file; returns the raw ranges it changed.
inline Ranges Apply(int fd, const uint8_t* data, size_t size) {
  Ranges touched;
  const std::vector<Region>& regions = Regions();
  size_t p = 0;
  while (p + 5 <= size) {
    const Region& region = regions[data[p] % regions.size()];
    const uint64_t unit = ((uint64_t(data[p + 1]) << 8) | data[p + 2]) % region.Units;
    const uint64_t offset = unit * region.UnitBytes + data[p + 3] % region.UnitBytes;
    const uint64_t room = uint64_t(region.Units) * region.UnitBytes - offset;
    std::vector<uint8_t> bytes;
    if (data[p + 4] != 0) {
      const size_t count = std::min<size_t>(data[p + 4], size - p - 5);
      bytes.assign(data + p + 5, data + p + 5 + count);
      p += 5 + count;
    } else {
      if (p + 8 > size) break;
      bytes.assign((size_t(data[p + 5]) << 8) | data[p + 6], data[p + 7]);
      p += 8;
    }
    bytes.resize(size_t(std::min<uint64_t>(bytes.size(), room)));
    if (bytes.empty()) continue;
    const uint64_t view = region.Start + offset;
    const uint64_t first = view & ~uint64_t(3);
    const uint64_t end = (view + bytes.size() + 3) & ~uint64_t(3);
    std::vector<uint8_t> raw(size_t(end - first));
    if (pread(fd, raw.data(), raw.size(), off_t(first)) != ssize_t(raw.size())) break;
    for (size_t k = 0; k < bytes.size(); ++k) raw[size_t(RawOffset(view + k) - first)] = bytes[k];
    if (pwrite(fd, raw.data(), raw.size(), off_t(first)) != ssize_t(raw.size())) break;
    touched.emplace_back(first, raw.size());
  }
  return touched;
}

// Copies the ranges from the pristine image back onto the image.
inline void Restore(int fd, int pristine, const Ranges& ranges) {
  std::vector<uint8_t> bytes;
  for (const auto& [offset, length] : ranges) {
    bytes.resize(size_t(length));
    const ssize_t n = pread(pristine, bytes.data(), bytes.size(), off_t(offset));
    if (n < 0 || pwrite(fd, bytes.data(), size_t(n), off_t(offset)) != n)
      throw std::runtime_error("cannot restore the fuzz image");
  }
}

// Writes the seed image to `path` and damages it with the input.
inline void WriteDamaged(const std::string& path, const std::string& input) {
  SeedModel().Write(path);
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  Apply(fd, reinterpret_cast<const uint8_t*>(input.data()), input.size());
  close(fd);
}

// Runs `body` the way an event handler of either program runs: returns "" when
// it kept to the property, else what went wrong. A damaged disk must neither
// end the program (an emergency stop on a device that reads fine) nor raise a
// run-time error: either would reach the central error handler or end the
// program in front of the user, and both are faults.
template <class Body>
std::string Faultless(QuietUi& quiet, Body&& body) {
  quiet.Reset();
  std::string fault;
  try {
    body();
  } catch (const core::RuntimeError& e) {
    fault = "run-time error " + std::to_string(e.Number) + " (" + e.Description + ") in " +
            (e.Procedure.empty() ? core::CurrentProcedure : e.Procedure);
  } catch (const ui::ProgramEnded& e) {
    fault = "the program ended with status " + std::to_string(e.Status) + " after: " + quiet.LastMessage;
  } catch (const std::exception& e) {
    fault = std::string("exception: ") + e.what();
  }
  if (!quiet.ErrorReport.empty()) fault = "error handler: " + quiet.ErrorReport;
  return fault;
}

// Opens drive 0 afresh, loads it and runs the check, the way a user's first
// look at the disk does; closes it again. "" or the fault (Faultless).
// `findings`, when given: empty when the load and check accept the disk, else
// what the check reports.
inline std::string LoadAndCheckDrive0(QuietUi& quiet, std::string* findings = nullptr) {
  core::ResetState();
  core::ResetFsckState();
  core::Flags = core::FlagNormal;
  core::DiskId[0] = 0;
  bool accepted = false;
  const std::string fault = Faultless(quiet, [&] {
    if (core::InitTopf(0, "PhysicalDrive0", false)) {
      const bool loaded = core::LoadTopf(0, true);
      accepted = core::FSCK(0) && loaded;
    }
  });
  if (findings) {
    *findings = accepted ? "" : "not loaded or checked; ";
    for (int step = 1; !accepted && step < core::kFsckSteps; ++step)
      if (!core::FsckResults[step].Text.empty())
        *findings += std::to_string(step) + ": " + core::FsckResults[step].Text + "; ";
  }
  if (core::Disk[0].Handle >= 1) core::CloseDisk(core::Disk[0].Handle);
  core::Disk[0].Handle = 0;
  return fault;
}

// A fuzz target's workspace: a temporary folder that is the device folder and
// the program folder, with the seed image as PhysicalDrive0 and a pristine
// copy to restore it from after each input.
struct Workspace {
  std::string Folder;
  int Image = -1;
  int Pristine = -1;
  QuietUi Quiet;

  Workspace() {
    char pattern[] = "/tmp/quenbrix-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    Folder = pattern;
    SeedModel().Write(Folder + "/PhysicalDrive0");
    SeedModel().Write(Folder + "/pristine.img");
    Image = open((Folder + "/PhysicalDrive0").c_str(), O_RDWR | O_CLOEXEC);
    Pristine = open((Folder + "/pristine.img").c_str(), O_RDONLY | O_CLOEXEC);
    if (Image < 0 || Pristine < 0) std::abort();
    setenv("QUENBRIX_DEVICES", Folder.c_str(), 1);
    core::SetAppDir(Folder);
    ui::SetCurrent(&Quiet);
    qlib::SwapOrderWord(0);   // loads libQuenbrix.so now: its coverage counts from the first input
  }
  ~Workspace() {
    close(Image);
    close(Pristine);
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
  }
  // Runs one input: damages the image, runs `run` (which adds the ranges it
  // wrote) and restores the image; a fault ends the fuzzer with its text.
  template <class Run>
  void Fuzz(const uint8_t* data, size_t size, Run&& run) {
    Ranges touched = Apply(Image, data, size);
    const std::string fault = run(touched);
    Restore(Image, Pristine, touched);
    if (!fault.empty()) {
      std::fprintf(stderr, "FAULT: %s\n", fault.c_str());
      std::abort();
    }
  }
};

// The target's one workspace, made by LLVMFuzzerInitialize before the first
// input (so the library's coverage counts from there).
inline Workspace& TheWorkspace() {
  static Workspace workspace;
  return workspace;
}

}  // namespace fuzzimage
