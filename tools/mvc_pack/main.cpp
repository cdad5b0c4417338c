// mvc-pack LEFT RIGHT BASE DEPENDENT: joins two AVC streams into the two-file stereo form.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "mvc_pack.h"

namespace {

const char kUsage[] =
    "usage: mvc-pack LEFT.h264 RIGHT.h264 BASE.h264 DEPENDENT.mvc\n"
    "Joins two AVC elementary streams of the same size and GOP structure into a base-view\n"
    "file and a dependent-view (MVC view 1) file.\n";

bool ReadFile(const char* path, mvcpack::Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const char* path, const mvcpack::Bytes& data) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 5) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  mvcpack::Bytes left, right;
  for (int i = 1; i <= 2; ++i) {
    if (!ReadFile(argv[i], i == 1 ? left : right)) {
      std::fprintf(stderr, "mvc-pack: can't read %s: %s\n", argv[i], std::strerror(errno));
      return 1;
    }
  }
  try {
    mvcpack::PackResult r = mvcpack::Pack(left.data(), left.size(), right.data(), right.size());
    for (int i = 3; i <= 4; ++i) {
      if (!WriteFile(argv[i], i == 3 ? r.base : r.dependent)) {
        std::fprintf(stderr, "mvc-pack: can't write %s: %s\n", argv[i], std::strerror(errno));
        return 1;
      }
    }
    std::fprintf(stderr, "mvc-pack: %zu access units, %ux%u -> %s, %s\n", r.accessUnits, r.width,
                 r.height, argv[3], argv[4]);
  } catch (const mvcpack::PackError& e) {
    std::fprintf(stderr, "mvc-pack: %s\n", e.what());
    return 1;
  }
  return 0;
}
