// End to end: what a user can do while a job runs in the real Quenbrix
// program (a second click, a close of the progress window or of the main
// window, the cancel question answered each way), at several points of the
// job. Whatever it is: no crash, no recording lost or changed, no partial
// PC file under a final name, a Yes to cancel honoured, and the disk passes
// the check afterwards.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/program_run.h"

namespace {

namespace pr = programrun;

// The work of every job: the Films folder and one recording beside it, four
// recordings in all, so that each job processes events many times.
const char* const kWork[] = {"\\DataFiles\\Films", "\\DataFiles\\Evening News.rec"};

std::string SelectWork(const pr::Bench& bench) {
  std::string steps = "node TV1_0 \\DataFiles\\\n";
  for (const char* name : kWork) steps += "check LV1_0 " + bench.ListKey(name) + "\n";
  return steps;
}

// How many recordings of the work the job has done: copied to the PC, or
// erased from the disk.
using Done = int (*)(const pr::Files& before, const pr::Files& after, const pr::Files& pc);

int Selected(const pr::Files& files) {
  int n = 0;
  for (const auto& [name, state] : files)
    for (const char* work : kWork)
      if (name.rfind(work, 0) == 0) ++n;
  return n;
}

struct Job {
  const char* Name;
  const char* Start;     // steps that start it
  bool MayRemove;        // it takes recordings away
  Done WorkDone;
};

const Job kJobs[] = {
    {"CopyToPc", "click Command1_1\n", false,
     [](const pr::Files&, const pr::Files&, const pr::Files& pc) { return int(pc.size()); }},
    {"Erase", "click Menu_LVContext_Erase\nanswer Yes\n", true,
     [](const pr::Files& before, const pr::Files& after, const pr::Files&) {
       return Selected(before) - Selected(after);
     }},
};

// What the user does, after some event processings of the job.
struct Act {
  const char* Name;
  const char* Steps;
  bool Stops;       // the job stops early (a Yes to the cancel question)
  bool Ends;        // the program ends once the job has unwound (if asked)
};

const Act kActs[] = {
    {"CloseMainYes", "close Form1\nanswer Yes\n", true, true},
    {"CloseMainNo", "close Form1\nanswer No\n", false, true},
    {"CloseMainCancel", "close Form1\nanswer Cancel\n", false, false},
    {"CancelYes", "click Form2.Command1\nanswer Yes\n", true, false},
    {"CloseProgressYes", "close Form2\nanswer Yes\n", true, false},
    {"CloseProgressCancel", "close Form2\nanswer Cancel\n", false, false},
    {"ClickAgain", "click Command1_1\nclick Menu_LVContext_Erase\nclick Menu_Disk_FSCK\n", false,
     false},
};

using Case = std::tuple<int, int, int>;   // job, act, event processings before it

class JobBusyInput : public ::testing::TestWithParam<Case> {};

TEST_P(JobBusyInput, IsSafeAtAnyPoint) {
  if (!pr::ProgramsBuilt()) GTEST_SKIP() << "the programs are not built";
  const auto& [jobIndex, actIndex, delay] = GetParam();
  const Job& job = kJobs[jobIndex];
  const Act& act = kActs[actIndex];
  pr::Bench bench("--no-hint ");
  ASSERT_TRUE(bench.Made());
  const pr::Files before = bench.Recordings();
  std::string script = SelectWork(bench) + "anytime\n" + job.Start;
  for (int i = 0; i < delay; ++i) script += "print Form2.Label1_0\n";
  script += std::string(act.Steps) + "wait\nprint LV1_0\n";

  const pr::Result run = bench.Quenbrix(script);
  const pr::Files after = bench.Recordings(), pc = bench.PcFiles();
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out.find("UNANSWERED"), std::string::npos) << run.Out;
  EXPECT_EQ(run.Out.find("lost the link"), std::string::npos) << run.Out;
  const bool asked = run.Out.find("MSGBOX\tCancel copy process") != std::string::npos;
  EXPECT_EQ(run.Out.find("== LV1_0") == std::string::npos, act.Ends && asked) << run.Out;
  EXPECT_EQ(pr::Faults(before, after, {}, pc, job.MayRemove), "") << run.Out;
  if (act.Stops && asked) EXPECT_LT(job.WorkDone(before, after, pc), Selected(before)) << run.Out;
  EXPECT_EQ(bench.CheckFindings(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, JobBusyInput,
    ::testing::Combine(::testing::Range(0, int(std::size(kJobs))),
                       ::testing::Range(0, int(std::size(kActs))), ::testing::Values(0, 1, 3)),
    [](const ::testing::TestParamInfo<Case>& info) {
      return std::string(kJobs[std::get<0>(info.param)].Name) +
             kActs[std::get<1>(info.param)].Name + "After" +
             std::to_string(std::get<2>(info.param));
    });

}  // namespace
