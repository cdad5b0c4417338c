// korvala-y4m and mvc-pack end to end: streams made here, packed, decoded through the plugin
// in the host harness, compared with the plugin's own frames and with ffmpeg's decodes.
#include <gtest/gtest.h>

#include <sstream>

#include "avs_host.h"
#include "index_scan.h"
#include "mvc_pack.h"
#include "parameter_sets.h"
#include "slice_header.h"
#include "tool_test_util.h"

namespace {

const std::string kTool = std::string(KORVALA_BINARY_DIR) + "/tools/korvala_y4m/korvala-y4m";
const std::string kPlugin = KORVALA_PLUGIN_PATH;

struct Y4m {
  std::string header;
  int width = 0, height = 0;
  std::string rate, colour;
  std::vector<tooltest::Bytes> frames;
};

// Parses a YUV4MPEG2 file of 4:2:0 frames; failures are test failures.
Y4m ParseY4m(const tooltest::Bytes& data) {
  Y4m y;
  auto nl = std::find(data.begin(), data.end(), '\n');
  if (nl == data.end()) {
    ADD_FAILURE() << "no header line";
    return y;
  }
  y.header.assign(data.begin(), nl);
  std::istringstream fields(y.header);
  std::string f;
  fields >> f;
  EXPECT_EQ(f, "YUV4MPEG2");
  while (fields >> f) {
    if (f[0] == 'W') y.width = std::stoi(f.substr(1));
    if (f[0] == 'H') y.height = std::stoi(f.substr(1));
    if (f[0] == 'F') y.rate = f.substr(1);
    if (f[0] == 'C') y.colour = f.substr(1);
  }
  size_t bytesPerSample = y.colour == "420p10" ? 2 : 1;
  size_t frameSize = static_cast<size_t>(y.width) * y.height * 3 / 2 * bytesPerSample;
  size_t pos = static_cast<size_t>(nl - data.begin()) + 1;
  while (pos < data.size()) {
    const std::string tag = "FRAME\n";
    if (data.size() - pos < tag.size() + frameSize || std::string(data.begin() + pos, data.begin() + pos + 6) != tag) {
      ADD_FAILURE() << "bad frame at byte " << pos;
      break;
    }
    pos += tag.size();
    y.frames.emplace_back(data.begin() + pos, data.begin() + pos + frameSize);
    pos += frameSize;
  }
  return y;
}

// The plugin's frames pulled through the harness, planes packed row by row.
std::vector<tooltest::Bytes> PluginFrames(const std::string& avc, const std::string& mvc, int numFrames, int view) {
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  avshost::Clip clip = host.Invoke("Korvala", {avc, mvc, numFrames, view});
  std::vector<tooltest::Bytes> frames;
  for (int n = 0; n < clip.GetVideoInfo().num_frames; ++n) {
    avshost::Frame f = clip.GetFrame(n);
    tooltest::Bytes packed;
    for (int p : {PLANAR_Y, PLANAR_U, PLANAR_V}) {
      avshost::PlaneView v = f.Plane(p);
      for (int r = 0; r < v.height; ++r) packed.insert(packed.end(), v.ptr + r * v.pitch, v.ptr + r * v.pitch + v.rowSize);
    }
    frames.push_back(std::move(packed));
  }
  return frames;
}

tooltest::Bytes Concat(const std::vector<tooltest::Bytes>& frames, size_t first = 0, size_t step = 1) {
  tooltest::Bytes all;
  for (size_t i = first; i < frames.size(); i += step) all.insert(all.end(), frames[i].begin(), frames[i].end());
  return all;
}

class Y4mPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tooltest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg with libx264 is not installed";
    dir_ = tooltest::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  // Encodes a left/right pair, packs it; fills left_, right_ (sources), base_, dep_.
  void MakePair(tooltest::EncodeOptions o) {
    left_ = dir_ + "/left.h264";
    right_ = dir_ + "/right.h264";
    std::string log;
    ASSERT_TRUE(tooltest::Encode(left_, o, &log)) << log;
    o.mirrored = true;
    ASSERT_TRUE(tooltest::Encode(right_, o, &log)) << log;
    tooltest::Bytes l = tooltest::ReadFile(left_), r = tooltest::ReadFile(right_);
    mvcpack::PackResult p = mvcpack::Pack(l.data(), l.size(), r.data(), r.size());
    base_ = dir_ + "/pair.base.h264";
    dep_ = dir_ + "/pair.dep.mvc";
    tooltest::WriteFile(base_, p.base);
    tooltest::WriteFile(dep_, p.dependent);
  }
  Y4m RunTool(const std::string& args, int wantStatus = 0) {
    std::string out = dir_ + "/out.y4m";
    tooltest::CommandResult r = tooltest::Run(kTool + " " + args + " -o " + out);
    EXPECT_EQ(r.status, wantStatus) << r.output;
    return ParseY4m(tooltest::ReadFile(out));
  }
  std::string dir_, left_, right_, base_, dep_;
};

