// End to end: what a user can do while the defragmenter or the recovery
// window works in the real Quenbrix program (a click on either window's
// buttons, the other controls, a close of the window or of the main
// window), at several points of the window's load, a defragmentation, a
// clearing of free space, a recovery scan and a match. Whatever it is: no
// crash, no prompt left unanswered, no recording lost or changed, the disk
// passes the check afterwards, and a scan asked to stop stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/cluster_io.h"
#include "core/settings.h"
#include "tests/support/program_run.h"

namespace {

namespace pr = programrun;
namespace ib = imagebuilder;

// The recovery scan starts this many clusters before the end of the disk
// (a whole pass takes minutes); a lost recording lies there for it to find.
constexpr int32_t kScanSpan = 12;

// Makes the tail of the disk hold a lost recording (a copy of No
// Header's clusters that no entry owns) and the search state of an
// interrupted scan that continues just before it.
void PrepareScan(const pr::Bench& bench) {
  std::string crcId;
  int32_t last = 0, start = -1, count = 0;
  bench.Load([&](const core::DiskRec& d) {
    crcId = d.CrcId;
    last = d.LastCluster;
    for (int i = 0; i < d.FileCount; ++i)
      if (d.Files[size_t(i)].Name == "\\DataFiles\\No Header.rec") {
        start = d.Files[size_t(i)].StartCluster;
        count = d.Files[size_t(i)].ClusterCount;
      }
  });
  ASSERT_FALSE(crcId.empty());
  ASSERT_GE(start, 0);
  ASSERT_LT(count, kScanSpan - 2);
  {
    ib::ImageFile image(bench.Image());
    uint32_t from = uint32_t(start);
    for (int32_t k = 0; k < count; ++k, from = image.FatEntry(from))
      image.WriteClusterRaw(uint32_t(last - kScanSpan + 2 + k),
                            image.ReadClusterRaw(from + 1));
  }
  const std::string state = bench.App() / (crcId + "_Search.ini");
  core::INISetString(state, "Recovery", "NextCluster", std::to_string(last - kScanSpan));
  core::INISetString(state, "Recovery", "State", "1");
  ib::WriteWholeFile(bench.App() / (crcId + "_Search.txt"), "");
}

// The links of the disk's chains that do not lead to the next index: fewer
// once the defragmenter has run to its end.
int ChainBreaks(const pr::Bench& bench) {
  int breaks = 0;
  bench.Load([&](const core::DiskRec& d) {
    for (int i = 0; i < d.FileCount; ++i) {
      int32_t c = d.Files[size_t(i)].StartCluster;
      for (int32_t k = 1; k < d.Files[size_t(i)].ClusterCount && c > 0;
           ++k, c = d.FAT[size_t(c)].Next)
        breaks += d.FAT[size_t(c)].Next != c + 1;
    }
  });
  return breaks;
}

// The disk's last free index, given data that clearing free space wipes
// only at the end of its run.
int32_t MarkLastFree(const pr::Bench& bench) {
  int32_t free = -1;
  bench.Load([&](const core::DiskRec& d) {
    for (int32_t c = core::LastDataIndex(0); c >= 0 && free < 0; --c)
      if (d.FAT[size_t(c)].Next == 0) free = c;
  });
  if (free >= 0) {
    ib::ImageFile image(bench.Image());
    std::vector<uint8_t> bytes = image.ReadClusterRaw(uint32_t(free) + 1);
    std::fill(bytes.begin(), bytes.end(), uint8_t(0x5A));
    image.WriteClusterRaw(uint32_t(free) + 1, bytes);
  }
  return free;
}

bool Cleared(const pr::Bench& bench, int32_t index) {
  const std::vector<uint8_t> bytes = ib::ImageFile(bench.Image()).ReadClusterRaw(uint32_t(index) + 1);
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

// The search state after the run ("" when there is none).
std::string ScanState(const pr::Bench& bench) {
  std::vector<platform::FolderEntry> entries;
  platform::ListFolder(bench.App().Path(), entries);
  for (const auto& e : entries)
    if (e.Name.size() > 11 && e.Name.substr(e.Name.size() - 11) == "_Search.ini")
      return core::INIGetString(bench.App() / e.Name, "Recovery", "State");
  return "";
}

// What shows whether a run went to its end.
enum class Outcome {
  None,
  Scan,     // a stopped scan leaves State "1"
  Defrag,   // a stopped defragmentation leaves chains broken
  Clear,    // a stopped clearing leaves the last free cluster's data
};

struct ToolRun {
  const char* Name;
  const char* Start;          // steps that start it; `anytime` among them
  std::vector<int> Delays;    // event processings before the act
  bool Recovery;              // a run of the recovery window
  Outcome Shows;
  int CancelAct;              // the act that clicks the run's own Cancel button (-1: none)
  bool Refuses;               // a close of the main window is refused during it
};

// Event processings before the act: all but the last of the defragmenter's
// load, so that the act's first step comes at the load's last and its next
// step just after the load.
constexpr int kLoadEnd = -1;

const ToolRun kRuns[] = {
    {"DefragLoad", "anytime\nclick Menu_Expert_Defragment\n", {0, 4, kLoadEnd}, false,
     Outcome::None, -1, false},
    {"Defrag", "click Menu_Expert_Defragment\nwait\nanytime\nclick Form3.Command1\n", {0, 4},
     false, Outcome::Defrag, 0, false},
    {"Clear", "click Menu_Expert_Defragment\nwait\nanytime\nclick Form3.Command3\n", {0, 4},
     false, Outcome::Clear, 1, false},
    {"RecoveryLoad", "anytime\nclick Menu_Disk_Scan\n", {0}, true, Outcome::None, -1, false},
    {"Scan", "click Menu_Disk_Scan\nwait\nanytime\nclick Form5.Command1\n", {0, 1, 2}, true,
     Outcome::Scan, 0, false},
    // The window closes itself after the match: one point in it. Its
    // message comes at the match's end.
    {"Match",
     "click Menu_Disk_Scan\nclick Form5.Command1\nwait\nanswer OK\nanytime\nclick Form5.Command2\n",
     {0}, true, Outcome::None, -1, true},
};

// What the user does. The acts on one window are ignored (the control is
// not there) in a run of the other.
struct Act {
  const char* Name;
  const char* Defrag;    // in the defragmenter's runs
  const char* Recovery;  // in the recovery window's runs
  bool ClosesMain;
  bool Closes;           // closes a window: stops a run that can stop
  bool WhileLoading = false;   // only in the defragmenter's load, where its close waits
};

const Act kActs[] = {
    {"First", "click Form3.Command1\n", "click Form5.Command1\n", false, false},
    {"Second", "click Form3.Command3\n", "click Form5.Command2\n", false, false},
    {"CloseWindow", "close Form3\n", "close Form5\n", false, true},
    {"CloseMain", "close Form1\n", "close Form1\n", true, true},
    {"Others",
     "choose Form3.Combo2 Normal\ntab Form3.TabStrip1 2\nclick Menu_Expert_Defragment\n"
     "click Form3.Command2\n",
     // The match ends soon: the recovery window's controls first.
     "click Form5.Check1\nchoose Form5.Combo1 Normal\nclick Menu_Disk_Scan\n", false, false},
    // A close that waits, then a click: in the load, or just after it, on
    // the window that has closed but is not deleted yet. It starts nothing.
    {"CloseThenFirst", "close Form3\nclick Form3.Command1\n", "", false, true, true},
    {"CloseThenSecond", "close Form3\nclick Form3.Command3\n", "", false, true, true},
};

using Case = std::tuple<int, int, int>;   // run, act, event processings before it

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (int r = 0; r < int(std::size(kRuns)); ++r)
    for (int a = 0; a < int(std::size(kActs)); ++a)
      for (int delay : kRuns[r].Delays)
        if (kActs[a].WhileLoading ? kRuns[r].Shows == Outcome::None && !kRuns[r].Recovery
                                  : delay != kLoadEnd)
          cases.emplace_back(r, a, delay);
  return cases;
}

// The steps of a script that run while the defragmenter loads the bench's
// disk (its Defrag button is disabled until the load is done).
int LoadSteps(const pr::Bench& bench) {
  std::string script = "anytime\nclick Menu_Expert_Defragment\n";
  for (int i = 0; i < 100; ++i) script += "print Form3.Command1\n";
  const std::string out = bench.Quenbrix(script).Out;
  int steps = 0;
  for (size_t at = 0; (at = out.find("\nDefrag\t0\n", at)) != std::string::npos; ++at) ++steps;
  return steps < 100 ? steps : 0;
}

class ToolBusyInput : public ::testing::TestWithParam<Case> {};

TEST_P(ToolBusyInput, IsSafeAtAnyPoint) {
  if (!pr::ProgramsBuilt()) GTEST_SKIP() << "the programs are not built";
  const auto& [runIndex, actIndex, delay] = GetParam();
  const ToolRun& run = kRuns[runIndex];
  const Act& act = kActs[actIndex];
  pr::Bench bench("--no-hint ");
  ASSERT_TRUE(bench.Made());
  if (run.Recovery) PrepareScan(bench);
  const int breaks = run.Shows == Outcome::Defrag ? ChainBreaks(bench) : 0;
  if (run.Shows == Outcome::Defrag) {
    ASSERT_GT(breaks, 0);
  }
  const int32_t marked = run.Shows == Outcome::Clear ? MarkLastFree(bench) : -1;
  if (run.Shows == Outcome::Clear) {
    ASSERT_GE(marked, 0);
  }
  const pr::Files before = bench.Recordings();
  std::string script = run.Start;
  const int events = delay == kLoadEnd ? LoadSteps(bench) - 1 : delay;
  ASSERT_GE(events, 0);
  for (int i = 0; i < events; ++i) script += "print Menu_File\n";
  script += std::string(run.Recovery ? act.Recovery : act.Defrag) + "wait\nprint LV1_0\n";

  const pr::Result result = bench.Quenbrix(script);
  EXPECT_EQ(pr::RunFaults(result), "") << result.Out;
  if (delay == kLoadEnd) {
    EXPECT_EQ(result.Out.find("disabled, ignored"), std::string::npos) << "a click in the load";
  }

  const bool ended = result.Out.find("== LV1_0") == std::string::npos;
  EXPECT_EQ(ended, act.ClosesMain && !run.Refuses) << result.Out;
  EXPECT_EQ(pr::Faults(before, bench.Recordings(), {}, bench.PcFiles()), "") << result.Out;
  const bool stops = act.Closes || actIndex == run.CancelAct;
  switch (run.Shows) {
    case Outcome::None: break;
    case Outcome::Scan:
      if (stops) {
        EXPECT_EQ(ScanState(bench), "1") << result.Out;
      }
      break;
    case Outcome::Defrag: EXPECT_EQ(ChainBreaks(bench) < breaks, !stops) << result.Out; break;
    case Outcome::Clear: EXPECT_EQ(Cleared(bench, marked), !stops) << result.Out; break;
  }
  EXPECT_EQ(bench.CheckFindings(), "");
}

INSTANTIATE_TEST_SUITE_P(Table, ToolBusyInput, ::testing::ValuesIn(Cases()),
                         pr::RowName(kRuns, kActs));

}  // namespace
