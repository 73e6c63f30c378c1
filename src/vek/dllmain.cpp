// Module entry point of vek.dll. The loggers are taken by static
// initialisation before this runs; attaching loads FreeImage, detaching
// releases it and any screen capture not collected, thread notifications
// do nothing.
#include <windows.h>

#include "vekimage/capture.h"
#include "vekimage/freeimage.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      LoadFreeImage();
      break;
    case DLL_PROCESS_DETACH:
      ReleaseScreenCapture();
      UnloadFreeImage();
      break;
    default:
      break;
  }
  return TRUE;
}
