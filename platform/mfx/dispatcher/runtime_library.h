// One Media SDK runtime library loaded by the dispatcher, with the entry points it forwards to.
#pragma once

#include <mfxvideo.h>
#include <mfxplugin.h>

#include <memory>
#include <string>

namespace mfxdisp {

// The runtime exports the dispatcher forwards to; a runtime lacking one answers
// MFX_ERR_UNSUPPORTED for it.
#define MFXDISP_FORWARDED(X)                                                                    \
  X(MFXClose) X(MFXQueryIMPL) X(MFXQueryVersion) X(MFXJoinSession) X(MFXDisjoinSession)         \
  X(MFXSetPriority) X(MFXGetPriority) X(MFXVideoCORE_SetFrameAllocator) X(MFXVideoCORE_SetHandle) \
  X(MFXVideoCORE_GetHandle) X(MFXVideoCORE_QueryPlatform) X(MFXVideoCORE_SyncOperation)         \
  X(MFXVideoENCODE_Query) X(MFXVideoENCODE_QueryIOSurf) X(MFXVideoENCODE_Init)                  \
  X(MFXVideoENCODE_Reset) X(MFXVideoENCODE_Close) X(MFXVideoENCODE_GetVideoParam)               \
  X(MFXVideoENCODE_GetEncodeStat) X(MFXVideoENCODE_EncodeFrameAsync) X(MFXVideoDECODE_Query)    \
  X(MFXVideoDECODE_DecodeHeader) X(MFXVideoDECODE_QueryIOSurf) X(MFXVideoDECODE_Init)           \
  X(MFXVideoDECODE_Reset) X(MFXVideoDECODE_Close) X(MFXVideoDECODE_GetVideoParam)               \
  X(MFXVideoDECODE_GetDecodeStat) X(MFXVideoDECODE_SetSkipMode) X(MFXVideoDECODE_GetPayload)    \
  X(MFXVideoDECODE_DecodeFrameAsync) X(MFXVideoVPP_Query) X(MFXVideoVPP_QueryIOSurf)            \
  X(MFXVideoVPP_Init) X(MFXVideoVPP_Reset) X(MFXVideoVPP_Close) X(MFXVideoVPP_GetVideoParam)    \
  X(MFXVideoVPP_GetVPPStat) X(MFXVideoVPP_RunFrameVPPAsync)

struct EntryPoints {
  decltype(&::MFXInitEx) MFXInitEx = nullptr;
#define MFXDISP_MEMBER(name) decltype(&::name) name = nullptr;
  MFXDISP_FORWARDED(MFXDISP_MEMBER)
#undef MFXDISP_MEMBER
};

class RuntimeLibrary {
 public:
  // The software runtime from the folder of the module holding this code (the plugin's, or the
  // program's), by full path: the current directory plays no part.
  static std::unique_ptr<RuntimeLibrary> OpenSoftware();
  // The graphics driver's runtime, from the system's search path (never the current directory).
  static std::unique_ptr<RuntimeLibrary> OpenHardware();

  ~RuntimeLibrary();
  RuntimeLibrary(const RuntimeLibrary&) = delete;
  RuntimeLibrary& operator=(const RuntimeLibrary&) = delete;

  const EntryPoints& Entry() const { return entry_; }
  bool SameModule(const RuntimeLibrary& other) const { return module_ == other.module_; }

 private:
  explicit RuntimeLibrary(void* module) : module_(module) {}
  static std::unique_ptr<RuntimeLibrary> Open(const std::wstring& name, unsigned long flags);

  void* module_;
  EntryPoints entry_;
};

// The full path of a file in the folder of the module holding this code; "" if it can't be told.
std::wstring BesideThisModule(const wchar_t* fileName);

}  // namespace mfxdisp
