#pragma once
// A Blu-ray clip information file (BDMV/CLIPINF/NNNNN.clpi): where a clip's random access points
// lie in its M2TS and what its video streams are, without reading the stream. Pure over the
// file's bytes; every field is bounds-checked and nothing is allocated beyond what the file holds.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvala {

// One entry point: a picture a decoder can start at.
struct EntryPoint {
  int64_t pts;   // 90 kHz, the picture's PTS with its low 9 bits cleared (the map's precision)
  uint32_t spn;  // source packet number: the packet starting its PES is at byte spn * 192
};

// The entry points of one stream, in the file's order (source packet numbers strictly rising).
struct EntryPointMap {
  uint16_t pid = 0;
  uint8_t streamType = 0;  // EP_stream_type: 1 for video
  std::vector<EntryPoint> entries;
};

struct ClipVideo {
  uint16_t pid = 0;
  uint8_t codingType = 0;  // the transport stream's stream type: 0x1B H.264, 0x20 MVC, 0x24 HEVC, ...
  uint8_t format = 0;      // video_format code, see ClipPictureSize
  uint8_t rate = 0;        // frame_rate code, see ClipFrameRate
};

struct ClipInfo {
  // The first STC sequence's presentation start and the last one's end, 90 kHz; 0 when absent.
  int64_t start = 0;
  int64_t end = 0;
  // The video streams of the first program sequence, and the entry point maps, in file order: the
  // clip's own, then a stereo clip's dependent view's (which it keeps in its extension data).
  std::vector<ClipVideo> video;
  std::vector<EntryPointMap> maps;  // empty when the clip has no EP map
};

// False when the bytes are no clip information or any section they point at is damaged: a count
// the file can't hold, an address outside its section, an entry point map out of order.
bool ParseClipInfo(const uint8_t* data, size_t n, ClipInfo& info);

struct ClipPictureSize {
  int width = 0, height = 0;  // 0x0 for a code this reader doesn't know
  bool interlaced = false;
};
ClipPictureSize PictureSizeOfFormat(uint8_t format);

// Frames per second as num/den (fields are counted as pairs); 0/0 for an unknown code.
struct ClipFrameRate {
  uint32_t num = 0, den = 0;
};
ClipFrameRate FrameRateOfCode(uint8_t rate);

}  // namespace korvala
