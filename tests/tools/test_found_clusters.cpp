// The found-cluster table: line format, index order, search-list save and
// load, and refusal of damaged or foreign search lists.
#include "tests/tools/recovery_fixture.h"

#include "core/error_handler.h"
#include "tools/found_clusters.h"

namespace recoverytest {
namespace {

using tools::FoundCluster;

FoundCluster Hit(int32_t cluster, int32_t pid, double first, double last = 0, bool tfrc = false) {
  FoundCluster h;
  h.Cluster = cluster;
  h.Pid = pid;
  h.FirstPts = first;
  h.LastPts = last;
  h.HasTFrc = tfrc;
  return h;
}

class FoundClustersTest : public RecoveryTest {
 protected:
  // A side 0 with a FAT of 1000 free indexes and no files.
  void BareDisk() {
    core::Disk[0].LastCluster = 1000;
    core::Disk[0].SectorsPerCluster = 2068;
    core::Disk[0].CrcId = "0123ABCD";
    core::Disk[0].FileCount = 0;
  }
  std::vector<int32_t> OrderedClusters() const {
    std::vector<int32_t> out;
    for (int32_t i = 0; i < tools::FoundCount; ++i)
      out.push_back(tools::FoundClusters[size_t(tools::FoundIndex[size_t(i)])].Cluster);
    return out;
  }
};

TEST_F(FoundClustersTest, LineOfAFreeClusterHasFixedColumnsAndEndsAtColumn46) {
  BareDisk();
  FoundCluster h = Hit(42, 0x100, double(0x123456789LL), double(0x000ABCDEF), true);
  tools::AddRecoveredCluster(h);
  const std::string& text = tools::FoundClusters[0].Text;
  EXPECT_EQ(text, "0100 000123456789-000000ABCDEF 000042 T ------");
  EXPECT_EQ(text.size(), 46u);
  FoundCluster n = Hit(7, 0x1FFF, 0, 0, false);
  tools::AddRecoveredCluster(n);
  EXPECT_EQ(tools::FoundClusters[1].Text, "1FFF 000000000000-000000000000 000007   ------");
}

TEST_F(FoundClustersTest, LineOfAUsedClusterShowsItsLinkAndTheOwningFile) {
  BareDisk();
  auto& fat = core::Disk[0].FAT;
  // A file on 5 -> 9 -> 6 and a lost chain 20 -> 21 nobody owns.
  fat[5] = {9, 0};
  fat[9] = {6, 5};
  fat[6] = {-1, 9};
  fat[20] = {21, 0};
  fat[21] = {-1, 20};
  core::Disk[0].Files[0].Name = "\\DataFiles\\Film.rec";
  core::Disk[0].Files[0].StartCluster = 5;
  core::Disk[0].FileCount = 1;
  tools::ResetOwnerCache();
  FoundCluster a = Hit(9, 0x100, 1000), b = Hit(6, 0x100, 2000), c = Hit(21, 0x100, 3000);
  tools::AddRecoveredCluster(a);
  tools::AddRecoveredCluster(b);
  tools::AddRecoveredCluster(c);
  EXPECT_EQ(tools::FoundClusters[0].Text.substr(31), "000009   000006 \\DataFiles\\Film.rec");
  EXPECT_EQ(tools::FoundClusters[1].Text.substr(31), "000006   EEEEEE \\DataFiles\\Film.rec");
  EXPECT_EQ(tools::FoundClusters[2].Text.substr(31), "000021   EEEEEE");
}

TEST_F(FoundClustersTest, OwnerWalkEndsOnALoopOfPrevLinks) {
  BareDisk();
  auto& fat = core::Disk[0].FAT;
  fat[3] = {4, 4};   // 3 and 4 point back at each other
  fat[4] = {3, 3};
  FoundCluster h = Hit(3, 0x100, 1);
  tools::AddRecoveredCluster(h);   // must return
  EXPECT_EQ(tools::FoundClusters[0].Text.substr(40, 6), "000004");
}

TEST_F(FoundClustersTest, IndexOrdersByPidThenFirstPtsWhateverTheArrivalOrder) {
  BareDisk();
  const std::vector<FoundCluster> hits = {Hit(1, 0x200, 500), Hit(2, 0x100, 900),
                                          Hit(3, 0x100, 100), Hit(4, 0x300, 0),
                                          Hit(5, 0x100, 400), Hit(6, 0x200, 100)};
  std::vector<int> order = {0, 1, 2, 3, 4, 5};
  std::vector<int32_t> first;
  do {
    tools::ClearFoundClusters();
    for (int i : order) {
      FoundCluster h = hits[size_t(i)];
      tools::AddRecoveredCluster(h);
    }
    const auto got = OrderedClusters();
    if (first.empty()) first = got;
    EXPECT_EQ(got, first);
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(first, (std::vector<int32_t>{3, 5, 2, 6, 1, 4}));
}

TEST_F(FoundClustersTest, EqualKeysFollowTheInsertionRule) {
  BareDisk();
  // One record: an equal key goes before it.
  FoundCluster a = Hit(1, 0x100, 100), b = Hit(2, 0x100, 100);
  tools::AddRecoveredCluster(a);
  tools::AddRecoveredCluster(b);
  EXPECT_EQ(OrderedClusters(), (std::vector<int32_t>{2, 1}));
  // Equal to a key in the middle: after the ones the search passes.
  tools::ClearFoundClusters();
  FoundCluster k1 = Hit(1, 0x100, 100), k2 = Hit(2, 0x100, 200), k3 = Hit(3, 0x100, 300),
               k4 = Hit(4, 0x100, 200);
  tools::AddRecoveredCluster(k1);
  tools::AddRecoveredCluster(k2);
  tools::AddRecoveredCluster(k3);
  tools::AddRecoveredCluster(k4);
  EXPECT_EQ(OrderedClusters(), (std::vector<int32_t>{1, 2, 4, 3}));
  // Equal to the last listed record: just before it.
  FoundCluster k5 = Hit(5, 0x100, 300);
  tools::AddRecoveredCluster(k5);
  EXPECT_EQ(OrderedClusters(), (std::vector<int32_t>{1, 2, 4, 5, 3}));
}

TEST_F(FoundClustersTest, FullTableRefusesTheNextHit) {
  BareDisk();
  for (int32_t i = 0; i < tools::kFoundCapacity; ++i) {
    FoundCluster h = Hit(i % 1000, 0x100, double(i));
    tools::AddRecoveredCluster(h);
  }
  EXPECT_EQ(tools::FoundCount, tools::kFoundCapacity);
  FoundCluster extra = Hit(1, 0x100, 1e6);
  EXPECT_THROW(tools::AddRecoveredCluster(extra), core::RuntimeError);
  EXPECT_EQ(tools::FoundCount, tools::kFoundCapacity);
}

TEST_F(FoundClustersTest, SaveWritesIndexOrderCrLfAndOneLinePerCluster) {
  BareDisk();
  FoundCluster a = Hit(12, 0x100, 300), b = Hit(11, 0x100, 100), c = Hit(11, 0x100, 100),
               d = Hit(13, 0x101, 5);
  tools::AddRecoveredCluster(a);
  tools::AddRecoveredCluster(b);
  tools::AddRecoveredCluster(c);
  tools::AddRecoveredCluster(d);
  tools::SaveScanner();
  const std::string file = ib::ReadWholeFile(Folder() + "/0123ABCD_Search.txt");
  EXPECT_EQ(file,
            "0100 000000000064-000000000000 000011   ------\r\n"
            "0100 00000000012C-000000000000 000012   ------\r\n"
            "0101 000000000005-000000000000 000013   ------\r\n");
}

TEST_F(FoundClustersTest, LoadReadsBackEveryFieldAndRebuildsTheText) {
  BareDisk();
  FoundCluster a = Hit(12, 0x100, double(0x1FFFFFFFFLL), 77, true), b = Hit(30, 0x1ABC, 5, 6);
  tools::AddRecoveredCluster(a);
  tools::AddRecoveredCluster(b);
  tools::SaveScanner();
  // The FAT changed meanwhile: cluster 30 is now an end of chain.
  core::Disk[0].FAT[30] = {-1, 0};
  ASSERT_TRUE(tools::LoadScanner());
  ASSERT_EQ(tools::FoundCount, 2);
  const FoundCluster& x = tools::FoundClusters[0];
  EXPECT_EQ(x.Cluster, 12);
  EXPECT_EQ(x.Pid, 0x100);
  EXPECT_TRUE(x.HasTFrc);
  EXPECT_EQ(x.FirstPts, double(0x1FFFFFFFFLL));
  EXPECT_EQ(x.LastPts, 77);
  EXPECT_EQ(x.NextRec, -1);
  EXPECT_EQ(x.PrevRec, -1);
  EXPECT_FALSE(x.Used);
  EXPECT_EQ(tools::FoundClusters[1].Text, "1ABC 000000000005-000000000006 000030   EEEEEE");
}

TEST_F(FoundClustersTest, LinesOf45CharactersAreSkippedAnd46AreRead) {
  BareDisk();
  ib::WriteWholeFile(Folder() + "/0123ABCD_Search.txt",
                     "0100 000000000064-000000000000 000011   -----\r\n"
                     "\r\n"
                     "0100 000000000065-000000000000 000012   ------\r\n");
  ASSERT_TRUE(tools::LoadScanner());
  ASSERT_EQ(tools::FoundCount, 1);
  EXPECT_EQ(tools::FoundClusters[0].Cluster, 12);
  EXPECT_TRUE(script.Prompts().empty());
}

TEST_F(FoundClustersTest, MissingSearchListLeavesTheTableEmpty) {
  BareDisk();
  FoundCluster a = Hit(12, 0x100, 1);
  tools::AddRecoveredCluster(a);
  EXPECT_TRUE(tools::LoadScanner());
  EXPECT_EQ(tools::FoundCount, 0);
}

TEST_F(FoundClustersTest, DamagedOrForeignSearchListsAreRefused) {
  BareDisk();
  const std::string good = "0100 000000000064-000000000000 000011   ------\r\n";
  const std::vector<std::string> bad = {
      "0100 000000000064-000000000000 0000x1   ------\r\n",            // cluster not decimal
      "0100 000000000064-000000000000 001001   ------\r\n",            // cluster beyond the disk
      "0000 000000000064-000000000000 000011   ------\r\n",            // PID 0
      "01G0 000000000064-000000000000 000011   ------\r\n",            // PID not hex
      "0100 000000000064 000000000000 000011   ------\r\n",            // separator
      "0100 000000000064-000000000000 000011   --x---\r\n",            // FAT column
      "0100 FFFFFFFFFFFF-000000000000 000011   ------\r\n",            // not a 33-bit stamp
      "This is the shopping list for the weekend, not a search list.\r\n",
  };
  for (const std::string& line : bad) {
    SCOPED_TRACE(line);
    ib::WriteWholeFile(Folder() + "/0123ABCD_Search.txt", good + line);
    script.ExpectMsgBox("is damaged or does not belong to this disk (line 2)", ui::Answer::OK);
    EXPECT_FALSE(tools::LoadScanner());
    EXPECT_EQ(tools::FoundCount, 0);
    EXPECT_TRUE(script.AllAnswered());
    // The file itself is left as it is.
    EXPECT_EQ(ib::ReadWholeFile(Folder() + "/0123ABCD_Search.txt"), good + line);
  }
}

}  // namespace
}  // namespace recoverytest
