// Check step 5: FAT repair passes and the lost-chain recovery; damaged
// images never crash or hang the seven steps.
#include <random>

#include "tests/checker/step_fixture.h"

namespace steptest {
namespace {

class FatStep : public StepTest {
 protected:
  void SetUp() override {
    StepTest::SetUp();
    model_ = std::make_unique<ib::DiskImage>(SmallSpec());
    ib::FileSpec a;
    a.Path = "\\DataFiles\\a.rec";
    a.Size = 3 * kClusterBytes;
    a.Chain = {10, 11, 12};
    model_->AddFile(a);
  }
  void OpenModel() { Open(*model_); }
  // Steps 4 and 5 as the driver runs them.
  void Scan() {
    checker::fsck_04_ScanDirectories();
    ClearLines();
  }
  std::vector<std::string> StepLines() {
    auto lines = Lines();
    return lines;
  }
  uint32_t Fat(uint32_t i, int table = 1) { return Image().FatEntry(i, table); }
  std::unique_ptr<ib::DiskImage> model_;
};

TEST_F(FatStep, SoundTablesGiveOkAndNoWrite) {
  OpenModel();
  Scan();
  checker::fsck_05_FAT();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("OK:", "FAT")}));
  EXPECT_FALSE(Written(-1));
}

TEST_F(FatStep, InvalidPointersAreRemovedPerTable) {
  OpenModel();
  Image().SetFatEntry(30, 3, true, false);
  Image().SetFatEntry(31, uint32_t(model_->LastCluster()) + 5, true, false);
  Image().SetFatEntry(32, 4, false, true);
  Scan();
  checker::fsck_05_FAT();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "FAT: removed 2 invalid pointers from FAT1"),
                                               L("Fixed:", "FAT: removed 1 invalid pointer from FAT2")}));
  for (uint32_t i : {30u, 31u, 32u}) {
    EXPECT_EQ(Fat(i, 1), 0xFFFFFFu) << i;
    EXPECT_EQ(Fat(i, 2), 0xFFFFFFu) << i;
  }
  EXPECT_EQ(Fat(12, 1), 0xFFFFFEu);
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
}

TEST_F(FatStep, ChainEndingInAFreeClusterKeepsItAsItsLast) {
  OpenModel();
  Image().SetFatEntry(12, 0xFFFFFF, true, false);
  Scan();
  checker::fsck_05_FAT();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "FAT: terminated 1 broken chain in FAT1")}));
  EXPECT_EQ(Fat(12, 1), 0xFFFFFEu);
  EXPECT_EQ(Fat(11, 1), 12u);
}

TEST_F(FatStep, LongerChainIsCopiedIntoTheOtherTable) {
  OpenModel();
  Image().SetFatEntry(11, 0xFFFFFE, false, true);   // FAT2 ends early
  Scan();
  checker::fsck_05_FAT();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "FAT: synchronized 1 entry")}));
  EXPECT_EQ(Fat(11, 2), 12u);
  EXPECT_EQ(Fat(12, 2), 0xFFFFFEu);
  EXPECT_TRUE(Written(-1));
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
}

TEST_F(FatStep, EqualLengthsCopyFromFat2AndTheLeftoverIsRecovered) {
  OpenModel();
  Image().SetFatEntry(11, 13, false, true);   // FAT2: 10 11 13
  Image().SetFatEntry(13, 0xFFFFFE, false, true);
  Image().SetFatEntry(12, 0xFFFFFF, false, true);
  Scan();
  checker::fsck_05_FAT();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "FAT: synchronized 1 entry"),
                                               L("Info:", "Files - Created File LostCluster0001.rec (1.0 MB)")}));
  EXPECT_EQ(Fat(11, 1), 13u);
  EXPECT_EQ(Fat(13, 1), 0xFFFFFEu);
  // Cluster 12 of FAT1 became a one-cluster file, marked in both tables.
  EXPECT_EQ(Fat(12, 1), 0xFFFFFEu);
  EXPECT_EQ(Fat(12, 2), 0xFFFFFEu);
  const int slot = model_->Entry("\\DataFiles\\a.rec").Slot + 1;
  const auto e = ib::DecodeEntry(Image().ReadSlot(2, slot).data());
  EXPECT_EQ(e.Attribute, 0xD1);
  EXPECT_EQ(e.StartCluster, 12u);
  EXPECT_EQ(e.ClusterCount, 1u);
  EXPECT_EQ(e.Name, "LostCluster0001.rec");
  EXPECT_EQ(e.Mjd, ib::MjdOf(2010, 6, 15));
  EXPECT_EQ(e.Hour, 12);
}

