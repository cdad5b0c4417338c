// Construction and destruction of the core: inputs, session, header, surfaces, description.
#include "clip.h"

#include <cstring>
#include <new>

#include <mfxplugin.h>

#include "clip_description.h"
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

std::shared_ptr<korvala::FileSource> OpenShared(const char* path) {
#ifdef _WIN32
  korvala::FilePtr file = korvala::OpenFile(path, "rbS");
#else
  korvala::FilePtr file = korvala::OpenFile(path, "rb");  // "S" is a Windows-only hint
#endif
  return file ? std::make_shared<korvala::FileSource>(std::move(file)) : nullptr;
}

// One of the readers of a file opened once. Each read names its offset, so they can take turns.
class SharedFile final : public korvala::ByteSource {
 public:
  explicit SharedFile(std::shared_ptr<korvala::FileSource> file) : file_(std::move(file)) {}
  size_t ReadAt(uint64_t offset, uint8_t* to, size_t n) override { return file_->ReadAt(offset, to, n); }

 private:
  std::shared_ptr<korvala::FileSource> file_;
};

std::unique_ptr<korvala::ByteSource> Reader(const std::shared_ptr<korvala::FileSource>& file) {
  return std::make_unique<SharedFile>(file);
}

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
      haveSps = korvala::FindSps(start.data(), start.size(), sps);
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
  const std::string nameAVC = korvala::FileNameFromScript(sourceFileAVC);
  const std::string nameMVC = korvala::FileNameFromScript(sourceFileMVC);
  sourceFileAVC = nameAVC.c_str();
  sourceFileMVC = nameMVC.c_str();
  m_pathAVC = nameAVC;
  m_pathMVC = nameMVC;
  const char* message = "";
  // A container is told by its content; its video is then read as the streams it holds.
  switch (korvala::OpenContainer(sourceFileAVC, sourceFileMVC, m_container, &message)) {
    case korvala::ContainerOpen::kFailed:
      Raise(message);
      break;
    case korvala::ContainerOpen::kOpened:
      m_mvcMode = m_container->TwoStreams() ? 1 : 0;
      m_hevc = m_container->Codec() == korvala::ContainerCodec::kHevc;
      m_raw = m_container->OpenSequential();
      if (m_mvcMode && !korvala::AllocateUnitBuffers(*this, &message)) Raise(message);
      return;
    case korvala::ContainerOpen::kNotContainer:
      break;
  }
  if (sourceFileMVC[0] != '\0') {
    m_mvcMode = 1;
    m_fileAVC = OpenShared(sourceFileAVC);
    if (!m_fileAVC) Raise("Korvala: Can't open Source File AVC");
    m_fileMVC = OpenShared(sourceFileMVC);
    if (!m_fileMVC) Raise("Korvala: Can't open Source File MVC");
    if (!korvala::AllocateUnitBuffers(*this, &message)) Raise(message);
    // Each file must begin with slices of its view, within its first megabyte (as its SPS).
    korvala::UnitIndex probe(true);
    korvala::FileScan base(Reader(m_fileAVC), kStreamStartBytes), dependent(Reader(m_fileMVC), kStreamStartBytes);
    base.Step(probe.Base());
    dependent.Step(probe.Dependent());
    uint8_t first = 0;
    const bool baseRead = m_fileAVC->ReadAt(0, &first, 1) == 1;
    const bool dependentRead = m_fileMVC->ReadAt(0, &first, 1) == 1;
    auto hasSlices = [](const korvala::StreamScanner& s) {
      for (const korvala::ScannedUnit& u : s.Units())
        if (u.slices) return true;
      return false;
    };
    if (!baseRead) Raise("Korvala: Can't read Source File AVC");
    if (!dependentRead) Raise("Korvala: Can't read Source File MVC");
    if (!hasSlices(probe.Base())) Raise("Korvala: ERROR -> No access unit delimiter in Source File AVC");
    if (!hasSlices(probe.Dependent())) Raise("Korvala: ERROR -> No access unit delimiter in Source File MVC");
  } else {
    m_fileAVC = OpenShared(sourceFileAVC);
    if (!m_fileAVC) Raise("Korvala: Can't open Source File");
    m_raw = Reader(m_fileAVC);
    m_hevc = korvala::IsHevcPath(sourceFileAVC);
  }
}

