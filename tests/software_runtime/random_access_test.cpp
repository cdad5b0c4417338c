// Frames in any order: every stereo stream, in both file forms and every view selection, counted
// from the stream, serves each frame asked for out of order exactly as in order, and the
// in-order frames are the reference decoder's; a pair whose second copy lies beyond 4 GiB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "avs_host.h"
#include "media.h"
#include "stereo_streams.h"

namespace swrt_test {
namespace {

const std::string kPlugin = std::string(KORVALA_BINARY_DIR) + "/plugin/libkorvala.so";

std::vector<std::uint8_t> FrameBytes(const avshost::Frame& frame) {
  std::vector<std::uint8_t> out;
  AppendFrame(frame, out);
  return out;
}

// The stereo streams of ../shared/media/mvc and the two conformance pairs beside them.
std::vector<Stream> AllStreams() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const Stream& s : kStreams) n.push_back(std::string("mvc/") + s.name);
    return n;
  }();
  std::vector<Stream> all;
  for (std::size_t i = 0; i < names.size(); ++i) {
    all.push_back(kStreams[i]);
    all.back().name = names[i].c_str();
  }
  all.push_back({"MVCDS-5", 9, "4a15b286d65dc66099398e5ac008c06f", "e076cb77e0e944c93c49590abe163199"});
  all.push_back({"MVCRP_2", 250, "b89fdf72007d76e4611237ca113a9e47", "5dc61db7e682982679042ef554968245"});
  return all;
}

// The orders a script asks in: backwards, the second half spliced before the first, jumps, and
// frames far ahead asked first. Streams with one random access point make every jump back
// decode from their start.
std::vector<std::vector<int>> Orders(int count) {
  std::vector<int> reverse(count), splice, jumps, ahead;
  for (int n = 0; n < count; ++n) reverse[count - 1 - n] = n;
  for (int n = count / 2; n < count; ++n) splice.push_back(n);
  for (int n = 0; n < count / 2; ++n) splice.push_back(n);
  std::mt19937 random(count);
  for (int i = 0; i < 12; ++i) jumps.push_back(static_cast<int>(random() % count));
  const int far = count * 3 / 4;
  ahead = {far, std::min(far + 1, count - 1), count / 3, 0};
  // Back past the frames given out last, then the first again: its picture was the run's last.
  std::vector<int> back;
  for (int n = count / 2; n >= std::max(0, count / 2 - 5); --n) back.push_back(n);
  back.push_back(count / 2);
  return {reverse, splice, jumps, ahead, back};
}

// A shared stream ten times over in one file, made in the build tree; "" without it.
std::string Repeated(const std::string& what) {
  const std::string name = what.substr(0, what.find(' '));
  std::vector<std::uint8_t> once, all;
  const std::string shared = SharedMedia("mvc/" + name);
  if (shared.empty() || !ReadFile(shared, once)) return "";
  for (int i = 0; i < 10; ++i) all.insert(all.end(), once.begin(), once.end());
  const std::string path = BuildDir() + "/x10_" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "";
  const bool written = std::fwrite(all.data(), 1, all.size(), f) == all.size();
  return std::fclose(f) == 0 && written ? path : "";
}

class AnyOrder : public ::testing::TestWithParam<Stream> {};

TEST_P(AnyOrder, EveryFrameEqualsItsInOrderFrame) {
  const Stream& s = GetParam();
  const std::string interleaved = SharedMedia(std::string(s.name) + ".264");
  const std::string base = SharedMedia(std::string(s.name) + ".base.h264");
  const std::string dependent = SharedMedia(std::string(s.name) + ".dep.mvc");
  if (interleaved.empty() || base.empty() || dependent.empty())
    GTEST_SKIP() << "shared test media " << s.name << " is not present";
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  for (const auto& [avc, mvc] : {std::pair{base, dependent}, std::pair{interleaved, std::string()}}) {
    for (int viewId : {0, 1, 2, -2}) {
      SCOPED_TRACE(::testing::Message() << avc << " ViewId " << viewId);
      const int count = viewId == 2 || viewId == -2 ? 2 * s.frames : s.frames;
      // NumFrames left out: the stream's own count.
      avshost::Clip inOrder = host.Invoke("Korvala", {avc, mvc, avshost::Value(), viewId});
      ASSERT_EQ(inOrder.GetVideoInfo().num_frames, count);
      std::vector<std::vector<std::uint8_t>> frames;
      std::vector<std::uint8_t> views[2];
      for (int n = 0; n < count; ++n) {
        frames.push_back(FrameBytes(inOrder.GetFrame(n)));
        const int view = viewId == 2 ? n % 2 : viewId == -2 ? 1 - n % 2 : viewId;
        views[view].insert(views[view].end(), frames.back().begin(), frames.back().end());
      }
      if (viewId != 1) {
        EXPECT_EQ(Md5(views[0]), s.base);
      }
      if (viewId != 0) {
        EXPECT_EQ(Md5(views[1]), s.dependent);
      }
      // The long streams in random order only with both views, their costliest selection.
      if (s.frames > 40 && viewId != 2) continue;
      for (const std::vector<int>& order : Orders(count)) {
        avshost::Clip clip = host.Invoke("Korvala", {avc, mvc, 0, viewId});
        for (int n : order) ASSERT_TRUE(FrameBytes(clip.GetFrame(n)) == frames[n]) << "frame " << n;
      }
    }
  }
}

