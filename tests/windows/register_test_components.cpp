// Gives a fresh Wine prefix the DirectShow filters and Media Foundation transforms that the
// Windows tests look for. Writing the registry from here keeps the registered sign intact
// (command-line registry tools mangle it under a C locale).
#include <windows.h>
#include <mfapi.h>
#include <mftransform.h>

#include <cstdio>
#include <string>

#include "test_registrations.h"

namespace {

const wchar_t kFilterInstances[] =
    L"Software\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\";

bool SetString(const std::wstring& keyPath, const wchar_t* name, const wchar_t* value) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    const DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) std::fprintf(stderr, "registry write failed (%ld): %ls\n", status, keyPath.c_str());
  return status == ERROR_SUCCESS;
}

bool RegisterFilters() {
  bool ok = true;
  for (const auto& filter : korvala_wine_test::kTestFilters) {
    const std::wstring instance = std::wstring(kFilterInstances) + filter.clsid;
    ok &= SetString(instance, L"FriendlyName", filter.friendlyName);
    ok &= SetString(instance, L"CLSID", filter.clsid);
    if (filter.server) {
      const std::wstring server = std::wstring(L"Software\\Classes\\CLSID\\") + filter.clsid + L"\\InProcServer32";
      ok &= SetString(server, nullptr, filter.server);
    }
  }
  return ok;
}

bool RegisterTransform(const GUID& clsid, const GUID& category, const wchar_t* name) {
  const HRESULT hr = MFTRegister(clsid, category, const_cast<LPWSTR>(name), 0, 0, nullptr, 0, nullptr, nullptr);
  if (FAILED(hr)) std::fprintf(stderr, "MFTRegister failed (0x%08lx): %ls\n", static_cast<unsigned long>(hr), name);
  return SUCCEEDED(hr);
}

}  // namespace

int wmain() {
  using namespace korvala_wine_test;
  bool ok = RegisterFilters();
  ok &= RegisterTransform(kTestDecoderClsid, MFT_CATEGORY_VIDEO_DECODER, L"Intel\u00AE Korvala test decoder");
  ok &= RegisterTransform(kTestDecoderClsid, MFT_CATEGORY_VIDEO_PROCESSOR, L"Intel\u00AE Korvala test decoder");
  ok &= RegisterTransform(kTestEffectClsid, MFT_CATEGORY_VIDEO_EFFECT, L"Korvala test effect");
  return ok ? 0 : 1;
}
