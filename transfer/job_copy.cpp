// The copy and move job.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "core/cluster_io.h"
#include "core/create_file.h"
#include "core/disk_format.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/erase.h"
#include "core/error_handler.h"
#include "core/fat_write.h"
#include "core/pc_helpers.h"
#include "core/side_file.h"
#include "library/loader.h"
#include "platform/platform.h"
#include "transfer/copy_queue.h"
#include "transfer/entry_edits.h"
#include "transfer/file_create.h"
#include "transfer/progress_window.h"
#include "transfer/countdown_window.h"
#include "transfer/job_host.h"
#include "transfer/job_internal.h"
#include "transfer/job_state.h"
#include "transfer/jobs.h"
#include "transfer/names.h"
#include "transfer/queue_filters.h"
#include "transfer/transfer_buffer.h"
#include "ui/ui.h"

namespace transfer {

using namespace jobs_detail;
using core::Disk;

namespace {

constexpr int32_t kDeselectCapacity = 100001;
// PC to PC: neither side has a cluster size of its own.
constexpr int32_t kPcClusterSectors = 2048;

enum class FileResult { Copied, Failed, StoppedNow };

// The name under which a target path lands on the target side: on a PC the
// file FSCreateFile makes; on a recorder disk the entry name as
// CreateTopfFile stores and compares it (case ignored, formed as an entry
// holds it). Two sources with one key would replace each other. Recorder names
// differ in more than case, so copies from a recorder to a PC drive compare
// without case too: a FAT-family stick would take two such names as one.
std::string TargetNameKey(int target, const std::string& path) {
  if (core::IsPCSide(target)) {
    std::string key = PcCreateName(path);
    if (!core::IsPCSide(core::OtherSide(target)))
      for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return key;
  }
  return core::LowerCaseName(core::EntryPath(path));
}

// The open PC file `handle` is still the file `path` names.
bool StillNamed(int handle, const std::string& path) {
  platform::FileState open, named;
  return platform::HandleState(handle, open) && platform::PathState(path, named) &&
         platform::SameFile(open, named);
}

// The PC file `path` is still, by identity, length and modification time,
// the file FSOpenFile opened as `opened`.
bool SourceAsOpened(const core::OpenFileRec& opened, const std::string& path) {
  platform::FileState now;
  return platform::PathState(path, now) && now.Device == opened.PcDevice &&
         now.Inode == opened.PcInode && double(now.Size) == opened.Size &&
         now.ModifiedNs == opened.PcModifiedNs;
}

// The reason of the PC call that failed last, in the user's words.
std::string SystemReason() { return PcFailureText(platform::LastError()); }

// Why a PC source could not be opened.
std::string OpenFailure(const std::string& path) {
  const std::string why = SystemReason();
  platform::FileState now;
  if (platform::PathState(path, now) && !now.Regular)
    return "it is " + KindOfFile(now.Mode) + " now, not a regular file; not copied";
  return "the file cannot be opened (" + why + "); not copied";
}

// The PC folder that holds `path` (a file or a folder).
std::string PcFolderOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string(".") : cut == 0 ? std::string("/") : path.substr(0, cut);
}

// A failure to enter a folder that means it is gone: moved or removed by
// another program.
bool GoneError(int error) { return error == ENOENT || error == ENOTDIR; }

// The ranges of `unread` that lie within a file of `size` bytes (cut at
// its end), and how many bytes they hold.
int64_t UnreadWithin(const std::vector<ByteRange>& unread, double size,
                     std::vector<ByteRange>& within) {
  within.clear();
  int64_t total = 0;
  const int64_t end = int64_t(std::llround(size));
  for (const ByteRange& r : unread) {
    if (r.First >= end) break;
    within.push_back({r.First, std::min(r.End, end)});
    total += within.back().End - within.back().First;
  }
  return total;
}

// "1024 bytes could not be read (bytes 512-1023, 4096-4607)", every range.
std::string UnreadText(const std::vector<ByteRange>& within, int64_t total) {
  std::string text = std::to_string(total) + " bytes could not be read (bytes ";
  for (size_t i = 0; i < within.size(); ++i)
    text += (i ? ", " : "") + std::to_string(within[i].First) + "-" +
            std::to_string(within[i].End - 1);
  return text + ")";
}

constexpr const char* kNotCopied = "These files were not copied or moved as asked:";
constexpr const char* kFolderGone =
    "the target folder is gone (moved or removed by another program); not copied";
constexpr const char* kChangedWhileCopied =
    "the file changed while it was copied (another program is still writing it?); not "
    "copied, the source is kept";

// One file of the streaming phase, as the steps of its copy share it.
struct FileCopy {
  core::FileRec rec;                // the source entry
  std::string path;                 // its target path
  std::string pcPath;               // the PC file made for it; "" on a recorder disk
  bool pcSource = false;
  bool pcTarget = false;
  core::OpenFileRec opened;         // the source as it was opened
  double sourceBytes = 0;           // bytes in a source cluster
  int32_t clusters = 0;             // what is copied: a PC file as it was opened
  double size = 0;
  std::vector<ByteRange> unread;    // the bytes within size that could not be read
  int64_t lost = 0;                 // how many they are, once the file is read
};

class CopyJob {
 public:
  CopyJob(JobHost& host, int side, bool move)
      : host_(host), side_(side), target_(1 - side), move_(move) {}

