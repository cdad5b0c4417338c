#pragma once
// The Korvala source clip: one Media SDK decoder session over one or two elementary streams.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "avisynth.h"
#include <mfxvideo++.h>
#include <mfxmvc.h>

#include "aligned_buffer.h"
#include "container_input.h"
#include "index_scan.h"
#include "pixels.h"
#include "property_writer.h"
#include "stream_reader.h"
#include "unit_index.h"

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
  void DescribeClip(int numFrames, const h264::Sps* sps, IScriptEnvironment* env);
  std::vector<uint8_t> StreamStart();  // the first bytes of the base (or only) stream
  void ReleaseAll();

  // Input: raw bytes, or access units out of the index.
  void StartUnits(bool restart, korvala::Codec codec = korvala::Codec::kH264);
  mfxStatus FillBitstream(IScriptEnvironment* env);
  void RewindInput();
  bool IndexReady();  // scans the rest of the input once, then true while units are indexed
  korvala::FileScan* DependentScan() { return m_index && m_index->TwoStreams() ? &m_scanMVC : nullptr; }

  // Where a picture's display area starts in its surface.
  struct Origin {
    int x = 0;
    int y = 0;
  };
  // A picture of the stream: its output-order frame and view.
  struct Picture {
    int64_t frame = -1;
    int view = 0;
  };

  int GetFreeFrameSurface() const;
  PVideoFrame MakeBlankFrame(IScriptEnvironment* env);
  [[noreturn]] void RaiseLinearDecoding(int n, IScriptEnvironment* env);
  Picture TargetOf(int n) const;
  int64_t ClipIndexOf(const Picture& p) const;
  bool Identified() const;
  bool Behind(int n) const;
  void Seek(int n, IScriptEnvironment* env);
  PVideoFrame DecodeTo(int n, IScriptEnvironment* env);
  Picture Identify(const mfxFrameSurface1& surface);
  void Keep(int64_t n, PVideoFrame frame);
  int Below() const;
  mfxFrameSurface1* NextPicture(IScriptEnvironment* env);
  void WaitForPicture(mfxSyncPoint sync, IScriptEnvironment* env);
  Origin OriginOf(const mfxFrameSurface1& surface) const;
  void CopySurface(PVideoFrame& frame, const uint8_t* y, const uint8_t* uv, int pitch, Origin origin,
                   IScriptEnvironment* env);

  // Frames made lately stay here, so that a request a little out of order, or again, gets its
  // picture without decoding. Prefetch(8) asks for up to 16 frames (two per thread) beyond the
  // one the script waits for, and the serialized clip may get those requests in any order: the
  // one the script waits for can come after all 16. Behind SelectEven or SelectOdd, the usual
  // way to take one view of ViewId 2, they are every other frame of this clip: 33 frames from
  // the oldest request to the newest made. Reverse() finds the 33 frames before a seek's
  // target here.
  static constexpr int kPrefetchThreads = 8;
  static constexpr int kWindowFrames = 2 * (2 * kPrefetchThreads) + 1;
  static constexpr int kBackwardFrames = 2 * kWindowFrames;
  // Timestamps the reader gives the units: this plus the unit's number, far from zero so that
  // a runtime which passes none through is told apart.
  static constexpr mfxU64 kStampBase = mfxU64{1} << 32;

  VideoInfo m_vi{};
  int32_t m_viewId = 0;
  int32_t m_currentFrame = -1;  // the last frame requested
  bool m_backward = false;      // ... and it lay before the one requested before it
  int32_t m_drained = 0;
  bool m_twoViews = false;      // the decoder delivers both views
  bool m_counted = false;       // the frame count is the stream's own
  int64_t m_frames = -1;        // frames (per view) of the stream, once known
  std::map<int64_t, PVideoFrame> m_window;

  // Input state.
  enum class Feed { kRaw, kUnits };
  Feed m_feed = Feed::kRaw;
  std::unique_ptr<korvala::UnitIndex> m_index;
  korvala::FileScan m_scanAVC;
  korvala::FileScan m_scanMVC;
  std::string m_pathAVC, m_pathMVC;
  std::unique_ptr<korvala::ContainerInput> m_container;  // the input is a container
  bool m_feedDependent = false;  // the dependent view's units go to the decoder
  uint32_t m_nextUnit = 0;       // the next unit to feed
  bool m_inputEnded = false;

  // Output state of the decoding run since the start or the last seek.
  int64_t m_runTop = -1;         // the highest clip frame this run has passed
  bool m_stampsSeen = false;     // the runtime hands the units' timestamps back
  bool m_stampsMissing = false;  // ... or it does not: pictures are counted
  int64_t m_countFrom = 0;       // the frame of the run's first picture, when counting
  int64_t m_seekFloor = 0;       // the frame of the run's random access point
  int64_t m_counts[2] = {0, 0};  // pictures of each view this run, when counting
  std::deque<std::pair<uint64_t, int64_t>> m_unitFrames;  // unit -> frame of its base picture

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

  korvala::PropertyWriter m_properties;  // frame properties
};
