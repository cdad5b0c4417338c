// Fuzz target: two "files" primed and fed through FillBitstream, with a decoder stand-in that
// consumes a varying share of the bitstream between calls. What comes out must be exactly the
// plain model's merge of every unit pair, up to the first pair that can never fit, and the
// reader must neither hang nor touch bytes outside its buffers.
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>

#include "reference_model.h"
#include "stream_reader.h"

namespace {

using korvala::reference::Bytes;
using korvala::FilePtr;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "reader fuzz: %s\n", what);
    std::abort();
  }
}

FilePtr MemoryFile(Bytes& bytes) {
  // fmemopen refuses size 0, so an empty file is /dev/null.
  return FilePtr(bytes.empty() ? std::fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvala;
  if (size < 4) return 0;
  const size_t split = (size_t{data[0]} << 8 | data[1]) % (size - 3);
  const uint8_t room = data[2];
  const uint8_t pace = data[3];
  Bytes baseFile = reference::Expand(data + 4, split);
  Bytes depFile = reference::Expand(data + 4 + split, size - 4 - split);

  // The bitstream small enough that the room test, held pairs and never-fitting pairs all
  // happen; sized exactly, so ASan sees any write past Data. The stream buffers keep their
  // real size and are allocated once: priming reuses the buffers a state holds.
  const uint32_t maxLength = room == 255 ? kStreamBufferBytes : 16 + uint32_t{room} * 8;
  static Bytes fullBitstream(kStreamBufferBytes + kBufferSlack);
  Bytes smallBitstream(room == 255 ? 0 : maxLength + kBufferSlack);
  uint8_t* const bitstreamData = room == 255 ? fullBitstream.data() : smallBitstream.data();

  static ReaderState* kept = new ReaderState;
  ReaderState& s = *kept;
  s.m_streamAVC.start = s.m_streamAVC.length = s.m_streamMVC.start = s.m_streamMVC.length = 0;
  s.m_unitAVC = s.m_unitMVC = UnitSpan{};
  s.m_mvcMode = 1;
  s.m_inputEnded = s.m_unitPending = s.m_readerFault = 0;
  s.m_streamAVC.file = MemoryFile(baseFile);
  s.m_streamMVC.file = MemoryFile(depFile);
  const PrimeResult result = PrimeStreams(s);
  const std::vector<size_t> baseAt = reference::Delimiters(baseFile, kBaseDelimiter);
  const std::vector<size_t> depAt = reference::Delimiters(depFile, kDependentDelimiter);
  PrimeResult model = baseFile.empty()   ? PrimeResult::ReadFailedAVC
                      : baseAt.empty()   ? PrimeResult::NoDelimiterAVC
                      : depFile.empty()  ? PrimeResult::ReadFailedMVC
                      : depAt.empty()    ? PrimeResult::NoDelimiterMVC
                                         : PrimeResult::Ok;
  Check(result == model, "priming result");
  const bool primed = result == PrimeResult::Ok;
  if (primed) Check(s.m_streamAVC.start == baseAt[0] && s.m_streamMVC.start == depAt[0], "first delimiter");

  if (primed) {
    std::vector<Bytes> baseUnits = reference::CutFile(baseFile, kBaseDelimiter);
    std::vector<Bytes> depUnits = reference::CutFile(depFile, kDependentDelimiter);
    const size_t pairs = std::min(baseUnits.size(), depUnits.size());
    Bytes expected;
    bool fault = false;
    for (size_t i = 0; i < pairs && !fault; ++i) {
      Bytes merged = reference::Merge(baseUnits[i], depUnits[i]);
      fault = baseUnits[i].size() + 32 + depUnits[i].size() > maxLength ||
              merged.size() > size_t{maxLength} + kBufferSlack;
      if (!fault) expected.insert(expected.end(), merged.begin(), merged.end());
    }

    mfxBitstream bs{};
    bs.Data = bitstreamData;
    bs.MaxLength = maxLength;
    Bytes got;
    mfxStatus status = MFX_ERR_NONE;
    for (uint32_t round = 0;; ++round) {
      Check(round < 1000000, "no progress");
      const uint32_t before = bs.DataLength;
      status = FillBitstream(s, &bs);
      if (status != MFX_ERR_NONE) break;
      Check(bs.DataOffset == 0 && bs.DataLength <= maxLength + kBufferSlack, "bitstream fields");
      // Consume all, half, one byte or nothing, as the pace bits say; something whenever the
      // call appended nothing, so a pair that waits for room gets it in the end.
      uint32_t take = 0;
      switch ((pace >> (round % 4 * 2)) & 3) {
        case 0: take = bs.DataLength; break;
        case 1: take = bs.DataLength / 2; break;
        case 2: take = bs.DataLength ? 1 : 0; break;
        case 3: take = 0; break;
      }
      if (bs.DataLength == before && take == 0) take = bs.DataLength;
      // Every pair writes at least its delimiter, so an empty bitstream must have grown.
      Check(bs.DataLength != 0, "success without progress on an empty bitstream");
      got.insert(got.end(), bs.Data + bs.DataOffset, bs.Data + bs.DataOffset + take);
      bs.DataOffset += take;
      bs.DataLength -= take;
    }
    got.insert(got.end(), bs.Data + bs.DataOffset, bs.Data + bs.DataOffset + bs.DataLength);
    Check(status == (fault ? MFX_ERR_NOT_ENOUGH_BUFFER : MFX_ERR_MORE_DATA), "final status");
    Check(got == expected, "merged stream differs from the model");
    Check(FillBitstream(s, &bs) == status, "final status is not sticky");
  }

  s.m_streamAVC.file.reset();
  s.m_streamMVC.file.reset();
  return 0;
}
