#include <QProgressBar>
#include <algorithm>

#include "core/disk_model.h"
#include "transfer/progress_window.h"
#include "transfer/job_host.h"
#include "transfer/job_internal.h"
#include "transfer/job_state.h"
#include "transfer/names.h"
#include "ui/ui.h"

namespace transfer {
namespace jobs_detail {

std::string ShownName(int side, const std::string& name) {
  return core::IsPCSide(side) ? name : Shown(name);
}

std::string BelowFolder(const std::string& name, const std::string& folder) {
  if (name.size() >= folder.size() && name.compare(0, folder.size(), folder) == 0)
    return name.substr(folder.size());
  return name;
}

void SyncOtherSide(int changedSide) {
  if (!core::SameDisk() || core::IsPCSide(changedSide)) return;
  const int other = core::OtherSide(changedSide);
  core::Disk[other].FAT = core::Disk[changedSide].FAT;
}

void Status(const std::string& text) { ProgressWindow()->SetStatus(text); }

void AllFilesBar(double percent) {
  ProgressWindow()->PB1[1]->setValue(int(std::clamp(percent, 0.0, 100.0)));
}

void RefreshWhenDue(ProgressState& state, int64_t fileDone, int64_t fileCount,
                    double clusterBytes, JobHost& host) {
  const double now = JobNow();
  if (!ProgressDue(state, now)) return;
  ProgressWindow()->ShowProgress(
      RefreshProgress(state, now, fileDone, fileCount, clusterBytes, host.AbsoluteETA()));
}

void ReportProblems(const std::string& heading, const std::vector<std::string>& problems) {
  if (problems.empty()) return;
  ui::Current().MsgBoxList(heading, problems, ui::Buttons::OK, ui::Icon::Exclamation);
}

void MarkItem(JobHost& host, int side, int item, bool bold, bool checked) {
  host.SetItemBold(side, item, bold);
  host.SetItemChecked(side, item, checked);
}

void StartJob(JobHost& host) {
  host.DisableMenus();
  JobRunning = true;
}

void EndJob(JobHost& host) {
  JobRunning = false;
  UnloadProgressWindow();
  host.EnableMenus();
}

std::vector<QueueLine> QueueLines() {
  std::vector<QueueLine> lines;
  lines.reserve(List3.ListCount());
  QueueLine line;
  for (size_t i = 0; i < List3.ListCount(); ++i)
    if (ParseQueueLine(List3.List(i), line)) lines.push_back(line);
  return lines;
}

bool ValidEntry(int side, int32_t entry) {
  const core::DiskRec& d = core::Disk[side];
  return entry >= 0 && entry < d.FileCount && size_t(entry) < d.Files.size() &&
         d.Files[size_t(entry)].Name != core::kErasedName;
}

}  // namespace jobs_detail
}  // namespace transfer
