// The font file every text test draws with: Debian's DejaVu Sans, registered
// for the process on either build (under Wine through its Z: drive), so both
// builds rasterise the same file.
#pragma once

#include <vek/vek.h>

#include "host/host.h"

#ifdef _WIN32
#define VEK_TEST_FONT_FILE VEK_W("Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf")
#else
#define VEK_TEST_FONT_FILE VEK_W("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")
#endif
#define VEK_TEST_FACE VEK_W("DejaVu Sans")

// Registers the file for as long as it lives.
class TestFontFile {
 public:
  TestFontFile() : added_(VekAddFontFile(VEK_TEST_FONT_FILE)) {}
  ~TestFontFile() {
    if (added_ > 0) VekRemoveFontFile(VEK_TEST_FONT_FILE);
  }
  TestFontFile(const TestFontFile&) = delete;
  TestFontFile& operator=(const TestFontFile&) = delete;
  int added() const { return added_; }

 private:
  int added_;
};
