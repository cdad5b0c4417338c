#pragma once
// Joins two AVC elementary streams (left and right view) into the two-file stereo form:
// a base-view file with an access unit delimiter opening every access unit, and a
// dependent-view file whose units open with NAL type 24 and carry the right view as MVC
// view 1 (subset SPS, PPS, coded slice extensions) without inter-view prediction.
#include <cstddef>
#include <cstdint>
#include <string>

#include "stream.h"

namespace mvcpack {

constexpr uint32_t kMultiviewHigh = 118;
constexpr uint32_t kDependentViewId = 1;

// The three bytes of nal_unit_header_mvc_extension for view 1 with no inter-view use:
// svc_extension_flag 0, non_idr_flag, priority_id 0, view_id, temporal_id 0,
// anchor_pic_flag (set for IDR and anchor pictures), inter_view_flag 0, reserved_one_bit 1.
void MvcExtensionBytes(bool idr, bool anchor, uint32_t viewId, uint8_t out[3]);

// SPS NAL unit -> subset SPS NAL unit (profile 118, the same seq_parameter_set_data, then a
// two-view MVC extension with no inter-view references).
Bytes MakeSubsetSps(const NalUnit& sps);

// The id the dependent view's PPS gets. ue(v) codes of p and (p + 1) * 16 - 1 differ by
// exactly 8 bits, so everything behind the id in a PPS or slice keeps its place in the byte
// and is copied as whole bytes. Valid for p <= 15 (the result stays within 255).
uint32_t DependentPpsId(uint32_t ppsId);

// PPS NAL unit with its pic_parameter_set_id replaced.
Bytes RenumberPps(const NalUnit& pps, uint32_t newId);

// Slice (type 1 or 5) -> coded slice extension (type 20) of view 1, with its
// pic_parameter_set_id replaced by newPpsId.
Bytes MakeSliceExtension(const Slice& slice, uint32_t newPpsId, bool anchor);

struct PackResult {
  Bytes base;
  Bytes dependent;
  size_t accessUnits = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// Throws PackError with a message for the user when the streams can't be paired.
PackResult Pack(const uint8_t* left, size_t leftSize, const uint8_t* right, size_t rightSize);

}  // namespace mvcpack
