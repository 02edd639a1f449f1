// The CRC of the first FAT, stored into both superblocks of a system-cluster
// image held in the swapped view.
#include "library/crc32.h"
#include "library/exports.h"


namespace {

constexpr size_t kFatOffset = 0x20000;   // first FAT in the system cluster
constexpr size_t kCrcField = 48;         // FATCRC of the superblock
constexpr size_t kBackupCrcField = 560;  // FATCRC of the backup superblock

// Bytes of n three-byte entries rounded up to whole 512-byte sectors; the free
// entries behind the last one in its sector count too.
size_t FatCrcLength(int32_t entries) {
  if (entries <= 0) return 0;
  return (static_cast<size_t>(entries) * 3 + 511) / 512 * 512;
}

void StoreBigEndian(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

extern "C" {

// entries: the number of FAT entries covered (the disk's highest FAT index).
// With 0 or fewer no byte is covered and the initial value is stored.
void Calc_CRC(uint8_t* buffer, int32_t entries) {
  if (buffer == nullptr) return;
  const uint32_t crc = quenbrix_detail::Crc32Mpeg2(buffer + kFatOffset, FatCrcLength(entries));
  StoreBigEndian(buffer + kCrcField, crc);
  StoreBigEndian(buffer + kBackupCrcField, crc);
}

}  // extern "C"
