// Surface operations: clears of the target and the depth-stencil surface
// within the viewport, and presentation of a back buffer onto the desktop.
#include "desktop.h"
#include "raster_internal.h"
#include "real_windows.h"

#include <emmintrin.h>

namespace vrt::d3d {

namespace {

// Sets pixels [x0, x1) of a row of 2- or 4-byte pixels to `value`, keeping
// each pixel's `keep` bits: sixteen bytes a store. A whole target is cleared
// every frame, and one pixel a store made that cost more than drawing text.
template <typename Pixel>
void FillRow(BYTE* row, int x0, int x1, uint32_t keep, uint32_t value) {
  Pixel* px = reinterpret_cast<Pixel*>(row) + x0;
  const int n = x1 - x0;
  constexpr int kLane = 16 / sizeof(Pixel);
  const Pixel k = static_cast<Pixel>(keep), v = static_cast<Pixel>(value);
  const __m128i kv = sizeof(Pixel) == 4 ? _mm_set1_epi32(static_cast<int>(k))
                                        : _mm_set1_epi16(static_cast<short>(k));
  const __m128i vv = sizeof(Pixel) == 4 ? _mm_set1_epi32(static_cast<int>(v))
                                        : _mm_set1_epi16(static_cast<short>(v));
  int i = 0;
  if (k == 0) {
    for (; i + kLane <= n; i += kLane) _mm_storeu_si128(reinterpret_cast<__m128i*>(px + i), vv);
  } else {
    for (; i + kLane <= n; i += kLane) {
      auto* at = reinterpret_cast<__m128i*>(px + i);
      _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at), kv), vv));
    }
  }
  for (; i < n; ++i) px[i] = static_cast<Pixel>((px[i] & k) | v);
}

}  // namespace

void ClearTargets(DeviceState& state, const DrawCall& call) {
  const D3DVIEWPORT8& vp = state.viewport;
  auto each = [&](Surface* s, auto&& fill) {
    const int64_t vx0 = vp.X, vy0 = vp.Y;
    const int64_t vx1 = std::min<int64_t>(int64_t{vp.X} + vp.Width, s->width());
    const int64_t vy1 = std::min<int64_t>(int64_t{vp.Y} + vp.Height, s->height());
    auto one = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
      x0 = std::max(x0, vx0);
      y0 = std::max(y0, vy0);
      x1 = std::min(x1, vx1);
      y1 = std::min(y1, vy1);
      if (x0 >= x1 || y0 >= y1) return;
      for (int64_t y = y0; y < y1; ++y)
        fill(s->bits() + static_cast<size_t>(y) * s->pitch(), static_cast<int>(x0),
             static_cast<int>(x1));
    };
    if (call.rectCount == 0 || !call.rects) {
      one(vx0, vy0, vx1, vy1);
    } else {
      for (DWORD i = 0; i < call.rectCount; ++i) {
        const D3DRECT& r = call.rects[i];
        one(r.x1, r.y1, r.x2, r.y2);
      }
    }
  };
  Surface* rt = state.renderTarget;
  if ((call.clearFlags & D3DCLEAR_TARGET) && rt && rt->bits() &&
      IsWritableColorFormat(rt->format())) {
    const uint32_t packed = PackColor(rt->format(), call.color);
    if (BytesPerPixel(rt->format()) == 4)
      each(rt, [&](BYTE* row, int x0, int x1) { FillRow<uint32_t>(row, x0, x1, 0, packed); });
    else
      each(rt, [&](BYTE* row, int x0, int x1) { FillRow<uint16_t>(row, x0, x1, 0, packed); });
    rt->ContentsChanged();
  }
  Surface* ds = state.depthStencil;
  DepthLayout d;
  if ((call.clearFlags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && ds && ds->bits() &&
      DescribeDepth(ds->format(), &d)) {
    const uint32_t depthMask =
        d.depthBits >= 32 ? 0xFFFFFFFFu : ((1u << d.depthBits) - 1) << d.depthShift;
    const uint32_t stencilMask = (1u << d.stencilBits) - 1;
    uint32_t keep = 0xFFFFFFFFu, value = 0;
    if (call.clearFlags & D3DCLEAR_ZBUFFER) {
      keep &= ~depthMask;
      value |= (QuantizeDepth(call.z, d.depthBits) << d.depthShift) & depthMask;
    }
    if (call.clearFlags & D3DCLEAR_STENCIL) {
      keep &= ~stencilMask;
      value |= call.stencil & stencilMask;
    }
    // Bits neither depth nor stencil (the X of D24X8) are cleared with depth.
    if (call.clearFlags & D3DCLEAR_ZBUFFER) keep &= depthMask | stencilMask;
    if (d.bytes == 4)
      each(ds, [&](BYTE* row, int x0, int x1) { FillRow<uint32_t>(row, x0, x1, keep, value); });
    else
      each(ds, [&](BYTE* row, int x0, int x1) { FillRow<uint16_t>(row, x0, x1, keep, value); });
  }
}

