// Scripted runs: QUENBRIX_UI_SCRIPT names a script whose steps stand in for
// the user, headless under Qt's offscreen platform.
//
// One step a line; blank lines and lines starting with "#" are skipped;
// words are separated by one blank and the last argument runs to the end of
// the line:
//   click NAME            button click / menu item trigger
//   choose NAME TEXT      first combo or list box entry beginning with TEXT
//   tab NAME N            tab N (from 1) of a tab strip
//   node NAME KEY         click on tree node KEY
//   select NAME KEY       click on list item KEY
//   check NAME KEY        check mark of list item KEY on / off, as a click
//   uncheck NAME KEY
//   dblclick NAME KEY     double click on list item KEY
//   rename NAME KEY TEXT  in-place edit of item KEY ending with Enter
//   answer BUTTON         next message box: OK Cancel Yes No Abort Retry Ignore
//   input [TEXT]          next input box (no text: Cancel)
//   file [PATH]           next open or save dialog (no path: Cancel)
//   print NAME            the control's state to standard output
//   close [NAME]          closes the active window (or the window that holds
//                         control NAME, or is named NAME) as its close box would
//   wait                  waits until no run is in progress: the program idles
//                         in its main window or in a modal window
//   await PATH            as wait, and then on until the file PATH exists (a
//                         test holds the program there while it does
//                         something beside it)
//   anytime               from here on, each step runs at the next event
//                         processing at which a user could reach its control,
//                         also in the middle of a run (a load, a job, a scan)
// NAME is a control's objectName, looked up in the open modal window first,
// then in the main window and the other windows; "WINDOW.NAME" looks only
// inside the window (or widget) named WINDOW.
//
// A step runs whenever the program waits for the user: in the main window's
// event loop or in a modal window's. While a job runs (its event processing
// lets the user act), a step runs only when it acts on a window of its own
// that is open, such as the progress window ("click Form2.Command1" cancels a
// copy, "choose Form2.Combo1 shut down" picks the after-job action); every
// other step waits until the job is over. After `anytime`, a step runs at
// any event processing that lets the user act, once its control's window is
// visible and no other modal window blocks it: a second click on a busy
// window's button, a close of the main window during a job; `answer`,
// `input` and `file` queue their answers at once. `wait` (also after
// `anytime`) holds the next steps until the program idles again; a prompt
// that comes meanwhile without an answer queued is UNANSWERED.
// After each step pending events are processed. When a prompt comes and no
// answer is queued for it, the next steps run until one queues an answer; a
// prompt that stays unanswered prints "UNANSWERED" and ends the program with
// status 3. When the steps run out while a window waits, the program ends
// with status 0. A step that cannot be carried out (unknown control, no such
// item) ends the program with status 4 after "SCRIPT ERROR" on standard
// error.
//
// Output lines (fields TAB-separated, line breaks in texts as "\n"):
//   == NAME, then per entry of the control:
//     list view   key, checked 0/1, bold 0/1, icon key, text, every sub-item
//     tree view   key, icon key, text (each node before its children)
//     combo/list  the entry text, "*" before the selected one
//     tab strip   the tab captions, "*" before the selected one
//     label/button  caption, enabled 0/1 (a check box or option button also
//                 its value 0/1); text box: text, enabled
//     menu item   enabled, visible, checked (0/1); Qt disables a hidden item
//     window      caption, enabled, visible
//   MSGBOX / INPUTBOX / FILEDIALOG, title, text (file dialogs: the filter),
//     answer used (input box and file dialog: "" when cancelled)
//   OPEN / PRINT, path            a file handed to the desktop (not opened)
#pragma once

#include <QPointer>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mainwindow/qt_ui.h"

class QObject;
class QTimer;
class QWidget;

