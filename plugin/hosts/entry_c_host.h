#pragma once
// What the clip needs of its host, answered through AviSynth+'s C interface (avisynth_c.h): an
// IScriptEnvironment whose calls become avs_* calls, and a host function table through which
// the header's PVideoFrame and VideoFrame reach the C interface's frames. A VideoFrame* here is
// the C interface's AVS_VideoFrame*, counted with avs_copy_video_frame and
// avs_release_video_frame.
#include "avisynth.h"

#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

// Both headers name AVISYNTH_INTERFACE_VERSION (and avisynth_c.h defines FRAME_ALIGN as a macro,
// so it comes second): the C interface gets a namespace of its own. Its functions keep their C
// names, so they still link to AviSynth.dll's exports.
namespace avsc {
#include <avisynth_c.h>
}

namespace korvala::c_entry {

using avsc::AVS_ScriptEnvironment;
using avsc::AVS_VideoFrame;

const AVS_Linkage* FrameLinkage();

// A new reference to the frame behind `frame` (null for an empty one), for the C side to own.
AVS_VideoFrame* NewReference(const PVideoFrame& frame);

// Raises through `env` the error the C interface reports for it (or `fallback`).
[[noreturn]] void RaiseHostError(IScriptEnvironment* env, AVS_ScriptEnvironment* host, const char* fallback);

// Wraps one AVS_ScriptEnvironment, which must outlive it. ThrowError throws AvisynthError with
// the message kept in the host's string storage; the C entry catches it before it reaches the
// host. Calls the C interface has no counterpart for raise an error.
class Environment final : public IScriptEnvironment {
 public:
  explicit Environment(AVS_ScriptEnvironment* host) : host_(host) {}
  AVS_ScriptEnvironment* Host() const { return host_; }

  int __stdcall GetCPUFlags() override;
  char* __stdcall SaveString(const char* s, int length = -1) override;
  char* __stdcall Sprintf(const char* fmt, ...) override;
  char* __stdcall VSprintf(const char* fmt, va_list val) override;
  [[noreturn]] void __stdcall ThrowError(const char* fmt, ...) override;
  void __stdcall AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) override;
  bool __stdcall FunctionExists(const char* name) override;
  AVSValue __stdcall Invoke(const char* name, const AVSValue args, const char* const* arg_names = 0) override;
  AVSValue __stdcall GetVar(const char* name) override;
  bool __stdcall SetVar(const char* name, const AVSValue& val) override;
  bool __stdcall SetGlobalVar(const char* name, const AVSValue& val) override;
  void __stdcall PushContext(int level = 0) override;
  void __stdcall PopContext() override;
  PVideoFrame __stdcall NewVideoFrame(const VideoInfo& vi, int align = FRAME_ALIGN) override;
  bool __stdcall MakeWritable(PVideoFrame* pvf) override;
  void __stdcall BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch, int row_size,
                        int height) override;
  void __stdcall AtExit(ShutdownFunc function, void* user_data) override;
  void __stdcall CheckVersion(int version = ::AVISYNTH_INTERFACE_VERSION) override;
  PVideoFrame __stdcall Subframe(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                 int new_height) override;
  int __stdcall SetMemoryMax(int mem) override;
  int __stdcall SetWorkingDir(const char* newdir) override;
  void* __stdcall ManageCache(int key, void* data) override;
  bool __stdcall PlanarChromaAlignment(PlanarChromaAlignmentMode key) override;
  PVideoFrame __stdcall SubframePlanar(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                       int new_height, int rel_offsetU, int rel_offsetV, int new_pitchUV) override;
  void __stdcall DeleteScriptEnvironment() override;
  void __stdcall ApplyMessage(PVideoFrame* frame, const VideoInfo& vi, const char* message, int size,
                              int textcolor, int halocolor, int bgcolor) override;
  const AVS_Linkage* __stdcall GetAVSLinkage() override;
  AVSValue __stdcall GetVarDef(const char* name, const AVSValue& def = AVSValue()) override;

  // Interface 8: the property calls the clip makes are forwarded to the avs_prop_* functions of
  // the host's AviSynth.dll, found at run time so that the DLL still loads in an older host
  // (whose CheckVersion(8) then fails). The others raise an error.
  PVideoFrame __stdcall SubframePlanarA(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                        int new_height, int rel_offsetU, int rel_offsetV, int new_pitchUV,
                                        int rel_offsetA) override;
  void __stdcall copyFrameProps(const PVideoFrame& src, PVideoFrame& dst) override;
  const AVSMap* __stdcall getFramePropsRO(const PVideoFrame& frame) override;
  AVSMap* __stdcall getFramePropsRW(PVideoFrame& frame) override;
  int __stdcall propNumKeys(const AVSMap* map) override;
  const char* __stdcall propGetKey(const AVSMap* map, int index) override;
  int __stdcall propNumElements(const AVSMap* map, const char* key) override;
  char __stdcall propGetType(const AVSMap* map, const char* key) override;
  int64_t __stdcall propGetInt(const AVSMap* map, const char* key, int index, int* error) override;
  double __stdcall propGetFloat(const AVSMap* map, const char* key, int index, int* error) override;
  const char* __stdcall propGetData(const AVSMap* map, const char* key, int index, int* error) override;
  int __stdcall propGetDataSize(const AVSMap* map, const char* key, int index, int* error) override;
  PClip __stdcall propGetClip(const AVSMap* map, const char* key, int index, int* error) override;
  const PVideoFrame __stdcall propGetFrame(const AVSMap* map, const char* key, int index, int* error) override;
  int __stdcall propDeleteKey(AVSMap* map, const char* key) override;
  int __stdcall propSetInt(AVSMap* map, const char* key, int64_t i, int append) override;
  int __stdcall propSetFloat(AVSMap* map, const char* key, double d, int append) override;
  int __stdcall propSetData(AVSMap* map, const char* key, const char* d, int length, int append) override;
  int __stdcall propSetClip(AVSMap* map, const char* key, PClip& clip, int append) override;
  int __stdcall propSetFrame(AVSMap* map, const char* key, const PVideoFrame& frame, int append) override;
  const int64_t* __stdcall propGetIntArray(const AVSMap* map, const char* key, int* error) override;
  const double* __stdcall propGetFloatArray(const AVSMap* map, const char* key, int* error) override;
  int __stdcall propSetIntArray(AVSMap* map, const char* key, const int64_t* i, int size) override;
  int __stdcall propSetFloatArray(AVSMap* map, const char* key, const double* d, int size) override;
  AVSMap* __stdcall createMap() override;
  void __stdcall freeMap(AVSMap* map) override;
  void __stdcall clearMap(AVSMap* map) override;
  PVideoFrame __stdcall NewVideoFrameP(const VideoInfo& vi, const PVideoFrame* prop_src,
                                       int align = FRAME_ALIGN) override;
  size_t __stdcall GetEnvProperty(AvsEnvProperty prop) override;

 private:
  [[noreturn]] void Unavailable(const char* call);
  // Takes over a frame the C interface returned with one reference for us.
  PVideoFrame Adopt(AVS_VideoFrame* frame);

  AVS_ScriptEnvironment* host_;
};

}  // namespace korvala::c_entry
