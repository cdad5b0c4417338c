#pragma once
// A finished index (and a container's layout) as the bytes of a cache file, and back. Pure over
// buffers. The file names what it was made from (the key and a hash of the inputs' contents)
// and ends with a checksum: a file that is damaged, cut short, made for other inputs or by
// another version is refused whole, and nothing is allocated beyond what its bytes can hold.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stream_layout.h"
#include "unit_index.h"

namespace korvala {

// A 64-bit hash of bytes, continuing from `seed`.
uint64_t HashBytes(const uint8_t* data, size_t n, uint64_t seed = 0x9E3779B97F4A7C15ull);

// What a kept index must match: the inputs' names, sizes, times and form (text), and their
// contents' first and last blocks (hash).
struct IndexKey {
  std::string text;
  uint64_t contentHash = 0;
};

// The whole file: key, index of a finished `index`, and `layout` when given.
std::vector<uint8_t> SerializeIndex(const IndexKey& key, const UnitIndex& index, const Layout* layout);

// Reads a file made by SerializeIndex for the same key into a fresh `index` (finished on
// success) and, when the file holds one and `layout` is given, `layout`. False, with `index`
// and `layout` left as they were, for anything else.
bool ParseIndex(const IndexKey& key, const uint8_t* data, size_t size, UnitIndex& index, Layout* layout);

}  // namespace korvala
