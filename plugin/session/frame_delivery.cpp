// Frame delivery: any frame in any order. The decoder runs forward to a frame ahead; a frame
// behind, or far ahead, is reached by resetting the decoder at the random access point that
// yields it exactly and dropping the pictures before it. Frames made and not yet given out are
// kept. A request reads top-down from GetFrame, and calls down only: into the feeding
// (decoder_feed.cpp), never back.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "clip.h"

using korvala::FrameMaker;
using korvala::FramePtr;
using korvala::Raise;

namespace {
constexpr mfxU32 kSyncWaitMs = 1000;
// A picture still in the decoder's hands after this many waits is an error, not a hang.
constexpr int kSyncAttempts = 30;
// Calls without input taken or a picture given before the decoder is given up on; a busy
// device is waited for 1 ms a call, so about ten seconds.
constexpr int kIdleCalls = 10000;

// A plane's row size in bytes and its rows: chroma has half the samples each way.
int RowSize(const korvala::ClipFormat& f, int plane) { return (plane ? f.width >> 1 : f.width) * (f.tenBit ? 2 : 1); }
int Rows(const korvala::ClipFormat& f, int plane) { return plane ? f.height >> 1 : f.height; }
}  // namespace

FramePtr Korvala::GetFrame(int n, FrameMaker& maker) {
  if (n < 0) return MakeBlankFrame(maker);
  const bool backward = n < m_currentFrame;
  auto kept = m_window.find(n);
  FramePtr frame;
  if (kept != m_window.end()) {
    frame = kept->second.frame;
  } else {
    const Picture target = TargetOf(n);
    // Past the stream's end, or a view the stream does not have.
    if ((m_frames >= 0 && target.frame >= m_frames) || (target.view == 1 && !m_twoViews)) return MakeBlankFrame(maker);
    bool seek = Behind(n);
    // Far ahead: skip what lies between when a random access point on the way yields it.
    if (!seek && target.frame > m_runTop + kWindowFrames && m_feed == Feed::kUnits && IndexReady())
      seek = m_units->SeekUnit(static_cast<uint32_t>(target.frame), m_stampsMissing) > m_nextUnit;
    if (seek) Seek(n);
  }
  m_backward = backward;
  m_currentFrame = n;
  if (!frame) {
    try {
      frame = DecodeTo(n, maker);
      // A title's run ends with its play item: the next item is reached by a seek.
      if (!frame && m_drained && m_title &&
          m_units->SeekUnit(static_cast<uint32_t>(TargetOf(n).frame), m_stampsMissing) > m_nextUnit) {
        Seek(n);
        frame = DecodeTo(n, maker);
      }
    } catch (const Rescanned&) {
      Seek(n);
      frame = DecodeTo(n, maker);
    }
  }
  // Only frames near the requests stay: the next ones going forward, more of the earlier ones
  // going backward.
  m_window.erase(m_window.begin(), m_window.lower_bound(int64_t{n} - Below()));
  m_window.erase(m_window.upper_bound(int64_t{n} + kWindowFrames), m_window.end());
  if (!frame) return MakeBlankFrame(maker);
  Give(n);
  return frame;
}

void Korvala::Give(int n) {
  auto kept = m_window.find(n);
  if (kept != m_window.end()) kept->second.given = true;
  m_given.erase(std::remove(m_given.begin(), m_given.end(), n), m_given.end());
  m_given.push_back(n);
  if (m_given.size() <= kGivenFrames) return;
  // Made again since it was given out, it waits for its request.
  auto oldest = m_window.find(m_given.front());
  if (oldest != m_window.end() && oldest->second.given) m_window.erase(oldest);
  m_given.pop_front();
}

// How far below the latest request frames are kept. Going backward (Reverse(), an editor
// stepping back), a seek's decode keeps twice the window, so it serves that many requests.
int Korvala::Below() const { return m_backward ? kBackwardFrames : kWindowFrames; }

