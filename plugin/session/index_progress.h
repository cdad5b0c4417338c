#pragma once
// What the clip tells of its index while people wait for it: the scan's bytes, and whether the
// index came from the cache or went into it. Front ends with a terminal draw it.
#include <cstdint>

namespace korvala {

class IndexProgress {
 public:
  virtual ~IndexProgress() = default;
  // The scan has read `done` of `total` bytes (total 0: not known), as it goes.
  virtual void Scanned(uint64_t done, uint64_t total) = 0;
  // The scan has read everything.
  virtual void ScanDone() {}
  // The index was read from the cache: nothing is scanned.
  virtual void Loaded() {}
  // A freshly scanned index was kept (true), or the cache folder could not take it (false).
  virtual void Stored(bool kept) { (void)kept; }
};

}  // namespace korvala
