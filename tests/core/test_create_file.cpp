// Creating files and subfolders: the entry bytes, the parent's "." count,
// the FATs after the write-back, the new folder's cluster, replacement of an
// older entry, and the refusals.
#include "core/create_file.h"

#include "core/erase.h"
#include "core/fat_write.h"
#include "tests/core/writer_fixture.h"

namespace writertest {
namespace {

constexpr uint64_t kClusterBytes = 2068ull * 512;

class CreateFile : public WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    ib::DiskImage model(SmallSpec(30));
    model.AddFolder("\\DataFiles\\Films");
    ib::FileSpec f;
    f.Path = "\\DataFiles\\film.rec";
    f.Size = 2 * kClusterBytes;
    f.Chain = {10, 11};
    model.AddFile(f);
    Load(model);
  }
  auto& FAT() { return core::Disk[0].FAT; }
  // Links a new chain in memory, as the copy job does.
  void Link(std::vector<int32_t> chain) {
    for (size_t k = 0; k < chain.size(); ++k) {
      FAT()[size_t(chain[k])].Next = k + 1 < chain.size() ? chain[k + 1] : -1;
      FAT()[size_t(chain[k])].Prev = k ? chain[k - 1] : 0;
    }
  }
  ib::DecodedEntry Slot(uint32_t folder, int slot) {
    auto bytes = Image().ReadSlot(folder, slot);
    return ib::DecodeEntry(bytes.data());
  }
  double Date(int y, int mo, int d, int h, int mi, int s) {
    return core::DateValue(y, mo, d, h, mi, s);
  }
  int HighestUsedSlot(uint32_t folder) {
    auto view = Image().ReadClusterView(folder + 1);
    int k = 0;
    for (size_t s = 0; s < view.size() / 128; ++s)
      if (view[s * 128] < 0xFF) k = int(s);
    return k;
  }
};

TEST_F(CreateFile, MillionByteRecordingMatchesTheWorkedExample) {
  const int before = core::Disk[0].FileCount;
  const uint32_t used = Image().SuperU32(ib::kSbUsedClusters);
  Link({20});
  ASSERT_TRUE(core::CreateTopfFile(0, "\\DataFiles\\Film2.rec", false, 1000000,
                                   Date(2000, 1, 1, 20, 15, 30), 20));
  ASSERT_TRUE(core::UpdateTopfFAT(0));

  const core::FileRec& r = core::Disk[0].Files[size_t(before)];
  const int slot = r.Slot;
  auto raw = Image().ReadSlot(2, slot);
  EXPECT_EQ(raw[0], 0xD1);
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 1, raw.begin() + 6),
            Bytes({0xC9, 0x58, 0x14, 0x0F, 0x1E}));
  EXPECT_EQ(ib::GetBE32(&raw[8]), 20u);
  EXPECT_EQ(ib::GetBE32(&raw[12]), 1u);
  EXPECT_EQ(ib::GetBE32(&raw[16]), 58368u);
  EXPECT_EQ(ib::GetBE16(&raw[126]), 64u);
  EXPECT_EQ(raw[125], 65);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&raw[20])), "Film2.rec");
  for (int i : {6, 7, 120, 121, 122, 123, 124}) EXPECT_EQ(raw[size_t(i)], 0) << i;
  for (size_t i = 20 + 9; i < 120; ++i) ASSERT_EQ(raw[i], 0) << i;

  // Parent's "." count, FATs, used count, CRC.
  EXPECT_EQ(ViewU32(3, 16), uint32_t(kClusterBytes - 128 * (HighestUsedSlot(2) + 1)));
  EXPECT_EQ(Image().FatEntry(20, 1), ib::kFatEnd);
  EXPECT_EQ(Image().FatEntry(20, 2), ib::kFatEnd);
  EXPECT_EQ(Image().SuperU32(ib::kSbUsedClusters), used + 1);
  EXPECT_EQ(Image().SuperU32(ib::kSbFatCrc), Image().ComputeFatCrc(uint32_t(Last())));

  // The record and the size queue.
  ASSERT_EQ(core::Disk[0].FileCount, before + 1);
  EXPECT_EQ(r.Name, "\\DataFiles\\Film2.rec");
  EXPECT_EQ(r.EntryType, 0xD1);
  EXPECT_FALSE(r.IsDir);
  EXPECT_EQ(r.StartCluster, 20);
  EXPECT_EQ(r.ClusterCount, 1);
  EXPECT_EQ(r.Size, 1000000);
  EXPECT_EQ(r.DirCluster, 2);
  ASSERT_EQ(core::List4[0].ListCount(), 1u);
  EXPECT_EQ(core::List4[0].List(0), "2");

  // Loaded again, the disk shows the same file.
  Reload();
  EXPECT_EQ(Rec("\\DataFiles\\Film2.rec").Size, 1000000);
  EXPECT_TRUE(core::FSCK(0));
}

