#include <gtest/gtest.h>

#include "ui/scripted_ui.h"
#include "ui/ui.h"

namespace {

using ui::Answer;
using ui::Buttons;
using ui::Icon;
using ui::PromptKind;
using ui::ScriptedUi;

TEST(ScriptedUi, AnswersMessageBoxesInOrderAndRecordsThem) {
  ScriptedUi script;
  ui::SetDefaultTitle("Quenbrix");
  script.ExpectMsgBox("lost the link", Answer::OK)
      .ExpectMsgBox("Overwrite?", Answer::No, ScriptedUi::Match::Exact);

  EXPECT_EQ(script.MsgBox("Quenbrix has lost the link to the hard drive!", Buttons::OK,
                          Icon::Critical),
            Answer::OK);
  EXPECT_EQ(script.MsgBox("Overwrite?", Buttons::YesNo, Icon::Question, "Copy"), Answer::No);
  EXPECT_TRUE(script.AllAnswered());

  ASSERT_EQ(script.Prompts().size(), 2u);
  const ui::Prompt& first = script.Prompts()[0];
  EXPECT_EQ(first.Kind, PromptKind::MsgBox);
  EXPECT_EQ(first.Title, "Quenbrix");   // no title of its own: the program's title
  EXPECT_EQ(first.IconShown, Icon::Critical);
  EXPECT_EQ(first.ButtonSet, Buttons::OK);
  EXPECT_EQ(first.AnswerGiven, Answer::OK);
  EXPECT_EQ(script.Prompts()[1].Title, "Copy");
}

TEST(ScriptedUi, UnexpectedPromptsFailWithTheirText) {
  ScriptedUi script;
  // Nothing queued.
  try {
    script.MsgBox("Something happened", Buttons::OK);
    FAIL() << "no exception";
  } catch (const ui::UnexpectedPrompt& e) {
    EXPECT_NE(std::string(e.what()).find("Something happened"), std::string::npos);
  }
  // Text mismatch.
  script.ExpectMsgBox("other text", Answer::OK);
  EXPECT_THROW(script.MsgBox("Something happened"), ui::UnexpectedPrompt);
  // Wrong kind: an input box where a message box was queued.
  EXPECT_THROW(script.InputBox("Enter cluster number"), ui::UnexpectedPrompt);
  // An answer that is not among the buttons.
  script.Reset();
  script.ExpectMsgBox("", Answer::Yes);
  EXPECT_THROW(script.MsgBox("Abort?", Buttons::AbortRetryIgnore), ui::UnexpectedPrompt);
}

TEST(ScriptedUi, InputBoxesAndFileDialogsTellCancelApart) {
  ScriptedUi script;
  script.ExpectInput("42").ExpectInputCancel().ExpectInput("").ExpectFile("/tmp/x.scc").ExpectFile("");

  EXPECT_EQ(script.InputBox("Enter cluster number"), "42");
  EXPECT_EQ(script.InputBoxEx("Enter cluster number"), std::nullopt);
  std::optional<std::string> empty = script.InputBoxEx("Enter cluster number");
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(*empty, "");
  EXPECT_EQ(script.OpenFileDialog("", "Topfield System Cluster (*.scc)|*.scc|All files|*.*"),
            "/tmp/x.scc");
  EXPECT_EQ(script.SaveFileDialog("", "Text files (*.txt)|*.txt|All files|*.*"), "");

  const auto& p = script.Prompts();
  ASSERT_EQ(p.size(), 5u);
  EXPECT_TRUE(p[1].Cancelled);
  EXPECT_FALSE(p[2].Cancelled);
  EXPECT_EQ(p[3].Kind, PromptKind::OpenFile);
  EXPECT_EQ(p[3].Text, "Topfield System Cluster (*.scc)|*.scc|All files|*.*");
  EXPECT_EQ(p[4].Kind, PromptKind::SaveFile);
  EXPECT_TRUE(p[4].Cancelled);
}

TEST(ScriptedUi, ModalWindowsAreAnsweredOrRun) {
  ScriptedUi script;
  bool ran = false;
  script.ExpectModal("Form6", 3);
  EXPECT_EQ(script.RunModal("Form6", [&] { ran = true; return 1; }), 3);
  EXPECT_FALSE(ran);

  EXPECT_THROW(script.RunModal("Form6", [&] { return 1; }), ui::UnexpectedPrompt);

  script.SetRunUnexpectedModals(true);
  script.ExpectMsgBox("inside", Answer::OK);
  int result = script.RunModal("Form7", [&] {
    ran = true;
    script.MsgBox("inside the window");
    return 5;
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(result, 5);
  // The record of the window keeps its result although a prompt came after it.
  const auto& p = script.Prompts();
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[1].Kind, PromptKind::Modal);
  EXPECT_EQ(p[1].ModalResult, 5);
}

TEST(ScriptedUi, EndProgramThrowsProgramEndedWithStatus) {
  ScriptedUi script;
  ui::CurrentUiScope use(script);
  try {
    ui::Current().EndProgram(ui::kExitEmergency);
    FAIL() << "EndProgram returned";
  } catch (const ui::ProgramEnded& e) {
    EXPECT_EQ(e.Status, ui::kExitEmergency);
  }
  EXPECT_EQ(script.EndedWith(), ui::kExitEmergency);
}

TEST(ScriptedUi, WaitBusyEventsAndDesktopAreRecorded) {
  ScriptedUi script;
  int hookCalls = 0;
  bool lastAllowed = true;
  script.SetDoEventsHook([&](bool allow) {
    ++hookCalls;
    lastAllowed = allow;
  });
  script.ShowWait("Saving system clusters. Please stand by.");
  EXPECT_TRUE(script.WaitShown());
  script.DoEvents(false);
  script.HideWait();
  EXPECT_FALSE(script.WaitShown());
  script.SetBusy(true);
  script.SetBusy(true);
  script.SetBusy(false);
  EXPECT_FALSE(script.Busy());
  EXPECT_EQ(script.BusyCount(), 1);
  EXPECT_EQ(script.DoEventsCount(), 1);
  EXPECT_EQ(hookCalls, 1);
  EXPECT_FALSE(lastAllowed);
  EXPECT_TRUE(script.OpenWithDesktop("/tmp/list.txt"));
  EXPECT_TRUE(script.OpenWithDesktop("/tmp/list.txt", true));
  EXPECT_EQ(script.OpenedFiles(), (std::vector<std::string>{"/tmp/list.txt", "print:/tmp/list.txt"}));
  EXPECT_EQ(script.WaitTexts().at(0), "Saving system clusters. Please stand by.");
}

TEST(Ui, CurrentFallsBackToTheConsoleAndScopesRestore) {
  ui::Ui& console = ui::Current();
  {
    ScriptedUi script;
    ui::CurrentUiScope use(script);
    EXPECT_EQ(&ui::Current(), &script);
    {
      ScriptedUi inner;
      ui::CurrentUiScope useInner(inner);
      EXPECT_EQ(&ui::Current(), &inner);
    }
    EXPECT_EQ(&ui::Current(), &script);
  }
  EXPECT_EQ(&ui::Current(), &console);
  // The console never says Yes or Retry on anyone's behalf.
  EXPECT_EQ(console.MsgBox("Erase?", Buttons::YesNo), Answer::No);
  EXPECT_EQ(console.MsgBox("Error", Buttons::AbortRetryIgnore), Answer::Abort);
  EXPECT_EQ(console.MsgBox("Go on?", Buttons::OKCancel), Answer::Cancel);
  EXPECT_EQ(console.InputBoxEx("Name?"), std::nullopt);
  EXPECT_EQ(console.OpenFileDialog("", "All files|*.*"), "");
}

TEST(Ui, AnswerNamesRoundTrip) {
  for (Answer a : {Answer::OK, Answer::Cancel, Answer::Abort, Answer::Retry, Answer::Ignore,
                   Answer::Yes, Answer::No})
    EXPECT_EQ(ui::AnswerFromString(ui::ToString(a)), a);
  EXPECT_EQ(ui::AnswerFromString("retry"), Answer::Retry);
  EXPECT_EQ(ui::AnswerFromString("Maybe"), std::nullopt);
}

}  // namespace
