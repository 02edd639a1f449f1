// What the copy and move job must never do: let two sources of one job
// replace each other at the target, move a file onto itself, or leave a
// recording unreadable when the power goes after any single write of a
// relinking move or of a copy that overwrites a recorder file.
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <tuple>

#include "core/erase.h"
#include "core/fsck.h"
#include "tests/support/sector_faults.h"
#include "tests/transfer/job_files.h"
#include "tests/transfer/job_fixture.h"
#include "transfer/entry_edits.h"

namespace jobtest {
namespace {

namespace ib = imagebuilder;
using transfertest::Spec;

constexpr const char* kProblems = "These files were not copied or moved as asked:";

// A recorder file as an image shows it: its entry and its bytes.
struct Found {
  uint32_t Folder = 0;
  ib::DecodedEntry Entry;
  std::string Bytes;
};

class JobSafetyTest : public JobTest {
 protected:
  ib::ImageFile Image(int n) { return ib::ImageFile(DrivePath(n)); }
  // The files of the folders `folders` of an image, read with the builder's
  // own decoder (not the disk core).
  std::vector<Found> Files(const ib::ImageFile& image, const std::vector<uint32_t>& folders) {
    std::vector<Found> out;
    for (uint32_t folder : folders)
      for (auto& [slot, e] : ib::DecodeDirectory(image.ReadClusterView(folder + 1), false)) {
        if (e.Attribute != ib::kAttrFile && e.Attribute != ib::kAttrRecording) continue;
        const uint64_t size = ib::SizeFromFields(e.ClusterCount, e.FreeBytes, e.LastSectorBytes, kSpc);
        out.push_back({folder, e, ImageFileBytes(image, e.StartCluster, size)});
      }
    return out;
  }
  // True when two of the files own one cluster.
  bool TwoOnOneCluster(const ib::ImageFile& image, const std::vector<Found>& files) {
    std::map<uint32_t, size_t> owner;
    for (size_t k = 0; k < files.size(); ++k)
      for (uint32_t c : ImageChain(image, files[k].Entry.StartCluster))
        if (!owner.emplace(c, k).second && owner[c] != k) return true;
    return false;
  }
  // The core's check of an image, loaded on side 0 as drive 5.
  bool CheckPasses(const std::string& path) {
    EXPECT_EQ(path, DrivePath(5));
    core::DiskId[0] = -5;
    if (!core::InitTopf(0, "PhysicalDrive5", true) || !core::LoadTopf(0, true)) return false;
    return core::FSCK(0);
  }
};

// ------------------------------------------------ two sources, one target

// Every source either reached the target under the shared name (and, when
// moved, left its place) or was kept where it was; the target holds the
// bytes of exactly one of them.
TEST_F(JobSafetyTest, SourcesWithOneTargetNameNeverReplaceEachOther) {
  struct Case {
    bool ToPc;
    std::string A, B;   // recorder names in Windows-1252, PC names in UTF-8
  };
  const std::string longA = std::string(94, 'L') + "_one.txt";
  const std::string longB = std::string(94, 'L') + "_two.txt";
  const Case cases[] = {
      {true, "x?.txt", "x_.txt"},
      {true, "Cr\xE8me.txt", "Creme.txt"},
      {false, "A.txt", "a.txt"},
      {false, "\xD0\x96.txt", "\xD0\xA4.txt"},   // two Cyrillic letters: both "?" on the recorder
      {false, longA, longB},
  };
  for (const Case& c : cases) {
    for (const bool move : {false, true}) {
      SCOPED_TRACE(c.A + " / " + c.B + (move ? " moved" : " copied"));
      script.Reset();
      const std::string a = PatternBytes(21, kCluster + 10), b = PatternBytes(22, 2 * kCluster + 3);
      ib::DiskImage model(Spec(kSpc, 60));
      std::string pcSub = std::string(move ? "m" : "c") + std::to_string(&c - cases) + "/";
      ASSERT_TRUE(platform::MakePath(Pc() + pcSub));
      if (c.ToPc) {
        model.AddFile(File("\\DataFiles\\" + c.A, a.size(), 21));
        model.AddFile(File("\\DataFiles\\" + c.B, b.size(), 22));
        ShowRecorder(model, 0, 0);
        ShowPc(1, pcSub);
      } else {
        ib::WriteWholeFile(Pc() + pcSub + c.A, a);
        ib::WriteWholeFile(Pc() + pcSub + c.B, b);
        ShowPc(0, pcSub);
        ShowRecorder(model, 1, 1);
      }
      ASSERT_EQ(host.List[0].size(), 2u);
      for (FakeItem& item : host.List[0]) item.Checked = true;
      script.ExpectMsgBox(kProblems, ui::Answer::OK);
      transfer::DoCopy(0, move);
      EXPECT_TRUE(script.AllAnswered());
      ASSERT_FALSE(script.Prompts().empty());
      EXPECT_NE(script.Prompts().back().Text.find("already written"), std::string::npos);

      // The target: one file, holding one of the two.
      std::vector<std::string> targets;
      if (c.ToPc) {
        std::vector<platform::FolderEntry> entries;
        platform::ListFolder(Pc() + pcSub, entries);
        for (const auto& e : entries) targets.push_back(ib::ReadWholeFile(Pc() + pcSub + e.Name));
      } else {
        for (const Found& f : Files(Image(1), {model.FolderIndex("\\DataFiles")}))
          targets.push_back(f.Bytes);
      }
      ASSERT_EQ(targets.size(), 1u);
      const bool aWon = targets[0] == a;
      EXPECT_TRUE(aWon || targets[0] == b);

      // The sources: the winner is gone after a move, the other one stays.
      for (const bool first : {true, false}) {
        const std::string& name = first ? c.A : c.B;
        const std::string& bytes = first ? a : b;
        const bool won = first == aWon;
        std::string there;
        bool present;
        if (c.ToPc) {
          ib::DecodedEntry e;
          present = FindEntry(Image(0), model.FolderIndex("\\DataFiles"), name, e);
          if (present) there = ImageFileBytes(Image(0), e.StartCluster, bytes.size());
        } else {
          present = platform::FileLength(Pc() + pcSub + name) >= 0;
          if (present) there = ib::ReadWholeFile(Pc() + pcSub + name);
        }
        EXPECT_EQ(present, !(won && move)) << name;
        if (present) {
          EXPECT_TRUE(SameBytes(there, bytes)) << name;
        }
      }
      transfer::UnloadProgressWindow();
    }
  }
}

// ----------------------------------------------------- a move onto itself

TEST_F(JobSafetyTest, AMoveOntoItselfIsRefusedAndChangesNothing) {
  ib::DiskImage model(Spec(kSpc, 60));
  model.AddFile(File("\\DataFiles\\a.rec", 2 * kCluster + 5, 1));
  ShowSameRecorder(model, 0, "\\DataFiles\\", "\\DataFiles\\");
  host.Check(0, "\\DataFiles\\a.rec");
  const std::string before = ib::ReadWholeFile(DrivePath(0));
  script.ExpectMsgBox("Source and destination are the same folder. Nothing was moved.",
                      ui::Answer::OK);
  transfer::DoCopy(0, true);
  EXPECT_TRUE(script.AllAnswered());
  EXPECT_TRUE(ib::ReadWholeFile(DrivePath(0)) == before);
  EXPECT_FALSE(transfer::ProgressWindowLoaded());
  EXPECT_EQ(host.DisableCount, 0);
}

// ------------------------------------------- an older PC file of that name

// A copy to the PC over an older file of the same name: when a sector of the
// source cannot be read the older file stays beside the incomplete copy;
// when the copy succeeds it replaces the older file and nothing else is left.
TEST_F(JobSafetyTest, AnOlderPcFileGoesOnlyOnceTheCopyIsThere) {
  ib::DiskImage model(Spec(kSpc, 60));
  model.AddFile(File("\\DataFiles\\a.rec", 3 * kCluster + 5, 1));
  const std::string a = PatternBytes(1, 3 * kCluster + 5);
  for (const bool readFails : {true, false}) {
    SCOPED_TRACE(readFails ? "read fails" : "read works");
    script.Reset();
    std::filesystem::remove(Pc() + "a.rec.old");
    ib::WriteWholeFile(Pc() + "a.rec", "the older copy");
    ShowRecorder(model, 0, 0);
    ShowPc(1);
    host.Check(0, "\\DataFiles\\a.rec");
    faults::SectorFaults f;
    const uint32_t second = (model.Entry("\\DataFiles\\a.rec").Chain[1] + 1) * kSpc;
    if (readFails) f.FailReadsWhere([&](uint32_t s, int32_t) { return s == second; });
    script.ExpectMsgBox("Overwrite?", ui::Answer::Yes);
    if (readFails) script.ExpectMsgBox(kProblems, ui::Answer::OK);
    transfer::DoCopy(0, false);
    EXPECT_TRUE(script.AllAnswered());
    const std::string copy = readFails ? std::string(a).replace(kCluster, 512, 512, '\0') : a;
    EXPECT_TRUE(SameBytes(ib::ReadWholeFile(Pc() + "a.rec"), copy));
    if (readFails) EXPECT_EQ(ib::ReadWholeFile(Pc() + "a.rec.old"), "the older copy");
    std::vector<platform::FolderEntry> entries;
    platform::ListFolder(Pc(), entries);
    EXPECT_EQ(entries.size(), readFails ? 2u : 1u);
    transfer::UnloadProgressWindow();
  }
}

// ------------------------------------------------ one failing disk transfer

// Every job that writes a recorder disk, with its n-th cluster read or write
// failing (each n in turn): the user is told exactly when one failed, the
// disk passes the check unless the user was told to run one, and a move's
// source goes only with a whole copy.
TEST_F(JobSafetyTest, EveryFailedTransferIsToldAndLeavesASoundDisk) {
  ib::DiskImage model(Spec(kSpc, 60));
  const std::string a = PatternBytes(1, 2 * kCluster + 5);
  model.AddFile(File("\\DataFiles\\a.rec", a.size(), 1));
  model.AddFolder("\\DataFiles\\Films");
  model.AddFile(File("\\DataFiles\\Films\\b.rec", kCluster + 3, 2));
  ib::FileSpec ts = File("\\DataFiles\\t.rec", 3 * kCluster, 0);
  ts.Data = ib::Content::Of(ib::ReadWholeFile(ib::TestDataPath("sample.ts")));
  model.AddFile(ts);
  auto left = [&](const char* name) { ShowRecorder(model, 0, 0), host.Check(0, name); };
  const std::vector<std::tuple<const char*, int, std::function<void()>, std::function<void()>>> ops = {
      {"erase", 0,
       [&] { left("\\DataFiles\\a.rec"), host.Check(0, "\\DataFiles\\Films"), script.ExpectMsgBox("", ui::Answer::Yes); },
       [] { transfer::DoErase(0); }},
      {"move to the PC", 0, [&] { left("\\DataFiles\\a.rec"), ShowPc(1); }, [] { transfer::DoCopy(0, true); }},
      {"copy from the PC", 1,
       [&] { ib::WriteWholeFile(Pc() + "x.dat", a), ShowPc(0), ShowRecorder(model, 1, 1), host.Check(0, Pc() + "x.dat"); },
       [] { transfer::DoCopy(0, false); }},
      {"move inside the disk", 0,
       [&] { ShowSameRecorder(model, 0, "\\DataFiles\\", "\\DataFiles\\Films\\"), host.Check(0, "\\DataFiles\\a.rec"); },
       [] { transfer::DoCopy(0, true); }},
      {"stream scan", 0, [&] { left("\\DataFiles\\t.rec"); }, [] { transfer::DoScan(0); }},
      {"rename a top folder", 0, [&] { ShowRecorder(model, 0, 0, "\\"); },
       [&] { transfer::FSRenameFile(0, IndexOf(0, "\\DataFiles"), "Data2"); }},
      {"create a folder", 0, [&] { ShowRecorder(model, 0, 0); },
       [] { transfer::FSCreateDir(0, "\\DataFiles\\New"), core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0); }},
  };
  for (const auto& [name, drive, show, job] : ops)
    for (const bool write : {true, false})
      for (uint64_t n = 0, calls = 1, seen = 0; n <= calls; ++n, seen = 0) {
        SCOPED_TRACE(std::string(name) + (write ? ", write " : ", read ") + std::to_string(n));
        script.Reset();
        std::filesystem::remove(Pc() + "a.rec");
        show();
        for (int k = 0; k < 8; ++k) script.ExpectMsgBox("", ui::Answer::OK);
        std::optional<faults::SectorFaults> f(std::in_place);
        std::fill(std::begin(core::ReadIncomplete), std::end(core::ReadIncomplete), false);
        uint32_t badFirst = 0, badEnd = 0;   // a spot that fails a read stays bad
        auto nth = [&, n](uint32_t first, int32_t count) {
          if (count > 1 && ++seen == n) return badFirst = first, badEnd = first + uint32_t(count), true;
          return !write && first != 0 && first < badEnd && badFirst < first + uint32_t(count);
        };
        write ? f->FailWritesWhere(nth) : f->FailReadsWhere(nth);   // one-sector looks pass
        job();
        transfer::UnloadProgressWindow();
        const bool failed = f->FailedWrites() + f->FailedReads() > 0;
        calls = n == 0 ? seen : calls;   // the job's transfers when none fails
        f.reset();
        const std::vector<std::string> told = script.MsgBoxTexts();
        EXPECT_EQ(failed, told.size() > (std::string(name) == "erase")) << (told.empty() ? "" : told.back());
        std::string all;
        for (const std::string& t : told) all += t;
        ib::DecodedEntry e;   // a source moved to the PC goes only with a whole copy
        EXPECT_TRUE(std::string(name) != "move to the PC" ||
                    FindEntry(Image(0), model.FolderIndex("\\DataFiles"), "a.rec", e) || ib::ReadWholeFile(Pc() + "a.rec") == a);
        core::DiskId[0] = -drive;
        core::DiskId[1] = core::kNoDisk;
        ASSERT_TRUE(core::InitTopf(0, "PhysicalDrive" + std::to_string(drive), false) && core::LoadTopf(0, true));
        EXPECT_TRUE(core::FSCK(0) || all.find("file system check") != std::string::npos) << all;
      }
}

// ------------------------------------------------------- a cut at any write

class CutTest : public JobSafetyTest {
 protected:
  // \DataFiles: a.rec, b.dat; \DataFiles\Films: c.rec and an older b.dat;
  // \DataFiles\Films\Old: d.rec.
  ib::DiskImage Model() {
    ib::DiskImage model(Spec(kSpc, 120));
    model.AddFile(File("\\DataFiles\\a.rec", kCluster * 3 + 100, 1));
    model.AddFile(File("\\DataFiles\\b.dat", kCluster * 2, 2));
    model.AddFolder("\\DataFiles\\Films");
    model.AddFile(File("\\DataFiles\\Films\\c.rec", 1, 3));
    model.AddFile(File("\\DataFiles\\Films\\b.dat", kCluster + 9, 5));
    model.AddFolder("\\DataFiles\\Films\\Old");
    model.AddFile(File("\\DataFiles\\Films\\Old\\d.rec", kCluster + 7, 4));
    return model;
  }
  // What a recording is allowed to look like after a cut: one of these
  // (folder, name, bytes) must be there, exactly.
  struct Place {
    std::string Folder, Name;
    uint32_t Seed;
    uint64_t Size;
  };

