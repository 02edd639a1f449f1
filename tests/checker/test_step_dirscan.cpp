// Check step 4: the directory walk, its repairs and the found-entries table.
#include "tests/checker/step_fixture.h"
#include "tests/support/sector_faults.h"

namespace steptest {
namespace {

std::vector<uint8_t> MakeEntry(uint8_t attribute, uint32_t start, uint32_t count, const std::string& name) {
  std::vector<uint8_t> e(128, 0);
  e[0] = attribute;
  ib::PutBE16(&e[1], ib::MjdOf(2008, 3, 4));
  e[3] = 10;
  ib::PutBE32(&e[8], start);
  ib::PutBE32(&e[12], count);
  std::memcpy(&e[20], name.data(), name.size());
  return e;
}

class DirScan : public StepTest {
 protected:
  void SetUp() override {
    StepTest::SetUp();
    model_ = std::make_unique<ib::DiskImage>(SmallSpec());
    model_->AddFolder("\\Zeta", 10);
    model_->AddFolder("\\DataFiles\\Films", 12);
    ib::FileSpec a;
    a.Path = "\\DataFiles\\a.rec";
    a.Size = 3 * kClusterBytes - 1000;
    a.Chain = {20, 21, 22};
    model_->AddFile(a);
    ib::FileSpec z;
    z.Path = "\\Zeta\\z.rec";
    z.Size = 700;
    z.Chain = {25};
    model_->AddFile(z);
  }
  void OpenModel() { Open(*model_); }
  const checker::FoundEntry* Record(const std::string& name) const {
    for (int32_t k = 0; k < checker::FoundEntryCount; ++k)
      if (checker::FoundEntries[size_t(k)].Name == name) return &checker::FoundEntries[size_t(k)];
    return nullptr;
  }
  int Position(const std::string& name) const {
    for (int32_t k = 0; k < checker::FoundEntryCount; ++k)
      if (checker::FoundEntries[size_t(k)].Name == name) return k;
    return -1;
  }
  std::unique_ptr<ib::DiskImage> model_;
};

TEST_F(DirScan, SoundTreeIsRecordedInWalkOrder) {
  OpenModel();
  checker::fsck_04_ScanDirectories();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("OK:", "Subdirectory Scan")}));
  EXPECT_FALSE(checker::DirScanIncomplete);
  ASSERT_EQ(checker::FoundEntryCount, 7);
  // Pending folders are taken in text order: "10 \Zeta\" before "2 \DataFiles\".
  EXPECT_LT(Position("\\Zeta\\z.rec"), Position("\\DataFiles\\a.rec"));
  EXPECT_LT(Position("\\Zeta\\"), Position("\\Zeta\\z.rec"));
  const auto* a = Record("\\DataFiles\\a.rec");
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(a->IsDir);
  EXPECT_EQ(a->StartCluster, 20);
  EXPECT_EQ(a->ClusterCount, 3);
  EXPECT_EQ(a->Size, double(3 * kClusterBytes - 1000));
  EXPECT_EQ(a->DirCluster, 2);
  EXPECT_EQ(a->Slot, model_->Entry("\\DataFiles\\a.rec").Slot);
  EXPECT_EQ(a->ParentCluster, 0);
  const auto* films = Record("\\DataFiles\\Films\\");
  ASSERT_NE(films, nullptr);
  EXPECT_TRUE(films->IsDir);
  EXPECT_EQ(films->StartCluster, 12);
  EXPECT_EQ(films->ClusterCount, 1);
  EXPECT_EQ(films->Size, 0);
  EXPECT_EQ(films->ParentCluster, 0);
  const auto* recycle = Record("\\__RECYCLE__\\");
  ASSERT_NE(recycle, nullptr);
  EXPECT_EQ(recycle->StartCluster, 1);
  EXPECT_FALSE(Written(2));
}

