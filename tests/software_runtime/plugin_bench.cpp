// A generated 1920x1080 AVC stream of 300 frames: every frame pulled through plugin + software
// runtime (host harness) against ffmpeg decoding the same file to rawvideo, both with the same
// thread count (libavcodec's automatic choice), in the same run. Prints both rates and the ratio.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "avs_host.h"
#include "media.h"

int main() {
  const int frames = 300;
  const std::string path = swrt_test::MakeStream("bench_avc_1080.h264", "1920x1080", frames,
                                                 "-c:v libx264 -preset veryfast -bf 3 -x264-params aud=1:log-level=none");
  if (path.empty()) {
    std::fprintf(stderr, "ffmpeg could not encode the benchmark stream\n");
    return 1;
  }
  const std::string plugin = std::string(KORVALA_BINARY_DIR) + "/plugin/libkorvala.so";
  const swrt_test::Timings best = swrt_test::TimeAgainstFfmpeg(path, [&] {
    avshost::Host host;
    host.LoadPlugin(plugin);
    avshost::Clip clip = host.Invoke("Korvala", {path, "", frames, 0});
    for (int n = 0; n < frames; ++n) clip.GetFrame(n);
  });
  if (best.ffmpeg < 0) return 1;
  const double ffmpegFps = frames / best.ffmpeg, pluginFps = frames / best.pull;
  std::printf("1920x1080 AVC, %d frames, best of 3\n", frames);
  std::printf("ffmpeg to rawvideo:       %7.1f fps\n", ffmpegFps);
  std::printf("plugin + software runtime: %7.1f fps\n", pluginFps);
  std::printf("ratio plugin/ffmpeg:       %7.3f (target >= 0.9)\n", pluginFps / ffmpegFps);
  return 0;
}
