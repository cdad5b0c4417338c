#include "settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace mfxtest {

namespace {

bool ParseInt(const std::string& text, long lo, long hi, long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *value = v;
  return true;
}

bool ParseKind(const std::string& value, RuntimeKind* kind) {
  if (value == "none") {
    kind->present = false;
    return true;
  }
  long minor = 0;
  if (!ParseInt(value, 0, 0xFFFF, &minor)) return false;
  kind->present = true;
  kind->maxMinor = static_cast<mfxU16>(minor);
  return true;
}

}  // namespace

bool ParseSettings(const std::string& text, Program* program, std::string* error) {
  Program p;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(';', pos);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) continue;
    std::size_t eq = item.find('=');
    if (eq == std::string::npos) {
      *error = "setting without '=': " + item;
      return false;
    }
    std::string key = item.substr(0, eq), value = item.substr(eq + 1);
    long n = 0;
    bool ok = true;
    if (key == "hw") {
      ok = ParseKind(value, &p.hardware);
    } else if (key == "sw") {
      ok = ParseKind(value, &p.software);
    } else if (key == "adapter") {
      ok = ParseInt(value, 1, 4, &n);
      if (ok) p.hardware.adapter = static_cast<int>(n);
    } else if (key == "via") {
      ok = value == "any" || value == "d3d11";
      if (ok) p.hardware.via = value == "any" ? Via::Any : Via::D3D11;
    } else if (key == "decquery" || key == "encquery") {
      ok = ParseInt(value, INT_MIN, INT_MAX, &n);
      if (ok) (key == "decquery" ? p.decodeQuery : p.encodeQuery) = static_cast<mfxStatus>(n);
    } else {
      *error = "unknown setting: " + key;
      return false;
    }
    if (!ok) {
      *error = "bad value for " + key + ": " + value;
      return false;
    }
  }
  *program = p;
  return true;
}

}  // namespace mfxtest
