// Frame properties end to end: streams made here (a BT.709 stereo pair packed by mvc-pack, a
// full-range BT.601 single view) and the field-coded stereo stream of the shared media, decoded
// through the plugin in the host harness, each frame's properties against what its stream says.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "avs_host.h"
#include "mvc_pack.h"
#include "real_host.h"
#include "tool_test_util.h"

namespace {

const std::string kTool = std::string(KORVALA_BINARY_DIR) + "/tools/korvala_y4m/korvala-y4m";

using PropertyText = std::map<std::string, std::string>;

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", v);
  return text;
}

// Each property as text: integers in decimal, floats to six places, data as it is; from the
// harness or the real host alike.
template <class Properties>
PropertyText Text(const Properties& properties) {
  PropertyText text;
  for (const auto& [key, p] : properties) {
    if (p.type == PROPTYPE_INT && p.ints.size() == 1) text[key] = std::to_string(p.ints[0]);
    else if (p.type == PROPTYPE_FLOAT && p.floats.size() == 1) text[key] = Number(p.floats[0]);
    else if (p.type == PROPTYPE_DATA && p.data.size() == 1) text[key] = p.data[0];
    else text[key] = "?";
  }
  return text;
}

std::string Show(const PropertyText& text) {
  std::string s;
  for (const auto& [key, value] : text) s += key + "=" + value + " ";
  return s;
}

// Picture types of an AVC stream in display order, as ffprobe reads them.
std::vector<std::string> PictureTypes(const std::string& path) {
  std::istringstream lines(
      tooltest::Run("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 '" + path + "'").output);
  std::vector<std::string> types;
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) types.push_back(line.substr(0, 1));
  return types;
}

// What a stream's frames must carry: the same for all, plus what each picture has of its own.
struct Expectation {
  PropertyText common;               // colour, aspect, field order
  uint32_t rateNum = 0, rateDen = 0;  // the stream's picture rate when it has timing, else 0
  std::vector<std::string> types[2];  // per view; empty: not checked
};

// Frame n of Korvala(..., viewId), a clip at fpsNum/fpsDen.
PropertyText Expected(const Expectation& e, int viewId, int n, uint32_t fpsNum, uint32_t fpsDen) {
  PropertyText want = e.common;
  const bool both = viewId == 2 || viewId == -2;
  const int view = viewId == 0 || viewId == 1 ? viewId : viewId == 2 ? n % 2 : 1 - n % 2;
  const int unit = both ? n / 2 : n;
  want["KorvalaView"] = std::to_string(view);
  want["_DurationNum"] = std::to_string(fpsDen);
  want["_DurationDen"] = std::to_string(fpsNum);
  if (e.rateNum) want["_AbsoluteTime"] = Number(static_cast<double>(unit) * e.rateDen / e.rateNum);
  if (static_cast<size_t>(unit) < e.types[view].size()) want["_PictType"] = e.types[view][unit];
  return want;
}

