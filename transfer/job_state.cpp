#include "transfer/job_state.h"

#include <ctime>

#include "core/disk_format.h"
#include "core/pc_helpers.h"
#include "platform/platform.h"
#include "transfer/job_host.h"

namespace transfer {

int32_t CancelState = 0;
bool JobRunning = false;
bool ProgressDialogUp = false;

namespace {
JobClock g_clock;
VolumeLimitCheck g_volumeCheck;
JobHost* g_host = nullptr;
}  // namespace

JobHost::~JobHost() = default;

JobHost* Host() { return g_host; }

JobHost* SetJobHost(JobHost* host) {
  JobHost* previous = g_host;
  g_host = host;
  return previous;
}

double JobNow() {
  if (g_clock) return g_clock();
  return core::DateValueFromTimeT(int64_t(std::time(nullptr)));
}

JobClock SetJobClock(JobClock clock) {
  JobClock previous = std::move(g_clock);
  g_clock = std::move(clock);
  return previous;
}

bool TargetIs4GBLimited(const std::string& pcFolder) {
  if (g_volumeCheck) return g_volumeCheck(pcFolder);
  std::string label, fileSystem, serial;
  double total = 0, freeKiB = 0;
  if (!core::DriveInformation(pcFolder, label, fileSystem, serial, total, freeKiB)) return false;
  return platform::IsFat4GBLimited(fileSystem);
}

VolumeLimitCheck SetVolumeLimitCheck(VolumeLimitCheck check) {
  VolumeLimitCheck previous = std::move(g_volumeCheck);
  g_volumeCheck = std::move(check);
  return previous;
}

void ResetJobState() {
  CancelState = 0;
  JobRunning = false;
  ProgressDialogUp = false;
  g_clock = nullptr;
  g_volumeCheck = nullptr;
}

}  // namespace transfer
