#pragma once
// How a clip describes its stream to the host: pure rules, kept apart for testing.
#include <cstdint>

namespace korvala {
// The frame rate reduced by the greatest common divisor; a zero term leaves it unchanged.
void ReduceFrameRate(uint32_t& numerator, uint32_t& denominator);
// The height reported to the host for a coded height (1088 → 1080, 736 → 720).
int ReportedHeight(int codedHeight);
// True when a single-file path names an HEVC stream (the marks may stand anywhere in it).
bool IsHevcPath(const char* path);

// The size of the pictures the clip shows.
struct DisplaySize {
  int width = 0;
  int height = 0;
};
// The decoder's crop rectangle when it reports one inside the coded frame (kept to even sizes,
// as 4:2:0 chroma has half the samples), else the coded frame less the padding rows of 1088 and
// 736.
DisplaySize ChooseDisplaySize(int codedWidth, int codedHeight, int cropX, int cropY, int cropW, int cropH);
}  // namespace korvala
