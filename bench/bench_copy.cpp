// Throughput of the copy job: recordings from a recorder image to a PC
// folder, and PC files onto the image, each next to a plain copy of the
// same bytes with the same write-through (dd, oflag=dsync, the cluster size
// as block size) into the same place: a new PC file, or the very clusters of
// the image the job wrote (erased again after every copy). The data is cut
// into eight pieces, one file each, and job and reference take turns piece
// by piece; each figure adds up each piece's best of three runs. Untimed
// copies first make the PC files and warm the caches. Qt's events are
// processed as the program does it (after each cluster at most every
// ui::kStepEventsInterval), and the share of the job's time spent there is
// printed too. The last line is the smaller of the two ratios.
//
// Usage: bench_copy [--small] [work folder]   (default: a fresh folder under
// /tmp; --small copies 256 MB instead of 4 GB, for CI)
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "core/disk_format.h"
#include "core/disk_init.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/erase.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "tests/support/image_builder.h"
#include "transfer/job_host.h"
#include "transfer/job_state.h"
#include "transfer/jobs.h"

namespace {

namespace ib = imagebuilder;
constexpr uint32_t kSpc = 2068;
constexpr uint64_t kCluster = uint64_t(kSpc) * 512;
constexpr int kRuns = 3;
constexpr int kPieces = 8;

// A host whose panes hold every entry of the folder each side shows.
class BenchHost : public transfer::JobHost {
 public:
  std::string Label[2];
  std::string Checked[2];
  int ItemCount(int side) override { return int(Items(side).size()); }
  transfer::PaneItems Items(int side) override {
    transfer::PaneItems items;
    const core::DiskRec& d = core::Disk[side];
    for (int i = 0; i < d.FileCount; ++i)
      if (d.Files[size_t(i)].Name == Checked[side])
        items.push_back({"i" + std::to_string(i), true});
    return items;
  }
  int CountSelected(int side) override { return int(Items(side).size()); }
  void CheckSelectedItem(int) override {}
  void SetItemBold(int, int, bool) override {}
  void SetItemChecked(int side, int, bool checked) override {
    if (!checked) Checked[side].clear();
  }
  void SetItemIcon(int, int, const std::string&) override {}
  std::string PathLabel(int side) override { return Label[side]; }
  void DisableMenus() override {}
  void EnableMenus() override {}
  void ShowDirList(int) override {}
  void ShowFileList(int) override {}
  void ResetSummary(int) override {}
  bool AbsoluteETA() override { return true; }
};

double Dd(const std::string& args) {
  bench::Quiet();
  const auto t = bench::Clock::now();
  const std::string command = "dd " + args + " oflag=dsync status=none";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "dd failed: %s\n", command.c_str());
    std::exit(1);
  }
  const double s = bench::Seconds(t);
  if (std::getenv("BENCH_VERBOSE")) std::fprintf(stderr, "dd: %.3f s\n", s);
  return s;
}

