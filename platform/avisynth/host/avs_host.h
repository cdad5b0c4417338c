#pragma once
// A small AviSynth+ host: loads a C++ plugin, lets it register its functions, calls them with
// script-like arguments and pulls frames from the clips they return. Everything crosses the
// boundary exactly as with AviSynth+: the environment's vtable, the AVS_Linkage table, counted
// clips and frames, errors thrown by ThrowError.
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "avisynth.h"

namespace avshost {

// A script argument; monostate leaves the parameter undefined.
using Value = std::variant<std::monostate, bool, int, double, std::string>;

// A script-level error: what() is the exact text the plugin passed to ThrowError (or the
// host's own text for arguments that fit no registered parameter list).
struct ScriptError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The plugin could not be loaded or initialised, or broke the host contract.
struct HostError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Registration {
  std::string name;
  std::string params;
  ApplyFunc apply = nullptr;
  void* userData = nullptr;
};

// A frame property (AviSynth+ interface 8): the values under one key, all of one type.
struct Property {
  char type = PROPTYPE_UNSET;  // PROPTYPE_INT, PROPTYPE_FLOAT or PROPTYPE_DATA
  std::vector<int64_t> ints;
  std::vector<double> floats;
  std::vector<std::string> data;
};
using Properties = std::map<std::string, Property>;  // ordered by key, as AviSynth+ keeps them

struct PlaneView {
  uint8_t* ptr = nullptr;  // null for a plane the frame doesn't have
  int pitch = 0;
  int rowSize = 0;  // bytes
  int height = 0;
};

namespace detail {
struct FrameRecord;
class Environment;
}  // namespace detail

// A counted reference to a host frame; the frame lives while any reference (ours or a
// plugin's PVideoFrame) does.
class Frame {
 public:
  Frame() = default;
  Frame(const Frame& other);
  Frame(Frame&& other) noexcept;
  Frame& operator=(Frame other) noexcept;
  ~Frame();

  explicit operator bool() const { return record_ != nullptr; }
  PlaneView Plane(int plane) const;  // PLANAR_Y, PLANAR_U, PLANAR_V (0 acts like Y)
  const VideoInfo& Info() const;
  int References() const;
  Properties GetProperties() const;

  // Guard mode only (always true / false otherwise): nothing was written beyond the pitch a
  // host without guards would give (row size rounded up to the alignment), nor before or
  // after a plane.
  bool GuardsIntact() const;
  // Guard mode only: something was written between a row's end and that rounded-up pitch,
  // as vector code covering whole steps may do.
  bool PaddingTouched() const;

 private:
  friend class Clip;
  explicit Frame(detail::FrameRecord* record);  // takes a new reference
  detail::FrameRecord* record_ = nullptr;
};

// A counted reference to a plugin clip (the host's PClip): the last copy deletes the clip
// through its virtual destructor. Keeps the host's environment alive.
class Clip {
 public:
  Clip(const Clip& other);
  Clip(Clip&& other) noexcept;
  Clip& operator=(Clip other) noexcept;
  ~Clip();

  VideoInfo GetVideoInfo() const;
  Frame GetFrame(int n) const;  // ScriptError for a ThrowError inside the plugin
  bool GetParity(int n) const;
  void GetAudio(void* buf, int64_t start, int64_t count) const;
  int SetCacheHints(int hints, int frameRange) const;
  int GetVersion() const;
  // The thread mode as AviSynth+ reads it: the answer to CACHE_GET_MTMODE when it names a mode,
  // else MT_MULTI_INSTANCE, AviSynth+'s default.
  int ThreadMode() const;
  IClip* get() const { return clip_; }

