// The file-system check on a full-size recorder disk (LastCluster 0x1FFFF, a
// sparse image) with 200 folders and 5,000 files of 20 clusters each, next
// to reading the same clusters and sectors with plain pread.
//
// Build Release and run from the program folder: bin/bench_fsck [folder]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/fsck.h"
#include "core/settings.h"
#include "tests/support/image_builder.h"
#include "ui/scripted_ui.h"

namespace ib = imagebuilder;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  ib::TempDir tmp("qbenchfsck");
  const std::string folder = argc > 1 ? argv[1] : tmp.Path();
  const std::string image = folder + "/PhysicalDrive0";
  if (ib::RefuseExistingDisk("bench_fsck", image)) return 1;
  constexpr uint32_t kSpc = 2068;
  constexpr int kFolders = 200, kFiles = 5000, kChain = 20;

  // Folders through the builder; files as entries and FAT chains only (their
  // data stays sparse).
  ib::ImageSpec spec;
  spec.SectorsPerCluster = kSpc;
  spec.LastCluster = 0x1FFFF;
  ib::DiskImage model(spec);
  std::vector<uint32_t> folderIndex;
  for (int i = 0; i < kFolders; ++i)
    folderIndex.push_back(model.AddFolder("\\DataFiles\\Folder " + std::to_string(i)));
  model.Write(image);
  {
    ib::ImageFile file(image);
    std::vector<uint8_t> system = file.ReadClusterView(0);
    uint32_t next = 1000;
    uint32_t used = model.UsedClusters();
    const int perFolder = kFiles / kFolders;
    for (int f = 0; f < kFolders; ++f) {
      std::vector<uint8_t> dir = file.ReadClusterView(folderIndex[size_t(f)] + 1);
      for (int k = 0; k < perFolder; ++k) {
        const int slot = 2 + k;
        uint8_t* e = dir.data() + 128 * slot;
        std::fill(e, e + 128, 0);
        e[0] = ib::kAttrRecording;
        ib::PutBE32(e + 8, next);
        ib::PutBE32(e + 12, kChain);
        const std::string name = "Recording " + std::to_string(f * perFolder + k) + ".rec";
        std::copy(name.begin(), name.end(), e + 20);
        e[125] = 1;
        for (int c = 0; c < kChain; ++c) {
          const uint32_t value = c + 1 < kChain ? next + c + 1 : ib::kFatEnd;
          ib::PutBE24(system.data() + ib::kFat1Offset + 3 * (next + c), value);
          ib::PutBE24(system.data() + ib::kFat2Offset + 3 * (next + c), value);
        }
        next += kChain;
        used += kChain;
      }
      ib::PutBE32(dir.data() + 16, uint32_t(kSpc * 512 - 128 * (2 + perFolder)));
      file.WriteClusterView(folderIndex[size_t(f)] + 1, dir);
    }
    ib::PutBE32(system.data() + ib::kSbUsedClusters, used);
    ib::PutBE32(system.data() + ib::kBackupSuperblock + ib::kSbUsedClusters, used);
    file.WriteClusterView(0, system);
    file.RecomputeFatCrc(uint32_t(model.LastCluster()));
  }

  setenv("QUENBRIX_DEVICES", folder.c_str(), 1);
  core::SetAppDir(folder);
  ui::ScriptedUi script;
  ui::CurrentUiScope use(script);
  core::ResetState();
  core::Flags = core::FlagNormal;
  core::DiskId[0] = 0;
  if (!core::InitTopf(0, "PhysicalDrive0", false) || !core::LoadTopf(0, true)) {
    std::fprintf(stderr, "cannot load %s\n", image.c_str());
    return 1;
  }
  std::printf("disk: LastCluster %d, %d entries\n", core::Disk[0].LastCluster,
              core::Disk[0].FileCount);

  const uint64_t reads0 = core::SectorReadCalls;
  const auto t0 = Clock::now();
  const bool passed = core::FSCK(0);
  const double fsckSeconds = Seconds(t0);
  const uint64_t reads = core::SectorReadCalls - reads0;
  std::printf("FSCK: %s in %.3f s (%llu device reads)\n", passed ? "passed" : "FAILED",
              fsckSeconds, static_cast<unsigned long long>(reads));
  for (int step = 1; step <= 5; ++step)
    if (!core::FsckResults[step].Text.empty())
      std::printf("  step %d: %s\n", step, core::FsckResults[step].Text.c_str());
  core::CloseDisk(core::Disk[0].Handle);

  // The same bytes with plain pread: cluster 0 (read by the check's steps),
  // every directory cluster, and the sectors the cluster-size scan reads.
  const int fd = open(image.c_str(), O_RDONLY);
  if (fd < 0) return 1;
  const size_t cluster = size_t(kSpc) * 512;
  std::vector<uint8_t> buffer(cluster);
  const auto t1 = Clock::now();
  size_t bytes = 0;
  auto readCluster = [&](uint64_t diskCluster) {
    if (pread(fd, buffer.data(), cluster, off_t(diskCluster * cluster)) == ssize_t(cluster))
      bytes += cluster;
  };
  for (int i = 0; i < 3; ++i) readCluster(0);
  for (uint32_t index : model.FolderWalkOrder()) readCluster(index + 1);
  for (uint64_t s = 0; s <= 2 * kSpc; ++s)
    if (pread(fd, buffer.data(), 512, off_t(s * 512)) == 512) bytes += 512;
  const double plainSeconds = Seconds(t1);
  close(fd);
  std::printf("plain pread of the same clusters: %.3f s (%.1f MB)\n", plainSeconds,
              double(bytes) / 1e6);
  std::printf("check / plain: %.2f\n", plainSeconds > 0 ? fsckSeconds / plainSeconds : 0.0);
  return passed ? 0 : 2;
}
