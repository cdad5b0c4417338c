// The 1080p stereo stream with inter-view prediction, looped to 336 access units: both views
// through plugin + software runtime (ViewId 2, host harness) against ffmpeg decoding the base
// view alone to rawvideo, both with libavcodec's automatic thread count, in the same run. A
// stereo access unit is two pictures; prints pictures per second of each and the ratio.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "avs_host.h"
#include "media.h"

namespace {

constexpr int kLoops = 7;

// The file repeated kLoops times (each copy opens with an IDR unit and its parameter sets).
std::string Looped(const std::string& name) {
  std::vector<std::uint8_t> bytes;
  if (!swrt_test::ReadFile(swrt_test::SharedMedia("mvc/" + name), bytes) || bytes.empty()) return "";
  const std::string path = swrt_test::BuildDir() + "/bench_looped_" + name;
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < kLoops; ++i) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return out ? path : "";
}

}  // namespace

int main() {
  const std::string base = Looped("mvc_1080p.base.h264"), dependent = Looped("mvc_1080p.dep.mvc");
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
  return 0;
}
