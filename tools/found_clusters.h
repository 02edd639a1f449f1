// The lost-recording scanner's found-cluster table and its search list.
//
// Every cluster of the left disk that the scan took for video stream data is
// one FoundCluster record. Records are appended in arrival order and never
// removed; FoundIndex keeps them ordered by (Pid, FirstPts). The table is
// saved as a fixed-column text file per disk, the search list
// (AppDir + CrcId + "_Search.txt"), and loaded from it again before every
// scan and every match.
//
// Search-list line (columns 1-based, lines ended by CR LF):
//   1-4 Pid (4 hex), 5 " ", 6-17 FirstPts (8 + 4 hex), 18 "-",
//   19-30 LastPts (8 + 4 hex), 31 " ", 32-37 Cluster (6 decimal), 38 " ",
//   39 "T" or " ", 40 " ", 41-46 FAT state ("------" free, "EEEEEE" end of
//   chain, else Next as 6 decimal), 47- " " + owning file's name (optional).
//
// A search list read back is checked line by line before anything of it is
// used: a line in another form, or one naming a cluster outside the disk,
// makes the whole file untrusted; it is then refused with a message and the
// table stays empty.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tools {

struct FoundCluster {
  int32_t Cluster = 0;     // FAT index
  int32_t Pid = 0;         // video PID (never 0)
  bool HasTFrc = false;    // the cluster begins with a recording header
  double FirstPts = 0;     // first presentation time stamp, 0 when none
  double LastPts = 0;      // last one, 0 when fewer than two were found
  int32_t NextRec = -1;    // table index of the next hit of its chain, -1 none
  int32_t PrevRec = -1;    // table index of the previous hit, -1 none
  bool Used = false;       // placed in a chain (or left out of matching)
  std::string Text;        // the hit's search-list line
  bool Excluded = false;   // left out of matching: cluster not free or seen before
};

// Capacity: records 0 .. 132000.
constexpr int32_t kFoundCapacity = 132001;

extern std::vector<FoundCluster> FoundClusters;   // FoundCount records in use
extern int32_t FoundCount;
extern std::vector<int32_t> FoundIndex;           // 0 .. FoundCount - 1 in (Pid, FirstPts) order

// The per-disk files in the program folder, named after side 0's CrcId.
std::string SearchStateFile();   // "_Search.ini"
std::string SearchListFile();    // "_Search.txt"
std::string MatchListFile();     // "_Match.txt"

// Where the table procedures show their work: the recovery window's status
// label and progress bar (0..100). Either may be empty.
struct RecoveryDisplay {
  std::function<void(const std::string& text)> Status;
  std::function<void(int percent)> Progress;
};
// Sets the display (the window while it is open); returns the previous one.
RecoveryDisplay SetRecoveryDisplay(RecoveryDisplay display);
void ShowStatus(const std::string& text);
void ShowProgress(int percent);
// Percent of done / total, 0 when total is 0.
int PercentOf(double done, double total);

// Empties the table (tests, and before a load).
void ClearFoundClusters();

// Appends the hit, builds its line from side 0's FAT and file list, and
// inserts it into FoundIndex. A full table is a run-time error (the hit is
// not added).
void AddRecoveredCluster(FoundCluster& hit);

// The search-list line of a hit as AddRecoveredCluster builds it.
std::string FoundText(const FoundCluster& hit);

// Writes the search list from the table (replacing the file). Consecutive
// index entries of one cluster give one line.
void SaveScanner();

// Empties the table and refills it from the search list. A missing file
// leaves the table empty (true). A file that fails the checks is refused:
// message box, table empty, false.
bool LoadScanner();

// Parses one search-list line of more than 45 characters into `hit`
// (Cluster, Pid, HasTFrc, FirstPts, LastPts). False when the line is not in
// the search-list form or names a cluster above `lastCluster`.
bool ParseFoundLine(const std::string& line, int32_t lastCluster, FoundCluster& hit);

// Forgets the cached chain heads and owners of side 0's FAT (call after the
// FAT or the file list changed; LoadScanner does it).
void ResetOwnerCache();

}  // namespace tools
