// Erasing entries of a side's file list, and the directory-size run.
//
// The directory-size work list is List4[side] (disk_model.h): the writers
// queue every folder whose contents changed, and the job that made the
// changes runs the list once at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace core {

// The chain of Files[index] in the side's in-memory FAT, from its first
// cluster to the end of chain; each index once, only indexes 1..LastCluster.
std::vector<int32_t> EntryChain(int side, int index);

// True when anything but Files[index] itself reaches a cluster of `chain`:
// a FAT link from a cluster outside the chain, or another live record of
// the side's list (a file, a folder or a pending recovered file) whose first
// cluster lies in the chain. Such clusters belong to someone else too.
bool ChainReachedByOthers(int side, int index, const std::vector<int32_t>& chain);
// The position in `chain` of its first cluster that something else reaches
// as above; chain.size() when there is none. Everything from there on is
// reached by the other too.
size_t FirstReachedByOthers(int side, int index, const std::vector<int32_t>& chain);

// Erases Files[index] of the side and marks its record erased ("~~~~~").
//
// Recorder side: the entry's slot becomes unused (all 0xFF), its folder's
// "." FreeBytes then ends behind the last slot still in use, its folder is
// queued for the size run, with `freeChain` its chain is freed
// (FSKillFATChain) - but never a cluster that another entry still reaches
// (FirstReachedByOthers): those stay with the other entry, and only the
// clusters in front of them, which nothing else reaches, are freed - and
// UsedClusters is recounted from memory. A pending
// recovered record (no slot) is only marked. Refused, with a message and
// false, and nothing changed: an entry of the root directory, a folder that
// still holds live entries (in the list or on the disk), a slot that no
// longer holds this entry, a directory cluster that cannot be read, and a
// FAT (disk cluster 0) that cannot be read. When the FAT cannot be written
// after the slot was cleared, the chain stays allocated (in memory too) and
// the slot is written back: refused as above; when even that fails, the user
// is told to run a file system check and the record counts as erased.
//
// PC side: a file (or a symbolic link, never followed) is deleted, an empty
// folder removed. What could not be deleted stays listed and is reported.
// True when the record was erased.
bool FSEraseFile(int side, int index, bool freeChain);

// Requests of FSRecalculateDirSizes.
constexpr int kDirSizesClear = 0;
constexpr int kDirSizesAdd = 1;
constexpr int kDirSizesRun = 2;

// 0: empties the side's work list; 1: adds folder `cluster` (FAT index) to it;
// 2: runs it - every queued folder and all its ancestors get ClusterCount =
// 1 + the counts of the live entries inside, on the disk and in memory (Size
// the sum of their sizes); a top-level folder's copy in the system cluster
// follows. Only live folder records are looked up. A PC side does nothing.
// A size that could not be read, written or copied to the system cluster is
// reported (the first such folder, once a run) and makes the result false.
bool FSRecalculateDirSizes(int side, int request, int32_t cluster);

}  // namespace core
