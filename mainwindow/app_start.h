#pragma once
// Start-up shared by both programs: the program's identity, the settings
// place, the error handler, the Ui, and running the main window.
#include <QApplication>
#include <Qt>

#include <string>

#include "mainwindow/qt_ui.h"

namespace mainwindow {

// Names the program, sets up the error handler and installs the Qt Ui.
// With settingsInCurrentFolder, Quenbrix.ini and ErrorHandler.ini are read
// from the current folder. Returns the command line as one text: the words
// behind the program name.
std::string StartProgram(int argc, char** argv, const char* title,
                         bool settingsInCurrentFolder);

// Makes `window` the main window, loads it (which may end the program),
// shows it and runs the event loop; returns the program's exit status.
template <class Window>
int RunMainWindow(QApplication& app, Window* window, const std::string& arguments) {
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  SetMainWindow(window);
  window->SetCommandLine(arguments);
  window->Form_Load();   // may end the program
  window->show();
  const int status = app.exec();
  delete window;
  return status;
}

}  // namespace mainwindow
