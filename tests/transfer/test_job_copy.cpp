// The copy and move job in every direction, with its filters, cancel paths,
// damaged sources and the end step.
#include <sys/stat.h>

#include <array>
#include <filesystem>

#include <QLabel>

#include "core/disk_format.h"
#include "core/erase.h"
#include "core/fat_write.h"
#include "tests/support/sector_faults.h"
#include "tests/transfer/job_files.h"
#include "tests/transfer/job_fixture.h"
#include "transfer/entry_edits.h"

namespace jobtest {
namespace {

namespace ib = imagebuilder;
using transfertest::Spec;

int64_t MTime(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return int64_t(st.st_mtime);
}

class CopyJobTest : public JobTest {
 protected:
  // A disk with \DataFiles\a.rec (3.5 clusters), b.dat (exactly 2) and
  // \DataFiles\Films\c.rec (1 byte) with \DataFiles\Films\Old\d.rec.
  ib::DiskImage Sample() {
    ib::DiskImage model(Spec(kSpc, 400));
    model.AddFile(File("\\DataFiles\\a.rec", kCluster * 3 + 100, 1));
    model.AddFile(File("\\DataFiles\\b.dat", kCluster * 2, 2));
    model.AddFolder("\\DataFiles\\Films");
    model.AddFile(File("\\DataFiles\\Films\\c.rec", 1, 3));
    model.AddFolder("\\DataFiles\\Films\\Old");
    model.AddFile(File("\\DataFiles\\Films\\Old\\d.rec", kCluster + 7, 4));
    return model;
  }
  ib::ImageFile Image(int n) { return ib::ImageFile(DrivePath(n)); }
};

TEST_F(CopyJobTest, RecorderToPcCopiesBytesSizesDatesAndFolders) {
  const ib::DiskImage model = Sample();
  ShowRecorder(model, 0, 0);
  ShowPc(1);
  host.Check(0, "\\DataFiles\\a.rec");
  host.Check(0, "\\DataFiles\\b.dat");
  host.Check(0, "\\DataFiles\\Films");
  transfer::DoCopy(0, false);

  EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "a.rec"), model.FileBytes("\\DataFiles\\a.rec")));
  EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "b.dat"), model.FileBytes("\\DataFiles\\b.dat")));
  EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "Films/c.rec"), model.FileBytes("\\DataFiles\\Films\\c.rec")));
  EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "Films/Old/d.rec"),
            model.FileBytes("\\DataFiles\\Films\\Old\\d.rec")));
  // The recording date becomes the file's time.
  const core::DateParts when = core::SplitDateValue(ib::DateValueOf(ib::Date{}));
  struct tm tm {};
  tm.tm_year = when.Year - 1900;
  tm.tm_mon = when.Month - 1;
  tm.tm_mday = when.Day;
  tm.tm_hour = when.Hour;
  tm.tm_min = when.Minute;
  tm.tm_isdst = -1;
  EXPECT_EQ(MTime(Pc() + "a.rec"), int64_t(mktime(&tm)));
  // The job's window state.
  EXPECT_EQ(host.DisableCount, 1);
  EXPECT_EQ(host.EnableCount, 1);
  EXPECT_FALSE(transfer::JobRunning);
  EXPECT_FALSE(transfer::ProgressWindowLoaded());
  EXPECT_GE(host.FileListCount[1], 1);   // target reloaded
  EXPECT_EQ(host.FileListCount[0], 0);   // a copy leaves the source pane alone
  EXPECT_TRUE(script.Prompts().empty());
  EXPECT_TRUE(powered.empty());
}

TEST_F(CopyJobTest, NothingCheckedCopiesTheSelectedItemAndEmptyPaneDoesNothing) {
  const ib::DiskImage model = Sample();
  ShowRecorder(model, 0, 0);
  ShowPc(1);
  host.Selected[0] = host.ItemOf(0, "\\DataFiles\\b.dat");
  transfer::DoCopy(0, false);
  EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "b.dat"), model.FileBytes("\\DataFiles\\b.dat")));
  EXPECT_FALSE(platform::FileLength(Pc() + "a.rec") >= 0);

  host.List[1].clear();
  transfer::DoCopy(1, false);   // empty pane: nothing at all
  EXPECT_FALSE(transfer::ProgressWindowLoaded());
  EXPECT_EQ(host.DisableCount, 1);
}

