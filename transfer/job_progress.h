// Progress, rate and estimated end of a long job, refreshed at most once
// every 3 seconds from inside the job's cluster loop (no timer).
//
// All times are date values (days since 30 December 1899 plus the fraction
// of the day). The copy job and the stream scan feed their own counters in;
// the texts come back ready for the progress window.
#pragma once

#include <cstdint>
#include <string>

namespace transfer {

struct ProgressState {
  double FileStart = 0;        // when the current file began
  double JobStart = 0;         // when the streaming phase began
  double LastUpdate = 0;       // time of the last refresh; 0: the first cluster refreshes
  int32_t LastSeenCancel = 0;  // the cancel state last acted on
  int64_t ClustersDone = 0;    // clusters of the whole job so far
  int64_t TotalClusters = 0;   // clusters of the whole job
};

// What one refresh sets in the progress window.
struct ProgressTexts {
  bool File = false;           // the file part was refreshed (PB1(0), Label1(1))
  int FileBar = 0;
  std::string FileEta;         // "ETA = ..."
  bool Job = false;            // the job part was refreshed (PB1(1), Label1(2), Label1(3), caption)
  int JobBar = 0;
  std::string JobEta;          // "ETA = ..."
  std::string Rate;            // "All files (12 MB/min)"
  std::string Caption;         // "21:07-Copy Process"
};

// When `cancelState` differs from the last seen one, the job's figures
// describe the current file from now on (total := file count, done := file
// done, job start := file start). True when it switched.
bool SwitchToCurrentFile(ProgressState& state, int32_t cancelState, int64_t fileDone,
                         int64_t fileCount);

// True when more than 3 seconds have passed since the last refresh.
bool ProgressDue(const ProgressState& state, double now);

// One refresh (call when ProgressDue). The file part needs now > file start,
// the job part now > job start; only the job part sets LastUpdate.
ProgressTexts RefreshProgress(ProgressState& state, double now, int64_t fileDone,
                              int64_t fileCount, double clusterBytes, bool absolute);

// The estimate of (start, done, count) at `now`: absolute "dd.mm.yyyy hh:nn",
// relative "<hours>h<mm>'". "" when nothing is done yet.
std::string EstimateText(double start, double now, double done, double count, bool absolute);

}  // namespace transfer
