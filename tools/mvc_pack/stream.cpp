#include "stream.h"

#include "access_units.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace mvcpack {

Bytes NalUnit::rbsp() const {
  Bytes out;
  h264::Unescape(data + 1, size - 1, out);
  return out;
}

namespace {

// Offset of the first 00 00 00 in p[0, n), or n.
size_t FindZeroTriple(const uint8_t* p, size_t n) {
  for (size_t i = 0; i + 3 <= n;) {
    const void* z = std::memchr(p + i, 0, n - i - 2);
    if (!z) break;
    const size_t k = static_cast<size_t>(static_cast<const uint8_t*>(z) - p);
    if (p[k + 1] == 0 && p[k + 2] == 0) return k;
    i = k + 1;
  }
  return n;
}

bool IsSliceOrPartition(uint8_t t) {
  return t == h264::kNalSlice || t == h264::kNalIdrSlice || (t >= kNalPartitionA && t <= kNalPartitionC);
}

}  // namespace

std::vector<NalUnit> SplitAnnexB(const uint8_t* data, size_t size) {
  std::vector<NalUnit> nals;
  for (const h264::NalUnit& u : h264::SplitUnits(data, size)) {
    // A unit also ends at 00 00 00, and the whole stream is here: the last unit loses its
    // trailing zeros too. Bytes between such an end and the next start code belong to none.
    size_t end = u.header + FindZeroTriple(data + u.header, u.end - u.header);
    while (end > u.header && data[end - 1] == 0) --end;
    if (end > u.header) nals.push_back(NalUnit{data + u.header, end - u.header});
  }
  return nals;
}

std::vector<AccessUnit> GroupAccessUnits(const std::vector<NalUnit>& nals) {
  // The library's cutter decides where units begin; a unit's place is its first NAL unit's index.
  h264::AccessUnitCutter cutter;
  std::vector<size_t> starts;
  for (size_t i = 0; i < nals.size(); ++i) {
    const NalUnit& nal = nals[i];
    h264::NalStart start;
    start.offset = i;
    start.header = nal.data[0];
    start.firstMbZero = nal.size > 1 && h264::FirstMbZero(nal.data + 1, nal.size - 1);
    uint64_t begin = 0;
    if (cutter.Push(start, begin)) starts.push_back(static_cast<size_t>(begin));
  }
  std::vector<AccessUnit> units;
  for (size_t k = 0; k < starts.size(); ++k) {
    AccessUnit unit;
    bool sawSlice = false;
    for (size_t i = starts[k]; i < (k + 1 < starts.size() ? starts[k + 1] : nals.size()); ++i) {
      unit.nals.push_back(nals[i]);
      sawSlice |= IsSliceOrPartition(nals[i].type());
    }
    if (sawSlice) units.push_back(std::move(unit));
  }
  return units;
}

uint32_t DisplayWidth(const h264::Sps& sps) { return sps.CodedWidth() - sps.cropLeft - sps.cropRight; }

uint32_t DisplayHeight(const h264::Sps& sps) { return sps.CodedHeight() - sps.cropTop - sps.cropBottom; }

void ParameterSets::Add(const NalUnit& nal) {
  if (nal.type() == h264::kNalSps) {
    h264::Sps s;
    if (!h264::ParseSpsNal(nal.data, nal.size, s)) throw PackError("malformed or unsupported SPS");
    sps[s.spsId] = s;
  } else if (nal.type() == h264::kNalPps) {
    h264::Pps p;
    if (!h264::ParsePpsNal(nal.data, nal.size, p)) throw PackError("malformed or unsupported PPS");
    pps[p.ppsId] = p;
  }
}

const h264::Pps& ParameterSets::Pps(uint32_t ppsId) const {
  auto p = pps.find(ppsId);
  if (p == pps.end()) throw PackError("slice refers to a missing PPS " + std::to_string(ppsId));
  return p->second;
}

const h264::Sps& ParameterSets::SpsOfPps(uint32_t ppsId) const {
  const uint32_t spsId = Pps(ppsId).spsId;
  auto s = sps.find(spsId);
  if (s == sps.end())
    throw PackError("PPS " + std::to_string(ppsId) + " refers to a missing SPS " + std::to_string(spsId));
  return s->second;
}

Slice ParseSlice(const NalUnit& nal, const ParameterSets& sets) {
  Slice s;
  s.nal = nal;
  s.rbsp = nal.rbsp();
  uint32_t ppsId = 0;
  if (!h264::ParseSlicePpsId(s.rbsp.data(), s.rbsp.size(), ppsId)) throw PackError("unreadable slice header");
  s.pps = &sets.Pps(ppsId);
  s.sps = &sets.SpsOfPps(ppsId);
  s.context.idr = nal.type() == h264::kNalIdrSlice;
  s.context.refIdc = nal.refIdc();
  if (!h264::ParseSliceHeader(s.rbsp.data(), s.rbsp.size(), *s.sps, *s.pps, s.context, s.header))
    throw PackError("malformed or unsupported slice header");
  return s;
}

bool PocCounter::Next(const Slice& slice, int64_t& poc) {
  const h264::SliceHeader& h = slice.header;
  const h264::Sps& sps = *slice.sps;
  const bool idr = slice.context.idr, reference = slice.context.refIdc != 0;
  if (h.fieldPic) return false;
  if (sps.pocType == 0) {
    if (idr) {
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
    if (idr) {
      frameNumOffset_ = 0;
    } else if (prevFrameNum_ > h.frameNum) {
      frameNumOffset_ += int64_t{1} << sps.log2MaxFrameNum;
    }
    prevFrameNum_ = h.frameNum;
    poc = idr ? 0 : 2 * (frameNumOffset_ + h.frameNum) - (reference ? 0 : 1);
    return true;
  }
  return false;
}

}  // namespace mvcpack
