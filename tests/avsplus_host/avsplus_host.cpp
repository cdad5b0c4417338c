// avsplus-host: runs a script in the real AviSynth+ library and prints what it serves, so tests
// can hold the plugin (and our harness) against the real host.
//
// Built against AviSynth+'s own avisynth.h with hidden visibility: the header's inline helpers
// must stay this program's own, not bind to the library's same-named symbols.
#include <avisynth.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <random>
#include <string>
#include <vector>

#include "md5.h"

// The library's function table, which every PClip, PVideoFrame and AVSValue call goes through.
const AVS_Linkage* AVS_linkage = nullptr;

#ifdef KORVALA_UBSAN_SUPPRESSIONS
// Sanitizer builds: the dynamic type checks the plugin built against our header cannot pass in
// the real library (ubsan.supp says why).
extern "C" __attribute__((visibility("default"))) const char* __ubsan_default_options() {
  return "suppressions=" KORVALA_UBSAN_SUPPRESSIONS;
}
#endif

namespace {

const char kUsage[] =
    "usage: avsplus-host [--plugin PATH]... [--props] [--quiet] [--order ORDER] SCRIPT\n"
    "\n"
    "Runs SCRIPT in the AviSynth+ library this program is linked with and prints the clip:\n"
    "  clip width=W height=H fps=NUM/DEN frames=N pixel_type=NAME\n"
    "then, for each frame requested, in request order:\n"
    "  frame N PLANE=MD5 ...   the MD5 of each plane's visible samples, row by row (planes Y U V [A],\n"
    "                          G B R [A], or P for a packed format)\n"
    "  prop KEY TYPE VALUE...  with --props: the frame's properties sorted by key; TYPE is i (integers),\n"
    "                          f (floats), s (data, each value quoted), c (clips) or v (frames);\n"
    "                          bytes outside ! to ~, and \\ and \", are written \\xNN\n"
    "\n"
    "SCRIPT is a file when it ends in .avs (run by Import), else the script text itself.\n"
    "--plugin PATH  loads a plugin before the script runs (the script may also call LoadPlugin);\n"
    "               nothing is autoloaded\n"
    "--quiet        requests the frames without printing them (for timing)\n"
    "--order ORDER  forward (default: 0 to frames-1), reverse, a list like 0,5,3,10..20 (ranges\n"
    "               inclusive, descending when the first is larger), or random:SEED:COUNT (COUNT\n"
    "               frames, each mt19937(SEED)() % frames)\n"
    "\n"
    "Exit status: 0 when every frame was served; 1 on an AviSynth+ error, whose message goes to\n"
    "standard error as is; 2 on a usage error.\n";

struct Options {
  std::vector<std::string> plugins;
  bool props = false;
  bool quiet = false;
  std::string order = "forward";
  std::string script;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--props") {
      options.props = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--order" && i + 1 < argc) {
      options.order = argv[++i];
    } else if (arg == "--plugin" && i + 1 < argc) {
      options.plugins.push_back(argv[++i]);
    } else if (arg.rfind("--", 0) == 0 || !options.script.empty()) {
      return false;
    } else {
      options.script = arg;
    }
  }
  return !options.script.empty();
}

bool ParseInt(const std::string& text, long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && value >= INT32_MIN && value <= INT32_MAX;
}

// A bound on the requests one run makes, so a typo like 0..2000000000 is refused, not allocated.
constexpr long long kMaxRequests = 1 << 24;

// The frame numbers ORDER asks for, or false when ORDER is malformed.
bool FrameOrder(const std::string& order, int numFrames, std::vector<int>& frames) {
  if (order == "forward" || order == "reverse") {
    for (int n = 0; n < numFrames; ++n) frames.push_back(order == "forward" ? n : numFrames - 1 - n);
    return true;
  }
  if (order.rfind("random:", 0) == 0) {
    const std::string rest = order.substr(7);
    const size_t colon = rest.find(':');
    long long seed = 0, count = 0;
    if (colon == std::string::npos || !ParseInt(rest.substr(0, colon), seed) ||
        !ParseInt(rest.substr(colon + 1), count) || count < 0 || count > kMaxRequests)
      return false;
    std::mt19937 generator(static_cast<std::mt19937::result_type>(seed));
    for (long long i = 0; i < count && numFrames > 0; ++i)
      frames.push_back(static_cast<int>(generator() % static_cast<unsigned>(numFrames)));
    return true;
  }
  size_t start = 0;
  while (start <= order.size()) {
    const size_t comma = std::min(order.find(',', start), order.size());
    const std::string item = order.substr(start, comma - start);
    const size_t dots = item.find("..");
    long long first = 0, last = 0;
    if (dots == std::string::npos ? !ParseInt(item, first) || !ParseInt(item, last)
                                  : !ParseInt(item.substr(0, dots), first) || !ParseInt(item.substr(dots + 2), last))
      return false;
    if ((first <= last ? last - first : first - last) >= kMaxRequests - static_cast<long long>(frames.size()))
      return false;
    for (long long n = first;; n += first <= last ? 1 : -1) {
      frames.push_back(static_cast<int>(n));
      if (n == last) break;
    }
    start = comma + 1;
  }
  return true;
}

