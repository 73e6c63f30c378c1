/* A vek host in C with a real window on Linux: a frame loop drawing a
 * turning quad and a line until the window is closed, Escape is pressed or
 * the number of seconds given as the first argument has passed. Prints its
 * frame rate once a second. */
#define _POSIX_C_SOURCE 199309L /* clock_gettime */

#include <vek/vek.h>
#include <vekrt/window.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? atof(argv[1]) : 0;
  const double start = Now();
  double second = start;
  int frames = 0, total = 0;
  HWND window = VrtCreateWindow("vek in C", 640, 480, 1);
  HVEKDEVICE device;
  HVEKGRAPHICS g;
  if (!window) {
    fprintf(stderr, "no window: %s\n", VrtWindowError());
    return 1;
  }
  device = VekOpenGraphicsDevice(0, window, 0, /*windowed*/ 1, 640, 480, 32, 0);
  g = device ? VekOpenGraphics(device) : NULL;
  if (!g) {
    VrtDestroyWindow(window);
    return 1;
  }
  for (;;) {
    const int news = VrtPollWindow(window);
    const double t = Now() - start;
    float c, s;
    if (news & (VRT_WINDOW_CLOSED | VRT_WINDOW_ESCAPE)) break;
    if (seconds > 0 && t >= seconds) break;
    if (VekCheckGraphicsDevice(device) != 1 || VekBeginRender(g) < 0) continue;
    VekClear(g, 0xFF102040);
    c = (float)cos(t) * 100.0f;
    s = (float)sin(t) * 100.0f;
    VekDrawQuad(g, 320 - c + s, 240 - s - c, 0.5f, 0xFFFF8000, 0, 0, 320 + c + s, 240 + s - c,
                0.5f, 0xFFFFFF00, 1, 0, 320 + c - s, 240 + s + c, 0.5f, 0xFF00C0FF, 1, 1,
                320 - c - s, 240 - s + c, 0.5f, 0xFFFFFFFF, 0, 1, DRAW_OPAQUE, NULL);
    VekDrawLine(g, 0, 470.5f, 0.5f, 0xFFFFFFFF, (float)(640.0 * fmod(t, 1.0)), 470.5f, 0.5f,
                0xFFFFFFFF, 0);
    VekEndRender(g);
    ++frames;
    ++total;
    if (Now() - second >= 1.0) {
      printf("%d frames a second\n", frames);
      fflush(stdout);
      frames = 0;
      second = Now();
    }
  }
  printf("%d frames in %.1f s: %.1f frames a second\n", total, Now() - start,
         total / (Now() - start));
  VekCloseGraphics(g);
  VekCloseGraphicsDevice(device);
  VrtDestroyWindow(window);
  return 0;
}
