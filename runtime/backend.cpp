// The software runtime's back end: sessions of the software implementation only, decoding
// through libavcodec into the caller's system-memory surfaces.
#include <mfx_runtime.h>
#include <mfxmvc.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "av_decoder.h"
#include "mvc_joiner.h"
#include "mvc_splitter.h"
#include "stream_info.h"
#include "surface_copy.h"

namespace swrt {

namespace {

constexpr mfxU16 kApiMajor = MFX_VERSION_MAJOR;
constexpr mfxU16 kApiMinor = MFX_VERSION_MINOR;

mfxExtMVCSeqDesc* FindMvcDescription(const mfxVideoParam& par) {
  if (!par.ExtParam) return nullptr;
  for (mfxU16 i = 0; i < par.NumExtParam; ++i) {
    mfxExtBuffer* b = par.ExtParam[i];
    if (b && b->BufferId == MFX_EXTBUFF_MVC_SEQ_DESC && b->BufferSz >= sizeof(mfxExtMVCSeqDesc) / 2)
      return reinterpret_cast<mfxExtMVCSeqDesc*>(b);
  }
  return nullptr;
}

AVCodecID LibavCodec(mfxU32 codecId) {
  switch (codecId) {
    case MFX_CODEC_AVC: return AV_CODEC_ID_H264;
    case MFX_CODEC_HEVC: return AV_CODEC_ID_HEVC;
    case MFX_CODEC_MPEG2: return AV_CODEC_ID_MPEG2VIDEO;
    case MFX_CODEC_VC1: return AV_CODEC_ID_VC1;
    default: return AV_CODEC_ID_NONE;
  }
}

bool ProfileSupported(mfxU32 codecId, mfxU16 profile) {
  if (profile == 0) return true;
  switch (codecId) {
    case MFX_CODEC_AVC:
      switch (profile & 0xFF) {
        case 66: case 77: case 88: case 100: case 110: case 118: case 128: return true;
        default: return false;
      }
    case MFX_CODEC_HEVC:
      return profile == MFX_PROFILE_HEVC_MAIN || profile == MFX_PROFILE_HEVC_MAIN10 ||
             profile == MFX_PROFILE_HEVC_MAINSP;
    case MFX_CODEC_MPEG2:
      return profile == MFX_PROFILE_MPEG2_SIMPLE || profile == MFX_PROFILE_MPEG2_MAIN ||
             profile == MFX_PROFILE_MPEG2_HIGH;
    case MFX_CODEC_VC1:
      return profile == MFX_PROFILE_VC1_SIMPLE || profile == MFX_PROFILE_VC1_MAIN ||
             profile == MFX_PROFILE_VC1_ADVANCED;
    default:
      return false;
  }
}

// Clears in `out` each field of `in` this decoder cannot honour; true when none was cleared.
bool CheckDecodeParams(const mfxVideoParam& in, mfxVideoParam& out) {
  bool ok = true;
  auto refuse = [&ok](auto& field) {
    field = 0;
    ok = false;
  };
  const mfxFrameInfo& fi = in.mfx.FrameInfo;
  mfxFrameInfo& fo = out.mfx.FrameInfo;
  if (LibavCodec(in.mfx.CodecId) == AV_CODEC_ID_NONE) refuse(out.mfx.CodecId);
  if (!ProfileSupported(in.mfx.CodecId, in.mfx.CodecProfile)) refuse(out.mfx.CodecProfile);
  if (in.IOPattern != 0 && in.IOPattern != MFX_IOPATTERN_OUT_SYSTEM_MEMORY) refuse(out.IOPattern);
  if (in.Protected != 0) refuse(out.Protected);
  if (fi.FourCC != 0 && fi.FourCC != MFX_FOURCC_NV12 && fi.FourCC != MFX_FOURCC_P010) refuse(fo.FourCC);
  if (fi.ChromaFormat > MFX_CHROMAFORMAT_YUV420) refuse(fo.ChromaFormat);
  if (fi.Width % 16 != 0 || fi.Width > 8192) refuse(fo.Width);
  if (fi.Height % 16 != 0 || fi.Height > 8192) refuse(fo.Height);
  if (fi.CropX + fi.CropW > std::max<int>(fi.Width, 0) && fi.Width) refuse(fo.CropW);
  if (fi.CropY + fi.CropH > std::max<int>(fi.Height, 0) && fi.Height) refuse(fo.CropH);
  if (fi.BitDepthLuma > 10) refuse(fo.BitDepthLuma);
  if (fi.BitDepthChroma > 10) refuse(fo.BitDepthChroma);
  if (fi.FourCC == MFX_FOURCC_NV12 && fi.BitDepthLuma > 8) refuse(fo.FourCC);
  return ok;
}

// The picture's coding type into an mfxExtDecodedFrameInfo the caller attached to the surface.
void ReportFrameType(const AVFrame& frame, mfxFrameSurface1& surface) {
  if (!surface.Data.ExtParam) return;
  for (mfxU16 i = 0; i < surface.Data.NumExtParam; ++i) {
    mfxExtBuffer* b = surface.Data.ExtParam[i];
    if (!b || b->BufferId != MFX_EXTBUFF_DECODED_FRAME_INFO || b->BufferSz < sizeof(mfxExtDecodedFrameInfo)) continue;
    mfxU16 type = MFX_FRAMETYPE_UNKNOWN;
    switch (frame.pict_type) {
      case AV_PICTURE_TYPE_I:
      case AV_PICTURE_TYPE_SI: type = MFX_FRAMETYPE_I; break;
      case AV_PICTURE_TYPE_P:
      case AV_PICTURE_TYPE_SP: type = MFX_FRAMETYPE_P; break;
      case AV_PICTURE_TYPE_B: type = MFX_FRAMETYPE_B; break;
      default: break;
    }
    reinterpret_cast<mfxExtDecodedFrameInfo*>(b)->FrameType = type;
  }
}

class DecodeContext {
 public:
  explicit DecodeContext(const mfxVideoParam& par) : params_(par) {
    params_.ExtParam = nullptr;
    params_.NumExtParam = 0;
  }

