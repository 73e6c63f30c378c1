// A windowed device (WithDevice), or a windowed 32-bit device with a window
// drawing surface on it (WithWindowSurface), opened for each test over
// either fixture (PlatformTest on both builds, VekTest with the runtime's
// controls) and closed before that fixture's own checks.
#pragma once

#include <gtest/gtest.h>
#include <vek/vek.h>

#include "gd/device.h"
#include "graphics/graphics.h"

// The back buffer in the desktop's format.
template <class Base>
class WithDevice : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    if (this->HasFatalFailure()) return;
    device = VekOpenGraphicsDevice(0, this->window, 0, 1, 0, 0, 0, 0);
    ASSERT_NE(device, nullptr);
  }
  void TearDown() override {
    if (device) VekCloseGraphicsDevice(device);
    Base::TearDown();
  }
  GraphicsDevice* device = nullptr;
};

template <class Base>
class WithWindowSurface : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    if (this->HasFatalFailure()) return;
    device = VekOpenGraphicsDevice(0, this->window, 0, 1, 0, 0, 32, 0);
    ASSERT_NE(device, nullptr);
    g = VekOpenGraphics(device);
    ASSERT_NE(g, nullptr);
  }
  void TearDown() override {
    VekCloseGraphics(g);
    if (device) VekCloseGraphicsDevice(device);
    Base::TearDown();
  }
  GraphicsDevice* device = nullptr;
  HVEKGRAPHICS g = nullptr;
};
