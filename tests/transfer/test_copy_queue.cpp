// The copy queue and its filters.
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "tests/transfer/transfer_fixture.h"
#include "transfer/queue_filters.h"

namespace {

using namespace transfertest;
using transfer::List3;
using transfer::PaneItems;

std::string Key(char letter, int entry) {
  char text[16];
  std::snprintf(text, sizeof text, "%c%06d", letter, entry);
  return text;
}

std::vector<std::string> Lines() {
  std::vector<std::string> out;
  for (size_t i = 0; i < List3.ListCount(); ++i) out.push_back(List3.List(i));
  return out;
}

class QueueTest : public TransferTest {
 protected:
  ib::DiskImage Model() {
    ib::DiskImage model(Spec(2068, 80));
    model.AddFolder("\\DataFiles\\A");
    model.AddFolder("\\DataFiles\\A\\Sub");
    model.AddFolder("\\DataFiles\\AB");
    for (const char* path : {"\\DataFiles\\A\\x.rec", "\\DataFiles\\A\\Sub\\y.rec",
                             "\\DataFiles\\AB\\z.rec", "\\DataFiles\\A.rec"}) {
      ib::FileSpec f;
      f.Path = path;
      f.Size = 3000;
      model.AddFile(f);
    }
    return model;
  }
  // Queue lines: `n` file lines of the PC side's entries 0.. with the given sizes.
  void PcQueue(const std::vector<double>& sizes) {
    core::DiskRec& d = core::Disk[1];
    d.FileCount = int32_t(sizes.size());
    List3.Clear();
    for (size_t i = 0; i < sizes.size(); ++i) {
      d.Files[i] = core::FileRec();
      d.Files[i].Name = Pc() + "f" + std::to_string(i) + ".rec";
      d.Files[i].Size = sizes[i];
      List3.AddItem(transfer::FormatQueueLine('F', int32_t(i) + 1, int32_t(i)));
    }
  }
  PaneItems AllChecked(size_t n) { return PaneItems(n, transfer::PaneItem{"i000000", true}); }
};

TEST_F(QueueTest, RecorderFolderQueuesItselfAndItsContentsOnly) {
  LoadRecorder(Model(), 0, 0);
  const int a = IndexOf(0, "\\DataFiles\\A");
  const int rec = IndexOf(0, "\\DataFiles\\A.rec");
  PaneItems items{{"D..", false}, {Key('D', a), true}, {Key('i', rec), false}};
  std::vector<std::string> shown;
  ASSERT_TRUE(transfer::FSBuildCopyList(0, items, [&](const std::string& t) { shown.push_back(t); }));
  std::vector<std::string> expected{transfer::FormatQueueLine('D', 2, a),
                                    transfer::FormatQueueLine('D', 2, IndexOf(0, "\\DataFiles\\A\\Sub")),
                                    transfer::FormatQueueLine('F', 2, IndexOf(0, "\\DataFiles\\A\\x.rec")),
                                    transfer::FormatQueueLine('F', 2, IndexOf(0, "\\DataFiles\\A\\Sub\\y.rec"))};
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], expected[0]);   // the folder's own line first
  std::sort(lines.begin(), lines.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(lines, expected);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), "Building file list - please wait (4 files)");
  EXPECT_EQ(transfer::FSGetSelectedClusters(0, items), 2);
  items[1].Checked = false;
  EXPECT_EQ(transfer::FSGetSelectedClusters(0, items), 0);
  EXPECT_EQ(transfer::FormatQueueLine('F', 3, 17), "F 000003 000017");
}

