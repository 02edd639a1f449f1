// Kill Disk, Change D0 -> D1, Write Recovered and Enable Write Mode through
// the main window's menus, on builder images.
#include <gtest/gtest.h>

#include "commands/disk_maint.h"
#include "core/cluster_io.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/settings.h"
#include "tests/mainwindow/form1_pane_fixture.h"

namespace {

namespace ib = imagebuilder;
using form1test::PaneTest;

constexpr uint32_t kSpc = 2068;
constexpr size_t kClusterBytes = size_t(kSpc) * 512;

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<platform::FolderEntry> entries;
  platform::ListFolder(folder, entries);
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.Name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(KillDiskSize, ClustersCoveringTheFirst25000Sectors) {
  EXPECT_EQ(commands::KillDiskLastCluster(2068), 12);
  EXPECT_EQ(commands::KillDiskLastCluster(4512), 5);
  EXPECT_EQ(commands::KillDiskLastCluster(25001), 0);
  EXPECT_EQ(commands::KillDiskLastCluster(0), 0);
  EXPECT_EQ(commands::ChangeD0D1Text(0), "No attributes to modify.");
  EXPECT_EQ(commands::ChangeD0D1Text(1), "1 file attribute has been modified.");
  EXPECT_EQ(commands::ChangeD0D1Text(3), "3 file attributes have been modified.");
}

class DiskMaintTest : public PaneTest {
 protected:
  std::vector<uint8_t> ClusterRaw(uint32_t diskCluster) {
    ib::ImageFile f(DrivePath(1), kSpc);
    return f.ReadClusterRaw(diskCluster);
  }
  int FindFile(int side, const std::string& name) {
    for (int i = 0; i < core::Disk[side].FileCount; ++i)
      if (core::Disk[side].Files[size_t(i)].Name == name) return i;
    return -1;
  }
};

// ------------------------------------------------------------- Kill Disk

TEST_F(DiskMaintTest, KillDiskAnsweredNoChangesNothing) {
  StandardPanes();
  const auto first = ClusterRaw(0), dir = ClusterRaw(3);
  const int32_t flags = core::Flags;
  const uint64_t writes = core::SectorWriteCalls;
  script.ExpectMsgBox("Really erase the disk?", ui::Answer::No, ui::ScriptedUi::Match::Exact);
  form->Menu_Expert_KillDisk->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(script.Prompts()[0].ButtonSet, ui::Buttons::YesNo);
  EXPECT_EQ(script.Prompts()[0].IconShown, ui::Icon::Question);
  EXPECT_EQ(core::SectorWriteCalls, writes);
  EXPECT_EQ(core::Flags, flags);
  EXPECT_EQ(ClusterRaw(0), first);
  EXPECT_EQ(ClusterRaw(3), dir);
}

TEST_F(DiskMaintTest, KillDiskZeroesTheFirstClustersOnlyAndGoesToDisasterMode) {
  StandardPanes();
  const int64_t size = platform::FileLength(DrivePath(1));
  const auto after = ClusterRaw(13);
  const auto pcBefore = FolderNames(pc_), appBefore = FolderNames(app_);
  core::Flags = core::FlagNormal | core::FlagWriteMode | core::FlagSide0Writable |
                core::FlagSide1Writable | 0x40;
  script.ExpectMsgBox("Really erase the disk?", ui::Answer::Yes);
  form->Menu_Expert_KillDisk->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::Flags, 0x40 | core::FlagDisasterMode);
  EXPECT_GE(script.BusyCount(), 1);
  EXPECT_FALSE(script.Busy());

