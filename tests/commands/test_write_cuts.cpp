// A power cut after any single write of any action that writes a recorder
// disk loses no recording: each action runs once with its writes recorded,
// then every cut is replayed on a fresh copy of the disk as it was before
// the action. At every cut each recording present before is readable from
// an entry with its exact bytes (at its old place or, for a moved or
// renamed one, at its new place; an edited one also in its new state), no
// entry stands on a free cluster, two entries share a cluster only where
// the file-system check fails the disk, and otherwise the check passes (at
// most lost clusters are left). After the whole action the two programs
// agree: the check program, run in-process, finds nothing to fix and writes
// nothing.
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "checker/check_driver.h"
#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "checker/startup.h"
#include "checker/step_fat.h"
#include "commands/crypt_flags.h"
#include "commands/disk_maint.h"
#include "commands/event_editor.h"
#include "commands/fat_text.h"
#include "commands/file_date.h"
#include "commands/rec_header.h"
#include "core/erase.h"
#include "core/fsck.h"
#include "tests/support/sector_faults.h"
#include "tests/transfer/job_files.h"
#include "tests/transfer/job_fixture.h"
#include "tools/defrag_engine.h"
#include "transfer/entry_edits.h"

namespace cuttest {
namespace {

namespace ib = imagebuilder;
using transfertest::Spec;

using jobtest::File;
using jobtest::kCluster;
using jobtest::kSpc;

// \DataFiles: a.rec, b.dat, bare.rec (a stream without header), good.rec
// (with header), plain.rec (a 0xD0 entry); \DataFiles\Films: c.rec, b.dat;
// \DataFiles\Films\Old: d.rec; \DataFiles\Misc\Inner: m.rec.
ib::DiskImage Model() {
  ib::ImageSpec spec = Spec(kSpc, 100);   // the defragmenter keeps 50 clusters at the end
  spec.VersionMinor = 1;                  // a backup superblock as the recorder writes it
  ib::DiskImage model(spec);
  model.AddFile(File("\\DataFiles\\a.rec", kCluster * 3 + 100, 1));
  model.AddFile(File("\\DataFiles\\b.dat", kCluster * 2, 2));
  ib::FileSpec bare;
  bare.Path = "\\DataFiles\\bare.rec";
  bare.Data = ib::Content::SampleTs();
  bare.Size = 2 * kCluster - 1000;
  model.AddFile(bare);
  ib::FileSpec good = bare;
  good.Path = "\\DataFiles\\good.rec";
  good.Header = ib::RecHeader{};
  good.Header->EventName = "News";
  good.Size = kCluster + 5000;
  model.AddFile(good);
  ib::FileSpec plain = File("\\DataFiles\\plain.rec", 7000, 6);
  plain.Attribute = ib::kAttrFile;
  model.AddFile(plain);
  model.AddFolder("\\DataFiles\\Films");
  model.AddFile(File("\\DataFiles\\Films\\c.rec", 1, 3));
  model.AddFile(File("\\DataFiles\\Films\\b.dat", kCluster + 9, 5));
  model.AddFolder("\\DataFiles\\Films\\Old");
  model.AddFile(File("\\DataFiles\\Films\\Old\\d.rec", kCluster + 7, 4));
  model.AddFolder("\\DataFiles\\Misc");
  model.AddFolder("\\DataFiles\\Misc\\Inner");
  model.AddFile(File("\\DataFiles\\Misc\\Inner\\m.rec", kCluster * 2 + 1, 7));
  return model;
}

// An entry as an image shows it, read with the builder's decoder.
struct Seen {
  int Slot = 0;
  ib::DecodedEntry Entry;
  std::vector<uint32_t> Clusters;   // the entry's clusters as its FAT chain gives them
  std::string Bytes;                // files: their bytes
};
// Every entry of the disks, keyed "<disk>:<path>" (a name may stand twice).
using Snapshot = std::multimap<std::string, Seen>;

class WriteCutTest : public jobtest::JobTest {
 protected:
  // One action: its panes and set-up, the action, and what it may change.
  struct Action {
    std::string Name;
    bool TwoDisks = false;                 // drives 1 and 2, else drive 1 alone
    std::function<void()> Show;            // loads the panes (before the recording)
    std::function<void()> Setup;           // recorded, but not cut (an add before its undo)
    std::function<void()> Run;
    // Paths (or folders) that move: "1:\DataFiles\a.rec" -> "1:\DataFiles\Films\a.rec";
    // an empty target: erased.
    std::vector<std::pair<std::string, std::string>> Moves;
    std::set<std::string> Edited;          // may hold the bytes the action left
    std::vector<std::string> Made;         // there after the action
  };

