#pragma once
// A Blu-ray movie playlist (BDMV/PLAYLIST/NNNNN.mpls): which clips it plays, in order. Pure over
// the file's bytes; every field is bounds-checked.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvala {

struct PlaylistClips {
  std::vector<std::string> base;       // the main path's clips (five-digit names), first angle
  std::vector<std::string> dependent;  // the stereo sub-path's clips, one per play item; empty in 2D
};

// False when the bytes are no playlist or its main path cannot be read.
bool ParsePlaylist(const uint8_t* data, size_t n, PlaylistClips& clips);

}  // namespace korvala
