// The shape of a unit's diagnostics table: every error the unit records
// (code, message, the line number hosts see with it) and every line it
// prints on standard output, in one place. A unit writes two X-macro lists
// and instantiates them with VEK_DIAGNOSTICS; code then names rows, and
// tests compare against the same rows instead of copying the texts.
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

// Prints a printf-style row with its arguments.
inline void PrintRow(const char* format, va_list args) { std::vprintf(format, args); }

#define VEK_DIAG_ID(id, ...) id,
#define VEK_DIAG_ERROR_ROW(id, code, message, line) {code, VEK_W(message), line},
#define VEK_DIAG_LINE_ROW(id, text) text,

// Declares, for unit prefix P: enum class P##Err and the table k##P##Errors,
// P##Error(id, detail) recording a row with the unit's source path; and,
// when LINES is not VEK_NO_LINES, enum class P##Line, k##P##Lines and
// P##Print(id, ...) printing a row.
#define VEK_DIAGNOSTICS_ERRORS(P, ERRORS, source)                           \
  enum class P##Err{ERRORS(VEK_DIAG_ID)};                                   \
  inline constexpr ErrorRow k##P##Errors[] = {ERRORS(VEK_DIAG_ERROR_ROW)};  \
  inline LONG P##Error(P##Err id, LONG detail) {                            \
    return RecordError(k##P##Errors[static_cast<int>(id)], detail, source); \
  }                                                                         \
  inline const ErrorRow& P##ErrorRow(P##Err id) { return k##P##Errors[static_cast<int>(id)]; }

#define VEK_DIAGNOSTICS_LINES(P, LINES)                                                    \
  enum class P##Line{LINES(VEK_DIAG_ID)};                                                  \
  inline constexpr const char* k##P##Lines[] = {LINES(VEK_DIAG_LINE_ROW)};                 \
  inline const char* P##LineText(P##Line id) { return k##P##Lines[static_cast<int>(id)]; } \
  inline void P##Print(P##Line id, ...) {                                                  \
    va_list args;                                                                          \
    va_start(args, id);                                                                    \
    PrintRow(P##LineText(id), args);                                                       \
    va_end(args);                                                                          \
  }
