// Host, Clip and Frame: loading plugins, calling their functions with script-like arguments,
// and holding the clips and frames they hand back.
#include <cstring>
#include <optional>

#include "host_internal.h"
#include "system.h"

namespace avshost {
namespace {

struct Param {
  std::string name;  // empty: an unnamed, required parameter
  char type;
};

// "[name]t" entries (optional, named) and bare "t" entries (required), t one of c b i f s v .
std::vector<Param> ParseParams(const std::string& function, const std::string& text) {
  std::vector<Param> params;
  for (size_t i = 0; i < text.size();) {
    Param p{{}, 0};
    if (text[i] == '[') {
      const size_t close = text.find(']', i);
      if (close == std::string::npos) throw HostError("'" + function + "': unclosed '[' in \"" + text + "\"");
      p.name = text.substr(i + 1, close - i - 1);
      i = close + 1;
    }
    if (i >= text.size() || !std::strchr("cbifsv.", text[i])) {
      throw HostError("'" + function + "': parameter string \"" + text + "\" is not one this host reads");
    }
    p.type = text[i++];
    if (i < text.size() && (text[i] == '*' || text[i] == '+')) {
      throw HostError("'" + function + "': array parameters (\"" + text + "\") are not supported by this host");
    }
    params.push_back(std::move(p));
  }
  return params;
}

const char* TypeName(char type) {
  switch (type) {
    case 'c': return "a clip";
    case 'b': return "a bool";
    case 'i': return "an int";
    case 'f': return "a float";
    case 's': return "a string";
    default: return "a value";
  }
}

bool Accepts(char type, const Value& v) {
  if (std::holds_alternative<std::monostate>(v)) return true;
  switch (type) {
    case 'b': return std::holds_alternative<bool>(v);
    case 'i': return std::holds_alternative<int>(v);
    case 'f': return std::holds_alternative<int>(v) || std::holds_alternative<double>(v);
    case 's': return std::holds_alternative<std::string>(v);
    case 'c': return false;  // no clip values are passed from here
    default: return true;
  }
}

std::string Label(const Param& p, size_t index) {
  return p.name.empty() ? "argument " + std::to_string(index + 1) : "argument '" + p.name + "'";
}

// The value of each parameter (null: undefined), or the reason the arguments don't fit.
std::optional<std::string> Bind(const std::vector<Param>& params, const std::vector<Value>& positional,
                                const std::vector<std::pair<std::string, Value>>& named,
                                std::vector<const Value*>* bound) {
  bound->assign(params.size(), nullptr);
  if (positional.size() > params.size()) {
    return "too many arguments (" + std::to_string(positional.size()) + " given, " +
           std::to_string(params.size()) + " taken)";
  }
  for (size_t i = 0; i < positional.size(); ++i) (*bound)[i] = &positional[i];
  for (const auto& [name, value] : named) {
    size_t i = 0;
    while (i < params.size() && (params[i].name.empty() || detail::CompareNoCase(params[i].name.c_str(), name.c_str()) != 0)) ++i;
    if (i == params.size()) return "no argument named '" + name + "'";
    if ((*bound)[i]) return "argument '" + name + "' given twice";
    (*bound)[i] = &value;
  }
  for (size_t i = 0; i < params.size(); ++i) {
    const Value* v = (*bound)[i];
    if (params[i].name.empty() && (!v || std::holds_alternative<std::monostate>(*v))) {
      return Label(params[i], i) + " is required";
    }
    if (v && !Accepts(params[i].type, *v)) return Label(params[i], i) + " must be " + TypeName(params[i].type);
  }
  return std::nullopt;
}

AVSValue ToScriptValue(const Value* v, IScriptEnvironment* env) {
  if (!v) return AVSValue();
  if (const bool* b = std::get_if<bool>(v)) return AVSValue(*b);
  if (const int* i = std::get_if<int>(v)) return AVSValue(*i);
  if (const double* d = std::get_if<double>(v)) return AVSValue(*d);
  if (const std::string* s = std::get_if<std::string>(v)) {
    return AVSValue(env->SaveString(s->c_str(), static_cast<int>(s->size())));
  }
  return AVSValue();
}

// Plugin calls: a ThrowError inside becomes a ScriptError with its exact text.
template <class F>
auto Guarded(F&& call) -> decltype(call()) {
  try {
    return call();
  } catch (const AvisynthError& e) {
    throw ScriptError(e.msg ? e.msg : "");
  }
}

}  // namespace

// ---- Frame ----
Frame::Frame(detail::FrameRecord* record) : record_(record) { detail::AddRef(record_); }
Frame::Frame(const Frame& other) : record_(other.record_) { detail::AddRef(record_); }
Frame::Frame(Frame&& other) noexcept : record_(std::exchange(other.record_, nullptr)) {}
Frame& Frame::operator=(Frame other) noexcept {
  std::swap(record_, other.record_);
  return *this;
}
Frame::~Frame() { detail::Release(record_); }

PlaneView Frame::Plane(int plane) const {
  if (!record_) return {};
  const detail::PlaneLayout* p = detail::PlaneOf(*record_, plane);
  if (!p) return {};
  return {record_->block + p->offset, p->pitch, p->rowSize, p->height};
}

const VideoInfo& Frame::Info() const {
  static const VideoInfo none{};
  return record_ ? record_->vi : none;
}

int Frame::References() const { return record_ ? static_cast<int>(record_->refs.load()) : 0; }
Properties Frame::GetProperties() const { return record_ ? record_->properties : Properties(); }
bool Frame::GuardsIntact() const { return !record_ || detail::GuardsIntact(*record_); }
bool Frame::PaddingTouched() const { return record_ && detail::PaddingTouched(*record_); }

// ---- Clip ----
Clip::Clip(IClip* clip, std::shared_ptr<detail::Environment> env) : clip_(clip), env_(std::move(env)) {
  detail::AddRef(clip_);
}
Clip::Clip(const Clip& other) : clip_(other.clip_), env_(other.env_) { detail::AddRef(clip_); }
Clip::Clip(Clip&& other) noexcept : clip_(std::exchange(other.clip_, nullptr)), env_(std::move(other.env_)) {}
Clip& Clip::operator=(Clip other) noexcept {
  std::swap(clip_, other.clip_);
  std::swap(env_, other.env_);
  return *this;
}
Clip::~Clip() { detail::Release(clip_); }

VideoInfo Clip::GetVideoInfo() const {
  return Guarded([&] { return clip_->GetVideoInfo(); });
}

Frame Clip::GetFrame(int n) const {
  return Guarded([&] {
    PVideoFrame frame = clip_->GetFrame(n, env_.get());
    if (!frame) throw HostError("avshost: the clip returned no frame for frame " + std::to_string(n));
    return Frame(detail::RecordOf(frame.operator->()));
  });
}

bool Clip::GetParity(int n) const {
  return Guarded([&] { return clip_->GetParity(n); });
}

void Clip::GetAudio(void* buf, int64_t start, int64_t count) const {
  Guarded([&] { clip_->GetAudio(buf, start, count, env_.get()); });
}

int Clip::SetCacheHints(int hints, int frameRange) const {
  return Guarded([&] { return clip_->SetCacheHints(hints, frameRange); });
}

int Clip::GetVersion() const {
  return Guarded([&] { return clip_->GetVersion(); });
}

int Clip::ThreadMode() const {
  const int mode = SetCacheHints(CACHE_GET_MTMODE, 0);
  return mode >= MT_NICE_FILTER && mode <= MT_SPECIAL_MT ? mode : MT_MULTI_INSTANCE;
}

// ---- Host ----
Host::Host(HostOptions options)
    : env_(std::make_shared<detail::Environment>(options.cpuFlags, options.guardFrames, options.interfaceVersion)),
      destroyedAtStart_(detail::ClipsDestroyed()) {}

Host::~Host() = default;

std::string Host::LoadPlugin(const std::string& path) {
  std::string why;
  void* handle = detail::OpenLibrary(path, &why);
  if (!handle) throw HostError("cannot load plugin '" + path + "': " + why);
  void* entry = detail::LibrarySymbol(handle, "AvisynthPluginInit3");
  if (!entry) {
    detail::CloseLibrary(handle);
    throw HostError("'" + path + "' has no AvisynthPluginInit3");
  }
  std::vector<Registration>& registrations = env_->Registrations();
  const size_t before = registrations.size();
  std::string failure;
  try {
    const char* text = reinterpret_cast<InitFunc>(entry)(env_.get(), detail::HostLinkage());
    env_->KeepLibrary(handle);
    return text ? text : "";
  } catch (const AvisynthError& e) {
    failure = e.msg ? e.msg : "";
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "unknown exception";
  }
  // Nothing may point into the library once it is gone.
  registrations.resize(before);
  detail::CloseLibrary(handle);
  throw HostError("'" + path + "' plugin loading error: " + failure);
}

std::string Host::InitPlugin(InitFunc init) {
  std::vector<Registration>& registrations = env_->Registrations();
  const size_t before = registrations.size();
  try {
    const char* text = init(env_.get(), detail::HostLinkage());
    return text ? text : "";
  } catch (const AvisynthError& e) {
    registrations.resize(before);
    throw HostError(std::string("plugin loading error: ") + (e.msg ? e.msg : ""));
  } catch (const std::exception& e) {
    registrations.resize(before);
    throw HostError(std::string("plugin loading error: ") + e.what());
  }
}

const std::vector<Registration>& Host::Registrations() const { return env_->Registrations(); }

Clip Host::Invoke(const std::string& name, const std::vector<Value>& positional,
                  const std::vector<std::pair<std::string, Value>>& named) {
  const std::vector<Registration>& registrations = env_->Registrations();
  std::optional<Registration> chosen;
  std::vector<const Value*> bound;
  std::optional<std::string> firstMismatch;
  for (auto it = registrations.rbegin(); it != registrations.rend() && !chosen; ++it) {
    if (detail::CompareNoCase(it->name.c_str(), name.c_str()) != 0) continue;
    const std::optional<std::string> mismatch = Bind(ParseParams(it->name, it->params), positional, named, &bound);
    if (!mismatch) {
      chosen = *it;  // a copy: the function may register more and move the list
    } else if (!firstMismatch) {
      firstMismatch = mismatch;
    }
  }
  if (!chosen && !firstMismatch) throw ScriptError("There is no function named '" + name + "'");
  if (!chosen) throw ScriptError("Invalid arguments to function '" + name + "': " + *firstMismatch);

  std::vector<AVSValue> values(bound.size());
  for (size_t i = 0; i < bound.size(); ++i) values[i] = ToScriptValue(bound[i], env_.get());
  const AVSValue args(values.data(), static_cast<int>(values.size()));
  const AVSValue result = Guarded([&] { return chosen->apply(args, chosen->userData, env_.get()); });
  const PClip clip = result.AsClip();
  if (!clip) throw HostError("function '" + name + "' returned no clip");
  return Clip(clip.operator->(), env_);
}

void Host::SetCpuFlags(int flags) { env_->SetCpuFlags(flags < 0 ? detail::DetectCpuFlags() : flags); }
int Host::CpuFlags() const { return env_->GetCPUFlags(); }
void Host::SetGuardFrames(bool on) { env_->SetGuardFrames(on); }
int Host::ClipsDestroyed() const { return static_cast<int>(detail::ClipsDestroyed() - destroyedAtStart_); }
IScriptEnvironment* Host::Env() const { return env_.get(); }
const AVS_Linkage* Host::Linkage() { return detail::HostLinkage(); }
int Host::DetectedCpuFlags() { return detail::DetectCpuFlags(); }
int Host::FramesAlive() { return static_cast<int>(detail::LiveFrames()); }

namespace detail {

int DetectCpuFlags() {
  int flags = 0;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  flags |= CPUF_FPU;
  if (__builtin_cpu_supports("mmx")) flags |= CPUF_MMX;
  if (__builtin_cpu_supports("sse")) flags |= CPUF_SSE | CPUF_INTEGER_SSE;
  if (__builtin_cpu_supports("sse2")) flags |= CPUF_SSE2;
  if (__builtin_cpu_supports("sse3")) flags |= CPUF_SSE3;
  if (__builtin_cpu_supports("ssse3")) flags |= CPUF_SSSE3;
  if (__builtin_cpu_supports("sse4.1")) flags |= CPUF_SSE4_1;
  if (__builtin_cpu_supports("sse4.2")) flags |= CPUF_SSE4_2;
  // Reported only where the OS saves the YMM state too.
  if (__builtin_cpu_supports("avx")) flags |= CPUF_AVX;
  if (__builtin_cpu_supports("avx2")) flags |= CPUF_AVX2;
  if (__builtin_cpu_supports("fma")) flags |= CPUF_FMA3;
#endif
  return flags;
}

}  // namespace detail
}  // namespace avshost
