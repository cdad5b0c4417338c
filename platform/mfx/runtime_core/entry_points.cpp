// The 62 C entry points the dispatcher resolves with dlsym. Only these (and a runtime's own
// control symbol) leave the library; see korvala_mfx_runtime().
#include "mfx_runtime.h"

#include <mfxenc.h>
#include <mfxpak.h>
#include <mfxplugin.h>

#include <unordered_set>

namespace mfxrt {

namespace {

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}

// Live sessions, so a stale or foreign handle answers MFX_ERR_INVALID_HANDLE instead of being
// dereferenced.
std::unordered_set<Session*>& LiveSessions() {
  static std::unordered_set<Session*> live;
  return live;
}

void Register(Session* s) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  LiveSessions().insert(s);
}

bool Unregister(Session* s) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  return LiveSessions().erase(s) != 0;
}

// One call in progress: collects the event and hands it to the back end when done.
struct Call {
  CallEvent ev;
  mfxBitstream* bs = nullptr;

  Call(const char* function, mfxSession handle) {
    ev.function = function;
    ev.handle = handle;
    ev.session = FindSession(handle);
  }

  void Watch(mfxBitstream* bitstream) {
    bs = bitstream;
    ev.hasBitstream = bs != nullptr;
    if (bs) ev.bytesOffered = bs->DataLength;
  }

  mfxStatus Done(mfxStatus status) {
    if (bs && bs->DataLength <= ev.bytesOffered) ev.bytesConsumed = ev.bytesOffered - bs->DataLength;
    ev.status = status;
    TheBackend().OnCall(ev);
    return status;
  }
};

// An input bitstream whose data would be read past its buffer is refused before a back end
// sees it.
bool BitstreamUsable(const mfxBitstream* bs) {
  if (static_cast<std::uint64_t>(bs->DataOffset) + bs->DataLength > bs->MaxLength) return false;
  return bs->Data != nullptr || bs->DataLength == 0;
}

}  // namespace

Session* FindSession(mfxSession handle) {
  if (!handle) return nullptr;
  Session* s = reinterpret_cast<Session*>(handle);
  std::lock_guard<std::mutex> lock(RegistryMutex());
  return LiveSessions().count(s) ? s : nullptr;
}

}  // namespace mfxrt

using mfxrt::Call;
using mfxrt::TheBackend;

#define MFXRT_SESSION(c)                                            \
  do {                                                              \
    if (!(c).ev.session) return (c).Done(MFX_ERR_INVALID_HANDLE);   \
  } while (0)
#define MFXRT_NOT_NULL(c, p)                               \
  do {                                                     \
    if (!(p)) return (c).Done(MFX_ERR_NULL_PTR);           \
  } while (0)

namespace {

mfxStatus Unsupported(const char* function, mfxSession session) {
  Call c(function, session);
  MFXRT_SESSION(c);
  return c.Done(MFX_ERR_UNSUPPORTED);
}

mfxStatus HarmlessClose(const char* function, mfxSession session) {
  Call c(function, session);
  MFXRT_SESSION(c);
  return c.Done(MFX_ERR_NONE);
}

// The shape shared by the Query/Init/Reset/GetVideoParam family: session, one required pointer.
template <class T, class F>
mfxStatus WithPointer(const char* function, mfxSession session, T* p, F forward) {
  Call c(function, session);
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, p);
  return c.Done(forward(*c.ev.session, p));
}

template <class F>
mfxStatus WithParam(const char* function, mfxSession session, mfxVideoParam* par, F forward) {
  Call c(function, session);
  c.ev.param = par;
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, par);
  return c.Done(forward(*c.ev.session, par));
}

template <class F>
mfxStatus Query(const char* function, mfxSession session, mfxVideoParam* in, mfxVideoParam* out, F forward) {
  Call c(function, session);
  c.ev.param = in;
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, out);
  return c.Done(forward(*c.ev.session, in, out));
}

}  // namespace

