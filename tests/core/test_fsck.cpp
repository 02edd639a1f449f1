// The file-system check: a clean disk passes; each finding of each step has
// its exact text and the right weight; damaged images never crash it.
#include "core/fsck.h"

#include <cmath>
#include <filesystem>

#include "tests/core/writer_fixture.h"
#include "tests/fuzz/fuzz_image.h"
#include "tests/fuzz/quiet_ui.h"

namespace writertest {
namespace {

constexpr uint64_t kClusterBytes = 2068ull * 512;

class Fsck : public WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    ib::DiskImage model(SmallSpec(45));
    model.AddFolder("\\DataFiles\\Films", 7);
    ib::FileSpec a;
    a.Path = "\\DataFiles\\a.rec";
    a.Size = 2 * kClusterBytes - 10;
    a.Chain = {10, 11};
    model.AddFile(a);
    ib::FileSpec x;
    x.Path = "\\DataFiles\\x.rec";
    x.Size = 4 * kClusterBytes;
    x.Chain = {12, 14, 13, 15};
    model.AddFile(x);
    ib::FileSpec b;
    b.Path = "\\DataFiles\\Films\\b.ts";
    b.Size = 700;
    b.Chain = {16};
    model.AddFile(b);
    Load(model);
  }
  // Damage goes straight to the image; the cache must forget what it holds.
  void Fat(uint32_t index, uint32_t value, bool fat1 = true, bool fat2 = true) {
    Image().SetFatEntry(index, value, fat1, fat2);
    core::InvalidateSideCache(0);
  }
  void ViewBytes(uint64_t offset, const std::vector<uint8_t>& bytes) {
    Image().WriteView(offset, bytes);
    core::InvalidateSideCache(0);
  }
  // Writes a directory entry into slot `slot` of folder `folder` and makes
  // the "." count cover it.
  void Entry(uint32_t folder, int slot, uint8_t attribute, uint32_t start, const std::string& name,
             uint32_t clusters = 1) {
    std::vector<uint8_t> e(128, 0);
    e[0] = attribute;
    ib::PutBE32(&e[8], start);
    ib::PutBE32(&e[12], clusters);
    std::memcpy(&e[20], name.data(), name.size());
    Image().WriteSlot(folder, slot, e);
    auto self = Image().ReadSlot(folder, 0);
    const uint32_t free = uint32_t(kClusterBytes - 128 * (slot + 1));
    if (ib::GetBE32(&self[16]) > free) ib::PutBE32(&self[16], free);
    Image().WriteSlot(folder, 0, self);
    core::InvalidateSideCache(0);
  }
  const core::FsckResult& R(int step) { return core::FsckResults[step]; }
};

// ------------------------------------------------------------ the driver

TEST_F(Fsck, CleanDiskPasses) {
  core::DiskId[0] = -3;
  EXPECT_TRUE(core::FSCK(0));
  for (int step = 1; step <= 5; ++step) {
    EXPECT_EQ(R(step).Status, 0) << step << ": " << R(step).Text;
    EXPECT_EQ(R(step).Text, "") << step;
  }
  EXPECT_EQ(core::FsckLastCluster, int32_t(std::ceil(double(Image().Size() / 512 / 16065 * 16065) / 2068) - 1));
  ASSERT_FALSE(script.WaitTexts().empty());
  EXPECT_EQ(script.WaitTexts().back(), "Scanning Topfield Disk 3. Please stand by.");
  EXPECT_FALSE(script.WaitShown());
  EXPECT_TRUE(core::List1.Empty());
  EXPECT_EQ(core::Disk[0].SectorsPerCluster, 2068);
}

TEST_F(Fsck, ChecksNothingOnTheDisk) {
  const auto before = Snapshot();
  Fat(40, 41);   // some findings, to walk every step
  Fat(41, ib::kFatEnd);
  const auto damaged = Snapshot();
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(Snapshot(), damaged);
  EXPECT_NE(before, damaged);
}

