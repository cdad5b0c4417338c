#include "mvc.h"

#include "h264.h"

namespace swrt {

namespace {

constexpr std::uint8_t kStartCode[4] = {0, 0, 0, 1};
// A unit that grows past this without an end is cut, so garbage cannot grow the buffer forever.
constexpr std::size_t kMaxUnitBytes = 64u << 20;

void AppendNal(std::vector<std::uint8_t>& packet, const std::uint8_t* nal, std::size_t len) {
  packet.insert(packet.end(), kStartCode, kStartCode + 4);
  packet.insert(packet.end(), nal, nal + len);
}

bool FirstMbIsZero(const std::uint8_t* payload, std::size_t len) {
  // first_mb_in_slice is the first ue(v): zero exactly when the first bit is 1.
  return len > 0 && (payload[0] & 0x80) != 0;
}

}  // namespace

bool RewriteSubsetSps(const std::uint8_t* nal, std::size_t len, std::vector<std::uint8_t>& out) {
  if (len < 2 || (nal[0] & 0x1F) != kNalSubsetSps) return false;
  std::vector<std::uint8_t> rbsp;
  Unescape(nal + 1, len - 1, rbsp);
  H264SubsetSps subset;
  if (!ParseSubsetSps(rbsp.data(), rbsp.size(), subset)) return false;
  BitWriter w;
  w.U(100, 8);
  CopyBits(rbsp.data(), 8, subset.sps.dataEndBit, w);
  w.TrailingBits();
  out.clear();
  out.push_back(static_cast<std::uint8_t>((nal[0] & 0x60) | kNalSps));
  AppendEscaped(w.Bytes().data(), w.Bytes().size(), out);
  return true;
}

bool RewriteSliceExtension(const std::uint8_t* nal, std::size_t len, std::vector<std::uint8_t>& out,
                           std::uint32_t& viewId) {
  if (len < 5 || (nal[0] & 0x1F) != kNalSliceExtension) return false;
  std::vector<std::uint8_t> rbsp;
  Unescape(nal + 1, len - 1, rbsp);
  if (rbsp.size() < 4 || (rbsp[0] & 0x80) != 0) return false;  // svc_extension_flag: not MVC
  const bool nonIdr = (rbsp[0] & 0x40) != 0;
  viewId = (static_cast<std::uint32_t>(rbsp[1]) << 2) | (rbsp[2] >> 6);
  out.clear();
  out.push_back(static_cast<std::uint8_t>((nal[0] & 0x60) | (nonIdr ? kNalSlice : kNalIdrSlice)));
  AppendEscaped(rbsp.data() + 3, rbsp.size() - 3, out);
  return true;
}

void MvcDemux::Push(const std::uint8_t* data, std::size_t len) {
  Compact();
  buf_.insert(buf_.end(), data, data + len);
  flushing_ = false;
}

void MvcDemux::Compact() {
  if (consumed_ == 0) return;
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(consumed_));
  scan_ -= consumed_;
  consumed_ = 0;
}

void MvcDemux::Reset() {
  buf_.clear();
  consumed_ = scan_ = 0;
  flushing_ = false;
  current_ = MvcUnit{};
  any_ = baseVcl_ = dependentVcl_ = ended_ = false;
}

bool MvcDemux::StartsNewUnit(std::uint8_t type, const std::uint8_t* nal, std::size_t len) const {
  if (!any_) return false;
  if (ended_) return true;
  switch (type) {
    case kNalAud:
      return true;
    case kNalPrefix:
    case kNalSps:
      return baseVcl_;
    case kNalSlice:
    case kNalIdrSlice:
      return dependentVcl_ || (baseVcl_ && FirstMbIsZero(nal + 1, len - 1));
    case kNalSei:
    case kNalPps:
    case kNalSubsetSps:
      // Behind the base view's slices these still belong to the dependent view of this unit.
      return dependentVcl_;
    default:
      return false;
  }
}

