// Byte-exact DirectShow and Media Foundation sections, fed from scripted sources.
#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "fake_sources.h"

using namespace tessulor_test;

namespace {

const std::string kFiltersHead = "\nInstalled Media SDK DirectShow filters:\n";
const std::string kTransformsHead = "\nInstalled Intel Media Foundation Transforms:\n";
const wchar_t kDecoderId[] = L"{6A2B0A21-0000-4D8E-A1C3-000000000001}";
const wchar_t kEncoderId[] = L"{6A2B0A21-0000-4D8E-A1C3-000000000002}";

std::wstring ServerKey(const std::wstring& clsid) {
  return L"Software\\Classes\\CLSID\\" + clsid + L"\\InProcServer32";
}

std::string Filters(FakeFilterSource& source) {
  Capture c;
  EXPECT_EQ(0, tessulor::ListDirectShowFilters(source, c.out()));
  return c.Text();
}

std::string Transforms(FakeTransformSource& source) {
  Capture c;
  EXPECT_EQ(0, tessulor::ListMediaFoundationTransforms(source, c.out()));
  return c.Text();
}

tessulor::Guid Id(std::uint32_t n) { return {0xABCD0000u + n, 0x1111, 0x2222, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA}}; }

}  // namespace

TEST(FilterListing, MatchingFiltersWithAndWithoutServerPaths) {
  FakeFilterSource s;
  const std::wstring longName = L"Media SDK " + std::wstring(300, L'L');
  s.filters = {
      {tessulor::kSOk, Str(L"Intel\u00AE Media SDK H.264 Decoder"), tessulor::kSOk, Str(kDecoderId)},
      {tessulor::kSOk, Str(L"Intel\u00AE Media\u00AE Encoder"), tessulor::kSOk, Str(kEncoderId)},  // user-only server
      {tessulor::kSOk, Str(L"Intel(R) Media Decoder"), tessulor::kSOk, Str(L"{1}")},          // spelled out
      {tessulor::kSOk, Str(L"MEDIA SDK Splitter"), tessulor::kSOk, Str(L"{2}")},              // case
      {kFail, Str(L"Media SDK unbound"), tessulor::kSOk, Str(L"{3}")},                        // no property bag
      {tessulor::kSOk, Str(L"Media SDK no clsid"), tessulor::kSOk, Other(), kFail},
      {tessulor::kSOk, Str(L"Media SDK clsid not text"), tessulor::kSOk, Int(4)},
      {tessulor::kSOk, Other(), kFail, Str(L"{5}")},                                          // nameless: no match
      {tessulor::kSOk, Str(L"Media SDK value fails"), tessulor::kSOk, Str(L"{6}")},
      {tessulor::kSOk, Str(L"Media SDK full buffer"), tessulor::kSOk, Str(L"{7}")},
      {tessulor::kSOk, Str(longName), tessulor::kSOk, Str(L"{8}")},
  };
  s.keys[ServerKey(kDecoderId)].value = Utf16Bytes(L"%ProgramFiles%\\Intel\\mfx_h264_dec.dll");
  s.keys[ServerKey(L"{6}")].queryStatus = 234;
  s.keys[ServerKey(L"{7}")].value = Utf16Bytes(std::wstring(1000, L'p'), false);
  const std::string cut = "Media SDK " + std::string(249, 'L');  // 259 units fit the buffer
  EXPECT_EQ(kFiltersHead +
                "  Intel(R) Media SDK H.264 Decoder {6A2B0A21-0000-4D8E-A1C3-000000000001}\n"
                "  Intel(R) Media SDK H.264 Decoder :\n    %ProgramFiles%\\Intel\\mfx_h264_dec.dll\n"
                "  Intel(R) Media\u00AE Encoder {6A2B0A21-0000-4D8E-A1C3-000000000002}\n"
                "  Intel(R) Media\u00AE Encoder\n"
                "  Media SDK value fails {6}\n  Media SDK value fails\n"
                "  Media SDK full buffer {7}\n  Media SDK full buffer :\n    " + std::string(1000, 'p') + "\n" +
                "  " + cut + " {8}\n  " + cut + "\n",
            Filters(s));
  EXPECT_EQ(L"init", s.log.front());
  EXPECT_EQ(L"{083863F1-70DE-11D0-BD40-00A0C911CE86}", s.log[1]);
  EXPECT_EQ(L"uninit", s.log.back());
}

