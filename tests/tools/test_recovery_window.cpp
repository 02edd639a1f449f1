// The recovery window: its start states, the scan with its state file, stop
// and resume, refusal of damaged state files, the Match button, and a click
// while a close waits.
#include "tests/tools/recovery_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <sys/stat.h>

#include <algorithm>

#include "core/cluster_io.h"
#include "core/disk_io.h"
#include "platform/platform.h"
#include "tests/support/sector_faults.h"
#include "tools/found_clusters.h"
#include "tools/recovery_window.h"
#include "transfer/countdown_window.h"

namespace recoverytest {
namespace {

class RecoveryWindowTest : public RecoveryTest {
 protected:
  void SetUp() override {
    RecoveryTest::SetUp();
    BuildScene();
    Lose("\\DataFiles\\LostA.rec");
    Lose("\\DataFiles\\LostB.rec");
    ASSERT_TRUE(OpenAndLoad());
  }
  std::string Ini(const std::string& key) {
    return core::INIGetString(tools::SearchStateFile(), "Recovery", key);
  }
  void SetIni(const std::string& key, const std::string& value) {
    core::INISetString(tools::SearchStateFile(), "Recovery", key, value);
  }
  static bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }
  int32_t FreeClustersFrom(int32_t from, int32_t to) const {
    int32_t n = 0;
    for (int32_t c = from; c < to; ++c)
      if (core::Disk[0].FAT[size_t(c)].Next == 0) ++n;
    return n;
  }
  int32_t Last() const { return core::Disk[0].LastCluster; }
};

TEST_F(RecoveryWindowTest, FirstOpenOffersAScan) {
  tools::Form5 w;
  w.Form_Load();
  EXPECT_EQ(w.windowTitle().toStdString(), "Topfield Zyphonel - File Recovery");
  EXPECT_EQ(Ini("NextCluster"), "0");
  EXPECT_EQ(Ini("State"), "0");
  EXPECT_TRUE(w.Command1->isEnabled());
  EXPECT_EQ(w.Command1->text().toStdString(), "Scan");
  EXPECT_FALSE(w.Command2->isEnabled());
  EXPECT_EQ(w.Combo1->currentText().toStdString(), "Normal");
  EXPECT_EQ(w.Combo2->currentText().toStdString(), "do nothing");
  EXPECT_EQ(w.Combo2->count(), 3);
  EXPECT_TRUE(w.Check1->isEnabled());
  EXPECT_NE(w.findChild<QPushButton*>("Command1"), nullptr);
}

TEST_F(RecoveryWindowTest, AFullScanFindsTheLostClustersAndFinishes) {
  const int64_t writesBefore = int64_t(core::SectorWriteCalls);
  {
    tools::Form5 w;
    w.Form_Load();
    const int64_t writesAfterLoad = int64_t(core::SectorWriteCalls);
    w.Command1_Click();
    EXPECT_EQ(int64_t(core::SectorWriteCalls), writesAfterLoad);   // the scan only reads
    EXPECT_EQ(Ini("State"), "2");
    EXPECT_EQ(Ini("NextCluster"), std::to_string(Last() + 1));
    EXPECT_EQ(w.Command1->text().toStdString(), "Search");
    EXPECT_FALSE(w.Command1->isEnabled());
    EXPECT_TRUE(w.Command2->isEnabled());
    EXPECT_EQ(w.Label1[2]->text().toStdString(), "Ready: 8 stream clusters found");
  }
  (void)writesBefore;
  const std::string list = ib::ReadWholeFile(tools::SearchListFile());
  for (int c : {20, 35, 22, 41, 23, 30, 31, 32})
    EXPECT_NE(list.find(" " + std::string(6 - std::to_string(c).size(), '0') + std::to_string(c) +
                        " "),
              std::string::npos)
        << c;
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 8);
  EXPECT_NE(list.find(" 000020 T ------"), std::string::npos);

  // Opened again: only matching is offered.
  tools::Form5 again;
  again.Form_Load();
  EXPECT_FALSE(again.Command1->isEnabled());
  EXPECT_TRUE(again.Command2->isEnabled());
}

