// Check step 4: the directory walk that repairs "." and ".." slots, invalid
// slots and impossible dates, and fills FoundEntries.
#include "checker/step_dirscan.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "checker/field_access.h"
#include "checker/steps.h"
#include "core/error_handler.h"

namespace checker {

// ------------------------------------------------------------ slot helpers

int32_t SlotsPerCluster() {
  const int64_t bySize = int64_t(ClusterBuffer.size()) / slot::kBytes;
  const int64_t bySpc = int64_t(SectorsPerCluster > 0 ? SectorsPerCluster : 0) * 4;
  return int32_t(std::min(bySize, bySpc));
}

uint8_t SlotAttribute(int32_t s) {
  const size_t at = size_t(s) * slot::kBytes;
  return at < ClusterBuffer.size() ? ClusterBuffer[at] : slot::kUnused;
}

bool SlotInUse(uint8_t a) {
  return a == slot::kFile || a == slot::kRecording || a == slot::kParent || a == slot::kSelf ||
         a == slot::kDirectory || a == slot::kRecycle;
}

void SetLastSectorBytes(int32_t off, int32_t value) {
  SetTopfWord(off + slot::kLastSectorBytes, value);   // (checks the offset)
  KeepCheckByte(off);
}

void KeepCheckByte(int32_t off) {
  if (off < 0 || size_t(off) + slot::kBytes > ClusterBuffer.size()) return;
  core::KeepCheckByte(ClusterBuffer.data() + off);
}

int32_t LastEntrySlot(int32_t dirIndex) {
  for (int32_t s = SlotsPerCluster() - 1; s >= 0; --s)
    if (SlotInUse(SlotAttribute(s)) && !StaleSlots.count({dirIndex, s})) return s;
  return -1;
}

int32_t SlotsInSight() {
  const int64_t slots = SlotsPerCluster();
  if (slots < 1) return 0;
  const int64_t used = int64_t(SectorsPerCluster) * 512 - int64_t(GetTopfLong(slot::kFreeBytes));
  if (used <= 0) return 0;
  return int32_t(std::min<int64_t>((used + slot::kBytes - 1) / slot::kBytes, slots));
}

void SetSlotsInSight(int32_t n) {
  SetTopfLong(slot::kFreeBytes, SectorsPerCluster * 512 - n * slot::kBytes);
  SetLastSectorBytes(0, 0);
}

namespace {

// True when a found entry lies in slot s of folder dirIndex (in ClusterBuffer).
bool HoldsFoundEntry(int32_t dirIndex, int32_t s) {
  const int32_t count = std::min<int32_t>(FoundEntryCount, int32_t(FoundEntries.size()));
  for (int32_t k = 0; k < count; ++k) {
    const FoundEntry& r = FoundEntries[size_t(k)];
    if (r.DirCluster == dirIndex && r.Slot == s && SlotHoldsEntry(r)) return true;
  }
  return false;
}

}  // namespace

bool PutEntryIntoFolder(int32_t dirIndex, int32_t s, int32_t* cleared) {
  const int32_t sight = SlotsInSight();
  if (s < sight || s >= SlotsPerCluster()) return false;
  for (int32_t k = std::max(sight, 2); k < s; ++k)
    if (SlotInUse(SlotAttribute(k)) && !HoldsFoundEntry(dirIndex, k)) {
      std::fill_n(ClusterBuffer.begin() + int64_t(k) * slot::kBytes, slot::kBytes, slot::kUnused);
      if (cleared) ++*cleared;
    }
  SetSlotsInSight(s + 1);
  return true;
}

bool HoldsRecordingData() {
  const size_t size = ClusterBuffer.size();
  if (size >= 4 && ClusterBuffer[0] == 'T' && ClusterBuffer[1] == 'F' && ClusterBuffer[2] == 'r' &&
      ClusterBuffer[3] == 'c')
    return true;
  // Transport-stream packets: a sync byte every 188 bytes, the first one
  // anywhere in the first packet (a recording's later clusters begin in the
  // middle of a packet).
  constexpr size_t kPacket = 188;
  constexpr size_t kPackets = 8;
  if (size < kPacket * (kPackets + 1)) return false;
  for (size_t first = 0; first < kPacket; ++first) {
    size_t k = 0;
    while (k < kPackets && ClusterBuffer[first + k * kPacket] == 0x47) ++k;
    if (k == kPackets) return true;
  }
  return false;
}

bool IsDirectoryCluster() {
  const int32_t slots = SlotsPerCluster();
  if (slots < 2 || HoldsRecordingData()) return false;
  int32_t fitting = (SlotAttribute(0) == slot::kSelf ? 1 : 0) + (SlotAttribute(1) == slot::kParent ? 1 : 0);
  for (int32_t s = 2; s < slots; ++s) {
    const uint8_t a = SlotAttribute(s);
    if (a == slot::kFile || a == slot::kRecording || a == slot::kDirectory || a == slot::kRecycle ||
        a == slot::kUnused)
      ++fitting;
  }
  return 2 * fitting > slots;
}

bool SlotHoldsEntry(const FoundEntry& r) {
  if (r.Slot < 0 || r.Slot >= SlotsPerCluster()) return false;
  const int32_t off = r.Slot * slot::kBytes;
  const uint8_t a = ClusterBuffer[size_t(off)];
  const bool dir = a == slot::kDirectory || a == slot::kRecycle;
  const bool file = a == slot::kFile || a == slot::kRecording;
  if (r.IsDir ? !dir : !file) return false;
  return GetTopfLong(off + slot::kStartCluster) == r.StartCluster;
}

bool SkippedWithoutDirectoryData(const std::string& what) {
  if (!DirScanIncomplete) return false;
  if (!NothingToCheck())
    Addinfo(kSkipped, "Fixing the " + what + " doesn't make sense without the full directory data.");
  return true;
}

void ReportSystemClusterUnreadable(const std::string& prefix) {
  Addinfo(kError, prefix + "Couldn't read the system cluster");
}

// ------------------------------------------------------------ the walk

std::string SlotName(int32_t off) {
  const int32_t from = off + slot::kName;
  const int32_t to = std::min<int32_t>(off + slot::kBytes, int32_t(ClusterBuffer.size()));
  std::string name;
  for (int32_t i = from; i < to && ClusterBuffer[size_t(i)] != 0; ++i)
    name.push_back(char(ClusterBuffer[size_t(i)]));
  return name;
}

namespace {

void ClearSlot(int32_t off, uint8_t fill) {
  std::fill_n(ClusterBuffer.begin() + off, slot::kBytes, fill);
}

struct ScanState {
  bool fixed = false;
  bool error = false;
  bool overflow = false;
  std::vector<uint8_t> seen;        // FAT indexes queued or walked
  std::vector<int32_t> queuedFrom;  // the directory whose entry queued it (-1: none, the root)
  std::vector<int32_t> recordOf;    // the record of the entry that queued it (-1: none)
  std::vector<uint8_t> standard;    // a standard folder of the root at its fixed cluster
  std::vector<uint8_t> noDirectory; // walked and found to be no directory cluster
  std::map<int32_t, std::string> pathOf;   // the path it was queued with
  // Slots beyond their folder's end that look like entries, judged once the
  // walk has found every entry inside the ends (SettleBeyondEnds).
  struct Beyond {
    int32_t Index, Slot;   // the folder and the slot
    std::string Path;      // the folder's path
    int32_t Parent;        // its ".." start
  };
  std::vector<Beyond> beyond;
  // Folders this run brought into sight (RevealedFolders, the folders below
  // them and those taken from beyond an end), and the entries in them, judged
  // once every entry the main program saw is known (SettleRevealed): 1, or
  // 2 for a standard folder at its fixed cluster and the folders below it.
  std::vector<uint8_t> revealed;
  std::vector<Beyond> inRevealed;
};

// Appends a record; beyond the table's last index nothing is stored and
// the scan becomes incomplete. Its index, or -1.
int32_t AppendRecord(ScanState& st, const FoundEntry& record) {
  const int32_t capacity = std::min<int32_t>(kMaxFoundEntries, int32_t(FoundEntries.size()));
  if (FoundEntryCount < capacity) {
    FoundEntries[size_t(FoundEntryCount)] = record;
    return FoundEntryCount++;
  }
  if (!st.overflow) {
    st.overflow = true;
    st.error = true;
    DirScanIncomplete = true;
    Addinfo(kError, "Scan structure for subdirectories: more than " + std::to_string(kMaxFoundEntries) +
                        " entries; the rest could not be recorded");
  }
  return -1;
}

// Writes slot s (0 or 1) of the directory cluster in ClusterBuffer afresh as
// its "." or ".." entry (`name`) pointing at `start`, and reports it.
// The "." slot keeps the folder's end (its FreeBytes, as the main program
// read it), so that no slot beyond it comes into sight, but the end takes
// in slots 0 and 1 at least.
void RecreateDotSlot(int32_t s, uint8_t attribute, int32_t start, const char* name,
                     const std::string& path) {
  const int32_t off = s * slot::kBytes;
  const int32_t freeBytes = GetTopfLong(slot::kFreeBytes);
  ClearSlot(off, 0);
  ClusterBuffer[size_t(off)] = attribute;
  SetTopfLong(off + slot::kStartCluster, start);
  SetTopfLong(off + slot::kClusterCount, 1);
  SetTopfString(off + slot::kName, name);
  if (s == 0) SetTopfLong(slot::kFreeBytes, freeBytes);
  if (SlotsInSight() < 2) SetSlotsInSight(2);
  Addinfo(kFixed, "Files - Attribute of slot " + std::to_string(s) + " of directory '" + path +
                      "': recreated '" + name + "' directory");
}

void ReportInvalidPointer(const std::string& pathAndName) {
  Addinfo(kSkipped, "Scan structure for subdirectories: " + pathAndName +
                        " contains an invalid pointer (this will be fixed later)");
}

// True when directory c is `index` itself or one of its ancestors in the walk.
bool OnPathTo(const ScanState& st, int32_t c, int32_t index) {
  for (int32_t a = index, steps = 0; a >= 0 && steps < core::kFatEntries; a = st.queuedFrom[size_t(a)], ++steps)
    if (a == c) return true;
  return false;
}

// Replaces an impossible date of the file entry at byte `off` by now; true
// when it did.
bool FixDate(int32_t off, const std::string& path, double now) {
  const int32_t raw = GetTopfLong(off + slot::kDate);
  if (raw == 0 || raw == -1) return false;
  const double when = GetTopfDate(off + slot::kDate);
  if (when >= kEarliestEntryDate && when <= now + 2.0) return false;
  SetTopfDate(off + slot::kDate, now);
  KeepCheckByte(off);
  Addinfo(kFixed, "Files - Date/Time of " + path + SlotName(off) + ": set to actual date/time");
  return true;
}

// The record of the file entry in slot s of directory `index`.
FoundEntry FileRecord(int32_t s, int32_t index, const std::string& path, int32_t parent) {
  const int32_t off = s * slot::kBytes;
  FoundEntry r;
  r.Name = path + SlotName(off);
  r.IsDir = false;
  r.StartCluster = GetTopfLong(off + slot::kStartCluster);
  r.ClusterCount = GetTopfLong(off + slot::kClusterCount);
  const double freeBytes = GetTopfLong(off + slot::kFreeBytes);
  double lastSector = uint16_t(GetTopfWord(off + slot::kLastSectorBytes));
  if (lastSector == 0) lastSector = 512;
  r.Size = double(r.ClusterCount) * double(SectorsPerCluster) * 512.0 - freeBytes - 512.0 + lastSector;
  r.DirCluster = index;
  r.Slot = s;
  r.ParentCluster = parent;
  return r;
}

// The record of the directory entry in slot s of directory `index`.
FoundEntry DirectoryRecord(int32_t s, int32_t index, const std::string& path, int32_t parent) {
  const int32_t off = s * slot::kBytes;
  FoundEntry r;
  r.Name = path + SlotName(off) + "\\";
  r.IsDir = true;
  r.StartCluster = GetTopfLong(off + slot::kStartCluster);
  r.ClusterCount = 1;
  r.Size = 0;
  r.DirCluster = index;
  r.Slot = s;
  r.ParentCluster = parent;
  return r;
}

// Records directory r and queues it for the walk.
void QueueDirectory(ScanState& st, const FoundEntry& r, bool standard) {
  const int32_t c = r.StartCluster;
  st.seen[size_t(c)] = 1;
  st.queuedFrom[size_t(c)] = r.DirCluster;
  st.standard[size_t(c)] = standard;
  st.pathOf[c] = r.Name;
  st.recordOf[size_t(c)] = AppendRecord(st, r);
  List1().AddItem(std::to_string(c) + " " + r.Name);
}

bool FileAttribute(uint8_t a) { return a == slot::kFile || a == slot::kRecording; }
bool DirectoryAttribute(uint8_t a) { return a == slot::kDirectory || a == slot::kRecycle; }

// Walks one directory cluster (already in ClusterBuffer).
void ScanCluster(ScanState& st, int32_t index, const std::string& path) {
  const int32_t slots = SlotsPerCluster();
  const double now = NowDateValue();
  bool changed = false;
  int32_t parent = 0;
  // The folder's end as the main program reads it; the root's standard
  // slots and every folder's "." and ".." count as inside it.
  const int32_t sight = std::max(SlotsInSight(), index == 0 ? 4 : 2);
  const bool revealed = size_t(index) < st.revealed.size() && st.revealed[size_t(index)];

  for (int32_t s = 0; s < slots; ++s) {
    const int32_t off = s * slot::kBytes;
    const uint8_t a = ClusterBuffer[size_t(off)];
    if (index > 0 && s == 0 && a != slot::kSelf) {
      RecreateDotSlot(s, slot::kSelf, index, ".", path);
      changed = true;
    } else if (index > 0 && s == 1 && a != slot::kParent) {
      int32_t up = 0;
      for (int32_t k = FoundEntryCount - 1; k >= 0; --k)
        if (FoundEntries[size_t(k)].StartCluster == index) {
          up = FoundEntries[size_t(k)].DirCluster;
          break;
        }
      RecreateDotSlot(s, slot::kParent, up, "..", path);
      changed = true;
    } else if (s > 1 && !FileAttribute(a) && !DirectoryAttribute(a) && a != slot::kUnused) {
      ClearSlot(off, slot::kUnused);
      Addinfo(kFixed, "Files - Attribute of slot " + std::to_string(s) + " of directory '" + path +
                          "' is invalid: set slot to unused");
      changed = true;
    }

    const uint8_t attr = ClusterBuffer[size_t(off)];
    if (s >= sight && (FileAttribute(attr) || DirectoryAttribute(attr))) {
      // Beyond the end: an entry only when its chain proves to be its own.
      st.beyond.push_back({index, s, path, parent});
    } else if (revealed && (FileAttribute(attr) || DirectoryAttribute(attr))) {
      if (FileAttribute(attr) && FixDate(off, path, now)) changed = true;
      st.inRevealed.push_back({index, s, path, parent});
    } else if (FileAttribute(attr)) {
      if (FixDate(off, path, now)) changed = true;
      AppendRecord(st, FileRecord(s, index, path, parent));
    } else if (attr == slot::kParent) {
      parent = GetTopfLong(off + slot::kStartCluster);
    } else if (DirectoryAttribute(attr)) {
      FoundEntry r = DirectoryRecord(s, index, path, parent);
      const int32_t c = r.StartCluster;
      // A directory the layer cannot read (outside the disk, or at the last
      // FAT index, which the device's end cuts) is an invalid pointer.
      const bool inside = IndexOnDisk(c);
      if (inside && OnPathTo(st, c, index)) {
        // A loop: the directory is reached through its own entry already.
        ClearSlot(off, slot::kUnused);
        auto target = st.pathOf.find(c);
        Addinfo(kFixed, "Files - Directory entry '" + r.Name + "' leads back to '" +
                            (target != st.pathOf.end() ? target->second : std::string("\\")) + "': removed");
        changed = true;
        continue;
      }
      if (!inside) {
        ReportInvalidPointer(path + SlotName(off));
        r.InvalidPointer = true;
        AppendRecord(st, r);
      } else if (st.seen[size_t(c)]) {
        r.Duplicate = true;
        AppendRecord(st, r);
      } else {
        QueueDirectory(st, r, index == 0 && (s == 1 || s == 2 || s == 3) && c == s);
      }
    }
  }

  if (changed) {
    st.fixed = true;
    WriteBackCluster(index + 1, false, "Files - ");
  }
}

// The clusters the entries found so far claim, in either FAT: a file's
// chain in each table, a directory's cluster, every folder walked and the
// root. Each walk is bounded.
std::vector<uint8_t> ClaimedClusters(const ScanState& st, int32_t last) {
  std::vector<uint8_t> claimed(size_t(last) + 1, 0);
  for (int32_t i = 0; i <= last && size_t(i) < st.seen.size(); ++i) claimed[size_t(i)] = st.seen[size_t(i)];
  claimed[0] = 1;
  std::vector<int32_t> stamp(size_t(last) + 1, -1);
  const int32_t count = std::min<int32_t>(FoundEntryCount, int32_t(FoundEntries.size()));
  for (int32_t k = 0; k < count; ++k) {
    const FoundEntry& r = FoundEntries[size_t(k)];
    if (r.StartCluster < 0 || r.StartCluster > last) continue;
    claimed[size_t(r.StartCluster)] = 1;
    if (r.IsDir) continue;
    for (int t = 0; t < 2; ++t) {
      const auto& table = FatTable(t == 0);
      const int32_t walk = 2 * k + t;
      for (int32_t x = r.StartCluster, steps = 0; steps <= last && stamp[size_t(x)] != walk; ++steps) {
        stamp[size_t(x)] = walk;
        claimed[size_t(x)] = 1;
        const int32_t v = table[size_t(x)].Value;
        if (v < 1 || v > last) break;
        x = v;
      }
    }
  }
  return claimed;
}

// What a slot beyond its folder's end holds.
enum class Judgement { Stale, Own, Unread };

// Judges the entry with Attribute a and start cluster `start`, beyond its
// folder's end: Own when its chain is its own (the rule in step_dirscan.h),
// Unread when a directory's cluster cannot be read (what could not be read
// is not taken for damage). `stamp` and `walk` mark what the walks visit
// (0 .. last, reused). May read another cluster into ClusterBuffer.
Judgement JudgeBeyond(const ScanState& st, uint8_t a, int32_t start, const std::vector<uint8_t>& claimed, int32_t last,
                   std::vector<int32_t>& stamp, int32_t& walk) {
  auto valid = [last](int32_t v) { return v >= 1 && v <= last && IndexOnDisk(v); };
  // A link the FAT step keeps (it clears those to indexes 0 to 4).
  auto link = [&](int32_t v) { return v >= 5 && valid(v); };
  auto used = [&](bool fat1, int32_t x) {
    const int32_t v = FatTable(fat1)[size_t(x)].Value;
    return v == kFatEnd || link(v);
  };
  if (!valid(start) || claimed[size_t(start)]) return Judgement::Stale;
  if (!used(true, start) && !used(false, start)) return Judgement::Stale;   // free
  if (DirectoryAttribute(a)) {
    if (size_t(start) >= st.seen.size() || st.seen[size_t(start)]) return Judgement::Stale;
    if (!ReadTopfCluster(start + 1)) return Judgement::Unread;
    return IsDirectoryCluster() ? Judgement::Own : Judgement::Stale;
  }
  for (bool fat1 : {true, false}) {
    if (!used(fat1, start)) continue;
    ++walk;
    for (int32_t x = start;;) {
      if (claimed[size_t(x)] || stamp[size_t(x)] == walk) return Judgement::Stale;   // another's, or a circle
      stamp[size_t(x)] = walk;
      const int32_t v = FatTable(fat1)[size_t(x)].Value;
      if (!link(v)) break;
      if (!used(true, v) && !used(false, v)) return Judgement::Stale;   // runs into a free cluster
      x = v;
    }
  }
  return Judgement::Own;
}

// Judges the slots beyond their folders' ends that the walk met: entries
// with a chain of their own are put into sight and recorded (directories
// queued); the others are set to unused, or, where that cannot be written,
// left in StaleSlots. True when a directory was queued.
bool SettleBeyondEnds(ScanState& st) {
  std::vector<ScanState::Beyond> beyond;
  std::swap(beyond, st.beyond);
  auto leave = [&](size_t from, size_t to) {
    for (size_t k = from; k < to; ++k) StaleSlots.insert({beyond[k].Index, beyond[k].Slot});
  };
  // The FAT as it is on the disk (the FAT step loads it again).
  const int32_t last = FatLastIndex();
  if (!ReadTopfCluster(0) || last < 1) {
    leave(0, beyond.size());
    return false;
  }
  LoadTopfFAT();
  const std::vector<uint8_t> claimed = ClaimedClusters(st, last);
  std::vector<int32_t> stamp(size_t(last) + 1, 0);
  int32_t walk = 0;
  const double now = NowDateValue();
  bool queued = false;
  // Folder by folder, in the order the walk met them.
  for (size_t from = 0, to; from < beyond.size(); from = to) {
    const int32_t index = beyond[from].Index;
    to = from;
    while (to < beyond.size() && beyond[to].Index == index) ++to;
    if (!ReadTopfCluster(index + 1)) {
      leave(from, to);
      continue;
    }
    std::vector<std::pair<uint8_t, int32_t>> slots;   // Attribute and start of each
    for (size_t k = from; k < to; ++k)
      slots.push_back(
          {SlotAttribute(beyond[k].Slot), GetTopfLong(beyond[k].Slot * slot::kBytes + slot::kStartCluster)});
    std::vector<Judgement> judged(to - from, Judgement::Stale);
    for (size_t k = from; k < to; ++k)
      judged[k - from] = JudgeBeyond(st, slots[k - from].first, slots[k - from].second, claimed, last, stamp, walk);
    auto own = [&](size_t k) { return judged[k - from] == Judgement::Own; };
    if (!ReadTopfCluster(index + 1)) {
      leave(from, to);
      continue;
    }
    const std::string& path = beyond[from].Path;
    bool moved = false, changed = false;
    for (size_t k = from; k < to; ++k) {
      const int32_t s = beyond[k].Slot, off = s * slot::kBytes;
      if (own(k)) {   // in ascending slot order: the end moves over each in turn
        if (FixDate(off, path, now)) changed = true;
        moved = PutEntryIntoFolder(index, s) || moved;
        continue;
      }
      if (judged[k - from] == Judgement::Unread) {   // left as it is, out of sight
        StaleSlots.insert({index, s});
        continue;
      }
      const std::string name = path + SlotName(off);
      ClearSlot(off, slot::kUnused);
      Addinfo(kFixed, "Files - Slot " + std::to_string(s) + " of directory '" + path + "' lies beyond its end and '" +
                          name + "' there has no clusters of its own: set slot to unused");
      changed = true;
    }
    if (moved) Addinfo(kFixed, "Files - FreeBytes field of '" + path + "': corrected");
    if (!moved && !changed) continue;
    st.fixed = true;
    if (!WriteBackCluster(index + 1, false, "Files - ")) {
      leave(from, to);
      continue;
    }
    // Recorded only now that they are in sight on the disk.
    for (size_t k = from; k < to; ++k) {
      if (!own(k)) continue;
      const int32_t s = beyond[k].Slot;
      if (FileAttribute(SlotAttribute(s))) {
        AppendRecord(st, FileRecord(s, index, path, beyond[k].Parent));
      } else {
        const FoundEntry r = DirectoryRecord(s, index, path, beyond[k].Parent);
        QueueDirectory(st, r, false);
        st.revealed[size_t(r.StartCluster)] = 1;
        queued = true;
      }
    }
  }
  return queued;
}

// Judges the entries in the folders this run brought into sight: one whose
// chain (in either FAT) or folder cluster an entry already found holds, or
// a folder already walked, is no entry of its own there (the main program
// would see two entries on one cluster, or a loop): it is set to unused (the
// cluster's undo copy keeps it), and where that cannot be written it is left
// as it is in StaleSlots. The others are recorded in turn (and claim what
// they hold), their folders queued. True when a directory was queued.
bool SettleRevealed(ScanState& st) {
  std::vector<ScanState::Beyond> slots;
  std::swap(slots, st.inRevealed);
  const int32_t last = FatLastIndex();
  const bool judged = ReadTopfCluster(0) && last >= 1;
  if (judged) LoadTopfFAT();
  std::vector<uint8_t> claimed = judged ? ClaimedClusters(st, last) : std::vector<uint8_t>();
  std::vector<uint8_t> folders(claimed.size(), 0);   // the folders walked and the root
  for (size_t i = 0; i < folders.size() && i < st.seen.size(); ++i) folders[i] = st.seen[i];
  if (!folders.empty()) folders[0] = 1;
  std::vector<int32_t> stamp(claimed.size(), 0);
  int32_t walk = 0;
  auto valid = [last](int32_t v) { return v >= 1 && v <= last && IndexOnDisk(v); };
  bool queued = false;
  for (size_t from = 0, to; from < slots.size(); from = to) {
    const int32_t index = slots[from].Index;
    to = from;
    while (to < slots.size() && slots[to].Index == index) ++to;
    if (!ReadTopfCluster(index + 1)) {
      for (size_t k = from; k < to; ++k) StaleSlots.insert({index, slots[k].Slot});
      continue;
    }
    const std::string& path = slots[from].Path;
    std::vector<bool> own(to - from, true);
    bool changed = false;
    for (size_t k = from; k < to; ++k) {
      const int32_t s = slots[k].Slot, off = s * slot::kBytes;
      const int32_t start = GetTopfLong(off + slot::kStartCluster);
      if (!judged || !valid(start)) continue;   // judged as any other entry
      std::vector<int32_t> held;
      // In a standard folder, whose slots are the disk's own as much as any,
      // only what folders hold: a folder reached twice, a file on a folder.
      const std::vector<uint8_t>& by = st.revealed[size_t(index)] == 2 ? folders : claimed;
      bool theirs = by[size_t(start)] != 0;
      if (!DirectoryAttribute(SlotAttribute(s))) {
        for (bool fat1 : {true, false}) {
          ++walk;
          for (int32_t x = start; valid(x) && stamp[size_t(x)] != walk && !theirs;) {
            stamp[size_t(x)] = walk;
            theirs = by[size_t(x)] != 0;
            held.push_back(x);
            const int32_t v = FatTable(fat1)[size_t(x)].Value;
            x = v >= 5 ? v : 0;   // (links to indexes 0 to 4 the FAT step clears)
          }
        }
      }
      held.push_back(start);
      if (!theirs) {
        for (int32_t x : held) claimed[size_t(x)] = 1;
        continue;
      }
      own[k - from] = false;
      const std::string name = path + SlotName(off);
      ClearSlot(off, slot::kUnused);
      Addinfo(kFixed, "Files - Slot " + std::to_string(s) + " of directory '" + path + "' came back into sight and '" +
                          name + "' there holds clusters of other entries: set slot to unused");
      changed = true;
    }
    if (changed) {
      st.fixed = true;
      if (!WriteBackCluster(index + 1, false, "Files - "))   // left as they are, no entries
        for (size_t k = from; k < to; ++k)
          if (!own[k - from]) StaleSlots.insert({index, slots[k].Slot});
    }
    for (size_t k = from; k < to; ++k) {
      if (!own[k - from]) continue;
      const int32_t s = slots[k].Slot;
      if (FileAttribute(SlotAttribute(s))) {
        AppendRecord(st, FileRecord(s, index, path, slots[k].Parent));
        continue;
      }
      FoundEntry r = DirectoryRecord(s, index, path, slots[k].Parent);
      const int32_t c = r.StartCluster;
      if (!IndexOnDisk(c) || size_t(c) >= st.seen.size()) {
        ReportInvalidPointer(r.Name.substr(0, r.Name.size() - 1));
        r.InvalidPointer = true;
        AppendRecord(st, r);
      } else if (st.seen[size_t(c)]) {   // (a folder this run could not judge)
        r.Duplicate = true;
        AppendRecord(st, r);
      } else {
        QueueDirectory(st, r, false);
        st.revealed[size_t(c)] = st.revealed[size_t(index)];
        if (size_t(c) < folders.size()) folders[size_t(c)] = 1;
        queued = true;
      }
    }
  }
  return queued;
}

// True when the cluster of FAT index c is a chain of its own, as a standard
// folder's fixed cluster is: an end mark (or free) in each table, one at
// least, and no entry of either table leads to it. Bytes there then belong
// to no recording's chain. Leaves ClusterBuffer holding the system cluster.
bool OwnOneClusterChain(int32_t c) {
  if (!ReadTopfCluster(0) || c < 1 || c > FatLastIndex()) return false;
  LoadTopfFAT();
  bool end = false;
  for (bool fat1 : {true, false}) {
    const TopfFatEntry& e = FatTable(fat1)[size_t(c)];
    if ((e.Value != kFatEnd && e.Value != kFatFree) || e.NrRef > 0) return false;
    end = end || e.Value == kFatEnd;
  }
  return end;
}

// A standard folder whose fixed cluster holds a recording's data that no
// chain holds (written over by a recording) is rebuilt as an empty folder
// in ClusterBuffer, as one that was zeroed: the walk recreates its "." and
// "..", and the lost-chain recovery puts what was below it back into it.
// False where a chain runs through the cluster (the bytes may be a
// recording's): it stays as it is, in ClusterBuffer.
bool RebuildOverwrittenFolder(int32_t index, const std::string& path) {
  const bool own = OwnOneClusterChain(index);
  if (!ReadTopfCluster(index + 1) || !own || !HoldsRecordingData()) return false;
  std::fill(ClusterBuffer.begin(), ClusterBuffer.end(), slot::kUnused);
  Addinfo(kFixed, "Files - Directory '" + path + "' held a recording's data that no chain holds: rebuilt as an "
                  "empty directory");
  return true;
}

// Walks the directories in List1 until it is empty.
void WalkQueue(ScanState& st) {
  const size_t indexes = st.seen.size();
  while (!List1().Empty()) {
    const std::string line = List1().TakeFirst();
    const size_t blank = line.find(' ');
    const int32_t index = int32_t(std::strtol(line.substr(0, blank).c_str(), nullptr, 10));
    std::string path = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (path.empty() || path.back() != '\\') path += "\\";

    if (!ReadTopfCluster(index + 1)) {
      Addinfo(kInfo, "Scan structure for subdirectories: couldn't find cluster " + std::to_string(index));
      DirScanIncomplete = true;
      continue;
    }
    const bool standard = index > 0 && size_t(index) < indexes && st.standard[size_t(index)];
    if (standard && HoldsRecordingData() && RebuildOverwrittenFolder(index, path)) {   // (reads the cluster again)
      ScanCluster(st, index, path);
      continue;
    }
    if (index > 0 && size_t(index) < indexes && !IsDirectoryCluster() && !(standard && !HoldsRecordingData())) {
      // No directory (perhaps a recording's data behind a damaged entry):
      // nothing in it is changed, and the entry is an invalid pointer.
      ReportInvalidPointer(path.substr(0, path.size() - 1));
      st.noDirectory[size_t(index)] = 1;
      const int32_t k = st.recordOf[size_t(index)];
      if (k >= 0 && k < FoundEntryCount) FoundEntries[size_t(k)].InvalidPointer = true;
      continue;
    }
    ScanCluster(st, index, path);
  }
}

}  // namespace

void fsck_04_ScanDirectories() {
  StepResults results;
  core::ProcScope scope("fsck_04_ScanDirectories");
  if (FoundEntries.size() < size_t(kMaxFoundEntries)) AllocateFoundEntries();
  FoundEntryCount = 0;
  StaleSlots.clear();
  DirScanIncomplete = NothingToCheck();   // nothing to walk; step 1 said why
  List1().Clear();
  if (DirScanIncomplete) return;
  List1().AddItem("0 \\");

  // Only directories at 0 .. LastCluster are walked.
  const size_t indexes = size_t(std::max(core::LastTableIndex(LastCluster), 0)) + 1;
  ScanState st;
  st.seen.assign(indexes, 0);
  st.queuedFrom.assign(indexes, -1);
  st.recordOf.assign(indexes, -1);
  st.standard.assign(indexes, 0);
  st.noDirectory.assign(indexes, 0);
  st.seen[0] = 1;
  st.pathOf[0] = "\\";

  // Each FAT index is queued at most once, so the walk ends. Slots beyond
  // the folders' ends are judged once every entry inside them is known;
  // the directories taken from them are walked in turn.
  // Entries in the folders this run brought into sight come last, judged
  // against all the others.
  st.revealed.assign(indexes, 0);
  for (const auto& [c, standard] : RevealedFolders)
    if (c > 0 && size_t(c) < indexes) st.revealed[size_t(c)] = standard ? 2 : 1;
  for (;;) {
    WalkQueue(st);
    if (!st.beyond.empty() && SettleBeyondEnds(st)) continue;
    if (st.inRevealed.empty() || !SettleRevealed(st)) break;
  }

  // Entries sharing a cluster that is no directory point at nothing either.
  for (int32_t k = 0; k < FoundEntryCount; ++k) {
    FoundEntry& r = FoundEntries[size_t(k)];
    if (r.IsDir && r.Duplicate && r.StartCluster >= 0 && size_t(r.StartCluster) < indexes &&
        st.noDirectory[size_t(r.StartCluster)])
      r.InvalidPointer = true;
  }

  if (!st.fixed && !st.error) Addinfo(kOK, "Subdirectory Scan");
}

}  // namespace checker
