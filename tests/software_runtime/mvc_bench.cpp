// The 1080p stereo stream with inter-view prediction, looped to 336 access units: both views
// through plugin + software runtime (ViewId 2, host harness) against ffmpeg decoding the base
// view alone to rawvideo, both with libavcodec's automatic thread count, in the same run. A
// stereo access unit is two pictures; prints pictures per second of each and the ratio. Then
// Reverse() against the forward pass, ViewId 0 from the pair against the base file alone, and
// the pair from its M2TS against the pair from the elementary files.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "avs_host.h"
#include "media.h"

namespace {

constexpr int kLoops = 7;

// The file repeated kLoops times (each copy opens with an IDR unit and its parameter sets; a
// transport stream's copies follow on as one stream).
std::string Looped(const std::string& name) {
  std::vector<std::uint8_t> bytes;
  if (!swrt_test::ReadFile(swrt_test::SharedMedia(name), bytes) || bytes.empty()) return "";
  const std::string path = swrt_test::BuildDir() + "/bench_looped_" + name.substr(name.rfind('/') + 1);
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < kLoops; ++i) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return out ? path : "";
}

}  // namespace

int main() {
  const std::string base = Looped("mvc/mvc_1080p.base.h264"), dependent = Looped("mvc/mvc_1080p.dep.mvc");
  if (base.empty() || dependent.empty()) {
    std::fprintf(stderr, "../shared/media/mvc/mvc_1080p is not present: nothing to measure\n");
    return 0;
  }
  const int units = 48 * kLoops;
  const std::string plugin = std::string(KORVALA_BINARY_DIR) + "/plugin/libkorvala.so";
  const swrt_test::Timings best = swrt_test::TimeAgainstFfmpeg(base, [&] {
    avshost::Host host;
    host.LoadPlugin(plugin);
    avshost::Clip clip = host.Invoke("Korvala", {base, dependent, units, 2});
    for (int n = 0; n < 2 * units; ++n) clip.GetFrame(n);
  });
  if (best.ffmpeg < 0) return 1;
  const double ffmpegRate = units / best.ffmpeg, pluginRate = 2 * units / best.pull;
  std::printf("1920x1080 stereo (mvc_1080p x %d), %d access units, best of 3\n", kLoops, units);
  std::printf("ffmpeg, base view alone:          %7.1f pictures/s\n", ffmpegRate);
  std::printf("plugin + software runtime, both:  %7.1f pictures/s\n", pluginRate);
  std::printf("ratio plugin/ffmpeg:              %7.3f (target >= 0.9)\n", pluginRate / ffmpegRate);

  // Seconds for one clip's frames in the given order, best of three.
  auto timed = [&](const std::string& avc, const std::string& mvc, int viewId, bool reverse) {
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
      avshost::Host host;
      host.LoadPlugin(plugin);
      const auto start = std::chrono::steady_clock::now();
      avshost::Clip clip = host.Invoke("Korvala", {avc, mvc, 0, viewId});
      const int count = clip.GetVideoInfo().num_frames;
      for (int i = 0; i < count; ++i) clip.GetFrame(reverse ? count - 1 - i : i);
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
  };
  const double forward = timed(base, dependent, 2, false), backward = timed(base, dependent, 2, true);
  std::printf("Reverse(), both views:            %7.2f s against %.2f s forward: %.2fx (target <= 3)\n", backward,
              forward, backward / forward);
  const double fromPair = timed(base, dependent, 0, false), alone = timed(base, "", 0, false);
  std::printf("ViewId 0 from the pair:           %7.2f s against %.2f s from the base file: %.3f (target >= 0.9)\n",
              fromPair, alone, alone / fromPair);
  const std::string m2ts = Looped("containers/mvc_1080p/mvc_1080p.m2ts");
  if (!m2ts.empty()) {
    const double fromM2ts = timed(m2ts, "", 2, false);
    std::printf("both views from the M2TS:         %7.2f s against %.2f s from the elementary files: %.3f (target >= 0.95)\n",
                fromM2ts, forward, forward / fromM2ts);
  }
  return 0;
}
