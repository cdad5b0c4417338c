// korvala-y4m: frames of the Korvala plugin as YUV4MPEG2, without an AviSynth installation.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  y4m::Options options;
  std::string error;
  if (!y4m::ParseOptions(args, options, error)) {
    std::fprintf(stderr, "korvala-y4m: %s\n%s", error.c_str(), y4m::kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(y4m::kUsage, stdout);
    return 0;
  }
  const bool terminal = isatty(STDERR_FILENO) != 0;
  if (options.index) return y4m::IndexInputs(options, stderr, terminal);
  // A closed pipe must end the run with a message, not a silent signal.
  std::signal(SIGPIPE, SIG_IGN);
  int fd = STDOUT_FILENO;
  if (!options.output.empty()) {
    fd = ::open(options.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::fprintf(stderr, "korvala-y4m: can't write %s: %s\n", options.output.c_str(), std::strerror(errno));
      return 1;
    }
  } else if (isatty(STDOUT_FILENO)) {
    std::fprintf(stderr, "korvala-y4m: standard output is a terminal; give -o FILE or redirect it\n");
    return 2;
  }
  int status = y4m::Run(options, y4m::KorvalaFactory(terminal ? stderr : nullptr), fd, stderr, terminal);
  if (fd != STDOUT_FILENO && ::close(fd) != 0 && status == 0) {
    std::fprintf(stderr, "korvala-y4m: can't write %s: %s\n", options.output.c_str(), std::strerror(errno));
    status = 1;
  }
  return status;
}
