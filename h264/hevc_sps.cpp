#include "hevc_sps.h"

namespace h264 {

namespace {
void SkipProfileTierLevel(BitReader& r, std::uint32_t maxSubLayersMinus1, HevcSpsHead& out) {
  r.U(2);  // general_profile_space
  r.U(1);  // general_tier_flag
  out.profile = r.U(5);
  r.Skip(32 + 4 + 43 + 1);
  out.level = r.U(8);
  bool profilePresent[8] = {}, levelPresent[8] = {};
  for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    profilePresent[i] = r.Flag();
    levelPresent[i] = r.Flag();
  }
  if (maxSubLayersMinus1 > 0)
    for (std::uint32_t i = maxSubLayersMinus1; i < 8; ++i) r.U(2);
  for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    if (profilePresent[i]) r.Skip(88);
    if (levelPresent[i]) r.Skip(8);
  }
}
}  // namespace

bool ReadHevcSpsHead(BitReader& r, HevcSpsHead& out) {
  out = HevcSpsHead{};
  r.U(4);  // sps_video_parameter_set_id
  out.maxSubLayersMinus1 = r.U(3);
  if (out.maxSubLayersMinus1 > 6) return false;
  r.U(1);  // sps_temporal_id_nesting_flag
  SkipProfileTierLevel(r, out.maxSubLayersMinus1, out);
  out.spsId = r.Ue();
  if (out.spsId > 15) return false;
  out.chromaFormat = r.Ue();
  if (out.chromaFormat > 3) return false;
  if (out.chromaFormat == 3) out.separateColourPlane = r.Flag();
  out.width = r.Ue();
  out.height = r.Ue();
  if (r.Error() || out.width == 0 || out.height == 0 || out.width > 16888 || out.height > 16888) return false;
  out.conformanceWindow = r.Flag();
  if (out.conformanceWindow) {
    out.cropLeft = r.Ue();
    out.cropRight = r.Ue();
    out.cropTop = r.Ue();
    out.cropBottom = r.Ue();
  }
  out.bitDepthLuma = r.Ue() + 8;
  out.bitDepthChroma = r.Ue() + 8;
  if (r.Error() || out.bitDepthLuma > 16 || out.bitDepthChroma > 16) return false;
  out.log2MaxPocLsb = r.Ue() + 4;
  return !r.Error() && out.log2MaxPocLsb <= 16;
}

}  // namespace h264
