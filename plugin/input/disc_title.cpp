#include "disc_title.h"

#include <algorithm>

namespace korvala {

namespace {

constexpr int64_t kSourcePacket = 192;

// A view's entry point map: in its own clip's information, or (the dependent view's) in the
// extension data of the base clip's.
const EntryPointMap* MapOf(const TitleClip& clip, int view) {
  for (const ClipInfo* info : {clip.info[view], clip.info[0]}) {
    if (!info) continue;
    for (const EntryPointMap& m : info->maps)
      if (m.pid == clip.id[view] && !m.entries.empty()) return &m;
  }
  return nullptr;
}

// The frame presented nearest `offset` ticks after an item's IN time.
int64_t FrameNear(int64_t offset, uint32_t num, uint32_t den) {
  const int64_t tick = int64_t{90000} * den;
  return (2 * offset * num + tick) / (2 * tick);
}

}  // namespace

bool TitleFrameAt(const DiscTitle& title, size_t item, int64_t pts, uint32_t& frame) {
  if (item >= title.items.size()) return false;
  const TitleItem& it = title.items[item];
  if (pts < it.in || pts >= it.out) return false;
  const int64_t k = FrameNear(pts - it.in, title.num, title.den);
  if (k < 0 || k >= it.frames) return false;
  frame = it.firstFrame + static_cast<uint32_t>(k);
  return true;
}

std::shared_ptr<const DiscTitle> DescribeTitle(const std::vector<TitleClip>& clips, uint32_t num, uint32_t den) {
  if (num == 0 || den == 0 || num > 240000 || den > 240000 || clips.empty()) return nullptr;
  auto title = std::make_shared<DiscTitle>();
  title->num = num;
  title->den = den;
  const int64_t tick = int64_t{90000} * den;  // a frame lasts tick / num
  int64_t total = 0;
  for (const TitleClip& c : clips) {
    const EntryPointMap* base = MapOf(c, 0);
    const EntryPointMap* dependent = MapOf(c, 1);
    // Both views in their own files, times a disc can hold (33 bits).
    if (!base || !dependent || c.path[1].empty() || c.in < 0 || c.out <= c.in || c.out >= (int64_t{1} << 33))
      return nullptr;
    TitleItem item;
    for (int v = 0; v < 2; ++v) {
      item.path[v] = c.path[v];
      item.id[v] = c.id[v];
    }
    item.in = c.in;
    item.out = c.out;
    const int64_t frames = ((c.out - c.in) * num + tick - 1) / tick;
    // A stream that ends before its OUT time: the map would count frames it hasn't.
    if (c.lastPts < c.in + (frames - 1) * tick / num - tick / num / 2) return nullptr;
    item.firstFrame = static_cast<uint32_t>(total);
    item.frames = static_cast<uint32_t>(frames);
    const std::vector<EntryPoint>& deps = dependent->entries;
    for (const EntryPoint& e : base->entries) {
      // A place to start is one where both views have an entry point for the same picture.
      auto d = std::lower_bound(deps.begin(), deps.end(), e.pts,
                                [](const EntryPoint& x, int64_t pts) { return x.pts < pts; });
      if (d == deps.end() || d->pts != e.pts) continue;
      const int64_t from[2] = {int64_t{e.spn} * kSourcePacket, int64_t{d->spn} * kSourcePacket};
      if (static_cast<uint64_t>(from[0]) >= c.size[0] || static_cast<uint64_t>(from[1]) >= c.size[1]) return nullptr;
      if (!item.stretches.empty()) {
        TitleStretch& last = item.stretches.back();
        if (from[0] <= last.from[0] || from[1] <= last.from[1] || e.pts <= last.pts) return nullptr;  // out of order
        last.to[0] = from[0];
        last.to[1] = from[1];
      }
      if (e.pts >= c.out) break;  // it only ends the last stretch
      // Of the entry points up to the IN time, decoding starts at the last.
      if (e.pts <= c.in) item.stretches.clear();
      TitleStretch s;
      s.pts = e.pts;
      s.from[0] = from[0];
      s.from[1] = from[1];
      s.firstFrame = item.firstFrame +
                     static_cast<uint32_t>(e.pts <= c.in ? 0 : FrameNear(e.pts + kEntryPointPrecision / 2 - c.in, num, den));
      item.stretches.push_back(s);
    }
    // The frames from the IN time on must be reached from an entry point at or before it.
    if (item.stretches.empty() || item.stretches.front().pts > c.in) return nullptr;
    total += frames;
    if (total > INT32_MAX / 2) return nullptr;
    title->items.push_back(std::move(item));
  }
  title->frames = static_cast<uint32_t>(total);
  return title;
}

}  // namespace korvala
