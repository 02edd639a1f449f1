#include "tools/defrag_engine.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/entry_edit.h"
#include "core/error_handler.h"
#include "core/fat_write.h"
#include "core/fsck.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "tools/cluster_map.h"
#include "transfer/entry_edits.h"
#include "transfer/job_state.h"
#include "ui/ui.h"

namespace tools {

bool DefragRunning = false;
int32_t SavedMainWindowState = 0;
bool DefragDebugOn = false;
bool FirstPass = false;
int32_t DefragTarget = 0;
std::vector<uint8_t> NeedsPlacing;
int32_t PlaceCount = 0;
int32_t PlaceStart = 0;
core::WorkList List2(true);

namespace {

DefragHooks g_hooks;
int g_log = -1;   // the defragmenter log while a run keeps it open

using core::Disk;

void Status(int line, const std::string& text) {
  if (g_hooks.SetStatus) g_hooks.SetStatus(line, text);
}
void DoEvents() { ui::Current().DoEvents(); }
// After every cluster: paced by the window system (ui::Ui::StepEvents).
void StepEvents() { ui::Current().StepEvents(); }
bool Cancelled() { return transfer::CancelState != 0; }

void LogLine(const std::string& text) {
  if (DefragDebugOn && g_log >= 0) {
    const std::string line = text + "\r\n";
    platform::PcFileWriteAll(g_log, line.data(), line.size());
  }
}
void CloseLog() {
  if (g_log >= 0) platform::PcFileClose(g_log);
  g_log = -1;
}
// The log is appended only to the user's own regular file (or a new one);
// a log it cannot open is left out, as a debugging aid may be.
void OpenLog() {
  if (!DefragDebugOn) return;
  CloseLog();
  g_log = platform::PcFileAppend(DefragLogPath());
}

// The highest FAT index the engine may use on the side: never one whose
// cluster the device's end cuts.
int32_t LastIndex(int side) { return std::min(core::LastDataIndex(side), core::LastFatIndex(side)); }
int32_t NextOf(int side, int32_t c) {
  if (c < 0 || c >= int32_t(Disk[side].FAT.size())) return 0;
  return Disk[side].FAT[size_t(c)].Next;
}
bool IsFree(int side, int32_t c) { return NextOf(side, c) == 0; }

// Status line 1, the log line and the buttons of an emergency exit.
bool EmergencyExit(const std::string& status, const std::string& logLine) {
  Status(1, status);
  LogLine(logLine);
  if (g_hooks.EmergencyButtons) g_hooks.EmergencyButtons();
  return false;
}

// Items the engine leaves alone: erased records and entries without a chain.
bool Placeable(const core::FileRec& r) {
  return r.Name != core::kErasedName && r.StartCluster >= 1;
}

// Clusters the item occupies when placed: its whole chain.
int32_t ItemClusters(int side, const core::FileRec& r) {
  const int32_t n = ChainLength(side, r.StartCluster);
  return n > 0 ? n : (r.IsDir ? 1 : std::max<int32_t>(r.ClusterCount, 1));
}

bool NoProgressExit(const std::string& why) {
  return EmergencyExit("--- The defragmentation makes no progress! Exiting defrag!",
                       "Emergency exit: no progress " + why);
}

// Watches a run for progress. The compact area is DefragTarget after each
// BuildList. Since it last grew, the starts every moved item has had are
// remembered, and the passes are counted.
class ProgressWatch {
 public:
  explicit ProgressWatch(int side) : side_(side) {
    const core::DiskRec& d = Disk[side];
    const int32_t count = std::max(d.FileCount, 0);
    starts_.resize(size_t(count));
    movedIn_.assign(size_t(count), 0);
    for (int32_t i = 0; i < count; ++i) {
      starts_[size_t(i)] = d.Files[size_t(i)].StartCluster;
      if (Placeable(d.Files[size_t(i)])) ++items_;
    }
    best_ = DefragTarget;
  }
  // After each pass's BuildList: false (with the reason) when the pass
  // brought an item back to a start it had since the compact area last
  // grew, or the area has not grown for more passes than there are items.
  bool Progressed(std::string& why) {
    const core::DiskRec& d = Disk[side_];
    const bool grew = DefragTarget > best_;
    if (grew) {
      best_ = DefragTarget;
      stalled_ = 0;
      seen_.clear();
      ++epoch_;
    }
    bool back = false;
    for (int32_t i = 0; i < d.FileCount && size_t(i) < starts_.size(); ++i) {
      const int32_t start = d.Files[size_t(i)].StartCluster;
      if (start == starts_[size_t(i)]) continue;
      if (!grew) {
        if (movedIn_[size_t(i)] != epoch_) {
          movedIn_[size_t(i)] = epoch_;
          seen_.insert({i, starts_[size_t(i)]});
        }
        if (!seen_.insert({i, start}).second && !back) {
          back = true;
          why = "(" + d.Files[size_t(i)].Name + " is back at " + std::to_string(start) + ")";
        }
      }
      starts_[size_t(i)] = start;
    }
    if (grew) return true;
    if (back) return false;
    if (++stalled_ > items_ + 2) {
      why = "(the compact area has not grown for " + std::to_string(stalled_) + " passes)";
      return false;
    }
    return true;
  }

