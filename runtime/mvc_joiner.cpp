#include "mvc_joiner.h"

#include <algorithm>

#include "bits.h"

namespace swrt {

using h264::BitWriter;
using h264::ListModification;
using h264::Mmco;
using h264::SliceHeader;

namespace {

// The joined stream's frame_num and pic_order_cnt_lsb are 16 bits wide.
constexpr std::int64_t kJoinedMaxFrameNum = 1 << 16;
constexpr std::int64_t kJoinedMaxPocLsb = 1 << 16;
constexpr std::uint32_t kJoinedRefFrames = 16;
constexpr std::uint8_t kStartCode[4] = {0, 0, 0, 1};

std::uint8_t FieldsOf(const SliceHeader& h) {
  if (!h.fieldPic) return kBothFields;
  return h.bottomField ? kBottomField : kTopField;
}

void AppendNal(std::uint8_t header, const std::vector<std::uint8_t>& rbsp, std::vector<std::uint8_t>& out) {
  out.insert(out.end(), kStartCode, kStartCode + 4);
  out.push_back(header);
  h264::AppendEscaped(rbsp.data(), rbsp.size(), out);
}

// The picture's joined field or frame in the decoder's buffer, usable as a reference.
bool Usable(const RefEntry& e) {
  if (!e.picture || e.picture->nonExisting) return false;
  const std::uint8_t joined = e.picture->joinedShort | e.picture->joinedLong;
  return (joined & e.fields) == e.fields;
}

}  // namespace

void MvcJoiner::Reset() {
  for (auto& s : sps_) s = ParamSet{};
  for (auto& s : subsetSps_) s = ParamSet{};
  for (auto& table : pps_)
    for (auto& s : table) s = ParamSet{};
  Restart();
}

void MvcJoiner::Restart() {
  for (auto& j : joinedSps_) j = JoinedId{};
  for (auto& j : joinedPps_) j = JoinedId{};
  dpb_.Clear();
  frameNum_ = prevRefFrameNum_ = 0;
  prevPocMsb_ = prevPocLsb_ = 0;
  maxLongIdx_ = -1;
  longIdxUsed_ = 0;
  started_ = dependentLost_ = false;
  lastJoined_ = nullptr;
  held_ = Component{};
  out_.clear();
  lastBaseSpsId_ = -1;
  baseWasSecond_ = false;
  serial_ = lastBaseSerial_ = 0;
}

void MvcJoiner::Store(ParamSet& p, const std::vector<std::uint8_t>& rbsp) {
  if (p.valid && p.rbsp == rbsp) return;
  p.valid = true;
  p.rbsp = rbsp;
  p.version = nextVersion_++;
}

const h264::Sps* MvcJoiner::SpsOf(int view, std::uint32_t spsId) const {
  if (spsId > h264::kMaxSpsId) return nullptr;
  if (view == 0) return sps_[spsId].valid ? &parsedSps_[spsId] : nullptr;
  return subsetSps_[spsId].valid ? &parsedSubset_[spsId].sps : nullptr;
}

const h264::MvcView* MvcJoiner::DependentViewOf(std::uint32_t subsetId) const {
  if (subsetId > h264::kMaxSpsId || !subsetSps_[subsetId].valid) return nullptr;
  for (const h264::MvcView& v : parsedSubset_[subsetId].views)
    if (v.viewId == dependentViewId_) return &v;
  return nullptr;
}

bool MvcJoiner::ParseComponent(Component& c) {
  std::vector<Slice> kept;
  for (Slice& s : c.slices) {
    std::uint32_t ppsId = 0;
    if (!h264::ParseSlicePpsId(s.rbsp.data(), s.rbsp.size(), ppsId) || !pps_[c.view][ppsId].valid) return false;
    if (!c.Pps(ppsId)) c.pps.push_back(PpsCopy{ppsId, pps_[c.view][ppsId], parsedPps_[c.view][ppsId]});
    const h264::Pps& pps = c.Pps(ppsId)->parsed;
    const h264::Sps* sps = SpsOf(c.view, pps.spsId);
    if (!sps) return false;
    h264::SliceContext context;
    context.idr = c.idr;
    context.refIdc = c.refIdc;
    context.multiview = c.view == 1;
    if (!h264::ParseSliceHeader(s.rbsp.data(), s.rbsp.size(), *sps, pps, context, s.header)) return false;
    if (s.header.redundantPicCnt > 0) continue;  // primary pictures only
    if (!kept.empty()) {
      const SliceHeader& f = kept.front().header;
      if (pps.spsId != c.spsId || s.header.frameNum != f.frameNum || s.header.fieldPic != f.fieldPic ||
          s.header.bottomField != f.bottomField)
        return false;
    }
    c.spsId = pps.spsId;
    kept.push_back(std::move(s));
  }
  c.slices = std::move(kept);
  return !c.slices.empty();
}

void MvcJoiner::Push(const AccessUnit& unit) {
  Component base, dep;
  base.view = 0;
  dep.view = 1;
  base.stamp = dep.stamp = unit.stamp;
  h264::MvcNalHeader prefix;
  bool havePrefix = false;
  for (std::size_t i = 0; i < unit.nals.size(); ++i) {
    const std::uint8_t* nal = unit.Nal(i);
    const std::size_t len = unit.NalSize(i);
    if (len < 2) continue;
    const std::uint8_t type = nal[0] & 0x1F;
    const std::uint32_t refIdc = (nal[0] >> 5) & 3;
    switch (type) {
      case h264::kNalSps: {
        h264::Unescape(nal + 1, len - 1, scratch_);
        h264::Sps s;
        if (h264::ParseSps(scratch_.data(), scratch_.size(), s)) {
          parsedSps_[s.spsId] = s;
          Store(sps_[s.spsId], scratch_);
        }
        break;
      }
      case h264::kNalSubsetSps: {
        h264::Unescape(nal + 1, len - 1, scratch_);
        h264::SubsetSps s;
        if (h264::ParseSubsetSps(scratch_.data(), scratch_.size(), s) && s.hasMvc && s.views.size() > 1) {
          if (!dependentViewSet_) SetDependentView(s.views[1].viewId);
          baseViewId_ = s.views[0].viewId;
          const std::uint32_t id = s.sps.spsId;
          parsedSubset_[id] = std::move(s);
          Store(subsetSps_[id], scratch_);
        }
        break;
      }
      case h264::kNalPps: {
        // Before the base view's slices a PPS serves both views; behind them it is the dependent
        // view's alone, which may give an id the base view uses other contents.
        h264::Unescape(nal + 1, len - 1, scratch_);
        h264::Pps p;
        if (h264::ParsePps(scratch_.data(), scratch_.size(), p)) {
          for (int view = base.present ? 1 : 0; view < 2; ++view) {
            Store(pps_[view][p.ppsId], scratch_);
            parsedPps_[view][p.ppsId] = p;
          }
        }
        break;
      }
      case h264::kNalPrefix:
        havePrefix = h264::ParseMvcNalHeader(nal + 1, len - 1, prefix);
        break;
      case h264::kNalSlice:
      case h264::kNalIdrSlice: {
        if (!base.present) {
          base.present = true;
          base.idr = type == h264::kNalIdrSlice;
          base.refIdc = refIdc;
          if (havePrefix) {
            base.interView = prefix.interView;
            base.anchor = prefix.anchorPic;
          }
        }
        Slice s;
        h264::Unescape(nal + 1, len - 1, s.rbsp);
        base.slices.push_back(std::move(s));
        havePrefix = false;
        break;
      }
      case h264::kNalSliceExtension: {
        h264::MvcNalHeader ext;
        if (len < 5 || !h264::ParseMvcNalHeader(nal + 1, len - 1, ext)) break;
        if (!dependentViewSet_ || ext.viewId != dependentViewId_) break;
        if (!dep.present) {
          dep.present = true;
          dep.idr = !ext.nonIdr;
          dep.refIdc = refIdc;
          dep.anchor = ext.anchorPic;
          dep.interView = ext.interView;
        }
        Slice s;
        h264::Unescape(nal + 4, len - 4, s.rbsp);
        dep.slices.push_back(std::move(s));
        break;
      }
      default:
        break;  // delimiters, SEI, end of sequence: the joined stream needs none of them
    }
  }
  if (base.present && !ParseComponent(base)) base.broken = true;
  if (dep.present && !ParseComponent(dep)) dep.broken = true;

  if (held_.present) {
    if (base.present && !base.broken && SecondFieldOfHeld(base)) {
      Emit(base, dep.present && InterViewUsed());
      Emit(held_);
      held_ = Component{};
      if (dep.present) {
        dep.basePicture = dpb_.LastOfView(0);
        dep.baseFields = FieldsOf(base.slices.front().header);
        Emit(dep);
      }
      return;
    }
    Emit(held_);
    held_ = Component{};
  }
  if (!base.present || base.broken) {
    // Without its base view a unit cannot be placed; its dependent view goes with it.
    return;
  }
  const bool interViewUsed = dep.present && InterViewUsed();
  Emit(base, interViewUsed);
  dep.basePicture = dpb_.LastOfView(0);
  dep.baseFields = FieldsOf(base.slices.front().header);
  if (!dep.present) {
    // A unit without its dependent view still shows one, so the views stay paired.
    if (dependentViewSet_) Conceal(dep);
    return;
  }
  const bool baseFirstField = base.slices.front().header.fieldPic && !baseWasSecond_;
  if (baseFirstField && !dep.broken && dep.slices.front().header.fieldPic) {
    held_ = std::move(dep);
    return;
  }
  Emit(dep);
}

bool MvcJoiner::InterViewUsed() const {
  for (std::uint32_t id = 0; id <= h264::kMaxSpsId; ++id) {
    const h264::MvcView* v = DependentViewOf(id);
    if (v && (!v->anchorL0.empty() || !v->anchorL1.empty() || !v->nonAnchorL0.empty() || !v->nonAnchorL1.empty()))
      return true;
  }
  return false;
}

bool MvcJoiner::SecondFieldOfHeld(const Component& base) const {
  PictureStart start;
  start.view = 0;
  start.idr = base.idr;
  start.refIdc = base.refIdc;
  start.header = &base.slices.front().header;
  return dpb_.PairsWithLastField(start);
}

void MvcJoiner::Flush() {
  if (held_.present) {
    Emit(held_);
    held_ = Component{};
  }
}

bool MvcJoiner::Next(JoinedPicture& out) {
  if (out_.empty()) return false;
  out = std::move(out_.front());
  out_.pop_front();
  return true;
}

std::uint32_t MvcJoiner::AllocateLongIdx() {
  for (std::uint32_t i = 0; i < kJoinedRefFrames; ++i)
    if (!(longIdxUsed_ & (1u << i))) {
      longIdxUsed_ |= 1u << i;
      return i;
    }
  return kJoinedRefFrames - 1;
}

std::int64_t MvcJoiner::JoinedFrameNumWrap(const StoredPicture& p) const {
  const std::int64_t fn = p.joinedFrameNum;
  return fn > frameNum_ ? fn - kJoinedMaxFrameNum : fn;
}

std::int64_t MvcJoiner::JoinedPicNum(const StoredPicture& p, std::uint8_t field) const {
  return FieldNumber(JoinedFrameNumWrap(p), field, currentFields_);
}

std::int64_t MvcJoiner::JoinedLongPicNum(const StoredPicture& p, std::uint8_t field) const {
  return FieldNumber(p.joinedLongIdx, field, currentFields_);
}

bool MvcJoiner::JoinedLists(const SliceHeader& h, const std::vector<RefEntry> lists[2],
                            std::vector<ListModification> out[2]) const {
  out[0].clear();
  out[1].clear();
  if (h.IsIntra()) return true;
  // Entries that name no picture the joined stream holds (a gap's inferred frames, a lost
  // picture) become a picture it does hold; a conforming stream never uses them.
  RefEntry fallback;
  for (int x = 0; x < 2 && !fallback.picture; ++x)
    for (const RefEntry& e : lists[x])
      if (Usable(e)) {
        fallback = e;
        break;
      }
  if (!fallback.picture) {
    for (const auto& p : dpb_.Pictures()) {
      RefEntry e{p.get(), currentFields_};
      if (currentFields_ != kBothFields && !((p->joinedShort | p->joinedLong) & e.fields))
        e.fields = static_cast<std::uint8_t>(currentFields_ == kTopField ? kBottomField : kTopField);
      if (Usable(e)) {
        fallback = e;
        break;
      }
    }
  }
  if (!fallback.picture) return false;
  const std::int64_t maxPicNum = kJoinedMaxFrameNum * (currentFields_ == kBothFields ? 1 : 2);
  const std::int64_t currPicNum = currentFields_ == kBothFields ? frameNum_ : 2 * std::int64_t{frameNum_} + 1;
  for (int x = 0; x < (h.IsB() ? 2 : 1); ++x) {
    std::int64_t pred = currPicNum;
    for (std::uint32_t i = 0; i < h.numRefIdxActive[x]; ++i) {
      RefEntry e = i < lists[x].size() ? lists[x][i] : RefEntry{};
      if (!Usable(e)) e = fallback;
      ListModification m;
      if (e.picture->joinedLong) {
        m.idc = 2;
        m.value = static_cast<std::uint32_t>(JoinedLongPicNum(*e.picture, e.fields));
      } else {
        std::int64_t target = JoinedPicNum(*e.picture, e.fields);
        if (target < 0) target += maxPicNum;
        const std::int64_t d = ((target - pred) % maxPicNum + maxPicNum) % maxPicNum;
        if (d == 0) {
          m.idc = 0;  // the same picture again: a whole turn round
          m.value = static_cast<std::uint32_t>(maxPicNum - 1);
        } else if (d <= maxPicNum / 2) {
          m.idc = 1;
          m.value = static_cast<std::uint32_t>(d - 1);
        } else {
          m.idc = 0;
          m.value = static_cast<std::uint32_t>(maxPicNum - d - 1);
        }
        pred = target;
      }
      out[x].push_back(m);
    }
  }
  return true;
}

// The decoder keeps a picture in one list, short-term or long-term, whatever its fields say;
// the joined marking follows it. A long-term field pair becomes long-term at its second field:
// marking the first field long-term on its own would lose it there.
void MvcJoiner::JoinedMarking(StoredPicture& current, bool secondField, bool idr, std::vector<Mmco>& mmcos) {
  mmcos.clear();
  const std::uint8_t cur = currentFields_;
  const bool frame = cur == kBothFields;
  const bool currentLong = (current.longRef & cur) != 0 && (frame || secondField);
  if (idr) {
    for (const auto& p : dpb_.Pictures()) p->joinedShort = p->joinedLong = 0;
    longIdxUsed_ = 0;
    maxLongIdx_ = -1;
    if (currentLong) {
      current.joinedLong = cur;
      current.joinedLongIdx = AllocateLongIdx();
      maxLongIdx_ = 0;
    } else {
      current.joinedShort = cur;
    }
    joinedIdrLong_ = currentLong;
    return;
  }
  const std::int64_t currPicNum = frame ? frameNum_ : 2 * std::int64_t{frameNum_} + 1;
  auto shortTermDiff = [&](const StoredPicture& p, std::uint8_t field) {
    return static_cast<std::uint32_t>(currPicNum - JoinedPicNum(p, field) - 1);
  };
  // Joined references the views no longer hold, nor a dependent view still needs.
  for (const auto& pp : dpb_.Pictures()) {
    StoredPicture& p = *pp;
    const std::uint8_t joined = p.joinedShort | p.joinedLong;
    if (!joined) continue;
    const std::uint8_t keep = p.interViewHold ? joined : static_cast<std::uint8_t>((p.shortRef | p.longRef) & joined);
    const std::uint8_t drop = joined & ~keep;
    if (!drop) continue;
    const bool wasLong = p.joinedLong != 0;
    if (frame) {
      if (drop != joined) continue;  // a frame cannot drop one field: it goes with the other
      Mmco m;
      if (p.joinedLong) {
        m.op = 2;
        m.longTermPicNum = p.joinedLongIdx;
      } else {
        m.op = 1;
        m.differenceOfPicNumsMinus1 = shortTermDiff(p, kBothFields);
      }
      mmcos.push_back(m);
      p.joinedShort = p.joinedLong = 0;
      if (wasLong) longIdxUsed_ &= ~(1u << p.joinedLongIdx);
      continue;
    }
    for (std::uint8_t f : {kTopField, kBottomField}) {
      if (!(drop & f)) continue;
      Mmco m;
      if (p.joinedLong & f) {
        m.op = 2;
        m.longTermPicNum = static_cast<std::uint32_t>(JoinedLongPicNum(p, f));
      } else {
        m.op = 1;
        m.differenceOfPicNumsMinus1 = shortTermDiff(p, f);
      }
      mmcos.push_back(m);
      p.joinedShort &= static_cast<std::uint8_t>(~f);
      p.joinedLong &= static_cast<std::uint8_t>(~f);
    }
    if (wasLong && p.joinedLong == 0) longIdxUsed_ &= ~(1u << p.joinedLongIdx);
  }
  // Pictures a view made long-term, and the current one if it is.
  std::vector<Mmco> toLong;
  for (const auto& pp : dpb_.Pictures()) {
    StoredPicture& p = *pp;
    const std::uint8_t moving = p.longRef & p.joinedShort;
    if (!moving || &p == &current) continue;
    if (!p.joinedLong) p.joinedLongIdx = AllocateLongIdx();
    for (std::uint8_t f : {kTopField, kBottomField}) {
      if (!frame && !(moving & f)) continue;
      Mmco m;
      m.op = 3;
      m.differenceOfPicNumsMinus1 = shortTermDiff(p, frame ? std::uint8_t{kBothFields} : f);
      m.longTermFrameIdx = p.joinedLongIdx;
      toLong.push_back(m);
      if (frame) break;
    }
    p.joinedLong |= p.joinedShort;
    p.joinedShort = 0;
  }
  if (currentLong) {
    if (!current.joinedLong) current.joinedLongIdx = AllocateLongIdx();
    Mmco m;
    m.op = 6;
    m.longTermFrameIdx = current.joinedLongIdx;
    toLong.push_back(m);
    current.joinedLong |= current.joinedShort | cur;
    current.joinedShort = 0;
  } else if (current.joinedLong) {
    current.joinedLong |= cur;
  } else {
    current.joinedShort |= cur;
  }
  if (!toLong.empty()) {
    if (maxLongIdx_ < static_cast<std::int32_t>(kJoinedRefFrames) - 1) {
      Mmco m;
      m.op = 4;
      m.maxLongTermFrameIdxPlus1 = kJoinedRefFrames;
      mmcos.push_back(m);
      maxLongIdx_ = kJoinedRefFrames - 1;
    }
    mmcos.insert(mmcos.end(), toLong.begin(), toLong.end());
  }
}

bool MvcJoiner::WriteParameterSets(const Component& c, std::uint32_t origPpsId, std::uint32_t& joinedPpsId,
                                   std::vector<std::uint8_t>& out) {
  const PpsCopy* copy = c.Pps(origPpsId);
  if (!copy) return false;
  const h264::Pps& pps = copy->parsed;
  const h264::Sps* sps = SpsOf(c.view, c.spsId);
  if (!sps) return false;
  const std::uint32_t spsId = pps.spsId;
  // The dependent view's SPS takes its VUI and crop from the base view's, so the decoder sees
  // one picture format; the base view's uses its own.
  const int vuiId = c.view == 0 ? static_cast<int>(spsId) : lastBaseSpsId_;
  const bool ownVui = vuiId < 0 || !sps_[static_cast<std::size_t>(vuiId)].valid;
  const h264::Sps& vuiSps = ownVui ? *sps : parsedSps_[static_cast<std::size_t>(vuiId)];
  const std::vector<std::uint8_t>& vuiRbsp = ownVui ? (c.view == 0 ? sps_[spsId].rbsp : subsetSps_[spsId].rbsp)
                                                     : sps_[static_cast<std::size_t>(vuiId)].rbsp;
  const std::uint64_t spsVersion = c.view == 0 ? sps_[spsId].version : subsetSps_[spsId].version;
  const std::uint64_t vuiVersion = ownVui ? 0 : sps_[static_cast<std::size_t>(vuiId)].version;

  auto find = [&c](auto& table, std::uint32_t origId) -> std::size_t {
    for (std::size_t i = 0; i < table.size(); ++i)
      if (table[i].used && table[i].view == c.view && table[i].origId == origId) return i;
    for (std::size_t i = 0; i < table.size(); ++i)
      if (!table[i].used) {
        table[i] = JoinedId{};
        table[i].used = true;
        table[i].view = c.view;
        table[i].origId = origId;
        return i;
      }
    return table.size();
  };
  const std::size_t spsSlot = find(joinedSps_, spsId);
  const std::size_t ppsSlot = find(joinedPps_, origPpsId);
  if (spsSlot >= joinedSps_.size() || ppsSlot >= joinedPps_.size()) return false;

  JoinedId& js = joinedSps_[spsSlot];
  if (js.versions[0] != spsVersion || js.versions[1] != vuiVersion || js.versions[2] != reorderDepth_ + 1) {
    const std::vector<std::uint8_t>& rbsp = c.view == 0 ? sps_[spsId].rbsp : subsetSps_[spsId].rbsp;
    BitWriter& w = writer_;
    w.Clear();
    std::uint32_t profile = sps->profileIdc;
    if (c.view == 1) profile = sps->bitDepthLuma > 8 || sps->bitDepthChroma > 8 ? 110 : 100;
    if (sps->chromaFormatIdc > 1) profile = 244;
    w.U(profile, 8);
    w.U(c.view == 0 ? sps->constraintFlags : 0, 8);
    w.U(sps->levelIdc, 8);
    w.Ue(static_cast<std::uint32_t>(spsSlot));
    if (h264::ProfileHasChromaFormat(profile)) h264::WriteFormatFields(*sps, rbsp.data(), w);
    w.Ue(16 - 4);  // log2_max_frame_num_minus4
    w.Ue(0);       // pic_order_cnt_type
    w.Ue(16 - 4);  // log2_max_pic_order_cnt_lsb_minus4
    w.Ue(kJoinedRefFrames);
    w.Flag(false);  // gaps_in_frame_num_value_allowed_flag
    w.CopyBits(rbsp.data(), sps->sizeBegin, sps->cropBegin);
    const bool sameGeometry = vuiSps.widthMbs == sps->widthMbs && vuiSps.heightMapUnits == sps->heightMapUnits &&
                              vuiSps.frameMbsOnly == sps->frameMbsOnly && vuiSps.chromaFormatIdc == sps->chromaFormatIdc;
    const h264::Sps& cropSps = sameGeometry ? vuiSps : *sps;
    const std::vector<std::uint8_t>& cropRbsp = sameGeometry ? vuiRbsp : rbsp;
    const std::size_t cropEnd = cropSps.vuiPresent ? cropSps.vuiBegin - 1 : cropSps.dataEndBit - 1;
    w.CopyBits(cropRbsp.data(), cropSps.cropBegin, cropEnd);
    w.Flag(true);  // vui_parameters_present_flag
    if (vuiSps.vuiPresent) {
      w.CopyBits(vuiRbsp.data(), vuiSps.vuiBegin, vuiSps.vuiRestriction);
    } else {
      w.U(0, 8);  // no aspect ratio, overscan, signal type, chroma location, timing, HRD, pic_struct
    }
    w.Flag(true);  // bitstream_restriction_flag
    w.Flag(true);  // motion_vectors_over_pic_boundaries_flag
    w.Ue(0);
    w.Ue(0);
    w.Ue(16);
    w.Ue(16);
    w.Ue(reorderDepth_);
    w.Ue(kJoinedRefFrames);
    w.TrailingBits();
    AppendNal(0x67, w.Bytes(), out);
    js.versions[0] = spsVersion;
    js.versions[1] = vuiVersion;
    js.versions[2] = reorderDepth_ + 1;
    // The decoder forgets the PPSs of an SPS that changes.
    for (JoinedId& p : joinedPps_)
      if (p.used && p.versions[1] == spsSlot + 1) p.versions[0] = 0;
  }
  JoinedId& jp = joinedPps_[ppsSlot];
  if (jp.versions[0] != copy->set.version || jp.versions[1] != spsSlot + 1) {
    const std::vector<std::uint8_t>& rbsp = copy->set.rbsp;
    BitWriter& w = writer_;
    w.Clear();
    w.Ue(static_cast<std::uint32_t>(ppsSlot));
    w.Ue(static_cast<std::uint32_t>(spsSlot));
    w.CopyBits(rbsp.data(), pps.idsEnd, pps.bottomFlag);
    w.Flag(true);  // bottom_field_pic_order_in_frame_present_flag: every frame carries its bottom count
    w.CopyBits(rbsp.data(), pps.bottomFlag + 1, pps.dataEndBit);
    w.TrailingBits();
    AppendNal(0x68, w.Bytes(), out);
    jp.versions[0] = copy->set.version;
    jp.versions[1] = spsSlot + 1;
  }
  joinedPpsId = static_cast<std::uint32_t>(ppsSlot);
  return true;
}

void MvcJoiner::WriteSlice(const Slice& s, const std::vector<ListModification> mods[2], const std::vector<Mmco>& mmcos,
                           const h264::Sps& sps, const h264::Pps& origPps, std::uint8_t nalHeader, bool joinedIdr,
                           std::uint32_t ppsId, std::vector<std::uint8_t>& out) {
  // The joined stream's layout: 16-bit frame_num and pic_order_cnt_lsb, a bottom count in
  // every frame.
  h264::Sps layout = sps;
  layout.log2MaxFrameNum = 16;
  layout.pocType = 0;
  layout.log2MaxPocLsb = 16;
  h264::Pps pps = origPps;
  pps.bottomFieldPicOrderInFramePresent = true;
  SliceHeader h = s.header;
  h.ppsId = ppsId;
  h.frameNum = frameNum_;
  h.pocLsb = pocLsb_;
  h.deltaPocBottom = deltaPocBottom_;
  h.numRefIdxOverride = true;
  for (int x = 0; x < 2; ++x) {
    h.modificationFlag[x] = true;
    h.modifications[x] = mods[x];
  }
  h.adaptiveMarking = true;  // never the decoder's own sliding window
  h.mmcos = mmcos;
  if (joinedIdr) h.longTermReference = joinedIdrLong_;
  h264::SliceContext context;
  context.idr = joinedIdr;
  context.refIdc = (nalHeader >> 5) & 3;
  BitWriter& w = writer_;
  w.Clear();
  h264::WriteSliceHeader(h, layout, pps, context, s.rbsp.data(), w);
  h264::WriteSliceData(s.header, pps.entropyCodingMode, s.rbsp.data(), s.rbsp.size(), w);
  AppendNal(nalHeader, w.Bytes(), out);
}

void MvcJoiner::Conceal(const Component& c) {
  if (c.view != 1) return;
  JoinedPicture p;
  p.view = 1;
  p.concealed = true;
  p.standIn = c.basePicture ? c.basePicture->serial : lastBaseSerial_;
  p.serial = ++serial_;
  p.stamp = c.stamp;
  out_.push_back(std::move(p));
  if (c.basePicture) c.basePicture->interViewHold &= static_cast<std::uint8_t>(~c.baseFields);
  if (!dependentLost_) {
    dependentLost_ = true;
    dpb_.ResetView(1);
  }
  dpb_.Collect();
}

void MvcJoiner::Emit(Component& c, bool expectDependent) {
  // The dependent view comes back at an IDR or anchor picture: it predicts from the base view
  // alone, and its counts start again level with the base view's.
  if (c.view == 1 && (c.idr || c.anchor) && dependentLost_) {
    dependentLost_ = false;
    dpb_.ResetView(1);
  }
  const h264::Sps* sps = SpsOf(c.view, c.spsId);
  if (c.broken || !sps || (c.view == 1 && dependentLost_)) {
    Conceal(c);
    return;
  }
  const SliceHeader& first = c.slices.front().header;
  PictureStart start;
  start.view = c.view;
  start.idr = c.idr;
  start.refIdc = c.refIdc;
  start.sps = sps;
  start.header = &first;
  StoredPicture* pic = dpb_.Start(start);
  if (!pic) {
    Conceal(c);
    return;
  }
  currentFields_ = dpb_.CurrentFields();
  const bool second = dpb_.CurrentIsSecondField();
  // A start at an I picture (after a seek) is an IDR picture of the joined stream: nothing before
  // it is there to refer to.
  const bool allIntra = std::all_of(c.slices.begin(), c.slices.end(), [](const Slice& s) { return s.header.IsIntra(); });
  const bool joinedIdr = c.view == 0 && !second && (c.idr || (!started_ && allIntra));
  // An inter-view-only base picture is a reference of the joined stream until its dependent view
  // is decoded. Both fields of a frame are references alike, or the decoder drops the second.
  const bool hold = c.view == 0 && c.interView && expectDependent;
  const bool joinedRef = second ? pic->joinedReference : c.refIdc != 0 || hold;
  if (hold && joinedRef) pic->interViewHold |= currentFields_;
  if (c.view == 0) {
    baseWasSecond_ = second;
    lastBaseSpsId_ = static_cast<int>(c.spsId);
  }

  if (joinedIdr) {
    frameNum_ = 0;
    prevPocMsb_ = prevPocLsb_ = 0;
  } else if (second) {
    frameNum_ = pic->joinedFrameNum;
  } else {
    frameNum_ = started_ ? static_cast<std::uint32_t>((prevRefFrameNum_ + 1) % kJoinedMaxFrameNum) : 0;
  }
  if (!second) {
    pic->joinedFrameNum = frameNum_;
    pic->joinedReference = joinedRef;
  }

  // The picture order count, as type 0 with 16-bit lsb against the joined stream's last reference.
  const std::int64_t target = currentFields_ == kBottomField ? pic->joinedPoc[1] : pic->joinedPoc[0];
  const std::int64_t lsb = ((target % kJoinedMaxPocLsb) + kJoinedMaxPocLsb) % kJoinedMaxPocLsb;
  std::int64_t msb = prevPocMsb_;
  if (lsb < prevPocLsb_ && prevPocLsb_ - lsb >= kJoinedMaxPocLsb / 2) msb += kJoinedMaxPocLsb;
  else if (lsb > prevPocLsb_ && lsb - prevPocLsb_ > kJoinedMaxPocLsb / 2) msb -= kJoinedMaxPocLsb;
  pocLsb_ = static_cast<std::uint32_t>(lsb);
  deltaPocBottom_ = currentFields_ == kBothFields
                        ? static_cast<std::int32_t>(std::clamp<std::int64_t>(pic->joinedPoc[1] - pic->joinedPoc[0], INT32_MIN / 2, INT32_MAX / 2))
                        : 0;

  InterViewContext iv;
  if (c.view == 1 && c.basePicture && (c.basePicture->interViewHold & c.baseFields)) {
    iv.basePicture = c.basePicture;
    iv.baseFields = c.baseFields;
    iv.baseViewId = baseViewId_;
    if (const h264::MvcView* v = DependentViewOf(c.spsId)) {
      iv.refs[0] = c.anchor ? &v->anchorL0 : &v->nonAnchorL0;
      iv.refs[1] = c.anchor ? &v->anchorL1 : &v->nonAnchorL1;
    }
  }
  std::vector<std::vector<ListModification>> mods(c.slices.size() * 2);
  // A second field goes right behind its first, or the decoder takes it for a new picture.
  bool ok = !second || lastJoined_ == pic;
  for (std::size_t i = 0; i < c.slices.size() && ok; ++i) {
    std::vector<RefEntry> lists[2];
    dpb_.BuildLists(c.slices[i].header, iv, lists);
    ok = JoinedLists(c.slices[i].header, lists, &mods[2 * i]);
  }
  dpb_.Finish();
  if (!ok) {
    // Nothing in the decoder's buffer to predict from, or a field the joined stream cannot
    // pair: the view's stream is broken here.
    pic->interViewHold = 0;
    if (c.view == 1) Conceal(c);
    dpb_.Collect();
    return;
  }
  std::vector<Mmco> mmcos;
  if (joinedRef) JoinedMarking(*pic, second, joinedIdr, mmcos);

  JoinedPicture out;
  out.view = c.view;
  out.serial = ++serial_;
  out.stamp = c.stamp;
  const std::uint8_t nalHeader =
      static_cast<std::uint8_t>((joinedRef ? (c.refIdc ? c.refIdc : 1u) : 0u) << 5 | (joinedIdr ? 5 : 1));
  for (std::size_t i = 0; i < c.slices.size(); ++i) {
    std::uint32_t ppsId = 0;
    if (!WriteParameterSets(c, c.slices[i].header.ppsId, ppsId, out.bytes)) continue;
    WriteSlice(c.slices[i], &mods[2 * i], mmcos, *sps, c.Pps(c.slices[i].header.ppsId)->parsed, nalHeader, joinedIdr,
               ppsId, out.bytes);
  }
  if (!second) pic->serial = out.serial;
  if (c.view == 0) lastBaseSerial_ = pic->serial;
  out_.push_back(std::move(out));

  lastJoined_ = pic;
  if (joinedRef) {
    prevRefFrameNum_ = frameNum_;
    prevPocMsb_ = msb;
    prevPocLsb_ = lsb;
  }
  started_ = true;
  if (c.view == 1 && c.basePicture) c.basePicture->interViewHold &= static_cast<std::uint8_t>(~c.baseFields);
  dpb_.Collect();
}

}  // namespace swrt
