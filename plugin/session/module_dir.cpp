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
ModuleDirectory::ModuleDirectory() {
  char current[4096];
  const DWORD length = GetCurrentDirectoryA(sizeof current, current);
  if (length == 0 || length >= sizeof current) return;
  previous_ = current;
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
      moved_ = SetCurrentDirectoryA(path) != 0;
    }
  }
  FreeLibrary(psapi);
}

ModuleDirectory::~ModuleDirectory() {
  if (moved_) SetCurrentDirectoryA(previous_.c_str());
}
#else
namespace {
void Anchor() {}  // an address inside the plugin's own library
}  // namespace

ModuleDirectory::ModuleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&Anchor), &info) == 0 || !info.dli_fname) return;
  char path[4096];
  if (std::strlen(info.dli_fname) >= sizeof path) return;
  std::strcpy(path, info.dli_fname);
  if (!CutAtLastSeparator(path, '/')) return;
  char current[4096];
  if (!getcwd(current, sizeof current)) return;
  previous_ = current;
  moved_ = chdir(path) == 0;
}

ModuleDirectory::~ModuleDirectory() {
  if (moved_ && chdir(previous_.c_str()) != 0) {
    // Nothing better to do: the folder before has gone.
  }
}
#endif

}  // namespace korvala