  void Run();

 private:
  bool Prepare();
  int64_t Recount() { return FSGetSelectedClusters(side_, items_); }
  void NothingToCopy();
  void LeaveOut(const std::string& why);
  void ClosePreparation() { UnloadProgressWindow(); }
  bool DirectoryPhase();
  void RelinkPhase();
  void StreamPhase();
  FileResult CopyFile(size_t i, size_t n, const QueueLine& line);
  // The steps of CopyFile, in their order. The checks give "" to go on,
  // else why the file is not copied; the steps that give a bool have told
  // why when they give false, and left nothing of the copy behind.
  void StartFile(size_t i, size_t n, const QueueLine& line, const core::FileRec& rec);
  std::string OpenSource(FileCopy& f, int32_t entry);
  // The target can take the file; on a PC an older file of its name is set
  // aside.
  std::string ReadyTarget(const FileCopy& f);
  // Copies the clusters, the last one by FlushLastPiece: only the bytes the
  // file still lacks. Copied once every cluster is written, StoppedNow when
  // the user stops at once.
  FileResult StreamClusters(FileCopy& f, const QueueLine& line);
  // False when not written; `why` then tells why, or is left empty where
  // FSDataBufferFailure does.
  bool FlushLastPiece(const FileCopy& f, double targetBytes, std::string& why);
  bool CheckSourceAfterReading(FileCopy& f);
  bool FinishOnRecorder(const FileCopy& f);
  // FinishPcCopy's result told; keepSource when the copy stays but is not
  // one a move may erase its source for.
  bool FinishOnPc(const FileCopy& f, bool& keepSource);
  void EraseMovedSource(const FileCopy& f, int32_t entry);
  // Nothing written yet: the source is closed and the file named with why.
  FileResult Refuse(const FileCopy& f, const std::string& why);
  // The unfinished copy goes (AbandonTarget) and the file is named with why.
  bool Abandon(const FileCopy& f, const std::string& why);
  void AbandonTarget(const std::string& pcPath);
  // An older PC file of the target's name stays, under a passing name, until
  // the copy is complete: SetAsideOlder moves it there ("" in keptPc_ when
  // there is none; false when it cannot be moved), PutBackOlder returns it
  // after a failed copy (never over a file another program put there
  // meanwhile), DropOlder removes it once the copy is safely there.
  bool SetAsideOlder(const std::string& pcPath);
  void PutBackOlder(const std::string& pcPath);
  void DropOlder();
  bool VerifyRecorderEntry(double size, int32_t first, int32_t clusters);
  // Finishes a PC copy on the descriptor it was written through; "" when it
  // is complete and still under its name, else why not.
  std::string FinishPcCopy(const core::FileRec& rec, const std::string& pcPath, double size,
                           bool mustSync, bool& copyKept);
  bool NameTakenByThisJob(const core::FileRec& rec, const std::string& path);
  bool TargetFolderFull(const core::FileRec& rec, const std::string& path);
  void EndStep();
  void Fail(const core::FileRec& rec, const std::string& why) {
    problems_.push_back(ShownName(side_, rec.Name) + ": " + why);
  }
  // The folder of this job that could not be made and holds the PC path
  // `path`; "" for none. What lies below it is not tried.
  std::string FailedFolderAbove(const std::string& path) const {
    for (const std::string& f : failedFolders_)
      if (path.size() > f.size() && path.compare(0, f.size(), f) == 0 && path[f.size()] == '/')
        return f;
    return std::string();
  }
  bool MakePcFolder(const std::string& folder);

