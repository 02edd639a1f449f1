// Loading a full-size recorder disk (LastCluster 0x1FFFF, a sparse image)
// with 200 folders and 5,000 entries, next to reading the same clusters and
// first sectors with plain pread.
//
// Build Release and run from the program folder: bin/bench_load [folder]
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
#include "core/settings.h"
#include "tests/support/image_builder.h"
#include "ui/scripted_ui.h"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  imagebuilder::TempDir tmp("qbench");
  const std::string folder = argc > 1 ? argv[1] : tmp.Path();
  const std::string image = folder + "/PhysicalDrive0";
  if (imagebuilder::RefuseExistingDisk("bench_load", image)) return 1;

  imagebuilder::ImageSpec spec;
  spec.SectorsPerCluster = 2068;
  spec.LastCluster = 0x1FFFF;
  imagebuilder::DiskImage img(spec);
  std::vector<std::string> folders;
  for (int i = 0; i < 200; ++i) {
    folders.push_back("\\DataFiles\\Folder " + std::to_string(i));
    img.AddFolder(folders.back());
  }
  for (int i = 0; i < 5000; ++i) {
    imagebuilder::FileSpec f;
    f.Path = folders[size_t(i % 200)] + "\\Recording " + std::to_string(i) + ".rec";
    f.Size = 100000;
    if (i % 2) f.Header = imagebuilder::RecHeader{};
    img.AddFile(f);
  }
  const auto w0 = Clock::now();
  img.Write(image);
  std::printf("image written in %.2f s (%s, LastCluster %lld)\n",
              std::chrono::duration<double>(Clock::now() - w0).count(), image.c_str(),
              static_cast<long long>(img.LastCluster()));

  setenv("QUENBRIX_DEVICES", folder.c_str(), 1);
  core::SetAppDir(folder);
  ui::ScriptedUi script;
  ui::CurrentUiScope use(script);
  core::ResetState();
  core::DiskId[0] = 0;
  if (!core::InitTopf(0, "PhysicalDrive0", false)) {
    std::fprintf(stderr, "cannot open %s\n", image.c_str());
    return 1;
  }

  double best = 1e9;
  for (int round = 0; round < 3; ++round) {
    const uint64_t reads = core::SectorReadCalls;
    const auto t0 = Clock::now();
    core::LoadTopf(0, true);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::min(best, s);
    std::printf("LoadTopf: %.3f s, %d entries, %llu device reads\n", s, core::Disk[0].FileCount,
                static_cast<unsigned long long>(core::SectorReadCalls - reads));
  }

  // The same bytes with plain pread: the system cluster, every directory
  // cluster and the first sector of every file.
  const core::DiskRec& d = core::Disk[0];
  const size_t clusterBytes = size_t(d.SectorsPerCluster) * 512;
  std::vector<uint8_t> buffer(clusterBytes);
  double plainBest = 1e9;
  for (int round = 0; round < 3; ++round) {
    const int fd = open(image.c_str(), O_RDONLY);
    const auto t0 = Clock::now();
    ssize_t total = pread(fd, buffer.data(), clusterBytes, 0);
    for (int i = 0; i < d.FileCount; ++i) {
      const core::FileRec& rec = d.Files[size_t(i)];
      if (rec.IsDir)
        total += pread(fd, buffer.data(), clusterBytes, off_t(rec.StartCluster + 1) * off_t(clusterBytes));
      else
        total += pread(fd, buffer.data(), 512, off_t(rec.StartCluster + 1) * off_t(clusterBytes));
    }
    total += pread(fd, buffer.data(), clusterBytes, off_t(clusterBytes));   // the root
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    close(fd);
    plainBest = std::min(plainBest, s);
    (void)total;
  }
  std::printf("best LoadTopf %.3f s   plain pread of the same clusters %.3f s   (x%.1f)\n", best,
              plainBest, best / plainBest);
  core::CloseDisk(core::Disk[0].Handle);
  return 0;
}
