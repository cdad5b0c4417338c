#pragma once
// Frames of the AviSynth+ C++ interface for the core: made by the host's NewVideoFrame, their
// properties put on them through the host (interface 8 and later).
#include "avisynth.h"

#include "host_frame.h"

namespace korvala::avs {

// A host keeps frame properties from interface 8 on; an older one has no property calls.
bool HostKeepsProperties(IScriptEnvironment* env);

class Frame final : public HostFrame {
 public:
  Frame(PVideoFrame frame, IScriptEnvironment* env, bool properties)
      : frame_(std::move(frame)), env_(env), properties_(properties) {}
  uint8_t* Plane(int plane) override { return frame_->GetWritePtr(kPlanes[plane]); }
  int Pitch(int plane) const override { return frame_->GetPitch(kPlanes[plane]); }
  void Describe(const FrameProperties& properties) override;
  const PVideoFrame& Get() const { return frame_; }

 private:
  static constexpr int kPlanes[3] = {PLANAR_Y, PLANAR_U, PLANAR_V};
  PVideoFrame frame_;
  IScriptEnvironment* env_;  // the caller's, for the one Describe right after the frame is made
  bool properties_;
};

class FrameMaker final : public korvala::FrameMaker {
 public:
  FrameMaker(IScriptEnvironment* env, const VideoInfo& vi, bool properties)
      : env_(env), vi_(vi), properties_(properties) {}
  FramePtr NewFrame() override { return std::make_shared<Frame>(env_->NewVideoFrame(vi_, 64), env_, properties_); }

 private:
  IScriptEnvironment* env_;
  const VideoInfo& vi_;
  bool properties_;
};

}  // namespace korvala::avs