// The picture inverts every 10 frames: scene cuts, where x264 puts I pictures that are not IDR
// (its next IDR is 250 frames away) and the pictures after them still refer to those before.
#define KORVALA_SCENE_CUTS "-vf negate=enable='between(mod(n\\,12)\\,4\\,5)' "

// Single-view streams whose I pictures are not all places to start: open GOPs for AVC and HEVC
// (CRA and RASL), scene cuts inside a GOP with several references and a B pyramid, MBAFF,
// MPEG-2 GOPs with B pictures before their I picture and interlaced coding, and a stereo base
// view repeated (an IDR every 8 frames, a non-IDR I picture between): counted, in order equal to
// ffmpeg's decode, and in any order equal to the in-order frames.
TEST(AnyOrderSingleView, AvcHevcAndMpeg2) {
  struct Case {
    const char* name;
    const char* options;
  };
  const Case cases[] = {
      {"ra_avc.h264", "-c:v libx264 -preset veryfast -bf 3 -g 10 -x264-params open-gop=1:scenecut=0:log-level=none"},
      {"ra_avc_cuts.h264", KORVALA_SCENE_CUTS "-c:v libx264 -preset veryfast -bf 3 -x264-params "
                           "keyint=250:min-keyint=250:scenecut=100:ref=4:b-pyramid=normal:log-level=none"},
      {"ra_avc_mbaff.h264", KORVALA_SCENE_CUTS "-c:v libx264 -preset veryfast -bf 2 -flags +ildct+ilme -x264-params "
                            "keyint=250:min-keyint=250:scenecut=100:ref=3:log-level=none"},
      {"ra_hevc.hevc", "-c:v libx265 -preset ultrafast -bf 3 -g 10 -x265-params open-gop=1:scenecut=0:log-level=none"},
      {"ra_mpeg2.m2v", "-c:v mpeg2video -bf 2 -g 10 -q:v 4"},
      {"ra_mpeg2_interlaced.m2v", "-c:v mpeg2video -bf 2 -g 12 -q:v 4 -flags +ildct+ilme -top 1"},
      {"mvc_idr_periodic.base.h264 x10", nullptr},
  };
  const int frames = 40;
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.options ? MakeStream(c.name, "320x240", frames, c.options) : Repeated(c.name);
    if (!c.options && path.empty()) continue;  // without the shared stream
    ASSERT_FALSE(path.empty()) << "ffmpeg could not encode " << c.name;
    std::vector<std::uint8_t> ffmpeg;
    ASSERT_TRUE(FfmpegDecode(path, "yuv420p", ffmpeg));
    avshost::Clip inOrder = host.Invoke("Korvala", {path});
    const int count = inOrder.GetVideoInfo().num_frames;
    ASSERT_EQ(count, c.options ? frames : 240);
    std::vector<std::vector<std::uint8_t>> expected;
    std::vector<std::uint8_t> all;
    for (int n = 0; n < count; ++n) {
      expected.push_back(FrameBytes(inOrder.GetFrame(n)));
      all.insert(all.end(), expected.back().begin(), expected.back().end());
    }
    ASSERT_TRUE(all == ffmpeg);
    std::vector<std::vector<int>> orders = Orders(count);
    if (count > 102) orders.push_back({101, 102});  // a non-IDR I picture stands at frame 100
    for (const std::vector<int>& order : orders) {
      avshost::Clip clip = host.Invoke("Korvala", {path});
      for (int n : order) ASSERT_TRUE(FrameBytes(clip.GetFrame(n)) == expected[n]) << "frame " << n;
    }
  }
}

