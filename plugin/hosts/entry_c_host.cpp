// windows.h first, lean: the AviSynth headers after it keep their own names.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "entry_c_host.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace korvala::c_entry {

using namespace avsc;

namespace {

// ---- the host function table: VideoFrame and PVideoFrame over AVS_VideoFrame ----

// Slot functions must sit at even addresses: an odd one means "virtual" to the caller.
#define KORVALA_SLOT static __attribute__((aligned(16)))

struct FrameRef {  // PVideoFrame's layout: one frame pointer
  AVS_VideoFrame* p;
};
static_assert(sizeof(FrameRef) == sizeof(PVideoFrame), "PVideoFrame layout");

FrameRef& Ref(PVideoFrame* f) { return *reinterpret_cast<FrameRef*>(f); }
const FrameRef& Ref(const PVideoFrame* f) { return *reinterpret_cast<const FrameRef*>(f); }
AVS_VideoFrame* C(const VideoFrame* f) { return reinterpret_cast<AVS_VideoFrame*>(const_cast<VideoFrame*>(f)); }
AVS_VideoFrame* Counted(AVS_VideoFrame* f) { return f ? avs_copy_video_frame(f) : nullptr; }

KORVALA_SLOT int FrameGetPitch(const VideoFrame* f, int plane) { return avs_get_pitch_p(C(f), plane); }
KORVALA_SLOT int FrameGetRowSize(const VideoFrame* f, int plane) { return avs_get_row_size_p(C(f), plane); }
KORVALA_SLOT int FrameGetHeight(const VideoFrame* f, int plane) { return avs_get_height_p(C(f), plane); }
KORVALA_SLOT const BYTE* FrameGetReadPtr(const VideoFrame* f, int plane) { return avs_get_read_ptr_p(C(f), plane); }
KORVALA_SLOT BYTE* FrameGetWritePtr(const VideoFrame* f, int plane) { return avs_get_write_ptr_p(C(f), plane); }
KORVALA_SLOT bool FrameIsWritable(const VideoFrame* f) { return avs_is_writable(C(f)) != 0; }

KORVALA_SLOT void RefInit(PVideoFrame* self) { Ref(self).p = nullptr; }
KORVALA_SLOT void RefFrom(PVideoFrame* self, VideoFrame* x) { Ref(self).p = Counted(C(x)); }
KORVALA_SLOT void RefCopy(PVideoFrame* self, const PVideoFrame& x) { Ref(self).p = Counted(Ref(&x).p); }
KORVALA_SLOT void RefAssign(PVideoFrame* self, VideoFrame* x) {
  AVS_VideoFrame* old = Ref(self).p;
  Ref(self).p = Counted(C(x));  // counted first: x may be the frame held now
  if (old) avs_release_video_frame(old);
}
KORVALA_SLOT void RefAssignRef(PVideoFrame* self, const PVideoFrame& x) {
  RefAssign(self, reinterpret_cast<VideoFrame*>(Ref(&x).p));
}
KORVALA_SLOT void RefDestroy(PVideoFrame* self) {
  if (Ref(self).p) avs_release_video_frame(Ref(self).p);
  Ref(self).p = nullptr;
}

struct RawSlot {
  void* fn;
  std::ptrdiff_t adjust;
};

template <class R, class Cls, class... A>
void Put(R (Cls::*&slot)(A...), R (*fn)(Cls*, A...)) {
  static_assert(sizeof slot == sizeof(RawSlot), "member-function pointers are 16 bytes");
  const RawSlot raw{reinterpret_cast<void*>(fn), 0};
  std::memcpy(&slot, &raw, sizeof raw);
}
template <class R, class Cls, class... A>
void Put(R (Cls::*&slot)(A...) const, R (*fn)(const Cls*, A...)) {
  static_assert(sizeof slot == sizeof(RawSlot), "member-function pointers are 16 bytes");
  const RawSlot raw{reinterpret_cast<void*>(fn), 0};
  std::memcpy(&slot, &raw, sizeof raw);
}

// Only the frame slots are filled: the clip uses no other host type. The header's wrappers fall
// back to empty values for empty slots.
AVS_Linkage BuildLinkage() {
  AVS_Linkage t;
  std::memset(&t, 0, sizeof t);
  t.Size = sizeof t;
  Put(t.GetPitch, &FrameGetPitch);
  Put(t.GetRowSize, &FrameGetRowSize);
  Put(t.GetHeight, &FrameGetHeight);
  Put(t.VFGetReadPtr, &FrameGetReadPtr);
  Put(t.VFGetWritePtr, &FrameGetWritePtr);
  Put(t.IsWritable, &FrameIsWritable);
  Put(t.PVideoFrame_CONSTRUCTOR0, &RefInit);
  Put(t.PVideoFrame_CONSTRUCTOR1, &RefCopy);
  Put(t.PVideoFrame_CONSTRUCTOR2, &RefFrom);
  Put(t.PVideoFrame_OPERATOR_ASSIGN0, &RefAssign);
  Put(t.PVideoFrame_OPERATOR_ASSIGN1, &RefAssignRef);
  Put(t.PVideoFrame_DESTRUCTOR, &RefDestroy);
  return t;
}

// ---- the frame-property calls of interface 8, looked up in the host's AviSynth.dll ----

constexpr int kPropertiesInterface = 8;

// Null where the host has none (AviSynth+ before 3.6): importing them would keep Korvala.dll
// from loading there at all.
struct PropertyCalls {
  decltype(&avs_get_frame_props_rw) framePropsRW = nullptr;
  decltype(&avs_prop_set_int) setInt = nullptr;
  decltype(&avs_prop_set_float) setFloat = nullptr;
  decltype(&avs_prop_set_data) setData = nullptr;
  bool Complete() const { return framePropsRW && setInt && setFloat && setData; }
};

template <class Fn>
void LookUp(HMODULE module, const char* name, Fn& fn) {
  // Through void(*)(): the one function-pointer type GCC casts FARPROC to without a warning.
  fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

PropertyCalls FindPropertyCalls() {
  PropertyCalls calls;
  // The module holding a function we import from it is the host's AviSynth.dll, wherever the
  // host loaded it from.
  HMODULE host = nullptr;
  const auto imported = reinterpret_cast<std::uintptr_t>(&avs_check_version);
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(imported), &host))
    return calls;
  LookUp(host, "avs_get_frame_props_rw", calls.framePropsRW);
  LookUp(host, "avs_prop_set_int", calls.setInt);
  LookUp(host, "avs_prop_set_float", calls.setFloat);
  LookUp(host, "avs_prop_set_data", calls.setData);
  return calls;
}