#pragma GCC visibility push(default)
extern "C" {

mfxStatus MFXInitEx(mfxInitParam par, mfxSession* session) {
  Call c("MFXInitEx", nullptr);
  c.ev.impl = par.Implementation;
  c.ev.version = par.Version;
  MFXRT_NOT_NULL(c, session);
  *session = nullptr;
  auto s = std::make_unique<mfxrt::Session>(par);
  mfxStatus status = TheBackend().InitEx(par, *s);
  if (status >= MFX_ERR_NONE) {
    mfxrt::Register(s.get());
    c.ev.session = s.get();
    c.ev.handle = *session = s.release()->Handle();
  }
  return c.Done(status);
}

mfxStatus MFXInit(mfxIMPL impl, mfxVersion* ver, mfxSession* session) {
  mfxInitParam par{};
  par.Implementation = impl;
  if (ver) {
    par.Version = *ver;
  } else {
    par.Version.Major = 1;  // no version given: the lowest one
  }
  return MFXInitEx(par, session);
}

mfxStatus MFXClose(mfxSession session) {
  Call c("MFXClose", session);
  MFXRT_SESSION(c);
  mfxrt::Session* s = c.ev.session;
  // Unregister first so a second close of the same handle is refused, not repeated.
  if (!mfxrt::Unregister(s)) return c.Done(MFX_ERR_INVALID_HANDLE);
  TheBackend().Close(*s);
  delete s;
  c.ev.session = nullptr;
  return c.Done(MFX_ERR_NONE);
}

mfxStatus MFXQueryIMPL(mfxSession session, mfxIMPL* impl) {
  Call c("MFXQueryIMPL", session);
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, impl);
  mfxStatus status = TheBackend().QueryIMPL(*c.ev.session, impl);
  c.ev.impl = *impl;
  return c.Done(status);
}

mfxStatus MFXQueryVersion(mfxSession session, mfxVersion* version) {
  Call c("MFXQueryVersion", session);
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, version);
  mfxStatus status = TheBackend().QueryVersion(*c.ev.session, version);
  c.ev.version = *version;
  return c.Done(status);
}

mfxStatus MFXJoinSession(mfxSession session, mfxSession) { return Unsupported("MFXJoinSession", session); }
mfxStatus MFXDisjoinSession(mfxSession session) { return Unsupported("MFXDisjoinSession", session); }
mfxStatus MFXSetPriority(mfxSession session, mfxPriority) { return Unsupported("MFXSetPriority", session); }
mfxStatus MFXGetPriority(mfxSession session, mfxPriority*) { return Unsupported("MFXGetPriority", session); }
mfxStatus MFXDoWork(mfxSession session) { return Unsupported("MFXDoWork", session); }

// CORE

mfxStatus MFXVideoCORE_SetBufferAllocator(mfxSession session, mfxBufferAllocator*) {
  return Unsupported("MFXVideoCORE_SetBufferAllocator", session);
}

mfxStatus MFXVideoCORE_SetFrameAllocator(mfxSession session, mfxFrameAllocator* allocator) {
  Call c("MFXVideoCORE_SetFrameAllocator", session);
  MFXRT_SESSION(c);
  // A null allocator is legal: it removes the one set before.
  return c.Done(TheBackend().SetFrameAllocator(*c.ev.session, allocator));
}

mfxStatus MFXVideoCORE_SetHandle(mfxSession session, mfxHandleType type, mfxHDL hdl) {
  Call c("MFXVideoCORE_SetHandle", session);
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, hdl);
  return c.Done(TheBackend().SetHandle(*c.ev.session, type, hdl));
}

mfxStatus MFXVideoCORE_GetHandle(mfxSession session, mfxHandleType type, mfxHDL* hdl) {
  Call c("MFXVideoCORE_GetHandle", session);
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, hdl);
  return c.Done(TheBackend().GetHandle(*c.ev.session, type, hdl));
}

mfxStatus MFXVideoCORE_QueryPlatform(mfxSession session, mfxPlatform* platform) {
  return WithPointer("MFXVideoCORE_QueryPlatform", session, platform,
                     [](mfxrt::Session& s, mfxPlatform* p) { return TheBackend().QueryPlatform(s, p); });
}

mfxStatus MFXVideoCORE_SyncOperation(mfxSession session, mfxSyncPoint syncp, mfxU32 wait) {
  Call c("MFXVideoCORE_SyncOperation", session);
  c.ev.sync = syncp;
  c.ev.wait = wait;
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, syncp);
  return c.Done(TheBackend().SyncOperation(*c.ev.session, syncp, wait));
}

// DECODE

mfxStatus MFXVideoDECODE_Query(mfxSession session, mfxVideoParam* in, mfxVideoParam* out) {
  return Query("MFXVideoDECODE_Query", session, in, out, [](mfxrt::Session& s, mfxVideoParam* i, mfxVideoParam* o) {
    return TheBackend().DecodeQuery(s, i, o);
  });
}

