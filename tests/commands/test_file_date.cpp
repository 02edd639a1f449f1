// The file-date editors: the entry's date bytes, dates that cannot be
// stored, the date window, and Automatic File Date through the main window.
#include <sys/stat.h>

#include <QDateTimeEdit>
#include <QLabel>
#include <ctime>

#include "commands/file_date.h"
#include "core/disk_format.h"
#include "tests/commands/commands_fixture.h"
#include "tests/mainwindow/form1_pane_fixture.h"
#include "tests/support/test_env.h"

namespace {

namespace ib = imagebuilder;

class FileDateTest : public editortest::DataFilesTest {
 protected:
  std::vector<uint8_t> Slot(const std::string& name) {
    return Image().ReadSlot(uint32_t(R(name).DirCluster), R(name).Slot);
  }
};

TEST_F(FileDateTest, DateHourAndMinuteAreStoredSecondsKept) {
  const std::vector<uint8_t> before = Snapshot();
  const uint8_t seconds = Slot("good.rec")[5];
  EXPECT_EQ(seconds, 33);
  EXPECT_TRUE(commands::SetFileRecDate(0, Index("good.rec"), core::DateValue(2000, 1, 1, 20, 15, 59)));
  const std::vector<uint8_t> slot = Slot("good.rec");
  EXPECT_EQ(slot[1], 0xC9);
  EXPECT_EQ(slot[2], 0x58);
  EXPECT_EQ(slot[3], 20);
  EXPECT_EQ(slot[4], 15);
  EXPECT_EQ(slot[5], 33);
  ExpectChangedOnly(before, Snapshot(),
                    {EntryByte("good.rec", 1), EntryByte("good.rec", 2), EntryByte("good.rec", 3),
                     EntryByte("good.rec", 4)});
}

TEST_F(FileDateTest, DatesARecorderCannotKeepAreRefused) {
  const std::vector<uint8_t> before = Snapshot();
  const double old = R("good.rec").RecDate;
  EXPECT_FALSE(commands::SetFileRecDate(0, Index("good.rec"), core::DateValue(2040, 1, 1, 0, 0, 0)));
  EXPECT_FALSE(commands::SetFileRecDate(0, Index("good.rec"), core::DateValue(1850, 1, 1, 0, 0, 0)));
  EXPECT_EQ(R("good.rec").RecDate, old);
  EXPECT_EQ(Snapshot(), before);
  // The ends of the range are kept: MJD 0 and MJD 65535.
  EXPECT_TRUE(commands::SetFileRecDate(0, Index("good.rec"), commands::FirstRecorderDate()));
  EXPECT_EQ(Slot("good.rec")[1], 0);
  EXPECT_EQ(Slot("good.rec")[2], 0);
  EXPECT_TRUE(commands::SetFileRecDate(0, Index("good.rec"), commands::LastRecorderDate()));
  EXPECT_EQ(Slot("good.rec")[1], 0xFF);
  EXPECT_EQ(Slot("good.rec")[2], 0xFF);
  EXPECT_EQ(Slot("good.rec")[3], 23);
  EXPECT_EQ(Slot("good.rec")[4], 59);
  EXPECT_FALSE(commands::SetFileRecDate(0, -1, 40000));
}

TEST_F(FileDateTest, TheDateWindowSetsThePickedDate) {
  commands::Form11 form;
  form.SetFileDate(0, Index("good.rec"));
  EXPECT_EQ(form.windowTitle(), "Topfield Zyphonel - Set File Date");
  EXPECT_EQ(form.Label1->text(), "\\DataFiles\\good.rec");
  EXPECT_EQ(form.DTPicker1->displayFormat(), "ddd dd.MM.yyyy HH:mm");

  // Set with the picker unchanged rewrites the same date.
  const std::vector<uint8_t> before = Snapshot();
  form.Command1_Click(0);
  EXPECT_EQ(Snapshot(), before);

  form.SetFileDate(0, Index("good.rec"));
  form.SetPickedDate(core::DateValue(2010, 3, 4, 5, 6, 0));
  form.Command1_Click(0);
  const std::vector<uint8_t> slot = Slot("good.rec");
  EXPECT_EQ(ib::GetBE16(slot.data() + 1), ib::MjdOf(2010, 3, 4));
  EXPECT_EQ(slot[3], 5);
  EXPECT_EQ(slot[4], 6);

  // Cancel changes nothing.
  const std::vector<uint8_t> after = Snapshot();
  form.SetFileDate(0, Index("good.rec"));
  form.SetPickedDate(core::DateValue(2011, 1, 1, 1, 1, 0));
  form.Command1_Click(1);
  EXPECT_EQ(Snapshot(), after);
}

TEST_F(FileDateTest, SetWithADateTheRecorderCannotHoldSaysSoAndWritesNothing) {
  commands::Form11 form;
  form.SetFileDate(0, Index("good.rec"));
  const std::vector<uint8_t> before = Snapshot();
  form.SetPickedDate(core::DateValue(2040, 1, 1, 12, 0, 0));
  script.ExpectMsgBox("The recorder cannot hold the date 01.01.2040 12:00: it keeps dates from "
                      "17.11.1858 to 22.04.2038.",
                      ui::Answer::OK);
  form.Command1_Click(0);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(form.result(), 0);   // still open for another date
}

// ------------------------------------------------------- the menu commands

class FileDateMenuTest : public form1test::PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    previousClock_ = core::SetNowHook([] { return testenv::LocalTime(2024, 5, 17, 20, 15, 40); });
  }
  void TearDown() override {
    core::SetNowHook(previousClock_);
    PaneTest::TearDown();
  }
  core::FileRec& Record(int side, const QString& key) {
    return core::Disk[side].Files[size_t(Form1::IndexFromKey(key))];
  }
  std::vector<uint8_t> Slot(const core::FileRec& r) {
    ib::ImageFile disk(DrivePath(1));
    return disk.ReadSlot(uint32_t(r.DirCluster), r.Slot);
  }
  using Form1 = mainwindow::Form1;
  std::function<std::tm()> previousClock_;
};

