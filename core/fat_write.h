// Carrying the in-memory FAT of a recorder side to the disk: the whole FAT
// with the used-cluster count, the freeing of one chain, and the backup-CRC
// trailer. Each routine reads disk cluster 0, changes fields of that image
// and writes the whole cluster back with the system-cluster permission (the
// write refreshes the FAT CRC). A cluster 0 whose read failed is never
// written back: the routine then changes nothing and returns false.
#pragma once

#include <cstdint>

namespace core {

// Writes FAT1 and FAT2 entries 0 .. LastCluster from Disk[side].FAT and the
// number of used entries into both superblocks. The in-memory FAT is left
// unchanged. True when cluster 0 was written.
bool UpdateTopfFAT(int side);

// Frees the chain that starts at FAT index `first` in FAT1, FAT2 and memory
// (Next and Prev 0), then writes cluster 0. The walk visits each index at
// most once and stops at an end mark, a free link or a link outside the FAT;
// `first` below 1 frees nothing (the root is never freed). UsedClusters is
// not changed here. True when cluster 0 was written.
bool FSKillFATChain(int side, int32_t first);

// Stores the "Fire" marker and the FAT CRC read from the disk in the trailer
// of cluster 0, writes it, and sets Disk[side].BackupCrcId to that CRC.
bool CopyBackupCRC(int side);

// Number of FAT indexes 0 .. LastCluster whose in-memory Next is not 0.
int32_t CountUsedClusters(int side);

}  // namespace core
