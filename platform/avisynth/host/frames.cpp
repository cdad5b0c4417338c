// Host frames: one aligned block per frame holding its planes. In guard mode each row's pitch
// is widened by one alignment unit and every plane sits between guard zones, all filled with
// a position-dependent pattern, so stray writes show up afterwards.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_internal.h"
#include "system.h"

namespace avshost::detail {
namespace {

std::atomic<long> g_liveFrames{0};

constexpr uint64_t kMaxFrameBytes = uint64_t(1) << 30;
constexpr size_t kGuardBytes = 128;

uint8_t Pattern(size_t offset) { return static_cast<uint8_t>(0xA5 ^ (offset * 29) ^ (offset >> 7)); }

uint64_t RoundUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

std::string Printf(const char* fmt, int a, int b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, fmt, a, b);
  return text;
}

bool Intact(const FrameRecord& f, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (f.block[i] != Pattern(i)) return false;
  }
  return true;
}

}  // namespace

FrameRecord* NewFrame(const VideoInfo& vi, int align, bool guarded, std::string* error) {
  if (!vi.IsPlanar() || !vi.IsYUV() || vi.IsYUVA() || vi.ComponentSize() == 0) {
    *error = Printf("avshost: NewVideoFrame: pixel type 0x%08X is not a planar YUV type this host makes",
                    vi.pixel_type);
    return nullptr;
  }
  if (vi.width <= 0 || vi.height <= 0) {
    *error = Printf("avshost: NewVideoFrame: no frame of %dx%d", vi.width, vi.height);
    return nullptr;
  }
  // At least FRAME_ALIGN, whatever was asked; a larger power of two is honoured.
  uint64_t a = FRAME_ALIGN;
  if (align > FRAME_ALIGN && align <= 4096 && (align & (align - 1)) == 0) a = static_cast<uint64_t>(align);
  const uint64_t guard = guarded ? RoundUp(kGuardBytes, a) : 0;

  auto frame = std::make_unique<FrameRecord>();
  frame->vi = vi;
  frame->align = static_cast<int>(a);
  frame->guarded = guarded;
  frame->numPlanes = vi.IsY() ? 1 : 3;
  static const int kPlanes[3] = {PLANAR_Y, PLANAR_U, PLANAR_V};
  uint64_t offset = guard;
  for (int i = 0; i < frame->numPlanes; ++i) {
    const uint64_t rowSize =
        static_cast<uint64_t>(vi.width >> vi.GetPlaneWidthSubsampling(kPlanes[i])) * vi.ComponentSize();
    const uint64_t height = static_cast<uint64_t>(vi.height >> vi.GetPlaneHeightSubsampling(kPlanes[i]));
    const uint64_t padded = std::max(a, RoundUp(rowSize, a));
    const uint64_t pitch = padded + (guarded ? a : 0);
    if (pitch * height > kMaxFrameBytes || offset + pitch * height + guard > kMaxFrameBytes) {
      *error = Printf("avshost: NewVideoFrame: a frame of %dx%d is too large", vi.width, vi.height);
      return nullptr;
    }
    PlaneLayout& plane = frame->planes[i];
    plane.offset = static_cast<size_t>(offset);
    plane.pitch = static_cast<int>(pitch);
    plane.rowSize = static_cast<int>(rowSize);
    plane.height = static_cast<int>(height);
    plane.paddedRow = static_cast<int>(padded);
    offset += pitch * height + guard;
  }
  frame->blockSize = static_cast<size_t>(std::max<uint64_t>(offset, a));
  frame->block = static_cast<uint8_t*>(AlignedAllocate(static_cast<size_t>(a), frame->blockSize));
  if (!frame->block) {
    *error = Printf("avshost: NewVideoFrame: out of memory for %dx%d", vi.width, vi.height);
    return nullptr;
  }
  if (guarded) {
    for (size_t i = 0; i < frame->blockSize; ++i) frame->block[i] = Pattern(i);
    for (int i = 0; i < frame->numPlanes; ++i) {
      const PlaneLayout& plane = frame->planes[i];
      for (int y = 0; y < plane.height; ++y) {
        std::memset(frame->block + plane.offset + size_t(y) * plane.pitch, 0, size_t(plane.rowSize));
      }
    }
  } else {
    std::memset(frame->block, 0, frame->blockSize);
  }
  ++g_liveFrames;
  return frame.release();
}

void AddRef(FrameRecord* frame) {
  if (frame) frame->refs.fetch_add(1, std::memory_order_relaxed);
}

void Release(FrameRecord* frame) {
  if (!frame) return;
  const long left = frame->refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left > 0) return;
  if (left < 0) {
    std::fprintf(stderr, "avshost: a frame was released more often than referenced\n");
    std::abort();
  }
  AlignedFree(frame->block);
  delete frame;
  --g_liveFrames;
}

const PlaneLayout* PlaneOf(const FrameRecord& frame, int plane) {
  switch (plane & ~PLANAR_ALIGNED) {
    case DEFAULT_PLANE:
    case PLANAR_Y: return &frame.planes[0];
    case PLANAR_U: return frame.numPlanes == 3 ? &frame.planes[1] : nullptr;
    case PLANAR_V: return frame.numPlanes == 3 ? &frame.planes[2] : nullptr;
    default: return nullptr;
  }
}

bool GuardsIntact(const FrameRecord& frame) {
  if (!frame.guarded) return true;
  size_t zoneStart = 0;  // start of the guard zone before the current plane
  for (int i = 0; i < frame.numPlanes; ++i) {
    const PlaneLayout& plane = frame.planes[i];
    if (!Intact(frame, zoneStart, plane.offset)) return false;
    for (int y = 0; y < plane.height; ++y) {
      const size_t row = plane.offset + size_t(y) * plane.pitch;
      if (!Intact(frame, row + plane.paddedRow, row + plane.pitch)) return false;
    }
    zoneStart = plane.offset + size_t(plane.pitch) * plane.height;
  }
  return Intact(frame, zoneStart, frame.blockSize);
}

bool PaddingTouched(const FrameRecord& frame) {
  if (!frame.guarded) return false;
  for (int i = 0; i < frame.numPlanes; ++i) {
    const PlaneLayout& plane = frame.planes[i];
    for (int y = 0; y < plane.height; ++y) {
      const size_t row = plane.offset + size_t(y) * plane.pitch;
      if (!Intact(frame, row + plane.rowSize, row + plane.paddedRow)) return true;
    }
  }
  return false;
}

long LiveFrames() { return g_liveFrames.load(); }

}  // namespace avshost::detail
