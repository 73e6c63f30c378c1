#include <vek/vek.h>
#include <vekrt/window.h> /* Linux; on Windows, any window of the host */

int main(void) {
  static const WCHAR out[] = {'f', 'r', 'a', 'm', 'e', '.', 'b', 'm', 'p', 0};
  HWND window = VrtCreateVirtualWindow(0, 0, 320, 240);
  HVEKDEVICE dev = VekOpenGraphicsDevice(0, window, 0, /*windowed*/ 1, 320, 240, 32, 0);
  HVEKGRAPHICS g = VekOpenGraphics(dev);
  int saved;
  if (VekCheckGraphicsDevice(dev) == 1 && VekBeginRender(g) >= 0) {
    VekClear(g, 0xFF000040);
    VekDrawQuad(g, 10, 10, 0.5f, 0xFFFF8000, 0, 0, 110, 10, 0.5f, 0xFFFF8000, 1, 0, 110, 60, 0.5f,
                0xFFFF8000, 1, 1, 10, 60, 0.5f, 0xFFFF8000, 0, 1, DRAW_OPAQUE, NULL);
    VekEndRender(g);
  }
  saved = VekSaveGraphics(g, out, VEK_SAVE_BMP);
  VekCloseGraphics(g);
  VekCloseGraphicsDevice(dev);
  return saved == 0 ? 0 : 1;
}
