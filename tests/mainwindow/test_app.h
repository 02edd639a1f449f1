// The one QApplication of a window test program, offscreen unless the
// environment chose a platform.
#pragma once

#include <QApplication>
#include <QByteArray>

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "mainwindow_test";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never destroyed: the windows of the tests may outlive any scope.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}