TEST_F(Y4mPlugin, EightBitStereoMatchesThePluginAndTheSources) {
  tooltest::EncodeOptions o;
  MakePair(o);
  Y4m both = RunTool("--avc " + base_ + " --mvc " + dep_ + " --view 2");
  EXPECT_EQ(both.header, "YUV4MPEG2 W160 H96 F50:1 Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED");
  ASSERT_EQ(both.frames.size(), 40u) << "--frames auto counts 20 units, doubled for view 2";
  std::vector<tooltest::Bytes> plugin = PluginFrames(base_, dep_, 20, 2);
  ASSERT_EQ(plugin.size(), 40u);
  for (size_t i = 0; i < plugin.size(); ++i) EXPECT_TRUE(both.frames[i] == plugin[i]) << "frame " << i;

  // The round trip: each view equals ffmpeg's decode of the stream it was packed from.
  tooltest::Bytes wantLeft = tooltest::DecodeRaw(left_), wantRight = tooltest::DecodeRaw(right_);
  ASSERT_FALSE(wantLeft.empty());
  EXPECT_TRUE(Concat(both.frames, 0, 2) == wantLeft) << "even frames: the base view";
  EXPECT_TRUE(Concat(both.frames, 1, 2) == wantRight) << "odd frames: the dependent view";
  Y4m right = RunTool("--avc " + base_ + " --mvc " + dep_ + " --frames 20 --view 1");
  EXPECT_EQ(right.rate, "25:1");
  EXPECT_TRUE(Concat(right.frames) == wantRight);
}

TEST_F(Y4mPlugin, TenBitStereoMatchesThePlugin) {
  tooltest::EncodeOptions o;
  o.tenBit = true;
  o.frames = 12;
  MakePair(o);
  Y4m both = RunTool("--avc " + base_ + " --mvc " + dep_ + " --view 2");
  if (both.frames.empty()) return;  // the failure is reported by RunTool
  EXPECT_EQ(both.header, "YUV4MPEG2 W160 H96 F50:1 Ip A1:1 C420p10 XYSCSS=420P10 XCOLORRANGE=LIMITED");
  ASSERT_EQ(both.frames.size(), 24u);
  std::vector<tooltest::Bytes> plugin = PluginFrames(base_, dep_, 12, 2);
  ASSERT_EQ(plugin.size(), 24u);
  for (size_t i = 0; i < plugin.size(); ++i) EXPECT_TRUE(both.frames[i] == plugin[i]) << "frame " << i;
  EXPECT_TRUE(Concat(both.frames, 0, 2) == tooltest::DecodeRaw(left_, "yuv420p10le"));
  EXPECT_TRUE(Concat(both.frames, 1, 2) == tooltest::DecodeRaw(right_, "yuv420p10le"));
}

TEST_F(Y4mPlugin, APairOffTheMacroblockGridIsWrittenAtItsDisplaySize) {
  tooltest::EncodeOptions o;
  o.height = 90;  // coded with 96 rows, as the demo's 640x360 is with 368
  o.frames = 6;
  MakePair(o);
  Y4m both = RunTool("--avc " + base_ + " --mvc " + dep_ + " --view 2");
  EXPECT_EQ(both.header, "YUV4MPEG2 W160 H90 F50:1 Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED");
  EXPECT_TRUE(Concat(both.frames, 0, 2) == tooltest::DecodeRaw(left_));
  EXPECT_TRUE(Concat(both.frames, 1, 2) == tooltest::DecodeRaw(right_));
}

