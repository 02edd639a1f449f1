// Check steps 1 (superblock, backup, cleared areas) and 7 (superblock
// dependencies) on builder images: a sound disk gives only OK and Info lines
// and no write; each finding has its exact line and its repaired bytes.
#include <unistd.h>

#include "tests/checker/step_fixture.h"

namespace steptest {
namespace {

class SuperblockStep : public StepTest {
 protected:
  ib::DiskImage Model(std::optional<uint32_t> backupCrc = std::nullopt, uint8_t minor = 1) {
    ib::ImageSpec spec = SmallSpec();
    spec.BackupCrc = backupCrc;
    spec.VersionMinor = minor;
    ib::DiskImage model(spec);
    model.AddFolder("\\DataFiles\\Films");
    ib::FileSpec f;
    f.Path = "\\DataFiles\\Films\\a.rec";
    f.Size = 3 * kClusterBytes - 100;
    model.AddFile(f);
    return model;
  }
  std::vector<uint8_t> Cluster0() { return Image().ReadClusterView(0); }
  void ExpectCleanAreas(const std::vector<uint8_t>& c0) {
    for (size_t i = 1536; i < 0x20000; ++i) ASSERT_EQ(c0[i], 0) << i;
    for (size_t i = c0.size() - 8; i < c0.size(); ++i) ASSERT_EQ(c0[i], 0) << i;
  }
};

TEST_F(SuperblockStep, SoundDiskAllStepsGiveOnlyOkAndInfoAndWriteNothing) {
  Open(Model(0x12345678));
  RunAllSteps();
  EXPECT_TRUE(OnlyOkAndInfo()) << AllLines();
  for (int32_t i = -1; i < 10; ++i) EXPECT_FALSE(Written(i)) << i;
}

TEST_F(SuperblockStep, SoundSuperblockKeepsAreasThatStepOneWouldClear) {
  Open(Model(0x12345678));
  auto before = Cluster0();
  before[3000] = 0x5A;   // inside the area between the root copy and FAT1
  Image().WriteClusterView(0, before);
  checker::fsck_01_SuperBlock();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         L("Info:", "Sectors per Cluster: Superblock: 2068, Backup Superblock: 2068, Disk Size: 2068, Dir Scan: 2068"),
                         L("OK:", "Superblock - Parameter area"),
                         L("OK:", "Superblock - Backup Parameter area")}));
  EXPECT_EQ(Cluster0(), before);
  EXPECT_FALSE(Written(-1));
}

TEST_F(SuperblockStep, MagicNumberIsRestoredAndAllClearedAreasReachTheDisk) {
  Open(Model(0x12345678));
  Image().SetSuperU32(0, 0x11111111, true, false);
  auto c0 = Cluster0();
  c0[3000] = 0x5A;
  c0[36] = 0x77;   // parameter area
  c0[100] = 0x66;  // rest of the sector
  Image().WriteClusterView(0, c0);
  checker::fsck_01_SuperBlock();
  EXPECT_TRUE(HasLine(L("Fixed:", "Superblock - Magic Number"))) << AllLines();
  EXPECT_FALSE(HasLine(L("OK:", "Superblock - Parameter area")));
  // A fix in the superblock also writes (and so does not report) the backup.
  EXPECT_FALSE(HasLine(L("OK:", "Superblock - Backup Parameter area"))) << AllLines();
  EXPECT_EQ(Image().SuperU32(0), 0x07082607u);
  const auto after = Cluster0();
  EXPECT_EQ(after[36], 0);
  EXPECT_EQ(after[100], 0);
  ExpectCleanAreas(after);
  EXPECT_TRUE(Written(-1));
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
}

