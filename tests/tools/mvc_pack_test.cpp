// mvc-pack: stream cutting, parameter set and header rewriting, and packing real x264 encodes.
#include <gtest/gtest.h>

#include "mvc_pack.h"
#include "tool_test_util.h"

using namespace mvcpack;
using h264::BitReader;
using h264::BitWriter;

namespace {

// Bits [from, to) of a buffer as a string of '0' and '1'.
std::string BitString(const Bytes& b, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to; ++i) s += ((b[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
  return s;
}

// A NAL unit from a header byte and an RBSP.
Bytes Nal(uint8_t header, const Bytes& rbsp) {
  Bytes n{header};
  h264::AppendEscaped(rbsp.data(), rbsp.size(), n);
  return n;
}

NalUnit View(const Bytes& nal) { return NalUnit{nal.data(), nal.size()}; }

// A 4:2:0 SPS; with high, a High-profile one carrying the chroma fields.
Bytes MakeSps(bool high, uint32_t id, uint32_t widthMbs, uint32_t heightMbs) {
  BitWriter w;
  w.U(high ? 100 : 77, 8);
  w.U(high ? 0 : 0x40, 8);
  w.U(31, 8);
  w.Ue(id);
  if (high) {
    w.Ue(1);
    w.Ue(0);
    w.Ue(0);
    w.Flag(false);
    w.Flag(false);
  }
  w.Ue(0);  // log2_max_frame_num_minus4
  w.Ue(0);  // poc type 0
  w.Ue(2);  // log2_max_poc_lsb_minus4
  w.Ue(1);  // max_num_ref_frames
  w.Flag(false);
  w.Ue(widthMbs - 1);
  w.Ue(heightMbs - 1);
  w.Flag(true);   // frame_mbs_only
  w.Flag(true);   // direct_8x8
  w.Flag(false);  // cropping
  w.Flag(false);  // vui
  w.TrailingBits();
  return Nal(0x67, w.Bytes());
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
      case h264::kNalDependentDelimiter:
        continue;
      case h264::kNalSubsetSps: {
        Bytes rbsp = nal.rbsp();
        BitWriter w;
        w.U(100, 8);
        w.CopyBits(rbsp.data(), 8, h264::StopBitPosition(rbsp.data(), rbsp.size()) - kMvcTailBits);
        w.TrailingBits();
        n = Nal(static_cast<uint8_t>((nal.data[0] & 0x60) | h264::kNalSps), w.Bytes());
        break;
      }
      case h264::kNalSliceExtension: {
        bool nonIdr = (nal.data[1] >> 6) & 1;
        n.push_back(static_cast<uint8_t>((nal.data[0] & 0x60) | (nonIdr ? h264::kNalSlice : h264::kNalIdrSlice)));
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

TEST(MvcPackSyntax, SplitsAnnexBUnits) {
  const Bytes stream = {0xAA, 0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01, 0x67, 0x00, 0x00, 0x03,
                        0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x68, 0xCE, 0x00, 0x00, 0x01, 0x65, 0x88, 0x00, 0x00};
  std::vector<NalUnit> nals = SplitAnnexB(stream.data(), stream.size());
  ASSERT_EQ(nals.size(), 4u);
  EXPECT_EQ(Bytes(nals[0].data, nals[0].data + nals[0].size), (Bytes{0x09, 0xF0}));
  EXPECT_EQ(Bytes(nals[1].data, nals[1].data + nals[1].size), (Bytes{0x67, 0x00, 0x00, 0x03, 0x01}))
      << "00 00 03 is emulation prevention, not a boundary; zeros before a start code are dropped";
  EXPECT_EQ(nals[2].type(), h264::kNalPps);
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
  EXPECT_EQ(units[2].nals.back().type(), h264::kNalEndOfSequence);
}

TEST(MvcPackRewrite, ExtensionHeaderBytes) {
  uint8_t b[3];
  MvcExtensionBytes(true, false, 1, b);
  EXPECT_EQ(Bytes(b, b + 3), (Bytes{0x00, 0x00, 0x45}));
  MvcExtensionBytes(false, false, 1, b);
  EXPECT_EQ(Bytes(b, b + 3), (Bytes{0x40, 0x00, 0x41}));
  MvcExtensionBytes(false, true, 1, b);
  EXPECT_EQ(Bytes(b, b + 3), (Bytes{0x40, 0x00, 0x45}));
  MvcExtensionBytes(false, false, 1023, b);
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
    h264::Sps srcInfo, info;
    ASSERT_TRUE(h264::ParseSps(src.data(), src.size(), srcInfo));
    ASSERT_TRUE(h264::ParseSps(out.data(), out.size(), info));
    EXPECT_EQ(info.profileIdc, kMultiviewHigh);
    EXPECT_EQ(info.spsId, 2u);
    EXPECT_EQ(DisplayWidth(info), 1920u);
    EXPECT_EQ(DisplayHeight(info), 1088u);
    EXPECT_EQ(info.chromaFormatIdc, 1u);
    EXPECT_EQ(BitString(out, 8, 24), BitString(src, 8, 24)) << "constraint flags and level";
    // Behind the id: the chroma fields where the source lacked them, then the source's bits.
    size_t inserted = high ? 0 : 7;
    size_t srcEnd = h264::StopBitPosition(src.data(), src.size());
    size_t outStop = h264::StopBitPosition(out.data(), out.size());
    EXPECT_EQ(BitString(out, info.formatBegin, info.formatBegin + inserted), high ? "" : "0101100");
    EXPECT_EQ(BitString(out, info.formatBegin + inserted, info.formatBegin + inserted + srcEnd - srcInfo.formatBegin),
              BitString(src, srcInfo.formatBegin, srcEnd));
    size_t dataEnd = info.formatBegin + inserted + srcEnd - srcInfo.formatBegin;
    BitReader r(out.data(), out.size());
    while (r.Position() < dataEnd) r.U(1);
    EXPECT_TRUE(r.Flag()) << "bit_equal_to_one";
    EXPECT_EQ(r.Ue(), 1u) << "num_views_minus1";
    EXPECT_EQ(r.Ue(), 0u);
    EXPECT_EQ(r.Ue(), 1u) << "view ids 0 and 1";
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r.Ue(), 0u) << "no anchor or non-anchor references";
    EXPECT_EQ(r.Ue(), 0u) << "one level";
    EXPECT_EQ(r.U(8), 31u);
    EXPECT_EQ(r.Ue(), 0u);
    EXPECT_EQ(r.U(3), 0u);
    EXPECT_EQ(r.Ue(), 1u);
    EXPECT_EQ(r.Ue(), 0u);
    EXPECT_EQ(r.Ue(), 1u);
    EXPECT_EQ(r.Ue(), 1u);
    EXPECT_FALSE(r.Flag()) << "mvc_vui_parameters_present_flag";
    EXPECT_FALSE(r.Flag()) << "additional_extension2_flag";
    EXPECT_EQ(r.Position(), outStop);
    EXPECT_EQ(outStop - dataEnd, kMvcTailBits);
  }
}

TEST(MvcPackRewrite, RenumberingShiftsTheRestByWholeBytes) {
  for (uint32_t id = 0; id <= 15; ++id) {
    uint32_t to = DependentPpsId(id);
    EXPECT_LE(to, 255u);
    BitWriter w;
    w.Ue(id);
    w.Ue(0);
    w.U(0x1ABC, 13);
    w.TrailingBits();
    Bytes pps = Nal(0x68, w.Bytes());
    Bytes out = RenumberPps(View(pps), to);
    Bytes src = View(pps).rbsp(), dst = View(out).rbsp();
    ASSERT_EQ(dst.size(), src.size() + 1) << "id " << id;
    BitReader a(src.data(), src.size()), b(dst.data(), dst.size());
    a.Ue();
    EXPECT_EQ(b.Ue(), to);
    EXPECT_EQ(BitString(dst, b.Position(), dst.size() * 8), BitString(src, a.Position(), src.size() * 8));
    EXPECT_EQ(b.Position() % 8, a.Position() % 8) << "byte alignment of everything behind the id is kept";
  }
}

// A CABAC IDR I slice naming PPS ppsId: header, alignment ones, two data bytes, trailing bits
// and a cabac_zero_word.
Bytes CabacIdrSlice(uint32_t ppsId) {
  BitWriter w;
  w.Ue(0);  // first_mb_in_slice
  w.Ue(7);  // I
  w.Ue(ppsId);
  w.U(0, 4);  // frame_num
  w.Ue(0);    // idr_pic_id
  w.U(0, 6);  // pic_order_cnt_lsb
  w.U(0, 2);  // no_output_of_prior_pics_flag, long_term_reference_flag
  w.Se(-3);   // slice_qp_delta
  w.AlignWithOnes();
  w.U(0xAB00, 16);
  w.TrailingBits();
  w.U(0, 16);
  return w.Bytes();
}

TEST(MvcPackRewrite, SliceExtensionKeepsTheSliceAndItsZeroWords) {
  BitWriter pps;
  for (uint32_t v : {0u, 0u}) pps.Ue(v);  // pps and sps id
  pps.U(1, 1);                             // CABAC
  pps.U(0, 1);
  for (uint32_t v : {0u, 0u, 0u}) pps.Ue(v);
  pps.U(0, 3);
  for (int i = 0; i < 3; ++i) pps.Se(0);
  pps.U(0, 3);
  pps.TrailingBits();
  ParameterSets sets;
  sets.Add(View(MakeSps(true, 0, 4, 4)));
  sets.Add(View(Nal(0x68, pps.Bytes())));
  Bytes idr = Nal(0x65, CabacIdrSlice(0));
  Bytes ext = MakeSliceExtension(ParseSlice(View(idr), sets), DependentPpsId(0), true);
  Bytes want = {0x74, 0x00, 0x00, 0x45};
  h264::AppendEscaped(CabacIdrSlice(DependentPpsId(0)).data(), CabacIdrSlice(DependentPpsId(0)).size(), want);
  EXPECT_EQ(ext, want);
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
      EXPECT_EQ(u.nals.front().type(), h264::kNalAud);
      EXPECT_EQ(Bytes(u.nals.front().data - 4, u.nals.front().data), (Bytes{0, 0, 0, 1}));
    }
    EXPECT_EQ(CountType(p.dependent, h264::kNalDependentDelimiter), 20u);
    EXPECT_EQ(CountType(p.dependent, h264::kNalSlice) + CountType(p.dependent, h264::kNalIdrSlice), 0u);
    EXPECT_EQ(CountType(p.dependent, h264::kNalSps), 0u);
    EXPECT_GE(CountType(p.dependent, h264::kNalSubsetSps), 1u);

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
