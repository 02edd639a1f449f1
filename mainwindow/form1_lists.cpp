// The file lists: set-up of columns, icons and sort state; filling a list
// from its side's model; sorting with ".." and folders on top; the summary.
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QPalette>
#include <QPushButton>

#include <climits>
#include <cmath>
#include <cstdio>

#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/number_format.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "core/side_file.h"
#include "mainwindow/form1.h"

namespace mainwindow {

namespace {

struct ColumnSpec {
  const char* Caption;
  const char* Key;   // without the "L"/"R" prefix
  int DefaultWidth;  // twips
  Qt::Alignment Align;
  const char* Widest;  // the widest value the column shows in practice
};
const ColumnSpec kColumns[5] = {
    {"File name", "Col01Width ", 4000, Qt::AlignLeft, ""},
    {"Size", "Col02Width ", 1100, Qt::AlignRight, "8888.88 MB"},
    {"Rec. Date", "Col03Width ", 1600, Qt::AlignLeft, "8888-88-88 88:88"},
    {"Type", "Col04Width ", 1000, Qt::AlignLeft, "Radio"},
    {"Duration", "Col05Width ", 1000, Qt::AlignLeft, "88:88"},
};

// The width in pixels column `c` of `lv` needs to show its caption with the
// sort icon, and `widest`, whole in the list's font.
int NeededWidth(ListView* lv, int c, const QString& widest) {
  const QString icon = lv->ColumnIconKey(c);
  lv->SetColumnIcon(c, "SortAsc");
  const int header = lv->header()->sectionSizeHint(c);
  lv->SetColumnIcon(c, icon);
  const int margin = 2 * (lv->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lv) + 1);
  return std::max(header, lv->fontMetrics().horizontalAdvance(widest) + margin + 2);
}

// A stored column width beyond this (twips; 10000 pixels) reads as none.
constexpr int32_t kMaxColumnTwips = 150000;

// "yyyy-mm-dd hh:nn" of a date value.
QString FormatRecDate(double value) {
  const core::DateParts d = core::SplitDateValue(value);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", d.Year, d.Month, d.Day, d.Hour,
                d.Minute);
  return QString::fromLatin1(text);
}

// A duration in minutes as a time of day "hh:nn" (hours wrap after 23).
QString FormatDuration(int32_t minutes) {
  int64_t m = minutes % 1440;
  if (m < 0) m += 1440;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(m / 60), static_cast<int>(m % 60));
  return QString::fromLatin1(text);
}

QString SizeText(double size, int decimals) {
  return QString::fromStdString(core::FileSizeToString(size, decimals, false));
}

}  // namespace

// ------------------------------------------------------------------ set-up

void Form1::SetupLV() {
  core::ProcScope scope("SetupLV");
  for (int side = 0; side < 2; ++side) {
    ListView* lv = LV1[side];
    const std::string prefix = side == 0 ? "L" : "R";
    lv->SetColumnsMovable(true);
    // A second set-up (tests) starts from an empty column set.
    while (lv->ColumnCount() > 0) lv->RemoveLastColumn();
    lv->Clear();
    for (const ColumnSpec& c : kColumns) {
      const int width =
          core::WholeValueInRange(core::GetSetting("View", prefix + c.Key), 1, kMaxColumnTwips, 0);
      const int column = lv->AddColumn(c.Caption, TwipsToPixels(width), c.Align);
      // The designed width, or what the font needs where that is more.
      if (width <= 0)
        lv->setColumnWidth(column, std::max(TwipsToPixels(c.DefaultWidth),
                                            NeededWidth(lv, column, c.Widest)));
    }
    if (Extras) lv->AddColumn("First Cluster", TwipsToPixels(1000), Qt::AlignLeft);

    lv->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv->setAllColumnsShowFocus(true);
    // The selection is not shown while the list has no focus.
    QPalette palette = lv->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Inactive, QPalette::Base));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Inactive, QPalette::Text));
    lv->setPalette(palette);
    lv->SetLabelEditAutomatic(false);

    SortColumn[side] = core::WholeValueInRange(
        core::GetSetting("View", "SortColumn" + std::to_string(side)), 0, lv->ColumnCount() - 1, 0);
    SortOrder[side] = 0;
    const std::string order = core::GetSetting("View", "SortOrder" + std::to_string(side));
    // The list sorts only ascending (0) or descending (1): any other stored
    // whole number reads as descending.
    if (!order.empty())
      SortOrder[side] = core::WholeValueInRange(order, INT32_MIN, INT32_MAX, 0) == 0 ? 0 : 1;

    for (int c = 0; c < lv->ColumnCount(); ++c) lv->SetColumnIcon(c, QString());
    lv->SetColumnIcon(SortColumn[side], SortOrder[side] != 0 ? "SortDesc" : "SortAsc");

    lv->show();
    lv->raise();
    TV1[side]->hide();
    Command2[side]->raise();
    BuildSort(side);
  }
}

