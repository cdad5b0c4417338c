#include "interleave.h"

#include <cstring>

#include "stream_reader.h"

namespace korvala {
namespace {

constexpr uint32_t kNone = UINT32_MAX;

// First p >= from with p + 3 < length and bytes p..p+2 equal to 00 00 01, else kNone.
// Searching for the 01 with memchr keeps the scan at memory speed on slice data.
uint32_t FindStartCode(const uint8_t* d, uint32_t from, uint32_t length) {
  if (length < 4 || from > length - 4) return kNone;
  // q is the position of the 01: q = p + 2, so q <= length - 2.
  uint32_t q = from + 2;
  const uint32_t last = length - 2;
  while (q <= last) {
    const void* hit = std::memchr(d + q, 0x01, last - q + 1);
    if (!hit) return kNone;
    q = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - d);
    if (d[q - 1] == 0 && d[q - 2] == 0) return q - 2;
    ++q;
  }
  return kNone;
}

// First e >= from with e + 2 < length, bytes e and e+1 zero and byte e+2 at most 01, else
// kNone. 00 00 03 (emulation prevention) never matches.
uint32_t FindUnitEnd(const uint8_t* d, uint32_t from, uint32_t length) {
  if (length < 3 || from > length - 3) return kNone;
  uint32_t e = from;
  const uint32_t last = length - 3;
  while (e <= last) {
    const void* hit = std::memchr(d + e, 0x00, last - e + 1);
    if (!hit) return kNone;
    e = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - d);
    if (d[e + 1] == 0 && d[e + 2] <= 1) return e;
    // 00 00 xx with xx > 1 rules out e, e+1 and e+2; 00 yy with yy != 0 rules out e and e+1.
    e += d[e + 1] == 0 ? 3 : 2;
  }
  return kNone;
}

uint32_t FirstOfType(const std::vector<NalEntry>& table, uint8_t type) {
  for (uint32_t i = 0; i < table.size(); ++i)
    if (table[i].type == type) return i;
  return kNone;
}

enum class View { Base, Dependent };

// Calls emit(view, entry) for every written NAL unit, in the order of the merged unit: the
// delimiter, the SPSs and subset SPSs, the base view's PPSs, SEI and slices, then the dependent
// view's PPSs (behind the base slices, so that one taking an id the base view uses does not
// change what the base slices read), SEI and slices, the ends of sequence. Everything else
// (prefix units, the dependent view's delimiter) is left out.
template <typename Emit>
void ForEachSelected(const NalTables& tables, Emit&& emit) {
  auto table = [&](View view) -> const std::vector<NalEntry>& {
    return view == View::Base ? tables.base : tables.dependent;
  };
  auto first = [&](View view, uint8_t type) {
    uint32_t i = FirstOfType(table(view), type);
    if (i != kNone) emit(view, table(view)[i]);
  };
  auto all = [&](View view, std::initializer_list<uint8_t> types) {
    for (const NalEntry& entry : table(view))
      for (uint8_t type : types)
        if (entry.type == type) emit(view, entry);
  };
  first(View::Base, 9);
  all(View::Base, {7});
  all(View::Dependent, {15});
  all(View::Base, {8});
  all(View::Base, {6});
  all(View::Base, {1});
  all(View::Base, {5});
  all(View::Dependent, {8});
  all(View::Dependent, {6});
  all(View::Dependent, {20});
  all(View::Base, {10});
  all(View::Dependent, {10});
}

}  // namespace

void SplitUnit(UnitSpan& span, std::vector<NalEntry>& table) {
  const uint8_t* d = span.data;
  const uint32_t length = span.length;
  uint32_t p = span.scanPos;
  while (d) {
    p = FindStartCode(d, p, length);
    if (p == kNone) break;
    const uint32_t h = p + 3;
    const uint32_t e = FindUnitEnd(d, h + 1, length);
    const uint32_t end = e == kNone ? length : e;
    table.push_back(NalEntry{static_cast<uint8_t>(d[h] & 0x1F), h, end - h});
    if (e == kNone) break;
    p = e;
  }
  span.scanPos = length;
}

void SplitViews(UnitSpan& base, UnitSpan& dependent, NalTables& tables) {
  tables.base.clear();
  tables.dependent.clear();
  SplitUnit(base, tables.base);
  SplitUnit(dependent, tables.dependent);
}

uint64_t InterleavedSize(const NalTables& tables) {
  uint64_t size = 0;
  ForEachSelected(tables, [&](View, const NalEntry& entry) { size += 4 + uint64_t{entry.length}; });
  return size;
}

void WriteInterleaved(const UnitSpan& base, const UnitSpan& dependent, const NalTables& tables,
                      mfxBitstream& bitstream) {
  static const uint8_t kStartCode[4] = {0, 0, 0, 1};
  uint8_t* out = bitstream.Data + bitstream.DataLength;
  ForEachSelected(tables, [&](View view, const NalEntry& entry) {
    const uint8_t* src = (view == View::Base ? base.data : dependent.data) + entry.offset;
    std::memcpy(out, kStartCode, 4);
    std::memcpy(out + 4, src, entry.length);
    out += 4 + entry.length;
  });
  bitstream.DataLength = static_cast<mfxU32>(out - bitstream.Data);
}

void InterleaveViews(UnitSpan& base, UnitSpan& dependent, mfxBitstream& bitstream, NalTables& tables) {
  SplitViews(base, dependent, tables);
  WriteInterleaved(base, dependent, tables, bitstream);
}

}  // namespace korvala
