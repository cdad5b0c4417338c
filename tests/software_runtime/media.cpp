#include "media.h"

#include <sys/stat.h>
#include <sys/wait.h>

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
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + inputOptions + " -i '" + path +
                                "' -fps_mode passthrough -f rawvideo -pix_fmt " + pixFmt + " '" + raw + ".part' && mv '" +
                                raw + ".part' '" + raw + "'";
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

// MD5 (RFC 1321) of our own: libavutil would load the Media SDK dispatcher into the test
// process (Debian's FFmpeg links it), ahead of the plugin that should load it.
std::string Md5(const std::vector<std::uint8_t>& data) {
  static const std::uint32_t k[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
      0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
      0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
      0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
      0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
      0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
      0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
  static const int r[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  std::vector<std::uint8_t> msg(data);
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  msg.push_back(0x80);
  while (msg.size() % 64 != 56) msg.push_back(0);
  for (int i = 0; i < 8; ++i) msg.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  for (std::size_t off = 0; off < msg.size(); off += 64) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i)
      w[i] = msg[off + 4 * i] | (msg[off + 4 * i + 1] << 8) | (msg[off + 4 * i + 2] << 16) |
             (static_cast<std::uint32_t>(msg[off + 4 * i + 3]) << 24);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
      std::uint32_t f;
      int g;
      if (i < 16) { f = (b & c) | (~b & d); g = i; }
      else if (i < 32) { f = (d & b) | (~d & c); g = (5 * i + 1) % 16; }
      else if (i < 48) { f = b ^ c ^ d; g = (3 * i + 5) % 16; }
      else { f = c ^ (b | ~d); g = (7 * i) % 16; }
      const std::uint32_t t = d;
      d = c;
      c = b;
      const std::uint32_t x = a + f + k[i] + w[g];
      b = b + ((x << r[i]) | (x >> (32 - r[i])));
      a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
  }
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (std::uint32_t v : h)
    for (int i = 0; i < 4; ++i) {
      const std::uint8_t byte = static_cast<std::uint8_t>(v >> (8 * i));
      s += hex[byte >> 4];
      s += hex[byte & 15];
    }
  return s;
}

std::string SharedMedia(const std::string& name) {
  const std::string path = std::string(KORVALA_SHARED_DIR) + "/media/" + name;
  return Exists(path) ? path : "";
}

}  // namespace swrt_test
