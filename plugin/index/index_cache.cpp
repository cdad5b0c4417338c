#include "index_cache.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace korvala {

namespace {

constexpr size_t kHashedBlock = 64 * 1024;
// Larger than any index of a real title (a 40 GB one is some tens of MB with its layout).
constexpr uint64_t kMaxKeptBytes = uint64_t{1} << 30;

#ifdef _WIN32
using PathString = std::wstring;
using StatBuf = struct _stat64;
int StatNarrow(const std::string& path, StatBuf& st) { return _stat64(path.c_str(), &st); }
int StatPath(const PathString& path, StatBuf& st) { return _wstat64(path.c_str(), &st); }
std::FILE* OpenPath(const PathString& path, const wchar_t* mode) { return _wfopen(path.c_str(), mode); }
#define KV_MODE(m) L##m
int64_t ModifiedNs(const StatBuf& st) { return static_cast<int64_t>(st.st_mtime) * 1000000000; }

PathString Folder() {
  const wchar_t* base = _wgetenv(L"LOCALAPPDATA");
  if (!base || !*base) return PathString();
  PathString dir = base;
  dir += L"\\korvala";
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}
PathString Join(const PathString& dir, const std::string& ascii) { return dir + L"\\" + PathString(ascii.begin(), ascii.end()); }
bool Rename(const PathString& from, const PathString& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
void Remove(const PathString& path) { _wremove(path.c_str()); }
int ProcessId() { return _getpid(); }
#else
using PathString = std::string;
using StatBuf = struct stat;
int StatNarrow(const std::string& path, StatBuf& st) { return ::stat(path.c_str(), &st); }
int StatPath(const PathString& path, StatBuf& st) { return ::stat(path.c_str(), &st); }
std::FILE* OpenPath(const PathString& path, const char* mode) { return std::fopen(path.c_str(), mode); }
#define KV_MODE(m) m
int64_t ModifiedNs(const StatBuf& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

PathString Folder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  PathString base;
  // Only an absolute path counts, as the XDG rules say.
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return PathString();
    base = std::string(home) + "/.cache";
  }
  ::mkdir(base.c_str(), 0700);
  const PathString dir = base + "/korvala";
  ::mkdir(dir.c_str(), 0700);
  return dir;
}
PathString Join(const PathString& dir, const std::string& name) { return dir + "/" + name; }
bool Rename(const PathString& from, const PathString& to) { return std::rename(from.c_str(), to.c_str()) == 0; }
void Remove(const PathString& path) { std::remove(path.c_str()); }
int ProcessId() { return static_cast<int>(::getpid()); }
#endif

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string FileName(const IndexKey& key) {
  const uint64_t h = HashBytes(reinterpret_cast<const uint8_t*>(key.text.data()), key.text.size());
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.kvi", static_cast<unsigned long long>(h));
  return name;
}

// The hash of a file's first and last blocks (the whole file when it is small).
bool HashEnds(const std::string& path, uint64_t size, uint64_t& hash) {
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) return false;
  std::vector<uint8_t> block(kHashedBlock);
  size_t n = std::fread(block.data(), 1, block.size(), f.get());
  hash = HashBytes(block.data(), n, hash);
  if (size > kHashedBlock) {
    const uint64_t tail = size - kHashedBlock > kHashedBlock ? size - kHashedBlock : kHashedBlock;
#ifdef _WIN32
    if (_fseeki64(f.get(), static_cast<int64_t>(tail), SEEK_SET) != 0) return false;
#else
    if (fseeko(f.get(), static_cast<off_t>(tail), SEEK_SET) != 0) return false;
#endif
    n = std::fread(block.data(), 1, block.size(), f.get());
    hash = HashBytes(block.data(), n, hash);
  }
  return true;
}

}  // namespace

bool MakeIndexKey(const std::vector<std::string>& files, const std::string& form, IndexKey& key) {
  key = IndexKey();
  key.text = "korvala index\n" + form + "\n";
  uint64_t hash = 0;
  for (const std::string& path : files) {
    StatBuf st;
    if (StatNarrow(path, st) != 0 || st.st_size < 0) return false;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (!HashEnds(path, size, hash)) return false;
    key.text += path + "\n" + std::to_string(size) + " " + std::to_string(ModifiedNs(st)) + "\n";
  }
  key.contentHash = hash;
  return true;
}

uint64_t FileSize(const std::string& path) {
  StatBuf st;
  return StatNarrow(path, st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string IndexCacheFolder() {
#ifdef _WIN32
  const PathString dir = Folder();
  if (dir.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, dir.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, dir.c_str(), -1, &text[0], n, nullptr, nullptr);
  text.resize(static_cast<size_t>(n - 1));
  return text;
#else
  return Folder();
#endif
}

std::vector<uint8_t> ReadKeptIndex(const IndexKey& key) {
  std::vector<uint8_t> bytes;
  const PathString dir = Folder();
  if (dir.empty()) return bytes;
  const PathString path = Join(dir, FileName(key));
  StatBuf st;
  // Sized by the file system, never by what the file says of itself.
  if (StatPath(path, st) != 0 || st.st_size <= 0 || static_cast<uint64_t>(st.st_size) > kMaxKeptBytes) return bytes;
  File f(OpenPath(path, KV_MODE("rb")));
  if (!f) return bytes;
  bytes.resize(static_cast<size_t>(st.st_size));
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f.get()));
  return bytes;
}

bool WriteKeptIndex(const IndexKey& key, const std::vector<uint8_t>& bytes) {
  const PathString dir = Folder();
  if (dir.empty()) return false;
  static std::atomic<unsigned> serial{0};
  const std::string name = FileName(key);
  const PathString temp = Join(dir, name + ".tmp" + std::to_string(ProcessId()) + "-" + std::to_string(serial++));
  File f(OpenPath(temp, KV_MODE("wb")));
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
  ok = std::fflush(f.get()) == 0 && ok;
  ok = std::fclose(f.release()) == 0 && ok;
  // Another process may rename its own copy of the same index into place at the same time:
  // either one is whole.
  if (!ok || !Rename(temp, Join(dir, name))) {
    Remove(temp);
    return false;
  }
  return true;
}

}  // namespace korvala
