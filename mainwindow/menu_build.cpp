#include "mainwindow/menu_build.h"

#include <QString>

namespace mainwindow {

QAction* AddItem(QMenu* menu, const char* name, const char* caption) {
  QAction* action = menu->addAction(QString::fromUtf8(caption));
  action->setObjectName(QString::fromUtf8(name));
  return action;
}

QAction* AddSeparator(QMenu* menu, const char* name) {
  QAction* action = menu->addSeparator();
  action->setObjectName(QString::fromUtf8(name));
  return action;
}

QMenu* AddMenu(QMenuBar* bar, const char* name, const char* caption) {
  QMenu* menu = bar->addMenu(QString::fromUtf8(caption));
  menu->setObjectName(QString::fromUtf8(name));
  menu->menuAction()->setObjectName(QString::fromUtf8(name));
  return menu;
}

void SetMenuEnabled(QMenu* menu, bool enabled) {
  if (!menu) return;
  menu->setEnabled(enabled);
  menu->menuAction()->setEnabled(enabled);
}

}  // namespace mainwindow