// Cut and garbled files: whatever is asked, a frame comes (decoded, concealed or blank), never a
// crash or a hang; a negative NumFrames is refused.
TEST(AnyOrderDamaged, CutAndGarbledFilesServeEveryRequest) {
  const std::string base = SharedMedia("mvc/mvc_ibbp_cabac.base.h264");
  const std::string dependent = SharedMedia("mvc/mvc_ibbp_cabac.dep.mvc");
  if (base.empty() || dependent.empty()) GTEST_SKIP() << "shared test media mvc/mvc_ibbp_cabac is not present";
  std::vector<std::uint8_t> b, d;
  ASSERT_TRUE(ReadFile(base, b) && ReadFile(dependent, d));
  const std::string dir = BuildDir();
  auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir + "/damaged_" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    return path;
  };
  std::vector<std::uint8_t> garbled = b;
  for (std::size_t i = garbled.size() / 3; i < garbled.size(); i += 997) garbled[i] ^= 0x5A;
  const std::string cutBase = write("cut.base.h264", std::vector<std::uint8_t>(b.begin(), b.begin() + b.size() / 2 + 17));
  const std::string cutDep = write("cut.dep.mvc", std::vector<std::uint8_t>(d.begin(), d.begin() + d.size() / 3));
  const std::string garbledBase = write("garbled.base.h264", garbled);
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  for (const auto& [avc, mvc] : {std::pair{cutBase, dependent}, std::pair{base, cutDep}, std::pair{garbledBase, dependent}}) {
    SCOPED_TRACE(avc + " " + mvc);
    avshost::Clip clip = host.Invoke("Korvala", {avc, mvc, 0, 2});
    const int count = clip.GetVideoInfo().num_frames;
    EXPECT_GT(count, 0);
    for (const std::vector<int>& order : Orders(count + 4))  // a few frames past the end too
      for (int n : order) EXPECT_FALSE(FrameBytes(clip.GetFrame(n)).empty());
  }
  try {
    host.Invoke("Korvala", {base, dependent, -1, 0});
    ADD_FAILURE() << "a negative NumFrames was taken";
  } catch (const avshost::ScriptError& e) {
    EXPECT_STREQ(e.what(), "Korvala: ERROR -> NumFrames must be a frame count (0 counts the stream)");
  }
}

INSTANTIATE_TEST_SUITE_P(Shared, AnyOrder, ::testing::ValuesIn(AllStreams()), [](const auto& info) {
  std::string name = info.param.name;
  name = name.substr(name.find('/') + 1);
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

// A file past 4 GiB: the pair, 4.7 GB of zero bytes (a hole, costing no disk), the pair again.
// Zero bytes between NAL units are trailing zeros, part of no unit: the copy beyond the mark
// serves exactly the frames the first does.
TEST(PastFourGib, FramesBeyondTheMarkAreExact) {
  const Stream& s = kStreams[1];
  const char* const kinds[2] = {".base.h264", ".dep.mvc"};
  constexpr long long kZeros = 4700000000LL;
  std::string files[2];
  for (int v = 0; v < 2; ++v) {
    std::vector<std::uint8_t> bytes;
    if (!ReadFile(SharedMedia(std::string("mvc/") + s.name + kinds[v]), bytes))
      GTEST_SKIP() << "shared test media mvc/" << s.name << " is not present";
    files[v] = BuildDir() + "/past_4gib" + kinds[v];
    std::FILE* f = std::fopen(files[v].c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() &&
                         fseeko(f, static_cast<off_t>(bytes.size() + kZeros), SEEK_SET) == 0 &&
                         std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ASSERT_TRUE(std::fclose(f) == 0 && written);
  }
  {
    avshost::Host host;
    host.LoadPlugin(kPlugin);
    avshost::Clip clip = host.Invoke("Korvala", {files[0], files[1], 0, 2});
    ASSERT_EQ(clip.GetVideoInfo().num_frames, 4 * s.frames);
    for (int copy : {1, 0}) {  // beyond the mark first
      std::vector<std::uint8_t> views[2];
      for (int n = 2 * s.frames * copy; n < 2 * s.frames * (copy + 1); ++n) AppendFrame(clip.GetFrame(n), views[n % 2]);
      EXPECT_EQ(Md5(views[0]), s.base) << "copy " << copy;
      EXPECT_EQ(Md5(views[1]), s.dependent) << "copy " << copy;
    }
  }
  for (const std::string& f : files) std::remove(f.c_str());
}

}  // namespace
}  // namespace swrt_test
