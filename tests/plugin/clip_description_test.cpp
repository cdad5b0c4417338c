// How the clip describes a stream: rate reduction, display size, the HEVC path test.
#include <gtest/gtest.h>

#include <cstdint>

#include "clip_description.h"

namespace {

struct Rate {
  uint32_t n, d, wantN, wantD;
};

TEST(ClipDescription, FrameRatesReduceByTheirGreatestCommonDivisor) {
  const Rate rates[] = {
      {50, 2, 25, 1},        {24000, 1001, 24000, 1001}, {60, 2, 30, 1},        {30000, 1000, 30, 1},
      {0, 1, 0, 1},          {25, 0, 25, 0},             {0, 0, 0, 0},          {1, 1, 1, 1},
      {7, 7, 1, 1},          {60000, 1001, 60000, 1001}, {4294967295u, 1, 4294967295u, 1},
      // Products beyond 32 bits reduce fully too, and at once.
      {4000000000u, 2000000000u, 2, 1}, {3000000u, 1001000u, 3000, 1001},
  };
  for (const Rate& r : rates) {
    uint32_t n = r.n, d = r.d;
    korvala::ReduceFrameRate(n, d);
    EXPECT_EQ(n, r.wantN) << r.n << "/" << r.d;
    EXPECT_EQ(d, r.wantD) << r.n << "/" << r.d;
  }
}

TEST(ClipDescription, OnlyThePaddedHdHeightsAreCut) {
  EXPECT_EQ(korvala::ReportedHeight(1088), 1080);
  EXPECT_EQ(korvala::ReportedHeight(736), 720);
  for (int h : {1080, 720, 576, 480, 1089, 738, 0, 2176}) EXPECT_EQ(korvala::ReportedHeight(h), h);
}

TEST(ClipDescription, TheCropRectangleIsTheSizeWhenItFitsTheCodedFrame) {
  struct Case {
    int codedW, codedH, cropX, cropY, cropW, cropH, wantW, wantH;
  } cases[] = {
      {640, 368, 0, 0, 640, 360, 640, 360},     {864, 480, 0, 0, 854, 480, 854, 480},
      {736, 416, 8, 6, 722, 404, 722, 404},     {736, 416, 0, 0, 723, 405, 722, 404},  // 4:2:0: even sizes
      {1920, 1088, 0, 0, 0, 0, 1920, 1080},     {1280, 736, 0, 0, 1, 736, 1280, 720},  // no usable crop
      {640, 368, 8, 0, 640, 360, 640, 368},     {640, 368, 0, 16, 640, 360, 640, 368}, // crop leaves the frame
  };
  for (const Case& c : cases) {
    const korvala::DisplaySize size = korvala::ChooseDisplaySize(c.codedW, c.codedH, c.cropX, c.cropY, c.cropW, c.cropH);
    EXPECT_EQ(size.width, c.wantW) << c.cropW << "x" << c.cropH << " in " << c.codedW << "x" << c.codedH;
    EXPECT_EQ(size.height, c.wantH) << c.cropW << "x" << c.cropH << " in " << c.codedW << "x" << c.codedH;
  }
}

TEST(ClipDescription, HevcMarksCountAnywhereInThePathAndOnlyInTheirCase) {
  for (const char* path : {"a.hevc", "a.h265", "a.265", "a.x265", "A.HEVC", "A.H265", "A.X265",
                           "/media/film.265/left.h264", "clip.hevc.bak"})
    EXPECT_TRUE(korvala::IsHevcPath(path)) << path;
  for (const char* path : {"a.h264", "a.Hevc", "a_265", "hevc", "a.mvc", ""})
    EXPECT_FALSE(korvala::IsHevcPath(path)) << path;
}

}  // namespace
