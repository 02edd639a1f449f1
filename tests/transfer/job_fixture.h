// Set-up of the job tests: the file-layer fixture plus a fake main window
// (JobHost) whose panes list the entries of the folder each side shows, a
// fake clock, a recording power handler and the offscreen QApplication.
#pragma once

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <set>

#include "core/power.h"
#include "platform/platform.h"
#include "tests/mainwindow/test_app.h"
#include "tests/transfer/transfer_fixture.h"
#include "transfer/progress_window.h"
#include "transfer/countdown_window.h"
#include "transfer/job_host.h"
#include "transfer/job_state.h"
#include "transfer/jobs.h"

namespace jobtest {

struct FakeItem {
  std::string Key;
  std::string Name;   // the entry's full name
  bool Checked = false;
  bool Bold = false;
  std::string Icon;
};

class FakeHost : public transfer::JobHost {
 public:
  std::string Label[2];
  std::vector<FakeItem> List[2];
  int Selected[2] = {0, 0};   // 1-based, 0 none
  int DisableCount = 0, EnableCount = 0;
  int DirListCount[2] = {0, 0}, FileListCount[2] = {0, 0};
  bool Absolute = true;
  bool MenusOff = false;
  std::vector<bool> RunningWhenDisabled;

  // Fills pane `side` from the entries directly inside its folder.
  void Fill(int side) {
    List[side].clear();
    const core::DiskRec& d = core::Disk[side];
    const char sep = core::IsPCSide(side) ? '/' : '\\';
    for (int i = 0; i < d.FileCount; ++i) {
      const core::FileRec& r = d.Files[size_t(i)];
      if (r.Name == core::kErasedName || r.Name.size() <= Label[side].size()) continue;
      if (r.Name.compare(0, Label[side].size(), Label[side]) != 0) continue;
      if (r.Name.find(sep, Label[side].size()) != std::string::npos) continue;
      char key[16];
      std::snprintf(key, sizeof key, "%c%06d", r.IsDir ? 'D' : 'i', i);
      List[side].push_back({key, r.Name, false, false, ""});
    }
  }
  int ItemOf(int side, const std::string& name) const {
    for (size_t k = 0; k < List[side].size(); ++k)
      if (List[side][k].Name == name) return int(k) + 1;
    return 0;
  }
  void Check(int side, const std::string& name, bool on = true) {
    const int item = ItemOf(side, name);
    ASSERT_GT(item, 0) << name;
    List[side][size_t(item) - 1].Checked = on;
  }
  FakeItem& Item(int side, const std::string& name) {
    return List[side][size_t(ItemOf(side, name)) - 1];
  }

  int ItemCount(int side) override { return int(List[side].size()); }
  transfer::PaneItems Items(int side) override {
    transfer::PaneItems out;
    for (const FakeItem& it : List[side]) out.push_back({it.Key, it.Checked});
    return out;
  }
  int CountSelected(int side) override {
    return int(std::count_if(List[side].begin(), List[side].end(),
                             [](const FakeItem& i) { return i.Checked; }));
  }
  void CheckSelectedItem(int side) override {
    if (Selected[side] >= 1 && size_t(Selected[side]) <= List[side].size())
      List[side][size_t(Selected[side]) - 1].Checked = true;
  }
  void SetItemBold(int side, int item, bool bold) override {
    if (item >= 1 && size_t(item) <= List[side].size()) List[side][size_t(item) - 1].Bold = bold;
  }
  void SetItemChecked(int side, int item, bool checked) override {
    if (item >= 1 && size_t(item) <= List[side].size()) List[side][size_t(item) - 1].Checked = checked;
  }
  void SetItemIcon(int side, int item, const std::string& icon) override {
    if (item >= 1 && size_t(item) <= List[side].size()) List[side][size_t(item) - 1].Icon = icon;
  }
  std::string PathLabel(int side) override { return Label[side]; }
  void DisableMenus() override {
    ++DisableCount;
    MenusOff = true;
  }
  void EnableMenus() override {
    ++EnableCount;
    MenusOff = false;
  }
  void ShowDirList(int side) override { ++DirListCount[side]; }
  void ShowFileList(int side) override {
    ++FileListCount[side];
    Fill(side);
  }
  void ResetSummary(int) override {}
  bool AbsoluteETA() override { return Absolute; }
};

// Equal byte strings, or where they first differ (no dump of megabytes).
inline ::testing::AssertionResult SameBytes(const std::string& a, const std::string& b) {
  if (a == b) return ::testing::AssertionSuccess();
  size_t k = 0;
  while (k < a.size() && k < b.size() && a[k] == b[k]) ++k;
  return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size()
                                       << ", first difference at byte " << k;
}

class JobTest : public transfertest::TransferTest {
 protected:
  void SetUp() override {
    TestApp();
    TransferTest::SetUp();
    transfer::ResetJobState();
    previousHost_ = transfer::SetJobHost(&host);
    transfer::SetJobClock([this] { return clock_ += 1.0 / 86400.0; });
    transfer::SetVolumeLimitCheck([](const std::string&) { return false; });
    transfer::SetCountdownTickInterval(0);
    platform::SetPowerHandler([this](platform::PowerAction a) {
      powered.push_back(a);
      return true;
    });
    core::SetProgressColorHook(nullptr);
  }
  void TearDown() override {
    transfer::UnloadProgressWindow();
    transfer::UnloadCountdownWindow();
    platform::SetPowerHandler(
        [](platform::PowerAction) { return false; });   // never the real one in a test
    transfer::SetJobHost(previousHost_);
    transfer::ResetJobState();
    transfer::SetCountdownTickInterval(10);
    TransferTest::TearDown();
  }

  // A recorder side showing `folder`.
  void ShowRecorder(const imagebuilder::DiskImage& model, int side, int n,
                    const std::string& folder = "\\DataFiles\\") {
    model.Write(DrivePath(n));
    ShowDrive(side, n, folder);
  }
  // A recorder side showing `folder` of drive n as the disk holds it now.
  void ShowDrive(int side, int n, const std::string& folder) {
    core::DiskId[side] = -n;
    ASSERT_TRUE(core::InitTopf(side, "PhysicalDrive" + std::to_string(n), true));
    ASSERT_TRUE(core::LoadTopf(side, true));
    host.Label[side] = folder;
    host.Fill(side);
  }
  // Both sides show drive n: side 0 `left`, side 1 `right`.
  void ShowSameRecorder(const imagebuilder::DiskImage& model, int n, const std::string& left,
                        const std::string& right) {
    LoadRecorder(model, 0, n);
    core::DiskId[1] = -n;
    ASSERT_TRUE(core::InitTopf(1, "PhysicalDrive" + std::to_string(n), true));
    core::LoadTopf(1, false);   // takes a copy of side 0's record
    ASSERT_EQ(core::Disk[1].FileCount, core::Disk[0].FileCount);
    host.Label[0] = left;
    host.Label[1] = right;
    host.Fill(0);
    host.Fill(1);
  }
  void ShowPc(int side, const std::string& sub = "") {
    LoadPc(side, sub);
    host.Label[side] = Pc() + sub;
    host.Fill(side);
  }

  FakeHost host;
  std::vector<platform::PowerAction> powered;
  double clock_ = 40000.0;   // a date value; every reading advances it by a second

 private:
  transfer::JobHost* previousHost_ = nullptr;
};

}  // namespace jobtest
