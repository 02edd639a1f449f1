// Shared set-up of the main-window tests on the panes: a temporary program
// folder, a device folder (QUENBRIX_DEVICES) with builder images, a PC folder
// that is the current folder, the scripted Ui, and a Form1 whose lists and
// trees are set up but whose start-up did not run: each test fills the
// choosers itself and selects entries as start-up or a user would.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/iodebug.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "mainwindow/form1.h"
#include "mainwindow/jobs.h"
#include "tests/mainwindow/test_app.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "ui/scripted_ui.h"

namespace form1test {

namespace ib = imagebuilder;
using mainwindow::Form1;

constexpr uint64_t kClusterBytes = 2068ull * 512;

// What the window handed to the jobs.
struct JobCall {
  std::string Kind;   // "copy", "erase", "scan"
  int Side = 0;
  bool Move = false;
  bool operator==(const JobCall& o) const {
    return Kind == o.Kind && Side == o.Side && Move == o.Move;
  }
};
inline std::vector<JobCall>& JobCalls() {
  static std::vector<JobCall> calls;
  return calls;
}
inline void PrintTo(const JobCall& c, std::ostream* os) {
  *os << c.Kind << "(" << c.Side << (c.Move ? ", move" : "") << ")";
}

// A recorder disk with \DataFiles\ holding a recording with a header, one
// without, a radio recording, a scrambled recording and a folder Sub with a
// file in it.
inline ib::DiskImage StandardImage(bool standardFolders = true) {
  ib::ImageSpec spec;
  spec.SectorsPerCluster = 2068;
  spec.LastCluster = 60;
  spec.StandardFolders = standardFolders;
  ib::DiskImage img(spec);
  if (!standardFolders) return img;
  img.AddFolder("\\DataFiles\\Sub");
  ib::FileSpec good;
  good.Path = "\\DataFiles\\good.rec";
  good.Header = ib::RecHeader{};
  good.Size = 8192;
  img.AddFile(good);
  ib::FileSpec bare;
  bare.Path = "\\DataFiles\\bare.rec";
  bare.Size = 4096;
  img.AddFile(bare);
  ib::FileSpec radio;
  radio.Path = "\\DataFiles\\radio.rec";
  radio.Header = ib::RecHeader{};
  radio.Header->ServiceType = 1;
  radio.Size = 8192;
  img.AddFile(radio);
  ib::FileSpec crypt;
  crypt.Path = "\\DataFiles\\crypt.rec";
  crypt.Header = ib::RecHeader{};
  crypt.Header->CryptValue = 1;
  crypt.CryptFlags = 4;
  crypt.CryptValue = 1;
  crypt.Size = 8192;
  img.AddFile(crypt);
  ib::FileSpec inner;
  inner.Path = "\\DataFiles\\Sub\\inner.ts";
  inner.Size = 1000;
  img.AddFile(inner);
  return img;
}

class PaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    tmp_ = std::make_unique<ib::TempDir>("qform1b");
    devices_ = *tmp_ / "devices";
    pc_ = *tmp_ / "pc";
    app_ = *tmp_ / "app";
    mkdir(devices_.c_str(), 0755);
    mkdir(pc_.c_str(), 0755);
    mkdir(app_.c_str(), 0755);
    testenv::UseFolders(app_, devices_);
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) savedCwd_ = cwd;
    if (chdir(pc_.c_str()) != 0) FAIL() << "cannot enter " << pc_;
    mainwindow::ResetWindowState();
    use_ = std::make_unique<ui::CurrentUiScope>(script);
    JobCalls().clear();
    savedJobs_ = mainwindow::Jobs();
    mainwindow::Jobs().Copy = [](int side, bool move) {
      JobCalls().push_back({"copy", side, move});
    };
    mainwindow::Jobs().Erase = [](int side) { JobCalls().push_back({"erase", side, false}); };
    mainwindow::Jobs().Scan = [](int side) { JobCalls().push_back({"scan", side, false}); };
    core::Flags = core::FlagNormal;
    form = std::make_unique<Form1>();
    form->SetupLV();
    form->SetupTV();
  }

  void TearDown() override {
    form.reset();
    testenv::CloseDisksAndReset();
    mainwindow::ResetWindowState();
    mainwindow::Jobs() = savedJobs_;
    use_.reset();
    if (!savedCwd_.empty() && chdir(savedCwd_.c_str()) != 0) ADD_FAILURE() << "cwd";
    unsetenv("QUENBRIX_DEVICES");
    core::SetAppDir("");
  }

  // ------------------------------------------------------------ set-up steps
  std::string DrivePath(int n) const { return devices_ + "/PhysicalDrive" + std::to_string(n); }
  void WriteDrive(const ib::DiskImage& image, int n = 1) { image.Write(DrivePath(n)); }
  // The PC drive that holds the PC folder.
  int PcDriveId() const { return core::DriveIdOf(pc_); }
  // The PC folder as the pane shows it (trailing "/").
  QString PcFolder() const { return QString::fromStdString(pc_ + "/"); }

  // Adds recorder drive n to a chooser; returns the entry index.
  int AddRecorder(int side, int n) {
    form->AddChooserEntry(side, "Topfield Disk, Drive " + QString::number(n), -n);
    return form->Combo1[side]->count() - 1;
  }
  int AddPc(int side) {
    form->AddChooserEntry(side, QString::fromStdString(core::DriveRoot(PcDriveId())) + "  [pc]",
                          PcDriveId());
    return form->Combo1[side]->count() - 1;
  }
  void Choose(int side, int index) { form->SelectChooserEntry(side, index); }

  // Left: recorder drive 1 (standard image), right: the PC folder.
  void StandardPanes(const ib::DiskImage& image = StandardImage()) {
    WriteDrive(image, 1);
    ib::WriteWholeFile(pc_ + "/film.ts", std::string(3000, 'x'));
    mkdir((pc_ + "/Folder").c_str(), 0755);
    core::SetSetting("Copy", "Destination", pc_ + "/");
    Choose(0, AddRecorder(0, 1));
    Choose(1, AddPc(1));
  }

  // ----------------------------------------------------------------- lookups
  // The key of the item of a list showing `text`; "" when there is none.
  QString KeyOf(int side, const QString& text) const {
    for (const QString& key : form->LV1[side]->Keys())
      if (form->LV1[side]->Text(key) == text) return key;
    return QString();
  }
  QStringList Texts(int side) const {
    QStringList texts;
    for (const QString& key : form->LV1[side]->Keys()) texts << form->LV1[side]->Text(key);
    return texts;
  }
  // Gives the list of a side the keyboard focus as a click would.
  void FocusList(int side) {
    form->show();
    form->activateWindow();
    form->TabStrip1[side]->setCurrentIndex(0);   // the list in front
    form->LV1[side]->setFocus();
    QApplication::processEvents();
    form->LV1_GotFocus(side);
  }
  static bool Shown(const QWidget* w) { return !w->isHidden(); }
  static int32_t& Flags() { return core::Flags; }

  ui::ScriptedUi script;
  std::unique_ptr<Form1> form;
  std::string devices_, pc_, app_;

 private:
  std::unique_ptr<ib::TempDir> tmp_;
  std::unique_ptr<ui::CurrentUiScope> use_;
  mainwindow::JobTable savedJobs_;
  std::string savedCwd_;
};

}  // namespace form1test
