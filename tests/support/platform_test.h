// Fixture for tests that run on both builds, on whatever Direct3D 8 is
// underneath: no failure injection, no runtime configuration. Each test gets
// a window with a 640 x 480 client area and captured log lines, and ends with no base-library
// block leaked and no device left current.
#pragma once

#include <d3d8.h>
#include <gtest/gtest.h>
#include <pelto.h>

#include <string>
#include <vector>

#include "host/utf8.h"

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static std::string CapturedLog();
  struct LastError {
    bool set = false;
    LONG code = 0;
    LONG detail = 0;
    LONG line = 0;
    std::string message;
    std::string source;
  };
  static LastError ReadError();

  HWND window = nullptr;

 private:
  LONG blocksAtStart_ = 0;
};

struct GraphicsDevice;
// The description of the device's back buffer (zeros when it has none).
D3DSURFACE_DESC BackBufferDesc(GraphicsDevice* device);
// The back buffer's pixels as 32-bit values, read through a copy (back
// buffers cannot be locked); empty when that fails or the format is not 32-bit.
std::vector<DWORD> ReadBackBufferPixels(GraphicsDevice* device);
