// Pixel paths checked the checkasm way: every path against the per-sample path on random
// samples over many row geometries, with guard bytes around every destination plane and
// source planes sized to their last sample (so AddressSanitizer sees any read past them).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "pixels.h"

namespace korvala {
namespace {

constexpr uint8_t kGuard = 0xA5;
constexpr uint8_t kSourcePad = 0x5A;  // converts to neither 0xA5 byte nor 10-bit word halves
constexpr int kPlaneTail = 64;

enum class Isa { None, Sse2, Ssse3, Avx2 };

bool CpuRuns(Isa isa) {
  __builtin_cpu_init();
  switch (isa) {
    case Isa::None: return true;
    case Isa::Sse2: return __builtin_cpu_supports("sse2");
    case Isa::Ssse3: return __builtin_cpu_supports("ssse3");
    case Isa::Avx2: return __builtin_cpu_supports("avx2");
  }
  return false;
}

enum class Kind { Split8, Shift10, Split10 };

struct Path {
  const char* name;
  Kind kind;
  Isa isa;
  int step;  // output samples per plane per vector step (1 for the per-sample path)
  paths::Split split;
  paths::Shift shift;
};

// Bytes written per output sample and read per output sample.
int DstBytes(Kind k) { return k == Kind::Split8 ? 1 : 2; }
int SrcBytes(Kind k) { return k == Kind::Split10 ? 4 : 2; }
int Planes(Kind k) { return k == Kind::Shift10 ? 1 : 2; }

const Path kPaths[] = {
    {"SplitChroma8_C", Kind::Split8, Isa::None, 1, paths::SplitChroma8_C, nullptr},
    {"SplitChroma8_SSSE3", Kind::Split8, Isa::Ssse3, 8, paths::SplitChroma8_SSSE3, nullptr},
    {"SplitChroma8_AVX2", Kind::Split8, Isa::Avx2, 16, paths::SplitChroma8_AVX2, nullptr},
    {"ShiftLuma10_C", Kind::Shift10, Isa::None, 1, nullptr, paths::ShiftLuma10_C},
    {"ShiftLuma10_SSE2", Kind::Shift10, Isa::Sse2, 8, nullptr, paths::ShiftLuma10_SSE2},
    {"ShiftLuma10_AVX2", Kind::Shift10, Isa::Avx2, 16, nullptr, paths::ShiftLuma10_AVX2},
    {"SplitChroma10_C", Kind::Split10, Isa::None, 1, paths::SplitChroma10_C, nullptr},
    {"SplitChroma10_SSE2", Kind::Split10, Isa::Sse2, 4, paths::SplitChroma10_SSE2, nullptr},
    {"SplitChroma10_SSSE3", Kind::Split10, Isa::Ssse3, 4, paths::SplitChroma10_SSSE3, nullptr},
    {"SplitChroma10_AVX2", Kind::Split10, Isa::Avx2, 8, paths::SplitChroma10_AVX2, nullptr},
};

// Names the path in test output instead of dumping its bytes.
void PrintTo(const Path& p, std::ostream* os) { *os << p.name; }

const Path& Reference(Kind k) {
  for (const Path& p : kPaths)
    if (p.kind == k && p.isa == Isa::None) return p;
  return kPaths[0];
}

int RoundUp(int v, int m) { return (v + m - 1) / m * m; }

// One conversion's buffers: a source plane ending at its last row's last sample, and
// destination planes of (height - 1) pitches plus one row size, each followed by guard bytes.
struct Frame {
  Kind kind;
  int samples, height, dstPitch, srcPitch;
  std::vector<uint8_t> src;
  std::vector<uint8_t> dst[2];

  int RowSize() const { return samples * DstBytes(kind); }
  int SrcRow() const { return samples * SrcBytes(kind); }
  std::size_t PlaneBytes() const { return std::size_t(height - 1) * dstPitch + RowSize(); }

  Frame(Kind k, int n, int h, int dp, int sp) : kind(k), samples(n), height(h), dstPitch(dp), srcPitch(sp) {
    src.assign(std::size_t(h - 1) * sp + SrcRow(), kSourcePad);
    for (int p = 0; p < Planes(k); ++p) dst[p].assign(PlaneBytes() + kPlaneTail, kGuard);
  }
  uint8_t* SrcRowPtr(int r) { return src.data() + std::size_t(r) * srcPitch; }

