#include <gtest/gtest.h>

#include <memory>
#include "ui/runs.h"

// Runs on the stack, outermost first ('-' has no stop, 'y' will stop, 'n' keeps going), a
// pending close -> a run may start, the answer to two closes, the runs asked (by index).
TEST(Runs, StartAndStopFollowTheRunsOnTheStack) {
  const struct { std::string Runs; bool Pending, Starts, Stops; std::string Asked; } cases[] = {
      {"", false, true, false, ""},     {"", true, false, false, ""},
      {"-", false, false, false, ""},   {"n", false, false, false, "00"},
      {"y", false, false, true, "0"},   {"y-", false, false, true, "0"},
      {"yn", false, false, false, "11"}, {"ny", false, false, true, "1"},
      {"-y-", true, false, true, "1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Runs + (c.Pending ? " pending" : ""));
    std::string asked;
    std::vector<std::unique_ptr<ui::RunScope>> runs;
    for (const char kind : c.Runs) {
      auto stop = [&, kind, i = runs.size()] { return asked += char('0' + i), kind == 'y'; };
      runs.push_back(std::make_unique<ui::RunScope>(kind == '-' ? std::function<bool()>() : stop));
    }
    ui::SetClosePending(c.Pending);
    {
      const auto run = ui::TryStartRun();
      EXPECT_EQ(run.has_value(), c.Starts);
      EXPECT_FALSE(run && ui::TryStartRun().has_value()) << "a second run inside the first";
    }
    for (int close = 0; close < 2; ++close) EXPECT_EQ(ui::AskRunsToStop(), c.Stops);
    EXPECT_EQ(asked, c.Asked);
    ui::SetClosePending(false);
    for (; !runs.empty(); runs.pop_back()) EXPECT_FALSE(ui::TryStartRun().has_value());
    EXPECT_TRUE(ui::TryStartRun().has_value());
  }
}
