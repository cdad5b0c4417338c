// The AviSynth+ C front end (avisynth_c.h), which every compiler lays out alike: the MinGW
// build's only AviSynth entry, so that the usual MSVC-built AviSynth+ loads it. Frames are made
// and described through avs_* calls; the core's errors become C results: no exception ever
// reaches the host.
// windows.h first, lean: nothing of it leaks names into the headers after it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdint>
#include <memory>
#include <new>
#include <optional>

#include <avisynth_c.h>

#include "clip.h"

namespace {

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

// ---- frames ----
constexpr int kPlanes[3] = {AVS_PLANAR_Y, AVS_PLANAR_U, AVS_PLANAR_V};

class Frame final : public korvala::HostFrame {
 public:
  // Takes over one reference.
  Frame(AVS_VideoFrame* frame, AVS_ScriptEnvironment* env, bool properties)
      : frame_(frame), env_(env), properties_(properties) {}
  ~Frame() override { avs_release_video_frame(frame_); }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  uint8_t* Plane(int plane) override { return avs_get_write_ptr_p(frame_, kPlanes[plane]); }
  int Pitch(int plane) const override { return avs_get_pitch_p(frame_, kPlanes[plane]); }
  void Describe(const korvala::FrameProperties& p) override {
    if (!properties_) return;
    struct Sink final : korvala::PropertySink {
      const PropertyCalls* calls;
      AVS_ScriptEnvironment* env;
      AVS_Map* map;
      void Int(const char* key, int64_t value) override {
        calls->setInt(env, map, key, value, AVS_PROPAPPENDMODE_REPLACE);
      }
      void Float(const char* key, double value) override {
        calls->setFloat(env, map, key, value, AVS_PROPAPPENDMODE_REPLACE);
      }
      void Text(const char* key, const char* value, int size) override {
        calls->setData(env, map, key, value, size, AVS_PROPAPPENDMODE_REPLACE);
      }
    } sink;
    sink.calls = &Properties();
    sink.env = env_;
    sink.map = sink.calls->framePropsRW(env_, frame_);
    if (sink.map) korvala::WriteProperties(p, sink);
  }
  // A new reference for the host to own.
  AVS_VideoFrame* Share() const { return avs_copy_video_frame(frame_); }

 private:
  AVS_VideoFrame* frame_;
  AVS_ScriptEnvironment* env_;  // the caller's, for the one Describe right after the frame is made
  bool properties_;
};

// One clip as the C interface holds it.
struct Filter {
  std::optional<Korvala> core;
  bool properties = false;
};

class FrameMaker final : public korvala::FrameMaker {
 public:
  FrameMaker(AVS_ScriptEnvironment* env, const AVS_VideoInfo& vi, bool properties)
      : env_(env), vi_(vi), properties_(properties) {}
  korvala::FramePtr NewFrame() override {
    AVS_VideoFrame* frame = avs_new_video_frame_a(env_, &vi_, 64);
    if (!frame) {
      const char* error = avs_get_error(env_);
      korvala::Raise(error ? error : "Korvala: NewVideoFrame failed");
    }
    return std::make_shared<Frame>(frame, env_, properties_);
  }