 private:
  friend class Host;
  Clip(IClip* clip, std::shared_ptr<detail::Environment> env);  // takes a new reference
  IClip* clip_ = nullptr;
  std::shared_ptr<detail::Environment> env_;
};

// What AviSynth+ puts in front of a clip: a cache of the frames it served last, safe to call from
// several threads. It reaches the clip as the clip's thread mode (read once, here) asks:
// MT_SERIALIZED one caller at a time, MT_NICE_FILTER freely. AviSynth+ gives an
// MT_MULTI_INSTANCE clip one instance per thread, which a clip made once can't have: a second
// thread is refused then (HostError).
class Cache {
 public:
  Cache(Clip clip, int capacity);
  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;

  Frame GetFrame(int n);  // ScriptError as Clip::GetFrame
  int ThreadMode() const { return mode_; }
  int ClipRequests() const;  // frames asked of the clip (cache misses)

 private:
  Clip clip_;
  int capacity_;
  int mode_;
  mutable std::mutex mutex_;  // the cache; but for an MT_NICE_FILTER clip, the clip too
  std::list<std::pair<int, Frame>> frames_;  // most recently used first
  int requests_ = 0;
  bool haveCaller_ = false;
  std::thread::id caller_;
};

// AviSynth+'s Prefetch(threads, frames): the script asks for frames in order, one at a time;
// `threads` workers meanwhile make up to `frames` (default 2 × threads) of the frames after it,
// each worker taking the oldest waiting request as it comes free, so the source sees them in
// whatever order the workers reach it. A frame no worker took is made on the script's thread. An
// error raised for a frame reaches the script when it asks for that frame.
class Prefetch {
 public:
  using Source = std::function<Frame(int)>;
  Prefetch(Source source, int threads, int frames = 0);
  ~Prefetch();  // lets the workers finish what they took
  Prefetch(const Prefetch&) = delete;
  Prefetch& operator=(const Prefetch&) = delete;

  Frame GetFrame(int n);

 private:
  struct Job {
    bool taken = false;
    bool done = false;
    Frame frame;
    std::exception_ptr error;
  };
  void Work();
  void Run(int n, Job& job, std::unique_lock<std::mutex>& lock);

  Source source_;
  int ahead_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, Job> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

struct HostOptions {
  int cpuFlags = -1;         // -1: what this CPU has
  bool guardFrames = false;  // frames with guard bytes and widened pitches
  // What CheckVersion and GetEnvProperty report. From 8 on the host keeps frame properties;
  // below 8 it plays an older AviSynth, whose table has no property calls: a plugin that makes
  // one anyway stops the program.
  int interfaceVersion = 8;
};

class Host {
 public:
  using InitFunc = const char*(__stdcall*)(IScriptEnvironment*, const AVS_Linkage*);

  explicit Host(HostOptions options = {});
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Loads the library (dlopen RTLD_NOW | RTLD_LOCAL, or LoadLibrary), then calls
  // AvisynthPluginInit3; returns its text.
  // On POSIX a path without '/' means a file in the current directory, never a library
  // search; on Windows LoadLibrary searches as it always does.
  std::string LoadPlugin(const std::string& path);
  // The same for plugin code linked into this program.
  std::string InitPlugin(InitFunc init);

  const std::vector<Registration>& Registrations() const;

  // Calls the newest registration of `name` (case-insensitive) whose parameter string takes
  // the arguments: positional ones in order, named ones by parameter name; the rest undefined.
  Clip Invoke(const std::string& name, const std::vector<Value>& positional,
              const std::vector<std::pair<std::string, Value>>& named = {});

  void SetCpuFlags(int flags);  // -1: what this CPU has
  int CpuFlags() const;
  void SetGuardFrames(bool on);  // for frames made from now on

  int ClipsDestroyed() const;  // plugin clips deleted since this host was made
  IScriptEnvironment* Env() const;

  static const AVS_Linkage* Linkage();
  static int DetectedCpuFlags();  // CPUF_* of this CPU (SSE2, SSSE3, AVX2 and the rest)
  static int FramesAlive();       // host frames existing in this process

 private:
  std::shared_ptr<detail::Environment> env_;
  long destroyedAtStart_ = 0;
};

}  // namespace avshost
