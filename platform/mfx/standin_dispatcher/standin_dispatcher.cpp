// A stand-in for the Media SDK dispatcher, for Windows builds that were given no real one.
//
// It behaves like a real dispatcher on a machine without any runtime: no session opens
// (MFX_ERR_UNSUPPORTED), so no other call ever has a session to act on and each answers
// MFX_ERR_INVALID_HANDLE (or MFX_ERR_NULL_PTR for a missing out-parameter).
#include <mfxplugin.h>
#include <mfxvideo.h>

namespace {
mfxStatus NoSession(mfxSession session) {
  return session ? MFX_ERR_UNSUPPORTED : MFX_ERR_INVALID_HANDLE;
}
}  // namespace

extern "C" {

mfxStatus MFX_CDECL MFXInit(mfxIMPL, mfxVersion*, mfxSession* session) {
  if (!session) return MFX_ERR_NULL_PTR;
  *session = nullptr;
  return MFX_ERR_UNSUPPORTED;
}
mfxStatus MFX_CDECL MFXInitEx(mfxInitParam, mfxSession* session) { return MFXInit(0, nullptr, session); }
mfxStatus MFX_CDECL MFXClose(mfxSession s) { return NoSession(s); }
mfxStatus MFX_CDECL MFXQueryIMPL(mfxSession s, mfxIMPL*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXQueryVersion(mfxSession s, mfxVersion*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXJoinSession(mfxSession s, mfxSession) { return NoSession(s); }
mfxStatus MFX_CDECL MFXDisjoinSession(mfxSession s) { return NoSession(s); }
mfxStatus MFX_CDECL MFXCloneSession(mfxSession s, mfxSession* clone) {
  if (clone) *clone = nullptr;
  return NoSession(s);
}
mfxStatus MFX_CDECL MFXSetPriority(mfxSession s, mfxPriority) { return NoSession(s); }
mfxStatus MFX_CDECL MFXGetPriority(mfxSession s, mfxPriority*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXDoWork(mfxSession s) { return NoSession(s); }

mfxStatus MFX_CDECL MFXVideoCORE_SetBufferAllocator(mfxSession s, mfxBufferAllocator*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoCORE_SetFrameAllocator(mfxSession s, mfxFrameAllocator*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoCORE_SetHandle(mfxSession s, mfxHandleType, mfxHDL) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoCORE_GetHandle(mfxSession s, mfxHandleType, mfxHDL*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoCORE_QueryPlatform(mfxSession s, mfxPlatform*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoCORE_SyncOperation(mfxSession s, mfxSyncPoint, mfxU32) { return NoSession(s); }

mfxStatus MFX_CDECL MFXVideoENCODE_Query(mfxSession s, mfxVideoParam*, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoENCODE_QueryIOSurf(mfxSession s, mfxVideoParam*, mfxFrameAllocRequest*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoENCODE_Init(mfxSession s, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoENCODE_Reset(mfxSession s, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoENCODE_Close(mfxSession s) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoENCODE_GetVideoParam(mfxSession s, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoENCODE_GetEncodeStat(mfxSession s, mfxEncodeStat*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoENCODE_EncodeFrameAsync(mfxSession s, mfxEncodeCtrl*, mfxFrameSurface1*, mfxBitstream*,
                                                    mfxSyncPoint*) {
  return NoSession(s);
}

mfxStatus MFX_CDECL MFXVideoDECODE_Query(mfxSession s, mfxVideoParam*, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoDECODE_DecodeHeader(mfxSession s, mfxBitstream*, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoDECODE_QueryIOSurf(mfxSession s, mfxVideoParam*, mfxFrameAllocRequest*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoDECODE_Init(mfxSession s, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoDECODE_Reset(mfxSession s, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoDECODE_Close(mfxSession s) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoDECODE_GetVideoParam(mfxSession s, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoDECODE_GetDecodeStat(mfxSession s, mfxDecodeStat*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoDECODE_SetSkipMode(mfxSession s, mfxSkipMode) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoDECODE_GetPayload(mfxSession s, mfxU64*, mfxPayload*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoDECODE_DecodeFrameAsync(mfxSession s, mfxBitstream*, mfxFrameSurface1*, mfxFrameSurface1**,
                                                    mfxSyncPoint*) {
  return NoSession(s);
}

mfxStatus MFX_CDECL MFXVideoVPP_Query(mfxSession s, mfxVideoParam*, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoVPP_QueryIOSurf(mfxSession s, mfxVideoParam*, mfxFrameAllocRequest*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoVPP_Init(mfxSession s, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoVPP_Reset(mfxSession s, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoVPP_Close(mfxSession s) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoVPP_GetVideoParam(mfxSession s, mfxVideoParam*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoVPP_GetVPPStat(mfxSession s, mfxVPPStat*) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoVPP_RunFrameVPPAsync(mfxSession s, mfxFrameSurface1*, mfxFrameSurface1*, mfxExtVppAuxData*,
                                                 mfxSyncPoint*) {
  return NoSession(s);
}

mfxStatus MFX_CDECL MFXVideoUSER_Load(mfxSession s, const mfxPluginUID*, mfxU32) { return NoSession(s); }
mfxStatus MFX_CDECL MFXVideoUSER_UnLoad(mfxSession s, const mfxPluginUID*) { return NoSession(s); }

}  // extern "C"
