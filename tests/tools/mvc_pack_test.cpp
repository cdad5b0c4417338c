// mvc-pack: bit-level rewriting, stream cutting, and packing real x264 encodes.
#include <gtest/gtest.h>

#include <random>

#include "bits.h"
#include "h264.h"
#include "mvc_pack.h"
#include "tool_test_util.h"

using namespace mvcpack;

namespace {

Bytes Rbsp(std::initializer_list<uint8_t> b) { return Bytes(b); }

// Bits [from, to) of a buffer as a string of '0' and '1'.
std::string BitString(const Bytes& b, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to; ++i) s += ((b[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
  return s;
}

// A NAL unit from a header byte and an RBSP.
Bytes Nal(uint8_t header, const Bytes& rbsp) {
  Bytes n{header};
  AppendWithEmulationPrevention(n, rbsp.data(), rbsp.size());
  return n;
}

NalUnit View(const Bytes& nal) { return NalUnit{nal.data(), nal.size()}; }

// A 4:2:0 SPS; with high, a High-profile one carrying the chroma fields.
Bytes MakeSps(bool high, uint32_t id, uint32_t widthMbs, uint32_t heightMbs) {
  BitWriter w;
  w.u(8, high ? 100 : 77);
  w.u(8, high ? 0 : 0x40);
  w.u(8, 31);
  w.ue(id);
  if (high) {
    w.ue(1);
    w.ue(0);
    w.ue(0);
    w.flag(false);
    w.flag(false);
  }
  w.ue(0);  // log2_max_frame_num_minus4
  w.ue(0);  // poc type 0
  w.ue(2);  // log2_max_poc_lsb_minus4
  w.ue(1);  // max_num_ref_frames
  w.flag(false);
  w.ue(widthMbs - 1);
  w.ue(heightMbs - 1);
  w.flag(true);   // frame_mbs_only
  w.flag(true);   // direct_8x8
  w.flag(false);  // cropping
  w.flag(false);  // vui
  w.TrailingBits();
  return Nal(0x67, w.bytes());
}

// The fixed length of the MVC extension tail that MakeSubsetSps writes, from bit_equal_to_one
// to additional_extension2_flag.
constexpr size_t kMvcTailBits = 37;

// The inverse rewrite: dependent-view file -> a plain AVC stream of view 1 that ffmpeg decodes.
Bytes DependentToAvc(const Bytes& dep) {
  Bytes out;
  for (const NalUnit& nal : SplitAnnexB(dep.data(), dep.size())) {
    Bytes n;
    switch (nal.type()) {
      case kNalDependentDelimiter:
        continue;
      case kNalSubsetSps: {
        Bytes rbsp = nal.rbsp();
        BitWriter w;
        w.u(8, 100);
        w.CopyBits(rbsp.data(), 8, StopBitPosition(rbsp) - kMvcTailBits);
        w.TrailingBits();
        n = Nal(static_cast<uint8_t>((nal.data[0] & 0x60) | kNalSps), w.bytes());
        break;
      }
      case kNalSliceExtension: {
        bool nonIdr = (nal.data[1] >> 6) & 1;
        n.push_back(static_cast<uint8_t>((nal.data[0] & 0x60) | (nonIdr ? kNalSlice : kNalIdrSlice)));
        n.insert(n.end(), nal.data + 4, nal.data + nal.size);
        break;
      }
      default:
        n.assign(nal.data, nal.data + nal.size);
    }
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), n.begin(), n.end());
  }
  return out;
}

size_t CountType(const Bytes& stream, uint8_t type) {
  size_t n = 0;
  for (const NalUnit& nal : SplitAnnexB(stream.data(), stream.size())) n += nal.type() == type;
  return n;
}

}  // namespace

