// Frames from arbitrary bytes: a sequence of calls decoded from the input
// (begin and end, clears, clips, stencil and effect selections, points,
// lines, curves, triangles and quads with any coordinates, surfaces of
// every kind opened and closed, device loss and reset). Checks: every
// queued item is sound, a closed frame leaves nothing queued, and on the
// window surface no pixel outside the clips of a frame's draws changes
// from the colour it was cleared to.
#include <rask.h>

#include <vector>

#include "fuzz_support.h"
#include "gd/device.h"
#include "pictures.h"

namespace {

constexpr int kSide = 64;
HWND window = nullptr;

struct Frame {
  bool open = false;
  bool cleared = false;  // cleared while the clip was whole: the pixel check applies
  DWORD clearColour = 0;
  RECT drawn = {kSide, kSide, 0, 0};  // union of the clips draws were queued under
  bool finite = true;                 // every coordinate given so far was finite
};

void Include(RECT* r, const float clip[4]) {
  // Whole pixels that a clip may touch, one more on each side.
  const LONG l = static_cast<LONG>(clip[0]) - 1, t = static_cast<LONG>(clip[1]) - 1;
  const LONG rt = static_cast<LONG>(clip[2]) + 2, b = static_cast<LONG>(clip[3]) + 2;
  r->left = l < r->left ? l : r->left;
  r->top = t < r->top ? t : r->top;
  r->right = rt > r->right ? rt : r->right;
  r->bottom = b > r->bottom ? b : r->bottom;
}

// After the window surface's frame is presented: everything the clear
// reached and no draw's clip did still shows the clear colour (exactly on
// a 32-bit back buffer; one colour, however quantised, on a 16-bit one).
void CheckOutsideClips(const Frame& f, bool exact) {
  std::vector<uint32_t> pixels;
  fuzz::Check(vrt::ReadDesktopPixels(RECT{0, 0, kSide, kSide}, &pixels), "the desktop reads");
  bool first = true;
  uint32_t expected = f.clearColour & 0x00FFFFFF;
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      if (x >= f.drawn.left && x < f.drawn.right && y >= f.drawn.top && y < f.drawn.bottom)
        continue;
      const uint32_t p = pixels[static_cast<size_t>(y) * kSide + x];
      if (first && !exact) expected = p;
      first = false;
      if (p != expected)
        std::fprintf(stderr, "pixel (%d, %d) is %08x, cleared to %08x\n", x, y, p, f.clearColour);
      fuzz::Check(p == expected, "nothing is drawn outside the clip");
    }
}

struct State {
  HVEKDEVICE device = nullptr;
  HVEKGRAPHICS window = nullptr, texture = nullptr, stencil = nullptr;
  HVEKGRAPHICS stencilParent = nullptr;  // closing it closes the stencil surface too
  HVEKIMAGE image = nullptr;
};

std::vector<uint8_t> picture;  // a small PNG, loaded for each input's device

// Forgets a surface that was closed, and the stencil surface over it.
void Closed(State& s, HVEKGRAPHICS g, Frame frames[3]) {
  if (!g) return;
  if (g == s.stencilParent || g == s.stencil) {
    s.stencil = s.stencilParent = nullptr;
    frames[2] = Frame{};
  }
  if (g == s.window) {
    s.window = nullptr;
    frames[0] = Frame{};
  }
  if (g == s.texture) {
    s.texture = nullptr;
    frames[1] = Frame{};
  }
}

HVEKGRAPHICS Pick(State& s, uint8_t which) {
  switch (which % 4) {
    case 0:
    case 1:
      return s.window;
    case 2:
      return s.texture;
    default:
      return s.stencil;
  }
}

