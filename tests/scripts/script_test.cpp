// The plugin as AviSynth+ scripts use it, on the software runtime: the shared stereo pair under
// the request orders of Trim, SelectEven and Prefetch on real threads, every frame checked
// against the same clip asked in order; and the plugin built against AviSynth+'s own header.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "avs_host.h"

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

// A digest of a frame's visible samples.
uint64_t Digest(const avshost::Frame& frame) {
  uint64_t hash = 14695981039346656037u;
  for (int plane : {PLANAR_Y, PLANAR_U, PLANAR_V}) {
    const avshost::PlaneView p = frame.Plane(plane);
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.rowSize; ++x) hash = (hash ^ p.ptr[static_cast<size_t>(y) * p.pitch + x]) * 1099511628211u;
  }
  return hash;
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

std::vector<uint64_t> InOrder(const std::string& plugin, int viewId, int count) {
  Script script(plugin, viewId);
  std::vector<uint64_t> digests;
  for (int n = 0; n < count; ++n) digests.push_back(Digest(script.clip.GetFrame(n)));
  return digests;
}

TEST(Scripts, EveryViewOfTheStereoPairUnderTrimSelectEvenAndPrefetch) {
  REQUIRE_STEREO_PAIR();
  for (int viewId : {0, 1, 2, -2}) {
    SCOPED_TRACE(::testing::Message() << "ViewId " << viewId);
    const int count = viewId == 2 || viewId == -2 ? 500 : 250;
    const std::vector<uint64_t> reference = InOrder(KORVALA_PLUGIN_PATH, viewId, count);
    {
      // Korvala(...).Prefetch(8): every frame, asked out of order by eight threads.
      Script script(KORVALA_PLUGIN_PATH, viewId);
      avshost::Cache cache(script.clip, 2);
      avshost::Prefetch prefetch([&](int n) { return cache.GetFrame(n); }, 8);
      for (int n = 0; n < count; ++n) ASSERT_EQ(Digest(prefetch.GetFrame(n)), reference[n]) << "frame " << n;
    }
    {
      // Korvala(...).Trim(100, 0).SelectEven().Prefetch(4), the README's script.
      Script script(KORVALA_PLUGIN_PATH, viewId);
      avshost::Cache cache(script.clip, 2);
      avshost::Prefetch prefetch([&](int n) { return cache.GetFrame(100 + 2 * n); }, 4);
      for (int n = 0; 100 + 2 * n < count; ++n)
        ASSERT_EQ(Digest(prefetch.GetFrame(n)), reference[100 + 2 * n]) << "frame " << 100 + 2 * n;
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
      ASSERT_EQ(Digest(theirs.clip.GetFrame(n)), Digest(ours.clip.GetFrame(n))) << "frame " << n;
  }
}

}  // namespace