TEST(MvcPackBits, EmulationPreventionRoundTripsAndLeavesNoStartCodes) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    Bytes rbsp(rng() % 64);
    for (uint8_t& b : rbsp) b = (rng() % 3 == 0) ? static_cast<uint8_t>(rng() % 4) : 0;
    // A real RBSP ends in its stop bit or in cabac_zero_words (00 00 each): an even run of zeros.
    size_t run = 0;
    while (run < rbsp.size() && rbsp[rbsp.size() - 1 - run] == 0) ++run;
    if (run % 2) rbsp.push_back(0);
    Bytes nal;
    AppendWithEmulationPrevention(nal, rbsp.data(), rbsp.size());
    for (size_t i = 0; i + 2 < nal.size(); ++i)
      ASSERT_FALSE(nal[i] == 0 && nal[i + 1] == 0 && nal[i + 2] <= 2) << "round " << round << " at " << i;
    if (!nal.empty()) {
      EXPECT_NE(nal.back(), 0) << "a payload must not end in a zero byte";
    }
    EXPECT_EQ(RemoveEmulationPrevention(nal.data(), nal.size()), rbsp);
  }
  Bytes nal;
  const Bytes rbsp = {0, 0, 1, 0, 0, 0};
  AppendWithEmulationPrevention(nal, rbsp.data(), rbsp.size());
  EXPECT_EQ(nal, (Bytes{0, 0, 3, 1, 0, 0, 3, 0, 3}));
}

TEST(MvcPackBits, ExpGolombAndBitCopies) {
  BitWriter w;
  const uint32_t values[] = {0, 1, 2, 3, 7, 15, 255, 65535, 0x7FFFFFFE, 0xFFFFFFFE};
  for (uint32_t v : values) w.ue(v);
  w.u(5, 0x15);
  w.TrailingBits();
  BitReader r(w.bytes());
  for (uint32_t v : values) EXPECT_EQ(r.ue(), v);
  EXPECT_EQ(r.u(5), 0x15u);
  EXPECT_EQ(StopBitPosition(w.bytes()), r.position());

  BitWriter s;
  s.ue(3);  // 00100
  s.ue(0);
  s.TrailingBits();  // 0010 0110 -> se reads ue 3 as +2, ue 0 as 0
  BitReader rs(s.bytes());
  EXPECT_EQ(rs.se(), 2);
  EXPECT_EQ(rs.se(), 0);
  EXPECT_THROW(BitReader(Rbsp({0, 0, 0, 0, 0})).ue(), PackError);
  EXPECT_THROW(BitReader(Rbsp({0xFF})).u(9), PackError);

  std::mt19937 rng(3);
  Bytes src(40);
  for (uint8_t& b : src) b = static_cast<uint8_t>(rng());
  for (size_t lead = 0; lead < 9; ++lead) {
    for (size_t from : {0, 1, 5, 8, 13}) {
      for (size_t to : {size_t{13}, size_t{100}, src.size() * 8}) {
        BitWriter c;
        c.u(static_cast<unsigned>(lead), 0x155);
        c.CopyBits(src.data(), from, to);
        size_t total = c.position();
        if (total % 8) c.u(static_cast<unsigned>(8 - total % 8), 0);
        EXPECT_EQ(BitString(c.bytes(), lead, total), BitString(src, from, to))
            << "lead " << lead << " from " << from << " to " << to;
      }
    }
  }
}

TEST(MvcPackSyntax, SplitsAnnexBUnits) {
  const Bytes stream = {0xAA, 0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01, 0x67, 0x00, 0x00, 0x03,
                        0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x68, 0xCE, 0x00, 0x00, 0x01, 0x65, 0x88, 0x00, 0x00};
  std::vector<NalUnit> nals = SplitAnnexB(stream.data(), stream.size());
  ASSERT_EQ(nals.size(), 4u);
  EXPECT_EQ(Bytes(nals[0].data, nals[0].data + nals[0].size), (Bytes{0x09, 0xF0}));
  EXPECT_EQ(Bytes(nals[1].data, nals[1].data + nals[1].size), (Bytes{0x67, 0x00, 0x00, 0x03, 0x01}))
      << "00 00 03 is emulation prevention, not a boundary; zeros before a start code are dropped";
  EXPECT_EQ(nals[2].type(), kNalPps);
  EXPECT_EQ(Bytes(nals[3].data, nals[3].data + nals[3].size), (Bytes{0x65, 0x88}))
      << "trailing zero bytes at the end of the data are not part of the last unit";
  EXPECT_TRUE(SplitAnnexB(stream.data(), 3).empty());
}

