// Start-up pieces of the check program (command line, drive dialog entries,
// Extras setting), the results list and the check driver's summary.
#include <cstdlib>

#include <QAbstractItemModel>

#include "checker/check_driver.h"
#include "checker/form1.h"
#include "checker/results_view.h"
#include "checker/startup.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "layer_fixture.h"
#include "tests/mainwindow/test_app.h"

namespace checkertest {
namespace {

using namespace checker;

TEST(CommandLineTest, FormsOfTheCommandLine) {
  EXPECT_EQ(ParseCommandLine("").What, StartTarget::Kind::Dialog);
  StartTarget drive = ParseCommandLine("PhysicalDrive3");
  EXPECT_EQ(drive.What, StartTarget::Kind::Drive);
  EXPECT_EQ(drive.Name, "PhysicalDrive3");
  StartTarget lower = ParseCommandLine("physicaldrive3");
  EXPECT_EQ(lower.What, StartTarget::Kind::Dump) << "the prefix is case-sensitive";
  EXPECT_EQ(lower.Name, "physicaldrive3");
  EXPECT_EQ(ParseCommandLine("/home/u/dumps/disk.scc").Name, "/home/u/dumps/disk");
  EXPECT_EQ(ParseCommandLine("/home/u/dumps/disk").Name, "/home/u/dumps/disk");
  EXPECT_EQ(ParseCommandLine("/home/u/my.dumps/disk").Name, "/home/u/my.dumps/disk");
  EXPECT_EQ(ParseCommandLine("/home/u/dumps/disk.scc").What, StartTarget::Kind::Dump);
}

class StartupTest : public LayerTest {};

TEST_F(StartupTest, ExtrasOnlyForExactlyOne) {
  core::SetSettingsInCurrentFolder(true);
  EXPECT_FALSE(ExtrasEnabled());
  ib::WriteWholeFile(Path("Quenbrix.ini"), "[View]\r\nExtras=1\r\n");
  EXPECT_TRUE(ExtrasEnabled());
  ib::WriteWholeFile(Path("Quenbrix.ini"), "[View]\r\nExtras=yes\r\n");
  EXPECT_FALSE(ExtrasEnabled());
  ib::WriteWholeFile(Path("Quenbrix.ini"), "[View]\r\nExtras=11\r\n");
  EXPECT_FALSE(ExtrasEnabled());
}

TEST_F(StartupTest, DriveDialogListsDrivesAndFileMode) {
  ASSERT_TRUE(platform::MakePath(Path("devices")));
  ib::DiskImage image;
  image.Write(Path("devices/PhysicalDrive0"));
  ib::WriteWholeFile(Path("devices/PhysicalDrive2"), std::string(64 * 1024, '\0'));
  setenv("QUENBRIX_DEVICES", Path("devices").c_str(), 1);
  const auto entries = DriveDialogEntries();
  unsetenv("QUENBRIX_DEVICES");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].second, 0);
  EXPECT_EQ(entries[0].first.rfind("Disk 0: \t", 0), 0u) << entries[0].first;
  EXPECT_NE(entries[0].first.find("\t (this seems to be a TF disk)"), std::string::npos) << entries[0].first;
  EXPECT_EQ(entries[1].second, 2);
  EXPECT_EQ(entries[1].first.find("TF disk"), std::string::npos);
  EXPECT_EQ(entries[2], (std::pair<std::string, int>{"File Mode", -2}));
  // "Select" with nothing clicked: the first recorder disk, none as Cancel.
  EXPECT_EQ(DefaultDriveChoice({entries[1], {entries[0].first, 5}, entries[2]}), 5);
  EXPECT_EQ(DefaultDriveChoice({entries[1], entries[2]}), -1);
  EXPECT_EQ(SectorsPerCluster, 1);
  EXPECT_EQ(DiskHandle, 0);
}

// As the Windows list box: a list that fits shows all of it, a longer one
// its last page whole.
TEST_F(StartupTest, ResultsListNeverScrollsPastItsLastFullPage) {
  TestApp();
  Form1 form;
  form.resize(600, 300);
  form.show();
  QApplication::processEvents();
  for (int lines : {2, 200}) {
    while (int(ResultLines().size()) < lines) Addinfo(kInfo, "line", false);
    const QRect last = form.List2->visualRect(form.List2->model()->index(lines - 1, 0));
    EXPECT_EQ(form.List2->TopRow() == 0, lines == 2) << form.List2->TopRow();
    EXPECT_TRUE(last.bottom() <= form.List2->viewport()->height() &&
                (lines == 2 || last.bottom() + last.height() > form.List2->viewport()->height()));
  }
}

