// Start-up of the main window on builder images: the three modes, the
// end of the program when there is nothing to work on, the disclaimer, the
// settings and the window placement, the single-instance guard, and the
// window taking no input while the wait window is up.
#include <gtest/gtest.h>
#include <csignal>
#include <grp.h>
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QRegularExpression>
#include <QScreen>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/number_format.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "mainwindow/source_disk_dialog.h"
#include "tests/mainwindow/test_app.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "ui/scripted_ui.h"

namespace {

namespace ib = imagebuilder;
using mainwindow::Form1;

ib::DiskImage SmallImage() {
  ib::ImageSpec spec;
  spec.SectorsPerCluster = 2068;
  spec.LastCluster = 60;
  ib::DiskImage img(spec);
  img.AddFolder("\\DataFiles\\Sub");
  ib::FileSpec good;
  good.Path = "\\DataFiles\\good.rec";
  good.Header = ib::RecHeader{};
  good.Size = 8192;
  good.CryptFlags = 4;
  good.CryptValue = 2;
  img.AddFile(good);
  ib::FileSpec bare;
  bare.Path = "\\DataFiles\\bare.rec";
  bare.Size = 4096;
  img.AddFile(bare);
  return img;
}

void WriteBlank(const std::string& path, uint64_t bytes) {
  std::ofstream(path).close();
  if (truncate(path.c_str(), static_cast<off_t>(bytes)) != 0) FAIL() << "truncate " << path;
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    tmp_ = std::make_unique<ib::TempDir>("qform1");
    devices_ = *tmp_ / "devices";
    app_ = *tmp_ / "app";
    home_ = *tmp_ / "home";
    mkdir(devices_.c_str(), 0755);
    mkdir(app_.c_str(), 0755);
    mkdir(home_.c_str(), 0755);
    mkdir((home_ + "/Videos").c_str(), 0755);
    testenv::UseFolders(app_, devices_);
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) savedCwd_ = cwd;
    core::ProgramIdentity id;
    id.Title = "Quenbrix";
    id.Major = 2;
    id.Minor = 5;
    id.Revision = 17;
    core::SetProgramIdentity(id);
    mainwindow::ResetWindowState();
    core::ShowGB = false;
    use_ = std::make_unique<ui::CurrentUiScope>(script);
    Form1::SetInstanceName(QString::fromStdString("qform1-test-" + std::to_string(getpid())));
    core::SetSetting("Copy", "Destination", home_ + "/Videos/");
  }

  void TearDown() override {
    form.reset();
    testenv::CloseDisksAndReset();
    mainwindow::ResetWindowState();
    use_.reset();
    Form1::SetInstanceName(QString());
    if (!savedCwd_.empty() && chdir(savedCwd_.c_str()) != 0) ADD_FAILURE() << "cwd";
    unsetenv("QUENBRIX_DEVICES");
    core::SetAppDir("");
  }

  std::string Drive(int n) const { return devices_ + "/PhysicalDrive" + std::to_string(n); }

  // Runs the start-up; the exit status when it ended the program.
  std::optional<int> Load(const std::string& commandLine = "") {
    form = std::make_unique<Form1>();
    form->SetCommandLine(commandLine);
    try {
      form->Form_Load();
    } catch (const ui::ProgramEnded& end) {
      return end.Status;
    }
    return std::nullopt;
  }

  QStringList Entries(int side) const {
    QStringList list;
    for (int i = 0; i < form->Combo1[side]->count(); ++i) list << form->Combo1[side]->itemText(i);
    return list;
  }
  QStringList Texts(int side) const {
    QStringList texts;
    for (const QString& key : form->LV1[side]->Keys()) texts << form->LV1[side]->Text(key);
    return texts;
  }

  ui::ScriptedUi script;
  std::unique_ptr<Form1> form;
  std::string devices_, app_, home_;

 private:
  std::unique_ptr<ib::TempDir> tmp_;
  std::unique_ptr<ui::CurrentUiScope> use_;
  std::string savedCwd_;
};

// ------------------------------------------------------------ normal mode

