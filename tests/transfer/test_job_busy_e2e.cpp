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
namespace ib = imagebuilder;

// The work of the jobs on the recorder disk: the Films folder and two
// recordings beside it, five in all, so that each job processes events more
// often than an act takes steps.
const char* const kWork[] = {"\\DataFiles\\Films", "\\DataFiles\\Evening News.rec",
                             "\\DataFiles\\No Header.rec"};
// The work of a copy from the PC: three files of the PC folder, into News.
const char* const kPcWork[] = {"a.rec", "b.rec", "c.rec"};
const char* const kPcTarget = "\\DataFiles\\News\\";

// Every row's demo disk is the same: its keys are looked up once.
std::string SelectWork(const pr::Bench& bench) {
  static const std::string steps = [&] {
    std::string select = "node TV1_0 \\DataFiles\\\n";
    for (const char* name : kWork) select += "check LV1_0 " + bench.ListKey(name) + "\n";
    return select;
  }();
  return steps;
}

int Selected(const pr::Files& files) {
  int n = 0;
  for (const auto& [name, state] : files)
    for (const char* work : kWork)
      if (name.rfind(work, 0) == 0) ++n;
  return n;
}

// What the disk and the PC folder hold before and after the run.
struct Outcome {
  const pr::Files &Before, &After, &PcBefore, &PcAfter;
  const std::string& Out;
};

struct Job {
  const char* Name;
  std::string (*Setup)(const pr::Bench&);  // steps before it: its work selected
  const char* Start;                        // steps that start it
  const char* End;                          // answers to its closing report
  pr::Allowance Allow;
  bool (*AllDone)(const Outcome&);          // it has done all of its work
};

const Job kJobs[] = {
    {"CopyToPc", SelectWork, "click Command1_1\n", "", {},
     [](const Outcome& o) { return o.PcAfter.size() - o.PcBefore.size() == size_t(Selected(o.Before)); }},
    {"CopyFromPc",
     [](const pr::Bench&) {
       std::string steps = std::string("node TV1_0 ") + kPcTarget + "\n";
       for (size_t k = 0; k < std::size(kPcWork); ++k) steps += "check LV1_1 i" + std::to_string(k) + "\n";
       return steps;
     },
     "click Command1_3\n", "", {},
     [](const Outcome& o) { return o.After.size() == o.Before.size() + std::size(kPcWork); }},
    {"Move",
     [](const pr::Bench& bench) {
       return std::string("choose Combo1_1 Topfield Disk\nnode TV1_1 ") + kPcTarget + "\n" +
              SelectWork(bench);
     },
     "click Command1_0\n", "", {.Move = true},
     [](const Outcome& o) { return Selected(o.After) == 0; }},
    {"Erase", SelectWork, "click Menu_LVContext_Erase\nanswer Yes\n", "", {.Remove = true},
     [](const Outcome& o) { return Selected(o.After) == 0; }},
    // The demo recordings have no program map table where the scan looks:
    // it reads each, changes nothing and reports them all at its end.
    {"Scan", SelectWork, "click Menu_LVContext_ScanStream\n", "answer OK\n", {},
     [](const Outcome& o) {
       const size_t report = o.Out.find("No program map table");
       return report != std::string::npos &&
              o.Out.find("No Header.rec", report) < o.Out.find('\n', report);
     }},
};

// What the user does, after some event processings of the job.
struct Act {
  const char* Name;
  const char* Steps;
  bool Stops;       // the job stops early (a Yes or No to the cancel question)
  bool Ends;        // the program ends once the job has unwound
  bool Asks = true;  // brings the cancel question
};

const Act kActs[] = {
    {"CloseMainYes", "close Form1\nanswer Yes\n", true, true},
    {"CloseMainNo", "close Form1\nanswer No\n", true, true},
    {"CloseMainCancel", "close Form1\nanswer Cancel\n", false, false},
    {"CancelYes", "click Form2.Command1\nanswer Yes\n", true, false},
    {"CloseProgressYes", "close Form2\nanswer Yes\n", true, false},
    {"CloseProgressCancel", "close Form2\nanswer Cancel\n", false, false},
    // Every command that would start other work, a pane's folder or disk.
    {"ClickAgain",
     "click Menu_Disk_FSCK\nclick Command1_0\nclick Menu_LVContext_Erase\n"
     "choose Combo1_1 Topfield Disk\n",
     false, false, false},
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
  for (const char* name : kPcWork)
    ib::WriteWholeFile(bench.Pc() / name, std::string(2500000, name[0]));
  const pr::Files before = bench.Recordings(), pcBefore = bench.PcFiles();
  std::string script = job.Setup(bench) + "anytime\n" + job.Start;
  for (int i = 0; i < delay; ++i) script += "print Form2.Label1_0\n";
  script += std::string(act.Steps) + job.End + "wait\nprint LV1_0\n";

  const pr::Result run = bench.Quenbrix(script);
  const pr::Files after = bench.Recordings(), pcAfter = bench.PcFiles();
  EXPECT_EQ(pr::RunFaults(run), "") << run.Out;
  const bool asked = run.Out.find("MSGBOX\tCancel copy process") != std::string::npos;
  EXPECT_EQ(asked, act.Asks) << run.Out;
  EXPECT_EQ(run.Out.find("== LV1_0") == std::string::npos, act.Ends) << run.Out;
  EXPECT_EQ(pr::Faults(before, after, pcBefore, pcAfter, job.Allow), "") << run.Out;
  if (act.Stops) {
    EXPECT_FALSE(job.AllDone({before, after, pcBefore, pcAfter, run.Out})) << run.Out;
  }
  EXPECT_EQ(bench.CheckFindings(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, JobBusyInput,
    ::testing::Combine(::testing::Range(0, int(std::size(kJobs))),
                       ::testing::Range(0, int(std::size(kActs))), ::testing::Values(0, 2, 4)),
    pr::RowName(kJobs, kActs));

}  // namespace
