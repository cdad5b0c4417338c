// Runs a script in the real AviSynth+ 3.7.5 library through the avsplus-host program (built
// only when ../shared/avisynthplus-3.7.5 is present) and reads back what it printed.
//
//   if (!avsplus_host::RealHostAvailable()) GTEST_SKIP() << avsplus_host::kRealHostMissing;
//   const auto run = avsplus_host::RunRealHost("Korvala(...).Prefetch(4)", "reverse", true, {plugin});
//   run.exitCode, run.error (AviSynth+'s message), run.clip, run.frames[i].n / .planes / .props
//
// The test target needs the compile definition KORVALA_AVSPLUS_HOST: the program's path, or ""
// when it was not built (tests/avsplus_host/CMakeLists.txt sets KORVALA_AVSPLUS_HOST_DEFINITION).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "md5.h"

extern char** environ;

namespace avsplus_host {

inline constexpr const char* kRealHostMissing =
    "the real AviSynth+ host is not available: ../shared/avisynthplus-3.7.5 (include/avisynth/avisynth.h "
    "and lib/libavisynth.so.11) was absent when the build was configured, so avsplus-host was not built";

struct RealHostProp {
  char type = 'u';                // 'i' integers, 'f' floats, 's' data, 'c' clips, 'v' frames
  std::vector<std::int64_t> ints;
  std::vector<double> floats;     // exact: printed with 17 significant digits
  std::vector<std::string> data;  // the bytes as stored
  int count = 0;                  // elements of any type (clips and frames are only counted)
};

struct RealHostFrame {
  int n = 0;                                   // the frame number requested
  std::vector<std::string> planes;             // MD5 per plane: Y U V [A], G B R [A], or one packed
  std::map<std::string, RealHostProp> props;   // only with props = true
};

struct RealHostClip {
  int width = 0, height = 0, numFrames = 0;
  unsigned fpsNumerator = 0, fpsDenominator = 0;
  std::string pixelType;  // AviSynth+'s PixelType() name, e.g. "YV12", "YUV420P10"
};

struct RealHostResult {
  int exitCode = -1;                  // 0 all served, 1 AviSynth+ error, 2 usage; -1 crashed or timed out
  std::string error;                  // standard error: AviSynth+'s message text, without the final newline
  bool hasClip = false;               // the script gave a clip and `clip` describes it
  RealHostClip clip;
  std::vector<RealHostFrame> frames;  // in request order; before an error, those served until then
  std::string output;                 // standard output as printed
};

inline bool RealHostAvailable() {
  struct stat st;
  return std::string(KORVALA_AVSPLUS_HOST).size() > 0 && ::stat(KORVALA_AVSPLUS_HOST, &st) == 0;
}

// The MD5s avsplus-host prints, for a frame of ours: any type whose Plane(id) gives ptr, pitch,
// rowSize and height (avshost::Frame), with the plane ids in the host's order.
template <class Frame>
std::vector<std::string> PlaneMd5s(const Frame& frame, std::initializer_list<int> planeIds) {
  std::vector<std::string> digests;
  for (int id : planeIds) {
    const auto p = frame.Plane(id);
    digests.push_back(PlaneMd5(p.ptr, p.pitch, p.rowSize, p.height));
  }
  return digests;
}

namespace detail {

inline std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out += static_cast<char>(std::strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

inline void ParseLine(const std::string& line, RealHostResult& result) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  if (word == "clip") {
    RealHostClip& c = result.clip;
    char pixelType[64] = "";
    result.hasClip = std::sscanf(line.c_str(), "clip width=%d height=%d fps=%u/%u frames=%d pixel_type=%63s", &c.width,
                                 &c.height, &c.fpsNumerator, &c.fpsDenominator, &c.numFrames, pixelType) == 6;
    c.pixelType = pixelType;
  } else if (word == "frame") {
    RealHostFrame frame;
    in >> frame.n;
    while (in >> word) frame.planes.push_back(word.substr(word.find('=') + 1));
    result.frames.push_back(frame);
  } else if (word == "prop" && !result.frames.empty()) {
    std::string key, type;
    in >> key >> type;
    RealHostProp& prop = result.frames.back().props[Unescape(key)];
    prop.type = type.empty() ? 'u' : type[0];
    while (in >> word) {
      ++prop.count;
      if (prop.type == 'i') prop.ints.push_back(std::strtoll(word.c_str(), nullptr, 10));
      if (prop.type == 'f') prop.floats.push_back(std::strtod(word.c_str(), nullptr));
      if (prop.type == 's') prop.data.push_back(Unescape(word.substr(1, word.size() - 2)));
    }
  }
}

inline double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace detail

// Runs `script` (text, or a path ending in .avs) with the frame order avsplus-host takes
// ("forward", "reverse", "0,5,10..20", "random:SEED:COUNT"), loading each of `plugins` first.
// A run still going after `timeoutSeconds` is killed and reported as exitCode -1.
inline RealHostResult RunRealHost(const std::string& script, const std::string& order = "forward", bool props = false,
                                  const std::vector<std::string>& plugins = {}, double timeoutSeconds = 240) {
  RealHostResult result;
  std::vector<std::string> args = {KORVALA_AVSPLUS_HOST, "--order", order};
  if (props) args.push_back("--props");
  for (const std::string& plugin : plugins) args.insert(args.end(), {"--plugin", plugin});
  args.push_back(script);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  int out[2], err[2];
  if (pipe(out) != 0) return result;
  if (pipe(err) != 0) {
    close(out[0]);
    close(out[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  // The libraries a plugin pulls in (libavformat's) keep allocations from their start-up that
  // a sanitizer build's leak check would report when the host unloads the plugin at its exit:
  // not the plugin's leaks, which the harness tests check in-process.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("ASAN_OPTIONS=", 0) != 0) env.emplace_back(*e);
  const char* asan = std::getenv("ASAN_OPTIONS");
  env.push_back(std::string("ASAN_OPTIONS=") + (asan && *asan ? std::string(asan) + ":" : "") + "detect_leaks=0");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);

  // Both pipes at once, so neither fills while the other is read.
  const double deadline = detail::Now() + timeoutSeconds;
  bool timedOut = false;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.output, &result.error};
  for (int open = spawned == 0 ? 2 : 0; open > 0;) {
    const double left = deadline - detail::Now();
    if (left <= 0 || poll(fds, 2, static_cast<int>(left * 1000) + 1) < 0) {
      timedOut = left <= 0;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  close(out[0]);
  close(err[0]);
  if (spawned != 0) {
    result.error = "avsplus-host could not be started";
    return result;
  }
  if (timedOut) kill(pid, SIGKILL);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status) && !timedOut) result.exitCode = WEXITSTATUS(status);
  if (timedOut) result.error += "avsplus-host timed out and was killed";
  while (!result.error.empty() && result.error.back() == '\n') result.error.pop_back();

  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) detail::ParseLine(line, result);
  return result;
}

}  // namespace avsplus_host
