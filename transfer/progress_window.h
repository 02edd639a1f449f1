// The progress window of the long file jobs (copy and move, erase, stream
// scan): a status line and estimate per row with its progress bar, the
// after-job choice, the process priority and the Cancel button, which asks
// how to stop.
//
// The jobs show it modeless (ProgressWindow() loads it when needed), write
// its labels and bars directly, read Combo1's index and unload it at their
// end (UnloadProgressWindow). A fresh window selects "do nothing" and
// "Normal" again.
#pragma once

#include <QWidget>

#include "transfer/job_progress.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace transfer {

class Form2 : public QWidget {
  Q_OBJECT

 public:
  explicit Form2(QWidget* parent = nullptr);
  ~Form2() override;

  QLabel* Label1[4] = {};          // 0 status, 1 file ETA, 2 rate, 3 job ETA
  QProgressBar* PB1[2] = {};       // 0 current file, 1 all files
  QLabel* Label2[2] = {};          // captions of Combo1 and Combo2
  QComboBox* Combo1 = nullptr;     // after-job choice
  QComboBox* Combo2 = nullptr;     // process priority
  QPushButton* Command1 = nullptr; // "Cancel"

  void Form_Load();
  void Combo2_Click();
  void Command1_Click();
  // The window is asked to close; *cancel keeps it open.
  void Form_Unload(bool* cancel);

  // Sets what a progress refresh produced.
  void ShowProgress(const ProgressTexts& texts);
  // Sets the status line, Label1(0).
  void SetStatus(const std::string& text);
  // Combo1's selected index: 0 nothing, 1 hibernate, 2 shut down.
  int AfterJobChoice() const;
  // True while one of its event procedures runs (the cancel question is
  // open in it): the window is then not deleted under it.
  bool InProcedure() const { return procedures_ > 0; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Runs an event procedure of the window, trapped and counted.
  template <class Body>
  void Procedure(const char* name, Body body);
  int procedures_ = 0;
};

// The window's design caption.
constexpr const char* kForm2Caption = "Topfield Zyphonel - Copy Process";

// The progress window, loaded on first use (not shown).
Form2* ProgressWindow();
// Shows it modeless and brings it to the front.
void ShowProgressWindow();
// Unloads it (a job's end); the next use loads a fresh one.
void UnloadProgressWindow();
// True while it is loaded.
bool ProgressWindowLoaded();

// The cancel question: "Cancel immediately (Yes=cancel now, No=finish
// actual file, Cancel=continue copying)"; Yes 2, No 1, Cancel 0. Before any
// progress window was loaded CancelState becomes 2 without asking.
void CheckCancelCopy();

}  // namespace transfer