TEST_F(FatStep, UnclaimedChainRunningIntoAClaimedOneIsCutAndRecovered) {
  OpenModel();
  Image().SetFatEntry(20, 21);
  Image().SetFatEntry(21, 11);   // crosslinked into a.rec
  Scan();
  checker::fsck_05_FAT();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "FAT - terminated 1 crosslinked chain in FAT1"),
                                               L("Fixed:", "FAT - terminated 1 crosslinked chain in FAT2"),
                                               L("Info:", "Files - Created File LostCluster0001.rec (2.0 MB)")}));
  EXPECT_EQ(Fat(21, 1), 0xFFFFFEu);
  EXPECT_EQ(Fat(21, 2), 0xFFFFFEu);
  EXPECT_EQ(Fat(11, 1), 12u);
  ASSERT_EQ(checker::FoundEntryCount, 5);
  const auto& r = checker::FoundEntries[4];
  EXPECT_EQ(r.Name, "\\DataFiles\\LostCluster0001.rec");
  EXPECT_EQ(r.StartCluster, 20);
  EXPECT_EQ(r.ClusterCount, 2);
  EXPECT_EQ(r.DirCluster, 2);
  // The repaired disk passes the main program's check once step 6 and 7 ran.
  checker::fsck_06_FATSubDirsXCheck();
  checker::fsck_07_SuperBlockDependencies();
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
}

TEST_F(FatStep, LostChainsComeBackLongestFirstLowerIndexOnTies) {
  model_->AddLostChain({40, 41});
  model_->AddLostChain({30, 31});
  model_->AddLostChain({35, 36, 37});
  OpenModel();
  Scan();
  checker::fsck_05_FAT();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Info:", "Files - Created File LostCluster0001.rec (3.0 MB)"),
                                               L("Info:", "Files - Created File LostCluster0002.rec (2.0 MB)"),
                                               L("Info:", "Files - Created File LostCluster0003.rec (2.0 MB)"),
                                               L("OK:", "FAT")}));
  EXPECT_EQ(checker::FoundEntries[4].StartCluster, 35);
  EXPECT_EQ(checker::FoundEntries[5].StartCluster, 30);
  EXPECT_EQ(checker::FoundEntries[6].StartCluster, 40);
  // A second check of the same run goes on with the numbers.
  model_->AddLostChain({50});
  Image().SetFatEntry(50, 0xFFFFFE);
  ClearLines();
  Scan();
  checker::fsck_05_FAT();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Info:", "Files - Created File LostCluster0004.rec (1.0 MB)"),
                                               L("OK:", "FAT")}));
}

TEST_F(FatStep, AStraddlingEntryOfAZeroedSectorIsNoFileOfFreeClusters) {
  // FAT1's first sector zeroed: entry 170, whose last byte lies in the next
  // sector, reads as a link to 255, which FAT2 (like 170) has free.
  ib::DiskImage model(SmallSpec(300));
  Open(model);
  Image().WriteView(ib::kFat1Offset, std::vector<uint8_t>(512, 0));
  ASSERT_EQ(Fat(170, 1), 255u);
  Scan();
  checker::fsck_05_FAT();
  EXPECT_TRUE(HasLine(L("Fixed:", "FAT: removed 1 chain from FAT1 that FAT2 has free, where FAT1 is damaged"))) << AllLines();
  EXPECT_EQ(AllLines().find("Created File"), std::string::npos) << AllLines();
  for (uint32_t i : {170u, 255u}) EXPECT_EQ(Fat(i, 1), 0xFFFFFFu) << i;
}

