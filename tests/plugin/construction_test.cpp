// Building a clip: every construction message and its condition, the Media SDK calls in their
// order, and what the clip tells the host.
#include <cstring>

#include <mfxstructures.h>
#include <mfxmvc.h>

#include "plugin_fixture.h"

namespace plugintest {
namespace {

using avshost::Value;

TEST_F(PluginTest, RegistersOneFunctionWithItsFourParameters) {
  ASSERT_EQ(host_.Registrations().size(), 1u);
  EXPECT_EQ(host_.Registrations()[0].name, "Korvala");
  EXPECT_EQ(host_.Registrations()[0].params, "[SourceFileAVC]s[SourceFileMVC]s[NumFrames]i[ViewId]i");
}

TEST_F(PluginTest, InputFilesThatCannotBeOpenedOrReadAreNamed) {
  runtime_->Play(Software(mfxtest::Nv12(64, 48)));
  const std::string base = File("b.h264", BaseView(3));
  const std::string dep = File("d.mvc", DependentView(3));
  const std::string empty = File("empty", {});
  const std::string missing = (dir_ / "missing").string();
  EXPECT_EQ(ErrorOf({}), "Korvala: Can't open Source File");
  EXPECT_EQ(ErrorOf({missing}), "Korvala: Can't open Source File");
  EXPECT_EQ(ErrorOf({Value(), dep}), "Korvala: Can't open Source File AVC");
  EXPECT_EQ(ErrorOf({missing, dep}), "Korvala: Can't open Source File AVC");
  EXPECT_EQ(ErrorOf({base, missing}), "Korvala: Can't open Source File MVC");
  EXPECT_EQ(ErrorOf({empty, dep}), "Korvala: Can't read Source File AVC");
  EXPECT_EQ(ErrorOf({base, empty}), "Korvala: Can't read Source File MVC");
  // Files of the wrong kind hold no delimiter of their view.
  EXPECT_EQ(ErrorOf({dep, dep}), "Korvala: ERROR -> No access unit delimiter in Source File AVC");
  EXPECT_EQ(ErrorOf({base, base}), "Korvala: ERROR -> No access unit delimiter in Source File MVC");
  EXPECT_EQ(runtime_->OpenSessions(), 0u);
}

TEST_F(PluginTest, NoRuntimeMeansNoSession) {
  runtime_->Play(mfxtest::Program{});
  EXPECT_EQ(ErrorOf({File("a.h264", BaseView(2))}), "Korvala: Can't init decoder session");
  // The hardware probe, then the software session: each asked for API 1.3.
  std::vector<mfxtest::Call> inits = CallsOf("MFXInitEx");
  ASSERT_EQ(inits.size(), 2u);
  EXPECT_EQ(inits[0].impl, MFX_IMPL_HARDWARE_ANY);
  EXPECT_EQ(inits[1].impl, MFX_IMPL_SOFTWARE);
  for (const mfxtest::Call& c : inits) EXPECT_EQ(c.major * 100 + c.minor, 103);
}

TEST_F(PluginTest, HardwareThatOpensIsUsedAfterTheProbe) {
  mfxtest::Program p = Software(mfxtest::Nv12(64, 48));
  p.hardware = mfxtest::RuntimeKind::Opening(19);
  runtime_->Play(p);
  { Korvala({File("a.h264", BaseView(2))}); }
  std::vector<mfxtest::Call> inits = CallsOf("MFXInitEx");
  ASSERT_EQ(inits.size(), 2u);
  EXPECT_EQ(inits[0].impl, MFX_IMPL_HARDWARE_ANY);
  EXPECT_EQ(inits[1].impl, MFX_IMPL_HARDWARE_ANY);
  EXPECT_EQ(runtime_->OpenSessions(), 0u);
}

TEST_F(PluginTest, SingleFileTriesEachCodecFromTheStartThenTheMultiviewPath) {
  mfxtest::Program p;
  p.software = mfxtest::RuntimeKind::Opening(19);
  runtime_->Play(p);  // no codec finds a header
  const Bytes stream = BaseView(4);
  EXPECT_EQ(ErrorOf({File("a.bin", stream)}), "Korvala: Invalid or not suported stream header");
  std::vector<mfxtest::Call> headers = CallsOf("MFXVideoDECODE_DecodeHeader");
  ASSERT_GE(headers.size(), 4u);
  const mfxU32 order[] = {MFX_CODEC_AVC, MFX_CODEC_MPEG2, MFX_CODEC_VC1};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(headers[i].codecId, order[i]);
    EXPECT_EQ(headers[i].bytesOffered, stream.size()) << "rewound and emptied before probe " << i;
    EXPECT_EQ(headers[i].numExtParam, 0);
  }
  EXPECT_EQ(headers[3].codecId, MFX_CODEC_AVC);
  // The multiview path reads access units, one at a time: here up to the second delimiter.
  const Bytes aud = {0, 0, 0, 1, 9};
  const auto second = std::search(stream.begin() + 1, stream.end(), aud.begin(), aud.end());
  EXPECT_EQ(headers[3].bytesOffered, static_cast<mfxU32>(second - stream.begin()));
  ASSERT_EQ(headers[3].bufferIds.size(), 1u);
  EXPECT_EQ(headers[3].bufferIds[0], static_cast<mfxU32>(MFX_EXTBUFF_MVC_SEQ_DESC));
  EXPECT_EQ(runtime_->OpenSessions(), 0u);
}

TEST_F(PluginTest, TheFirstCodecWithAHeaderWinsAndWarningsFailAProbe) {
  mfxtest::Program p;
  p.software = mfxtest::RuntimeKind::Opening(19);
  p.headers[MFX_CODEC_AVC] = mfxtest::HeaderAnswer::Failing(MFX_WRN_PARTIAL_ACCELERATION);
  p.headers[MFX_CODEC_MPEG2] = mfxtest::HeaderAnswer::Found(mfxtest::Nv12(720, 576));
  runtime_->Play(p);
  avshost::Clip clip = Korvala({File("a.m2v", BaseView(2))});
  std::vector<mfxtest::Call> headers = CallsOf("MFXVideoDECODE_DecodeHeader");
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_EQ(headers[1].codecId, MFX_CODEC_MPEG2);
  EXPECT_EQ(CallsOf("MFXVideoDECODE_Init").at(0).codecId, MFX_CODEC_MPEG2);
  EXPECT_EQ(clip.GetVideoInfo().width, 720);
  EXPECT_EQ(clip.GetVideoInfo().height, 576);
}

TEST_F(PluginTest, AnHevcMarkAnywhereInThePathProbesHevcOnly) {
  mfxtest::Program p = Software(mfxtest::Nv12(64, 48));
  p.headers[MFX_CODEC_HEVC] = mfxtest::HeaderAnswer::Failing(MFX_WRN_VIDEO_PARAM_CHANGED);
  runtime_->Play(p);
  EXPECT_EQ(ErrorOf({File("film.265/left.bin", BaseView(2))}), "Korvala: Invalid or not suported stream header");
  std::vector<mfxtest::Call> headers = CallsOf("MFXVideoDECODE_DecodeHeader");
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0].codecId, MFX_CODEC_HEVC);
}

