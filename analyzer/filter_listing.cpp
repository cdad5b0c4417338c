#include "filter_listing.h"

#include <cwchar>

#include "names.h"

namespace tessulor {

const Guid kLegacyAmFilterCategory = {0x083863F1, 0x70DE, 0x11D0,
                                      {0xBD, 0x40, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

namespace {

void CopyCut(const std::wstring& text, wchar_t* buffer) {
  const size_t n = text.size() < kFilterTextUnits - 1 ? text.size() : kFilterTextUnits - 1;
  std::wmemcpy(buffer, text.data(), n);
  buffer[n] = L'\0';
}

// The server line: the path after " :" when the key and its value read, else just the end
// of the line.
void PrintServerPath(const std::wstring& clsid, FilterSource& source, TextOut& out) {
  const std::wstring path = L"Software\\Classes\\CLSID\\" + clsid + L"\\InProcServer32";
  std::unique_ptr<RegistryKey> key;
  if (source.OpenLocalMachineKey(path, key) != 0 || !key) {
    out.Print(L"\n");
    return;
  }
  char16_t value[kServerPathBytes / 2] = {};
  std::uint32_t size = kServerPathBytes;
  if (key->QueryDefaultValue(reinterpret_cast<std::uint8_t*>(value), &size) == 0) {
    // A value that fills the buffer without a terminating zero ends at the buffer's end.
    const std::wstring text = Utf16ToWide(value, kServerPathBytes / 2);
    out.Print(L" :\n    %ls\n", text.c_str());
  } else {
    out.Print(L"\n");
  }
}

}  // namespace

HResult ReadFilterIdentity(FilterMoniker& moniker, wchar_t* name, wchar_t* clsid) {
  name[0] = L'\0';
  clsid[0] = L'\0';
  std::unique_ptr<FilterPropertyBag> bag;
  HResult hr = moniker.BindToStorage(bag);
  if (Failed(hr)) return hr;
  if (!bag) return kEFail;

  PropertyValue value;
  if (Succeeded(bag->Read(L"FriendlyName", value)) && value.IsString()) CopyCut(value.text, name);

  value = PropertyValue();
  hr = bag->Read(L"CLSID", value);
  if (Failed(hr)) return hr;
  // An identifier of another type would otherwise list the filter with no identifier at all.
  if (!value.IsString()) return kETypeMismatch;
  CopyCut(value.text, clsid);
  return hr;
}

HResult ListCategoryFilters(const Guid& category, FilterSource& source, TextOut& out) {
  HResult hr = source.Initialize();
  if (Failed(hr)) return hr;

  {
    std::unique_ptr<FilterDeviceEnumerator> devices;
    hr = source.CreateDeviceEnumerator(devices);
    if (Succeeded(hr) && !devices) hr = kEFail;
    if (Succeeded(hr)) {
      std::unique_ptr<FilterMonikerEnumerator> monikers;
      hr = devices->CreateClassEnumerator(category, monikers);
      if (hr == kSOk && monikers) {
        monikers->Reset();
        for (;;) {
          std::unique_ptr<FilterMoniker> moniker;
          if (monikers->Next(moniker) != kSOk || !moniker) break;
          wchar_t nameBuffer[kFilterTextUnits];
          wchar_t clsidBuffer[kFilterTextUnits];
          if (Failed(ReadFilterIdentity(*moniker, nameBuffer, clsidBuffer))) continue;
          const std::wstring name(nameBuffer);
          const std::wstring clsid(clsidBuffer);
          if (!IsMediaSdkName(name)) continue;
          const std::wstring shown = ReplaceRegisteredSign(name);
          out.Print(L"  %ls %ls\n", shown.c_str(), clsid.c_str());
          out.Print(L"  %ls", shown.c_str());
          PrintServerPath(clsid, source, out);
        }
      }
    }
  }

  source.Uninitialize();
  return hr;
}

int ListDirectShowFilters(FilterSource& source, TextOut& out) {
  out.Print(L"\nInstalled Media SDK DirectShow filters:\n");
  ListCategoryFilters(kLegacyAmFilterCategory, source, out);
  return 0;
}

}  // namespace tessulor
