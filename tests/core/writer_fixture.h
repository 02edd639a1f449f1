// Set-up shared by the tests of the disk writers and the file-system check:
// a temporary program folder that is also the device folder, the scripted Ui,
// a fresh disk model, and helpers to look at the image before and after.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fsck.h"
#include "core/iodebug.h"
#include "core/settings.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "ui/scripted_ui.h"

namespace writertest {

namespace ib = imagebuilder;

// A small disk: cluster size 2068, a few dozen clusters.
inline ib::ImageSpec SmallSpec(uint32_t lastCluster = 40) {
  ib::ImageSpec spec;
  spec.SectorsPerCluster = 2068;
  spec.LastCluster = lastCluster;
  return spec;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> v;
  for (int b : list) v.push_back(uint8_t(b));
  return v;
}

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp_ = std::make_unique<ib::TempDir>("qwriter");
    testenv::UseFolders(tmp_->Path(), tmp_->Path());
    core::ResetFsckState();
    core::Flags = core::FlagNormal | core::FlagWriteMode;
    use_ = std::make_unique<ui::CurrentUiScope>(script);
  }
  void TearDown() override {
    image_.reset();
    testenv::CloseDisksAndReset();
    core::ResetFsckState();
    use_.reset();
  }

  std::string Folder() const { return tmp_->Path(); }
  std::string DrivePath(int n = 0) const { return *tmp_ / ("PhysicalDrive" + std::to_string(n)); }

  // Writes the model as drive 0, opens it on side 0 and loads it.
  void Load(const ib::DiskImage& model, int side = 0) {
    model.Write(DrivePath(0));
    core::DiskId[side] = 0;
    ASSERT_TRUE(core::InitTopf(side, "PhysicalDrive0", true));
    ASSERT_TRUE(core::LoadTopf(side, true));
    image_ = std::make_unique<ib::ImageFile>(DrivePath(0));
  }
  // Reloads side 0 from the disk (after raw changes to the image).
  void Reload(int side = 0) {
    core::InvalidateSideCache(side);
    ASSERT_TRUE(core::LoadTopf(side, true));
  }
  ib::ImageFile& Image() { return *image_; }

  int IndexOf(const std::string& name, int side = 0) const {
    const core::DiskRec& d = core::Disk[side];
    for (int i = 0; i < d.FileCount; ++i)
      if (d.Files[size_t(i)].Name == name) return i;
    return -1;
  }
  core::FileRec& Rec(const std::string& name, int side = 0) {
    const int i = IndexOf(name, side);
    if (i < 0) throw std::runtime_error("no record " + name);
    return core::Disk[side].Files[size_t(i)];
  }

  // The whole image file (it is small).
  std::vector<uint8_t> Snapshot() const {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(DrivePath(0).c_str(), "rb");
    if (!f) throw std::runtime_error("cannot read the image");
    std::fseek(f, 0, SEEK_END);
    bytes.resize(size_t(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    if (got != bytes.size()) throw std::runtime_error("short read of the image");
    return bytes;
  }

  // Raw offsets of the image where two snapshots differ, as view offsets of
  // the image (each aligned 32-bit word is byte-reversed on the disk).
  static std::set<uint64_t> ChangedViewBytes(const std::vector<uint8_t>& before,
                                             const std::vector<uint8_t>& after) {
    std::set<uint64_t> changed;
    EXPECT_EQ(before.size(), after.size());
    const size_t n = std::min(before.size(), after.size());
    for (size_t i = 0; i < n; ++i)
      if (before[i] != after[i]) changed.insert((i & ~uint64_t(3)) + 3 - (i % 4));
    return changed;
  }

  // Image offset of view byte `offset` of disk cluster `diskCluster`.
  uint64_t At(uint32_t diskCluster, uint64_t offset) const {
    return uint64_t(diskCluster) * 2068 * 512 + offset;
  }

  std::vector<uint8_t> View(uint32_t diskCluster, uint64_t offset, size_t length) {
    return image_->ReadView(At(diskCluster, offset), length);
  }

  uint32_t ViewU32(uint32_t diskCluster, uint64_t offset) {
    return ib::GetBE32(View(diskCluster, offset, 4).data());
  }

  int32_t Last() const { return core::Disk[0].LastCluster; }

  ui::ScriptedUi script;

 private:
  std::unique_ptr<ib::TempDir> tmp_;
  std::unique_ptr<ui::CurrentUiScope> use_;
  std::unique_ptr<ib::ImageFile> image_;
};

}  // namespace writertest
