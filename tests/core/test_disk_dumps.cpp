// System-cluster dumps: save, restore with its checks, file mode.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "core/cluster_io.h"
#include "core/disk_io.h"
#include "core/dumps.h"
#include "platform/platform.h"
#include "tests/core/disk_fixture.h"
#include "tests/support/sector_faults.h"

namespace {

using namespace imagebuilder;
using disktest::DiskTest;

const char kClosing[] = "The program will close now. Please restart it to load the modified disk.";

class DumpTest : public DiskTest {
 protected:
  DiskImage Image(uint32_t spc = 2068) {
    ImageSpec spec;
    spec.SectorsPerCluster = spc;
    spec.LastCluster = 40;
    DiskImage img(spec);
    img.AddFolder("\\DataFiles\\Sub");
    img.AddFolder("\\DataFiles\\Sub\\Deeper");
    FileSpec f;
    f.Path = "\\DataFiles\\Sub\\film.rec";
    f.Size = 3 * img.ClusterBytes();
    f.Header = RecHeader{};
    img.AddFile(f);
    return img;
  }
  void ExpectEnd(int status) {
    try {
      core::RestoreTopfSystemClusters(0, Folder() + "/dump.scc");
      FAIL() << "the program went on";
    } catch (const ui::ProgramEnded& end) {
      EXPECT_EQ(end.Status, status);
    }
  }
};

TEST_F(DumpTest, SaveThenRestoreRoundTrips) {
  DiskImage img = Image();
  WriteImage(img, 0);
  const std::string original = ReadWholeFile(DrivePath(0));
  ASSERT_TRUE(OpenAndLoad(0, 0));
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/dump.scc"));
  EXPECT_EQ(script.BusyCount(), 1);
  EXPECT_FALSE(script.Busy());

  const int64_t clusterBytes = 2068 * 512;
  EXPECT_EQ(platform::FileLength(Folder() + "/dump.scc"), clusterBytes + 16);
  const std::vector<uint32_t> order = img.FolderWalkOrder();
  const std::string scd = ReadWholeFile(Folder() + "/dump.scd");
  ASSERT_EQ(int64_t(scd.size()), int64_t(order.size()) * (clusterBytes + 4));
  for (size_t r = 0; r < order.size(); ++r) {
    uint32_t index;
    std::memcpy(&index, scd.data() + r * size_t(clusterBytes + 4), 4);
    EXPECT_EQ(index, order[r]);
  }
  // The builder writes the same dump from its own tables.
  img.WriteDump(Folder() + "/model");
  EXPECT_EQ(ReadWholeFile(Folder() + "/dump.scc"), ReadWholeFile(Folder() + "/model.scc"));
  EXPECT_EQ(scd, ReadWholeFile(Folder() + "/model.scd"));

  // Damage the disk, then restore.
  {
    ImageFile raw(DrivePath(0));
    raw.SetFatEntry(3, 0x000123);
    raw.WriteClusterView(img.FolderIndex("\\DataFiles\\Sub") + 1,
                         std::vector<uint8_t>(size_t(clusterBytes), 0xEE));
  }
  core::InvalidateSideCache(0);
  script.ExpectMsgBox(kClosing, ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  ExpectEnd(ui::kExitNormal);
  EXPECT_EQ(ReadWholeFile(DrivePath(0)), original);
}

TEST_F(DumpTest, RestoreChecksTheDumpBeforeWriting) {
  WriteImage(Image(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/dump"));
  const std::string disk = ReadWholeFile(DrivePath(0));
  const std::string scc = ReadWholeFile(Folder() + "/dump.scc");
  const std::string scd = ReadWholeFile(Folder() + "/dump.scd");
  const uint64_t writes = core::SectorWriteCalls;

  // Only the .scc exists.
  std::remove((Folder() + "/dump.scd").c_str());
  script.ExpectMsgBox("Restore system clusters failed because *.scc or *.scd file does not exist!",
                      ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  EXPECT_FALSE(core::RestoreTopfSystemClusters(0, Folder() + "/dump.scc"));
  EXPECT_FALSE(script.Busy());

  // A truncated .scd.
  WriteWholeFile(Folder() + "/dump.scd", scd.substr(0, scd.size() - 100));
  script.ExpectMsgBox("does not hold whole records", ui::Answer::OK);
  EXPECT_FALSE(core::RestoreTopfSystemClusters(0, Folder() + "/dump.scc"));

  // A record index beyond the disk.
  std::string bad = scd;
  const uint32_t huge = 0x1FFFE;
  std::memcpy(bad.data() + (2068 * 512 + 4), &huge, 4);
  WriteWholeFile(Folder() + "/dump.scd", bad);
  script.ExpectMsgBox("(FAT index 131070, disk cluster 131071): not on this disk", ui::Answer::No);
  EXPECT_FALSE(core::RestoreTopfSystemClusters(0, Folder() + "/dump.scc"));

  // Sectors per cluster 0 in the .scc.
  WriteWholeFile(Folder() + "/dump.scd", scd);
  std::string zero = scc;
  zero[34] = 0;   // the dump holds the view
  zero[35] = 0;
  WriteWholeFile(Folder() + "/dump.scc", zero);
  script.ExpectMsgBox("unusable cluster size (0 sectors)", ui::Answer::OK);
  EXPECT_FALSE(core::RestoreTopfSystemClusters(0, Folder() + "/dump.scc"));

  // A dump of a disk with another cluster size.
  WriteImage(Image(2444), 5);
  ASSERT_TRUE(OpenAndLoad(1, 5));
  ASSERT_TRUE(core::SaveTopfSystemClusters(1, Folder() + "/other.scc"));
  script.ExpectMsgBox("does not match the disk's (2068 sectors)", ui::Answer::OK);
  EXPECT_FALSE(core::RestoreTopfSystemClusters(0, Folder() + "/other.scc"));

  EXPECT_TRUE(script.AllAnswered());
  EXPECT_EQ(core::SectorWriteCalls, writes);
  EXPECT_EQ(ReadWholeFile(DrivePath(0)), disk);
}

// A dump holding more than the disk's own folders: only the system cluster
// and the folder clusters reached from the dump's root are written, the rest
// is named first; answered No, nothing is written.
TEST_F(DumpTest, RestoreWritesOnlyTheFoldersOfTheDumpsOwnTree) {
  DiskImage img = Image();
  WriteImage(img, 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/dump"));
  const std::string disk = ReadWholeFile(DrivePath(0)), scd = ReadWholeFile(Folder() + "/dump.scd");
  const size_t bytes = size_t(img.ClusterBytes()), record = bytes + 4;
  const std::vector<uint32_t> order = img.FolderWalkOrder(), film = img.Entry("\\DataFiles\\Sub\\film.rec").Chain;
  const uint32_t sub = img.FolderIndex("\\DataFiles\\Sub"), deeper = img.FolderIndex("\\DataFiles\\Sub\\Deeper");
  auto folderOf = [&](uint32_t index) {   // the record of a folder, as it would look at `index`
    std::vector<uint8_t> view = img.FolderClusterView("\\DataFiles\\Sub\\Deeper");
    for (int k = 0; k < 4; ++k) view[8 + k] = uint8_t(index >> (24 - 8 * k));
    return std::string(view.begin(), view.end());
  };
  auto with = [&](uint32_t index, const std::string& data) {
    return std::string(reinterpret_cast<const char*>(&index), 4) + data;
  };
  auto link = [&](std::string dump, uint32_t folder, uint32_t to) {   // a folder entry in its slot 5
    const size_t r = size_t(std::find(order.begin(), order.end(), folder) - order.begin());
    char* slot = dump.data() + r * record + 4 + 5 * 128;
    slot[0] = char(0xF2);
    for (int k = 0; k < 4; ++k) slot[8 + k] = char(to >> (24 - 8 * k));
    std::memcpy(slot + 20, "Link", 5);
    return dump;
  };
  struct Case { const char* Name; std::string Scd; std::string Told; };
  const std::vector<Case> cases = {
      {"the disk's own", scd, ""},
      {"a loop back to Sub", link(scd, deeper, sub), ""},
      {"over a recording", scd + with(film[1], std::string(bytes, 'x')), "(FAT index " + std::to_string(film[1]) + ", disk cluster"},
      {"a folder over a free cluster", scd + with(35, folderOf(35)), "(FAT index 35, disk cluster 36): not reached"},
      {"past the disk end", scd + with(500, folderOf(500)), "(FAT index 500, disk cluster 501): not on this disk"},
      {"a second record", scd + with(sub, std::string(bytes, 'x')), "a second record of this cluster"},
      {"a folder entry naming a recording", link(scd, sub, film[0]) + with(film[0], folderOf(film[0])),
       "(FAT index " + std::to_string(film[0]) + ", disk cluster " + std::to_string(film[0] + 1) + "): not a folder"},
  };
  for (const Case& c : cases)
    for (const ui::Answer answer : {ui::Answer::Yes, ui::Answer::No}) {
      SCOPED_TRACE(std::string(c.Name) + (answer == ui::Answer::Yes ? ", yes" : ", no"));
      if (c.Told.empty() && answer == ui::Answer::No) continue;
      WriteWholeFile(Folder() + "/dump.scd", c.Scd);
      script.Reset();
      faults::SectorFaults f;
      if (!c.Told.empty()) script.ExpectMsgBox(c.Told, answer);
      if (answer == ui::Answer::Yes) {
        script.ExpectMsgBox(kClosing, ui::Answer::OK);
        ExpectEnd(ui::kExitNormal);
      } else {
        EXPECT_FALSE(core::RestoreTopfSystemClusters(0, Folder() + "/dump"));
      }
      EXPECT_TRUE(script.AllAnswered());
      std::set<uint32_t> written, wanted{0};
      for (const faults::SectorWrite& w : f.Writes()) written.insert(w.FirstSector / 2068);
      for (uint32_t index : order) wanted.insert(index + 1);
      EXPECT_EQ(written, answer == ui::Answer::Yes ? wanted : std::set<uint32_t>{});
      const std::string now = ReadWholeFile(DrivePath(0));
      for (uint32_t c : film)   // the recording keeps its bytes
        EXPECT_TRUE(now.compare((c + 1) * bytes, bytes, disk, (c + 1) * bytes, bytes) == 0) << c;
      if (now != disk) WriteWholeFile(DrivePath(0), disk);   // a folder took a new entry
      core::InvalidateSideCache(0);
    }
}

TEST_F(DumpTest, RestoreReportsFailedWrites) {
  WriteImage(Image(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/dump"));
  // Reopen read-only: every write fails while the link stays.
  ASSERT_TRUE(core::InitTopf(0, Drive(0), false));
  script.ExpectMsgBox("Restore system clusters failed for 7 of 7 clusters. The disk may be inconsistent; please "
                      "run a file system check. The disk clusters not written:\r\n0: writing the cluster failed (",
                      ui::Answer::OK);
  script.ExpectMsgBox(kClosing, ui::Answer::OK);
  ExpectEnd(ui::kExitAbort);
}

TEST_F(DumpTest, FileModeWorksOnASavedDump) {
  DiskImage img = Image();
  WriteImage(img, 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  const int32_t count = core::Disk[0].FileCount;
  const std::string crc = core::Disk[0].CrcId;
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/dump.scc"));
  const std::string base = Folder() + "/dump";
  const std::string trailer = ReadWholeFile(base + ".scc").substr(2068 * 512);
  core::CloseDisk(core::Disk[0].Handle);
  core::ResetState();

  core::Flags = core::FlagFileMode;
  core::DiskId[0] = 0;
  core::Disk[0].Name = base;
  ASSERT_TRUE(core::InitTopf(0, base, true));
  EXPECT_EQ(core::ScdIndex[1], 1);
  EXPECT_EQ(core::ScdIndex[2], 1 + (2068 * 512 + 4));
  ASSERT_TRUE(core::LoadTopf(0, true));
  EXPECT_EQ(core::Disk[0].LastCluster, 0x1FFFF);
  EXPECT_EQ(core::Disk[0].FileCount, count);
  EXPECT_EQ(core::Disk[0].CrcId, crc);
  EXPECT_NE(Find(0, "\\DataFiles\\Sub\\Deeper"), nullptr);
  // Files have no data in a dump.
  EXPECT_FALSE(Find(0, "\\DataFiles\\Sub\\film.rec")->HasRecHeader);

  double cylinders = 0;
  int32_t tracks = 0, sectors = 0, bytes = 0;
  core::DiskGeometry(12345, cylinders, tracks, sectors, bytes);
  EXPECT_EQ(cylinders, 1.0);
  EXPECT_EQ(tracks, 1);
  EXPECT_EQ(sectors, 2068);
  EXPECT_EQ(bytes, 512);
  EXPECT_EQ(core::GuessClusterSize(0), 2068);
  EXPECT_EQ(core::ScanForClusterSize(0), 1);   // the recycle folder's "." at record 2

  EXPECT_FALSE(core::ReadTopfCluster(0, 30));   // not in the dump
  ASSERT_TRUE(core::ReadTopfCluster(0, 0));
  core::ClusterBuffer[1500] = 0x42;
  ASSERT_TRUE(core::WriteTopfCluster(0, 0, true));
  const std::string scc = ReadWholeFile(base + ".scc");
  EXPECT_EQ(uint8_t(scc[1500]), 0x42);
  EXPECT_EQ(scc.substr(2068 * 512), trailer);

  // A dump saved in file mode keeps the geometry of the source dump.
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/again.scc"));
  EXPECT_EQ(ReadWholeFile(Folder() + "/again.scc").substr(2068 * 512), trailer);
  EXPECT_EQ(ReadWholeFile(Folder() + "/again.scd"), ReadWholeFile(base + ".scd"));
}

TEST_F(DumpTest, SavingOverTheLoadedDumpOrAnOpenDiskIsRefused) {
  WriteImage(Image(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  // The disk the other pane shows, through a link.
  WriteImage(Image(), 5);
  ASSERT_TRUE(Open(1, 5));
  const std::string other = ReadWholeFile(DrivePath(5));
  ASSERT_EQ(symlink(DrivePath(5).c_str(), (Folder() + "/other.scd").c_str()), 0);
  script.ExpectMsgBox(Folder() + "/other.scd is a disk that is open", ui::Answer::OK);
  EXPECT_FALSE(core::SaveTopfSystemClusters(0, Folder() + "/other"));
  EXPECT_EQ(ReadWholeFile(DrivePath(5)), other);
  EXPECT_LT(platform::FileLength(Folder() + "/other.scc"), 0);

  const std::string base = Folder() + "/dump";
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, base + ".scc"));
  const std::string scc = ReadWholeFile(base + ".scc");
  const std::string scd = ReadWholeFile(base + ".scd");
  core::CloseDisk(core::Disk[0].Handle);
  core::ResetState();
  core::Flags = core::FlagFileMode;
  core::DiskId[0] = 0;
  core::Disk[0].Name = base;
  ASSERT_TRUE(core::InitTopf(0, base, true));
  ASSERT_TRUE(core::LoadTopf(0, true));
  const int32_t count = core::Disk[0].FileCount;

  // The loaded dump under its own name, another spelling of it, a link to it.
  ASSERT_EQ(symlink((base + ".scd").c_str(), (Folder() + "/link.scd").c_str()), 0);
  for (const std::string& target : {base + ".scc", Folder() + "/./dump", Folder() + "/link.scc"}) {
    SCOPED_TRACE(target);
    script.ExpectMsgBox("is the dump that is loaded", ui::Answer::OK);
    EXPECT_FALSE(core::SaveTopfSystemClusters(0, target));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(ReadWholeFile(base + ".scc"), scc);
    EXPECT_EQ(ReadWholeFile(base + ".scd"), scd);
  }
  ASSERT_TRUE(core::InitTopf(0, base, true));
  ASSERT_TRUE(core::LoadTopf(0, true));
  EXPECT_EQ(core::Disk[0].FileCount, count);
}

TEST_F(DumpTest, SavingANewlyChosenDiskWalksItsOwnClusters) {
  WriteImage(Image(), 0);
  ImageSpec spec;
  spec.SectorsPerCluster = 2068;   // the same cluster size, more clusters
  spec.LastCluster = 300;
  DiskImage big(spec);
  big.AddFolder("\\DataFiles\\High", 250);
  big.AddFolder("\\DataFiles\\High\\Higher", 280);
  WriteImage(big, 1);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  const int32_t last = core::Disk[0].LastCluster;
  ASSERT_LT(last, 250);

  // The pane switches to disk 1 with the start-up switch on: the dump is
  // saved after the disk was opened and before it is loaded.
  core::DiskId[0] = -1;
  ASSERT_TRUE(core::InitTopf(0, Drive(1), true));
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/big.scc"));
  big.WriteDump(Folder() + "/model");
  EXPECT_EQ(ReadWholeFile(Folder() + "/big.scc"), ReadWholeFile(Folder() + "/model.scc"));
  EXPECT_EQ(ReadWholeFile(Folder() + "/big.scd"), ReadWholeFile(Folder() + "/model.scd"));
  EXPECT_EQ(core::Disk[0].LastCluster, last);   // the side's own values until the load

  // A disk of another cluster size whose superblock gives none: the dump
  // takes the disk's estimate, not the size of the disk shown before.
  ImageSpec other;
  other.SectorsPerCluster = 2444;
  other.LastCluster = 30;
  WriteImage(DiskImage(other), 2);
  {
    ImageFile raw(DrivePath(2), 2444);
    raw.SetSuperU16(34, 0);
  }
  core::DiskId[0] = -2;
  ASSERT_TRUE(core::InitTopf(0, Drive(2), true));
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/other.scc"));
  EXPECT_EQ(platform::FileLength(Folder() + "/other.scc"), 2444 * 512 + 16);
  EXPECT_EQ(platform::FileLength(Folder() + "/other.scd"), 4 * (2444 * 512 + 4));
}

TEST_F(DumpTest, FolderAtTheLastFatIndexIsSavedAndRestored) {
  ImageSpec spec;
  spec.SizeBytes = 160041885696ULL;   // more clusters than the FAT has entries
  DiskImage img(spec);
  img.AddFolder("\\DataFiles\\Far", 0x1FFFF);
  WriteImage(img, 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  ASSERT_EQ(core::Disk[0].LastCluster, 0x1FFFF);
  ASSERT_NE(Find(0, "\\DataFiles\\Far"), nullptr);
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/dump"));
  img.WriteDump(Folder() + "/model");
  EXPECT_EQ(ReadWholeFile(Folder() + "/dump.scd"), ReadWholeFile(Folder() + "/model.scd"));

  {
    ImageFile raw(DrivePath(0));
    raw.WriteClusterView(0x20000, std::vector<uint8_t>(size_t(img.ClusterBytes()), 0xEE));
  }
  core::InvalidateSideCache(0);
  script.ExpectMsgBox(kClosing, ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  ExpectEnd(ui::kExitNormal);
  ImageFile raw(DrivePath(0));
  EXPECT_EQ(raw.ReadClusterView(0x20000), img.FolderClusterView("\\DataFiles\\Far"));
}

TEST_F(DumpTest, MissingDumpFilesGoToTheErrorHandler) {
  WriteImage(Image(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  const std::string base = Folder() + "/dump";
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, base));
  core::CloseDisk(core::Disk[0].Handle);
  core::ResetState();
  core::Flags = core::FlagFileMode;
  core::Disk[0].Name = base;
  core::ErrorHandlerInitFrom(Folder() + "/ErrorHandler.ini");   // missing: attended
  core::LogPath = Folder() + "/";
  for (const char* missing : {".scc", ".scd"}) {
    SCOPED_TRACE(missing);
    ASSERT_EQ(std::rename((base + missing).c_str(), (base + ".away").c_str()), 0);
    script.ExpectMsgBox("Error\t\t: 53", ui::Answer::Ignore).ExpectInput("");
    EXPECT_FALSE(core::InitTopf(0, base, true));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_NE(script.MsgBoxTexts().back().find("Procedure\t: InitTopf"), std::string::npos);
    EXPECT_EQ(core::FileModeSectorsPerCluster, 0);
    ASSERT_EQ(std::rename((base + ".away").c_str(), (base + missing).c_str()), 0);
  }
  EXPECT_TRUE(core::InitTopf(0, base, true));
  EXPECT_NE(ReadWholeFile(Folder() + "/Error Debug/debug.log").find("---IGNORE pressed---"),
            std::string::npos);
  core::ResetErrorState();
}

TEST_F(DumpTest, DumpWithUnusableClusterSizeIsRefused) {
  WriteImage(Image(), 0);
  ASSERT_TRUE(OpenAndLoad(0, 0));
  ASSERT_TRUE(core::SaveTopfSystemClusters(0, Folder() + "/dump"));
  // A short .scc with cluster size 0: the length gives 2 sectors.
  WriteWholeFile(Folder() + "/tiny.scc", std::string(1040, '\0'));
  WriteWholeFile(Folder() + "/tiny.scd", "");
  core::CloseDisk(core::Disk[0].Handle);
  core::ResetState();
  core::Flags = core::FlagFileMode;
  core::Disk[0].Name = Folder() + "/tiny";
  script.ExpectMsgBox("cannot be used", ui::Answer::OK);
  EXPECT_FALSE(core::InitTopf(0, Folder() + "/tiny", true));
  EXPECT_TRUE(script.AllAnswered());
}

TEST_F(DumpTest, SavingFromAPCSideWritesNothing) {
  core::DiskId[1] = 1;
  EXPECT_FALSE(core::SaveTopfSystemClusters(1, Folder() + "/pc.scc"));
  EXPECT_LT(platform::FileLength(Folder() + "/pc.scc"), 0);
}

}  // namespace
