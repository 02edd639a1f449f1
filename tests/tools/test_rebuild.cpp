// Scan, match and rebuild on builder images: lost recordings come back as
// pending entries whose chains and bytes are the originals, and nothing but
// side 0's in-memory model changes.
#include "tests/tools/recovery_fixture.h"

#include <QCheckBox>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

#include "commands/disk_maint.h"
#include "core/cluster_io.h"
#include "core/fsck.h"
#include "tests/support/sector_faults.h"
#include "tools/chain_match.h"
#include "tools/found_clusters.h"
#include "tools/rebuild.h"
#include "tools/recovery_window.h"

namespace recoverytest {
namespace {

// A digest of the whole image file.
size_t ImageDigest(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::string block(1 << 20, '\0');
  size_t digest = 0, got;
  while ((got = std::fread(block.data(), 1, block.size(), f)) > 0)
    digest = digest * 1000003u ^ std::hash<std::string_view>{}(std::string_view(block.data(), got));
  std::fclose(f);
  return digest;
}

class RebuildTest : public RecoveryTest {
 protected:
  void LoseBothAndLoad() {
    BuildScene();
    Lose("\\DataFiles\\LostA.rec");
    Lose("\\DataFiles\\LostB.rec");
    ASSERT_TRUE(OpenAndLoad());
    ASSERT_EQ(Find("\\DataFiles\\LostA.rec"), nullptr);
    ASSERT_NE(Find("\\DataFiles\\Kept.rec"), nullptr);
  }
  void Scan(bool freeOnly) {
    tools::Form5 window;
    window.Check1->setChecked(freeOnly);
    window.Scanner();
    ASSERT_FALSE(window.ScanRunning);
  }
  // The pending entry's clusters hold the lost file's bytes.
  void ExpectSameBytes(const core::FileRec& e, const std::string& lostPath) {
    ib::ImageFile f(DrivePath());
    const std::vector<int32_t> chain = ChainOf(e.StartCluster);
    const uint64_t cb = image->ClusterBytes();
    const std::string original = image->FileBytes(lostPath);
    ASSERT_EQ(chain.size(), (original.size() + cb - 1) / cb);
    for (size_t i = 0; i < chain.size(); ++i) {
      const std::vector<uint8_t> view = f.ReadClusterView(uint32_t(chain[i]) + 1);
      const std::string want = original.substr(i * cb, cb);
      ASSERT_GE(view.size(), want.size());
      ASSERT_EQ(std::memcmp(want.data(), view.data(), want.size()), 0) << "cluster " << chain[i];
    }
  }
};

TEST_F(RebuildTest, LostRecordingsComeBackWithTheirChainsAndBytes) {
  LoseBothAndLoad();
  const size_t before = ImageDigest(DrivePath());
  const int32_t filesBefore = core::Disk[0].FileCount;
  Scan(true);
  ASSERT_TRUE(tools::Matcher());
  EXPECT_EQ(tools::UpdateStructure(), 2);
  EXPECT_EQ(ImageDigest(DrivePath()), before);   // the disk was only read
  ASSERT_EQ(core::Disk[0].FileCount, filesBefore + 2);

  const core::FileRec* a = Find("\\DataFiles\\Recovered_0001_Chan One_Film.rec");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(ChainOf(a->StartCluster), (std::vector<int32_t>{20, 35, 22, 41, 23}));
  EXPECT_EQ(a->ClusterCount, 5);
  EXPECT_EQ(a->Size, 5.0 * 2068 * 512);
  EXPECT_TRUE(a->Recovered);
  EXPECT_TRUE(a->HasRecHeader);
  EXPECT_EQ(a->DirCluster, -1);
  EXPECT_EQ(a->Slot, -1);
  EXPECT_EQ(a->VideoPid, 0x100);
  EXPECT_EQ(a->Duration, 1);
  EXPECT_EQ(a->ServiceType, 0);
  EXPECT_FALSE(a->IsDir);
  ExpectSameBytes(*a, "\\DataFiles\\LostA.rec");
  EXPECT_EQ(core::Disk[0].FAT[20].Prev, 0);
  EXPECT_EQ(core::Disk[0].FAT[35].Prev, 20);
  EXPECT_EQ(core::Disk[0].FAT[23].Next, -1);

  const core::FileRec* b = Find("\\DataFiles\\Recovered_0002.rec");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(ChainOf(b->StartCluster), (std::vector<int32_t>{30, 31, 32}));
  EXPECT_FALSE(b->HasRecHeader);
  ExpectSameBytes(*b, "\\DataFiles\\LostB.rec");

  // The kept recording is untouched.
  EXPECT_EQ(ChainOf(10), (std::vector<int32_t>{10, 11}));
  EXPECT_EQ(core::Disk[0].FAT[10].Prev, 0);

  // The match list holds the two chains.
  const std::string match = ib::ReadWholeFile(tools::MatchListFile());
  EXPECT_NE(match.find(std::string(100, '-')), std::string::npos);
  EXPECT_NE(match.find(" 000041 "), std::string::npos);
}

TEST_F(RebuildTest, HitsOnUsedClustersNeverChangeAFile) {
  LoseBothAndLoad();
  Scan(false);   // the whole disk, the kept recording's clusters too
  // The search list names the kept file as the owner of its clusters.
  const std::string list = ib::ReadWholeFile(tools::SearchListFile());
  EXPECT_NE(list.find(" 000010   000011 \\DataFiles\\Kept.rec"), std::string::npos);
  ASSERT_TRUE(tools::Matcher());
  EXPECT_EQ(tools::UpdateStructure(), 2);
  EXPECT_EQ(ChainOf(10), (std::vector<int32_t>{10, 11}));
  const core::FileRec* kept = Find("\\DataFiles\\Kept.rec");
  ASSERT_NE(kept, nullptr);
  EXPECT_FALSE(kept->Recovered);
  EXPECT_EQ(kept->ClusterCount, 2);
  for (int i = 0; i < core::Disk[0].FileCount; ++i) {
    if (core::Disk[0].Files[size_t(i)].Recovered) {
      EXPECT_NE(core::Disk[0].Files[size_t(i)].StartCluster, 10);
    }
  }
}

TEST_F(RebuildTest, ALostChainComesBackAndACutFileGrowsWithTheirExactBytes) {
  // One stream over three clusters: Cut.rec keeps its entry and its first
  // cluster; a repair ended its chain there. Lost.rec lost only its
  // directory entry: its chain is still in the FAT, reached by no entry.
  ib::ImageSpec spec;
  spec.SectorsPerCluster = 2068;
  spec.LastCluster = 60;
  image = std::make_unique<ib::DiskImage>(spec);
  const size_t cb = size_t(image->ClusterBytes());
  const std::string stream = MakeStream(2, 50000000);
  ASSERT_GT(stream.size(), 2 * cb);
  auto add = [&](const std::string& path, const std::string& bytes, std::vector<uint32_t> chain) {
    ib::FileSpec f;
    f.Path = path;
    f.Data = ib::Content::Of(bytes);
    f.Chain = std::move(chain);
    image->AddFile(f);
  };
  add("\\DataFiles\\Cut.rec", stream, {10, 11, 12});
  add("\\DataFiles\\Lost.rec", MakeStream(1, 100000000), {30, 31});
  image->Write(DrivePath());
  {
    ib::ImageFile f(DrivePath());
    for (uint32_t c : {10u, 11u, 12u}) f.SetFatEntry(c, c == 10 ? ib::kFatEnd : ib::kFatFree);
    f.RecomputeFatCrc(uint32_t(image->LastCluster()));
    const ib::ModelEntry& e = image->Entry("\\DataFiles\\Lost.rec");
    f.WriteSlot(image->FolderIndex(e.Parent), e.Slot, std::vector<uint8_t>(ib::kSlotBytes, 0xFF));
  }
  ASSERT_TRUE(OpenAndLoad());
  ASSERT_EQ(core::Disk[0].FAT[31].Next, -1);   // the lost chain

  Scan(false);   // the used clusters too
  ASSERT_TRUE(tools::Matcher());
  int32_t grown = 0;
  EXPECT_EQ(tools::UpdateStructure(&grown), 1);
  EXPECT_EQ(grown, 1);
  const core::FileRec* lost = Find("\\DataFiles\\Recovered_0001.rec");
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(ChainOf(lost->StartCluster), (std::vector<int32_t>{30, 31}));
  ExpectSameBytes(*lost, "\\DataFiles\\Lost.rec");
  const core::FileRec* cut = Find("\\DataFiles\\Cut.rec");
  ASSERT_NE(cut, nullptr);
  EXPECT_TRUE(cut->Recovered);
  EXPECT_EQ(cut->ClusterCount, 3);
  EXPECT_EQ(ChainOf(cut->StartCluster), (std::vector<int32_t>{10, 11, 12}));
  // The match list holds every hit once.
  const std::string match = ib::ReadWholeFile(tools::MatchListFile());
  for (const char* c : {" 000010 ", " 000011 ", " 000012 ", " 000030 ", " 000031 "})
    EXPECT_EQ(match.find(c), match.rfind(c)) << c;

  // Written and loaded again: the grown file reads its whole stream.
  const std::string copy = Folder() + "/PhysicalDrive1";
  ib::WriteWholeFile(copy, ib::ReadWholeFile(DrivePath()));
  std::vector<faults::SectorWrite> writes;
  {
    faults::SectorFaults record;
    EXPECT_EQ(commands::WriteRecovered(), 2);
    writes = record.Writes();
  }
  ASSERT_TRUE(core::LoadTopf(0, true));
  cut = Find("\\DataFiles\\Cut.rec");
  ASSERT_NE(cut, nullptr);
  EXPECT_FALSE(cut->Recovered);
  EXPECT_EQ(cut->Size, double(stream.size()));
  ib::ImageFile f(DrivePath());
  std::string bytes;
  for (int32_t c : ChainOf(cut->StartCluster)) {
    const std::vector<uint8_t> view = f.ReadClusterView(uint32_t(c) + 1);
    bytes.append(reinterpret_cast<const char*>(view.data()), view.size());
  }
  ASSERT_GE(bytes.size(), stream.size());
  EXPECT_TRUE(bytes.compare(0, stream.size(), stream) == 0);
  lost = Find("\\DataFiles\\Recovered_0001.rec");
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(ChainOf(lost->StartCluster), (std::vector<int32_t>{30, 31}));
  EXPECT_TRUE(core::FSCK(0));

  // A cut after any write of Write Recovered: the chains are on the disk
  // before the entries that name them, so no entry names a free cluster.
  for (size_t n = 0; n <= writes.size(); ++n) {
    testenv::CloseDisksAndReset();
    core::DiskId[0] = 0;
    ASSERT_TRUE(core::InitTopf(0, "PhysicalDrive1", false));
    ASSERT_TRUE(core::LoadTopf(0, true));
    const core::DiskRec& d = core::Disk[0];
    for (int32_t i = 0; i < d.FileCount; ++i) {
      const core::FileRec& r = d.Files[size_t(i)];
      if (r.IsDir || r.Name == core::kErasedName) continue;
      const std::vector<int32_t> chain = ChainOf(r.StartCluster);
      const bool cut = r.Name == "\\DataFiles\\Cut.rec" && n == 0;   // as the repair left it
      ASSERT_GE(chain.size(), cut ? 1 : size_t(r.ClusterCount)) << "cut after " << n << r.Name;
      for (int32_t c : chain)
        ASSERT_NE(d.FAT[size_t(c)].Next, 0) << "cut after write " << n << ": " << r.Name;
    }
    faults::ApplyWrites(copy, writes, n + 1, n);
  }
}

TEST_F(RebuildTest, NamesInDisasterModeAndPastNamesTheDiskHolds) {
  LoseBothAndLoad();
  Scan(true);
  ASSERT_TRUE(tools::Matcher());
  // An entry of that name exists already.
  core::DiskRec& d = core::Disk[0];
  core::CheckArraySize(0);
  d.Files[size_t(d.FileCount)].Name = "\\RECOVERED_0002.rec";
  d.Files[size_t(d.FileCount)].StartCluster = 999999;
  d.FileCount += 1;
  core::Flags |= core::FlagDisasterMode;
  EXPECT_EQ(tools::UpdateStructure(), 2);
  EXPECT_NE(Find("\\Recovered_0001_Chan One_Film.rec"), nullptr);
  EXPECT_EQ(Find("\\Recovered_0002.rec"), nullptr);
  const core::FileRec* b = Find("\\Recovered_0003.rec");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->StartCluster, 30);
}

TEST_F(RebuildTest, HeaderLabels) {
  auto label = [](const std::string& service, const std::string& event) {
    std::vector<uint8_t> h(1656, 0);
    std::copy(service.begin(), service.end(), h.begin() + 28);
    std::copy(event.begin(), event.end(), h.begin() + 87);
    return tools::HeaderLabel(h.data(), h.size());
  };
  EXPECT_EQ(label("BBC One", "\x05News"), "BBC One_News");
  EXPECT_EQ(label("", "\x05News"), "News");
  EXPECT_EQ(label("Arte", ""), "Arte");
  EXPECT_EQ(label("", ""), "");
  EXPECT_EQ(label("\x01\x85\x9f", "\x05 "), "");
  EXPECT_EQ(label("  Sp\x81ort\x1f  ", "\x05M\xe4rz\\Teil 2 "), "Sport_M\xe4rzTeil 2");
  EXPECT_EQ(tools::RecoveredName(1, "", false), "\\DataFiles\\Recovered_0001.rec");
  EXPECT_EQ(tools::RecoveredName(12, "A_B", true), "\\Recovered_0012_A_B.rec");
  // A name stays within the 94 characters a directory entry keeps.
  const std::string longLabel = label(std::string(23, 'S'), "\x05" + std::string(120, 'E'));
  EXPECT_LE(("Recovered_0001_" + longLabel + ".rec").size(), 94u);
}

TEST_F(RebuildTest, DamagedTableLinksNothingTwiceAndEnds) {
  core::DiskRec& d = core::Disk[0];
  d.LastCluster = 1000;
  d.SectorsPerCluster = 2068;
  d.Files[0].Name = "\\DataFiles\\Old.rec";
  d.Files[0].StartCluster = 7;
  d.FileCount = 1;
  d.FAT[7] = {-1, 0};   // the file's cluster
  auto rec = [](int32_t cluster, int32_t next, int32_t prev) {
    tools::FoundCluster r;
    r.Cluster = cluster;
    r.Pid = 0x100;
    r.NextRec = next;
    r.PrevRec = prev;
    r.Used = true;
    return r;
  };
  tools::FoundClusters = {rec(5, 1, -1), rec(6, 0, 0),      // a loop of links
                          rec(5, -1, -1),                   // cluster 5 again
                          rec(7, -1, -1),                   // a used cluster
                          rec(2000, -1, -1),                // beyond the disk
                          rec(8, 70, -1), rec(9, -1, 5),    // 8 -> (out of table)
                          rec(10, 3, -1)};                  // 10 -> 7 (used) -> end
  tools::FoundCount = int32_t(tools::FoundClusters.size());
  EXPECT_EQ(tools::UpdateStructure(), 3);
  EXPECT_EQ(ChainOf(5), (std::vector<int32_t>{5, 6}));
  EXPECT_EQ(ChainOf(8), (std::vector<int32_t>{8}));
  EXPECT_EQ(ChainOf(10), (std::vector<int32_t>{10}));
  EXPECT_EQ(d.FAT[7].Next, -1);
  EXPECT_EQ(d.FAT[7].Prev, 0);
  EXPECT_EQ(d.FileCount, 4);
}

TEST_F(RebuildTest, AFoundChainThroughAFilesLastClusterContinuesThatFile) {
  core::DiskRec& d = core::Disk[0];
  d.LastCluster = 1000;
  d.SectorsPerCluster = 2068;
  d.Files[0].Name = "\\DataFiles\\Old.rec";
  d.Files[0].StartCluster = 5;   // its FAT chain was lost
  d.Files[0].ClusterCount = 1;
  d.Files[0].DirCluster = 2;
  d.Files[0].Slot = 3;
  d.FileCount = 1;
  tools::FoundCluster a, b;
  a.Cluster = 5;
  a.Pid = 0x100;
  a.NextRec = 1;
  b.Cluster = 6;
  b.Pid = 0x100;
  b.PrevRec = 0;
  tools::FoundClusters = {a, b};
  tools::FoundCount = 2;
  int32_t grown = 0;
  EXPECT_EQ(tools::UpdateStructure(&grown), 0);
  EXPECT_EQ(grown, 1);
  EXPECT_EQ(d.FileCount, 1);
  EXPECT_TRUE(d.Files[0].Recovered);   // its new size is still to be written
  EXPECT_EQ(d.Files[0].ClusterCount, 2);
  EXPECT_EQ(ChainOf(5), (std::vector<int32_t>{5, 6}));
}


// One channel's recordings (sample stream repeats from a time-stamp base: 2
// repeats end at 1573200, 4 at 3027600), lost ones without entry and chain,
// kept ones of a repaired zeroed FAT on their first cluster only (disk 2;
// disk 1's time stamps overlap, 3 is a recording split in two). Scanned
// (free area, whole disk), matched and written, every file holds one
// recording's bytes in order, survivors whole, lost ones in pieces.
TEST_F(RebuildTest, EveryRecordingComesBackAsItselfAndNoSurvivorChanges) {
  struct Rec { int Repeats; int64_t Base; std::vector<uint32_t> Chain; bool Lost; };
  const std::vector<std::pair<bool, std::vector<Rec>>> disks = {   // repaired zeroed FAT?
      {false, {{2, 0, {10, 11, 12}, false}, {2, 2 * kRepeatPts + 10800, {13, 14, 15}, true}}},
      {false, {{4, 0, {20, 35, 22, 41, 23}, true}, {3, 2260800, {30, 31, 32, 33}, true}}},
      {true, {{4, 0, {20, 35, 22, 41, 23}, false}, {2, 2919600, {30, 31, 32}, false},
              {2, 4384800, {40, 42, 43}, true}}},   // each 21600 after the one before
      {false, {{2, 0, {10, 11, 12}, false}, {2, 2 * kRepeatPts, {13, 14, 15}, true}}}};  // split
  for (size_t run = 0; run < 2 * disks.size(); ++run) {
    const auto& [repaired, recs] = disks[run / 2];
    SCOPED_TRACE("disk " + std::to_string(run / 2) + (run % 2 ? ", whole disk" : ", free area"));
    testenv::CloseDisksAndReset();
    ib::ImageSpec spec;
    spec.LastCluster = 60;
    image = std::make_unique<ib::DiskImage>(spec);
    std::vector<std::string> streams;
    std::map<int32_t, std::pair<size_t, size_t>> place;   // cluster: recording, position
    for (size_t i = 0; i < recs.size(); ++i) {
      ib::FileSpec f;
      f.Path = "\\DataFiles\\R" + std::to_string(i) + ".rec";
      streams.push_back(MakeStream(recs[i].Repeats, recs[i].Base));
      f.Data = ib::Content::Of(streams.back());
      f.Chain = recs[i].Chain;
      image->AddFile(f);
      for (size_t k = 0; k < f.Chain.size(); ++k) place[int32_t(f.Chain[k])] = {i, k};
    }
    image->Write(DrivePath());
    for (size_t i = 0; i < recs.size(); ++i) {
      if (recs[i].Lost) Lose("\\DataFiles\\R" + std::to_string(i) + ".rec");
      ib::ImageFile f(DrivePath());
      for (size_t k = 0; repaired && !recs[i].Lost && k < recs[i].Chain.size(); ++k)
        f.SetFatEntry(recs[i].Chain[k], k == 0 ? ib::kFatEnd : ib::kFatFree);
      f.RecomputeFatCrc(uint32_t(image->LastCluster()));
    }
    ASSERT_TRUE(OpenAndLoad());
    for (auto f : {tools::SearchStateFile(), tools::SearchListFile()}) std::remove(f.c_str());
    Scan(run % 2 == 0);
    ASSERT_TRUE(tools::Matcher());
    tools::UpdateStructure();
    commands::WriteRecovered();
    ASSERT_TRUE(core::LoadTopf(0, true));
    std::vector<std::map<size_t, size_t>> pieces(recs.size());   // position: clusters
    const size_t cb = size_t(image->ClusterBytes());
    for (int32_t n = 0; n < core::Disk[0].FileCount; ++n) {
      const core::FileRec& e = core::Disk[0].Files[size_t(n)];
      if (e.IsDir || e.Name == core::kErasedName) continue;
      const std::vector<int32_t> chain = ChainOf(e.StartCluster);
      ASSERT_TRUE(place.count(chain[0])) << e.Name;
      const auto [i, k] = place[chain[0]];
      for (size_t x = 0; x < chain.size() && (k + x) * cb < streams[i].size(); ++x) {
        const std::string want = streams[i].substr((k + x) * cb, cb);
        const auto view = ib::ImageFile(DrivePath()).ReadClusterView(uint32_t(chain[x]) + 1);
        EXPECT_EQ(std::memcmp(want.data(), view.data(), want.size()), 0) << e.Name << x;
      }
      if (e.Name.find("Recovered_") == e.Name.npos) EXPECT_EQ(e.Size, double(streams[i].size()));
      pieces[i][k] = chain.size();
    }
    for (size_t i = 0; i < recs.size(); ++i) {
      size_t next = 0;   // the pieces follow each other and end with the recording
      for (const auto& [k, length] : pieces[i]) next = k == next ? k + length : SIZE_MAX;
      EXPECT_EQ(next, recs[i].Chain.size()) << "recording " << i;
      if (!recs[i].Lost) EXPECT_EQ(pieces[i].size(), 1u) << "survivor " << i << " in pieces";
    }
  }
}

}  // namespace
}  // namespace recoverytest
