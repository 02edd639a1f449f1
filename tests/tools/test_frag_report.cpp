// The fragmentation report and the cluster map on a disk model in memory:
// exact texts of the rows, which items are listed, the sort order and header
// icons of the list, and where and how the map paints each FAT index.
#include <gtest/gtest.h>

#include "core/disk_model.h"
#include "mainwindow/list_view.h"
#include "tests/mainwindow/test_app.h"
#include "tests/support/test_env.h"
#include "tools/cluster_map.h"
#include "tools/frag_report.h"
#include "ui/scripted_ui.h"

namespace {

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    core::ResetState();
    core::Disk[0].LastCluster = 200;
    use_ = std::make_unique<ui::CurrentUiScope>(script);
  }
  void TearDown() override {
    tools::SetCurrentMap(nullptr);
    core::ResetState();
  }
  // Adds an item on the given chain (links written into the FAT).
  void Add(const std::string& name, std::vector<int32_t> chain, bool dir = false,
           int32_t clusterCount = -1) {
    core::DiskRec& d = core::Disk[0];
    for (size_t k = 0; k < chain.size(); ++k) {
      d.FAT[size_t(chain[k])].Next = k + 1 < chain.size() ? chain[k + 1] : -1;
      if (k > 0) d.FAT[size_t(chain[k])].Prev = chain[k - 1];
    }
    core::FileRec r;
    r.Name = name;
    r.IsDir = dir;
    r.StartCluster = chain.empty() ? 0 : chain[0];
    r.ClusterCount = clusterCount >= 0 ? clusterCount : int32_t(chain.size());
    d.Files[size_t(d.FileCount++)] = r;
  }
  ui::ScriptedUi script;
  std::unique_ptr<ui::CurrentUiScope> use_;
};

TEST_F(ReportTest, RowsAndTexts) {
  core::Disk[0].FAT[0].Next = -1;
  Add("\\DataFiles\\one.rec", {5});
  Add("\\DataFiles\\contig.rec", {10, 11, 12, 13});
  Add("\\DataFiles\\two.rec", {20, 22});
  Add("\\DataFiles\\eleven.rec", {30, 31, 32, 33, 40, 41, 42, 43, 44, 50, 51});
  Add("\\DataFiles\\Folder", {60, 62}, true);
  // An early end of chain: ClusterCount 5, chain of 3 with one break.
  Add("\\DataFiles\\short.rec", {70, 72, 73}, false, 5);
  const auto rows = tools::BuildReportRows(0);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].Name, "\\DataFiles\\two.rec");
  EXPECT_EQ(rows[0].Percent, "100.0%");
  EXPECT_EQ(rows[0].Fragments, "00002");
  EXPECT_EQ(rows[1].Percent, "20.0%");
  EXPECT_EQ(rows[1].Fragments, "00003");
  // links 70->72 (break), 72->73, 73->-1 (break: -1 - 73 is not 1), then nothing.
  EXPECT_EQ(rows[2].Breaks, 2);
  EXPECT_EQ(rows[2].Percent, "50.0%");
  EXPECT_EQ(tools::FragmentsText(123456), "123457");
  EXPECT_EQ(tools::PercentText(1, 4), "33.3%");
  EXPECT_EQ(tools::PercentText(2, 4), "66.7%");
  testenv::ScopedLocale comma(testenv::kLocales[1]);
  EXPECT_EQ(tools::PercentText(2, 4), "66.7%");
}

TEST_F(ReportTest, ChainsThatRunInACircleAreBounded) {
  core::DiskRec& d = core::Disk[0];
  d.FAT[10].Next = 11;
  d.FAT[11].Next = 10;
  core::FileRec r;
  r.Name = "\\loop.rec";
  r.StartCluster = 10;
  r.ClusterCount = 1000000;
  d.Files[0] = r;
  d.FileCount = 1;
  const auto rows = tools::BuildReportRows(0);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_LE(rows[0].Breaks, d.LastCluster + 1);
  tools::ClusterMap map;
  tools::SetCurrentMap(&map);
  tools::DrawGraphics();   // ends
  EXPECT_FALSE(d.Files[0].Contiguous);
}

