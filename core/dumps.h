// System-cluster dumps: B.scc (the system cluster followed by the drive
// geometry: Cylinders as a little-endian double, TracksPerCylinder and
// SectorsPerTrack as little-endian 32-bit values) and B.scd (records of a
// little-endian 32-bit FAT index followed by that directory's cluster), both
// in the view. Both programs read and write them through core/dump_files.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/dump_files.h"

namespace core {

// What a save of a dump reads, as the program that saves sees it: its own
// cluster reader over the disk (or, in file mode, over the dump it has
// loaded), and what the new files must never be.
struct DumpSource {
  int32_t SectorsPerCluster = 0;
  // The highest FAT index a folder of the dump may have.
  int32_t LastCluster = 0;
  // Stored behind the system cluster in the .scc file.
  DumpGeometry Geometry;
  // Reads disk cluster `cluster` into `data` (SectorsPerCluster x 512 bytes,
  // in the view). True when every sector was read; otherwise the sectors
  // that could not be read are zeros and their numbers within the cluster
  // are in `unreadable` (none when nothing at all could be read).
  std::function<bool(int32_t cluster, std::vector<uint8_t>& data, std::vector<int32_t>& unreadable)>
      ReadCluster;
  // The handles of the disks the program has open (never written over), and
  // the base path of the dump it has loaded ("" in disk mode).
  std::vector<int> OpenDisks;
  std::string LoadedDump;
};

// The one save of a dump, for both programs: refuses a target whose .scc or
// .scd file is an open disk or a file of the loaded dump (the same file:
// one device and inode, through links too) before anything is written;
// writes the system cluster and every folder walked from the root, once
// each (WalkDumpFolders order), into new files that take the names of
// B.scc and B.scd together once both are whole. A folder that cannot be
// read whole is left out, and the folders below it are still reached from
// its readable sectors (the root's first slots from their copy in the
// system cluster); what was left out is named in one message. True when
// both files were written.
bool SaveDump(const DumpSource& source, const std::string& path);

// Writes the dump of the side's recorder disk (or, in file mode, of the
// loaded dump) to B.scc and B.scd, B being `path` without its extension.
// Does nothing on a PC side. True when both files were written.
bool SaveTopfSystemClusters(int side, const std::string& path);

// Writes dump B back onto the side's disk after checking both files
// completely, then ends the program ("The program will close now. Please
// restart it to load the modified disk."). Only the system cluster and the
// folder clusters reached from the dump's own root through its own folders
// are written; any other record is named before the first write and never
// written, and the rest is written only when the user agrees. Returns
// (false) only when nothing was written: a PC side, a dump that failed the
// checks (with a message), or a user who declined.
bool RestoreTopfSystemClusters(int side, const std::string& path);

// B: `path` with the extension of its last component removed.
std::string DumpBasePath(const std::string& path);

}  // namespace core
