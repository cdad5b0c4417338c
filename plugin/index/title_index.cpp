#include "title_index.h"

#include <algorithm>
#include <map>
#include <vector>

#include "container_probe.h"
#include "index_scan.h"
#include "unit_index.h"

namespace korvala {

namespace {

constexpr uint32_t kStretchUnits = 1 << 16;  // a unit's number: its stretch's, then its place in it
constexpr int kStretchShift = 16;
constexpr int kOffsetShift = 40;  // a unit's offset: its stretch's number, then its place in its bytes
constexpr uint64_t kOffsetMask = (uint64_t{1} << kOffsetShift) - 1;
constexpr size_t kKeptStretches = 8;  // the decoder holds a few units of the stretches before
constexpr size_t kScanBlock = size_t{1} << 20;  // a stretch is a few megabytes

class Title : public TitleUnits {
 public:
  explicit Title(std::shared_ptr<const DiscTitle> title) : title_(std::move(title)) {
    for (uint32_t i = 0; i < title_->items.size(); ++i)
      for (uint32_t s = 0; s < title_->items[i].stretches.size(); ++s) places_.push_back({i, s});
  }

  uint32_t FrameCount() const override { return title_->frames; }

  IndexedUnit Unit(size_t unit) const override {
    const Scanned* s = Find(static_cast<uint32_t>(unit >> kStretchShift));
    const size_t k = unit & (kStretchUnits - 1);
    return s && k < s->units.size() ? s->units[k] : IndexedUnit{};
  }

  uint32_t FrameOfUnit(size_t unit) const override { return Unit(unit).frame; }

  // The last stretch of the frame's item whose entry point's picture comes no later.
  uint32_t SeekUnit(uint32_t frame, bool) const override {
    if (frame >= title_->frames || places_.empty()) return 0;
    auto it = std::upper_bound(places_.begin(), places_.end(), frame,
                               [&](uint32_t f, const Place& p) { return f < StretchOf(p).firstFrame; });
    const uint32_t place = it == places_.begin() ? 0 : static_cast<uint32_t>(it - places_.begin()) - 1;
    return place << kStretchShift;
  }

  uint32_t FirstExactFrame(uint32_t unit) const override {
    const uint32_t place = unit >> kStretchShift;
    return place < places_.size() ? StretchOf(places_[place]).firstFrame : title_->frames;
  }

  bool Feedable(uint32_t& unit) override {
    uint32_t place = unit >> kStretchShift;
    uint32_t k = unit & (kStretchUnits - 1);
    for (; place < places_.size(); ++place, k = 0) {
      // Another item begins: its first stretch is reached by a seek, never by decoding on.
      if (k == 0 && place > 0 && places_[place].item != places_[place - 1].item && place != (unit >> kStretchShift))
        return false;
      const Scanned* s = Scan(place);
      if (!s) return false;
      if (k < s->units.size()) {
        unit = place << kStretchShift | k;
        return true;
      }
    }
    return false;
  }

  bool Lied() const override { return lied_; }

  std::unique_ptr<ByteSource> OpenUnits(int view) override;

  size_t ReadUnits(int view, uint64_t offset, uint8_t* to, size_t n) {
    const uint32_t place = static_cast<uint32_t>(offset >> kOffsetShift);
    auto it = scanned_.find(place);
    if (it == scanned_.end() || !it->second.readers[view]) return 0;
    return it->second.readers[view]->ReadAt(offset & kOffsetMask, to, n);
  }

 private:
  struct Place {
    uint32_t item;
    uint32_t stretch;
  };
  struct Scanned {
    std::vector<IndexedUnit> units;  // offsets carry the stretch's number; frames are the title's
    std::unique_ptr<PieceSource> readers[2];
    uint64_t used = 0;
  };

  const TitleStretch& StretchOf(const Place& p) const { return title_->items[p.item].stretches[p.stretch]; }

  const Scanned* Find(uint32_t place) const {
    auto it = scanned_.find(place);
    return it == scanned_.end() ? nullptr : &it->second;
  }

