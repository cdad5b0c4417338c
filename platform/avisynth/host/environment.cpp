// The IScriptEnvironment a plugin is given: all 30 slots of the 2.6 interface (the frame-property
// slots of interface 8 are in properties.cpp). The calls a source plugin makes are served; the
// script-engine ones stop the program with a clear message.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_internal.h"
#include "system.h"

namespace avshost::detail {
namespace {

[[noreturn]] void NotProvided(const char* what) {
  std::fprintf(stderr, "avshost: IScriptEnvironment::%s is not provided by this host\n", what);
  std::abort();
}

}  // namespace

Environment::Environment(int cpuFlags, bool guardFrames, int interfaceVersion)
    : cpuFlags_(cpuFlags < 0 ? DetectCpuFlags() : cpuFlags),
      guardFrames_(guardFrames),
      interfaceVersion_(interfaceVersion) {
  HostLinkage();  // the host's own PClip/PVideoFrame/AVSValue use need the table in place
}

Environment::~Environment() {
  for (auto it = atExit_.rbegin(); it != atExit_.rend(); ++it) it->first(it->second, this);
  atExit_.clear();
  registrations_.clear();
  for (auto it = libraries_.rbegin(); it != libraries_.rend(); ++it) CloseLibrary(*it);
}

char* Environment::Store(std::unique_ptr<char[]> text) {
  std::lock_guard<std::mutex> lock(stringsMutex_);
  strings_.push_back(std::move(text));
  return strings_.back().get();
}

char* Environment::Format(const char* fmt, va_list args) {
  if (!fmt) fmt = "";
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  const size_t size = needed > 0 ? size_t(needed) + 1 : 1;
  auto text = std::make_unique<char[]>(size);
  if (needed > 0) {
    std::vsnprintf(text.get(), size, fmt, args);
  } else {
    text[0] = '\0';
  }
  return Store(std::move(text));
}

int Environment::GetCPUFlags() { return cpuFlags_; }

// A length beyond the string's end stops at its terminator, never reading past it.
char* Environment::SaveString(const char* s, int length) {
  if (!s) return nullptr;
  const size_t n = length < 0 ? std::strlen(s) : strnlen(s, size_t(length));
  auto text = std::make_unique<char[]>(n + 1);
  std::memcpy(text.get(), s, n);
  text[n] = '\0';
  return Store(std::move(text));
}

char* Environment::Sprintf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  char* text = Format(fmt, args);
  va_end(args);
  return text;
}

char* Environment::VSprintf(const char* fmt, va_list val) { return Format(fmt, val); }

// The message lives in the environment, so the error may travel anywhere while it exists.
void Environment::ThrowError(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  char* text = Format(fmt, args);
  va_end(args);
  throw AvisynthError(text);
}

void Environment::AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) {
  if (!name || !params || !apply) ThrowError("avshost: AddFunction needs a name, a parameter string and a function");
  registrations_.push_back(Registration{name, params, apply, user_data});
}

bool Environment::FunctionExists(const char* name) {
  if (!name) return false;
  for (const Registration& r : registrations_) {
    if (CompareNoCase(r.name.c_str(), name) == 0) return true;
  }
  return false;
}

AVSValue Environment::Invoke(const char*, const AVSValue, const char* const*) { NotProvided("Invoke"); }
AVSValue Environment::GetVar(const char*) { NotProvided("GetVar"); }
bool Environment::SetVar(const char*, const AVSValue&) { NotProvided("SetVar"); }
bool Environment::SetGlobalVar(const char*, const AVSValue&) { NotProvided("SetGlobalVar"); }
void Environment::PushContext(int) { NotProvided("PushContext"); }
void Environment::PopContext() { NotProvided("PopContext"); }

PVideoFrame Environment::NewVideoFrame(const VideoInfo& vi, int align) {
  std::string error;
  FrameRecord* frame = NewFrame(vi, align, guardFrames_, &error);
  if (!frame) ThrowError("%s", error.c_str());
  return PVideoFrame(FrameOf(frame));
}

bool Environment::MakeWritable(PVideoFrame* pvf) {
  if (!pvf || !*pvf) return false;
  const FrameRecord& source = *RecordOf(pvf->operator->());
  if (source.refs.load() == 1) return false;
  std::string error;
  FrameRecord* copy = NewFrame(source.vi, source.align, source.guarded, &error);
  if (!copy) ThrowError("%s", error.c_str());
  for (int i = 0; i < source.numPlanes; ++i) {
    const PlaneLayout& from = source.planes[i];
    const PlaneLayout& to = copy->planes[i];
    for (int y = 0; y < from.height; ++y) {
      std::memcpy(copy->block + to.offset + size_t(y) * to.pitch, source.block + from.offset + size_t(y) * from.pitch,
                  size_t(from.rowSize));
    }
  }
  copy->properties = source.properties;
  *pvf = FrameOf(copy);
  return true;
}

// A plain row copy. Null pointers with something to copy are reported, not followed.
void Environment::BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch, int row_size, int height) {
  if (height <= 0 || row_size <= 0) return;
  if (!dstp || !srcp) ThrowError("avshost: BitBlt with a null %s pointer", dstp ? "source" : "destination");
  if (dstp == srcp && dst_pitch == src_pitch) return;
  for (int y = 0; y < height; ++y) {
    std::memcpy(dstp + ptrdiff_t(y) * dst_pitch, srcp + ptrdiff_t(y) * src_pitch, size_t(row_size));
  }
}

void Environment::AtExit(ShutdownFunc function, void* user_data) {
  if (function) atExit_.emplace_back(function, user_data);
}

void Environment::CheckVersion(int version) {
  if (version > interfaceVersion_) {
    ThrowError("avshost: this host offers interface version %d, the plugin needs %d", interfaceVersion_, version);
  }
}

PVideoFrame Environment::Subframe(PVideoFrame, int, int, int, int) { NotProvided("Subframe"); }

int Environment::SetMemoryMax(int mem) {
  if (mem > 0) memoryMax_ = mem;
  return memoryMax_;
}

int Environment::SetWorkingDir(const char*) { NotProvided("SetWorkingDir"); }
void* Environment::ManageCache(int, void*) { return nullptr; }
bool Environment::PlanarChromaAlignment(PlanarChromaAlignmentMode) { return true; }

PVideoFrame Environment::SubframePlanar(PVideoFrame, int, int, int, int, int, int, int) {
  NotProvided("SubframePlanar");
}

void Environment::DeleteScriptEnvironment() { NotProvided("DeleteScriptEnvironment"); }

void Environment::ApplyMessage(PVideoFrame*, const VideoInfo&, const char*, int, int, int, int) {
  NotProvided("ApplyMessage");
}

const AVS_Linkage* Environment::GetAVSLinkage() { return HostLinkage(); }

// No script variables exist here, so every lookup gives the default.
AVSValue Environment::GetVarDef(const char*, const AVSValue& def) { return def; }

}  // namespace avshost::detail