  // mvc: both views of a stereo stream through one decoder, joined into a single view.
  mfxStatus Open(mfxU32 codecId, bool mvc, mfxU16 baseView, mfxU16 dependentView, int reorderDepth,
                 const std::vector<std::uint8_t>& extradata) {
    mvc_ = mvc;
    baseView_ = baseView;
    dependentView_ = dependentView;
    const AVCodecID id = LibavCodec(codecId);
    if (!decoder_.Open(id, !mvc, 0, reorderDepth, extradata.data(), extradata.size())) return MFX_ERR_UNSUPPORTED;
    if (mvc) {
      joiner_.SetDependentView(dependentView);
      joiner_.SetReorderDepth(static_cast<std::uint32_t>(reorderDepth));
    }
    return MFX_ERR_NONE;
  }

  const mfxVideoParam& Params() const { return params_; }

  // Back to the state after Open; the joiner keeps the parameter sets it has seen, so a unit
  // that carries none still decodes after a seek.
  void Restart(const mfxVideoParam* par = nullptr) {
    if (par) {
      params_ = *par;
      params_.ExtParam = nullptr;
      params_.NumExtParam = 0;
    }
    decoder_.Restart();
    splitter_.Reset();
    joiner_.Restart();
    joiner_.SetDependentView(dependentView_);
    views_.clear();
    standIns_.clear();
    repeatAsDependent_ = false;
    flushed_ = ended_ = false;
  }

