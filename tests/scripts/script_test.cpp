// The plugin as AviSynth+ scripts use it, on the software runtime: the shared stereo pair under
// the request orders of Trim, SelectEven and Prefetch on real threads, every frame checked
// against the same clip asked in order through our harness; the plugin built against
// AviSynth+'s own header; and both builds in the real AviSynth+ 3.7.5 library.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "avs_host.h"
#include "real_host.h"

namespace {

const std::string kShared = KORVALA_SHARED_DIR;
const std::string kBase = kShared + "/media/MVCRP_2.base.h264";
const std::string kDependent = kShared + "/media/MVCRP_2.dep.mvc";

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

#define REQUIRE_STEREO_PAIR()                                                                   \
  if (!Exists(kBase) || !Exists(kDependent))                                                    \
  GTEST_SKIP() << "the shared stereo pair (../shared/media/MVCRP_2.base.h264, .dep.mvc) is not present"

// The MD5s of a frame's visible planes, as the real-host program prints them.
using Digest = std::vector<std::string>;
Digest DigestOf(const avshost::Frame& frame) {
  return avsplus_host::PlaneMd5s(frame, {PLANAR_Y, PLANAR_U, PLANAR_V});
}

avshost::Clip Korvala(avshost::Host& host, const std::string& plugin, int viewId) {
  host.LoadPlugin(plugin);
  return host.Invoke("Korvala", {kBase, kDependent, 250, viewId});
}

// A host with the plugin loaded and Korvala(pair, 250, viewId) called.
struct Script {
  avshost::Host host;
  avshost::Clip clip;
  Script(const std::string& plugin, int viewId) : clip(Korvala(host, plugin, viewId)) {}
};

std::vector<Digest> InOrder(const std::string& plugin, int viewId, int count) {
  Script script(plugin, viewId);
  std::vector<Digest> digests;
  for (int n = 0; n < count; ++n) digests.push_back(DigestOf(script.clip.GetFrame(n)));
  return digests;
}

int FrameCount(int viewId) { return viewId == 2 || viewId == -2 ? 500 : 250; }

TEST(Scripts, EveryViewOfTheStereoPairUnderTrimSelectEvenAndPrefetch) {
  REQUIRE_STEREO_PAIR();
  for (int viewId : {0, 1, 2, -2}) {
    SCOPED_TRACE(::testing::Message() << "ViewId " << viewId);
    const int count = FrameCount(viewId);
    const std::vector<Digest> reference = InOrder(KORVALA_PLUGIN_PATH, viewId, count);
    {
      // Korvala(...).Prefetch(8): every frame, asked out of order by eight threads.
      Script script(KORVALA_PLUGIN_PATH, viewId);
      avshost::Cache cache(script.clip, 2);
      avshost::Prefetch prefetch([&](int n) { return cache.GetFrame(n); }, 8);
      for (int n = 0; n < count; ++n) ASSERT_EQ(DigestOf(prefetch.GetFrame(n)), reference[n]) << "frame " << n;
    }
    {
      // Korvala(...).Trim(100, 0).SelectEven().Prefetch(4), the README's script.
      Script script(KORVALA_PLUGIN_PATH, viewId);
      avshost::Cache cache(script.clip, 2);
      avshost::Prefetch prefetch([&](int n) { return cache.GetFrame(100 + 2 * n); }, 4);
      for (int n = 0; 100 + 2 * n < count; ++n)
        ASSERT_EQ(DigestOf(prefetch.GetFrame(n)), reference[100 + 2 * n]) << "frame " << 100 + 2 * n;
    }
  }
}

TEST(Scripts, ThePluginBuiltAgainstAviSynthPlusOwnHeaderServesTheSameFrames) {
  const std::string avsplusPlugin = KORVALA_AVSPLUS_PLUGIN_PATH;
  if (avsplusPlugin.empty())
    GTEST_SKIP() << "../shared/avisynthplus-3.7.5 is not present, so the plugin was not built against AviSynth+'s header";
  REQUIRE_STEREO_PAIR();
  for (int viewId : {2, -2}) {
    SCOPED_TRACE(::testing::Message() << "ViewId " << viewId);
    Script ours(KORVALA_PLUGIN_PATH, viewId), theirs(avsplusPlugin, viewId);
    const VideoInfo a = ours.clip.GetVideoInfo(), b = theirs.clip.GetVideoInfo();
    EXPECT_TRUE(a.width == b.width && a.height == b.height && a.pixel_type == b.pixel_type &&
                a.num_frames == b.num_frames && a.fps_numerator == b.fps_numerator);
    EXPECT_EQ(theirs.clip.ThreadMode(), MT_SERIALIZED);
    for (int n = 0; n < 500; n += n < 40 ? 1 : 23)
      ASSERT_EQ(DigestOf(theirs.clip.GetFrame(n)), DigestOf(ours.clip.GetFrame(n))) << "frame " << n;
  }
}

// Both scripts of the first test, run in the real AviSynth+ library with `plugin` loaded, must
// serve exactly the frames our harness decodes in order. Outside sanitizer builds the host program's
// RPATH names only the library's folder, so the plugin also finds its runtime beside itself ($ORIGIN).
void ExpectRealHostServesTheInOrderFrames(const std::string& plugin) {
  if (!avsplus_host::RealHostAvailable()) GTEST_SKIP() << avsplus_host::kRealHostMissing;
  if (plugin.empty()) GTEST_SKIP() << "this plugin build needs ../shared/avisynthplus-3.7.5";
  REQUIRE_STEREO_PAIR();
  for (int viewId : {0, 1, 2, -2}) {
    SCOPED_TRACE(::testing::Message() << "ViewId " << viewId);
    const int count = FrameCount(viewId);
    const std::vector<Digest> reference = InOrder(KORVALA_PLUGIN_PATH, viewId, count);
    const std::string korvala = "Korvala(\"" + kBase + "\", \"" + kDependent + "\", 250, " + std::to_string(viewId) + ")";
    for (const std::string tail : {".Prefetch(8)", ".Trim(100, 0).SelectEven().Prefetch(4)"}) {
      SCOPED_TRACE(tail);
      const bool trimmed = tail[1] == 'T';
      const avsplus_host::RealHostResult run = avsplus_host::RunRealHost(korvala + tail, "forward", false, {plugin});
      ASSERT_EQ(run.exitCode, 0) << run.error;
      const avsplus_host::RealHostClip& clip = run.clip;
      EXPECT_TRUE(clip.width == 640 && clip.height == 480 && clip.pixelType == "YV12" &&
                  clip.numFrames == (trimmed ? (count - 100) / 2 : count))
          << run.output.substr(0, run.output.find('\n'));
      ASSERT_EQ(run.frames.size(), static_cast<size_t>(clip.numFrames));
      for (const avsplus_host::RealHostFrame& frame : run.frames)
        ASSERT_EQ(frame.planes, reference[trimmed ? 100 + 2 * frame.n : frame.n]) << "frame " << frame.n;
    }
  }
}

TEST(RealHost, ThePluginServesTheInOrderFramesUnderPrefetchAndTrimSelectEven) {
  ExpectRealHostServesTheInOrderFrames(KORVALA_PLUGIN_PATH);
}

TEST(RealHost, ThePluginBuiltAgainstAviSynthPlusOwnHeaderServesTheInOrderFrames) {
  ExpectRealHostServesTheInOrderFrames(KORVALA_AVSPLUS_PLUGIN_PATH);
}

// An error the plugin raises crosses the real library as AviSynth+'s own exception, its text intact.
TEST(RealHost, ThePluginsErrorReachesTheHostAsItsExactText) {
  if (!avsplus_host::RealHostAvailable()) GTEST_SKIP() << avsplus_host::kRealHostMissing;
  for (const std::string plugin : {KORVALA_PLUGIN_PATH, KORVALA_AVSPLUS_PLUGIN_PATH}) {
    if (plugin.empty()) continue;
    SCOPED_TRACE(plugin);
    const auto run = avsplus_host::RunRealHost("Korvala(\"" + kShared + "/media/absent.h264\", NumFrames=10)", "forward",
                                               false, {plugin});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.error, "Korvala: Can't open Source File");
  }
}

