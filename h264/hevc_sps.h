// The head of an HEVC sequence parameter set: its fields up to the picture order count's size,
// for the runtime's header scan and the plugin's index.
#pragma once

#include <cstdint>

#include "bits.h"

namespace h264 {

struct HevcSpsHead {
  std::uint32_t maxSubLayersMinus1 = 0;
  std::uint32_t profile = 0, level = 0;  // general_profile_idc, general_level_idc
  std::uint32_t spsId = 0;
  std::uint32_t chromaFormat = 1;
  bool separateColourPlane = false;
  std::uint32_t width = 0, height = 0;
  bool conformanceWindow = false;
  std::uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;  // in chroma units
  std::uint32_t bitDepthLuma = 8, bitDepthChroma = 8;
  std::uint32_t log2MaxPocLsb = 4;
};

// Reads seq_parameter_set_rbsp() from its first bit through log2_max_pic_order_cnt_lsb_minus4;
// false when a field is out of range or the bits run out.
bool ReadHevcSpsHead(BitReader& r, HevcSpsHead& out);

}  // namespace h264