const PropertyCalls& Properties() {
  static const PropertyCalls calls = FindPropertyCalls();
  return calls;
}

AVS_Map* C(AVSMap* map) { return reinterpret_cast<AVS_Map*>(map); }

}  // namespace

const AVS_Linkage* FrameLinkage() {
  static const AVS_Linkage table = BuildLinkage();
  return &table;
}

AVS_VideoFrame* NewReference(const PVideoFrame& frame) { return Counted(Ref(&frame).p); }

void RaiseHostError(IScriptEnvironment* env, AVS_ScriptEnvironment* host, const char* fallback) {
  const char* error = avs_get_error(host);
  env->ThrowError("%s", error ? error : fallback);
  throw AvisynthError(fallback);  // not reached: ThrowError does not return
}

// ---- the environment ----

int Environment::GetCPUFlags() { return avs_get_cpu_flags(host_); }

char* Environment::SaveString(const char* s, int length) { return avs_save_string(host_, s, length); }

char* Environment::Sprintf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  char* text = avs_vsprintf(host_, fmt, args);
  va_end(args);
  return text;
}

char* Environment::VSprintf(const char* fmt, va_list val) { return avs_vsprintf(host_, fmt, val); }

void Environment::ThrowError(const char* fmt, ...) {
  char message[1024];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(message, sizeof message, fmt, args);
  va_end(args);
  // The host's copy outlives this call, as the C interface's error results require.
  const char* kept = avs_save_string(host_, message, -1);
  throw AvisynthError(kept ? kept : "Korvala: error");
}

