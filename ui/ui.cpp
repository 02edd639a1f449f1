#include "ui/ui.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace ui {

std::string ListText(const std::string& text, const std::vector<std::string>& entries) {
  std::string all = text;
  for (const std::string& entry : entries) all += "\r\n" + entry;
  return all;
}

const char* ToString(Buttons buttons) {
  switch (buttons) {
    case Buttons::OK: return "OK";
    case Buttons::OKCancel: return "OKCancel";
    case Buttons::AbortRetryIgnore: return "AbortRetryIgnore";
    case Buttons::YesNoCancel: return "YesNoCancel";
    case Buttons::YesNo: return "YesNo";
    case Buttons::YesNoDefaultNo: return "YesNoDefaultNo";
    case Buttons::RetryCancel: return "RetryCancel";
  }
  return "?";
}

const char* ToString(Icon icon) {
  switch (icon) {
    case Icon::None: return "None";
    case Icon::Critical: return "Critical";
    case Icon::Question: return "Question";
    case Icon::Exclamation: return "Exclamation";
    case Icon::Information: return "Information";
  }
  return "?";
}

const char* ToString(Answer answer) {
  switch (answer) {
    case Answer::None: return "None";
    case Answer::OK: return "OK";
    case Answer::Cancel: return "Cancel";
    case Answer::Abort: return "Abort";
    case Answer::Retry: return "Retry";
    case Answer::Ignore: return "Ignore";
    case Answer::Yes: return "Yes";
    case Answer::No: return "No";
  }
  return "?";
}

std::optional<Answer> AnswerFromString(const std::string& text) {
  std::string lower;
  lower.reserve(text.size());
  for (unsigned char c : text) lower.push_back(static_cast<char>(std::tolower(c)));
  static const struct { const char* name; Answer answer; } kNames[] = {
      {"ok", Answer::OK},         {"cancel", Answer::Cancel}, {"abort", Answer::Abort},
      {"retry", Answer::Retry},   {"ignore", Answer::Ignore}, {"yes", Answer::Yes},
      {"no", Answer::No}};
  for (const auto& entry : kNames)
    if (lower == entry.name) return entry.answer;
  return std::nullopt;
}

Answer DefaultAnswer(Buttons buttons) {
  switch (buttons) {
    case Buttons::OK: return Answer::OK;
    case Buttons::OKCancel: return Answer::Cancel;
    case Buttons::AbortRetryIgnore: return Answer::Abort;
    case Buttons::YesNoCancel: return Answer::Cancel;
    case Buttons::YesNo:
    case Buttons::YesNoDefaultNo: return Answer::No;
    case Buttons::RetryCancel: return Answer::Cancel;
  }
  return Answer::Cancel;
}

namespace {
std::string& TitleStore() {
  static std::string title = "Quenbrix";
  return title;
}
}  // namespace

void SetDefaultTitle(const std::string& title) { TitleStore() = title; }
const std::string& DefaultTitle() { return TitleStore(); }

Ui::~Ui() = default;

void Ui::EndProgram(int exitStatus) {
  DoEndProgram(exitStatus);
  // An implementation that returns breaks the contract: end here.
  std::fflush(nullptr);
  std::_Exit(exitStatus);
}

namespace {

// Serves until a window Ui is installed: prints, answers safely, never waits.
class ConsoleUi final : public Ui {
 protected:
  Answer DoMsgBox(const std::string& text, Buttons buttons, Icon icon,
                  const std::string& title) override {
    Answer answer = DefaultAnswer(buttons);
    std::fprintf(stderr, "[%s] %s: %s -> %s\n", title.c_str(), ToString(icon), text.c_str(),
                 ToString(answer));
    return answer;
  }
  std::optional<std::string> DoInputBox(const std::string& prompt, const std::string& title,
                                        const std::string&) override {
    std::fprintf(stderr, "[%s] %s -> (cancelled)\n", title.c_str(), prompt.c_str());
    return std::nullopt;
  }
  std::string DoFileDialog(const FileDialogRequest& request) override {
    std::fprintf(stderr, "[%s dialog] %s %s -> (cancelled)\n", request.Save ? "save" : "open",
                 request.Title.c_str(), request.Filter.c_str());
    return std::string();
  }
  int DoRunModal(const std::string&, const std::function<int()>& run) override {
    return run ? run() : 0;
  }
  void DoShowWait(const std::string& text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  void DoHideWait() override {}
  void DoSetBusy(bool) override {}
  void DoDoEvents(bool) override {}
  bool DoOpenWithDesktop(const std::string& path, bool print) override {
    std::fprintf(stderr, "%s %s: no desktop available\n", print ? "print" : "open",
                 path.c_str());
    return false;
  }
  void DoEndProgram(int exitStatus) override {
    std::fflush(nullptr);
    std::_Exit(exitStatus);
  }
};

ConsoleUi& Console() {
  static ConsoleUi console;
  return console;
}

Ui* g_current = nullptr;

}  // namespace

Ui& Current() { return g_current ? *g_current : static_cast<Ui&>(Console()); }

Ui* SetCurrent(Ui* ui) {
  Ui* previous = g_current;
  g_current = ui;
  return previous;
}

}  // namespace ui