  JobHost& host_;
  const int side_;
  const int target_;
  const bool move_;
  bool sameDiskMove_ = false;
  bool streamed_ = false;
  bool menusOff_ = false;
  int afterJob_ = 0;
  std::string sourcePath_;
  std::string targetPath_;
  PaneItems items_;
  std::vector<int32_t> deselect_ = std::vector<int32_t>(kDeselectCapacity, 0);
  int32_t deselectCount_ = 0;
  ProgressState progress_;
  std::vector<std::string> problems_;
  std::string keptPc_;
  std::set<std::string> written_;   // target name keys this job has written
  std::vector<std::string> failedFolders_;   // PC folders not made, told once each
};

// A source whose target name an earlier file of this job already took is
// not copied (it would replace that file); its source is kept.
bool CopyJob::NameTakenByThisJob(const core::FileRec& rec, const std::string& path) {
  if (!written_.count(TargetNameKey(target_, path))) return false;
  Fail(rec, "another file of this job was already written as " + ShownName(target_, path) +
                "; not copied, the source is kept");
  return true;
}

// A recorder folder takes no more entries than its loader reads back: a
// file that does not fit (or whose folder cannot be read) is named, its
// source kept, and the job goes on.
bool CopyJob::TargetFolderFull(const core::FileRec& rec, const std::string& path) {
  if (core::IsPCSide(target_)) return false;
  const int32_t free = core::FreeEntrySlots(target_, path);
  const std::string folder = ShownName(target_, path.substr(0, path.rfind('\\') + 1));
  if (free == -2)
    Fail(rec, "the folder " + folder + " could not be read; not copied, the source is kept");
  else if (free == 0)
    Fail(rec, "the folder " + folder + " is full (a folder holds at most " +
                  std::to_string(core::kMaxDirEntries) + " entries); not copied, the source is kept");
  return free == 0 || free == -2;
}

// The marked lines leave the queue, and every file among them is named
// with `why` in the job's report, as every other file the job leaves out.
void CopyJob::LeaveOut(const std::string& why) {
  const std::string kept = move_ ? "; not moved, the source is kept" : "; not copied";
  QueueLine line;
  for (int32_t k = 0; k < deselectCount_ && size_t(k) < deselect_.size(); ++k) {
    const int32_t position = deselect_[size_t(k)];
    if (position < 0 || size_t(position) >= List3.ListCount()) continue;
    if (!ParseQueueLine(List3.List(size_t(position)), line) || line.Kind != 'F' ||
        !ValidEntry(side_, line.Entry))
      continue;
    Fail(Disk[side_].Files[size_t(line.Entry)], why + kept);
  }
  FSRemoveDeselected(side_, deselect_, deselectCount_);
}

void CopyJob::NothingToCopy() {
  ui::Current().MsgBox("Nothing to copy!", ui::Buttons::OK, ui::Icon::Exclamation);
  ClosePreparation();
}

bool CopyJob::Prepare() {
  if (host_.ItemCount(side_) == 0) return false;
  if (host_.CountSelected(side_) == 0) host_.CheckSelectedItem(side_);
  if (host_.CountSelected(side_) == 0) return false;

  // Relinking only works inside one recorder disk; a move inside one PC
  // drive streams and erases like any other move.
  sameDiskMove_ = move_ && core::DiskId[0] == core::DiskId[1] && !core::IsPCSide(side_);
  if (Disk[target_].SectorsPerCluster == 0) Disk[target_].SectorsPerCluster = Disk[side_].SectorsPerCluster;
  if (Disk[side_].SectorsPerCluster == 0 && Disk[target_].SectorsPerCluster == 0)
    Disk[side_].SectorsPerCluster = Disk[target_].SectorsPerCluster = kPcClusterSectors;
  sourcePath_ = host_.PathLabel(side_);
  targetPath_ = host_.PathLabel(target_);
  if (sameDiskMove_ && core::LowerCaseName(sourcePath_) == core::LowerCaseName(targetPath_)) {
    ui::Current().MsgBox("Source and destination are the same folder. Nothing was moved.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }

  // From the first event processing on, no other command may run.
  StartJob(host_);
  menusOff_ = true;
  Status("Building file list - please wait");
  ShowProgressWindow();
  ui::Current().DoEvents();

  items_ = host_.Items(side_);
  // What the walk of a PC folder leaves out is told at the end with the rest.
  FSBuildCopyList(side_, items_, [](const std::string& text) { Status(text); }, &problems_);
  // Cancelled while the list was built: nothing is copied. Files of no
  // bytes (or empty folders) still go through the job, which copies them or
  // names each with why it cannot: a job never ends without a word.
  if (CancelState > 0 || List3.ListCount() == 0) {
    ClosePreparation();
    return false;
  }

  FSDeselectDestExists(side_, sourcePath_, targetPath_, deselect_, deselectCount_);
  if (deselectCount_ != 0) {
    const ui::Answer answer = ui::Current().MsgBox("Some file(s) already exist.\r\nOverwrite?",
                                                   ui::Buttons::YesNo, ui::Icon::Question);
    if (answer == ui::Answer::Yes) {
      deselectCount_ = 0;
    } else {
      LeaveOut("a file of that name is already at the destination and stays as it is (not "
               "overwritten, as answered)");
    }
    if (Recount() == 0) {
      NothingToCopy();
      return false;
    }
  }

  if (core::IsPCSide(target_) && TargetIs4GBLimited(targetPath_))
    DeselectOver4GB(side_, items_, deselect_, deselectCount_);
  if (deselectCount_ > 0) {
    ui::Current().MsgBox(
        "You are trying to copy files >4GB to a non NTFS partition. This won't work, the file "
        "would be truncated.\r\nThe file(s) have been excluded from the copy process.",
        ui::Buttons::OK, ui::Icon::Information);
    LeaveOut("4 GB or larger, more than a file on the destination's file system can hold");
    if (Recount() == 0) {
      NothingToCopy();
      return false;
    }
  }

  if (!sameDiskMove_) {
    FSDeselectNoSpace(side_, items_, deselect_, deselectCount_);
    if (deselectCount_ > 0) {
      if (host_.CountSelected(side_) == 0) {
        ui::Current().MsgBox("You've selected more files than will fit onto the destination!",
                             ui::Buttons::OK, ui::Icon::Information);
        ClosePreparation();
        return false;
      }
      const ui::Answer answer = ui::Current().MsgBox(
          "You've selected more files than will fit onto the destination! Copy as much as "
          "possible?",
          ui::Buttons::YesNo, ui::Icon::Question);
      if (answer != ui::Answer::Yes) {
        ClosePreparation();
        return false;
      }
      LeaveOut("it does not fit into the free space left on the destination");
      if (Recount() == 0) {
        NothingToCopy();
        return false;
      }
    }
  }
  if (host_.CountSelected(side_) == 0) {
    ClosePreparation();
    return false;
  }
  core::FSRecalculateDirSizes(side_, core::kDirSizesClear, 0);
  core::FSRecalculateDirSizes(target_, core::kDirSizesClear, 0);
  ShowProgressWindow();
  return true;
}

// Creates the target folder of every "D" line of the queue, wherever it
// stands; then the "D" lines leave the queue. False when cancelled.
bool CopyJob::DirectoryPhase() {
  bool any = false;
  for (size_t i = 0; i < List3.ListCount(); ++i)
    if (!List3.List(i).empty() && List3.List(i)[0] == 'D') any = true;
  if (any) {
    const std::vector<QueueLine> lines = QueueLines();
    for (size_t i = 0; i < lines.size(); ++i) {
      if (CancelState > 0) break;
      AllFilesBar(double(i) / double(lines.size()) * 100.0);
      if (lines[i].Kind != 'D' || !ValidEntry(side_, lines[i].Entry)) continue;
      const std::string folder = FSTargetPath(side_, lines[i].Entry, sourcePath_, targetPath_);
      Status("Creating destination tree: " + ShownName(target_, folder));
      ui::Current().DoEvents();
      if (core::IsPCSide(target_)) {
        MakePcFolder(folder);
        continue;
      }
      if (!FSCreateDir(target_, folder))
        problems_.push_back(ShownName(target_, folder) + ": the folder could not be created");
      SyncOtherSide(target_);
    }
    if (CancelState > 0) return false;
  }
  for (size_t i = List3.ListCount(); i-- > 0;)
    if (!List3.List(i).empty() && List3.List(i)[0] == 'D') List3.RemoveItem(i);
  AllFilesBar(0);
  return true;
}

// Makes one folder of the copy on the PC. A failure is told once, by its
// reason; what lies below that folder is not tried (its files are named as
// not copied for want of it).
bool CopyJob::MakePcFolder(const std::string& folder) {
  if (!FailedFolderAbove(folder).empty()) return false;
  // The folder that should hold it was there when the job began (the
  // pane's folder) or made just before: gone now, it is not made again.
  std::string why;
  bool made = platform::PcFolderUsable(PcFolderOf(folder), targetPath_, &why);
  if (!made && GoneError(platform::LastError())) {
    problems_.push_back(folder + ": the folder that should hold it is gone (moved or removed "
                                 "by another program); not created");
  } else {
    made = made && FSCreateDir(target_, folder, targetPath_, &why);
    if (!made) problems_.push_back(folder + ": the folder could not be created (" + why + ")");
  }
  if (!made) failedFolders_.push_back(folder);
  return made;
}

// A move inside one recorder disk: the file keeps its chain; a new entry in
// the target folder is made first, then the old one leaves its folder.
void CopyJob::RelinkPhase() {
  const std::vector<QueueLine> lines = QueueLines();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (CancelState > 0) break;
    const QueueLine& line = lines[i];
    if (line.Kind != 'F' || !ValidEntry(side_, line.Entry)) continue;
    const core::FileRec rec = Disk[side_].Files[size_t(line.Entry)];
    const std::string path = FSTargetPath(side_, line.Entry, sourcePath_, targetPath_);
    AllFilesBar(double(i) / double(lines.size()) * 100.0);
    Status("Moving " + ShownName(target_, path));
    MarkItem(host_, side_, line.Item, true, true);
    ui::Current().DoEvents();
    if (rec.Recovered || rec.Slot < 0 || rec.DirCluster < 0) {
      Fail(rec, "a recovered file must be written to the disk before it can be moved");
      host_.SetItemBold(side_, line.Item, false);
      continue;
    }
    if (core::LowerCaseName(path) == core::LowerCaseName(rec.Name)) {
      Fail(rec, "it would be moved onto itself; it stays where it is");
      host_.SetItemBold(side_, line.Item, false);
      continue;
    }
    if (NameTakenByThisJob(rec, path) || TargetFolderFull(rec, path)) {
      host_.SetItemBold(side_, line.Item, false);
      continue;
    }
    if (!core::CreateTopfFile(target_, path, false, rec.Size, rec.RecDate, rec.StartCluster)) {
      Fail(rec, "the new directory entry could not be written; the file stays where it is");
      host_.SetItemBold(side_, line.Item, false);
      continue;
    }
    SyncOtherSide(target_);   // an overwritten file's chain was freed there
    written_.insert(TargetNameKey(target_, path));
    const int32_t created = Disk[target_].FileCount - 1;
    if (!core::FSEraseFile(side_, line.Entry, false)) {
      // Never two entries on one chain: the new entry goes again.
      core::FSEraseFile(target_, created, false);
      Fail(rec, "the old directory entry could not be removed; the file stays where it is");
      host_.SetItemBold(side_, line.Item, false);
      continue;
    }
    MarkItem(host_, side_, line.Item, false, false);
  }
}

bool CopyJob::SetAsideOlder(const std::string& pcPath) {
  keptPc_.clear();
  struct stat st {};
  if (pcPath.empty() || ::lstat(pcPath.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return true;
  return platform::PcSetAside(pcPath, keptPc_);
}

void CopyJob::PutBackOlder(const std::string& pcPath) {
  if (keptPc_.empty()) return;
  if (!platform::PcRenameNoReplace(keptPc_, pcPath))
    problems_.push_back(pcPath + ": the older file of that name was kept as \"" + keptPc_ + "\"");
  keptPc_.clear();
}

void CopyJob::DropOlder() {
  if (!keptPc_.empty()) ::unlink(keptPc_.c_str());
  keptPc_.clear();
}

void CopyJob::AbandonTarget(const std::string& pcPath) {
  FSDataBufferDrop();
  if (core::IsPCSide(target_)) {
    // Only the unfinished copy goes, never what another program put under
    // its name meanwhile.
    const bool ours = StillNamed(Disk[target_].Handle, pcPath);
    core::FSCloseFile(target_);
    if (ours) ::unlink(pcPath.c_str());
    PutBackOlder(pcPath);
  } else {
    FSDiscardNewChain(target_);
    core::FSCloseFile(target_);
  }
  core::FSCloseFile(side_);
}

bool CopyJob::VerifyRecorderEntry(double size, int32_t first, int32_t clusters) {
  const core::DiskRec& t = Disk[target_];
  for (int32_t j = t.FileCount - 1; j >= 0; --j) {
    const core::FileRec& r = t.Files[size_t(j)];
    if (r.Name == core::kErasedName || r.IsDir || r.Recovered) continue;
    if (r.StartCluster != first) continue;
    return r.Size == size && r.ClusterCount == clusters && r.Slot >= 0;
  }
  return false;
}

std::string CopyJob::FinishPcCopy(const core::FileRec& rec, const std::string& pcPath,
                                  double size, bool mustSync, bool& copyKept) {
  // Cut, checked, dated and synced on the descriptor it was written through:
  // only the copy is touched, whatever its name names by now.
  const int handle = Disk[target_].Handle;
  const int64_t length = int64_t(std::llround(size));
  platform::FileState copy;
  copyKept = false;
  if (!platform::TruncateHandle(handle, length) || !platform::HandleState(handle, copy))
    return "the copy could not be given the size of the source (" + SystemReason() + "); not copied";
  if (copy.Size != length) return "the copy does not have the size of the source; not copied";
  errno = 0;
  const bool dated =
      rec.RecDate <= 100 || core::FileDateTimeSet(handle, rec.RecDate, rec.RecDate, rec.RecDate);
  const std::string dateFailure =
      errno != 0 ? PcFailureText(errno) : "the date lies outside what the PC's file times hold";
  copyKept = true;
  if (mustSync && !platform::SyncHandle(handle))
    return "copied, but the copy could not be saved safely on the PC (" + SystemReason() +
           "); the source is kept";
  if (!StillNamed(handle, pcPath))
    return "copied, but another program moved or replaced the copy while it was written (it "
           "is no longer \"" + pcPath + "\"); the source is kept";
  // Its entry in its folder too, now that the name is known to be the copy's.
  if (mustSync && !platform::SyncFile(pcPath))
    return "copied, but the copy could not be saved safely on the PC (" + SystemReason() +
           "); the source is kept";
  // The source is the only place that still holds the recording date.
  if (!dated)
    return "copied, but the recording date could not be set on the copy (" + dateFailure +
           "); the source is kept";
  return std::string();
}

// Marks the file's item and shows which file of the job is copied.
void CopyJob::StartFile(size_t i, size_t n, const QueueLine& line, const core::FileRec& rec) {
  MarkItem(host_, side_, line.Item, true, true);
  ui::Current().DoEvents();
  progress_.FileStart = JobNow();

  std::string folder, base, ext;
  core::SeparatePathComponents(rec.Name, folder, base, ext,
                               core::IsPCSide(side_) ? core::kPcSeparator : core::kRecorderSeparator);
  Status("Actual file " + std::to_string(i + 1) + " of " + std::to_string(n) + " = " +
         ShownName(side_, BelowFolder(folder, sourcePath_) + base));
}

// The source must be sound before anything is written. A PC file is copied
// as it is now, when its turn comes: its length when it was opened, not the
// one the pane listed.
std::string CopyJob::OpenSource(FileCopy& f, int32_t entry) {
  core::FSOpenFile(side_, entry, false);
  f.opened = Disk[side_].OpenFile;
  f.sourceBytes = double(Disk[side_].SectorsPerCluster) * core::kSectorSize;
  f.clusters = f.rec.ClusterCount;
  f.size = f.rec.Size;
  if (f.pcSource) {
    if (Disk[side_].Handle < 1) return OpenFailure(f.rec.Name);
    f.size = f.opened.Size;
    f.clusters = f.opened.ClusterCount;
    platform::FileState target;
    if (f.pcTarget && platform::PathState(f.pcPath, target) && target.Device == f.opened.PcDevice &&
        target.Inode == f.opened.PcInode)
      return "it would be copied onto itself; it stays as it is";
    return std::string();
  }
  std::vector<int32_t> chain;
  const bool sizeFits = f.rec.Size > (double(f.clusters) - 1) * f.sourceBytes &&
                        f.rec.Size <= double(f.clusters) * f.sourceBytes;
  if (!sizeFits || !WalkChain(side_, f.rec.StartCluster, f.clusters, chain))
    return "the file is damaged (its cluster chain does not match its size); not copied";
  return std::string();
}

std::string CopyJob::ReadyTarget(const FileCopy& f) {
  if (!f.pcTarget)
    return f.size <= 0 ? "an empty file cannot be stored on the recorder disk; not copied"
                       : std::string();
  const std::string failed = FailedFolderAbove(f.pcPath);
  if (!failed.empty())
    return "not copied, its folder " + failed + " could not be created" +
           (move_ ? "; the source is kept" : "");
  // Every folder below the target is entered by the rule that made it: a
  // link another user put in place of one meanwhile is not written through.
  std::string why;
  if (!platform::PcFolderUsable(PcFolderOf(f.pcPath), targetPath_, &why))
    return GoneError(platform::LastError()) ? kFolderGone
                                            : "its folder cannot be used (" + why + "); not copied";
  struct stat there {};
  if (::lstat(f.pcPath.c_str(), &there) == 0 && !S_ISREG(there.st_mode) &&
      !S_ISLNK(there.st_mode) && !S_ISDIR(there.st_mode))
    return KindOfFile(there.st_mode) + " of that name is in the target folder; not copied";
  if (!SetAsideOlder(f.pcPath))
    return "the older file of that name could not be set aside (" + SystemReason() + "); not copied";
  return std::string();
}

FileResult CopyJob::StreamClusters(FileCopy& f, const QueueLine& line) {
  const double targetBytes = double(Disk[target_].SectorsPerCluster) * core::kSectorSize;
  FSUnreadableBytes().clear();
  for (int32_t k = 0; k < f.clusters; ++k) {
    if (CancelState > 1) {
      AbandonTarget(f.pcPath);
      host_.SetItemBold(side_, line.Item, false);
      return FileResult::StoppedNow;
    }
    SwitchToCurrentFile(progress_, CancelState, Disk[side_].OpenFile.ClustersDone, f.clusters);
    if (!FSDataBufferRead(side_)) {
      // A PC file cut short meanwhile reads short.
      const bool changed = f.pcSource && !SourceAsOpened(f.opened, f.rec.Name);
      Abandon(f, changed ? kChangedWhileCopied
                         : "cluster " + std::to_string(k) + " could not be read (" +
                               FSDataBufferFailure() + "); not copied");
      return FileResult::Failed;
    }
    // Nothing on a recorder disk could tell its zeros from the recording:
    // only a file read in full is copied there.
    if (const int64_t lost = UnreadWithin(FSUnreadableBytes(), f.size, f.unread);
        !f.pcTarget && lost > 0) {
      Abandon(f, UnreadText(f.unread, lost) +
                     "; onto a recorder disk only a file read in full is copied (a copy to the "
                     "PC keeps all that can be read); not copied");
      return FileResult::Failed;
    }
    std::string why;
    const bool ok =
        k < f.clusters - 1 ? FSDataBufferWrite(target_) : FlushLastPiece(f, targetBytes, why);
    if (!ok) {
      Abandon(f, "writing the copy failed (" + (why.empty() ? FSDataBufferFailure() : why) +
                     "); not copied");
      return FileResult::Failed;
    }
    progress_.ClustersDone += 1;
    RefreshWhenDue(progress_, Disk[side_].OpenFile.ClustersDone, f.clusters, f.sourceBytes, host_);
    ui::Current().StepEvents();
  }
  return FileResult::Copied;
}

bool CopyJob::FlushLastPiece(const FileCopy& f, double targetBytes, std::string& why) {
  const double rest = f.size - double(Disk[target_].OpenFile.ClustersDone) * targetBytes;
  if (rest < 0 || rest > double(core::DataBufferFill)) {
    why = "the bytes read do not add up to the file's size";
    return false;
  }
  // Between two recorder disks the buffer keeps the disk's word order: the
  // last piece ends on a whole 32-bit word.
  double fill = rest;
  if (!f.pcSource && !f.pcTarget)
    fill = std::min(std::ceil(rest / 4.0) * 4.0, double(core::DataBufferFill));
  core::DataBufferFill = int32_t(std::llround(fill));
  return FSDataBufferFlush(target_);
}

// Every byte read: the copy is complete only when the source still is what
// it was when its copy began (a download or capture still running has
// grown, or was rewritten). A file of which no byte could be read gets no
// copy.
bool CopyJob::CheckSourceAfterReading(FileCopy& f) {
  if (f.pcSource && !SourceAsOpened(f.opened, f.rec.Name)) return Abandon(f, kChangedWhileCopied);
  f.lost = UnreadWithin(FSUnreadableBytes(), f.size, f.unread);
  if (f.lost > 0 && double(f.lost) >= f.size)
    return Abandon(f, "no part of it could be read; not copied");
  return true;
}

// The FAT, then the entry, which is then read back.
bool CopyJob::FinishOnRecorder(const FileCopy& f) {
  const int32_t first = Disk[target_].OpenFile.FreeHint;
  const int32_t written = Disk[target_].OpenFile.ClustersDone;
  if (!core::UpdateTopfFAT(target_))
    return Abandon(f, "the FAT could not be written (" + core::ClusterFailure() + "); not copied");
  if (!core::CreateTopfFile(target_, f.path, false, f.size, f.rec.RecDate, first)) {
    AbandonTarget(f.pcPath);
    const bool fatBack = core::UpdateTopfFAT(target_);
    SyncOtherSide(target_);
    Fail(f.rec,
         std::string("the directory entry could not be written; not copied") +
             (fatBack ? "" : " (its clusters stay allocated: please run a file system check)"));
    return false;
  }
  SyncOtherSide(target_);
  core::FSCloseFile(side_);
  core::FSCloseFile(target_);
  if (!VerifyRecorderEntry(f.size, first, written)) {
    Fail(f.rec, "the copy could not be verified; the source is kept");
    return false;
  }
  return true;
}

bool CopyJob::FinishOnPc(const FileCopy& f, bool& keepSource) {
  bool copyKept = false;
  const std::string why =
      FinishPcCopy(f.rec, f.pcPath, f.size, move_ || !keptPc_.empty(), copyKept);
  if (!copyKept) return Abandon(f, why);
  core::FSCloseFile(side_);
  core::FSCloseFile(target_);
  if (!why.empty()) {
    // The copy stays as it is; so does the older file of its name.
    Fail(f.rec, why + std::string(keptPc_.empty() ? "" : " and so is the older file, as \"" +
                                                            keptPc_ + "\""));
    keptPc_.clear();
    keepSource = true;
  }
  // Not a complete copy: the user learns where it has zeros, the source
  // and any older file of its name stay.
  if (f.lost > 0) {
    Fail(f.rec, UnreadText(f.unread, f.lost) + ", which are zeros in the copy" +
                    (move_ ? "; the source is kept" : "") +
                    (keptPc_.empty() ? "" : "; the older file of that name is kept as \"" +
                                                keptPc_ + "\""));
    keptPc_.clear();
    keepSource = true;
  }
  return true;
}

// A PC source goes only while it still holds no byte the copy lacks.
void CopyJob::EraseMovedSource(const FileCopy& f, int32_t entry) {
  if (f.pcSource && !SourceAsOpened(f.opened, f.rec.Name)) {
    Fail(f.rec, "copied, but the file changed after its copy began; the source is kept");
  } else if (!f.pcSource && core::DiskWriteRefused(side_)) {
    Fail(f.rec, "copied, but its disk could not be read in full and takes no write; the source "
                "is kept");
  } else if (core::FSEraseFile(side_, entry, true)) {
    SyncOtherSide(side_);
  } else {
    Fail(f.rec, "copied, but the source could not be erased");
  }
}

FileResult CopyJob::Refuse(const FileCopy& f, const std::string& why) {
  core::FSCloseFile(side_);
  Fail(f.rec, why);
  return FileResult::Failed;
}

bool CopyJob::Abandon(const FileCopy& f, const std::string& why) {
  AbandonTarget(f.pcPath);
  Fail(f.rec, why);
  return false;
}

FileResult CopyJob::CopyFile(size_t i, size_t n, const QueueLine& line) {
  FileCopy f;
  f.rec = Disk[side_].Files[size_t(line.Entry)];
  StartFile(i, n, line, f.rec);
  f.path = FSTargetPath(side_, line.Entry, sourcePath_, targetPath_);
  f.pcSource = core::IsPCSide(side_);
  f.pcTarget = core::IsPCSide(target_);
  f.pcPath = f.pcTarget ? PcCreateName(f.path) : std::string();

  if (NameTakenByThisJob(f.rec, f.path) || TargetFolderFull(f.rec, f.path)) {
    host_.SetItemBold(side_, line.Item, false);
    return FileResult::Failed;
  }

  if (const std::string why = OpenSource(f, line.Entry); !why.empty()) return Refuse(f, why);
  if (const std::string why = ReadyTarget(f); !why.empty()) return Refuse(f, why);
  if (std::string why; !FSCreateFile(target_, f.path, &why)) {
    core::FSCloseFile(target_);
    if (f.pcTarget) PutBackOlder(f.pcPath);
    return Refuse(f, "the target file could not be created (" + why + "); not copied");
  }

  if (const FileResult streamed = StreamClusters(f, line); streamed != FileResult::Copied)
    return streamed;
  if (!CheckSourceAfterReading(f)) return FileResult::Failed;

  // Finish the file: on a recorder disk the data is there, then the FAT,
  // then the entry; on a PC the exact size and the recording date.
  // The PC copy must be on the PC's storage before the older file of its
  // name goes, and before a move erases its source: a power cut right after
  // either must not take both. A plain copy of a new file risks nothing, so
  // it is left to the PC's own write-back.
  bool keepSource = false;
  if (!(f.pcTarget ? FinishOnPc(f, keepSource) : FinishOnRecorder(f))) return FileResult::Failed;

  written_.insert(TargetNameKey(target_, f.path));
  DropOlder();
  if (move_ && !keepSource && f.rec.Slot > -1 && !f.rec.Recovered) EraseMovedSource(f, line.Entry);
  MarkItem(host_, side_, line.Item, false, false);
  ui::Current().DoEvents();
  return FileResult::Copied;
}

void CopyJob::StreamPhase() {
  streamed_ = true;
  progress_ = ProgressState();
  progress_.JobStart = JobNow();
  progress_.TotalClusters = Recount();
  const std::vector<QueueLine> lines = QueueLines();
  for (size_t i = 0; i < lines.size() && CancelState == 0; ++i) {
    const QueueLine& line = lines[i];
    if (line.Kind != 'F' || !ValidEntry(side_, line.Entry)) continue;
    const FileResult result = CopyFile(i, lines.size(), line);
    if (result == FileResult::StoppedNow) break;
    if (CancelState > 0) break;
  }
  afterJob_ = ProgressWindow()->AfterJobChoice();
}

void CopyJob::EndStep() {
  JobRunning = false;
  UnloadProgressWindow();
  FSCompressFileList(side_);
  const bool sameDisk = core::SameDisk() && !core::IsPCSide(side_);
  if (sameDisk) {
    // One disk, one model: the target is read again and runs both sides'
    // folder-size lists; the source then takes a copy of it.
    core::WorkList& from = core::List4[side_];
    for (size_t k = 0; k < from.ListCount(); ++k) core::List4[target_].AddItem(from.List(k));
    from.Clear();
  } else if (move_) {
    core::FSRecalculateDirSizes(side_, core::kDirSizesRun, 0);
  }
  core::LoadTopf(target_, true);
  core::FSRecalculateDirSizes(target_, core::kDirSizesRun, 0);
  host_.ShowDirList(target_);
  host_.ShowFileList(target_);
  host_.ResetSummary(side_);
  if (sameDisk) core::LoadTopf(side_, false);
  if (move_ || sameDisk) {
    host_.ShowDirList(side_);
    host_.ShowFileList(side_);
  }
  if (CancelState == 0 && streamed_) {
    if (afterJob_ == 1) DoHibernate();
    if (afterJob_ == 2) DoShutdown();
  }
  UnloadCountdownWindow();
  if (menusOff_) host_.EnableMenus();
  menusOff_ = false;
  ReportProblems(kNotCopied, problems_);
}

void CopyJob::Run() {
  try {
    if (!Prepare()) {
      JobRunning = false;
      ClosePreparation();
      if (menusOff_) host_.EnableMenus();
      ReportProblems(kNotCopied, problems_);
      return;
    }
    if (DirectoryPhase()) {
      if (sameDiskMove_) {
        RelinkPhase();
      } else {
        StreamPhase();
      }
    }
    EndStep();
  } catch (...) {
    // A run-time error ends the job: nothing stays half open or disabled.
    JobRunning = false;
    FSDataBufferDrop();
    core::FSCloseFile(side_);
    core::FSCloseFile(target_);
    UnloadProgressWindow();
    UnloadCountdownWindow();
    if (menusOff_) host_.EnableMenus();
    throw;
  }
}

}  // namespace

bool WalkChain(int side, int32_t first, int32_t count, std::vector<int32_t>& chain) {
  chain.clear();
  const core::DiskRec& d = Disk[side];
  const int32_t last = core::LastFatIndex(side);
  if (count <= 0) return count == 0;
  std::vector<bool> seen(size_t(std::max(last, 0)) + 1, false);
  int32_t c = first;
  for (int32_t k = 0; k < count; ++k) {
    if (c < 1 || c > last || seen[size_t(c)]) return false;
    seen[size_t(c)] = true;
    chain.push_back(c);
    const int32_t next = d.FAT[size_t(c)].Next;
    if (k < count - 1) {
      if (next == -1 || next == 0) return false;
      c = next;
    }
  }
  return true;
}

void DoCopy(int side, bool move) {
  core::ProcScope scope("DoCopy");
  core::CheckSideIndex(side);
  JobHost* host = Host();
  if (!host) return;
  CancelState = 0;
  CopyJob job(*host, side, move);
  job.Run();
}

}  // namespace transfer
