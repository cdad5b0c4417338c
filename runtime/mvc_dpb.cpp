#include "mvc_dpb.h"

#include "poc.h"

#include <algorithm>

namespace swrt {

using h264::Mmco;
using h264::SliceHeader;
using h264::Sps;

std::int32_t StoredPicture::Poc(std::uint8_t fields) const {
  switch (fields & decoded) {
    case kBothFields: return std::min(poc[0], poc[1]);
    case kTopField: return poc[0];
    case kBottomField: return poc[1];
    default: return std::min(poc[0], poc[1]);
  }
}

namespace {

std::uint8_t FieldsOf(const SliceHeader& h) {
  if (!h.fieldPic) return kBothFields;
  return h.bottomField ? kBottomField : kTopField;
}

std::uint8_t Opposite(std::uint8_t field) { return field == kTopField ? kBottomField : kTopField; }

// Fields of the pictures of a frame list, alternating parity from `first` (a frame list
// ordered for field decoding becomes a field list).
void AlternateFields(const std::vector<StoredPicture*>& frames, std::uint8_t first, bool longTerm,
                     std::vector<RefEntry>& out) {
  auto marked = [longTerm](const StoredPicture* p, std::uint8_t f) {
    return ((longTerm ? p->longRef : p->shortRef) & f) != 0;
  };
  std::size_t i = 0, j = 0;  // next candidates of the same and the opposite parity
  const std::uint8_t second = Opposite(first);
  bool wantSame = true;
  for (;;) {
    while (i < frames.size() && !marked(frames[i], first)) ++i;
    while (j < frames.size() && !marked(frames[j], second)) ++j;
    const bool haveSame = i < frames.size(), haveOpposite = j < frames.size();
    if (!haveSame && !haveOpposite) break;
    if ((wantSame && haveSame) || !haveOpposite) {
      out.push_back({frames[i++], first});
    } else {
      out.push_back({frames[j++], second});
    }
    wantSame = !wantSame;
  }
}

}  // namespace

MvcDpb::MvcDpb() = default;

StoredPicture* MvcDpb::NewPicture(int view) {
  auto p = std::make_unique<StoredPicture>();
  p->id = nextId_++;
  p->view = view;
  pictures_.push_back(std::move(p));
  return pictures_.back().get();
}

void MvcDpb::Clear() {
  pictures_.clear();
  for (ViewState& v : views_) v = ViewState{};
  current_ = lastStarted_[0] = lastStarted_[1] = nullptr;
  pocOffset_[0] = pocOffset_[1] = 0;
}

void MvcDpb::ResetView(int view) {
  for (auto& p : pictures_)
    if (p->view == view) p->shortRef = p->longRef = 0;
  views_[view] = ViewState{};
}

void MvcDpb::Collect() {
  pictures_.erase(std::remove_if(pictures_.begin(), pictures_.end(),
                                 [this](const std::unique_ptr<StoredPicture>& p) {
                                   return p.get() != current_ && !p->IsReference() && !p->InJoinedDpb() &&
                                          p->interViewHold == 0 && views_[p->view].lastField != p.get() &&
                                          lastStarted_[p->view] != p.get();
                                 }),
                  pictures_.end());
}

void MvcDpb::UnmarkAll(int view) {
  for (auto& p : pictures_)
    if (p->view == view && p.get() != current_) p->shortRef = p->longRef = 0;
}

std::int64_t MvcDpb::FrameNumWrap(const StoredPicture& p) const {
  const std::int64_t fn = p.frameNum;
  return fn > firstSlice_.frameNum ? fn - sps_.MaxFrameNum() : fn;
}

RefEntry MvcDpb::Find(std::int64_t number, bool longTerm) const {
  for (const auto& p : pictures_) {
    const std::uint8_t marked = longTerm ? p->longRef : p->shortRef;
    if (p->view != start_.view || !marked) continue;
    const std::int64_t frameValue = longTerm ? std::int64_t{p->longTermFrameIdx} : FrameNumWrap(*p);
    if (currentFields_ == kBothFields) {
      if (p.get() != current_ && frameValue == number) return {p.get(), kBothFields};
      continue;
    }
    for (std::uint8_t f : {kTopField, kBottomField})
      if ((marked & f) && !(p.get() == current_ && f == currentFields_) &&
          FieldNumber(frameValue, f, currentFields_) == number)
        return {p.get(), f};
  }
  return {};
}

void MvcDpb::SlidingWindow(int view, const Sps& sps) {
  std::size_t numShort = 0, numLong = 0;
  StoredPicture* oldest = nullptr;
  for (auto& p : pictures_) {
    if (p->view != view || p.get() == current_) continue;
    if (p->shortRef) {
      ++numShort;
      if (!oldest || FrameNumWrap(*p) < FrameNumWrap(*oldest)) oldest = p.get();
    } else if (p->longRef) {
      ++numLong;
    }
  }
  if (oldest && numShort + numLong >= std::max<std::uint32_t>(sps.maxNumRefFrames, 1)) oldest->shortRef = 0;
}

void MvcDpb::FillGap(ViewState& vs, const Sps& sps, std::uint32_t frameNum) {
  const std::uint32_t max = sps.MaxFrameNum();
  const std::uint32_t count = (frameNum + max - (vs.prevRefFrameNum + 1) % max) % max;
  // Only the last max_num_ref_frames inferred frames can survive the sliding window; older
  // short-term references of the view go either way.
  const std::uint32_t keep = std::max<std::uint32_t>(sps.maxNumRefFrames, 1);
  if (count > keep)
    for (auto& p : pictures_)
      if (p->view == start_.view && p.get() != current_) p->shortRef = 0;
  std::uint32_t unused = (vs.prevRefFrameNum + 1) % max;
  for (std::uint32_t k = 0; k < count; ++k, unused = (unused + 1) % max) {
    // The inferred frames advance frame_num for the picture order count of types 1 and 2.
    if (vs.prevFrameNum > unused) vs.prevFrameNumOffset += max;
    vs.prevFrameNum = unused;
    if (count - k > keep) continue;
    const std::uint32_t saved = firstSlice_.frameNum;
    firstSlice_.frameNum = unused;  // FrameNumWrap is relative to the inferred frame
    SlidingWindow(start_.view, sps);
    firstSlice_.frameNum = saved;
    StoredPicture* p = NewPicture(start_.view);
    p->nonExisting = true;
    p->codedAsFrame = true;
    p->decoded = kBothFields;
    p->reference = true;
    p->frameNum = unused;
    p->shortRef = kBothFields;
  }
  vs.prevHadMmco5 = false;
  vs.prevRefFrameNum = (frameNum + max - 1) % max;
}

void MvcDpb::ComputePoc(ViewState& vs, const PictureStart& start) {
  const Sps& sps = *start.sps;
  const SliceHeader& h = *start.header;
  const bool ref = start.refIdc != 0;
  std::int64_t top = 0, bottom = 0;
  if (start.idr) {
    vs.prevPocMsb = 0;
    vs.prevPocLsb = 0;
    frameNumOffset_ = 0;
  } else {
    const std::int64_t prevOffset = vs.prevHadMmco5 ? 0 : vs.prevFrameNumOffset;
    frameNumOffset_ = vs.prevFrameNum > h.frameNum ? prevOffset + sps.MaxFrameNum() : prevOffset;
  }
  if (sps.pocType == 0) {
    const std::int64_t maxLsb = std::int64_t{1} << sps.log2MaxPocLsb;
    const std::int64_t lsb = h.pocLsb, prevLsb = vs.prevPocLsb;
    if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2)
      pocMsb_ = vs.prevPocMsb + maxLsb;
    else if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2)
      pocMsb_ = vs.prevPocMsb - maxLsb;
    else
      pocMsb_ = vs.prevPocMsb;
    top = pocMsb_ + lsb;
    bottom = h.fieldPic ? top : top + h.deltaPocBottom;
  } else if (sps.pocType == 1) {
    h264::PocType1(sps, h, frameNumOffset_, ref, top, bottom);
  } else {
    std::int64_t temp = start.idr ? 0 : 2 * (frameNumOffset_ + h.frameNum) - (ref ? 0 : 1);
    top = bottom = temp;
  }
  auto clamp = [](std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN / 2, INT32_MAX / 2));
  };
  StoredPicture& p = *current_;
  if (currentFields_ & kTopField) p.poc[0] = clamp(top);
  if (currentFields_ & kBottomField) p.poc[1] = clamp(bottom);
  currentPoc_ = currentFields_ == kBothFields ? std::min(p.poc[0], p.poc[1])
                                              : p.poc[currentFields_ == kBottomField ? 1 : 0];
  if ((start.idr || !vs.started) && !secondField_) pocOffset_[start.view] = -std::int64_t{currentPoc_};
  for (int f = 0; f < 2; ++f)
    if (currentFields_ & (1 << f)) p.joinedPoc[f] = p.poc[f] + pocOffset_[start.view];
}

