// The file-list context commands: jobs on the active pane, refresh, rename
// and Create SubDir on a PC folder and on a recorder image, and the four
// selection commands.
#include "tests/mainwindow/form1_pane_fixture.h"

namespace form1test {
namespace {

class Context : public PaneTest {
 protected:
  // The entries of a recorder folder on the image, by name.
  std::vector<std::string> FolderNames(const std::string& drive, uint32_t folderIndex) {
    ib::ImageFile image(drive);
    std::vector<std::string> names;
    for (const auto& [slot, e] : ib::DecodeDirectory(image.ReadClusterView(folderIndex + 1)))
      names.push_back(e.Name);
    return names;
  }
  static bool Has(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
  }
  const core::FileRec* Record(int side, const std::string& name) const {
    for (int i = 0; i < core::Disk[side].FileCount; ++i)
      if (core::Disk[side].Files[size_t(i)].Name == name) return &core::Disk[side].Files[size_t(i)];
    return nullptr;
  }
};

// ----------------------------------------------------------------- jobs

TEST_F(Context, JobsActOnTheActivePane) {
  mainwindow::ActiveSide = 1;
  form->Menu_LVContext_Copy->trigger();
  form->Menu_LVContext_Move->trigger();
  mainwindow::ActiveSide = 0;
  form->Menu_LVContext_Erase->trigger();
  form->Menu_LVContext_ScanStream->trigger();
  const std::vector<JobCall> want = {
      {"copy", 1, false}, {"copy", 1, true}, {"erase", 0, false}, {"scan", 0, false}};
  EXPECT_EQ(JobCalls(), want);
}

TEST_F(Context, RefreshReloadsThePane) {
  StandardPanes();
  ib::WriteWholeFile(pc_ + "/later.ts", "x");
  mainwindow::ActiveSide = 1;
  form->Menu_LVContext_Refresh_Click();
  EXPECT_TRUE(Texts(1).contains("later.ts"));
  EXPECT_EQ(form->PathLabel(1), PcFolder());
}

// --------------------------------------------------------------- rename

TEST_F(Context, RenameOnAPcFolder) {
  StandardPanes();
  mainwindow::ActiveSide = 1;
  form->LV1[1]->SetSelectedKey(KeyOf(1, "film.ts"));
  form->Menu_LVContext_Rename_Click();
  ASSERT_TRUE(form->LV1[1]->Editing());
  form->LV1[1]->FinishLabelEdit("movie.ts");
  EXPECT_TRUE(script.Prompts().empty());
  EXPECT_EQ(platform::FileLength(pc_ + "/film.ts"), -1);
  EXPECT_EQ(platform::FileLength(pc_ + "/movie.ts"), 3000);
  // The list was filled again: every key names the entry it shows.
  const QString key = KeyOf(1, "movie.ts");
  ASSERT_FALSE(key.isEmpty());
  EXPECT_EQ(form->LV1[1]->SelectedKey(), key);
  EXPECT_EQ(core::Disk[1].Files[size_t(Form1::IndexFromKey(key))].Name, pc_ + "/movie.ts");
  EXPECT_TRUE(mainwindow::ShortcutsOff);
}

TEST_F(Context, RenameOnARecorderImage) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  ib::DiskImage img = StandardImage();
  StandardPanes(img);
  const uint32_t dataFiles = img.FolderIndex("\\DataFiles");
  mainwindow::ActiveSide = 0;
  const QString key = KeyOf(0, "bare.rec");
  form->LV1[0]->SetSelectedKey(key);
  form->Menu_LVContext_Rename_Click();
  ASSERT_TRUE(form->LV1[0]->Editing());
  form->LV1[0]->FinishLabelEdit("renamed.rec");
  EXPECT_TRUE(script.Prompts().empty());
  EXPECT_EQ(form->LV1[0]->Text(key), "renamed.rec");
  EXPECT_NE(Record(0, "\\DataFiles\\renamed.rec"), nullptr);
  const auto names = FolderNames(DrivePath(1), dataFiles);
  EXPECT_TRUE(Has(names, "renamed.rec"));
  EXPECT_FALSE(Has(names, "bare.rec"));
  form->Menu_LVContext_Rename_Click();   // shown as written: "ÿ" as "y"
  form->LV1[0]->FinishLabelEdit(QString::fromUtf8("Caf\xC3\xA9 \xC3\xBF.rec"));
  EXPECT_EQ(form->LV1[0]->Text(key), QString::fromUtf8("Caf\xC3\xA9 y.rec"));

