// Rebuilding matched chains into pending recovered files of side 0.
#include "tools/rebuild.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include <QString>

#include "core/cluster_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "mainwindow/form1.h"
#include "tools/defrag_window.h"
#include "tools/found_clusters.h"
#include "transfer/job_state.h"

namespace tools {

namespace {

// The recording header's bytes that the label may be taken from.
constexpr size_t kHeaderBytes = 1656;
// A recorder name keeps at most 94 characters; "Recovered_0001_" and ".rec"
// take 19 of them.
constexpr size_t kMaxLabelBytes = 94 - 19;

// Bytes from `offset` up to the first zero (within the header), keeping
// only 32..127 and 160..255; "\" would split the path and is dropped too.
std::string HeaderText(const uint8_t* header, size_t length, size_t offset) {
  std::string out;
  const size_t end = std::min(length, kHeaderBytes);
  for (size_t i = offset; i < end && header[i] != 0; ++i) {
    const uint8_t b = header[i];
    if (b == '\\') continue;
    if ((b >= 32 && b <= 127) || b >= 160) out += char(b);
  }
  const size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const size_t last = out.find_last_not_of(' ');
  return out.substr(first, last - first + 1);
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x + 32);
    if (y >= 'A' && y <= 'Z') y = char(y + 32);
    if (x != y) return false;
  }
  return true;
}

// Entries of side 0's list that are in use.
int32_t ListedCount() {
  const core::DiskRec& d = core::Disk[0];
  return std::min<int32_t>(d.FileCount, int32_t(d.Files.size()));
}

bool NameTaken(const std::string& name) {
  const core::DiskRec& d = core::Disk[0];
  const int32_t count = ListedCount();
  for (int32_t i = 0; i < count; ++i)
    if (SameNameIgnoringCase(d.Files[size_t(i)].Name, name)) return true;
  return false;
}

// First entry of side 0's list whose StartCluster is `start`, -1 when none.
int32_t EntryStartingAt(int32_t start) {
  const core::DiskRec& d = core::Disk[0];
  const int32_t count = ListedCount();
  for (int32_t i = 0; i < count; ++i) {
    const core::FileRec& f = d.Files[size_t(i)];
    if (f.StartCluster == start && f.Name != core::kErasedName) return i;
  }
  return -1;
}

struct Chain {
  int32_t FirstRec = -1;            // table index of the chain's first hit
  std::vector<int32_t> Clusters;    // FAT indexes in playing order
  int32_t Extends = -1;             // the file whose chain it continues, -1 none
  int32_t ExtendsFrom = 0;          // that file's last cluster
};

// Side 0's FAT indexes the rebuild may link, 1 .. Last; every walk takes at
// most Bound steps.
struct FatRange {
  int32_t Last = 0;
  int32_t Bound = 1;
  bool Holds(int32_t c) const { return c >= 1 && c <= Last; }
};

// What a listed entry reaches is protected: its owner, walked from every
// entry's start (the start itself even when the FAT calls it free); -1 for
// a cluster no entry reaches.
std::vector<int32_t> ClusterOwners(const FatRange& fat) {
  const core::DiskRec& d = core::Disk[0];
  const int32_t fileCount = ListedCount();
  std::vector<int32_t> owner(size_t(fat.Bound), -1);
  for (int32_t i = 0; i < fileCount; ++i) {
    const core::FileRec& f = d.Files[size_t(i)];
    if (f.Name == core::kErasedName) continue;
    int32_t c = f.StartCluster;
    for (int32_t steps = 0; steps < fat.Bound && fat.Holds(c) && owner[size_t(c)] == -1;
         ++steps) {
      owner[size_t(c)] = i;
      c = d.FAT[size_t(c)].Next;
    }
  }
  return owner;
}

constexpr int32_t kNoLimit = INT32_MAX;
struct EntryTail {
  int32_t Room = 0;   // clusters a found chain may add
  int32_t Last = 0;   // the last cluster its chain reaches
};

