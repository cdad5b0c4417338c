#pragma once
// The core's side of frame properties: learns once what the stream offers, then tells the
// properties of each frame it makes as plain values, for the front end to put on its frame.
#include <cstdint>
#include <vector>

#include <mfxvideo++.h>

#include "frame_properties.h"

namespace korvala {

class PropertySource {
 public:
  // After the decoder's Init: asks the runtime for the stream's signal description, takes the SPS
  // at the start of the (base-view) stream of an H.264 stream (null when it has none), and asks
  // each surface for its picture's coding type. fpsNum/fpsDen: the clip's rate.
  void Learn(MFXVideoSession& session, MFXVideoDECODE& decoder, const mfxVideoParam& header, const h264::Sps* sps,
             mfxFrameSurface1** surfaces, int numSurfaces, uint32_t fpsNum, uint32_t fpsDen);

  // What the runtime reported about a decoded picture; to be read before its surface is reused.
  PictureFacts Picture(const mfxFrameSurface1& surface) const { return ReadPictureFacts(surface, stream_); }

  // The properties of a frame showing `picture`, the picture with the number `pictureNumber`
  // among its view's pictures in display order (-1 unknown); `picture` is null for a blank frame.
  FrameProperties Describe(const PictureFacts* picture, int64_t pictureNumber) const {
    return DescribeFrame(stream_, picture, fpsNum_, fpsDen_, pictureNumber);
  }

 private:
  StreamFacts stream_;
  uint32_t fpsNum_ = 0, fpsDen_ = 0;
  std::vector<mfxExtDecodedFrameInfo> pictureReports_;  // one per surface, attached to it
  std::vector<mfxExtBuffer*> pictureReportLinks_;
};

}  // namespace korvala
