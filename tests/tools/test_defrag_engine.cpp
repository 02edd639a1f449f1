// The defragmentation engine on builder images with fragmented files: the
// bytes of every file survive, chains end up contiguous and packed, the FAT
// copies and CRC stay right, and every early end leaves a consistent disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>

#include "core/disk_io.h"
#include "core/fat_write.h"
#include "tests/support/sector_faults.h"
#include "platform/platform.h"
#include "tests/tools/defrag_fixture.h"
#include "tools/cluster_map.h"
#include "tools/defrag_engine.h"

namespace defragtest {
namespace {

using tools::DefragOutcome;

// Three fragmented files interleaved, a contiguous one behind a gap, free
// space in the middle.
ib::DiskImage FragmentedImage() {
  ib::DiskImage image(DefragTest::Spec(100));
  image.AddFile(DefragTest::File("\\DataFiles\\a.rec", {10, 13, 16, 19}, 1));
  image.AddFile(DefragTest::File("\\DataFiles\\b.rec", {11, 14, 17}, 2));
  image.AddFile(DefragTest::File("\\DataFiles\\c.rec", {12, 15}, 3));
  image.AddFile(DefragTest::File("\\DataFiles\\d.rec", {40, 41, 42}, 4));
  image.AddFile(DefragTest::File("\\ProgramFiles\\tool.tap", {60}, 5));
  return image;
}

TEST_F(DefragTest, FragmentedFilesBecomeContiguousPackedAndKeepTheirBytes) {
  const ib::DiskImage image = FragmentedImage();
  Load(image);
  const auto before = ReadImageFiles(ImagePath());
  // Leftovers in a free cluster are cleared by the run.
  ib::ImageFile(ImagePath()).WriteClusterRaw(71, std::vector<uint8_t>(2068 * 512, 0xAB));

  std::vector<std::string> status;
  tools::DefragHooks hooks;
  hooks.SetStatus = [&](int line, const std::string& t) { status.push_back(std::to_string(line) + t); };
  tools::SetDefragHooks(hooks);

  EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Completed);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::CheckState[31], 2);

  const auto after = ReadImageFiles(ImagePath());
  ExpectSameFiles(before, after);
  ExpectContiguous(after);
  ExpectPacked();
  ExpectConsistent();
  // The list in memory follows the disk.
  for (int i = 0; i < core::Disk[0].FileCount; ++i) {
    const core::FileRec& r = core::Disk[0].Files[size_t(i)];
    const std::string key = r.IsDir ? r.Name + "\\" : r.Name;
    ASSERT_TRUE(after.count(key)) << key;
    EXPECT_EQ(uint32_t(r.StartCluster), after.at(key).Start) << key;
  }
  const auto cleared = ib::ImageFile(ImagePath()).ReadClusterRaw(71);
  EXPECT_EQ(std::count(cleared.begin(), cleared.end(), 0), long(cleared.size()));
  EXPECT_NE(std::find(status.begin(), status.end(), "0Building defrag report"), status.end());
  EXPECT_NE(std::find(status.begin(), status.end(), "0Clearing unused space"), status.end());
}

// Fragmented files, and a root folder (with a copy of its entry in the
// system cluster) that holds files and a folder with a folder inside, all
// of which move.
ib::DiskImage FilesAndFoldersImage() {
  ib::ImageSpec spec = DefragTest::Spec(100);
  spec.StandardFolders = false;
  ib::DiskImage image(spec);
  image.AddFolder(ib::FolderSpec{"\\DataFiles", {}, 30, 1, ib::kAttrDirectory});
  image.AddFolder(ib::FolderSpec{"\\ProgramFiles", {}, 3, 2, ib::kAttrDirectory});
  image.AddFile(DefragTest::File("\\DataFiles\\a.rec", {10, 13, 16}, 1));
  image.AddFile(DefragTest::File("\\DataFiles\\b.rec", {11, 14}, 2));
  image.AddFile(DefragTest::File("\\DataFiles\\c.rec", {12}, 3));
  image.AddFolder(ib::FolderSpec{"\\DataFiles\\Sub", {}, 50, -1, ib::kAttrDirectory});
  image.AddFile(DefragTest::File("\\DataFiles\\Sub\\d.rec", {40, 42}, 4));
  image.AddFolder(ib::FolderSpec{"\\DataFiles\\Sub\\Deep", {}, 55, -1, ib::kAttrDirectory});
  image.AddFile(DefragTest::File("\\DataFiles\\Sub\\Deep\\e.rec", {44}, 5));
  return image;
}

