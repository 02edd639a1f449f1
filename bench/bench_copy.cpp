// Throughput of the copy job: a recording from a recorder image to a PC
// folder, and a PC file onto the image, each next to a plain copy of the
// same bytes with the same write-through (dd, oflag=dsync, the cluster size
// as block size) into the same place: a new PC file, or the very clusters of
// the image the job wrote (erased again after every run). Each figure is the
// best of three runs, job and reference taking turns at going first, after
// one untimed copy that makes the PC file and warms the caches. Qt's events
// are processed as the program does it (after each cluster at most every
// 20 ms), and the share of the job's time spent there is printed too. The
// last line is the smaller of the two ratios.
//
// Usage: bench_copy [--small] [work folder]   (default: a fresh folder under
// /tmp; --small copies 64 MB instead of 2 GB, for CI)
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
  const uint64_t size = args.Small ? 64ull * 1024 * 1024 : 2048ull * 1024 * 1024;
  const uint64_t clusters = (size + kCluster - 1) / kCluster;
  std::unique_ptr<ib::TempDir> temp;
  std::string work = args.Work;
  if (work.empty()) {
    temp = std::make_unique<ib::TempDir>("benchcopy");
    work = temp->Path();
  }
  const std::string pc = work + "/pc/";
  const std::string image = work + "/PhysicalDrive0";
  platform::MakePath(pc);
  setenv("QUENBRIX_DEVICES", work.c_str(), 1);
  core::SetAppDir(work);
  bench::EventsUi events;
  ui::CurrentUiScope useEvents(events);

  ib::ImageSpec spec;
  spec.SectorsPerCluster = kSpc;
  spec.LastCluster = uint32_t(2 * clusters + 100);
  ib::DiskImage model(spec);
  ib::FileSpec rec;
  rec.Path = "\\DataFiles\\film.rec";
  rec.Size = size;
  rec.Data = ib::Content::Pattern(5);
  model.AddFile(rec);
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
    for (uint64_t k = 0; k < clusters + 2; ++k)
      if (::pwrite(fd, zeros.data(), kCluster, off_t((uint64_t(firstFree) + 1 + k) * kCluster)) !=
          ssize_t(kCluster))
        Fail("cannot prepare the image");
    ::fsync(fd);
    ::close(fd);
  }
  const uint64_t first = model.Entry("\\DataFiles\\film.rec").Chain.front();

  bench::Best jobOut, ddOut, jobIn, ddIn;
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

  // The PC file copied back is the recording as the job writes it to a PC;
  // making it warms the caches for every run alike.
  host.Checked[0] = "\\DataFiles\\film.rec";
  transfer::DoCopy(0, false);
  if (platform::FileLength(pc + "film.rec") != int64_t(size)) Fail("image -> PC: wrong copy");
  std::rename((pc + "film.rec").c_str(), (pc + "back.rec").c_str());
  core::LoadTopf(1, true);

  auto jobToPc = [&] {
    host.Checked[0] = "\\DataFiles\\film.rec";
    jobOut.Add(timedJob(0));
    if (platform::FileLength(pc + "film.rec") != int64_t(size)) Fail("image -> PC: wrong copy");
    std::remove((pc + "film.rec").c_str());
    core::LoadTopf(1, true);
  };
  auto ddToPc = [&] {
    ddOut.Add(Dd("if=" + image + " of=" + pc + "plain.bin bs=" + std::to_string(kCluster) +
                 " skip=" + std::to_string(first + 1) + " count=" + std::to_string(clusters)));
    std::remove((pc + "plain.bin").c_str());
  };
  // The copy onto the image goes to its first free cluster and is erased
  // again afterwards; dd writes the same clusters.
  auto jobToImage = [&] {
    host.Checked[1] = pc + "back.rec";
    jobIn.Add(timedJob(1));
    const int copied = FindEntry(0, "\\DataFiles\\back.rec");
    if (copied < 0 || core::Disk[0].Files[size_t(copied)].Size != double(size) ||
        core::Disk[0].Files[size_t(copied)].StartCluster != firstFree)
      Fail("PC -> image: wrong copy");
    if (!core::FSEraseFile(0, copied, true)) Fail("cannot erase the copy on the image");
    core::LoadTopf(0, true);
  };
  auto ddToImage = [&] {
    ddIn.Add(Dd("if=" + pc + "back.rec of=" + image + " conv=notrunc bs=" +
                std::to_string(kCluster) + " seek=" + std::to_string(firstFree + 1)));
  };
  // Job and reference take turns at going first.
  for (int run = 0; run < kRuns; ++run) {
    if (run % 2 == 0) {
      jobToPc();
      ddToPc();
      jobToImage();
      ddToImage();
    } else {
      ddToPc();
      jobToPc();
      ddToImage();
      jobToImage();
    }
  }

  const double mb = double(size) / 1048576.0;
  const double r1 = bench::PrintFigure("image -> PC", mb, jobOut.Value, "dd", ddOut.Value);
  const double r2 = bench::PrintFigure("PC -> image", mb, jobIn.Value, "dd", ddIn.Value);
  const double jobClusters = double(clusters) * 2 * kRuns;
  bench::PrintEvents("copy job", bench::ShareOfEvents(eventSeconds, stepSeconds, jobSeconds,
                                                      jobClusters, double(kCluster),
                                                      double(core::kMinSectorsPerCluster) * 512));
  std::printf("%.3f\n", std::min(r1, r2));
  transfer::SetJobHost(nullptr);
  return 0;
}
