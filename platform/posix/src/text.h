// UTF-16 <-> UTF-8 conversion for the wide Win32 entry points.
#pragma once

#include <windows.h>

#include <string>

namespace vrt::text {

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(const WCHAR* text);
std::u16string ToUtf16(const std::string& text);

}  // namespace vrt::text
