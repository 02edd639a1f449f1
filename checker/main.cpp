// Morvessantix, the check-and-repair program for the file system of a
// Topfield recorder disk or of a dump of its system and directory clusters.
#include <QApplication>

#include "checker/form1.h"
#include "mainwindow/app_start.h"
#include "widgets/enter_presses_button.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  widgets::InstallEnterPressesButton(app);
  // Quenbrix.ini and ErrorHandler.ini are read from the current folder.
  const std::string arguments =
      mainwindow::StartProgram(argc, argv, "Morvessantix", /*settingsInCurrentFolder=*/true);
  return mainwindow::RunMainWindow(app, new checker::Form1(), arguments);
}
