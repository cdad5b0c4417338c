// The splitter must find the same units however the input is cut into pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "access_units.h"

namespace {

std::vector<mfxtest::AccessUnitSplitter::Unit> Split(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  mfxtest::AccessUnitSplitter splitter;
  std::vector<mfxtest::AccessUnitSplitter::Unit> units;
  for (std::size_t at = 0; at < size; at += piece)
    splitter.Append(data + at, size - at < piece ? size - at : piece, &units);
  splitter.Finish(&units);
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t piece = 1 + data[0] % 16;
  auto whole = Split(data + 1, size - 1, size);
  auto cut = Split(data + 1, size - 1, piece);
  if (whole.size() != cut.size()) std::abort();
  for (std::size_t i = 0; i < whole.size(); ++i)
    if (whole[i].index != i || cut[i].index != i || whole[i].hasSliceExtension != cut[i].hasSliceExtension)
      std::abort();
  return 0;
}
