// Events of the file lists: the context entries per pane and item, the
// parent item's check box, opening folders, sorting and renaming in place.
#include "tests/mainwindow/form1_pane_fixture.h"

namespace form1test {
namespace {

class ListEvents : public PaneTest {
 protected:
  void RightClick(int side, const QString& text,
                  Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const QString key = KeyOf(side, text);
    ASSERT_FALSE(key.isEmpty()) << text.toStdString();
    form->LV1[side]->UserClickItem(key, Qt::RightButton, mods);
  }
  bool On(QAction* a) const { return a->isEnabled(); }
  void CloseMenu() { form->Menu_LVContext->hide(); }
};

// ------------------------------------------------------ context entries

TEST_F(ListEvents, RecorderPaneOutsideWriteMode) {
  StandardPanes();
  RightClick(0, "good.rec");
  EXPECT_EQ(mainwindow::ActiveSide, 0);
  EXPECT_TRUE(form->Menu_LVContext->isVisible());
  CloseMenu();
  EXPECT_TRUE(On(form->Menu_LVContext_Copy));
  for (QAction* a : {form->Menu_LVContext_Move, form->Menu_LVContext_Rename,
                     form->Menu_LVContext_Erase, form->Menu_LVContext_CreateSubDir,
                     form->Menu_LVContext_EditFileDate, form->Menu_LVContext_AutoSetFileDate})
    EXPECT_FALSE(On(a)) << a->objectName().toStdString();
  for (QAction* a : {form->Menu_LVContext_SetCrypted, form->Menu_LVContext_SetPartiallyCrypted,
                     form->Menu_LVContext_SetUnCrypted, form->Menu_LVContext_ScanStream,
                     form->Menu_LVContext_Refresh, form->Menu_LVContext_EditEventDescriptions,
                     form->Menu_LVContext_SelectAll, form->Menu_LVContext_SelectUncrypted})
    EXPECT_TRUE(On(a)) << a->objectName().toStdString();
  // A recording without a valid header offers no event editor.
  RightClick(0, "bare.rec");
  CloseMenu();
  EXPECT_FALSE(On(form->Menu_LVContext_EditEventDescriptions));
}

TEST_F(ListEvents, PcPaneBesideAReadOnlyRecorder) {
  StandardPanes();
  form->TabStrip1[1]->setCurrentIndex(0);
  RightClick(1, "film.ts");
  CloseMenu();
  EXPECT_EQ(mainwindow::ActiveSide, 1);
  EXPECT_FALSE(On(form->Menu_LVContext_Copy));
  EXPECT_FALSE(On(form->Menu_LVContext_Move));
  EXPECT_TRUE(On(form->Menu_LVContext_Rename));
  EXPECT_TRUE(On(form->Menu_LVContext_Erase));
  EXPECT_TRUE(On(form->Menu_LVContext_CreateSubDir));
  EXPECT_FALSE(On(form->Menu_LVContext_EditFileDate));
  EXPECT_FALSE(On(form->Menu_LVContext_AutoSetFileDate));
  EXPECT_FALSE(On(form->Menu_LVContext_SetCrypted));
  EXPECT_FALSE(On(form->Menu_LVContext_ScanStream));
}

TEST_F(ListEvents, RecorderRootInWriteMode) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  StandardPanes();
  form->SelectDirectory(0, "\\");
  RightClick(0, "DataFiles");
  CloseMenu();
  EXPECT_TRUE(On(form->Menu_LVContext_Copy));
  for (QAction* a : {form->Menu_LVContext_Move, form->Menu_LVContext_Rename,
                     form->Menu_LVContext_Erase, form->Menu_LVContext_CreateSubDir})
    EXPECT_FALSE(On(a)) << a->objectName().toStdString();
  EXPECT_TRUE(On(form->Menu_LVContext_EditFileDate));
  RightClick(1, "film.ts");
  CloseMenu();
  EXPECT_FALSE(On(form->Menu_LVContext_Copy));
  EXPECT_FALSE(On(form->Menu_LVContext_Move));
  EXPECT_TRUE(On(form->Menu_LVContext_Rename));
}

TEST_F(ListEvents, EventEditorOnlyForFiles) {
  StandardPanes();
  RightClick(0, "good.rec");
  CloseMenu();
  ASSERT_TRUE(On(form->Menu_LVContext_EditEventDescriptions));
  RightClick(0, "Sub");
  CloseMenu();
  EXPECT_FALSE(On(form->Menu_LVContext_EditEventDescriptions));
  form->SelectDirectory(0, "\\DataFiles\\Sub\\");
  RightClick(0, "..");
  CloseMenu();
  EXPECT_FALSE(On(form->Menu_LVContext_EditEventDescriptions));
  EXPECT_FALSE(On(form->Menu_LVContext_Rename));
}

TEST_F(ListEvents, OnlyAPlainRightClickOpensTheMenu) {
  StandardPanes();
  form->LV1[0]->UserClickItem(KeyOf(0, "good.rec"));
  EXPECT_FALSE(form->Menu_LVContext->isVisible());
  EXPECT_FALSE(mainwindow::PopupPending);
  RightClick(0, "bare.rec", Qt::ShiftModifier);
  EXPECT_FALSE(form->Menu_LVContext->isVisible());
  EXPECT_FALSE(On(form->Menu_LVContext_EditEventDescriptions));   // entries set all the same
  RightClick(0, "good.rec");
  EXPECT_TRUE(form->Menu_LVContext->isVisible());
  CloseMenu();
}

// ----------------------------------------------------- checks and clicks

TEST_F(ListEvents, ParentItemCannotBeChecked) {
  StandardPanes();
  form->SelectDirectory(0, "\\DataFiles\\Sub\\");
  const QString summary = form->Label1[0]->text();
  form->LV1[0]->UserSetChecked("D..", true);
  EXPECT_FALSE(form->LV1[0]->Checked("D.."));
  EXPECT_EQ(form->Label1[0]->text(), summary);
  form->LV1[0]->UserSetChecked(KeyOf(0, "inner.ts"), true);
  EXPECT_NE(form->Label1[0]->text(), summary);
  EXPECT_TRUE(form->Label1[0]->text().startsWith("1 file(s) = "));
}

TEST_F(ListEvents, DoubleClickOpensFolders) {
  StandardPanes();
  form->LV1[0]->UserDoubleClickItem(KeyOf(0, "Sub"));
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\Sub\\");
  EXPECT_TRUE(Texts(0).contains("inner.ts"));
  form->LV1[0]->UserDoubleClickItem("D..");
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\");
  // A file opens nothing but the window's state is computed again.
  form->DisableMenus();
  form->LV1[0]->UserDoubleClickItem(KeyOf(0, "good.rec"));
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\");
  EXPECT_TRUE(form->Combo1[0]->isEnabled());
  // Up one level on a PC pane.
  mkdir((pc_ + "/Folder").c_str(), 0755);
  form->SelectDirectory(1, PcFolder() + "Folder/");
  ASSERT_EQ(form->PathLabel(1), PcFolder() + "Folder/");
  form->LV1[1]->UserDoubleClickItem("D..");
  EXPECT_EQ(form->PathLabel(1), PcFolder());
}

TEST_F(ListEvents, DoubleClickWithoutSelectionDoesNothing) {
  StandardPanes();
  form->LV1[0]->SetSelectedKey("");
  form->DisableMenus();
  form->LV1_DblClick(0);
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\");
  EXPECT_FALSE(form->Combo1[0]->isEnabled());
}

TEST_F(ListEvents, ColumnClickSortsAndRemembers) {
  StandardPanes();
  form->LV1_ColumnClick(0, 1);
  EXPECT_EQ(mainwindow::SortColumn[0], 1);
  EXPECT_EQ(mainwindow::SortOrder[0], 0);
  EXPECT_EQ(form->LV1[0]->ColumnIconKey(1), "SortAsc");
  EXPECT_EQ(form->LV1[0]->ColumnIconKey(0), "SortEmpty");
  EXPECT_EQ(core::GetSetting("View", "SortColumn0"), "1");
  EXPECT_EQ(core::GetSetting("View", "SortOrder0"), "0");
  form->LV1_ColumnClick(0, 1);
  EXPECT_EQ(mainwindow::SortOrder[0], 1);
  EXPECT_EQ(form->LV1[0]->ColumnIconKey(1), "SortDesc");
  EXPECT_EQ(core::GetSetting("View", "SortOrder0"), "1");
  // Descending by size: parent first, folders, then files largest first.
  const QStringList texts = Texts(0);
  ASSERT_GE(texts.size(), 3);
  EXPECT_EQ(texts[0], "..");
  EXPECT_EQ(texts[1], "Sub");
  EXPECT_EQ(texts.back(), "bare.rec");
}

// ------------------------------------------------------------ label edits

TEST_F(ListEvents, EditsRefusedWhereNothingMayBeRenamed) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  StandardPanes();
  form->SelectDirectory(0, "\\DataFiles\\Sub\\");
  EXPECT_FALSE(form->LV1[0]->StartLabelEdit("D.."));
  EXPECT_FALSE(mainwindow::ShortcutsOff);
  form->SelectDirectory(0, "\\");
  EXPECT_FALSE(form->LV1[0]->StartLabelEdit(KeyOf(0, "DataFiles")));
  // A read-only side.
  core::Flags &= ~core::FlagSide0Writable;
  form->SelectDirectory(0, "\\DataFiles\\");
  EXPECT_FALSE(form->LV1[0]->StartLabelEdit(KeyOf(0, "good.rec")));
  EXPECT_FALSE(mainwindow::ShortcutsOff);
  // Rename with nothing selected opens nothing.
  mainwindow::ActiveSide = 1;
  form->LV1[1]->SetSelectedKey("");
  form->Menu_LVContext_Rename_Click();
  EXPECT_FALSE(form->LV1[1]->Editing());
}

