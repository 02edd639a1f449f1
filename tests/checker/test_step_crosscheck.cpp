// Check step 6: directory entries against the FAT chains, and directory
// size fields.
#include "tests/checker/step_fixture.h"

namespace steptest {
namespace {

class CrossCheck : public StepTest {
 protected:
  void SetUp() override {
    StepTest::SetUp();
    model_ = std::make_unique<ib::DiskImage>(SmallSpec());
    model_->AddFolder(ib::FolderSpec{"\\DataFiles\\Films", {}, 12});
    model_->AddFolder(ib::FolderSpec{"\\DataFiles\\Films\\Sub", {}, 13});
    AddFile("\\DataFiles\\Films\\a.rec", {20, 21, 22});
    AddFile("\\DataFiles\\Films\\b.rec", {23, 24, 25, 26, 27});
    AddFile("\\DataFiles\\Films\\Sub\\c.rec", {30, 31, 32});
    AddFile("\\DataFiles\\x.rec", {40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51});
  }
  void AddFile(const std::string& path, std::vector<uint32_t> chain) {
    ib::FileSpec f;
    f.Path = path;
    f.Size = chain.size() * kClusterBytes - 300;
    f.Chain = std::move(chain);
    model_->AddFile(f);
  }
  // Steps 4 and 5, then step 6 on a fresh list.
  void Run() {
    checker::fsck_04_ScanDirectories();
    checker::fsck_05_FAT();
    ClearLines();
    checker::fsck_06_FATSubDirsXCheck();
  }
  ib::DecodedEntry EntryOf(const std::string& path) {
    const auto& e = model_->Entry(path);
    return ib::DecodeEntry(Image().ReadSlot(model_->FolderIndex(e.Parent), e.Slot).data());
  }
  std::vector<uint8_t> SlotOf(const std::string& path) {
    const auto& e = model_->Entry(path);
    return Image().ReadSlot(model_->FolderIndex(e.Parent), e.Slot);
  }
  void EditEntry(const std::string& path, const std::function<void(std::vector<uint8_t>&)>& edit) {
    const auto& e = model_->Entry(path);
    EditSlot(model_->FolderIndex(e.Parent), e.Slot, edit);
  }
  std::unique_ptr<ib::DiskImage> model_;
};

TEST_F(CrossCheck, SoundTreeGivesOnlyOk) {
  Open(*model_);
  Run();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("OK:", "Files")}));
  EXPECT_EQ(EntryOf("\\DataFiles\\Films").ClusterCount, 3u + 5u + 4u + 1u);
}

TEST_F(CrossCheck, EntryStartingAtZeroIsRemoved) {
  Open(*model_);
  EditEntry("\\DataFiles\\x.rec", [](std::vector<uint8_t>& s) { ib::PutBE32(&s[8], 0); });
  Run();
  EXPECT_TRUE(HasLine(L("Fixed:", "Files - Invalid cluster pointer in directory entry \\DataFiles\\x.rec': Removed")))
      << AllLines();
  EXPECT_EQ(SlotOf("\\DataFiles\\x.rec"), std::vector<uint8_t>(128, 0xFF));
}

TEST_F(CrossCheck, ClusterCountFollowsTheChain) {
  Open(*model_);
  EditEntry("\\DataFiles\\x.rec", [](std::vector<uint8_t>& s) { ib::PutBE32(&s[12], 10); });
  EditEntry("\\DataFiles\\Films\\a.rec", [](std::vector<uint8_t>& s) { ib::PutBE32(&s[12], 4); });
  Run();
  EXPECT_TRUE(HasLine(L("Fixed:", "Files - File '\\DataFiles\\x.rec' is larger than expected: changed size from 10.10 MB "
                                  "to 12.12 MB")))
      << AllLines();
  EXPECT_TRUE(HasLine(L("Fixed:", "Files - File '\\DataFiles\\Films\\a.rec' is shorter than expected: changed size from "
                                  "4.04 MB to 3.03 MB")))
      << AllLines();
  const auto x = EntryOf("\\DataFiles\\x.rec");
  EXPECT_EQ(x.ClusterCount, 12u);
  EXPECT_EQ(x.FreeBytes, 0u);
  EXPECT_EQ(x.LastSectorBytes, 0u);
  EXPECT_EQ(EntryOf("\\DataFiles\\Films\\a.rec").ClusterCount, 3u);
  checker::fsck_07_SuperBlockDependencies();
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
}