TEST_F(ReportTest, ListSortsByFragmentsDescendingThenByClickedHeaders) {
  Add("\\a.rec", {20, 22});                       // 100.0%, 00002
  Add("\\b.rec", {30, 31, 32, 40, 41, 50});       // 40.0%, 00003
  Add("\\c.rec", {60, 70, 80, 90, 91, 92});       // 60.0%, 00004
  mainwindow::ListView lv;
  tools::SetupLV(&lv);
  ASSERT_EQ(lv.ColumnCount(), 3);
  EXPECT_EQ(lv.ColumnCaption(0), "File name");
  EXPECT_EQ(lv.ColumnCaption(1), "Defragmentation");
  EXPECT_EQ(lv.ColumnCaption(2), "Fragments");
  EXPECT_EQ(lv.ColumnIconKey(2), "SortDesc");
  EXPECT_EQ(lv.ColumnIconKey(0), "SortEmpty");
  tools::DefragReport(&lv);
  auto texts = [&](int column) {
    QStringList out;
    for (const QString& key : lv.Keys()) out << (column == 0 ? lv.Text(key) : lv.SubItem(key, column));
    return out;
  };
  EXPECT_EQ(texts(2), (QStringList{"00004", "00003", "00002"}));
  // The first click on "Fragments": ascending.
  tools::ReportColumnClick(&lv, 2);
  EXPECT_EQ(texts(2), (QStringList{"00002", "00003", "00004"}));
  EXPECT_EQ(lv.ColumnIconKey(2), "SortAsc");
  // Another header: ascending by text, "100.0%" before "40.0%".
  tools::ReportColumnClick(&lv, 1);
  EXPECT_EQ(texts(1), (QStringList{"100.0%", "40.0%", "60.0%"}));
  EXPECT_EQ(lv.ColumnIconKey(1), "SortAsc");
  EXPECT_EQ(lv.ColumnIconKey(2), "SortEmpty");
  EXPECT_EQ(lv.ColumnIconKey(0), "SortEmpty");
  tools::ReportColumnClick(&lv, 1);
  EXPECT_EQ(texts(1), (QStringList{"60.0%", "40.0%", "100.0%"}));
  EXPECT_EQ(lv.ColumnIconKey(1), "SortDesc");
  tools::ReportColumnClick(&lv, 1);
  EXPECT_EQ(lv.ColumnIconKey(1), "SortAsc");
}

TEST_F(ReportTest, MapGeometryAndColours) {
  tools::ClusterMap map;
  EXPECT_EQ(map.width(), 952);
  EXPECT_EQ(map.height(), 554);
  map.SetPixel(474, tools::kCodeNeedsMove);
  map.SetPixel(475, tools::kCodeFragmented);
  EXPECT_EQ(map.PixelAt(948, 0), 0xFF8000u);
  EXPECT_EQ(map.PixelAt(949, 1), 0xFF8000u);
  EXPECT_EQ(map.PixelAt(0, 2), 0xC02020u);
  EXPECT_EQ(map.PixelAt(1, 3), 0xC02020u);
  map.SetPixel(0x1FFFF, tools::kCodeCleared);
  EXPECT_EQ(map.ColorOf(0x1FFFF), 0x8080C0u);
  map.SetPixel(0x20000, tools::kCodeFree);   // ignored
  map.SetPixel(-1, tools::kCodeFree);
  map.SetPixel(5, 9);
  EXPECT_EQ(map.ColorOf(5), 0u);
  EXPECT_EQ(tools::MapColor(tools::kCodeFree), 0x404040u);
  EXPECT_EQ(tools::MapColor(tools::kCodeDefragmented), 0x00F000u);
  EXPECT_EQ(tools::MapColor(tools::kCodeMoving), 0xFFFFFFu);
  EXPECT_EQ(tools::MapColor(tools::kCodeReserved), 0x808080u);
}

TEST_F(ReportTest, DrawGraphicsPaintsAreasAndSetsContiguous) {
  core::DiskRec& d = core::Disk[0];
  d.SectorsPerCluster = 2068;
  core::DeviceSectors[0] = 201 * 2068;   // the device's end cuts the cluster of index 200
  for (int32_t c = 0; c <= 3; ++c) d.FAT[size_t(c)].Next = -1;
  Add("\\DataFiles\\ok.rec", {4, 5});
  Add("\\DataFiles\\frag.rec", {6, 8});
  Add("\\DataFiles\\Dir", {20}, true);
  Add("\\DataFiles\\_t.rec", {2, 3});   // start "_" inside the compact area (links 2->3)
  tools::ClusterMap map;
  tools::SetCurrentMap(&map);
  tools::DrawGraphics();
  EXPECT_TRUE(d.Files[0].Contiguous);
  EXPECT_FALSE(d.Files[1].Contiguous);
  EXPECT_TRUE(d.Files[2].Contiguous);
  // Green ends at the "_" file's start (2); its own clusters stay orange.
  EXPECT_EQ(map.ColorOf(0), 0x00F000u);
  EXPECT_EQ(map.ColorOf(1), 0x00F000u);
  EXPECT_EQ(map.ColorOf(2), 0xFF8000u);
  EXPECT_EQ(map.ColorOf(4), 0xFF8000u);
  EXPECT_EQ(map.ColorOf(6), 0xC02020u);
  EXPECT_EQ(map.ColorOf(8), 0xC02020u);
  EXPECT_EQ(map.ColorOf(7), 0x404040u);
  EXPECT_EQ(map.ColorOf(20), 0xFF8000u);   // a contiguous folder after the first free index
  EXPECT_EQ(map.ColorOf(199), 0x404040u);
  EXPECT_EQ(map.ColorOf(200), 0u);          // cut: no free space
  EXPECT_EQ(map.ColorOf(201), 0u);          // above LastCluster: black
}

}  // namespace
