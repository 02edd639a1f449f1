// Shared set-up of the recovery-scanner tests: a temporary program folder
// and device folder, the scripted Ui, a fresh disk model, and builder images
// holding recordings made from tests/data/sample.ts that are then "lost"
// (their FAT chains freed and their directory entries erased on the image).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/iodebug.h"
#include "core/settings.h"
#include "tests/mainwindow/test_app.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "tools/found_clusters.h"
#include "transfer/job_state.h"
#include "ui/scripted_ui.h"

namespace recoverytest {

namespace ib = imagebuilder;

// PTS offset between two repeats of sample.ts: its last I/P frame is
// followed by the next repeat's first one 10800 ticks later.
constexpr int64_t kRepeatPts = 727200;

// Writes a 33-bit time stamp into the 5 bytes at p, keeping the prefix bits.
inline void PutPts(uint8_t* p, int64_t v) {
  v &= 0x1FFFFFFFFLL;
  p[0] = uint8_t((p[0] & 0xF0) | ((v >> 29) & 0x0E) | 1);
  p[1] = uint8_t(v >> 22);
  p[2] = uint8_t(((v >> 14) & 0xFE) | 1);
  p[3] = uint8_t(v >> 7);
  p[4] = uint8_t(((v << 1) & 0xFE) | 1);
}
inline int64_t GetPts(const uint8_t* p) {
  return (int64_t((p[0] >> 1) & 7) << 30) | (int64_t(p[1]) << 22) | (int64_t(p[2] >> 1) << 15) |
         (int64_t(p[3]) << 7) | (p[4] >> 1);
}

// sample.ts repeated `repeats` times, every PES time stamp moved by
// `ptsBase` + repeat x kRepeatPts, and the video PID 0x100 changed to
// `videoPid`.
inline std::string MakeStream(int repeats, int64_t ptsBase, uint16_t videoPid = 0x100) {
  static const std::string sample = ib::ReadWholeFile(ib::TestDataPath("sample.ts"));
  std::string out;
  out.reserve(sample.size() * size_t(repeats));
  for (int r = 0; r < repeats; ++r) {
    std::string copy = sample;
    const int64_t shift = ptsBase + r * kRepeatPts;
    for (size_t p = 0; p + 188 <= copy.size(); p += 188) {
      uint8_t* b = reinterpret_cast<uint8_t*>(&copy[p]);
      const int pid = ((b[1] & 0x1F) << 8) | b[2];
      if (pid == 0x100 && videoPid != 0x100) {
        b[1] = uint8_t((b[1] & 0xE0) | ((videoPid >> 8) & 0x1F));
        b[2] = uint8_t(videoPid & 0xFF);
      }
      if (!(b[1] & 0x40)) continue;
      const int afc = (b[3] >> 4) & 3;
      size_t off = 4;
      if (afc == 2 || afc == 0) continue;
      if (afc == 3) off = 5 + b[4];
      if (off + 19 > 188) continue;
      uint8_t* pl = b + off;
      if (pl[0] != 0 || pl[1] != 0 || pl[2] != 1) continue;
      const uint8_t flags = pl[7];
      if (flags & 0x80) PutPts(pl + 9, GetPts(pl + 9) + shift);
      if ((flags & 0xC0) == 0xC0) PutPts(pl + 14, GetPts(pl + 14) + shift);
    }
    out += copy;
  }
  return out;
}

// The stream after a recording header starts at the packet grid: the
// 1656-byte header and 36 bytes of padding.
inline std::string HeaderPadding() { return std::string(1692 - ib::kRecHeaderBytes, '\0'); }

class RecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    tmp_ = std::make_unique<ib::TempDir>("qrecovery");
    testenv::UseFolders(tmp_->Path(), tmp_->Path());
    transfer::ResetJobState();
    tools::ClearFoundClusters();
    tools::ResetOwnerCache();
    use_ = std::make_unique<ui::CurrentUiScope>(script);
  }
  void TearDown() override {
    testenv::CloseDisksAndReset();
    tools::ClearFoundClusters();
    tools::ResetOwnerCache();
    transfer::ResetJobState();
    use_.reset();
  }

  std::string Folder() const { return tmp_->Path(); }
  std::string DrivePath() const { return *tmp_ / "PhysicalDrive0"; }

  // The standard scene: two recordings to lose and one to keep.
  //   LostA: header ("Chan One", event "Film") + 4 repeats, PTS base 0,
  //          fragmented chain 20, 35, 22, 41, 23.
  //   LostB: no header, 2 repeats, PTS base 50,000,000, chain 30, 31, 32.
  //   Kept:  no header, 1 repeat, PTS base 100,000,000, chain 10, 11.
  void BuildScene() {
    ib::ImageSpec spec;
    spec.SectorsPerCluster = 2068;
    spec.LastCluster = 60;
    image = std::make_unique<ib::DiskImage>(spec);
    ib::FileSpec a;
    a.Path = "\\DataFiles\\LostA.rec";
    ib::RecHeader h;
    h.ServiceName = "Chan One";
    h.EventName = "Film";
    a.Header = h;
    a.Data = ib::Content::Of(HeaderPadding() + MakeStream(4, 0));
    a.Chain = {20, 35, 22, 41, 23};
    image->AddFile(a);
    ib::FileSpec b;
    b.Path = "\\DataFiles\\LostB.rec";
    b.Data = ib::Content::Of(MakeStream(2, 50000000));
    b.Chain = {30, 31, 32};
    image->AddFile(b);
    ib::FileSpec k;
    k.Path = "\\DataFiles\\Kept.rec";
    k.Data = ib::Content::Of(MakeStream(1, 100000000));
    k.Chain = {10, 11};
    image->AddFile(k);
    image->Write(DrivePath());
  }

  // Frees the file's chain in both FATs and erases its directory entry.
  void Lose(const std::string& path) {
    const ib::ModelEntry& e = image->Entry(path);
    ib::ImageFile f(DrivePath());
    for (uint32_t c : e.Chain) f.SetFatEntry(c, ib::kFatFree);
    f.WriteSlot(image->FolderIndex(e.Parent), e.Slot,
                std::vector<uint8_t>(ib::kSlotBytes, 0xFF));
    f.RecomputeFatCrc(uint32_t(image->LastCluster()));
  }

  bool OpenAndLoad() {
    core::DiskId[0] = 0;
    core::DiskId[1] = core::kNoDisk;
    if (!core::InitTopf(0, "PhysicalDrive0", true)) return false;
    return core::LoadTopf(0, true);
  }

  const core::FileRec* Find(const std::string& name) const {
    const core::DiskRec& d = core::Disk[0];
    for (int i = 0; i < d.FileCount; ++i)
      if (d.Files[size_t(i)].Name == name) return &d.Files[size_t(i)];
    return nullptr;
  }

  // The chain of a side-0 entry along the in-memory FAT (bounded).
  static std::vector<int32_t> ChainOf(int32_t start) {
    std::vector<int32_t> chain;
    const auto& fat = core::Disk[0].FAT;
    for (int32_t c = start; c > 0 && size_t(c) < fat.size() && chain.size() < 200;
         c = fat[size_t(c)].Next) {
      chain.push_back(c);
      if (fat[size_t(c)].Next == -1) break;
    }
    return chain;
  }

  // A clock that moves on by `step` seconds at every reading.
  void SteppingClock(double stepSeconds) {
    auto t = std::make_shared<double>(45000.5);
    transfer::SetJobClock([t, stepSeconds] {
      *t += stepSeconds / 86400.0;
      return *t;
    });
  }

  ui::ScriptedUi script;
  std::unique_ptr<ib::DiskImage> image;

 private:
  std::unique_ptr<ib::TempDir> tmp_;
  std::unique_ptr<ui::CurrentUiScope> use_;
};

}  // namespace recoverytest
