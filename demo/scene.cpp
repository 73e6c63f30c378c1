#include "scene.h"

#include <rask.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "pictures.h"

namespace {

using Scene = DemoScene;

// The font file the text is drawn with: Debian's DejaVu Sans (under Wine
// through its Z: drive), so both builds draw the same glyphs.
#ifdef _WIN32
const WCHAR kFontFile[] = L"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf";
const WCHAR kFace[] = L"DejaVu Sans";
#else
const WCHAR kFontFile[] = u"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const WCHAR kFace[] = u"DejaVu Sans";
#endif

enum Font { kMono, kGrey17, kGrey65, kShadowed, kCrossed, kBoxed, kHollowed, kFontCount };

struct FontSpec {
  UINT size;
  DWORD flags;
  DWORD colour;
};

static_assert(kFontCount == sizeof DemoScene::fonts / sizeof(HVEKFONT));
const FontSpec kFonts[kFontCount] = {
    {16, 0, 0},                                       // one-bit
    {16, FONT_GRAY4, 0},                              // 17 levels
    {16, FONT_GRAY8, 0},                              // 65 levels
    {21, FONT_GRAY8 | FONT_SHADOW, 0xFF000000},       // drop shadow
    {22, FONT_OUTLINE_CROSS, 0xFF0030C0},             // outline through the sides
    {22, FONT_GRAY4 | FONT_OUTLINE_BOX, 0xFFC02000},  // outline through all eight
    {26, FONT_HOLLOW, 0},                             // white ring, body cleared
};

// D3DCMP and D3DSTENCILOP values for the mask.
constexpr DWORD kCmpEqual = 3;
constexpr DWORD kCmpAlways = 8;
constexpr DWORD kStencilReplace = 3;
constexpr DWORD kStencilKeep = 1;

enum Picture {
  kSky,
  kGlow,
  kRings,
  kTilesDxt1,
  kTilesDxt3,
  kGlowDxt5,
  // Recoloured before their first draw.
  kGlowHue,
  kRingsBright,
  kTilesSwapped,
  kGlowDxt5Grey,
  kPictureCount
};

struct PictureSpec {
  vekpic::Format format;
  const char* pattern;
  int width, height;
};

// Sizes are chosen so every image is drawn at a whole-number scale: the
// pixel centres then never fall on texel edges, where builds may round apart.
static_assert(kPictureCount == sizeof DemoScene::images / sizeof(HVEKIMAGE));
const PictureSpec kPictures[kPictureCount] = {
    {vekpic::Format::kJpeg, "sky", 64, 48},    // drawn x10 over the window
    {vekpic::Format::kPng, "glow", 64, 64},    // alpha, drawn x2
    {vekpic::Format::kBmp, "rings", 64, 64},   // opaque, drawn x2
    {vekpic::Format::kDxt1, "tiles", 32, 32},  // triangles, x4
    {vekpic::Format::kDxt3, "tiles", 32, 32},  // quad, x4
    {vekpic::Format::kDxt5, "glow", 32, 32},   // quad, x4, with the effect
    {vekpic::Format::kPng, "glow", 32, 32},    // hue turned, x2
    {vekpic::Format::kBmp, "rings", 32, 32},   // brightened, x2
    {vekpic::Format::kDxt1, "tiles", 16, 16},  // red and blue swapped (end points), x4
    {vekpic::Format::kDxt5, "glow", 32, 32},   // grey where alpha >= 128 (blocks), x2
};

// The colour effects that change pictures in place, before the first draw.
bool RecolourPictures(const HVEKIMAGE* images) {
  return VekHueImage(images[kGlowHue], 120, 0, 255) == 1 &&
         VekBrightImage(images[kRingsBright], 40, 0, 255) == 1 &&
         VekConvertRGBImage(images[kTilesSwapped], 4, 0, 255) == 1 &&
         VekGrayImage(images[kGlowDxt5Grey], 255, 128) == 1;
}

HVEKIMAGE LoadPicture(const PictureSpec& spec) {
  const std::vector<uint8_t> bytes = vekpic::Encode(
      spec.format, spec.width, spec.height, vekpic::Pattern(spec.pattern, spec.width, spec.height));
  if (bytes.empty()) return nullptr;
  HRASKFILE file =
      RaskCreateFileFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), nullptr);
  if (!file) return nullptr;
  HVEKIMAGE image = VekCreateImage(file);
  RaskDestroyFile(file);
  return image;
}

