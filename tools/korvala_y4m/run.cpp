#include "run.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "access_units.h"

namespace y4m {

bool ResolveFrames(const Options& o, int& frames, std::string& error) {
  if (!o.framesAuto) {
    frames = o.frames;
    return true;
  }
  uint64_t count = 0;
  if (!CountFileAccessUnits(o.avc, count)) {
    error = "can't read " + o.avc + ": " + std::strerror(errno);
    return false;
  }
  if (count == 0) {
    error = "--frames auto found no access unit delimiters in " + o.avc + "; give --frames N";
    return false;
  }
  if (count > 0x3FFFFFFF) {
    error = "--frames auto counted more access units than a clip can hold";
    return false;
  }
  frames = static_cast<int>(count);
  return true;
}

int Run(const Options& o, const SourceFactory& open, int outFd, std::FILE* err, bool progress) {
  int frames = 0;
  std::string error;
  if (!ResolveFrames(o, frames, error)) {
    std::fprintf(err, "korvala-y4m: %s\n", error.c_str());
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  Clock::time_point shown = start;
  int written = 0;
  try {
    std::unique_ptr<FrameSource> source = open(o, frames);
    const int total = source->NumFrames();
    FrameWriter writer(outFd);
    auto writeFailed = [&]() {
      std::fprintf(err, "%skorvala-y4m: write failed after %d frames: %s\n", progress ? "\n" : "", written,
                   std::strerror(errno));
      return 1;
    };
    if (!writer.WriteHeader(source->Format())) return writeFailed();
    Plane y, u, v;
    for (int n = 0; n < total; ++n) {
      source->GetFrame(n, y, u, v);
      if (!writer.WriteFrame(y, u, v)) return writeFailed();
      written = n + 1;
      if (progress) {
        Clock::time_point now = Clock::now();
        if (now - shown >= std::chrono::milliseconds(250) || written == total) {
          double secs = std::chrono::duration<double>(now - start).count();
          std::fprintf(err, "\rkorvala-y4m: frame %d/%d, %.1f frames/s", written, total,
                       secs > 0 ? written / secs : 0.0);
          std::fflush(err);
          shown = now;
        }
      }
    }
    if (progress && total > 0) std::fputc('\n', err);
  } catch (const SourceError& e) {
    std::fprintf(err, "%s%s\n", progress && written > 0 ? "\n" : "", e.what());
    return 1;
  }
  return 0;
}

}  // namespace y4m
