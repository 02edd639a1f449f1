#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "core/error_handler.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "ui/scripted_ui.h"

namespace {

using imagebuilder::ReadWholeFile;
using imagebuilder::TempDir;
using imagebuilder::WriteWholeFile;
using ui::Answer;

std::tm FixedTime() {
  std::tm t = testenv::LocalTime(2026, 12, 8, 14, 3, 7);
  t.tm_wday = 2;   // Tuesday
  t.tm_yday = 341;
  return t;
}

const char kDateLine[] = "Date\t\t: Tue 08.12.2026 14:03:07\r\n";

std::string Report(const std::string& procedure, int number = 53,
                   const std::string& description = "File not found") {
  return "Application\t: Quenbrix\r\n"
         "Version\t\t: V1.2.3\r\n"
         "Error\t\t: " + std::to_string(number) + "\r\n"
         "Description\t: " + description + "\r\n"
         "Source\t\t: Quenbrix\r\n"
         "Procedure\t: " + procedure + "\r\n";
}

class ErrorHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::ResetErrorState();
    core::SetProgramIdentity({"Quenbrix", 1, 2, 3});
    core::SetAppDir(dir.Path());
    previousNow = core::SetNowHook(FixedTime);
    Init("");
  }
  void TearDown() override {
    core::SetNowHook(previousNow);
    core::ResetErrorState();
  }
  // Writes ErrorHandler.ini with `body` (after the section line) and reads it.
  void Init(const std::string& body, bool withLogPath = true) {
    std::string ini = "[ErrorHandler]\n" + body;
    if (withLogPath) ini += "LogPath=" + dir.Path() + "\n";
    WriteWholeFile(dir / "ErrorHandler.ini", ini);
    core::ErrorHandlerInitFrom(dir / "ErrorHandler.ini");
  }
  std::string Log() { return ReadWholeFile(dir / "Error Debug/debug.log"); }

  // A procedure that fails with a file-not-found error.
  static void ReadTopfCluster(int& calls, int failTimes) {
    core::ProcScope scope("ReadTopfCluster");
    if (calls++ < failTimes) core::Raise(53, "File not found");
  }

  TempDir dir{"errhandler"};
  ui::ScriptedUi script;
  ui::CurrentUiScope use{script};
  std::function<std::tm()> previousNow;
};

TEST_F(ErrorHandlerTest, ReportHasTheFixedLabelsAndTabs) {
  EXPECT_EQ(core::BuildErrorReport(0, 53, "File not found", "Quenbrix", "ReadTopfCluster", 0),
            Report("ReadTopfCluster"));
  EXPECT_EQ(core::BuildErrorReport(120, 53, "File not found", "Quenbrix", "ReadTopfCluster", 5),
            Report("ReadTopfCluster") + "LineNumber\t: 120\r\nLast DLL\t: 5");
  EXPECT_EQ(core::BuildErrorReport(0, 9, "x", "Quenbrix", "P", 2),
            Report("P", 9, "x") + "Last DLL\t: 2");
}

TEST_F(ErrorHandlerTest, AbortShowsTheReportAsksLastActionLogsAndEndsNonZero) {
  script.ExpectMsgBox(Report("ReadTopfCluster"), Answer::Abort, ui::ScriptedUi::Match::Exact)
      .ExpectInput("clicked Copy");
  int calls = 0;
  bool after = false;
  try {
    core::TrapProcedure("Menu_Copy_Click", [&] {
      ReadTopfCluster(calls, 10);
      after = true;
    });
    FAIL() << "the program did not end";
  } catch (const ui::ProgramEnded& e) {
    EXPECT_NE(e.Status, 0);
    EXPECT_EQ(e.Status, ui::kExitAbort);
  }
  EXPECT_FALSE(after);
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(script.Prompts().size(), 2u);
  const ui::Prompt& box = script.Prompts()[0];
  EXPECT_EQ(box.Title, "External Error Handler");
  EXPECT_EQ(box.IconShown, ui::Icon::Critical);
  EXPECT_EQ(box.ButtonSet, ui::Buttons::AbortRetryIgnore);
  const ui::Prompt& input = script.Prompts()[1];
  EXPECT_EQ(input.Kind, ui::PromptKind::InputBox);
  EXPECT_EQ(input.Title, "External Error Handler");
  EXPECT_EQ(input.Text, "Last action before error?");

  EXPECT_EQ(Log(), std::string(kDateLine) + Report("ReadTopfCluster") + "\r\n" +
                       "Last Action\t: clicked Copy\r\n" + "---ABORT pressed---\r\n\r\n\r\n");
  // The name of the procedure that caught it is back.
  EXPECT_EQ(core::CurrentProcedure, "");
}

