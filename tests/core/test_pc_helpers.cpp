#include <filesystem>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>

#include "core/disk_format.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_env.h"
#include "ui/scripted_ui.h"

namespace {

using imagebuilder::TempDir;
using imagebuilder::WriteWholeFile;

struct Parts {
  std::string folder, name, extension;
  bool operator==(const Parts&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Parts& p) {
  return out << "[" << p.folder << "|" << p.name << "|" << p.extension << "]";
}
Parts Split(const std::string& path, const char* separators = "\\/") {
  Parts p{"x", "x", "x"};
  core::SeparatePathComponents(path, p.folder, p.name, p.extension, separators);
  return p;
}

TEST(SeparatePathComponents, SplitsFolderNameAndLastExtension) {
  EXPECT_EQ(Split("archive.tar.gz"), (Parts{"", "archive.tar", "gz"}));
  EXPECT_EQ(Split("C:\\Rec\\Film.rec"), (Parts{"C:\\Rec\\", "Film", "rec"}));
  EXPECT_EQ(Split("Film"), (Parts{"", "Film", ""}));
  EXPECT_EQ(Split("C:\\a.b\\c"), (Parts{"C:\\a.b\\", "c", ""}));
  EXPECT_EQ(Split("/home/u/a.b/c.ts"), (Parts{"/home/u/a.b/", "c", "ts"}));
  EXPECT_EQ(Split("\\DataFiles\\"), (Parts{"\\DataFiles\\", "", ""}));
  EXPECT_EQ(Split(".hidden"), (Parts{"", "", "hidden"}));
  EXPECT_EQ(Split(""), (Parts{"", "", ""}));
  // A recorder name may hold "/": split recorder paths at "\" only.
  EXPECT_EQ(Split("\\DataFiles\\AC/DC Live.rec", core::kRecorderSeparator),
            (Parts{"\\DataFiles\\", "AC/DC Live", "rec"}));
  EXPECT_EQ(Split("/mnt/my\\dir/f.ts", core::kPcSeparator), (Parts{"/mnt/my\\dir/", "f", "ts"}));
}

TEST(CleanupFileName, AdaptsOnlyTheNamePart) {
  EXPECT_EQ(core::CleanupFileName("D:\\Out\\Tatort: Mord?"), "D:\\Out\\Tatort. Mord_");
  EXPECT_EQ(core::CleanupFileName("/out/Tatort: Mord?"), "/out/Tatort. Mord_");
  EXPECT_EQ(core::CleanupFileName("/we:ird?/a*b"), "/we:ird?/axb");
  EXPECT_EQ(core::CleanupFileName("Tatort: Mord?"), "Tatort. Mord_");
}

TEST(CleanupFileName, RecorderNamesBecomeSafeUtf8) {
  // Windows-1252 in, UTF-8 out.
  EXPECT_EQ(core::CleanupFileNameComponent("Cr\xE8me br\xFBl\xE9" "e"), "Creme brulee");
  EXPECT_EQ(core::CleanupFileNameComponent("M\xFCller"), "M\xC3\xBCller");
  EXPECT_EQ(core::CleanupFileNameComponent("Stra\xDF" "e"), "Strasse");
  EXPECT_EQ(core::CleanupFileNameComponent("a/b|c*d"), "a-b-cxd");
  // Never "." or "..", no control characters, nothing after a NUL.
  EXPECT_EQ(core::CleanupFileNameComponent("."), "_");
  EXPECT_EQ(core::CleanupFileNameComponent(".."), "__");
  EXPECT_EQ(core::CleanupFileNameComponent("..."), "...");
  EXPECT_EQ(core::CleanupFileNameComponent("\x01" "a\x7F" "b\tc\x81"), "_a_b_c_");
  EXPECT_EQ(core::CleanupFileNameComponent(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(core::CleanupFileNameComponent(""), "");
}

TEST(CleanupFileName, LongNamesAreCutOnACharacterBoundaryWithin255Bytes) {
  // 200 x "ä": 400 bytes of UTF-8, cut to 127 characters = 254 bytes.
  std::string umlauts(200, '\xE4');
  std::string cut = core::CleanupFileNameComponent(umlauts);
  EXPECT_EQ(cut.size(), 254u);
  EXPECT_EQ(cut, platform::Cp1252ToUtf8(std::string(127, '\xE4')));
  // The adaptation itself keeps at most 254 characters.
  EXPECT_EQ(core::CleanupFileNameComponent(std::string(300, 'a')), std::string(254, 'a'));
  // Three-byte characters: 85 of them fill 255 bytes exactly.
  std::string euros(100, '\x80');
  EXPECT_EQ(core::CleanupFileNameComponent(euros).size(), 255u);
  // The result can be created as a file.
  TempDir dir{"cleanup"};
  const std::string path = dir / core::CleanupFileNameComponent("x" + umlauts);
  std::ofstream(path) << "x";
  EXPECT_EQ(platform::FileLength(path), 1);
}

TEST(PcFiles, GetFileLenGivesTheExactLength) {
  TempDir dir{"filelen"};
  const std::string big = dir / "big.bin";
  const std::string edge = dir / "edge.bin";
  WriteWholeFile(big, "");
  WriteWholeFile(edge, "");
  std::filesystem::resize_file(big, 5000000000LL);
  std::filesystem::resize_file(edge, 4294967295LL);
  int h = platform::DriveOpen(big, false);
  ASSERT_GT(h, 0);
  EXPECT_EQ(core::GetFileLen(h), 5000000000.0);
  platform::DriveClose(h);
  h = platform::DriveOpen(edge, false);
  ASSERT_GT(h, 0);
  EXPECT_EQ(core::GetFileLen(h), 4294967295.0);   // a real length, not a failure
  platform::DriveClose(h);
  EXPECT_EQ(core::GetFileLen(-1), -1.0);
}

TEST(PcFiles, FileDateTimeSetUsesLocalTime) {
  TempDir dir{"filetime"};
  const std::string file = dir / "Film.rec";
  WriteWholeFile(file, "data");
  const double when = 46364.0 + (14 * 3600 + 3 * 60 + 7) / 86400.0;   // 8 Dec 2026 14:03:07
  const double earlier = 46363.5;                                     // 7 Dec 2026 12:00:00
  EXPECT_TRUE(core::FileDateTimeSet(file, when, earlier, when));
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  std::tm m{};
  localtime_r(&info.st_mtime, &m);
  EXPECT_EQ(m.tm_year, 126);
  EXPECT_EQ(m.tm_mon, 11);
  EXPECT_EQ(m.tm_mday, 8);
  EXPECT_EQ(m.tm_hour, 14);
  EXPECT_EQ(m.tm_min, 3);
  EXPECT_EQ(m.tm_sec, 7);
  std::tm a{};
  localtime_r(&info.st_atime, &a);
  EXPECT_EQ(a.tm_mday, 7);
  EXPECT_EQ(a.tm_hour, 12);
  // A missing file: nothing happens, and the caller is told.
  EXPECT_FALSE(core::FileDateTimeSet(dir / "missing.rec", when, when, when));
  EXPECT_EQ(platform::FileLength(dir / "missing.rec"), -1);
}

// A recorder date copied to the PC and back is unchanged; an unchanged date
// keeps the file's moment exactly, also in the repeated hour; a changed one
// lands on the moment shown. utc*: the first moment the wall time names.
struct ZoneDate {
  const char* zone;
  int month, day, hour, minute, utcDay, utcHour, utcMinute;
  enum Kind { Once, Repeated, Skipped } kind;
} const kZoneDates[] = {
    {"UTC", 7, 1, 20, 15, 1, 20, 15, ZoneDate::Once},
    {"UTC", 10, 27, 2, 30, 27, 2, 30, ZoneDate::Once},
    {"Europe/Berlin", 1, 15, 20, 15, 15, 19, 15, ZoneDate::Once},
    {"Europe/Berlin", 7, 1, 20, 15, 1, 18, 15, ZoneDate::Once},
    {"Europe/Berlin", 10, 27, 2, 30, 27, 0, 30, ZoneDate::Repeated},
    {"Europe/Berlin", 3, 31, 2, 30, 31, 1, 30, ZoneDate::Skipped},
    {"America/New_York", 7, 1, 20, 15, 2, 0, 15, ZoneDate::Once},
    {"America/New_York", 11, 3, 1, 30, 3, 5, 30, ZoneDate::Repeated},
    {"America/New_York", 3, 10, 2, 30, 10, 7, 30, ZoneDate::Skipped},
};

TEST(PcFiles, DatesKeepTheirMomentInEveryZone) {
  TempDir dir{"zones"};
  const std::string file = dir / "Film.rec";
  WriteWholeFile(file, "data");
  struct stat info {};
  for (const ZoneDate& c : kZoneDates) {
    testenv::ScopedZone zone(c.zone);
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.month) + "/" + std::to_string(c.day));
    std::tm t = testenv::LocalTime(2024, c.month, c.utcDay, c.utcHour, c.utcMinute, 0);
    const int64_t utc = timegm(&t);
    const double date = core::DateValue(2024, c.month, c.day, c.hour, c.minute, 0);
    const int h = platform::PcFileOpen(file, true);   // a copy's date (a skipped hour shows as the next)
    EXPECT_TRUE(core::FileDateTimeSet(h, date, date, date));
    platform::DriveClose(h);
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_TRUE(info.st_mtime == utc || (c.kind == ZoneDate::Repeated && info.st_mtime == utc + 3600));
    EXPECT_NEAR(core::DateValueFromTimeT(info.st_mtime), date + (c.kind == ZoneDate::Skipped) / 24.0, 1e-7);
    for (const int64_t moment : {utc, utc + 3600 * (c.kind == ZoneDate::Repeated)}) {
      const struct timespec was[2] = {{time_t(moment), 123456789}, {time_t(moment), 123456789}};
      ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), was, 0), 0);
      const double shown = core::DateValueFromTimeT(moment);
      EXPECT_TRUE(core::FileDateTimeSet(file, shown, shown, shown));
      ASSERT_EQ(stat(file.c_str(), &info), 0);
      EXPECT_TRUE(info.st_mtim.tv_sec == moment && info.st_mtim.tv_nsec == 123456789);
      EXPECT_TRUE(core::FileDateTimeSet(file, shown, shown, shown + 10.0 / 1440));
      ASSERT_EQ(stat(file.c_str(), &info), 0);
      EXPECT_EQ(info.st_mtime, moment + 600);
    }
  }
}

