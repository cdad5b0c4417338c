// AVX2 paths (built with -mavx2). The splits reorder bytes inside each 16-byte half (evens
// first), then the 8-byte quarters as 0, 2, 1, 3, leaving all U low and all V high.
#include <immintrin.h>

#include "pixels.h"
#include "pixels_rows.h"

namespace korvala {
namespace paths {

void SplitChroma8_AVX2(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                       int rowSize, int height) {
  const __m256i order = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15,
                                         0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
  detail::SplitPlane<16, 1, 2>(
      u, v, dstPitch, src, srcPitch, rowSize, height,
      [order](uint8_t* du, uint8_t* dv, const uint8_t* s) {
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
        b = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(b, order), _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(du), _mm256_castsi256_si128(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dv), _mm256_extracti128_si256(b, 1));
      },
      detail::SplitRow8_C);
}

void ShiftLuma10_AVX2(uint8_t* y, int dstPitch, const uint8_t* src, int srcPitch, int rowSize,
                      int height) {
  detail::MapPlane<16, 2, 2>(
      y, dstPitch, src, srcPitch, rowSize / 2, height,
      [](uint8_t* d, const uint8_t* s) {
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_srli_epi16(w, 6));
      },
      detail::ShiftRow10_C);
}

void SplitChroma10_AVX2(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                        int rowSize, int height) {
  const __m256i order = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15,
                                         0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
  detail::SplitPlane<8, 2, 4>(
      u, v, dstPitch, src, srcPitch, rowSize / 2, height,
      [order](uint8_t* du, uint8_t* dv, const uint8_t* s) {
        __m256i w = _mm256_srli_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s)), 6);
        w = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(w, order), _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(du), _mm256_castsi256_si128(w));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dv), _mm256_extracti128_si256(w, 1));
      },
      detail::SplitRow10_C);
}

}  // namespace paths
}  // namespace korvala
