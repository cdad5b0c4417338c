// The stream reader: priming, unit cutting across buffer refills, the bitstream fill in both
// modes with its room test, held pair and reading states, and the oversized-unit errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "stream_builder.h"
#include "stream_reader.h"

namespace korvala::test {
namespace {

constexpr uint32_t kMax = kStreamBufferBytes;

// Two files of units, primed as the clip primes them.
struct Pair {
  std::vector<Bytes> base, dep;
  ReaderState state;
  Bitstream bits;

  Pair(std::vector<Bytes> b, std::vector<Bytes> d, const Bytes& leadBase = {}, const Bytes& leadDep = {})
      : base(std::move(b)), dep(std::move(d)) {
    Bytes fb = leadBase, fd = leadDep;
    for (const Bytes& u : base) Append(fb, u);
    for (const Bytes& u : dep) Append(fd, u);
    state.m_mvcMode = 1;
    state.m_streamAVC.file = FileOf(fb);
    state.m_streamMVC.file = FileOf(fd);
  }
  PrimeResult Prime() { return PrimeStreams(state); }
  mfxStatus Fill() { return FillBitstream(state, &bits.bs); }
  Bytes Expected(size_t from, size_t to) const {
    Bytes e;
    for (size_t i = from; i < to; ++i) Append(e, Merge(base[i], dep[i]));
    return e;
  }
};

std::vector<Bytes> BaseUnits(uint32_t n, uint32_t seed = 0) {
  std::vector<Bytes> v;
  for (uint32_t i = 0; i < n; ++i) v.push_back(BaseUnit(seed + i, {30 + i % 7, 50}, i == 0));
  return v;
}
std::vector<Bytes> DepUnits(uint32_t n, uint32_t seed = 0) {
  std::vector<Bytes> v;
  for (uint32_t i = 0; i < n; ++i) v.push_back(DepUnit(seed + i, {20 + i % 5}, i == 0));
  return v;
}

// ---- priming ----

TEST(ReaderPrime, SkipsBytesBeforeTheFirstDelimiterOfEachFile) {
  // Ahead of the real delimiters: a partial unit, a delimiter behind a three-byte start code,
  // and a delimiter of the other file's type.
  Bytes leadBase = Cat({Bytes{0x55, 0x66}, In(Body(0x41, 9, 1)), In(Aud(), 3), In(DepDelimiter(2))});
  Bytes leadDep = Cat({In(Body(0x74, 5, 3)), In(Aud()), In(DepDelimiter(4), 3)});
  Pair p(BaseUnits(2), DepUnits(2), leadBase, leadDep);
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  EXPECT_EQ(p.state.m_streamAVC.start, leadBase.size());
  EXPECT_EQ(p.state.m_streamMVC.start, leadDep.size());
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
  EXPECT_EQ(p.bits.Take(), p.Expected(0, 2));
}

TEST(ReaderPrime, DelimiterTypeIsTheLowFiveBits) {
  Bytes lead = In(Body(0x41, 9, 1));
  std::vector<Bytes> base = {Cat({In(Bytes{0x29, 0xF0}), In(Body(0x41, 20, 2))})};
  Pair p(base, DepUnits(1), lead);
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  EXPECT_EQ(p.state.m_streamAVC.start, lead.size());
}

TEST(ReaderPrime, EmptyOrMissingFileCannotBeRead) {
  Pair emptyBase({}, DepUnits(1));
  EXPECT_EQ(emptyBase.Prime(), PrimeResult::ReadFailedAVC);
  Pair emptyDep(BaseUnits(1), {});
  EXPECT_EQ(emptyDep.Prime(), PrimeResult::ReadFailedMVC);
  Pair missing(BaseUnits(1), DepUnits(1));
  missing.state.m_streamAVC.file.reset();
  EXPECT_EQ(missing.Prime(), PrimeResult::ReadFailedAVC);
}

TEST(ReaderPrime, FileWithoutItsDelimiterIsAnError) {
  // Only slices and dependent delimiters in the base file.
  Pair noAud({Cat({In(Body(0x41, 30, 1)), In(DepDelimiter(2))})}, DepUnits(1));
  EXPECT_EQ(noAud.Prime(), PrimeResult::NoDelimiterAVC);
  // Base delimiters, but in the dependent file and behind a three-byte start code.
  Pair noDep(BaseUnits(1), {Cat({In(Aud()), In(DepDelimiter(3), 3), In(Body(0x74, 30, 4))})});
  EXPECT_EQ(noDep.Prime(), PrimeResult::NoDelimiterMVC);
  // A start code in the last four bytes has no header byte yet: no delimiter.
  Pair cut({Cat({In(Body(0x41, 30, 1)), Bytes{0, 0, 0, 1}})}, DepUnits(1));
  EXPECT_EQ(cut.Prime(), PrimeResult::NoDelimiterAVC);
  // The shortest sound file: start code and header byte.
  Pair shortest({Bytes{0, 0, 0, 1, 9}}, DepUnits(1));
  EXPECT_EQ(shortest.Prime(), PrimeResult::Ok);
}

TEST(ReaderPrime, DelimiterBeyondTheFirstBlockIsNotFound) {
  Bytes base = In(Body(0x41, kMax + 100, 1));
  Append(base, BaseUnit(2, {40}));
  Pair p({base}, DepUnits(1));
  EXPECT_EQ(p.Prime(), PrimeResult::NoDelimiterAVC);
}

TEST(ReaderPrime, Messages) {
  EXPECT_STREQ(PrimeMessage(PrimeResult::NoMemoryAVC), "Korvala: ERROR -> NULL pointer -> DataAVC");
  EXPECT_STREQ(PrimeMessage(PrimeResult::NoMemoryMVC), "Korvala: ERROR -> NULL pointer -> DataMVC");
  EXPECT_STREQ(PrimeMessage(PrimeResult::ReadFailedAVC), "Korvala: Can't read Source File AVC");
  EXPECT_STREQ(PrimeMessage(PrimeResult::ReadFailedMVC), "Korvala: Can't read Source File MVC");
  EXPECT_STREQ(PrimeMessage(PrimeResult::NoDelimiterAVC),
               "Korvala: ERROR -> No access unit delimiter in Source File AVC");
  EXPECT_STREQ(PrimeMessage(PrimeResult::NoDelimiterMVC),
               "Korvala: ERROR -> No access unit delimiter in Source File MVC");
  EXPECT_STREQ(PrimeMessage(PrimeResult::Ok), "");
  EXPECT_STREQ(kOversizedUnitMessage, "Korvala: ERROR -> Access unit larger than the stream buffer");
}

// ---- cutting units ----

Bytes SpanBytes(const UnitSpan& u) { return Bytes(u.data, u.data + u.length); }

TEST(ReaderCut, OnlyFourByteDelimitersOfTheFileTypeCut) {
  Bytes u0 = Cat({In(Aud()), In(Body(0x41, 20, 1)), In(Aud(), 3), In(Body(0x41, 20, 2)),
                  In(DepDelimiter(3)), In(Body(0x41, 20, 4))});
  Bytes u1 = BaseUnit(5, {30});
  Pair p({u0, u1}, DepUnits(1));
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  EXPECT_EQ(FindNextUnit(kBaseDelimiter, p.state.m_streamAVC, p.state.m_unitAVC, p.state), u0.size());
  EXPECT_EQ(SpanBytes(p.state.m_unitAVC), u0);
  EXPECT_EQ(p.state.m_inputEnded, 0);
  EXPECT_EQ(FindNextUnit(kBaseDelimiter, p.state.m_streamAVC, p.state.m_unitAVC, p.state), u1.size());
  EXPECT_EQ(SpanBytes(p.state.m_unitAVC), u1);
  EXPECT_EQ(p.state.m_inputEnded, 1);
  EXPECT_EQ(p.state.m_streamAVC.start, 0u);
}

TEST(ReaderCut, LastUnitRunsToTheFileEndWithTrailingZeros) {
  Bytes last = Cat({DepUnit(9, {40}), Bytes(7, 0)});
  Pair p(BaseUnits(2), {DepUnit(8, {30}, true), last});
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  FindNextUnit(kDependentDelimiter, p.state.m_streamMVC, p.state.m_unitMVC, p.state);
  EXPECT_EQ(p.state.m_inputEnded, 0);
  FindNextUnit(kDependentDelimiter, p.state.m_streamMVC, p.state.m_unitMVC, p.state);
  EXPECT_EQ(SpanBytes(p.state.m_unitMVC), last);
  EXPECT_EQ(p.state.m_unitMVC.scanPos, 0u);
  EXPECT_EQ(p.state.m_inputEnded, 1);
}

// A delimiter at `at`, near the end of the first 3,840,000-byte block, straddles it or not.
class ReaderCutAcrossBlock : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ReaderCutAcrossBlock, DelimiterIsFoundAfterTheTailMoves) {
  const uint32_t at = GetParam();
  // Units at 0, 1,000,000, 2,000,000, 3,000,000 and `at`, then two more.
  std::vector<uint32_t> sizes = {1000000, 1000000, 1000000, at - 3000000, 700000, 900000, 50};
  for (bool base : {true, false}) {
    std::vector<Bytes> units;
    for (uint32_t i = 0; i < sizes.size(); ++i) units.push_back(UnitOfLength(base, sizes[i], i + (base ? 0 : 50)));
    Pair p(base ? units : BaseUnits(1), base ? DepUnits(1) : units);
    ASSERT_EQ(p.Prime(), PrimeResult::Ok);
    StreamBuffer& stream = base ? p.state.m_streamAVC : p.state.m_streamMVC;
    UnitSpan& unit = base ? p.state.m_unitAVC : p.state.m_unitMVC;
    for (size_t i = 0; i < units.size(); ++i) {
      FindNextUnit(base ? kBaseDelimiter : kDependentDelimiter, stream, unit, p.state);
      ASSERT_EQ(unit.length, units[i].size()) << "unit " << i << (base ? " base" : " dependent");
      ASSERT_EQ(std::memcmp(unit.data, units[i].data(), unit.length), 0) << "unit " << i;
      EXPECT_EQ(p.state.m_inputEnded, i + 1 == units.size() ? 1 : 0) << "unit " << i;
    }
    EXPECT_EQ(p.state.m_readerFault, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Offsets, ReaderCutAcrossBlock,
                         ::testing::Values(kMax - 7, kMax - 6, kMax - 5, kMax - 4, kMax - 3, kMax - 2,
                                           kMax - 1, kMax, kMax + 1));

// ---- FillBitstream ----

TEST(ReaderFill, NullBitstreamChangesNothing) {
  Pair p(BaseUnits(2), DepUnits(2));
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  const uint32_t start = p.state.m_streamAVC.start;
  EXPECT_EQ(FillBitstream(p.state, nullptr), MFX_ERR_NULL_PTR);
  EXPECT_EQ(p.state.m_streamAVC.start, start);
  EXPECT_EQ(p.state.m_unitPending, 0);
  EXPECT_EQ(p.state.m_inputEnded, 0);
  mfxBitstream noData{};
  noData.MaxLength = kMax;
  EXPECT_EQ(FillBitstream(p.state, &noData), MFX_ERR_NULL_PTR);
  ReaderState unprimed;
  unprimed.m_mvcMode = 1;
  EXPECT_EQ(FillBitstream(unprimed, &p.bits.bs), MFX_ERR_NULL_PTR);
}

TEST(ReaderFill, EqualCountsMergeTheFinalPairOnce) {
  Pair p(BaseUnits(3), DepUnits(3));
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
  EXPECT_EQ(p.state.m_inputEnded, 1);
  EXPECT_EQ(p.state.m_unitPending, 0);
  EXPECT_EQ(p.bits.Take(), p.Expected(0, 3));
  EXPECT_EQ(p.Fill(), MFX_ERR_MORE_DATA);
  EXPECT_EQ(p.Fill(), MFX_ERR_MORE_DATA);
  EXPECT_EQ(p.bits.bs.DataLength, 0u);
}

TEST(ReaderFill, ShorterFileEndsTheInput) {
  {  // dependent file shorter: its last unit pairs with base unit 2; base 3 and 4 never read
    Pair p(BaseUnits(5), DepUnits(3));
    ASSERT_EQ(p.Prime(), PrimeResult::Ok);
    EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
    EXPECT_EQ(p.bits.Take(), p.Expected(0, 3));
    EXPECT_EQ(p.Fill(), MFX_ERR_MORE_DATA);
  }
  {  // base file shorter: the dependent file is still cut for the final pair
    Pair p(BaseUnits(3), DepUnits(5));
    ASSERT_EQ(p.Prime(), PrimeResult::Ok);
    EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
    EXPECT_EQ(p.bits.Take(), p.Expected(0, 3));
    EXPECT_EQ(p.state.m_unitMVC.length, p.dep[2].size());
    EXPECT_EQ(p.Fill(), MFX_ERR_MORE_DATA);
  }
}

TEST(ReaderFill, AtMostTenPairsPerCall) {
  Pair p(BaseUnits(25), DepUnits(25));
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  for (auto [from, to] : {std::pair{0, 10}, {10, 20}, {20, 25}}) {
    EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
    EXPECT_EQ(p.state.m_inputEnded, to == 25 ? 1 : 0);
    EXPECT_EQ(p.bits.Take(), p.Expected(from, to)) << "pairs " << from << " to " << to;
  }
  EXPECT_EQ(p.Fill(), MFX_ERR_MORE_DATA);
}

TEST(ReaderFill, UnreadBytesMoveToTheFront) {
  Pair p(BaseUnits(1), DepUnits(1));
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  for (uint32_t i = 0; i < 20; ++i) p.bits.bs.Data[i] = static_cast<uint8_t>(i);
  p.bits.bs.DataOffset = 13;
  p.bits.bs.DataLength = 7;
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
  EXPECT_EQ(p.bits.bs.DataOffset, 0u);
  EXPECT_EQ(p.bits.Take(), Cat({Bytes{13, 14, 15, 16, 17, 18, 19}, p.Expected(0, 1)}));
}

// Fills the bitstream with unread bytes so that exactly `room` bytes stay free.
void LeaveRoom(Bitstream& bits, uint32_t room) {
  bits.bs.DataOffset = 0;
  bits.bs.DataLength = bits.bs.MaxLength - room;
  std::memset(bits.bs.Data, 0x77, bits.bs.DataLength);
}

TEST(ReaderFill, HeldPairWaitsForRoomAndGoesFirst) {
  Pair p(BaseUnits(4), DepUnits(4));
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  // Room for exactly the first pair under the room test (lengths + 32), not for the second.
  LeaveRoom(p.bits, static_cast<uint32_t>(p.base[0].size() + 32 + p.dep[0].size()));
  const uint32_t unread = p.bits.bs.DataLength;
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
  EXPECT_EQ(p.state.m_unitPending, 1);
  EXPECT_EQ(p.state.m_inputEnded, 0);
  EXPECT_EQ(Bytes(p.bits.bs.Data + unread, p.bits.bs.Data + p.bits.bs.DataLength), p.Expected(0, 1));

  // Still no room: nothing appended, nothing scanned.
  const uint32_t filled = p.bits.bs.DataLength;
  const uint32_t startAVC = p.state.m_streamAVC.start, startMVC = p.state.m_streamMVC.start;
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
  EXPECT_EQ(p.bits.bs.DataLength, filled);
  EXPECT_EQ(p.state.m_unitPending, 1);
  EXPECT_EQ(p.state.m_streamAVC.start, startAVC);
  EXPECT_EQ(p.state.m_streamMVC.start, startMVC);

  p.bits.Take();
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
  EXPECT_EQ(p.state.m_unitPending, 0);
  EXPECT_EQ(p.state.m_inputEnded, 1);
  EXPECT_EQ(p.bits.Take(), p.Expected(1, 4));
  EXPECT_EQ(p.Fill(), MFX_ERR_MORE_DATA);
}

TEST(ReaderFill, RoomTestIsLengthsPlusThirtyTwo) {
  Pair p(BaseUnits(1), DepUnits(1));
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  const uint32_t need = static_cast<uint32_t>(p.base[0].size() + 32 + p.dep[0].size());
  LeaveRoom(p.bits, need - 1);
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
  EXPECT_EQ(p.bits.bs.DataLength, kMax - need + 1);
  EXPECT_EQ(p.state.m_unitPending, 1);
  p.bits.bs.DataLength -= 1;
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
  EXPECT_EQ(p.state.m_unitPending, 0);
  EXPECT_EQ(p.bits.bs.DataLength, kMax - need + p.Expected(0, 1).size());
}

TEST(ReaderFill, EndingStateMergesTheLastHeldPairThenExhausts) {
  Pair p(BaseUnits(2), DepUnits(2));
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  LeaveRoom(p.bits, static_cast<uint32_t>(p.base[0].size() + 32 + p.dep[0].size()));
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);  // pair 0 merged, the last pair held
  EXPECT_EQ(p.state.m_inputEnded, 1);
  EXPECT_EQ(p.state.m_unitPending, 1);
  const uint32_t filled = p.bits.bs.DataLength;
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);  // Ending, still no room
  EXPECT_EQ(p.bits.bs.DataLength, filled);
  EXPECT_EQ(p.state.m_unitPending, 1);
  p.bits.Take();
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);  // merged once
  EXPECT_EQ(p.state.m_unitPending, 0);
  EXPECT_EQ(p.bits.Take(), p.Expected(1, 2));
  EXPECT_EQ(p.Fill(), MFX_ERR_MORE_DATA);  // Exhausted
  EXPECT_EQ(p.bits.bs.DataLength, 0u);
}

