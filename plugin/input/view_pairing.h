#pragma once
// Pairs the base view's packets with the dependent view's by presentation timestamp. Both views
// come in the same decoding order, so a packet lost from one view shows as a timestamp the other
// view's next packets do not hold: the base packet is then laid out alone (the dependent stream
// gets a stand-in unit, keeping the views paired) and a dependent packet without a base partner
// is dropped. Pure: packets are named by the caller's handles.
#include <cstddef>
#include <cstdint>
#include <deque>

namespace korvala {

class ViewPairer {
 public:
  enum class Step : uint8_t {
    kWait,           // nothing can be settled before more packets come (or a view ends)
    kPair,           // base and dependent go out together
    kBaseAlone,      // the base packet has no dependent partner
    kDropDependent,  // the dependent packet has no base partner
  };
  struct Decision {
    Step step = Step::kWait;
    uint32_t base = 0;
    uint32_t dependent = 0;
  };

  // How far ahead a partner is looked for: beyond any reordering between the two views.
  static constexpr size_t kWindow = 32;
  // Packets (pictures) one view may hold while the other has none: 20 s at 24 fps, where an
  // SSIF extent holds a few seconds. Beyond it the oldest is settled as unpaired, so a view whose
  // packets stop makes the other hold no more than this.
  static constexpr size_t kMaxPending = 512;

  void Push(int view, int64_t pts, uint32_t handle) { queue_[view ? 1 : 0].push_back(Entry{pts, handle}); }
  // The next settled step, given whether each view's input has ended. Call until kWait.
  // `crowded`: the caller holds too many bytes to wait longer for a partner.
  Decision Next(bool baseEnded, bool dependentEnded, bool crowded = false);
  size_t Pending(int view) const { return queue_[view ? 1 : 0].size(); }
  void Clear() {
    queue_[0].clear();
    queue_[1].clear();
  }

 private:
  struct Entry {
    int64_t pts;
    uint32_t handle;
  };
  Decision Pop(Step step, bool base, bool dependent);
  static bool Holds(const std::deque<Entry>& q, int64_t pts);

  std::deque<Entry> queue_[2];
};

}  // namespace korvala
