// The main window as the jobs see it (transfer::JobHost), and the entry
// points of the jobs that the window's commands call (jobs.h).
#include <QAction>
#include <QString>

#include "core/disk_model.h"
#include "mainwindow/form1.h"
#include "mainwindow/jobs.h"
#include "transfer/job_host.h"
#include "transfer/progress_window.h"
#include "transfer/job_state.h"
#include "transfer/jobs.h"
#include "ui/runs.h"

namespace mainwindow {

namespace {

class Form1JobHost : public transfer::JobHost {
 public:
  int ItemCount(int side) override { return Form() ? List(side)->ItemCount() : 0; }

  transfer::PaneItems Items(int side) override {
    transfer::PaneItems items;
    if (!Form()) return items;
    ListView* lv = List(side);
    const QStringList keys = lv->Keys();
    items.reserve(size_t(keys.size()));
    for (const QString& key : keys) items.push_back({key.toStdString(), lv->Checked(key)});
    return items;
  }

  int CountSelected(int side) override { return Form() ? Form()->CountSelected(side) : 0; }

  void CheckSelectedItem(int side) override {
    if (!Form()) return;
    const QString key = List(side)->SelectedKey();
    if (!key.isEmpty()) List(side)->SetChecked(key, true);
  }

  void SetItemBold(int side, int item, bool bold) override {
    const QString key = KeyAt(side, item);
    if (!key.isEmpty()) List(side)->SetBold(key, bold);
  }
  void SetItemChecked(int side, int item, bool checked) override {
    const QString key = KeyAt(side, item);
    if (!key.isEmpty()) List(side)->SetChecked(key, checked);
  }
  void SetItemIcon(int side, int item, const std::string& iconKey) override {
    const QString key = KeyAt(side, item);
    if (!key.isEmpty()) List(side)->SetIconKey(key, QString::fromStdString(iconKey));
  }

  std::string PathLabel(int side) override {
    if (!Form()) return std::string();
    const QString label = Form()->PathLabel(side);
    return core::IsPCSide(side) ? KeyToPc(label) : DisplayToRecorder(label);
  }

  void DisableMenus() override {
    if (Form()) Form()->DisableMenus();
  }
  void EnableMenus() override {
    if (Form()) Form()->EnableMenus();
  }

  // The tree is rebuilt with the pane's folder selected again.
  void ShowDirList(int side) override {
    if (!Form()) return;
    const QString path = Form()->PathLabel(side);
    Form()->ShowDirList(side);
    if (!path.isEmpty()) Form()->SelectDirectory(side, path);
  }
  void ShowFileList(int side) override {
    if (Form()) Form()->ShowFileList(side);
  }
  void ResetSummary(int side) override {
    if (Form()) Form()->ResetSummary(side);
  }

  bool AbsoluteETA() override {
    return Form() && Form()->Menu_View_AbsoluteETA && Form()->Menu_View_AbsoluteETA->isChecked();
  }

 private:
  static Form1* Form() { return MainForm(); }
  static ListView* List(int side) { return Form()->LV1[side == 1 ? 1 : 0]; }
  static QString KeyAt(int side, int item) { return Form() ? List(side)->KeyAt(item) : QString(); }
};

// Registers the window with the jobs for the duration of one job.
class HostScope {
 public:
  HostScope() : previous_(transfer::SetJobHost(&host_)) {}
  ~HostScope() { transfer::SetJobHost(previous_); }

 private:
  Form1JobHost host_;
  transfer::JobHost* previous_;
};

}  // namespace

// A close of the main window during a job puts the progress window's cancel
// question; the program ends once the job has unwound. Before the job runs
// (its opening question) and after it (its closing report) there is nothing
// to ask: it stops outright.
namespace {
bool StopJob() {
  if (!transfer::JobRunning) {
    transfer::CancelState = 2;
    return true;
  }
  transfer::CheckCancelCopy();
  return transfer::CancelState != 0;
}
}  // namespace

void DoCopy(int side, bool move) {
  const auto run = ui::TryStartRun(StopJob);
  if (!run) return;
  HostScope scope;
  transfer::DoCopy(side, move);
}

void DoErase(int side) {
  const auto run = ui::TryStartRun(StopJob);
  if (!run) return;
  HostScope scope;
  transfer::DoErase(side);
}

void DoScan(int side) {
  const auto run = ui::TryStartRun(StopJob);
  if (!run) return;
  HostScope scope;
  transfer::DoScan(side);
}

}  // namespace mainwindow
