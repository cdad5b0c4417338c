// Byte-exact output of the report sections and of whole runs, fed from scripted sources.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "capture.h"
#include "driver.h"
#include "expected_text.h"
#include "fake_sources.h"

using namespace tessulor_test;
using tessulor::kSOk;

namespace {

// A device row as the 45/20 columns lay it out (longer values push the rest right).
std::string Row(const std::string& name, const std::string& version, const std::string& state) {
  auto pad = [](const std::string& s, size_t w) { return s.size() >= w ? s : s + std::string(w - s.size(), ' '); };
  return "\t" + pad(name, 45) + pad(version, 20) + state + "\n";
}

const std::string kDevicesHead = "\nGraphics Devices:\n" + Row("Name", "Version", "State");
const std::string kPackagesHead = "\nInstalled Media SDK packages (be patient...processing takes some time):\n";
const std::string kWmiFailure = "\n*** Failed to get system info... is Windows WMI service running?\n";
const std::string kHwTips =
    " - HW target does not work: If you expect it should, then make sure to install\n"
    "   latest Intel gfx driver, and that Intel gfx is selected as primary driver.\n"
    " - If Intel driver is associated with secondary adapter, make sure to\n"
    "   initialize DirectX device used with Media SDK with corresponding adapter.\n\n";
const std::string kSwTips =
    " - SW target does not work: make sure Media SDK DLL (e.g. libmfxsw64.dll)\n"
    "   is located in your executable path or in system path.\n";

std::string Section(tessulor::SystemInfoSource& source, bool packages, int* status = nullptr) {
  Capture c;
  const int s = tessulor::RunSystemReport(packages, source, c.out());
  if (status) *status = s;
  return c.Text();
}

FakeSystemInfo BaselineSystem() {
  FakeSystemInfo s;
  s.queries[L"Win32_VideoController"].objects = {Device(Str(L"Intel(R) UHD Graphics 630"), Str(L"27.20.100.9664"), Int(3))};
  s.queries[L"Win32_Processor"].objects = {Named(Str(L"Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"))};
  s.queries[L"Win32_OperatingSystem"].objects = {
      Os(Str(L"Microsoft Windows 10 Pro|C:\\WINDOWS|\\Device\\Harddisk0\\Partition2"), Str(L"64-bit"))};
  s.queries[L"Win32_Product"].objects = {Named(Str(L"Intel\u00AE Media SDK 2017 R1")), Named(Str(L"Notepad++"))};
  return s;
}

const std::string kBaselineSystem =
    kDevicesHead + Row("Intel(R) UHD Graphics 630", "27.20.100.9664", "Running / Full Power") +
    "\nSystem info:\n\tCPU:\tIntel(R) Core(TM) i7-8700 CPU @ 3.20GHz\n"
    "\tOS:\tMicrosoft Windows 10 Pro\n\tArch:\t64-bit\n";

bool gProbeHw, gProbeSw;
int gProbeRuns;
int FakeProbe(bool& hw, bool& sw, tessulor::TextOut& out) {
  ++gProbeRuns;
  hw = gProbeHw;
  sw = gProbeSw;
  out.Print(L"\n<api table>\n");
  return 0;
}

struct Outcome {
  std::string output;
  std::string unread;  // what the final wait left of the input
};

Outcome RunWhole(std::vector<const wchar_t*> args, FakeSystemInfo system, const std::string& input = "x\n",
             bool hw = false, bool sw = false) {
  gProbeHw = hw;
  gProbeSw = sw;
  gProbeRuns = 0;
  FakeFilterSource filters;
  FakeTransformSource transforms;
  tessulor::AnalyzerPlatform platform{FakeProbe, system, filters, transforms};
  args.insert(args.begin(), L"tessulor");
  std::FILE* in = std::tmpfile();
  // Written past stdio so the stream has no orientation yet, as stdin has at start.
  EXPECT_EQ(static_cast<ssize_t>(input.size()), pwrite(fileno(in), input.data(), input.size(), 0));
  Capture c;
  EXPECT_EQ(0, tessulor::RunAnalyzer(static_cast<int>(args.size()), args.data(), platform, c.out(), in));
  Outcome r{c.Text(), ""};
  for (wint_t ch; (ch = std::fgetwc(in)) != WEOF;) r.unread.push_back(static_cast<char>(ch));
  std::fclose(in);
  return r;
}

}  // namespace

TEST(WholeReport, DefaultRunPrintsEverySectionInOrderAndWaitsForOneCharacter) {
  const Outcome r = RunWhole({}, BaselineSystem());
  EXPECT_EQ(kTitle + "\n<api table>\n" +
                kBaselineSystem + kPackagesHead + "\tIntel(R) Media SDK 2017 R1\n" +
                "\nInstalled Media SDK DirectShow filters:\n"
                "\nInstalled Intel Media Foundation Transforms:\n\n\n"
                "\n\nTips:\n" + kHwTips + kSwTips +
                "\nAnalysis complete... [press ENTER]\n",
            r.output);
  EXPECT_EQ("\n", r.unread);  // exactly one character consumed
}

