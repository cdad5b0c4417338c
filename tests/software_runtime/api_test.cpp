// What the software runtime answers through the dispatcher besides decoding: which sessions
// open, its version, the capability queries, and damaged input.
#include <gtest/gtest.h>

#include <mfxvideo.h>

#include <cstring>

#include "media.h"
#include "mfx_decode.h"

namespace swrt_test {
namespace {

struct Session {
  mfxSession s = nullptr;
  mfxStatus status;
  Session(mfxIMPL impl, mfxU16 minor) {
    mfxVersion v{{minor, 1}};
    status = MFXInit(impl, &v, &s);
  }
  ~Session() {
    if (s) MFXClose(s);
  }
};

TEST(Sessions, SoftwareOpensUpToTheHeadersVersionAndHardwareIsRefused) {
  Session sw(MFX_IMPL_SOFTWARE, 3);
  ASSERT_EQ(sw.status, MFX_ERR_NONE);
  mfxIMPL impl = 0;
  ASSERT_EQ(MFXQueryIMPL(sw.s, &impl), MFX_ERR_NONE);
  EXPECT_EQ(MFX_IMPL_BASETYPE(impl), MFX_IMPL_SOFTWARE);
  mfxVersion version{};
  ASSERT_EQ(MFXQueryVersion(sw.s, &version), MFX_ERR_NONE);
  EXPECT_EQ(version.Major, MFX_VERSION_MAJOR);
  EXPECT_EQ(version.Minor, MFX_VERSION_MINOR);

  EXPECT_EQ(Session(MFX_IMPL_SOFTWARE, MFX_VERSION_MINOR).status, MFX_ERR_NONE);
  EXPECT_NE(Session(MFX_IMPL_SOFTWARE, MFX_VERSION_MINOR + 1).status, MFX_ERR_NONE);
  EXPECT_NE(Session(MFX_IMPL_HARDWARE_ANY, 3).status, MFX_ERR_NONE);
  EXPECT_NE(Session(MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11, 3).status, MFX_ERR_NONE);
}

// The analyzer's probe configuration: accepted unchanged by the decoder, refused by the encoder.
mfxVideoParam ProbeConfiguration() {
  mfxVideoParam p{};
  p.mfx.CodecId = MFX_CODEC_AVC;
  p.mfx.CodecProfile = MFX_PROFILE_AVC_BASELINE;
  p.mfx.CodecLevel = MFX_LEVEL_AVC_3;
  mfxFrameInfo& f = p.mfx.FrameInfo;
  f.FourCC = MFX_FOURCC_NV12;
  f.Width = f.CropW = 640;
  f.Height = f.CropH = 480;
  f.FrameRateExtN = 60;
  f.FrameRateExtD = 2;
  f.AspectRatioW = f.AspectRatioH = 1;
  f.PicStruct = MFX_PICSTRUCT_PROGRESSIVE;
  f.ChromaFormat = MFX_CHROMAFORMAT_YUV420;
  p.IOPattern = MFX_IOPATTERN_OUT_SYSTEM_MEMORY;
  return p;
}

TEST(Queries, DecoderAcceptsWhatItDecodesUnchangedEncoderRefuses) {
  Session sw(MFX_IMPL_SOFTWARE, 0);
  ASSERT_EQ(sw.status, MFX_ERR_NONE);
  mfxVideoParam in = ProbeConfiguration(), out = ProbeConfiguration();
  EXPECT_EQ(MFXVideoDECODE_Query(sw.s, &in, &out), MFX_ERR_NONE);
  EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0);