namespace mainwindow {

// Exit status of a scripted run whose script is faulty.
constexpr int kExitScriptError = 4;

enum class StepKind {
  Click, Choose, Tab, Node, Select, Check, Uncheck, DblClick, Rename,
  Answer, Input, File, Print, Close, Wait, Await, Anytime
};
const char* ToString(StepKind kind);

struct ScriptStep {
  StepKind Kind = StepKind::Click;
  int Line = 0;                 // line number in the script (from 1)
  std::string Name;             // control name
  std::string Key;              // item or node key; tab number as text
  std::string Text;             // choose / rename text, input text, file path, awaited file
  bool Cancel = false;          // input / file without an argument
  ui::Answer AnswerValue = ui::Answer::None;
  int TabNumber = 0;
};

// Parses a whole script. On a fault: false, `error` = "line N: why".
bool ParseScript(const std::string& text, std::vector<ScriptStep>& steps, std::string& error);
// Reads and parses a script file.
bool LoadScript(const std::string& path, std::vector<ScriptStep>& steps, std::string& error);

class ScriptUi : public QtUi {
 public:
  // Starts running steps at once when the application exists (else at
  // Start()).
  explicit ScriptUi(std::vector<ScriptStep> steps);
  ~ScriptUi() override;

  void Start();
  // Where output lines go (default: standard output, flushed per line).
  void SetOutput(std::function<void(const std::string& line)> output) { output_ = std::move(output); }
  // What happens when the steps have run out while a window waits (default:
  // end the program with status 0).
  void SetOnFinished(std::function<void()> onFinished) { onFinished_ = std::move(onFinished); }
  // What happens on a step that cannot be carried out (default: message on
  // standard error, end with status 4). The step is skipped when it returns.
  void SetOnError(std::function<void(const std::string& message)> onError) { onError_ = std::move(onError); }

  bool StepsLeft() const { return next_ < steps_.size(); }
  size_t NextStepIndex() const { return next_; }
  // Runs the next step now; false when there is none.
  bool RunNextStep();

  // The control a step's NAME means; nullptr when there is none.
  QObject* FindControl(const std::string& name) const;
  // The lines `print NAME` writes for a control (without the "==" line).
  std::vector<std::string> Describe(QObject* control) const;

 protected:
  ui::Answer DoMsgBox(const std::string& text, ui::Buttons buttons, ui::Icon icon,
                      const std::string& title) override;
  // Printed as one MSGBOX with every entry a line of its text.
  ui::Answer DoMsgBoxList(const std::string& text, const std::vector<std::string>& entries,
                          ui::Buttons buttons, ui::Icon icon, const std::string& title) override {
    return DoMsgBox(ui::ListText(text, entries), buttons, icon, title);
  }
  std::optional<std::string> DoInputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override;
  std::string DoFileDialog(const ui::FileDialogRequest& request) override;
  bool DoOpenWithDesktop(const std::string& path, bool print) override;
  void ProcessPending(QEventLoop::ProcessEventsFlags flags) override;
  // A scripted run processes events at every step, so that its steps meet
  // a job at the same point on any machine.
  void DoStepEvents() override { DoDoEvents(true); }

 private:
  class BusyScope;
  void Tick();
  void ScheduleTick();
  bool MayRunStep() const;
  bool MayRunStepInJob() const;
  bool MayRunStepAnytime(const ScriptStep& step) const;
  // The window a user must reach for the step's control; nullptr when none.
  QWidget* WindowOf(QObject* control) const;
  // Visible and not blocked by another modal window.
  bool Reachable(QWidget* window) const;
  // Runs next steps until `answers` holds one; a `wait` step or the end of
  // the steps leaves the prompt unanswered, and any step but answer, input,
  // file and print is a script error that names the prompt.
  template <class Queue>
  void RunStepsUntilAnswer(Queue& answers, const std::string& kind, const std::string& title,
                           const std::string& text);
  void Execute(const ScriptStep& step);
  void Fail(const ScriptStep& step, const std::string& why);
  void Output(const std::string& line);
  [[noreturn]] void Unanswered(const std::string& kind, const std::string& title,
                               const std::string& text);
  QWidget* ActiveWindow() const;
  std::vector<QWidget*> SearchRoots() const;

  std::vector<ScriptStep> steps_;
  size_t next_ = 0;
  std::deque<ui::Answer> answers_;
  std::deque<std::optional<std::string>> inputs_;
  std::deque<std::optional<std::string>> files_;
  std::vector<int> busyLevels_;   // event-loop level of each step / event processing running
  std::vector<bool> userInput_;   // for each: an event processing that lets the user act
  bool finished_ = false;
  bool anytime_ = false;        // steps may act in the middle of a run
  QPointer<QObject> context_;   // owns the tick timers; dies with the application
  std::function<void(const std::string&)> output_;
  std::function<void()> onFinished_;
  std::function<void(const std::string&)> onError_;
};

}  // namespace mainwindow
