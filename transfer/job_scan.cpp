// The stream scan: is a recording's transport stream scrambled?
#include <QProgressBar>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/entry_edit.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "transfer/copy_queue.h"
#include "transfer/progress_window.h"
#include "transfer/countdown_window.h"
#include "transfer/job_host.h"
#include "transfer/job_internal.h"
#include "transfer/job_state.h"
#include "transfer/jobs.h"
#include "ui/ui.h"

namespace transfer {

using namespace jobs_detail;
using core::Disk;

namespace {

constexpr size_t kPacket = 188;
constexpr int32_t kCryptValueOffset = 1396;

bool IsRecording(const core::FileRec& rec) {
  if (rec.IsDir) return false;
  std::string folder, base, ext;
  core::SeparatePathComponents(rec.Name, folder, base, ext, core::kRecorderSeparator);
  for (char& ch : ext)
    if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
  return ext == "rec";
}

// The PCR PID from the program map table, searched along the chain (each
// index once, at most the file's clusters); -1 when none was found.
// `unreadable` tells whether a cluster of the chain could not be read.
int32_t SearchPmt(int side, const core::FileRec& rec, bool& unreadable) {
  unreadable = false;
  const core::DiskRec& d = Disk[side];
  const int32_t last = core::LastFatIndex(side);
  std::vector<bool> seen(size_t(std::max(last, 0)) + 1, false);
  int32_t c = rec.StartCluster;
  for (int32_t k = 0; k < rec.ClusterCount; ++k) {
    if (c < 1 || c > last || seen[size_t(c)]) break;
    seen[size_t(c)] = true;
    if (core::ReadTopfCluster(side, c + 1)) {
      const int32_t pid = FindPcrPid(core::ClusterBuffer.data(), core::ClusterBuffer.size());
      if (pid >= 0) return pid;
    } else {
      unreadable = true;
    }
    c = d.FAT[size_t(c)].Next;
  }
  return -1;
}

bool StartsWithRecHeader(const std::vector<uint8_t>& cluster) {
  return cluster.size() > size_t(kCryptValueOffset) && std::memcmp(cluster.data(), "TFrc", 4) == 0 &&
         cluster[4] == 0x50 && cluster[5] == 0;
}

// The list's record of the other pane, when both show this disk.
void FollowOnOtherSide(int side, const core::FileRec& rec) {
  if (!core::SameDisk()) return;
  core::DiskRec& o = Disk[core::OtherSide(side)];
  for (int32_t j = 0; j < o.FileCount; ++j) {
    core::FileRec& r = o.Files[size_t(j)];
    if (r.DirCluster == rec.DirCluster && r.Slot == rec.Slot && r.StartCluster == rec.StartCluster) {
      r.CryptValid = rec.CryptValid;
      r.CryptFlags = rec.CryptFlags;
      return;
    }
  }
}

void ScanJob(JobHost& host, int side) {
  if (host.ItemCount(side) == 0) return;
  if (host.CountSelected(side) == 0) host.CheckSelectedItem(side);
  StartJob(host);
  std::vector<std::string> noPmt;
  std::vector<std::string> noHeader;
  std::vector<std::string> failed;
  int afterJob = 0;

  try {
    Status("Building file list - please wait");
    ShowProgressWindow();
    ui::Current().DoEvents();
    const PaneItems items = host.Items(side);
    FSBuildCopyList(side, items, [](const std::string& text) { Status(text); });
    ProgressState progress;
    progress.TotalClusters = FSGetSelectedClusters(side, items);
    if (progress.TotalClusters == 0) {
      EndJob(host);
      return;
    }
    for (size_t i = List3.ListCount(); i-- > 0;) {
      QueueLine line;
      if (!ParseQueueLine(List3.List(i), line) || line.Kind == 'D' ||
          !ValidEntry(side, line.Entry) || !IsRecording(Disk[side].Files[size_t(line.Entry)]))
        List3.RemoveItem(i);
    }

    AllFilesBar(0);
    progress.JobStart = JobNow();
    const double clusterBytes = double(Disk[side].SectorsPerCluster) * core::kSectorSize;
    const std::string folderLabel = host.PathLabel(side);
    const std::vector<QueueLine> lines = QueueLines();
    const size_t m = lines.size();
    const int32_t last = core::LastFatIndex(side);
    // A cancel given while the list was built stops before the first file.
    for (size_t i = 0; i < m && CancelState == 0; ++i) {
      const QueueLine& line = lines[i];
      const core::FileRec rec = Disk[side].Files[size_t(line.Entry)];
      MarkItem(host, side, line.Item, true, true);
      ui::Current().DoEvents();
      progress.FileStart = JobNow();
      std::string folder, base, ext;
      core::SeparatePathComponents(rec.Name, folder, base, ext, core::kRecorderSeparator);
      std::string shown = BelowFolder(folder, folderLabel) + base;
      if (!ext.empty()) shown += "." + ext;
      Status("Actual file " + std::to_string(i + 1) + " of " + std::to_string(m) + " = " +
             ShownName(side, shown));

      bool unreadable = false;
      const int32_t pcrPid = SearchPmt(side, rec, unreadable);
      if (pcrPid < 0) {
        (unreadable ? failed : noPmt).push_back(ShownName(side, rec.Name));
        host.SetItemBold(side, line.Item, false);
        ui::Current().DoEvents();
        if (CancelState > 0) break;
        continue;
      }

      int64_t doneInFile = 0;
      bool scrambled = false;
      bool stoppedNow = false;
      std::vector<bool> seen(size_t(std::max(last, 0)) + 1, false);
      int32_t c = rec.StartCluster;
      for (int32_t k = 0; k < rec.ClusterCount; ++k) {
        if (CancelState > 1) {
          stoppedNow = true;
          break;
        }
        SwitchToCurrentFile(progress, CancelState, doneInFile, rec.ClusterCount);
        if (c < 1 || c > last || seen[size_t(c)]) break;   // the chain ends early or loops
        seen[size_t(c)] = true;
        if (!core::ReadTopfSector(side, c + 1)) {
          unreadable = true;
          break;
        }
        if (k >= 6 && k <= rec.ClusterCount - 6 &&
            SectorScrambled(core::SectorBuffer.data(), pcrPid)) {
          scrambled = true;
          break;
        }
        progress.ClustersDone += 1;
        doneInFile += 1;
        const int32_t next = Disk[side].FAT[size_t(c)].Next;
        RefreshWhenDue(progress, doneInFile, rec.ClusterCount, clusterBytes, host);
        ui::Current().DoEvents();
        if (next == -1) break;
        c = next;
      }
      if (stoppedNow) {
        host.SetItemBold(side, line.Item, false);
        break;
      }
      // What could not be read leaves the recording as it was: a sector
      // not read says nothing about it.
      if (unreadable && !scrambled) {
        failed.push_back(ShownName(side, rec.Name));
        MarkItem(host, side, line.Item, false, false);
        ui::Current().DoEvents();
        if (CancelState > 0) break;
        continue;
      }

      const uint8_t value = scrambled ? 1 : 2;
      core::FileRec& live = Disk[side].Files[size_t(line.Entry)];
      const bool validBefore = live.CryptValid;
      const uint8_t flagsBefore = live.CryptFlags;
      live.CryptValid = true;
      live.CryptFlags = value;
      if (!core::ModifyTopfFileCryptFlags(side, line.Entry)) {
        // The entry keeps what it said; so does the list.
        live.CryptValid = validBefore;
        live.CryptFlags = flagsBefore;
        failed.push_back(ShownName(side, rec.Name));
        MarkItem(host, side, line.Item, false, false);
        ui::Current().DoEvents();
        if (CancelState > 0) break;
        continue;
      }
      FollowOnOtherSide(side, live);
      host.SetItemIcon(side, line.Item, value == 1 ? "KeyY" : "KeyG");
      if (rec.HasRecHeader) {
        // Only a first cluster that was read and still is a recording header
        // is written back.
        if (!core::ReadTopfCluster(side, rec.StartCluster + 1) ||
            !StartsWithRecHeader(core::ClusterBuffer)) {
          noHeader.push_back(ShownName(side, rec.Name));
        } else {
          core::ClusterBuffer[size_t(kCryptValueOffset)] = value;
          if (!core::WriteTopfCluster(side, rec.StartCluster + 1, false))
            noHeader.push_back(ShownName(side, rec.Name));
        }
      }
      MarkItem(host, side, line.Item, false, false);
      ui::Current().DoEvents();
      if (CancelState > 0) break;
    }
    afterJob = ProgressWindow()->AfterJobChoice();
    JobRunning = false;
    UnloadProgressWindow();
    if (CancelState == 0) {
      if (afterJob == 1) DoHibernate();
      if (afterJob == 2) DoShutdown();
    }
    UnloadCountdownWindow();
  } catch (...) {
    UnloadCountdownWindow();
    EndJob(host);
    throw;
  }
  host.EnableMenus();
  ReportProblems("No program map table was found in these recordings; they were left unchanged:",
                 noPmt);
  ReportProblems("The recording header of these recordings could not be read or written; only "
                 "the directory entry was updated:",
                 noHeader);
  ReportProblems("These recordings could not be read or their directory entry could not be "
                 "written; they were left unchanged:",
                 failed);
}

}  // namespace

int32_t FindPcrPid(const uint8_t* buffer, size_t length) {
  for (size_t p = 0; p + 15 <= length; p += kPacket) {
    const uint8_t* b = buffer + p;
    if (b[0] == 0x47 && (b[1] & 0xC0) == 0x40 && b[4] == 0 && b[5] == 2)
      return int32_t(b[13] & 0x1F) * 256 + b[14];
  }
  return -1;
}

bool SectorScrambled(const uint8_t* sector, int32_t pcrPid) {
  for (size_t p = 0; p <= 376; p += kPacket) {
    const uint8_t* b = sector + p;
    if (b[0] != 0x47 || (b[1] & 0x40) == 0) continue;
    if (int32_t(b[1] & 0x1F) * 256 + b[2] != pcrPid) continue;
    if ((b[3] & 0xC0) != 0) return true;
  }
  return false;
}

void DoScan(int side) {
  core::ProcScope scope("DoScan");
  core::CheckSideIndex(side);
  CancelState = 0;
  if (JobHost* host = Host()) ScanJob(*host, side);
}

}  // namespace transfer
