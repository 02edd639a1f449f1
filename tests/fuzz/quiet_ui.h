// A Ui that answers every prompt with its safe default and never waits:
// for the fuzz targets and for replaying damaged images in tests. It keeps
// the last message and the first report of the central error handler.
#pragma once

#include <optional>
#include <string>

#include "ui/ui.h"

namespace fuzzimage {

class QuietUi : public ui::Ui {
 public:
  int MessageCount = 0;
  std::string LastMessage;
  std::string ErrorReport;   // the first report the error handler showed

  void Reset() {
    LastMessage.clear();
    ErrorReport.clear();
  }

 protected:
  ui::Answer DoMsgBox(const std::string& text, ui::Buttons buttons, ui::Icon,
                      const std::string& title) override {
    ++MessageCount;
    LastMessage = text;
    if (title == "External Error Handler" && ErrorReport.empty()) ErrorReport = text;
    return ui::DefaultAnswer(buttons);
  }
  std::optional<std::string> DoInputBox(const std::string&, const std::string&,
                                        const std::string&) override {
    return std::nullopt;
  }
  std::string DoFileDialog(const ui::FileDialogRequest&) override { return ""; }
  int DoRunModal(const std::string&, const std::function<int()>&) override { return 0; }
  void DoShowWait(const std::string&) override {}
  void DoHideWait() override {}
  void DoSetBusy(bool) override {}
  void DoDoEvents(bool) override {}
  bool DoOpenWithDesktop(const std::string&, bool) override { return false; }
  void DoEndProgram(int exitStatus) override { throw ui::ProgramEnded{exitStatus}; }
};

}  // namespace fuzzimage
