// The image-writing tools never write over a drive that is already there,
// and take no unknown option for a folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/image_builder.h"

namespace ib = imagebuilder;

namespace {

enum class Present { File, Link, DanglingLink, Nothing };

struct Case {
  const char* Name;
  const char* Tool;
  Present Drive;        // what stands at <folder>/PhysicalDrive0 beforehand
  const char* Options;  // before the folder; "" for none
  const char* Extra;    // after the folder
  const char* Says;     // expected on stderr
};

std::string RunTool(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  char buffer[256];
  while (p != nullptr && fgets(buffer, sizeof buffer, p) != nullptr) out += buffer;
  *status = p == nullptr ? -1 : pclose(p);
  return out;
}

class ImageTools : public ::testing::TestWithParam<Case> {};

TEST_P(ImageTools, LeaveWhatIsThereAndWriteNothing) {
  const Case& c = GetParam();
  ib::TempDir tmp("qimagetools");
  const std::string folder = tmp / "devices";
  const std::string drive = folder + "/PhysicalDrive0";
  const std::string userDisk = tmp / "user-disk";  // stands in for /dev/sdc
  ib::WriteWholeFile(userDisk, "a recorder disk");
  if (c.Drive != Present::Nothing) ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  if (c.Drive == Present::File) ib::WriteWholeFile(drive, "a user's image");
  if (c.Drive == Present::Link) ASSERT_EQ(symlink(userDisk.c_str(), drive.c_str()), 0);
  if (c.Drive == Present::DanglingLink) ASSERT_EQ(symlink((tmp / "gone").c_str(), drive.c_str()), 0);

  const std::string tool = std::string(c.Tool) == "MakeDemoImage" ? MAKE_DEMO_IMAGE : MAKE_CHECKER_IMAGE;
  int status = 0;
  const std::string out = RunTool("cd '" + tmp.Path() + "' && '" + tool + "' " + c.Options + " '" + folder +
                                  "' " + c.Extra, &status);
  EXPECT_NE(status, 0) << out;
  EXPECT_NE(out.find(c.Says), std::string::npos) << out;

  EXPECT_EQ(ib::ReadWholeFile(userDisk), "a recorder disk");
  EXPECT_EQ(access((tmp / "gone").c_str(), F_OK), -1);
  struct stat st;
  switch (c.Drive) {
    case Present::File: EXPECT_EQ(ib::ReadWholeFile(drive), "a user's image"); break;
    case Present::Link:
    case Present::DanglingLink:
      ASSERT_EQ(lstat(drive.c_str(), &st), 0);
      EXPECT_TRUE(S_ISLNK(st.st_mode));
      break;
    case Present::Nothing:
      // Usage only: neither the folder nor a folder named after the option.
      EXPECT_NE(lstat(folder.c_str(), &st), 0);
      if (*c.Options != '\0') EXPECT_NE(lstat((tmp / c.Options).c_str(), &st), 0);
      break;
  }
  if (c.Drive != Present::Nothing && std::string(c.Tool) == "MakeCheckerImage")
    EXPECT_NE(lstat((folder + "/PhysicalDrive1").c_str(), &st), 0);
}

const Case kCases[] = {
    {"DemoOverFile", "MakeDemoImage", Present::File, "", "", "already exists"},
    {"DemoOverLink", "MakeDemoImage", Present::Link, "--no-hint", "", "already exists"},
    {"DemoOverDanglingLink", "MakeDemoImage", Present::DanglingLink, "", "", "already exists"},
    {"CheckerOverFile", "MakeCheckerImage", Present::File, "", "", "already exists"},
    {"CheckerOverLink", "MakeCheckerImage", Present::Link, "", "", "already exists"},
    {"CheckerOverDanglingLink", "MakeCheckerImage", Present::DanglingLink, "", "", "already exists"},
    {"DemoUnknownOption", "MakeDemoImage", Present::Nothing, "--help", "", "usage:"},
    {"DemoUnknownShortOption", "MakeDemoImage", Present::Nothing, "-x", "", "usage:"},
    {"DemoTooManyArguments", "MakeDemoImage", Present::Nothing, "", "a.ts b", "usage:"},
    {"CheckerUnknownOption", "MakeCheckerImage", Present::Nothing, "--help", "", "usage:"},
};

INSTANTIATE_TEST_SUITE_P(Refusals, ImageTools, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
