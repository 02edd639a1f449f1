// Loading a recorder disk image into the model, PC folders, and the
// same-disk copy of a side.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "core/cluster_io.h"
#include "core/disk_io.h"
#include "core/side_file.h"
#include "platform/platform.h"
#include "tests/core/disk_fixture.h"
#include "tests/support/sector_faults.h"

namespace {

using namespace imagebuilder;
using disktest::DiskTest;

class LoadTest : public DiskTest {
 protected:
  // A disk with folders, recordings with and without header, a fragmented
  // file, a skipped entry, a plain file and a second data folder.
  DiskImage MakeImage() {
    DiskImage img;   // SPC 2068, LastCluster about 1000
    img.AddFolder("\\DataFiles\\Films");
    img.AddFolder("\\DataFiles\\Films\\Old");
    img.AddFolder("\\DataFiles2");

    FileSpec news;
    news.Path = "\\DataFiles\\news.rec";
    news.Size = 3 * img.ClusterBytes() + 1000;
    news.When = Date{2004, 3, 7, 21, 42, 30};
    RecHeader header;
    header.DurationMinutes = 45;
    header.ServiceType = 1;
    news.Header = header;
    img.AddFile(news);

    FileSpec plain;
    plain.Path = "\\DataFiles\\Films\\plain.rec";
    plain.Size = 1000000;
    plain.CryptFlags = 4;
    plain.CryptValue = 3;
    img.AddFile(plain);

    FileSpec frag;
    frag.Path = "\\DataFiles\\Films\\frag.rec";
    frag.Size = 2 * img.ClusterBytes() + 77;
    frag.Chain = {300, 120, 500};
    frag.Header = RecHeader{};
    img.AddFile(frag);

    FileSpec skipped;
    skipped.Path = "\\DataFiles\\skipped.rec";
    skipped.Size = 5000;
    skipped.SkipByte = 1;
    img.AddFile(skipped);

    FileSpec doc;
    doc.Path = "\\DataFiles\\Films\\Old\\doc.txt";
    doc.Data = Content::Of("0123456789");
    img.AddFile(doc);

    FileSpec other;
    other.Path = "\\DataFiles2\\x.rec";
    other.Size = 4096;
    img.AddFile(other);
    return img;
  }
};

TEST_F(LoadTest, LoadsTheWholeModel) {
  DiskImage img = MakeImage();
  WriteImage(img, 3);
  ASSERT_TRUE(OpenAndLoad(0, 3));
  const core::DiskRec& d = core::Disk[0];
  ImageFile raw(DrivePath(3));

  EXPECT_EQ(d.IdString, "TOPFIELD TF5000PVR HDD");
  EXPECT_EQ(d.SectorsPerCluster, 2068);
  EXPECT_EQ(d.LastCluster, img.LastCluster());
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08X", raw.SuperU32(48));
  EXPECT_EQ(d.CrcId, crc);
  EXPECT_EQ(d.BackupCrcId, "");
  // The wait window named the drive.
  ASSERT_FALSE(script.WaitTexts().empty());
  EXPECT_EQ(script.WaitTexts().front(), "Loading Topfield Disk 3. Please stand by.");
  EXPECT_FALSE(script.WaitShown());

  // Root copy: __ROOT__, __RECYCLE__, DataFiles, ProgramFiles.
  ASSERT_EQ(d.RootCopyCount, 4);
  EXPECT_EQ(d.RootCopy[2].StartCluster, 2);
  EXPECT_EQ(d.RootCopy[2].Slot, 2);

  // Every entry of the model but the skipped one, and nothing else.
  int expected = 0;
  for (const std::string& path : img.Paths()) {
    const ModelEntry& e = img.Entry(path);
    const core::FileRec* rec = Find(0, path);
    if (path == "\\DataFiles\\skipped.rec") {
      EXPECT_EQ(rec, nullptr);
      continue;
    }
    ++expected;
    ASSERT_NE(rec, nullptr) << path;
    EXPECT_EQ(rec->IsDir, e.IsDir) << path;
    EXPECT_EQ(rec->EntryType, e.Attribute) << path;
    EXPECT_EQ(rec->StartCluster, int32_t(e.Chain.front())) << path;
    EXPECT_EQ(rec->Slot, e.Slot) << path;
    EXPECT_EQ(rec->DirCluster, int32_t(img.FolderIndex(e.Parent))) << path;
    if (!e.IsDir) {
      EXPECT_EQ(rec->Size, double(e.Size)) << path;
      EXPECT_EQ(rec->ClusterCount, int32_t(e.Chain.size())) << path;
      const double date = core::DateValue(e.When.Year, e.When.Month, e.When.Day, e.When.Hour,
                                          e.When.Minute, 0);
      EXPECT_NEAR(rec->RecDate, date, 1e-7) << path;
      EXPECT_EQ(rec->HasRecHeader, e.File.Header.has_value()) << path;
    } else {
      EXPECT_EQ(rec->RecDate, 0) << path;
      EXPECT_EQ(rec->ServiceType, 2) << path;
    }
  }
  EXPECT_EQ(d.FileCount, expected);
  const core::FileRec* recycle = Find(0, "\\__RECYCLE__");
  ASSERT_NE(recycle, nullptr);
  EXPECT_EQ(recycle->EntryType, core::AttrRecycle);
  EXPECT_EQ(recycle->StartCluster, 1);

  // Recording details.
  const core::FileRec* news = Find(0, "\\DataFiles\\news.rec");
  ASSERT_NE(news, nullptr);
  EXPECT_EQ(news->EntryType, core::AttrRecording);
  EXPECT_TRUE(news->HasRecHeader);
  EXPECT_EQ(news->Duration, 45);
  EXPECT_EQ(news->ServiceType, 1);
  EXPECT_NEAR(news->RecDate, core::DateSerial(2004, 3, 7) + (21 * 60 + 42) / 1440.0, 1e-9);
  EXPECT_EQ(news->ParentCluster, 0);
  const core::FileRec* plain = Find(0, "\\DataFiles\\Films\\plain.rec");
  ASSERT_NE(plain, nullptr);
  EXPECT_FALSE(plain->HasRecHeader);
  EXPECT_EQ(plain->ServiceType, 2);
  EXPECT_EQ(plain->Duration, 0);
  EXPECT_TRUE(plain->CryptValid);
  EXPECT_EQ(plain->CryptFlags, 3);
  EXPECT_EQ(plain->ParentCluster, 2);   // the ".." of \DataFiles\Films
  const core::FileRec* doc = Find(0, "\\DataFiles\\Films\\Old\\doc.txt");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->EntryType, core::AttrFile);
  EXPECT_EQ(doc->Size, 10);

