#pragma once
// Pieces shared by the per-instruction-set files. Everything here that is compiled inside a
// -msse2/-mssse3/-mavx2 file has internal linkage, so no copy built with wider instructions can
// be picked by the linker for callers outside that file.
#include <cstddef>
#include <cstdint>

namespace korvala {
namespace detail {

// Per-sample conversion of samples [from, n) of one row; built without extra instruction sets,
// so vector paths can finish a row's tail with them.
void SplitRow8_C(uint8_t* u, uint8_t* v, const uint8_t* src, int from, int n);
void ShiftRow10_C(uint8_t* y, const uint8_t* src, int from, int n);
void SplitRow10_C(uint8_t* u, uint8_t* v, const uint8_t* src, int from, int n);

namespace {

// Samples of one row to cover in whole vector steps. A partial last step is taken as a whole one
// only where its extra reads and writes stay inside this row's pitch, which the next row's
// start proves is ours; the plane's last row has no such proof (a tight buffer or stash ends at
// its last sample), so there, and for any pitch too small or negative, the tail goes per sample.
// dstBytes/srcBytes: bytes written per plane / read per output sample.
static inline int VectorSpan(int n, int step, int dstBytes, int srcBytes, int dstPitch,
                             int srcPitch, bool lastRow) {
  const int whole = n / step * step;
  if (whole == n || lastRow) return whole;
  const int64_t end = int64_t(whole) + step;
  if (end * dstBytes > dstPitch || end * srcBytes > srcPitch) return whole;
  return static_cast<int>(end);
}

// One chroma split over a plane: `step(u, v, src)` converts `Step` samples.
template <int Step, int DstBytes, int SrcBytes, class StepFn>
inline void SplitPlane(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                       int n, int height, StepFn step,
                       void (*tail)(uint8_t*, uint8_t*, const uint8_t*, int, int)) {
  if (n <= 0 || height <= 0) return;
  for (int r = 0; r < height; ++r) {
    uint8_t* ur = u + std::ptrdiff_t(r) * dstPitch;
    uint8_t* vr = v + std::ptrdiff_t(r) * dstPitch;
    const uint8_t* sr = src + std::ptrdiff_t(r) * srcPitch;
    const int span = VectorSpan(n, Step, DstBytes, SrcBytes, dstPitch, srcPitch, r == height - 1);
    for (int x = 0; x < span; x += Step)
      step(ur + x * DstBytes, vr + x * DstBytes, sr + x * SrcBytes);
    if (span < n) tail(ur, vr, sr, span, n);
  }
}

// One single-plane conversion: `step(dst, src)` converts `Step` samples.
template <int Step, int DstBytes, int SrcBytes, class StepFn>
inline void MapPlane(uint8_t* dst, int dstPitch, const uint8_t* src, int srcPitch, int n,
                     int height, StepFn step, void (*tail)(uint8_t*, const uint8_t*, int, int)) {
  if (n <= 0 || height <= 0) return;
  for (int r = 0; r < height; ++r) {
    uint8_t* dr = dst + std::ptrdiff_t(r) * dstPitch;
    const uint8_t* sr = src + std::ptrdiff_t(r) * srcPitch;
    const int span = VectorSpan(n, Step, DstBytes, SrcBytes, dstPitch, srcPitch, r == height - 1);
    for (int x = 0; x < span; x += Step) step(dr + x * DstBytes, sr + x * SrcBytes);
    if (span < n) tail(dr, sr, span, n);
  }
}

}  // namespace
}  // namespace detail
}  // namespace korvala
