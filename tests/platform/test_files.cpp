// PC files and folders: lengths, times, folder creation, listing, removal.
#include "platform/platform.h"
#include "tests/support/image_builder.h"
#include "tests/support/skipped_rows.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using imagebuilder::ReadWholeFile;
using imagebuilder::TempDir;
using imagebuilder::WriteWholeFile;
using namespace platform;

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(FileLength, RealSixtyFourBitLengths) {
  TempDir dir;
  for (uint64_t size : {0ull, 4294967295ull, 4294967296ull, 5000000000ull}) {
    const std::string f = dir / "f.bin";
    int fd = open(f.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    close(fd);
    EXPECT_EQ(FileLength(f), int64_t(size));
  }
  EXPECT_EQ(FileLength(dir / "none"), -1);
  EXPECT_EQ(FileLength(dir.Path()), -1);
}

TEST(SyncFile, OnlyAFileThatIsThere) {
  TempDir dir;
  const std::string f = dir.Path() + "/synced.bin";
  EXPECT_FALSE(SyncFile(f));
  WriteWholeFile(f, "abc");
  EXPECT_TRUE(SyncFile(f));
}

TEST(MakePath, CreatesEveryMissingFolder) {
  TempDir dir;
  EXPECT_TRUE(MakePath(dir / "a/b/c/"));
  EXPECT_TRUE(MakePath(dir / "a/b/c"));      // exists already
  struct stat st;
  ASSERT_EQ(stat((dir / "a/b/c").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  WriteWholeFile(dir / "file", "x");
  EXPECT_FALSE(MakePath(dir / "file/sub"));
}

TEST(ExeDir, EndsWithASlashAndHoldsTheProgram) {
  const std::string d = ExeDir();
  ASSERT_FALSE(d.empty());
  EXPECT_EQ(d.back(), '/');
  EXPECT_TRUE(Exists(d + "platform_test_files"));
}

TEST(ListFolder, ReportsLinksAsLinksNeverAsFolders) {
  TempDir dir, outside;
  MakePath(dir / "sub");
  WriteWholeFile(dir / "file.rec", "12345");
  WriteWholeFile(dir / ".hidden", "");
  WriteWholeFile(outside / "target.bin", "abc");
  ASSERT_EQ(symlink(outside.Path().c_str(), (dir / "linkdir").c_str()), 0);
  ASSERT_EQ(symlink((outside / "target.bin").c_str(), (dir / "linkfile").c_str()), 0);
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(ListFolder(dir.Path(), entries));
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.Name < b.Name; });
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].Name, ".hidden");
  EXPECT_TRUE(entries[0].Hidden);
  EXPECT_EQ(entries[1].Name, "file.rec");
  EXPECT_TRUE(entries[1].IsRegular);
  EXPECT_EQ(entries[1].Size, 5);
  EXPECT_FALSE(entries[1].Hidden);
  EXPECT_EQ(entries[2].Name, "linkdir");
  EXPECT_FALSE(entries[2].IsDir);
  EXPECT_TRUE(entries[2].IsSymlink);
  EXPECT_TRUE(entries[2].LinkToDir);
  EXPECT_EQ(entries[3].Name, "linkfile");
  EXPECT_TRUE(entries[3].IsSymlink);
  EXPECT_TRUE(entries[3].IsRegular);
  EXPECT_EQ(entries[3].Size, 3);
  EXPECT_EQ(entries[4].Name, "sub");
  EXPECT_TRUE(entries[4].IsDir);
  EXPECT_FALSE(ListFolder(dir / "none", entries));
}

// Whatever another user planted at the name (a link to a file of someone
// else, a file of the same name, a pipe, a folder) is never written through,
// never blocks, and each write either takes a fresh file or is refused.
TEST(SafePcWrites, NothingPlantedIsFollowedOrBlocks) {
  enum Planted { None, Link, Regular, Fifo, Folder, FullDisk };
  enum Op { Create, CreateFree, WriteNew, Replace, Append };
  struct Row { Planted planted; Op op; bool ok; };
  const Row rows[] = {
      {None, Create, true},     {Link, Create, false},    {Regular, Create, false},
      {Fifo, Create, false},    {Regular, CreateFree, true}, {Link, CreateFree, true},
      {None, WriteNew, true},   {Link, WriteNew, false},  {Regular, WriteNew, false},
      {None, Replace, true},    {Regular, Replace, true}, {Link, Replace, true},
      {Fifo, Replace, false},   {Folder, Replace, false}, {None, Append, true},
      {Link, Append, false},    {Fifo, Append, false},    {Regular, Append, true},
      {FullDisk, WriteNew, false}, {FullDisk, Replace, false},
  };
  testenv::SkippedRows skipped;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.planted) + "/" + std::to_string(row.op));
    TempDir dir;
    const std::string victim = dir / "victim.bin";
    WriteWholeFile(victim, "precious");
    std::string name = dir / "out.bin";
    int planted = 0;
    if (row.planted == Link) planted = symlink(victim.c_str(), name.c_str());
    if (row.planted == Regular) WriteWholeFile(name, "planted");
    if (row.planted == Fifo) planted = mkfifo(name.c_str(), 0666);
    if (row.planted == Folder) planted = mkdir(name.c_str(), 0755);
    ASSERT_EQ(planted, 0);
    // A file system with no room left: a small tmpfs, filled.
    const std::string full = dir / "full";
    if (row.planted == FullDisk) {
      mkdir(full.c_str(), 0755);
      if (mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0) {
        skipped.Add("a full disk", "a small tmpfs cannot be mounted here (needs root)");
        continue;
      }
      const int filler = open((full + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
      while (write(filler, "0123456789abcdef", 16) == 16) {
      }
      close(filler);
      name = full + "/out.bin";
    }
    bool ok = false;
    int fd = -1;
    switch (row.op) {
      case Create: fd = PcFileCreate(name); break;
      case CreateFree: fd = PcFileCreateFree(name); break;
      case Append: fd = PcFileAppend(name); break;
      case WriteNew: ok = PcFileWriteNew(name, "data", 4); break;
      case Replace: ok = PcFileReplace(name, "data", 4); break;
    }
    if (fd >= 0) ok = PcFileWriteAll(fd, "data", 4) && PcFileClose(fd);
    EXPECT_EQ(ok, row.ok);
    if (row.planted == FullDisk) {
      // The real reason, and nothing left under the name.
      EXPECT_EQ(LastError(), ENOSPC);
      EXPECT_FALSE(Exists(name));
      EXPECT_EQ(umount2(full.c_str(), MNT_DETACH), 0);
      continue;
    }
    EXPECT_EQ(ReadWholeFile(victim), "precious");
    const bool renamed = ok && row.op == CreateFree && row.planted != None;
    EXPECT_TRUE(!ok || ReadWholeFile(name).find("data") != std::string::npos);
    EXPECT_EQ(name, renamed ? dir / "out_2.bin" : dir / "out.bin");
  }
  SKIP_ROWS(skipped);
}

