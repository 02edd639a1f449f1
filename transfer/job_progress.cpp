#include "transfer/job_progress.h"

#include <cmath>
#include <cstdio>

#include "core/disk_format.h"
#include "core/number_format.h"

namespace transfer {

namespace {

constexpr double kSecondsPerDay = 86400.0;

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

int Percent(double done, double count) {
  if (count <= 0) return 0;
  const double p = done / count * 100.0;
  if (p <= 0) return 0;
  if (p >= 100) return 100;
  return int(p);
}

}  // namespace

bool SwitchToCurrentFile(ProgressState& state, int32_t cancelState, int64_t fileDone,
                         int64_t fileCount) {
  if (cancelState == state.LastSeenCancel) return false;
  state.TotalClusters = fileCount;
  state.ClustersDone = fileDone;
  state.JobStart = state.FileStart;
  state.LastSeenCancel = cancelState;
  return true;
}

bool ProgressDue(const ProgressState& state, double now) {
  return (now - state.LastUpdate) * kSecondsPerDay > 3.0;
}

std::string EstimateText(double start, double now, double done, double count, bool absolute) {
  if (done <= 0) return std::string();
  char text[64];
  if (absolute) {
    const double end = start + (now - start) * count / done;
    const core::DateParts p = core::SplitDateValue(end);
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d", p.Day, p.Month, p.Year, p.Hour,
                  p.Minute);
    return text;
  }
  double rest = (now - start) / done * (count - done);
  if (rest < 0) rest = 0;
  const long long hours = (long long)std::floor(24.0 * rest);
  const core::DateParts p = core::SplitDateValue(rest - std::floor(rest));
  std::snprintf(text, sizeof text, "%lldh%02d'", hours, p.Minute);
  return text;
}

ProgressTexts RefreshProgress(ProgressState& state, double now, int64_t fileDone,
                              int64_t fileCount, double clusterBytes, bool absolute) {
  ProgressTexts out;
  if (now > state.FileStart) {
    out.File = true;
    out.FileBar = Percent(double(fileDone), double(fileCount));
    out.FileEta = "ETA = " + EstimateText(state.FileStart, now, double(fileDone),
                                          double(fileCount), absolute);
  }
  if (now > state.JobStart) {
    out.Job = true;
    out.JobBar = Percent(double(state.ClustersDone), double(state.TotalClusters));
    const std::string estimate = EstimateText(state.JobStart, now, double(state.ClustersDone),
                                              double(state.TotalClusters), absolute);
    out.JobEta = "ETA = " + estimate;
    const std::string tail = estimate.size() > 6 ? estimate.substr(estimate.size() - 6) : estimate;
    out.Caption = Trim(tail) + "-Copy Process";
    const double rate =
        double(state.ClustersDone) * clusterBytes / ((now - state.JobStart) * 1440.0);
    out.Rate = "All files (" + core::FileSizeToString(rate, 0, true) + "/min)";
    state.LastUpdate = now;
  }
  return out;
}

}  // namespace transfer