TEST_F(StartupTest, NormalModeOpensTheFirstRecorderDiskOnItsDataFolder) {
  SmallImage().Write(Drive(1));
  ASSERT_EQ(Load(), std::nullopt);
  EXPECT_EQ(core::Flags & 0x0F, core::FlagNormal);

  // Left: the recorder disk, chosen, on \DataFiles\ with the list in front.
  ASSERT_EQ(form->Combo1[0]->count(), 1);
  EXPECT_EQ(form->Combo1[0]->currentIndex(), 0);
  EXPECT_TRUE(form->Combo1[0]->itemText(0).startsWith("Topfield Disk, Drive 1"));
  EXPECT_TRUE(form->Combo1[0]->itemText(0).endsWith("  [---unchecked---]"));
  EXPECT_EQ(core::DiskId[0], -1);
  EXPECT_EQ(form->TV1[0]->Text("\\"), "Topfield");
  EXPECT_EQ(form->TV1[0]->IconKey("\\"), "Topfield");
  EXPECT_TRUE(form->TV1[0]->Contains("\\DataFiles\\Sub\\"));
  EXPECT_EQ(form->TV1[0]->IconKey("\\DataFiles\\"), "ExplorerClosed");
  EXPECT_EQ(form->TV1[0]->SelectedIconKey("\\DataFiles\\"), "ExplorerOpen");
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\");
  EXPECT_EQ(Texts(0), (QStringList{"..", "Sub", "bare.rec", "good.rec"}));
  EXPECT_EQ(form->LV1[0]->IconKey(form->LV1[0]->KeyAt(3)), "Rec");
  EXPECT_EQ(form->LV1[0]->IconKey(form->LV1[0]->KeyAt(4)), "KeyG");
  EXPECT_TRUE(form->ListInFront(0));
  EXPECT_TRUE(form->Label1[0]->text().startsWith("0 file(s) = 0  B selected / "));
  EXPECT_EQ(form->Label2->text(), "V2.5.17");

  // Right: the PC drive that holds the stored destination, on that folder.
  EXPECT_GE(core::DiskId[1], 1);
  EXPECT_EQ(form->PathLabel(1), QString::fromStdString(home_ + "/Videos/"));
  EXPECT_EQ(core::CurrentFolder[1], home_ + "/Videos/");
  const QString root = Form1::PcDriveRoot(core::DiskId[1]);
  EXPECT_EQ(form->TV1[1]->Text(root), "PC " + root);
  EXPECT_EQ(form->TV1[1]->IconKey(root), "PC");
  EXPECT_TRUE(form->TV1[1]->Contains(QString::fromStdString(home_ + "/Videos/")));
  for (const QString& entry : Entries(1)) EXPECT_FALSE(entry.startsWith("Topfield"));

  // Menus for normal mode without write mode; ETA absolute by default.
  EXPECT_TRUE(form->Menu_View_AbsoluteETA->isChecked());
  EXPECT_FALSE(form->Menu_View_RelativeETA->isChecked());
  EXPECT_FALSE(form->Menu_View_ShowGB->isChecked());
  EXPECT_FALSE(form->Command1[1]->isHidden());
  EXPECT_TRUE(form->Command1[0]->isHidden());
  EXPECT_TRUE(script.Prompts().empty());
}