// The scripts that ask for frames out of order, in the real library: Reverse() under Prefetch, a
// splice of the second half before the first, jumps, a frame far ahead first; both file forms of
// a stereo stream with IDR units to seek to, and its base view ten times over in one file (a
// non-IDR I picture between its IDR units is no place to start), counted from the stream, against
// the same clip asked in order.
TEST(RealHost, FramesInAnyOrderAreTheInOrderFrames) {
  if (!avsplus_host::RealHostAvailable()) GTEST_SKIP() << avsplus_host::kRealHostMissing;
  const std::string stem = kShared + "/media/mvc/mvc_idr_periodic";
  if (!Exists(stem + ".264")) GTEST_SKIP() << "the shared stereo stream mvc/mvc_idr_periodic is not present";
  const std::string repeated = std::string(KORVALA_BINARY_DIR) + "/mvc_idr_periodic.base.x10.h264";
  {
    std::ifstream in(stem + ".base.h264", std::ios::binary);
    const std::string once((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream out(repeated, std::ios::binary);
    for (int i = 0; i < 10; ++i) out << once;
  }
  struct Source {
    std::string args;
    int frames;
  };
  const Source sources[] = {{"\"" + stem + ".base.h264\", \"" + stem + ".dep.mvc\", ViewId=2", 48},  // 24 units, both views
                            {"\"" + stem + ".264\", ViewId=2", 48},
                            {"\"" + repeated + "\"", 240}};
  for (const Source& source : sources) {
    SCOPED_TRACE(source.args);
    const int count = source.frames;
    const std::string clip = "c = Korvala(" + source.args + ")\n";
    const avsplus_host::RealHostResult inOrder = avsplus_host::RunRealHost(clip + "c", "forward", false, {KORVALA_PLUGIN_PATH});
    ASSERT_EQ(inOrder.exitCode, 0) << inOrder.error;
    ASSERT_EQ(inOrder.clip.numFrames, count);
    const std::string half = std::to_string(count / 2);
    struct Run {
      std::string script, order;
      std::function<int(int)> frame;  // the clip's frame that script frame n shows
    };
    const Run runs[] = {
        {"c.Reverse().Prefetch(4)", "forward", [&](int n) { return count - 1 - n; }},
        {"Trim(c, " + half + ", 0) ++ Trim(c, 0, " + std::to_string(count / 2 - 1) + ")", "forward",
         [&](int n) { return (n + count / 2) % count; }},
        {"c", "random:7:40", [](int n) { return n; }},
        {"c", std::to_string(count * 5 / 12 + 1) + "," + std::to_string(count * 5 / 12 + 2) + ",3", [](int n) { return n; }},
    };
    for (const Run& r : runs) {
      SCOPED_TRACE(r.script + " " + r.order);
      const avsplus_host::RealHostResult run = avsplus_host::RunRealHost(clip + r.script, r.order, false, {KORVALA_PLUGIN_PATH});
      ASSERT_EQ(run.exitCode, 0) << run.error;
      for (const avsplus_host::RealHostFrame& frame : run.frames)
        ASSERT_EQ(frame.planes, inOrder.frames[r.frame(frame.n)].planes) << "frame " << frame.n;
    }
  }
}

}  // namespace
