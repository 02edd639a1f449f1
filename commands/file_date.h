// The file-date editors: the recording date of a file (its directory entry's
// date on a recorder disk, the file's times on a PC drive), set by hand in a
// small window with a date picker, or stamped automatically.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class QDateTimeEdit;
class QLabel;
class QPushButton;

namespace commands {

// The dates a recorder entry can hold: Modified Julian Dates 0 to 65535
// (17 November 1858 to 22 April 2038).
double FirstRecorderDate();
double LastRecorderDate();   // the last minute of 22 April 2038
// True when `date` can be stored on the side: on a recorder disk within the
// range above, on a PC side from 1 January 1970 to 31 December 9999.
bool DateStorable(int side, double date);

// Sets RecDate of entry `index` and stores it (ModifyTopfFileDate). A date
// that cannot be stored is refused (false, nothing changed); so is one that
// could not be written (false, RecDate as it was).
bool SetFileRecDate(int side, int index, double date);
// What the user is told about a date the side cannot hold, e.g. "The
// recorder cannot hold the date 01.01.2040 00:00: it keeps dates from
// 17.11.1858 to 22.04.2038."
std::string DateNotStorableText(int side, double date);

// The current local date and time as a date value (core::LocalNow).
double NowDateValue();

class Form11 : public QDialog {
  Q_OBJECT

 public:
  explicit Form11(QWidget* parent = nullptr);

  // Remembers side and index, shows the entry's name and its RecDate.
  void SetFileDate(int side, int index);
  // 0 "Set": stores the picked date into the entry; 1 "Cancel". Both hide.
  void Command1_Click(int index);

  QLabel* Label1 = nullptr;
  QDateTimeEdit* DTPicker1 = nullptr;
  QPushButton* Command1[2] = {};

  // The picked value as a date value.
  double PickedDate() const;
  void SetPickedDate(double date);

 private:
  int side_ = 0;
  int index_ = -1;
};

constexpr const char* kForm11Caption = "Topfield Zyphonel - Set File Date";

// The date window, created on first use and kept (hidden) between uses.
Form11& DateWindow(QWidget* parent = nullptr);
// SetFileDate, then the window modally through the current Ui (window name
// "Form11"); hidden afterwards.
void RunDateWindow(int side, int index, QWidget* parent = nullptr);

}  // namespace commands