// From now on the decoder gets the stream's access units out of the index. The dependent view
// goes with them only when it is shown: the base view alone costs what the base file costs.
void Korvala::StartUnits(bool restart, korvala::Codec codec) {
  if (!m_units && m_container && codec == korvala::Codec::kH264 && !m_titleLied && (m_title = m_container->OpenTitle())) {
    // Nothing is scanned now: each stretch between two entry points is, when it is played.
    m_units = m_title.get();
    m_feedDependent = m_mvcMode != 0 && m_viewId != 0;
    m_unitsAVC = m_title->OpenUnits(0);
    if (m_feedDependent) m_unitsMVC = m_title->OpenUnits(1);
  }
  if (!m_units) {
    const bool pair = m_mvcMode != 0;
    m_feedDependent = pair && m_viewId != 0;
    // The dependent view is scanned even when it is not shown: its anchor pictures are what
    // proves that the base view's I pictures are places to start.
    m_index = std::make_unique<korvala::UnitIndex>(pair, codec);
    if (LoadKeptIndex(pair, codec)) {
      // The layout came with it: the units are read back by it, nothing is scanned.
      if (m_container) {
        m_unitsAVC = m_container->OpenUnits(0);
        if (m_feedDependent) m_unitsMVC = m_container->OpenUnits(1);
      } else {
        m_unitsAVC = Reader(m_fileAVC);
        if (m_feedDependent) m_unitsMVC = Reader(m_fileMVC);
      }
    } else if (m_container) {
      // One pass lays both views out for the scan; the readers read the units back by it.
      std::unique_ptr<korvala::ByteSource> base, dependent;
      m_container->OpenScan(pair, base, dependent);
      m_scanAVC = korvala::FileScan(std::move(base));
      m_unitsAVC = m_container->OpenUnits(0);
      if (pair) m_scanMVC = korvala::FileScan(std::move(dependent));
      if (m_feedDependent) m_unitsMVC = m_container->OpenUnits(1);
    } else {
      m_scanAVC = korvala::FileScan(Reader(m_fileAVC));
      m_unitsAVC = Reader(m_fileAVC);
      if (pair) m_scanMVC = korvala::FileScan(Reader(m_fileMVC));
      if (m_feedDependent) m_unitsMVC = Reader(m_fileMVC);
    }
    m_units = m_index.get();
  }
  m_feed = Feed::kUnits;
  if (restart) RewindInput();
}

void Korvala::RewindInput() {
  m_bitstream.DataOffset = 0;
  m_bitstream.DataLength = 0;
  m_nextUnit = 0;
  m_inputEnded = false;
  if (m_feed == Feed::kRaw) m_rawOffset = 0;
}

bool Korvala::UnitsKnown() const { return m_title || (m_index && m_index->Finished()); }

// A stretch's stream disagreed with what the disc said of it: the title is scanned whole, as
// an input without clip information is, and the request that found it is decoded again.
void Korvala::ScanTitleInstead() {
  m_titleLied = true;
  m_unitsAVC.reset();
  m_unitsMVC.reset();
  m_title.reset();
  m_units = nullptr;
  StartUnits(false);
  IndexReady();
  RewindInput();
  // Pictures already numbered by the title's units are in the decoder: a request starts again.
  // While the header is read there are none, and the units go on from the start.
  if (m_serving) throw Rescanned{};
}

bool Korvala::IndexReady() {
  if (m_title) return true;
  if (!m_index) return false;
  if (!m_index->Finished()) {
    if (m_progress) ScanWithProgress();
    korvala::ScanToEnd(*m_index, m_scanAVC, DependentScan());
    if (m_container && m_container->Cut()) CutToPlayItems();
    KeepIndex();
  }
  return m_index->Finished();
}

// A playlist's items show the frames presented between their IN and OUT times.
void Korvala::CutToPlayItems() {
  const std::vector<uint32_t>& units = m_index->FrameUnits();
  std::vector<bool> shown(units.size());
  for (size_t f = 0; f < units.size(); ++f) shown[f] = m_container->Shows(m_index->Unit(units[f]).offset[0]);
  m_index->Cut(shown);
}

// Single inputs are kept (elementary files, a TS or M2TS or SSIF, the two clips of a title,
// Matroska); a playlist's title is not.
bool Korvala::LoadKeptIndex(bool pair, korvala::Codec codec) {
  std::vector<std::string> files;
  if (m_container) {
    files = m_container->KeptFiles();
  } else {
    files.push_back(m_pathAVC);
    if (pair) files.push_back(m_pathMVC);
  }
  if (files.empty()) return false;
  const std::string form = std::string(m_container ? "container" : "elementary") + " codec " +
                           std::to_string(static_cast<int>(codec)) + (pair ? " both views" : " one view");
  if (!korvala::MakeIndexKey(files, form, m_keptKey)) return false;
  m_scanTotal = 0;
  for (const std::string& f : files) m_scanTotal += korvala::FileSize(f);
  const std::vector<uint8_t> bytes = korvala::ReadKeptIndex(m_keptKey);
  auto layout = m_container ? std::make_shared<korvala::Layout>() : nullptr;
  if (!bytes.empty() && korvala::ParseIndex(m_keptKey, bytes.data(), bytes.size(), *m_index, layout.get())) {
    if (m_container) m_container->UseLayout(std::move(layout));
    if (m_progress) m_progress->Loaded();
    return true;
  }
  // Missing, stale or damaged: scanned afresh, and kept once finished.
  m_keep = true;
  return false;
}

