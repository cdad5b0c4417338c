// Construction and destruction of the core: inputs, session, header, surfaces, description.
#include "clip.h"

#include <cstring>
#include <new>

#include <mfxplugin.h>

#include "clip_description.h"
#include "clip_input.h"
#include "file_io.h"
#include "module_dir.h"


using korvala::Raise;

namespace {

const char* const kBadFrameCount = "Korvala: ERROR -> NumFrames must be a frame count (0 counts the stream)";
constexpr mfxU32 kBitstreamBytes = korvala::kStreamBufferBytes;
constexpr mfxU16 kApiMajor = 1;
constexpr mfxU16 kApiMinor = 3;
// How often DecodeMVCHeader asks again without new input for an answer it can't act on.
constexpr int kHeaderRetries = 16;
// Where the SPS of a stream is looked for.
constexpr size_t kStreamStartBytes = 1 << 20;

}  // namespace

Korvala::Korvala(const char* sourceFileAVC, const char* sourceFileMVC, int numFrames, int viewId,
                 korvala::PixelPaths paths, korvala::IndexProgress* progress)
    : m_viewId(viewId), m_progress(progress), m_paths(paths) {
  // A constructor that raises never reaches the destructor: release what was taken, rethrow.
  try {
    if (numFrames < 0) Raise(kBadFrameCount);
    OpenInputs(sourceFileAVC ? sourceFileAVC : "", sourceFileMVC ? sourceFileMVC : "");
    {
      // The dispatcher finds the runtime beside the plugin while the session opens.
      korvala::ModuleDirectory moved;
      OpenSession();
    }

    std::memset(&m_videoParams, 0, sizeof m_videoParams);
    m_videoParams.IOPattern = MFX_IOPATTERN_OUT_SYSTEM_MEMORY;

    std::memset(&m_bitstream, 0, sizeof m_bitstream);
    m_bitstreamData = korvala::AllocateAligned(kBitstreamBytes + korvala::kBufferSlack);
    if (!m_bitstreamData) Raise("Korvala: ERROR -> NULL pointer -> m_bitstream.Data");
    m_bitstream.Data = m_bitstreamData.get();
    m_bitstream.MaxLength = kBitstreamBytes;
    m_activeBitstream = &m_bitstream;

    m_decoder = new MFXVideoDECODE(static_cast<mfxSession>(m_session));

    if (!ChooseCodecAndDecodeHeader()) Raise("Korvala: Invalid or not suported stream header");

    mfxFrameAllocRequest request;
    std::memset(&request, 0, sizeof request);
    if (m_decoder->QueryIOSurf(&m_videoParams, &request) < MFX_ERR_NONE)
      Raise("Korvala: ERROR -> QueryIOSurf");

    AllocateSurfaces(request);

    if (m_decoder->Init(&m_videoParams) < MFX_ERR_NONE) Raise("Korvala: Can't init decoder");

    // The SPS the decoder was fed, for the rate and the frame properties where a runtime is silent.
    h264::Sps sps;
    bool haveSps = false;
    if (m_videoParams.mfx.CodecId == MFX_CODEC_AVC) {
      const std::vector<uint8_t> start = StreamStart();
      haveSps = h264::FindSps(start.data(), start.size(), sps);
    }
    DescribeClip(numFrames, haveSps ? &sps : nullptr);
    m_properties.Learn(m_session, *m_decoder, m_videoParams, haveSps ? &sps : nullptr, m_pmfxSurfaces, m_numSurfaces,
                       m_format.fpsNum, m_format.fpsDen);
    m_serving = true;
  } catch (...) {
    ReleaseAll();
    throw;
  }
}

void Korvala::OpenInputs(const char* sourceFileAVC, const char* sourceFileMVC) {
  // Every file is opened by these names from here on.
  m_pathAVC = korvala::FileNameFromScript(sourceFileAVC);
  m_pathMVC = korvala::FileNameFromScript(sourceFileMVC);
  korvala::ClipInput opened = korvala::OpenClipInput(m_pathAVC, m_pathMVC);
  m_input = std::move(opened.input);
  m_elementary = opened.elementary;
  m_mvcMode = m_input->TwoStreams() ? 1 : 0;
  m_hevc = opened.hevc || m_input->Codec() == korvala::ContainerCodec::kHevc;
  m_raw = m_input->OpenSequential();
  const char* message = "";
  if (m_mvcMode && !korvala::AllocateUnitBuffers(*this, &message)) Raise(message);
}

