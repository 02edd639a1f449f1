#pragma once
// Building menus whose entries carry their names as objectName, so tests
// and scripts find them. Shared by the windows of both programs.
#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace mainwindow {

// Adds an item NAME with CAPTION (UTF-8) to MENU.
QAction* AddItem(QMenu* menu, const char* name, const char* caption);
// Adds a separator named NAME to MENU.
QAction* AddSeparator(QMenu* menu, const char* name);
// Adds a menu NAME with CAPTION to BAR; the menu and its action both carry NAME.
QMenu* AddMenu(QMenuBar* bar, const char* name, const char* caption);
// Switches a menu of the menu bar and its title on or off.
void SetMenuEnabled(QMenu* menu, bool enabled);

}  // namespace mainwindow
