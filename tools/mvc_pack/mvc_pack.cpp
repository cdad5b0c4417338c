#include "mvc_pack.h"

#include <algorithm>
#include <set>
#include <utility>

#include "mvc_writer.h"

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
  h264::AppendEscaped(rbsp.data(), rbsp.size(), nal);
  return nal;
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
    if (t == h264::kNalSubsetSps || t == h264::kNalSliceExtension || t == 21)
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

void MvcExtensionBytes(bool idr, bool anchor, uint32_t viewId, uint8_t out[3]) {
  h264::MvcNalHeader h;
  h.nonIdr = !idr;
  h.viewId = viewId;
  h.anchorPic = idr || anchor;
  h.interView = false;
  h264::WriteMvcNalHeader(h, out);
}

Bytes MakeSubsetSps(const NalUnit& sps) {
  Bytes rbsp = sps.rbsp();
  h264::Sps info;
  if (!h264::ParseSps(rbsp.data(), rbsp.size(), info)) throw PackError("malformed or unsupported SPS");
  const size_t dataEnd = h264::StopBitPosition(rbsp.data(), rbsp.size());
  if (dataEnd != info.dataEndBit) throw PackError("SPS with bits behind its data");

  h264::BitWriter w;
  w.U(kMultiviewHigh, 8);
  w.CopyBits(rbsp.data(), 8, info.formatBegin);  // constraint flags, level, id
  // Profile 118 carries the chroma format and bit depth fields, whether the source's does or not.
  h264::WriteFormatFields(info, rbsp.data(), w);
  w.CopyBits(rbsp.data(), info.formatEnd, dataEnd);
  w.Flag(true);  // bit_equal_to_one
  h264::SubsetSps mvc;
  mvc.views.resize(2);
  mvc.views[1].viewId = kDependentViewId;
  h264::MvcOperationPoint both;
  both.levelIdc = info.levelIdc;
  both.targetViews = {0, kDependentViewId};
  both.numViews = 2;
  mvc.ops.push_back(both);
  h264::WriteMvcExtension(mvc, w);
  w.Flag(false);  // mvc_vui_parameters_present_flag
  w.Flag(false);  // additional_extension2_flag
  w.TrailingBits();

  uint8_t header = static_cast<uint8_t>((sps.data[0] & 0x60) | h264::kNalSubsetSps);
  return BuildNal(&header, 1, w.Bytes());
}

uint32_t DependentPpsId(uint32_t ppsId) { return (ppsId + 1) * 16 - 1; }

Bytes RenumberPps(const NalUnit& pps, uint32_t newId) {
  Bytes rbsp = pps.rbsp();
  h264::BitReader r(rbsp.data(), rbsp.size());
  r.Ue();
  const size_t stop = h264::StopBitPosition(rbsp.data(), rbsp.size());
  if (r.Error() || r.Position() > stop) throw PackError("malformed PPS");
  h264::BitWriter w;
  w.Ue(newId);
  w.CopyBits(rbsp.data(), r.Position(), stop);
  w.TrailingBits();
  return BuildNal(pps.data, 1, w.Bytes());
}

Bytes MakeSliceExtension(const Slice& s, uint32_t newPpsId, bool anchor) {
  uint8_t head[4];
  head[0] = static_cast<uint8_t>((s.nal.data[0] & 0x60) | h264::kNalSliceExtension);
  MvcExtensionBytes(s.context.idr, anchor, kDependentViewId, head + 1);
  h264::SliceHeader h = s.header;
  h.ppsId = newPpsId;
  h264::BitWriter w;
  h264::WriteSliceHeader(h, *s.sps, *s.pps, s.context, s.rbsp.data(), w);
  h264::WriteSliceData(s.header, s.pps->entropyCodingMode, s.rbsp.data(), s.rbsp.size(), w);
  Bytes nal = BuildNal(head, 4, w.Bytes());
  // cabac_zero_words behind the trailing bits stay. The byte before them holds the stop bit,
  // so escaping them on their own gives the same bytes as escaping the whole RBSP.
  const size_t zeros = (h264::StopBitPosition(s.rbsp.data(), s.rbsp.size()) + 8) / 8;
  if (zeros < s.rbsp.size()) h264::AppendEscaped(s.rbsp.data() + zeros, s.rbsp.size() - zeros, nal);
  return nal;
}

