// Collects what a TextOut writes, as the bytes a terminal or pipe would get (UTF-8).
#pragma once

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "text_out.h"

namespace tessulor_test {

class Capture {
 public:
  explicit Capture(const char* locale = "C.UTF-8") : file_(std::tmpfile()), out_(file_) {
    std::setlocale(LC_ALL, locale);
  }
  ~Capture() { std::fclose(file_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  tessulor::TextOut& out() { return out_; }

  // Everything written so far. Read through the descriptor: the stream itself is wide.
  std::string Text() {
    std::fflush(file_);
    const int fd = fileno(file_);
    std::string text;
    char buffer[4096];
    off_t at = 0;
    for (;;) {
      const ssize_t n = pread(fd, buffer, sizeof(buffer), at);
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
      at += n;
    }
    return text;
  }

 private:
  std::FILE* file_;
  tessulor::TextOut out_;
};

}  // namespace tessulor_test
