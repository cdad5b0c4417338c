// The host harness against a real plugin library: registration, arguments, counted clips,
// errors, frame geometry and guard mode.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "avs_host.h"

namespace {

using avshost::Host;
using avshost::ScriptError;

std::string ErrorOf(Host& host, const std::string& name, const std::vector<avshost::Value>& positional,
                    const std::vector<std::pair<std::string, avshost::Value>>& named = {}) {
  try {
    host.Invoke(name, positional, named);
  } catch (const ScriptError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(HostPlugin, LoadsThroughTheEntryAndRecordsEachRegistration) {
  Host host;
  EXPECT_EQ(host.LoadPlugin(TEST_PLUGIN_PATH), "avshost test plugin");
  ASSERT_EQ(host.Registrations().size(), 3u);
  EXPECT_EQ(host.Registrations()[0].name, "TestSource");
  EXPECT_EQ(host.Registrations()[0].params, "[width]i[height]i[frames]i[bits]i[overrun]i[tail]i[shared]b[mtmode]i");
  EXPECT_EQ(host.Registrations()[1].name, "Report");
  EXPECT_EQ(host.Registrations()[2].params, "si");
}

TEST(HostPlugin, RefusesLibrariesWithoutAWorkingEntry) {
  Host host;
  EXPECT_THROW(host.LoadPlugin(BROKEN_PLUGIN_PATH), avshost::HostError);
  EXPECT_THROW(host.LoadPlugin("/nonexistent/plugin.so"), avshost::HostError);
  try {
    host.LoadPlugin(FAILING_PLUGIN_PATH);
    ADD_FAILURE() << "a failing entry loaded";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("BadInit: refusing with code 42"), std::string::npos) << e.what();
  }
}

TEST(HostArguments, OmittedAreUndefinedAndNamedGoByParameterName) {
  Host host({0x1234, false});
  host.LoadPlugin(TEST_PLUGIN_PATH);
  EXPECT_EQ(ErrorOf(host, "Report", {}),
            "text=undef count=undef scale=undef flag=undef beyond=undef size=4 dtext=none dcount=-1 live=0 cpu=0x1234");
  EXPECT_EQ(ErrorOf(host, "Report", {std::string("abc"), 7}, {{"flag", true}, {"scale", 2.5}}),
            "text=abc count=7 scale=2.5 flag=true beyond=undef size=4 dtext=abc dcount=7 live=0 cpu=0x1234");
  EXPECT_EQ(ErrorOf(host, "report", {}, {{"count", 3}}).find("text=undef count=3"), 0u);
  EXPECT_EQ(ErrorOf(host, "Required", {std::string("x"), 5}), "Required: x 5");
  // Arguments that fit no parameter list are the host's error, not a call.
  EXPECT_NE(ErrorOf(host, "Report", {}, {{"nosuch", 1}}), "(no error)");
  EXPECT_NE(ErrorOf(host, "Required", {}), "Required:  0");
}

TEST(HostClips, TheLastReferenceDestroysTheClip) {
  Host host;
  host.LoadPlugin(TEST_PLUGIN_PATH);
  {
    avshost::Clip clip = host.Invoke("TestSource", {32, 16, 3});
    avshost::Clip copy = clip;
    { avshost::Clip moved = std::move(copy); }
    EXPECT_EQ(host.ClipsDestroyed(), 0);
    EXPECT_GE(clip.GetVersion(), 6);  // 12 when built against AviSynth+'s own header
    EXPECT_EQ(clip.GetVideoInfo().num_frames, 3);
    EXPECT_TRUE(clip.GetParity(1));
    EXPECT_EQ(clip.SetCacheHints(CACHE_GET_MTMODE, 0), MT_SERIALIZED);
    EXPECT_EQ(ErrorOf(host, "Report", {}).find("live=1") != std::string::npos, true);
  }
  EXPECT_EQ(host.ClipsDestroyed(), 1);
  EXPECT_NE(ErrorOf(host, "Report", {}).find("live=0"), std::string::npos);
}

TEST(HostErrors, ThrowErrorReachesTheCallerWithTheFormattedText) {
  Host host;
  host.LoadPlugin(TEST_PLUGIN_PATH);
  EXPECT_EQ(ErrorOf(host, "TestSource", {}, {{"bits", 12}}), "TestSource: bits must be 8, 10 or 16, not 12");
  avshost::Clip clip = host.Invoke("TestSource", {16, 8, 2});
  try {
    clip.GetFrame(5);
    ADD_FAILURE() << "no error";
  } catch (const ScriptError& e) {
    EXPECT_STREQ(e.what(), "TestSource: frame 5 is outside [0, 2)");
  }
  EXPECT_TRUE(clip.GetFrame(1));  // the clip works on after an error
}

TEST(HostFrames, PlanesAreAlignedAndHoldWhatThePluginWrote) {
  for (int bits : {8, 10}) {
    Host host;
    host.LoadPlugin(TEST_PLUGIN_PATH);
    avshost::Clip clip = host.Invoke("TestSource", {70, 30, 4, bits});
    avshost::Frame frame = clip.GetFrame(2);
    const int bytes = bits == 8 ? 1 : 2;
    const int planes[3] = {PLANAR_Y, PLANAR_U, PLANAR_V};
    for (int i = 0; i < 3; ++i) {
      avshost::PlaneView p = frame.Plane(planes[i]);
      ASSERT_NE(p.ptr, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p.ptr) % 64, 0u);
      EXPECT_EQ(p.pitch % 64, 0);
      EXPECT_EQ(p.rowSize, (i == 0 ? 70 : 35) * bytes);
      EXPECT_EQ(p.height, i == 0 ? 30 : 15);
      EXPECT_GE(p.pitch, p.rowSize);
      for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.rowSize / bytes; ++x) {
          const int expected = 2 * 3 + x + 2 * y + i * 50;
          int got = 0;
          if (bytes == 1) got = p.ptr[size_t(y) * p.pitch + x];
          else std::memcpy(&got, p.ptr + size_t(y) * p.pitch + 2 * x, 2);
          ASSERT_EQ(got, bytes == 1 ? (expected & 0xFF) : (expected & 0x3FF)) << "plane " << i << " at " << x << "," << y;
        }
    }
  }
}

