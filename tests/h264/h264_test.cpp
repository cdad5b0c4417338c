// The H.264 syntax library: start codes, escaping, Exp-Golomb codes and bit copies at every
// alignment, and the subset SPS's view description it writes read back by its parser.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "access_units.h"
#include "bits.h"
#include "mvc_writer.h"
#include "parameter_sets.h"

namespace h264 {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Bits [from, to) of a buffer as a string of '0' and '1'.
std::string BitString(const Bytes& b, std::size_t from, std::size_t to) {
  std::string s;
  for (std::size_t i = from; i < to; ++i) s += ((b[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
  return s;
}

TEST(H264Bits, StartCodesOfThreeAndFourBytesAndTrailingZeros) {
  const Bytes s = {0xAA, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 0, 1, 0x68, 3, 0, 0, 1, 0x65, 9};
  std::vector<NalUnit> u = SplitUnits(s.data(), s.size());
  ASSERT_EQ(u.size(), 3u);
  EXPECT_EQ(u[0].header, 4u);
  EXPECT_EQ(u[0].end, 7u);  // the zeros before 00 00 00 01 belong to neither unit
  EXPECT_TRUE(u[0].complete);
  EXPECT_EQ(u[1].start, 8u);
  EXPECT_EQ(u[1].end, 14u);
  EXPECT_FALSE(u[2].complete);
  EXPECT_EQ(u[2].end, s.size());
  EXPECT_TRUE(SplitUnits(s.data(), 3).empty());
}

TEST(H264Bits, EmulationPreventionRoundTripsAndLeavesNoStartCodes) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    Bytes rbsp(rng() % 64);
    for (std::uint8_t& b : rbsp) b = (rng() % 3 == 0) ? static_cast<std::uint8_t>(rng() % 4) : 0;
    // A real RBSP ends in its stop bit or in cabac_zero_words (00 00 each): an even run of zeros.
    std::size_t run = 0;
    while (run < rbsp.size() && rbsp[rbsp.size() - 1 - run] == 0) ++run;
    if (run % 2) rbsp.push_back(0);
    Bytes nal;
    AppendEscaped(rbsp.data(), rbsp.size(), nal);
    for (std::size_t i = 0; i + 2 < nal.size(); ++i)
      ASSERT_FALSE(nal[i] == 0 && nal[i + 1] == 0 && nal[i + 2] <= 2) << "round " << round << " at " << i;
    if (!nal.empty()) {
      EXPECT_NE(nal.back(), 0) << "a payload must not end in a zero byte";
    }
    Bytes back;
    Unescape(nal.data(), nal.size(), back);
    EXPECT_EQ(back, rbsp);
  }
  Bytes nal;
  const Bytes rbsp = {0, 0, 1, 0, 0, 0, 0};
  AppendEscaped(rbsp.data(), rbsp.size(), nal);
  EXPECT_EQ(nal, (Bytes{0, 0, 3, 1, 0, 0, 3, 0, 0, 3}));
}

TEST(H264Bits, ExpGolombAndBitCopies) {
  BitWriter w;
  const std::uint32_t values[] = {0, 1, 2, 3, 7, 15, 255, 65535, 0x7FFFFFFE, 0xFFFFFFFE};
  for (std::uint32_t v : values) w.Ue(v);
  w.U(0x15, 5);
  w.TrailingBits();
  BitReader r(w.Bytes().data(), w.Bytes().size());
  for (std::uint32_t v : values) EXPECT_EQ(r.Ue(), v);
  EXPECT_EQ(r.U(5), 0x15u);
  EXPECT_EQ(StopBitPosition(w.Bytes().data(), w.Bytes().size()), r.Position());

  BitWriter s;
  s.Ue(3);  // 00100
  s.Ue(0);
  s.TrailingBits();  // 0010 0110 -> se reads ue 3 as +2, ue 0 as 0
  BitReader rs(s.Bytes().data(), s.Bytes().size());
  EXPECT_EQ(rs.Se(), 2);
  EXPECT_EQ(rs.Se(), 0);
  const Bytes zeros(5, 0), ones(1, 0xFF);
  BitReader z(zeros.data(), zeros.size()), o(ones.data(), ones.size());
  z.Ue();
  o.U(9);
  EXPECT_TRUE(z.Error());
  EXPECT_TRUE(o.Error());

  std::mt19937 rng(3);
  Bytes src(40);
  for (std::uint8_t& b : src) b = static_cast<std::uint8_t>(rng());
  for (int lead = 0; lead < 9; ++lead) {
    for (std::size_t from : {0, 1, 5, 8, 13}) {
      for (std::size_t to : {std::size_t{13}, std::size_t{100}, src.size() * 8}) {
        BitWriter c;
        c.U(0x155, lead);
        c.CopyBits(src.data(), from, to);
        std::size_t total = c.Position();
        if (total % 8) c.U(0, static_cast<int>(8 - total % 8));
        EXPECT_EQ(BitString(c.Bytes(), static_cast<std::size_t>(lead), total), BitString(src, from, to))
            << "lead " << lead << " from " << from << " to " << to;
      }
    }
  }
}

TEST(H264Multiview, ViewDescriptionReadsBack) {
  // Three views with references; levels 40, 40, 51, 40: the last is a level entry of its own.
  SubsetSps s;
  s.views.resize(3);
  s.views[1].viewId = 2;
  s.views[1].anchorL0 = {0};
  s.views[1].nonAnchorL0 = {0};
  s.views[2].viewId = 5;
  s.views[2].anchorL0 = {0, 2};
  s.views[2].anchorL1 = {2};
  s.views[2].nonAnchorL1 = {0};
  auto op = [](std::uint32_t level, std::uint32_t temporal, std::vector<std::uint32_t> targets, std::uint32_t n) {
    MvcOperationPoint p;
    p.levelIdc = level;
    p.temporalId = temporal;
    p.targetViews = std::move(targets);
    p.numViews = n;
    return p;
  };
  s.ops = {op(40, 0, {0}, 1), op(40, 1, {2, 5}, 3), op(51, 2, {5}, 2), op(40, 7, {2}, 2)};

  BitWriter w;
  w.U(118, 8);
  w.U(0, 8);
  w.U(40, 8);
  for (std::uint32_t v : {0u, 1u, 0u, 0u}) w.Ue(v);  // id, 4:2:0, 8-bit luma and chroma
  w.U(0, 2);                                        // no bypass, no scaling matrices
  for (std::uint32_t v : {0u, 0u, 0u, 1u}) w.Ue(v);  // frame_num, POC type 0 and its lsb, refs
  w.Flag(false);
  w.Ue(9);  // 160x96
  w.Ue(5);
  w.U(12, 4);  // frame_mbs_only, direct_8x8, no crop, no VUI
  w.Flag(true);  // bit_equal_to_one
  WriteMvcExtension(s, w);
  w.U(0, 2);  // no MVC VUI, no second extension
  w.TrailingBits();
  SubsetSps parsed;
  ASSERT_TRUE(ParseSubsetSps(w.Bytes().data(), w.Bytes().size(), parsed));
  ASSERT_EQ(parsed.views.size(), s.views.size());
  for (std::size_t i = 0; i < s.views.size(); ++i) {
    EXPECT_EQ(parsed.views[i].viewId, s.views[i].viewId);
    EXPECT_EQ(parsed.views[i].anchorL0, s.views[i].anchorL0) << i;
    EXPECT_EQ(parsed.views[i].anchorL1, s.views[i].anchorL1) << i;
    EXPECT_EQ(parsed.views[i].nonAnchorL0, s.views[i].nonAnchorL0) << i;
    EXPECT_EQ(parsed.views[i].nonAnchorL1, s.views[i].nonAnchorL1) << i;
  }
  ASSERT_EQ(parsed.ops.size(), s.ops.size());
  for (std::size_t i = 0; i < s.ops.size(); ++i) {
    EXPECT_EQ(parsed.ops[i].levelIdc, s.ops[i].levelIdc) << i;
    EXPECT_EQ(parsed.ops[i].temporalId, s.ops[i].temporalId) << i;
    EXPECT_EQ(parsed.ops[i].targetViews, s.ops[i].targetViews) << i;
    EXPECT_EQ(parsed.ops[i].numViews, s.ops[i].numViews) << i;
  }
}

// Where the cutter opens units, for NAL units given as (header byte, first_mb_in_slice is 0);
// offsets are the units' positions in the list.
std::vector<std::uint64_t> Cuts(CutMode mode, std::initializer_list<std::pair<std::uint8_t, bool>> nals) {
  AccessUnitCutter cutter(mode);
  std::vector<std::uint64_t> cuts;
  std::uint64_t at = 0, begin = 0;
  for (const auto& [header, first] : nals) {
    NalStart nal;
    nal.offset = at++;
    nal.header = header;
    nal.firstMbZero = first;
    if (cutter.Push(nal, begin)) cuts.push_back(begin);
  }
  return cuts;
}

TEST(H264AccessUnits, TheCutterFollowsBothViews) {
  using V = std::vector<std::uint64_t>;
  const bool first = true, later = false;
  // Delimited: a second slice of a picture stays; the next delimiter opens a unit.
  EXPECT_EQ(Cuts(CutMode::kStream, {{0x09, 0}, {0x67, 0}, {0x68, 0}, {0x65, first}, {0x65, later}, {0x09, 0}, {0x41, first}}),
            (V{0, 5}));
  // No delimiters: parameter sets and SEI behind a picture open the next unit, with them.
  EXPECT_EQ(Cuts(CutMode::kStream, {{0x67, 0}, {0x68, 0}, {0x65, first}, {0x06, 0}, {0x68, 0}, {0x41, first}, {0x41, first}}),
            (V{0, 3, 6}));
  // Interleaved views: a subset SPS and PPS between the base and dependent slices belong to the
  // same instant; a prefix unit behind the dependent slices opens the next.
  EXPECT_EQ(Cuts(CutMode::kStream, {{0x6E, 0}, {0x65, first}, {0x6F, 0}, {0x68, 0}, {0x74, first}, {0x74, later},
                                    {0x6E, 0}, {0x41, first}, {0x74, first}}),
            (V{0, 6}));
  // End of sequence closes its unit.
  EXPECT_EQ(Cuts(CutMode::kStream, {{0x65, first}, {0x0A, 0}, {0x41, later}}), (V{0, 2}));
  // The dependent view alone: type 24 opens units, or without it a slice extension of a new picture.
  EXPECT_EQ(Cuts(CutMode::kDependent, {{0x18, 0}, {0x6F, 0}, {0x74, first}, {0x18, 0}, {0x74, first}}), (V{0, 3}));
  EXPECT_EQ(Cuts(CutMode::kDependent, {{0x68, 0}, {0x74, first}, {0x74, later}, {0x68, 0}, {0x74, first}}), (V{0, 3}));
  // A unit of a delimiter alone (a demuxer's stand-in for a lost picture) keeps its place; parameter
  // sets before the first delimiter stay with it.
  EXPECT_EQ(Cuts(CutMode::kDependent, {{0x6F, 0}, {0x18, 0}, {0x74, first}, {0x18, 0}, {0x18, 0}, {0x74, first}}),
            (V{0, 3, 4}));
  // Base slices in a dependent file do not cut it.
  EXPECT_EQ(Cuts(CutMode::kDependent, {{0x74, first}, {0x65, first}, {0x74, later}}), (V{0}));
}

}  // namespace
}  // namespace h264
