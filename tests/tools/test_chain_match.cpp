// The chain matcher: the time-stamp rule, chain building, the match list,
// and that only free clusters, each once, take part.
#include "tests/tools/recovery_fixture.h"

#include <sys/stat.h>

#include "tools/chain_match.h"
#include "tools/found_clusters.h"

namespace recoverytest {
namespace {

using tools::FoundCluster;

class ChainMatchTest : public RecoveryTest {
 protected:
  void SetUp() override {
    RecoveryTest::SetUp();
    core::Disk[0].LastCluster = 1000;
    core::Disk[0].SectorsPerCluster = 2068;
    core::Disk[0].CrcId = "CAFE0001";
    core::Disk[0].FileCount = 0;
  }
  void Add(int32_t cluster, int32_t pid, double first, double last) {
    FoundCluster h;
    h.Cluster = cluster;
    h.Pid = pid;
    h.FirstPts = first;
    h.LastPts = last;
    tools::AddRecoveredCluster(h);
  }
  // Saves the hits added so far as the search list and runs the matcher.
  void SaveAndMatch() {
    tools::SaveScanner();
    ASSERT_TRUE(tools::Matcher());
  }
  // Clusters of the chain that starts at table record r.
  std::vector<int32_t> ChainFrom(int32_t r) const {
    std::vector<int32_t> out;
    for (int32_t x = r; x >= 0 && out.size() < 5000; x = tools::FoundClusters[size_t(x)].NextRec)
      out.push_back(tools::FoundClusters[size_t(x)].Cluster);
    return out;
  }
  int32_t RecordOf(int32_t cluster) const {
    for (int32_t i = 0; i < tools::FoundCount; ++i)
      if (tools::FoundClusters[size_t(i)].Cluster == cluster) return i;
    return -1;
  }
  std::string MatchFile() const { return Folder() + "/CAFE0001_Match.txt"; }
};

TEST_F(ChainMatchTest, StepRule) {
  EXPECT_FALSE(tools::PtsContinues(2000));
  EXPECT_FALSE(tools::PtsContinues(216000));
  EXPECT_TRUE(tools::PtsContinues(7199));
  EXPECT_TRUE(tools::PtsContinues(7201));
  EXPECT_TRUE(tools::PtsContinues(10799));
  EXPECT_TRUE(tools::PtsContinues(10801));
  EXPECT_TRUE(tools::PtsContinues(14400));
  EXPECT_TRUE(tools::PtsContinues(21600));
  EXPECT_FALSE(tools::PtsContinues(7202));
  EXPECT_FALSE(tools::PtsContinues(3600));
  EXPECT_FALSE(tools::PtsContinues(-10800));
  EXPECT_TRUE(tools::PtsContinues(216000 - 7200));
}

TEST_F(ChainMatchTest, ThreeChainsInTheFileWithSeparators) {
  // Chain 1: 100 -> 101 (PID 0x100); chain 2: 200 alone; chain 3: 300 -> 301 -> 302.
  Add(101, 0x100, 20800, 30000);
  Add(100, 0x100, 0, 10000);
  Add(200, 0x100, 900000, 910000);
  Add(302, 0x200, 27200, 30000);
  Add(300, 0x200, 0, 10000);
  Add(301, 0x200, 17200, 20000);
  SaveAndMatch();
  EXPECT_EQ(ChainFrom(RecordOf(100)), (std::vector<int32_t>{100, 101}));
  EXPECT_EQ(ChainFrom(RecordOf(200)), (std::vector<int32_t>{200}));
  EXPECT_EQ(ChainFrom(RecordOf(300)), (std::vector<int32_t>{300, 301, 302}));
  EXPECT_EQ(tools::FoundClusters[size_t(RecordOf(101))].PrevRec, RecordOf(100));
  const std::string sep(100, '-');
  auto line = [&](int32_t c) { return tools::FoundClusters[size_t(RecordOf(c))].Text; };
  EXPECT_EQ(ib::ReadWholeFile(MatchFile()),
            line(100) + "\r\n" + line(101) + "\r\n" + sep + "\r\n" + line(200) + "\r\n" + sep +
                "\r\n" + line(300) + "\r\n" + line(301) + "\r\n" + line(302) + "\r\n");
}

TEST_F(ChainMatchTest, DifferentPidsNeverLink) {
  Add(1, 0x100, 0, 10000);
  Add(2, 0x101, 20800, 30000);
  SaveAndMatch();
  EXPECT_EQ(ChainFrom(RecordOf(1)), (std::vector<int32_t>{1}));
  EXPECT_EQ(ChainFrom(RecordOf(2)), (std::vector<int32_t>{2}));
}

TEST_F(ChainMatchTest, AHitWithOneTimeStampLinksOnlyByItsSuccessorsFirstStamp) {
  Add(1, 0x100, 5000, 0);      // one stamp only: d is the successor's FirstPts
  Add(2, 0x100, 10800, 0);     // 10800 - 0 links
  Add(3, 0x100, 30000, 40000); // 30000 - 0 does not
  SaveAndMatch();
  EXPECT_EQ(ChainFrom(RecordOf(1)), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(ChainFrom(RecordOf(3)), (std::vector<int32_t>{3}));
}

TEST_F(ChainMatchTest, FirstQualifyingRecordWinsAndTheLimitEndsTheSearch) {
  Add(1, 0x100, 0, 10000);
  Add(2, 0x100, 17200, 20000);   // d = 7200: first candidate
  Add(3, 0x100, 20800, 25000);   // d = 10800 from 1, but 2 came first; d from 2 = 800: no
  Add(4, 0x100, 400000, 500000); // far away: the search for 2's successor ends here
  SaveAndMatch();
  EXPECT_EQ(ChainFrom(RecordOf(1)), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(ChainFrom(RecordOf(3)), (std::vector<int32_t>{3}));
  EXPECT_EQ(ChainFrom(RecordOf(4)), (std::vector<int32_t>{4}));
}

TEST_F(ChainMatchTest, NoGapFirstAndAGapOnlyWhereAClusterFits) {
  Add(1, 0x100, 0, 6000);            // 14400 (a gap) before 3
  Add(2, 0x100, 1000, 9600);         // 10800 (no gap) before 3
  Add(3, 0x100, 20400, 25000);
  Add(10, 0x200, 0, 20000);          // 21600 before 11: a cluster of 20000 fits
  Add(11, 0x200, 41600, 60000);
  Add(20, 0x300, 0, 650000);         // 21600 before 21: no cluster of 650000 fits
  Add(21, 0x300, 671600, 1300000);
  SaveAndMatch();
  for (const std::vector<int32_t>& chain : {std::vector<int32_t>{1}, {2, 3}, {10, 11}, {20}})
    EXPECT_EQ(ChainFrom(RecordOf(chain[0])), chain);
}

TEST_F(ChainMatchTest, UsedClustersTakePartRepeatedOnesAndIndexZeroDoNot) {
  auto& fat = core::Disk[0].FAT;
  fat[50] = {-1, 0};   // a used cluster (whether an entry reaches it is the rebuild's matter)
  Add(40, 0x100, 0, 10000);
  Add(50, 0x100, 20800, 30000);   // continues 40
  Add(40, 0x100, 40800, 50000);   // the same cluster again
  Add(60, 0x100, 20800, 30000);   // would continue 40 too, but 50 came first
  Add(0, 0x100, 60800, 70000);    // FAT index 0 (the root) never takes part
  SaveAndMatch();
  // The search list kept both hits of cluster 40 on one line only when they
  // were neighbours; here they are not, so both were reloaded.
  int32_t excluded = 0;
  for (int32_t i = 0; i < tools::FoundCount; ++i)
    if (tools::FoundClusters[size_t(i)].Excluded) ++excluded;
  EXPECT_EQ(excluded, 2);
  EXPECT_EQ(ChainFrom(RecordOf(40)), (std::vector<int32_t>{40, 50}));
  EXPECT_EQ(ChainFrom(RecordOf(60)), (std::vector<int32_t>{60}));
  const std::string file = ib::ReadWholeFile(MatchFile());
  EXPECT_EQ(file.find(" 000000 "), std::string::npos);
  // Every cluster that takes part appears once.
  for (const char* cluster : {" 000040 ", " 000050 ", " 000060 "}) {
    size_t count = 0;
    for (size_t p = file.find(cluster); p != std::string::npos; p = file.find(cluster, p + 1))
      ++count;
    EXPECT_EQ(count, 1u) << cluster;
  }
}

TEST_F(ChainMatchTest, NoHitsWritesNoMatchFile) {
  tools::SaveScanner();
  ASSERT_TRUE(tools::Matcher());
  struct stat st;
  EXPECT_NE(::stat(MatchFile().c_str(), &st), 0);
}

TEST_F(ChainMatchTest, RefusedSearchListIsNotMatched) {
  ib::WriteWholeFile(Folder() + "/CAFE0001_Search.txt",
                     "0100 000000000064-000000000000 9999999  ------ trailing\r\n");
  script.ExpectMsgBox("is damaged or does not belong to this disk", ui::Answer::OK);
  EXPECT_FALSE(tools::Matcher());
  struct stat st;
  EXPECT_NE(::stat(MatchFile().c_str(), &st), 0);
  EXPECT_TRUE(script.AllAnswered());
}

TEST_F(ChainMatchTest, LongRunOfHitsMatchesInOneChainQuickly) {
  // 20 recordings of 1000 hits each (one PID each), added out of order.
  core::Disk[0].LastCluster = 30000;
  for (int32_t i = 0; i < 20000; ++i) {
    const int32_t k = (i * 7919) % 20000;
    Add(1 + k, 0x100 + k / 1000, double(k % 1000) * 21600, double(k % 1000) * 21600 + 10800);
  }
  SaveAndMatch();
  // Per PID one chain of 1000 clusters 1..1000 in order.
  const int32_t r = RecordOf(1);
  const auto chain = ChainFrom(r);
  ASSERT_EQ(chain.size(), 1000u);
  for (size_t i = 0; i < chain.size(); ++i) EXPECT_EQ(chain[i], int32_t(i) + 1);
}

}  // namespace
}  // namespace recoverytest
