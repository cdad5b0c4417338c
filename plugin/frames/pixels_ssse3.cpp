// SSSE3 paths (built with -mssse3): one byte shuffle for U and one for V, 8 bytes to each plane.
#include <tmmintrin.h>

#include "pixels.h"
#include "pixels_rows.h"

namespace korvala {
namespace paths {

void SplitChroma8_SSSE3(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                        int rowSize, int height) {
  const __m128i evens = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i odds = _mm_setr_epi8(1, 3, 5, 7, 9, 11, 13, 15, -1, -1, -1, -1, -1, -1, -1, -1);
  detail::SplitPlane<8, 1, 2>(
      u, v, dstPitch, src, srcPitch, rowSize, height,
      [evens, odds](uint8_t* du, uint8_t* dv, const uint8_t* s) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(du), _mm_shuffle_epi8(b, evens));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dv), _mm_shuffle_epi8(b, odds));
      },
      detail::SplitRow8_C);
}

void SplitChroma10_SSSE3(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                         int rowSize, int height) {
  const __m128i evens = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i odds = _mm_setr_epi8(2, 3, 6, 7, 10, 11, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1);
  detail::SplitPlane<4, 2, 4>(
      u, v, dstPitch, src, srcPitch, rowSize / 2, height,
      [evens, odds](uint8_t* du, uint8_t* dv, const uint8_t* s) {
        const __m128i w = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), 6);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(du), _mm_shuffle_epi8(w, evens));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dv), _mm_shuffle_epi8(w, odds));
      },
      detail::SplitRow10_C);
}

}  // namespace paths
}  // namespace korvala
