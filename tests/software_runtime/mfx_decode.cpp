#include "mfx_decode.h"

#include <mfxmvc.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "media.h"

namespace swrt_test {

namespace {

struct Input {
  const std::vector<std::uint8_t>& data;
  std::size_t pos = 0;
  // Moves the unread bytes to the front and appends up to `chunk` more; false at the end.
  bool Fill(mfxBitstream& bs, std::size_t chunk) {
    std::memmove(bs.Data, bs.Data + bs.DataOffset, bs.DataLength);
    bs.DataOffset = 0;
    std::size_t room = std::min<std::size_t>(bs.MaxLength - bs.DataLength, chunk);
    std::size_t n = std::min(room, data.size() - pos);
    if (n == 0) return false;
    std::memcpy(bs.Data + bs.DataLength, data.data() + pos, n);
    bs.DataLength += static_cast<mfxU32>(n);
    pos += n;
    return true;
  }
};

void CopyOut(const mfxFrameSurface1& s, std::vector<std::uint8_t>& out) {
  const mfxFrameInfo& fi = s.Info;
  const bool deep = fi.FourCC == MFX_FOURCC_P010;
  const std::size_t pitch = (static_cast<std::size_t>(s.Data.PitchHigh) << 16) | s.Data.PitchLow;
  const int bytes = deep ? 2 : 1;
  const int w = fi.CropW, h = fi.CropH;
  auto put = [&](const std::uint8_t* p) {
    if (!deep) {
      out.push_back(*p);
    } else {
      std::uint16_t v = static_cast<std::uint16_t>((p[0] | (p[1] << 8)) >> 6);
      out.push_back(static_cast<std::uint8_t>(v));
      out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) put(s.Data.Y + (fi.CropY + y) * pitch + (fi.CropX + x) * bytes);
  for (int c = 0; c < 2; ++c)
    for (int y = 0; y < (h + 1) / 2; ++y)
      for (int x = 0; x < (w + 1) / 2; ++x)
        put(s.Data.UV + (fi.CropY / 2 + y) * pitch + ((fi.CropX / 2 + x) * 2 + c) * bytes);
}

}  // namespace

DecodeRun DecodeFile(const std::string& path, const DecodeOptions& options) {
  std::vector<std::uint8_t> data;
  ReadFile(path, data);
  return DecodeBytes(data, options);
}

DecodeRun DecodeBytes(const std::vector<std::uint8_t>& stream, const DecodeOptions& options) {
  DecodeRun run;
  mfxVersion version{{3, 1}};
  mfxSession session = nullptr;
  run.initSession = MFXInit(MFX_IMPL_SOFTWARE, &version, &session);
  if (run.initSession != MFX_ERR_NONE) return run;

  Input input{stream};
  std::vector<std::uint8_t> buffer(3840000 + 4096);
  mfxBitstream bs{};
  bs.Data = buffer.data();
  bs.MaxLength = 3840000;

  mfxVideoParam& par = run.params;
  par.IOPattern = MFX_IOPATTERN_OUT_SYSTEM_MEMORY;
  par.mfx.CodecId = options.codec;
  mfxExtMVCSeqDesc description{};
  mfxExtBuffer* ext[1] = {&description.Header};
  std::vector<mfxMVCViewDependency> views;
  std::vector<mfxU16> viewIds;
  std::vector<mfxMVCOperationPoint> ops;
  if (options.mvc) {
    description.Header.BufferId = MFX_EXTBUFF_MVC_SEQ_DESC;
    description.Header.BufferSz = sizeof description;
    par.ExtParam = ext;
    par.NumExtParam = 1;
  }
  input.Fill(bs, options.chunk);
  for (int attempt = 0;; ++attempt) {
    run.header = MFXVideoDECODE_DecodeHeader(session, &bs, &par);
    if (run.header == MFX_ERR_MORE_DATA && attempt < 1000 && input.Fill(bs, options.chunk)) continue;
    break;
  }
  if (run.header == MFX_ERR_NOT_ENOUGH_BUFFER) {
    // As the plugin: arrays of the announced sizes, zeroed, and no second header call.
    views.resize(description.NumView);
    viewIds.resize(description.NumViewId);
    ops.resize(description.NumOP);
    description.View = views.data();
    description.NumViewAlloc = description.NumView;
    description.ViewId = viewIds.data();
    description.NumViewIdAlloc = description.NumViewId;
    description.OP = ops.data();
    description.NumOPAlloc = description.NumOP;
  } else if (run.header != MFX_ERR_NONE) {
    MFXClose(session);
    return run;
  }
  run.queryIOSurf = MFXVideoDECODE_QueryIOSurf(session, &par, &run.request);
  if (run.queryIOSurf < MFX_ERR_NONE) {
    MFXClose(session);
    return run;
  }
  const int count = options.surfaces ? options.surfaces : run.request.NumFrameSuggested;
  const mfxU16 width = static_cast<mfxU16>((run.request.Info.Width + 31) & ~31);
  const mfxU16 height = static_cast<mfxU16>((run.request.Info.Height + 31) & ~31);
  const bool deep = run.request.Info.FourCC == MFX_FOURCC_P010;
  const std::size_t pitch = width * (deep ? 2 : 1);
  const std::size_t bytes = pitch * height * 3 / 2;
  std::vector<std::uint8_t> pixels(bytes * count);
  std::vector<mfxFrameSurface1> surfaces(count);
  for (int i = 0; i < count; ++i) {
    surfaces[i].Info = par.mfx.FrameInfo;
    surfaces[i].Data.Y = pixels.data() + i * bytes;
    surfaces[i].Data.UV = surfaces[i].Data.Y + pitch * height;
    surfaces[i].Data.V = surfaces[i].Data.UV + (deep ? 2 : 1);
    surfaces[i].Data.Pitch = static_cast<mfxU16>(pitch);
  }
  run.init = MFXVideoDECODE_Init(session, &par);
  if (run.init < MFX_ERR_NONE) {
    MFXClose(session);
    return run;
  }

  mfxBitstream* active = &bs;
  auto freeSurface = [&]() -> mfxFrameSurface1* {
    for (auto& s : surfaces)
      if (s.Data.Locked == 0) return &s;
    return nullptr;
  };
  std::vector<std::uint8_t> lockedCopy;
  for (int guard = 0; guard < 1000000; ++guard) {
    mfxFrameSurface1* work = freeSurface();
    if (!work) {
      run.lastError = MFX_ERR_NOT_ENOUGH_BUFFER;
      break;
    }
    // A locked surface must come back untouched: remember one to compare afterwards.
    mfxFrameSurface1* locked = nullptr;
    for (auto& s : surfaces)
      if (s.Data.Locked) {
        locked = &s;
        lockedCopy.assign(s.Data.Y, s.Data.Y + bytes);
        break;
      }
    mfxFrameSurface1* out = nullptr;
    mfxSyncPoint sync = nullptr;
    mfxStatus st = MFXVideoDECODE_DecodeFrameAsync(session, active, work, &out, &sync);
    if (locked && std::memcmp(lockedCopy.data(), locked->Data.Y, bytes) != 0) run.lockedWritten = true;
    if (st == MFX_ERR_MORE_DATA) {
      if (!active) break;
      if (!input.Fill(bs, options.chunk)) active = nullptr;
      continue;
    }
    if (st == MFX_ERR_MORE_SURFACE || st > 0) continue;
    if (st < 0) {
      run.lastError = st;
      break;
    }
    if (MFXVideoCORE_SyncOperation(session, sync, 1000) != MFX_ERR_NONE) {
      run.lastError = MFX_ERR_ABORTED;
      break;
    }
    ++run.pictures;
    // The base view comes first, so any other view id is the dependent view.
    const bool dependent = !run.viewIds.empty() && out->Info.FrameId.ViewId != run.viewIds.front();
    run.viewIds.push_back(out->Info.FrameId.ViewId);
    CopyOut(*out, run.planar[dependent ? 1 : 0]);
  }
  MFXVideoDECODE_Close(session);
  MFXClose(session);
  return run;
}

}  // namespace swrt_test