PackResult Pack(const uint8_t* left, size_t leftSize, const uint8_t* right, size_t rightSize) {
  Stream l = Parse("left", left, leftSize);
  Stream r = Parse("right", right, rightSize);
  if (l.units.size() != r.units.size())
    throw PackError("left stream has " + std::to_string(l.units.size()) + " access units, right has " +
                    std::to_string(r.units.size()));

  // PPS ids are shared by both views: the right view's move to ids the left never uses. (A PPS
  // that does not parse is refused where its access unit is read.)
  std::set<uint32_t> leftPpsIds;
  for (const NalUnit& nal : l.nals) {
    h264::Pps pps;
    if (nal.type() == h264::kNalPps && h264::ParsePpsNal(nal.data, nal.size, pps)) leftPpsIds.insert(pps.ppsId);
  }

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
    if (lu.nals.front().type() != h264::kNalAud) AppendNal(out.base, kAud, sizeof kAud);
    for (const NalUnit& nal : lu.nals) {
      leftSets.Add(nal);
      if (nal.type() != h264::kNalPrefix) AppendNal(out.base, nal.data, nal.size);
    }

    // Dependent view: parameter sets and slices only. SEI are left out: in a non-base view
    // they would need MVC nesting to mean the same.
    for (const NalUnit& nal : ru.nals) rightSets.Add(nal);
    const Slice lFirst = ParseSlice(FirstSlice(lu), leftSets);
    const Slice rFirst = ParseSlice(FirstSlice(ru), rightSets);
    const h264::SliceHeader& lh = lFirst.header;
    const h264::SliceHeader& rh = rFirst.header;
    const h264::Sps& ls = *lFirst.sps;
    const h264::Sps& rs = *rFirst.sps;
    const uint32_t lWidth = DisplayWidth(ls), lHeight = DisplayHeight(ls);
    const uint32_t rWidth = DisplayWidth(rs), rHeight = DisplayHeight(rs);
    if (lWidth != rWidth || lHeight != rHeight)
      throw PackError(At(k) + "left is " + std::to_string(lWidth) + "x" + std::to_string(lHeight) + ", right is " +
                      std::to_string(rWidth) + "x" + std::to_string(rHeight));
    if (ls.chromaFormatIdc != rs.chromaFormatIdc || ls.bitDepthLuma != rs.bitDepthLuma ||
        ls.bitDepthChroma != rs.bitDepthChroma)
      throw PackError(At(k) + "left and right differ in chroma format or bit depth");
    const bool idr = lFirst.context.idr;
    if (idr != rFirst.context.idr)
      throw PackError(At(k) + (idr ? "left is IDR, right is not" : "right is IDR, left is not") +
                      "; encode both with the same GOP settings");
    if (lh.fieldPic != rh.fieldPic || lh.bottomField != rh.bottomField)
      throw PackError(At(k) + "left and right differ in field structure");
    if (idr) {
      order.Check();
      order.first = k;
    }
    int64_t lp = 0, rp = 0;
    bool lf = leftPoc.Next(lFirst, lp);
    bool rf = rightPoc.Next(rFirst, rp);
    order.followed = order.followed && lf && rf;
    order.left.emplace_back(lp, k - order.first);
    order.right.emplace_back(rp, k - order.first);
    if (k == 0) {
      out.width = lWidth;
      out.height = lHeight;
    }

    // An I picture of the right view is an anchor: an open GOP's I pictures become random access
    // points of the pair, as on a 3D Blu-ray.
    bool anchor = true;
    for (const NalUnit& nal : ru.nals)
      if (nal.isSlice()) anchor = anchor && ParseSlice(nal, rightSets).header.IsIntra();
    uint8_t delimiter[4] = {h264::kNalDependentDelimiter, 0, 0, 0};
    MvcExtensionBytes(idr, anchor, kDependentViewId, delimiter + 1);
    AppendNal(out.dependent, delimiter, sizeof delimiter);
    for (const NalUnit& nal : ru.nals) {
      switch (nal.type()) {
        case h264::kNalSps:
          AppendNal(out.dependent, MakeSubsetSps(nal));
          break;
        case h264::kNalPps: {
          h264::Pps pps;
          if (!h264::ParsePpsNal(nal.data, nal.size, pps)) throw PackError("malformed or unsupported PPS");
          const uint32_t id = pps.ppsId;
          if (id > 15 || leftPpsIds.count(DependentPpsId(id)))
            throw PackError("right stream's PPS id " + std::to_string(id) +
                            " has no free id to move to; ids 0 to 15 are supported");
          AppendNal(out.dependent, RenumberPps(nal, DependentPpsId(id)));
          break;
        }
        case h264::kNalSlice:
        case h264::kNalIdrSlice: {
          const Slice slice = ParseSlice(nal, rightSets);
          AppendNal(out.dependent, MakeSliceExtension(slice, DependentPpsId(slice.header.ppsId), anchor));
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