// Loads the image "PhysicalDrive" + n of the device folder with the disk
// core and checks what a cut may leave: every file and folder of `before`
// listed under its own name, each file's exact bytes along its own chain,
// no chain on a free cluster, and no cluster in two chains. Clusters that
// no entry reaches are allowed.
void ExpectEveryItemIntact(const std::string& folder, int n,
                           const std::map<std::string, ImageFileRec>& before,
                           const std::string& where) {
  testenv::CloseDisksAndReset();
  core::Flags = core::FlagNormal;
  core::DiskId[0] = 0;
  const std::string drive = "PhysicalDrive" + std::to_string(n);
  ASSERT_TRUE(core::InitTopf(0, drive, false)) << where;
  ASSERT_TRUE(core::LoadTopf(0, true)) << where;
  const core::DiskRec& d = core::Disk[0];
  ib::ImageFile img(folder + "/" + drive);
  std::map<int32_t, std::string> owner;
  std::set<std::string> listed;
  for (int32_t i = 0; i < d.FileCount; ++i) {
    const core::FileRec& r = d.Files[size_t(i)];
    if (r.Name == core::kErasedName) continue;
    const std::string key = r.IsDir ? r.Name + "\\" : r.Name;
    const auto it = before.find(key);
    ASSERT_NE(it, before.end()) << where << ": unknown entry " << key;
    EXPECT_TRUE(listed.insert(key).second) << where << ": " << key << " listed twice";
    std::string bytes;
    int32_t c = r.StartCluster;
    for (int32_t k = 0; k <= d.LastCluster; ++k) {
      ASSERT_TRUE(c >= 1 && c <= d.LastCluster) << where << ": " << key << " leaves the disk";
      ASSERT_NE(d.FAT[size_t(c)].Next, 0) << where << ": " << key << " on free cluster " << c;
      ASSERT_TRUE(owner.emplace(c, key).second)
          << where << ": cluster " << c << " in " << key << " and " << owner[c];
      if (!r.IsDir) {
        const std::vector<uint8_t> raw = img.ReadClusterRaw(uint32_t(c) + 1);
        bytes.append(reinterpret_cast<const char*>(raw.data()), raw.size());
      }
      c = d.FAT[size_t(c)].Next;
      if (c == -1) break;
    }
    if (r.IsDir) continue;
    bytes.resize(std::min(bytes.size(), size_t(r.Size)));
    EXPECT_TRUE(SameBytes(it->second.Bytes, bytes)) << where << ": " << key;
  }
  EXPECT_EQ(listed.size(), before.size()) << where;
  // No lost cluster reads as a folder (the repair program would bring it
  // back as a second folder listing the same entries).
  for (int32_t c = 1; c <= d.LastCluster; ++c) {
    if (d.FAT[size_t(c)].Next == 0 || owner.count(c)) continue;
    const std::vector<uint8_t> view = img.ReadClusterView(uint32_t(c) + 1);
    EXPECT_FALSE(view[0] == ib::kAttrSelf && view[20] == '.' && view[21] == 0)
        << where << ": lost cluster " << c << " reads as a folder";
  }
}

TEST_F(DefragTest, ACutAfterAnyWriteLeavesEveryItemReadableFromItsOwnEntry) {
  const ib::DiskImage image = FilesAndFoldersImage();
  Load(image);
  const auto before = ReadImageFiles(ImagePath());
  std::vector<faults::SectorWrite> writes;
  {
    faults::SectorFaults f;
    ASSERT_EQ(tools::DefragmentDisk(0), DefragOutcome::Completed);
    writes = f.Writes();
  }
  const auto after = ReadImageFiles(ImagePath());
  ExpectSameFiles(before, after);
  ExpectContiguous(after);
  ExpectPacked();
  ASSERT_GT(writes.size(), 20u);

  // A cut after write n leaves the image before the run plus writes 0..n-1;
  // one copy is brought forward one write at a time.
  const std::string copy = Folder() + "/PhysicalDrive1";
  image.Write(copy);
  const auto started = std::chrono::steady_clock::now();
  for (size_t n = 0; n <= writes.size(); ++n) {
    ExpectEveryItemIntact(Folder(), 1, before, "cut after write " + std::to_string(n));
    if (HasFatalFailure() || HasFailure()) break;
    faults::ApplyWrites(copy, writes, n + 1, n);
    if (std::chrono::steady_clock::now() - started > std::chrono::seconds(60)) break;
  }
}