TEST_F(DirScan, MissingDotAndDotDotSlotsAreRecreated) {
  OpenModel();
  const uint32_t end = ib::DecodeEntry(Image().ReadSlot(12, 0).data()).FreeBytes;
  EditSlot(12, 0, [](std::vector<uint8_t>& s) { s[0] = 0x00; });
  EditSlot(10, 1, [](std::vector<uint8_t>& s) { s[0] = 0x55; });
  checker::fsck_04_ScanDirectories();
  EXPECT_TRUE(HasLine(L("Fixed:", "Files - Attribute of slot 0 of directory '\\DataFiles\\Films\\': recreated '.' directory")))
      << AllLines();
  EXPECT_TRUE(HasLine(L("Fixed:", "Files - Attribute of slot 1 of directory '\\Zeta\\': recreated '..' directory")));
  EXPECT_FALSE(HasLine(L("OK:", "Subdirectory Scan")));
  auto dot = ib::DecodeEntry(Image().ReadSlot(12, 0).data());
  EXPECT_EQ(dot.Attribute, 0xF1);
  EXPECT_EQ(dot.StartCluster, 12u);
  EXPECT_EQ(dot.ClusterCount, 1u);
  EXPECT_EQ(dot.FreeBytes, end);   // the folder keeps its end
  EXPECT_EQ(dot.Name, ".");
  auto dotdot = ib::DecodeEntry(Image().ReadSlot(10, 1).data());
  EXPECT_EQ(dotdot.Attribute, 0xF0);
  EXPECT_EQ(dotdot.StartCluster, 0u);   // \Zeta's entry lies in the root
  EXPECT_EQ(dotdot.Name, "..");
  EXPECT_TRUE(Written(12));
  EXPECT_TRUE(Written(10));
}

TEST_F(DirScan, DotDotPointsAtTheFolderHoldingTheDirectorysEntry) {
  OpenModel();
  EditSlot(12, 1, [](std::vector<uint8_t>& s) { s[0] = 0x00; });
  checker::fsck_04_ScanDirectories();
  EXPECT_EQ(ib::DecodeEntry(Image().ReadSlot(12, 1).data()).StartCluster, 2u);
}

TEST_F(DirScan, InvalidSlotsBecomeUnused) {
  OpenModel();
  const int slot = model_->Entry("\\DataFiles\\a.rec").Slot + 1;
  Image().WriteSlot(2, slot, MakeEntry(0x00, 0, 0, "zero"));
  checker::fsck_04_ScanDirectories();
  EXPECT_EQ(Lines(), (std::vector<std::string>{L("Fixed:", "Files - Attribute of slot " + std::to_string(slot) +
                                                              " of directory '\\DataFiles\\' is invalid: set slot to unused")}));
  EXPECT_EQ(Image().ReadSlot(2, slot), std::vector<uint8_t>(128, 0xFF));
}

TEST_F(DirScan, ImpossibleDatesAreReplacedByNow) {
  OpenModel();
  struct Case { const char* name; int slot; std::vector<uint8_t> date; bool replaced; };
  std::vector<Case> cases;
  auto date = [](int y, int m, int d, int hh) {
    std::vector<uint8_t> b(5, 0);
    ib::PutBE16(&b[0], ib::MjdOf(y, m, d));
    b[2] = uint8_t(hh);
    return b;
  };
  cases.push_back({"old.rec", 10, date(2002, 12, 31, 23), true});
  cases.push_back({"new.rec", 11, date(2003, 1, 1, 0), false});
  cases.push_back({"zero.rec", 12, std::vector<uint8_t>(5, 0x00), false});
  cases.push_back({"ones.rec", 13, std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x07}, false});
  cases.push_back({"future.rec", 14, date(2010, 6, 17, 13), true});
  cases.push_back({"soon.rec", 15, date(2010, 6, 17, 11), false});
  for (const auto& c : cases) {
    auto e = MakeEntry(0xD1, 25, 1, c.name);
    std::copy(c.date.begin(), c.date.end(), e.begin() + 1);
    PlantEntry(10, c.slot, e);
  }
  checker::fsck_04_ScanDirectories();
  const auto now = date(2010, 6, 15, 12);
  for (const auto& c : cases) {
    const std::string line = L("Fixed:", std::string("Files - Date/Time of \\Zeta\\") + c.name + ": set to actual date/time");
    EXPECT_EQ(HasLine(line), c.replaced) << c.name;
    const auto slot = Image().ReadSlot(10, c.slot);
    const std::vector<uint8_t> stored(slot.begin() + 1, slot.begin() + 6);
    EXPECT_EQ(stored, c.replaced ? now : c.date) << c.name;
  }
}