TEST_F(PluginTest, TwoFilesGoTheMultiviewPathWithoutTheHevcTest) {
  mfxtest::Program p = Software(mfxtest::Nv12(64, 48));
  p.headers[MFX_CODEC_AVC].minBytes = 1500;  // more than one fill of 10 pairs
  runtime_->Play(p);
  avshost::Clip clip = Korvala({File("x.hevc", BaseView(40)), File("d.mvc", DependentView(40)), 40, 2});
  std::vector<mfxtest::Call> headers = CallsOf("MFXVideoDECODE_DecodeHeader");
  ASSERT_GE(headers.size(), 2u);
  for (const mfxtest::Call& c : headers) {
    EXPECT_EQ(c.codecId, MFX_CODEC_AVC);
    EXPECT_EQ(c.numExtParam, 1);
  }
  EXPECT_EQ(headers.back().status, MFX_ERR_NOT_ENOUGH_BUFFER);
  EXPECT_EQ(clip.GetVideoInfo().num_frames, 80);
}

TEST_F(PluginTest, ViewIdOtherThanZeroSendsASingleFileStraightToTheMultiviewPath) {
  runtime_->Play(Software(mfxtest::Nv12(64, 48)));
  avshost::Clip clip = Korvala({File("a.h264", BaseView(2)), Value(), 10, 1});
  std::vector<mfxtest::Call> headers = CallsOf("MFXVideoDECODE_DecodeHeader");
  ASSERT_FALSE(headers.empty());
  EXPECT_EQ(headers[0].numExtParam, 1);
}

TEST_F(PluginTest, SurfaceAndInitFailuresRaiseTheirMessages) {
  const std::string file = File("a.h264", BaseView(2));
  struct Case {
    const char* message;
    void (*change)(mfxtest::Program&);
  };
  const Case cases[] = {
      {"Korvala: ERROR -> QueryIOSurf", [](mfxtest::Program& p) { p.ioSurf.status = MFX_ERR_INVALID_VIDEO_PARAM; }},
      {"Korvala: Not supported pixel format", [](mfxtest::Program& p) { p.ioSurf.fourcc = MFX_FOURCC_YUY2; }},
      {"Korvala: Can't init decoder", [](mfxtest::Program& p) { p.decodeInit = MFX_ERR_UNSUPPORTED; }},
      {"(no error)", [](mfxtest::Program& p) { p.decodeInit = MFX_WRN_PARTIAL_ACCELERATION; }},
      {"(no error)", [](mfxtest::Program& p) { p.ioSurf.status = MFX_WRN_PARTIAL_ACCELERATION; }},
  };
  for (const Case& c : cases) {
    mfxtest::Program p = Software(mfxtest::Nv12(64, 48));
    c.change(p);
    runtime_->Play(p);
    EXPECT_EQ(ErrorOf({file}), c.message);
    // Whatever construction had taken is given back, the session included.
    EXPECT_EQ(runtime_->OpenSessions(), 0u) << c.message;
  }
}