bool MvcDpb::PairsWithLastField(const PictureStart& start) const {
  if (!start.header || start.view < 0 || start.view > 1) return false;
  const StoredPicture* first = views_[start.view].lastField;
  const SliceHeader& h = *start.header;
  return first && h.fieldPic && !start.idr && !(first->decoded & FieldsOf(h)) && first->frameNum == h.frameNum &&
         first->reference == (start.refIdc != 0) && !first->hasMmco5;
}

StoredPicture* MvcDpb::Start(const PictureStart& start) {
  if (!start.sps || !start.header || start.view < 0 || start.view > 1) return nullptr;
  ViewState& vs = views_[start.view];
  start_ = start;
  sps_ = *start.sps;
  firstSlice_ = *start.header;
  start_.sps = &sps_;
  start_.header = &firstSlice_;
  const SliceHeader& h = firstSlice_;
  currentFields_ = FieldsOf(h);
  current_ = nullptr;

  secondField_ = PairsWithLastField(start);
  StoredPicture* first = vs.lastField;
  if (secondField_) {
    current_ = first;
  } else {
    if (start.idr) {
      UnmarkAll(start.view);
      vs.prevRefFrameNum = 0;
    } else if (vs.started && h.frameNum != vs.prevRefFrameNum &&
               h.frameNum != (vs.prevRefFrameNum + 1) % sps_.MaxFrameNum()) {
      FillGap(vs, sps_, h.frameNum);
    }
    current_ = NewPicture(start.view);
    current_->frameNum = h.frameNum;
    current_->reference = start.refIdc != 0;
  }
  lastStarted_[start.view] = current_;
  ComputePoc(vs, start_);
  return current_;
}

