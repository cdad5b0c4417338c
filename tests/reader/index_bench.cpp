// The index's scan of a long stereo pair: the 1080p pair looped to 48,000 access units (about
// two thirds of a two-hour film), read from the page cache. Prints the scan rate in GB/s and
// the memory the index holds and the process's peak grew by.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "index_scan.h"

namespace {

constexpr int kLoops = 1000;  // 48 units each

bool Read(const std::string& path, std::vector<char>& out) {
  std::ifstream in(path, std::ios::binary);
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.good() || in.eof();
}

std::string Looped(const std::string& name, uint64_t& bytes) {
  std::vector<char> one;
  if (!Read(std::string(KORVALA_SHARED_DIR) + "/media/mvc/" + name, one) || one.empty()) return "";
  const std::string path = std::string(KORVALA_BINARY_DIR) + "/bench_index_" + name;
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < kLoops; ++i) out.write(one.data(), static_cast<std::streamsize>(one.size()));
  bytes += uint64_t{one.size()} * kLoops;
  return out ? path : "";
}

long PeakKilobytes() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_maxrss;
}

}  // namespace

int main() {
  uint64_t bytes = 0;
  const std::string base = Looped("mvc_1080p.base.h264", bytes), dependent = Looped("mvc_1080p.dep.mvc", bytes);
  if (base.empty() || dependent.empty()) {
    std::fprintf(stderr, "../shared/media/mvc/mvc_1080p is not present: nothing to measure\n");
    return 0;
  }
  for (const std::string& path : {base, dependent}) {  // into the page cache, a block at a time
    std::vector<char> block(1 << 20);
    std::ifstream in(path, std::ios::binary);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
  }
  double best = 1e9;
  size_t units = 0, memory = 0;
  long grown = 0;
  for (int round = 0; round < 3; ++round) {
    const long before = PeakKilobytes();
    const auto start = std::chrono::steady_clock::now();
    korvala::UnitIndex index(true);
    korvala::FileScan b(korvala::FilePtr(std::fopen(base.c_str(), "rb")));
    korvala::FileScan d(korvala::FilePtr(std::fopen(dependent.c_str(), "rb")));
    korvala::ScanToEnd(index, b, &d);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    units = index.KnownUnits();
    memory = index.MemoryBytes();
    if (round == 0) grown = PeakKilobytes() - before;
  }
  std::remove(base.c_str());
  std::remove(dependent.c_str());
  std::printf("index of the 1080p pair looped %d times: %zu access units, %.2f GB, best of 3\n", kLoops, units,
              bytes / 1e9);
  std::printf("scan rate:                    %7.2f GB/s (target >= 1)\n", bytes / 1e9 / best);
  std::printf("index held:                   %7.1f MB\n", memory / 1048576.0);
  std::printf("peak memory grown while built: %6.1f MB (target <= 32)\n", grown / 1024.0);
  return 0;
}