TEST_F(StartupTest, NoRecorderDiskShowsTheMessageAndEnds) {
  script.ExpectMsgBox(
      "i didn't find a Topfield PVR5000 hard drive.\r\n\r\n"
      "Is the HD visible in the device manager?\r\n"
      "Did you start Veldranoth/Write as administrator?",
      ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  const std::optional<int> ended = Load();
  ASSERT_TRUE(ended.has_value());
  EXPECT_NE(*ended, 0);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(script.Prompts().at(0).Title, "Quenbrix");
  // Nothing was saved on the way out.
  EXPECT_EQ(core::GetSetting("View", "WindowWidth"), "");
}

// As root, lets file permissions refuse this thread too (on false) or not.
bool PassFilePermissions(bool on) {
  __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  const uint32_t bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  if (geteuid() != 0 || syscall(SYS_capget, &head, data) != 0) return geteuid() != 0;
  data[0].effective = on ? data[0].effective | (data[0].permitted & bits) : data[0].effective & ~bits;
  return syscall(SYS_capset, &head, data) == 0;
}

// A drive that is no recorder disk; then also one that may not be opened and
// a loop of links: each is named, with its reason.
TEST_F(StartupTest, DrivesThatAreNoRecorderDisksOrCannotBeOpenedAreNamed) {
  const std::string foreign = " drives found (PhysicalDrive0) do not look like Topfield PVR5000 hard drives.\r\n"
                              "Is the HD connected? If it is damaged, start the program with /disaster: it offers every drive.";
  const std::string told[] = {"The" + foreign,
      "The disk PhysicalDrive1 (" + Drive(1) + ") could not be opened: Permission denied.\r\nThe disk PhysicalDrive2 could not "
      "be opened: Too many levels of symbolic links.\r\n\r\nStart the program as root, or add yourself to the disk group, and "
      "try again.\r\n\r\nThe other" + foreign};
  WriteBlank(Drive(0), 50ull << 20);   // a drive, but no recorder disk
  for (int row = 0; row < 2; ++row) {
    if (row == 1 && (SmallImage().Write(Drive(1)), chmod(Drive(1).c_str(), 0) ||
                     symlink(Drive(2).c_str(), Drive(2).c_str()) || !PassFilePermissions(false)))
      GTEST_SKIP() << "cannot take root's file access";
    script.ExpectMsgBox("i didn't find a Topfield PVR5000 hard drive.\r\n\r\n" + told[row], ui::Answer::OK,
                        ui::ScriptedUi::Match::Exact);
    EXPECT_TRUE(Load().has_value());
    PassFilePermissions(true);
    EXPECT_TRUE(script.AllAnswered()) << row;
    form.reset();
    testenv::CloseDisksAndReset();
  }
}

TEST_F(StartupTest, DeclinedDisclaimerLeavesWriteModeOff) {
  SmallImage().Write(Drive(1));
  core::SetSetting("View", "WriteMode", "1");
  script.ExpectMsgBox("Remember that YOU are responsible for your data.", ui::Answer::No);
  ASSERT_EQ(Load(), std::nullopt);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::Flags & core::FlagWriteMode, 0);
  EXPECT_EQ(core::GetSetting("View", "WriteModeDisclaimer"), "");
  // Without write mode the recorder disk is offered on the left only.
  for (const QString& entry : Entries(1)) EXPECT_FALSE(entry.startsWith("Topfield"));
  EXPECT_EQ(core::Flags & core::FlagSide0Writable, 0);
}

TEST_F(StartupTest, CommandLineSwitchesAreWholeWordsInAnyCase) {
  bool save = false, debug = false;
  int32_t flags = Form1::ApplyCommandLine("  /DISASTER   /FileMode /iodebugx /SaveSystemClusters ",
                                          1, save, debug);
  // Leading blanks give an empty first word, which matches nothing; the
  // rest is found whatever the spacing; "/iodebugx" is no switch.
  EXPECT_EQ(flags, 1 | 2 | 4);
  EXPECT_TRUE(save);
  EXPECT_FALSE(debug);
  save = false;
  flags = Form1::ApplyCommandLine("/DISASTER   /FileMode /iodebugx /SaveSystemClusters ", 1,
                                  save, debug);
  EXPECT_EQ(flags, 1 | 2 | 4);
  EXPECT_TRUE(save);
  EXPECT_FALSE(debug);
  flags = Form1::ApplyCommandLine("/iodebug", 1, save, debug);
  EXPECT_TRUE(debug);
}

// ----------------------------------------------------------- disaster mode

// Chooses drive `n` in the source-disk dialog once it is up; records the
// dialog's entries.
void ChooseInForm6(int n, QStringList* entries) {
  QTimer::singleShot(0, [n, entries] {
    auto* dialog = qobject_cast<mainwindow::Form6*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    for (int i = 0; i < dialog->List1->count(); ++i) {
      entries->append(dialog->List1->item(i)->text().replace(QRegularExpression("\\s+"), " "));
      if (dialog->List1->item(i)->data(Qt::UserRole).toInt() == n) dialog->List1->setCurrentRow(i);
    }
    if (n < 0) {
      dialog->reject();
      return;
    }
    dialog->List1_DblClick();
  });
}