TEST_F(DirScan, DirectoryEntryWithAnInvalidPointerIsRecordedButNotWalked) {
  OpenModel();
  PlantEntry(2, 10, MakeEntry(0xF2, 0x20000, 1, "Bad"));
  checker::fsck_04_ScanDirectories();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         L("Skipped:", "Scan structure for subdirectories: \\DataFiles\\Bad contains an invalid pointer (this "
                                       "will be fixed later)"),
                         L("OK:", "Subdirectory Scan")}));
  const auto* bad = Record("\\DataFiles\\Bad\\");
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(bad->StartCluster, 0x20000);
  EXPECT_FALSE(checker::DirScanIncomplete);
}

TEST_F(DirScan, PointerPastTheLastClusterIsInvalidAndTheLaterStepsRun) {
  OpenModel();
  const uint32_t beyond = uint32_t(model_->LastCluster()) + 3;
  PlantEntry(2, 10, MakeEntry(0xF2, beyond, 1, "Gone"));
  checker::fsck_04_ScanDirectories();
  EXPECT_TRUE(HasLine(L("Skipped:", "Scan structure for subdirectories: \\DataFiles\\Gone contains an invalid pointer "
                                    "(this will be fixed later)")))
      << AllLines();
  EXPECT_FALSE(checker::DirScanIncomplete);
  checker::fsck_05_FAT();
  checker::fsck_06_FATSubDirsXCheck();
  EXPECT_TRUE(HasLine(L("Fixed:", "Files - Invalid cluster pointer in directory entry \\DataFiles\\Gone\\': Removed")))
      << AllLines();
  EXPECT_EQ(Image().ReadSlot(2, 10), std::vector<uint8_t>(128, 0xFF));
}

TEST_F(DirScan, UnreadableDirectoryMakesTheLaterStepsSkip) {
  OpenModel();
  faults::SectorFaults f;
  f.FailReadsWhere([](uint32_t first, int32_t) { return first == 13 * kSpc; });   // \DataFiles\Films
  checker::fsck_04_ScanDirectories();
  EXPECT_TRUE(HasLine(L("Info:", "Scan structure for subdirectories: couldn't find cluster 12"))) << AllLines();
  EXPECT_TRUE(checker::DirScanIncomplete);
  ClearLines();
  checker::fsck_05_FAT();
  checker::fsck_06_FATSubDirsXCheck();
  checker::fsck_07_SuperBlockDependencies();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         L("Skipped:", "Fixing the FAT structures doesn't make sense without the full directory data."),
                         L("Skipped:", "Fixing the subdirectory structures doesn't make sense without the full directory data."),
                         L("Skipped:", "Fixing the superblock dependencies doesn't make sense without the full directory data.")}));
  EXPECT_FALSE(Written(-1));
}

TEST_F(DirScan, EntryLeadingBackIntoItsOwnPathIsRemoved) {
  OpenModel();
  PlantEntry(12, 5, MakeEntry(0xF2, 2, 1, "Back"));   // \DataFiles\Films\Back -> \DataFiles
  PlantEntry(10, 5, MakeEntry(0xF2, 10, 1, "Self"));  // \Zeta\Self -> \Zeta
  checker::fsck_04_ScanDirectories();
  EXPECT_TRUE(HasLine(L("Fixed:", "Files - Directory entry '\\DataFiles\\Films\\Back\\' leads back to '\\DataFiles\\': removed")))
      << AllLines();
  EXPECT_TRUE(HasLine(L("Fixed:", "Files - Directory entry '\\Zeta\\Self\\' leads back to '\\Zeta\\': removed")));
  EXPECT_EQ(Record("\\DataFiles\\Films\\Back\\"), nullptr);
  EXPECT_EQ(Image().ReadSlot(12, 5), std::vector<uint8_t>(128, 0xFF));
  EXPECT_EQ(Image().ReadSlot(10, 5), std::vector<uint8_t>(128, 0xFF));
  EXPECT_FALSE(checker::DirScanIncomplete);
}

