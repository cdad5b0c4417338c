// The index's view of an HEVC stream: access units of the base layer, their pictures' order
// counts, and the random access pictures (IDR, CRA, BLA).
#include <algorithm>

#include "bits.h"
#include "hevc_sps.h"
#include "unit_index.h"

namespace korvala {

namespace {

enum : uint8_t {
  kRaslN = 8,
  kRaslR = 9,
  kBlaFirst = 16,
  kIdrRadl = 19,
  kIdrNlp = 20,
  kCra = 21,
  kIrapLast = 23,
  kVps = 32,
  kSps = 33,
  kPps = 34,
  kAud = 35,
  kEos = 36,
  kEob = 37,
  kPrefixSei = 39,
};

bool StartsNextUnit(uint8_t type) {
  return type == kVps || type == kSps || type == kPps || type == kPrefixSei || (type >= 41 && type <= 44) ||
         (type >= 48 && type <= 55);
}

}  // namespace

void StreamScanner::HevcNal(uint64_t offset, const uint8_t* nal, size_t len) {
  if (len < 3) return;
  const uint8_t type = (nal[0] >> 1) & 0x3F;
  const uint32_t layer = ((nal[0] & 1u) << 5) | (nal[1] >> 3);
  const uint32_t temporalId = (nal[1] & 7u) ? (nal[1] & 7u) - 1 : 0;
  const bool vcl = type < 32;
  const bool firstSlice = vcl && (nal[2] & 0x80) != 0;

  // Units: a picture's first slice, or what may stand before it, opens the next one.
  bool cut = !open_ || ended_;
  uint64_t at = offset;
  if (!cut && layer == 0) {
    if (type == kAud) {
      cut = vcl_;
    } else if (firstSlice && vcl_) {
      cut = true;
      if (candidate_) at = candidateAt_;
    } else if (StartsNextUnit(type) && vcl_ && !candidate_) {
      candidate_ = true;
      candidateAt_ = offset;
    }
  }
  if (cut) {
    Close(at);
    Open(at);
    vcl_ = candidate_ = ended_ = false;
  }
  if (layer != 0) return;
  if (type == kEos || type == kEob) {
    ended_ = true;
    afterEnd_ = true;
    return;
  }

  if (type == kSps || type == kPps) {
    h264::Unescape(nal + 2, len - 2, rbsp_);
    h264::BitReader r(rbsp_.data(), rbsp_.size());
    if (type == kSps) {
      h264::HevcSpsHead head;
      if (h264::ReadHevcSpsHead(r, head))
        hevcSps_[head.spsId] = HevcSps{true, head.separateColourPlane, head.log2MaxPocLsb};
    } else {
      HevcPps pps;
      const uint32_t id = r.Ue();
      pps.spsId = r.Ue();
      pps.dependentSlices = r.Flag();
      pps.outputFlag = r.Flag();
      pps.extraBits = r.U(3);
      pps.valid = !r.Error() && id < 64 && pps.spsId < 16;
      if (pps.valid) hevcPps_[id] = pps;
    }
    return;
  }
  if (!vcl) return;
  vcl_ = true;
  candidate_ = false;
  current_.slices = true;
  if (!firstSlice || current_.picture) return;

  const bool irap = type >= kBlaFirst && type <= kIrapLast;
  const bool idr = type == kIdrRadl || type == kIdrNlp;
  const bool bla = type >= kBlaFirst && type < kIdrRadl;
  h264::Unescape(nal + 2, std::min(len - 2, kLookahead), rbsp_);
  h264::BitReader r(rbsp_.data(), rbsp_.size());
  r.U(1);  // first_slice_segment_in_pic_flag
  if (irap) r.U(1);  // no_output_of_prior_pics_flag
  const uint32_t ppsId = r.Ue();
  if (r.Error() || ppsId >= 64 || !hevcPps_[ppsId].valid || !hevcSps_[hevcPps_[ppsId].spsId].valid) return;
  const HevcPps& pps = hevcPps_[ppsId];
  const HevcSps& sps = hevcSps_[pps.spsId];
  r.Skip(pps.extraBits);
  const uint32_t sliceType = r.Ue();
  if (pps.outputFlag) r.U(1);
  if (sps.separatePlanes) r.U(2);
  const int64_t lsb = idr ? 0 : r.U(static_cast<int>(sps.log2MaxPocLsb));
  if (r.Error()) return;

  // Starting here, a decoder shows no RASL picture of this random access point: neither does
  // the index.
  const bool noRaslOutput = idr || bla || (type == kCra && (firstPicture_ || afterEnd_));
  if (irap) skipRasl_ = noRaslOutput;
  firstPicture_ = afterEnd_ = false;
  if ((type == kRaslN || type == kRaslR) && skipRasl_) return;

  const int64_t maxLsb = int64_t{1} << sps.log2MaxPocLsb;
  int64_t msb = 0;
  if (!(irap && noRaslOutput)) {
    if (lsb < prevTid0Lsb_ && prevTid0Lsb_ - lsb >= maxLsb / 2)
      msb = prevTid0Msb_ + maxLsb;
    else if (lsb > prevTid0Lsb_ && lsb - prevTid0Lsb_ > maxLsb / 2)
      msb = prevTid0Msb_ - maxLsb;
    else
      msb = prevTid0Msb_;
  }
  // Sub-layer non-reference pictures (even types up to 14), RADL and RASL pictures do not move
  // the count's base.
  const bool subLayerNonReference = type <= 14 && type % 2 == 0;
  if (temporalId == 0 && !(type >= 6 && type <= 9) && !subLayerNonReference) {
    prevTid0Msb_ = msb;
    prevTid0Lsb_ = lsb;
  }
  current_.picture = true;
  current_.idr = idr;
  current_.intra = irap && sliceType == 2;
  current_.reset = idr || bla;  // they count from zero again
  current_.poc = static_cast<int32_t>(std::clamp<int64_t>(msb + lsb, INT32_MIN / 2, INT32_MAX / 2));
}

}  // namespace korvala
