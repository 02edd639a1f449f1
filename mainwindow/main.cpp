// Quenbrix, the main program: two explorer panes over a Topfield recorder
// disk and the PC's file systems.
#include <QApplication>

#include <string>

#include "core/error_handler.h"
#include "mainwindow/form1.h"
#include "mainwindow/qt_ui.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quenbrix");

  core::ProgramIdentity identity;
  identity.Title = "Quenbrix";
  identity.Major = 0;
  identity.Minor = 1;
  identity.Revision = 0;
  core::SetProgramIdentity(identity);
  core::InstallLibraryFailureHandler();
  core::ErrorHandlerInit();

  mainwindow::InstallUi();

  // The command line as one text: the words behind the program name.
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (!arguments.empty()) arguments += ' ';
    arguments += argv[i];
  }

  auto* window = new mainwindow::Form1();
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  mainwindow::SetMainWindow(window);
  window->SetCommandLine(arguments);
  window->Form_Load();   // may end the program
  window->show();
  const int status = app.exec();
  delete window;
  return status;
}
