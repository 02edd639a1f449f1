// Shared set-up of the disk-core tests: a temporary program folder and
// device folder (QUENBRIX_DEVICES), the scripted Ui as the current Ui, and a
// fresh disk model.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/iodebug.h"
#include "core/settings.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "ui/scripted_ui.h"

namespace disktest {

class DiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp_ = std::make_unique<imagebuilder::TempDir>("qdisk");
    testenv::UseFolders(tmp_->Path(), tmp_->Path());
    use_ = std::make_unique<ui::CurrentUiScope>(script);
  }
  void TearDown() override {
    testenv::CloseDisksAndReset();
    use_.reset();
  }

  std::string Folder() const { return tmp_->Path(); }
  std::string DrivePath(int n) const { return *tmp_ / ("PhysicalDrive" + std::to_string(n)); }
  std::string Drive(int n) const { return "PhysicalDrive" + std::to_string(n); }

  // Writes the image as drive n, opens it on the side and loads it.
  void WriteImage(const imagebuilder::DiskImage& image, int n = 0) { image.Write(DrivePath(n)); }
  bool Open(int side, int n) {
    core::DiskId[side] = -n;
    return core::InitTopf(side, Drive(n), true);
  }
  bool OpenAndLoad(int side, int n) {
    if (!Open(side, n)) return false;
    return core::LoadTopf(side, true);
  }

  // The record of a recorder path, or nullptr.
  const core::FileRec* Find(int side, const std::string& name) const {
    const core::DiskRec& d = core::Disk[side];
    for (int i = 0; i < d.FileCount; ++i)
      if (d.Files[size_t(i)].Name == name) return &d.Files[size_t(i)];
    return nullptr;
  }

  ui::ScriptedUi script;

 private:
  std::unique_ptr<imagebuilder::TempDir> tmp_;
  std::unique_ptr<ui::CurrentUiScope> use_;
};

}  // namespace disktest