void Environment::Unavailable(const char* call) {
  ThrowError("Korvala: %s is not available through AviSynth's C interface", call);
}

PVideoFrame Environment::Adopt(AVS_VideoFrame* frame) {
  PVideoFrame held(reinterpret_cast<VideoFrame*>(frame));
  avs_release_video_frame(frame);
  return held;
}

void Environment::AddFunction(const char*, const char*, ApplyFunc, void*) { Unavailable("AddFunction"); }
bool Environment::FunctionExists(const char* name) { return avs_function_exists(host_, name) != 0; }
AVSValue Environment::Invoke(const char*, const AVSValue, const char* const*) { Unavailable("Invoke"); }
AVSValue Environment::GetVar(const char*) { Unavailable("GetVar"); }
bool Environment::SetVar(const char*, const AVSValue&) { Unavailable("SetVar"); }
bool Environment::SetGlobalVar(const char*, const AVSValue&) { Unavailable("SetGlobalVar"); }
void Environment::PushContext(int) {}
void Environment::PopContext() {}

PVideoFrame Environment::NewVideoFrame(const VideoInfo& vi, int align) {
  static_assert(sizeof(VideoInfo) == sizeof(AVS_VideoInfo), "VideoInfo layout");
  AVS_VideoFrame* frame = avs_new_video_frame_a(host_, reinterpret_cast<const AVS_VideoInfo*>(&vi), align);
  if (!frame) RaiseHostError(this, host_, "Korvala: NewVideoFrame failed");
  return Adopt(frame);
}

bool Environment::MakeWritable(PVideoFrame* pvf) {
  return avs_make_writable(host_, &Ref(pvf).p) != 0;
}

void Environment::BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch, int row_size, int height) {
  avs_bit_blt(host_, dstp, dst_pitch, srcp, src_pitch, row_size, height);
}

void Environment::AtExit(ShutdownFunc, void*) { Unavailable("AtExit"); }

// A later interface's calls are guarded by this check, as in a C++ host. Those of interface 8
// that the glue forwards must also be found in the host's AviSynth.dll.
void Environment::CheckVersion(int version) {
  if (avs_check_version(host_, version) != 0) RaiseHostError(this, host_, "Korvala: AviSynth interface too old");
  if (version >= kPropertiesInterface && !Properties().Complete()) ThrowError("Korvala: AviSynth interface too old");
}

PVideoFrame Environment::Subframe(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size, int new_height) {
  AVS_VideoFrame* frame = avs_subframe(host_, Ref(&src).p, rel_offset, new_pitch, new_row_size, new_height);
  if (!frame) RaiseHostError(this, host_, "Korvala: Subframe failed");
  return Adopt(frame);
}

int Environment::SetMemoryMax(int mem) { return avs_set_memory_max(host_, mem); }
int Environment::SetWorkingDir(const char* newdir) { return avs_set_working_dir(host_, newdir); }
void* Environment::ManageCache(int, void*) { return nullptr; }
bool Environment::PlanarChromaAlignment(PlanarChromaAlignmentMode) { return false; }

PVideoFrame Environment::SubframePlanar(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                        int new_height, int rel_offsetU, int rel_offsetV, int new_pitchUV) {
  AVS_VideoFrame* frame = avs_subframe_planar(host_, Ref(&src).p, rel_offset, new_pitch, new_row_size, new_height,
                                              rel_offsetU, rel_offsetV, new_pitchUV);
  if (!frame) RaiseHostError(this, host_, "Korvala: SubframePlanar failed");
  return Adopt(frame);
}

void Environment::DeleteScriptEnvironment() {}  // the host owns it
void Environment::ApplyMessage(PVideoFrame*, const VideoInfo&, const char*, int, int, int, int) {
  Unavailable("ApplyMessage");
}
const AVS_Linkage* Environment::GetAVSLinkage() { return FrameLinkage(); }
AVSValue Environment::GetVarDef(const char*, const AVSValue&) { Unavailable("GetVarDef"); }