void Form1::SetupTV() {
  core::ProcScope scope("SetupTV");
  for (TreeView* tv : TV1) {
    tv->setIndentation(TwipsToPixels(200));
    tv->setRootIsDecorated(true);
    tv->setItemsExpandable(true);
    tv->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tv->setHeaderHidden(true);
  }
}

// ------------------------------------------------------------- file list

void Form1::ShowFileList(int side) {
  core::ProcScope scope("ShowFileList");
  core::CheckSideIndex(side);
  ListView* lv = LV1[side];
  lv->Clear();
  const QString path = PathLabel(side);
  const bool recorder = core::DiskId[side] < 1;
  const char* separator = recorder ? core::kRecorderSeparator : core::kPcSeparator;

  bool root = path.isEmpty() || path == "\\" || path.mid(1) == ":\\";
  if (!recorder && !root) {
    const QString driveRoot = PcDriveRoot(core::DiskId[side]);
    root = driveRoot.isEmpty() || path == driveRoot || path == "/";
  }
  if (!root) lv->AddItem("D..", "..", "Directory");

  const core::DiskRec& d = core::Disk[side];
  const int32_t count = std::min<int32_t>(d.FileCount, static_cast<int32_t>(d.Files.size()));
  const bool extras = Extras && lv->ColumnCount() > 5;
  auto display = [&](const std::string& text) {
    return recorder ? RecorderToDisplay(text) : PcToDisplay(text);
  };
  // The folder part as a path key (PC bytes kept exactly).
  auto folderKey = [&](const std::string& text) {
    return recorder ? RecorderToDisplay(text) : PcToKey(text);
  };

  std::string folder, name, ext;
  for (int pass = 0; pass < 2; ++pass) {
    const bool dirs = pass == 0;
    for (int32_t i = 0; i < count; ++i) {
      const core::FileRec& f = d.Files[i];
      if (f.IsDir != dirs || f.Name == core::kErasedName) continue;
      core::SeparatePathComponents(f.Name, folder, name, ext, separator);
      if (folderKey(folder).compare(path, Qt::CaseInsensitive) != 0) continue;
      const QString text = display(ext.empty() ? name : name + "." + ext);
      const QString key = QString(dirs ? "D" : "i") + QString::number(i);
      if (dirs) {
        lv->AddItem(key, text, "Directory");
        if (f.Size > 0) lv->SetSubItem(key, 1, SizeText(f.Size, 2));
      } else {
        QString icon;
        if (f.Recovered) {
          icon = "Recovered";
        } else if (QString::fromStdString(ext).compare("rec", Qt::CaseInsensitive) == 0 &&
                   !f.HasRecHeader && recorder && !core::InFileMode() && !IgnoreRec) {
          icon = "Rec";
        } else if (f.CryptValid) {
          switch (f.CryptFlags) {
            case 0: icon = "KeyG"; break;
            case 1: icon = "KeyY"; break;
            case 2: icon = "KeyG"; break;
            case 3: icon = "KeyYG"; break;
            default: icon = "KeyBlue"; break;
          }
        }
        lv->AddItem(key, text, icon);
        lv->SetSubItem(key, 1, SizeText(f.Size, 2));
        if (f.RecDate > 0) lv->SetSubItem(key, 2, FormatRecDate(f.RecDate));
        switch (f.ServiceType) {
          case 0: lv->SetSubItem(key, 3, "TV"); break;
          case 1: lv->SetSubItem(key, 3, "Radio"); break;
          case 2: lv->SetSubItem(key, 3, "Other"); break;
          default: break;
        }
        lv->SetSubItem(key, 4, f.ServiceType == 2 ? QString("-") : FormatDuration(f.Duration));
      }
      if (extras) {
        char cluster[16];
        std::snprintf(cluster, sizeof cluster, "%06d", f.StartCluster);
        lv->SetSubItem(key, 5, recorder ? QString::fromLatin1(cluster) : QString("-"));
      }
    }
  }
  if (SortColumn[side] == 1) BuildSort(side);
  ResetSummary(side);
}