  // Disk clusters 0 .. 12 are zero; cluster 0 keeps only the FAT CRC that
  // every write of the system cluster stores (at 48 and 560).
  ib::ImageFile f(DrivePath(1), kSpc);
  std::vector<uint8_t> zero(kClusterBytes, 0);
  auto system = f.ReadClusterView(0);
  for (size_t o : {size_t(48), size_t(560)})
    for (size_t k = 0; k < 4; ++k) system[o + k] = 0;
  EXPECT_TRUE(system == zero);
  for (uint32_t c = 1; c <= 12; ++c) EXPECT_TRUE(f.ReadClusterView(c) == zero) << c;
  EXPECT_EQ(ClusterRaw(13), after);
  EXPECT_EQ(platform::FileLength(DrivePath(1)), size);
  // Nothing went into dump files anywhere.
  EXPECT_EQ(FolderNames(pc_), pcBefore);
  EXPECT_EQ(FolderNames(app_), appBefore);
  // The reload found no disk; disaster mode offers Kill Disk again.
  EXPECT_EQ(core::Disk[0].FileCount, 0);
  EXPECT_TRUE(form->Menu_Expert_KillDisk->isEnabled());
  EXPECT_FALSE(form->Menu_Disk_EnableWriting->isEnabled());

  // Again on the unloaded disk: no cluster size to go by, nothing written.
  const uint64_t writes = core::SectorWriteCalls;
  script.ExpectMsgBox("Really erase the disk?", ui::Answer::Yes)
      .ExpectMsgBox("Only 0 of the", ui::Answer::OK);
  form->Menu_Expert_KillDisk->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::SectorWriteCalls, writes);
}

TEST_F(DiskMaintTest, KillDiskNeverWritesBeyondTheDevice) {
  ib::ImageSpec spec;
  spec.SectorsPerCluster = kSpc;
  spec.LastCluster = 5;
  ib::DiskImage small(spec);
  WriteDrive(small, 1);
  Choose(0, AddRecorder(0, 1));
  ASSERT_LT(core::Disk[0].LastCluster, 12);
  const int64_t size = platform::FileLength(DrivePath(1));
  script.ExpectMsgBox("Really erase the disk?", ui::Answer::Yes)
      .ExpectMsgBox("clusters at the start of the disk could be erased", ui::Answer::OK);
  form->Menu_Expert_KillDisk->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(platform::FileLength(DrivePath(1)), size);
  ib::ImageFile f(DrivePath(1), kSpc);
  EXPECT_TRUE(f.ReadClusterView(1) == std::vector<uint8_t>(kClusterBytes, 0));
}

// ------------------------------------------------------- Change D0 -> D1

ib::DiskImage D0Image() {
  ib::DiskImage img = form1test::StandardImage();
  for (const char* name : {"\\DataFiles\\movie.Rec", "\\DataFiles\\movie.ts"}) {
    ib::FileSpec f;
    f.Path = name;
    f.Attribute = ib::kAttrFile;
    f.Size = 5000;
    img.AddFile(f);
  }
  return img;
}

TEST_F(DiskMaintTest, ChangeD0D1TurnsPlainRecFilesIntoRecordings) {
  ib::DiskImage img = D0Image();
  StandardPanes(img);
  const int rec = FindFile(0, "\\DataFiles\\movie.Rec");
  const int ts = FindFile(0, "\\DataFiles\\movie.ts");
  ASSERT_GE(rec, 0);
  ASSERT_GE(ts, 0);
  ASSERT_EQ(core::Disk[0].Files[size_t(rec)].EntryType, 0xD0);
  script.ExpectMsgBox("1 file attribute has been modified.", ui::Answer::OK,
                      ui::ScriptedUi::Match::Exact);
  form->Menu_Disk_ChangeD0D1->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(script.Prompts()[0].IconShown, ui::Icon::Information);
  ib::ImageFile f(DrivePath(1), kSpc);
  const auto& recEntry = img.Entry("\\DataFiles\\movie.Rec");
  const auto& tsEntry = img.Entry("\\DataFiles\\movie.ts");
  EXPECT_EQ(f.ReadSlot(2, recEntry.Slot)[0], 0xD1);
  EXPECT_EQ(f.ReadSlot(2, tsEntry.Slot)[0], 0xD0);
  EXPECT_EQ(core::Disk[0].Files[size_t(rec)].EntryType, 0xD1);
  EXPECT_EQ(core::Disk[0].Files[size_t(ts)].EntryType, 0xD0);

  // Nothing left to change: no write at all.
  const uint64_t writes = core::SectorWriteCalls;
  script.ExpectMsgBox("No attributes to modify.", ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  form->Menu_Disk_ChangeD0D1->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::SectorWriteCalls, writes);
}

