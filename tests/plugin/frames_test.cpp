// Serving frames: order, view selection, the -2 stash, blank frames, every decoder answer,
// and the pixels of each frame against the picture the runtime decoded.
#include <cstring>

#include "plugin_fixture.h"

namespace plugintest {
namespace {

using avshost::Value;

constexpr int kBlank = -1;

// What a frame shows: a picture (unit tag and view) or blank.
struct Shown {
  int tag;
  int view;
};

// Compares every visible sample of a frame with the runtime's pattern (or the blank fill).
::testing::AssertionResult Holds(const avshost::Frame& frame, Shown want, bool tenBit) {
  const int planes[3] = {PLANAR_Y, PLANAR_U, PLANAR_V};
  for (int i = 0; i < 3; ++i) {
    avshost::PlaneView p = frame.Plane(planes[i]);
    const int bytes = tenBit ? 2 : 1;
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.rowSize / bytes; ++x) {
        unsigned got = 0;
        if (tenBit) {
          uint16_t w;
          std::memcpy(&w, p.ptr + size_t(y) * p.pitch + 2 * x, 2);
          got = w;
        } else {
          got = p.ptr[size_t(y) * p.pitch + x];
        }
        unsigned expected;
        if (want.tag == kBlank) {
          expected = i == 0 ? 0 : (tenBit ? 511 : 127);
        } else if (tenBit) {
          expected = i == 0 ? mfxtest::Luma10(want.tag, want.view, x, y) : mfxtest::Chroma10(want.tag, want.view, i, x, y);
        } else {
          expected = i == 0 ? mfxtest::Luma8(want.tag, want.view, x, y) : mfxtest::Chroma8(want.tag, want.view, i, x, y);
        }
        if (got != expected)
          return ::testing::AssertionFailure() << "plane " << i << " at " << x << "," << y << ": " << got
                                               << " instead of " << expected << " (tag " << want.tag << ", view "
                                               << want.view << ")";
      }
  }
  return ::testing::AssertionSuccess();
}

class FramesTest : public PluginTest {
 protected:
  // A pair of `units` access units decoded unit by unit by the runtime.
  avshost::Clip Pair(int units, const mfxFrameInfo& info, int numFrames, int viewId) {
    mfxtest::Program p = Software(info);
    p.accessUnits.on = true;
    runtime_->Play(p);
    return Korvala({File("b.h264", BaseView(units)), File("d.mvc", DependentView(units)), numFrames, viewId});
  }

  void Expect(const avshost::Clip& clip, const std::vector<Shown>& sequence, bool tenBit) {
    for (size_t n = 0; n < sequence.size(); ++n) {
      avshost::Frame f = clip.GetFrame(static_cast<int>(n));
      EXPECT_TRUE(Holds(f, sequence[n], tenBit)) << "frame " << n;
    }
    EXPECT_TRUE(runtime_->Violations().empty());
  }
};

TEST_F(FramesTest, EachViewSelectionServesItsSequence) {
  const int units = 4;
  const Shown blank{kBlank, 0};
  struct Case {
    int viewId;
    bool tenBit;
    std::vector<Shown> sequence;
  };
  const Case cases[] = {
      {0, false, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, blank}},
      {1, false, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, blank}},
      {2, false, {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {3, 1}, blank}},
      {-2, false, {{0, 1}, {0, 0}, {1, 1}, {1, 0}, {2, 1}, {2, 0}, {3, 1}, blank, blank}},
      {-2, true, {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {3, 1}, blank}},
      {2, true, {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {3, 1}, blank}},
      {7, false, {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {3, 1}, blank}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ViewId " << c.viewId << (c.tenBit ? " 10-bit" : " 8-bit"));
    const mfxFrameInfo info = c.tenBit ? mfxtest::P010(96, 64) : mfxtest::Nv12(96, 64);
    avshost::Clip clip = Pair(units, info, 6, c.viewId);
    Expect(clip, c.sequence, c.tenBit);
  }
}

