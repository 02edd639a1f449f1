// PC names for recorder file names, and the exact length of a copied PC file.
#include "library/exports.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The destination holds 255 bytes: at most this many characters and a NUL.
constexpr size_t kMaxAdapted = 254;

// Characters PC names cannot hold, and accented letters, with their
// replacements (Windows-1252); every other character stays. The order of the
// pairs is the order in which they are replaced.
constexpr unsigned char kFrom[] =
    "?*/:|"
    "\xC0\xC1\xC2\xC3\xC5" "\xC7" "\xC8\xC9\xCA\xCB" "\xCC\xCD\xCE\xCF" "\xD1"
    "\xD2\xD3\xD4\xD5" "\xD9\xDA\xDB" "\xDD\x9F" "\x8A"
    "\xE0\xE1\xE2\xE3\xE5" "\xE7" "\xE8\xE9\xEA\xEB" "\xEC\xED\xEE\xEF" "\xF1"
    "\xF2\xF3\xF4\xF5" "\xF9\xFA\xFB" "\xFD\xFF" "\x9A" "\xB5";
constexpr char kTo[] =
    "_x-.-"
    "AAAAA" "C" "EEEE" "IIII" "N" "OOOO" "UUU" "YY" "S"
    "aaaaa" "c" "eeee" "iiii" "n" "oooo" "uuu" "yy" "s" "u";
static_assert(sizeof(kFrom) == 57 && sizeof(kTo) == 57, "56 pairs");

// Replacement text of each byte value (nullptr: the byte stays). None of the
// replacements holds a character that is replaced itself, so one pass over
// the name gives what replacing each pair in turn would give.
struct Table {
  const char* text[256] = {};
  constexpr Table() {
    for (size_t i = 0; i < 56; ++i) text[kFrom[i]] = kTo + i;  // one character each
    text[0xB4] = "'";
    text[0xC6] = "Ae";
    text[0xE6] = "ae";
    text[0xDF] = "ss";
  }
};
constexpr Table kTable;

size_t TextLength(unsigned char c) {
  if (c == 0xC6 || c == 0xE6 || c == 0xDF) return 2;
  return 1;
}

}  // namespace

extern "C" {

// source: a NUL-terminated Windows-1252 name. destination: 255 bytes; at most
// 254 characters of the adapted name and a NUL are written, however long the
// source is, and the source is read no further than needed.
void AdaptFilename(const char* source, char* destination) {
  if (destination == nullptr) return;
  size_t out = 0;
  if (source != nullptr) {
    for (const char* s = source; *s != '\0' && out < kMaxAdapted; ++s) {
      const auto c = static_cast<unsigned char>(*s);
      const char* text = kTable.text[c];
      if (text == nullptr) {
        destination[out++] = *s;
        continue;
      }
      for (size_t i = 0, n = TextLength(c); i < n && out < kMaxAdapted; ++i)
        destination[out++] = text[i];
    }
  }
  destination[out] = '\0';
}

// Sets the length of an existing file (cut or extended); nothing happens when
// the file cannot be opened or the size is negative.
void TruncateFile(const char* fileName, int32_t newSize) {
  TruncateFile64(fileName, newSize);
}

int32_t TruncateFile64(const char* fileName, int64_t newSize) {
  if (fileName == nullptr || newSize < 0) {
    errno = EINVAL;
    return 0;
  }
  int fd;
  do fd = ::open(fileName, O_RDWR | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return 0;
  int rc;
  do rc = ::ftruncate(fd, static_cast<off_t>(newSize));
  while (rc != 0 && errno == EINTR);
  const int saved = errno;
  const bool closed = ::close(fd) == 0;
  if (rc != 0) {
    errno = saved;
    return 0;
  }
  return closed ? 1 : 0;
}

}  // extern "C"
