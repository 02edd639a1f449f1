// The main window owns the program's other windows of their own (the
// progress window, the countdown, the tool windows): to the desktop they are
// dialog windows with the main window as transient parent, which it keeps
// above the main window and places over it. A desktop learns a window's
// owner only from a dialog-type window; these keep the title-bar buttons of
// any window.
//
// Header only: the windows of transfer/ and tools/ find their owner here
// without including the main window.
#pragma once

#include <QPointer>
#include <QWidget>

namespace widgets {

inline constexpr Qt::WindowFlags kOwnedWindow = Qt::Dialog | Qt::WindowTitleHint |
                                                Qt::WindowSystemMenuHint |
                                                Qt::WindowMinMaxButtonsHint |
                                                Qt::WindowCloseButtonHint;

inline QPointer<QWidget>& MainWindowSlot() {
  static QPointer<QWidget> main;
  return main;
}

// The main window registers itself when it is made.
inline void SetMainWindow(QWidget* main) { MainWindowSlot() = main; }

// The owner for a window opened now: the main window, or none while that is
// minimised (most desktops take a minimised window's dialogs off the screen
// with it).
inline QWidget* Owner() {
  QWidget* main = MainWindowSlot();
  return main != nullptr && !main->isMinimized() ? main : nullptr;
}

}  // namespace widgets
