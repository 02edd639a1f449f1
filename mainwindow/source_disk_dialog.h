// The source-disk dialog: in disaster mode the user picks the physical drive
// that holds the damaged recorder disk.
//
// Protocol: fill List1 (AddEntry, item data = drive number), set
// SelectedDisk to -1, show the dialog modally, unload it; SelectedDisk = -1
// afterwards means cancelled. RunForm6 does all of it.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class QListWidget;
class QPushButton;

namespace mainwindow {

// The drive chosen in the dialog; -1 = no choice.
extern int32_t SelectedDisk;

class Form6 : public QDialog {
  Q_OBJECT

 public:
  explicit Form6(QWidget* parent = nullptr);

  // Adds one list entry standing for drive `driveNumber` (UTF-8 text; tab
  // characters separate its columns).
  void AddEntry(const std::string& text, int driveNumber);

  QListWidget* List1 = nullptr;
  QPushButton* Command1 = nullptr;

  void List1_Click();
  void List1_DblClick();
  void Command1_Click();

 public slots:
  // Escape or the close box: the dialog goes away without a choice.
  void reject() override;
};

// Shows the dialog with these entries (text, drive number) modally through
// the current Ui and returns SelectedDisk (-1 when cancelled).
int RunForm6(const std::vector<std::pair<std::string, int>>& entries, QWidget* parent = nullptr);

}  // namespace mainwindow
