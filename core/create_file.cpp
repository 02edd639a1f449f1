#include "core/create_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/erase.h"
#include "core/error_handler.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace core {

namespace {

bool IsErased(const FileRec& r) { return r.Name == kErasedName; }

void Tell(const std::string& text) {
  ui::Current().MsgBox(text, ui::Buttons::OK, ui::Icon::Exclamation);
}

std::string Shown(const std::string& recorderName) { return platform::Cp1252ToUtf8(recorderName); }

// The first live folder record whose name (case ignored) is `lowerName`.
int FindFolder(int side, const std::string& lowerName) {
  const DiskRec& d = Disk[side];
  for (int32_t i = 0; i < d.FileCount; ++i) {
    const FileRec& r = d.Files[size_t(i)];
    if (r.IsDir && !r.Recovered && !IsErased(r) && LowerCaseName(r.Name) == lowerName) return i;
  }
  return -1;
}

// The first unused slot among those the loader reads back.
int FirstFreeSlot(const std::vector<uint8_t>& cluster) {
  const size_t slots = size_t(WritableDirSlots(cluster.size()));
  for (size_t s = 0; s < slots; ++s)
    if (cluster[s * kDirEntrySize] == AttrUnused) return int(s);
  return -1;
}

}  // namespace

std::string EntryNameBytes(const std::string& name) {
  std::string out = name;
  for (char& ch : out) {
    const uint8_t c = uint8_t(ch);
    if (c == 0xFF) ch = 'y';
    else if (c < 0x20) ch = '_';
  }
  // Final points go, unless nothing else is left.
  const auto dropFinalPoints = [](std::string& text) {
    const size_t last = text.find_last_not_of('.');
    if (last != std::string::npos) text.resize(last + 1);
  };
  dropFinalPoints(out);
  const size_t limit = size_t(kMaxEntryName);
  if (out.size() <= limit) return out;
  // The extension stays when at least one character of the name part can
  // stay before it.
  const size_t dot = out.rfind('.');
  if (dot != std::string::npos && dot > 0) {
    const size_t extLength = out.size() - dot - 1;
    if (extLength < limit) {
      const size_t keep = limit - extLength;   // of the name part
      if (dot <= keep) return out;             // 95 bytes at most
      return out.substr(0, keep) + out.substr(dot);
    }
  }
  out.resize(limit);
  dropFinalPoints(out);
  return out;
}

std::string EntryPath(const std::string& path) {
  const size_t cut = path.rfind('\\');
  if (cut == std::string::npos) return EntryNameBytes(path);
  return path.substr(0, cut + 1) + EntryNameBytes(path.substr(cut + 1));
}

