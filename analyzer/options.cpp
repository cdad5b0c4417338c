#include "options.h"

#include <cwchar>

namespace tessulor {

void ParseCommandLine(int argc, const wchar_t* const* argv, AnalyzerOptions& options, TextOut& out) {
  if (argc < 2) return;
  for (int i = 1; i < argc; ++i) {
    const wchar_t* arg = argv[i];
    if (arg == nullptr) continue;
    if (std::wcscmp(arg, L"-skipAPI") == 0) {
      options.queryApi = false;
    } else if (std::wcscmp(arg, L"-skipPackage") == 0) {
      options.queryPackages = false;
    } else if (std::wcscmp(arg, L"-skipDShow") == 0) {
      options.queryDirectShow = false;
    } else if (std::wcscmp(arg, L"-skipMFT") == 0) {
      options.queryMft = false;
    } else if (std::wcscmp(arg, L"-skipWait") == 0) {
      options.waitForKey = false;
    } else if (std::wcscmp(arg, L"-h") == 0) {
      options.showUsage = true;
    } else {
      out.Print(L"Unknown option!  (-h for usage details)\n\n");
    }
  }
}

void PrintUsage(TextOut& out) {
  out.Print(L"Usage:\n");
  out.Print(L"  -skipAPI     : Skip query for installed Media SDK API support\n");
  out.Print(L"  -skipPackage : Skip query for installed Media SDK packages\n");
  out.Print(L"  -skipDShow   : Skip query for installed DirectShow filters\n");
  out.Print(L"  -skipMFT     : Skip query for installed MFTs\n");
  out.Print(L"  -skipWait    : Do not wait for user key press on analysis completion\n");
  out.Print(L"  -h           : Print usage details\n\n");
}

void PrintTips(bool hwUsable, bool swUsable, TextOut& out) {
  if (hwUsable && swUsable) return;
  out.Print(L"\n\nTips:\n");
  if (!hwUsable) {
    out.Print(L" - HW target does not work: If you expect it should, then make sure to install\n");
    out.Print(L"   latest Intel gfx driver, and that Intel gfx is selected as primary driver.\n");
    out.Print(L" - If Intel driver is associated with secondary adapter, make sure to\n");
    out.Print(L"   initialize DirectX device used with Media SDK with corresponding adapter.\n\n");
  }
  if (!swUsable) {
    out.Print(L" - SW target does not work: make sure Media SDK DLL (e.g. libmfxsw64.dll)\n");
    out.Print(L"   is located in your executable path or in system path.\n");
  }
}

}  // namespace tessulor
