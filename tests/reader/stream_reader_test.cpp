// The reader: one indexed unit per append, both views merged, stamped, never past MaxLength; a
// unit that can never fit is a sticky error, one that cannot fit now waits; a file shorter than
// its index ends the input.
#include <gtest/gtest.h>

#include "index_scan.h"
#include "reference_model.h"
#include "stream_builder.h"
#include "stream_reader.h"

namespace korvala::test {
namespace {

struct Pair {
  ReaderState state;
  UnitIndex index{true};
  Pair(const Bytes& base, const Bytes& dep) {
    state.m_mvcMode = 1;
    state.m_unitsAVC = std::make_unique<FileSource>(FileOf(base));
    state.m_unitsMVC = std::make_unique<FileSource>(FileOf(dep));
    const char* message = "";
    EXPECT_TRUE(AllocateUnitBuffers(state, &message));
    FileScan b(FileOf(base)), d(FileOf(dep));
    ScanToEnd(index, b, &d);
  }
};

TEST(ReaderAppend, EachUnitPairIsMergedWithItsStamp) {
  const Bytes base = Cat({BaseUnit(1, {30}, true), BaseUnit(2, {40, 7})});
  const Bytes dep = Cat({DepUnit(1, {20}, true), DepUnit(2, {9})});
  Pair p(base, dep);
  ASSERT_EQ(p.index.KnownUnits(), 2u);
  Bitstream bits;
  // Backwards, as after a seek: the files are read at the units' offsets.
  for (int k : {1, 0}) {
    ASSERT_EQ(AppendUnit(p.state, p.index.Unit(k), true, 100 + k, &bits.bs), AppendResult::kAppended);
    EXPECT_EQ(bits.bs.TimeStamp, mfxU64(100 + k));
    const Bytes units[2][2] = {{BaseUnit(1, {30}, true), DepUnit(1, {20}, true)}, {BaseUnit(2, {40, 7}), DepUnit(2, {9})}};
    EXPECT_TRUE(bits.Take() == reference::Merge(units[k][0], units[k][1])) << "unit " << k;
  }
  // The base view alone, as for ViewId 0.
  ASSERT_EQ(AppendUnit(p.state, p.index.Unit(1), false, 7, &bits.bs), AppendResult::kAppended);
  EXPECT_TRUE(bits.Take() == BaseUnit(2, {40, 7}));
}

TEST(ReaderAppend, RoomIsCheckedExactlyAndAnOversizedUnitIsSticky) {
  const Bytes base = Cat({BaseUnit(1, {1000}), UnitOfLength(true, kStreamBufferBytes + 1, 2)});
  const Bytes dep = Cat({DepUnit(1, {1000}), DepUnit(2, {10})});
  Pair p(base, dep);
  ASSERT_EQ(p.index.KnownUnits(), 2u);
  Bitstream bits;
  bits.bs.DataLength = kStreamBufferBytes - 100;  // unread bytes leave 100 free
  const mfxU32 before = bits.bs.DataLength;
  EXPECT_EQ(AppendUnit(p.state, p.index.Unit(0), true, 1, &bits.bs), AppendResult::kNoRoom);
  EXPECT_EQ(bits.bs.DataLength, before);
  bits.bs.DataLength = 0;
  EXPECT_EQ(AppendUnit(p.state, p.index.Unit(0), true, 1, &bits.bs), AppendResult::kAppended);
  EXPECT_LE(bits.bs.DataLength, bits.bs.MaxLength);
  EXPECT_EQ(AppendUnit(p.state, p.index.Unit(1), true, 2, &bits.bs), AppendResult::kTooLarge);
  EXPECT_EQ(AppendUnit(p.state, p.index.Unit(0), true, 1, &bits.bs), AppendResult::kTooLarge) << "sticky";
}

TEST(ReaderAppend, AFileShorterThanItsIndexEndsTheInput) {
  const Bytes base = Cat({BaseUnit(1, {30}), BaseUnit(2, {30})});
  const Bytes dep = Cat({DepUnit(1, {20}), DepUnit(2, {20})});
  Pair p(base, dep);
  p.state.m_unitsAVC = std::make_unique<FileSource>(FileOf(Bytes(base.begin(), base.end() - 5)));  // lost its tail
  Bitstream bits;
  EXPECT_EQ(AppendUnit(p.state, p.index.Unit(0), true, 0, &bits.bs), AppendResult::kAppended);
  EXPECT_EQ(AppendUnit(p.state, p.index.Unit(1), true, 1, &bits.bs), AppendResult::kReadFailed);
}

}  // namespace
}  // namespace korvala::test
