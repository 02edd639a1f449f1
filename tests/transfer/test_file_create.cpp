// Creating files and folders on both kinds of side, and target paths that
// stay inside the target folder whatever the recorder disk holds.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "platform/platform.h"
#include "tests/transfer/transfer_fixture.h"

namespace {

using namespace transfertest;

bool IsDir(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  std::vector<platform::FolderEntry> entries;
  platform::ListFolder(folder, entries);
  for (const auto& e : entries) names.insert(e.Name);
  return names;
}

class CreateTest : public TransferTest {};

TEST_F(CreateTest, PcFileReplacesAFileButNeverAFolderOrALinkTarget) {
  ib::DiskImage model(Spec(2068, 40));
  LoadRecorder(model, 0, 0);
  core::DiskId[1] = 1;

  ib::WriteWholeFile(Pc() + "old.rec", "old contents");
  ASSERT_TRUE(transfer::FSCreateFile(1, Pc() + "old.rec"));
  EXPECT_EQ(core::Disk[1].SectorsPerCluster, 2068);
  EXPECT_EQ(core::Disk[1].OpenFile.CurrentCluster, 0);
  core::FSCloseFile(1);
  EXPECT_EQ(platform::FileLength(Pc() + "old.rec"), 0);

  // No extension: no trailing dot.
  ASSERT_TRUE(transfer::FSCreateFile(1, Pc() + "noext"));
  core::FSCloseFile(1);
  EXPECT_TRUE(Names(Pc()).count("noext"));
  EXPECT_EQ(transfer::PcCreateName(Pc() + "name."), Pc() + "name");

  // A link at the name is replaced by the file; its target stays as it was.
  ib::WriteWholeFile(Pc() + "victim", "keep me");
  ASSERT_EQ(symlink((Pc() + "victim").c_str(), (Pc() + "link.rec").c_str()), 0);
  ASSERT_TRUE(transfer::FSCreateFile(1, Pc() + "link.rec"));
  core::FSCloseFile(1);
  EXPECT_EQ(ib::ReadWholeFile(Pc() + "victim"), "keep me");
  struct stat st {};
  ASSERT_EQ(lstat((Pc() + "link.rec").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));

  // A folder at the name is a collision.
  ASSERT_EQ(mkdir((Pc() + "dir.rec").c_str(), 0755), 0);
  ib::WriteWholeFile(Pc() + "dir.rec/inside", "x");
  script.ExpectMsgBox("a folder of that name exists there", ui::Answer::OK);
  EXPECT_FALSE(transfer::FSCreateFile(1, Pc() + "dir.rec"));
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(ib::ReadWholeFile(Pc() + "dir.rec/inside"), "x");

  // A path that climbs out is refused.
  script.ExpectMsgBox("the name is not usable", ui::Answer::OK);
  EXPECT_FALSE(transfer::FSCreateFile(1, Pc() + "sub/../../escape.rec"));
}

TEST_F(CreateTest, RecorderFileWritesNothingAndFindsTheLowestFreeIndex) {
  ib::DiskImage model(Spec(2068, 40));
  LoadRecorder(model, 0, 0);
  const std::string before = ib::ReadWholeFile(DrivePath(0));
  ASSERT_TRUE(transfer::FSCreateFile(0, "\\DataFiles\\New.rec"));
  const core::OpenFileRec& f = core::Disk[0].OpenFile;
  EXPECT_EQ(f.CurrentCluster, -1);
  EXPECT_EQ(f.FreeHint, 4);
  EXPECT_EQ(f.Dir, "\\DataFiles\\");
  EXPECT_EQ(f.FileName, "New");
  EXPECT_EQ(f.Ext, "rec");

  script.ExpectMsgBox("was not found on the disk", ui::Answer::OK);
  EXPECT_FALSE(transfer::FSCreateFile(0, "\\NoSuchFolder\\x.rec"));
  script.ExpectMsgBox("a folder of that name exists there", ui::Answer::OK);
  EXPECT_FALSE(transfer::FSCreateFile(0, "\\datafiles"));
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(ib::ReadWholeFile(DrivePath(0)), before);
}

TEST_F(CreateTest, RecorderFolderTakesTheLowestFreeIndexFromThree) {
  ib::DiskImage model(Spec(2068, 40));
  model.AddFolder("\\DataFiles\\Sub");   // index 4
  LoadRecorder(model, 0, 0);
  core::Disk[0].FAT[1].Next = 0;   // a damaged FAT: a system index reads free

  ASSERT_TRUE(transfer::FSCreateDir(0, "\\DataFiles\\New folder 01"));
  ib::ImageFile image(DrivePath(0));
  ib::DecodedEntry e;
  ASSERT_TRUE(FindEntry(image, 2, "New folder 01", e));
  EXPECT_EQ(e.Attribute, ib::kAttrDirectory);
  EXPECT_EQ(e.StartCluster, 5u);
  EXPECT_EQ(e.ClusterCount, 1u);
  EXPECT_EQ(image.FatEntry(5, 1), ib::kFatEnd);
  EXPECT_EQ(image.FatEntry(5, 2), ib::kFatEnd);
  const std::vector<uint8_t> own = image.ReadClusterView(6);
  EXPECT_EQ(own[0], ib::kAttrSelf);
  EXPECT_EQ(ib::GetBE32(own.data() + 8), 5u);
  EXPECT_EQ(ib::GetBE32(own.data() + 128 + 8), 2u);   // ".." is DataFiles
  EXPECT_GE(IndexOf(0, "\\DataFiles\\New folder 01"), 0);
  EXPECT_EQ(image.SuperU32(ib::kSbFatCrc), image.ComputeFatCrc(uint32_t(core::Disk[0].LastCluster)));

  // An existing folder, named in another case: nothing happens.
  const std::string before = ib::ReadWholeFile(DrivePath(0));
  EXPECT_TRUE(transfer::FSCreateDir(0, "\\datafiles\\SUB"));
  EXPECT_TRUE(transfer::FSCreateDir(0, "\\DataFiles\\new FOLDER 01"));
  EXPECT_EQ(ib::ReadWholeFile(DrivePath(0)), before);
}

TEST_F(CreateTest, RecorderFolderChecksTheParentBeforeWriting) {
  ib::DiskImage model(Spec(2068, 40));
  model.AddFolder("\\DataFiles\\Broken");
  LoadRecorder(model, 0, 0);
  {
    ib::ImageFile image(DrivePath(0));
    const uint32_t broken = model.FolderIndex("\\DataFiles\\Broken");
    std::vector<uint8_t> view = image.ReadClusterView(broken + 1);
    view[0] = 0x00;   // no "." entry: not a directory cluster
    image.WriteClusterView(broken + 1, view);
  }
  core::InvalidateSideCache(0);
  const std::string before = ib::ReadWholeFile(DrivePath(0));
  const std::vector<core::FatLink> fat = core::Disk[0].FAT;

  script.ExpectMsgBox("could not be read or is full", ui::Answer::OK);
  EXPECT_FALSE(transfer::FSCreateDir(0, "\\DataFiles\\Broken\\Child"));
  script.ExpectMsgBox("cannot take new entries", ui::Answer::OK);
  EXPECT_FALSE(transfer::FSCreateDir(0, "\\New folder 01"));
  script.ExpectMsgBox("cannot take new entries", ui::Answer::OK);
  EXPECT_FALSE(transfer::FSCreateDir(0, "\\Missing\\Child"));
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(ib::ReadWholeFile(DrivePath(0)), before);
  for (size_t i = 0; i < fat.size(); ++i) ASSERT_EQ(core::Disk[0].FAT[i].Next, fat[i].Next) << i;
}

TEST_F(CreateTest, PcFolderIsMadeWithItsParentsAndTheListIsLeftToTheCaller) {
  LoadPc(1);
  ASSERT_TRUE(transfer::FSCreateDir(1, Pc() + "a/b/c"));
  EXPECT_TRUE(IsDir(Pc() + "a/b/c"));
  EXPECT_LT(IndexOf(1, Pc() + "a"), 0);   // no reload per folder: a job reads it once
  core::LoadTopf(1, true);
  EXPECT_GE(IndexOf(1, Pc() + "a"), 0);
  script.ExpectMsgBox("the name is not usable", ui::Answer::OK);
  EXPECT_FALSE(transfer::FSCreateDir(1, Pc() + "a/../../out"));
}

TEST_F(CreateTest, HostileRecorderNamesStayInsideTheTargetFolder) {
  ib::DiskImage model(Spec(2068, 60));
  model.AddFolder("\\DataFiles\\..");
  model.AddFolder("\\DataFiles\\..\\.");
  ib::FileSpec slash;
  slash.Path = "\\DataFiles\\..\\a/b\x01.rec";
  slash.Size = 100;
  model.AddFile(slash);
  ib::FileSpec dots;
  dots.Path = "\\DataFiles\\..\\.\\..";
  dots.Size = 200;
  model.AddFile(dots);
  LoadRecorder(model, 0, 0);
  ASSERT_EQ(mkdir((Pc() + "dest").c_str(), 0755), 0);
  LoadPc(1, "dest/");

  const int top = IndexOf(0, "\\DataFiles\\..");
  ASSERT_GE(top, 0);
  transfer::PaneItems items{{"D..", false}, {"D" + std::string(6 - std::to_string(top).size(), '0') + std::to_string(top), true}};
  ASSERT_TRUE(transfer::FSBuildCopyList(0, items));
  ASSERT_EQ(transfer::List3.ListCount(), 4u);
  const std::string dest = Pc() + "dest/";
  for (size_t i = 0; i < transfer::List3.ListCount(); ++i) {
    transfer::QueueLine line;
    ASSERT_TRUE(transfer::ParseQueueLine(transfer::List3.List(i), line));
    const std::string target = transfer::FSTargetPath(0, line.Entry, "\\DataFiles\\", dest);
    ASSERT_EQ(target.compare(0, dest.size(), dest), 0) << target;
    EXPECT_EQ(target.find("/../"), std::string::npos) << target;
    EXPECT_EQ(target.find("/./"), std::string::npos) << target;
    if (line.Kind == 'D') ASSERT_TRUE(transfer::FSCreateDir(1, target));
    else Copy(0, line.Entry, target);
  }
  // Everything landed below dest, under safe names.
  EXPECT_EQ(Names(Pc()), (std::set<std::string>{"dest"}));
  EXPECT_EQ(Names(dest), (std::set<std::string>{"__"}));
  EXPECT_EQ(Names(dest + "__"), (std::set<std::string>{"_", "a-b.rec"}));
  EXPECT_EQ(Names(dest + "__/_"), (std::set<std::string>{"__"}));
  EXPECT_EQ(platform::FileLength(dest + "__/a-b.rec"), 100);
  EXPECT_EQ(platform::FileLength(dest + "__/_/__"), 200);

  // Control characters (the loader drops them; a list edited in memory may
  // still hold them) never reach a PC name.
  core::Disk[0].Files[size_t(top)].Name = "\\DataFiles\\c\x02\x7F\x81" "d";
  EXPECT_EQ(transfer::FSTargetPath(0, top, "\\DataFiles\\", dest), dest + "c___d");
}

}  // namespace