TEST_F(DefragTest, ANearlyFullDiskStopsAsSoonAsAPassMakesNoProgress) {
  // 190 of 231 clusters used: every fifth index from 8 on is free (41 of
  // them); the others hold a 30-cluster and a 25-cluster file and 20-cluster
  // ones, in index order, broken at every free index. Placing the 30-cluster
  // file would move the 25-cluster one away and back again and again.
  ib::DiskImage image(Spec(230));
  std::vector<uint32_t> used;
  int32_t free = 0;
  for (uint32_t c = 4; c <= 230; ++c) {
    if (free < 41 && c >= 8 && (c - 8) % 5 == 0) {
      ++free;
      continue;
    }
    used.push_back(c);
  }
  std::vector<size_t> sizes{30, 25};
  for (size_t left = used.size() - 55; left > 0; left -= std::min<size_t>(left, 20))
    sizes.push_back(std::min<size_t>(left, 20));
  size_t pos = 0;
  for (size_t k = 0; k < sizes.size(); ++k) {
    std::vector<uint32_t> chain(used.begin() + long(pos), used.begin() + long(pos + sizes[k]));
    pos += sizes[k];
    ib::FileSpec f = File("\\DataFiles\\f" + std::to_string(k) + ".rec", chain, uint32_t(k));
    if (k >= 2) f.Data = ib::Content::Zeros();   // (cheap to write and read)
    image.AddFile(f);
  }
  Load(image);
  const auto before = ReadImageFiles(ImagePath());
  std::vector<std::string> status1;
  tools::DefragHooks hooks;
  hooks.SetStatus = [&](int line, const std::string& t) {
    if (line == 1) status1.push_back(t);
  };
  tools::SetDefragHooks(hooks);
  const uint64_t writesBefore = core::SectorWriteCalls;
  EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Emergency);
  const uint64_t writes = core::SectorWriteCalls - writesBefore;
  ASSERT_EQ(status1.size(), 1u);
  EXPECT_EQ(status1[0], "--- The defragmentation makes no progress! Exiting defrag!");
  // A few passes of moves (each cluster one write, each item four more),
  // not thousands.
  EXPECT_LE(writes, 200u);
  ExpectSameFiles(before, ReadImageFiles(ImagePath()));
  ExpectConsistent();
}

TEST_F(DefragTest, FirstItemIsTheFragmentedFileWithTheLowestStart) {
  const ib::DiskImage image = FragmentedImage();
  Load(image);
  tools::FirstPass = true;
  tools::BuildList(0);
  ASSERT_EQ(tools::List2.ListCount(), 5u);
  EXPECT_EQ(tools::List2.List(0).substr(0, 8), "F000010 ");
  EXPECT_EQ(tools::DefragTarget, 4);
}

