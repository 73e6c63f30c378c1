// Shared pieces of the pixel tests: a device drawing in pixel coordinates
// (an orthographic projection maps vertex x, y straight to the screen),
// vertices, textures and read-back of surfaces as raw pixels.
#pragma once

#include <cstring>
#include <vector>

#include "runtime_test.h"

struct Vertex {
  float x, y, z;
  DWORD color;
  float u, v;
};
inline constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class RasterTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(device->SetVertexShader(kFvf), D3D_OK);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    Ortho(640, 480);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
  }
  void TearDown() override {
    if (device) device->EndScene();
    DeviceTest::TearDown();
  }

  // Vertex x, y land on screen x, y of a width x height viewport.
  void Ortho(float width, float height) {
    D3DMATRIX m{};
    m._11 = 2.0f / width;
    m._22 = -2.0f / height;
    m._33 = 1.0f;
    m._41 = -1.0f;
    m._42 = 1.0f;
    m._44 = 1.0f;
    device->SetTransform(D3DTS_PROJECTION, &m);
  }

  // A quad as two triangles (a list of six vertices), UVs 0..1.
  static std::vector<Vertex> Quad(float x0, float y0, float x1, float y1, DWORD color,
                                  float z = 0.5f) {
    return {{x0, y0, z, color, 0, 0}, {x1, y0, z, color, 1, 0}, {x1, y1, z, color, 1, 1},
            {x0, y0, z, color, 0, 0}, {x1, y1, z, color, 1, 1}, {x0, y1, z, color, 0, 1}};
  }
  HRESULT Draw(const std::vector<Vertex>& v, D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST) {
    UINT count = static_cast<UINT>(v.size() / 3);
    if (type == D3DPT_TRIANGLEFAN || type == D3DPT_TRIANGLESTRIP)
      count = static_cast<UINT>(v.size() - 2);
    if (type == D3DPT_LINELIST) count = static_cast<UINT>(v.size() / 2);
    if (type == D3DPT_LINESTRIP) count = static_cast<UINT>(v.size() - 1);
    if (type == D3DPT_POINTLIST) count = static_cast<UINT>(v.size());
    return device->DrawPrimitiveUP(type, count, v.data(), sizeof(Vertex));
  }

  // The raw pixels of `surface` (any colour format), row-major.
  std::vector<uint32_t> Read(IDirect3DSurface8* surface) {
    D3DSURFACE_DESC d{};
    surface->GetDesc(&d);
    Com<IDirect3DSurface8> image;
    std::vector<uint32_t> out;
    if (device->CreateImageSurface(d.Width, d.Height, d.Format, image.out()) != D3D_OK) return out;
    if (device->CopyRects(surface, nullptr, 0, image.get(), nullptr) != D3D_OK) return out;
    D3DLOCKED_RECT lr{};
    if (image->LockRect(&lr, nullptr, D3DLOCK_READONLY) != D3D_OK) return out;
    const bool wide = d.Format == D3DFMT_A8R8G8B8 || d.Format == D3DFMT_X8R8G8B8;
    for (UINT y = 0; y < d.Height; ++y) {
      const BYTE* row = static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch;
      for (UINT x = 0; x < d.Width; ++x) {
        uint32_t v = 0;
        std::memcpy(&v, row + x * (wide ? 4 : 2), wide ? 4 : 2);
        out.push_back(v);
      }
    }
    image->UnlockRect();
    return out;
  }
  std::vector<uint32_t> ReadBack() {
    Com<IDirect3DSurface8> rt;
    device->GetRenderTarget(rt.out());
    return Read(rt.get());
  }
  static uint32_t At(const std::vector<uint32_t>& px, int x, int y, int width = 640) {
    return px.at(static_cast<size_t>(y) * width + x);
  }

  // A managed texture filled from `texels` (raw values, row-major); the
  // caller takes the reference.
  IDirect3DTexture8* MakeTexture(UINT w, UINT h, D3DFORMAT format,
                                 const std::vector<uint32_t>& texels) {
    IDirect3DTexture8* t = nullptr;
    EXPECT_EQ(device->CreateTexture(w, h, 1, 0, format, D3DPOOL_MANAGED, &t), D3D_OK);
    if (!t) return nullptr;
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    const UINT bytes = format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8 ? 4 : 2;
    for (UINT y = 0; y < h; ++y)
      for (UINT x = 0; x < w; ++x)
        std::memcpy(static_cast<BYTE*>(lr.pBits) + y * lr.Pitch + x * bytes, &texels[y * w + x],
                    bytes);
    t->UnlockRect(0);
    return t;
  }
  // A compressed texture from whole blocks, row-major.
  IDirect3DTexture8* MakeBlocks(UINT w, UINT h, D3DFORMAT format, const std::vector<BYTE>& blocks) {
    IDirect3DTexture8* t = nullptr;
    EXPECT_EQ(device->CreateTexture(w, h, 1, 0, format, D3DPOOL_MANAGED, &t), D3D_OK);
    if (!t) return nullptr;
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    const UINT rowBytes = ((w + 3) / 4) * (format == D3DFMT_DXT1 ? 8 : 16);
    for (UINT r = 0; r < (h + 3) / 4; ++r)
      std::memcpy(static_cast<BYTE*>(lr.pBits) + r * lr.Pitch, blocks.data() + r * rowBytes,
                  rowBytes);
    t->UnlockRect(0);
    return t;
  }
};