  // Replays a cut after every write of `f` on a fresh copy of `model` and
  // checks each recording (one of its places holds its bytes), and that the
  // check fails exactly where two entries own one cluster.
  void EveryCut(const ib::DiskImage& model, const faults::SectorFaults& f,
                const std::vector<std::vector<Place>>& recordings, bool someCutShares) {
    const std::vector<faults::SectorWrite> writes = f.Writes();   // the job's writes only
    std::vector<uint32_t> folders;
    for (const char* p : {"\\DataFiles", "\\DataFiles\\Films", "\\DataFiles\\Films\\Old"})
      folders.push_back(model.FolderIndex(p));
    const auto started = std::chrono::steady_clock::now();
    size_t shared = 0;
    ASSERT_GT(writes.size(), 2u);
    for (size_t n = 0; n <= writes.size(); ++n) {
      SCOPED_TRACE("cut after write " + std::to_string(n) + " of " + std::to_string(writes.size()));
      const std::string copy = DrivePath(5);
      model.Write(copy);
      faults::ApplyWrites(copy, writes, n);
      const ib::ImageFile image(copy);
      const std::vector<Found> files = Files(image, folders);
      for (const std::vector<Place>& places : recordings) {
        bool readable = false;
        for (const Place& p : places)
          for (const Found& found : files)
            readable = readable || (found.Folder == model.FolderIndex(p.Folder) &&
                                    found.Entry.Name == p.Name &&
                                    found.Bytes == PatternBytes(p.Seed, p.Size));
        EXPECT_TRUE(readable) << places[0].Folder << "\\" << places[0].Name;
      }
      const bool two = TwoOnOneCluster(image, files);
      shared += two;
      EXPECT_EQ(CheckPasses(copy), !two) << core::FsckResults[5].Text;
      // Bounded in time: every cut of a short job is checked well within it.
      ASSERT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(120));
    }
    // A relinking move has a cut between its two entry writes; an
    // overwriting copy never puts two entries on one chain.
    if (someCutShares) {
      EXPECT_GT(shared, 0u);
    } else {
      EXPECT_EQ(shared, 0u);
    }
  }
};