  mfxStatus DecodeFrame(mfxrt::Session& s, mfxBitstream* bs, mfxFrameSurface1* work, mfxFrameSurface1** out,
                        mfxSyncPoint* sync) {
    if (work->Data.Locked) return MFX_ERR_MORE_SURFACE;
    if (bs && ended_) {  // new input after a drain: a new stream
      Restart();
      joiner_.Reset();
      joiner_.SetDependentView(dependentView_);
    }
    for (;;) {
      if (const AVFrame* frame = decoder_.Peek()) {
        mfxU16 view = baseView_;
        bool again = false;
        mfxU64 stamp = frame->pts == AV_NOPTS_VALUE ? static_cast<mfxU64>(MFX_TIMESTAMP_UNKNOWN)
                                                    : static_cast<mfxU64>(frame->pts);
        if (mvc_) {
          auto it = views_.find(frame->pts);
          const bool dependent = repeatAsDependent_ || (it != views_.end() && it->second.view == 1);
          view = dependent ? dependentView_ : baseView_;
          stamp = it != views_.end() ? it->second.stamp : static_cast<mfxU64>(MFX_TIMESTAMP_UNKNOWN);
          // A dependent picture that could not be joined shows its base view's picture.
          again = !repeatAsDependent_ && !dependent && standIns_.count(frame->pts);
        }
        mfxStatus st = Deliver(*frame, view, stamp, *work);
        if (st == MFX_ERR_INCOMPATIBLE_VIDEO_PARAM) return st;  // kept for a larger surface
        if (again) {
          repeatAsDependent_ = true;
        } else {
          if (mvc_) Forget(frame->pts);
          repeatAsDependent_ = false;
          decoder_.Pop();
        }
        if (st != MFX_ERR_NONE) return st;
        ++work->Data.Locked;
        *out = work;
        *sync = s.Sync().Issue(work);
        return MFX_ERR_NONE;
      }
      if (!Feed(bs)) return MFX_ERR_MORE_DATA;
    }
  }

 private:
  void Forget(std::int64_t pts) {
    views_.erase(pts);
    standIns_.erase(pts);
    // Pictures the decoder dropped as corrupt never come out: forget them after a while.
    while (!views_.empty() && views_.begin()->first + kForgetAfter < pts) views_.erase(views_.begin());
    while (!standIns_.empty() && *standIns_.begin() + kForgetAfter < pts) standIns_.erase(standIns_.begin());
  }

  // Moves input towards the decoder; false when nothing more can happen without new input.
  bool Feed(mfxBitstream* bs) {
    if (!mvc_) {
      if (bs) {
        if (bs->DataLength == 0) return false;
        std::size_t used = decoder_.FeedBytes(bs->Data + bs->DataOffset, bs->DataLength, StampOf(*bs));
        Consume(*bs, used);
        return true;
      }
      if (!decoder_.Draining()) {
        decoder_.Drain();
        return true;
      }
      if (decoder_.Finished()) ended_ = true;
      return !ended_;
    }
    if (SendJoined()) return true;
    AccessUnit unit;
    if (splitter_.Next(unit)) {
      joiner_.Push(unit);
      return true;
    }
    if (bs) {
      if (bs->DataLength == 0) return false;
      splitter_.Push(bs->Data + bs->DataOffset, bs->DataLength, static_cast<std::uint64_t>(StampOf(*bs)));
      Consume(*bs, bs->DataLength);
      return true;
    }
    if (!flushed_) {
      splitter_.Flush();
      flushed_ = true;
      return true;
    }
    if (!decoder_.Draining()) {
      joiner_.Flush();
      if (!SendJoined()) decoder_.Drain();
      return true;
    }
    if (decoder_.Finished()) ended_ = true;
    return !ended_;
  }

  // The caller's timestamp of the input, as a libavcodec pts.
  static std::int64_t StampOf(const mfxBitstream& bs) {
    return bs.TimeStamp == static_cast<mfxU64>(MFX_TIMESTAMP_UNKNOWN) ? AV_NOPTS_VALUE
                                                                       : static_cast<std::int64_t>(bs.TimeStamp);
  }

  // The joiner's next picture to the decoder, tagged with its serial; false when it has none.
  bool SendJoined() {
    JoinedPicture picture;
    if (!joiner_.Next(picture)) return false;
    const auto serial = static_cast<std::int64_t>(picture.serial);
    if (picture.concealed) {
      standIns_.insert(static_cast<std::int64_t>(picture.standIn));
    } else {
      views_[serial] = Tag{picture.view, static_cast<mfxU64>(picture.stamp == AccessUnit::kNoStamp
                                                                   ? static_cast<mfxU64>(MFX_TIMESTAMP_UNKNOWN)
                                                                   : picture.stamp)};
      decoder_.SendPacket(picture.bytes.data(), picture.bytes.size(), serial);
    }
    return true;
  }

  static void Consume(mfxBitstream& bs, std::size_t n) {
    n = std::min<std::size_t>(n, bs.DataLength);
    bs.DataOffset += static_cast<mfxU32>(n);
    bs.DataLength -= static_cast<mfxU32>(n);
  }

