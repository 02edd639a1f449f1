// Helpers shared by the job implementations (internal).
#pragma once

#include <string>
#include <vector>

#include "transfer/copy_queue.h"
#include "transfer/job_progress.h"

namespace transfer {

class JobHost;

namespace jobs_detail {

// A recorder name (Windows-1252) or PC name as screen text (UTF-8).
std::string ShownName(int side, const std::string& name);
// `name` with the pane folder `folder` taken off its front (as many
// characters as the folder has, when it begins with it).
std::string BelowFolder(const std::string& name, const std::string& folder);
// When both sides show the same recorder disk, the other side's FAT follows
// the one `changedSide` holds, so neither side hands out clusters the other
// already used.
void SyncOtherSide(int changedSide);
// Status line and progress of the progress window.
void Status(const std::string& text);
void AllFilesBar(double percent);
// A progress refresh when due (Part of every cluster loop).
void RefreshWhenDue(ProgressState& state, int64_t fileDone, int64_t fileCount,
                    double clusterBytes, JobHost& host);
// Shows the list of files a job could not handle (nothing when empty).
void ReportProblems(const std::string& heading, const std::vector<std::string>& problems);
// The item of a queue line marked (bold, checked) or unmarked.
void MarkItem(JobHost& host, int side, int item, bool bold, bool checked);
// A job's start, before it first processes events or shows the progress
// window: the main window's commands go off (no other work starts in the
// middle of it) and the progress window's close asks the cancel question.
// The cancel state is reset at the job's entry, before anything of it can
// take an answer, and not again: every answer given during the job counts.
void StartJob(JobHost& host);
// A job's end: the progress window goes and the commands come back.
void EndJob(JobHost& host);
// Number of the queue's lines (parsed); invalid lines are dropped.
std::vector<QueueLine> QueueLines();
// The queue line refers to a live entry of the side's list.
bool ValidEntry(int side, int32_t entry);

}  // namespace jobs_detail
}  // namespace transfer