  void Run(const Path& path) {
    if (kind == Kind::Shift10)
      path.shift(dst[0].data(), dstPitch, src.data(), srcPitch, RowSize(), height);
    else
      path.split(dst[0].data(), dst[1].data(), dstPitch, src.data(), srcPitch, RowSize(), height);
  }
};

void FillRandom(Frame& f, std::mt19937& rng) {
  for (int r = 0; r < f.height; ++r)
    for (int i = 0; i < f.SrcRow(); ++i) f.SrcRowPtr(r)[i] = uint8_t(rng());
}

// Visible samples equal the reference's; a row's bytes past its last vector step, up to the
// pitch, and everything after the last row's visible end are untouched.
void ExpectConversion(const Frame& ref, const Frame& got, int step) {
  const int rowSize = ref.RowSize();
  const int stepEnd = RoundUp(ref.samples, step) * DstBytes(ref.kind);
  for (int p = 0; p < Planes(ref.kind); ++p) {
    SCOPED_TRACE("plane " + std::to_string(p));
    for (int r = 0; r < ref.height; ++r) {
      const uint8_t* want = ref.dst[p].data() + std::size_t(r) * ref.dstPitch;
      const uint8_t* have = got.dst[p].data() + std::size_t(r) * ref.dstPitch;
      for (int i = 0; i < rowSize; ++i)
        ASSERT_EQ(have[i], want[i]) << "row " << r << " byte " << i;
      const bool last = r == ref.height - 1;
      const std::size_t end = last ? got.dst[p].size() - std::size_t(r) * ref.dstPitch
                                   : std::size_t(ref.dstPitch);
      for (std::size_t i = last ? rowSize : stepEnd; i < end; ++i)
        ASSERT_EQ(have[i], kGuard) << "row " << r << " written at byte " << i
                                   << (last ? " past the plane's last sample" : " past its last step");
    }
  }
}

std::string PathName(const testing::TestParamInfo<Path>& info) { return info.param.name; }

class PixelsPath : public testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    if (!CpuRuns(GetParam().isa)) GTEST_SKIP() << GetParam().name << ": processor can't run it";
  }
};

// Luma widths of the clip; their chroma rows include odd sample counts (35, 363, 9, 3, 1).
const int kWidths[] = {720, 1920, 1280, 352, 8, 2, 70, 726, 18, 6};

TEST_P(PixelsPath, MatchesScalarOverRowGeometries) {
  const Path& path = GetParam();
  const Kind k = path.kind;
  std::mt19937 rng(20240601u);
  for (int width : kWidths) {
    const int n = k == Kind::Shift10 ? width : width / 2;
    const int rowSize = n * DstBytes(k);
    const int srcRow = n * SrcBytes(k);
    // NV12 rows are the width rounded to 32, P010 rows twice that; plus wider and tight ones.
    const int surfacePitch = RoundUp(width, 32) * (k == Kind::Split8 ? 1 : 2);
    const int srcPitches[] = {surfacePitch, surfacePitch + 64, srcRow};
    // Host pitches are multiples of 64; a pitch equal to the row size is the tight case.
    const int dstPitches[] = {RoundUp(rowSize, 64), RoundUp(rowSize, 64) + 64, rowSize};
    for (int sp : srcPitches)
      for (int dp : dstPitches)
        for (int h : {1, 2, 5}) {
          SCOPED_TRACE("width " + std::to_string(width) + " rows " + std::to_string(h) +
                       " dst pitch " + std::to_string(dp) + " src pitch " + std::to_string(sp));
          Frame ref(k, n, h, dp, sp), got(k, n, h, dp, sp);
          FillRandom(ref, rng);
          got.src = ref.src;
          ref.Run(Reference(k));
          got.Run(path);
          ASSERT_NO_FATAL_FAILURE(ExpectConversion(ref, got, path.step));
        }
  }
}

