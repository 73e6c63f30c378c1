// The texture record on a device that needs power-of-two textures: the
// picture sits in the top-left corner of a larger level and the record
// keeps the ratio.
#include <vek/vek.h>

#include "gd/device.h"
#include "support/dds.h"
#include "support/vek_test.h"
#include "vektex/texture.h"

namespace {

TEST_F(VekTest, PaddedLevelsRecordTheirScale) {
  vrt::AdapterConfig a = vrt::DefaultAdapter();
  a.textureCaps |= D3DPTEXTURECAPS_POW2;
  vrt::SetAdapters({a});
  GraphicsDevice* device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 0, 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->texturesPow2, 1);

  const std::vector<uint8_t> file = testdds::Solid32(100, 60, 0xFF00FF00);
  VekTexture t{};
  t.width = 100;
  t.height = 60;
  ASSERT_EQ(CreateTextureFromMemory(&t, device->cache.device, file.data(),
                                    static_cast<UINT>(file.size()), FALSE),
            1);
  D3DSURFACE_DESC level{};
  t.tex->GetLevelDesc(0, &level);
  EXPECT_EQ(level.Width, 128u);
  EXPECT_EQ(level.Height, 64u);
  EXPECT_EQ(t.width, 100u);  // the picture's size, as the file gives it
  EXPECT_EQ(t.uScale, 0.78125f);
  EXPECT_EQ(t.vScale, 0.9375f);
  float u = 1.0f, v = 1.0f;
  ScaleTexCoord(&t, &u, &v);
  EXPECT_EQ(u, 0.78125f);
  EXPECT_EQ(v, 0.9375f);
  ReleaseTexture(&t);
  VekCloseGraphicsDevice(device);
}

}  // namespace
