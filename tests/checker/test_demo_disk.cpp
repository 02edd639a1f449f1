// The demo disk is a disk as the recorder leaves it: the check-and-repair
// program finds nothing to fix on it and writes nothing, and the main
// program's check finds nothing either.
#include "tests/checker/step_fixture.h"
#include "tests/support/demo_disk.h"

namespace steptest {
namespace {

class DemoDiskTest : public StepTest {};

TEST_F(DemoDiskTest, FreshDemoDiskNeedsNoRepair) {
  const ib::DiskImage demo = ib::DemoDisk();
  Open(demo);
  const std::vector<uint8_t> system = Image().ReadClusterView(0);
  RunAllSteps();
  EXPECT_TRUE(OnlyOkAndInfo()) << AllLines();
  EXPECT_TRUE(Image().ReadClusterView(0) == system);
  for (const auto& file : std::filesystem::directory_iterator(Folder()))
    EXPECT_EQ(file.path().filename().string().find("_Original.bin"), std::string::npos)
        << "written: " << file.path();

  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
  EXPECT_EQ(findings, "");
}

// A repair of its system cluster gives the fresh disk back byte for byte:
// what the repair clears besides (the FAT tails) is clear already.
TEST_F(DemoDiskTest, RepairedSystemClusterIsTheFreshOne) {
  const ib::DiskImage demo = ib::DemoDisk();
  Open(demo);
  Image().SetSuperU32(ib::kSbMagic, 0x12345678, true, false);
  RunAllSteps();
  EXPECT_TRUE(HasLine(L("Fixed:", "Superblock - Magic Number"))) << AllLines();
  EXPECT_TRUE(Image().ReadClusterView(0) == demo.SystemClusterView());
}

}  // namespace
}  // namespace steptest
