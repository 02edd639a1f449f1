#include "core/number_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/error_handler.h"
#include "library/loader.h"

namespace core {

bool ShowGB = false;

std::string FormatFixed(double value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 15) decimals = 15;
  // A double's fixed form has at most 309 digits before the point.
  char text[400];
  const std::to_chars_result r =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) return std::string();
  return std::string(text, r.ptr);
}

std::string FileSizeToString(double size, int decimals, bool noLargeUnits) {
  ProcScope scope("FileSizeToString");
  const std::string units = (ShowGB && !noLargeUnits) ? " kMGT" : " kM";
  size_t unit = 0;
  while (size > 1024 && unit + 1 < units.size()) {
    size /= 1024;
    ++unit;
  }
  if (decimals < 0 || units[unit] == ' ') decimals = 0;
  if (decimals > 15) decimals = 15;
  // Half away from zero, as the display always rounded.
  const double scale = std::pow(10.0, decimals);
  double rounded = std::round(size * scale) / scale;
  std::string result = FormatFixed(rounded, decimals);
  result += ' ';
  result += units[unit];
  result += 'B';
  return result;
}

std::string HexX(int32_t value, int32_t width) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<uint32_t>(value));
  std::string hex = text;
  if (width > static_cast<int32_t>(hex.size()))
    hex.insert(0, static_cast<size_t>(width) - hex.size(), '0');
  return hex;
}

std::string Hex16(int32_t value) {
  if (value < 0) value += 65536;
  return HexX(value, 4);
}

std::string Hex32(int32_t value) { return HexX(value, 8); }

void DividePTS(double value, int32_t& high, int32_t& low) {
  ProcScope scope("DividePTS");
  const double q = value / 65536.0;
  double whole = std::floor(q);
  double rest = std::round((q - whole) * 65536.0);
  // Keep the conversions defined for values outside the 48-bit range.
  auto toInt = [](double d) -> int32_t {
    if (!(d == d)) return 0;
    if (d >= 2147483647.0) return 2147483647;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);
  };
  high = toInt(whole);
  low = toInt(rest);
}

int32_t Ceil(double value) {
  ProcScope scope("Ceil");
  return qlib::Ceil(value);
}

void SwapBytesWord(uint16_t& value) {
  ProcScope scope("SwapBytesWord");
  value = qlib::SwapOrderWord(value);
}

void SwapBytesWord(int16_t& value) {
  uint16_t v = static_cast<uint16_t>(value);
  SwapBytesWord(v);
  value = static_cast<int16_t>(v);
}

void SwapBytesLong(uint32_t& value) {
  ProcScope scope("SwapBytesLong");
  value = qlib::SwapOrderLong(value);
}

void SwapBytesLong(int32_t& value) {
  uint32_t v = static_cast<uint32_t>(value);
  SwapBytesLong(v);
  value = static_cast<int32_t>(v);
}

}  // namespace core
