// Reader + interleaver throughput over a generated two-view stream, against memcpy of the same
// bytes in the same run. Prints MB/s and the ratio; the goal is at least 1 GB/s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "stream_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

struct Random {
  uint64_t x = 0x9E3779B97F4A7C15ull;
  uint32_t Next() {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return static_cast<uint32_t>(x >> 32);
  }
};

// A NAL unit with a slice-like payload: random bytes, emulation prevention applied, so zero
// bytes and 00 00 03 occur as they do in coded data.
void AppendNal(Bytes& out, uint8_t header, size_t payload, Random& rng, bool fourByteCode = true) {
  if (fourByteCode) out.push_back(0);
  out.insert(out.end(), {0, 0, 1, header});
  int zeros = 0;
  for (size_t i = 0; i < payload; ++i) {
    uint8_t b = static_cast<uint8_t>(rng.Next() >> 24);
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  if (out.back() == 0) out.back() = 0x80;  // rbsp stop bit
}

// Blu-ray-like sizes: an IDR unit with parameter sets every 24 units, four slices per picture.
void GenerateStreams(size_t baseBytes, Bytes& base, Bytes& dep) {
  Random rng;
  for (uint32_t n = 0; base.size() < baseBytes; ++n) {
    const bool idr = n % 24 == 0;
    const size_t slice = (idr ? 90000 : 20000) + rng.Next() % 10000;
    base.insert(base.end(), {0, 0, 0, 1, 0x09, 0xF0});
    dep.insert(dep.end(), {0, 0, 0, 1, 0x18, 0x04, 0x00, 0x85});
    if (idr) {
      AppendNal(base, 0x67, 20, rng);
      AppendNal(base, 0x68, 5, rng);
      AppendNal(dep, 0x6F, 24, rng);
      AppendNal(dep, 0x68, 5, rng);
    }
    AppendNal(base, 0x06, 30, rng);
    for (int s = 0; s < 4; ++s) {
      AppendNal(base, 0x0E, 3, rng);  // prefix NAL unit, dropped by the merge
      AppendNal(base, idr ? 0x65 : 0x41, slice, rng, s == 0);
      AppendNal(dep, 0x74, slice * 6 / 10, rng, s == 0);
    }
  }
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// One pass of both files through priming and FillBitstream; returns the bytes merged.
uint64_t ReadPass(Bytes& base, Bytes& dep, korvala::ReaderState& state, mfxBitstream& bs) {
  using namespace korvala;
  state.m_streamAVC.file = FilePtr(fmemopen(base.data(), base.size(), "rb"));
  state.m_streamMVC.file = FilePtr(fmemopen(dep.data(), dep.size(), "rb"));
  state.m_mvcMode = 1;
  state.m_inputEnded = state.m_unitPending = state.m_readerFault = 0;
  if (PrimeStreams(state) != PrimeResult::Ok) return 0;
  bs.DataOffset = bs.DataLength = 0;
  uint64_t merged = 0;
  while (FillBitstream(state, &bs) == MFX_ERR_NONE) {
    merged += bs.DataLength;  // the decoder stand-in takes everything
    bs.DataOffset += bs.DataLength;
    bs.DataLength = 0;
  }
  return merged;
}

}  // namespace

int main() {
  using namespace korvala;
  Bytes base, dep;
  base.reserve(70u << 20);
  dep.reserve(45u << 20);
  GenerateStreams(64u << 20, base, dep);
  const int passes = 3;
  const double inputMB = double(base.size() + dep.size()) * passes / 1e6;

  ReaderState state;
  AlignedBytes data = AllocateAligned(kStreamBufferBytes + kBufferSlack);
  mfxBitstream bs{};
  bs.Data = data.get();
  bs.MaxLength = kStreamBufferBytes;
  AlignedBytes sink = AllocateAligned(kStreamBufferBytes + kBufferSlack);

  double bestReader = 1e9, bestCopy = 1e9;
  uint64_t merged = 0;
  for (int round = 0; round < 3; ++round) {
    auto t0 = Clock::now();
    merged = 0;
    for (int p = 0; p < passes; ++p) merged += ReadPass(base, dep, state, bs);
    auto t1 = Clock::now();
    // memcpy of the same input bytes in blocks of the stream buffer's size.
    for (int p = 0; p < passes; ++p)
      for (const Bytes* file : {&base, &dep})
        for (size_t off = 0; off < file->size(); off += kStreamBufferBytes) {
          size_t n = std::min<size_t>(kStreamBufferBytes, file->size() - off);
          std::memcpy(sink.get(), file->data() + off, n);
        }
    auto t2 = Clock::now();
    bestReader = std::min(bestReader, Seconds(t0, t1));
    bestCopy = std::min(bestCopy, Seconds(t1, t2));
  }
  volatile uint8_t keep = sink[12345];
  (void)keep;

  const double readerRate = inputMB / bestReader, copyRate = inputMB / bestCopy;
  std::printf("input %.0f MB (%d passes of %.1f MB base + %.1f MB dependent), merged %.0f MB\n", inputMB, passes,
              base.size() / 1e6, dep.size() / 1e6, merged / 1e6);
  std::printf("reader + interleaver: %8.0f MB/s\n", readerRate);
  std::printf("memcpy of the input:  %8.0f MB/s\n", copyRate);
  std::printf("ratio to memcpy:      %8.2f  (goal: at least 1000 MB/s)\n", readerRate / copyRate);
  return merged ? 0 : 1;
}
