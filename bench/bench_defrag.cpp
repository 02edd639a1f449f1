// Throughput of the defragmenter: a sparse recorder image with three
// recordings of about 100 MB each whose clusters are interleaved, compacted
// by the engine with its cluster map on screen, next to a plain copy of the
// very same clusters (the moves the run logged, from the same start image:
// pread, then pwrite with O_DSYNC, one cluster at a time), which is the least
// those moves cost. The moves are timed from the start of the run to its
// report; the free-space clearing that ends a run is timed on its own. Each
// figure is the best of three runs, engine and plain copy taking turns; the
// share of the run spent processing events (map repaints included) is
// printed too. The last line is the ratio.
//
// Usage: bench_defrag [--small] [work folder]   (default: a fresh folder
// under /tmp; --small uses files of 20 clusters, for CI)
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "core/disk_format.h"
#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/settings.h"
#include "tests/support/image_builder.h"
#include "tools/cluster_map.h"
#include "tools/defrag_engine.h"
#include "transfer/job_state.h"

namespace {

namespace ib = imagebuilder;
constexpr uint32_t kSpc = 2068;
constexpr uint64_t kCluster = uint64_t(kSpc) * 512;
constexpr uint32_t kFiles = 3;
constexpr int kRuns = 3;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "bench_defrag: %s\n", why.c_str());
  std::exit(1);
}

// The moves of the last run, as FAT indexes, from the log.
std::vector<std::pair<uint32_t, uint32_t>> LoggedMoves() {
  std::vector<std::pair<uint32_t, uint32_t>> moves;
  std::ifstream log(tools::DefragLogPath());
  std::string line;
  while (std::getline(log, line)) {
    const size_t at = line.find("moving ");
    const size_t arrow = line.find(" -> ");
    if (at == std::string::npos || arrow == std::string::npos) continue;
    moves.emplace_back(uint32_t(std::stoul(line.substr(at + 7, arrow - at - 7))),
                       uint32_t(std::stoul(line.substr(arrow + 4))));
  }
  return moves;
}

