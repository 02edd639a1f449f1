// A failed write is told, never shown as done: each command, with the disk's
// writes failing through the fault layer (or its PC file gone), names what it
// could not write, and its list then shows what a reload finds on the disk.
#include <unistd.h>

#include "commands/disk_maint.h"
#include "commands/file_date.h"
#include "core/disk_load.h"
#include "tests/mainwindow/form1_pane_fixture.h"
#include "tests/support/sector_faults.h"

namespace {

using mainwindow::Form1;
// What fails: every write, the item's first cluster, the second write of the
// system cluster, or the item's PC file is gone.
enum class Fault { Writes, ItemData, SecondSystemWrite, PcFileGone };
struct Row {
  const char* Name;
  int Side;
  const char* Item;
  void (*Run)(Form1&, int side, int index);
  Fault What;
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.Name; }

void Crypted(Form1& f, int, int) { f.Menu_LVContext_SetCrypted_Click(); }
void AutoDate(Form1& f, int, int) { f.Menu_LVContext_AutoSetFileDate_Click(); }
void EditDate(Form1& f, int side, int index) {
  commands::DateWindow(&f).SetFileDate(side, index);
  commands::DateWindow(&f).Command1_Click(0);
}
void WriteGrown(Form1&, int, int index) {   // a found chain continued the root file
  core::DiskRec& d = core::Disk[0];
  core::FileRec& f = d.Files[size_t(index)];
  d.FAT[size_t(f.StartCluster)].Next = 40, d.FAT[40] = {-1, f.StartCluster};
  f.Size += double(form1test::kClusterBytes), f.ClusterCount += 1, f.Recovered = true;
  commands::WriteRecovered();
}

class FailedWriteTest : public form1test::PaneTest, public ::testing::WithParamInterface<Row> {};

TEST_P(FailedWriteTest, IsToldAndTheListShowsTheDisk) {
  const Row& row = GetParam();
  imagebuilder::DiskImage image = form1test::StandardImage(row.Run != WriteGrown);
  if (row.Run == WriteGrown) image.AddFile({"\\x.rec", 0, {}, 5000, {}, 1, {}, {}, 0, /*slot*/ 1});
  StandardPanes(image);
  Flags() |= core::FlagWriteMode | core::FlagSide0Writable | core::FlagSide1Writable;
  if (row.Side == 0) form->SelectDirectory(0, row.Run == WriteGrown ? "\\" : "\\DataFiles\\");
  const QString key = KeyOf(row.Side, row.Item);
  const int index = Form1::IndexFromKey(key);
  form->LV1[row.Side]->SetSelectedKey(key);
  mainwindow::ActiveSide = row.Side;
  const uint32_t data = uint32_t(core::Disk[row.Side].Files[size_t(index)].StartCluster + 1) * 2068;
  faults::SectorFaults f;
  if (row.What == Fault::Writes) f.FailWritesAfter(0);
  if (row.What == Fault::ItemData) f.FailWritesWhere([data](uint32_t s, int32_t) { return s == data; });
  if (row.What == Fault::SecondSystemWrite)
    f.FailWritesWhere([n = 0](uint32_t s, int32_t) mutable { return s == 0 && n++ >= 1; });
  if (row.What == Fault::PcFileGone) unlink((pc_ + "/" + row.Item).c_str());
  script.ExpectMsgBox("could not", ui::Answer::OK);
  row.Run(*form, row.Side, index);
  EXPECT_TRUE(script.AllAnswered());

  auto shown = [&] {
    form->ShowFileList(row.Side);
    QStringList r{form->LV1[row.Side]->IconKey(key)};
    for (int c = 0; c < form->LV1[row.Side]->ColumnCount(); ++c) r << form->LV1[row.Side]->SubItem(key, c);
    return r;
  };
  const QStringList before = shown();
  core::LoadTopf(row.Side, true);
  EXPECT_TRUE(row.Side == 1 || shown() == before);
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, FailedWriteTest,
                         ::testing::Values(Row{"Set Crypted", 0, "bare.rec", Crypted, Fault::Writes},
                                           Row{"its header", 0, "good.rec", Crypted, Fault::ItemData},
                                           Row{"Automatic File Date", 0, "good.rec", AutoDate, Fault::Writes},
                                           Row{"on the PC", 1, "film.ts", AutoDate, Fault::PcFileGone},
                                           Row{"Edit File Date on the PC", 1, "film.ts", EditDate, Fault::PcFileGone},
                                           Row{"Write Recovered", 0, "x.rec", WriteGrown, Fault::SecondSystemWrite}));

}  // namespace
