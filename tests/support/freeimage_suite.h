// A fixture layer for suites that decode pictures. Programs linked with the
// library's static archive get no module attach on Windows, so there the
// suite loads FreeImage itself, as vek.dll does when attached (on POSIX the
// decoding unit's constructor loads it).
#pragma once

#include "vekimage/freeimage.h"

template <class Base>
class WithFreeImage : public Base {
 protected:
  static void SetUpTestSuite() {
#ifdef _WIN32
    LoadFreeImage();
#endif
  }
  static void TearDownTestSuite() {
#ifdef _WIN32
    UnloadFreeImage();
#endif
  }
};
