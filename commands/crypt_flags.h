// Setting the crypt value of a recording by hand: in the side's file list,
// in its directory entry (bytes 120 and 121) and, when the recording has a
// header, in header byte 1396 of its first cluster.
#pragma once

#include <cstdint>

namespace commands {

constexpr uint8_t kCryptCrypted = 1;
constexpr uint8_t kCryptNotCrypted = 2;
constexpr uint8_t kCryptPartially = 3;

// Header byte that keeps the crypt value.
constexpr int32_t kHeaderCryptValue = 1396;

// Sets value `value` for entry `index` of a recorder side when it is a
// ".rec" file (any case); anything else is left alone (false). The header
// byte is written only when the first cluster was read and still begins
// with a recording header. The record (and, when both panes show the same
// disk, the other side's record of the entry) takes the value only once the
// entry holds it, so that the list shows what is on the disk. True when the
// value is on the disk; false too when the entry or the header could not be
// written.
bool SetRecordingCryptValue(int side, int index, uint8_t value);

}  // namespace commands
