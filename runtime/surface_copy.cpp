#include "surface_copy.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace swrt {

namespace {

void InterleaveRow8(std::uint8_t* dst, const std::uint8_t* u, const std::uint8_t* v, std::uint32_t n) {
  std::uint32_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), _mm_unpacklo_epi8(a, b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i + 16), _mm_unpackhi_epi8(a, b));
  }
#endif
  for (; i < n; ++i) {
    dst[2 * i] = u[i];
    dst[2 * i + 1] = v[i];
  }
}

std::uint16_t Load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
void Store16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void ShiftRow16(std::uint8_t* dst, const std::uint8_t* src, std::uint32_t n, int shift) {
  for (std::uint32_t i = 0; i < n; ++i) Store16(dst + 2 * i, static_cast<std::uint16_t>(Load16(src + 2 * i) << shift));
}

void InterleaveRow16(std::uint8_t* dst, const std::uint8_t* u, const std::uint8_t* v, std::uint32_t n, int shift) {
  for (std::uint32_t i = 0; i < n; ++i) {
    Store16(dst + 4 * i, static_cast<std::uint16_t>(Load16(u + 2 * i) << shift));
    Store16(dst + 4 * i + 2, static_cast<std::uint16_t>(Load16(v + 2 * i) << shift));
  }
}

// Repeats the last `unit` bytes of the first `used` bytes up to `total` bytes.
void PadRow(std::uint8_t* row, std::size_t used, std::size_t total, std::size_t unit) {
  if (used < unit) return;
  for (std::size_t x = used; x + unit <= total; x += unit) std::memcpy(row + x, row + used - unit, unit);
}

}  // namespace

CopyResult CopyToSurface(const PlanarPicture& picture, mfxFrameSurface1& surface) {
  const mfxFrameInfo& info = surface.Info;
  mfxFrameData& data = surface.Data;
  const bool deep = picture.bitDepth > 8;
  if ((deep && info.FourCC != MFX_FOURCC_P010) || (!deep && info.FourCC != MFX_FOURCC_NV12))
    return CopyResult::WrongFormat;
  const std::size_t pitch = (static_cast<std::size_t>(data.PitchHigh) << 16) | data.PitchLow;
  const std::size_t bytes = deep ? 2 : 1;
  if (!data.Y || !data.UV || pitch < info.Width * bytes) return CopyResult::BadSurface;
  const std::uint32_t evenW = (picture.width + 1) & ~1u, evenH = (picture.height + 1) & ~1u;
  if (picture.width == 0 || picture.height == 0 || evenW > info.Width || evenH > info.Height)
    return CopyResult::TooSmall;
  for (int p = 0; p < 3; ++p)
    if (!picture.plane[p]) return CopyResult::BadSurface;

  const std::uint32_t w = picture.width, h = picture.height;
  const int shift = deep ? 16 - picture.bitDepth : 0;
  const std::size_t lumaRow = info.Width * bytes;
  for (std::uint32_t y = 0; y < info.Height; ++y) {
    std::uint8_t* dst = data.Y + y * pitch;
    if (y < h) {
      const std::uint8_t* src = picture.plane[0] + static_cast<std::ptrdiff_t>(y) * picture.pitch[0];
      if (deep)
        ShiftRow16(dst, src, w, shift);
      else
        std::memcpy(dst, src, w);
      PadRow(dst, w * bytes, lumaRow, bytes);
    } else {
      std::memcpy(dst, data.Y + (h - 1) * pitch, lumaRow);
    }
  }
  const std::uint32_t cw = evenW / 2, ch = evenH / 2;
  for (std::uint32_t y = 0; y < info.Height / 2u; ++y) {
    std::uint8_t* dst = data.UV + y * pitch;
    if (y < ch) {
      const std::uint8_t* u = picture.plane[1] + static_cast<std::ptrdiff_t>(y) * picture.pitch[1];
      const std::uint8_t* v = picture.plane[2] + static_cast<std::ptrdiff_t>(y) * picture.pitch[2];
      if (deep)
        InterleaveRow16(dst, u, v, cw, shift);
      else
        InterleaveRow8(dst, u, v, cw);
      PadRow(dst, cw * 2 * bytes, lumaRow, 2 * bytes);
    } else {
      std::memcpy(dst, data.UV + (ch - 1) * pitch, lumaRow);
    }
  }
  return CopyResult::Ok;
}

}  // namespace swrt
