#include "media.h"

#include "md5.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>


namespace swrt_test {

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

int Run(const std::string& command) {
  int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace

std::string BuildDir() {
  std::string dir = std::string(KORVALA_BINARY_DIR) + "/swrt-media";
  ::mkdir(dir.c_str(), 0755);
  return dir;
}

std::string MakeStream(const std::string& name, const std::string& size, int frames, const std::string& options) {
  const std::string path = BuildDir() + "/" + name;
  if (Exists(path)) return path;
  // Written under a temporary name of this process first, so an interrupted run leaves no half
  // file behind and two tests that make the same stream side by side don't write one file.
  const std::string part = path + "." + std::to_string(::getpid()) + ".part";
  std::string format;
  const std::string::size_type dot = name.rfind('.');
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (ext == "hevc" || ext == "265") format = "hevc";
  else if (ext == "m2v") format = "mpeg2video";
  else if (ext == "ts") format = "mpegts";
  else if (ext == "mkv") format = "matroska";
  else format = "h264";
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=" + size +
                              ":rate=25 -frames:v " + std::to_string(frames) + " " + options + " -f " + format +
                              " '" + part + "' && mv '" + part + "' '" + path + "'";
  if (Run(command) != 0) return "";
  return path;
}

// Where ffmpeg's decode of a file is kept: in the build tree, never beside the input (the shared
// media folder may be read-only), under a name that tells inputs and their options apart.
std::string ReferencePath(const std::string& path, const std::string& pixFmt, const std::string& inputOptions) {
  std::uint64_t hash = 14695981039346656037u;  // FNV-1a
  for (char c : path + '\n' + inputOptions) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  char tag[17];
  std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(hash));
  const std::string::size_type slash = path.rfind('/');
  const std::string dir = BuildDir() + "/reference";
  ::mkdir(dir.c_str(), 0755);
  return dir + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1) + "-" + tag + "." + pixFmt + ".yuv";
}

bool FfmpegDecode(const std::string& path, const std::string& pixFmt, std::vector<std::uint8_t>& out,
                  const std::string& inputOptions) {
  const std::string raw = ReferencePath(path, pixFmt, inputOptions);
  if (!Exists(raw)) {
    const std::string part = raw + "." + std::to_string(::getpid()) + ".part";
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + inputOptions + " -i '" + path +
                                "' -fps_mode passthrough -f rawvideo -pix_fmt " + pixFmt + " '" + part + "' && mv '" +
                                part + "' '" + raw + "'";
    if (Run(command) != 0) return false;
  }
  return ReadFile(raw, out);
}

Timings TimeAgainstFfmpeg(const std::string& path, const std::function<void()>& pull) {
  auto seconds = [](std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
  };
  Timings best;
  for (int round = 0; round < 3; ++round) {
    auto start = std::chrono::steady_clock::now();
    if (Run("ffmpeg -nostdin -hide_banner -loglevel error -threads 0 -i '" + path +
            "' -fps_mode passthrough -f rawvideo -pix_fmt yuv420p -y /dev/null") != 0) {
      best.ffmpeg = -1;
      return best;
    }
    best.ffmpeg = std::min(best.ffmpeg, seconds(start));
    start = std::chrono::steady_clock::now();
    pull();
    best.pull = std::min(best.pull, seconds(start));
  }
  return best;
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::string Md5(const std::vector<std::uint8_t>& data) {
  avsplus_host::Md5 md5;
  md5.Update(data.data(), data.size());
  return md5.HexDigest();
}

std::string SharedMedia(const std::string& name) {
  const std::string path = std::string(KORVALA_SHARED_DIR) + "/media/" + name;
  return Exists(path) ? path : "";
}

}  // namespace swrt_test
