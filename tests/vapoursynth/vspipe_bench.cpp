// Both views of the 1080p stereo pair (view 2) through the real vspipe against the same through
// the real AviSynth+ (avsplus-host): frames a second of serving, the start-up (loading, index,
// first frame) taken out by timing a run of the first frame alone; best of three each.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string kShared = KORVALA_SHARED_DIR;
const std::string kVapourSynth = KORVALA_VAPOURSYNTH_DIR;
constexpr int kFrames = 96;  // 48 a view

bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

// Seconds of the best of three runs; negative when a run failed.
double Best(const std::string& command) {
  double best = 1e9;
  for (int round = 0; round < 3; ++round) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return -1;
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main() {
  const std::string base = kShared + "/media/mvc/mvc_1080p.base.h264";
  const std::string dependent = kShared + "/media/mvc/mvc_1080p.dep.mvc";
  if (kVapourSynth.empty() || !Exists(KORVALA_AVSPLUS_HOST) || !Exists(base) || !Exists(dependent)) {
    std::printf("vspipe against AviSynth+: skipped (needs ../shared/vapoursynth-R65, the real AviSynth+ host "
                "and media/mvc/mvc_1080p)\n");
    return 0;
  }
  const std::string vspipe = "PYTHONPATH='" + kVapourSynth + "/lib/python3.11/site-packages' '" + kVapourSynth +
                             "/bin/vspipe' -a 'plugin=" KORVALA_PLUGIN_PATH "' -a 'source=" + base +
                             "' -a 'dependent=" + dependent + "' -a view=2 '" KORVALA_VPY "' --";
  const std::string avs = std::string("'") + KORVALA_AVSPLUS_HOST + "' --quiet --plugin '" KORVALA_PLUGIN_PATH
                          "' 'Korvala(\"" + base + "\", \"" + dependent + "\", ViewId=2)'";
  const double vsAll = Best(vspipe), vsFirst = Best(vspipe + " -e 0");
  const double avsAll = Best(avs), avsFirst = Best(avs + " --order 0");
  if (vsAll < 0 || vsFirst < 0 || avsAll < 0 || avsFirst < 0) {
    std::printf("vspipe against AviSynth+: a run failed\n");
    return 1;
  }
  const double vsRate = (kFrames - 1) / std::max(1e-6, vsAll - vsFirst);
  const double avsRate = (kFrames - 1) / std::max(1e-6, avsAll - avsFirst);
  std::printf("mvc_1080p both views, vspipe:     %7.1f fps (start-up %.2f s)\n", vsRate, vsFirst);
  std::printf("mvc_1080p both views, AviSynth+:  %7.1f fps (start-up %.2f s)\n", avsRate, avsFirst);
  std::printf("ratio vspipe/AviSynth+:           %7.3f (target >= 0.95)\n", vsRate / avsRate);
  return 0;
}
