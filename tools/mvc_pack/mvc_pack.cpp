#include "mvc_pack.h"

#include <algorithm>
#include <set>
#include <utility>

namespace mvcpack {
namespace {

const uint8_t kStartCode[4] = {0, 0, 0, 1};
const uint8_t kAud[2] = {0x09, 0xF0};  // primary_pic_type 7: any slice type

void AppendNal(Bytes& out, const uint8_t* nal, size_t size) {
  out.insert(out.end(), kStartCode, kStartCode + 4);
  out.insert(out.end(), nal, nal + size);
}

void AppendNal(Bytes& out, const Bytes& nal) { AppendNal(out, nal.data(), nal.size()); }

// A NAL unit from a header byte (plus optional extension bytes) and an RBSP.
Bytes BuildNal(const uint8_t* header, size_t headerSize, const Bytes& rbsp) {
  Bytes nal(header, header + headerSize);
  AppendWithEmulationPrevention(nal, rbsp.data(), rbsp.size());
  return nal;
}

// RBSP with the ue(v) field at bits [begin, end) replaced by value; the rest shifts as bits.
Bytes ReplaceUe(const Bytes& rbsp, size_t begin, size_t end, uint32_t value) {
  BitWriter w;
  w.CopyBits(rbsp.data(), 0, begin);
  w.ue(value);
  w.CopyBits(rbsp.data(), end, rbsp.size() * 8);
  if (w.position() % 8 != 0) throw std::logic_error("ReplaceUe: length change not whole bytes");
  return w.bytes();
}

std::string At(size_t unit) { return "access unit " + std::to_string(unit) + ": "; }

struct Stream {
  const char* name;
  std::vector<NalUnit> nals;
  std::vector<AccessUnit> units;
};

Stream Parse(const char* name, const uint8_t* data, size_t size) {
  Stream s{name, SplitAnnexB(data, size), {}};
  for (const NalUnit& nal : s.nals) {
    uint8_t t = nal.type();
    if (t == kNalSubsetSps || t == kNalSliceExtension || t == 21)
      throw PackError(std::string(name) + " stream is already multiview; give plain AVC streams");
    if (t >= kNalPartitionA && t <= kNalPartitionC)
      throw PackError(std::string(name) + " stream uses slice data partitioning, which is not supported");
  }
  s.units = GroupAccessUnits(s.nals);
  if (s.units.empty()) throw PackError(std::string(name) + " stream holds no coded picture");
  return s;
}

// Display order of the pictures of one IDR period, as positions sorted by POC.
struct OrderCheck {
  size_t first = 0;  // access unit index of the period's first picture
  std::vector<std::pair<int64_t, size_t>> left, right;
  bool followed = true;