void Korvala::Seek(int n) {
  const Picture target = TargetOf(n);
  uint32_t unit = 0;
  int64_t first = 0;
  if (m_feed == Feed::kUnits && IndexReady()) {
    // Pictures told apart by the units' timestamps may start anywhere; counted ones only where
    // no earlier picture can come out after the start.
    unit = m_units->SeekUnit(static_cast<uint32_t>(target.frame), m_stampsMissing);
    first = m_units->FirstExactFrame(unit);
  }
  if (m_decoder->Reset(&m_videoParams) < MFX_ERR_NONE) RaiseLinearDecoding(n);
  RewindInput(unit);
  m_activeBitstream = &m_bitstream;
  m_drained = 0;
  m_runTop = -1;
  m_viewTop[0] = m_viewTop[1] = -1;
  // Pictures shown before the start's own (the leading pictures of an open GOP), or before a
  // recovery point's recovery picture, refer to what was not decoded: they are not kept.
  m_seekFloor = first;
  m_countFrom = m_stampsMissing ? first : 0;
  m_counts[0] = m_counts[1] = 0;
  m_unitFrames.clear();
}

void Korvala::RaiseLinearDecoding(int n) {
  char message[128];
  std::snprintf(message, sizeof message,
                "Korvala: ERROR -> Only linear decoding is allowed (current frame index = %d, "
                "requested frame = %d).",
                m_currentFrame, n);
  Raise(message);
}

// Decodes until frame n is made (null when the stream has no such picture); the frames of the
// selected views made on the way that lie near n are kept.
FramePtr Korvala::DecodeTo(int n, FrameMaker& maker) {
  const Picture target = TargetOf(n);
  for (;;) {
    auto made = m_window.find(n);
    if (made != m_window.end()) return made->second.frame;
    if (m_drained) return nullptr;
    if (Identified() && target.frame + 1 < m_runTop) return nullptr;  // the stream has no such picture
    const mfxFrameSurface1* out = NextPicture();
    if (!out) continue;
    const Picture p = Identify(*out);
    if (p.frame < 0) continue;
    m_runTop = std::max(m_runTop, p.frame);
    m_viewTop[p.view] = std::max(m_viewTop[p.view], p.frame);
    const int64_t k = ClipIndexOf(p);
    if (p.frame < m_seekFloor) continue;
    if (k < 0 || k < int64_t{n} - Below() || k > int64_t{n} + kWindowFrames) continue;
    FramePtr frame = maker.NewFrame();
    CopySurface(*frame, out->Data.Y, out->Data.UV, out->Data.Pitch, OriginOf(*out));
    const korvala::PictureFacts picture = m_properties.Picture(*out);
    frame->Describe(m_properties.Describe(&picture, p.frame));
    Keep(k, std::move(frame));
  }
}

void Korvala::Keep(int64_t n, FramePtr frame) { m_window[n] = Kept{std::move(frame), false}; }

// Runs the decoder to its next synchronised picture. Null when it gave none: drained (m_drained
// is then set) or a call without output.
mfxFrameSurface1* Korvala::NextPicture() {
  int work = GetFreeFrameSurface();
  if (work < 0) Raise("Korvala: ERROR -> GetFreeFrameSurface() -> No free frame surfaces");

  mfxFrameSurface1* out = nullptr;
  mfxSyncPoint sync = nullptr;
  // Calls in a row that neither took input nor gave a picture: a runtime that goes on like this
  // (asking for data while the bitstream is full, warning without end) would spin for ever.
  int idle = 0;
  for (;;) {
    const mfxU32 before = m_activeBitstream ? m_activeBitstream->DataLength : 0;
    const mfxStatus status = m_decoder->DecodeFrameAsync(m_activeBitstream, m_pmfxSurfaces[work], &out, &sync);
    bool progress = m_activeBitstream && m_activeBitstream->DataLength != before;
    if (status == MFX_ERR_MORE_SURFACE) {
      work = GetFreeFrameSurface();
      if (work < 0) Raise("Korvala: ERROR -> GetFreeFrameSurface() -> No free frame surfaces");
    } else if (status == MFX_ERR_MORE_DATA) {
      if (!m_activeBitstream) {
        m_drained = 1;
        return nullptr;
      }
      const mfxU32 held = m_bitstream.DataLength;
      if (FillBitstream() == MFX_ERR_MORE_DATA) m_activeBitstream = nullptr;
      progress = progress || !m_activeBitstream || m_bitstream.DataLength != held;
    } else if (status == MFX_ERR_NONE) {
      break;
    } else if (status == MFX_WRN_DEVICE_BUSY) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else if (status < MFX_ERR_NONE) {
      char message[128];
      std::snprintf(message, sizeof message, "Korvala: ERROR -> DecodeFrameAsync returns error = %d",
                    static_cast<int>(status));
      Raise(message);
    }
    // Any other warning: call again with the same surface.
    idle = progress ? 0 : idle + 1;
    if (idle > kIdleCalls) {
      char message[128];
      std::snprintf(message, sizeof message, "Korvala: ERROR -> DecodeFrameAsync makes no progress (status = %d)",
                    static_cast<int>(status));
      Raise(message);
    }
  }
  WaitForPicture(sync);
  return out;
}