class FrameProperties : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tooltest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg with libx264 is not installed";
    dir_ = tooltest::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }

  std::string Encode(const std::string& name, const std::string& rate, const std::string& input,
                     const std::string& x264) {
    const std::string path = dir_ + "/" + name;
    tooltest::CommandResult r = tooltest::Run(
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=160x96:rate=" + rate + " " + input +
        " -frames:v 12 -c:v libx264 -x264-params keyint=6:min-keyint=6:scenecut=0:bframes=2:b-adapt=0:aud=1:" +
        x264 + " '" + path + "'");
    EXPECT_EQ(r.status, 0) << r.output;
    return path;
  }

  // A BT.709 limited-range pair, SAR 1:1 and chroma location 2, at 25 frames per second.
  Expectation MakeStereoPair() {
    const std::string colour = "colorprim=bt709:transfer=bt709:colormatrix=bt709:range=tv:sar=1/1:chromaloc=2";
    const std::string left = Encode("left.h264", "25", "-pix_fmt yuv420p", colour);
    const std::string right = Encode("right.h264", "25", "-vf hflip,negate -pix_fmt yuv420p", colour);
    tooltest::Bytes l = tooltest::ReadFile(left), r = tooltest::ReadFile(right);
    mvcpack::PackResult p = mvcpack::Pack(l.data(), l.size(), r.data(), r.size());
    base_ = dir_ + "/pair.base.h264";
    dep_ = dir_ + "/pair.dep.mvc";
    tooltest::WriteFile(base_, p.base);
    tooltest::WriteFile(dep_, p.dependent);
    Expectation e;
    e.common = {{"_Matrix", "1"},        {"_Primaries", "1"}, {"_Transfer", "1"}, {"_ColorRange", "1"},
                {"_ChromaLocation", "2"}, {"_SARNum", "1"},    {"_SARDen", "1"},   {"_FieldBased", "0"}};
    e.rateNum = 25;
    e.rateDen = 1;
    e.types[0] = PictureTypes(left);
    e.types[1] = PictureTypes(right);
    return e;
  }

  // Full-range BT.601 (smpte170m), SAR 10:11, at 30000/1001.
  Expectation MakeSingleView() {
    base_ = Encode("single.h264", "30000/1001", "-vf setsar=10/11 -pix_fmt yuvj420p",
                   "colorprim=smpte170m:transfer=smpte170m:colormatrix=smpte170m:range=pc");
    dep_.clear();
    Expectation e;
    e.common = {{"_Matrix", "6"},    {"_Primaries", "6"}, {"_Transfer", "6"},  {"_ColorRange", "0"},
                {"_SARNum", "10"},   {"_SARDen", "11"},   {"_FieldBased", "0"}};
    e.rateNum = 30000;
    e.rateDen = 1001;
    e.types[0] = PictureTypes(base_);
    return e;
  }

  // Every frame of Korvala(base_, dep_, units, viewId) in the harness against the expectation.
  void Check(const Expectation& e, int units, int viewId, avshost::HostOptions options = {},
             const std::string& plugin = KORVALA_PLUGIN_PATH) {
    SCOPED_TRACE(::testing::Message() << "ViewId " << viewId);
    avshost::Host host(options);
    host.LoadPlugin(plugin);
    avshost::Clip clip = host.Invoke("Korvala", {base_, dep_, units, viewId});
    const VideoInfo vi = clip.GetVideoInfo();
    for (int n = 0; n < vi.num_frames; ++n) {
      PropertyText want = Expected(e, viewId, n, vi.fps_numerator, vi.fps_denominator);
      if (options.interfaceVersion < 8) want.clear();
      ASSERT_TRUE(Matches(Text(clip.GetFrame(n).GetProperties()), want)) << "frame " << n;
    }
  }

  // The same in the real AviSynth+, every frame asked for in the order given.
  void CheckRealHost(const Expectation& e, int units, int viewId, const std::string& order = "forward") {
    SCOPED_TRACE(::testing::Message() << "ViewId " << viewId << " in AviSynth+, " << order);
    const auto run = avsplus_host::RunRealHost(Script(units, viewId), order, true, {KORVALA_PLUGIN_PATH});
    ASSERT_EQ(run.exitCode, 0) << run.error;
    ASSERT_EQ(run.frames.size(), static_cast<size_t>(run.clip.numFrames));
    for (const avsplus_host::RealHostFrame& frame : run.frames) {
      const PropertyText want = Expected(e, viewId, frame.n, run.clip.fpsNumerator, run.clip.fpsDenominator);
      ASSERT_TRUE(Matches(Text(frame.props), want)) << "frame " << frame.n;
    }
  }

  std::string Script(int units, int viewId) const {
    return "Korvala(\"" + base_ + "\", \"" + dep_ + "\", " + std::to_string(units) + ", " + std::to_string(viewId) + ")";
  }

  // The first line korvala-y4m writes for Korvala(base_, dep_, units, viewId).
  std::string Y4mHeader(int units, int viewId) {
    const std::string out = dir_ + "/out.y4m";
    const tooltest::CommandResult r = tooltest::Run(kTool + " --avc '" + base_ + "'" + (dep_.empty() ? "" : " --mvc '" + dep_ + "'") +
                                                    " --frames " + std::to_string(units) + " --view " +
                                                    std::to_string(viewId) + " -o '" + out + "'");
    EXPECT_EQ(r.status, 0) << r.output;
    const tooltest::Bytes bytes = tooltest::ReadFile(out);
    return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), '\n'));
  }

  // Equal, but where a view's picture types are unknown (no decoder but ours reads that view)
  // any single coding type passes.
  static ::testing::AssertionResult Matches(PropertyText got, const PropertyText& want) {
    const auto type = got.find("_PictType");
    if (!want.empty() && !want.count("_PictType") && type != got.end() && type->second.size() == 1 &&
        std::string("IPB").find(type->second) != std::string::npos)
      got.erase(type);
    if (got == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\n got: " << Show(got) << "\nwant: " << Show(want);
  }

  std::string dir_, base_, dep_;
};