TEST_F(ErrorHandlerTest, RetryRunsTheFailingStatementAgainAndLogsEachTime) {
  script.ExpectMsgBox("Error\t\t: 53", Answer::Retry).ExpectInput("")
      .ExpectMsgBox("Error\t\t: 53", Answer::Retry).ExpectInput("again");
  int calls = 0;
  int before = 0;
  bool after = false;
  {
    core::ProcScope scope("Form_Load");
    ++before;
    EXPECT_TRUE(core::Guard([&] { ReadTopfCluster(calls, 2); }));
    after = true;
    EXPECT_EQ(core::CurrentProcedure, "Form_Load");
  }
  EXPECT_EQ(calls, 3);    // failed twice, then went through
  EXPECT_EQ(before, 1);   // only the statement ran again
  EXPECT_TRUE(after);
  EXPECT_TRUE(script.AllAnswered());
  const std::string first = std::string(kDateLine) + Report("ReadTopfCluster") + "\r\n" +
                            "---RETRY pressed---\r\n\r\n\r\n";
  const std::string second = std::string(kDateLine) + Report("ReadTopfCluster") + "\r\n" +
                             "Last Action\t: again\r\n---RETRY pressed---\r\n\r\n\r\n";
  EXPECT_EQ(Log(), first + second);
}

TEST_F(ErrorHandlerTest, IgnoreSkipsTheStatementAndGoesOn) {
  script.ExpectMsgBox("Procedure\t: ReadTopfCluster", Answer::Ignore).ExpectInputCancel();
  int calls = 0;
  std::vector<int> order;
  core::ProcScope scope("Menu_Disk_Click");
  order.push_back(1);
  bool done = TRY_STATEMENT(ReadTopfCluster(calls, 10); order.push_back(99));
  order.push_back(2);
  EXPECT_FALSE(done);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(core::CurrentProcedure, "Menu_Disk_Click");
  // TRY_STATEMENT adds the source line of the statement.
  const std::string log = Log();
  EXPECT_NE(log.find("LineNumber\t: "), std::string::npos);
  EXPECT_EQ(log.find("Last Action"), std::string::npos);   // cancelled: no line
  EXPECT_TRUE(log.ends_with("\r\n---IGNORE pressed---\r\n\r\n\r\n")) << log;
}

TEST_F(ErrorHandlerTest, AutoAbortAsksNothingLogsAndEnds) {
  Init("AutoAbort=1\n");
  int calls = 0;
  EXPECT_THROW(core::TrapProcedure("Form_Load", [&] { ReadTopfCluster(calls, 10); }),
               ui::ProgramEnded);
  EXPECT_TRUE(script.Prompts().empty());
  EXPECT_EQ(script.EndedWith(), ui::kExitAbort);
  EXPECT_EQ(Log(), std::string(kDateLine) + Report("ReadTopfCluster") + "\r\n" +
                       "---Automatic ABORT issued---\r\n\r\n\r\n");
}

// A small program that writes its arguments, one a line, next to itself.
std::string MakeArgumentRecorder(const TempDir& dir) {
  const std::string program = dir / "re start.sh";
  WriteWholeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + (dir / "args.tmp") +
                              "\"\nmv \"" + (dir / "args.tmp") + "\" \"" + (dir / "args.txt") +
                              "\"\n");
  chmod(program.c_str(), 0755);
  return program;
}

// The file's content once whole: its last line ended, the same twice in a row.
std::string WaitForFile(const std::string& path) {
  std::string seen = "(not started)";
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(path, std::ios::binary);
    std::string now = in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(not started)";
    if (now == seen && !now.empty() && now.back() == '\n') return now;
    seen = std::move(now);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return seen;
}

TEST_F(ErrorHandlerTest, AutoRestartStartsTheProgramFromAnArgumentListAndEnds) {
  const std::string program = MakeArgumentRecorder(dir);
  const std::string command = "\"" + program + "\" /restart \"two words\" $HOME;`id`";
  Init("AutoRestart=1\nAutoRestartEXE=" + command + "\n");
  EXPECT_EQ(core::AutoRestartEXE, command);
  int calls = 0;
  EXPECT_THROW(core::TrapProcedure("Form_Load", [&] { ReadTopfCluster(calls, 10); }),
               ui::ProgramEnded);
  EXPECT_TRUE(script.Prompts().empty());
  EXPECT_EQ(script.EndedWith(), ui::kExitAbort);
  EXPECT_EQ(Log(), std::string(kDateLine) + Report("ReadTopfCluster") + "\r\n" +
                       "---Automatic restart of '" + command + "' issued---\r\n\r\n\r\n");
  // No shell: the words arrive as they are, nothing is expanded.
  EXPECT_EQ(WaitForFile(dir / "args.txt"), "/restart\ntwo words\n$HOME;`id`\n");
}

