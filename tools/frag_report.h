// The fragmentation report of the defragmenter: every fragmented file of the
// left pane's disk with the share of its broken cluster links and its number
// of fragments, in a list the user sorts by any column.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mainwindow {
class ListView;
}

namespace tools {

struct ReportRow {
  int32_t Index = 0;          // in Files of the side
  std::string Name;           // the item's Name (Windows-1252 bytes)
  int32_t Breaks = 0;
  std::string Percent;        // "20.0%"
  std::string Fragments;      // "00003"
};

// Breaks of the chain from `start` over its first `clusterCount` - 1 links
// (a link counts when the next index is not the current one + 1); bounded.
int32_t CountBreaks(int side, int32_t start, int32_t clusterCount);
// The rows of the report for a side: files (no folders) with more than one
// cluster and at least one break, in file-list order.
std::vector<ReportRow> BuildReportRows(int side);
// breaks / (clusterCount - 1) x 100 with one decimal and "%"; the fragment
// count breaks + 1 as at least five digits.
std::string PercentText(int32_t breaks, int32_t clusterCount);
std::string FragmentsText(int32_t breaks);

// Sets up the report list: three columns, kept sorted by "Fragments"
// descending with the "SortDesc" icon on that header.
void SetupLV(mainwindow::ListView* lv);
// Clears the list and fills it for side 0.
void DefragReport(mainwindow::ListView* lv);
// A click on header `column` (0-based): the same column reverses the order,
// another column sorts ascending; the header icons follow.
void ReportColumnClick(mainwindow::ListView* lv, int column);

}  // namespace tools
