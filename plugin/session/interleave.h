#pragma once
// Base and dependent view interleaver: one access unit of each view becomes one multiview
// access unit of the decoder's bitstream.
#include <cstdint>
#include <vector>
#include <mfxstructures.h>

namespace korvala {

struct UnitSpan;

// One NAL unit inside a UnitSpan.
struct NalEntry {
  uint8_t type;     // nal_unit_type
  uint32_t offset;  // of the header byte, from the span's data
  uint32_t length;  // header byte to the end of the unit, start code excluded
};

// The two per-view tables; kept by the caller so that their storage is reused between calls.
// They grow with the unit, so an access unit with any number of NAL units comes out whole.
struct NalTables {
  std::vector<NalEntry> base;
  std::vector<NalEntry> dependent;
};

// Splits a span into its NAL units from span.scanPos on, appending to table. scanPos ends at
// the span's length, so a second call on the same span adds nothing.
void SplitUnit(UnitSpan& span, std::vector<NalEntry>& table);

// Clears both tables and splits both spans from their scanPos on.
void SplitViews(UnitSpan& base, UnitSpan& dependent, NalTables& tables);

// Bytes that WriteInterleaved appends for these two tables.
uint64_t InterleavedSize(const NalTables& tables);

// Writes the selected NAL units of both tables, in the fixed order, each behind 00 00 00 01,
// at offset DataLength of the bitstream. The caller has checked the room.
void WriteInterleaved(const UnitSpan& base, const UnitSpan& dependent, const NalTables& tables,
                      mfxBitstream& bitstream);

// Split both spans and write them: the whole merge of one unit pair.
void InterleaveViews(UnitSpan& base, UnitSpan& dependent, mfxBitstream& bitstream, NalTables& tables);

}  // namespace korvala
