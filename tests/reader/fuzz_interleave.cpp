// Fuzz target: InterleaveViews on two spans held in buffers of their exact size, writing behind
// a few unread bytes into a bitstream of exactly the promised size. The output must be the
// plain model's merge, and InterleavedSize must be what was written.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "reference_model.h"
#include "stream_reader.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "interleave fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvala;
  if (size < 3) return 0;
  const size_t split = (size_t{data[0]} << 8 | data[1]) % (size - 2);
  const uint32_t unread = data[2] % 16;
  const reference::Bytes base = reference::Expand(data + 3, split);
  const reference::Bytes dep = reference::Expand(data + 3 + split, size - 3 - split);

  // Heap copies of exactly the span lengths, so any read past a span is caught.
  std::unique_ptr<uint8_t[]> baseBytes(new uint8_t[base.size()]);
  std::unique_ptr<uint8_t[]> depBytes(new uint8_t[dep.size()]);
  if (!base.empty()) std::memcpy(baseBytes.get(), base.data(), base.size());
  if (!dep.empty()) std::memcpy(depBytes.get(), dep.data(), dep.size());

  UnitSpan b{baseBytes.get(), 0, static_cast<uint32_t>(base.size())};
  UnitSpan d{depBytes.get(), 0, static_cast<uint32_t>(dep.size())};
  NalTables tables;
  SplitViews(b, d, tables);
  const uint64_t promised = InterleavedSize(tables);
  Check(b.scanPos == b.length && d.scanPos == d.length, "scanPos after splitting");

  const reference::Bytes expected = reference::Merge(base, dep);
  Check(promised == expected.size(), "InterleavedSize differs from the model");

  std::unique_ptr<uint8_t[]> out(new uint8_t[unread + promised]);
  std::memset(out.get(), 0xA5, unread);
  mfxBitstream bs{};
  bs.Data = out.get();
  bs.DataLength = unread;
  bs.MaxLength = static_cast<mfxU32>(unread + promised);
  b.scanPos = 0;
  d.scanPos = 0;
  InterleaveViews(b, d, bs, tables);
  Check(bs.DataLength == unread + promised, "DataLength after the merge");
  for (uint32_t i = 0; i < unread; ++i) Check(out[i] == 0xA5, "unread bytes overwritten");
  Check(promised == 0 || std::memcmp(out.get() + unread, expected.data(), promised) == 0,
        "merged unit differs from the model");
  return 0;
}
