// The AviSynth+ C++ front end's door: registration with the host and the script function's
// create callback.
#include "avisynth.h"

#include "avisynth_clip.h"

// The host's function table, written once at registration. Kept out of the dynamic symbol
// table (the version script exports only the entries), so it never binds to a host's own copy.
const AVS_Linkage* AVS_linkage = nullptr;

namespace {

AVSValue __cdecl Create(AVSValue args, void*, IScriptEnvironment* env) {
  const int viewId = args[3].AsInt(0);
  const int numFrames = args[2].AsInt(0);
  const char* sourceFileMVC = args[1].AsString("");
  const char* sourceFileAVC = args[0].AsString("");
  return AVSValue(new korvala::avs::Clip(sourceFileAVC, sourceFileMVC, numFrames, viewId, env));
}

}  // namespace

#ifdef _WIN32
#define KORVALA_EXPORT __declspec(dllexport)
#else
#define KORVALA_EXPORT __attribute__((visibility("default")))
#endif

extern "C" KORVALA_EXPORT const char* __stdcall AvisynthPluginInit3(IScriptEnvironment* env,
                                                                    const AVS_Linkage* const vectors) {
  AVS_linkage = vectors;
  env->AddFunction("Korvala", "[SourceFileAVC]s[SourceFileMVC]s[NumFrames]i[ViewId]i", Create, nullptr);
  return "Korvala plugin";
}
