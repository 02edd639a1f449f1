// Erasing entries (recorder and PC) and the directory-size run.
#include "core/erase.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/fat_write.h"
#include "tests/core/writer_fixture.h"

namespace writertest {
namespace {

constexpr uint64_t kClusterBytes = 2068ull * 512;

class Erase : public WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    ib::DiskImage model(SmallSpec(30));
    model.AddFolder("\\DataFiles\\Films", 7);
    AddFile(model, "\\DataFiles\\three.rec", 3, 10);
    AddFile(model, "\\DataFiles\\five.rec", 5, 13);
    AddFile(model, "\\DataFiles\\Films\\in.rec", 2, 20);
    Load(model);
  }
  static void AddFile(ib::DiskImage& model, const std::string& path, uint32_t clusters,
                      uint32_t start) {
    ib::FileSpec f;
    f.Path = path;
    f.Size = clusters * kClusterBytes - 100;
    f.StartIndex = start;
    model.AddFile(f);
  }
  auto& FAT() { return core::Disk[0].FAT; }
  void ExpectRefused(const std::string& name, const std::string& message) {
    const auto before = Snapshot();
    script.ExpectMsgBox(message, ui::Answer::OK);
    EXPECT_FALSE(core::FSEraseFile(0, IndexOf(name), true));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_NE(IndexOf(name), -1);
    EXPECT_EQ(Snapshot(), before);
  }
};

TEST_F(Erase, RecordingWithItsChain) {
  const core::FileRec r = Rec("\\DataFiles\\three.rec");
  const uint32_t used = Image().SuperU32(ib::kSbUsedClusters);
  ASSERT_TRUE(core::FSEraseFile(0, IndexOf(r.Name), true));
  for (uint8_t b : Image().ReadSlot(2, r.Slot)) ASSERT_EQ(b, 0xFF);
  for (uint32_t i : {10u, 11u, 12u}) {
    EXPECT_EQ(Image().FatEntry(i, 1), ib::kFatFree);
    EXPECT_EQ(Image().FatEntry(i, 2), ib::kFatFree);
    EXPECT_EQ(FAT()[i].Next, 0);
  }
  EXPECT_EQ(Image().SuperU32(ib::kSbUsedClusters), used - 3);
  EXPECT_EQ(Image().SuperU32(ib::kSbUsedClusters, true), used - 3);
  EXPECT_EQ(Image().SuperU32(ib::kSbFatCrc), Image().ComputeFatCrc(uint32_t(Last())));
  EXPECT_EQ(IndexOf(r.Name), -1);
  ASSERT_EQ(core::List4[0].ListCount(), 1u);
  EXPECT_EQ(core::List4[0].List(0), "2");

  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  Reload();
  EXPECT_TRUE(core::FSCK(0)) << core::FsckResults[5].Text;
}

TEST_F(Erase, ChainKept) {
  const core::FileRec r = Rec("\\DataFiles\\three.rec");
  const auto fat = View(0, 0x20000, 3 * 32);
  ASSERT_TRUE(core::FSEraseFile(0, IndexOf(r.Name), false));
  for (uint8_t b : Image().ReadSlot(2, r.Slot)) ASSERT_EQ(b, 0xFF);
  EXPECT_EQ(View(0, 0x20000, 3 * 32), fat);
  EXPECT_EQ(FAT()[10].Next, 11);
}

