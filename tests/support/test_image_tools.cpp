// The image tools leave an existing drive alone; an unknown option makes nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include "tests/support/image_builder.h"
namespace ib = imagebuilder;
struct Case { const char* Name; const char* Tool; char Drive; const char* Options; const char* Says; };
class ImageTools : public ::testing::TestWithParam<Case> {};

TEST_P(ImageTools, LeaveWhatIsThere) {
  const Case& c = GetParam();  // Drive: 'f' file, 'l' link, 'd' dangling link, '-' none
  ib::TempDir tmp("qimagetools");
  const std::string folder = tmp / "dev", drive = folder + "/PhysicalDrive0", disk = tmp / "sdc";
  ib::WriteWholeFile(disk, "recorder");
  if (c.Drive != '-') mkdir(folder.c_str(), 0755);
  if (c.Drive == 'f') ib::WriteWholeFile(drive, "image");
  if (c.Drive != 'f' && c.Drive != '-') symlink((c.Drive == 'l' ? disk : tmp / "gone").c_str(), drive.c_str());
  const std::string tool = c.Tool[4] == 'D' ? MAKE_DEMO_IMAGE : MAKE_CHECKER_IMAGE;
  EXPECT_NE(std::system(("cd " + tmp.Path() + " && " + tool + " " + c.Options + " " + folder + " >out 2>&1").c_str()), 0);
  EXPECT_NE(ib::ReadWholeFile(tmp / "out").find(c.Says), std::string::npos) << ib::ReadWholeFile(tmp / "out");
  EXPECT_EQ(ib::ReadWholeFile(disk), "recorder");
  struct stat st;
  EXPECT_TRUE(lstat((tmp / "gone").c_str(), &st) != 0 && lstat((folder + "/PhysicalDrive1").c_str(), &st) != 0);
  if (c.Drive == 'f') EXPECT_EQ(ib::ReadWholeFile(drive), "image");
  if (c.Drive == '-') EXPECT_NE(lstat(folder.c_str(), &st) == 0 || lstat((tmp / c.Options).c_str(), &st) == 0, true);
}

const Case kCases[] = {{"DemoFile", "MakeDemoImage", 'f', "", "already exists"},
    {"DemoLink", "MakeDemoImage", 'l', "--no-hint", "already exists"}, {"DemoDangling", "MakeDemoImage", 'd', "", "already exists"},
    {"CheckerFile", "MakeCheckerImage", 'f', "", "already exists"}, {"CheckerDangling", "MakeCheckerImage", 'd', "", "already exists"},
    {"DemoHelp", "MakeDemoImage", '-', "--help", "usage:"}, {"CheckerHelp", "MakeCheckerImage", '-', "--help", "usage:"}};
INSTANTIATE_TEST_SUITE_P(Refusals, ImageTools, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });
