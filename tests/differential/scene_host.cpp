// Runs a scene description through the library and writes the frames it
// captures, so the same scene can be drawn by libvek.so on the software
// device and by vek.dll on the real Direct3D 8 and the two compared.
//
// Scene lines (blank lines and lines starting with '#' are skipped):
//   open W H BITS      window with a W x H client area, windowed device on it
//   reset W H BITS     VekResetGraphicsDevice
//   clear AARRGGBB     clear the whole back buffer
//   present            present the back buffer
//   capture NAME       read the back buffer back as a frame called NAME
//   close              close the device and the window
//   surface            open a window drawing surface on the device (and a
//                      stencil surface over it); "use main" or "use stencil"
//                      picks which one the frame steps below address
//   begin / end        VekBeginRender / VekEndRender
//   fill AARRGGBB      VekClear
//   clip L T R B       VekSetClip
//   stencil F P R      VekSetStencilParam
//   quad X0 Y0 X1 Y1 Z AARRGGBB FLAGS
//                      an untextured quad item with the draw flags given
//
// Output: for each capture a line "frame NAME W H" followed by W*H*4 bytes,
// rows top to bottom, pixels as B, G, R, A.
#include <vek/vek.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "support/test_window.h"

namespace {

bool ReadBackBuffer(GraphicsDevice* device, UINT* width, UINT* height,
                    std::vector<unsigned char>* pixels) {
  IDirect3DDevice8* d3d = device->cache.device;
  IDirect3DSurface8* back = nullptr;
  if (FAILED(d3d->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back))) return false;
  D3DSURFACE_DESC desc{};
  back->GetDesc(&desc);
  // The back buffer is not lockable: copy it into an image surface of its format.
  IDirect3DSurface8* image = nullptr;
  bool ok = SUCCEEDED(d3d->CreateImageSurface(desc.Width, desc.Height, desc.Format, &image)) &&
            SUCCEEDED(d3d->CopyRects(back, nullptr, 0, image, nullptr));
  D3DLOCKED_RECT locked{};
  if (ok) ok = SUCCEEDED(image->LockRect(&locked, nullptr, D3DLOCK_READONLY));
  if (ok) {
    *width = desc.Width;
    *height = desc.Height;
    pixels->assign(static_cast<size_t>(desc.Width) * desc.Height * 4, 0);
    for (UINT y = 0; y < desc.Height; ++y) {
      const BYTE* row = static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch;
      unsigned char* out = pixels->data() + static_cast<size_t>(y) * desc.Width * 4;
      for (UINT x = 0; x < desc.Width; ++x, out += 4) {
        DWORD argb = 0;
        if (desc.Format == D3DFMT_R5G6B5) {
          WORD p;
          std::memcpy(&p, row + 2 * x, 2);
          const DWORD r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
          argb = 0xFF000000u | ((r * 255 + 15) / 31) << 16 | ((g * 255 + 31) / 63) << 8 |
                 ((b * 255 + 15) / 31);
        } else {
          std::memcpy(&argb, row + 4 * x, 4);
          if (desc.Format == D3DFMT_X8R8G8B8) argb |= 0xFF000000u;
        }
        out[0] = argb & 0xFF;
        out[1] = (argb >> 8) & 0xFF;
        out[2] = (argb >> 16) & 0xFF;
        out[3] = argb >> 24;
      }
    }
    image->UnlockRect();
  }
  if (image) image->Release();
  back->Release();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SCENE OUTPUT\n", argv[0]);
    return 2;
  }
  std::ifstream scene(argv[1]);
  std::ofstream out(argv[2], std::ios::binary);
  if (!scene || !out) {
    std::fprintf(stderr, "cannot open %s or %s\n", argv[1], argv[2]);
    return 2;
  }
  HWND window = nullptr;
  HVEKDEVICE device = nullptr;
  HVEKGRAPHICS mainSurface = nullptr;
  HVEKGRAPHICS stencilSurface = nullptr;
  HVEKGRAPHICS current = nullptr;
  auto closeSurfaces = [&] {
    VekCloseGraphics(stencilSurface);
    VekCloseGraphics(mainSurface);
    mainSurface = stencilSurface = current = nullptr;
  };
  std::string line;
  int lineNumber = 0;
  auto fail = [&](const char* what) {
    std::fprintf(stderr, "%s:%d: %s: %s\n", argv[1], lineNumber, what, line.c_str());
    return 1;
  };
  while (std::getline(scene, line)) {
    ++lineNumber;
    std::istringstream words(line);
    std::string op;
    if (!(words >> op) || op[0] == '#') continue;
    if (op == "open") {
      int w = 0, h = 0, bits = 0;
      words >> w >> h >> bits;
      window = CreateTestWindow(w, h);
      device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, bits, 0);
      if (!device) return fail("open failed");
    } else if (op == "reset") {
      int w = 0, h = 0, bits = 0;
      words >> w >> h >> bits;
      if (!device || VekResetGraphicsDevice(device, 1, w, h, bits, 0) != 1)
        return fail("reset failed");
    } else if (op == "clear") {
      unsigned long colour = 0;
      words >> std::hex >> colour;
      IDirect3DDevice8* d3d = device ? device->cache.device : nullptr;
      if (!d3d || FAILED(d3d->BeginScene()) ||
          FAILED(d3d->Clear(0, nullptr, D3DCLEAR_TARGET, static_cast<D3DCOLOR>(colour), 1.0f, 0)) ||
          FAILED(d3d->EndScene()))
        return fail("clear failed");
    } else if (op == "present") {
      if (!device || FAILED(device->cache.device->Present(nullptr, nullptr, nullptr, nullptr)))
        return fail("present failed");
    } else if (op == "capture") {
      std::string name;
      words >> name;
      UINT w = 0, h = 0;
      std::vector<unsigned char> pixels;
      if (!device || !ReadBackBuffer(device, &w, &h, &pixels)) return fail("capture failed");
      out << "frame " << name << ' ' << w << ' ' << h << '\n';
      out.write(reinterpret_cast<const char*>(pixels.data()),
                static_cast<std::streamsize>(pixels.size()));
    } else if (op == "surface") {
      mainSurface = device ? VekOpenGraphics(device) : nullptr;
      stencilSurface = VekOpenStencilGraphics(mainSurface);
      current = mainSurface;
      if (!mainSurface || !stencilSurface) return fail("surface failed");
    } else if (op == "use") {
      std::string which;
      words >> which;
      current = which == "stencil" ? stencilSurface : mainSurface;
    } else if (op == "begin") {
      if (!current || VekBeginRender(current) != 0) return fail("begin failed");
    } else if (op == "end") {
      if (!current || VekEndRender(current) < 0) return fail("end failed");
    } else if (op == "fill") {
      unsigned long colour = 0;
      words >> std::hex >> colour;
      if (!current || VekClear(current, static_cast<DWORD>(colour)) != 0) return fail("fill failed");
    } else if (op == "clip") {
      float l = 0, t = 0, r = 0, b = 0;
      words >> l >> t >> r >> b;
      VekSetClip(current, l, t, r, b);
    } else if (op == "stencil") {
      DWORD f = 0, p = 0, r = 0;
      words >> f >> p >> r;
      VekSetStencilParam(current, f, p, r);
    } else if (op == "quad") {
      float x0 = 0, y0 = 0, x1 = 0, y1 = 0, z = 0;
      unsigned long colour = 0;
      DWORD flags = 0;
      words >> x0 >> y0 >> x1 >> y1 >> z >> std::hex >> colour >> flags;
      if (!current) return fail("no surface");
      auto* v = static_cast<BatchVertex*>(MemMalloc(&current->frameMemory, 4 * sizeof(BatchVertex)));
      const DWORD c = static_cast<DWORD>(colour);
      v[0] = {x0, y0, z, c, 0, 0};
      v[1] = {x1, y0, z, c, 1, 0};
      v[2] = {x1, y1, z, c, 1, 1};
      v[3] = {x0, y1, z, c, 0, 1};
      if (!SubmitDrawItem(current, DRAW_QUADS, nullptr, v, 4, flags)) return fail("quad failed");
    } else if (op == "close") {
      closeSurfaces();
      VekCloseGraphicsDevice(device);
      device = nullptr;
      DestroyTestWindow(window);
      window = nullptr;
    } else {
      return fail("unknown step");
    }
  }
  closeSurfaces();
  if (device) VekCloseGraphicsDevice(device);
  if (window) DestroyTestWindow(window);
  return 0;
}
