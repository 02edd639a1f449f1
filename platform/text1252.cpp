// Windows-1252 <-> UTF-8. Names on the recorder disk are 1252 bytes; they
// become UTF-8 only at the PC file system and on screen.
#include "platform/platform.h"

#include <array>

namespace platform {

namespace {

// Code points of the bytes 0x80..0x9F. The five bytes that 1252 leaves
// undefined map to the C1 control of the same value, so every byte value
// survives a round trip.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t CodePointOf(unsigned char b) {
  return (b >= 0x80 && b <= 0x9F) ? kHigh[b - 0x80] : char32_t(b);
}

// The 1252 byte of a code point, or -1 when 1252 has none.
int ByteOf(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == cp) return 0x80 + i;
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

// Decodes one well-formed UTF-8 sequence at text[i]; returns its length, or
// 0 when the bytes there are not valid UTF-8.
size_t DecodeUtf8(std::string_view text, size_t i, char32_t& cp) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = b(i);
  size_t n;
  char32_t min;
  if (c < 0x80) { cp = c; return 1; }
  if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; min = 0x80; }
  else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; min = 0x800; }
  else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; min = 0x10000; }
  else return 0;
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char c : text) AppendUtf8(out, CodePointOf(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    size_t n = DecodeUtf8(text, i, cp);
    if (n == 0) {                 // not UTF-8: take the byte as a 1252 byte
      out += text[i];
      ++i;
      continue;
    }
    int b = ByteOf(cp);
    out += b < 0 ? '?' : static_cast<char>(b);
    i += n;
  }
  return out;
}

}  // namespace platform
