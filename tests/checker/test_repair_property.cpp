// The repair as a whole, started like the program starts (OpenTarget, the
// check driver): over a table of damage kinds, and over randomly damaged
// images from fixed seeds, a first run repairs; a second run from a fresh
// start then reports only "OK:", "Info:" (and, for what cannot be repaired,
// "Error:") lines and writes nothing; the main program's check passes
// unless such an "Error:" line says why; and every recording that the
// damage did not touch keeps its entry and its exact bytes.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include <sys/mount.h>

#include "checker/check_driver.h"
#include "checker/startup.h"
#include "core/disk_probe.h"
#include "tests/checker/step_fixture.h"
#include "tests/fuzz/fuzz_repair.h"
#include "tests/support/sector_faults.h"
#include "tests/support/skipped_rows.h"

namespace steptest {
namespace {

using Rng = std::mt19937;

uint32_t Pick(Rng& rng, uint32_t n) { return uint32_t(rng() % n); }

// A number from the environment, or `otherwise`: QUENBRIX_REPAIR_SEEDS (from
// QUENBRIX_REPAIR_FIRST_SEED) widens the random seeds,
// QUENBRIX_REPAIR_KIND_SEEDS the seeds of each damage kind,
// QUENBRIX_REPAIR_KINDS the most damage kinds on one image, and
// QUENBRIX_REPAIR_SPC picks another cluster size when the property is run by
// hand.
uint32_t FromEnv(const char* name, uint32_t otherwise) {
  const char* v = std::getenv(name);
  return v && *v ? uint32_t(std::strtoul(v, nullptr, 10)) : otherwise;
}

// Ends the test program when one damaged image keeps the repair busy for
// longer than any repair may take (a hang must not wait for CTest's limit).
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit) : thread_([this, limit] {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!done_.wait_for(lock, limit, [this] { return stop_; })) {
      std::fprintf(stderr, "the repair hangs on: %s\n", what_.c_str());
      std::abort();
    }
  }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    done_.notify_one();
    thread_.join();
  }
  void Doing(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    what_ = what;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool stop_ = false;
  std::string what_;
  std::thread thread_;
};

