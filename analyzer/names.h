// Name tests and clean-ups that the system report and both listings share.
#pragma once

#include <cstdint>
#include <string>

namespace tessulor {

// True if the name contains "Media SDK" or "Intel® Media" (case-sensitive, anywhere).
bool IsMediaSdkName(const std::wstring& name);

// The first registered sign (U+00AE) becomes "(R)"; later ones stay.
std::wstring ReplaceRegisteredSign(const std::wstring& name);

// State text of a WMI Availability value: its low 16 bits, read signed, select one of the
// texts for 1..21; anything else is a single space.
const wchar_t* AvailabilityText(std::int64_t availability);

// The operating system caption: the name up to its first '|', or all of it without one.
std::wstring OsCaption(const std::wstring& name);

// UTF-8 to wide text; each invalid byte becomes U+FFFD, so foreign bytes never cut a line.
std::wstring Utf8ToWide(const std::string& text);

// UTF-16 units to wide text (identity where wchar_t is 16 bits); stops at the first zero.
std::wstring Utf16ToWide(const char16_t* units, std::size_t count);

}  // namespace tessulor
