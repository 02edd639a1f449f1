// Set-up shared by the tests of the check-and-repair steps: a temporary
// folder that is the device folder and the current folder (the undo copies
// land there), the scripted Ui, the checker's state reset, and a builder
// image opened as PhysicalDrive0 through the checker's own disk layer.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "checker/field_access.h"
#include "checker/step_dirscan.h"
#include "checker/step_fat.h"
#include "checker/steps.h"
#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fsck.h"
#include "core/settings.h"
#include "tests/support/image_builder.h"
#include "ui/scripted_ui.h"

namespace steptest {

namespace ib = imagebuilder;

constexpr uint32_t kSpc = 2068;
constexpr uint64_t kClusterBytes = uint64_t(kSpc) * 512;

inline ib::ImageSpec SmallSpec(uint32_t lastCluster = 60) {
  ib::ImageSpec spec;
  spec.SectorsPerCluster = kSpc;
  spec.LastCluster = lastCluster;
  spec.VersionMinor = 1;   // the backup superblock must say 0x0101
  return spec;
}

// A date value (days since 30 December 1899) of a calendar day and time.
inline double DateValue(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
  ib::Date date;
  date.Year = y; date.Month = m; date.Day = d; date.Hour = hh; date.Minute = mm; date.Second = ss;
  return ib::DateValueOf(date);
}

class StepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp_ = std::make_unique<ib::TempDir>("qsteps");
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(tmp_->Path());
    setenv("QUENBRIX_DEVICES", tmp_->Path().c_str(), 1);
    core::SetAppDir(tmp_->Path());
    use_ = std::make_unique<ui::CurrentUiScope>(script);
    checker::ResetCheckerState();
    checker::ResetDiskState();
    checker::ResetFatTables();
    checker::AllocateFoundEntries();
    checker::FatTablesLoaded = false;
    checker::FileMode = false;
    checker::SessionPrefix = "test - ";
    // A fixed clock: 15 June 2010, 12:00.
    std::tm now{};
    now.tm_year = 110; now.tm_mon = 5; now.tm_mday = 15; now.tm_hour = 12;
    oldHook_ = core::SetNowHook([now] { return now; });
  }
  void TearDown() override {
    core::SetNowHook(oldHook_);
    image_.reset();
    checker::ResetDiskState();
    checker::ResetCheckerState();
    if (core::Disk[0].Handle >= 1) core::CloseDisk(core::Disk[0].Handle);
    core::ResetState();
    core::ResetFsckState();
    use_.reset();
    std::filesystem::current_path(previous_);
  }

  std::string DrivePath() const { return *tmp_ / "PhysicalDrive0"; }
  std::string Folder() const { return tmp_->Path(); }

  // Writes the model as drive 0 and opens it in the checker.
  void Open(const ib::DiskImage& model) {
    model.Write(DrivePath());
    checker::InitTopf("PhysicalDrive0");
    image_ = std::make_unique<ib::ImageFile>(DrivePath(), model.SectorsPerCluster());
  }
  ib::ImageFile& Image() { return *image_; }

  std::vector<std::string> Lines() const { return checker::ResultLinesCopy(); }
  void ClearLines() { checker::ClearResults(); }
  static std::string L(const std::string& kind, const std::string& text) { return kind + "\t" + text; }
  // True when every line is an "OK:" or "Info:" line.
  bool OnlyOkAndInfo() const {
    for (const auto& line : Lines())
      if (line.rfind("OK:\t", 0) != 0 && line.rfind("Info:\t", 0) != 0) return false;
    return true;
  }
  bool HasLine(const std::string& line) const {
    for (const auto& l : Lines())
      if (l == line) return true;
    return false;
  }
  std::string AllLines() const {
    std::string all;
    for (const auto& l : Lines()) all += l + "\n";
    return all;
  }

  // Undo copy of FAT index `fatIndex` exists (the cluster was written).
  bool Written(int32_t fatIndex) const {
    return std::filesystem::exists(*tmp_ / ("test - " + checker::ClusterFileStem(fatIndex) + "_Original.bin"));
  }

  // The seven steps as the check driver runs them.
  void RunAllSteps() {
    for (int pass = 0; pass < 20; ++pass) {
      checker::LostDirectoryRecovered = false;
      checker::fsck_01_SuperBlock();
      checker::fsck_02_RootDir();
      checker::fsck_03_Cluster0Root();
      checker::fsck_04_ScanDirectories();
      checker::fsck_05_FAT();
      if (!checker::LostDirectoryRecovered) break;
    }
    checker::fsck_06_FATSubDirsXCheck();
    checker::fsck_07_SuperBlockDependencies();
  }

  // Runs the main program's file-system check on the image; its findings.
  bool MainFsck(std::string* findings = nullptr) {
    core::ResetState();
    core::ResetFsckState();
    core::Flags = core::FlagNormal;
    core::DiskId[0] = 0;
    bool ok = core::InitTopf(0, "PhysicalDrive0", false) && core::LoadTopf(0, true) && core::FSCK(0);
    if (findings) {
      findings->clear();
      for (int step = 1; step < core::kFsckSteps; ++step)
        if (!core::FsckResults[step].Text.empty())
          *findings += std::to_string(step) + ": " + core::FsckResults[step].Text + "; ";
    }
    if (core::Disk[0].Handle >= 1) core::CloseDisk(core::Disk[0].Handle);
    core::Disk[0].Handle = 0;
    return ok;
  }

  // A view slot of a folder cluster, changed by `edit`.
  template <class F>
  void EditSlot(uint32_t folder, int slot, F edit) {
    auto bytes = Image().ReadSlot(folder, slot);
    edit(bytes);
    Image().WriteSlot(folder, slot, bytes);
  }

  // Writes an entry into a slot of a folder as the main program does: the
  // folder's "." end takes the slot in.
  void PlantEntry(uint32_t folder, int slot, const std::vector<uint8_t>& entry) {
    Image().WriteSlot(folder, slot, entry);
    const int64_t freeBytes = int64_t(Image().ClusterBytes()) - int64_t(slot + 1) * 128;
    EditSlot(folder, 0, [&](std::vector<uint8_t>& dot) {
      if (int64_t(ib::GetBE32(&dot[16])) > freeBytes) ib::PutBE32(&dot[16], uint32_t(freeBytes));
    });
  }

  ui::ScriptedUi script;

 private:
  std::unique_ptr<ib::TempDir> tmp_;
  std::filesystem::path previous_;
  std::unique_ptr<ui::CurrentUiScope> use_;
  std::unique_ptr<ib::ImageFile> image_;
  std::function<std::tm()> oldHook_;
};

}  // namespace steptest