class RepairProperty : public StepTest {
 public:
  // The cluster size of the image (ClusterSizes sets another one).
  static inline uint32_t kSpc = FromEnv("QUENBRIX_REPAIR_SPC", steptest::kSpc);
  static inline uint64_t kClusterBytes = uint64_t(kSpc) * 512;
  // Five folders deep below \DataFiles\Films\Old (FAT indexes 34 to 38).
  static inline const std::string kDeep = "\\DataFiles\\Films\\Old\\A\\B\\C\\D\\E";
  using StepTest::EditSlot;
  using StepTest::HasLine;
  using StepTest::AllLines;
  virtual ib::ImageSpec Spec() const {
    ib::ImageSpec spec = SmallSpec(100);
    spec.SectorsPerCluster = kSpc;
    return spec;
  }
  void SetUp() override {
    StepTest::SetUp();
    model_ = std::make_unique<ib::DiskImage>(Spec());
    ib::DiskImage& m = *model_;
    m.AddFolder("\\DataFiles\\Films", 6);
    m.AddFolder("\\DataFiles\\Films\\Old", 7);
    m.AddFolder("\\DataFiles\\Series", 8);
    for (uint32_t k = 0; k < 5; ++k) m.AddFolder(kDeep.substr(0, kDeep.size() - 8 + 2 * k), 34 + k);
    AddRecording("\\DataFiles\\news.rec", {10, 11}, true);
    AddRecording("\\DataFiles\\sport.rec", {14, 12}, false);
    AddRecording("\\DataFiles\\Films\\film.rec", {20, 22, 21}, true);
    AddRecording("\\DataFiles\\Films\\Old\\old.rec", {25}, true);
    AddRecording("\\DataFiles\\Series\\ep1.rec", {27}, false);
    AddRecording("\\DataFiles\\Series\\ep2.rec", {28, 29}, true);
    AddRecording("\\__RECYCLE__\\gone.rec", {33}, false);
    AddRecording(kDeep + "\\deep.rec", {39}, true);
    ib::FileSpec tool;
    tool.Path = "\\ProgramFiles\\tool.tap";
    tool.Size = kClusterBytes / 3;
    tool.Data = ib::Content::Pattern(7);
    tool.Chain = {31};
    m.AddFile(tool);
    m.Write(Pristine());
    Open(m);
    // The system cluster and the folder clusters (FAT indexes 0 to 8), and
    // every file's clusters, as the builder wrote them (raw).
    for (uint64_t c : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 35, 36, 37, 38, 39})
      systemAndFolders_[c] = Img().ReadRaw(c * kClusterBytes, kClusterBytes);
    for (const std::string& path : Files())
      for (uint32_t c : E(path).Chain)
        clusters_[path].push_back(Img().ReadRaw((uint64_t(c) + 1) * kClusterBytes, kClusterBytes));
    std::filesystem::create_directory(Folder() + "/undo");
  }

  void AddRecording(const std::string& path, std::vector<uint32_t> chain, bool header) {
    ib::FileSpec f;
    f.Path = path;
    f.Size = chain.size() * kClusterBytes - 5000;
    f.Data = ib::Content::SampleTs();
    if (header) f.Header = ib::RecHeader{};
    f.Chain = std::move(chain);
    model_->AddFile(f);
  }

  std::string Pristine() const { return Folder() + "/pristine.img"; }
  ib::ImageFile& Img() { return Image(); }
  const ib::DiskImage& Model() const { return *model_; }

  // ------------------------------------------------------------ damage

  // What one damage kind may legitimately change: entries (a folder stands
  // for everything below it) whose recordings need not come through as
  // they were.
  std::set<std::string> victims_;
  void Victim(const std::string& path) { victims_.insert(path); }
  std::set<std::string> whole_;   // victims that come back whole all the same
  // A recording is back whole when its clusters, in order, are the chains
  // of found files (under its name, or cut short and the rest as lost-chain
  // files), each cluster with the recording's bytes.
  ::testing::AssertionResult BackWhole(const std::string& path) {
    std::map<int32_t, const checker::FoundEntry*> byStart;
    for (int32_t k = 0; k < checker::FoundEntryCount; ++k)
      if (!checker::FoundEntries[size_t(k)].IsDir) byStart[checker::FoundEntries[size_t(k)].StartCluster] = &checker::FoundEntries[size_t(k)];
    const auto& chain = E(path).Chain;
    for (size_t k = 0; k < chain.size();) {
      const auto it = byStart.find(int32_t(chain[k]));
      if (it == byStart.end()) return ::testing::AssertionFailure() << path << ": cluster " << chain[k] << " is in no file";
      for (int32_t x = int32_t(chain[k]), n = 0; n < std::max(it->second->ClusterCount, 1) && k < chain.size(); ++n, ++k) {
        if (x != int32_t(chain[k]) || Img().ReadRaw((uint64_t(x) + 1) * kClusterBytes, kClusterBytes) != clusters_.at(path)[k])
          return ::testing::AssertionFailure() << path << ": cluster " << k << " is not in " << it->second->Name;
        x = checker::FAT1[size_t(x)].Value;
      }
    }
    return ::testing::AssertionSuccess();
  }
  bool IsVictim(const std::string& path) const {
    for (const std::string& v : victims_)
      if (path == v || path.rfind(v + "\\", 0) == 0) return true;
    return false;
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const std::string& p : Model().Paths())
      if (!Model().Entry(p).IsDir) files.push_back(p);
    return files;
  }
  std::vector<std::string> Recordings() const {
    std::vector<std::string> recs;
    for (const std::string& p : Files())
      if (p.size() > 4 && p.compare(p.size() - 4, 4, ".rec") == 0) recs.push_back(p);
    return recs;
  }
  std::vector<std::string> OwnFolders() const {   // folders beyond the standard ones
    return {"\\DataFiles\\Films", "\\DataFiles\\Films\\Old", "\\DataFiles\\Series", kDeep.substr(0, kDeep.size() - 4),
            kDeep};
  }
  const ib::ModelEntry& E(const std::string& path) const { return Model().Entry(path); }
  uint32_t Holder(const std::string& path) const { return Model().FolderIndex(E(path).Parent); }
  template <class F>
  void EditEntry(const std::string& path, F edit) {
    EditSlot(Holder(path), E(path).Slot, edit);
  }
  // Erases the entry of \DataFiles\Series and damages its ".".
  template <class F>
  void LoseSeries(F damageDot) {
    EditEntry("\\DataFiles\\Series", [](std::vector<uint8_t>& s) { std::fill(s.begin(), s.end(), 0xFF); });
    EditSlot(8, 0, damageDot);
  }
  // A FAT index no one uses in the model (nor was given out already).
  uint32_t FreeIndex(Rng& rng) {
    for (;;) {
      const uint32_t i = 40 + Pick(rng, 55);
      if (!Model().IndexUsed(i) && taken_.insert(i).second) return i;
    }
  }
  std::set<uint32_t> taken_;
  size_t firstWrites_ = 0;   // what the last RepairAndVerify's first run wrote
  int wholeTable_ = 0;   // the table "a whole table" wiped on this image
  void SetFat(uint32_t i, uint32_t v, int tables = 3) { Img().SetFatEntry(i, v, tables & 1, tables & 2); }
  std::vector<uint8_t> Entry(uint8_t attribute, uint32_t start, uint32_t count, const std::string& name) {
    std::vector<uint8_t> e(128, 0);
    e[0] = attribute;
    ib::PutBE16(&e[1], ib::MjdOf(2008, 3, 4));
    ib::PutBE32(&e[8], start);
    ib::PutBE32(&e[12], count);
    std::memcpy(&e[20], name.data(), name.size());
    return e;
  }
  int FreeSlot(uint32_t folder) {
    for (int s = 4;; ++s)
      if (Img().ReadSlot(folder, s)[0] == 0xFF) return s;
  }

  struct Kind {
    const char* Name;
    std::function<void(RepairProperty&, Rng&)> Apply;
  };
  static const std::vector<Kind>& Kinds();

  // Damage that used to cost recordings or to repeat on every run.
  struct Case {
    const char* Name;
    std::function<void(RepairProperty&)> Damage;
    std::vector<std::string> FirstRun;    // lines the first run must hold
    std::vector<std::string> SecondRun;   // lines the second run must hold
    std::vector<std::string> Victims = {};
    bool WritesNothing = false;
    bool VictimsBack = false;   // every recording below a victim comes back whole (BackWhole)
  };
  static const std::vector<Case>& Cases();

  // ------------------------------------------------------------ one image

  // Restores the image as the model wrote it where the damage or a repair
  // changed it: the system cluster, every folder cluster, and whatever the
  // last repair wrote.
  void Restore(const std::vector<faults::SectorWrite>& written) {
    std::set<uint64_t> clusters;
    for (const auto& w : written) {
      const uint64_t from = uint64_t(w.FirstSector) * 512, to = from + w.Bytes.size();
      for (uint64_t c = from / kClusterBytes; c * kClusterBytes < to; ++c)
        if (!systemAndFolders_.count(c)) clusters.insert(c);
    }
    for (const auto& [c, bytes] : systemAndFolders_) Img().WriteRaw(c * kClusterBytes, bytes);
    ib::ImageFile pristine(Pristine(), kSpc);
    if (Img().Size() < pristine.Size())
      std::filesystem::copy_file(Pristine(), DrivePath(), std::filesystem::copy_options::overwrite_existing);
    for (uint64_t c : clusters)
      if ((c + 1) * kClusterBytes <= Img().Size())
        Img().WriteRaw(c * kClusterBytes, pristine.ReadRaw(c * kClusterBytes, kClusterBytes));
    wholeTable_ = 0;
    std::filesystem::remove_all(Folder() + "/undo");
    std::filesystem::create_directory(Folder() + "/undo");
  }

  // Starts the program on drive 0 and runs the checks once; a disk whose
  // superblocks lost the magic number and identification is no recorder
  // disk, and the question before writing to it gets `notRecorder`.
  void StartAndCheck(ui::Answer notRecorder = ui::Answer::No) {
    if (!core::ShowsRecorderSuperblock(Img().ReadView(0, 1024).data()))
      script.ExpectMsgBox("does not look like a recorder disk", notRecorder);
    checker::ResetDiskState();
    checker::ResetCheckerState();
    checker::ResetFatTables();
    checker::FatTablesLoaded = false;
    checker::OpenTarget(checker::StartTarget{checker::StartTarget::Kind::Drive, "PhysicalDrive0"});
    checker::SessionPrefix = "undo/run - ";
    checker::RunChecks();
  }

  // The property for the damage already on the image; `what` names it.
  // `written`: writes already on the image (a cut run's), restored with the
  // run's own at the end.
  void RepairAndVerify(const std::string& what, const std::function<void()>& afterFirst = {},
                       std::vector<faults::SectorWrite> written = {}) {
    SCOPED_TRACE(what);
    if (!core::ShowsRecorderSuperblock(Img().ReadView(0, 1024).data())) {   // no recorder disk: left alone
      faults::SectorFaults run;
      StartAndCheck();
      EXPECT_TRUE(run.Writes().empty()) << AllLines();
      return Restore(written);
    }
    bool acceptedBefore;   // by the main program's check (its messages answered)
    {
      fuzzimage::QuietUi quiet;
      ui::CurrentUiScope use(quiet);
      // What it read at another cluster size than the disk's is not the
      // disk's tree: it says nothing of what the disk holds.
      acceptedBefore = MainFsck() && uint64_t(core::Disk[0].SectorsPerCluster) * 512 == kClusterBytes;
    }
    std::map<int32_t, std::vector<uint8_t>> folders;   // the folder clusters before the repair (view)
    for (const auto& [c, bytes] : systemAndFolders_)
      if (c > 0 && (c + 1) * kClusterBytes <= Img().Size()) folders[int32_t(c) - 1] = Img().ReadClusterView(uint32_t(c));
    {
      faults::SectorFaults first;
      StartAndCheck();
      firstWrites_ = first.Writes().size();
      written.insert(written.end(), first.Writes().begin(), first.Writes().end());
    }
    const std::string firstRun = AllLines();
    if (afterFirst) afterFirst();
    faults::SectorFaults second;
    StartAndCheck();
    const std::string secondRun = AllLines();
    bool error = false;
    for (const std::string& line : Lines()) {
      const std::string kind = line.substr(0, line.find('\t'));
      EXPECT_TRUE(kind == "OK:" || kind == "Info:" || kind == "Error:" || kind.empty())
          << "second run: " << line << "\nfirst run:\n" << firstRun << "second run:\n" << secondRun;
      error = error || kind == "Error:";
      // The one thing a repair leaves: clusters two entries own (or only
      // what the damage itself leaves: a row's own lines, after a cut those
      // a run without the cut leaves too).
      if (kind == "Error:" && allowedErrors_) {
        EXPECT_TRUE(allowedErrors_->count(line)) << line << "\nfirst run:\n" << firstRun;
      } else if (kind == "Error:") {
        EXPECT_NE(line.find("' share the cluster"), std::string::npos) << line << "\n" << firstRun;
      }
    }
    EXPECT_EQ(second.Writes().size(), 0u) << "second run:\n" << secondRun;

    // The recordings the damage left alone, with their entries and bytes.
    std::map<std::string, const checker::FoundEntry*> found;
    for (int32_t k = 0; k < checker::FoundEntryCount; ++k)
      found[checker::FoundEntries[size_t(k)].Name] = &checker::FoundEntries[size_t(k)];
    for (int32_t k = 0; k < checker::FoundEntryCount; ++k) {   // every entry written keeps its check byte
      const checker::FoundEntry& f = checker::FoundEntries[size_t(k)];
      if (!folders.count(f.DirCluster)) continue;
      const auto now = Img().ReadClusterView(uint32_t(f.DirCluster) + 1);
      const size_t at = size_t(f.Slot) * 128;
      if (std::equal(now.begin() + long(at), now.begin() + long(at) + 128, folders[f.DirCluster].begin() + long(at))) continue;
      EXPECT_EQ(now[at + 125], f.IsDir ? 0 : uint8_t(now[at + 126] + now[at + 127] + 1)) << f.Name << "\n" << firstRun;
    }
    for (const std::string& path : Files()) {
      if (IsVictim(path) && whole_.count(path)) EXPECT_TRUE(BackWhole(path)) << firstRun;
      if (IsVictim(path)) continue;
      auto it = found.find(path);
      if (it == found.end()) {
        // A folder two entries share is walked through the first one found.
        const std::string name = path.substr(path.rfind('\\'));
        auto sameEntry = [&](const auto& f) {
          return f.first.size() > name.size() && f.first.compare(f.first.size() - name.size(), name.size(), name) == 0 &&
                 f.second->StartCluster == int32_t(E(path).Chain[0]);
        };
        it = error ? std::find_if(found.begin(), found.end(), sameEntry) : found.end();
      }
      ASSERT_NE(it, found.end()) << path << " is gone\nfirst run:\n" << firstRun;
      const checker::FoundEntry& r = *it->second;
      EXPECT_EQ(r.Size, double(E(path).Size)) << path;
      const auto& chain = E(path).Chain;
      int32_t x = r.StartCluster;
      for (size_t k = 0; k < chain.size(); ++k) {
        ASSERT_EQ(x, int32_t(chain[k])) << path << " cluster " << k << "\nfirst run:\n" << firstRun;
        ASSERT_TRUE(Img().ReadRaw((uint64_t(x) + 1) * kClusterBytes, kClusterBytes) == clusters_.at(path)[k])
            << path << " cluster " << k;
        x = checker::FAT1[size_t(x)].Value;
      }
      EXPECT_EQ(x, checker::kFatEnd) << path;
    }
    // Two entries' chains share clusters only where both counts claim one
    // of them (nothing can choose there).
    std::map<std::pair<int32_t, int32_t>, bool> pairs;   // -> both counts claim a shared cluster
    std::map<int32_t, std::vector<std::pair<int32_t, bool>>> held;   // cluster -> (entry, within its count)
    for (int32_t k = 0; k < checker::FoundEntryCount; ++k) {
      const checker::FoundEntry& f = checker::FoundEntries[size_t(k)];
      std::set<int32_t> seen;
      for (int32_t x = f.InvalidPointer ? 0 : f.StartCluster, i = 0; x > 0 && x <= checker::FatLastIndex() && seen.insert(x).second; ++i) {
        const bool own = f.IsDir ? i == 0 : i < std::max(f.ClusterCount, 1);
        for (const auto& [j, theirs] : held[x]) pairs[{j, k}] |= own && theirs;
        held[x].push_back({k, own});
        x = f.IsDir ? 0 : checker::FAT1[size_t(x)].Value;
      }
    }
    for (const auto& [p, both] : pairs)
      EXPECT_TRUE(both) << checker::FoundEntries[size_t(p.first)].Name << " and " << checker::FoundEntries[size_t(p.second)].Name;
    std::string findings;
    const bool mainOk = MainFsck(&findings);
    EXPECT_TRUE(mainOk || error) << findings << "\nsecond run:\n" << secondRun;
    EXPECT_TRUE(mainOk || !acceptedBefore) << "refused after the repair only: " << findings << "\n" << firstRun;
    Restore(written);
  }

  // One damage kind from a seed.
  void Damage(const Kind& kind, uint32_t seed) {
    Rng rng(seed);
    victims_.clear();
    taken_.clear();
    kind.Apply(*this, rng);
  }
  // Up to QUENBRIX_REPAIR_KINDS (4) damage kinds from one seed; their names.
  std::string DamageAtRandom(uint32_t seed) {
    const uint32_t most = std::max(1u, FromEnv("QUENBRIX_REPAIR_KINDS", 4));
    Rng rng(seed);
    victims_.clear();
    taken_.clear();
    std::string what = "seed " + std::to_string(seed) + ":";
    for (uint32_t k = 0, n = 1 + Pick(rng, most); k < n; ++k) {
      const Kind& kind = Kinds()[Pick(rng, uint32_t(Kinds().size()))];
      what += std::string(" ") + kind.Name + ";";
      kind.Apply(*this, rng);
    }
    return what;
  }

  // Damages the image, runs the repair once and replays that run cut after
  // each of its writes but the last: the property holds for what every cut
  // leaves, and an "Error:" line only where the run without the cut leaves
  // it too.
  void CutAfterEveryWrite(const std::string& what, const std::function<void()>& damage) {
    SCOPED_TRACE(what);
    damage();
    std::vector<faults::SectorWrite> writes;
    {
      faults::SectorFaults whole;
      StartAndCheck();
      writes = whole.Writes();
    }
    StartAndCheck();
    std::set<std::string> errors;
    for (const std::string& line : Lines())
      if (line.rfind("Error:", 0) == 0) errors.insert(line);
    Restore(writes);
    allowedErrors_ = &errors;
    for (size_t n = 1; n < writes.size() && !HasFailure(); ++n) {
      damage();
      faults::ApplyWrites(DrivePath(), writes, n);
      // An entry the repair recovered is in the main program's sight at once.
      const auto dataFiles = Img().ReadClusterView(3);
      const int64_t end = int64_t(kClusterBytes) - int32_t(ib::GetBE32(&dataFiles[16]));
      for (size_t o = 256; o + 128 <= dataFiles.size(); o += 128)
        if (dataFiles[o] != 0xFF && std::memcmp(&dataFiles[o + 20], "Lost", 4) == 0)
          EXPECT_LT(int64_t(o), end) << "cut after write " << n << ": \\DataFiles\\ slot " << o / 128;
      RepairAndVerify("cut after write " + std::to_string(n) + " of " + std::to_string(writes.size()), {},
                      {writes.begin(), writes.begin() + long(n)});
    }
    allowedErrors_ = nullptr;
  }
  const std::set<std::string>* allowedErrors_ = nullptr;

  std::unique_ptr<ib::DiskImage> model_;
  std::map<std::string, std::vector<std::vector<uint8_t>>> clusters_;
  std::map<uint64_t, std::vector<uint8_t>> systemAndFolders_;
};