// The same moves done plainly, each cluster read and then written
// write-through at its destination.
double PlainCopy(const std::string& image, const std::vector<std::pair<uint32_t, uint32_t>>& moves) {
  const int fd = ::open(image.c_str(), O_RDWR | O_DSYNC | O_CLOEXEC);
  if (fd < 0) Fail("cannot open " + image);
  std::vector<char> buffer(kCluster);
  const auto start = bench::Clock::now();
  for (const auto& [from, to] : moves) {
    if (::pread(fd, buffer.data(), kCluster, off_t((uint64_t(from) + 1) * kCluster)) !=
            ssize_t(kCluster) ||
        ::pwrite(fd, buffer.data(), kCluster, off_t((uint64_t(to) + 1) * kCluster)) !=
            ssize_t(kCluster))
      Fail("plain copy failed");
  }
  const double s = bench::Seconds(start);
  ::close(fd);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  bench::QuietQt();
  QApplication app(argc, argv);
  const bench::Args args = bench::ParseArgs(argc, argv);
  const uint32_t clustersPerFile = args.Small ? 20 : 100;
  std::unique_ptr<ib::TempDir> tmp;
  std::string work = args.Work;
  if (work.empty()) {
    tmp = std::make_unique<ib::TempDir>("qbench_defrag");
    work = tmp->Path();
  }
  setenv("QUENBRIX_DEVICES", work.c_str(), 1);
  core::SetAppDir(work);
  bench::EventsUi events;
  ui::CurrentUiScope useEvents(events);
  tools::ClusterMap map;
  map.show();
  tools::SetCurrentMap(&map);

  ib::ImageSpec spec;
  spec.SectorsPerCluster = kSpc;
  spec.LastCluster = kFiles * clustersPerFile * 2 + 200;
  ib::DiskImage model(spec);
  for (uint32_t f = 0; f < kFiles; ++f) {
    ib::FileSpec file;
    file.Path = "\\DataFiles\\rec" + std::to_string(f) + ".rec";
    for (uint32_t k = 0; k < clustersPerFile; ++k) file.Chain.push_back(20 + k * kFiles + f);
    file.Size = kCluster * clustersPerFile - 4096;
    file.Data = ib::Content::Pattern(f + 1);
    model.AddFile(file);
  }
  const std::string image = work + "/PhysicalDrive0";

  bench::Best moves, plain, clear;
  double eventSeconds = 0, stepSeconds = 0, moveSeconds = 0;
  size_t moved = 0;
  uint64_t otherWrites = 0;   // writes of the run besides the moved clusters
  uint32_t freeClusters = 0;
  for (int run = 0; run < kRuns; ++run) {
    model.Write(image);
    bench::Settle(image);
    std::remove(tools::DefragLogPath().c_str());
    core::ResetState();
    core::Flags = core::FlagNormal | core::FlagWriteMode | core::FlagSide0Writable;
    core::DiskId[0] = 0;
    if (!core::InitTopf(0, "PhysicalDrive0", true) || !core::LoadTopf(0, true))
      Fail("cannot load " + image);
    core::CheckState[31] = 2;
    map.ClearMap();

    bench::Clock::time_point start{}, movesEnd{}, clearStart{};
    double movesEvents = 0, movesSteps = 0;
    uint64_t movesWrites = 0;
    const uint64_t writesBefore = core::SectorWriteCalls;
    tools::DefragHooks hooks;
    hooks.SetStatus = [&](int line, const std::string& text) {
      if (line != 0) return;
      if (text == "Building defrag report") {
        movesEnd = bench::Clock::now();
        movesWrites = core::SectorWriteCalls - writesBefore;
        movesEvents = events.EventSeconds();
        movesSteps = events.StepSeconds();
      }
      if (text == "Clearing unused space") clearStart = bench::Clock::now();
    };
    tools::SetDefragHooks(hooks);
    tools::DefragDebugOn = true;   // the log names the moved clusters
    transfer::CancelState = 0;
    events.ResetCount();
    start = bench::Clock::now();
    const tools::DefragOutcome outcome = tools::DefragmentDisk(0);
    const auto end = bench::Clock::now();
    if (outcome != tools::DefragOutcome::Completed)
      Fail("defragmentation did not complete (" + std::to_string(int(outcome)) + ")");
    const double runMoves = std::chrono::duration<double>(movesEnd - start).count();
    moves.Add(runMoves);
    moveSeconds += runMoves;
    eventSeconds += movesEvents;
    stepSeconds += movesSteps;
    clear.Add(std::chrono::duration<double>(end - clearStart).count());
    freeClusters = uint32_t(core::Disk[0].LastCluster) + 1 - kFiles * clustersPerFile - 4;
    core::CloseDisk(core::Disk[0].Handle);
    core::Disk[0].Handle = 0;

    const auto logged = LoggedMoves();
    if (logged.empty()) Fail("the run moved nothing");
    moved = logged.size();
    otherWrites = movesWrites - std::min<uint64_t>(movesWrites, moved);
    model.Write(image);
    bench::Settle(image);
    plain.Add(PlainCopy(image, logged));
  }

  const double mbMoved = double(moved) * double(kCluster) / 1048576.0;
  const double mbCleared = double(freeClusters) * double(kCluster) / 1048576.0;
  std::printf("moved %zu clusters (%.0f MB) of %u fragmented files; the run also wrote %llu "
              "clusters of FAT, entries and folders\n",
              moved, mbMoved, kFiles, static_cast<unsigned long long>(otherWrites));
  const double ratio =
      bench::PrintFigure("defrag moves", mbMoved, moves.Value, "plain copy", plain.Value);
  std::printf("%-14s     %8.1f MB/s   (%.0f MB, best of 3)\n", "clear free", mbCleared / clear.Value,
              mbCleared);
  bench::PrintEvents("defrag moves",
                     bench::ShareOfEvents(eventSeconds, stepSeconds, moveSeconds,
                                          double(moved) * kRuns, double(kCluster),
                                          double(core::kMinSectorsPerCluster) * 512));
  std::printf("%.3f\n", ratio);
  return 0;
}