// How many clusters a found chain may add behind each entry's chain: none
// for a recording that was whole before the scan (its chain ends on the end
// mark and holds the clusters its entry counts), for a folder, and for a
// chain that runs in a circle. A chain that was cut (a repair ended it
// before its count, or a link broke) is continued: up to the clusters its
// entry counts, which are its own; a broken chain that holds its count
// already, without that limit.
std::vector<EntryTail> ContinuationRoom(const FatRange& fat) {
  const core::DiskRec& d = core::Disk[0];
  const int32_t fileCount = ListedCount();
  std::vector<EntryTail> tails(size_t(std::max(fileCount, 0)));
  for (int32_t i = 0; i < fileCount; ++i) {
    const core::FileRec& f = d.Files[size_t(i)];
    if (f.IsDir || f.Name == core::kErasedName || !fat.Holds(f.StartCluster)) continue;
    int32_t held = 1;
    int32_t c = f.StartCluster;
    for (int32_t next = d.FAT[size_t(c)].Next; fat.Holds(next) && held < fat.Bound;
         next = d.FAT[size_t(c)].Next) {
      c = next;
      ++held;
    }
    if (held >= fat.Bound) continue;   // a circle
    EntryTail& t = tails[size_t(i)];
    t.Last = c;
    if (held < f.ClusterCount) t.Room = f.ClusterCount - held;
    else if (d.FAT[size_t(c)].Next != -1) t.Room = kNoLimit;
  }
  return tails;
}

// Side 0's FAT range as the rebuild uses it.
FatRange SideRange() {
  FatRange fat;
  fat.Last = core::LastFatIndex(0);
  fat.Bound = std::max(fat.Last, 0) + 1;
  return fat;
}

// The file a found chain may continue behind cluster `c`, -1 none: `c` is
// the last cluster an entry reaches (an end mark, or a free link of a chain
// that broke there), the entry has room for a continuation, and no found
// chain continues it yet. What follows a whole recording comes back as a
// file of its own.
int32_t FileEndingAt(int32_t c, const std::vector<int32_t>& owner,
                     const std::vector<EntryTail>& tails, const std::vector<bool>& extended) {
  const core::DiskRec& d = core::Disk[0];
  const int32_t o = owner[size_t(c)];
  if (o < 0 || d.FAT[size_t(c)].Next > 0) return -1;
  if (tails[size_t(o)].Room <= 0 || extended[size_t(o)]) return -1;
  return o;
}

// The chains, from each chain start in table order along NextRec. A cluster
// that may not be linked splits its chain; a part that follows the last
// cluster of a cut file's chain continues that file as far as its room
// goes, and what follows then starts a chain of its own.
std::vector<Chain> CollectChains(const std::vector<int32_t>& owner, const FatRange& fat) {
  const std::vector<EntryTail> tails = ContinuationRoom(fat);
  // What may be linked: FAT indexes 1 .. LastCluster that no entry reaches,
  // free ones and those of lost chains, each once.
  std::vector<bool> usable(size_t(fat.Bound), false);
  for (int32_t c = 1; c <= fat.Last; ++c) usable[size_t(c)] = owner[size_t(c)] == -1;
  std::vector<bool> extended(size_t(std::max(ListedCount(), 0)), false);

  std::vector<Chain> chains;
  std::vector<bool> visited(size_t(FoundCount), false);
  for (int32_t r = 0; r < FoundCount; ++r) {
    const FoundCluster& start = FoundClusters[size_t(r)];
    if (start.PrevRec != -1 || start.Excluded || visited[size_t(r)]) continue;
    Chain current;
    size_t limit = kNoLimit;   // clusters the current chain may take
    int32_t extend = -1;       // the file whose last cluster came just before
    int32_t extendFrom = 0;
    for (int32_t x = r; x >= 0 && x < FoundCount && !visited[size_t(x)];
         x = FoundClusters[size_t(x)].NextRec) {
      visited[size_t(x)] = true;
      const FoundCluster& hit = FoundClusters[size_t(x)];
      const int32_t c = hit.Cluster;
      const bool inRange = !hit.Excluded && fat.Holds(c);
      if (inRange && usable[size_t(c)]) {
        usable[size_t(c)] = false;
        if (current.Clusters.size() >= limit) {
          chains.push_back(std::move(current));
          current = Chain{};
        }
        if (current.Clusters.empty()) {
          current.FirstRec = x;
          current.Extends = extend;
          current.ExtendsFrom = extendFrom;
          limit = extend >= 0 ? size_t(tails[size_t(extend)].Room) : kNoLimit;
          if (extend >= 0) extended[size_t(extend)] = true;
        }
        current.Clusters.push_back(c);
        extend = -1;
        continue;
      }
      if (!current.Clusters.empty()) {
        chains.push_back(std::move(current));
        current = Chain{};
      }
      extend = inRange ? FileEndingAt(c, owner, tails, extended) : -1;
      if (extend >= 0) extendFrom = c;
    }
    if (!current.Clusters.empty()) chains.push_back(std::move(current));
  }
  return chains;
}

