#pragma once
// The few operating-system services the host needs, on POSIX and on Windows.
#include <cstddef>
#include <string>

namespace avshost::detail {

// Loads a shared library; null with a reason in *error on failure.
void* OpenLibrary(const std::string& path, std::string* error);
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);

// ASCII case-insensitive comparison, as AviSynth compares names.
int CompareNoCase(const char* a, const char* b);

void* AlignedAllocate(std::size_t alignment, std::size_t size);
void AlignedFree(void* block);

}  // namespace avshost::detail
