#include "slice_header.h"

namespace h264 {

bool ParseMvcNalHeader(const std::uint8_t* ext, std::size_t len, MvcNalHeader& out) {
  if (len < 3 || (ext[0] & 0x80) != 0) return false;
  const std::uint32_t bits = (std::uint32_t{ext[0]} << 16) | (std::uint32_t{ext[1]} << 8) | ext[2];
  out.nonIdr = (bits >> 22) & 1;
  out.priorityId = (bits >> 16) & 0x3F;
  out.viewId = (bits >> 6) & 0x3FF;
  out.temporalId = (bits >> 3) & 7;
  out.anchorPic = (bits >> 2) & 1;
  out.interView = (bits >> 1) & 1;
  return true;
}

bool SliceHeader::MmcoReset() const {
  for (const Mmco& m : mmcos)
    if (m.op == 5) return true;
  return false;
}

namespace {

bool ParseModifications(BitReader& r, bool multiview, std::uint32_t active, bool& flag,
                        std::vector<ListModification>& out) {
  flag = r.Flag();
  if (!flag) return true;
  for (;;) {
    ListModification m;
    m.idc = r.Ue();
    if (r.Error()) return false;
    if (m.idc == 3) break;
    if (m.idc > 5 || (!multiview && m.idc > 2)) return false;
    m.value = r.Ue();
    out.push_back(m);
    // At most one command per entry, and the terminating one.
    if (out.size() > active + 1 || out.size() > kMaxListModifications) return false;
  }
  return !r.Error();
}

void SkipPredWeightTable(BitReader& r, const Sps& sps, const SliceHeader& h) {
  const bool chroma = sps.chromaFormatIdc != 0 && !sps.separateColourPlane;
  if (r.Ue() > 7) r.Fail();  // luma_log2_weight_denom
  if (chroma && r.Ue() > 7) r.Fail();
  for (int list = 0; list < (h.IsB() ? 2 : 1) && !r.Error(); ++list) {
    for (std::uint32_t i = 0; i < h.numRefIdxActive[list] && !r.Error(); ++i) {
      if (r.Flag()) {
        r.Se();
        r.Se();
      }
      if (chroma && r.Flag())
        for (int j = 0; j < 4; ++j) r.Se();
    }
  }
}

bool ParseMarking(BitReader& r, const SliceContext& c, SliceHeader& h) {
  if (c.idr) {
    h.noOutputOfPriorPics = r.Flag();
    h.longTermReference = r.Flag();
    return !r.Error();
  }
  h.adaptiveMarking = r.Flag();
  if (!h.adaptiveMarking) return !r.Error();
  for (;;) {
    Mmco m;
    m.op = r.Ue();
    if (r.Error() || m.op > 6) return false;
    if (m.op == 0) break;
    if (m.op == 1 || m.op == 3) m.differenceOfPicNumsMinus1 = r.Ue();
    if (m.op == 2) m.longTermPicNum = r.Ue();
    if (m.op == 3 || m.op == 6) m.longTermFrameIdx = r.Ue();
    if (m.op == 4) m.maxLongTermFrameIdxPlus1 = r.Ue();
    if (m.longTermFrameIdx > 31 || m.maxLongTermFrameIdxPlus1 > 32) return false;
    h.mmcos.push_back(m);
    if (h.mmcos.size() > kMaxMmcos) return false;
  }
  return !r.Error();
}

}  // namespace

bool ParseSlicePpsId(const std::uint8_t* rbsp, std::size_t len, std::uint32_t& ppsId) {
  BitReader r(rbsp, len);
  r.Ue();  // first_mb_in_slice
  r.Ue();  // slice_type
  ppsId = r.Ue();
  return !r.Error() && ppsId <= kMaxPpsId;
}

bool ParseSliceHeader(const std::uint8_t* rbsp, std::size_t len, const Sps& sps, const Pps& pps,
                      const SliceContext& c, SliceHeader& h) {
  h = SliceHeader{};
  BitReader r(rbsp, len);
  h.firstMb = r.Ue();
  h.sliceType = r.Ue();
  if (r.Error() || h.sliceType > 9) return false;
  h.kind = static_cast<SliceKind>(h.sliceType % 5);
  // A non-base view's IDR picture may still predict from other views.
  if (c.idr && !c.multiview && !h.IsIntra()) return false;
  h.ppsId = r.Ue();
  if (r.Error() || h.ppsId != pps.ppsId) return false;
  if (sps.separateColourPlane) h.colourPlaneId = r.U(2);
  h.frameNum = r.U(static_cast<int>(sps.log2MaxFrameNum));
  if (!sps.frameMbsOnly) {
    h.fieldPic = r.Flag();
    if (h.fieldPic) h.bottomField = r.Flag();
  }
  if (c.idr) {
    h.idrPicId = r.Ue();
    if (h.frameNum != 0) return false;
  }
  if (sps.pocType == 0) {
    h.pocLsb = r.U(static_cast<int>(sps.log2MaxPocLsb));
    if (pps.bottomFieldPicOrderInFramePresent && !h.fieldPic) h.deltaPocBottom = r.Se();
  } else if (sps.pocType == 1 && !sps.deltaPicOrderAlwaysZero) {
    h.deltaPoc[0] = r.Se();
    if (pps.bottomFieldPicOrderInFramePresent && !h.fieldPic) h.deltaPoc[1] = r.Se();
  }
  if (pps.redundantPicCntPresent) h.redundantPicCnt = r.Ue();
  if (h.IsB()) h.directSpatialMvPred = r.Flag();
  if (h.IsPOrB()) {
    h.numRefIdxActive[0] = pps.numRefIdxDefault[0];
    h.numRefIdxActive[1] = h.IsB() ? pps.numRefIdxDefault[1] : 0;
    h.numRefIdxOverride = r.Flag();
    if (h.numRefIdxOverride) {
      h.numRefIdxActive[0] = r.Ue() + 1;
      if (h.IsB()) h.numRefIdxActive[1] = r.Ue() + 1;
    }
    const std::uint32_t limit = h.fieldPic ? 32 : 16;
    if (h.numRefIdxActive[0] > limit || h.numRefIdxActive[1] > limit) return false;
  }
  if (r.Error()) return false;
  if (!h.IsIntra()) {
    if (!ParseModifications(r, c.multiview, h.numRefIdxActive[0], h.modificationFlag[0], h.modifications[0]))
      return false;
    if (h.IsB() &&
        !ParseModifications(r, c.multiview, h.numRefIdxActive[1], h.modificationFlag[1], h.modifications[1]))
      return false;
  }
  h.predWeightBegin = h.predWeightEnd = r.Position();
  if ((pps.weightedPred && h.IsPOrB() && !h.IsB()) || (pps.weightedBipredIdc == 1 && h.IsB())) {
    SkipPredWeightTable(r, sps, h);
    h.predWeightEnd = r.Position();
  }
  if (c.refIdc != 0 && !ParseMarking(r, c, h)) return false;
  h.tailBegin = r.Position();
  if (pps.entropyCodingMode && !h.IsIntra() && r.Ue() > 2) return false;  // cabac_init_idc
  r.Se();  // slice_qp_delta
  if (h.kind == kSliceSp || h.kind == kSliceSi) {
    if (h.kind == kSliceSp) r.U(1);  // sp_for_switch_flag
    r.Se();                          // slice_qs_delta
  }
  if (pps.deblockingFilterControlPresent) {
    std::uint32_t idc = r.Ue();
    if (idc > 2) return false;
    if (idc != 1) {
      r.Se();
      r.Se();
    }
  }
  if (pps.numSliceGroups > 1 && pps.sliceGroupMapType >= 3 && pps.sliceGroupMapType <= 5) {
    // Ceil(Log2(PicSizeInMapUnits / SliceGroupChangeRate + 1)), the division exact.
    const std::uint64_t mapUnits = std::uint64_t{sps.widthMbs} * sps.heightMapUnits;
    const std::uint64_t rate = pps.sliceGroupChangeRate;
    int bits = 0;
    while ((std::uint64_t{1} << bits) * rate < mapUnits + rate) ++bits;
    r.U(bits);
  }
  h.headerEnd = r.Position();
  return !r.Error();
}

void WriteSliceHeader(const SliceHeader& h, const Sps& sps, const Pps& pps, const SliceContext& c,
                      const std::uint8_t* source, BitWriter& w) {
  w.Ue(h.firstMb);
  w.Ue(h.sliceType);
  w.Ue(h.ppsId);
  if (sps.separateColourPlane) w.U(h.colourPlaneId, 2);
  w.U(h.frameNum, static_cast<int>(sps.log2MaxFrameNum));
  if (!sps.frameMbsOnly) {
    w.Flag(h.fieldPic);
    if (h.fieldPic) w.Flag(h.bottomField);
  }
  if (c.idr) w.Ue(h.idrPicId);
  if (sps.pocType == 0) {
    w.U(h.pocLsb, static_cast<int>(sps.log2MaxPocLsb));
    if (pps.bottomFieldPicOrderInFramePresent && !h.fieldPic) w.Se(h.deltaPocBottom);
  } else if (sps.pocType == 1 && !sps.deltaPicOrderAlwaysZero) {
    w.Se(h.deltaPoc[0]);
    if (pps.bottomFieldPicOrderInFramePresent && !h.fieldPic) w.Se(h.deltaPoc[1]);
  }
  if (pps.redundantPicCntPresent) w.Ue(h.redundantPicCnt);
  if (h.IsB()) w.Flag(h.directSpatialMvPred);
  if (h.IsPOrB()) {
    w.Flag(h.numRefIdxOverride);
    if (h.numRefIdxOverride) {
      w.Ue(h.numRefIdxActive[0] - 1);
      if (h.IsB()) w.Ue(h.numRefIdxActive[1] - 1);
    }
  }
  if (!h.IsIntra()) {
    for (int x = 0; x < (h.IsB() ? 2 : 1); ++x) {
      w.Flag(h.modificationFlag[x]);
      if (!h.modificationFlag[x]) continue;
      for (const ListModification& m : h.modifications[x]) {
        w.Ue(m.idc);
        w.Ue(m.value);
      }
      w.Ue(3);
    }
  }
  w.CopyBits(source, h.predWeightBegin, h.predWeightEnd);
  if (c.refIdc != 0) {
    if (c.idr) {
      w.Flag(h.noOutputOfPriorPics);
      w.Flag(h.longTermReference);
    } else {
      w.Flag(h.adaptiveMarking);
      if (h.adaptiveMarking) {
        for (const Mmco& m : h.mmcos) {
          w.Ue(m.op);
          if (m.op == 1 || m.op == 3) w.Ue(m.differenceOfPicNumsMinus1);
          if (m.op == 2) w.Ue(m.longTermPicNum);
          if (m.op == 3 || m.op == 6) w.Ue(m.longTermFrameIdx);
          if (m.op == 4) w.Ue(m.maxLongTermFrameIdxPlus1);
        }
        w.Ue(0);
      }
    }
  }
  w.CopyBits(source, h.tailBegin, h.headerEnd);
}

void WriteSliceData(const SliceHeader& h, bool cabac, const std::uint8_t* source, std::size_t len, BitWriter& w) {
  const std::size_t stop = StopBitPosition(source, len);
  if (cabac) {
    // CABAC slice data starts on a byte boundary, both here and in the source.
    w.AlignWithOnes();
    const std::size_t data = (h.headerEnd + 7) / 8 * 8;
    if (data < stop) w.CopyBits(source, data, stop);
  } else if (h.headerEnd < stop) {
    w.CopyBits(source, h.headerEnd, stop);
  }
  w.TrailingBits();
}

}  // namespace h264
