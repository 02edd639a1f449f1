#include "core/erase.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fat_write.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace core {

namespace {

bool IsErased(const FileRec& r) { return r.Name == kErasedName; }

void Tell(const std::string& text) {
  ui::Current().MsgBox(text, ui::Buttons::OK, ui::Icon::Exclamation);
}

std::string Shown(const std::string& recorderName) { return platform::Cp1252ToUtf8(recorderName); }

int32_t SlotsPerCluster(int side) { return Disk[side].SectorsPerCluster * (kSectorSize / kDirEntrySize); }

// True when the folder record `dir` still holds something: a live record of
// the list inside it, or a used slot (beyond "." and "..") in its cluster.
// A folder cluster that cannot be read counts as not empty (`unreadable`).
bool FolderHoldsEntries(int side, const FileRec& dir, bool& unreadable) {
  unreadable = false;
  const DiskRec& d = Disk[side];
  const std::string prefix = dir.Name + "\\";
  for (int32_t i = 0; i < d.FileCount; ++i) {
    const FileRec& r = d.Files[size_t(i)];
    if (&r == &dir || IsErased(r)) continue;
    if (r.DirCluster == dir.StartCluster || r.Name.compare(0, prefix.size(), prefix) == 0)
      return true;
  }
  if (dir.StartCluster < 1 || dir.StartCluster > kMaxFatIndex) return true;
  if (!ReadTopfCluster(side, dir.StartCluster + 1)) return unreadable = true;
  const size_t slots = ClusterBuffer.size() / kDirEntrySize;
  for (size_t s = 2; s < slots; ++s) {
    const uint8_t a = ClusterBuffer[s * kDirEntrySize];
    if (a != AttrUnused && a != 0x00) return true;
  }
  return false;
}

// Reads disk cluster 0 into ClusterBuffer; true when it was read and holds
// both FAT areas for every entry the writers touch.
bool SystemClusterFits(int side) {
  if (!ReadTopfCluster(side, 0)) return false;
  const int32_t writable = LastFatIndex(side);
  const int64_t need = int64_t(kFAT2) + 3 * (int64_t(writable) + 1);
  return int64_t(ClusterBuffer.size()) >= std::max<int64_t>(need, kMinClusterBytes);
}

// The "." FreeBytes of the folder cluster in ClusterBuffer: behind its last
// slot in use, as the check program computes it, so that an erase of the
// last entry leaves nothing for it to correct.
void KeepSelfFreeBytes(int side) {
  const int64_t free = DirFreeBytes(ClusterBuffer, Disk[side].SectorsPerCluster);
  if (free >= 0 && ClusterBuffer[kDeAttribute] == AttrSelf)
    PutBE32(ClusterBuffer.data() + kDeFreeBytes, uint32_t(free));
  KeepCheckByte(ClusterBuffer.data());
}

// Writes the erased entry's slot back into its folder cluster, when that
// slot is still unused there.
bool PutSlotBack(int side, const FileRec& e, const std::vector<uint8_t>& bytes) {
  if (!ReadTopfCluster(side, e.DirCluster + 1)) return false;
  uint8_t* slot = ClusterBuffer.data() + size_t(e.Slot) * kDirEntrySize;
  if (slot[kDeAttribute] != AttrUnused) return false;
  std::copy(bytes.begin(), bytes.end(), slot);
  KeepSelfFreeBytes(side);
  return WriteTopfCluster(side, e.DirCluster + 1, false);
}

}  // namespace

std::vector<int32_t> EntryChain(int side, int index) {
  CheckSideIndex(side);
  const DiskRec& d = Disk[side];
  std::vector<int32_t> chain;
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size()) return chain;
  const int32_t last = LastFatIndex(side);
  if (last < 1) return chain;
  std::vector<uint8_t> seen(size_t(last) + 1, 0);
  for (int32_t c = d.Files[size_t(index)].StartCluster; c >= 1 && c <= last && !seen[size_t(c)];
       c = d.FAT[size_t(c)].Next) {
    seen[size_t(c)] = 1;
    chain.push_back(c);
  }
  return chain;
}