TEST_F(Fsck, OneTextPerBitAndFatalStepStopsTheCheck) {
  core::AddResult(5, 4, "Invalid . directory");
  core::AddResult(5, 4, "Invalid .. directory");
  core::AddResult(5, 1, "Lost Clusters");
  EXPECT_EQ(R(5).Flags, 0x12);
  EXPECT_EQ(R(5).Text, "Invalid . directory, Lost Clusters");

  core::FsckResults[3].Text = "from before";
  core::FsckResults[3].Status = 1;
  ViewBytes(0, Bytes({0x12, 0x34, 0x56, 0x78}));
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(3).Text, "from before");   // steps 2 to 5 did not run
}

// ---------------------------------------------------- step 1: superblock

TEST_F(Fsck, Step1MagicNumber) {
  ViewBytes(0, Bytes({0x12, 0x34, 0x56, 0x78}));
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(1).Text, "Magic Number (found 0x78563412)");
  EXPECT_EQ(R(1).Status, 2);
}

TEST_F(Fsck, Step1IdString) {
  std::vector<uint8_t> id(28, 0);
  const std::string lower = "topfield pvr hdd";
  std::memcpy(id.data(), lower.data(), lower.size());
  ViewBytes(4, id);
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(1).Text, "ID String (found \"topfield pvr hdd\")");
  EXPECT_EQ(R(1).Status, 2);

  const std::string variant = "TOPFIELD PVR HDD";
  std::fill(id.begin(), id.end(), 0);
  std::memcpy(id.data(), variant.data(), variant.size());
  ViewBytes(4, id);
  ViewBytes(512 + 4, id);
  EXPECT_TRUE(core::FSCK(0)) << R(1).Text << R(2).Text;
  EXPECT_EQ(R(1).Flags & 2, 0);
}

TEST_F(Fsck, Step1IdStringWithoutEndStaysInTheCluster) {
  std::vector<uint8_t> full(kClusterBytes - 4, 'A');
  ViewBytes(4, full);
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(1).Flags & 2, 2);
}

TEST_F(Fsck, Step1LayoutVersion) {
  ViewBytes(32, Bytes({1, 2}));
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(1).Text, "Layout Version (found V1.2)");
  ViewBytes(32, Bytes({1, 1}));
  ViewBytes(512 + 32, Bytes({1, 1}));
  EXPECT_TRUE(core::FSCK(0));
}

TEST_F(Fsck, Step1ClusterSizeMismatchIsAWarning) {
  Image().SetSuperU16(ib::kSbSectorsPerCluster, 2444);
  core::InvalidateSideCache(0);
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(1).Text, "Sectors per Cluster mismatch (Super Block=2444, Disk Size=2068, Data Scan=2068)");
  EXPECT_EQ(R(1).Status, 1);
  EXPECT_EQ(R(2).Text, "Sectors per Cluster mismatch (Super Block=2444, Disk Size=2068, Data Scan=2068)");
  const double sectors = double(Image().Size() / 512 / 16065 * 16065);
  EXPECT_EQ(core::FsckLastCluster, int32_t(std::ceil(sectors / 2444)) - 1);
}

TEST_F(Fsck, Step1LastClusterIsResetOnEveryRun) {
  core::FsckLastCluster = 0x1FFFF;   // left by a check of another disk
  Image().SetSuperU16(ib::kSbSectorsPerCluster, 0);
  core::InvalidateSideCache(0);
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(core::FsckLastCluster, core::Disk[0].LastCluster);
  EXPECT_EQ(R(1).Text, "Sectors per Cluster mismatch (Super Block=0, Disk Size=2068, Data Scan=2068)");
}

// --------------------------------------------- step 2: backup superblock