 private:
  int side_;
  int32_t items_ = 0;
  int32_t best_ = 0;
  int32_t stalled_ = 0;
  uint32_t epoch_ = 1;
  std::vector<int32_t> starts_;
  std::vector<uint32_t> movedIn_;
  std::set<std::pair<int32_t, int32_t>> seen_;
};

}  // namespace

DefragHooks SetDefragHooks(DefragHooks hooks) {
  DefragHooks previous = std::move(g_hooks);
  g_hooks = std::move(hooks);
  return previous;
}

std::string DefragLogPath() { return core::AppDir() + kDefragLogName; }

void ResetDefragState() {
  CloseLog();
  DefragRunning = false;
  SavedMainWindowState = 0;
  DefragDebugOn = false;
  FirstPass = false;
  DefragTarget = 0;
  NeedsPlacing.clear();
  PlaceCount = 0;
  PlaceStart = 0;
  List2.Clear();
  g_hooks = DefragHooks();
}

bool BaseNameStartsWithUnderscore(const std::string& name) {
  std::string folder, base, ext;
  core::SeparatePathComponents(name, folder, base, ext, core::kRecorderSeparator);
  return !base.empty() && base[0] == '_';
}

std::string WorkListLine(char type, int32_t startCluster, int32_t index, const std::string& name) {
  char head[32];
  std::snprintf(head, sizeof head, "%c%06d %04d ", type, int(startCluster), int(index));
  return head + name;
}

int32_t ChainLength(int side, int32_t start) {
  const int32_t last = LastIndex(side);
  if (start < 0 || start > last || IsFree(side, start)) return 0;
  int32_t n = 1;
  int32_t c = start;
  for (int32_t steps = 0; steps <= last; ++steps) {
    const int32_t next = NextOf(side, c);
    if (next < 1 || next > last) break;
    c = next;
    ++n;
  }
  return n;
}

bool DefragPreconditions(int side, std::string& reason) {
  core::ProcScope scope("DefragPreconditions");
  core::CheckSideIndex(side);
  const core::DiskRec& d = Disk[side];
  const int32_t writableBit = side == 0 ? core::FlagSide0Writable : core::FlagSide1Writable;
  if (core::IsPCSide(side) || core::DiskId[side] == core::kNoDisk || d.Handle < 1 ||
      core::InFileMode() || (core::Flags & core::FlagDisasterMode) ||
      !(core::Flags & writableBit)) {
    reason = "Defragmentation needs a writable recorder disk in the left pane.";
    return false;
  }
  const int32_t last = LastIndex(side);
  if (last < 1 || d.FileCount < 0 || d.FileCount > int32_t(d.Files.size())) {
    reason = "The disk's file list is not usable for defragmentation.";
    return false;
  }
  for (int32_t i = 0; i < d.FileCount; ++i) {
    if (d.Files[size_t(i)].Recovered) {
      reason = "Write the recovered files to the disk, or reload the disk, before defragmenting.";
      return false;
    }
  }
  // The FAT links themselves: every link in range.
  for (int32_t c = 0; c <= last; ++c) {
    const int32_t next = d.FAT[size_t(c)].Next;
    if (next < -1 || next > last) {
      reason = "FAT index " + std::to_string(c) + " links outside the disk.";
      return false;
    }
  }
  // Every chain: a used start, used links, an end mark, no cluster twice.
  std::vector<int32_t> owner(size_t(last) + 1, -1);
  for (int32_t i = 0; i < d.FileCount; ++i) {
    const core::FileRec& r = d.Files[size_t(i)];
    if (r.Name == core::kErasedName) continue;
    if (r.StartCluster < 1) {
      if (!r.IsDir && r.ClusterCount <= 0) continue;   // an empty file owns nothing
      reason = r.Name + " starts outside the disk.";
      return false;
    }
    if (r.StartCluster > last || d.FAT[size_t(r.StartCluster)].Next == 0) {
      reason = r.Name + " starts on a free or missing cluster.";
      return false;
    }
    int32_t c = r.StartCluster;
    for (int32_t steps = 0;; ++steps) {
      if (steps > last) {
        reason = r.Name + ": its chain does not end.";
        return false;
      }
      if (owner[size_t(c)] != -1) {
        reason = owner[size_t(c)] == i
                     ? r.Name + ": its chain runs in a circle."
                     : r.Name + " shares cluster " + std::to_string(c) + " with " +
                           d.Files[size_t(owner[size_t(c)])].Name + ".";
        return false;
      }
      owner[size_t(c)] = i;
      const int32_t next = d.FAT[size_t(c)].Next;
      if (next == -1) break;
      if (next < 1) {
        reason = r.Name + ": its chain runs into a free cluster.";
        return false;
      }
      c = next;
    }
  }
  // The other side's model of the same disk must not hold a chain this one lacks.
  if (core::SameDisk()) {
    const core::DiskRec& o = Disk[core::OtherSide(side)];
    for (int32_t c = 0; c <= last && c < int32_t(o.FAT.size()); ++c) {
      if (o.FAT[size_t(c)].Next != 0 && d.FAT[size_t(c)].Next == 0) {
        reason = "The two panes show this disk differently. Reload it before defragmenting.";
        return false;
      }
    }
  }
  return true;
}

void BuildList(int side) {
  core::ProcScope scope("BuildList");
  const core::DiskRec& d = Disk[side];
  const int32_t last = LastIndex(side);
  if (NeedsPlacing.size() < size_t(std::max(d.FileCount, 0)))
    NeedsPlacing.resize(size_t(d.FileCount));
  std::fill(NeedsPlacing.begin(), NeedsPlacing.end(), uint8_t(0));

  DefragTarget = last + 1;
  for (int32_t c = 0; c <= last; ++c) {
    if (IsFree(side, c)) {
      DefragTarget = c;
      break;
    }
  }

  for (int32_t i = 0; i < d.FileCount; ++i) {
    const core::FileRec& r = d.Files[size_t(i)];
    if (!Placeable(r)) continue;
    if (r.StartCluster <= DefragTarget) {
      int32_t current = r.StartCluster, expected = r.StartCluster;
      for (int32_t steps = 0; steps <= last; ++steps) {
        const int32_t next = NextOf(side, current);
        if (next < 1 || next > last) break;
        current = next;
        ++expected;
        if (current != expected) {
          NeedsPlacing[size_t(i)] = 1;
          if (r.StartCluster < DefragTarget) DefragTarget = r.StartCluster;
        }
      }
    } else {
      NeedsPlacing[size_t(i)] = 1;
    }
    if (FirstPass && !r.IsDir && BaseNameStartsWithUnderscore(r.Name)) {
      NeedsPlacing[size_t(i)] = 1;
      if (r.StartCluster < DefragTarget) DefragTarget = r.StartCluster;
    }
  }

  // The lines are sorted once, not each put in its place: the list is
  // rebuilt after every item, and a disk may hold many thousands.
  std::vector<std::string> lines;
  for (int32_t i = 0; i < d.FileCount; ++i) {
    if (!NeedsPlacing[size_t(i)]) continue;
    const core::FileRec& r = d.Files[size_t(i)];
    const char type = r.IsDir ? 'D' : (BaseNameStartsWithUnderscore(r.Name) ? 'T' : 'F');
    lines.push_back(WorkListLine(type, r.StartCluster, i, r.Name));
  }
  List2.Clear();
  List2.AddItems(std::move(lines));
}

int32_t FindPreviousFreeCluster(int side, int32_t from) {
  core::ProcScope scope("FindPreviousFreeCluster");
  int32_t c = std::min(from - 1, LastIndex(side));
  while (c > 0 && !IsFree(side, c)) --c;
  if (c > 0) return c;
  ui::Current().MsgBox(kNotEnoughSpaceText, ui::Buttons::OK, ui::Icon::Information);
  return 0;
}

namespace {

// Moves one cluster of the chain of `r` from `source` to `destination`
// (a free cluster), showing both on the map and leaving the destination in
// `doneCode`. `newStart`, when given and still -1, takes the destination once
// both checks have passed. False, after an emergency exit, when the
// destination is in use, the chain has ended early, or the copy failed.
bool MoveCluster(int side, const core::FileRec& r, int32_t source, int32_t destination,
                 const char* indent, int doneCode, int32_t* newStart = nullptr) {
  const int32_t last = LastIndex(side);
  if (destination < 1 || destination > last || !IsFree(side, destination)) {
    return EmergencyExit("--- Found an unexpected used cluster! Exiting defrag!",
                         "Emergency exit: Found an unexpected used cluster " +
                             std::to_string(destination) + " which points to " +
                             std::to_string(NextOf(side, destination)));
  }
  if (source < 1 || source > last || IsFree(side, source)) {
    return EmergencyExit("--- The chain of " + r.Name + " ends early! Exiting defrag!",
                         "Emergency exit: The chain ends early at " + std::to_string(source));
  }
  if (newStart && *newStart < 0) *newStart = destination;
  LogLine(std::string(indent) + "moving " + std::to_string(source) + " -> " +
          std::to_string(destination));
  SetPixelVB(source, kCodeMoving);
  SetPixelVB(destination, kCodeMoving);
  RefreshMap();
  // The chain's next cluster, moved next, is read while this one is written.
  if (!transfer::FSRedirectFAT(side, source, destination, true, NextOf(side, source))) {
    // Which file, and the system's reason.
    const std::string why = r.Name + ": " + core::ClusterFailure();
    return EmergencyExit("--- Couldn't copy cluster " + std::to_string(source) +
                             "! Exiting defrag! " + why,
                         "Emergency exit: Couldn't copy cluster " + std::to_string(source) +
                             " to " + std::to_string(destination) + " of " + why);
  }
  SetPixelVB(source, kCodeFree);
  SetPixelVB(destination, doneCode);
  return true;
}

// The chain an item had before its move: the FAT indexes and their links.
struct OldChain {
  std::vector<int32_t> Clusters;
  std::vector<core::FatLink> Links;
};

OldChain CaptureChain(int side, int32_t start) {
  OldChain old;
  const int32_t last = LastIndex(side);
  int32_t c = start;
  for (int32_t steps = 0; steps <= last && c >= 1 && c <= last && !IsFree(side, c); ++steps) {
    old.Clusters.push_back(c);
    old.Links.push_back(Disk[side].FAT[size_t(c)]);
    const int32_t next = NextOf(side, c);
    if (next < 1) break;
    c = next;
  }
  return old;
}

// Sets the "." entry of the folder cluster at FAT index c to name the
// cluster itself, with the name "." (`named`) or an empty name. The loader
// takes a cluster either way for the folder an entry names; the repair
// program takes a lost cluster for a folder only by a "." named ".". So while
// a folder moves, neither its copy nor its old cluster, whichever of them no
// entry names, reads to it as a second copy of the folder. False when the
// cluster could not be read or written, or holds no "." entry.
bool MarkFolderCluster(int side, int32_t c, bool named) {
  if (!core::ReadTopfCluster(side, c + 1) ||
      core::ClusterBuffer.size() < size_t(core::kDirEntrySize))
    return false;
  uint8_t* self = core::ClusterBuffer.data();
  if (self[core::kDeAttribute] != core::AttrSelf) return false;
  self[core::kDeName] = named ? '.' : 0;
  core::PutBE32(self + core::kDeStartCluster, uint32_t(c));
  return core::WriteTopfCluster(side, c + 1, false);
}

bool FolderWriteFailed(const std::string& name) {
  return EmergencyExit("--- Couldn't write the folder cluster of " + name + "! Exiting defrag!",
                       "Emergency exit: Couldn't write the folder cluster");
}

bool FatWriteFailed() {
  return EmergencyExit("--- Couldn't write the FAT! Exiting defrag!",
                       "Emergency exit: Couldn't write the FAT");
}

// Commits a moved item so that a cut after any single write leaves at most
// lost clusters, never an entry on freed clusters:
//   1. the FAT with the new chain linked while the old chain is still
//      allocated (the copy is an unowned chain until the entry names it);
//   2. the entry (for a folder its "." in the new cluster, the entry, the
//      root-slot copy and its subfolders' ".." entries);
//   3. the FAT with the old chain freed.
// A folder's copy gets its "." (with an empty name) before step 1, its old
// cluster loses the "." name before step 2, the copy gets it back after
// step 2, and the old cluster is zeroed before step 3: no cluster that no
// entry names ever reads as a second copy of the folder.
// The in-memory FAT holds the moves already (new chain linked, old freed).
bool CommitMove(int side, int index, const OldChain& old, int32_t newStart, const char* indent) {
  core::DiskRec& d = Disk[side];
  core::FileRec& r = d.Files[size_t(index)];
  auto& fat = d.FAT;
  const bool folder = r.IsDir && !old.Clusters.empty() && r.StartCluster != newStart;
  if (folder && !MarkFolderCluster(side, newStart, false)) return FolderWriteFailed(r.Name);
  // (The destinations were free, so no old cluster is part of the new chain.)
  std::vector<uint8_t> restored(old.Clusters.size(), 0);
  for (size_t k = 0; k < old.Clusters.size(); ++k) {
    core::FatLink& link = fat[size_t(old.Clusters[k])];
    if (link.Next != 0) continue;
    link = old.Links[k];
    restored[k] = 1;
  }
  const bool bothWritten = core::UpdateTopfFAT(side);
  for (size_t k = 0; k < old.Clusters.size(); ++k)
    if (restored[k]) fat[size_t(old.Clusters[k])] = core::FatLink();
  if (!bothWritten) return FatWriteFailed();
  if (folder && !MarkFolderCluster(side, old.Clusters[0], false)) return FolderWriteFailed(r.Name);

  if (r.StartCluster != newStart) {
    const int32_t oldStart = r.StartCluster;
    r.StartCluster = newStart;
    LogLine(std::string(indent) + "setting Start=" + std::to_string(newStart));
    if (!core::ModifyTopfFileStartCluster(side, index)) {
      r.StartCluster = oldStart;
      core::CheckState[(core::DiskId[side] + 31) & 31] = 1;
      if (g_hooks.UpdateComboBoxes) g_hooks.UpdateComboBoxes();
      return EmergencyExit("--- Couldn't write the directory entry of " + r.Name +
                               "! Exiting defrag!",
                           "Emergency exit: Couldn't write the directory entry");
    }
  }
  if (folder) {
    if (!MarkFolderCluster(side, newStart, true)) return FolderWriteFailed(r.Name);
    for (size_t k = 0; k < old.Clusters.size(); ++k)
      if (restored[k] && !core::ZeroTopfCluster(side, old.Clusters[k] + 1))
        Status(1, "--- Couldn't clear the old folder cluster " + std::to_string(old.Clusters[k]) +
                      " of " + r.Name + "!");
  }
  if (!core::UpdateTopfFAT(side)) return FatWriteFailed();
  return true;
}

}  // namespace

bool DefragFile(int side, int index) {
  core::ProcScope scope("DefragFile");
  core::DiskRec& d = Disk[side];
  core::FileRec& r = d.Files[size_t(index)];

  for (int32_t k = 0; k < PlaceCount; ++k) SetPixelVB(PlaceStart + k, kCodeReserved);
  RefreshMap();
  DoEvents();
  LogLine("  Defrag.");
  Status(0, "Defragmenting " + r.Name);
  DoEvents();

  const OldChain old = CaptureChain(side, r.StartCluster);
  int32_t source = r.StartCluster;
  for (int32_t k = 0; k < PlaceCount; ++k) {
    const int32_t destination = PlaceStart + k;
    if (!MoveCluster(side, r, source, destination, "  ", kCodeDefragmented)) return false;
    source = NextOf(side, destination);
    StepEvents();
    if (Cancelled()) break;
  }
  core::DropClusterReadAhead();
  if (Cancelled()) return true;

  return CommitMove(side, index, old, PlaceStart, "  ");
}

bool MoveAway(int side, int32_t cluster) {
  core::ProcScope scope("MoveAway");
  core::DiskRec& d = Disk[side];
  const int32_t last = LastIndex(side);

  // The chain head, walking back at most LastCluster + 1 steps.
  int32_t h = cluster;
  for (int32_t steps = 0; steps <= last; ++steps) {
    const int32_t prev = (h >= 0 && h < int32_t(d.FAT.size())) ? d.FAT[size_t(h)].Prev : 0;
    if (prev < 1 || prev > last) break;
    h = prev;
  }
  int32_t owner = -1;
  for (int32_t i = 0; i < d.FileCount; ++i) {
    if (d.Files[size_t(i)].Name != core::kErasedName && d.Files[size_t(i)].StartCluster == h) {
      owner = i;
      break;
    }
  }
  if (owner < 0) {
    return EmergencyExit(
        "--- Index overflow in filelist search! Exiting defrag!",
        "Emergency exit: Index overflow in filelist search while searching for start cluster " +
            std::to_string(h));
  }
  core::FileRec& r = d.Files[size_t(owner)];
  LogLine("  claiming space by moving " + r.Name);
  Status(0, "Claiming space by moving " + r.Name);
  DoEvents();

  // The whole chain moves, however long it is.
  const int32_t n = ItemClusters(side, r);
  std::vector<uint8_t> reserved(size_t(last) + 1, 0);
  int32_t free = FindPreviousFreeCluster(side, last - 50);
  if (free == 0) {
    return EmergencyExit("--- Couldn't find any free space to move data! Exiting defrag!",
                         "Emergency exit: Couldn't find any free space to move data!");
  }
  std::vector<int32_t> destinations;
  destinations.reserve(size_t(n));
  for (int32_t k = 0; k < n; ++k) {
    reserved[size_t(free)] = 1;
    destinations.push_back(free);   // descending
    free = FindPreviousFreeCluster(side, free);
    if (free < 10) {
      return EmergencyExit("--- Couldn't find enough free space to move data! Exiting defrag!",
                           "Emergency exit: Couldn't find enough free space to move data!");
    }
  }
  for (int32_t c : destinations) SetPixelVB(c, kCodeReserved);
  RefreshMap();
  DoEvents();

  const OldChain old = CaptureChain(side, h);
  int32_t source = h;
  int32_t newStart = -1;
  for (size_t k = 0; k < destinations.size(); ++k) {
    const int32_t dst = destinations[k];
    // The destinations come from FindPreviousFreeCluster, inside 1..last.
    if (!MoveCluster(side, r, source, dst, "    ", kCodeFragmented, &newStart)) return false;
    StepEvents();
    source = NextOf(side, dst);
    if (Cancelled() || source == -1) break;
  }
  core::DropClusterReadAhead();
  if (Cancelled()) return true;
  if (source != -1) {
    // The chain is longer than it was measured: nothing is committed.
    return EmergencyExit("--- The chain of " + r.Name + " is longer than expected! Exiting defrag!",
                         "Emergency exit: The chain is longer than expected");
  }

  return CommitMove(side, owner, old, newStart, "    ");
}

bool ClearFree(int side) {
  core::ProcScope scope("ClearFree");
  core::DiskRec& d = Disk[side];
  std::string reason;
  if (core::IsPCSide(side) || d.Handle < 1 || core::InFileMode() ||
      (core::Flags & core::FlagDisasterMode) ||
      !(core::Flags & (side == 0 ? core::FlagSide0Writable : core::FlagSide1Writable))) {
    Status(1, "--- Free space can only be cleared on a writable recorder disk!");
    return false;
  }
  const int32_t last = LastIndex(side);
  // A cluster is cleared only when the disk's FAT1 and FAT2 call it free as
  // well as the model in memory (and the other pane's model of the disk).
  if (!core::ReadTopfCluster(side, 0)) {
    Status(1, "--- Couldn't read the FAT! Free space not cleared!");
    return false;
  }
  std::vector<uint8_t> diskFree(size_t(last) + 1, 0);
  {
    const std::vector<uint8_t>& b = core::ClusterBuffer;
    auto entry = [&](size_t offset) {
      return (uint32_t(b[offset]) << 16) | (uint32_t(b[offset + 1]) << 8) | b[offset + 2];
    };
    const size_t fat1 = 0x20000, fat2 = 0x80000;
    for (int32_t c = 0; c <= last; ++c) {
      const size_t o = size_t(c) * 3;
      if (fat2 + o + 2 < b.size() && entry(fat1 + o) == 0xFFFFFF && entry(fat2 + o) == 0xFFFFFF)
        diskFree[size_t(c)] = 1;
    }
  }
  const core::DiskRec* other = core::SameDisk() ? &Disk[core::OtherSide(side)] : nullptr;

  auto clearable = [&](int32_t c) {
    return d.FAT[size_t(c)].Next == 0 && diskFree[size_t(c)] &&
           (!other || size_t(c) >= other->FAT.size() || other->FAT[size_t(c)].Next == 0);
  };
  int64_t total = 0, done = 0;
  for (int32_t c = 0; c <= last; ++c)
    if (clearable(c)) ++total;
  int shown = -1;
  int64_t failed = 0;
  int32_t firstFailed = -1;
  // What could not be cleared is said once the run ends, also after a cancel.
  auto reportFailed = [&] {
    if (failed > 0)
      Status(1, "--- " + std::to_string(failed) + " free cluster(s) could not be cleared, the "
                "first is cluster " + std::to_string(firstFailed) + "!");
  };
  for (int32_t c = 0; c <= last; ++c) {
    if (clearable(c)) {
      // On an image file the cluster becomes a hole: the same zeros without
      // filling the PC's disk.
      if (core::ZeroTopfCluster(side, c + 1)) {
        SetPixelVB(c, kCodeCleared);
      } else if (failed++ == 0) {
        firstFailed = c;
      }
      ++done;
      const int percent = int(done * 100 / std::max<int64_t>(total, 1));
      if (percent != shown) {
        shown = percent;
        Status(0, "Clearing unused space " + std::to_string(percent) + "%");
      }
      RefreshMap();
      StepEvents();
    }
    if (Cancelled()) {
      reportFailed();
      return false;
    }
  }
  reportFailed();
  return true;
}

DefragOutcome DefragmentDisk(int side) {
  core::ProcScope scope("DefragmentDisk");
  core::CheckSideIndex(side);
  core::DiskRec& d = Disk[side];
  const int checkSlot = (core::DiskId[side] + 31) & 31;

  // Before anything is written: a fit disk that passes the check and whose
  // FAT in memory is the FAT on the disk.
  std::string reason;
  if (!DefragPreconditions(side, reason)) {
    ui::Current().MsgBox(reason, ui::Buttons::OK, ui::Icon::Exclamation);
    return DefragOutcome::Refused;
  }
  Status(0, "Checking disk");
  DoEvents();
  if (!core::FSCK(side)) {
    core::CheckState[checkSlot] = 1;
    if (g_hooks.UpdateComboBoxes) g_hooks.UpdateComboBoxes();
    ui::Current().MsgBox(kCheckFailedText, ui::Buttons::OK, ui::Icon::Exclamation);
    return DefragOutcome::Refused;
  }
  {
    const int32_t last = LastIndex(side);
    bool same = core::FsckFAT1.size() >= size_t(last) + 1;
    for (int32_t c = 0; same && c <= last; ++c)
      same = core::FsckFAT1[size_t(c)].Next == d.FAT[size_t(c)].Next;
    if (!same) {
      ui::Current().MsgBox("The disk has changed since it was loaded. Reload it before defragmenting.",
                           ui::Buttons::OK, ui::Icon::Exclamation);
      return DefragOutcome::Refused;
    }
  }

  FirstPass = true;
  OpenLog();
  bool emergency = false;
  try {
    BuildList(side);
    // Every pass places or moves one item; a run needs far fewer passes
    // than this unless something keeps undoing its own work.
    const int64_t passLimit = 4 * int64_t(d.FileCount) + 64;
    int64_t passes = 0;
    ProgressWatch watch(side);
    while (!List2.Empty()) {
      if (++passes > passLimit) {
        emergency = !NoProgressExit("after " + std::to_string(passLimit) + " passes");
        break;
      }
      PlaceStart = DefragTarget;
      const std::string& line = List2.List(0);
      const size_t blank = line.find(' ', 8);
      const int32_t index = int32_t(std::stol(line.substr(8, blank - 8)));
      if (index < 0 || index >= d.FileCount) {
        emergency = !EmergencyExit("--- Index overflow in filelist search! Exiting defrag!",
                                   "Emergency exit: bad work list line " + line);
        break;
      }
      const core::FileRec& r = d.Files[size_t(index)];
      LogLine("");
      LogLine("[" + std::to_string(index) + "] " + r.Name + ": DirCluster=" +
              std::to_string(r.DirCluster) + ", Slot=" + std::to_string(r.Slot) +
              ", Start=" + std::to_string(r.StartCluster) +
              ", Size=" + std::to_string(r.ClusterCount));
      PlaceCount = ItemClusters(side, r);
      const int32_t last = LastIndex(side);
      bool ok;
      if (PlaceStart < 1 || int64_t(PlaceStart) + PlaceCount - 1 > last) {
        ok = EmergencyExit("--- Couldn't find enough free space to move data! Exiting defrag!",
                           "Emergency exit: Couldn't find enough free space to move data!");
      } else {
        int32_t used = -1;
        for (int32_t c = PlaceStart; c < PlaceStart + PlaceCount; ++c) {
          if (!IsFree(side, c)) {
            used = c;
            break;
          }
        }
        ok = used < 0 ? DefragFile(side, index) : MoveAway(side, used);
      }
      if (!ok) {
        emergency = true;
        break;
      }
      if (Cancelled()) break;
      FirstPass = false;
      BuildList(side);
      // A pass that brings an item back to a place it already had, or a
      // row of passes that never lets the compact area grow, would only
      // repeat itself: the disk is too full to be compacted this way.
      std::string why;
      if (!List2.Empty() && !watch.Progressed(why)) {
        emergency = !NoProgressExit(why);
        break;
      }
    }
  } catch (...) {
    // Whatever went wrong, the model must not keep moves the disk lacks.
    CloseLog();
    try {
      core::LoadTopfFAT(side);
    } catch (...) {
    }
    throw;
  }

  if (emergency) {
    CloseLog();
    // Moves held only in memory are dropped: the FAT is the disk's again.
    core::LoadTopfFAT(side);
    return DefragOutcome::Emergency;
  }
  LogLine(std::string(80, '-'));
  CloseLog();

  core::LoadTopfFAT(0);
  DrawGraphics();
  Status(0, "Building defrag report");
  DoEvents();
  if (g_hooks.Report) g_hooks.Report();
  Status(0, "Checking disk");
  DoEvents();
  if (core::FSCK(side)) {
    core::CheckState[checkSlot] = 2;
  } else {
    core::CheckState[checkSlot] = 1;
    if (g_hooks.UpdateComboBoxes) g_hooks.UpdateComboBoxes();
    ui::Current().MsgBox(kCheckFailedText, ui::Buttons::OK, ui::Icon::Exclamation);
  }
  if (Cancelled()) return DefragOutcome::Cancelled;
  if (core::CheckState[checkSlot] != 2) return DefragOutcome::CheckFailed;

  Status(0, "Clearing unused space");
  DoEvents();
  for (int32_t c = 0; c <= core::kMaxFatIndex && c < int32_t(d.FAT.size()); ++c)
    if (d.FAT[size_t(c)].Next != 0) SetPixelVB(c, kCodeDefragmented);
  return ClearFree(side) ? DefragOutcome::Completed : DefragOutcome::Cancelled;
}

}  // namespace tools
