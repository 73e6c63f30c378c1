// Every error the font unit records, in one table: code, message and the
// line number reported with it (the numbers hosts already match on).
#pragma once

#include "host/host.h"

#define VEK_FONT_ERRORS(X)                                                       \
  X(kTooSmall, kErrArgument, "VekCreateFont fail, too small font size", 19)      \
  X(kTooLarge, kErrArgument, "VekCreateFont fail, too large font size", 25)      \
  X(kMallocFont, kErrAllocation, "VekCreateFont fail, malloc VekFont fail", 32)  \
  X(kCreateFont, kErrDirect3D, "VekCreateFont fail, CreateFont fail", 79)        \
  X(kSelectFont, kErrDirect3D, "VekCreateFont fail, SelectObject fail", 86)      \
  X(kTextMetrics, kErrLockOrCaps, "VekCreateFont fail, GetTextMetrics fail", 89) \
  X(kMallocBits, kErrAllocation, "VekCreateFont fail, malloc cbits fail", 101)   \
  X(kLockCell, kErrLockOrCaps, "font->tex->LockRect fail", 409)                  \
  X(kLockOldAtlas, kErrDirect3D, "LockTexture fail", 552)                        \
  X(kLockNewAtlas, kErrDirect3D, "LockTexture fail", 561)                        \
  X(kMallocEntries, kErrAllocation, "malloc CharCoordinate* fail", 666)

enum class FontErr {
#define VEK_FONT_ERROR_ID(id, code, message, line) id,
  VEK_FONT_ERRORS(VEK_FONT_ERROR_ID)
#undef VEK_FONT_ERROR_ID
};

struct FontErrorEntry {
  LONG code;
  const WCHAR* message;
  LONG line;
};

inline constexpr FontErrorEntry kFontErrors[] = {
#define VEK_FONT_ERROR_ENTRY(id, code, message, line) {code, VEK_W(message), line},
    VEK_FONT_ERRORS(VEK_FONT_ERROR_ENTRY)
#undef VEK_FONT_ERROR_ENTRY
};

// Records the error with the unit's source path; returns SetError's value.
inline LONG FontError(FontErr id, LONG detail) {
  const FontErrorEntry& e = kFontErrors[static_cast<int>(id)];
  return SetError(e.code, detail, e.message, e.line, VEK_SRC_VEKFONT);
}
