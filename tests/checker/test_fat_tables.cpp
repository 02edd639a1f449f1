// The FAT tables of the check program: loading, references, chain lengths
// and starts on chains with cycles, cross-links and lost chains.
#include <chrono>

#include "checker/fat_tables.h"
#include "layer_fixture.h"

namespace checkertest {
namespace {

using namespace checker;

// Works on a hand-made system cluster in the buffer: every entry free.
class FatTablesTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    SectorsPerCluster = 2068;
    LastCluster = 1000;
    ClusterBuffer.assign(2068 * 512, 0);
    for (int32_t i = 0; i <= LastCluster; ++i) Set(i, kFatFree);
  }
  // Sets entry i in both copies (or one).
  void Set(int32_t i, int32_t value, bool fat1 = true, bool fat2 = true) {
    for (int32_t base : {fat1 ? kFat1Offset : -1, fat2 ? kFat2Offset : -1}) {
      if (base < 0) continue;
      uint8_t* p = ClusterBuffer.data() + base + 3 * i;
      p[0] = uint8_t(value >> 16); p[1] = uint8_t(value >> 8); p[2] = uint8_t(value);
    }
  }
  void Chain(const std::vector<int32_t>& chain) {
    for (size_t k = 0; k < chain.size(); ++k) Set(chain[k], k + 1 < chain.size() ? chain[k + 1] : kFatEnd);
  }
};

TEST_F(FatTablesTest, LengthsOfFreeEndAndShortChains) {
  Chain({10, 11});
  Set(20, kFatEnd);
  LoadTopfFAT();
  EXPECT_EQ(FAT1[10].Value, 11);
  EXPECT_EQ(FAT2[11].Value, kFatEnd);
  EXPECT_EQ(FindChainLength(5, true), 0);
  EXPECT_EQ(FindChainLength(20, true), 1);
  EXPECT_EQ(FindChainLength(10, true), 2);
  EXPECT_EQ(FindChainLength(11, false), 1);
  EXPECT_EQ(FindChainStart(11, true), 10);
  EXPECT_EQ(FindChainStart(10, true), 10);
  CalcFATChainLengths();
  EXPECT_EQ(FAT1[10].Length, 2);
  EXPECT_EQ(FAT1[5].Length, 0);
  EXPECT_EQ(LongestStart, 10);
  EXPECT_EQ(LongestLength, 2);
  EXPECT_TRUE(LongestInFAT1);
}

TEST_F(FatTablesTest, ReferencesCountEveryPointer) {
  Set(30, 40);
  Set(35, 40);
  Set(40, kFatEnd);
  Set(50, 0x1FFFF);   // past LastCluster, still a reference
  Set(60, 0);         // zero ends a walk after this entry
  LoadTopfFAT();
  EXPECT_EQ(FAT1[40].NrRef, 2);
  EXPECT_EQ(FAT1[40].XRef, 35) << "the higher of the two";
  EXPECT_EQ(FAT1[0x1FFFF].NrRef, 1);
  EXPECT_EQ(FAT1[0x1FFFF].XRef, 50);
  EXPECT_EQ(FindChainLength(50, true), 2);
  EXPECT_EQ(FindChainLength(60, true), 1);
  EXPECT_EQ(FindChainLength(-3, true), 0);
  EXPECT_EQ(FindChainLength(0x20000, true), 0);
}

TEST_F(FatTablesTest, ChainIntoAFreeEntryCountsIt) {
  Set(70, 71);   // 71 stays free: a broken chain
  LoadTopfFAT();
  EXPECT_EQ(FindChainLength(70, true), 2);
  CalcFATChainLengths();
  EXPECT_EQ(FAT1[70].Length, 2);
  EXPECT_EQ(FAT1[71].Length, 0);
}

TEST_F(FatTablesTest, CirclesEndTheirWalks) {
  Set(100, 101);
  Set(101, 102);
  Set(102, 100);       // a circle of three
  Set(110, 100);       // a tail into it
  Set(120, 120);       // an entry pointing at itself
  LoadTopfFAT();
  EXPECT_EQ(FindChainLength(100, true), 3);
  EXPECT_EQ(FindChainLength(110, true), 4);
  EXPECT_EQ(FindChainLength(120, true), 1);
  const int32_t start = FindChainStart(101, true);
  EXPECT_TRUE(start == 100 || start == 101 || start == 102 || start == 110) << start;
  EXPECT_EQ(FindChainStart(120, true), 120);
  CalcFATChainLengths();
  EXPECT_EQ(FAT1[100].Length, 3);
  EXPECT_EQ(FAT1[102].Length, 3);
  EXPECT_EQ(FAT1[110].Length, 4);
  EXPECT_EQ(FAT1[120].Length, 1);
  EXPECT_EQ(LongestStart, 110);
}

