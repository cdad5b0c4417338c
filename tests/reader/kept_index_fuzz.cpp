// Fuzz target: a cache file's bytes, resealed with their checksum so that the tables themselves
// are read. Whatever they say, a file is refused or read into an index whose every frame,
// random access point and seek names a unit it has.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "index_store.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "kept index invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t form = data[0];
  std::vector<uint8_t> file(data + 1, data + size);
  // The header a real file starts with, so that the fuzzer spends its time past it.
  const korvala::IndexKey key{"k", 7};
  if (form & 4) {
    const uint8_t head[] = {'K', 'V', 'L', 'I', 'N', 'D', 'E', 'X', 1, 0, 0, 0, 1, 0, 0, 0, 'k', 7, 0, 0, 0, 0, 0, 0, 0};
    file.insert(file.begin(), head, head + sizeof head);
  }
  const uint64_t sum = korvala::HashBytes(file.data(), file.size());
  for (int i = 0; i < 8; ++i) file.push_back(static_cast<uint8_t>(sum >> (8 * i)));
  korvala::UnitIndex index((form & 1) != 0);
  korvala::Layout layout;
  if (!korvala::ParseIndex(key, file.data(), file.size(), index, (form & 2) ? &layout : nullptr)) return 0;
  const size_t units = index.KnownUnits();
  Check(index.Finished() && units > 0, "finished with units");
  for (uint32_t f = 0; f < index.FrameCount(); ++f) {
    Check(index.UnitOfFrame(f) < units, "frame names a unit");
    Check(index.SeekUnit(f) <= index.UnitOfFrame(f), "seek starts no later than its frame");
  }
  for (uint32_t r : index.RandomAccessUnits()) Check(r < units && index.FirstExactFrame(r) <= index.FrameCount(), "access point");
  return 0;
}