// The per-sample rules themselves, on the words that show the shift: 0xFFC0 -> 1023,
// 0x0040 -> 1, 0x003F -> 0; bytes pass through the 8-bit split unchanged.
TEST_P(PixelsPath, EdgeSamples) {
  const Path& path = GetParam();
  const Kind k = path.kind;
  const uint16_t words[] = {0xFFC0, 0x0040, 0x003F, 0x0000, 0xFFFF, 0x8000, 0x7FC0, 0x0080, 0x0001};
  const uint16_t shifted[] = {1023, 1, 0, 0, 1023, 512, 511, 2, 0};
  const uint8_t bytes[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0xFE, 0x10, 0xEF, 0x55};
  const int nw = 9;
  const int n = 45;  // several steps and a partial one on every path
  Frame f(k, n, 2, 128, 256);
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < f.SrcRow(); ++i) {
      uint8_t* s = f.SrcRowPtr(r);
      if (k == Kind::Split8) {
        s[i] = bytes[(i + r) % nw];
      } else if (i % 2 == 0) {
        const uint16_t w = words[(i / 2 + r) % nw];
        s[i] = uint8_t(w);
        s[i + 1] = uint8_t(w >> 8);
      }
    }
  f.Run(path);
  for (int r = 0; r < 2; ++r)
    for (int p = 0; p < Planes(k); ++p)
      for (int x = 0; x < n; ++x) {
        const uint8_t* d = f.dst[p].data() + r * f.dstPitch;
        const int srcIndex = Planes(k) == 2 ? 2 * x + p : x;  // in samples of the source
        if (k == Kind::Split8) {
          ASSERT_EQ(d[x], bytes[(srcIndex + r) % nw]) << "row " << r << " plane " << p << " x " << x;
        } else {
          const unsigned got = d[2 * x] | unsigned(d[2 * x + 1]) << 8;
          ASSERT_EQ(got, shifted[(srcIndex + r) % nw]) << "row " << r << " plane " << p << " x " << x;
        }
      }
}

// A 1080-line frame from a 1088-line surface block as the clip lays it out (luma, then chroma
// right behind it), into host-style planes: the result matches the per-sample path.
TEST_P(PixelsPath, FullHdFromCodedSurface) {
  const Path& path = GetParam();
  const Kind k = path.kind;
  const int pitch = 1920 * (k == Kind::Split8 ? 1 : 2);
  std::vector<uint8_t> block(std::size_t(pitch) * 1088 * 3 / 2);
  std::mt19937 rng(7u);
  for (auto& b : block) b = uint8_t(rng());
  const uint8_t* plane = k == Kind::Shift10 ? block.data() : block.data() + std::size_t(pitch) * 1088;
  const int rows = k == Kind::Shift10 ? 1080 : 540;
  const int rowSize = k == Kind::Shift10 ? 3840 : (k == Kind::Split8 ? 960 : 1920);
  const int dstPitch = RoundUp(rowSize, 64);
  std::vector<uint8_t> want[2], have[2];
  for (int p = 0; p < 2; ++p) {
    want[p].assign(std::size_t(dstPitch) * rows + kPlaneTail, kGuard);
    have[p] = want[p];
  }
  auto run = [&](const Path& pp, std::vector<uint8_t>* out) {
    if (k == Kind::Shift10)
      pp.shift(out[0].data(), dstPitch, plane, pitch, rowSize, rows);
    else
      pp.split(out[0].data(), out[1].data(), dstPitch, plane, pitch, rowSize, rows);
  };
  run(Reference(k), want);
  run(path, have);
  EXPECT_TRUE(want[0] == have[0]);
  EXPECT_TRUE(want[1] == have[1]);
  for (int p = 0; p < Planes(k); ++p)
    for (int i = 0; i < kPlaneTail; ++i) ASSERT_EQ(have[p][std::size_t(dstPitch) * rows + i], kGuard);
}

INSTANTIATE_TEST_SUITE_P(All, PixelsPath, testing::ValuesIn(kPaths), PathName);