// Both views go through one decoder as one joined stream: each coding tool's references,
// weights and marking must survive the joining, per view, exactly.
TEST_F(Y4mPlugin, RichlyCodedPairsDecodeAsTheirSources) {
  const char* const tools[] = {
      "interlaced=1",                                   // MBAFF
      "cabac=0:interlaced=1:bframes=1",                 // MBAFF with CAVLC
      "weightp=2:bframes=0:ref=4",                      // explicit weights, picture order count type 2
      "direct=temporal:bframes=3:b-pyramid=normal:ref=4",  // temporal direct, marking operations
      "slices=4:weightb=1:8x8dct=1",                    // several slices, explicit B weights
  };
  for (const char* extra : tools) {
    SCOPED_TRACE(extra);
    tooltest::EncodeOptions o;
    o.extra = extra;
    MakePair(o);
    const std::vector<tooltest::Bytes> both = PluginFrames(base_, dep_, o.frames, 2);
    EXPECT_TRUE(Concat(both, 0, 2) == tooltest::DecodeRaw(left_));
    EXPECT_TRUE(Concat(both, 1, 2) == tooltest::DecodeRaw(right_));
  }
}

// Open GOPs: I pictures that are no IDR pictures, with B pictures before them in display order
// that refer across them. mvc-pack makes the right view's I pictures anchors, so the pair's I
// units are where a seek starts, and the frames come out exactly as in order.
TEST_F(Y4mPlugin, OpenGopPairsSeekExactly) {
  tooltest::EncodeOptions o;
  o.frames = 40;
  o.extra = "open-gop=1";
  MakePair(o);
  korvala::UnitIndex index(true);
  korvala::FileScan base(korvala::FilePtr(std::fopen(base_.c_str(), "rb")));
  korvala::FileScan dep(korvala::FilePtr(std::fopen(dep_.c_str(), "rb")));
  korvala::ScanToEnd(index, base, &dep);
  ASSERT_EQ(index.FrameCount(), 40u);
  int intra = 0;
  for (uint32_t unit : index.RandomAccessUnits()) intra += index.Access(unit) == korvala::AccessKind::kIntra;
  EXPECT_EQ(intra, 4) << "an I unit every 8 frames after the IDR";

  const std::vector<tooltest::Bytes> inOrder = PluginFrames(base_, dep_, 0, 2);
  ASSERT_EQ(inOrder.size(), 80u);
  EXPECT_TRUE(Concat(inOrder, 0, 2) == tooltest::DecodeRaw(left_));
  EXPECT_TRUE(Concat(inOrder, 1, 2) == tooltest::DecodeRaw(right_));
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  for (int viewId : {2, 0}) {
    avshost::Clip clip = host.Invoke("Korvala", {base_, dep_, 0, viewId});
    const int count = clip.GetVideoInfo().num_frames;
    std::vector<int> order;
    for (int n = count - 1; n >= 0; --n) order.push_back(n);
    for (int n : {33, 17, 62, 7, 40, 16, 15}) order.push_back(viewId ? n : n / 2);  // into and before I units
    for (int n : order) {
      avshost::Frame f = clip.GetFrame(n);
      tooltest::Bytes packed;
      for (int p : {PLANAR_Y, PLANAR_U, PLANAR_V}) {
        avshost::PlaneView v = f.Plane(p);
        for (int r = 0; r < v.height; ++r) packed.insert(packed.end(), v.ptr + r * v.pitch, v.ptr + r * v.pitch + v.rowSize);
      }
      ASSERT_TRUE(packed == inOrder[viewId ? n : 2 * n]) << "ViewId " << viewId << " frame " << n;
    }
  }
}

