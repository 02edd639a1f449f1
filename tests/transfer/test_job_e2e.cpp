// End to end: the real Quenbrix program, headless under a script, copies a
// recording from a demo image to a PC folder and the copy back onto the
// image; the bytes are compared afterwards. (Cancelling a copy in the middle
// is in the table of test_job_busy_e2e.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "tests/support/program_run.h"

namespace {

namespace pr = programrun;

TEST(CopyEndToEnd, RecordingToPcAndBackKeepsItsBytes) {
  if (!pr::ProgramsBuilt()) GTEST_SKIP() << "the programs are not built";
  pr::Bench bench;
  ASSERT_TRUE(bench.Made());
  const std::string rec = "\\DataFiles\\Evening News.rec", back = "\\DataFiles\\News\\";
  const pr::Files before = bench.Recordings();
  ASSERT_TRUE(before.count(rec));

  // Copy the recording to the PC folder, then back into another folder.
  const pr::Result run = bench.Quenbrix("node TV1_0 \\DataFiles\\\n"
                                        "check LV1_0 " + bench.ListKey(rec) + "\n"
                                        "click Command1_1\n"
                                        "print LV1_1\n"
                                        "node TV1_0 " + back + "\n"
                                        "check LV1_1 i0\n"
                                        "click Command1_3\n"
                                        "print LV1_0\n");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out.find("UNANSWERED"), std::string::npos) << run.Out;

  // The PC copy and the copy on the image have the recording's bytes.
  const pr::Files pc = bench.PcFiles(), after = bench.Recordings();
  ASSERT_TRUE(pc.count("Evening News.rec")) << run.Out;
  EXPECT_EQ(pc.at("Evening News.rec"), before.at(rec));
  ASSERT_TRUE(after.count(back + "Evening News.rec")) << run.Out;
  EXPECT_EQ(after.at(back + "Evening News.rec"), before.at(rec));
  EXPECT_EQ(bench.CheckFindings(), "");
}

}  // namespace
