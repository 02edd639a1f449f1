#include "core/fat_write.h"

#include <algorithm>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/error_handler.h"

namespace core {

namespace {

// The highest FAT index the writers touch on the disk: LastCluster, never
// beyond the table.
int32_t WritableLast(int side) { return LastFatIndex(side); }

// Reads disk cluster 0 and makes sure both FAT areas for entries 0 .. last
// lie inside the buffer. False (nothing to write back) otherwise.
bool ReadSystemCluster(int side) {
  if (!ReadTopfCluster(side, 0)) return false;
  const int64_t need = int64_t(kFAT2) + 3 * (int64_t(WritableLast(side)) + 1);
  return int64_t(ClusterBuffer.size()) >= std::max<int64_t>(need, kFAT2);
}

}  // namespace

int32_t CountUsedClusters(int side) {
  CheckSideIndex(side);
  const auto& fat = Disk[side].FAT;
  const int32_t last = std::min<int32_t>(WritableLast(side), int32_t(fat.size()) - 1);
  int32_t used = 0;
  for (int32_t i = 0; i <= last; ++i)
    if (fat[size_t(i)].Next != 0) ++used;
  return used;
}

bool UpdateTopfFAT(int side) {
  ProcScope scope("UpdateTopfFAT");
  CheckSideIndex(side);
  if (!ReadSystemCluster(side)) return false;

  const auto& fat = Disk[side].FAT;
  const int32_t last = std::min<int32_t>(WritableLast(side), int32_t(fat.size()) - 1);
  uint8_t* view = ClusterBuffer.data();
  int32_t used = 0;
  for (int32_t i = 0; i <= last; ++i) {
    const int32_t next = fat[size_t(i)].Next;
    if (next != 0) ++used;
    const uint32_t raw = EncodeFatLink(next);
    WriteFat24(view, kFAT1, i, raw);
    WriteFat24(view, kFAT2, i, raw);
  }
  PutBE32(view + kSbUsedClusters, uint32_t(used));
  PutBE32(view + kBackupSuperblock + kSbUsedClusters, uint32_t(used));
  return WriteTopfCluster(side, 0, true);
}

bool FSKillFATChain(int side, int32_t first) {
  ProcScope scope("FSKillFATChain");
  CheckSideIndex(side);
  if (!ReadSystemCluster(side)) return false;

  auto& fat = Disk[side].FAT;
  const int32_t last = WritableLast(side);
  uint8_t* view = ClusterBuffer.data();
  // Freed elements read 0, so a chain that runs into itself ends there; the
  // step count bounds the walk all the same.
  int32_t c = first;
  for (int32_t steps = 0; c >= 1 && c <= kMaxFatIndex && c < int32_t(fat.size()) &&
                          steps < kFatEntries;
       ++steps) {
    if (c <= last) {
      WriteFat24(view, kFAT1, c, kFat24Free);
      WriteFat24(view, kFAT2, c, kFat24Free);
    }
    const int32_t next = fat[size_t(c)].Next;
    fat[size_t(c)].Next = 0;
    fat[size_t(c)].Prev = 0;
    c = next;
  }
  return WriteTopfCluster(side, 0, true);
}

bool CopyBackupCRC(int side) {
  ProcScope scope("CopyBackupCRC");
  CheckSideIndex(side);
  if (!ReadTopfCluster(side, 0)) return false;
  const int64_t bytes = int64_t(ClusterBuffer.size());
  if (bytes < kMinClusterBytes + 8) return false;
  uint8_t* view = ClusterBuffer.data();
  const uint32_t crc = GetBE32(view + kSbFatCrc);
  PutBE32(view + BackupCrcMarkerOffset(bytes), kBackupCrcMarker);
  PutBE32(view + BackupCrcOffset(bytes), crc);
  if (!WriteTopfCluster(side, 0, true)) return false;
  Disk[side].BackupCrcId = CrcIdText(crc);
  return true;
}

}  // namespace core
