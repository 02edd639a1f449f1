// Throughput of the library's hot routines next to a plain memcpy of the same
// bytes: the word reversal of whole clusters (2068 and 4512 sectors) and the
// FAT CRC over a full FAT range (0x1FFFF entries, 393,216 bytes).
//
// Build Release and run from the program folder: bin/bench_library
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "library/quenbrix.h"

namespace {

using Clock = std::chrono::steady_clock;

// Keeps the compiler from dropping work whose result is not used.
inline void Touch(void* p) { asm volatile("" : : "r"(p) : "memory"); }

// Best throughput in MB/s (10^6 bytes a second) of `work` moving `bytes`
// bytes, over several rounds of about 50 ms each.
template <typename F>
double Throughput(size_t bytes, F work) {
  // Size a round.
  size_t reps = 1;
  for (;;) {
    const auto t0 = Clock::now();
    for (size_t i = 0; i < reps; ++i) work();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (s > 0.05) break;
    reps *= 2;
  }
  double best = 0;
  for (int round = 0; round < 7; ++round) {
    const auto t0 = Clock::now();
    for (size_t i = 0; i < reps; ++i) work();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::max(best, double(bytes) * double(reps) / s / 1e6);
  }
  return best;
}

}  // namespace

int main() {
  double worstRatio = 1e9;

  for (int sectors : {2068, 4512}) {
    const size_t bytes = size_t(sectors) * 512;
    std::vector<uint8_t> buffer(bytes), copy(bytes);
    for (size_t i = 0; i < bytes; ++i) buffer[i] = uint8_t(i * 131 + 7);

    const double swap = Throughput(bytes, [&] {
      TopfSwapDWORD(buffer.data(), sectors);
      Touch(buffer.data());
    });
    const double plain = Throughput(bytes, [&] {
      std::memcpy(copy.data(), buffer.data(), bytes);
      Touch(copy.data());
    });
    const double ratio = swap / plain;
    worstRatio = std::min(worstRatio, ratio);
    std::printf("TopfSwapDWORD %4d sectors (%7zu bytes): %9.0f MB/s   memcpy %9.0f MB/s   ratio %.2f\n",
                sectors, bytes, swap, plain, ratio);
  }

  {
    const int32_t entries = 0x1FFFF;
    const size_t range = size_t(entries) * 3 / 512 * 512 + ((size_t(entries) * 3) % 512 ? 512 : 0);
    std::vector<uint8_t> cluster(0x80000, 0xFF), copy(range);
    for (size_t i = 0x20000; i < 0x20000 + 3000; ++i) cluster[i] = uint8_t(i);
    const double crc = Throughput(range, [&] {
      Calc_CRC(cluster.data(), entries);
      Touch(cluster.data());
    });
    const double plain = Throughput(range, [&] {
      std::memcpy(copy.data(), cluster.data() + 0x20000, range);
      Touch(copy.data());
    });
    std::printf("Calc_CRC      full FAT (%7zu bytes): %9.0f MB/s   memcpy %9.0f MB/s   ratio %.2f\n",
                range, crc, plain, crc / plain);
  }

  std::printf("TopfSwapDWORD / memcpy throughput (smaller of both cluster sizes): %.2f\n", worstRatio);
  return 0;
}
