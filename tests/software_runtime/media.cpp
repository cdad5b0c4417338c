#include "media.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>

extern "C" {
#include <libavutil/md5.h>
}

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
  // Written under a temporary name first, so an interrupted run leaves no half file behind.
  const std::string part = path + ".part";
  std::string format;
  const std::string::size_type dot = name.rfind('.');
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (ext == "hevc" || ext == "265") format = "hevc";
  else if (ext == "m2v") format = "mpeg2video";
  else format = "h264";
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=" + size +
                              ":rate=25 -frames:v " + std::to_string(frames) + " " + options + " -f " + format +
                              " '" + part + "' && mv '" + part + "' '" + path + "'";
  if (Run(command) != 0) return "";
  return path;
}

bool FfmpegDecode(const std::string& path, const std::string& pixFmt, std::vector<std::uint8_t>& out,
                  const std::string& inputOptions) {
  const std::string raw = path + "." + pixFmt + ".yuv";
  if (!Exists(raw)) {
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + inputOptions + " -i '" + path +
                                "' -fps_mode passthrough -f rawvideo -pix_fmt " + pixFmt + " '" + raw + ".part' && mv '" +
                                raw + ".part' '" + raw + "'";
    if (Run(command) != 0) return false;
  }
  return ReadFile(raw, out);
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::string Md5(const std::vector<std::uint8_t>& data) {
  std::array<std::uint8_t, 16> digest{};
  av_md5_sum(digest.data(), data.data(), data.size());
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (std::uint8_t b : digest) {
    s += hex[b >> 4];
    s += hex[b & 15];
  }
  return s;
}

std::string SharedMedia(const std::string& name) {
  const std::string path = std::string(KORVALA_SHARED_DIR) + "/media/" + name;
  return Exists(path) ? path : "";
}

}  // namespace swrt_test
