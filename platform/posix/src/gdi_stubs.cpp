// First linkable versions of the GDI entry points: every call fails cleanly
// (ERROR_CALL_NOT_IMPLEMENTED) until the object model, fonts and capture land.
#include <windows.h>

namespace {
constexpr DWORD kErrorCallNotImplemented = 120;
template <class T>
T Refuse(T result) {
  SetLastError(kErrorCallNotImplemented);
  return result;
}
}  // namespace

extern "C" {
HDC CreateCompatibleDC(HDC) { return Refuse<HDC>(nullptr); }
BOOL DeleteDC(HDC) { return Refuse<BOOL>(FALSE); }
HGDIOBJ SelectObject(HDC, HGDIOBJ) { return Refuse<HGDIOBJ>(nullptr); }
BOOL DeleteObject(HGDIOBJ) { return Refuse<BOOL>(FALSE); }
int GetObjectW(HANDLE, int, LPVOID) { return Refuse(0); }
DWORD GetObjectType(HGDIOBJ) { return Refuse<DWORD>(0); }
int GetDeviceCaps(HDC, int) { return Refuse(0); }
HFONT CreateFontW(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                  LPCWSTR) {
  return Refuse<HFONT>(nullptr);
}
BOOL GetTextMetricsW(HDC, LPTEXTMETRICW) { return Refuse<BOOL>(FALSE); }
BOOL GetTextExtentPoint32W(HDC, LPCWSTR, int, LPSIZE) { return Refuse<BOOL>(FALSE); }
DWORD GetGlyphOutlineW(HDC, UINT, UINT, LPGLYPHMETRICS, DWORD, LPVOID, const MAT2*) {
  return Refuse<DWORD>(GDI_ERROR);
}
int AddFontResourceW(LPCWSTR) { return Refuse(0); }
BOOL RemoveFontResourceW(LPCWSTR) { return Refuse<BOOL>(FALSE); }
int GetSystemMetrics(int) { return Refuse(0); }
HDC GetDC(HWND) { return Refuse<HDC>(nullptr); }
int ReleaseDC(HWND, HDC) { return Refuse(0); }
HBITMAP CreateCompatibleBitmap(HDC, int, int) { return Refuse<HBITMAP>(nullptr); }
BOOL BitBlt(HDC, int, int, int, int, HDC, int, int, DWORD) { return Refuse<BOOL>(FALSE); }
int GetDIBits(HDC, HBITMAP, UINT, UINT, LPVOID, LPBITMAPINFO, UINT) { return Refuse(0); }
}
