// The check program's disk and cluster layer on builder images and dumps:
// cluster-size estimates, reads, writes with their undo copies, dump records.
#include <filesystem>
#include <unistd.h>

#include "checker/disk_layer.h"
#include "layer_fixture.h"
#include "platform/platform.h"

namespace checkertest {
namespace {

using namespace checker;

class DiskLayerTest : public LayerTest {};

TEST_F(DiskLayerTest, InitTopfTakesTheDiskAndItsEstimates) {
  ib::DiskImage image;
  OpenImage(image);
  EXPECT_FALSE(FileMode);
  EXPECT_EQ(SectorsPerCluster, 2068);
  EXPECT_EQ(LastCluster, image.LastCluster());
  EXPECT_EQ(SpcFromSize, 2068);
  EXPECT_EQ(SpcFromSuperblock, 2068);
  EXPECT_EQ(SpcFromBackup, 2068);
  EXPECT_EQ(SpcFromDirScan, 2068);
  EXPECT_EQ(ClusterBuffer.size(), 2068u * 512u);
  ASSERT_TRUE(ReadTopfCluster(0));
  EXPECT_EQ(ClusterBuffer, image.SystemClusterView());
  ASSERT_TRUE(ReadTopfCluster(1));
  EXPECT_EQ(ClusterBuffer, image.FolderClusterView("\\"));
}

TEST_F(DiskLayerTest, DiskSizeVoteFollowsTheThresholds) {
  ib::ImageSpec spec;
  spec.SectorsPerCluster = 2444;
  spec.SizeBytes = 140ull << 30;
  ib::DiskImage image(spec);
  OpenImage(image);
  EXPECT_EQ(SpcFromSize, 2444);
  EXPECT_EQ(SectorsPerCluster, 2444);
  EXPECT_EQ(SpcFromDirScan, 2444);

  ResetDiskState();
  SessionPrefix = MakeSessionPrefix();
  ib::ImageSpec exact;
  exact.SizeBytes = 130ull << 30;   // not above 130 GiB
  OpenImage(ib::DiskImage(exact), "exact.img");
  EXPECT_EQ(SpcFromSize, 2068);
}

TEST_F(DiskLayerTest, ReadOutsideTheDiskGivesZerosAndFalse) {
  ib::DiskImage image;   // long enough to hold the cluster of the last FAT index
  OpenImage(image);
  ASSERT_TRUE(ReadTopfCluster(1));
  EXPECT_TRUE(ReadTopfCluster(LastCluster + 1));
  EXPECT_FALSE(ReadTopfCluster(LastCluster + 2));
  EXPECT_EQ(ClusterBuffer, std::vector<uint8_t>(ClusterBuffer.size(), 0));
  EXPECT_FALSE(ReadTopfCluster(-1));
}

TEST_F(DiskLayerTest, UndoCopiesKeepFirstContentAndLastWrite) {
  ib::DiskImage image;
  const std::string path = OpenImage(image);
  const int32_t c = 3;   // DataFiles, FAT index 2
  const std::vector<uint8_t> before = image.FolderClusterView("\\DataFiles");

  ASSERT_TRUE(ReadTopfCluster(c));
  ClusterBuffer[200] = 0x11;
  const std::vector<uint8_t> first = ClusterBuffer;
  ASSERT_TRUE(WriteTopfCluster(c, false));
  EXPECT_EQ(ClusterBuffer, first) << "the caller's buffer is in view order again";
  ClusterBuffer[300] = 0x22;
  const std::vector<uint8_t> second = ClusterBuffer;
  ASSERT_TRUE(WriteTopfCluster(c, false));

  EXPECT_EQ(OriginalClusterFile(c), "20240305 1407 - Cluster_000002_Original.bin");
  EXPECT_EQ(FixedClusterFile(c), "20240305 1407 - Cluster_000002_Fixed.bin");
  EXPECT_EQ(Bytes(ib::ReadWholeFile(Path(OriginalClusterFile(c)))), before);
  EXPECT_EQ(Bytes(ib::ReadWholeFile(Path(FixedClusterFile(c)))), second);
  ib::ImageFile file(path);
  EXPECT_EQ(file.ReadClusterView(c), second);
}

TEST_F(DiskLayerTest, SystemClusterWriteStoresTheFatCrcAndItsUndoName) {
  ib::DiskImage image;
  const std::string path = OpenImage(image);
  ASSERT_TRUE(ReadTopfCluster(0));
  // Damage the CRC in the buffer; the write recomputes it.
  ClusterBuffer[48] ^= 0xFF;
  ClusterBuffer[0x20000 + 3 * 700 + 2] = 0xFE;   // change one FAT entry
  ASSERT_TRUE(WriteTopfCluster(0, true));
  ib::ImageFile file(path);
  const uint32_t crc = file.ComputeFatCrc(uint32_t(LastCluster));
  EXPECT_EQ(file.SuperU32(ib::kSbFatCrc), crc);
  EXPECT_EQ(file.SuperU32(ib::kSbFatCrc, true), crc);
  EXPECT_TRUE(Exists(Path("20240305 1407 - Cluster_-000001_Original.bin")));
  EXPECT_TRUE(Exists(Path("20240305 1407 - Cluster_-000001_Fixed.bin")));
  EXPECT_EQ(Bytes(ib::ReadWholeFile(Path(OriginalClusterFile(0)))), image.SystemClusterView());
}

TEST_F(DiskLayerTest, UnauthorisedSystemWriteIsAnEmergencyStop) {
  ib::DiskImage image;
  OpenImage(image);
  ASSERT_TRUE(ReadTopfCluster(0));
  ui_.ExpectMsgBox("Something has freaked out and tried an unauthorized write to the system area! "
                   "Emergency stop!",
                   ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  EXPECT_THROW(WriteTopfCluster(0, false), ui::ProgramEnded);
  EXPECT_FALSE(Exists(Path(OriginalClusterFile(0))));
}

TEST_F(DiskLayerTest, ClusterWhoseReadFailedIsNeverWritten) {
  ib::DiskImage image;
  const std::string path = OpenImage(image);
  // The image ends before the last cluster: it cannot be read, sector 0 can.
  const int32_t c = LastCluster;
  const int64_t cut = int64_t(c) * SectorsPerCluster * 512 + 4096;
  std::filesystem::resize_file(path, cut);
  EXPECT_FALSE(ReadTopfCluster(c));
  ClusterBuffer[0] = 0xD1;   // a step "repairs" the zeroed buffer
  EXPECT_FALSE(WriteTopfCluster(c, false));
  EXPECT_EQ(platform::FileLength(path), cut);
  EXPECT_FALSE(Exists(Path(OriginalClusterFile(c))));
  EXPECT_FALSE(Exists(Path(FixedClusterFile(c))));

  // A buffer filled from elsewhere still needs the cluster to be readable
  // for its undo copy.
  MarkClusterBufferLoaded();
  EXPECT_FALSE(WriteTopfCluster(c, false));
  EXPECT_EQ(platform::FileLength(path), cut);
}

TEST_F(DiskLayerTest, DumpReadsAndAppendsRecords) {
  ib::DiskImage image;
  image.AddFolder("\\DataFiles\\Films");
  const std::string base = OpenDump(image);
  EXPECT_TRUE(FileMode);
  EXPECT_EQ(SectorsPerCluster, 2068);
  EXPECT_EQ(LastCluster, image.LastCluster());
  ASSERT_TRUE(ReadTopfCluster(0));
  EXPECT_EQ(ClusterBuffer, image.SystemClusterView());
  const uint32_t films = image.FolderIndex("\\DataFiles\\Films");
  ASSERT_TRUE(ReadTopfCluster(int32_t(films) + 1));
  EXPECT_EQ(ClusterBuffer, image.FolderClusterView("\\DataFiles\\Films"));

  // A cluster the dump lacks: false, and a write appends it.
  const int32_t missing = 40;
  EXPECT_FALSE(ReadTopfCluster(missing));
  const int64_t before = platform::FileLength(base + ".scd");
  std::fill(ClusterBuffer.begin(), ClusterBuffer.end(), uint8_t(0x5A));
  MarkClusterBufferLoaded();
  ASSERT_TRUE(WriteTopfCluster(missing, false));
  EXPECT_EQ(platform::FileLength(base + ".scd"), before + 4 + 2068 * 512);
  const std::string scd = ib::ReadWholeFile(base + ".scd");
  EXPECT_EQ(uint8_t(scd[size_t(before)]), 39) << "numbered with its FAT index";
  ASSERT_TRUE(ReadTopfCluster(missing));
  EXPECT_EQ(ClusterBuffer, std::vector<uint8_t>(ClusterBuffer.size(), 0x5A));
  // The undo copy of a cluster that was not in the dump holds zeros.
  EXPECT_EQ(Bytes(ib::ReadWholeFile(Path(OriginalClusterFile(missing)))),
            std::vector<uint8_t>(ClusterBuffer.size(), 0));

  // Opened again, the dump knows the appended record.
  ResetDiskState();
  SessionPrefix = MakeSessionPrefix();
  FileMode = true;
  InitTopf(base);
  ASSERT_TRUE(ReadTopfCluster(missing));
  EXPECT_EQ(ClusterBuffer[17], 0x5A);
}

TEST_F(DiskLayerTest, DamagedDumpRecordsAreNotIndexed) {
  ib::DiskImage image;
  const std::string base = Path("dump");
  image.WriteDump(base);
  std::string scd = ib::ReadWholeFile(base + ".scd");
  const size_t record = 4 + 2068 * 512;
  ASSERT_GE(scd.size(), 2 * record);
  // First record: a number outside the FAT; and a last record cut short.
  scd[0] = char(0xFF); scd[1] = char(0xFF); scd[2] = char(0x7F); scd[3] = 0;
  std::string cut(4, '\0');
  cut[0] = 9;
  scd += cut + std::string(100, 'x');
  ib::WriteWholeFile(base + ".scd", scd);
  FileMode = true;
  InitTopf(base);
  EXPECT_FALSE(ReadTopfCluster(10)) << "the record cut short is not used";
  int indexed = 0;
  for (int64_t v : ScdIndex) indexed += v != 0;
  EXPECT_EQ(indexed, int(scd.size() / record) - 1);
}

TEST_F(DiskLayerTest, DumpWithoutUsableClusterSizeIsRefused) {
  ib::WriteWholeFile(Path("tiny.scc"), std::string(100, '\0'));
  FileMode = true;
  ui_.ExpectMsgBox("Unable to open the disk!", ui::Answer::OK);
  EXPECT_THROW(InitTopf(Path("tiny")), ui::ProgramEnded);
}

// A dump is held to the same test as a disk: one whose superblocks carry
// neither the magic number nor the identification is changed only after a
// Yes, asked once per opened dump.
TEST_F(DiskLayerTest, DumpWithoutRecorderSuperblocksIsWrittenOnlyAfterYes) {
  const std::string base = OpenDump(ib::DiskImage());
  std::string scc = ib::ReadWholeFile(base + ".scc");
  ib::WriteWholeFile(base + ".scc", std::string(1024, '\x5A') + scc.substr(1024));
  for (ui::Answer answer : {ui::Answer::No, ui::Answer::Yes}) {
    InitTopf(base);
    EXPECT_EQ(ForeignContent, "unknown data");
    ui_.ExpectMsgBox("The dump " + base + ".scc does not look like a recorder disk", answer);
    ASSERT_TRUE(ReadTopfCluster(0));
    EXPECT_EQ(WriteTopfCluster(0, true), answer == ui::Answer::Yes);
    EXPECT_EQ(WriteTopfCluster(0, true), answer == ui::Answer::Yes) << "asked once";
    EXPECT_EQ(Exists(OriginalClusterFile(0)), answer == ui::Answer::Yes);
  }
}

TEST_F(DiskLayerTest, MissingDriveEndsTheProgram) {
  ui_.ExpectMsgBox("Unable to open the disk!", ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  FileMode = false;
  EXPECT_THROW(InitTopf(Path("no-such-disk")), ui::ProgramEnded);
}

TEST_F(DiskLayerTest, SuperblockClusterSizeZeroFallsBackToAnEstimate) {
  ib::DiskImage image;
  const std::string path = Path("disk.img");
  image.Write(path);
  {
    ib::ImageFile file(path, 2068);
    file.SetSuperU16(ib::kSbSectorsPerCluster, 0, true, false);
  }
  FileMode = false;
  InitTopf(path);
  EXPECT_EQ(SpcFromSuperblock, 0);
  EXPECT_EQ(SectorsPerCluster, 2068);
  EXPECT_EQ(LastCluster, image.LastCluster());
}

TEST_F(DiskLayerTest, SectorReadsInBothModes) {
  ib::DiskImage image;
  OpenImage(image);
  const int32_t spc = SectorsPerCluster;
  SectorsPerCluster = 1;
  ReadTopfSector(0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&SectorBuffer[4]), 4), "TOPF");
  ReadTopfSector(spc);   // the root's first sector
  EXPECT_EQ(SectorBuffer[0], 0xF1);
  SectorsPerCluster = spc;

  ResetDiskState();
  OpenDump(image);
  ReadTopfSector(1);
  EXPECT_EQ(SectorBuffer[0], 0xF1);
  ReadTopfSector(77);
  EXPECT_EQ(SectorBuffer, (std::array<uint8_t, 512>{}));
}

TEST(FileSizeToStringTest, UnitsAndDecimals) {
  EXPECT_EQ(FileSizeToString(512, 2), "512  B");
  EXPECT_EQ(FileSizeToString(1024, 2), "1024  B");
  EXPECT_EQ(FileSizeToString(1536, 2), "1.50 kB");
  EXPECT_EQ(FileSizeToString(2068.0 * 512, 2), "1.01 MB");
  EXPECT_EQ(FileSizeToString(3.0 * 1024 * 1024 * 1024, 1), "3.0 GB");
  EXPECT_EQ(FileSizeToString(1536, 0), "2 kB");
  EXPECT_EQ(FileSizeToString(5e15, 1), "4547.5 TB");
}

TEST(ClusterFileNameTest, FatIndexSixDigits) {
  EXPECT_EQ(ClusterFileStem(-1), "Cluster_-000001");
  EXPECT_EQ(ClusterFileStem(0), "Cluster_000000");
  EXPECT_EQ(ClusterFileStem(123456), "Cluster_123456");
  EXPECT_EQ(ClusterFileStem(1234567), "Cluster_1234567");
  EXPECT_EQ(ClusterFileStem(INT32_MIN), "Cluster_-2147483648");
}

}  // namespace
}  // namespace checkertest
