// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial value 0xFFFFFFFF, neither input
// nor output reflected, no final XOR (check value over "123456789": 0x0376E6E7).
// Eight tables built at compile time let the update take eight bytes a step
// with exactly the result of the byte-by-byte table method.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quenbrix_detail {

constexpr uint32_t kCrcPolynomial = 0x04C11DB7;
constexpr uint32_t kCrcInitial = 0xFFFFFFFF;

using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ kCrcPolynomial : c << 1;
    t[0][i] = c;
  }
  // t[k][i]: byte i followed by k zero bytes.
  for (int k = 1; k < 8; ++k)
    for (uint32_t i = 0; i < 256; ++i)
      t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
  return t;
}

inline constexpr CrcTables kCrcTables = MakeCrcTables();

// Continues crc over n bytes.
inline uint32_t Crc32Mpeg2Update(uint32_t crc, const uint8_t* p, size_t n) {
  const auto& t = kCrcTables;
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t hi = crc ^ ((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                               (uint32_t{p[2]} << 8) | uint32_t{p[3]});
    crc = t[7][hi >> 24] ^ t[6][(hi >> 16) & 0xFF] ^ t[5][(hi >> 8) & 0xFF] ^ t[4][hi & 0xFF] ^
          t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; n > 0; --n, ++p) crc = t[0][(crc >> 24) ^ *p] ^ (crc << 8);
  return crc;
}

inline uint32_t Crc32Mpeg2(const uint8_t* p, size_t n) {
  return Crc32Mpeg2Update(kCrcInitial, p, n);
}

}  // namespace quenbrix_detail
