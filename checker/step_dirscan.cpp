// Check step 4: the directory walk that repairs "." and ".." slots, invalid
// slots and impossible dates, and fills FoundEntries.
#include "checker/step_dirscan.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "checker/disk_layer.h"
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

int32_t LastSlotInUse() {
  for (int32_t s = SlotsPerCluster() - 1; s >= 0; --s)
    if (SlotInUse(SlotAttribute(s))) return s;
  return -1;
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

bool WriteBackCluster(int32_t diskCluster, bool allowSystem, const std::string& prefix) {
  if (WriteTopfCluster(diskCluster, allowSystem)) return true;
  Addinfo(kError, prefix + "Couldn't write cluster " + std::to_string(diskCluster - 1));
  return false;
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
void RecreateDotSlot(int32_t s, uint8_t attribute, int32_t start, const char* name,
                     const std::string& path) {
  const int32_t off = s * slot::kBytes;
  ClearSlot(off, 0);
  ClusterBuffer[size_t(off)] = attribute;
  SetTopfLong(off + slot::kStartCluster, start);
  SetTopfLong(off + slot::kClusterCount, 1);
  SetTopfString(off + slot::kName, name);
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

// Walks one directory cluster (already in ClusterBuffer).
void ScanCluster(ScanState& st, int32_t index, const std::string& path) {
  const int32_t slots = SlotsPerCluster();
  const double now = NowDateValue();
  const double clusterBytes = double(SectorsPerCluster) * 512.0;
  bool changed = false;
  int32_t parent = 0;

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
    } else if (s > 1 && a != slot::kFile && a != slot::kRecording && a != slot::kDirectory &&
               a != slot::kRecycle && a != slot::kUnused) {
      ClearSlot(off, slot::kUnused);
      Addinfo(kFixed, "Files - Attribute of slot " + std::to_string(s) + " of directory '" + path +
                          "' is invalid: set slot to unused");
      changed = true;
    }

    const uint8_t attr = ClusterBuffer[size_t(off)];
    if (attr == slot::kFile || attr == slot::kRecording) {
      const int32_t raw = GetTopfLong(off + slot::kDate);
      if (raw != 0 && raw != -1) {
        const double when = GetTopfDate(off + slot::kDate);
        if (when < kEarliestEntryDate || when > now + 2.0) {
          SetTopfDate(off + slot::kDate, now);
          Addinfo(kFixed, "Files - Date/Time of " + path + SlotName(off) + ": set to actual date/time");
          changed = true;
        }
      }
      FoundEntry r;
      r.Name = path + SlotName(off);
      r.IsDir = false;
      r.StartCluster = GetTopfLong(off + slot::kStartCluster);
      r.ClusterCount = GetTopfLong(off + slot::kClusterCount);
      const double freeBytes = GetTopfLong(off + slot::kFreeBytes);
      double lastSector = uint16_t(GetTopfWord(off + slot::kLastSectorBytes));
      if (lastSector == 0) lastSector = 512;
      r.Size = double(r.ClusterCount) * clusterBytes - freeBytes - 512.0 + lastSector;
      r.DirCluster = index;
      r.Slot = s;
      r.ParentCluster = parent;
      AppendRecord(st, r);
    } else if (attr == slot::kParent) {
      parent = GetTopfLong(off + slot::kStartCluster);
    } else if (attr == slot::kDirectory || attr == slot::kRecycle) {
      const int32_t c = GetTopfLong(off + slot::kStartCluster);
      const std::string name = SlotName(off);
      FoundEntry r;
      r.Name = path + name + "\\";
      r.IsDir = true;
      r.StartCluster = c;
      r.ClusterCount = 1;
      r.Size = 0;
      r.DirCluster = index;
      r.Slot = s;
      r.ParentCluster = parent;
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
        ReportInvalidPointer(path + name);
        r.InvalidPointer = true;
        AppendRecord(st, r);
      } else if (st.seen[size_t(c)]) {
        r.Duplicate = true;
        AppendRecord(st, r);
      } else {
        st.seen[size_t(c)] = 1;
        st.queuedFrom[size_t(c)] = index;
        st.standard[size_t(c)] = index == 0 && (s == 1 || s == 2 || s == 3) && c == s;
        st.pathOf[c] = r.Name;
        st.recordOf[size_t(c)] = AppendRecord(st, r);
        List1().AddItem(std::to_string(c) + " " + r.Name);
      }
    }
  }

  if (changed) {
    st.fixed = true;
    WriteBackCluster(index + 1, false, "Files - ");
  }
}

}  // namespace

void fsck_04_ScanDirectories() {
  core::ProcScope scope("fsck_04_ScanDirectories");
  if (FoundEntries.size() < size_t(kMaxFoundEntries)) AllocateFoundEntries();
  FoundEntryCount = 0;
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

  // Each FAT index is queued at most once, so the walk ends.
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
    if (index > 0 && size_t(index) < indexes && !IsDirectoryCluster() &&
        !(st.standard[size_t(index)] && !HoldsRecordingData())) {
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