TEST_F(FatTablesTest, LongestChainPrefersLowerIndexThenFat1AndSkipsClaimed) {
  Chain({200, 201, 202});
  Chain({300, 301, 302});
  // FAT2 alone holds a longer chain at 400.
  Set(400, 401, false, true);
  Set(401, 402, false, true);
  Set(402, 403, false, true);
  Set(403, kFatEnd, false, true);
  LoadTopfFAT();
  CalcFATChainLengths();
  EXPECT_EQ(LongestStart, 400);
  EXPECT_FALSE(LongestInFAT1);
  EXPECT_EQ(LongestLength, 4);
  for (int32_t i : {400, 401, 402, 403}) Sense[size_t(i)] = SenseReferenced;
  CalcFATChainLengths();
  EXPECT_EQ(LongestStart, 200) << "equal lengths: the lower index";
  EXPECT_TRUE(LongestInFAT1);
  EXPECT_EQ(FAT2[400].Length, 0) << "claimed entries get no length";
}

TEST_F(FatTablesTest, CrossLinkedChainsShareTheirTail) {
  Chain({500, 501, 502, 503});
  Set(510, 502);   // runs into the middle of the first chain
  LoadTopfFAT();
  EXPECT_EQ(FAT1[502].NrRef, 2);
  EXPECT_EQ(FAT1[502].XRef, 510);
  EXPECT_EQ(FindChainLength(510, true), 3);
  EXPECT_EQ(FindChainStart(503, true), 510) << "follows the highest predecessor";
}

TEST_F(FatTablesTest, LongChainsAreMeasuredInLinearTime) {
  LastCluster = 0x1FFFF;
  for (int32_t i = 0; i < 0x1FFFF; ++i) Set(i, i + 1);
  Set(0x1FFFF, kFatEnd);
  LoadTopfFAT();
  const auto start = std::chrono::steady_clock::now();
  CalcFATChainLengths();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(FAT1[0].Length, 0x20000);
  EXPECT_EQ(FAT2[0x1FFFE].Length, 2);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count(), 5);
}

TEST_F(FatTablesTest, SmallClusterKeepsTheTablesInsideTheBuffer) {
  SectorsPerCluster = 1100;   // FAT2 only partly inside the buffer
  ClusterBuffer.assign(1100 * 512, 0xFF);
  LastCluster = 0x1FFFF;
  EXPECT_LT(FatLastIndex(), 0x1FFFF);
  LoadTopfFAT();
  EXPECT_EQ(FAT1[0x1FFFF].Value, kFatFree);
}

class FatSaveTest : public LayerTest {};

TEST_F(FatSaveTest, SaveWritesBothAreasAndNothingElse) {
  ib::DiskImage image;
  ib::FileSpec f;
  f.Path = "\\DataFiles\\a.rec";
  f.Size = 3 * 2068 * 512;
  f.Chain = {20, 25, 22};
  image.AddFile(f);
  const std::string path = OpenImage(image);
  ASSERT_TRUE(ReadTopfCluster(0));
  LoadTopfFAT();
  EXPECT_EQ(FAT1[20].Value, 25);
  EXPECT_EQ(FindChainLength(20, true), 3);
  FAT1[22].Value = 30;
  FAT1[30].Value = kFatEnd;
  FAT2[40].Value = kFatEnd;
  // Something unsaved in the buffer is discarded by the reread.
  ClusterBuffer[1500] = 0x77;
  ASSERT_TRUE(SaveTopfFAT());
  std::vector<uint8_t> expected = image.SystemClusterView();
  auto put = [&](uint32_t offset, uint32_t v) { ib::PutBE24(expected.data() + offset, v); };
  put(0x20000 + 3 * 22, 30);
  put(0x20000 + 3 * 30, kFatEnd);
  put(0x80000 + 3 * 40, kFatEnd);
  EXPECT_EQ(ClusterBuffer, expected);
  ASSERT_TRUE(WriteTopfCluster(0, true));
  ib::ImageFile file(path);
  EXPECT_EQ(file.FatEntry(22, 1), 30u);
  EXPECT_EQ(file.FatEntry(22, 2), uint32_t(kFatEnd)) << "FAT2 keeps its own value";
  EXPECT_EQ(file.FatEntry(40, 2), uint32_t(kFatEnd));
  EXPECT_EQ(file.FatEntry(40, 1), uint32_t(kFatFree));
}

}  // namespace
}  // namespace checkertest
