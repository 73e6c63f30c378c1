// Module entry point of vek.dll. The loggers are taken by static
// initialisation before this runs; attaching loads FreeImage, detaching
// releases it (and, on FreeLibrary, the shared Direct3D object); thread
// notifications do nothing.
#include <windows.h>

#include "gd/direct3d.h"
#include "vekimage/freeimage.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      LoadFreeImage();
      break;
    case DLL_PROCESS_DETACH:
      UnloadFreeImage();
      // Unloaded by FreeLibrary (reserved null): the shared Direct3D object
      // goes too. At process exit (reserved set) nothing is released under
      // the loader lock; the process ends anyway.
      if (!reserved) ReleaseDirect3D();
      break;
    default:
      break;
  }
  return TRUE;
}
