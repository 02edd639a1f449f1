#include "checker/fat_tables.h"

#include <algorithm>

#include "core/error_handler.h"

namespace checker {

std::vector<TopfFatEntry> FAT1(core::kFatEntries);
std::vector<TopfFatEntry> FAT2(core::kFatEntries);
std::vector<int32_t> Sense(core::kFatEntries, 0);
int32_t LongestStart = -1;
int32_t LongestLength = 0;
bool LongestInFAT1 = true;

namespace {

// The index a Value leads to, or -1 when the walk ends after this entry
// (end mark, free, invalid, or 0).
inline int32_t NextIndex(int32_t value) {
  return (value > 0 && value < core::kFatEntries) ? value : -1;
}

// Last index the loops over the disk's entries use.
int32_t LoopLast() { return core::LastTableIndex(int64_t(LastCluster) + CheckedPastLast); }

// The number of different entries a walk from every index visits (each
// entry counted, also a free one reached from a predecessor). An entry on a
// circle counts the circle once.
// Only the walks from the disk's entries (0 .. LoopLast()) are made.
void TailLengths(const std::vector<TopfFatEntry>& table, std::vector<int32_t>& tail) {
  tail.assign(core::kFatEntries, 0);
  std::vector<uint8_t> state(core::kFatEntries, 0);   // 0 new, 1 on the current path, 2 done
  std::vector<int32_t> path;
  path.reserve(1024);
  const int32_t last = LoopLast();
  for (int32_t start = 0; start <= last; ++start) {
    if (state[size_t(start)] == 2) continue;
    path.clear();
    int32_t x = start;
    int32_t carry = 0;   // tail length of the entry after the path's last
    for (;;) {
      state[size_t(x)] = 1;
      path.push_back(x);
      const int32_t next = NextIndex(table[size_t(x)].Value);
      if (next < 0) { carry = 0; break; }
      if (state[size_t(next)] == 2) { carry = tail[size_t(next)]; break; }
      if (state[size_t(next)] == 1) {
        // A circle: every entry from `next` to the end of the path.
        size_t at = path.size();
        while (at > 0 && path[at - 1] != next) --at;
        const int32_t circle = int32_t(path.size() - (at - 1));
        for (size_t k = at - 1; k < path.size(); ++k) {
          tail[size_t(path[k])] = circle;
          state[size_t(path[k])] = 2;
        }
        path.resize(at - 1);
        carry = circle;
        break;
      }
      x = next;
    }
    for (size_t k = path.size(); k-- > 0;) {
      carry += 1;
      tail[size_t(path[k])] = carry;
      state[size_t(path[k])] = 2;
    }
  }
}

// Clears the references and lengths of entries 0 .. last (and their values
// too when `values`).
void ClearEntries(std::vector<TopfFatEntry>& table, int32_t last, bool values = false) {
  TopfFatEntry* e = table.data();
  for (size_t i = 0, n = std::min(table.size(), size_t(std::max(last, -1) + 1)); i < n; ++i) {
    if (values) e[i].Value = 0;
    e[i].XRef = e[i].NrRef = e[i].Length = 0;
  }
}

}  // namespace

void ResetFatTables() {
  FAT1.assign(core::kFatEntries, TopfFatEntry{});
  FAT2.assign(core::kFatEntries, TopfFatEntry{});
  Sense.assign(core::kFatEntries, 0);
  LongestStart = -1;
  LongestLength = 0;
  LongestInFAT1 = true;
}

int32_t FatLastIndex() {
  // Both tables' entries must lie wholly inside the buffer.
  return core::LastTableIndex(int64_t(LastCluster) + CheckedPastLast, int64_t(ClusterBuffer.size()));
}

void LoadTopfFAT() {
  core::ProcScope scope("LoadTopfFAT");
  if (FAT1.size() != size_t(core::kFatEntries) || Sense.size() != size_t(core::kFatEntries)) ResetFatTables();
  ClearEntries(FAT1, core::kMaxFatIndex, true);
  ClearEntries(FAT2, core::kMaxFatIndex, true);
  const int32_t readable = FatLastIndex();
  const int32_t last = LoopLast();
  const uint8_t* b = ClusterBuffer.data();
  for (int32_t i = 0; i <= last; ++i) {
    if (i <= readable) {
      FAT1[size_t(i)].Value = int32_t(core::ReadFat24(b, kFat1Offset, i));
      FAT2[size_t(i)].Value = int32_t(core::ReadFat24(b, kFat2Offset, i));
    } else {
      // Outside the system cluster: nothing to read, taken as free.
      FAT1[size_t(i)].Value = FAT2[size_t(i)].Value = kFatFree;
    }
  }
  CalcFATXRefs();
}

bool SaveTopfFAT() {
  core::ProcScope scope("SaveTopfFAT");
  if (!ReadTopfCluster(0)) return false;
  const int32_t last = FatLastIndex();
  uint8_t* b = ClusterBuffer.data();
  for (int32_t i = 0; i <= last; ++i) {
    core::WriteFat24(b, kFat1Offset, i, uint32_t(FAT1[size_t(i)].Value));
    core::WriteFat24(b, kFat2Offset, i, uint32_t(FAT2[size_t(i)].Value));
  }
  return true;
}

void CalcFATXRefs() {
  if (FAT1.size() != size_t(core::kFatEntries)) ResetFatTables();
  // Only the disk's entries and the indexes past them that the last count
  // touched can hold references.
  static std::vector<int32_t> beyond;
  const int32_t last = LoopLast();
  ClearEntries(FAT1, last);
  ClearEntries(FAT2, last);
  for (int32_t v : beyond) {
    FAT1[size_t(v)].XRef = FAT1[size_t(v)].NrRef = FAT1[size_t(v)].Length = 0;
    FAT2[size_t(v)].XRef = FAT2[size_t(v)].NrRef = FAT2[size_t(v)].Length = 0;
  }
  beyond.clear();
  LongestStart = -1;
  LongestLength = 0;
  LongestInFAT1 = true;
  for (auto* table : {&FAT1, &FAT2}) {
    auto& t = *table;
    for (int32_t i = 0; i <= last; ++i) {
      const int32_t v = t[size_t(i)].Value;
      if (v >= 0 && v < core::kFatEntries) {
        if (v > last) beyond.push_back(v);
        t[size_t(v)].XRef = i;
        t[size_t(v)].NrRef += 1;
      }
    }
  }
}

void CalcFATChainLengths() {
  core::ProcScope scope("CalcFATChainLengths");
  if (FAT1.size() != size_t(core::kFatEntries)) ResetFatTables();
  const int32_t last = LoopLast();
  for (int32_t i = 0; i <= last; ++i) FAT1[size_t(i)].Length = FAT2[size_t(i)].Length = 0;
  LongestStart = -1;
  LongestLength = 0;
  LongestInFAT1 = true;
  std::vector<int32_t> tail1, tail2;
  TailLengths(FAT1, tail1);
  TailLengths(FAT2, tail2);
  auto length = [](const std::vector<TopfFatEntry>& t, const std::vector<int32_t>& tail, int32_t i) {
    return t[size_t(i)].Value == kFatFree ? 0 : tail[size_t(i)];
  };
  for (int32_t i = 0; i <= last; ++i) {
    if (Sense[size_t(i)] != 0) continue;
    const int32_t l1 = length(FAT1, tail1, i);
    FAT1[size_t(i)].Length = l1;
    if (l1 > LongestLength) { LongestLength = l1; LongestStart = i; LongestInFAT1 = true; }
    const int32_t l2 = length(FAT2, tail2, i);
    FAT2[size_t(i)].Length = l2;
    if (l2 > LongestLength) { LongestLength = l2; LongestStart = i; LongestInFAT1 = false; }
  }
}

int32_t FindChainLength(int32_t index, bool inFAT1) {
  if (index < 0 || index >= core::kFatEntries) return 0;
  const auto& t = FatTable(inFAT1);
  if (t.size() != size_t(core::kFatEntries)) return 0;
  if (t[size_t(index)].Value == kFatFree) return 0;
  if (t[size_t(index)].Value == kFatEnd) return 1;
  // Each entry is visited once: a circle ends the walk where it closes.
  static std::vector<uint32_t> stamp(core::kFatEntries, 0);
  static uint32_t generation = 0;
  if (++generation == 0) {
    std::fill(stamp.begin(), stamp.end(), 0u);
    generation = 1;
  }
  int32_t count = 0;
  int32_t x = index;
  while (x >= 0 && stamp[size_t(x)] != generation && count < core::kFatEntries) {
    stamp[size_t(x)] = generation;
    ++count;
    x = NextIndex(t[size_t(x)].Value);
  }
  return count;
}

int32_t FindChainStart(int32_t index, bool inFAT1) {
  if (index < 0 || index >= core::kFatEntries) return index;
  const auto& t = FatTable(inFAT1);
  if (t.size() != size_t(core::kFatEntries)) return index;
  static std::vector<uint32_t> stamp(core::kFatEntries, 0);
  static uint32_t generation = 0;
  if (++generation == 0) {
    std::fill(stamp.begin(), stamp.end(), 0u);
    generation = 1;
  }
  int32_t x = index;
  stamp[size_t(x)] = generation;
  for (int32_t steps = 0; steps < core::kFatEntries; ++steps) {
    const int32_t previous = t[size_t(x)].XRef;
    if (previous <= 0 || previous >= core::kFatEntries || stamp[size_t(previous)] == generation) break;
    stamp[size_t(previous)] = generation;
    x = previous;
  }
  return x;
}

}  // namespace checker
