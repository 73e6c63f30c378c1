// Clears of colour, depth and stencil within the viewport and rectangles,
// presentation onto the virtual desktop, and the no-raster mode.
#include "raster_test.h"

namespace {

using ClearTest = RasterTest;

TEST_F(ClearTest, ClearsTheTargetWithinTheViewportAndRects) {
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x80112233, 1.0f, 0), D3D_OK);
  std::vector<uint32_t> px = ReadBack();
  ASSERT_EQ(px.size(), 640u * 480u);
  EXPECT_EQ(At(px, 0, 0), 0x80112233u);
  EXPECT_EQ(At(px, 639, 479), 0x80112233u);

  D3DVIEWPORT8 vp{10, 20, 30, 40, 0.0f, 1.0f};
  ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
  // Rects are cut to the viewport too.
  const D3DRECT rects[2] = {{0, 0, 15, 25}, {35, 55, 100, 100}};
  ASSERT_EQ(device->Clear(2, rects, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0), D3D_OK);
  px = ReadBack();
  EXPECT_EQ(At(px, 9, 30), 0x80112233u);
  EXPECT_EQ(At(px, 10, 20), 0xFF0000FFu);
  EXPECT_EQ(At(px, 14, 24), 0xFF0000FFu);
  EXPECT_EQ(At(px, 15, 24), 0xFF00FF00u);
  EXPECT_EQ(At(px, 39, 59), 0xFF0000FFu);
  EXPECT_EQ(At(px, 40, 59), 0x80112233u);
  EXPECT_EQ(At(px, 39, 60), 0x80112233u);
  EXPECT_EQ(At(px, 20, 40), 0xFF00FF00u);
}

TEST_F(ClearTest, ConvertsTheColourToSixteenBitTargets) {
  struct Case {
    D3DFORMAT format;
    D3DCOLOR color;
    uint32_t raw;
  };
  const Case cases[] = {
      {D3DFMT_R5G6B5, 0xFFFF0000, 0xF800},      {D3DFMT_R5G6B5, 0xFF808080, 0x8410},
      {D3DFMT_X1R5G5B5, 0xFF00FF00, 0x83E0},    {D3DFMT_A1R5G5B5, 0x7F0000FF, 0x001F},
      {D3DFMT_A1R5G5B5, 0x80FFFFFF, 0xFFFF},    {D3DFMT_A4R4G4B4, 0x88442211, 0x8421},
      {D3DFMT_X8R8G8B8, 0x00ABCDEF, 0x00ABCDEF}};
  for (const Case& c : cases) {
    Com<IDirect3DSurface8> rt;
    ASSERT_EQ(device->CreateRenderTarget(8, 8, c.format, D3DMULTISAMPLE_NONE, TRUE, rt.out()),
              D3D_OK);
    ASSERT_EQ(device->SetRenderTarget(rt.get(), nullptr), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, c.color, 1.0f, 0), D3D_OK);
    // Read by locking the lockable target itself.
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(rt->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t v = 0;
    const int bytes = c.format == D3DFMT_X8R8G8B8 ? 4 : 2;
    std::memcpy(&v, static_cast<BYTE*>(lr.pBits) + 7 * lr.Pitch + 7 * bytes, bytes);
    rt->UnlockRect();
    EXPECT_EQ(v, c.raw) << "format " << c.format << " colour " << std::hex << c.color;
  }
  Com<IDirect3DSurface8> back;
  device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out());
  device->SetRenderTarget(back.get(), nullptr);
}

TEST_F(ClearTest, ClearsDepthAndStencilBits) {
  Com<IDirect3DSurface8> ds;
  ASSERT_EQ(device->CreateDepthStencilSurface(640, 480, D3DFMT_D16_LOCKABLE, D3DMULTISAMPLE_NONE,
                                              ds.out()),
            D3D_OK);
  Com<IDirect3DSurface8> back;
  device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out());
  ASSERT_EQ(device->SetRenderTarget(back.get(), ds.get()), D3D_OK);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.5f, 0), D3D_OK);
  D3DVIEWPORT8 vp{0, 0, 4, 4, 0.0f, 1.0f};
  device->SetViewport(&vp);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(ds->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  auto depth = [&](int x, int y) {
    uint16_t v;
    std::memcpy(&v, static_cast<BYTE*>(lr.pBits) + y * lr.Pitch + x * 2, 2);
    return v;
  };
  EXPECT_EQ(depth(3, 3), 0xFFFF);
  EXPECT_EQ(depth(4, 3), 32768);  // round(0.5 * 65535)
  EXPECT_EQ(depth(639, 479), 32768);
  ds->UnlockRect();
}