void MvcDpb::InitLists(const SliceHeader& slice, std::vector<RefEntry> lists[2]) const {
  const int view = start_.view;
  std::vector<StoredPicture*> shortTerm, longTerm;
  const bool frame = currentFields_ == kBothFields;
  for (const auto& p : pictures_) {
    if (p->view != view) continue;
    if (frame) {
      if (p.get() == current_) continue;
      if (p->shortRef == kBothFields) shortTerm.push_back(p.get());
      else if (p->longRef == kBothFields) longTerm.push_back(p.get());
    } else {
      if (p->shortRef) shortTerm.push_back(p.get());
      if (p->longRef) longTerm.push_back(p.get());
    }
  }
  auto byLongIdx = [](const StoredPicture* a, const StoredPicture* b) {
    return a->longTermFrameIdx < b->longTermFrameIdx;
  };
  std::stable_sort(longTerm.begin(), longTerm.end(), byLongIdx);
  auto emit = [&](const std::vector<StoredPicture*>& frames, bool isLong, std::vector<RefEntry>& out) {
    if (frame) {
      for (StoredPicture* p : frames) out.push_back({p, kBothFields});
    } else {
      AlternateFields(frames, currentFields_, isLong, out);
    }
  };

  if (!slice.IsB()) {
    std::stable_sort(shortTerm.begin(), shortTerm.end(), [this](const StoredPicture* a, const StoredPicture* b) {
      return FrameNumWrap(*a) > FrameNumWrap(*b);
    });
    emit(shortTerm, false, lists[0]);
    emit(longTerm, true, lists[0]);
    return;
  }

  // B slices: short-term pictures by picture order count around the current one.
  const std::int32_t cur = currentPoc_;
  auto pocOf = [this](const StoredPicture* p) {
    if (p == current_) return p->Poc(Opposite(currentFields_));
    return p->Poc(currentFields_ == kBothFields ? std::uint8_t{kBothFields} : p->shortRef);
  };
  std::vector<StoredPicture*> before, after;
  for (StoredPicture* p : shortTerm) {
    if (p->nonExisting) continue;
    const std::int32_t poc = pocOf(p);
    // Frames take the strictly earlier ones first; fields those up to and including the current.
    if (poc < cur || (!frame && poc == cur)) before.push_back(p);
    else after.push_back(p);
  }
  std::stable_sort(before.begin(), before.end(),
                   [&](const StoredPicture* a, const StoredPicture* b) { return pocOf(a) > pocOf(b); });
  std::stable_sort(after.begin(), after.end(),
                   [&](const StoredPicture* a, const StoredPicture* b) { return pocOf(a) < pocOf(b); });
  std::vector<StoredPicture*> order0 = before, order1 = after;
  order0.insert(order0.end(), after.begin(), after.end());
  order1.insert(order1.end(), before.begin(), before.end());
  emit(order0, false, lists[0]);
  emit(longTerm, true, lists[0]);
  emit(order1, false, lists[1]);
  emit(longTerm, true, lists[1]);
  if (lists[1].size() > 1 && lists[0] == lists[1]) std::swap(lists[1][0], lists[1][1]);
}

