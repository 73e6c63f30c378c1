// The runtime's GDI: handles, the objects behind them and the one lock that
// guards them. gdi.cpp owns DCs, bitmaps and capture; gdi_font.cpp owns fonts
// and FreeType. Every entry point takes Lock() for its whole call, so fonts may
// be measured and rasterised from several threads.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace vrt::gdi {

inline constexpr DWORD kErrorFileNotFound = 2;
inline constexpr DWORD kErrorPathNotFound = 3;
inline constexpr DWORD kErrorAccessDenied = 5;
inline constexpr DWORD kErrorInvalidHandle = 6;
inline constexpr DWORD kErrorNotEnoughMemory = 8;
inline constexpr DWORD kErrorInvalidParameter = 87;
inline constexpr DWORD kErrorCallNotImplemented = 120;
inline constexpr DWORD kErrorFileInvalid = 1006;

enum class Kind { kDC, kFont, kBitmap };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  const Kind kind;
  bool stock = false;  // never deleted; DeleteObject answers TRUE and keeps it
};

// A device-dependent bitmap: 32 bits per pixel like the desktop, or 1 bit per
// pixel (the default bitmap of a memory DC and bitmaps made compatible with
// it), kept as black and white words.
struct Bitmap : Object {
  Bitmap() : Object(Kind::kBitmap) {}
  int width = 0;
  int height = 0;
  int bitsPerPixel = 32;
  std::vector<uint32_t> pixels;  // X8R8G8B8 words; 0 or 0xFFFFFF when monochrome
  const Object* selectedInto = nullptr;  // the memory DC holding it
};

std::mutex& Lock();

// Handle table (Lock() held). Adding a counted object raises the runtime's
// live-object count; removing it lowers it again.
HANDLE AddHandle(std::shared_ptr<Object> object, bool counted = true);
std::shared_ptr<Object> Find(HANDLE handle, Kind kind);
std::shared_ptr<Object> FindAny(HANDLE handle);
// The font selected into `dc` (never null for a live DC), or null when `dc`
// is not a DC.
std::shared_ptr<Object> SelectedFont(HDC dc);

// Stock objects: the font a new DC starts with, built on first use.
HANDLE StockFont();

// An injected failure for `name` (vrt::FailCall): the call then fails with its
// own failure result and the last error set to the HRESULT's low word.
template <class... A>
bool Injected(const char* name, A... args);

}  // namespace vrt::gdi

#include "control.h"

namespace vrt::gdi {

template <class... A>
bool Injected(const char* name, A... args) {
  HRESULT hr = S_OK;
  if (!internal::Hooked(name, &hr, args...)) return false;
  SetLastError(static_cast<DWORD>(hr) & 0xffffu);
  return true;
}

}  // namespace vrt::gdi
