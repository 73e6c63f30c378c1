#include <vek/vek.hpp>
#include <vekrt/window.h>  // Linux; on Windows, any window of the host

int main() try {
  HWND window = VrtCreateVirtualWindow(0, 0, 320, 240);
  vek::Device device = vek::Device::Open(window, 320, 240).value();
  vek::Surface screen = device.WindowSurface().value();
  std::vector<uint32_t> pixels(16 * 8, 0xFFE0C040);  // a 16 x 8 picture, made here
  std::vector<uint8_t> png = vek::EncodePng(16, 8, pixels.data());
  vek::Image ship = vek::Image::FromMemory(png.data(), png.size()).value();
  vek::Font font = vek::Font::Create("DejaVu Sans", 20).value();
  vek::ParticleSystem sparks;  // 100 white particles; change what you need
  sparks.x = 160, sparks.y = 120, sparks.speedMax = 60, sparks.directionMax = 360;

  screen.Begin();
  screen.Clear(0xFF101820);
  vek::Sprite s;
  s.x = 160, s.y = 120, s.rotation = 30, s.scaleX = s.scaleY = 2;
  s.originX = ship.Width() / 2.0f, s.originY = ship.Height() / 2.0f;
  screen.Draw(ship, s);
  screen.Draw(sparks, /*milliseconds*/ 500);
  screen.Text(font, "h\u00e9llo, vek", 10, 10);
  screen.End();
  vek::SavePng(screen, "frame.png").value();
  std::printf("frame.png written\n");
  return 0;
} catch (const vek::Exception& e) {
  std::fprintf(stderr, "%s\n", e.what());
  return 1;
}
