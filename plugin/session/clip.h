#pragma once
// The decoding core: one Media SDK decoder session over the clip's input (one or two elementary
// streams, or a container's), answering "describe the clip" and "frame n" in any order. It knows
// no host: frames are filled in memory the front end makes, their properties are plain values,
// and errors are SourceErrors carrying the script's message.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <mfxvideo++.h>
#include <mfxmvc.h>

#include "aligned_buffer.h"
#include "container_input.h"
#include "host_frame.h"
#include "index_cache.h"
#include "index_progress.h"
#include "index_scan.h"
#include "pixels.h"
#include "property_source.h"
#include "source_error.h"
#include "stream_reader.h"
#include "unit_index.h"

namespace korvala {

// What the clip shows: 4:2:0 frames of 8 bits (YV12) or 10 bits in 16-bit samples.
struct ClipFormat {
  int width = 0;
  int height = 0;
  bool tenBit = false;
  uint32_t fpsNum = 0, fpsDen = 0;
  int numFrames = 0;
};

}  // namespace korvala

// One clip's decoder: Korvala(SourceFileAVC, SourceFileMVC, NumFrames, ViewId) of every host.
// Serial: one caller at a time.
class Korvala : private korvala::ReaderState {
 public:
  // Throws SourceError. `paths`: the instruction sets the pixel copies may use.
  // `progress`, when given, hears of the index's scan and cache; it must outlive the clip.
  Korvala(const char* sourceFileAVC, const char* sourceFileMVC, int numFrames, int viewId,
          korvala::PixelPaths paths, korvala::IndexProgress* progress = nullptr);
  ~Korvala();

  const korvala::ClipFormat& Format() const { return m_format; }
  // Frame n (blank past the end and for n < 0), in a frame `maker` makes. Throws SourceError.
  korvala::FramePtr GetFrame(int n, korvala::FrameMaker& maker);

  Korvala(const Korvala&) = delete;
  Korvala& operator=(const Korvala&) = delete;

 private:
  void ReleaseExtensionBuffers();
  void FreeViewDescription();
  void AttachExtensionBuffers();
  void OpenInputs(const char* sourceFileAVC, const char* sourceFileMVC);
  void OpenSession();
  bool ProbeCodec(mfxU32 codecId);
  bool ChooseCodecAndDecodeHeader();
  int DecodeMVCHeader();
  mfxStatus AllocateViewDescription();
  void AllocateSurfaces(const mfxFrameAllocRequest& request);
  void DescribeClip(int numFrames, const h264::Sps* sps);
  std::vector<uint8_t> StreamStart();  // the first bytes of the base (or only) stream
  void ReleaseAll();

  // Input (decoder_feed.cpp): raw bytes, or access units out of the index.
  void StartUnits(bool restart, korvala::Codec codec = korvala::Codec::kH264);
  mfxStatus FillBitstream();
  void RewindInput(uint32_t unit = 0);  // the bitstream emptied, feeding again from `unit`
  bool IndexReady();  // scans the rest of the input once, then true while units are indexed
  bool UnitsKnown() const;  // every unit's frame is known: a finished index, or a disc title's
  struct Rescanned {};      // thrown once a title is scanned instead: the request is decoded again
  void ScanTitleInstead();  // the disc's information disagreed with its streams
  bool LoadKeptIndex(bool pair, korvala::Codec codec);  // the index of an earlier run, when it still fits
  void KeepIndex();  // a freshly finished index, for the next run
  void CutToPlayItems();
  void ScanWithProgress();
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
  korvala::FramePtr MakeBlankFrame(korvala::FrameMaker& maker);
  [[noreturn]] void RaiseLinearDecoding(int n);
  Picture TargetOf(int n) const;
  int64_t ClipIndexOf(const Picture& p) const;
  bool Identified() const;
  bool Behind(int n) const;
  void Seek(int n);
  korvala::FramePtr DecodeTo(int n, korvala::FrameMaker& maker);
  Picture Identify(const mfxFrameSurface1& surface);
  void Keep(int64_t n, korvala::FramePtr frame);
  void Give(int n);
  int Below() const;
  mfxFrameSurface1* NextPicture();
  void WaitForPicture(mfxSyncPoint sync);
  Origin OriginOf(const mfxFrameSurface1& surface) const;
  void CopySurface(korvala::HostFrame& frame, const uint8_t* y, const uint8_t* uv, int pitch, Origin origin);

