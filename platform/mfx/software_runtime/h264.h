// H.264 parameter sets as far as the runtime needs them: picture format and timing from the
// SPS, the multiview extension of the subset SPS, and the ids a PPS and a slice refer to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace swrt {

enum H264NalType : std::uint8_t {
  kNalSlice = 1,
  kNalIdrSlice = 5,
  kNalSei = 6,
  kNalSps = 7,
  kNalPps = 8,
  kNalAud = 9,
  kNalEndOfSequence = 10,
  kNalEndOfStream = 11,
  kNalPrefix = 14,
  kNalSubsetSps = 15,
  kNalSliceExtension = 20,
  kNalDependentDelimiter = 24,
};

struct H264Sps {
  std::uint32_t profileIdc = 0;
  std::uint32_t constraintFlags = 0;
  std::uint32_t levelIdc = 0;
  std::uint32_t spsId = 0;
  std::uint32_t chromaFormatIdc = 1;
  std::uint32_t bitDepthLuma = 8;
  std::uint32_t bitDepthChroma = 8;
  bool frameMbsOnly = true;
  std::uint32_t widthMbs = 0;
  std::uint32_t heightMapUnits = 0;
  // Crop in luma samples, already scaled by the chroma subsampling.
  std::uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  std::uint32_t sarWidth = 0, sarHeight = 0;  // 0: unspecified
  bool timingInfo = false;
  std::uint32_t numUnitsInTick = 0;
  std::uint32_t timeScale = 0;
  bool fixedFrameRate = false;
  bool bitstreamRestriction = false;
  std::uint32_t maxNumReorderFrames = 0;
  // Bit offset in the RBSP (from the first bit after the NAL header) where
  // seq_parameter_set_data() ends.
  std::size_t dataEndBit = 0;

  std::uint32_t CodedWidth() const { return widthMbs * 16; }
  std::uint32_t CodedHeight() const { return heightMapUnits * 16 * (frameMbsOnly ? 1 : 2); }
};

struct MvcView {
  std::uint32_t viewId = 0;
  std::vector<std::uint32_t> anchorL0, anchorL1, nonAnchorL0, nonAnchorL1;
};

struct MvcOperationPoint {
  std::uint32_t levelIdc = 0;
  std::uint32_t temporalId = 0;
  std::vector<std::uint32_t> targetViews;
  std::uint32_t numViews = 0;  // views needed to decode the targets
};

struct H264SubsetSps {
  H264Sps sps;
  bool hasMvc = false;
  std::vector<MvcView> views;
  std::vector<MvcOperationPoint> ops;

  // A non-base view predicts from another view.
  bool InterViewPrediction() const;
  std::size_t TotalTargetViews() const;
};

// How many pictures a decoder must hold back to output in display order: the stream's own
// max_num_reorder_frames, else the largest DPB its level allows at its size (at most 16).
std::uint32_t ReorderDepth(const H264Sps& sps);

// Parse the RBSP of a NAL unit (header byte excluded). False on malformed or unsupported data.
bool ParseSps(const std::uint8_t* rbsp, std::size_t len, H264Sps& sps);
bool ParseSubsetSps(const std::uint8_t* rbsp, std::size_t len, H264SubsetSps& subset);
bool ParsePpsIds(const std::uint8_t* rbsp, std::size_t len, std::uint32_t& ppsId, std::uint32_t& spsId);
// first_mb_in_slice of a slice RBSP; false when unreadable.
bool ParseFirstMb(const std::uint8_t* rbsp, std::size_t len, std::uint32_t& firstMb);

// Convenience over a whole NAL unit (header byte first, still escaped).
bool ParseSpsNal(const std::uint8_t* nal, std::size_t len, H264Sps& sps);
bool ParseSubsetSpsNal(const std::uint8_t* nal, std::size_t len, H264SubsetSps& subset);
bool ParsePpsNal(const std::uint8_t* nal, std::size_t len, std::uint32_t& ppsId, std::uint32_t& spsId);

// Sample aspect ratio of aspect_ratio_idc 1..16 (H.264 and VC-1 share the table); false otherwise.
bool TableAspectRatio(std::uint32_t idc, std::uint32_t& w, std::uint32_t& h);

}  // namespace swrt
