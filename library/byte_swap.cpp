// Reversal of the bytes of every 32-bit word of a cluster buffer: the recorder
// disk keeps each aligned word in the reverse byte order of the PC's view.
// Clusters are megabytes, so this runs at memory speed: AVX2 byte shuffles when
// the processor has them, SSE2 otherwise, plain bswap for the tail.
#include "library/exports.h"
#include "library/word_swap.h"

namespace {

using SwapFn = void (*)(uint8_t*, size_t);

SwapFn Swapper() {
#ifdef QUENBRIX_WORD_SWAP_X86
  static const SwapFn chosen =
      quenbrix_detail::HaveAvx2() ? quenbrix_detail::SwapWordsAvx2 : quenbrix_detail::SwapWordsSse2;
  return chosen;
#else
  return quenbrix_detail::SwapWordsScalar;
#endif
}

}  // namespace

extern "C" {

// In place; the same call converts in both directions. 0 or fewer sectors
// change nothing.
void TopfSwapDWORD(void* buffer, int32_t sectors) {
  if (sectors <= 0 || buffer == nullptr) return;
  Swapper()(static_cast<uint8_t*>(buffer), static_cast<size_t>(sectors) * 128);
}

}  // extern "C"