// Only empty files: the PC takes them, a recorder disk cannot; the job
// never ends without a word.
TEST_F(CopyJobTest, OnlyEmptyFilesAreCopiedOrNamedWithWhy) {
  for (const bool toRecorder : {true, false}) {
    script.Reset();
    ASSERT_TRUE(platform::MakePath(Pc() + "src") && platform::MakePath(Pc() + "dst"));
    for (const char* n : {"e1.dat", "e2.dat"}) ib::WriteWholeFile(Pc() + "src/" + n, "");
    ShowPc(0, "src/");
    toRecorder ? ShowRecorder(ib::DiskImage(Spec(kSpc, 12)), 1, 1) : ShowPc(1, "dst/");
    for (const char* n : {"e1.dat", "e2.dat"}) host.Check(0, Pc() + "src/" + n);
    if (toRecorder) script.ExpectMsgBox("e1.dat: an empty file cannot be stored on the recorder disk", ui::Answer::OK);
    transfer::DoCopy(0, false);
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_TRUE(!toRecorder || script.MsgBoxTexts().back().find("e2.dat: an empty") != std::string::npos);
    EXPECT_EQ(platform::FileLength(Pc() + "dst/e2.dat"), toRecorder ? -1 : 0);
  }
}

TEST_F(CopyJobTest, PcToRecorderWritesDataFatEntryAndFolderSizes) {
  ib::DiskImage model(Spec(kSpc, 400));
  model.AddFolder("\\DataFiles\\Keep");
  ShowRecorder(model, 0, 0);
  const std::string big = PatternBytes(7, kCluster * 5 + 3);
  const std::string small = PatternBytes(8, 10);
  ASSERT_TRUE(platform::MakePath(Pc() + "Show"));
  ib::WriteWholeFile(Pc() + "Show/big.rec", big);
  ib::WriteWholeFile(Pc() + "Show/small.txt", small);
  ShowPc(1);
  host.Check(1, Pc() + "Show");
  transfer::DoCopy(1, false);
  ASSERT_TRUE(script.Prompts().empty()) << script.Prompts()[0].Text;

  ib::ImageFile image = Image(0);
  ib::DecodedEntry folder;
  ASSERT_TRUE(FindEntry(image, model.FolderIndex("\\DataFiles"), "Show", folder));
  ib::DecodedEntry e;
  ASSERT_TRUE(FindEntry(image, folder.StartCluster, "big.rec", e));
  EXPECT_EQ(e.Attribute, ib::kAttrRecording);
  EXPECT_EQ(e.ClusterCount, 6u);
  EXPECT_EQ(ib::SizeFromFields(e.ClusterCount, e.FreeBytes, e.LastSectorBytes, kSpc), big.size());
  EXPECT_TRUE(SameBytes(ImageFileBytes(image, e.StartCluster, big.size()), big));
  EXPECT_EQ(ImageChain(image, e.StartCluster).size(), 6u);
  EXPECT_EQ(image.FatEntry(ImageChain(image, e.StartCluster).back(), 2), ib::kFatEnd);
  ib::DecodedEntry s;
  ASSERT_TRUE(FindEntry(image, folder.StartCluster, "small.txt", s));
  EXPECT_EQ(s.Attribute, ib::kAttrFile);
  EXPECT_TRUE(SameBytes(ImageFileBytes(image, s.StartCluster, small.size()), small));
  // The folder's size: its own cluster and the seven of its files.
  EXPECT_EQ(folder.ClusterCount, 8u);
  // The superblock counts what the FAT holds and its CRC is right.
  const uint32_t last = uint32_t(model.LastCluster());
  uint32_t used = 0;
  for (uint32_t c = 0; c <= last; ++c)
    if (image.FatEntry(c) != ib::kFatFree) ++used;
  EXPECT_EQ(image.SuperU32(ib::kSbUsedClusters), used);
  EXPECT_EQ(image.SuperU32(ib::kSbFatCrc), image.ComputeFatCrc(last));
}

TEST_F(CopyJobTest, RecorderToRecorderWithOtherClusterSizeAndMove) {
  const ib::DiskImage source = Sample();
  ib::DiskImage target(Spec(4512, 300));
  ShowRecorder(source, 0, 0);
  ShowRecorder(target, 1, 1);
  host.Check(0, "\\DataFiles\\a.rec");
  host.Check(0, "\\DataFiles\\b.dat");
  transfer::DoCopy(0, true);
  ASSERT_TRUE(script.Prompts().empty()) << script.Prompts()[0].Text;

  ib::ImageFile t = Image(1);
  for (const char* name : {"a.rec", "b.dat"}) {
    ib::DecodedEntry e;
    ASSERT_TRUE(FindEntry(t, target.FolderIndex("\\DataFiles"), name, e)) << name;
    const std::string path = std::string("\\DataFiles\\") + name;
    const uint64_t size = source.Entry(path).Size;
    EXPECT_EQ(ib::SizeFromFields(e.ClusterCount, e.FreeBytes, e.LastSectorBytes, 4512), size);
    EXPECT_TRUE(SameBytes(ImageFileBytes(t, e.StartCluster, size), source.FileBytes(path)));
  }
  // Moved: the sources' entries are gone and their clusters free.
  ib::ImageFile s = Image(0);
  ib::DecodedEntry gone;
  EXPECT_FALSE(FindEntry(s, source.FolderIndex("\\DataFiles"), "a.rec", gone));
  EXPECT_FALSE(FindEntry(s, source.FolderIndex("\\DataFiles"), "b.dat", gone));
  for (uint32_t c : source.Entry("\\DataFiles\\a.rec").Chain) EXPECT_EQ(s.FatEntry(c), ib::kFatFree);
  EXPECT_GE(host.FileListCount[0], 1);   // a move redraws the source
}

