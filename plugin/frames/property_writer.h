#pragma once
// The clip's side of frame properties: learns once what the stream and the host offer, then puts
// the properties of each frame it makes on that frame through the host.
#include <cstdint>
#include <vector>

#include "avisynth.h"
#include <mfxvideo++.h>

#include "frame_properties.h"

namespace korvala {

class PropertyWriter {
 public:
  // After the decoder's Init: asks the runtime for the stream's signal description, takes the SPS
  // at the start of the (base-view) stream of an H.264 stream (null when it has none), asks each
  // surface for its picture's coding type, and learns whether the host keeps frame properties
  // (interface 8 and later).
  void Learn(MFXVideoSession& session, MFXVideoDECODE& decoder, const mfxVideoParam& header, const h264::Sps* sps,
             mfxFrameSurface1** surfaces, int numSurfaces, const VideoInfo& vi, IScriptEnvironment* env);

  // What the runtime reported about a decoded picture; to be read before its surface is reused.
  PictureFacts Picture(const mfxFrameSurface1& surface) const { return ReadPictureFacts(surface, stream_); }

  // Puts the properties on a frame just made (not yet shared) showing `picture`, the picture with
  // the number `pictureNumber` among its view's pictures in display order (-1 unknown); `picture`
  // is null for a blank frame. Does nothing on a host without frame properties.
  void Write(PVideoFrame& frame, const PictureFacts* picture, int64_t pictureNumber, IScriptEnvironment* env) const;

 private:
  bool hostKeepsProperties_ = false;
  StreamFacts stream_;
  uint32_t fpsNum_ = 0, fpsDen_ = 0;
  std::vector<mfxExtDecodedFrameInfo> pictureReports_;  // one per surface, attached to it
  std::vector<mfxExtBuffer*> pictureReportLinks_;
};

}  // namespace korvala
