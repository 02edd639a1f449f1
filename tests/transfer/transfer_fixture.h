// Shared set-up of the file-layer tests: a temporary program folder that is
// also the device folder (QUENBRIX_DEVICES), a PC folder, the scripted Ui,
// a fresh disk model, recorder images from the independent image builder,
// and a small copy loop that drives the transfer buffer as the copy job does.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/cluster_io.h"
#include "core/create_file.h"
#include "core/disk_format.h"
#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fat_write.h"
#include "core/iodebug.h"
#include "core/settings.h"
#include "core/side_file.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "transfer/copy_queue.h"
#include "transfer/file_create.h"
#include "transfer/transfer_buffer.h"
#include "ui/scripted_ui.h"

namespace transfertest {

namespace ib = imagebuilder;

inline ib::ImageSpec Spec(uint32_t spc, uint32_t lastCluster) {
  ib::ImageSpec spec;
  spec.SectorsPerCluster = spc;
  spec.LastCluster = lastCluster;
  return spec;
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp_ = std::make_unique<ib::TempDir>("qtransfer");
    pc_ = std::make_unique<ib::TempDir>("qtransferpc");
    testenv::UseFolders(tmp_->Path(), tmp_->Path());
    core::Flags = core::FlagNormal | core::FlagWriteMode;
    transfer::BadlyInterleavedFiles = false;
    transfer::ResetRandom();
    transfer::List3.Clear();
    use_ = std::make_unique<ui::CurrentUiScope>(script);
  }
  void TearDown() override {
    testenv::CloseDisksAndReset();
    transfer::BadlyInterleavedFiles = false;
    transfer::List3.Clear();
    use_.reset();
  }

  std::string DrivePath(int n) const { return *tmp_ / ("PhysicalDrive" + std::to_string(n)); }
  // The PC folder of the tests, with a trailing "/".
  std::string Pc() const { return pc_->Path() + "/"; }

  // Writes the model as drive n and loads it on the side.
  void LoadRecorder(const ib::DiskImage& model, int side, int n) {
    model.Write(DrivePath(n));
    core::DiskId[side] = -n;
    ASSERT_TRUE(core::InitTopf(side, "PhysicalDrive" + std::to_string(n), true));
    ASSERT_TRUE(core::LoadTopf(side, true));
  }
  // The side shows the PC folder Pc() + sub.
  void LoadPc(int side, const std::string& sub = "") {
    core::DiskId[side] = 1;
    core::CurrentFolder[side] = Pc() + sub;
    ASSERT_TRUE(core::LoadTopf(side, true));
  }

  int IndexOf(int side, const std::string& name) const {
    const core::DiskRec& d = core::Disk[side];
    for (int i = 0; i < d.FileCount; ++i)
      if (d.Files[size_t(i)].Name == name) return i;
    return -1;
  }

  // Copies entry `entry` of side `src` to `target` on the other side as the
  // copy job does: read / write cluster by cluster, the exact rest flushed,
  // then the entry and the FAT of a recorder target.
  void Copy(int src, int entry, const std::string& target) {
    const int dst = 1 - src;
    core::FSOpenFile(src, entry, false);
    ASSERT_TRUE(transfer::FSCreateFile(dst, target));
    const core::FileRec rec = core::Disk[src].Files[size_t(entry)];
    for (int k = 0; k < rec.ClusterCount; ++k) {
      ASSERT_TRUE(transfer::FSDataBufferRead(src)) << "cluster " << k;
      if (k < rec.ClusterCount - 1) {
        ASSERT_TRUE(transfer::FSDataBufferWrite(dst)) << "cluster " << k;
      } else {
        core::DataBufferFill =
            int32_t(rec.Size - double(core::Disk[dst].OpenFile.ClustersDone) *
                                   core::Disk[dst].SectorsPerCluster * 512.0);
        ASSERT_TRUE(transfer::FSDataBufferFlush(dst));
      }
    }
    if (!core::IsPCSide(dst)) {
      ASSERT_TRUE(core::CreateTopfFile(dst, target, false, rec.Size, rec.RecDate,
                                       core::Disk[dst].OpenFile.FreeHint));
      ASSERT_TRUE(core::UpdateTopfFAT(dst));
    }
    core::FSCloseFile(src);
    core::FSCloseFile(dst);
  }

  // The chain of a recorder file on the image, read with the builder's reader.
  static std::vector<uint32_t> ImageChain(const ib::ImageFile& image, uint32_t first) {
    std::vector<uint32_t> chain;
    uint32_t c = first;
    for (int steps = 0; steps < 0x20000 && c < 0x20000; ++steps) {
      chain.push_back(c);
      const uint32_t next = image.FatEntry(c, 1);
      if (next == ib::kFatEnd || next == ib::kFatFree) break;
      c = next;
    }
    return chain;
  }

  // The bytes of a recorder file on the image, in the stream's natural order.
  static std::string ImageFileBytes(const ib::ImageFile& image, uint32_t first, uint64_t size) {
    std::string out;
    for (uint32_t c : ImageChain(image, first)) {
      std::vector<uint8_t> raw = image.ReadClusterRaw(c + 1);
      ib::SwapWords(raw.data(), raw.size());
      out.append(reinterpret_cast<const char*>(raw.data()), raw.size());
    }
    if (out.size() > size) out.resize(size_t(size));
    return out;
  }

  // The directory entry of `name` in the folder of FAT index `folder`.
  static bool FindEntry(const ib::ImageFile& image, uint32_t folder, const std::string& name,
                        ib::DecodedEntry& out) {
    for (auto& [slot, e] : ib::DecodeDirectory(image.ReadClusterView(folder + 1), false))
      if (e.Name == name) {
        out = e;
        return true;
      }
    return false;
  }

  ui::ScriptedUi script;

 private:
  std::unique_ptr<ib::TempDir> tmp_;
  std::unique_ptr<ib::TempDir> pc_;
  std::unique_ptr<ui::CurrentUiScope> use_;
};

}  // namespace transfertest