TEST_F(CopyJobTest, SameDiskMoveRelinksWithoutMovingData) {
  ib::DiskImage model = Sample();
  ShowSameRecorder(model, 0, "\\DataFiles\\", "\\DataFiles\\Films\\");
  host.Check(0, "\\DataFiles\\a.rec");
  const std::vector<uint8_t> fatBefore = Image(0).ReadView(0x20000, 3 * 400);
  transfer::DoCopy(0, true);
  ASSERT_TRUE(script.Prompts().empty()) << script.Prompts()[0].Text;

  ib::ImageFile image = Image(0);
  ib::DecodedEntry e, gone;
  ASSERT_TRUE(FindEntry(image, model.FolderIndex("\\DataFiles\\Films"), "a.rec", e));
  EXPECT_FALSE(FindEntry(image, model.FolderIndex("\\DataFiles"), "a.rec", gone));
  EXPECT_EQ(e.StartCluster, model.Entry("\\DataFiles\\a.rec").Chain.front());
  EXPECT_EQ(image.ReadView(0x20000, 3 * 400), fatBefore);   // no cluster moved
  EXPECT_TRUE(powered.empty());
  // Both panes show the result.
  EXPECT_EQ(core::Disk[0].FileCount, core::Disk[1].FileCount);
  EXPECT_EQ(host.ItemOf(0, "\\DataFiles\\a.rec"), 0);
  EXPECT_GT(host.ItemOf(1, "\\DataFiles\\Films\\a.rec"), 0);
}

// A folder takes no more entries than the loader reads back: a copy from
// the PC and a move inside one disk of three files into a folder with room
// for all, one or none. Each is listed there after the job's reload (no
// folder damaged) or named as not fitting, its source kept.
TEST_F(CopyJobTest, AFullFolderTakesWhatFitsAndNamesTheRest) {
  for (const bool move : {false, true})
    for (const int room : {3, 1, 0}) {
      SCOPED_TRACE(std::to_string(move) + std::to_string(room));
      script.Reset();
      ib::DiskImage model(Spec(kSpc, 1100));
      model.AddFolder("\\DataFiles\\Full");
      for (int k = 0; k < core::kMaxDirEntries - room; ++k)
        model.AddFile({"\\DataFiles\\Full\\f" + std::to_string(k), 0, {}, 1, ib::Content::Zeros()});
      const std::string from = move ? "\\DataFiles\\" : Pc(), names[] = {"s0.rec", "s1.rec", "s2.rec"};
      for (const std::string& n : names)
        move ? void(model.AddFile(File(from + n, 9, 1))) : ib::WriteWholeFile(from + n, "data");
      if (move) ShowSameRecorder(model, 0, from, "\\DataFiles\\Full\\");
      else ShowPc(0), ShowRecorder(model, 1, 1, "\\DataFiles\\Full\\");
      for (const std::string& n : names) host.Check(0, from + n);
      if (room < 3) script.ExpectMsgBox("These files were not copied", ui::Answer::OK);
      transfer::DoCopy(0, move);
      EXPECT_TRUE(script.AllAnswered());
      const std::string told = room < 3 ? script.MsgBoxTexts().back() : "";
      int listed = 0;
      for (const std::string& n : names) {
        const bool there = IndexOf(1, "\\DataFiles\\Full\\" + n) >= 0;
        listed += there;
        EXPECT_EQ(there, told.find(n) == std::string::npos) << n << ": " << told;
        EXPECT_TRUE(there || !move || IndexOf(0, from + n) >= 0) << n << " is gone";
      }
      EXPECT_EQ(listed, room);
      testenv::CloseDisksAndReset();
    }
}

TEST_F(CopyJobTest, SameDiskCopyKeepsBothSidesFatsInStep) {
  ib::DiskImage model = Sample();
  ShowSameRecorder(model, 0, "\\DataFiles\\", "\\DataFiles\\Films\\Old\\");
  host.Check(0, "\\DataFiles\\a.rec");
  host.Check(0, "\\DataFiles\\b.dat");
  transfer::DoCopy(0, false);
  ASSERT_TRUE(script.Prompts().empty()) << script.Prompts()[0].Text;

  ib::ImageFile image = Image(0);
  const uint32_t old = model.FolderIndex("\\DataFiles\\Films\\Old");
  ib::DecodedEntry a, b;
  ASSERT_TRUE(FindEntry(image, old, "a.rec", a));
  ASSERT_TRUE(FindEntry(image, old, "b.dat", b));
  std::set<uint32_t> seen;
  for (uint32_t c : ImageChain(image, a.StartCluster)) EXPECT_TRUE(seen.insert(c).second);
  for (uint32_t c : ImageChain(image, b.StartCluster)) EXPECT_TRUE(seen.insert(c).second);
  for (const std::string& p : model.Paths())
    for (uint32_t c : model.Entry(p).Chain) EXPECT_FALSE(seen.count(c)) << p;
  EXPECT_TRUE(SameBytes(ImageFileBytes(image, b.StartCluster, kCluster * 2), model.FileBytes("\\DataFiles\\b.dat")));
  for (size_t c = 0; c < 500; ++c) EXPECT_EQ(core::Disk[0].FAT[c].Next, core::Disk[1].FAT[c].Next);
}

