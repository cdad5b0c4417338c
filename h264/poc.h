// Picture order counts of the successive pictures of one view, all three types, with the reset
// that an IDR picture or memory_management_control_operation 5 brings.
#pragma once

#include <cstdint>

#include "parameter_sets.h"
#include "slice_header.h"

namespace h264 {

// pic_order_cnt_type 1: the picture's top and bottom counts from its FrameNumOffset.
void PocType1(const Sps& sps, const SliceHeader& h, std::int64_t frameNumOffset, bool reference, std::int64_t& top,
              std::int64_t& bottom);

class PocCounter {
 public:
  struct Result {
    std::int32_t top = 0;
    std::int32_t bottom = 0;
    std::int32_t poc = 0;  // the picture's own: the smaller of a frame's two, a field's one
    bool reset = false;    // IDR or operation 5: every earlier picture is output before it
  };
  // The counts of the picture whose first slice header is h (parsed with sps). idr: NAL type 5.
  Result Next(const Sps& sps, const SliceHeader& h, bool idr, std::uint32_t refIdc);
  void Reset() { *this = PocCounter(); }

 private:
  std::int64_t prevMsb_ = 0;
  std::int64_t prevLsb_ = 0;
  std::int64_t prevFrameNumOffset_ = 0;
  std::uint32_t prevFrameNum_ = 0;
  bool prevMmco5_ = false;
  bool prevBottomField_ = false;
  std::int64_t prevTop_ = 0;  // after an operation 5: the previous picture's top count
};

}  // namespace h264
