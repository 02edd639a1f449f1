// Layout of the two panes on resize, and the orderly shutdown that saves
// placement and column widths.
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLocalServer>
#include <QPushButton>
#include <QResizeEvent>
#include <QTabWidget>

#include <cmath>
#include <cstdio>

#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "mainwindow/qt_ui.h"
#include "widgets/window_fit.h"

namespace mainwindow {

namespace {

// Control geometry in twips.
struct Rect {
  int Left, Top, Width, Height;
};
Rect Get(const QWidget* w) {
  const QRect r = w->geometry();
  return {PixelsToTwips(r.x()), PixelsToTwips(r.y()), PixelsToTwips(r.width()),
          PixelsToTwips(r.height())};
}
void SetLeftWidth(QWidget* w, int left, int width) {
  const QRect r = w->geometry();
  w->setGeometry(TwipsToPixels(left), r.y(), std::max(0, TwipsToPixels(width)), r.height());
}
void SetLeft(QWidget* w, int left) {
  const QRect r = w->geometry();
  w->move(TwipsToPixels(left), r.y());
}
void SetTopHeight(QWidget* w, int top, int height) {
  const QRect r = w->geometry();
  w->setGeometry(r.x(), TwipsToPixels(top), r.width(), std::max(0, TwipsToPixels(height)));
}

}  // namespace

int Form1::OuterWidthTwips() const { return PixelsToTwips(width() + kFrameWidth); }

int Form1::OuterHeightTwips() const { return PixelsToTwips(height() + kFrameHeight); }

void Form1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  core::TrapProcedure("Form_Resize", [&] { Form_Resize(); });
}

void Form1::Form_Resize() {
  core::ProcScope scope("Form_Resize");
  if (isMinimized()) return;
  const Rect c0 = Get(Combo1[0]);
  const Rect c1 = Get(Combo1[1]);
  const int m = c1.Left - c0.Left - c0.Width;
  const int w = static_cast<int>(std::nearbyint((OuterWidthTwips() - 200.0 - m) / 2.0));
  if (w >= 3000) {
    SetLeftWidth(Combo1[0], c0.Left, w);
    SetLeftWidth(TabStrip1[0], Get(TabStrip1[0]).Left, w);
    SetLeftWidth(LV1[0], 100, w - 200);
    SetLeftWidth(TV1[0], 100, Get(LV1[0]).Width);

    const Rect n0 = Get(Combo1[0]);
    SetLeftWidth(Combo1[1], n0.Width + m, w);
    const Rect n1 = Get(Combo1[1]);
    SetLeftWidth(TabStrip1[1], n1.Left, w);
    SetLeftWidth(LV1[1], n1.Left + 100, Get(LV1[0]).Width);
    SetLeftWidth(TV1[1], Get(LV1[1]).Left, Get(LV1[1]).Width);

    const int buttonLeft = n0.Left + n0.Width + (m - Get(Command1[0]).Width) / 2;
    for (QPushButton* b : Command1) SetLeft(b, buttonLeft);

    SetLeft(Label1[1], n1.Left);
    SetLeft(Label1[2], n0.Left + n0.Width - Get(Label1[2]).Width);
    SetLeft(Label1[3], n1.Left + n1.Width - Get(Label1[3]).Width);
    SetLeft(Label2, n0.Left + n0.Width + 100);
    PlaceLabels(0);
    PlaceLabels(1);
    for (int i = 0; i < 2; ++i)
      SetLeft(Command2[i], Get(TabStrip1[i]).Left + w - Get(Command2[i]).Width - 100);
  }
  const Rect c = Get(Combo1[0]);
  const int t = static_cast<int>(std::nearbyint(c.Top + c.Height + 300.0));
  const int height = OuterHeightTwips();
  if (height > 2200) {
    SetTopHeight(TabStrip1[0], t, height - t - 840);
    const Rect ts = Get(TabStrip1[0]);
    SetTopHeight(LV1[0], ts.Top + 600, ts.Height - t - 100);
    const Rect lv = Get(LV1[0]);
    SetTopHeight(TV1[0], lv.Top, lv.Height);
    SetTopHeight(TabStrip1[1], t, ts.Height);
    SetTopHeight(LV1[1], lv.Top, lv.Height);
    SetTopHeight(TV1[1], lv.Top, lv.Height);
  }
}

