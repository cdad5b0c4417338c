#include "access_units.h"

#include "bits.h"

namespace h264 {

bool AccessUnitCutter::Open(std::uint64_t at, std::uint64_t& begin) {
  begin = at;
  open_ = true;
  baseVcl_ = otherVcl_ = ended_ = candidate_ = delimited_ = false;
  return true;
}

bool AccessUnitCutter::Push(const NalStart& nal, std::uint64_t& begin) {
  const std::uint8_t type = nal.header & 0x1F;
  const bool vcl = baseVcl_ || otherVcl_;
  const std::uint64_t settled = candidate_ ? candidateAt_ : nal.offset;
  bool cut = false;
  std::uint64_t at = nal.offset;
  auto mayBegin = [&] {
    if (vcl && !candidate_) {
      candidate_ = true;
      candidateAt_ = nal.offset;
    }
  };

  if (!open_ || ended_) {
    cut = true;
  } else if (mode_ == CutMode::kDependent) {
    switch (type) {
      case 24:
        // A delimiter after another opens a unit even with no slices between: an empty unit
        // (a demuxer's stand-in for a lost picture) still keeps its place beside the base view.
        cut = vcl || delimited_;
        break;
      case 20:
      case 21:
        if (otherVcl_ && nal.firstMbZero) {
          cut = true;
          at = settled;
        }
        break;
      case 6: case 7: case 8: case 15:
        mayBegin();
        break;
      default:
        break;
    }
  } else {
    switch (type) {
      case 9:
        cut = vcl;  // a delimiter is the first unit of its access unit
        break;
      case 1:
      case 5:
        if (otherVcl_ || (baseVcl_ && nal.firstMbZero)) {
          cut = true;
          at = settled;
        }
        candidate_ = false;
        break;
      case 20:
      case 21:
        candidate_ = false;  // what stood between the views' slices belongs to this instant
        break;
      case 14:
        if (otherVcl_) {
          cut = true;
          at = settled;
        } else {
          mayBegin();
        }
        break;
      case 6: case 7: case 8: case 15: case 16: case 17: case 18: case 24:
        mayBegin();
        break;
      default:
        break;
    }
  }

  bool opened = false;
  if (cut) opened = Open(at, begin);
  switch (type) {
    case 1:
    case 5:
      if (mode_ == CutMode::kStream) baseVcl_ = true;
      break;
    case 20:
    case 21:
      otherVcl_ = true;
      break;
    case 10:
    case 11:
      ended_ = true;
      break;
    case 24:
      delimited_ = true;
      break;
    default:
      break;
  }
  return opened;
}

std::vector<NalSpan> FindNalUnits(const std::uint8_t* data, std::size_t len) {
  std::vector<NalSpan> spans;
  for (const NalUnit& u : SplitUnits(data, len)) {
    if (u.end <= u.header) continue;  // a start code with nothing behind it
    spans.push_back(NalSpan{u.start, u.header, u.end - u.header});
  }
  return spans;
}

NalStart DescribeNal(const std::uint8_t* data, const NalSpan& span) {
  NalStart nal;
  nal.offset = span.start;
  nal.header = data[span.header];
  const std::uint8_t type = nal.header & 0x1F;
  const std::size_t skip = type == 20 || type == 21 ? 4 : 1;
  if (span.size > skip) nal.firstMbZero = FirstMbZero(data + span.header + skip, span.size - skip);
  return nal;
}

std::vector<UnitRange> CutAccessUnits(const std::uint8_t* data, std::size_t len, CutMode mode) {
  std::vector<UnitRange> units;
  AccessUnitCutter cutter(mode);
  for (const NalSpan& span : FindNalUnits(data, len)) {
    std::uint64_t begin = 0;
    if (!cutter.Push(DescribeNal(data, span), begin)) continue;
    if (!units.empty()) units.back().length = static_cast<std::size_t>(begin) - units.back().offset;
    units.push_back(UnitRange{static_cast<std::size_t>(begin), 0});
  }
  if (!units.empty()) units.back().length = len - units.back().offset;
  return units;
}

}  // namespace h264
