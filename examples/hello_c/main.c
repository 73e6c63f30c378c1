/* A vek host in C: a window, a device, one frame with a quad and a line,
 * the frame saved as a BMP and two of its pixels read back from the file.
 * Prints "vek_hello_c: ok" when the picture is what it drew. Compiles as
 * C99 and C11 against an installed vek on Windows and on Linux. */
#include <vek/vek.h>

#include <stdio.h>
#include <string.h>

#ifdef _WIN32
static HWND MakeWindow(int width, int height) {
  WNDCLASSW wc;
  RECT r = {0, 0, 0, 0};
  memset(&wc, 0, sizeof wc);
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(NULL);
  wc.lpszClassName = L"vekhelloc";
  RegisterClassW(&wc);
  r.right = width;
  r.bottom = height;
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  return CreateWindowExW(0, L"vekhelloc", L"vek hello", WS_OVERLAPPEDWINDOW, 0, 0,
                         r.right - r.left, r.bottom - r.top, NULL, NULL, wc.hInstance, NULL);
}
#else
#include <vekrt/window.h>
static HWND MakeWindow(int width, int height) {
  return VrtCreateVirtualWindow(0, 0, width, height);
}
#endif

/* The file name as UTF-16 units: WCHAR is 16-bit on both systems. */
static const WCHAR kOutput[] = {'v', 'e', 'k', '_', 'h', 'e', 'l', 'l', 'o', '_',
                                'c', '.', 'b', 'm', 'p', 0};

/* The RGB of pixel (x, y) of a bottom-up 24- or 32-bit BMP; -1 when unreadable. */
static long BmpPixel(const char* path, int x, int y) {
  static unsigned char b[1 << 20];
  size_t n;
  unsigned long offset, width, height, bits, pitch, at;
  FILE* f = fopen(path, "rb");
  if (!f) return -1;
  n = fread(b, 1, sizeof b, f);
  fclose(f);
  if (n < 54 || b[0] != 'B' || b[1] != 'M') return -1;
  offset = b[10] | b[11] << 8 | (unsigned long)b[12] << 16 | (unsigned long)b[13] << 24;
  width = b[18] | b[19] << 8 | (unsigned long)b[20] << 16;
  height = b[22] | b[23] << 8 | (unsigned long)b[24] << 16;
  bits = b[28];
  if ((bits != 24 && bits != 32) || (unsigned long)x >= width || (unsigned long)y >= height)
    return -1;
  pitch = (width * (bits / 8) + 3) & ~3ul;
  at = offset + (height - 1 - (unsigned long)y) * pitch + (unsigned long)x * (bits / 8);
  if (at + 3 > n) return -1;
  return (long)b[at + 2] << 16 | (long)b[at + 1] << 8 | b[at];
}

int main(void) {
  HWND window = MakeWindow(64, 48);
  HVEKDEVICE device;
  HVEKGRAPHICS g;
  long inside, outside;
  if (!window) return 1;
  device = VekOpenGraphicsDevice(0, window, 0, 1, 64, 48, 32, 0);
  if (!device) return 1;
  g = VekOpenGraphics(device);
  if (!g || VekBeginRender(g) < 0) return 1;
  VekClear(g, 0xFF000040);
  /* An opaque orange square from (8, 8) to (40, 40), and a white line. */
  VekDrawQuad(g, 8, 8, 0.5f, 0xFFFF8000, 0, 0, 40, 8, 0.5f, 0xFFFF8000, 1, 0, 40, 40, 0.5f,
              0xFFFF8000, 1, 1, 8, 40, 0.5f, 0xFFFF8000, 0, 1, DRAW_OPAQUE, NULL);
  VekDrawLine(g, 0, 44.5f, 0.5f, 0xFFFFFFFF, 64, 44.5f, 0.5f, 0xFFFFFFFF, DRAW_NOZWRITE);
  if (VekEndRender(g) < 0) return 1;
  if (VekSaveGraphics(g, kOutput, VEK_SAVE_BMP) != 0) return 1;
  /* PNG is refused, as D3DX 8 refuses it. */
  if (VekSaveGraphics(g, kOutput, VEK_SAVE_PNG) >= 0) return 1;
  VekCloseGraphics(g);
  VekCloseGraphicsDevice(device);

  inside = BmpPixel("vek_hello_c.bmp", 20, 20);
  outside = BmpPixel("vek_hello_c.bmp", 50, 20);
  printf("inside %06lx, outside %06lx\n", inside, outside);
  if (inside != 0xFF8000 || outside != 0x000040) return 1;
  printf("vek_hello_c: ok\n");
  return 0;
}
