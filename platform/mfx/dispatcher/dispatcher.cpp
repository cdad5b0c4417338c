// A small Media SDK dispatcher for Windows builds that were given no other: it opens a session
// in the graphics driver's runtime (libmfxhw64.dll) or in the software runtime installed beside
// the plugin (libmfxsw64.dll), and forwards every call to the runtime that opened it.
//
// Without either runtime it answers as a dispatcher does on a machine without any: no session
// opens (MFX_ERR_UNSUPPORTED), and a call on a handle it did not give out answers
// MFX_ERR_INVALID_HANDLE.
#include <mfxplugin.h>
#include <mfxvideo.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>

#include "runtime_library.h"

namespace mfxdisp {
namespace {

// What a handle given out by the dispatcher points to.
struct Session {
  std::unique_ptr<RuntimeLibrary> library;
  mfxSession inner = nullptr;
};

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}

// Live sessions, so that a stale or foreign handle is refused instead of being dereferenced.
std::unordered_set<Session*>& Live() {
  static std::unordered_set<Session*> live;
  return live;
}

Session* Find(mfxSession handle) {
  if (!handle) return nullptr;
  Session* s = reinterpret_cast<Session*>(handle);
  std::lock_guard<std::mutex> lock(RegistryMutex());
  return Live().count(s) ? s : nullptr;
}

// Where a request goes: the runtime kind and the implementation value it is asked for.
struct Attempt {
  bool software;
  mfxIMPL impl;
};

// At most two attempts per request: AUTO tries the hardware first, then the software runtime.
int AttemptsFor(mfxIMPL impl, Attempt (&out)[2]) {
  const mfxIMPL via = impl & ~static_cast<mfxIMPL>(0xff);
  switch (MFX_IMPL_BASETYPE(impl)) {
    case MFX_IMPL_SOFTWARE:
      out[0] = {true, impl};
      return 1;
    case MFX_IMPL_HARDWARE:
    case MFX_IMPL_HARDWARE_ANY:
    case MFX_IMPL_HARDWARE2:
    case MFX_IMPL_HARDWARE3:
    case MFX_IMPL_HARDWARE4:
      out[0] = {false, impl};
      return 1;
    case MFX_IMPL_AUTO:
      out[0] = {false, MFX_IMPL_HARDWARE | via};
      out[1] = {true, MFX_IMPL_SOFTWARE};
      return 2;
    case MFX_IMPL_AUTO_ANY:
      out[0] = {false, MFX_IMPL_HARDWARE_ANY | via};
      out[1] = {true, MFX_IMPL_SOFTWARE};
      return 2;
    default:
      return 0;
  }
}

// Opens a session in one runtime, or answers why not. A runtime older than the version asked
// for is refused even if it accepted the request.
mfxStatus OpenIn(std::unique_ptr<RuntimeLibrary> library, mfxInitParam par, mfxSession* session) {
  if (!library) return MFX_ERR_UNSUPPORTED;
  const EntryPoints& e = library->Entry();
  mfxSession inner = nullptr;
  const mfxStatus status = e.MFXInitEx(par, &inner);
  if (status < MFX_ERR_NONE || !inner) return status < MFX_ERR_NONE ? status : MFX_ERR_UNSUPPORTED;
  mfxVersion opened{};
  if (e.MFXQueryVersion(inner, &opened) != MFX_ERR_NONE || opened.Version < par.Version.Version) {
    e.MFXClose(inner);
    return MFX_ERR_UNSUPPORTED;
  }
  auto* s = new Session{std::move(library), inner};
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Live().insert(s);
  }
  *session = reinterpret_cast<mfxSession>(s);
  return status;
}

// Calls a runtime entry point with the runtime's own session in place of the handle.
template <class Fn, class... A>
mfxStatus Forward(mfxSession handle, Fn EntryPoints::*entry, A... args) {
  Session* s = Find(handle);
  if (!s) return MFX_ERR_INVALID_HANDLE;
  Fn fn = s->library->Entry().*entry;
  return fn ? fn(s->inner, args...) : MFX_ERR_UNSUPPORTED;
}

}  // namespace
}  // namespace mfxdisp

using mfxdisp::EntryPoints;
using mfxdisp::Forward;

