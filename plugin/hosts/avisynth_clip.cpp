#include "avisynth_clip.h"

#include "avisynth_frame.h"

namespace korvala::avs {
namespace {

PixelPaths PathsOf(IScriptEnvironment* env) {
  const int flags = env->GetCPUFlags();
  return PixelPaths{(flags & CPUF_SSE2) != 0, (flags & CPUF_SSSE3) != 0, (flags & CPUF_AVX2) != 0};
}

VideoInfo InfoOf(const ClipFormat& f) {
  VideoInfo vi{};
  vi.width = f.width;
  vi.height = f.height;
  vi.pixel_type = f.tenBit ? VideoInfo::CS_YUV420P10 : VideoInfo::CS_YV12;
  vi.fps_numerator = f.fpsNum;
  vi.fps_denominator = f.fpsDen;
  vi.num_frames = f.numFrames;
  return vi;
}

}  // namespace

Clip::Clip(const char* sourceFileAVC, const char* sourceFileMVC, int numFrames, int viewId, IScriptEnvironment* env) {
  try {
    core_.emplace(sourceFileAVC, sourceFileMVC, numFrames, viewId, PathsOf(env));
  } catch (const SourceError& e) {
    env->ThrowError("%s", e.what());
  }
  vi_ = InfoOf(core_->Format());
  properties_ = HostKeepsProperties(env);
}

PVideoFrame __stdcall Clip::GetFrame(int n, IScriptEnvironment* env) {
  FrameMaker maker(env, vi_, properties_);
  try {
    return static_cast<Frame&>(*core_->GetFrame(n, maker)).Get();
  } catch (const SourceError& e) {
    env->ThrowError("%s", e.what());
  }
  return PVideoFrame();
}

}  // namespace korvala::avs