void Korvala::OpenSession() {
  mfxVersion version;
  version.Major = kApiMajor;
  version.Minor = kApiMinor;

  mfxSession probe = nullptr;
  mfxStatus probed = MFXInit(MFX_IMPL_HARDWARE_ANY, &version, &probe);
  MFXClose(probe);

  if (probed == MFX_ERR_NONE) {
    if (m_session.Init(MFX_IMPL_HARDWARE_ANY, &version) != MFX_ERR_NONE)
      Raise("Korvala: Can't init decoder session");
    if (m_hevc) {
      MFXVideoUSER_Load(static_cast<mfxSession>(m_session), &MFX_PLUGINID_HEVCD_HW, 0);
      m_pluginLoaded = true;
    }
  } else {
    if (m_session.Init(MFX_IMPL_SOFTWARE, &version) != MFX_ERR_NONE)
      Raise("Korvala: Can't init decoder session");
  }
}

bool Korvala::ProbeCodec(mfxU32 codecId) {
  m_videoParams.mfx.CodecId = codecId;
  m_feed = Feed::kRaw;
  RewindInput();
  korvala::FillRaw(*this, &m_bitstream);
  return m_decoder->DecodeHeader(&m_bitstream, &m_videoParams) == MFX_ERR_NONE;
}

bool Korvala::ChooseCodecAndDecodeHeader() {
  // H.264, HEVC and MPEG-2 streams are fed by access units, which makes them seekable; VC-1
  // goes as raw bytes.
  if (m_hevc) {
    if (!ProbeCodec(MFX_CODEC_HEVC)) return false;
    StartUnits(true, korvala::Codec::kHevc);
    return true;
  }
  if (m_mvcMode || m_viewId != 0) return DecodeMVCHeader() == 1;
  for (mfxU32 codec : {MFX_CODEC_AVC, MFX_CODEC_MPEG2, MFX_CODEC_VC1})
    if (ProbeCodec(codec)) {
      if (codec == MFX_CODEC_AVC) StartUnits(true);
      else if (codec == MFX_CODEC_MPEG2) StartUnits(true, korvala::Codec::kMpeg2);
      else RewindInput();
      return true;
    }
  return DecodeMVCHeader() == 1;
}

int Korvala::DecodeMVCHeader() {
  m_videoParams.mfx.CodecId = MFX_CODEC_AVC;
  StartUnits(true);

  // An earlier pass over the same clip (the single-view chain falls through to here) may have
  // attached a description already; one is enough.
  if (m_extensionBuffers.empty()) {
    auto* description = new (std::nothrow) mfxExtMVCSeqDesc();
    if (!description) return 0;
    description->Header.BufferId = MFX_EXTBUFF_MVC_SEQ_DESC;
    description->Header.BufferSz = 128;
    m_extensionBuffers.push_back(&description->Header);
  }
  AttachExtensionBuffers();

  mfxStatus status = MFX_ERR_MORE_DATA;
  int unanswered = 0;
  for (;;) {
    if (status == MFX_ERR_MORE_DATA) {
      if (FillBitstream() < MFX_ERR_NONE) return 0;
    }
    status = m_decoder->DecodeHeader(&m_bitstream, &m_videoParams);
    if (status == MFX_ERR_NOT_ENOUGH_BUFFER) break;
    // A stream without a multiview extension is complete as it is: one view.
    if (status == MFX_ERR_NONE) break;
    if (status == MFX_ERR_MORE_DATA) continue;
    // Any other answer would repeat forever without new input: give it a few tries, then fail.
    if (status < MFX_ERR_NONE || ++unanswered >= kHeaderRetries) return 0;
  }
  AllocateViewDescription();
  // Decoding starts again from the first unit, each unit with its own timestamp.
  RewindInput();
  return 1;
}