TEST_F(StartupTest, DisasterModeOffersEveryDriveAndLoadsOnlyTheChosenOne) {
  SmallImage().Write(Drive(1));
  WriteBlank(Drive(0), 80ull << 20);
  WriteBlank(Drive(3), 3ull << 30);   // probed last, larger: its geometry must not be used
  core::SetSetting("View", "WriteMode", "1");   // disaster mode switches it off, no disclaimer
  script.SetRunUnexpectedModals(true);
  QStringList entries;
  ChooseInForm6(1, &entries);
  ASSERT_EQ(Load("/disaster"), std::nullopt);

  ASSERT_EQ(entries.size(), 3);
  EXPECT_TRUE(entries[0].startsWith("Disk 0: 78.4 MB")) << entries[0].toStdString();
  EXPECT_FALSE(entries[0].contains("TF disk"));
  EXPECT_TRUE(entries[1].startsWith("Disk 1: ")) << entries[1].toStdString();
  EXPECT_TRUE(entries[1].endsWith(" (this seems to be a TF disk)"));
  EXPECT_TRUE(entries[2].startsWith("Disk 3: ")) << entries[2].toStdString();

  EXPECT_EQ(core::Flags & 0x0F, core::FlagDisasterMode);
  EXPECT_EQ(Entries(0), QStringList{"Topfield: Disaster Mode"});
  EXPECT_EQ(form->Combo1[0]->currentIndex(), 0);
  EXPECT_EQ(core::DiskId[0], -1);
  EXPECT_EQ(form->TV1[0]->Keys(), QStringList{"\\"});
  EXPECT_EQ(form->TV1[0]->Text("\\"), "Topfield (Disaster Mode)");
  EXPECT_EQ(form->TV1[0]->IconKey("\\"), "Disaster");
  EXPECT_EQ(form->LV1[0]->ItemCount(), 0);
  // LastCluster from drive 1's own geometry.
  const ib::DiskImage img = SmallImage();
  const double sectors = double(ib::CylindersOf(img.SizeBytes())) * 16065.0;
  EXPECT_EQ(core::Disk[0].SectorsPerCluster, 2068);
  EXPECT_EQ(core::Disk[0].LastCluster, static_cast<int32_t>(std::nearbyint(sectors / 2068)));
  EXPECT_EQ(core::Disk[0].CrcId.size(), 8u);
  for (const auto& prompt : script.Prompts())
    EXPECT_NE(prompt.Kind, ui::PromptKind::MsgBox) << prompt.Text;
}

TEST_F(StartupTest, DisasterModeEndsWhenTheDialogIsClosedOrTheDriveCannotBeOpened) {
  SmallImage().Write(Drive(1));
  script.SetRunUnexpectedModals(true);
  QStringList entries;
  ChooseInForm6(-1, &entries);
  EXPECT_EQ(Load("/disaster"), std::optional<int>(0));
  EXPECT_EQ(entries.size(), 1);

  // A drive that went away between the list and the choice.
  form.reset();
  core::ResetState();
  entries.clear();
  QTimer::singleShot(0, [this] {
    auto* dialog = qobject_cast<mainwindow::Form6*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    dialog->List1->setCurrentRow(0);
    dialog->List1_Click();
    unlink(Drive(1).c_str());
    dialog->Command1_Click();
  });
  script.ExpectMsgBox("Unable to initialze the selected disk! Bailing out!", ui::Answer::OK,
                      ui::ScriptedUi::Match::Exact);
  const std::optional<int> ended = Load("/disaster");
  ASSERT_TRUE(ended.has_value());
  EXPECT_NE(*ended, 0);
  EXPECT_TRUE(script.AllAnswered());
}

// --------------------------------------------------------------- file mode

TEST_F(StartupTest, FileModeWinsOverDisasterAndShowsTheDump) {
  const std::string base = app_ + "/dump";
  SmallImage().WriteDump(base);
  SmallImage().Write(Drive(1));   // not probed in file mode
  script.ExpectFile(base + ".scc");
  ASSERT_EQ(Load("/disaster /FILEMODE"), std::nullopt);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(script.Prompts().at(0).Text, "Topfield System Cluster (*.scc)|*.scc|All files|*.*");
  EXPECT_EQ(core::Flags & 0x0F, core::FlagFileMode);
  EXPECT_EQ(Entries(0), QStringList{QString::fromStdString("FileMode: " + base + ".scc")});
  EXPECT_EQ(core::Disk[0].Name, base);
  EXPECT_EQ(form->TV1[0]->Text("\\"), "FileMode");
  EXPECT_EQ(form->TV1[0]->IconKey("\\"), "Files");
  EXPECT_EQ(form->PathLabel(0), "\\DataFiles\\");
  EXPECT_EQ(Texts(0), (QStringList{"..", "Sub", "bare.rec", "good.rec"}));
  // No "Rec" icon in file mode.
  EXPECT_EQ(form->LV1[0]->IconKey(form->LV1[0]->KeyAt(3)), "");
}

