// GDI device contexts and bitmaps over the virtual desktop: the handle table,
// memory and window DCs, object selection, compatible bitmaps, BitBlt from the
// screen and GetDIBits, so a presented frame can be captured.
#include "gdi.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>

#include "desktop.h"

namespace vrt::gdi {

namespace {

// Handles are numbers, never dereferenced, far above window handles.
constexpr uintptr_t kFirstHandle = 0x10000000;
constexpr uintptr_t kHandleStep = 4;
// Bitmaps larger than this many pixels are refused as out of memory.
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 28;

struct DC : Object {
  DC() : Object(Kind::kDC) {}
  bool memory = true;
  HWND window = nullptr;  // window DCs: the window (or desktop) they draw on
  HANDLE font = nullptr;
  std::shared_ptr<Object> fontObject;
  HANDLE bitmap = nullptr;  // memory DCs only
  std::shared_ptr<Bitmap> bitmapObject;
};

struct Entry {
  std::shared_ptr<Object> object;
  bool counted = true;
};

struct Table {
  std::mutex mutex;
  std::unordered_map<HANDLE, Entry> entries;
  uintptr_t next = kFirstHandle;
  HANDLE stockBitmap = nullptr;
};

Table& TheTable() {
  static Table* table = new Table;  // outlives static destructors that may still call GDI
  return *table;
}

HANDLE StockBitmap() {
  Table& t = TheTable();
  if (!t.stockBitmap) {
    auto bitmap = std::make_shared<Bitmap>();
    bitmap->width = bitmap->height = 1;
    bitmap->bitsPerPixel = 1;
    bitmap->pixels.assign(1, 0u);
    bitmap->stock = true;
    t.stockBitmap = AddHandle(bitmap, false);
  }
  return t.stockBitmap;
}

std::shared_ptr<DC> FindDC(HDC dc) { return std::static_pointer_cast<DC>(Find(dc, Kind::kDC)); }

bool Remove(HANDLE handle) {
  Table& t = TheTable();
  auto it = t.entries.find(handle);
  if (it == t.entries.end()) return false;
  if (it->second.counted) internal::ObjectDestroyed();
  t.entries.erase(it);
  return true;
}

void ReleaseSelections(DC& dc) {
  if (dc.bitmapObject && !dc.bitmapObject->stock) dc.bitmapObject->selectedInto = nullptr;
}

HDC NewDC(bool memory, HWND window) {
  auto dc = std::make_shared<DC>();
  dc->memory = memory;
  dc->window = window;
  dc->font = StockFont();
  dc->fontObject = Find(dc->font, Kind::kFont);
  if (memory) {
    dc->bitmap = StockBitmap();
    dc->bitmapObject = std::static_pointer_cast<Bitmap>(Find(dc->bitmap, Kind::kBitmap));
  }
  return static_cast<HDC>(AddHandle(dc));
}

// Bytes in one DIB row: padded to 4 bytes.
int64_t DibStride(int64_t width, int bits) { return (width * bits + 31) / 32 * 4; }

// What a window DC reads: the client area's place on the desktop, cut to the
// client area. False for a window that is gone.
bool SourceArea(const DC& dc, desktop::Placement* area) {
  if (dc.memory) return false;
  return desktop::Lookup(dc.window ? dc.window : desktop::DesktopHandle(), area);
}

}  // namespace

std::mutex& Lock() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

HANDLE AddHandle(std::shared_ptr<Object> object, bool counted) {
  Table& t = TheTable();
  HANDLE handle = reinterpret_cast<HANDLE>(t.next);
  t.next += kHandleStep;
  t.entries.emplace(handle, Entry{std::move(object), counted});
  if (counted) internal::ObjectCreated();
  return handle;
}

std::shared_ptr<Object> Find(HANDLE handle, Kind kind) {
  Table& t = TheTable();
  auto it = t.entries.find(handle);
  if (it == t.entries.end() || it->second.object->kind != kind) return nullptr;
  return it->second.object;
}

std::shared_ptr<Object> FindAny(HANDLE handle) {
  Table& t = TheTable();
  auto it = t.entries.find(handle);
  return it == t.entries.end() ? nullptr : it->second.object;
}

std::shared_ptr<Object> SelectedFont(HDC dc) {
  auto d = FindDC(dc);
  return d ? d->fontObject : nullptr;
}

}  // namespace vrt::gdi