// The public routines pick their path by the flags alone, first set flag in the order avx2,
// ssse3, sse2, skipping a flag the routine has no path for. The path shows in how far the
// first of two rows of one sample is written: one step of its own past the sample.
int WrittenExtent(Kind k, const PixelPaths& flags) {
  Frame f(k, 1, 2, 64, 64);
  std::memset(f.src.data(), 0, std::size_t(f.SrcRow()));
  std::memset(f.src.data() + f.srcPitch, 0, std::size_t(f.SrcRow()));
  if (k == Kind::Split8)
    SplitChroma8(f.dst[0].data(), f.dst[1].data(), 64, f.src.data(), 64, 1, 2, flags);
  else if (k == Kind::Shift10)
    ShiftLuma10(f.dst[0].data(), 64, f.src.data(), 64, 2, 2, flags);
  else
    SplitChroma10(f.dst[0].data(), f.dst[1].data(), 64, f.src.data(), 64, 2, 2, flags);
  int bytes = 0;
  while (bytes < 64 && f.dst[0][bytes] != kGuard) ++bytes;
  return bytes / DstBytes(k);
}

TEST(PixelsDispatch, FlagsAloneChooseThePath) {
  struct Want { Kind kind; const char* name; int steps[8]; };  // index: avx2 << 2 | ssse3 << 1 | sse2
  const Want wants[] = {
      {Kind::Split8, "SplitChroma8", {1, 1, 8, 8, 16, 16, 16, 16}},
      {Kind::Shift10, "ShiftLuma10", {1, 8, 1, 8, 16, 16, 16, 16}},
      {Kind::Split10, "SplitChroma10", {1, 4, 4, 4, 8, 8, 8, 8}},
  };
  for (int bits = 0; bits < 8; ++bits) {
    PixelPaths flags;
    flags.sse2 = bits & 1;
    flags.ssse3 = bits & 2;
    flags.avx2 = bits & 4;
    if ((flags.avx2 && !CpuRuns(Isa::Avx2)) || (flags.ssse3 && !CpuRuns(Isa::Ssse3)) ||
        (flags.sse2 && !CpuRuns(Isa::Sse2)))
      continue;
    for (const Want& w : wants)
      EXPECT_EQ(WrittenExtent(w.kind, flags), w.steps[bits])
          << w.name << " with sse2 " << flags.sse2 << " ssse3 " << flags.ssse3 << " avx2 " << flags.avx2;
  }
}

// Blank frames: each row filled over its row size only, whatever the pitch.
TEST(PixelsFill, Plane8FillsRowsOnly) {
  for (int pitch : {35, 64, 100}) {
    std::vector<uint8_t> buf(std::size_t(pitch) * 5 + kPlaneTail, kGuard);
    FillPlane8(buf.data(), pitch, 35, 5, 127);
    for (int r = 0; r < 5; ++r)
      for (int i = 0; i < pitch; ++i)
        ASSERT_EQ(buf[std::size_t(r) * pitch + i], i < 35 ? 127 : kGuard) << "pitch " << pitch << " row " << r << " byte " << i;
    for (int i = 0; i < kPlaneTail; ++i) ASSERT_EQ(buf[std::size_t(pitch) * 5 + i], kGuard);
  }
  std::vector<uint8_t> y(64 * 3, kGuard);
  FillPlane8(y.data(), 64, 64, 3, 0);
  for (uint8_t b : y) ASSERT_EQ(b, 0);
}

TEST(PixelsFill, Plane16WritesLittleEndianWordsAtAnyAddress) {
  for (uint16_t value : {uint16_t(511), uint16_t(0)}) {
    for (int pitch : {70, 128}) {
      // Start one byte in, so the words are not 2-byte aligned.
      std::vector<uint8_t> buf(1 + std::size_t(pitch) * 4 + kPlaneTail, kGuard);
      FillPlane16(buf.data() + 1, pitch, 70, 4, value);
      ASSERT_EQ(buf[0], kGuard);
      for (int r = 0; r < 4; ++r)
        for (int i = 0; i < pitch; ++i) {
          const uint8_t want = i >= 70 ? kGuard : (i % 2 == 0 ? uint8_t(value) : uint8_t(value >> 8));
          ASSERT_EQ(buf[1 + std::size_t(r) * pitch + i], want)
              << "value " << value << " pitch " << pitch << " row " << r << " byte " << i;
        }
      for (int i = 0; i < kPlaneTail; ++i) ASSERT_EQ(buf[1 + std::size_t(pitch) * 4 + i], kGuard);
    }
  }
}

}  // namespace
}  // namespace korvala
