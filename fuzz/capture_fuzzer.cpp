// Screen capture rectangles from arbitrary bytes, over a desktop showing a
// presented frame: any corners (negative, reversed, beyond the screen,
// huge), captures taken, replaced, collected and dropped. Checks: a capture
// is a BMP file whose header agrees with its size and with the rectangle
// cut to the screen, and its pixels are the desktop's.
#include <vector>

#include "fuzz_support.h"

namespace {

SIZE screen{};

uint32_t Le32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

void CheckCapture(INT x1, INT y1, INT x2, INT y2) {
  DWORD size = 0;
  BYTE* file = VekGetScreenCapture(&size);
  const LONG left = x1 < 0 ? 0 : x1, top = y1 < 0 ? 0 : y1;
  const LONG right = x2 > screen.cx ? screen.cx : x2, bottom = y2 > screen.cy ? screen.cy : y2;
  if (right <= left || bottom <= top) {
    fuzz::Check(file == nullptr && size == 0, "an empty rectangle captures nothing");
    return;
  }
  if (!file) return;  // allowed to fail (memory), never to deliver garbage
  fuzz::Check(size >= 54 && file[0] == 'B' && file[1] == 'M', "a capture is a BMP file");
  fuzz::Check(Le32(file + 2) == size, "the file size is the one delivered");
  const uint32_t width = Le32(file + 18), height = Le32(file + 22);
  fuzz::Check(
      width == static_cast<uint32_t>(right - left) && height == static_cast<uint32_t>(bottom - top),
      "the picture is the rectangle cut to the screen");
  const uint32_t offset = Le32(file + 10);
  const uint16_t bits = static_cast<uint16_t>(file[28] | file[29] << 8);
  if (bits == 32 && width <= 256 && height <= 256) {
    std::vector<uint32_t> desktop;
    fuzz::Check(vrt::ReadDesktopPixels(RECT{left, top, right, bottom}, &desktop),
                "the desktop reads");
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) {
        const BYTE* p = file + offset + (static_cast<size_t>(height - 1 - y) * width + x) * 4;
        fuzz::Check((Le32(p) & 0x00FFFFFF) == desktop[static_cast<size_t>(y) * width + x],
                    "the captured pixels are the desktop's");
      }
  }
  VekFree(file);
}

INT Corner(fuzz::Reader& in, LONG extent) {
  const uint8_t kind = in.U8();
  if (kind < 32) return in.I32();
  return static_cast<INT>(in.U16() % (extent + 64)) - 32;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietStdout();
  vrt::AdapterConfig adapter = vrt::DefaultAdapter();
  adapter.currentMode.Width = 320;  // a small screen: captures cost its size at most
  adapter.currentMode.Height = 200;
  vrt::SetAdapters({adapter});
  screen = vrt::DesktopSize();
  // A frame on the desktop, so pixels are not all black.
  HWND window = vrt::CreateVirtualWindow(40, 30, 128, 96);
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 128, 96, 32, 0);
  fuzz::Check(device != nullptr, "the device opens");
  HVEKGRAPHICS g = VekOpenGraphics(device);
  VekBeginRender(g);
  VekClear(g, 0xFF336699);
  VekDrawQuad(g, 10, 10, 0.5f, 0xFFFF0000, 0, 0, 100, 20, 0.5f, 0xFF00FF00, 0, 0, 90, 80, 0.5f,
              0xFF0000FF, 0, 0, 5, 70, 0.5f, 0xFFFFFFFF, 0, 0, 0, nullptr);
  VekEndRender(g);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  while (!in.Empty()) {
    const INT x1 = Corner(in, screen.cx), y1 = Corner(in, screen.cy);
    const INT x2 = Corner(in, screen.cx), y2 = Corner(in, screen.cy);
    fuzz::Check(VekScreenCapture(x1, y1, x2, y2) == 0, "a capture returns 0");
    switch (in.U8() % 3) {
      case 0:
        CheckCapture(x1, y1, x2, y2);
        break;
      case 1:
        break;  // replaced by the next, or dropped at the end
      default: {
        BYTE* file = VekGetScreenCapture(nullptr);  // collected without its size
        const LONG left = x1 < 0 ? 0 : x1, top = y1 < 0 ? 0 : y1;
        fuzz::Check(
            file != nullptr || x2 <= left || y2 <= top || left >= screen.cx || top >= screen.cy,
            "a capture of a non-empty rectangle is delivered");
        VekFree(file);
        break;
      }
    }
  }
  return 0;
}
