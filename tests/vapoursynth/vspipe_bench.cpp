// Both views of the 1080p stereo pair (view 2), looped ten times, through the real vspipe against
// the same through the real AviSynth+ (avsplus-host): frames a second of serving, the start-up
// (loading, index, first frame) taken out by timing a run of the first frame alone; best of five
// each. Rates by the clock and by the processor time the run took (the steadier one on a shared
// machine), and the page faults a served frame cost. Then the hosts alone: a 1080p frame made
// new for every request by a built-in filter (BlankClip, Invert) in each, which is what the host
// adds to any source's frame.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string kShared = KORVALA_SHARED_DIR;
const std::string kVapourSynth = KORVALA_VAPOURSYNTH_DIR;
const std::string kBench = std::string(KORVALA_BINARY_DIR) + "/bench/";
// Long enough that the hosts' memory has settled: the first few dozen frames of either host
// land in fresh pages.
constexpr int kLoops = 10;
constexpr int kFrames = 96 * kLoops;  // 48 pairs a loop

bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

std::string Looped(const std::string& from, const std::string& name) {
  std::ifstream in(from, std::ios::binary);
  const std::vector<char> once((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string path = kBench + name;
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < kLoops; ++i) out.write(once.data(), static_cast<std::streamsize>(once.size()));
  return !once.empty() && out ? path : "";
}

struct Time {
  double wall = 1e9, cpu = 1e9;  // seconds; negative when a run failed
  long faults = 0;               // page faults of the fastest run by processor time
};

rusage Children() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage;
}

double Cpu(const rusage& u) {
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Each command's best of five runs, the commands taking turns, so a load that comes and goes
// falls on all of them alike.
std::vector<Time> Best(const std::vector<std::string>& commands) {
  std::vector<Time> best(commands.size());
  for (int round = 0; round < 5; ++round) {
    for (size_t i = 0; i < commands.size(); ++i) {
      if (best[i].wall < 0) continue;
      const rusage before = Children();
      const auto start = std::chrono::steady_clock::now();
      if (std::system((commands[i] + " >/dev/null 2>&1").c_str()) != 0) {
        best[i] = Time{-1, -1, 0};
        continue;
      }
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const rusage after = Children();
      best[i].wall = std::min(best[i].wall, wall);
      if (Cpu(after) - Cpu(before) < best[i].cpu) {
        best[i].cpu = Cpu(after) - Cpu(before);
        best[i].faults = after.ru_minflt - before.ru_minflt;
      }
    }
  }
  return best;
}

// Serving `kFrames` frames against serving the first: the run with the start-up taken out.
struct Serving {
  double wallRate, cpuRate, faultsPerFrame;
  bool ok;
};

Serving Serve(const Time& all, const Time& first) {
  if (all.wall < 0 || first.wall < 0) return Serving{0, 0, 0, false};
  return Serving{(kFrames - 1) / std::max(1e-6, all.wall - first.wall),
                 (kFrames - 1) / std::max(1e-6, all.cpu - first.cpu),
                 std::max(0.0, static_cast<double>(all.faults - first.faults) / (kFrames - 1)), true};
}

void Print(const char* what, const Serving& s) {
  std::printf("%-34s %7.1f fps by clock, %7.1f fps by processor time, %5.0f page faults a frame\n", what,
              s.wallRate, s.cpuRate, s.faultsPerFrame);
}

}  // namespace

int main() {
  const std::string vspipe = "PYTHONPATH='" + kVapourSynth + "/lib/python3.11/site-packages' '" + kVapourSynth +
                             "/bin/vspipe'";
  const std::string avsHost = std::string("'") + KORVALA_AVSPLUS_HOST + "' --quiet";
  if (kVapourSynth.empty() || !Exists(KORVALA_AVSPLUS_HOST) || !Exists(kShared + "/media/mvc/mvc_1080p.base.h264")) {
    std::printf("vspipe against AviSynth+: skipped (needs ../shared/vapoursynth-R65, the real AviSynth+ host "
                "and media/mvc/mvc_1080p)\n");
    return 0;
  }
  const std::string base = Looped(kShared + "/media/mvc/mvc_1080p.base.h264", "vs_mvc_1080p.base.h264");
  const std::string dependent = Looped(kShared + "/media/mvc/mvc_1080p.dep.mvc", "vs_mvc_1080p.dep.mvc");
  const std::string blank = kBench + "vs_new_frames.vpy";
  std::ofstream(blank) << "import vapoursynth as vs\n"
                          "clip = vs.core.std.BlankClip(width=1920, height=1080, format=vs.YUV420P8, length="
                       << kFrames << ", keep=True)\nvs.core.std.Invert(clip).set_output()\n";
  const std::string vsSource = " -a 'plugin=" KORVALA_PLUGIN_PATH "' -a 'source=" + base + "' -a 'dependent=" +
                               dependent + "' -a view=2 '" KORVALA_VPY "' --";
  const std::string avsSource = avsHost + " --plugin '" KORVALA_PLUGIN_PATH "' 'Korvala(\"" + base + "\", \"" +
                                dependent + "\", ViewId=2)'";
  const std::string avsBlank =
      avsHost + " 'BlankClip(" + std::to_string(kFrames) + ", 1920, 1080, \"YV12\").Invert()'";

  const std::vector<Time> t = Best({vspipe + vsSource, vspipe + " -e 0" + vsSource, avsSource, avsSource + " --order 0",
                                    vspipe + " '" + blank + "' --", vspipe + " -e 0 '" + blank + "' --", avsBlank,
                                    avsBlank + " --order 0"});
  const Serving vs = Serve(t[0], t[1]), avs = Serve(t[2], t[3]), vsNew = Serve(t[4], t[5]), avsNew = Serve(t[6], t[7]);
  if (!vs.ok || !avs.ok || !vsNew.ok || !avsNew.ok) {
    std::printf("vspipe against AviSynth+: a run failed\n");
    return 1;
  }
  std::printf("mvc_1080p looped %d times, both views (%d frames):\n", kLoops, kFrames);
  Print("  vspipe", vs);
  Print("  AviSynth+", avs);
  std::printf("  ratio vspipe/AviSynth+: %.3f by clock, %.3f by processor time (target >= 0.95)\n",
              vs.wallRate / avs.wallRate, vs.cpuRate / avs.cpuRate);
  std::printf("The hosts alone, a new 1080p frame a request (BlankClip, Invert):\n");
  Print("  vspipe", vsNew);
  Print("  AviSynth+", avsNew);
  std::printf("Processor time a frame, vspipe less AviSynth+: %.2f ms for a new frame alone, %.2f ms for Korvala's\n",
              1e3 / vsNew.cpuRate - 1e3 / avsNew.cpuRate, 1e3 / vs.cpuRate - 1e3 / avs.cpuRate);
  return 0;
}
