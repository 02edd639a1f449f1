// The panes' lists and trees from a model set up in the test: columns and
// sorting (every column, both ways, header icons), the folder tree of a
// damaged disk, PC folders, Export List, the View menu, the tab strips and
// the layout rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <fstream>
#include <memory>
#include <string>

#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/number_format.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "tests/mainwindow/test_app.h"
#include "tests/support/image_builder.h"
#include "ui/scripted_ui.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

namespace ib = imagebuilder;
using mainwindow::Form1;
using mainwindow::ListView;
using mainwindow::TreeView;

core::FileRec Rec(const std::string& name, double size, bool dir = false) {
  core::FileRec f;
  f.Name = name;
  f.Size = size;
  f.IsDir = dir;
  f.ServiceType = dir ? 2 : 0;
  return f;
}

class ListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    tmp_ = std::make_unique<ib::TempDir>("qform1l");
    core::SetAppDir(tmp_->Path());
    core::ResetState();
    mainwindow::ResetWindowState();
    core::ShowGB = false;
    core::Flags = core::FlagNormal;
    use_ = std::make_unique<ui::CurrentUiScope>(script);
    form = std::make_unique<Form1>();
  }
  void TearDown() override {
    form.reset();
    core::ResetState();
    mainwindow::ResetWindowState();
    use_.reset();
    core::SetAppDir("");
  }

  // Side 0 shows a recorder model on `folder`; the chooser holds its entry.
  void Recorder(const std::vector<core::FileRec>& files, const QString& folder) {
    core::DiskId[0] = -1;
    core::Disk[0].Files = files;
    core::Disk[0].Files.resize(std::max<size_t>(files.size(), 10));
    core::Disk[0].FileCount = static_cast<int32_t>(files.size());
    core::Disk[0].CrcId = "1234ABCD";
    {
      QSignalBlocker block(form->Combo1[0]);
      form->Combo1[0]->clear();
      form->AddChooserEntry(0, "Topfield Disk, Drive 1", -1);
      form->Combo1[0]->setCurrentIndex(0);
    }
    form->SetPathLabel(0, folder);
  }
  QStringList Texts(int side) const {
    QStringList texts;
    for (const QString& key : form->LV1[side]->Keys()) texts << form->LV1[side]->Text(key);
    return texts;
  }
  std::string ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  ui::ScriptedUi script;
  std::unique_ptr<Form1> form;
  std::unique_ptr<ib::TempDir> tmp_;

 private:
  std::unique_ptr<ui::CurrentUiScope> use_;
};

std::vector<core::FileRec> SortModel() {
  std::vector<core::FileRec> files;
  files.push_back(Rec("\\DataFiles", 0, true));
  files.push_back(Rec("\\DataFiles\\beta", 3e9, true));
  files.push_back(Rec("\\DataFiles\\Alpha", 5e9, true));
  core::FileRec big = Rec("\\DataFiles\\big.rec", 150e9);      // 150 GB: 12 digits
  big.RecDate = core::DateValue(2006, 5, 1, 20, 15, 0);
  big.Duration = 90;
  big.StartCluster = 300;
  big.HasRecHeader = true;
  files.push_back(big);
  core::FileRec small = Rec("\\DataFiles\\Small.rec", 5);
  small.RecDate = core::DateValue(2004, 1, 2, 3, 4, 0);
  small.ServiceType = 1;
  small.Duration = 1500;
  small.StartCluster = 42;
  files.push_back(small);
  core::FileRec mid = Rec("\\DataFiles\\middle.ts", 20e9);
  mid.ServiceType = 2;
  mid.StartCluster = 7;
  files.push_back(mid);
  return files;
}

// ------------------------------------------------------------- file list

