// Every file the programs write, with something another user placed at its
// name first: a link to a file of theirs, a file of their own, a pipe.
// Nothing outside the target is touched, nothing hangs, and a save that is
// refused says why.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <functional>

#include "checker/check_driver.h"
#include "checker/dump_tools.h"
#include "core/iodebug.h"
#include "core/settings.h"
#include "layer_fixture.h"
#include "platform/platform.h"

namespace checkertest {
namespace {

using namespace checker;

class PlantedFilesTest : public LayerTest {};

TEST_F(PlantedFilesTest, NothingPlantedIsFollowedTakenOrWaitedOn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  enum Planted { Link, Regular, Fifo };
  // How a site writes: replaces the name, appends to a log of the user's
  // own, or makes a new file (taking the next free name).
  enum Kind { Replaces, Appends, New };
  struct Site {
    const char* what;
    Kind kind;
    bool reports;   // a refused write says so in a message
    std::function<std::string()> target;
    std::function<void()> write;
  };
  const int32_t c = 3;
  const std::vector<Site> sites = {
      {"error log", Appends, false, [&] { return Path("Error Debug/debug.log"); },
       [&] {
         ui_.ExpectMsgBox("", ui::Answer::Ignore).ExpectInput("");
         core::ErrorHandler(0, 5, "Invalid procedure call", "", 0);
       }},
      {"IODebug.log", Appends, true, [&] { return Path("IODebug.log"); },
       [&] {
         core::IODebug = true;
         core::AddIODebugLog("ReadSectors");
         core::IODebug = false;
       }},
      {"Quenbrix.ini", Replaces, false, [&] { return Path("Quenbrix.ini"); },
       [&] { core::INISetString(Path("Quenbrix.ini"), "View", "Extras", "1"); }},
      {"Save Results", Replaces, true, [&] { return Path("results.txt"); },
       [&] { SaveResults(Path("results.txt")); }},
      {"Read Cluster", Replaces, true, [&] { return Path(ClusterFileStem(c - 1) + ".bin"); },
       [&] { ReadClusterToFile(c - 1); }},
      {"system-cluster dump", Replaces, true, [&] { return Path("saved.scd"); },
       [&] { checker::SaveTopfSystemClusters(Path("saved.scc")); }},
      {"undo copy", New, false, [&] { return Path(OriginalClusterFile(c)); },
       [&] {
         ASSERT_TRUE(ReadTopfCluster(c));
         ClusterBuffer[200] ^= 0x11;
         EXPECT_TRUE(WriteTopfCluster(c, false));
       }},
  };
  ib::TempDir other("other");
  const std::string victim = other / "victim";
  ib::WriteWholeFile(victim, "precious");
  ASSERT_EQ(chown(victim.c_str(), 4242, 4242), 0);
  ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
  ib::DiskImage image;
  OpenImage(image);
  core::SetAppDir(temp_.Path());
  core::ErrorHandlerInitFrom(Path("none.ini"));   // the log into the program folder
  ASSERT_TRUE(platform::MakePath(Path("Error Debug")));

  alarm(120);   // a write that waits on a pipe ends the test here
  for (const Site& site : sites) {
    for (Planted planted : {Link, Regular, Fifo}) {
      SCOPED_TRACE(std::string(site.what) + " over " +
                   (planted == Link ? "a link" : planted == Regular ? "a file" : "a pipe"));
      SessionPrefix = std::to_string(planted) + " - ";   // a fresh run's undo names
      const std::string target = site.target();
      ib::RemoveTree(target);
      const std::string free = target.substr(0, target.rfind('.')) + "_2.bin";
      ib::RemoveTree(free);
      if (planted == Link) {
        ASSERT_EQ(symlink(victim.c_str(), target.c_str()), 0);
      }
      if (planted == Fifo) {
        ASSERT_EQ(mkfifo(target.c_str(), 0666), 0);
      }
      if (planted == Regular) {
        ib::WriteWholeFile(target, "planted");
        ASSERT_EQ(chown(target.c_str(), 4242, 4242), 0);
      }
      const bool refused = site.kind == Appends || (site.kind == Replaces && planted == Fifo);
      ui_.Reset();
      if (refused && site.reports)
        ui_.ExpectMsgBox(planted == Fifo && site.kind == Replaces ? "not a regular file" : target,
                         ui::Answer::Ignore)
            .ExpectInput("");
      site.write();
      EXPECT_TRUE(ui_.AllAnswered());

      EXPECT_EQ(ib::ReadWholeFile(victim), "precious");
      struct stat st {};
      ASSERT_EQ(lstat(target.c_str(), &st), 0);
      if (site.kind == Replaces && planted != Fifo) {
        EXPECT_TRUE(S_ISREG(st.st_mode));   // the name holds the new file itself
        EXPECT_NE(ib::ReadWholeFile(target), "planted");
      } else {
        // Left as it was: the link, the other user's file, the pipe.
        EXPECT_EQ(S_ISLNK(st.st_mode), planted == Link);
        EXPECT_EQ(S_ISFIFO(st.st_mode), planted == Fifo);
        if (planted == Regular) {
          EXPECT_EQ(ib::ReadWholeFile(target), "planted");
        }
      }
      // A new file takes the next free name instead.
      EXPECT_EQ(access(free.c_str(), F_OK) == 0, site.kind == New);
    }
  }
  alarm(0);
}

}  // namespace
}  // namespace checkertest
