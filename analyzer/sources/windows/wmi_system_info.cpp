#include <windows.h>
#include <wbemidl.h>

#include "com_helpers.h"
#include "windows_sources.h"

namespace tessulor {
namespace {

class WmiObject : public SystemObject {
 public:
  explicit WmiObject(IWbemClassObject* object) : object_(object) {}

  HResult Get(const std::wstring& property, PropertyValue& value) override {
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = object_->Get(property.c_str(), 0, &v, nullptr, nullptr);
    value = SUCCEEDED(hr) ? FromVariant(v) : PropertyValue();
    VariantClear(&v);
    return hr;
  }

 private:
  ComRef<IWbemClassObject> object_;
};

class WmiEnumerator : public SystemObjectEnumerator {
 public:
  explicit WmiEnumerator(IEnumWbemClassObject* enumerator) : enumerator_(enumerator) {}

  HResult Next(std::unique_ptr<SystemObject>& object) override {
    IWbemClassObject* raw = nullptr;
    ULONG returned = 0;
    const HRESULT hr = enumerator_->Next(WBEM_INFINITE, 1, &raw, &returned);
    ComRef<IWbemClassObject> item(raw);
    object.reset(returned == 1 && item ? new WmiObject(item.release()) : nullptr);
    return hr;
  }

 private:
  ComRef<IEnumWbemClassObject> enumerator_;
};

}  // namespace

WmiSystemInfoSource::~WmiSystemInfoSource() { Disconnect(); }

HResult WmiSystemInfoSource::Connect(ConnectionStep step) {
  switch (step) {
    case ConnectionStep::kInitializeCom: {
      const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      comInitialized_ = SUCCEEDED(hr);
      return hr;
    }
    case ConnectionStep::kInitializeSecurity:
      return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    case ConnectionStep::kCreateLocator: {
      IWbemLocator* raw = nullptr;
      const HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                          reinterpret_cast<void**>(&raw));
      locator_.reset(raw);
      return hr;
    }
    case ConnectionStep::kConnectServer: {
      if (!locator_) return E_POINTER;
      Bstr ns(L"root\\CIMV2");
      IWbemServices* raw = nullptr;
      const HRESULT hr = locator_->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &raw);
      services_.reset(raw);
      return hr;
    }
    case ConnectionStep::kSetProxyBlanket:
      if (!services_) return E_POINTER;
      return CoSetProxyBlanket(services_.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  }
  return E_INVALIDARG;
}

HResult WmiSystemInfoSource::ExecQuery(const std::wstring& wql, std::unique_ptr<SystemObjectEnumerator>& result) {
  result.reset();
  if (!services_) return E_POINTER;
  Bstr language(L"WQL");
  Bstr query(wql.c_str());
  IEnumWbemClassObject* raw = nullptr;
  const HRESULT hr = services_->ExecQuery(language.get(), query.get(),
                                          WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &raw);
  ComRef<IEnumWbemClassObject> enumerator(raw);
  if (SUCCEEDED(hr) && enumerator) result = std::make_unique<WmiEnumerator>(enumerator.release());
  return hr;
}

// The services before the locator, then COM itself.
void WmiSystemInfoSource::Disconnect() {
  services_.reset();
  locator_.reset();
  if (comInitialized_) CoUninitialize();
  comInitialized_ = false;
}

}  // namespace tessulor