TEST_F(RecoveryWindowTest, AStoppedScanContinuesWhereItStopped) {
  SteppingClock(4);   // every cluster passes the 3-second display point
  int32_t firstReads = 0;
  {
    tools::Form5 w;
    w.Form_Load();
    const uint64_t base = core::SectorReadCalls;
    bool clicked = false;
    script.SetDoEventsHook([&](bool) {
      if (!clicked && core::SectorReadCalls - base >= 25) {
        clicked = true;
        w.Command1->click();   // "Cancel"
      }
    });
    w.Command1_Click();
    script.SetDoEventsHook(nullptr);
    firstReads = int32_t(core::SectorReadCalls - base);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(Ini("State"), "1");
    EXPECT_FALSE(w.Command1->isEnabled());
    EXPECT_FALSE(w.Command2->isEnabled());
  }
  EXPECT_EQ(firstReads, 25);
  const int32_t next = std::stoi(Ini("NextCluster"));
  // Every free cluster before NextCluster was read, none after it.
  EXPECT_EQ(FreeClustersFrom(0, next), firstReads);
  EXPECT_EQ(core::Disk[0].FAT[size_t(next)].Next, 0);

  tools::Form5 w2;
  w2.Form_Load();
  EXPECT_EQ(w2.Command1->text().toStdString(), "Continue Scan");
  EXPECT_TRUE(w2.Command1->isEnabled());
  const uint64_t base2 = core::SectorReadCalls;
  w2.Command1_Click();
  EXPECT_EQ(int32_t(core::SectorReadCalls - base2), FreeClustersFrom(next, Last() + 1));
  EXPECT_EQ(Ini("State"), "2");
  const std::string list = ib::ReadWholeFile(tools::SearchListFile());
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 8);
}

TEST_F(RecoveryWindowTest, ClosingDuringAScanStopsItFirst) {
  SteppingClock(4);
  auto* w = new tools::Form5;
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->Form_Load();
  w->show();
  QPointer<tools::Form5> alive(w);
  int calls = 0;
  script.SetDoEventsHook([&](bool) {
    if (++calls == 5 && alive) alive->close();
  });
  w->Command1_Click();
  script.SetDoEventsHook(nullptr);
  EXPECT_EQ(Ini("State"), "1");
  ASSERT_TRUE(alive);   // still there until the event loop runs
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(alive);
}

TEST_F(RecoveryWindowTest, DamagedNextClusterIsRefused) {
  for (const std::string bad : {"12x", "-5", "99999", "7.5", "1e3"}) {
    SCOPED_TRACE(bad);
    ib::WriteWholeFile(tools::SearchListFile(), "");
    SetIni("State", "1");
    SetIni("NextCluster", bad);
    tools::Form5 w;
    w.Form_Load();
    const uint64_t base = core::SectorReadCalls;
    script.ExpectMsgBox("is damaged or does not belong to this disk (NextCluster = \"" + bad,
                        ui::Answer::OK);
    w.Command1_Click();
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(core::SectorReadCalls, base);
    EXPECT_EQ(Ini("NextCluster"), bad);
    EXPECT_EQ(Ini("State"), "1");
    EXPECT_FALSE(w.ScanRunning);
  }
}

TEST_F(RecoveryWindowTest, DamagedSearchListIsRefusedAndKept) {
  const std::string damaged = "0100 000000000064-000000000000 0000zz   ------\r\n";
  ib::WriteWholeFile(tools::SearchListFile(), damaged);
  SetIni("State", "1");
  SetIni("NextCluster", "5");
  tools::Form5 w;
  w.Form_Load();
  const uint64_t base = core::SectorReadCalls;
  script.ExpectMsgBox("The search list", ui::Answer::OK);
  w.Command1_Click();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::SectorReadCalls, base);
  EXPECT_EQ(ib::ReadWholeFile(tools::SearchListFile()), damaged);
  EXPECT_EQ(Ini("NextCluster"), "5");
  EXPECT_FALSE(w.ScanRunning);
}

// A cluster that cannot be read stops the scan with its number, a disk that
// is gone ends the program; either way the state stays resumable, and
// Continue (the disk back) finds every lost cluster the scan can read.
TEST_F(RecoveryWindowTest, AReadFailureStopsResumably) {
  const uint32_t bad = (22 + 1) * 2068;   // LostA's third cluster
  for (const bool gone : {false, true}) {   // gone: the bad cluster on and sector 0 fail
    SCOPED_TRACE(gone);
    ::unlink(tools::SearchListFile().c_str()), ::unlink(tools::SearchStateFile().c_str());
    {
      tools::Form5 w;
      w.Form_Load();
      faults::SectorFaults f;
      f.FailReadsWhere([&](uint32_t s, int32_t) { return s == bad || (gone && (s > bad || s == 0)); });
      script.ExpectMsgBox(gone ? "has lost the link to the hard drive!" : "Cluster 22 could not be read.", ui::Answer::OK);
      try {
        w.Command1_Click();
        EXPECT_EQ(w.Command1->text().toStdString() + char('0' + w.Command2->isEnabled()), "Continue Scan0");
      } catch (const ui::ProgramEnded&) {
        w.ScanRunning = false;
      }
      EXPECT_EQ(script.EndedWith().has_value(), gone);
      EXPECT_TRUE(script.AllAnswered());
      EXPECT_EQ(Ini("State") + " " + Ini("NextCluster"), gone ? "1 22" : "1 23");
    }
    tools::Form5 w;
    w.Form_Load();
    w.Command1_Click();   // "Continue Scan"
    const std::string list = ib::ReadWholeFile(tools::SearchListFile());
    EXPECT_EQ(Ini("State") + " " + std::to_string(std::count(list.begin(), list.end(), '\n')), gone ? "2 8" : "2 7");
  }
}

