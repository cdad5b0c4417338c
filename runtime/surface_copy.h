// Decoded planar 4:2:0 pictures into the caller's NV12 or P010 surface.
#pragma once

#include <mfxstructures.h>

#include <cstddef>
#include <cstdint>

namespace swrt {

struct PlanarPicture {
  const std::uint8_t* plane[3] = {};  // Y, U, V
  std::ptrdiff_t pitch[3] = {};       // bytes per row, may be negative
  std::uint32_t width = 0, height = 0;
  int bitDepth = 8;                   // 8, or up to 16 in 16-bit little-endian samples
};

// Why a picture cannot go into a surface.
enum class CopyResult { Ok, BadSurface, TooSmall, WrongFormat };

// Writes the picture at the surface's origin; the area right of and below it up to the
// surface's Info.Width x Info.Height is filled by repeating the last column and row, as a
// decoder's padded picture would be. P010 samples are stored in the high bits.
CopyResult CopyToSurface(const PlanarPicture& picture, mfxFrameSurface1& surface);

}  // namespace swrt