TEST_F(ErrorHandlerTest, AutoAbortWithAutoRestartLogsAbortButStillRestarts) {
  const std::string program = MakeArgumentRecorder(dir);
  Init("AutoAbort=True\nAutoRestart=-1\nAutoRestartEXE=\"" + program + "\" again\n");
  EXPECT_TRUE(core::AutoAbort);
  EXPECT_TRUE(core::AutoRestart);
  int calls = 0;
  EXPECT_THROW(core::TrapProcedure("Form_Load", [&] { ReadTopfCluster(calls, 10); }),
               ui::ProgramEnded);
  EXPECT_TRUE(script.Prompts().empty());
  const std::string log = Log();
  EXPECT_TRUE(log.ends_with("\r\n---Automatic ABORT issued---\r\n\r\n\r\n")) << log;
  EXPECT_EQ(WaitForFile(dir / "args.txt"), "again\n");
}

// A configuration file in the start folder steers a run (starts a program
// on an error, names the log, switches the check program's extras) only when
// nobody but the user or root could have put it there or changed it; any
// other is read as absent, and the error log in the program folder says so
// once.
TEST_F(ErrorHandlerTest, OnlyATrustedConfigurationSteersTheRun) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  enum Kind { Plain, Link, Fifo };
  struct Row {
    const char* what;
    uid_t fileOwner;
    mode_t fileMode;
    uid_t folderOwner;
    mode_t folderMode;
    Kind kind;
    const char* sudoUid;
    bool honoured;
  } rows[] = {
      {"root's file", 0, 0644, 0, 0755, Plain, nullptr, true},
      {"another user's file", 4242, 0644, 0, 0755, Plain, nullptr, false},
      {"the caller's file under sudo", 4242, 0644, 4242, 0755, Plain, "4242", true},
      {"another's file under sudo", 4243, 0644, 0, 0755, Plain, "4242", false},
      {"a file all may write", 0, 0666, 0, 0755, Plain, nullptr, false},
      {"a file the group may write", 0, 0664, 0, 0755, Plain, nullptr, false},
      {"in a folder all may write", 0, 0644, 0, 0777, Plain, nullptr, false},
      {"in a sticky shared folder", 0, 0644, 0, 01777, Plain, nullptr, false},
      {"in another user's folder", 0, 0644, 4242, 0755, Plain, nullptr, false},
      {"a link into a shared folder", 0, 0644, 0, 0777, Link, nullptr, false},
      {"a link to a file of root's", 0, 0644, 0, 0755, Link, nullptr, false},   // judged as opened
      {"a pipe", 0, 0644, 0, 0755, Fifo, nullptr, false},
  };
  const std::string program = MakeArgumentRecorder(dir);
  const std::string body = "[ErrorHandler]\nAutoRestart=1\nAutoRestartEXE=\"" + program +
                           "\" again\nLogPath=" + (dir / "logs") + "\n[View]\nExtras=1\n";
  char start[4096];
  ASSERT_NE(getcwd(start, sizeof start), nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    core::ResetErrorState();
    TempDir app("app"), cfg("cfg");
    core::SetAppDir(app.Path());
    if (row.sudoUid) setenv("SUDO_UID", row.sudoUid, 1);
    // The folder the program starts in; a link's target lies in `cfg`.
    const std::string folder = dir / "start";
    imagebuilder::RemoveTree(folder);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string real = row.kind == Link ? cfg / "real.ini" : folder + "/ErrorHandler.ini";
    if (row.kind == Fifo) {
      ASSERT_EQ(mkfifo(real.c_str(), 0644), 0);
    } else {
      WriteWholeFile(real, body);
      ASSERT_EQ(chown(real.c_str(), row.fileOwner, 0), 0);
      ASSERT_EQ(chmod(real.c_str(), row.fileMode), 0);
    }
    if (row.kind == Link) {
      ASSERT_EQ(symlink(real.c_str(), (folder + "/ErrorHandler.ini").c_str()), 0);
      ASSERT_EQ(chmod(cfg.Path().c_str(), row.folderMode), 0);
    } else {
      ASSERT_EQ(chown(folder.c_str(), row.folderOwner, 0), 0);
      ASSERT_EQ(chmod(folder.c_str(), row.folderMode), 0);
    }
    // The check program's settings: the same file under its name.
    const std::string settings = folder + "/Quenbrix.ini";
    if (row.kind == Plain) {
      ASSERT_EQ(link(real.c_str(), settings.c_str()), 0);
    }
    if (row.kind == Link) {
      ASSERT_EQ(symlink(real.c_str(), settings.c_str()), 0);
    }
    ASSERT_EQ(chdir(folder.c_str()), 0);

    core::ErrorHandlerInit();
    core::SetSettingsInCurrentFolder(true);
    const bool extras = core::GetSetting("View", "Extras") == "1";
    core::GetSetting("View", "Extras");   // asked again: still one note
    core::SetSettingsInCurrentFolder(false);
    EXPECT_EQ(core::AutoRestart, row.honoured);
    EXPECT_EQ(extras, row.honoured);
    EXPECT_EQ(core::LogPath, row.honoured ? dir / "logs/" : app.Path() + "/");

    // A run-time error: the trusted file restarts without asking; else the
    // user is asked, and nothing is started.
    ::unlink((dir / "args.txt").c_str());
    ui::ScriptedUi rowScript;
    ui::CurrentUiScope useRow{rowScript};
    if (row.honoured) {
      EXPECT_THROW(core::ErrorHandler(0, 5, "Invalid procedure call", "", 0), ui::ProgramEnded);
      EXPECT_NE(WaitForFile(dir / "args.txt"), "(not started)");
    } else {
      rowScript.ExpectMsgBox("", Answer::Ignore).ExpectInput("");
      EXPECT_EQ(core::ErrorHandler(0, 5, "Invalid procedure call", "", 0), core::kErrorContinue);
      const std::string log = ReadWholeFile(app / "Error Debug/debug.log");
      size_t notes = 0;
      for (size_t at = log.find("---Ignored '"); at != std::string::npos; at = log.find("---Ignored '", at + 1))
        ++notes;
      EXPECT_EQ(notes, row.kind == Fifo ? 1u : 2u) << log;   // ErrorHandler.ini and Quenbrix.ini, once each
      platform::FileState started;
      EXPECT_FALSE(platform::PathState(dir / "args.txt", started));
    }
    ASSERT_EQ(chdir(start), 0);
    unsetenv("SUDO_UID");
    chmod(folder.c_str(), 0755);
    chmod(cfg.Path().c_str(), 0700);
  }
}

