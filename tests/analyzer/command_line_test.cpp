// The real tessulor binary: switches, usage, the wait and the exit status.
#include <gtest/gtest.h>

#include <string>

#include "expected_text.h"
#include "run_tessulor.h"

using tessulor_test::kNotice;
using tessulor_test::kTitle;
using tessulor_test::kUsage;
using tessulor_test::RunTessulor;

namespace {

const std::string kApiHeader = "\nThe following versions of Media SDK API are supported by platform/driver\n";
const std::string kDone = "\nAnalysis complete... [press ENTER]\n";

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(CommandLine, UsageAloneAndWithUnknownArgument) {
  auto run = RunTessulor({"-h"});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(kTitle + kUsage, run.output);
  run = RunTessulor({"-h", "extra"});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(kTitle + kNotice + kUsage, run.output);
}

TEST(CommandLine, OtherCaseAndLookalikesAreNoticedAndIgnored) {
  const auto run = RunTessulor({"-H", "-skipapi", "-help", "--skipAPI", "-skipPackage", "-skipDShow", "-skipMFT", "-skipWait"});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(0u, run.output.find(kTitle + kNotice + kNotice + kNotice + kNotice + kApiHeader));
  EXPECT_NE(std::string::npos, run.output.find("\tVersion\tTarget\tSupported\tDec\tEnc\n\t1.0\tHW\t"));
  EXPECT_EQ(std::string::npos, run.output.find(kDone));
}

TEST(CommandLine, SkipApiLeavesOutTableAndTips) {
  const auto run = RunTessulor({"-skipAPI", "-skipPackage", "-skipWait"});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(0u, run.output.find(kTitle + "\nGraphics Devices:\n"));
  EXPECT_EQ(std::string::npos, run.output.find("Media SDK API"));
  EXPECT_EQ(std::string::npos, run.output.find("Tips:"));
  EXPECT_TRUE(EndsWith(run.output, "\nInstalled Media SDK DirectShow filters:\n"
                                   "\nInstalled Intel Media Foundation Transforms:\n\n\n"));
}

TEST(CommandLine, AllFiveSkipsAndRepeatedSwitch) {
  for (const auto& args : {std::vector<std::string>{"-skipAPI", "-skipPackage", "-skipDShow", "-skipMFT", "-skipWait"},
                           std::vector<std::string>{"-skipWait", "-skipAPI", "-skipPackage", "-skipDShow", "-skipMFT",
                                                    "-skipWait"}}) {
    const auto run = RunTessulor(args);
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ(0u, run.output.find(kTitle + "\nGraphics Devices:\n"));
    EXPECT_EQ(0u, Count(run.output, "Unknown option"));
    EXPECT_NE(std::string::npos, run.output.find("\nSystem info:\n"));
    for (const char* absent : {"Installed", "Analysis complete", "Tips:", "*** Failed"}) {
      EXPECT_EQ(std::string::npos, run.output.find(absent)) << absent;
    }
  }
}

TEST(CommandLine, WaitEndsAtEndOfInputOrEnter) {
  for (const char* input : {static_cast<const char*>(nullptr), "", "\n", "typed ahead\n"}) {
    const auto run = RunTessulor({"-skipAPI", "-skipPackage", "-skipDShow", "-skipMFT"}, input);
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_TRUE(EndsWith(run.output, kDone)) << (input ? input : "/dev/null");
  }
}

TEST(CommandLine, EncodesWideTextEvenUnderPlainCLocale) {
  const auto run = RunTessulor({"-skipAPI", "-skipPackage", "-skipDShow", "-skipMFT", "-skipWait", "-\xC2\xAE"}, nullptr,
                               {"LC_ALL=C", "LANG=C"});
  EXPECT_EQ(0, run.exitStatus);
  EXPECT_EQ(0u, run.output.find(kTitle + kNotice + "\nGraphics Devices:\n"));
}