// A move inside one disk relinks a.rec into Films and relinks b.dat over
// Films' older b.dat. At every cut a.rec and b.dat are readable from an
// entry (old place or new), Films' b.dat holds the old or the moved bytes,
// and the check fails wherever two entries share a chain.
TEST_F(CutTest, RelinkingMoveLosesNothingAtAnyWrite) {
  const ib::DiskImage model = Model();
  ShowSameRecorder(model, 0, "\\DataFiles\\", "\\DataFiles\\Films\\");
  host.Check(0, "\\DataFiles\\a.rec");
  host.Check(0, "\\DataFiles\\b.dat");
  faults::SectorFaults f;
  script.ExpectMsgBox("Overwrite?", ui::Answer::Yes);
  transfer::DoCopy(0, true);
  EXPECT_TRUE(script.AllAnswered());
  ib::DecodedEntry moved;
  ASSERT_TRUE(FindEntry(Image(0), model.FolderIndex("\\DataFiles\\Films"), "a.rec", moved));

  const uint64_t a = kCluster * 3 + 100, b = kCluster * 2;
  EveryCut(model, f,
           {{{"\\DataFiles", "a.rec", 1, a}, {"\\DataFiles\\Films", "a.rec", 1, a}},
            {{"\\DataFiles", "b.dat", 2, b}, {"\\DataFiles\\Films", "b.dat", 2, b}},
            {{"\\DataFiles\\Films", "b.dat", 5, kCluster + 9}, {"\\DataFiles\\Films", "b.dat", 2, b}},
            {{"\\DataFiles\\Films", "c.rec", 3, 1}},
            {{"\\DataFiles\\Films\\Old", "d.rec", 4, kCluster + 7}}},
           /*someCutShares=*/true);
}