TEST_F(Fsck, Step2FatalFindings) {
  ViewBytes(512, Bytes({0, 0, 0, 0}));
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(2).Text, "Magic Number, 1:1 Copy of Sector 0");
  EXPECT_EQ(R(2).Status, 2);
  ViewBytes(512, Bytes({7, 8, 0x26, 7}));

  ViewBytes(512 + 4, Bytes({'X'}));
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(2).Text, "ID String, 1:1 Copy of Sector 0");
  ViewBytes(512 + 4, Bytes({'T'}));

  ViewBytes(512 + 33, Bytes({9}));
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(2).Text, "Layout Version, 1:1 Copy of Sector 0");
}

TEST_F(Fsck, Step2CopyAndClusterSizeAreWarnings) {
  ViewBytes(512 + 52, Bytes({0x55}));
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(2).Text, "1:1 Copy of Sector 0");
  EXPECT_EQ(R(2).Status, 1);

  Image().SetSuperU16(ib::kSbSectorsPerCluster, 3760, false, true);
  core::InvalidateSideCache(0);
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(2).Text,
            "Sectors per Cluster mismatch (Super Block=3760, Disk Size=2068, Data Scan=2068), "
            "1:1 Copy of Sector 0");
  EXPECT_EQ(R(1).Status, 0);
}

// --------------------------------------------------------- steps 3 and 4

TEST_F(Fsck, Step3BrokenChains) {
  Fat(25, 26);
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(3).Text, "Broken Chains (25)");
  EXPECT_EQ(R(3).Status, 2);
}

TEST_F(Fsck, Step3LinkBeyondLastClusterIsBroken) {
  Fat(22, 131071);
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(3).Text, "Broken Chains (22)");
}

TEST_F(Fsck, Step3Crosslinks) {
  Fat(20, 30);
  Fat(25, 30);
  Fat(27, 30);
  Fat(30, ib::kFatEnd);
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(3).Text, "Crosslinked Clusters (20 & 25, 25 & 27)");
}

TEST_F(Fsck, Step3OutsideTheRange) {
  Fat(21, 0x020000);
  Fat(23, 0x123456);
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(3).Text, "Outside FAT Range (21, 23)");
  EXPECT_EQ(core::FsckFAT1[21].Next, 0);
  EXPECT_EQ(core::FsckFAT1[23].Next, 0);
}

TEST_F(Fsck, Step3CircularChainFailsAndEnds) {
  Fat(24, 26);
  Fat(26, 24);
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(3).Text, "Circular Chains (24)");
  EXPECT_EQ(R(3).Status, 2);
  EXPECT_LE(core::GetFATChainLength(24), core::FsckLastCluster + 2);
}

TEST_F(Fsck, Step3ClusterTooSmallForTheFat) {
  core::Disk[0].SectorsPerCluster = 1000;
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(3).Text, "Outside FAT Range (Sectors per Cluster=1000)");
}

TEST_F(Fsck, Step3DamageInFat1StopsBeforeStep4) {
  core::FsckResults[4].Text = "from before";
  Fat(25, 26, true, false);
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(4).Text, "from before");
}

TEST_F(Fsck, Step4CopyOfFat1IsAWarning) {
  Fat(28, ib::kFatEnd, false, true);
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(3).Status, 0);
  EXPECT_EQ(R(4).Text, "1:1 Copy of FAT1");
  EXPECT_EQ(R(4).Status, 1);
}

TEST_F(Fsck, Step4CrosslinkInFat2AloneIsFatal) {
  Fat(20, 30, false, true);
  Fat(25, 30, false, true);
  Fat(30, ib::kFatEnd, false, true);
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(3).Status, 0);
  EXPECT_EQ(R(4).Text, "Crosslinked Clusters (20 & 25), 1:1 Copy of FAT1");
  EXPECT_EQ(R(4).Status, 2);
}

TEST_F(Fsck, ChainLengths) {
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(core::GetFATChainLength(12), 4);
  EXPECT_EQ(core::GetFATChainLength(16), 1);
}