  std::string Image(int disk) { return DrivePath(disk == 1 ? 5 : 6); }

  // Reads the tree of folder `folder`. A file whose entry and clusters are as
  // in `previous` and that the last write (sectors [from, to)) left alone
  // keeps the bytes read there.
  struct Reuse {
    const Snapshot* Previous = nullptr;
    uint64_t From = 0, To = 0;
  };
  void Walk(const ib::ImageFile& image, const std::string& prefix, uint32_t folder,
            std::set<uint32_t>& visited, const Reuse& reuse, Snapshot& out) {
    if (!visited.insert(folder).second || visited.size() > 50) return;
    // The folders here hold few entries: their first slots are read.
    const std::vector<uint8_t> view = image.ReadView(uint64_t(folder + 1) * kCluster, 64 * 128);
    for (auto& [slot, e] : ib::DecodeDirectory(view, false)) {
      if (e.Attribute == ib::kAttrSelf || e.Attribute == ib::kAttrParent) continue;
      const std::string path = prefix + "\\" + e.Name;
      Seen s{slot, e, {}, {}};
      const bool dir = e.Attribute == ib::kAttrDirectory || e.Attribute == ib::kAttrRecycle;
      uint32_t c = e.StartCluster;
      const uint32_t count = dir ? 1 : e.ClusterCount;
      for (uint32_t k = 0; k < count && c < 0x20000; ++k) {
        s.Clusters.push_back(c);
        c = image.FatEntry(c, 1);
      }
      const Seen* was = nullptr;
      if (reuse.Previous && !dir)
        for (auto [it, end] = reuse.Previous->equal_range(path); it != end; ++it)
          if (it->second.Slot == slot && it->second.Clusters == s.Clusters &&
              it->second.Entry.FreeBytes == e.FreeBytes &&
              it->second.Entry.LastSectorBytes == e.LastSectorBytes)
            was = &it->second;
      for (uint32_t c : s.Clusters)
        if (was && uint64_t(c + 2) * kSpc > reuse.From && uint64_t(c + 1) * kSpc < reuse.To)
          was = nullptr;
      if (was)
        s.Bytes = was->Bytes;
      else if (!dir)
        s.Bytes = ImageFileBytes(
            image, e.StartCluster,
            ib::SizeFromFields(e.ClusterCount, e.FreeBytes, e.LastSectorBytes, kSpc));
      out.emplace(path, s);
      if (dir) Walk(image, path, e.StartCluster, visited, reuse, out);
    }
  }
  Snapshot Read(int disks, const Snapshot* previous = nullptr,
                const faults::SectorWrite* last = nullptr, int lastDisk = 0) {
    Snapshot out;
    for (int disk = 1; disk <= disks; ++disk) {
      const ib::ImageFile image(Image(disk));
      std::set<uint32_t> visited;
      Reuse reuse{previous, 0, 0};
      if (last && disk == lastDisk)
        reuse = {previous, last->FirstSector, last->FirstSector + last->Bytes.size() / 512};
      Walk(image, std::to_string(disk) + ":", 0, visited, reuse, out);
    }
    return out;
  }
  // The check of the core on disk `disk`'s copy, loaded on side 0.
  bool CheckPasses(int disk, std::string& findings) {
    core::DiskId[0] = disk == 1 ? -5 : -6;
    const bool ok = core::InitTopf(0, disk == 1 ? "PhysicalDrive5" : "PhysicalDrive6", true) &&
                    core::LoadTopf(0, true) && core::FSCK(0);
    findings.clear();
    for (const core::FsckResult& r : core::FsckResults)
      if (!r.Text.empty()) findings += r.Text + "; ";
    return ok;
  }

