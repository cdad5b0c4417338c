// korvala-y4m writing 1080p stereo to /dev/null against pulling the same frames through the
// host harness without writing. The goal: the writer is no bottleneck (ratio >= 0.95).
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "avs_host.h"
#include "mvc_pack.h"
#include "run.h"
#include "tool_test_util.h"

namespace {

constexpr int kUnits = 60;  // access units, 120 frames with view 2

double PullOnly(const std::string& base, const std::string& dep) {
  auto start = std::chrono::steady_clock::now();
  avshost::Host host;
  host.LoadPlugin(KORVALA_PLUGIN_PATH);
  avshost::Clip clip = host.Invoke("Korvala", {base, dep, kUnits, 2});
  int frames = clip.GetVideoInfo().num_frames;
  for (int n = 0; n < frames; ++n) {
    avshost::Frame f = clip.GetFrame(n);
    if (!f) std::abort();
  }
  return frames / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double WriteY4m(const std::string& base, const std::string& dep) {
  y4m::Options o;
  o.avc = base;
  o.mvc = dep;
  o.view = 2;  // frames auto: the count is part of the tool's work
  int fd = open("/dev/null", O_WRONLY);
  auto start = std::chrono::steady_clock::now();
  int status = y4m::Run(o, y4m::KorvalaFactory(), fd, stderr, false);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(fd);
  if (status != 0) std::exit(1);
  return 2 * kUnits / secs;
}

}  // namespace

int main() {
  if (!tooltest::HaveFfmpeg()) {
    std::puts("y4m_bench: skipped, ffmpeg with libx264 is not installed");
    return 0;
  }
  std::string dir = std::string(KORVALA_BINARY_DIR) + "/bench/y4m_bench_data";
  std::string base = dir + "/1080p.base.h264", dep = dir + "/1080p.dep.mvc";
  if (!tooltest::FileExists(dep)) {
    tooltest::Run("mkdir -p '" + dir + "'");
    tooltest::EncodeOptions o;
    o.width = 1920;
    o.height = 1080;
    o.frames = kUnits;
    o.keyint = 30;
    o.extra = "ref=1:subme=1:me=dia:trellis=0";
    std::string log;
    bool ok = tooltest::Encode(dir + "/left.h264", o, &log);
    o.mirrored = true;
    ok = ok && tooltest::Encode(dir + "/right.h264", o, &log);
    if (!ok) {
      std::fprintf(stderr, "y4m_bench: encoding failed: %s\n", log.c_str());
      return 1;
    }
    tooltest::Bytes l = tooltest::ReadFile(dir + "/left.h264"), r = tooltest::ReadFile(dir + "/right.h264");
    mvcpack::PackResult p = mvcpack::Pack(l.data(), l.size(), r.data(), r.size());
    tooltest::WriteFile(base, p.base);
    tooltest::WriteFile(dep, p.dependent);
  }
  // Alternate the two and keep each one's best round: other work on the machine only slows.
  double pull = 0, write = 0;
  for (int round = 0; round < 5; ++round) {
    pull = std::max(pull, PullOnly(base, dep));
    write = std::max(write, WriteY4m(base, dep));
  }
  std::printf("korvala-y4m 1080p stereo (%d frames): pull only %.1f frames/s, writing to /dev/null %.1f frames/s, "
              "ratio %.3f (goal >= 0.95)\n",
              2 * kUnits, pull, write, write / pull);
  return 0;
}
