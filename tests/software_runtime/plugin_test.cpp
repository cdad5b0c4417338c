// The plugin through the AviSynth host harness on the software runtime that lies beside it:
// every frame equals ffmpeg's decode of the same file, byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "avs_host.h"
#include "media.h"

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer intercepts dlopen, so the dispatcher's search no longer passes through the
// plugin's DT_RPATH; in such a build the test runs again with the plugin's folder on
// LD_LIBRARY_PATH, which the dynamic loader reads only at start.
namespace {
const bool kReexecuted = [] {
  const std::string dir = std::string(KORVALA_BINARY_DIR) + "/plugin";
  const char* current = std::getenv("LD_LIBRARY_PATH");
  if (current && std::string(current).find(dir) != std::string::npos) return false;
  const std::string value = current && *current ? dir + ":" + current : dir;
  setenv("LD_LIBRARY_PATH", value.c_str(), 1);
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  std::string cmdline;
  FILE* f = std::fopen("/proc/self/cmdline", "rb");
  if (!f) return false;
  int c;
  while ((c = std::fgetc(f)) != EOF) cmdline.push_back(static_cast<char>(c));
  std::fclose(f);
  std::vector<char*> argv;
  for (std::size_t i = 0; i < cmdline.size(); i += std::strlen(&cmdline[i]) + 1) argv.push_back(&cmdline[i]);
  argv.push_back(nullptr);
  execv(path, argv.data());
  return false;  // exec failed: run as we are
}();
}  // namespace
#endif

