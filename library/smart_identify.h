// The text fields of ATA identify data. The drive delivers each 16-bit word
// little-endian while ATA puts the first character of a pair in the word's
// high byte, so the raw bytes of the serial number, the firmware revision and
// the model hold each pair of characters exchanged; exchanging them back makes
// the texts read in natural order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace quenbrix_detail {

struct IdentifyText {
  size_t offset;  // byte offset in the identify data
  size_t length;  // bytes (even)
};

constexpr IdentifyText kIdentifyModel{54, 40};     // words 27-46
constexpr IdentifyText kIdentifyFirmware{46, 8};   // words 23-26
constexpr IdentifyText kIdentifySerial{20, 20};    // words 10-19

// Exchanges the bytes of each pair of the three text fields in the first 256
// bytes of identify data, in place; everything else stays.
inline void SwapIdentifyText(uint8_t* identify) {
  for (const IdentifyText& f : {kIdentifyModel, kIdentifyFirmware, kIdentifySerial})
    for (size_t i = f.offset; i + 1 < f.offset + f.length; i += 2)
      std::swap(identify[i], identify[i + 1]);
}

}  // namespace quenbrix_detail
