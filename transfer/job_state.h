// The shared flags of the long jobs, and the replaceable clock and volume
// check they use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace transfer {

// 0 go on, 1 stop after the current file, 2 stop now. The jobs set it to 0
// when a phase starts; afterwards only the progress window's cancel
// question changes it. The defragmenter and the recovery scan use it too
// (any value other than 0 means stop there).
extern int32_t CancelState;
// True while a job runs; the progress window then refuses to close and asks
// the cancel question instead.
extern bool JobRunning;
// Set when the progress window is loaded for the first time; never cleared.
extern bool ProgressDialogUp;

// The current local date and time as a date value (days since 30 December
// 1899), whole seconds. Tests replace the clock.
double JobNow();
using JobClock = std::function<double()>;
// Replaces the clock (empty: the system clock); returns the previous one.
JobClock SetJobClock(JobClock clock);

// True when the file system that holds `pcFolder` cannot take files of 4 GB
// or more (the FAT family). Tests replace the check.
bool TargetIs4GBLimited(const std::string& pcFolder);
using VolumeLimitCheck = std::function<bool(const std::string& pcFolder)>;
VolumeLimitCheck SetVolumeLimitCheck(VolumeLimitCheck check);

// Back to the start state (tests): flags cleared, clock and check default.
void ResetJobState();

}  // namespace transfer