// The summary label takes the width its text needs; the path label the rest
// of the pane up to its right edge (where it ends, right-aligned), showing the
// end of a path that does not fit.
void Form1::PlaceLabels(int side) {
  const QRect pane = Combo1[side]->geometry();
  QLabel* summary = Label1[side];
  QLabel* path = Label1[side + 2];
  const int need = widgets::TextWidth(summary, summary->text()) + 2 * summary->margin() + 2;
  const int width = std::min(need, pane.width());
  summary->setGeometry(pane.x(), summary->y(), width, summary->height());
  const int gap = TwipsToPixels(100);
  const int left = std::min(pane.x() + width + gap, pane.x() + pane.width());
  path->setGeometry(left, path->y(), pane.x() + pane.width() - left, path->height());
}

// After a job the keyboard focus is back on the list the job started from
// (disabling the window during the job moved it elsewhere).
void Form1::ReturnFocus(int side) {
  if (side < 0 || side > 1) return;
  ListView* list = LV1[side];
  if (list->isEnabled() && list->isVisible()) list->setFocus(Qt::OtherFocusReason);
}

// ------------------------------------------------------------- shutdown

// A close while a run is in progress (a job, a defragmentation, a scan)
// would close the disks under it: the close asks the run's own cancel
// question instead, and takes effect once the run has unwound and the
// program is back in its main event loop. A run that cannot be stopped
// refuses it, and so does the window while a modal window is open over it.
void Form1::closeEvent(QCloseEvent* event) {
  if (!unloaded_ && !MayCloseNow(this)) {
    event->ignore();
    return;
  }
  if (!unloaded_) {
    unloaded_ = true;
    core::TrapProcedure("Form_Unload", [&] { Form_Unload(); });
  }
  event->accept();
}

void Form1::Form_Unload() {
  core::ProcScope scope("Form_Unload");
  // What is open in the window ends first, while its disks are still open.
  EndLabelEdits();
  if (!isMinimized()) {
    // pos() is where the frame starts, as move() takes it back at start-up.
    core::SetSetting("View", "WindowState", isMaximized() ? "2" : "0");
    core::SetSetting("View", "WindowTop", std::to_string(PixelsToTwips(pos().y())));
    core::SetSetting("View", "WindowLeft", std::to_string(PixelsToTwips(pos().x())));
    core::SetSetting("View", "WindowHeight", std::to_string(OuterHeightTwips()));
    core::SetSetting("View", "WindowWidth", std::to_string(OuterWidthTwips()));
  }
  for (int i = 1; i <= 5; ++i) {
    char number[8];
    std::snprintf(number, sizeof number, "%02d", i);
    const int left = i - 1 < LV1[0]->columnCount() ? LV1[0]->columnWidth(i - 1) : 0;
    const int right = i - 1 < LV1[1]->columnCount() ? LV1[1]->columnWidth(i - 1) : 0;
    core::SetSetting("View", std::string("LCol") + number + "Width ",
                     std::to_string(PixelsToTwips(left)));
    core::SetSetting("View", std::string("RCol") + number + "Width ",
                     std::to_string(PixelsToTwips(right)));
  }
  // The single-instance socket goes with the window.
  if (instanceServer_ != nullptr) instanceServer_->close();
  // Every other window of the program goes with the main window.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w != this && w->isVisible()) w->close();
  }
  for (int side = 0; side < 2; ++side) {
    if (core::Disk[side].Handle > 0) {
      core::CloseDisk(core::Disk[side].Handle);
      core::Disk[side].Handle = 0;
    }
  }
}

}  // namespace mainwindow
