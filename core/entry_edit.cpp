#include "core/entry_edit.h"

#include <algorithm>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"

namespace core {

namespace {

FileRec& Record(int side, int index) {
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size())
    Raise(9, "Subscript out of range");
  return d.Files[size_t(index)];
}

// Reads the directory cluster that holds the record's entry; the slot must
// lie inside it. Returns the slot, or nullptr (nothing may be written).
uint8_t* ReadEntrySlot(int side, const FileRec& e) {
  if (e.DirCluster < 0 || e.DirCluster > kMaxFatIndex || e.Slot < 0) return nullptr;
  if (!ReadTopfCluster(side, e.DirCluster + 1)) return nullptr;
  if ((size_t(e.Slot) + 1) * kDirEntrySize > ClusterBuffer.size()) return nullptr;
  return ClusterBuffer.data() + size_t(e.Slot) * kDirEntrySize;
}

// Writes back the cluster of the record's entry (ReadEntrySlot), the
// entry's check byte kept with its fields.
bool WriteEntrySlot(int side, const FileRec& e, uint8_t* slot) {
  KeepCheckByte(slot);
  return WriteTopfCluster(side, e.DirCluster + 1, false);
}

// Sets the 32-bit field at `offset` of disk cluster `cluster` (a FAT index)
// when that cluster can be read; writes it back.
bool PatchCluster(int side, int32_t fatIndex, size_t offset, uint32_t value) {
  if (fatIndex < 0 || fatIndex > kMaxFatIndex) return false;
  if (!ReadTopfCluster(side, fatIndex + 1) || offset + 4 > ClusterBuffer.size()) return false;
  PutBE32(ClusterBuffer.data() + offset, value);
  return WriteTopfCluster(side, fatIndex + 1, false);
}

}  // namespace

bool ModifyTopfFileStartCluster(int side, int index) {
  ProcScope scope("ModifyTopfFileStartCluster");
  FileRec& e = Record(side, index);
  DiskRec& d = Disk[side];
  const int32_t start = e.StartCluster;
  if (start < 1 || start > kMaxFatIndex) return false;

  // A folder's own "." entry first: the entry then never names a cluster
  // that calls itself by another number.
  if (e.IsDir && !PatchCluster(side, start, kDeStartCluster, uint32_t(start))) return false;

  uint8_t* slot = ReadEntrySlot(side, e);
  if (!slot) return false;
  const int32_t old = int32_t(GetBE32(slot + kDeStartCluster));
  PutBE32(slot + kDeStartCluster, uint32_t(start));
  if (!WriteEntrySlot(side, e, slot)) return false;

  // An entry of the root's first slots has a copy in the system cluster.
  bool copied = true;
  if (e.DirCluster == 0 && e.Slot < kRootCopySlots) {
    // A copy that could not be read or written makes the result false; the
    // entry itself already names the new start.
    copied = ReadTopfCluster(side, 0) && int64_t(ClusterBuffer.size()) >= kMinClusterBytes;
    uint8_t* copy = ClusterBuffer.data() + kRootDirectoryCopy + e.Slot * kDirEntrySize;
    if (copied && copy[kDeAttribute] >= 1 && copy[kDeAttribute] <= 254) {
      PutBE32(copy + kDeStartCluster, uint32_t(start));
      copied = WriteTopfCluster(side, 0, true);
    }
    for (int32_t k = 0; k < d.RootCopyCount && size_t(k) < d.RootCopy.size(); ++k)
      if (d.RootCopy[size_t(k)].Slot == e.Slot) d.RootCopy[size_t(k)].StartCluster = start;
  }

  if (!e.IsDir) return copied;

  // Its subfolders' ".." entries.
  bool ok = copied;
  for (int32_t i = 0; i < d.FileCount; ++i) {
    FileRec& child = d.Files[size_t(i)];
    if (child.DirCluster != old || &child == &e) continue;
    if (child.IsDir && child.Name != kErasedName)
      ok = PatchCluster(side, child.StartCluster, kDirEntrySize + kDeStartCluster,
                        uint32_t(start)) && ok;
    child.DirCluster = start;
  }
  return ok;
}

bool ModifyTopfFileCryptFlags(int side, int index) {
  ProcScope scope("ModifyTopfFileCryptFlags");
  FileRec& e = Record(side, index);
  uint8_t* slot = ReadEntrySlot(side, e);
  if (!slot) return false;
  slot[kDeCryptFlags] = e.CryptValid ? kCryptValidBit : 0;
  slot[kDeCryptValue] = e.CryptValid ? e.CryptFlags : 0;
  return WriteEntrySlot(side, e, slot);
}

bool ModifyTopfFileDate(int side, int index) {
  ProcScope scope("ModifyTopfFileDate");
  FileRec& e = Record(side, index);
  if (IsPCSide(side)) return FileDateTimeSet(e.Name, e.RecDate, e.RecDate, e.RecDate);
  uint8_t* slot = ReadEntrySlot(side, e);
  if (!slot) return false;
  TopfDate date = DateValueToTopfDate(e.RecDate);
  date.Second = slot[kDeDate + 4];   // the seconds stay as they were
  WriteTopfDate(slot + kDeDate, date);
  return WriteEntrySlot(side, e, slot);
}

}  // namespace core
