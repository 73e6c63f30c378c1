// The host's file library: file objects the library reads images from. The
// five Rask* calls are the contract; the rest lets a host or a test make
// file objects from a path or from bytes in memory.
#pragma once

#include <windows.h>

#ifdef _WIN32
#ifdef RASK_BUILD
#define RASK_API __declspec(dllexport)
#else
#define RASK_API __declspec(dllimport)
#endif
#else
#define RASK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RaskFile* HRASKFILE;

// Size in bytes; 0 when empty or unreadable.
RASK_API DWORD WINAPI RaskGetFileSize(HRASKFILE file);
// Non-zero when the file is open. mode 0 = read.
RASK_API BOOL WINAPI RaskOpenFile(HRASKFILE file, DWORD mode);
// Reads up to `size` bytes at the 64-bit offset (offsetLow, offsetHigh) into
// buffer; returns the bytes read, 0 on failure or when the file is not open.
RASK_API DWORD WINAPI RaskReadFile(HRASKFILE file, DWORD offsetLow, DWORD offsetHigh, void* buffer,
                                   DWORD size);
RASK_API BOOL WINAPI RaskCloseFile(HRASKFILE file);
// Null-terminated UTF-16 URI: the path, or the name given to a memory file.
RASK_API const WCHAR* WINAPI RaskGetFileURI(HRASKFILE file);

// ---- Beside the contract ---------------------------------------------------
RASK_API HRASKFILE WINAPI RaskCreateFileFromPath(const WCHAR* path);
// The bytes are copied; uri may be null (then "memory:").
RASK_API HRASKFILE WINAPI RaskCreateFileFromMemory(const void* data, DWORD size, const WCHAR* uri);
RASK_API void WINAPI RaskDestroyFile(HRASKFILE file);

// Test hooks: make the next open or read of this file fail. The flags stay
// in force until cleared with 0.
#define RASK_FAIL_OPEN 1
#define RASK_FAIL_READ 2
RASK_API void WINAPI RaskSetFileFailure(HRASKFILE file, DWORD failures);

#ifdef __cplusplus
}
#endif
