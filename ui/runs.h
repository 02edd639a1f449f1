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
#include <optional>

namespace ui {

// Marks a run in progress for its lifetime. Runs nest (a job refreshes a
// pane); the innermost is the last made. Work that the user starts takes its
// scope from TryStartRun; a scope is made directly only for what cannot be
// refused: the start-up, a window's load, a part of a run already going.
class RunScope {
 public:
  // `stop` is asked when the user closes the program's main window during
  // the run: it asks the run's own cancel question (or stops it outright)
  // and returns true when the run will stop, false to keep it going. A run
  // without one cannot be stopped and is never asked (see AskRunsToStop).
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

// The main window's close during a run. The runs are looked at from the
// innermost outwards; a run without a stop is skipped (it goes on and ends
// by itself). The first run with a stop gives the answer and the runs
// outside it are not asked: true at once when it already said it will stop
// (it is not asked again), else what its stop answers. True when the runs
// will end, so that the close can take effect once all of them have
// unwound; false when the close is refused: that run keeps going, or no run
// has a stop.
bool AskRunsToStop();

// The one way to start the user's work. New work may start when no run is
// in progress and no close of the main window waits (one run at a time, and
// none once the program closes): then the run's scope (see RunScope for
// `stop`), to be kept for as long as the work goes; else nothing, and the
// work does not start. A window's own conditions (its load not done, its
// own close pending) are checked by the window besides.
[[nodiscard]] std::optional<RunScope> TryStartRun(std::function<bool()> stop = {});

// A close of the main window that waits for the runs to unwind: set by the
// main window while it waits, so that nothing new starts meanwhile.
void SetClosePending(bool pending);
bool ClosePending();

}  // namespace ui
