#include <gtest/gtest.h>

#include "core/error_handler.h"
#include "core/iodebug.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "ui/scripted_ui.h"

namespace {

using imagebuilder::ReadWholeFile;
using imagebuilder::TempDir;

std::tm FixedTime() { return testenv::LocalTime(2026, 12, 8, 14, 3, 7); }

class IODebugTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::ResetErrorState();
    core::SetAppDir(dir.Path());
    core::ErrorHandlerInitFrom(dir / "ErrorHandler.ini");   // missing: attended, log in "./"
    core::LogPath = dir.Path() + "/";
    previousNow = core::SetNowHook(FixedTime);
  }
  void TearDown() override {
    core::IODebug = false;
    core::SetNowHook(previousNow);
    core::ResetErrorState();
  }
  TempDir dir{"iodebug"};
  std::function<std::tm()> previousNow;
};

TEST_F(IODebugTest, SwitchedOffWritesNothing) {
  core::IODebug = false;
  for (int i = 0; i < 100; ++i) core::AddIODebugLog("ReadTopfCluster  0 000005/2068");
  EXPECT_EQ(platform::FileLength(core::IODebugLogFile()), -1);
}

TEST_F(IODebugTest, LinesCarryTheTimeStampAndPaddedNames) {
  core::IODebug = true;
  EXPECT_EQ(core::IODebugLogFile(), dir.Path() + "/IODebug.log");
  core::AddIODebugLog(core::IODebugHead("OpenDisk", core::kIODebugWideName) +
                      "successfully opened /dev/sdb, Handle=5, ReadWrite=False");
  core::AddIODebugLog(core::IODebugHead("CloseDisk", core::kIODebugWideName) + "Handle=5");
  core::AddIODebugLog(core::IODebugHead("ReadTopfCluster", core::kIODebugNarrowName) +
                      "0 000003/2068 served by the cache");
  core::AddIODebugLog(core::IODebugHead("InitTopf", core::kIODebugNarrowName) + "1");
  EXPECT_EQ(ReadWholeFile(core::IODebugLogFile()),
            "20261208 140307 OpenDisk           successfully opened /dev/sdb, Handle=5, "
            "ReadWrite=False\r\n"
            "20261208 140307 CloseDisk          Handle=5\r\n"
            "20261208 140307 ReadTopfCluster  0 000003/2068 served by the cache\r\n"
            "20261208 140307 InitTopf         1\r\n");
  // Appended, never truncated.
  core::AddIODebugLog("x");
  EXPECT_TRUE(ReadWholeFile(core::IODebugLogFile()).ends_with("InitTopf         1\r\n"
                                                             "20261208 140307 x\r\n"));
  EXPECT_EQ(core::IODebugHead("FSShowDisks", 19), "FSShowDisks        ");
  EXPECT_EQ(core::IODebugHead("AVeryLongProcedureName", 17), "AVeryLongProcedureName");
}

TEST_F(IODebugTest, AFailedWriteGoesToTheErrorHandler) {
  core::IODebug = true;
  core::SetAppDir(dir / "no/such/folder");
  ui::ScriptedUi script;
  ui::CurrentUiScope use(script);
  script.ExpectMsgBox("Procedure\t: AddIODebugLog", ui::Answer::Ignore).ExpectInput("");
  core::AddIODebugLog("lost line");
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_NE(script.Prompts()[0].Text.find("Error\t\t: 53"), std::string::npos);
  EXPECT_NE(ReadWholeFile(dir / "Error Debug/debug.log").find("---IGNORE pressed---"),
            std::string::npos);
  core::SetAppDir(dir.Path());
}

}  // namespace
