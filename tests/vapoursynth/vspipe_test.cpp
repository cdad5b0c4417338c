// The plugin's VapourSynth front end under the real vspipe and Python module: both views of the
// shared stereo streams, counted and in reverse, equal the reference digests; every container form
// of one shared set; the frame properties, against what the real AviSynth+ gets from the same
// clip; an error's text.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media.h"
#include "real_host.h"
#include "stereo_streams.h"

namespace swrt_test {
namespace {

const std::string kVapourSynth = KORVALA_VAPOURSYNTH_DIR;  // "" when the build found none
constexpr const char* kMissing =
    "VapourSynth R65 (../shared/vapoursynth-R65) was absent when the build was configured: the plugin has no "
    "VapourSynth entry and there is no vspipe to run it";

struct Piped {
  int status = -1;
  std::vector<std::uint8_t> out;  // the clip's frames, planes row by row
  std::string err;
};

// vspipe runs the tests' script over korvala.Source with the arguments given (NAME=VALUE).
Piped Vspipe(const std::vector<std::string>& args) {
  // One file per process: CTest runs these tests side by side.
  const std::string errPath = BuildDir() + "/vspipe_test." + std::to_string(::getpid()) + ".err";
  std::string command = "PYTHONPATH='" + kVapourSynth + "/lib/python3.11/site-packages' '" + kVapourSynth +
                        "/bin/vspipe' -a 'plugin=" KORVALA_PLUGIN_PATH "'";
  for (const std::string& a : args) command += " -a '" + a + "'";
  command += " '" KORVALA_VPY "' - 2>'" + errPath + "'";
  Piped p;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return p;
  std::uint8_t buffer[1 << 16];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) p.out.insert(p.out.end(), buffer, buffer + got);
  p.status = pclose(pipe);
  std::ifstream err(errPath);
  p.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  std::remove(errPath.c_str());
  return p;
}

// The base and dependent views' digests of a clip of ViewId 2 with `frames` frames a view (the
// rest after them left out), its frames in the order served.
void ExpectViews(const Piped& p, const Stream& s, int servedFrames, bool reversed) {
  ASSERT_EQ(p.status, 0) << p.err;
  ASSERT_TRUE(servedFrames > 0 && p.out.size() % servedFrames == 0) << p.out.size();
  const size_t frameBytes = p.out.size() / servedFrames;
  std::vector<std::uint8_t> views[2];
  for (int n = 0; n < 2 * s.frames; ++n) {
    const size_t at = (reversed ? servedFrames - 1 - n : n) * frameBytes;
    views[n % 2].insert(views[n % 2].end(), p.out.begin() + at, p.out.begin() + at + frameBytes);
  }
  EXPECT_EQ(Md5(views[0]), s.base);
  EXPECT_EQ(Md5(views[1]), s.dependent);
}

class VapourSynth : public ::testing::Test {
 protected:
  void SetUp() override {
    struct stat st;
    if (kVapourSynth.empty() || ::stat((kVapourSynth + "/bin/vspipe").c_str(), &st) != 0) GTEST_SKIP() << kMissing;
#ifdef KORVALA_SANITIZED
    GTEST_SKIP() << "the shared vspipe is not built with the sanitizers, so it can't load this build of the plugin";
#endif
  }
};

class VapourSynthStreams : public VapourSynth, public ::testing::WithParamInterface<Stream> {};

TEST_P(VapourSynthStreams, BothViewsEqualTheReferenceInOrderAndReversed) {
  const Stream& s = GetParam();
  const std::string base = SharedMedia("mvc/" + std::string(s.name) + ".base.h264");
  const std::string dependent = SharedMedia("mvc/" + std::string(s.name) + ".dep.mvc");
  if (base.empty() || dependent.empty()) GTEST_SKIP() << "shared test media mvc/" << s.name << " is not present";
  for (const char* order : {"forward", "reverse"}) {
    SCOPED_TRACE(order);
    const Piped p = Vspipe({"source=" + base, "dependent=" + dependent, "view=2", std::string("order=") + order});
    ExpectViews(p, s, 2 * s.frames, std::string(order) == "reverse");
  }
}

INSTANTIATE_TEST_SUITE_P(Shared, VapourSynthStreams, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VapourSynth, EveryContainerFormServesBothViewsReversed) {
  const Stream& s = kStreams[1];
  const std::vector<Form> forms = FormsOf(s.name);
  if (forms.empty()) GTEST_SKIP() << "shared test media containers/" << s.name << " is not present";
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    const Piped p = Vspipe({"source=" + form.avc, "dependent=" + form.mvc, "view=2", "order=reverse"});
    ExpectViews(p, s, 2 * (s.frames + form.extraUnits), true);
  }
}

// The properties of the first frames, as "n key value" lines, against the real AviSynth+'s: the
// same values, _PictType a string.
TEST_F(VapourSynth, FramePropertiesAreAviSynthPlusOnes) {
  if (!avsplus_host::RealHostAvailable()) GTEST_SKIP() << avsplus_host::kRealHostMissing;
  const std::string base = SharedMedia("mvc/mvc_ibbp_cabac.base.h264");
  const std::string dependent = SharedMedia("mvc/mvc_ibbp_cabac.dep.mvc");
  if (base.empty() || dependent.empty()) GTEST_SKIP() << "shared test media mvc/mvc_ibbp_cabac is not present";
  constexpr int kFrames = 4;
  const Piped p = Vspipe({"source=" + base, "dependent=" + dependent, "view=2", "props=" + std::to_string(kFrames)});
  ASSERT_EQ(p.status, 0) << p.err;
  const auto avs = avsplus_host::RunRealHost("Korvala(\"" + base + "\", \"" + dependent + "\", ViewId=2)", "0,1,2,3",
                                             true, {KORVALA_PLUGIN_PATH});
  ASSERT_EQ(avs.exitCode, 0) << avs.error;
  ASSERT_EQ(avs.frames.size(), size_t{kFrames});
  int lines = 0;
  std::istringstream in(p.err);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    int n = -1;
    std::string key, value;
    if (!(fields >> n >> key >> value)) continue;  // vspipe's own lines
    ASSERT_TRUE(n >= 0 && n < kFrames) << line;
    const auto it = avs.frames[n].props.find(key);
    ASSERT_NE(it, avs.frames[n].props.end()) << "only under VapourSynth: " << line;
    const avsplus_host::RealHostProp& a = it->second;
    const std::string expected = a.type == 'i'   ? std::to_string(a.ints.at(0))
                                 : a.type == 's' ? "'" + a.data.at(0) + "'"
                                                 : value;
    EXPECT_EQ(value, expected) << line;
    if (a.type == 'f') {
      EXPECT_EQ(std::stod(value), a.floats.at(0)) << line;
    }
    ++lines;
  }
  size_t keys = 0;
  for (const auto& f : avs.frames) keys += f.props.size();
  EXPECT_EQ(size_t(lines), keys) << p.err;
  EXPECT_NE(p.err.find("0 KorvalaView 0\n"), std::string::npos);
  EXPECT_NE(p.err.find("1 KorvalaView 1\n"), std::string::npos);
}

TEST_F(VapourSynth, AnErrorReachesTheScriptWithTheCoreText) {
  const Piped p = Vspipe({"source=" + BuildDir() + "/no such file.h264"});
  EXPECT_NE(p.status, 0);
  EXPECT_NE(p.err.find("Korvala: Can't open Source File"), std::string::npos) << p.err;
}

}  // namespace
}  // namespace swrt_test
