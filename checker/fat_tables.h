// The check program's in-memory copies of both FAT copies of the system
// cluster (FAT1 at byte 0x20000, FAT2 at 0x80000, 3-byte big-endian entries),
// with the analysis the repair steps need: who points to an entry, how many
// do, and how long the chain from it is.
//
// Every walk is bounded: a chain is followed over each index at most once,
// so a chain that runs in a circle ends (its length is the number of
// different entries on it), and no index outside 0 .. 0x1FFFF is ever used.
#pragma once

#include <cstdint>
#include <vector>

#include "checker/disk_layer.h"

namespace checker {

constexpr int32_t kFatFree = int32_t(core::kFat24Free);   // free entry
constexpr int32_t kFatEnd = int32_t(core::kFat24End);     // end of chain
constexpr int32_t kFat1Offset = core::kFAT1;
constexpr int32_t kFat2Offset = core::kFAT2;

// One FAT index of one table.
struct TopfFatEntry {
  int32_t Value = 0;    // next FAT index; kFatEnd; kFatFree; any other value as read
  int32_t XRef = 0;     // the highest index <= LastCluster whose Value is this index; 0 = none
  int32_t NrRef = 0;    // how many entries 0 .. LastCluster have this index as Value
  int32_t Length = 0;   // chain length from this index (CalcFATChainLengths)
};

// Indexes 0 .. 0x1FFFF; only 0 .. LastCluster are filled from the disk.
extern std::vector<TopfFatEntry> FAT1;
extern std::vector<TopfFatEntry> FAT2;

// Sense levels of the FAT step, one per FAT index 0 .. 0x1FFFF.
constexpr int32_t SenseUnknown = 0;           // not claimed yet
constexpr int32_t SenseReferenced = 9;        // on a chain a found entry refers to; index 0
constexpr int32_t SenseFree = 8;              // free and unreferenced in both tables
constexpr int32_t SenseLostCrosslinked = 7;   // claimed by the first lost-chain phase
constexpr int32_t SenseLost = 6;              // claimed by the second lost-chain phase
extern std::vector<int32_t> Sense;

// The longest chain found by CalcFATChainLengths.
extern int32_t LongestStart;     // -1 = none
extern int32_t LongestLength;
extern bool LongestInFAT1;

// The table of the flag: FAT1 when inFAT1, else FAT2.
inline std::vector<TopfFatEntry>& FatTable(bool inFAT1) { return inFAT1 ? FAT1 : FAT2; }

// The highest FAT index the tables take part in: min(LastCluster, 0x1FFFF,
// the last entry whose three bytes lie inside both FAT areas of the cluster
// buffer); -1 when there is none.
int32_t FatLastIndex();

// Fills both tables' values from ClusterBuffer, which must hold disk cluster
// 0; then CalcFATXRefs.
void LoadTopfFAT();
// Rereads disk cluster 0 into ClusterBuffer and stores both tables' values
// into it. The caller writes cluster 0. False when cluster 0 could not be
// read: the buffer is then not filled and must not be written.
bool SaveTopfFAT();
// Recomputes XRef and NrRef; clears Length and the longest-chain record.
void CalcFATXRefs();
// Recomputes Length for the entries with Sense 0, and the longest chain
// (strictly longer wins: lower index first, FAT1 before FAT2).
void CalcFATChainLengths();
// First index of the chain through index, following XRef.
int32_t FindChainStart(int32_t index, bool inFAT1);
// Number of entries from index to the end of its chain: 0 for a free
// entry, 1 for an end entry; a Value of 0 or of 0x20000 and above ends the
// walk after that entry. An index outside 0 .. 0x1FFFF gives 0.
int32_t FindChainLength(int32_t index, bool inFAT1);

// Allocates the tables and Sense (all zero) and resets the longest-chain
// record; done once at start-up and by tests.
void ResetFatTables();

}  // namespace checker