// A lost chain that gives clusters to a found chain is cut before them, so
// no two chains share a cluster.
void CutLostChains(const std::vector<Chain>& chains, const FatRange& fat) {
  core::DiskRec& d = core::Disk[0];
  std::vector<bool> taken(size_t(fat.Bound), false);
  for (const Chain& chain : chains)
    for (int32_t c : chain.Clusters) taken[size_t(c)] = true;
  for (int32_t c = 1; c <= fat.Last; ++c) {
    core::FatLink& link = d.FAT[size_t(c)];
    if (taken[size_t(c)]) {
      if (fat.Holds(link.Next) && !taken[size_t(link.Next)]) d.FAT[size_t(link.Next)].Prev = 0;
    } else if (fat.Holds(link.Next) && taken[size_t(link.Next)]) {
      link.Next = -1;
    }
  }
}

// Links one found chain in the in-memory FAT, behind the file it continues.
void LinkChain(const Chain& chain) {
  core::DiskRec& d = core::Disk[0];
  const auto& cl = chain.Clusters;
  d.FAT[size_t(cl[0])].Prev = 0;
  if (chain.Extends >= 0) {
    const int32_t end = chain.ExtendsFrom;
    d.FAT[size_t(end)].Next = cl[0];
    d.FAT[size_t(cl[0])].Prev = end;
  }
  for (size_t i = 0; i < cl.size(); ++i) {
    if (i + 1 < cl.size()) {
      d.FAT[size_t(cl[i])].Next = cl[i + 1];
      d.FAT[size_t(cl[i + 1])].Prev = cl[i];
    } else {
      d.FAT[size_t(cl[i])].Next = -1;
    }
  }
}

// The links of the found chains in the in-memory FAT.
void UpdateLinks(const std::vector<Chain>& chains, const FatRange& fat) {
  CutLostChains(chains, fat);
  for (const Chain& chain : chains) LinkChain(chain);
}

// The first cluster of the file a chain makes: that of the file it
// continues, else its own first.
int32_t ChainHead(const Chain& chain) {
  return chain.Extends >= 0 ? core::Disk[0].Files[size_t(chain.Extends)].StartCluster
                            : chain.Clusters[0];
}

// Clusters from the head to the end mark, bounded.
int32_t ClustersFromHead(int32_t head, const FatRange& fat) {
  const core::DiskRec& d = core::Disk[0];
  int32_t count = 0;
  for (int32_t c = head; fat.Holds(c) && count < fat.Bound; c = d.FAT[size_t(c)].Next) {
    ++count;
    if (d.FAT[size_t(c)].Next == -1) break;
  }
  return count;
}

// The number counts this run's entries from 1 (in `n`); a name the disk
// holds already is passed over, so no folder gets two entries of one name.
std::string UnusedRecoveredName(int32_t& n, const std::string& label, bool disaster) {
  std::string name;
  do {
    ++n;
    name = RecoveredName(n, label, disaster);
  } while (NameTaken(name) && n < 9999);
  return name;
}

// Appends the pending entry of a chain that no file owns, named after its
// recording header when the first hit has one.
void AddRecoveredEntry(const FoundCluster& firstHit, int32_t head, int32_t count, double size,
                       bool disaster, int32_t& n) {
  core::DiskRec& d = core::Disk[0];
  core::CheckArraySize(0);
  core::FileRec e;
  e.IsDir = false;
  e.EntryType = 0xD1;
  e.CryptValid = false;
  e.CryptFlags = 0;
  e.StartCluster = head;
  e.ClusterCount = count;
  e.Size = size;
  e.ServiceType = 0;
  e.RecDate = transfer::JobNow();
  e.Duration = 0;
  e.Recovered = true;
  e.HasRecHeader = firstHit.HasTFrc;
  e.DirCluster = -1;
  e.Slot = -1;
  e.VideoPid = firstHit.Pid;
  std::string label;
  if (firstHit.HasTFrc && core::ReadTopfCluster(0, head + 1)) {
    e.ServiceType = core::ClusterBuffer.size() > 13 ? core::ClusterBuffer[13] : 0;
    e.Duration = core::GetTopfWord(8);
    label = HeaderLabel(core::ClusterBuffer.data(), core::ClusterBuffer.size());
  }
  e.Name = UnusedRecoveredName(n, label, disaster);
  d.Files[size_t(d.FileCount)] = std::move(e);
  d.FileCount += 1;
}

