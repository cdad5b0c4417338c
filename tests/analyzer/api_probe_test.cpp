// The API probe through the real dispatcher, with the scriptable test runtime behind it.
#include <gtest/gtest.h>

#include <string>

#include "api_probe.h"
#include "capture.h"
#include "run_tessulor.h"
#include "test_runtime_control.h"

namespace {

const std::string kTableHead =
    "\nThe following versions of Media SDK API are supported by platform/driver\n"
    "[opportunistic detection of MSDK API > 1.20]:\n\n"
    "\tVersion\tTarget\tSupported\tDec\tEnc\n";
const std::string kTipsHw = " - HW target does not work";
const std::string kTipsSw = " - SW target does not work";

struct Answer {
  int upTo;          // highest minor that opens, -1 for none
  const char* dec;   // marks when it opens
  const char* enc;
  std::string note;  // annotation when it opens
};

std::string Row(int minor, const char* target, const Answer& a) {
  const bool yes = minor <= a.upTo && (*a.dec == 'X' || *a.enc == 'X');
  return "\t1." + std::to_string(minor) + "\t" + target + "\t" + (yes ? "Yes" : "No") + "\t\t" +
         (yes ? a.dec : " ") + "\t" + (yes ? a.enc : " ") + (yes ? a.note : "") + "\n";
}

// The table the probe should print for these two targets.
std::string Expected(const Answer& hw, const Answer& sw) {
  std::string t = kTableHead;
  for (int minor = 0;; ++minor) {
    const bool hwOpen = minor <= hw.upTo, swOpen = minor <= sw.upTo;
    if (minor > 20 && !hwOpen && !swOpen) break;
    if (minor <= 20 || hwOpen) t += Row(minor, "HW", hw);
    if (minor <= 20 || hwOpen || swOpen) t += Row(minor, "SW", sw);
  }
  return t;
}

struct ProbeRun {
  std::string table;
  bool hwTips, swTips;
};

ProbeRun Probe(const std::string& settings) {
  const auto run = tessulor_test::RunTessulor({"-skipWait", "-skipPackage", "-skipDShow", "-skipMFT"}, nullptr,
                                              mfxtest::ChildEnvironment(settings));
  EXPECT_EQ(0, run.exitStatus) << settings;
  const size_t begin = run.output.find(kTableHead);
  const size_t end = run.output.find("\nGraphics Devices:\n");
  EXPECT_NE(std::string::npos, begin) << run.output;
  EXPECT_NE(std::string::npos, end) << run.output;
  if (begin == std::string::npos || end == std::string::npos) return {};
  return {run.output.substr(begin, end - begin), run.output.find(kTipsHw) != std::string::npos,
          run.output.find(kTipsSw) != std::string::npos};
}

const Answer kNone{-1, " ", " ", ""};

}  // namespace

TEST(ApiProbe, TablesForEachKindOfRuntime) {
  struct Case {
    const char* settings;
    Answer hw, sw;
    bool hwTips, swTips;
  } cases[] = {
      {"hw=none;sw=none", kNone, kNone, true, true},
      {"sw=25", kNone, {25, "X", "X", ""}, true, false},
      {"hw=23", {23, "X", "X", ""}, kNone, false, true},
      {"hw=22;adapter=2;via=d3d11", {22, "X", "X", "\t[Adapter 1 (via DX11)]"}, kNone, false, true},
      {"hw=20;adapter=4", {20, "X", "X", "\t[Adapter 3]"}, kNone, false, true},
      {"hw=19;adapter=1;via=d3d11", {19, "X", "X", ""}, kNone, false, true},  // first adapter: no note
      {"hw=20;sw=21;decquery=-3;encquery=-3", {20, " ", " ", ""}, {21, " ", " ", ""}, false, false},
      {"sw=20;encquery=-3", kNone, {20, "X", " ", ""}, true, false},
      {"sw=20;decquery=4", kNone, {20, " ", "X", ""}, true, false},  // a warning is no acceptance
  };
  for (const Case& c : cases) {
    const ProbeRun r = Probe(c.settings);
    EXPECT_EQ(Expected(c.hw, c.sw), r.table) << c.settings;
    EXPECT_EQ(c.hwTips, r.hwTips) << c.settings;
    EXPECT_EQ(c.swTips, r.swTips) << c.settings;
  }
}

TEST(ApiProbe, CallsAndResultsInProcess) {
  mfxtest::Control& rt = mfxtest::Load();
  std::string error;
  ASSERT_TRUE(rt.PlaySettings("hw=21;adapter=2;via=d3d11;sw=none", &error)) << error;
  tessulor_test::Capture c;
  bool hw = false, sw = true;
  EXPECT_EQ(0, tessulor::ProbeApiSupport(hw, sw, c.out()));
  EXPECT_TRUE(hw);
  EXPECT_FALSE(sw);
  EXPECT_EQ(0u, rt.OpenSessions());

  // Version 1.0 as the runtime saw it: the default hardware attempt refused, the D3D11 one
  // opened (the dispatcher asks version and implementation itself), the probe's QueryIMPL and
  // both queries, the components closed before the session, then the software attempt.
  const std::vector<std::string> firstVersion = {
      "MFXInitEx", "MFXClose", "MFXInitEx", "MFXQueryVersion", "MFXQueryIMPL", "MFXQueryIMPL",
      "MFXVideoDECODE_Query", "MFXVideoENCODE_Query", "MFXVideoDECODE_Close", "MFXVideoENCODE_Close",
      "MFXClose", "MFXInitEx", "MFXClose"};
  const std::vector<mfxtest::Call> calls = rt.Calls();
  ASSERT_GT(calls.size(), firstVersion.size());
  for (size_t i = 0; i < firstVersion.size(); ++i) EXPECT_EQ(firstVersion[i], calls[i].function) << i;
  EXPECT_EQ(static_cast<mfxIMPL>(MFX_IMPL_HARDWARE_ANY), calls[0].impl);
  EXPECT_EQ(static_cast<mfxIMPL>(MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11), calls[2].impl);
  EXPECT_EQ(static_cast<mfxIMPL>(MFX_IMPL_SOFTWARE), calls[11].impl);
  EXPECT_EQ(static_cast<mfxU32>(MFX_CODEC_AVC), calls[6].codecId);
  EXPECT_EQ(static_cast<mfxU32>(MFX_CODEC_AVC), calls[7].codecId);

  int opened = 0, lastMinor = -1;
  for (const mfxtest::Call& call : calls) {
    if (call.function == "MFXInitEx") lastMinor = call.minor;
    if (call.function == "MFXInitEx" && call.status == MFX_ERR_NONE) ++opened;
  }
  EXPECT_EQ(22, opened);     // 1.0 .. 1.21 on hardware
  EXPECT_EQ(22, lastMinor);  // 1.22 was the last version tried
  EXPECT_TRUE(rt.Violations().empty());
}

TEST(ApiProbe, RuntimeAcceptingEveryVersionStopsAtTheTopOfTheCounter) {
  mfxtest::Control& rt = mfxtest::Load();
  std::string error;
  ASSERT_TRUE(rt.PlaySettings("sw=65535", &error)) << error;
  tessulor_test::Capture c;
  bool hw = true, sw = false;
  tessulor::ProbeApiSupport(hw, sw, c.out());
  const std::string text = c.Text();
  EXPECT_FALSE(hw);
  EXPECT_TRUE(sw);
  const std::string last = "\t1.65535\tSW\tYes\t\tX\tX\n";
  ASSERT_GE(text.size(), last.size());
  EXPECT_EQ(last, text.substr(text.size() - last.size()));
}
