// INI profile files: matching rules of the reads, in-place and atomic writes.
#include "platform/platform.h"
#include "tests/support/image_builder.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using imagebuilder::ReadWholeFile;
using imagebuilder::TempDir;
using imagebuilder::WriteWholeFile;
using platform::IniRead;
using platform::IniWrite;

namespace {

int FilesIn(const std::string& folder) {
  int n = 0;
  DIR* d = opendir(folder.c_str());
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

}  // namespace

TEST(IniRead, MatchesKeysWithTrailingBlanksAndIgnoresCase) {
  TempDir dir;
  const std::string f = dir / "Quenbrix.ini";
  WriteWholeFile(f, "[View]\r\nLCol01Width =1234\r\n  writemode = 1 \r\n[ Copy ]\r\nDestination=/media/x\r\n");
  EXPECT_EQ(IniRead(f, "View", "LCol01Width "), "1234");
  EXPECT_EQ(IniRead(f, "view", "LCOL01WIDTH"), "1234");
  EXPECT_EQ(IniRead(f, "VIEW", "WriteMode"), "1");
  EXPECT_EQ(IniRead(f, "Copy", "Destination"), "/media/x");
  EXPECT_EQ(IniRead(f, "View", "Destination"), "");     // the key is in another section
  EXPECT_EQ(IniRead(f, "Nothing", "WriteMode"), "");
}

TEST(IniRead, FirstMatchQuotesAndLength) {
  TempDir dir;
  const std::string f = dir / "a.ini";
  const std::string longValue(600, 'x');
  WriteWholeFile(f, "[S]\nk=first\nK=second\nq1=\"  quoted value \"\nq2='single'\nq3=\"open\n"
                    "long=" + longValue + "\nempty=\n;comment=1\n[S]\nother=later section\n");
  EXPECT_EQ(IniRead(f, "S", "k"), "first");
  EXPECT_EQ(IniRead(f, "S", "q1"), "  quoted value ");
  EXPECT_EQ(IniRead(f, "S", "q2"), "single");
  EXPECT_EQ(IniRead(f, "S", "q3"), "\"open");
  EXPECT_EQ(IniRead(f, "S", "long"), std::string(511, 'x'));
  EXPECT_EQ(IniRead(f, "S", "empty"), "");
  EXPECT_EQ(IniRead(f, "S", "comment"), "");
}

TEST(IniRead, MissingFileReadsEmpty) {
  TempDir dir;
  EXPECT_EQ(IniRead(dir / "none.ini", "View", "WriteMode"), "");
  EXPECT_EQ(IniRead(dir / "no/folder/none.ini", "View", "WriteMode"), "");
}

TEST(IniWrite, CreatesMissingFileButNotMissingFolder) {
  TempDir dir;
  const std::string f = dir / "new.ini";
  ASSERT_TRUE(IniWrite(f, "View", "WriteMode", "1"));
  EXPECT_EQ(IniRead(f, "View", "WriteMode"), "1");
  EXPECT_EQ(ReadWholeFile(f), "[View]\nWriteMode=1\n");

  EXPECT_FALSE(IniWrite(dir / "missing/new.ini", "View", "WriteMode", "1"));
  struct stat st;
  EXPECT_NE(stat((dir / "missing").c_str(), &st), 0);
}

TEST(IniWrite, ReplacesInPlaceKeepingEveryOtherByte) {
  TempDir dir;
  const std::string f = dir / "Quenbrix.ini";
  const std::string before =
      "; settings\r\n[View]\r\nWriteMode=0\r\n  LCol01Width  =  1200\r\nShowGB=1\r\n\r\n[Copy]\r\nDestination=\"/a b\"\r\n";
  WriteWholeFile(f, before);
  ASSERT_TRUE(IniWrite(f, "view", "LCol01Width ", "1500"));
  EXPECT_EQ(ReadWholeFile(f),
            "; settings\r\n[View]\r\nWriteMode=0\r\nLCol01Width =1500\r\nShowGB=1\r\n\r\n[Copy]\r\nDestination=\"/a b\"\r\n");
  EXPECT_EQ(IniRead(f, "View", "LCol01Width"), "1500");
  EXPECT_EQ(FilesIn(dir.Path()), 1);    // no temporary file left behind
}

TEST(IniWrite, AppendsKeyAfterTheSectionsLastKeyAndNewSectionAtTheEnd) {
  TempDir dir;
  const std::string f = dir / "a.ini";
  WriteWholeFile(f, "[View]\nWriteMode=0\n\n[Copy]\nDestination=/x\n");
  ASSERT_TRUE(IniWrite(f, "View", "Extras", "1"));
  EXPECT_EQ(ReadWholeFile(f), "[View]\nWriteMode=0\nExtras=1\n\n[Copy]\nDestination=/x\n");
  ASSERT_TRUE(IniWrite(f, "Recovery", "NextCluster", "17"));
  EXPECT_EQ(ReadWholeFile(f), "[View]\nWriteMode=0\nExtras=1\n\n[Copy]\nDestination=/x\n[Recovery]\nNextCluster=17\n");

  // A file without a final line break, and a section with no keys yet.
  WriteWholeFile(f, "[A]\r\nx=1\r\n[B]");
  ASSERT_TRUE(IniWrite(f, "B", "y", "2"));
  EXPECT_EQ(ReadWholeFile(f), "[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
  ASSERT_TRUE(IniWrite(f, "C", "z", "3"));
  EXPECT_EQ(ReadWholeFile(f), "[A]\r\nx=1\r\n[B]\r\ny=2\r\n[C]\r\nz=3\r\n");
}

TEST(IniWrite, LineBreaksInAValueCannotPlantKeys) {
  TempDir dir;
  const std::string f = dir / "a.ini";
  ASSERT_TRUE(IniWrite(f, "Copy", "Destination", "/tmp/x\n[View]\nWriteMode=1"));
  EXPECT_EQ(IniRead(f, "View", "WriteMode"), "");
  EXPECT_EQ(IniRead(f, "Copy", "Destination"), "/tmp/x [View] WriteMode=1");
}

// A link someone put at the name is replaced by the settings file itself;
// what it led to is never written.
TEST(IniWrite, ReplacesALinkAtTheNameNeverWritesThroughIt) {
  TempDir dir;
  const std::string real = dir / "real.ini", link = dir / "link.ini";
  WriteWholeFile(real, "[S]\nk=1\n");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  ASSERT_TRUE(IniWrite(link, "S", "k", "2"));
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadWholeFile(link), "[S]\nk=2\n");
  EXPECT_EQ(ReadWholeFile(real), "[S]\nk=1\n");
}
