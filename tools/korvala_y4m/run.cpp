#include "run.h"

#include <cerrno>
#include <chrono>
#include <cstring>


namespace y4m {

int Run(const Options& o, const SourceFactory& open, int outFd, std::FILE* err, bool progress) {
  // auto: NumFrames 0, for which the plugin counts the stream's frames itself.
  const int frames = o.framesAuto ? 0 : o.frames;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  Clock::time_point shown = start;
  int written = 0;
  try {
    std::unique_ptr<FrameSource> source = open(o, frames);
    const int total = source->NumFrames();
    if (o.framesAuto && total == 0) {
      std::fprintf(err, "korvala-y4m: --frames auto counted no frames in %s; give --frames N\n", o.avc.c_str());
      return 1;
    }
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