TEST(WholeReport, SwitchesUsageAndTips) {
  const std::string quiet = kBaselineSystem;  // all five skips leave only this
  struct Case {
    std::vector<const wchar_t*> args;
    bool hw, sw;
    std::string expected;
    int probeRuns;
  } cases[] = {
      {{L"-h"}, false, false, kTitle + kUsage, 0},
      {{L"-x", L"-h", L"/?"}, false, false, kTitle + kNotice + kNotice + kUsage, 0},
      {{L"-skipAPI", L"-skipPackage", L"-skipDShow", L"-skipMFT", L"-skipWait"}, false, false, kTitle + quiet, 0},
      {{L"-skipWait", L"-skipWait", L"-skipAPI", L"-skipPackage", L"-skipMFT", L"-skipDShow"}, true, true,
       kTitle + quiet, 0},
      {{L"-H", L"-skipapi", L"-help", L"--skipAPI", L"-skipPackage", L"-skipDShow", L"-skipMFT", L"-skipWait"},
       true, false, kTitle + kNotice + kNotice + kNotice + kNotice + "\n<api table>\n" + quiet + "\n\nTips:\n" + kSwTips,
       1},
      {{L"-skipPackage", L"-skipDShow", L"-skipMFT", L"-skipWait"}, true, true, kTitle + "\n<api table>\n" + quiet, 1},
      {{L"-skipPackage", L"-skipDShow", L"-skipMFT", L"-skipWait"}, false, true,
       kTitle + "\n<api table>\n" + quiet + "\n\nTips:\n" + kHwTips, 1},
  };
  for (const Case& c : cases) {
    const Outcome r = RunWhole(c.args, BaselineSystem(), "", c.hw, c.sw);
    EXPECT_EQ(c.expected, r.output) << "case " << (&c - cases);
    EXPECT_EQ(c.probeRuns, gProbeRuns) << "case " << (&c - cases);
  }
}

TEST(WholeReport, WaitEndsAtEndOfInputAndDoesNotWaitWhenSkipped) {
  EXPECT_NE(std::string::npos,
            RunWhole({L"-skipAPI"}, BaselineSystem(), "").output.find("\nAnalysis complete... [press ENTER]\n"));
  const Outcome skipped = RunWhole({L"-skipWait"}, BaselineSystem(), "abc");
  EXPECT_EQ(std::string::npos, skipped.output.find("Analysis complete"));
  EXPECT_EQ("abc", skipped.unread);
}

TEST(SystemReport, FailureAtEachStepKeepsWhatWasPrintedAndReleasesOnce) {
  const std::string devices = kDevicesHead + Row("Intel(R) UHD Graphics 630", "27.20.100.9664", "Running / Full Power");
  const std::string cpu = "\nSystem info:\n\tCPU:\tIntel(R) Core(TM) i7-8700 CPU @ 3.20GHz\n";
  const std::string expected[] = {"", "", "", "", "", kDevicesHead, devices + "\nSystem info:\n", devices + cpu,
                                  kBaselineSystem + kPackagesHead};
  for (int step = 1; step <= 9; ++step) {
    FakeSystemInfo s = BaselineSystem();
    if (step <= 5) s.failStep = step;
    const wchar_t* classes[] = {L"Win32_VideoController", L"Win32_Processor", L"Win32_OperatingSystem", L"Win32_Product"};
    if (step >= 6) s.queries[classes[step - 6]].execStatus = kFail;
    int status = -1;
    EXPECT_EQ(expected[step - 1], Section(s, true, &status)) << "step " << step;
    EXPECT_EQ(step, status);
    EXPECT_EQ(step == 1 ? 0 : 1, s.disconnects) << "step " << step;
    EXPECT_EQ(std::min(step, 5), static_cast<int>(std::count_if(s.log.begin(), s.log.end(), [](const std::wstring& l) {
                return l.rfind(L"connect", 0) == 0;
              })));
  }
  // The driver shows one failure line after what the report printed.
  FakeSystemInfo s = BaselineSystem();
  s.queries[L"Win32_Processor"].execStatus = kFail;
  EXPECT_EQ("Orvanta 2017 - Tessulor (64-bit)\n\n" + devices + "\nSystem info:\n" + kWmiFailure,
            RunWhole({L"-skipAPI", L"-skipDShow", L"-skipMFT", L"-skipWait"}, s).output);
}

