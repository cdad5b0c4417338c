#pragma once
// A Blu-ray movie playlist (BDMV/PLAYLIST/NNNNN.mpls): which clips it plays, in order. Pure over
// the file's bytes; every field is bounds-checked.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvala {

// What a play item plays of its clip: the pictures presented in [in, out), 45 kHz ticks.
struct PlayTime {
  uint32_t in = 0;
  uint32_t out = 0;
};

struct PlaylistClips {
  std::vector<std::string> base;       // the main path's clips (five-digit names), first angle
  std::vector<PlayTime> times;         // ... and what each item plays of its clip
  std::vector<std::string> dependent;  // the stereo sub-path's clips, one per play item; empty in 2D
};

// False when the bytes are no playlist or its main path cannot be read.
bool ParsePlaylist(const uint8_t* data, size_t n, PlaylistClips& clips);

}  // namespace korvala