TEST_F(ListsTest, DefaultColumnsAndTheCellsOfAFolder) {
  form->SetupLV();
  form->SetupTV();
  ASSERT_EQ(form->LV1[0]->ColumnCount(), 5);
  const char* captions[] = {"File name", "Size", "Rec. Date", "Type", "Duration"};
  const int widths[] = {4000, 1100, 1600, 1000, 1000};
  for (int c = 0; c < 5; ++c) {
    EXPECT_EQ(form->LV1[1]->ColumnCaption(c), captions[c]);
    // The designed width, wider where the font needs it.
    EXPECT_GE(form->LV1[1]->columnWidth(c), mainwindow::TwipsToPixels(widths[c]));
  }
  EXPECT_EQ(form->LV1[0]->ColumnAlignment(1), Qt::AlignRight);
  EXPECT_EQ(form->LV1[0]->ColumnIconKey(0), "SortAsc");
  EXPECT_EQ(form->LV1[0]->ColumnIconKey(1), "");

  std::vector<core::FileRec> files = SortModel();
  files.push_back(Rec("\\DataFiles\\empty", 0, true));
  core::FileRec bare = Rec("\\DataFiles\\bare.REC", 0);
  bare.ServiceType = 2;
  files.push_back(bare);
  core::FileRec rescued = Rec("\\DataFiles\\rescued.rec", 10);
  rescued.Recovered = true;
  rescued.CryptValid = true;
  rescued.CryptFlags = 1;
  files.push_back(rescued);
  core::FileRec partly = Rec("\\DataFiles\\partly.rec", 10);
  partly.HasRecHeader = true;
  partly.CryptValid = true;
  partly.CryptFlags = 3;
  files.push_back(partly);
  Recorder(files, "\\DataFiles\\");
  form->ShowFileList(0);
  ListView* lv = form->LV1[0];
  EXPECT_EQ(Texts(0), (QStringList{"..", "beta", "Alpha", "empty", "big.rec", "Small.rec",
                                   "middle.ts", "bare.REC", "rescued.rec", "partly.rec"}));
  EXPECT_EQ(lv->IconKey("D.."), "Directory");
  EXPECT_EQ(lv->SubItem("D6", 1), "");   // a folder of size 0
  EXPECT_EQ(lv->SubItem("i3", 2), "2006-05-01 20:15");
  EXPECT_EQ(lv->SubItem("i3", 3), "TV");
  EXPECT_EQ(lv->SubItem("i3", 4), "01:30");
  EXPECT_EQ(lv->SubItem("i4", 3), "Radio");
  EXPECT_EQ(lv->SubItem("i4", 4), "01:00");   // 1500 minutes wrap after 23 hours
  EXPECT_EQ(lv->SubItem("i5", 3), "Other");
  EXPECT_EQ(lv->SubItem("i5", 4), "-");
  EXPECT_EQ(lv->SubItem("i5", 2), "");
  EXPECT_EQ(lv->SubItem("i7", 1), QString::fromStdString(core::FileSizeToString(0, 2, false)));
  EXPECT_EQ(lv->IconKey("i7"), "Rec");
  EXPECT_EQ(lv->IconKey("i8"), "Recovered");
  EXPECT_EQ(lv->IconKey("i9"), "KeyYG");
  EXPECT_EQ(lv->IconKey("i3"), "");

  // IgnoreRec: no "Rec" icon; at the root there is no ".." item.
  mainwindow::IgnoreRec = true;
  form->ShowFileList(0);
  EXPECT_EQ(lv->IconKey("i7"), "");
  form->SetPathLabel(0, "\\");
  form->ShowFileList(0);
  EXPECT_EQ(Texts(0), QStringList{"DataFiles"});

  // The summary counts checked items; a checked folder adds its total.
  form->SetPathLabel(0, "\\DataFiles\\");
  form->ShowFileList(0);
  lv->SetChecked("D1", true);
  lv->SetChecked("i4", true);
  form->ResetSummary(0);
  EXPECT_EQ(form->CountSelected(0), 2);
  EXPECT_TRUE(form->Label1[0]->text().startsWith(
      "2 file(s) = " + QString::fromStdString(core::FileSizeToString(3e9 + 5, 1, false)) +
      " selected / "));
  EXPECT_TRUE(form->Label1[0]->text().endsWith(" free"));
}

