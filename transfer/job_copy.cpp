// The copy and move job.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

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
#include "transfer/form2.h"
#include "transfer/form4.h"
#include "transfer/job_host.h"
#include "transfer/job_internal.h"
#include "transfer/job_state.h"
#include "transfer/jobs.h"
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
// CreateTopfFile stores and compares it (case ignored, cut to what an entry
// holds). Two sources with one key would replace each other. Recorder names
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
  const size_t cut = path.rfind('\\');
  const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  if (!name.empty() && name.back() == '.') name.pop_back();
  return core::LowerCaseName(folder + name.substr(0, size_t(core::kMaxEntryName)));
}

class CopyJob {
 public:
  CopyJob(JobHost& host, int side, bool move)
      : host_(host), side_(side), target_(1 - side), move_(move) {}

  void Run();

 private:
  bool Prepare();
  int64_t Recount() { return FSGetSelectedClusters(side_, items_); }
  void NothingToCopy();
  void ClosePreparation() { UnloadProgressWindow(); }
  bool DirectoryPhase();
  void RelinkPhase();
  void StreamPhase();
  FileResult CopyFile(size_t i, size_t n, const QueueLine& line);
  void AbandonTarget(const std::string& pcPath);
  // An older PC file of the target's name stays, under a passing name, until
  // the copy is complete: SetAsideOlder moves it there ("" in keptPc_ when
  // there is none; false when it cannot be moved), PutBackOlder returns it
  // after a failed copy, DropOlder removes it once the copy is safely there.
  bool SetAsideOlder(const std::string& pcPath);
  void PutBackOlder(const std::string& pcPath);
  void DropOlder();
  bool VerifyRecorderEntry(const core::FileRec& source, int32_t first, int32_t clusters);
  bool NameTakenByThisJob(const core::FileRec& rec, const std::string& path);
  void EndStep();
  void Fail(const core::FileRec& rec, const std::string& why) {
    problems_.push_back(ShownName(side_, rec.Name) + ": " + why);
  }

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
};

