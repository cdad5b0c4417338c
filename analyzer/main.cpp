// Tessulor: tells whether this machine can decode through the Media SDK.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "api_probe.h"
#include "driver.h"
#include "names.h"
#include "text_out.h"

#ifdef _WIN32
#include "sources/windows/windows_sources.h"

int wmain(int argc, wchar_t** argv) {
  tessulor::SetAnalyzerLocale();
  tessulor::WmiSystemInfoSource system;
  tessulor::DirectShowFilterSource filters;
  tessulor::MediaFoundationTransformSource transforms;
  tessulor::AnalyzerPlatform platform{tessulor::ProbeApiSupport, system, filters, transforms};
  tessulor::RunAnalyzer(argc, argv, platform, tessulor::StandardOutput(), stdin);
  return 0;
}
#else
#include "sources/linux/linux_sources.h"

namespace {
// Arguments arrive in the locale's multibyte encoding; bytes it can't decode are kept as
// replacement characters (such an argument matches no switch anyway).
std::wstring DecodeArgument(const char* arg) {
  std::mbstate_t state{};
  const char* src = arg;
  const size_t n = std::mbsrtowcs(nullptr, &src, 0, &state);
  if (n == static_cast<size_t>(-1)) return tessulor::Utf8ToWide(arg);
  std::wstring wide(n, L'\0');
  state = std::mbstate_t{};
  src = arg;
  std::mbsrtowcs(&wide[0], &src, n, &state);
  return wide;
}

}  // namespace

int main(int argc, char** argv) {
  tessulor::SetAnalyzerLocale();

  std::vector<std::wstring> wideArgs;
  for (int i = 0; i < argc; ++i) wideArgs.push_back(DecodeArgument(argv[i]));
  std::vector<const wchar_t*> wideArgv;
  for (const auto& a : wideArgs) wideArgv.push_back(a.c_str());
  wideArgv.push_back(nullptr);

  tessulor::LinuxSystemInfoSource system({});
  tessulor::LinuxFilterSource filters;
  tessulor::LinuxTransformSource transforms;
  tessulor::AnalyzerPlatform platform{tessulor::ProbeApiSupport, system, filters, transforms};
  tessulor::RunAnalyzer(argc, wideArgv.data(), platform, tessulor::StandardOutput(), stdin);
  return 0;
}
#endif
