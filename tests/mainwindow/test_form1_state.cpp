// Menu and button state of the main window in each mode, and the write-mode
// gate that decides which side may be written.
#include "tests/mainwindow/form1_pane_fixture.h"
#include "tests/support/sector_faults.h"

namespace form1test {
namespace {

// A recorder image whose FAT holds a broken chain: the check fails.
void BreakFat(const std::string& path) {
  ib::ImageFile image(path);
  image.SetFatEntry(50, 51);
}

class MenuState : public PaneTest {
 protected:
  // Every entry of the Disk and Expert menus: enabled, visible.
  void ExpectAction(QAction* a, bool enabled, bool visible) {
    EXPECT_EQ(a->isEnabled(), enabled) << a->objectName().toStdString();
    EXPECT_EQ(a->isVisible(), visible) << a->objectName().toStdString();
  }
  void ExpectButton(int i, bool enabled, bool visible) {
    EXPECT_EQ(form->Command1[i]->isEnabled(), enabled) << "Command1_" << i;
    EXPECT_EQ(Shown(form->Command1[i]), visible) << "Command1_" << i;
  }
  void ExpectMenusOn() {
    for (QMenu* m : {form->Menu_File, form->Menu_Disk, form->Menu_Expert, form->Menu_LVContext})
      EXPECT_TRUE(m->menuAction()->isEnabled()) << m->objectName().toStdString();
    EXPECT_TRUE(form->Command2[0]->isEnabled());
    EXPECT_TRUE(form->Command2[1]->isEnabled());
  }
  void WriteModePassed() {
    core::Flags = core::FlagNormal | core::FlagWriteMode;
    StandardPanes();
    ASSERT_EQ(core::CheckState[30], 2);
  }
};

// ------------------------------------------------------------ EnableMenus

TEST_F(MenuState, NormalModeReadOnly) {
  StandardPanes();
  ExpectMenusOn();
  ExpectButton(1, true, true);
  EXPECT_FALSE(Shown(form->Command1[0]));
  EXPECT_FALSE(Shown(form->Command1[2]));
  EXPECT_FALSE(Shown(form->Command1[3]));
  ExpectAction(form->Menu_Disk_FSCK, true, true);
  ExpectAction(form->Menu_Disk_EnableWriting, true, true);
  EXPECT_FALSE(form->Menu_Disk_EnableWriting->isChecked());
  ExpectAction(form->Menu_Disk_Scan, true, true);
  EXPECT_FALSE(form->Menu_Disk_Sep1->isVisible());
  EXPECT_TRUE(form->Menu_Disk_Sep2->isVisible());
  // ... and drawn, though nothing follows it in the menu.
  EXPECT_FALSE(form->Menu_Disk->actionGeometry(form->Menu_Disk_Sep2).isEmpty());
  for (QAction* a : {form->Menu_Disk_WriteRecovered, form->Menu_Disk_AddREC,
                     form->Menu_Disk_UndoAddREC, form->Menu_Disk_ChangeD0D1,
                     form->Menu_Expert_Defragment})
    EXPECT_FALSE(a->isVisible()) << a->objectName().toStdString();
  for (QAction* a : {form->Menu_Expert_ReadCluster, form->Menu_Expert_WriteCluster,
                     form->Menu_Expert_SaveSystemClusters, form->Menu_Expert_RestoreSystemClusters,
                     form->Menu_Expert_ExportClusterChain, form->Menu_Expert_ImportFAT,
                     form->Menu_Expert_KillDisk, form->Menu_File_ExportList, form->Menu_File_Exit,
                     form->Menu_View_ShowGB})
    ExpectAction(a, true, true);
  // Label editing starts by a slow click only on a writable side.
  EXPECT_FALSE(form->LV1[0]->LabelEditAutomatic());
  EXPECT_TRUE(form->LV1[1]->LabelEditAutomatic());
}

TEST_F(MenuState, WriteModeWithPassedDisk) {
  WriteModePassed();
  EXPECT_TRUE(core::Flags & core::FlagSide0Writable);
  EXPECT_TRUE(core::Flags & core::FlagSide1Writable);
  for (int i = 0; i < 4; ++i) ExpectButton(i, true, true);
  EXPECT_TRUE(form->Menu_Disk_EnableWriting->isChecked());
  ExpectAction(form->Menu_Expert_Defragment, true, true);
  EXPECT_TRUE(form->Menu_Disk_Sep1->isVisible());
  ExpectAction(form->Menu_Disk_ChangeD0D1, true, true);
  // bare.rec has no header; nothing recovered; no undo file yet.
  ExpectAction(form->Menu_Disk_AddREC, true, true);
  ExpectAction(form->Menu_Disk_WriteRecovered, false, true);
  ExpectAction(form->Menu_Disk_UndoAddREC, false, true);
  EXPECT_TRUE(form->LV1[0]->LabelEditAutomatic());

  ib::WriteWholeFile(app_ + "/" + core::Disk[0].CrcId + "_Undo_0000012.bin", "x");
  core::Disk[0].Files[0].Recovered = true;
  form->EnableMenus();
  EXPECT_TRUE(form->Menu_Disk_UndoAddREC->isEnabled());
  EXPECT_TRUE(form->Menu_Disk_WriteRecovered->isEnabled());
}

TEST_F(MenuState, AddRecHeaderFollowsTheWholeLeftDisk) {
  ib::DiskImage img = StandardImage();
  core::Flags = core::FlagNormal | core::FlagWriteMode;
  StandardPanes(img);
  // Every recording but the one in another folder has a header.
  for (int i = 0; i < core::Disk[0].FileCount; ++i) {
    core::FileRec& r = core::Disk[0].Files[size_t(i)];
    if (r.Name == "\\DataFiles\\bare.rec") r.HasRecHeader = true;
  }
  form->EnableMenus();
  EXPECT_FALSE(form->Menu_Disk_AddREC->isEnabled());
  for (int i = 0; i < core::Disk[0].FileCount; ++i) {
    core::FileRec& r = core::Disk[0].Files[size_t(i)];
    if (r.Name == "\\DataFiles\\Sub\\inner.ts") r.Name = "\\DataFiles\\Sub\\INNER.REC";
  }
  form->EnableMenus();
  EXPECT_TRUE(form->Menu_Disk_AddREC->isEnabled());
}

TEST_F(MenuState, WriteModeWithFailedCheck) {
  core::Flags = core::FlagNormal | core::FlagWriteMode;
  ib::DiskImage img = StandardImage();
  WriteDrive(img, 1);
  BreakFat(DrivePath(1));
  script.ExpectMsgBox(
      "The filesystem check has found one or more errors on the left disk! Write disabled for "
      "that disk!",
      ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  Choose(0, AddRecorder(0, 1));
  Choose(1, AddPc(1));
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::CheckState[30], 1);
  EXPECT_FALSE(core::Flags & core::FlagSide0Writable);
  ExpectButton(1, true, true);
  ExpectButton(0, false, true);
  ExpectButton(2, false, true);
  ExpectButton(3, false, true);
  ExpectAction(form->Menu_Expert_Defragment, false, true);
  EXPECT_EQ(form->Combo1[0]->itemText(0).toStdString(),
            "Topfield Disk, Drive 1  [---read only---]");
  EXPECT_EQ(script.Prompts().back().IconShown, ui::Icon::Exclamation);
}

// A disk not read in full by the load is not checked, one the check cannot
// read in full is refused: either way write mode says why it stays
// read-only, the check naming what it could not read.
class NotReadInFull : public MenuState, public ::testing::WithParamInterface<bool> {};

TEST_P(NotReadInFull, WriteModeSaysSo) {
  const bool byTheCheck = GetParam();
  core::Flags = core::FlagNormal | core::FlagWriteMode;
  ib::DiskImage image = StandardImage();
  image.AddFolder("\\DataFiles\\Sub\\Deep");   // past the clusters a load keeps at hand
  const uint32_t deep = (image.FolderIndex("\\DataFiles\\Sub\\Deep") + 1) * 2068;
  ASSERT_GE(deep, uint32_t(core::kCachedClusters) * 2068);
  WriteDrive(image, 1);
  faults::SectorFaults f;   // the backup superblock, or the folder while the check reads it
  f.FailReadsWhere([&](uint32_t first, int32_t count) {
    if (!byTheCheck) return first <= 1 && first + count > 1;
    return script.WaitShown() && script.WaitTexts().back().rfind("Scanning", 0) == 0 && first <= deep && deep < first + count;
  });
  if (!byTheCheck) script.ExpectMsgBox("These parts could not be read:\r\nthe backup superblock", ui::Answer::OK);
  script.ExpectMsgBox(std::string("The left disk could not be read in full (bad sectors)! Write disabled for that disk!") +
                          (byTheCheck ? "\r\nUnreadable Directory (\\DataFiles\\Sub\\Deep" : ""),
                      ui::Answer::OK, byTheCheck ? ui::ScriptedUi::Match::Substring : ui::ScriptedUi::Match::Exact);
  Choose(0, AddRecorder(0, 1));
  EXPECT_TRUE(script.AllAnswered() && !(core::Flags & core::FlagSide0Writable));
  EXPECT_EQ(form->Combo1[0]->itemText(0).toStdString(), "Topfield Disk, Drive 1  [---read only---]");
}

INSTANTIATE_TEST_SUITE_P(ByTheLoadOrTheCheck, NotReadInFull, ::testing::Bool());

TEST_F(MenuState, PcOnBothSides) {
  ib::WriteWholeFile(pc_ + "/film.ts", "x");
  core::SetSetting("Copy", "Destination", pc_ + "/");
  Choose(0, AddPc(0));
  Choose(1, AddPc(1));
  EXPECT_TRUE(core::Flags & core::FlagSide0Writable);
  EXPECT_TRUE(core::Flags & core::FlagSide1Writable);
  ExpectButton(1, true, true);
  EXPECT_FALSE(Shown(form->Command1[3]));
  core::Flags |= core::FlagWriteMode;
  form->EnableMenus();
  for (int i = 0; i < 4; ++i) ExpectButton(i, true, true);
  ExpectAction(form->Menu_Expert_Defragment, true, true);
}

TEST_F(MenuState, RecorderRootShown) {
  WriteModePassed();
  form->SelectDirectory(0, "\\");
  ASSERT_EQ(form->PathLabel(0), "\\");
  // Choosing a folder in the tree does not recompute the state by itself.
  ExpectButton(0, true, true);
  form->EnableMenus();
  ExpectButton(0, false, true);
  ExpectButton(1, true, true);
  ExpectButton(2, false, true);
  ExpectButton(3, false, true);

  // The same disk on the right at its root: nothing goes to the right.
  form->SelectDirectory(0, "\\DataFiles\\");
  Choose(1, AddRecorder(1, 1));
  form->SelectDirectory(1, "\\");
  form->EnableMenus();
  EXPECT_TRUE(core::Flags & core::FlagSide1Writable);
  ExpectButton(0, false, true);
  ExpectButton(1, false, true);
  ExpectButton(2, false, true);
  ExpectButton(3, true, true);
}

TEST_F(MenuState, DisasterMode) {
  core::Flags = core::FlagDisasterMode;
  form->AddChooserEntry(0, "Topfield: Disaster Mode", -1);
  Choose(0, 0);
  ASSERT_EQ(form->TV1[0]->NodeCount(), 1);
  EXPECT_EQ(form->TV1[0]->Text("\\"), "Topfield (Disaster Mode)");
  EXPECT_EQ(form->LV1[0]->ItemCount(), 0);
  ExpectMenusOn();
  EXPECT_TRUE(form->Command1[1]->isEnabled());
  EXPECT_FALSE(form->Command1[0]->isEnabled());
  EXPECT_FALSE(form->Command1[2]->isEnabled());
  EXPECT_FALSE(form->Command1[3]->isEnabled());
  for (QAction* a : {form->Menu_Disk_Scan, form->Menu_Disk_FSCK, form->Menu_Expert_ReadCluster,
                     form->Menu_Expert_WriteCluster, form->Menu_Expert_KillDisk})
    EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
  for (QAction* a : {form->Menu_Disk_EnableWriting, form->Menu_Disk_WriteRecovered,
                     form->Menu_Disk_AddREC, form->Menu_Disk_UndoAddREC,
                     form->Menu_Disk_ChangeD0D1, form->Menu_Expert_Defragment})
    EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
}

TEST_F(MenuState, FileMode) {
  core::Flags = core::FlagFileMode;
  ib::DiskImage img = StandardImage();
  img.WriteDump(app_ + "/dump");
  core::Disk[0].Name = app_ + "/dump";
  form->AddChooserEntry(0, QString::fromStdString("FileMode: " + app_ + "/dump.scc"), 0);
  Choose(0, 0);
  EXPECT_EQ(form->TV1[0]->Text("\\"), "FileMode");
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\");
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(form->Command1[i]->isEnabled()) << i;
  for (QAction* a : {form->Menu_Disk_Scan, form->Menu_Expert_ReadCluster,
                     form->Menu_Expert_WriteCluster, form->Menu_Expert_KillDisk,
                     form->Menu_Disk_EnableWriting})
    EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
  EXPECT_TRUE(form->Menu_Disk_FSCK->isEnabled());
}

TEST_F(MenuState, DisableMenusDuringAJob) {
  StandardPanes();
  form->DisableMenus();
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(form->Command1[i]->isEnabled());
  for (int side = 0; side < 2; ++side) {
    EXPECT_FALSE(form->Command2[side]->isEnabled());
    EXPECT_FALSE(form->Combo1[side]->isEnabled());
    EXPECT_FALSE(form->TabStrip1[side]->isEnabled());
    EXPECT_FALSE(form->LV1[side]->isEnabled());
    EXPECT_FALSE(form->TV1[side]->isEnabled());
  }
  for (QMenu* m : {form->Menu_File, form->Menu_Disk, form->Menu_Expert, form->Menu_LVContext})
    EXPECT_FALSE(m->menuAction()->isEnabled());
  EXPECT_FALSE(form->Menu_View_ShowGB->isEnabled());
  EXPECT_TRUE(form->Menu_View->menuAction()->isEnabled());
  EXPECT_TRUE(form->Menu_View_AbsoluteETA->isEnabled());
  EXPECT_TRUE(form->Menu_View_RelativeETA->isEnabled());
  form->EnableMenus();
  ExpectMenusOn();
  EXPECT_TRUE(form->LV1[0]->isEnabled());
  EXPECT_TRUE(form->Combo1[1]->isEnabled());
  EXPECT_TRUE(form->Menu_View_ShowGB->isEnabled());
}

// ------------------------------------------------------------ the gate

class WriteGate : public PaneTest {
 protected:
  // Runs of the file-system check so far (each shows its wait window).
  size_t Checks() const {
    size_t n = 0;
    for (const std::string& t : script.WaitTexts())
      if (t.rfind("Scanning Topfield Disk", 0) == 0) ++n;
    return n;
  }
};

// Answers every message box with one fixed answer, whatever its buttons (a
// box closed by the window system, or a Ui that knows no better).
class FixedAnswerUi : public ui::ScriptedUi {
 public:
  explicit FixedAnswerUi(ui::Answer answer) : answer_(answer) {}

