#include "ui/scripted_ui.h"

namespace ui {

const char* ToString(PromptKind kind) {
  switch (kind) {
    case PromptKind::MsgBox: return "MSGBOX";
    case PromptKind::InputBox: return "INPUTBOX";
    case PromptKind::OpenFile: return "OPENFILE";
    case PromptKind::SaveFile: return "SAVEFILE";
    case PromptKind::Modal: return "MODAL";
  }
  return "?";
}

ScriptedUi::ScriptedUi() = default;
ScriptedUi::~ScriptedUi() = default;

ScriptedUi& ScriptedUi::ExpectMsgBox(const std::string& text, Answer answer, Match match) {
  Expectation e{PromptKind::MsgBox, text, match};
  e.AnswerToGive = answer;
  expectations_.push_back(std::move(e));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectInput(const std::string& text) {
  expectations_.push_back(Expectation{PromptKind::InputBox, text});
  return *this;
}

ScriptedUi& ScriptedUi::ExpectInputCancel() {
  Expectation e{PromptKind::InputBox, ""};
  e.Cancel = true;
  expectations_.push_back(std::move(e));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectFile(const std::string& path) {
  Expectation e{PromptKind::OpenFile, path};
  e.Cancel = path.empty();
  expectations_.push_back(std::move(e));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectModal(const std::string& name, int result) {
  Expectation e{PromptKind::Modal, name};
  e.Result = result;
  expectations_.push_back(std::move(e));
  return *this;
}

std::vector<std::string> ScriptedUi::MsgBoxTexts() const {
  std::vector<std::string> texts;
  for (const auto& p : prompts_)
    if (p.Kind == PromptKind::MsgBox) texts.push_back(p.Text);
  return texts;
}

void ScriptedUi::Reset() {
  expectations_.clear();
  prompts_.clear();
  waitShown_ = false;
  waitTexts_.clear();
  busy_ = false;
  busyCount_ = 0;
  doEventsCount_ = 0;
  openedFiles_.clear();
  endedWith_.reset();
}

void ScriptedUi::Fail(const Prompt& prompt, const std::string& why) {
  std::string message = "Unexpected ";
  message += ToString(prompt.Kind);
  message += " [" + prompt.Title + "] \"" + prompt.Text + "\": " + why;
  throw UnexpectedPrompt(message);
}

namespace {
bool ButtonOffered(Buttons set, Answer answer) {
  switch (set) {
    case Buttons::OK: return answer == Answer::OK;
    case Buttons::OKCancel: return answer == Answer::OK || answer == Answer::Cancel;
    case Buttons::AbortRetryIgnore:
      return answer == Answer::Abort || answer == Answer::Retry || answer == Answer::Ignore;
    case Buttons::YesNoCancel:
      return answer == Answer::Yes || answer == Answer::No || answer == Answer::Cancel;
    case Buttons::YesNo:
    case Buttons::YesNoDefaultNo: return answer == Answer::Yes || answer == Answer::No;
    case Buttons::RetryCancel: return answer == Answer::Retry || answer == Answer::Cancel;
  }
  return false;
}
}  // namespace

Answer ScriptedUi::DoMsgBox(const std::string& text, Buttons buttons, Icon icon,
                            const std::string& title) {
  Prompt p;
  p.Kind = PromptKind::MsgBox;
  p.Title = title;
  p.Text = text;
  p.ButtonSet = buttons;
  p.IconShown = icon;
  if (expectations_.empty()) Fail(p, "no answer queued");
  const Expectation& e = expectations_.front();
  if (e.Kind != PromptKind::MsgBox)
    Fail(p, std::string("expected a ") + ToString(e.Kind) + " \"" + e.Text + "\"");
  bool matches = e.How == Match::Exact ? text == e.Text
                                       : (e.Text.empty() || text.find(e.Text) != std::string::npos);
  if (!matches) Fail(p, "expected text \"" + e.Text + "\"");
  if (!ButtonOffered(buttons, e.AnswerToGive))
    Fail(p, std::string("answer ") + ToString(e.AnswerToGive) + " is not among the buttons " +
                ToString(buttons));
  p.AnswerGiven = e.AnswerToGive;
  expectations_.pop_front();
  prompts_.push_back(p);
  return p.AnswerGiven;
}

std::optional<std::string> ScriptedUi::DoInputBox(const std::string& prompt,
                                                  const std::string& title,
                                                  const std::string& defaultText) {
  Prompt p;
  p.Kind = PromptKind::InputBox;
  p.Title = title;
  p.Text = prompt;
  p.DefaultText = defaultText;
  if (expectations_.empty()) Fail(p, "no answer queued");
  const Expectation& e = expectations_.front();
  if (e.Kind != PromptKind::InputBox)
    Fail(p, std::string("expected a ") + ToString(e.Kind) + " \"" + e.Text + "\"");
  p.Cancelled = e.Cancel;
  p.TextGiven = e.Cancel ? std::string() : e.Text;
  expectations_.pop_front();
  prompts_.push_back(p);
  if (p.Cancelled) return std::nullopt;
  return p.TextGiven;
}

std::string ScriptedUi::DoFileDialog(const FileDialogRequest& request) {
  Prompt p;
  p.Kind = request.Save ? PromptKind::SaveFile : PromptKind::OpenFile;
  p.Title = request.Title;
  p.Text = request.Filter;
  p.DefaultText = request.DefaultName;
  p.InitialFolder = request.InitialFolder;
  if (expectations_.empty()) Fail(p, "no file queued");
  const Expectation& e = expectations_.front();
  if (e.Kind != PromptKind::OpenFile)
    Fail(p, std::string("expected a ") + ToString(e.Kind) + " \"" + e.Text + "\"");
  p.Cancelled = e.Cancel;
  p.TextGiven = e.Cancel ? std::string() : e.Text;
  expectations_.pop_front();
  prompts_.push_back(p);
  return p.TextGiven;
}

int ScriptedUi::DoRunModal(const std::string& name, const std::function<int()>& run) {
  Prompt p;
  p.Kind = PromptKind::Modal;
  p.Text = name;
  if (!expectations_.empty() && expectations_.front().Kind == PromptKind::Modal &&
      expectations_.front().Text == name) {
    p.ModalResult = expectations_.front().Result;
    expectations_.pop_front();
    prompts_.push_back(p);
    return p.ModalResult;
  }
  if (!runUnexpectedModals_) Fail(p, "no result queued for this window");
  size_t index = prompts_.size();
  prompts_.push_back(p);
  int result = run ? run() : 0;
  prompts_[index].ModalResult = result;
  return result;
}

void ScriptedUi::DoShowWait(const std::string& text) {
  waitShown_ = true;
  waitTexts_.push_back(text);
}

void ScriptedUi::DoHideWait() { waitShown_ = false; }

void ScriptedUi::DoSetBusy(bool busy) {
  if (busy && !busy_) ++busyCount_;
  busy_ = busy;
}

void ScriptedUi::DoDoEvents(bool allowUserInput) {
  ++doEventsCount_;
  if (doEventsHook_) doEventsHook_(allowUserInput);
}

bool ScriptedUi::DoOpenWithDesktop(const std::string& path, bool print) {
  openedFiles_.push_back(print ? "print:" + path : path);
  return desktopOpens_;
}

void ScriptedUi::DoEndProgram(int exitStatus) {
  endedWith_ = exitStatus;
  throw ProgramEnded{exitStatus};
}

}  // namespace ui
