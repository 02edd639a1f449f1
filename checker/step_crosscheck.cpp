// Check step 6: directory entries against the FAT chains, and the size
// fields of every directory ("." cluster count and free bytes, the
// SubDirSize in the parent).
//
// Sound on a damaged disk: an entry is changed only when its slot still
// holds it (Attribute and StartCluster as the scan found them); an entry
// removed for an invalid start (or one the scan found pointing at no
// directory) is not used again by the directory passes, but a standard
// folder of the root is never removed; a cluster reached as a directory
// that does not begin with "." is never changed; a file whose start cluster
// is free keeps its size (the FAT has no chain to measure); and the chain
// lengths always come from tables loaded from this disk. Two entries whose
// chains share clusters are reported as one "Error:" line naming both (the
// repair cannot tell whose the clusters are), and "OK:" "Files" is then not
// reported. Two file entries equal in name, start, cluster count and size
// (a move between folders cut between writing the new entry and taking
// the old one out) are one recording: the second found is taken out and
// named, and the first stays. A directory reached through two entries is
// sized through the one it was walked by, so its sizes settle. An entry never grows over
// clusters another entry's chain holds (the FAT step ends such a chain at
// the entry's count where only one count claims them), and a file's size
// fields that no file can have (a LastSectorBytes beyond a sector, a
// FreeBytes below 0 or beyond its last cluster) are mended without cutting
// off any byte the file may hold.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "checker/field_access.h"
#include "checker/step_dirscan.h"
#include "core/disk_format.h"
#include "checker/step_fat.h"
#include "checker/steps.h"
#include "core/error_handler.h"