TEST_F(CopyJobTest, OverwriteQuestionYesReplacesNoEndsWithNothingToCopy) {
  const ib::DiskImage model = Sample();
  ShowRecorder(model, 0, 0);
  ib::WriteWholeFile(Pc() + "b.dat", "old");
  ShowPc(1);
  host.Check(0, "\\DataFiles\\b.dat");
  script.ExpectMsgBox("Some file(s) already exist.\r\nOverwrite?", ui::Answer::No)
      .ExpectMsgBox("Nothing to copy!", ui::Answer::OK)
      .ExpectMsgBox("These files were not copied or moved as asked:\r\n\\DataFiles\\b.dat: a file of that name", ui::Answer::OK);
  transfer::DoCopy(0, false);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "b.dat"), "old"));
  EXPECT_FALSE(transfer::ProgressWindowLoaded());
  EXPECT_EQ(host.DisableCount, host.EnableCount);

  script.ExpectMsgBox("Overwrite?", ui::Answer::Yes);
  transfer::DoCopy(0, false);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "b.dat"), model.FileBytes("\\DataFiles\\b.dat")));
}

TEST_F(CopyJobTest, FatFamilyTargetExcludesFilesOf4GB) {
  // A sparse PC file of 4 GiB + 5 bytes bound for a FAT-family folder.
  ASSERT_TRUE(platform::MakePath(Pc() + "src"));
  ASSERT_TRUE(platform::MakePath(Pc() + "usb"));
  ib::WriteWholeFile(Pc() + "src/huge.ts", "x");
  std::filesystem::resize_file(Pc() + "src/huge.ts", 4294967296ll + 5);
  ShowPc(0, "src/");
  ShowPc(1, "usb/");
  transfer::SetVolumeLimitCheck([this](const std::string& folder) { return folder == Pc() + "usb/"; });
  host.Check(0, Pc() + "src/huge.ts");
  script.ExpectMsgBox("You are trying to copy files >4GB to a non NTFS partition.", ui::Answer::OK)
      .ExpectMsgBox("Nothing to copy!", ui::Answer::OK)
      .ExpectMsgBox("These files were not copied or moved as asked:\r\n" + Pc() + "src/huge.ts: 4 GB", ui::Answer::OK);
  transfer::DoCopy(0, false);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_LT(platform::FileLength(Pc() + "usb/huge.ts"), 0);
}

// More than fits, onto the recorder and onto the PC, copied and moved: No
// copies nothing and leaves the free space as it was; Yes copies what fits
// (1.bin, its bytes) and names every file left out, more than fit on a
// screen, whose source a move keeps.
TEST_F(CopyJobTest, NoSpaceAsksCopiesWhatFitsAndNamesEveryFileLeftOut) {
  std::vector<std::string> names;
  for (int k = 1; k <= 60; ++k) names.push_back(std::to_string(k) + ".bin");
  for (const int from : {1, 0})   // the PC side 1 to the recorder, and back
    for (const bool move : {false, true}) {
      script.Reset();
      ib::DiskImage model(Spec(kSpc, from == 0 ? 70 : 12));
      const std::string folder[] = {"\\DataFiles\\", Pc()};
      for (size_t k = 0; k < names.size(); ++k) {
        ::unlink((Pc() + names[k]).c_str());
        if (from == 0) model.AddFile(File(folder[0] + names[k], k ? 100 : kCluster + 7, uint32_t(k)));
      }
      ShowRecorder(model, 0, 0);
      const uint64_t free = uint64_t(core::FSGetFreeSpace(0));
      const std::string fits = from == 0 ? model.FileBytes(folder[0] + names[0]) : PatternBytes(0, free - kCluster);
      if (from == 1) ib::WriteWholeFile(Pc() + names[0], fits);
      for (size_t k = 1; from == 1 && k < names.size(); ++k)   // sparse: each larger than the free space
        ib::WriteWholeFile(Pc() + names[k], ""), std::filesystem::resize_file(Pc() + names[k], free + 1);
      ShowPc(1);
      for (size_t k = 1; from == 0 && k < names.size(); ++k) core::Disk[0].Files[size_t(IndexOf(0, folder[0] + names[k]))].Size = 1e15;
      for (const std::string& n : names) host.Check(from, folder[from] + n);
      for (const ui::Answer answer : {ui::Answer::No, ui::Answer::Yes}) {
        SCOPED_TRACE(std::to_string(from) + std::to_string(move) + std::to_string(int(answer)));
        script.ExpectMsgBox("Copy as much as possible?", answer);
        if (answer == ui::Answer::Yes) script.ExpectMsgBox("These files were not copied", ui::Answer::OK);
        transfer::DoCopy(from, move);
        EXPECT_TRUE(script.AllAnswered());
        if (answer == ui::Answer::No) { EXPECT_EQ(uint64_t(core::FSGetFreeSpace(0)), free); }
        for (const std::string& n : names) {
          const bool copied = answer == ui::Answer::Yes && n == "1.bin";
          EXPECT_EQ(IndexOf(1 - from, folder[1 - from] + n) >= 0, copied) << n;
          EXPECT_EQ(IndexOf(from, folder[from] + n) >= 0, !move || !copied) << n;
          EXPECT_EQ(script.MsgBoxTexts().back().find("\n" + folder[from] + n + ": ") == std::string::npos, copied || answer == ui::Answer::No) << n;
        }
      }
      ib::DecodedEntry e;
      EXPECT_TRUE(from == 0 ? SameBytes(ib::ReadWholeFile(Pc() + "1.bin"), fits)
                            : FindEntry(Image(0), model.FolderIndex("\\DataFiles"), "1.bin", e) &&
                                  SameBytes(ImageFileBytes(Image(0), e.StartCluster, fits.size()), fits));
      testenv::CloseDisksAndReset();
    }
}