TEST_F(DefragTest, WorkListOrderAndMarks) {
  ib::DiskImage image(Spec(100));
  image.AddFile(File("\\DataFiles\\_tmp.rec", {4, 5}, 1));        // contiguous, "_"
  image.AddFile(File("\\DataFiles\\frag.rec", {6, 9}, 2));        // fragmented
  image.AddFile(File("\\DataFiles\\ok.rec", {7, 8}, 3));          // contiguous, compact
  image.AddFolder(ib::FolderSpec{"\\DataFiles\\Late", {}, 50, -1, ib::kAttrDirectory});
  image.AddFile(File("\\DataFiles\\far.rec", {30, 31}, 4));       // after the first free
  Load(image);
  tools::FirstPass = true;
  tools::BuildList(0);
  std::vector<std::string> lines;
  for (size_t k = 0; k < tools::List2.ListCount(); ++k) lines.push_back(tools::List2.List(k).substr(0, 7));
  // Folder first, then F files by start, then T.
  // The "_" file (earlier in the list) lowered the running target to 4, so
  // every later item starting above 4 is marked too, ok.rec included.
  EXPECT_EQ(lines, (std::vector<std::string>{"D000050", "F000006", "F000007", "F000030",
                                             "T000004"}));
  EXPECT_EQ(tools::DefragTarget, 4);
  // Not on a later pass: the "_" file is contiguous and inside the compact area.
  tools::FirstPass = false;
  tools::BuildList(0);
  EXPECT_EQ(tools::List2.ListCount(), 4u);
  EXPECT_EQ(tools::DefragTarget, 6);   // lowered to the fragmented file's start
  EXPECT_EQ(tools::WorkListLine('F', 12, 3, "\\x"), "F000012 0003 \\x");

  EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Completed);
  ExpectContiguous(ReadImageFiles(ImagePath()));
  ExpectPacked();
  ExpectConsistent();
}

TEST_F(DefragTest, AlreadyCompactDiskMovesNothingAndClearsFreeSpace) {
  ib::DiskImage image(Spec(60));
  image.AddFile(File("\\DataFiles\\a.rec", {4, 5, 6}, 1));
  Load(image);
  const auto before = ReadImageFiles(ImagePath());
  ib::ImageFile(ImagePath()).WriteClusterRaw(30, std::vector<uint8_t>(2068 * 512, 0x55));
  tools::FirstPass = true;
  tools::BuildList(0);
  EXPECT_TRUE(tools::List2.Empty());
  EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Completed);
  const auto after = ReadImageFiles(ImagePath());
  ExpectSameFiles(before, after);
  EXPECT_EQ(after.at("\\DataFiles\\a.rec").Chain, (std::vector<uint32_t>{4, 5, 6}));
  const auto cleared = ib::ImageFile(ImagePath()).ReadClusterRaw(30);
  EXPECT_EQ(std::count(cleared.begin(), cleared.end(), 0), long(cleared.size()));
}

TEST_F(DefragTest, CancelInTheMiddleLeavesAConsistentDisk) {
  const ib::DiskImage image = FragmentedImage();
  Load(image);
  const auto before = ReadImageFiles(ImagePath());
  ib::ImageFile(ImagePath()).WriteClusterRaw(71, std::vector<uint8_t>(2068 * 512, 0xAB));
  // Cancel once the third item is on its way (after a few committed items).
  int items = 0;
  tools::DefragHooks hooks;
  hooks.SetStatus = [&](int line, const std::string& t) {
    if (line == 0 && (t.rfind("Defragmenting ", 0) == 0 || t.rfind("Claiming", 0) == 0)) ++items;
  };
  tools::SetDefragHooks(hooks);
  int moves = 0;
  script.SetDoEventsHook([&](bool) {
    if (items >= 3 && ++moves == 3) transfer::CancelState = -1;
  });
  EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Cancelled);
  script.SetDoEventsHook(nullptr);
  const auto after = ReadImageFiles(ImagePath());
  ExpectSameFiles(before, after);
  ExpectConsistent();
  // No clearing after a cancel: the leftover is still there.
  const auto kept = ib::ImageFile(ImagePath()).ReadClusterRaw(71);
  EXPECT_EQ(kept[0], 0xAB);
  // The model in memory is the disk's FAT again.
  ib::ImageFile img(ImagePath());
  for (int32_t c = 0; c <= core::Disk[0].LastCluster; ++c) {
    const uint32_t v = img.FatEntry(uint32_t(c), 1);
    const int32_t next = core::Disk[0].FAT[size_t(c)].Next;
    EXPECT_EQ(next, v == ib::kFatFree ? 0 : v == ib::kFatEnd ? -1 : int32_t(v)) << c;
  }
  // A second run finishes the job.
  transfer::CancelState = 0;
  EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Completed);
  const auto done = ReadImageFiles(ImagePath());
  ExpectSameFiles(before, done);
  ExpectContiguous(done);
  ExpectPacked();
}

