// Plugins that can't be loaded: one without the entry, one whose entry registers and then fails.
#include "avisynth.h"

__attribute__((visibility("hidden"))) const AVS_Linkage* AVS_linkage = nullptr;

namespace {
AVSValue __cdecl Nothing(AVSValue, void*, IScriptEnvironment*) { return AVSValue(); }
}  // namespace

#ifdef WITH_ENTRY
extern "C" __attribute__((visibility("default"))) const char* __stdcall AvisynthPluginInit3(
    IScriptEnvironment* env, const AVS_Linkage* const vectors) {
  AVS_linkage = vectors;
  env->AddFunction("Orphan", "", Nothing, nullptr);
  env->ThrowError("BadInit: refusing with code %d", 42);
  return nullptr;  // not reached: ThrowError does not return
}
#else
extern "C" __attribute__((visibility("default"))) void* NotAnEntry() { return reinterpret_cast<void*>(&Nothing); }
#endif