// ---- units that can never fit ----

TEST(ReaderOversized, UnitFillingTheWholeBufferIsAnErrorNotTheEnd) {
  for (uint32_t lead : {0u, 100u}) {
    Bytes huge = UnitOfLength(true, kMax + 500, 1);
    Pair p({huge, BaseUnit(2, {40})}, DepUnits(2), Bytes(lead, 0x33));
    ASSERT_EQ(p.Prime(), PrimeResult::Ok);
    EXPECT_EQ(p.Fill(), MFX_ERR_NOT_ENOUGH_BUFFER);
    EXPECT_EQ(p.state.m_readerFault, 1);
    EXPECT_EQ(p.state.m_inputEnded, 0);
    EXPECT_EQ(p.bits.bs.DataLength, 0u);
    EXPECT_EQ(p.Fill(), MFX_ERR_NOT_ENOUGH_BUFFER);  // sticky
  }
  {  // exactly one buffer: no room for it in the bitstream either
    Pair p(BaseUnits(1), {UnitOfLength(false, kMax, 3)});
    ASSERT_EQ(p.Prime(), PrimeResult::Ok);
    EXPECT_EQ(p.Fill(), MFX_ERR_NOT_ENOUGH_BUFFER);
  }
}

TEST(ReaderOversized, PairThatCanNeverPassTheRoomTest) {
  {
    Pair p({UnitOfLength(true, 2000000, 1)}, {UnitOfLength(false, kMax - 2000000 - 31, 2)});
    ASSERT_EQ(p.Prime(), PrimeResult::Ok);
    EXPECT_EQ(p.Fill(), MFX_ERR_NOT_ENOUGH_BUFFER);
    EXPECT_EQ(p.bits.bs.DataLength, 0u);
    EXPECT_EQ(p.Fill(), MFX_ERR_NOT_ENOUGH_BUFFER);
  }
  {  // one byte smaller fits an empty bitstream; behind unread bytes it waits as usual
    Pair p({UnitOfLength(true, 2000000, 1), BaseUnit(3, {10})},
           {UnitOfLength(false, kMax - 2000000 - 32, 2), DepUnit(4, {10})});
    ASSERT_EQ(p.Prime(), PrimeResult::Ok);
    LeaveRoom(p.bits, kMax - 1);
    EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
    EXPECT_EQ(p.state.m_unitPending, 1);
    p.bits.Take();
    Bytes got;
    mfxStatus status;
    while ((status = p.Fill()) == MFX_ERR_NONE) Append(got, p.bits.Take());
    EXPECT_EQ(status, MFX_ERR_MORE_DATA);
    EXPECT_EQ(got, p.Expected(0, 2));
  }
}

