// Turning matched chains into pending recovered files of the left disk.
//
// UpdateStructure writes the chains of the found-cluster table into side 0's
// in-memory FAT and appends one pending entry (Recovered, DirCluster and
// Slot -1) per chain that no file owns. Nothing is written to the disk here;
// the Disk menu's Write Recovered does that, and a reload discards it all.
//
// Safety: what a listed entry reaches is never relinked; a chain cluster
// must lie in 1 .. LastCluster and be free or part of a lost chain (reached by
// no entry), and each cluster joins one chain only; a cluster that fails is
// left alone and splits its chain there. A recording that was whole before
// the scan (its chain ends on the end mark and holds the clusters its entry
// counts) is never changed: what follows it comes back as a file of its own.
// A part of a found chain that follows the last cluster of a cut file's chain
// (a repair ended it before its count, or a link broke) is linked behind it,
// up to the clusters the entry counts, and the file is pending until Write
// Recovered writes its size. A lost chain that gives clusters away is cut
// before them. Every walk is bounded.
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

// By FAT index: the last cluster of each cut file's chain (one a found chain
// may continue). A scan of the free area reads these too, so that the
// continuation can be told by its time stamps.
std::vector<bool> CutChainEnds();

// The rebuild; the main window's left pane then lists "\DataFiles\" ("\" in
// disaster mode) with the pending entries. Returns the number of new entries;
// `grown`, when given, receives the number of files a found chain continued.
int32_t UpdateStructure(int32_t* grown = nullptr);

}  // namespace tools
