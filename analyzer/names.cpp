#include "names.h"

#include <cstdio>
#include <cwchar>

#include "platform_types.h"

namespace tessulor {

bool operator==(const Guid& a, const Guid& b) {
  if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.data4[i] != b.data4[i]) return false;
  }
  return true;
}

std::wstring FormatGuid(const Guid& id) {
  wchar_t text[40];
  std::swprintf(text, 40, L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(id.data1), static_cast<unsigned>(id.data2),
                static_cast<unsigned>(id.data3), id.data4[0], id.data4[1], id.data4[2],
                id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
  return text;
}

bool IsMediaSdkName(const std::wstring& name) {
  return name.find(L"Media SDK") != std::wstring::npos ||
         name.find(L"Intel\u00AE Media") != std::wstring::npos;
}

std::wstring ReplaceRegisteredSign(const std::wstring& name) {
  std::wstring result = name;
  size_t at = result.find(L'\u00AE');
  if (at != std::wstring::npos) result.replace(at, 1, L"(R)");
  return result;
}

const wchar_t* AvailabilityText(std::int64_t availability) {
  static const wchar_t* const kTexts[] = {
      L"Other",                       // 1
      L"Unknown",                     // 2
      L"Running / Full Power",        // 3
      L"Warning",                     // 4
      L"In Test",                     // 5
      L"Not Applicable",              // 6
      L"Power Off",                   // 7
      L"Offline",                     // 8
      L"Off Duty",                    // 9
      L"Degraded",                    // 10
      L"Not Installed",               // 11
      L"Install Error",               // 12
      L"Power Save - Unknown",        // 13
      L"Power Save - Low Power Mode", // 14
      L"Power Save - Standby",        // 15
      L"Power Cycle",                 // 16
      L"Power Save - Warning",        // 17
      L"Paused",                      // 18
      L"Not Ready",                   // 19
      L"Not Configured",              // 20
      L"Quiesced",                    // 21
  };
  const auto code = static_cast<std::int16_t>(static_cast<std::uint64_t>(availability) & 0xFFFFu);
  if (code >= 1 && code <= 21) return kTexts[code - 1];
  return L" ";
}

std::wstring OsCaption(const std::wstring& name) { return name.substr(0, name.find(L'|')); }

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      out.push_back(static_cast<wchar_t>(c));
      ++i;
      continue;
    }
    size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2; cp = c & 0x1F; min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3; cp = c & 0x0F; min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4; cp = c & 0x07; min = 0x10000;
    }
    bool ok = len != 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      out.push_back(L'\uFFFD');
      ++i;
      continue;
    }
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
    i += len;
  }
  return out;
}

std::wstring Utf16ToWide(const char16_t* units, std::size_t count) {
  std::wstring out;
  for (size_t i = 0; i < count && units[i] != 0; ++i) {
    char32_t u = units[i];
    if (sizeof(wchar_t) == 4 && u >= 0xD800 && u <= 0xDBFF && i + 1 < count &&
        units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (sizeof(wchar_t) == 4 && u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    out.push_back(static_cast<wchar_t>(u));
  }
  return out;
}

}  // namespace tessulor
