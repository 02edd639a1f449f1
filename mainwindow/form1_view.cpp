// The View menu (ETA display, Show GB) and the panes' tab strips.
#include <QAction>
#include <QPushButton>
#include <QTabWidget>

#include "core/error_handler.h"
#include "core/number_format.h"
#include "core/settings.h"
#include "mainwindow/form1.h"

namespace mainwindow {

void Form1::Menu_View_AbsoluteETA_Click() {
  core::ProcScope scope("Menu_View_AbsoluteETA_Click");
  Menu_View_AbsoluteETA->setChecked(true);
  Menu_View_RelativeETA->setChecked(false);
  core::SetSetting("View", "RelativeETA", "0");
}

void Form1::Menu_View_RelativeETA_Click() {
  core::ProcScope scope("Menu_View_RelativeETA_Click");
  Menu_View_AbsoluteETA->setChecked(false);
  Menu_View_RelativeETA->setChecked(true);
  core::SetSetting("View", "RelativeETA", "1");
}

void Form1::Menu_View_ShowGB_Click() {
  core::ProcScope scope("Menu_View_ShowGB_Click");
  // A checkable action has already flipped its mark when a user triggers
  // it; the handler inverts the stored state, and the mark follows it.
  const bool now = !core::ShowGB;
  Menu_View_ShowGB->setChecked(now);
  core::SetSetting("View", "ShowGB", now ? "1" : "0");
  core::ShowGB = now;
  ShowFileList(0);
  ShowFileList(1);
}

void Form1::TabStrip1_Click(int index) {
  core::ProcScope scope("TabStrip1_Click");
  if (index < 0 || index > 1) return;
  const int tab = TabStrip1[index]->currentIndex() + 1;
  QWidget* front = nullptr;
  QWidget* back = nullptr;
  if (tab == 1) {
    front = LV1[index];
    back = TV1[index];
  } else if (tab == 2) {
    front = TV1[index];
    back = LV1[index];
  } else {
    return;
  }
  front->show();
  front->raise();
  back->hide();
  Command2[index]->raise();
}

bool Form1::ListInFront(int side) const { return !LV1[side]->isHidden(); }

}  // namespace mainwindow
