// Effect shaders against the runtime's controls: shader support by version,
// assembly of each program into tokens, and no shader object outliving a reset.
#include <vek/vek.h>

#include "gd/device.h"
#include "gd/effects.h"
#include "graphics/effect_selection.h"
#include "support/diagnostics.h"
#include "support/vek_test.h"

namespace {

class EffectsRuntimeTest : public VekTest {
 protected:
  GraphicsDevice* OpenWithPixelShaders(DWORD version) {
    vrt::AdapterConfig a = vrt::DefaultAdapter();
    a.pixelShaderVersion = version;
    vrt::SetAdapters({a});
    return VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 0, 0);
  }
};

TEST_F(EffectsRuntimeTest, OnlyExactlyVersionOnePointFourCreatesShaders) {
  for (DWORD version : {D3DPS_VERSION(1, 1), D3DPS_VERSION(1, 3)}) {
    GraphicsDevice* device = OpenWithPixelShaders(version);
    ASSERT_NE(device, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(GD_CreatePixelShader(device, 0), 0);  // the version test comes first
    EXPECT_EQ(GD_CreatePixelShader(device, 3), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              Printed(GdLine::kNoPs14) + Printed(GdLine::kNoPs14));
    EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::CreatePixelShader"), 0u);
    VekCloseGraphicsDevice(device);
  }
}

TEST_F(EffectsRuntimeTest, ARefusedShaderIsTriedAgainNextTime) {
  GraphicsDevice* device = OpenWithPixelShaders(D3DPS_VERSION(1, 4));
  ASSERT_NE(device, nullptr);
  vrt::FailCall("IDirect3DDevice8::CreatePixelShader", D3DERR_INVALIDCALL);
  testing::internal::CaptureStdout();
  EXPECT_EQ(GD_CreatePixelShader(device, 4), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), Printed(GdLine::kCreateShader));
  EXPECT_EQ(device->shaderHandle[4], 0u);
  EXPECT_EQ(GD_CreatePixelShader(device, 4), 1);
  EXPECT_NE(device->shaderHandle[4], 0u);
  VekCloseGraphicsDevice(device);
}

TEST_F(EffectsRuntimeTest, NoShaderOutlivesResetsOrClose) {
  GraphicsDevice* device = OpenWithPixelShaders(D3DPS_VERSION(1, 4));
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(GD_CreatePixelShader(device, 1), 1);
  ASSERT_EQ(GD_CreatePixelShader(device, 8), 1);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(VekResetGraphicsDevice(device, 1, 0, 0, 0, 0), 1);
  // Two created at first, then two re-created per reset; each re-creation
  // deleted its predecessor.
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::CreatePixelShader"), 8u);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::DeletePixelShader"), 6u);
  VekCloseGraphicsDevice(device);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::DeletePixelShader"), 8u);
}

}  // namespace

namespace {

TEST_F(EffectsRuntimeTest, RepeatedRunsReachTheDeviceOnce) {
  GraphicsDevice* device = OpenWithPixelShaders(D3DPS_VERSION(1, 4));
  ASSERT_NE(device, nullptr);
  HVEKGRAPHICS g = VekOpenGraphics(device);
  const float p[4] = {0.0f, 255.0f, 0.0f, 0.0f};
  vrt::ClearCallLog();
  ASSERT_EQ(ApplyEffectShader(g, 2, p), 1);
  ASSERT_EQ(ApplyEffectShader(g, 2, p), 1);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::SetPixelShader"), 1u);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::SetPixelShaderConstant"), 1u);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::CreatePixelShader"), 1u);
  VekCloseGraphics(g);
  VekCloseGraphicsDevice(device);
}

}  // namespace