TEST_F(FileDateMenuTest, CheckedItemsGetMinutesEndingNow) {
  StandardPanes();
  Flags() |= core::FlagWriteMode | core::FlagSide0Writable;
  form->SelectDirectory(0, "\\DataFiles\\");
  const QStringList keys = form->LV1[0]->Keys();
  // Three checked items A, B, C in list order, and one unchecked.
  QStringList files;
  for (const QString& k : keys)
    if (k.startsWith('i')) files << k;
  ASSERT_GE(files.size(), 4);
  const QString a = files[0], b = files[1], c = files[3], untouched = files[2];
  const std::vector<uint8_t> untouchedSlot = Slot(Record(0, untouched));
  for (const QString& k : {a, b, c}) form->LV1[0]->SetChecked(k, true);
  mainwindow::ActiveSide = 0;
  form->Menu_LVContext_AutoSetFileDate_Click();

  const uint16_t mjd = ib::MjdOf(2024, 5, 17);
  int minute = 15;
  for (const QString& k : {c, b, a}) {
    const std::vector<uint8_t> slot = Slot(Record(0, k));
    EXPECT_EQ(ib::GetBE16(slot.data() + 1), mjd);
    EXPECT_EQ(slot[3], 20);
    EXPECT_EQ(slot[4], minute--);
  }
  EXPECT_EQ(Slot(Record(0, untouched)), untouchedSlot);
  EXPECT_EQ(form->CountSelected(0), 0);
}