  // The stretch's units, scanned from its bytes alone; null when it disagrees with the disc.
  const Scanned* Scan(uint32_t place) {
    if (lied_) return nullptr;
    auto found = scanned_.find(place);
    if (found != scanned_.end()) {
      found->second.used = ++clock_;
      return &found->second;
    }
    const Place& at = places_[place];
    const TitleItem& item = title_->items[at.item];
    const TitleStretch& stretch = item.stretches[at.stretch];
    auto plan = std::make_shared<ContainerPlan>();
    ContainerPlan::Clip clip;
    for (int v = 0; v < 2; ++v) {
      clip.path[v] = item.path[v];
      clip.id[v] = item.id[v];
      clip.from[v] = stretch.from[v];
      clip.to[v] = stretch.to[v];
    }
    plan->clips.push_back(clip);
    plan->constants.assign(kStandInUnit, kStandInUnit + sizeof kStandInUnit);
    auto layout = std::make_shared<Layout>();
    UnitIndex index(true, Codec::kH264);
    {
      auto builder = std::make_shared<LayoutBuilder>(plan, true, layout);
      FileScan base(std::make_unique<BuilderSource>(builder, 0), kScanBlock);
      FileScan dependent(std::make_unique<BuilderSource>(builder, 1), kScanBlock);
      ScanAll(index, base, &dependent);
    }
    // It must begin with the entry point's picture: intra in the base view, an anchor in the
    // dependent one, presented when the map says.
    const std::vector<ScannedUnit>& b = index.Base().Units();
    const std::vector<ScannedUnit>& d = index.Dependent().Units();
    const std::vector<Piece>& pieces = layout->pieces[0];
    int64_t firstPts = kNoTimestamp;
    if (!pieces.empty() && !b.empty() && pieces.front().offset <= b.front().offset) firstPts = pieces.front().pts;
    if (b.empty() || !b[0].picture || !b[0].intra || d.empty() || !d[0].anchor || firstPts < stretch.pts ||
        firstPts >= stretch.pts + kEntryPointPrecision)
      return Lie();
    index.Finish();
    std::vector<IndexedUnit> units = index.FinishedUnits();
    if (units.empty() || units.size() >= kStretchUnits) return Lie();
    // Each frame of the stretch is the title's frame its presentation time says. Those shown
    // must follow on one from the next, the entry point's first among those it yields exactly.
    const std::vector<uint32_t>& frameUnits = index.FrameUnits();
    std::vector<uint32_t> titleFrame(frameUnits.size(), kNoFrame);
    uint32_t last = kNoFrame;
    for (size_t f = 0; f < frameUnits.size(); ++f) {
      const size_t piece = PieceAt(pieces, units[frameUnits[f]].offset[0]);
      if (piece == SIZE_MAX) return Lie();
      uint32_t frame = kNoFrame;
      if (!TitleFrameAt(*title_, at.item, pieces[piece].pts, frame)) continue;
      if (last != kNoFrame && frame != last + 1) return Lie();
      titleFrame[f] = last = frame;
    }
    const uint32_t own = units[0].frame < titleFrame.size() ? titleFrame[units[0].frame] : kNoFrame;
    if (own != kNoFrame && own != stretch.firstFrame) return Lie();
    for (IndexedUnit& u : units) {
      u.frame = u.frame < titleFrame.size() ? titleFrame[u.frame] : kNoFrame;
      for (int v = 0; v < 2; ++v) u.offset[v] |= uint64_t{place} << kOffsetShift;
    }
    if (scanned_.size() >= kKeptStretches) {
      auto oldest = std::min_element(scanned_.begin(), scanned_.end(),
                                     [](const auto& x, const auto& y) { return x.second.used < y.second.used; });
      scanned_.erase(oldest);
    }
    Scanned& s = scanned_[place];
    s.units = std::move(units);
    for (int v = 0; v < 2; ++v) s.readers[v] = std::make_unique<PieceSource>(plan, layout, v);
    s.used = ++clock_;
    return &s;
  }

  const Scanned* Lie() {
    lied_ = true;
    return nullptr;
  }

  std::shared_ptr<const DiscTitle> title_;
  std::vector<Place> places_;
  std::map<uint32_t, Scanned> scanned_;
  uint64_t clock_ = 0;
  bool lied_ = false;
};

class TitleSource : public ByteSource {
 public:
  TitleSource(Title* title, int view) : title_(title), view_(view) {}
  size_t ReadAt(uint64_t offset, uint8_t* to, size_t n) override { return title_->ReadUnits(view_, offset, to, n); }

 private:
  Title* title_;
  int view_;
};

std::unique_ptr<ByteSource> Title::OpenUnits(int view) { return std::make_unique<TitleSource>(this, view ? 1 : 0); }

}  // namespace

std::unique_ptr<TitleUnits> IndexTitle(std::shared_ptr<const DiscTitle> title) {
  if (!title || title->items.empty()) return nullptr;
  // Each stretch is numbered in a unit's high 16 bits: a title of more is scanned instead.
  size_t stretches = 0;
  for (const TitleItem& item : title->items) stretches += item.stretches.size();
  if (stretches >= kStretchUnits) return nullptr;
  return std::make_unique<Title>(std::move(title));
}

}  // namespace korvala
