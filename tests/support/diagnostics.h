// The library's diagnostics tables seen from tests: what a row prints (with
// its arguments) and what a recorded row holds, so tests state which row
// they expect instead of copying its text.
#pragma once

#include <cstdio>
#include <string>

#include "gd/gd_diagnostics.h"
#include "graphics/graphics_diagnostics.h"
#include "host/utf8.h"
#include "vekfont/font_errors.h"
#include "vekimage/image_diagnostics.h"
#include "vektex/vektex_diagnostics.h"

inline const char* RowText(GdLine id) { return GdLineText(id); }
inline const char* RowText(GraphicsLine id) { return GraphicsLineText(id); }
inline const char* RowText(ImageLine id) { return ImageLineText(id); }

inline const ErrorRow& Row(GdErr id) { return GdErrorRow(id); }
inline const ErrorRow& Row(GraphicsErr id) { return GraphicsErrorRow(id); }
inline const ErrorRow& Row(ImageErr id) { return ImageErrorRow(id); }
inline const ErrorRow& Row(TexErr id) { return TexErrorRow(id); }
inline const ErrorRow& Row(FontErr id) { return FontErrorRow(id); }

// The bytes a printed row gives with these arguments.
template <class Line, class... Args>
std::string Printed(Line id, Args... args) {
  const char* format = RowText(id);
  if constexpr (sizeof...(Args) == 0) {
    return format;
  } else {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<size_t>(n), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
  }
}

// The message a recorded row carries, as UTF-8.
template <class Err>
std::string Message(Err id) {
  return Utf16ToUtf8(Row(id).message);
}
