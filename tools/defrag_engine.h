// The defragmentation engine: compacts the recorder disk of a side so that
// every item of its file list (file or folder) is one run of consecutive FAT
// indexes, all packed from index 0 upward, then writes zeros over every free
// cluster once the disk passes the file-system check.
//
// One pass places or moves exactly one item and then rebuilds the work list
// (List2) from the whole FAT and file list:
//   DefragmentDisk -> (BuildList -> DefragFile or MoveAway) repeated
//                  -> LoadTopfFAT -> DrawGraphics -> DefragReport -> FSCK
//                  -> ClearFree
//
// Safety rules the engine keeps (a user's recordings are at stake):
// - it starts only on a writable recorder disk that passes the file-system
//   check, whose FAT in memory equals the FAT on the disk, whose chains are
//   all in range, end properly and share no cluster, and that holds no
//   pending recovered entries;
// - per item: all data clusters are copied first, then the FAT is written
//   (both copies) with the new chain linked while the old one is still
//   allocated, then the directory entry (for a folder its "." first, then
//   the entry, the root-slot copy and its subfolders' ".."; its old cluster
//   is zeroed), and only then the FAT with the old chain freed, so a cut
//   after any write leaves at most lost clusters, never an entry on freed
//   clusters;
// - a run stops with the no-progress exit as soon as a pass brings an item
//   back to a place it had since the compact area last grew, or the compact
//   area does not grow for more passes than there are items;
// - a cluster whose read or write failed is never relinked: the run stops;
// - a destination is always an index from 1 to LastCluster that is free in
//   memory right before the cluster goes there;
// - every chain walk is bounded; the number of passes is bounded;
// - after any early end the in-memory FAT is reloaded from the disk, so it
//   never differs from what the disk records;
// - ClearFree writes only clusters that are free in memory, in FAT1 and in
//   FAT2 on the disk (and on the other side's model of the same disk), and
//   never the system cluster; on an image file it deallocates them instead
//   of writing zeros, so the PC's disk does not fill up.
//
// It runs on the window thread and processes pending events after every
// cluster; `transfer::CancelState` other than 0 stops it at the next test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/work_list.h"

namespace tools {

// ------------------------------------------------------------------ state
// Kept by the defragmenter window for the engine.
extern bool DefragRunning;          // a run or a free-space clearing is active
extern int32_t SavedMainWindowState;// the main window's state when the window loaded
extern bool DefragDebugOn;          // DefragDebug.log is written for this run
extern bool FirstPass;              // only the first BuildList of a run
extern int32_t DefragTarget;        // target FAT index computed by BuildList
extern std::vector<uint8_t> NeedsPlacing;   // per file index, set by BuildList
extern int32_t PlaceCount;          // clusters of the item being placed
extern int32_t PlaceStart;          // first FAT index of its range

// The sorted work list: "T000123 0004 \DataFiles\_x.rec" (type letter D, F
// or T, start cluster, index, name); line 1 is the next item.
extern core::WorkList List2;

// What the engine needs of its window. Unset hooks do nothing.
struct DefragHooks {
  // Status line 0 (progress) or 1 (emergency messages).
  std::function<void(int line, const std::string& text)> SetStatus;
  // After an emergency exit: the Defrag button reads "Defrag" and is
  // disabled, the Close button is enabled.
  std::function<void()> EmergencyButtons;
  // Fills the fragmentation report.
  std::function<void()> Report;
  // The main window rewrites its disk chooser entries from CheckState.
  std::function<void()> UpdateComboBoxes;
};
// Sets the hooks; returns the previous ones.
DefragHooks SetDefragHooks(DefragHooks hooks);

// How a run ended.
enum class DefragOutcome {
  Completed,    // every item placed, check passed, free space cleared
  Cancelled,    // CancelState not 0 after an item or during clearing
  CheckFailed,  // the check after the run failed; nothing cleared
  Emergency,    // an emergency exit; FAT reloaded from the disk
  Refused,      // the disk was not fit to start; nothing written
};

// Constants of the work list and the map.
constexpr const char* kDefragLogName = "DefragDebug.log";
constexpr const char* kCheckFailedText =
    "The file system check has found an error. Use Disk-fsck to fix it!";
constexpr const char* kNotEnoughSpaceText = "Not enough space to perform defragmentation.";

// Runs a whole defragmentation of the side.
DefragOutcome DefragmentDisk(int side);
// Recomputes NeedsPlacing and DefragTarget and refills List2.
void BuildList(int side);
// Moves the chain of Files(index) onto the free range PlaceStart ..
// PlaceStart + PlaceCount - 1. False only after an emergency exit; a cancel
// also returns true (nothing committed).
bool DefragFile(int side, int index);
// Frees the used index `cluster` by moving the whole chain that holds it to
// free indexes near the top of the disk. False only after an emergency exit.
bool MoveAway(int side, int32_t cluster);
// The highest FAT index below `from` that is free; 0 (after the message
// "Not enough space to perform defragmentation.") when none down to index 1.
int32_t FindPreviousFreeCluster(int side, int32_t from);
// Writes zeros over every free cluster of the side. True when it ran to the
// end (not refused, not cancelled).
bool ClearFree(int side);

// The checks made before a run writes anything: the side is a writable
// recorder disk in disk mode, holds no pending recovered entries, and its
// chains are sound (start and links in range, every link used, no cluster in
// two chains, no chain through itself). On failure `reason` says why.
bool DefragPreconditions(int side, std::string& reason);
// Clusters of the chain that starts at `start`, walked with at most
// LastCluster + 1 steps; 0 when the start is not a used index.
int32_t ChainLength(int side, int32_t start);
// The base name of a recorder path starts with "_".
bool BaseNameStartsWithUnderscore(const std::string& name);
// One line of List2.
std::string WorkListLine(char type, int32_t startCluster, int32_t index, const std::string& name);

// AppDir + "DefragDebug.log".
std::string DefragLogPath();
// Back to the start state (tests).
void ResetDefragState();

}  // namespace tools