TEST_F(ListsTest, EveryColumnSortsBothWaysWithItsHeaderIcon) {
  mainwindow::Extras = true;
  form->SetupLV();
  Recorder(SortModel(), "\\DataFiles\\");
  form->ShowFileList(0);
  ListView* lv = form->LV1[0];
  ASSERT_EQ(lv->ColumnCount(), 6);
  EXPECT_EQ(lv->SubItem("i3", 5), "000300");

  struct Expect {
    int Column;
    QStringList Ascending;
    QStringList Descending;
  };
  const Expect expected[] = {
      {0, {"..", "Alpha", "beta", "big.rec", "middle.ts", "Small.rec"},
       {"..", "beta", "Alpha", "Small.rec", "middle.ts", "big.rec"}},
      // Size: 150 GB sorts above 20 GB and 5 bytes.
      {1, {"..", "beta", "Alpha", "Small.rec", "middle.ts", "big.rec"},
       {"..", "Alpha", "beta", "big.rec", "middle.ts", "Small.rec"}},
  };
  for (const Expect& e : expected) {
    form->LV1_ColumnClick(0, e.Column);
    if (e.Column == 0) form->LV1_ColumnClick(0, 0);   // already the sort column: flips twice
    EXPECT_EQ(Texts(0), e.Ascending) << "column " << e.Column;
    EXPECT_EQ(lv->ColumnIconKey(e.Column), "SortAsc");
    form->LV1_ColumnClick(0, e.Column);
    EXPECT_EQ(Texts(0), e.Descending) << "column " << e.Column;
    EXPECT_EQ(lv->ColumnIconKey(e.Column), "SortDesc");
    EXPECT_EQ(core::GetSetting("View", "SortColumn0"), std::to_string(e.Column));
    EXPECT_EQ(core::GetSetting("View", "SortOrder0"), "1");
  }
  // Columns 2 to 5 sort by their text, folders not kept on top.
  for (int c = 2; c <= 5; ++c) {
    form->LV1_ColumnClick(0, c);
    EXPECT_EQ(lv->ColumnIconKey(c), "SortAsc");
    for (int other = 0; other < 6; ++other)
      if (other != c) {
        EXPECT_NE(lv->ColumnIconKey(other), "SortAsc") << other;
      }
    QStringList cells;
    for (const QString& key : lv->Keys()) cells << lv->SubItem(key, c);
    QStringList sorted = cells;
    std::stable_sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
      return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    EXPECT_EQ(cells, sorted) << "column " << c;
    form->LV1_ColumnClick(0, c);
    EXPECT_EQ(lv->ColumnIconKey(c), "SortDesc");
    cells.clear();
    for (const QString& key : lv->Keys()) cells << lv->SubItem(key, c);
    QStringList descending = cells;
    std::stable_sort(descending.begin(), descending.end(), [](const QString& a, const QString& b) {
      return a.compare(b, Qt::CaseInsensitive) > 0;
    });
    EXPECT_EQ(cells, descending) << "column " << c;
  }
  EXPECT_EQ(Texts(0).size(), 6);

  // A refill keeps the size order.
  form->LV1_ColumnClick(0, 1);
  form->ShowFileList(0);
  EXPECT_EQ(Texts(0), (QStringList{"..", "beta", "Alpha", "Small.rec", "middle.ts", "big.rec"}));
}

// ------------------------------------------------------------- folder tree

TEST_F(ListsTest, FolderTreeOfADamagedDiskSkipsDuplicatesAndKeepsOrphans) {
  form->SetupLV();
  form->SetupTV();
  std::vector<core::FileRec> files;
  files.push_back(Rec("\\DataFiles", 0, true));
  files.push_back(Rec("\\datafiles", 0, true));            // the same folder again
  files.push_back(Rec("\\Lost\\Found\\Deep", 0, true));    // its parents are missing
  files.push_back(Rec("\\DataFiles\\Sub.dir", 0, true));
  files.push_back(Rec("~~~~~", 0, true));                   // erased
  files.push_back(Rec("\\DataFiles\\film.rec", 100));
  Recorder(files, "\\");
  form->ShowDirList(0);
  TreeView* tv = form->TV1[0];
  EXPECT_EQ(tv->Keys(), (QStringList{"\\", "\\DataFiles\\", "\\DataFiles\\Sub.dir\\",
                                     "\\Lost\\Found\\Deep\\"}));
  EXPECT_EQ(tv->ParentKey("\\Lost\\Found\\Deep\\"), "\\");
  EXPECT_EQ(tv->Text("\\DataFiles\\Sub.dir\\"), "Sub.dir");
  EXPECT_EQ(tv->Text("\\"), "Topfield");

  // Choosing a folder by path, in any case, opens it.
  form->SelectDirectory(0, "\\datafiles");
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\");
  EXPECT_EQ(Texts(0), (QStringList{"..", "Sub.dir", "film.rec"}));
  EXPECT_TRUE(form->ListInFront(0));
  // A path whose last folder is missing opens nothing.
  form->SelectDirectory(0, "\\DataFiles\\Nowhere\\");
  EXPECT_EQ(Texts(0), (QStringList{"..", "Sub.dir", "film.rec"}));
}

