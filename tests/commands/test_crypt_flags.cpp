// Setting crypt values by hand: the directory entry's bytes 120 and 121, the
// header byte 1396, the file list, and the walk over a pane's items.
#include "commands/crypt_flags.h"
#include "tests/commands/commands_fixture.h"
#include "tests/mainwindow/form1_pane_fixture.h"

namespace {

using mainwindow::Form1;
namespace ib = imagebuilder;

class CryptFlagsTest : public editortest::DataFilesTest {};

TEST_F(CryptFlagsTest, RecordingWithHeaderGetsEntryAndHeaderByte) {
  const std::vector<uint8_t> before = Snapshot();
  EXPECT_TRUE(commands::SetRecordingCryptValue(0, Index("good.rec"), commands::kCryptPartially));
  EXPECT_TRUE(R("good.rec").CryptValid);
  EXPECT_EQ(R("good.rec").CryptFlags, 3);

  const std::vector<uint8_t> slot = Image().ReadSlot(uint32_t(R("good.rec").DirCluster),
                                                    R("good.rec").Slot);
  EXPECT_EQ(slot[120], 4);
  EXPECT_EQ(slot[121], 3);
  const uint32_t c = FirstCluster("\\DataFiles\\good.rec");
  EXPECT_EQ(ClusterView(c)[1396], 3);

  std::set<uint64_t> allowed = {EntryByte("good.rec", 120), EntryByte("good.rec", 121),
                                uint64_t(c) * editortest::kClusterBytes + 1396};
  ExpectChangedOnly(before, Snapshot(), allowed);

  // The loader reads the value back.
  Reload();
  EXPECT_EQ(R("good.rec").CryptFlags, 3);
}

TEST_F(CryptFlagsTest, RecordingWithoutHeaderChangesOnlyItsEntry) {
  const std::vector<uint8_t> before = Snapshot();
  EXPECT_TRUE(commands::SetRecordingCryptValue(0, Index("bare.rec"), commands::kCryptCrypted));
  ExpectChangedOnly(before, Snapshot(),
                    {EntryByte("bare.rec", 120), EntryByte("bare.rec", 121)});
  EXPECT_EQ(Image().ReadSlot(uint32_t(R("bare.rec").DirCluster), R("bare.rec").Slot)[121], 1);
}

TEST_F(CryptFlagsTest, SettingTheSameValueAgainWritesItAgain) {
  ASSERT_TRUE(commands::SetRecordingCryptValue(0, Index("good.rec"), 2));
  const std::vector<uint8_t> before = Snapshot();
  EXPECT_TRUE(commands::SetRecordingCryptValue(0, Index("good.rec"), 2));
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(ClusterView(FirstCluster("\\DataFiles\\good.rec"))[1396], 2);
}

TEST_F(CryptFlagsTest, OtherEntriesAreLeftAlone) {
  const std::vector<uint8_t> before = Snapshot();
  EXPECT_FALSE(commands::SetRecordingCryptValue(0, Index("note.txt"), 1));
  EXPECT_FALSE(commands::SetRecordingCryptValue(0, Index("dir.rec"), 1));
  EXPECT_FALSE(commands::SetRecordingCryptValue(0, -1, 1));
  EXPECT_FALSE(commands::SetRecordingCryptValue(0, core::Disk[0].FileCount, 1));
  EXPECT_FALSE(R("note.txt").CryptValid);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CryptFlagsTest, AFirstClusterWithoutHeaderIsNotWritten) {
  // The list believes in a header the disk does not have.
  R("bare.rec").HasRecHeader = true;
  const std::vector<uint8_t> before = Snapshot();
  EXPECT_TRUE(commands::SetRecordingCryptValue(0, Index("bare.rec"), 1));
  ExpectChangedOnly(before, Snapshot(),
                    {EntryByte("bare.rec", 120), EntryByte("bare.rec", 121)});
}

TEST_F(CryptFlagsTest, APcSideIsNeverWritten) {
  core::DiskId[0] = 1;   // the side now shows a PC drive
  const std::vector<uint8_t> before = Snapshot();
  EXPECT_FALSE(commands::SetRecordingCryptValue(0, Index("good.rec"), 1));
  EXPECT_EQ(Snapshot(), before);
}

// ---------------------------------------------------------- the menu commands

class CryptMenuTest : public form1test::PaneTest {
 protected:
  int Index(const QString& key) { return Form1::IndexFromKey(key); }
  static void ActiveSideIs(int side) { mainwindow::ActiveSide = side; }
  core::FileRec& Record(const QString& key) { return core::Disk[0].Files[size_t(Index(key))]; }
};

TEST_F(CryptMenuTest, CheckedItemsGetTheValueAndEndUnchecked) {
  StandardPanes();
  form->SelectDirectory(0, "\\DataFiles\\");
  const QString good = KeyOf(0, "good.rec"), bare = KeyOf(0, "bare.rec");
  const QString sub = KeyOf(0, "Sub");
  ASSERT_FALSE(good.isEmpty());
  form->LV1[0]->SetChecked(good, true);
  form->LV1[0]->SetChecked(bare, true);
  form->LV1[0]->SetChecked(sub, true);
  ActiveSideIs(0);
  // The pane is not writable: the values are written all the same.
  form->Menu_LVContext_SetPartiallyCrypted_Click();
  EXPECT_EQ(form->CountSelected(0), 0);
  EXPECT_EQ(Record(KeyOf(0, "good.rec")).CryptFlags, 3);
  EXPECT_EQ(Record(KeyOf(0, "bare.rec")).CryptFlags, 3);
  EXPECT_EQ(form->LV1[0]->IconKey(KeyOf(0, "good.rec")), "KeyYG");
  for (const QString& key : form->LV1[0]->Keys()) EXPECT_FALSE(form->LV1[0]->Bold(key));

  ib::ImageFile disk(DrivePath(1));
  const core::FileRec& g = Record(KeyOf(0, "good.rec"));
  EXPECT_EQ(disk.ReadSlot(uint32_t(g.DirCluster), g.Slot)[121], 3);
  EXPECT_EQ(disk.ReadClusterView(uint32_t(g.StartCluster) + 1)[1396], 3);
}

TEST_F(CryptMenuTest, NothingCheckedSetsOnlyTheSelectedItem) {
  StandardPanes();
  form->SelectDirectory(0, "\\DataFiles\\");
  form->LV1[0]->SetSelectedKey(KeyOf(0, "bare.rec"));
  ActiveSideIs(0);
  form->Menu_LVContext_SetCrypted_Click();
  EXPECT_EQ(Record(KeyOf(0, "bare.rec")).CryptFlags, 1);
  EXPECT_TRUE(Record(KeyOf(0, "bare.rec")).CryptValid);
  EXPECT_FALSE(Record(KeyOf(0, "good.rec")).CryptValid && Record(KeyOf(0, "good.rec")).CryptFlags == 1);
  EXPECT_EQ(form->CountSelected(0), 0);

  form->LV1[0]->SetSelectedKey(KeyOf(0, "bare.rec"));
  form->Menu_LVContext_SetUnCrypted_Click();
  EXPECT_EQ(Record(KeyOf(0, "bare.rec")).CryptFlags, 2);
}

TEST_F(CryptMenuTest, APcPaneIsLeftAlone) {
  StandardPanes();
  const QString film = KeyOf(1, "film.ts");
  ASSERT_FALSE(film.isEmpty());
  form->LV1[1]->SetChecked(film, true);
  ActiveSideIs(1);
  const std::string disk = ib::ReadWholeFile(DrivePath(1));
  form->Menu_LVContext_SetCrypted_Click();
  EXPECT_EQ(ib::ReadWholeFile(DrivePath(1)), disk);
}

}  // namespace
