// Conversions between COM's types and the report's own, and an owner for interface pointers.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform_types.h"

namespace tessulor {

struct ComRelease {
  void operator()(IUnknown* object) const { object->Release(); }
};

// One reference to a COM object, released when the owner goes.
template <typename T>
using ComRef = std::unique_ptr<T, ComRelease>;

inline GUID ToGuid(const Guid& id) {
  static_assert(sizeof(GUID) == sizeof(Guid), "GUID layouts differ");
  GUID g;
  std::memcpy(&g, &id, sizeof g);
  return g;
}

inline Guid FromGuid(const GUID& g) {
  Guid id;
  std::memcpy(&id, &g, sizeof id);
  return id;
}

// A VARIANT as the report sees it; integers of any width become kInteger.
inline PropertyValue FromVariant(const VARIANT& v) {
  switch (v.vt) {
    case VT_BSTR:
      return PropertyValue::String(v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : std::wstring());
    case VT_I1: return PropertyValue::Integer(v.cVal);
    case VT_UI1: return PropertyValue::Integer(v.bVal);
    case VT_I2: return PropertyValue::Integer(v.iVal);
    case VT_UI2: return PropertyValue::Integer(v.uiVal);
    case VT_I4: return PropertyValue::Integer(v.lVal);
    case VT_UI4: return PropertyValue::Integer(v.ulVal);
    case VT_INT: return PropertyValue::Integer(v.intVal);
    case VT_UINT: return PropertyValue::Integer(v.uintVal);
    case VT_I8: return PropertyValue::Integer(v.llVal);
    case VT_UI8: return PropertyValue::Integer(static_cast<std::int64_t>(v.ullVal));
    default: return PropertyValue();
  }
}

// A BSTR that frees itself.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

}  // namespace tessulor
