// Cluster and sector I/O: cache, guards, range checks, failures, CRC; the
// cluster-size search and estimate; opening sides; the disk probe.
#include <filesystem>
#include <unistd.h>

#include "core/cluster_io.h"
#include "core/disk_io.h"
#include "core/disk_probe.h"
#include "core/pc_helpers.h"
#include "platform/platform.h"
#include "tests/core/disk_fixture.h"
#include "tests/support/sector_faults.h"

namespace {

using namespace imagebuilder;
using disktest::DiskTest;

class ClusterIoTest : public DiskTest {
 protected:
  // A small disk (about 20 clusters) so whole-image comparisons stay cheap.
  DiskImage SmallImage(uint32_t spc = 2068) {
    ImageSpec spec;
    spec.SectorsPerCluster = spc;
    spec.LastCluster = 20;
    DiskImage img(spec);
    img.AddFolder("\\DataFiles\\Sub");
    return img;
  }
  std::string LogText() {
    const std::string path = core::IODebugLogFile();
    return platform::FileLength(path) >= 0 ? ReadWholeFile(path) : std::string();
  }
};

TEST_F(ClusterIoTest, SecondReadIsServedByTheCache) {
  WriteImage(SmallImage(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  core::IODebug = true;
  core::InvalidateSideCache(0);
  const uint64_t before = core::SectorReadCalls;
  ASSERT_TRUE(core::ReadTopfCluster(0, 3));
  EXPECT_EQ(core::SectorReadCalls, before + 1);
  const std::vector<uint8_t> first = core::ClusterBuffer;
  ASSERT_TRUE(core::ReadTopfCluster(0, 3));
  EXPECT_EQ(core::SectorReadCalls, before + 1);
  EXPECT_EQ(core::ClusterBuffer, first);
  EXPECT_EQ(first[0], core::AttrSelf);   // the view: DataFiles' "." entry
  EXPECT_NE(LogText().find("ReadTopfCluster  0 000003/2068 served by the cache"),
            std::string::npos);
  // Clusters from 6 on are never cached.
  ASSERT_TRUE(core::ReadTopfCluster(0, 6));
  ASSERT_TRUE(core::ReadTopfCluster(0, 6));
  EXPECT_EQ(core::SectorReadCalls, before + 3);
}

TEST_F(ClusterIoTest, ClustersPastTheDiskAreRefusedWithoutDeviceAccess) {
  WriteImage(SmallImage(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  core::IODebug = true;
  const int32_t last = core::Disk[0].LastCluster;
  const uint64_t reads = core::SectorReadCalls, writes = core::SectorWriteCalls;
  const int64_t size = platform::FileLength(DrivePath(0));

  EXPECT_FALSE(core::ReadTopfCluster(0, last + 2));
  EXPECT_EQ(core::SectorReadCalls, reads);
  ASSERT_EQ(core::ClusterBuffer.size(), 2068u * 512);
  EXPECT_TRUE(std::all_of(core::ClusterBuffer.begin(), core::ClusterBuffer.end(),
                          [](uint8_t b) { return b == 0; }));
  EXPECT_NE(LogText().find("failed because Cluster>LastCluster (" + std::to_string(last) + ")"),
            std::string::npos);
  EXPECT_FALSE(core::ReadTopfCluster(0, -1));

  // FAT index LastCluster (disk cluster LastCluster + 1) only when it lies
  // wholly on the device.
  const bool onDevice = int64_t(last + 2) * 2068 * 512 <= size;
  EXPECT_EQ(core::ReadTopfCluster(0, last + 1), onDevice);

  core::ClusterBuffer.assign(2068 * 512, 0x5A);
  EXPECT_FALSE(core::WriteTopfCluster(0, last + 2, false));
  EXPECT_FALSE(core::WriteTopfCluster(0, 0x7FFFFFFF, false));
  EXPECT_EQ(core::SectorWriteCalls, writes);
  EXPECT_EQ(platform::FileLength(DrivePath(0)), size);
}

TEST_F(ClusterIoTest, UnauthorisedSystemClusterWriteIsAnEmergencyStop) {
  WriteImage(SmallImage(), 0);
  const std::string before = ReadWholeFile(DrivePath(0));
  ASSERT_TRUE(OpenAndLoad(0, 0));
  ASSERT_TRUE(core::ReadTopfCluster(0, 0));
  core::ClusterBuffer[100] ^= 0xFF;
  script.ExpectMsgBox(
      "Something has freaked out and tried an unauthorized write to the system area! "
      "Emergency stop!",
      ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  try {
    core::WriteTopfCluster(0, 0, false);
    FAIL() << "the program went on";
  } catch (const ui::ProgramEnded& end) {
    EXPECT_NE(end.Status, 0);
  }
  EXPECT_EQ(script.Prompts().back().IconShown, ui::Icon::Critical);
  EXPECT_EQ(ReadWholeFile(DrivePath(0)), before);
}

TEST_F(ClusterIoTest, SystemClusterWriteRefreshesTheCrc) {
  DiskImage img = SmallImage();
  WriteImage(img, 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  ASSERT_TRUE(core::ReadTopfCluster(0, 0));
  uint8_t* b = core::ClusterBuffer.data();
  b[0x20000 + 3 * 15 + 2] = 0x33;   // change FAT1 entry 15
  ASSERT_TRUE(core::WriteTopfCluster(0, 0, true));
  ImageFile raw(DrivePath(0));
  const uint32_t crc = raw.ComputeFatCrc(uint32_t(core::Disk[0].LastCluster));
  EXPECT_EQ(raw.SuperU32(48), crc);
  EXPECT_EQ(raw.SuperU32(48, true), crc);
  EXPECT_EQ(core::GetTopfLong(48), int32_t(crc));
  EXPECT_EQ(core::GetTopfLong(560), int32_t(crc));
  EXPECT_EQ(raw.FatEntry(15) & 0xFF, 0x33u);
  // The cache holds the written image.
  const uint64_t reads = core::SectorReadCalls;
  ASSERT_TRUE(core::ReadTopfCluster(0, 0));
  EXPECT_EQ(core::SectorReadCalls, reads);
  EXPECT_EQ(core::GetTopfLong(48), int32_t(crc));
}

TEST_F(ClusterIoTest, WritesRefreshBothSidesOfOneDisk) {
  WriteImage(SmallImage(), 2);
  ASSERT_TRUE(OpenAndLoad(0, 2));
  ASSERT_TRUE(Open(1, 2));
  core::LoadTopf(1, false);
  ASSERT_TRUE(core::ReadTopfCluster(0, 1));
  core::ClusterBuffer[200] = 0x77;
  ASSERT_TRUE(core::WriteTopfCluster(0, 1, false));
  const uint64_t reads = core::SectorReadCalls;
  ASSERT_TRUE(core::ReadTopfCluster(1, 1));
  EXPECT_EQ(core::SectorReadCalls, reads);
  EXPECT_EQ(core::ClusterBuffer[200], 0x77);
  ImageFile raw(DrivePath(2));
  EXPECT_EQ(raw.ReadClusterView(1)[200], 0x77);
}

TEST_F(ClusterIoTest, FailedWriteInvalidatesTheCache) {
  WriteImage(SmallImage(), 0);
  core::DiskId[0] = 0;
  ASSERT_TRUE(core::InitTopf(0, Drive(0), false));   // read-only: writes fail
  ASSERT_TRUE(core::LoadTopf(0, true));
  ASSERT_TRUE(core::ReadTopfCluster(0, 2));
  const uint8_t old = core::ClusterBuffer[300];
  core::ClusterBuffer[300] = uint8_t(old ^ 0xFF);
  EXPECT_FALSE(core::WriteTopfCluster(0, 2, false));
  EXPECT_EQ(core::ClusterBuffer[300], uint8_t(old ^ 0xFF));   // the buffer is the view again
  const uint64_t reads = core::SectorReadCalls;
  ASSERT_TRUE(core::ReadTopfCluster(0, 2));
  EXPECT_EQ(core::SectorReadCalls, reads + 1);   // not served by a stale slot
  EXPECT_EQ(core::ClusterBuffer[300], old);
}

TEST_F(ClusterIoTest, DirectSectorWritesInvalidateTheCache) {
  WriteImage(SmallImage(), 1);
  ASSERT_TRUE(OpenAndLoad(0, 1));
  ASSERT_TRUE(Open(1, 1));
  core::LoadTopf(1, false);
  ASSERT_TRUE(core::ReadTopfCluster(0, 5));
  ASSERT_TRUE(core::ReadTopfCluster(1, 5));
  std::vector<uint8_t> data(512, 0xAB);
  const uint32_t sector = 5 * 2068 + 10;
  ASSERT_EQ(core::WriteSectors(core::Disk[0].Handle, sector, 1, data.data()), 1);
  core::InvalidateCachedSectors(0, sector, 1);
  EXPECT_FALSE(core::ClusterCache[0][5].Valid);
  EXPECT_FALSE(core::ClusterCache[1][5].Valid);
  ASSERT_TRUE(core::ReadTopfCluster(1, 5));
  EXPECT_EQ(core::ClusterBuffer[10 * 512], 0xAB);
  // Sectors of other clusters leave the slot alone.
  ASSERT_TRUE(core::ReadTopfCluster(0, 4));
  core::InvalidateCachedSectors(0, 5 * 2068, 2068);
  EXPECT_TRUE(core::ClusterCache[0][4].Valid);
}

TEST_F(ClusterIoTest, FailedReadWithLiveLinkReturnsZeros) {
  WriteImage(SmallImage(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  // The device shrinks under the program: cluster 7 can no longer be read.
  std::filesystem::resize_file(DrivePath(0), int64_t(7) * 2068 * 512);
  EXPECT_FALSE(core::ReadTopfCluster(0, 7));
  ASSERT_EQ(core::ClusterBuffer.size(), 2068u * 512);
  EXPECT_TRUE(std::all_of(core::ClusterBuffer.begin(), core::ClusterBuffer.end(),
                          [](uint8_t b) { return b == 0; }));
}

TEST_F(ClusterIoTest, SectorFaultsFailChosenTransfersAndReplayACut) {
  const DiskImage img = SmallImage();
  WriteImage(img, 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  faults::SectorFaults f;
  f.FailReadsWhere([](uint32_t first, int32_t) { return first == 7u * 2068; });
  f.FailWritesAfter(1);
  EXPECT_FALSE(core::ReadTopfCluster(0, 7));   // sector 0 still reads: the link lives
  ASSERT_TRUE(core::ReadTopfCluster(0, 8));
  core::ClusterBuffer[0] ^= 0xFF;
  EXPECT_TRUE(core::WriteTopfCluster(0, 8, false));
  EXPECT_FALSE(core::WriteTopfCluster(0, 9, false));   // after the cut
  ASSERT_EQ(f.Writes().size(), 1u);
  EXPECT_EQ(f.FailedWrites(), 1u);
  // Replaying the recorded write on the image as it was gives the disk now.
  const std::string copy = Folder() + "/replay.img";
  img.Write(copy);
  faults::ApplyWrites(copy, f.Writes(), f.Writes().size());
  EXPECT_EQ(ReadWholeFile(copy), ReadWholeFile(DrivePath(0)));
}

// A copy reads the cluster the caller names as next while it writes; the
// next copy takes it only when it copies that very cluster and nothing else
// was written in between, and a failed read ahead is read (and fails) again.
TEST_F(ClusterIoTest, CopyReadsTheNextClusterAheadButNeverServesItStale) {
  enum class Between { Nothing, WriteThatCluster, WriteElsewhere, CopyAnother, FailItsRead };
  struct Case {
    Between between;
    bool copied;
    uint8_t expected;   // first byte of cluster 10 afterwards
    uint64_t reads;     // device reads admitted for both copies
  };
  const Case cases[] = {
      {Between::Nothing, true, 9, 2},          {Between::WriteThatCluster, true, 0x99, 3},
      {Between::WriteElsewhere, true, 9, 3},   {Between::CopyAnother, true, 9, 4},
      {Between::FailItsRead, false, 10, 4},   // and the link probe
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.between));
    WriteImage(SmallImage(), 0);
    ASSERT_TRUE(OpenAndLoad(0, 0));
    for (int32_t k = 7; k <= 12; ++k) {
      core::ClusterBuffer.assign(2068u * 512, uint8_t(k));
      ASSERT_TRUE(core::WriteTopfCluster(0, k, false));
    }
    faults::SectorFaults f;
    if (c.between == Between::FailItsRead)
      f.FailReadsWhere([](uint32_t first, int32_t) { return first == 9u * 2068; });
    ASSERT_TRUE(core::CopyTopfCluster(0, 7, 8, false, 9));
    if (c.between == Between::WriteThatCluster || c.between == Between::WriteElsewhere) {
      core::ClusterBuffer.assign(2068u * 512, 0x99);
      ASSERT_TRUE(core::WriteTopfCluster(0, c.between == Between::WriteThatCluster ? 9 : 12, false));
    }
    if (c.between == Between::CopyAnother) ASSERT_TRUE(core::CopyTopfCluster(0, 11, 12, false));
    EXPECT_EQ(core::CopyTopfCluster(0, 9, 10, false), c.copied);
    EXPECT_EQ(f.Reads(), c.reads);
    ASSERT_TRUE(core::ReadTopfCluster(0, 10));
    EXPECT_EQ(core::ClusterBuffer[0], c.expected);
    EXPECT_EQ(core::ClusterBuffer[2068u * 512 - 1], c.expected);
    testenv::CloseDisksAndReset();
  }
}

TEST_F(ClusterIoTest, LostLinkEndsTheProgram) {
  WriteImage(SmallImage(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  core::CloseDisk(core::Disk[0].Handle);
  core::Disk[0].Handle = -1;
  core::InvalidateSideCache(0);
  script.ExpectMsgBox("Quenbrix has lost the link to the hard drive! Terminating now!",
                      ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  EXPECT_THROW(core::ReadTopfCluster(0, 3), ui::ProgramEnded);
  EXPECT_TRUE(script.AllAnswered());
}

TEST_F(ClusterIoTest, FieldRoutines) {
  core::ClusterBuffer.assign(16, 0);
  core::ClusterBuffer[0] = 0x08;
  core::ClusterBuffer[1] = 0x14;
  core::ClusterBuffer[2] = 0xF0;
  core::ClusterBuffer[3] = 0x00;
  EXPECT_EQ(core::GetTopfWord(0), 2068);
  EXPECT_EQ(core::GetTopfWord(2), -4096);
  core::SetTopfLong(4, 0x07082607);
  EXPECT_EQ(core::ClusterBuffer[4], 0x07);
  EXPECT_EQ(core::ClusterBuffer[5], 0x08);
  EXPECT_EQ(core::ClusterBuffer[6], 0x26);
  EXPECT_EQ(core::ClusterBuffer[7], 0x07);
  EXPECT_EQ(core::GetTopfLong(4), 0x07082607);
  EXPECT_THROW(core::GetTopfLong(13), core::RuntimeError);
  EXPECT_THROW(core::SetTopfLong(-1, 0), core::RuntimeError);
}

TEST_F(ClusterIoTest, ScanFindsTheFirstDirectory) {
  WriteImage(SmallImage(2068), 0);
  ImageSpec spec;
  spec.SectorsPerCluster = 2444;
  spec.LastCluster = 10;
  WriteImage(DiskImage(spec), 1);
  ASSERT_TRUE(Open(0, 0));
  ASSERT_TRUE(Open(1, 1));
  core::Disk[0].SectorsPerCluster = 1234;
  core::Disk[1].SectorsPerCluster = 4321;
  EXPECT_EQ(core::ScanForClusterSize(0), 2068);
  EXPECT_EQ(core::ScanForClusterSize(1), 2444);
  EXPECT_EQ(core::GuessClusterSize(1), 2444);
  EXPECT_EQ(core::Disk[0].SectorsPerCluster, 1234);
  EXPECT_EQ(core::Disk[1].SectorsPerCluster, 4321);

  // The first match ends the scan, even one that gives no size: a "." entry
  // of FAT index 100 at sector 10 rounds to 0, and the disk's size decides.
  {
    ImageFile raw(DrivePath(1));
    std::vector<uint8_t> dot(512, 0);
    dot[0] = 0xF1;
    PutBE32(dot.data() + 8, 100);
    dot[20] = '.';
    raw.WriteView(10 * 512, dot);
  }
  core::InvalidateSideCache(1);
  EXPECT_EQ(core::ScanForClusterSize(1), 0);
  EXPECT_EQ(core::GuessClusterSize(1), 2068);
}

TEST_F(ClusterIoTest, GuessFallsBackOnTheDiskSize) {
  EXPECT_EQ(core::ClusterSizeForDiskBytes(120034123776.0), 2068);
  EXPECT_EQ(core::ClusterSizeForDiskBytes(160041885696.0), 2444);
  EXPECT_EQ(core::ClusterSizeForDiskBytes(250059350016.0), 3760);
  EXPECT_EQ(core::ClusterSizeForDiskBytes(300069052416.0), 4512);
  EXPECT_EQ(core::ClusterSizeForDiskBytes(139586437120.0), 2068);
  EXPECT_EQ(core::ClusterSizeForDiskBytes(0), 2068);

  // No "." entry in the first 18,801 sectors: the size decides.
  ImageSpec spec;
  spec.SizeBytes = 160041885696ULL;
  spec.StandardFolders = false;
  DiskImage img(spec);
  WriteImage(img, 0);
  {
    ImageFile raw(DrivePath(0));
    raw.WriteRaw(2068 * 512, std::vector<uint8_t>(512, 0));   // the root's "__ROOT__" slot
  }
  ASSERT_TRUE(Open(0, 0));
  EXPECT_EQ(core::ScanForClusterSize(0), -1);
  EXPECT_EQ(core::GuessClusterSize(0), 2444);
}

TEST_F(ClusterIoTest, OpeningSides) {
  WriteImage(SmallImage(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  ASSERT_TRUE(Open(1, 0));
  core::LoadTopf(1, false);
  ASSERT_TRUE(core::ReadTopfCluster(1, 1));
  ASSERT_TRUE(core::ReadTopfCluster(0, 1));
  // Opening side 0 again leaves side 1's slots valid.
  ASSERT_TRUE(core::InitTopf(0, Drive(0), true));
  EXPECT_FALSE(core::ClusterCache[0][1].Valid);
  EXPECT_TRUE(core::ClusterCache[1][1].Valid);

  core::IODebug = true;
  core::DiskId[1] = -7;
  EXPECT_FALSE(core::InitTopf(1, Drive(7), true));
  EXPECT_LT(core::Disk[1].Handle, 1);
  const std::string log = LogText();
  EXPECT_NE(log.find("OpenDisk           failed to opened \\\\.\\PhysicalDrive7, ErrorCode="),
            std::string::npos);
  EXPECT_NE(log.find("InitTopf         1 Failed to open disk PhysicalDrive7, ErrorCode= "),
            std::string::npos);
  // A PC file goes through the same open and is logged with the same prefix.
  const std::string pc = Folder() + "/pc.bin";
  WriteWholeFile(pc, std::string(512, 'p'));
  const int32_t handle = core::OpenDisk(pc, false);
  ASSERT_GE(handle, 1);
  core::CloseDisk(handle);
  EXPECT_NE(LogText().find("OpenDisk           successfully opened \\\\.\\" + pc + ", Handle="),
            std::string::npos);
}

TEST_F(ClusterIoTest, ProbeListsImagesAsTopfieldDisks) {
  WriteImage(SmallImage(), 0);
  WriteImage(SmallImage(), 3);
  WriteWholeFile(DrivePath(1), std::string(4096, 'x'));   // not a recorder disk
  ImageSpec other;
  other.IdString = "TOPFIELD PVR HDD";
  other.LastCluster = 5;
  WriteImage(DiskImage(other), 4);

  core::FSShowDisks();
  ASSERT_GE(core::ChooserEntries[0].size(), 2u);
  ASSERT_EQ(core::ChooserEntries[0].size(), 2u);
  EXPECT_EQ(core::ChooserEntries[0][0].Text, "Topfield Disk, Drive 0");
  EXPECT_EQ(core::ChooserEntries[0][0].DiskId, 0);
  EXPECT_EQ(core::ChooserEntries[0][1].Text, "Topfield Disk, Drive 3");
  EXPECT_EQ(core::ChooserEntries[0][1].DiskId, -3);
  for (const core::ChooserEntry& e : core::ChooserEntries[1]) EXPECT_GT(e.DiskId, 0);

  core::Flags |= core::FlagWriteMode;
  core::FSShowDisks();
  ASSERT_GE(core::ChooserEntries[1].size(), 2u);
  EXPECT_EQ(core::ChooserEntries[1][0].Text, "Topfield Disk, Drive 0");
  EXPECT_EQ(core::ChooserEntries[1][1].DiskId, -3);

  core::Flags = core::FlagFileMode;
  core::FSShowDisks();
  EXPECT_TRUE(core::ChooserEntries[0].empty());
}

TEST(PcDriveEntries, LabelInBracketsOnlyWhenThereIsOne) {
  struct Case {
    core::PcDrive Drive;
    const char* Text;
  };
  const Case cases[] = {
      {{1, "/", 3, "ext4", ""}, "/"},
      {{2, "/mnt/usb/", 3, "vfat", "STICK"}, "/mnt/usb  [STICK]"},
      {{3, "/net/films/", 4, "nfs", "server:/films"}, "/net/films  [Network: server:/films]"},
  };
  for (const Case& c : cases) EXPECT_EQ(core::PCDriveEntryText(c.Drive), c.Text);
}

}  // namespace