TEST_F(ClearTest, DepthClearsKeepStencilAndStopAtEveryRectEdge) {
  // D24S8 with the stencil set everywhere, then target and depth cleared in
  // rects of every width from 1 to 9 at several starts. A quad at depth 0.5
  // passing where depth is 1 and the stencil still 0x5A shows the rects.
  Com<IDirect3DSurface8> ds, rt;
  ASSERT_EQ(device->CreateDepthStencilSurface(64, 48, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, ds.out()),
            D3D_OK);
  ASSERT_EQ(device->CreateRenderTarget(64, 48, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, TRUE,
                                       rt.out()),
            D3D_OK);
  ASSERT_EQ(device->SetRenderTarget(rt.get(), ds.get()), D3D_OK);
  Ortho(64, 48);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL,
                          0xFF000000, 0.0f, 0x5A),
            D3D_OK);
  std::vector<D3DRECT> rects;
  for (LONG width = 1; width <= 9; ++width)
    for (LONG x = 0; x < 5; ++x)
      rects.push_back({x + 7 * (width - 1), 5 * width + x, x + 7 * (width - 1) + width, 5 * width + x + 1});
  ASSERT_EQ(device->Clear(static_cast<DWORD>(rects.size()), rects.data(),
                          D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF123456, 1.0f, 0),
            D3D_OK);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
  device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
  device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
  device->SetRenderState(D3DRS_STENCILREF, 0x5A);
  ASSERT_EQ(Draw(Quad(0, 0, 64, 48, 0xFFFFFFFF)), D3D_OK);
  device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  auto inside = [&](LONG x, LONG y) {
    for (const D3DRECT& r : rects)
      if (x >= r.x1 && x < r.x2 && y >= r.y1 && y < r.y2) return true;
    return false;
  };
  D3DLOCKED_RECT colour{};
  ASSERT_EQ(rt->LockRect(&colour, nullptr, D3DLOCK_READONLY), D3D_OK);
  int wrong = 0;
  for (LONG y = 0; y < 48; ++y)
    for (LONG x = 0; x < 64; ++x) {
      uint32_t c;
      std::memcpy(&c, static_cast<BYTE*>(colour.pBits) + y * colour.Pitch + 4 * x, 4);
      wrong += c != (inside(x, y) ? 0xFFFFFFFFu : 0xFF000000u);
    }
  rt->UnlockRect();
  EXPECT_EQ(wrong, 0);
  Com<IDirect3DSurface8> back;
  device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out());
  device->SetRenderTarget(back.get(), nullptr);
  Ortho(640, 480);
}

TEST_F(ClearTest, LostDevicesAndTheNoRasterModeLeavePixelsAlone) {
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030, 1.0f, 0), D3D_OK);
  vrt::SetRasterization(false);
  EXPECT_FALSE(vrt::Rasterization());
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK);
  EXPECT_EQ(Draw(Quad(0, 0, 8, 8, 0xFFFFFFFF)), D3D_OK);
  EXPECT_EQ(At(ReadBack(), 1, 1), 0xFF102030u);
  vrt::SetRasterization(true);
  vrt::LoseDevice(device.get());
  EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK);
  EXPECT_EQ(Draw(Quad(0, 0, 8, 8, 0xFFFFFFFF)), D3D_OK);
  vrt::ResetRuntime();  // back to operational so the surface can be read
  EXPECT_EQ(At(ReadBack(), 1, 1), 0xFF102030u);
  EXPECT_TRUE(vrt::Rasterization());
}

using PresentTest = RasterTest;

