#pragma once
// Owned, 32-byte aligned byte blocks and owned C files: every large buffer of a clip is one of
// these, so a constructor that raises half-way frees what it had already taken.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace korvala {

struct AlignedFree {
  void operator()(void* p) const noexcept {
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
  }
};
using AlignedBytes = std::unique_ptr<uint8_t[], AlignedFree>;

// Null when the block can't be had; size is rounded up to a whole number of alignment units.
inline AlignedBytes AllocateAligned(std::size_t size, std::size_t alignment = 32) {
  std::size_t rounded = (size + alignment - 1) / alignment * alignment;
  if (rounded == 0) rounded = alignment;
#ifdef _WIN32
  return AlignedBytes(static_cast<uint8_t*>(_aligned_malloc(rounded, alignment)));
#else
  return AlignedBytes(static_cast<uint8_t*>(std::aligned_alloc(alignment, rounded)));
#endif
}

struct FileClose {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

}  // namespace korvala
