#include "file_io.h"

#ifdef _WIN32
#include <windows.h>

#include <climits>
#else
#include <sys/stat.h>
#endif

namespace korvala {

#ifdef _WIN32
namespace {

// Empty when the text can't be read in that code page (strict: invalid bytes count).
std::wstring Wide(const std::string& text, UINT codePage, bool strict) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), n);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

bool Exists(const std::wstring& name) { return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

std::string FileNameFromScript(const char* text) {
  const std::string name = text ? text : "";
  bool ascii = true;
  for (char c : name) ascii &= static_cast<unsigned char>(c) < 0x80;
  if (ascii) return name;
  // ANSI text that happens to be valid UTF-8 is rare; where both readings are valid, the one
  // that names something wins.
  const std::wstring utf8 = Wide(name, CP_UTF8, true);
  if (!utf8.empty() && Exists(utf8)) return name;
  const std::wstring ansi = Wide(name, CP_ACP, false);
  if (ansi.empty() || (!utf8.empty() && !Exists(ansi))) return name;
  return Utf8(ansi);
}

FilePtr OpenFile(const std::string& name, const char* mode) {
  const std::wstring wide = Wide(name, CP_UTF8, false);
  std::wstring wideMode;
  for (const char* m = mode; *m; ++m) wideMode += static_cast<wchar_t>(*m);
  return FilePtr(wide.empty() ? nullptr : _wfopen(wide.c_str(), wideMode.c_str()));
}

bool IsRegularFile(const std::string& name) {
  const std::wstring wide = Wide(name, CP_UTF8, false);
  const DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SeekFile(std::FILE* file, uint64_t offset) {
  return offset <= INT64_MAX && _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}

#else

std::string FileNameFromScript(const char* text) { return text ? text : ""; }

FilePtr OpenFile(const std::string& name, const char* mode) { return FilePtr(std::fopen(name.c_str(), mode)); }

bool IsRegularFile(const std::string& name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool SeekFile(std::FILE* file, uint64_t offset) {
  return offset <= INT64_MAX && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

#endif

}  // namespace korvala
