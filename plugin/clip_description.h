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
}  // namespace korvala