// ---- interface 8 ----

AVSMap* Environment::getFramePropsRW(PVideoFrame& frame) {
  if (!Properties().framePropsRW) Unavailable("getFramePropsRW");
  AVS_Map* map = Properties().framePropsRW(host_, Ref(&frame).p);
  if (!map) RaiseHostError(this, host_, "Korvala: getFramePropsRW failed");
  return reinterpret_cast<AVSMap*>(map);
}

int Environment::propSetInt(AVSMap* map, const char* key, int64_t i, int append) {
  if (!Properties().setInt) Unavailable("propSetInt");
  return Properties().setInt(host_, C(map), key, i, append);
}

int Environment::propSetFloat(AVSMap* map, const char* key, double d, int append) {
  if (!Properties().setFloat) Unavailable("propSetFloat");
  return Properties().setFloat(host_, C(map), key, d, append);
}

int Environment::propSetData(AVSMap* map, const char* key, const char* d, int length, int append) {
  if (!Properties().setData) Unavailable("propSetData");
  return Properties().setData(host_, C(map), key, d, length, append);
}

PVideoFrame Environment::SubframePlanarA(PVideoFrame, int, int, int, int, int, int, int, int) {
  Unavailable("SubframePlanarA");
}
void Environment::copyFrameProps(const PVideoFrame&, PVideoFrame&) { Unavailable("copyFrameProps"); }
const AVSMap* Environment::getFramePropsRO(const PVideoFrame&) { Unavailable("getFramePropsRO"); }
int Environment::propNumKeys(const AVSMap*) { Unavailable("propNumKeys"); }
const char* Environment::propGetKey(const AVSMap*, int) { Unavailable("propGetKey"); }
int Environment::propNumElements(const AVSMap*, const char*) { Unavailable("propNumElements"); }
char Environment::propGetType(const AVSMap*, const char*) { Unavailable("propGetType"); }
int64_t Environment::propGetInt(const AVSMap*, const char*, int, int*) { Unavailable("propGetInt"); }
double Environment::propGetFloat(const AVSMap*, const char*, int, int*) { Unavailable("propGetFloat"); }
const char* Environment::propGetData(const AVSMap*, const char*, int, int*) { Unavailable("propGetData"); }
int Environment::propGetDataSize(const AVSMap*, const char*, int, int*) { Unavailable("propGetDataSize"); }
PClip Environment::propGetClip(const AVSMap*, const char*, int, int*) { Unavailable("propGetClip"); }
const PVideoFrame Environment::propGetFrame(const AVSMap*, const char*, int, int*) { Unavailable("propGetFrame"); }
int Environment::propDeleteKey(AVSMap*, const char*) { Unavailable("propDeleteKey"); }
int Environment::propSetClip(AVSMap*, const char*, PClip&, int) { Unavailable("propSetClip"); }
int Environment::propSetFrame(AVSMap*, const char*, const PVideoFrame&, int) { Unavailable("propSetFrame"); }
const int64_t* Environment::propGetIntArray(const AVSMap*, const char*, int*) { Unavailable("propGetIntArray"); }
const double* Environment::propGetFloatArray(const AVSMap*, const char*, int*) { Unavailable("propGetFloatArray"); }
int Environment::propSetIntArray(AVSMap*, const char*, const int64_t*, int) { Unavailable("propSetIntArray"); }
int Environment::propSetFloatArray(AVSMap*, const char*, const double*, int) { Unavailable("propSetFloatArray"); }
AVSMap* Environment::createMap() { Unavailable("createMap"); }
void Environment::freeMap(AVSMap*) { Unavailable("freeMap"); }
void Environment::clearMap(AVSMap*) { Unavailable("clearMap"); }
PVideoFrame Environment::NewVideoFrameP(const VideoInfo&, const PVideoFrame*, int) { Unavailable("NewVideoFrameP"); }
size_t Environment::GetEnvProperty(AvsEnvProperty) { Unavailable("GetEnvProperty"); }

}  // namespace korvala::c_entry