TEST_F(ErrorHandlerTest, SettingsAndLogPathForms) {
  // Missing file: both switches off, the log in the program folder (never
  // the current one, which the main program moves to what it browses).
  core::ErrorHandlerInitFrom(dir / "missing.ini");
  EXPECT_FALSE(core::AutoAbort);
  EXPECT_FALSE(core::AutoRestart);
  EXPECT_EQ(core::LogPath, dir.Path() + "/");
  EXPECT_EQ(core::ErrorLogFile(), dir.Path() + "/Error Debug/debug.log");
  EXPECT_TRUE(core::ErrorHandlerReady);

  struct Case {
    std::string configured, expected;
  } cases[] = {
      {dir.Path() + "/logs", dir.Path() + "/logs/"},
      {dir.Path() + "/logs/", dir.Path() + "/logs/"},
      {dir.Path() + "\\logs", dir.Path() + "/logs/"},
      {dir.Path() + "\\logs\\", dir.Path() + "/logs/"},
  };
  for (const Case& c : cases) {
    Init("AutoAbort=0\nAutoRestart=\nLogPath=" + c.configured + "\n", false);
    EXPECT_FALSE(core::AutoAbort);
    EXPECT_FALSE(core::AutoRestart);
    EXPECT_EQ(core::LogPath, c.expected) << c.configured;
  }
  // The log lands there, its folder created on the way.
  script.ExpectMsgBox("", Answer::Ignore).ExpectInput("");
  EXPECT_EQ(core::ErrorHandler(0, 5, "Invalid procedure call", "", 0), core::kErrorContinue);
  EXPECT_FALSE(ReadWholeFile(dir / "logs/Error Debug/debug.log").empty());

  // Text that is no number and no True/False keeps the handler attended.
  Init("AutoAbort=yes please\nAutoRestart=0\n");
  EXPECT_FALSE(core::AutoAbort);
}

TEST_F(ErrorHandlerTest, UnwritableLogDoesNotStopTheHandler) {
  Init("LogPath=/dev/null/nowhere\n", false);
  script.ExpectMsgBox("", Answer::Retry).ExpectInput("x");
  EXPECT_EQ(core::ErrorHandler(0, 75, "Path/File access error", "", 0), core::kErrorRetry);
}

