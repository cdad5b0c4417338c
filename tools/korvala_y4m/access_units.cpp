#include "access_units.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace y4m {

void DelimiterCounter::Feed(const uint8_t* data, size_t size) {
  uint32_t last = last_;
  for (size_t i = 0; i < size; ++i) {
    if (last == 1 && (data[i] & 0x1F) == type_) ++count_;
    last = (last << 8) | data[i];
  }
  last_ = last;
}

bool CountFileAccessUnits(const std::string& path, uint64_t& count) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) return false;
  DelimiterCounter counter;
  std::vector<uint8_t> buf(1 << 20);
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) counter.Feed(buf.data(), n);
  if (std::ferror(f.get())) return false;
  count = counter.count();
  return true;
}

}  // namespace y4m
