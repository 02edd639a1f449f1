// What the job benchmarks share: timing, the best of several runs, a window
// system that processes Qt's pending events at every DoEvents (as the real
// program does) and counts the time spent there, and the printed figures.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "tests/support/image_builder.h"
#include "ui/scripted_ui.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The shortest of the runs measured so far.
struct Best {
  double Value = std::numeric_limits<double>::infinity();
  void Add(double seconds) { Value = std::min(Value, seconds); }
};

// Everything written so far goes to the disk before a timed step starts, so
// that no step pays for the write-back of the one before.
inline void Quiet() { ::sync(); }

// Writes what the file holds in memory through to the disk, so that a run
// does not pay for the previous one's write-back.
inline void Settle(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Qt's own notes of the off-screen platform ("does not support raise()")
// would drown the figures: only its errors are shown.
inline void QuietQt() {
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
      std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  });
}

// DoEvents processes the pending Qt events, and StepEvents does so paced,
// as in the program (ui::EventPacer); the time both take is added up.
class EventsUi : public ui::ScriptedUi {
 public:
  EventsUi() {
    SetDoEventsHook([this](bool allowUserInput) {
      QCoreApplication::processEvents(allowUserInput ? QEventLoop::AllEvents
                                                     : QEventLoop::ExcludeUserInputEvents);
      pacer_.Processed();
    });
  }
  void ResetCount() {
    seconds_ = 0;
    stepSeconds_ = 0;
  }
  // All event processing, and the part of it after single steps (clusters).
  double EventSeconds() const { return seconds_; }
  double StepSeconds() const { return stepSeconds_; }

 protected:
  void DoDoEvents(bool allowUserInput) override {
    Timed([&] { ui::ScriptedUi::DoDoEvents(allowUserInput); });
  }
  void DoStepEvents() override {
    const double before = seconds_;
    Timed([&] {
      if (pacer_.Due()) ui::ScriptedUi::DoDoEvents(true);
    });
    stepSeconds_ += seconds_ - before;
  }

 private:
  template <class F>
  void Timed(F f) {
    const auto t = Clock::now();
    f();
    seconds_ += Seconds(t);
  }

  ui::EventPacer pacer_;
  double seconds_ = 0;
  double stepSeconds_ = 0;
};

// Share of a job's time spent processing events (progress window and map
// repaints included): all of it, and what the processing after each cluster
// would come to with the smallest cluster the disks have (the transfer per
// cluster shrinks with the cluster, the events after it do not).
struct EventShare {
  double Measured = 0;          // fraction of the job
  double StepMicros = 0;        // after each cluster, on average
  double SmallestCluster = 0;   // that, as a fraction, at the smallest cluster size
};
inline EventShare ShareOfEvents(double eventSeconds, double stepSeconds, double jobSeconds,
                                double clusters, double clusterBytes,
                                double smallestClusterBytes) {
  EventShare s;
  if (jobSeconds <= 0 || clusters <= 0) return s;
  s.Measured = eventSeconds / jobSeconds;
  const double perCluster = stepSeconds / clusters;
  s.StepMicros = 1e6 * perCluster;
  const double transferPerCluster = (jobSeconds - eventSeconds) / clusters;
  const double smallTransfer = transferPerCluster * smallestClusterBytes / clusterBytes;
  s.SmallestCluster = perCluster / (perCluster + smallTransfer);
  return s;
}

// "<label>  job  123.4 MB/s   <ref>  130.0 MB/s   ratio 0.949"; returns the ratio.
inline double PrintFigure(const char* label, double megabytes, double jobSeconds,
                          const char* reference, double referenceSeconds) {
  const double job = megabytes / jobSeconds;
  const double ref = megabytes / referenceSeconds;
  std::printf("%-14s job %8.1f MB/s   %-10s %8.1f MB/s   ratio %.3f   (best of 3)\n", label, job,
              reference, ref, job / ref);
  return job / ref;
}

inline void PrintEvents(const char* label, const EventShare& share) {
  std::printf("%-14s events and progress %.2f%% of the job; after each cluster %.1f us, %.2f%% "
              "with the smallest clusters\n",
              label, 100.0 * share.Measured, share.StepMicros, 100.0 * share.SmallestCluster);
}

// `--small` anywhere on the command line: a quick run for CI; the first other
// argument is the work folder.
struct Args {
  bool Small = false;
  std::string Work;
};
inline Args ParseArgs(int argc, char** argv) {
  Args a;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--small") == 0)
      a.Small = true;
    else if (a.Work.empty())
      a.Work = argv[i];
  }
  return a;
}

// The folder a benchmark works in: the one named on the command line, else a
// new temporary one that goes again with this object.
struct WorkFolder {
  std::unique_ptr<imagebuilder::TempDir> Temp;
  std::string Path;
  WorkFolder(const Args& args, const char* tag) : Path(args.Work) {
    if (Path.empty()) {
      Temp = std::make_unique<imagebuilder::TempDir>(tag);
      Path = Temp->Path();
    }
  }
};

}  // namespace bench
