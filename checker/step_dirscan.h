// Check step 4, the directory scan (fsck_04_ScanDirectories, steps.h), and
// the directory-slot helpers the later steps share.
//
// The scan walks the directory tree from the root and fills FoundEntries
// (checker_state.h), the program's only picture of the tree. On a damaged
// disk it stays sound:
//   - every directory cluster is walked at most once: an entry that leads to
//     a directory already queued or walked through another entry (two
//     entries sharing one directory cluster) keeps its record, marked
//     Duplicate, and is not walked again (step 6 reports the pair);
//   - an entry that leads back to the directory holding it or to one of its
//     ancestors (a loop in the tree) is removed: the directory it leads to
//     is reached through its own entry;
//   - a directory entry pointing outside the disk, or at a cluster that is
//     no directory cluster (IsDirectoryCluster: a recording's data is never
//     one), is an invalid pointer: the cluster is left untouched (no slot is
//     recreated or erased in what may be a recording's data), the entry is
//     reported and removed by step 6, and the later steps still run;
//   - the standard folders of the root (slots 1 to 3 at their fixed
//     clusters) are always walked as directories unless their cluster holds
//     a recording's data; where that cluster is still a chain of its own
//     (no chain of either FAT runs through it), the data is no recording's
//     and the folder is rebuilt as an empty one, as a zeroed one is, so the
//     lost-chain recovery has a \DataFiles\ to put what was below it into;
//   - a slot beyond its folder's end (which the main program never reads)
//     is taken as an entry only when its chain is its own: its start lies
//     on the disk and is in use, and neither its start nor any cluster of
//     its chain (in either FAT) is claimed by an entry inside the ends or is
//     free, and the chain does not run in a circle; a directory's cluster
//     must be a directory cluster no entry inside the ends leads to. Such
//     an entry comes into sight in the same write (the end moves behind
//     it: PutEntryIntoFolder) and is recorded only once that write is on
//     the disk. Any other such slot is a stale one, an old entry whose
//     clusters have gone elsewhere: it is set to unused (the cluster's undo
//     copy keeps it), and where that cannot be written it is left as it is
//     in StaleSlots; either way it is no entry, and its clusters come back
//     as lost chains where nothing else owns them;
//   - a folder this run brought into the main program's sight (a recovered
//     lost directory, a standard folder behind a root slot put back, a
//     folder taken from beyond an end, and the folders below them) comes
//     with what is its own only: its entries are judged once every other
//     entry is found, and one whose chain (in either FAT) or folder cluster
//     another entry or a walked folder holds is set to unused (the undo
//     copy keeps it), so no entry the main program saw loses a cluster and
//     no loop comes into sight; in a standard folder only what folders hold
//     counts (its slots are the disk's own as much as any other's);
//   - at most kMaxFoundEntries records are kept; a disk with more entries
//     makes the scan incomplete, so steps 5 to 7 change nothing on a partial
//     picture.
#pragma once

#include <cstdint>
#include <string>

#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "core/disk_format.h"

