// The erase job and the stream scan.
#include "core/disk_format.h"
#include "tests/transfer/job_fixture.h"

namespace jobtest {
namespace {

namespace ib = imagebuilder;
using transfertest::Spec;

constexpr uint32_t kSpc = 2068;

class EraseJobTest : public JobTest {};

TEST_F(EraseJobTest, ErasesFilesThenFoldersWithWindowDisabled) {
  ib::DiskImage model(Spec(kSpc, 300));
  ib::FileSpec f;
  f.Path = "\\DataFiles\\keep.rec";
  f.Size = 5000;
  model.AddFile(f);
  model.AddFolder("\\DataFiles\\Old");
  model.AddFolder("\\DataFiles\\Old\\Deeper");
  f.Path = "\\DataFiles\\Old\\a.rec";
  f.Size = kSpc * 512 * 2;
  model.AddFile(f);
  f.Path = "\\DataFiles\\Old\\Deeper\\b.rec";
  model.AddFile(f);
  ShowSameRecorder(model, 0, "\\DataFiles\\", "\\DataFiles\\");
  host.Check(0, "\\DataFiles\\Old");
  std::vector<bool> running;
  script.SetDoEventsHook([&](bool) { running.push_back(transfer::JobRunning && host.MenusOff); });
  script.ExpectMsgBox("Do you really want to remove the selected files from the HDD?", ui::Answer::Yes);
  transfer::DoErase(0);
  script.SetDoEventsHook(nullptr);
  ASSERT_TRUE(script.AllAnswered());
  ASSERT_FALSE(running.empty());
  EXPECT_TRUE(running.back());
  EXPECT_FALSE(transfer::JobRunning);
  EXPECT_EQ(host.DisableCount, 1);
  EXPECT_EQ(host.EnableCount, 1);
  ib::ImageFile image(DrivePath(0));
  ib::DecodedEntry e;
  EXPECT_FALSE(FindEntry(image, model.FolderIndex("\\DataFiles"), "Old", e));
  ASSERT_TRUE(FindEntry(image, model.FolderIndex("\\DataFiles"), "keep.rec", e));
  for (uint32_t c : model.Entry("\\DataFiles\\Old\\a.rec").Chain) EXPECT_EQ(image.FatEntry(c), ib::kFatFree);
  EXPECT_EQ(image.FatEntry(model.FolderIndex("\\DataFiles\\Old\\Deeper")), ib::kFatFree);
  ib::DecodedEntry data;
  ASSERT_TRUE(FindEntry(image, 0, "DataFiles", data));
  EXPECT_EQ(data.ClusterCount, 2u);   // its own cluster and keep.rec
  // The other pane follows without reading the disk.
  EXPECT_EQ(host.ItemOf(1, "\\DataFiles\\Old"), 0);
  EXPECT_GT(host.ItemOf(1, "\\DataFiles\\keep.rec"), 0);
}

TEST_F(EraseJobTest, NoChangesNothingAndPcFilesGo) {
  ib::WriteWholeFile(Pc() + "x.txt", "x");
  ShowPc(1);
  host.Check(1, Pc() + "x.txt");
  script.ExpectMsgBox("Do you really want", ui::Answer::No);
  transfer::DoErase(1);
  EXPECT_EQ(platform::FileLength(Pc() + "x.txt"), 1);
  EXPECT_FALSE(transfer::ProgressWindowLoaded());
  script.ExpectMsgBox("Do you really want", ui::Answer::Yes);
  transfer::DoErase(1);
  EXPECT_LT(platform::FileLength(Pc() + "x.txt"), 0);
  EXPECT_EQ(host.ItemOf(1, Pc() + "x.txt"), 0);
}

// ------------------------------------------------------------------ scan

constexpr uint32_t kScanSpc = 1833;   // 4992 packets a cluster: every cluster starts with a packet
constexpr uint64_t kScanClusters = 16;

std::string SampleTs(bool scrambled) {
  std::string ts = ib::ReadWholeFile(ib::TestDataPath("sample.ts"));
  if (scrambled)
    for (size_t p = 0; p + 188 <= ts.size(); p += 188) {
      auto* b = reinterpret_cast<uint8_t*>(&ts[p]);
      if (b[0] == 0x47 && ((b[1] & 0x1F) << 8 | b[2]) == 0x100) b[3] = uint8_t(b[3] | 0x80);
    }
  return ts;
}

class ScanJobTest : public JobTest {
 protected:
  ib::FileSpec Recording(const std::string& path, const std::string& bytes) {
    ib::FileSpec f;
    f.Path = path;
    f.Data = ib::Content::Of(bytes);   // repeated: 14 clusters, one tested packet hit
    f.Size = bytes.size() < 100 ? bytes.size() : kScanClusters * kScanSpc * 512;
    return f;
  }
};

TEST_F(ScanJobTest, MarksScrambledAndClearRecordings) {
  ib::DiskImage model(Spec(kScanSpc, 300));
  model.AddFile(Recording("\\DataFiles\\clear.rec", SampleTs(false)));
  model.AddFile(Recording("\\DataFiles\\crypt.rec", SampleTs(true)));
  model.AddFile(Recording("\\DataFiles\\notes.txt", "hello"));
  ShowRecorder(model, 0, 0);
  host.Check(0, "\\DataFiles\\clear.rec");
  host.Check(0, "\\DataFiles\\crypt.rec");
  host.Check(0, "\\DataFiles\\notes.txt");
  transfer::DoScan(0);
  ASSERT_TRUE(script.Prompts().empty()) << script.Prompts()[0].Text;
  EXPECT_EQ(host.Item(0, "\\DataFiles\\clear.rec").Icon, "KeyG");
  EXPECT_EQ(host.Item(0, "\\DataFiles\\crypt.rec").Icon, "KeyY");
  EXPECT_EQ(host.Item(0, "\\DataFiles\\notes.txt").Icon, "");
  ib::ImageFile image(DrivePath(0));
  ib::DecodedEntry c, y;
  ASSERT_TRUE(FindEntry(image, model.FolderIndex("\\DataFiles"), "clear.rec", c));
  ASSERT_TRUE(FindEntry(image, model.FolderIndex("\\DataFiles"), "crypt.rec", y));
  EXPECT_EQ(c.CryptFlags, 4);
  EXPECT_EQ(c.CryptValue, 2);
  EXPECT_EQ(y.CryptFlags, 4);
  EXPECT_EQ(y.CryptValue, 1);
  EXPECT_EQ(host.DisableCount, 1);
  EXPECT_EQ(host.EnableCount, 1);
  EXPECT_FALSE(transfer::JobRunning);
}

TEST_F(ScanJobTest, NoProgramMapTableLeavesTheRecordingAndSaysSo) {
  ib::DiskImage model(Spec(kScanSpc, 300));
  std::string ts = SampleTs(true);
  for (size_t p = 0; p + 188 <= ts.size(); p += 188)
    if (ts[p + 5] == 2) ts[p + 5] = 3;   // no table id 2 anywhere
  model.AddFile(Recording("\\DataFiles\\x.rec", ts));
  ShowRecorder(model, 0, 0);
  host.Check(0, "\\DataFiles\\x.rec");
  script.ExpectMsgBox("No program map table was found", ui::Answer::OK);
  transfer::DoScan(0);
  EXPECT_TRUE(script.AllAnswered());
  ib::DecodedEntry e;
  ASSERT_TRUE(FindEntry(ib::ImageFile(DrivePath(0)), model.FolderIndex("\\DataFiles"), "x.rec", e));
  EXPECT_EQ(e.CryptFlags, 0);
  EXPECT_EQ(host.Item(0, "\\DataFiles\\x.rec").Icon, "");
}

TEST_F(ScanJobTest, HeaderByteWrittenOnlyIntoARealHeader) {
  ib::DiskImage model(Spec(kScanSpc, 300));
  // 36 bytes after the 1656-byte header put the packets on 188-byte steps.
  const std::string pad(36, '\xFF');
  ib::FileSpec f = Recording("\\DataFiles\\h.rec", pad + SampleTs(true));
  f.Header = ib::RecHeader{};
  model.AddFile(f);
  ib::FileSpec g = Recording("\\DataFiles\\g.rec", pad + SampleTs(false));
  g.Header = ib::RecHeader{};
  model.AddFile(g);
  ShowRecorder(model, 0, 0);
  const uint32_t hFirst = model.Entry("\\DataFiles\\h.rec").Chain.front();
  const uint32_t gFirst = model.Entry("\\DataFiles\\g.rec").Chain.front();
  // g's first cluster no longer holds a header on the disk (the list still says so).
  ib::ImageFile image(DrivePath(0));
  std::vector<uint8_t> view = image.ReadClusterView(gFirst + 1);
  view[0] = 'X';
  image.WriteClusterView(gFirst + 1, view);
  core::InvalidateSideCache(0);
  host.Check(0, "\\DataFiles\\h.rec");
  host.Check(0, "\\DataFiles\\g.rec");
  script.ExpectMsgBox("could not be read or written; only the directory entry was updated", ui::Answer::OK);
  transfer::DoScan(0);
  EXPECT_TRUE(script.AllAnswered());
  ib::DecodedEntry h;
  ASSERT_TRUE(FindEntry(image, model.FolderIndex("\\DataFiles"), "h.rec", h));
  EXPECT_EQ(h.CryptFlags, 4);
  EXPECT_EQ(image.ReadClusterView(hFirst + 1)[1396], h.CryptValue);
  EXPECT_EQ(image.ReadClusterView(gFirst + 1), view);   // untouched
}

TEST_F(ScanJobTest, LoopingChainEndsTheScanOfThatRecording) {
  ib::DiskImage model(Spec(kScanSpc, 300));
  model.AddFile(Recording("\\DataFiles\\loop.rec", SampleTs(false)));
  ShowRecorder(model, 0, 0);
  const std::vector<uint32_t> chain = model.Entry("\\DataFiles\\loop.rec").Chain;
  core::Disk[0].FAT[chain[3]].Next = int32_t(chain[1]);
  host.Check(0, "\\DataFiles\\loop.rec");
  transfer::DoScan(0);   // finishes (bounded walk) and records "not crypted"
  EXPECT_EQ(host.Item(0, "\\DataFiles\\loop.rec").Icon, "KeyG");
}

TEST(ScanPackets, PmtAndScramblingTests) {
  uint8_t buf[188 * 3] = {};
  EXPECT_EQ(transfer::FindPcrPid(buf, sizeof buf), -1);
  uint8_t* p = buf + 188;
  p[0] = 0x47; p[1] = 0x50; p[2] = 0x00; p[4] = 0; p[5] = 2; p[13] = 0xE1; p[14] = 0x23;
  EXPECT_EQ(transfer::FindPcrPid(buf, sizeof buf), 0x123);
  p[1] = 0xD0;   // transport error set
  EXPECT_EQ(transfer::FindPcrPid(buf, sizeof buf), -1);

  uint8_t sector[512] = {};
  uint8_t* q = sector + 376;
  q[0] = 0x47; q[1] = 0x40 | 0x10; q[2] = 0x01; q[3] = 0x40;   // PID 0x1001, PUSI, scrambled 01
  EXPECT_TRUE(transfer::SectorScrambled(sector, 0x1001));
  EXPECT_FALSE(transfer::SectorScrambled(sector, 0x0001));     // another PID
  q[1] = 0x10;
  EXPECT_FALSE(transfer::SectorScrambled(sector, 0x1001));     // no payload start
  q[1] = 0x50; q[3] = 0x10;
  EXPECT_FALSE(transfer::SectorScrambled(sector, 0x1001));     // bits 00
}

}  // namespace
}  // namespace jobtest
