// Damaged and hostile images load (and dump) without crash or hang.
#include <filesystem>

#include "core/cluster_io.h"
#include "core/dumps.h"
#include "core/side_file.h"
#include "platform/platform.h"
#include "core/fat_write.h"
#include "tests/core/disk_fixture.h"
#include "tests/support/sector_faults.h"

namespace {

using namespace imagebuilder;
using disktest::DiskTest;

class DamagedTest : public DiskTest {
 protected:
  DiskImage Image() {
    DiskImage img;
    img.AddFolder("\\DataFiles\\A");
    img.AddFolder("\\DataFiles\\A\\B");
    FileSpec f;
    f.Path = "\\DataFiles\\A\\film.rec";
    f.Size = 2 * img.ClusterBytes();
    img.AddFile(f);
    return img;
  }
  void SetStart(ImageFile& raw, uint32_t folder, int slot, uint32_t start) {
    std::vector<uint8_t> s = raw.ReadSlot(folder, slot);
    PutBE32(s.data() + 8, start);
    raw.WriteSlot(folder, slot, s);
  }
};

TEST_F(DamagedTest, DirectoryLoopEnds) {
  DiskImage img = Image();
  WriteImage(img, 0);
  const uint32_t a = img.FolderIndex("\\DataFiles\\A");
  {
    ImageFile raw(DrivePath(0));
    // \DataFiles\A\B points back to \DataFiles, and a second entry to A itself.
    SetStart(raw, a, img.Entry("\\DataFiles\\A\\B").Slot, 2);
    std::vector<uint8_t> self = raw.ReadSlot(a, img.Entry("\\DataFiles\\A\\B").Slot);
    PutBE32(self.data() + 8, a);
    self[20] = 'C';
    raw.WriteSlot(a, 5, self);
    std::vector<uint8_t> dot = raw.ReadSlot(a, 0);
    PutBE32(dot.data() + 16, uint32_t(raw.ClusterBytes() - 6 * 128));
    raw.WriteSlot(a, 0, dot);
  }
  ASSERT_TRUE(OpenAndLoad(0, 0));
  EXPECT_NE(Find(0, "\\DataFiles\\A\\B"), nullptr);
  EXPECT_NE(Find(0, "\\DataFiles\\A\\C"), nullptr);
  EXPECT_EQ(Find(0, "\\DataFiles\\A\\B\\A"), nullptr);
  EXPECT_LT(core::Disk[0].FileCount, 20);

  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/loop"));
  // root, recycle, DataFiles, ProgramFiles, A: each once.
  EXPECT_EQ(platform::FileLength(Folder() + "/loop.scd"), 5 * (2068 * 512 + 4));
}

TEST_F(DamagedTest, FatCycleAndWildLinks) {
  DiskImage img = Image();
  WriteImage(img, 0);
  const uint32_t first = img.Entry("\\DataFiles\\A\\film.rec").Chain[0];
  {
    ImageFile raw(DrivePath(0));
    raw.SetFatEntry(first + 1, first);        // the chain runs back to its head
    raw.SetFatEntry(700, 700);                // a link to itself
    raw.SetFatEntry(701, 0x123456);           // invalid values read as free
    raw.SetFatEntry(702, 0x000000);
  }
  ASSERT_TRUE(OpenAndLoad(0, 0));
  const core::DiskRec& d = core::Disk[0];
  EXPECT_EQ(d.FAT[first + 1].Next, int32_t(first));
  EXPECT_EQ(d.FAT[first].Prev, int32_t(first + 1));
  EXPECT_EQ(d.FAT[700].Prev, 700);
  EXPECT_EQ(d.FAT[701].Next, 0);
  EXPECT_EQ(d.FAT[702].Next, 0);
  EXPECT_GT(core::FSGetFreeSpace(0), 0);
}

TEST_F(DamagedTest, StartClustersOutOfRange) {
  DiskImage img = Image();
  FileSpec g;
  g.Path = "\\DataFiles\\A\\other.rec";
  g.Size = 1000;
  img.AddFile(g);
  WriteImage(img, 0);
  const uint32_t a = img.FolderIndex("\\DataFiles\\A");
  const int64_t last = img.LastCluster();
  {
    ImageFile raw(DrivePath(0));
    SetStart(raw, a, img.Entry("\\DataFiles\\A\\film.rec").Slot, 0xFFFFFFF0u);
    SetStart(raw, a, img.Entry("\\DataFiles\\A\\other.rec").Slot, 0x7FFFFFF0u);
    SetStart(raw, a, img.Entry("\\DataFiles\\A\\B").Slot, uint32_t(last + 5));
  }
  script.ExpectMsgBox("Damaged subdirectory '\\DataFiles\\A\\B\\'", ui::Answer::OK);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(Find(0, "\\DataFiles\\A\\film.rec"), nullptr);
  EXPECT_EQ(Find(0, "\\DataFiles\\A\\other.rec"), nullptr);
  ASSERT_NE(Find(0, "\\DataFiles\\A\\B"), nullptr);
  EXPECT_FALSE(core::ReadTopfCluster(0, int32_t(last + 6)));
}

TEST_F(DamagedTest, UnusableClusterSizes) {
  for (uint16_t spc : {uint16_t(0), uint16_t(100), uint16_t(0x8000), uint16_t(0xFFFF)}) {
    SCOPED_TRACE(spc);
    WriteImage(Image(), 0);
    {
      ImageFile raw(DrivePath(0), 2068);
      raw.SetSuperU16(34, spc);
    }
    script.ExpectMsgBox("gives an unusable cluster size", ui::Answer::OK);
    ASSERT_TRUE(Open(0, 0));
    EXPECT_FALSE(core::LoadTopf(0, true));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(core::Disk[0].FileCount, 0);
    EXPECT_FALSE(core::ReadTopfCluster(0, 1));
    core::ClusterBuffer.assign(2068 * 512, 0);
    EXPECT_FALSE(core::WriteTopfCluster(0, 1, false));
  }
}

TEST_F(DamagedTest, NameWithoutTerminator) {
  DiskImage img = Image();
  WriteImage(img, 0);
  const uint32_t a = img.FolderIndex("\\DataFiles\\A");
  {
    ImageFile raw(DrivePath(0));
    const int slot = img.Entry("\\DataFiles\\A\\film.rec").Slot;
    std::vector<uint8_t> s = raw.ReadSlot(a, slot);
    for (int i = 20; i < 120; ++i) s[size_t(i)] = 'N';
    s[21] = 0x09;   // a control byte is left out
    raw.WriteSlot(a, slot, s);
  }
  ASSERT_TRUE(OpenAndLoad(0, 0));
  EXPECT_NE(Find(0, "\\DataFiles\\A\\" + std::string(96, 'N')), nullptr);
}

TEST_F(DamagedTest, TruncatedImages) {
  DiskImage img = Image();
  WriteImage(img, 0);
  // One and a half clusters: the superblock is there, no whole cluster beyond it.
  std::filesystem::resize_file(DrivePath(0), 3 * 2068 * 256);
  script.ExpectMsgBox("Damaged subdirectory '\\'; Cluster 0", ui::Answer::OK);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::Disk[0].FileCount, 0);

