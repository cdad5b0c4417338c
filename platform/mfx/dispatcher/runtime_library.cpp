#include "runtime_library.h"

#include <windows.h>

#include <vector>

namespace mfxdisp {

namespace {

constexpr wchar_t kSoftwareRuntime[] = L"libmfxsw64.dll";
constexpr wchar_t kHardwareRuntime[] = L"libmfxhw64.dll";

template <class Fn>
void Resolve(HMODULE module, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::wstring BesideThisModule(const wchar_t* fileName) {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&BesideThisModule), &self))
    return L"";
  // Paths may be longer than MAX_PATH: grow until the name fits.
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return L"";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return L"";
    path.resize(path.size() * 2);
  }
  std::wstring folder(path.begin(), path.end());
  const size_t cut = folder.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return L"";
  return folder.substr(0, cut + 1) + fileName;
}

std::unique_ptr<RuntimeLibrary> RuntimeLibrary::OpenSoftware() {
  const std::wstring path = BesideThisModule(kSoftwareRuntime);
  if (path.empty()) return nullptr;
  // The runtime's own imports are looked for beside it, as for the runtime itself.
  return Open(path, LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::unique_ptr<RuntimeLibrary> RuntimeLibrary::OpenHardware() {
  return Open(kHardwareRuntime, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

std::unique_ptr<RuntimeLibrary> RuntimeLibrary::Open(const std::wstring& name, unsigned long flags) {
  // No error box for a runtime that is missing or fails to load: the caller just gets no session.
  DWORD oldMode = 0;
  const bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  HMODULE module = LoadLibraryExW(name.c_str(), nullptr, flags);
  if (quiet) SetThreadErrorMode(oldMode, nullptr);
  if (!module) return nullptr;
  std::unique_ptr<RuntimeLibrary> library(new RuntimeLibrary(module));
  EntryPoints& e = library->entry_;
  Resolve(module, "MFXInitEx", e.MFXInitEx);
#define MFXDISP_RESOLVE(name) Resolve(module, #name, e.name);
  MFXDISP_FORWARDED(MFXDISP_RESOLVE)
#undef MFXDISP_RESOLVE
  // Without these no session can be opened, checked and closed again.
  if (!e.MFXInitEx || !e.MFXClose || !e.MFXQueryVersion) return nullptr;
  return library;
}

RuntimeLibrary::~RuntimeLibrary() { FreeLibrary(static_cast<HMODULE>(module_)); }

}  // namespace mfxdisp
