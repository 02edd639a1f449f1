// The disk choosers, the transfer and refresh buttons and the keyboard
// shortcuts of the main window.
#include <QKeyEvent>

#include "core/disk_probe.h"
#include "tests/mainwindow/form1_pane_fixture.h"

namespace form1test {
namespace {

class Chooser : public PaneTest {};

TEST_F(Chooser, RecorderDiskOpensItsDataFolder) {
  WriteDrive(StandardImage(), 1);
  core::IODebug = true;
  Choose(0, AddRecorder(0, 1));
  core::IODebug = false;
  EXPECT_EQ(core::DiskId[0], -1);
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\");
  EXPECT_EQ(form->TabStrip1[0]->currentIndex(), 0);   // "Files" in front
  const QStringList texts = Texts(0);
  EXPECT_TRUE(texts.contains("good.rec"));
  EXPECT_TRUE(texts.contains("Sub"));
  EXPECT_TRUE(form->TV1[0]->Contains("\\DataFiles\\Sub\\"));
  const std::string log = ib::ReadWholeFile(core::IODebugLogFile());
  EXPECT_NE(log.find("Combo1           0 Selected drive PhysicalDrive1"), std::string::npos) << log;
  EXPECT_TRUE(script.Prompts().empty());
}

TEST_F(Chooser, DiskWithoutDataFolderOpensItsRoot) {
  WriteDrive(StandardImage(false), 3);
  Choose(0, AddRecorder(0, 3));
  EXPECT_EQ(form->PathLabel(0), "\\");
  EXPECT_TRUE(form->AtRecorderRoot(0));
}

TEST_F(Chooser, PcDriveOpensTheCurrentFolder) {
  ib::WriteWholeFile(pc_ + "/film.ts", "1234");
  Choose(1, AddPc(1));
  EXPECT_EQ(core::DiskId[1], PcDriveId());
  EXPECT_EQ(form->PathLabel(1), PcFolder());
  EXPECT_EQ(core::GetSetting("Copy", "Destination"), pc_ + "/");
  EXPECT_EQ(form->TabStrip1[1]->currentIndex(), 1);   // "Tree" in front
  EXPECT_TRUE(Texts(1).contains("film.ts"));
  EXPECT_TRUE(Form1::SideWritable(1));
}

TEST_F(Chooser, DiskThatCannotBeOpenedEndsTheProgram) {
  script.ExpectMsgBox("Unable to initialze the selected disk! Bailing out!", ui::Answer::OK,
                      ui::ScriptedUi::Match::Exact);
  const int entry = AddRecorder(0, 7);   // no such drive
  try {
    Choose(0, entry);
    FAIL() << "the program went on";
  } catch (const ui::ProgramEnded& end) {
    EXPECT_NE(end.Status, 0);
  }
  EXPECT_EQ(script.Prompts().at(0).IconShown, ui::Icon::Critical);
}

TEST_F(Chooser, SavesSystemClustersWhenAsked) {
  WriteDrive(StandardImage(), 1);
  mainwindow::SaveSystemClustersSwitch = true;
  script.ExpectFile("");   // cancelled: loads without saving, no message
  Choose(0, AddRecorder(0, 1));
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\");
  EXPECT_EQ(script.Prompts().size(), 1u);

  script.ExpectFile(app_ + "/saved.scc");
  Choose(0, 0);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_GT(platform::FileLength(app_ + "/saved.scc"), 0);
  EXPECT_GT(platform::FileLength(app_ + "/saved.scd"), 0);
  const auto& waits = script.WaitTexts();
  EXPECT_NE(std::find(waits.begin(), waits.end(), "Saving system clusters. Please stand by."),
            waits.end());
  EXPECT_EQ(script.Prompts().at(1).Text, "System Clusters (*.scc)|*.scc|All files|*.*");
}

TEST_F(Chooser, SameDiskOnBothSides) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  WriteDrive(StandardImage(), 1);
  Choose(0, AddRecorder(0, 1));
  Choose(1, AddRecorder(1, 1));
  EXPECT_EQ(core::DiskId[1], -1);
  EXPECT_EQ(form->PathLabel(1), "\\DataFiles\\");
  EXPECT_EQ(core::Disk[1].FileCount, core::Disk[0].FileCount);
  EXPECT_TRUE(Form1::SideWritable(0));
  EXPECT_TRUE(Form1::SideWritable(1));
}

// ----------------------------------------------------------- the buttons

TEST_F(Chooser, TransferButtonsStartTheirJobs) {
  for (int i = 0; i < 4; ++i) form->Command1_Click(i);
  const std::vector<JobCall> want = {
      {"copy", 0, true}, {"copy", 0, false}, {"copy", 1, true}, {"copy", 1, false}};
  EXPECT_EQ(JobCalls(), want);
}

TEST_F(Chooser, RefreshShowsWhatChanged) {
  StandardPanes();
  ib::WriteWholeFile(pc_ + "/later.ts", "x");
  EXPECT_FALSE(Texts(1).contains("later.ts"));
  form->Command2[1]->click();
  EXPECT_TRUE(Texts(1).contains("later.ts"));
  EXPECT_EQ(form->PathLabel(1), PcFolder());
  // The left pane keeps its folder.
  form->Command2_Click(0);
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\");
  EXPECT_TRUE(Texts(0).contains("good.rec"));
}

// --------------------------------------------------------- the shortcuts

class Shortcuts : public PaneTest {
 protected:
  int Press(int code) {
    int k = code;
    form->Form_KeyPress(k);
    return k;
  }
  void Select(int side, const QString& text) {
    form->LV1[side]->SetSelectedKey(KeyOf(side, text));
  }
};

TEST_F(Shortcuts, SelectAllInTheFocusedList) {
  StandardPanes();
  form->SelectDirectory(0, "\\DataFiles\\Sub\\");
  Select(0, "inner.ts");
  FocusList(0);
  EXPECT_EQ(Press(1), 0);
  EXPECT_FALSE(form->LV1[0]->Checked("D.."));
  EXPECT_TRUE(form->LV1[0]->Checked(KeyOf(0, "inner.ts")));
  EXPECT_EQ(mainwindow::ActiveSide, 0);
  // Other keys pass on.
  EXPECT_EQ(Press('x'), 'x');
}

TEST_F(Shortcuts, CopyAndMoveFollowTheContextRules) {
  StandardPanes();   // left read-only recorder, right PC folder
  Select(0, "good.rec");
  Select(1, "film.ts");
  FocusList(1);
  EXPECT_EQ(Press(3), 3);    // no copy into the read-only recorder disk
  EXPECT_EQ(Press(13), 13);  // nor a move
  FocusList(0);
  EXPECT_EQ(Press(13), 13);  // no move out of it
  EXPECT_TRUE(JobCalls().empty());
  EXPECT_EQ(Press(3), 0);    // copy to the PC
  const std::vector<JobCall> want = {{"copy", 0, false}};
  EXPECT_EQ(JobCalls(), want);
}

TEST_F(Shortcuts, EnterMovesWhenBothSidesAreWritable) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  StandardPanes();
  Select(1, "film.ts");
  FocusList(1);
  ASSERT_EQ(form->focusWidget(), form->LV1[1]);
  EXPECT_EQ(Press(13), 0);
  const std::vector<JobCall> want = {{"copy", 1, true}};
  EXPECT_EQ(JobCalls(), want);
  EXPECT_EQ(mainwindow::ActiveSide, 1);
}