// A cluster that cannot be written (a disk opened read-only) or read (a bad
// sector in a file): the stop names the file and the system's reason.
class FailedClusterCopy : public DefragTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FailedClusterCopy, StopsWithoutRelinking) {
  const bool readFails = GetParam();
  const ib::DiskImage image = FragmentedImage();
  Load(image, /*writable=*/readFails);   // else every write fails
  std::optional<faults::SectorFaults> bad;
  const uint32_t firstData = 11 * uint32_t(core::Disk[0].SectorsPerCluster);
  if (readFails) bad.emplace().FailReadsWhere([&](uint32_t s, int32_t n) { return n > 1 && s >= firstData; });
  const std::string imageBefore = ib::ReadWholeFile(ImagePath());
  std::vector<std::string> status1;
  int emergencies = 0;
  tools::DefragHooks hooks;
  hooks.SetStatus = [&](int line, const std::string& t) {
    if (line == 1) status1.push_back(t);
  };
  hooks.EmergencyButtons = [&] { ++emergencies; };
  tools::SetDefragHooks(hooks);
  EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Emergency);
  EXPECT_EQ(emergencies, 1);
  ASSERT_EQ(status1.size(), 1u);
  EXPECT_EQ(status1[0].rfind("--- Couldn't copy cluster ", 0), 0u) << status1[0];
  EXPECT_NE(status1[0].find("! Exiting defrag! \\DataFiles\\"), std::string::npos) << status1[0];
  EXPECT_NE(status1[0].find(readFails ? ".rec: reading the cluster failed (Input/output error)"
                                      : ".rec: writing the cluster failed (Bad file descriptor)"),
            std::string::npos) << status1[0];
  EXPECT_TRUE(ib::ReadWholeFile(ImagePath()) == imageBefore);
  // Memory agrees with the disk again: a later clearing cannot hit a chain.
  ib::ImageFile img(ImagePath());
  for (int32_t c = 0; c <= core::Disk[0].LastCluster; ++c) {
    const uint32_t v = img.FatEntry(uint32_t(c), 1);
    EXPECT_EQ(core::Disk[0].FAT[size_t(c)].Next,
              v == ib::kFatFree ? 0 : v == ib::kFatEnd ? -1 : int32_t(v)) << c;
  }
}

INSTANTIATE_TEST_SUITE_P(WriteOrRead, FailedClusterCopy, ::testing::Bool());

TEST_F(DefragTest, ClearFreeWritesOnlyClustersFreeInMemoryAndOnDisk) {
  const ib::DiskImage image = FragmentedImage();
  Load(image);
  const auto before = ReadImageFiles(ImagePath());
  // The model calls a used cluster free (as after moves that were never
  // committed): it must not be cleared.
  core::Disk[0].FAT[19] = core::FatLink();
  ib::ImageFile(ImagePath()).WriteClusterRaw(81, std::vector<uint8_t>(2068 * 512, 0x77));
  const auto sys = ib::ImageFile(ImagePath()).ReadClusterRaw(0);
  EXPECT_TRUE(tools::ClearFree(0));
  ExpectSameFiles(before, ReadImageFiles(ImagePath()));
  EXPECT_TRUE(ib::ImageFile(ImagePath()).ReadClusterRaw(0) == sys);
  const auto cleared = ib::ImageFile(ImagePath()).ReadClusterRaw(81);
  EXPECT_EQ(std::count(cleared.begin(), cleared.end(), 0), long(cleared.size()));
}

