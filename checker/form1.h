// The main window of the check program ("Topfield 5000/5500 Kelmirra"): the
// results list List2 filling the window, and the File and Expert menus.
//
// Start-up (Form_Load) decides from the command line what the program works
// on: nothing given, the drive dialog (the source-disk dialog Form6, with
// "File Mode" for a dump); "PhysicalDrive..." that drive; anything else the
// base path of a dump. No check runs until "&Perform checks".
//
// The start-up, a check and every command run one at a time: while one runs
// (a check processes events for every result line) the File and Expert
// menus are off and a command is refused, because a check, a repair and the
// dump tools share the cluster buffer, the FAT tables and the work list. A
// close of the window during a run is refused (a check cannot be stopped
// half-way through a repair); during the start-up it takes effect once the
// window is loaded.
#pragma once

#include <QMainWindow>
#include <functional>
#include <string>

class QAction;
class QMenu;

namespace checker {

class ResultsModel;
class ResultsView;

class Form1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit Form1(QWidget* parent = nullptr);
  ~Form1() override;

  // The command line as one text (the words behind the program name).
  void SetCommandLine(const std::string& commandLine) { commandLine_ = commandLine; }

  // Start-up; may end the program (cancelled dialogs, a disk that cannot be
  // opened).
  void Form_Load();
  void Form_Resize();

  void Menu_File_PerformChecks_Click();
  void Menu_File_Save_Results_Click();
  void Menu_File_ClearResults_Click();
  void Menu_File_Exit_Click();
  void Menu_Expert_ReadCluster_Click();
  void Menu_Expert_WriteCluster_Click();
  void Menu_Expert_SaveSystemClusters_Click();
  void Menu_Expert_SeparateSCD_Click();
  void Menu_Expert_CombineSCD_Click();
  void Menu_Expert_CompareSCD_Click();

  // The results list (one row a line of the results, see results_view.h).
  ResultsView* List2 = nullptr;

  QMenu* Menu_File = nullptr;
  QAction* Menu_File_PerformChecks = nullptr;
  QAction* Menu_File_Save_Results = nullptr;
  QAction* Menu_File_ClearResults = nullptr;
  QAction* Menu_File_Sep1 = nullptr;
  QAction* Menu_File_Exit = nullptr;
  QMenu* Menu_Expert = nullptr;
  QAction* Menu_Expert_ReadCluster = nullptr;
  QAction* Menu_Expert_WriteCluster = nullptr;
  QAction* Menu_Expert_Sep2 = nullptr;
  QAction* Menu_Expert_SaveSystemClusters = nullptr;
  QAction* Menu_Expert_Sep1 = nullptr;
  QAction* Menu_Expert_SeparateSCD = nullptr;
  QAction* Menu_Expert_CombineSCD = nullptr;
  QAction* Menu_Expert_CompareSCD = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class Run;
  // Runs a menu command inside a Run, unless a run is in progress or the
  // window is about to close.
  void Command(const char* name, void (Form1::*handler)());
  // The File and Expert menus on or off.
  void SetCommandsEnabled(bool enabled);
  // Shows the drive dialog; returns SelectedDisk.
  int RunDriveDialog();
  // Back to the program's folder after a file dialog.
  static void ToProgramFolder();

  std::string commandLine_;
  QWidget* client_ = nullptr;
  ResultsModel* results_ = nullptr;
  int runs_ = 0;   // Runs in progress
};

}  // namespace checker