TEST_F(ErrorHandlerTest, ReportsTheInnermostFailingProcedureAndMapsStdExceptions) {
  script.ExpectMsgBox("Error\t\t: 9\r\nDescription\t: Subscript out of range", Answer::Ignore)
      .ExpectInput("");
  auto inner = [] {
    core::ProcScope scope("GetTopfLong");
    std::vector<int> v(3);
    return v.at(7);
  };
  bool completed = core::TrapProcedure("FSCK_03_FAT", [&] {
    core::ProcScope scope("CheckChain");
    inner();
  });
  EXPECT_FALSE(completed);
  EXPECT_NE(script.Prompts()[0].Text.find("Procedure\t: GetTopfLong\r\n"), std::string::npos);
  EXPECT_EQ(core::CurrentProcedure, "");
}

TEST_F(ErrorHandlerTest, TrapRetryRunsTheBodyAgain) {
  script.ExpectMsgBox("", Answer::Retry).ExpectInput("");
  int runs = 0;
  EXPECT_TRUE(core::TrapProcedure("Command1_Click", [&] {
    if (++runs == 1) throw std::runtime_error("boom");
  }));
  EXPECT_EQ(runs, 2);
  EXPECT_NE(script.Prompts()[0].Text.find("Error\t\t: 51"), std::string::npos);
  EXPECT_NE(script.Prompts()[0].Text.find("Procedure\t: Command1_Click"), std::string::npos);
}

TEST_F(ErrorHandlerTest, IllegalHandlerResultAndEmergencyStopEndNonZero) {
  script.ExpectMsgBox("Illegal value returned from ErrorHandler!", Answer::OK,
                      ui::ScriptedUi::Match::Exact);
  try {
    core::ObeyHandlerResult(7);
    FAIL();
  } catch (const ui::ProgramEnded& e) {
    EXPECT_EQ(e.Status, ui::kExitAbort);
  }
  EXPECT_EQ(script.Prompts().back().Title, "Quenbrix");

  script.ExpectMsgBox("Something has freaked out", Answer::OK);
  try {
    core::EmergencyStop(
        "Something has freaked out and tried an unauthorized write to the system area! "
        "Emergency stop!");
    FAIL();
  } catch (const ui::ProgramEnded& e) {
    EXPECT_EQ(e.Status, ui::kExitEmergency);
  }
  EXPECT_EQ(script.Prompts().back().IconShown, ui::Icon::Critical);
}

TEST_F(ErrorHandlerTest, TestStopsPassThroughTheTraps) {
  // A prompt nobody expected must reach the test, not the error handler.
  EXPECT_THROW(core::TrapProcedure("Form_Load", [&] { ui::Current().MsgBox("?"); }),
               ui::UnexpectedPrompt);
  EXPECT_TRUE(script.Prompts().empty());
  EXPECT_THROW(core::Guard([] { ui::Current().EndProgram(0); }), ui::ProgramEnded);
}

TEST(SplitCommandLine, QuotesGroupBlanks) {
  using V = std::vector<std::string>;
  EXPECT_EQ(core::SplitCommandLine(""), V{});
  EXPECT_EQ(core::SplitCommandLine("  /opt/q/Quenbrix  "), V{"/opt/q/Quenbrix"});
  EXPECT_EQ(core::SplitCommandLine("\"/opt/my q/Quenbrix\" /iodebug  x"),
            (V{"/opt/my q/Quenbrix", "/iodebug", "x"}));
  EXPECT_EQ(core::SplitCommandLine("a\"b c\"d \"\""), (V{"ab cd", ""}));
  EXPECT_EQ(core::SplitCommandLine("C:\\Tools\\Quenbrix.exe"), V{"C:\\Tools\\Quenbrix.exe"});
}

}  // namespace

#include "library/loader.h"

namespace {

TEST(LibraryFailures, BecomeRunTimeError48) {
  qlib::FailureHandler original = qlib::SetFailureHandler(nullptr);
  core::InstallLibraryFailureHandler();
  qlib::FailureHandler installed = qlib::SetFailureHandler(original);
  ASSERT_TRUE(installed);
  try {
    installed("libQuenbrix.so not found");
    FAIL() << "the handler returned";
  } catch (const core::RuntimeError& e) {
    EXPECT_EQ(e.Number, 48);
    EXPECT_EQ(e.Description, "Error in loading DLL: libQuenbrix.so not found");
  }
}

}  // namespace
