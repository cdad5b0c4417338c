// Per-sample reference paths, path selection and the blank-frame fills.
#include "pixels.h"

#include <cstddef>
#include <cstring>

#include "pixels_rows.h"

namespace korvala {

PixelPaths DetectPixelPaths() {
  PixelPaths paths;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  __builtin_cpu_init();
  paths.sse2 = __builtin_cpu_supports("sse2");
  paths.ssse3 = __builtin_cpu_supports("ssse3");
  paths.avx2 = __builtin_cpu_supports("avx2");
#elif defined(_M_X64)
  paths.sse2 = true;  // every x64 processor has it
#endif
  return paths;
}

namespace detail {

// Samples are little-endian 16-bit words at any byte address, so they are assembled bytewise.
static inline unsigned LoadWord(const uint8_t* p) { return p[0] | (unsigned(p[1]) << 8); }
static inline void StoreWord(uint8_t* p, unsigned w) {
  p[0] = uint8_t(w);
  p[1] = uint8_t(w >> 8);
}

void SplitRow8_C(uint8_t* u, uint8_t* v, const uint8_t* src, int from, int n) {
  for (int x = from; x < n; ++x) {
    u[x] = src[2 * x];
    v[x] = src[2 * x + 1];
  }
}

void ShiftRow10_C(uint8_t* y, const uint8_t* src, int from, int n) {
  for (int x = from; x < n; ++x) StoreWord(y + 2 * x, LoadWord(src + 2 * x) >> 6);
}

void SplitRow10_C(uint8_t* u, uint8_t* v, const uint8_t* src, int from, int n) {
  for (int x = from; x < n; ++x) {
    StoreWord(u + 2 * x, LoadWord(src + 4 * x) >> 6);
    StoreWord(v + 2 * x, LoadWord(src + 4 * x + 2) >> 6);
  }
}

}  // namespace detail

namespace paths {

void SplitChroma8_C(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                    int rowSize, int height) {
  for (int r = 0; r < height; ++r)
    detail::SplitRow8_C(u + std::ptrdiff_t(r) * dstPitch, v + std::ptrdiff_t(r) * dstPitch,
                        src + std::ptrdiff_t(r) * srcPitch, 0, rowSize);
}

void ShiftLuma10_C(uint8_t* y, int dstPitch, const uint8_t* src, int srcPitch, int rowSize,
                   int height) {
  for (int r = 0; r < height; ++r)
    detail::ShiftRow10_C(y + std::ptrdiff_t(r) * dstPitch, src + std::ptrdiff_t(r) * srcPitch, 0,
                         rowSize / 2);
}

void SplitChroma10_C(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                     int rowSize, int height) {
  for (int r = 0; r < height; ++r)
    detail::SplitRow10_C(u + std::ptrdiff_t(r) * dstPitch, v + std::ptrdiff_t(r) * dstPitch,
                         src + std::ptrdiff_t(r) * srcPitch, 0, rowSize / 2);
}

}  // namespace paths

// A routine without a path for the first set flag goes on to the next set flag.
void SplitChroma8(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                  int rowSize, int height, const PixelPaths& p) {
  paths::Split fn = p.avx2 ? paths::SplitChroma8_AVX2
                    : p.ssse3 ? paths::SplitChroma8_SSSE3
                              : paths::SplitChroma8_C;
  fn(u, v, dstPitch, src, srcPitch, rowSize, height);
}

void ShiftLuma10(uint8_t* y, int dstPitch, const uint8_t* src, int srcPitch, int rowSize,
                 int height, const PixelPaths& p) {
  paths::Shift fn = p.avx2 ? paths::ShiftLuma10_AVX2
                    : p.sse2 ? paths::ShiftLuma10_SSE2
                             : paths::ShiftLuma10_C;
  fn(y, dstPitch, src, srcPitch, rowSize, height);
}

void SplitChroma10(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                   int rowSize, int height, const PixelPaths& p) {
  paths::Split fn = p.avx2 ? paths::SplitChroma10_AVX2
                    : p.ssse3 ? paths::SplitChroma10_SSSE3
                    : p.sse2 ? paths::SplitChroma10_SSE2
                             : paths::SplitChroma10_C;
  fn(u, v, dstPitch, src, srcPitch, rowSize, height);
}

void FillPlane8(uint8_t* dst, int pitch, int rowSize, int height, uint8_t value) {
  if (rowSize <= 0) return;
  for (int r = 0; r < height; ++r)
    std::memset(dst + std::ptrdiff_t(r) * pitch, value, static_cast<std::size_t>(rowSize));
}

void FillPlane16(uint8_t* dst, int pitch, int rowSize, int height, uint16_t value) {
  const int words = rowSize / 2;
  for (int r = 0; r < height; ++r) {
    uint8_t* row = dst + std::ptrdiff_t(r) * pitch;
    for (int x = 0; x < words; ++x) detail::StoreWord(row + 2 * x, value);
  }
}

}  // namespace korvala
