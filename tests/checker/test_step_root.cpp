// Check steps 2 and 3: the root directory copy in the system cluster and the
// root directory cluster.
#include <unistd.h>

#include "tests/checker/step_fixture.h"

namespace steptest {
namespace {

class RootSteps : public StepTest {
 protected:
  void SetUp() override {
    StepTest::SetUp();
    ib::DiskImage model(SmallSpec());
    ib::FileSpec f;
    f.Path = "\\DataFiles\\a.rec";
    f.Size = 2 * kClusterBytes;
    model.AddFile(f);
    Open(model);
  }
  std::vector<uint8_t> RootCopy() { return Image().ReadView(1024, 512); }
  std::vector<uint8_t> RootHead() { return Image().ReadView(kClusterBytes, 512); }
  void RunBoth() {
    checker::fsck_02_RootDir();
    checker::fsck_03_Cluster0Root();
  }
};

TEST_F(RootSteps, BothCopiesSoundGiveTwoOkLinesAndNoWrite) {
  RunBoth();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("OK:", "Superblock - Root Directory"),
                                               L("OK:", "Cluster 0 - Root Directory")}));
  EXPECT_FALSE(Written(-1));
  EXPECT_FALSE(Written(0));
}

TEST_F(RootSteps, BrokenCopyIsTakenFromTheRootCluster) {
  auto copy = RootCopy();
  copy[256] = 0x00;   // DataFiles slot of the copy
  Image().WriteView(1024, copy);
  RunBoth();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "Superblock - Root Directory copied from cluster 0"),
                                               L("OK:", "Cluster 0 - Root Directory")}));
  EXPECT_EQ(RootCopy(), RootHead());
  EXPECT_TRUE(Written(-1));
  EXPECT_FALSE(Written(0));
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
}

TEST_F(RootSteps, BrokenRootClusterIsTakenFromTheCopy) {
  const auto copy = RootCopy();
  auto head = RootHead();
  head[128] = 0xF2;   // __RECYCLE__ is 0xF3
  Image().WriteView(kClusterBytes, head);
  RunBoth();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("OK:", "Superblock - Root Directory"),
                                               L("Fixed:", "Root Directory - entries copied from superblock")}));
  EXPECT_EQ(RootHead(), copy);
  EXPECT_TRUE(Written(0));
}

TEST_F(RootSteps, BothBrokenRebuildsTheStandardSlotsInBothPlaces) {
  auto copy = RootCopy();
  copy[0] = 0;
  Image().WriteView(1024, copy);
  auto head = RootHead();
  head[384] = 0xD1;
  Image().WriteView(kClusterBytes, head);
  RunBoth();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "Superblock - Root Directory reconstructed"),
                                               L("Fixed:", "Root Directory - entries copied from superblock")}));
  const auto rebuilt = RootCopy();
  auto kept = rebuilt;   // the root keeps its own end
  std::copy(head.begin() + 16, head.begin() + 20, kept.begin() + 16);
  EXPECT_EQ(RootHead(), kept);
  struct Want { uint8_t attr; uint32_t start, count; const char* name; uint8_t b124; uint8_t pad; };
  const Want want[4] = {{0xF1, 0, 1, "__ROOT__", 0x31, 0xFF},
                        {0xF3, 1, 1, "__RECYCLE__", 0xBA, 0xFF},
                        {0xF2, 2, 1, "DataFiles", 0x44, 0x00},
                        {0xF2, 3, 2, "ProgramFiles", 0x1C, 0x00}};
  for (int k = 0; k < 4; ++k) {
    const auto e = ib::DecodeEntry(&rebuilt[size_t(k) * 128]);
    EXPECT_EQ(e.Attribute, want[k].attr) << k;
    EXPECT_EQ(e.StartCluster, want[k].start) << k;
    EXPECT_EQ(e.ClusterCount, want[k].count) << k;
    EXPECT_EQ(e.FreeBytes, uint32_t(kClusterBytes - 256)) << k;
    EXPECT_EQ(e.Name, want[k].name) << k;
    EXPECT_EQ(rebuilt[size_t(k) * 128 + 124], want[k].b124) << k;
    EXPECT_EQ(rebuilt[size_t(k) * 128 + 1], want[k].pad) << k;   // untouched bytes: the padding
  }
}

TEST_F(RootSteps, LaterRootSlotsWithInvalidAttributesAreErased) {
  std::vector<uint8_t> zero(128, 0);
  Image().WriteSlot(0, 5, zero);   // 0x00 is allowed here
  std::vector<uint8_t> recycle(128, 0x11);
  recycle[0] = 0xF3;
  Image().WriteSlot(0, 6, recycle);
  RunBoth();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("OK:", "Superblock - Root Directory"),
                                               L("Fixed:", "Root Directory - Slot 6: erased invalid entry")}));
  EXPECT_EQ(Image().ReadSlot(0, 5), zero);
  EXPECT_EQ(Image().ReadSlot(0, 6), std::vector<uint8_t>(128, 0xFF));
  // The recording's entry in slot 4 is untouched.
  EXPECT_EQ(ib::DecodeEntry(Image().ReadSlot(0, 2).data()).Name, "DataFiles");
}

TEST_F(RootSteps, UnreadableRootClusterIsReportedAndNotWritten) {
  ASSERT_EQ(::truncate(DrivePath().c_str(), int64_t(kClusterBytes) + 4096), 0);
  auto copy = RootCopy();
  copy[0] = 0;
  Image().WriteView(1024, copy);
  RunBoth();
  // Step 2 rebuilds the copy in the system cluster; step 3 cannot read the root.
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "Superblock - Root Directory reconstructed"),
                                               L("Error:", "Root Directory - Couldn't read cluster 0")}));
  EXPECT_FALSE(Written(0));
}

}  // namespace
}  // namespace steptest