  // The check program on disk `disk`'s copy, as it starts on a drive:
  // nothing but "OK:" and "Info:" lines (and the summary's), and no write.
  void CheckerAgrees(int disk) {
    SCOPED_TRACE("the check program on disk " + std::to_string(disk));
    faults::SectorFaults checkerWrites;
    checker::ResetCheckerState(), checker::ResetFatTables(), checker::FatTablesLoaded = false;
    checker::OpenTarget({checker::StartTarget::Kind::Drive, disk == 1 ? "PhysicalDrive5" : "PhysicalDrive6"});
    checker::SessionPrefix = Image(disk) + " - ";
    checker::RunChecks();
    for (const std::string& line : checker::ResultLinesCopy())
      EXPECT_TRUE(line.rfind("OK:", 0) == 0 || line.rfind("Info:", 0) == 0 || line.empty() || line[0] == '\t') << line;
    EXPECT_EQ(checkerWrites.Writes().size(), 0u);
    checker::ResetDiskState();
  }

  // The places a recording of `path` may stand after a cut.
  static std::vector<std::string> Places(const Action& a, const std::string& path, bool& erased) {
    std::vector<std::string> places{path};
    erased = false;
    for (const auto& [from, to] : a.Moves) {
      if (path != from && path.compare(0, from.size() + 1, from + "\\") != 0) continue;
      if (to.empty())
        erased = true;
      else
        places.push_back(to + path.substr(from.size()));
    }
    return places;
  }

  void Check(const Action& a) {
    SCOPED_TRACE(a.Name);
    script.Reset();
    a.Show();
    std::map<int32_t, int> diskOf;   // device handle -> disk
    for (int side = 0; side < 2; ++side)
      if (core::DiskId[side] == -1 || core::DiskId[side] == -2)
        diskOf[core::Disk[side].Handle] = -core::DiskId[side];
    const int disks = a.TwoDisks ? 2 : 1;
    for (int disk = 1; disk <= disks; ++disk)   // the disks as the action finds them
      std::filesystem::copy_file(DrivePath(disk), DrivePath(disk + 6),
                                 std::filesystem::copy_options::overwrite_existing);
    faults::SectorFaults f;
    if (a.Setup) a.Setup();
    const size_t first = f.Writes().size();
    a.Run();
    EXPECT_TRUE(script.AllAnswered());
    const std::vector<faults::SectorWrite> writes = f.Writes();
    ASSERT_GT(writes.size(), first);
    for (const faults::SectorWrite& w : writes) ASSERT_TRUE(diskOf.count(w.Handle)) << w.Handle;
    // Writes [from, to) onto the copies; from 0 on a fresh copy of the disks.
    auto replay = [&](size_t from, size_t to) {
      for (int disk = 1; disk <= disks; ++disk) {
        if (from == 0)
          std::filesystem::copy_file(DrivePath(disk + 6), Image(disk),
                                     std::filesystem::copy_options::overwrite_existing);
        for (const auto& [handle, on] : diskOf)
          if (on == disk)
            faults::ApplyWrites(Image(disk), writes, to, from, a.TwoDisks ? handle : 0);
      }
    };
    replay(0, writes.size());
    for (int disk = 1; disk <= disks; ++disk) CheckerAgrees(disk);
    const Snapshot after = Read(disks);
    for (const std::string& made : a.Made) EXPECT_TRUE(after.count(made)) << made;
    replay(0, first);
    const Snapshot before = Read(disks);

    const auto started = std::chrono::steady_clock::now();
    Snapshot now = before;
    for (size_t n = first; n <= writes.size(); ++n) {
      SCOPED_TRACE("cut after write " + std::to_string(n) + " of " + std::to_string(writes.size()));
      if (n > first) {   // the cut one write later
        replay(n - 1, n);
        now = Read(disks, &now, &writes[n - 1], diskOf.at(writes[n - 1].Handle));
      }
      // Every recording: at one of its places, with its bytes.
      for (const auto& [path, was] : before) {
        if (was.Entry.Attribute == ib::kAttrDirectory) continue;
        bool erased = false;
        const std::vector<std::string> places = Places(a, path, erased);
        if (erased) continue;
        bool found = false;
        for (const std::string& p : places) {
          const bool edited = a.Edited.count(p) || a.Edited.count(path);
          for (auto [it, end] = now.equal_range(p); it != end; ++it) {
            if (it->second.Entry.Attribute == ib::kAttrDirectory) continue;
            found = found || it->second.Bytes == was.Bytes;
            for (auto [done, last] = after.equal_range(p); edited && done != last; ++done)
              found = found || it->second.Bytes == done->second.Bytes;
          }
        }
        EXPECT_TRUE(found) << path;
      }
      // No entry on a free cluster; two entries on one only where the check fails.
      std::set<int> shared;
      std::map<std::pair<int, uint32_t>, const Seen*> owner;
      const ib::ImageFile images[2] = {ib::ImageFile(Image(1)), ib::ImageFile(Image(disks))};
      for (const auto& [path, e] : now) {
        const int disk = path[0] - '0';
        for (uint32_t c : e.Clusters) {
          EXPECT_NE(images[disk - 1].FatEntry(c, 1), ib::kFatFree)
              << path << " stands on free cluster " << c;
          const auto [it, fresh] = owner.emplace(std::make_pair(disk, c), &e);
          if (!fresh && it->second != &e) shared.insert(disk);
        }
      }
      for (int disk = 1; disk <= disks; ++disk) {
        std::string findings;
        EXPECT_EQ(CheckPasses(disk, findings), !shared.count(disk))
            << "disk " << disk << ": " << findings;
      }
      ASSERT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    }
    EXPECT_EQ(f.Writes().size(), writes.size());   // the check wrote nothing
    transfer::UnloadProgressWindow();
    testenv::CloseDisksAndReset();
    core::Flags = core::FlagNormal | core::FlagWriteMode;
    transfer::ResetJobState();
    transfer::List3.Clear();
  }