mfxStatus MFXVideoDECODE_DecodeHeader(mfxSession session, mfxBitstream* bs, mfxVideoParam* par) {
  Call c("MFXVideoDECODE_DecodeHeader", session);
  c.ev.param = par;
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, bs);
  MFXRT_NOT_NULL(c, par);
  if (!mfxrt::BitstreamUsable(bs)) return c.Done(MFX_ERR_UNDEFINED_BEHAVIOR);
  c.Watch(bs);
  return c.Done(TheBackend().DecodeHeader(*c.ev.session, bs, par));
}

mfxStatus MFXVideoDECODE_QueryIOSurf(mfxSession session, mfxVideoParam* par, mfxFrameAllocRequest* request) {
  Call c("MFXVideoDECODE_QueryIOSurf", session);
  c.ev.param = par;
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, par);
  MFXRT_NOT_NULL(c, request);
  return c.Done(TheBackend().DecodeQueryIOSurf(*c.ev.session, par, request));
}

mfxStatus MFXVideoDECODE_Init(mfxSession session, mfxVideoParam* par) {
  return WithParam("MFXVideoDECODE_Init", session, par,
                   [](mfxrt::Session& s, mfxVideoParam* p) { return TheBackend().DecodeInit(s, p); });
}

mfxStatus MFXVideoDECODE_Reset(mfxSession session, mfxVideoParam* par) {
  return WithParam("MFXVideoDECODE_Reset", session, par,
                   [](mfxrt::Session& s, mfxVideoParam* p) { return TheBackend().DecodeReset(s, p); });
}

mfxStatus MFXVideoDECODE_Close(mfxSession session) {
  Call c("MFXVideoDECODE_Close", session);
  MFXRT_SESSION(c);
  return c.Done(TheBackend().DecodeClose(*c.ev.session));
}

mfxStatus MFXVideoDECODE_GetVideoParam(mfxSession session, mfxVideoParam* par) {
  return WithPointer("MFXVideoDECODE_GetVideoParam", session, par,
                     [](mfxrt::Session& s, mfxVideoParam* p) { return TheBackend().DecodeGetVideoParam(s, p); });
}

mfxStatus MFXVideoDECODE_GetDecodeStat(mfxSession session, mfxDecodeStat* stat) {
  return WithPointer("MFXVideoDECODE_GetDecodeStat", session, stat,
                     [](mfxrt::Session& s, mfxDecodeStat* p) { return TheBackend().DecodeGetStat(s, p); });
}

mfxStatus MFXVideoDECODE_SetSkipMode(mfxSession session, mfxSkipMode mode) {
  Call c("MFXVideoDECODE_SetSkipMode", session);
  MFXRT_SESSION(c);
  return c.Done(TheBackend().DecodeSetSkipMode(*c.ev.session, mode));
}

mfxStatus MFXVideoDECODE_GetPayload(mfxSession session, mfxU64* ts, mfxPayload* payload) {
  Call c("MFXVideoDECODE_GetPayload", session);
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, ts);
  MFXRT_NOT_NULL(c, payload);
  return c.Done(TheBackend().DecodeGetPayload(*c.ev.session, ts, payload));
}

mfxStatus MFXVideoDECODE_DecodeFrameAsync(mfxSession session, mfxBitstream* bs, mfxFrameSurface1* surface_work,
                                          mfxFrameSurface1** surface_out, mfxSyncPoint* syncp) {
  Call c("MFXVideoDECODE_DecodeFrameAsync", session);
  c.ev.work = surface_work;
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, surface_work);
  MFXRT_NOT_NULL(c, surface_out);
  MFXRT_NOT_NULL(c, syncp);
  if (bs && !mfxrt::BitstreamUsable(bs)) return c.Done(MFX_ERR_UNDEFINED_BEHAVIOR);
  c.Watch(bs);
  *surface_out = nullptr;
  *syncp = nullptr;
  mfxStatus status = TheBackend().DecodeFrameAsync(*c.ev.session, bs, surface_work, surface_out, syncp);
  c.ev.out = *surface_out;
  c.ev.sync = *syncp;
  return c.Done(status);
}

// ENCODE

mfxStatus MFXVideoENCODE_Query(mfxSession session, mfxVideoParam* in, mfxVideoParam* out) {
  return Query("MFXVideoENCODE_Query", session, in, out, [](mfxrt::Session& s, mfxVideoParam* i, mfxVideoParam* o) {
    return TheBackend().EncodeQuery(s, i, o);
  });
}

mfxStatus MFXVideoENCODE_QueryIOSurf(mfxSession session, mfxVideoParam* par, mfxFrameAllocRequest* request) {
  Call c("MFXVideoENCODE_QueryIOSurf", session);
  c.ev.param = par;
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, par);
  MFXRT_NOT_NULL(c, request);
  return c.Done(TheBackend().EncodeQueryIOSurf(*c.ev.session, par, request));
}