TEST_F(SuperblockStep, EachFieldFindingHasItsLineAndValue) {
  Open(Model());
  auto c0 = Cluster0();
  std::memcpy(&c0[4], "TOPFIELD XXXXXXXXX HDD", 22);
  ib::PutBE16(&c0[32], 0x0200);
  std::memcpy(&c0[516], "BROKEN", 7);
  ib::PutBE32(&c0[512], 0);
  ib::PutBE16(&c0[544], 0x0100);
  Image().WriteClusterView(0, c0);
  checker::fsck_01_SuperBlock();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         L("Fixed:", "Superblock - ID String"),
                         L("Fixed:", "Superblock - Layout Version"),
                         L("Info:", "Sectors per Cluster: Superblock: 2068, Backup Superblock: 2068, Disk Size: 2068, Dir Scan: 2068"),
                         L("Fixed:", "Superblock - Backup Magic Number"),
                         L("Fixed:", "Superblock - Backup ID String"),
                         L("Fixed:", "Superblock - Backup Layout Version")}));
  EXPECT_EQ(Image().IdString(), "TOPFIELD TF5000PVR HDD");
  EXPECT_EQ(Image().IdString(true), "TOPFIELD TF5000PVR HDD");
  EXPECT_EQ(Image().SuperU16(32), 0x0101);
  EXPECT_EQ(Image().SuperU32(0, true), 0x07082607u);
  EXPECT_EQ(Image().SuperU16(32, true), 0x0101);
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
}

TEST_F(SuperblockStep, LayoutVersion0100StaysInTheSuperblockButNotInTheBackup) {
  Open(Model(std::nullopt, 0));   // version 1.0 in both copies
  ASSERT_EQ(Image().SuperU16(32), 0x0100);
  checker::fsck_01_SuperBlock();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         L("Info:", "Sectors per Cluster: Superblock: 2068, Backup Superblock: 2068, Disk Size: 2068, Dir Scan: 2068"),
                         L("OK:", "Superblock - Parameter area"),
                         L("Fixed:", "Superblock - Backup Layout Version")}));
  EXPECT_EQ(Image().SuperU16(32), 0x0100);
  EXPECT_EQ(Image().SuperU16(32, true), 0x0101);
}

TEST_F(SuperblockStep, ClusterSizeWordsAreReportedAndReplaced) {
  Open(Model());
  Image().SetSuperU16(34, 0xFFFF, true, false);
  Image().SetSuperU16(34, 1234, false, true);
  checker::fsck_01_SuperBlock();
  EXPECT_TRUE(HasLine(L("Info:", "Sectors per Cluster: Superblock: invalid, Backup Superblock: 1234, Disk Size: 2068, "
                                 "Dir Scan: 2068")))
      << AllLines();
  EXPECT_TRUE(HasLine(L("Fixed:", "Superblock - Sectors per Cluster set to 2068")));
  EXPECT_TRUE(HasLine(L("Fixed:", "Superblock - Backup Sectors per Cluster set to 2068")));
  EXPECT_EQ(checker::SpcFromSuperblock, -1);
  EXPECT_EQ(checker::SpcFromBackup, 1234);
  EXPECT_EQ(Image().SuperU16(34), 2068);
  EXPECT_EQ(Image().SuperU16(34, true), 2068);
}

TEST_F(SuperblockStep, FatTailClearingKeepsTheEntryOfLastCluster) {
  // 66 cylinders: LastCluster = round(66 x 16065 / 2068) - 1 = 512, so the
  // FAT's rounded length 3 x 512 ends right where entry 512 begins.
  ib::ImageSpec spec = SmallSpec();
  spec.SizeBytes = 66ull * 16065 * 512;
  ib::DiskImage model(spec);
  ASSERT_EQ(model.LastCluster(), 512);
  Open(model);
  ASSERT_EQ(checker::LastCluster, 512);
  Image().SetFatEntry(512, 0xFFFFFE);
  Image().SetFatEntry(513, 0x123456);   // beyond the table: cleared
  Image().SetSuperU32(0, 0, true, false);
  checker::fsck_01_SuperBlock();
  EXPECT_TRUE(HasLine(L("Fixed:", "Superblock - Magic Number")));
  EXPECT_EQ(Image().FatEntry(512, 1), 0xFFFFFEu);
  EXPECT_EQ(Image().FatEntry(512, 2), 0xFFFFFEu);
  EXPECT_EQ(Image().FatEntry(513, 1), 0u);
  EXPECT_EQ(Image().FatEntry(513, 2), 0u);
}

