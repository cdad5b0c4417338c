#include "container_streams.h"

#include <algorithm>
#include <cstring>

#include "nal_framing.h"

namespace korvala {

namespace {

// A unit reader reads on to a packet this close ahead rather than seeking.
constexpr int64_t kReadOnBytes = 8 << 20;
// Laid-out bytes kept before the unread ones are moved to the front.
constexpr size_t kCompactBytes = 1 << 20;
// Packets held for their partners beyond this are settled unpaired: far more than an SSIF
// extent, far less than damaged input could make one view run ahead.
constexpr size_t kMaxHeldBytes = size_t{96} << 20;

}  // namespace

bool ContainerPlan::TwoViews() const {
  for (const Clip& c : clips)
    if (c.id[1] >= 0) return true;
  return false;
}

void LayOut(const ContainerPlan& plan, const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  if (plan.matroska && plan.lengthSize > 0) AppendAnnexB(data, size, plan.lengthSize, out);
  else if (size > 0) out.insert(out.end(), data, data + size);
}

// ---------------------------------------------------------------------------------------------
// The pass.

LayoutBuilder::LayoutBuilder(std::shared_ptr<const ContainerPlan> plan, bool twoViews, std::shared_ptr<Layout> layout,
                             size_t aheadBytes)
    : plan_(std::move(plan)), twoViews_(twoViews && plan_->TwoViews()), layout_(std::move(layout)), aheadBytes_(aheadBytes) {}

LayoutBuilder::~LayoutBuilder() = default;

size_t LayoutBuilder::Read(int view, uint8_t* to, size_t n) {
  view = view ? 1 : 0;
  std::vector<uint8_t>& pending = pending_[view];
  const int other = 1 - view;
  stalled_[view] = false;
  while (pending.size() - head_[view] < n) {
    if (Unread(other) > aheadBytes_) {
      stalled_[view] = true;
      break;
    }
    if (!Produce()) break;
  }
  const size_t take = std::min(n, pending.size() - head_[view]);
  if (take > 0) std::memcpy(to, pending.data() + head_[view], take);
  head_[view] += take;
  consumed_[view] += take;
  if (head_[view] == pending.size()) {
    pending.clear();
    head_[view] = 0;
  } else if (head_[view] >= kCompactBytes && head_[view] * 2 >= pending.size()) {
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(head_[view]));
    head_[view] = 0;
  }
  return take;
}

bool LayoutBuilder::OpenClip() {
  if (clip_ >= plan_->clips.size()) {
    done_ = true;
    return false;
  }
  const ContainerPlan::Clip& c = plan_->clips[clip_];
  const bool dependent = twoViews_ && c.id[1] >= 0;
  separate_ = !c.path[1].empty();
  ended_[0] = !demux_[0].Open(c.path[0], plan_->Format());
  if (separate_) {
    demux_[0].Want({c.id[0]});
    ended_[1] = !dependent || !demux_[1].Open(c.path[1], plan_->Format());
    demux_[1].Want({c.id[1]});
  } else {
    demux_[0].Want(dependent ? std::vector<int>{c.id[0], c.id[1]} : std::vector<int>{c.id[0]});
    ended_[1] = !dependent || ended_[0];
  }
  for (int v = 0; v < (separate_ ? 2 : 1); ++v) {
    if (c.from[v] <= 0 || ended_[v]) continue;
    if (!demux_[v].Discover(c.id[v]) || !demux_[v].SeekToByte(c.from[v])) {
      ended_[v] = true;
      if (!separate_) ended_[1] = true;
    }
  }
  if (clip_ == 0 && plan_->headerSize > 0) EmitConstant(0, plan_->headerAt, plan_->headerSize);
  clipOpen_ = true;
  return true;
}

void LayoutBuilder::CloseClip() {
  demux_[0].Close();
  demux_[1].Close();
  pairer_.Clear();
  clipOpen_ = false;
  ++clip_;
}

