// The one interface through which the programs wait for the user.
//
// Every modal interaction (message box, input box, file dialogs, custom modal
// windows), the wait window, the busy pointer, processing of pending events,
// opening a file with the desktop and ending the program go through the
// process-wide current `Ui`. The Qt implementation shows real windows; the
// scripted implementation (scripted_ui.h) answers from a queue for tests.
//
// All texts on this interface are UTF-8. Standard library only.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ui {

// Button sets of a message box.
// YesNoDefaultNo: Yes and No with No as the default button, for a question
// whose safe answer is No (Enter must not say Yes).
enum class Buttons { OK, OKCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel, YesNoDefaultNo };
// Icons of a message box.
enum class Icon { None, Critical, Question, Exclamation, Information };
// The button a message box was closed with. `None` only appears in records
// of prompts that were not message boxes.
enum class Answer { None = 0, OK, Cancel, Abort, Retry, Ignore, Yes, No };

// Exit statuses of the programs.
constexpr int kExitNormal = 0;
constexpr int kExitAbort = 1;        // error handler's Abort, automatic abort/restart
constexpr int kExitEmergency = 2;    // emergency stop (lost link, guarded write, ...)
constexpr int kExitUnanswered = 3;   // a scripted run met a prompt it could not answer

// Names for logs, scripts and test messages: "OK", "AbortRetryIgnore", "Critical", ...
const char* ToString(Buttons buttons);
const char* ToString(Icon icon);
const char* ToString(Answer answer);
// "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No" (case ignored) ->
// the answer; anything else -> nullopt.
std::optional<Answer> AnswerFromString(const std::string& text);
// The safe answer for a message box nobody can answer (console, closed
// without a choice): Cancel where the set has it, No for Yes/No, else the
// first button (OK, Abort).
Answer DefaultAnswer(Buttons buttons);

// A list as lines below a text: the text, then each entry on a line of its
// own (CR LF), every entry, none left out.
std::string ListText(const std::string& text, const std::vector<std::string>& entries);

// The program's own title: the title of every message box and input box that
// is shown without a title of its own. Set once at start-up (core does it
// through SetProgramIdentity).
void SetDefaultTitle(const std::string& title);
const std::string& DefaultTitle();

// A file dialog request. `filter` is in the "Text files (*.txt)|*.txt|All
// files|*.*" form (description|patterns pairs).
struct FileDialogRequest {
  bool Save = false;            // save dialog (true) or open dialog (false)
  std::string Title;            // "" -> the dialog's own default title
  std::string Filter;
  std::string InitialFolder;    // "" -> the current folder
  std::string DefaultName;      // preset file name, usually ""
};

// How long a paced event processing (Ui::StepEvents) may be left out after
// the last one: a tenth of a second, so a click on Cancel still answers at
// once, and long enough that a loop of small steps spends next to nothing
// on events (a processing now and then takes milliseconds on a busy machine).
constexpr std::chrono::milliseconds kStepEventsInterval{100};

// Tells when a paced event processing is due: at most once an interval.
class EventPacer {
 public:
  explicit EventPacer(std::chrono::steady_clock::duration interval = kStepEventsInterval)
      : interval_(interval) {}
  // True when the interval has passed since the last processing (which the
  // caller then makes, and which counts as made).
  bool Due() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < interval_) return false;
    last_ = now;
    return true;
  }
  // Events were just processed.
  void Processed() { last_ = std::chrono::steady_clock::now(); }

 private:
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point last_{};
};

class Ui {
 public:
  virtual ~Ui();

  // Shows a modal message box; returns the button chosen. An empty title
  // means the program's default title.
  Answer MsgBox(const std::string& text, Buttons buttons = Buttons::OK,
                Icon icon = Icon::None, const std::string& title = "") {
    return DoMsgBox(text, buttons, icon, title.empty() ? DefaultTitle() : title);
  }

  // Shows a modal message box whose text is followed by a list of any length
  // (the files a job left out, the folders a dump could not read): the user
  // can read every entry. A window system shows them in a scrolling list
  // below the text; otherwise they are lines of the text (ListText), so a
  // scripted run prints them all.
  Answer MsgBoxList(const std::string& text, const std::vector<std::string>& entries,
                    Buttons buttons = Buttons::OK, Icon icon = Icon::None,
                    const std::string& title = "") {
    return DoMsgBoxList(text, entries, buttons, icon, title.empty() ? DefaultTitle() : title);
  }

  // Shows a modal input box. Returns the text typed, or "" when cancelled
  // (like the original input box: an empty answer and Cancel look the same).
  std::string InputBox(const std::string& prompt, const std::string& title = "",
                       const std::string& defaultText = "") {
    return InputBoxEx(prompt, title, defaultText).value_or(std::string());
  }
  // The same, telling Cancel (nullopt) apart from an empty answer.
  std::optional<std::string> InputBoxEx(const std::string& prompt,
                                        const std::string& title = "",
                                        const std::string& defaultText = "") {
    return DoInputBox(prompt, title.empty() ? DefaultTitle() : title, defaultText);
  }

