// The interleaver: splitting rules, the selection and its order, byte for byte.
#include <gtest/gtest.h>

#include "interleave.h"
#include "stream_builder.h"

namespace korvala::test {
namespace {

// Bodies named by role; the seed makes each one distinct.
const Bytes kAud = Aud();
const Bytes kSps = Body(0x67, 10, 1);
const Bytes kPps = Body(0x68, 3, 2);
const Bytes kSei1 = Body(0x06, 7, 3);
const Bytes kSei2 = Body(0x06, 9, 4);
const Bytes kDep = DepDelimiter(5);
const Bytes kSubsetSps = Body(0x6F, 14, 6);
const Bytes kDepPps = Body(0x68, 4, 7);
const Bytes kDepSei = Body(0x06, 5, 8);

Bytes Slice(uint8_t header, uint32_t seed, size_t size = 40) { return Body(header, size, 100 + seed); }
Bytes Prefix(uint32_t seed) { return Body(0x6E, 3, 200 + seed); }

TEST(InterleaveOrder, MixedUnitKeepsSelectionAndDropsPrefixAndDelimiter) {
  Bytes base = Cat({In(kAud), In(kSps), In(kPps), In(kSei1), In(kSei2)});
  Bytes dep = Cat({In(kDep), In(kSubsetSps), In(kDepPps), In(kDepSei)});
  for (uint32_t i = 0; i < 4; ++i) Append(base, Cat({In(Prefix(i)), In(Slice(0x65, i))}));
  for (uint32_t i = 0; i < 4; ++i) Append(dep, In(Slice(0x74, 10 + i)));

  NalTables tables;
  Bytes merged = Merge(base, dep, &tables);
  EXPECT_EQ(tables.base.size(), 13u);
  EXPECT_EQ(tables.dependent.size(), 8u);
  Bytes expected = Out({kAud, kSps, kSubsetSps, kPps, kSei1, kSei2, Slice(0x65, 0), Slice(0x65, 1),
                        Slice(0x65, 2), Slice(0x65, 3), kDepPps, kDepSei, Slice(0x74, 10), Slice(0x74, 11),
                        Slice(0x74, 12), Slice(0x74, 13)});
  EXPECT_EQ(merged, expected);
  // Five NAL units (four prefix units, the dependent delimiter) are gone.
  EXPECT_EQ(merged.size(), base.size() + dep.size() - 4 * In(Prefix(0)).size() - In(kDep).size());
}

TEST(InterleaveOrder, TheDependentViewsPpsFollowsTheBaseSlices) {
  // Both id 2 (ue 011), with other contents: the base slices must not be read with the second.
  const Bytes basePps = {0x68, 0x60 | 0x1F, 0xAA}, depPps = {0x68, 0x60 | 0x1F, 0xCC};
  Bytes base = Cat({In(kAud), In(basePps), In(kSei1), In(Slice(0x41, 1))});
  Bytes dep = Cat({In(kDep), In(depPps), In(Slice(0x74, 2))});
  EXPECT_EQ(Merge(base, dep), Out({kAud, basePps, kSei1, Slice(0x41, 1), depPps, Slice(0x74, 2)}));
}

TEST(InterleaveOrder, EveryParameterSetIsWritten) {
  const Bytes sps2 = Body(0x67, 6, 97), subset2 = Body(0x6F, 6, 96), pps2 = Body(0x68, 3, 95), depPps2 = Body(0x68, 3, 94);
  Bytes base = Cat({In(kAud), In(kSps), In(sps2), In(kPps), In(pps2), In(Slice(0x65, 1))});
  Bytes dep = Cat({In(kDep), In(kSubsetSps), In(subset2), In(kDepPps), In(depPps2), In(Slice(0x74, 2))});
  EXPECT_EQ(Merge(base, dep), Out({kAud, kSps, sps2, kSubsetSps, subset2, kPps, pps2, Slice(0x65, 1), kDepPps, depPps2,
                                   Slice(0x74, 2)}));
}

TEST(InterleaveOrder, SeiAfterSlicesIsWrittenBeforeThem) {
  Bytes base = Cat({In(kAud), In(Slice(0x41, 1)), In(kSei1)});
  Bytes dep = Cat({In(kDep), In(Slice(0x74, 2)), In(kDepSei)});
  EXPECT_EQ(Merge(base, dep), Out({kAud, kSei1, Slice(0x41, 1), kDepSei, Slice(0x74, 2)}));
}

TEST(InterleaveOrder, NonIdrSlicesComeBeforeIdrSlicesAndEndOfSequenceLast) {
  Bytes eosBase = Body(0x0A, 0, 0);
  Bytes eosDep = Body(0x0A, 2, 1);
  Bytes base = Cat({In(kAud), In(eosBase), In(Slice(0x65, 1)), In(Slice(0x41, 2)), In(Slice(0x65, 3))});
  Bytes dep = Cat({In(kDep), In(eosDep), In(Slice(0x74, 4))});
  EXPECT_EQ(Merge(base, dep),
            Out({kAud, Slice(0x41, 2), Slice(0x65, 1), Slice(0x65, 3), Slice(0x74, 4), eosBase, eosDep}));
}

TEST(InterleaveOrder, TypesOutsideTheSelectionAreDropped) {
  Bytes base = In(kAud);
  for (uint8_t t : {2, 3, 4, 11, 12, 13, 14, 15, 20, 24}) Append(base, In(Body(t, 5, t)));
  Append(base, In(Slice(0x41, 1)));
  Bytes dep = In(kDep);
  for (uint8_t t : {1, 5, 7, 9, 14, 24}) Append(dep, In(Body(t, 5, 50 + t)));
  Append(dep, In(Slice(0x74, 2)));
  EXPECT_EQ(Merge(base, dep), Out({kAud, Slice(0x41, 1), Slice(0x74, 2)}));
}

TEST(InterleaveOrder, TypeIsTheLowFiveBitsOfTheHeader) {
  Bytes aud = {0x29, 0xF0};  // nal_ref_idc bits set on a delimiter
  Bytes base = Cat({In(aud), In(Slice(0xE5, 1))});  // forbidden bit too: still type 5
  Bytes dep = Cat({In(kDep), In(Slice(0x14, 2))});
  EXPECT_EQ(Merge(base, dep), Out({aud, Slice(0xE5, 1), Slice(0x14, 2)}));
}

TEST(InterleaveOrder, EmptyOrTinySpansContributeNothing) {
  Bytes base = Cat({In(kAud), In(Slice(0x41, 1))});
  EXPECT_EQ(Merge(base, Bytes{}), Out({kAud, Slice(0x41, 1)}));
  EXPECT_EQ(Merge(Bytes{}, Bytes{}), Bytes{});
  EXPECT_EQ(Merge(Bytes{0, 0, 1}, Bytes{0, 0, 0, 1}), Bytes{});
  EXPECT_EQ(Merge(Bytes{0, 0, 1, 9}, Bytes{1, 2, 3, 4, 5, 6}), Out({Bytes{9}}));  // shortest unit
  EXPECT_EQ(Merge(Bytes{5, 6, 7, 8, 9, 10, 11}, In(kDep)), Bytes{});             // no start code
}

TEST(InterleaveSplit, ThreeByteStartCodeComesOutWithFour) {
  Bytes base = Cat({In(kAud), In(kSps, 3), In(kPps, 3), In(Slice(0x65, 1), 3)});
  Bytes dep = Cat({In(kDep), In(Slice(0x74, 2), 3)});
  Bytes merged = Merge(base, dep);
  EXPECT_EQ(merged, Out({kAud, kSps, kPps, Slice(0x65, 1), Slice(0x74, 2)}));
  EXPECT_EQ(merged.size(), base.size() + 3 + dep.size() + 1 - In(kDep).size());
}

TEST(InterleaveSplit, ZeroBytesBetweenUnitsAreNotWritten) {
  Bytes base = Cat({In(kAud), Bytes{0, 0, 0}, In(kSps), Bytes{0}, In(kPps, 3), Bytes{0, 0, 0, 0, 0},
                    In(Slice(0x65, 1))});
  Bytes dep = Cat({In(kDep), Bytes{0, 0}, In(Slice(0x74, 2), 3)});
  EXPECT_EQ(Merge(base, dep), Out({kAud, kSps, kPps, Slice(0x65, 1), Slice(0x74, 2)}));
}

TEST(InterleaveSplit, TrailingZerosOfASpan) {
  // One or two zero bytes at the very end stay with the last unit; three or more do not.
  Bytes slice = Slice(0x41, 1);
  for (size_t zeros = 0; zeros <= 5; ++zeros) {
    Bytes base = Cat({In(kAud), In(slice), Bytes(zeros, 0)});
    Bytes kept = slice;
    if (zeros <= 2) kept.insert(kept.end(), zeros, 0);
    EXPECT_EQ(Merge(base, Bytes{}), Out({kAud, kept})) << zeros << " trailing zeros";
  }
}

TEST(InterleaveSplit, EmulationPreventionNeverEndsAUnit) {
  Bytes slice = {0x41, 0x10, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x01, 0x22, 0x00, 0x05};
  Bytes base = Cat({In(kAud), In(slice), In(Slice(0x41, 2))});
  EXPECT_EQ(Merge(base, Bytes{}), Out({kAud, slice, Slice(0x41, 2)}));
}

TEST(InterleaveSplit, UnitEndsAtZeroRunBeforeStartCode) {
  // 00 00 00 not followed by a start code ends the unit too; what follows up to the next
  // start code is lost, as the split rule has it.
  // The lost bytes hold 00 01 41: a single zero before 01 is no start code.
  Bytes base = Cat({In(kAud), In(Bytes{0x41, 0x11, 0x00, 0x00, 0x00, 0x22, 0x00, 0x01, 0x41, 0x33}),
                    In(Slice(0x41, 2))});
  EXPECT_EQ(Merge(base, Bytes{}), Out({kAud, Bytes{0x41, 0x11}, Slice(0x41, 2)}));
}

TEST(InterleaveSplit, LastUnitRunsToTheSpanEnd) {
  Bytes base = Cat({In(kAud), In(Slice(0x41, 1)), Bytes{0x00, 0x00, 0x01}});  // start code, no header
  Bytes kept = Slice(0x41, 1);
  Append(kept, Bytes{0x00, 0x00, 0x01});
  // 00 00 01 at the end: the end test needs e + 2 < length, which holds, so the unit ends there.
  EXPECT_EQ(Merge(base, Bytes{}), Out({kAud, Slice(0x41, 1)}));
  // Cut the span so that only 00 00 of it remain: they stay with the unit.
  Bytes shorter(base.begin(), base.end() - 1);
  kept.resize(kept.size() - 1);
  EXPECT_EQ(Merge(shorter, Bytes{}), Out({kAud, kept}));
}

TEST(InterleaveSplit, SplitFromScanPosAndEndAtLength) {
  Bytes base = Cat({In(kAud), In(kSps), In(Slice(0x65, 1))});
  UnitSpan span{base.data(), static_cast<uint32_t>(In(kAud).size()), static_cast<uint32_t>(base.size())};
  std::vector<NalEntry> table;
  SplitUnit(span, table);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].type, 7);
  EXPECT_EQ(table[0].offset, In(kAud).size() + 4);
  EXPECT_EQ(table[0].length, kSps.size());
  EXPECT_EQ(table[1].type, 5);
  EXPECT_EQ(table[1].offset + table[1].length, base.size());
  EXPECT_EQ(span.scanPos, base.size());
  SplitUnit(span, table);  // nothing left
  EXPECT_EQ(table.size(), 2u);
}

