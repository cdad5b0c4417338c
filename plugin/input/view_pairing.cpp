#include "view_pairing.h"

#include <algorithm>

namespace korvala {

bool ViewPairer::Holds(const std::deque<Entry>& q, int64_t pts) {
  const size_t n = std::min(q.size(), kWindow);
  for (size_t i = 0; i < n; ++i)
    if (q[i].pts == pts) return true;
  return false;
}

ViewPairer::Decision ViewPairer::Pop(Step step, bool base, bool dependent) {
  Decision d;
  d.step = step;
  if (base) {
    d.base = queue_[0].front().handle;
    queue_[0].pop_front();
  }
  if (dependent) {
    d.dependent = queue_[1].front().handle;
    queue_[1].pop_front();
  }
  return d;
}

ViewPairer::Decision ViewPairer::Next(bool baseEnded, bool dependentEnded, bool crowded) {
  std::deque<Entry>& b = queue_[0];
  std::deque<Entry>& d = queue_[1];
  if (b.empty()) {
    if (!d.empty() && (baseEnded || crowded || d.size() > kMaxPending)) return Pop(Step::kDropDependent, false, true);
    return Decision{};
  }
  if (d.empty()) {
    if (dependentEnded || crowded || b.size() > kMaxPending) return Pop(Step::kBaseAlone, true, false);
    return Decision{};
  }
  if (b.front().pts == d.front().pts) return Pop(Step::kPair, true, true);
  // Which head lost its partner: the one whose timestamp the other view does not hold ahead.
  const bool baseFound = Holds(d, b.front().pts);
  const bool dependentFound = Holds(b, d.front().pts);
  if (baseFound && !dependentFound) return Pop(Step::kDropDependent, false, true);
  if (dependentFound && !baseFound) return Pop(Step::kBaseAlone, true, false);
  if (baseFound && dependentFound) {
    // Crossed: the nearer partner wins.
    size_t inD = 0, inB = 0;
    while (d[inD].pts != b.front().pts) ++inD;
    while (b[inB].pts != d.front().pts) ++inB;
    return inD <= inB ? Pop(Step::kDropDependent, false, true) : Pop(Step::kBaseAlone, true, false);
  }
  // Neither is held so far: settled once the other view has shown enough, or ended.
  if (d.size() >= kWindow || dependentEnded || crowded) return Pop(Step::kBaseAlone, true, false);
  if (b.size() >= kWindow || baseEnded) return Pop(Step::kDropDependent, false, true);
  return Decision{};
}

}  // namespace korvala
