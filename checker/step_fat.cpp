// Check step 5: FAT repair (both tables made to agree on every chain a
// directory entry refers to, invalid, broken, circular and crosslinked links
// removed) and the recovery of lost chains as new entries of DataFiles.
#include "checker/step_fat.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "checker/field_access.h"
#include "checker/step_dirscan.h"
#include "checker/steps.h"
#include "core/disk_format.h"
#include "core/error_handler.h"

namespace checker {

bool FatTablesLoaded = false;

namespace {

// Highest FAT index the passes use (-1: none).
int32_t Last() { return FatLastIndex(); }

// An index a chain may hold: one of the passes' indexes whose cluster lies
// wholly on the device (one cut off by the device's end holds no data).
bool ValidIndex(int32_t v) { return v >= 0 && v <= Last() && IndexOnDisk(v); }

// One line for a count: nothing for 0, `one` for 1, head + n + `many` else.
void ReportCount(int32_t n, const std::string& one, const std::string& head, const std::string& many) {
  if (n == 1)
    Addinfo(kFixed, one);
  else if (n > 1)
    Addinfo(kFixed, head + std::to_string(n) + many);
}

// The texts of one count line of a table: `one` + the table's name for 1,
// head + n + `many` + the name for more; `tail` + the other table's name
// ends both.
struct CountLine {
  const char* one;
  const char* head;
  const char* many;
  const char* tail = "";
};

// Runs `fix(table, i)` over every index of FAT1, then of FAT2; fix returns
// 0 for an entry left alone, else the number (from 1) of the line in
// `lines` that counts its mending. Reports each table's counts.
template <class Fix>
void FixEachFat(std::initializer_list<CountLine> lines, Fix fix) {
  const int32_t last = Last();
  for (int t = 1; t <= 2; ++t) {
    auto& table = FatTable(t == 1);
    std::vector<int32_t> n(lines.size() + 1, 0);
    for (int32_t i = 0; i <= last; ++i) ++n[size_t(std::clamp<int>(fix(table, i), 0, int(lines.size())))];
    const std::string fat = t == 1 ? "FAT1" : "FAT2", other = t == 1 ? "FAT2" : "FAT1";
    size_t k = 1;
    for (const CountLine& line : lines) {
      const std::string tail = *line.tail ? line.tail + other : std::string();
      ReportCount(n[k], line.one + fat + tail, line.head, line.many + fat + tail);
      if (n[k++] > 0) FatChanged = true;
    }
  }
}

std::string FourDigits(int32_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", n);
  return text;
}

std::string Lower(std::string s) {
  for (char& ch : s)
    if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
  return s;
}

// Claims the lost chain from x, found in the table of inFAT1 with `length`
// entries, at `level`; returns the number of clusters walked. The walk
// copies each entry to the other table, ends the chain (in both tables)
// where it would run into a cluster claimed already, and ends it with an end
// mark where its successor is free or invalid. Each index is visited once.
// An entry of one table a claim changed.
struct Edit {
  int32_t Index;
  bool InFAT1;
  int32_t Before, After;
};

// The entries not claimed yet whose chains (in FAT1 and in FAT2, as the
// last count has them) may be recovered, longest first; on a tie the lowest
// index, FAT1's before FAT2's: the order in which the rounds take them while
// no claim changes a count. `headsOnly`: only chains that nothing refers to.
struct Head {
  int32_t Length, Index;
  bool InFAT1;
};
std::vector<Head> LongestFirst(bool headsOnly) {
  std::vector<Head> heads;
  for (int32_t i = 0, last = Last(); i <= last; ++i) {
    if (Sense[size_t(i)] != 0) continue;
    // A free entry (length 0) is no chain to recover.
    for (bool fat1 : {true, false}) {
      const TopfFatEntry& e = FatTable(fat1)[size_t(i)];
      if (e.Length > 0 && (!headsOnly || e.NrRef == 0)) heads.push_back({e.Length, i, fat1});
    }
  }
  std::stable_sort(heads.begin(), heads.end(), [](const Head& a, const Head& b) { return a.Length > b.Length; });
  return heads;
}

// `edits` (when given) collects every entry the claim changed.
int32_t ClaimLostChain(int32_t x, bool inFAT1, int32_t length, int32_t level, std::vector<Edit>* edits = nullptr) {
  auto& src = FatTable(inFAT1);
  auto set = [edits](bool fat1, int32_t i, int32_t value) {
    int32_t& v = FatTable(fat1)[size_t(i)].Value;
    if (v == value) return;
    if (edits) edits->push_back({i, fat1, v, value});
    v = value;
    FatChanged = true;
  };
  if (length < 2) {
    Sense[size_t(x)] = level;
    // A one-cluster file: its cluster is marked used in both tables.
    set(true, x, kFatEnd);
    set(false, x, kFatEnd);
    return 1;
  }
  int32_t walked = 0;
  for (int32_t steps = 0; steps <= Last(); ++steps) {
    Sense[size_t(x)] = level;
    set(!inFAT1, x, src[size_t(x)].Value);
    ++walked;
    const int32_t v = FAT1[size_t(x)].Value;
    if (v == kFatEnd) break;
    if (!ValidIndex(v) || Sense[size_t(v)] > 0) {
      set(true, x, kFatEnd);
      set(false, x, kFatEnd);
      break;
    }
    x = v;
  }
  return walked;
}

// A chain is taken for a directory exactly when the directory scan will
// walk it as one: its first cluster is a directory cluster (also with a
// damaged "." or ".."). Leaves that cluster in ClusterBuffer.
bool StartsDirectory(int32_t start) {
  return ValidIndex(start) && ReadTopfCluster(start + 1) && IsDirectoryCluster();
}

// The entries of the chains recovered in this round: the first cluster of
// \DataFiles\ with their slots filled, written after the FAT.
struct PendingEntries {
  int32_t DataFiles = -1;   // the FAT index of the cluster held; -1 none
  std::vector<uint8_t> Cluster;
  std::vector<FoundEntry> Entries;
  bool Directory = false;   // one of them is a directory
  // The names the cluster's entries have (lower case), and its first unused
  // slot (-1: none): kept as slots are filled, so that each recovered chain
  // costs the same however many came before it.
  std::set<std::string> Taken;
  int32_t Unused = -1;
  int32_t Cleared = 0;   // stale slots set to unused to bring the entries into sight
};
PendingEntries pending;

// The sectors of each table (FAT1, FAT2) that held an entry no FAT can
// hold (fsck_05_FAT_ClearInvalidPointers): that copy is damaged there, and
// the other is the intact one.
std::vector<uint8_t> damagedSectors[2];

// The sectors (counted from the table's start) that the three bytes of
// entry i lie in: one, or two for an entry that straddles a sector's end.
std::array<size_t, 2> EntrySectors(int32_t i) { return {size_t(i) * 3 / 512, (size_t(i) * 3 + 2) / 512}; }

// True when entry i of the table lies (in part) in a damaged sector of it.
bool InDamagedSector(bool fat1, int32_t i) {
  const std::vector<uint8_t>& d = damagedSectors[fat1 ? 0 : 1];
  for (size_t sector : EntrySectors(i))
    if (sector < d.size() && d[sector]) return true;
  return false;
}

}  // namespace

// ------------------------------------------------------------ the passes

void fsck_05_FAT_ClearInvalidPointers() {
  core::ProcScope scope("fsck_05_FAT_ClearInvalidPointers");
  for (auto& d : damagedSectors) d.assign(EntrySectors(std::max(Last(), 0))[1] + 1, 0);
  FixEachFat({{"FAT: removed 1 invalid pointer from ", "FAT: removed ", " invalid pointers from "}},
             [](std::vector<TopfFatEntry>& table, int32_t i) {
               const int32_t v = table[size_t(i)].Value;
               // An entry on an index that is no data cluster is one too.
               const bool dataIndex = IndexOnDisk(i);
               if (v < 5 || (v < kFatEnd && !ValidIndex(v)) || (!dataIndex && v != kFatFree)) {
                 table[size_t(i)].Value = kFatFree;
                 auto& d = damagedSectors[&table == &FAT1 ? 0 : 1];
                 for (size_t sector : EntrySectors(i))
                   if (sector < d.size()) d[sector] = 1;
                 return 1;
               }
               return 0;
             });
}

void fsck_05_FAT_DropOneCopyChains() {
  core::ProcScope scope("fsck_05_FAT_DropOneCopyChains");
  const int32_t last = Last();
  CalcFATXRefs();
  std::vector<int32_t> stamp(size_t(std::max(last, 0)) + 1, 0);
  int32_t walk = 0;
  for (bool fat1 : {true, false}) {
    auto& table = FatTable(fat1);
    const auto& other = FatTable(!fat1);
    int32_t n = 0;
    for (int32_t i = 0; i <= last; ++i) {
      if (Sense[size_t(i)] != 0 || table[size_t(i)].NrRef != 0 || table[size_t(i)].Value == kFatFree) continue;
      // The chain from this head, as long as only this table has it.
      std::vector<int32_t> chain;
      bool damaged = false, oneCopy = true;
      ++walk;
      for (int32_t x = i; ValidIndex(x) && stamp[size_t(x)] != walk && Sense[size_t(x)] == 0;) {
        stamp[size_t(x)] = walk;
        oneCopy = oneCopy && other[size_t(x)].Value == kFatFree;
        damaged = damaged || InDamagedSector(fat1, x);
        chain.push_back(x);
        x = table[size_t(x)].Value;
      }
      if (!oneCopy || !damaged) continue;
      for (int32_t x : chain) table[size_t(x)].Value = kFatFree;
      ++n;
    }
    const std::string fat = fat1 ? "FAT1" : "FAT2", intact = fat1 ? "FAT2" : "FAT1";
    ReportCount(n, "FAT: removed 1 chain from " + fat + " that " + intact + " has free, where " + fat + " is damaged",
                "FAT: removed ", " chains from " + fat + " that " + intact + " has free, where " + fat + " is damaged");
    if (n > 0) FatChanged = true;
  }
  CalcFATXRefs();
}

void fsck_05_FAT_StopBrokenChains() {
  core::ProcScope scope("fsck_05_FAT_StopBrokenChains");
  FixEachFat({{"FAT: terminated 1 broken chain in ", "FAT: terminated ", " broken chains in "},
              {"FAT: restored 1 broken chain in ", "FAT: restored ", " broken chains in ", " from "}},
             [](std::vector<TopfFatEntry>& table, int32_t i) {
               int32_t v = table[size_t(i)].Value;
               if (!ValidIndex(v) || table[size_t(v)].Value != kFatFree) return 0;
               // Where the other table goes on from the free cluster, the
               // chain goes on as it has it (an end mark would contradict
               // it, and the chain would lose its tail to whoever else
               // claims it): restored; else the free cluster is the chain's
               // last: terminated.
               const auto& other = &table == &FAT1 ? FAT2 : FAT1;
               const int kind = ValidIndex(other[size_t(v)].Value) ? 2 : 1;
               for (int32_t steps = 0; steps <= Last() && ValidIndex(v) && table[size_t(v)].Value == kFatFree;
                    ++steps) {
                 const int32_t w = other[size_t(v)].Value;
                 table[size_t(v)].Value = w == kFatFree ? kFatEnd : w;
                 v = w;
               }
               return kind;
             });
}

void fsck_05_FAT_StopCircularChains() {
  core::ProcScope scope("fsck_05_FAT_StopCircularChains");
  const int32_t last = Last();
  if (last < 0) return;
  for (int t = 1; t <= 2; ++t) {
    auto& table = FatTable(t == 1);
    std::vector<int32_t> refs(size_t(last) + 1, 0);
    for (int32_t i = 0; i <= last; ++i) {
      const int32_t v = table[size_t(i)].Value;
      if (ValidIndex(v)) ++refs[size_t(v)];
    }
    // Walks start at chain heads first, so a chain that runs into a circle is
    // cut where it closes and keeps all its clusters in order; circles
    // without a head start at their lowest index.
    std::vector<int32_t> walkOf(size_t(last) + 1, 0);
    int32_t walk = 0;
    int32_t n = 0;
    auto run = [&](int32_t start) {
      ++walk;
      int32_t x = start;
      int32_t previous = -1;
      while (ValidIndex(x) && walkOf[size_t(x)] == 0) {
        walkOf[size_t(x)] = walk;
        previous = x;
        x = table[size_t(x)].Value;
      }
      if (ValidIndex(x) && walkOf[size_t(x)] == walk && previous >= 0) {
        table[size_t(previous)].Value = kFatEnd;
        ++n;
      }
    };
    for (int32_t i = 0; i <= last; ++i)
      if (refs[size_t(i)] == 0 && walkOf[size_t(i)] == 0) run(i);
    for (int32_t i = 0; i <= last; ++i)
      if (walkOf[size_t(i)] == 0) run(i);
    const std::string fat = t == 1 ? "FAT1" : "FAT2";
    ReportCount(n, "FAT: terminated 1 circular chain in " + fat, "FAT: terminated ", " circular chains in " + fat);
    if (n > 0) FatChanged = true;
  }
}

namespace {

// Who owns which cluster while fsck_05_FAT_Sense9 claims the chains of the
// found entries (owner k: FoundEntries[k]; FoundEntryCount: the root).
struct Owners {
  // Sure owners: from an entry's start, the clusters both tables agree on
  // (a directory, like the root, owns its first cluster only). A cluster
  // two entries own surely is shared; the repair cannot tell whose it is.
  std::vector<int32_t> sure;                        // the first sure owner; -1 none
  std::set<std::pair<int32_t, int32_t>> alsoSure;   // (cluster, owner) beyond the first
  std::vector<uint8_t> fileSure;                    // a file owns it surely
  std::vector<int32_t> claimed;                     // the first entry that claimed it; -1 none
  std::vector<int32_t> stamp;                       // the walk that visited it last
  int32_t walk = 0;
  // Per owner: the number of clusters its chain keeps, where the chain ran
  // on past the entry's own cluster count into another entry's clusters
  // (it ends there); -1: not cut.
  std::vector<int32_t> cutAt;
  std::vector<uint8_t> cutBefore;   // cut before another entry's clusters, inside its own count