  void Check() {
    if (followed && left.size() == right.size()) {
      std::stable_sort(left.begin(), left.end());
      std::stable_sort(right.begin(), right.end());
      for (size_t i = 0; i < left.size(); ++i) {
        if (left[i].second != right[i].second)
          throw PackError(At(first + std::min(left[i].second, right[i].second)) +
                          "left and right pictures differ in display order; "
                          "encode both with the same GOP and B-frame settings");
      }
    }
    left.clear();
    right.clear();
    followed = true;
  }
};

const NalUnit& FirstSlice(const AccessUnit& unit) {
  for (const NalUnit& nal : unit.nals)
    if (nal.isSlice()) return nal;
  throw std::logic_error("access unit without a slice");
}

}  // namespace

void MvcExtensionBytes(bool idr, uint32_t viewId, uint8_t out[3]) {
  const uint32_t priorityId = 0, temporalId = 0, interView = 0;
  uint32_t bits = (0u << 23) | (uint32_t{!idr} << 22) | (priorityId << 16) | ((viewId & 0x3FF) << 6) |
                  (temporalId << 3) | (uint32_t{idr} << 2) | (interView << 1) | 1u;
  out[0] = static_cast<uint8_t>(bits >> 16);
  out[1] = static_cast<uint8_t>(bits >> 8);
  out[2] = static_cast<uint8_t>(bits);
}

Bytes MakeSubsetSps(const NalUnit& sps) {
  Bytes rbsp = sps.rbsp();
  SpsInfo info = ParseSps(rbsp);
  size_t dataEnd = StopBitPosition(rbsp);

  BitWriter w;
  w.u(8, kMultiviewHigh);
  w.CopyBits(rbsp.data(), 8, info.idEndBit);  // constraint flags, level, id
  if (!info.hasChromaFields) {
    // Profile 118 carries these fields; write the values a profile without them implies.
    w.ue(1);       // chroma_format_idc 4:2:0
    w.ue(0);       // bit_depth_luma_minus8
    w.ue(0);       // bit_depth_chroma_minus8
    w.flag(false);  // qpprime_y_zero_transform_bypass_flag
    w.flag(false);  // seq_scaling_matrix_present_flag
  }
  w.CopyBits(rbsp.data(), info.idEndBit, dataEnd);
  w.flag(true);  // bit_equal_to_one
  // seq_parameter_set_mvc_extension
  w.ue(1);  // num_views_minus1
  w.ue(0);  // view_id[0]
  w.ue(kDependentViewId);
  w.ue(0);  // num_anchor_refs_l0[1]
  w.ue(0);  // num_anchor_refs_l1[1]
  w.ue(0);  // num_non_anchor_refs_l0[1]
  w.ue(0);  // num_non_anchor_refs_l1[1]
  w.ue(0);  // num_level_values_signalled_minus1
  w.u(8, info.levelIdc);
  w.ue(0);    // num_applicable_ops_minus1
  w.u(3, 0);  // applicable_op_temporal_id
  w.ue(1);    // applicable_op_num_target_views_minus1
  w.ue(0);    // applicable_op_target_view_id
  w.ue(kDependentViewId);
  w.ue(1);        // applicable_op_num_views_minus1
  w.flag(false);  // mvc_vui_parameters_present_flag
  w.flag(false);  // additional_extension2_flag
  w.TrailingBits();

  uint8_t header = static_cast<uint8_t>((sps.data[0] & 0x60) | kNalSubsetSps);
  return BuildNal(&header, 1, w.bytes());
}

uint32_t DependentPpsId(uint32_t ppsId) { return (ppsId + 1) * 16 - 1; }

Bytes RenumberPps(const NalUnit& pps, uint32_t newId) {
  Bytes rbsp = pps.rbsp();
  PpsInfo info = ParsePps(rbsp);
  return BuildNal(pps.data, 1, ReplaceUe(rbsp, 0, info.idEndBit, newId));
}

Bytes MakeSliceExtension(const NalUnit& slice, const SliceInfo& header, uint32_t newPpsId) {
  uint8_t head[4];
  head[0] = static_cast<uint8_t>((slice.data[0] & 0x60) | kNalSliceExtension);
  MvcExtensionBytes(slice.type() == kNalIdrSlice, kDependentViewId, head + 1);
  Bytes rbsp = slice.rbsp();
  return BuildNal(head, 4, ReplaceUe(rbsp, header.ppsIdBegin, header.ppsIdEnd, newPpsId));
}

PackResult Pack(const uint8_t* left, size_t leftSize, const uint8_t* right, size_t rightSize) {
  Stream l = Parse("left", left, leftSize);
  Stream r = Parse("right", right, rightSize);
  if (l.units.size() != r.units.size())
    throw PackError("left stream has " + std::to_string(l.units.size()) + " access units, right has " +
                    std::to_string(r.units.size()));

  // PPS ids are shared by both views: the right view's move to ids the left never uses.
  std::set<uint32_t> leftPpsIds;
  for (const NalUnit& nal : l.nals)
    if (nal.type() == kNalPps) leftPpsIds.insert(ParsePps(nal.rbsp()).id);

  PackResult out;
  out.accessUnits = l.units.size();
  out.base.reserve(leftSize + 6 * l.units.size());
  out.dependent.reserve(rightSize + rightSize / 16 + 8 * r.units.size());
  ParameterSets leftSets, rightSets;
  PocCounter leftPoc, rightPoc;
  OrderCheck order;

  for (size_t k = 0; k < l.units.size(); ++k) {
    const AccessUnit& lu = l.units[k];
    const AccessUnit& ru = r.units[k];

    // Base view: delimiter first, prefix NAL units dropped, the rest as it is.
    if (lu.nals.front().type() != kNalAud) AppendNal(out.base, kAud, sizeof kAud);
    for (const NalUnit& nal : lu.nals) {
      leftSets.Add(nal);
      if (nal.type() != kNalPrefix) AppendNal(out.base, nal.data, nal.size);
    }

    // Dependent view: parameter sets and slices only. SEI are left out: in a non-base view
    // they would need MVC nesting to mean the same.
    for (const NalUnit& nal : ru.nals) rightSets.Add(nal);
    const NalUnit& lFirst = FirstSlice(lu);
    const NalUnit& rFirst = FirstSlice(ru);
    SliceInfo lh = ParseSliceHeader(lFirst, leftSets);
    SliceInfo rh = ParseSliceHeader(rFirst, rightSets);
    const SpsInfo& ls = leftSets.SpsOfPps(lh.ppsId);
    const SpsInfo& rs = rightSets.SpsOfPps(rh.ppsId);
    if (ls.width() != rs.width() || ls.height() != rs.height())
      throw PackError(At(k) + "left is " + std::to_string(ls.width()) + "x" + std::to_string(ls.height()) +
                      ", right is " + std::to_string(rs.width()) + "x" + std::to_string(rs.height()));
    if (ls.chromaFormatIdc != rs.chromaFormatIdc || ls.bitDepthLuma != rs.bitDepthLuma ||
        ls.bitDepthChroma != rs.bitDepthChroma)
      throw PackError(At(k) + "left and right differ in chroma format or bit depth");
    if (lh.idr != rh.idr)
      throw PackError(At(k) + (lh.idr ? "left is IDR, right is not" : "right is IDR, left is not") +
                      "; encode both with the same GOP settings");
    if (lh.fieldPic != rh.fieldPic || lh.bottomField != rh.bottomField)
      throw PackError(At(k) + "left and right differ in field structure");
    if (lh.idr) {
      order.Check();
      order.first = k;
    }
    int64_t lp = 0, rp = 0;
    bool lf = leftPoc.Next(lh, ls, lFirst.refIdc() != 0, lp);
    bool rf = rightPoc.Next(rh, rs, rFirst.refIdc() != 0, rp);
    order.followed = order.followed && lf && rf;
    order.left.emplace_back(lp, k - order.first);
    order.right.emplace_back(rp, k - order.first);
    if (k == 0) {
      out.width = ls.width();
      out.height = ls.height();
    }

    uint8_t delimiter[4] = {kNalDependentDelimiter, 0, 0, 0};
    MvcExtensionBytes(rFirst.type() == kNalIdrSlice, kDependentViewId, delimiter + 1);
    AppendNal(out.dependent, delimiter, sizeof delimiter);
    for (const NalUnit& nal : ru.nals) {
      switch (nal.type()) {
        case kNalSps:
          AppendNal(out.dependent, MakeSubsetSps(nal));
          break;
        case kNalPps: {
          uint32_t id = ParsePps(nal.rbsp()).id;
          if (id > 15 || leftPpsIds.count(DependentPpsId(id)))
            throw PackError("right stream's PPS id " + std::to_string(id) +
                            " has no free id to move to; ids 0 to 15 are supported");
          AppendNal(out.dependent, RenumberPps(nal, DependentPpsId(id)));
          break;
        }
        case kNalSlice:
        case kNalIdrSlice: {
          SliceInfo h = ParseSliceHeader(nal, rightSets);
          AppendNal(out.dependent, MakeSliceExtension(nal, h, DependentPpsId(h.ppsId)));
          break;
        }
        default:
          break;  // AUD, SEI, end of sequence/stream, filler, prefix: nothing for view 1
      }
    }
  }
  order.Check();
  return out;
}

}  // namespace mvcpack
