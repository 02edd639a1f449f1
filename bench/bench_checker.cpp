// The check-and-repair program where its cost may grow with the disk or the
// damage, in the offscreen window as the program runs:
//   - the results list: 32,701 lines and then 10,000 more through Addinfo
//     (each line shown at the top, the oldest dropped beyond the limit),
//     next to building the same strings;
//   - a repair of a disk whose root directory cluster is zeroed (a line for
//     every slot), of a disk whose FAT holds thousands of lost chains, and
//     of a folder of thousands of recordings whose sizes are wrong;
//   - a check of the largest disk the format allows: a sparse image of
//     2.2 TB at 32767 sectors a cluster, which must be left alone.
//
// Build Release and run from the program folder: bin/bench_checker [folder]
#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "checker/check_driver.h"
#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "checker/form1.h"
#include "checker/startup.h"
#include "checker/step_fat.h"
#include "core/settings.h"
#include "tests/support/image_builder.h"

namespace ib = imagebuilder;

namespace {

std::string Line(size_t k) {
  return "Files - Attribute of slot " + std::to_string(k) + " of directory '\\DataFiles\\' is invalid: set slot to unused";
}

// Opens PhysicalDrive0 of the work folder and runs the checks once; the
// seconds, the lines and the clusters written (their undo copies).
struct Run {
  double Seconds = 0;
  size_t Lines = 0;
  size_t Written = 0;
  int32_t SectorsPerCluster = 0;
};
Run CheckDrive(const std::string& work) {
  checker::ResetDiskState();
  checker::ClearResults();   // the window's list stays
  checker::ResetFatTables();
  checker::FatTablesLoaded = false;
  const std::string undo = work + "/undo";
  std::filesystem::remove_all(undo);
  std::filesystem::create_directory(undo);
  checker::OpenTarget(checker::StartTarget{checker::StartTarget::Kind::Drive, "PhysicalDrive0"});
  checker::SessionPrefix = undo + "/run - ";
  const auto t = bench::Clock::now();
  checker::RunChecks();
  Run r;
  r.Seconds = bench::Seconds(t);
  r.Lines = checker::ResultLines().size();
  for (const auto& entry : std::filesystem::directory_iterator(undo))
    r.Written += entry.path().string().find("_Original.bin") != std::string::npos;
  r.SectorsPerCluster = checker::SectorsPerCluster;
  checker::ResetDiskState();
  return r;
}

void Print(const char* what, const Run& r) {
  std::printf("%-44s %8.2f s   %6zu lines   %4zu clusters written   %d sectors a cluster\n", what, r.Seconds,
              r.Lines, r.Written, r.SectorsPerCluster);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  bench::QuietQt();
  QApplication app(argc, argv);
  const bench::Args args = bench::ParseArgs(argc, argv);
  const bench::WorkFolder folder(args, "benchchecker");
  const std::string& work = folder.Path;
  const std::string image = work + "/PhysicalDrive0";
  if (ib::RefuseExistingDisk("bench_checker", image)) return 1;
  setenv("QUENBRIX_DEVICES", work.c_str(), 1);
  core::SetAppDir(work);
  std::filesystem::current_path(work);
  bench::EventsUi events;
  ui::CurrentUiScope useEvents(events);
  checker::ResetCheckerState();
  checker::Form1 form;
  form.show();
  QApplication::processEvents();

  // ---- the results list
  const size_t first = checker::kMaxResultLines, more = 10000;
  std::vector<std::string> built;
  built.reserve(first + more);
  auto t = bench::Clock::now();
  for (size_t k = 0; k < first + more; ++k) built.push_back(std::string(checker::kFixed) + "\t" + Line(k));
  const double buildSeconds = bench::Seconds(t);
  built.clear();
  double firstSeconds[3] = {};   // the first 1000 lines, the 1000 up to the limit, the 10,000 beyond it
  t = bench::Clock::now();
  for (size_t k = 0; k < first + more; ++k) {
    checker::Addinfo(checker::kFixed, Line(k));
    if (k + 1 == 1000) firstSeconds[0] = bench::Seconds(t);
    if (k + 1 == first - 1000) t = bench::Clock::now();
    if (k + 1 == first) {
      firstSeconds[1] = bench::Seconds(t);
      t = bench::Clock::now();
    }
  }
  firstSeconds[2] = bench::Seconds(t);
  std::printf("building %zu lines: %.3f s (%.2f us a line)\n", first + more, buildSeconds,
              1e6 * buildSeconds / double(first + more));
  std::printf("Addinfo, events and list: first 1000 lines %.1f us a line, the 1000 up to %zu %.1f us a line, "
              "%zu beyond it %.1f us a line (the list holds %zu)\n",
              1e6 * firstSeconds[0] / 1000, first, 1e6 * firstSeconds[1] / 1000, more,
              1e6 * firstSeconds[2] / double(more), checker::ResultLines().size());

  // ---- repairs of a badly damaged disk
  constexpr uint32_t kSpc = 2068;
  ib::ImageSpec spec;
  spec.SectorsPerCluster = kSpc;
  spec.LastCluster = args.Small ? 2000 : 0x1FFFF;
  spec.VersionMinor = 1;
  // A fresh image (`shape` adds to it before it is written), damaged as
  // `damage` says, repaired, and checked once more.
  using Damage = std::function<void(ib::DiskImage&, ib::ImageFile&)>;
  auto repairOf = [&](const char* what, const Damage& damage, const std::function<void(ib::DiskImage&)>& shape = {}) {
    {
      ib::DiskImage model(spec);
      if (shape) shape(model);
      model.Write(image);
      ib::ImageFile file(image, kSpc);
      damage(model, file);
    }
    Print(what, CheckDrive(work));
    Print("  the same disk again", CheckDrive(work));
  };
  repairOf(
      "repair, root directory cluster zeroed",
      [&](ib::DiskImage&, ib::ImageFile& file) {
        file.WriteClusterView(1, std::vector<uint8_t>(size_t(kSpc) * 512, 0));
      },
      [](ib::DiskImage& model) { model.AddFolder("\\DataFiles\\Films"); });
  repairOf("repair, a lost cluster on every tenth index", [](ib::DiskImage& model, ib::ImageFile& file) {
    const uint32_t last = uint32_t(model.LastCluster());
    for (uint32_t i = 100; i < last; i += 10) file.SetFatEntry(i, ib::kFatEnd);
    file.RecomputeFatCrc(last);
  });
  repairOf("repair, lost chains running into one cluster", [](ib::DiskImage& model, ib::ImageFile& file) {
    // Lost chains that all run into one cluster, as a FAT holding a
    // repeated pattern leaves them.
    const uint32_t last = uint32_t(model.LastCluster());
    const uint32_t into = last / 2;
    for (uint32_t i = 100; i < last; i += 8)
      if (i != into) file.SetFatEntry(i, into);
    file.SetFatEntry(into, ib::kFatEnd);
    file.RecomputeFatCrc(last);
  });
  repairOf("repair, recordings whose size is wrong", [&](ib::DiskImage& model, ib::ImageFile& file) {
    // \DataFiles\ full of recordings of two clusters whose entries say one
    // (their data stays sparse).
    const uint32_t folder = model.FolderIndex("\\DataFiles");
    std::vector<uint8_t> system = file.ReadClusterView(0);
    std::vector<uint8_t> dir = file.ReadClusterView(folder + 1);
    const int room = int(dir.size() / 128), count = std::min(room - 2, args.Small ? 400 : 8000);
    uint32_t next = 100;
    for (int k = 0; k < count; ++k, next += 2) {
      uint8_t* e = dir.data() + 128 * (2 + k);
      std::fill(e, e + 128, 0);
      e[0] = ib::kAttrRecording;
      ib::PutBE16(e + 1, ib::MjdOf(2008, 3, 4));
      ib::PutBE32(e + 8, next);
      ib::PutBE32(e + 12, 1);
      const std::string name = "Recording " + std::to_string(k) + ".rec";
      std::copy(name.begin(), name.end(), e + 20);
      for (uint32_t table : {ib::kFat1Offset, ib::kFat2Offset}) {
        ib::PutBE24(system.data() + table + 3 * next, next + 1);
        ib::PutBE24(system.data() + table + 3 * (next + 1), ib::kFatEnd);
      }
    }
    ib::PutBE32(dir.data() + 16, uint32_t(dir.size() - 128 * (2 + count)));
    file.WriteClusterView(folder + 1, dir);
    file.WriteClusterView(0, system);
    file.RecomputeFatCrc(uint32_t(model.LastCluster()));
    std::printf("%d recordings in \\DataFiles\\ whose size is wrong:\n", count);
  });

  // ---- the largest disk: 2.2 TB at 32767 sectors a cluster, sparse
  if (!args.Small) {
    std::filesystem::remove(image);
    ib::ImageSpec largest;
    largest.SectorsPerCluster = 32767;
    largest.LastCluster = 0x1FFFF;
    largest.VersionMinor = 1;
    ib::DiskImage model(largest);
    model.AddFolder("\\DataFiles\\Films");
    model.Write(image);
    std::printf("image: %.2f TB (sparse)\n", double(std::filesystem::file_size(image)) / 1e12);
    const Run r = CheckDrive(work);
    Print("check of a clean 2.2 TB disk", r);
    std::filesystem::remove(image);
    return r.Written == 0 && r.SectorsPerCluster == 32767 ? 0 : 2;
  }
  return 0;
}
