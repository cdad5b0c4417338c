#include "module_dir.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace korvala {

namespace {
// Cuts the path at its last separator, searching down to index 1 so a root stays non-empty.
bool CutAtLastSeparator(char* path, char separator) {
  size_t len = std::strlen(path);
  for (size_t i = len; i-- > 1;) {
    if (path[i] == separator) {
      path[i] = '\0';
      return true;
    }
  }
  return false;
}
}  // namespace

#ifdef _WIN32
void MoveToModuleDirectory() {
  using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
  HMODULE psapi = LoadLibraryA("PSAPI.DLL");
  if (!psapi) return;
  auto getName = reinterpret_cast<GetModuleFileNameExAFn>(
      reinterpret_cast<void*>(GetProcAddress(psapi, "GetModuleFileNameExA")));
  if (getName) {
    char path[260];
    std::memset(path, 0, sizeof path);
    // Without a module of that name a null handle would name the host's executable instead.
    HMODULE self = GetModuleHandleA("Korvala");
    if (self && getName(GetCurrentProcess(), self, path, sizeof path - 1) != 0) {
      CutAtLastSeparator(path, '\\');
      SetCurrentDirectoryA(path);
    }
  }
  FreeLibrary(psapi);
}
#else
void MoveToModuleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&MoveToModuleDirectory), &info) == 0 || !info.dli_fname) return;
  char path[4096];
  if (std::strlen(info.dli_fname) >= sizeof path) return;
  std::strcpy(path, info.dli_fname);
  if (!CutAtLastSeparator(path, '/')) return;
  if (chdir(path) != 0) return;
}
#endif

}  // namespace korvala