TEST_F(DiskMaintTest, ChangeD0D1CountsSeveralEntries) {
  ib::DiskImage img = D0Image();
  ib::FileSpec f;
  f.Path = "\\DataFiles\\Sub\\second.REC";
  f.Attribute = ib::kAttrFile;
  f.Size = 100;
  img.AddFile(f);
  StandardPanes(img);
  script.ExpectMsgBox("2 file attributes have been modified.", ui::Answer::OK,
                      ui::ScriptedUi::Match::Exact);
  form->Menu_Disk_ChangeD0D1->trigger();
  EXPECT_TRUE(script.AllAnswered());
}

TEST_F(DiskMaintTest, ChangeD0D1LeavesSlotsThatNoLongerHoldTheEntry) {
  ib::DiskImage img = D0Image();
  StandardPanes(img);
  const int rec = FindFile(0, "\\DataFiles\\movie.Rec");
  ASSERT_GE(rec, 0);
  const auto dir = ClusterRaw(3);
  // The list points at the slot of another entry, then at no cluster of the disk.
  core::Disk[0].Files[size_t(rec)].Slot = img.Entry("\\DataFiles\\movie.ts").Slot;
  script.ExpectMsgBox("No attributes to modify.", ui::Answer::OK);
  form->Menu_Disk_ChangeD0D1->trigger();
  core::Disk[0].Files[size_t(rec)].DirCluster = core::Disk[0].LastCluster + 5;
  core::Disk[0].Files[size_t(rec)].Slot = img.Entry("\\DataFiles\\movie.Rec").Slot;
  script.ExpectMsgBox("No attributes to modify.", ui::Answer::OK);
  form->Menu_Disk_ChangeD0D1->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(ClusterRaw(3), dir);
}

// --------------------------------------------------------- Write Recovered

TEST_F(DiskMaintTest, WriteRecoveredCreatesThePendingEntriesAndTheirChains) {
  StandardPanes();
  core::DiskRec& d = core::Disk[0];
  struct Pending {
    std::string Name;
    std::vector<int32_t> Chain;
    double Size;
  };
  const std::vector<Pending> pending = {
      {"\\DataFiles\\Recovered_1.rec", {40, 41}, double(kClusterBytes) + 1000},
      {"\\DataFiles\\Recovered_2.rec", {42}, 5000},
      {"\\DataFiles\\Sub\\Recovered_3.rec", {44, 43}, double(kClusterBytes) + 7},
  };
  for (const Pending& p : pending) {
    for (size_t k = 0; k < p.Chain.size(); ++k) {
      ASSERT_EQ(d.FAT[size_t(p.Chain[k])].Next, 0);
      d.FAT[size_t(p.Chain[k])].Next = k + 1 < p.Chain.size() ? p.Chain[k + 1] : -1;
      d.FAT[size_t(p.Chain[k])].Prev = k ? p.Chain[k - 1] : 0;
    }
    core::CheckArraySize(0);
    core::FileRec r;
    r.Name = p.Name;
    r.EntryType = 0xD1;
    r.StartCluster = p.Chain[0];
    r.ClusterCount = int32_t(p.Chain.size());
    r.Size = p.Size;
    r.RecDate = 38000.5;
    r.Recovered = true;
    r.DirCluster = -1;
    r.Slot = -1;
    d.Files[size_t(d.FileCount++)] = r;
  }
  form->EnableMenus();
  form->Menu_Disk_WriteRecovered->trigger();
  EXPECT_TRUE(script.Prompts().empty()) << script.Prompts()[0].Text;
  EXPECT_GE(script.BusyCount(), 1);
  EXPECT_FALSE(script.Busy());

  // Reloaded from the disk: real entries with their chains.
  ib::ImageFile f(DrivePath(1), kSpc);
  for (const Pending& p : pending) {
    const int i = FindFile(0, p.Name);
    ASSERT_GE(i, 0) << p.Name;
    const core::FileRec& r = core::Disk[0].Files[size_t(i)];
    EXPECT_FALSE(r.Recovered);
    EXPECT_GE(r.DirCluster, 0);
    EXPECT_EQ(r.StartCluster, p.Chain[0]);
    EXPECT_EQ(r.Size, p.Size);
    for (size_t k = 0; k < p.Chain.size(); ++k)
      EXPECT_EQ(f.FatEntry(uint32_t(p.Chain[k])),
                k + 1 < p.Chain.size() ? uint32_t(p.Chain[k + 1]) : ib::kFatEnd);
  }
  EXPECT_EQ(f.SuperU32(ib::kSbFatCrc), f.ComputeFatCrc(uint32_t(core::Disk[0].LastCluster)));
  EXPECT_FALSE(form->Menu_Disk_WriteRecovered->isEnabled());
}