// Two entries on one cluster (a move cut between its two writes, or an entry
// starting inside another's chain): the check fails on the pair, and erasing
// either entry removes only that entry - the clusters stay with the other.
TEST_F(Erase, EitherOfTwoEntriesOnOneChainGoesWithoutItsClusters) {
  const core::FileRec three = Rec("\\DataFiles\\three.rec");
  const std::vector<uint8_t> image = Snapshot();
  const std::vector<uint8_t> data = View(11, 0, 4096);   // bytes of three.rec's chain
  struct Case {
    uint32_t Start, Clusters;
  };
  for (const Case c : {Case{10, 3}, Case{11, 2}}) {
    for (const bool eraseTwin : {true, false}) {
      SCOPED_TRACE(std::to_string(c.Start) + (eraseTwin ? " twin erased" : " original erased"));
      {
        std::ofstream out(DrivePath(0), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
      }
      std::vector<uint8_t> slot = Image().ReadSlot(2, three.Slot);
      ib::PutBE32(&slot[8], c.Start);
      ib::PutBE32(&slot[12], c.Clusters);
      std::memcpy(&slot[20], "twin.rec\0", 9);
      Image().WriteSlot(2, 30, slot);
      auto self = Image().ReadSlot(2, 0);
      ib::PutBE32(&self[16], uint32_t(kClusterBytes - 128 * 31));
      Image().WriteSlot(2, 0, self);
      Reload();
      ASSERT_NE(IndexOf("\\DataFiles\\twin.rec"), -1);
      EXPECT_FALSE(core::FSCK(0));
      EXPECT_NE(core::FsckResults[5].Text.find("Crosslinked Clusters (\\DataFiles\\three.rec & "
                                               "\\DataFiles\\twin.rec)"),
                std::string::npos)
          << core::FsckResults[5].Text;

      const std::string gone = eraseTwin ? "\\DataFiles\\twin.rec" : three.Name;
      const std::string kept = eraseTwin ? three.Name : "\\DataFiles\\twin.rec";
      ASSERT_TRUE(core::FSEraseFile(0, IndexOf(gone), true));
      // The clusters the kept entry reaches stay; what only the erased one
      // reached in front of them (cluster 10 of three.rec) is freed.
      for (uint32_t i : {10u, 11u, 12u}) {
        const bool stays = i >= c.Start || eraseTwin;
        EXPECT_EQ(Image().FatEntry(i, 1) != ib::kFatFree, stays) << i;
        EXPECT_EQ(Image().FatEntry(i, 2) != ib::kFatFree, stays) << i;
        EXPECT_EQ(FAT()[i].Next != 0, stays) << i;
      }
      EXPECT_EQ(View(11, 0, 4096), data);
      core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
      Reload();
      EXPECT_EQ(IndexOf(gone), -1);
      EXPECT_NE(IndexOf(kept), -1);
      EXPECT_TRUE(core::FSCK(0)) << core::FsckResults[5].Text;
    }
  }
}

TEST_F(Erase, RefusesRootEntriesFoldersWithContentsAndStaleSlots) {
  ExpectRefused("\\DataFiles", "root directory");
  ExpectRefused("\\DataFiles\\Films", "is not empty");

  // Once its file is gone the folder can go; its cluster is freed.
  ASSERT_TRUE(core::FSEraseFile(0, IndexOf("\\DataFiles\\Films\\in.rec"), true));
  ASSERT_TRUE(core::FSEraseFile(0, IndexOf("\\DataFiles\\Films"), true));
  EXPECT_EQ(Image().FatEntry(7, 1), ib::kFatFree);

  // A slot that holds something else is not erased.
  Rec("\\DataFiles\\five.rec").StartCluster = 14;
  ExpectRefused("\\DataFiles\\five.rec", "does not match");
}

TEST_F(Erase, FolderWithAnEntryTheListDoesNotShow) {
  // An entry the loader skips (skip byte set) still holds data.
  auto slot = Image().ReadSlot(7, 2);
  slot[123] = 1;
  Image().WriteSlot(7, 2, slot);
  Reload();
  ASSERT_EQ(IndexOf("\\DataFiles\\Films\\in.rec"), -1);
  ExpectRefused("\\DataFiles\\Films", "is not empty");
}

TEST_F(Erase, PendingRecoveredRecordIsOnlyMarked) {
  core::DiskRec& d = core::Disk[0];
  core::CheckArraySize(0);
  core::FileRec& r = d.Files[size_t(d.FileCount)];
  r = core::FileRec();
  r.Name = "\\DataFiles\\Recovered 1.rec";
  r.Recovered = true;
  r.DirCluster = -1;
  r.StartCluster = 25;
  ++d.FileCount;
  const auto before = Snapshot();
  ASSERT_TRUE(core::FSEraseFile(0, d.FileCount - 1, true));
  EXPECT_EQ(r.Name, core::kErasedName);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(Erase, DirectorySizesIncludingTheRootCopy) {
  // A subfolder of count 1 beside the two files of 3 and 5 clusters.
  Rec("\\DataFiles\\Films").ClusterCount = 1;
  core::FSRecalculateDirSizes(0, core::kDirSizesAdd, 2);
  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  const core::FileRec& data = Rec("\\DataFiles");
  EXPECT_EQ(data.ClusterCount, 10);
  EXPECT_EQ(ViewU32(1, 128 * data.Slot + 12), 10u);
  EXPECT_EQ(ViewU32(0, 1024 + 128 * data.Slot + 12), 10u);
  EXPECT_EQ(data.Size, Rec("\\DataFiles\\three.rec").Size + Rec("\\DataFiles\\five.rec").Size +
                           Rec("\\DataFiles\\Films").Size);
  EXPECT_TRUE(core::List4[0].Empty());

  // A run from the subfolder recomputes it and every folder above it.
  core::FSRecalculateDirSizes(0, core::kDirSizesAdd, 7);
  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  EXPECT_EQ(Rec("\\DataFiles\\Films").ClusterCount, 3);
  EXPECT_EQ(ViewU32(3, 128 * Rec("\\DataFiles\\Films").Slot + 12), 3u);
  EXPECT_EQ(Rec("\\DataFiles").ClusterCount, 12);
  EXPECT_EQ(ViewU32(0, 1024 + 128 * data.Slot + 12), 12u);
}

TEST_F(Erase, FolderOfErasedFilesCountsOne) {
  ASSERT_TRUE(core::FSEraseFile(0, IndexOf("\\DataFiles\\Films\\in.rec"), true));
  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  EXPECT_EQ(Rec("\\DataFiles\\Films").ClusterCount, 1);
  EXPECT_EQ(Rec("\\DataFiles\\Films").Size, 0);
  EXPECT_EQ(ViewU32(3, 128 * Rec("\\DataFiles\\Films").Slot + 12), 1u);
}

TEST_F(Erase, DuplicateItemsAreWalkedOnce) {
  core::FSRecalculateDirSizes(0, core::kDirSizesAdd, 7);
  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  const uint64_t once = core::SectorWriteCalls;
  core::FSRecalculateDirSizes(0, core::kDirSizesAdd, 7);
  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  const uint64_t single = core::SectorWriteCalls - once;
  core::FSRecalculateDirSizes(0, core::kDirSizesAdd, 7);
  core::FSRecalculateDirSizes(0, core::kDirSizesAdd, 2);
  core::FSRecalculateDirSizes(0, core::kDirSizesAdd, 7);
  EXPECT_EQ(core::List4[0].ListCount(), 3u);
  const uint64_t start = core::SectorWriteCalls;
  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  // 7 (with its ancestors) once and 2 once: 7 does not run twice.
  EXPECT_LE(core::SectorWriteCalls - start, single + 2);
  EXPECT_TRUE(core::List4[0].Empty());
}

TEST_F(Erase, SizeRunLooksUpLiveFoldersOnly) {
  // An erased folder record that still names cluster 7 comes first.
  core::DiskRec& d = core::Disk[0];
  const int films = IndexOf("\\DataFiles\\Films");
  core::CheckArraySize(0);
  d.Files[size_t(d.FileCount)] = d.Files[size_t(films)];
  ++d.FileCount;
  std::swap(d.Files[0], d.Files[size_t(d.FileCount - 1)]);
  d.Files[0].Name = core::kErasedName;
  d.Files[0].Slot = 40;
  core::FSRecalculateDirSizes(0, core::kDirSizesAdd, 7);
  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  EXPECT_EQ(Rec("\\DataFiles\\Films").ClusterCount, 3);
  EXPECT_EQ(ViewU32(3, 128 * Rec("\\DataFiles\\Films").Slot + 12), 3u);
  EXPECT_EQ(View(3, 128 * 40, 1)[0], 0xFF);   // nothing written for the erased record
}

TEST_F(Erase, EmptyRunAndPcSideChangeNothing) {
  const auto before = Snapshot();
  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  core::DiskId[1] = 1;
  core::FSRecalculateDirSizes(1, core::kDirSizesAdd, 2);
  EXPECT_TRUE(core::List4[1].Empty());
  EXPECT_EQ(Snapshot(), before);
}

class ErasePc : public WriterTest {
 protected:
  int Add(const std::string& path) {
    core::DiskRec& d = core::Disk[1];
    core::CheckArraySize(1);
    d.Files[size_t(d.FileCount)] = core::FileRec();
    d.Files[size_t(d.FileCount)].Name = path;
    return d.FileCount++;
  }
  void SetUp() override {
    WriterTest::SetUp();
    core::DiskId[1] = 1;
  }
};

TEST_F(ErasePc, FilesEmptyFoldersAndLinks) {
  namespace fs = std::filesystem;
  const std::string base = Folder() + "/pc";
  fs::create_directories(base + "/empty");
  fs::create_directories(base + "/full");
  fs::create_directories(base + "/target");
  std::ofstream(base + "/file.ts") << "data";
  std::ofstream(base + "/full/keep.ts") << "data";
  std::ofstream(base + "/target/keep.ts") << "data";
  fs::create_directory_symlink(base + "/target", base + "/link");

  const int file = Add(base + "/file.ts");
  const int empty = Add(base + "/empty");
  const int full = Add(base + "/full");
  const int link = Add(base + "/link");
  EXPECT_TRUE(core::FSEraseFile(1, file, true));
  EXPECT_TRUE(core::FSEraseFile(1, empty, true));
  EXPECT_TRUE(core::FSEraseFile(1, link, true));
  script.ExpectMsgBox("could not be deleted", ui::Answer::OK);
  EXPECT_FALSE(core::FSEraseFile(1, full, true));
  EXPECT_TRUE(script.AllAnswered());

  EXPECT_FALSE(fs::exists(base + "/file.ts"));
  EXPECT_FALSE(fs::exists(base + "/empty"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(base + "/link")));
  EXPECT_TRUE(fs::exists(base + "/target/keep.ts"));   // the link was not followed
  EXPECT_TRUE(fs::exists(base + "/full/keep.ts"));
  EXPECT_EQ(core::Disk[1].Files[size_t(file)].Name, core::kErasedName);
  EXPECT_EQ(core::Disk[1].Files[size_t(full)].Name, base + "/full");
}

}  // namespace
}  // namespace writertest