// MVC lets the dependent view's PPS take an id the base view's uses, with other contents: the
// conformance pair with its dependent PPS renumbered from 1 to the base view's 0 (and its slices
// with it) decodes as the original does.
TEST_F(Y4mPlugin, ADependentPpsTakingTheBaseViewsIdDecodes) {
  const std::string media = std::string(KORVALA_SHARED_DIR) + "/media/";
  if (!tooltest::FileExists(media + "MVCRP_2.dep.mvc")) GTEST_SKIP() << "the shared MVCRP_2 pair is not present";
  const tooltest::Bytes dep = tooltest::ReadFile(media + "MVCRP_2.dep.mvc");
  tooltest::Bytes renumbered;
  h264::SubsetSps subset;
  h264::Pps pps;
  for (const mvcpack::NalUnit& nal : mvcpack::SplitAnnexB(dep.data(), dep.size())) {
    tooltest::Bytes out = {0, 0, 0, 1};
    if (nal.type() == h264::kNalSubsetSps) {
      ASSERT_TRUE(h264::ParseSubsetSpsNal(nal.data, nal.size, subset));
    }
    if (nal.type() == h264::kNalPps) {
      ASSERT_TRUE(h264::ParsePpsNal(nal.data, nal.size, pps));
      ASSERT_EQ(pps.ppsId, 1u);
      const tooltest::Bytes moved = mvcpack::RenumberPps(nal, 0);
      out.insert(out.end(), moved.begin(), moved.end());
    } else if (nal.type() == h264::kNalSliceExtension) {
      h264::MvcNalHeader ext;
      ASSERT_TRUE(h264::ParseMvcNalHeader(nal.data + 1, nal.size - 1, ext));
      std::vector<uint8_t> rbsp;
      h264::Unescape(nal.data + 4, nal.size - 4, rbsp);
      h264::SliceContext context;
      context.idr = !ext.nonIdr;
      context.refIdc = nal.refIdc();
      context.multiview = true;
      h264::SliceHeader h;
      ASSERT_TRUE(h264::ParseSliceHeader(rbsp.data(), rbsp.size(), subset.sps, pps, context, h));
      h.ppsId = 0;
      h264::BitWriter w;
      h264::WriteSliceHeader(h, subset.sps, pps, context, rbsp.data(), w);
      h264::WriteSliceData(h, pps.entropyCodingMode, rbsp.data(), rbsp.size(), w);
      out.insert(out.end(), nal.data, nal.data + 4);
      h264::AppendEscaped(w.Bytes().data(), w.Bytes().size(), out);
    } else {
      out.insert(out.end(), nal.data, nal.data + nal.size);
    }
    renumbered.insert(renumbered.end(), out.begin(), out.end());
  }
  const std::string moved = dir_ + "/moved.dep.mvc";
  tooltest::WriteFile(moved, renumbered);
  const std::string base = media + "MVCRP_2.base.h264";
  const std::vector<tooltest::Bytes> got = PluginFrames(base, moved, 0, 2);
  const std::vector<tooltest::Bytes> want = PluginFrames(base, media + "MVCRP_2.dep.mvc", 0, 2);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) ASSERT_TRUE(got[i] == want[i]) << "frame " << i;
}

// One decoder holds at most 16 reference frames: two views of 9 each can't share it.
TEST_F(Y4mPlugin, ViewsWithMoreReferencesThanOneDecoderHoldsAreRefused) {
  tooltest::EncodeOptions o;
  o.frames = 4;
  o.bframes = 0;
  o.extra = "ref=9";
  MakePair(o);
  avshost::Host host;
  host.LoadPlugin(kPlugin);
  try {
    host.Invoke("Korvala", {base_, dep_, 4, 2});
    ADD_FAILURE() << "the pair was accepted";
  } catch (const avshost::ScriptError& e) {
    EXPECT_STREQ(e.what(), "Korvala: Can't init decoder");
  }
}

TEST_F(Y4mPlugin, ErrorsAndBadArguments) {
  tooltest::EncodeOptions o;
  o.frames = 4;
  MakePair(o);
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"--avc " + dir_ + "/missing.h264 --mvc " + dep_ + " --frames 4", 1, "Korvala: Can't open Source File AVC\n"},
      {"--avc " + base_ + " --mvc " + dir_ + "/missing.mvc --frames 4", 1, "Korvala: Can't open Source File MVC\n"},
      {"--avc " + base_ + " --frames four", 2, "korvala-y4m: --frames needs a number of frames or auto, not 'four'"},
      {"--avc " + base_ + " --speed 2", 2, "korvala-y4m: unknown option '--speed'"},
      {"--mvc " + dep_, 2, "korvala-y4m: --avc FILE is required"},
  };
  for (const Case& c : cases) {
    tooltest::CommandResult r = tooltest::Run(kTool + " " + c.args + " -o " + dir_ + "/x.y4m");
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
    EXPECT_EQ(r.output.find(c.message), 0u) << c.args << "\n" << r.output;
  }
  tooltest::CommandResult help = tooltest::Run(kTool + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("usage: korvala-y4m"), std::string::npos);
}

TEST_F(Y4mPlugin, ConformancePairDependentView) {
  std::string media = std::string(KORVALA_SHARED_DIR) + "/media/";
  if (!tooltest::FileExists(media + "MVCRP_2.base.h264")) GTEST_SKIP() << media << "MVCRP_2 is not present";
  Y4m right = RunTool("--avc " + media + "MVCRP_2.base.h264 --mvc " + media + "MVCRP_2.dep.mvc --view 1");
  ASSERT_EQ(right.frames.size(), 250u);
  tooltest::WriteFile(dir_ + "/view1.yuv", Concat(right.frames));
  tooltest::CommandResult md5 = tooltest::Run("md5sum " + dir_ + "/view1.yuv");
  EXPECT_EQ(md5.output.substr(0, 32), "5dc61db7e682982679042ef554968245");
}

}  // namespace
