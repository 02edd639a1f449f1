// Reversal of the bytes of every 32-bit word of a buffer, in several widths.
// Used by TopfSwapDWORD; kept in a header so that each variant can be checked
// on its own. Everything here is inline and stays inside the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUENBRIX_WORD_SWAP_X86 1
#endif

namespace quenbrix_detail {

inline void SwapWordsScalar(uint8_t* p, size_t words) {
  for (size_t i = 0; i < words; ++i, p += 4) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    w = __builtin_bswap32(w);
    std::memcpy(p, &w, 4);
  }
}

#ifdef QUENBRIX_WORD_SWAP_X86

// SSE2 (always there on x86-64): swap the bytes of each 16-bit half, then the
// two halves of each 32-bit word.
inline __m128i Bswap32Sse2(__m128i v) {
  v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
  v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  return _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
}

inline void SwapWordsSse2(uint8_t* p, size_t words) {
  for (size_t blocks = words / 16; blocks > 0; --blocks, p += 64) {  // 64 bytes a step
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), Bswap32Sse2(a));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), Bswap32Sse2(b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), Bswap32Sse2(c));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 48), Bswap32Sse2(d));
  }
  SwapWordsScalar(p, words % 16);
}

__attribute__((target("avx2"))) inline void SwapWordsAvx2(uint8_t* p, size_t words) {
  const __m256i order = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                         3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  for (size_t blocks = words / 32; blocks > 0; --blocks, p += 128) {  // 128 bytes a step
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64));
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 96));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_shuffle_epi8(a, order));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 32), _mm256_shuffle_epi8(b, order));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 64), _mm256_shuffle_epi8(c, order));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 96), _mm256_shuffle_epi8(d, order));
  }
  SwapWordsScalar(p, words % 32);
}

inline bool HaveAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

#endif

}  // namespace quenbrix_detail
