// Frames through the AviSynth host harness, exactly as AviSynth+ would call the plugin.
#include <optional>

#include "avs_host.h"
#include "frame_source.h"
#include "run.h"

#ifndef KORVALA_PLUGIN_PATH
#define KORVALA_PLUGIN_PATH "libkorvala.so"
#endif

namespace y4m {
namespace {

Plane ToPlane(const avshost::PlaneView& v) { return Plane{v.ptr, v.pitch, v.rowSize, v.height}; }

// An integer property, or `absent`.
int64_t Int(const avshost::Properties& properties, const char* key, int64_t absent) {
  const auto it = properties.find(key);
  return it != properties.end() && it->second.type == PROPTYPE_INT && it->second.ints.size() == 1 ? it->second.ints[0]
                                                                                                 : absent;
}

class KorvalaSource : public FrameSource {
 public:
  KorvalaSource(const std::string& plugin, const std::string& avc, const std::string& mvc, int numFrames,
                int viewId) {
    try {
      host_.LoadPlugin(plugin);
      clip_.emplace(host_.Invoke("Korvala", {avc, mvc, numFrames, viewId}));
    } catch (const avshost::ScriptError& e) {
      throw SourceError(e.what());  // the plugin's own message
    } catch (const avshost::HostError& e) {
      throw SourceError(std::string("korvala-y4m: ") + e.what());
    }
    vi_ = clip_->GetVideoInfo();
    if (vi_.pixel_type != VideoInfo::CS_YV12 && vi_.pixel_type != VideoInfo::CS_YUV420P10)
      throw SourceError("korvala-y4m: the clip's pixel type is neither YV12 nor YUV420P10");
    format_ = StreamFormat{vi_.width, vi_.height, vi_.fps_numerator, vi_.fps_denominator,
                           vi_.pixel_type == VideoInfo::CS_YUV420P10};
    // The header says what the first frame says of itself.
    if (vi_.num_frames > 0) {
      const avshost::Properties properties = Fetch(0).GetProperties();
      format_.sarNum = Int(properties, "_SARNum", 0);
      format_.sarDen = Int(properties, "_SARDen", 0);
      const int64_t fieldBased = Int(properties, "_FieldBased", -1);
      format_.interlacing = fieldBased == 0 ? 'p' : fieldBased == 1 ? 'b' : fieldBased == 2 ? 't' : '?';
      format_.colorRange = static_cast<int>(Int(properties, "_ColorRange", -1));
    }
  }
  ~KorvalaSource() override {
    frame_ = avshost::Frame();
    clip_.reset();  // before the host goes
  }

  StreamFormat Format() const override { return format_; }
  int NumFrames() const override { return vi_.num_frames; }

  void GetFrame(int n, Plane& y, Plane& u, Plane& v) override {
    frame_ = Fetch(n);
    y = ToPlane(frame_.Plane(PLANAR_Y));
    u = ToPlane(frame_.Plane(PLANAR_U));
    v = ToPlane(frame_.Plane(PLANAR_V));
  }

 private:
  avshost::Frame Fetch(int n) {
    try {
      return clip_->GetFrame(n);
    } catch (const avshost::ScriptError& e) {
      throw SourceError(e.what());
    } catch (const avshost::HostError& e) {
      throw SourceError(std::string("korvala-y4m: ") + e.what());
    }
  }

  avshost::Host host_;
  std::optional<avshost::Clip> clip_;
  avshost::Frame frame_;
  VideoInfo vi_{};
  StreamFormat format_;
};

}  // namespace

std::unique_ptr<FrameSource> OpenKorvala(const std::string& plugin, const std::string& avc,
                                         const std::string& mvc, int numFrames, int viewId) {
  return std::make_unique<KorvalaSource>(plugin, avc, mvc, numFrames, viewId);
}

SourceFactory KorvalaFactory() {
  return [](const Options& o, int numFrames) {
    return OpenKorvala(o.plugin.empty() ? std::string(KORVALA_PLUGIN_PATH) : o.plugin, o.avc, o.mvc, numFrames,
                       o.view);
  };
}

}  // namespace y4m