bool MvcDpb::BuildLists(const SliceHeader& slice, const InterViewContext& iv, std::vector<RefEntry> lists[2]) {
  lists[0].clear();
  lists[1].clear();
  if (!current_ || slice.IsIntra()) return true;
  InitLists(slice, lists);
  const int count = slice.IsB() ? 2 : 1;
  for (int x = 0; x < count; ++x) {
    if (iv.basePicture && iv.refs[x])
      for (std::uint32_t id : *iv.refs[x])
        if (id == iv.baseViewId) lists[x].push_back({iv.basePicture, iv.baseFields});
  }
  const std::int64_t maxPicNum = std::int64_t{sps_.MaxFrameNum()} * (currentFields_ == kBothFields ? 1 : 2);
  const std::int64_t currPicNum = currentFields_ == kBothFields ? firstSlice_.frameNum : 2 * std::int64_t{firstSlice_.frameNum} + 1;
  bool complete = true;
  for (int x = 0; x < count; ++x) {
    std::vector<RefEntry>& list = lists[x];
    const std::size_t active = slice.numRefIdxActive[x];
    list.resize(active + 1);  // truncates a longer initial list, pads a shorter one
    std::int64_t picNumPred = currPicNum;
    std::int64_t viewIdxPred = -1;
    std::size_t refIdx = 0;
    for (const h264::ListModification& m : slice.modifications[x]) {
      if (refIdx >= active) break;
      RefEntry target;
      if (m.idc <= 1) {
        const std::int64_t abs = std::int64_t{m.value} + 1;
        if (abs > maxPicNum) return false;
        std::int64_t noWrap = m.idc == 0 ? picNumPred - abs : picNumPred + abs;
        if (noWrap < 0) noWrap += maxPicNum;
        if (noWrap >= maxPicNum) noWrap -= maxPicNum;
        picNumPred = noWrap;
        target = FindShort(noWrap > currPicNum ? noWrap - maxPicNum : noWrap);
      } else if (m.idc == 2) {
        target = FindLong(m.value);
      } else {
        const std::vector<std::uint32_t>* ids = iv.refs[x];
        const std::int64_t n = ids ? static_cast<std::int64_t>(ids->size()) : 0;
        const std::int64_t abs = std::int64_t{m.value} + 1;
        if (n == 0 || abs > n) return false;
        std::int64_t idx = m.idc == 4 ? viewIdxPred - abs : viewIdxPred + abs;
        if (idx < 0) idx += n;
        if (idx >= n) idx -= n;
        if (idx < 0 || idx >= n) return false;
        viewIdxPred = idx;
        if ((*ids)[static_cast<std::size_t>(idx)] == iv.baseViewId && iv.basePicture)
          target = {iv.basePicture, iv.baseFields};
      }
      if (!target.picture) complete = false;
      for (std::size_t c = active; c > refIdx; --c) list[c] = list[c - 1];
      list[refIdx++] = target;
      std::size_t n = refIdx;
      for (std::size_t c = refIdx; c <= active; ++c)
        if (!(list[c] == target)) list[n++] = list[c];
    }
    list.resize(active);
  }
  return complete;
}

