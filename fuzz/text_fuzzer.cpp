// Fonts and text from arbitrary bytes: a face name (known, unknown, empty,
// long or made of the input's units), a size, every flag combination and an
// effect colour through VekCreateFont; then measuring and drawing UTF-16
// strings with controls and lone surrogates into boxes with NaN and huge
// corners, frames flushed now and then so the atlas grows and is drawn.
// Checks: measuring agrees with itself, nothing queued is unsound, a
// measured text is never wider than 0xFFFF, and the font always closes.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "vekfont/font.h"

namespace {

HVEKDEVICE device = nullptr;
HVEKGRAPHICS surface = nullptr;

const WCHAR kDejaVu[] = {'D', 'e', 'j', 'a', 'V', 'u', ' ', 'S', 'a', 'n', 's', 0};
const WCHAR kMono[] = {'D', 'e', 'j', 'a', 'V', 'u', ' ', 'S', 'a',
                       'n', 's', ' ', 'M', 'o', 'n', 'o', 0};
const WCHAR kUnknown[] = {'N', 'o', ' ', 's', 'u', 'c', 'h', 0};

std::vector<WCHAR> FaceName(fuzz::Reader& in) {
  std::vector<WCHAR> name;
  switch (in.U8() % 5) {
    case 0:
      name.assign(kDejaVu, kDejaVu + sizeof kDejaVu / sizeof(WCHAR));
      break;
    case 1:
      name.assign(kMono, kMono + sizeof kMono / sizeof(WCHAR));
      break;
    case 2:
      name.assign(kUnknown, kUnknown + sizeof kUnknown / sizeof(WCHAR));
      break;
    case 3:
      name.assign(40, 'W');  // longer than the 32 units kept
      name.push_back(0);
      break;
    default:
      for (UINT n = in.U8() % 48; n > 0; --n) name.push_back(in.U16());
      name.push_back(0);
      break;
  }
  return name;
}

// Units from the input, biased towards printable ones, controls and
// surrogates (lone or paired) included.
std::vector<WCHAR> Text(fuzz::Reader& in) {
  std::vector<WCHAR> text;
  for (UINT n = in.U8() % 40; n > 0 && !in.Empty(); --n) {
    const uint8_t kind = in.U8();
    if (kind < 160)
      text.push_back(static_cast<WCHAR>(0x20 + kind % 0x5F));
    else if (kind < 200)
      text.push_back(in.U16());
    else if (kind < 220)
      text.push_back(static_cast<WCHAR>(in.U8() % 0x20));
    else
      text.push_back(static_cast<WCHAR>(0xD800 + in.U16() % 0x800));
  }
  return text;
}

void Box(fuzz::Reader& in, float corner[4][3], bool* finite) {
  const bool free = in.U8() < 32;
  const float x = static_cast<float>(in.U8() % 64), y = static_cast<float>(in.U8() % 64);
  const float w = static_cast<float>(in.U8()), h = static_cast<float>(in.U8() % 64);
  const float plain[4][2] = {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
  *finite = true;
  for (int i = 0; i < 4; ++i) {
    corner[i][0] = free ? in.Coordinate() : plain[i][0];
    corner[i][1] = free ? in.Coordinate() : plain[i][1];
    corner[i][2] = 0.5f;
    *finite = *finite && std::isfinite(corner[i][0]) && std::isfinite(corner[i][1]);
  }
}

void Flush() {
  VekBeginRender(surface);
  VekClear(surface, 0xFF000000);
  VekEndRender(surface);
  fuzz::Check(fuzz::QueuedCount(surface) == 0, "a frame leaves nothing queued");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietStdout();
  device = fuzz::OpenDevice("text", false);  // only queued items are checked
  surface = VekOpenGraphics(device);
  fuzz::Check(surface != nullptr, "the window surface opens");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  const std::vector<WCHAR> face = FaceName(in);
  // Mostly sizes up to 64 (large glyphs cost time, not reach), now and then
  // up to 600 or any value at all.
  const uint8_t sizeKind = in.U8();
  const UINT fontSize = sizeKind < 8 ? in.U32() : sizeKind < 24 ? in.U16() % 600 : in.U8() % 64;
  const DWORD flags = in.U16();
  const DWORD colour = in.U32();
  HVEKFONT font = VekCreateFont(in.Bool() ? nullptr : face.data(), fontSize, flags, colour);
  if (!font) return 0;
  const UINT height = VekGetFontHeight(font);
  fuzz::Check(height > 0, "a font has a cell height");
  bool drew = false;
  bool allFinite = true;  // every box since the last flush had finite corners
  while (!in.Empty()) {
    const std::vector<WCHAR> text = Text(in);
    const INT count = static_cast<INT>(text.size());
    const DWORD measured = VekGetTextSize(font, text.data(), count);
    DWORD widths = 0, tallest = 0;
    for (WCHAR unit : text) {
      const DWORD one = VekGetCharSize(font, unit);
      widths += one & 0xFFFF;
      if ((one >> 16) > tallest) tallest = one >> 16;
    }
    fuzz::Check((measured & 0xFFFF) == (widths > 0xFFFF ? 0xFFFF : widths),
                "a text measures as the sum of its units");
    fuzz::Check(measured >> 16 == tallest, "a text is as tall as its tallest unit");
    float c[4][3];
    bool finite = false;
    Box(in, c, &finite);
    const DWORD drawFlags = in.U8() & 0x2F;
    const DWORD ink = in.U32();
    if (in.Bool()) {
      VekDrawText(surface, c[0][0], c[0][1], c[0][2], ink, c[1][0], c[1][1], c[1][2], ink, c[2][0],
                  c[2][1], c[2][2], ink, c[3][0], c[3][1], c[3][2], ink, drawFlags, font,
                  text.data(), static_cast<UINT>(count));
    } else {
      VekDrawChar(surface, c[0][0], c[0][1], c[0][2], ink, c[1][0], c[1][1], c[1][2], ink, c[2][0],
                  c[2][1], c[2][2], ink, c[3][0], c[3][1], c[3][2], ink, drawFlags, font,
                  count ? text[0] | (in.U8() << 16) : in.U32());
    }
    if (std::getenv("VEK_FUZZ_VERBOSE"))
      std::fprintf(stderr, "box %g,%g %g,%g %g,%g %g,%g, %zu units, font height %u\n", c[0][0],
                   c[0][1], c[1][0], c[1][1], c[2][0], c[2][1], c[3][0], c[3][1], text.size(),
                   height);
    allFinite = allFinite && finite;
    fuzz::CheckQueued(surface, allFinite);
    drew = true;
    if (in.U8() < 64) {
      Flush();
      allFinite = true;
    }
  }
  if (drew) Flush();
  fuzz::Check(VekDestroyFont(font) == 1, "the font closes");
  return 0;
}
