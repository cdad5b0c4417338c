// Splits an H.264 byte stream into access units as it arrives, in pieces of any size: a unit
// opens with an access unit delimiter (00 00 00 01 09). Bytes are not kept; only what the
// test runtime reports per unit (its index, whether it holds a coded slice extension, NAL
// type 20) is tracked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mfxtest {

class AccessUnitSplitter {
 public:
  struct Unit {
    std::uint32_t index;
    bool hasSliceExtension;
  };

  // Scans more bytes; appends the units that they complete (a unit is complete once the next
  // one's delimiter arrived).
  void Append(const std::uint8_t* data, std::size_t size, std::vector<Unit>* done);
  // End of input: the unit in progress, if any byte of it arrived, is complete.
  void Finish(std::vector<Unit>* done);

 private:
  void OnNalHeader(std::uint8_t header, bool fourByteStartCode, std::vector<Unit>* done);

  int zeros_ = 0;            // zero bytes just seen, capped at 3
  bool expectHeader_ = false;
  bool fourByte_ = false;    // the start code before the expected header had three zeros
  bool unitOpen_ = false;    // bytes of the current unit arrived
  bool delimiterSeen_ = false;  // the current unit has its delimiter
  bool sliceExtension_ = false;
  std::uint32_t next_ = 0;
};

}  // namespace mfxtest
