// Win32 names for the POSIX build, with Windows' sizes: WCHAR is 16-bit,
// LONG/DWORD/HRESULT are 32-bit, handles are pointer-sized. Only what the
// library, the host libraries and the tests use is declared; the services
// behind the functions live in libvekrt. C and C++ both include it: the
// COM root and reference types are C++ only, and WCHAR is char16_t in C++
// and the same 16-bit unsigned type in C.
#pragma once
#ifndef _WINDOWS_
#define _WINDOWS_  // as Windows' own header does; FreeImage.h checks it
#endif

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define APIENTRY
#define CALLBACK
#define STDMETHODCALLTYPE
#ifdef __cplusplus
#define STDAPI extern "C" HRESULT
#else
#define STDAPI HRESULT
#endif
#define DECLSPEC_IMPORT

#ifndef VEKRT_API
#define VEKRT_API __attribute__((visibility("default")))
#endif

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int32_t INT;
typedef int32_t BOOL;
typedef int32_t HRESULT;
typedef char CHAR;
#ifdef __cplusplus
typedef char16_t WCHAR;
#else
typedef uint16_t WCHAR;
#endif
typedef float FLOAT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef ULONG_PTR SIZE_T;
typedef ULONG_PTR DWORD_PTR;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

typedef void* HANDLE;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HMONITOR__* HMONITOR;
typedef struct HDC__* HDC;
typedef void* HGDIOBJ;  // as under STRICT: every GDI handle converts to it
typedef struct HBITMAP__* HBITMAP;
typedef struct HFONT__* HFONT;
typedef void* HLOCAL;
typedef LONG_PTR (*FARPROC)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *LPRECT;

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *LPPOINT;

typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE, *LPSIZE;

typedef struct tagPALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
} PALETTEENTRY;

typedef struct _RGNDATAHEADER {
  DWORD dwSize;
  DWORD iType;
  DWORD nCount;
  DWORD nRgnSize;
  RECT rcBound;
} RGNDATAHEADER;

typedef struct _RGNDATA {
  RGNDATAHEADER rdh;
  char Buffer[1];
} RGNDATA;

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
#endif
  LONGLONG QuadPart;
} LARGE_INTEGER;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID, IID;
#ifdef __cplusplus
typedef const IID& REFIID;
typedef const GUID& REFGUID;
#else
typedef const IID* REFIID;
typedef const GUID* REFGUID;
#endif

// HRESULTs
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_FAIL ((HRESULT)0x80004005)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define MAKE_HRESULT(sev, fac, code) \
  ((HRESULT)(((uint32_t)(sev) << 31) | ((uint32_t)(fac) << 16) | ((uint32_t)(code))))

#define LOWORD(l) ((WORD)((DWORD_PTR)(l) & 0xffff))
#define HIWORD(l) ((WORD)(((DWORD_PTR)(l) >> 16) & 0xffff))
#define LOBYTE(w) ((BYTE)((DWORD_PTR)(w) & 0xff))

// COM root. Every runtime object derives from it; C sees it opaque.
#ifdef __cplusplus
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};
#else
typedef struct IUnknown IUnknown;
#endif

// Recursive, like Windows' critical sections.
typedef struct _CRITICAL_SECTION {
  pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

// Process attach/detach reasons, for module entry points.
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

#ifdef __cplusplus
extern "C" {
#endif
// kernel32
VEKRT_API void InitializeCriticalSection(LPCRITICAL_SECTION cs);
VEKRT_API void DeleteCriticalSection(LPCRITICAL_SECTION cs);
VEKRT_API void EnterCriticalSection(LPCRITICAL_SECTION cs);
VEKRT_API void LeaveCriticalSection(LPCRITICAL_SECTION cs);
VEKRT_API HMODULE LoadLibraryW(LPCWSTR path);
VEKRT_API HMODULE LoadLibraryA(LPCSTR path);
VEKRT_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);
VEKRT_API BOOL FreeLibrary(HMODULE module);
VEKRT_API DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
VEKRT_API DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
VEKRT_API HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
VEKRT_API HLOCAL LocalFree(HLOCAL block);
VEKRT_API DWORD GetLastError(void);
VEKRT_API void SetLastError(DWORD code);

// user32
VEKRT_API BOOL GetClientRect(HWND window, LPRECT rect);
VEKRT_API BOOL IsWindow(HWND window);
VEKRT_API HWND GetDesktopWindow(void);
#ifdef __cplusplus
}
#endif

#include "wingdi.h"