  // The fragmented chain with its back links.
  EXPECT_EQ(d.FAT[300].Next, 120);
  EXPECT_EQ(d.FAT[120].Next, 500);
  EXPECT_EQ(d.FAT[500].Next, -1);
  EXPECT_EQ(d.FAT[120].Prev, 300);
  EXPECT_EQ(d.FAT[500].Prev, 120);
  EXPECT_EQ(d.FAT[300].Prev, 0);
  EXPECT_EQ(d.FAT[0].Next, -1);   // the root directory
  for (int32_t i = 0; i <= d.LastCluster; ++i)
    ASSERT_EQ(d.FAT[size_t(i)].Next != 0, img.IndexUsed(uint32_t(i))) << i;

  // Directory totals: by path with the closing backslash.
  const double films = double(img.Entry("\\DataFiles\\Films\\plain.rec").Size +
                              img.Entry("\\DataFiles\\Films\\frag.rec").Size + 10);
  EXPECT_EQ(Find(0, "\\DataFiles\\Films")->Size, films);
  EXPECT_EQ(Find(0, "\\DataFiles\\Films\\Old")->Size, 10);
  EXPECT_EQ(Find(0, "\\DataFiles")->Size, films + double(img.Entry("\\DataFiles\\news.rec").Size));
  EXPECT_EQ(Find(0, "\\DataFiles2")->Size, 4096);

  // The free space counts the free FAT elements.
  int64_t free = 0;
  for (int32_t i = 0; i <= d.LastCluster; ++i) free += img.IndexUsed(uint32_t(i)) ? 0 : 1;
  EXPECT_EQ(core::FSGetFreeSpace(0), double(free) * 2068 * 512);
  core::Flags |= core::FlagDisasterMode;
  EXPECT_EQ(core::FSGetFreeSpace(0), 0);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_TRUE(core::List1.Empty());
}

