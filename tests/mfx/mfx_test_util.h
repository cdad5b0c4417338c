// Helpers shared by the Media SDK runtime tests: surfaces in system memory laid out as a
// decoder's caller lays them out, a bitstream buffer, and views of the call record.
#pragma once

#include <mfxvideo.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "test_runtime_control.h"

namespace mfxtest_util {

// NV12 or P010 surfaces with a row pitch wider than the picture, and a guard after each plane
// row so writes past the picture's width show up.
struct SurfacePool {
  static constexpr std::size_t kSlack = 32;
  static constexpr std::uint8_t kGuard = 0xA5;

  SurfacePool(const mfxFrameInfo& info, int count) : surfaces(count) {
    const std::size_t bytes = info.FourCC == MFX_FOURCC_P010 ? 2 : 1;
    pitch = info.Width * bytes + kSlack;
    planeY = pitch * info.Height;
    frameBytes = planeY + pitch * (info.Height / 2);
    storage.assign(frameBytes * count, kGuard);
    for (int i = 0; i < count; ++i) {
      mfxFrameSurface1& s = surfaces[i];
      s = mfxFrameSurface1{};
      s.Info = info;
      s.Data.Y = storage.data() + i * frameBytes;
      s.Data.UV = s.Data.Y + planeY;
      s.Data.V = s.Data.UV + bytes;
      s.Data.Pitch = static_cast<mfxU16>(pitch);
      pointers.push_back(&s);
    }
  }

  mfxFrameSurface1* operator[](int i) { return &surfaces[i]; }

  // True when every byte past the picture's width in every row still holds the guard.
  bool GuardsIntact(int i) const {
    const mfxFrameSurface1& s = surfaces[i];
    const std::size_t bytes = s.Info.FourCC == MFX_FOURCC_P010 ? 2 : 1;
    const std::size_t rows = s.Info.Height + s.Info.Height / 2;
    const std::uint8_t* base = storage.data() + i * frameBytes;
    for (std::size_t r = 0; r < rows; ++r)
      for (std::size_t b = s.Info.Width * bytes; b < pitch; ++b)
        if (base[r * pitch + b] != kGuard) return false;
    return true;
  }

  std::vector<mfxFrameSurface1> surfaces;
  std::vector<mfxFrameSurface1*> pointers;
  std::vector<std::uint8_t> storage;
  std::size_t pitch = 0, planeY = 0, frameBytes = 0;
};

// Count of samples that differ from the test runtime's pattern for (tag, view).
inline std::size_t PatternMismatches(const mfxFrameSurface1& s, mfxU32 tag, mfxU16 view) {
  std::size_t bad = 0;
  const std::size_t pitch = s.Data.Pitch, w = s.Info.Width, h = s.Info.Height;
  const bool p010 = s.Info.FourCC == MFX_FOURCC_P010;
  for (std::size_t y = 0; y < h; ++y)
    for (std::size_t x = 0; x < w; ++x) {
      if (p010) {
        mfxU16 v;
        std::memcpy(&v, s.Data.Y + y * pitch + 2 * x, 2);
        bad += v != (mfxtest::Luma10(tag, view, x, y) << 6);
      } else {
        bad += s.Data.Y[y * pitch + x] != mfxtest::Luma8(tag, view, x, y);
      }
    }
  for (std::size_t y = 0; y < h / 2; ++y)
    for (std::size_t x = 0; x < w / 2; ++x)
      for (mfxU32 plane = 1; plane <= 2; ++plane) {
        if (p010) {
          mfxU16 v;
          std::memcpy(&v, s.Data.UV + y * pitch + 4 * x + 2 * (plane - 1), 2);
          bad += v != (mfxtest::Chroma10(tag, view, plane, x, y) << 6);
        } else {
          bad += s.Data.UV[y * pitch + 2 * x + (plane - 1)] != mfxtest::Chroma8(tag, view, plane, x, y);
        }
      }
  return bad;
}

// An input buffer the way a decoder's caller keeps one: data moved to the front, then appended.
struct Input {
  explicit Input(mfxU32 capacity) : bytes(capacity) {
    bs.Data = bytes.data();
    bs.MaxLength = capacity;
  }
  void Append(const std::uint8_t* data, std::size_t n) {
    std::memmove(bytes.data(), bytes.data() + bs.DataOffset, bs.DataLength);
    bs.DataOffset = 0;
    std::memcpy(bytes.data() + bs.DataLength, data, n);
    bs.DataLength += static_cast<mfxU32>(n);
  }
  void AppendZeros(std::size_t n) {
    std::vector<std::uint8_t> z(n, 0x55);
    Append(z.data(), n);
  }
  std::vector<std::uint8_t> bytes;
  mfxBitstream bs{};
};

inline std::vector<std::string> Functions(const std::vector<mfxtest::Call>& calls) {
  std::vector<std::string> names;
  for (const auto& c : calls) names.push_back(c.function);
  return names;
}

// The calls of one function, in order.
inline std::vector<mfxtest::Call> Only(const std::vector<mfxtest::Call>& calls, const std::string& function) {
  std::vector<mfxtest::Call> out;
  for (const auto& c : calls)
    if (c.function == function) out.push_back(c);
  return out;
}

}  // namespace mfxtest_util
