// System-cluster dumps: B.scc (the system cluster followed by the drive
// geometry: Cylinders as a little-endian double, TracksPerCylinder and
// SectorsPerTrack as little-endian 32-bit values) and B.scd (records of a
// little-endian 32-bit FAT index followed by that directory's cluster), both
// in the view. Both programs read and write them through core/dump_files.h.
#pragma once

#include <string>

namespace core {

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
