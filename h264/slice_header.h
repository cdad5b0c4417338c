// Slice headers: the NAL header's multiview extension, the whole slice header parsed against
// its parameter sets, and the pieces a rewriter regenerates or copies bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bits.h"
#include "parameter_sets.h"

namespace h264 {

enum SliceKind : std::uint8_t { kSliceP = 0, kSliceB = 1, kSliceI = 2, kSliceSp = 3, kSliceSi = 4 };

// nal_unit_header_mvc_extension(): the three bytes behind a prefix (14) or slice extension (20)
// header byte.
struct MvcNalHeader {
  bool nonIdr = true;
  std::uint32_t priorityId = 0;
  std::uint32_t viewId = 0;
  std::uint32_t temporalId = 0;
  bool anchorPic = false;
  bool interView = true;
};
// False when the bytes are missing or carry the scalable (SVC) form.
bool ParseMvcNalHeader(const std::uint8_t* ext, std::size_t len, MvcNalHeader& out);

// One reference picture list modification command. idc 0/1: value is abs_diff_pic_num_minus1;
// 2: long_term_pic_num; 4/5 (multiview): abs_diff_view_idx_minus1.
struct ListModification {
  std::uint32_t idc = 3;
  std::uint32_t value = 0;
};

// One memory_management_control_operation.
struct Mmco {
  std::uint32_t op = 0;
  std::uint32_t differenceOfPicNumsMinus1 = 0;  // ops 1, 3
  std::uint32_t longTermPicNum = 0;             // op 2
  std::uint32_t longTermFrameIdx = 0;           // ops 3, 6
  std::uint32_t maxLongTermFrameIdxPlus1 = 0;   // op 4
};

constexpr std::size_t kMaxListModifications = 33;
constexpr std::size_t kMaxMmcos = 66;

struct SliceHeader {
  std::uint32_t firstMb = 0;
  std::uint32_t sliceType = 0;  // as coded, 0..9
  SliceKind kind = kSliceP;     // sliceType % 5
  std::uint32_t ppsId = 0;
  std::uint32_t colourPlaneId = 0;
  std::uint32_t frameNum = 0;
  bool fieldPic = false;
  bool bottomField = false;
  std::uint32_t idrPicId = 0;
  std::uint32_t pocLsb = 0;
  std::int32_t deltaPocBottom = 0;
  std::int32_t deltaPoc[2] = {0, 0};
  std::uint32_t redundantPicCnt = 0;
  bool directSpatialMvPred = false;
  bool numRefIdxOverride = false;
  std::uint32_t numRefIdxActive[2] = {0, 0};
  bool modificationFlag[2] = {false, false};
  std::vector<ListModification> modifications[2];
  // dec_ref_pic_marking()
  bool noOutputOfPriorPics = false;
  bool longTermReference = false;
  bool adaptiveMarking = false;
  std::vector<Mmco> mmcos;

  // RBSP bit positions (from the first bit of the slice header):
  std::size_t predWeightBegin = 0, predWeightEnd = 0;  // pred_weight_table(), empty when absent
  std::size_t tailBegin = 0;  // behind dec_ref_pic_marking(): cabac_init_idc onwards
  std::size_t headerEnd = 0;  // first bit of slice_data() (before any cabac_alignment_one_bit)

  bool IsB() const { return kind == kSliceB; }
  bool IsPOrB() const { return kind == kSliceP || kind == kSliceSp || kind == kSliceB; }
  bool IsIntra() const { return kind == kSliceI || kind == kSliceSi; }
  bool MmcoReset() const;  // carries memory_management_control_operation 5
};

// Everything about the NAL unit the slice header's syntax depends on.
struct SliceContext {
  bool idr = false;        // nal_unit_type 5, or non_idr_flag 0 in the multiview extension
  std::uint32_t refIdc = 0;
  bool multiview = false;  // ref_pic_list_mvc_modification(): idc 4 and 5 allowed
};

// pic_parameter_set_id of a slice RBSP (its third field), which the rest of the header's
// syntax depends on; false when unreadable.
bool ParseSlicePpsId(const std::uint8_t* rbsp, std::size_t len, std::uint32_t& ppsId);

// Parses a slice header from the slice's RBSP (the bytes behind the NAL header and, for
// type 20, its three extension bytes). False when it does not parse or breaks a limit.
bool ParseSliceHeader(const std::uint8_t* rbsp, std::size_t len, const Sps& sps, const Pps& pps,
                      const SliceContext& context, SliceHeader& out);

// Writes slice_header() from its fields, laid out as the given parameter sets say (which may be
// others than those it was parsed with). pred_weight_table() and the fields behind
// dec_ref_pic_marking() are copied from `source`, the RBSP the header was parsed from.
void WriteSliceHeader(const SliceHeader& h, const Sps& sps, const Pps& pps, const SliceContext& context,
                      const std::uint8_t* source, BitWriter& w);
// Appends the slice data of `source` (the slice's RBSP, h its parsed header) behind a header
// just written, then the trailing bits. cabac: the PPS's entropy_coding_mode_flag.
void WriteSliceData(const SliceHeader& h, bool cabac, const std::uint8_t* source, std::size_t len, BitWriter& w);

}  // namespace h264