mfxStatus MFXVideoENCODE_Init(mfxSession session, mfxVideoParam* par) {
  return WithParam("MFXVideoENCODE_Init", session, par,
                   [](mfxrt::Session& s, mfxVideoParam* p) { return TheBackend().EncodeInit(s, p); });
}

mfxStatus MFXVideoENCODE_Reset(mfxSession session, mfxVideoParam* par) {
  return WithParam("MFXVideoENCODE_Reset", session, par,
                   [](mfxrt::Session& s, mfxVideoParam* p) { return TheBackend().EncodeReset(s, p); });
}

mfxStatus MFXVideoENCODE_Close(mfxSession session) {
  Call c("MFXVideoENCODE_Close", session);
  MFXRT_SESSION(c);
  return c.Done(TheBackend().EncodeClose(*c.ev.session));
}

mfxStatus MFXVideoENCODE_GetVideoParam(mfxSession session, mfxVideoParam* par) {
  return WithPointer("MFXVideoENCODE_GetVideoParam", session, par,
                     [](mfxrt::Session& s, mfxVideoParam* p) { return TheBackend().EncodeGetVideoParam(s, p); });
}

mfxStatus MFXVideoENCODE_GetEncodeStat(mfxSession session, mfxEncodeStat* stat) {
  return WithPointer("MFXVideoENCODE_GetEncodeStat", session, stat,
                     [](mfxrt::Session& s, mfxEncodeStat* p) { return TheBackend().EncodeGetStat(s, p); });
}

mfxStatus MFXVideoENCODE_EncodeFrameAsync(mfxSession session, mfxEncodeCtrl* ctrl, mfxFrameSurface1* surface,
                                          mfxBitstream* bs, mfxSyncPoint* syncp) {
  Call c("MFXVideoENCODE_EncodeFrameAsync", session);
  c.ev.work = surface;
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, bs);
  MFXRT_NOT_NULL(c, syncp);
  if (!mfxrt::BitstreamUsable(bs)) return c.Done(MFX_ERR_UNDEFINED_BEHAVIOR);
  *syncp = nullptr;
  mfxStatus status = TheBackend().EncodeFrameAsync(*c.ev.session, ctrl, surface, bs, syncp);
  c.ev.sync = *syncp;
  return c.Done(status);
}

// VPP

mfxStatus MFXVideoVPP_Query(mfxSession session, mfxVideoParam* in, mfxVideoParam* out) {
  return Query("MFXVideoVPP_Query", session, in, out, [](mfxrt::Session& s, mfxVideoParam* i, mfxVideoParam* o) {
    return TheBackend().VppQuery(s, i, o);
  });
}

mfxStatus MFXVideoVPP_QueryIOSurf(mfxSession session, mfxVideoParam* par, mfxFrameAllocRequest request[2]) {
  Call c("MFXVideoVPP_QueryIOSurf", session);
  c.ev.param = par;
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, par);
  MFXRT_NOT_NULL(c, request);
  return c.Done(TheBackend().VppQueryIOSurf(*c.ev.session, par, request));
}

mfxStatus MFXVideoVPP_Init(mfxSession session, mfxVideoParam* par) {
  return WithParam("MFXVideoVPP_Init", session, par,
                   [](mfxrt::Session& s, mfxVideoParam* p) { return TheBackend().VppInit(s, p); });
}

mfxStatus MFXVideoVPP_Reset(mfxSession session, mfxVideoParam* par) {
  return WithParam("MFXVideoVPP_Reset", session, par,
                   [](mfxrt::Session& s, mfxVideoParam* p) { return TheBackend().VppReset(s, p); });
}

mfxStatus MFXVideoVPP_Close(mfxSession session) {
  Call c("MFXVideoVPP_Close", session);
  MFXRT_SESSION(c);
  return c.Done(TheBackend().VppClose(*c.ev.session));
}

mfxStatus MFXVideoVPP_GetVideoParam(mfxSession session, mfxVideoParam* par) {
  return WithPointer("MFXVideoVPP_GetVideoParam", session, par,
                     [](mfxrt::Session& s, mfxVideoParam* p) { return TheBackend().VppGetVideoParam(s, p); });
}

mfxStatus MFXVideoVPP_GetVPPStat(mfxSession session, mfxVPPStat* stat) {
  return WithPointer("MFXVideoVPP_GetVPPStat", session, stat,
                     [](mfxrt::Session& s, mfxVPPStat* p) { return TheBackend().VppGetStat(s, p); });
}

