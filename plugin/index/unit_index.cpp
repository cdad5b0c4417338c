#include "unit_index.h"

#include <algorithm>
#include <numeric>

#include "bits.h"
#include "sei.h"
#include "slice_header.h"

namespace korvala {

namespace {

// slice_type of a slice RBSP behind first_mb_in_slice; false when unreadable.
bool SliceType(const uint8_t* rbsp, size_t len, uint32_t& type) {
  h264::BitReader r(rbsp, len);
  r.Ue();
  type = r.Ue();
  return !r.Error() && type <= 9;
}

bool IsIntraType(uint32_t sliceType) { return sliceType % 5 == h264::kSliceI || sliceType % 5 == h264::kSliceSi; }

}  // namespace

void StreamScanner::NoteZeros(uint64_t offset, uint64_t zerosFrom) {
  if (zerosFrom >= offset) return;
  zeros_[zerosNext_] = {offset, zerosFrom};
  zerosNext_ = (zerosNext_ + 1) % zeros_.size();
}

void StreamScanner::Close(uint64_t end) {
  if (!open_) return;
  if (codec_ == Codec::kMpeg2) FinishMpeg2Picture();
  for (const auto& [at, from] : zeros_)
    if (at == end && from < end) end = std::max(from, current_.offset);
  current_.size = end > current_.offset ? end - current_.offset : 0;
  units_.push_back(current_);
  open_ = false;
}

void StreamScanner::Open(uint64_t at) {
  current_ = ScannedUnit{};
  current_.offset = at;
  open_ = true;
  sliceSeen_ = false;
  seiRecovery_ = -1;
}

void StreamScanner::Nal(uint64_t offset, const uint8_t* nal, size_t len, uint64_t zerosFrom) {
  if (streamEnded_ || len == 0) return;
  NoteZeros(offset, zerosFrom);
  if (codec_ == Codec::kHevc) return HevcNal(offset, nal, len);
  if (codec_ == Codec::kMpeg2) return Mpeg2Unit(offset, nal, len);
  const uint8_t type = nal[0] & 0x1F;
  h264::NalStart start;
  start.offset = offset;
  start.header = nal[0];
  const size_t skip = type == h264::kNalSliceExtension || type == 21 ? 4 : 1;
  if (len > skip) start.firstMbZero = h264::FirstMbZero(nal + skip, len - skip);
  uint64_t begin = 0;
  if (cutter_.Push(start, begin)) {
    Close(begin);
    Open(begin);
  }

  switch (type) {
    case h264::kNalSps: {
      if (mode_ == h264::CutMode::kDependent) break;
      h264::Unescape(nal + 1, len - 1, rbsp_);
      h264::Sps sps;
      if (h264::ParseSps(rbsp_.data(), rbsp_.size(), sps)) {
        haveSps_[sps.spsId] = true;
        sps_[sps.spsId] = std::move(sps);
      }
      break;
    }
    case h264::kNalPps: {
      if (mode_ == h264::CutMode::kDependent) break;
      h264::Unescape(nal + 1, len - 1, rbsp_);
      h264::Pps pps;
      // Behind a picture's slices a PPS may be another view's of the same instant: the next
      // slice tells.
      if (h264::ParsePps(rbsp_.data(), rbsp_.size(), pps)) pendingPps_.push_back(pps);
      break;
    }
    case h264::kNalSei: {
      // Only an SEI before the picture's slices speaks of it.
      if (mode_ != h264::CutMode::kStream || current_.slices) break;
      h264::Unescape(nal + 1, std::min(len - 1, kLookahead), rbsp_);
      uint32_t count = 0;
      if (h264::FindRecoveryPoint(rbsp_.data(), rbsp_.size(), count)) seiRecovery_ = count;
      break;
    }
    case h264::kNalSlice:
    case h264::kNalIdrSlice:
      if (mode_ != h264::CutMode::kStream) break;
      for (const h264::Pps& pps : pendingPps_) {
        havePps_[pps.ppsId] = true;
        pps_[pps.ppsId] = pps;
      }
      pendingPps_.clear();
      current_.slices = true;
      BaseSlice(nal, len);
      break;
    case h264::kNalSliceExtension: {
      pendingPps_.clear();
      h264::MvcNalHeader ext;
      if (!current_.other && len >= 4 && h264::ParseMvcNalHeader(nal + 1, len - 1, ext)) current_.anchor = ext.anchorPic;
      current_.other = true;
      if (mode_ == h264::CutMode::kDependent) current_.slices = true;
      break;
    }
    default:
      break;
  }
}

void StreamScanner::BaseSlice(const uint8_t* nal, size_t len) {
  // The slice header fits in the lookahead; the slice data is never needed.
  h264::Unescape(nal + 1, std::min(len - 1, kLookahead), rbsp_);
  if (sliceSeen_) {
    uint32_t sliceType = 0;
    if (current_.intra && (!SliceType(rbsp_.data(), rbsp_.size(), sliceType) || !IsIntraType(sliceType)))
      current_.intra = false;
    return;
  }
  sliceSeen_ = true;
  uint32_t ppsId = 0;
  if (!h264::ParseSlicePpsId(rbsp_.data(), rbsp_.size(), ppsId) || ppsId > h264::kMaxPpsId || !havePps_[ppsId]) return;
  const h264::Pps& pps = pps_[ppsId];
  if (pps.spsId > h264::kMaxSpsId || !haveSps_[pps.spsId]) return;
  const h264::Sps& sps = sps_[pps.spsId];
  h264::SliceContext context;
  context.idr = (nal[0] & 0x1F) == h264::kNalIdrSlice;
  context.refIdc = (nal[0] >> 5) & 3;
  h264::SliceHeader h;
  if (!h264::ParseSliceHeader(rbsp_.data(), rbsp_.size(), sps, pps, context, h)) return;

  const h264::PocCounter::Result poc = poc_.Next(sps, h, context.idr, context.refIdc);
  Recover(h.frameNum, sps.MaxFrameNum(), context.idr || poc.reset);
  current_.picture = true;
  current_.idr = context.idr;
  current_.intra = h.IsIntra();
  current_.field = h.fieldPic;
  current_.bottom = h.bottomField;
  current_.poc = poc.poc;
  current_.reset = poc.reset;
  // The second field of a pair: the opposite parity behind an unpaired first field with the same
  // frame_num. An IDR field always begins a frame.
  current_.secondField = h.fieldPic && !context.idr && lastUnpairedField_ && lastBottom_ != h.bottomField &&
                         lastFrameNum_ == h.frameNum;
  lastUnpairedField_ = h.fieldPic && !current_.secondField;
  lastBottom_ = h.bottomField;
  lastFrameNum_ = h.frameNum;
}

// The recovery picture of an earlier recovery point is the first with its frame_num; this
// unit's own recovery point waits for its recovery picture.
void StreamScanner::Recover(uint32_t frameNum, uint32_t maxFrameNum, bool reset) {
  const uint32_t unit = static_cast<uint32_t>(units_.size());
  if (reset) awaited_.clear();
  for (size_t i = 0; i < awaited_.size();) {
    if (awaited_[i].frameNum == frameNum) {
      recoveries_.push_back(Recovery{awaited_[i].start, unit});
      awaited_.erase(awaited_.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  if (seiRecovery_ < 0 || reset) return;
  current_.recovery = true;
  if (seiRecovery_ == 0) {
    recoveries_.push_back(Recovery{unit, unit});
  } else if (seiRecovery_ < maxFrameNum) {
    // A damaged stream could announce points without end: the oldest are given up.
    if (awaited_.size() >= kMaxAwaited) awaited_.erase(awaited_.begin());
    awaited_.push_back(AwaitedRecovery{unit, static_cast<uint32_t>((frameNum + seiRecovery_) % maxFrameNum)});
  }
}

void StreamScanner::End(uint64_t size) {
  if (streamEnded_) return;
  Close(size);
  streamEnded_ = true;
}

size_t UnitIndex::KnownUnits() const {
  if (finished_) return units_.size();
  const size_t base = base_.Units().size();
  if (!twoStreams_) return base;
  // A dependent stream that ended early leaves the rest of the base units without their view.
  return dependent_.Ended() ? base : std::min(base, dependent_.Units().size());
}

IndexedUnit UnitIndex::Unit(size_t k) const {
  if (finished_ && k < units_.size()) return units_[k];
  IndexedUnit u;
  const ScannedUnit& b = base_.Units()[k];
  u.offset[0] = b.offset;
  u.size[0] = static_cast<uint32_t>(std::min<uint64_t>(b.size, UINT32_MAX));
  if (twoStreams_ && k < dependent_.Units().size()) {
    const ScannedUnit& d = dependent_.Units()[k];
    u.offset[1] = d.offset;
    u.size[1] = static_cast<uint32_t>(std::min<uint64_t>(d.size, UINT32_MAX));
  }
  u.frame = kNoFrame;
  return u;
}

void UnitIndex::Finish() {
  if (finished_ || !ScanEnded()) return;
  const std::vector<ScannedUnit>& base = base_.Units();
  const std::vector<ScannedUnit>& dep = dependent_.Units();
  const size_t n = KnownUnits();
  units_.resize(n);
  for (size_t k = 0; k < n; ++k) units_[k] = Unit(k);

  // Frames in decoding order, each with its output key.
  struct Key {
    uint32_t epoch;
    int32_t poc;
    uint32_t unit;
  };
  std::vector<Key> frames;
  frames.reserve(n);
  uint32_t epoch = 0;
  bool anyDependent = false;
  for (size_t k = 0; k < n; ++k) anyDependent |= base[k].other || (twoStreams_ && k < dep.size() && dep[k].other);
  for (size_t k = 0; k < n; ++k) {
    const ScannedUnit& b = base[k];
    if (!b.picture) continue;
    if (b.secondField && !frames.empty() && frames.back().unit + 1 == k) continue;
    if (b.reset && !frames.empty()) ++epoch;
    frames.push_back(Key{epoch, b.poc, static_cast<uint32_t>(k)});
  }
  std::vector<uint32_t> order(frames.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return frames[a].epoch != frames[b].epoch ? frames[a].epoch < frames[b].epoch : frames[a].poc < frames[b].poc;
  });
  unitOfFrame_.resize(order.size());
  for (uint32_t rank = 0; rank < order.size(); ++rank) {
    const uint32_t unit = frames[order[rank]].unit;
    unitOfFrame_[rank] = unit;
    units_[unit].frame = rank;
  }
  // A second field belongs to its first field's frame.
  for (size_t k = 1; k < n; ++k)
    if (base[k].picture && base[k].secondField && units_[k].frame == kNoFrame) units_[k].frame = units_[k - 1].frame;

  // Where decoding may start: proven, never guessed. An IDR picture; an I picture whose
  // dependent picture is an anchor (in an anchor access unit no later picture of either view
  // refers to an earlier one); in a stream without a dependent view an I picture with a recovery
  // point SEI, exact from its recovery picture on; an HEVC IRAP picture; an MPEG-2 I picture. A
  // field pair qualifies when both its fields do. Any other I picture may be followed by
  // pictures predicted from before it, as encoders do at scene cuts.
  const Codec codec = base_.StreamCodec();
  auto anchor = [&](size_t k) { return twoStreams_ ? k < dep.size() && dep[k].anchor : base[k].anchor; };
  std::vector<std::pair<uint32_t, uint32_t>> recovered;  // start unit, recovery unit
  for (const Recovery& r : base_.Recoveries())
    if (r.start < n && r.exact < n) recovered.emplace_back(r.start, r.exact);
  std::sort(recovered.begin(), recovered.end());
  auto recoveryOf = [&](size_t k) {
    auto it = std::lower_bound(recovered.begin(), recovered.end(), std::pair<uint32_t, uint32_t>(k, 0));
    return it != recovered.end() && it->first == k ? it->second : kNoFrame;
  };
  raps_.clear();
  exactFrom_.clear();
  for (size_t k = 0; k < n; ++k) {
    const ScannedUnit& b = base[k];
    AccessKind kind = AccessKind::kNone;
    if (b.picture && !b.secondField && units_[k].frame != kNoFrame) {
      // The field completing this one, when there is one.
      const bool paired = b.field && k + 1 < n && base[k + 1].picture && base[k + 1].secondField;
      auto qualifies = [&](size_t at) {
        if (!base[at].intra) return false;
        if (codec != Codec::kH264) return true;
        return anyDependent && anchor(at);
      };
      if (b.idr) {
        kind = AccessKind::kIdr;
      } else if (qualifies(k) && (!paired || qualifies(k + 1))) {
        kind = AccessKind::kIntra;
      } else if (codec == Codec::kH264 && !anyDependent && b.intra && b.recovery) {
        const uint32_t recovery = recoveryOf(k);
        const uint32_t exact = recovery == kNoFrame ? kNoFrame : units_[recovery].frame;
        // At the I picture itself, its second field must be intra too.
        const bool itself = exact != kNoFrame && exact <= units_[k].frame;
        if (exact != kNoFrame && (!itself || !paired || base[k + 1].intra)) {
          kind = AccessKind::kIntra;
          if (!itself) exactFrom_.emplace_back(static_cast<uint32_t>(k), exact);
        }
      }
    }
    if (k == 0 && kind == AccessKind::kNone) kind = AccessKind::kStart;
    units_[k].access = kind;
    if (kind != AccessKind::kNone) raps_.push_back(static_cast<uint32_t>(k));
  }
  finished_ = true;
  // What the scanners found is all in units_ now.
  std::vector<ScannedUnit>().swap(base_.Units());
  std::vector<ScannedUnit>().swap(dependent_.Units());
}

void UnitIndex::Cut(const std::vector<bool>& shown) {
  if (!finished_) return;
  const size_t frames = unitOfFrame_.size();
  auto isShown = [&](size_t f) { return f < shown.size() && shown[f]; };
  // Each frame's first shown frame at or after it, in the new numbering.
  std::vector<uint32_t> next(frames + 1);
  uint32_t count = 0;
  for (size_t f = 0; f < frames; ++f) count += isShown(f) ? 1 : 0;
  next[frames] = count;
  for (size_t f = frames; f-- > 0;) next[f] = isShown(f) ? --count : next[f + 1];
  std::vector<std::pair<uint32_t, uint32_t>> exact;
  for (const uint32_t unit : raps_) {
    if (unit == 0 || units_[unit].access == AccessKind::kStart) continue;
    const uint32_t first = FirstExactFrame(unit);
    const uint32_t own = units_[unit].frame;
    const uint32_t from = first < frames ? next[first] : next[frames];
    if (!(own < frames && isShown(own) && next[own] == from)) exact.emplace_back(unit, from);
  }
  exactFrom_ = std::move(exact);
  for (IndexedUnit& u : units_)
    if (u.frame != kNoFrame) u.frame = u.frame < frames && isShown(u.frame) ? next[u.frame] : kNoFrame;
  std::vector<uint32_t> kept;
  for (size_t f = 0; f < frames; ++f)
    if (isShown(f)) kept.push_back(unitOfFrame_[f]);
  unitOfFrame_ = std::move(kept);
}

void UnitIndex::Adopt(std::vector<IndexedUnit> units, std::vector<uint32_t> unitOfFrame, std::vector<uint32_t> raps,
                      std::vector<std::pair<uint32_t, uint32_t>> exactFrom) {
  units_ = std::move(units);
  unitOfFrame_ = std::move(unitOfFrame);
  raps_ = std::move(raps);
  exactFrom_ = std::move(exactFrom);
  std::vector<ScannedUnit>().swap(base_.Units());
  std::vector<ScannedUnit>().swap(dependent_.Units());
  finished_ = true;
}

uint32_t UnitIndex::SeekUnit(uint32_t frame, bool idrOnly) const {
  if (!finished_ || frame >= unitOfFrame_.size() || raps_.empty()) return 0;
  const uint32_t target = unitOfFrame_[frame];
  auto it = std::upper_bound(raps_.begin(), raps_.end(), target);
  while (it != raps_.begin()) {
    const uint32_t unit = *--it;
    if (idrOnly && units_[unit].access == AccessKind::kIntra) continue;
    // The stream's start yields every frame exactly: it is what decoding in order does.
    if (FirstExactFrame(unit) <= frame) return unit;
  }
  return 0;
}

uint32_t UnitIndex::FirstExactFrame(uint32_t unit) const {
  // Decoding from the stream's first unit is decoding in order, whatever that unit holds (a
  // damaged stream may show pictures before its first IDR picture's).
  if (unit == 0 || unit >= units_.size() || units_[unit].access == AccessKind::kStart) return 0;
  auto it = std::lower_bound(exactFrom_.begin(), exactFrom_.end(), std::pair<uint32_t, uint32_t>(unit, 0));
  return it != exactFrom_.end() && it->first == unit ? it->second : units_[unit].frame;
}

size_t UnitIndex::MemoryBytes() const {
  return units_.capacity() * sizeof(IndexedUnit) + unitOfFrame_.capacity() * sizeof(uint32_t) +
         raps_.capacity() * sizeof(uint32_t) + exactFrom_.capacity() * sizeof(exactFrom_[0]) +
         (base_.Units().capacity() + dependent_.Units().capacity()) * sizeof(ScannedUnit);
}

}  // namespace korvala