// A copy from the PC over Films' b.dat: at every cut Films lists b.dat with
// the old bytes or the new ones - never neither - and the rest is untouched.
TEST_F(CutTest, OverwritingCopyLosesNothingAtAnyWrite) {
  const ib::DiskImage model = Model();
  const std::string fresh = PatternBytes(9, kCluster * 2 + 77);
  ib::WriteWholeFile(Pc() + "b.dat", fresh);
  ShowPc(0);
  ShowRecorder(model, 1, 1, "\\DataFiles\\Films\\");
  host.Check(0, Pc() + "b.dat");
  faults::SectorFaults f;
  script.ExpectMsgBox("Overwrite?", ui::Answer::Yes);
  transfer::DoCopy(0, false);
  EXPECT_TRUE(script.AllAnswered());
  ib::DecodedEntry e;
  ASSERT_TRUE(FindEntry(Image(1), model.FolderIndex("\\DataFiles\\Films"), "b.dat", e));
  EXPECT_TRUE(SameBytes(ImageFileBytes(Image(1), e.StartCluster, fresh.size()), fresh));

  const uint64_t a = kCluster * 3 + 100, b = kCluster * 2;
  EveryCut(model, f,
           {{{"\\DataFiles", "a.rec", 1, a}},
            {{"\\DataFiles", "b.dat", 2, b}},
            {{"\\DataFiles\\Films", "b.dat", 5, kCluster + 9},
             {"\\DataFiles\\Films", "b.dat", 9, fresh.size()}},
            {{"\\DataFiles\\Films", "c.rec", 3, 1}},
            {{"\\DataFiles\\Films\\Old", "d.rec", 4, kCluster + 7}}},
           /*someCutShares=*/false);
}

}  // namespace
}  // namespace jobtest
