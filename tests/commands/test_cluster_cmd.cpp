// The system-cluster and single-cluster commands of the Expert menu.
#include <gtest/gtest.h>

#include "commands/cluster_cmd.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "tests/mainwindow/form1_pane_fixture.h"

namespace {

namespace ib = imagebuilder;
using form1test::PaneTest;

TEST(ClusterNames, SixDigitsAndTheSign) {
  EXPECT_EQ(commands::ClusterBinFileName(12), "Cluster_000012.bin");
  EXPECT_EQ(commands::ClusterBinFileName(0), "Cluster_000000.bin");
  EXPECT_EQ(commands::ClusterBinFileName(-1), "Cluster_-000001.bin");
  EXPECT_EQ(commands::ClusterBinFileName(131071), "Cluster_131071.bin");
}

// A typed number reads the same in every locale.
using TypedClusterNumber = testenv::InEachLocale;
INSTANTIATE_IN_EACH_LOCALE(TypedClusterNumber);

TEST_P(TypedClusterNumber, ReadsAsWritten) {
  using commands::ParseClusterNumber;
  EXPECT_EQ(ParseClusterNumber("12"), 12);
  EXPECT_EQ(ParseClusterNumber("  -1 "), -1);
  EXPECT_EQ(ParseClusterNumber("+7"), 7);
  EXPECT_EQ(ParseClusterNumber("12.4"), 12);
  EXPECT_EQ(ParseClusterNumber("13.5"), 14);
  EXPECT_EQ(ParseClusterNumber("12.5"), 12);   // halves to even
  EXPECT_FALSE(ParseClusterNumber("abc"));
  EXPECT_FALSE(ParseClusterNumber("12abc"));
  EXPECT_FALSE(ParseClusterNumber("1e3"));
  EXPECT_FALSE(ParseClusterNumber("-"));
  EXPECT_FALSE(ParseClusterNumber("99999999999"));
  EXPECT_EQ(ParseClusterNumber("5.6"), 6);
}

class ClusterCmdTest : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    StandardPanes();
    last = core::Disk[0].LastCluster;
    ASSERT_GE(last, 60);
  }
  std::vector<uint8_t> ClusterView(uint32_t diskCluster) {
    ib::ImageFile f(DrivePath(1), 2068);
    return f.ReadClusterView(diskCluster);
  }
  static std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
  }
  std::string AppFile(const std::string& name) { return app_ + "/" + name; }
  bool Exists(const std::string& path) { return platform::FileLength(path) >= 0; }

  int32_t last = 0;
};

TEST_F(ClusterCmdTest, ReadClusterWritesTheClusterFileInTheProgramFolder) {
  script.ExpectInput("12");
  form->Menu_Expert_ReadCluster->trigger();
  EXPECT_TRUE(script.AllAnswered());
  ASSERT_EQ(script.Prompts().size(), 1u);
  EXPECT_EQ(script.Prompts()[0].Text, "Enter cluster number");
  EXPECT_EQ(script.Prompts()[0].DefaultText, "");
  const std::string file = AppFile("Cluster_000012.bin");
  EXPECT_EQ(Bytes(ib::ReadWholeFile(file)), ClusterView(13));

  // The system cluster; an older, longer file of that name is replaced whole.
  const std::string system = AppFile("Cluster_-000001.bin");
  ib::WriteWholeFile(system, std::string(3 * 1024 * 1024, 'x'));
  script.ExpectInput("-1");
  form->Menu_Expert_ReadCluster->trigger();
  EXPECT_EQ(Bytes(ib::ReadWholeFile(system)), ClusterView(0));
}

TEST_F(ClusterCmdTest, ClusterNumbersOutsideTheDiskAreRefused) {
  for (const std::string& answer :
       {std::to_string(last + 1), std::string("-2"), std::string("abc"), std::string("1e9")}) {
    script.ExpectInput(answer).ExpectMsgBox(
        "Please enter a cluster number from -1 to " + std::to_string(last) + ".", ui::Answer::OK,
        ui::ScriptedUi::Match::Exact);
    form->Menu_Expert_ReadCluster->trigger();
    EXPECT_TRUE(script.AllAnswered()) << answer;
  }
  // Writing too: refused before the file dialog.
  const uint64_t writes = core::SectorWriteCalls;
  script.ExpectInput(std::to_string(last + 1)).ExpectMsgBox("Please enter", ui::Answer::OK);
  form->Menu_Expert_WriteCluster->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::SectorWriteCalls, writes);
  std::vector<platform::FolderEntry> entries;
  ASSERT_TRUE(platform::ListFolder(app_, entries));
  for (const auto& e : entries) EXPECT_EQ(e.Name.rfind("Cluster_", 0), std::string::npos) << e.Name;
  // Cancel ends the commands silently.
  script.ExpectInputCancel();
  form->Menu_Expert_ReadCluster->trigger();
  script.ExpectInputCancel();
  form->Menu_Expert_WriteCluster->trigger();
  EXPECT_TRUE(script.AllAnswered());
}

TEST_F(ClusterCmdTest, WriteClusterWritesAChosenFile) {
  script.ExpectInput("12");
  form->Menu_Expert_ReadCluster->trigger();
  const std::string file = AppFile("Cluster_000012.bin");
  const auto before = ClusterView(13);

  // The unchanged file leaves the disk unchanged.
  script.ExpectInput("12").ExpectFile(file);
  form->Menu_Expert_WriteCluster->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(script.Prompts().back().Text, "Binaries (*.bin)|*.bin|All files|*.*");
  EXPECT_EQ(ClusterView(13), before);

  // A changed file reaches disk cluster 13.
  std::string bytes = ib::ReadWholeFile(file);
  bytes[100] = char(bytes[100] ^ 0x5A);
  bytes[bytes.size() - 1] = 'Z';
  const std::string changed = pc_ + "/changed.bin";
  ib::WriteWholeFile(changed, bytes);
  const auto left = ClusterView(12), right = ClusterView(14);
  script.ExpectInput("12").ExpectFile(changed);
  form->Menu_Expert_WriteCluster->trigger();
  EXPECT_EQ(ClusterView(13), Bytes(bytes));
  // Its neighbours stay as they were.
  EXPECT_EQ(ClusterView(12), left);
  EXPECT_EQ(ClusterView(14), right);
}

