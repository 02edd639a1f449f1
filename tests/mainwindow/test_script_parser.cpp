#include <gtest/gtest.h>

#include "mainwindow/script_runner.h"

using mainwindow::ParseScript;
using mainwindow::ScriptStep;
using mainwindow::StepKind;

namespace {

std::vector<ScriptStep> Parse(const std::string& text) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_TRUE(ParseScript(text, steps, error)) << error;
  return steps;
}

std::string ErrorOf(const std::string& text) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_FALSE(ParseScript(text, steps, error)) << text;
  EXPECT_TRUE(steps.empty());
  return error;
}

}  // namespace

TEST(ScriptParser, EveryStepForm) {
  const auto steps = Parse(
      "click Menu_Disk_FSCK\n"
      "choose Combo1_0 Topfield: Disk 0\n"
      "tab TabStrip1_1 2\n"
      "node TV1_0 \\DataFiles\\\n"
      "select LV1_0 i5\n"
      "check LV1_0 D12\n"
      "uncheck LV1_1 i7\n"
      "dblclick LV1_0 D..\n"
      "rename LV1_0 i5 new name.rec\n"
      "answer yes\n"
      "input some text\n"
      "file /tmp/out.txt\n"
      "print LV1_0\n"
      "close\n"
      "close Form2\n"
      "anytime\n"
      "wait\n");
  ASSERT_EQ(steps.size(), 17u);
  EXPECT_EQ(steps[14].Name, "Form2");
  EXPECT_EQ(steps[15].Kind, StepKind::Anytime);
  EXPECT_EQ(steps[16].Kind, StepKind::Wait);
  EXPECT_EQ(steps[0].Kind, StepKind::Click);
  EXPECT_EQ(steps[0].Name, "Menu_Disk_FSCK");
  EXPECT_EQ(steps[1].Kind, StepKind::Choose);
  EXPECT_EQ(steps[1].Name, "Combo1_0");
  EXPECT_EQ(steps[1].Text, "Topfield: Disk 0");
  EXPECT_EQ(steps[2].Kind, StepKind::Tab);
  EXPECT_EQ(steps[2].TabNumber, 2);
  EXPECT_EQ(steps[3].Kind, StepKind::Node);
  EXPECT_EQ(steps[3].Key, "\\DataFiles\\");
  EXPECT_EQ(steps[4].Kind, StepKind::Select);
  EXPECT_EQ(steps[4].Key, "i5");
  EXPECT_EQ(steps[5].Kind, StepKind::Check);
  EXPECT_EQ(steps[6].Kind, StepKind::Uncheck);
  EXPECT_EQ(steps[6].Name, "LV1_1");
  EXPECT_EQ(steps[7].Kind, StepKind::DblClick);
  EXPECT_EQ(steps[7].Key, "D..");
  EXPECT_EQ(steps[8].Kind, StepKind::Rename);
  EXPECT_EQ(steps[8].Key, "i5");
  EXPECT_EQ(steps[8].Text, "new name.rec");
  EXPECT_EQ(steps[9].Kind, StepKind::Answer);
  EXPECT_EQ(steps[9].AnswerValue, ui::Answer::Yes);
  EXPECT_EQ(steps[10].Kind, StepKind::Input);
  EXPECT_FALSE(steps[10].Cancel);
  EXPECT_EQ(steps[10].Text, "some text");
  EXPECT_EQ(steps[11].Kind, StepKind::File);
  EXPECT_EQ(steps[11].Text, "/tmp/out.txt");
  EXPECT_EQ(steps[12].Kind, StepKind::Print);
  EXPECT_EQ(steps[13].Kind, StepKind::Close);
  for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(steps[i].Line, static_cast<int>(i + 1));
}

TEST(ScriptParser, CommentsBlankLinesAndLineEnds) {
  const auto steps = Parse(
      "# a comment\r\n"
      "\r\n"
      "   \n"
      "  # indented comment\n"
      "click Command1_0\r\n"
      "\n"
      "print Label1_2   \n");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].Name, "Command1_0");
  EXPECT_EQ(steps[0].Line, 5);
  EXPECT_EQ(steps[1].Name, "Label1_2");   // trailing blanks of a name dropped
  EXPECT_EQ(steps[1].Line, 7);
}

TEST(ScriptParser, LastArgumentRunsToTheEndOfTheLine) {
  const auto steps = Parse(
      "node TV1_1 /home/user/My Films/\n"
      "choose Form6.List1 Disk 1:  \n"
      "input  two leading blanks\n"
      "rename LV1_0 D3 A  B\n");
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[0].Key, "/home/user/My Films/");
  EXPECT_EQ(steps[1].Name, "Form6.List1");
  EXPECT_EQ(steps[1].Text, "Disk 1:  ");
  EXPECT_EQ(steps[2].Text, " two leading blanks");
  EXPECT_EQ(steps[3].Text, "A  B");
}

TEST(ScriptParser, InputAndFileAloneCancel) {
  const auto steps = Parse("input\nfile\nrename LV1_0 i5\n");
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_TRUE(steps[0].Cancel);
  EXPECT_TRUE(steps[1].Cancel);
  EXPECT_EQ(steps[2].Text, "");   // an empty new name, for the refusal
}

TEST(ScriptParser, FaultsNameTheLine) {
  EXPECT_EQ(ErrorOf("click A\nfrobnicate X\n"), "line 2: unknown step \"frobnicate\"");
  EXPECT_NE(ErrorOf("answer Maybe").find("line 1: answer needs"), std::string::npos);
  EXPECT_NE(ErrorOf("tab TabStrip1_0 0").find("tab number"), std::string::npos);
  EXPECT_NE(ErrorOf("tab TabStrip1_0 x").find("tab number"), std::string::npos);
  EXPECT_NE(ErrorOf("click").find("needs a control name"), std::string::npos);
  EXPECT_NE(ErrorOf("select LV1_0").find("needs a control name and a key"), std::string::npos);
  EXPECT_NE(ErrorOf("rename LV1_0").find("rename needs"), std::string::npos);
  EXPECT_NE(ErrorOf("wait now").find("wait takes no argument"), std::string::npos);
  EXPECT_NE(ErrorOf("Click X").find("unknown step"), std::string::npos);
}

TEST(ScriptParser, MissingFileIsReported) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_FALSE(mainwindow::LoadScript("/nonexistent/script.txt", steps, error));
  EXPECT_NE(error.find("cannot read"), std::string::npos);
}