TEST_F(LoadTest, BackupCrcTrailerAndForeignIdentity) {
  ImageSpec spec;
  spec.BackupCrc = 0x0000ABCD;
  DiskImage img(spec);
  WriteImage(img, 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  EXPECT_EQ(core::Disk[0].BackupCrcId, "0000ABCD");

  ImageSpec other;
  other.IdString = "TOPFIELD PVR HDD";
  DiskImage foreign(other);
  WriteImage(foreign, 1);
  ASSERT_TRUE(Open(1, 1));
  EXPECT_FALSE(core::LoadTopf(1, true));
  EXPECT_EQ(core::Disk[1].FileCount, 0);
}

TEST_F(LoadTest, DamagedSubdirectoryIsReportedAndReadAllTheSame) {
  DiskImage img;
  const uint32_t bad = img.AddFolder("\\DataFiles\\Bad");
  FileSpec f;
  f.Path = "\\DataFiles\\Bad\\inside.rec";
  f.Size = 2000;
  img.AddFile(f);
  // A file behind the used range of the root: not visited.
  WriteImage(img, 0);
  {
    ImageFile raw(DrivePath(0));
    std::vector<uint8_t> slot = raw.ReadSlot(bad, 1);
    slot[0] = 0x00;   // the ".." entry is gone
    raw.WriteSlot(bad, 1, slot);
  }
  script.ExpectMsgBox("Damaged subdirectory '\\DataFiles\\Bad\\'; Cluster " + std::to_string(bad) +
                          "\nPlease run a file system check.",
                      ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  EXPECT_TRUE(script.AllAnswered());
  ASSERT_EQ(script.Prompts().size(), 1u);
  EXPECT_EQ(script.Prompts()[0].IconShown, ui::Icon::Exclamation);
  EXPECT_EQ(script.Prompts()[0].Title, core::Program().Title);
  EXPECT_NE(Find(0, "\\DataFiles\\Bad\\inside.rec"), nullptr);
}

TEST_F(LoadTest, RootSlotsBeyondTheUsedRangeAreNotVisited) {
  DiskImage img;
  FileSpec f;
  f.Path = "\\late.rec";   // slot 4
  f.Size = 100;
  img.AddFile(f);
  // Used bytes of the root ("." FreeBytes = cluster - used): every slot that
  // begins below them is visited, also one they cover only in part.
  for (auto [used, listed] : {std::pair{512, false}, {513, true}, {639, true}, {640, true}}) {
    SCOPED_TRACE(used);
    WriteImage(img, 0);
    {
      ImageFile raw(DrivePath(0));
      std::vector<uint8_t> self = raw.ReadSlot(0, 0);
      PutBE32(self.data() + 16, uint32_t(raw.ClusterBytes() - used));
      raw.WriteSlot(0, 0, self);
    }
    ASSERT_TRUE(OpenAndLoad(0, 0));
    EXPECT_EQ(Find(0, "\\late.rec") != nullptr, listed);
    EXPECT_NE(Find(0, "\\ProgramFiles"), nullptr);
  }
}

// A root folder that cannot be read in full: its first four slots (DataFiles
// among them) come from the root copy in the system cluster where they could
// not be read; the slots read are kept; without the copy, as before.
TEST_F(LoadTest, UnreadRootSlotsAreTakenFromTheRootCopy) {
  DiskImage img;
  img.AddFolder("\\DataFiles\\Films");
  FileSpec f;
  f.Path = "\\late.rec";   // slot 4, in the root's second sector
  f.Size = 100;
  img.AddFile(f);
  WriteImage(img, 0);
  const uint32_t root = 2068;   // the root cluster's first sector
  struct Case { std::vector<uint32_t> Unread; bool DataFiles, Late; const char* Told; };
  for (const Case& c : std::vector<Case>{
           {{root}, true, true, "(cluster 0; its first entries were taken from the root directory copy"},
           {{root + 1}, true, false, "read:\r\nthe folder '\\' (cluster 0)"},
           {{root, 2}, false, true, "the root directory copy\r\nthe folder '\\' (cluster 0)"}}) {
    SCOPED_TRACE(c.Told);
    core::ReadIncomplete[core::DriveSlot(0)] = false;   // a new run
    faults::SectorFaults faults;
    faults.FailReadsWhere([&](uint32_t first, int32_t n) {
      for (uint32_t s : c.Unread)
        if (s >= first && s < first + uint32_t(n)) return true;
      return false;
    });
    script.ExpectMsgBox(c.Told, ui::Answer::OK);
    ASSERT_TRUE(OpenAndLoad(0, 0));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(Find(0, "\\DataFiles\\Films") != nullptr, c.DataFiles);
    EXPECT_EQ(Find(0, "\\late.rec") != nullptr, c.Late);
    EXPECT_TRUE(core::DiskWriteRefused(0));
  }
}

TEST_F(LoadTest, StartClusterLimitIsLastClusterPlusTen) {
  DiskImage img;
  FileSpec a, b;
  a.Path = "\\DataFiles\\a.rec";
  a.Size = 100;
  b.Path = "\\DataFiles\\b.rec";
  b.Size = 100;
  img.AddFile(a);
  img.AddFile(b);
  WriteImage(img, 0);
  const int64_t last = img.LastCluster();
  {
    ImageFile raw(DrivePath(0));
    int slotA = img.Entry("\\DataFiles\\a.rec").Slot, slotB = img.Entry("\\DataFiles\\b.rec").Slot;
    std::vector<uint8_t> s = raw.ReadSlot(2, slotA);
    PutBE32(s.data() + 8, uint32_t(last + 10));
    raw.WriteSlot(2, slotA, s);
    s = raw.ReadSlot(2, slotB);
    PutBE32(s.data() + 8, uint32_t(last + 11));
    raw.WriteSlot(2, slotB, s);
  }
  ASSERT_TRUE(OpenAndLoad(0, 0));
  ASSERT_NE(Find(0, "\\DataFiles\\a.rec"), nullptr);
  EXPECT_FALSE(Find(0, "\\DataFiles\\a.rec")->HasRecHeader);
  EXPECT_EQ(Find(0, "\\DataFiles\\b.rec"), nullptr);
}

TEST_F(LoadTest, SameDiskOnBothSidesCopiesTheRecord) {
  DiskImage img;
  img.AddFolder("\\DataFiles\\X");
  WriteImage(img, 2);
  ASSERT_TRUE(OpenAndLoad(0, 2));
  ASSERT_TRUE(Open(1, 2));
  const int32_t handle1 = core::Disk[1].Handle;
  ASSERT_NE(handle1, core::Disk[0].Handle);
  const uint64_t reads = core::SectorReadCalls;
  EXPECT_FALSE(core::LoadTopf(1, false));
  EXPECT_EQ(core::SectorReadCalls, reads);   // the disk was not read
  EXPECT_EQ(core::Disk[1].Handle, handle1);
  EXPECT_EQ(core::Disk[1].FileCount, core::Disk[0].FileCount);
  EXPECT_EQ(core::Disk[1].CrcId, core::Disk[0].CrcId);
  core::Disk[0].Files[0].Name = "changed";
  EXPECT_NE(core::Disk[1].Files[0].Name, "changed");
}

TEST_F(LoadTest, FileListGrowsByTheRule) {
  core::Disk[0].FileCount = 1000;
  core::CheckArraySize(0);
  EXPECT_EQ(core::Disk[0].Files.size(), 1001u);
  core::Disk[0].FileCount = 1001;
  core::CheckArraySize(0);
  EXPECT_EQ(core::Disk[0].Files.size(), 2003u);   // 0 To 2002
}

TEST_F(LoadTest, ManyEntriesGrowTheList) {
  ImageSpec spec;
  spec.LastCluster = 3000;
  DiskImage img(spec);
  img.AddFolder("\\DataFiles\\A");
  img.AddFolder("\\DataFiles\\B");
  for (int i = 0; i < 1200; ++i) {
    FileSpec f;
    f.Path = std::string(i % 2 ? "\\DataFiles\\A\\f" : "\\DataFiles\\B\\f") +
             std::to_string(i) + ".rec";
    f.Size = 100;
    img.AddFile(f);
  }
  WriteImage(img, 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  EXPECT_EQ(core::Disk[0].FileCount, 1205);
  EXPECT_EQ(core::Disk[0].Files.size(), 2003u);   // grown once, from 0..1000 to 0..2002
  EXPECT_EQ(Find(0, "\\DataFiles")->Size, 120000);
}

TEST_F(LoadTest, PCFolderListsOneLevelWithoutHiddenFilesOrFolderLinks) {
  const std::string dir = Folder() + "/pc";
  ASSERT_TRUE(platform::MakePath(dir + "/sub/deeper"));
  std::string header(512, '\0');
  header.replace(0, 6, std::string("TFrc\x50\0", 6));
  header[8] = 0;
  header[9] = 90;
  header[13] = 0;
  WriteWholeFile(dir + "/film.rec", header + std::string(3000, 'x'));
  WriteWholeFile(dir + "/small.txt", "abc");
  WriteWholeFile(dir + "/.hidden", "h");
  ASSERT_EQ(symlink((dir + "/sub").c_str(), (dir + "/linkdir").c_str()), 0);
  ASSERT_EQ(symlink((dir + "/small.txt").c_str(), (dir + "/linkfile").c_str()), 0);

  core::Disk[0].SectorsPerCluster = 2068;
  core::DiskId[1] = 1;
  core::CurrentFolder[1] = dir + "/";
  ASSERT_TRUE(core::LoadTopf(1, true));
  const core::DiskRec& d = core::Disk[1];
  EXPECT_EQ(d.FileCount, 4);   // film.rec, small.txt, sub, linkfile
  const core::FileRec* film = Find(1, dir + "/film.rec");
  ASSERT_NE(film, nullptr);
  EXPECT_EQ(film->Size, 3512);
  EXPECT_TRUE(film->HasRecHeader);
  EXPECT_EQ(film->Duration, 90);
  EXPECT_EQ(film->ServiceType, 0);
  EXPECT_EQ(film->ClusterCount, 1);
  EXPECT_EQ(film->EntryType, 0);
  const core::FileRec* small = Find(1, dir + "/small.txt");
  ASSERT_NE(small, nullptr);
  EXPECT_FALSE(small->HasRecHeader);
  EXPECT_EQ(small->ServiceType, 2);
  EXPECT_EQ(small->Size, 3);
  struct stat st {};
  ASSERT_EQ(stat((dir + "/small.txt").c_str(), &st), 0);
  EXPECT_NEAR(small->RecDate, core::DateValueFromTimeT(st.st_mtime), 1e-9);
  const core::FileRec* sub = Find(1, dir + "/sub");
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(sub->IsDir);
  EXPECT_EQ(Find(1, dir + "/sub/deeper"), nullptr);
  EXPECT_EQ(Find(1, dir + "/linkdir"), nullptr);
  EXPECT_EQ(Find(1, dir + "/.hidden"), nullptr);
  EXPECT_EQ(core::Disk[1].SectorsPerCluster, 2068);

  core::CurrentFolder[1] = dir + "/gone/";
  EXPECT_FALSE(core::LoadTopf(1, true));
  EXPECT_EQ(core::Disk[1].FileCount, 4);   // unchanged
}

TEST_F(LoadTest, LoadTopfFATReadsEveryEntry) {
  DiskImage img;
  WriteImage(img, 0);
  {
    ImageFile raw(DrivePath(0));
    raw.SetFatEntry(0x1FFF0, 0x1FFF1);
    raw.SetFatEntry(0x1FFF1, kFatEnd);
    raw.SetFatEntry(7, 0x000000);
  }
  ASSERT_TRUE(OpenAndLoad(0, 0));
  EXPECT_EQ(core::Disk[0].FAT[0x1FFF0].Next, 0);   // beyond LastCluster: not loaded
  core::LoadTopfFAT(0);
  EXPECT_EQ(core::Disk[0].FAT[0x1FFF0].Next, 0x1FFF1);
  EXPECT_EQ(core::Disk[0].FAT[0x1FFF1].Prev, 0x1FFF0);
  EXPECT_EQ(core::Disk[0].FAT[7].Next, 0);
}

}  // namespace