HVEKTEXTURE Tex(HVEKIMAGE image) { return reinterpret_cast<HVEKTEXTURE>(image); }

// An axis-aligned quad, u and v running 0 to 1 across it; one colour.
void* Quad(HVEKGRAPHICS g, float x0, float y0, float x1, float y1, float z, DWORD colour,
           DWORD flags, HVEKTEXTURE texture) {
  return VekDrawQuad(g, x0, y0, z, colour, 0, 0, x1, y0, z, colour, 1, 0, x1, y1, z, colour, 1, 1,
                     x0, y1, z, colour, 0, 1, flags, texture);
}

// An untextured quad with a colour per corner (clockwise from top-left).
void* Gradient(HVEKGRAPHICS g, float x0, float y0, float x1, float y1, float z, DWORD c0, DWORD c1,
               DWORD c2, DWORD c3) {
  return VekDrawQuad(g, x0, y0, z, c0, 0, 0, x1, y0, z, c1, 0, 0, x1, y1, z, c2, 0, 0, x0, y1, z,
                     c3, 0, 0, 0, nullptr);
}

// A run at its natural size from (x, y): as wide as its measured width and
// as high as the font's cells, colours from c0 on the left to c1 on the right.
void Text(HVEKGRAPHICS g, HVEKFONT font, float x, float y, float z, DWORD c0, DWORD c1,
          const char* ascii) {
  std::vector<WCHAR> text(ascii, ascii + std::strlen(ascii));
  const UINT n = static_cast<UINT>(text.size());
  const DWORD size = VekGetTextSize(font, text.data(), static_cast<INT>(n));
  const float w = static_cast<float>(size & 0xFFFF), h = static_cast<float>(VekGetFontHeight(font));
  VekDrawText(g, x, y, z, c0, x + w, y, z, c1, x + w, y + h, z, c1, x, y + h, z, c0, 0, font,
              text.data(), n);
}

// Text over the scene, nearest of all: each glyph format and effect, a
// gradient, and last a run of new glyphs that grows the one-bit font's atlas
// while the frame already holds its earlier text.
void DrawTexts(Scene& s) {
  HVEKGRAPHICS g = s.window;
  const DWORD white = 0xFFFFFFFF;
  // One-bit glyphs advance as GDI's monochrome hinting says, which is not
  // always the measured width; these texts keep the two equal, so their
  // glyphs are drawn 1:1.
  Text(g, s.fonts[kMono], 16, 180, 0.1f, white, white, "ONE BPP");
  Text(g, s.fonts[kGrey17], 128, 180, 0.1f, white, white, "17 levels");
  Text(g, s.fonts[kGrey65], 248, 180, 0.1f, white, white, "65 levels");
  Text(g, s.fonts[kGrey65], 368, 180, 0.1f, 0xFFFF4040, 0xFF40A0FF, "a colour gradient");
  Text(g, s.fonts[kShadowed], 400, 276, 0.1f, 0xFFFFE040, 0xFFFFE040, "Shadow");
  Text(g, s.fonts[kCrossed], 500, 272, 0.1f, white, white, "Cross");
  Text(g, s.fonts[kBoxed], 400, 300, 0.1f, white, white, "Box");
  Text(g, s.fonts[kHollowed], 480, 300, 0.1f, white, white, "HOLLOW");
  Text(g, s.fonts[kMono], 16, 464 - 19, 0.1f, 0xFFFFFF80, 0xFFFFFF80,
       "ABCDEFGHIJLNOPQRSUVX 0123456789");
}

