// vek for C++17 hosts: a small header-only layer over the exports of vek.h.
//
//   - Owning handles (Device, Surface, Image, Font) that close themselves and
//     move, never copy.
//   - UTF-8 text and paths (invalid UTF-8 is refused, never guessed at).
//   - Images from a file path or from memory.
//   - Sprites by position, scale, rotation, origin and colour.
//   - Particle systems described by named fields with defaults.
//   - Failures as a value (Result<T>) carrying the library's last error;
//     Result::value() throws vek::Exception for hosts that prefer that.
//   - PNG files of an image or a drawing surface, which the library itself
//     does not write.
//
// It adds no export: everything goes through the flat calls, so the same
// DLL or shared library serves C and C++ hosts.
#pragma once

#include <pelto.h>
#include <rask.h>
#include <vek/vek.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vek {

// ---- Errors ------------------------------------------------------------------

// The library's last error: a VEK_ERR_* code (0 when none was recorded), its
// detail (often an HRESULT) and its message in UTF-8.
struct Error {
  long code = 0;
  long detail = 0;
  std::string message;
};

class Exception : public std::runtime_error {
 public:
  explicit Exception(Error e) : std::runtime_error(Describe(e)), error_(std::move(e)) {}
  const Error& error() const { return error_; }

 private:
  static std::string Describe(const Error& e) {
    return "vek error " + std::to_string(e.code) + " (detail " + std::to_string(e.detail) +
           "): " + e.message;
  }
  Error error_;
};

namespace detail {

using WString = std::basic_string<WCHAR>;

// UTF-8 to UTF-16; nothing for malformed input (overlong forms, surrogates,
// values above U+10FFFF, cut sequences, stray continuation bytes).
inline std::optional<WString> Utf16(std::string_view text) {
  WString out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    uint32_t cp;
    size_t n;
    if (b < 0x80) {
      cp = b;
      n = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      cp = b & 0x1Fu;
      n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      cp = b & 0x0Fu;
      n = 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      cp = b & 0x07u;
      n = 4;
    } else {
      return std::nullopt;
    }
    if (i + n > text.size()) return std::nullopt;
    for (size_t k = 1; k < n; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return std::nullopt;
      cp = cp << 6 | (c & 0x3Fu);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<WCHAR>(cp));
    }
    i += n;
  }
  return out;
}