void Korvala::WaitForPicture(mfxSyncPoint sync) {
  mfxStatus status = MFX_WRN_IN_EXECUTION;
  for (int attempt = 0; attempt < kSyncAttempts && status == MFX_WRN_IN_EXECUTION; ++attempt)
    status = m_session.SyncOperation(sync, kSyncWaitMs);
  if (status != MFX_ERR_NONE) {
    char message[128];
    std::snprintf(message, sizeof message, "Korvala: ERROR -> SyncOperation returns error = %d",
                  static_cast<int>(status));
    Raise(message);
  }
}

int Korvala::GetFreeFrameSurface() const {
  for (mfxU16 i = 0; i < m_numSurfaces; ++i)
    if (m_pmfxSurfaces[i]->Data.Locked == 0) return i;
  return -1;
}

// The frame and view of a decoded picture: by the unit its timestamp names once the index is
// complete, else counted in output order per view (a dependent picture goes with the base
// picture of its unit).
Korvala::Picture Korvala::Identify(const mfxFrameSurface1& surface) {
  Picture p;
  p.view = surface.Info.FrameId.ViewId == 0 ? 0 : 1;
  const mfxU64 stamp = surface.Data.TimeStamp;
  const bool stamped = m_feed == Feed::kUnits && stamp >= kStampBase && stamp - kStampBase < m_nextUnit;
  if (m_feed == Feed::kUnits) (stamped ? m_stampsSeen : m_stampsMissing) = true;
  const uint64_t unit = stamped ? stamp - kStampBase : 0;
  if (stamped && UnitsKnown() && !m_stampsMissing) {
    const uint32_t frame = m_units->FrameOfUnit(static_cast<size_t>(unit));
    p.frame = frame == korvala::kNoFrame ? int64_t{-1} : int64_t{frame};
    return p;
  }
  if (stamped && p.view == 1) {
    for (const auto& [u, frame] : m_unitFrames)
      if (u == unit) {
        p.frame = frame;
        m_counts[1] = std::max(m_counts[1], frame - m_countFrom + 1);
        return p;
      }
  }
  p.frame = m_countFrom + m_counts[p.view]++;
  if (stamped && p.view == 0) {
    m_unitFrames.emplace_back(unit, p.frame);
    if (m_unitFrames.size() > 64) m_unitFrames.pop_front();
  }
  return p;
}

// Which picture frame n of the clip shows. With both views, ViewId 2 (and -2 with 10-bit
// output, and any other value) alternates base and dependent view, -2 with 8-bit output
// dependent and base; ViewId 1 shows only the dependent view, 0 only the base view.
Korvala::Picture Korvala::TargetOf(int n) const {
  Picture p;
  if (m_viewId == 0 || !m_twoViews) {
    p.frame = n;
    p.view = m_viewId == 1 ? 1 : 0;
  } else if (m_viewId == 1) {
    p.frame = n;
    p.view = 1;
  } else {
    const bool swapped = m_viewId == -2 && !m_format.tenBit;
    p.frame = n / 2;
    p.view = (n % 2) ^ (swapped ? 1 : 0);
  }
  return p;
}