std::string Escape(const char* bytes, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < '!' || c > '~' || c == '\\' || c == '"') {
      char hex[5];
      std::snprintf(hex, sizeof(hex), "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void PrintFrame(int n, const PVideoFrame& frame, const VideoInfo& vi) {
  struct Plane {
    const char* name;
    int id;
  };
  static const Plane kPacked[] = {{"P", DEFAULT_PLANE}};
  static const Plane kYuv[] = {{"Y", PLANAR_Y}, {"U", PLANAR_U}, {"V", PLANAR_V}, {"A", PLANAR_A}};
  static const Plane kRgb[] = {{"G", PLANAR_G}, {"B", PLANAR_B}, {"R", PLANAR_R}, {"A", PLANAR_A}};
  const bool rgb = vi.IsPlanarRGB() || vi.IsPlanarRGBA(), alpha = vi.IsYUVA() || vi.IsPlanarRGBA();
  const Plane* planes = !vi.IsPlanar() ? kPacked : rgb ? kRgb : kYuv;
  const int count = !vi.IsPlanar() ? 1 : vi.IsY() ? 1 : alpha ? 4 : 3;
  std::printf("frame %d", n);
  for (int i = 0; i < count; ++i) {
    const int id = planes[i].id;
    std::printf(" %s=%s", planes[i].name,
                avsplus_host::PlaneMd5(frame->GetReadPtr(id), frame->GetPitch(id), frame->GetRowSize(id),
                                       frame->GetHeight(id))
                    .c_str());
  }
  std::printf("\n");
}

void PrintProps(const PVideoFrame& frame, IScriptEnvironment* env) {
  const AVSMap* map = env->getFramePropsRO(frame);
  std::vector<std::string> keys;
  for (int i = 0, count = env->propNumKeys(map); i < count; ++i) keys.push_back(env->propGetKey(map, i));
  std::sort(keys.begin(), keys.end());
  for (const std::string& key : keys) {
    const char* k = key.c_str();
    const char type = env->propGetType(map, k);
    const int count = env->propNumElements(map, k);
    std::string line = "prop " + Escape(k, key.size()) + " " + type;
    int error = 0;
    if (type == PROPTYPE_INT) {
      const int64_t* values = env->propGetIntArray(map, k, &error);
      for (int i = 0; i < count && !error; ++i) line += " " + std::to_string(values[i]);
    } else if (type == PROPTYPE_FLOAT) {
      const double* values = env->propGetFloatArray(map, k, &error);
      for (int i = 0; i < count && !error; ++i) {
        char text[32];
        std::snprintf(text, sizeof(text), " %.17g", values[i]);
        line += text;
      }
    } else if (type == PROPTYPE_DATA) {
      for (int i = 0; i < count; ++i) {
        const char* data = env->propGetData(map, k, i, &error);
        const int size = env->propGetDataSize(map, k, i, &error);
        line += " \"" + Escape(data, data && size > 0 ? static_cast<size_t>(size) : 0) + "\"";
      }
    } else if (type == PROPTYPE_CLIP || type == PROPTYPE_FRAME) {
      for (int i = 0; i < count; ++i) line += type == PROPTYPE_CLIP ? " clip" : " frame";
    }
    std::printf("%s\n", line.c_str());
  }
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs the script and prints; returns the exit status. Every object of the library's is gone
// before the environment is deleted.
int Run(const Options& options, IScriptEnvironment* env) {
  try {
    env->Invoke("ClearAutoloadDirs", AVSValue(nullptr, 0));
    for (const std::string& plugin : options.plugins) {
      const AVSValue arg(plugin.c_str());
      env->Invoke("LoadPlugin", AVSValue(&arg, 1));
    }
    const AVSValue arg(options.script.c_str());
    const AVSValue result = env->Invoke(EndsWith(options.script, ".avs") ? "Import" : "Eval", AVSValue(&arg, 1));
    if (!result.IsClip()) {
      std::fprintf(stderr, "avsplus-host: the script did not return a clip\n");
      return 1;
    }
    const PClip clip = result.AsClip();
    const VideoInfo vi = clip->GetVideoInfo();
    const AVSValue clipArg(clip);
    const std::string pixelType = env->Invoke("PixelType", AVSValue(&clipArg, 1)).AsString("");
    std::vector<int> frames;  // the order's form was checked before the script ran
    if (vi.HasVideo()) FrameOrder(options.order, vi.num_frames, frames);
    std::printf("clip width=%d height=%d fps=%u/%u frames=%d pixel_type=%s\n", vi.width, vi.height,
                vi.fps_numerator, vi.fps_denominator, vi.num_frames, pixelType.c_str());
    std::fflush(stdout);
    for (int n : frames) {
      const PVideoFrame frame = clip->GetFrame(n, env);
      if (!frame) {
        std::fprintf(stderr, "avsplus-host: the clip gave no frame %d\n", n);
        return 1;
      }
      if (options.quiet) continue;
      PrintFrame(n, frame, vi);
      if (options.props) PrintProps(frame, env);
      std::fflush(stdout);
    }
    return 0;
  } catch (const AvisynthError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.msg);
    return 1;
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "avsplus-host: %s\n", error.what());
    return 1;
  } catch (...) {
    std::fflush(stdout);
    std::fprintf(stderr, "avsplus-host: an exception that is not an AviSynth+ error\n");
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::vector<int> checked;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!FrameOrder(options.order, 1, checked)) {
    std::fprintf(stderr, "avsplus-host: bad --order %s\n\n%s", options.order.c_str(), kUsage);
    return 2;
  }
  IScriptEnvironment* env = CreateScriptEnvironment(AVISYNTH_INTERFACE_VERSION);
  if (!env) {
    std::fprintf(stderr, "avsplus-host: the AviSynth+ library gave no script environment\n");
    return 1;
  }
  AVS_linkage = env->GetAVSLinkage();
  const int status = Run(options, env);
  env->DeleteScriptEnvironment();
  return status;
}
