#include "property_source.h"

namespace korvala {
namespace {

constexpr mfxU16 kDecodedFrameInfoMinor = 19;  // the API that brought mfxExtDecodedFrameInfo

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

void PropertySource::Learn(MFXVideoSession& session, MFXVideoDECODE& decoder, const mfxVideoParam& header,
                           const h264::Sps* sps, mfxFrameSurface1** surfaces, int numSurfaces, uint32_t fpsNum,
                           uint32_t fpsDen) {
  fpsNum_ = fpsNum;
  fpsDen_ = fpsDen;

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

}  // namespace korvala