namespace swrt_test {
namespace {

#define REQUIRE_SHARED(var, name)                                                    \
  const std::string var = SharedMedia(name);                                         \
  if (var.empty()) GTEST_SKIP() << "shared test media " << name << " is not present"

const std::string kPlugin = std::string(KORVALA_BINARY_DIR) + "/plugin/libkorvala.so";

// Planar frames of ffmpeg's raw output, for frame-by-frame comparison.
struct Reference {
  std::vector<std::uint8_t> bytes;
  int width = 0, height = 0, sampleBytes = 1;
  std::size_t FrameBytes() const { return static_cast<std::size_t>(width) * height * 3 / 2 * sampleBytes; }
  int Frames() const { return static_cast<int>(bytes.size() / FrameBytes()); }
};

// Compares frame n of the clip with picture n of the reference; "" when equal.
std::string CompareFrame(const avshost::Frame& frame, const Reference& ref, int n) {
  const std::uint8_t* src = ref.bytes.data() + ref.FrameBytes() * n;
  for (int plane : {PLANAR_Y, PLANAR_U, PLANAR_V}) {
    const avshost::PlaneView view = frame.Plane(plane);
    const int w = (plane == PLANAR_Y ? ref.width : ref.width / 2) * ref.sampleBytes;
    const int h = plane == PLANAR_Y ? ref.height : ref.height / 2;
    if (view.rowSize != w || view.height != h)
      return "plane " + std::to_string(plane) + " is " + std::to_string(view.rowSize) + "x" +
             std::to_string(view.height);
    for (int y = 0; y < h; ++y, src += w)
      if (std::memcmp(view.ptr + static_cast<std::ptrdiff_t>(y) * view.pitch, src, w) != 0)
        return "frame " + std::to_string(n) + " plane " + std::to_string(plane) + " row " + std::to_string(y);
  }
  return "";
}

void ExpectClipEquals(const std::string& avc, const std::string& mvc, int viewId, const Reference& ref,
                      int expectedFrames) {
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  avshost::Clip clip = host.Invoke("Korvala", {avc, mvc, expectedFrames, viewId});
  const VideoInfo vi = clip.GetVideoInfo();
  ASSERT_EQ(vi.width, ref.width);
  ASSERT_EQ(vi.height, ref.height);
  ASSERT_EQ(ref.Frames(), expectedFrames);
  for (int n = 0; n < expectedFrames; ++n) {
    avshost::Frame frame = clip.GetFrame(n);
    const std::string diff = CompareFrame(frame, ref, n);
    ASSERT_EQ(diff, "") << avc;
  }
}

struct Generated {
  const char* name;
  const char* size;
  int width, height, frames;
  const char* options;
  bool deep;
};

class PluginOnGenerated : public ::testing::TestWithParam<Generated> {};

TEST_P(PluginOnGenerated, EveryFrameEqualsFfmpeg) {
  const Generated& g = GetParam();
  const std::string path = MakeStream(g.name, g.size, g.frames, g.options);
  ASSERT_FALSE(path.empty()) << "ffmpeg could not encode " << g.name;
  Reference ref;
  ref.width = g.width;
  ref.height = g.height;
  ref.sampleBytes = g.deep ? 2 : 1;
  ASSERT_TRUE(FfmpegDecode(path, g.deep ? "yuv420p10le" : "yuv420p", ref.bytes));
  ExpectClipEquals(path, "", 0, ref, g.frames);

  avshost::Host host;
  host.LoadPlugin(kPlugin);
  const VideoInfo vi = host.Invoke("Korvala", {path, "", g.frames, 0}).GetVideoInfo();
  EXPECT_EQ(vi.pixel_type, g.deep ? VideoInfo::CS_YUV420P10 : VideoInfo::CS_YV12);
  EXPECT_EQ(vi.fps_numerator, 25u);
  EXPECT_EQ(vi.fps_denominator, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, PluginOnGenerated,
    ::testing::Values(
        Generated{"avc8_aud_1080.h264", "1920x1080", 1920, 1080, 12,
                  "-c:v libx264 -preset veryfast -bf 3 -x264-params aud=1:log-level=none", false},
        Generated{"avc10_848.h264", "848x480", 848, 480, 10,
                  "-c:v libx264 -preset veryfast -pix_fmt yuv420p10le -profile:v high10 -x264-params log-level=none", true},
        Generated{"hevc8_1080.hevc", "1920x1080", 1920, 1080, 8, "-c:v libx265 -preset ultrafast -x265-params log-level=none", false},
        Generated{"hevc10_848.265", "848x480", 848, 480, 8,
                  "-c:v libx265 -preset ultrafast -pix_fmt yuv420p10le -x265-params log-level=none", true},
        Generated{"mpeg2_848.m2v", "848x480", 848, 480, 12, "-c:v mpeg2video -bf 2 -q:v 4", false},
        // Display sizes off the 16-pixel grid: the decoder's crop rectangle is the picture.
        Generated{"avc8_640x360.h264", "640x360", 640, 360, 6, "-c:v libx264 -preset veryfast -x264-params log-level=none", false},
        Generated{"avc8_854x480.h264", "854x480", 854, 480, 6, "-c:v libx264 -preset veryfast -x264-params log-level=none", false},
        Generated{"avc8_722x404.h264", "722x404", 722, 404, 6, "-c:v libx264 -preset veryfast -x264-params log-level=none", false}),
    [](const ::testing::TestParamInfo<Generated>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

Reference SharedReference(const std::string& path, int width, int height, const std::string& inputOptions = "") {
  Reference ref;
  ref.width = width;
  ref.height = height;
  FfmpegDecode(path, "yuv420p", ref.bytes, inputOptions);
  return ref;
}

TEST(PluginOnConformance, BaseViewsEqualFfmpeg) {
  REQUIRE_SHARED(rp2, "MVCRP_2.264");
  REQUIRE_SHARED(rp2Base, "MVCRP_2.base.h264");
  REQUIRE_SHARED(rp2Dep, "MVCRP_2.dep.mvc");
  REQUIRE_SHARED(ds5, "MVCDS-5.264");
  REQUIRE_SHARED(ds5Base, "MVCDS-5.base.h264");
  const Reference rp2Ref = SharedReference(rp2, 640, 480);
  ASSERT_EQ(Md5(rp2Ref.bytes), "b89fdf72007d76e4611237ca113a9e47");
  ExpectClipEquals(rp2, "", 0, rp2Ref, 250);
  ExpectClipEquals(rp2Base, rp2Dep, 0, rp2Ref, 250);
  const Reference ds5Ref = SharedReference(ds5, 640, 480);
  ASSERT_EQ(Md5(ds5Ref.bytes), "4a15b286d65dc66099398e5ac008c06f");
  ExpectClipEquals(ds5, "", 0, ds5Ref, 9);
  ExpectClipEquals(ds5Base, "", 0, ds5Ref, 9);
}

std::string ViewMd5(const std::string& avc, const std::string& mvc, int viewId, int frames) {
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  avshost::Clip clip = host.Invoke("Korvala", {avc, mvc, frames, viewId});
  std::vector<std::uint8_t> all;
  for (int n = 0; n < frames; ++n) {
    avshost::Frame frame = clip.GetFrame(n);
    for (int plane : {PLANAR_Y, PLANAR_U, PLANAR_V}) {
      const avshost::PlaneView v = frame.Plane(plane);
      for (int y = 0; y < v.height; ++y)
        all.insert(all.end(), v.ptr + static_cast<std::ptrdiff_t>(y) * v.pitch, v.ptr + static_cast<std::ptrdiff_t>(y) * v.pitch + v.rowSize);
    }
  }
  return Md5(all);
}

TEST(PluginOnConformance, Rp2DependentViewDecodes) {
  REQUIRE_SHARED(rp2, "MVCRP_2.264");
  REQUIRE_SHARED(rp2Base, "MVCRP_2.base.h264");
  REQUIRE_SHARED(rp2Dep, "MVCRP_2.dep.mvc");
  EXPECT_EQ(ViewMd5(rp2Base, rp2Dep, 1, 250), "5dc61db7e682982679042ef554968245");
  EXPECT_EQ(ViewMd5(rp2, "", 1, 250), "5dc61db7e682982679042ef554968245");
}

TEST(PluginOnConformance, Rp2BothViewsAlternate) {
  REQUIRE_SHARED(rp2Base, "MVCRP_2.base.h264");
  REQUIRE_SHARED(rp2Dep, "MVCRP_2.dep.mvc");
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  avshost::Clip both = host.Invoke("Korvala", {rp2Base, rp2Dep, 250, 2});
  avshost::Clip base = host.Invoke("Korvala", {rp2Base, rp2Dep, 250, 0});
  avshost::Clip dependent = host.Invoke("Korvala", {rp2Base, rp2Dep, 250, 1});
  ASSERT_EQ(both.GetVideoInfo().num_frames, 500);
  for (int k = 0; k < 20; ++k) {
    avshost::Frame b = base.GetFrame(k), d = dependent.GetFrame(k);
    avshost::Frame b2 = both.GetFrame(2 * k), d2 = both.GetFrame(2 * k + 1);
    const avshost::PlaneView yb = b.Plane(PLANAR_Y), yb2 = b2.Plane(PLANAR_Y);
    const avshost::PlaneView yd = d.Plane(PLANAR_Y), yd2 = d2.Plane(PLANAR_Y);
    for (int y = 0; y < yb.height; ++y) {
      ASSERT_EQ(std::memcmp(yb.ptr + y * yb.pitch, yb2.ptr + y * yb2.pitch, yb.rowSize), 0) << "unit " << k;
      ASSERT_EQ(std::memcmp(yd.ptr + y * yd.pitch, yd2.ptr + y * yd2.pitch, yd.rowSize), 0) << "unit " << k;
    }
  }
}

TEST(PluginOnConformance, StreamEndGivesBlankFrames) {
  REQUIRE_SHARED(ds5, "MVCDS-5.264");
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  avshost::Clip clip = host.Invoke("Korvala", {ds5, "", 12, 0});
  for (int n = 0; n < 12; ++n) {
    avshost::Frame frame = clip.GetFrame(n);
    const avshost::PlaneView y = frame.Plane(PLANAR_Y), u = frame.Plane(PLANAR_U);
    if (n >= 9) {
      EXPECT_EQ(y.ptr[0], 0) << n;
      EXPECT_EQ(u.ptr[0], 127) << n;
    }
  }
}

}  // namespace
}  // namespace swrt_test
