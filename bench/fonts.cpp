// Fonts and text on the software device, DejaVu Sans at 16 pixels:
//  1. first use: 2,000 distinct glyphs rasterised and uploaded into a fresh
//     font's atlas, in each glyph format, against FreeType alone loading and
//     rendering the same glyphs in the same run;
//  2. cached text: VekDrawText of a 64-unit line (cost per glyph, against one
//     VekDrawQuad) and VekGetTextSize (cost per unit);
//  3. heap allocations in steady frames that draw only cached glyphs.
// Times are medians of several runs on the thread's CPU clock, which leaves
// out time the thread spent descheduled on a shared machine.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <vek/vek.h>
#include <vekrt/runtime.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <vector>

#include "bench_graphics.h"
#include "bench_util.h"
#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "vekfont/font.h"

// Every malloc in the process comes through here.
#include "alloc_count.h"

namespace {

constexpr char kFontPath[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const WCHAR kFontFile[] = u"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const WCHAR kFace[] = u"DejaVu Sans";
constexpr int kGlyphs = 2000, kRuns = 7;

// The first kGlyphs code points from 0x21 on that the face has a glyph for.
std::vector<WCHAR> PickCodePoints(FT_Face face) {
  std::vector<WCHAR> codes;
  for (unsigned c = 0x21; c < 0xFFFF && codes.size() < kGlyphs; ++c)
    if (FT_Get_Char_Index(face, c) != 0) codes.push_back(static_cast<WCHAR>(c));
  return codes;
}

// FreeType alone: load and render each glyph as GDI's recipe does.
double FreeTypeSeconds(FT_Face face, const std::vector<WCHAR>& codes, bool mono) {
  const double start = ThreadCpuSeconds();
  FT_Set_Pixel_Sizes(face, 0, 16);
  const FT_Int32 load = FT_LOAD_IGNORE_GLOBAL_ADVANCE_WIDTH | FT_LOAD_NO_BITMAP |
                        (mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
  for (WCHAR c : codes) {
    if (FT_Load_Char(face, c, load) != 0) continue;
    FT_Render_Glyph(face->glyph, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL);
  }
  return ThreadCpuSeconds() - start;
}

// The runtime's GDI alone: each glyph fetched once into a large buffer.
double GdiSeconds(const std::vector<WCHAR>& codes, UINT format) {
  HFONT font =
      CreateFontW(-16, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kFace);
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, font);
  std::vector<BYTE> buffer(64 * 64);
  MAT2 identity{};
  identity.eM11.value = 1;
  identity.eM22.value = 1;
  const double start = ThreadCpuSeconds();
  for (WCHAR c : codes) {
    GLYPHMETRICS gm{};
    GetGlyphOutlineW(dc, c, format, &gm, static_cast<DWORD>(buffer.size()), buffer.data(),
                     &identity);
  }
  const double seconds = ThreadCpuSeconds() - start;
  DeleteDC(dc);
  DeleteObject(font);
  return seconds;
}

// A fresh font made and filled with every code point once.
double FirstUseSeconds(IDirect3DDevice8* device, const std::vector<WCHAR>& codes, DWORD flags) {
  const double start = ThreadCpuSeconds();
  VekFont* font = VekCreateFont(kFace, 16, flags, 0xFF000000);
  if (!font) return 0;
  EnsureGlyphs(font, codes.data(), static_cast<UINT>(codes.size()), device);
  const double seconds = ThreadCpuSeconds() - start;
  UINT missing = 0;
  for (WCHAR c : codes) missing += FindCharCoordinate(font, c) == nullptr;
  if (missing) std::printf("  (%u glyphs missing)\n", missing);
  VekDestroyFont(font);
  return seconds;
}

void Line(HVEKGRAPHICS g, VekFont* font, const WCHAR* text, UINT n, float y) {
  VekDrawText(g, 0, y, 0.5f, 0xFFFFFFFF, 600, y, 0.5f, 0xFFFFFFFF, 600, y + 19, 0.5f, 0xFFFFFFFF, 0,
              y + 19, 0.5f, 0xFFFFFFFF, 0, font, text, n);
}

}  // namespace

int main() {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&library) || FT_New_Face(library, kFontPath, 0, &face)) {
    std::fprintf(stderr, "cannot open %s with FreeType\n", kFontPath);
    return 1;
  }
  if (VekAddFontFile(kFontFile) <= 0) {
    std::fprintf(stderr, "VekAddFontFile failed\n");
    return 1;
  }
  BenchGraphics opened;
  if (!opened.g) return 1;
  HVEKDEVICE device = opened.device;
  HVEKGRAPHICS g = opened.g;
  IDirect3DDevice8* d3d = device->cache.device;
  const std::vector<WCHAR> codes = PickCodePoints(face);

  std::printf("first use: %zu distinct glyphs at 16 px, median of %d runs\n", codes.size(), kRuns);
  struct Format {
    const char* name;
    DWORD flags;
    bool mono;
    UINT format;
  } formats[] = {{"1-bit", 0, true, GGO_BITMAP},
                 {"gray4", FONT_GRAY4, false, GGO_GRAY4_BITMAP},
                 {"gray8", FONT_GRAY8, false, GGO_GRAY8_BITMAP}};
  for (const Format& f : formats) {
    std::vector<double> ours, alone, gdi;
    for (int run = 0; run < kRuns; ++run) {
      alone.push_back(FreeTypeSeconds(face, codes, f.mono));
      gdi.push_back(GdiSeconds(codes, f.format));
      ours.push_back(FirstUseSeconds(d3d, codes, f.flags));
    }
    const double perOurs = Median(ours) / codes.size() * 1e6;
    const double perAlone = Median(alone) / codes.size() * 1e6;
    const double perGdi = Median(gdi) / codes.size() * 1e6;
    // The first run may take its atlases' memory fresh from the system;
    // later ones reuse what the runtime kept from released textures.
    const double perFirst = ours.front() / codes.size() * 1e6;
    std::printf(
        "  %-5s  vek %6.2f us/glyph  (first run %5.2f, GDI alone %5.2f)  FreeType alone %5.2f  "
        "ratio %.2f\n",
        f.name, perOurs, perFirst, perGdi, perAlone, perOurs / perAlone);
  }

  // Cached text: a 64-unit line whose glyphs are all in the atlas.
  VekFont* font = VekCreateFont(kFace, 16, 0, 0);
  WCHAR line[64];
  for (int i = 0; i < 64; ++i) line[i] = static_cast<WCHAR>(0x41 + (i * 7) % 58);
  constexpr int kLines = 500, kFrames = 15;
  Line(g, font, line, 64, 0);
  FlushDrawItems(g);
  std::vector<double> text, quads, measure;
  text.reserve(kFrames);  // the timing vectors must not allocate inside a frame
  quads.reserve(kFrames);
  measure.reserve(kFrames);
  long steadyAllocations = 0;
  for (int frame = 0; frame < kFrames; ++frame) {
    VekBeginRender(g);
    const long before = allocations.load();
    double start = ThreadCpuSeconds();
    for (int i = 0; i < kLines; ++i) Line(g, font, line, 64, static_cast<float>(i % 30) * 20);
    text.push_back((ThreadCpuSeconds() - start) / (kLines * 64.0));
    start = ThreadCpuSeconds();
    for (int i = 0; i < kLines * 64; ++i)
      VekDrawQuad(g, 0, 0, 0.5f, ~0u, 0, 0, 9, 0, 0.5f, ~0u, 1, 0, 9, 9, 0.5f, ~0u, 1, 1, 0, 9,
                  0.5f, ~0u, 0, 1, 0, VekGetFontTexture(font));
    quads.push_back((ThreadCpuSeconds() - start) / (kLines * 64.0));
    VekEndRender(g);
    if (frame > 0) steadyAllocations += allocations.load() - before;
    start = ThreadCpuSeconds();
    for (int i = 0; i < 200; ++i) VekGetTextSize(font, line, 64);
    measure.push_back((ThreadCpuSeconds() - start) / (200 * 64.0));
  }
  std::printf("cached text, median of %d frames:\n", kFrames);
  std::printf("  VekDrawText   %6.1f ns per glyph (64-unit lines)\n", Median(text) * 1e9);
  std::printf("  VekDrawQuad   %6.1f ns per quad\n", Median(quads) * 1e9);
  std::printf("  VekGetTextSize %5.1f ns per unit\n", Median(measure) * 1e9);
  std::printf("heap allocations in %d steady frames of cached text: %ld\n", kFrames - 1,
              steadyAllocations);

  VekDestroyFont(font);
  VekRemoveFontFile(kFontFile);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return 0;
}
