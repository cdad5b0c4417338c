// korvala-y4m without the plugin: command line, access unit counting, frame packing, run loop.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "index_display.h"
#include "options.h"
#include "run.h"
#include "tool_test_util.h"
#include "y4m_writer.h"

using namespace y4m;

TEST(Y4mOptions, ParsesTheScriptParameters) {
  Options o;
  std::string err;
  ASSERT_TRUE(ParseOptions({"--avc", "a.h264", "--mvc=b.mvc", "--frames", "12", "--view", "-2", "-o", "x.y4m"}, o, err))
      << err;
  EXPECT_EQ(o.avc, "a.h264");
  EXPECT_EQ(o.mvc, "b.mvc");
  EXPECT_FALSE(o.framesAuto);
  EXPECT_EQ(o.frames, 12);
  EXPECT_EQ(o.view, -2);
  EXPECT_EQ(o.output, "x.y4m");
  ASSERT_TRUE(ParseOptions({"--avc", "a", "--frames=auto"}, o, err));
  EXPECT_TRUE(o.framesAuto);
  ASSERT_TRUE(ParseOptions({"--avc", "a"}, o, err));
  EXPECT_TRUE(o.framesAuto) << "auto is the default";
  ASSERT_TRUE(ParseOptions({"--help", "--bogus"}, o, err));
  EXPECT_TRUE(o.help);
  ASSERT_TRUE(ParseOptions({"--index", "a.m2ts", "b.mkv", "--avc", "c.h264"}, o, err)) << err;
  EXPECT_TRUE(o.index);
  EXPECT_EQ(o.indexFiles, (std::vector<std::string>{"a.m2ts", "b.mkv"}));
  EXPECT_EQ(o.avc, "c.h264");
}

TEST(Y4mIndexProgress, ShowsBytesRateAndTimeLeft) {
  EXPECT_EQ(IndexProgressLine("film.m2ts", 300000000, 1200000000, 0.5),
            "indexing film.m2ts [######..................]  25%  300 of 1200 MB, 600 MB/s, 0:02 left");
  EXPECT_EQ(IndexProgressLine("x.ts", 5000000, 0, 0), "indexing x.ts  5 MB") << "size not known";
}

TEST(Y4mOptions, RejectsBadCommandLines) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--avc", "a", "--frames", "ten"}, "--frames needs a number of frames or auto, not 'ten'"},
      {{"--avc", "a", "--frames", "-3"}, "not '-3'"},
      {{"--avc", "a", "--frames", "99999999999"}, "not '99999999999'"},
      {{"--avc", "a", "--frames", ""}, "not ''"},
      {{"--avc", "a", "--view", "2x"}, "--view needs a number"},
      {{"--avc", "a", "--fast"}, "unknown option '--fast'"},
      {{"--avc", "a", "extra"}, "unexpected argument 'extra'"},
      {{"--avc"}, "--avc needs a value"},
      {{"--mvc", "b"}, "--avc FILE is required"},
      {{}, "--avc FILE is required"},
      {{"--index"}, "--index needs the files to index"},
  };
  for (const Case& c : cases) {
    Options o;
    std::string err;
    EXPECT_FALSE(ParseOptions(c.args, o, err)) << c.message;
    EXPECT_NE(err.find(c.message), std::string::npos) << "got: " << err;
  }
}

namespace {

// Reads everything written to a pipe's read end after the writer closed it.
std::string Drain(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  return s;
}

// Planes with padding between rows, filled with a pattern; the padding holds 0xEE.
struct FakePicture {
  FakePicture(int w, int h, int bytesPerSample, int seed, bool padded = true) {
    int rows[3] = {h, h / 2, h / 2};
    int sizes[3] = {w * bytesPerSample, w / 2 * bytesPerSample, w / 2 * bytesPerSample};
    for (int p = 0; p < 3; ++p) {
      int pitch = padded ? (sizes[p] + 63) / 64 * 64 + 64 : sizes[p];
      data[p].assign(static_cast<size_t>(pitch * rows[p]), 0xEE);
      for (int r = 0; r < rows[p]; ++r)
        for (int x = 0; x < sizes[p]; ++x)
          data[p][static_cast<size_t>(r * pitch + x)] = static_cast<uint8_t>(seed + p * 50 + r * 3 + x);
      planes[p] = Plane{data[p].data(), pitch, sizes[p], rows[p]};
    }
  }
  std::string Packed() const {
    std::string s;
    for (const Plane& p : planes)
      for (int r = 0; r < p.height; ++r) s.append(reinterpret_cast<const char*>(p.ptr) + r * p.pitch, p.rowSize);
    return s;
  }
  std::vector<uint8_t> data[3];
  Plane planes[3];
};

class FakeSource : public FrameSource {
 public:
  FakeSource(StreamFormat f, int frames, int failAt = -1, std::vector<FakePicture>* keep = nullptr,
             bool padded = true)
      : format_(f), frames_(frames), failAt_(failAt), padded_(padded), pictures_(keep ? keep : &own_) {}
  StreamFormat Format() const override { return format_; }
  int NumFrames() const override { return frames_; }
  void GetFrame(int n, Plane& y, Plane& u, Plane& v) override {
    if (n == failAt_) throw SourceError("Korvala: ERROR -> DecodeFrameAsync returns error = -17");
    pictures_->emplace_back(format_.width, format_.height, format_.tenBit ? 2 : 1, n, padded_);
    const FakePicture& p = pictures_->back();
    y = p.planes[0];
    u = p.planes[1];
    v = p.planes[2];
  }

