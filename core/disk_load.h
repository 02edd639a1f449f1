// Loading what a side shows into its DiskRec: a recorder disk (or a dump in
// file mode) with its superblock, FAT and whole directory tree, or the one
// PC folder the pane shows.
#pragma once

namespace core {

// Fills Disk[side]. With force false and both sides on the same disk, the
// side takes a copy of the other side's record (keeping its own handle).
// True when a recorder disk with the right identity was loaded or the PC
// folder was listed.
bool LoadTopf(int side, bool force);

// Rebuilds only the in-memory FAT of a recorder side (all 0x20000 entries).
void LoadTopfFAT(int side);

// The size totals of the directory records (each directory gets the sum of
// the sizes of all records whose names begin with its name and "\").
void SumDirectorySizes(int side);

}  // namespace core
