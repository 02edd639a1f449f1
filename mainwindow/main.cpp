// Quenbrix, the main program: two explorer panes over a Topfield recorder
// disk and the PC's file systems.
#include <QApplication>

#include "mainwindow/app_start.h"
#include "mainwindow/form1.h"
#include "widgets/enter_presses_button.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  widgets::InstallEnterPressesButton(app);
  const std::string arguments =
      mainwindow::StartProgram(argc, argv, "Quenbrix", /*settingsInCurrentFolder=*/false);
  return mainwindow::RunMainWindow(app, new mainwindow::Form1(), arguments);
}