void Form1::BuildSort(int side) {
  core::ProcScope scope("BuildSort");
  core::CheckSideIndex(side);
  ListView* lv = LV1[side];
  const int c = SortColumn[side];
  const int o = SortOrder[side] == 0 ? 0 : 1;
  const Qt::SortOrder order = o == 0 ? Qt::AscendingOrder : Qt::DescendingOrder;
  if (c == 0 || c == 1) {
    lv->SetAutoSort(false);
    const int temp = lv->AddColumn(QString(), 0);
    const core::DiskRec& d = core::Disk[side];
    for (const QString& key : lv->Keys()) {
      const bool parent = key.compare("D..", Qt::CaseInsensitive) == 0;
      const bool folder = key.startsWith('D', Qt::CaseInsensitive);
      QChar letter;
      if (o == 0)
        letter = parent ? 'A' : folder ? 'B' : 'C';
      else
        letter = parent ? 'Z' : folder ? 'Y' : 'X';
      QString sortText = letter;
      if (c == 0) {
        sortText += lv->Text(key).toLower();
      } else {
        double size = 0;
        const int index = IndexFromKey(key);
        if (!parent && index >= 0 && index < d.FileCount && index < static_cast<int>(d.Files.size()))
          size = d.Files[index].Size;
        // Sixteen digits: sizes of many terabytes still sort by their value.
        char digits[40];
        std::snprintf(digits, sizeof digits, "%016.0f", std::max(0.0, std::floor(size)));
        sortText += QString::fromLatin1(digits);
      }
      lv->SetSubItem(key, temp, sortText);
    }
    lv->SortByColumn(temp, order);
    lv->RemoveLastColumn();
  } else {
    lv->SetAutoSort(true, c, order);
  }
}

void Form1::ResetSummary(int side) {
  core::ProcScope scope("ResetSummary");
  core::CheckSideIndex(side);
  const double free = core::DiskId[side] == core::kNoDisk ? 0.0 : core::FSGetFreeSpace(side);
  int32_t n = 0;
  double selected = 0;
  const core::DiskRec& d = core::Disk[side];
  for (const QString& key : LV1[side]->Keys()) {
    if (!LV1[side]->Checked(key)) continue;
    ++n;
    const int index = IndexFromKey(key);
    if (index >= 0 && index < d.FileCount && index < static_cast<int>(d.Files.size()))
      selected += d.Files[index].Size;
  }
  Label1[side]->setText(QString::number(n) + " file(s) = " + SizeText(selected, 1) +
                        " selected / " + SizeText(free, 1) + " free");
  PlaceLabels(side);
}

int32_t Form1::CountSelected(int side) {
  core::ProcScope scope("CountSelected");
  core::CheckSideIndex(side);
  int32_t n = 0;
  for (const QString& key : LV1[side]->Keys())
    if (LV1[side]->Checked(key)) ++n;
  return n;
}

}  // namespace mainwindow