  in.mfx.FrameInfo.FourCC = MFX_FOURCC_YUY2;
  out = in;
  EXPECT_EQ(MFXVideoDECODE_Query(sw.s, &in, &out), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(out.mfx.FrameInfo.FourCC, 0u);
  in = ProbeConfiguration();
  in.mfx.CodecId = MFX_MAKEFOURCC('J', 'P', 'E', 'G');
  out = in;
  EXPECT_EQ(MFXVideoDECODE_Query(sw.s, &in, &out), MFX_ERR_UNSUPPORTED);

  mfxVideoParam enc = ProbeConfiguration(), encOut;
  enc.IOPattern = MFX_IOPATTERN_IN_SYSTEM_MEMORY;
  enc.mfx.TargetUsage = MFX_TARGETUSAGE_BALANCED;
  enc.mfx.RateControlMethod = MFX_RATECONTROL_CBR;
  enc.mfx.TargetKbps = 2000;
  encOut = enc;
  EXPECT_EQ(MFXVideoENCODE_Query(sw.s, &enc, &encOut), MFX_ERR_UNSUPPORTED);
}

TEST(Queries, InitRefusesVideoMemoryAndOtherChromaFormats) {
  Session sw(MFX_IMPL_SOFTWARE, 3);
  ASSERT_EQ(sw.status, MFX_ERR_NONE);
  mfxVideoParam p = ProbeConfiguration();
  p.IOPattern = MFX_IOPATTERN_OUT_VIDEO_MEMORY;
  EXPECT_LT(MFXVideoDECODE_Init(sw.s, &p), MFX_ERR_NONE);
  p = ProbeConfiguration();
  p.mfx.FrameInfo.ChromaFormat = MFX_CHROMAFORMAT_YUV422;
  EXPECT_LT(MFXVideoDECODE_Init(sw.s, &p), MFX_ERR_NONE);
  p = ProbeConfiguration();
  ASSERT_EQ(MFXVideoDECODE_Init(sw.s, &p), MFX_ERR_NONE);
  EXPECT_LT(MFXVideoDECODE_Init(sw.s, &p), MFX_ERR_NONE);  // twice without Close
  EXPECT_EQ(MFXVideoDECODE_Close(sw.s), MFX_ERR_NONE);
}

TEST(Queries, HeaderAsksForMoreDataAndConsumesWhatCannotBeAHeader) {
  Session sw(MFX_IMPL_SOFTWARE, 3);
  ASSERT_EQ(sw.status, MFX_ERR_NONE);
  std::vector<std::uint8_t> junk(1000, 0x55);
  mfxBitstream bs{};
  bs.Data = junk.data();
  bs.DataLength = bs.MaxLength = static_cast<mfxU32>(junk.size());
  mfxVideoParam par{};
  par.mfx.CodecId = MFX_CODEC_AVC;
  EXPECT_EQ(MFXVideoDECODE_DecodeHeader(sw.s, &bs, &par), MFX_ERR_MORE_DATA);
  EXPECT_LE(bs.DataLength, 3u);  // at most a possible start of a start code is kept
  EXPECT_EQ(bs.DataOffset + bs.DataLength, junk.size());
}

// Damaged input: every decoding call ends, with pictures or an error, never a crash or a hang.
TEST(DamagedInput, TruncatedAndCorruptedStreamsEnd) {
  const std::string path = MakeStream("avc8_aud_1080.h264", "1920x1080", 12,
                                      "-c:v libx264 -preset veryfast -bf 3 -x264-params aud=1:log-level=none");
  ASSERT_FALSE(path.empty());
  std::vector<std::uint8_t> stream;
  ASSERT_TRUE(ReadFile(path, stream));
  std::vector<std::uint8_t> truncated(stream.begin(), stream.begin() + stream.size() / 2);
  DecodeRun cut = DecodeBytes(truncated, DecodeOptions{});
  EXPECT_EQ(cut.init, MFX_ERR_NONE);
  EXPECT_GT(cut.pictures, 0);
  EXPECT_LE(cut.pictures, 12);

  std::vector<std::uint8_t> corrupt = stream;
  std::uint32_t seed = 12345;
  for (std::size_t i = 200; i < corrupt.size(); i += 97) {
    seed = seed * 1103515245u + 12345u;
    corrupt[i] = static_cast<std::uint8_t>(seed >> 16);
  }
  DecodeRun bad = DecodeBytes(corrupt, DecodeOptions{});
  EXPECT_LE(bad.pictures, 64);
  EXPECT_FALSE(bad.lockedWritten);

  const std::string rp2 = SharedMedia("MVCRP_2.264");
  if (rp2.empty()) GTEST_SKIP() << "shared test media MVCRP_2.264 is not present";
  std::vector<std::uint8_t> mvc;
  ASSERT_TRUE(ReadFile(rp2, mvc));
  for (std::size_t i = 5000; i < mvc.size(); i += 131) mvc[i] ^= 0x5A;
  DecodeOptions options;
  options.mvc = true;
  DecodeRun mvcBad = DecodeBytes(mvc, options);
  EXPECT_LE(mvcBad.pictures, 600);
}

}  // namespace
}  // namespace swrt_test