TEST_F(StartupTest, FileModeEndsWhenTheDialogIsCancelled) {
  script.ExpectFile("");
  EXPECT_EQ(Load("/filemode"), std::optional<int>(0));
}

// ---------------------------------------------------- settings and placement

TEST_F(StartupTest, SettingsAndPlacementRoundTripThroughTheSettingsFile) {
  SmallImage().Write(Drive(1));
  ASSERT_EQ(Load(), std::nullopt);
  form->move(20, 10);
  form->resize(700, 500);
  form->LV1[0]->setColumnWidth(0, 300);
  form->LV1[1]->setColumnWidth(4, 90);
  const int sizeColumn = form->LV1[0]->columnWidth(1);   // at least 1100 twips
  form->close();
  EXPECT_EQ(core::Disk[0].Handle, 0);   // both handles closed
  EXPECT_EQ(core::GetSetting("View", "WindowState"), "0");
  EXPECT_EQ(core::GetSetting("View", "WindowLeft"), "300");
  EXPECT_EQ(core::GetSetting("View", "WindowTop"), "150");
  EXPECT_EQ(core::GetSetting("View", "WindowWidth"), "10620");
  EXPECT_EQ(core::GetSetting("View", "WindowHeight"), "7965");
  EXPECT_EQ(core::GetSetting("View", "LCol01Width "), "4500");
  EXPECT_EQ(core::GetSetting("View", "LCol02Width "), std::to_string(sizeColumn * 15));
  EXPECT_GE(sizeColumn * 15, 1095);   // 1100 twips = 73 px
  EXPECT_EQ(core::GetSetting("View", "RCol05Width "), "1350");
  {
    std::ifstream ini(app_ + "/Quenbrix.ini");
    const std::string all((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("LCol01Width =4500"), std::string::npos);   // the key ends with a blank
  }

  form.reset();
  core::ResetState();
  ASSERT_EQ(Load(), std::nullopt);
  EXPECT_EQ(form->pos(), QPoint(20, 10));
  EXPECT_EQ(form->size(), QSize(700, 500));
  EXPECT_EQ(form->LV1[0]->columnWidth(0), 300);
  EXPECT_EQ(form->LV1[1]->columnWidth(4), 90);

  // Maximised: the next start maximises and ignores the stored placement.
  core::SetSetting("View", "WindowState", "2");
  form.reset();
  core::ResetState();
  ASSERT_EQ(Load(), std::nullopt);
  EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
}

// Shown and closed again and again, the window keeps the place and size it
// was saved with, and each run takes its single-instance socket with it.
TEST_F(StartupTest, WindowComesBackAtItsSavedPlaceAndSizeEveryStart) {
  SmallImage().Write(Drive(1));
  const std::pair<const char*, const char*> saved[] = {
      {"WindowState", "0"}, {"WindowLeft", "300"}, {"WindowTop", "150"},
      {"WindowWidth", "10620"}, {"WindowHeight", "7965"}};
  for (const auto& [key, value] : saved) core::SetSetting("View", key, value);
  const std::string socket = Form1::InstanceName().toStdString();
  for (int run = 0; run < 5; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(Load(), std::nullopt);
    form->show();
    EXPECT_EQ(form->pos(), QPoint(20, 10));
    EXPECT_EQ(form->size(), QSize(700, 500));
    EXPECT_EQ(access(socket.c_str(), F_OK), 0);
    form->close();
    for (const auto& [key, value] : saved) EXPECT_EQ(core::GetSetting("View", key), value) << key;
    EXPECT_NE(access(socket.c_str(), F_OK), 0);
    form.reset();
    core::ResetState();
  }
}

// Whatever the rows hold (left, top, width, height; state, ETA, sort; column widths)
// the window comes up whole on a screen at a usable size, saves that, and lists keep defaults.
TEST_F(StartupTest, PlacementAndListSettingsOutOfRangeGiveAWindowOnAScreen) {
  SmallImage().Write(Drive(1));
  const char* const rows[][6] = {
      {"-300000", "-300000", "10620", "7965", "1e12", "1e12"},   // far off
      {"900000", "900000", "10620", "7965", "1e11", "1e11"},     // a monitor since removed
      {"1e11", "1e12", "1e12", "1e11", "-1e11", "-1e300"},
      {"-1e300", "1e300", "-5000", "99999999", "&HFFFFFFFFFFFFFFFFFFFF", "99999999"},
      {"abc", "&HFFFFFFFFFFFFFFFFFFFF", "135", "12abc", "x", "&HFFFFFFFFFFFFFFFFFFFF"},  // 9 px
  };
  const char* const keys[] = {"WindowLeft", "WindowTop", "WindowWidth", "WindowHeight", "WindowState",
                              "RelativeETA", "SortColumn0", "SortOrder1", "LCol01Width ", "RCol05Width "};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row[0]) + " " + row[2] + " " + row[3] + " " + row[4]);
    for (int k = 0; k < 10; ++k) core::SetSetting("View", keys[k], row[std::min(k, 4 + k / 8)]);
    ASSERT_EQ(Load(), std::nullopt);
    form->show();
    const QRect frame(form->pos(), form->size() + QSize(Form1::kFrameWidth, Form1::kFrameHeight));
    const QRect area = form->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(frame) && !form->isMaximized());
    EXPECT_GE(frame.width(), std::min(Form1::kMinUsableWidth / 15, area.width()));
    EXPECT_GE(frame.height(), std::min(Form1::kDesignHeight / 30, area.height()));
    EXPECT_LE(form->LV1[1]->columnWidth(4), area.width());
    EXPECT_TRUE(form->Menu_View_AbsoluteETA->isChecked() &&
                mainwindow::SortColumn[0] + mainwindow::SortOrder[1] == 0);
    form->close();
    EXPECT_EQ(core::GetSetting("View", "WindowHeight"), std::to_string(frame.height() * 15));
    form.reset();
    core::ResetState();
  }
}