// A source whose target name an earlier file of this job already took is
// not copied (it would replace that file); its source is kept.
bool CopyJob::NameTakenByThisJob(const core::FileRec& rec, const std::string& path) {
  if (!written_.count(TargetNameKey(target_, path))) return false;
  Fail(rec, "another file of this job was already written as " + ShownName(target_, path) +
                "; not copied, the source is kept");
  return true;
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
  FSBuildCopyList(side_, items_, [](const std::string& text) { Status(text); });
  // Cancelled while the list was built: nothing is copied.
  if (CancelState > 0 || Recount() == 0) {
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
      FSRemoveDeselected(side_, deselect_, deselectCount_);
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
    FSRemoveDeselected(side_, deselect_, deselectCount_);
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
      FSRemoveDeselected(side_, deselect_, deselectCount_);
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
    if (NameTakenByThisJob(rec, path)) {
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
  for (int n = 0; n < 1000; ++n) {
    const std::string aside = pcPath + (n ? "." + std::to_string(n) : std::string()) + ".old";
    if (::lstat(aside.c_str(), &st) == 0) continue;
    if (std::rename(pcPath.c_str(), aside.c_str()) != 0) return false;
    keptPc_ = aside;
    return true;
  }
  return false;
}

void CopyJob::PutBackOlder(const std::string& pcPath) {
  if (keptPc_.empty()) return;
  std::rename(keptPc_.c_str(), pcPath.c_str());
  keptPc_.clear();
}

void CopyJob::DropOlder() {
  if (!keptPc_.empty()) ::unlink(keptPc_.c_str());
  keptPc_.clear();
}

void CopyJob::AbandonTarget(const std::string& pcPath) {
  FSDataBufferDrop();
  if (core::IsPCSide(target_)) {
    core::FSCloseFile(target_);
    if (!pcPath.empty()) ::unlink(pcPath.c_str());
    PutBackOlder(pcPath);
  } else {
    FSDiscardNewChain(target_);
    core::FSCloseFile(target_);
  }
  core::FSCloseFile(side_);
}

bool CopyJob::VerifyRecorderEntry(const core::FileRec& source, int32_t first, int32_t clusters) {
  const core::DiskRec& t = Disk[target_];
  for (int32_t j = t.FileCount - 1; j >= 0; --j) {
    const core::FileRec& r = t.Files[size_t(j)];
    if (r.Name == core::kErasedName || r.IsDir || r.Recovered) continue;
    if (r.StartCluster != first) continue;
    return r.Size == source.Size && r.ClusterCount == clusters && r.Slot >= 0;
  }
  return false;
}

FileResult CopyJob::CopyFile(size_t i, size_t n, const QueueLine& line) {
  const core::FileRec rec = Disk[side_].Files[size_t(line.Entry)];
  MarkItem(host_, side_, line.Item, true, true);
  ui::Current().DoEvents();
  progress_.FileStart = JobNow();

  std::string folder, base, ext;
  core::SeparatePathComponents(rec.Name, folder, base, ext,
                               core::IsPCSide(side_) ? core::kPcSeparator : core::kRecorderSeparator);
  Status("Actual file " + std::to_string(i + 1) + " of " + std::to_string(n) + " = " +
         ShownName(side_, BelowFolder(folder, sourcePath_) + base));
  const std::string path = FSTargetPath(side_, line.Entry, sourcePath_, targetPath_);
  const bool pcTarget = core::IsPCSide(target_);
  const std::string pcPath = pcTarget ? PcCreateName(path) : std::string();

  if (NameTakenByThisJob(rec, path)) {
    host_.SetItemBold(side_, line.Item, false);
    return FileResult::Failed;
  }

  // The source must be sound before anything is written.
  core::FSOpenFile(side_, line.Entry, false);
  const double sourceBytes = double(Disk[side_].SectorsPerCluster) * core::kSectorSize;
  int32_t clusters = rec.ClusterCount;
  if (core::IsPCSide(side_)) {
    clusters = sourceBytes > 0 ? int32_t(std::ceil(rec.Size / sourceBytes)) : 0;
    Disk[side_].OpenFile.ClusterCount = clusters;
    if (Disk[side_].Handle < 1) {
      core::FSCloseFile(side_);
      Fail(rec, "the file cannot be opened");
      return FileResult::Failed;
    }
  } else {
    std::vector<int32_t> chain;
    const bool sizeFits = rec.Size > (double(clusters) - 1) * sourceBytes &&
                          rec.Size <= double(clusters) * sourceBytes;
    if (!sizeFits || !WalkChain(side_, rec.StartCluster, clusters, chain)) {
      core::FSCloseFile(side_);
      Fail(rec, "the file is damaged (its cluster chain does not match its size); not copied");
      return FileResult::Failed;
    }
  }
  if (!pcTarget && rec.Size <= 0) {
    core::FSCloseFile(side_);
    Fail(rec, "an empty file cannot be stored on the recorder disk");
    return FileResult::Failed;
  }
  if (pcTarget && !SetAsideOlder(pcPath)) {
    core::FSCloseFile(side_);
    Fail(rec, "the older file of that name could not be set aside; not copied");
    return FileResult::Failed;
  }
  if (!FSCreateFile(target_, path)) {
    core::FSCloseFile(side_);
    core::FSCloseFile(target_);
    if (pcTarget) PutBackOlder(pcPath);
    Fail(rec, "the target file could not be created");
    return FileResult::Failed;
  }

  const double targetBytes = double(Disk[target_].SectorsPerCluster) * core::kSectorSize;
  for (int32_t k = 0; k < clusters; ++k) {
    if (CancelState > 1) {
      AbandonTarget(pcPath);
      host_.SetItemBold(side_, line.Item, false);
      return FileResult::StoppedNow;
    }
    SwitchToCurrentFile(progress_, CancelState, Disk[side_].OpenFile.ClustersDone, clusters);
    bool ok = FSDataBufferRead(side_);
    if (!ok) {
      AbandonTarget(pcPath);
      Fail(rec, "cluster " + std::to_string(k) + " could not be read; not copied");
      return FileResult::Failed;
    }
    if (k < clusters - 1) {
      ok = FSDataBufferWrite(target_);
    } else {
      const double rest = rec.Size - double(Disk[target_].OpenFile.ClustersDone) * targetBytes;
      if (rest < 0 || rest > double(core::DataBufferFill)) {
        ok = false;
      } else {
        // Between two recorder disks the buffer keeps the disk's word
        // order: the last piece ends on a whole 32-bit word.
        double fill = rest;
        if (!core::IsPCSide(side_) && !pcTarget)
          fill = std::min(std::ceil(rest / 4.0) * 4.0, double(core::DataBufferFill));
        core::DataBufferFill = int32_t(std::llround(fill));
        ok = FSDataBufferFlush(target_);
      }
    }
    if (!ok) {
      AbandonTarget(pcPath);
      Fail(rec, "writing the copy failed (disk full or write error); not copied");
      return FileResult::Failed;
    }
    progress_.ClustersDone += 1;
    RefreshWhenDue(progress_, Disk[side_].OpenFile.ClustersDone, clusters, sourceBytes, host_);
    ui::Current().StepEvents();
  }

  // Finish the file: on a recorder disk the data is there, then the FAT,
  // then the entry; on a PC the exact size and the recording date.
  if (!pcTarget) {
    const int32_t first = Disk[target_].OpenFile.FreeHint;
    const int32_t written = Disk[target_].OpenFile.ClustersDone;
    if (!core::UpdateTopfFAT(target_)) {
      AbandonTarget(pcPath);
      Fail(rec, "the FAT could not be written; not copied");
      return FileResult::Failed;
    }
    if (!core::CreateTopfFile(target_, path, false, rec.Size, rec.RecDate, first)) {
      AbandonTarget(pcPath);
      core::UpdateTopfFAT(target_);
      SyncOtherSide(target_);
      Fail(rec, "the directory entry could not be written; not copied");
      return FileResult::Failed;
    }
    SyncOtherSide(target_);
    core::FSCloseFile(side_);
    core::FSCloseFile(target_);
    if (!VerifyRecorderEntry(rec, first, written)) {
      Fail(rec, "the copy could not be verified; the source is kept");
      return FileResult::Failed;
    }
  } else {
    core::FSCloseFile(side_);
    core::FSCloseFile(target_);
    qlib::TruncateFile64(pcPath.c_str(), int64_t(std::llround(rec.Size)));
    if (platform::FileLength(pcPath) != int64_t(std::llround(rec.Size))) {
      ::unlink(pcPath.c_str());
      PutBackOlder(pcPath);
      Fail(rec, "the copy does not have the size of the source; not copied");
      return FileResult::Failed;
    }
    if (rec.RecDate > 100) core::FileDateTimeSet(pcPath, rec.RecDate, rec.RecDate, rec.RecDate);
  }

  written_.insert(TargetNameKey(target_, path));

  // The PC copy must be on the PC's storage before the older file of its
  // name goes, and before a move erases its source: a power cut right after
  // either must not take both. A plain copy of a new file risks nothing, so
  // it is left to the PC's own write-back.
  bool keepSource = false;
  const bool mustSync = move_ || !keptPc_.empty();
  if (pcTarget && mustSync && !platform::SyncFile(pcPath)) {
    Fail(rec, "copied, but the copy could not be saved safely on the PC; the source is kept" +
                  std::string(keptPc_.empty() ? "" : " and so is the older file, as \"" +
                                                         keptPc_ + "\""));
    keptPc_.clear();
    keepSource = true;
  }
  DropOlder();
  if (move_ && !keepSource && rec.Slot > -1 && !rec.Recovered) {
    if (core::FSEraseFile(side_, line.Entry, true)) {
      SyncOtherSide(side_);
    } else {
      Fail(rec, "copied, but the source could not be erased");
    }
  }
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
  ReportProblems("These files were not copied or moved as asked:", problems_);
}

void CopyJob::Run() {
  try {
    if (!Prepare()) {
      JobRunning = false;
      ClosePreparation();
      if (menusOff_) host_.EnableMenus();
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
