// The runtime's parsing of untrusted bitstreams: parameter sets, stream headers and the
// access-unit cutting of multiview streams.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "bits.h"
#include "mvc_splitter.h"
#include "parameter_sets.h"
#include "stream_info.h"
#include "surface_copy.h"

namespace swrt {
namespace {

using namespace h264;

using Bytes = std::vector<std::uint8_t>;

Bytes ReadShared(const std::string& name) {
  std::ifstream in(std::string(KORVALA_SHARED_DIR) + "/media/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The subset SPS of MVCRP_2, found in the interleaved file.
struct Rp2 : ::testing::Test {
  void SetUp() override {
    stream = ReadShared("MVCRP_2.264");
    if (stream.empty()) GTEST_SKIP() << "shared test media MVCRP_2.264 is not present";
    for (const NalUnit& u : SplitUnits(stream.data(), stream.size())) {
      const std::uint8_t type = stream[u.header] & 0x1F;
      Bytes nal(stream.begin() + u.header, stream.begin() + u.end);
      if (type == kNalSps && sps.empty()) sps = nal;
      if (type == kNalSubsetSps && subset.empty()) subset = nal;
      if (type == kNalSliceExtension && slice.empty()) slice = nal;
    }
  }
  Bytes stream, sps, subset, slice;
};

TEST_F(Rp2, SubsetSpsDescribesTwoIndependentViews) {
  SubsetSps s;
  ASSERT_TRUE(ParseSubsetSpsNal(subset.data(), subset.size(), s));
  EXPECT_EQ(s.sps.profileIdc, 118u);
  EXPECT_EQ(s.sps.levelIdc, 30u);
  ASSERT_EQ(s.views.size(), 2u);
  EXPECT_EQ(s.views[0].viewId, 0u);
  EXPECT_EQ(s.views[1].viewId, 1u);
  EXPECT_FALSE(s.InterViewPrediction());
  EXPECT_FALSE(s.ops.empty());
  EXPECT_EQ(s.sps.CodedWidth(), 640u);
  EXPECT_EQ(s.sps.CodedHeight(), 480u);
}

TEST_F(Rp2, SplitterCutsEveryAccessUnitWithBothViews) {
  MvcSplitter splitter;
  // Fed in odd-sized pieces, so units and start codes straddle the pushes.
  std::size_t units = 0, pos = 0;
  AccessUnit unit;
  auto check = [&](const AccessUnit& u) {
    int base = 0, dependent = 0;
    for (std::size_t i = 0; i < u.nals.size(); ++i) {
      const std::uint8_t type = u.Nal(i)[0] & 0x1F;
      base += type == kNalSlice || type == kNalIdrSlice;
      dependent += type == kNalSliceExtension;
    }
    EXPECT_GT(base, 0) << "unit " << units;
    EXPECT_GT(dependent, 0) << "unit " << units;
  };
  while (pos < stream.size()) {
    const std::size_t n = std::min<std::size_t>(4093, stream.size() - pos);
    splitter.Push(stream.data() + pos, n);
    pos += n;
    while (splitter.Next(unit)) {
      check(unit);
      ++units;
    }
  }
  splitter.Flush();
  while (splitter.Next(unit)) {
    check(unit);
    ++units;
  }
  EXPECT_EQ(units, 250u);
  EXPECT_FALSE(splitter.Next(unit));
}

TEST_F(Rp2, HeaderWaitsForTheSubsetSpsWhenAViewDescriptionIsAttached) {
  // Cut right after the SPS and PPS: a plain AVC header is complete, a multiview one is not.
  HeaderScan plain = ScanHeader(MFX_CODEC_AVC, stream.data(), stream.size(), false);
  EXPECT_EQ(plain.status, MFX_ERR_NONE);
  HeaderScan mvc = ScanHeader(MFX_CODEC_AVC, stream.data(), stream.size(), true);
  ASSERT_EQ(mvc.status, MFX_ERR_NONE);
  EXPECT_TRUE(mvc.hasSubset);
  HeaderScan partial = ScanHeader(MFX_CODEC_AVC, stream.data(), 20, true);
  EXPECT_EQ(partial.status, MFX_ERR_MORE_DATA);
  EXPECT_EQ(partial.consumed, 0u);  // the incomplete SPS is kept for the next call
}

TEST(MvcInterView, Ds5DependentViewReferencesTheBaseView) {
  const Bytes stream = ReadShared("MVCDS-5.264");
  if (stream.empty()) GTEST_SKIP() << "shared test media MVCDS-5.264 is not present";
  HeaderScan scan = ScanHeader(MFX_CODEC_AVC, stream.data(), stream.size(), true);
  ASSERT_TRUE(scan.hasSubset);
  ASSERT_EQ(scan.subset.views.size(), 2u);
  EXPECT_EQ(scan.subset.views[1].viewId, 2u);
  EXPECT_TRUE(scan.subset.InterViewPrediction());
}

TEST(Headers, AvcNeedsReferenceParameterSetsAndIgnoresMpeg2Slices) {
  // An MPEG-2 slice start code 00 00 01 07 looks like an SPS with nal_ref_idc 0.
  const Bytes mpeg2Like = {0, 0, 1, 0x07, 0x42, 0x00, 0x1E, 0xF4, 0, 0, 1, 0x08, 0xCE, 0, 0, 1, 0xB3};
  EXPECT_EQ(ScanHeader(MFX_CODEC_AVC, mpeg2Like.data(), mpeg2Like.size(), false).status, MFX_ERR_MORE_DATA);
}

TEST(Headers, Mpeg2SequenceAndExtension) {
  // 848x480, aspect 1:1, 25 Hz, then a sequence extension: main profile, progressive, 4:2:0.
  const Bytes s = {0, 0, 1, 0xB3, 0x35, 0x01, 0xE0, 0x13, 0xFF, 0xFF, 0xE0, 0x18,
                   0, 0, 1, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00, 0, 0, 1, 0xB8, 0x00};
  HeaderScan scan = ScanHeader(MFX_CODEC_MPEG2, s.data(), s.size(), false);
  ASSERT_EQ(scan.status, MFX_ERR_NONE);
  EXPECT_EQ(scan.info.width, 848u);
  EXPECT_EQ(scan.info.height, 480u);
  EXPECT_EQ(scan.info.frameRateN, 25u);
  EXPECT_EQ(scan.info.frameRateD, 1u);
  EXPECT_TRUE(scan.info.progressive);
  EXPECT_EQ(scan.info.chromaFormat, 1u);
  EXPECT_EQ(scan.info.profile, MFX_PROFILE_MPEG2_MAIN);
  // Without the unit after the header, it may still be incomplete.
  EXPECT_EQ(ScanHeader(MFX_CODEC_MPEG2, s.data(), 12, false).status, MFX_ERR_MORE_DATA);
  // A start code as the last bytes: its unit has no byte yet (was read past the buffer).
  EXPECT_EQ(ScanHeader(MFX_CODEC_MPEG2, s.data(), 15, false).status, MFX_ERR_MORE_DATA);
}

// A hand-made VC-1 advanced profile sequence header (no VC-1 encoder exists here):
// 1280x720, 4:2:0, progressive, display extension with aspect ratio 1:1 and 24000/1001 Hz.
Bytes Vc1Sequence() {
  BitWriter w;
  w.U(3, 2);            // PROFILE advanced
  w.U(2, 3);            // LEVEL
  w.U(1, 2);            // COLORDIFF_FORMAT 4:2:0
  w.U(7, 3);            // FRMRTQ_POSTPROC
  w.U(31, 5);           // BITRTQ_POSTPROC
  w.U(0, 1);            // POSTPROCFLAG
  w.U(1280 / 2 - 1, 12);
  w.U(720 / 2 - 1, 12);
  w.U(0, 1);            // PULLDOWN
  w.U(0, 1);            // INTERLACE
  w.U(0, 1);            // TFCNTRFLAG
  w.U(0, 1);            // FINTERPFLAG
  w.U(1, 1);            // reserved
  w.U(0, 1);            // PSF
  w.U(1, 1);            // DISPLAY_EXT
  w.U(1279, 14);
  w.U(719, 14);
  w.U(1, 1);            // ASPECT_RATIO_FLAG
  w.U(1, 4);            // 1:1
  w.U(1, 1);            // FRAMERATE_FLAG
  w.U(0, 1);            // FRAMERATEIND
  w.U(1, 8);            // 24000
  w.U(2, 4);            // /1001
  w.U(0, 1);            // COLOR_FORMAT_FLAG
  w.U(0, 1);            // HRD_PARAM_FLAG
  w.TrailingBits();
  Bytes s = {0, 0, 1, 0x0F};
  s.insert(s.end(), w.Bytes().begin(), w.Bytes().end());
  const Bytes entry = {0, 0, 1, 0x0E, 0x48, 0x80, 0x02, 0x00, 0x00, 0x01, 0x0D, 0x00};
  s.insert(s.end(), entry.begin(), entry.end());
  return s;
}

TEST(Headers, Vc1AdvancedSequenceHeader) {
  const Bytes s = Vc1Sequence();
  HeaderScan scan = ScanHeader(MFX_CODEC_VC1, s.data(), s.size(), false);
  ASSERT_EQ(scan.status, MFX_ERR_NONE);
  EXPECT_EQ(scan.info.width, 1280u);
  EXPECT_EQ(scan.info.height, 720u);
  EXPECT_EQ(scan.info.frameRateN, 24000u);
  EXPECT_EQ(scan.info.frameRateD, 1001u);
  EXPECT_EQ(scan.info.sarW, 1u);
  EXPECT_EQ(scan.info.profile, MFX_PROFILE_VC1_ADVANCED);
  // The sequence header and entry point are what the decoder is opened with.
  EXPECT_EQ(scan.sequenceBytes.size(), s.size() - 5);  // up to the first frame start code
  mfxVideoParam par{};
  FillFrameInfo(scan.info, par);
  EXPECT_EQ(par.mfx.FrameInfo.Width, 1280);
  EXPECT_EQ(par.mfx.FrameInfo.Height, 720);
  EXPECT_EQ(par.mfx.FrameInfo.FourCC, MFX_FOURCC_NV12);
}

TEST(Headers, FrameInfoAlignmentCropAndDefaults) {
  StreamInfo info;
  info.width = 1920;
  info.height = 1080;
  info.cropW = 1920;
  info.cropH = 1080;
  info.bitDepthLuma = info.bitDepthChroma = 10;
  mfxVideoParam par{};
  FillFrameInfo(info, par);
  const mfxFrameInfo& fi = par.mfx.FrameInfo;
  EXPECT_EQ(fi.Height, 1088);
  EXPECT_EQ(fi.CropH, 1080);
  EXPECT_EQ(fi.FourCC, MFX_FOURCC_P010);
  EXPECT_EQ(fi.Shift, 1);
  EXPECT_EQ(fi.FrameRateExtN, 30u);  // a stream without timing
  EXPECT_EQ(fi.FrameRateExtD, 1u);
  info.progressive = false;
  FillFrameInfo(info, par);
  EXPECT_EQ(par.mfx.FrameInfo.Height, 1088);
  EXPECT_EQ(par.mfx.FrameInfo.PicStruct, MFX_PICSTRUCT_UNKNOWN);
}

TEST(Reorder, DepthFromTheStreamOrItsLevel) {
  Sps sps;
  sps.levelIdc = 30;
  sps.widthMbs = 40;
  sps.heightMapUnits = 30;
  EXPECT_EQ(ReorderDepth(sps), 6u);  // 8100 / 1200
  sps.levelIdc = 51;
  sps.widthMbs = 1;
  sps.heightMapUnits = 1;
  EXPECT_EQ(ReorderDepth(sps), 16u);
  sps.bitstreamRestriction = true;
  sps.maxNumReorderFrames = 2;
  EXPECT_EQ(ReorderDepth(sps), 2u);
}

TEST(SurfaceCopy, Nv12InterleavesAndPadsWithoutWritingPastTheSurface) {
  const std::uint32_t w = 6, h = 4;
  Bytes y(w * h), u(w / 2 * h / 2), v(w / 2 * h / 2);
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = static_cast<std::uint8_t>(i);
  for (std::size_t i = 0; i < u.size(); ++i) {
    u[i] = static_cast<std::uint8_t>(100 + i);
    v[i] = static_cast<std::uint8_t>(200 + i);
  }
  PlanarPicture p;
  p.plane[0] = y.data();
  p.plane[1] = u.data();
  p.plane[2] = v.data();
  p.pitch[0] = w;
  p.pitch[1] = p.pitch[2] = w / 2;
  p.width = w;
  p.height = h;
  const int pitch = 10;
  Bytes buffer(pitch * 6 * 3 / 2 + 16, 0xEE);
  mfxFrameSurface1 s{};
  s.Info.FourCC = MFX_FOURCC_NV12;
  s.Info.Width = 8;
  s.Info.Height = 6;
  s.Data.Y = buffer.data();
  s.Data.UV = buffer.data() + pitch * 6;
  s.Data.Pitch = pitch;
  ASSERT_EQ(CopyToSurface(p, s), CopyResult::Ok);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[5], 5);
  EXPECT_EQ(buffer[7], 5);           // right padding repeats the last column
  EXPECT_EQ(buffer[8], 0xEE);        // beyond Info.Width: untouched
  EXPECT_EQ(buffer[5 * pitch + 1], 19);  // bottom padding repeats the last row
  EXPECT_EQ(s.Data.UV[0], 100);
  EXPECT_EQ(s.Data.UV[1], 200);
  EXPECT_EQ(s.Data.UV[6], 102);      // right chroma padding repeats the last pair
  EXPECT_EQ(s.Data.UV[7], 202);
  EXPECT_EQ(buffer[pitch * 9], 0xEE);  // the end of the chroma plane
  s.Info.Width = 4;
  EXPECT_EQ(CopyToSurface(p, s), CopyResult::TooSmall);
  s.Info.FourCC = MFX_FOURCC_P010;
  EXPECT_EQ(CopyToSurface(p, s), CopyResult::WrongFormat);
}

TEST(SurfaceCopy, P010KeepsTenBitsInTheHighBits) {
  const std::uint16_t y[4] = {0, 1, 512, 1023}, u[1] = {3}, v[1] = {1000};
  PlanarPicture p;
  p.plane[0] = reinterpret_cast<const std::uint8_t*>(y);
  p.plane[1] = reinterpret_cast<const std::uint8_t*>(u);
  p.plane[2] = reinterpret_cast<const std::uint8_t*>(v);
  p.pitch[0] = 4;
  p.pitch[1] = p.pitch[2] = 2;
  p.width = p.height = 2;
  p.bitDepth = 10;
  std::uint16_t buffer[16] = {};
  mfxFrameSurface1 s{};
  s.Info.FourCC = MFX_FOURCC_P010;
  s.Info.Width = s.Info.Height = 2;
  s.Data.Y = reinterpret_cast<std::uint8_t*>(buffer);
  s.Data.UV = reinterpret_cast<std::uint8_t*>(buffer + 8);
  s.Data.Pitch = 8;
  ASSERT_EQ(CopyToSurface(p, s), CopyResult::Ok);
  EXPECT_EQ(buffer[1], 1 << 6);
  EXPECT_EQ(buffer[5], 1023 << 6);
  EXPECT_EQ(buffer[8], 3 << 6);
  EXPECT_EQ(buffer[9], 1000 << 6);
}

}  // namespace
}  // namespace swrt