namespace checker {

// Layout of a 128-byte directory slot (view order).
namespace slot {
constexpr int32_t kBytes = core::kDirEntrySize;
constexpr int32_t kAttribute = core::kDeAttribute;
constexpr int32_t kDate = core::kDeDate;             // TopfDate, 5 bytes
constexpr int32_t kStartCluster = core::kDeStartCluster;
constexpr int32_t kClusterCount = core::kDeClusterCount;
constexpr int32_t kFreeBytes = core::kDeFreeBytes;
constexpr int32_t kName = core::kDeName;
constexpr int32_t kByte124 = 124;
constexpr int32_t kLastSectorBytes = core::kDeLastSectorBytes;   // 16 bits

constexpr uint8_t kFile = core::AttrFile;
constexpr uint8_t kRecording = core::AttrRecording;
constexpr uint8_t kParent = core::AttrParent;     // ".."
constexpr uint8_t kSelf = core::AttrSelf;         // "."
constexpr uint8_t kDirectory = core::AttrDirectory;
constexpr uint8_t kRecycle = core::AttrRecycle;
constexpr uint8_t kUnused = core::AttrUnused;
}  // namespace slot

// Date value of 1 January 2003, 00:00: entry dates before it are impossible.
constexpr double kEarliestEntryDate = 37622.0;

// Slots of a directory cluster: SectorsPerCluster x 4, limited to what
// ClusterBuffer holds.
int32_t SlotsPerCluster();

// The name of the slot at byte `off` of ClusterBuffer: up to the first zero
// byte, at most to the end of the slot (a name without its zero never runs
// into the next slots).
std::string SlotName(int32_t off);
// Attribute byte of slot s of ClusterBuffer.
uint8_t SlotAttribute(int32_t s);
// A slot is in use when its Attribute is 0xD0, 0xD1, 0xF0, 0xF1, 0xF2 or 0xF3.
bool SlotInUse(uint8_t attribute);
// Every entry the repair writes keeps its check byte with its fields
// (core::KeepCheckByte): SetLastSectorBytes sets the LastSectorBytes of the
// slot at byte `off` of ClusterBuffer and its check byte; KeepCheckByte
// sets the check byte from the slot's own fields.
void SetLastSectorBytes(int32_t off, int32_t value);
void KeepCheckByte(int32_t off);
// The last slot of the folder cluster `dirIndex` (in ClusterBuffer) in use
// that is no stale slot (StaleSlots); -1 when none.
int32_t LastEntrySlot(int32_t dirIndex);

// The folder's end: the slots of the folder cluster in ClusterBuffer that
// the main program reads, those that begin below SectorsPerCluster x 512 -
// the "." slot's FreeBytes (0 .. SlotsPerCluster()).
int32_t SlotsInSight();
// Moves the folder's end behind its first n slots: the "." slot's FreeBytes
// (and its LastSectorBytes 0).
void SetSlotsInSight(int32_t n);
// Puts the entry the caller wrote into slot s of the folder cluster
// `dirIndex` (in ClusterBuffer) into the folder: where s lies at or beyond
// the folder's end, the end moves behind it in the same buffer, so the one
// write of the cluster takes the entry and the "." field to the disk
// together, and the main program's loader sees the entry at once. Slots
// between the old end and s that look like entries but are none (no found
// entry holds them) are set to unused first, so no stale slot comes into
// sight; their number is added to *cleared. True when the end moved.
bool PutEntryIntoFolder(int32_t dirIndex, int32_t s, int32_t* cleared = nullptr);

// True when ClusterBuffer begins with a recording's data: a recording
// header ("TFrc") or transport-stream packets (a 0x47 sync byte every 188
// bytes, eight times, from anywhere in the first packet).
bool HoldsRecordingData();
// True when ClusterBuffer holds a directory cluster: it holds no recording's
// data, and most of its slots look like directory slots ("." in slot 0,
// ".." in slot 1, a file, directory or unused Attribute in the others). So
// a directory whose "." and ".." were both damaged is still one, while a
// cluster of zeros or of any file's data is not.
bool IsDirectoryCluster();
// True when slot r.Slot of ClusterBuffer (the cluster holding r) still holds
// r's entry: a file or directory Attribute matching r.IsDir and r's
// StartCluster.
bool SlotHoldsEntry(const FoundEntry& r);

// True when the directory scan could not read the whole tree, so a later
// step must not change anything: it reports "Skipped:" "Fixing the " + what +
// " doesn't make sense without the full directory data." (nothing more on a
// disk too small to check, which step 1 reported).
bool SkippedWithoutDirectoryData(const std::string& what);

// Reports "Error:" prefix + "Couldn't read the system cluster" (a step that
// needs disk cluster 0 stops after it).
void ReportSystemClusterUnreadable(const std::string& prefix);

}  // namespace checker