TEST(InterleaveMany, UnitWithMoreThanTwentyFiveNalUnitsComesOutWhole) {
  Bytes base = Cat({In(kAud), In(kSps), In(kPps)});
  Bytes dep = Cat({In(kDep), In(kSubsetSps), In(kDepPps)});
  std::vector<Bytes> baseSlices, depSlices;
  for (uint32_t i = 0; i < 60; ++i) {
    baseSlices.push_back(Slice(0x65, i, 5 + i));
    Append(base, Cat({In(Prefix(i)), In(baseSlices.back(), i % 2 ? 3 : 4)}));
    depSlices.push_back(Slice(0x74, 500 + i, 7 + i));
    Append(dep, In(depSlices.back(), i % 3 ? 4 : 3));
  }
  Bytes expected = Out({kAud, kSps, kSubsetSps, kPps});
  for (const Bytes& s : baseSlices) Append(expected, In(s));
  Append(expected, In(kDepPps));
  for (const Bytes& s : depSlices) Append(expected, In(s));

  NalTables tables;
  EXPECT_EQ(Merge(base, dep, &tables), expected);
  EXPECT_EQ(tables.base.size(), 123u);
  EXPECT_EQ(tables.dependent.size(), 63u);
  // The tables keep their storage: a second unit of the same shape needs no allocation.
  const NalEntry* baseStorage = tables.base.data();
  const NalEntry* depStorage = tables.dependent.data();
  EXPECT_EQ(Merge(base, dep, &tables), expected);
  EXPECT_EQ(tables.base.data(), baseStorage);
  EXPECT_EQ(tables.dependent.data(), depStorage);
}

TEST(InterleaveMany, AppendsBehindUnreadBytes) {
  Bytes base = Cat({In(kAud), In(Slice(0x41, 1))});
  Bytes dep = Cat({In(kDep), In(Slice(0x74, 2))});
  Bytes out(64 + base.size() + dep.size(), 0xAB);
  mfxBitstream bs{};
  bs.Data = out.data();
  bs.DataLength = 5;
  bs.MaxLength = static_cast<mfxU32>(out.size());
  UnitSpan b{base.data(), 0, static_cast<uint32_t>(base.size())};
  UnitSpan d{dep.data(), 0, static_cast<uint32_t>(dep.size())};
  NalTables tables;
  InterleaveViews(b, d, bs, tables);
  Bytes expected = Cat({Bytes(5, 0xAB), Out({kAud, Slice(0x41, 1), Slice(0x74, 2)})});
  ASSERT_EQ(bs.DataLength, expected.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + bs.DataLength), expected);
  EXPECT_EQ(out[bs.DataLength], 0xAB);
}

}  // namespace
}  // namespace korvala::test