uint32_t LayoutBuilder::Hold(const RawPacket& p) {
  uint32_t slot;
  if (!free_.empty()) {
    slot = free_.back();
    free_.pop_back();
  } else {
    slot = static_cast<uint32_t>(slots_.size());
    slots_.emplace_back();
  }
  Held& h = slots_[slot];
  h.bytes.assign(p.data, p.data + p.size);
  h.pos = p.pos;
  h.pts = p.pts;
  heldBytes_ += h.bytes.size();
  return slot;
}

void LayoutBuilder::Release(uint32_t slot) {
  heldBytes_ -= slots_[slot].bytes.size();
  free_.push_back(slot);
}

void LayoutBuilder::Emit(int view, uint32_t slot) {
  const Held& h = slots_[slot];
  std::vector<uint8_t>& out = pending_[view];
  const size_t before = out.size();
  LayOut(*plan_, h.bytes.data(), h.bytes.size(), out);
  const size_t size = out.size() - before;
  if (size > 0) {
    if (layout_)
      layout_->pieces[view].push_back(
          Piece{laid_[view], h.pos, h.pts, static_cast<uint32_t>(size), static_cast<uint16_t>(clip_), false});
    laid_[view] += size;
  }
  Release(slot);
}

void LayoutBuilder::EmitConstant(int view, size_t at, size_t size) {
  if (size == 0 || at + size > plan_->constants.size()) return;
  const uint8_t* bytes = plan_->constants.data() + at;
  pending_[view].insert(pending_[view].end(), bytes, bytes + size);
  if (layout_)
    layout_->pieces[view].push_back(Piece{laid_[view], static_cast<int64_t>(at), 0, static_cast<uint32_t>(size),
                                          static_cast<uint16_t>(clip_), true});
  laid_[view] += size;
}

bool LayoutBuilder::ReadPacket() {
  const ContainerPlan::Clip& c = plan_->clips[clip_];
  // Two files: the one whose view is behind goes on.
  int source = 0;
  if (separate_) {
    if (ended_[0]) source = 1;
    else if (!ended_[1] && pairer_.Pending(1) < pairer_.Pending(0)) source = 1;
  }
  if (ended_[source]) return false;
  RawPacket p;
  if (!demux_[source].Next(p)) {
    if (separate_) {
      ended_[source] = true;
    } else {
      ended_[0] = ended_[1] = true;
    }
    return false;
  }
  // A stretch: a packet the demuxer held from before the seek is left out, and its end ends it.
  if (p.pos >= 0 && p.pos < c.from[source]) return true;
  if (c.to[source] >= 0 && p.pos >= c.to[source]) {
    if (separate_) ended_[source] = true;
    else ended_[0] = ended_[1] = true;
    return false;
  }
  const int view = separate_ ? source : (p.id == c.id[0] ? 0 : 1);
  if (!twoViews_) {
    if (view == 0) Emit(0, Hold(p));
    return true;
  }
  pairer_.Push(view, p.pts, Hold(p));
  return true;
}

bool LayoutBuilder::Produce() {
  if (done_) return false;
  if (!clipOpen_) return OpenClip();
  if (twoViews_) {
    for (;;) {
      const ViewPairer::Decision d = pairer_.Next(ended_[0], ended_[1], heldBytes_ > kMaxHeldBytes);
      if (d.step == ViewPairer::Step::kWait) break;
      if (d.step == ViewPairer::Step::kDropDependent) {
        Release(d.dependent);
        continue;
      }
      Emit(0, d.base);
      if (d.step == ViewPairer::Step::kPair) Emit(1, d.dependent);
      else EmitConstant(1, 0, ContainerPlan::kStandInSize);
      return true;
    }
  }
  const bool over = ended_[0] && (ended_[1] || !twoViews_);
  if (over && pairer_.Pending(0) == 0 && pairer_.Pending(1) == 0) {
    CloseClip();
    return true;
  }
  ReadPacket();
  return true;
}

// ---------------------------------------------------------------------------------------------
// Readers.

