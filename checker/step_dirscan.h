// Check step 4, the directory scan (fsck_04_ScanDirectories, steps.h), and
// the directory-slot helpers the later steps share.
//
// The scan walks the directory tree from the root and fills FoundEntries
// (checker_state.h), the program's only picture of the tree. On a damaged
// disk it stays sound:
//   - every directory cluster is walked at most once: an entry that leads to
//     a directory already queued or walked (a loop in the tree, or two
//     entries sharing one directory cluster) is reported as "Error:" and not
//     walked again, but keeps its record;
//   - a cluster reached through a directory entry that holds neither a "."
//     slot (slot 0) nor a ".." slot (slot 1) is not a directory cluster: it
//     is left untouched (no slot is recreated or erased in what may be a
//     recording's data), reported, and the scan counts as incomplete;
//   - at most kMaxFoundEntries records are kept; a disk with more entries
//     makes the scan incomplete, so steps 5 to 7 change nothing on a partial
//     picture.
#pragma once

#include <cstdint>
#include <string>

#include "checker/checker_state.h"

namespace checker {

// Layout of a 128-byte directory slot (view order).
namespace slot {
constexpr int32_t kBytes = 128;
constexpr int32_t kAttribute = 0;
constexpr int32_t kDate = 1;             // TopfDate, 5 bytes
constexpr int32_t kStartCluster = 8;
constexpr int32_t kClusterCount = 12;
constexpr int32_t kFreeBytes = 16;
constexpr int32_t kName = 20;
constexpr int32_t kByte124 = 124;
constexpr int32_t kLastSectorBytes = 126;   // 16 bits

constexpr uint8_t kFile = 0xD0;
constexpr uint8_t kRecording = 0xD1;
constexpr uint8_t kParent = 0xF0;     // ".."
constexpr uint8_t kSelf = 0xF1;       // "."
constexpr uint8_t kDirectory = 0xF2;
constexpr uint8_t kRecycle = 0xF3;
constexpr uint8_t kUnused = 0xFF;
}  // namespace slot

// Date value of 1 January 2003, 00:00: entry dates before it are impossible.
constexpr double kEarliestEntryDate = 37622.0;

// Slots of a directory cluster: SectorsPerCluster x 4, limited to what
// ClusterBuffer holds.
int32_t SlotsPerCluster();
// Attribute byte of slot s of ClusterBuffer.
uint8_t SlotAttribute(int32_t s);
// A slot is in use when its Attribute is 0xD0, 0xD1, 0xF0, 0xF1, 0xF2 or 0xF3.
bool SlotInUse(uint8_t attribute);
// The last slot of ClusterBuffer in use, scanning from the end; -1 when none.
int32_t LastSlotInUse();
// True when ClusterBuffer holds a directory cluster: its slot 0 is "."
// (0xF1) or its slot 1 is ".." (0xF0).
bool LooksLikeDirectory();
// True when slot r.Slot of ClusterBuffer (the cluster holding r) still holds
// r's entry: a file or directory Attribute matching r.IsDir and r's
// StartCluster.
bool SlotHoldsEntry(const FoundEntry& r);

// Writes ClusterBuffer to disk cluster c (WriteTopfCluster); when the disk
// layer refuses, reports "Error:" prefix + "Couldn't write cluster " + the
// FAT index and returns false.
bool WriteBackCluster(int32_t diskCluster, bool allowSystem, const std::string& prefix);

// Reports "Error:" prefix + "Couldn't read the system cluster" (a step that
// needs disk cluster 0 stops after it).
void ReportSystemClusterUnreadable(const std::string& prefix);

}  // namespace checker
