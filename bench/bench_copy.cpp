// Throughput of the copy job: a 2 GB recording from a recorder image to a PC
// folder, and a 2 GB PC file onto the image, each next to a plain copy of
// the same bytes with the same write-through (dd, oflag=dsync, the cluster
// size as block size). The last line is the smaller of the two ratios.
//
// Usage: bench_copy [work folder]   (default: a fresh folder under /tmp)
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/disk_init.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
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
constexpr uint64_t kSize = 2048ull * 1024 * 1024;   // 2 GiB

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

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Dd(const std::string& args) {
  const auto t = std::chrono::steady_clock::now();
  const std::string command = "dd " + args + " oflag=dsync status=none";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "dd failed: %s\n", command.c_str());
  return Seconds(t);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::unique_ptr<ib::TempDir> temp;
  std::string work;
  if (argc > 1) {
    work = argv[1];
  } else {
    temp = std::make_unique<ib::TempDir>("benchcopy");
    work = temp->Path();
  }
  const std::string pc = work + "/pc/";
  platform::MakePath(pc);
  setenv("QUENBRIX_DEVICES", work.c_str(), 1);
  core::SetAppDir(work);

  ib::ImageSpec spec;
  spec.SectorsPerCluster = kSpc;
  spec.LastCluster = 2 * uint32_t(kSize / kCluster) + 100;
  ib::DiskImage model(spec);
  ib::FileSpec rec;
  rec.Path = "\\DataFiles\\film.rec";
  rec.Size = kSize;
  rec.Data = ib::Content::Pattern(5);
  model.AddFile(rec);
  std::printf("writing the 2 GB test image...\n");
  model.Write(work + "/PhysicalDrive0");

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

  // 1. Recorder image -> PC folder.
  host.Checked[0] = "\\DataFiles\\film.rec";
  auto t = std::chrono::steady_clock::now();
  transfer::DoCopy(0, false);
  const double jobOut = Seconds(t);
  const uint64_t first = model.Entry("\\DataFiles\\film.rec").Chain.front();
  const double ddOut = Dd("if=" + work + "/PhysicalDrive0 of=" + pc + "plain.bin bs=" +
                          std::to_string(kCluster) + " skip=" + std::to_string(first + 1) +
                          " count=" + std::to_string(kSize / kCluster + 1));
  std::remove((pc + "plain.bin").c_str());

  // 2. PC file -> recorder image (the copy made above, renamed).
  std::rename((pc + "film.rec").c_str(), (pc + "back.rec").c_str());
  core::LoadTopf(1, true);
  host.Checked[1] = pc + "back.rec";
  t = std::chrono::steady_clock::now();
  transfer::DoCopy(1, false);
  const double jobIn = Seconds(t);
  const uint64_t seek = model.LastCluster() - kSize / kCluster - 2;   // a free stretch of the image
  const double ddIn = Dd("if=" + pc + "back.rec of=" + work + "/PhysicalDrive0 conv=notrunc bs=" +
                         std::to_string(kCluster) + " seek=" + std::to_string(seek));

  const double mb = double(kSize) / 1048576.0;
  const double r1 = (mb / jobOut) / (mb / ddOut);
  const double r2 = (mb / jobIn) / (mb / ddIn);
  std::printf("image -> PC   job %8.1f MB/s   dd %8.1f MB/s   ratio %.3f\n", mb / jobOut, mb / ddOut, r1);
  std::printf("PC -> image   job %8.1f MB/s   dd %8.1f MB/s   ratio %.3f\n", mb / jobIn, mb / ddIn, r2);
  std::printf("%.3f\n", r1 < r2 ? r1 : r2);
  transfer::SetJobHost(nullptr);
  return 0;
}
