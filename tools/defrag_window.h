// The defragmenter window (Form3): the cluster map and the fragmentation
// report of the left pane's disk on two pages, the buttons that start and
// cancel a defragmentation run or a free-space clearing, the process
// priority and the action after the job. While it is open the main window
// is minimised and its controls are disabled.
#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>

#include "ui/runs.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QTabBar;

namespace mainwindow {
class ListView;
}

namespace tools {

class ClusterMap;

constexpr const char* kForm3Caption = "Topfield Zyphonel - Defragment Disk";
constexpr const char* kClearingCaption = "Topfield Zyph - Clearing unused space";
constexpr const char* kAfterClearingCaption = "Topfield Zyph - Defragment Disk";

class Form3 : public QWidget {
  Q_OBJECT

 public:
  explicit Form3(QWidget* parent = nullptr);
  ~Form3() override;

  // ------------------------------------------------------------- controls
  QTabBar* TabStrip1 = nullptr;         // "Graphic", "Report"
  QFrame* Frame1[2] = {};               // 0 Graphic page, 1 Report page
  ClusterMap* Picture1 = nullptr;       // the map
  QLabel* Picture2[5] = {};             // legend swatches
  QLabel* Label2[7] = {};               // 0..4 legend, 5 priority, 6 after-job
  QLabel* Label1[2] = {};               // status lines 0 and 1
  mainwindow::ListView* LV1 = nullptr;  // the report
  QPushButton* Command1 = nullptr;      // "Defrag" / "Cancel"
  QPushButton* Command2 = nullptr;      // "Close"
  QPushButton* Command3 = nullptr;      // "Clear free space" / "Cancel"
  QComboBox* Combo1 = nullptr;          // after-job action
  QComboBox* Combo2 = nullptr;          // process priority

  // -------------------------------------------------------------- events
  void Form_Load();
  // True when the window may close.
  bool Form_Unload();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void Combo2_Click();
  void TabStrip1_Click();
  void LV1_ColumnClick(int column);

  // Sets a status line (0 progress, 1 emergency messages).
  void SetStatus(int line, const QString& text);
  // The front page: 0 Graphic, 1 Report.
  int CurrentPage() const;
  // True while a procedure of the window that processes events runs.
  bool Busy() const { return busy_ > 0; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Watches the main window: once it is no longer minimised, it becomes this
  // window's owner.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class BusyScope;
  // A run or clearing of this window: its scope, or nothing when it may not
  // start.
  std::optional<ui::RunScope> TryStart() const;
  // While a run or clearing is in progress, asks it to stop (as its Cancel
  // button does) and gives true; false when none runs.
  bool CancelRun();
  void RunAfterJobAction();
  void InstallHooks();
  // Procedures of this window that process events (the load, a run and the
  // action after it): while one is in progress the window is not deleted; a
  // close then is refused (during a run) or waits until it has ended.
  int busy_ = 0;
  bool closeRequested_ = false;
  bool loaded_ = false;
  bool unloaded_ = false;
  bool changedDisk_ = false;   // a run or clearing wrote to the disk
};

constexpr const char* kCloseRecoveryFirstText =
    "Close the File Recovery window before defragmenting the disk.";
constexpr const char* kCloseDefragFirstText =
    "Close the Defragment Disk window before searching for lost recordings.";


// The open defragmenter window, nullptr when none.
Form3* DefragWindow();
// Closes and deletes the window if it is open and idle (tests).
void UnloadDefragWindow();

}  // namespace tools
