// End to end: a name edited in place in a list (Rename, or the name editor
// that Create SubDir opens) while its window goes, write mode is switched
// off or a job takes the window's commands. The edit ends unused while the
// disk is still open: the program never loses its disk, nothing is renamed,
// and the disk passes the check afterwards.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/program_run.h"

namespace {

namespace pr = programrun;

const char* const kEdited = "\\DataFiles\\Evening News.rec";
const char* const kCopied = "\\DataFiles\\No Header.rec";

// Opens an in-place editor in the left list (%K: the edited recording's key).
struct Editor {
  const char* Name;
  const char* Steps;
  bool OnKey;             // it edits %K's name (not a new entry's)
  const char* NewEntry;   // the entry it makes ("" none)
};

const Editor kEditors[] = {
    {"Rename", "select LV1_0 %K\nclick Menu_LVContext_Rename\n", true, ""},
    {"CreateSubDir", "select LV1_0 %K\nclick Menu_LVContext_CreateSubDir\n", false,
     "\\DataFiles\\New folder 01"},
};

// What goes while the editor is open; then, where the program goes on, the
// Enter that would end an edit of %K.
struct Way {
  const char* Name;
  const char* Steps;
  bool Ends;          // the program ends with it
  bool EditClosed;    // the Enter finds no edit open (the step fails)
};

const Way kWays[] = {
    {"CloseMain", "close Form1\n", true, false},
    {"FileExit", "click Menu_File_Exit\n", true, false},
    {"WriteModeOff", "click Menu_Disk_EnableWriting\n", false, true},
    // A copy of another recording to the PC: the Enter lands during the job.
    {"JobStarts", "anytime\nclick Command1_1\n", false, false},
};

std::string WithKey(std::string steps, const std::string& key) {
  for (size_t at; (at = steps.find("%K")) != std::string::npos;) steps.replace(at, 2, key);
  return steps;
}

using Case = std::tuple<int, int>;

class EditWhileWindowGoes : public ::testing::TestWithParam<Case> {};

TEST_P(EditWhileWindowGoes, EndsTheEditUnused) {
  if (!pr::ProgramsBuilt()) GTEST_SKIP() << "the programs are not built";
  const Editor& editor = kEditors[std::get<0>(GetParam())];
  const Way& way = kWays[std::get<1>(GetParam())];
  pr::Bench bench("--no-hint ");
  ASSERT_TRUE(bench.Made());
  const pr::Files before = bench.Recordings(), pcBefore = bench.PcFiles();
  const std::string key = bench.ListKey(kEdited);
  std::string script = "node TV1_0 \\DataFiles\\\ncheck LV1_0 " + bench.ListKey(kCopied) + "\n" +
                       editor.Steps + way.Steps;
  const bool enter = editor.OnKey && !way.Ends;
  if (enter) script += "rename LV1_0 %K Renamed\n";
  script += "wait\nprint LV1_0\n";

  const pr::Result run = bench.Quenbrix(WithKey(script, key));
  if (enter && way.EditClosed)
    EXPECT_NE(run.Out.find("no edit of " + key + " is open"), std::string::npos) << run.Out;
  else
    EXPECT_EQ(pr::RunFaults(run), "") << run.Out;
  EXPECT_EQ(run.Out.find("== LV1_0") == std::string::npos, way.Ends || (enter && way.EditClosed))
      << run.Out;
  EXPECT_EQ(pr::Faults(before, bench.Recordings(), pcBefore, bench.PcFiles(), false), "")
      << run.Out;
  if (*editor.NewEntry) {
    EXPECT_NE(bench.ListKey(editor.NewEntry), "") << run.Out;
  }
  EXPECT_EQ(bench.CheckFindings(), "");
}

INSTANTIATE_TEST_SUITE_P(Table, EditWhileWindowGoes,
                         ::testing::Combine(::testing::Range(0, int(std::size(kEditors))),
                                            ::testing::Range(0, int(std::size(kWays)))),
                         [](const auto& info) {
                           return std::string(kEditors[std::get<0>(info.param)].Name) +
                                  kWays[std::get<1>(info.param)].Name;
                         });

}  // namespace
