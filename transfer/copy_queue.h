// The copy queue: the job list (List3) that the copy, erase and stream-scan
// jobs work through, built from the checked items of a pane.
//
// A line is "F " (a file) or "D " (a folder), the 1-based number of the pane's
// list item it came from as six digits, a blank, and the entry's index in
// Disk(side).Files as six digits: "F 000003 000017". A folder's own line comes
// before the lines of everything below it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/work_list.h"

namespace transfer {

// One item of a pane's file list (LV1(side)), as the window shows it: its key
// ("D.." the parent folder, "D" + six digits a folder, "i" + six digits a
// file; the digits are the entry's index in Disk(side).Files) and its check
// mark. Item n of the list is element n - 1.
struct PaneItem {
  std::string Key;
  bool Checked = false;
};
using PaneItems = std::vector<PaneItem>;

// True when item `item` (1-based) exists and is checked.
bool ItemChecked(const PaneItems& items, int32_t item);

// The queue.
extern core::WorkList List3;

// A parsed queue line.
struct QueueLine {
  char Kind = 'F';       // 'F' or 'D'
  int32_t Item = 0;      // 1-based list item
  int32_t Entry = 0;     // index into Disk(side).Files
};
std::string FormatQueueLine(char kind, int32_t item, int32_t entry);
// False for a line that is not of the form above.
bool ParseQueueLine(const std::string& line, QueueLine& out);

// Largest item or entry number a line can carry.
constexpr int32_t kMaxQueueNumber = 999999;

// Status text hook of the progress window ("Building file list - please wait
// (n files)"); may be empty.
using StatusHook = std::function<void(const std::string& text)>;

// Builds the queue from the checked items of the source pane `side`: a file
// line for a file; for a recorder folder a line for it and for every record
// below it, in list order; for a PC folder a line for it and the folder tree
// walked breadth-first (List1 as the queue of folders; hidden files and links
// to folders left out), each name found appended to Disk(side).Files.
// A queue whose numbers do not fit six digits is refused: the queue is left
// empty, a message says why, and the result is false.
// What the PC walk leaves out (a folder it cannot read, pipes, sockets,
// devices, links that lead nowhere or to a folder) goes to `skipped` as
// "path: why" lines, when it is given. Every PC file is opened so that the
// open cannot block.
bool FSBuildCopyList(int side, const PaneItems& items, const StatusHook& status = {},
                     std::vector<std::string>* skipped = nullptr);

// Clusters (of the side's cluster size, a PC side taking the other side's)
// that the queued files of checked items occupy; 0 when there is nothing to copy.
int64_t FSGetSelectedClusters(int side, const PaneItems& items);

}  // namespace transfer
