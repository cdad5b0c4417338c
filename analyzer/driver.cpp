#include "driver.h"

#include <climits>
#include <cwchar>

#include "options.h"

namespace tessulor {

const wchar_t kTitle[] = L"Orvanta 2017 - Tessulor";

int RunAnalyzer(int argc, const wchar_t* const* argv, AnalyzerPlatform& platform, TextOut& out,
                std::FILE* input) {
  AnalyzerOptions options;
  out.Print(L"%ls (%d-bit)\n\n", kTitle, static_cast<int>(sizeof(void*) * CHAR_BIT));
  ParseCommandLine(argc, argv, options, out);
  if (options.showUsage) {
    PrintUsage(out);
    out.Flush();
    return 0;
  }

  bool hwUsable = false;
  bool swUsable = false;
  if (options.queryApi) platform.probe(hwUsable, swUsable, out);

  if (RunSystemReport(options.queryPackages, platform.system, out) > kSystemReportOk) {
    out.Print(L"\n*** Failed to get system info... is Windows WMI service running?\n");
  }
  if (options.queryDirectShow) ListDirectShowFilters(platform.filters, out);
  if (options.queryMft) ListMediaFoundationTransforms(platform.transforms, out);
  if (options.queryApi) PrintTips(hwUsable, swUsable, out);

  if (options.waitForKey) {
    out.Print(L"\nAnalysis complete... [press ENTER]\n");
    out.Flush();
    std::fgetwc(input);
  }
  out.Flush();
  return 0;
}

}  // namespace tessulor
