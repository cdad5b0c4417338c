// Media SDK DirectShow filters with their class identifiers and server modules.
//
// FilterSource is shaped like the DirectShow system device enumerator and the registry:
// a class enumerator per category hands out monikers, each moniker binds a property bag, and
// the server path is the default value of a key under HKEY_LOCAL_MACHINE.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform_types.h"
#include "text_out.h"

namespace tessulor {

// {083863F1-70DE-11D0-BD40-00A0C911CE86}
extern const Guid kLegacyAmFilterCategory;

// Capacity of the name and identifier buffers, terminating zero included.
constexpr std::size_t kFilterTextUnits = 260;
// Capacity of the server path value, in bytes (1000 UTF-16 units).
constexpr std::uint32_t kServerPathBytes = 2000;

class FilterPropertyBag {
 public:
  virtual ~FilterPropertyBag() = default;
  virtual HResult Read(const std::wstring& property, PropertyValue& value) = 0;
};

class FilterMoniker {
 public:
  virtual ~FilterMoniker() = default;
  virtual HResult BindToStorage(std::unique_ptr<FilterPropertyBag>& bag) = 0;
};

class FilterMonikerEnumerator {
 public:
  virtual ~FilterMonikerEnumerator() = default;
  virtual HResult Reset() = 0;
  // kSOk with a moniker while filters remain; anything else ends the walk.
  virtual HResult Next(std::unique_ptr<FilterMoniker>& moniker) = 0;
};

class FilterDeviceEnumerator {
 public:
  virtual ~FilterDeviceEnumerator() = default;
  // kSOk with an enumerator, kSFalse for an empty category, or a failure.
  virtual HResult CreateClassEnumerator(const Guid& category,
                                        std::unique_ptr<FilterMonikerEnumerator>& enumerator) = 0;
};

// An open registry key; closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // The key's default value as stored (UTF-16 units in bytes), at most *size bytes; on
  // success *size holds the bytes written. Returns 0 (ERROR_SUCCESS) or a Win32 error code.
  virtual long QueryDefaultValue(std::uint8_t* data, std::uint32_t* size) = 0;
};

class FilterSource {
 public:
  virtual ~FilterSource() = default;
  virtual HResult Initialize() = 0;    // apartment-threaded COM for the listing
  virtual void Uninitialize() = 0;     // called once after every successful Initialize
  virtual HResult CreateDeviceEnumerator(std::unique_ptr<FilterDeviceEnumerator>& enumerator) = 0;
  // Opens a key under HKEY_LOCAL_MACHINE; returns 0 (ERROR_SUCCESS) or a Win32 error code.
  virtual long OpenLocalMachineKey(const std::wstring& path, std::unique_ptr<RegistryKey>& key) = 0;
};

// Fills name and clsid (each kFilterTextUnits units, zero-terminated, cut to fit) from the
// moniker's property bag. A name that can't be read stays empty.
HResult ReadFilterIdentity(FilterMoniker& moniker, wchar_t* name, wchar_t* clsid);

HResult ListCategoryFilters(const Guid& category, FilterSource& source, TextOut& out);

int ListDirectShowFilters(FilterSource& source, TextOut& out);

}  // namespace tessulor