namespace checker {

namespace {

void CouldNotRead(int32_t fatIndex) {
  Addinfo(kError, "Files - Couldn't read cluster " + std::to_string(fatIndex));
}

// The disk cluster ClusterBuffer holds (read by this step); -1 when none.
// Entries lie side by side in their directory's cluster: most reads of
// this step need no transfer, and the fixes of one cluster's entries are
// written back together, once the step moves on to another cluster (a
// folder of thousands of damaged entries is not written once per entry).
int32_t inBuffer = -1;
bool dirty = false;
// Pass C's second cluster buffer.
std::vector<uint8_t> beside_;   // the buffer holds fixes not written yet

// Writes the cluster in the buffer back when it holds fixes.
void Flush() {
  if (dirty && inBuffer >= 0) inBuffer = WriteBackCluster(inBuffer, false, "Files - ") ? inBuffer : -1;
  dirty = false;
}

bool ReadCluster(int32_t diskCluster) {
  if (inBuffer == diskCluster && diskCluster >= 0) return true;
  Flush();
  inBuffer = ReadTopfCluster(diskCluster) ? diskCluster : -1;
  return inBuffer >= 0;
}

// The cluster in the buffer (just read) was fixed: it is written back
// once the step moves on to another cluster (Flush).
void MarkForWriteBack(int32_t diskCluster) {
  if (inBuffer == diskCluster) dirty = true;
}

// Reads the directory cluster that holds r and checks r is still there.
bool ReadHoldingCluster(const FoundEntry& r) {
  if (r.DirCluster < 0 || !ReadCluster(r.DirCluster + 1)) {
    CouldNotRead(r.DirCluster);
    return false;
  }
  if (!SlotHoldsEntry(r)) {
    Addinfo(kError, "Files - Directory entry of '" + r.Name + "' has changed since the scan: left unchanged");
    return false;
  }
  return true;
}

// Reports every pair of entries whose chains in FAT1 share clusters (a
// directory owns its first cluster, the root FAT index 0) as one "Error:"
// line naming both and the shared clusters. The repair cannot tell whose
// clusters they are, so it changes neither. True when a line was added.
bool ReportSharedClusters(const std::vector<uint8_t>& skip) {
  const int32_t last = FatLastIndex();
  if (last < 0) return false;
  const int32_t count = int32_t(skip.size());
  std::vector<int32_t> owner(size_t(last) + 1, -1);
  std::vector<int32_t> visited(size_t(last) + 1, -1);
  owner[0] = count;   // the root
  std::map<std::pair<int32_t, int32_t>, std::vector<int32_t>> shared;
  for (int32_t k = 0; k < count; ++k) {
    const FoundEntry& r = FoundEntries[size_t(k)];
    if (skip[size_t(k)] || r.InvalidPointer || r.StartCluster < 1 || r.StartCluster > last) continue;
    int32_t x = r.StartCluster;
    for (int32_t steps = 0; steps <= last && visited[size_t(x)] != k; ++steps) {
      visited[size_t(x)] = k;
      if (owner[size_t(x)] < 0)
        owner[size_t(x)] = k;
      else
        shared[{owner[size_t(x)], k}].push_back(x);
      const int32_t v = FAT1[size_t(x)].Value;
      if (r.IsDir || v < 0 || v > last) break;
      x = v;
    }
  }
  for (const auto& [pair, clusters] : shared) {
    const std::string first = pair.first == count ? std::string("\\") : FoundEntries[size_t(pair.first)].Name;
    std::string list;
    for (size_t i = 0; i < clusters.size(); ++i) list += (i ? ", " : "") + std::to_string(clusters[i]);
    Addinfo(kError, "Files - '" + first + "' and '" + FoundEntries[size_t(pair.second)].Name + "' share " +
                        (clusters.size() == 1 ? "the cluster " : "the clusters ") + list);
  }
  return !shared.empty();
}

// How many of the found entries' chains in FAT1 pass through each cluster
// (a directory through its first cluster only, the root through FAT index
// 0), each chain counted once per cluster.
std::vector<int32_t> ChainsThrough(int32_t count, const std::vector<uint8_t>& skip) {
  const int32_t last = FatLastIndex();
  std::vector<int32_t> through(size_t(std::max(last, 0)) + 1, 0);
  if (last < 0) return through;
  std::vector<int32_t> visited(size_t(last) + 1, -1);
  through[0] = 1;
  for (int32_t k = 0; k < count; ++k) {
    const FoundEntry& r = FoundEntries[size_t(k)];
    if (skip[size_t(k)] || r.InvalidPointer || r.StartCluster < 1 || r.StartCluster > last) continue;
    int32_t x = r.StartCluster;
    for (int32_t steps = 0; steps <= last && visited[size_t(x)] != k; ++steps) {
      visited[size_t(x)] = k;
      ++through[size_t(x)];
      const int32_t v = FAT1[size_t(x)].Value;
      if (r.IsDir || v < 0 || v > last) break;
      x = v;
    }
  }
  return through;
}

// True when the chain of r beyond its first `own` clusters passes through a
// cluster another entry's chain holds too (growing r would take that
// entry's bytes into r).
bool RunsIntoOtherChain(const FoundEntry& r, int32_t own, const std::vector<int32_t>& through) {
  const int32_t last = FatLastIndex();
  int32_t x = r.StartCluster;
  for (int32_t i = 0; i <= last && x >= 0 && x <= last; ++i) {
    if (i >= own && through[size_t(x)] > 1) return true;
    const int32_t v = FAT1[size_t(x)].Value;
    if (v < 0 || v > last) break;
    x = v;
  }
  return false;
}

// The size fields of a file entry with `clusters` clusters that no file can
// have (core::ReadEntrySize, the main program's own test) are set to 0, as
// a repair that sizes a file by its chain sets them: a copy then gives no
// byte beyond the entry's clusters and no byte of the file is cut off.
// Returns what was wrong ("": the fields are sound).
std::string MendImpossibleSizeFields(int32_t& freeBytes, int32_t& lastSector, int32_t clusters) {
  if (clusters < 0 || clusters > core::kFatEntries) return "";   // pass A sizes such an entry by its chain
  if (core::ReadEntrySize(clusters, SectorsPerCluster, freeBytes, lastSector).Possible) return "";
  std::string wrong;
  const bool lastOk = lastSector >= 0 && lastSector <= 512 && (clusters > 0 || lastSector == 0);
  if (!lastOk) {
    wrong = "LastSectorBytes " + std::to_string(lastSector);
    lastSector = 0;
  }
  if (!core::ReadEntrySize(clusters, SectorsPerCluster, freeBytes, lastSector).Possible) {
    wrong += (wrong.empty() ? "" : ", ") + std::string("FreeBytes ") + std::to_string(freeBytes);
    freeBytes = 0;
  }
  return wrong;
}

// For every file record, the earlier record it repeats (-1: none): equal in
// name, start, cluster count and size, in another slot. Two such entries
// are one recording (a move between folders writes the new entry before it
// takes the old one out, and a cut in between leaves both).
std::vector<int32_t> RepeatedEntries(int32_t count) {
  std::vector<int32_t> repeats(size_t(std::max(count, 0)), -1);
  std::map<std::tuple<std::string, int32_t, int32_t, double>, int32_t> first;
  for (int32_t k = 0; k < count; ++k) {
    const FoundEntry& r = FoundEntries[size_t(k)];
    if (r.IsDir || r.InvalidPointer) continue;
    const auto [it, added] =
        first.insert({{r.Name.substr(r.Name.rfind('\\') + 1), r.StartCluster, r.ClusterCount, r.Size}, k});
    if (!added) repeats[size_t(k)] = it->second;
  }
  return repeats;
}

// What the passes of the step share.
struct CrossCheck {
  int32_t count = 0;              // the found entries the step looks at
  std::vector<uint8_t> skip;      // removed or no longer there: no pass uses it again
  bool fixed = false;
  bool reported = false;          // an "Error:" line
};

// The chain lengths must be those of this disk; false when they cannot be.
bool LoadTablesOfThisDisk() {
  if (FatTablesLoaded) return true;
  if (!ReadTopfCluster(0)) {
    ReportSystemClusterUnreadable("Files - ");
    return false;
  }
  LoadTopfFAT();
  FatTablesLoaded = true;
  return true;
}

// Sets the size fields of file entry r (its slot at byte `off` of
// ClusterBuffer) to `n` whole clusters, its chain's length.
void SizeByChain(FoundEntry& r, int32_t off, int32_t n) {
  const double clusterBytes = double(SectorsPerCluster) * 512.0;
  const std::string before = FileSizeToString(r.Size, 2);
  const std::string after = FileSizeToString(double(n) * clusterBytes, 2);
  if (r.ClusterCount < n)
    Addinfo(kFixed, "Files - File '" + r.Name + "' is larger than expected: changed size from " + before + " to " + after);
  else
    Addinfo(kFixed, "Files - File '" + r.Name + "' is shorter than expected: changed size from " + before + " to " + after);
  r.ClusterCount = n;
  r.Size = double(n) * clusterBytes;
  SetTopfLong(off + slot::kClusterCount, n);
  SetTopfLong(off + slot::kFreeBytes, 0);
  SetLastSectorBytes(off, 0);
}

// Pass A for entry k: the second of two equal entries and entries with an
// invalid start are removed, a file's cluster count is made its chain's
// length, and size fields no file can have are mended.
void CheckEntryAgainstChain(CrossCheck& x, int32_t k, const std::vector<int32_t>& repeats,
                            const std::vector<int32_t>& through) {
  FoundEntry& r = FoundEntries[size_t(k)];
  if (!ReadHoldingCluster(r)) {
    x.skip[size_t(k)] = 1;
    return;
  }
  const int32_t off = r.Slot * slot::kBytes;
  if (repeats[size_t(k)] >= 0) {
    std::fill_n(ClusterBuffer.begin() + off, slot::kBytes, slot::kUnused);
    Addinfo(kFixed, "Files - '" + r.Name + "' is a second entry of '" + FoundEntries[size_t(repeats[size_t(k)])].Name +
                        "' (equal in name, start, cluster count and size): removed");
    x.fixed = true;
    MarkForWriteBack(r.DirCluster + 1);
    return;
  }
  const bool invalid = r.InvalidPointer || r.StartCluster < 1 || !IndexOnDisk(r.StartCluster);
  if (invalid && r.IsDir && r.DirCluster == 0 && r.Slot >= 1 && r.Slot <= 3) {
    // A standard folder keeps its slot (its fixed cluster holds a
    // recording's data: nothing here can mend that).
    Addinfo(kError, "Files - Cluster " + std::to_string(r.StartCluster) + " of '" + r.Name +
                        "' holds no directory: left unchanged");
    x.reported = true;
    x.skip[size_t(k)] = 1;
    return;
  }
  if (invalid) {
    std::fill_n(ClusterBuffer.begin() + off, slot::kBytes, slot::kUnused);
    Addinfo(kFixed, "Files - Invalid cluster pointer in directory entry " + r.Name + "': Removed");
    x.fixed = true;
    x.skip[size_t(k)] = 1;
    MarkForWriteBack(r.DirCluster + 1);
    return;
  }
  const int32_t n = FindChainLength(r.StartCluster, true);
  if (n == 0) {
    Addinfo(kError, "Files - File '" + r.Name + "' starts at the free cluster " + std::to_string(r.StartCluster) +
                        ": size left unchanged");
    return;
  }
  // A directory is one cluster, and its count in its parent is the sum
  // over its contents (pass C). Its chain runs on only where a file
  // owns the cluster too (reported as shared): the count stays.
  if (r.IsDir) return;
  // A chain that runs on past the entry's count into another entry's
  // clusters (left so by the FAT step only where both counts claim
  // clusters of the other: reported as shared) does not grow the entry.
  const bool intoOther = r.ClusterCount < n && RunsIntoOtherChain(r, std::max(r.ClusterCount, 1), through);
  if (r.ClusterCount != n && !intoOther) {
    SizeByChain(r, off, n);
    x.fixed = true;
    MarkForWriteBack(r.DirCluster + 1);
    return;
  }
  int32_t freeBytes = GetTopfLong(off + slot::kFreeBytes);
  int32_t lastSector = uint16_t(GetTopfWord(off + slot::kLastSectorBytes));
  const std::string wrong = MendImpossibleSizeFields(freeBytes, lastSector, r.ClusterCount);
  if (wrong.empty()) return;
  r.Size = core::EntrySize(r.ClusterCount, SectorsPerCluster, freeBytes, lastSector);
  Addinfo(kFixed, "Files - File '" + r.Name + "' has size fields no file can have (" + wrong + "): changed size to " +
                      FileSizeToString(r.Size, 2));
  SetTopfLong(off + slot::kFreeBytes, freeBytes);
  SetLastSectorBytes(off, lastSector);
  x.fixed = true;
  MarkForWriteBack(r.DirCluster + 1);
}

// Pass A: start clusters and cluster counts. The second of two equal
// entries is taken out; the first stays.
void CheckEntriesAgainstChains(CrossCheck& x) {
  const std::vector<int32_t> repeats = RepeatedEntries(x.count);
  for (int32_t k = 0; k < x.count; ++k) x.skip[size_t(k)] = repeats[size_t(k)] >= 0;
  const std::vector<int32_t> through = ChainsThrough(x.count, x.skip);
  for (int32_t k = 0; k < x.count; ++k) CheckEntryAgainstChain(x, k, repeats, through);
}

// Pass B: the "." slot of every directory (a directory reached through
// two entries counts through the one it was walked by).
void CheckDotSlots(CrossCheck& x) {
  for (int32_t k = 0; k < x.count; ++k) {
    const FoundEntry& r = FoundEntries[size_t(k)];
    if (!r.IsDir || r.Duplicate || x.skip[size_t(k)]) continue;
    if (!ReadCluster(r.StartCluster + 1)) {
      CouldNotRead(r.StartCluster);
      continue;
    }
    if (SlotsPerCluster() < 1 || SlotAttribute(0) != slot::kSelf) {
      Addinfo(kError, "Files - Cluster " + std::to_string(r.StartCluster) + " of '" + r.Name +
                          "' is not a directory cluster: left unchanged");
      x.skip[size_t(k)] = 1;
      continue;
    }
    bool changed = false;
    if (r.StartCluster != 0 && GetTopfLong(slot::kClusterCount) != 1) {
      SetTopfLong(slot::kClusterCount, 1);
      SetLastSectorBytes(0, 0);
      Addinfo(kFixed, "Files - Size Field of '" + r.Name + ".': set to 1 cluster");
      changed = true;
    }
    const int32_t last = LastEntrySlot(r.StartCluster);
    if (last >= 0) {
      const int32_t want = SectorsPerCluster * 512 - (last + 1) * slot::kBytes;
      if (GetTopfLong(slot::kFreeBytes) != want) {
        SetTopfLong(slot::kFreeBytes, want);
        SetLastSectorBytes(0, 0);
        Addinfo(kFixed, "Files - FreeBytes field of '" + r.Name + "': corrected");
        changed = true;
      }
    }
    if (changed) {
      x.fixed = true;
      MarkForWriteBack(r.StartCluster + 1);
    }
  }
}

// The SubDirSize of directory r: 1 (its own cluster) + the cluster counts
// of the slots in use up to the end its "." free bytes say. Its cluster is
// read beside the one in the buffer (its parent, as a rule), so that a
// parent of many folders is written once. -1 when it cannot be read or is
// no directory cluster.
int64_t SubDirSize(const FoundEntry& r) {
  const bool beside = inBuffer >= 0 && inBuffer != r.StartCluster + 1;
  if (beside) std::swap(ClusterBuffer, beside_);
  struct Back {
    bool swap;
    ~Back() {
      if (swap) std::swap(ClusterBuffer, beside_);
    }
  } back{beside};
  if (beside ? !ReadTopfCluster(r.StartCluster + 1) : !ReadCluster(r.StartCluster + 1)) {
    CouldNotRead(r.StartCluster);
    return -1;
  }
  const int32_t slots = SlotsPerCluster();
  if (slots < 1 || SlotAttribute(0) != slot::kSelf) return -1;
  // The last slot in use as the "." free bytes say, kept inside the cluster.
  const int64_t freeBytes = GetTopfLong(slot::kFreeBytes);
  int64_t last = (int64_t(SectorsPerCluster) * 512 - freeBytes) / slot::kBytes - 1;
  last = std::clamp<int64_t>(last, -1, slots - 1);
  int64_t total = 0;
  for (int64_t s = last; s >= 2; --s)
    if (SlotAttribute(int32_t(s)) != slot::kUnused) total += GetTopfLong(int32_t(s) * slot::kBytes + slot::kClusterCount);
  return total + 1;
}

// Pass C: SubDirSize, deepest directories first.
void CheckSubDirSizes(CrossCheck& x) {
  const int32_t dirFree = SectorsPerCluster * 512 - 256;
  for (int32_t k = x.count - 1; k >= 0; --k) {
    const FoundEntry& r = FoundEntries[size_t(k)];
    if (!r.IsDir || r.Duplicate || x.skip[size_t(k)]) continue;
    const int64_t total = SubDirSize(r);
    if (total < 0 || !ReadHoldingCluster(r)) continue;
    const int32_t off = r.Slot * slot::kBytes;
    if (GetTopfLong(off + slot::kClusterCount) != int32_t(total)) {
      SetTopfLong(off + slot::kClusterCount, int32_t(total));
      SetTopfLong(off + slot::kFreeBytes, dirFree);
      KeepCheckByte(off);
      Addinfo(kFixed, "Files - SubDirSize field of '" + r.Name + ": corrected");
      x.fixed = true;
      MarkForWriteBack(r.DirCluster + 1);
    }
  }
}

}  // namespace

void fsck_06_FATSubDirsXCheck() {
  StepResults results;
  core::ProcScope scope("fsck_06_FATSubDirsXCheck");
  if (SkippedWithoutDirectoryData("subdirectory structures")) return;
  inBuffer = -1;
  dirty = false;
  // Whatever way the step ends, its last fixes reach the disk.
  struct FlushAtEnd {
    ~FlushAtEnd() { Flush(); }
  } flushAtEnd;
  if (!LoadTablesOfThisDisk()) return;

  CrossCheck x;
  x.count = std::min<int32_t>(FoundEntryCount, int32_t(FoundEntries.size()));
  x.skip.assign(size_t(std::max(x.count, 0)), 0);
  CheckEntriesAgainstChains(x);
  if (ReportSharedClusters(x.skip)) x.reported = true;
  CheckDotSlots(x);
  CheckSubDirSizes(x);
  if (!x.fixed && !x.reported) Addinfo(kOK, "Files");
}

}  // namespace checker
