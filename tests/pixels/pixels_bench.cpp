// 1920x1080 frame conversion per path against memcpy of the same bytes in the same run:
// NV12 -> YV12 (row copy of luma + SplitChroma8) and P010 -> YUV420P10 (ShiftLuma10 +
// SplitChroma10). Prints MB/s and the ratio to memcpy; best of several interleaved rounds,
// since the cores are shared.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "aligned_buffer.h"
#include "pixels.h"

namespace {

using korvala::PixelPaths;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920, kHeight = 1080, kCodedHeight = 1088;

struct Row {
  const char* name;
  PixelPaths flags;
  bool runnable;
};

// Seconds per call: the best of `rounds` timings of `reps` calls.
double BestSeconds(const std::function<void()>& fn, int reps) {
  const auto t0 = Clock::now();
  for (int i = 0; i < reps; ++i) fn();
  return std::chrono::duration<double>(Clock::now() - t0).count() / reps;
}

void Fill(uint8_t* p, std::size_t n) {
  uint32_t s = 12345;
  for (std::size_t i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    p[i] = uint8_t(s >> 24);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::atoi(argv[1]) : 20;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  __builtin_cpu_init();
  const bool sse2 = __builtin_cpu_supports("sse2"), ssse3 = __builtin_cpu_supports("ssse3"),
             avx2 = __builtin_cpu_supports("avx2");
  // Flag sets as a host reports them: each level includes the ones below it.
  const Row rows[] = {
      {"C", PixelPaths{}, true},
      {"SSE2", PixelPaths{true, false, false}, sse2},
      {"SSSE3", PixelPaths{true, true, false}, sse2 && ssse3},
      {"AVX2", PixelPaths{true, true, true}, sse2 && ssse3 && avx2},
  };

  for (int bits : {8, 10}) {
    const int bps = bits == 8 ? 1 : 2;
    const int srcPitch = kWidth * bps;  // surface rows: width rounded to 32, times sample size
    const int yPitch = (kWidth * bps + 63) / 64 * 64, uvPitch = (kWidth / 2 * bps + 63) / 64 * 64;
    const std::size_t srcBytes = std::size_t(srcPitch) * kCodedHeight * 3 / 2;
    auto src = korvala::AllocateAligned(srcBytes, 64);
    auto y = korvala::AllocateAligned(std::size_t(yPitch) * kHeight, 64);
    auto u = korvala::AllocateAligned(std::size_t(uvPitch) * kHeight / 2, 64);
    auto v = korvala::AllocateAligned(std::size_t(uvPitch) * kHeight / 2, 64);
    const std::size_t frameBytes = std::size_t(kWidth) * kHeight * 3 / 2 * bps;
    auto copySrc = korvala::AllocateAligned(frameBytes, 64);
    auto copyDst = korvala::AllocateAligned(frameBytes, 64);
    if (!src || !y || !u || !v || !copySrc || !copyDst) return 1;
    Fill(src.get(), srcBytes);
    Fill(copySrc.get(), frameBytes);
    const uint8_t* srcY = src.get();
    const uint8_t* srcUV = src.get() + std::size_t(srcPitch) * kCodedHeight;

    auto memcpyRun = [&] { std::memcpy(copyDst.get(), copySrc.get(), frameBytes); };
    std::printf("\n%s, %dx%d, %zu bytes per frame\n",
                bits == 8 ? "NV12 -> YV12 (luma row copy + SplitChroma8)"
                          : "P010 -> YUV420P10 (ShiftLuma10 + SplitChroma10)",
                kWidth, kHeight, frameBytes);
    std::printf("%-8s %10s %10s %8s\n", "path", "MB/s", "memcpy", "ratio");
    for (const Row& row : rows) {
      if (!row.runnable) {
        std::printf("%-8s %10s\n", row.name, "skipped (processor can't run it)");
        continue;
      }
      auto convert = [&] {
        if (bits == 8) {
          for (int r = 0; r < kHeight; ++r)
            std::memcpy(y.get() + std::size_t(r) * yPitch, srcY + std::size_t(r) * srcPitch, kWidth);
          korvala::SplitChroma8(u.get(), v.get(), uvPitch, srcUV, srcPitch, kWidth / 2, kHeight / 2,
                                row.flags);
        } else {
          korvala::ShiftLuma10(y.get(), yPitch, srcY, srcPitch, kWidth * 2, kHeight, row.flags);
          korvala::SplitChroma10(u.get(), v.get(), uvPitch, srcUV, srcPitch, kWidth, kHeight / 2,
                                 row.flags);
        }
      };
      convert();
      memcpyRun();
      double bestConvert = 1e9, bestCopy = 1e9;
      for (int i = 0; i < rounds; ++i) {  // interleaved, so both see the same machine load
        bestCopy = std::min(bestCopy, BestSeconds(memcpyRun, reps));
        bestConvert = std::min(bestConvert, BestSeconds(convert, reps));
      }
      const double mbConvert = frameBytes / bestConvert / 1e6, mbCopy = frameBytes / bestCopy / 1e6;
      std::printf("%-8s %10.0f %10.0f %7.2fx\n", row.name, mbConvert, mbCopy, mbConvert / mbCopy);
    }
  }
  return 0;
}