TEST_F(DefragTest, ClearedClustersOfAnImageFileBecomeHoles) {
  const ib::DiskImage image = FragmentedImage();
  Load(image);
  const auto before = ReadImageFiles(ImagePath());
  const size_t clusterBytes = 2068 * 512;
  for (uint32_t c : {81u, 82u})
    ib::ImageFile(ImagePath()).WriteClusterRaw(c, std::vector<uint8_t>(clusterBytes, 0x77));
  auto blocks = [&] {
    struct stat st;
    return ::stat(ImagePath().c_str(), &st) == 0 ? int64_t(st.st_blocks) : -1;
  };
  const int64_t blocksBefore = blocks();
  EXPECT_TRUE(tools::ClearFree(0));
  ExpectSameFiles(before, ReadImageFiles(ImagePath()));
  for (uint32_t c : {81u, 82u}) {
    const auto cleared = ib::ImageFile(ImagePath()).ReadClusterRaw(c);
    EXPECT_EQ(std::count(cleared.begin(), cleared.end(), 0), long(cleared.size())) << c;
  }
  // Where the file system can punch holes, the image got smaller instead of
  // every free cluster being filled with zeros (the file system may keep a
  // partial block at each end of a cluster).
  const int fd = ::open(ImagePath().c_str(), O_RDWR);
  ASSERT_GE(fd, 3);
  const bool holes = platform::PunchHole(fd, uint64_t(99) * clusterBytes, clusterBytes);
  ::close(fd);
  if (holes) EXPECT_LE(blocks(), blocksBefore - int64_t(2 * clusterBytes / 512) + 4 * 8);
  // Not on a device that is no regular file.
  const int null = ::open("/dev/null", O_RDWR);
  EXPECT_FALSE(platform::PunchHole(null, 0, 512));
  ::close(null);
}

TEST_F(DefragTest, ClearFreeStopsOnCancel) {
  const ib::DiskImage image = FragmentedImage();
  Load(image);
  ib::ImageFile(ImagePath()).WriteClusterRaw(91, std::vector<uint8_t>(2068 * 512, 0x77));
  script.SetDoEventsHook([](bool) { transfer::CancelState = -1; });
  EXPECT_FALSE(tools::ClearFree(0));
  script.SetDoEventsHook(nullptr);
  EXPECT_EQ(ib::ImageFile(ImagePath()).ReadClusterRaw(91)[0], 0x77);
}

TEST_F(DefragTest, RefusesADiskThatIsNotFit) {
  {
    const ib::DiskImage image = FragmentedImage();
    Load(image);
    core::Flags &= ~core::FlagSide0Writable;
    script.ExpectMsgBox("writable recorder disk", ui::Answer::OK);
    EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Refused);
    core::Flags |= core::FlagSide0Writable;
    // A pending recovered entry.
    core::Disk[0].Files[size_t(core::Disk[0].FileCount - 1)].Recovered = true;
    script.ExpectMsgBox("recovered files", ui::Answer::OK);
    EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Refused);
    core::Disk[0].Files[size_t(core::Disk[0].FileCount - 1)].Recovered = false;
    // A model whose FAT differs from the disk's.
    core::Disk[0].FAT[70].Next = -1;
    script.ExpectMsgBox("", ui::Answer::OK);
    EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Refused);
    EXPECT_TRUE(script.AllAnswered());
    core::CloseDisk(core::Disk[0].Handle);
    core::Disk[0].Handle = 0;
  }
  // Two files sharing a cluster: nothing is written.
  const ib::DiskImage image = FragmentedImage();
  image.Write(ImagePath());
  {
    ib::ImageFile img(ImagePath());
    img.SetFatEntry(14, 15);   // b.rec runs into c.rec's last cluster
    img.SetFatEntry(15, ib::kFatEnd);
    img.RecomputeFatCrc(uint32_t(image.LastCluster()));
  }
  const std::string bytes = ib::ReadWholeFile(ImagePath());
  core::ResetState();
  core::Flags = core::FlagNormal | core::FlagWriteMode | core::FlagSide0Writable;
  core::DiskId[0] = 0;
  ASSERT_TRUE(core::InitTopf(0, "PhysicalDrive0", true));
  core::LoadTopf(0, true);
  script.ExpectMsgBox("", ui::Answer::OK);
  EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Refused);
  EXPECT_TRUE(ib::ReadWholeFile(ImagePath()) == bytes);
}

TEST_F(DefragTest, MoveAwayPutsTheWholeChainOnTheHighestFreeIndexesDescending) {
  ib::DiskImage image(Spec(100));
  image.AddFile(File("\\DataFiles\\three.rec", {20, 21, 22}, 7));
  Load(image);
  const auto before = ReadImageFiles(ImagePath());
  const int32_t last = core::Disk[0].LastCluster;
  tools::DefragDebugOn = true;
  // (The log is opened by a run; MoveAway alone writes nothing.)
  ASSERT_TRUE(tools::MoveAway(0, 21));   // from the middle of the chain
  const auto after = ReadImageFiles(ImagePath());
  ExpectSameFiles(before, after);
  const int32_t top = last - 51;
  EXPECT_EQ(after.at("\\DataFiles\\three.rec").Chain,
            (std::vector<uint32_t>{uint32_t(top), uint32_t(top - 1), uint32_t(top - 2)}));
  ExpectConsistent();
}