using namespace vrt::gdi;
namespace desktop = vrt::desktop;

extern "C" {

HDC CreateCompatibleDC(HDC dc) {
  std::lock_guard<std::mutex> lock(Lock());
  if (Injected("CreateCompatibleDC", dc)) return nullptr;
  if (dc && !Find(dc, Kind::kDC)) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  return NewDC(true, nullptr);
}

HDC GetDC(HWND window) {
  std::lock_guard<std::mutex> lock(Lock());
  if (Injected("GetDC", window)) return nullptr;
  desktop::Placement p;
  if (window && !desktop::Lookup(window, &p)) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  return NewDC(false, window);
}

int ReleaseDC(HWND window, HDC dc) {
  std::lock_guard<std::mutex> lock(Lock());
  VRT_NOTE("ReleaseDC", window, dc);
  auto d = FindDC(dc);
  if (!d || d->memory) return 0;
  return Remove(dc) ? 1 : 0;
}

BOOL DeleteDC(HDC dc) {
  std::lock_guard<std::mutex> lock(Lock());
  VRT_NOTE("DeleteDC", dc);
  auto d = FindDC(dc);
  if (!d) {
    SetLastError(kErrorInvalidHandle);
    return FALSE;
  }
  ReleaseSelections(*d);
  Remove(dc);
  return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  std::lock_guard<std::mutex> lock(Lock());
  if (Injected("SelectObject", dc, object)) return nullptr;
  auto d = FindDC(dc);
  if (!d) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (auto font = Find(object, Kind::kFont)) {
    HANDLE previous = d->font;
    d->font = object;
    d->fontObject = std::move(font);
    return previous;
  }
  if (auto found = Find(object, Kind::kBitmap)) {
    auto bitmap = std::static_pointer_cast<Bitmap>(found);
    const bool stock = bitmap->stock;
    // A bitmap lives in one memory DC at a time, and only in a memory DC.
    if (!d->memory || (!stock && bitmap->selectedInto && bitmap->selectedInto != d.get())) {
      SetLastError(kErrorInvalidParameter);
      return nullptr;
    }
    HANDLE previous = d->bitmap;
    ReleaseSelections(*d);
    if (!stock) bitmap->selectedInto = d.get();
    d->bitmap = object;
    d->bitmapObject = std::move(bitmap);
    return previous;
  }
  SetLastError(kErrorInvalidHandle);
  return nullptr;
}

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard<std::mutex> lock(Lock());
  VRT_NOTE("DeleteObject", object);
  auto o = FindAny(object);
  if (o && o->stock) return TRUE;
  if (!o || o->kind == Kind::kDC) {
    SetLastError(kErrorInvalidHandle);
    return FALSE;
  }
  // A DC that still holds the object keeps it usable until it lets go, as
  // GDI defers such deletions.
  Remove(object);
  return TRUE;
}

DWORD GetObjectType(HGDIOBJ object) {
  std::lock_guard<std::mutex> lock(Lock());
  VRT_NOTE("GetObjectType", object);
  if (auto d = FindDC(static_cast<HDC>(object))) return d->memory ? OBJ_MEMDC : OBJ_DC;
  if (Find(object, Kind::kFont)) return OBJ_FONT;
  if (Find(object, Kind::kBitmap)) return OBJ_BITMAP;
  SetLastError(kErrorInvalidHandle);
  return 0;
}

