// Runs in progress: work that processes window events while it goes (a
// window's load, a job, a defragmentation, a scan or match, a check), so
// that the user can act in the middle of it.
//
// Whatever the user does meanwhile must be safe: a control that would start
// other work is disabled or refused, and a close of the main window is
// refused, or stops the run through the run's own cancel question and takes
// effect once the run has unwound. No disk is closed under a run.
#pragma once

#include <functional>

namespace ui {

// Marks a run in progress for its lifetime. Runs nest (a job refreshes a
// pane); the innermost is the last made.
class RunScope {
 public:
  // `stop` is asked when the user closes the program's main window during
  // the run: it asks the run's own cancel question (or stops it outright)
  // and returns true when the run will stop, false to keep it going. A run
  // without one cannot be stopped: the close is refused.
  explicit RunScope(std::function<bool()> stop = {});
  ~RunScope();
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  friend bool AskRunsToStop();
  std::function<bool()> stop_;
  bool stopping_ = false;   // said it will stop
  RunScope* outer_;
};

// The stop of a run that ends by itself in a moment (a window's load): a
// close of the main window takes effect once it is done.
inline bool EndsByItself() { return true; }

// True while any run is in progress.
bool RunInProgress();

// The main window's close during a run: the innermost run that can be
// stopped is asked; a run that already said it will stop is not asked
// again. True when the runs will end, so that the close can take effect
// after them; false when the close is refused.
bool AskRunsToStop();

// True when new work may start: no run is in progress and no close of the
// main window waits (one run at a time, and none once the program closes).
bool MayStartRun();

// A close of the main window that waits for the runs to unwind: set by the
// main window while it waits, so that nothing new starts meanwhile.
void SetClosePending(bool pending);
bool ClosePending();

}  // namespace ui
