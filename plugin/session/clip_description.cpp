#include "clip_description.h"

#include <cstring>

namespace korvala {

void ReduceFrameRate(uint32_t& numerator, uint32_t& denominator) {
  if (numerator == 0 || denominator == 0) return;
  uint32_t a = numerator, b = denominator;
  while (b != 0) {
    uint32_t t = a % b;
    a = b;
    b = t;
  }
  numerator /= a;
  denominator /= a;
}

int ReportedHeight(int codedHeight) {
  if (codedHeight == 1088) return 1080;
  if (codedHeight == 736) return 720;
  return codedHeight;
}

DisplaySize ChooseDisplaySize(int codedWidth, int codedHeight, int cropX, int cropY, int cropW, int cropH) {
  if (cropW >= 2 && cropH >= 2 && cropX >= 0 && cropY >= 0 && cropX + cropW <= codedWidth &&
      cropY + cropH <= codedHeight)
    return DisplaySize{cropW & ~1, cropH & ~1};
  return DisplaySize{codedWidth, ReportedHeight(codedHeight)};
}

bool IsHevcPath(const char* path) {
  static const char* const kMarks[] = {".hevc", ".h265", ".265", ".x265", ".HEVC", ".H265", ".X265"};
  for (const char* mark : kMarks)
    if (std::strstr(path, mark)) return true;
  return false;
}

}  // namespace korvala