TEST_F(DirScan, RecordingBehindADirectoryEntryIsLeftUntouched) {
  OpenModel();
  const auto before = Image().ReadClusterView(21);
  PlantEntry(2, 10, MakeEntry(0xF2, 20, 1, "Fake"));   // a.rec's first cluster
  checker::fsck_04_ScanDirectories();
  EXPECT_TRUE(HasLine(L("Skipped:", "Scan structure for subdirectories: \\DataFiles\\Fake contains an invalid pointer "
                                    "(this will be fixed later)")))
      << AllLines();
  EXPECT_FALSE(checker::DirScanIncomplete);
  const auto* fake = Record("\\DataFiles\\Fake\\");
  ASSERT_NE(fake, nullptr);
  EXPECT_TRUE(fake->InvalidPointer);
  EXPECT_EQ(Image().ReadClusterView(21), before);
  EXPECT_FALSE(Written(20));
}

TEST_F(DirScan, OverwrittenStandardFolderIsRebuiltOnlyWhereNoChainRunsOnFromIt) {
  for (bool runsOn : {true, false}) {   // (in this order: an undo copy tells a write)
    SCOPED_TRACE(runsOn);
    OpenModel();
    auto data = Image().ReadClusterView(3);
    std::memcpy(data.data(), "TFrc\x50\0", 6);
    Image().WriteClusterView(3, data);
    if (runsOn) Image().SetFatEntry(2, 40);
    checker::fsck_04_ScanDirectories();
    EXPECT_EQ(Written(2), !runsOn) << AllLines();
    EXPECT_EQ(Image().ReadClusterView(3) == data, runsOn);
    EXPECT_EQ(Record("\\DataFiles\\")->InvalidPointer, runsOn);
    if (!runsOn) EXPECT_EQ(Image().ReadSlot(2, 2)[0], 0xFF);   // an empty folder: what it held comes back as lost chains
  }
}

TEST_F(DirScan, DirectoryIsKnownByItsSlotsNotByItsDotEntries) {
  // A folder cluster changed four ways: a recording header or transport-
  // stream packets never make a directory, even with ".." in place; zeros
  // are none; a folder whose "." and ".." are both damaged still is one.
  const auto folder = model_->FolderClusterView("\\Zeta");
  struct Case { const char* what; std::function<void(std::vector<uint8_t>&)> change; bool directory; };
  const std::vector<Case> cases = {
      {"header", [](std::vector<uint8_t>& v) { std::memcpy(v.data(), "TFrc\x50\0", 6); }, false},
      {"packets", [](std::vector<uint8_t>& v) { for (size_t k = 0; k < 10; ++k) v[100 + 188 * k] = 0x47; }, false},
      {"zeros", [](std::vector<uint8_t>& v) { std::fill(v.begin(), v.end(), 0); }, false},
      {"dots", [](std::vector<uint8_t>& v) { v[0] = v[128] = 0x00; }, true}};
  checker::SectorsPerCluster = kSpc;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    checker::ClusterBuffer = folder;
    c.change(checker::ClusterBuffer);
    EXPECT_EQ(checker::IsDirectoryCluster(), c.directory);
  }
}

TEST_F(DirScan, MoreEntriesThanTheTableHoldsMakeTheScanIncomplete) {
  ib::DiskImage model(SmallSpec());
  model.AddFolder(ib::FolderSpec{"\\DataFiles\\A", {}, 30});
  model.AddFolder(ib::FolderSpec{"\\DataFiles\\B", {}, 31});
  Open(model);
  for (uint32_t folder : {30u, 31u}) {
    auto view = Image().ReadClusterView(folder + 1);
    for (int s = 2; s < int(kSpc * 4); ++s) {
      auto e = MakeEntry(0xD0, 40, 1, "f" + std::to_string(s));
      std::copy(e.begin(), e.end(), view.begin() + s * 128);
    }
    ib::PutBE32(&view[16], 0);   // every slot in sight
    Image().WriteClusterView(folder + 1, view);
  }
  checker::fsck_04_ScanDirectories();
  EXPECT_EQ(checker::FoundEntryCount, checker::kMaxFoundEntries);
  EXPECT_TRUE(checker::DirScanIncomplete);
  EXPECT_TRUE(HasLine(L("Error:", "Scan structure for subdirectories: more than 10001 entries; the rest could not be "
                                  "recorded")))
      << Lines().size();
}

}  // namespace
}  // namespace steptest