TEST_F(StartupTest, OpenTargetSetsUpTheRun) {
  ib::DiskImage image;
  image.Write(Path("disk.img"));
  LostCounter = 7;
  OpenTarget(StartTarget{StartTarget::Kind::Drive, Path("disk.img")});
  EXPECT_FALSE(FileMode);
  EXPECT_EQ(LostCounter, 0);
  EXPECT_EQ(FoundEntries.size(), size_t(kMaxFoundEntries));
  image.WriteDump(Path("d"));
  ResetDiskState();
  OpenTarget(ParseCommandLine(Path("d.scc")));
  EXPECT_TRUE(FileMode);
  EXPECT_EQ(DiskName, Path("d"));
}

TEST_F(StartupTest, ResultsListKeepsItsLimit) {
  std::vector<std::string> seen;
  size_t dropped = 0;
  ResultsObserver observer;
  observer.Added = [&](const std::string& line) { seen.push_back(line); };
  observer.DroppedFront = [&](size_t n) { dropped += n; };
  SetResultsObserver(observer);
  Addinfo(kFixed, "first", false);
  EXPECT_EQ(ResultLines().back(), "Fixed:\tfirst");
  for (size_t i = 1; i < kMaxResultLines; ++i) Addinfo(kInfo, std::to_string(i), false);
  EXPECT_EQ(ResultLines().size(), kMaxResultLines);
  EXPECT_EQ(dropped, 0u);
  Addinfo(kOK, "last", false);
  EXPECT_EQ(ResultLines().size(), kMaxResultLines);
  EXPECT_EQ(ResultLines().front(), "Info:\t1");
  EXPECT_EQ(ResultLines().back(), "OK:\tlast");
  EXPECT_EQ(dropped, 1u);
  EXPECT_EQ(seen.size(), kMaxResultLines + 1);
  SetResultsObserver({});
}

TEST_F(StartupTest, SavedResultsEndEveryLineWithCrLf) {
  Addinfo(kInfo, "a \xE9", false);
  Addinfo("", "", false);
  AddResultLine("");
  SaveResults(Path("results.txt"));
  EXPECT_EQ(ib::ReadWholeFile(Path("results.txt")), "Info:\ta \xE9\r\n\t\r\n\r\n");
  Addinfo(kOK, "x", false);
  SaveResults(Path("results.txt"));   // replaced, not appended
  EXPECT_EQ(ib::ReadWholeFile(Path("results.txt")), "Info:\ta \xE9\r\n\t\r\n\r\nOK:\tx\r\n");
}

TEST_F(StartupTest, CheckOfASoundDiskEndsWithTheSummary) {
  ib::DiskImage image;
  ib::FileSpec f;
  f.Path = "\\DataFiles\\a.rec";
  f.Size = 3 * 2068 * 512;
  image.AddFile(f);
  OpenTarget(StartTarget{StartTarget::Kind::Drive, OpenImage(image)});
  Addinfo("hint", "", false);
  HintShown = true;
  RunChecks();
  const auto lines = ResultLinesCopy();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_NE(lines.front(), "hint\t") << "the start-up hints are cleared";
  const std::string rule(80, '=');
  const size_t n = lines.size();
  EXPECT_EQ(lines[n - 1], "");
  EXPECT_EQ(lines[n - 2], "\t" + rule);
  EXPECT_EQ(lines[n - 6], "\t" + rule);
  EXPECT_EQ(lines[n - 5], "Info:\tCluster size = 1.01 MB");
  EXPECT_EQ(lines[n - 4].rfind("Info:\tUsed: 1 files; 3 directories; 7 clusters; 7.1 MB; ", 0), 0u) << lines[n - 4];
  EXPECT_EQ(lines[n - 3].rfind("Info:\tFree: ", 0), 0u) << lines[n - 3];
  EXPECT_FALSE(HintShown);
  RunChecks();   // a second run appends
  EXPECT_EQ(ResultLinesCopy().size(), 2 * n);
}

using ReportNumbers = testenv::InEachLocale;
INSTANTIATE_IN_EACH_LOCALE(ReportNumbers);
TEST_P(ReportNumbers, OneDecimal) {
  EXPECT_EQ(FormatOneDecimal(0.25), "0.3");
  EXPECT_EQ(FormatOneDecimal(12.0), "12.0");
  EXPECT_EQ(FileSizeToString(1536, 1), "1.5 kB");
}

}  // namespace
}  // namespace checkertest
