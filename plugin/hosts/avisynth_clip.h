#pragma once
// The clip of the AviSynth+ C++ interface: turns the host's calls into the core's and the core's
// errors into ThrowError.
#include <optional>

#include "avisynth.h"

#include "clip.h"

namespace korvala::avs {

class Clip final : public IClip {
 public:
  Clip(const char* sourceFileAVC, const char* sourceFileMVC, int numFrames, int viewId, IScriptEnvironment* env);

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override;
  bool __stdcall GetParity(int) override { return false; }
  void __stdcall GetAudio(void*, int64_t, int64_t, IScriptEnvironment*) override {}
  // One decoder can serve one caller at a time: AviSynth+ then never enters the clip from two
  // threads at once. Every other hint is left to the host.
  int __stdcall SetCacheHints(int cachehints, int) override {
    return cachehints == CACHE_GET_MTMODE ? MT_SERIALIZED : 0;
  }
  const VideoInfo& __stdcall GetVideoInfo() override { return vi_; }

 private:
  std::optional<Korvala> core_;
  VideoInfo vi_{};
  bool properties_ = false;
};

}  // namespace korvala::avs
