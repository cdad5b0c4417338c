#pragma once
// What the decoding session asks of an index: the units it feeds, the frames their pictures
// are, and where to start for a frame. A scanned stream's index answers it, and so does a disc
// title's, which scans the stretch between two entry points only when it is played.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "byte_source.h"

namespace korvala {

struct IndexedUnit;

class UnitTable {
 public:
  virtual ~UnitTable() = default;
  virtual uint32_t FrameCount() const = 0;
  // A unit already fed (or made feedable).
  virtual IndexedUnit Unit(size_t unit) const = 0;
  virtual uint32_t FrameOfUnit(size_t unit) const = 0;
  virtual uint32_t SeekUnit(uint32_t frame, bool idrOnly = false) const = 0;
  virtual uint32_t FirstExactFrame(uint32_t unit) const = 0;
};

// A title opened from its disc information. Its units are numbered by stretch (the high 16
// bits) and place in it, so numbers rise in decoding order but leave gaps.
class TitleUnits : public UnitTable {
 public:
  // Moves `unit` to the first unit at or after it that exists, scanning its stretch; false when
  // the item ends there (decoding goes on in the next item only from a seek) or the title does,
  // or when the stretch disagreed with the disc's information (Lied()).
  virtual bool Feedable(uint32_t& unit) = 0;
  virtual bool Lied() const = 0;
  // A view's units, read at the offsets Unit() gives.
  virtual std::unique_ptr<ByteSource> OpenUnits(int view) = 0;
};

}  // namespace korvala