  // Frames made and not yet given out stay here, so that a request a little out of order gets
  // its picture without decoding. Prefetch(8) asks for up to 16 frames (two per thread) beyond
  // the one the script waits for, and the serialized clip may get those requests in any order:
  // the one the script waits for can come after all 16. Behind SelectEven or SelectOdd, the
  // usual way to take one view of ViewId 2, they are every other frame of this clip: 33 frames
  // from the oldest request to the newest made. Reverse() finds the frames before a seek's
  // target here. A frame given out is the host's to cache: only the last few stay, for one
  // asked again at once. Every frame held is one the host can't reuse the memory of, and a
  // fresh frame costs its pages' first touch, which outweighed the copy into it.
  static constexpr int kPrefetchThreads = 8;
  static constexpr int kWindowFrames = 2 * (2 * kPrefetchThreads) + 1;
  static constexpr int kBackwardFrames = 2 * kWindowFrames;
  static constexpr size_t kGivenFrames = 4;
  // Timestamps the reader gives the units: this plus the unit's number, far from zero so that
  // a runtime which passes none through is told apart.
  static constexpr mfxU64 kStampBase = mfxU64{1} << 32;

  korvala::ClipFormat m_format;
  int32_t m_viewId = 0;
  int32_t m_currentFrame = -1;  // the last frame requested
  bool m_backward = false;      // ... and it lay before the one requested before it
  int32_t m_drained = 0;
  bool m_twoViews = false;      // the decoder delivers both views
  bool m_counted = false;       // the frame count is the stream's own
  int64_t m_frames = -1;        // frames (per view) of the stream, once known
  struct Kept {
    korvala::FramePtr frame;
    bool given = false;  // ... out already: the host's cache has it
  };
  std::map<int64_t, Kept> m_window;
  std::deque<int64_t> m_given;  // the frames given out last, oldest first, which stay kept

  // Input state.
  enum class Feed { kRaw, kUnits };
  Feed m_feed = Feed::kRaw;
  std::unique_ptr<korvala::UnitIndex> m_index;
  std::unique_ptr<korvala::TitleUnits> m_title;  // a disc title opened from its clip information
  korvala::UnitTable* m_units = nullptr;         // what is fed: one of the two
  bool m_titleLied = false;                      // ... and its streams disagreed with it
  bool m_serving = false;                        // the clip is made: frames are being asked for
  korvala::FileScan m_scanAVC;
  korvala::FileScan m_scanMVC;
  std::string m_pathAVC, m_pathMVC;  // as given: what the kept index is keyed by
  korvala::IndexKey m_keptKey;   // what the index is kept under
  bool m_keep = false;           // ... once the scan has finished it
  uint64_t m_scanTotal = 0;      // bytes the scan reads, for the progress
  korvala::IndexProgress* m_progress = nullptr;
  std::unique_ptr<korvala::ContainerInput> m_input;  // each file opened once, read through it
  bool m_elementary = false;                         // elementary files rather than a container
  bool m_feedDependent = false;  // the dependent view's units go to the decoder
  uint32_t m_nextUnit = 0;       // the next unit to feed
  bool m_inputEnded = false;

  // Output state of the decoding run since the start or the last seek.
  int64_t m_runTop = -1;         // the highest clip frame this run has passed
  int64_t m_viewTop[2] = {-1, -1};  // ... of each view
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
  bool m_pluginLoaded = false;
  korvala::PixelPaths m_paths;

  korvala::PropertySource m_properties;  // frame properties
};
