#include "stream_reader.h"

#include <cstring>

namespace korvala {

const char* const kOversizedUnitMessage = "Korvala: ERROR -> Access unit larger than the stream buffer";

namespace {

constexpr uint32_t kNotFound = UINT32_MAX;
constexpr uint32_t kRoomMargin = 32;  // the merge adds one byte per NAL unit with a short start code

// First p >= from with p + 4 < length, bytes p..p+3 equal to 00 00 00 01 and the type bits of
// byte p+4 equal to t, else kNotFound. memchr on the 01 keeps this at memory speed.
uint32_t FindDelimiter(const uint8_t* d, uint32_t from, uint32_t length, uint8_t t) {
  if (length < 5 || from > length - 5) return kNotFound;
  uint32_t q = from + 3;             // the 01 of the start code, q = p + 3
  const uint32_t last = length - 2;  // p + 4 < length
  while (q <= last) {
    const void* hit = std::memchr(d + q, 0x01, last - q + 1);
    if (!hit) return kNotFound;
    q = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - d);
    if (d[q - 1] == 0 && d[q - 2] == 0 && d[q - 3] == 0 && (d[q + 1] & 0x1F) == t) return q - 3;
    ++q;
  }
  return kNotFound;
}

uint32_t ReadInto(std::FILE* file, uint8_t* to, uint32_t count) {
  if (!file || count == 0) return 0;
  return static_cast<uint32_t>(std::fread(to, 1, count, file));
}

// Primes one stream: buffer, first block, first delimiter.
PrimeResult PrimeOne(StreamBuffer& stream, uint8_t type, PrimeResult readFailed, PrimeResult noDelimiter) {
  stream.start = 0;
  stream.length = ReadInto(stream.file.get(), stream.data.get(), kStreamBufferBytes);
  if (stream.length == 0) return readFailed;
  uint32_t first = FindDelimiter(stream.data.get(), 0, stream.length, type);
  if (first == kNotFound) return noDelimiter;
  stream.start = first;
  return PrimeResult::Ok;
}

bool Fault(ReaderState& state) {
  state.m_readerFault = 1;
  return false;
}

// Merges the pair in m_unitAVC/m_unitMVC if the bitstream has room for it. Returns false when
// the pair stays held; that is a fault when it could not fit even into an empty bitstream.
bool MergeIfRoom(ReaderState& state, mfxBitstream& bitstream) {
  const uint32_t pair = state.m_unitAVC.length + kRoomMargin + state.m_unitMVC.length;
  if (pair > bitstream.MaxLength - bitstream.DataLength) {
    return pair > bitstream.MaxLength ? Fault(state) : false;
  }
  // The margin covers 32 short start codes; a unit of many tiny NAL units can need more than
  // the slack behind MaxLength, so check the exact size against what Data really holds.
  state.m_unitAVC.scanPos = 0;
  state.m_unitMVC.scanPos = 0;
  SplitViews(state.m_unitAVC, state.m_unitMVC, state.m_nalTables);
  const uint64_t size = InterleavedSize(state.m_nalTables);
  const uint64_t capacity = uint64_t{bitstream.MaxLength} + kBufferSlack;
  if (uint64_t{bitstream.DataLength} + size > capacity) {
    return size > capacity ? Fault(state) : false;
  }
  WriteInterleaved(state.m_unitAVC, state.m_unitMVC, state.m_nalTables, bitstream);
  state.m_unitPending = 0;
  return true;
}

}  // namespace

PrimeResult PrimeStreams(ReaderState& state) {
  // Buffers already held are reused, so a state can be primed again without allocating.
  if (!state.m_streamAVC.data) state.m_streamAVC.data = AllocateAligned(kStreamBufferBytes + kBufferSlack);
  if (!state.m_streamAVC.data) return PrimeResult::NoMemoryAVC;
  if (!state.m_streamMVC.data) state.m_streamMVC.data = AllocateAligned(kStreamBufferBytes + kBufferSlack);
  if (!state.m_streamMVC.data) return PrimeResult::NoMemoryMVC;
  PrimeResult result = PrimeOne(state.m_streamAVC, kBaseDelimiter, PrimeResult::ReadFailedAVC,
                                PrimeResult::NoDelimiterAVC);
  if (result != PrimeResult::Ok) return result;
  return PrimeOne(state.m_streamMVC, kDependentDelimiter, PrimeResult::ReadFailedMVC,
                  PrimeResult::NoDelimiterMVC);
}

