#include "tools/frag_report.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/number_format.h"
#include "mainwindow/form1.h"
#include "mainwindow/list_view.h"

namespace tools {

namespace {
// The list's sort state, kept on the widget.
constexpr const char* kSortColumnProperty = "ReportSortColumn";
constexpr const char* kSortOrderProperty = "ReportSortOrder";   // 0 ascending, 1 descending

void ApplySort(mainwindow::ListView* lv, int column, int order) {
  lv->setProperty(kSortColumnProperty, column);
  lv->setProperty(kSortOrderProperty, order);
  lv->SetAutoSort(true, column, order == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}
}  // namespace

int32_t CountBreaks(int side, int32_t start, int32_t clusterCount) {
  const core::DiskRec& d = core::Disk[side];
  const int32_t last = core::LastFatIndex(side);
  int32_t breaks = 0;
  int32_t c = start;
  // No chain has more than LastCluster + 1 clusters.
  const int64_t links = std::min<int64_t>(int64_t(clusterCount) - 1, int64_t(last) + 1);
  for (int64_t k = 0; k < links; ++k) {
    if (c <= 0 || c > last) break;   // an early end (or a link off the disk) changes nothing more
    const int32_t n = d.FAT[size_t(c)].Next;
    if (n - c != 1) ++breaks;
    c = n;
  }
  return breaks;
}

std::string PercentText(int32_t breaks, int32_t clusterCount) {
  const double value = clusterCount > 1 ? double(breaks) / double(clusterCount - 1) * 100.0 : 0.0;
  return core::FormatFixed(std::round(value * 10.0) / 10.0, 1) + "%";
}

std::string FragmentsText(int32_t breaks) {
  char text[32];
  std::snprintf(text, sizeof text, "%05lld", static_cast<long long>(breaks) + 1);
  return text;
}

std::vector<ReportRow> BuildReportRows(int side) {
  const core::DiskRec& d = core::Disk[side];
  std::vector<ReportRow> rows;
  for (int32_t i = 0; i < d.FileCount && i < int32_t(d.Files.size()); ++i) {
    const core::FileRec& r = d.Files[size_t(i)];
    if (r.IsDir || r.ClusterCount <= 1) continue;
    const int32_t breaks = CountBreaks(side, r.StartCluster, r.ClusterCount);
    if (breaks <= 0) continue;
    rows.push_back({i, r.Name, breaks, PercentText(breaks, r.ClusterCount), FragmentsText(breaks)});
  }
  return rows;
}

void SetupLV(mainwindow::ListView* lv) {
  lv->clear();
  lv->setColumnCount(0);
  lv->setRootIsDecorated(false);
  lv->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lv->SetLabelEditAutomatic(false);
  lv->AddColumn("File name", mainwindow::TwipsToPixels(4000), Qt::AlignLeft);
  lv->AddColumn("Defragmentation", mainwindow::TwipsToPixels(1700), Qt::AlignRight);
  lv->AddColumn("Fragments", mainwindow::TwipsToPixels(1500), Qt::AlignRight);
  // A header is never narrower than its caption with the sort icon.
  const QFontMetrics metrics(lv->header()->font());
  const int iconRoom = lv->header()->style()->pixelMetric(QStyle::PM_SmallIconSize) + 24;
  for (int column = 1; column < lv->ColumnCount(); ++column) {
    const int needed = metrics.horizontalAdvance(lv->ColumnCaption(column)) + iconRoom;
    if (lv->columnWidth(column) < needed) lv->setColumnWidth(column, needed);
  }
  ApplySort(lv, 2, 1);
  lv->SetColumnIcon(0, "SortEmpty");
  lv->SetColumnIcon(1, "SortEmpty");
  lv->SetColumnIcon(2, "SortDesc");
}

void DefragReport(mainwindow::ListView* lv) {
  if (!lv) return;
  lv->Clear();
  for (const ReportRow& row : BuildReportRows(0)) {
    const QString key = "i" + QString::number(row.Index);
    lv->AddItem(key, mainwindow::RecorderToDisplay(row.Name));
    // The report has no check boxes.
    if (QTreeWidgetItem* item = lv->Find(key)) {
      item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
      item->setData(0, Qt::CheckStateRole, QVariant());
    }
    lv->SetSubItem(key, 1, QString::fromStdString(row.Percent));
    lv->SetSubItem(key, 2, QString::fromStdString(row.Fragments));
  }
}

void ReportColumnClick(mainwindow::ListView* lv, int column) {
  if (!lv || column < 0 || column >= lv->ColumnCount()) return;
  const int sortColumn = lv->property(kSortColumnProperty).isValid()
                             ? lv->property(kSortColumnProperty).toInt()
                             : -1;
  const int order = lv->property(kSortOrderProperty).toInt();
  if (sortColumn == column) {
    const int reversed = order == 0 ? 1 : 0;
    ApplySort(lv, column, reversed);
    lv->SetColumnIcon(column, reversed == 0 ? "SortAsc" : "SortDesc");
  } else {
    ApplySort(lv, column, 0);
    for (int k = 0; k < lv->ColumnCount(); ++k) lv->SetColumnIcon(k, "SortEmpty");
    lv->SetColumnIcon(column, "SortAsc");
  }
}

}  // namespace tools
