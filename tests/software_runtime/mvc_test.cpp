// Stereo streams whose dependent view predicts from the base view, through the plugin on the
// software runtime: every frame of both views equals the reference decoder's, whether the views
// come as one interleaved file or as the base/dependent pair.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "avs_host.h"
#include "media.h"
#include "stereo_streams.h"

namespace swrt_test {
namespace {

const std::string kPlugin = std::string(KORVALA_BINARY_DIR) + "/plugin/libkorvala.so";

// The frames of a clip, sorted into the views they alternate between.
struct Views {
  std::vector<std::uint8_t> bytes[2];
};

Views Alternating(const std::string& avc, const std::string& mvc, int frames, int viewId) {
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  avshost::Clip clip = host.Invoke("Korvala", {avc, mvc, frames, viewId});
  Views views;
  for (int n = 0; n < 2 * frames; ++n) AppendFrame(clip.GetFrame(n), views.bytes[n % 2]);
  return views;
}

std::string Shared(const std::string& name) { return SharedMedia("mvc/" + name); }

class StereoStream : public ::testing::TestWithParam<Stream> {};

TEST_P(StereoStream, BothViewsEqualTheReferenceDecoder) {
  const Stream& s = GetParam();
  const std::string interleaved = Shared(std::string(s.name) + ".264");
  const std::string base = Shared(std::string(s.name) + ".base.h264");
  const std::string dependent = Shared(std::string(s.name) + ".dep.mvc");
  if (interleaved.empty() || base.empty() || dependent.empty())
    GTEST_SKIP() << "shared test media mvc/" << s.name << " is not present";
  std::vector<std::uint8_t> ffmpeg;
  ASSERT_TRUE(FfmpegDecode(base, "yuv420p", ffmpeg));
  EXPECT_EQ(Md5(ffmpeg), s.base) << "ffmpeg's decode of the base view";
  const Views pair = Alternating(base, dependent, s.frames, 2);
  EXPECT_EQ(Md5(pair.bytes[0]), s.base) << "base view from the pair";
  EXPECT_EQ(Md5(pair.bytes[1]), s.dependent) << "dependent view from the pair";
  const Views single = Alternating(interleaved, "", s.frames, 2);
  EXPECT_EQ(Md5(single.bytes[0]), s.base) << "base view from the interleaved file";
  EXPECT_EQ(Md5(single.bytes[1]), s.dependent) << "dependent view from the interleaved file";
}

INSTANTIATE_TEST_SUITE_P(Reference, StereoStream, ::testing::ValuesIn(kStreams),
                         [](const ::testing::TestParamInfo<Stream>& info) { return std::string(info.param.name); });

TEST(StereoViews, EachViewSelectionServesItsPictures) {
  const Stream& s = kStreams[1];  // B pictures: display order differs from decoding order
  const std::string base = Shared(std::string(s.name) + ".base.h264");
  const std::string dependent = Shared(std::string(s.name) + ".dep.mvc");
  if (base.empty() || dependent.empty()) GTEST_SKIP() << "shared test media mvc/" << s.name << " is not present";
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  for (int viewId : {0, 1}) {
    avshost::Clip clip = host.Invoke("Korvala", {base, dependent, s.frames, viewId});
    std::vector<std::uint8_t> all;
    for (int n = 0; n < s.frames; ++n) AppendFrame(clip.GetFrame(n), all);
    EXPECT_EQ(Md5(all), viewId ? s.dependent : s.base) << "ViewId " << viewId;
  }
  // -2: the dependent view of each unit, then its base view; the last base view stays held.
  const Views alternating = Alternating(base, dependent, s.frames, 2);
  avshost::Clip swapped = host.Invoke("Korvala", {base, dependent, s.frames, -2});
  const std::size_t frameBytes = alternating.bytes[0].size() / static_cast<std::size_t>(s.frames);
  for (int n = 0; n + 1 < 2 * s.frames; ++n) {
    std::vector<std::uint8_t> got;
    AppendFrame(swapped.GetFrame(n), got);
    const std::vector<std::uint8_t>& view = alternating.bytes[n % 2 == 0 ? 1 : 0];
    ASSERT_EQ(got.size(), frameBytes);
    ASSERT_EQ(std::memcmp(got.data(), view.data() + frameBytes * static_cast<std::size_t>(n / 2), frameBytes), 0)
        << "frame " << n;
  }
}

TEST(StereoViews, Ds5PairWithViewIdsZeroAndTwo) {
  const std::string base = SharedMedia("MVCDS-5.base.h264");
  const std::string dependent = SharedMedia("MVCDS-5.dep.mvc");
  if (base.empty() || dependent.empty()) GTEST_SKIP() << "shared test media MVCDS-5 is not present";
  const Views views = Alternating(base, dependent, 9, 2);
  EXPECT_EQ(Md5(views.bytes[0]), "4a15b286d65dc66099398e5ac008c06f");
  EXPECT_EQ(Md5(views.bytes[1]), "e076cb77e0e944c93c49590abe163199");
}

TEST(StereoViews, DamagedDependentViewLeavesTheBaseViewIntact) {
  const Stream& s = kStreams[1];
  const std::string base = Shared(std::string(s.name) + ".base.h264");
  std::vector<std::uint8_t> dependent;
  if (base.empty() || !ReadFile(Shared(std::string(s.name) + ".dep.mvc"), dependent))
    GTEST_SKIP() << "shared test media mvc/" << s.name << " is not present";
  // Every 199th byte of the slice extensions' payload garbled, headers included, never into a
  // start code or a delimiter.
  int sinceStart = -1;
  bool slice = false;
  for (std::size_t i = 3; i < dependent.size(); ++i) {
    if (dependent[i - 3] == 0 && dependent[i - 2] == 0 && dependent[i - 1] == 1) {
      sinceStart = 0;
      slice = (dependent[i] & 0x1F) == 20;
      continue;
    }
    if (sinceStart >= 0) ++sinceStart;
    const std::uint8_t garbled = dependent[i] ^ 0x5A;
    if (slice && sinceStart > 4 && i % 199 == 0 && garbled > 3 && dependent[i] > 3) dependent[i] = garbled;
  }
  const std::string damaged = BuildDir() + "/damaged_" + s.name + ".dep.mvc";
  std::ofstream(damaged, std::ios::binary).write(reinterpret_cast<const char*>(dependent.data()),
                                                 static_cast<std::streamsize>(dependent.size()));
  const Views views = Alternating(base, damaged, s.frames, 2);
  EXPECT_EQ(Md5(views.bytes[0]), s.base);
  EXPECT_EQ(views.bytes[1].size(), views.bytes[0].size()) << "every unit still shows a dependent picture";
}

}  // namespace
}  // namespace swrt_test