TEST_F(QueueTest, PcFolderIsWalkedBreadthFirst) {
  LoadRecorder(Model(), 0, 0);
  ASSERT_EQ(mkdir((Pc() + "P").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((Pc() + "P/S").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((Pc() + "P/S/T").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((Pc() + "E").c_str(), 0755), 0);
  ib::WriteWholeFile(Pc() + "P/one.ts", "1");
  ib::WriteWholeFile(Pc() + "P/.hidden", "h");
  ib::WriteWholeFile(Pc() + "P/S/zero.ts", "");
  ib::WriteWholeFile(Pc() + "P/S/T/deep.ts", std::string(2068 * 512 + 1, 'd'));
  LoadPc(1);
  const int p = IndexOf(1, Pc() + "P");
  const int e = IndexOf(1, Pc() + "E");
  const int32_t before = core::Disk[1].FileCount;
  PaneItems items(static_cast<size_t>(before));
  for (int i = 0; i < before; ++i) items[size_t(i)].Key = Key(core::Disk[1].Files[size_t(i)].IsDir ? 'D' : 'i', i);
  items[size_t(p)].Checked = true;
  items[size_t(e)].Checked = true;
  ASSERT_TRUE(transfer::FSBuildCopyList(1, items));

  std::vector<std::string> order;
  transfer::QueueLine line;
  for (const std::string& l : Lines()) {
    ASSERT_TRUE(transfer::ParseQueueLine(l, line));
    order.push_back(std::string(1, line.Kind) + " " +
                    core::Disk[1].Files[size_t(line.Entry)].Name.substr(Pc().size()));
  }
  // P's names (in listing order) before S's, S's before T's; E alone.
  const auto pos = [&](const std::string& s) { return std::find(order.begin(), order.end(), s) - order.begin(); };
  ASSERT_EQ(order.size(), 7u);
  EXPECT_EQ(std::count_if(order.begin(), order.end(),
                          [](const std::string& s) { return s.find(" E") != std::string::npos; }),
            1);   // an empty folder: one line
  EXPECT_LT(pos("D P"), pos("F P/one.ts"));
  EXPECT_LT(pos("F P/one.ts"), pos("F P/S/zero.ts"));
  EXPECT_LT(pos("D P/S"), pos("F P/S/zero.ts"));
  EXPECT_LT(pos("F P/S/zero.ts"), pos("F P/S/T/deep.ts"));
  EXPECT_LT(pos("D P/S/T"), pos("F P/S/T/deep.ts"));
  EXPECT_EQ(pos("F P/.hidden"), 7);
  // one.ts 1 cluster, zero.ts 0, deep.ts 2.
  EXPECT_EQ(transfer::FSGetSelectedClusters(1, items), 3);
}

TEST_F(QueueTest, NumbersBeyondSixDigitsRefuseTheQueue) {
  LoadRecorder(Model(), 0, 0);
  PaneItems items(1000001);
  items.back() = {Key('i', IndexOf(0, "\\DataFiles\\A.rec")), true};
  script.ExpectMsgBox("too many files", ui::Answer::OK);
  EXPECT_FALSE(transfer::FSBuildCopyList(0, items));
  EXPECT_EQ(List3.ListCount(), 0u);
}

TEST_F(QueueTest, RemoveDeselectedTakesTheMarkedLinesLastFirst) {
  for (int i = 0; i < 7; ++i) List3.AddItem(transfer::FormatQueueLine('F', i, i));
  std::vector<int32_t> list;
  int32_t count = 0;
  transfer::FSRemoveDeselected(0, list, count);
  EXPECT_EQ(List3.ListCount(), 7u);
  list = {2, 5};
  count = 2;
  transfer::FSRemoveDeselected(0, list, count);
  EXPECT_EQ(count, 0);
  std::vector<std::string> expected;
  for (int i : {0, 1, 3, 4, 6}) expected.push_back(transfer::FormatQueueLine('F', i, i));
  EXPECT_EQ(Lines(), expected);
}

// FAT indexes whose cluster lies (partly) past the end of the device are no
// room: the cluster writer refuses them. Only clusters wholly on the device
// count, so the file that fits is taken and the one that does not is not.
TEST_F(QueueTest, FreeSpaceCountsOnlyClustersWhollyOnTheDevice) {
  const double cb = 2068.0 * 512;
  Model().Write(DrivePath(0));
  // A device of exactly ten cylinders: the last cluster the geometry gives
  // (LastCluster) and the one before it run past its end.
  const int64_t sectors = 10 * 16065;
  ASSERT_EQ(::truncate(DrivePath(0).c_str(), off_t(sectors * 512)), 0);
  core::DiskId[0] = 0;
  ASSERT_TRUE(core::InitTopf(0, "PhysicalDrive0", true));
  ASSERT_TRUE(core::LoadTopf(0, true));
  core::DiskId[1] = 1;
  core::DiskRec& t = core::Disk[0];
  const int32_t last = t.LastCluster;
  const int32_t firstOff = int32_t(sectors / 2068) - 1;   // disk cluster firstOff + 1 is cut
  ASSERT_LE(firstOff, last);
  ASSERT_LT(last - firstOff, 4);
  // One free cluster on the device, the FAT indexes beyond it free too.
  int32_t free = 0;
  for (int32_t i = 0; i < firstOff; ++i)
    if (t.FAT[size_t(i)].Next == 0 && ++free > 1) t.FAT[size_t(i)].Next = -1;
  for (int32_t i = firstOff; i <= last; ++i) t.FAT[size_t(i)].Next = 0;
  ASSERT_GE(free, 1);
  EXPECT_DOUBLE_EQ(core::FSGetFreeSpace(0), cb);

  PcQueue({2 * cb, cb});
  std::vector<int32_t> list;
  int32_t count = 0;
  transfer::FSDeselectNoSpace(1, AllChecked(2), list, count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(list[0], 0);   // two clusters do not fit; the one-cluster file does
}

TEST_F(QueueTest, SpaceFilterIsAGreedyFitInWholeClusters) {
  LoadRecorder(Model(), 0, 0);   // the target
  core::DiskId[1] = 1;
  core::DiskRec& t = core::Disk[0];
  const double cb = 2068.0 * 512;
  // Exactly ten free clusters.
  int32_t free = 0;
  for (int32_t i = 0; i <= t.LastCluster; ++i)
    if (t.FAT[size_t(i)].Next == 0 && ++free > 10) t.FAT[size_t(i)].Next = -1;
  ASSERT_DOUBLE_EQ(core::FSGetFreeSpace(0), 10 * cb);
  PcQueue({6 * cb, 5 * cb, 3 * cb, 1});
  std::vector<int32_t> list;
  int32_t count = 0;
  PaneItems items = AllChecked(4);
  transfer::FSDeselectNoSpace(1, items, list, count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(list[0], 1);   // 5 does not fit after 6; 3 does, and 1 byte in the last cluster

  count = 0;
  PcQueue({3 * cb + 1, 3 * cb + 1, 3 * cb + 1});   // four clusters each
  transfer::FSDeselectNoSpace(1, AllChecked(3), list, count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(list[0], 2);

  count = 0;
  PcQueue({20 * cb});
  transfer::FSDeselectNoSpace(1, PaneItems{{"i000000", false}}, list, count);
  EXPECT_EQ(count, 0);   // unchecked items are never marked
}

// A PC folder's free space and room check are its own file system's (a tmpfs).
TEST_F(QueueTest, PcFreeSpaceIsThatOfTheFolderItself) {
  const std::string small = Pc() + "small/";
  ASSERT_EQ(::mkdir(small.c_str(), 0755), 0);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=4m") != 0) GTEST_SKIP() << "no tmpfs";
  std::unique_ptr<const char, void (*)(const char*)> unmount(small.c_str(), [](const char* p) { ::umount2(p, MNT_DETACH); });
  LoadRecorder(Model(), 0, 0);   // the source: one 8 MiB entry
  core::Disk[0].Files[0].Size = 8 << 20;
  core::DiskId[1] = 1;
  for (const auto& [folder, fits] : {std::pair{small, false}, std::pair{Pc(), true}}) {
    core::CurrentFolder[1] = folder;
    struct statvfs own {};
    ASSERT_EQ(::statvfs(folder.c_str(), &own), 0);
    // Other tests write beside this one on the shared file system: its free
    // space may move a little between the two looks, the tmpfs's cannot.
    const double slack = folder == small ? 0 : 256.0 * (1 << 20);
    EXPECT_NEAR(core::FSGetFreeSpace(1), double(own.f_bavail) * double(own.f_frsize), slack) << folder;
    List3.Clear();
    List3.AddItem(transfer::FormatQueueLine('F', 1, 0));
    std::vector<int32_t> list;
    int32_t count = 0;
    transfer::FSDeselectNoSpace(0, AllChecked(1), list, count);
    EXPECT_EQ(count, fits ? 0 : 1) << folder;
  }
}

TEST_F(QueueTest, FourGigabyteFilterComparesBytesForLimitedTargetsOnly) {
  core::DiskId[0] = 1;   // PC to PC
  core::DiskId[1] = 2;
  core::Disk[0].SectorsPerCluster = 2068;
  std::swap(core::DiskId[0], core::DiskId[1]);
  PcQueue({4294967295.0, 4294967296.0, 5e9});
  std::swap(core::DiskId[0], core::DiskId[1]);
  std::vector<int32_t> list;
  int32_t count = 0;
  PaneItems items = AllChecked(3);
  items[2].Checked = false;
  // A target that takes large files (the temp folder is not FAT): nothing.
  transfer::FSDeselectSourceToNonNTFS(1, items, Pc(), list, count);
  EXPECT_EQ(count, 0);
  transfer::DeselectOver4GB(1, items, list, count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(list[0], 1);
}

TEST_F(QueueTest, ExistsFilterOnAPcTargetUsesTheCreatedName) {
  ib::DiskImage model = Model();
  ib::FileSpec noext;
  noext.Path = "\\DataFiles\\A\\noext";
  noext.Size = 10;
  model.AddFile(noext);
  LoadRecorder(model, 0, 0);
  LoadPc(1);
  ASSERT_EQ(mkdir((Pc() + "A").c_str(), 0755), 0);
  ib::WriteWholeFile(Pc() + "A/noext", "x");       // exists, no trailing dot
  ASSERT_EQ(mkdir((Pc() + "A/x.rec").c_str(), 0755), 0);   // a folder at a file's name
  const int a = IndexOf(0, "\\DataFiles\\A");
  PaneItems items{{Key('D', a), false}};
  items[0].Checked = true;
  ASSERT_TRUE(transfer::FSBuildCopyList(0, items));
  items[0].Checked = false;   // the exists filter ignores the check mark
  std::vector<int32_t> list;
  int32_t count = 0;
  script.ExpectMsgBox("over the directory", ui::Answer::OK);
  transfer::FSDeselectDestExists(0, "\\DataFiles\\", Pc(), list, count);
  EXPECT_TRUE(script.AllAnswered());
  std::vector<std::string> marked;
  transfer::QueueLine line;
  for (int32_t k = 0; k < count; ++k) {
    ASSERT_TRUE(transfer::ParseQueueLine(List3.List(size_t(list[size_t(k)])), line));
    marked.push_back(core::Disk[0].Files[size_t(line.Entry)].Name);
  }
  std::sort(marked.begin(), marked.end());
  EXPECT_EQ(marked, (std::vector<std::string>{"\\DataFiles\\A\\noext", "\\DataFiles\\A\\x.rec"}));
}

TEST_F(QueueTest, ExistsFilterOnARecorderTargetIgnoresCase) {
  ib::DiskImage target = Model();
  ib::FileSpec show;
  show.Path = "\\DataFiles\\show.REC";
  show.Size = 100;
  target.AddFile(show);
  target.AddFolder("\\DataFiles\\Clash.rec");
  LoadRecorder(target, 0, 0);
  ib::WriteWholeFile(Pc() + "Show.rec", "s");
  ib::WriteWholeFile(Pc() + "clash.rec", "c");
  ib::WriteWholeFile(Pc() + "new.rec", "n");
  LoadPc(1);
  PaneItems items;
  List3.Clear();
  for (const char* n : {"Show.rec", "clash.rec", "new.rec"}) {
    const int i = IndexOf(1, Pc() + n);
    items.push_back({Key('i', i), true});
    List3.AddItem(transfer::FormatQueueLine('F', int32_t(items.size()), i));
  }
  std::vector<int32_t> list;
  int32_t count = 0;
  script.ExpectMsgBox("Please rename one of the two objects first!", ui::Answer::OK);
  transfer::FSDeselectDestExists(1, Pc(), "\\DataFiles\\", list, count);
  EXPECT_TRUE(script.AllAnswered());
  ASSERT_EQ(count, 2);
  EXPECT_EQ(list[0], 0);
  EXPECT_EQ(list[1], 1);
}

}  // namespace
