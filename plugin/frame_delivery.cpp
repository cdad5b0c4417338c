// Frame delivery: the decoder runs forward, one picture per request, in frame order only.
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

void Korvala::CopySurface(PVideoFrame& frame, const uint8_t* y, const uint8_t* uv, int pitch,
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
  if (m_vi.pixel_type == VideoInfo::CS_YUV420P10) {
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
}

PVideoFrame __stdcall Korvala::GetFrame(int n, IScriptEnvironment* env) {
  if (n == m_currentFrame) return MakeBlankFrame(env);
  if (n != m_currentFrame + 1) {
    char message[128];
    std::snprintf(message, sizeof message,
                  "Korvala: ERROR -> Only linear decoding is allowed (current frame index = %d, "
                  "requested frame = %d).",
                  m_currentFrame, n);
    env->ThrowError("%s", message);
  }
  m_currentFrame = n;

  PVideoFrame frame = env->NewVideoFrame(m_vi, 64);
  for (;;) {
    if (m_drained) return MakeBlankFrame(env);

    int work = GetFreeFrameSurface();
    if (work < 0) env->ThrowError("Korvala: ERROR -> GetFreeFrameSurface() -> No free frame surfaces");

    mfxFrameSurface1* out = nullptr;
    mfxSyncPoint sync = nullptr;
    mfxStatus status;
    for (;;) {
      status = m_decoder->DecodeFrameAsync(m_activeBitstream, m_pmfxSurfaces[work], &out, &sync);
      if (status == MFX_ERR_MORE_SURFACE) {
        work = GetFreeFrameSurface();
        if (work < 0) env->ThrowError("Korvala: ERROR -> GetFreeFrameSurface() -> No free frame surfaces");
      } else if (status == MFX_ERR_MORE_DATA) {
        if (!m_activeBitstream) {
          m_drained = 1;
          break;
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
    if (m_drained) continue;

    WaitForPicture(sync, env);
    if (!out) continue;

    const uint16_t view = out->Info.FrameId.ViewId;
    if (static_cast<uint32_t>(m_viewId) <= 1 && view != m_viewId) continue;

    if (m_vi.pixel_type == VideoInfo::CS_YV12 && m_viewId == -2 && view == 0) {
      if (n == 0) {
        Stash(*out);
        continue;
      }
      CopySurface(frame, BufferY.get(), BufferUV.get(), out->Data.Pitch, env);
      Stash(*out);
      return frame;
    }
    CopySurface(frame, out->Data.Y, out->Data.UV, out->Data.Pitch, env);
    return frame;
  }
}

bool __stdcall Korvala::GetParity(int) { return false; }

void __stdcall Korvala::GetAudio(void*, int64_t, int64_t, IScriptEnvironment*) {}

int __stdcall Korvala::SetCacheHints(int, int) { return 0; }

const VideoInfo& __stdcall Korvala::GetVideoInfo() { return m_vi; }
