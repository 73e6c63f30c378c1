// A small vek host: a window, a device, one frame with an image and a curve,
// the frame saved as a BMP and two of its pixels read back from the file.
// Prints "vek_hello: ok" when the picture is what it drew.
#include <vek/vek.h>
#include <rask.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
static HWND MakeWindow(int width, int height) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"vekhello";
  RegisterClassW(&wc);
  RECT r{0, 0, width, height};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  return CreateWindowExW(0, L"vekhello", L"vek hello", WS_OVERLAPPEDWINDOW, 0, 0,
                         r.right - r.left, r.bottom - r.top, nullptr, nullptr, wc.hInstance,
                         nullptr);
}
static const WCHAR kOutput[] = L"vek_hello.bmp";
#else
#include <vekrt/runtime.h>
static HWND MakeWindow(int width, int height) { return vrt::CreateVirtualWindow(0, 0, width, height); }
static const WCHAR kOutput[] = u"vek_hello.bmp";
#endif

static void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

// An 8 x 8 DXT1 picture of one colour (R5G6B5), as a DDS file in memory.
static std::vector<uint8_t> SolidDxt1(uint16_t colour) {
  std::vector<uint8_t> file(128 + 4 * 8, 0);
  std::memcpy(&file[0], "DDS ", 4);
  Put32(file, 4, 124);         // header size
  Put32(file, 8, 0x81007);     // caps, height, width, pixel format, linear size
  Put32(file, 12, 8);          // height
  Put32(file, 16, 8);          // width
  Put32(file, 20, 32);         // bytes of level 0
  Put32(file, 76, 32);         // pixel format size
  Put32(file, 80, 4);          // four-character code follows
  std::memcpy(&file[84], "DXT1", 4);
  Put32(file, 108, 0x1000);    // a texture
  for (size_t block = 0; block < 4; ++block) {
    uint8_t* b = &file[128 + block * 8];
    std::memcpy(b, &colour, 2);
    std::memcpy(b + 2, &colour, 2);  // both ends equal: every index gives the colour
  }
  return file;
}

// The RGB of pixel (x, y) of a 24- or 32-bit BMP file; -1 when unreadable.
static long BmpPixel(const char* path, int x, int y) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return -1;
  std::vector<uint8_t> b(1 << 20);
  b.resize(std::fread(b.data(), 1, b.size(), f));
  std::fclose(f);
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return -1;
  uint32_t offset;
  int32_t width, height;
  uint16_t bits;
  std::memcpy(&offset, &b[10], 4);
  std::memcpy(&width, &b[18], 4);
  std::memcpy(&height, &b[22], 4);
  std::memcpy(&bits, &b[28], 2);
  if (bits != 24 && bits != 32) return -1;
  const int rows = height < 0 ? -height : height;
  if (x < 0 || y < 0 || x >= width || y >= rows) return -1;
  const size_t pitch = (static_cast<size_t>(width) * (bits / 8) + 3) & ~size_t(3);
  const size_t row = height < 0 ? y : rows - 1 - y;  // bottom-up unless the height is negative
  const size_t at = offset + row * pitch + static_cast<size_t>(x) * (bits / 8);
  if (at + 3 > b.size()) return -1;
  return long(b[at + 2]) << 16 | long(b[at + 1]) << 8 | b[at];
}

int main() {
  std::printf("vek %s\n", VEK_VERSION_STRING);
  HWND window = MakeWindow(160, 140);
  HVEKDEVICE device = VekOpenGraphicsDevice(0, window, 0, 1, 160, 140, 32, 0);
  if (!device) {
    std::printf("vek_hello: no device\n");
    return 1;
  }
  HVEKGRAPHICS graphics = VekOpenGraphics(device);
  const std::vector<uint8_t> dds = SolidDxt1(0xF800);  // red
  HRASKFILE file = RaskCreateFileFromMemory(dds.data(), static_cast<DWORD>(dds.size()), nullptr);
  HVEKIMAGE image = VekCreateImage(file);
  RaskDestroyFile(file);
  if (!graphics || !image) {
    std::printf("vek_hello: no surface or image\n");
    return 1;
  }
  const UINT size = VekGetImageSize(image);
  std::printf("image %u x %u\n", size & 0xFFFF, size >> 16);

  INT drawn = 0;
  if (VekCheckGraphicsDevice(device) == 1) {
    VekBeginRender(graphics);
    VekClear(graphics, 0xFF000080);
    VekDrawQuad(graphics, 20, 20, 0.5f, 0xFFFFFFFF, 0, 0, 84, 20, 0.5f, 0xFFFFFFFF, 1, 0, 84, 84,
                0.5f, 0xFFFFFFFF, 1, 1, 20, 84, 0.5f, 0xFFFFFFFF, 0, 1, 0,
                reinterpret_cast<HVEKTEXTURE>(image));  // an image is a texture
    VekDrawBezier(graphics, 10, 120, 0.5f, 50, 90, 0.5f, 110, 150, 0.5f, 150, 120, 0.5f, 0xFFFFFF00,
                  0.05f, 0);
    drawn = VekEndRender(graphics);
  }
  const INT saved = VekSaveGraphics(graphics, kOutput, 0 /* BMP */);
  std::printf("frame %d, saved %d\n", drawn, saved);

  const long quad = BmpPixel("vek_hello.bmp", 52, 52);
  const long background = BmpPixel("vek_hello.bmp", 120, 40);
  std::printf("quad %06lx, background %06lx\n", quad, background);

  VekDestroyImage(image);
  VekCloseGraphics(graphics);
  VekCloseGraphicsDevice(device);
  const bool ok = drawn == 0 && saved == 0 && quad == 0xFF0000 && background == 0x000080;
  std::printf("vek_hello: %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
