#include <gtest/gtest.h>

#include <sys/resource.h>

#include <vector>

#include "core/power.h"
#include "platform/platform.h"

namespace {

// Nothing here may power anything off: the platform's handler is replaced
// for the whole test program before main runs, and records what it was asked.
std::vector<platform::PowerAction>& Requested() {
  static std::vector<platform::PowerAction> actions;
  return actions;
}
const bool kPowerReplaced = [] {
  platform::SetPowerHandler([](platform::PowerAction action) {
    Requested().push_back(action);
    return true;
  });
  return true;
}();

class PowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kPowerReplaced);
    Requested().clear();
  }
  std::vector<platform::PowerAction>& actions = Requested();
};

TEST_F(PowerTest, ShutdownAndHibernateGoThroughThePowerHandler) {
  core::Shutdown(true);
  core::Shutdown(false);
  core::Hibernate(true, true);
  EXPECT_EQ(actions, (std::vector<platform::PowerAction>{platform::PowerAction::ForcedShutdown,
                                                          platform::PowerAction::Shutdown,
                                                          platform::PowerAction::Hibernate}));
  core::AdjustToken();   // nothing to see, nothing to break
  EXPECT_EQ(actions.size(), 3u);
}

TEST(Priority, UnknownLevelsChangeNothing) {
  errno = 0;
  const int before = getpriority(PRIO_PROCESS, 0);
  core::ProcessPrioritySetOwn(3);
  core::ProcessPrioritySetOwn(-1);
  EXPECT_EQ(getpriority(PRIO_PROCESS, 0), before);
  // Normal stays normal (a raise that is refused is ignored).
  core::ProcessPrioritySetOwn(1);
  EXPECT_LE(getpriority(PRIO_PROCESS, 0), before < 0 ? 0 : before);
}

TEST(WindowHooks, NothingHappensWithoutAHook) {
  int dummy = 0;
  core::WindowOnTop(&dummy, true);
  core::SetProgressBarColor(&dummy, core::Rgb(128, 0, 0), -1);
  SUCCEED();
}

TEST(WindowHooks, ProgressColoursOnlyWhereNotNegative) {
  struct Call {
    void* bar;
    bool background;
    int32_t rgb;
    bool operator==(const Call&) const = default;
  };
  std::vector<Call> calls;
  auto previous = core::SetProgressColorHook([&](void* bar, bool background, int32_t rgb) {
    calls.push_back({bar, background, rgb});
  });
  int bar = 0;
  core::SetProgressBarColor(&bar, -1, 0xFFFFFF);
  EXPECT_EQ(calls, (std::vector<Call>{{&bar, true, 0xFFFFFF}}));
  calls.clear();
  core::SetProgressBarColor(&bar, core::Rgb(128, 0, 0), -1);
  EXPECT_EQ(calls, (std::vector<Call>{{&bar, false, 0x000080}}));
  calls.clear();
  core::SetProgressBarColor(&bar, core::Rgb(0, 128, 0), 0);   // background first, then bar
  EXPECT_EQ(calls, (std::vector<Call>{{&bar, true, 0}, {&bar, false, 0x008000}}));
  core::SetProgressColorHook(previous);

  std::vector<std::pair<void*, bool>> onTop;
  auto previousTop = core::SetWindowOnTopHook([&](void* w, bool top) { onTop.push_back({w, top}); });
  core::WindowOnTop(&bar, true);
  core::WindowOnTop(&bar, false);
  EXPECT_EQ(onTop, (std::vector<std::pair<void*, bool>>{{&bar, true}, {&bar, false}}));
  core::SetWindowOnTopHook(previousTop);
}

}  // namespace