TEST(FilterListing, HeadingAloneWhenNothingCanBeListed) {
  struct Case {
    HResult init, devices, classes;
    bool uninit;
  } cases[] = {
      {kFail, tessulor::kSOk, tessulor::kSOk, false},
      {tessulor::kSOk, kFail, tessulor::kSOk, true},
      {tessulor::kSOk, tessulor::kSOk, tessulor::kSFalse, true},  // empty category
      {tessulor::kSOk, tessulor::kSOk, kFail, true},
  };
  for (const Case& c : cases) {
    FakeFilterSource s;
    s.initStatus = c.init;
    s.deviceEnumStatus = c.devices;
    s.classEnumStatus = c.classes;
    s.filters = {{tessulor::kSOk, Str(L"Media SDK filter"), tessulor::kSOk, Str(L"{1}")}};
    EXPECT_EQ(kFiltersHead, Filters(s));
    EXPECT_EQ(c.uninit, s.log.back() == L"uninit");
  }
  // No filter matches at all.
  FakeFilterSource s;
  s.filters = {{tessulor::kSOk, Str(L"Video Renderer"), tessulor::kSOk, Str(L"{1}")}};
  EXPECT_EQ(kFiltersHead, Filters(s));
}

TEST(TransformListing, CategoriesInOrderWithNameTestAndSkips) {
  FakeTransformSource s;
  s.categories[L"{D6C02D4B-6833-45B4-971A-05A4B04BAB91}"] = {
      tessulor::kSOk,
      {{Id(1), tessulor::kSOk, tessulor::kSOk, L"Intel\u00AE Hardware H265 Decoder\u00AE", tessulor::kSOk},
       {Id(2), tessulor::kSOk, tessulor::kSOk, L"", kFail},  // no friendly name
       {Id(3), kFail, tessulor::kSOk, L"Intel no clsid", tessulor::kSOk},
       {Id(4), tessulor::kSOk, kFail, L"Intel clsid without text", tessulor::kSOk},
       {Id(5), tessulor::kSOk, tessulor::kSOk, L"intel lower", tessulor::kSOk},
       {Id(6), tessulor::kSOk, tessulor::kSOk, L"INTEL upper", tessulor::kSOk},
       {Id(7), tessulor::kSOk, tessulor::kSOk, L"Microsoft Intelligent Decoder", tessulor::kSOk}}};
  s.categories[L"{F79EAC7D-E545-4387-BDEE-D647D7BDE42A}"] = {tessulor::kSOk, {}};
  s.categories[L"{302EA3FC-AA5F-47F9-9F7A-C2188BB16302}"] = {
      tessulor::kSOk, {{Id(1), tessulor::kSOk, tessulor::kSOk, L"Intel\u00AE Hardware H265 Decoder\u00AE", tessulor::kSOk}}};
  EXPECT_EQ(kTransformsHead +
                "\tIntel(R) Hardware H265 Decoder\u00AE : {ABCD0001-1111-2222-3344-5566778899AA}\n"
                "\tMicrosoft Intelligent Decoder : {ABCD0007-1111-2222-3344-5566778899AA}\n"
                "\tIntel(R) Hardware H265 Decoder\u00AE : {ABCD0001-1111-2222-3344-5566778899AA}\n"
                "\n\n",
            Transforms(s));
  const std::vector<std::wstring> expectedLog = {
      L"init", L"enum {D6C02D4B-6833-45B4-971A-05A4B04BAB91}", L"enum {12E17C21-532C-4A6E-8A1C-40825A736397}",
      L"enum {F79EAC7D-E545-4387-BDEE-D647D7BDE42A}", L"enum {302EA3FC-AA5F-47F9-9F7A-C2188BB16302}", L"uninit"};
  EXPECT_EQ(expectedLog, s.log);
}

TEST(TransformListing, FailuresEndTheListingQuietly) {
  FakeTransformSource failedInit;
  failedInit.initStatus = kFail;
  EXPECT_EQ(kTransformsHead + "\n\n", Transforms(failedInit));
  EXPECT_EQ(std::vector<std::wstring>{L"init"}, failedInit.log);

  FakeTransformSource s;
  s.categories[L"{D6C02D4B-6833-45B4-971A-05A4B04BAB91}"] = {
      tessulor::kSOk, {{Id(1), tessulor::kSOk, tessulor::kSOk, L"Intel Decoder", tessulor::kSOk}}};
  s.categories[L"{12E17C21-532C-4A6E-8A1C-40825A736397}"] = {kFail, {}};
  s.categories[L"{302EA3FC-AA5F-47F9-9F7A-C2188BB16302}"] = {
      tessulor::kSOk, {{Id(2), tessulor::kSOk, tessulor::kSOk, L"Intel VPP", tessulor::kSOk}}};
  EXPECT_EQ(kTransformsHead + "\tIntel Decoder : {ABCD0001-1111-2222-3344-5566778899AA}\n\n\n", Transforms(s));
  EXPECT_EQ(4u, s.log.size());  // init, two enumerations, uninit
  EXPECT_EQ(L"uninit", s.log.back());
}