TEST_F(CreateFile, OneClusterAndFourHundredBytes) {
  Link({21, 22});
  ASSERT_TRUE(core::CreateTopfFile(0, "\\DataFiles\\b.ts", false, 1059216, Date(2005, 6, 1, 0, 0, 0), 21));
  const core::FileRec& r = Rec("\\DataFiles\\b.ts");
  auto raw = Image().ReadSlot(2, r.Slot);
  EXPECT_EQ(raw[0], 0xD0);
  EXPECT_EQ(ib::GetBE32(&raw[12]), 2u);
  EXPECT_EQ(ib::GetBE32(&raw[16]), 1058304u);
  EXPECT_EQ(raw[126], 0x01);
  EXPECT_EQ(raw[127], 0x90);
  EXPECT_EQ(raw[125], 146);
}

TEST_F(CreateFile, WholeClusterSizesLongNamesAndRecExtensions) {
  Link({21});
  ASSERT_TRUE(core::CreateTopfFile(0, "\\DataFiles\\x.REC", false, double(kClusterBytes), 0, 21));
  auto raw = Image().ReadSlot(2, Rec("\\DataFiles\\x.REC").Slot);
  EXPECT_EQ(raw[0], 0xD1);
  EXPECT_EQ(ib::GetBE32(&raw[16]), 0u);
  EXPECT_EQ(ib::GetBE16(&raw[126]), 0u);
  EXPECT_EQ(raw[125], 1);

  Link({22});
  ASSERT_TRUE(core::CreateTopfFile(0, "\\DataFiles\\y.Rec", false, 10, 0, 22));
  EXPECT_EQ(Rec("\\DataFiles\\y.Rec").EntryType, 0xD1);
  Link({23});
  ASSERT_TRUE(core::CreateTopfFile(0, "\\DataFiles\\z.recx", false, 10, 0, 23));
  EXPECT_EQ(Rec("\\DataFiles\\z.recx").EntryType, 0xD0);

  const std::string longName(96, 'n');
  Link({24});
  ASSERT_TRUE(core::CreateTopfFile(0, "\\DataFiles\\" + longName + ".ts", false, 10, 0, 24));
  const std::string cut = longName.substr(0, 92) + ".ts";   // the extension stays
  const core::FileRec& r = Rec("\\DataFiles\\" + cut);
  raw = Image().ReadSlot(2, r.Slot);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&raw[20]), 95), cut);
  for (size_t i = 20 + 95; i < 120; ++i) EXPECT_EQ(raw[i], 0) << i;
}

TEST_F(CreateFile, SameNameReplacesTheOlderFileAndFreesItsChain) {
  const int oldSlot = Rec("\\DataFiles\\film.rec").Slot;
  const int oldIndex = IndexOf("\\DataFiles\\film.rec");
  Link({25});
  ASSERT_TRUE(core::CreateTopfFile(0, "\\DataFiles\\FILM.REC", false, 500, 0, 25));
  ASSERT_TRUE(core::UpdateTopfFAT(0));
  EXPECT_EQ(core::Disk[0].Files[size_t(oldIndex)].Name, core::kErasedName);
  const core::FileRec& r = Rec("\\DataFiles\\FILM.REC");
  // The new entry took a free slot before the old one was erased.
  EXPECT_NE(r.Slot, oldSlot);
  EXPECT_EQ(Slot(2, r.Slot).Name, "FILM.REC");
  EXPECT_EQ(Image().ReadSlot(2, oldSlot), std::vector<uint8_t>(128, 0xFF));
  for (uint32_t i : {10u, 11u}) {
    EXPECT_EQ(Image().FatEntry(i, 1), ib::kFatFree);
    EXPECT_EQ(FAT()[i].Next, 0);
  }
  EXPECT_TRUE(core::FSCK(0));
}

TEST_F(CreateFile, SameNameOnTheSameChainKeepsTheChain) {
  const int oldIndex = IndexOf("\\DataFiles\\film.rec");
  ASSERT_TRUE(core::CreateTopfFile(0, "\\DataFiles\\Film.rec", false, 2 * kClusterBytes, 0, 10));
  ASSERT_TRUE(core::UpdateTopfFAT(0));
  EXPECT_EQ(core::Disk[0].Files[size_t(oldIndex)].Name, core::kErasedName);
  EXPECT_EQ(FAT()[10].Next, 11);
  EXPECT_EQ(Image().FatEntry(10, 1), 11u);
  Reload();
  EXPECT_EQ(Rec("\\DataFiles\\Film.rec").StartCluster, 10);
  EXPECT_EQ(IndexOf("\\DataFiles\\film.rec"), -1);
  EXPECT_TRUE(core::FSCK(0));
}

