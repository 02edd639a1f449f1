// Sector transfers on a caller's handle, byte order of single values, FAT24
// decoding and the ceiling function.
#include "library/exports.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace {

// Largest request the kernel moves in one call; longer transfers continue
// where the previous call stopped.
constexpr size_t kMaxChunk = 0x7FFFF000;

// Byte length and offset of a request; false when the request is malformed
// (negative count, non-positive size, a length that does not fit).
bool RequestBounds(uint32_t first, int32_t count, int32_t size, uint64_t& offset, size_t& length) {
  if (count < 0 || size <= 0) return false;
  offset = static_cast<uint64_t>(first) * static_cast<uint64_t>(size);
  const uint64_t bytes = static_cast<uint64_t>(count) * static_cast<uint64_t>(size);
  // pread/pwrite take a signed 64-bit offset.
  if (offset > static_cast<uint64_t>(INT64_MAX) - bytes) return false;
  length = static_cast<size_t>(bytes);
  return true;
}

// Moves a whole request through `io` (pread or pwrite) in chunks, going on
// after interrupted calls; 1 on success, 0 with errno set on failure, with
// `noProgressErrno` when a call moved nothing.
template <class Byte, class Io>
int32_t TransferAll(int32_t handle, uint32_t first, int32_t count, int32_t size, Byte* p,
                    int noProgressErrno, Io io) {
  uint64_t offset;
  size_t length;
  if (handle < 0 || !RequestBounds(first, count, size, offset, length)) {
    errno = EINVAL;
    return 0;
  }
  if (length == 0) return 1;
  while (length > 0) {
    const ssize_t n = io(handle, p, length < kMaxChunk ? length : kMaxChunk,
                         static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    if (n == 0) {
      errno = noProgressErrno;
      return 0;
    }
    p += n;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<size_t>(n);
  }
  return 1;
}

}  // namespace

extern "C" {

// The whole request or nothing: a transfer that stops short (end of the file
// or device, an error in between) is a failure, so stale bytes in the
// caller's buffer are never taken for disk data. errno stays as the failing
// call left it (EIO for a transfer that ended at the end of the device).
int32_t DiskIOReadSectors(int32_t handle, uint32_t first, int32_t count, int32_t size,
                          void* buffer) {
  // A read that meets the end of the file or device before the request is
  // complete fails with EIO.
  return TransferAll(handle, first, count, size, static_cast<uint8_t*>(buffer), EIO,
                     [](int fd, uint8_t* p, size_t n, off_t at) { return ::pread(fd, p, n, at); });
}

int32_t DiskIOWriteSectors(int32_t handle, uint32_t first, int32_t count, int32_t size,
                           const void* buffer) {
  // A write that makes no progress (end of a device) fails with ENOSPC.
  return TransferAll(handle, first, count, size, static_cast<const uint8_t*>(buffer), ENOSPC,
                     [](int fd, const uint8_t* p, size_t n, off_t at) {
                       return ::pwrite(fd, p, n, at);
                     });
}

uint16_t SwapOrderWord(uint16_t value) { return __builtin_bswap16(value); }

uint32_t SwapOrderLong(uint32_t value) { return __builtin_bswap32(value); }

// The caller puts the three FAT bytes into the low three bytes of the value in
// the order they stand on disk; exchanging the first and third byte turns the
// big-endian entry into the number.
void TopfFAT24ToLong(uint32_t* value) {
  auto* b = reinterpret_cast<uint8_t*>(value);
  const uint8_t t = b[0];
  b[0] = b[2];
  b[2] = t;
}

// Smallest whole number not below the value. The result is the low 32 bits of
// that number; values beyond the 64-bit range and NaN give 0.
int32_t Ceil(double value) {
  if (std::isnan(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0)
    return 0;
  int64_t whole = static_cast<int64_t>(value);  // truncated toward zero
  if (value > 0 && static_cast<double>(whole) != value) ++whole;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

}  // extern "C"