void Run(fuzz::Reader& in) {
  State s;
  s.device = VekOpenGraphicsDevice(0, window, 0, 1, kSide, kSide, 32, 0);
  fuzz::Check(s.device != nullptr, "the device opens");
  s.window = VekOpenGraphics(s.device);
  HRASKFILE file =
      RaskCreateFileFromMemory(picture.data(), static_cast<DWORD>(picture.size()), nullptr);
  s.image = VekCreateImage(file);
  RaskDestroyFile(file);
  Frame frames[3];  // window, texture, stencil
  auto frameOf = [&](HVEKGRAPHICS g) -> Frame* {
    if (!g) return nullptr;
    return g == s.window ? &frames[0] : g == s.texture ? &frames[1] : &frames[2];
  };
  for (int steps = 0; steps < 200 && !in.Empty(); ++steps) {
    const uint8_t op = in.U8();
    HVEKGRAPHICS g = Pick(s, in.U8());
    Frame* f = frameOf(g);
    const DWORD colour = in.U32();
    const DWORD flags = in.U8();
    auto c = [&] {
      const float v = in.Coordinate();
      if (f && !std::isfinite(v)) f->finite = false;
      return v;
    };
    bool draws = false;
    switch (op % 16) {
      case 0:
        // Items queued before the frame began are drawn at its end too:
        // what they covered and whether they were finite stays.
        if (VekBeginRender(g) >= 0 && f) {
          f->open = true;
          f->cleared = false;
        }
        break;
      case 1: {
        const bool check = g && g == s.window && f && f->open && f->cleared;
        const INT ended = VekEndRender(g);
        if (check && ended >= 0)
          CheckOutsideClips(*f, s.device->present.BackBufferFormat == D3DFMT_X8R8G8B8 ||
                                    s.device->present.BackBufferFormat == D3DFMT_A8R8G8B8);
        if (f) *f = Frame{};
        if (g) fuzz::Check(fuzz::QueuedCount(g) == 0, "an ended frame leaves nothing queued");
        break;
      }
      case 2:
        if (VekClear(g, colour) >= 0 && f && f->open) {
          const bool whole = g->clip[0] == 0 && g->clip[1] == 0 &&
                             g->clip[2] == static_cast<float>(g->target->width) &&
                             g->clip[3] == static_cast<float>(g->target->height);
          if (whole) {
            f->cleared = true;
            f->clearColour = colour;
          } else {
            Include(&f->drawn, g->clip);
          }
        }
        break;
      case 3: {
        const float l = c(), t = c(), r = c(), b = c();
        VekSetClip(g, l, t, r, b);
        break;
      }
      case 4:
        VekSetStencilParam(g, in.U8() % 10, in.U8() % 10, in.U8());
        break;
      case 5: {
        float param[4] = {static_cast<float>(in.U8()), static_cast<float>(in.U8()),
                          in.U8() < 32 ? in.AnyFloat() : in.U8() / 100.0f, 0};
        VekSetPixelShader(g, static_cast<int8_t>(in.U8()) % 10, in.Bool() ? param : nullptr);
        break;
      }
      case 6:
        VekDrawPoint(g, c(), c(), 0.5f, colour, flags);
        draws = true;
        break;
      case 7:
        VekDrawLine(g, c(), c(), 0.5f, colour, c(), c(), 0.5f, in.U32(), flags);
        draws = true;
        break;
      case 8:
        VekDrawBezier(g, c(), c(), 0.5f, c(), c(), 0.5f, c(), c(), 0.5f, c(), c(), 0.5f, colour,
                      in.U8() < 32 ? in.AnyFloat() : in.U8() / 256.0f, flags);
        draws = true;
        break;
      case 9:
        VekDrawTri(g, c(), c(), 0.5f, colour, 0, 0, c(), c(), 0.5f, colour, 1, 0, c(), c(), 0.5f,
                   colour, 1, 1, flags,
                   in.Bool() ? reinterpret_cast<HVEKTEXTURE>(s.image) : nullptr);
        draws = true;
        break;
      case 10:
        VekDrawQuad(g, c(), c(), 0.5f, colour, 0, 0, c(), c(), 0.5f, colour, 1, 0, c(), c(), 0.5f,
                    colour, 1, 1, c(), c(), 0.5f, colour, 0, 1, flags,
                    in.Bool() && s.texture ? VekGetGraphicsTexture(s.texture)
                                           : reinterpret_cast<HVEKTEXTURE>(s.image));
        draws = true;
        break;
      case 11:  // a texture surface of any size and format, replacing the last
        if (s.texture) VekCloseGraphics(s.texture);
        Closed(s, s.texture, frames);
        s.texture = VekOpenTextureGraphics(s.device, in.U8() % 80, in.U8() % 80,
                                           in.Bool() ? D3DFMT_A8R8G8B8 : in.U32() % 120);
        break;
      case 12:
        if (s.stencil) VekCloseGraphics(s.stencil);
        Closed(s, s.stencil, frames);
        s.stencilParent = in.Bool() ? s.window : s.texture;
        s.stencil = VekOpenStencilGraphics(s.stencilParent);
        if (!s.stencil) s.stencilParent = nullptr;
        break;
      case 13: {  // the device lost, then resettable, then checked or reset
        IDirect3DDevice8* d3d = s.device->cache.device;
        vrt::LoseDevice(d3d);
        VekCheckGraphicsDevice(s.device);
        vrt::MakeDeviceResettable(d3d);
        if (in.Bool())
          VekCheckGraphicsDevice(s.device);
        else
          VekResetGraphicsDevice(s.device, 1, kSide, kSide, in.Bool() ? 32 : 16, 0);
        for (Frame& fr : frames) fr.cleared = false;
        break;
      }
      case 14:
        VekCloseGraphics(g);
        Closed(s, g, frames);
        g = nullptr;
        break;
      default:
        if (!s.window) s.window = VekOpenGraphics(s.device);
        break;
    }
    if (std::getenv("VEK_FUZZ_VERBOSE"))
      std::fprintf(stderr, "op %d on %s, clip %g %g %g %g\n", op % 16,
                   g == s.window    ? "window"
                   : g == s.texture ? "texture"
                   : g              ? "stencil"
                                    : "null",
                   g ? g->clip[0] : 0.0, g ? g->clip[1] : 0.0, g ? g->clip[2] : 0.0,
                   g ? g->clip[3] : 0.0);
    if (draws && g && f) Include(&f->drawn, g->clip);
    if (g && (op % 16 == 0 || (op % 16 >= 2 && op % 16 <= 10)))
      fuzz::CheckQueued(g, f ? f->finite : true);
  }
  VekDestroyImage(s.image);
  VekCloseGraphicsDevice(s.device);  // closes every surface still open
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietStdout();
  fuzz::UseAdapter("frame", true);  // pixels are checked
  window = vrt::CreateVirtualWindow(0, 0, kSide, kSide);
  vekpic::Format png;
  fuzz::Check(vekpic::ParseFormat("png", &png), "PNG is a known format");
  picture = vekpic::Encode(png, 8, 8, vekpic::Pattern("tiles", 8, 8));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  Run(in);
  return 0;
}
