#include <windows.h>
#include <dshow.h>
#include <strmif.h>

#include "com_helpers.h"
#include "windows_sources.h"

namespace tessulor {
namespace {

class DirectShowPropertyBag : public FilterPropertyBag {
 public:
  explicit DirectShowPropertyBag(IPropertyBag* bag) : bag_(bag) {}
  ~DirectShowPropertyBag() override { bag_->Release(); }
  DirectShowPropertyBag(const DirectShowPropertyBag&) = delete;
  DirectShowPropertyBag& operator=(const DirectShowPropertyBag&) = delete;

  // The variant asks for a string; only a string that comes back as one counts.
  HResult Read(const std::wstring& property, PropertyValue& value) override {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = nullptr;
    const HRESULT hr = bag_->Read(property.c_str(), &v, nullptr);
    value = SUCCEEDED(hr) && v.vt == VT_BSTR ? FromVariant(v) : PropertyValue();
    VariantClear(&v);
    return hr;
  }

 private:
  IPropertyBag* bag_;
};

class DirectShowMoniker : public FilterMoniker {
 public:
  explicit DirectShowMoniker(IMoniker* moniker) : moniker_(moniker) {}
  ~DirectShowMoniker() override { moniker_->Release(); }
  DirectShowMoniker(const DirectShowMoniker&) = delete;
  DirectShowMoniker& operator=(const DirectShowMoniker&) = delete;

  HResult BindToStorage(std::unique_ptr<FilterPropertyBag>& bag) override {
    IPropertyBag* raw = nullptr;
    const HRESULT hr = moniker_->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&raw));
    if (SUCCEEDED(hr) && raw) {
      bag = std::make_unique<DirectShowPropertyBag>(raw);
    } else {
      if (raw) raw->Release();
      bag.reset();
    }
    return SUCCEEDED(hr) && !raw ? E_POINTER : hr;
  }

 private:
  IMoniker* moniker_;
};

class DirectShowMonikerEnumerator : public FilterMonikerEnumerator {
 public:
  explicit DirectShowMonikerEnumerator(IEnumMoniker* enumerator) : enumerator_(enumerator) {}
  ~DirectShowMonikerEnumerator() override { enumerator_->Release(); }
  DirectShowMonikerEnumerator(const DirectShowMonikerEnumerator&) = delete;
  DirectShowMonikerEnumerator& operator=(const DirectShowMonikerEnumerator&) = delete;

  HResult Reset() override { return enumerator_->Reset(); }

  HResult Next(std::unique_ptr<FilterMoniker>& moniker) override {
    IMoniker* raw = nullptr;
    ULONG fetched = 0;
    const HRESULT hr = enumerator_->Next(1, &raw, &fetched);
    if (hr == S_OK && raw) {
      moniker = std::make_unique<DirectShowMoniker>(raw);
      return hr;
    }
    if (raw) raw->Release();
    moniker.reset();
    return hr == S_OK ? S_FALSE : hr;
  }

 private:
  IEnumMoniker* enumerator_;
};

class SystemDeviceEnumerator : public FilterDeviceEnumerator {
 public:
  explicit SystemDeviceEnumerator(ICreateDevEnum* devices) : devices_(devices) {}
  ~SystemDeviceEnumerator() override { devices_->Release(); }
  SystemDeviceEnumerator(const SystemDeviceEnumerator&) = delete;
  SystemDeviceEnumerator& operator=(const SystemDeviceEnumerator&) = delete;

  HResult CreateClassEnumerator(const Guid& category, std::unique_ptr<FilterMonikerEnumerator>& enumerator) override {
    IEnumMoniker* raw = nullptr;
    const GUID id = ToGuid(category);
    const HRESULT hr = devices_->CreateClassEnumerator(id, &raw, 0);
    if (hr == S_OK && raw) {
      enumerator = std::make_unique<DirectShowMonikerEnumerator>(raw);
    } else {
      if (raw) raw->Release();
      enumerator.reset();
    }
    return hr;
  }

 private:
  ICreateDevEnum* devices_;
};

class Win32RegistryKey : public RegistryKey {
 public:
  explicit Win32RegistryKey(HKEY key) : key_(key) {}
  ~Win32RegistryKey() override { RegCloseKey(key_); }
  Win32RegistryKey(const Win32RegistryKey&) = delete;
  Win32RegistryKey& operator=(const Win32RegistryKey&) = delete;

  long QueryDefaultValue(std::uint8_t* data, std::uint32_t* size) override {
    DWORD type = REG_SZ;
    DWORD bytes = *size;
    const LONG status = RegQueryValueExW(key_, L"", nullptr, &type, data, &bytes);
    if (status == ERROR_SUCCESS) *size = bytes;
    return status;
  }

 private:
  HKEY key_;
};

}  // namespace

HResult DirectShowFilterSource::Initialize() { return CoInitialize(nullptr); }

void DirectShowFilterSource::Uninitialize() { CoUninitialize(); }

HResult DirectShowFilterSource::CreateDeviceEnumerator(std::unique_ptr<FilterDeviceEnumerator>& enumerator) {
  ICreateDevEnum* raw = nullptr;
  const HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                      reinterpret_cast<void**>(&raw));
  if (SUCCEEDED(hr) && raw) {
    enumerator = std::make_unique<SystemDeviceEnumerator>(raw);
    return hr;
  }
  if (raw) raw->Release();
  enumerator.reset();
  return FAILED(hr) ? hr : E_POINTER;
}

long DirectShowFilterSource::OpenLocalMachineKey(const std::wstring& path, std::unique_ptr<RegistryKey>& key) {
  HKEY raw = nullptr;
  const LONG status = RegOpenKeyW(HKEY_LOCAL_MACHINE, path.c_str(), &raw);
  if (status == ERROR_SUCCESS) {
    key = std::make_unique<Win32RegistryKey>(raw);
  } else {
    key.reset();
  }
  return status;
}

}  // namespace tessulor