TEST_F(CopyJobTest, MoveToPcErasesEachSourceOnlyAfterItsCopy) {
  const ib::DiskImage model = Sample();
  ShowRecorder(model, 0, 0);
  ShowPc(1);
  host.Check(0, "\\DataFiles\\a.rec");
  host.Check(0, "\\DataFiles\\b.dat");
  // Stop at once while b.dat (the second file) is being copied.
  int events = 0;
  script.SetDoEventsHook([&](bool) {
    if (++events == 1) return;
    if (platform::FileLength(Pc() + "b.dat") > 0 && transfer::CancelState == 0) {
      script.ExpectMsgBox("Cancel immediately", ui::Answer::Yes);
      transfer::ProgressWindow()->Command1->click();
    }
  });
  transfer::DoCopy(0, true);
  script.SetDoEventsHook(nullptr);
  EXPECT_EQ(transfer::CancelState, 2);
  EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "a.rec"), model.FileBytes("\\DataFiles\\a.rec")));
  EXPECT_LT(platform::FileLength(Pc() + "b.dat"), 0);   // the unfinished copy is gone
  ib::ImageFile image = Image(0);
  ib::DecodedEntry e;
  EXPECT_FALSE(FindEntry(image, model.FolderIndex("\\DataFiles"), "a.rec", e));   // moved
  ASSERT_TRUE(FindEntry(image, model.FolderIndex("\\DataFiles"), "b.dat", e));    // kept
  EXPECT_TRUE(SameBytes(ImageFileBytes(image, e.StartCluster, kCluster * 2), model.FileBytes("\\DataFiles\\b.dat")));
  EXPECT_TRUE(powered.empty());
}

TEST_F(CopyJobTest, FinishCurrentFileCompletesItThenStops) {
  const ib::DiskImage model = Sample();
  ShowRecorder(model, 0, 0);
  ShowPc(1);
  host.Check(0, "\\DataFiles\\a.rec");
  host.Check(0, "\\DataFiles\\b.dat");
  bool asked = false;
  script.SetDoEventsHook([&](bool) {
    if (!asked && platform::FileLength(Pc() + "a.rec") > 0) {
      asked = true;
      script.ExpectMsgBox("Cancel immediately", ui::Answer::No);
      transfer::ProgressWindow()->Command1->click();
    }
  });
  transfer::ProgressWindow()->Combo1->setCurrentIndex(2);
  transfer::DoCopy(0, true);
  script.SetDoEventsHook(nullptr);
  EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "a.rec"), model.FileBytes("\\DataFiles\\a.rec")));
  EXPECT_LT(platform::FileLength(Pc() + "b.dat"), 0);
  ib::DecodedEntry e;
  ib::ImageFile image = Image(0);
  EXPECT_FALSE(FindEntry(image, model.FolderIndex("\\DataFiles"), "a.rec", e));
  EXPECT_TRUE(FindEntry(image, model.FolderIndex("\\DataFiles"), "b.dat", e));
  EXPECT_TRUE(powered.empty());   // cancelled: no after-job action
}

