// The Ui of the windowed programs: real message boxes, input boxes and file
// dialogs, the wait window, the busy pointer and event processing through Qt.
//
// A program's main() does:
//   QApplication app(argc, argv);
//   mainwindow::InstallUi();            // ScriptUi when QUENBRIX_UI_SCRIPT is set
//   Form1 window;  mainwindow::SetMainWindow(&window);
//   ... load the window, show it ...
//   return app.exec();
// With a script, its steps run from a zero timer whenever the program waits
// for the user (script_runner.h).
#pragma once

#include <QEventLoop>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mainwindow/wait_window.h"
#include "ui/ui.h"

class QWidget;

namespace mainwindow {


// "Text|*.txt|All|*.*" (description|patterns pairs, patterns separated by
// ";") -> "Text (*.txt);;All (*.*)". A description that already ends with
// its patterns in parentheses is kept as it is.
QString ConvertFilter(const std::string& filter);

// Line breaks (CR LF, LF, CR) as the two characters "\n": how prompts and
// captions are written on one output line.
std::string OneLine(const std::string& text);

class QtUi : public ui::Ui {
 public:
  QtUi();
  ~QtUi() override;

  // The window dialogs are centred on when no modal window is open.
  void SetMainWindow(QWidget* window) { mainWindow_ = window; }
  QWidget* MainWindow() const { return mainWindow_; }
  // The wait window while it is shown; nullptr otherwise.
  Form9* WaitWindow() const { return wait_; }

 protected:
  ui::Answer DoMsgBox(const std::string& text, ui::Buttons buttons, ui::Icon icon,
                      const std::string& title) override;
  // The entries in a scrolling list (object name "MsgBoxList") below the text.
  ui::Answer DoMsgBoxList(const std::string& text, const std::vector<std::string>& entries,
                          ui::Buttons buttons, ui::Icon icon, const std::string& title) override;
  std::optional<std::string> DoInputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override;
  std::string DoFileDialog(const ui::FileDialogRequest& request) override;
  int DoRunModal(const std::string& name, const std::function<int()>& run) override;
  void DoShowWait(const std::string& text) override;
  void DoHideWait() override;
  void DoSetBusy(bool busy) override;
  void DoDoEvents(bool allowUserInput) override;
  // Paced: at most once every kStepEventsInterval.
  void DoStepEvents() override;
  bool DoOpenWithDesktop(const std::string& path, bool print) override;
  [[noreturn]] void DoEndProgram(int exitStatus) override;

  // Every event processing of this Ui goes through here.
  virtual void ProcessPending(QEventLoop::ProcessEventsFlags flags);
  // The parent of a dialog: the open modal window, else the main window.
  QWidget* DialogParent() const;

 private:
  ui::Answer RunMessageBox(const std::string& text, const std::vector<std::string>& entries,
                           ui::Buttons buttons, ui::Icon icon, const std::string& title);

  QPointer<QWidget> mainWindow_;
  QPointer<Form9> wait_;
  bool busy_ = false;
  ui::EventPacer pacer_;
};

// Installs the program's Ui as ui::Current() (once; later calls return the
// same one): a ScriptUi when QUENBRIX_UI_SCRIPT names a script file, else a
// QtUi. Needs the QApplication. A script that cannot be read or parsed ends
// the program with a message and exit status 4.
QtUi& InstallUi();
// The window helpers of the disk core that need Qt (progress bar colours,
// a window kept on top); InstallUi calls it.
void InstallWindowHooks();
// What every end through EndProgram does before the process goes (the
// single-instance socket file is removed); one step, replaced by each call.
void SetProgramEndStep(std::function<void()> step);
// The installed Ui, or nullptr before InstallUi.
QtUi* InstalledUi();
// Tells the installed Ui which window is the main window.
void SetMainWindow(QWidget* window);
// True when no event processing of the Ui is running and the program idles
// in its main event loop (no modal window open): the place where a window
// may be deleted and the disks closed, as no procedure of the program is
// half-way then.
bool EventLoopAtRest();
// A main window's close (its closeEvent) while a run is in progress or the
// program is not at rest: false, and the close is to be ignored. Without a
// run it is refused (a modal window or an event processing is on). During a
// run the runs are asked to stop (ui::AskRunsToStop: a run's own cancel
// question; a run that cannot be stopped refuses); when they will, `window`
// is closed again once no run is in progress and the program is at rest,
// and nothing new starts meanwhile (ui::ClosePending). True when the close
// may take effect now.
bool MayCloseNow(QWidget* window);

}  // namespace mainwindow
