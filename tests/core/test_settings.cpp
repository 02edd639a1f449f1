#include <gtest/gtest.h>

#include <cstdlib>

#include "core/settings.h"
#include "platform/platform.h"
#include "tests/support/image_builder.h"

namespace {

using imagebuilder::ReadWholeFile;
using imagebuilder::TempDir;
using imagebuilder::WriteWholeFile;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { core::SetAppDir(dir.Path()); }
  void TearDown() override { core::SetSettingsInCurrentFolder(false); }
  TempDir dir{"settings"};
};

TEST_F(SettingsTest, ReadsValuesAndCutsThemAt511CharactersAndTheFirstZero) {
  const std::string file = dir / "Quenbrix.ini";
  WriteWholeFile(file, "[View]\nShowGB=1\nLCol01Width =1440\nLong=" + std::string(600, 'x') +
                           "\nZero=" + std::string("12\0" "34", 5) +
                           "\n[Copy]\nDestination=/home/u/Videos/\n");
  EXPECT_EQ(core::INIGetString(file, "View", "ShowGB"), "1");
  EXPECT_EQ(core::INIGetString(file, "View", "LCol01Width "), "1440");
  EXPECT_EQ(core::INIGetString(file, "View", "Long"), std::string(511, 'x'));
  EXPECT_EQ(core::INIGetString(file, "View", "Zero"), "12");   // up to the first zero byte
  EXPECT_EQ(core::INIGetString(file, "Copy", "Destination"), "/home/u/Videos/");
  EXPECT_EQ(core::INIGetString(file, "Copy", "Missing"), "");
  EXPECT_EQ(core::INIGetString(file, "Nothing", "ShowGB"), "");
  EXPECT_EQ(core::INIGetString(dir / "missing.ini", "View", "ShowGB"), "");
}

TEST_F(SettingsTest, WritingCreatesFileSectionAndKeyAndKeepsTheRest) {
  const std::string file = dir / "new.ini";
  core::INISetString(file, "View", "WriteMode", "1");
  EXPECT_EQ(core::INIGetString(file, "View", "WriteMode"), "1");
  core::INISetString(file, "View", "RCol05Width ", "900");
  core::INISetString(file, "Copy", "Destination", "/mnt/usb/");
  core::INISetString(file, "View", "WriteMode", "0");
  EXPECT_EQ(core::INIGetString(file, "View", "WriteMode"), "0");
  EXPECT_EQ(core::INIGetString(file, "View", "RCol05Width "), "900");
  EXPECT_EQ(core::INIGetString(file, "Copy", "Destination"), "/mnt/usb/");
  // A file in a missing folder: nothing happens, nothing is reported.
  core::INISetString(dir / "no/such/folder.ini", "View", "WriteMode", "1");
  EXPECT_EQ(platform::FileLength(dir / "no/such/folder.ini"), -1);
}

TEST_F(SettingsTest, AppDirAndTheSettingsFile) {
  EXPECT_EQ(core::AppDir(), dir.Path() + "/");
  EXPECT_EQ(core::SettingsFile(), dir.Path() + "/Quenbrix.ini");
  core::SetAppDir(dir.Path() + "/");
  EXPECT_EQ(core::AppDir(), dir.Path() + "/");

  core::SetSettingsInCurrentFolder(true);
  EXPECT_EQ(core::SettingsFile(), "./Quenbrix.ini");
  core::SetSettingsInCurrentFolder(false);

  // Default: QUENBRIX_APPDIR, else the executable's folder.
  setenv("QUENBRIX_APPDIR", (dir / "env").c_str(), 1);
  core::SetAppDir("");
  EXPECT_EQ(core::AppDir(), dir / "env/");
  unsetenv("QUENBRIX_APPDIR");
  core::SetAppDir("");
  EXPECT_EQ(core::AppDir(), platform::ExeDir());
  core::SetAppDir(dir.Path());

  core::SetSetting("View", "ShowGB", "1");
  core::SetSetting("View", "WindowTop", "1200");
  EXPECT_TRUE(core::GetSettingOn("View", "ShowGB"));
  EXPECT_FALSE(core::GetSettingOn("View", "Extras"));
  EXPECT_EQ(core::GetSetting("View", "WindowTop"), "1200");
  EXPECT_NE(ReadWholeFile(dir / "Quenbrix.ini").find("WindowTop"), std::string::npos);
}

TEST(SettingValues, BooleanIsOnOnlyForExactlyOne) {
  EXPECT_TRUE(core::SettingOn("1"));
  for (const char* text : {"", "0", "01", " 1", "1 ", "-1", "True", "true", "2"})
    EXPECT_FALSE(core::SettingOn(text)) << text;
}

TEST(SettingValues, NumericValueReadsAsFarAsTheTextIsANumber) {
  EXPECT_EQ(core::NumericValue(""), 0);
  EXPECT_EQ(core::NumericValue("abc"), 0);
  EXPECT_EQ(core::NumericValue("1440"), 1440);
  EXPECT_EQ(core::NumericValue("  -3.5"), -3.5);
  EXPECT_EQ(core::NumericValue("+7"), 7);
  EXPECT_EQ(core::NumericValue("12abc"), 12);
  EXPECT_EQ(core::NumericValue(".5"), 0.5);
  EXPECT_EQ(core::NumericValue("1e3"), 1000);
  EXPECT_EQ(core::NumericValue("2e"), 2);
  EXPECT_EQ(core::NumericValue("&H1F"), 31);
  EXPECT_EQ(core::NumericValue("&hff"), 255);
  EXPECT_EQ(core::NumericValue("-"), 0);
}

}  // namespace
