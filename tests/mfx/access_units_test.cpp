// The access-unit splitter behind the test runtime's access-unit mode.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "access_units.h"

namespace {

using mfxtest::AccessUnitSplitter;
using Units = std::vector<AccessUnitSplitter::Unit>;

std::vector<std::uint8_t> Stream() {
  // Unit 0: a preamble before its delimiter, a slice. Unit 1: slice + slice extension after a
  // three-byte start code. Unit 2: slice only.
  return {0xAA, 0, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x65, 0x88,  //
          0, 0, 0, 1, 0x09, 0x10, 0, 0, 0, 1, 0x41, 0x9A, 0, 0, 1, 0x14, 0x80,  //
          0, 0, 0, 1, 0x09, 0x30, 0, 0, 0, 1, 0x01, 0x00, 0x00};
}

Units Split(const std::vector<std::uint8_t>& s, std::size_t piece) {
  AccessUnitSplitter splitter;
  Units units;
  for (std::size_t at = 0; at < s.size(); at += piece)
    splitter.Append(s.data() + at, std::min(piece, s.size() - at), &units);
  splitter.Finish(&units);
  return units;
}

TEST(AccessUnitSplitter, SplitsAtDelimitersWhateverThePieceSize) {
  for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{5}, std::size_t{1000}}) {
    SCOPED_TRACE(piece);
    Units u = Split(Stream(), piece);
    ASSERT_EQ(u.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(u[i].index, i);
    EXPECT_FALSE(u[0].hasSliceExtension);
    EXPECT_TRUE(u[1].hasSliceExtension);
    EXPECT_FALSE(u[2].hasSliceExtension);
  }
}

TEST(AccessUnitSplitter, AUnitCompletesOnlyWhenTheNextDelimiterHeaderArrives) {
  const auto s = Stream();
  AccessUnitSplitter splitter;
  Units units;
  // Up to and including the second delimiter's start code, but not its header byte.
  splitter.Append(s.data(), 16, &units);
  EXPECT_TRUE(units.empty());
  splitter.Append(s.data() + 16, 1, &units);
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].index, 0u);
}

TEST(AccessUnitSplitter, ThreeByteStartCodeOrOtherNalTypesDoNotOpenAUnit) {
  const std::vector<std::uint8_t> s = {0, 0, 0, 1, 0x09, 0x10, 0, 0, 1, 0x09, 0x10,  // 3-byte: no
                                       0, 0, 0, 1, 0x29, 0x10,                        // nal_ref_idc set: no
                                       0, 0, 0, 1, 0x06, 0x09};
  Units u = Split(s, 4);
  ASSERT_EQ(u.size(), 1u);
}

TEST(AccessUnitSplitter, EmptyInputHasNoUnitAndTrailingBytesFormTheLast) {
  AccessUnitSplitter splitter;
  Units units;
  splitter.Finish(&units);
  EXPECT_TRUE(units.empty());
  const std::vector<std::uint8_t> noDelimiters = {0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x65};
  Units u = Split(noDelimiters, 3);
  ASSERT_EQ(u.size(), 1u) << "a stream without delimiters is one unit";
}

}  // namespace