TEST_F(CopyJobTest, DamagedChainIsReportedAndItsSourceKept) {
  ib::DiskImage model = Sample();
  ShowRecorder(model, 0, 0);
  ShowPc(1);
  // a.rec's chain loops back after its third cluster; b.dat's ends after its first.
  const std::vector<uint32_t> a = model.Entry("\\DataFiles\\a.rec").Chain;
  const std::vector<uint32_t> b = model.Entry("\\DataFiles\\b.dat").Chain;
  core::Disk[0].FAT[a[2]].Next = int32_t(a[0]);
  core::Disk[0].FAT[b[0]].Next = -1;
  host.Check(0, "\\DataFiles\\a.rec");
  host.Check(0, "\\DataFiles\\b.dat");
  host.Check(0, "\\DataFiles\\Films");
  script.ExpectMsgBox("These files were not copied or moved as asked:", ui::Answer::OK);
  transfer::DoCopy(0, true);
  ASSERT_TRUE(script.AllAnswered());
  const std::string report = script.Prompts().back().Text;
  EXPECT_NE(report.find("a.rec: the file is damaged"), std::string::npos) << report;
  EXPECT_NE(report.find("b.dat: the file is damaged"), std::string::npos) << report;
  EXPECT_LT(platform::FileLength(Pc() + "a.rec"), 0);
  EXPECT_LT(platform::FileLength(Pc() + "b.dat"), 0);
  ib::DecodedEntry e;
  ib::ImageFile image = Image(0);
  EXPECT_TRUE(FindEntry(image, model.FolderIndex("\\DataFiles"), "a.rec", e));
  EXPECT_TRUE(FindEntry(image, model.FolderIndex("\\DataFiles"), "b.dat", e));
  // The sound folder was moved.
  EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "Films/c.rec"), model.FileBytes("\\DataFiles\\Films\\c.rec")));
}

// Size fields no writer gives (c.rec holds 1 byte): the copy takes no byte
// past what the fields can mean, and never a negative size.
TEST_F(CopyJobTest, ImpossibleSizeFieldsCopyNoBytesPastWhatTheyCanMean) {
  const ib::DiskImage model = Sample();
  const uint32_t c = uint32_t(kCluster);
  for (const auto [free, last, most] : {std::array<uint32_t, 3>{c - 512, 0xFFFF, 512},
                                        {c - 512, 513, 512}, {0x7FFFFFFF, 1, c}, {c, 1, c}}) {
    ShowRecorder(model, 0, 0, "\\DataFiles\\Films\\");
    ShowPc(1);
    const core::FileRec rec = core::Disk[0].Files[size_t(IndexOf(0, "\\DataFiles\\Films\\c.rec"))];
    ib::ImageFile image = Image(0);
    auto slot = image.ReadSlot(uint32_t(rec.DirCluster), rec.Slot);
    ib::PutBE32(&slot[16], free);
    slot[126] = uint8_t(last >> 8), slot[127] = uint8_t(last);
    image.WriteSlot(uint32_t(rec.DirCluster), rec.Slot, slot);
    core::InvalidateSideCache(0);
    ASSERT_TRUE(core::LoadTopf(0, true));
    host.Fill(0);
    host.Check(0, "\\DataFiles\\Films\\c.rec");
    transfer::DoCopy(0, false);
    const std::string copy = ib::ReadWholeFile(Pc() + "c.rec");
    EXPECT_GE(copy.size(), 1u);
    EXPECT_LE(copy.size(), most) << free << " " << last;
    EXPECT_EQ(copy.substr(0, 1), model.FileBytes("\\DataFiles\\Films\\c.rec").substr(0, 1));
    std::filesystem::remove(Pc() + "c.rec");
  }
}

TEST_F(CopyJobTest, FoldersAfterAFileLineStillGetTheirFolder) {
  const ib::DiskImage model = Sample();
  ShowRecorder(model, 0, 0);
  ib::DiskImage target(Spec(kSpc, 300));
  ShowRecorder(target, 1, 1);
  // a.rec stands above Films in the list: the queue starts with a file line.
  ASSERT_LT(host.ItemOf(0, "\\DataFiles\\a.rec"), host.ItemOf(0, "\\DataFiles\\Films"));
  host.Check(0, "\\DataFiles\\a.rec");
  host.Check(0, "\\DataFiles\\Films");
  transfer::DoCopy(0, false);
  ASSERT_TRUE(script.Prompts().empty()) << script.Prompts()[0].Text;
  ib::ImageFile image = Image(1);
  ib::DecodedEntry films, old, d;
  ASSERT_TRUE(FindEntry(image, target.FolderIndex("\\DataFiles"), "Films", films));
  ASSERT_TRUE(FindEntry(image, films.StartCluster, "Old", old));
  ASSERT_TRUE(FindEntry(image, old.StartCluster, "d.rec", d));
  EXPECT_TRUE(SameBytes(ImageFileBytes(image, d.StartCluster, kCluster + 7),
            model.FileBytes("\\DataFiles\\Films\\Old\\d.rec")));
  EXPECT_EQ(old.ClusterCount, 3u);     // its own cluster and d.rec's two
  EXPECT_EQ(films.ClusterCount, 5u);   // + c.rec and its own
}

