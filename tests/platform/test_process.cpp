// Programs started without a shell, own priority, the power handler.
#include "platform/platform.h"
#include "tests/support/image_builder.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using imagebuilder::ReadWholeFile;
using imagebuilder::TempDir;
using namespace platform;

namespace {

bool WaitFor(const std::string& path, int ms = 10000) {
  struct stat st;
  for (int t = 0; t < ms; t += 20) {
    if (stat(path.c_str(), &st) == 0 && st.st_size > 0) return true;
    SleepMs(20);
  }
  return false;
}

}  // namespace

TEST(StartProgram, PassesArgumentsUnchangedWithoutAShell) {
  TempDir dir;
  const std::string out = dir / "args.txt";
  const std::string done = dir / "done";
  const std::vector<std::string> args = {"a b", "it's \"quoted\"", "x; touch " + dir.Path() + "/evil",
                                         "$(id)", "`id`", "*", ""};
  // The program is a shell here only to print what it received: the
  // arguments themselves must arrive as they were given.
  std::vector<std::string> argv = {"-c", "printf '[%s]\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0\"", out};
  argv.insert(argv.end(), args.begin(), args.end());
  ASSERT_TRUE(StartProgram("sh", argv));
  ASSERT_TRUE(WaitFor(out));
  std::string expected;
  for (const std::string& a : args) expected += "[" + a + "]\n";
  EXPECT_EQ(ReadWholeFile(out), expected);
  struct stat st;
  EXPECT_NE(stat((dir / "evil").c_str(), &st), 0);
}

TEST(StartProgram, FileNamesWithShellCharactersAreJustNames) {
  TempDir dir;
  const std::string name = dir / "a b; touch evil & \"q\"";
  ASSERT_TRUE(StartProgram("touch", {name}));
  struct stat st;
  bool made = false;
  for (int t = 0; t < 10000 && !made; t += 20) {
    made = stat(name.c_str(), &st) == 0;
    if (!made) SleepMs(20);
  }
  EXPECT_TRUE(made);
  EXPECT_NE(stat((dir / "evil").c_str(), &st), 0);
}

TEST(StartProgram, AMissingProgramIsReported) {
  EXPECT_FALSE(StartProgram("/nonexistent/quenbrix-no-such-program", {"x"}));
  EXPECT_EQ(LastError(), ENOENT);
  EXPECT_FALSE(StartProgram("", {}));
}

TEST(SetOwnPriority, SetsTheNiceValueOfTheWholeProcess) {
  // In a child, so the test run keeps its own priority.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SetOwnPriority(1);
    if (getpriority(PRIO_PROCESS, 0) != 10) _exit(1);
    SetOwnPriority(3);                      // not a class: nothing changes
    if (getpriority(PRIO_PROCESS, 0) != 10) _exit(2);
    SetOwnPriority(0);
    if (getpriority(PRIO_PROCESS, 0) != 19) _exit(3);
    SetOwnPriority(5);                      // a refused raise is ignored
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Power, GoesThroughTheReplaceableHandler) {
  std::vector<PowerAction> seen;
  PowerHandler previous = SetPowerHandler([&](PowerAction a) {
    seen.push_back(a);
    return a != PowerAction::ForcedShutdown;
  });
  EXPECT_TRUE(static_cast<bool>(previous));    // the default handler, never called here
  EXPECT_TRUE(Power(PowerAction::Hibernate));
  EXPECT_TRUE(Power(PowerAction::Shutdown));
  EXPECT_FALSE(Power(PowerAction::ForcedShutdown));
  EXPECT_EQ(seen, (std::vector<PowerAction>{PowerAction::Hibernate, PowerAction::Shutdown,
                                            PowerAction::ForcedShutdown}));
  // Swapping again hands back the test's handler.
  PowerHandler mine = SetPowerHandler([](PowerAction) { return false; });
  EXPECT_TRUE(mine(PowerAction::Hibernate));
  EXPECT_FALSE(Power(PowerAction::Hibernate));
  SetPowerHandler(previous);
}
