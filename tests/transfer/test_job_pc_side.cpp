// The PC side as other programs change it while a copy or move job runs: a
// file that grows or shrinks while it is copied, a pipe in place of a listed
// file, a folder swapped, a subfolder that cannot be read, special files in a
// ticked folder. In every direction: no byte lost on either side, no hang,
// and the user told.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "tests/transfer/job_files.h"
#include "tests/transfer/job_fixture.h"
#include "tests/support/skipped_rows.h"

namespace jobtest {
namespace {

namespace ib = imagebuilder;
using transfertest::Spec;
enum class Way { PcToRec, RecToPc, PcToPc };
enum class What { Grown, Shrunk, Pipe, FolderSwapped, Unreadable, Special };

// Root reads every folder whatever its permission bits: the capabilities
// that let it are dropped while the job runs, and given back.
bool DacOverride(bool on) {
  __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[2]{};
  if (syscall(SYS_capget, &head, caps) != 0) return false;
  const uint32_t bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  caps[0].effective = on ? caps[0].effective | (caps[0].permitted & bits) : caps[0].effective & ~bits;
  return syscall(SYS_capset, &head, caps) == 0;
}

TEST_F(JobTest, WhatOtherProgramsDoOnThePcSideLosesNothingAndIsTold) {
  const struct { What what; Way way; const char* told; } rows[] = {
      {What::Grown, Way::PcToRec, "a.dat: the file changed"},
      {What::Grown, Way::PcToPc, "a.dat: the file changed"},
      {What::Shrunk, Way::PcToRec, "a.dat: the file changed"},
      {What::Shrunk, Way::PcToPc, "a.dat: the file changed"},
      {What::Pipe, Way::PcToRec, "dat: it is a named pipe now"},
      {What::Pipe, Way::RecToPc, "dat: a named pipe of that name is in the target folder"},
      {What::Pipe, Way::PcToPc, "dat: it is a named pipe now"},
      {What::FolderSwapped, Way::PcToRec, "a.dat: the file changed"},
      {What::FolderSwapped, Way::RecToPc, "another program moved or replaced the copy"},
      {What::FolderSwapped, Way::PcToPc, "a.dat: the file changed"},
      {What::Unreadable, Way::PcToRec, "t/locked/: the folder could not be read"},
      {What::Unreadable, Way::PcToPc, "t/locked/: the folder could not be read"},
      {What::Special, Way::PcToRec, "t/p: a named pipe"},
      {What::Special, Way::PcToPc, "t/p: a named pipe"},
  };
  const std::string a = PatternBytes(1, 3 * kCluster + 5), b = PatternBytes(2, kCluster + 9);
  const std::string other = "another program's file";
  int run = 0;
  testenv::SkippedRows skipped;
  for (const auto& row : rows)
    for (const bool move : {false, true}) {
      const std::string sub = "r" + std::to_string(run++) + "/";
      SCOPED_TRACE(sub + (move ? " move" : " copy"));
      script.Reset();
      const std::string top = Pc() + sub, src = top + "src/", dst = top + "dst/", t = src + "t/";
      ASSERT_TRUE(platform::MakePath(dst) && platform::MakePath(t));
      const bool fromPc = row.way != Way::RecToPc, walk = row.what >= What::Unreadable;
      ib::DiskImage model(Spec(kSpc, 60));
      ib::WriteWholeFile(t + "x.dat", b);
      ib::WriteWholeFile(src + "a.dat", a);
      ib::WriteWholeFile(src + "b.dat", b);
      model.AddFile(File("\\DataFiles\\a.dat", a.size(), 1));
      model.AddFile(File("\\DataFiles\\b.dat", b.size(), 2));
      if (fromPc) ShowPc(0, sub + "src/"); else ShowRecorder(model, 0, 0);
      if (row.way == Way::PcToRec) ShowRecorder(ib::DiskImage(Spec(kSpc, 60)), 1, 1);
      else ShowPc(1, sub + "dst/");
      // What a place holds after the job: a PC path, or a recorder path below \DataFiles.
      auto at = [&](const std::string& where) -> std::optional<std::string> {
        struct stat st {};
        if (where[0] != '\\')
          return ::lstat(where.c_str(), &st) != 0 ? std::nullopt
                 : S_ISREG(st.st_mode)            ? std::optional(ib::ReadWholeFile(where))
                                                  : std::optional<std::string>("(special)");
        const ib::ImageFile image(DrivePath(fromPc ? 1 : 0));
        ib::DecodedEntry e;
        e.StartCluster = model.FolderIndex("\\DataFiles");
        for (size_t k = 1, end; k < where.size(); k = end + 1)
          if (!FindEntry(image, e.StartCluster, where.substr(k, (end = std::min(where.find('\\', k), where.size())) - k), e))
            return std::nullopt;
        return ImageFileBytes(image, e.StartCluster, ib::SizeFromFields(e.ClusterCount, e.FreeBytes, e.LastSectorBytes, kSpc));
      };
      const std::string from = fromPc ? src : "\\", to = row.way == Way::PcToRec ? "\\" : dst;
      const std::string item = fromPc ? src : "\\DataFiles\\";

      // The situation, made to happen during the job: `act` runs at the
      // `when`-th event processing of a file (1: before it is opened).
      std::function<void()> act;
      int when = 2;
      std::string aNow = a;   // what the source a.dat holds once it happened
      std::vector<std::string> untouched;   // places that keep what they held
      switch (row.what) {
        case What::Grown:
          act = [&] { ib::WriteWholeFile(src + "a.dat", a + "grown"); };
          aNow = a + "grown";
          break;
        case What::Shrunk:
          act = [&] { ASSERT_EQ(::truncate((src + "a.dat").c_str(), 100), 0); };
          aNow = a.substr(0, 100);
          break;
        case What::Pipe:   // the file after the one now starting becomes a pipe
          when = 1;
          act = [&] {
            const std::string victim = (fromPc ? src : dst) + (host.Item(0, item + "a.dat").Bold ? "b.dat" : "a.dat");
            ::unlink(victim.c_str());
            ASSERT_EQ(::mkfifo(victim.c_str(), 0644), 0);
          };
          break;
        case What::FolderSwapped:
          act = [&, folder = fromPc ? src : dst] {
            ASSERT_EQ(::rename(folder.substr(0, folder.size() - 1).c_str(), (top + "moved").c_str()), 0);
            platform::MakePath(folder);
            ib::WriteWholeFile(folder + "a.dat", other);
          };
          break;
        case What::Unreadable:
          platform::MakePath(t + "locked");
          ib::WriteWholeFile(t + "locked/y.dat", b);
          ::chmod((t + "locked").c_str(), 0);
          untouched = {t + "locked/y.dat"};
          break;
        case What::Special: {
          ::mkfifo((t + "p").c_str(), 0644);
          ::symlink("nowhere", (t + "dangling").c_str());
          ::symlink("loop", (t + "loop").c_str());
          ::symlink("..", (t + "up").c_str());
          ::mknod((t + "dev").c_str(), S_IFCHR | 0600, makedev(1, 3));
          sockaddr_un addr{AF_UNIX, {}};
          std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", (t + "sock").c_str());
          const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
          ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
          ::close(s);
          untouched = {t + "p", t + "dangling", t + "loop", t + "up", t + "dev", t + "sock"};
          break;
        }
      }
      std::map<std::string, std::optional<std::string>> before;
      for (const std::string& u : untouched) before[u] = at(u);
      if (row.what == What::Unreadable &&
          (!DacOverride(false) || ::open((t + "locked").c_str(), O_RDONLY) >= 0)) {
        DacOverride(true);
        skipped.Add(sub, "a folder cannot be made unreadable here");
        continue;
      }
      host.Check(0, walk ? src + "t" : item + "a.dat");
      if (row.what == What::Pipe) host.Check(0, item + "b.dat");
      int seen = 0;
      script.SetDoEventsHook([&](bool) {
        for (const FakeItem& i : host.List[0])
          if (i.Bold && act && ++seen == when) return act();
      });
      script.ExpectMsgBox("These files were not copied or moved as asked:", ui::Answer::OK);
      // Nothing may hang: after 30 s a watchdog opens every pipe for writing.
      std::atomic<bool> done{false}, hung{false};
      std::thread watchdog([&] {
        for (int k = 0; k < 300 && !done; ++k) platform::SleepMs(100);
        hung = !done;
        for (const char* p : {"src/a.dat", "src/b.dat", "dst/a.dat", "dst/b.dat", "src/t/p"})
          if (hung) ::close(::open((top + p).c_str(), O_WRONLY | O_NONBLOCK));
      });
      transfer::DoCopy(0, move);
      DacOverride(true);
      done = true;
      watchdog.join();
      script.SetDoEventsHook(nullptr);
      EXPECT_FALSE(hung);
      EXPECT_TRUE(script.AllAnswered());
      const std::vector<std::string> texts = script.MsgBoxTexts();
      const std::string told = texts.empty() ? "" : texts.back();
      EXPECT_NE(told.find(row.told), std::string::npos) << told;

      // Every file is at its source, or (copied) at its target, or both;
      // what was not copied keeps its source, and what others put there stays.
      auto copiedOrKept = [&](const std::string& name, const std::string& bytes, bool copies,
                              const std::string& target = "") {
        EXPECT_EQ(at(from + name) == bytes, !(copies && move)) << from + name;
        EXPECT_EQ(at(to + (target.empty() ? name : target)) == bytes, copies) << to + name;
      };
      if (walk) {
        copiedOrKept("t/x.dat", b, true, row.way == Way::PcToRec ? "t\\x.dat" : "t/x.dat");
        EXPECT_NE(told.find(row.what == What::Special ? "t/sock: a socket" : ""), std::string::npos);
      } else if (row.what == What::Pipe) {
        const bool aFirst = at((fromPc ? src : dst) + "b.dat") == "(special)";
        copiedOrKept(aFirst ? "a.dat" : "b.dat", aFirst ? a : b, true);
        if (!fromPc) copiedOrKept(aFirst ? "b.dat" : "a.dat", aFirst ? b : a, false);
      } else if (row.what == What::FolderSwapped) {
        EXPECT_EQ(at((fromPc ? src : dst) + "a.dat"), other);
        EXPECT_EQ(at(top + "moved/a.dat"), a);
        EXPECT_EQ(at(fromPc ? to + "a.dat" : "\\a.dat") == a, !fromPc);
      } else {
        copiedOrKept("a.dat", aNow, false);
      }
      for (const std::string& u : untouched) EXPECT_EQ(at(u), before[u]) << u;
      transfer::UnloadProgressWindow();
    }
  SKIP_ROWS(skipped);
}


// A folder of the copy that cannot be made where it belongs (another user's
// link at its name, a path the PC cannot name) is told once, by its reason;
// nothing goes through the link, what lies below is named as not copied and
// a move keeps it. A link of root's (or the user's) is followed as cp -r does.
TEST_F(JobTest, FoldersThatCannotBeMadeAreToldOnceByTheirReason) {
  enum At { OthersLink, RootsLink, TooLong };
  const std::string b = PatternBytes(2, kCluster + 9), deep(120, 'n');
  int run = 0;
  testenv::SkippedRows skipped;
  for (const At at : {OthersLink, RootsLink, TooLong})
    for (const bool move : {false, true}) {
      const std::string sub = "f" + std::to_string(run++) + "/";
      SCOPED_TRACE(sub + (move ? " move" : " copy"));
      if (at == OthersLink && geteuid() != 0) {
        skipped.Add(sub, "a link of another user needs root to make");
        continue;
      }
      script.Reset();
      const std::string src = Pc() + sub + "src/", elsewhere = Pc() + sub + "elsewhere/";
      std::string dst = sub + "dst/";
      while (at == TooLong && (Pc() + dst).size() < 3990)
        dst += std::string(std::min<size_t>(150, 3990 - (Pc() + dst).size()), 'd') + "/";
      ASSERT_TRUE(platform::MakePath(src + "t/" + deep) && platform::MakePath(Pc() + dst) &&
                  platform::MakePath(elsewhere));
      ib::WriteWholeFile(src + "t/x.dat", b);
      ib::WriteWholeFile(src + "t/" + deep + "/y.dat", b);
      if (at != TooLong) {
        ASSERT_EQ(::symlink(elsewhere.c_str(), (Pc() + dst + "t").c_str()), 0);
        if (at == OthersLink) {
          ASSERT_EQ(::lchown((Pc() + dst + "t").c_str(), 65534, 0), 0);
        }
      }
      ShowPc(0, sub + "src/");
      ShowPc(1, dst);
      host.Check(0, src + "t");
      if (at != RootsLink) script.ExpectMsgBox("These files were not copied or moved as asked:", ui::Answer::OK);
      transfer::DoCopy(0, move);
      EXPECT_TRUE(script.AllAnswered());
      const std::vector<std::string> texts = script.MsgBoxTexts();
      const std::string told = texts.empty() ? "" : texts.back();
      const std::string reason = at == OthersLink ? "symbolic link owned by another user" : "File name too long";
      const size_t first = told.find(reason);
      EXPECT_EQ(first != std::string::npos && told.find(reason, first + 1) == std::string::npos,
                at != RootsLink) << told;
      EXPECT_EQ(told.find("is gone"), std::string::npos) << told;
      // Through a followed link, or into the folder made; never through another's.
      const std::string x = at == TooLong ? Pc() + dst + "t/x.dat" : elsewhere + "x.dat";
      EXPECT_EQ(platform::FileLength(x) == int64_t(b.size()), at != OthersLink) << x;
      EXPECT_EQ(platform::FileLength(elsewhere + deep + "/y.dat") == int64_t(b.size()), at == RootsLink);
      EXPECT_EQ(platform::FileLength(src + "t/x.dat") >= 0, !move || at == OthersLink);
      EXPECT_EQ(platform::FileLength(src + "t/" + deep + "/y.dat") >= 0, !move || at != RootsLink);
      if (at != RootsLink) {
        EXPECT_NE(told.find("y.dat: not copied, its folder"), std::string::npos) << told;
      }
      transfer::UnloadProgressWindow();
    }
  SKIP_ROWS(skipped);
}

// A failing PC disk (read-only, a write error, a folder the user may not
// write, full): copying off the recorder names each file once with the
// system's reason and leaves no part of a copy; an erase names its reason
// too, and a full disk still erases.
TEST_F(JobTest, AFailingPcDiskNamesTheSystemsReasonOncePerFile) {
  using platform::PcCall;
  const struct { int error; PcCall call; const char* told; } rows[] = {
      {EROFS, PcCall::Create, "Read-only file system"}, {EIO, PcCall::Write, "Input/output error"},
      {EACCES, PcCall::Create, "Permission denied"}, {ENOSPC, PcCall::Write, "the disk is full (No space"}};
  ib::DiskImage model(Spec(kSpc, 60));
  model.AddFile(File("\\DataFiles\\a.rec", 2 * kCluster + 5, 1));
  model.AddFile(File("\\DataFiles\\b.rec", kCluster + 9, 2));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.told);
    script.Reset();
    const std::string dst = Pc() + "e" + std::to_string(row.error) + "/";
    ASSERT_TRUE(platform::MakePath(dst));
    ib::WriteWholeFile(dst + "old.dat", "old"), ShowRecorder(model, 0, 0);
    ShowPc(1, "e" + std::to_string(row.error) + "/");
    struct Undo { ~Undo() { platform::SetPcFaultFilter(nullptr); } } undo;
    platform::SetPcFaultFilter([&](PcCall call, std::string path, int handle) {
      if (call == PcCall::Write) path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(handle));
      const bool fails = call == row.call || (call == PcCall::Remove && row.error != ENOSPC);
      return fails && path.rfind(dst, 0) == 0 ? row.error : 0;
    });
    for (const std::string name : {"a.rec", "b.rec"}) host.Check(0, "\\DataFiles\\" + name);
    script.ExpectMsgBox("These files were not copied or moved as asked:", ui::Answer::OK);
    transfer::DoCopy(0, false);
    const std::string told = script.MsgBoxTexts().back();
    for (const std::string name : {"a.rec", "b.rec"}) {
      const size_t at = told.find("\\DataFiles\\" + name + ": ");
      EXPECT_NE(told.find(row.told, at), std::string::npos) << told;
      EXPECT_LT(platform::FileLength(dst + name), 0);
    }
    EXPECT_EQ(told.find(row.told, told.find(row.told, told.find(row.told) + 1) + 1), std::string::npos);
    host.Check(1, dst + "old.dat");
    script.ExpectMsgBox("Do you really want", ui::Answer::Yes);
    if (row.error != ENOSPC) script.ExpectMsgBox("old.dat\" could not be deleted (" + std::string(strerror(row.error)), ui::Answer::OK);
    transfer::DoErase(1);
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(platform::FileLength(dst + "old.dat") >= 0, row.error != ENOSPC);
    transfer::UnloadProgressWindow();
  }
}

}  // namespace
}  // namespace jobtest
