// The main window on the demo disk at its default size, as a user first sees
// it, saved as a picture (screenshot-main.png in the build folder) so that a
// person can look at it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "tests/mainwindow/test_app.h"
#include "tests/support/image_builder.h"
#include "ui/scripted_ui.h"

#ifndef MAKE_DEMO_IMAGE_PATH
#define MAKE_DEMO_IMAGE_PATH "MakeDemoImage"
#endif
#ifndef SCREENSHOT_PATH
#define SCREENSHOT_PATH "screenshot-main.png"
#endif

namespace {

TEST(Form1Screenshot, MainWindowOnTheDemoDisk) {
  TestApp();
  imagebuilder::TempDir tmp("qform1shot");
  const std::string devices = tmp / "devices";
  const std::string app = tmp / "app";
  mkdir(devices.c_str(), 0755);
  mkdir(app.c_str(), 0755);
  const std::string command =
      std::string("\"") + MAKE_DEMO_IMAGE_PATH + "\" \"" + devices + "\" > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  setenv("QUENBRIX_DEVICES", devices.c_str(), 1);
  core::SetAppDir(app);
  core::SetSetting("Copy", "Destination", app + "/");
  core::ProgramIdentity id;
  id.Title = "Quenbrix";
  core::SetProgramIdentity(id);
  ui::ScriptedUi script;
  ui::CurrentUiScope use(script);
  mainwindow::Form1::SetInstanceName(QString::fromStdString("qform1-shot-" + std::to_string(getpid())));
  {
    mainwindow::Form1 form;
    form.Form_Load();
    form.show();
    QApplication::processEvents();
    const QPixmap shot = form.grab();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(SCREENSHOT_PATH)) << SCREENSHOT_PATH;
    EXPECT_EQ(form.PathLabel(0), "\\DataFiles\\");
    for (int side = 0; side < 2; ++side)
      if (core::Disk[side].Handle >= 1) core::CloseDisk(core::Disk[side].Handle);
  }
  core::ResetState();
  unsetenv("QUENBRIX_DEVICES");
  core::SetAppDir("");
}

}  // namespace
