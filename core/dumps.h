// System-cluster dumps: B.scc (the system cluster followed by the drive
// geometry: Cylinders as a little-endian double, TracksPerCylinder and
// SectorsPerTrack as little-endian 32-bit values) and B.scd (records of a
// little-endian 32-bit FAT index followed by that directory's cluster), both
// in the view.
#pragma once

#include <string>

namespace core {

// Writes the dump of the side's recorder disk (or, in file mode, of the
// loaded dump) to B.scc and B.scd, B being `path` without its extension.
// Does nothing on a PC side. True when both files were written.
bool SaveTopfSystemClusters(int side, const std::string& path);

// Writes dump B back onto the side's disk after checking both files
// completely, then ends the program ("The program will close now. Please
// restart it to load the modified disk."). Returns (false) only when nothing
// was written: a PC side, or a dump that failed the checks (with a message).
bool RestoreTopfSystemClusters(int side, const std::string& path);

// B: `path` with the extension of its last component removed.
std::string DumpBasePath(const std::string& path);

}  // namespace core