TEST_F(StartupTest, OldSettingsFileIsMigratedOnceAndBooleansNeedExactlyOne) {
  SmallImage().Write(Drive(1));
  unlink((app_ + "/Quenbrix.ini").c_str());
  {
    std::ofstream old(app_ + "/Veldranoth.ini");
    old << "[View]\r\nShowGB=1\r\nIgnoreRec=01\r\nExtras=1\r\nRelativeETA=1\r\n"
           "SortColumn0=5\r\nSortOrder0=7\r\nSortOrder1=1\r\n"
           "[Copy]\r\nDestination=" << home_ << "/\r\n";
  }
  ASSERT_EQ(Load(), std::nullopt);
  EXPECT_EQ(access((app_ + "/Quenbrix.ini").c_str(), F_OK), 0);
  EXPECT_EQ(access((app_ + "/Veldranoth.ini").c_str(), F_OK), 0);
  EXPECT_TRUE(core::ShowGB);
  EXPECT_TRUE(form->Menu_View_ShowGB->isChecked());
  EXPECT_FALSE(mainwindow::IgnoreRec);
  EXPECT_TRUE(mainwindow::Extras);
  EXPECT_EQ(form->LV1[0]->ColumnCount(), 6);
  EXPECT_EQ(form->LV1[0]->ColumnCaption(5), "First Cluster");
  EXPECT_TRUE(form->Menu_View_RelativeETA->isChecked());
  EXPECT_FALSE(form->Menu_View_AbsoluteETA->isChecked());
  // Sort column 5 exists with Extras; a sort order of 7 reads as descending.
  EXPECT_EQ(mainwindow::SortColumn[0], 5);
  EXPECT_EQ(mainwindow::SortOrder[0], 1);
  EXPECT_EQ(form->LV1[0]->ColumnIconKey(5), "SortDesc");
  EXPECT_EQ(form->LV1[1]->ColumnIconKey(0), "SortDesc");
  EXPECT_EQ(form->PathLabel(1), QString::fromStdString(home_ + "/"));

  // The new file exists now: a changed old file is not copied again.
  form.reset();
  core::ResetState();
  {
    std::ofstream old(app_ + "/Veldranoth.ini");
    old << "[View]\r\nShowGB=0\r\n";
  }
  ASSERT_EQ(Load(), std::nullopt);
  EXPECT_TRUE(core::ShowGB);
}

// -------------------------------------------------------- single instance

TEST_F(StartupTest, SecondInstanceActivatesTheFirstAndEnds) {
  Form1::SetInstanceName(QString::fromStdString("qform1-first-" + std::to_string(getpid())));
  const QString name = Form1::InstanceName();
  QLocalServer first;
  QLocalServer::removeServer(name);
  ASSERT_TRUE(first.listen(name));
  EXPECT_EQ(Load(), std::optional<int>(0));
  EXPECT_EQ(form->windowTitle(), "%&irgendwas");
  EXPECT_TRUE(first.waitForNewConnection(2000));
}

