// Fill rate of the software Direct3D 8 device: 2,000 textured, alpha-blended
// 64 x 64 quads with depth test into a 1280 x 720 target, in megapixels per
// second, beside pixman compositing the same sprites (OVER) in the same run.
#include <d3d8.h>
#include <pixman.h>
#include <vekrt/runtime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 1280, kHeight = 720, kSprite = 64, kSprites = 2000, kRuns = 9;

struct Vertex {
  float x, y, z;
  DWORD colour;
  float u, v;
};

struct Placement {
  int x, y;
  float z;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Sprite texels: a gradient with alpha from half to fully opaque.
uint32_t Texel(int x, int y) {
  const uint32_t a = 128 + static_cast<uint32_t>((x + y) * 127 / (2 * kSprite - 2));
  return a << 24 | static_cast<uint32_t>(x * 4) << 16 | static_cast<uint32_t>(y * 4) << 8 | 0x40;
}

template <typename F>
double TimeRuns(F&& body) {
  std::vector<double> seconds;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    body();
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return Median(seconds);
}

double SoftwareDevice(const std::vector<Placement>& sprites) {
  HWND window = vrt::CreateVirtualWindow(0, 0, kWidth, kHeight);
  IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = kWidth;
  p.BackBufferHeight = kHeight;
  p.BackBufferFormat = D3DFMT_X8R8G8B8;
  p.BackBufferCount = 1;
  p.SwapEffect = D3DSWAPEFFECT_COPY;
  p.hDeviceWindow = window;
  p.Windowed = TRUE;
  p.EnableAutoDepthStencil = TRUE;
  p.AutoDepthStencilFormat = D3DFMT_D24S8;
  IDirect3DDevice8* device = nullptr;
  if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                       &p, &device))) {
    std::fprintf(stderr, "cannot create the software device\n");
    return 0;
  }

  IDirect3DTexture8* texture = nullptr;
  device->CreateTexture(kSprite, kSprite, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture);
  D3DLOCKED_RECT locked{};
  texture->LockRect(0, &locked, nullptr, 0);
  for (int y = 0; y < kSprite; ++y)
    for (int x = 0; x < kSprite; ++x) {
      const uint32_t t = Texel(x, y);
      std::memcpy(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch + 4 * x, &t, 4);
    }
  texture->UnlockRect(0);

  IDirect3DVertexBuffer8* vb = nullptr;
  IDirect3DIndexBuffer8* ib = nullptr;
  device->CreateVertexBuffer(kSprites * 4 * sizeof(Vertex), D3DUSAGE_WRITEONLY,
                             D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, D3DPOOL_MANAGED, &vb);
  device->CreateIndexBuffer(kSprites * 6 * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                            &ib);
  BYTE* bytes = nullptr;
  vb->Lock(0, 0, &bytes, 0);
  Vertex* v = reinterpret_cast<Vertex*>(bytes);
  for (const Placement& s : sprites) {
    // Corners half a pixel up and left map texels 1:1 onto pixel centres.
    const float x0 = s.x - 0.5f, y0 = s.y - 0.5f, x1 = x0 + kSprite, y1 = y0 + kSprite;
    *v++ = {x0, y0, s.z, 0xFFFFFFFF, 0, 0};
    *v++ = {x1, y0, s.z, 0xFFFFFFFF, 1, 0};
    *v++ = {x1, y1, s.z, 0xFFFFFFFF, 1, 1};
    *v++ = {x0, y1, s.z, 0xFFFFFFFF, 0, 1};
  }
  vb->Unlock();
  ib->Lock(0, 0, &bytes, 0);
  WORD* index = reinterpret_cast<WORD*>(bytes);
  for (int q = 0; q < kSprites; ++q) {
    const WORD b = static_cast<WORD>(4 * q);
    const WORD quad[6] = {b, WORD(b + 1), WORD(b + 2), WORD(b + 2), WORD(b + 3), b};
    std::memcpy(index + 6 * q, quad, sizeof(quad));
  }
  ib->Unlock();

  D3DMATRIX ortho{};  // pixels to clip space, z 0..1 kept
  ortho._11 = 2.0f / kWidth;
  ortho._22 = -2.0f / kHeight;
  ortho._33 = 1.0f;
  ortho._41 = -1.0f;
  ortho._42 = 1.0f;
  ortho._44 = 1.0f;
  device->SetTransform(D3DTS_PROJECTION, &ortho);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
  device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
  device->SetTexture(0, texture);
  device->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  device->SetStreamSource(0, vb, sizeof(Vertex));
  device->SetIndices(ib, 0);

  const double seconds = TimeRuns([&] {
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->BeginScene();
    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kSprites * 4, 0, kSprites * 2);
    device->EndScene();
  });

  device->SetTexture(0, nullptr);
  device->SetStreamSource(0, nullptr, 0);
  device->SetIndices(nullptr, 0);
  texture->Release();
  vb->Release();
  ib->Release();
  device->Release();
  d3d->Release();
  vrt::DestroyVirtualWindow(window);
  return seconds;
}

double Pixman(const std::vector<Placement>& sprites) {
  std::vector<uint32_t> target(static_cast<size_t>(kWidth) * kHeight);
  std::vector<uint32_t> sprite(kSprite * kSprite);
  for (int y = 0; y < kSprite; ++y)
    for (int x = 0; x < kSprite; ++x) {
      // pixman wants premultiplied colour.
      const uint32_t t = Texel(x, y), a = t >> 24;
      const uint32_t r = ((t >> 16 & 0xFF) * a + 127) / 255, g = ((t >> 8 & 0xFF) * a + 127) / 255,
                     b = ((t & 0xFF) * a + 127) / 255;
      sprite[y * kSprite + x] = a << 24 | r << 16 | g << 8 | b;
    }
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, target.data(),
                                                 kWidth * 4);
  pixman_image_t* src =
      pixman_image_create_bits(PIXMAN_a8r8g8b8, kSprite, kSprite, sprite.data(), kSprite * 4);
  const double seconds = TimeRuns([&] {
    for (const Placement& s : sprites)
      pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0, s.x, s.y, kSprite,
                               kSprite);
  });
  pixman_image_unref(src);
  pixman_image_unref(dst);
  return seconds;
}

}  // namespace

int main() {
  std::mt19937 random(8);
  std::vector<Placement> sprites(kSprites);
  for (Placement& s : sprites) {
    s.x = static_cast<int>(random() % (kWidth - kSprite));
    s.y = static_cast<int>(random() % (kHeight - kSprite));
    s.z = static_cast<float>(random() % 1000) / 1000.0f;
  }
  const double megapixels = double(kSprites) * kSprite * kSprite / 1e6;
  const double device = SoftwareDevice(sprites);
  const double pixman = Pixman(sprites);
  std::printf("sprites: %d x %dx%d into %dx%d, median of %d runs\n", kSprites, kSprite, kSprite,
              kWidth, kHeight, kRuns);
  std::printf("software device: %8.2f ms  %8.1f Mpixel/s (depth test, texture, modulate, blend)\n",
              device * 1e3, megapixels / device);
  std::printf("pixman OVER:     %8.2f ms  %8.1f Mpixel/s\n", pixman * 1e3, megapixels / pixman);
  std::printf("time ratio device / pixman: %.2f\n", device / pixman);
  return 0;
}