TEST_F(PluginTest, DestructionClosesTheDecoderThenTheSession) {
  runtime_->Play(Software(mfxtest::Nv12(64, 48)));
  {
    avshost::Clip clip = Korvala({File("a.h264", BaseView(2))});
    runtime_->ClearCalls();
  }
  EXPECT_EQ(host_.ClipsDestroyed(), 1);
  std::vector<std::string> order;
  for (const mfxtest::Call& c : runtime_->Calls())
    if (c.function == "MFXVideoDECODE_Close" || c.function == "MFXClose") order.push_back(c.function);
  ASSERT_FALSE(order.empty());
  EXPECT_EQ(order.front(), "MFXVideoDECODE_Close");
  EXPECT_EQ(order.back(), "MFXClose");
  EXPECT_EQ(runtime_->OpenSessions(), 0u);
  EXPECT_TRUE(runtime_->Violations().empty());
}

TEST_F(PluginTest, TheSessionOpensInThePluginsFolderAndTheDirectoryComesBack) {
  runtime_->Play(Software(mfxtest::Nv12(64, 48)));
  std::filesystem::current_path(dir_);
  File("a.h264", BaseView(2));
  Korvala({"a.h264"});
  const std::filesystem::path plugin = std::filesystem::path(KORVALA_PLUGIN_PATH).parent_path();
  for (const mfxtest::Call& c : CallsOf("MFXInitEx")) EXPECT_EQ(std::filesystem::path(c.directory), plugin);
  EXPECT_EQ(std::filesystem::current_path(), dir_);
  // A second clip by the same relative path opens too.
  EXPECT_EQ(ErrorOf({"a.h264"}), "(no error)");
}

struct Described {
  mfxFrameInfo info;
  int viewId;
  int width, height, fpsN, fpsD, frames, pixelType;
};

// Frame parameters of a decoder that reports no crop rectangle.
mfxFrameInfo Uncropped(mfxFrameInfo info) {
  info.CropW = info.CropH = 0;
  return info;
}

TEST_F(PluginTest, TheClipDescribesItsPictures) {
  const Described cases[] = {
      {mfxtest::Nv12(1920, 1080, 50, 2), 0, 1920, 1080, 25, 1, 10, VideoInfo::CS_YV12},       // coded 1088
      {mfxtest::Nv12(1280, 720, 24000, 1001), 0, 1280, 720, 24000, 1001, 10, VideoInfo::CS_YV12},  // coded 720
      // The crop rectangle is the picture (coded 640x368, 864x480, 736x416).
      {mfxtest::Nv12(640, 360, 25, 1), 0, 640, 360, 25, 1, 10, VideoInfo::CS_YV12},
      {mfxtest::Nv12(854, 480, 25, 1), 2, 854, 480, 50, 1, 20, VideoInfo::CS_YV12},
      {mfxtest::P010(722, 404, 25, 1), 0, 722, 404, 25, 1, 10, VideoInfo::CS_YUV420P10},
      // Without one, the padding rows of 1088 and 736 are left out; other sizes are as coded.
      {Uncropped(mfxtest::Nv12(1920, 1080, 25, 1)), 0, 1920, 1080, 25, 1, 10, VideoInfo::CS_YV12},
      {Uncropped(mfxtest::Nv12(1280, 736, 30, 1)), 0, 1280, 720, 30, 1, 10, VideoInfo::CS_YV12},
      {Uncropped(mfxtest::Nv12(640, 360, 25, 1)), 0, 640, 368, 25, 1, 10, VideoInfo::CS_YV12},
      {mfxtest::Nv12(720, 576, 50, 2), 2, 720, 576, 50, 1, 20, VideoInfo::CS_YV12},
      {mfxtest::Nv12(720, 480, 24000, 1001), -2, 720, 480, 48000, 1001, 20, VideoInfo::CS_YV12},
      {mfxtest::P010(352, 288, 0, 1), 5, 352, 288, 0, 1, 10, VideoInfo::CS_YUV420P10},
      {mfxtest::P010(1920, 1080, 60, 1), 1, 1920, 1080, 60, 1, 10, VideoInfo::CS_YUV420P10},
  };
  const std::string file = File("a.h264", BaseView(2));
  for (const Described& c : cases) {
    runtime_->Play(Software(c.info));
    const VideoInfo vi = Korvala({file, Value(), 10, c.viewId}).GetVideoInfo();
    EXPECT_EQ(vi.width, c.width);
    EXPECT_EQ(vi.height, c.height);
    EXPECT_EQ(static_cast<int>(vi.fps_numerator), c.fpsN);
    EXPECT_EQ(static_cast<int>(vi.fps_denominator), c.fpsD);
    EXPECT_EQ(vi.num_frames, c.frames);
    EXPECT_EQ(vi.pixel_type, c.pixelType);
    EXPECT_EQ(vi.audio_samples_per_second, 0);
    EXPECT_EQ(vi.nchannels, 0);
  }
  // Only a base file: zero frames by default.
  runtime_->Play(Software(mfxtest::Nv12(64, 48)));
  EXPECT_EQ(Korvala({file}).GetVideoInfo().num_frames, 0);
}

}  // namespace
}  // namespace plugintest