TEST(MvcPackSyntax, GroupsAccessUnitsWithoutDelimiters) {
  Bytes sps = MakeSps(true, 0, 4, 4);
  Bytes pps = Nal(0x68, {0xCE});
  Bytes idr0 = Nal(0x65, {0x88, 0x80});     // first_mb 0
  Bytes idr5 = Nal(0x65, {0x30, 0x80});     // first_mb 5 (00110)
  Bytes p0 = Nal(0x41, {0x9A, 0x80});       // first_mb 0
  Bytes sei = Nal(0x06, {0x05, 0x01, 0x80});
  Bytes eos = Nal(0x0A, {});
  Bytes stream;
  for (const Bytes* n : {&sps, &pps, &idr0, &idr5, &p0, &sei, &p0, &eos}) {
    stream.insert(stream.end(), {0, 0, 1});
    stream.insert(stream.end(), n->begin(), n->end());
  }
  std::vector<AccessUnit> units = GroupAccessUnits(SplitAnnexB(stream.data(), stream.size()));
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0].nals.size(), 4u) << "SPS, PPS and both slices of the IDR picture";
  EXPECT_EQ(units[1].nals.size(), 1u);
  EXPECT_EQ(units[2].nals.size(), 3u) << "a SEI after a slice opens the next unit; end of sequence stays";
  EXPECT_EQ(units[2].nals.back().type(), kNalEndOfSequence);
}

TEST(MvcPackRewrite, ExtensionHeaderBytes) {
  uint8_t b[3];
  MvcExtensionBytes(true, 1, b);
  EXPECT_EQ(Bytes(b, b + 3), (Bytes{0x00, 0x00, 0x45}));
  MvcExtensionBytes(false, 1, b);
  EXPECT_EQ(Bytes(b, b + 3), (Bytes{0x40, 0x00, 0x41}));
  MvcExtensionBytes(false, 1023, b);
  EXPECT_EQ(Bytes(b, b + 3), (Bytes{0x40, 0xFF, 0xC1}));
}

TEST(MvcPackRewrite, SubsetSpsKeepsSequenceDataAndDescribesTwoViews) {
  for (bool high : {true, false}) {
    SCOPED_TRACE(high ? "High source" : "Main source");
    Bytes spsNal = MakeSps(high, 2, 120, 68);
    Bytes subset = MakeSubsetSps(View(spsNal));
    ASSERT_EQ(subset[0], 0x6F) << "nal_ref_idc kept, type 15";
    Bytes src = View(spsNal).rbsp();
    Bytes out = View(subset).rbsp();
    SpsInfo srcInfo = ParseSps(src);
    SpsInfo info = ParseSps(out);
    EXPECT_EQ(info.profileIdc, kMultiviewHigh);
    EXPECT_EQ(info.id, 2u);
    EXPECT_EQ(info.width(), 1920u);
    EXPECT_EQ(info.height(), 1088u);
    EXPECT_EQ(info.chromaFormatIdc, 1u);
    EXPECT_EQ(BitString(out, 8, 24), BitString(src, 8, 24)) << "constraint flags and level";
    // Behind the id: the chroma fields where the source lacked them, then the source's bits.
    size_t inserted = high ? 0 : 7;
    size_t srcEnd = StopBitPosition(src);
    EXPECT_EQ(BitString(out, info.idEndBit, info.idEndBit + inserted), high ? "" : "0101100");
    EXPECT_EQ(BitString(out, info.idEndBit + inserted, info.idEndBit + inserted + srcEnd - srcInfo.idEndBit),
              BitString(src, srcInfo.idEndBit, srcEnd));
    size_t dataEnd = info.idEndBit + inserted + srcEnd - srcInfo.idEndBit;
    BitReader r(out);
    while (r.position() < dataEnd) r.u(1);
    EXPECT_TRUE(r.flag()) << "bit_equal_to_one";
    EXPECT_EQ(r.ue(), 1u) << "num_views_minus1";
    EXPECT_EQ(r.ue(), 0u);
    EXPECT_EQ(r.ue(), 1u) << "view ids 0 and 1";
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r.ue(), 0u) << "no anchor or non-anchor references";
    EXPECT_EQ(r.ue(), 0u) << "one level";
    EXPECT_EQ(r.u(8), 31u);
    EXPECT_EQ(r.ue(), 0u);
    EXPECT_EQ(r.u(3), 0u);
    EXPECT_EQ(r.ue(), 1u);
    EXPECT_EQ(r.ue(), 0u);
    EXPECT_EQ(r.ue(), 1u);
    EXPECT_EQ(r.ue(), 1u);
    EXPECT_FALSE(r.flag()) << "mvc_vui_parameters_present_flag";
    EXPECT_FALSE(r.flag()) << "additional_extension2_flag";
    EXPECT_EQ(r.position(), StopBitPosition(out));
    EXPECT_EQ(StopBitPosition(out) - dataEnd, kMvcTailBits);
  }
}