// UTF-16 (the library's messages) to UTF-8; a lone surrogate becomes U+FFFD.
inline std::string Utf8(const WCHAR* text) {
  std::string out;
  for (size_t i = 0; text && text[i]; ++i) {
    uint32_t cp = static_cast<uint16_t>(text[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint16_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace detail

// The last error the library recorded since the layer's last call began
// (code 0 when there is none).
inline Error LastError() {
  ErrorRecord record;
  if (!ReadLastError(&record)) return {};
  return Error{record.code, record.detail, detail::Utf8(record.message)};
}

// A value or the error that prevented it.
template <class T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: a value converts
  Result(Error error) : error_(std::move(error)) {}  // NOLINT: so does a failure
  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return error_; }
  // The value; vek::Exception with the error when there is none.
  T& value() & {
    if (!value_) throw Exception(error_);
    return *value_;
  }
  T&& value() && {
    if (!value_) throw Exception(error_);
    return std::move(*value_);
  }

 private:
  std::optional<T> value_;
  Error error_;
};

// The last error, or one of the layer's own when the library recorded none.
inline Error Failure(long code, const char* message) {
  Error e = LastError();
  if (e.code == 0) e = Error{code, 0, message};
  return e;
}

// ---- Owning handles --------------------------------------------------------

namespace detail {

// Move-only ownership of one handle, released by Close.
template <class H, class Derived>
class Owner {
 public:
  Owner() = default;
  explicit Owner(H handle) : handle_(handle) {}
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  Owner(Owner&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Owner& operator=(Owner&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ~Owner() { reset(); }
  H get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // Gives the handle up without closing it.
  H release() { return std::exchange(handle_, nullptr); }
  void reset() {
    if (handle_) Derived::Close(std::exchange(handle_, nullptr));
  }

 private:
  H handle_ = nullptr;
};

}  // namespace detail

class Surface;

// A device on a host window. Closing it closes the surfaces still open on it
// (their Surface objects then close nothing).
class Device : public detail::Owner<HVEKDEVICE, Device> {
 public:
  using Owner::Owner;
  static void Close(HVEKDEVICE d) { VekCloseGraphicsDevice(d); }
  // Windowed, width x height (0: the window's client size), bits 16 or 32.
  static Result<Device> Open(HWND window, int width = 0, int height = 0, int bits = 32) {
    ClearError();
    HVEKDEVICE d = VekOpenGraphicsDevice(0, window, 0, 1, width, height, bits, 0);
    if (!d) return Failure(VEK_ERR_DIRECT3D, "the device did not open");
    return Device(d);
  }
  // 1 when usable; see VekCheckGraphicsDevice.
  int Check() const { return VekCheckGraphicsDevice(get()); }
  int Reset(int width, int height, int bits = 32) const {
    return VekResetGraphicsDevice(get(), 1, width, height, bits, 0);
  }
  inline Result<Surface> WindowSurface() const;
  inline Result<Surface> TextureSurface(unsigned width, unsigned height,
                                        DWORD format = 21 /* A8R8G8B8 */) const;
};

// An image: a picture loaded for the current device, drawable as a texture.
class Image : public detail::Owner<HVEKIMAGE, Image> {
 public:
  using Owner::Owner;
  static void Close(HVEKIMAGE i) { VekDestroyImage(i); }
  static Result<Image> FromMemory(const void* bytes, size_t size) {
    if (size > 0xFFFFFFFFu) return Error{VEK_ERR_ARGUMENT, 0, "the picture is too large"};
    ClearError();
    HRASKFILE file = RaskCreateFileFromMemory(bytes, static_cast<DWORD>(size), nullptr);
    if (!file) return Error{VEK_ERR_ALLOCATION, 0, "no file object for the picture"};
    HVEKIMAGE image = VekCreateImage(file);
    RaskDestroyFile(file);
    if (!image) return Failure(VEK_ERR_ARGUMENT, "the picture did not load");
    return Image(image);
  }
  static Result<Image> FromFile(std::string_view utf8Path) {
    const auto path = detail::Utf16(utf8Path);
    if (!path) return Error{VEK_ERR_ARGUMENT, 0, "the path is not valid UTF-8"};
    ClearError();
    HRASKFILE file = RaskCreateFileFromPath(path->c_str());
    if (!file) return Error{VEK_ERR_ALLOCATION, 0, "no file object for the path"};
    HVEKIMAGE image = VekCreateImage(file);
    RaskDestroyFile(file);
    if (!image) return Failure(VEK_ERR_ARGUMENT, "the picture did not load");
    return Image(image);
  }
  unsigned Width() const { return VekGetImageSize(get()) & 0xFFFF; }
  unsigned Height() const { return VekGetImageSize(get()) >> 16; }
  HVEKTEXTURE Texture() const { return reinterpret_cast<HVEKTEXTURE>(get()); }
  // The picture's pixels as A8R8G8B8 values, rows from the top.
  Result<std::vector<uint32_t>> Pixels() const {
    ClearError();
    BYTE* block = nullptr;
    const INT n = VekGetImageData(get(), 0, 0, Width(), Height(), &block);
    if (n <= 0 || !block) return Failure(VEK_ERR_ARGUMENT, "the pixels could not be read");
    std::vector<uint32_t> argb(static_cast<size_t>(n) / 4);
    std::memcpy(argb.data(), block, argb.size() * 4);  // B, G, R, A bytes: little-endian ARGB
    VekFree(block);
    return argb;
  }
};

// A GDI font with its glyph atlas.
class Font : public detail::Owner<HVEKFONT, Font> {
 public:
  using Owner::Owner;
  static void Close(HVEKFONT f) { VekDestroyFont(f); }
  // A face by its UTF-8 name, `size` pixels high with the effect margin,
  // FONT_* flags and the effect colour.
  static Result<Font> Create(std::string_view face, unsigned size, DWORD flags = 0,
                             DWORD effectColour = 0xFF000000) {
    const auto name = detail::Utf16(face);
    if (!name) return Error{VEK_ERR_ARGUMENT, 0, "the face name is not valid UTF-8"};
    ClearError();
    HVEKFONT f = VekCreateFont(name->c_str(), size, flags, effectColour);
    if (!f) return Failure(VEK_ERR_ARGUMENT, "the font was not created");
    return Font(f);
  }
  unsigned Height() const { return VekGetFontHeight(get()); }
  // Width and height of UTF-8 text at natural size; nothing for invalid UTF-8.
  std::optional<std::pair<unsigned, unsigned>> Measure(std::string_view utf8) const {
    const auto text = detail::Utf16(utf8);
    if (!text) return std::nullopt;
    const DWORD size = VekGetTextSize(get(), text->c_str(), static_cast<INT>(text->size()));
    return std::pair<unsigned, unsigned>{size & 0xFFFF, size >> 16};
  }
};

// ---- Drawing -------------------------------------------------------------------

// A textured quad placed by its position (where the origin lands), scale,
// rotation (degrees, clockwise on screen) about the origin, and colour.
struct Sprite {
  float x = 0, y = 0;
  float scaleX = 1, scaleY = 1;
  float rotation = 0;
  float originX = 0, originY = 0;  // in texture pixels from the top-left
  DWORD colour = 0xFFFFFFFF;
  float z = 0.5f;
  DWORD flags = 0;
};

// A particle system with every VekDrawParSys argument named; the defaults
// are 100 white 4 x 4 particles living a second, still, from one point.
struct ParticleSystem {
  float x = 0, y = 0, z = 0.5f;
  std::vector<VekPathPoint> path;      // emitter keys, with...
  std::vector<LONGLONG> pathTimes;     // ...their times, ascending
  unsigned count = 100;
  unsigned periodMin = 1000, periodMax = 1000;
  unsigned visibleMin = 1000, visibleMax = 1000;
  float speedMin = 0, speedMax = 0;
  float directionMin = 0, directionMax = 0;
  float rotationMin = 0, rotationMax = 0;
  bool absoluteDirection = false;
  unsigned areaWidth = 0, areaHeight = 0;
  float emitterRotation = 0;
  const Image* emitImage = nullptr;
  float regionLeft = 0, regionRight = 1, regionTop = 0, regionBottom = 1;
  bool alphaFromImage = false, colourFromImage = false;
  float forwardAccel = 0, drag = 0, accelX = 0, accelY = 0;
  HVEKTEXTURE texture = nullptr;
  std::vector<VekParticleFrame> frames;
  unsigned frameMode = 0;
  bool alignToVelocity = false;
  unsigned widthStartMin = 4, widthStartMax = 4, heightStartMin = 4, heightStartMax = 4;
  unsigned alphaStartMin = 255, alphaStartMax = 255;
  unsigned redStartMin = 255, redStartMax = 255, greenStartMin = 255, greenStartMax = 255;
  unsigned blueStartMin = 255, blueStartMax = 255;
  float spinStartMin = 0, spinStartMax = 0;
  unsigned widthEndMin = 4, widthEndMax = 4, heightEndMin = 4, heightEndMax = 4;
  unsigned alphaEndMin = 255, alphaEndMax = 255;
  unsigned redEndMin = 255, redEndMax = 255, greenEndMin = 255, greenEndMax = 255;
  unsigned blueEndMin = 255, blueEndMax = 255;
  float spinEndMin = 0, spinEndMax = 0;
  int seedA = 1, seedB = 2;
  DWORD flags = 0;
};

// A drawing surface. Frames: Begin, Clear, draws, End.
class Surface : public detail::Owner<HVEKGRAPHICS, Surface> {
 public:
  using Owner::Owner;
  static void Close(HVEKGRAPHICS g) { VekCloseGraphics(g); }
  // A surface drawing into this one's stencil buffer only.
  Result<Surface> StencilSurface() const {
    ClearError();
    HVEKGRAPHICS g = VekOpenStencilGraphics(get());
    if (!g) return Failure(VEK_ERR_ARGUMENT, "the stencil surface did not open");
    return Surface(g);
  }
  HVEKTEXTURE Texture() const { return VekGetGraphicsTexture(get()); }
  int Begin() const { return VekBeginRender(get()); }
  int Clear(DWORD colour) const { return VekClear(get(), colour); }
  int End() const { return VekEndRender(get()); }
  void Clip(float left, float top, float right, float bottom) const {
    VekSetClip(get(), left, top, right, bottom);
  }

  // The quad of a w x h texture placed as the sprite says.
  void Draw(HVEKTEXTURE texture, float w, float h, const Sprite& s) const {
    const float radians = s.rotation * 3.14159265358979f / 180.0f;
    const float c = std::cos(radians), n = std::sin(radians);
    float px[4], py[4];
    const float lx[4] = {0, w, w, 0}, ly[4] = {0, 0, h, h};
    for (int i = 0; i < 4; ++i) {
      const float dx = (lx[i] - s.originX) * s.scaleX, dy = (ly[i] - s.originY) * s.scaleY;
      px[i] = s.x + dx * c - dy * n;
      py[i] = s.y + dx * n + dy * c;
    }
    VekDrawQuad(get(), px[0], py[0], s.z, s.colour, 0, 0, px[1], py[1], s.z, s.colour, 1, 0, px[2],
                py[2], s.z, s.colour, 1, 1, px[3], py[3], s.z, s.colour, 0, 1, s.flags, texture);
  }
  void Draw(const Image& image, const Sprite& s) const {
    Draw(image.Texture(), static_cast<float>(image.Width()), static_cast<float>(image.Height()),
         s);
  }

  // UTF-8 text at natural size with its top-left at (x, y); false for
  // invalid UTF-8.
  bool Text(const Font& font, std::string_view utf8, float x, float y,
            DWORD colour = 0xFFFFFFFF, DWORD flags = 0, float z = 0.5f) const {
    const auto text = detail::Utf16(utf8);
    if (!text) return false;
    const DWORD size = VekGetTextSize(font.get(), text->c_str(), static_cast<INT>(text->size()));
    const float r = x + static_cast<float>(size & 0xFFFF), b = y + static_cast<float>(size >> 16);
    VekDrawText(get(), x, y, z, colour, r, y, z, colour, r, b, z, colour, x, b, z, colour, flags,
                font.get(), text->c_str(), static_cast<UINT>(text->size()));
    return true;
  }

  // The system as it is `timeMs` milliseconds into the host's clock.
  int Draw(const ParticleSystem& p, unsigned long long timeMs) const {
    const bool hasPath = !p.path.empty() && p.path.size() == p.pathTimes.size();
    return VekDrawParSys(
        get(), p.x, p.y, p.z, hasPath ? p.path.data() : nullptr,
        hasPath ? p.pathTimes.data() : nullptr, hasPath ? static_cast<UINT>(p.path.size()) : 0,
        p.count, p.periodMin, p.periodMax, p.visibleMin, p.visibleMax, p.speedMin, p.speedMax,
        p.directionMin, p.directionMax, 0, 0, p.rotationMin, p.rotationMax,
        p.absoluteDirection ? 1 : 0, p.areaWidth, p.areaHeight, p.emitterRotation,
        p.emitImage ? p.emitImage->get() : nullptr, p.regionLeft, p.regionRight, p.regionTop,
        p.regionBottom, p.alphaFromImage ? 1 : 0, p.colourFromImage ? 1 : 0, p.forwardAccel,
        p.drag, p.accelX, p.accelY, 0, p.texture, p.frames.empty() ? nullptr : p.frames.data(),
        static_cast<UINT>(p.frames.size()), p.frameMode, p.alignToVelocity ? 1 : 0,
        p.widthStartMin, p.widthStartMax, p.heightStartMin, p.heightStartMax, p.alphaStartMin,
        p.alphaStartMax, p.redStartMin, p.redStartMax, p.greenStartMin, p.greenStartMax,
        p.blueStartMin, p.blueStartMax, p.spinStartMin, p.spinStartMax, p.widthEndMin,
        p.widthEndMax, p.heightEndMin, p.heightEndMax, p.alphaEndMin, p.alphaEndMax, p.redEndMin,
        p.redEndMax, p.greenEndMin, p.greenEndMax, p.blueEndMin, p.blueEndMax, p.spinEndMin,
        p.spinEndMax, p.seedA, p.seedB, static_cast<UINT>(timeMs & 0xFFFFFFFFu),
        static_cast<UINT>(timeMs >> 32), p.flags);
  }

  // The surface's pixels as A8R8G8B8 values (alpha 0xFF), rows from the top,
  // read back through the BMP file the library writes.
  inline Result<std::vector<uint32_t>> Pixels(unsigned* width, unsigned* height) const;
};

inline Result<Surface> Device::WindowSurface() const {
  ClearError();
  HVEKGRAPHICS g = VekOpenGraphics(get());
  if (!g) return Failure(VEK_ERR_ARGUMENT, "the window surface did not open");
  return Surface(g);
}

inline Result<Surface> Device::TextureSurface(unsigned width, unsigned height,
                                              DWORD format) const {
  ClearError();
  HVEKGRAPHICS g = VekOpenTextureGraphics(get(), width, height, format);
  if (!g) return Failure(VEK_ERR_DIRECT3D, "the texture surface did not open");
  return Surface(g);
}

// ---- PNG -----------------------------------------------------------------------

namespace detail {

inline uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

inline void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  Put32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32(out, Crc32(out.data() + start, out.size() - start));
}

}  // namespace detail

// A PNG file of width x height A8R8G8B8 pixels (rows from the top), 8-bit RGBA.
// The data is stored, not compressed: any PNG reader takes it, and the
// writer stays a page long.
inline std::vector<uint8_t> EncodePng(unsigned width, unsigned height, const uint32_t* argb) {
  std::vector<uint8_t> raw;  // filter byte 0, then R, G, B, A per pixel
  raw.reserve((static_cast<size_t>(width) * 4 + 1) * height);
  for (unsigned y = 0; y < height; ++y) {
    raw.push_back(0);
    for (unsigned x = 0; x < width; ++x) {
      const uint32_t p = argb[static_cast<size_t>(y) * width + x];
      raw.insert(raw.end(), {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8),
                             static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 24)});
    }
  }
  std::vector<uint8_t> z = {0x78, 0x01};  // zlib: deflate, 32 KiB window
  uint32_t a = 1, b = 0;                  // Adler-32 of the raw data
  for (uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t at = 0; at < raw.size() || at == 0;) {
    const size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
    z.push_back(at + n == raw.size() ? 1 : 0);  // a stored block, final or not
    z.insert(z.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                       static_cast<uint8_t>(~n), static_cast<uint8_t>(~n >> 8)});
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
             raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
    if (n == 0) break;
  }
  detail::Put32(z, b << 16 | a);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  detail::Put32(header, width);
  detail::Put32(header, height);
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
  detail::Chunk(png, "IHDR", header);
  detail::Chunk(png, "IDAT", z);
  detail::Chunk(png, "IEND", {});
  return png;
}

