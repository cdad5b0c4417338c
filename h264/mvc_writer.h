// Writing the multiview syntax that the parsers in slice_header.h and parameter_sets.h read:
// the NAL header extension and the subset SPS's view description.
#pragma once

#include <cstdint>

#include "bits.h"
#include "parameter_sets.h"
#include "slice_header.h"

namespace h264 {

// nal_unit_header_mvc_extension() as three bytes (svc_extension_flag 0, reserved_one_bit 1).
void WriteMvcNalHeader(const MvcNalHeader& header, std::uint8_t out[3]);

// seq_parameter_set_mvc_extension() from subset.views and subset.ops, which must not be empty
// (nor any operation point's target views). Consecutive operation points of one level share
// its level entry.
void WriteMvcExtension(const SubsetSps& subset, BitWriter& w);

}  // namespace h264