TEST_F(CreateFile, NewSubfolderMatchesTheTemplate) {
  const int32_t own = 26;
  core::BuildSubDirBuffer(0, own, "\\DataFiles\\New folder 01");
  ASSERT_TRUE(core::WriteTopfCluster(0, own + 1, false));
  Link({own});
  ASSERT_TRUE(core::UpdateTopfFAT(0));
  ASSERT_TRUE(core::CreateTopfFile(0, "\\DataFiles\\New folder 01", true, double(kClusterBytes),
                                   Date(2010, 3, 4, 5, 6, 7), own));
  ASSERT_TRUE(core::UpdateTopfFAT(0));

  auto view = Image().ReadClusterView(own + 1);
  EXPECT_EQ(view[0], 0xF1);
  EXPECT_EQ(ib::GetBE32(&view[8]), uint32_t(own));
  EXPECT_EQ(ib::GetBE32(&view[12]), 1u);
  EXPECT_EQ(ib::GetBE32(&view[16]), 1058560u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&view[20])), ".");
  EXPECT_EQ(view[128], 0xF0);
  EXPECT_EQ(ib::GetBE32(&view[136]), 2u);
  EXPECT_EQ(ib::GetBE32(&view[140]), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&view[148])), "..");
  for (int b : {1, 2, 3, 4, 5, 129, 130, 131, 132, 133}) EXPECT_EQ(view[size_t(b)], 0) << b;
  for (size_t i = 256; i < view.size(); ++i) ASSERT_EQ(view[i], 0xFF) << i;

  const uint32_t parentFree = uint32_t(kClusterBytes - 128 * (HighestUsedSlot(2) + 1));
  EXPECT_EQ(ViewU32(3, 16), parentFree);
  EXPECT_EQ(ib::GetBE32(&view[144]), parentFree);
  auto entry = Slot(2, Rec("\\DataFiles\\New folder 01").Slot);
  EXPECT_EQ(entry.Attribute, 0xF2);
  EXPECT_EQ(entry.ClusterCount, 1u);
  EXPECT_EQ(entry.CheckByte, 0);
  EXPECT_TRUE(Rec("\\DataFiles\\New folder 01").IsDir);

  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  EXPECT_TRUE(core::FSCK(0));
}

TEST_F(CreateFile, SubfolderTemplateFindsItsParentWithoutRegardToCase) {
  core::BuildSubDirBuffer(0, 27, "\\datafiles\\FILMS\\Sub");
  EXPECT_EQ(ib::GetBE32(&core::ClusterBuffer[136]), uint32_t(Rec("\\DataFiles\\Films").StartCluster));
  core::BuildSubDirBuffer(0, 27, "\\New folder 01");
  EXPECT_EQ(ib::GetBE32(&core::ClusterBuffer[136]), 0u);
}

// Every refusal tells the user, adds nothing and writes nothing.
class CreateRefusal : public CreateFile {
 protected:
  void Refused(const std::string& path, bool isDir, double size, int32_t first,
               const std::string& message) {
    const auto before = Snapshot();
    const int count = core::Disk[0].FileCount;
    script.ExpectMsgBox(message, ui::Answer::OK);
    EXPECT_FALSE(core::CreateTopfFile(0, path, isDir, size, 0, first));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(core::Disk[0].FileCount, count);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_TRUE(core::List4[0].Empty());
  }
};

TEST_F(CreateRefusal, MissingErasedOrFileParent) {
  Link({20});
  Refused("\\Nowhere\\a.rec", false, 10, 20, "was not found on the disk");
  Refused("\\a.rec", false, 10, 20, "was not found on the disk");   // the root has no record
  Refused("\\DataFiles\\film.rec\\a.rec", false, 10, 20, "was not found on the disk");
  Rec("\\DataFiles\\Films").Name = core::kErasedName;
  Refused("\\DataFiles\\Films\\a.rec", false, 10, 20, "was not found on the disk");
}

TEST_F(CreateRefusal, FullParent) {
  auto view = Image().ReadClusterView(Rec("\\DataFiles\\Films").StartCluster + 1);
  for (size_t s = 2; s < view.size() / 128; ++s) view[s * 128] = 0x00;
  Image().WriteClusterView(Rec("\\DataFiles\\Films").StartCluster + 1, view);
  core::InvalidateSideCache(0);
  Link({20});
  Refused("\\DataFiles\\Films\\a.rec", false, 10, 20, "is full");
}

TEST_F(CreateRefusal, NameTakenByAnEntryOfTheOtherKind) {
  Link({20});
  Refused("\\DataFiles\\FILMS", false, 10, 20, "already exists");
  Refused("\\DataFiles\\films", true, double(kClusterBytes), 20, "already exists");
  Refused("\\DataFiles\\Film.rec", true, double(kClusterBytes), 20, "already exists");
}

TEST_F(CreateRefusal, EmptyFileAndUnlinkedFirstCluster) {
  Link({20});
  Refused("\\DataFiles\\empty.rec", false, 0, 20, "is empty (0 bytes)");
  Refused("\\DataFiles\\a.rec", false, 10, 21, "is not allocated");   // 21 is free
  Refused("\\DataFiles\\a.rec", false, 10, 0, "is not allocated");
}

}  // namespace
}  // namespace writertest
