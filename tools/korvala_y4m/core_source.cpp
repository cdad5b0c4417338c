// Frames straight from the decoding core, as the plugin serves them to a host.
#include <optional>

#include "aligned_buffer.h"
#include "clip.h"
#include "frame_source.h"
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

class CoreSource : public FrameSource {
 public:
  CoreSource(const std::string& avc, const std::string& mvc, int numFrames, int viewId) {
    try {
      core_.emplace(avc.c_str(), mvc.c_str(), numFrames, viewId, korvala::DetectPixelPaths());
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

  std::optional<Korvala> core_;
  korvala::FramePtr frame_;  // the one last served
  StreamFormat format_;
};

}  // namespace

std::unique_ptr<FrameSource> OpenKorvala(const std::string& avc, const std::string& mvc, int numFrames, int viewId) {
  return std::make_unique<CoreSource>(avc, mvc, numFrames, viewId);
}

SourceFactory KorvalaFactory() {
  return [](const Options& o, int numFrames) { return OpenKorvala(o.avc, o.mvc, numFrames, o.view); };
}

}  // namespace y4m
