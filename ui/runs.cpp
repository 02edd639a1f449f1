#include "ui/runs.h"

namespace ui {

namespace {
RunScope* g_innermost = nullptr;
bool g_closePending = false;
}  // namespace

void SetClosePending(bool pending) { g_closePending = pending; }
bool ClosePending() { return g_closePending; }

RunScope::RunScope(std::function<bool()> stop) : stop_(std::move(stop)), outer_(g_innermost) {
  g_innermost = this;
}

RunScope::~RunScope() {
  // Scopes end in the reverse order of their making (they live on the stack).
  g_innermost = outer_;
}

bool RunInProgress() { return g_innermost != nullptr; }

std::optional<RunScope> TryStartRun(std::function<bool()> stop) {
  if (g_innermost != nullptr || g_closePending) return std::nullopt;
  // Made in place: a scope never moves, it is linked by its address.
  return std::optional<RunScope>(std::in_place, std::move(stop));
}

bool AskRunsToStop() {
  for (RunScope* run = g_innermost; run != nullptr; run = run->outer_) {
    if (run->stopping_) return true;
    if (!run->stop_) continue;
    // The scope outlives the question: it lives in the run's frame, below
    // the close that asks.
    run->stopping_ = run->stop_();
    return run->stopping_;
  }
  return false;
}

}  // namespace ui