int FindEntry(int side, const std::string& name) {
  const core::DiskRec& d = core::Disk[side];
  for (int i = 0; i < d.FileCount; ++i)
    if (d.Files[size_t(i)].Name == name) return i;
  return -1;
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "bench_copy: %s\n", why.c_str());
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  bench::QuietQt();
  QApplication app(argc, argv);
  const bench::Args args = bench::ParseArgs(argc, argv);
  const uint64_t size = args.Small ? 256ull * 1024 * 1024 : 4096ull * 1024 * 1024;
  const bench::WorkFolder folder(args, "benchcopy");
  const std::string& work = folder.Path;
  const std::string pc = work + "/pc/";
  const std::string image = work + "/PhysicalDrive0";
  if (ib::RefuseExistingDisk("bench_copy", image)) return 1;
  platform::MakePath(pc);
  setenv("QUENBRIX_DEVICES", work.c_str(), 1);
  core::SetAppDir(work);
  bench::EventsUi events;
  ui::CurrentUiScope useEvents(events);

  // The recording is cut into pieces, each its own file: job and reference
  // take turns piece by piece, so that both meet the disk in the same mood
  // (a virtual disk's speed drifts by a factor of two within seconds).
  const uint64_t pieceSize = size / kPieces;
  const uint64_t pieceClusters = (pieceSize + kCluster - 1) / kCluster;
  ib::ImageSpec spec;
  spec.SectorsPerCluster = kSpc;
  spec.LastCluster = uint32_t(2 * kPieces * pieceClusters + 100);
  ib::DiskImage model(spec);
  auto name = [](const char* stem, int piece, const char* ext) {
    return std::string(stem) + std::to_string(piece) + ext;
  };
  for (int i = 0; i < kPieces; ++i) {
    ib::FileSpec rec;
    rec.Path = "\\DataFiles\\" + name("film", i, ".rec");
    rec.Size = pieceSize;
    rec.Data = ib::Content::Pattern(uint32_t(5 + i));
    model.AddFile(rec);
  }
  std::printf("writing the %.0f MB test image...\n", double(size) / 1048576.0);
  model.Write(image);

  BenchHost host;
  transfer::SetJobHost(&host);
  transfer::SetVolumeLimitCheck([](const std::string&) { return false; });
  core::ResetState();
  core::Flags = core::FlagNormal | core::FlagWriteMode;
  core::DiskId[0] = 0;
  core::InitTopf(0, "PhysicalDrive0", true);
  core::LoadTopf(0, true);
  core::DiskId[1] = 1;
  core::CurrentFolder[1] = pc;
  core::LoadTopf(1, true);
  host.Label[0] = "\\DataFiles\\";
  host.Label[1] = pc;

  // The clusters the copies onto the image will take hold real blocks, as on
  // a disk: job and dd both overwrite them (never fill holes of the file).
  int32_t firstFree = -1;
  {
    for (size_t c = 0; c < core::Disk[0].FAT.size() && firstFree < 0; ++c)
      if (core::Disk[0].FAT[c].Next == 0) firstFree = int32_t(c);
    if (firstFree < 0) Fail("the image has no free cluster");
    const int fd = ::open(image.c_str(), O_WRONLY | O_CLOEXEC);
    std::vector<char> zeros(kCluster, 0);
    for (uint64_t k = 0; k < pieceClusters + 2; ++k)
      if (::pwrite(fd, zeros.data(), kCluster, off_t((uint64_t(firstFree) + 1 + k) * kCluster)) !=
          ssize_t(kCluster))
        Fail("cannot prepare the image");
    ::fsync(fd);
    ::close(fd);
  }

  double eventSeconds = 0, stepSeconds = 0, jobSeconds = 0;
  auto timedJob = [&](int side) {
    events.ResetCount();
    bench::Quiet();
    const auto t = bench::Clock::now();
    transfer::DoCopy(side, false);
    const double s = bench::Seconds(t);
    if (std::getenv("BENCH_VERBOSE")) std::fprintf(stderr, "job %d: %.3f s\n", side, s);
    eventSeconds += events.EventSeconds();
    stepSeconds += events.StepSeconds();
    jobSeconds += s;
    return s;
  };
  auto copyToPc = [&](int i) {
    host.Checked[0] = "\\DataFiles\\" + name("film", i, ".rec");
    const double s = timedJob(0);
    if (platform::FileLength(pc + name("film", i, ".rec")) != int64_t(pieceSize))
      Fail("image -> PC: wrong copy");
    return s;
  };

  // The PC files copied back are the pieces as the job writes them to a PC;
  // making them warms the caches for every run alike.
  for (int i = 0; i < kPieces; ++i) {
    copyToPc(i);
    std::rename((pc + name("film", i, ".rec")).c_str(), (pc + name("back", i, ".rec")).c_str());
  }
  core::LoadTopf(1, true);
  jobSeconds = eventSeconds = stepSeconds = 0;

  // Image -> PC: each piece as a new PC file, kept until the run ends.
  auto jobToPc = [&](int i) {
    const double s = copyToPc(i);
    std::remove((pc + name("film", i, ".rec")).c_str());
    core::LoadTopf(1, true);
    return s;
  };
  auto ddToPc = [&](int i) {
    const uint64_t first = model.Entry("\\DataFiles\\" + name("film", i, ".rec")).Chain.front();
    const double s = Dd("if=" + image + " of=" + pc + "plain.bin bs=" + std::to_string(kCluster) +
                        " skip=" + std::to_string(first + 1) +
                        " count=" + std::to_string(pieceClusters));
    std::remove((pc + "plain.bin").c_str());
    return s;
  };
  // PC -> image: each piece onto the image's first free clusters, erased
  // again afterwards (untimed); dd writes the same clusters.
  auto jobToImage = [&](int i) {
    const std::string back = name("back", i, ".rec");
    host.Checked[1] = pc + back;
    const double s = timedJob(1);
    const int copied = FindEntry(0, "\\DataFiles\\" + back);
    if (copied < 0 || core::Disk[0].Files[size_t(copied)].Size != double(pieceSize) ||
        core::Disk[0].Files[size_t(copied)].StartCluster != firstFree)
      Fail("PC -> image: wrong copy");
    if (!core::FSEraseFile(0, copied, true)) Fail("cannot erase the copy on the image");
    core::LoadTopf(0, true);
    return s;
  };
  auto ddToImage = [&](int i) {
    return Dd("if=" + pc + name("back", i, ".rec") + " of=" + image + " conv=notrunc bs=" +
              std::to_string(kCluster) + " seek=" + std::to_string(firstFree + 1));
  };

  // A run copies every piece with the job and with dd, the two taking turns
  // at going first from piece to piece and from run to run; a figure adds up
  // each piece's best of three runs (a new file on a virtual disk is written
  // at one of two speeds, a factor of two or three apart, by chance). Each
  // direction starts after an untimed dd run of its own kind, so that no
  // timed step follows a step of the other one.
  struct Figure {
    double Job = 0, Reference = 0;
  };
  auto direction = [&](auto job, auto reference) {
    std::vector<bench::Best> jobBest(kPieces), referenceBest(kPieces);
    for (int i = 0; i < kPieces; ++i) reference(i);
    for (int run = 0; run < kRuns; ++run) {
      for (int i = 0; i < kPieces; ++i) {
        if ((run + i) % 2 == 0) {
          jobBest[size_t(i)].Add(job(i));
          referenceBest[size_t(i)].Add(reference(i));
        } else {
          referenceBest[size_t(i)].Add(reference(i));
          jobBest[size_t(i)].Add(job(i));
        }
      }
    }
    Figure f;
    for (int i = 0; i < kPieces; ++i) {
      f.Job += jobBest[size_t(i)].Value;
      f.Reference += referenceBest[size_t(i)].Value;
    }
    return f;
  };
  const Figure out = direction(jobToPc, ddToPc);
  const Figure in = direction(jobToImage, ddToImage);

  const double mb = double(size) / 1048576.0;
  const double r1 =
      bench::PrintFigure("image -> PC", mb, out.Job, "dd", out.Reference);
  const double r2 = bench::PrintFigure("PC -> image", mb, in.Job, "dd", in.Reference);
  const double jobClusters = double(pieceClusters) * kPieces * 2 * kRuns;
  bench::PrintEvents("copy job", bench::ShareOfEvents(eventSeconds, stepSeconds, jobSeconds,
                                                      jobClusters, double(kCluster),
                                                      double(core::kMinSectorsPerCluster) * 512));
  std::printf("%.3f\n", std::min(r1, r2));
  transfer::SetJobHost(nullptr);
  return 0;
}
