#pragma once
// A Blu-ray 3D title as its playlist and clip information describe it, so that it opens without
// reading its streams: each play item's two M2TS clips, their PIDs, its IN and OUT times, and the
// stretches between the entry points the disc declares.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clip_info.h"

namespace korvala {

constexpr int64_t kEntryPointPrecision = 512;  // an entry point's PTS keeps its bits above the ninth

// From one entry point of an item's clip to the next: a place to start decoding and the units
// that follow it in decoding order.
struct TitleStretch {
  int64_t pts = 0;              // the entry point's picture, 90 kHz with the map's low 9 bits cleared
  int64_t from[2] = {0, 0};     // where it begins in each view's file
  int64_t to[2] = {-1, -1};     // where the next one begins; -1: the file's end
  uint32_t firstFrame = 0;      // the title's first frame decoding from here yields exactly
};

struct TitleItem {
  std::string path[2];  // the base and dependent views' M2TS
  int id[2] = {-1, -1};
  int64_t in = 0, out = 0;  // 90 kHz
  uint32_t firstFrame = 0, frames = 0;
  std::vector<TitleStretch> stretches;
};

struct DiscTitle {
  std::vector<TitleItem> items;
  uint32_t num = 0, den = 0;  // the frame rate
  uint32_t frames = 0;
};

// What an item plays, as the playlist and the probes found it.
struct TitleClip {
  std::string path[2];
  int id[2] = {-1, -1};
  int64_t in = 0, out = 0;  // 90 kHz
  const ClipInfo* info[2] = {nullptr, nullptr};  // each view's clip information, null when missing
  uint64_t size[2] = {0, 0};                     // the files' sizes
  int64_t lastPts = 0;                           // the latest base picture near the base file's end
};

// The title of these items at this rate, or null when the clip information can't describe it: a
// map missing for a view, entry points that don't pair up or point past a file's end, a stream
// that ends before an item's OUT time. Pure over what it is given.
std::shared_ptr<const DiscTitle> DescribeTitle(const std::vector<TitleClip>& clips, uint32_t num, uint32_t den);

// The title's item and frame of a picture presented at `pts` in item `item`; false outside it.
bool TitleFrameAt(const DiscTitle& title, size_t item, int64_t pts, uint32_t& frame);

}  // namespace korvala