size_t FirstReachedByOthers(int side, int index, const std::vector<int32_t>& chain) {
  CheckSideIndex(side);
  const DiskRec& d = Disk[side];
  if (chain.empty()) return 0;
  // Position of each chain cluster in the chain, + 1 (0: not in the chain).
  std::vector<int32_t> position(d.FAT.size(), 0);
  for (size_t k = 0; k < chain.size(); ++k)
    if (chain[k] >= 0 && size_t(chain[k]) < position.size()) position[size_t(chain[k])] = int32_t(k) + 1;
  size_t first = chain.size();
  // A link into the chain from outside it (another chain runs on into it).
  for (size_t i = 0; i < d.FAT.size(); ++i) {
    const int32_t n = d.FAT[i].Next;
    if (n >= 1 && size_t(n) < position.size() && position[size_t(n)] > 0 && position[i] == 0)
      first = std::min(first, size_t(position[size_t(n)] - 1));
  }
  // Another live record that starts inside the chain.
  const int32_t n = std::min<int32_t>(d.FileCount, int32_t(d.Files.size()));
  for (int32_t j = 0; j < n; ++j) {
    if (j == index) continue;
    const FileRec& r = d.Files[size_t(j)];
    if (IsErased(r)) continue;
    if (r.StartCluster >= 1 && size_t(r.StartCluster) < position.size() &&
        position[size_t(r.StartCluster)] > 0)
      first = std::min(first, size_t(position[size_t(r.StartCluster)] - 1));
  }
  return first;
}

bool ChainReachedByOthers(int side, int index, const std::vector<int32_t>& chain) {
  return FirstReachedByOthers(side, index, chain) < chain.size();
}