// The damage kinds. Each changes the image as written from the model and
// names its victims.
const std::vector<RepairProperty::Kind>& RepairProperty::Kinds() {
  using T = RepairProperty;
  static const std::vector<Kind> kinds = {
      {"superblock cluster size",
       [](T& t, Rng& rng) {
         const uint16_t values[] = {4512, 3760, 2444, 0xFFFF, 0, 7000};
         t.Img().SetSuperU16(ib::kSbSectorsPerCluster, values[Pick(rng, 6)], true, false);
       }},
      {"backup cluster size",
       [](T& t, Rng& rng) {
         const uint16_t values[] = {4512, 2444, 0xFFFF, 0};
         t.Img().SetSuperU16(ib::kSbSectorsPerCluster, values[Pick(rng, 4)], false, true);
       }},
      {"superblock fields",
       [](T& t, Rng& rng) {
         const bool main = Pick(rng, 2), backup = !main || Pick(rng, 2);
         switch (Pick(rng, 5)) {
           case 0: t.Img().SetSuperU32(ib::kSbMagic, 0x12345678, main, backup); break;
           case 1: t.Img().SetSuperU16(ib::kSbVersionMajor, 0x0300, main, backup); break;
           case 2: t.Img().SetSuperU32(ib::kSbIdString, 0x544F5046u ^ 0x20, main, backup); break;
           case 3: t.Img().SetSuperU32(ib::kSbUsedClusters, rng() % 5000, main, backup); break;
           default: t.Img().SetSuperU32(ib::kSbRootFreeBytes, rng(), main, backup); break;
         }
       }},
      {"root copies",
       [](T& t, Rng& rng) {
         const uint32_t which = 1 + Pick(rng, 3);   // 1: the copy in cluster 0, 2: the root, 3: both
         const uint32_t offset = 128 * Pick(rng, 4);
         const uint8_t junk = uint8_t(0x17 + Pick(rng, 9));
         if (which & 1) t.Img().WriteView(ib::kRootDirectoryCopy + offset, {junk});
         if (which & 2) t.Img().WriteView(kClusterBytes + offset, {junk});
       }},
      {"standard slot start",
       [](T& t, Rng& rng) {
         const uint32_t slot = 1 + Pick(rng, 3);
         const uint32_t bad[] = {0x30000, uint32_t(t.Model().LastCluster()) + 5, 50, 0};
         const uint32_t start = bad[Pick(rng, 4)];
         for (uint64_t base : {uint64_t(ib::kRootDirectoryCopy), kClusterBytes})
           t.Img().WriteView(base + 128 * slot + 8, {uint8_t(start >> 24), uint8_t(start >> 16), uint8_t(start >> 8),
                                                     uint8_t(start)});
       }},
      {"root slot",
       [](T& t, Rng& rng) {
         const uint8_t attributes[] = {0xF3, 0xF1, 0x00, 0x12};
         t.Img().WriteView(kClusterBytes + 128 * uint64_t(t.FreeSlot(0)), {attributes[Pick(rng, 4)]});
       }},
      {"dot entries",
       [](T& t, Rng& rng) {
         const uint32_t folders[] = {1, 2, 3, 6, 7, 8, 35, 38};
         const uint32_t folder = folders[Pick(rng, 8)];
         const uint32_t which = 1 + Pick(rng, 3);
         const uint8_t junk = uint8_t(Pick(rng, 2) ? 0x00 : 0x5A);
         if (which & 1) t.EditSlot(folder, 0, [&](std::vector<uint8_t>& s) { s[0] = junk; });
         if (which & 2) t.EditSlot(folder, 1, [&](std::vector<uint8_t>& s) { s[0] = junk; });
       }},
      {"folder pointer",
       [](T& t, Rng& rng) {
         const auto folders = t.OwnFolders();
         const std::string folder = folders[Pick(rng, uint32_t(folders.size()))];
         const auto recs = t.Recordings();
         const auto& rec = t.E(recs[Pick(rng, uint32_t(recs.size()))]).Chain;
         const uint32_t targets[] = {uint32_t(t.Model().LastCluster()) + 3, 0x20000 + Pick(rng, 100), rec.front(),
                                     rec.back(), t.FreeIndex(rng), 31};
         const uint32_t start = targets[Pick(rng, 6)];
         t.EditEntry(folder, [&](std::vector<uint8_t>& s) { ib::PutBE32(&s[8], start); });
         t.Victim(folder);
       }},
      {"file pointer",
       [](T& t, Rng& rng) {
         const auto files = t.Files();
         const std::string file = files[Pick(rng, uint32_t(files.size()))];
         const uint32_t targets[] = {uint32_t(t.Model().LastCluster()) + 2, t.FreeIndex(rng), 0, 21, 7, 37, 2};
         const uint32_t start = targets[Pick(rng, 7)];
         if (start == 21 && file == "\\DataFiles\\Films\\film.rec") return;
         t.EditEntry(file, [&](std::vector<uint8_t>& s) { ib::PutBE32(&s[8], start); });
         t.Victim(file);
       }},
      {"FAT disagreement",
       [](T& t, Rng& rng) {
         const auto files = t.Files();
         const std::string file = files[Pick(rng, uint32_t(files.size()))];
         const auto& chain = t.E(file).Chain;
         const int table = 1 + int(Pick(rng, 2));
         const uint32_t at = chain[Pick(rng, uint32_t(chain.size()))];
         switch (Pick(rng, 4)) {
           case 0: t.SetFat(at, 0xFFFFFE, table); break;                        // ends early
           case 1: t.SetFat(chain.back(), t.FreeIndex(rng), table); break;     // longer, into a free cluster
           case 2: t.SetFat(at, 0xFFFFFF, table); break;                        // freed
           default: t.SetFat(at, Pick(rng, 2) ? 3 : uint32_t(t.Model().LastCluster()) + 7, table); break;
         }
         t.Victim(file);
       }},
      {"lost chain",
       [](T& t, Rng& rng) {
         const uint32_t n = 1 + Pick(rng, 3);
         std::vector<uint32_t> chain;
         for (uint32_t k = 0; k < n; ++k) chain.push_back(t.FreeIndex(rng));
         const int table = 1 + int(Pick(rng, 3));
         for (size_t k = 0; k < chain.size(); ++k)
           t.SetFat(chain[k], k + 1 < chain.size() ? chain[k + 1] : 0xFFFFFE, table);
       }},
      {"crosslink from a lost chain",
       [](T& t, Rng& rng) {
         const auto& film = t.E("\\DataFiles\\Films\\film.rec").Chain;
         const uint32_t a = t.FreeIndex(rng), b = t.FreeIndex(rng);
         t.SetFat(a, b);
         t.SetFat(b, film[1 + Pick(rng, 2)], 1 + int(Pick(rng, 3)));
       }},
      {"a chain running on into another entry's clusters",
       [](T& t, Rng& rng) {
         // ep2.rec's last link into film.rec (its start, middle or end) or
         // a folder's cluster, in one or both tables: ended at its count.
         const auto& film = t.E("\\DataFiles\\Films\\film.rec").Chain;
         const uint32_t into[] = {film[0], film[1], film[2], 6, 38};
         t.SetFat(t.E("\\DataFiles\\Series\\ep2.rec").Chain.back(), into[Pick(rng, 5)], 1 + int(Pick(rng, 3)));
         t.Victim("\\DataFiles\\Series\\ep2.rec");
       }},
      {"root FAT entry into a file",
       [](T& t, Rng& rng) { t.SetFat(0, t.E("\\DataFiles\\news.rec").Chain[Pick(rng, 2)], 1 + int(Pick(rng, 3))); }},
      {"circular chain",
       [](T& t, Rng& rng) {
         const std::string file = Pick(rng, 2) ? "\\DataFiles\\Films\\film.rec" : "\\DataFiles\\sport.rec";
         const auto& chain = t.E(file).Chain;
         t.SetFat(chain.back(), chain.front(), 1 + int(Pick(rng, 3)));
         t.Victim(file);
       }},
      {"lost directory",
       [](T& t, Rng& rng) {
         const auto folders = t.OwnFolders();
         const std::string folder = folders[Pick(rng, uint32_t(folders.size()))];
         t.EditEntry(folder, [](std::vector<uint8_t>& s) { std::fill(s.begin(), s.end(), 0xFF); });
         t.Victim(folder);
       }},
      {"directory loop",
       [](T& t, Rng& rng) {
         const uint32_t ancestors[] = {0, 2, 6};
         const uint32_t into = Pick(rng, 2) ? 7 : 6;
         t.PlantEntry(into, t.FreeSlot(into), t.Entry(0xF2, ancestors[Pick(rng, into == 7 ? 3 : 2)], 1, "Back"));
       }},
      {"two folders sharing a directory cluster",
       [](T& t, Rng& rng) {
         const uint32_t into = Pick(rng, 2) ? 8 : 3;   // \DataFiles\Series or \ProgramFiles
         t.PlantEntry(into, t.FreeSlot(into), t.Entry(0xF2, Pick(rng, 2) ? 6 : 7, 1, "Twin"));
       }},
      {"folder chain",
       [](T& t, Rng& rng) {
         const uint32_t folders[] = {2, 6, 7, 8, 36};
         const uint32_t folder = folders[Pick(rng, 5)];
         const uint32_t how = Pick(rng, 3);
         if (how == 0) {
           const uint32_t more = t.FreeIndex(rng);   // a second cluster in both tables
           t.SetFat(folder, more);
           t.SetFat(more, 0xFFFFFE);
         } else if (how == 1) {   // FAT2's chain runs into a recording's
           t.SetFat(folder, t.E("\\DataFiles\\news.rec").Chain[0], 2);
         } else {   // one or both tables run into another folder or a recording
           const uint32_t into[] = {t.E("\\DataFiles\\Films\\film.rec").Chain[1], 39, 37, folder == 8 ? 6u : 8u};
           t.SetFat(folder, into[Pick(rng, 4)], 1 + int(Pick(rng, 3)));
         }
       }},
      {"size fields",
       [](T& t, Rng& rng) {
         const auto files = t.Files();
         switch (Pick(rng, 4)) {
           case 0: {
             const std::string file = files[Pick(rng, uint32_t(files.size()))];
             t.EditEntry(file, [&](std::vector<uint8_t>& s) { ib::PutBE32(&s[12], 1 + Pick(rng, 5)); });
             t.Victim(file);
             break;
           }
           case 1:
             t.EditSlot(6 + Pick(rng, 3), 0, [&](std::vector<uint8_t>& s) { ib::PutBE32(&s[16], rng() % 5000); });
             break;
           case 2: t.EditSlot(6 + Pick(rng, 3), 0, [&](std::vector<uint8_t>& s) { ib::PutBE32(&s[12], 9); }); break;
           default:
             t.EditEntry("\\DataFiles\\Films", [&](std::vector<uint8_t>& s) { ib::PutBE32(&s[12], rng() % 50); });
             break;
         }
       }},
      {"dates",
       [](T& t, Rng& rng) {
         const auto files = t.Files();
         t.EditEntry(files[Pick(rng, uint32_t(files.size()))],
                     [&](std::vector<uint8_t>& s) { ib::PutBE16(&s[1], ib::MjdOf(Pick(rng, 2) ? 2001 : 2030, 1, 1)); });
       }},
      {"bytes in a directory",
       [](T& t, Rng& rng) {
         const uint32_t folders[] = {0, 1, 2, 3, 6, 7, 8, 34, 37};
         const uint32_t folder = folders[Pick(rng, 9)];
         auto view = t.Img().ReadClusterView(folder + 1);
         for (int k = 0, n = 1 + int(Pick(rng, 6)); k < n; ++k) {
           const uint32_t at = Pick(rng, 2048);
           view[at] = uint8_t(rng());
           const int slot = int(at / 128);
           for (const std::string& p : t.Model().Paths())
             if (t.Holder(p) == folder && t.E(p).Slot == slot) t.Victim(p);
         }
         t.Img().WriteClusterView(folder + 1, view);
       }},
      {"FAT entries",
       [](T& t, Rng& rng) {
         for (int k = 0, n = 1 + int(Pick(rng, 4)); k < n; ++k) {
           const uint32_t i = Pick(rng, 40);
           const uint32_t pick = Pick(rng, 4);
           const uint32_t v = pick == 0 ? Pick(rng, 100) : pick == 1 ? 0xFFFFFE : pick == 2 ? rng() & 0xFFFFFF : 0xFFFFFF;
           t.SetFat(i, v, 1 + int(Pick(rng, 3)));
           for (const std::string& p : t.Files())
             for (uint32_t c : t.E(p).Chain)
               if (c == i) t.Victim(p);
         }
       }},
      {"entry size and name fields",
       [](T& t, Rng& rng) {
         const auto files = t.Files();
         const std::string file = files[Pick(rng, uint32_t(files.size()))];
         const uint32_t what = Pick(rng, 5);
         t.EditEntry(file, [&](std::vector<uint8_t>& s) {
           switch (what) {
             case 0: ib::PutBE32(&s[16], Pick(rng, 2) ? rng() : Pick(rng, 2) ? 0x7FFFFFFF : uint32_t(kClusterBytes + Pick(rng, 9000))); break;
             case 1: ib::PutBE16(&s[126], Pick(rng, 2) ? uint16_t(rng()) : Pick(rng, 2) ? 0xFFFF : 513); break;
             case 2: std::fill(s.begin() + 20, s.begin() + 124, uint8_t('A' + Pick(rng, 26))); break;   // no end
             case 3: s[20] = Pick(rng, 2) ? 0 : uint8_t(0x80 + Pick(rng, 0x7F)); break;
             default: s[20 + Pick(rng, 4)] = uint8_t("\\/*?"[Pick(rng, 4)]); break;
           }
         });
         t.Victim(file);
       }},
      {"attributes",
       [](T& t, Rng& rng) {
         const auto files = t.Files();
         const auto folders = t.OwnFolders();
         const uint8_t attributes[] = {0xD0, 0xD1, 0xF2, 0xF3, 0xF0, 0xF1};
         const uint8_t a = attributes[Pick(rng, 6)];
         const std::string path = Pick(rng, 2) ? files[Pick(rng, uint32_t(files.size()))]
                                               : folders[Pick(rng, uint32_t(folders.size()))];
         t.EditEntry(path, [&](std::vector<uint8_t>& s) { s[0] = a; });
         t.Victim(path);
       }},
      {"dot pointers",
       [](T& t, Rng& rng) {
         const uint32_t folders[] = {1, 2, 3, 6, 7, 8, 36};
         const uint32_t folder = folders[Pick(rng, 7)];
         const uint32_t targets[] = {0, 2, 6, 10, t.FreeIndex(rng), uint32_t(t.Model().LastCluster()) + 4, 0x20010};
         const uint32_t target = targets[Pick(rng, 7)];
         const int slot = int(Pick(rng, 2));
         t.EditSlot(folder, slot, [&](std::vector<uint8_t>& s) {
           if (Pick(rng, 3)) ib::PutBE32(&s[8], target);
           else ib::PutBE32(&s[12 + 4 * Pick(rng, 2)], rng() % 100000);
         });
       }},
      {"system cluster areas",
       [](T& t, Rng& rng) {
         const uint64_t fatBytes = ib::FatCrcLength(uint32_t(t.Model().LastCluster()) + 1);
         const uint64_t at[] = {1536 + Pick(rng, 0x1FFFF - 1536), 0x20000 + fatBytes + Pick(rng, 1000),
                                0x80000 + fatBytes + Pick(rng, 1000), kClusterBytes - 1 - Pick(rng, 8),
                                ib::kSbFatCrc + 4 * Pick(rng, 2), 512 + ib::kSbFatCrc, 20 + Pick(rng, 480)};
         t.Img().WriteView(at[Pick(rng, 7)] & ~uint64_t(3), {uint8_t(rng()), uint8_t(rng()), 0x5A, 1});
       }},
      {"cycles inside a chain",
       [](T& t, Rng& rng) {
         const std::string file = Pick(rng, 2) ? "\\DataFiles\\Films\\film.rec" : "\\DataFiles\\Series\\ep2.rec";
         const auto& chain = t.E(file).Chain;
         const int table = 1 + int(Pick(rng, 3));
         t.SetFat(chain.back(), chain[Pick(rng, uint32_t(chain.size()))], table);   // the tail loops back
         if (Pick(rng, 2)) {   // and a lost chain with a loop of its own
           const uint32_t a = t.FreeIndex(rng), b = t.FreeIndex(rng);
           t.SetFat(a, b, 1 + int(Pick(rng, 3)));
           t.SetFat(b, Pick(rng, 2) ? a : b, 1 + int(Pick(rng, 3)));
         }
         t.Victim(file);
       }},
      {"root head fields",
       [](T& t, Rng& rng) {
         const uint32_t slot = Pick(rng, 4);
         const uint32_t field = 8 + 4 * Pick(rng, 3);
         const uint64_t base = Pick(rng, 2) ? uint64_t(ib::kRootDirectoryCopy) : kClusterBytes;
         t.Img().WriteView(base + 128 * slot + field, {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
       }},
      {"a whole table",
       [](T& t, Rng& rng) {
         if (!t.wholeTable_) t.wholeTable_ = 1 + int(Pick(rng, 2));   // the other one stays
         const int table = t.wholeTable_;
         const uint32_t v = Pick(rng, 2) ? 0 : 0xFFFFFF;
         for (uint32_t i = 0; i <= uint32_t(t.Model().LastCluster()); ++i) t.SetFat(i, v, table);
       }},
  };
  return kinds;
}

// Damage that used to cost recordings or to repeat on every run, with what
// the first run must report about it (and, for what cannot be repaired, the
// "Error:" line the second run repeats).
const std::vector<RepairProperty::Case>& RepairProperty::Cases() {
  static const std::string spc = std::to_string(kSpc), other = kSpc == 4512 ? "2068" : "4512";
  static const std::string kSbSpc = "Fixed:\tSuperblock - Sectors per Cluster set to " + spc;
  static const std::string kRecoveredFolder =
      "Info:\tFiles - the lost cluster check has recovered a subdirectory. This requires to restart all tests.";
  static const std::string kStale = "Fixed:\tFiles - Slot 4 of directory '\\DataFiles\\Series\\' lies beyond its end and '";
  static const std::string kTooSmall =
      "Error:\tSuperblock - The disk is damaged or too small: it holds no cluster beyond the system cluster. "
      "Nothing was changed";
  // \DataFiles\Series pointing at a cluster that cannot be read.
  static const auto folderAt = [](const char* name, uint32_t (*at)(RepairProperty&)) {
    return Case{name,
                [at](RepairProperty& t) {
                  const uint32_t c = at(t);
                  t.EditEntry("\\DataFiles\\Series", [c](auto& e) { ib::PutBE32(&e[8], c); });
                },
                {"Skipped:\tScan structure for subdirectories: \\DataFiles\\Series contains an invalid pointer (this "
                 "will be fixed later)",
                 "Fixed:\tFiles - Invalid cluster pointer in directory entry \\DataFiles\\Series\\': Removed",
                 kRecoveredFolder},
                {},
                {"\\DataFiles\\Series"}};
  };
  static const auto start = [](RepairProperty& t, uint32_t slot, uint32_t value) {
    for (uint64_t base : {uint64_t(ib::kRootDirectoryCopy), kClusterBytes})
      t.Img().WriteView(base + 128 * slot + 8, {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                                                uint8_t(value)});
  };
  // FAT links set in both tables: chains ended at their counts, nobody's bytes change.
  static const std::string kEnded =
      "Fixed:\tFAT: ended 1 chain at its entry's cluster count, where it ran on into another entry's clusters";
  static const auto joined = [](const char* name, std::vector<std::pair<uint32_t, uint32_t>> links, std::vector<std::string> said) {
    return Case{name, [links](RepairProperty& t) { for (auto [at, to] : links) t.SetFat(at, to); }, said, {}};
  };
  static const std::vector<Case> cases = {
      {"a plausible cluster size in the superblock only, read at start-up",
       [&](RepairProperty& t) {
         t.Img().SetSuperU16(ib::kSbSectorsPerCluster, uint16_t(std::stoi(other)), true, false);
       },
       {kSbSpc, kSpc != 2068 ? kSbSpc
                             : "Info:\tSectors per Cluster: Superblock: 4512, Backup Superblock: 2068, "
                               "Disk Size: 2068, Dir Scan: 2068"},
       {}},
      {"\\DataFiles\\ beyond the FAT in both root copies",
       [&](RepairProperty& t) { start(t, 2, 0x30000); },
       {"Fixed:\tSuperblock - Root Directory slot 2 (DataFiles): start cluster set to 2",
        "Fixed:\tRoot Directory - Slot 2 (DataFiles): start cluster set to 2"},
       {}},
      folderAt("a folder past the last cluster", [](RepairProperty&) { return 0x1000u; }),
      folderAt("a folder on the free cluster of the last FAT index",
               [](RepairProperty& t) { return uint32_t(t.Model().LastCluster()); }),
      {"a lost folder whose \".\" has lost its attribute",
       [](RepairProperty& t) { t.LoseSeries([](auto& e) { e[0] = 0; }); },
       {kRecoveredFolder},
       {},
       {"\\DataFiles\\Series"}},
      {"a lost folder whose \".\" has lost its name",
       [](RepairProperty& t) { t.LoseSeries([](auto& e) { e[20] = 'x'; }); },
       {kRecoveredFolder},
       {},
       {"\\DataFiles\\Series"}},
      {"a lost chain beside a LostCluster0001.rec an earlier repair left",
       [](RepairProperty& t) {
         t.EditEntry("\\DataFiles\\news.rec", [](auto& e) { std::memcpy(&e[20], "LostCluster0001.rec", 20); });
         t.SetFat(45, 0xFFFFFE);
       },
       {"Info:\tFiles - Created File LostCluster0002.rec (" + checker::FileSizeToString(double(kClusterBytes), 1) + ")"},
       {},
       {"\\DataFiles\\news.rec"}},
      {"an image shorter than one cylinder",
       [](RepairProperty& t) { ASSERT_EQ(::truncate(t.DrivePath().c_str(), 16064 * 512), 0); },
       {kTooSmall},
       {kTooSmall, "Info:\tFree/Used: Information not yet available."},
       {""},
       true},
      {"a folder leading back to its parent",
       [](RepairProperty& t) { t.PlantEntry(7, t.FreeSlot(7), t.Entry(0xF2, 6, 40, "Back")); },
       {"Fixed:\tFiles - Directory entry '\\DataFiles\\Films\\Old\\Back\\' leads back to '\\DataFiles\\Films\\': "
        "removed"},
       {}},
      {"a folder of two clusters",
       [](RepairProperty& t) {
         t.SetFat(6, 45);
         t.SetFat(45, 0xFFFFFE);
       },
       {"Fixed:\tFAT: ended the chain of 1 directory after its first cluster",
        "Info:\tFiles - Created File LostCluster0001.rec (" + checker::FileSizeToString(double(kClusterBytes), 1) +
            ")"},
       {}},
      {"FAT2's chain of a folder running into a recording",
       [](RepairProperty& t) { t.SetFat(6, 10, 2); },
       {"Fixed:\tFAT: ended the chain of 1 directory after its first cluster"},
       {}},
      joined("ep2.rec's last link into the middle of film.rec's chain", {{29, 22}}, {kEnded}),
      joined("ep2.rec's last link into the start of film.rec's chain", {{29, 20}}, {kEnded}),
      joined("ep2.rec's last link into a folder's cluster", {{29, 6}}, {kEnded}),
      joined("ep2.rec's last link into the system area", {{29, 2}}, {"Fixed:\tFAT: removed 1 invalid pointer from FAT1"}),
      joined("ep2.rec's last link back to its start", {{29, 28}}, {"Fixed:\tFAT: terminated 1 circular chain in FAT1"}),
      joined("film.rec and ep2.rec running on into each other's start", {{29, 20}, {21, 28}}, {kEnded}),
      joined("film.rec and ep2.rec running on into one cluster", {{29, 45}, {21, 45}, {45, 0xFFFFFE}},
             {"Fixed:\tFAT: ended 2 chains at their entries' cluster counts, where they ran on into other entries' clusters",
              "Info:\tFiles - Created File LostCluster0001.rec (" + checker::FileSizeToString(double(kClusterBytes), 1) + ")"}),
      {"a recording starting inside another's chain", [](RepairProperty& t) { t.EditEntry("\\DataFiles\\news.rec", [](auto& e) { ib::PutBE32(&e[8], 22); }); },
       {}, {"Error:\tFiles - '\\DataFiles\\news.rec' and '\\DataFiles\\Films\\film.rec' share the clusters 22, 21"}, {"\\DataFiles\\news.rec"}},
      {"a move between folders cut between its two writes: the entry in both",
       [](RepairProperty& t) {
         t.Img().WriteSlot(8, 4, t.Img().ReadSlot(6, t.E("\\DataFiles\\Films\\film.rec").Slot));
         t.EditSlot(8, 0, [](auto& e) { ib::PutBE32(&e[16], uint32_t(kClusterBytes - 128 * 5)); });
       },
       {"Fixed:\tFiles - '\\DataFiles\\Series\\film.rec' is a second entry of '\\DataFiles\\Films\\film.rec' "
        "(equal in name, start, cluster count and size): removed"}, {}},
      {"the root's FAT entry pointing into a recording",
       [](RepairProperty& t) { t.SetFat(0, 11); },
       {"Fixed:\tFAT: ended the chain of 1 directory after its first cluster"},
       {}},
      {"a folder whose \".\" and \"..\" are both damaged",
       [](RepairProperty& t) {
         t.EditSlot(8, 0, [](auto& e) { e[0] = 0; });
         t.EditSlot(8, 1, [](auto& e) { e[0] = 0; });
       },
       {"Fixed:\tFiles - Attribute of slot 0 of directory '\\DataFiles\\Series\\': recreated '.' directory",
        "Fixed:\tFiles - Attribute of slot 1 of directory '\\DataFiles\\Series\\': recreated '..' directory"},
       {}},
      {"a file with an empty name in \\DataFiles\\ beside a lost chain",
       [](RepairProperty& t) {
         t.EditEntry("\\DataFiles\\sport.rec", [](auto& e) { e[20] = 0; });
         t.SetFat(45, 0xFFFFFE);
       },
       {},
       {},
       {"\\DataFiles\\sport.rec"}},
      {"a lost chain whose FAT2 copy runs on into a free cluster",
       [](RepairProperty& t) {
         t.SetFat(45, 46);
         t.SetFat(46, 0xFFFFFE);
         t.SetFat(45, 60, 2);
       },
       {"Fixed:\tFAT: terminated 1 broken chain in FAT2"},
       {}},
      {"a plausible cluster size in the superblock, none in the backup, and a damaged \".\" found first",
       [](RepairProperty& t) {
         t.Img().SetSuperU16(ib::kSbSectorsPerCluster, kSpc == 3760 ? 2444 : 3760, true, false);
         t.Img().SetSuperU16(ib::kSbSectorsPerCluster, 0xFFFF, false, true);
         t.EditSlot(1, 0, [](auto& e) { ib::PutBE32(&e[8], 105); });
       },
       {kSbSpc, "Fixed:\tSuperblock - Backup Sectors per Cluster set to " + spc},
       {}},
      {"a recording pointing at \\DataFiles\\'s cluster, which FAT1 has free",
       [](RepairProperty& t) {
         t.EditEntry(kDeep + "\\deep.rec", [](auto& e) { ib::PutBE32(&e[8], 2); });
         t.SetFat(2, 0xFFFFFF, 1);
       },
       {},
       {"Error:\tFiles - '\\DataFiles\\' and '" + kDeep + "\\deep.rec' share the cluster 2"},
       {kDeep + "\\deep.rec"}},
      {"a recording pointing at a folder's cluster, whose chain runs on in both tables",
       [](RepairProperty& t) {
         t.EditEntry("\\DataFiles\\Series\\ep1.rec", [](auto& e) { ib::PutBE32(&e[8], 7); });
         t.SetFat(7, 45);
         t.SetFat(45, 0xFFFFFE);
       },
       {},
       {"Error:\tFiles - '\\DataFiles\\Films\\Old\\' and '\\DataFiles\\Series\\ep1.rec' share the cluster 7"},
       {"\\DataFiles\\Series\\ep1.rec"}},
      {"a recording pointing into another's chain while FAT2 is wiped",
       [](RepairProperty& t) {
         t.EditEntry("\\DataFiles\\news.rec", [](auto& e) { ib::PutBE32(&e[8], 21); });
         for (uint32_t i = 0; i <= uint32_t(t.Model().LastCluster()); ++i) t.SetFat(i, 0, 2);
       },
       {},
       {"Error:\tFiles - '\\DataFiles\\news.rec' and '\\DataFiles\\Films\\film.rec' share the cluster 21"},
       {"\\DataFiles\\news.rec"}},
      {"FAT1 wiped, a lost chain running into a recording, and another entry pointing at its tail",
       [](RepairProperty& t) {
         for (uint32_t i = 0; i <= uint32_t(t.Model().LastCluster()); ++i) t.SetFat(i, 0, 1);
         t.SetFat(54, 82);
         t.SetFat(82, 22);
         t.EditEntry("\\DataFiles\\Films\\Old\\old.rec", [](auto& e) { ib::PutBE32(&e[8], 21); });
       },
       {"Fixed:\tFAT: restored 1 broken chain in FAT1 from FAT2"},
       {"Error:\tFiles - '\\DataFiles\\Films\\film.rec' and '\\DataFiles\\Films\\Old\\old.rec' share the cluster 21"},
       {"\\DataFiles\\Films\\Old\\old.rec"}},
      {"a stale slot beyond a folder's end, on another recording's chain",
       [](RepairProperty& t) { t.Img().WriteSlot(8, t.FreeSlot(8), t.Entry(0xD1, 22, 1, "old.rec")); },
       {kStale + "\\DataFiles\\Series\\old.rec' there has no clusters of its own: set slot to unused"},
       {}},
      {"a stale slot beyond a folder's end, on free clusters",
       [](RepairProperty& t) { t.Img().WriteSlot(8, t.FreeSlot(8), t.Entry(0xD1, 45, 3, "gone.rec")); },
       {kStale + "\\DataFiles\\Series\\gone.rec' there has no clusters of its own: set slot to unused"},
       {}},
      {"a lost chain recovered into a \\DataFiles\\ without gaps",
       [](RepairProperty& t) {
         t.SetFat(45, 46);
         t.SetFat(46, 0xFFFFFE);
       },
       {"Info:\tFiles - Created File LostCluster0001.rec (" + checker::FileSizeToString(2.0 * double(kClusterBytes), 1) +
        ")"},
       {}},
      {"\\DataFiles\\'s cluster written over by a recording",
       [](RepairProperty& t) { t.Img().WriteRaw(3 * kClusterBytes, t.clusters_.at("\\DataFiles\\news.rec")[1]); },
       {"Fixed:\tFiles - Directory '\\DataFiles\\' held a recording's data that no chain holds: rebuilt as an empty "
        "directory", kRecoveredFolder},
       {}, {"\\DataFiles"}, false, true},
      {"\\DataFiles\\'s cluster zeroed", [](RepairProperty& t) { t.Img().WriteRaw(3 * kClusterBytes, std::vector<uint8_t>(kClusterBytes, 0)); },
       {kRecoveredFolder}, {}, {"\\DataFiles"}, false, true},
      {"a subfolder written over by a recording",
       [](RepairProperty& t) { t.Img().WriteRaw(9 * kClusterBytes, t.clusters_.at("\\DataFiles\\news.rec")[0]); },
       {"Fixed:\tFiles - Invalid cluster pointer in directory entry \\DataFiles\\Series\\': Removed"},
       {}, {"\\DataFiles\\Series"}, false, true},
      {"film.rec's link in the middle of its chain into news.rec's", [](RepairProperty& t) { t.SetFat(22, 10); },
       {"Fixed:\tFAT: ended 1 chain before the clusters of another entry whose chain agrees with its cluster count",
        "Info:\tFiles - Created File LostCluster0001.rec (" + checker::FileSizeToString(double(kClusterBytes), 1) + ")"},
       {}, {"\\DataFiles\\Films\\film.rec"}, false, true},
      {"ep2.rec's chain cut short in FAT1", [](RepairProperty& t) { t.SetFat(28, 0xFFFFFE, 1); }, {}, {}},
      {"FAT1's first sector zeroed",
       [](RepairProperty& t) { t.Img().WriteView(ib::kFat1Offset, std::vector<uint8_t>(512, 0)); }, {}, {}},
      {"the first sectors of both FATs zeroed",
       [](RepairProperty& t) {
         for (uint64_t at : {uint64_t(ib::kFat1Offset), uint64_t(ib::kFat2Offset)}) t.Img().WriteView(at, std::vector<uint8_t>(512, 0));
       },
       {}, {}, {"\\DataFiles\\news.rec", "\\DataFiles\\sport.rec", "\\DataFiles\\Films\\film.rec", "\\DataFiles\\Series\\ep2.rec"}},
      {"a chain in a zeroed sector of FAT1 only, on clusters FAT2 has free",
       [](RepairProperty& t) {
         t.Img().WriteView(ib::kFat1Offset, std::vector<uint8_t>(512, 0));
         t.SetFat(50, 51, 1);
         t.SetFat(51, 0xFFFFFE, 1);
       },
       {"Fixed:\tFAT: removed 1 chain from FAT1 that FAT2 has free, where FAT1 is damaged", "!Info:\tFiles - Created File "
        "LostCluster0001.rec (" + checker::FileSizeToString(2.0 * double(kClusterBytes), 1) + ")"}, {}},
  };
  return cases;
}

TEST_F(RepairProperty, EachFaultHasItsFindingAndSettles) {
  for (const Case& c : Cases()) {
    victims_ = {c.Victims.begin(), c.Victims.end()};
    whole_.clear();
    for (const std::string& path : Recordings())
      if (c.VictimsBack && IsVictim(path)) whole_.insert(path);
    c.Damage(*this);
    std::set<std::string> errors;
    for (const std::string& line : c.SecondRun)
      if (line.rfind("Error:", 0) == 0) errors.insert(line);
    allowedErrors_ = &errors;
    RepairAndVerify(c.Name, [&] {
      if (c.WritesNothing) {   // and the main program finds the root damaged
        EXPECT_TRUE(std::filesystem::is_empty(Folder() + "/undo"));
        script.ExpectMsgBox("Damaged subdirectory '\\'; Cluster 0", ui::Answer::OK);
      }
      for (const std::string& line : c.FirstRun)   // ("!": a line the run must not hold)
        EXPECT_NE(HasLine(line[0] == '!' ? line.substr(1) : line), line[0] == '!') << line << "\n" << AllLines();
      if (std::string(c.Name).rfind("a plausible", 0) == 0) {
        EXPECT_EQ(checker::SectorsPerCluster, int(kSpc));
        EXPECT_EQ(Img().SuperU16(ib::kSbSectorsPerCluster), kSpc);
        EXPECT_EQ(Img().SuperU16(ib::kSbSectorsPerCluster, true), kSpc);
      }
    });
    allowedErrors_ = nullptr;
    for (const std::string& line : c.SecondRun) EXPECT_TRUE(HasLine(line)) << line << "\n" << AllLines();
    if (!c.SecondRun.empty()) {
      EXPECT_FALSE(HasLine("OK:\tFiles"));
    }
    if (HasFailure()) return;
  }
}

TEST_F(RepairProperty, EveryDamageKindIsRepairedInOneRun) {
  const uint32_t seeds = FromEnv("QUENBRIX_REPAIR_KIND_SEEDS", 2);
  Watchdog watchdog(std::chrono::seconds(60 * (seeds + 2)));
  for (const Kind& kind : Kinds()) {
    for (uint32_t seed = 1; seed <= seeds; ++seed) {
      const std::string what = std::string(kind.Name) + " #" + std::to_string(seed);
      watchdog.Doing(what);
      Damage(kind, seed);
      RepairAndVerify(what);
      if (HasFailure()) return;
    }
  }
}

// 200 seeds in four runs of 50, which CTest may run side by side (by hand,
// QUENBRIX_REPAIR_SEEDS seeds in four runs).
class RandomDamage : public RepairProperty, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(RandomDamage, IsRepairedInOneRun) {
  const uint32_t run = FromEnv("QUENBRIX_REPAIR_SEEDS", 200) / 4;
  const uint32_t first = FromEnv("QUENBRIX_REPAIR_FIRST_SEED", 1) + GetParam() * run;
  Watchdog watchdog(std::chrono::seconds(300 * (run / 50 + 1)));
  for (uint32_t seed = first; seed < first + run; ++seed) {
    const std::string what = DamageAtRandom(seed);
    watchdog.Doing(what);
    RepairAndVerify(what);
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomDamage, ::testing::Values(0u, 1u, 2u, 3u));

// A cut after any single write of a repair: every row of the fault table,
// every damage kind with its first seed, and QUENBRIX_REPAIR_CUT_SEEDS (0)
// randomly damaged images from QUENBRIX_REPAIR_FIRST_SEED by hand.
TEST_F(RepairProperty, ACutAfterAnyWriteIsRepairedByTheNextRun) {
  Watchdog watchdog(std::chrono::seconds(1200 + 30 * FromEnv("QUENBRIX_REPAIR_CUT_SEEDS", 0)));
  const uint32_t first = FromEnv("QUENBRIX_REPAIR_FIRST_SEED", 1);
  for (uint32_t seed = first; seed < first + FromEnv("QUENBRIX_REPAIR_CUT_SEEDS", 0) && !HasFailure(); ++seed)
    CutAfterEveryWrite("seed " + std::to_string(seed), [&] { DamageAtRandom(seed); });
  for (const Case& c : Cases()) {
    watchdog.Doing(c.Name);
    CutAfterEveryWrite(c.Name, [&] {
      victims_ = {c.Victims.begin(), c.Victims.end()};
      c.Damage(*this);
    });
    if (HasFailure()) return;
  }
  for (const Kind& kind : Kinds()) {
    watchdog.Doing(kind.Name);
    CutAfterEveryWrite(kind.Name, [&] { Damage(kind, 1); });
    if (HasFailure()) return;
  }
}

// Neither superblock with the magic number or identification: a check writes
// nothing and says so in one "Error:" line, unless the user answers Yes to
// the question naming what the disk holds; one magic number is enough.
TEST_F(RepairProperty, OnlyADiskThatShowsItIsTheRecordersIsWritten) {
  auto bytes = [](std::map<size_t, uint8_t> at, bool random = false) {
    Rng rng(7);
    std::vector<uint8_t> raw(4096, 0);   // as on the disk; random: never zero
    for (auto& x : raw) x = random ? uint8_t(rng() | 1) : 0;
    for (const auto& [offset, value] : at) raw[offset] = value;
    return raw;
  };
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> rows = {
      {"an ext2/3/4 file system", bytes({{1080, 0x53}, {1081, 0xEF}})},
      {"only zeros", std::vector<uint8_t>(kClusterBytes, 0)},
      {"unknown data", bytes({}, true)},
      {"a partition table", bytes({{450, 0x83}, {510, 0x55}, {511, 0xAA}})},
      {"", {}},   // a recorder disk
  };
  for (const auto& [found, head] : rows) {
    SCOPED_TRACE(found);
    Img().WriteRaw(0, head);
    if (found.empty()) {   // only the backup's magic number left
      Img().SetSuperU32(ib::kSbMagic, 0x12345678, true, false);
      Img().SetSuperU32(ib::kSbIdString, 0x544F5046u ^ 0x20);
    }
    std::vector<faults::SectorWrite> writes;
    for (ui::Answer answer : {ui::Answer::No, ui::Answer::Yes}) {
      const size_t asked = script.MsgBoxTexts().size();
      faults::SectorFaults run;
      StartAndCheck(answer);
      writes = run.Writes();
      ASSERT_EQ(script.MsgBoxTexts().size(), asked + !found.empty());
      EXPECT_NE(found.empty() ? 0 : script.MsgBoxTexts().back().find("it holds " + found + "."), std::string::npos);
      if (answer == ui::Answer::Yes || found.empty()) {
        EXPECT_TRUE(HasLine("Fixed:\tSuperblock - ID String")) << AllLines();
        EXPECT_FALSE(writes.empty());
        break;
      }
      EXPECT_TRUE(writes.empty()) << AllLines();
      EXPECT_TRUE(std::filesystem::is_empty(Folder() + "/undo"));
      const std::string all = AllLines();   // one Error: line, nothing fixed
      EXPECT_TRUE(all.find("Fixed:") == std::string::npos && all.find("Error:") == all.rfind("Error:")) << all;
      EXPECT_NE(all.find("it holds " + found + "). Nothing was changed"), std::string::npos) << all;
    }
    Restore(writes);
  }
}

// The PC folder of the undo copies full, or holding something at a copy's
// name: every cluster the run writes has its whole content from before the
// run in a copy of its own (no copy cut short is left; nothing placed at
// the name is written through or taken for it); where a copy cannot be
// saved the run writes nothing more and says why, and the next run with
// room settles the disk.
TEST_F(RepairProperty, NoClusterIsWrittenWithoutItsWholeBeforeImage) {
  const std::string undo = Folder() + "/undo";
  const std::string name = undo + "/run - " + checker::ClusterFileStem(-1) + "_Original.bin";
  const std::string noRoom = "could not be saved in '" + undo + "' first (there is no room left). Nothing more is written";
  struct Row {
    const char* Name;
    uint64_t Room;   // bytes of a tmpfs at the folder; 0: none
    std::function<void()> Plant;
    std::vector<std::string> Said;
    bool Refused = false;   // the disk refuses every write
  };
  const std::vector<Row> rows = {
      {"no room", 16 * 4096, [&] { ib::WriteWholeFile(undo + "/fill", std::string(16 * 4096, 'f')); }, {noRoom}},
      {"room for less than a cluster", 1 << 20, {}, {noRoom}},
      {"room for one cluster", (kClusterBytes + 4095) / 4096 * 4096 + 16 * 4096, {},
       {noRoom, "The copy of what is written to the system cluster could not be saved in '" + undo +
                    "' (there is no room left)"}},
      {"a disk that refuses every write", 0, {}, {"Error:\tSuperblock - Couldn't write the system cluster"}, true},
      {"a file at the copy's name", 0, [&] { ib::WriteWholeFile(name, "planted"); }, {}},
      {"a link at the copy's name", 0,
       [&] {
         ib::WriteWholeFile(Folder() + "/elsewhere", "mine");
         std::filesystem::create_symlink(Folder() + "/elsewhere", name);
       },
       {}},
  };
  testenv::SkippedRows skipped;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    if (row.Room && geteuid() != 0) {
      skipped.Add(row.Name, "a small tmpfs needs root to mount");
      continue;
    }
    Img().SetSuperU32(ib::kSbMagic, 0x12345678, true, false);
    EditSlot(8, 0, [](auto& e) { e[0] = 0; });
    SetFat(45, 0xFFFFFE);
    std::map<uint32_t, std::vector<uint8_t>> before;
    for (uint32_t c = 0; c <= 40; ++c) before[c] = Img().ReadClusterView(c);
    bool mounted = row.Room && ::mount("tmpfs", undo.c_str(), "tmpfs", 0, ("size=" + std::to_string(row.Room)).c_str()) == 0;
    std::unique_ptr<const char, std::function<void(const char*)>> unmount(undo.c_str(), [&](const char* at) {
      if (mounted) ::umount2(at, MNT_DETACH);
    });
    ASSERT_TRUE(mounted || !row.Room) << "no small tmpfs could be mounted";
    if (row.Plant) row.Plant();
    std::vector<faults::SectorWrite> writes;
    {
      faults::SectorFaults run;
      if (row.Refused) run.FailWritesWhere([](uint32_t, int32_t) { return true; });
      StartAndCheck();
      writes = run.Writes();
    }
    // A fix is reported only where it reached the disk.
    if (writes.empty()) EXPECT_EQ(AllLines().find("Fixed:"), std::string::npos) << AllLines();
    for (const faults::SectorWrite& w : writes) {
      const uint32_t c = w.FirstSector / kSpc;
      const std::string copy = checker::OriginalCopyOf(int32_t(c));
      ASSERT_TRUE(before.count(c) && !copy.empty()) << "cluster " << c << "\n" << AllLines();
      EXPECT_TRUE(!row.Plant || Folder() + "/" + copy != name) << copy;
      EXPECT_TRUE(ib::ReadWholeFile(copy) == std::string(before[c].begin(), before[c].end())) << copy;
    }
    for (const auto& f : std::filesystem::directory_iterator(undo))
      if (f.path().filename().string().rfind("run - ", 0) == 0 && !f.is_symlink() && f.path() != name)
        EXPECT_EQ(f.file_size(), kClusterBytes) << f.path();
    for (const std::string& said : row.Said)
      EXPECT_NE(AllLines().find(said), std::string::npos) << said << "\n" << AllLines();
    if (mounted) EXPECT_EQ(::umount(undo.c_str()), 0);
    mounted = false;
    if (row.Plant && row.Room == 0) {
      EXPECT_EQ(ib::ReadWholeFile(std::filesystem::is_symlink(name) ? Folder() + "/elsewhere" : name),
                std::filesystem::is_symlink(name) ? "mine" : "planted");
    }
    RepairAndVerify(std::string("the next run with room after ") + row.Name, {}, writes);
    if (HasFailure()) return;
  }
  SKIP_ROWS(skipped);
}

// Every cluster size the format allows, up to the largest disk's 32767
// sectors: the clean disk is left alone (only "OK:" and "Info:" lines, no
// write), and a few damages on it settle in one repair.
class ClusterSizes : public RepairProperty, public ::testing::WithParamInterface<uint32_t> {
 public:
  void SetUp() override {
    kSpc = GetParam();
    kClusterBytes = uint64_t(kSpc) * 512;
    RepairProperty::SetUp();
  }
  void TearDown() override {
    RepairProperty::TearDown();
    kSpc = FromEnv("QUENBRIX_REPAIR_SPC", steptest::kSpc);
    kClusterBytes = uint64_t(kSpc) * 512;
  }
};

TEST_P(ClusterSizes, CleanDiskIsLeftAloneAndDamageSettles) {
  {
    faults::SectorFaults clean;
    StartAndCheck();
    for (const std::string& line : Lines()) {
      const std::string kind = line.substr(0, line.find('\t'));
      EXPECT_TRUE(kind == "OK:" || kind == "Info:" || kind.empty()) << line;
    }
    EXPECT_EQ(clean.Writes().size(), 0u) << AllLines();
    EXPECT_EQ(checker::SectorsPerCluster, int(kSpc));
  }
  for (const Kind& kind : Kinds()) {
    const std::string name = kind.Name;
    if (name != "superblock cluster size" && name != "backup cluster size" && name != "lost chain" &&
        name != "file pointer" && name != "dot entries")
      continue;
    Damage(kind, 1);
    RepairAndVerify(name);
    if (HasFailure()) return;
  }
}

// Both superblock words agreeing on another size than the one the disk was
// made with: no cluster is ever written at the words' size. Where the root
// (cluster 0's copy of it) or two folders lie where the disk's own size puts
// them, the run works at that size and mends the words; where the root copy
// is damaged and a single folder is all the disk shows (7456 sectors), it
// writes nothing and says why.
TEST_P(ClusterSizes, BothWordsOnAnotherSizeAreNeverWrittenAt) {
  if (kSpc != 2068 && kSpc != 3760 && kSpc != 7456) GTEST_SKIP() << "the disks of the table are made at 2068, 3760, 7456";
  struct Row {
    uint32_t Words;
    bool RootCopyDamaged;
  };
  std::vector<Row> rows;
  for (uint32_t words : {1792u, 2068u, 2444u, 3760u, 4512u, 7456u, 9400u, 16384u, 32767u})
    if (words != kSpc) rows.push_back({words, false});
  rows.push_back({2444, true});
  rows.push_back({16384, true});
  for (const Row& row : rows) {
    const std::string what = "both words " + std::to_string(row.Words) + (row.RootCopyDamaged ? ", root copy damaged" : "");
    Img().SetSuperU16(ib::kSbSectorsPerCluster, uint16_t(row.Words));
    if (row.RootCopyDamaged) Img().WriteView(ib::kRootDirectoryCopy, {0x17});
    if (row.RootCopyDamaged && kSpc == 7456) {
      faults::SectorFaults writes;
      StartAndCheck();
      EXPECT_EQ(writes.Writes().size(), 0u) << what << "\n" << AllLines();
      EXPECT_TRUE(HasLine("Error:\tSuperblock - The cluster size is in doubt: the superblock gives " +
                          std::to_string(row.Words) + " sectors, but the folders on the disk lie where 7456 sectors "
                          "put them. Nothing was changed")) << what << "\n" << AllLines();
      Restore({});
    } else {
      RepairAndVerify(what, [&] {
        EXPECT_EQ(checker::SectorsPerCluster, int(kSpc)) << what;
        EXPECT_EQ(Img().SuperU16(ib::kSbSectorsPerCluster), kSpc) << what;
        EXPECT_EQ(Img().SuperU16(ib::kSbSectorsPerCluster, true), kSpc) << what;
      });
    }
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ClusterSizes,
                         ::testing::Values(2068u, 2444u, 3760u, 4512u, 6000u, 6001u, 7456u, 16384u, 32767u));

// The clusters at the disk's end, at 2068 sectors a cluster: 300 cylinders
// (2330.51 clusters: the device's end cuts the cluster of LastCluster - 1),
// 301 (2338.28: it cuts that of LastCluster), and 301 with sectors beyond the
// last cylinder that hold LastCluster's cluster whole. Damage on each index
// from LastCluster - 2 to LastCluster + 2 is settled by one repair, the main
// program's check then accepts the disk, and a folder or recording whose
// cluster lies wholly on the device is kept there. The two programs agree
// before the repair too: the main check finds damage where the repair
// changes something, and refuses the disk where that lies off the data
// clusters (a lone end mark or a dangling pointer on a cut index).
class DiskEnd : public RepairProperty, public ::testing::WithParamInterface<uint64_t> {
 public:
  ib::ImageSpec Spec() const override {
    ib::ImageSpec spec = RepairProperty::Spec();
    spec.SizeBytes = GetParam() * 512;
    return spec;
  }
  bool Data(uint32_t x) const { return x <= Model().LastCluster() && (uint64_t(x) + 2) * 2068 <= GetParam(); }
  // Moves the one cluster of `path` (FAT index `from`) to index x: its entry,
  // its FAT entry, a folder's "." and, where it fits, its content.
  void Move(const std::string& path, uint32_t from, uint32_t x) {
    if (E(path).IsDir) EditSlot(from, 0, [x](auto& e) { ib::PutBE32(&e[8], x); });
    if (Data(x)) Img().WriteRaw((uint64_t(x) + 1) * kClusterBytes, Img().ReadRaw((from + 1) * kClusterBytes, kClusterBytes));
    EditEntry(path, [x](auto& e) { ib::PutBE32(&e[8], x); });
    SetFat(from, 0xFFFFFF);
    SetFat(x, 0xFFFFFE);
  }
};

TEST_P(DiskEnd, DamageOnTheLastClustersIsSettledInOneRun) {
  if (kSpc != 2068) GTEST_SKIP() << "the geometries are those of 2068 sectors a cluster";
  const uint32_t last = uint32_t(Model().LastCluster());
  struct Damage {
    const char* Name;
    std::string Victim;
    std::function<void(DiskEnd&, uint32_t)> Apply;
  };
  const std::vector<Damage> damages = {
      {"a folder", "\\DataFiles\\Series", [](DiskEnd& t, uint32_t x) { t.Move("\\DataFiles\\Series", 8, x); }},
      {"a recording", "\\DataFiles\\Series\\ep1.rec",
       [](DiskEnd& t, uint32_t x) { t.Move("\\DataFiles\\Series\\ep1.rec", 27, x); }},
      {"a lost chain", "", [](DiskEnd& t, uint32_t x) { t.SetFat(40, x), t.SetFat(x, 0xFFFFFE); }},
      {"a recording running on to it", "\\DataFiles\\Series\\ep2.rec",
       [](DiskEnd& t, uint32_t x) { t.SetFat(29, x); }},
      {"a dangling pointer", "", [](DiskEnd& t, uint32_t x) { t.SetFat(x, x + 1); }},
      {"a lone end mark", "", [](DiskEnd& t, uint32_t x) { t.SetFat(x, 0xFFFFFE); }},
  };
  for (uint32_t x = last - 2; x <= last + 2 && !HasFailure(); ++x) {
    for (const Damage& d : damages) {
      victims_ = {d.Victim};
      d.Apply(*this, x);
      const bool kept = Data(x) && d.Victim.find('.') == std::string::npos;   // a folder moved there
      if (kept) victims_.clear();
      std::string found;
      if (!Data(x) && std::string(d.Name) == "a folder") script.ExpectMsgBox("Damaged subdirectory", ui::Answer::OK);
      const bool accepted = MainFsck(&found);
      RepairAndVerify(std::string(d.Name) + " at index " + std::to_string(x) + " of " + std::to_string(last));
      EXPECT_EQ(firstWrites_ > 0, !found.empty()) << d.Name << " at " << x << ": " << found;
      EXPECT_TRUE(firstWrites_ == 0 || Data(x) || !accepted) << d.Name << " at " << x << ": " << found;
      if (Data(x) && std::string(d.Name) == "a recording") {
        checker::FoundEntry* end = checker::FoundEntries.data() + checker::FoundEntryCount;
        EXPECT_NE(std::find_if(checker::FoundEntries.data(), end,
                               [&](const auto& f) { return f.Name == d.Victim && f.StartCluster == int32_t(x); }),
                  end)
            << "the recording on index " << x << " is kept";
      }
      if (Data(x)) Img().WriteRaw((uint64_t(x) + 1) * kClusterBytes, std::vector<uint8_t>(kClusterBytes, 0));
      if (HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Geometries, DiskEnd,
                         ::testing::Values(300ull * 16065, 301ull * 16065, 2339ull * 2068 + 100));

// The inputs of the repair's fuzz target (tests/data/fuzz/repair/), each
// settled by one repair (tests/fuzz/fuzz_repair.h).
TEST(RepairFuzzRegression, DamagedImagesAreSettledInOneRun) {
  ib::TempDir tmp("qrepairfuzz");
  setenv("QUENBRIX_DEVICES", tmp.Path().c_str(), 1);
  core::SetAppDir(tmp.Path());
  fuzzimage::QuietUi quiet;
  ui::CurrentUiScope use(quiet);
  int replayed = 0;
  for (const auto& file : std::filesystem::directory_iterator(std::string(QUENBRIX_TEST_DATA) + "/fuzz/repair")) {
    fuzzimage::WriteDamaged(tmp / "PhysicalDrive0", ib::ReadWholeFile(file.path().string()));
    fuzzimage::Ranges written;
    EXPECT_EQ(fuzzimage::RepairTwiceDrive0(quiet, tmp / "undo", written), "") << file.path();
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace steptest