  mfxStatus Deliver(const AVFrame& frame, mfxU16 view, mfxU64 stamp, mfxFrameSurface1& surface) {
    PlanarPicture picture;
    switch (frame.format) {
      case AV_PIX_FMT_YUV420P:
      case AV_PIX_FMT_YUVJ420P:
        picture.bitDepth = 8;
        break;
      case AV_PIX_FMT_YUV420P10LE:
        picture.bitDepth = 10;
        break;
      default:
        return MFX_ERR_UNSUPPORTED;
    }
    for (int p = 0; p < 3; ++p) {
      picture.plane[p] = frame.data[p];
      picture.pitch[p] = frame.linesize[p];
    }
    picture.width = static_cast<std::uint32_t>(frame.width);
    picture.height = static_cast<std::uint32_t>(frame.height);
    switch (CopyToSurface(picture, surface)) {
      case CopyResult::Ok:
        break;
      case CopyResult::TooSmall:
      case CopyResult::WrongFormat:
        return MFX_ERR_INCOMPATIBLE_VIDEO_PARAM;
      case CopyResult::BadSurface:
        return MFX_ERR_UNDEFINED_BEHAVIOR;
    }
    mfxFrameInfo& info = surface.Info;
    info.CropX = info.CropY = 0;
    info.CropW = static_cast<mfxU16>(frame.width);
    info.CropH = static_cast<mfxU16>(frame.height);
    info.FrameId.ViewId = view;
    info.PicStruct = !frame.interlaced_frame ? MFX_PICSTRUCT_PROGRESSIVE
                     : frame.top_field_first ? MFX_PICSTRUCT_FIELD_TFF
                                             : MFX_PICSTRUCT_FIELD_BFF;
    ReportFrameType(frame, surface);
    surface.Data.FrameOrder = frameOrder_++;
    surface.Data.TimeStamp = stamp;
    const bool corrupt = frame.decode_error_flags || (frame.flags & AV_FRAME_FLAG_CORRUPT) || repeatAsDependent_;
    surface.Data.Corrupted = corrupt ? MFX_CORRUPTION_MAJOR : 0;
    return MFX_ERR_NONE;
  }

  static constexpr std::int64_t kForgetAfter = 256;

