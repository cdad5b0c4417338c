#include "stream_info.h"

#include <algorithm>
#include <numeric>

#include "bits.h"
#include "hevc_sps.h"

namespace swrt {

// The H.264 syntax library also serves the bit-level parsing of the other codecs.
using namespace h264;

namespace {

std::uint32_t Align(std::uint32_t v, std::uint32_t a) { return (v + a - 1) / a * a; }

// N/D as close to the given 64-bit terms as 32 bits allow.
void SetRate(std::uint64_t n, std::uint64_t d, StreamInfo& info) {
  if (n == 0 || d == 0) return;
  while (n > 0xFFFFFFFFu || d > 0xFFFFFFFFu) {
    std::uint64_t g = std::gcd(n, d);
    if (g > 1) {
      n /= g;
      d /= g;
    } else {
      n >>= 1;
      d >>= 1;
    }
  }
  if (n == 0 || d == 0) return;
  info.frameRateN = static_cast<std::uint32_t>(n);
  info.frameRateD = static_cast<std::uint32_t>(d);
}

void SkipHevcScalingListData(BitReader& r) {
  for (int sizeId = 0; sizeId < 4; ++sizeId)
    for (int matrixId = 0; matrixId < 6; matrixId += sizeId == 3 ? 3 : 1) {
      if (!r.Flag()) {
        r.Ue();  // scaling_list_pred_matrix_id_delta
      } else {
        int coefs = std::min(64, 1 << (4 + (sizeId << 1)));
        if (sizeId > 1) r.Se();
        for (int i = 0; i < coefs && !r.Error(); ++i) r.Se();
      }
      if (r.Error()) return;
    }
}

// st_ref_pic_set(); numDeltaPocs holds the counts of the sets parsed so far.
bool SkipHevcShortTermRps(BitReader& r, std::uint32_t idx, std::uint32_t count, std::vector<std::uint32_t>& numDeltaPocs) {
  bool predicted = idx != 0 && r.Flag();
  if (predicted) {
    std::uint32_t deltaIdx = idx == count ? r.Ue() + 1 : 1;
    if (deltaIdx > idx) return false;
    r.U(1);   // delta_rps_sign
    r.Ue();   // abs_delta_rps_minus1
    std::uint32_t ref = numDeltaPocs[idx - deltaIdx];
    std::uint32_t n = 0;
    for (std::uint32_t j = 0; j <= ref && !r.Error(); ++j) {
      bool used = r.Flag();
      bool useDelta = used || r.Flag();
      if (useDelta) ++n;
    }
    if (n > 32) return false;
    numDeltaPocs[idx] = n;
  } else {
    std::uint32_t negative = r.Ue(), positive = r.Ue();
    if (negative > 16 || positive > 16) return false;
    for (std::uint32_t i = 0; i < negative + positive && !r.Error(); ++i) {
      r.Ue();
      r.U(1);
    }
    numDeltaPocs[idx] = negative + positive;
  }
  return !r.Error();
}

// Unit ends are found before trailing zero bytes, which in MPEG-2 and VC-1 headers can still be
// fixed-length fields: read them back as zeros.
std::vector<std::uint8_t> ZeroPadded(const std::uint8_t* data, std::size_t len, std::size_t atLeast) {
  std::vector<std::uint8_t> v(data, data + len);
  if (v.size() < atLeast) v.resize(atLeast, 0);
  return v;
}

}  // namespace

bool ParseHevcSps(const std::uint8_t* nal, std::size_t len, StreamInfo& info) {
  if (len < 3 || ((nal[0] >> 1) & 0x3F) != 33) return false;
  std::vector<std::uint8_t> rbsp;
  Unescape(nal + 2, len - 2, rbsp);
  BitReader r(rbsp.data(), rbsp.size());
  info = StreamInfo{};
  HevcSpsHead head;
  if (!ReadHevcSpsHead(r, head)) return false;
  const std::uint32_t maxSubLayersMinus1 = head.maxSubLayersMinus1;
  info.profile = static_cast<std::uint16_t>(head.profile);
  info.level = static_cast<std::uint16_t>(head.level / 3);
  info.chromaFormat = head.chromaFormat;
  info.width = head.width;
  info.height = head.height;
  info.cropW = info.width;
  info.cropH = info.height;
  if (head.conformanceWindow) {
    const std::uint32_t subW = info.chromaFormat == 1 || info.chromaFormat == 2 ? 2 : 1;
    const std::uint32_t subH = info.chromaFormat == 1 ? 2 : 1;
    std::uint64_t left = head.cropLeft * std::uint64_t{subW}, right = head.cropRight * std::uint64_t{subW};
    std::uint64_t top = head.cropTop * std::uint64_t{subH}, bottom = head.cropBottom * std::uint64_t{subH};
    if (left + right >= info.width || top + bottom >= info.height) return false;
    info.cropX = static_cast<std::uint32_t>(left);
    info.cropY = static_cast<std::uint32_t>(top);
    info.cropW = static_cast<std::uint32_t>(info.width - left - right);
    info.cropH = static_cast<std::uint32_t>(info.height - top - bottom);
  }
  info.bitDepthLuma = head.bitDepthLuma;
  info.bitDepthChroma = head.bitDepthChroma;
  const std::uint32_t log2MaxPocLsb = head.log2MaxPocLsb;
  bool orderingInfo = r.Flag();
  for (std::uint32_t i = orderingInfo ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i) {
    r.Ue();
    r.Ue();
    r.Ue();
  }
  for (int i = 0; i < 6; ++i) r.Ue();  // coding and transform block sizes, hierarchy depths
  if (r.Flag() && r.Flag()) SkipHevcScalingListData(r);
  r.U(1);  // amp_enabled_flag
  r.U(1);  // sample_adaptive_offset_enabled_flag
  if (r.Flag()) {  // pcm
    r.U(8);
    r.Ue();
    r.Ue();
    r.U(1);
  }
  std::uint32_t sets = r.Ue();
  if (r.Error() || sets > 64) return false;
  std::vector<std::uint32_t> numDeltaPocs(sets + 1, 0);
  for (std::uint32_t i = 0; i < sets; ++i)
    if (!SkipHevcShortTermRps(r, i, sets, numDeltaPocs)) return false;
  if (r.Flag()) {  // long-term reference pictures
    std::uint32_t n = r.Ue();
    if (n > 32) return false;
    for (std::uint32_t i = 0; i < n; ++i) {
      r.Skip(log2MaxPocLsb);
      r.U(1);
    }
  }
  r.U(1);  // sps_temporal_mvp_enabled_flag
  r.U(1);  // strong_intra_smoothing_enabled_flag
  const StreamInfo withoutVui = info;
  if (r.Flag()) {  // VUI
    if (r.Flag()) ReadAspectRatio(r, info.sarW, info.sarH);
    if (r.Flag()) r.U(1);
    if (r.Flag()) {
      info.videoFormat = static_cast<std::uint16_t>(r.U(3));
      info.fullRange = r.Flag();
      info.colourDescription = r.Flag();
      if (info.colourDescription) {
        info.colourPrimaries = static_cast<std::uint16_t>(r.U(8));
        info.transferCharacteristics = static_cast<std::uint16_t>(r.U(8));
        info.matrixCoefficients = static_cast<std::uint16_t>(r.U(8));
      }
    }
    if (r.Flag()) {
      const std::uint32_t top = r.Ue(), bottom = r.Ue();
      info.chromaLocation = top <= 5 && bottom <= 5;  // else no location at all
      if (info.chromaLocation) {
        info.chromaLocTop = static_cast<std::uint16_t>(top);
        info.chromaLocBottom = static_cast<std::uint16_t>(bottom);
      }
    }
    r.U(1);  // neutral_chroma_indication_flag
    bool fieldSeq = r.Flag();
    r.U(1);  // frame_field_info_present_flag
    if (r.Flag()) {
      r.Ue();
      r.Ue();
      r.Ue();
      r.Ue();
    }
    if (fieldSeq) info.progressive = false;
    if (r.Flag()) {
      std::uint32_t units = r.U(32), scale = r.U(32);
      if (!r.Error()) SetRate(scale, units, info);
    }
  }
  // The picture format is known; what follows it is only trusted when it read cleanly.
  if (r.Error()) info = withoutVui;
  return true;
}

bool ParseMpeg2Sequence(const std::uint8_t* unit, std::size_t len, StreamInfo& info) {
  if (len < 1 || unit[0] != 0xB3) return false;
  const std::vector<std::uint8_t> body = ZeroPadded(unit + 1, len - 1, 7);
  BitReader r(body.data(), body.size());
  info = StreamInfo{};
  info.width = r.U(12);
  info.height = r.U(12);
  std::uint32_t aspect = r.U(4);
  std::uint32_t rateCode = r.U(4);
  if (info.width == 0 || info.height == 0 || rateCode == 0 || rateCode > 8 || aspect == 0 || aspect > 4) return false;
  static const std::uint32_t kRates[9][2] = {{0, 0},      {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001},
                                             {30, 1},     {50, 1},       {60000, 1001}, {60, 1}};
  info.frameRateN = kRates[rateCode][0];
  info.frameRateD = kRates[rateCode][1];
  info.cropW = info.width;
  info.cropH = info.height;
  // Display aspect ratio to sample aspect ratio.
  static const std::uint32_t kDar[5][2] = {{0, 0}, {0, 0}, {4, 3}, {16, 9}, {221, 100}};
  if (aspect == 1) {
    info.sarW = info.sarH = 1;
  } else {
    std::uint64_t w = std::uint64_t{kDar[aspect][0]} * info.height, h = std::uint64_t{kDar[aspect][1]} * info.width;
    std::uint64_t g = std::gcd(w, h);
    info.sarW = static_cast<std::uint32_t>(w / g);
    info.sarH = static_cast<std::uint32_t>(h / g);
  }
  info.profile = MFX_PROFILE_MPEG2_MAIN;
  info.level = MFX_LEVEL_MPEG2_MAIN;
  return true;
}

bool ParseMpeg2SequenceExtension(const std::uint8_t* unit, std::size_t len, StreamInfo& info) {
  if (len < 2 || unit[0] != 0xB5 || (unit[1] >> 4) != 1) return false;
  const std::vector<std::uint8_t> body = ZeroPadded(unit + 1, len - 1, 6);
  BitReader r(body.data(), body.size());
  r.U(4);
  std::uint32_t profileLevel = r.U(8);
  info.progressive = r.Flag();
  info.chromaFormat = r.U(2);
  std::uint32_t widthExt = r.U(2), heightExt = r.U(2);
  r.U(12);
  r.U(1);
  r.U(8);
  r.U(1);
  std::uint32_t rateN = r.U(2), rateD = r.U(5);
  info.width |= widthExt << 12;
  info.height |= heightExt << 12;
  info.cropW = info.width;
  info.cropH = info.height;
  if (info.frameRateD) SetRate(std::uint64_t{info.frameRateN} * (rateN + 1), std::uint64_t{info.frameRateD} * (rateD + 1), info);
  info.profile = static_cast<std::uint16_t>(profileLevel & 0x70);
  info.level = static_cast<std::uint16_t>(profileLevel & 0x0F);
  return info.chromaFormat != 0;
}

bool ParseVc1Sequence(const std::uint8_t* unit, std::size_t len, StreamInfo& info) {
  if (len < 2 || unit[0] != 0x0F) return false;
  std::vector<std::uint8_t> rbsp;
  Unescape(unit + 1, len - 1, rbsp);
  rbsp.resize(std::max<std::size_t>(rbsp.size(), 16), 0);
  BitReader r(rbsp.data(), rbsp.size());
  info = StreamInfo{};
  if (r.U(2) != 3) return false;  // only the advanced profile has an elementary stream form
  std::uint32_t level = r.U(3);
  if (level > 4) return false;
  info.chromaFormat = r.U(2);
  if (info.chromaFormat != 1) return false;
  r.U(3 + 5 + 1);
  info.width = (r.U(12) + 1) * 2;
  info.height = (r.U(12) + 1) * 2;
  r.U(1);  // PULLDOWN
  info.progressive = !r.Flag();
  r.U(1 + 1 + 1 + 1);  // TFCNTRFLAG, FINTERPFLAG, reserved, PSF
  info.cropW = info.width;
  info.cropH = info.height;
  if (r.Flag()) {  // DISPLAY_EXT
    r.U(14);
    r.U(14);
    if (r.Flag()) {
      std::uint32_t ar = r.U(4);
      if (ar == 15) {
        info.sarW = r.U(8);
        info.sarH = r.U(8);
      } else {
        TableAspectRatio(ar, info.sarW, info.sarH);
      }
    }
    if (r.Flag()) {
      if (!r.Flag()) {
        static const std::uint32_t kNr[8] = {0, 24000, 25000, 30000, 50000, 60000, 48000, 72000};
        std::uint32_t nr = r.U(8), dr = r.U(4);
        if (nr >= 1 && nr <= 7 && (dr == 1 || dr == 2)) SetRate(kNr[nr], dr == 1 ? 1000 : 1001, info);
      } else {
        SetRate(r.U(16) + 1, 32, info);
      }
    }
  }
  info.profile = MFX_PROFILE_VC1_ADVANCED;
  info.level = static_cast<std::uint16_t>(level);
  return !r.Error();
}

StreamInfo InfoFromSps(const h264::Sps& sps) {
  StreamInfo info;
  info.width = sps.CodedWidth();
  info.height = sps.CodedHeight();
  info.cropX = sps.cropLeft;
  info.cropY = sps.cropTop;
  info.cropW = info.width - sps.cropLeft - sps.cropRight;
  info.cropH = info.height - sps.cropTop - sps.cropBottom;
  if (sps.timingInfo) SetRate(sps.timeScale, 2ull * sps.numUnitsInTick, info);
  info.sarW = sps.sarWidth;
  info.sarH = sps.sarHeight;
  info.bitDepthLuma = sps.bitDepthLuma;
  info.bitDepthChroma = sps.bitDepthChroma;
  info.chromaFormat = sps.chromaFormatIdc;
  info.progressive = sps.frameMbsOnly;
  info.profile = static_cast<std::uint16_t>(sps.profileIdc);
  info.level = static_cast<std::uint16_t>(sps.levelIdc);
  info.videoFormat = static_cast<std::uint16_t>(sps.videoFormat);
  info.fullRange = sps.videoFullRange;
  info.colourPrimaries = static_cast<std::uint16_t>(sps.colourPrimaries);
  info.transferCharacteristics = static_cast<std::uint16_t>(sps.transferCharacteristics);
  info.matrixCoefficients = static_cast<std::uint16_t>(sps.matrixCoefficients);
  info.colourDescription = info.colourPrimaries != 2 || info.transferCharacteristics != 2 || info.matrixCoefficients != 2;
  info.chromaLocation = sps.chromaLocInfo;
  info.chromaLocTop = static_cast<std::uint16_t>(sps.chromaLocTop);
  info.chromaLocBottom = static_cast<std::uint16_t>(sps.chromaLocBottom);
  return info;
}

void FillFrameInfo(const StreamInfo& info, mfxVideoParam& par) {
  mfxFrameInfo& fi = par.mfx.FrameInfo;
  fi = mfxFrameInfo{};
  const bool deep = info.bitDepthLuma > 8 || info.bitDepthChroma > 8;
  fi.FourCC = deep ? MFX_FOURCC_P010 : MFX_FOURCC_NV12;
  fi.Shift = deep ? 1 : 0;
  fi.BitDepthLuma = static_cast<mfxU16>(info.bitDepthLuma);
  fi.BitDepthChroma = static_cast<mfxU16>(info.bitDepthChroma);
  fi.Width = static_cast<mfxU16>(Align(info.width, 16));
  fi.Height = static_cast<mfxU16>(Align(info.height, info.progressive ? 16 : 32));
  fi.CropX = static_cast<mfxU16>(info.cropX);
  fi.CropY = static_cast<mfxU16>(info.cropY);
  fi.CropW = static_cast<mfxU16>(info.cropW);
  fi.CropH = static_cast<mfxU16>(info.cropH);
  // The Media SDK's stand-in rate for streams that carry none.
  fi.FrameRateExtN = info.frameRateN ? info.frameRateN : 30;
  fi.FrameRateExtD = info.frameRateN ? info.frameRateD : 1;
  // 0:0 is an aspect the stream leaves unspecified.
  const bool sar = info.sarW && info.sarH && info.sarW <= 0xFFFF && info.sarH <= 0xFFFF;
  fi.AspectRatioW = static_cast<mfxU16>(sar ? info.sarW : 0);
  fi.AspectRatioH = static_cast<mfxU16>(sar ? info.sarH : 0);
  fi.PicStruct = info.progressive ? MFX_PICSTRUCT_PROGRESSIVE : MFX_PICSTRUCT_UNKNOWN;
  fi.ChromaFormat = static_cast<mfxU16>(info.chromaFormat);
  par.mfx.CodecProfile = info.profile;
  par.mfx.CodecLevel = info.level;
}

void FillSignalInfo(const StreamInfo& info, mfxVideoParam& par) {
  if (!par.ExtParam) return;
  for (mfxU16 i = 0; i < par.NumExtParam; ++i) {
    mfxExtBuffer* b = par.ExtParam[i];
    if (!b) continue;
    if (b->BufferId == MFX_EXTBUFF_VIDEO_SIGNAL_INFO && b->BufferSz >= sizeof(mfxExtVideoSignalInfo)) {
      auto& signal = *reinterpret_cast<mfxExtVideoSignalInfo*>(b);
      signal.VideoFormat = info.videoFormat;
      signal.VideoFullRange = info.fullRange ? 1 : 0;
      signal.ColourDescriptionPresent = info.colourDescription ? 1 : 0;
      signal.ColourPrimaries = info.colourPrimaries;
      signal.TransferCharacteristics = info.transferCharacteristics;
      signal.MatrixCoefficients = info.matrixCoefficients;
    } else if (b->BufferId == MFX_EXTBUFF_CHROMA_LOC_INFO && b->BufferSz >= sizeof(mfxExtChromaLocInfo)) {
      auto& location = *reinterpret_cast<mfxExtChromaLocInfo*>(b);
      location.ChromaLocInfoPresentFlag = info.chromaLocation ? 1 : 0;
      location.ChromaSampleLocTypeTopField = info.chromaLocation ? info.chromaLocTop : 0;
      location.ChromaSampleLocTypeBottomField = info.chromaLocation ? info.chromaLocBottom : 0;
    }
  }
}

namespace {

// Where to leave the caller's data when no header was found yet: at the last unit, which may
// still be incomplete, or before the last bytes, which may begin a start code.
std::size_t KeepFrom(const std::vector<NalUnit>& units, std::size_t len) {
  if (!units.empty() && !units.back().complete) return units.back().start;
  return len > 3 ? len - 3 : 0;
}

HeaderScan ScanAvc(const std::uint8_t* data, std::size_t len, bool wantMvc) {
  HeaderScan scan;
  std::vector<NalUnit> units = SplitUnits(data, len);
  bool haveSps = false, havePps = false;
  std::size_t spsStart = 0;
  h264::Sps sps;
  for (const NalUnit& u : units) {
    if (!u.complete || u.end <= u.header) continue;
    const std::uint8_t* nal = data + u.header;
    const std::size_t n = u.end - u.header;
    const std::uint8_t type = nal[0] & 0x1F;
    const bool reference = (nal[0] & 0x60) != 0;
    if ((nal[0] & 0x80) != 0) continue;
    if (type == kNalSps && reference && !haveSps) {
      if (ParseSpsNal(nal, n, sps)) {
        haveSps = true;
        spsStart = u.start;
      }
    } else if (type == kNalPps && reference && haveSps && !havePps) {
      h264::Pps pps;
      if (ParsePpsNal(nal, n, pps) && pps.spsId == sps.spsId) havePps = true;
    } else if (type == kNalSubsetSps && reference && haveSps && !scan.hasSubset) {
      if (ParseSubsetSpsNal(nal, n, scan.subset) && scan.subset.hasMvc) scan.hasSubset = true;
    }
    const bool slice = type == kNalSlice || type == kNalIdrSlice || type == kNalSliceExtension;
    if (haveSps && havePps && (!wantMvc || scan.hasSubset || slice)) {
      scan.status = MFX_ERR_NONE;
      scan.consumed = spsStart;
      scan.info = InfoFromSps(sps);
      scan.sps = sps;
      return scan;
    }
  }
  scan.consumed = haveSps ? spsStart : KeepFrom(units, len);
  return scan;
}

HeaderScan ScanHevc(const std::uint8_t* data, std::size_t len) {
  HeaderScan scan;
  std::vector<NalUnit> units = SplitUnits(data, len);
  bool haveSps = false;
  std::size_t first = 0;
  bool haveFirst = false;
  for (const NalUnit& u : units) {
    if (!u.complete || u.end < u.header + 2) continue;
    const std::uint8_t* nal = data + u.header;
    const std::uint8_t type = (nal[0] >> 1) & 0x3F;
    if ((nal[0] & 0x80) != 0 || (nal[1] & 0x07) == 0) continue;  // forbidden bit, temporal id + 1
    if (type == 32 && !haveFirst) {
      first = u.start;
      haveFirst = true;
    } else if (type == 33 && !haveSps) {
      if (ParseHevcSps(nal, u.end - u.header, scan.info)) {
        haveSps = true;
        if (!haveFirst) {
          first = u.start;
          haveFirst = true;
        }
      }
    } else if (type == 34 && haveSps) {
      scan.status = MFX_ERR_NONE;
      scan.consumed = first;
      return scan;
    }
  }
  scan.consumed = haveFirst ? first : KeepFrom(units, len);
  return scan;
}

HeaderScan ScanMpeg2(const std::uint8_t* data, std::size_t len) {
  HeaderScan scan;
  std::vector<NalUnit> units = SplitUnits(data, len);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const NalUnit& u = units[i];
    if (!u.complete || u.end <= u.header || data[u.header] != 0xB3) continue;
    StreamInfo info;
    if (!ParseMpeg2Sequence(data + u.header, u.end - u.header, info)) continue;
    if (i + 1 >= units.size()) break;
    const NalUnit& next = units[i + 1];
    if (next.end <= next.header) {
      if (!next.complete) break;  // a start code at the very end: its unit is still to come
    } else if (data[next.header] == 0xB5 && next.end > next.header + 1 && (data[next.header + 1] >> 4) == 1) {
      if (!next.complete) break;
      if (!ParseMpeg2SequenceExtension(data + next.header, next.end - next.header, info)) continue;
    }
    scan.status = MFX_ERR_NONE;
    scan.consumed = u.start;
    scan.info = info;
    return scan;
  }
  for (const NalUnit& u : units)
    if (u.end > u.header && data[u.header] == 0xB3) {
      scan.consumed = u.start;
      return scan;
    }
  scan.consumed = KeepFrom(units, len);
  return scan;
}

HeaderScan ScanVc1(const std::uint8_t* data, std::size_t len) {
  HeaderScan scan;
  std::vector<NalUnit> units = SplitUnits(data, len);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const NalUnit& u = units[i];
    if (!u.complete || u.end <= u.header || data[u.header] != 0x0F) continue;
    StreamInfo info;
    if (!ParseVc1Sequence(data + u.header, u.end - u.header, info)) continue;
    // The entry point that follows completes what a decoder needs to start.
    std::size_t j = i + 1;
    while (j < units.size() && units[j].end > units[j].header && data[units[j].header] != 0x0E &&
           data[units[j].header] != 0x0D)
      ++j;
    if (j >= units.size() || !units[j].complete || units[j].end <= units[j].header) {
      scan.consumed = u.start;
      return scan;
    }
    scan.status = MFX_ERR_NONE;
    scan.consumed = u.start;
    scan.info = info;
    std::size_t end = data[units[j].header] == 0x0E ? units[j].end : units[j].start;
    scan.sequenceBytes.assign(data + u.start, data + end);
    return scan;
  }
  scan.consumed = KeepFrom(units, len);
  return scan;
}

}  // namespace

HeaderScan ScanHeader(mfxU32 codecId, const std::uint8_t* data, std::size_t len, bool wantMvc) {
  switch (codecId) {
    case MFX_CODEC_AVC:
      return ScanAvc(data, len, wantMvc);
    case MFX_CODEC_HEVC:
      return ScanHevc(data, len);
    case MFX_CODEC_MPEG2:
      return ScanMpeg2(data, len);
    case MFX_CODEC_VC1:
      return ScanVc1(data, len);
    default: {
      HeaderScan scan;
      scan.status = MFX_ERR_UNSUPPORTED;
      return scan;
    }
  }
}

}  // namespace swrt
