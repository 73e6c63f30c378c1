// The shape of a unit's diagnostics table: every error the unit records
// (code, message, the line number hosts see with it) and every line it
// prints on standard output, in one place. A unit writes its X-macro lists
// and instantiates them with VEK_DIAGNOSTICS_ERRORS and, when it prints,
// VEK_DIAGNOSTICS_LINES; code then names rows, and tests compare against
// the same rows instead of copying the texts.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "host/host.h"

struct ErrorRow {
  LONG code;
  const WCHAR* message;
  LONG line;
};

// Records the row's error; returns SetError's value.
inline LONG RecordError(const ErrorRow& row, LONG detail, const WCHAR* source) {
  return SetError(row.code, detail, row.message, row.line, source);
}

#define VEK_DIAG_ID(id, ...) id,
#define VEK_DIAG_ERROR_ROW(id, code, message, line) {code, VEK_W(message), line},
#define VEK_DIAG_LINE_ROW(id, text) text,

// For unit prefix P: enum class P##Err, the table k##P##Errors, P##ErrorRow(id)
// and P##Error(id, detail), which records the row with the unit's source path.
#define VEK_DIAGNOSTICS_ERRORS(P, ERRORS, source)                                              \
  enum class P##Err{ERRORS(VEK_DIAG_ID)};                                                      \
  inline constexpr ErrorRow k##P##Errors[] = {ERRORS(VEK_DIAG_ERROR_ROW)};                     \
  inline const ErrorRow& P##ErrorRow(P##Err id) { return k##P##Errors[static_cast<int>(id)]; } \
  inline LONG P##Error(P##Err id, LONG detail) {                                               \
    return RecordError(P##ErrorRow(id), detail, source);                                       \
  }

// For unit prefix P: enum class P##Line, the table k##P##Lines (printf
// formats), P##LineText(id) and P##Print(id, ...), which prints a row.
#define VEK_DIAGNOSTICS_LINES(P, LINES)                                                    \
  enum class P##Line{LINES(VEK_DIAG_ID)};                                                  \
  inline constexpr const char* k##P##Lines[] = {LINES(VEK_DIAG_LINE_ROW)};                 \
  inline const char* P##LineText(P##Line id) { return k##P##Lines[static_cast<int>(id)]; } \
  inline void P##Print(P##Line id, ...) {                                                  \
    va_list args;                                                                          \
    va_start(args, id);                                                                    \
    std::vprintf(P##LineText(id), args);                                                   \
    va_end(args);                                                                          \
  }