// ------------------------------------------------ step 5: the directories

TEST_F(Fsck, Step5EntryOnAnEmptyCluster) {
  Fat(10, ib::kFatFree);
  EXPECT_FALSE(core::FSCK(0));
  EXPECT_EQ(R(5).Status, 2);
  EXPECT_EQ(R(5).Text.rfind("File points to an Empty Cluster (\\DataFiles\\a.rec)", 0), 0u)
      << R(5).Text;
}

TEST_F(Fsck, Step5LostClusters) {
  Fat(40, 41);
  Fat(41, 42);
  Fat(42, ib::kFatEnd);
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(5).Text, "Lost Clusters\r\n\t40  [3]");
  EXPECT_EQ(R(5).Status, 1);
}

TEST_F(Fsck, Step5SizeAgainstChainLength) {
  auto slot = Image().ReadSlot(2, Rec("\\DataFiles\\x.rec").Slot);
  ib::PutBE32(&slot[12], 5);
  Image().WriteSlot(2, Rec("\\DataFiles\\x.rec").Slot, slot);
  core::InvalidateSideCache(0);
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(5).Text, "File Size vs. Cluster Length (\\DataFiles\\x.rec)");
}

TEST_F(Fsck, Step5InvalidAttributeOnceForTheWholeTree) {
  Entry(2, 20, 0x42, 0, "odd");
  Entry(7, 20, 0x43, 0, "odd");
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(5).Text, "Invalid Attribute");
  EXPECT_EQ(R(5).Status, 1);
}

TEST_F(Fsck, Step5InvalidDotEntriesOneText) {
  ViewBytes(8ull * kClusterBytes, Bytes({0x00}));          // Films "."
  ViewBytes(8ull * kClusterBytes + 128, Bytes({0xF1}));    // Films ".."
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(5).Text, "Invalid . directory");
  ViewBytes(8ull * kClusterBytes, Bytes({0xF1}));
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(5).Text, "Invalid .. directory");
}

TEST_F(Fsck, Step5SkipsUnusedSlotsAndOutOfRangeStarts) {
  Entry(2, 20, 0x00, 0, "");
  Entry(2, 21, 0xD0, uint32_t(Last()) + 11, "far.ts");
  Entry(2, 22, 0xD1, 0, "zero.rec");
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(5).Text, "");
}

// Two entries on one cluster are crosslinked clusters, as fatal as FAT
// crosslinks: the same chain, a start inside another entry's chain, and a
// start that a chain of no entry runs into.
TEST_F(Fsck, Step5EntriesOnOneClusterAreCrosslinks) {
  struct Case {
    uint32_t Start, Clusters;
    std::string Pair;
  };
  const Case cases[] = {
      {10, 2, "\\DataFiles\\a.rec & \\DataFiles\\twin.rec"},
      {11, 1, "\\DataFiles\\a.rec & \\DataFiles\\twin.rec"},
      {13, 2, "\\DataFiles\\x.rec & \\DataFiles\\twin.rec"},
      {31, 1, "30 & \\DataFiles\\twin.rec"},
  };
  Fat(30, 31);
  Fat(31, ib::kFatEnd);
  for (const Case& c : cases) {
    Entry(2, 20, 0xD1, c.Start, "twin.rec", c.Clusters);
    EXPECT_FALSE(core::FSCK(0)) << c.Pair;
    EXPECT_EQ(R(5).Status, 2) << c.Pair;
    EXPECT_NE(R(5).Text.find("Crosslinked Clusters (" + c.Pair + ")"), std::string::npos)
        << R(5).Text;
  }
  // Without the second entry the disk passes again.
  Entry(2, 20, 0xFF, 0, "");
  Fat(30, ib::kFatFree);
  Fat(31, ib::kFatFree);
  EXPECT_TRUE(core::FSCK(0)) << R(5).Text;
}

