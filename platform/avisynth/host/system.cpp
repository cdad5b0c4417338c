#include "system.h"

#include <cstdlib>

#ifdef _WIN32
#include <malloc.h>
#include <string.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <strings.h>
#endif

namespace avshost::detail {

#ifdef _WIN32
void* OpenLibrary(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module && error) *error = "LoadLibrary error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}

void* LibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

int CompareNoCase(const char* a, const char* b) { return _stricmp(a, b); }

void* AlignedAllocate(std::size_t alignment, std::size_t size) { return _aligned_malloc(size, alignment); }
void AlignedFree(void* block) { _aligned_free(block); }
#else
void* OpenLibrary(const std::string& path, std::string* error) {
  // A bare name would send dlopen to the library path; a plugin is always a file here.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle && error) {
    const char* why = dlerror();
    *error = why ? why : "unknown reason";
  }
  return handle;
}

void* LibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseLibrary(void* library) { dlclose(library); }

int CompareNoCase(const char* a, const char* b) { return strcasecmp(a, b); }

void* AlignedAllocate(std::size_t alignment, std::size_t size) {
  // aligned_alloc wants a size that is a multiple of the alignment.
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}
void AlignedFree(void* block) { std::free(block); }
#endif

}  // namespace avshost::detail