TEST(PcFiles, MakePathCreatesEveryLevel) {
  TempDir dir{"makepath"};
  core::MakePath(dir / "a/b/c/");
  core::MakePath(dir / "a/b/d");
  struct stat info {};
  EXPECT_EQ(stat((dir / "a/b/c").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(stat((dir / "a/b/d").c_str(), &info), 0);
}

TEST(PcDrives, DiskIdsArePositionsInTheVolumeList) {
  const std::vector<core::PcDrive> drives = core::DriveList();
  const std::vector<platform::Volume> volumes = platform::ListVolumes();
  ASSERT_EQ(drives.size(), volumes.size());
  for (size_t i = 0; i < drives.size(); ++i) {
    EXPECT_EQ(drives[i].DiskId, static_cast<int>(i) + 1);
    EXPECT_EQ(drives[i].Root.back(), '/');
    EXPECT_EQ(core::DriveRoot(drives[i].DiskId), drives[i].Root);
    EXPECT_EQ(core::DriveIdOf(drives[i].Root), drives[i].DiskId) << drives[i].Root;
  }
  EXPECT_EQ(core::DriveRoot(0), "");
  EXPECT_EQ(core::DriveRoot(static_cast<int>(drives.size()) + 1), "");
}

TEST(PcDrives, DriveInformationOfAFolder) {
  TempDir dir{"driveinfo"};
  std::string label, fs, serial;
  double total = -1, free = -1;
  platform::Volume volume;
  if (!platform::VolumeOf(dir.Path(), volume)) GTEST_SKIP() << "temp folder on no listed volume";
  ASSERT_TRUE(core::DriveInformation(dir.Path(), label, fs, serial, total, free));
  EXPECT_EQ(fs, volume.FsName);
  EXPECT_EQ(total, static_cast<double>(volume.TotalBytes) / 1024.0);
  EXPECT_GE(total, free);
  ASSERT_EQ(serial.size(), 9u);
  EXPECT_EQ(serial[4], '-');
  EXPECT_FALSE(core::DriveInformation("", label, fs, serial, total, free));
  EXPECT_EQ(fs, "");
  EXPECT_EQ(total, 0);
}

TEST(PcFiles, ExecuteOpensThroughTheUi) {
  ui::ScriptedUi script;
  ui::CurrentUiScope use(script);
  EXPECT_TRUE(core::Execute("/tmp/0000ABCD_FileList.txt", false, "", 3));
  EXPECT_TRUE(core::Execute("/tmp/list.txt", true));
  EXPECT_EQ(script.OpenedFiles(),
            (std::vector<std::string>{"/tmp/0000ABCD_FileList.txt", "print:/tmp/list.txt"}));
}

}  // namespace