// Below the folder a job copies into, a link is followed only when root or
// the running user owns it; a path the system cannot name is refused with
// its own reason. Nothing is made through a refused link.
TEST(PcMakeFolder, FollowsOnlyLinksOfTheUserOrRoot) {
  const struct { uid_t owner; const char* below; bool made; int error; } rows[] = {
      {0, "link/sub", true, 0},
      {65534, "link/sub", false, EPERM},
      {65534, "link", false, EPERM},
      {0, "real/sub", true, 0},
      {0, nullptr, false, ENAMETOOLONG},   // a component longer than the system takes
  };
  testenv::SkippedRows skipped;
  for (const auto& row : rows) {
    if (row.owner != 0 && geteuid() != 0) {
      skipped.Add(row.below, "a link of another user needs root to make");
      continue;
    }
    TempDir dir, elsewhere;
    ASSERT_EQ(symlink(elsewhere.Path().c_str(), (dir / "link").c_str()), 0);
    if (row.owner != 0) {
      ASSERT_EQ(lchown((dir / "link").c_str(), row.owner, row.owner), 0);
    }
    const std::string path = dir / (row.below ? row.below : std::string(300, 'n').c_str());
    std::string why;
    EXPECT_EQ(PcMakeFolder(path, dir.Path(), &why), row.made) << path;
    EXPECT_EQ(LastError(), row.error);
    if (row.error == ENAMETOOLONG) {
      EXPECT_EQ(why, std::strerror(ENAMETOOLONG));
    }
    if (row.error == EPERM) {
      EXPECT_NE(why.find("symbolic link owned by another user"), std::string::npos) << why;
    }
    EXPECT_EQ(Exists(elsewhere / "sub"), row.made && row.below == std::string("link/sub"));
    EXPECT_EQ(PcFolderUsable(path, dir.Path()), row.made);
  }
  SKIP_ROWS(skipped);
}

// A rename that must not replace never does, whatever appeared at the
// name; the two files of a dump take their names together or not at all.
TEST(PcRenameNoReplace, NeverReplacesAndPairsStayConsistent) {
  enum Op { Rename, SetAside, Pair, PairSecondFails };
  const struct { Op op; bool taken; bool ok; } rows[] = {
      {Rename, false, true}, {Rename, true, false}, {SetAside, true, true},
      {Pair, true, true},    {Pair, false, true},   {PairSecondFails, true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.op) + (row.taken ? " taken" : ""));
    TempDir dir;
    const std::string a = dir / "d.scc", b = dir / "d.scd";
    WriteWholeFile(dir / "from", "new");
    if (row.taken) WriteWholeFile(a, "old a"), WriteWholeFile(b, "old b"),
                   WriteWholeFile(a + ".old", "user's");
    bool ok = false;
    std::string aside;
    if (row.op == Rename) ok = PcRenameNoReplace(dir / "from", a);
    if (row.op == SetAside) ok = PcSetAside(a, aside) && aside == a + ".1.old";
    if (row.op >= Pair) {
      PcFileReplacement ra, rb;
      ASSERT_TRUE(PcFileReplaceBegin(a, ra) && PcFileReplaceBegin(b, rb));
      ASSERT_TRUE(PcFileReplaceWrite(ra, "new a", 5) && PcFileReplaceWrite(rb, "new b", 5));
      if (row.op == PairSecondFails) ::unlink(rb.Temp.c_str());
      ok = PcFileReplaceCommitPair(ra, rb);
    }
    EXPECT_EQ(ok, row.ok);
    if (row.op == Rename) {
      EXPECT_EQ(ReadWholeFile(a), ok ? "new" : "old a");
      EXPECT_EQ(LastError(), ok ? 0 : EEXIST);
    }
    if (row.op >= Pair) {
      EXPECT_EQ(ReadWholeFile(a), ok ? "new a" : "old a");
      EXPECT_EQ(ReadWholeFile(b), ok ? "new b" : "old b");
    }
    // Only the two names and what the user had: no temporary or aside file stays.
    std::vector<FolderEntry> left;
    ASSERT_TRUE(ListFolder(dir.Path(), left));
    EXPECT_EQ(left.size(), size_t(row.taken ? 4 : row.op == Rename ? 1 : 3));
    if (row.taken) {
      EXPECT_EQ(ReadWholeFile(a + ".old"), "user's");
    }
  }
}
