// The host's base library: memory, frame memory, pointer lists, per-source
// loggers and the last-error slot. Every call is standard call except
// LogInfo, whose variable argument list the caller removes.
#pragma once

#include <windows.h>

#ifdef _WIN32
#ifdef PELTO_BUILD
#define PELTO_API __declspec(dllexport)
#else
#define PELTO_API __declspec(dllimport)
#endif
#else
#define PELTO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Growable list of pointers embedded in its owner and zero-filled before
// first use. Owners read `count` and `entries` directly, may sort `entries`
// in place, and empty the list by writing 0 to `count`.
typedef struct PBuffer {
  DWORD capacity;  // the library's own word
  DWORD count;
  void** entries;
} PBuffer;

// Frame memory: blocks handed out until the next ResetMemBuffer. Embedded in
// its owner, zero-filled before first use; only this library reads it.
typedef struct MemBuffer {
  UINT_PTR words[24 / sizeof(UINT_PTR)];
} MemBuffer;

// The last-error record. Its second 32-bit word is the error code.
typedef struct ErrorRecord {
  LONG isSet;
  LONG code;
  LONG detail;
  LONG line;
  WCHAR message[256];
  WCHAR source[64];
} ErrorRecord;

PELTO_API void* WINAPI Malloc(UINT size);
// Returns 1 when a block was released, 0 for null.
PELTO_API int WINAPI Free(void* block);

PELTO_API void* WINAPI MemMalloc(MemBuffer* buffer, UINT size);
PELTO_API void WINAPI ResetMemBuffer(MemBuffer* buffer);

PELTO_API void WINAPI PBufferAdd(PBuffer* buffer, void* entry);
PELTO_API void WINAPI PBufferRemoveAtPointer(PBuffer* buffer, void* entry);
PELTO_API void WINAPI SetPBufferCapcity(PBuffer* buffer, UINT count);

PELTO_API LONG WINAPI GetLogger(const WCHAR* sourcePath);
// "%d" takes a 32-bit integer, "%s" a UTF-16 string, "%%" is a percent sign.
PELTO_API void LogInfo(LONG logger, const WCHAR* format, ...);

PELTO_API LONG WINAPI SetError(LONG code, LONG detail, const WCHAR* message, LONG line,
                               const WCHAR* sourcePath);
PELTO_API ErrorRecord* WINAPI GetError(void);

// ---- Beside the base contract: what hosts and tests need -----------------

// Releases the storage behind a list or frame memory; the record embedding it
// can then be freed. The buffer is left zero-filled and usable.
PELTO_API void WINAPI ReleasePBuffer(PBuffer* buffer);
PELTO_API void WINAPI ReleaseMemBuffer(MemBuffer* buffer);

// Copies the whole last-error record; returns 0 when no error was recorded
// since the last ClearError.
PELTO_API int WINAPI ReadLastError(ErrorRecord* out);
PELTO_API void WINAPI ClearError(void);

// Blocks from Malloc not yet given back to Free.
PELTO_API LONG WINAPI LiveBlockCount(void);
// Makes the Malloc call `skip` calls from now fail (return null), `times`
// times in a row; times 0 clears.
PELTO_API void WINAPI FailMalloc(LONG skip, LONG times);

// Log lines. Every line is "<source>: <text>" in UTF-8. They go to the file
// named by the environment variable PELTO_LOG ("-" = standard error) when it
// is set, and to an in-memory capture while one is on.
PELTO_API void WINAPI SetLogCapture(BOOL on);  // on: starts a fresh capture
// Copies the captured lines, each ended by '\n', with a terminating zero
// (truncated to size - 1 bytes); returns the full length without the zero.
PELTO_API int WINAPI GetCapturedLog(char* buffer, int size);

#ifdef __cplusplus
}
#endif