size_t BuilderSource::ReadAt(uint64_t offset, uint8_t* to, size_t n) {
  uint64_t at = builder_->Consumed(view_);
  if (offset < at) return 0;
  uint8_t skip[4096];
  while (at < offset) {
    const size_t got = builder_->Read(view_, skip, static_cast<size_t>(std::min<uint64_t>(sizeof skip, offset - at)));
    if (got == 0) return 0;
    at += got;
  }
  return builder_->Read(view_, to, n);
}

size_t SequentialSource::ReadAt(uint64_t offset, uint8_t* to, size_t n) {
  if (!builder_ || offset < builder_->Consumed(0)) builder_ = std::make_unique<LayoutBuilder>(plan_, false, nullptr);
  uint8_t skip[4096];
  for (uint64_t at = builder_->Consumed(0); at < offset; at = builder_->Consumed(0))
    if (builder_->Read(0, skip, static_cast<size_t>(std::min<uint64_t>(sizeof skip, offset - at))) == 0) return 0;
  return builder_->Read(0, to, n);
}

size_t PieceSource::ReadAt(uint64_t offset, uint8_t* to, size_t n) {
  const std::vector<Piece>& pieces = layout_->pieces[view_];
  size_t done = 0;
  while (done < n) {
    const size_t index = PieceAt(pieces, offset);
    if (index == SIZE_MAX) break;
    const Piece& p = pieces[index];
    if (offset >= p.offset + p.size || !Fetch(index)) break;
    const uint8_t* bytes = p.constant ? plan_->constants.data() + p.pos : bytes_.data();
    const size_t within = static_cast<size_t>(offset - p.offset);
    const size_t take = std::min<size_t>(n - done, p.size - within);
    std::memcpy(to + done, bytes + within, take);
    done += take;
    offset += take;
  }
  return done;
}

bool PieceSource::Fetch(size_t index) {
  const Piece& p = layout_->pieces[view_][index];
  if (p.constant) return p.pos >= 0 && static_cast<size_t>(p.pos) + p.size <= plan_->constants.size();
  if (cached_ == index) return true;
  if (p.clip >= plan_->clips.size()) return false;
  const ContainerPlan::Clip& c = plan_->clips[p.clip];
  if (openClip_ != p.clip) {
    openClip_ = -1;
    const std::string& path = c.path[1].empty() ? c.path[0] : c.path[view_];
    if (!demux_.Open(path, plan_->Format())) return false;
    demux_.Want({c.id[view_]});
    openClip_ = p.clip;
    lastPos_ = -1;
  }
  const bool near = lastPos_ >= 0 && p.pos > lastPos_ && p.pos - lastPos_ <= kReadOnBytes;
  if (!(near && Find(p, false)) && !Find(p, true)) {
    // Landed past it (a time seek without exact cues): from the start once more.
    if (demux_.ByteSeekable() || !demux_.SeekToTime(c.id[view_], kNoTimestamp) || !Find(p, false)) {
      cached_ = SIZE_MAX;
      return false;
    }
  }
  cached_ = index;
  return true;
}

bool PieceSource::Find(const Piece& p, bool seek) {
  const int id = plan_->clips[p.clip].id[view_];
  if (seek) {
    if (demux_.ByteSeekable()) {
      if (!demux_.Discover(id) || !demux_.SeekToByte(p.pos)) return false;
    } else if (!demux_.SeekToTime(id, p.pts)) {
      return false;
    }
  }
  RawPacket r;
  while (demux_.Next(r)) {
    if (r.pos < 0) continue;
    lastPos_ = r.pos;
    if (r.pos == p.pos) {
      bytes_.clear();
      LayOut(*plan_, r.data, static_cast<size_t>(r.size), bytes_);
      // The same bytes as the pass laid out, or (a file changed since) as many.
      bytes_.resize(p.size);
      return true;
    }
    if (r.pos > p.pos) return false;
  }
  return false;
}

}  // namespace korvala