  mfxVideoParam params_;
  AvDecoder decoder_;
  MvcSplitter splitter_;
  MvcJoiner joiner_;
  struct Tag {
    int view = 0;
    mfxU64 stamp = 0;
  };
  std::map<std::int64_t, Tag> views_;  // joined picture serial -> view and stamp, until it comes out
  std::set<std::int64_t> standIns_;    // base pictures to show again for their dependent view
  bool repeatAsDependent_ = false;
  bool mvc_ = false;
  mfxU16 baseView_ = 0, dependentView_ = 0;
  bool flushed_ = false, ended_ = false;
  mfxU32 frameOrder_ = 0;
};

struct SessionState : mfxrt::Session::State {
  // What the last successful DecodeHeader found; Init needs what FrameInfo cannot carry.
  mfxU32 headerCodec = 0;
  StreamInfo header;
  h264::Sps sps;
  bool hasSubset = false;
  h264::SubsetSps subset;
  std::vector<std::uint8_t> sequenceBytes;
  std::unique_ptr<DecodeContext> decode;
};

// The two views can share one single-view decoder: the same picture format, and references
// that fit its buffer together with an inter-view-only picture of the base view.
bool JoinableViews(const h264::Sps& base, const h264::Sps& dependent) {
  return base.widthMbs == dependent.widthMbs && base.heightMapUnits == dependent.heightMapUnits &&
         base.frameMbsOnly == dependent.frameMbsOnly && base.chromaFormatIdc == dependent.chromaFormatIdc &&
         base.bitDepthLuma == dependent.bitDepthLuma && base.bitDepthChroma == dependent.bitDepthChroma &&
         base.maxNumRefFrames + dependent.maxNumRefFrames + 1 <= 16;
}

mfxStatus FillMvcDescription(const h264::SubsetSps& subset, mfxExtMVCSeqDesc& d) {
  const std::size_t views = subset.views.size(), ids = subset.TotalTargetViews(), ops = subset.ops.size();
  if (views > 0xFFFF || ids > 0xFFFF || ops > 0xFFFF) return MFX_ERR_UNSUPPORTED;
  d.NumView = static_cast<mfxU16>(views);
  d.NumViewId = static_cast<mfxU16>(ids);
  d.NumOP = static_cast<mfxU16>(ops);
  if (d.NumViewAlloc < views || d.NumViewIdAlloc < ids || d.NumOPAlloc < ops || (views && !d.View) ||
      (ids && !d.ViewId) || (ops && !d.OP))
    return MFX_ERR_NOT_ENOUGH_BUFFER;
  auto fill = [](const std::vector<std::uint32_t>& from, mfxU16& count, mfxU16* to) {
    count = static_cast<mfxU16>(std::min<std::size_t>(from.size(), 16));
    for (mfxU16 i = 0; i < count; ++i) to[i] = static_cast<mfxU16>(from[i]);
  };
  for (std::size_t i = 0; i < views; ++i) {
    const h264::MvcView& v = subset.views[i];
    mfxMVCViewDependency& o = d.View[i];
    o = mfxMVCViewDependency{};
    o.ViewId = static_cast<mfxU16>(v.viewId);
    fill(v.anchorL0, o.NumAnchorRefsL0, o.AnchorRefL0);
    fill(v.anchorL1, o.NumAnchorRefsL1, o.AnchorRefL1);
    fill(v.nonAnchorL0, o.NumNonAnchorRefsL0, o.NonAnchorRefL0);
    fill(v.nonAnchorL1, o.NumNonAnchorRefsL1, o.NonAnchorRefL1);
  }
  std::size_t at = 0;
  for (std::size_t i = 0; i < ops; ++i) {
    const h264::MvcOperationPoint& op = subset.ops[i];
    mfxMVCOperationPoint& o = d.OP[i];
    o = mfxMVCOperationPoint{};
    o.TemporalId = static_cast<mfxU16>(op.temporalId);
    o.LevelIdc = static_cast<mfxU16>(op.levelIdc);
    o.NumViews = static_cast<mfxU16>(op.numViews);
    o.NumTargetViews = static_cast<mfxU16>(op.targetViews.size());
    o.TargetViewId = d.ViewId + at;
    for (std::uint32_t id : op.targetViews) d.ViewId[at++] = static_cast<mfxU16>(id);
  }
  return MFX_ERR_NONE;
}

class SoftwareBackend : public mfxrt::Backend {
 public:
  mfxStatus InitEx(const mfxInitParam& par, mfxrt::Session& s) override {
    // Hardware requests are refused, so the dispatcher goes on to a real hardware runtime.
    if (MFX_IMPL_BASETYPE(par.Implementation) != MFX_IMPL_SOFTWARE) return MFX_ERR_UNSUPPORTED;
    if (par.Version.Major != kApiMajor || par.Version.Minor > kApiMinor) return MFX_ERR_UNSUPPORTED;
    s.impl = MFX_IMPL_SOFTWARE;
    s.version.Major = kApiMajor;
    s.version.Minor = kApiMinor;
    s.state = std::make_unique<SessionState>();
    return MFX_ERR_NONE;
  }

  mfxStatus SyncOperation(mfxrt::Session& s, mfxSyncPoint sync, mfxU32) override {
    // Pictures are complete when DecodeFrameAsync hands them out; syncing releases the surface.
    mfxFrameSurface1* surface = s.Sync().Find(sync);
    if (!surface) return MFX_ERR_NULL_PTR;
    if (surface->Data.Locked) --surface->Data.Locked;
    s.Sync().Retire(sync);
    return MFX_ERR_NONE;
  }

  mfxStatus DecodeQuery(mfxrt::Session&, mfxVideoParam* in, mfxVideoParam* out) override {
    if (!in) {
      // Which fields this decoder configures.
      mfxExtBuffer** ext = out->ExtParam;
      mfxU16 numExt = out->NumExtParam;
      *out = mfxVideoParam{};
      out->ExtParam = ext;
      out->NumExtParam = numExt;
      out->mfx.CodecId = out->mfx.CodecProfile = out->mfx.CodecLevel = 1;
      mfxFrameInfo& f = out->mfx.FrameInfo;
      f.FourCC = f.Width = f.Height = f.CropW = f.CropH = 1;
      f.FrameRateExtN = f.FrameRateExtD = f.AspectRatioW = f.AspectRatioH = 1;
      f.PicStruct = f.ChromaFormat = 1;
      out->IOPattern = out->AsyncDepth = 1;
      return MFX_ERR_NONE;
    }
    mfxExtBuffer** ext = out->ExtParam;
    mfxU16 numExt = out->NumExtParam;
    if (out != in) {
      *out = *in;
      out->ExtParam = ext;
      out->NumExtParam = numExt;
    }
    return CheckDecodeParams(*in, *out) ? MFX_ERR_NONE : MFX_ERR_UNSUPPORTED;
  }