TEST_F(ListsTest, PcFoldersAreSortedWithoutRegardToCase) {
  form->SetupTV();
  const std::string root = tmp_->Path() + "/";
  for (const char* name : {"abd", "ABD2", "abc", "Zeta", ".hidden"})
    mkdir((root + name).c_str(), 0755);
  mkdir((root + "abc/inner").c_str(), 0755);
  symlink("/", (root + "link").c_str());
  form->TV1[1]->AddNode("", QString::fromStdString(root), "PC", "PC");
  core::DiskId[1] = 1;
  form->GetFiles(1, root);
  const QStringList children = form->TV1[1]->ChildKeys(QString::fromStdString(root));
  QStringList names;
  for (const QString& c : children) names << form->TV1[1]->Text(c);
  EXPECT_EQ(names, (QStringList{"abc", "abd", "ABD2", "Zeta"}));
  EXPECT_EQ(children.at(0), QString::fromStdString(root + "abc/"));
  // Expanding reads the next level once.
  form->TV1_Expand(1, QString::fromStdString(root));
  EXPECT_EQ(form->TV1[1]->ChildKeys(QString::fromStdString(root + "abc/")).size(), 1);
  EXPECT_EQ(form->TV1[1]->Tag(QString::fromStdString(root + "abc/")), "*");
  form->TV1_Expand(1, QString::fromStdString(root));
  EXPECT_EQ(form->TV1[1]->ChildKeys(QString::fromStdString(root + "abc/")).size(), 1);
}

// ------------------------------------------------------------- Export List

TEST_F(ListsTest, ExportListWritesTheLeftListExactly) {
  form->SetupLV();
  std::vector<core::FileRec> files = SortModel();
  files[4].Recovered = true;
  Recorder(files, "\\DataFiles\\");
  form->ShowFileList(0);
  form->Menu_File_ExportList_Click();
  const std::string path = tmp_->Path() + "/1234ABCD_FileList.txt";
  EXPECT_EQ(form->ExportListPath(), path);
  const std::string size5 = core::FileSizeToString(5, 2, false);
  const std::string expected =
      "R\tFileName\tSize\tDate\tType\tDuration\r\n"
      "\t..\t\t\t\t\r\n"
      "\tbeta\t" + core::FileSizeToString(3e9, 2, false) + "\t\t\t\r\n"
      "\tAlpha\t" + core::FileSizeToString(5e9, 2, false) + "\t\t\t\r\n"
      "\tbig.rec\t" + core::FileSizeToString(150e9, 2, false) + "\t2006-05-01 20:15\tTV\t01:30\r\n"
      "R\tSmall.rec\t" + size5 + "\t2004-01-02 03:04\tRadio\t01:00\r\n"
      "\tmiddle.ts\t" + core::FileSizeToString(20e9, 2, false) + "\t\tOther\t-\r\n";
  EXPECT_EQ(ReadFile(path), expected);
  ASSERT_EQ(script.OpenedFiles().size(), 1u);
  EXPECT_EQ(script.OpenedFiles()[0], path);

  // With Extras: seven fields; an empty list gives the header only; the
  // file is replaced.
  mainwindow::Extras = true;
  form->SetupLV();
  Recorder({}, "\\");
  form->ShowFileList(0);
  form->Menu_File_ExportList_Click();
  EXPECT_EQ(ReadFile(path), "R\tFileName\tSize\tDate\tType\tDuration\tFirst\r\n");

  // A desktop without a program for the list: the user is told where it is.
  script.SetDesktopOpens(false);
  script.ExpectMsgBox("The list was written to " + path, ui::Answer::OK,
                      ui::ScriptedUi::Match::Exact);
  form->Menu_File_ExportList_Click();
  EXPECT_TRUE(script.AllAnswered());
}