TEST(HostFrames, AFrameHeldTwiceIsNotWritable) {
  Host host;
  host.LoadPlugin(TEST_PLUGIN_PATH);
  avshost::Clip clip = host.Invoke("TestSource", {16, 16, 1}, {{"shared", true}});
  try {
    clip.GetFrame(0);
  } catch (const ScriptError& e) {
    EXPECT_STREQ(e.what(), "TestSource: frame 0 is not writable while shared");
  }
}

TEST(HostGuards, CatchWritesPastARowAndPastAPlane) {
  Host host({-1, true});
  host.LoadPlugin(TEST_PLUGIN_PATH);
  avshost::Frame clean = host.Invoke("TestSource", {70, 30, 1}).GetFrame(0);
  EXPECT_TRUE(clean.GuardsIntact());
  EXPECT_FALSE(clean.PaddingTouched());
  EXPECT_GT(clean.Plane(PLANAR_Y).pitch, 128);  // widened well beyond the row

  // Into the padding up to the ordinary pitch: allowed, but seen.
  avshost::Frame padded = host.Invoke("TestSource", {70, 30, 1}, {{"overrun", 10}}).GetFrame(0);
  EXPECT_TRUE(padded.GuardsIntact());
  EXPECT_TRUE(padded.PaddingTouched());

  // Beyond the pitch an ordinary host would give: caught.
  avshost::Frame past = host.Invoke("TestSource", {70, 30, 1}, {{"overrun", 60}}).GetFrame(0);
  EXPECT_FALSE(past.GuardsIntact());

  avshost::Frame tail = host.Invoke("TestSource", {64, 32, 1}, {{"tail", 1}}).GetFrame(0);
  EXPECT_FALSE(tail.GuardsIntact());
}

TEST(HostThreads, ACacheKeepsRecentFramesAndLetsPrefetchThreadsReachTheClipOneAtATime) {
  Host host;
  host.LoadPlugin(TEST_PLUGIN_PATH);
  avshost::Clip clip = host.Invoke("TestSource", {32, 16, 40});
  ASSERT_EQ(clip.ThreadMode(), MT_SERIALIZED);
  avshost::Cache cache(clip, 2);
  for (int n : {1, 2, 1, 3, 1, 2}) cache.GetFrame(n);
  EXPECT_EQ(cache.ClipRequests(), 4);  // 2 was dropped for 3, as the least recently used

  avshost::Prefetch prefetch([&](int n) { return cache.GetFrame(n); }, 8);
  for (int n = 0; n < 40; ++n) ASSERT_EQ(prefetch.GetFrame(n).Plane(PLANAR_Y).ptr[0], n * 3) << n;
  // The workers asked beyond the end too; that error reaches the script at that frame only.
  try {
    prefetch.GetFrame(40);
    ADD_FAILURE() << "no error";
  } catch (const ScriptError& e) {
    EXPECT_STREQ(e.what(), "TestSource: frame 40 is outside [0, 40)");
  }
}

TEST(HostThreads, ThreadModesAreReadAsAviSynthReadsThem) {
  Host host;
  host.LoadPlugin(TEST_PLUGIN_PATH);
  auto withMode = [&](int mode) { return host.Invoke("TestSource", {32, 16, 4}, {{"mtmode", mode}}); };
  EXPECT_EQ(withMode(MT_NICE_FILTER).ThreadMode(), MT_NICE_FILTER);
  EXPECT_EQ(withMode(0).ThreadMode(), MT_MULTI_INSTANCE);  // no answer: AviSynth+'s default
  EXPECT_EQ(withMode(9).ThreadMode(), MT_MULTI_INSTANCE);
  // AviSynth+ would make a multi-instance clip once per thread; a clip made once is refused to
  // a second thread.
  avshost::Cache cache(withMode(0), 4);
  cache.GetFrame(0);
  bool refused = false;
  std::thread([&] {
    try {
      cache.GetFrame(1);
    } catch (const avshost::HostError&) {
      refused = true;
    }
  }).join();
  EXPECT_TRUE(refused);
}

TEST(HostCpu, FlagsAnswerAsSet) {
  Host host({CPUF_SSE2 | CPUF_SSSE3, false});
  host.LoadPlugin(TEST_PLUGIN_PATH);
  EXPECT_NE(ErrorOf(host, "Report", {}).find("cpu=0x220"), std::string::npos);
  host.SetCpuFlags(0);
  EXPECT_NE(ErrorOf(host, "Report", {}).find("cpu=0x0"), std::string::npos);
  EXPECT_NE(Host::DetectedCpuFlags() & CPUF_SSE2, 0);  // every x86-64 has it
}

}  // namespace