TEST(SystemReport, DeviceRowsStatesAndSkips) {
  const std::wstring longName(50, L'N');
  FakeSystemInfo s;
  s.queries[L"Win32_VideoController"].objects = {
      Device(Str(L"zero"), Str(L"1.0"), Int(0)),
      Device(Str(L"running"), Str(L"2.0"), Int(3)),
      Device(Str(L"no string version"), Int(42), Int(3)),
      Device(Str(L"twenty-two"), Str(L"3.0"), Int(22)),
      Device(Str(L"negative"), Str(L"4.0"), Int(-3)),
      Device(Str(L"low bits select"), Str(L"5.0"), Int(0x10000 + 15)),
      Device(Str(L"null availability"), Str(L"6.0"), Other()),
      Device(Int(7), Str(L"7.0"), Int(3)),
      Device(Str(longName), Str(L"8.0.0.0.0.0.0.0.0.0.0.1"), Int(21)),
      Device(Str(L"failed read ends list"), Str(L"9.0"), Int(3), kFail),
      Device(Str(L"never reached"), Str(L"10.0"), Int(3)),
  };
  s.queries[L"Win32_Processor"].objects = {Named(Str(L"cpu"))};
  EXPECT_EQ(kDevicesHead + Row("zero", "1.0", " ") + Row("running", "2.0", "Running / Full Power") +
                Row("twenty-two", "3.0", " ") + Row("negative", "4.0", " ") +
                Row("low bits select", "5.0", "Power Save - Standby") + Row("null availability", "6.0", " ") +
                "\t" + std::string(50, 'N') + "8.0.0.0.0.0.0.0.0.0.0.1Quiesced\n" +
                "\nSystem info:\n\tCPU:\tcpu\n",
            Section(s, false));
}

TEST(SystemReport, LoopStopsOnAnyStatusButOk) {
  FakeSystemInfo s;
  auto& cpus = s.queries[L"Win32_Processor"].objects;
  cpus = {Named(Str(L"first")), Named(Int(1)), Named(Str(L"second")), Named(Str(L"warned"), 0x40000),
          Named(Str(L"never"))};
  s.queries[L"Win32_OperatingSystem"].objects = {Os(Str(L"os1"), Str(L"a1")), Os(Str(L"os2"), Str(L"a2"))};
  s.queries[L"Win32_OperatingSystem"].objects[1].nextStatus = kFail;  // handed out with a failure
  EXPECT_EQ(kDevicesHead + "\nSystem info:\n\tCPU:\tfirst\n\tCPU:\tsecond\n\tCPU:\twarned\n\tOS:\tos1\n\tArch:\ta1\n",
            Section(s, false));
}

TEST(SystemReport, OsNameCutAndPackageNameTests) {
  FakeSystemInfo s;
  s.queries[L"Win32_OperatingSystem"].objects = {
      Os(Str(L"Caption|C:\\WINDOWS|\\Device\\Harddisk0\\Partition2"), Str(L"64-bit")),
      Os(Str(L"No bar at all"), Str(L"32-bit")),
      Os(Str(L"|starts with bar"), Str(L"64-bit")),
      Os(Str(L"arch not a string"), Int(64)),
      Os(Int(1), Str(L"name not a string")),
  };
  s.queries[L"Win32_Product"].objects = {
      Named(Str(L"Intel\u00AE Media SDK 2017 R1")),      // sign becomes (R)
      Named(Str(L"Intel\u00AE Media Server Studio")),    // passes through the sign
      Named(Str(L"Intel(R) Media Decoder")),             // spelled out: no
      Named(Str(L"Intel(R) Media SDK Tools")),           // spelled out, but Media SDK
      Named(Str(L"intel media sdk")),                    // case
      Named(Str(L"MEDIA SDK runtime")),                  // case
      Named(Str(L"Intel\u00AEMedia")),                   // no space after the sign
      Named(Str(L"Intel\u00AE Media\u00AE SDK")),        // only the first sign changes
      Named(Int(5)),
      Named(Str(L"Media SDK last")),
  };
  int status = -1;
  EXPECT_EQ(kDevicesHead + "\nSystem info:\n"
                           "\tOS:\tCaption\n\tArch:\t64-bit\n"
                           "\tOS:\tNo bar at all\n\tArch:\t32-bit\n"
                           "\tOS:\t\n\tArch:\t64-bit\n" +
                kPackagesHead +
                "\tIntel(R) Media SDK 2017 R1\n\tIntel(R) Media Server Studio\n\tIntel(R) Media SDK Tools\n"
                "\tIntel(R) Media\u00AE SDK\n\tMedia SDK last\n",
            Section(s, true, &status));
  EXPECT_EQ(0, status);
  // Switch off: no heading and no product query.
  s.log.clear();
  EXPECT_EQ(std::string::npos, Section(s, false, &status).find("packages"));
  EXPECT_EQ(0, status);
  EXPECT_EQ(s.log.end(), std::find(s.log.begin(), s.log.end(), L"query Win32_Product"));
}
