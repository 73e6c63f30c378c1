// Every error the font unit records, in one table: code, message and the
// line number reported with it (the numbers hosts already match on).
#pragma once

#include "host/diagnostics.h"

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

VEK_DIAGNOSTICS_ERRORS(Font, VEK_FONT_ERRORS, VEK_SRC_VEKFONT)
