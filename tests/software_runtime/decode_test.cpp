// The software runtime through Debian's dispatcher: real streams, every picture compared byte
// for byte with ffmpeg's own decode of the same file.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include <mfxvideo.h>

#include "media.h"
#include "mfx_decode.h"

namespace swrt_test {
namespace {

TEST(FfmpegReference, IsKeptInTheBuildTreeNotBesideItsInput) {
  const std::string stream = MakeStream("avc8_64x64.h264", "64x64", 2, "-c:v libx264 -x264-params log-level=none");
  ASSERT_FALSE(stream.empty());
  const std::filesystem::path folder = BuildDir() + "/input-folder";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(stream, folder / "in.h264");
  std::vector<std::uint8_t> reference;
  ASSERT_TRUE(FfmpegDecode((folder / "in.h264").string(), "yuv420p", reference));
  EXPECT_EQ(reference.size(), 2u * 64 * 64 * 3 / 2);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
}

struct Case {
  const char* name;
  const char* size;
  int frames;
  const char* options;
  mfxU32 codec;
  bool deep;
};

class GeneratedStream : public ::testing::TestWithParam<Case> {};

TEST_P(GeneratedStream, EveryPictureEqualsFfmpeg) {
  const Case& c = GetParam();
  const std::string path = MakeStream(c.name, c.size, c.frames, c.options);
  ASSERT_FALSE(path.empty()) << "ffmpeg could not encode " << c.name;
  std::vector<std::uint8_t> reference;
  ASSERT_TRUE(FfmpegDecode(path, c.deep ? "yuv420p10le" : "yuv420p", reference));

  DecodeOptions options;
  options.codec = c.codec;
  DecodeRun run = DecodeFile(path, options);
  ASSERT_EQ(run.initSession, MFX_ERR_NONE);
  ASSERT_EQ(run.header, MFX_ERR_NONE);
  ASSERT_EQ(run.init, MFX_ERR_NONE);
  EXPECT_EQ(run.lastError, MFX_ERR_NONE);
  EXPECT_FALSE(run.lockedWritten);
  EXPECT_EQ(run.request.Info.FourCC, c.deep ? MFX_FOURCC_P010 : MFX_FOURCC_NV12);
  EXPECT_EQ(run.pictures, c.frames);
  ASSERT_EQ(run.planar[0].size(), reference.size());
  EXPECT_TRUE(run.planar[0] == reference) << "pixels differ from ffmpeg's decode";
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, GeneratedStream,
    ::testing::Values(
        Case{"avc8_aud_1080.h264", "1920x1080", 12, "-c:v libx264 -preset veryfast -bf 3 -x264-params aud=1:log-level=none",
             MFX_CODEC_AVC, false},
        Case{"avc10_848.h264", "848x480", 10, "-c:v libx264 -preset veryfast -pix_fmt yuv420p10le -profile:v high10 -x264-params log-level=none",
             MFX_CODEC_AVC, true},
        Case{"hevc8_1080.hevc", "1920x1080", 8, "-c:v libx265 -preset ultrafast -x265-params log-level=none",
             MFX_CODEC_HEVC, false},
        Case{"hevc10_848.265", "848x480", 8, "-c:v libx265 -preset ultrafast -pix_fmt yuv420p10le -x265-params log-level=none",
             MFX_CODEC_HEVC, true},
        Case{"mpeg2_848.m2v", "848x480", 12, "-c:v mpeg2video -bf 2 -q:v 4", MFX_CODEC_MPEG2, false}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(GeneratedStreamHeader, FrameInfoAsTheMediaSdkFillsIt) {
  const std::string path = MakeStream("avc8_aud_1080.h264", "1920x1080", 12,
                                      "-c:v libx264 -preset veryfast -bf 3 -x264-params aud=1:log-level=none");
  ASSERT_FALSE(path.empty());
  DecodeRun run = DecodeFile(path, DecodeOptions{});
  ASSERT_EQ(run.header, MFX_ERR_NONE);
  const mfxFrameInfo& fi = run.params.mfx.FrameInfo;
  EXPECT_EQ(fi.Width, 1920);
  EXPECT_EQ(fi.Height, 1088);
  EXPECT_EQ(fi.CropW, 1920);
  EXPECT_EQ(fi.CropH, 1080);
  EXPECT_EQ(fi.FrameRateExtN, 50u);  // time_scale / (2 * num_units_in_tick) of x264's VUI
  EXPECT_EQ(fi.FrameRateExtD, 2u);
  EXPECT_EQ(fi.PicStruct, MFX_PICSTRUCT_PROGRESSIVE);
  EXPECT_EQ(fi.ChromaFormat, MFX_CHROMAFORMAT_YUV420);
  EXPECT_EQ(fi.FourCC, MFX_FOURCC_NV12);
  EXPECT_EQ(run.params.mfx.CodecProfile, 100);
  EXPECT_GE(run.request.NumFrameSuggested, run.request.NumFrameMin);
}

TEST(GeneratedStreamHeader, HevcRateComesFromTheSpsTiming) {
  const std::string path = MakeStream("hevc8_1080.hevc", "1920x1080", 8, "-c:v libx265 -preset ultrafast -x265-params log-level=none");
  ASSERT_FALSE(path.empty());
  DecodeOptions options;
  options.codec = MFX_CODEC_HEVC;
  DecodeRun run = DecodeFile(path, options);
  ASSERT_EQ(run.header, MFX_ERR_NONE);
  const mfxFrameInfo& fi = run.params.mfx.FrameInfo;
  EXPECT_EQ(fi.Width, 1920);
  EXPECT_EQ(fi.Height, 1088);
  EXPECT_EQ(fi.CropH, 1080);
  EXPECT_EQ(static_cast<double>(fi.FrameRateExtN) / fi.FrameRateExtD, 25.0);
}

TEST(GeneratedStreamInput, SmallRefillsGiveTheSamePictures) {
  const std::string path = MakeStream("mpeg2_848.m2v", "848x480", 12, "-c:v mpeg2video -bf 2 -q:v 4");
  ASSERT_FALSE(path.empty());
  std::vector<std::uint8_t> reference;
  ASSERT_TRUE(FfmpegDecode(path, "yuv420p", reference));
  DecodeOptions options;
  options.codec = MFX_CODEC_MPEG2;
  options.chunk = 777;
  DecodeRun run = DecodeFile(path, options);
  ASSERT_EQ(run.init, MFX_ERR_NONE);
  EXPECT_TRUE(run.planar[0] == reference);
}

TEST(GeneratedStreamInput, OneSurfaceIsEnoughWhenEachPictureIsSyncedAtOnce) {
  const std::string path = MakeStream("avc8_aud_1080.h264", "1920x1080", 12,
                                      "-c:v libx264 -preset veryfast -bf 3 -x264-params aud=1:log-level=none");
  ASSERT_FALSE(path.empty());
  DecodeOptions options;
  options.surfaces = 1;
  DecodeRun run = DecodeFile(path, options);
  EXPECT_EQ(run.lastError, MFX_ERR_NONE);
  EXPECT_EQ(run.pictures, 12);
}

}  // namespace
}  // namespace swrt_test