void Korvala::KeepIndex() {
  if (!m_keep || !m_index->Finished()) return;
  m_keep = false;
  std::shared_ptr<const korvala::Layout> layout = m_container ? m_container->ScannedLayout() : nullptr;
  const bool kept = (!m_container || layout) &&
                    korvala::WriteKeptIndex(m_keptKey, korvala::SerializeIndex(m_keptKey, *m_index, layout.get()));
  if (m_progress) m_progress->Stored(kept);
}

// The scan in steps, telling the bytes read after each. A container's are told by where its
// base view's last packet lay in the file.
void Korvala::ScanWithProgress() {
  constexpr size_t kStepUnits = 64;
  auto done = [&]() -> uint64_t {
    if (!m_container) return m_scanAVC.Scanned() + m_scanMVC.Scanned();
    std::shared_ptr<const korvala::Layout> layout = m_container->ScannedLayout();
    if (!layout || layout->pieces[0].empty()) return 0;
    const korvala::Piece& last = layout->pieces[0].back();
    const uint64_t baseSize = korvala::FileSize(m_pathAVC);
    if (last.pos <= 0 || baseSize == 0) return 0;
    return static_cast<uint64_t>(static_cast<double>(last.pos) / static_cast<double>(baseSize) * static_cast<double>(m_scanTotal));
  };
  m_progress->Scanned(0, m_scanTotal);
  while (korvala::ScanUntil(*m_index, m_scanAVC, DependentScan(), m_index->KnownUnits() + kStepUnits))
    m_progress->Scanned(std::min(done(), m_scanTotal), m_scanTotal);
  m_progress->Scanned(m_scanTotal, m_scanTotal);
  m_progress->ScanDone();
}

mfxStatus Korvala::FillBitstream() {
  if (m_feed == Feed::kRaw) return korvala::FillRaw(*this, &m_bitstream);
  if (m_inputEnded) return MFX_ERR_MORE_DATA;
  if (m_title) {
    uint32_t unit = m_nextUnit;
    if (!m_title->Feedable(unit)) {
      if (!m_title->Lied()) {
        m_inputEnded = true;
        return MFX_ERR_MORE_DATA;
      }
      ScanTitleInstead();
      return FillBitstream();
    }
    m_nextUnit = unit;
  } else if (!m_index->Finished()) korvala::ScanUntil(*m_index, m_scanAVC, DependentScan(), size_t{m_nextUnit} + 1);
  if (!m_title && m_nextUnit >= m_index->KnownUnits()) {
    m_inputEnded = true;
    return MFX_ERR_MORE_DATA;
  }
  const korvala::IndexedUnit unit = m_units->Unit(m_nextUnit);
  switch (korvala::AppendUnit(*this, unit, m_feedDependent, kStampBase + m_nextUnit, &m_bitstream)) {
    case korvala::AppendResult::kAppended:
      ++m_nextUnit;
      return MFX_ERR_NONE;
    case korvala::AppendResult::kNoRoom:
      return MFX_ERR_NONE;
    case korvala::AppendResult::kTooLarge:
      Raise(korvala::kOversizedUnitMessage);
      break;
    case korvala::AppendResult::kReadFailed:
      break;
  }
  m_inputEnded = true;
  return MFX_ERR_MORE_DATA;
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
  std::unique_ptr<korvala::ByteSource> stream =
      m_container ? m_container->OpenSequential() : Reader(m_fileAVC);
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
  if (m_container) {
    const bool streamTimed = info.FrameRateExtN != 0 && info.FrameRateExtD != 0 &&
                             (m_videoParams.mfx.CodecId == MFX_CODEC_MPEG2 || m_videoParams.mfx.CodecId == MFX_CODEC_VC1 ||
                              (sps && sps->timingInfo && sps->numUnitsInTick != 0 && sps->timeScale != 0));
    uint32_t n = 0, d = 0;
    m_container->FrameRate(n, d);
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
  if (m_container && m_container->Cut()) IndexReady();
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
  m_fileAVC.reset();
  m_fileMVC.reset();
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
  m_container.reset();
}