// The user nobody listening on `path` until killed (async-signal-safe calls).
pid_t NobodyListens(const std::string& path) {
  sockaddr_un address{AF_UNIX, {}};
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const pid_t pid = fork();
  if (pid == 0) {
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    if (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 &&
        bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(s, 4) == 0)
      pause();
    _exit(2);
  }
  for (int n = 0; n < 5000 && access(path.c_str(), F_OK) != 0; ++n) usleep(1000);
  return pid;
}

// Another user holding the guard's name (shared folder, planted folder, link or
// runtime folder) never ends the run; the guard lives only in a folder of its own.
TEST_F(StartupTest, TheGuardNameHeldByAnotherUserNeverEndsTheRun) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  SmallImage().Write(Drive(1));
  const std::string leaf = "/held-" + std::to_string(getpid()), own = "/quenbrix-0";
  Form1::SetInstanceName(QString::fromStdString(leaf.substr(1)));
  // The planted folder, a link to it, XDG_RUNTIME_DIR, the folder's owner and mode.
  struct { std::string Folder, Link, Runtime; uid_t Owner; mode_t Mode; bool Guarded; } const rows[] = {
      {"", "", "", 0, 0, true}, {own, "", "", 65534, 0700, false},   // first: the shared folder
      {"/mine", own, "", 65534, 0700, false},
      {own, "", "", 0, 0777, false}, {"/run", "", "/run", 65534, 0700, true}};
  ib::TempDir shared("qheld");
  chmod(shared.Path().c_str(), 0755);
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    const std::string tmp = shared / std::to_string(i), folder = tmp + rows[i].Folder;
    if (mkdir(tmp.c_str(), 0) || chmod(tmp.c_str(), 01777) ||   // as /tmp is
        (folder != tmp && (mkdir(folder.c_str(), 0) || chmod(folder.c_str(), rows[i].Mode) ||
                           chown(folder.c_str(), rows[i].Owner, 0))) ||
        (!rows[i].Link.empty() && symlink(folder.c_str(), (tmp + rows[i].Link).c_str())))
      FAIL() << folder;
    setenv("TMPDIR", tmp.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (tmp + rows[i].Runtime).c_str(), 1);
    const pid_t other = NobodyListens(folder + leaf);
    EXPECT_EQ(Load(), std::nullopt);
    const std::string name = Form1::InstanceName().toStdString();
    EXPECT_EQ(name, rows[i].Guarded ? tmp + own + leaf : "");
    EXPECT_EQ(access(name.c_str(), F_OK), rows[i].Guarded ? 0 : -1);   // the guard listens there
    EXPECT_EQ(waitpid(other, nullptr, WNOHANG), 0);   // the other user listened all along
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
    form.reset();
    core::ResetState();
  }
  unsetenv("TMPDIR");
  unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(StartupTest, FirstInstanceIsBroughtForwardBySecond) {
  SmallImage().Write(Drive(1));
  ASSERT_EQ(Load(), std::nullopt);
  form->showMinimized();
  QLocalSocket second;
  second.connectToServer(Form1::InstanceName());
  ASSERT_TRUE(second.waitForConnected(2000));
  second.write("activate\n");
  second.flush();
  for (int i = 0; i < 50 && form->isMinimized(); ++i) QApplication::processEvents();
  EXPECT_FALSE(form->isMinimized());
}

// ----------------------------------------------------------- wait window

TEST_F(StartupTest, NoUserInputReachesTheWindowWhileTheWaitWindowIsUp) {
  SmallImage().Write(Drive(1));
  ASSERT_EQ(Load(), std::nullopt);
  QWidget* viewport = form->LV1[0]->viewport();
  const QPointF at(5, 5);
  auto rightPress = [&] {
    QMouseEvent press(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
  };
  mainwindow::PopupPending = false;
  ui::Current().ShowWait("Loading Topfield Disk 1. Please stand by.");
  EXPECT_TRUE(mainwindow::WaitWindowUp());
  rightPress();
  EXPECT_FALSE(mainwindow::PopupPending);
  ui::Current().HideWait();
  rightPress();
  EXPECT_TRUE(mainwindow::PopupPending);
}

}  // namespace
