// The FAT CRC: CRC-32/MPEG-2 over whole sectors of the first FAT, stored
// big-endian in both superblocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "library/crc32.h"
#include "library/quenbrix.h"

namespace {

constexpr size_t kFat = 0x20000;
constexpr size_t kCluster = 0x80000;

// Bit by bit, straight from the definition.
uint32_t ReferenceCrc(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint32_t{p[i]} << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

uint32_t Stored(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

uint32_t CrcOf(std::vector<uint8_t>& b, int32_t entries) {
  Calc_CRC(b.data(), entries);
  EXPECT_EQ(Stored(b, 48), Stored(b, 560));
  return Stored(b, 48);
}

TEST(CrcCore, CheckValueOfTheCatalogue) {
  const char* digits = "123456789";
  const auto* p = reinterpret_cast<const uint8_t*>(digits);
  EXPECT_EQ(quenbrix_detail::Crc32Mpeg2(p, 9), 0x0376E6E7u);
  EXPECT_EQ(ReferenceCrc(p, 9), 0x0376E6E7u);
}

TEST(CrcCore, MatchesTheBitwiseMethodForEveryLengthAndSplit) {
  std::vector<uint8_t> data(300);
  std::mt19937 rng(11);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t n = 0; n <= data.size(); ++n)
    ASSERT_EQ(quenbrix_detail::Crc32Mpeg2(data.data(), n), ReferenceCrc(data.data(), n)) << n;
  // Continuing over a split gives the same as one pass.
  const uint32_t head = quenbrix_detail::Crc32Mpeg2(data.data(), 13);
  EXPECT_EQ(quenbrix_detail::Crc32Mpeg2Update(head, data.data() + 13, data.size() - 13),
            ReferenceCrc(data.data(), data.size()));
}

TEST(FatCrc, KnownValuesOfOneSectorAreStoredBigEndianTwice) {
  std::vector<uint8_t> b(kCluster, 0);
  EXPECT_EQ(CrcOf(b, 1), 0xE151AAB2u);
  const uint8_t zeros[4] = {0xE1, 0x51, 0xAA, 0xB2};
  EXPECT_EQ(0, std::memcmp(&b[48], zeros, 4));
  EXPECT_EQ(0, std::memcmp(&b[560], zeros, 4));

  std::fill(b.begin() + kFat, b.begin() + kFat + 512, 0xFF);
  EXPECT_EQ(CrcOf(b, 1), 0x063C2142u);
  const uint8_t ones[4] = {0x06, 0x3C, 0x21, 0x42};
  EXPECT_EQ(0, std::memcmp(&b[48], ones, 4));
  EXPECT_EQ(0, std::memcmp(&b[560], ones, 4));
}

TEST(FatCrc, OnlyTheTwoFieldsChange) {
  std::vector<uint8_t> b(kCluster);
  std::mt19937 rng(12);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  auto before = b;
  Calc_CRC(b.data(), 0x1FFFF);
  const uint32_t crc = ReferenceCrc(&before[kFat], 393216);
  EXPECT_EQ(Stored(b, 48), crc);
  EXPECT_EQ(Stored(b, 560), crc);
  for (size_t at : {size_t{48}, size_t{560}})
    std::memcpy(&before[at], &b[at], 4);
  EXPECT_EQ(b, before);
}

// The covered range is the entries' bytes rounded up to whole sectors: 512
// bytes for 1 and for 170 entries, 1024 for 171, 393,216 for 131,071.
TEST(FatCrc, RangeCoversWholeSectorsOfTheEntries) {
  struct Case { int32_t entries; size_t bytes; };
  for (const Case c : {Case{1, 512}, Case{170, 512}, Case{171, 1024}, Case{131071, 393216}}) {
    std::vector<uint8_t> b(kCluster + 512, 0xFF);
    std::mt19937 rng(static_cast<uint32_t>(c.entries));
    for (size_t i = kFat; i < kFat + c.bytes; ++i) b[i] = static_cast<uint8_t>(rng());
    const uint32_t expected = ReferenceCrc(&b[kFat], c.bytes);
    EXPECT_EQ(CrcOf(b, c.entries), expected) << c.entries;
    // The byte behind the range is not covered ...
    b[kFat + c.bytes] ^= 0x5A;
    EXPECT_EQ(CrcOf(b, c.entries), expected) << c.entries;
    // ... the last byte of the range is.
    b[kFat + c.bytes - 1] ^= 0x5A;
    EXPECT_NE(CrcOf(b, c.entries), expected) << c.entries;
  }
}

TEST(FatCrc, AFullRangeEndsAtTheEndOfTheSystemCluster) {
  // 0x1FFFF entries: exactly up to offset 0x80000, so a buffer of that size
  // is enough (the sanitizer build checks no byte beyond is read).
  std::vector<uint8_t> b(kCluster, 0xFF);
  b[kFat] = 0xF0;
  EXPECT_EQ(CrcOf(b, 0x1FFFF), ReferenceCrc(&b[kFat], kCluster - kFat));
}

}  // namespace
