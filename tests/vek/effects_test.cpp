// Effect shaders: every program assembles into tokens the device accepts
// (under Wine, the real Direct3D 8 validates them), shaders are created
// once, and a reset re-creates exactly those that existed.
#include "gd/effects.h"

#include <vek/vek.h>

#include <limits>

#include "gd/device.h"
#include "graphics/effect_selection.h"
#include "graphics/graphics.h"
#include "support/platform_test.h"
#include "support/surface_test.h"

namespace {

using EffectsTest = WithDevice<PlatformTest>;

TEST_F(EffectsTest, EveryProgramIsSetAtOpenAndCreatedOnDemand) {
  EXPECT_EQ(device->shaderSource[0], nullptr);
  EXPECT_EQ(device->shaderSource[9], nullptr);
  for (int id = 1; id <= 8; ++id) {
    SCOPED_TRACE(id);
    EXPECT_EQ(device->shaderSource[id], EffectShaderSource(id));
    EXPECT_EQ(device->shaderHandle[id], 0u);
  }
  if (device->caps.PixelShaderVersion != D3DPS_VERSION(1, 4)) GTEST_SKIP() << "no ps.1.4";
  for (int id = 1; id <= 8; ++id) {
    SCOPED_TRACE(id);
    ASSERT_EQ(GD_CreatePixelShader(device, id), 1);
    const DWORD handle = device->shaderHandle[id];
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(GD_CreatePixelShader(device, id), 1);
    EXPECT_EQ(device->shaderHandle[id], handle);  // created once
    EXPECT_EQ(device->cache.device->SetPixelShader(handle), D3D_OK);
  }
  device->cache.device->SetPixelShader(0);
  EXPECT_EQ(GD_CreatePixelShader(device, 0), 1);
  EXPECT_EQ(device->cache.pixelShader, 0u);
  EXPECT_EQ(GD_CreatePixelShader(device, 9), 0);
}

TEST_F(EffectsTest, ResetRecreatesTheShadersThatExisted) {
  if (device->caps.PixelShaderVersion != D3DPS_VERSION(1, 4)) GTEST_SKIP() << "no ps.1.4";
  ASSERT_EQ(GD_CreatePixelShader(device, 2), 1);
  ASSERT_EQ(GD_CreatePixelShader(device, 7), 1);
  ASSERT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 0, 0), 1);
  for (int id = 0; id < kEffectSlots; ++id) {
    SCOPED_TRACE(id);
    EXPECT_EQ(device->shaderHandle[id] != 0, id == 2 || id == 7);
  }
  EXPECT_EQ(device->cache.device->SetPixelShader(device->shaderHandle[7]), D3D_OK);
  device->cache.device->SetPixelShader(0);
}

}  // namespace

namespace {

class EffectSelectionTest : public WithWindowSurface<PlatformTest> {
 protected:
};

TEST_F(EffectSelectionTest, IdsAndParameters) {
  float swap[4] = {0.0f, 255.0f, 9.0f, 4.0f};
  VekSetPixelShader(g, 3, swap);
  EXPECT_EQ(g->shaderId, 3);
  EXPECT_EQ(g->shaderParam[1], 255.0f);
  EXPECT_EQ(g->shaderParam[3], 4.0f);  // copied, read by no program
  VekSetPixelShader(g, 8, swap);       // 8 and negative ids are not the host's
  VekSetPixelShader(g, -1, swap);
  EXPECT_EQ(g->shaderId, 3);
  VekSetPixelShader(g, 7, nullptr);  // a brightness without its factor
  EXPECT_EQ(g->shaderId, 3);
  VekSetPixelShader(g, 3, nullptr);
  EXPECT_EQ(g->shaderId, 3);
  EXPECT_EQ(g->shaderParam[1], 0.0f);
  VekSetPixelShader(nullptr, 3, swap);
}

TEST_F(EffectSelectionTest, BrightnessFactorBecomesAnAmountInPlace) {
  float p[4] = {0.0f, 255.0f, 1.5f, 0.0f};
  VekSetPixelShader(g, 7, p);
  EXPECT_EQ(g->shaderId, 7);
  EXPECT_EQ(g->shaderParam[2], 0.5f);
  EXPECT_EQ(p[2], 0.5f);       // the caller's array changed
  VekSetPixelShader(g, 7, p);  // 0.5 is now a darkening factor
  EXPECT_EQ(g->shaderId, 8);
  EXPECT_EQ(p[2], 0.5f);

  VekSetPixelShader(g, 1, nullptr);
  float same[4] = {0.0f, 255.0f, 1.0f, 0.0f};
  VekSetPixelShader(g, 7, same);  // unchanged brightness keeps grey
  EXPECT_EQ(g->shaderId, 1);
  float nan[4] = {0.0f, 255.0f, std::numeric_limits<float>::quiet_NaN(), 0.0f};
  VekSetPixelShader(g, 7, nan);
  EXPECT_EQ(g->shaderId, 1);
}

TEST_F(EffectSelectionTest, AppliedEffectSetsShaderAndConstant) {
  if (device->caps.PixelShaderVersion != D3DPS_VERSION(1, 4)) GTEST_SKIP() << "no ps.1.4";
  const float p[4] = {51.0f, 204.0f, 0.75f, 0.0f};
  ASSERT_EQ(ApplyEffectShader(g, 5, p), 1);
  EXPECT_EQ(device->cache.pixelShader, device->shaderHandle[5]);
  EXPECT_EQ(device->cache.pixelShaderConstant[0], 0.2f);
  EXPECT_EQ(device->cache.pixelShaderConstant[1], 0.8f);
  EXPECT_EQ(device->cache.pixelShaderConstant[2], 0.0f);  // only brightness reads the amount
  ASSERT_EQ(ApplyEffectShader(g, 8, p), 1);
  EXPECT_EQ(device->cache.pixelShaderConstant[2], 0.75f);

  // An amount out of range draws without a shader and clears the selection.
  float bright[4] = {0.0f, 255.0f, 2.5f, 0.0f};
  VekSetPixelShader(g, 7, bright);
  EXPECT_EQ(g->shaderParam[2], 1.5f);
  EXPECT_EQ(ApplyEffectShader(g, g->shaderId, g->shaderParam), 0);
  EXPECT_EQ(device->cache.pixelShader, 0u);
  EXPECT_EQ(g->shaderId, 0);
  EXPECT_EQ(g->shaderParam[2], 0.0f);
  EXPECT_EQ(ApplyEffectShader(g, 0, g->shaderParam), 0);
}

}  // namespace