TEST_F(Shortcuts, NothingHappensWithoutFocusSelectionOrItems) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  StandardPanes();
  // The list does not have the focus.
  Select(1, "film.ts");
  mainwindow::FocusSide = 1;
  EXPECT_EQ(Press(13), 13);
  // Focus but no selected item.
  FocusList(1);
  form->LV1[1]->SetSelectedKey("");
  EXPECT_EQ(Press(13), 13);
  EXPECT_FALSE(form->LV1[1]->Checked(KeyOf(1, "film.ts")));
  // An empty list.
  form->LV1[1]->Clear();
  EXPECT_EQ(Press(3), 3);
  EXPECT_TRUE(JobCalls().empty());
}

TEST_F(Shortcuts, NothingWhileAJobRunsOrAfterAnEdit) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  StandardPanes();
  Select(1, "film.ts");
  FocusList(1);
  form->DisableMenus();
  EXPECT_EQ(Press(13), 13);
  EXPECT_EQ(Press(3), 3);
  form->EnableMenus();
  FocusList(1);
  mainwindow::ShortcutsOff = true;
  EXPECT_EQ(Press(13), 13);
  EXPECT_EQ(Press(1), 1);
  EXPECT_TRUE(JobCalls().empty());
  // The next click in a list lets them work again.
  form->LV1[1]->UserClickItem(KeyOf(1, "film.ts"));
  EXPECT_FALSE(mainwindow::ShortcutsOff);
  EXPECT_EQ(Press(1), 0);
}

