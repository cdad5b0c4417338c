#pragma once
// Generated elementary streams for the reader and interleaver tests: NAL units with
// recognisable payloads, access units of both views, and temporary files holding them.
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include <gtest/gtest.h>

#include "aligned_buffer.h"
#include "interleave.h"
#include "stream_reader.h"

namespace korvala::test {

using Bytes = std::vector<uint8_t>;

// Header byte and payload of a NAL unit. The payload holds no zero byte, so it never ends
// the unit early, and differs with the seed, so misplaced units show in byte comparisons.
inline Bytes Body(uint8_t header, size_t payload, uint32_t seed) {
  Bytes b;
  b.reserve(payload + 1);
  b.push_back(header);
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < payload; ++i) {
    x = x * 1103515245u + 12345u;
    b.push_back(static_cast<uint8_t>(2 + (x >> 16) % 254));
  }
  return b;
}

// A NAL unit as it stands in a file: start code of three or four bytes, then the body.
inline Bytes In(const Bytes& body, int startCode = 4) {
  Bytes b(startCode == 4 ? Bytes{0, 0, 0, 1} : Bytes{0, 0, 1});
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

inline void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) Append(b, p);
  return b;
}

// What the interleaver writes for these bodies: each behind 00 00 00 01.
inline Bytes Out(std::initializer_list<Bytes> bodies) {
  Bytes b;
  for (const Bytes& body : bodies) Append(b, In(body, 4));
  return b;
}

inline Bytes Aud() { return Bytes{0x09, 0xF0}; }
inline Bytes DepDelimiter(uint32_t seed) { return Body(0x18, 3, seed); }

// A base-view access unit: delimiter, SPS and PPS when idr, one slice per payload size.
inline Bytes BaseUnit(uint32_t seed, std::initializer_list<size_t> slices, bool idr = false) {
  Bytes b = In(Aud());
  if (idr) {
    Append(b, In(Body(0x67, 12, seed * 7 + 1)));
    Append(b, In(Body(0x68, 4, seed * 7 + 2)));
  }
  uint32_t i = 0;
  for (size_t size : slices) Append(b, In(Body(idr ? 0x65 : 0x41, size, seed * 7 + 3 + i++)));
  return b;
}

// A dependent-view access unit: type-24 delimiter, subset SPS and PPS when idr, slice extensions.
inline Bytes DepUnit(uint32_t seed, std::initializer_list<size_t> slices, bool idr = false) {
  Bytes b = In(DepDelimiter(seed));
  if (idr) {
    Append(b, In(Body(0x6F, 16, seed * 7 + 1001)));
    Append(b, In(Body(0x68, 4, seed * 7 + 1002)));
  }
  uint32_t i = 0;
  for (size_t size : slices) Append(b, In(Body(0x74, size, seed * 7 + 1003 + i++)));
  return b;
}

// A unit of exactly `length` bytes (at least 11): delimiter of the view, then one slice.
inline Bytes UnitOfLength(bool base, uint32_t length, uint32_t seed) {
  Bytes b = base ? In(Aud()) : In(Body(0x18, 1, seed));
  Append(b, In(Body(base ? 0x41 : 0x74, length - 11, seed)));
  return b;
}

// A temporary file holding the bytes, positioned at its start.
inline FilePtr FileOf(const Bytes& bytes) {
  FilePtr f(std::tmpfile());
  if (f && !bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f.get());
  if (f) std::rewind(f.get());
  return f;
}

// The decoder's bitstream as the clip allocates it: MaxLength + kBufferSlack bytes of Data.
struct Bitstream {
  AlignedBytes data = AllocateAligned(kStreamBufferBytes + kBufferSlack);
  mfxBitstream bs{};
  Bitstream() {
    bs.Data = data.get();
    bs.MaxLength = kStreamBufferBytes;
  }
  // Everything appended so far, then dropped as a decoder that consumed it would.
  Bytes Take() {
    Bytes b(bs.Data + bs.DataOffset, bs.Data + bs.DataOffset + bs.DataLength);
    bs.DataOffset += bs.DataLength;
    bs.DataLength = 0;
    return b;
  }
};

// InterleaveViews on two byte strings; output buffer sized from InterleavedSize.
inline Bytes Merge(const Bytes& base, const Bytes& dep, NalTables* keep = nullptr) {
  NalTables local;
  NalTables& tables = keep ? *keep : local;
  UnitSpan b{base.data(), 0, static_cast<uint32_t>(base.size())};
  UnitSpan d{dep.data(), 0, static_cast<uint32_t>(dep.size())};
  SplitViews(b, d, tables);
  const uint64_t size = InterleavedSize(tables);
  Bytes out(size + 1, 0xEE);  // one guard byte behind the promised size
  mfxBitstream bs{};
  bs.Data = out.data();
  bs.MaxLength = static_cast<mfxU32>(out.size());
  b.scanPos = 0;
  d.scanPos = 0;
  InterleaveViews(b, d, bs, tables);
  EXPECT_EQ(bs.DataLength, size) << "InterleavedSize differs from the bytes written";
  EXPECT_EQ(out[size], 0xEE) << "written past the promised size";
  out.resize(bs.DataLength);
  return out;
}

}  // namespace korvala::test
