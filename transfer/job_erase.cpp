// The erase job.
#include <QProgressBar>
#include <string>
#include <vector>

#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/erase.h"
#include "core/error_handler.h"
#include "transfer/copy_queue.h"
#include "transfer/entry_edits.h"
#include "transfer/progress_window.h"
#include "transfer/job_host.h"
#include "transfer/job_internal.h"
#include "transfer/job_state.h"
#include "transfer/jobs.h"
#include "ui/ui.h"

namespace transfer {

using namespace jobs_detail;

namespace {

// Erases the entry of one queue line; false when the job is to stop first.
bool EraseLine(int side, const QueueLine& line, double bar, const char* what) {
  AllFilesBar(bar);
  const bool valid = ValidEntry(side, line.Entry);
  const std::string name = valid ? core::Disk[side].Files[size_t(line.Entry)].Name : std::string();
  Status(std::string(what) + ShownName(side, name));
  ui::Current().DoEvents();
  if (CancelState > 0) return false;
  if (valid && core::FSEraseFile(side, line.Entry, true)) SyncOtherSide(side);
  return true;
}

void EraseJob(JobHost& host, int side) {
  ui::Current().SetBusy(true);
  const ui::Answer answer =
      ui::Current().MsgBox("Do you really want to remove the selected files from the HDD?",
                           ui::Buttons::YesNo, ui::Icon::Question);
  if (answer != ui::Answer::Yes) {
    ui::Current().SetBusy(false);
    return;
  }
  if (host.CountSelected(side) == 0) host.CheckSelectedItem(side);
  if (host.CountSelected(side) == 0) {
    ui::Current().SetBusy(false);
    return;
  }
  StartJob(host);
  try {
    Status("Building file list - please wait");
    ShowProgressWindow();
    ui::Current().DoEvents();
    const PaneItems items = host.Items(side);
    FSBuildCopyList(side, items, [](const std::string& text) { Status(text); });
    core::FSRecalculateDirSizes(side, core::kDirSizesClear, 0);

    const std::vector<QueueLine> lines = QueueLines();
    const double n = double(lines.size());
    bool go = true;
    for (size_t i = 0; i < lines.size() && go; ++i)
      if (lines[i].Kind == 'F') go = EraseLine(side, lines[i], double(i) / n * 50.0, "Erasing file ");
    for (size_t i = lines.size(); i-- > 0 && go;)
      if (lines[i].Kind == 'D')
        go = EraseLine(side, lines[i], 50.0 + (n - double(i)) / n * 50.0, "Erasing directory ");

    core::FSRecalculateDirSizes(side, core::kDirSizesRun, 0);
    FSCompressFileList(side);
    host.ShowDirList(side);
    host.ShowFileList(side);
    if (core::DiskId[0] == core::DiskId[1]) {
      // One recorder disk: the other side takes this side's record; one PC
      // drive: the other pane lists its folder again.
      const int other = core::OtherSide(side);
      core::LoadTopf(other, core::IsPCSide(side));
      host.ShowDirList(other);
      host.ShowFileList(other);
    }
  } catch (...) {
    EndJob(host);
    ui::Current().SetBusy(false);
    throw;
  }
  EndJob(host);
  ui::Current().SetBusy(false);
}

}  // namespace

void DoErase(int side) {
  core::ProcScope scope("DoErase");
  core::CheckSideIndex(side);
  CancelState = 0;
  if (JobHost* host = Host()) EraseJob(*host, side);
}

}  // namespace transfer
