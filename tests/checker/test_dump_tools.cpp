// The dump tools: system-cluster save, separate / combine / compare of the
// directory-cluster dump, and the single-cluster commands.
#include <algorithm>
#include <cstring>
#include <map>

#include "checker/check_driver.h"
#include "checker/dump_tools.h"
#include "checker/form1.h"
#include "checker/startup.h"
#include "core/cluster_io.h"
#include "core/disk_init.h"
#include "core/dumps.h"
#include "layer_fixture.h"
#include "platform/platform.h"
#include "tests/mainwindow/test_app.h"
#include "tests/support/sector_faults.h"

namespace checkertest {
namespace {

using namespace checker;

constexpr size_t kRecord = 4 + 2068 * 512;

// The record numbers of a ".scd" file in file order.
std::vector<int32_t> RecordNumbers(const std::string& path) {
  const std::string scd = ib::ReadWholeFile(path);
  std::vector<int32_t> numbers;
  for (size_t at = 0; at + kRecord <= scd.size(); at += kRecord)
    numbers.push_back(int32_t(uint8_t(scd[at]) | uint8_t(scd[at + 1]) << 8 |
                              uint8_t(scd[at + 2]) << 16 | uint32_t(uint8_t(scd[at + 3])) << 24));
  EXPECT_EQ(scd.size() % kRecord, 0u);
  return numbers;
}

class DumpToolsTest : public LayerTest {
 protected:
  // A tree with directories at FAT indexes 2 (DataFiles), 10 and 20.
  ib::DiskImage Tree() {
    ib::DiskImage image;
    image.AddFolder("\\DataFiles\\A", 20);
    image.AddFolder("\\DataFiles\\B", 10);
    image.AddFolder("\\DataFiles\\A\\C", 9);
    return image;
  }
  // The main program's save of the disk (image file) `disk`, opened on its
  // side 0.
  static bool MainProgramSaves(const std::string& disk, const std::string& target) {
    core::DiskId[0] = -1;
    const bool saved = core::InitTopf(0, disk, false) && core::SaveTopfSystemClusters(0, target);
    testenv::CloseDisksAndReset();
    return saved;
  }
};

TEST_F(DumpToolsTest, SaveWalksBreadthFirstFromTheRoot) {
  ib::DiskImage image = Tree();
  OpenImage(image);
  SaveTopfSystemClusters(Path("saved.scc"));
  EXPECT_EQ(RecordNumbers(Path("saved.scd")), (std::vector<int32_t>{0, 1, 2, 3, 20, 10, 9}));
  const std::string scc = ib::ReadWholeFile(Path("saved.scc"));
  ASSERT_EQ(scc.size(), 2068u * 512 + 16);
  EXPECT_EQ(Bytes(scc.substr(0, 2068 * 512)), image.SystemClusterView());
  double cylinders = 0;
  std::memcpy(&cylinders, scc.data() + 2068 * 512, 8);
  EXPECT_EQ(cylinders, double(ib::CylindersOf(image.SizeBytes())));

  // Opened as a dump it gives the same clusters.
  ResetDiskState();
  SessionPrefix = MakeSessionPrefix();
  FileMode = true;
  InitTopf(Path("saved"));
  EXPECT_EQ(LastCluster, image.LastCluster());
  for (const char* folder : {"\\", "\\DataFiles", "\\DataFiles\\A", "\\DataFiles\\A\\C", "\\DataFiles\\B"}) {
    ASSERT_TRUE(ReadTopfCluster(int32_t(image.FolderIndex(folder)) + 1)) << folder;
    EXPECT_EQ(ClusterBuffer, image.FolderClusterView(folder)) << folder;
  }
  // A dump saved from the dump keeps the disk's geometry.
  SaveTopfSystemClusters(Path("again"));
  ResetDiskState();
  FileMode = true;
  InitTopf(Path("again"));
  EXPECT_EQ(LastCluster, image.LastCluster());
}

TEST_F(DumpToolsTest, SaveReplacesALongerDumpCompletely) {
  ib::DiskImage image;
  OpenImage(image);
  ib::WriteWholeFile(Path("d.scd"), std::string(20 * kRecord, 'x'));
  ib::WriteWholeFile(Path("d.scc"), std::string(3 * 2068 * 512, 'x'));
  SaveTopfSystemClusters(Path("d"));
  EXPECT_EQ(platform::FileLength(Path("d.scd")), int64_t(4 * kRecord));
  EXPECT_EQ(platform::FileLength(Path("d.scc")), int64_t(2068 * 512 + 16));
  EXPECT_FALSE(Exists(Path("d.scd.part")));
}

TEST_F(DumpToolsTest, DirectoryCycleEndsTheWalk) {
  ib::DiskImage image = Tree();
  const std::string path = OpenImage(image);
  {
    // \DataFiles\A\C gets an entry leading back to \DataFiles.
    ib::ImageFile file(path);
    std::vector<uint8_t> slot = file.ReadSlot(9, 0);
    slot[0] = ib::kAttrDirectory;
    ib::PutBE32(slot.data() + 8, 2);
    std::memcpy(slot.data() + 20, "Loop\0", 5);
    file.WriteSlot(9, 5, slot);
    // and the root an entry leading to itself.
    slot = file.ReadSlot(0, 0);
    slot[0] = ib::kAttrDirectory;
    ib::PutBE32(slot.data() + 8, 0);
    std::memcpy(slot.data() + 20, "Self\0", 5);
    file.WriteSlot(0, 6, slot);
  }
  SaveTopfSystemClusters(Path("cyc"));
  const auto numbers = RecordNumbers(Path("cyc.scd"));
  EXPECT_EQ(numbers.size(), 7u);
}

// Either program saves the same dump of a disk, records and message alike,
// also of a disk it cannot read in full: the root's folders reached through
// its copy in the system cluster, those of a folder read in part through its
// readable sectors.
TEST_F(DumpToolsTest, BothProgramsSaveTheSameDump) {
  const ib::DiskImage image = Tree();
  struct Case {
    const char* name;
    int32_t fatIndex, firstSector, sectors;   // what cannot be read
    const char* leftOut;
  };
  const Case cases[] = {{"sound", -1, 0, 0, ""},
                        {"root unreadable", 0, 0, 2068, "\\ (cluster 0)"},
                        {"a folder partly unreadable", 2, 7, 1, "\\DataFiles\\ (cluster 2)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetDiskState();
    const std::string disk = OpenImage(image);
    faults::SectorFaults faults;
    const uint32_t bad = uint32_t(c.fatIndex + 1) * 2068 + uint32_t(c.firstSector);
    faults.FailReadsWhere([&](uint32_t s, int32_t n) { return s < bad + uint32_t(c.sectors) && bad < s + uint32_t(n); });
    for (const bool mainProgram : {false, true}) {
      if (*c.leftOut) ui_.ExpectMsgBox(std::string("the disk:\r\n") + c.leftOut, ui::Answer::OK);
      if (mainProgram) EXPECT_TRUE(MainProgramSaves(disk, Path("main")));
      else SaveTopfSystemClusters(Path("check"));
      EXPECT_TRUE(ui_.AllAnswered());
    }
    EXPECT_EQ(ib::ReadWholeFile(Path("check.scc")), ib::ReadWholeFile(Path("main.scc")));
    EXPECT_EQ(ib::ReadWholeFile(Path("check.scd")), ib::ReadWholeFile(Path("main.scd")));
    std::vector<int32_t> expected;
    for (uint32_t index : image.FolderWalkOrder())
      if (int32_t(index) != c.fatIndex) expected.push_back(int32_t(index));
    EXPECT_EQ(RecordNumbers(Path("check.scd")), expected);
  }
}

// Neither program writes a dump over the disk it reads or the dump it has
// loaded, named directly or through a link.
TEST_F(DumpToolsTest, SaveNeverReplacesTheDiskOrTheLoadedDump) {
  Tree().Write(Path("disk.scd"));
  Tree().WriteDump(Path("dump"));
  ASSERT_EQ(symlink(Path("disk.scd").c_str(), Path("to-disk.scc").c_str()), 0);
  ASSERT_EQ(symlink(Path("dump.scd").c_str(), Path("to-dump.scd").c_str()), 0);
  const std::string files[] = {Path("disk.scd"), Path("dump.scc"), Path("dump.scd")};
  std::vector<std::string> before;
  for (const std::string& file : files) before.push_back(ib::ReadWholeFile(file));
  struct Case {
    bool fileMode, mainProgram;
    const char* target;
    std::string says;
  };
  const Case cases[] = {{false, false, "disk.scc", Path("disk.scd") + " is a disk that is open"},
                        {false, false, "to-disk", Path("to-disk.scc") + " is a disk that is open"},
                        {false, true, "disk", Path("disk.scd") + " is a disk that is open"},
                        {false, true, "to-disk.scd", Path("to-disk.scc") + " is a disk that is open"},
                        {true, false, "dump", Path("dump") + " is the dump that is loaded"},
                        {true, false, "to-dump.scc", Path("to-dump") + " is the dump that is loaded"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    ResetDiskState();
    FileMode = c.fileMode;
    InitTopf(Path(c.fileMode ? "dump" : "disk.scd"));
    ui_.ExpectMsgBox("Saving system clusters failed because " + c.says, ui::Answer::OK);
    if (c.mainProgram) EXPECT_FALSE(MainProgramSaves(Path("disk.scd"), Path(c.target)));
    else SaveTopfSystemClusters(Path(c.target));
    EXPECT_TRUE(ui_.AllAnswered());
    for (size_t k = 0; k < before.size(); ++k) EXPECT_EQ(ib::ReadWholeFile(files[k]), before[k]) << files[k];
    EXPECT_FALSE(Exists(Path("disk.scc")) || Exists(Path("to-dump.scc")));
  }
}

TEST_F(DumpToolsTest, SeparateThenCombineGivesTheRecordsByNumber) {
  ib::DiskImage image = Tree();
  OpenImage(image);
  ASSERT_TRUE(platform::MakePath(Path("work")));
  SaveTopfSystemClusters(Path("work/d.scc"));
  const std::string original = ib::ReadWholeFile(Path("work/d.scd"));

  ResetDiskState();
  SessionPrefix = MakeSessionPrefix();
  FileMode = true;
  InitTopf(Path("work/d"));
  EXPECT_EQ(DumpFolder(), Path("work/"));
  SeparateSCD();
  for (int n : {0, 1, 2, 3, 9, 10, 20})
    EXPECT_EQ(platform::FileLength(Path("work/" + ClusterFileStem(n) + ".bin")), 2068 * 512) << n;
  // Foreign names stay out.
  ib::WriteWholeFile(Path("work/Cluster_-000001.bin"), std::string(2068 * 512, 's'));
  ib::WriteWholeFile(Path("work/Cluster_12ab56.bin"), std::string(2068 * 512, 'q'));
  ib::WriteWholeFile(Path("work/Cluster_000077.bin"), std::string(100, 'q'));   // not one cluster
  CombineSCD();
  EXPECT_EQ(RecordNumbers(Path("work/d.scd")), (std::vector<int32_t>{0, 1, 2, 3, 9, 10, 20}));
  // Same records as saved, only in number order.
  const std::string combined = ib::ReadWholeFile(Path("work/d.scd"));
  std::map<int32_t, std::string> before, after;
  for (size_t at = 0; at < original.size(); at += kRecord) before[uint8_t(original[at])] = original.substr(at, kRecord);
  for (size_t at = 0; at < combined.size(); at += kRecord) after[uint8_t(combined[at])] = combined.substr(at, kRecord);
  EXPECT_EQ(before, after);

  // Every write after the combine lands on its own record.
  for (const auto& [n, record] : after) {
    ClusterBuffer.assign(2068 * 512, uint8_t(n + 1));
    MarkClusterBufferLoaded();
    ASSERT_TRUE(WriteTopfCluster(n + 1, false)) << n;
  }
  const std::string written = ib::ReadWholeFile(Path("work/d.scd"));
  ASSERT_EQ(written.size(), combined.size());
  for (size_t at = 0; at < written.size(); at += kRecord)
    EXPECT_EQ(written.substr(at + 4, kRecord - 4), std::string(kRecord - 4, char(written[at] + 1))) << at;
}

TEST_F(DumpToolsTest, CombineOfTwoFilesAndOfNone) {
  ASSERT_TRUE(platform::MakePath(Path("w")));
  ib::WriteWholeFile(Path("w/x.scc"), std::string(8 * 512 + 16, '\0'));
  FileMode = true;
  InitTopf(Path("w/x"));
  CombineSCD();
  EXPECT_FALSE(Exists(Path("w/x.scd"))) << "no files: no change";
  ib::WriteWholeFile(Path("w/Cluster_000012.bin"), std::string(8 * 512, 'b'));
  ib::WriteWholeFile(Path("w/Cluster_000005.bin"), std::string(8 * 512, 'a'));
  CombineSCD();
  const std::string scd = ib::ReadWholeFile(Path("w/x.scd"));
  ASSERT_EQ(scd.size(), 2u * (4 + 8 * 512));
  EXPECT_EQ(scd.substr(0, 5), std::string("\x05\0\0\0a", 5));
  EXPECT_EQ(scd.substr(4 + 8 * 512, 5), std::string("\x0C\0\0\0b", 5));
}

TEST_F(DumpToolsTest, CompareWritesWhatDiffers) {
  ib::DiskImage image = Tree();
  image.WriteDump(Path("one"));
  ib::DiskImage other = Tree();
  other.AddFolder("\\DataFiles\\B\\New");   // changes cluster 10 and the FAT
  ASSERT_TRUE(platform::MakePath(Path("o")));
  other.WriteDump(Path("o/two"));
  FileMode = true;
  InitTopf(Path("one"));

  CompareSCD(Path("one.scc"));
  std::vector<platform::FolderEntry> entries;
  ASSERT_TRUE(platform::ListFolder(temp_.Path(), entries));
  for (const auto& e : entries) EXPECT_EQ(e.Name.find("Cluster_"), std::string::npos) << e.Name;

  CompareSCD(Path("o/two.scc"));
  EXPECT_TRUE(Exists(Path("Cluster_-000001.bin")));
  EXPECT_TRUE(Exists(Path("Cluster_000010.bin")));
  EXPECT_FALSE(Exists(Path("Cluster_000020.bin")));
  EXPECT_EQ(Bytes(ib::ReadWholeFile(Path("Cluster_000010.bin"))), image.FolderClusterView("\\DataFiles\\B"));

  // A second dump that does not exist: everything counts as changed, and
  // nothing is created for it.
  CompareSCD(Path("nothing.scc"));
  EXPECT_TRUE(Exists(Path("Cluster_000020.bin")));
  EXPECT_FALSE(Exists(Path("nothing.scd")));
}

TEST_F(DumpToolsTest, ReadAndWriteClusterCommands) {
  ib::DiskImage image;
  const std::string path = OpenImage(image);
  ReadClusterToFile(ClusterNumberFromText("-1"));
  EXPECT_EQ(Bytes(ib::ReadWholeFile(Path("Cluster_-000001.bin"))), image.SystemClusterView());
  ReadClusterToFile(ClusterNumberFromText("2"));
  EXPECT_EQ(Bytes(ib::ReadWholeFile(Path("Cluster_000002.bin"))), image.FolderClusterView("\\DataFiles"));
  ReadClusterToFile(ClusterNumberFromText("abc"));   // not a number: the root
  EXPECT_EQ(Bytes(ib::ReadWholeFile(Path("Cluster_000000.bin"))), image.FolderClusterView("\\"));

  // Write the system cluster back with one change: CRC and undo copies.
  std::string system = ib::ReadWholeFile(Path("Cluster_-000001.bin"));
  system[0x20000 + 3 * 600 + 2] = char(0xFE);
  ib::WriteWholeFile(Path("sys.bin"), system);
  ASSERT_TRUE(WriteClusterFromFile(-1, Path("sys.bin")));
  ib::ImageFile file(path);
  EXPECT_EQ(file.SuperU32(ib::kSbFatCrc), file.ComputeFatCrc(uint32_t(LastCluster)));
  EXPECT_EQ(Bytes(ib::ReadWholeFile(Path(OriginalClusterFile(0)))), image.SystemClusterView());
  EXPECT_EQ(ib::ReadWholeFile(Path(FixedClusterFile(0))).size(), 2068u * 512);

  // A file shorter than a cluster is refused.
  ib::WriteWholeFile(Path("short.bin"), std::string(1000, 'z'));
  ui_.ExpectMsgBox("smaller than one cluster", ui::Answer::OK);
  EXPECT_FALSE(WriteClusterFromFile(5, Path("short.bin")));
  EXPECT_FALSE(Exists(Path(OriginalClusterFile(6))));
  EXPECT_EQ(ClusterNumberFromText("1e20"), 2147483646);
  EXPECT_EQ(ClusterNumberFromText(" 7.5"), 8);
}

// What could not be read is never saved as data and is named: Read Cluster
// writes no file, Save System Clusters no dump without the system cluster
// and names the folders it left out, the summary shows no counts of a FAT
// it could not read; and a tree naming folders over and over saves each
// folder once.
TEST_F(DumpToolsTest, WhatCannotBeReadIsNamedAndTheWalkEnds) {
  ib::ImageSpec spec;
  spec.LastCluster = 60;
  ib::DiskImage image(spec);
  image.AddFolder("\\DataFiles\\A", 20);
  image.AddFolder("\\DataFiles\\B", 10);
  const std::string path = OpenImage(image);
  faults::SectorFaults faults;
  auto unreadable = [&](int32_t fatIndex) {
    const uint32_t bad = uint32_t(fatIndex + 1) * 2068 + 5;   // one sector of the cluster
    faults.FailReadsWhere([=](uint32_t s, int32_t n) { return s <= bad && bad < s + uint32_t(n); });
  };
  unreadable(10);
  ui_.ExpectMsgBox("Cluster 10 could not be read. No file has been written.", ui::Answer::OK);
  ReadClusterToFile(10);
  EXPECT_FALSE(Exists(Path("Cluster_000010.bin")));
  ui_.ExpectMsgBox("the disk:\r\n\\DataFiles\\B\\ (cluster 10)", ui::Answer::OK);
  SaveTopfSystemClusters(Path("a"));
  EXPECT_EQ(RecordNumbers(Path("a.scd")), (std::vector<int32_t>{0, 1, 2, 3, 20}));

  unreadable(-1);
  ui_.ExpectMsgBox("Saving system clusters failed because the system cluster could not be read.", ui::Answer::OK);
  SaveTopfSystemClusters(Path("b"));
  EXPECT_FALSE(Exists(Path("b.scc")) || Exists(Path("b.scd")));
  RunChecks();
  const auto lines = ResultLinesCopy();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Info:\tFree/Used: Information not yet available."), lines.end());
  for (const std::string& line : lines) EXPECT_EQ(line.find("Free: "), std::string::npos) << line;

  faults.FailReadsWhere({});
  {
    // The root names \DataFiles\A 40 times more, and A names B 40 times.
    ib::ImageFile file(path);
    std::vector<uint8_t> entry(128, 0);
    entry[0] = ib::kAttrDirectory;
    for (int k = 0; k < 40; ++k) {
      entry[20] = uint8_t('a' + k % 26), entry[21] = uint8_t('a' + k / 26);
      ib::PutBE32(entry.data() + 8, 20);
      file.WriteSlot(0, 4 + k, entry);
      ib::PutBE32(entry.data() + 8, 10);
      file.WriteSlot(20, 2 + k, entry);
    }
  }
  SaveTopfSystemClusters(Path("c"));
  EXPECT_EQ(RecordNumbers(Path("c.scd")), (std::vector<int32_t>{0, 1, 2, 3, 20, 10}));
}

TEST_F(DumpToolsTest, CompareWithTheDialogCancelledEndsTheProgram) {
  TestApp();
  Form1 form;
  ui_.ExpectFile("");
  EXPECT_THROW(form.Menu_Expert_CompareSCD_Click(), ui::ProgramEnded);
  EXPECT_EQ(ui_.EndedWith(), ui::kExitNormal);
}

}  // namespace
}  // namespace checkertest
