// Plumbing shared by our Media SDK runtimes: the 62 C entry points the dispatcher resolves,
// session handles, sync points and a C++ back end that each runtime implements.
//
// The entry points validate what every runtime would (null session, null pointers, a bitstream
// whose offset and length overrun its buffer) and forward the rest to TheBackend(). Whatever a
// back end does not override answers MFX_ERR_UNSUPPORTED; closes answer MFX_ERR_NONE.
#pragma once

#include <mfxvideo.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace mfxrt {

// Sync points are opaque non-null tokens, unique across all sessions of the process. Each names
// the surface whose picture it completes. A surface has at most one pending sync point: issuing
// a new one for it retires the old one, so a caller that never syncs cannot grow the table.
class SyncPoints {
 public:
  mfxSyncPoint Issue(mfxFrameSurface1* surface);
  // The surface of a pending sync point, or null when the token is unknown or retired.
  mfxFrameSurface1* Find(mfxSyncPoint sync) const;
  void Retire(mfxSyncPoint sync);
  void Clear();
  // Forgets every pending sync point and unlocks its surface (a reset takes the pictures back).
  void Release();
  std::size_t Pending() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::uintptr_t, mfxFrameSurface1*> pending_;
};

// What an mfxSession points to inside our runtimes.
class Session {
 public:
  // A back end's own per-session data.
  struct State {
    virtual ~State() = default;
  };

  explicit Session(const mfxInitParam& requested) : requested_(requested) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // What the caller asked MFXInitEx for.
  const mfxInitParam& Requested() const { return requested_; }

  // What was opened: set by the back end's InitEx, answered by the default QueryIMPL and
  // QueryVersion.
  mfxIMPL impl = 0;
  mfxVersion version{};

  std::unique_ptr<State> state;
  template <class T>
  T& StateAs() {
    return static_cast<T&>(*state);
  }

  SyncPoints& Sync() { return sync_; }

  mfxSession Handle() { return reinterpret_cast<mfxSession>(this); }

 private:
  mfxInitParam requested_;
  SyncPoints sync_;
};

// One finished entry-point call, as the core saw it: given to Backend::OnCall after the call.
// Fields that do not apply to the function stay zero.
struct CallEvent {
  const char* function = "";
  mfxSession handle = nullptr;     // as the caller passed it
  Session* session = nullptr;      // null when the handle was null or not one of ours
  mfxStatus status = MFX_ERR_NONE;
  mfxIMPL impl = 0;                // MFXInitEx: asked for; MFXQueryIMPL: answered
  mfxVersion version{};            // MFXInitEx: asked for; MFXQueryVersion: answered
  const mfxVideoParam* param = nullptr;  // the caller's (input) parameters
  bool hasBitstream = false;       // a bitstream was passed (false: drain or no such argument)
  mfxU32 bytesOffered = 0;         // DataLength on entry
  mfxU32 bytesConsumed = 0;        // how far DataOffset moved
  mfxFrameSurface1* work = nullptr;
  mfxFrameSurface1* out = nullptr; // the output surface handed back, if any
  mfxSyncPoint sync = nullptr;     // issued (DecodeFrameAsync) or waited on (SyncOperation)
  mfxU32 wait = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Accept or refuse the asked implementation and version. On success set s.impl and
  // s.version (and s.state if needed); a warning status also opens the session.
  virtual mfxStatus InitEx(const mfxInitParam& par, Session& s) = 0;
  // Called by MFXClose before the session is destroyed.
  virtual void Close(Session&) {}
  virtual mfxStatus QueryIMPL(Session& s, mfxIMPL* impl);
  virtual mfxStatus QueryVersion(Session& s, mfxVersion* version);

  virtual mfxStatus SetFrameAllocator(Session&, mfxFrameAllocator*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus SetHandle(Session&, mfxHandleType, mfxHDL) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus GetHandle(Session&, mfxHandleType, mfxHDL*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus QueryPlatform(Session&, mfxPlatform*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus SyncOperation(Session&, mfxSyncPoint, mfxU32 /*wait*/) { return MFX_ERR_UNSUPPORTED; }

  virtual mfxStatus DecodeQuery(Session&, mfxVideoParam* /*in*/, mfxVideoParam* /*out*/) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus DecodeHeader(Session&, mfxBitstream*, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus DecodeQueryIOSurf(Session&, mfxVideoParam*, mfxFrameAllocRequest*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus DecodeInit(Session&, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus DecodeReset(Session&, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus DecodeClose(Session&) { return MFX_ERR_NONE; }
  virtual mfxStatus DecodeGetVideoParam(Session&, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus DecodeGetStat(Session&, mfxDecodeStat*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus DecodeSetSkipMode(Session&, mfxSkipMode) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus DecodeGetPayload(Session&, mfxU64*, mfxPayload*) { return MFX_ERR_UNSUPPORTED; }
  // bs is null when the caller drains the decoder.
  virtual mfxStatus DecodeFrameAsync(Session&, mfxBitstream* /*bs*/, mfxFrameSurface1* /*work*/,
                                     mfxFrameSurface1** /*out*/, mfxSyncPoint*) {
    return MFX_ERR_UNSUPPORTED;
  }

  virtual mfxStatus EncodeQuery(Session&, mfxVideoParam*, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus EncodeQueryIOSurf(Session&, mfxVideoParam*, mfxFrameAllocRequest*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus EncodeInit(Session&, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus EncodeReset(Session&, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus EncodeClose(Session&) { return MFX_ERR_NONE; }
  virtual mfxStatus EncodeGetVideoParam(Session&, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus EncodeGetStat(Session&, mfxEncodeStat*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus EncodeFrameAsync(Session&, mfxEncodeCtrl*, mfxFrameSurface1*, mfxBitstream*, mfxSyncPoint*) {
    return MFX_ERR_UNSUPPORTED;
  }

  virtual mfxStatus VppQuery(Session&, mfxVideoParam*, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus VppQueryIOSurf(Session&, mfxVideoParam*, mfxFrameAllocRequest[2]) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus VppInit(Session&, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus VppReset(Session&, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus VppClose(Session&) { return MFX_ERR_NONE; }
  virtual mfxStatus VppGetVideoParam(Session&, mfxVideoParam*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus VppGetStat(Session&, mfxVPPStat*) { return MFX_ERR_UNSUPPORTED; }
  virtual mfxStatus VppRunFrameAsync(Session&, mfxFrameSurface1*, mfxFrameSurface1*, mfxExtVppAuxData*, mfxSyncPoint*) {
    return MFX_ERR_UNSUPPORTED;
  }

  // Every entry-point call ends here, also those the core answered itself (null or unknown
  // session, null arguments, functions no back end implements). Must not call entry points.
  virtual void OnCall(const CallEvent&) {}
};

// Defined by each runtime library: its one back end.
Backend& TheBackend();

// The session behind a handle, or null when the handle is null or not a live session of ours.
Session* FindSession(mfxSession handle);

// The row pitch of a surface in bytes (PitchHigh:PitchLow).
inline std::size_t SurfacePitch(const mfxFrameData& data) {
  return (static_cast<std::size_t>(data.PitchHigh) << 16) | data.PitchLow;
}

}  // namespace mfxrt