// The texture surface: a small picture of its own, drawn into the window later.
bool DrawCanvas(Scene& s) {
  if (VekBeginRender(s.canvas) != 0) return false;
  VekSetClip(s.canvas, 0, 0, 128, 128);
  VekClear(s.canvas, 0xFF182030);
  Gradient(s.canvas, 0, 0, 128, 128, 0.9f, 0xFF402060, 0xFF206080, 0xFF60A040, 0xFF804020);
  Quad(s.canvas, 32, 32, 96, 96, 0.5f, 0xFFFFFFFF, 0, Tex(s.images[kGlow]));
  VekDrawLine(s.canvas, 8, 8, 0.4f, 0xFFFFFFFF, 120, 8, 0.4f, 0xFFFFFFFF, 0);
  VekDrawLine(s.canvas, 8, 120, 0.4f, 0xFFFFFF00, 120, 120, 0.4f, 0xFFFF0000, 0);
  return VekEndRender(s.canvas) >= 0;
}

// The mask: a ring of quads marked 1 in the window's stencil buffer.
bool DrawMask(Scene& s) {
  if (VekBeginRender(s.stencil) != 0) return false;
  VekClear(s.stencil, 0);
  VekSetStencilParam(s.stencil, kCmpAlways, kStencilReplace, 1);
  for (int i = 0; i < 6; ++i) {
    const float x = 400.0f + 32.0f * i;
    Quad(s.stencil, x, 300, x + 16, 460, 0.5f, 0xFFFFFFFF, DRAW_OPAQUE, nullptr);
  }
  return VekEndRender(s.stencil) >= 0;
}

// Water: a narrow upward jet under gravity, drops shrinking and going
// from white to blue. Fire: from the glow picture's visible pixels, taking
// their colour, rising and fading, turned to their motion.
void DrawParticles(HVEKGRAPHICS g, HVEKIMAGE glow, ULONGLONG t) {
  const UINT lo = static_cast<UINT>(t), hi = static_cast<UINT>(t >> 32);
  // count, period, visible, speed, direction, (unread), rotation, absolute, area, turn,
  // image, region, image alpha / colour, forward, drag, accel x / y, (unread), texture,
  // frames, align, then start sizes / colours / spin, end ones, seeds, time, flags.
  VekDrawParSys(g, 470, 290, 0.35f, nullptr, nullptr, 0, 160, 1600, 2200, 1600, 2200, 130, 170,
                -106, -74, 0, 0, 0, 0, 1, 12, 2, 0, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 150, 0,
                nullptr, nullptr, 0, 0, 0, 5, 6, 5, 6, 255, 255, 200, 255, 230, 255, 255, 255, 0, 0,
                2, 3, 2, 3, 160, 200, 40, 80, 120, 160, 255, 255, 0, 0, 7, 8, lo, hi, 0);
  VekDrawParSys(g, 250, 185, 0.25f, nullptr, nullptr, 0, 150, 700, 1300, 700, 1300, 10, 30, -100,
                -80, 0, 0, 0, 45, 1, 90, 40, 0, glow, 0.1f, 0.9f, 0.1f, 0.9f, 0, 1, 20, 0.5f, 0,
                -30, 0, nullptr, nullptr, 0, 0, 1, 6, 8, 3, 4, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0, 3,
                4, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 31, 32, lo, hi, 0);
}