// A base unit of `count` one-byte NAL units behind three-byte start codes: each grows by a
// byte when written, far beyond what the room test's 32 bytes allow for.
Bytes TinyNalUnit(uint32_t count) {
  Bytes b = In(Aud());
  b.reserve(b.size() + 4 * size_t{count});
  for (uint32_t i = 0; i < count; ++i) Append(b, Bytes{0, 0, 1, 0x01});
  return b;
}

TEST(ReaderOversized, ManyTinyNalUnitsWaitUntilTheExactSizeFits) {
  Pair p({TinyNalUnit(10000), BaseUnit(1, {20})}, DepUnits(2));
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  // Passes lengths + 32, but the merge is ~10,000 bytes longer than the base unit.
  LeaveRoom(p.bits, static_cast<uint32_t>(p.base[0].size() + 32 + p.dep[0].size()));
  const uint32_t unread = p.bits.bs.DataLength;
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
  EXPECT_EQ(p.bits.bs.DataLength, unread);
  EXPECT_EQ(p.state.m_unitPending, 1);
  p.bits.bs.DataOffset = unread - 10;  // the decoder took all but 10 bytes
  p.bits.bs.DataLength = 10;
  EXPECT_EQ(p.Fill(), MFX_ERR_NONE);
  EXPECT_EQ(p.state.m_unitPending, 0);
  EXPECT_EQ(p.bits.Take(), Cat({Bytes(10, 0x77), p.Expected(0, 2)}));
}