TEST_F(FramesTest, AWidthOffTheSurfaceStepKeepsTheStashWhole) {
  // 720 luma columns in 736-byte surface rows: the stash must keep the surface pitch.
  avshost::Clip clip = Pair(3, mfxtest::Nv12(720, 480), 3, -2);
  Expect(clip, {{0, 1}, {0, 0}, {1, 1}, {1, 0}, {2, 1}, {kBlank, 0}}, false);
}

TEST_F(FramesTest, APaddedHdPictureFillsTheShorterFrame) {
  avshost::Clip clip = Pair(2, mfxtest::Nv12(1920, 1080), 2, 0);
  ASSERT_EQ(clip.GetVideoInfo().height, 1080);
  avshost::Frame f = clip.GetFrame(0);
  EXPECT_EQ(f.Plane(PLANAR_Y).height, 1080);
  EXPECT_TRUE(Holds(f, {0, 0}, false));
}

TEST_F(FramesTest, EveryPixelPathGivesTheSameFramesWithinTheirRows) {
  for (int flags : {0, int(CPUF_SSE2), CPUF_SSE2 | CPUF_SSSE3, CPUF_SSE2 | CPUF_SSSE3 | CPUF_AVX2}) {
    if ((flags & ~avshost::Host::DetectedCpuFlags()) != 0) continue;
    for (bool tenBit : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "flags " << flags << (tenBit ? " 10-bit" : " 8-bit"));
      host_.SetCpuFlags(flags);
      host_.SetGuardFrames(true);
      avshost::Clip clip = Pair(2, tenBit ? mfxtest::P010(360, 40) : mfxtest::Nv12(360, 40), 2, 2);
      for (int n = 0; n < 4; ++n) {
        avshost::Frame f = clip.GetFrame(n);
        EXPECT_TRUE(Holds(f, {n / 2, n % 2}, tenBit));
        EXPECT_TRUE(f.GuardsIntact()) << "frame " << n;
      }
    }
  }
}

TEST_F(FramesTest, FramesComeInOrderOnly) {
  avshost::Clip clip = Pair(4, mfxtest::Nv12(64, 32), 4, 0);
  try {
    clip.GetFrame(5);
    ADD_FAILURE() << "a jump was served";
  } catch (const avshost::ScriptError& e) {
    EXPECT_STREQ(e.what(),
                 "Korvala: ERROR -> Only linear decoding is allowed (current frame index = -1, requested frame = 5).");
  }
  EXPECT_TRUE(Holds(clip.GetFrame(0), {0, 0}, false));
  EXPECT_TRUE(Holds(clip.GetFrame(0), {kBlank, 0}, false));  // a repeat is blank
  EXPECT_TRUE(Holds(clip.GetFrame(1), {1, 0}, false));
  try {
    clip.GetFrame(3);
    ADD_FAILURE() << "a jump was served";
  } catch (const avshost::ScriptError& e) {
    EXPECT_STREQ(e.what(),
                 "Korvala: ERROR -> Only linear decoding is allowed (current frame index = 1, requested frame = 3).");
  }
  EXPECT_TRUE(Holds(clip.GetFrame(2), {2, 0}, false));
}

TEST_F(FramesTest, ASingleViewStreamGivesNoDependentViewAndFillsNoStash) {
  for (int viewId : {1, -2}) {
    mfxtest::Program p = Software(mfxtest::Nv12(64, 32));
    p.accessUnits.on = true;
    runtime_->Play(p);
    avshost::Clip clip = Korvala({File("a.h264", BaseView(5)), Value(), 3, viewId});
    for (int n = 0; n < 3; ++n) EXPECT_TRUE(Holds(clip.GetFrame(n), {kBlank, 0}, false)) << viewId << " frame " << n;
    // The first request consumed the whole input.
    EXPECT_EQ(CallsOf("MFXVideoDECODE_DecodeFrameAsync").back().status, MFX_ERR_MORE_DATA);
  }
}