namespace {

// The back buffer's rectangle `src` stretched onto `dst`, as 24-bit colour:
// columns [x0, x1) and rows [y0, y1) of the destination, row y written from
// rowAt(y) (where its column 0 lies).
template <class RowAt>
void MapPixels(Surface* back, const RECT& src, const RECT& dst, int64_t x0, int64_t x1, int64_t y0,
               int64_t y1, RowAt rowAt) {
  const int64_t sw = int64_t{src.right} - src.left, sh = int64_t{src.bottom} - src.top;
  const int64_t dw = int64_t{dst.right} - dst.left, dh = int64_t{dst.bottom} - dst.top;
  const UINT bpp = BytesPerPixel(back->format());
  // 32-bit pixels at their own size: a masked copy, the same values the
  // general conversion gives.
  const bool plain = (back->format() == D3DFMT_X8R8G8B8 || back->format() == D3DFMT_A8R8G8B8) &&
                     sw == dw && sh == dh;
  for (int64_t y = y0; y < y1; ++y) {
    const int64_t sy = src.top + ((y - dst.top) * sh) / dh;
    const BYTE* row = back->bits() + static_cast<size_t>(sy) * back->pitch();
    uint32_t* out = rowAt(y);
    if (plain) {
      const auto* in = reinterpret_cast<const uint32_t*>(row) + (src.left - dst.left);
      for (int64_t x = x0; x < x1; ++x) out[x] = in[x] & 0xFFFFFFu;
      continue;
    }
    for (int64_t x = x0; x < x1; ++x) {
      const int64_t sx = src.left + ((x - dst.left) * sw) / dw;
      out[x] = UnpackColor(back->format(), LoadPixel(row + sx * bpp, bpp)) & 0xFFFFFFu;
    }
  }
}

// The client area of a real window as the present shows it: the source
// rectangle stretched over the destination (nearest pixel), X8R8G8B8 with
// the X bits zero, black outside the destination.
void ShowInRealWindow(Surface* back, const RECT& src, const RECT& dst, HWND window, int width,
                      int height, DWORD interval) {
  if (width <= 0 || height <= 0) return;
  const int64_t sw = int64_t{src.right} - src.left, sh = int64_t{src.bottom} - src.top;
  const int64_t dw = int64_t{dst.right} - dst.left, dh = int64_t{dst.bottom} - dst.top;
  const bool plain = (back->format() == D3DFMT_X8R8G8B8 || back->format() == D3DFMT_A8R8G8B8) &&
                     sw == dw && sh == dh;
  // The common case, a 32-bit back buffer exactly covering the client area:
  // shown straight from the back buffer, no copy in between.
  if (plain && dst.left == 0 && dst.top == 0 && dw == width && dh == height &&
      back->pitch() % 4 == 0) {
    const auto* first = reinterpret_cast<const uint32_t*>(
                            back->bits() + static_cast<size_t>(src.top) * back->pitch()) +
                        src.left;
    real::Show(window, first, width, height, static_cast<int>(back->pitch() / 4), interval);
    return;
  }
  thread_local std::vector<uint32_t> frame;
  frame.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
  MapPixels(back, src, dst, std::max<int64_t>(dst.left, 0), std::min<int64_t>(dst.right, width),
            std::max<int64_t>(dst.top, 0), std::min<int64_t>(dst.bottom, height),
            [&](int64_t y) { return frame.data() + static_cast<size_t>(y) * width; });
  real::Show(window, frame.data(), width, height, width, interval);
}

}  // namespace

void PresentToDesktop(Surface* back, const RECT* source, const RECT* dest, HWND window,
                      DWORD interval) {
  if (!back || !back->bits() || !IsWritableColorFormat(back->format())) return;
  desktop::Placement place;
  if (!window || !desktop::Lookup(window, &place)) return;
  const RECT src =
      source ? *source
             : RECT{0, 0, static_cast<LONG>(back->width()), static_cast<LONG>(back->height())};
  const RECT dst = dest ? *dest : RECT{0, 0, place.width, place.height};
  const int64_t sw = int64_t{src.right} - src.left, sh = int64_t{src.bottom} - src.top;
  const int64_t dw = int64_t{dst.right} - dst.left, dh = int64_t{dst.bottom} - dst.top;
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || src.left < 0 || src.top < 0 ||
      src.right > static_cast<LONG>(back->width()) ||
      src.bottom > static_cast<LONG>(back->height()))
    return;
  SIZE size;
  uint32_t* pixels = desktop::LockPixels(&size);
  // Destination pixels inside the client area and the desktop.
  const int64_t cx0 = std::max<int64_t>({dst.left, 0, -int64_t{place.x}});
  const int64_t cy0 = std::max<int64_t>({dst.top, 0, -int64_t{place.y}});
  const int64_t cx1 = std::min<int64_t>({dst.right, place.width, int64_t{size.cx} - place.x});
  const int64_t cy1 = std::min<int64_t>({dst.bottom, place.height, int64_t{size.cy} - place.y});
  MapPixels(back, src, dst, cx0, cx1, cy0, cy1,
            [&](int64_t y) { return pixels + (y + place.y) * size.cx + place.x; });
  desktop::UnlockPixels();
  if (real::IsReal(window))
    ShowInRealWindow(back, src, dst, window, place.width, place.height, interval);
}

}  // namespace vrt::d3d
