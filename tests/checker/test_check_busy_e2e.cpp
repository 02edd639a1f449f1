// End to end: what a user can do while the real Morvessantix works (a check
// of a sound disk, a check that repairs): pick
// the check again, the other commands and the dump tools, leave through
// Exit or close the main window, at several points of the run. Whatever it
// is: no crash, no unanswered prompt, no recording lost or changed, and the
// disk passes the check afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/program_run.h"

namespace {

namespace pr = programrun;
namespace ib = imagebuilder;

struct Work {
  const char* Name;
  bool Damaged;             // a lost cluster that the check recovers as a file
  const char* Start;        // steps that start it
  std::vector<int> Delays;  // event processings before the act (a check adds
                            // a line at each; a sound disk gets 13)
};

const Work kRuns[] = {
    {"Check", false, "click Menu_File_PerformChecks\n", {0, 5}},
    {"Repair", true, "click Menu_File_PerformChecks\n", {0, 4, 8}},
    // Saving the system clusters processes no events after its file
    // dialog: no user act lands in it.
};

struct Act {
  const char* Name;
  const char* Steps;
};

const Act kActs[] = {
    {"ChecksAgain", "click Menu_File_PerformChecks\n"},
    // Each prompt's answer follows its command: a refused command leaves it
    // queued for a later prompt, which then cancels or reads cluster 0.
    {"OtherCommands",
     "click Menu_File_Save_Results\nfile\nclick Menu_File_ClearResults\n"
     "click Menu_Expert_ReadCluster\ninput 0\nclick Menu_Expert_WriteCluster\ninput\nfile\n"},
    {"DumpTool", "click Menu_Expert_SaveSystemClusters\nfile acted.scc\n"},
    {"Exit", "click Menu_File_Exit\n"},
    {"CloseMain", "close Form1\n"},
};

using Case = std::tuple<int, int, int>;   // run, act, event processings before it

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (int run = 0; run < int(std::size(kRuns)); ++run)
    for (int act = 0; act < int(std::size(kActs)); ++act)
      for (int delay : kRuns[run].Delays) cases.emplace_back(run, act, delay);
  return cases;
}

// Makes the lowest free cluster a lost chain of one cluster in both FATs.
void LoseCluster(const pr::Bench& bench) {
  ib::ImageFile image(bench.Image());
  for (uint32_t i = 1; i < ib::kFatEntries; ++i)
    if (image.FatEntry(i, 1) == ib::kFatFree && image.FatEntry(i, 2) == ib::kFatFree) {
      image.SetFatEntry(i, ib::kFatEnd);
      return;
    }
}

class CheckBusyInput : public ::testing::TestWithParam<Case> {};

TEST_P(CheckBusyInput, IsSafeAtAnyPoint) {
  if (!pr::ProgramsBuilt()) GTEST_SKIP() << "the programs are not built";
  const auto& [runIndex, actIndex, delay] = GetParam();
  const Work& run = kRuns[runIndex];
  pr::Bench bench("--no-hint ");
  ASSERT_TRUE(bench.Made());
  const pr::Files before = bench.Recordings();
  ASSERT_FALSE(before.empty());
  if (run.Damaged) LoseCluster(bench);
  std::string script = std::string("anytime\n") + run.Start;
  for (int i = 0; i < delay; ++i) script += "print Menu_File\n";
  script += std::string(kActs[actIndex].Steps) + "wait\nprint List2\n";

  const pr::Result result = bench.Run("Morvessantix", script, "PhysicalDrive0");
  pr::Files after = bench.Recordings();
  EXPECT_EQ(pr::RunFaults(result), "") << result.Out;
  // Every act comes while the run is still going: Exit and a close are
  // refused there, so the program is still up to show the results.
  EXPECT_NE(result.Out.find("== List2"), std::string::npos) << result.Out;
  // The check makes a file of the lost chain, once.
  const size_t recovered = std::erase_if(after, [](const auto& file) {
    return file.first.find("\\LostCluster") != std::string::npos;
  });
  EXPECT_EQ(recovered, run.Damaged ? 1u : 0u) << result.Out;
  EXPECT_EQ(pr::Faults(before, after, {}, {}), "") << result.Out;
  EXPECT_EQ(bench.CheckFindings(), "");
}

INSTANTIATE_TEST_SUITE_P(Table, CheckBusyInput, ::testing::ValuesIn(Cases()),
                         pr::RowName(kRuns, kActs));

}  // namespace