std::string LowerCaseName(const std::string& name) {
  std::string out = name;
  for (char& ch : out) {
    const uint8_t c = uint8_t(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
      ch = char(c + 0x20);
    else if (c == 0x8A || c == 0x8C || c == 0x8E)
      ch = char(c + 0x10);
    else if (c == 0x9F)
      ch = char(0xFF);
  }
  return out;
}

void BuildSubDirBuffer(int side, int32_t own, const std::string& path) {
  ProcScope scope("BuildSubDirBuffer");
  CheckSideIndex(side);
  const int32_t spc = Disk[side].SectorsPerCluster;
  if (spc <= 0) Raise(5, "Invalid procedure call or argument (cluster size)");
  const size_t bytes = size_t(spc) * kSectorSize;

  if (SubDirBuffer.size() != bytes || SubDirBuffer.empty() || SubDirBuffer[0] != AttrSelf) {
    SubDirBuffer.assign(bytes, 0xFF);
    std::fill(SubDirBuffer.begin(), SubDirBuffer.begin() + 2 * kDirEntrySize, uint8_t(0));
    uint8_t* self = SubDirBuffer.data();
    self[kDeAttribute] = AttrSelf;
    PutBE32(self + kDeClusterCount, 1);
    PutBE32(self + kDeFreeBytes, uint32_t(bytes - 2 * kDirEntrySize));
    self[kDeName] = '.';
    uint8_t* parent = SubDirBuffer.data() + kDirEntrySize;
    parent[kDeAttribute] = AttrParent;
    PutBE32(parent + kDeClusterCount, 1);
    PutBE32(parent + kDeFreeBytes, uint32_t(bytes - 2 * kDirEntrySize));
    parent[kDeName] = '.';
    parent[kDeName + 1] = '.';
  }
  ClusterBuffer = SubDirBuffer;
  PutBE32(ClusterBuffer.data() + kDeStartCluster, uint32_t(own));

  int32_t parentIndex = 0;   // the root
  const size_t cut = path.rfind('\\');
  if (cut != std::string::npos && cut > 0) {
    const int found = FindFolder(side, LowerCaseName(path.substr(0, cut)));
    if (found >= 0) parentIndex = Disk[side].Files[size_t(found)].StartCluster;
  }
  PutBE32(ClusterBuffer.data() + kDirEntrySize + kDeStartCluster, uint32_t(parentIndex));
}

int32_t FreeEntrySlots(int side, const std::string& path) {
  ProcScope scope("FreeEntrySlots");
  CheckSideIndex(side);
  if (IsPCSide(side)) return -1;
  const size_t cut = path.rfind('\\');
  if (cut == std::string::npos || cut == 0) return -1;
  const int parent = FindFolder(side, LowerCaseName(path.substr(0, cut)));
  if (parent < 0) return -1;
  const int32_t cluster = Disk[side].Files[size_t(parent)].StartCluster;
  if (cluster < 0 || cluster > kMaxFatIndex || !ReadTopfCluster(side, cluster + 1) ||
      ClusterBuffer.empty() || ClusterBuffer[kDeAttribute] != AttrSelf)
    return -2;
  int32_t free = 0;
  for (int32_t s = 0, n = WritableDirSlots(ClusterBuffer.size()); s < n; ++s)
    if (ClusterBuffer[size_t(s) * kDirEntrySize] == AttrUnused) ++free;
  return free;
}

bool CreateTopfFile(int side, const std::string& path, bool isDir, double size, double date,
                    int32_t first) {
  ProcScope scope("CreateTopfFile");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  if (IsPCSide(side)) return false;
  const int32_t spc = d.SectorsPerCluster;
  const int64_t clusterBytes = int64_t(spc) * kSectorSize;

  // Directory part (with its "\") and entry name: base + "." + extension.
  const size_t cut = path.rfind('\\');
  const std::string dirPart = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  const std::string entryName =
      EntryNameBytes(cut == std::string::npos ? path : path.substr(cut + 1));
  const size_t dot = entryName.rfind('.');
  const std::string ext = dot == std::string::npos ? std::string() : entryName.substr(dot + 1);
  const std::string what = "\"" + Shown(dirPart + entryName) + "\"";

  if (entryName.empty()) {
    Tell("Unable to create " + what + ": the name is empty.");
    return false;
  }
  if (!isDir && !(size > 0)) {
    Tell(what + " is empty (0 bytes). The recorder's file system cannot hold an empty file; "
                "it was not created.");
    return false;
  }
  if (spc <= 0 || first < 1 || first > LastFatIndex(side) ||
      d.FAT[size_t(first)].Next == 0) {
    Tell("Unable to create " + what + ": its first cluster (" + std::to_string(first) +
         ") is not allocated.");
    return false;
  }

  // The parent folder: a live folder record.
  std::string dirKey = dirPart;
  if (dirKey.size() > 1) dirKey.pop_back();
  dirKey = LowerCaseName(dirKey);
  const int parent = dirPart.empty() ? -1 : FindFolder(side, dirKey);
  if (parent < 0) {
    Tell("Unable to create " + what + ": the folder \"" + Shown(dirPart) +
         "\" was not found on the disk.");
    return false;
  }
  const int32_t parentCluster = d.Files[size_t(parent)].StartCluster;
  if (parentCluster < 0 || parentCluster > kMaxFatIndex) {
    Tell("Unable to create " + what + ": the folder \"" + Shown(dirPart) + "\" is damaged.");
    return false;
  }

  // An older entry of the same name (case ignored) in that folder.
  const std::string key = dirKey + "\\" + LowerCaseName(entryName);
  int older = -1;
  for (int32_t i = 0; i < d.FileCount; ++i) {
    const FileRec& r = d.Files[size_t(i)];
    if (r.Recovered || IsErased(r)) continue;
    if (LowerCaseName(r.Name) == key) {
      older = i;
      break;
    }
  }
  if (older >= 0 && (isDir || d.Files[size_t(older)].IsDir)) {
    Tell("Unable to create " + what + ": an entry of that name already exists.");
    return false;
  }

  // The parent's cluster must be readable, a directory, and have room.
  if (!ReadTopfCluster(side, parentCluster + 1) || int64_t(ClusterBuffer.size()) < clusterBytes ||
      ClusterBuffer.size() < 2 * size_t(kDirEntrySize)) {
    Tell("Unable to create " + what + ": the folder \"" + Shown(dirPart) +
         "\" could not be read (" + ClusterFailure() + ").");
    return false;
  }
  if (ClusterBuffer[kDeAttribute] != AttrSelf) {
    Tell("Unable to create " + what + ": the folder \"" + Shown(dirPart) + "\" is damaged.");
    return false;
  }
  // The new entry goes into a free slot first; an older entry of the same
  // name is erased only once the new one is on the disk, so that a cut in
  // between leaves at least one of them listed.
  const int slotIndex = FirstFreeSlot(ClusterBuffer);
  if (slotIndex < 0) {
    Tell("Unable to create " + what + ": the folder \"" + Shown(dirPart) + "\" is full (a folder "
         "holds at most " + std::to_string(kMaxDirEntries) + " entries).");
    return false;
  }

  // The new entry.
  const EntrySizeFields fields = SizeToEntryFields(size, spc);
  uint8_t* slot = ClusterBuffer.data() + size_t(slotIndex) * kDirEntrySize;
  std::memset(slot, 0, kDirEntrySize);
  uint8_t attribute = AttrDirectory;
  if (!isDir) attribute = LowerCaseName(ext) == "rec" ? AttrRecording : AttrFile;
  slot[kDeAttribute] = attribute;
  WriteTopfDate(slot + kDeDate, DateValueToTopfDate(date));
  PutBE32(slot + kDeStartCluster, uint32_t(first));
  PutBE32(slot + kDeClusterCount, uint32_t(fields.ClusterCount));
  PutBE32(slot + kDeFreeBytes, uint32_t(fields.FreeBytes));
  PutLastSectorBytes(slot, fields.LastSectorBytes);
  std::memcpy(slot + kDeName, entryName.data(), entryName.size());

  // The parent's "." free bytes: behind the last slot in use.
  const uint32_t freeBytes = uint32_t(DirFreeBytes(ClusterBuffer, spc));
  PutBE32(ClusterBuffer.data() + kDeFreeBytes, freeBytes);

  if (!WriteTopfCluster(side, parentCluster + 1, false)) {
    Tell("Unable to create " + what + ": the folder \"" + Shown(dirPart) +
         "\" could not be written (" + ClusterFailure() + ").");
    return false;
  }
  FSRecalculateDirSizes(side, kDirSizesAdd, parentCluster);

  if (isDir) {
    bool patched = ReadTopfCluster(side, first + 1);
    if (patched && ClusterBuffer.size() >= 2 * size_t(kDirEntrySize) && ClusterBuffer[0] == AttrSelf) {
      PutBE32(ClusterBuffer.data() + kDirEntrySize + kDeFreeBytes, freeBytes);
      patched = WriteTopfCluster(side, first + 1, false);
    }
    if (!patched)
      Tell("The folder " + what + " was created, but its own cluster could not be updated. "
           "Please run a file system check.");
  }

  CheckArraySize(side);
  FileRec& r = d.Files[size_t(d.FileCount)];
  r = FileRec();
  r.Name = dirPart + entryName;
  r.EntryType = attribute;
  r.IsDir = isDir;
  r.StartCluster = first;
  r.ClusterCount = fields.ClusterCount;
  r.Size = isDir ? 0 : size;
  r.RecDate = date;
  r.DirCluster = parentCluster;
  r.Slot = slotIndex;
  r.ServiceType = 0;
  d.FileCount += 1;

  // Now the older file goes. Its chain is freed unless another entry (the
  // new one, when it took over that chain) still reaches it. An erase that
  // fails has told the user why; both entries then stay listed.
  if (older >= 0) FSEraseFile(side, older, true);
  return true;
}

}  // namespace core
