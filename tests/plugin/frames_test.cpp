// Serving frames: order, view selection, blank frames, every decoder answer,
// and the pixels of each frame against the picture the runtime decoded.
#include <cstring>
#include <set>
#include <string>
#include <vector>

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

// Where the frame's picture starts in the decoded surface.
struct Origin {
  int x = 0, y = 0;
};

// Compares every visible sample of a frame with the runtime's pattern (or the blank fill).
::testing::AssertionResult Holds(const avshost::Frame& frame, Shown want, bool tenBit, Origin origin = {}) {
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
        const int sx = x + (i == 0 ? origin.x : origin.x / 2), sy = y + (i == 0 ? origin.y : origin.y / 2);
        unsigned expected;
        if (want.tag == kBlank) {
          expected = i == 0 ? 0 : (tenBit ? 511 : 127);
        } else if (tenBit) {
          expected = i == 0 ? mfxtest::Luma10(want.tag, want.view, sx, sy) : mfxtest::Chroma10(want.tag, want.view, i, sx, sy);
        } else {
          expected = i == 0 ? mfxtest::Luma8(want.tag, want.view, sx, sy) : mfxtest::Chroma8(want.tag, want.view, i, sx, sy);
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
      {-2, false, {{0, 1}, {0, 0}, {1, 1}, {1, 0}, {2, 1}, {2, 0}, {3, 1}, {3, 0}, blank}},
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

TEST_F(FramesTest, AWidthOffTheSurfaceStepIsCopiedWhole) {
  // 720 luma columns in 736-byte surface rows, the base view served a picture later.
  avshost::Clip clip = Pair(3, mfxtest::Nv12(720, 480), 3, -2);
  Expect(clip, {{0, 1}, {0, 0}, {1, 1}, {1, 0}, {2, 1}, {2, 0}, {kBlank, 0}}, false);
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

// The picture of frame n in a pair of `units` access units (see EachViewSelectionServesItsSequence).
Shown InOrder(int viewId, bool tenBit, int units, int n) {
  const Shown blank{kBlank, 0};
  if (viewId == 0 || viewId == 1) return n < units ? Shown{n, viewId} : blank;
  if (viewId == -2 && !tenBit) return n >= 2 * units ? blank : Shown{n / 2, n % 2 == 0 ? 1 : 0};
  return n < 2 * units ? Shown{n / 2, n % 2} : blank;
}

// The order in which a serialized clip may get the requests of Prefetch(threads) for frames
// 0..count-1 of the script: the script waits for each frame in turn while 2 × threads following
// ones are asked for, and here the newest waiting request always gets the clip first.
std::vector<int> PrefetchOrder(int threads, int count) {
  std::vector<int> order;
  std::set<int> waiting, made;
  for (int n = 0; n < count; ++n) {
    for (int i = n; i <= n + 2 * threads && i < count; ++i)
      if (!made.count(i)) waiting.insert(i);
    while (!made.count(n)) {
      const int newest = *waiting.rbegin();
      waiting.erase(newest);
      made.insert(newest);
      order.push_back(newest);
    }
  }
  return order;
}

TEST_F(FramesTest, RequestsInScriptOrdersGetTheirPictures) {
  const int units = 110;
  std::vector<int> evens, twice, jump = {100, 101, 99, 100, 70, 109};
  for (int n = 0; n < 2 * units; n += 2) evens.push_back(n);
  for (int n = 0; n < 40; ++n) twice.insert(twice.end(), {n, n});
  struct Order {
    const char* name;
    std::vector<int> frames;
  };
  std::vector<Order> orders = {{"SelectEven", evens}, {"each twice", twice}, {"Trim(100, 0)", jump}};
  for (int threads : {2, 4, 8}) {
    std::vector<int> selected = PrefetchOrder(threads, units);
    for (int& n : selected) n *= 2;  // behind SelectEven: the frames of one view of ViewId 2
    orders.push_back({"SelectEven().Prefetch", selected});
    orders.push_back({"Prefetch", PrefetchOrder(threads, units)});
  }
  for (int viewId : {0, 1, 2, -2}) {
    for (bool tenBit : {false, true}) {
      for (const Order& order : orders) {
        SCOPED_TRACE(::testing::Message() << order.name << ", ViewId " << viewId << (tenBit ? " 10-bit" : " 8-bit"));
        avshost::Clip clip = Pair(units, tenBit ? mfxtest::P010(64, 32) : mfxtest::Nv12(64, 32), units, viewId);
        for (int n : order.frames)
          ASSERT_TRUE(Holds(clip.GetFrame(n), InOrder(viewId, tenBit, units, n), tenBit)) << "frame " << n;
      }
    }
  }
  EXPECT_TRUE(runtime_->Violations().empty());
}

std::string LinearDecodingError(const avshost::Clip& clip, int n) {
  try {
    clip.GetFrame(n);
  } catch (const avshost::ScriptError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST_F(FramesTest, ADecoderThatCannotResetRefusesARequestBehindTheFramesKept) {
  avshost::Clip clip = Pair(80, mfxtest::Nv12(64, 32), 80, 0);  // this runtime refuses Reset
  EXPECT_TRUE(Holds(clip.GetFrame(3), {3, 0}, false));
  EXPECT_TRUE(Holds(clip.GetFrame(-1), {kBlank, 0}, false));
  EXPECT_TRUE(Holds(clip.GetFrame(60), {60, 0}, false));
  EXPECT_EQ(LinearDecodingError(clip, 3),
            "Korvala: ERROR -> Only linear decoding is allowed (current frame index = 60, requested frame = 3).");
  EXPECT_TRUE(Holds(clip.GetFrame(61), {61, 0}, false));  // the decoder goes on from where it stood
  EXPECT_TRUE(Holds(clip.GetFrame(59), {59, 0}, false));
  // Past the end of the stream every frame is blank, near or far.
  EXPECT_TRUE(Holds(clip.GetFrame(90), {kBlank, 0}, false));
  EXPECT_TRUE(Holds(clip.GetFrame(79), {79, 0}, false));
  EXPECT_TRUE(Holds(clip.GetFrame(2000000000), {kBlank, 0}, false));
  EXPECT_TRUE(Holds(clip.GetFrame(90), {kBlank, 0}, false));
}

TEST_F(FramesTest, TheClipAsksForOneCallerAtATime) {
  avshost::Clip clip = Pair(2, mfxtest::Nv12(64, 32), 2, 0);
  EXPECT_EQ(clip.SetCacheHints(CACHE_GET_MTMODE, 0), MT_SERIALIZED);
  for (int hint : {0, int(CACHE_DONT_CACHE_ME), int(CACHE_GET_MAX_CAPACITY), int(CACHE_IS_CACHE_REQ),
                   int(CACHE_IS_MTGUARD_REQ), int(CACHE_GET_DEV_TYPE), int(CACHE_GET_CHILD_DEV_TYPE)})
    EXPECT_EQ(clip.SetCacheHints(hint, 100), 0) << hint;
}

TEST_F(FramesTest, PrefetchThreadsThroughACacheGetEveryPicture) {
  // Korvala(..., ViewId=2).Trim(10, 0).SelectEven().Prefetch(threads), on real threads.
  const int units = 70;
  for (int threads : {2, 4, 8}) {
    SCOPED_TRACE(::testing::Message() << threads << " threads");
    avshost::Clip clip = Pair(units, mfxtest::Nv12(64, 32), units, 2);
    avshost::Cache cache(clip, 2);
    {
      avshost::Prefetch prefetch([&](int n) { return cache.GetFrame(10 + 2 * n); }, threads);
      for (int n = 0; n < units - 5; ++n) ASSERT_TRUE(Holds(prefetch.GetFrame(n), {5 + n, 0}, false)) << n;
    }
    EXPECT_TRUE(runtime_->Violations().empty());
  }
}

TEST_F(FramesTest, TheCropRectangleIsThePicture) {
  for (bool tenBit : {false, true}) {
    SCOPED_TRACE(tenBit ? "10-bit" : "8-bit");
    mfxFrameInfo info = tenBit ? mfxtest::P010(96, 64) : mfxtest::Nv12(96, 64);
    info.CropX = 16;
    info.CropY = 8;
    info.CropW = 70;
    info.CropH = 42;
    for (int viewId : {2, -2}) {
      avshost::Clip clip = Pair(3, info, 3, viewId);
      ASSERT_EQ(clip.GetVideoInfo().width, 70);
      ASSERT_EQ(clip.GetVideoInfo().height, 42);
      for (int n = 0; n < 6; ++n)
        EXPECT_TRUE(Holds(clip.GetFrame(n), InOrder(viewId, tenBit, 3, n), tenBit, {16, 8})) << viewId << " frame " << n;
    }
  }
}

TEST_F(FramesTest, ASingleViewStreamHasNoDependentView) {
  for (int viewId : {1, -2}) {
    mfxtest::Program p = Software(mfxtest::Nv12(64, 32));
    p.accessUnits.on = true;
    runtime_->Play(p);
    avshost::Clip clip = Korvala({File("a.h264", BaseView(5)), Value(), 3, viewId});
    // The dependent view's frames are blank; -2 still shows the base view's between them.
    for (int n = 0; n < 3; ++n) {
      const Shown want = viewId == -2 && n % 2 ? Shown{n / 2, 0} : Shown{kBlank, 0};
      EXPECT_TRUE(Holds(clip.GetFrame(n), want, false)) << viewId << " frame " << n;
    }
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
  EXPECT_TRUE(Holds(clip.GetFrame(1), {12, 0}, false));       // the decoder goes on
  EXPECT_TRUE(Holds(clip.GetFrame(2), {13, 0}, false));       // drained after the input ended
  EXPECT_TRUE(Holds(clip.GetFrame(3), {kBlank, 0}, false));
  EXPECT_TRUE(rt.Violations().empty());
  // The surface held by MORE_SURFACE was not handed in again while locked, and every picture
  // was synchronised before it was read.
  std::vector<mfxtest::Call> decodes = CallsOf("MFXVideoDECODE_DecodeFrameAsync");
  ASSERT_GE(decodes.size(), 2u);
  EXPECT_NE(decodes[0].work, decodes[1].work);
  EXPECT_EQ(CallsOf("MFXVideoCORE_SyncOperation").size(), 4u);
  EXPECT_EQ(CallsOf("MFXVideoCORE_SyncOperation").at(0).wait, 1000u);
}

// A decoder that takes no input and gives no picture ends the request instead of spinning:
// asking for data with the bitstream full, or warning without end.
TEST_F(FramesTest, ADecoderThatMakesNoProgressIsAnError) {
  for (const mfxtest::Step& stuck : {mfxtest::Step::Starved(), mfxtest::Step::Status(MFX_WRN_VIDEO_PARAM_CHANGED)}) {
    mfxtest::Program p = Software(mfxtest::Nv12(64, 32));
    p.decode = {mfxtest::Step::Picture(0, 1), stuck};
    p.repeatLast = true;
    runtime_->Play(p);
    // Units far larger than the bitstream holds beside each other fill it at once.
    avshost::Clip clip = Korvala({File("stuck.h264", BaseView(60, 100000)), Value(), 3});
    EXPECT_TRUE(Holds(clip.GetFrame(0), {1, 0}, false));
    try {
      clip.GetFrame(1);
      ADD_FAILURE() << "a stuck decoder gave a frame";
    } catch (const avshost::ScriptError& e) {
      EXPECT_EQ(std::string(e.what()), "Korvala: ERROR -> DecodeFrameAsync makes no progress (status = " +
                                           std::to_string(stuck.status) + ")");
    }
  }
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