TEST(MvcPackRewrite, RenumberingShiftsTheRestByWholeBytes) {
  for (uint32_t id = 0; id <= 15; ++id) {
    uint32_t to = DependentPpsId(id);
    EXPECT_LE(to, 255u);
    BitWriter w;
    w.ue(id);
    w.ue(0);
    w.u(13, 0x1ABC);
    w.TrailingBits();
    Bytes pps = Nal(0x68, w.bytes());
    Bytes out = RenumberPps(View(pps), to);
    Bytes src = View(pps).rbsp(), dst = View(out).rbsp();
    ASSERT_EQ(dst.size(), src.size() + 1) << "id " << id;
    PpsInfo a = ParsePps(src), b = ParsePps(dst);
    EXPECT_EQ(b.id, to);
    EXPECT_EQ(BitString(dst, b.idEndBit, dst.size() * 8), BitString(src, a.idEndBit, src.size() * 8));
    EXPECT_EQ(b.idEndBit % 8, a.idEndBit % 8) << "byte alignment of everything behind the id is kept";
  }
}

// Packs two real x264 encodes and checks both views against ffmpeg's decode of the sources.
class MvcPackStreams : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tooltest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg with libx264 is not installed";
    dir_ = tooltest::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  std::string Encode(const std::string& name, tooltest::EncodeOptions o) {
    std::string path = dir_ + "/" + name + ".h264";
    std::string log;
    EXPECT_TRUE(tooltest::Encode(path, o, &log)) << log;
    return path;
  }
  std::string dir_;
};

TEST_F(MvcPackStreams, BothViewsDecodeAsTheirSources) {
  struct Case {
    const char* name;
    tooltest::EncodeOptions o;
  };
  tooltest::EncodeOptions cabac, cavlc, noAud, slices;
  cavlc.extra = "cabac=0";
  noAud.aud = false;
  slices.extra = "slices=3";
  slices.bframes = 0;
  for (const Case& c : {Case{"cabac", cabac}, Case{"cavlc", cavlc}, Case{"no_aud", noAud}, Case{"slices", slices}}) {
    SCOPED_TRACE(c.name);
    tooltest::EncodeOptions lo = c.o, ro = c.o;
    ro.mirrored = true;
    std::string l = Encode(std::string(c.name) + "_left", lo), r = Encode(std::string(c.name) + "_right", ro);
    Bytes lb = tooltest::ReadFile(l), rb = tooltest::ReadFile(r);
    PackResult p = Pack(lb.data(), lb.size(), rb.data(), rb.size());
    EXPECT_EQ(p.accessUnits, 20u);
    EXPECT_EQ(p.width, 160u);
    EXPECT_EQ(p.height, 96u);

    // Every base unit opens with a delimiter behind a four-byte start code.
    std::vector<AccessUnit> baseUnits = GroupAccessUnits(SplitAnnexB(p.base.data(), p.base.size()));
    ASSERT_EQ(baseUnits.size(), 20u);
    for (const AccessUnit& u : baseUnits) {
      EXPECT_EQ(u.nals.front().type(), kNalAud);
      EXPECT_EQ(Bytes(u.nals.front().data - 4, u.nals.front().data), (Bytes{0, 0, 0, 1}));
    }
    EXPECT_EQ(CountType(p.dependent, kNalDependentDelimiter), 20u);
    EXPECT_EQ(CountType(p.dependent, kNalSlice) + CountType(p.dependent, kNalIdrSlice), 0u);
    EXPECT_EQ(CountType(p.dependent, kNalSps), 0u);
    EXPECT_GE(CountType(p.dependent, kNalSubsetSps), 1u);

    tooltest::WriteFile(dir_ + "/base.h264", p.base);
    tooltest::WriteFile(dir_ + "/view1.h264", DependentToAvc(p.dependent));
    Bytes wantLeft = tooltest::DecodeRaw(l), wantRight = tooltest::DecodeRaw(r);
    ASSERT_EQ(wantLeft.size(), 160u * 96 * 3 / 2 * 20);
    EXPECT_TRUE(tooltest::DecodeRaw(dir_ + "/base.h264") == wantLeft);
    EXPECT_TRUE(tooltest::DecodeRaw(dir_ + "/view1.h264") == wantRight);
    EXPECT_FALSE(wantLeft == wantRight) << "the two views are meant to differ";
  }
}

