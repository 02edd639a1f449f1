// The directory-entry editors write their bytes and nothing else.
#include "core/entry_edit.h"

#include <sys/stat.h>

#include <ctime>
#include <fstream>

#include "tests/core/writer_fixture.h"

namespace writertest {
namespace {

constexpr uint64_t kClusterBytes = 2068ull * 512;

class EntryEdit : public WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    ib::DiskImage model(SmallSpec(30));
    ib::FolderSpec films;
    films.Path = "\\DataFiles\\Films";
    films.Index = 7;
    model.AddFolder(films);
    model.AddFolder("\\DataFiles\\Films\\Sub", 8);
    for (auto [path, start] : {std::pair<const char*, uint32_t>{"\\DataFiles\\a.rec", 10},
                               {"\\DataFiles\\Films\\b.rec", 12},
                               {"\\DataFiles\\Films\\c.rec", 14}}) {
      ib::FileSpec f;
      f.Path = path;
      f.Size = 1000;
      f.StartIndex = start;
      model.AddFile(f);
    }
    Load(model);
  }
  // View offsets of the image that changed, expected to be exactly `allowed`.
  void ExpectOnlyChanged(const std::vector<uint8_t>& before, const std::set<uint64_t>& allowed) {
    const auto changed = ChangedViewBytes(before, Snapshot());
    for (uint64_t o : changed) EXPECT_TRUE(allowed.count(o)) << "unexpected change at " << o;
  }
  static std::set<uint64_t> Range(uint64_t from, uint64_t length) {
    std::set<uint64_t> s;
    for (uint64_t i = 0; i < length; ++i) s.insert(from + i);
    return s;
  }
};

TEST_F(EntryEdit, FileStartClusterChangesOnlyItsField) {
  core::FileRec& r = Rec("\\DataFiles\\a.rec");
  const auto before = Snapshot();
  r.StartCluster = 25;
  ASSERT_TRUE(core::ModifyTopfFileStartCluster(0, IndexOf("\\DataFiles\\a.rec")));
  EXPECT_EQ(View(3, 128 * r.Slot + 8, 4), Bytes({0, 0, 0, 25}));
  ExpectOnlyChanged(before, Range(At(3, 128 * r.Slot + 8), 4));
}

TEST_F(EntryEdit, MovedFolderCarriesItsLinks) {
  // The caller has copied the folder's cluster to its new place.
  Image().WriteClusterView(21, Image().ReadClusterView(8));
  core::FileRec& films = Rec("\\DataFiles\\Films");
  films.StartCluster = 20;
  ASSERT_TRUE(core::ModifyTopfFileStartCluster(0, IndexOf("\\DataFiles\\Films")));
  EXPECT_EQ(ViewU32(3, 128 * films.Slot + 8), 20u);
  EXPECT_EQ(ViewU32(21, 8), 20u);                       // its "."
  EXPECT_EQ(ViewU32(9, 128 + 8), 20u);                  // Sub's ".."
  EXPECT_EQ(Rec("\\DataFiles\\Films\\b.rec").DirCluster, 20);
  EXPECT_EQ(Rec("\\DataFiles\\Films\\c.rec").DirCluster, 20);
  EXPECT_EQ(Rec("\\DataFiles\\Films\\Sub").DirCluster, 20);
  EXPECT_EQ(Rec("\\DataFiles\\a.rec").DirCluster, 2);
}

TEST_F(EntryEdit, RootEntryStartClusterAlsoInTheSystemClusterCopy) {
  core::FileRec& data = Rec("\\DataFiles");
  ASSERT_EQ(data.DirCluster, 0);
  Image().WriteClusterView(23, Image().ReadClusterView(3));
  core::InvalidateSideCache(0);
  data.StartCluster = 22;
  ASSERT_TRUE(core::ModifyTopfFileStartCluster(0, IndexOf("\\DataFiles")));
  EXPECT_EQ(ViewU32(1, 128 * data.Slot + 8), 22u);
  EXPECT_EQ(ViewU32(0, 1024 + 128 * data.Slot + 8), 22u);
  bool found = false;
  for (int k = 0; k < core::Disk[0].RootCopyCount; ++k)
    if (core::Disk[0].RootCopy[size_t(k)].Slot == data.Slot) {
      EXPECT_EQ(core::Disk[0].RootCopy[size_t(k)].StartCluster, 22);
      found = true;
    }
  EXPECT_TRUE(found);
  EXPECT_EQ(Image().SuperU32(ib::kSbFatCrc), Image().ComputeFatCrc(uint32_t(Last())));
}