bool FSEraseFile(int side, int index, bool freeChain) {
  ProcScope scope("FSEraseFile");
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size())
    Raise(9, "Subscript out of range");
  FileRec& e = d.Files[size_t(index)];
  if (IsErased(e)) return true;

  if (IsPCSide(side)) {
    // A file, a link (never followed) or an empty folder.
    if (!platform::PcRemove(e.Name)) {
      Tell("\"" + e.Name + "\" could not be deleted (" +
           platform::PcFileErrorText(platform::LastError()) + ").");
      return false;
    }
    e.Name = kErasedName;
    return true;
  }

  // A pending recovered record has no slot on the disk.
  if (e.DirCluster < 0) {
    e.Name = kErasedName;
    return true;
  }
  if (e.DirCluster == 0) {
    Tell("\"" + Shown(e.Name) + "\" lies in the root directory and was not erased.");
    return false;
  }
  if (e.Slot < 2 || e.Slot >= SlotsPerCluster(side) || e.DirCluster > kMaxFatIndex) {
    Tell("The entry of \"" + Shown(e.Name) +
         "\" has no valid place on the disk; it was not erased. Please run a file system check.");
    return false;
  }
  bool unreadable = false;
  if (e.IsDir && FolderHoldsEntries(side, e, unreadable)) {
    Tell("The folder \"" + Shown(e.Name) +
         (unreadable ? "\" could not be read; it was not erased." : "\" is not empty; it was not erased."));
    return false;
  }

  // The FAT must be readable before the entry goes: an entry leaves its
  // folder only when its clusters can be freed with it.
  if (!SystemClusterFits(side)) {
    Tell("The FAT could not be read; \"" + Shown(e.Name) + "\" was not erased.");
    return false;
  }

  // The directory cluster that holds the entry: it must hold this entry.
  if (!ReadTopfCluster(side, e.DirCluster + 1)) {
    Tell("The folder holding \"" + Shown(e.Name) + "\" could not be read; nothing was erased.");
    return false;
  }
  uint8_t* slot = ClusterBuffer.data() + size_t(e.Slot) * kDirEntrySize;
  if (slot[kDeAttribute] != e.EntryType || int32_t(GetBE32(slot + kDeStartCluster)) != e.StartCluster) {
    Tell("The entry of \"" + Shown(e.Name) +
         "\" on the disk does not match; it was not erased. Please run a file system check.");
    return false;
  }
  const std::vector<uint8_t> oldSlot(slot, slot + kDirEntrySize);
  std::fill(slot, slot + kDirEntrySize, uint8_t(0xFF));
  KeepSelfFreeBytes(side);
  if (!WriteTopfCluster(side, e.DirCluster + 1, false)) {
    Tell("The folder holding \"" + Shown(e.Name) + "\" could not be written (" + ClusterFailure() +
         "); nothing was erased.");
    return false;
  }
  FSRecalculateDirSizes(side, kDirSizesAdd, e.DirCluster);

  // Clusters another entry still reaches stay allocated with it; only the
  // clusters in front of them, which nothing else reaches, are freed. The
  // links are kept until the FAT is on the disk.
  std::vector<int32_t> freed;
  std::vector<FatLink> before;
  int32_t restIndex = -1;
  FatLink restBefore;
  if (freeChain) {
    const std::vector<int32_t> chain = EntryChain(side, index);
    const size_t shared = FirstReachedByOthers(side, index, chain);
    freed.assign(chain.begin(), chain.begin() + long(std::min(shared, chain.size())));
    for (int32_t c : freed) before.push_back(d.FAT[size_t(c)]);
    if (shared < chain.size()) {
      restIndex = chain[shared];
      restBefore = d.FAT[size_t(restIndex)];
      FatLink& rest = d.FAT[size_t(restIndex)];
      if (!freed.empty() && rest.Prev == freed.back()) rest.Prev = 0;
    }
    for (int32_t c : freed) d.FAT[size_t(c)].Next = d.FAT[size_t(c)].Prev = 0;
  }

  // Freed links and the used-cluster count go to the disk in one write.
  bool fatWritten = SystemClusterFits(side);
  std::string fatWhy = "the system cluster could not be read";
  if (fatWritten) {
    const int32_t writable = LastFatIndex(side);
    for (int32_t c : freed) {
      if (c > writable) continue;
      WriteFat24(ClusterBuffer.data(), kFAT1, c, kFat24Free);
      WriteFat24(ClusterBuffer.data(), kFAT2, c, kFat24Free);
    }
    const uint32_t used = uint32_t(CountUsedClusters(side));
    PutBE32(ClusterBuffer.data() + kSbUsedClusters, used);
    PutBE32(ClusterBuffer.data() + kBackupSuperblock + kSbUsedClusters, used);
    fatWritten = WriteTopfCluster(side, 0, true);
    fatWhy = ClusterFailure();
  }
  if (!fatWritten && freed.empty()) {
    // Nothing was to be freed: only the count on the disk may be stale.
    Tell("\"" + Shown(e.Name) +
         "\" was erased, but the used-cluster count could not be written (" + fatWhy +
         "). Please run a file system check.");
  } else if (!fatWritten) {
    // The chain stays allocated on the disk, and so in memory; the entry
    // goes back into its folder if it can.
    for (size_t k = 0; k < freed.size(); ++k) d.FAT[size_t(freed[k])] = before[k];
    if (restIndex >= 0) d.FAT[size_t(restIndex)] = restBefore;
    if (PutSlotBack(side, e, oldSlot)) {
      Tell("The FAT could not be written (" + fatWhy + "); \"" + Shown(e.Name) + "\" was not erased.");
      return false;
    }
    Tell("\"" + Shown(e.Name) +
         "\" was taken out of its folder, but the FAT could not be written (" + fatWhy +
         "): its clusters are still allocated. Please run a file system check.");
  }

  e.Name = kErasedName;
  return true;
}