TEST_F(ClusterCmdTest, WriteClusterNeedsExactlyOneCluster) {
  const auto before = ClusterView(13);
  const uint64_t writes = core::SectorWriteCalls;
  for (size_t size : {size_t(0), size_t(4096), size_t(ib::kSectorBytes) * 2068 - 1,
                      size_t(ib::kSectorBytes) * 2068 + 1}) {
    const std::string path = pc_ + "/wrong.bin";
    ib::WriteWholeFile(path, std::string(size, 'a'));
    script.ExpectInput("12").ExpectFile(path).ExpectMsgBox("Nothing has been written",
                                                           ui::Answer::OK);
    form->Menu_Expert_WriteCluster->trigger();
    EXPECT_TRUE(script.AllAnswered()) << size;
  }
  script.ExpectInput("12").ExpectFile(pc_ + "/missing.bin").ExpectMsgBox("cannot be read",
                                                                         ui::Answer::OK);
  form->Menu_Expert_WriteCluster->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::SectorWriteCalls, writes);
  EXPECT_EQ(ClusterView(13), before);
}

TEST_F(ClusterCmdTest, SystemClusterRoundTripKeepsItExact) {
  script.ExpectInput("-1");
  form->Menu_Expert_ReadCluster->trigger();
  const auto before = ClusterView(0);
  const uint64_t writes = core::SectorWriteCalls;
  script.ExpectInput("-1").ExpectFile(AppFile("Cluster_-000001.bin"));
  form->Menu_Expert_WriteCluster->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_GT(core::SectorWriteCalls, writes);
  EXPECT_EQ(ClusterView(0), before);
}

TEST_F(ClusterCmdTest, SaveSystemClustersBehindTheWaitWindow) {
  const std::string path = pc_ + "/saved.scc";
  const size_t waits = script.WaitTexts().size();   // the disk's loading shows it too
  script.ExpectFile(path);
  form->Menu_Expert_SaveSystemClusters->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(script.Prompts()[0].Kind, ui::PromptKind::SaveFile);
  EXPECT_EQ(script.Prompts()[0].Text, "System Clusters (*.scc)|*.scc|All files|*.*");
  ASSERT_EQ(script.WaitTexts().size(), waits + 1);
  EXPECT_EQ(script.WaitTexts().back(), "Saving system clusters. Please stand by.");
  EXPECT_FALSE(script.WaitShown());
  const int64_t cluster = 2068 * 512;
  EXPECT_EQ(platform::FileLength(pc_ + "/saved.scc"), cluster + 16);
  // Root, recycle, DataFiles, ProgramFiles and DataFiles\Sub.
  EXPECT_EQ(platform::FileLength(pc_ + "/saved.scd"), 5 * (cluster + 4));
  // Cancelled: nothing.
  script.ExpectFile("");
  form->Menu_Expert_SaveSystemClusters->trigger();
  EXPECT_EQ(script.WaitTexts().size(), waits + 1);
}

TEST_F(ClusterCmdTest, RestoreWithoutItsPartnerWritesNothingAndGoesOn) {
  const std::string path = pc_ + "/lonely.scc";
  ib::WriteWholeFile(path, std::string(2068 * 512 + 16, '\0'));
  const uint64_t writes = core::SectorWriteCalls;
  const size_t waits = script.WaitTexts().size();
  script.ExpectFile(path).ExpectMsgBox(
      "Restore system clusters failed because *.scc or *.scd file does not exist!",
      ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  form->Menu_Expert_RestoreSystemClusters->trigger();
  EXPECT_TRUE(script.AllAnswered());
  ASSERT_EQ(script.WaitTexts().size(), waits + 1);
  EXPECT_EQ(script.WaitTexts().back(), "Restoring system clusters. Please stand by.");
  EXPECT_FALSE(script.WaitShown());
  EXPECT_EQ(core::SectorWriteCalls, writes);
  EXPECT_FALSE(script.EndedWith());
}

TEST_F(ClusterCmdTest, RestoreWritesTheDumpBackAndEndsTheProgram) {
  const std::string path = pc_ + "/saved.scc";
  script.ExpectFile(path);
  form->Menu_Expert_SaveSystemClusters->trigger();
  const auto system = ClusterView(0);
  const auto data = ClusterView(3);   // DataFiles (FAT index 2)
  {
    ib::ImageFile f(DrivePath(1), 2068);
    f.SetFatEntry(40, 41);
    f.WriteClusterView(3, std::vector<uint8_t>(2068 * 512, 0xEE));
  }
  script.ExpectFile(path).ExpectMsgBox(
      "The program will close now. Please restart it to load the modified disk.", ui::Answer::OK,
      ui::ScriptedUi::Match::Exact);
  try {
    form->Menu_Expert_RestoreSystemClusters_Click();
    ADD_FAILURE() << "the program should have ended";
  } catch (const ui::ProgramEnded&) {
  }
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_FALSE(script.WaitShown());
  EXPECT_EQ(ClusterView(0), system);
  EXPECT_EQ(ClusterView(3), data);
}

}  // namespace