int GetObjectW(HANDLE object, int size, LPVOID out) {
  std::lock_guard<std::mutex> lock(Lock());
  if (Injected("GetObjectW", object, size, out)) return 0;
  auto bitmap = std::static_pointer_cast<Bitmap>(Find(object, Kind::kBitmap));
  if (!bitmap) {
    // Fonts are described by their handles only here (no LOGFONTW).
    SetLastError(Find(object, Kind::kFont) ? kErrorCallNotImplemented : kErrorInvalidHandle);
    return 0;
  }
  if (!out) return sizeof(BITMAP);
  if (size < static_cast<int>(sizeof(BITMAP))) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  BITMAP bm{};
  bm.bmWidth = bitmap->width;
  bm.bmHeight = bitmap->height;
  // Device-dependent bitmaps' rows are padded to 2 bytes.
  bm.bmWidthBytes = static_cast<LONG>((int64_t{bitmap->width} * bitmap->bitsPerPixel + 15) / 16 * 2);
  bm.bmPlanes = 1;
  bm.bmBitsPixel = static_cast<WORD>(bitmap->bitsPerPixel);
  std::memcpy(out, &bm, sizeof bm);
  return sizeof(BITMAP);
}

int GetSystemMetrics(int index) {
  VRT_NOTE("GetSystemMetrics", index);
  const SIZE size = desktop::DesktopSize();
  if (index == SM_CXSCREEN) return size.cx;
  if (index == SM_CYSCREEN) return size.cy;
  return 0;
}

