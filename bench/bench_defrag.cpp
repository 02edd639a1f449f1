// Throughput of the defragmenter: a sparse recorder image with six
// recordings of about 125 MB each whose clusters are interleaved, compacted
// by the engine with its cluster map on screen, next to a plain copy of the
// very same clusters (the moves the run logged, on a twin of the start
// image: pread, then pwrite with O_DSYNC, one cluster at a time), which is
// the least those moves cost. The two take turns: whenever the engine turns
// to the next item, the moves it made since are copied plainly on the twin,
// with the engine's clock stopped, so both meet the disk in the same mood.
// The moves are timed from the start of the run to its report, piece by
// piece (from one turn to the next), and a figure adds up each piece's best
// of three runs (the runs are alike); the free-space clearing that ends a
// run is timed on its own, best of three. The share of the run spent
// processing events (map repaints included) is printed too. The last line
// is the ratio.
//
// Before it, the run's growth with the number of entries: the same eight
// fragmented recordings on a disk with about 1,600 and with about 12,800
// other entries (one-cluster files, spread over folders in an order unlike
// their order on the disk, and behind the recordings, so that every rebuild
// of the work list holds them all until the recordings are in place; their
// names start with "_", so they come after the recordings and stay where
// they are). The run is timed in user CPU seconds (the program's own work,
// not the system's disk writes) up to the free-space clearing; the larger
// disk should take at most about ten times as long.
//
// Usage: bench_defrag [--small] [--entries] [work folder]   (default: a
// fresh folder under /tmp; --small uses files of 30 clusters and 200 and
// 1,600 entries, for CI; --entries measures only the growth)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
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
constexpr uint32_t kFiles = 6;
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

// The moves done plainly on the twin image (open write-through), each
// cluster read and then written at its destination; the time they took.
double PlainCopy(int fd, const std::vector<std::pair<uint32_t, uint32_t>>& moves, size_t from) {
  static std::vector<char> buffer(kCluster);
  const auto start = bench::Clock::now();
  for (size_t k = from; k < moves.size(); ++k) {
    const auto [source, destination] = moves[k];
    if (::pread(fd, buffer.data(), kCluster, off_t((uint64_t(source) + 1) * kCluster)) !=
            ssize_t(kCluster) ||
        ::pwrite(fd, buffer.data(), kCluster, off_t((uint64_t(destination) + 1) * kCluster)) !=
            ssize_t(kCluster))
      Fail("plain copy failed");
  }
  return bench::Seconds(start);
}

// The program's own CPU time so far (user time).
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) * 1e-6;
}

// The run on a disk with `entries` one-cluster files besides the eight
// fragmented recordings: the passes it took and its user CPU seconds up to
// the free-space clearing. False when it did not complete.
bool ScalingRun(const std::string& work, uint32_t entries, uint32_t clustersPerRecording,
                uint32_t& passes, double& seconds) {
  constexpr uint32_t kRecordings = 8;
  constexpr uint32_t kPerFolder = 800;   // a folder the loader reads holds up to 1,000
  constexpr uint32_t kFirst = 4;   // after the standard folders
  const uint32_t folders = (entries + kPerFolder - 1) / kPerFolder;
  const uint32_t recordingClusters = kRecordings * clustersPerRecording;
  ib::ImageSpec spec;
  spec.SectorsPerCluster = kSpc;
  spec.LastCluster = kFirst + folders + recordingClusters + entries + recordingClusters + 200;
  ib::DiskImage model(spec);
  for (uint32_t k = 0; k < folders; ++k) model.AddFolder("\\DataFiles\\Box" + std::to_string(k), kFirst + k);
  const uint32_t recordingsAt = kFirst + folders;
  for (uint32_t f = 0; f < kRecordings; ++f) {
    ib::FileSpec file;
    file.Path = "\\DataFiles\\rec" + std::to_string(f) + ".rec";
    for (uint32_t k = 0; k < clustersPerRecording; ++k) file.Chain.push_back(recordingsAt + k * kRecordings + f);
    file.Size = kCluster * clustersPerRecording - 4096;
    file.Data = ib::Content::Pattern(f + 1);
    model.AddFile(file);
  }
  // Entry e sits at the e-th index behind the recordings, in the folder
  // e % folders: the folder walk meets them in another order than the disk.
  const uint32_t entriesAt = recordingsAt + recordingClusters;
  for (uint32_t e = 0; e < entries; ++e) {
    ib::FileSpec file;
    const uint32_t k = e % folders;
    file.Path = "\\DataFiles\\Box" + std::to_string(k) + "\\_note" + std::to_string(e) + ".txt";
    file.StartIndex = entriesAt + e;
    file.Size = 1000;
    file.Data = ib::Content::Pattern(e);
    model.AddFile(file);
  }
  const std::string image = work + "/PhysicalDrive0";
  model.Write(image);
  core::ResetState();
  core::Flags = core::FlagNormal | core::FlagWriteMode | core::FlagSide0Writable;
  core::DiskId[0] = 0;
  if (!core::InitTopf(0, "PhysicalDrive0", true) || !core::LoadTopf(0, true)) Fail("cannot load " + image);
  core::CheckState[31] = 2;
  tools::CurrentMap()->ClearMap();
  passes = 0;
  double start = 0, end = 0;
  tools::DefragHooks hooks;
  hooks.SetStatus = [&](int line, const std::string& text) {
    if (line != 0) return;
    if (text.rfind("Defragmenting ", 0) == 0 || text.rfind("Claiming space", 0) == 0) ++passes;
    if (text == "Clearing unused space") end = CpuSeconds();
  };
  tools::SetDefragHooks(hooks);
  tools::DefragDebugOn = false;
  transfer::CancelState = 0;
  start = CpuSeconds();
  const tools::DefragOutcome outcome = tools::DefragmentDisk(0);
  core::CloseDisk(core::Disk[0].Handle);
  core::Disk[0].Handle = 0;
  std::remove(image.c_str());
  seconds = end - start;
  return outcome == tools::DefragOutcome::Completed;
}

