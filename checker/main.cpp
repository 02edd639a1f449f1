// Morvessantix, the check-and-repair program for the file system of a
// Topfield recorder disk or of a dump of its system and directory clusters.
#include <QApplication>

#include <string>

#include "checker/form1.h"
#include "core/error_handler.h"
#include "core/settings.h"
#include "mainwindow/qt_ui.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Morvessantix");

  core::ProgramIdentity identity;
  identity.Title = "Morvessantix";
  identity.Major = 0;
  identity.Minor = 1;
  identity.Revision = 0;
  core::SetProgramIdentity(identity);
  // Quenbrix.ini and ErrorHandler.ini are read from the current folder.
  core::SetSettingsInCurrentFolder(true);
  core::InstallLibraryFailureHandler();
  core::ErrorHandlerInit();

  mainwindow::InstallUi();

  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (!arguments.empty()) arguments += ' ';
    arguments += argv[i];
  }

  auto* window = new checker::Form1();
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  mainwindow::SetMainWindow(window);
  window->SetCommandLine(arguments);
  window->Form_Load();   // may end the program
  window->show();
  const int status = app.exec();
  delete window;
  return status;
}