TEST_F(RecoveryWindowTest, StartPastTheLastClusterReadsNothing) {
  ib::WriteWholeFile(tools::SearchListFile(), "");
  SetIni("State", "1");
  SetIni("NextCluster", std::to_string(Last() + 1));
  tools::Form5 w;
  w.Form_Load();
  const uint64_t base = core::SectorReadCalls;
  w.Command1_Click();
  EXPECT_EQ(core::SectorReadCalls, base);
  EXPECT_EQ(Ini("State"), "2");
  EXPECT_EQ(Ini("NextCluster"), std::to_string(Last() + 1));
}

TEST_F(RecoveryWindowTest, PendingRecoveredEntriesBlockBothButtons) {
  core::DiskRec& d = core::Disk[0];
  core::CheckArraySize(0);
  d.Files[size_t(d.FileCount)].Name = "\\DataFiles\\Recovered_0001.rec";
  d.Files[size_t(d.FileCount)].Recovered = true;
  d.FileCount += 1;
  tools::Form5 w;
  w.Form_Load();
  EXPECT_FALSE(w.Command1->isEnabled());
  EXPECT_FALSE(w.Command2->isEnabled());
}

TEST_F(RecoveryWindowTest, ChangedDiskOffersTheOldResults) {
  const std::string app = Folder() + "/";
  core::Disk[0].BackupCrcId = "DEADBEEF";
  ib::WriteWholeFile(app + "DEADBEEF_Search.ini", "[Recovery]\nNextCluster=7\nState=1\n");
  ib::WriteWholeFile(app + "DEADBEEF_Search.txt", "");
  {
    script.ExpectMsgBox("The disk has been modified! Reuse the old search results?",
                        ui::Answer::Yes, ui::ScriptedUi::Match::Exact);
    tools::Form5 w;
    w.Form_Load();
    EXPECT_EQ(core::Disk[0].CrcId, "DEADBEEF");
    EXPECT_EQ(w.Command1->text().toStdString(), "Continue Scan");
  }
  // Answered No: the old files go, the others stay.
  ASSERT_TRUE(OpenAndLoad());
  core::Disk[0].BackupCrcId = "DEADBEEF";
  ib::WriteWholeFile(app + "DEADBEEF_Match.txt", "x");
  ib::WriteWholeFile(app + "OTHERCRC_Search.ini", "x");
  script.ExpectMsgBox("The disk has been modified!", ui::Answer::No);
  tools::Form5 w;
  w.Form_Load();
  EXPECT_FALSE(Exists(app + "DEADBEEF_Search.ini"));
  EXPECT_FALSE(Exists(app + "DEADBEEF_Search.txt"));
  EXPECT_FALSE(Exists(app + "DEADBEEF_Match.txt"));
  EXPECT_TRUE(Exists(app + "OTHERCRC_Search.ini"));
  EXPECT_EQ(core::Disk[0].BackupCrcId, core::Disk[0].CrcId);
  EXPECT_TRUE(script.AllAnswered());
}

TEST_F(RecoveryWindowTest, MatchButtonRebuildsAndCloses) {
  {
    tools::Form5 w;
    w.Form_Load();
    w.Command1_Click();
  }
  tools::Form5 w;
  w.Form_Load();
  w.show();
  script.ExpectMsgBox("recordings rebuilt", ui::Answer::OK);
  w.Command2_Click();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(Exists(tools::MatchListFile()));
  int pending = 0;
  for (int i = 0; i < core::Disk[0].FileCount; ++i)
    if (core::Disk[0].Files[size_t(i)].Recovered) ++pending;
  EXPECT_EQ(pending, 2);
  EXPECT_EQ(ChainOf(Find("\\DataFiles\\Recovered_0002.rec")->StartCluster),
            (std::vector<int32_t>{30, 31, 32}));
}

// A close during the after-scan countdown waits for the scan, then comes
// from the event loop: a Match click that lands before it starts nothing.
TEST_F(RecoveryWindowTest, MatchBeforeAPendingCloseStartsNothing) {
  const auto power = platform::SetPowerHandler([](platform::PowerAction) { return true; });
  transfer::SetCountdownTickInterval(0);
  auto* w = new tools::Form5;
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->Form_Load();
  w->show();
  const QPointer<tools::Form5> alive(w);
  w->Combo2->setCurrentIndex(1);   // hibernate
  script.SetDoEventsHook([&](bool) {
    if (transfer::CountdownWindow() && alive) alive->close();
  });
  w->Command1_Click();
  script.SetDoEventsHook(nullptr);
  transfer::SetCountdownTickInterval(10);
  platform::SetPowerHandler(power);
  ASSERT_TRUE(alive);
  ASSERT_TRUE(w->Command2->isEnabled());   // the scan finished
  w->Command2->click();
  EXPECT_FALSE(Exists(tools::MatchListFile()));
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(alive);
}

}  // namespace
}  // namespace recoverytest
