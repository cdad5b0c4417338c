// Cuts a multiview (MVC) byte stream into access units: the base view's NAL units and those of
// the other views that belong to the same instant, in stream order. Works on the interleaved
// form (prefix NAL units, no delimiters) and on the form the plugin joins from two files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace swrt {

struct AccessUnit {
  std::vector<std::uint8_t> bytes;  // the NAL units back to back, still escaped, no start codes
  std::vector<std::pair<std::size_t, std::size_t>> nals;  // offset and length of each in bytes
  std::uint64_t stamp = kNoStamp;  // of the input its first byte came with

  static constexpr std::uint64_t kNoStamp = ~std::uint64_t{0};

  const std::uint8_t* Nal(std::size_t i) const { return bytes.data() + nals[i].first; }
  std::size_t NalSize(std::size_t i) const { return nals[i].second; }
  void Clear() {
    bytes.clear();
    nals.clear();
    stamp = kNoStamp;
  }
};

class MvcSplitter {
 public:
  // Takes bytes of the stream in order; a unit that begins in them carries `stamp`.
  void Push(const std::uint8_t* data, std::size_t len, std::uint64_t stamp = AccessUnit::kNoStamp);
  // The end of the input: the last unit is complete as it stands.
  void Flush() { flushing_ = true; }
  // The next complete access unit; false when more input is needed (or, after Flush, none is left).
  bool Next(AccessUnit& unit);
  void Reset();
  std::size_t Buffered() const { return buf_.size() - consumed_; }

 private:
  enum class Boundary { No, Yes, NeedMore };
  Boundary StartsNewUnit(std::size_t header, std::size_t end, std::size_t next) const;
  void Add(std::size_t header, std::size_t len);
  std::uint64_t StampAt(std::uint64_t position);
  void Compact();
  void Hand(AccessUnit& unit);

  std::vector<std::uint8_t> buf_;
  std::size_t consumed_ = 0;  // bytes before this belong to handed-out units
  std::size_t scan_ = 0;      // where the next unit's start code is searched
  std::uint64_t base_ = 0;    // stream position of buf_[0]
  std::deque<std::pair<std::uint64_t, std::uint64_t>> stamps_;  // stream position, stamp from there on
  bool flushing_ = false;

  AccessUnit current_;
  bool baseVcl_ = false, dependentVcl_ = false, ended_ = false;
};

}  // namespace swrt
