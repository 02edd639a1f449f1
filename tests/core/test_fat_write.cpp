// FAT write-back, chain freeing and the backup-CRC trailer.
#include "core/fat_write.h"

#include "tests/core/writer_fixture.h"

namespace writertest {
namespace {

class FatWrite : public WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    ib::DiskImage model(SmallSpec());
    model.AddFile([] {
      ib::FileSpec f;
      f.Path = "\\DataFiles\\a.rec";
      f.Size = 3 * 2068 * 512;
      f.Chain = {7, 8, 9};
      return f;
    }());
    Load(model);
  }
  bool CrcMatches() {
    return Image().SuperU32(ib::kSbFatCrc) == Image().ComputeFatCrc(uint32_t(Last())) &&
           Image().SuperU32(ib::kSbFatCrc, true) == Image().ComputeFatCrc(uint32_t(Last()));
  }
  auto& FAT() { return core::Disk[0].FAT; }
};

TEST_F(FatWrite, UpdateWritesBothFatsUsedCountAndCrc) {
  FAT()[5].Next = 6;
  FAT()[6].Next = -1;
  FAT()[6].Prev = 5;
  const auto memory = FAT();
  ASSERT_TRUE(core::UpdateTopfFAT(0));

  EXPECT_EQ(View(0, 0x2000F, 6), Bytes({0x00, 0x00, 0x06, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(View(0, 0x8000F, 6), Bytes({0x00, 0x00, 0x06, 0xFF, 0xFF, 0xFE}));
  // Root, recycle, DataFiles, ProgramFiles, a.rec (3) and the new chain (2).
  EXPECT_EQ(Image().SuperU32(ib::kSbUsedClusters), 9u);
  EXPECT_EQ(Image().SuperU32(ib::kSbUsedClusters, true), 9u);
  EXPECT_TRUE(CrcMatches());
  for (size_t i = 0; i < memory.size(); ++i) {
    ASSERT_EQ(FAT()[i].Next, memory[i].Next) << i;
    ASSERT_EQ(FAT()[i].Prev, memory[i].Prev) << i;
  }
}

TEST_F(FatWrite, LinkValuesAndUsedCountOfRootOnly) {
  for (auto& link : FAT()) link = core::FatLink();
  FAT()[0].Next = -1;
  FAT()[12].Next = 0x1FFFF;
  ASSERT_TRUE(core::UpdateTopfFAT(0));
  EXPECT_EQ(View(0, 0x20000 + 3 * 12, 3), Bytes({0x01, 0xFF, 0xFF}));
  EXPECT_EQ(Image().SuperU32(ib::kSbUsedClusters), 2u);
  FAT()[12].Next = 0;
  ASSERT_TRUE(core::UpdateTopfFAT(0));
  EXPECT_EQ(Image().SuperU32(ib::kSbUsedClusters), 1u);
  EXPECT_EQ(Image().FatEntry(12, 1), ib::kFatFree);
  EXPECT_EQ(Image().FatEntry(12, 2), ib::kFatFree);
}

TEST_F(FatWrite, EntriesBeyondLastClusterKeepTheirBytes) {
  const uint32_t beyond = uint32_t(Last()) + 1;
  Image().SetFatEntry(beyond, 0x000123, true, false);
  Image().SetFatEntry(beyond, 0x000456, false, true);
  core::InvalidateSideCache(0);
  FAT()[beyond].Next = 77;   // never written: beyond LastCluster
  ASSERT_TRUE(core::UpdateTopfFAT(0));
  EXPECT_EQ(Image().FatEntry(beyond, 1), 0x000123u);
  EXPECT_EQ(Image().FatEntry(beyond, 2), 0x000456u);
}

TEST_F(FatWrite, UpdateWithAnUnreadableSystemClusterWritesNothing) {
  const auto before = Snapshot();
  core::InvalidateSideCache(0);
  core::DeviceSectors[0] = 0;   // every cluster now lies beyond the device
  FAT()[20].Next = -1;
  EXPECT_FALSE(core::UpdateTopfFAT(0));
  EXPECT_FALSE(core::FSKillFATChain(0, 7));
  EXPECT_EQ(FAT()[7].Next, 8);   // nothing freed in memory either
  EXPECT_FALSE(core::CopyBackupCRC(0));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(FatWrite, KillChainFreesDiskAndMemoryButKeepsUsedCount) {
  const uint32_t used = Image().SuperU32(ib::kSbUsedClusters);
  ASSERT_TRUE(core::FSKillFATChain(0, 7));
  for (uint32_t i : {7u, 8u, 9u}) {
    EXPECT_EQ(Image().FatEntry(i, 1), ib::kFatFree) << i;
    EXPECT_EQ(Image().FatEntry(i, 2), ib::kFatFree) << i;
    EXPECT_EQ(FAT()[i].Next, 0);
    EXPECT_EQ(FAT()[i].Prev, 0);
  }
  EXPECT_EQ(Image().SuperU32(ib::kSbUsedClusters), used);
  EXPECT_TRUE(CrcMatches());
}

TEST_F(FatWrite, KillChainOfRootChangesNoFatEntry) {
  const auto before = View(0, 0x20000, 3 * 64);
  const auto before2 = View(0, 0x80000, 3 * 64);
  ASSERT_TRUE(core::FSKillFATChain(0, 0));
  EXPECT_EQ(View(0, 0x20000, 3 * 64), before);
  EXPECT_EQ(View(0, 0x80000, 3 * 64), before2);
  EXPECT_EQ(FAT()[0].Next, -1);
}

TEST_F(FatWrite, KillChainEndsOnCircleAndOnLinksBeyondTheDisk) {
  FAT()[9].Next = 7;   // 7 -> 8 -> 9 -> 7
  ASSERT_TRUE(core::FSKillFATChain(0, 7));
  EXPECT_EQ(FAT()[7].Next, 0);
  EXPECT_EQ(FAT()[9].Next, 0);

  const uint32_t beyond = uint32_t(Last()) + 5;
  Image().SetFatEntry(beyond, 0x000042);
  core::InvalidateSideCache(0);
  FAT()[20].Next = int32_t(beyond);
  FAT()[beyond].Next = -1;
  ASSERT_TRUE(core::FSKillFATChain(0, 20));
  EXPECT_EQ(FAT()[beyond].Next, 0);
  EXPECT_EQ(Image().FatEntry(beyond, 1), 0x000042u);   // beyond LastCluster: untouched
}

TEST_F(FatWrite, CopyBackupCrcWritesTheTrailer) {
  const uint64_t c = 2068ull * 512;
  const auto crc = View(0, 48, 4);
  ASSERT_TRUE(core::CopyBackupCRC(0));
  EXPECT_EQ(View(0, c - 8, 4), Bytes({0x46, 0x69, 0x72, 0x65}));
  EXPECT_EQ(View(0, c - 4, 4), crc);
  EXPECT_EQ(core::Disk[0].BackupCrcId, core::CrcIdText(ib::GetBE32(crc.data())));
  EXPECT_EQ(View(0, 48, 4), crc);   // the FAT has not changed
}

}  // namespace
}  // namespace writertest
