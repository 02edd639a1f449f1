// Filters of the copy queue before the copy job streams: they mark queue
// lines (0-based positions in List3, appended in ascending order to
// DeselectList at DeselectCount); FSRemoveDeselected takes the marked lines
// out. Only "F " lines are ever marked. `side` is the source pane; the target
// is the other side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/copy_queue.h"

namespace transfer {

// Marks every file line whose target (FSTargetPath, and on a PC the very file
// FSCreateFile would create) exists on the target side, checked or not. A
// folder at the target's name is a collision too: the user is told to rename
// one of the two ("You're trying to write the file ... over the directory
// ... Please rename one of the two objects first!") and the line is marked.
void FSDeselectDestExists(int side, const std::string& sourceFolder,
                          const std::string& targetFolder, std::vector<int32_t>& DeselectList,
                          int32_t& DeselectCount);

// PC target on a file system limited to 4 GB files (the FAT family) only:
// marks the checked files of 4 GiB (4294967296 bytes) or more.
void FSDeselectSourceToNonNTFS(int side, const PaneItems& items, const std::string& targetFolder,
                               std::vector<int32_t>& DeselectList, int32_t& DeselectCount);

// The marking step of the filter above, once the target is known to be
// limited: checked files of 4 GiB or more.
void DeselectOver4GB(int side, const PaneItems& items, std::vector<int32_t>& DeselectList,
                     int32_t& DeselectCount);

// Greedy fit in queue order into the target's free space (FSGetFreeSpace):
// a checked file that fits stays and uses its room (on a recorder target its
// whole clusters), one that does not is marked.
void FSDeselectNoSpace(int side, const PaneItems& items, std::vector<int32_t>& DeselectList,
                       int32_t& DeselectCount);

// Removes the marked lines from List3, last first, and sets DeselectCount to 0.
void FSRemoveDeselected(int side, std::vector<int32_t>& DeselectList, int32_t& DeselectCount);

}  // namespace transfer