TEST_F(FatStep, CircularChainIsCutWhereItClosesAndNothingIsFreed) {
  OpenModel();
  Image().SetFatEntry(12, 10);   // 10 -> 11 -> 12 -> 10
  Scan();
  checker::fsck_05_FAT();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "FAT: terminated 1 circular chain in FAT1"),
                                               L("Fixed:", "FAT: terminated 1 circular chain in FAT2")}));
  EXPECT_EQ(Fat(10, 1), 11u);
  EXPECT_EQ(Fat(11, 1), 12u);
  EXPECT_EQ(Fat(12, 1), 0xFFFFFEu);
  EXPECT_EQ(Fat(12, 2), 0xFFFFFEu);
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
}

TEST_F(FatStep, LostDirectoryIsRecoveredBeforeItsContentsAndRestartsTheSteps) {
  model_->AddFolder("\\DataFiles\\Old", 15);
  ib::FileSpec inside;
  inside.Path = "\\DataFiles\\Old\\b.rec";
  inside.Size = 4 * kClusterBytes;
  inside.Chain = {16, 17, 18, 19};
  model_->AddFile(inside);
  OpenModel();
  const int slot = model_->Entry("\\DataFiles\\Old").Slot;
  Image().WriteSlot(2, slot, std::vector<uint8_t>(128, 0xFF));   // the folder's entry is gone
  RunAllSteps();
  EXPECT_TRUE(HasLine(L("Info:", "Files - the lost cluster check has recovered a subdirectory. This requires to restart "
                                 "all tests.")))
      << AllLines();
  EXPECT_TRUE(HasLine(L("", std::string(80, '-'))));
  // Its file is found again inside it, not recovered a second time.
  EXPECT_FALSE(HasLine(L("Info:", "Files - Created File LostCluster0002.rec (4.0 MB)"))) << AllLines();
  bool found = false;
  for (int32_t k = 0; k < checker::FoundEntryCount; ++k)
    found = found || checker::FoundEntries[size_t(k)].Name == "\\DataFiles\\LostDirectory0001\\b.rec";
  EXPECT_TRUE(found) << AllLines();
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings << AllLines();
}

TEST_F(FatStep, UnreadableSystemClusterStopsTheStep) {
  OpenModel();
  Scan();
  ASSERT_EQ(::truncate(DrivePath().c_str(), 4096), 0);
  checker::fsck_05_FAT();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Error:", "FAT - Couldn't read the system cluster")}));
  EXPECT_FALSE(Written(-1));
}

TEST_F(FatStep, DamagedImagesNeverCrashOrHang) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    checker::ResetCheckerState();
    checker::ResetFatTables();
    checker::AllocateFoundEntries();
    ib::DiskImage model(SmallSpec());
    model.AddFolder(ib::FolderSpec{"\\DataFiles\\Films", {}, 14});
    for (int f = 0; f < 4; ++f) {
      ib::FileSpec file;
      file.Path = "\\DataFiles\\Films\\f" + std::to_string(f) + ".rec";
      file.Size = uint64_t(f + 1) * kClusterBytes;
      model.AddFile(file);
    }
    model.AddLostChain({50, 52, 51});
    Open(model);
    std::mt19937 rng(seed);
    for (int k = 0; k < 60; ++k) {
      const uint32_t i = rng() % 64;
      const uint32_t pick = rng() % 4;
      const uint32_t v = pick == 0 ? rng() % 64 : pick == 1 ? 0xFFFFFE : pick == 2 ? rng() : 0xFFFFFF;
      Image().SetFatEntry(i, v & 0xFFFFFF, rng() % 2, rng() % 2);
    }
    for (uint32_t folder : {0u, 2u, 14u}) {
      auto view = Image().ReadClusterView(folder + 1);
      for (int k = 0; k < 40; ++k) view[rng() % 2048] = uint8_t(rng());
      Image().WriteClusterView(folder + 1, view);
    }
    RunAllSteps();
    EXPECT_FALSE(Lines().empty());
    checker::ResetDiskState();
  }
}

}  // namespace
}  // namespace steptest