// ------------------------------------------------------- View menu, tabs

TEST_F(ListsTest, ViewMenuWritesItsSettingsAtOnce) {
  form->SetupLV();
  Recorder(SortModel(), "\\DataFiles\\");
  form->ShowFileList(0);
  const QString before = form->LV1[0]->SubItem("i3", 1);
  form->Menu_View_ShowGB_Click();
  EXPECT_TRUE(core::ShowGB);
  EXPECT_TRUE(form->Menu_View_ShowGB->isChecked());
  EXPECT_EQ(core::GetSetting("View", "ShowGB"), "1");
  EXPECT_NE(form->LV1[0]->SubItem("i3", 1), before);
  form->Menu_View_ShowGB->trigger();   // as a user's click
  EXPECT_FALSE(core::ShowGB);
  EXPECT_FALSE(form->Menu_View_ShowGB->isChecked());
  EXPECT_EQ(core::GetSetting("View", "ShowGB"), "0");
  EXPECT_EQ(form->LV1[0]->SubItem("i3", 1), before);

  form->Menu_View_RelativeETA->trigger();
  EXPECT_TRUE(form->Menu_View_RelativeETA->isChecked());
  EXPECT_FALSE(form->Menu_View_AbsoluteETA->isChecked());
  EXPECT_EQ(core::GetSetting("View", "RelativeETA"), "1");
  form->Menu_View_AbsoluteETA->trigger();
  form->Menu_View_AbsoluteETA->trigger();   // clicking the checked one keeps it checked
  EXPECT_TRUE(form->Menu_View_AbsoluteETA->isChecked());
  EXPECT_FALSE(form->Menu_View_RelativeETA->isChecked());
  EXPECT_EQ(core::GetSetting("View", "RelativeETA"), "0");

  form->TabStrip1[1]->setCurrentIndex(1);
  EXPECT_FALSE(form->ListInFront(1));
  EXPECT_TRUE(form->ListInFront(0));
  form->TabStrip1[1]->setCurrentIndex(0);
  EXPECT_TRUE(form->ListInFront(1));
}

// ------------------------------------------------------------------ layout

TEST_F(ListsTest, PanesShareTheWidthAndFollowTheHeight) {
  auto twips = [](const QWidget* w) {
    const QRect r = w->geometry();
    return QRect(r.x() * 15, r.y() * 15, r.width() * 15, r.height() * 15);
  };
  form->resize(1400, 800);
  form->Form_Resize();
  const int outer = form->OuterWidthTwips();
  const int w = static_cast<int>(std::nearbyint((outer - 200.0 - 945) / 2));
  EXPECT_NEAR(twips(form->Combo1[0]).width(), w, 15);
  EXPECT_NEAR(twips(form->Combo1[1]).width(), w, 15);
  EXPECT_NEAR(twips(form->Combo1[1]).x() - twips(form->Combo1[0]).right(), 945, 30);
  const int gapMid = (twips(form->Combo1[0]).x() + twips(form->Combo1[0]).width() +
                      twips(form->Combo1[1]).x()) / 2;
  for (QPushButton* b : form->Command1)
    EXPECT_NEAR(twips(b).x() + twips(b).width() / 2, gapMid, 30);
  EXPECT_EQ(form->LV1[0]->geometry(), form->TV1[0]->geometry());
  EXPECT_EQ(form->LV1[1]->width(), form->LV1[0]->width());
  EXPECT_NEAR(twips(form->Label1[3]).x() + twips(form->Label1[3]).width(),
              twips(form->Combo1[1]).x() + twips(form->Combo1[1]).width(), 30);
  const int heightTwips = form->OuterHeightTwips();
  EXPECT_NEAR(twips(form->TabStrip1[0]).height(), heightTwips - 615 - 840, 30);

  // Too narrow: nothing moves horizontally; 2200 twips high: nothing vertically.
  const QRect combo = form->Combo1[1]->geometry();
  const QRect tabs = form->TabStrip1[0]->geometry();
  form->resize(400, 2200 / 15 - 31);
  form->Form_Resize();
  EXPECT_EQ(form->Combo1[1]->geometry(), combo);
  EXPECT_EQ(form->TabStrip1[0]->geometry(), tabs);
}

}  // namespace
