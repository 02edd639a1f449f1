// The file-system check of the recorder disk shown on one side. It reads the
// disk (through the side's cluster and sector readers) and writes nothing to
// it. Five steps run in order; the first step with a fatal finding ends the
// check with "fail". Findings are kept in FsckResults with their texts.
//
//   1 superblock        2 backup superblock   3 FAT1
//   4 FAT2              5 directories and files
//
// Beyond the classic findings the check fails on a FAT chain that runs in a
// circle (steps 3 and 4, bit 2, "Circular Chains (...)"), on a FAT that the
// side's cluster size cannot hold (bit 0, "Outside FAT Range (Sectors per
// Cluster=...)") or a used entry on an index whose cluster the device's end
// cuts (bit 0, listed with the indexes out of range), on a directory reached a second time, a loop in the
// tree (step 5, bit 5, "Directory Loop (...)"), and on two entries that own
// one cluster (step 5, bit 6, "Crosslinked Clusters (a & b)"): two entries
// sharing a chain, or an entry whose first cluster is another chain's
// successor. An erase of either would free what the other still holds.
// A file entry whose size fields no writer can give (step 5, bit 7,
// "Invalid File Size (...)") fails the check too: its size cannot be known.
// Every walk is bounded.
//
// What cannot be read is named as unreadable, never examined as zeros (bit
// 8 of the step that reads it, fatal): "Unreadable Super Block" (step 1),
// "Unreadable Sectors of the System Cluster (...)" (step 2: the backup
// superblock, the root copy and the other sectors outside the FATs),
// "Unreadable FAT1 (sectors ...)" and "Unreadable FAT2 (sectors ...)"
// (steps 3 and 4), "Unreadable Directory (...)" (step 5). Where the other
// FAT holds the entries of an unreadable FAT sector, they are taken from it,
// as the loader takes them, and so are the root's first slots from the root
// copy of the system cluster; the check goes on to the later steps (so
// that what lies below is still examined); it stops where nothing can stand
// in for what was not read (the superblock, FAT entries unreadable in both
// FATs). A folder that could not be read hides what lies below it: no chain
// is then counted as lost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/disk_model.h"

namespace core {

struct FsckResult {
  int32_t Flags = 0;       // one bit per kind of finding
  int32_t FatalMask = 0;   // the bits that make the step fatal
  int32_t Status = 0;      // 0 nothing found, 1 warnings only, 2 fatal
  std::string Text;        // the findings' texts joined by ", "
};

constexpr int kFsckSteps = 11;   // entries 0..10; entry n belongs to step n (1..5)
extern FsckResult FsckResults[kFsckSteps];

// Fatal masks of the steps.
constexpr int32_t kFsckUnreadable = 256;       // bit 8 of every step: a read that failed
constexpr int32_t kFsckFatalSuperblock = 7 | kFsckUnreadable;   // steps 1 and 2
constexpr int32_t kFsckFatalFat = 19 | 4 | kFsckUnreadable;     // steps 3 and 4 (with circular chains)
// Step 5, with loops, shared chains and impossible size fields.
constexpr int32_t kFsckFatalFiles = 1 | 32 | 64 | 128 | kFsckUnreadable;

// One decoded FAT element of the check's own tables.
struct FsckLink {
  int32_t Next = 0;       // 0 free, -1 end of chain, else the next FAT index
  int32_t Referrer = 0;   // the (highest) FAT index pointing here, 0 when none
};

// Check-wide state, kept until the next check.
extern int FsckSide;
extern int32_t FsckLastCluster;             // -1 .. 0x1FFFF
extern std::vector<FsckLink> FsckFAT1;      // kFatEntries elements
extern std::vector<FsckLink> FsckFAT2;
extern std::vector<FileRec> FsckFiles;
extern int32_t FsckFileCount;

// Checks the side's recorder disk (or dump). True when no step had a fatal
// finding. Shows the wait window "Scanning Topfield Disk N. Please stand
// by." while it runs and closes the side's open file at the end.
bool FSCK(int side);

// The findings of the last check (FSCK) that name what it could not read
// ("Unreadable Directory (\DataFiles\Films\)", ...), in their order; empty
// when it read all it looked at. What lies below an unreadable part is not
// judged, so a refusal with any of these is one for bad sectors.
const std::vector<std::string>& FsckUnreadableFindings();

// Records finding `bit` of `step` with `text`, unless that bit is set already.
void AddResult(int step, int bit, const std::string& text);

void FSCK_01_SuperBlock();
void FSCK_02_BackupSuperBlock();
void FSCK_03_FAT1();
void FSCK_04_FAT2();
void FSCK_05_Files();
// The directory walk of step 5: fills FsckFiles from the root down.
void ReadDir();
// Clusters of the chain from `start` in FsckFAT1 (at least 1; a chain that
// does not end is cut after FsckLastCluster + 1 clusters).
int32_t GetFATChainLength(int32_t start);

// Empties the results and tables (tests).
void ResetFsckState();

}  // namespace core
