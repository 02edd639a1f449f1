// Scans of transport-stream data (188-byte packets on a fixed grid from the
// start of the buffer): the video time stamps of a cluster for the recovery
// scanner, and the PIDs of a recording for a new recording header.
//
// Both read the caller's buffer in place and never touch a byte at or past its
// end: a test that would need such a byte does not match.
#include "library/exports.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr size_t kPacket = 188;
constexpr uint8_t kSync = 0x47;

struct Packet {
  const uint8_t* data;  // start of the buffer
  size_t size;          // its length
  size_t p;             // packet offset
  size_t q;             // payload offset (behind an adaptation field)

  // True when bytes q .. q+to all lie in the buffer.
  bool Has(size_t to) const { return q + to < size; }
  uint8_t At(size_t i) const { return data[q + i]; }
  unsigned Pid() const { return ((data[p + 1] & 0x1Fu) << 8) | data[p + 2]; }
};

Packet MakePacket(const uint8_t* data, size_t size, size_t p) {
  Packet k{data, size, p, p + 4};
  if ((data[p + 3] & 0x30) == 0x30) k.q += size_t{data[p + 4]} + 1;
  return k;
}

bool PesStart(const Packet& k) {
  return k.Has(2) && k.At(0) == 0 && k.At(1) == 0 && k.At(2) == 1;
}

}  // namespace

extern "C" {

void SearchPTS(const uint8_t* buffer, int32_t length, int32_t* firstHigh, int32_t* firstLow,
               int32_t* lastHigh, int32_t* lastLow, int32_t* videoPid, uint8_t* headerFlag) {
  *firstHigh = *firstLow = *lastHigh = *lastLow = *videoPid = 0;
  *headerFlag = 0;
  if (buffer == nullptr || length <= 0) return;
  const size_t size = static_cast<size_t>(length);

  static const uint8_t kHeader[5] = {'T', 'F', 'r', 'c', 'P'};
  if (size >= 5 && std::equal(kHeader, kHeader + 5, buffer)) *headerFlag = 1;

  for (size_t p = 0; p + kPacket <= size; p += kPacket) {
    // Sync byte; payload unit start set, transport error and priority clear.
    if (buffer[p] != kSync || (buffer[p + 1] & 0xE0) != 0x40) continue;
    const Packet k = MakePacket(buffer, size, p);
    // An unbounded video PES (stream id 0xE0..0xFF, packet length 0).
    if (!PesStart(k) || !k.Has(5) || (k.At(3) & 0xE0) != 0xE0 || k.At(4) != 0 || k.At(5) != 0)
      continue;
    const int32_t pid = static_cast<int32_t>(k.Pid());
    if (*videoPid != 0 && *videoPid != pid) {  // a second video stream: no answer
      *videoPid = 0;
      return;
    }
    *videoPid = pid;
    // Time stamps only from headers with both PTS and DTS.
    if (!k.Has(13) || (k.At(7) & 0xC0) != 0xC0) continue;
    const int32_t high = ((k.At(9) & 0x0E) << 13) | (k.At(10) << 6) | (k.At(11) >> 2);
    const int32_t low = ((k.At(11) & 0x02) << 14) | (k.At(12) << 7) | (k.At(13) >> 1);
    if (*firstHigh == 0 && *firstLow == 0) {
      *firstHigh = high;
      *firstLow = low;
    } else {
      *lastHigh = high;
      *lastLow = low;
    }
  }
}

// The outputs are not cleared: the caller passes zeros to get the first
// occurrences. Stops once the PMT, video and audio PIDs are all known.
void FindPIDs(const uint8_t* buffer, int32_t length, int32_t* programNumber, int32_t* pmtPid,
              int32_t* videoPid, int32_t* audioPid, int32_t* pcrPid) {
  if (buffer == nullptr || length <= 0) return;
  const size_t size = static_cast<size_t>(length);

  for (size_t p = 0; p + kPacket <= size; p += kPacket) {
    if (buffer[p] == kSync && (buffer[p + 1] & 0x40) == 0x40) {
      const Packet k = MakePacket(buffer, size, p);
      const int32_t pid = static_cast<int32_t>(k.Pid());
      if (pid > 0x3F) {
        if (PesStart(k)) {
          if (k.Has(3)) {
            const uint8_t stream = k.At(3);
            if (stream >= 0xC0 && stream <= 0xDF && *audioPid == 0) *audioPid = pid;
            if (stream >= 0xE0 && stream <= 0xEF && *videoPid == 0) *videoPid = pid;
          }
        } else if (k.Has(10) && k.At(0) == 0 && k.At(1) == 2) {
          // Program map section (pointer field 0, table id 2).
          *pmtPid = pid;
          *programNumber = (k.At(4) << 8) | k.At(5);
          *pcrPid = ((k.At(9) & 0x1F) << 8) | k.At(10);
        }
      }
    }
    if (*pmtPid != 0 && *videoPid != 0 && *audioPid != 0) return;
  }
}

}  // extern "C"
