// SSE2 paths (built with -msse2): ShiftLuma10 8 words per step, SplitChroma10 4 + 4 words.
#include <emmintrin.h>

#include "pixels.h"
#include "pixels_rows.h"

namespace korvala {
namespace paths {

void ShiftLuma10_SSE2(uint8_t* y, int dstPitch, const uint8_t* src, int srcPitch, int rowSize,
                      int height) {
  detail::MapPlane<8, 2, 2>(
      y, dstPitch, src, srcPitch, rowSize / 2, height,
      [](uint8_t* d, const uint8_t* s) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_srli_epi16(w, 6));
      },
      detail::ShiftRow10_C);
}

void SplitChroma10_SSE2(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                        int rowSize, int height) {
  detail::SplitPlane<4, 2, 4>(
      u, v, dstPitch, src, srcPitch, rowSize / 2, height,
      [](uint8_t* du, uint8_t* dv, const uint8_t* s) {
        __m128i w = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), 6);
        // u0 v0 u1 v1 | u2 v2 u3 v3 -> u0 u1 v0 v1 | u2 u3 v2 v3 -> u0 u1 u2 u3 | v0 v1 v2 v3
        w = _mm_shufflelo_epi16(w, _MM_SHUFFLE(3, 1, 2, 0));
        w = _mm_shufflehi_epi16(w, _MM_SHUFFLE(3, 1, 2, 0));
        w = _mm_shuffle_epi32(w, _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(du), w);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dv), _mm_unpackhi_epi64(w, w));
      },
      detail::SplitRow10_C);
}

}  // namespace paths
}  // namespace korvala
