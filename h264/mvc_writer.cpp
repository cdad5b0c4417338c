#include "mvc_writer.h"

#include <cstddef>
#include <vector>

namespace h264 {

void WriteMvcNalHeader(const MvcNalHeader& h, std::uint8_t out[3]) {
  const std::uint32_t bits = (std::uint32_t{h.nonIdr} << 22) | ((h.priorityId & 0x3F) << 16) |
                             ((h.viewId & 0x3FF) << 6) | ((h.temporalId & 7) << 3) |
                             (std::uint32_t{h.anchorPic} << 2) | (std::uint32_t{h.interView} << 1) | 1u;
  out[0] = static_cast<std::uint8_t>(bits >> 16);
  out[1] = static_cast<std::uint8_t>(bits >> 8);
  out[2] = static_cast<std::uint8_t>(bits);
}

namespace {

void WriteIdList(const std::vector<std::uint32_t>& ids, BitWriter& w) {
  w.Ue(static_cast<std::uint32_t>(ids.size()));
  for (std::uint32_t id : ids) w.Ue(id);
}

std::uint32_t Count(std::size_t n) { return static_cast<std::uint32_t>(n); }

}  // namespace

void WriteMvcExtension(const SubsetSps& s, BitWriter& w) {
  w.Ue(Count(s.views.size()) - 1);
  for (const MvcView& v : s.views) w.Ue(v.viewId);
  for (std::size_t i = 1; i < s.views.size(); ++i) {
    WriteIdList(s.views[i].anchorL0, w);
    WriteIdList(s.views[i].anchorL1, w);
  }
  for (std::size_t i = 1; i < s.views.size(); ++i) {
    WriteIdList(s.views[i].nonAnchorL0, w);
    WriteIdList(s.views[i].nonAnchorL1, w);
  }
  // Runs of operation points with the same level.
  std::vector<std::size_t> runs;
  for (std::size_t i = 0; i < s.ops.size(); ++i)
    if (i == 0 || s.ops[i].levelIdc != s.ops[i - 1].levelIdc) runs.push_back(i);
  runs.push_back(s.ops.size());
  w.Ue(Count(runs.size()) - 2);
  for (std::size_t r = 0; r + 1 < runs.size(); ++r) {
    w.U(s.ops[runs[r]].levelIdc, 8);
    w.Ue(Count(runs[r + 1] - runs[r]) - 1);
    for (std::size_t i = runs[r]; i < runs[r + 1]; ++i) {
      const MvcOperationPoint& op = s.ops[i];
      w.U(op.temporalId, 3);
      w.Ue(Count(op.targetViews.size()) - 1);
      for (std::uint32_t id : op.targetViews) w.Ue(id);
      w.Ue(op.numViews - 1);
    }
  }
}

}  // namespace h264