  // Less than one cylinder, down to half a cluster where not even the system
  // cluster can be read: the load goes on to the damaged root all the same,
  // and the disk takes no write.
  for (int64_t bytes : {int64_t(2068) * 256, int64_t(16064) * 512}) {
    SCOPED_TRACE(bytes);
    WriteImage(img, 1);
    std::filesystem::resize_file(DrivePath(1), bytes);
    script.ExpectMsgBox("Damaged subdirectory '\\'; Cluster 0", ui::Answer::OK);
    ASSERT_TRUE(Open(1, 1));
    EXPECT_TRUE(core::LoadTopf(1, true));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(core::Disk[1].FileCount, 0);
    EXPECT_LT(core::Disk[1].LastCluster, 1);
    const std::string before = ReadWholeFile(DrivePath(1));
    core::ClusterBuffer.assign(2068 * 512, 0);
    EXPECT_FALSE(core::WriteTopfCluster(1, 0, true));
    EXPECT_FALSE(core::WriteTopfCluster(1, 1, false));
    EXPECT_EQ(ReadWholeFile(DrivePath(1)), before);
  }

  // Cut inside the data area: the directories before the cut load.
  DiskImage far;
  far.AddFolder("\\DataFiles\\A", 600);
  WriteImage(far, 2);
  std::filesystem::resize_file(DrivePath(2), int64_t(601) * 2068 * 512 + 4096);
  script.ExpectMsgBox("Damaged subdirectory '\\DataFiles\\A\\'; Cluster 600", ui::Answer::OK);
  ASSERT_TRUE(OpenAndLoad(0, 2));
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_NE(Find(0, "\\DataFiles\\A"), nullptr);
}

TEST_F(DamagedTest, UnreadableSystemClusterLeavesTheSideWithoutWrites) {
  DiskImage other;
  other.AddFolder("\\DataFiles\\Other", 30);
  WriteImage(other, 1);
  WriteImage(Image(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 1));   // the disk the pane showed before
  auto written = [&] {   // the clusters the writes below aim at
    ImageFile raw(DrivePath(0));
    return std::pair{raw.ReadClusterRaw(0), raw.ReadClusterRaw(1)};
  };
  const auto before = written();
  {
    // The backup superblock fails to read: the disk loads, says so, takes no write.
    faults::SectorFaults f;
    f.FailReadsWhere([](uint32_t first, int32_t count) { return first <= 1 && first + count > 1; });
    ASSERT_TRUE(Open(0, 0));
    script.ExpectMsgBox("These parts could not be read:\r\nthe backup superblock", ui::Answer::OK);
    EXPECT_TRUE(core::LoadTopf(0, true));
    EXPECT_TRUE(script.AllAnswered());
  }
  // Neither the FAT of the disk shown before nor any other goes to this disk.
  core::Disk[0].FAT[40].Next = -1;
  EXPECT_FALSE(core::UpdateTopfFAT(0));
  core::ClusterBuffer.assign(2068 * 512, 0);
  EXPECT_FALSE(core::WriteTopfCluster(0, 1, false));
  EXPECT_TRUE(written() == before);
  ASSERT_TRUE(core::LoadTopf(0, true));
  EXPECT_NE(Find(0, "\\DataFiles\\A\\film.rec"), nullptr);
}

}  // namespace