TEST_F(FileDateMenuTest, NothingCheckedStampsTheSelectedItem) {
  StandardPanes();
  Flags() |= core::FlagWriteMode | core::FlagSide0Writable;
  form->SelectDirectory(0, "\\DataFiles\\");
  const QString bare = KeyOf(0, "bare.rec");
  form->LV1[0]->SetSelectedKey(bare);
  mainwindow::ActiveSide = 0;
  form->Menu_LVContext_AutoSetFileDate_Click();
  const std::vector<uint8_t> slot = Slot(Record(0, bare));
  EXPECT_EQ(slot[3], 20);
  EXPECT_EQ(slot[4], 15);
  EXPECT_EQ(form->CountSelected(0), 0);
}

TEST_F(FileDateMenuTest, AfterTheRecordersLastDateNothingIsStampedUnsaid) {
  core::SetNowHook([] { return testenv::LocalTime(2040, 3, 1, 9, 30, 0); });
  StandardPanes();
  Flags() |= core::FlagWriteMode | core::FlagSide0Writable;
  form->SelectDirectory(0, "\\DataFiles\\");
  const QString bare = KeyOf(0, "bare.rec");
  form->LV1[0]->SetSelectedKey(bare);
  mainwindow::ActiveSide = 0;
  const std::string before = ib::ReadWholeFile(DrivePath(1));
  script.ExpectMsgBox("The recorder cannot hold the date 01.03.2040 09:30", ui::Answer::OK);
  form->Menu_LVContext_AutoSetFileDate_Click();
  EXPECT_TRUE(script.AllAnswered());
  ASSERT_FALSE(script.Prompts().empty());
  EXPECT_NE(script.Prompts().back().Text.find("\\DataFiles\\bare.rec"), std::string::npos);
  EXPECT_EQ(ib::ReadWholeFile(DrivePath(1)), before);
  EXPECT_EQ(form->CountSelected(0), 0);
}

TEST_F(FileDateMenuTest, APcFileKeepsTheSeconds) {
  StandardPanes();
  Flags() |= core::FlagSide1Writable;
  const QString film = KeyOf(1, "film.ts");
  ASSERT_FALSE(film.isEmpty());
  form->LV1[1]->SetSelectedKey(film);
  mainwindow::ActiveSide = 1;
  form->Menu_LVContext_AutoSetFileDate_Click();
  struct stat st {};
  ASSERT_EQ(::stat((pc_ + "/film.ts").c_str(), &st), 0);
  std::tm local{};
  const time_t when = st.st_mtime;
  localtime_r(&when, &local);
  EXPECT_EQ(local.tm_year, 2024 - 1900);
  EXPECT_EQ(local.tm_hour, 20);
  EXPECT_EQ(local.tm_min, 15);
  EXPECT_EQ(local.tm_sec, 40);
}

TEST_F(FileDateMenuTest, ANotWritablePaneIsLeftAlone) {
  StandardPanes();
  form->SelectDirectory(0, "\\DataFiles\\");
  form->LV1[0]->SetSelectedKey(KeyOf(0, "bare.rec"));
  mainwindow::ActiveSide = 0;
  const std::string before = ib::ReadWholeFile(DrivePath(1));
  form->Menu_LVContext_AutoSetFileDate_Click();
  form->Menu_LVContext_EditFileDate_Click();
  EXPECT_EQ(ib::ReadWholeFile(DrivePath(1)), before);
  EXPECT_TRUE(script.Prompts().empty());
}

TEST_F(FileDateMenuTest, EditFileDateShowsTheDateWindow) {
  StandardPanes();
  Flags() |= core::FlagWriteMode | core::FlagSide0Writable;
  form->SelectDirectory(0, "\\DataFiles\\");
  form->LV1[0]->SetSelectedKey(KeyOf(0, "good.rec"));
  mainwindow::ActiveSide = 0;
  script.ExpectModal("Form11", 0);
  form->Menu_LVContext_EditFileDate_Click();
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(commands::DateWindow().Label1->text(), "\\DataFiles\\good.rec");
}

}  // namespace