  mfxStatus DecodeHeader(mfxrt::Session& s, mfxBitstream* bs, mfxVideoParam* par) override {
    if (LibavCodec(par->mfx.CodecId) == AV_CODEC_ID_NONE) return MFX_ERR_UNSUPPORTED;
    if (bs->DataLength == 0) return MFX_ERR_MORE_DATA;
    mfxExtMVCSeqDesc* description = par->mfx.CodecId == MFX_CODEC_AVC ? FindMvcDescription(*par) : nullptr;
    HeaderScan scan = ScanHeader(par->mfx.CodecId, bs->Data + bs->DataOffset, bs->DataLength, description != nullptr);
    const mfxU32 consumed = static_cast<mfxU32>(std::min<std::size_t>(scan.consumed, bs->DataLength));
    bs->DataOffset += consumed;
    bs->DataLength -= consumed;
    if (scan.status != MFX_ERR_NONE) return scan.status;

    FillFrameInfo(scan.info, *par);
    FillSignalInfo(scan.info, *par);
    auto& state = s.StateAs<SessionState>();
    state.headerCodec = par->mfx.CodecId;
    state.header = scan.info;
    state.sps = scan.sps;
    state.hasSubset = scan.hasSubset && scan.subset.views.size() > 1;
    state.subset = scan.subset;
    state.sequenceBytes = std::move(scan.sequenceBytes);
    if (!description) return MFX_ERR_NONE;
    if (!state.hasSubset) {
      description->NumView = description->NumViewId = description->NumOP = 0;
      return MFX_ERR_NONE;
    }
    return FillMvcDescription(state.subset, *description);
  }

  mfxStatus DecodeQueryIOSurf(mfxrt::Session&, mfxVideoParam* par, mfxFrameAllocRequest* request) override {
    if (LibavCodec(par->mfx.CodecId) == AV_CODEC_ID_NONE) return MFX_ERR_UNSUPPORTED;
    if (par->IOPattern != MFX_IOPATTERN_OUT_SYSTEM_MEMORY) return MFX_ERR_INVALID_VIDEO_PARAM;
    const mfxExtMVCSeqDesc* description = FindMvcDescription(*par);
    const mfxU16 views = description && description->NumView > 1 ? 2 : 1;
    // Pictures stay inside libavcodec until handed out, so a surface is held only from
    // DecodeFrameAsync to SyncOperation: one per picture in flight, plus one to decode into.
    const mfxU16 inFlight = par->AsyncDepth ? par->AsyncDepth : 1;
    *request = mfxFrameAllocRequest{};
    request->Info = par->mfx.FrameInfo;
    request->Type = MFX_MEMTYPE_FROM_DECODE | MFX_MEMTYPE_EXTERNAL_FRAME | MFX_MEMTYPE_SYSTEM_MEMORY;
    request->NumFrameMin = views;
    request->NumFrameSuggested = static_cast<mfxU16>(views * inFlight + 1);
    return MFX_ERR_NONE;
  }

