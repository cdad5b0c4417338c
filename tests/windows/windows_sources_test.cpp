// The Windows sources of Tessulor against what Wine's WMI, DirectShow enumerator and Media
// Foundation really answer, in a prefix that register_test_components prepared.
#include <windows.h>
#include <mfapi.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "capture_windows.h"
#include "names.h"
#include "sources/windows/com_helpers.h"
#include "sources/windows/windows_sources.h"
#include "test_registrations.h"

namespace korvala_wine_test {
namespace {

using tessulor::ConnectionStep;
using tessulor::PropertyValue;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Every object of a query, each as the values of the given properties.
std::vector<std::vector<PropertyValue>> QueryAll(tessulor::SystemInfoSource& source, const std::wstring& wql,
                                                 const std::vector<std::wstring>& properties) {
  std::vector<std::vector<PropertyValue>> rows;
  std::unique_ptr<tessulor::SystemObjectEnumerator> results;
  EXPECT_GE(source.ExecQuery(wql, results), 0) << Ascii(wql);
  if (!results) return rows;
  std::unique_ptr<tessulor::SystemObject> object;
  while (results->Next(object) == tessulor::kSOk && object) {
    std::vector<PropertyValue> row;
    for (const auto& p : properties) {
      PropertyValue v;
      object->Get(p, v);
      row.push_back(v);
    }
    rows.push_back(row);
  }
  return rows;
}

bool ConnectAll(tessulor::WmiSystemInfoSource& source) {
  for (ConnectionStep step : {ConnectionStep::kInitializeCom, ConnectionStep::kInitializeSecurity,
                              ConnectionStep::kCreateLocator, ConnectionStep::kConnectServer,
                              ConnectionStep::kSetProxyBlanket}) {
    const tessulor::HResult hr = source.Connect(step);
    if (hr < 0) {
      ADD_FAILURE() << "connection step " << static_cast<int>(step) << " failed: " << std::hex << hr;
      return false;
    }
  }
  return true;
}

// The raw values come through a connection of their own, ended before the report makes its.
// Wine's COM lets a process set its security again; on Windows the second call would fail.
TEST(WmiReport, PrintsWhatWineAnswersInTheReportsFormat) {
  std::vector<std::vector<PropertyValue>> devices, processors, systems, products;
  {
    tessulor::WmiSystemInfoSource raw;
    ASSERT_TRUE(ConnectAll(raw));
    devices = QueryAll(raw, L"SELECT * FROM Win32_VideoController", {L"Name", L"DriverVersion", L"Availability"});
    processors = QueryAll(raw, L"SELECT * FROM Win32_Processor", {L"Name"});
    systems = QueryAll(raw, L"SELECT * FROM Win32_OperatingSystem", {L"Name", L"OSArchitecture"});
    products = QueryAll(raw, L"SELECT * FROM Win32_Product", {L"Name"});
    raw.Disconnect();
  }
  ASSERT_FALSE(devices.empty());
  ASSERT_FALSE(processors.empty());
  ASSERT_EQ(systems.size(), 1u);
  ASSERT_TRUE(systems[0][0].IsString());
  // Wine's name carries further fields after a '|', which the report must cut.
  EXPECT_NE(systems[0][0].text.find(L'|'), std::wstring::npos) << Ascii(systems[0][0].text);

  tessulor::WmiSystemInfoSource source;
  WindowsCapture capture;
  ASSERT_TRUE(capture.ok());
  EXPECT_EQ(tessulor::RunSystemReport(true, source, capture.out()), tessulor::kSystemReportOk);

  std::vector<std::string> expected = {"", "Graphics Devices:", "\t" + Padded("Name", 45) + Padded("Version", 20) + "State"};
  for (const auto& d : devices) {
    if (!d[0].IsString() || !d[1].IsString()) continue;
    const std::string state = d[2].IsInteger() ? Ascii(tessulor::AvailabilityText(d[2].number)) : " ";
    expected.push_back("\t" + Padded(Ascii(d[0].text), 45) + Padded(Ascii(d[1].text), 20) + state);
  }
  expected.insert(expected.end(), {"", "System info:"});
  for (const auto& p : processors) expected.push_back("\tCPU:\t" + Ascii(p[0].text));
  expected.push_back("\tOS:\t" + Ascii(tessulor::OsCaption(systems[0][0].text)));
  expected.push_back("\tArch:\t" + Ascii(systems[0][1].text));
  expected.insert(expected.end(), {"", "Installed Media SDK packages (be patient...processing takes some time):"});
  for (const auto& p : products) {
    if (p[0].IsString() && tessulor::IsMediaSdkName(p[0].text)) {
      expected.push_back("\t" + Ascii(tessulor::ReplaceRegisteredSign(p[0].text)));
    }
  }
  EXPECT_EQ(Lines(capture.Text()), expected);
  EXPECT_TRUE(products.empty()) << "Wine has no Win32_Product rows; now it has " << products.size();
  EXPECT_NE(expected[3], "") << "no device row under the titles";
}

TEST(WmiReport, WithoutPackagesEndsAfterTheOperatingSystem) {
  tessulor::WmiSystemInfoSource source;
  WindowsCapture capture;
  EXPECT_EQ(tessulor::RunSystemReport(false, source, capture.out()), tessulor::kSystemReportOk);
  const std::vector<std::string> lines = Lines(capture.Text());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "\tArch:\t64-bit");
}

TEST(DirectShowSource, WalksWinesFiltersAndReadsTheRegisteredIdentity) {
  tessulor::DirectShowFilterSource source;
  ASSERT_GE(source.Initialize(), 0);
  {
    std::unique_ptr<tessulor::FilterDeviceEnumerator> devices;
    ASSERT_GE(source.CreateDeviceEnumerator(devices), 0);
    std::unique_ptr<tessulor::FilterMonikerEnumerator> filters;
    ASSERT_EQ(devices->CreateClassEnumerator(tessulor::kLegacyAmFilterCategory, filters), tessulor::kSOk);
    ASSERT_GE(filters->Reset(), 0);
    int count = 0;
    int ours = 0;
    std::unique_ptr<tessulor::FilterMoniker> moniker;
    while (filters->Next(moniker) == tessulor::kSOk) {
      ++count;
      wchar_t name[tessulor::kFilterTextUnits];
      wchar_t clsid[tessulor::kFilterTextUnits];
      if (tessulor::ReadFilterIdentity(*moniker, name, clsid) < 0) continue;
      for (const auto& f : kTestFilters) {
        if (std::wstring(clsid) == f.clsid) {
          ++ours;
          EXPECT_EQ(std::wstring(name), f.friendlyName);  // the registered sign arrives intact
        }
      }
    }
    EXPECT_GT(count, 10) << "Wine registers about 20 filters of its own";
    EXPECT_EQ(ours, 4);
  }
  source.Uninitialize();
}

TEST(DirectShowSource, ListsTheMediaSdkFiltersWithTheirServers) {
  tessulor::DirectShowFilterSource source;
  WindowsCapture capture;
  EXPECT_EQ(tessulor::ListDirectShowFilters(source, capture.out()), 0);
  const std::string text = capture.Text();
  EXPECT_EQ(text.find("\nInstalled Media SDK DirectShow filters:\n"), 0u);

  size_t expectedLines = 2;  // the empty line and the heading
  for (const auto& f : kTestFilters) {
    const std::string clsid = Ascii(f.clsid);
    if (!f.listedName) {
      EXPECT_EQ(text.find(clsid), std::string::npos) << Ascii(f.friendlyName) << " must not be listed";
      continue;
    }
    const std::string name = Ascii(f.listedName);
    std::string block = "  " + name + " " + clsid + "\n  " + name;
    block += f.server ? " :\n    " + Ascii(f.server) + "\n" : "\n";
    EXPECT_NE(text.find(block), std::string::npos) << "missing:\n" << block << "in:\n" << text;
    expectedLines += f.server ? 3 : 2;
  }
  EXPECT_EQ(Lines(text).size(), expectedLines) << text;
}

TEST(MediaFoundationSource, EnumeratesTheRegisteredTransforms) {
  tessulor::MediaFoundationTransformSource source;
  ASSERT_GE(source.Initialize(), 0);
  {
    const tessulor::Guid decoder = tessulor::FromGuid(kTestDecoderClsid);
    int seen = 0;
    for (const auto& category : {tessulor::kMftCategoryVideoDecoder, tessulor::kMftCategoryVideoProcessor}) {
      std::vector<std::unique_ptr<tessulor::TransformActivation>> activations;
      ASSERT_GE(source.Enumerate(category, activations), 0);
      for (auto& a : activations) {
        tessulor::Guid clsid{};
        if (a->GetClsid(clsid) < 0 || clsid != decoder) continue;
        ++seen;
        std::wstring name;
        // Wine 8 keeps no friendly name; a Windows that does must give the registered one.
        if (a->GetFriendlyName(name) >= 0) {
          EXPECT_EQ(name, L"Intel\u00AE Korvala test decoder");
        }
      }
    }
    EXPECT_EQ(seen, 2) << "the decoder is registered as a decoder and as a video processor";

    std::wstring text;
    ASSERT_GE(source.StringFromIid(decoder, text), 0);
    EXPECT_EQ(text, L"{6B1D7A10-31C4-4E2B-9B6A-0A1C5E000011}");
    EXPECT_EQ(text, tessulor::FormatGuid(decoder));
  }
  source.Uninitialize();
}

TEST(MediaFoundationSource, ListingShowsOnlyNamedIntelTransforms) {
  tessulor::MediaFoundationTransformSource source;
  WindowsCapture capture;
  EXPECT_EQ(tessulor::ListMediaFoundationTransforms(source, capture.out()), 0);
  const std::string text = capture.Text();
  const std::string heading = "\nInstalled Intel Media Foundation Transforms:\n";
  ASSERT_EQ(text.find(heading), 0u) << text;
  ASSERT_GE(text.size(), heading.size() + 2);
  EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
  // Whatever is listed between is a transform line with "Intel" in its name.
  for (const std::string& line : Lines(text.substr(heading.size(), text.size() - heading.size() - 2))) {
    EXPECT_EQ(line[0], '\t') << line;
    EXPECT_NE(line.find("Intel"), std::string::npos) << line;
    EXPECT_EQ(line.find("Korvala test effect"), std::string::npos);
  }
}

}  // namespace
}  // namespace korvala_wine_test
