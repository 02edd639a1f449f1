// Turning matched chains into pending recovered files of the left disk.
//
// UpdateStructure writes the chains of the found-cluster table into side 0's
// in-memory FAT and appends one pending entry (Recovered, DirCluster and
// Slot -1) per chain that no file owns. Nothing is written to the disk here;
// the Disk menu's Write Recovered does that, and a reload discards it all.
//
// Safety: a chain cluster must lie in 1 .. LastCluster and be free in the
// in-memory FAT when the rebuild starts, and each cluster joins one chain
// only; a cluster that fails is left alone and splits its chain there. Every
// walk is bounded. An entry that has a directory entry on the disk is never
// turned pending (writing it would give the chain a second entry).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

// The recorder path of the n-th new entry (n from 1) with an optional label.
std::string RecoveredName(int32_t n, const std::string& label, bool disasterMode);

// The label from a recording header in a view buffer (service name, "_",
// event name; bytes 32..127 and 160..255 kept, "\" dropped, trimmed).
std::string HeaderLabel(const uint8_t* header, size_t length);

// The rebuild; the main window's left pane then lists "\DataFiles\" ("\" in
// disaster mode) with the pending entries. Returns the number of new entries.
int32_t UpdateStructure();

}  // namespace tools