TEST_F(MvcPackStreams, RefusesStreamsThatDoNotPair) {
  tooltest::EncodeOptions base, small, shorter, otherGop, otherB;
  small.width = 128;
  shorter.frames = 19;
  otherGop.keyint = 5;
  otherGop.bframes = 0;
  otherB.bframes = 0;
  Bytes b = tooltest::ReadFile(Encode("base", base));
  base.bframes = 0;
  Bytes noB = tooltest::ReadFile(Encode("base_no_b", base));
  struct Case {
    const char* name;
    tooltest::EncodeOptions o;
    const char* message;
  };
  for (const Case& c : {Case{"small", small, "left is 160x96, right is 128x96"},
                        Case{"shorter", shorter, "left stream has 20 access units, right has 19"},
                        Case{"gop", otherGop, "access unit 5: right is IDR, left is not"},
                        Case{"bframes", otherB, "display order"}}) {
    Bytes o = tooltest::ReadFile(Encode(c.name, c.o));
    const Bytes& l = c.o.keyint != 8 ? noB : b;
    try {
      Pack(l.data(), l.size(), o.data(), o.size());
      ADD_FAILURE() << c.name << " was packed";
    } catch (const PackError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.name << ": " << e.what();
    }
  }
  const Bytes junk = {0, 0, 1, 0x67, 0x42};
  EXPECT_THROW(Pack(junk.data(), junk.size(), b.data(), b.size()), PackError);
  Bytes mvc = tooltest::ReadFile(std::string(KORVALA_SHARED_DIR) + "/media/MVCDS-5.264");
  if (!mvc.empty()) {
    EXPECT_THROW(Pack(mvc.data(), mvc.size(), mvc.data(), mvc.size()), PackError);
  }
}

TEST_F(MvcPackStreams, CommandLine) {
  tooltest::EncodeOptions o;
  std::string l = Encode("l", o);
  o.mirrored = true;
  std::string r = Encode("r", o);
  std::string tool = std::string(KORVALA_BINARY_DIR) + "/tools/mvc_pack/mvc-pack";
  tooltest::CommandResult ok = tooltest::Run(tool + " " + l + " " + r + " " + dir_ + "/b.h264 " + dir_ + "/d.mvc");
  EXPECT_EQ(ok.status, 0) << ok.output;
  EXPECT_NE(ok.output.find("20 access units, 160x96"), std::string::npos) << ok.output;
  EXPECT_GT(tooltest::ReadFile(dir_ + "/d.mvc").size(), 0u);
  tooltest::CommandResult missing = tooltest::Run(tool + " " + dir_ + "/nope.h264 " + r + " x y");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("can't read"), std::string::npos) << missing.output;
  EXPECT_EQ(tooltest::Run(tool + " " + l).status, 2);
}