  void Reset(int32_t last) {
    sure.assign(size_t(last) + 1, -1);
    alsoSure.clear();
    fileSure.assign(size_t(last) + 1, 0);
    claimed.assign(size_t(last) + 1, -1);
    stamp.assign(size_t(last) + 1, 0);
    walk = 0;
    cutAt.clear();
    cutBefore.clear();
  }
  int32_t CutAt(int32_t k) const { return k >= 0 && size_t(k) < cutAt.size() ? cutAt[size_t(k)] : -1; }
  void ClaimSure(int32_t x, int32_t k) {
    if (sure[size_t(x)] < 0)
      sure[size_t(x)] = k;
    else if (sure[size_t(x)] != k)
      alsoSure.insert({x, k});
  }
  bool IsSure(int32_t x, int32_t k) const { return sure[size_t(x)] == k || alsoSure.count({x, k}) > 0; }
  bool ClaimedByOther(int32_t x, int32_t k) const { return claimed[size_t(x)] >= 0 && claimed[size_t(x)] != k; }
};
Owners owners;

// Step 6 removes entries that start at the root or outside the disk; those
// and entries the scan marked as invalid pointers claim nothing.
bool ClaimsClusters(const FoundEntry& r) {
  return !r.InvalidPointer && r.StartCluster >= 1 && ValidIndex(r.StartCluster);
}

// Calls visit(x, i) for the clusters FoundEntries[k] surely owns from its
// start, the i-th (from 0) being x, at most `most` of them: those both
// tables agree on (a directory: its first cluster). Each index once.
template <class Visit>
void WalkSure(int32_t k, int64_t most, Visit visit) {
  const FoundEntry& r = FoundEntries[size_t(k)];
  if (!ClaimsClusters(r)) return;
  const int32_t last = Last();
  const int32_t walk = ++owners.walk;
  int32_t x = r.StartCluster;
  for (int32_t i = 0; i <= last && i < most && owners.stamp[size_t(x)] != walk; ++i) {
    owners.stamp[size_t(x)] = walk;
    // A cluster both tables have free is nobody's for sure; one table's
    // free entry (a table wiped or lost there) contradicts nothing.
    const int32_t v1 = FAT1[size_t(x)].Value, v2 = FAT2[size_t(x)].Value;
    if (v1 == kFatFree && v2 == kFatFree) break;
    visit(x, i);
    const int32_t v = v1 == kFatFree ? v2 : v1;
    if (r.IsDir || (v1 != v2 && v1 != kFatFree && v2 != kFatFree) || !ValidIndex(v)) break;
    x = v;
  }
}

// Collects the sure owners of the entries 0 .. count - 1 and of the root.
//
// A file's entry says by its cluster count where the recording ends. Where
// its chain runs on past that count into clusters another entry's chain
// holds (one damaged link at the end of a chain: into another recording,
// its start, a folder's cluster), the clusters beyond the count are not
// the file's: its chain is cut at its count (cutAt), so that both keep
// their own bytes. The cut is made only where no other chain passes
// through the file's last counted cluster (an end mark there would cut
// that chain too). Where the counts of two entries claim the same clusters
// (a start inside another chain, a duplicated entry) nothing can choose,
// and both stay as they are. All cuts are decided on the chains as found,
// so the order of the entries does not matter.
void CollectSureOwners(int32_t count) {
  const int32_t last = Last();
  owners.Reset(last);
  owners.ClaimSure(0, count);
  owners.cutAt.assign(size_t(std::max(count, 0)) + 1, -1);
  std::vector<int32_t> walkers(size_t(last) + 1, 0);   // how many chains pass through it
  walkers[0] = 1;                                      // the root
  for (int32_t k = 0; k < count; ++k) WalkSure(k, INT64_MAX, [&](int32_t x, int32_t) { ++walkers[size_t(x)]; });
  // The entries whose chains agree with their own counts (a directory is
  // one cluster), and how many of them pass through each cluster.
  std::vector<uint8_t> agrees(size_t(std::max(count, 0)), 0);
  std::vector<int32_t> agreeing(size_t(last) + 1, 0);
  for (int32_t k = 0; k < count; ++k) {
    int32_t length = 0;
    WalkSure(k, INT64_MAX, [&](int32_t, int32_t) { ++length; });
    agrees[size_t(k)] = FoundEntries[size_t(k)].IsDir ? length == 1 : length == FoundEntries[size_t(k)].ClusterCount;
    if (agrees[size_t(k)]) WalkSure(k, INT64_MAX, [&](int32_t x, int32_t) { ++agreeing[size_t(x)]; });
  }
  owners.cutBefore.assign(owners.cutAt.size(), 0);
  for (int32_t k = 0; k < count; ++k) {
    const FoundEntry& r = FoundEntries[size_t(k)];
    if (r.IsDir) continue;
    const int32_t own = std::max<int32_t>(r.ClusterCount, 1);
    bool lastOwnAlone = false, intoOther = false;
    // Where a chain that disagrees with its count runs into the clusters of
    // one that agrees, they are the other's: the chain ends before them
    // (its first `into` clusters stay), unless it starts there.
    int32_t into = -1;
    bool aloneBefore = false;
    WalkSure(k, INT64_MAX, [&](int32_t x, int32_t i) {
      if (i == own - 1) lastOwnAlone = walkers[size_t(x)] == 1;
      if (i >= own && walkers[size_t(x)] > 1) intoOther = true;
      if (into < 0 && !agrees[size_t(k)] && agreeing[size_t(x)] > 0) into = i;
      if (into < 0) aloneBefore = walkers[size_t(x)] == 1;
    });
    if (into > 0 && into < own && aloneBefore) {
      owners.cutAt[size_t(k)] = into;
      owners.cutBefore[size_t(k)] = 1;
    } else if (lastOwnAlone && intoOther) {
      owners.cutAt[size_t(k)] = own;
    }
  }
  for (int32_t k = 0; k < count; ++k) {
    const int32_t cut = owners.cutAt[size_t(k)];
    const bool file = !FoundEntries[size_t(k)].IsDir;
    WalkSure(k, cut >= 0 ? cut : INT64_MAX, [&](int32_t x, int32_t) {
      owners.ClaimSure(x, k);
      if (file) owners.fileSure[size_t(x)] = 1;
    });
  }
}

// The chain of entry `owner` from `cluster` in one table, ended before a
// cluster another entry owns, so that a chain is never copied into the
// other table where it runs into another entry's clusters. A cluster the
// entry shares surely with an entry that claimed it already ends the walk
// (IntoShared) and stays as that entry left it. Each index once.
struct OwnChain {
  std::vector<int32_t> Clusters;
  bool IntoShared = false;
};
OwnChain WalkOwnChain(int32_t cluster, bool inFAT1, int32_t owner) {
  OwnChain w;
  const auto& table = FatTable(inFAT1);
  const int32_t walk = ++owners.walk;
  int32_t x = cluster;
  w.Clusters.push_back(x);
  owners.stamp[size_t(x)] = walk;
  if (owners.ClaimedByOther(x, owner)) {
    w.IntoShared = true;
    return w;
  }
  const int32_t cut = owners.CutAt(owner);
  for (int32_t steps = 0; steps <= Last(); ++steps) {
    if (cut >= 0 && int32_t(w.Clusters.size()) >= cut) break;   // its own count ends it
    const int32_t v = table[size_t(x)].Value;
    if (!ValidIndex(v) || owners.stamp[size_t(v)] == walk) break;
    const bool other = owners.ClaimedByOther(v, owner);
    if (!owners.IsSure(v, owner) && (other || owners.sure[size_t(v)] >= 0)) break;
    w.Clusters.push_back(v);
    owners.stamp[size_t(v)] = walk;
    if (other) {
      w.IntoShared = true;
      break;
    }
    x = v;
  }
  return w;
}

// Both tables' entry x := value; true when one of them changed.
bool SetBoth(int32_t x, int32_t value) {
  if (FAT1[size_t(x)].Value == value && FAT2[size_t(x)].Value == value) return false;
  FAT1[size_t(x)].Value = FAT2[size_t(x)].Value = value;
  return true;
}

}  // namespace

bool SyncChains(int32_t cluster, bool fromFAT1, int32_t level, int32_t owner) {
  if (!ValidIndex(cluster)) return false;
  if (owners.sure.size() != size_t(Last()) + 1) owners.Reset(Last());
  const OwnChain w = WalkOwnChain(cluster, fromFAT1, owner);
  bool changed = false;
  const size_t n = w.Clusters.size();
  for (size_t i = 0; i < n; ++i) {
    const int32_t x = w.Clusters[i];
    if (w.IntoShared && i + 1 == n) break;   // as the entry it is shared with left it
    if (owners.claimed[size_t(x)] < 0) owners.claimed[size_t(x)] = owner;
    Sense[size_t(x)] = level;
    if (SetBoth(x, i + 1 < n ? w.Clusters[i + 1] : kFatEnd)) changed = true;
  }
  return changed;
}

void fsck_05_FAT_Sense9() {
  core::ProcScope scope("fsck_05_FAT_Sense9");
  const int32_t last = Last();
  if (last < 0) return;
  const int32_t count = std::min<int32_t>(FoundEntryCount, int32_t(FoundEntries.size()));
  const int32_t root = count;   // owner number of the root directory
  CollectSureOwners(count);
  int32_t synced = 0, kept = 0, directories = 0, cut = 0, cutBefore = 0;

  // A directory, and the root, is one cluster: its chain ends there (what
  // followed becomes a lost chain and comes back as a file), unless a file
  // surely owns that cluster too.
  auto oneCluster = [&](int32_t s, int32_t k) {
    Sense[size_t(s)] = SenseReferenced;
    if (owners.claimed[size_t(s)] < 0) owners.claimed[size_t(s)] = k;
    if (owners.fileSure[size_t(s)]) {
      // Shared with a file: left as the file's chain has it, but in use in
      // both tables.
      int32_t& a = FAT1[size_t(s)].Value;
      int32_t& b = FAT2[size_t(s)].Value;
      if ((a == kFatFree) != (b == kFatFree)) {
        a = b = a == kFatFree ? b : a;
        ++synced;
      }
      return;
    }
    const bool freeBoth = FAT1[size_t(s)].Value == kFatFree && FAT2[size_t(s)].Value == kFatFree;
    const bool pointer = ValidIndex(FAT1[size_t(s)].Value) || ValidIndex(FAT2[size_t(s)].Value);
    if (!SetBoth(s, kFatEnd)) return;
    if (freeBoth) ++kept;
    else if (pointer) ++directories;
    else ++synced;
  };
  oneCluster(0, root);

  for (int32_t k = 0; k < count; ++k) {
    const FoundEntry& r = FoundEntries[size_t(k)];
    if (!ClaimsClusters(r)) continue;
    const int32_t s = r.StartCluster;
    if (r.IsDir) {
      oneCluster(s, k);
      continue;
    }
    // The longer chain wins; at equal length FAT2's.
    const size_t n1 = WalkOwnChain(s, true, k).Clusters.size(), n2 = WalkOwnChain(s, false, k).Clusters.size();
    const bool freeStart = FAT1[size_t(s)].Value == kFatFree && FAT2[size_t(s)].Value == kFatFree;
    if (SyncChains(s, n1 > n2, SenseReferenced, k))
      ++(owners.cutBefore[size_t(k)] ? cutBefore
         : owners.CutAt(k) >= 0      ? cut
         : freeStart && std::max(n1, n2) == 1 ? kept
                                               : synced);
  }

  ReportCount(synced, "FAT: synchronized 1 entry", "FAT: synchronized ", " entries");
  ReportCount(kept, "FAT: marked 1 free start cluster of a directory entry as used", "FAT: marked ",
              " free start clusters of directory entries as used");
  ReportCount(directories, "FAT: ended the chain of 1 directory after its first cluster",
              "FAT: ended the chains of ", " directories after their first cluster");
  ReportCount(cut, "FAT: ended 1 chain at its entry's cluster count, where it ran on into another entry's clusters",
              "FAT: ended ", " chains at their entries' cluster counts, where they ran on into other entries' clusters");
  ReportCount(cutBefore, "FAT: ended 1 chain before the clusters of another entry whose chain agrees with its cluster count",
              "FAT: ended ", " chains before the clusters of other entries whose chains agree with their cluster counts");
  if (synced + kept + directories + cut + cutBefore > 0) FatChanged = true;
  owners = Owners();
}

void fsck_05_FAT_FixSenseCrosslink() {
  core::ProcScope scope("fsck_05_FAT_FixSenseCrosslink");
  const int32_t last = Last();
  int32_t n1 = 0, n2 = 0;
  for (int32_t i = 0; i <= last; ++i) {
    if (Sense[size_t(i)] != 0) continue;
    const int32_t v1 = FAT1[size_t(i)].Value;
    if (ValidIndex(v1) && Sense[size_t(v1)] > 0) {
      FAT1[size_t(i)].Value = kFatEnd;
      ++n1;
    }
    const int32_t v2 = FAT2[size_t(i)].Value;
    if (ValidIndex(v2) && Sense[size_t(v2)] > 0) {
      FAT2[size_t(i)].Value = kFatEnd;
      ++n2;
    }
  }
  ReportCount(n1, "FAT - terminated 1 crosslinked chain in FAT1", "FAT - terminated ", " crosslinked chains in FAT1");
  ReportCount(n2, "FAT - terminated 1 crosslinked chain in FAT2", "FAT - terminated ", " crosslinked chains in FAT2");
  if (n1 + n2 > 0) FatChanged = true;
}

void fsck_05_FAT_Sense8() {
  const int32_t last = Last();
  for (int32_t i = 0; i <= last; ++i) {
    const TopfFatEntry& a = FAT1[size_t(i)];
    const TopfFatEntry& b = FAT2[size_t(i)];
    if (a.Value == kFatFree && b.Value == kFatFree && a.NrRef == 0 && b.NrRef == 0)
      Sense[size_t(i)] = SenseFree;
  }
}

// ------------------------------------------------------------ lost chains

void fsck_05_FAT_LostCrosslinkedChains() {
  core::ProcScope scope("fsck_05_FAT_LostCrosslinkedChains");
  const int32_t last = Last();
  // Each round takes the longest chain not claimed yet while FAT1 holds a
  // crosslink. The counts are made again only after a claim changed an
  // entry that another one refers to (whose chain, and length, it changed):
  // lost chains that all run into one cluster (a FAT holding a repeated
  // pattern) are not counted once per chain.
  std::vector<Head> order;
  size_t next = 0;
  bool recount = true;
  int32_t crosslinked = 0;   // FAT1 entries (up to last) that two or more refer to
  // Each round claims at least one unclaimed index, so the rounds end.
  for (int32_t round = 0; round <= last + 1; ++round) {
    if (recount) {
      CalcFATXRefs();
      crosslinked = 0;
      for (int32_t i = 0; i <= last; ++i) crosslinked += FAT1[size_t(i)].NrRef > 1;
      if (crosslinked == 0) return;
      CalcFATChainLengths();
      order = LongestFirst(false);
      next = 0;
      recount = false;
    }
    if (crosslinked == 0) return;
    while (next < order.size() && Sense[size_t(order[next].Index)] != 0) ++next;
    if (next == order.size() || !ValidIndex(order[next].Index)) return;
    const Head head = order[next++];
    LongestStart = head.Index;
    LongestLength = head.Length;
    LongestInFAT1 = head.InFAT1;
    ++LostCounter;
    std::vector<Edit> edits;
    const int32_t walked = ClaimLostChain(head.Index, head.InFAT1, head.Length, SenseLostCrosslinked, &edits);
    // The references the claim moved.
    for (const Edit& e : edits) {
      auto& table = FatTable(e.InFAT1);
      auto refer = [&](int32_t v, int32_t by) {
        if (v < 0 || v >= core::kFatEntries) return;
        const bool counted = e.InFAT1 && v <= last;
        if (counted) crosslinked -= table[size_t(v)].NrRef > 1;
        table[size_t(v)].NrRef += by;
        if (counted) crosslinked += table[size_t(v)].NrRef > 1;
      };
      refer(e.Before, -1);
      refer(e.After, 1);
    }
    for (const Edit& e : edits) recount = recount || FatTable(e.InFAT1)[size_t(e.Index)].NrRef > 0;
    fsck_05_FAT_CreateFile(walked);
    if (pending.Directory) return;   // the rest waits for the next round
  }
}

bool fsck_05_FAT_LostDirectories() {
  core::ProcScope scope("fsck_05_FAT_LostDirectories");
  const int32_t last = Last();
  CalcFATXRefs();
  CalcFATChainLengths();
  struct Candidate {
    int32_t Start, Length1, Length2;
  };
  std::vector<Candidate> candidates;
  std::set<int32_t> inside;   // lost directories that another lost directory holds
  for (int32_t i = 0; i <= last; ++i) {
    if (Sense[size_t(i)] != 0) continue;
    const int32_t l1 = FAT1[size_t(i)].NrRef == 0 ? FAT1[size_t(i)].Length : 0;
    const int32_t l2 = FAT2[size_t(i)].NrRef == 0 ? FAT2[size_t(i)].Length : 0;
    if (l1 <= 0 && l2 <= 0) continue;
    if (!StartsDirectory(i)) continue;
    candidates.push_back({i, l1, l2});
    for (int32_t s = 2; s < SlotsPerCluster(); ++s) {
      const uint8_t a = SlotAttribute(s);
      const int32_t c = GetTopfLong(s * slot::kBytes + slot::kStartCluster);
      if ((a == slot::kDirectory || a == slot::kRecycle) && c != i) inside.insert(c);
    }
  }
  // Only the outermost ones come back: the walk of the next round finds
  // the others inside them. (Lost directories that only hold each other
  // come back from the lowest.)
  bool outermost = false;
  for (const Candidate& c : candidates) outermost = outermost || !inside.count(c.Start);
  bool recovered = false;
  for (const Candidate& c : candidates) {
    if (outermost ? inside.count(c.Start) > 0 : c.Start != candidates.front().Start) continue;
    if (Sense[size_t(c.Start)] != 0) continue;   // taken by a chain recovered just now
    LongestStart = c.Start;
    LongestInFAT1 = c.Length1 >= c.Length2;
    LongestLength = std::max(c.Length1, c.Length2);
    ++LostCounter;
    const int32_t walked = ClaimLostChain(c.Start, LongestInFAT1, LongestLength, SenseLost);
    fsck_05_FAT_CreateFile(walked);
    recovered = recovered || pending.Directory;
  }
  return recovered;
}

void fsck_05_FAT_LostChains() {
  core::ProcScope scope("fsck_05_FAT_LostChains");
  const int32_t last = Last();
  // Each round takes the first head not claimed yet.
  std::vector<Head> heads;
  size_t next = 0;
  bool recount = true;
  for (int32_t round = 0; round <= last + 1; ++round) {
    // Counted again after a claim that changed an entry: copying a chain
    // over the other table's entries leaves that table's old successors
    // unreferenced, and they are lost chains of this run, not of the next
    // one. A claim that changed nothing leaves every count as it was, so a
    // disk with thousands of lost chains is not counted once per chain.
    if (recount) {
      CalcFATXRefs();
      CalcFATChainLengths();
      heads = LongestFirst(true);
      next = 0;
      recount = false;
    }
    while (next < heads.size() && Sense[size_t(heads[next].Index)] != 0) ++next;
    if (next == heads.size()) return;
    const Head head = heads[next++];
    LongestStart = head.Index;
    LongestLength = head.Length;
    LongestInFAT1 = head.InFAT1;
    ++LostCounter;
    std::vector<Edit> edits;
    const int32_t walked = ClaimLostChain(head.Index, head.InFAT1, head.Length, SenseLost, &edits);
    recount = !edits.empty();
    fsck_05_FAT_CreateFile(walked);
    if (pending.Directory) return;   // the rest waits for the next round
  }
}

namespace {

// The slots the main program's loader reads back: a recovered entry past
// them would stay hidden from it.
int32_t WritableSlots() {
  return std::min<int32_t>(SlotsPerCluster(), core::kDirReadableBytes / slot::kBytes);
}

}  // namespace

void fsck_05_FAT_CreateFile(int32_t clusters) {
  core::ProcScope scope("fsck_05_FAT_CreateFile");
  const int32_t count = std::min<int32_t>(FoundEntryCount, int32_t(FoundEntries.size()));
  // Only the folder the root holds: a file with an empty name in
  // \DataFiles\ has the same path text. (Found once a round.)
  int32_t dataFiles = pending.DataFiles >= 0 ? pending.DataFiles : 0;
  for (int32_t k = 0; k < count && pending.DataFiles < 0; ++k) {
    const FoundEntry& e = FoundEntries[size_t(k)];
    if (e.IsDir && e.DirCluster == 0 && Lower(e.Name) == "\\datafiles\\") dataFiles = e.StartCluster;
  }

  const int32_t start = LongestStart;
  const bool isDir = StartsDirectory(start);
  auto nameOf = [isDir] {
    return isDir ? "LostDirectory" + FourDigits(LostCounter) : "LostCluster" + FourDigits(LostCounter) + ".rec";
  };
  auto notCreated = [&](const std::string& why) { Addinfo(kError, "Files - " + why + "; " + nameOf() + " not created"); };

  if (pending.DataFiles < 0) {   // the first entry of this round
    if (!ValidIndex(dataFiles)) {
      notCreated("Invalid cluster pointer of \\DataFiles\\ (" + std::to_string(dataFiles) + ")");
      return;
    }
    if (!ReadTopfCluster(dataFiles + 1)) {
      notCreated("Couldn't read cluster " + std::to_string(dataFiles));
      return;
    }
    if (!IsDirectoryCluster()) {
      notCreated("Cluster " + std::to_string(dataFiles) + " is not a directory cluster");
      return;
    }
    pending.DataFiles = dataFiles;
    pending.Cluster = ClusterBuffer;
    // A name an entry of \DataFiles\ has already (left by an earlier run)
    // is not given twice.
    pending.Taken.clear();
    pending.Unused = -1;
    for (int32_t k = 0, slots = SlotsPerCluster(); k < slots; ++k) {
      if (SlotAttribute(k) == slot::kUnused && pending.Unused < 0 && k < WritableSlots()) pending.Unused = k;
      if (SlotInUse(SlotAttribute(k))) pending.Taken.insert(Lower(SlotName(k * slot::kBytes)));
    }
  }
  std::swap(ClusterBuffer, pending.Cluster);
  struct SwapBack {
    ~SwapBack() { std::swap(ClusterBuffer, pending.Cluster); }
  } swapBack;

  const int32_t slots = SlotsPerCluster();
  for (int32_t tries = 0; tries < slots && pending.Taken.count(Lower(nameOf())); ++tries) ++LostCounter;
  const std::string name = nameOf();
  const int32_t s = pending.Unused;
  if (s < 0) {
    notCreated("No unused slot in cluster " + std::to_string(dataFiles));
    return;
  }

  const int32_t off = s * slot::kBytes;
  std::fill_n(ClusterBuffer.begin() + off, slot::kBytes, uint8_t(0));
  ClusterBuffer[size_t(off)] = isDir ? slot::kDirectory : slot::kRecording;
  SetTopfDate(off + slot::kDate, NowDateValue());
  SetTopfLong(off + slot::kStartCluster, start);
  SetTopfLong(off + slot::kClusterCount, clusters);
  SetTopfString(off + slot::kName, name);
  KeepCheckByte(off);
  // The folder's end takes the entry in, in the same write.
  PutEntryIntoFolder(dataFiles, s, &pending.Cleared);
  pending.Taken.insert(Lower(name));
  pending.Unused = -1;
  for (int32_t k = s + 1; k < WritableSlots() && pending.Unused < 0; ++k)
    if (SlotAttribute(k) == slot::kUnused) pending.Unused = k;

  FoundEntry r;
  r.Name = "\\DataFiles\\" + name;
  r.IsDir = isDir;
  r.StartCluster = start;
  r.ClusterCount = clusters;
  r.Size = double(SectorsPerCluster) * 512.0 * double(clusters);
  r.DirCluster = dataFiles;
  r.Slot = s;
  r.ParentCluster = 0;
  pending.Entries.push_back(r);
  pending.Directory = pending.Directory || isDir;
}

void fsck_05_FAT_WriteRecovered() {
  core::ProcScope scope("fsck_05_FAT_WriteRecovered");
  // The FAT that ends the recovered chains reaches the disk before the
  // entries that name them: a cut between the two writes leaves chains that
  // nothing names, which the next run recovers again, never an entry on a
  // chain that still runs on into another entry's clusters.
  bool fatWritten = true;
  if (FatChanged) {
    fatWritten = SaveTopfFAT();
    if (!fatWritten) ReportSystemClusterUnreadable("FAT - ");
    else fatWritten = WriteBackCluster(0, true, "FAT - ");
  }
  PendingEntries entries;
  std::swap(entries, pending);
  struct FatOk {
    ~FatOk() {
      if (!FatChanged) Addinfo(kOK, "FAT");
    }
  } fatOk;
  if (entries.Entries.empty() || !fatWritten) return;
  ClusterBuffer = entries.Cluster;
  MarkClusterBufferLoaded();
  if (entries.Cleared > 0)
    Addinfo(kFixed, "Files - " + std::to_string(entries.Cleared) +
                        (entries.Cleared == 1 ? " slot beyond the end of directory '\\DataFiles\\' without an entry of "
                                                "its own"
                                              : " slots beyond the end of directory '\\DataFiles\\' without an entry of "
                                                "their own") +
                        ": set to unused");
  if (!WriteBackCluster(entries.DataFiles + 1, false, "Files - ")) return;

  // Each recovered entry is recorded, and a recovered directory asks for
  // the restart of steps 1 to 5, only now that its slot is written.
  const int32_t capacity = std::min<int32_t>(kMaxFoundEntries, int32_t(FoundEntries.size()));
  for (const FoundEntry& r : entries.Entries) {
    const std::string name = r.Name.substr(r.Name.rfind('\\') + 1);
    if (r.IsDir) {
      RevealedFolders[r.StartCluster] = false;
      LostDirectoryRecovered = true;
      Addinfo(kInfo, "Files - the lost cluster check has recovered a subdirectory. This requires to restart all tests.");
      Addinfo("", std::string(80, '-'));
      if (FoundEntryCount < capacity) FoundEntries[size_t(FoundEntryCount)] = r;
    } else {
      Addinfo(kInfo, "Files - Created File " + name + " (" + FileSizeToString(r.Size, 1) + ")");
      if (FoundEntryCount < capacity) FoundEntries[size_t(FoundEntryCount++)] = r;
    }
  }
}

// ------------------------------------------------------------ the step

void fsck_05_FAT() {
  StepResults results;
  core::ProcScope scope("fsck_05_FAT");
  FatChanged = false;
  FatTablesLoaded = false;
  if (SkippedWithoutDirectoryData("FAT structures")) return;
  LostDirectoryRecovered = false;
  if (!ReadTopfCluster(0)) {
    ReportSystemClusterUnreadable("FAT - ");
    return;
  }
  LoadTopfFAT();
  FatTablesLoaded = true;

  fsck_05_FAT_ClearInvalidPointers();
  fsck_05_FAT_StopBrokenChains();
  fsck_05_FAT_StopCircularChains();
  CalcFATXRefs();

  std::fill(Sense.begin(), Sense.end(), 0);
  Sense[0] = SenseReferenced;

  fsck_05_FAT_Sense9();
  CalcFATXRefs();
  fsck_05_FAT_FixSenseCrosslink();
  fsck_05_FAT_Sense8();
  fsck_05_FAT_DropOneCopyChains();

  // Lost directories come back first: the next round of steps 1 to 5 walks
  // them and claims their contents, which must not be recovered a second
  // time as separate files now.
  pending = PendingEntries();
  if (!fsck_05_FAT_LostDirectories()) {
    fsck_05_FAT_LostCrosslinkedChains();
    fsck_05_FAT_LostChains();
  }
  fsck_05_FAT_WriteRecovered();
}

}  // namespace checker