TEST_F(FrameProperties, StereoPairOfX264) {
  const Expectation e = MakeStereoPair();
  ASSERT_EQ(e.types[0].size(), 12u);
  for (int viewId : {0, 1, 2, -2}) Check(e, 12, viewId);
  if (!avsplus_host::RealHostAvailable()) GTEST_SKIP() << avsplus_host::kRealHostMissing;
  for (int viewId : {2, -2}) CheckRealHost(e, 12, viewId);
  CheckRealHost(e, 12, 2, "reverse");  // every frame reached by a seek

  // The README's script: after an odd cut, frames whose eye is not the one their place says are
  // marked; after an even cut none is.
  const std::string check =
      R"avs(.ScriptClip("""propGetInt("KorvalaView") == current_frame % 2 ? last : Subtitle("eyes swapped")"""))avs";
  for (const char* cut : {".Trim(2, 0)", ".Trim(1, 0)"}) {
    SCOPED_TRACE(cut);
    const auto plain = avsplus_host::RunRealHost(Script(12, 2) + cut, "forward", false, {KORVALA_PLUGIN_PATH});
    const auto checked = avsplus_host::RunRealHost(Script(12, 2) + cut + check, "forward", false, {KORVALA_PLUGIN_PATH});
    ASSERT_EQ(checked.exitCode, 0) << checked.error;
    ASSERT_EQ(plain.frames.size(), checked.frames.size());
    for (size_t n = 0; n < plain.frames.size(); ++n)
      EXPECT_EQ(plain.frames[n].planes == checked.frames[n].planes, cut[6] == '2') << "frame " << n;
  }
}

TEST_F(FrameProperties, SingleViewFullRangeWithItsAspect) {
  const Expectation e = MakeSingleView();
  ASSERT_EQ(e.types[0].size(), 12u);
  Check(e, 12, 0);
  EXPECT_EQ(Y4mHeader(12, 0), "YUV4MPEG2 W160 H96 F30000:1001 Ip A10:11 C420jpeg XYSCSS=420JPEG XCOLORRANGE=FULL");
  if (!avsplus_host::RealHostAvailable()) GTEST_SKIP() << avsplus_host::kRealHostMissing;
  CheckRealHost(e, 12, 0);
}

// No VUI at all: colour unspecified, limited range, no aspect, no time; fields top first.
TEST_F(FrameProperties, FieldCodedStereoStream) {
  const std::string media = std::string(KORVALA_SHARED_DIR) + "/media/mvc/";
  if (!tooltest::FileExists(media + "mvc_field.base.h264")) GTEST_SKIP() << media << "mvc_field is not present";
  base_ = media + "mvc_field.base.h264";
  dep_ = media + "mvc_field.dep.mvc";
  Expectation e;
  e.common = {{"_Matrix", "2"}, {"_Primaries", "2"}, {"_Transfer", "2"}, {"_ColorRange", "1"}, {"_FieldBased", "2"}};
  e.types[0] = PictureTypes(base_);  // the dependent view has no decoder but ours to ask
  ASSERT_EQ(e.types[0].size(), 16u);
  for (int viewId : {2, -2}) Check(e, 16, viewId);
  EXPECT_EQ(Y4mHeader(16, 2), "YUV4MPEG2 W640 H480 F60:1 It A0:0 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED");
  if (!avsplus_host::RealHostAvailable()) GTEST_SKIP() << avsplus_host::kRealHostMissing;
  for (int viewId : {2, -2}) CheckRealHost(e, 16, viewId);
}

// An AviSynth before interface 8 gets the same frames and no property call at all (the harness
// stops the program on one); the plugin built against AviSynth+'s own header writes the same.
TEST_F(FrameProperties, OlderHostAndAviSynthPlusHeader) {
  const Expectation e = MakeSingleView();
  avshost::HostOptions older;
  older.interfaceVersion = 6;
  Check(e, 12, 0, older);
  const std::string avsplusPlugin = KORVALA_AVSPLUS_PLUGIN_PATH;
  if (avsplusPlugin.empty()) GTEST_SKIP() << "../shared/avisynthplus-3.7.5 is not present";
  Check(e, 12, 0, {}, avsplusPlugin);
}

}  // namespace