mfxStatus Korvala::AllocateViewDescription() {
  if (m_extensionBuffers.empty() || !m_extensionBuffers[0]) return MFX_ERR_MEMORY_ALLOC;
  auto* description = reinterpret_cast<mfxExtMVCSeqDesc*>(m_extensionBuffers[0]);
  // Arrays from an earlier header pass are replaced, not leaked.
  delete[] description->View;
  delete[] description->ViewId;
  delete[] description->OP;
  description->View = nullptr;
  description->ViewId = nullptr;
  description->OP = nullptr;

  description->View = new (std::nothrow) mfxMVCViewDependency[description->NumView]();
  if (!description->View) return MFX_ERR_MEMORY_ALLOC;
  description->NumViewAlloc = description->NumView;
  description->ViewId = new (std::nothrow) mfxU16[description->NumViewId]();
  if (!description->ViewId) return MFX_ERR_MEMORY_ALLOC;
  description->NumViewIdAlloc = description->NumViewId;
  description->OP = new (std::nothrow) mfxMVCOperationPoint[description->NumOP]();
  if (!description->OP) return MFX_ERR_MEMORY_ALLOC;
  description->NumOPAlloc = description->NumOP;
  return MFX_ERR_NONE;
}

void Korvala::AttachExtensionBuffers() {
  m_videoParams.ExtParam = m_extensionBuffers.data();
  m_videoParams.NumExtParam = static_cast<mfxU16>(m_extensionBuffers.size());
}

void Korvala::ReleaseExtensionBuffers() {
  if (m_videoParams.NumExtParam == 0) return;
  for (mfxExtBuffer* buffer : m_extensionBuffers)
    delete reinterpret_cast<mfxExtMVCSeqDesc*>(buffer);
  m_extensionBuffers.clear();
  m_videoParams.ExtParam = nullptr;
  m_videoParams.NumExtParam = 0;
}

void Korvala::FreeViewDescription() {
  if (m_videoParams.NumExtParam == 0 || !m_videoParams.ExtParam[0]) return;
  auto* description = reinterpret_cast<mfxExtMVCSeqDesc*>(m_videoParams.ExtParam[0]);
  delete[] description->View;
  description->View = nullptr;
  delete[] description->ViewId;
  description->ViewId = nullptr;
  delete[] description->OP;
  description->OP = nullptr;
  delete description;
  m_videoParams.ExtParam[0] = nullptr;
}

void Korvala::AllocateSurfaces(const mfxFrameAllocRequest& request) {
  m_numSurfaces = request.NumFrameSuggested;
  const mfxU16 width = static_cast<mfxU16>((request.Info.Width + 31) & ~31);
  const mfxU16 height = static_cast<mfxU16>((request.Info.Height + 31) & ~31);
  const size_t lumaBytes = static_cast<size_t>(width) * height;

  size_t surfaceBytes = 0;
  mfxU16 pitch = 0;
  size_t chromaOffset = 0;
  size_t vOffset = 0;
  switch (request.Info.FourCC) {
    case MFX_FOURCC_NV12:
      surfaceBytes = lumaBytes * 3 / 2;
      pitch = width;
      chromaOffset = lumaBytes;
      vOffset = 1;
      break;
    case MFX_FOURCC_P010:
      surfaceBytes = lumaBytes * 3;
      pitch = static_cast<mfxU16>(2 * width);
      chromaOffset = 2 * lumaBytes;
      vOffset = 2;
      break;
    default:
      Raise("Korvala: Not supported pixel format");
  }

  m_psurfaceBuffers = korvala::AllocateAligned(m_numSurfaces * surfaceBytes + 4096);
  if (!m_psurfaceBuffers) Raise("NULL pointer -> m_psurfaceBuffers");
  m_pmfxSurfaces = new (std::nothrow) mfxFrameSurface1*[m_numSurfaces ? m_numSurfaces : 1]();
  if (!m_pmfxSurfaces) Raise("NULL pointer -> m_pmfxSurfaces");

  for (mfxU16 i = 0; i < m_numSurfaces; ++i) {
    auto* surface = new (std::nothrow) mfxFrameSurface1();
    if (!surface) Raise("NULL pointer -> m_pmfxSurfaces");
    m_pmfxSurfaces[i] = surface;
    surface->Info = m_videoParams.mfx.FrameInfo;
    surface->Data.Y = m_psurfaceBuffers.get() + i * surfaceBytes;
    surface->Data.UV = surface->Data.Y + chromaOffset;
    surface->Data.V = surface->Data.UV + vOffset;
    surface->Data.Pitch = pitch;
  }

}

std::vector<uint8_t> Korvala::StreamStart() {
  std::vector<uint8_t> start(kStreamStartBytes);
  std::unique_ptr<korvala::ByteSource> stream = m_input->OpenSequential();
  start.resize(stream->ReadAt(0, start.data(), start.size()));
  return start;
}