bool DrawWindow(Scene& s, ULONGLONG t) {
  HVEKGRAPHICS g = s.window;
  if (VekBeginRender(g) != 0) return false;
  VekSetClip(g, 0, 0, kDemoWidth, kDemoHeight);
  VekClear(g, 0xFF000000);
  // Background: the JPEG sky, opaque, furthest back.
  Quad(g, 0, 0, 640, 480, 0.95f, 0xFFFFFFFF, DRAW_OPAQUE, Tex(s.images[kSky]));
  // A gradient panel and the BMP rings.
  Gradient(g, 16, 16, 176, 176, 0.8f, 0xFFFF4040, 0xFF40FF40, 0xFF4040FF, 0xFFFFFF40);
  Quad(g, 208, 16, 336, 144, 0.7f, 0xFFFFFFFF, DRAW_OPAQUE, Tex(s.images[kRings]));
  // The PNG glow over the gradient, blended by its alpha.
  Quad(g, 32, 32, 160, 160, 0.3f, 0xFFFFFFFF, 0, Tex(s.images[kGlow]));
  // DXT1 tiles as two textured triangles making a square, then one alone.
  const HVEKTEXTURE dxt1 = Tex(s.images[kTilesDxt1]);
  VekDrawTri(g, 368, 16, 0.6f, 0xFFFFFFFF, 0, 0, 496, 16, 0.6f, 0xFFFFFFFF, 1, 0, 496, 144, 0.6f,
             0xFFFFFFFF, 1, 1, 0, dxt1);
  VekDrawTri(g, 496, 144, 0.6f, 0xFFFFFFFF, 1, 1, 368, 144, 0.6f, 0xFFFFFFFF, 0, 1, 368, 16, 0.6f,
             0xFFFFFFFF, 0, 0, 0, dxt1);
  VekDrawTri(g, 512, 16, 0.6f, 0xFFFFFFFF, 0, 0, 624, 16, 0.6f, 0xFFFFFFFF, 0.875f, 0, 512, 128,
             0.6f, 0xFFFFFFFF, 0, 0.875f, 0, dxt1);
  // DXT3 tiles tinted, DXT5 glow through the grey effect.
  Quad(g, 16, 208, 144, 336, 0.6f, 0xFFFFC080, 0, Tex(s.images[kTilesDxt3]));
  float grey[4] = {0.0f, 255.0f, 0.0f, 0.0f};
  VekSetPixelShader(g, VEK_SHADER_GREY, grey);
  Quad(g, 160, 208, 288, 336, 0.6f, 0xFFFFFFFF, 0, Tex(s.images[kGlowDxt5]));
  float bright[4] = {0.0f, 255.0f, 1.5f, 0.0f};
  VekSetPixelShader(g, VEK_SHADER_BRIGHTNESS, bright);
  Quad(g, 304, 208, 368, 272, 0.6f, 0xFFFFFFFF, DRAW_OPAQUE, Tex(s.images[kRings]));
  VekSetPixelShader(g, VEK_SHADER_NONE, nullptr);
  // Pictures recoloured in place: hue, brightness, channel swap, windowed grey.
  Quad(g, 384, 208, 448, 272, 0.6f, 0xFFFFFFFF, 0, Tex(s.images[kGlowHue]));
  Quad(g, 448, 208, 512, 272, 0.6f, 0xFFFFFFFF, DRAW_OPAQUE, Tex(s.images[kRingsBright]));
  Quad(g, 512, 208, 576, 272, 0.6f, 0xFFFFFFFF, DRAW_OPAQUE, Tex(s.images[kTilesSwapped]));
  Quad(g, 576, 208, 640, 272, 0.6f, 0xFFFFFFFF, 0, Tex(s.images[kGlowDxt5Grey]));
  // The texture surface, 1:1, and added on top of the rings.
  Quad(g, 16, 336, 144, 464, 0.5f, 0xFFFFFFFF, DRAW_OPAQUE, VekGetGraphicsTexture(s.canvas));
  Quad(g, 208, 16, 336, 144, 0.2f, 0x80FFFFFF, DRAW_ADDBLEND, VekGetGraphicsTexture(s.canvas));
  // Lines: a fan of axis-aligned and diagonal strokes; points in a row.
  for (int i = 0; i < 8; ++i) {
    const float y = 360.0f + 12.0f * i;
    VekDrawLine(g, 160, y, 0.4f, 0xFFFFFFFF, 360, y, 0.4f, 0xFF00C0FF, 0);
  }
  VekDrawLine(g, 160, 352, 0.4f, 0xFFFF8000, 260, 452, 0.4f, 0xFFFF8000, 0);
  VekDrawLine(g, 360, 352, 0.4f, 0xFF80FF00, 260, 452, 0.4f, 0xFF80FF00, 0);
  for (int i = 0; i < 16; ++i)
    VekDrawPoint(g, 160.0f + 12.0f * i, 464, 0.4f, 0xFFFFFF00 | (i * 16), 0);
  // Bezier curves.
  VekDrawBezier(g, 400, 160, 0.4f, 460, 100, 0.4f, 560, 260, 0.4f, 620, 180, 0.4f, 0xFFFFFFFF,
                0.05f, 0);
  VekDrawBezier(g, 400, 200, 0.4f, 480, 300, 0.4f, 540, 120, 0.4f, 620, 240, 0.4f, 0xFFFF40C0,
                0.02f, 0);
  // Masked: a gradient bar seen only through the stencil ring.
  VekSetStencilParam(g, kCmpEqual, kStencilKeep, 1);
  Gradient(g, 392, 296, 600, 464, 0.5f, 0xFF00FFFF, 0xFFFF00FF, 0xFFFFFF00, 0xFF00FF00);
  VekSetStencilParam(g, 0, kStencilKeep, 0);
  DrawParticles(g, s.images[kGlow], t);
  DrawTexts(s);
  return VekEndRender(g) >= 0;
}

}  // namespace

