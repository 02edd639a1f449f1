#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/runs.h"

// Runs on the stack, outermost first ('-' has no stop, 'y' will stop, 'n'
// keeps going), a pending close, and two closes of the main window.
TEST(Runs, StartAndStopFollowTheRunsOnTheStack) {
  const struct {
    std::string Runs;
    bool Pending, Starts, Stops;
    std::string Asked;   // the runs whose stop was called, in order
  } cases[] = {{"", false, true, false, ""},   {"", true, false, false, ""},
               {"-", false, false, false, ""}, {"n", false, false, false, "00"},
               {"y", false, false, true, "0"}, {"y-", false, false, true, "0"},
               {"yn", false, false, false, "11"}, {"ny", false, false, true, "1"},
               {"-y-", true, false, true, "1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Runs + (c.Pending ? " pending" : ""));
    std::string asked;
    std::vector<std::unique_ptr<ui::RunScope>> runs;
    for (const char kind : c.Runs) {
      std::function<bool()> stop;
      if (kind != '-') stop = [&asked, kind, i = runs.size()] {
        asked += char('0' + i);
        return kind == 'y';
      };
      runs.push_back(std::make_unique<ui::RunScope>(std::move(stop)));
    }
    ui::SetClosePending(c.Pending);
    {
      const auto run = ui::TryStartRun();
      EXPECT_EQ(run.has_value(), c.Starts);
      if (run) {
        EXPECT_FALSE(ui::TryStartRun().has_value()) << "a second run inside the first";
      }
    }
    EXPECT_EQ(ui::AskRunsToStop(), c.Stops);
    EXPECT_EQ(ui::AskRunsToStop(), c.Stops);
    EXPECT_EQ(asked, c.Asked);
    ui::SetClosePending(false);
    while (!runs.empty()) runs.pop_back();   // the innermost ends first
    EXPECT_TRUE(ui::TryStartRun().has_value());
  }
}
