// Frame delivery: the decoder runs forward; frames made lately are kept for requests that come
// a little out of order or again.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "clip.h"

namespace {
constexpr mfxU32 kSyncWaitMs = 1000;
// A picture still in the decoder's hands after this many waits is an error, not a hang.
constexpr int kSyncAttempts = 30;
}  // namespace

int Korvala::GetFreeFrameSurface() const {
  for (mfxU16 i = 0; i < m_numSurfaces; ++i)
    if (m_pmfxSurfaces[i]->Data.Locked == 0) return i;
  return -1;
}

PVideoFrame Korvala::MakeBlankFrame(IScriptEnvironment* env) {
  PVideoFrame frame = env->NewVideoFrame(m_vi, 64);
  const bool tenBit = m_vi.pixel_type == VideoInfo::CS_YUV420P10;
  for (int plane : {PLANAR_Y, PLANAR_U, PLANAR_V}) {
    uint8_t* dst = frame->GetWritePtr(plane);
    const int pitch = frame->GetPitch(plane);
    const int rowSize = frame->GetRowSize(plane);
    const int height = frame->GetHeight(plane);
    if (tenBit)
      korvala::FillPlane16(dst, pitch, rowSize, height, plane == PLANAR_Y ? 0 : 511);
    else
      korvala::FillPlane8(dst, pitch, rowSize, height, plane == PLANAR_Y ? 0 : 127);
  }
  m_properties.Write(frame, nullptr, -1, env);
  return frame;
}

mfxStatus Korvala::Refill(IScriptEnvironment* env) {
  mfxStatus filled = korvala::FillBitstream(*this, &m_bitstream);
  if (filled == MFX_ERR_NOT_ENOUGH_BUFFER) env->ThrowError("%s", korvala::kOversizedUnitMessage);
  return filled;
}

void Korvala::WaitForPicture(mfxSyncPoint sync, IScriptEnvironment* env) {
  mfxStatus status = MFX_WRN_IN_EXECUTION;
  for (int attempt = 0; attempt < kSyncAttempts && status == MFX_WRN_IN_EXECUTION; ++attempt)
    status = m_session.SyncOperation(sync, kSyncWaitMs);
  if (status != MFX_ERR_NONE) {
    char message[128];
    std::snprintf(message, sizeof message, "Korvala: ERROR -> SyncOperation returns error = %d",
                  static_cast<int>(status));
    env->ThrowError("%s", message);
  }
}

// The display area starts at the surface's own crop offset (a runtime may put the cropped picture
// at the surface's origin), kept inside the coded frame so the copy never leaves the surface.
Korvala::Origin Korvala::OriginOf(const mfxFrameSurface1& surface) const {
  const mfxFrameInfo& coded = m_videoParams.mfx.FrameInfo;
  Origin origin;
  origin.x = std::min<int>(surface.Info.CropX, std::max(0, coded.Width - m_vi.width)) & ~1;
  origin.y = std::min<int>(surface.Info.CropY, std::max(0, coded.Height - m_vi.height)) & ~1;
  return origin;
}

void Korvala::CopySurface(PVideoFrame& frame, const uint8_t* y, const uint8_t* uv, int pitch, Origin origin,
                          IScriptEnvironment* env) {
  uint8_t* dstY = frame->GetWritePtr(PLANAR_Y);
  uint8_t* dstU = frame->GetWritePtr(PLANAR_U);
  uint8_t* dstV = frame->GetWritePtr(PLANAR_V);
  const int pitchY = frame->GetPitch(PLANAR_Y);
  const int pitchU = frame->GetPitch(PLANAR_U);
  const int rowY = frame->GetRowSize(PLANAR_Y);
  const int rowU = frame->GetRowSize(PLANAR_U);
  const int heightY = frame->GetHeight(PLANAR_Y);
  const int heightU = frame->GetHeight(PLANAR_U);
  const bool tenBit = m_vi.pixel_type == VideoInfo::CS_YUV420P10;
  // NV12 and P010 chroma rows interleave U and V, so a chroma pair spans as many bytes as two
  // luma samples.
  const size_t x = static_cast<size_t>(origin.x) * (tenBit ? 2 : 1);
  y += static_cast<size_t>(origin.y) * pitch + x;
  uv += static_cast<size_t>(origin.y / 2) * pitch + x;
  if (tenBit) {
    korvala::ShiftLuma10(dstY, pitchY, y, pitch, rowY, heightY, m_paths);
    korvala::SplitChroma10(dstU, dstV, pitchU, uv, pitch, rowU, heightU, m_paths);
  } else {
    env->BitBlt(dstY, pitchY, y, pitch, rowY, heightY);
    korvala::SplitChroma8(dstU, dstV, pitchU, uv, pitch, rowU, heightU, m_paths);
  }
}

// Keeps a byte copy of a base-view picture's two planes, whole rows at the surface pitch.
void Korvala::Stash(const mfxFrameSurface1& surface) {
  const size_t rows = surface.Info.Height;
  size_t luma = static_cast<size_t>(surface.Data.Pitch) * rows;
  size_t chroma = static_cast<size_t>(surface.Data.Pitch) * (rows / 2);
  if (luma > m_stashLumaBytes) luma = m_stashLumaBytes;
  if (chroma > m_stashChromaBytes) chroma = m_stashChromaBytes;
  std::memcpy(BufferY.get(), surface.Data.Y, luma);
  std::memcpy(BufferUV.get(), surface.Data.UV, chroma);
  m_stashOrigin = OriginOf(surface);
  m_stashPicture = m_properties.Picture(surface);
}