TEST_F(EntryEdit, CryptFlagsWriteTwoBytes) {
  core::FileRec& r = Rec("\\DataFiles\\Films\\b.rec");
  const uint64_t slot = 128 * uint64_t(r.Slot);
  Image().WriteView(At(8, slot + 125), {0x77});   // a stale check byte is put right with the entry
  core::InvalidateSideCache(0);
  auto before = Snapshot();
  r.CryptValid = true;
  r.CryptFlags = 3;
  ASSERT_TRUE(core::ModifyTopfFileCryptFlags(0, IndexOf(r.Name)));
  EXPECT_EQ(View(8, slot + 120, 2), Bytes({0x04, 0x03}));
  const auto last = View(8, slot + 125, 3);
  EXPECT_EQ(last[0], uint8_t(last[1] + last[2] + 1));
  ExpectOnlyChanged(before, Range(At(8, slot + 120), 6));

  r.CryptValid = false;
  r.CryptFlags = 1;
  ASSERT_TRUE(core::ModifyTopfFileCryptFlags(0, IndexOf(r.Name)));
  EXPECT_EQ(View(8, slot + 120, 2), Bytes({0x00, 0x00}));
}

TEST_F(EntryEdit, DateKeepsTheSeconds) {
  core::FileRec& r = Rec("\\DataFiles\\a.rec");
  const uint64_t slot = 128 * uint64_t(r.Slot);
  const uint8_t seconds = View(3, slot + 5, 1)[0];
  const auto before = Snapshot();
  r.RecDate = core::DateValue(2000, 1, 1, 20, 15, 59);
  ASSERT_TRUE(core::ModifyTopfFileDate(0, IndexOf(r.Name)));
  EXPECT_EQ(View(3, slot + 1, 4), Bytes({0xC9, 0x58, 0x14, 0x0F}));
  EXPECT_EQ(View(3, slot + 5, 1)[0], seconds);
  ExpectOnlyChanged(before, Range(At(3, slot + 1), 4));
}

TEST_F(EntryEdit, RootEntryIsEditedInDiskClusterOne) {
  core::FileRec& r = Rec("\\ProgramFiles");
  const auto before = Snapshot();
  r.RecDate = core::DateValue(2001, 2, 3, 4, 5, 0);
  ASSERT_TRUE(core::ModifyTopfFileDate(0, IndexOf(r.Name)));
  ExpectOnlyChanged(before, Range(At(1, 128 * r.Slot + 1), 4));
  EXPECT_EQ(View(1, 128 * r.Slot + 3, 2), Bytes({4, 5}));
}

TEST_F(EntryEdit, UnreadableDirectoryIsNotWritten) {
  core::FileRec& r = Rec("\\DataFiles\\Films\\b.rec");
  const auto before = Snapshot();
  r.DirCluster = Last() + 5;   // beyond the disk: the read fails
  r.CryptValid = true;
  EXPECT_FALSE(core::ModifyTopfFileCryptFlags(0, IndexOf(r.Name)));
  EXPECT_FALSE(core::ModifyTopfFileDate(0, IndexOf(r.Name)));
  r.DirCluster = -1;
  EXPECT_FALSE(core::ModifyTopfFileCryptFlags(0, IndexOf(r.Name)));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(EntryEdit, PcFileGetsTheDateAsLocalTime) {
  const std::string path = Folder() + "/pc.ts";
  std::ofstream(path) << "x";
  core::DiskId[1] = 1;
  core::Disk[1].FileCount = 1;
  core::Disk[1].Files[0].Name = path;
  core::Disk[1].Files[0].RecDate = core::DateValue(2004, 7, 8, 9, 10, 11);
  ASSERT_TRUE(core::ModifyTopfFileDate(1, 0));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  std::tm tm{};
  const std::time_t t = st.st_mtime;
  localtime_r(&t, &tm);
  EXPECT_EQ(tm.tm_year + 1900, 2004);
  EXPECT_EQ(tm.tm_mon + 1, 7);
  EXPECT_EQ(tm.tm_mday, 8);
  EXPECT_EQ(tm.tm_hour, 9);
  EXPECT_EQ(tm.tm_min, 10);
}

}  // namespace
}  // namespace writertest
