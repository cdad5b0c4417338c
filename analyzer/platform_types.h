// Small value types that the report sections share with the platform sources.
// They mirror the COM shapes (HRESULT, GUID, VARIANT) so a Windows source maps onto them 1:1.
#pragma once

#include <cstdint>
#include <string>

namespace tessulor {

// Negative is failure, 0 is S_OK, positive values are success codes (S_FALSE, WBEM_S_FALSE...).
using HResult = std::int32_t;

constexpr HResult kSOk = 0;
constexpr HResult kSFalse = 1;
constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
// What a read reports when the value came back with an unusable type (DISP_E_TYPEMISMATCH).
constexpr HResult kETypeMismatch = static_cast<HResult>(0x80020005u);

inline bool Succeeded(HResult hr) { return hr >= 0; }
inline bool Failed(HResult hr) { return hr < 0; }

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

bool operator==(const Guid& a, const Guid& b);
inline bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }

// The registry form: braces around upper-case hex digits grouped 8-4-4-4-12 (38 characters).
std::wstring FormatGuid(const Guid& id);

// One property as a platform read it: a string, an integer, or anything else (absent, null,
// another type), which the report treats alike.
struct PropertyValue {
  enum class Kind { kOther, kString, kInteger };
  Kind kind = Kind::kOther;
  std::wstring text;
  std::int64_t number = 0;

  static PropertyValue String(std::wstring s) {
    PropertyValue v;
    v.kind = Kind::kString;
    v.text = std::move(s);
    return v;
  }
  static PropertyValue Integer(std::int64_t n) {
    PropertyValue v;
    v.kind = Kind::kInteger;
    v.number = n;
    return v;
  }
  bool IsString() const { return kind == Kind::kString; }
  bool IsInteger() const { return kind == Kind::kInteger; }
};

}  // namespace tessulor
