// Set-up of the defragmenter tests: a temporary program folder that is also
// the device folder, the scripted Ui, a fresh disk model in write mode, and
// an independent reader of the image (through the image builder's raw
// access) that the tests use to compare every file before and after a run.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fsck.h"
#include "core/iodebug.h"
#include "core/settings.h"
#include "tests/mainwindow/test_app.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "tools/defrag_engine.h"
#include "transfer/job_state.h"
#include "ui/scripted_ui.h"

namespace defragtest {

namespace ib = imagebuilder;

// One file as the image holds it.
struct ImageFileRec {
  std::vector<uint32_t> Chain;   // FAT indexes from FAT1
  std::string Bytes;             // raw content, cut to the entry's size
  uint32_t Start = 0;
};

// Reads every file of the image by walking the directories from the root
// (disk cluster 1) and each file's chain in FAT1; bounded.
inline std::map<std::string, ImageFileRec> ReadImageFiles(const std::string& path) {
  ib::ImageFile img(path);
  const uint32_t spc = img.SectorsPerCluster();
  std::map<std::string, ImageFileRec> out;
  std::vector<std::pair<std::string, uint32_t>> folders{{"", 0}};
  std::set<uint32_t> seen;
  while (!folders.empty()) {
    auto [prefix, index] = folders.back();
    folders.pop_back();
    if (!seen.insert(index).second) continue;
    for (const auto& [slot, e] : ib::DecodeDirectory(img.ReadClusterView(index + 1))) {
      if (e.Attribute == ib::kAttrParent || e.Attribute == ib::kAttrSelf) continue;
      if (index == 0 && slot == 0) continue;   // the root's own entry
      const std::string name = prefix + "\\" + e.Name;
      if (e.Attribute == ib::kAttrDirectory || e.Attribute == ib::kAttrRecycle) {
        folders.push_back({name, e.StartCluster});
        out[name + "\\"].Start = e.StartCluster;
        out[name + "\\"].Chain = {e.StartCluster};
        continue;
      }
      ImageFileRec rec;
      rec.Start = e.StartCluster;
      const uint64_t size = ib::SizeFromFields(e.ClusterCount, e.FreeBytes, e.LastSectorBytes, spc);
      uint32_t c = e.StartCluster;
      for (uint32_t k = 0; k < e.ClusterCount && k < ib::kFatEntries; ++k) {
        rec.Chain.push_back(c);
        const std::vector<uint8_t> raw = img.ReadClusterRaw(c + 1);
        rec.Bytes.append(reinterpret_cast<const char*>(raw.data()), raw.size());
        const uint32_t next = img.FatEntry(c, 1);
        if (next >= ib::kFatEnd) break;
        c = next;
      }
      if (rec.Bytes.size() > size) rec.Bytes.resize(size_t(size));
      out[name] = std::move(rec);
    }
  }
  return out;
}

inline ::testing::AssertionResult SameBytes(const std::string& a, const std::string& b) {
  if (a == b) return ::testing::AssertionSuccess();
  size_t k = 0;
  while (k < a.size() && k < b.size() && a[k] == b[k]) ++k;
  return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size()
                                       << ", first difference at byte " << k;
}

class DefragTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    tmp_ = std::make_unique<ib::TempDir>("qdefrag");
    testenv::UseFolders(tmp_->Path(), tmp_->Path());
    core::ResetFsckState();
    tools::ResetDefragState();
    transfer::CancelState = 0;
    use_ = std::make_unique<ui::CurrentUiScope>(script);
  }
  void TearDown() override {
    testenv::CloseDisksAndReset();
    tools::ResetDefragState();
    transfer::CancelState = 0;
    use_.reset();
  }

  std::string Folder() const { return tmp_->Path(); }
  std::string ImagePath() const { return *tmp_ / "PhysicalDrive0"; }

 public:
  static ib::ImageSpec Spec(uint32_t lastCluster = 100) {
    ib::ImageSpec spec;
    spec.SectorsPerCluster = 2068;
    spec.LastCluster = lastCluster;
    return spec;
  }
  // A file of `clusters` clusters (the last one partly used) on `chain`.
  static ib::FileSpec File(const std::string& path, std::vector<uint32_t> chain, uint32_t seed,
                           uint64_t clusterBytes = 2068 * 512) {
    ib::FileSpec f;
    f.Path = path;
    f.Chain = std::move(chain);
    f.Size = clusterBytes * (f.Chain.size() - 1) + 1000 + seed;
    f.Data = ib::Content::Pattern(seed);
    return f;
  }

 protected:
  // Writes the image, opens it on side 0 (write mode, side writable) and loads it.
  void Load(const ib::DiskImage& image, bool writable = true) {
    image.Write(ImagePath());
    core::Flags = core::FlagNormal | core::FlagWriteMode | core::FlagSide0Writable;
    core::DiskId[0] = 0;
    ASSERT_TRUE(core::InitTopf(0, "PhysicalDrive0", writable));
    ASSERT_TRUE(core::LoadTopf(0, true));
    core::CheckState[31] = 2;
  }

  // Every file's chain is one run of consecutive indexes.
  static void ExpectContiguous(const std::map<std::string, ImageFileRec>& files) {
    for (const auto& [name, rec] : files)
      for (size_t k = 1; k < rec.Chain.size(); ++k)
        EXPECT_EQ(rec.Chain[k], rec.Chain[k - 1] + 1) << name << " link " << k;
  }
  // All used FAT indexes lie below the first free one.
  void ExpectPacked() {
    ib::ImageFile img(ImagePath());
    const int32_t last = core::Disk[0].LastCluster;
    int32_t firstFree = last + 1;
    for (int32_t c = 0; c <= last; ++c)
      if (img.FatEntry(uint32_t(c), 1) == ib::kFatFree) {
        firstFree = c;
        break;
      }
    for (int32_t c = firstFree; c <= last; ++c)
      EXPECT_EQ(img.FatEntry(uint32_t(c), 1), ib::kFatFree) << "used index " << c;
  }
  // FAT1 = FAT2, the CRC in both superblocks right, and the check passes.
  void ExpectConsistent() {
    ib::ImageFile img(ImagePath());
    const uint32_t n = uint32_t(core::Disk[0].LastCluster);
    for (uint32_t c = 0; c < ib::kFatEntries; ++c)
      ASSERT_EQ(img.FatEntry(c, 1), img.FatEntry(c, 2)) << "FAT index " << c;
    const uint32_t crc = img.ComputeFatCrc(n);
    EXPECT_EQ(img.SuperU32(ib::kSbFatCrc), crc);
    EXPECT_EQ(img.SuperU32(ib::kSbFatCrc, true), crc);
    core::LoadTopfFAT(0);
    EXPECT_TRUE(core::FSCK(0)) << core::FsckResults[5].Text << " / " << core::FsckResults[3].Text;
  }
  // The file names and bytes are the same in both readings.
  static void ExpectSameFiles(const std::map<std::string, ImageFileRec>& before,
                              const std::map<std::string, ImageFileRec>& after) {
    ASSERT_EQ(before.size(), after.size());
    for (const auto& [name, rec] : before) {
      auto it = after.find(name);
      ASSERT_NE(it, after.end()) << name;
      EXPECT_TRUE(SameBytes(rec.Bytes, it->second.Bytes)) << name;
    }
  }

  ui::ScriptedUi script;

 private:
  std::unique_ptr<ib::TempDir> tmp_;
  std::unique_ptr<ui::CurrentUiScope> use_;
};

}  // namespace defragtest