// x.rec: 12 clusters, FreeBytes 0, LastSectorBytes 212. Fields no file can
// have are set to what claims most of the last cluster (0), the others kept.
TEST_F(CrossCheck, SizeFieldsNoFileCanHaveAreMended) {
  const uint32_t cb = uint32_t(kClusterBytes);
  struct Row { uint32_t FreeBytes, LastSector, WantFree, WantLast; std::string Wrong; /* "": sound */ };
  Open(*model_);
  for (const Row& row : std::vector<Row>{
           {0, 0xFFFF, 0, 0, "LastSectorBytes 65535"}, {0, 513, 0, 0, "LastSectorBytes 513"}, {0, 512, 0, 512, ""},
           {0x7FFFFFFF, 212, 0, 212, "FreeBytes 2147483647"}, {0xFFFFFFFF, 212, 0, 212, "FreeBytes -1"},
           {cb, 0, 0, 0, "FreeBytes " + std::to_string(cb)}, {cb - 512, 1, cb - 512, 1, ""},
           {cb - 100, 50, 0, 50, "FreeBytes " + std::to_string(cb - 100)},
           {0x7FFFFFFF, 0xFFFF, 0, 0, "LastSectorBytes 65535, FreeBytes 2147483647"}}) {
    SCOPED_TRACE(row.Wrong);
    EditEntry("\\DataFiles\\x.rec", [&](auto& s) { ib::PutBE32(&s[16], row.FreeBytes), ib::PutBE16(&s[126], uint16_t(row.LastSector)); });
    Run();
    const auto x = EntryOf("\\DataFiles\\x.rec");
    EXPECT_EQ(std::make_pair(x.FreeBytes, uint32_t(x.LastSectorBytes)), std::make_pair(row.WantFree, row.WantLast));
    const double size = 12.0 * cb - row.WantFree - 512 + (row.WantLast ? row.WantLast : 512);
    EXPECT_EQ(HasLine(L("Fixed:", "Files - File '\\DataFiles\\x.rec' has size fields no file can have (" + row.Wrong +
                                      "): changed size to " + checker::FileSizeToString(size, 2))),
              !row.Wrong.empty()) << AllLines();
    std::string findings;
    EXPECT_TRUE(MainFsck(&findings)) << findings;
  }
}

TEST_F(CrossCheck, DotSlotSizeAndFreeBytesAreCorrected) {
  Open(*model_);
  EditSlot(12, 0, [](std::vector<uint8_t>& s) {
    ib::PutBE32(&s[12], 7);
    ib::PutBE32(&s[16], 5);
  });
  Run();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "Files - Size Field of '\\DataFiles\\Films\\.': set to 1 cluster"),
                                               L("Fixed:", "Files - FreeBytes field of '\\DataFiles\\Films\\': corrected")}));
  const auto dot = ib::DecodeEntry(Image().ReadSlot(12, 0).data());
  EXPECT_EQ(dot.ClusterCount, 1u);
  EXPECT_EQ(dot.FreeBytes, uint32_t(kClusterBytes - 5 * 128));   // slots 0..4 in use
  EXPECT_EQ(dot.LastSectorBytes, 0u);
}

TEST_F(CrossCheck, SubDirSizeSumsTheContents) {
  Open(*model_);
  EditEntry("\\DataFiles\\Films", [](std::vector<uint8_t>& s) {
    ib::PutBE32(&s[12], 99);
    ib::PutBE32(&s[16], 7);
  });
  Run();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "Files - SubDirSize field of '\\DataFiles\\Films\\: corrected")}));
  const auto films = EntryOf("\\DataFiles\\Films");
  EXPECT_EQ(films.ClusterCount, 13u);   // 3 + 5 + (3 + 1) + 1
  EXPECT_EQ(films.FreeBytes, uint32_t(kClusterBytes - 256));
  std::string findings;
  EXPECT_TRUE(MainFsck(&findings)) << findings;
}

TEST_F(CrossCheck, SkippedWithoutTheFullTree) {
  Open(*model_);
  checker::DirScanIncomplete = true;
  checker::fsck_06_FATSubDirsXCheck();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         L("Skipped:", "Fixing the subdirectory structures doesn't make sense without the full directory data.")}));
}

TEST_F(CrossCheck, EntryThatChangedSinceTheScanIsLeftAlone) {
  Open(*model_);
  checker::fsck_04_ScanDirectories();
  checker::fsck_05_FAT();
  // Another entry now sits in x.rec's slot.
  EditEntry("\\DataFiles\\x.rec", [](std::vector<uint8_t>& s) {
    ib::PutBE32(&s[8], 60);
    ib::PutBE32(&s[12], 77);
  });
  const auto before = SlotOf("\\DataFiles\\x.rec");
  ClearLines();
  checker::fsck_06_FATSubDirsXCheck();
  EXPECT_TRUE(HasLine(L("Error:", "Files - Directory entry of '\\DataFiles\\x.rec' has changed since the scan: left "
                                  "unchanged")))
      << AllLines();
  EXPECT_EQ(SlotOf("\\DataFiles\\x.rec"), before);
}

TEST_F(CrossCheck, TablesNeverLoadedAreTakenFromTheDiskNotGuessed) {
  Open(*model_);
  checker::fsck_04_ScanDirectories();
  ClearLines();
  checker::fsck_06_FATSubDirsXCheck();   // without step 5
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("OK:", "Files")}));
  EXPECT_EQ(EntryOf("\\DataFiles\\x.rec").ClusterCount, 12u);
}

}  // namespace
}  // namespace steptest