TEST_F(DiskMaintTest, WriteRecoveredWritesNoChainWithoutAnEntry) {
  StandardPanes();
  core::DiskRec& d = core::Disk[0];
  d.FAT[50].Next = -1;
  core::CheckArraySize(0);
  core::FileRec r;
  r.Name = "\\NoSuchFolder\\lost.rec";
  r.StartCluster = 50;
  r.ClusterCount = 1;
  r.Size = 4000;
  r.Recovered = true;
  r.DirCluster = -1;
  r.Slot = -1;
  d.Files[size_t(d.FileCount++)] = r;
  form->EnableMenus();
  script.ExpectMsgBox("", ui::Answer::OK);   // the creation's own message
  form->Menu_Disk_WriteRecovered->trigger();
  EXPECT_TRUE(script.AllAnswered());
  ib::ImageFile f(DrivePath(1), kSpc);
  EXPECT_EQ(f.FatEntry(50), ib::kFatFree);
  EXPECT_EQ(FindFile(0, "\\NoSuchFolder\\lost.rec"), -1);
}

// With the same disk in the right pane, the right pane takes the written
// entries and chains: a copy from there must not hand out their clusters
// or write its older FAT back.
TEST_F(DiskMaintTest, WriteRecoveredBringsARightPaneOnTheSameDiskUpToDate) {
  Flags() = core::FlagNormal | core::FlagWriteMode;
  StandardPanes();
  Choose(1, AddRecorder(1, 1));
  ASSERT_EQ(core::DiskId[1], core::DiskId[0]);
  core::DiskRec& d = core::Disk[0];
  ASSERT_EQ(d.FAT[40].Next, 0);
  d.FAT[40].Next = 41;
  d.FAT[41].Next = -1;
  d.FAT[41].Prev = 40;
  core::CheckArraySize(0);
  core::FileRec r;
  r.Name = "\\DataFiles\\Recovered_1.rec";
  r.EntryType = 0xD1;
  r.StartCluster = 40;
  r.ClusterCount = 2;
  r.Size = double(kClusterBytes) + 1000;
  r.Recovered = true;
  r.DirCluster = -1;
  r.Slot = -1;
  d.Files[size_t(d.FileCount++)] = r;
  form->EnableMenus();
  form->Menu_Disk_WriteRecovered->trigger();
  EXPECT_TRUE(script.Prompts().empty()) << script.Prompts()[0].Text;

  const int i = FindFile(1, "\\DataFiles\\Recovered_1.rec");
  ASSERT_GE(i, 0);
  EXPECT_FALSE(core::Disk[1].Files[size_t(i)].Recovered);
  EXPECT_EQ(core::Disk[1].FAT[40].Next, 41);
  EXPECT_EQ(core::Disk[1].FAT[41].Next, -1);
  EXPECT_TRUE(Texts(1).contains("Recovered_1.rec"));
}

