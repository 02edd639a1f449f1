// The transfer buffer: streaming between a recorder disk and the PC and
// between two recorder disks, the cluster placement on a recorder target, the
// system-area stop, a full disk, and checked PC reads.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"
#include "tests/transfer/transfer_fixture.h"

namespace {

using namespace transfertest;
using transfer::FSDataBufferFlush;
using transfer::FSDataBufferRead;
using transfer::FSDataBufferWrite;

std::string PatternText(uint32_t seed, uint64_t size) {
  std::string s(size_t(size), '\0');
  for (uint64_t o = 0; o < size; ++o) s[size_t(o)] = char(ib::PatternByte(seed, o));
  return s;
}

// FAT1 equals FAT2 for 0..last, UsedClusters counts the used entries, and the
// stored CRC is the CRC of the FAT as it is on the image.
void ExpectSystemClusterConsistent(const ib::ImageFile& image, uint32_t last) {
  uint32_t used = 0;
  for (uint32_t i = 0; i <= last; ++i) {
    ASSERT_EQ(image.FatEntry(i, 1), image.FatEntry(i, 2)) << "FAT index " << i;
    if (image.FatEntry(i, 1) != ib::kFatFree) ++used;
  }
  EXPECT_EQ(image.SuperU32(ib::kSbUsedClusters), used);
  EXPECT_EQ(image.SuperU32(ib::kSbUsedClusters, true), used);
  EXPECT_EQ(image.SuperU32(ib::kSbFatCrc), image.ComputeFatCrc(last));
}

class BufferTest : public TransferTest {};

TEST_F(BufferTest, GeneratorFollowsTheUnseededSequence) {
  const double expected[] = {0.7055475, 0.533424, 0.5795186, 0.2895625, 0.301948,
                             0.7747401, 0.01401764, 0.7607236, 0.81449, 0.7090379};
  for (double e : expected) EXPECT_NEAR(transfer::RandomNext(), e, 1e-6);
  transfer::ResetRandom();
  const int steps[] = {8, 6, 7, 4, 4, 9, 1, 9, 9, 8};
  for (int s : steps) EXPECT_EQ(transfer::InterleaveStep(), s);
}

TEST_F(BufferTest, PcToRecorderToPcComesBackByteForByte) {
  ib::DiskImage model(Spec(2068, 60));
  const uint64_t cb = model.ClusterBytes();
  ib::FileSpec blocker;   // leaves 4 free indexes, then one in use
  blocker.Path = "\\DataFiles\\blocker.rec";
  blocker.Size = 1000;
  blocker.StartIndex = 10;
  model.AddFile(blocker);
  ib::FileSpec low;
  low.Path = "\\DataFiles\\low.rec";
  low.Size = 2 * cb;
  low.StartIndex = 4;
  model.AddFile(low);
  LoadRecorder(model, 0, 0);

  const uint64_t size = 4 * cb + 1000;   // five clusters
  const std::string data = PatternText(7, size);
  ib::WriteWholeFile(Pc() + "show.rec", data);
  LoadPc(1);
  const int pcEntry = IndexOf(1, Pc() + "show.rec");
  ASSERT_GE(pcEntry, 0);
  ASSERT_EQ(core::Disk[1].Files[size_t(pcEntry)].ClusterCount, 5);

  Copy(1, pcEntry, transfer::FSTargetPath(1, pcEntry, Pc(), "\\DataFiles\\"));
  EXPECT_EQ(core::Disk[0].OpenFile.FreeHint, 6);

  {
    ib::ImageFile image(DrivePath(0));
    ib::DecodedEntry e;
    ASSERT_TRUE(FindEntry(image, 2, "show.rec", e));
    EXPECT_EQ(e.Attribute, ib::kAttrRecording);
    EXPECT_EQ(e.StartCluster, 6u);
    EXPECT_EQ(ib::SizeFromFields(e.ClusterCount, e.FreeBytes, e.LastSectorBytes, 2068), size);
    // Lowest free index, contiguous while free, the in-use index skipped.
    EXPECT_EQ(ImageChain(image, 6), (std::vector<uint32_t>{6, 7, 8, 9, 11}));
    ExpectSystemClusterConsistent(image, uint32_t(core::Disk[0].LastCluster));
    // The disk holds every 32-bit word byte-reversed.
    const std::vector<uint8_t> raw = image.ReadRaw(7 * cb, 8);
    EXPECT_EQ(raw[0], uint8_t(data[3]));
    EXPECT_EQ(raw[3], uint8_t(data[0]));
    EXPECT_EQ(raw[4], uint8_t(data[7]));
    EXPECT_EQ(ImageFileBytes(image, 6, size), data);
  }

  // And back to another PC folder: exactly the bytes, exactly the size.
  core::InvalidateSideCache(0);
  ASSERT_TRUE(core::LoadTopf(0, true));
  const int recEntry = IndexOf(0, "\\DataFiles\\show.rec");
  ASSERT_GE(recEntry, 0);
  const std::string back = transfer::FSTargetPath(0, recEntry, "\\DataFiles\\", Pc() + "back/");
  EXPECT_EQ(back, Pc() + "back/show.rec");
  ASSERT_TRUE(platform::MakePath(Pc() + "back"));   // the job makes its folders first
  Copy(0, recEntry, back);
  EXPECT_EQ(ib::ReadWholeFile(back), data);
}

TEST_F(BufferTest, InterleavedLayoutIsTheSameInEveryRun) {
  auto run = [&](int n) {
    ib::DiskImage model(Spec(2068, 120));
    LoadRecorder(model, 0, n);
    const uint64_t size = 5 * model.ClusterBytes() + 10;   // six clusters
    ib::WriteWholeFile(Pc() + "i.rec", PatternText(3, size));
    LoadPc(1);
    transfer::BadlyInterleavedFiles = true;
    transfer::ResetRandom();
    const int entry = IndexOf(1, Pc() + "i.rec");
    Copy(1, entry, "\\DataFiles\\i.rec");
    ib::ImageFile image(DrivePath(n));
    ib::DecodedEntry e;
    EXPECT_TRUE(FindEntry(image, 2, "i.rec", e));
    EXPECT_EQ(ImageFileBytes(image, e.StartCluster, size), PatternText(3, size));
    ExpectSystemClusterConsistent(image, uint32_t(core::Disk[0].LastCluster));
    return ImageChain(image, e.StartCluster);
  };
  const std::vector<uint32_t> first = run(0);
  // First cluster at FreeHint (4) although a step is drawn; then 6, 7, 4, 4;
  // the last piece with step 1.
  EXPECT_EQ(first, (std::vector<uint32_t>{4, 10, 17, 21, 25, 26}));
  EXPECT_EQ(run(1), first);
}

TEST_F(BufferTest, RecorderToRecorderKeepsByteOrderAcrossClusterSizes) {
  ib::DiskImage big(Spec(4512, 30));
  ib::FileSpec film;
  film.Path = "\\DataFiles\\film.rec";
  // Two 4512-sector clusters: the second read leaves 2.36 target clusters
  // for the final flush.
  film.Size = 2 * big.ClusterBytes() - 1000;
  film.Data = ib::Content::Pattern(11);
  big.AddFile(film);
  LoadRecorder(big, 0, 0);
  ib::DiskImage small(Spec(2068, 60));
  LoadRecorder(small, 1, 1);

  const int entry = IndexOf(0, "\\DataFiles\\film.rec");
  ASSERT_GE(entry, 0);
  Copy(0, entry, transfer::FSTargetPath(0, entry, "\\DataFiles\\", "\\DataFiles\\"));

  ib::ImageFile source(DrivePath(0));
  ib::ImageFile target(DrivePath(1));
  ib::DecodedEntry e;
  ASSERT_TRUE(FindEntry(target, 2, "film.rec", e));
  // 4,619,288 bytes need 5 clusters of 2068 sectors: nothing lost.
  EXPECT_EQ(ImageChain(target, e.StartCluster).size(), 5u);
  EXPECT_EQ(ImageFileBytes(target, e.StartCluster, *film.Size), big.FileBytes(film.Path));
  // Not reversed: the raw bytes on both disks are the same.
  const uint32_t srcFirst = big.Entry(film.Path).Chain[0];
  EXPECT_EQ(target.ReadClusterRaw(e.StartCluster + 1),
            source.ReadRaw(uint64_t(srcFirst + 1) * big.ClusterBytes(), size_t(small.ClusterBytes())));
  ExpectSystemClusterConsistent(target, uint32_t(core::Disk[1].LastCluster));
}

TEST_F(BufferTest, FreeIndexBelowThreeStopsWithNothingWritten) {
  ib::DiskImage model(Spec(2068, 40));
  model.Write(DrivePath(0));
  {
    ib::ImageFile image(DrivePath(0));
    image.SetFatEntry(1, ib::kFatFree);   // damaged: the recycle folder's index reads free
    image.RecomputeFatCrc(uint32_t(model.LastCluster()));
  }
  core::DiskId[0] = 0;
  ASSERT_TRUE(core::InitTopf(0, "PhysicalDrive0", true));
  ASSERT_TRUE(core::LoadTopf(0, true));
  ib::WriteWholeFile(Pc() + "a.rec", PatternText(1, 3000));
  LoadPc(1);
  const std::string before = ib::ReadWholeFile(DrivePath(0));

  core::FSOpenFile(1, IndexOf(1, Pc() + "a.rec"), false);
  ASSERT_TRUE(transfer::FSCreateFile(0, "\\DataFiles\\a.rec"));
  EXPECT_EQ(core::Disk[0].OpenFile.FreeHint, 1);
  ASSERT_TRUE(FSDataBufferRead(1));
  core::DataBufferFill = 3000;
  script.ExpectMsgBox("Veldranoth/Write tried to write file data into the system area! Bailing out!",
                      ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  try {
    FSDataBufferFlush(0);
    FAIL() << "no emergency stop";
  } catch (const ui::ProgramEnded& end) {
    EXPECT_EQ(end.Status, ui::kExitEmergency);
  }
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(script.Prompts().back().IconShown, ui::Icon::Exclamation);
  EXPECT_EQ(core::Disk[1].Handle, 0);   // both sides' files closed
  EXPECT_EQ(core::Disk[0].FAT[1].Next, 0);
  EXPECT_EQ(ib::ReadWholeFile(DrivePath(0)), before);
}

TEST_F(BufferTest, FullDiskFailsWithoutLinkingOrWritingBeyondLastCluster) {
  ib::DiskImage model(Spec(2068, 40));
  LoadRecorder(model, 0, 0);
  core::DiskRec& d = core::Disk[0];
  const int32_t last = d.LastCluster;
  // Only the indexes last - 1 and last are free.
  for (int32_t i = 0; i <= last - 2; ++i)
    if (d.FAT[size_t(i)].Next == 0) d.FAT[size_t(i)].Next = -1;
  const uint64_t cb = model.ClusterBytes();
  ib::WriteWholeFile(Pc() + "big.rec", PatternText(2, 3 * cb));
  LoadPc(1);
  const std::string before = ib::ReadWholeFile(DrivePath(0));

  core::FSOpenFile(1, IndexOf(1, Pc() + "big.rec"), false);
  ASSERT_TRUE(transfer::FSCreateFile(0, "\\DataFiles\\big.rec"));
  EXPECT_EQ(d.OpenFile.FreeHint, last - 1);
  ASSERT_TRUE(FSDataBufferRead(1));
  ASSERT_TRUE(FSDataBufferWrite(0));
  ASSERT_TRUE(FSDataBufferRead(1));
  ASSERT_TRUE(FSDataBufferWrite(0));
  ASSERT_TRUE(FSDataBufferRead(1));
  core::DataBufferFill = int32_t(cb);
  EXPECT_FALSE(FSDataBufferFlush(0));   // no third cluster
  EXPECT_EQ(d.FAT[size_t(last - 1)].Next, last);
  EXPECT_EQ(d.FAT[size_t(last)].Next, -1);
  for (size_t i = size_t(last) + 1; i < d.FAT.size(); ++i) ASSERT_EQ(d.FAT[i].Next, 0) << i;
  // The image did not grow and nothing was written beyond disk cluster last + 1.
  const std::string after = ib::ReadWholeFile(DrivePath(0));
  ASSERT_EQ(after.size(), before.size());
  const size_t end = size_t(last + 2) * cb;
  EXPECT_EQ(after.compare(end, std::string::npos, before, end, std::string::npos), 0);

  transfer::FSDiscardNewChain(0);
  EXPECT_EQ(d.FAT[size_t(last - 1)].Next, 0);
  EXPECT_EQ(d.FAT[size_t(last)].Next, 0);
  core::FSCloseFile(1);
}

TEST_F(BufferTest, ShortPcReadFails) {
  ib::DiskImage model(Spec(2068, 40));
  LoadRecorder(model, 0, 0);
  const uint64_t cb = model.ClusterBytes();
  ib::WriteWholeFile(Pc() + "s.rec", PatternText(5, cb + 100));
  LoadPc(1);
  const int entry = IndexOf(1, Pc() + "s.rec");
  core::FSOpenFile(1, entry, false);
  ASSERT_EQ(truncate((Pc() + "s.rec").c_str(), off_t(cb + 50)), 0);   // shrank while copied
  EXPECT_TRUE(FSDataBufferRead(1));
  EXPECT_FALSE(FSDataBufferRead(1));   // 50 of the 100 bytes are missing
  core::FSCloseFile(1);
}

TEST_F(BufferTest, WriteKeepsTheRestAtTheFrontAndFlushOfNothingCountsNothing) {
  const uint64_t cb = 2068 * 512;
  ib::WriteWholeFile(Pc() + "src.bin", PatternText(9, 2 * cb));
  LoadPc(0);   // PC to PC, both with the recorder's cluster size
  core::DiskId[1] = 1;
  core::Disk[0].SectorsPerCluster = 2068;
  core::Disk[1].SectorsPerCluster = 2068;
  const int entry = IndexOf(0, Pc() + "src.bin");
  core::FSOpenFile(0, entry, false);
  ASSERT_TRUE(transfer::FSCreateFile(1, Pc() + "out.bin"));
  ASSERT_TRUE(FSDataBufferRead(0));
  core::DataBufferFill = int32_t(cb + cb / 2);   // one and a half clusters held
  std::memset(core::DataBuffer.data() + cb, 0xAB, size_t(cb / 2));
  ASSERT_TRUE(FSDataBufferWrite(1));
  EXPECT_EQ(core::DataBufferFill, int32_t(cb / 2));
  EXPECT_EQ(core::DataBuffer[0], 0xAB);
  EXPECT_EQ(core::DataBuffer[size_t(cb / 2) - 1], 0xAB);
  EXPECT_EQ(core::Disk[1].OpenFile.ClustersDone, 1);
  core::DataBufferFill = 0;
  EXPECT_TRUE(FSDataBufferFlush(1));
  EXPECT_EQ(core::Disk[1].OpenFile.ClustersDone, 1);
  core::FSCloseFile(0);
  core::FSCloseFile(1);
  EXPECT_EQ(ib::ReadWholeFile(Pc() + "out.bin"), PatternText(9, cb));
}

}  // namespace
