// Maintenance commands on the left disk (side 0): wiping its start, turning
// plain .rec file entries into recording entries, and writing the pending
// recovered files as real directory entries.
//
// The window parts (question, reloading the panes, the menu state) stay with
// the main window's menu handlers; these routines do the disk work.
#pragma once

#include <cstdint>
#include <string>

namespace commands {

// The last disk cluster Kill Disk zeroes: 25000 / sectors per cluster,
// remainder dropped (2068 -> 12, 4512 -> 5). 0 for a cluster size below 1.
int32_t KillDiskLastCluster(int32_t sectorsPerCluster);

// Writes zeroed clusters 0 .. KillDiskLastCluster to the disk of side 0
// through the cluster write (with the system-cluster permission), each only
// where it lies on the device. Returns the number of clusters written;
// `wanted` receives how many should have been. Nothing is written outside
// those clusters, and nothing into dump files.
int32_t WipeDiskStart(int32_t& wanted);

// Kill Disk after its question has been answered Yes: the wipe above with
// the busy pointer, then the program's mode becomes disaster mode (Flags =
// (Flags AND 0xC0) OR 2). The caller reloads side 0 and the menus.
void KillDisk();

// Every 0xD0 entry of side 0 whose extension is "REC" (any case) becomes
// 0xD1 on the disk and in memory. An entry is changed only when its
// directory cluster was read and its slot still holds that entry. Returns
// the number of entries changed.
int32_t FSChangeD0D1();
// "No attributes to modify.", "1 file attribute has been modified.", or
// "<n> file attributes have been modified.".
std::string ChangeD0D1Text(int32_t count);

// Writes the FAT with the recovered chains, then the directory entries of
// the pending recovered files of side 0, and recalculates the folder sizes;
// a chain whose entry could not be written is freed and the FAT written
// again. Returns the number of entries written. The caller reloads side 0
// (and a right pane on the same disk).
int32_t WriteRecovered();

// True when side 0 shows a recorder disk (or a dump) with a usable cluster
// size; otherwise shows "There is no Topfield disk in the left pane." and
// returns false.
bool LeftRecorderReady();

}  // namespace commands