 private:
  StreamFormat format_;
  int frames_, failAt_;
  bool padded_;
  std::vector<FakePicture> own_;
  std::vector<FakePicture>* pictures_;  // outlives the source where the test keeps it
};

struct Captured {
  int status;
  std::string out, err;
};

Captured RunWith(const Options& o, const SourceFactory& factory) {
  int pipeFd[2];
  EXPECT_EQ(pipe(pipeFd), 0);
  std::FILE* err = std::tmpfile();
  Captured c;
  // Small outputs only: the pipe's buffer holds them until the run is over.
  c.status = y4m::Run(o, factory, pipeFd[1], err, false);
  close(pipeFd[1]);
  c.out = Drain(pipeFd[0]);
  close(pipeFd[0]);
  std::rewind(err);
  char buf[1024];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, err)) > 0) c.err.append(buf, n);
  std::fclose(err);
  return c;
}

}  // namespace

TEST(Y4mWriter, HeaderAndFramesForEightAndTenBit) {
  for (int mode = 0; mode < 4; ++mode) {
    bool tenBit = mode & 1, padded = mode & 2;
    SCOPED_TRACE(std::string(tenBit ? "10-bit" : "8-bit") + (padded ? ", padded rows" : ", unpadded rows"));
    StreamFormat f{36, 10, 50, 1, tenBit};
    std::vector<FakePicture> pictures;
    pictures.reserve(3);
    Options o;
    o.avc = "unused";
    o.framesAuto = false;
    o.frames = 3;
    Captured c = RunWith(o, [&](const Options&, int frames) {
      EXPECT_EQ(frames, 3);
      return std::make_unique<FakeSource>(f, 3, -1, &pictures, padded);
    });
    ASSERT_EQ(c.status, 0) << c.err;
    std::string header = tenBit ? "YUV4MPEG2 W36 H10 F50:1 Ip A0:0 C420p10 XYSCSS=420P10\n"
                                : "YUV4MPEG2 W36 H10 F50:1 Ip A0:0 C420jpeg XYSCSS=420JPEG\n";
    std::string want = header;
    for (const FakePicture& p : pictures) want += "FRAME\n" + p.Packed();
    ASSERT_EQ(pictures.size(), 3u);
    EXPECT_EQ(c.out.size(), header.size() + 3 * (6 + 36 * 10 * 3 / 2 * (tenBit ? 2 : 1)));
    EXPECT_TRUE(c.out == want) << "rows are written without the padding";
    EXPECT_EQ(c.err, "");
  }
}

TEST(Y4mRun, PluginErrorIsPrintedAsItIs) {
  Options o;
  o.avc = "unused";
  o.framesAuto = false;
  o.frames = 5;
  Captured open = RunWith(o, [](const Options&, int) -> std::unique_ptr<FrameSource> {
    throw SourceError("Korvala: Can't open Source File AVC");
  });
  EXPECT_EQ(open.status, 1);
  EXPECT_EQ(open.err, "Korvala: Can't open Source File AVC\n");
  Captured mid = RunWith(o, [](const Options&, int) { return std::make_unique<FakeSource>(StreamFormat{8, 2, 25, 1, false}, 5, 2); });
  EXPECT_EQ(mid.status, 1);
  EXPECT_EQ(mid.err, "Korvala: ERROR -> DecodeFrameAsync returns error = -17\n");
  EXPECT_EQ(mid.out.size(), std::string("YUV4MPEG2 W8 H2 F25:1 Ip A0:0 C420jpeg XYSCSS=420JPEG\n").size() + 2 * (6 + 24))
      << "the frames before the error are written";
}

TEST(Y4mRun, WriteFailureIsAnError) {
  int pipeFd[2];
  ASSERT_EQ(pipe(pipeFd), 0);
  close(pipeFd[0]);
  std::signal(SIGPIPE, SIG_IGN);
  Options o;
  o.avc = "unused";
  o.framesAuto = false;
  o.frames = 1;
  std::FILE* err = std::tmpfile();
  int status = y4m::Run(o, [](const Options&, int) { return std::make_unique<FakeSource>(StreamFormat{8, 2, 25, 1, false}, 1); },
                   pipeFd[1], err, false);
  close(pipeFd[1]);
  EXPECT_EQ(status, 1);
  std::rewind(err);
  char buf[256] = {};
  EXPECT_GT(std::fread(buf, 1, sizeof buf - 1, err), 0u);
  EXPECT_NE(std::string(buf).find("korvala-y4m: write failed after 0 frames"), std::string::npos) << buf;
  std::fclose(err);
}

TEST(Y4mRun, AutoFramesLetsThePluginCount) {
  Options o;
  o.avc = "any.h264";
  o.view = 2;
  int seen = -1;
  Captured c = RunWith(o, [&](const Options& opts, int frames) {
    seen = frames;
    EXPECT_EQ(opts.view, 2);
    return std::make_unique<FakeSource>(StreamFormat{8, 2, 50, 1, false}, 4);
  });
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(seen, 0) << "NumFrames 0: the stream's own count";
  Captured none = RunWith(o, [](const Options&, int) {
    return std::make_unique<FakeSource>(StreamFormat{8, 2, 50, 1, false}, 0);
  });
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("--frames auto counted no frames in any.h264"), std::string::npos) << none.err;
}