extern "C" {

mfxStatus MFX_CDECL MFXInitEx(mfxInitParam par, mfxSession* session) {
  if (!session) return MFX_ERR_NULL_PTR;
  *session = nullptr;
  mfxdisp::Attempt attempts[2];
  const int n = mfxdisp::AttemptsFor(par.Implementation, attempts);
  for (int i = 0; i < n; ++i) {
    mfxInitParam asked = par;
    asked.Implementation = attempts[i].impl;
    auto library = attempts[i].software ? mfxdisp::RuntimeLibrary::OpenSoftware()
                                        : mfxdisp::RuntimeLibrary::OpenHardware();
    const mfxStatus status = mfxdisp::OpenIn(std::move(library), asked, session);
    if (*session) return status;
  }
  return MFX_ERR_UNSUPPORTED;
}

mfxStatus MFX_CDECL MFXInit(mfxIMPL impl, mfxVersion* ver, mfxSession* session) {
  mfxInitParam par{};
  par.Implementation = impl;
  if (ver) {
    par.Version = *ver;
  } else {
    par.Version.Major = 1;  // no version given: the lowest one
  }
  return MFXInitEx(par, session);
}

mfxStatus MFX_CDECL MFXClose(mfxSession session) {
  mfxdisp::Session* s = nullptr;
  {
    std::lock_guard<std::mutex> lock(mfxdisp::RegistryMutex());
    s = reinterpret_cast<mfxdisp::Session*>(session);
    // Unregistered first, so a second close of the same handle is refused, not repeated.
    if (!session || mfxdisp::Live().erase(s) == 0) return MFX_ERR_INVALID_HANDLE;
  }
  const mfxStatus status = s->library->Entry().MFXClose(s->inner);
  delete s;  // unloads the runtime once its last session is gone
  return status;
}

mfxStatus MFX_CDECL MFXQueryIMPL(mfxSession s, mfxIMPL* impl) { return Forward(s, &EntryPoints::MFXQueryIMPL, impl); }
mfxStatus MFX_CDECL MFXQueryVersion(mfxSession s, mfxVersion* v) {
  return Forward(s, &EntryPoints::MFXQueryVersion, v);
}

// Sessions join only within one runtime: each child is the runtime's own session.
mfxStatus MFX_CDECL MFXJoinSession(mfxSession s, mfxSession child) {
  mfxdisp::Session* parent = mfxdisp::Find(s);
  mfxdisp::Session* joined = mfxdisp::Find(child);
  if (!parent || !joined) return MFX_ERR_INVALID_HANDLE;
  if (!parent->library->SameModule(*joined->library)) return MFX_ERR_UNSUPPORTED;
  return Forward(s, &EntryPoints::MFXJoinSession, joined->inner);
}
mfxStatus MFX_CDECL MFXDisjoinSession(mfxSession s) { return Forward(s, &EntryPoints::MFXDisjoinSession); }

// A clone is a new session of the same runtime, implementation and version, joined to the first.
mfxStatus MFX_CDECL MFXCloneSession(mfxSession s, mfxSession* clone) {
  if (!clone) return MFX_ERR_NULL_PTR;
  *clone = nullptr;
  mfxdisp::Session* original = mfxdisp::Find(s);
  if (!original) return MFX_ERR_INVALID_HANDLE;
  mfxInitParam par{};
  const EntryPoints& e = original->library->Entry();
  if (!e.MFXQueryIMPL || e.MFXQueryIMPL(original->inner, &par.Implementation) != MFX_ERR_NONE ||
      e.MFXQueryVersion(original->inner, &par.Version) != MFX_ERR_NONE)
    return MFX_ERR_UNSUPPORTED;
  mfxStatus status = MFXInitEx(par, clone);
  if (status < MFX_ERR_NONE) return status;
  status = MFXJoinSession(s, *clone);
  if (status < MFX_ERR_NONE) {
    MFXClose(*clone);
    *clone = nullptr;
  }
  return status;
}

mfxStatus MFX_CDECL MFXSetPriority(mfxSession s, mfxPriority p) { return Forward(s, &EntryPoints::MFXSetPriority, p); }
mfxStatus MFX_CDECL MFXGetPriority(mfxSession s, mfxPriority* p) { return Forward(s, &EntryPoints::MFXGetPriority, p); }
// Deprecated in the API (the runtimes schedule their own work and allocate their own buffers):
// answered here, not forwarded.
mfxStatus MFX_CDECL MFXDoWork(mfxSession s) { return mfxdisp::Find(s) ? MFX_ERR_UNSUPPORTED : MFX_ERR_INVALID_HANDLE; }

mfxStatus MFX_CDECL MFXVideoCORE_SetBufferAllocator(mfxSession s, mfxBufferAllocator*) {
  return mfxdisp::Find(s) ? MFX_ERR_UNSUPPORTED : MFX_ERR_INVALID_HANDLE;
}
mfxStatus MFX_CDECL MFXVideoCORE_SetFrameAllocator(mfxSession s, mfxFrameAllocator* a) {
  return Forward(s, &EntryPoints::MFXVideoCORE_SetFrameAllocator, a);
}
mfxStatus MFX_CDECL MFXVideoCORE_SetHandle(mfxSession s, mfxHandleType t, mfxHDL h) {
  return Forward(s, &EntryPoints::MFXVideoCORE_SetHandle, t, h);
}
mfxStatus MFX_CDECL MFXVideoCORE_GetHandle(mfxSession s, mfxHandleType t, mfxHDL* h) {
  return Forward(s, &EntryPoints::MFXVideoCORE_GetHandle, t, h);
}
mfxStatus MFX_CDECL MFXVideoCORE_QueryPlatform(mfxSession s, mfxPlatform* p) {
  return Forward(s, &EntryPoints::MFXVideoCORE_QueryPlatform, p);
}
mfxStatus MFX_CDECL MFXVideoCORE_SyncOperation(mfxSession s, mfxSyncPoint sp, mfxU32 wait) {
  return Forward(s, &EntryPoints::MFXVideoCORE_SyncOperation, sp, wait);
}

mfxStatus MFX_CDECL MFXVideoENCODE_Query(mfxSession s, mfxVideoParam* in, mfxVideoParam* out) {
  return Forward(s, &EntryPoints::MFXVideoENCODE_Query, in, out);
}
mfxStatus MFX_CDECL MFXVideoENCODE_QueryIOSurf(mfxSession s, mfxVideoParam* p, mfxFrameAllocRequest* r) {
  return Forward(s, &EntryPoints::MFXVideoENCODE_QueryIOSurf, p, r);
}
mfxStatus MFX_CDECL MFXVideoENCODE_Init(mfxSession s, mfxVideoParam* p) { return Forward(s, &EntryPoints::MFXVideoENCODE_Init, p); }
mfxStatus MFX_CDECL MFXVideoENCODE_Reset(mfxSession s, mfxVideoParam* p) { return Forward(s, &EntryPoints::MFXVideoENCODE_Reset, p); }
mfxStatus MFX_CDECL MFXVideoENCODE_Close(mfxSession s) { return Forward(s, &EntryPoints::MFXVideoENCODE_Close); }
mfxStatus MFX_CDECL MFXVideoENCODE_GetVideoParam(mfxSession s, mfxVideoParam* p) {
  return Forward(s, &EntryPoints::MFXVideoENCODE_GetVideoParam, p);
}
mfxStatus MFX_CDECL MFXVideoENCODE_GetEncodeStat(mfxSession s, mfxEncodeStat* st) {
  return Forward(s, &EntryPoints::MFXVideoENCODE_GetEncodeStat, st);
}
mfxStatus MFX_CDECL MFXVideoENCODE_EncodeFrameAsync(mfxSession s, mfxEncodeCtrl* c, mfxFrameSurface1* f, mfxBitstream* b,
                                                    mfxSyncPoint* sp) {
  return Forward(s, &EntryPoints::MFXVideoENCODE_EncodeFrameAsync, c, f, b, sp);
}

mfxStatus MFX_CDECL MFXVideoDECODE_Query(mfxSession s, mfxVideoParam* in, mfxVideoParam* out) {
  return Forward(s, &EntryPoints::MFXVideoDECODE_Query, in, out);
}
mfxStatus MFX_CDECL MFXVideoDECODE_DecodeHeader(mfxSession s, mfxBitstream* b, mfxVideoParam* p) {
  return Forward(s, &EntryPoints::MFXVideoDECODE_DecodeHeader, b, p);
}
mfxStatus MFX_CDECL MFXVideoDECODE_QueryIOSurf(mfxSession s, mfxVideoParam* p, mfxFrameAllocRequest* r) {
  return Forward(s, &EntryPoints::MFXVideoDECODE_QueryIOSurf, p, r);
}
mfxStatus MFX_CDECL MFXVideoDECODE_Init(mfxSession s, mfxVideoParam* p) { return Forward(s, &EntryPoints::MFXVideoDECODE_Init, p); }
mfxStatus MFX_CDECL MFXVideoDECODE_Reset(mfxSession s, mfxVideoParam* p) { return Forward(s, &EntryPoints::MFXVideoDECODE_Reset, p); }
mfxStatus MFX_CDECL MFXVideoDECODE_Close(mfxSession s) { return Forward(s, &EntryPoints::MFXVideoDECODE_Close); }
mfxStatus MFX_CDECL MFXVideoDECODE_GetVideoParam(mfxSession s, mfxVideoParam* p) {
  return Forward(s, &EntryPoints::MFXVideoDECODE_GetVideoParam, p);
}
mfxStatus MFX_CDECL MFXVideoDECODE_GetDecodeStat(mfxSession s, mfxDecodeStat* st) {
  return Forward(s, &EntryPoints::MFXVideoDECODE_GetDecodeStat, st);
}
mfxStatus MFX_CDECL MFXVideoDECODE_SetSkipMode(mfxSession s, mfxSkipMode m) {
  return Forward(s, &EntryPoints::MFXVideoDECODE_SetSkipMode, m);
}
mfxStatus MFX_CDECL MFXVideoDECODE_GetPayload(mfxSession s, mfxU64* ts, mfxPayload* p) {
  return Forward(s, &EntryPoints::MFXVideoDECODE_GetPayload, ts, p);
}
mfxStatus MFX_CDECL MFXVideoDECODE_DecodeFrameAsync(mfxSession s, mfxBitstream* b, mfxFrameSurface1* work,
                                                    mfxFrameSurface1** out, mfxSyncPoint* sp) {
  return Forward(s, &EntryPoints::MFXVideoDECODE_DecodeFrameAsync, b, work, out, sp);
}

mfxStatus MFX_CDECL MFXVideoVPP_Query(mfxSession s, mfxVideoParam* in, mfxVideoParam* out) {
  return Forward(s, &EntryPoints::MFXVideoVPP_Query, in, out);
}
mfxStatus MFX_CDECL MFXVideoVPP_QueryIOSurf(mfxSession s, mfxVideoParam* p, mfxFrameAllocRequest r[2]) {
  return Forward(s, &EntryPoints::MFXVideoVPP_QueryIOSurf, p, r);
}
mfxStatus MFX_CDECL MFXVideoVPP_Init(mfxSession s, mfxVideoParam* p) { return Forward(s, &EntryPoints::MFXVideoVPP_Init, p); }
mfxStatus MFX_CDECL MFXVideoVPP_Reset(mfxSession s, mfxVideoParam* p) { return Forward(s, &EntryPoints::MFXVideoVPP_Reset, p); }
mfxStatus MFX_CDECL MFXVideoVPP_Close(mfxSession s) { return Forward(s, &EntryPoints::MFXVideoVPP_Close); }
mfxStatus MFX_CDECL MFXVideoVPP_GetVideoParam(mfxSession s, mfxVideoParam* p) {
  return Forward(s, &EntryPoints::MFXVideoVPP_GetVideoParam, p);
}
mfxStatus MFX_CDECL MFXVideoVPP_GetVPPStat(mfxSession s, mfxVPPStat* st) {
  return Forward(s, &EntryPoints::MFXVideoVPP_GetVPPStat, st);
}
mfxStatus MFX_CDECL MFXVideoVPP_RunFrameVPPAsync(mfxSession s, mfxFrameSurface1* in, mfxFrameSurface1* out,
                                                 mfxExtVppAuxData* aux, mfxSyncPoint* sp) {
  return Forward(s, &EntryPoints::MFXVideoVPP_RunFrameVPPAsync, in, out, aux, sp);
}

// Plug-ins: a hardware runtime carries its HEVC decoder itself, so loading that plug-in into a
// hardware session succeeds without a plug-in library; no other plug-in is known here.
mfxStatus MFX_CDECL MFXVideoUSER_Load(mfxSession s, const mfxPluginUID* uid, mfxU32) {
  mfxdisp::Session* session = mfxdisp::Find(s);
  if (!session) return MFX_ERR_INVALID_HANDLE;
  if (!uid) return MFX_ERR_NULL_PTR;
  mfxIMPL impl = 0;
  const EntryPoints& e = session->library->Entry();
  const bool hardware = e.MFXQueryIMPL && e.MFXQueryIMPL(session->inner, &impl) == MFX_ERR_NONE &&
                        MFX_IMPL_BASETYPE(impl) != MFX_IMPL_SOFTWARE;
  return hardware && std::memcmp(uid, &MFX_PLUGINID_HEVCD_HW, sizeof *uid) == 0 ? MFX_ERR_NONE : MFX_ERR_NOT_FOUND;
}
mfxStatus MFX_CDECL MFXVideoUSER_UnLoad(mfxSession s, const mfxPluginUID* uid) {
  if (!mfxdisp::Find(s)) return MFX_ERR_INVALID_HANDLE;
  return uid ? MFX_ERR_NONE : MFX_ERR_NULL_PTR;
}

}  // extern "C"