mfxStatus MFXVideoVPP_RunFrameVPPAsync(mfxSession session, mfxFrameSurface1* in, mfxFrameSurface1* out,
                                       mfxExtVppAuxData* aux, mfxSyncPoint* syncp) {
  Call c("MFXVideoVPP_RunFrameVPPAsync", session);
  c.ev.work = in;
  MFXRT_SESSION(c);
  MFXRT_NOT_NULL(c, out);
  MFXRT_NOT_NULL(c, syncp);
  *syncp = nullptr;
  mfxStatus status = TheBackend().VppRunFrameAsync(*c.ev.session, in, out, aux, syncp);
  c.ev.out = out;
  c.ev.sync = *syncp;
  return c.Done(status);
}

mfxStatus MFXVideoVPP_RunFrameVPPAsyncEx(mfxSession session, mfxFrameSurface1*, mfxFrameSurface1*,
                                         mfxFrameSurface1**, mfxSyncPoint*) {
  return Unsupported("MFXVideoVPP_RunFrameVPPAsyncEx", session);
}

// USER (plug-ins), ENC and PAK: none of our runtimes has them.

mfxStatus MFXVideoUSER_Register(mfxSession session, mfxU32, const mfxPlugin*) {
  return Unsupported("MFXVideoUSER_Register", session);
}
mfxStatus MFXVideoUSER_Unregister(mfxSession session, mfxU32) { return Unsupported("MFXVideoUSER_Unregister", session); }
mfxStatus MFXVideoUSER_GetPlugin(mfxSession session, mfxU32, mfxPlugin*) {
  return Unsupported("MFXVideoUSER_GetPlugin", session);
}
mfxStatus MFXVideoUSER_ProcessFrameAsync(mfxSession session, const mfxHDL*, mfxU32, const mfxHDL*, mfxU32,
                                         mfxSyncPoint*) {
  return Unsupported("MFXVideoUSER_ProcessFrameAsync", session);
}

mfxStatus MFXVideoENC_Query(mfxSession session, mfxVideoParam*, mfxVideoParam*) {
  return Unsupported("MFXVideoENC_Query", session);
}
mfxStatus MFXVideoENC_QueryIOSurf(mfxSession session, mfxVideoParam*, mfxFrameAllocRequest*) {
  return Unsupported("MFXVideoENC_QueryIOSurf", session);
}
mfxStatus MFXVideoENC_Init(mfxSession session, mfxVideoParam*) { return Unsupported("MFXVideoENC_Init", session); }
mfxStatus MFXVideoENC_Reset(mfxSession session, mfxVideoParam*) { return Unsupported("MFXVideoENC_Reset", session); }
mfxStatus MFXVideoENC_Close(mfxSession session) { return HarmlessClose("MFXVideoENC_Close", session); }
mfxStatus MFXVideoENC_GetVideoParam(mfxSession session, mfxVideoParam*) {
  return Unsupported("MFXVideoENC_GetVideoParam", session);
}
mfxStatus MFXVideoENC_ProcessFrameAsync(mfxSession session, mfxENCInput*, mfxENCOutput*, mfxSyncPoint*) {
  return Unsupported("MFXVideoENC_ProcessFrameAsync", session);
}

mfxStatus MFXVideoPAK_Query(mfxSession session, mfxVideoParam*, mfxVideoParam*) {
  return Unsupported("MFXVideoPAK_Query", session);
}
mfxStatus MFXVideoPAK_QueryIOSurf(mfxSession session, mfxVideoParam*, mfxFrameAllocRequest[2]) {
  return Unsupported("MFXVideoPAK_QueryIOSurf", session);
}
mfxStatus MFXVideoPAK_Init(mfxSession session, mfxVideoParam*) { return Unsupported("MFXVideoPAK_Init", session); }
mfxStatus MFXVideoPAK_Reset(mfxSession session, mfxVideoParam*) { return Unsupported("MFXVideoPAK_Reset", session); }
mfxStatus MFXVideoPAK_Close(mfxSession session) { return HarmlessClose("MFXVideoPAK_Close", session); }
mfxStatus MFXVideoPAK_GetVideoParam(mfxSession session, mfxVideoParam*) {
  return Unsupported("MFXVideoPAK_GetVideoParam", session);
}
mfxStatus MFXVideoPAK_ProcessFrameAsync(mfxSession session, mfxPAKInput*, mfxPAKOutput*, mfxSyncPoint*) {
  return Unsupported("MFXVideoPAK_ProcessFrameAsync", session);
}

}  // extern "C"
#pragma GCC visibility pop