void MvcDemux::NoteUnit(std::uint8_t type, const std::uint8_t* nal, std::size_t len) {
  if (type == kNalSps) {
    H264Sps sps;
    if (ParseSpsNal(nal, len, sps)) spsIds_.insert(sps.spsId);
  } else if (type == kNalSubsetSps) {
    H264SubsetSps subset;
    if (ParseSubsetSpsNal(nal, len, subset)) {
      subsetIds_.insert(subset.sps.spsId);
      if (!dependentViewSet_ && subset.views.size() > 1) {
        dependentView_ = subset.views[1].viewId;
        dependentViewSet_ = true;
      }
    }
  }
}

void MvcDemux::Add(const std::uint8_t* nal, std::size_t len, MvcUnit& unit) {
  const std::uint8_t type = nal[0] & 0x1F;
  NoteUnit(type, nal, len);
  any_ = true;
  switch (type) {
    case kNalPrefix:
    case kNalDependentDelimiter:
      break;
    case kNalSubsetSps:
      if (RewriteSubsetSps(nal, len, scratch_)) AppendNal(unit.dependent, scratch_.data(), scratch_.size());
      break;
    case kNalSliceExtension: {
      std::uint32_t viewId = 0;
      if (RewriteSliceExtension(nal, len, scratch_, viewId) && dependentViewSet_ && viewId == dependentView_) {
        AppendNal(unit.dependent, scratch_.data(), scratch_.size());
        dependentVcl_ = true;
      }
      break;
    }
    case kNalPps: {
      // A PPS serves the view whose parameter set it names; unknown ones go to both.
      std::uint32_t ppsId = 0, spsId = 0;
      bool parsed = ParsePpsNal(nal, len, ppsId, spsId);
      bool toBase = !parsed || spsIds_.count(spsId) || !subsetIds_.count(spsId);
      bool toDependent = !parsed || subsetIds_.count(spsId) || !spsIds_.count(spsId);
      if (toBase) AppendNal(unit.base, nal, len);
      if (toDependent) AppendNal(unit.dependent, nal, len);
      break;
    }
    case kNalSlice:
    case kNalIdrSlice:
      baseVcl_ = true;
      AppendNal(unit.base, nal, len);
      break;
    case kNalEndOfSequence:
    case kNalEndOfStream:
      ended_ = true;
      AppendNal(unit.base, nal, len);
      AppendNal(unit.dependent, nal, len);
      break;
    default:
      AppendNal(unit.base, nal, len);
      break;
  }
}

bool MvcDemux::Next(MvcUnit& unit) {
  for (;;) {
    const std::uint8_t* data = buf_.data();
    const std::size_t size = buf_.size();
    std::size_t sc = FindStartCode(data, size, scan_);
    if (sc >= size) {
      if (flushing_ && any_) break;
      // Bytes before any start code are no unit; keep the last two, which may begin one.
      if (!any_ && size - consumed_ > 2) consumed_ = scan_ = size - 2;
      return false;
    }
    std::size_t header = sc + 3;
    std::size_t next = FindStartCode(data, size, header);
    if (next >= size && !flushing_ && size - consumed_ < kMaxUnitBytes) return false;
    std::size_t end = next;
    if (next < size)
      while (end > header && data[end - 1] == 0) --end;
    if (end <= header || (data[header] & 0x80) != 0) {  // empty, or forbidden_zero_bit set
      scan_ = next >= size ? size : next;
      continue;
    }
    const std::uint8_t type = data[header] & 0x1F;
    if (StartsNewUnit(type, data + header, end - header)) {
      // Leave this NAL unit for the next call; hand out what was gathered.
      consumed_ = sc;
      scan_ = sc;
      unit = std::move(current_);
      current_ = MvcUnit{};
      any_ = baseVcl_ = dependentVcl_ = ended_ = false;
      return true;
    }
    Add(data + header, end - header, current_);
    scan_ = next >= size ? size : next;
    consumed_ = scan_;  // the unit holds its own copy
  }
  // Flushing with nothing more to read: the gathered unit is the last one.
  consumed_ = scan_ = buf_.size();
  unit = std::move(current_);
  current_ = MvcUnit{};
  any_ = baseVcl_ = dependentVcl_ = ended_ = false;
  return true;
}

}  // namespace swrt