TEST_F(CopyJobTest, MissingTargetFolderIsReportedChainUndoneSourceKept) {
  const ib::DiskImage model = Sample();
  ShowRecorder(model, 0, 0);
  ib::DiskImage target(Spec(kSpc, 300));
  ShowRecorder(target, 1, 1, "\\DataFiles\\Gone\\");   // a folder the disk does not hold
  host.Check(0, "\\DataFiles\\b.dat");
  const double freeBefore = core::FSGetFreeSpace(1);
  // Once, with its reason, in the job's report.
  script.ExpectMsgBox("b.dat: the target file could not be created (the folder \"\\DataFiles\\Gone\\\" was not found", ui::Answer::OK);
  transfer::DoCopy(0, true);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::FSGetFreeSpace(1), freeBefore);
  ib::DecodedEntry e;
  EXPECT_TRUE(FindEntry(Image(0), model.FolderIndex("\\DataFiles"), "b.dat", e));
}

TEST_F(CopyJobTest, CancelInFolderPhaseStillReloadsAndRecomputesSizes) {
  const ib::DiskImage model = Sample();
  ShowRecorder(model, 0, 0);
  ib::DiskImage target(Spec(kSpc, 300));
  ShowRecorder(target, 1, 1);
  host.Check(0, "\\DataFiles\\Films");
  script.SetDoEventsHook([&](bool) {
    if (transfer::JobRunning && transfer::CancelState == 0 &&
        transfer::ProgressWindow()->Label1[0]->text().startsWith("Creating destination tree")) {
      script.ExpectMsgBox("Cancel immediately", ui::Answer::Yes);
      transfer::CheckCancelCopy();
    }
  });
  transfer::DoCopy(0, false);
  script.SetDoEventsHook(nullptr);
  EXPECT_EQ(host.FileListCount[1], 1);
  EXPECT_EQ(host.DisableCount, host.EnableCount);
  EXPECT_FALSE(transfer::JobRunning);
  // The first folder was made and its parent's size counts it.
  ib::ImageFile image = Image(1);
  ib::DecodedEntry films, data;
  ASSERT_TRUE(FindEntry(image, target.FolderIndex("\\DataFiles"), "Films", films));
  ASSERT_TRUE(FindEntry(image, 0, "DataFiles", data));
  EXPECT_EQ(data.ClusterCount, 2u);
  EXPECT_FALSE(FindEntry(image, films.StartCluster, "c.rec", films));
}

TEST_F(CopyJobTest, AfterJobHibernationRunsTheCountdownThenPowers) {
  const ib::DiskImage model = Sample();
  ShowRecorder(model, 0, 0);
  ShowPc(1);
  host.Check(0, "\\DataFiles\\b.dat");
  script.SetDoEventsHook([&](bool) {
    if (transfer::ProgressWindowLoaded()) transfer::ProgressWindow()->Combo1->setCurrentIndex(1);
  });
  transfer::DoCopy(0, false);
  script.SetDoEventsHook(nullptr);
  ASSERT_EQ(powered.size(), 1u);
  EXPECT_EQ(powered[0], platform::PowerAction::Hibernate);
  EXPECT_EQ(transfer::CountdownWindow(), nullptr);
}

// The next cluster is read while the current one is written: a sector
// unreadable at any cluster is zeros in the copy and named, the source
// stays; a write that fails at any cluster ends the file with nothing
// written after it, whichever cluster the read-ahead had reached.
TEST_F(CopyJobTest, FailedReadOrWriteAtAnyClusterIsToldAndKeepsTheSource) {
  ib::DiskImage model(Spec(kSpc, 300));
  model.AddFile(File("\\DataFiles\\film.rec", kCluster * 4 + 9, 5));   // 5 clusters
  const std::vector<uint32_t> chain = model.Entry("\\DataFiles\\film.rec").Chain;
  ib::DiskImage empty(Spec(kSpc, 300));
  for (uint32_t j = 0; j < chain.size(); ++j) {
    for (const bool toPc : {true, false}) {
      SCOPED_TRACE("cluster " + std::to_string(j) + (toPc ? " read, to a PC" : " written, to a disk"));
      ShowRecorder(model, 0, 0);
      if (toPc) ShowPc(1); else ShowRecorder(empty, 1, 1);
      const double freeBefore = core::FSGetFreeSpace(1);
      faults::SectorFaults f;
      if (toPc) {
        const uint32_t sector = (chain[j] + 1) * kSpc;
        f.FailReadsWhere([sector](uint32_t first, int32_t) { return first == sector; });
      } else {
        f.OnlyHandle(core::Disk[1].Handle);
        f.FailWritesAfter(j);
      }
      host.Check(0, "\\DataFiles\\film.rec");
      script.ExpectMsgBox("These files were not copied or moved as asked:", ui::Answer::OK);
      transfer::DoCopy(0, true);
      ASSERT_TRUE(script.AllAnswered());
      const std::string why = toPc ? "could not be read (bytes " + std::to_string(j * kCluster) + "-"
                                   : "writing the copy failed";
      EXPECT_NE(script.Prompts().back().Text.find(why), std::string::npos);
      script.Reset();
      ib::DecodedEntry e;
      EXPECT_TRUE(FindEntry(Image(0), model.FolderIndex("\\DataFiles"), "film.rec", e));   // kept
      if (toPc) {
        EXPECT_EQ(platform::FileLength(Pc() + "film.rec"), int64_t(kCluster * 4 + 9));
        ::unlink((Pc() + "film.rec").c_str());   // no "Overwrite?" next time
      } else {
        EXPECT_EQ(f.Writes().size(), j);   // the clusters before the failed one, nothing after
        EXPECT_FALSE(FindEntry(Image(1), empty.FolderIndex("\\DataFiles"), "film.rec", e));
        EXPECT_EQ(core::FSGetFreeSpace(1), freeBefore);
      }
    }
  }
}