  // A folder: the tree and every entry below it follow.
  const QString sub = KeyOf(0, "Sub");
  form->LV1[0]->SetSelectedKey(sub);
  form->Menu_LVContext_Rename_Click();
  ASSERT_TRUE(form->LV1[0]->Editing());
  form->LV1[0]->FinishLabelEdit("Films");
  EXPECT_TRUE(form->TV1[0]->Contains("\\DataFiles\\Films\\"));
  EXPECT_FALSE(form->TV1[0]->Contains("\\DataFiles\\Sub\\"));
  EXPECT_NE(Record(0, "\\DataFiles\\Films\\inner.ts"), nullptr);
  EXPECT_TRUE(Has(FolderNames(DrivePath(1), dataFiles), "Films"));
}

TEST_F(Context, RenameShowsInTheOtherPaneOfTheSameDisk) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  StandardPanes();
  Choose(1, AddRecorder(1, 1));
  ASSERT_EQ(form->PathLabel(1), "\\DataFiles\\");
  mainwindow::ActiveSide = 0;
  form->LV1[0]->SetSelectedKey(KeyOf(0, "good.rec"));
  form->Menu_LVContext_Rename_Click();
  form->LV1[0]->FinishLabelEdit("best.rec");
  EXPECT_TRUE(Texts(1).contains("best.rec"));
  EXPECT_FALSE(Texts(1).contains("good.rec"));
  EXPECT_NE(Record(1, "\\DataFiles\\best.rec"), nullptr);
}

// ----------------------------------------------------------- Create SubDir

// The other pane of the same disk learns the new folder's cluster at once,
// also when its naming is cancelled: a copy through that pane never takes it.
TEST_F(Context, CreateSubDirReachesTheOtherPaneOfTheSameDisk) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  StandardPanes();
  Choose(1, AddRecorder(1, 1));
  mainwindow::ActiveSide = 0;
  form->Menu_LVContext_CreateSubDir_Click();
  form->LV1[0]->CancelLabelEdit();
  const core::FileRec* made = Record(0, "\\DataFiles\\New folder 01");
  ASSERT_NE(made, nullptr);
  EXPECT_NE(core::Disk[1].FAT[size_t(made->StartCluster)].Next, 0);
  EXPECT_NE(Record(1, "\\DataFiles\\New folder 01"), nullptr);
  EXPECT_TRUE(Texts(1).contains("New folder 01"));
}

TEST_F(Context, CreateSubDirOnAPcFolder) {
  StandardPanes();
  mainwindow::ActiveSide = 1;
  form->LV1[1]->SetSelectedKey(KeyOf(1, "film.ts"));
  form->Menu_LVContext_CreateSubDir_Click();
  EXPECT_TRUE(std::filesystem::is_directory(pc_ + "/New folder 01"));
  const QString key = KeyOf(1, "New folder 01");
  ASSERT_FALSE(key.isEmpty());
  EXPECT_EQ(form->LV1[1]->SelectedKey(), key);
  ASSERT_TRUE(form->LV1[1]->Editing());
  EXPECT_EQ(form->LV1[1]->EditingKey(), key);
  form->LV1[1]->FinishLabelEdit("Holiday");
  EXPECT_TRUE(std::filesystem::is_directory(pc_ + "/Holiday"));
  EXPECT_FALSE(std::filesystem::exists(pc_ + "/New folder 01"));
}

TEST_F(Context, NewFolderNumberIsOneAboveTheHighest) {
  StandardPanes();
  mkdir((pc_ + "/New folder 05").c_str(), 0755);
  mkdir((pc_ + "/new folder 02").c_str(), 0755);
  mkdir((pc_ + "/new folderX").c_str(), 0755);
  mainwindow::ActiveSide = 1;
  form->Menu_LVContext_Refresh_Click();
  form->Menu_LVContext_CreateSubDir_Click();
  EXPECT_TRUE(std::filesystem::is_directory(pc_ + "/New folder 06"));
  EXPECT_EQ(form->LV1[1]->EditingKey(), KeyOf(1, "New folder 06"));
  form->LV1[1]->CancelLabelEdit();

  mkdir((pc_ + "/New folder 99").c_str(), 0755);
  form->Menu_LVContext_Refresh_Click();
  form->Menu_LVContext_CreateSubDir_Click();
  EXPECT_TRUE(std::filesystem::is_directory(pc_ + "/New folder 100"));
}