int GetDeviceCaps(HDC dc, int index) {
  std::lock_guard<std::mutex> lock(Lock());
  VRT_NOTE("GetDeviceCaps", dc, index);
  if (!FindDC(dc)) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  const SIZE size = desktop::DesktopSize();
  switch (index) {
    case HORZRES: return size.cx;
    case VERTRES: return size.cy;
    case BITSPIXEL: return 32;
    case PLANES: return 1;
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    default: return 0;
  }
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  std::lock_guard<std::mutex> lock(Lock());
  if (Injected("CreateCompatibleBitmap", dc, width, height)) return nullptr;
  auto d = FindDC(dc);
  if (!d) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (width < 0 || height < 0) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  // GDI's answer to an empty size: the stock 1 x 1 monochrome bitmap.
  if (width == 0 || height == 0) return static_cast<HBITMAP>(StockBitmap());
  if (int64_t{width} * height > kMaxBitmapPixels) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  auto bitmap = std::shared_ptr<Bitmap>(new (std::nothrow) Bitmap);
  if (!bitmap) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  bitmap->width = width;
  bitmap->height = height;
  // Compatible with a memory DC means the format of the bitmap it holds.
  bitmap->bitsPerPixel = d->memory ? d->bitmapObject->bitsPerPixel : 32;
  try {
    bitmap->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  return static_cast<HBITMAP>(AddHandle(bitmap));
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop) {
  std::lock_guard<std::mutex> lock(Lock());
  if (Injected("BitBlt", dest, x, y, width, height, source, sourceX, sourceY, rop)) return FALSE;
  auto to = FindDC(dest);
  auto from = FindDC(source);
  if (!to || !from) {
    SetLastError(kErrorInvalidHandle);
    return FALSE;
  }
  // Copies into a memory DC's bitmap are all the runtime draws.
  if ((rop & ~CAPTUREBLT) != SRCCOPY || !to->memory) {
    SetLastError(kErrorCallNotImplemented);
    return FALSE;
  }
  if (width <= 0 || height <= 0) return TRUE;
  Bitmap& target = *to->bitmapObject;
  const bool mono = target.bitsPerPixel == 1;

  // The source: a bitmap, or the desktop seen through a window's client area.
  const uint32_t* pixels = nullptr;
  int64_t stride = 0, originX = 0, originY = 0, limitW = 0, limitH = 0;
  SIZE screen{0, 0};
  bool locked = false;
  if (from->memory) {
    pixels = from->bitmapObject->pixels.data();
    stride = limitW = from->bitmapObject->width;
    limitH = from->bitmapObject->height;
  } else {
    desktop::Placement area;
    if (!SourceArea(*from, &area)) {
      SetLastError(kErrorInvalidHandle);
      return FALSE;
    }
    pixels = desktop::LockPixels(&screen);
    locked = true;
    stride = screen.cx;
    originX = area.x;
    originY = area.y;
    limitW = area.width;
    limitH = area.height;
  }
  // Destination pixels outside the bitmap are cut. Source pixels outside a
  // bitmap leave theirs as they were; outside the screen (or a window's
  // client area) they read as black, as Wine's GDI gives them.
  for (int64_t j = 0; j < height; ++j) {
    const int64_t ty = int64_t{y} + j, sy = int64_t{sourceY} + j;
    if (ty < 0 || ty >= target.height) continue;
    const int64_t dy = originY + sy;
    const bool rowInside = sy >= 0 && sy < limitH && (!locked || (dy >= 0 && dy < screen.cy));
    if (!rowInside && !locked) continue;
    for (int64_t i = 0; i < width; ++i) {
      const int64_t tx = int64_t{x} + i, sx = int64_t{sourceX} + i;
      if (tx < 0 || tx >= target.width) continue;
      const int64_t dx = originX + sx;
      const bool inside =
          rowInside && sx >= 0 && sx < limitW && (!locked || (dx >= 0 && dx < screen.cx));
      if (!inside && !locked) continue;
      uint32_t v = inside ? pixels[dy * stride + dx] & 0xffffffu : 0u;
      // Monochrome targets: the background colour (white) is 1, all else 0.
      if (mono) v = v == 0xffffffu ? 0xffffffu : 0u;
      target.pixels[static_cast<size_t>(ty * target.width + tx)] = v;
    }
  }
  if (locked) desktop::UnlockPixels();
  return TRUE;
}

int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info,
              UINT usage) {
  std::lock_guard<std::mutex> lock(Lock());
  if (Injected("GetDIBits", dc, bitmap, start, lines, bits, info, usage)) return 0;
  auto b = std::static_pointer_cast<Bitmap>(Find(bitmap, Kind::kBitmap));
  if (!FindDC(dc) || !b) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  if (!info || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (!bits && h.biBitCount == 0) {
    // Describe the bitmap: bottom-up rows; 32 bits per pixel are described as
    // BI_BITFIELDS, as GDI does (the masks themselves are not written here).
    h.biWidth = b->width;
    h.biHeight = b->height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(b->bitsPerPixel);
    h.biCompression = b->bitsPerPixel == 32 ? BI_BITFIELDS : BI_RGB;
    h.biSizeImage = static_cast<DWORD>(DibStride(b->width, b->bitsPerPixel) * b->height);
    h.biXPelsPerMeter = h.biYPelsPerMeter = 0;
    h.biClrUsed = h.biClrImportant = 0;
    return b->height;
  }
  const int64_t dibW = h.biWidth, dibH = h.biHeight < 0 ? -int64_t{h.biHeight} : h.biHeight;
  const int bpp = h.biBitCount;
  const int64_t rowBytes = DibStride(dibW, bpp);
  // Only uncompressed 24- and 32-bit rows are produced.
  if ((bpp != 24 && bpp != 32) || h.biCompression != BI_RGB || dibW <= 0 || dibH == 0 ||
      rowBytes * dibH > INT32_MAX) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  if (!bits) {
    h.biSizeImage = static_cast<DWORD>(rowBytes * dibH);
    return static_cast<int>(dibH);
  }
  const bool topDown = h.biHeight < 0;
  const int64_t first = start, end = std::min<int64_t>(dibH, int64_t{start} + lines);
  int copied = 0;
  for (int64_t line = first; line < end; ++line) {
    // Scan line 0 is the bottom row of a bottom-up DIB.
    const int64_t row = topDown ? line : b->height - 1 - line;
    if (row < 0 || row >= b->height) continue;
    uint8_t* out = static_cast<uint8_t*>(bits) + (line - first) * rowBytes;
    std::memset(out, 0, static_cast<size_t>(rowBytes));
    const uint32_t* in = b->pixels.data() + row * b->width;
    const int64_t n = std::min<int64_t>(dibW, b->width);
    for (int64_t i = 0; i < n; ++i, out += bpp / 8) {
      out[0] = static_cast<uint8_t>(in[i]);
      out[1] = static_cast<uint8_t>(in[i] >> 8);
      out[2] = static_cast<uint8_t>(in[i] >> 16);
    }
    ++copied;
  }
  return copied;
}

}  // extern "C"