// The found chain continues the file: it becomes pending (Write Recovered
// then writes its size into its directory entry) when the chain through it
// holds more clusters than before. Up to the clusters its entry counts the
// file keeps its size, duration and all; beyond them it grows. True when
// it changed.
bool GrowEntry(core::FileRec& e, const FoundCluster& firstHit, int32_t count, double size,
               bool continued) {
  if (count <= e.ClusterCount && !continued) return false;
  e.Recovered = true;
  e.VideoPid = firstHit.Pid;
  if (count > e.ClusterCount) {
    e.Duration = 0;
    e.Size = size;
    e.ClusterCount = count;
  }
  return true;
}

// One pending entry per chain that no file owns; a file a chain continues
// grows. Returns the number of new entries; `grownFiles` counts the others.
int32_t UpdateFiles(const std::vector<Chain>& chains, const FatRange& fat, bool disaster,
                    int32_t& grownFiles) {
  core::DiskRec& d = core::Disk[0];
  int32_t created = 0;
  int32_t n = 0;
  for (const Chain& chain : chains) {
    const FoundCluster& firstHit = FoundClusters[size_t(chain.FirstRec)];
    const int32_t head = ChainHead(chain);
    const int32_t count = ClustersFromHead(head, fat);
    const double size = double(count) * d.SectorsPerCluster * 512.0;
    const int32_t existing = chain.Extends >= 0 ? chain.Extends : EntryStartingAt(head);
    if (existing < 0) {
      AddRecoveredEntry(firstHit, head, count, size, disaster, n);
      ++created;
    } else if (GrowEntry(d.Files[size_t(existing)], firstHit, count, size, chain.Extends >= 0)) {
      ++grownFiles;
    }
  }
  return created;
}

// The left pane lists the folder of the recovered files again, now with the
// pending entries.
void ShowRecoveredFiles(bool disaster) {
  if (mainwindow::Form1* form = mainwindow::MainForm()) {
    form->SetPathLabel(0, disaster ? QStringLiteral("\\") : QStringLiteral("\\DataFiles\\"));
    form->ShowFileList(0);
    if (!DefragWindow()) form->EnableMenus();
  }
}

}  // namespace

std::string RecoveredName(int32_t n, const std::string& label, bool disasterMode) {
  char number[16];
  std::snprintf(number, sizeof number, "%04d", n);
  std::string name = disasterMode ? "\\" : "\\DataFiles\\";
  name += "Recovered_";
  name += number;
  if (!label.empty()) name += "_" + label;
  name += ".rec";
  return name;
}

std::string HeaderLabel(const uint8_t* header, size_t length) {
  const std::string service = HeaderText(header, length, 28);
  const std::string event = HeaderText(header, length, 87);
  std::string label = service;
  if (!service.empty() && !event.empty()) label += "_";
  label += event;
  if (label.size() > kMaxLabelBytes) {
    label.resize(kMaxLabelBytes);
    const size_t last = label.find_last_not_of(' ');
    label.resize(last == std::string::npos ? 0 : last + 1);
  }
  return label;
}

std::vector<bool> CutChainEnds() {
  const FatRange fat = SideRange();
  std::vector<bool> ends(size_t(fat.Bound), false);
  for (const EntryTail& t : ContinuationRoom(fat))
    if (t.Room > 0) ends[size_t(t.Last)] = true;
  return ends;
}

int32_t UpdateStructure(int32_t* grown) {
  core::ProcScope scope("UpdateStructure");
  const bool disaster = (core::Flags & core::FlagDisasterMode) != 0;
  const FatRange fat = SideRange();
  const std::vector<int32_t> owner = ClusterOwners(fat);
  const std::vector<Chain> chains = CollectChains(owner, fat);
  UpdateLinks(chains, fat);
  int32_t grownFiles = 0;
  const int32_t created = UpdateFiles(chains, fat, disaster, grownFiles);
  ResetOwnerCache();
  if (grown) *grown = grownFiles;

  ShowRecoveredFiles(disaster);
  return created;
}

}  // namespace tools
