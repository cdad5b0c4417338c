#include "property_writer.h"

#include <cstdio>

namespace korvala {
namespace {

constexpr int kPropertiesInterface = 8;
constexpr mfxU16 kDecodedFrameInfoMinor = 19;  // the API that brought mfxExtDecodedFrameInfo

// A host before interface 8 has no property calls in its table, so none may be made there: its
// own version check says which it is, raising its error on an older host.
bool HostKeepsProperties(IScriptEnvironment* env) {
  try {
    env->CheckVersion(kPropertiesInterface);
    return true;
  } catch (...) {
    return false;
  }
}

// One buffer per call: a runtime that refuses one kind still answers the other. A refused
// buffer is left as it was, marked unanswered.
template <class Buffer>
void AskRuntime(MFXVideoDECODE& decoder, const mfxVideoParam& header, Buffer& buffer) {
  const Buffer unanswered = buffer;
  mfxVideoParam par = header;
  mfxExtBuffer* list[] = {&buffer.Header};
  par.ExtParam = list;
  par.NumExtParam = 1;
  if (decoder.GetVideoParam(&par) < MFX_ERR_NONE) buffer = unanswered;
}

}  // namespace

void PropertyWriter::Learn(MFXVideoSession& session, MFXVideoDECODE& decoder, const mfxVideoParam& header,
                           const h264::Sps* sps, mfxFrameSurface1** surfaces, int numSurfaces,
                           const VideoInfo& vi, IScriptEnvironment* env) {
  hostKeepsProperties_ = HostKeepsProperties(env);
  fpsNum_ = vi.fps_numerator;
  fpsDen_ = vi.fps_denominator;

  mfxExtVideoSignalInfo signal;
  mfxExtChromaLocInfo location;
  MarkUnanswered(signal, location);
  AskRuntime(decoder, header, signal);
  AskRuntime(decoder, header, location);
  stream_ = ReadStreamFacts(header.mfx.FrameInfo, signal, location, header.mfx.CodecId == MFX_CODEC_AVC ? sps : nullptr);

  // An older runtime may refuse surfaces carrying a buffer it doesn't know.
  mfxVersion api{};
  if (session.QueryVersion(&api) != MFX_ERR_NONE || (api.Major == 1 && api.Minor < kDecodedFrameInfoMinor)) return;
  pictureReports_.assign(static_cast<size_t>(numSurfaces), mfxExtDecodedFrameInfo{});
  pictureReportLinks_.assign(static_cast<size_t>(numSurfaces), nullptr);
  for (int i = 0; i < numSurfaces; ++i) {
    mfxExtDecodedFrameInfo& report = pictureReports_[static_cast<size_t>(i)];
    report.Header.BufferId = MFX_EXTBUFF_DECODED_FRAME_INFO;
    report.Header.BufferSz = sizeof report;
    pictureReportLinks_[static_cast<size_t>(i)] = &report.Header;
    if (surfaces[i]->Data.NumExtParam != 0) continue;
    surfaces[i]->Data.ExtParam = &pictureReportLinks_[static_cast<size_t>(i)];
    surfaces[i]->Data.NumExtParam = 1;
  }
}

void PropertyWriter::Write(PVideoFrame& frame, const PictureFacts* picture, int64_t pictureNumber,
                           IScriptEnvironment* env) const {
  if (!hostKeepsProperties_ || !frame) return;
  const FrameProperties p = DescribeFrame(stream_, picture, fpsNum_, fpsDen_, pictureNumber);
  AVSMap* map = env->getFramePropsRW(frame);
  auto setInt = [&](const char* key, int64_t value) { env->propSetInt(map, key, value, PROPAPPENDMODE_REPLACE); };
  setInt("_Matrix", p.matrix);
  setInt("_Primaries", p.primaries);
  setInt("_Transfer", p.transfer);
  setInt("_ColorRange", p.colorRange);
  if (p.chromaLocation >= 0) setInt("_ChromaLocation", p.chromaLocation);
  if (p.sarNum && p.sarDen) {
    setInt("_SARNum", p.sarNum);
    setInt("_SARDen", p.sarDen);
  }
  if (p.fieldBased >= 0) setInt("_FieldBased", p.fieldBased);
  if (p.pictType) {
    const char type[2] = {p.pictType, '\0'};
    env->propSetData(map, "_PictType", type, 1, PROPAPPENDMODE_REPLACE);
  }
  if (p.durationNum && p.durationDen) {
    setInt("_DurationNum", p.durationNum);
    setInt("_DurationDen", p.durationDen);
  }
  if (p.hasAbsoluteTime) env->propSetFloat(map, "_AbsoluteTime", p.absoluteTime, PROPAPPENDMODE_REPLACE);
  if (p.view >= 0) setInt("KorvalaView", p.view);
}

}  // namespace korvala
