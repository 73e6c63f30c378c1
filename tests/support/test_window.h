// A window for device tests on either build: a real Win32 window on
// Windows, a virtual window of the runtime on POSIX.
#pragma once

#include <windows.h>

#ifdef _WIN32
inline HWND CreateTestWindow(int clientWidth, int clientHeight) {
  static const wchar_t kClass[] = L"vektest";
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);
    registered = true;
  }
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  return CreateWindowExW(0, kClass, L"vek test", WS_OVERLAPPEDWINDOW, 0, 0, r.right - r.left,
                         r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}
inline void ResizeTestWindow(HWND window, int clientWidth, int clientHeight) {
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
inline void DestroyTestWindow(HWND window) { DestroyWindow(window); }
#else
#include <vekrt/runtime.h>
inline HWND CreateTestWindow(int clientWidth, int clientHeight) {
  return vrt::CreateVirtualWindow(0, 0, clientWidth, clientHeight);
}
inline void ResizeTestWindow(HWND window, int clientWidth, int clientHeight) {
  vrt::ResizeVirtualWindow(window, clientWidth, clientHeight);
}
inline void DestroyTestWindow(HWND window) { vrt::DestroyVirtualWindow(window); }
#endif
