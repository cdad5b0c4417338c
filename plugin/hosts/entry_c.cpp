// The plugin's door through AviSynth+'s C interface (avisynth_c.h), which every compiler lays
// out alike: the MinGW build's only entry, so that the usual MSVC-built AviSynth+ loads it.
// The clip is the one the C++ entry serves. This glue hands it an environment and frames that
// are answered through avs_* calls (entry_c_host), and turns its errors into C results: no
// exception ever reaches the host.
#include <memory>
#include <new>

#include "avisynth.h"
#include "avisynth_clip.h"
#include "entry_c_host.h"

// The host function table of the header's PVideoFrame and VideoFrame: ours, over the C interface.
const AVS_Linkage* AVS_linkage = nullptr;

namespace {

using namespace avsc;
using korvala::c_entry::Environment;

// One clip as the C interface holds it: the clip and the environment it calls, which wraps the
// filter's own AVS_ScriptEnvironment (the one a create call gets lives only for that call).
struct Filter {
  Environment env;
  korvala::avs::Clip* clip;
};

Filter* Of(AVS_FilterInfo* fi) { return static_cast<Filter*>(fi->user_data); }

AVS_VideoFrame* AVSC_CC GetFrame(AVS_FilterInfo* fi, int n) {
  Filter* f = Of(fi);
  try {
    return korvala::c_entry::NewReference(f->clip->GetFrame(n, &f->env));
  } catch (const AvisynthError& e) {
    fi->error = e.msg;
  } catch (const std::bad_alloc&) {
    fi->error = "Korvala: out of memory";
  } catch (...) {
    fi->error = "Korvala: unexpected error";
  }
  return nullptr;
}

int AVSC_CC GetParity(AVS_FilterInfo* fi, int n) { return Of(fi)->clip->GetParity(n) ? 1 : 0; }

int AVSC_CC GetAudio(AVS_FilterInfo* fi, void* buf, int64_t start, int64_t count) {
  Filter* f = Of(fi);
  try {
    f->clip->GetAudio(buf, start, count, &f->env);
  } catch (const AvisynthError& e) {
    fi->error = e.msg;
  }
  return 0;
}

int AVSC_CC SetCacheHints(AVS_FilterInfo* fi, int cachehints, int frame_range) {
  return Of(fi)->clip->SetCacheHints(cachehints, frame_range);
}

void AVSC_CC FreeFilter(AVS_FilterInfo* fi) {
  Filter* f = Of(fi);
  fi->user_data = nullptr;
  if (!f) return;
  delete f->clip;
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

AVS_Value AVSC_CC Create(AVS_ScriptEnvironment* host, AVS_Value args, void*) {
  try {
    Environment env(host);
    std::unique_ptr<korvala::avs::Clip> clip(
        new korvala::avs::Clip(ArgString(args, 0), ArgString(args, 1), ArgInt(args, 2), ArgInt(args, 3), &env));
    std::unique_ptr<Filter> data(new Filter{env, nullptr});
    AVS_FilterInfo* fi = nullptr;
    AVS_Clip* filter = avs_new_c_filter(host, &fi, avs_void, 0);
    if (!filter || !fi) return avs_new_value_error("Korvala: can't create the filter");
    data->env = Environment(fi->env);
    data->clip = clip.release();
    fi->vi = *reinterpret_cast<const AVS_VideoInfo*>(&data->clip->GetVideoInfo());
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
  } catch (const AvisynthError& e) {
    return avs_new_value_error(e.msg);
  } catch (const std::bad_alloc&) {
    return avs_new_value_error("Korvala: out of memory");
  } catch (...) {
    return avs_new_value_error("Korvala: unexpected error");
  }
}

const char* Register(AVS_ScriptEnvironment* env) {
  AVS_linkage = korvala::c_entry::FrameLinkage();
  avs_add_function(env, "Korvala", "[SourceFileAVC]s[SourceFileMVC]s[NumFrames]i[ViewId]i", Create, nullptr);
  return "Korvala plugin";
}

}  // namespace

// The exported entries, as avisynth_c.h declares them. AviSynth+ 3.7.5 asks for the 64-bit
// aware one first; both register the same function.
namespace avsc {
const char* AVSC_CC avisynth_c_plugin_init2(AVS_ScriptEnvironment* env) { return Register(env); }
const char* AVSC_CC avisynth_c_plugin_init(AVS_ScriptEnvironment* env) { return Register(env); }
}  // namespace avsc