TEST_F(ListEvents, BadNamesAreRefused) {
  StandardPanes();
  ib::WriteWholeFile(pc_ + "/other.ts", "o");
  form->Command2_Click(1);
  const QString key = KeyOf(1, "film.ts");
  const std::vector<std::pair<QString, bool>> names = {
      {"", false},          {".", true},          {"..", true},       {"a/b", true},
      {"a\\b", true},       {QString("a") + QChar(0) + "b", true},   {"other.ts", true}};
  for (const auto& [name, message] : names) {
    const size_t before = script.MsgBoxTexts().size();
    if (message) script.ExpectMsgBox("", ui::Answer::OK);
    mainwindow::ActiveSide = 1;
    form->LV1[1]->SetSelectedKey(key);
    form->Menu_LVContext_Rename_Click();
    ASSERT_TRUE(form->LV1[1]->Editing()) << name.toStdString();
    EXPECT_TRUE(mainwindow::ShortcutsOff);
    form->LV1[1]->FinishLabelEdit(name);
    EXPECT_EQ(script.MsgBoxTexts().size(), before + (message ? 1 : 0)) << name.toStdString();
    EXPECT_EQ(form->LV1[1]->Text(key), "film.ts") << name.toStdString();
    EXPECT_EQ(ib::ReadWholeFile(pc_ + "/film.ts"), std::string(3000, 'x'));
    EXPECT_EQ(ib::ReadWholeFile(pc_ + "/other.ts"), "o");
    EXPECT_TRUE(mainwindow::ShortcutsOff);
  }
  EXPECT_TRUE(script.AllAnswered());
}

TEST_F(ListEvents, DuplicateNameOnRecorderIgnoresCase) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  StandardPanes();
  script.ExpectMsgBox("", ui::Answer::OK);
  mainwindow::ActiveSide = 0;
  const QString key = KeyOf(0, "bare.rec");
  form->LV1[0]->SetSelectedKey(key);
  form->Menu_LVContext_Rename_Click();
  ASSERT_TRUE(form->LV1[0]->Editing());
  form->LV1[0]->FinishLabelEdit("GOOD.REC");
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(form->LV1[0]->Text(key), "bare.rec");
  EXPECT_EQ(core::Disk[0].Files[size_t(Form1::IndexFromKey(key))].Name, "\\DataFiles\\bare.rec");
}

}  // namespace
}  // namespace form1test
