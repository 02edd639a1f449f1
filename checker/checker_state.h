// State the check driver shares with the check steps, and the results list.
//
// The results list holds one line per finding: kind + TAB + text, the kinds
// being "Fixed:", "OK:", "Info:", "Skipped:" and "Error:" (separator lines and
// hints have an empty kind). It never holds more than kMaxResultLines lines:
// before a line is added the oldest lines are dropped while it holds that
// many. The list lives here, independent of any window, so the check steps
// can run (and be tested) without one; the main window shows it by
// installing a ResultsObserver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/work_list.h"

namespace checker {

// ------------------------------------------------------------ results list

constexpr size_t kMaxResultLines = 32701;

// Kinds of result lines.
inline constexpr const char* kFixed = "Fixed:";
inline constexpr const char* kOK = "OK:";
inline constexpr const char* kInfo = "Info:";
inline constexpr const char* kSkipped = "Skipped:";
inline constexpr const char* kError = "Error:";

// Appends kind + TAB + text (after dropping the oldest lines as needed),
// tells the observer, and processes pending window messages when
// processMessages is true.
//
// Inside a check step (StepResults), a "Fixed:" line stands for a change
// made in ClusterBuffer that is not on the disk yet, so it is held back,
// with every line added after it (their
// order stays), until the write of that cluster settles it
// (SettleHeldLines, called by WriteBackCluster): it is shown when the
// change reached the disk and left out when it did not (the write's
// "Error:" line then names the cluster). A step adds a fix's line after it
// made the change and before it writes that cluster, and writes no other
// cluster in between.
void Addinfo(const std::string& kind, const std::string& text, bool processMessages = true);
// Appends one line as it is (no kind, no TAB), with the same line limit
// (behind any held lines).
void AddResultLine(const std::string& line);
// Shows the held lines: their "Fixed:" lines only when `written`.
void SettleHeldLines(bool written);
// For the life of the object (a check step): lines still held when it ends
// stand for changes no write took to the disk; their "Fixed:" lines are
// left out.
class StepResults {
 public:
  StepResults();
  ~StepResults();
  StepResults(const StepResults&) = delete;
  StepResults& operator=(const StepResults&) = delete;
};
// Empties the list.
void ClearResults();
// The lines, oldest first.
const std::deque<std::string>& ResultLines();
// The lines as one vector (tests).
std::vector<std::string> ResultLinesCopy();

// Told about every change of the list (the main window mirrors it).
struct ResultsObserver {
  std::function<void(const std::string& line)> Added;    // a line was appended
  std::function<void(size_t count)> DroppedFront;        // the oldest `count` lines went
  std::function<void()> Cleared;                          // the list was emptied
};
// Installs the observer (an empty one removes it).
void SetResultsObserver(ResultsObserver observer);

// The busy pointer for the life of the object, also when the work throws.
class BusyPointer {
 public:
  BusyPointer();
  ~BusyPointer();
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
};

// ------------------------------------------------------------ shared flags

// Set by the directory scan when a directory cluster could not be read;
// steps 5 to 7 then skip their work and the summary is replaced.
extern bool DirScanIncomplete;
// Cleared before each pass of steps 1 to 5; set when the lost-chain recovery
// recovered a directory (the driver then runs steps 1 to 5 again).
extern bool LostDirectoryRecovered;
// Numbers the recovered lost chains; 0 at start-up, never reset by a check.
extern int32_t LostCounter;
// Set by the FAT step when it changed an entry.
extern bool FatChanged;
// True after the start-up hints were added; the next check clears the list.
extern bool HintShown;

// ------------------------------------------------------------ found entries

// One directory entry found by the directory scan.
struct FoundEntry {
  std::string Name;            // full path; a directory's ends with "\" (Windows-1252 bytes)
  bool IsDir = false;          // Attribute 0xF2 or 0xF3
  int32_t StartCluster = 0;    // the entry's StartCluster (+8)
  int32_t ClusterCount = 0;    // the entry's ClusterCount (+12); 1 for directories
  double Size = 0;             // files: bytes; directories: 0
  int32_t DirCluster = 0;      // FAT index of the directory cluster holding the entry
  int32_t Slot = 0;            // its slot in that cluster
  int32_t ParentCluster = 0;   // StartCluster of the holding directory's ".." (0 in the root)
  // A directory entry whose start cluster holds no directory (or lies
  // outside the disk): the later steps claim nothing for it, and step 6
  // removes it.
  bool InvalidPointer = false;
  // A directory entry leading to a directory cluster that was walked through
  // another entry: it shares that cluster and is not walked again.
  bool Duplicate = false;
};

// Indexes 0 .. kMaxFoundEntries - 1. Nothing may be stored at or beyond
// kMaxFoundEntries: a disk with more entries leaves the rest unrecorded.
constexpr int32_t kMaxFoundEntries = 10001;
extern std::vector<FoundEntry> FoundEntries;   // sized kMaxFoundEntries by AllocateFoundEntries
extern int32_t FoundEntryCount;

// Sizes FoundEntries to kMaxFoundEntries empty records, FoundEntryCount 0.
void AllocateFoundEntries();

// Slots beyond their folder's end (the slots the "." entry's FreeBytes
// leaves out, which the main program never reads) that look like entries
// but are none: (folder FAT index, slot). The directory scan fills it with
// those it could neither take as entries nor set to unused; the repairs of
// a folder's end do not count them as slots in use.
extern std::set<std::pair<int32_t, int32_t>> StaleSlots;

// The folders (FAT indexes) this run brought into the main program's sight:
// a lost directory recovered, a standard folder reached again through a
// restored root slot (-> true: a standard folder). The directory scan takes
// an entry inside one (or inside a folder below one) only with what is its
// own; see step_dirscan.h. Cleared when a run starts.
extern std::map<int32_t, bool> RevealedFolders;

// The hidden sorted work list List1 of the main window (the directory walk of
// the scan step and of the system-cluster save). Lines: FAT index, a blank,
// the directory's path.
core::WorkList& List1();

// Puts the results list, the flags, the found entries and List1 back to
// their start state (tests).
void ResetCheckerState();

}  // namespace checker
