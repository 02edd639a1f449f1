// End to end: the demo program run under a script, as CI runs the programs.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <fstream>

#include "test_app.h"

namespace {

struct RunResult {
  int Status = -1;
  std::string Out;
  std::string Err;
};

RunResult RunDemo(const std::string& script, const QStringList& args = {}) {
  TestApp();
  QTemporaryDir dir;
  const QString path = dir.filePath("script.txt");
  {
    std::ofstream file(path.toStdString(), std::ios::binary);
    file << script;
  }
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("QUENBRIX_UI_SCRIPT", path);
  process.setProcessEnvironment(env);
  process.start(SCRIPT_DEMO_PATH, args);
  RunResult result;
  if (!process.waitForFinished(30000)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << "the demo did not end";
    return result;
  }
  result.Status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.Out = process.readAllStandardOutput().toStdString();
  result.Err = process.readAllStandardError().toStdString();
  return result;
}

}  // namespace

TEST(ScriptDemo, WholeSessionRunsAndEndsWhenTheScriptRunsOut) {
  const RunResult run = RunDemo(
      "# start-up prompt first\n"
      "answer OK\n"
      "check LV1_0 D..\n"
      "check LV1_0 i5\n"
      "print Label1_0\n"
      "node TV1_0 \\DataFiles\\\n"
      "print Label1_2\n"
      "choose Combo1_0 PC\n"
      "print Combo1_0\n"
      "click Command1_0\n"
      "answer No\n"
      "print Label1_2\n"
      "click Menu_Disk_Select\n"
      "choose Form6.List1 Disk 1\n"
      "click Command1\n"
      "print Label1_2\n"
      "click Menu_File_Open\n"
      "file /tmp/dump.scc\n"
      "click Menu_File_Name\n"
      "input\n"
      "print Label1_2\n"
      "rename LV1_0 i5 old news.rec\n"
      "rename LV1_0 D3\n"
      "print LV1_0\n"
      "click Menu_Disk_Load\n"
      "print Label1_2\n"
      "print Menu_Disk_FSCK\n",
      {"--ask"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out,
            "MSGBOX\tScript demo\tStart the demo?\tOK\n"
            "== Label1_0\n1 file(s) selected\t1\n"
            "== Label1_2\n\\DataFiles\\\t1\n"
            "== Combo1_0\nTopfield: Disk 0\n*PC /\n"
            "MSGBOX\tScript demo\tErase the checked files?\\nThis cannot be undone.\tNo\n"
            "== Label1_2\nkept\t1\n"
            "== Label1_2\nSelectedDisk 1\t1\n"
            "FILEDIALOG\tOpen\tTopfield System Cluster (*.scc)|*.scc|All files|*.*\t/tmp/dump.scc\n"
            "INPUTBOX\tScript demo\tNew name:\t\n"
            "== Label1_2\nno name\t1\n"
            "== LV1_0\n"
            "D..\t0\t0\tDirectory\t..\t\n"
            "D3\t0\t0\tDirectory\tFilms\t\n"
            "i5\t1\t0\tRec\told news.rec\t1.50 GB\n"
            "== Label1_2\nloaded\t1\n"
            "== Menu_Disk_FSCK\n0\t1\t0\n");
}

TEST(ScriptDemo, UnansweredPromptEndsWithStatus3) {
  const RunResult run = RunDemo("click Command1_0\nprint Label1_2\n");
  EXPECT_EQ(run.Status, 3);
  EXPECT_EQ(run.Out,
            "== Label1_2\n\\\t1\n"
            "UNANSWERED\tMSGBOX\tScript demo\tErase the checked files?\\nThis cannot be undone.\n");
}

TEST(ScriptDemo, AnswerThatIsNoButtonOfTheBoxIsUnanswered) {
  const RunResult run = RunDemo("answer Yes\n", {"--ask"});
  EXPECT_EQ(run.Status, 3);
  EXPECT_EQ(run.Out, "UNANSWERED\tMSGBOX\tScript demo\tStart the demo?\n");
}

TEST(ScriptDemo, StartUpPromptAnsweredCancelEndsTheProgram) {
  const RunResult run = RunDemo("answer Cancel\nprint Label1_2\n", {"--ask"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "MSGBOX\tScript demo\tStart the demo?\tCancel\n");
}

TEST(ScriptDemo, SourceDiskDialogDuringStartUp) {
  RunResult run = RunDemo("choose List1 Disk 2\nclick Command1\nprint Label1_2\n", {"--disaster"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "== Label1_2\n\\\t1\n");
  // Closed without a choice: the program ends before its window shows.
  run = RunDemo("close\nprint Label1_2\n", {"--disaster"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
}

TEST(ScriptDemo, ClosingTheMainWindowEndsTheRun) {
  const RunResult run = RunDemo("close\nprint Label1_2\n");
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
}

TEST(ScriptDemo, FaultyScriptsEndWithStatus4) {
  RunResult run = RunDemo("print Nothing\nprint Label1_2\n");
  EXPECT_EQ(run.Status, 4);
  EXPECT_NE(run.Err.find("SCRIPT ERROR\tline 1: print Nothing: no such control"), std::string::npos)
      << run.Err;
  EXPECT_EQ(run.Out, "");
  run = RunDemo("wiggle LV1_0\n");
  EXPECT_EQ(run.Status, 4);
  EXPECT_NE(run.Err.find("line 1: unknown step \"wiggle\""), std::string::npos) << run.Err;
}
