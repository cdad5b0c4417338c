// The one place where report text is formatted and written.
//
// Every format string of the analyzer goes through Print: wide templates whose string
// conversions are %ls (glibc's wide printf takes %s as a narrow string, and %ls is the
// portable spelling of a wide one everywhere).
#pragma once

#include <cstdio>
#include <string>

#ifdef _WIN32
// <windows.h> maps TextOut to GDI's TextOutW; taking it first and dropping the macro keeps this
// class's name in every file, whatever it includes later.
#include <windows.h>
#undef TextOut
#endif

namespace tessulor {

class TextOut {
 public:
  explicit TextOut(std::FILE* stream);

  void Print(const wchar_t* format, ...);
  void Flush();
  std::FILE* stream() const { return stream_; }

 private:
  void Write(const std::wstring& text);

  std::FILE* stream_;
};

// Standard output, put into wide orientation on first use.
TextOut& StandardOutput();

// Selects the locale the analyzer prints in: "en-US" where the C library knows it, else the
// environment's locale, and "C.UTF-8" when that is only "C"/"POSIX" (which can't encode U+00AE).
// Returns the name of the locale that is in force afterwards.
std::string SetAnalyzerLocale();

}  // namespace tessulor
