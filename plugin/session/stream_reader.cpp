#include "stream_reader.h"

#include <cstring>

namespace korvala {

const char* const kOversizedUnitMessage = "Korvala: ERROR -> Access unit larger than the stream buffer";

namespace {

void Compact(mfxBitstream& bs) {
  if (bs.DataOffset == 0) return;
  if (bs.DataLength != 0) std::memmove(bs.Data, bs.Data + bs.DataOffset, bs.DataLength);
  bs.DataOffset = 0;
}

// Reads `size` bytes at `offset` of the stream into `to`; false when it has fewer.
bool ReadAt(ByteSource* source, uint64_t offset, uint32_t size, uint8_t* to) {
  return source && source->ReadAt(offset, to, size) == size;
}

}  // namespace

bool AllocateUnitBuffers(ReaderState& state, const char** message) {
  if (!state.DataAVC) state.DataAVC = AllocateAligned(kStreamBufferBytes + kBufferSlack);
  if (!state.DataAVC) {
    *message = "Korvala: ERROR -> NULL pointer -> DataAVC";
    return false;
  }
  if (!state.DataMVC) state.DataMVC = AllocateAligned(kStreamBufferBytes + kBufferSlack);
  if (!state.DataMVC) {
    *message = "Korvala: ERROR -> NULL pointer -> DataMVC";
    return false;
  }
  return true;
}

mfxStatus FillRaw(ReaderState& state, mfxBitstream* bitstream) {
  if (!bitstream || !bitstream->Data) return MFX_ERR_NULL_PTR;
  mfxBitstream& bs = *bitstream;
  Compact(bs);
  // An overfull bitstream reads nothing rather than wrapping the request round.
  const uint32_t want = bs.DataLength < bs.MaxLength ? bs.MaxLength - bs.DataLength : 0;
  const size_t n = want && state.m_raw ? state.m_raw->ReadAt(state.m_rawOffset, bs.Data + bs.DataLength, want) : 0;
  if (n == 0) return MFX_ERR_MORE_DATA;
  state.m_rawOffset += n;
  bs.DataLength += static_cast<mfxU32>(n);
  bs.TimeStamp = static_cast<mfxU64>(MFX_TIMESTAMP_UNKNOWN);
  return MFX_ERR_NONE;
}

AppendResult AppendUnit(ReaderState& state, const IndexedUnit& unit, bool dependent, mfxU64 stamp,
                        mfxBitstream* bitstream) {
  if (state.m_readerFault) return AppendResult::kTooLarge;
  if (!bitstream || !bitstream->Data) return AppendResult::kReadFailed;
  mfxBitstream& bs = *bitstream;
  Compact(bs);
  const uint64_t room = bs.DataLength < bs.MaxLength ? bs.MaxLength - bs.DataLength : 0;
  const bool merge = dependent && state.m_mvcMode && unit.size[1] != 0;

  if (!merge) {
    // The unit goes straight into the bitstream.
    if (unit.size[0] > bs.MaxLength) {
      state.m_readerFault = 1;
      return AppendResult::kTooLarge;
    }
    if (unit.size[0] > room) return AppendResult::kNoRoom;
    if (!ReadAt(state.m_unitsAVC.get(), unit.offset[0], unit.size[0], bs.Data + bs.DataLength))
      return AppendResult::kReadFailed;
    bs.DataLength += unit.size[0];
    bs.TimeStamp = stamp;
    return AppendResult::kAppended;
  }

  if (unit.size[0] > kStreamBufferBytes || unit.size[1] > kStreamBufferBytes || !state.DataAVC || !state.DataMVC) {
    state.m_readerFault = 1;
    return AppendResult::kTooLarge;
  }
  if (!ReadAt(state.m_unitsAVC.get(), unit.offset[0], unit.size[0], state.DataAVC.get()) ||
      !ReadAt(state.m_unitsMVC.get(), unit.offset[1], unit.size[1], state.DataMVC.get()))
    return AppendResult::kReadFailed;
  state.m_unitAVC = UnitSpan{state.DataAVC.get(), 0, unit.size[0]};
  state.m_unitMVC = UnitSpan{state.DataMVC.get(), 0, unit.size[1]};
  SplitViews(state.m_unitAVC, state.m_unitMVC, state.m_nalTables);
  // Every NAL unit is written behind a four-byte start code: the exact size decides.
  const uint64_t size = InterleavedSize(state.m_nalTables);
  if (size > bs.MaxLength) {
    state.m_readerFault = 1;
    return AppendResult::kTooLarge;
  }
  if (size > room) {
    // Read again when there is room; the files stand where they are.
    return AppendResult::kNoRoom;
  }
  WriteInterleaved(state.m_unitAVC, state.m_unitMVC, state.m_nalTables, bs);
  bs.TimeStamp = stamp;
  return AppendResult::kAppended;
}

}  // namespace korvala