TEST_F(SuperblockStep, UnreadableSystemClusterIsReportedAndNothingIsWritten) {
  Open(Model());
  ASSERT_EQ(::truncate(DrivePath().c_str(), 4096), 0);   // sector 0 stays, cluster 0 is gone
  checker::fsck_01_SuperBlock();
  checker::fsck_02_RootDir();
  checker::fsck_03_Cluster0Root();
  EXPECT_TRUE(HasLine(L("Error:", "Superblock - Couldn't read the system cluster"))) << AllLines();
  EXPECT_TRUE(HasLine(L("Error:", "Root Directory - Couldn't read cluster 0"))) << AllLines();
  EXPECT_FALSE(Written(-1));
  EXPECT_FALSE(Written(0));
}

// ------------------------------------------------------------ step 7

TEST_F(SuperblockStep, DependenciesAreRecomputedAndWrittenWhereDuplicated) {
  Open(Model());
  Image().SetSuperU32(40, 999, true, false);
  Image().SetSuperU32(44, 5, true, false);
  EditSlot(0, 0, [](std::vector<uint8_t>& s) { ib::PutBE32(&s[16], 77); });
  checker::fsck_07_SuperBlockDependencies();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         L("Fixed:", "Files - FreeBytes field of the root directory: corrected"),
                         L("Fixed:", "Superblock - number of used clusters: corrected"),
                         L("Fixed:", "Superblock - free bytes in root dir.: corrected")}));
  const uint32_t rootFree = uint32_t(kClusterBytes - 4 * 128);
  EXPECT_EQ(ib::GetBE32(&Image().ReadSlot(0, 0)[16]), rootFree);
  ib::DiskImage model = Model();
  EXPECT_EQ(Image().SuperU32(40), model.UsedClusters());
  EXPECT_EQ(Image().SuperU32(40, true), model.UsedClusters());
  EXPECT_EQ(Image().SuperU32(44), rootFree);
  EXPECT_EQ(Image().SuperU32(44, true), rootFree);
  EXPECT_EQ(ib::GetBE32(Image().ReadView(1024 + 16, 4).data()), rootFree);
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
}

TEST_F(SuperblockStep, DependenciesLeaveADifferingBackupAloneAndSkipWithoutTheTree) {
  Open(Model());
  Image().SetSuperU32(40, 4242, false, true);
  EXPECT_FALSE(checker::fsck_07_SuperBlockDependencies());
  EXPECT_TRUE(Lines().empty()) << AllLines();
  EXPECT_EQ(Image().SuperU32(40, true), 4242u);
  EXPECT_FALSE(Written(-1));

  checker::DirScanIncomplete = true;
  Image().SetSuperU32(40, 1, true, false);
  EXPECT_FALSE(checker::fsck_07_SuperBlockDependencies());
  EXPECT_EQ(Lines(), (std::vector<std::string>{L(
                         "Skipped:", "Fixing the superblock dependencies doesn't make sense without the full directory data.")}));
  EXPECT_EQ(Image().SuperU32(40), 1u);
}

TEST_F(SuperblockStep, UsedClustersCountEndMarksAndPointers) {
  Open(Model());
  for (uint32_t i = 40; i < 50; ++i) Image().SetFatEntry(i, i + 1 < 50 ? i + 1 : 0xFFFFFE);
  checker::fsck_07_SuperBlockDependencies();
  EXPECT_EQ(Image().SuperU32(40), Model().UsedClusters() + 10);
}

}  // namespace
}  // namespace steptest
