// The shared MVC conformance streams through the dispatcher: base views equal ffmpeg's decode,
// both views of MVCRP_2 and of MVCDS-5 (inter-view prediction) equal the reference decoding.
#include <gtest/gtest.h>

#include <mfxvideo.h>

#include "media.h"
#include "mfx_decode.h"

namespace swrt_test {
namespace {

constexpr const char* kRp2Base = "b89fdf72007d76e4611237ca113a9e47";
constexpr const char* kRp2Dependent = "5dc61db7e682982679042ef554968245";
constexpr const char* kDs5Base = "4a15b286d65dc66099398e5ac008c06f";

#define REQUIRE_SHARED(var, name)                                                    \
  const std::string var = SharedMedia(name);                                         \
  if (var.empty()) GTEST_SKIP() << "shared test media " << name << " is not present"

// The two-file pair joined the way the plugin's interleaver does it is what the decoder gets in
// two-file mode; the interleaved conformance file carries the same NAL units.
TEST(MvcConformance, Rp2BothViewsFromTheInterleavedStream) {
  REQUIRE_SHARED(path, "MVCRP_2.264");
  DecodeOptions options;
  options.mvc = true;
  DecodeRun run = DecodeFile(path, options);
  ASSERT_EQ(run.header, MFX_ERR_NOT_ENOUGH_BUFFER);
  ASSERT_EQ(run.init, MFX_ERR_NONE);
  EXPECT_EQ(run.lastError, MFX_ERR_NONE);
  ASSERT_EQ(run.pictures, 500);
  for (int i = 0; i < run.pictures; ++i) ASSERT_EQ(run.viewIds[i], i % 2) << "picture " << i;
  EXPECT_EQ(Md5(run.planar[0]), kRp2Base);
  EXPECT_EQ(Md5(run.planar[1]), kRp2Dependent);
  EXPECT_EQ(run.request.NumFrameMin, 2);
}

TEST(MvcConformance, Rp2HeaderCountsTheViewsAndOperationPoints) {
  REQUIRE_SHARED(path, "MVCRP_2.264");
  DecodeOptions options;
  options.mvc = true;
  DecodeRun run = DecodeFile(path, options);
  ASSERT_EQ(run.header, MFX_ERR_NOT_ENOUGH_BUFFER);
  const mfxFrameInfo& fi = run.params.mfx.FrameInfo;
  EXPECT_EQ(fi.Width, 640);
  EXPECT_EQ(fi.Height, 480);
  EXPECT_EQ(fi.FourCC, MFX_FOURCC_NV12);
}

TEST(MvcConformance, Rp2WithoutDescriptionIsItsBaseView) {
  REQUIRE_SHARED(path, "MVCRP_2.264");
  DecodeRun run = DecodeFile(path, DecodeOptions{});
  ASSERT_EQ(run.header, MFX_ERR_NONE);
  ASSERT_EQ(run.pictures, 250);
  EXPECT_EQ(Md5(run.planar[0]), kRp2Base);
}

TEST(MvcConformance, Ds5BaseViewDecodesAsPlainAvc) {
  for (const char* name : {"MVCDS-5.264", "MVCDS-5.base.h264"}) {
    REQUIRE_SHARED(path, name);
    DecodeRun run = DecodeFile(path, DecodeOptions{});
    ASSERT_EQ(run.init, MFX_ERR_NONE) << name;
    EXPECT_EQ(run.pictures, 9) << name;
    EXPECT_EQ(Md5(run.planar[0]), kDs5Base) << name;
  }
}

TEST(MvcConformance, Ds5BothViewsWithInterViewPrediction) {
  REQUIRE_SHARED(path, "MVCDS-5.264");
  DecodeOptions options;
  options.mvc = true;
  DecodeRun run = DecodeFile(path, options);
  EXPECT_EQ(run.header, MFX_ERR_NOT_ENOUGH_BUFFER);
  ASSERT_EQ(run.init, MFX_ERR_NONE);
  ASSERT_EQ(run.pictures, 18);
  for (int i = 0; i < run.pictures; ++i) ASSERT_EQ(run.viewIds[i], i % 2 ? 2 : 0) << "picture " << i;
  EXPECT_EQ(Md5(run.planar[0]), kDs5Base);
  EXPECT_EQ(Md5(run.planar[1]), "e076cb77e0e944c93c49590abe163199");
}

TEST(MvcConformance, PlainAvcWithDescriptionIsOneView) {
  REQUIRE_SHARED(path, "BA1_Sony_D.264");
  std::vector<std::uint8_t> reference;
  ASSERT_TRUE(FfmpegDecode(path, "yuv420p", reference));
  DecodeOptions options;
  options.mvc = true;
  DecodeRun run = DecodeFile(path, options);
  EXPECT_EQ(run.header, MFX_ERR_NONE);
  ASSERT_EQ(run.init, MFX_ERR_NONE);
  EXPECT_TRUE(run.planar[0] == reference);
  EXPECT_TRUE(run.planar[1].empty());
}

}  // namespace
}  // namespace swrt_test