bool FSRecalculateDirSizes(int side, int request, int32_t cluster) {
  ProcScope scope("FSRecalculateDirSizes");
  CheckSideIndex(side);
  if (IsPCSide(side)) return true;
  WorkList& list = List4[side];
  switch (request) {
    case kDirSizesClear:
      list.Clear();
      return true;
    case kDirSizesAdd:
      list.AddItem(std::to_string(cluster));
      return true;
    case kDirSizesRun:
      break;
    default:
      return true;
  }
  if (list.Empty()) return true;
  std::string failed;   // the first folder whose size did not reach the disk

  // Equal items stand next to each other in a sorted list.
  for (size_t k = list.ListCount() - 1; k-- > 0;)
    if (list.List(k + 1) == list.List(k)) list.RemoveItem(k + 1);

  DiskRec& d = Disk[side];
  std::vector<uint8_t> seen;
  while (!list.Empty()) {
    const std::string item = list.TakeFirst();
    int64_t start = 0;
    try {
      start = std::stoll(item);
    } catch (...) {
      continue;
    }
    if (start < 0 || start > kMaxFatIndex) continue;
    int32_t dir = int32_t(start);
    seen.assign(kFatEntries, 0);

    // Up from the folder to its top-level folder; each folder once.
    while (!seen[size_t(dir)]) {
      seen[size_t(dir)] = 1;
      int64_t clusters = 0;
      double bytes = 0;
      for (int32_t i = 0; i < d.FileCount; ++i) {
        const FileRec& r = d.Files[size_t(i)];
        if (IsErased(r) || r.DirCluster != dir) continue;
        if (r.EntryType == AttrFile || r.EntryType == AttrRecording ||
            r.EntryType == AttrDirectory || r.EntryType == AttrRecycle) {
          clusters += r.ClusterCount;
          bytes += r.Size;
        }
      }
      clusters += 1;
      const int32_t count = int32_t(std::clamp<int64_t>(clusters, 0, INT32_MAX));

      FileRec* owner = nullptr;
      for (int32_t i = 0; i < d.FileCount; ++i) {
        FileRec& r = d.Files[size_t(i)];
        if (!IsErased(r) && r.IsDir && r.StartCluster == dir) {
          owner = &r;
          break;
        }
      }
      if (!owner) break;

      bool rewritten = false;
      if (owner->DirCluster >= 0 && owner->DirCluster <= kMaxFatIndex && owner->Slot >= 0 &&
          owner->Slot < SlotsPerCluster(side)) {
        if (ReadTopfCluster(side, owner->DirCluster + 1)) {
          uint8_t* slot = ClusterBuffer.data() + size_t(owner->Slot) * kDirEntrySize;
          if (int32_t(GetBE32(slot + kDeStartCluster)) == dir &&
              (slot[kDeAttribute] == AttrDirectory || slot[kDeAttribute] == AttrRecycle)) {
            PutBE32(slot + kDeClusterCount, uint32_t(count));
            KeepCheckByte(slot);
            rewritten = WriteTopfCluster(side, owner->DirCluster + 1, false);
            if (!rewritten && failed.empty()) failed = owner->Name;
          }
        } else if (failed.empty()) {
          failed = owner->Name;
        }
      }
      owner->ClusterCount = count;
      owner->Size = bytes;

      if (owner->DirCluster == 0) {
        if (rewritten) {
          for (int32_t k = 0; k < d.RootCopyCount && size_t(k) < d.RootCopy.size(); ++k) {
            const RootCopyEntry& rc = d.RootCopy[size_t(k)];
            if (rc.StartCluster != owner->StartCluster) continue;
            if (rc.Slot < 0 || rc.Slot >= kRootCopySlots) break;
            bool copied = ReadTopfCluster(side, 0) && int64_t(ClusterBuffer.size()) >= kMinClusterBytes;
            if (copied) {
              PutBE32(ClusterBuffer.data() + kRootDirectoryCopy + rc.Slot * kDirEntrySize +
                          kDeClusterCount,
                      uint32_t(count));
              copied = WriteTopfCluster(side, 0, true);
            }
            if (!copied && failed.empty()) failed = owner->Name;
            break;
          }
        }
        break;
      }
      if (owner->DirCluster < 0 || owner->DirCluster > kMaxFatIndex) break;
      dir = owner->DirCluster;
    }
  }
  if (failed.empty()) return true;
  Tell("The size of the folder \"" + Shown(failed) +
       "\" could not be written to the disk. Please run a file system check.");
  return false;
}

}  // namespace core
