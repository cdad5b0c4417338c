// Test streams made at test time with Debian's ffmpeg, and ffmpeg's own decode of them as the
// reference. Both are kept in the build tree, so each is made once per build.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace swrt_test {

// Encodes `frames` frames of a moving test pattern: `size` like "1920x1080", `encoder` plus
// extra ffmpeg output options; the name's extension picks the format (.h264, .hevc, .m2v, or a
// container: .ts, .mkv). Returns the path, or "" when ffmpeg failed (a test then fails).
std::string MakeStream(const std::string& name, const std::string& size, int frames, const std::string& options);

// ffmpeg's decode of a file to raw planar video (pixFmt "yuv420p" or "yuv420p10le"), every
// picture kept (no frame-rate conversion), cached under ReferencePath.
bool FfmpegDecode(const std::string& path, const std::string& pixFmt, std::vector<std::uint8_t>& out,
                  const std::string& inputOptions = "");

std::string ReferencePath(const std::string& path, const std::string& pixFmt, const std::string& inputOptions);

// Best of three rounds, in seconds, of ffmpeg decoding `path` to rawvideo (libavcodec's automatic
// thread count) and of `pull`; a negative ffmpeg time when ffmpeg failed.
struct Timings {
  double ffmpeg = 1e9, pull = 1e9;
};
Timings TimeAgainstFfmpeg(const std::string& path, const std::function<void()>& pull);

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& out);
std::string Md5(const std::vector<std::uint8_t>& data);
std::string SharedMedia(const std::string& name);  // "" when the shared folder lacks it
std::string BuildDir();

}  // namespace swrt_test