TEST_F(FramesTest, EveryDecoderAnswerIsHandled) {
  mfxtest::Program p = Software(mfxtest::Nv12(64, 32));
  p.decode = {mfxtest::Step::MoreSurface(2),
              mfxtest::Step::Status(MFX_WRN_DEVICE_BUSY),
              mfxtest::Step::Status(MFX_WRN_VIDEO_PARAM_CHANGED),
              mfxtest::Step::Picture(0, 11, 10),
              mfxtest::Step::Status(MFX_ERR_DEVICE_FAILED),
              mfxtest::Step::Picture(0, 12),
              mfxtest::Step::Status(MFX_ERR_MORE_DATA)};  // the input ends: only drain follows
  p.drain = {mfxtest::Step::Picture(0, 13)};
  p.sync = {MFX_WRN_IN_EXECUTION, MFX_ERR_NONE};
  runtime_->Play(p);
  avshost::Clip clip = Korvala({File("a.h264", BaseView(2)), Value(), 6});
  mfxtest::Control& rt = *runtime_;
  EXPECT_TRUE(Holds(clip.GetFrame(0), {11, 0}, false));
  try {
    clip.GetFrame(1);
    ADD_FAILURE() << "the error was not raised";
  } catch (const avshost::ScriptError& e) {
    EXPECT_STREQ(e.what(), "Korvala: ERROR -> DecodeFrameAsync returns error = -17");
  }
  EXPECT_TRUE(Holds(clip.GetFrame(1), {kBlank, 0}, false));  // the same index after an error
  EXPECT_TRUE(Holds(clip.GetFrame(2), {12, 0}, false));       // and the decoder goes on
  EXPECT_TRUE(Holds(clip.GetFrame(3), {13, 0}, false));       // drained after the input ended
  EXPECT_TRUE(Holds(clip.GetFrame(4), {kBlank, 0}, false));
  EXPECT_TRUE(rt.Violations().empty());
  // The surface held by MORE_SURFACE was not handed in again while locked, and every picture
  // was synchronised before it was read.
  std::vector<mfxtest::Call> decodes = CallsOf("MFXVideoDECODE_DecodeFrameAsync");
  ASSERT_GE(decodes.size(), 2u);
  EXPECT_NE(decodes[0].work, decodes[1].work);
  EXPECT_EQ(CallsOf("MFXVideoCORE_SyncOperation").size(), 4u);
  EXPECT_EQ(CallsOf("MFXVideoCORE_SyncOperation").at(0).wait, 1000u);
}

TEST_F(FramesTest, SynchronisationAndSurfaceShortagesAreErrors) {
  {
    mfxtest::Program p = Software(mfxtest::Nv12(64, 32));
    p.decode = {mfxtest::Step::Picture(0, 1)};
    p.sync = {MFX_ERR_ABORTED};
    runtime_->Play(p);
    avshost::Clip clip = Korvala({File("a.h264", BaseView(2)), Value(), 2});
    try {
      clip.GetFrame(0);
      ADD_FAILURE() << "a failed synchronisation was served";
    } catch (const avshost::ScriptError& e) {
      EXPECT_STREQ(e.what(), "Korvala: ERROR -> SyncOperation returns error = -12");
    }
  }
  {
    mfxtest::Program p = Software(mfxtest::Nv12(64, 32));
    p.ioSurf.numFrameSuggested = 1;
    p.decode = {mfxtest::Step::MoreSurface(5)};
    runtime_->Play(p);
    avshost::Clip clip = Korvala({File("b.h264", BaseView(2)), Value(), 2});
    try {
      clip.GetFrame(0);
      ADD_FAILURE() << "no surface was left, yet a frame came";
    } catch (const avshost::ScriptError& e) {
      EXPECT_STREQ(e.what(), "Korvala: ERROR -> GetFreeFrameSurface() -> No free frame surfaces");
    }
  }
}

}  // namespace
}  // namespace plugintest