TEST(ReaderOversized, ManyTinyNalUnitsThatCanNeverFit) {
  // 3,100,006 bytes pass the room test in an empty bitstream but merge to over 3,875,000.
  Pair p({TinyNalUnit(775000)}, {DepUnit(1, {10})});
  ASSERT_EQ(p.Prime(), PrimeResult::Ok);
  EXPECT_EQ(p.Fill(), MFX_ERR_NOT_ENOUGH_BUFFER);
  EXPECT_EQ(p.bits.bs.DataLength, 0u);
}

// ---- one-file mode ----

TEST(ReaderOneFile, RawBytesUpToMaxLength) {
  Bytes file = Body(0x41, 5000000, 7);
  ReaderState state;
  state.m_streamAVC.file = FileOf(file);
  Bitstream bits;
  bits.bs.DataLength = 100;
  std::memcpy(bits.bs.Data, file.data(), 100);
  std::fseek(state.m_streamAVC.file.get(), 100, SEEK_SET);
  EXPECT_EQ(FillBitstream(state, &bits.bs), MFX_ERR_NONE);
  EXPECT_EQ(bits.bs.DataLength, kMax);
  // Full: reads nothing and reports the end of input.
  EXPECT_EQ(FillBitstream(state, &bits.bs), MFX_ERR_MORE_DATA);
  EXPECT_EQ(std::ftell(state.m_streamAVC.file.get()), long{kMax});
  Bytes got = bits.Take();
  // Overfull (as no decoder should leave it): still no read, no wrap.
  bits.bs.DataOffset = 0;
  bits.bs.DataLength = kMax + 10;
  EXPECT_EQ(FillBitstream(state, &bits.bs), MFX_ERR_MORE_DATA);
  bits.bs.DataLength = 0;
  EXPECT_EQ(FillBitstream(state, &bits.bs), MFX_ERR_NONE);
  Append(got, bits.Take());
  EXPECT_EQ(got, file);
  EXPECT_EQ(FillBitstream(state, &bits.bs), MFX_ERR_MORE_DATA);
}

}  // namespace
}  // namespace korvala::test
