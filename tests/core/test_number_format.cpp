#include <gtest/gtest.h>

#include "core/number_format.h"
#include "core/settings.h"
#include "tests/support/test_env.h"

namespace {

class FormatTest : public testenv::InEachLocale {
 protected:
  void SetUp() override { core::ShowGB = false; }
  void TearDown() override { core::ShowGB = false; }
};
INSTANTIATE_IN_EACH_LOCALE(FormatTest);

TEST_P(FormatTest, NumbersWrittenReadBackEqual) {
  for (const double value : {0.0, 11.6, -5.25, 1234567.125, 1e15, -0.05})
    for (const int decimals : {0, 1, 6}) {
      const std::string text = core::FormatFixed(value, decimals);
      EXPECT_EQ(core::FormatFixed(core::NumericValue(text), decimals), text);
    }
}

TEST_P(FormatTest, FileSizeBytesHaveTwoBlanksAndNoDecimals) {
  EXPECT_EQ(core::FileSizeToString(512, 2, false), "512  B");
  EXPECT_EQ(core::FileSizeToString(1024, 2, false), "1024  B");   // exactly 1024 stays
  EXPECT_EQ(core::FileSizeToString(0, 2, false), "0  B");
  EXPECT_EQ(core::FileSizeToString(1025, 2, false), "1.00 kB");
  EXPECT_EQ(core::FileSizeToString(3000, 0, false), "3 kB");
  EXPECT_EQ(core::FileSizeToString(1536, 1, false), "1.5 kB");
  EXPECT_EQ(core::FileSizeToString(1500000, 2, false), "1.43 MB");
}

TEST_P(FormatTest, FileSizeLargeUnitsFollowShowGB) {
  const double fiveGB = 5368709120.0;
  EXPECT_EQ(core::FileSizeToString(fiveGB, 1, false), "5120.0 MB");
  core::ShowGB = true;
  EXPECT_EQ(core::FileSizeToString(fiveGB, 1, false), "5.0 GB");
  EXPECT_EQ(core::FileSizeToString(fiveGB, 1, true), "5120.0 MB");
  EXPECT_EQ(core::FileSizeToString(3.0 * 1024 * 1024 * 1024 * 1024, 2, false), "3.00 TB");
  // TB is the last unit: no further division.
  EXPECT_EQ(core::FileSizeToString(2048.0 * 1024 * 1024 * 1024 * 1024, 0, false), "2048 TB");
}

TEST_P(FormatTest, FileSizeRoundsHalfAwayFromZero) {
  EXPECT_EQ(core::FileSizeToString(2.5 * 1024, 0, false), "3 kB");
  EXPECT_EQ(core::FileSizeToString(1.125 * 1024, 2, false), "1.13 kB");
}

TEST_P(FormatTest, HexForms) {
  EXPECT_EQ(core::HexX(255, 4), "00FF");
  EXPECT_EQ(core::HexX(74565, 4), "12345");
  EXPECT_EQ(core::HexX(0, 0), "0");
  EXPECT_EQ(core::HexX(-1, 4), "FFFFFFFF");
  EXPECT_EQ(core::Hex16(-1), "FFFF");
  EXPECT_EQ(core::Hex16(0x1A), "001A");
  EXPECT_EQ(core::Hex32(305419896), "12345678");
  EXPECT_EQ(core::Hex32(-1), "FFFFFFFF");
  EXPECT_EQ(core::Hex32(10), "0000000A");
}

TEST_P(FormatTest, DividePTSSplitsIntoHalves) {
  int32_t high = -1, low = -1;
  core::DividePTS(8589934591.0, high, low);
  EXPECT_EQ(high, 131071);
  EXPECT_EQ(low, 65535);
  core::DividePTS(65536.0 * 1000 + 7, high, low);
  EXPECT_EQ(high, 1000);
  EXPECT_EQ(low, 7);
  core::DividePTS(0, high, low);
  EXPECT_EQ(high, 0);
  EXPECT_EQ(low, 0);
  core::DividePTS(1e30, high, low);   // out of range: defined, no crash
  EXPECT_EQ(high, 2147483647);
}

TEST_P(FormatTest, LibraryWrappers) {
  EXPECT_EQ(core::Ceil(2.1), 3);
  EXPECT_EQ(core::Ceil(2.0), 2);
  uint16_t w = 0x1234;
  core::SwapBytesWord(w);
  EXPECT_EQ(w, 0x3412);
  int16_t sw = static_cast<int16_t>(0x00F0);
  core::SwapBytesWord(sw);
  EXPECT_EQ(sw, static_cast<int16_t>(0xF000));
  uint32_t l = 0x07082607;
  core::SwapBytesLong(l);
  EXPECT_EQ(l, 0x07260807u);
  int32_t sl = 1;
  core::SwapBytesLong(sl);
  EXPECT_EQ(sl, 0x01000000);
}

}  // namespace
