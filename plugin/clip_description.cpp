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

bool IsHevcPath(const char* path) {
  static const char* const kMarks[] = {".hevc", ".h265", ".265", ".x265", ".HEVC", ".H265", ".X265"};
  for (const char* mark : kMarks)
    if (std::strstr(path, mark)) return true;
  return false;
}

}  // namespace korvala