 private:
  AVS_ScriptEnvironment* env_;
  const AVS_VideoInfo& vi_;
  bool properties_;
};

Filter* Of(AVS_FilterInfo* fi) { return static_cast<Filter*>(fi->user_data); }

// The message as the C interface wants it: in the host's own string storage.
const char* Kept(AVS_ScriptEnvironment* env, const char* message) {
  const char* kept = avs_save_string(env, message, -1);
  return kept ? kept : "Korvala: error";
}

AVS_VideoFrame* AVSC_CC GetFrame(AVS_FilterInfo* fi, int n) {
  Filter* f = Of(fi);
  try {
    FrameMaker maker(fi->env, fi->vi, f->properties);
    return static_cast<Frame&>(*f->core->GetFrame(n, maker)).Share();
  } catch (const korvala::SourceError& e) {
    fi->error = Kept(fi->env, e.what());
  } catch (const std::bad_alloc&) {
    fi->error = "Korvala: out of memory";
  } catch (...) {
    fi->error = "Korvala: unexpected error";
  }
  return nullptr;
}

int AVSC_CC GetParity(AVS_FilterInfo*, int) { return 0; }

int AVSC_CC GetAudio(AVS_FilterInfo*, void*, int64_t, int64_t) { return 0; }

// One decoder can serve one caller at a time: AviSynth+ then never enters the clip from two
// threads at once. Every other hint is left to the host.
int AVSC_CC SetCacheHints(AVS_FilterInfo*, int cachehints, int) {
  return cachehints == AVS_CACHE_GET_MTMODE ? AVS_MT_SERIALIZED : 0;
}

void AVSC_CC FreeFilter(AVS_FilterInfo* fi) {
  Filter* f = Of(fi);
  fi->user_data = nullptr;
  delete f;
}

const char* ArgString(AVS_Value args, int i) {
  const AVS_Value v = avs_array_elt(args, i);
  return avs_is_string(v) ? avs_as_string(v) : "";
}

int ArgInt(AVS_Value args, int i) {
  const AVS_Value v = avs_array_elt(args, i);
  return avs_is_int(v) ? avs_as_int(v) : 0;
}

korvala::PixelPaths PathsOf(AVS_ScriptEnvironment* env) {
  const int flags = avs_get_cpu_flags(env);
  return korvala::PixelPaths{(flags & AVS_CPU_SSE2) != 0, (flags & AVS_CPUF_SSSE3) != 0, (flags & AVS_CPUF_AVX2) != 0};
}

AVS_Value AVSC_CC Create(AVS_ScriptEnvironment* env, AVS_Value args, void*) {
  try {
    auto data = std::make_unique<Filter>();
    data->core.emplace(ArgString(args, 0), ArgString(args, 1), ArgInt(args, 2), ArgInt(args, 3), PathsOf(env));
    // A host keeps frame properties from interface 8 on.
    data->properties = avs_check_version(env, kPropertiesInterface) == 0 && Properties().Complete();
    AVS_FilterInfo* fi = nullptr;
    AVS_Clip* filter = avs_new_c_filter(env, &fi, avs_void, 0);
    if (!filter || !fi) return avs_new_value_error("Korvala: can't create the filter");
    const korvala::ClipFormat& f = data->core->Format();
    fi->vi = AVS_VideoInfo{};
    fi->vi.width = f.width;
    fi->vi.height = f.height;
    fi->vi.pixel_type = f.tenBit ? AVS_CS_YUV420P10 : AVS_CS_YV12;
    fi->vi.fps_numerator = f.fpsNum;
    fi->vi.fps_denominator = f.fpsDen;
    fi->vi.num_frames = f.numFrames;
    fi->user_data = data.release();
    fi->get_frame = GetFrame;
    fi->get_parity = GetParity;
    fi->get_audio = GetAudio;
    fi->set_cache_hints = SetCacheHints;
    fi->free_filter = FreeFilter;
    AVS_Value result;
    avs_set_to_clip(&result, filter);
    avs_release_clip(filter);
    return result;
  } catch (const korvala::SourceError& e) {
    return avs_new_value_error(Kept(env, e.what()));
  } catch (const std::bad_alloc&) {
    return avs_new_value_error("Korvala: out of memory");
  } catch (...) {
    return avs_new_value_error("Korvala: unexpected error");
  }
}

const char* Register(AVS_ScriptEnvironment* env) {
  avs_add_function(env, "Korvala", "[SourceFileAVC]s[SourceFileMVC]s[NumFrames]i[ViewId]i", Create, nullptr);
  return "Korvala plugin";
}

}  // namespace

// The exported entries, as avisynth_c.h declares them. AviSynth+ 3.7.5 asks for the 64-bit
// aware one first; both register the same function.
const char* AVSC_CC avisynth_c_plugin_init2(AVS_ScriptEnvironment* env) { return Register(env); }
const char* AVSC_CC avisynth_c_plugin_init(AVS_ScriptEnvironment* env) { return Register(env); }
