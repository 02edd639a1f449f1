// Erasing entries of a side's file list, and the directory-size run.
//
// The directory-size work list is List4[side] (disk_model.h): the writers
// queue every folder whose contents changed, and the job that made the
// changes runs the list once at its end.
#pragma once

#include <cstdint>

namespace core {

// Erases Files[index] of the side and marks its record erased ("~~~~~").
//
// Recorder side: the entry's slot becomes unused (all 0xFF), its folder is
// queued for the size run, with `freeChain` its chain is freed
// (FSKillFATChain), and UsedClusters is recounted from memory. A pending
// recovered record (no slot) is only marked. Refused, with a message and
// false, and nothing changed: an entry of the root directory, a folder that
// still holds live entries (in the list or on the disk), a slot that no
// longer holds this entry, and a directory cluster that cannot be read.
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
void FSRecalculateDirSizes(int side, int request, int32_t cluster);

}  // namespace core
