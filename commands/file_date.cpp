// The file-date editors: the date window (Form11) and storing a date.
#include "commands/file_date.h"

#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>

#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/entry_edit.h"
#include "core/error_handler.h"
#include "widgets/window_fit.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace commands {

namespace {

// Recorder entries hold dates as 16-bit Modified Julian Dates.
constexpr double kFirstRecorderDay = -double(core::kMjdOffset);          // MJD 0
constexpr double kLastRecorderDay = 65535.0 - double(core::kMjdOffset);  // MJD 65535

QDateTime ToQDateTime(double date) {
  const core::DateParts p = core::SplitDateValue(date);
  return QDateTime(QDate(p.Year, p.Month, p.Day), QTime(p.Hour, p.Minute, p.Second), Qt::UTC);
}

double FromQDateTime(const QDateTime& dt) {
  const QDate d = dt.date();
  const QTime t = dt.time();
  return core::DateValue(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

}  // namespace

double FirstRecorderDate() { return kFirstRecorderDay; }
double LastRecorderDate() { return kLastRecorderDay + 1439.0 / 1440.0; }

bool DateStorable(int side, double date) {
  core::CheckSideIndex(side);
  if (!std::isfinite(date)) return false;
  if (core::IsPCSide(side))
    return date >= core::DateSerial(1601, 1, 1) && date < core::DateSerial(10000, 1, 1);
  const double day = std::floor(date);
  return day >= kFirstRecorderDay && day <= kLastRecorderDay;
}

bool SetFileRecDate(int side, int index, double date) {
  core::ProcScope scope("SetFileRecDate");
  core::CheckSideIndex(side);
  core::DiskRec& d = core::Disk[side];
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size()) return false;
  if (core::DiskId[side] == core::kNoDisk || !DateStorable(side, date)) return false;
  core::FileRec& f = d.Files[size_t(index)];
  if (f.Name == core::kErasedName) return false;
  // The list keeps showing the date that is on the disk.
  const double before = f.RecDate;
  f.RecDate = date;
  if (core::ModifyTopfFileDate(side, index)) return true;
  d.Files[size_t(index)].RecDate = before;
  return false;
}

namespace {

std::string ShownDate(double date) {
  if (!std::isfinite(date) || std::fabs(date) > 3.0e6) return "?";
  const core::DateParts p = core::SplitDateValue(date);
  char text[32];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d", p.Day, p.Month, p.Year, p.Hour,
                p.Minute);
  return text;
}

}  // namespace

std::string DateNotStorableText(int side, double date) {
  core::CheckSideIndex(side);
  if (core::IsPCSide(side))
    return "The date " + ShownDate(date) + " cannot be stored for a file on the PC.";
  return "The recorder cannot hold the date " + ShownDate(date) + ": it keeps dates from " +
         ShownDate(FirstRecorderDate()).substr(0, 10) + " to " +
         ShownDate(LastRecorderDate()).substr(0, 10) + ".";
}

double NowDateValue() {
  const std::tm now = core::LocalNow();
  return core::DateValue(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour,
                         now.tm_min, now.tm_sec);
}

// ------------------------------------------------------------------ Form11

Form11::Form11(QWidget* parent) : QDialog(parent) {
  setObjectName("Form11");
  setWindowTitle(kForm11Caption);
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  layout->addWidget(Label1);
  DTPicker1 = new QDateTimeEdit(this);
  DTPicker1->setObjectName("DTPicker1");
  // Wall-clock values: no time zone, no daylight-saving gaps.
  DTPicker1->setTimeSpec(Qt::UTC);
  DTPicker1->setDisplayFormat("ddd dd.MM.yyyy HH:mm");
  DTPicker1->setCalendarPopup(true);
  layout->addWidget(DTPicker1);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  const char* names[2] = {"Set", "Cancel"};
  for (int i = 0; i < 2; ++i) {
    Command1[i] = new QPushButton(names[i], this);
    Command1[i]->setObjectName(QString("Command1_%1").arg(i));
    Command1[i]->setAutoDefault(i == 0);
    connect(Command1[i], &QPushButton::clicked, this, [this, i] {
      core::TrapProcedure("Command1_Click", [&] { Command1_Click(i); });
    });
    buttons->addWidget(Command1[i]);
  }
  layout->addLayout(buttons);
  widgets::FitTitle(this);
}

double Form11::PickedDate() const { return FromQDateTime(DTPicker1->dateTime()); }

void Form11::SetPickedDate(double date) { DTPicker1->setDateTime(ToQDateTime(date)); }

void Form11::SetFileDate(int side, int index) {
  core::ProcScope scope("SetFileDate");
  core::CheckSideIndex(side);
  side_ = side;
  index_ = index;
  // The picker takes any date a file can have; one the side cannot keep is
  // explained on Set rather than silently bent into range.
  DTPicker1->setDateTimeRange(ToQDateTime(core::DateSerial(1601, 1, 1)),
                              ToQDateTime(core::DateSerial(9999, 12, 31) + 1439.0 / 1440.0));
  const core::DiskRec& d = core::Disk[side];
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size()) {
    index_ = -1;
    Label1->clear();
    Command1[0]->setEnabled(false);
    return;
  }
  Command1[0]->setEnabled(true);
  const core::FileRec& f = d.Files[size_t(index)];
  Label1->setText(QString::fromStdString(core::IsPCSide(side) ? f.Name
                                                              : platform::Cp1252ToUtf8(f.Name)));
  SetPickedDate(DateStorable(side, f.RecDate) ? f.RecDate : NowDateValue());
}

void Form11::Command1_Click(int index) {
  if (index == 0 && index_ >= 0) {
    const double date = PickedDate();
    if (!DateStorable(side_, date)) {
      // The window stays open for another date.
      ui::Current().MsgBox(DateNotStorableText(side_, date) + "\r\nPlease choose another date.",
                           ui::Buttons::OK, ui::Icon::Exclamation);
      return;
    }
    if (!SetFileRecDate(side_, index_, date))
      ui::Current().MsgBox("The date of " + Label1->text().toStdString() + " could not be written.",
                           ui::Buttons::OK, ui::Icon::Exclamation);
  }
  hide();
  done(index == 0 ? QDialog::Accepted : QDialog::Rejected);
}

Form11& DateWindow(QWidget* parent) {
  static QPointer<Form11> window;
  if (!window) window = new Form11(parent);
  return *window;
}

void RunDateWindow(int side, int index, QWidget* parent) {
  core::ProcScope scope("RunDateWindow");
  Form11& form = DateWindow(parent);
  form.SetFileDate(side, index);
  ui::Current().RunModal("Form11", [&form] { return form.exec(); });
  form.hide();
}

}  // namespace commands