  mfxStatus DecodeInit(mfxrt::Session& s, mfxVideoParam* par) override {
    auto& state = s.StateAs<SessionState>();
    if (state.decode) return MFX_ERR_UNDEFINED_BEHAVIOR;
    if (par->IOPattern != MFX_IOPATTERN_OUT_SYSTEM_MEMORY) return MFX_ERR_INVALID_VIDEO_PARAM;
    mfxVideoParam checked = *par;
    if (!CheckDecodeParams(*par, checked)) return MFX_ERR_UNSUPPORTED;
    const mfxFrameInfo& fi = par->mfx.FrameInfo;
    if (fi.FourCC != MFX_FOURCC_NV12 && fi.FourCC != MFX_FOURCC_P010) return MFX_ERR_UNSUPPORTED;
    const bool sameHeader = state.headerCodec == par->mfx.CodecId;
    if (sameHeader && (state.header.chromaFormat != 1 || state.header.bitDepthLuma > 10)) return MFX_ERR_UNSUPPORTED;

    bool mvc = false;
    mfxU16 baseView = 0, dependentView = 0;
    if (const mfxExtMVCSeqDesc* d = par->mfx.CodecId == MFX_CODEC_AVC ? FindMvcDescription(*par) : nullptr) {
      if (sameHeader && state.hasSubset) {
        if (!JoinableViews(state.sps, state.subset.sps)) return MFX_ERR_UNSUPPORTED;
        mvc = true;
        baseView = static_cast<mfxU16>(state.subset.views[0].viewId);
        dependentView = static_cast<mfxU16>(state.subset.views[1].viewId);
      } else if (d->NumView > 1 && d->View && d->NumViewAlloc >= d->NumView) {
        mvc = true;
        baseView = d->View[0].ViewId;
        dependentView = d->View[1].ViewId;
      }
    }
    auto decode = std::make_unique<DecodeContext>(*par);
    static const std::vector<std::uint8_t> kNone;
    const bool vc1 = par->mfx.CodecId == MFX_CODEC_VC1 && sameHeader;
    // AVC pictures are held back as deep as the header's sequences need, or as deep as any
    // stream may when Init's parameters come from no header of ours.
    std::uint32_t reorder = 0;
    if (par->mfx.CodecId == MFX_CODEC_AVC) {
      reorder = sameHeader ? ReorderDepth(state.sps) : 16;
      // Both views go through one decoder: a picture waits for those of either view.
      if (sameHeader && mvc) reorder = std::min<std::uint32_t>(reorder + ReorderDepth(state.subset.sps), 16);
    }
    mfxStatus st = decode->Open(par->mfx.CodecId, mvc, baseView, dependentView, static_cast<int>(reorder),
                                vc1 ? state.sequenceBytes : kNone);
    if (st != MFX_ERR_NONE) return st;
    state.decode = std::move(decode);
    return MFX_ERR_NONE;
  }

  mfxStatus DecodeReset(mfxrt::Session& s, mfxVideoParam* par) override {
    auto& state = s.StateAs<SessionState>();
    if (!state.decode) return MFX_ERR_NOT_INITIALIZED;
    if (par->IOPattern != MFX_IOPATTERN_OUT_SYSTEM_MEMORY) return MFX_ERR_INVALID_VIDEO_PARAM;
    if (par->mfx.CodecId != state.decode->Params().mfx.CodecId) return MFX_ERR_INCOMPATIBLE_VIDEO_PARAM;
    s.Sync().Release();
    state.decode->Restart(par);
    return MFX_ERR_NONE;
  }

  mfxStatus DecodeClose(mfxrt::Session& s) override {
    auto& state = s.StateAs<SessionState>();
    if (!state.decode) return MFX_ERR_NOT_INITIALIZED;
    state.decode.reset();
    s.Sync().Clear();
    return MFX_ERR_NONE;
  }

  mfxStatus DecodeGetVideoParam(mfxrt::Session& s, mfxVideoParam* par) override {
    auto& state = s.StateAs<SessionState>();
    if (!state.decode) return MFX_ERR_NOT_INITIALIZED;
    mfxExtBuffer** ext = par->ExtParam;
    mfxU16 numExt = par->NumExtParam;
    *par = state.decode->Params();
    par->ExtParam = ext;
    par->NumExtParam = numExt;
    if (state.headerCodec == par->mfx.CodecId) FillSignalInfo(state.header, *par);
    return MFX_ERR_NONE;
  }

  mfxStatus DecodeFrameAsync(mfxrt::Session& s, mfxBitstream* bs, mfxFrameSurface1* work, mfxFrameSurface1** out,
                             mfxSyncPoint* sync) override {
    auto& state = s.StateAs<SessionState>();
    if (!state.decode) return MFX_ERR_NOT_INITIALIZED;
    return state.decode->DecodeFrame(s, bs, work, out, sync);
  }
};

}  // namespace

}  // namespace swrt

namespace mfxrt {
Backend& TheBackend() {
  static swrt::SoftwareBackend backend;
  return backend;
}
}  // namespace mfxrt
