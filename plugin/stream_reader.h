#pragma once
// Elementary stream reader: cuts the two files of a stereo pair into access units and feeds
// the decoder's bitstream (raw bytes in one-file mode, merged unit pairs in two-file mode).
#include <cstdint>
#include <mfxstructures.h>

#include "aligned_buffer.h"
#include "interleave.h"

namespace korvala {

constexpr uint32_t kStreamBufferBytes = 3840000;          // a read never fills more
constexpr uint32_t kBufferSlack = 4096;                   // allocated beyond it
constexpr uint8_t kBaseDelimiter = 9;                     // access unit delimiter
constexpr uint8_t kDependentDelimiter = 24;               // opens every dependent-view unit

// One input file with its read buffer.
struct StreamBuffer {
  FilePtr file;
  AlignedBytes data;   // DataAVC or DataMVC, kStreamBufferBytes + kBufferSlack bytes
  uint32_t start = 0;  // start code of the unit not yet handed out
  uint32_t length = 0; // valid bytes in data
};

// One access unit inside a StreamBuffer; valid until the next FindNextUnit on that buffer.
struct UnitSpan {
  const uint8_t* data = nullptr;
  uint32_t scanPos = 0;
  uint32_t length = 0;
};

// The reading state of a clip. The clip derives from it, so the fields keep their clip names.
struct ReaderState {
  StreamBuffer m_streamAVC;
  StreamBuffer m_streamMVC;
  UnitSpan m_unitAVC;
  UnitSpan m_unitMVC;
  int32_t m_mvcMode = 0;
  int32_t m_inputEnded = 0;
  int32_t m_unitPending = 0;
  int32_t m_readerFault = 0;  // an access unit can never fit the buffers (see FillBitstream)
  NalTables m_nalTables;      // NAL tables of the current pair, storage reused between calls
};

enum class PrimeResult {
  Ok,
  NoMemoryAVC,      // "Korvala: ERROR -> NULL pointer -> DataAVC"
  NoMemoryMVC,      // "Korvala: ERROR -> NULL pointer -> DataMVC"
  ReadFailedAVC,    // "Korvala: Can't read Source File AVC"
  ReadFailedMVC,    // "Korvala: Can't read Source File MVC"
  NoDelimiterAVC,   // "Korvala: ERROR -> No access unit delimiter in Source File AVC"
  NoDelimiterMVC,   // "Korvala: ERROR -> No access unit delimiter in Source File MVC"
};

// Two-file priming: allocate DataAVC/DataMVC (unless the state holds them already), read the
// first block of each file, find each file's first delimiter. Both files should be open in the
// state's stream buffers; a file that is not open counts as one that can't be read.
PrimeResult PrimeStreams(ReaderState& state);

// The message the clip raises for a priming result other than Ok ("" for Ok).
const char* PrimeMessage(PrimeResult result);

// Cuts the next access unit (delimiter type t) out of the stream into unit; may set
// m_inputEnded. When the unit fills the whole buffer without a further delimiter it sets
// m_readerFault instead (the unit then spans the buffer but is no file's last unit).
// Returns the unit's length.
uint32_t FindNextUnit(uint8_t t, StreamBuffer& stream, UnitSpan& unit, ReaderState& state);

// Appends input to the bitstream, whose Data must hold MaxLength + kBufferSlack bytes.
// MFX_ERR_NONE after it ran (maybe without appending: a pair waits for room),
// MFX_ERR_NULL_PTR for a null bitstream, null Data or unprimed two-file buffers,
// MFX_ERR_MORE_DATA when the input is exhausted, MFX_ERR_NOT_ENOUGH_BUFFER (from then on,
// every call) when an access unit or pair can never fit: the clip raises kOversizedUnitMessage.
mfxStatus FillBitstream(ReaderState& state, mfxBitstream* bitstream);

extern const char* const kOversizedUnitMessage;  // "Korvala: ERROR -> Access unit larger than the stream buffer"

}  // namespace korvala
