#pragma once
// Output pixel conversion: decoded NV12/P010 planes into planar host frames.
// Every routine: destination(s), destination pitch, source, source pitch, row size in bytes
// of the destination plane, rows. Vector paths may write up to one step past a row's visible
// end, never past its pitch.
#include <cstdint>

namespace korvala {

// The host's CPU flags as the clip keeps them; the first set flag picks a routine's path.
struct PixelPaths {
  bool sse2 = false;
  bool ssse3 = false;
  bool avx2 = false;
};

// What this processor offers, for a host that doesn't say (VapourSynth, korvala-y4m).
PixelPaths DetectPixelPaths();

void SplitChroma8(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                  int rowSize, int height, const PixelPaths& paths);
void ShiftLuma10(uint8_t* y, int dstPitch, const uint8_t* src, int srcPitch, int rowSize,
                 int height, const PixelPaths& paths);
void SplitChroma10(uint8_t* u, uint8_t* v, int dstPitch, const uint8_t* src, int srcPitch,
                   int rowSize, int height, const PixelPaths& paths);

// Plane fills for blank frames: every row over its row size, whatever the pitch.
void FillPlane8(uint8_t* dst, int pitch, int rowSize, int height, uint8_t value);
void FillPlane16(uint8_t* dst, int pitch, int rowSize, int height, uint16_t value);

// The individual paths, for the checker and the benchmark.
namespace paths {
using Split = void (*)(uint8_t*, uint8_t*, int, const uint8_t*, int, int, int);
using Shift = void (*)(uint8_t*, int, const uint8_t*, int, int, int);
void SplitChroma8_C(uint8_t*, uint8_t*, int, const uint8_t*, int, int, int);
void SplitChroma8_SSSE3(uint8_t*, uint8_t*, int, const uint8_t*, int, int, int);
void SplitChroma8_AVX2(uint8_t*, uint8_t*, int, const uint8_t*, int, int, int);
void ShiftLuma10_C(uint8_t*, int, const uint8_t*, int, int, int);
void ShiftLuma10_SSE2(uint8_t*, int, const uint8_t*, int, int, int);
void ShiftLuma10_AVX2(uint8_t*, int, const uint8_t*, int, int, int);
void SplitChroma10_C(uint8_t*, uint8_t*, int, const uint8_t*, int, int, int);
void SplitChroma10_SSE2(uint8_t*, uint8_t*, int, const uint8_t*, int, int, int);
void SplitChroma10_SSSE3(uint8_t*, uint8_t*, int, const uint8_t*, int, int, int);
void SplitChroma10_AVX2(uint8_t*, uint8_t*, int, const uint8_t*, int, int, int);
}  // namespace paths

}  // namespace korvala