 protected:
  ui::Answer DoMsgBox(const std::string&, ui::Buttons, ui::Icon, const std::string&) override {
    ++boxes;
    return answer_;
  }

 public:
  int boxes = 0;

 private:
  ui::Answer answer_;
};

TEST_F(WriteGate, ReadOnlyOutsideWriteMode) {
  StandardPanes();
  EXPECT_FALSE(core::Flags & core::FlagSide0Writable);
  EXPECT_TRUE(core::Flags & core::FlagSide1Writable);
  EXPECT_EQ(core::CheckState[30], 0);
  EXPECT_EQ(Checks(), 0u);
  EXPECT_EQ(form->Combo1[0]->itemText(0), "Topfield Disk, Drive 1");   // not relabelled
}

TEST_F(WriteGate, CheckRunsOncePerDriveAndRun) {
  core::Flags = core::FlagNormal | core::FlagWriteMode;
  StandardPanes();
  ASSERT_EQ(Checks(), 1u);
  EXPECT_EQ(core::CheckState[30], 2);
  EXPECT_TRUE(core::Flags & core::FlagSide0Writable);
  EXPECT_EQ(form->Combo1[0]->itemText(0), "Topfield Disk, Drive 1");   // passed, write mode on
  // The same drive again, on the left and on the right: no new check.
  Choose(0, 0);
  Choose(1, AddRecorder(1, 1));
  EXPECT_EQ(Checks(), 1u);
  EXPECT_TRUE(core::Flags & core::FlagSide1Writable);
}

TEST_F(WriteGate, FailedCheckIsReportedOnce) {
  core::Flags = core::FlagNormal | core::FlagWriteMode;
  WriteDrive(StandardImage(), 2);
  BreakFat(DrivePath(2));
  core::SetSetting("Copy", "Destination", pc_ + "/");
  Choose(0, AddPc(0));
  script.ExpectMsgBox("errors on the right disk! Write disabled for that disk!", ui::Answer::OK);
  Choose(1, AddRecorder(1, 2));
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::CheckState[29], 1);
  EXPECT_FALSE(core::Flags & core::FlagSide1Writable);
  // Later choices of that drive are silent and stay read-only.
  Choose(1, 0);
  form->CheckWriteMode(1);
  EXPECT_FALSE(core::Flags & core::FlagSide1Writable);
  EXPECT_EQ(script.MsgBoxTexts().size(), 1u);
}

TEST_F(WriteGate, PcDriveIsAlwaysWritable) {
  core::DiskId[1] = PcDriveId();
  form->CheckWriteMode(1);
  EXPECT_TRUE(core::Flags & core::FlagSide1Writable);
  core::Flags |= core::FlagWriteMode;
  form->CheckWriteMode(1);
  EXPECT_TRUE(core::Flags & core::FlagSide1Writable);
}

TEST_F(WriteGate, NothingChosenStaysReadOnly) {
  core::Flags = core::FlagNormal | core::FlagWriteMode | core::FlagSide0Writable;
  core::DiskId[0] = core::kNoDisk;
  form->CheckWriteMode(0);
  EXPECT_FALSE(core::Flags & core::FlagSide0Writable);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(core::CheckState[i], 0) << i;
  EXPECT_TRUE(script.Prompts().empty());
  EXPECT_EQ(Checks(), 0u);
}

TEST_F(WriteGate, DisclaimerAskedUntilAccepted) {
  script.ExpectMsgBox("Remember that YOU are responsible for your data. So do not work without a "
                      "backup!\r\n\r\nDo you want to take the risk?",
                      ui::Answer::No, ui::ScriptedUi::Match::Exact);
  EXPECT_FALSE(form->RWDisclaimer());
  EXPECT_EQ(core::GetSetting("View", "WriteModeDisclaimer"), "");
  EXPECT_EQ(script.Prompts()[0].ButtonSet, ui::Buttons::YesNo);
  EXPECT_EQ(script.Prompts()[0].IconShown, ui::Icon::Question);
  script.ExpectMsgBox("Do you want to take the risk?", ui::Answer::Yes);
  EXPECT_TRUE(form->RWDisclaimer());
  EXPECT_EQ(core::GetSetting("View", "WriteModeDisclaimer"), "1");
  EXPECT_TRUE(form->RWDisclaimer());   // never asked again
  EXPECT_EQ(script.Prompts().size(), 2u);
}

TEST_F(WriteGate, OnlyAnExplicitYesIsConsent) {
  for (ui::Answer a : {ui::Answer::Cancel, ui::Answer::OK, ui::Answer::None,
                       ui::Answer::Ignore}) {
    FixedAnswerUi fixed(a);
    ui::CurrentUiScope use(fixed);
    EXPECT_FALSE(form->RWDisclaimer()) << ui::ToString(a);
    EXPECT_EQ(fixed.boxes, 1);
  }
  EXPECT_EQ(core::GetSetting("View", "WriteModeDisclaimer"), "");
}

// --------------------------------------------------------- entry labels

TEST_F(WriteGate, ChooserSuffixesFollowTheCheckState) {
  form->AddChooserEntry(0, "Topfield Disk, Drive 1", -1);
  form->AddChooserEntry(0, "Topfield Disk, Drive 2", -2);
  form->AddChooserEntry(1, "/  [root]", 1);
  form->AddChooserEntry(1, "Topfield Disk, Drive 2", -2);
  core::CheckState[29] = 1;
  form->UpdateComboBoxes();
  EXPECT_EQ(form->Combo1[0]->itemText(0), "Topfield Disk, Drive 1  [---unchecked---]");
  EXPECT_EQ(form->Combo1[0]->itemText(1), "Topfield Disk, Drive 2  [---read only---]");
  EXPECT_EQ(form->Combo1[1]->itemText(1), "Topfield Disk, Drive 2  [---read only---]");
  EXPECT_EQ(form->Combo1[1]->itemText(0), "/  [root]");
  // A new state replaces the old suffix, never adds to it.
  core::CheckState[30] = 2;
  core::CheckState[29] = 2;
  form->UpdateComboBoxes();
  EXPECT_EQ(form->Combo1[0]->itemText(0), "Topfield Disk, Drive 1  [---write disabled---]");
  EXPECT_EQ(form->Combo1[1]->itemText(1), "Topfield Disk, Drive 2  [---write disabled---]");
  core::Flags |= core::FlagWriteMode;
  form->UpdateComboBoxes();
  EXPECT_EQ(form->Combo1[0]->itemText(0), "Topfield Disk, Drive 1");
  // Outside normal mode nothing changes.
  core::Flags = core::FlagDisasterMode;
  core::CheckState[30] = 1;
  form->UpdateComboBoxes();
  EXPECT_EQ(form->Combo1[0]->itemText(0), "Topfield Disk, Drive 1");
}

}  // namespace
}  // namespace form1test
