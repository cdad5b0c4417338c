// Frames straight from the decoding core, as the plugin serves them to a host.
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "aligned_buffer.h"
#include "clip.h"
#include "frame_source.h"
#include "index_display.h"
#include "index_progress.h"
#include "run.h"

namespace y4m {
namespace {

// A frame in our own memory: rows 64-byte aligned, its properties kept beside it.
class MemoryFrame final : public korvala::HostFrame {
 public:
  explicit MemoryFrame(const korvala::ClipFormat& f) {
    const int bytes = f.tenBit ? 2 : 1;
    for (int p = 0; p < 3; ++p) {
      rowSize_[p] = (p ? f.width >> 1 : f.width) * bytes;
      height_[p] = p ? f.height >> 1 : f.height;
      pitch_[p] = (rowSize_[p] + 63) & ~63;
      planes_[p] = korvala::AllocateAligned(static_cast<size_t>(pitch_[p]) * height_[p], 64);
      if (!planes_[p]) throw SourceError("korvala-y4m: out of memory");
    }
  }
  uint8_t* Plane(int plane) override { return planes_[plane].get(); }
  int Pitch(int plane) const override { return pitch_[plane]; }
  void Describe(const korvala::FrameProperties& p) override { properties_ = p; }

  y4m::Plane View(int plane) const { return y4m::Plane{planes_[plane].get(), pitch_[plane], rowSize_[plane], height_[plane]}; }
  const korvala::FrameProperties& Properties() const { return properties_; }

 private:
  korvala::AlignedBytes planes_[3];
  int pitch_[3] = {}, rowSize_[3] = {}, height_[3] = {};
  korvala::FrameProperties properties_;
};

class Maker final : public korvala::FrameMaker {
 public:
  explicit Maker(const korvala::ClipFormat& format) : format_(format) {}
  korvala::FramePtr NewFrame() override { return std::make_shared<MemoryFrame>(format_); }

 private:
  const korvala::ClipFormat& format_;
};

// The index's scan on a terminal: a bar redrawn in place at most ten times a second, ended
// by a newline so that what follows starts on its own line.
class IndexDisplay final : public korvala::IndexProgress {
 public:
  IndexDisplay(std::FILE* to, std::string name) : to_(to), name_(std::move(name)) {}

  void Scanned(uint64_t done, uint64_t total) override {
    const Clock::time_point now = Clock::now();
    last_ = done;
    total_ = total;
    if (!started_) {
      started_ = true;
      start_ = now;
    } else if (now - shown_ < std::chrono::milliseconds(100)) {
      return;
    }
    Draw(done, total, now);
  }
  void ScanDone() override {
    if (!started_ || !to_) return;
    Draw(last_, total_, Clock::now());
    std::fputc('\n', to_);
    std::fflush(to_);
    started_ = false;
  }
  void Loaded() override { loaded_ = true; }
  void Stored(bool kept) override { stored_ = kept ? 1 : 0; }

  bool WasLoaded() const { return loaded_; }
  int WasStored() const { return stored_; }  // -1 not asked (nothing to keep)

 private:
  using Clock = std::chrono::steady_clock;
  void Draw(uint64_t done, uint64_t total, Clock::time_point now) {
    if (!to_) return;
    shown_ = now;
    const std::string line =
        "korvala-y4m: " + IndexProgressLine(name_, done, total, std::chrono::duration<double>(now - start_).count());
    // Spaces over what a longer line before left.
    const size_t pad = width_ > line.size() ? width_ - line.size() : 0;
    width_ = line.size();
    std::fprintf(to_, "\r%s%s", line.c_str(), std::string(pad, ' ').c_str());
    std::fflush(to_);
  }

  std::FILE* to_;
  std::string name_;
  bool started_ = false, loaded_ = false;
  int stored_ = -1;
  Clock::time_point start_, shown_;
  uint64_t last_ = 0, total_ = 0;
  size_t width_ = 0;
};

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class CoreSource : public FrameSource {
 public:
  CoreSource(const std::string& avc, const std::string& mvc, int numFrames, int viewId, std::FILE* progress)
      : display_(progress, BaseName(avc)) {
    try {
      core_.emplace(avc.c_str(), mvc.c_str(), numFrames, viewId, korvala::DetectPixelPaths(), &display_);
    } catch (const korvala::SourceError& e) {
      throw SourceError(e.what());
    }
    const korvala::ClipFormat& f = core_->Format();
    format_ = StreamFormat{f.width, f.height, f.fpsNum, f.fpsDen, f.tenBit};
    // The header says what the first frame says of itself.
    if (f.numFrames > 0) {
      const korvala::FrameProperties& p = Fetch(0).Properties();
      format_.sarNum = p.sarNum;
      format_.sarDen = p.sarDen;
      format_.interlacing = p.fieldBased == 0 ? 'p' : p.fieldBased == 1 ? 'b' : p.fieldBased == 2 ? 't' : '?';
      format_.colorRange = p.colorRange;
    }
  }

  StreamFormat Format() const override { return format_; }
  const IndexDisplay& Display() const { return display_; }
  int NumFrames() const override { return core_->Format().numFrames; }

  void GetFrame(int n, Plane& y, Plane& u, Plane& v) override {
    const MemoryFrame& frame = Fetch(n);
    y = frame.View(0);
    u = frame.View(1);
    v = frame.View(2);
  }

 private:
  const MemoryFrame& Fetch(int n) {
    Maker maker(core_->Format());
    try {
      frame_ = core_->GetFrame(n, maker);
    } catch (const korvala::SourceError& e) {
      throw SourceError(e.what());
    }
    return static_cast<const MemoryFrame&>(*frame_);
  }

  IndexDisplay display_;  // outlives the core, which tells it of later scans too
  std::optional<Korvala> core_;
  korvala::FramePtr frame_;  // the one last served
  StreamFormat format_;
};

}  // namespace

std::unique_ptr<FrameSource> OpenKorvala(const std::string& avc, const std::string& mvc, int numFrames, int viewId,
                                         std::FILE* progress) {
  return std::make_unique<CoreSource>(avc, mvc, numFrames, viewId, progress);
}

SourceFactory KorvalaFactory(std::FILE* progress) {
  return [progress](const Options& o, int numFrames) { return OpenKorvala(o.avc, o.mvc, numFrames, o.view, progress); };
}

int IndexInputs(const Options& o, std::FILE* err, bool terminal) {
  std::vector<std::pair<std::string, std::string>> inputs;
  for (const std::string& f : o.indexFiles) inputs.emplace_back(f, "");
  if (!o.avc.empty()) inputs.emplace_back(o.avc, o.mvc);
  int status = 0;
  for (const auto& input : inputs) {
    const std::string name = input.second.empty() ? input.first : input.first + " + " + input.second;
    try {
      // Counting the frames finishes the index, which keeps it.
      CoreSource source(input.first, input.second, 0, 0, terminal ? err : nullptr);
      const IndexDisplay& d = source.Display();
      const char* what = d.WasLoaded()          ? "index kept already"
                         : d.WasStored() == 1   ? "index kept"
                         : d.WasStored() == 0   ? "index built, but the cache folder can't keep it"
                                                : "nothing to keep (read as it comes, or a playlist)";
      std::fprintf(err, "korvala-y4m: %s: %d frames, %s\n", name.c_str(), source.NumFrames(), what);
      if (d.WasStored() == 0) status = 1;
    } catch (const SourceError& e) {
      std::fprintf(err, "korvala-y4m: %s: %s\n", name.c_str(), e.what());
      status = 1;
    }
  }
  return status;
}

}  // namespace y4m
