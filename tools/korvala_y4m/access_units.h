#pragma once
// Counting the access units of a base-view file the way the plugin cuts it: at every
// 00 00 00 01 start code followed by a delimiter NAL unit (type 9).
#include <cstddef>
#include <cstdint>
#include <string>

namespace y4m {

class DelimiterCounter {
 public:
  explicit DelimiterCounter(uint8_t type = 9) : type_(type) {}
  // Feeds the next bytes of the file; a start code split across two calls is still found.
  void Feed(const uint8_t* data, size_t size);
  uint64_t count() const { return count_; }

 private:
  uint8_t type_;
  uint32_t last_ = 0xFFFFFFFF;  // the four bytes before the next one
  uint64_t count_ = 0;
};

// The count for a whole file; false (with errno set) when it can't be read.
bool CountFileAccessUnits(const std::string& path, uint64_t& count);

}  // namespace y4m
