#include "h264.h"

#include <string>

namespace mvcpack {

std::vector<NalUnit> SplitAnnexB(const uint8_t* data, size_t size) {
  auto findStart = [&](size_t from) -> size_t {
    for (size_t p = from; p + 3 <= size; ++p) {
      if (data[p] == 0 && data[p + 1] == 0 && data[p + 2] == 1) return p;
    }
    return size;
  };
  std::vector<NalUnit> nals;
  size_t p = findStart(0);
  while (p < size) {
    size_t begin = p + 3;
    size_t end = size;
    size_t next = size;
    // A unit ends at the first 00 00 00 or 00 00 01; inside it emulation prevention rules
    // both out.
    for (size_t q = begin; q + 3 <= size; ++q) {
      if (data[q] == 0 && data[q + 1] == 0 && data[q + 2] <= 1) {
        end = q;
        next = findStart(q);
        break;
      }
    }
    while (end > begin && data[end - 1] == 0) --end;  // zeros at the very end of the data
    if (end > begin) nals.push_back(NalUnit{data + begin, end - begin});
    p = next;
  }
  return nals;
}

uint32_t ParseFirstMb(const NalUnit& slice) {
  // first_mb_in_slice is at most a few bytes long; no need to unescape the whole slice.
  size_t n = slice.size - 1 < 16 ? slice.size - 1 : 16;
  Bytes head = RemoveEmulationPrevention(slice.data + 1, n);
  BitReader r(head);
  return r.ue();
}

std::vector<AccessUnit> GroupAccessUnits(const std::vector<NalUnit>& nals) {
  std::vector<AccessUnit> units;
  AccessUnit current;
  bool sawSlice = false;
  auto flush = [&]() {
    if (sawSlice) units.push_back(std::move(current));
    current = AccessUnit{};
    sawSlice = false;
  };
  for (const NalUnit& nal : nals) {
    uint8_t t = nal.type();
    bool opensUnit = false;
    if (t == kNalAud) {
      opensUnit = !current.nals.empty();
    } else if (t == kNalSei || t == kNalSps || t == kNalPps || (t >= kNalPrefix && t <= 18)) {
      opensUnit = sawSlice;
    } else if (t == kNalSlice || t == kNalIdrSlice || (t >= kNalPartitionA && t <= kNalPartitionC)) {
      opensUnit = sawSlice && t != 3 && t != kNalPartitionC && ParseFirstMb(nal) == 0;
    }
    if (opensUnit) flush();
    current.nals.push_back(nal);
    if (t == kNalSlice || t == kNalIdrSlice || (t >= kNalPartitionA && t <= kNalPartitionC))
      sawSlice = true;
  }
  flush();
  return units;
}

uint32_t SpsInfo::width() const {
  uint32_t cropUnitX = (chromaFormatIdc == 1 || chromaFormatIdc == 2) && !separateColourPlane ? 2 : 1;
  return widthMbs * 16 - cropUnitX * (cropLeft + cropRight);
}

uint32_t SpsInfo::height() const {
  uint32_t mbRows = heightMapUnits * (frameMbsOnly ? 1 : 2);
  uint32_t cropUnitY = (chromaFormatIdc == 1 && !separateColourPlane ? 2 : 1) * (frameMbsOnly ? 1 : 2);
  return mbRows * 16 - cropUnitY * (cropTop + cropBottom);
}

static bool ProfileHasChromaFields(uint32_t p) {
  switch (p) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86:
    case 118: case 128: case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

static void SkipScalingList(BitReader& r, int size) {
  int last = 8, next = 8;
  for (int j = 0; j < size; ++j) {
    if (next != 0) next = (last + r.se() + 256) % 256;
    last = next == 0 ? last : next;
  }
}

static uint32_t Limited(uint32_t v, uint32_t max, const char* what) {
  if (v > max) throw PackError(std::string("SPS: ") + what + " out of range");
  return v;
}

SpsInfo ParseSps(const Bytes& rbsp) {
  BitReader r(rbsp);
  SpsInfo s;
  s.profileIdc = r.u(8);
  r.u(8);  // constraint flags and reserved bits
  s.levelIdc = r.u(8);
  s.id = Limited(r.ue(), 31, "seq_parameter_set_id");
  s.idEndBit = r.position();
  s.hasChromaFields = ProfileHasChromaFields(s.profileIdc);
  if (s.hasChromaFields) {
    s.chromaFormatIdc = Limited(r.ue(), 3, "chroma_format_idc");
    if (s.chromaFormatIdc == 3) s.separateColourPlane = r.flag();
    s.bitDepthLuma = 8 + Limited(r.ue(), 6, "bit_depth_luma_minus8");
    s.bitDepthChroma = 8 + Limited(r.ue(), 6, "bit_depth_chroma_minus8");
    r.flag();  // qpprime_y_zero_transform_bypass_flag
    if (r.flag()) {
      int lists = s.chromaFormatIdc != 3 ? 8 : 12;
      for (int i = 0; i < lists; ++i) {
        if (r.flag()) SkipScalingList(r, i < 6 ? 16 : 64);
      }
    }
  }
  s.log2MaxFrameNum = 4 + Limited(r.ue(), 12, "log2_max_frame_num_minus4");
  s.pocType = Limited(r.ue(), 2, "pic_order_cnt_type");
  if (s.pocType == 0) {
    s.log2MaxPocLsb = 4 + Limited(r.ue(), 12, "log2_max_pic_order_cnt_lsb_minus4");
  } else if (s.pocType == 1) {
    r.flag();
    r.se();
    r.se();
    uint32_t cycle = Limited(r.ue(), 255, "num_ref_frames_in_pic_order_cnt_cycle");
    for (uint32_t i = 0; i < cycle; ++i) r.se();
  }
  r.ue();    // max_num_ref_frames
  r.flag();  // gaps_in_frame_num_value_allowed_flag
  s.widthMbs = Limited(r.ue(), 1023, "pic_width_in_mbs_minus1") + 1;
  s.heightMapUnits = Limited(r.ue(), 1023, "pic_height_in_map_units_minus1") + 1;
  s.frameMbsOnly = r.flag();
  if (!s.frameMbsOnly) r.flag();  // mb_adaptive_frame_field_flag
  r.flag();                       // direct_8x8_inference_flag
  if (r.flag()) {
    s.cropLeft = r.ue();
    s.cropRight = r.ue();
    s.cropTop = r.ue();
    s.cropBottom = r.ue();
  }
  return s;
}

PpsInfo ParsePps(const Bytes& rbsp) {
  BitReader r(rbsp);
  PpsInfo p;
  p.id = r.ue();
  if (p.id > 255) throw PackError("PPS: pic_parameter_set_id out of range");
  p.idEndBit = r.position();
  p.spsId = r.ue();
  if (p.spsId > 31) throw PackError("PPS: seq_parameter_set_id out of range");
  return p;
}

void ParameterSets::Add(const NalUnit& nal) {
  if (nal.type() == kNalSps) {
    SpsInfo s = ParseSps(nal.rbsp());
    sps[s.id] = s;
  } else if (nal.type() == kNalPps) {
    PpsInfo p = ParsePps(nal.rbsp());
    pps[p.id] = p;
  }
}

const SpsInfo& ParameterSets::SpsOfPps(uint32_t ppsId) const {
  auto p = pps.find(ppsId);
  if (p == pps.end()) throw PackError("slice refers to a missing PPS " + std::to_string(ppsId));
  auto s = sps.find(p->second.spsId);
  if (s == sps.end())
    throw PackError("PPS " + std::to_string(ppsId) + " refers to a missing SPS " +
                    std::to_string(p->second.spsId));
  return s->second;
}

SliceInfo ParseSliceHeader(const NalUnit& slice, const ParameterSets& sets) {
  // The fields up to pic_order_cnt_lsb fit in well under 64 bytes.
  size_t n = slice.size - 1 < 64 ? slice.size - 1 : 64;
  Bytes head = RemoveEmulationPrevention(slice.data + 1, n);
  BitReader r(head);
  SliceInfo s;
  s.idr = slice.type() == kNalIdrSlice;
  s.firstMb = r.ue();
  s.sliceType = r.ue();
  s.ppsIdBegin = r.position();
  s.ppsId = r.ue();
  s.ppsIdEnd = r.position();
  const SpsInfo& sps = sets.SpsOfPps(s.ppsId);
  if (sps.separateColourPlane) r.u(2);
  s.frameNum = r.u(sps.log2MaxFrameNum);
  if (!sps.frameMbsOnly) {
    s.fieldPic = r.flag();
    if (s.fieldPic) s.bottomField = r.flag();
  }
  if (s.idr) r.ue();  // idr_pic_id
  if (sps.pocType == 0) s.pocLsb = r.u(sps.log2MaxPocLsb);
  return s;
}

bool PocCounter::Next(const SliceInfo& h, const SpsInfo& sps, bool reference, int64_t& poc) {
  if (h.fieldPic) return false;
  if (sps.pocType == 0) {
    if (h.idr) {
      prevMsb_ = 0;
      prevLsb_ = 0;
    }
    int64_t max = int64_t{1} << sps.log2MaxPocLsb;
    int64_t lsb = h.pocLsb, prev = prevLsb_;
    int64_t msb = prevMsb_;
    if (lsb < prev && prev - lsb >= max / 2) {
      msb += max;
    } else if (lsb > prev && lsb - prev > max / 2) {
      msb -= max;
    }
    poc = msb + lsb;
    if (reference) {
      prevMsb_ = msb;
      prevLsb_ = h.pocLsb;
    }
    return true;
  }
  if (sps.pocType == 2) {
    if (h.idr) {
      frameNumOffset_ = 0;
    } else if (prevFrameNum_ > h.frameNum) {
      frameNumOffset_ += int64_t{1} << sps.log2MaxFrameNum;
    }
    prevFrameNum_ = h.frameNum;
    poc = h.idr ? 0 : 2 * (frameNumOffset_ + h.frameNum) - (reference ? 0 : 1);
    return true;
  }
  return false;
}

}  // namespace mvcpack