// A key as the user presses it on the focused control (through the window's
// key preview).
void PressKey(QWidget* target, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(target, &release);
}

// Right after start (no focus, nothing selected) Ctrl+A ticks the left pane.
TEST_F(Shortcuts, SelectAllRightAfterStart) {
  StandardPanes();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, "\x01");
  QApplication::sendEvent(form.get(), &press);
  EXPECT_TRUE(form->LV1[0]->Checked(KeyOf(0, "good.rec")));
}

TEST_F(Shortcuts, EnterPressesAFocusedButtonAndTheFocusReturnsToTheJobsList) {
  StandardPanes();
  // A job disables the window while it runs, which takes the focus away.
  mainwindow::Jobs().Copy = [](int side, bool move) {
    JobCalls().push_back({"copy", side, move});
    mainwindow::MainForm()->DisableMenus();
    mainwindow::MainForm()->EnableMenus();
  };
  Select(0, "good.rec");
  FocusList(0);
  form->Command1[1]->setFocus();
  QApplication::processEvents();
  ASSERT_EQ(form->focusWidget(), form->Command1[1]);
  PressKey(form->Command1[1], Qt::Key_Return);
  const std::vector<JobCall> want = {{"copy", 0, false}};
  EXPECT_EQ(JobCalls(), want);
  EXPECT_EQ(form->focusWidget(), form->LV1[0]);
}

TEST_F(Shortcuts, FolderChosenWithTheArrowKeysOpensInTheList) {
  StandardPanes();
  form->show();
  form->activateWindow();
  form->TabStrip1[0]->setCurrentIndex(1);   // the tree in front
  form->TV1[0]->setFocus();
  QApplication::processEvents();
  ASSERT_EQ(form->TV1[0]->SelectedKey(), "\\DataFiles\\");
  PressKey(form->TV1[0], Qt::Key_Down);
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\Sub\\");
  EXPECT_EQ(Texts(0), (QStringList{"..", "inner.ts"}));
  EXPECT_TRUE(form->ListInFront(0));
}

// A stored copy destination in a hidden or a Latin-1-named folder: tree,
// path label and list show it, the setting keeps its bytes, a copy lands in it.
TEST_F(Chooser, DestinationFolderIsShownInLabelAndList) {
  const std::string names[] = {".hidden", "Aufnahmen_\xe4lt"};
  for (const std::string& name : names)
    mkdir((pc_ + "/" + name).c_str(), 0755), ib::WriteWholeFile(pc_ + "/" + name + "/inside.ts", "x");
  StandardPanes();
  for (const std::string& name : names) {
    core::SetSetting("Copy", "Destination", pc_ + "/" + name + "/");
    form->SetDefaultPCDir();
    EXPECT_EQ(form->PathLabel(1), mainwindow::PcToKey(pc_ + "/" + name + "/"));
    EXPECT_EQ(Texts(1), (QStringList{"..", "inside.ts"}));
    EXPECT_EQ(form->TV1[1]->SelectedKey(), form->PathLabel(1));
    EXPECT_EQ(core::GetSetting("Copy", "Destination"), pc_ + "/" + name + "/");
  }
  EXPECT_EQ(form->Label1[3]->text(), mainwindow::PcToDisplay(pc_ + "/Aufnahmen_\xe4lt/"));
  form->LV1[0]->SetChecked(KeyOf(0, "good.rec"), true);
  mainwindow::DoCopy(0, false);
  EXPECT_EQ(ib::ReadWholeFile(pc_ + "/Aufnahmen_\xe4lt/good.rec").size(), 8192u);
  mainwindow::ActiveSide = 1, form->SelectDirectory(1, PcFolder());   // renamed as shown: bytes kept
  form->LV1[1]->SetSelectedKey(KeyOf(1, mainwindow::PcToDisplay(names[1])));
  form->Menu_LVContext_Rename_Click(), form->LV1[1]->FinishLabelEdit(mainwindow::PcToDisplay(names[1]));
  EXPECT_EQ(ib::ReadWholeFile(pc_ + "/Aufnahmen_\xe4lt/good.rec").size(), 8192u);
  for (const std::string bytes : {"\xe4\xc3\xa4", "\xed\xa0\x80\xc0\xaf", "\xf0\x9f\x8e\xac\xff\xf0\x9f"})
    EXPECT_EQ(mainwindow::KeyToPc(mainwindow::PcToKey(bytes)), bytes);
}

}  // namespace
}  // namespace form1test