void Korvala::RaiseLinearDecoding(int n, IScriptEnvironment* env) {
  char message[128];
  std::snprintf(message, sizeof message,
                "Korvala: ERROR -> Only linear decoding is allowed (current frame index = %d, "
                "requested frame = %d).",
                m_currentFrame, n);
  env->ThrowError("%s", message);
}

// The decoder only goes forward: a later frame is decoded to, an earlier one answered from the
// window of frames made.
PVideoFrame __stdcall Korvala::GetFrame(int n, IScriptEnvironment* env) {
  if (n > m_currentFrame) return DecodeForwardTo(n, env);
  if (n < m_windowFirst || n <= m_currentFrame - kWindowFrames) RaiseLinearDecoding(n, env);
  const PVideoFrame& kept = Slot(n);
  if (kept) return kept;
  return MakeBlankFrame(env);  // serving it raised an error
}

PVideoFrame Korvala::DecodeForwardTo(int n, IScriptEnvironment* env) {
  // Frames that would leave the window before this request returns are decoded, not copied.
  const int firstKept = n - kWindowFrames + 1;
  while (m_currentFrame < n) {
    if (m_drained && m_currentFrame + 1 < firstKept) {
      // Past the end every frame is blank: nothing to decode for those passed over.
      m_currentFrame = firstKept - 1;
      m_windowFirst = firstKept;
      continue;
    }
    const int k = ++m_currentFrame;
    const bool keep = k >= firstKept;
    PVideoFrame& slot = Slot(k);
    slot = PVideoFrame();
    // A frame passed over is never answered; if making it fails, it is answered like any frame
    // whose serving failed.
    if (!keep) m_windowFirst = k;
    slot = NextFrame(k, keep, env);
    if (!keep) m_windowFirst = k + 1;
  }
  return Slot(n);
}

// Makes frame k from the next pictures of the selected view; with `keep` false only the decoder
// and the stash move on. Null once the decoder has nothing more and no frame is kept.
PVideoFrame Korvala::NextFrame(int k, bool keep, IScriptEnvironment* env) {
  for (;;) {
    if (m_drained) return keep ? MakeBlankFrame(env) : PVideoFrame();
    const mfxFrameSurface1* out = NextPicture(env);
    if (!out) continue;

    const uint16_t view = out->Info.FrameId.ViewId;
    if (static_cast<uint32_t>(m_viewId) <= 1 && view != m_viewId) continue;

    PVideoFrame frame;
    if (m_vi.pixel_type == VideoInfo::CS_YV12 && m_viewId == -2 && view == 0) {
      if (k == 0) {
        Stash(*out);
        continue;
      }
      if (keep) {
        frame = env->NewVideoFrame(m_vi, 64);
        CopySurface(frame, BufferY.get(), BufferUV.get(), out->Data.Pitch, m_stashOrigin, env);
        m_properties.Write(frame, &m_stashPicture, k, env);
      }
      Stash(*out);
      return frame;
    }
    if (keep) {
      frame = env->NewVideoFrame(m_vi, 64);
      CopySurface(frame, out->Data.Y, out->Data.UV, out->Data.Pitch, OriginOf(*out), env);
      const korvala::PictureFacts picture = m_properties.Picture(*out);
      m_properties.Write(frame, &picture, k, env);
    }
    return frame;
  }
}

// Runs the decoder to its next synchronised picture. Null when it gave none: drained (m_drained
// is then set) or a call without output.
mfxFrameSurface1* Korvala::NextPicture(IScriptEnvironment* env) {
  int work = GetFreeFrameSurface();
  if (work < 0) env->ThrowError("Korvala: ERROR -> GetFreeFrameSurface() -> No free frame surfaces");

  mfxFrameSurface1* out = nullptr;
  mfxSyncPoint sync = nullptr;
  for (;;) {
    const mfxStatus status = m_decoder->DecodeFrameAsync(m_activeBitstream, m_pmfxSurfaces[work], &out, &sync);
    if (status == MFX_ERR_MORE_SURFACE) {
      work = GetFreeFrameSurface();
      if (work < 0) env->ThrowError("Korvala: ERROR -> GetFreeFrameSurface() -> No free frame surfaces");
    } else if (status == MFX_ERR_MORE_DATA) {
      if (!m_activeBitstream) {
        m_drained = 1;
        return nullptr;
      }
      if (Refill(env) == MFX_ERR_MORE_DATA) m_activeBitstream = nullptr;
    } else if (status == MFX_ERR_NONE) {
      break;
    } else if (status == MFX_WRN_DEVICE_BUSY) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else if (status < MFX_ERR_NONE) {
      char message[128];
      std::snprintf(message, sizeof message, "Korvala: ERROR -> DecodeFrameAsync returns error = %d",
                    static_cast<int>(status));
      env->ThrowError("%s", message);
    }
    // Any other warning: call again with the same surface.
  }
  WaitForPicture(sync, env);
  return out;
}

bool __stdcall Korvala::GetParity(int) { return false; }

void __stdcall Korvala::GetAudio(void*, int64_t, int64_t, IScriptEnvironment*) {}

// One decoder can serve one caller at a time: AviSynth+ then never enters the clip from two
// threads at once. Every other hint is left to the host.
int __stdcall Korvala::SetCacheHints(int cachehints, int) {
  return cachehints == CACHE_GET_MTMODE ? MT_SERIALIZED : 0;
}

const VideoInfo& __stdcall Korvala::GetVideoInfo() { return m_vi; }