bool MvcDpb::Adaptive(int view, const std::vector<Mmco>& mmcos, bool& currentLong, bool& reset) {
  bool found = true;
  ViewState& vs = views_[view];
  const std::int64_t currPicNum = currentFields_ == kBothFields ? firstSlice_.frameNum : 2 * std::int64_t{firstSlice_.frameNum} + 1;
  auto freeIndex = [&](std::uint32_t idx, const StoredPicture* keep) {
    for (auto& p : pictures_)
      if (p->view == view && p.get() != keep && p->longRef && p->longTermFrameIdx == idx) p->longRef = 0;
  };
  for (const Mmco& m : mmcos) {
    switch (m.op) {
      case 1: {
        RefEntry e = FindShort(currPicNum - (std::int64_t{m.differenceOfPicNumsMinus1} + 1));
        if (e.picture) e.picture->shortRef &= static_cast<std::uint8_t>(~e.fields);
        found = found && e.picture;
        break;
      }
      case 2: {
        RefEntry e = FindLong(m.longTermPicNum);
        if (e.picture) e.picture->longRef &= static_cast<std::uint8_t>(~e.fields);
        found = found && e.picture;
        break;
      }
      case 3: {
        RefEntry e = FindShort(currPicNum - (std::int64_t{m.differenceOfPicNumsMinus1} + 1));
        if (!e.picture) {
          found = false;
          break;
        }
        freeIndex(m.longTermFrameIdx, e.picture);
        if (e.picture->longRef && e.picture->longTermFrameIdx != m.longTermFrameIdx) e.picture->longRef = 0;
        e.picture->shortRef &= static_cast<std::uint8_t>(~e.fields);
        e.picture->longRef |= e.fields;
        e.picture->longTermFrameIdx = m.longTermFrameIdx;
        break;
      }
      case 4:
        vs.maxLongTermFrameIdx = static_cast<std::int32_t>(m.maxLongTermFrameIdxPlus1) - 1;
        for (auto& p : pictures_)
          if (p->view == view && p->longRef &&
              static_cast<std::int64_t>(p->longTermFrameIdx) > vs.maxLongTermFrameIdx)
            p->longRef = 0;
        break;
      case 5:
        UnmarkAll(view);
        vs.maxLongTermFrameIdx = -1;
        reset = true;
        break;
      case 6:
        freeIndex(m.longTermFrameIdx, current_);
        if (current_->longRef && current_->longTermFrameIdx != m.longTermFrameIdx) current_->longRef = 0;
        current_->shortRef &= static_cast<std::uint8_t>(~currentFields_);
        current_->longRef |= currentFields_;
        current_->longTermFrameIdx = m.longTermFrameIdx;
        currentLong = true;
        break;
      default:
        break;
    }
  }
  return found;
}

bool MvcDpb::Finish() {
  if (!current_) return false;
  const int view = start_.view;
  ViewState& vs = views_[view];
  const SliceHeader& h = firstSlice_;
  StoredPicture& p = *current_;
  const bool ref = start_.refIdc != 0;
  p.decoded |= currentFields_;
  p.codedAsFrame = currentFields_ == kBothFields;
  bool reset = false, found = true;
  if (ref) {
    if (start_.idr) {
      UnmarkAll(view);
      if (h.longTermReference) {
        p.longRef |= currentFields_;
        p.longTermFrameIdx = 0;
        vs.maxLongTermFrameIdx = 0;
      } else {
        p.shortRef |= currentFields_;
        vs.maxLongTermFrameIdx = -1;
      }
    } else {
      bool currentLong = false;
      const bool firstFieldShort = secondField_ && (p.shortRef & ~currentFields_);
      if (h.adaptiveMarking)
        found = Adaptive(view, h.mmcos, currentLong, reset);
      else if (!firstFieldShort)
        SlidingWindow(view, sps_);
      if (!currentLong) {
        if (secondField_ && (p.longRef & ~currentFields_)) p.longRef |= currentFields_;
        else p.shortRef |= currentFields_;
      }
    }
  }
  p.hasMmco5 = reset;
  if (reset) {
    // Operation 5: the picture's count restarts from zero, and the joined stream goes on from
    // where this picture stood.
    const std::int32_t temp = currentPoc_;
    if (currentFields_ & kTopField) p.poc[0] -= temp;
    if (currentFields_ & kBottomField) p.poc[1] -= temp;
    p.frameNum = 0;
    pocOffset_[view] += temp;
  }
  if (ref) {
    vs.prevRefFrameNum = reset ? 0 : h.frameNum;
    if (reset) {
      vs.prevPocMsb = 0;
      vs.prevPocLsb = currentFields_ == kBottomField ? 0 : static_cast<std::uint32_t>(std::max(p.poc[0], 0));
    } else {
      vs.prevPocMsb = pocMsb_;
      vs.prevPocLsb = h.pocLsb;
    }
  }
  vs.prevHadMmco5 = reset;
  vs.prevFrameNumOffset = frameNumOffset_;
  vs.prevFrameNum = reset ? 0 : h.frameNum;
  vs.lastField = (currentFields_ != kBothFields && !secondField_) ? current_ : nullptr;
  vs.started = true;
  return found;
}

}  // namespace swrt
