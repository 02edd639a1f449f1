// A Ui for tests: answers prompts from a queue of expectations, records every
// prompt shown, and fails the test on a prompt nobody expected.
//
//   ui::ScriptedUi script;
//   ui::CurrentUiScope use(script);
//   script.ExpectMsgBox("Error\t\t: 53", ui::Answer::Retry)
//         .ExpectInput("clicked Copy");
//   ... run the code under test ...
//   EXPECT_TRUE(script.AllAnswered());
//
// Expectations are consumed in order. A prompt whose kind or text does not
// match the next expectation, or that comes when none is left, throws
// ui::UnexpectedPrompt (GoogleTest reports its text). EndProgram throws
// ui::ProgramEnded{status}.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/ui.h"

namespace ui {

enum class PromptKind { MsgBox, InputBox, OpenFile, SaveFile, Modal };
const char* ToString(PromptKind kind);

// One prompt as it was shown, with the answer given.
struct Prompt {
  PromptKind Kind = PromptKind::MsgBox;
  std::string Title;            // as shown (the default title filled in)
  std::string Text;             // message, input prompt, dialog filter, or modal window name
  Buttons ButtonSet = Buttons::OK;   // message boxes
  Icon IconShown = Icon::None;       // message boxes
  Answer AnswerGiven = Answer::None; // message boxes
  std::string TextGiven;        // input box text / file path ("" when cancelled)
  bool Cancelled = false;       // input box or file dialog cancelled
  int ModalResult = 0;          // modal windows
  std::string DefaultText;      // input box preset, file dialog default name
  std::string InitialFolder;    // file dialogs
};

class ScriptedUi : public Ui {
 public:
  enum class Match { Substring, Exact };

  ScriptedUi();
  ~ScriptedUi() override;

  // The next prompt is a message box whose text contains (or equals) `text`;
  // it is answered with `answer`. An empty text matches any message box.
  ScriptedUi& ExpectMsgBox(const std::string& text, Answer answer,
                           Match match = Match::Substring);
  // The next prompt is an input box, answered with `text`.
  ScriptedUi& ExpectInput(const std::string& text);
  // The next prompt is an input box, cancelled.
  ScriptedUi& ExpectInputCancel();
  // The next prompt is an open or save dialog, answered with `path`
  // ("" cancels).
  ScriptedUi& ExpectFile(const std::string& path);
  // The next prompt is the modal window `name`; it is not run, and RunModal
  // returns `result`.
  ScriptedUi& ExpectModal(const std::string& name, int result);

  // Modal windows with no expectation queued: run them (true) or treat them
  // as unexpected prompts (false, the default).
  void SetRunUnexpectedModals(bool run) { runUnexpectedModals_ = run; }
  // Called at every DoEvents (e.g. to press a Cancel button in the middle of
  // a job). The hook may queue expectations.
  void SetDoEventsHook(std::function<void(bool allowUserInput)> hook) {
    doEventsHook_ = std::move(hook);
  }

  // What OpenWithDesktop answers (default true: the desktop opened the file).
  void SetDesktopOpens(bool opens) { desktopOpens_ = opens; }

  // Every prompt shown so far, in order.
  const std::vector<Prompt>& Prompts() const { return prompts_; }
  // Texts of the message boxes shown so far.
  std::vector<std::string> MsgBoxTexts() const;
  // True when every queued expectation was used.
  bool AllAnswered() const { return expectations_.empty(); }
  size_t PendingCount() const { return expectations_.size(); }
  // Drops the queued expectations and the records.
  void Reset();

  // Wait window: current state and every text shown.
  bool WaitShown() const { return waitShown_; }
  const std::vector<std::string>& WaitTexts() const { return waitTexts_; }
  // Busy pointer: current state and the number of switches on.
  bool Busy() const { return busy_; }
  int BusyCount() const { return busyCount_; }
  // DoEvents calls so far.
  int DoEventsCount() const { return doEventsCount_; }
  // Files handed to OpenWithDesktop (print requests prefixed "print:").
  const std::vector<std::string>& OpenedFiles() const { return openedFiles_; }
  // Exit status of the last EndProgram, if any.
  std::optional<int> EndedWith() const { return endedWith_; }

 protected:
  Answer DoMsgBox(const std::string& text, Buttons buttons, Icon icon,
                  const std::string& title) override;
  std::optional<std::string> DoInputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override;
  std::string DoFileDialog(const FileDialogRequest& request) override;
  int DoRunModal(const std::string& name, const std::function<int()>& run) override;
  void DoShowWait(const std::string& text) override;
  void DoHideWait() override;
  void DoSetBusy(bool busy) override;
  void DoDoEvents(bool allowUserInput) override;
  bool DoOpenWithDesktop(const std::string& path, bool print) override;
  [[noreturn]] void DoEndProgram(int exitStatus) override;

 private:
  struct Expectation {
    PromptKind Kind;             // MsgBox, InputBox, OpenFile (any file dialog), Modal
    std::string Text;            // msgbox text to match / input text / path / modal name
    Match How = Match::Substring;
    Answer AnswerToGive = Answer::None;
    bool Cancel = false;
    int Result = 0;
  };
  [[noreturn]] void Fail(const Prompt& prompt, const std::string& why);

  std::deque<Expectation> expectations_;
  std::vector<Prompt> prompts_;
  bool runUnexpectedModals_ = false;
  std::function<void(bool)> doEventsHook_;
  bool waitShown_ = false;
  std::vector<std::string> waitTexts_;
  bool busy_ = false;
  int busyCount_ = 0;
  int doEventsCount_ = 0;
  std::vector<std::string> openedFiles_;
  bool desktopOpens_ = true;
  std::optional<int> endedWith_;
};

}  // namespace ui
