#pragma once
// The Korvala source clip: one Media SDK decoder session over one or two elementary streams.
#include <cstdint>
#include <vector>

#include "avisynth.h"
#include <mfxvideo++.h>
#include <mfxmvc.h>

#include "aligned_buffer.h"
#include "pixels.h"
#include "property_writer.h"
#include "stream_reader.h"

// IClip comes first so that the host's IClip* is the object's own address.
class Korvala : public IClip, private korvala::ReaderState {
 public:
  Korvala(const char* sourceFileAVC, const char* sourceFileMVC, int numFrames, int viewId,
          IScriptEnvironment* env);
  ~Korvala() override;

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override;
  bool __stdcall GetParity(int n) override;
  void __stdcall GetAudio(void* buf, int64_t start, int64_t count, IScriptEnvironment* env) override;
  int __stdcall SetCacheHints(int cachehints, int frame_range) override;
  const VideoInfo& __stdcall GetVideoInfo() override;

  virtual void ReleaseExtensionBuffers();
  virtual void FreeViewDescription();
  virtual void AttachExtensionBuffers();

  Korvala(const Korvala&) = delete;
  Korvala& operator=(const Korvala&) = delete;

 private:
  void OpenInputs(const char* sourceFileAVC, const char* sourceFileMVC, IScriptEnvironment* env);
  void OpenSession(IScriptEnvironment* env);
  bool ProbeCodec(mfxU32 codecId);
  bool ChooseCodecAndDecodeHeader(IScriptEnvironment* env);
  int DecodeMVCHeader(IScriptEnvironment* env);
  mfxStatus AllocateViewDescription();
  void AllocateSurfaces(const mfxFrameAllocRequest& request, IScriptEnvironment* env);
  void DescribeClip(int numFrames);
  void ReleaseAll();

  // Where a picture's display area starts in its surface.
  struct Origin {
    int x = 0;
    int y = 0;
  };

  int GetFreeFrameSurface() const;
  PVideoFrame MakeBlankFrame(IScriptEnvironment* env);
  PVideoFrame& Slot(int n) { return m_window[n % kWindowFrames]; }
  void RaiseLinearDecoding(int n, IScriptEnvironment* env);
  PVideoFrame DecodeForwardTo(int n, IScriptEnvironment* env);
  PVideoFrame NextFrame(int k, bool keep, IScriptEnvironment* env);
  mfxFrameSurface1* NextPicture(IScriptEnvironment* env);
  mfxStatus Refill(IScriptEnvironment* env);
  void WaitForPicture(mfxSyncPoint sync, IScriptEnvironment* env);
  Origin OriginOf(const mfxFrameSurface1& surface) const;
  void CopySurface(PVideoFrame& frame, const uint8_t* y, const uint8_t* uv, int pitch, Origin origin,
                   IScriptEnvironment* env);
  void Stash(const mfxFrameSurface1& surface);

  // Frames already made stay here, so that a request a little out of order, or again, gets its
  // picture. Prefetch(8) asks for up to 16 frames (two per thread) beyond the one the script
  // waits for, and the serialized clip may get those requests in any order: the one the script
  // waits for can come after all 16. Behind SelectEven or SelectOdd, the usual way to take one
  // view of ViewId 2, they are every other frame of this clip: 33 frames from the oldest request
  // to the newest made.
  static constexpr int kPrefetchThreads = 8;
  static constexpr int kWindowFrames = 2 * (2 * kPrefetchThreads) + 1;

  VideoInfo m_vi{};
  int32_t m_viewId = 0;
  int32_t m_currentFrame = -1;
  int32_t m_windowFirst = 0;  // frames before it were passed over in a jump, never kept
  int32_t m_drained = 0;
  PVideoFrame m_window[kWindowFrames];
  korvala::AlignedBytes BufferY;
  korvala::AlignedBytes BufferUV;
  size_t m_stashLumaBytes = 0;    // capacity of each stash plane, slack excluded
  size_t m_stashChromaBytes = 0;
  Origin m_stashOrigin;
  MFXVideoSession m_session;
  MFXVideoDECODE* m_decoder = nullptr;
  korvala::AlignedBytes m_bitstreamData;
  mfxBitstream m_bitstream{};
  mfxBitstream* m_activeBitstream = nullptr;
  mfxVideoParam m_videoParams{};
  mfxFrameSurface1** m_pmfxSurfaces = nullptr;
  std::vector<mfxExtBuffer*> m_extensionBuffers;
  korvala::AlignedBytes m_psurfaceBuffers;
  uint16_t m_numSurfaces = 0;
  bool m_hevc = false;
  bool m_sse2 = false;
  bool m_ssse3 = false;
  bool m_avx2 = false;
  bool m_pluginLoaded = false;
  korvala::PixelPaths m_paths;

  // Frame properties; the stashed base picture's travel with it.
  korvala::PropertyWriter m_properties;
  korvala::PictureFacts m_stashPicture;
};
