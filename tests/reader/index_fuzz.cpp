// Fuzz target: the index built from one stream, or from a base and a dependent stream, read
// through the block scanner in small blocks (so units cross their edges). Whatever the bytes,
// the units tile each stream, every frame and random access point names a unit, and a seek
// never starts after its frame's unit nor where its frame would not be exact.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "index_scan.h"
#include "reference_model.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "index invariant broken: %s\n", what);
    std::abort();
  }
}

korvala::FileScan Scan(const korvala::reference::Bytes& bytes) {
  return korvala::FileScan(std::make_unique<korvala::MemorySource>(bytes.data(), bytes.size()),
                           korvala::FileScan::kMinBlockBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvala;
  if (size < 3) return 0;
  const bool two = data[0] & 1;
  const size_t split = two ? (size_t{data[1]} << 8 | data[2]) % (size - 2) : size - 3;
  const reference::Bytes files[2] = {reference::Expand(data + 3, split),
                                     reference::Expand(data + 3 + split, size - 3 - split)};
  UnitIndex index(two);
  FileScan base = Scan(files[0]);
  FileScan dependent = Scan(files[1]);
  ScanToEnd(index, base, two ? &dependent : nullptr);
  Check(index.Finished(), "not finished after the scan");

  uint64_t next[2] = {0, 0};
  for (size_t k = 0; k < index.KnownUnits(); ++k) {
    const IndexedUnit u = index.Unit(k);
    for (int s = 0; s < (two ? 2 : 1); ++s) {
      if (u.size[s] == 0 && s == 1) continue;  // the dependent file ended early
      Check(k == 0 || u.offset[s] == next[s], "units do not tile the file");
      next[s] = u.offset[s] + u.size[s];
      Check(next[s] <= files[s].size(), "unit beyond the file");
    }
  }
  const uint32_t frames = index.FrameCount();
  Check(frames <= index.KnownUnits(), "more frames than units");
  uint32_t last = 0;
  for (uint32_t unit : index.RandomAccessUnits()) {
    Check(unit < index.KnownUnits() && (unit == 0 || unit > last), "random access points out of order");
    last = unit;
  }
  for (uint32_t f = 0; f < frames; ++f) {
    const uint32_t unit = index.UnitOfFrame(f);
    Check(index.FrameOfUnit(unit) == f, "frame and unit disagree");
    const uint32_t start = index.SeekUnit(f);
    Check(start <= unit, "a seek starts after its frame's unit");
    Check(index.Access(start) == AccessKind::kStart || index.FrameOfUnit(start) <= f, "a seek starts after its frame");
    Check(index.FirstExactFrame(start) <= f, "a seek starts where its frame is not exact");
  }
  return 0;
}