void Korvala::DescribeClip(int numFrames, const h264::Sps* sps) {
  const mfxFrameInfo& info = m_videoParams.mfx.FrameInfo;
  m_format = korvala::ClipFormat();
  const korvala::DisplaySize size =
      korvala::ChooseDisplaySize(info.Width, info.Height, info.CropX, info.CropY, info.CropW, info.CropH);
  m_format.width = size.width;
  m_format.height = size.height;
  m_format.tenBit = info.FourCC == MFX_FOURCC_P010;
  uint32_t numerator = info.FrameRateExtN;
  uint32_t denominator = info.FrameRateExtD;
  // The rate of an H.264 stream without timing in its VUI (or of HEVC), which a runtime can only
  // guess, comes from the container when it gives one.
  if (!m_elementary) {
    const bool streamTimed = info.FrameRateExtN != 0 && info.FrameRateExtD != 0 &&
                             (m_videoParams.mfx.CodecId == MFX_CODEC_MPEG2 || m_videoParams.mfx.CodecId == MFX_CODEC_VC1 ||
                              (sps && sps->timingInfo && sps->numUnitsInTick != 0 && sps->timeScale != 0));
    uint32_t n = 0, d = 0;
    m_input->FrameRate(n, d);
    if (!streamTimed && n != 0 && d != 0) {
      numerator = n;
      denominator = d;
    }
  }
  korvala::ReduceFrameRate(numerator, denominator);
  m_format.fpsNum = numerator;
  m_format.fpsDen = denominator;

  const auto* description = m_videoParams.NumExtParam && m_videoParams.ExtParam[0]
                                ? reinterpret_cast<const mfxExtMVCSeqDesc*>(m_videoParams.ExtParam[0])
                                : nullptr;
  m_twoViews = description && description->NumView > 1 && (m_feedDependent || !m_mvcMode);
  // Left out or 0: the stream's own count, from the index.
  int64_t frames = numFrames;
  // Frames a playlist's items cut away are told apart only by the finished index.
  if (m_input->Cut()) IndexReady();
  if (numFrames == 0) {
    m_counted = true;
    if (IndexReady()) m_frames = m_units->FrameCount();
    frames = m_frames < 0 ? 0 : m_frames;
  }
  const bool doubled = m_viewId == 2 || m_viewId == -2;
  if (doubled) frames *= 2;
  if (frames > INT32_MAX) Raise(kBadFrameCount);
  m_format.numFrames = static_cast<int>(frames);
  if (doubled) m_format.fpsNum *= 2;
}

Korvala::~Korvala() { ReleaseAll(); }

// Everything the clip holds, in the order the Media SDK wants it back; safe to call twice.
void Korvala::ReleaseAll() {
  m_raw.reset();
  m_unitsAVC.reset();
  m_unitsMVC.reset();
  m_scanAVC = korvala::FileScan();
  m_scanMVC = korvala::FileScan();
  if (m_decoder) {
    m_decoder->Close();
    delete m_decoder;
    m_decoder = nullptr;
  }
  if (m_pmfxSurfaces) {
    for (mfxU16 i = 0; i < m_numSurfaces; ++i) delete m_pmfxSurfaces[i];
    delete[] m_pmfxSurfaces;
    m_pmfxSurfaces = nullptr;
  }
  m_psurfaceBuffers.reset();
  if (m_pluginLoaded) {
    MFXVideoUSER_UnLoad(static_cast<mfxSession>(m_session), &MFX_PLUGINID_HEVCD_HW);
    m_pluginLoaded = false;
  }
  if (static_cast<mfxSession>(m_session)) m_session.Close();
  m_bitstreamData.reset();
  m_bitstream.Data = nullptr;
  DataAVC.reset();
  DataMVC.reset();
  if (m_videoParams.NumExtParam != 0) {
    FreeViewDescription();
    ReleaseExtensionBuffers();
  } else {
    // Attached nothing yet (construction failed early): the list still owns its description.
    for (mfxExtBuffer* buffer : m_extensionBuffers) delete reinterpret_cast<mfxExtMVCSeqDesc*>(buffer);
  }
  m_extensionBuffers.clear();
  m_extensionBuffers.shrink_to_fit();
  m_units = nullptr;
  m_title.reset();
  m_index.reset();
  m_input.reset();
}
