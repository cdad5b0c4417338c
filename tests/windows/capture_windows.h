// Collects what a TextOut writes under Windows: through a text-mode file, as a console or pipe
// gets it, with the line ends turned back into "\n".
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "text_out.h"

namespace korvala_wine_test {

inline std::string TempFilePath(const char* prefix) {
  char folder[MAX_PATH];
  char path[MAX_PATH];
  if (GetTempPathA(sizeof folder, folder) == 0 || GetTempFileNameA(folder, prefix, 0, path) == 0) return "";
  return path;
}

class WindowsCapture {
 public:
  WindowsCapture() : path_(TempFilePath("cap")), file_(std::fopen(path_.c_str(), "w")), out_(file_) {}
  ~WindowsCapture() {
    if (file_) std::fclose(file_);
    DeleteFileA(path_.c_str());
  }
  WindowsCapture(const WindowsCapture&) = delete;
  WindowsCapture& operator=(const WindowsCapture&) = delete;

  bool ok() const { return file_ != nullptr; }
  tessulor::TextOut& out() { return out_; }

  std::string Text() {
    std::fflush(file_);
    std::string text;
    if (std::FILE* in = std::fopen(path_.c_str(), "rb")) {
      char buffer[4096];
      size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
      std::fclose(in);
    }
    std::string lf;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      lf += text[i];
    }
    return lf;
  }

 private:
  std::string path_;
  std::FILE* file_;
  tessulor::TextOut out_;
};

// Narrow text of a wide string that holds only ASCII (what the tests compare).
inline std::string Ascii(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace korvala_wine_test
