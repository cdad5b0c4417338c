#pragma once
// Where each packet's bytes went in a container's laid-out view streams: what the pass records
// and the unit readers read by, and what is kept between runs beside the index.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvala {

// One packet's (or constant's) bytes in a view's laid-out stream.
struct Piece {
  uint64_t offset = 0;  // in the laid-out stream
  int64_t pos = 0;      // the packet's position in its file; a constant's offset in the plan's
  int64_t pts = 0;      // the packet's timestamp, for seeking by time
  uint32_t size = 0;
  uint16_t clip = 0;
  bool constant = false;
};

// The place of the piece whose bytes begin at or before `offset` (SIZE_MAX when none does): the
// one that holds it, when it reaches that far.
inline size_t PieceAt(const std::vector<Piece>& pieces, uint64_t offset) {
  auto it = std::upper_bound(pieces.begin(), pieces.end(), offset,
                             [](uint64_t value, const Piece& p) { return value < p.offset; });
  return it == pieces.begin() ? SIZE_MAX : static_cast<size_t>(it - pieces.begin()) - 1;
}

// What the pass has laid out so far, per view.
struct Layout {
  std::vector<Piece> pieces[2];
};

}  // namespace korvala
