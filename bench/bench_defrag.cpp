// Throughput of the defragmenter: a sparse recorder image with three
// recordings of about 100 MB each whose clusters are interleaved, compacted
// by the engine, next to a plain copy of the same number of clusters inside
// the same image file (pread, then pwrite with O_DSYNC, one cluster at a
// time), which is the least any cluster move costs. The free-space clearing
// that ends a run is timed on its own.
//
// Usage: bench_defrag [work folder]   (default: a fresh folder under /tmp)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/disk_init.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/settings.h"
#include "tests/support/image_builder.h"
#include "tools/defrag_engine.h"
#include "transfer/job_state.h"
#include "ui/scripted_ui.h"

namespace {

namespace ib = imagebuilder;
constexpr uint32_t kSpc = 2068;
constexpr uint64_t kCluster = uint64_t(kSpc) * 512;
constexpr uint32_t kFiles = 3;
constexpr uint32_t kClustersPerFile = 100;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Copies `clusters` clusters inside the image, each read and then written
// write-through at another place.
double PlainCopy(const std::string& image, uint32_t clusters, uint64_t fromCluster,
                 uint64_t toCluster) {
  const int fd = ::open(image.c_str(), O_RDWR | O_DSYNC);
  if (fd < 0) return 0;
  std::vector<char> buffer(kCluster);
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t k = 0; k < clusters; ++k) {
    const uint64_t src = (fromCluster + k % 200) * kCluster;
    const uint64_t dst = (toCluster + k % 200) * kCluster;
    if (::pread(fd, buffer.data(), kCluster, off_t(src)) != ssize_t(kCluster)) break;
    if (::pwrite(fd, buffer.data(), kCluster, off_t(dst)) != ssize_t(kCluster)) break;
  }
  const double s = Seconds(start);
  ::close(fd);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  std::string work;
  std::unique_ptr<ib::TempDir> tmp;
  if (argc > 1) {
    work = argv[1];
  } else {
    tmp = std::make_unique<ib::TempDir>("qbench_defrag");
    work = tmp->Path();
  }
  setenv("QUENBRIX_DEVICES", work.c_str(), 1);
  core::SetAppDir(work);
  ui::ScriptedUi script;
  ui::CurrentUiScope useScript(script);

  ib::ImageSpec spec;
  spec.SectorsPerCluster = kSpc;
  spec.LastCluster = kFiles * kClustersPerFile * 2 + 200;
  ib::DiskImage model(spec);
  for (uint32_t f = 0; f < kFiles; ++f) {
    ib::FileSpec file;
    file.Path = "\\DataFiles\\rec" + std::to_string(f) + ".rec";
    for (uint32_t k = 0; k < kClustersPerFile; ++k) file.Chain.push_back(20 + k * kFiles + f);
    file.Size = kCluster * kClustersPerFile - 4096;
    file.Data = ib::Content::Pattern(f + 1);
    model.AddFile(file);
  }
  const std::string image = work + "/PhysicalDrive0";
  model.Write(image);

  core::ResetState();
  core::Flags = core::FlagNormal | core::FlagWriteMode | core::FlagSide0Writable;
  core::DiskId[0] = 0;
  if (!core::InitTopf(0, "PhysicalDrive0", true) || !core::LoadTopf(0, true)) {
    std::fprintf(stderr, "cannot load %s\n", image.c_str());
    return 1;
  }
  core::CheckState[31] = 2;

  std::chrono::steady_clock::time_point movesEnd{}, clearStart{};
  tools::DefragHooks hooks;
  hooks.SetStatus = [&](int line, const std::string& text) {
    if (line != 0) return;
    if (text == "Building defrag report") movesEnd = std::chrono::steady_clock::now();
    if (text == "Clearing unused space") clearStart = std::chrono::steady_clock::now();
  };
  tools::SetDefragHooks(hooks);
  tools::DefragDebugOn = true;   // the log counts the moved clusters
  transfer::CancelState = 0;
  const auto start = std::chrono::steady_clock::now();
  const tools::DefragOutcome outcome = tools::DefragmentDisk(0);
  const auto end = std::chrono::steady_clock::now();
  if (outcome != tools::DefragOutcome::Completed) {
    std::fprintf(stderr, "defragmentation did not complete (%d)\n", int(outcome));
    return 1;
  }

  uint32_t moved = 0;
  {
    std::ifstream log(tools::DefragLogPath());
    std::string line;
    while (std::getline(log, line))
      if (line.find("moving ") != std::string::npos && line.find(" -> ") != std::string::npos) ++moved;
  }
  const double moveSeconds = std::chrono::duration<double>(movesEnd - start).count();
  const double clearSeconds = std::chrono::duration<double>(end - clearStart).count();
  const uint32_t freeClusters = uint32_t(core::Disk[0].LastCluster) + 1 - kFiles * kClustersPerFile - 4;
  const double mbMoved = double(moved) * double(kCluster) / 1e6;
  const double plain = PlainCopy(image, moved, 1, uint64_t(spec.LastCluster) - 200);
  const double mbCleared = double(freeClusters) * double(kCluster) / 1e6;

  std::printf("moved %u clusters (%.0f MB) of %u fragmented files\n", moved, mbMoved, kFiles);
  std::printf("defrag moves  %8.1f MB/s   plain copy %8.1f MB/s   ratio %.3f\n",
              mbMoved / moveSeconds, mbMoved / plain, (mbMoved / moveSeconds) / (mbMoved / plain));
  std::printf("clear free    %8.1f MB/s   (%.0f MB)\n", mbCleared / clearSeconds, mbCleared);
  return 0;
}