TEST_F(DefragTest, MoveAwayNeedsOneMoreFreeIndexThanTheChain) {
  // Free indexes from 10 to LastCluster - 51: exactly as many as the chain.
  ib::DiskImage image(Spec(100));
  const int32_t last = int32_t(image.LastCluster());
  image.AddFile(File("\\DataFiles\\two.rec", {4, 5}, 1));
  std::vector<uint32_t> filler;
  for (int32_t c = 6; c <= last - 51; ++c)
    if (c != 30 && c != 31) filler.push_back(uint32_t(c));
  image.AddLostChain(filler);
  Load(image);
  std::vector<std::string> status1;
  tools::DefragHooks hooks;
  hooks.SetStatus = [&](int line, const std::string& t) {
    if (line == 1) status1.push_back(t);
  };
  tools::SetDefragHooks(hooks);
  script.ExpectMsgBox(tools::kNotEnoughSpaceText, ui::Answer::OK);
  EXPECT_FALSE(tools::MoveAway(0, 4));
  ASSERT_EQ(status1.size(), 1u);
  EXPECT_EQ(status1[0], "--- Couldn't find enough free space to move data! Exiting defrag!");
  // A lost chain has no owner.
  status1.clear();
  EXPECT_FALSE(tools::MoveAway(0, 6));
  ASSERT_EQ(status1.size(), 1u);
  EXPECT_EQ(status1[0], "--- Index overflow in filelist search! Exiting defrag!");
}

TEST_F(DefragTest, LogIsWrittenOnlyWhenSwitchedOn) {
  {
    const ib::DiskImage image = FragmentedImage();
    Load(image);
    tools::DefragDebugOn = false;
    EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Completed);
    std::ifstream none(tools::DefragLogPath());
    EXPECT_FALSE(none.good());
    core::CloseDisk(core::Disk[0].Handle);
    core::ResetState();
  }
  // x.rec starts before the first free index and is fragmented: its chain
  // is moved away first, then placed.
  ib::DiskImage image(Spec(100));
  image.AddFile(File("\\DataFiles\\x.rec", {4, 6}, 1));
  image.AddFile(File("\\DataFiles\\y.rec", {5}, 2));
  Load(image);
  const auto before = ReadImageFiles(ImagePath());
  tools::DefragDebugOn = true;
  EXPECT_EQ(tools::DefragmentDisk(0), DefragOutcome::Completed);
  const std::string log = ib::ReadWholeFile(tools::DefragLogPath());
  EXPECT_NE(log.find("\r\n\r\n["), std::string::npos);
  EXPECT_NE(log.find("  claiming space by moving \\DataFiles\\x.rec\r\n"), std::string::npos);
  EXPECT_NE(log.find("    moving "), std::string::npos);
  EXPECT_NE(log.find("    setting Start="), std::string::npos);
  const auto after = ReadImageFiles(ImagePath());
  ExpectSameFiles(before, after);
  ExpectContiguous(after);
  ExpectPacked();
  EXPECT_NE(log.find("  Defrag.\r\n"), std::string::npos);
  EXPECT_NE(log.find("  moving "), std::string::npos);
  EXPECT_NE(log.find("  setting Start="), std::string::npos);
  EXPECT_NE(log.find(std::string(80, '-') + "\r\n"), std::string::npos);
}

TEST_F(DefragTest, FindPreviousFreeClusterNeverReturnsIndexZero) {
  ib::DiskImage image(Spec(40));
  Load(image);
  EXPECT_EQ(tools::FindPreviousFreeCluster(0, 11), 10);
  for (int32_t c = 1; c <= 10; ++c) core::Disk[0].FAT[size_t(c)].Next = -1;
  script.ExpectMsgBox(tools::kNotEnoughSpaceText, ui::Answer::OK);
  EXPECT_EQ(tools::FindPreviousFreeCluster(0, 11), 0);
  core::LoadTopfFAT(0);
}

}  // namespace
}  // namespace defragtest
