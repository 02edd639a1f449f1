// End to end: over (an image file, a loop device over one) x (what holds it:
// the main program with the disk in both panes, the check program, a mounted
// file system), every second opener - either program, from its drive list
// or not, going on to write if it could - is told the disk is in use and
// writes nothing; then the holding main program hands it to the check
// program. A main program whose pane turned from the disk to a PC drive
// holds it no more: the check program takes it. Loops and mounts are only
// the test's own, and removed whatever happens.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "tests/support/program_run.h"

namespace {

namespace pr = programrun;
namespace ib = imagebuilder;

enum class Holder { Main, Check, Mount, MainLetGo };
struct Row { const char* Name; bool Loop; Holder HeldBy; };   // Loop: the drive is a loop device
const Row kRows[] = {{"ImageMain", false, Holder::Main}, {"ImageCheck", false, Holder::Check},
                     {"ImageMount", false, Holder::Mount}, {"LoopMain", true, Holder::Main},
                     {"LoopCheck", true, Holder::Check},   {"LoopMount", true, Holder::Mount},
                     {"ImageMainLetGo", false, Holder::MainLetGo}};

struct Opener { const char* Program; const char* Arguments; const char* Steps; };
const Opener kOpeners[] = {
    {"Quenbrix", "", "answer OK\n"},   // first: finds no recorder disk on a PC's file system
    {"Quenbrix", "/disaster",
     "print List1\nchoose List1 Disk 0\nclick Command1\nanswer OK\nclick Menu_Expert_KillDisk\n"
     "answer Yes\n"},
    {"Morvessantix", "", "print List1\nchoose List1 Disk 0\nclick Command1\nanswer OK\n"},
    {"Morvessantix", "PhysicalDrive0",
     "answer OK\nclick Menu_Expert_WriteCluster\ninput 10\nfile zeros.bin\n"}};

pr::Result Shell(const std::string& command) { return pr::RunCommand(command + " 2>&1"); }
std::string Q(const std::string& text) { return "'" + text + "'"; }

struct Undo {   // runs the command when the test ends, however it ends
  std::string Command;
  ~Undo() { if (!Command.empty()) Shell(Command); }
};

// A program beside the test, held by its script at "await" until Release().
struct Holding {
  FILE* Pipe;
  std::string Out, Go;
  Holding(const std::string& program, const std::string& arguments, const std::string& app,
          const std::string& devices, const std::string& script, const std::string& then = "")
      : Go(app + "/go") {
    ib::WriteWholeFile(app + "/run.txt", script + "await " + Go + "\n" + then);
    Pipe = popen(("cd " + Q(app) + " && ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen "
                  "QUENBRIX_UI_SCRIPT=run.txt "
                  "QUENBRIX_DEVICES=" + Q(devices) + " QUENBRIX_APPDIR=" + Q(app) +
                  " timeout -s KILL 300 " + Q(program) + " " + arguments + " 2>&1").c_str(), "r");
  }
  bool ReadUntil(const std::string& marker) {
    char buffer[4096];
    for (ssize_t n = 1; Out.find(marker) == std::string::npos && n > 0;)
      if ((n = read(fileno(Pipe), buffer, sizeof buffer)) > 0) Out.append(buffer, size_t(n));
    return Out.find(marker) != std::string::npos;
  }
  int Release() {
    ib::WriteWholeFile(Go, "");
    ReadUntil("\x01");   // to its end
    const int status = pclose(std::exchange(Pipe, nullptr));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~Holding() { if (Pipe) Release(); }
};

// The file's data, holes skipped, and where it lies: any write changes it
// (at most its first 256 MB of data: all of it where holes are not told).
uint64_t DataOf(const std::string& file) {
  std::string data;
  const int fd = open(file.c_str(), O_RDONLY);
  const off_t end = lseek(fd, 0, SEEK_END), most = off_t(256) << 20;
  for (off_t at = lseek(fd, 0, SEEK_DATA); at >= 0 && at < end && off_t(data.size()) < most;) {
    const off_t hole = std::min(lseek(fd, at, SEEK_HOLE), at + most);
    std::string part(size_t(hole - at), 0);
    if (pread(fd, part.data(), part.size(), at) != ssize_t(part.size())) part = "unreadable";
    data += std::to_string(at) + ":" + part;
    at = lseek(fd, hole, SEEK_DATA);
  }
  close(fd);
  return pr::Fingerprint(data);
}

class DiskInUse : public ::testing::TestWithParam<Row> {};

TEST_P(DiskInUse, NoSecondWriterAndTheHandOverWorks) {
  if (!pr::ProgramsBuilt()) GTEST_SKIP() << "the programs are not built";
  const Row& row = GetParam();
  const bool mount = row.HeldBy == Holder::Mount;
  pr::Bench bench("--no-hint ");
  ASSERT_TRUE(bench.Made());
  const ib::TempDir holderApp("e2eapp2"), bin("e2ebin"), point("e2emnt");
  const std::string file = bench.Devices() / "disk.img";
  ASSERT_EQ(rename(bench.Image().c_str(), file.c_str()), 0);
  if (mount) { ASSERT_EQ(Shell("rm " + Q(file) + " && truncate -s 64M " + Q(file)).Status, 0); }
  Undo detach, unmount;
  std::string loop;
  if (row.Loop || mount) {
    const pr::Result made = Shell("losetup -f --show " + Q(file));
    if (made.Status != 0 || made.Out.rfind("/dev/loop", 0) != 0)
      GTEST_SKIP() << "no loop device can be made here (not root, or no loop support)";
    loop = made.Out.substr(0, made.Out.find('\n'));
    detach.Command = "losetup -d " + loop;
  }
  if (mount) {
    ASSERT_EQ(Shell("mkfs.ext4 -q -F " + loop + " && mount " + loop + " " + Q(point.Path())).Status, 0);
    unmount.Command = "umount " + Q(point.Path()) + " || umount -l " + Q(point.Path());
    ib::WriteWholeFile(point / "mine.txt", "the user's own file");
  }
  ASSERT_EQ(symlink((row.Loop ? loop : file).c_str(), bench.Image().c_str()), 0);
  ib::WriteWholeFile(bench.App() / "zeros.bin", std::string(4512 * 512, '\0'));

  // The main program holds the disk from a folder of its own, whose check
  // program runs the real one under a script of its own.
  std::unique_ptr<Holding> holder;
  const std::string handedOver = holderApp / "handover.out";
  if (row.HeldBy == Holder::Main) {
    ASSERT_EQ(Shell("cp " + Q(pr::AppFile("Quenbrix")) + " " + Q(pr::AppFile("libQuenbrix.so")) + " " +
                    Q(bin.Path()) + " && cp " + Q(bench.App() / "Quenbrix.ini") + " " + Q(holderApp.Path()))
                  .Status, 0);
    ib::WriteWholeFile(holderApp / "handover.txt", "print List2\n");
    ib::WriteWholeFile(bin / "Morvessantix", "#!/bin/sh\nQUENBRIX_UI_SCRIPT=handover.txt " +
                                                 Q(pr::AppFile("Morvessantix")) +
                                                 " \"$@\" > handover.tmp 2>&1; mv handover.tmp " + Q(handedOver) + "\n");
    ASSERT_EQ(chmod((bin / "Morvessantix").c_str(), 0755), 0);
    holder = std::make_unique<Holding>(bin / "Quenbrix", "", holderApp.Path(), bench.Devices().Path(),
                                       "choose Combo1_1 Topfield\nprint Form1\n", "click Menu_Disk_FSCK\n");
  } else if (row.HeldBy == Holder::MainLetGo) {   // the left pane keeps drive 0; drive 1 is let go
    ASSERT_EQ(Shell("cp " + Q(bench.App() / "Quenbrix.ini") + " " + Q(holderApp.Path()) + " && cp --sparse=always " +
                    Q(file) + " " + Q(bench.Devices() / "PhysicalDrive1")).Status, 0);
    holder = std::make_unique<Holding>(pr::AppFile("Quenbrix"), "", holderApp.Path(), bench.Devices().Path(),
                                       "choose Combo1_1 Topfield Disk, Drive 1\nchoose Combo1_1 /\nprint Form1\n");
  } else if (row.HeldBy == Holder::Check) {
    holder = std::make_unique<Holding>(pr::AppFile("Morvessantix"), "PhysicalDrive0", holderApp.Path(),
                                       bench.Devices().Path(), "print Form1\n");
  }
  if (holder) { ASSERT_TRUE(holder->ReadUntil("== Form1")) << holder->Out; }
  const uint64_t before = mount ? 0 : DataOf(file);

  for (const Opener& opener : kOpeners) {
    if (row.HeldBy == Holder::MainLetGo) {   // no pane shows it: it opens
      const pr::Result run = bench.Run("Morvessantix", "print Form1\n", "PhysicalDrive1");
      EXPECT_EQ(run.Out.find("in use"), std::string::npos) << run.Out;
      EXPECT_NE(run.Out.find("== Form1"), std::string::npos) << run.Out;
      break;
    }
    if (mount && &opener == &kOpeners[0]) continue;
    const pr::Result run = bench.Run(opener.Program, opener.Steps, opener.Arguments);
    const std::string who = std::string(opener.Program) + " " + opener.Arguments + ":\n" + run.Out;
    EXPECT_NE(run.Out.find("The disk PhysicalDrive0 is in use by another program"), std::string::npos) << who;
    EXPECT_EQ(run.Out.find("UNANSWERED"), std::string::npos) << who;
    if (std::string(opener.Steps).find("List1") != std::string::npos) {
      EXPECT_NE(run.Out.find("(in use)"), std::string::npos) << who;
    }
    if (!mount) { EXPECT_EQ(DataOf(file), before) << "written by " << who; }
  }

  if (holder) { EXPECT_EQ(holder->Release(), 0) << holder->Out; }
  if (row.HeldBy == Holder::Main) {
    for (int i = 0; i < 600 && platform::FileLength(handedOver) < 0; ++i) usleep(50000);
    const std::string checked = platform::FileLength(handedOver) < 0 ? "" : ib::ReadWholeFile(handedOver);
    EXPECT_NE(checked.find("Select \"File - Perform Checks\""), std::string::npos) << checked;
  }
  if (mount) {
    EXPECT_EQ(ib::ReadWholeFile(point / "mine.txt"), "the user's own file");
    ASSERT_EQ(Shell(std::exchange(unmount.Command, "")).Status, 0);
    const pr::Result check = Shell("e2fsck -fn " + loop);
    EXPECT_EQ(check.Status, 0) << check.Out;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DiskInUse, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
