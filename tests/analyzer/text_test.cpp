// Wide output on a Linux terminal or pipe, and the text helpers the sources rely on.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "capture.h"
#include "names.h"
#include "text_out.h"

using tessulor_test::Capture;

TEST(TextOut, LocaleFallbackEncodesTheRegisteredSignAsUtf8) {
  // "en-US" is unknown to glibc and "C" can't encode U+00AE: the analyzer must land on UTF-8.
  setenv("LC_ALL", "C", 1);
  const std::string chosen = tessulor::SetAnalyzerLocale();
  EXPECT_EQ("C.UTF-8", chosen);
  Capture c(nullptr);  // keep the locale just chosen
  c.out().Print(L"%ls|%-6ls|%d\n", L"Intel\u00AE", L"ab", 64);
  EXPECT_EQ("Intel\xC2\xAE|ab    |64\n", c.Text());
}

TEST(TextOut, UnencodableCharacterDoesNotCutTheReport) {
  Capture c("C");
  c.out().Print(L"%ls\n", L"Intel\u00AE Media");
  c.out().Print(L"next line\n");
  EXPECT_EQ("Intel? Media\nnext line\n", c.Text());
}

TEST(TextOut, LongLinesArePrintedWhole) {
  Capture c;
  const std::wstring big(5000, L'x');
  c.out().Print(L"[%ls]", big.c_str());
  EXPECT_EQ("[" + std::string(5000, 'x') + "]", c.Text());
}

TEST(Names, Utf8DecodingReplacesBadBytesAndKeepsGoodOnes) {
  EXPECT_EQ(L"Intel\u00AE Media", tessulor::Utf8ToWide("Intel\xC2\xAE Media"));
  EXPECT_EQ(L"a\uFFFDb", tessulor::Utf8ToWide("a\xFF" "b"));
  EXPECT_EQ(L"\uFFFD", tessulor::Utf8ToWide("\xC2"));          // truncated sequence
  EXPECT_EQ(L"\uFFFD\uFFFD", tessulor::Utf8ToWide("\xC0\xAF"));  // overlong
  EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(0x1F600)), tessulor::Utf8ToWide("\xF0\x9F\x98\x80"));
  const char16_t units[] = {u'a', 0xD83D, 0xDE00, 0xDC00, 0, u'z'};
  EXPECT_EQ(std::wstring(L"a") + static_cast<wchar_t>(0x1F600) + L"\uFFFD", tessulor::Utf16ToWide(units, 6));
}