// The growth with the entries: best of three runs of each size.
void EntriesFigure(const std::string& work, bool small) {
  const uint32_t fewer = small ? 200 : 1600, more = fewer * 8;
  double taken[2] = {0, 0};
  for (int size = 0; size < 2; ++size) {
    const uint32_t entries = size == 0 ? fewer : more;
    bench::Best best;
    uint32_t passes = 0;
    for (int run = 0; run < kRuns; ++run) {
      double seconds = 0;
      if (!ScalingRun(work, entries, small ? 4 : 12, passes, seconds))
        Fail("defragmentation with " + std::to_string(entries) + " entries did not complete");
      best.Add(seconds);
    }
    taken[size] = best.Value;
    std::printf("%-14s %6u entries: %u passes, %7.3f s of user CPU (best of 3)\n", "defrag list", entries,
                passes, best.Value);
  }
  std::printf("%-14s %u times the entries take %.1f times as long\n", "defrag list", more / fewer,
              taken[1] / std::max(taken[0], 1e-9));
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  bench::QuietQt();
  QApplication app(argc, argv);
  // --entries: only the growth with the entries.
  std::vector<char*> rest;
  bool entriesOnly = false;
  for (int i = 0; i < argc; ++i) {
    if (std::string(argv[i]) == "--entries")
      entriesOnly = true;
    else
      rest.push_back(argv[i]);
  }
  const bench::Args args = bench::ParseArgs(int(rest.size()), rest.data());
  const uint32_t clustersPerFile = args.Small ? 30 : 125;
  const bench::WorkFolder folder(args, "qbench_defrag");
  const std::string& work = folder.Path;
  setenv("QUENBRIX_DEVICES", work.c_str(), 1);
  core::SetAppDir(work);
  bench::EventsUi events;
  ui::CurrentUiScope useEvents(events);
  tools::ClusterMap map;
  map.show();
  tools::SetCurrentMap(&map);
  if (entriesOnly) {
    EntriesFigure(work, args.Small);
    return 0;
  }

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
  if (ib::RefuseExistingDisk("bench_defrag", image)) return 1;

  const std::string twin = work + "/twin.img";

  // The moves' time piece by piece (from one turn of the engine to the
  // next), the engine's and the plain copy's: the runs are alike, so a
  // figure adds up each piece's best of three runs.
  std::vector<bench::Best> movesPieces, plainPieces;
  bench::Best clear;
  double eventSeconds = 0, stepSeconds = 0, moveSeconds = 0;
  size_t moved = 0;
  uint64_t otherWrites = 0;   // writes of the run besides the moved clusters
  uint32_t freeClusters = 0;
  for (int run = 0; run < kRuns; ++run) {
    model.Write(image);
    model.Write(twin);
    bench::Settle(image);
    bench::Settle(twin);
    const int twinFd = ::open(twin.c_str(), O_RDWR | O_DSYNC | O_CLOEXEC);
    if (twinFd < 0) Fail("cannot open " + twin);
    std::remove(tools::DefragLogPath().c_str());
    core::ResetState();
    core::Flags = core::FlagNormal | core::FlagWriteMode | core::FlagSide0Writable;
    core::DiskId[0] = 0;
    if (!core::InitTopf(0, "PhysicalDrive0", true) || !core::LoadTopf(0, true))
      Fail("cannot load " + image);
    core::CheckState[31] = 2;
    map.ClearMap();

    bench::Clock::time_point pieceStart{}, clearStart{};
    bool movesDone = false;
    double movesEvents = 0, movesSteps = 0, runMoves = 0;
    size_t piece = 0, replayed = 0;
    uint64_t movesWrites = 0;
    const uint64_t writesBefore = core::SectorWriteCalls;
    tools::DefragHooks hooks;
    hooks.SetStatus = [&](int line, const std::string& text) {
      if (line != 0) return;
      if (text == "Clearing unused space") clearStart = bench::Clock::now();
      if (movesDone) return;
      // The engine turns to something new (the report ends the moves): its
      // moves since are copied plainly now, off its clock.
      const double engine = bench::Seconds(pieceStart);
      runMoves += engine;
      if (text == "Building defrag report") {
        movesDone = true;
        movesWrites = core::SectorWriteCalls - writesBefore;
        movesEvents = events.EventSeconds();
        movesSteps = events.StepSeconds();
      }
      const auto logged = LoggedMoves();
      const double copy = logged.size() > replayed ? PlainCopy(twinFd, logged, replayed) : 0.0;
      replayed = logged.size();
      if (movesPieces.size() <= piece) movesPieces.resize(piece + 1);
      if (plainPieces.size() <= piece) plainPieces.resize(piece + 1);
      movesPieces[piece].Add(engine);
      plainPieces[piece].Add(copy);
      ++piece;
      pieceStart = bench::Clock::now();
    };
    tools::SetDefragHooks(hooks);
    tools::DefragDebugOn = true;   // the log names the moved clusters
    transfer::CancelState = 0;
    events.ResetCount();
    pieceStart = bench::Clock::now();
    const tools::DefragOutcome outcome = tools::DefragmentDisk(0);
    const auto end = bench::Clock::now();
    ::close(twinFd);
    if (outcome != tools::DefragOutcome::Completed || !movesDone)
      Fail("defragmentation did not complete (" + std::to_string(int(outcome)) + ")");
    moveSeconds += runMoves;
    eventSeconds += movesEvents;
    stepSeconds += movesSteps;
    clear.Add(std::chrono::duration<double>(end - clearStart).count());
    freeClusters = uint32_t(core::Disk[0].LastCluster) + 1 - kFiles * clustersPerFile - 4;
    core::CloseDisk(core::Disk[0].Handle);
    core::Disk[0].Handle = 0;

    moved = replayed;
    if (moved == 0) Fail("the run moved nothing");
    otherWrites = movesWrites - std::min<uint64_t>(movesWrites, moved);
  }
  if (std::getenv("BENCH_VERBOSE"))
    for (size_t k = 0; k < movesPieces.size(); ++k)
      std::fprintf(stderr, "piece %zu: engine %.4f s, plain copy %.4f s\n", k,
                   movesPieces[k].Value, plainPieces[k].Value);
  double movesBest = 0, plainBest = 0;
  for (const auto& p : movesPieces) movesBest += p.Value;
  for (const auto& p : plainPieces) plainBest += p.Value;
  std::remove(twin.c_str());

  const double mbMoved = double(moved) * double(kCluster) / 1048576.0;
  const double mbCleared = double(freeClusters) * double(kCluster) / 1048576.0;
  std::printf("moved %zu clusters (%.0f MB) of %u fragmented files; the run also wrote %llu "
              "clusters of FAT, entries and folders\n",
              moved, mbMoved, kFiles, static_cast<unsigned long long>(otherWrites));
  const double ratio =
      bench::PrintFigure("defrag moves", mbMoved, movesBest, "plain copy", plainBest);
  std::printf("%-14s     %8.1f MB/s   (%.0f MB, best of 3)\n", "clear free", mbCleared / clear.Value,
              mbCleared);
  bench::PrintEvents("defrag moves",
                     bench::ShareOfEvents(eventSeconds, stepSeconds, moveSeconds,
                                          double(moved) * kRuns, double(kCluster),
                                          double(core::kMinSectorsPerCluster) * 512));
  EntriesFigure(work, args.Small);
  std::printf("%.3f\n", ratio);
  return 0;
}
