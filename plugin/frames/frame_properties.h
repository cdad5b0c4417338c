#pragma once
// What a frame says about itself beyond its pixels, as AviSynth+ frame properties: colour, aspect,
// field order, picture type, duration and view. Pure rules over what the Media SDK runtime reported
// and the stream's own SPS; putting them on a host frame is property_writer's job.
#include <cstddef>
#include <cstdint>
#include <mfxstructures.h>

#include "parameter_sets.h"

namespace korvala {

// What holds for every picture of the stream.
struct StreamFacts {
  int matrix = 2;  // H.273 codes; 2: unspecified
  int primaries = 2;
  int transfer = 2;
  int colorRange = 1;       // 0 full, 1 limited
  int chromaLocation = -1;  // -1: the stream doesn't say
  uint32_t sarNum = 0, sarDen = 0;  // 0: unknown
  bool progressive = false;  // every picture is a frame (frame_mbs_only)
  // The stream's own picture rate, when its timing gives one (0 otherwise).
  uint32_t rateNum = 0, rateDen = 0;
};

// A runtime that fills these buffers overwrites the marks set here, so an untouched buffer is
// told apart from one that reports "nothing signalled".
void MarkUnanswered(mfxExtVideoSignalInfo& signal, mfxExtChromaLocInfo& location);

// The stream's facts from the runtime's header answers (`header` from DecodeHeader, the two
// buffers after GetVideoParam), and from the SPS (null when there is none) where the runtime
// reported nothing.
StreamFacts ReadStreamFacts(const mfxFrameInfo& header, const mfxExtVideoSignalInfo& signal,
                            const mfxExtChromaLocInfo& location, const h264::Sps* sps);

// What the runtime said about one decoded picture.
struct PictureFacts {
  int view = 0;          // 0 base, 1 dependent
  int fieldBased = -1;   // 0 progressive, 1 bottom field first, 2 top field first; -1 unknown
  char type = 0;         // 'I', 'P' or 'B'; 0 unknown
};
PictureFacts ReadPictureFacts(const mfxFrameSurface1& surface, const StreamFacts& stream);

struct FrameProperties {
  int matrix = 2, primaries = 2, transfer = 2, colorRange = 1;
  int chromaLocation = -1;           // -1: left out
  int64_t sarNum = 0, sarDen = 0;    // 0: left out
  int fieldBased = -1;               // -1: left out
  char pictType = 0;                 // 0: left out
  int64_t durationNum = 0, durationDen = 0;  // 0: left out
  bool hasAbsoluteTime = false;
  double absoluteTime = 0;           // seconds
  int view = -1;                     // -1: left out
};

// A frame of a clip of rate fpsNum/fpsDen showing `picture`, the picture with the number
// `pictureNumber` among its view's pictures in display order (-1 unknown). A frame with no
// picture (blank) has `picture` null and carries only what holds for the whole stream.
FrameProperties DescribeFrame(const StreamFacts& stream, const PictureFacts* picture, uint32_t fpsNum, uint32_t fpsDen,
                              int64_t pictureNumber);

// One host's calls that set a frame property.
class PropertySink {
 public:
  virtual void Int(const char* key, int64_t value) = 0;
  virtual void Float(const char* key, double value) = 0;
  virtual void Text(const char* key, const char* value, int size) = 0;

 protected:
  ~PropertySink() = default;
};

// Sets the properties a frame has, under the names the hosts share; those left out are not set.
void WriteProperties(const FrameProperties& p, PropertySink& sink);

}  // namespace korvala
