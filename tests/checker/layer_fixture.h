// Fixture for the check program's layer tests: a temp folder that is the
// current folder for the test (undo copies land there), a scripted Ui, a
// fixed clock, and fresh module state.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "core/error_handler.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "ui/scripted_ui.h"

namespace checkertest {

namespace ib = imagebuilder;

class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    savedCwd_ = cwd;
    ASSERT_EQ(chdir(temp_.Path().c_str()), 0);
    core::ResetErrorState();
    core::SetNowHook([] { return testenv::LocalTime(2024, 3, 5, 14, 7, 30); });
    checker::ResetDiskState();
    checker::ResetCheckerState();
    checker::ResetFatTables();
    checker::SessionPrefix = checker::MakeSessionPrefix();
  }
  void TearDown() override {
    checker::ResetDiskState();
    core::SetNowHook(nullptr);
    ASSERT_EQ(chdir(savedCwd_.c_str()), 0);
  }

  std::string Path(const std::string& name) const { return temp_ / name; }

  // Writes the image and opens it as the program's disk.
  std::string OpenImage(const ib::DiskImage& image, const std::string& name = "disk.img") {
    const std::string path = Path(name);
    image.Write(path);
    checker::FileMode = false;
    checker::InitTopf(path);
    return path;
  }
  // Writes the image's dump and opens it in file mode; returns the base path.
  std::string OpenDump(const ib::DiskImage& image, const std::string& name = "dump") {
    const std::string base = Path(name);
    image.WriteDump(base);
    checker::FileMode = true;
    checker::InitTopf(base);
    return base;
  }

  static std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
  static bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

  ib::TempDir temp_{"checker"};
  ui::ScriptedUi ui_;
  ui::CurrentUiScope scope_{ui_};

 private:
  std::string savedCwd_;
};

}  // namespace checkertest