TEST_F(PresentTest, CopiesTheBackBufferIntoTheClientArea) {
  const SIZE size = vrt::DesktopSize();
  EXPECT_EQ(size.cx, 1280);
  EXPECT_EQ(size.cy, 720);
  std::vector<uint32_t> px;
  ASSERT_TRUE(vrt::ReadDesktopPixels(RECT{0, 0, 1280, 720}, &px));
  EXPECT_EQ(px[20 * 1280 + 10], 0u);  // black before any Present
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699, 1.0f, 0), D3D_OK);
  const D3DRECT corner{630, 470, 640, 480};
  ASSERT_EQ(device->Clear(1, &corner, D3DCLEAR_TARGET, 0x00FF0000, 1.0f, 0), D3D_OK);
  device->EndScene();
  ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  device->BeginScene();
  ASSERT_TRUE(vrt::ReadDesktopPixels(RECT{9, 19, 651, 501}, &px));
  const int w = 642;
  EXPECT_EQ(px[0], 0u);                     // (9, 19): outside the client area
  EXPECT_EQ(px[1 * w + 1], 0x336699u);      // client (0, 0)
  EXPECT_EQ(px[480 * w + 640], 0xFF0000u);  // client (639, 479)
  EXPECT_EQ(px[481 * w + 641], 0u);         // past the client area
  // A source rect stretched onto a dest rect.
  const RECT src{630, 470, 640, 480};
  const RECT dst{0, 0, 20, 20};
  device->EndScene();
  ASSERT_EQ(device->Present(&src, &dst, nullptr, nullptr), D3D_OK);
  device->BeginScene();
  ASSERT_TRUE(vrt::ReadDesktopPixels(RECT{10, 20, 40, 50}, &px));
  EXPECT_EQ(px[0], 0xFF0000u);
  EXPECT_EQ(px[19 * 30 + 19], 0xFF0000u);
  EXPECT_EQ(px[19 * 30 + 20], 0x336699u);
  // Reading outside the desktop gives zeros; an empty rect is refused.
  ASSERT_TRUE(vrt::ReadDesktopPixels(RECT{-2, -2, 0, 0}, &px));
  EXPECT_EQ(px, std::vector<uint32_t>(4, 0u));
  EXPECT_FALSE(vrt::ReadDesktopPixels(RECT{5, 5, 5, 6}, &px));
}

TEST_F(PresentTest, SwapChainsPresentToTheirWindowClippedToTheDesktop) {
  HWND edge = vrt::CreateVirtualWindow(1270, 710, 64, 64);
  D3DPRESENT_PARAMETERS p = Windowed(edge);
  Com<IDirect3DSwapChain8> chain;
  ASSERT_EQ(device->CreateAdditionalSwapChain(&p, chain.out()), D3D_OK);
  Com<IDirect3DSurface8> back;
  ASSERT_EQ(chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
  Com<IDirect3DSurface8> old;
  device->GetRenderTarget(old.out());
  ASSERT_EQ(device->SetRenderTarget(back.get(), nullptr), D3D_OK);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFABCDEF, 1.0f, 0), D3D_OK);
  ASSERT_EQ(device->SetRenderTarget(old.get(), nullptr), D3D_OK);
  ASSERT_EQ(chain->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  std::vector<uint32_t> px;
  ASSERT_TRUE(vrt::ReadDesktopPixels(RECT{1269, 709, 1280, 720}, &px));
  EXPECT_EQ(px[0], 0u);
  EXPECT_EQ(px[1 * 11 + 1], 0xABCDEFu);
  EXPECT_EQ(px[10 * 11 + 10], 0xABCDEFu);
  // The front buffer shows the desktop, opaque.
  Com<IDirect3DSurface8> front;
  ASSERT_EQ(device->CreateImageSurface(1280, 720, D3DFMT_A8R8G8B8, front.out()), D3D_OK);
  ASSERT_EQ(device->GetFrontBuffer(front.get()), D3D_OK);
  std::vector<uint32_t> f = Read(front.get());
  EXPECT_EQ(f[719 * 1280 + 1279], 0xFFABCDEFu);
  EXPECT_EQ(f[0], 0xFF000000u);
  chain.reset();
  back.reset();
  vrt::DestroyVirtualWindow(edge);
}

}  // namespace
