// Windows-1252 <-> UTF-8.
#include "platform/platform.h"

#include <gtest/gtest.h>

using platform::Cp1252ToUtf8;
using platform::Utf8ToCp1252;

TEST(Text1252, EveryByteValueRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = Cp1252ToUtf8(all);
  EXPECT_EQ(Utf8ToCp1252(utf8), all);
  // Every byte of the high half becomes a multi-byte character.
  for (int b = 0x80; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    EXPECT_GE(Cp1252ToUtf8(one).size(), 2u) << b;
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(one)), one) << b;
  }
}

TEST(Text1252, KnownMappings) {
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");          // euro sign
  EXPECT_EQ(Utf8ToCp1252("\xE2\x82\xAC"), "\x80");
  EXPECT_EQ(Cp1252ToUtf8("M\xFCnchen"), "M\xC3\xBCnchen");  // ü
  EXPECT_EQ(Cp1252ToUtf8("\x9F"), "\xC5\xB8");              // Ÿ
  EXPECT_EQ(Cp1252ToUtf8("\x8A"), "\xC5\xA0");              // Š
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xC2\x81");              // undefined -> C1 control
  EXPECT_EQ(Cp1252ToUtf8("\xA0"), "\xC2\xA0");
  EXPECT_EQ(Cp1252ToUtf8("plain ASCII"), "plain ASCII");
  EXPECT_EQ(Cp1252ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Text1252, Utf8WithoutA1252ByteOrInvalid) {
  EXPECT_EQ(Utf8ToCp1252("\xE6\x97\xA5"), "?");             // a CJK character
  EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80x"), "?x");       // outside the BMP
  EXPECT_EQ(Utf8ToCp1252("a\xFF" "b"), "a\xFF" "b");        // invalid bytes are 1252 bytes
  EXPECT_EQ(Utf8ToCp1252("\xC3"), "\xC3");                  // cut sequence
  EXPECT_EQ(Utf8ToCp1252("\xC0\x80"), "\xC0\x80");          // overlong form
  EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "\xED\xA0\x80");  // surrogate
}
