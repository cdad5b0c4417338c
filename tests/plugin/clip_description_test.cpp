// How the clip describes a stream: rate reduction, reported heights, the HEVC path test.
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

TEST(ClipDescription, HevcMarksCountAnywhereInThePathAndOnlyInTheirCase) {
  for (const char* path : {"a.hevc", "a.h265", "a.265", "a.x265", "A.HEVC", "A.H265", "A.X265",
                           "/media/film.265/left.h264", "clip.hevc.bak"})
    EXPECT_TRUE(korvala::IsHevcPath(path)) << path;
  for (const char* path : {"a.h264", "a.Hevc", "a_265", "hevc", "a.mvc", ""})
    EXPECT_FALSE(korvala::IsHevcPath(path)) << path;
}

}  // namespace
