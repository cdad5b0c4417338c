#pragma once
// Host-side layouts and helpers shared by the host's sources. The plugin sees none of this:
// it reaches the host only through IScriptEnvironment and the AVS_Linkage table.
#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "avs_host.h"

namespace avshost::detail {

// ---- frames ----
struct PlaneLayout {
  size_t offset = 0;  // from the block start
  int pitch = 0;
  int rowSize = 0;
  int height = 0;
  int paddedRow = 0;  // the pitch a host without guards would give; <= pitch
};

// What an AVSMap* handed to the plugin points at.
using PropertyMap = Properties;
inline PropertyMap* MapOf(AVSMap* map) { return reinterpret_cast<PropertyMap*>(map); }
inline const PropertyMap* MapOf(const AVSMap* map) { return reinterpret_cast<const PropertyMap*>(map); }
inline AVSMap* AsMap(PropertyMap* map) { return reinterpret_cast<AVSMap*>(map); }

// What a VideoFrame* handed to the plugin points at.
struct FrameRecord {
  std::atomic<long> refs{0};
  VideoInfo vi{};
  int align = FRAME_ALIGN;
  bool guarded = false;
  int numPlanes = 0;  // 1 (luma only) or 3
  PlaneLayout planes[3];
  uint8_t* block = nullptr;
  size_t blockSize = 0;
  PropertyMap properties;
};

// A new frame with no references, or null with the reason in *error.
FrameRecord* NewFrame(const VideoInfo& vi, int align, bool guarded, std::string* error);
void AddRef(FrameRecord* frame);
void Release(FrameRecord* frame);
// The plane a selector names, or null when the frame has no such plane.
const PlaneLayout* PlaneOf(const FrameRecord& frame, int plane);
bool GuardsIntact(const FrameRecord& frame);
bool PaddingTouched(const FrameRecord& frame);
long LiveFrames();

inline FrameRecord* RecordOf(const VideoFrame* frame) {
  return reinterpret_cast<FrameRecord*>(const_cast<VideoFrame*>(frame));
}
inline VideoFrame* FrameOf(FrameRecord* record) { return reinterpret_cast<VideoFrame*>(record); }

// ---- clips: the count lives in the plugin's object, 8 bytes at offset 8 ----
void AddRef(IClip* clip);
void Release(IClip* clip);  // deletes the clip through vtable slot 7 when the count reaches 0
long ClipsDestroyed();

const AVS_Linkage* HostLinkage();
int DetectCpuFlags();

// ---- the environment object given to plugins ----
class Environment final : public IScriptEnvironment {
 public:
  Environment(int cpuFlags, bool guardFrames, int interfaceVersion);
  ~Environment() override;

  int __stdcall GetCPUFlags() override;
  char* __stdcall SaveString(const char* s, int length) override;
  __attribute__((format(printf, 2, 3))) char* __stdcall Sprintf(const char* fmt, ...) override;
  __attribute__((format(printf, 2, 0))) char* __stdcall VSprintf(const char* fmt, va_list val) override;
  [[noreturn]] __attribute__((format(printf, 2, 3))) void __stdcall ThrowError(const char* fmt, ...) override;
  void __stdcall AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) override;
  bool __stdcall FunctionExists(const char* name) override;
  AVSValue __stdcall Invoke(const char* name, const AVSValue args, const char* const* arg_names) override;
  AVSValue __stdcall GetVar(const char* name) override;
  bool __stdcall SetVar(const char* name, const AVSValue& val) override;
  bool __stdcall SetGlobalVar(const char* name, const AVSValue& val) override;
  void __stdcall PushContext(int level) override;
  void __stdcall PopContext() override;
  PVideoFrame __stdcall NewVideoFrame(const VideoInfo& vi, int align) override;
  bool __stdcall MakeWritable(PVideoFrame* pvf) override;
  void __stdcall BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch, int row_size,
                        int height) override;
  void __stdcall AtExit(ShutdownFunc function, void* user_data) override;
  void __stdcall CheckVersion(int version) override;
  PVideoFrame __stdcall Subframe(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                 int new_height) override;
  int __stdcall SetMemoryMax(int mem) override;
  int __stdcall SetWorkingDir(const char* newdir) override;
  void* __stdcall ManageCache(int key, void* data) override;
  bool __stdcall PlanarChromaAlignment(PlanarChromaAlignmentMode key) override;
  PVideoFrame __stdcall SubframePlanar(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                       int new_height, int rel_offsetU, int rel_offsetV,
                                       int new_pitchUV) override;
  void __stdcall DeleteScriptEnvironment() override;
  void __stdcall ApplyMessage(PVideoFrame* frame, const VideoInfo& vi, const char* message, int size,
                              int textcolor, int halocolor, int bgcolor) override;
  const AVS_Linkage* __stdcall GetAVSLinkage() override;
  AVSValue __stdcall GetVarDef(const char* name, const AVSValue& def) override;

  // Interface 8: frame properties (properties.cpp).
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
  PVideoFrame __stdcall NewVideoFrameP(const VideoInfo& vi, const PVideoFrame* prop_src, int align) override;
  size_t __stdcall GetEnvProperty(AvsEnvProperty prop) override;

  // Host side.
  void SetCpuFlags(int flags) { cpuFlags_ = flags; }
  void SetGuardFrames(bool on) { guardFrames_ = on; }
  std::vector<Registration>& Registrations() { return registrations_; }
  void KeepLibrary(void* handle) { libraries_.push_back(handle); }

 private:
  char* Store(std::unique_ptr<char[]> text);
  // Stops the program when a plugin makes a call of interface 8 that this host's version lacks.
  void RequireInterface8(const char* what) const;
  // The values under key, or null with *error set (ThrowError when error is null, as AviSynth+).
  const Property* Lookup(const AVSMap* map, const char* key, char type, int index, int* error);
  // A key's values made ready for one more of `type`; null when the mode or type forbid it.
  Property* Prepare(AVSMap* map, const char* key, char type, int append);
  __attribute__((format(printf, 2, 0))) char* Format(const char* fmt, va_list args);

  int cpuFlags_;
  bool guardFrames_;
  int interfaceVersion_;
  int memoryMax_ = 1024;
  std::mutex stringsMutex_;  // clips may raise errors from several threads
  std::vector<std::unique_ptr<char[]>> strings_;  // SaveString, Sprintf and error texts
  std::vector<Registration> registrations_;
  std::vector<std::pair<ShutdownFunc, void*>> atExit_;
  std::vector<void*> libraries_;
};

}  // namespace avshost::detail
