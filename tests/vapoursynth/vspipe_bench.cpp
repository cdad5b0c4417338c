// Both views of the 1080p stereo pair (view 2) through the real vspipe against the same through
// the real AviSynth+ (avsplus-host): frames a second of serving, the start-up (loading, index,
// first frame) taken out by timing a run of the first frame alone; best of three each. Rates by
// the clock and by the processor time the run took (the steadier one on a shared machine).
#include <sys/resource.h>
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

struct Time {
  double wall = 1e9, cpu = 1e9;  // seconds; negative when a run failed
};

double ChildrenCpu() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The best of three runs.
Time Best(const std::string& command) {
  Time best;
  for (int round = 0; round < 3; ++round) {
    const double cpu = ChildrenCpu();
    const auto start = std::chrono::steady_clock::now();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return Time{-1, -1};
    best.wall = std::min(best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    best.cpu = std::min(best.cpu, ChildrenCpu() - cpu);
  }
  return best;
}

double Rate(const Time& all, const Time& first, bool cpu) {
  return (kFrames - 1) / std::max(1e-6, cpu ? all.cpu - first.cpu : all.wall - first.wall);
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
  const Time vsAll = Best(vspipe), vsFirst = Best(vspipe + " -e 0");
  const Time avsAll = Best(avs), avsFirst = Best(avs + " --order 0");
  if (vsAll.wall < 0 || vsFirst.wall < 0 || avsAll.wall < 0 || avsFirst.wall < 0) {
    std::printf("vspipe against AviSynth+: a run failed\n");
    return 1;
  }
  for (bool cpu : {false, true}) {
    const double vsRate = Rate(vsAll, vsFirst, cpu), avsRate = Rate(avsAll, avsFirst, cpu);
    const char* by = cpu ? "processor time" : "clock";
    std::printf("mvc_1080p both views, vspipe, by %s:     %7.1f fps\n", by, vsRate);
    std::printf("mvc_1080p both views, AviSynth+, by %s:  %7.1f fps\n", by, avsRate);
    std::printf("ratio vspipe/AviSynth+, by %s:           %7.3f (target >= 0.95)\n", by, vsRate / avsRate);
  }
  return 0;
}
