#include "byte_source.h"

#include <cstdio>

#include "file_io.h"

namespace korvala {

size_t FileSource::ReadAt(uint64_t offset, uint8_t* to, size_t n) {
  if (!file_ || n == 0) return 0;
  if (position_ != offset) {
    if (!SeekFile(file_.get(), offset)) return 0;
    position_ = offset;
  }
  const size_t got = std::fread(to, 1, n, file_.get());
  position_ += got;
  return got;
}

}  // namespace korvala
