#include "text_out.h"

#include <clocale>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <climits>
#include <vector>

namespace tessulor {

TextOut::TextOut(std::FILE* stream) : stream_(stream) {}

void TextOut::Print(const wchar_t* format, ...) {
  std::vector<wchar_t> buffer(512);
  for (;;) {
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (n >= 0) {
      Write(std::wstring(buffer.data(), static_cast<size_t>(n)));
      return;
    }
    // vswprintf reports a short buffer and an encoding error alike; grow up to a sane limit
    // and then give up on the line rather than loop forever.
    if (buffer.size() >= (1u << 22)) return;
    buffer.resize(buffer.size() * 4);
  }
}

// A character the locale can't encode would make the wide stream fail and drop the rest of
// the report; it is shown as '?' instead.
void TextOut::Write(const std::wstring& text) {
  char probe[MB_LEN_MAX];
  for (wchar_t c : text) {
    std::mbstate_t state{};
    if (std::wcrtomb(probe, c, &state) == static_cast<size_t>(-1)) c = L'?';
    if (std::fputwc(c, stream_) == WEOF) {
      std::clearerr(stream_);
      return;
    }
  }
}

void TextOut::Flush() { std::fflush(stream_); }

TextOut& StandardOutput() {
  static TextOut out = [] {
    std::fwide(stdout, 1);
    return TextOut(stdout);
  }();
  return out;
}

std::string SetAnalyzerLocale() {
  const char* chosen = std::setlocale(LC_ALL, "en-US");
  if (chosen == nullptr) chosen = std::setlocale(LC_ALL, "");
  if (chosen == nullptr || std::strcmp(chosen, "C") == 0 || std::strcmp(chosen, "POSIX") == 0) {
    const char* utf8 = std::setlocale(LC_ALL, "C.UTF-8");
    if (utf8 != nullptr) chosen = utf8;
  }
  if (chosen == nullptr) chosen = std::setlocale(LC_ALL, nullptr);
  return chosen != nullptr ? chosen : "";
}

}  // namespace tessulor
