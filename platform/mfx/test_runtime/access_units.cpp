#include "access_units.h"

namespace mfxtest {

void AccessUnitSplitter::Append(const std::uint8_t* data, std::size_t size, std::vector<Unit>* done) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = data[i];
    if (expectHeader_) {
      expectHeader_ = false;
      OnNalHeader(b, fourByte_, done);
    }
    unitOpen_ = true;
    if (b == 0) {
      if (zeros_ < 3) ++zeros_;
    } else {
      if (b == 1 && zeros_ >= 2) {
        expectHeader_ = true;
        fourByte_ = zeros_ >= 3;
      }
      zeros_ = 0;
    }
  }
}

void AccessUnitSplitter::OnNalHeader(std::uint8_t header, bool fourByteStartCode, std::vector<Unit>* done) {
  if (fourByteStartCode && header == 0x09) {
    // Bytes before the first delimiter belong to the first unit.
    if (delimiterSeen_) {
      done->push_back({next_++, sliceExtension_});
      sliceExtension_ = false;
    }
    delimiterSeen_ = true;
    return;
  }
  if ((header & 0x1F) == 20) sliceExtension_ = true;
}

void AccessUnitSplitter::Finish(std::vector<Unit>* done) {
  if (unitOpen_) done->push_back({next_++, sliceExtension_});
  zeros_ = 0;
  expectHeader_ = fourByte_ = unitOpen_ = delimiterSeen_ = sliceExtension_ = false;
}

}  // namespace mfxtest
