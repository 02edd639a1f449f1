// Number formatting for display and file names, and the wrappers of the
// library's byte-order and ceiling exports.
#pragma once

#include <cstdint>
#include <string>

namespace core {

// `value` with `decimals` decimals (0 to 15) and "." as the decimal mark,
// whatever the locale ("%.*f" as under the C locale): every number the
// programs show or write goes through here, so that one text reads back
// equal everywhere.
std::string FormatFixed(double value, int decimals);

// [View] ShowGB: sizes may be shown in GB and TB.
extern bool ShowGB;

// "512  B" (two blanks), "1.00 kB", "5.0 GB": the size divided by 1024 while
// it is above 1024 and a larger unit is left (units " kMGT" with ShowGB on and
// noLargeUnits false, else " kM"); bytes and decimals 0 give whole numbers,
// others `decimals` decimals, with "." as the decimal mark (FormatFixed).
std::string FileSizeToString(double size, int decimals, bool noLargeUnits);
// Upper-case hexadecimal of the value (negative: two's complement, 8 digits),
// left-padded with "0" to at least `width` digits.
std::string HexX(int32_t value, int32_t width);
// 4 hexadecimal digits of a 16-bit quantity (negative: + 65536 first).
std::string Hex16(int32_t value);
// 8 hexadecimal digits (-1 -> "FFFFFFFF").
std::string Hex32(int32_t value);
// Splits a time stamp into its high and low 16-bit halves: high = value div
// 65536, low = value mod 65536 for whole values below 2^48.
void DividePTS(double value, int32_t& high, int32_t& low);
// The library's Ceil.
int32_t Ceil(double value);
// Byte order of a 16-bit or 32-bit variable reversed in place (library's
// SwapOrderWord / SwapOrderLong).
void SwapBytesWord(uint16_t& value);
void SwapBytesWord(int16_t& value);
void SwapBytesLong(uint32_t& value);
void SwapBytesLong(int32_t& value);

}  // namespace core
