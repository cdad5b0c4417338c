#include "byte_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace korvala {

size_t FileSource::ReadAt(uint64_t offset, uint8_t* to, size_t n) {
  if (!file_ || n == 0) return 0;
  if (position_ != offset) {
#ifdef _WIN32
    if (_fseeki64(file_.get(), static_cast<long long>(offset), SEEK_SET) != 0) return 0;
#else
    if (fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
#endif
    position_ = offset;
  }
  const size_t got = std::fread(to, 1, n, file_.get());
  position_ += got;
  return got;
}

size_t MemorySource::ReadAt(uint64_t offset, uint8_t* to, size_t n) {
  if (offset >= size_) return 0;
  const size_t take = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
  if (take > 0) std::memcpy(to, data_ + offset, take);
  return take;
}

}  // namespace korvala
