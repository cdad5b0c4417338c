#include "frame_properties.h"

#include <numeric>

#include "bits.h"

namespace korvala {
namespace {

constexpr mfxU16 kUnanswered = 0xFFFF;

// H.273 codes AviSynth+ knows; a reserved one is as good as unspecified.
int Matrix(uint32_t code) { return code <= 14 && code != 3 ? static_cast<int>(code) : 2; }
int Primaries(uint32_t code) { return (code >= 1 && code <= 12 && code != 3) || code == 22 ? static_cast<int>(code) : 2; }
int Transfer(uint32_t code) { return code >= 1 && code <= 18 && code != 3 ? static_cast<int>(code) : 2; }

void Reduce(int64_t& num, int64_t& den) {
  const int64_t g = std::gcd(num, den);
  if (g > 1) {
    num /= g;
    den /= g;
  }
}

}  // namespace

void MarkUnanswered(mfxExtVideoSignalInfo& signal, mfxExtChromaLocInfo& location) {
  signal = mfxExtVideoSignalInfo{};
  signal.Header.BufferId = MFX_EXTBUFF_VIDEO_SIGNAL_INFO;
  signal.Header.BufferSz = sizeof signal;
  signal.VideoFormat = kUnanswered;
  location = mfxExtChromaLocInfo{};
  location.Header.BufferId = MFX_EXTBUFF_CHROMA_LOC_INFO;
  location.Header.BufferSz = sizeof location;
  location.ChromaLocInfoPresentFlag = kUnanswered;
}

StreamFacts ReadStreamFacts(const mfxFrameInfo& header, const mfxExtVideoSignalInfo& signal,
                            const mfxExtChromaLocInfo& location, const h264::Sps* sps) {
  StreamFacts facts;
  if (signal.VideoFormat != kUnanswered) {
    facts.colorRange = signal.VideoFullRange ? 0 : 1;
    if (signal.ColourDescriptionPresent) {
      facts.matrix = Matrix(signal.MatrixCoefficients);
      facts.primaries = Primaries(signal.ColourPrimaries);
      facts.transfer = Transfer(signal.TransferCharacteristics);
    }
  } else if (sps) {
    facts.colorRange = sps->videoFullRange ? 0 : 1;
    facts.matrix = Matrix(sps->matrixCoefficients);
    facts.primaries = Primaries(sps->colourPrimaries);
    facts.transfer = Transfer(sps->transferCharacteristics);
  }

  if (location.ChromaLocInfoPresentFlag != kUnanswered) {
    if (location.ChromaLocInfoPresentFlag && location.ChromaSampleLocTypeTopField <= 5)
      facts.chromaLocation = location.ChromaSampleLocTypeTopField;
  } else if (sps && sps->chromaLocInfo) {
    facts.chromaLocation = static_cast<int>(sps->chromaLocTop);
  }

  // A runtime may answer 1:1 for an aspect the stream leaves unsaid: the SPS tells which it is.
  const uint32_t w = header.AspectRatioW, h = header.AspectRatioH;
  if (w && h && (w != h || !sps)) {
    facts.sarNum = w;
    facts.sarDen = h;
  } else if (sps) {
    facts.sarNum = sps->sarWidth && sps->sarHeight ? sps->sarWidth : 0;
    facts.sarDen = sps->sarWidth && sps->sarHeight ? sps->sarHeight : 0;
  }

  facts.progressive = sps ? sps->frameMbsOnly : header.PicStruct == MFX_PICSTRUCT_PROGRESSIVE;
  // Without timing in the SPS the runtime's rate is a stand-in: no picture has a time then.
  if (sps && sps->timingInfo && header.FrameRateExtN && header.FrameRateExtD) {
    facts.rateNum = header.FrameRateExtN;
    facts.rateDen = header.FrameRateExtD;
  }
  return facts;
}

PictureFacts ReadPictureFacts(const mfxFrameSurface1& surface, const StreamFacts& stream) {
  PictureFacts picture;
  picture.view = surface.Info.FrameId.ViewId == 0 ? 0 : 1;
  const mfxU16 structure = surface.Info.PicStruct;
  if (structure & MFX_PICSTRUCT_PROGRESSIVE)
    picture.fieldBased = 0;
  else if (structure & MFX_PICSTRUCT_FIELD_TFF)
    picture.fieldBased = 2;
  else if (structure & MFX_PICSTRUCT_FIELD_BFF)
    picture.fieldBased = 1;
  else if (stream.progressive)
    picture.fieldBased = 0;
  for (mfxU16 i = 0; surface.Data.ExtParam && i < surface.Data.NumExtParam; ++i) {
    const mfxExtBuffer* b = surface.Data.ExtParam[i];
    if (!b || b->BufferId != MFX_EXTBUFF_DECODED_FRAME_INFO || b->BufferSz < sizeof(mfxExtDecodedFrameInfo)) continue;
    // The low bits are the first field's type, the whole frame's for a frame picture.
    const mfxU16 type = reinterpret_cast<const mfxExtDecodedFrameInfo*>(b)->FrameType;
    picture.type = (type & MFX_FRAMETYPE_I) ? 'I' : (type & MFX_FRAMETYPE_P) ? 'P' : (type & MFX_FRAMETYPE_B) ? 'B' : 0;
  }
  return picture;
}

FrameProperties DescribeFrame(const StreamFacts& stream, const PictureFacts* picture, uint32_t fpsNum, uint32_t fpsDen,
                              int64_t pictureNumber) {
  FrameProperties p;
  p.matrix = stream.matrix;
  p.primaries = stream.primaries;
  p.transfer = stream.transfer;
  p.colorRange = stream.colorRange;
  p.chromaLocation = stream.chromaLocation;
  if (stream.sarNum && stream.sarDen) {
    p.sarNum = stream.sarNum;
    p.sarDen = stream.sarDen;
    Reduce(p.sarNum, p.sarDen);
  }
  if (fpsNum && fpsDen) {
    p.durationNum = fpsDen;
    p.durationDen = fpsNum;
    Reduce(p.durationNum, p.durationDen);
  }
  if (!picture) {
    p.fieldBased = 0;  // a blank frame has no fields of its own
    return p;
  }
  p.fieldBased = picture->fieldBased;
  p.pictType = picture->type;
  p.view = picture->view;
  // Both views of an access unit show the same instant.
  if (stream.rateNum && stream.rateDen && pictureNumber >= 0) {
    p.hasAbsoluteTime = true;
    p.absoluteTime = static_cast<double>(pictureNumber) * stream.rateDen / stream.rateNum;
  }
  return p;
}

void WriteProperties(const FrameProperties& p, PropertySink& sink) {
  sink.Int("_Matrix", p.matrix);
  sink.Int("_Primaries", p.primaries);
  sink.Int("_Transfer", p.transfer);
  sink.Int("_ColorRange", p.colorRange);
  if (p.chromaLocation >= 0) sink.Int("_ChromaLocation", p.chromaLocation);
  if (p.sarNum && p.sarDen) {
    sink.Int("_SARNum", p.sarNum);
    sink.Int("_SARDen", p.sarDen);
  }
  if (p.fieldBased >= 0) sink.Int("_FieldBased", p.fieldBased);
  if (p.pictType) {
    const char type[2] = {p.pictType, '\0'};
    sink.Text("_PictType", type, 1);
  }
  if (p.durationNum && p.durationDen) {
    sink.Int("_DurationNum", p.durationNum);
    sink.Int("_DurationDen", p.durationDen);
  }
  if (p.hasAbsoluteTime) sink.Float("_AbsoluteTime", p.absoluteTime);
  if (p.view >= 0) sink.Int("KorvalaView", p.view);
}

}  // namespace korvala