TEST_F(Fsck, Step5DirectoryLoopFails) {
  Entry(7, 5, 0xF2, 2, "Back");
  EXPECT_FALSE(core::FSCK(0));
  // Back owns \DataFiles' cluster too.
  EXPECT_EQ(R(5).Text,
            "Directory Loop (\\DataFiles\\Films\\Back), "
            "Crosslinked Clusters (\\DataFiles & \\DataFiles\\Films\\Back)");
  EXPECT_EQ(R(5).Status, 2);
  EXPECT_TRUE(core::List1.Empty());
}

TEST_F(Fsck, Step5DotCountBeyondTheClusterStaysInside) {
  ViewBytes(8ull * kClusterBytes + 16, Bytes({0xFF, 0xFF, 0xFF, 0xFF}));   // FreeBytes -1
  EXPECT_TRUE(core::FSCK(0));
  ViewBytes(8ull * kClusterBytes + 16, Bytes({0x7F, 0xFF, 0xFF, 0xFF}));   // nothing used
  EXPECT_TRUE(core::FSCK(0));
  EXPECT_EQ(R(5).Text, "Lost Clusters\r\n\t16  [1]");
}

// Size fields no writer gives: the check names the entry and refuses the
// disk, and the size read never exceeds what the fields can mean.
TEST_F(Fsck, Step5ImpossibleSizeFieldsAreNamedAndBounded) {
  struct Case {
    uint32_t Clusters, Free, Last;
    double Most;   // the bytes the fields can mean at most
  };
  const uint32_t c = uint32_t(kClusterBytes), tail = c - 1024;
  const Case cases[] = {{1, tail, 188, 700},  {1, tail, 513, 1024}, {1, tail, 0xFFFF, 1024},
                        {1, c, 188, c},       {1, 0x7FFFFFFF, 188, c}, {1, c - 256, 188, c},
                        {0, 0, 188, 0},       {0, 1024, 0, 0},      {0x80000000u, tail, 188, 0}};
  const core::FileRec b = Rec("\\DataFiles\\Films\\b.ts");
  for (const Case& k : cases) {
    auto slot = Image().ReadSlot(7, b.Slot);
    ib::PutBE32(&slot[12], k.Clusters);
    ib::PutBE32(&slot[16], k.Free);
    slot[126] = uint8_t(k.Last >> 8), slot[127] = uint8_t(k.Last);
    Image().WriteSlot(7, b.Slot, slot);
    Reload();
    const bool possible = k.Most == 700;
    EXPECT_EQ(core::FSCK(0), possible) << k.Free << " " << k.Last;
    EXPECT_EQ(R(5).Text.find("Invalid File Size (\\DataFiles\\Films\\b.ts)") != std::string::npos, !possible)
        << R(5).Text;
    EXPECT_GE(Rec(b.Name).Size, possible ? 700 : 0);
    EXPECT_LE(Rec(b.Name).Size, k.Most);
  }
}

// ----------------------------------------- damaged images from the fuzzer

TEST(FsckRegression, DamagedImagesNeitherCrashNorHang) {
  namespace fs = std::filesystem;
  ib::TempDir tmp("qfsckfuzz");
  core::SetAppDir(tmp.Path());
  setenv("QUENBRIX_DEVICES", tmp.Path().c_str(), 1);
  fuzzimage::QuietUi quiet;
  ui::CurrentUiScope use(quiet);
  int replayed = 0;
  // Every input of either fuzz target: the load and check holds for any damage.
  for (const auto& file : fs::recursive_directory_iterator(std::string(QUENBRIX_TEST_DATA) + "/fuzz")) {
    if (!file.is_regular_file()) continue;
    fuzzimage::WriteDamaged(tmp / "PhysicalDrive0", ib::ReadWholeFile(file.path().string()));
    EXPECT_EQ(fuzzimage::LoadAndCheckDrive0(quiet), "") << file.path();
    ++replayed;
  }
  core::ResetState();
  EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace writertest
