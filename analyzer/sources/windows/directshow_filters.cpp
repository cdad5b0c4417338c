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
  ComRef<IPropertyBag> bag_;
};

class DirectShowMoniker : public FilterMoniker {
 public:
  explicit DirectShowMoniker(IMoniker* moniker) : moniker_(moniker) {}

  HResult BindToStorage(std::unique_ptr<FilterPropertyBag>& bag) override {
    IPropertyBag* raw = nullptr;
    const HRESULT hr = moniker_->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&raw));
    ComRef<IPropertyBag> owned(raw);
    bag.reset(SUCCEEDED(hr) && owned ? new DirectShowPropertyBag(owned.release()) : nullptr);
    return SUCCEEDED(hr) && !bag ? E_POINTER : hr;
  }

 private:
  ComRef<IMoniker> moniker_;
};

class DirectShowMonikerEnumerator : public FilterMonikerEnumerator {
 public:
  explicit DirectShowMonikerEnumerator(IEnumMoniker* enumerator) : enumerator_(enumerator) {}

  HResult Reset() override { return enumerator_->Reset(); }

  // S_OK without a moniker counts as the end of the walk.
  HResult Next(std::unique_ptr<FilterMoniker>& moniker) override {
    IMoniker* raw = nullptr;
    ULONG fetched = 0;
    const HRESULT hr = enumerator_->Next(1, &raw, &fetched);
    ComRef<IMoniker> owned(raw);
    moniker.reset(hr == S_OK && owned ? new DirectShowMoniker(owned.release()) : nullptr);
    return hr == S_OK && !moniker ? S_FALSE : hr;
  }

 private:
  ComRef<IEnumMoniker> enumerator_;
};

class SystemDeviceEnumerator : public FilterDeviceEnumerator {
 public:
  explicit SystemDeviceEnumerator(ICreateDevEnum* devices) : devices_(devices) {}

  HResult CreateClassEnumerator(const Guid& category, std::unique_ptr<FilterMonikerEnumerator>& enumerator) override {
    IEnumMoniker* raw = nullptr;
    const HRESULT hr = devices_->CreateClassEnumerator(ToGuid(category), &raw, 0);
    ComRef<IEnumMoniker> owned(raw);
    enumerator.reset(hr == S_OK && owned ? new DirectShowMonikerEnumerator(owned.release()) : nullptr);
    return hr;
  }

 private:
  ComRef<ICreateDevEnum> devices_;
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
  ComRef<ICreateDevEnum> owned(raw);
  enumerator.reset(SUCCEEDED(hr) && owned ? new SystemDeviceEnumerator(owned.release()) : nullptr);
  return SUCCEEDED(hr) && !enumerator ? E_POINTER : hr;
}

long DirectShowFilterSource::OpenLocalMachineKey(const std::wstring& path, std::unique_ptr<RegistryKey>& key) {
  HKEY raw = nullptr;
  const LONG status = RegOpenKeyW(HKEY_LOCAL_MACHINE, path.c_str(), &raw);
  key.reset(status == ERROR_SUCCESS ? new Win32RegistryKey(raw) : nullptr);
  return status;
}

}  // namespace tessulor
