// Module entry point of vek.dll. The loggers are taken by static
// initialisation before this runs; thread notifications do nothing.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  switch (reason) {
    case DLL_PROCESS_ATTACH:
    case DLL_PROCESS_DETACH:
    default:
      break;
  }
  return TRUE;
}
