// avsplus-host and its reader: a script's frames and properties after the round trip through the
// program's output, on the real library's own filters.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "real_host.h"

namespace {

std::string Md5Of(const std::vector<std::uint8_t>& bytes) {
  avsplus_host::Md5 md5;
  md5.Update(bytes.data(), bytes.size());
  return md5.HexDigest();
}

TEST(RealHostProgram, ReportsVisiblePlanesAndEveryPropertyInRequestOrder) {
  if (!avsplus_host::RealHostAvailable()) GTEST_SKIP() << avsplus_host::kRealHostMissing;
  EXPECT_EQ(Md5Of({'a', 'b', 'c'}), "900150983cd24fb0d6963f7d28e17f72");  // RFC 1321's test suite

  // 66 samples a row: the frame's pitch is padded past them, and the padding must not count.
  const auto run = avsplus_host::RunRealHost(
      R"(BlankClip(length=3, width=66, height=32, pixel_type="YV12", color_yuv=$204060))"
      R"(.propSet("arr", [1, -2, 3]).propSet("f", [0.1, 1.25]).propSet("name", """a b"c\"""))",
      "2,0", true);
  ASSERT_EQ(run.exitCode, 0) << run.error;
  ASSERT_TRUE(run.hasClip);
  EXPECT_TRUE(run.clip.width == 66 && run.clip.height == 32 && run.clip.numFrames == 3 && run.clip.pixelType == "YV12" &&
              run.clip.fpsNumerator == 24 && run.clip.fpsDenominator == 1)
      << run.output;
  const std::vector<std::string> planes = {Md5Of(std::vector<std::uint8_t>(66 * 32, 0x20)),
                                           Md5Of(std::vector<std::uint8_t>(33 * 16, 0x40)),
                                           Md5Of(std::vector<std::uint8_t>(33 * 16, 0x60))};
  ASSERT_EQ(run.frames.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const avsplus_host::RealHostFrame& frame = run.frames[i];
    EXPECT_EQ(frame.n, i == 0 ? 2 : 0);
    EXPECT_EQ(frame.planes, planes);
    const auto& props = frame.props;
    ASSERT_TRUE(props.count("arr") && props.count("f") && props.count("name")) << run.output;
    EXPECT_EQ(props.at("arr").type, 'i');
    EXPECT_EQ(props.at("arr").ints, (std::vector<std::int64_t>{1, -2, 3}));
    EXPECT_EQ(props.at("f").type, 'f');
    EXPECT_EQ(props.at("f").floats, (std::vector<double>{0.1, 1.25}));
    EXPECT_EQ(props.at("name").type, 's');
    EXPECT_EQ(props.at("name").data, std::vector<std::string>{"a b\"c\\"});
  }
}

}  // namespace
