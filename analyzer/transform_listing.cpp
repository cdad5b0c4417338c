#include "transform_listing.h"

#include "names.h"

namespace tessulor {

const Guid kMftCategoryVideoDecoder = {0xD6C02D4B, 0x6833, 0x45B4,
                                       {0x97, 0x1A, 0x05, 0xA4, 0xB0, 0x4B, 0xAB, 0x91}};
const Guid kMftCategoryVideoEffect = {0x12E17C21, 0x532C, 0x4A6E,
                                      {0x8A, 0x1C, 0x40, 0x82, 0x5A, 0x73, 0x63, 0x97}};
const Guid kMftCategoryVideoEncoder = {0xF79EAC7D, 0xE545, 0x4387,
                                       {0xBD, 0xEE, 0xD6, 0x47, 0xD7, 0xBD, 0xE4, 0x2A}};
const Guid kMftCategoryVideoProcessor = {0x302EA3FC, 0xAA5F, 0x47F9,
                                         {0x9F, 0x7A, 0xC2, 0x18, 0x8B, 0xB1, 0x63, 0x02}};

HResult ListTransforms(TransformSource& source, TextOut& out) {
  HResult hr = source.Initialize();
  if (Failed(hr)) return hr;

  const Guid* const categories[] = {&kMftCategoryVideoDecoder, &kMftCategoryVideoEffect,
                                    &kMftCategoryVideoEncoder, &kMftCategoryVideoProcessor};
  for (const Guid* category : categories) {
    std::vector<std::unique_ptr<TransformActivation>> activations;
    hr = source.Enumerate(*category, activations);
    if (Failed(hr)) break;
    for (auto& activation : activations) {
      if (!activation) continue;
      Guid clsid{};
      if (Failed(activation->GetClsid(clsid))) continue;
      std::wstring clsidText;
      if (Failed(source.StringFromIid(clsid, clsidText))) continue;
      std::wstring name;
      if (Failed(activation->GetFriendlyName(name))) continue;
      if (name.find(L"Intel") != std::wstring::npos) {
        out.Print(L"\t%ls : %ls\n", ReplaceRegisteredSign(name).c_str(), clsidText.c_str());
      }
    }
    hr = kSOk;
  }

  source.Uninitialize();
  return hr;
}

int ListMediaFoundationTransforms(TransformSource& source, TextOut& out) {
  out.Print(L"\nInstalled Intel Media Foundation Transforms:\n");
  ListTransforms(source, out);
  out.Print(L"\n\n");
  return 0;
}

}  // namespace tessulor