int64_t Korvala::ClipIndexOf(const Picture& p) const {
  if (p.frame < 0) return -1;
  if (m_viewId == 0 || !m_twoViews) {
    if (p.view != (m_viewId == 1 ? 1 : 0)) return -1;
    return p.frame;
  }
  if (m_viewId == 1) return p.view == 1 ? p.frame : -1;
  const bool swapped = m_viewId == -2 && !m_format.tenBit;
  return 2 * p.frame + (p.view ^ (swapped ? 1 : 0));
}

// Pictures are told apart by their units: the index is complete and the runtime hands the
// units' timestamps back.
bool Korvala::Identified() const {
  return m_feed == Feed::kUnits && UnitsKnown() && m_stampsSeen && !m_stampsMissing;
}

// The run has passed frame n's picture without keeping it. Identified pictures come in output
// order; counted ones are counted per view.
bool Korvala::Behind(int n) const {
  const Picture target = TargetOf(n);
  if (Identified()) return target.frame <= m_viewTop[target.view];
  return target.frame < m_countFrom + m_counts[target.view];
}

void Korvala::CopySurface(korvala::HostFrame& frame, const uint8_t* y, const uint8_t* uv, int pitch, Origin origin) {
  uint8_t* dstY = frame.Plane(0);
  uint8_t* dstU = frame.Plane(1);
  uint8_t* dstV = frame.Plane(2);
  const int pitchY = frame.Pitch(0);
  const int pitchU = frame.Pitch(1);
  const int rowY = RowSize(m_format, 0);
  const int rowU = RowSize(m_format, 1);
  const int heightY = Rows(m_format, 0);
  const int heightU = Rows(m_format, 1);
  const bool tenBit = m_format.tenBit;
  // NV12 and P010 chroma rows interleave U and V, so a chroma pair spans as many bytes as two
  // luma samples.
  const size_t x = static_cast<size_t>(origin.x) * (tenBit ? 2 : 1);
  y += static_cast<size_t>(origin.y) * pitch + x;
  uv += static_cast<size_t>(origin.y / 2) * pitch + x;
  if (tenBit) {
    korvala::ShiftLuma10(dstY, pitchY, y, pitch, rowY, heightY, m_paths);
    korvala::SplitChroma10(dstU, dstV, pitchU, uv, pitch, rowU, heightU, m_paths);
  } else {
    for (int row = 0; row < heightY; ++row)
      std::memcpy(dstY + static_cast<ptrdiff_t>(row) * pitchY, y + static_cast<size_t>(row) * pitch, static_cast<size_t>(rowY));
    korvala::SplitChroma8(dstU, dstV, pitchU, uv, pitch, rowU, heightU, m_paths);
  }
}

// The display area starts at the surface's own crop offset (a runtime may put the cropped picture
// at the surface's origin), kept inside the coded frame so the copy never leaves the surface.
Korvala::Origin Korvala::OriginOf(const mfxFrameSurface1& surface) const {
  const mfxFrameInfo& coded = m_videoParams.mfx.FrameInfo;
  Origin origin;
  origin.x = std::min<int>(surface.Info.CropX, std::max(0, coded.Width - m_format.width)) & ~1;
  origin.y = std::min<int>(surface.Info.CropY, std::max(0, coded.Height - m_format.height)) & ~1;
  return origin;
}

FramePtr Korvala::MakeBlankFrame(FrameMaker& maker) {
  FramePtr frame = maker.NewFrame();
  for (int plane : {0, 1, 2}) {
    uint8_t* dst = frame->Plane(plane);
    const int pitch = frame->Pitch(plane);
    const int rowSize = RowSize(m_format, plane);
    const int height = Rows(m_format, plane);
    if (m_format.tenBit)
      korvala::FillPlane16(dst, pitch, rowSize, height, plane == 0 ? 0 : 511);
    else
      korvala::FillPlane8(dst, pitch, rowSize, height, plane == 0 ? 0 : 127);
  }
  frame->Describe(m_properties.Describe(nullptr, -1));
  return frame;
}