// ------------------------------------------------------- Enable Write Mode

class WriteModeTest : public DiskMaintTest {
 protected:
  void SetUp() override {
    DiskMaintTest::SetUp();
    StandardPanes();
  }
  int RecorderEntries(int side) {
    int n = 0;
    for (int i = 0; i < form->Combo1[side]->count(); ++i)
      n += form->Combo1[side]->itemData(i).toInt() < 1;
    return n;
  }
  void SwitchOn(bool disclaimer) {
    if (disclaimer)
      script.ExpectMsgBox("Remember that YOU are responsible for your data.", ui::Answer::Yes);
    form->Menu_Disk_EnableWriting->trigger();
    ASSERT_TRUE(script.AllAnswered());
  }
};

TEST_F(WriteModeTest, OnOffOnWithTheDisclaimerOnce) {
  ASSERT_EQ(RecorderEntries(1), 0);
  SwitchOn(true);
  EXPECT_TRUE(core::Flags & core::FlagWriteMode);
  EXPECT_TRUE(core::Flags & core::FlagSide0Writable);   // the check passed
  EXPECT_TRUE(core::Flags & core::FlagSide1Writable);   // a PC drive
  EXPECT_EQ(core::CheckState[31 - 1], 2);
  EXPECT_TRUE(form->Menu_Disk_EnableWriting->isChecked());
  EXPECT_EQ(core::GetSetting("View", "WriteMode"), "1");
  EXPECT_EQ(core::GetSetting("View", "WriteModeDisclaimer"), "1");
  EXPECT_EQ(RecorderEntries(1), 1);
  EXPECT_EQ(form->Combo1[1]->itemData(0).toInt(), -1);   // at the top

  form->Menu_Disk_EnableWriting->trigger();   // off: no question
  EXPECT_TRUE(script.Prompts().size() == 1u);
  EXPECT_FALSE(core::Flags & (core::FlagWriteMode | core::FlagSide0Writable));
  EXPECT_FALSE(form->Menu_Disk_EnableWriting->isChecked());
  EXPECT_EQ(core::GetSetting("View", "WriteMode"), "0");
  EXPECT_EQ(RecorderEntries(1), 0);

  SwitchOn(false);   // accepted before: no question
  EXPECT_TRUE(core::Flags & core::FlagWriteMode);
  EXPECT_EQ(RecorderEntries(1), 1);
  // A recorder disk already offered stays there once.
  core::Flags &= ~core::FlagWriteMode;
  form->Menu_Disk_EnableWriting_Click();
  EXPECT_EQ(RecorderEntries(1), 1);
}

TEST_F(WriteModeTest, DeclinedDisclaimerChangesNothing) {
  const int32_t flags = core::Flags;
  script.ExpectMsgBox("Do you want to take the risk?", ui::Answer::No);
  form->Menu_Disk_EnableWriting->trigger();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::Flags, flags);
  EXPECT_FALSE(form->Menu_Disk_EnableWriting->isChecked());
  EXPECT_EQ(core::GetSetting("View", "WriteMode"), "");
  EXPECT_EQ(core::GetSetting("View", "WriteModeDisclaimer"), "");
  EXPECT_EQ(RecorderEntries(1), 0);
}

TEST_F(WriteModeTest, SwitchingOffMovesTheRightPaneToThePcFolder) {
  SwitchOn(true);
  Choose(1, 0);   // the recorder disk on the right
  ASSERT_EQ(core::DiskId[1], -1);
  form->Menu_Disk_EnableWriting->trigger();
  EXPECT_GE(core::DiskId[1], 1);
  EXPECT_EQ(RecorderEntries(1), 0);
  EXPECT_EQ(form->PathLabel(1), PcFolder());
  EXPECT_FALSE(core::Flags & core::FlagWriteMode);
}

}  // namespace
