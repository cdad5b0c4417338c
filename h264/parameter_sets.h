// H.264 parameter sets: the SPS, the subset SPS with its multiview extension, and the PPS,
// parsed whole where decoding depends on them, with the bit ranges a rewriter copies as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace h264 {

enum NalType : std::uint8_t {
  kNalSlice = 1,
  kNalIdrSlice = 5,
  kNalSei = 6,
  kNalSps = 7,
  kNalPps = 8,
  kNalAud = 9,
  kNalEndOfSequence = 10,
  kNalEndOfStream = 11,
  kNalFiller = 12,
  kNalPrefix = 14,
  kNalSubsetSps = 15,
  kNalSliceExtension = 20,
  kNalDependentDelimiter = 24,
};

constexpr std::uint32_t kMaxSpsId = 31;
constexpr std::uint32_t kMaxPpsId = 255;

struct Sps {
  std::uint32_t profileIdc = 0;
  std::uint32_t constraintFlags = 0;
  std::uint32_t levelIdc = 0;
  std::uint32_t spsId = 0;
  std::uint32_t chromaFormatIdc = 1;
  bool separateColourPlane = false;
  std::uint32_t bitDepthLuma = 8;
  std::uint32_t bitDepthChroma = 8;
  std::uint32_t log2MaxFrameNum = 4;
  std::uint32_t pocType = 0;
  std::uint32_t log2MaxPocLsb = 4;
  bool deltaPicOrderAlwaysZero = false;
  std::int32_t offsetForNonRefPic = 0;
  std::int32_t offsetForTopToBottomField = 0;
  std::vector<std::int32_t> offsetForRefFrame;
  std::uint32_t maxNumRefFrames = 0;
  bool gapsAllowed = false;
  std::uint32_t widthMbs = 0;
  std::uint32_t heightMapUnits = 0;
  bool frameMbsOnly = true;
  bool mbAdaptiveFrameField = false;
  bool direct8x8Inference = false;
  // Crop in luma samples, already scaled by the chroma subsampling.
  std::uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  bool vuiPresent = false;
  std::uint32_t sarWidth = 0, sarHeight = 0;  // 0: unspecified
  // video_signal_type and chroma_loc_info; the defaults are what their absence means.
  std::uint32_t videoFormat = 5;
  bool videoFullRange = false;
  std::uint32_t colourPrimaries = 2, transferCharacteristics = 2, matrixCoefficients = 2;
  bool chromaLocInfo = false;
  std::uint32_t chromaLocTop = 0, chromaLocBottom = 0;
  bool timingInfo = false;
  std::uint32_t numUnitsInTick = 0;
  std::uint32_t timeScale = 0;
  bool fixedFrameRate = false;
  bool bitstreamRestriction = false;
  std::uint32_t maxNumReorderFrames = 0;
  std::uint32_t maxDecFrameBuffering = 0;

  // RBSP bit positions (from the first bit after the NAL header byte):
  std::size_t formatBegin = 0;  // behind seq_parameter_set_id: chroma format, bit depths, scaling
  std::size_t formatEnd = 0;    // at log2_max_frame_num_minus4
  std::size_t sizeBegin = 0;    // at pic_width_in_mbs_minus1
  std::size_t cropBegin = 0;    // at frame_cropping_flag
  std::size_t vuiBegin = 0;     // first bit of vui_parameters() (when present)
  std::size_t vuiRestriction = 0;  // at bitstream_restriction_flag (when present)
  std::size_t dataEndBit = 0;   // where seq_parameter_set_data() ends

  std::uint32_t CodedWidth() const { return widthMbs * 16; }
  std::uint32_t CodedHeight() const { return heightMapUnits * 16 * (frameMbsOnly ? 1 : 2); }
  std::uint32_t MaxFrameNum() const { return 1u << log2MaxFrameNum; }
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

struct SubsetSps {
  Sps sps;
  bool hasMvc = false;
  std::vector<MvcView> views;  // in view order: views[0] is the base view
  std::vector<MvcOperationPoint> ops;

  // A non-base view predicts from another view.
  bool InterViewPrediction() const;
  std::size_t TotalTargetViews() const;
};

struct Pps {
  std::uint32_t ppsId = 0;
  std::uint32_t spsId = 0;
  bool entropyCodingMode = false;
  bool bottomFieldPicOrderInFramePresent = false;
  std::uint32_t numSliceGroups = 1;
  std::uint32_t sliceGroupMapType = 0;
  std::uint32_t sliceGroupChangeRate = 1;
  std::uint32_t numRefIdxDefault[2] = {1, 1};
  bool weightedPred = false;
  std::uint32_t weightedBipredIdc = 0;
  bool deblockingFilterControlPresent = false;
  bool redundantPicCntPresent = false;

  std::size_t idsEnd = 0;      // behind seq_parameter_set_id
  std::size_t bottomFlag = 0;  // at bottom_field_pic_order_in_frame_present_flag
  std::size_t dataEndBit = 0;  // at the rbsp_stop_one_bit
};

// The profile's SPS carries chroma_format_idc, the bit depths and the scaling matrices.
bool ProfileHasChromaFormat(std::uint32_t profileIdc);

class BitWriter;
// Writes the chroma format, bit depths and scaling matrices as an SPS of a profile that carries
// them does: the SPS's own bits (from `rbsp`, the RBSP it was parsed from), or the values their
// absence implies.
void WriteFormatFields(const Sps& sps, const std::uint8_t* rbsp, BitWriter& w);

// How many pictures a decoder must hold back to output in display order: the stream's own
// max_num_reorder_frames, else the largest DPB its level allows at its size (at most 16).
std::uint32_t ReorderDepth(const Sps& sps);

// Parse the RBSP of a NAL unit (header byte excluded). False on malformed or unsupported data.
bool ParseSps(const std::uint8_t* rbsp, std::size_t len, Sps& sps);
bool ParseSubsetSps(const std::uint8_t* rbsp, std::size_t len, SubsetSps& subset);
bool ParsePps(const std::uint8_t* rbsp, std::size_t len, Pps& pps);
// first_mb_in_slice of a slice RBSP; false when unreadable.
bool ParseFirstMb(const std::uint8_t* rbsp, std::size_t len, std::uint32_t& firstMb);

// Convenience over a whole NAL unit (header byte first, still escaped).
bool ParseSpsNal(const std::uint8_t* nal, std::size_t len, Sps& sps);
bool ParseSubsetSpsNal(const std::uint8_t* nal, std::size_t len, SubsetSps& subset);
bool ParsePpsNal(const std::uint8_t* nal, std::size_t len, Pps& pps);

// The first SPS of a byte stream with start codes; false when none parses.
bool FindSps(const std::uint8_t* data, std::size_t len, Sps& sps);

// Sample aspect ratio of aspect_ratio_idc 1..16 (H.264 and VC-1 share the table); false otherwise.
bool TableAspectRatio(std::uint32_t idc, std::uint32_t& w, std::uint32_t& h);

class BitReader;
// aspect_ratio_idc and, for 255, sar_width and sar_height, as H.264's and HEVC's VUI code them
// behind aspect_ratio_info_present_flag; w and h stay as they are for an unknown idc.
void ReadAspectRatio(BitReader& r, std::uint32_t& w, std::uint32_t& h);

}  // namespace h264
