// Check step 5, the FAT repair (fsck_05_FAT, steps.h), its passes and the
// lost-chain recovery that ends it. The sense levels live with the tables
// (fat_tables.h: SenseUnknown, SenseReferenced, SenseFree,
// SenseLostCrosslinked, SenseLost).
//
// Beyond the classic passes the step is sound on a damaged FAT:
//   - a directory (and the root) is one cluster: its chain ends after its
//     first cluster, and what followed comes back as a lost chain;
//   - where the tables disagree on a file's chain, the longer chain wins
//     (FAT2's at equal length), but a chain is never taken into the other
//     table beyond the point where it runs into clusters another entry owns
//     (the clusters both tables agree on from that entry's start); clusters
//     that two entries own in both tables are left as they are (step 6
//     reports the pair);
//   - a file's chain that runs on past the entry's cluster count into
//     clusters another entry's chain holds (another recording, its start, a
//     folder's cluster) ends at the count, in both tables ("FAT: ended 1
//     chain at its entry's cluster count, ..."): both keep their own bytes,
//     and the clusters beyond stay the other entry's; where both counts
//     claim the same clusters nothing is cut (step 6 reports the pair);
//   - a file's chain that disagrees with its count and runs, inside that
//     count, into the clusters of an entry whose chain agrees with its own
//     count ends before them ("FAT: ended 1 chain before the clusters of
//     another entry whose chain agrees with its cluster count"): the shared
//     clusters are the other's, and its own tail comes back as a lost
//     chain, in order;
//   - a chain only one table has, in a sector of that table that held
//     entries no FAT can hold, is freed there (fsck_05_FAT_DropOneCopyChains),
//     never made a file of the free clusters the intact copy has;
//   - entries the scan marked as invalid pointers claim nothing;
//   - a chain that runs in a circle is cut where it closes (the entry that
//     leads back becomes the end of the chain) and reported as
//     "FAT: terminated 1 circular chain in FAT1" / "... n circular chains ...";
//     nothing is freed;
//   - every walk visits each index at most once and uses only indexes
//     0 .. LastCluster; entries outside that range are passed over;
//   - a recovered chain never takes clusters of a chain already claimed (it
//     ends where it would run into one), is always ended by an end mark in
//     both tables, and a free cluster is never recovered as a file;
//   - the tables that end the recovered chains are written before the
//     entries that name them, so a cut between the writes leaves no entry on
//     a chain that runs on into another entry's clusters; a recovered entry
//     is recorded (and a recovered directory asks for the restart of steps 1
//     to 5) only once its directory slot was written;
//   - where one table has a chain run into a free cluster that the other
//     table carries on, the chain is carried on as the other table has it
//     ("FAT: restored 1 broken chain in FAT1 from FAT2");
//   - lost directories are recovered before any other lost chain, and the
//     other chains wait for the next round, so the contents of a recovered
//     directory are never recovered a second time as separate files; of lost
//     directories that hold one another only the outermost come back (the
//     walk finds the others inside them), and a chain is taken for a
//     directory exactly when the directory scan will walk it as one (one
//     test, IsDirectoryCluster, decides for both lost-chain passes, so a
//     folder whose "." is damaged comes back once, as a folder);
//   - FAT entries changed by the lost-chain recovery set FatChanged, so both
//     tables reach the disk.
#pragma once

#include <cstdint>

namespace checker {

// True once the FAT step of the current check loaded the tables from the
// disk; step 7 loads them itself otherwise.
extern bool FatTablesLoaded;

// The passes, in the order the step runs them.
void fsck_05_FAT_ClearInvalidPointers();
void fsck_05_FAT_StopBrokenChains();
void fsck_05_FAT_StopCircularChains();
void fsck_05_FAT_Sense9();
void fsck_05_FAT_FixSenseCrosslink();
void fsck_05_FAT_Sense8();
// A chain that nothing claims and only one table has (the other has all its
// clusters free) is no recording where that table is damaged (one of its
// entries lies in a sector that held entries no FAT can hold): the intact
// copy is right, and the chain is freed in the damaged one, never made a
// file of old data.
void fsck_05_FAT_DropOneCopyChains();
// Recovers the unreferenced chains whose first cluster is a directory
// cluster (before any other lost chain); true when one was recovered, and
// the two phases below then wait for the next round.
bool fsck_05_FAT_LostDirectories();
// The two lost-chain phases: chains touched by a crosslink (level 7), then
// the remaining unreferenced chains (level 6).
void fsck_05_FAT_LostCrosslinkedChains();
void fsck_05_FAT_LostChains();

// Makes the chain of FoundEntries[owner] (the root: FoundEntryCount) from
// `cluster` agree between the tables, copying it from FAT1 when fromFAT1,
// else from FAT2, and sets the Sense of every cluster it takes to `level`;
// true when an entry changed. The walk is bounded, ends the chain where it
// would run into clusters another entry owns (as fsck_05_FAT_Sense9 found
// the owners), and leaves a cluster shared with an entry that claimed it
// already as that entry left it.
bool SyncChains(int32_t cluster, bool fromFAT1, int32_t level, int32_t owner);

// Fills the directory entry (and FoundEntries record) for the chain that
// starts at LongestStart with `clusters` clusters into the first unused slot
// of the DataFiles directory's first cluster, held in memory until
// fsck_05_FAT_WriteRecovered. A name that slot's cluster holds already is
// not given again (LostCounter goes on to the next free number).
void fsck_05_FAT_CreateFile(int32_t clusters);
// Writes the tables when they changed (else reports "OK:" "FAT"), then,
// once they are on the disk, the entries fsck_05_FAT_CreateFile filled; only
// then are the entries recorded and reported, and a recovered directory
// sets LostDirectoryRecovered.
void fsck_05_FAT_WriteRecovered();

}  // namespace checker