TEST_F(Context, FirstNewFolderWithoutNumberedOnes) {
  StandardPanes();
  mkdir((pc_ + "/new folderX").c_str(), 0755);
  mainwindow::ActiveSide = 1;
  form->Menu_LVContext_Refresh_Click();
  form->Menu_LVContext_CreateSubDir_Click();
  EXPECT_TRUE(std::filesystem::is_directory(pc_ + "/New folder 01"));
}

TEST_F(Context, CreateSubDirOnARecorderImage) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  ib::DiskImage img = StandardImage();
  StandardPanes(img);
  mainwindow::ActiveSide = 0;
  form->Menu_LVContext_CreateSubDir_Click();
  EXPECT_TRUE(script.Prompts().empty());
  EXPECT_TRUE(Has(FolderNames(DrivePath(1), img.FolderIndex("\\DataFiles")), "New folder 01"));
  EXPECT_TRUE(form->TV1[0]->Contains("\\DataFiles\\New folder 01\\"));
  const QString key = KeyOf(0, "New folder 01");
  ASSERT_FALSE(key.isEmpty());
  ASSERT_TRUE(form->LV1[0]->Editing());
  EXPECT_EQ(form->LV1[0]->EditingKey(), key);
  form->LV1[0]->FinishLabelEdit("Series");
  EXPECT_TRUE(Has(FolderNames(DrivePath(1), img.FolderIndex("\\DataFiles")), "Series"));
  EXPECT_NE(Record(0, "\\DataFiles\\Series"), nullptr);
}

TEST_F(Context, NoNewFolderWhereNothingMayBeWritten) {
  StandardPanes();   // the recorder side is read-only
  mainwindow::ActiveSide = 0;
  const int before = core::Disk[0].FileCount;
  form->Menu_LVContext_CreateSubDir_Click();
  EXPECT_EQ(core::Disk[0].FileCount, before);
  EXPECT_FALSE(form->LV1[0]->Editing());
  EXPECT_TRUE(KeyOf(0, "New folder 01").isEmpty());
}

// -------------------------------------------------------------- selection

TEST_F(Context, SelectionCommands) {
  StandardPanes();
  mainwindow::ActiveSide = 0;
  mainwindow::ListView* lv = form->LV1[0];
  form->Menu_LVContext_SelectAll_Click();
  for (const QString& key : lv->Keys()) EXPECT_EQ(lv->Checked(key), key != "D..") << key.toStdString();
  EXPECT_TRUE(form->Label1[0]->text().startsWith(QString::number(lv->ItemCount() - 1) + " file(s)"));
  form->Menu_LVContext_SelectNone_Click();
  for (const QString& key : lv->Keys()) EXPECT_FALSE(lv->Checked(key));
  EXPECT_TRUE(form->Label1[0]->text().startsWith("0 file(s)"));

  lv->SetChecked(KeyOf(0, "good.rec"), true);
  form->Menu_LVContext_SelectToggle_Click();
  EXPECT_FALSE(lv->Checked(KeyOf(0, "good.rec")));
  EXPECT_TRUE(lv->Checked(KeyOf(0, "Sub")));
  EXPECT_FALSE(lv->Checked("D.."));
  form->Menu_LVContext_SelectToggle_Click();
  EXPECT_TRUE(lv->Checked(KeyOf(0, "good.rec")));
  EXPECT_FALSE(lv->Checked(KeyOf(0, "Sub")));
}

TEST_F(Context, SelectUncryptedTakesClearTvRecordings) {
  StandardPanes();
  mainwindow::ActiveSide = 0;
  mainwindow::ListView* lv = form->LV1[0];
  lv->SetChecked(KeyOf(0, "radio.rec"), true);
  lv->SetChecked(KeyOf(0, "Sub"), true);
  form->Menu_LVContext_SelectUncrypted_Click();
  EXPECT_TRUE(lv->Checked(KeyOf(0, "good.rec")));
  EXPECT_FALSE(lv->Checked(KeyOf(0, "radio.rec")));
  EXPECT_FALSE(lv->Checked(KeyOf(0, "crypt.rec")));
  EXPECT_FALSE(lv->Checked(KeyOf(0, "bare.rec")));
  EXPECT_TRUE(lv->Checked(KeyOf(0, "Sub")));   // folders stay as they were
  EXPECT_FALSE(lv->Checked("D.."));
  EXPECT_TRUE(form->Label1[0]->text().startsWith("2 file(s)"));
}

}  // namespace
}  // namespace form1test
