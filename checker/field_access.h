// Typed access to fields of ClusterBuffer (disk_layer.h), which holds a
// cluster in view order so every multi-byte field reads big-endian.
//
// Every offset is checked: a field that does not lie wholly inside the
// buffer raises run-time error 9 "Subscript out of range" (core::Raise), for
// the error handler of the calling procedure. Texts stay Windows-1252 bytes.
#pragma once

#include <cstdint>
#include <string>

namespace checker {

// The big-endian 16-bit value at offset, signed (0x8000 and above negative).
int16_t GetTopfWord(int32_t offset);
// The big-endian 32-bit value at offset, signed.
int32_t GetTopfLong(int32_t offset);
// Store value big-endian (high byte first).
void SetTopfWord(int32_t offset, int32_t value);   // the low 16 bits
void SetTopfLong(int32_t offset, int32_t value);
// The bytes from offset up to the first zero byte (not included), at most to
// the end of the buffer.
std::string GetTopfString(int32_t offset);
// Writes text and one terminating zero byte from offset (the zero is not
// doubled when text already ends with one); nothing after it is touched.
void SetTopfString(int32_t offset, const std::string& text);
// The 5-byte TopfDate at offset (16-bit MJD, hour, minute, second) as a date
// value: days since 30 December 1899 plus the time as fraction.
double GetTopfDate(int32_t offset);
// Encodes a date value as TopfDate at offset.
void SetTopfDate(int32_t offset, double when);

// The current local date and time as a date value (checks compare entry
// dates with it). Tests may fix it through core::SetNowHook.
double NowDateValue();

}  // namespace checker
