// Rows of a table that cannot run here, told through GoogleTest.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testenv {

// Rows of a table that cannot run here (a set-up that needs root, a kernel
// that refuses it): each is noted with why as it is met, and the other rows
// run. SKIP_ROWS at the end of the test then reports it skipped through
// GoogleTest, naming them, so that a run counts it (a failed row still fails it).
struct SkippedRows {
  std::string Text;
  void Add(const std::string& row, const std::string& why) {
    Text += (Text.empty() ? "" : "; ") + row + ": " + why;
  }
};
#define SKIP_ROWS(rows) \
  if (!(rows).Text.empty()) GTEST_SKIP() << "rows that cannot run here: " << (rows).Text

}  // namespace testenv
