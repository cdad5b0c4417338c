#pragma once
// The stream reader: feeds the decoder's bitstream with raw bytes of one file (codecs whose
// units are not indexed) or with whole access units out of the index, both views of a pair
// merged into one multiview unit.
#include <cstdint>
#include <mfxstructures.h>

#include <memory>

#include "aligned_buffer.h"
#include "byte_source.h"
#include "interleave.h"
#include "unit_index.h"

namespace korvala {

constexpr uint32_t kStreamBufferBytes = 3840000;  // a unit of one view never holds more
constexpr uint32_t kBufferSlack = 4096;           // allocated beyond it

// One access unit of one view, read into its own buffer.
struct UnitSpan {
  const uint8_t* data = nullptr;
  uint32_t scanPos = 0;
  uint32_t length = 0;
};

// The reading state of a clip. The clip derives from it, so the fields keep their clip names.
struct ReaderState {
  std::unique_ptr<ByteSource> m_raw;  // the base-view (or only) stream read from its start, for raw feeding
  uint64_t m_rawOffset = 0;           // ... and where it goes on
  std::unique_ptr<ByteSource> m_unitsAVC;  // the base view's (or only) stream, read at the units' offsets
  std::unique_ptr<ByteSource> m_unitsMVC;  // the dependent view's
  AlignedBytes DataAVC;  // the unit being merged, kStreamBufferBytes + kBufferSlack bytes each
  AlignedBytes DataMVC;
  UnitSpan m_unitAVC;
  UnitSpan m_unitMVC;
  int32_t m_mvcMode = 0;      // two files
  int32_t m_readerFault = 0;  // a unit can never fit the buffers: sticky
  NalTables m_nalTables;      // NAL tables of the current pair, storage reused between calls
};

// Allocates DataAVC and DataMVC (unless held already); false when one can't be had, with the
// clip's message for it.
bool AllocateUnitBuffers(ReaderState& state, const char** message);

// One-file mode: appends raw bytes of the stream behind the bitstream's unread bytes.
// MFX_ERR_NONE when bytes came, MFX_ERR_MORE_DATA at the end of the stream (or with no room),
// MFX_ERR_NULL_PTR for a missing bitstream.
mfxStatus FillRaw(ReaderState& state, mfxBitstream* bitstream);

enum class AppendResult {
  kAppended,  // the unit is in the bitstream, its TimeStamp is `stamp`
  kNoRoom,    // the bitstream's unread bytes leave no room now; nothing changed
  kTooLarge,  // the unit can never fit: "Korvala: ERROR -> Access unit larger than the stream buffer"
  kReadFailed,  // the file ended before the unit's bytes: the input is over
};

// Appends one indexed access unit behind the bitstream's unread bytes (moved to its front):
// the base unit alone, or, with `dependent`, both views merged. Never writes past MaxLength.
AppendResult AppendUnit(ReaderState& state, const IndexedUnit& unit, bool dependent, mfxU64 stamp,
                        mfxBitstream* bitstream);

extern const char* const kOversizedUnitMessage;  // "Korvala: ERROR -> Access unit larger than the stream buffer"

}  // namespace korvala
