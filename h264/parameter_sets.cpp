#include "parameter_sets.h"

#include <algorithm>

#include "bits.h"

namespace h264 {

namespace {

constexpr std::uint32_t kMaxMvcViews = 1024;

bool KnownProfile(std::uint32_t p) {
  return ProfileHasChromaFormat(p) || p == 66 || p == 77 || p == 88;
}

void SkipScalingList(BitReader& r, int size) {
  int last = 8, next = 8;
  for (int j = 0; j < size && !r.Error(); ++j) {
    if (next != 0) {
      std::int32_t delta = r.Se();
      if (delta < -128 || delta > 127) {
        r.Fail();
        return;
      }
      next = (last + delta + 256) % 256;
    }
    last = next == 0 ? last : next;
  }
}

void SkipHrd(BitReader& r) {
  std::uint32_t cpbCount = r.Ue() + 1;
  if (cpbCount > 32) {
    r.Fail();
    return;
  }
  r.U(4);
  r.U(4);
  for (std::uint32_t i = 0; i < cpbCount && !r.Error(); ++i) {
    r.Ue();
    r.Ue();
    r.U(1);
  }
  r.U(20);
}

void ParseVui(BitReader& r, Sps& sps) {
  sps.vuiBegin = r.Position();
  if (r.Flag()) ReadAspectRatio(r, sps.sarWidth, sps.sarHeight);
  if (r.Flag()) r.U(1);  // overscan
  if (r.Flag()) {        // video signal type
    sps.videoFormat = r.U(3);
    sps.videoFullRange = r.Flag();
    if (r.Flag()) {
      sps.colourPrimaries = r.U(8);
      sps.transferCharacteristics = r.U(8);
      sps.matrixCoefficients = r.U(8);
    }
  }
  sps.chromaLocInfo = r.Flag();
  if (sps.chromaLocInfo) {
    sps.chromaLocTop = r.Ue();
    sps.chromaLocBottom = r.Ue();
    if (sps.chromaLocTop > 5 || sps.chromaLocBottom > 5) sps.chromaLocInfo = false;  // not a location
  }
  sps.timingInfo = r.Flag();
  if (sps.timingInfo) {
    sps.numUnitsInTick = r.U(32);
    sps.timeScale = r.U(32);
    sps.fixedFrameRate = r.Flag();
  }
  bool nalHrd = r.Flag();
  if (nalHrd) SkipHrd(r);
  bool vclHrd = r.Flag();
  if (vclHrd) SkipHrd(r);
  if (nalHrd || vclHrd) r.U(1);
  r.U(1);  // pic_struct_present_flag
  sps.vuiRestriction = r.Position();
  sps.bitstreamRestriction = r.Flag();
  if (sps.bitstreamRestriction) {
    r.U(1);
    for (int i = 0; i < 4; ++i) r.Ue();
    sps.maxNumReorderFrames = r.Ue();
    sps.maxDecFrameBuffering = r.Ue();
    if (sps.maxNumReorderFrames > 16 || sps.maxDecFrameBuffering > 16) r.Fail();
  }
}

bool ParseSpsData(BitReader& r, Sps& sps) {
  sps = Sps{};
  sps.profileIdc = r.U(8);
  sps.constraintFlags = r.U(8);
  sps.levelIdc = r.U(8);
  sps.spsId = r.Ue();
  if (r.Error() || !KnownProfile(sps.profileIdc) || sps.spsId > kMaxSpsId) return false;
  sps.formatBegin = r.Position();
  if (ProfileHasChromaFormat(sps.profileIdc)) {
    sps.chromaFormatIdc = r.Ue();
    if (sps.chromaFormatIdc > 3) return false;
    if (sps.chromaFormatIdc == 3) sps.separateColourPlane = r.Flag();
    sps.bitDepthLuma = r.Ue() + 8;
    sps.bitDepthChroma = r.Ue() + 8;
    if (sps.bitDepthLuma > 14 || sps.bitDepthChroma > 14) return false;
    r.U(1);  // qpprime_y_zero_transform_bypass_flag
    if (r.Flag()) {
      int lists = sps.chromaFormatIdc == 3 ? 12 : 8;
      for (int i = 0; i < lists && !r.Error(); ++i)
        if (r.Flag()) SkipScalingList(r, i < 6 ? 16 : 64);
    }
  }
  sps.formatEnd = r.Position();
  std::uint32_t log2FrameNum = r.Ue();
  if (log2FrameNum > 12) return false;
  sps.log2MaxFrameNum = log2FrameNum + 4;
  sps.pocType = r.Ue();
  if (sps.pocType == 0) {
    std::uint32_t log2Lsb = r.Ue();
    if (log2Lsb > 12) return false;
    sps.log2MaxPocLsb = log2Lsb + 4;
  } else if (sps.pocType == 1) {
    sps.deltaPicOrderAlwaysZero = r.Flag();
    sps.offsetForNonRefPic = r.Se();
    sps.offsetForTopToBottomField = r.Se();
    std::uint32_t cycle = r.Ue();
    if (cycle > 255) return false;
    for (std::uint32_t i = 0; i < cycle && !r.Error(); ++i) sps.offsetForRefFrame.push_back(r.Se());
  } else if (sps.pocType != 2) {
    return false;
  }
  sps.maxNumRefFrames = r.Ue();
  if (sps.maxNumRefFrames > 16) return false;
  sps.gapsAllowed = r.Flag();
  sps.sizeBegin = r.Position();
  sps.widthMbs = r.Ue() + 1;
  sps.heightMapUnits = r.Ue() + 1;
  sps.frameMbsOnly = r.Flag();
  if (!sps.frameMbsOnly) sps.mbAdaptiveFrameField = r.Flag();
  sps.direct8x8Inference = r.Flag();
  if (r.Error() || sps.widthMbs > 1024 || sps.heightMapUnits > 1024) return false;
  sps.cropBegin = r.Position();
  if (r.Flag()) {
    std::uint32_t left = r.Ue(), right = r.Ue(), top = r.Ue(), bottom = r.Ue();
    const bool subsampledX = (sps.chromaFormatIdc == 1 || sps.chromaFormatIdc == 2) && !sps.separateColourPlane;
    const bool subsampledY = sps.chromaFormatIdc == 1 && !sps.separateColourPlane;
    std::uint32_t cropX = subsampledX ? 2 : 1;
    std::uint32_t cropY = (subsampledY ? 2 : 1) * (sps.frameMbsOnly ? 1 : 2);
    if (r.Error()) return false;
    std::uint64_t horizontal = (static_cast<std::uint64_t>(left) + right) * cropX;
    std::uint64_t vertical = (static_cast<std::uint64_t>(top) + bottom) * cropY;
    if (horizontal >= sps.CodedWidth() || vertical >= sps.CodedHeight()) return false;
    sps.cropLeft = left * cropX;
    sps.cropRight = right * cropX;
    sps.cropTop = top * cropY;
    sps.cropBottom = bottom * cropY;
  }
  sps.vuiPresent = r.Flag();
  if (sps.vuiPresent) ParseVui(r, sps);
  sps.dataEndBit = r.Position();
  return !r.Error();
}

std::vector<std::uint32_t> ReadIdList(BitReader& r) {
  std::vector<std::uint32_t> ids;
  std::uint32_t n = r.Ue();
  if (n > 15) {
    r.Fail();
    return ids;
  }
  for (std::uint32_t i = 0; i < n && !r.Error(); ++i) ids.push_back(r.Ue());
  return ids;
}

bool ParseMvcExtension(BitReader& r, SubsetSps& s) {
  std::uint32_t numViews = r.Ue() + 1;
  if (r.Error() || numViews > kMaxMvcViews) return false;
  s.views.resize(numViews);
  for (auto& v : s.views) v.viewId = r.Ue();
  for (std::uint32_t i = 1; i < numViews && !r.Error(); ++i) {
    s.views[i].anchorL0 = ReadIdList(r);
    s.views[i].anchorL1 = ReadIdList(r);
  }
  for (std::uint32_t i = 1; i < numViews && !r.Error(); ++i) {
    s.views[i].nonAnchorL0 = ReadIdList(r);
    s.views[i].nonAnchorL1 = ReadIdList(r);
  }
  std::uint32_t levels = r.Ue() + 1;
  if (r.Error() || levels > 64) return false;
  for (std::uint32_t i = 0; i < levels && !r.Error(); ++i) {
    std::uint32_t level = r.U(8);
    std::uint32_t ops = r.Ue() + 1;
    if (r.Error() || ops > 1024) return false;
    for (std::uint32_t j = 0; j < ops && !r.Error(); ++j) {
      MvcOperationPoint op;
      op.levelIdc = level;
      op.temporalId = r.U(3);
      std::uint32_t targets = r.Ue() + 1;
      if (r.Error() || targets > numViews) return false;
      for (std::uint32_t k = 0; k < targets && !r.Error(); ++k) op.targetViews.push_back(r.Ue());
      op.numViews = r.Ue() + 1;
      s.ops.push_back(std::move(op));
      if (s.ops.size() > 4096) return false;
    }
  }
  return !r.Error();
}

}  // namespace

bool ProfileHasChromaFormat(std::uint32_t p) {
  switch (p) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86:
    case 118: case 128: case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

void WriteFormatFields(const Sps& sps, const std::uint8_t* rbsp, BitWriter& w) {
  if (sps.formatEnd > sps.formatBegin) {
    w.CopyBits(rbsp, sps.formatBegin, sps.formatEnd);
    return;
  }
  w.Ue(1);        // chroma_format_idc 4:2:0
  w.Ue(0);        // bit_depth_luma_minus8
  w.Ue(0);        // bit_depth_chroma_minus8
  w.Flag(false);  // qpprime_y_zero_transform_bypass_flag
  w.Flag(false);  // seq_scaling_matrix_present_flag
}

bool SubsetSps::InterViewPrediction() const {
  for (const auto& v : views)
    if (!v.anchorL0.empty() || !v.anchorL1.empty() || !v.nonAnchorL0.empty() || !v.nonAnchorL1.empty())
      return true;
  return false;
}

std::size_t SubsetSps::TotalTargetViews() const {
  std::size_t n = 0;
  for (const auto& op : ops) n += op.targetViews.size();
  return n;
}

std::uint32_t ReorderDepth(const Sps& sps) {
  if (sps.bitstreamRestriction) return std::min<std::uint32_t>(sps.maxNumReorderFrames, 16);
  std::uint32_t maxDpbMbs;
  switch (sps.levelIdc) {
    case 9: case 10: maxDpbMbs = 396; break;
    case 11: maxDpbMbs = (sps.constraintFlags & 0x10) && sps.profileIdc < 100 ? 396 : 900; break;
    case 12: case 13: case 20: maxDpbMbs = 2376; break;
    case 21: maxDpbMbs = 4752; break;
    case 22: case 30: maxDpbMbs = 8100; break;
    case 31: maxDpbMbs = 18000; break;
    case 32: maxDpbMbs = 20480; break;
    case 40: case 41: maxDpbMbs = 32768; break;
    case 42: maxDpbMbs = 34816; break;
    case 50: maxDpbMbs = 110400; break;
    case 51: case 52: maxDpbMbs = 184320; break;
    default: maxDpbMbs = 696320; break;
  }
  const std::uint64_t frameMbs = std::uint64_t{sps.widthMbs} * sps.heightMapUnits * (sps.frameMbsOnly ? 1 : 2);
  if (frameMbs == 0) return 16;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(maxDpbMbs / frameMbs, 16));
}

bool TableAspectRatio(std::uint32_t idc, std::uint32_t& w, std::uint32_t& h) {
  static const std::uint16_t kTable[17][2] = {{0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11}, {40, 33},
                                              {24, 11}, {20, 11}, {32, 11}, {80, 33}, {18, 11}, {15, 11},
                                              {64, 33}, {160, 99}, {4, 3},  {3, 2},   {2, 1}};
  if (idc < 1 || idc > 16) return false;
  w = kTable[idc][0];
  h = kTable[idc][1];
  return true;
}

void ReadAspectRatio(BitReader& r, std::uint32_t& w, std::uint32_t& h) {
  const std::uint32_t idc = r.U(8);
  if (idc == 255) {
    w = r.U(16);
    h = r.U(16);
  } else {
    TableAspectRatio(idc, w, h);
  }
}

bool ParseSps(const std::uint8_t* rbsp, std::size_t len, Sps& sps) {
  BitReader r(rbsp, len);
  return ParseSpsData(r, sps);
}

bool ParseSubsetSps(const std::uint8_t* rbsp, std::size_t len, SubsetSps& subset) {
  subset = SubsetSps{};
  BitReader r(rbsp, len);
  if (!ParseSpsData(r, subset.sps)) return false;
  const std::uint32_t p = subset.sps.profileIdc;
  if (p == 118 || p == 128 || p == 134) {
    if (r.U(1) != 1) return false;  // bit_equal_to_one
    subset.hasMvc = ParseMvcExtension(r, subset);
    return subset.hasMvc;
  }
  // Scalable and other extensions are not decoded here; the SPS part is still valid.
  return true;
}

bool ParsePps(const std::uint8_t* rbsp, std::size_t len, Pps& pps) {
  pps = Pps{};
  BitReader r(rbsp, len);
  pps.ppsId = r.Ue();
  pps.spsId = r.Ue();
  if (r.Error() || pps.ppsId > kMaxPpsId || pps.spsId > kMaxSpsId) return false;
  pps.idsEnd = r.Position();
  pps.entropyCodingMode = r.Flag();
  pps.bottomFlag = r.Position();
  pps.bottomFieldPicOrderInFramePresent = r.Flag();
  pps.numSliceGroups = r.Ue() + 1;
  if (pps.numSliceGroups > 8) return false;
  if (pps.numSliceGroups > 1) {
    pps.sliceGroupMapType = r.Ue();
    switch (pps.sliceGroupMapType) {
      case 0:
        for (std::uint32_t i = 0; i < pps.numSliceGroups && !r.Error(); ++i) r.Ue();
        break;
      case 2:
        for (std::uint32_t i = 0; i + 1 < pps.numSliceGroups && !r.Error(); ++i) {
          r.Ue();
          r.Ue();
        }
        break;
      case 3: case 4: case 5:
        r.U(1);
        pps.sliceGroupChangeRate = r.Ue() + 1;
        break;
      case 6: {
        std::uint32_t units = r.Ue() + 1;
        if (units > (1u << 20)) return false;
        int bits = 0;
        while ((1u << bits) < pps.numSliceGroups) ++bits;
        r.Skip(static_cast<std::size_t>(units) * static_cast<std::size_t>(bits));
        break;
      }
      case 1:
        break;
      default:
        return false;
    }
  }
  pps.numRefIdxDefault[0] = r.Ue() + 1;
  pps.numRefIdxDefault[1] = r.Ue() + 1;
  if (pps.numRefIdxDefault[0] > 32 || pps.numRefIdxDefault[1] > 32) return false;
  pps.weightedPred = r.Flag();
  pps.weightedBipredIdc = r.U(2);
  if (pps.weightedBipredIdc > 2) return false;
  r.Se();  // pic_init_qp_minus26
  r.Se();  // pic_init_qs_minus26
  r.Se();  // chroma_qp_index_offset
  pps.deblockingFilterControlPresent = r.Flag();
  r.U(1);  // constrained_intra_pred_flag
  pps.redundantPicCntPresent = r.Flag();
  pps.dataEndBit = StopBitPosition(rbsp, len);
  return !r.Error() && r.Position() <= pps.dataEndBit;
}

bool ParseFirstMb(const std::uint8_t* rbsp, std::size_t len, std::uint32_t& firstMb) {
  BitReader r(rbsp, len);
  firstMb = r.Ue();
  return !r.Error();
}

namespace {
template <class T, class F>
bool OverNal(const std::uint8_t* nal, std::size_t len, std::size_t headerBytes, F parse) {
  if (len <= headerBytes) return false;
  std::vector<std::uint8_t> rbsp;
  Unescape(nal + headerBytes, len - headerBytes, rbsp);
  return parse(rbsp.data(), rbsp.size());
}
}  // namespace

bool ParseSpsNal(const std::uint8_t* nal, std::size_t len, Sps& sps) {
  return OverNal<Sps>(nal, len, 1, [&](const std::uint8_t* d, std::size_t n) { return ParseSps(d, n, sps); });
}

bool ParseSubsetSpsNal(const std::uint8_t* nal, std::size_t len, SubsetSps& subset) {
  return OverNal<SubsetSps>(nal, len, 1,
                                [&](const std::uint8_t* d, std::size_t n) { return ParseSubsetSps(d, n, subset); });
}

bool ParsePpsNal(const std::uint8_t* nal, std::size_t len, Pps& pps) {
  return OverNal<Pps>(nal, len, 1, [&](const std::uint8_t* d, std::size_t n) { return ParsePps(d, n, pps); });
}

bool FindSps(const std::uint8_t* data, std::size_t len, Sps& sps) {
  for (size_t at = FindStartCode(data, len, 0); at + 3 < len; at = FindStartCode(data, len, at + 3)) {
    const size_t header = at + 3;
    if ((data[header] & 0x1F) != kNalSps) continue;
    const size_t end = FindStartCode(data, len, header);
    if (ParseSpsNal(data + header, end - header, sps)) return true;
  }
  return false;
}


}  // namespace h264
