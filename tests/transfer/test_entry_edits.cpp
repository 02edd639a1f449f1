// Renaming on both kinds of side, compressing the list, redirecting a cluster.
#include <sys/stat.h>

#include "platform/platform.h"
#include "tests/transfer/transfer_fixture.h"
#include "transfer/entry_edits.h"

namespace {

using namespace transfertest;
using transfer::FSRenameFile;

class EditTest : public TransferTest {
 protected:
  ib::DiskImage Model() {
    ib::DiskImage model(Spec(2068, 60));
    model.AddFolder("\\DataFiles\\A");
    model.AddFolder("\\DataFiles\\A\\Sub");
    model.AddFolder("\\DataFiles\\AB");
    for (const char* path : {"\\DataFiles\\A\\x.rec", "\\DataFiles\\A\\Sub\\y.rec",
                             "\\DataFiles\\AB\\z.rec", "\\DataFiles\\A.rec",
                             "\\DataFiles\\Show.rec"}) {
      ib::FileSpec f;
      f.Path = path;
      f.Size = 5000;
      model.AddFile(f);
    }
    return model;
  }
  std::vector<uint8_t> Slot(const ib::DiskImage& model, const std::string& path) {
    ib::ImageFile image(DrivePath(0));
    const ib::ModelEntry& e = model.Entry(path);
    return image.ReadSlot(model.FolderIndex(e.Parent), e.Slot);
  }
};

TEST_F(EditTest, RecorderFileNameIsCutAndTheWholeFieldRewritten) {
  ib::DiskImage model = Model();
  LoadRecorder(model, 0, 0);
  {
    // Leave something behind the name in the name field.
    ib::ImageFile image(DrivePath(0));
    const ib::ModelEntry& e = model.Entry("\\DataFiles\\Show.rec");
    std::vector<uint8_t> slot = image.ReadSlot(2, e.Slot);
    slot[118] = 'Q';
    image.WriteSlot(2, e.Slot, slot);
    core::InvalidateSideCache(0);
  }
  const int index = IndexOf(0, "\\DataFiles\\Show.rec");
  const std::string longName = std::string(100, 'n') + ".rec";
  ASSERT_TRUE(FSRenameFile(0, index, longName));
  std::vector<uint8_t> slot = Slot(model, "\\DataFiles\\Show.rec");
  const std::string stored(slot.begin() + 20, slot.begin() + 115);
  EXPECT_EQ(stored, std::string(91, 'n') + ".rec");
  for (int b = 115; b < 120; ++b) EXPECT_EQ(slot[size_t(b)], 0) << b;
  EXPECT_EQ(core::Disk[0].Files[size_t(index)].Name, "\\DataFiles\\" + stored);

  ASSERT_TRUE(FSRenameFile(0, index, "s.rec"));
  slot = Slot(model, "\\DataFiles\\Show.rec");
  EXPECT_EQ(std::string(slot.begin() + 20, slot.begin() + 25), "s.rec");
  for (int b = 25; b < 120; ++b) ASSERT_EQ(slot[size_t(b)], 0) << b;
  EXPECT_EQ(slot[0], ib::kAttrRecording);   // the rest of the entry stays
}

TEST_F(EditTest, RecorderFolderRenameTakesItsContentsButNotASibling) {
  ib::DiskImage model = Model();
  LoadRecorder(model, 0, 0);
  ASSERT_TRUE(FSRenameFile(0, IndexOf(0, "\\DataFiles\\A"), "Films"));
  for (const char* name : {"\\DataFiles\\Films", "\\DataFiles\\Films\\Sub", "\\DataFiles\\Films\\x.rec",
                           "\\DataFiles\\Films\\Sub\\y.rec", "\\DataFiles\\AB", "\\DataFiles\\AB\\z.rec",
                           "\\DataFiles\\A.rec"})
    EXPECT_GE(IndexOf(0, name), 0) << name;
  EXPECT_LT(IndexOf(0, "\\DataFiles\\A"), 0);
  // The disk agrees after a reload.
  core::InvalidateSideCache(0);
  ASSERT_TRUE(core::LoadTopf(0, true));
  EXPECT_GE(IndexOf(0, "\\DataFiles\\Films\\Sub\\y.rec"), 0);
  EXPECT_GE(IndexOf(0, "\\DataFiles\\AB\\z.rec"), 0);
}

TEST_F(EditTest, RenameRefusesSeparatorsDotsAndDuplicates) {
  ib::DiskImage model = Model();
  LoadRecorder(model, 0, 0);
  const std::string before = ib::ReadWholeFile(DrivePath(0));
  const int index = IndexOf(0, "\\DataFiles\\Show.rec");
  for (const char* bad : {"a\\b.rec", "a/b.rec", "..", ".", "", "a\x01.rec"}) {
    script.ExpectMsgBox("Unable to rename", ui::Answer::OK);
    EXPECT_FALSE(FSRenameFile(0, index, bad)) << bad;
  }
  script.ExpectMsgBox("already exists in that folder", ui::Answer::OK);
  EXPECT_FALSE(FSRenameFile(0, index, "a.REC"));   // \DataFiles\A.rec, case ignored
  script.ExpectMsgBox("already exists in that folder", ui::Answer::OK);
  EXPECT_FALSE(FSRenameFile(0, IndexOf(0, "\\DataFiles\\AB"), "a"));
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(ib::ReadWholeFile(DrivePath(0)), before);
  EXPECT_EQ(core::Disk[0].Files[size_t(index)].Name, "\\DataFiles\\Show.rec");
  // Only the case changes: allowed.
  EXPECT_TRUE(FSRenameFile(0, index, "SHOW.rec"));
}

TEST_F(EditTest, PcRenameRenamesAndReloads) {
  ib::WriteWholeFile(Pc() + "one.ts", "1");
  ib::WriteWholeFile(Pc() + "two.ts", "2");
  LoadPc(1);
  ASSERT_TRUE(FSRenameFile(1, IndexOf(1, Pc() + "one.ts"), "three.ts"));
  EXPECT_EQ(ib::ReadWholeFile(Pc() + "three.ts"), "1");
  EXPECT_GE(IndexOf(1, Pc() + "three.ts"), 0);
  EXPECT_LT(IndexOf(1, Pc() + "one.ts"), 0);
  script.ExpectMsgBox("already exists", ui::Answer::OK);
  EXPECT_FALSE(FSRenameFile(1, IndexOf(1, Pc() + "three.ts"), "two.ts"));
  EXPECT_EQ(ib::ReadWholeFile(Pc() + "two.ts"), "2");
  script.ExpectMsgBox("Unable to rename", ui::Answer::OK);
  EXPECT_FALSE(FSRenameFile(1, IndexOf(1, Pc() + "two.ts"), "../two.ts"));
  EXPECT_TRUE(script.AllAnswered());
}

TEST_F(EditTest, CompressDropsErasedRecordsInOrder) {
  core::DiskRec& d = core::Disk[0];
  d.FileCount = 5;
  const char* names[] = {"a", core::kErasedName, "b", core::kErasedName, "c"};
  for (int i = 0; i < 5; ++i) d.Files[size_t(i)].Name = names[i];
  transfer::FSCompressFileList(0);
  ASSERT_EQ(d.FileCount, 3);
  EXPECT_EQ(d.Files[0].Name, "a");
  EXPECT_EQ(d.Files[1].Name, "b");
  EXPECT_EQ(d.Files[2].Name, "c");
  transfer::FSCompressFileList(0);
  EXPECT_EQ(d.FileCount, 3);
}

TEST_F(EditTest, RedirectMovesOneClusterOfAChain) {
  ib::DiskImage model(Spec(2068, 60));
  ib::FileSpec f;
  f.Path = "\\DataFiles\\f.rec";
  f.Size = 3 * model.ClusterBytes();
  f.Chain = {10, 11, 12};
  f.Data = ib::Content::Pattern(4);
  model.AddFile(f);
  LoadRecorder(model, 0, 0);
  auto& fat = core::Disk[0].FAT;

  ASSERT_TRUE(transfer::FSRedirectFAT(0, 11, 30, true));
  EXPECT_EQ(fat[10].Next, 30);
  EXPECT_EQ(fat[30].Prev, 10);
  EXPECT_EQ(fat[30].Next, 12);
  EXPECT_EQ(fat[12].Prev, 30);
  EXPECT_EQ(fat[11].Next, 0);
  EXPECT_EQ(fat[11].Prev, 0);
  {
    ib::ImageFile image(DrivePath(0));
    EXPECT_EQ(image.ReadClusterRaw(31), image.ReadClusterRaw(12));
  }
  // The head and the tail: no neighbour on the open side.
  ASSERT_TRUE(transfer::FSRedirectFAT(0, 10, 40, false));
  EXPECT_EQ(fat[40].Prev, 0);
  EXPECT_EQ(fat[30].Prev, 40);
  ASSERT_TRUE(transfer::FSRedirectFAT(0, 12, 41, false));
  EXPECT_EQ(fat[41].Next, -1);
  EXPECT_EQ(fat[30].Next, 41);
  EXPECT_EQ(fat[12].Next, 0);
  // Out of range changes nothing.
  EXPECT_FALSE(transfer::FSRedirectFAT(0, 41, core::Disk[0].LastCluster + 1, false));
  EXPECT_FALSE(transfer::FSRedirectFAT(0, -1, 50, false));
  EXPECT_EQ(fat[41].Next, -1);
}

}  // namespace