  int Index(int side, const std::string& path) {
    const int i = IndexOf(side, path);
    EXPECT_GE(i, 0) << path;
    return i;
  }
  // Side `side` shows `folder` of drive `drive`, a fresh copy of Model().
  void Show(int side, int drive, const std::string& folder = "\\DataFiles\\") {
    if (platform::FileLength(DrivePath(9)) < 0) Model().Write(DrivePath(9));
    std::filesystem::copy_file(DrivePath(9), DrivePath(drive),
                               std::filesystem::copy_options::overwrite_existing);
    core::DiskId[side] = -drive;
    ASSERT_TRUE(core::InitTopf(side, "PhysicalDrive" + std::to_string(drive), true));
    ASSERT_TRUE(core::LoadTopf(side, true));
    host.Label[side] = folder;
    host.Fill(side);
  }
  void OneDisk() { Show(0, 1); }
  void SameDisk(const std::string& left, const std::string& right) {
    Show(0, 1, left);
    core::DiskId[1] = -1;
    ASSERT_TRUE(core::InitTopf(1, "PhysicalDrive1", true));
    core::LoadTopf(1, false);   // a copy of side 0's record
    host.Label[1] = right;
    host.Fill(1);
  }
};

TEST_F(WriteCutTest, NoActionLosesARecordingAtAnyWrite) {
  const std::string d = "1:\\DataFiles";
  // Erasing the checked entry `path` of drive 1 ("Yes" to the question).
  const auto erase = [this](const std::string& name, const std::string& path) {
    return Action{name,
                  false,
                  [this, path] {
                    Show(0, 1, path.substr(0, path.rfind('\\') + 1));
                    host.Check(0, path);
                  },
                  nullptr,
                  [this] {
                    script.ExpectMsgBox("Do you really want", ui::Answer::Yes);
                    transfer::DoErase(0);
                  },
                  {{"1:" + path, ""}},
                  {},
                  {}};
  };
  const std::vector<Action> actions = {
      {"copy PC to recorder",
       false,
       [&] {
         ib::WriteWholeFile(Pc() + "new.rec", std::string(size_t(kCluster * 3 + 17), 'n'));
         ASSERT_TRUE(platform::MakePath(Pc() + "Show/Inner/"));
         ib::WriteWholeFile(Pc() + "Show/Inner/s.rec", std::string(size_t(kCluster * 2 + 5), 's'));
         ShowPc(0);
         Show(1, 1, "\\DataFiles\\Films\\");
         host.Check(0, Pc() + "new.rec");
         host.Check(0, Pc() + "Show");
       },
       nullptr,
       [&] { transfer::DoCopy(0, false); },
       {},
       {},
       {d + "\\Films\\new.rec", d + "\\Films\\Show\\Inner\\s.rec"}},
      erase("erase a file", "\\DataFiles\\a.rec"),
      erase("erase the last entry of a folder", "\\DataFiles\\Misc\\Inner\\m.rec"),
      erase("erase a folder with its content", "\\DataFiles\\Films"),
      {"rename a file and a folder",
       false,
       [&] { OneDisk(); },
       nullptr,
       [&] {
         EXPECT_TRUE(transfer::FSRenameFile(0, Index(0, "\\DataFiles\\a.rec"), "z.rec"));
         EXPECT_TRUE(transfer::FSRenameFile(0, Index(0, "\\DataFiles\\Films"), "Movies"));
       },
       {{d + "\\a.rec", d + "\\z.rec"}, {d + "\\Films", d + "\\Movies"}},
       {},
       {d + "\\z.rec", d + "\\Movies\\Old\\d.rec"}},
      {"create a folder",
       false,
       [&] { OneDisk(); },
       nullptr,
       [&] {   // as the context menu does: the folder, then the folder sizes
         EXPECT_TRUE(transfer::FSCreateDir(0, "\\DataFiles\\Films\\New"));
         EXPECT_TRUE(core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0));
       },
       {},
       {},
       {d + "\\Films\\New"}},
      {"move between folders of one disk",
       false,
       [&] {
         SameDisk("\\DataFiles\\", "\\DataFiles\\Films\\");
         host.Check(0, "\\DataFiles\\a.rec");
         host.Check(0, "\\DataFiles\\b.dat");
         host.Check(0, "\\DataFiles\\Misc");
       },
       nullptr,
       [&] {
         script.ExpectMsgBox("Overwrite?", ui::Answer::Yes);
         transfer::DoCopy(0, true);
       },
       {{d + "\\a.rec", d + "\\Films\\a.rec"},
        {d + "\\b.dat", d + "\\Films\\b.dat"},
        {d + "\\Misc", d + "\\Films\\Misc"}},
       {d + "\\Films\\b.dat"},
       {d + "\\Films\\a.rec", d + "\\Films\\Misc\\Inner\\m.rec"}},
      {"move between two disks",
       true,
       [&] {
         OneDisk();
         Show(1, 2, "\\DataFiles\\Films\\");
         host.Check(0, "\\DataFiles\\a.rec");
         host.Check(0, "\\DataFiles\\b.dat");
         host.Check(0, "\\DataFiles\\Misc");
       },
       nullptr,
       [&] {
         script.ExpectMsgBox("Overwrite?", ui::Answer::Yes);
         transfer::DoCopy(0, true);
       },
       {{d + "\\a.rec", "2:\\DataFiles\\Films\\a.rec"},
        {d + "\\b.dat", "2:\\DataFiles\\Films\\b.dat"},
        {d + "\\Misc", "2:\\DataFiles\\Films\\Misc"}},
       {"2:\\DataFiles\\Films\\b.dat"},
       {"2:\\DataFiles\\Films\\a.rec", "2:\\DataFiles\\Films\\Misc\\Inner\\m.rec"}},
      {"defragment after an erase", false,
       [&] { erase("", "\\DataFiles\\a.rec").Show(), core::Flags |= core::FlagSide0Writable; },
       erase("", "\\DataFiles\\a.rec").Run,
       [&] { EXPECT_EQ(tools::DefragmentDisk(0), tools::DefragOutcome::Completed); }, {{d + "\\a.rec", ""}}, {}, {}},
      {"Add REC Header",
       false,
       [&] { OneDisk(); },
       nullptr,
       [&] {
         EXPECT_EQ(commands::FSAddRECHeader(0, Index(0, "\\DataFiles\\bare.rec")),
                   commands::RecHeaderResult::Done);
       },
       {},
       {d + "\\bare.rec"},
       {}},
      {"undo of Add REC Header",
       false,
       [&] { OneDisk(); },
       [&] {
         ASSERT_EQ(commands::FSAddRECHeader(0, Index(0, "\\DataFiles\\bare.rec")),
                   commands::RecHeaderResult::Done);
       },
       [&] {
         EXPECT_EQ(commands::FSUndoAddRECHeader(0, Index(0, "\\DataFiles\\bare.rec")),
                   commands::RecHeaderResult::Done);
       },
       {},
       {d + "\\bare.rec"},
       {}},
      {"file dates",
       false,
       [&] { OneDisk(); },
       nullptr,
       [&] {
         EXPECT_TRUE(commands::SetFileRecDate(0, Index(0, "\\DataFiles\\good.rec"), 41000.5));
         EXPECT_TRUE(commands::SetFileRecDate(0, Index(0, "\\DataFiles\\Films"), 41000.5));
       },
       {},
       {},
       {}},
      {"event text",
       false,
       [&] { OneDisk(); },
       nullptr,
       [&] {
         const int i = Index(0, "\\DataFiles\\good.rec");
         std::vector<uint8_t> image;
         ASSERT_TRUE(commands::LoadEventImage(0, i, image));
         commands::EventTexts t = commands::ReadEventTexts(image);
         t.ShortDescription = "Other news";
         commands::StoreEventTexts(image, t);
         EXPECT_TRUE(commands::StoreEventImage(0, i, image));
       },
       {},
       {d + "\\good.rec"},
       {}},
      {"crypt flags",
       false,
       [&] { OneDisk(); },
       nullptr,
       [&] {
         EXPECT_TRUE(commands::SetRecordingCryptValue(0, Index(0, "\\DataFiles\\good.rec"),
                                                      commands::kCryptCrypted));
       },
       {},
       {d + "\\good.rec"},
       {}},
      {"stream scan",
       false,
       [&] {
         OneDisk();
         host.Check(0, "\\DataFiles\\bare.rec");
       },
       nullptr,
       [&] { transfer::DoScan(0); },
       {},
       {d + "\\bare.rec"},
       {}},
      {"0xD0 to 0xD1",
       false,
       [&] { OneDisk(); },
       nullptr,
       [&] { EXPECT_EQ(commands::FSChangeD0D1(), 1); },
       {},
       {},
       {}},
      {"FAT import",
       false,
       [&] { OneDisk(); },
       nullptr,
       [&] {
         ib::WriteWholeFile(Pc() + "fat.txt", commands::BuildClusterChainText(0));
         EXPECT_TRUE(commands::ImportClusterChain(Pc() + "fat.txt"));
       },
       {},
       {},
       {}},
      {"Write Recovered",
       false,
       [&] { OneDisk(); },
       nullptr,
       [&] {
         core::DiskRec& disk = core::Disk[0];
         std::vector<int32_t> chain;
         for (int32_t c = disk.LastCluster; c > 1 && chain.size() < 2; --c)
           if (disk.FAT[size_t(c)].Next == 0) chain.push_back(c);
         ASSERT_EQ(chain.size(), 2u);
         disk.FAT[size_t(chain[0])] = {chain[1], 0};
         disk.FAT[size_t(chain[1])] = {-1, chain[0]};
         core::CheckArraySize(0);
         core::FileRec r;
         r.Name = "\\DataFiles\\Films\\Recovered_1.rec";
         r.EntryType = core::AttrRecording;
         r.StartCluster = chain[0];
         r.ClusterCount = 2;
         r.Size = double(kCluster) + 1000;
         r.RecDate = 38000.5;
         r.Recovered = true;
         r.DirCluster = -1;
         r.Slot = -1;
         disk.Files[size_t(disk.FileCount++)] = r;
         EXPECT_EQ(commands::WriteRecovered(), 1);
       },
       {},
       {},
       {d + "\\Films\\Recovered_1.rec"}},
  };
  for (const Action& a : actions) Check(a);
}

}  // namespace
}  // namespace cuttest
