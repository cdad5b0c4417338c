// The filters and transforms that the Wine prefix of the tests is given, and what the listings
// must make of them.
#pragma once

namespace korvala_wine_test {

struct TestFilter {
  const wchar_t* clsid;
  const wchar_t* friendlyName;
  const wchar_t* server;  // InProcServer32 default value, or null for no key
  const wchar_t* listedName;  // the name as listed, or null when the listing must leave it out
};

// Legacy DirectShow filters (CLSID_LegacyAmFilterCategory).
constexpr TestFilter kTestFilters[] = {
    {L"{6B1D7A10-31C4-4E2B-9B6A-0A1C5E000001}", L"Intel\u00AE Media SDK H.264 Decoder (Korvala test)",
     L"C:\\Program Files\\Korvala Test\\mfx_h264_dec.dll", L"Intel(R) Media SDK H.264 Decoder (Korvala test)"},
    {L"{6B1D7A10-31C4-4E2B-9B6A-0A1C5E000002}", L"Intel\u00AE Media MVC Decoder (Korvala test)", nullptr,
     L"Intel(R) Media MVC Decoder (Korvala test)"},
    {L"{6B1D7A10-31C4-4E2B-9B6A-0A1C5E000003}", L"Intel(R) Media Decoder (Korvala test)",
     L"C:\\Program Files\\Korvala Test\\other.dll", nullptr},
    {L"{6B1D7A10-31C4-4E2B-9B6A-0A1C5E000004}", L"Korvala test MEDIA SDK filter", nullptr, nullptr},
};

// {6B1D7A10-31C4-4E2B-9B6A-0A1C5E000011} and ...12: a decoder that is also a video processor,
// and an effect.
constexpr GUID kTestDecoderClsid = {0x6B1D7A10, 0x31C4, 0x4E2B, {0x9B, 0x6A, 0x0A, 0x1C, 0x5E, 0x00, 0x00, 0x11}};
constexpr GUID kTestEffectClsid = {0x6B1D7A10, 0x31C4, 0x4E2B, {0x9B, 0x6A, 0x0A, 0x1C, 0x5E, 0x00, 0x00, 0x12}};

}  // namespace korvala_wine_test
