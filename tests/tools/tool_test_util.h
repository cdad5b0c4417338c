#pragma once
// Helpers for the tools' tests: scratch folders, running commands, making streams with ffmpeg.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tooltest {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

struct CommandResult {
  int status = -1;  // exit status, or -1 if the command did not exit normally
  std::string output;  // standard output and standard error together
};

inline CommandResult Run(const std::string& command) {
  CommandResult r;
  std::FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline bool HaveFfmpeg() {
  static const bool have = Run("ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=64x64 "
                               "-frames:v 1 -c:v libx264 -f null -").status == 0;
  return have;
}

// A folder under the build tree for one test's files, emptied first.
inline std::string ScratchDir(const std::string& name) {
  std::string dir = std::string(KORVALA_BINARY_DIR) + "/tests/tools/scratch/" + name;
  Run("rm -rf '" + dir + "' && mkdir -p '" + dir + "'");
  return dir;
}

struct EncodeOptions {
  int width = 160;
  int height = 96;
  int frames = 20;
  int keyint = 8;
  int bframes = 2;
  bool aud = true;
  bool tenBit = false;
  bool mirrored = false;  // the "right" picture: mirrored and negated testsrc2
  std::string extra;      // more x264 parameters, ':'-separated
};

// Encodes a testsrc2 clip with x264 to path; returns false (with output in log) on failure.
inline bool Encode(const std::string& path, const EncodeOptions& o, std::string* log = nullptr) {
  std::string params = "keyint=" + std::to_string(o.keyint) + ":min-keyint=" + std::to_string(o.keyint) +
                       ":scenecut=0:b-adapt=0:bframes=" + std::to_string(o.bframes) +
                       (o.aud ? ":aud=1" : "") + (o.extra.empty() ? "" : ":" + o.extra);
  std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=" +
                    std::to_string(o.width) + "x" + std::to_string(o.height) + ":rate=25 " +
                    (o.mirrored ? "-vf hflip,negate " : "") + "-frames:v " + std::to_string(o.frames) +
                    " -pix_fmt " + (o.tenBit ? "yuv420p10le" : "yuv420p") + " -c:v libx264 -x264-params " +
                    params + " '" + path + "'";
  CommandResult r = Run(cmd);
  if (log) *log = r.output;
  return r.status == 0;
}

// ffmpeg's decode of an elementary stream as raw planar frames (empty on failure).
inline Bytes DecodeRaw(const std::string& path, const std::string& pixFmt = "") {
  std::string out = path + ".raw";
  std::string fmt = pixFmt.empty() ? "" : " -pix_fmt " + pixFmt;
  if (Run("ffmpeg -hide_banner -loglevel error -y -i '" + path + "'" + fmt + " -f rawvideo '" + out + "'")
          .status != 0)
    return {};
  return ReadFile(out);
}

}  // namespace tooltest
