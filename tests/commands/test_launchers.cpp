// The tool launchers: the check program (a fake one in a temporary program
// folder) and the tool windows' hooks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "commands/launchers.h"
#include "core/disk_model.h"
#include "tests/mainwindow/form1_pane_fixture.h"

namespace {

namespace ib = imagebuilder;
using form1test::PaneTest;

class LauncherTest : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    saved_ = commands::ToolWindows();
    commands::ToolWindows() = {};
    Calls() = 0;
    // The real check program sits beside the test programs: look for a
    // fake one in a folder of the test's own.
    bin_ = pc_ + "/bin";
    mkdir(bin_.c_str(), 0755);
    commands::SetCheckProgramFolder(bin_);
  }
  void TearDown() override {
    commands::SetCheckProgramFolder("");
    commands::ToolWindows() = saved_;
    PaneTest::TearDown();
  }
  // A check program that writes its argument count and arguments, one a
  // line, into args.txt in its current folder.
  void WriteFakeChecker() {
    const std::string path = bin_ + "/Morvessantix";
    ib::WriteWholeFile(path,
                       "#!/bin/sh\n"
                       "printf '%s\\n' \"$#\" \"$@\" > args.tmp && mv args.tmp args.txt\n");
    chmod(path.c_str(), 0755);
  }
  // Its current folder is the program folder (AppDir), not this test's.
  std::string WaitForArgs() {
    const std::string path = app_ + "/args.txt";
    for (int i = 0; i < 200 && platform::FileLength(path) < 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    return platform::FileLength(path) < 0 ? std::string() : ib::ReadWholeFile(path);
  }
  std::string bin_;
  static int& Calls() {
    static int calls = 0;
    return calls;
  }

 private:
  commands::ToolWindowTable saved_;
};

TEST_F(LauncherTest, MissingCheckProgramIsReportedAndTheProgramGoesOn) {
  StandardPanes();
  script.ExpectMsgBox("Didn't find Morvessantix.exe", ui::Answer::OK,
                      ui::ScriptedUi::Match::Exact);
  form->Menu_Disk_FSCK->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(script.Prompts()[0].IconShown, ui::Icon::Exclamation);
  EXPECT_FALSE(script.EndedWith());
  EXPECT_TRUE(form->Menu_Disk_FSCK->isEnabled());
}

TEST_F(LauncherTest, CheckProgramGetsTheDriveNameAndThisProgramEnds) {
  StandardPanes();
  WriteFakeChecker();
  EXPECT_EQ(commands::CheckProgramPath(), bin_ + "/Morvessantix");
  try {
    form->Menu_Disk_FSCK_Click();
    ADD_FAILURE() << "the program should have ended";
  } catch (const ui::ProgramEnded& e) {
    EXPECT_EQ(e.Status, 0);
  }
  EXPECT_TRUE(script.Prompts().empty());
  EXPECT_EQ(WaitForArgs(), "1\nPhysicalDrive1\n");
}

TEST_F(LauncherTest, ADumpPathReachesTheCheckProgramAsOneArgumentWithoutAShell) {
  WriteFakeChecker();
  // File mode: the dump's base path, with blanks and shell characters.
  core::DiskId[0] = 0;
  core::Disk[0].Name = pc_ + "/my dump; touch pwned $(touch pwned2)";
  try {
    form->Menu_Disk_FSCK_Click();
    ADD_FAILURE() << "the program should have ended";
  } catch (const ui::ProgramEnded&) {
  }
  EXPECT_EQ(WaitForArgs(), "1\n" + core::Disk[0].Name + "\n");
  EXPECT_LT(platform::FileLength(pc_ + "/pwned"), 0);
  EXPECT_LT(platform::FileLength(app_ + "/pwned2"), 0);
  EXPECT_LT(platform::FileLength(pc_ + "/pwned2"), 0);
}

TEST_F(LauncherTest, ToolWindowsThroughTheirHooks) {
  StandardPanes();
  script.ExpectMsgBox("The defragmenter is not available.", ui::Answer::OK)
      .ExpectMsgBox("The scanner is not available.", ui::Answer::OK);
  form->Menu_Expert_Defragment_Click();
  form->Menu_Disk_Scan_Click();
  EXPECT_TRUE(script.AllAnswered());

  commands::ToolWindows().ShowDefragmenter = [] { Calls() += 1; };
  commands::ToolWindows().ShowScanner = [] { Calls() += 10; };
  form->Menu_Expert_Defragment_Click();
  form->Menu_Disk_Scan_Click();
  EXPECT_EQ(Calls(), 11);
  EXPECT_EQ(script.Prompts().size(), 2u);
}

}  // namespace