DemoScene::~DemoScene() {
  for (HVEKFONT font : fonts) VekDestroyFont(font);
  if (fontFile > 0) VekRemoveFontFile(kFontFile);
  VekCloseGraphics(canvas);
  VekCloseGraphics(stencil);
  VekCloseGraphics(window);
  for (HVEKIMAGE image : images) VekDestroyImage(image);
}

std::unique_ptr<DemoScene> OpenDemoScene(HVEKDEVICE device) {
  auto s = std::make_unique<DemoScene>();
  s->device = device;
  for (int i = 0; i < kPictureCount; ++i) {
    if (!(s->images[i] = LoadPicture(kPictures[i]))) {
      std::fprintf(stderr, "demo scene: picture %d could not be loaded\n", i);
      return nullptr;
    }
  }
  s->fontFile = VekAddFontFile(kFontFile);
  for (int i = 0; i < kFontCount; ++i) {
    if (!(s->fonts[i] = VekCreateFont(kFace, kFonts[i].size, kFonts[i].flags, kFonts[i].colour))) {
      std::fprintf(stderr, "demo scene: font %d could not be made\n", i);
      return nullptr;
    }
  }
  if (!RecolourPictures(s->images)) {
    std::fprintf(stderr, "demo scene: a colour effect was refused\n");
    return nullptr;
  }
  s->window = VekOpenGraphics(device);
  s->stencil = VekOpenStencilGraphics(s->window);
  s->canvas = VekOpenTextureGraphics(device, 128, 128, 21 /* D3DFMT_A8R8G8B8 */);
  if (!s->window || !s->stencil || !s->canvas) {
    std::fprintf(stderr, "demo scene: a drawing surface could not be opened\n");
    return nullptr;
  }
  return s;
}

bool DrawDemoFrame(DemoScene* s, ULONGLONG timeMs) {
  if (!DrawCanvas(*s) || !DrawMask(*s) || !DrawWindow(*s, timeMs)) {
    std::fprintf(stderr, "demo scene: a frame failed\n");
    return false;
  }
  return true;
}

bool DrawDemoScene(HVEKDEVICE device, ULONGLONG timeMs) {
  std::unique_ptr<DemoScene> s = OpenDemoScene(device);
  return s && DrawDemoFrame(s.get(), timeMs);
}