// One table of names {as on the PC, as written on the recorder} through
// copy on, moves within and between recorder disks, copy off, rename and
// New Folder, each read back by a reload: the extension survives every cut.
TEST_F(CopyJobTest, EveryWriterStoresANameAsItReadsBack) {
  std::string a90(90, 'a'), euros;   // 45 x "€–" in Windows-1252: 270 bytes as UTF-8
  while (euros.size() < 90) euros += "\x80\x96";
  const std::vector<std::pair<std::string, std::string>> names = {
      {"Show.rec", "Show.rec"}, {a90 + ".rec", a90 + ".rec"}, {a90 + "a.rec", a90 + "a.rec"},
      {a90 + "aaaaaa.rec", a90 + "a.rec"}, {a90 + "bbbbb", a90 + "bbbb"},
      {a90 + "bbbbbbbbbb", a90 + "bbbb"}, {"Caf\xC3\xA9 \xC3\xBF Show.rec", "Caf\xE9 y Show.rec"},
      {"a\x01" "b\x1F.ts", "a_b_.ts"}, {"Aufnahme_\xE4lt.rec", "Aufnahme_\xE4lt.rec"},
      {"\xE2\x82\xAC\xE2\x80\x93.rec", "\x80\x96.rec"}, {euros + ".rec", euros + ".rec"}};
  ib::DiskImage model(Spec(kSpc, 60));
  model.AddFolder("\\DataFiles\\Films");
  const auto shows = [&](int n, const std::string& path) {
    ShowDrive(0, n, "\\DataFiles\\");
    return IndexOf(0, path) >= 0;
  };
  for (const auto& [pcName, written] : names) {
    SCOPED_TRACE(written);
    std::filesystem::remove_all(Pc() + "out");
    std::filesystem::create_directory(Pc() + "out");
    ib::WriteWholeFile(Pc() + pcName, "data");
    ShowRecorder(model, 0, 0);
    ShowPc(1);
    host.Check(1, Pc() + pcName);
    transfer::DoCopy(1, true);   // moved on
    ASSERT_TRUE(shows(0, "\\DataFiles\\" + written));
    for (const int n : {0, 1}) {   // moved within the disk, then to another
      if (n) ShowRecorder(model, 1, 1);
      ShowDrive(0, 0, n ? "\\DataFiles\\Films\\" : "\\DataFiles\\");
      if (!n) ShowDrive(1, 0, "\\DataFiles\\Films\\");
      host.Check(0, host.Label[0] + written);
      transfer::DoCopy(0, true);
      ASSERT_TRUE(shows(n, (n ? "\\DataFiles\\" : "\\DataFiles\\Films\\") + written));
    }
    ShowPc(1, "out/");
    host.Check(0, "\\DataFiles\\" + written);
    transfer::DoCopy(0, false);   // copied off: the extension stays within 255 bytes
    const std::string off = std::filesystem::directory_iterator(Pc() + "out")->path().filename();
    const auto ext = [](const std::string& t) { return t.substr(std::min(t.rfind('.'), t.size())); };
    EXPECT_TRUE(off.size() <= 255 && ext(off) == ext(written)) << off;
    ASSERT_TRUE(script.Prompts().empty()) << script.Prompts()[0].Text;
    const bool control = pcName.find('\x01') != std::string::npos;
    if (control) script.ExpectMsgBox("control characters", ui::Answer::OK);   // refused
    ASSERT_TRUE(transfer::FSRenameFile(0, IndexOf(0, "\\DataFiles\\" + written), "x.rec"));
    transfer::FSRenameFile(0, IndexOf(0, "\\DataFiles\\x.rec"), platform::Utf8ToCp1252(pcName));
    EXPECT_TRUE(shows(1, "\\DataFiles\\" + (control ? "x.rec" : written)));
    ASSERT_TRUE(transfer::FSCreateDir(0, "\\DataFiles\\Films\\" + platform::Utf8ToCp1252(pcName)));
    EXPECT_TRUE(shows(1, "\\DataFiles\\Films\\" + written));
    script.Reset();
  }
}

}  // namespace
}  // namespace jobtest