inline bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  f.close();
  return static_cast<bool>(f);
}

// The image as a PNG file at `path`.
inline Result<bool> SavePng(const Image& image, const std::filesystem::path& path) {
  Result<std::vector<uint32_t>> pixels = image.Pixels();
  if (!pixels) return pixels.error();
  if (!WriteFile(path, EncodePng(image.Width(), image.Height(), pixels.value().data())))
    return Error{VEK_ERR_ARGUMENT, 0, "the PNG file could not be written"};
  return true;
}

inline Result<std::vector<uint32_t>> Surface::Pixels(unsigned* width, unsigned* height) const {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path bmp = fs::temp_directory_path(ec) /
                       ("vek-" + std::to_string(reinterpret_cast<uintptr_t>(get())) + ".bmp");
  if (ec) return Error{VEK_ERR_ARGUMENT, 0, "no folder for temporary files"};
#if defined(__cpp_char8_t)
  const std::u8string u8 = bmp.u8string();
  const auto wide = detail::Utf16(std::string(u8.begin(), u8.end()));
#else
  const auto wide = detail::Utf16(bmp.u8string());
#endif
  ClearError();
  if (!wide) return Error{VEK_ERR_ARGUMENT, 0, "the temporary path is not valid UTF-8"};
  if (VekSaveGraphics(get(), wide->c_str(), VEK_SAVE_BMP) != 0)
    return Failure(VEK_ERR_DIRECT3D, "the surface could not be saved");
  std::ifstream f(bmp, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  f.close();
  fs::remove(bmp, ec);
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                 static_cast<uint32_t>(b[at + 3]) << 24);
  };
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || b[28] != 24)
    return Error{VEK_ERR_ARGUMENT, 0, "the saved surface is not a 24-bit BMP"};
  const uint32_t offset = u32(10), w = u32(18), h = u32(22);
  const size_t pitch = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
  if (h > 0x7FFFFFFF || offset + pitch * h > b.size())
    return Error{VEK_ERR_ARGUMENT, 0, "the saved surface is cut short"};
  std::vector<uint32_t> argb(static_cast<size_t>(w) * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* p = &b[offset + (h - 1 - y) * pitch + x * 3];  // bottom-up rows
      argb[static_cast<size_t>(y) * w + x] = 0xFF000000u | p[2] << 16 | p[1] << 8 | p[0];
    }
  *width = w;
  *height = h;
  return argb;
}

// The surface as a PNG file at `path`.
inline Result<bool> SavePng(const Surface& surface, const std::filesystem::path& path) {
  unsigned w = 0, h = 0;
  Result<std::vector<uint32_t>> pixels = surface.Pixels(&w, &h);
  if (!pixels) return pixels.error();
  if (!WriteFile(path, EncodePng(w, h, pixels.value().data())))
    return Error{VEK_ERR_ARGUMENT, 0, "the PNG file could not be written"};
  return true;
}

}  // namespace vek
