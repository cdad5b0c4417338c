#include <windows.h>
#include <mfapi.h>
#include <mftransform.h>
#include <objbase.h>

#include "com_helpers.h"
#include "windows_sources.h"

namespace tessulor {
namespace {

// The platform's array of activation objects; freed once the last of them is released.
struct ActivationArray {
  IMFActivate** items = nullptr;
  ~ActivationArray() { CoTaskMemFree(items); }
};

class MediaFoundationActivation : public TransformActivation {
 public:
  MediaFoundationActivation(IMFActivate* activation, std::shared_ptr<ActivationArray> array)
      : array_(std::move(array)), activation_(activation) {}

  HResult GetClsid(Guid& clsid) override {
    if (!activation_) return E_POINTER;
    GUID id;
    const HRESULT hr = activation_->GetGUID(MFT_TRANSFORM_CLSID_Attribute, &id);
    if (SUCCEEDED(hr)) clsid = FromGuid(id);
    return hr;
  }

  HResult GetFriendlyName(std::wstring& name) override {
    if (!activation_) return E_POINTER;
    LPWSTR text = nullptr;
    UINT32 length = 0;  // some implementations refuse a null length pointer
    const HRESULT hr = activation_->GetAllocatedString(MFT_FRIENDLY_NAME_Attribute, &text, &length);
    if (SUCCEEDED(hr) && text) name.assign(text, length);
    CoTaskMemFree(text);
    return SUCCEEDED(hr) && !text ? E_POINTER : hr;
  }

 private:
  // Declared first so it goes last: the array is freed after the object is released.
  std::shared_ptr<ActivationArray> array_;
  ComRef<IMFActivate> activation_;
};

}  // namespace

HResult MediaFoundationTransformSource::Initialize() { return CoInitialize(nullptr); }

void MediaFoundationTransformSource::Uninitialize() { CoUninitialize(); }

HResult MediaFoundationTransformSource::Enumerate(const Guid& category,
                                                  std::vector<std::unique_ptr<TransformActivation>>& activations) {
  activations.clear();
  auto array = std::make_shared<ActivationArray>();
  UINT32 count = 0;
  const HRESULT hr = MFTEnumEx(ToGuid(category), MFT_ENUM_FLAG_ALL, nullptr, nullptr, &array->items, &count);
  if (FAILED(hr)) return hr;
  if (!array->items) count = 0;
  for (UINT32 i = 0; i < count; ++i) {
    activations.push_back(std::make_unique<MediaFoundationActivation>(array->items[i], array));
  }
  return hr;
}

HResult MediaFoundationTransformSource::StringFromIid(const Guid& id, std::wstring& text) {
  LPOLESTR raw = nullptr;
  const HRESULT hr = ::StringFromIID(ToGuid(id), &raw);
  if (SUCCEEDED(hr) && raw) text = raw;
  CoTaskMemFree(raw);
  return SUCCEEDED(hr) && !raw ? E_POINTER : hr;
}

}  // namespace tessulor