  // File dialogs: the chosen path, or "" when cancelled.
  std::string OpenFileDialog(const std::string& title, const std::string& filter,
                             const std::string& initialFolder = "",
                             const std::string& defaultName = "") {
    return DoFileDialog(FileDialogRequest{false, title, filter, initialFolder, defaultName});
  }
  std::string SaveFileDialog(const std::string& title, const std::string& filter,
                             const std::string& initialFolder = "",
                             const std::string& defaultName = "") {
    return DoFileDialog(FileDialogRequest{true, title, filter, initialFolder, defaultName});
  }
  std::string FileDialog(const FileDialogRequest& request) { return DoFileDialog(request); }

  // Runs a custom modal window. `name` is the window's object name ("Form6");
  // `run` shows the window, waits until it closes and returns its result. A
  // scripted Ui may answer for the window without running it.
  int RunModal(const std::string& name, const std::function<int()>& run) {
    return DoRunModal(name, run);
  }

  // The wait window: a small window with one label, shown without waiting.
  // ShowWait while it is shown only changes the text.
  void ShowWait(const std::string& text) { DoShowWait(text); }
  void HideWait() { DoHideWait(); }

  // The busy (hourglass) pointer of the main window on or off.
  void SetBusy(bool busy) { DoSetBusy(busy); }

  // Processes pending events once. With allowUserInput false, user input
  // (mouse, keys) stays queued; repaints and timers run.
  void DoEvents(bool allowUserInput = true) { DoDoEvents(allowUserInput); }

  // Processes pending events after one step of a long loop (a cluster copied
  // or moved, a cluster cleared), as DoEvents. A window system may leave it
  // out while its last processing is younger than kStepEventsInterval: what
  // is pending then waits that long at most, and the loop pays the same for
  // its events whatever the size of its steps. Use DoEvents where a change
  // must show before something long starts.
  void StepEvents() { DoStepEvents(); }

  // Opens (or prints) a file with its desktop application, not waiting for it.
  // False when nothing could be started.
  bool OpenWithDesktop(const std::string& path, bool print = false) {
    return DoOpenWithDesktop(path, print);
  }

  // Ends the program at once with the exit status: no window is unloaded, no
  // close handler runs, nothing is saved. Never returns (a test Ui throws
  // ProgramEnded instead).
  [[noreturn]] void EndProgram(int exitStatus);

 protected:
  // `title` arrives already resolved (never empty for message and input boxes).
  virtual Answer DoMsgBox(const std::string& text, Buttons buttons, Icon icon,
                          const std::string& title) = 0;
  // Default: one message box of ListText.
  virtual Answer DoMsgBoxList(const std::string& text, const std::vector<std::string>& entries,
                              Buttons buttons, Icon icon, const std::string& title) {
    return DoMsgBox(ListText(text, entries), buttons, icon, title);
  }
  virtual std::optional<std::string> DoInputBox(const std::string& prompt,
                                                const std::string& title,
                                                const std::string& defaultText) = 0;
  virtual std::string DoFileDialog(const FileDialogRequest& request) = 0;
  virtual int DoRunModal(const std::string& name, const std::function<int()>& run) = 0;
  virtual void DoShowWait(const std::string& text) = 0;
  virtual void DoHideWait() = 0;
  virtual void DoSetBusy(bool busy) = 0;
  virtual void DoDoEvents(bool allowUserInput) = 0;
  // Default: every step processes events.
  virtual void DoStepEvents() { DoDoEvents(true); }
  virtual bool DoOpenWithDesktop(const std::string& path, bool print) = 0;
  // Must not return normally: end the process or throw.
  virtual void DoEndProgram(int exitStatus) = 0;
};

// The process-wide current Ui. Until SetCurrent installs one, a minimal
// console Ui serves: it prints every prompt to standard error, answers a
// message box with DefaultAnswer (never a Yes or Retry nobody gave), an
// input box and a file dialog with Cancel, runs modal windows
// as they are, and ends the program with std::_Exit.
Ui& Current();
// Installs `ui` (not owned) as the current Ui and returns the previous one;
// nullptr goes back to the console Ui.
Ui* SetCurrent(Ui* ui);

// Installs a Ui for the lifetime of the object (tests).
class CurrentUiScope {
 public:
  explicit CurrentUiScope(Ui& ui) : previous_(SetCurrent(&ui)) {}
  ~CurrentUiScope() { SetCurrent(previous_); }
  CurrentUiScope(const CurrentUiScope&) = delete;
  CurrentUiScope& operator=(const CurrentUiScope&) = delete;

 private:
  Ui* previous_;
};

// ---------------------------------------------------------------- test stops
//
// A test Ui leaves the program's flow with these instead of ending the
// process. Error traps let both pass untouched: ProgramEnded is no
// std::exception on purpose, and traps rethrow UnexpectedPrompt.

// The program asked to end (EndProgram) with this exit status.
struct ProgramEnded {
  int Status = 0;
};

// A prompt appeared that the test did not expect (or answered wrongly).
class UnexpectedPrompt : public std::runtime_error {
 public:
  explicit UnexpectedPrompt(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace ui
