#include "index_display.h"

#include <cstdio>

namespace y4m {

std::string IndexProgressLine(const std::string& name, uint64_t done, uint64_t total, double seconds) {
  constexpr int kBarWidth = 24;
  constexpr double kMb = 1e6;
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char text[160];
  std::string line = "indexing " + name;
  if (total > 0) {
    if (done > total) done = total;
    const int filled = static_cast<int>(static_cast<double>(done) * kBarWidth / static_cast<double>(total));
    line += " [" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBarWidth - filled), '.') + "]";
    std::snprintf(text, sizeof text, " %3d%%  %.0f of %.0f MB", static_cast<int>(done * 100 / total), done / kMb, total / kMb);
  } else {
    std::snprintf(text, sizeof text, "  %.0f MB", done / kMb);
  }
  line += text;
  if (seconds > 0) {
    std::snprintf(text, sizeof text, ", %.0f MB/s", rate / kMb);
    line += text;
  }
  if (total > 0 && rate > 0) {
    const long left = static_cast<long>(static_cast<double>(total - done) / rate + 0.5);
    std::snprintf(text, sizeof text, ", %ld:%02ld left", left / 60, left % 60);
    line += text;
  }
  return line;
}

}  // namespace y4m