const char* PrimeMessage(PrimeResult result) {
  switch (result) {
    case PrimeResult::Ok: return "";
    case PrimeResult::NoMemoryAVC: return "Korvala: ERROR -> NULL pointer -> DataAVC";
    case PrimeResult::NoMemoryMVC: return "Korvala: ERROR -> NULL pointer -> DataMVC";
    case PrimeResult::ReadFailedAVC: return "Korvala: Can't read Source File AVC";
    case PrimeResult::ReadFailedMVC: return "Korvala: Can't read Source File MVC";
    case PrimeResult::NoDelimiterAVC: return "Korvala: ERROR -> No access unit delimiter in Source File AVC";
    case PrimeResult::NoDelimiterMVC: return "Korvala: ERROR -> No access unit delimiter in Source File MVC";
  }
  return "";
}

uint32_t FindNextUnit(uint8_t t, StreamBuffer& stream, UnitSpan& unit, ReaderState& state) {
  uint8_t* d = stream.data.get();
  uint32_t from = stream.start + 4;
  for (;;) {
    const uint32_t p = FindDelimiter(d, from, stream.length, t);
    if (p != kNotFound) {
      unit = UnitSpan{d + stream.start, 0, p - stream.start};
      stream.start = p;
      return unit.length;
    }
    const uint32_t tail = stream.length > stream.start ? stream.length - stream.start : 0;
    if (stream.start != 0 && tail != 0) std::memmove(d, d + stream.start, tail);
    stream.length = tail;
    stream.start = 0;
    from = 4;
    const uint32_t want = kStreamBufferBytes - stream.length;
    const uint32_t n = ReadInto(stream.file.get(), d + stream.length, want);
    if (n > 0) {
      stream.length += n;
      continue;
    }
    unit = UnitSpan{d, 0, stream.length};
    // A full buffer asks the file for nothing: that is no end of input but a unit too large
    // to ever be cut, so report it rather than hand out a truncated unit as the last one.
    if (want == 0) {
      state.m_readerFault = 1;
    } else {
      state.m_inputEnded = 1;
    }
    return unit.length;
  }
}

mfxStatus FillBitstream(ReaderState& state, mfxBitstream* bitstream) {
  if (!bitstream || !bitstream->Data) return MFX_ERR_NULL_PTR;
  if (state.m_readerFault) return MFX_ERR_NOT_ENOUGH_BUFFER;
  if (state.m_mvcMode && (!state.m_streamAVC.data || !state.m_streamMVC.data)) return MFX_ERR_NULL_PTR;

  mfxBitstream& bs = *bitstream;
  if (bs.DataOffset != 0) {
    if (bs.DataLength != 0) std::memmove(bs.Data, bs.Data + bs.DataOffset, bs.DataLength);
    bs.DataOffset = 0;
  }

  if (!state.m_mvcMode) {
    // An overfull bitstream reads nothing rather than wrapping the request round.
    const uint32_t want = bs.DataLength < bs.MaxLength ? bs.MaxLength - bs.DataLength : 0;
    const uint32_t n = ReadInto(state.m_streamAVC.file.get(), bs.Data + bs.DataLength, want);
    if (n == 0) return MFX_ERR_MORE_DATA;
    bs.DataLength += n;
    return MFX_ERR_NONE;
  }

  if (state.m_inputEnded) {
    if (!state.m_unitPending) return MFX_ERR_MORE_DATA;
    MergeIfRoom(state, bs);
    return state.m_readerFault ? MFX_ERR_NOT_ENOUGH_BUFFER : MFX_ERR_NONE;
  }

  for (int i = 0; i < 10; ++i) {
    if (!state.m_unitPending) {
      FindNextUnit(kBaseDelimiter, state.m_streamAVC, state.m_unitAVC, state);
      FindNextUnit(kDependentDelimiter, state.m_streamMVC, state.m_unitMVC, state);
      if (state.m_readerFault) return MFX_ERR_NOT_ENOUGH_BUFFER;
    }
    if (!MergeIfRoom(state, bs)) {
      if (state.m_readerFault) return MFX_ERR_NOT_ENOUGH_BUFFER;
      state.m_unitPending = 1;
      break;
    }
    if (state.m_inputEnded) break;
  }
  return MFX_ERR_NONE;
}

}  // namespace korvala
