// Runs a scene description through the library and writes the frames it
// captures, so the same scene can be drawn by libvek.so on the software
// device and by vek.dll on the real Direct3D 8 and the two compared.
//
// Scene lines (blank lines and lines starting with '#' are skipped):
//   open W H BITS      window with a W x H client area, windowed device on it
//   reset W H BITS     VekResetGraphicsDevice
//   clear AARRGGBB     clear the whole back buffer
//   present            present the back buffer
//   capture NAME       read the back buffer back as a frame called NAME
//   close              close the surfaces, the textures, the device, the window
//   surface            open a window drawing surface "main" on the device and
//                      a stencil surface "stencil" over it
//   target NAME W H    open a W x H A8R8G8B8 texture drawing surface
//   use NAME           the surface the frame steps below address
//   begin / end        VekBeginRender / VekEndRender
//   fill AARRGGBB      VekClear
//   clip L T R B       VekSetClip
//   stencil F P R      VekSetStencilParam
//   effect ID LOW HIGH FACTOR
//                      VekSetPixelShader with (LOW, HIGH, FACTOR, 0);
//   effect ID -        ... with no parameters
//   texture NAME PATTERN W H
//                      a W x H texture of a known pattern (see Texel)
//   image NAME FORMAT PATTERN W H
//                      VekCreateImage of a picture made in memory (FORMAT and
//                      PATTERN as demo/pictures.h names them)
//   recolour NAME EFFECT VALUE A B
//                      a colour effect on image NAME before its first draw:
//                      EFFECT grey (VALUE unused), bright, hue or swap, with
//                      the alpha window A..B
//   quad X0 Y0 X1 Y1 Z AARRGGBB FLAGS [TEX]
//                      VekDrawQuad of an axis-aligned quad with the draw flags
//                      given, textured (u, v from 0 to 1 across it) when TEX
//                      names a texture, an image or a texture surface
//   tri X0 Y0 U0 V0 X1 Y1 U1 V1 X2 Y2 U2 V2 Z AARRGGBB FLAGS [TEX]
//                      VekDrawTri
//   line X0 Y0 C0 X1 Y1 C1 Z FLAGS      VekDrawLine (colours AARRGGBB)
//   point X Y Z AARRGGBB FLAGS          VekDrawPoint
//   bezier X0 Y0 X1 Y1 X2 Y2 X3 Y3 Z AARRGGBB STEP FLAGS
//                      VekDrawBezier
//   parsys KEY=VALUE...
//                      VekDrawParSys of a system described by keys (ParSys)
//   fontfile           register DejaVu Sans for the process (support/test_fonts.h)
//   font NAME SIZE FLAGS COLOUR
//                      VekCreateFont of DejaVu Sans (FLAGS and COLOUR in hex)
//   text X Y Z C0 C1 FLAGS FONT TEXT...
//                      VekDrawText of the rest of the line at its natural size
//                      from (X, Y), colours C0 on the left and C1 on the right
//   char X Y Z C FLAGS FONT CH
//                      VekDrawChar of the character CH at its natural size
//   demo               draw the demo's scene (demo/scene.h) on the device
//
// Output: for each capture a line "frame NAME W H" followed by W*H*4 bytes,
// rows top to bottom, pixels as B, G, R, A.
#include <rask.h>
#include <vek/vek.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gd/device.h"
#include "graphics/frame.h"
#include "graphics/graphics.h"
#include "pictures.h"
#include "scene.h"
#include "support/dds.h"
#include "support/test_fonts.h"
#include "support/test_window.h"
#include "vekfont/font.h"
#include "vektex/texture.h"
#ifdef _WIN32
#include "vekimage/freeimage.h"
#endif

namespace {

bool ReadBackBuffer(GraphicsDevice* device, UINT* width, UINT* height,
                    std::vector<unsigned char>* pixels) {
  IDirect3DDevice8* d3d = device->cache.device;
  IDirect3DSurface8* back = nullptr;
  if (FAILED(d3d->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back))) return false;
  D3DSURFACE_DESC desc{};
  back->GetDesc(&desc);
  // The back buffer is not lockable: copy it into an image surface of its format.
  IDirect3DSurface8* image = nullptr;
  bool ok = SUCCEEDED(d3d->CreateImageSurface(desc.Width, desc.Height, desc.Format, &image)) &&
            SUCCEEDED(d3d->CopyRects(back, nullptr, 0, image, nullptr));
  D3DLOCKED_RECT locked{};
  if (ok) ok = SUCCEEDED(image->LockRect(&locked, nullptr, D3DLOCK_READONLY));
  if (ok) {
    *width = desc.Width;
    *height = desc.Height;
    pixels->assign(static_cast<size_t>(desc.Width) * desc.Height * 4, 0);
    for (UINT y = 0; y < desc.Height; ++y) {
      const BYTE* row = static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch;
      unsigned char* out = pixels->data() + static_cast<size_t>(y) * desc.Width * 4;
      for (UINT x = 0; x < desc.Width; ++x, out += 4) {
        DWORD argb = 0;
        if (desc.Format == D3DFMT_R5G6B5) {
          WORD p;
          std::memcpy(&p, row + 2 * x, 2);
          const DWORD r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
          argb = 0xFF000000u | ((r * 255 + 15) / 31) << 16 | ((g * 255 + 31) / 63) << 8 |
                 ((b * 255 + 15) / 31);
        } else {
          std::memcpy(&argb, row + 4 * x, 4);
          if (desc.Format == D3DFMT_X8R8G8B8) argb |= 0xFF000000u;
        }
        out[0] = argb & 0xFF;
        out[1] = (argb >> 8) & 0xFF;
        out[2] = (argb >> 16) & 0xFF;
        out[3] = argb >> 24;
      }
    }
    image->UnlockRect();
  }
  if (image) image->Release();
  back->Release();
  return ok;
}

// The texel (x, y) of a named pattern, A8R8G8B8; false for an unknown name.
//   checker   opaque two-colour checker of single texels
//   effects   four colours across, alpha 0x30, 0x70, 0xA0, 0xFF down
//             (every 4th column and row repeats), for alpha windows
//   ramp      red across, green down, half blue, opaque
//   fade      one colour, alpha rising across from 0 to 0xFF
bool Texel(const std::string& pattern, UINT x, UINT y, UINT w, UINT h, uint32_t* argb) {
  if (pattern == "checker") {
    *argb = ((x ^ y) & 1) ? 0xFFE03020u : 0xFF2040E0u;
  } else if (pattern == "effects") {
    static const uint32_t kColours[4] = {0xC08020, 0x1060F0, 0xFF0080, 0x30A050};
    static const uint32_t kAlphas[4] = {0x30, 0x70, 0xA0, 0xFF};
    *argb = kAlphas[y % 4] << 24 | kColours[x % 4];
  } else if (pattern == "ramp") {
    const uint32_t r = w > 1 ? x * 255 / (w - 1) : 0, g = h > 1 ? y * 255 / (h - 1) : 0;
    *argb = 0xFF000080u | r << 16 | g << 8;
  } else if (pattern == "fade") {
    const uint32_t a = w > 1 ? x * 255 / (w - 1) : 255;
    *argb = a << 24 | 0x40C0E0u;
  } else {
    return false;
  }
  return true;
}

class SceneHost {
 public:
  explicit SceneHost(const char* scenePath) : scenePath_(scenePath) {}
  ~SceneHost() { CloseAll(); }

  int Run(std::istream& scene, std::ostream& out) {
    while (std::getline(scene, line_)) {
      ++lineNumber_;
      std::istringstream words(line_);
      std::string op;
      if (!(words >> op) || op[0] == '#') continue;
      if (!Step(op, words, out)) return 1;
    }
    return 0;
  }

 private:
  bool Fail(const char* what) {
    std::fprintf(stderr, "%s:%d: %s: %s\n", scenePath_, lineNumber_, what, line_.c_str());
    return false;
  }

  HVEKGRAPHICS Surface(const std::string& name) const {
    for (const auto& [n, g] : surfaces_)
      if (n == name) return g;
    return nullptr;
  }

  // A pattern texture or an image by name, else the texture of a surface.
  VekTexture* Texture(const std::string& name) const {
    const auto it = textures_.find(name);
    if (it != textures_.end()) return it->second;
    const auto image = images_.find(name);
    if (image != images_.end()) return reinterpret_cast<VekTexture*>(image->second);
    const HVEKGRAPHICS g = Surface(name);
    return g ? VekGetGraphicsTexture(g) : nullptr;
  }

  void CloseAll() {
    for (auto& [name, pair] : fonts_) {
      VekDestroyFont(pair.first);
      VekDestroyFont(pair.second);
    }
    fonts_.clear();
    if (fontFile_ > 0) VekRemoveFontFile(VEK_TEST_FONT_FILE);
    fontFile_ = 0;
    for (auto& [name, t] : textures_) {
      ReleaseTexture(t);
      delete t;
    }
    textures_.clear();
    for (auto& [name, image] : images_) VekDestroyImage(image);
    images_.clear();
    // Later surfaces may be stencil surfaces over earlier ones: close newest first.
    for (auto it = surfaces_.rbegin(); it != surfaces_.rend(); ++it) VekCloseGraphics(it->second);
    surfaces_.clear();
    current_ = nullptr;
    if (device_) VekCloseGraphicsDevice(device_);
    device_ = nullptr;
    if (window_) DestroyTestWindow(window_);
    window_ = nullptr;
  }

  bool AddSurface(const std::string& name, HVEKGRAPHICS g) {
    if (!g || Surface(name)) {
      VekCloseGraphics(g);
      return false;
    }
    surfaces_.emplace_back(name, g);
    return true;
  }

  bool MakeTexture(const std::string& name, const std::string& pattern, UINT w, UINT h) {
    if (!device_ || w == 0 || h == 0 || w > 1024 || h > 1024 || textures_.count(name)) return false;
    std::vector<uint8_t> file = testdds::Header(w, h, nullptr, size_t{w} * h * 4);
    for (UINT y = 0; y < h; ++y)
      for (UINT x = 0; x < w; ++x) {
        uint32_t argb = 0;
        if (!Texel(pattern, x, y, w, h, &argb)) return false;
        testdds::Put32(file, 128 + 4 * (size_t{y} * w + x), argb);
      }
    auto* t = new VekTexture{};
    t->width = w;
    t->height = h;
    if (CreateTextureFromMemory(t, device_->cache.device, file.data(),
                                static_cast<UINT>(file.size()), FALSE) != 1) {
      delete t;
      return false;
    }
    textures_[name] = t;
    return true;
  }

  bool MakeImage(const std::string& name, const std::string& formatName, const std::string& pattern,
                 int w, int h) {
    vekpic::Format format;
    if (!device_ || images_.count(name) || !vekpic::ParseFormat(formatName, &format)) return false;
    const std::vector<uint8_t> bytes = vekpic::Encode(format, w, h, vekpic::Pattern(pattern, w, h));
    if (bytes.empty()) return false;
    HRASKFILE file =
        RaskCreateFileFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), nullptr);
    HVEKIMAGE image = file ? VekCreateImage(file) : nullptr;
    RaskDestroyFile(file);
    if (!image) return false;
    images_[name] = image;
    return true;
  }

  // The optional texture name at the end of a drawing step.
  bool OptionalTexture(std::istringstream& words, VekTexture** texture) {
    std::string name;
    *texture = nullptr;
    if (!(words >> name)) return true;
    return (*texture = Texture(name)) != nullptr;
  }

  bool Tri(std::istringstream& words) {
    float p[12] = {}, z = 0;
    unsigned long colour = 0;
    DWORD flags = 0;
    for (float& f : p) words >> f;
    if (!(words >> z >> std::hex >> colour >> flags)) return Fail("bad tri");
    VekTexture* texture = nullptr;
    if (!OptionalTexture(words, &texture)) return Fail("no such texture");
    if (!current_) return Fail("no surface");
    const DWORD c = static_cast<DWORD>(colour);
    if (!VekDrawTri(current_, p[0], p[1], z, c, p[2], p[3], p[4], p[5], z, c, p[6], p[7], p[8],
                    p[9], z, c, p[10], p[11], flags, texture))
      return Fail("tri failed");
    return true;
  }

  bool Line(std::istringstream& words) {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0, z = 0;
    unsigned long c0 = 0, c1 = 0;
    DWORD flags = 0;
    words >> x0 >> y0 >> std::hex >> c0 >> std::dec >> x1 >> y1 >> std::hex >> c1 >> std::dec >> z;
    if (!(words >> std::hex >> flags)) return Fail("bad line");
    if (!current_ || !VekDrawLine(current_, x0, y0, z, static_cast<DWORD>(c0), x1, y1, z,
                                  static_cast<DWORD>(c1), flags))
      return Fail("line failed");
    return true;
  }

  bool Point(std::istringstream& words) {
    float x = 0, y = 0, z = 0;
    unsigned long c = 0;
    DWORD flags = 0;
    if (!(words >> x >> y >> z >> std::hex >> c >> flags)) return Fail("bad point");
    if (!current_ || !VekDrawPoint(current_, x, y, z, static_cast<DWORD>(c), flags))
      return Fail("point failed");
    return true;
  }

  bool Bezier(std::istringstream& words) {
    float p[8] = {}, z = 0, step = 0;
    unsigned long c = 0;
    DWORD flags = 0;
    for (float& f : p) words >> f;
    words >> z >> std::hex >> c >> std::dec >> step;
    if (!(words >> std::hex >> flags)) return Fail("bad bezier");
    if (!current_ || !VekDrawBezier(current_, p[0], p[1], z, p[2], p[3], z, p[4], p[5], z, p[6],
                                    p[7], z, static_cast<DWORD>(c), step, flags))
      return Fail("bezier failed");
    return true;
  }

  bool Quad(std::istringstream& words) {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0, z = 0;
    unsigned long colour = 0;
    DWORD flags = 0;
    if (!(words >> x0 >> y0 >> x1 >> y1 >> z >> std::hex >> colour >> flags))
      return Fail("bad quad");
    VekTexture* texture = nullptr;
    if (!OptionalTexture(words, &texture)) return Fail("no such texture");
    if (!current_) return Fail("no surface");
    const DWORD c = static_cast<DWORD>(colour);
    if (!VekDrawQuad(current_, x0, y0, z, c, 0, 0, x1, y0, z, c, 1, 0, x1, y1, z, c, 1, 1, x0, y1,
                     z, c, 0, 1, flags, texture))
      return Fail("quad failed");
    return true;
  }

  // A particle system from key=value words over a still default (one white
  // 8 x 8 particle at the centre, period and visible 1000 ms). Values are
  // comma-separated; ranges are "min,max".
  //   at=x,y,z count= period= visible= speed= dir= rot= absolute=0|1
  //   area=w,h erot= image=NAME region=l,r,t,b alphaimg=1 colourimg=1
  //   fwd= drag= accel=x,y texture=NAME frames=N (N equal columns, inset
  //   half a texel so no sample falls on a frame border) mode= align=1
  //   wstart= hstart= astart= rstart= gstart= bstart= spinstart=
  //   wend= hend= aend= rend= gend= bend= spinend= seeds=a,b time= flags=
  //   path=x,y,t/x,y,t/...
  bool ParSys(std::istringstream& words) {
    float at[3] = {0, 0, 0.5f}, speed[2] = {}, dir[2] = {}, rot[2] = {}, region[4] = {0, 1, 0, 1};
    float erot = 0, fwd = 0, drag = 0, accel[2] = {}, spinStart[2] = {}, spinEnd[2] = {};
    UINT count = 1, period[2] = {1000, 1000}, visible[2] = {1000, 1000}, area[2] = {};
    UINT absolute = 0, alphaImage = 0, colourImage = 0, frameCount = 0, mode = 0, align = 0;
    UINT start[6][2] = {{8, 8}, {8, 8}, {255, 255}, {255, 255}, {255, 255}, {255, 255}};
    UINT end[6][2] = {{8, 8}, {8, 8}, {255, 255}, {255, 255}, {255, 255}, {255, 255}};
    int seeds[2] = {1, 2};
    unsigned long long time = 0;
    DWORD flags = 0;
    HVEKIMAGE image = nullptr;
    VekTexture* texture = nullptr;
    std::vector<VekPathPoint> points;
    std::vector<LONGLONG> times;
    if (current_) {
      const D3DSURFACE_DESC desc = BackBufferDesc();
      at[0] = desc.Width / 2.0f;
      at[1] = desc.Height / 2.0f;
    }
    static const char* kStartKeys[6] = {"wstart", "hstart", "astart", "rstart", "gstart", "bstart"};
    static const char* kEndKeys[6] = {"wend", "hend", "aend", "rend", "gend", "bend"};
    std::string word;
    while (words >> word) {
      const size_t eq = word.find('=');
      if (eq == std::string::npos) return Fail("bad parsys word");
      const std::string key = word.substr(0, eq);
      std::string value = word.substr(eq + 1);
      for (char& c : value)
        if (c == ',' || c == '/') c = ' ';
      std::istringstream v(value);
      bool ok = true;
      auto floats = [&](float* f, int n) {
        for (int i = 0; i < n; ++i) ok = ok && static_cast<bool>(v >> f[i]);
      };
      auto uints = [&](UINT* u, int n) {
        for (int i = 0; i < n; ++i) ok = ok && static_cast<bool>(v >> u[i]);
      };
      bool known = true;
      if (key == "at")
        floats(at, 3);
      else if (key == "count")
        uints(&count, 1);
      else if (key == "period")
        uints(period, 2);
      else if (key == "visible")
        uints(visible, 2);
      else if (key == "speed")
        floats(speed, 2);
      else if (key == "dir")
        floats(dir, 2);
      else if (key == "rot")
        floats(rot, 2);
      else if (key == "absolute")
        uints(&absolute, 1);
      else if (key == "area")
        uints(area, 2);
      else if (key == "erot")
        floats(&erot, 1);
      else if (key == "image")
        ok = (image = FindImage(value)) != nullptr;
      else if (key == "region")
        floats(region, 4);
      else if (key == "alphaimg")
        uints(&alphaImage, 1);
      else if (key == "colourimg")
        uints(&colourImage, 1);
      else if (key == "fwd")
        floats(&fwd, 1);
      else if (key == "drag")
        floats(&drag, 1);
      else if (key == "accel")
        floats(accel, 2);
      else if (key == "texture")
        ok = (texture = Texture(value)) != nullptr;
      else if (key == "frames")
        uints(&frameCount, 1);
      else if (key == "mode")
        uints(&mode, 1);
      else if (key == "align")
        uints(&align, 1);
      else if (key == "spinstart")
        floats(spinStart, 2);
      else if (key == "spinend")
        floats(spinEnd, 2);
      else if (key == "seeds")
        ok = static_cast<bool>(v >> seeds[0] >> seeds[1]);
      else if (key == "time")
        ok = static_cast<bool>(v >> time);
      else if (key == "flags")
        ok = static_cast<bool>(v >> std::hex >> flags);
      else if (key == "path") {
        float x, y;
        long long t;
        while (v >> x >> y >> t) {
          points.push_back({x, y, 0});
          times.push_back(t);
        }
      } else {
        known = false;
        for (int i = 0; i < 6; ++i) {
          if (key == kStartKeys[i]) uints(start[i], 2), known = true;
          if (key == kEndKeys[i]) uints(end[i], 2), known = true;
        }
      }
      if (!known) return Fail("unknown parsys key");
      if (!ok) return Fail("bad parsys value");
    }
    if (!current_) return Fail("no surface");
    std::vector<VekParticleFrame> frames;
    if (texture && frameCount) {
      const float half = 0.5f / static_cast<float>(texture->width);
      for (UINT i = 0; i < frameCount; ++i)
        frames.push_back({static_cast<float>(i) / frameCount + half,
                          static_cast<float>(i + 1) / frameCount - half, half, 1.0f - half});
    }
    const INT drawn = VekDrawParSys(
        current_, at[0], at[1], at[2], points.empty() ? nullptr : points.data(),
        times.empty() ? nullptr : times.data(), static_cast<UINT>(points.size()), count, period[0],
        period[1], visible[0], visible[1], speed[0], speed[1], dir[0], dir[1], 0, 0, rot[0], rot[1],
        absolute, area[0], area[1], erot, image, region[0], region[1], region[2], region[3],
        alphaImage, colourImage, fwd, drag, accel[0], accel[1], 0, texture,
        frames.empty() ? nullptr : frames.data(), static_cast<UINT>(frames.size()), mode, align,
        start[0][0], start[0][1], start[1][0], start[1][1], start[2][0], start[2][1], start[3][0],
        start[3][1], start[4][0], start[4][1], start[5][0], start[5][1], spinStart[0], spinStart[1],
        end[0][0], end[0][1], end[1][0], end[1][1], end[2][0], end[2][1], end[3][0], end[3][1],
        end[4][0], end[4][1], end[5][0], end[5][1], spinEnd[0], spinEnd[1], seeds[0], seeds[1],
        static_cast<UINT>(time), static_cast<UINT>(time >> 32), flags);
    if (drawn != static_cast<INT>(count)) return Fail("parsys failed");
    return true;
  }

  HVEKIMAGE FindImage(const std::string& name) const {
    const auto it = images_.find(name);
    return it == images_.end() ? nullptr : it->second;
  }

  D3DSURFACE_DESC BackBufferDesc() const {
    D3DSURFACE_DESC desc{};
    IDirect3DSurface8* back = nullptr;
    if (device_ &&
        SUCCEEDED(device_->cache.device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back))) {
      back->GetDesc(&desc);
      back->Release();
    }
    return desc;
  }

  // The natural width of a run: the advances its glyphs get, taken from a
  // twin of the font so that the drawn font meets its glyphs only when drawing.
  float NaturalWidth(const std::string& name, const std::u16string& text) {
    VekFont* twin = fonts_[name].second;
    const auto* units = reinterpret_cast<const WCHAR*>(text.c_str());
    const UINT n = static_cast<UINT>(text.size());
    EnsureGlyphs(twin, units, n, device_->cache.device);
    float total = 0;
    for (UINT i = 0; i < n; ++i)
      if (const CharCoordinate* e = units[i] >= 0x20 ? FindCharCoordinate(twin, units[i]) : nullptr)
        total += e->advance;
    return total;
  }

  bool Text(std::istringstream& words, bool single) {
    float x = 0, y = 0, z = 0;
    unsigned long c0 = 0, c1 = 0;
    DWORD flags = 0;
    std::string name, rest;
    words >> x >> y >> z >> std::hex >> c0;
    if (!single) words >> c1;
    if (single) c1 = c0;
    if (!(words >> flags >> name) || !fonts_.count(name)) return Fail("bad text");
    std::getline(words >> std::ws, rest);
    if (!current_ || rest.empty()) return Fail("no surface or text");
    const std::u16string text(rest.begin(), single ? rest.begin() + 1 : rest.end());  // ASCII
    VekFont* font = fonts_[name].first;
    const float w = NaturalWidth(name, text), h = static_cast<float>(VekGetFontHeight(font));
    const DWORD l = static_cast<DWORD>(c0), r = static_cast<DWORD>(c1);
    if (single)
      VekDrawChar(current_, x, y, z, l, x + w, y, z, r, x + w, y + h, z, r, x, y + h, z, l, flags,
                  font, text[0]);
    else
      VekDrawText(current_, x, y, z, l, x + w, y, z, r, x + w, y + h, z, r, x, y + h, z, l, flags,
                  font, reinterpret_cast<const WCHAR*>(text.c_str()),
                  static_cast<UINT>(text.size()));
    return true;
  }

  bool Step(const std::string& op, std::istringstream& words, std::ostream& out) {
    if (op == "open") {
      int w = 0, h = 0, bits = 0;
      words >> w >> h >> bits;
      if (window_) return Fail("already open");
      window_ = CreateTestWindow(w, h);
      device_ = VekOpenGraphicsDevice(0, window_, 0, 1, 0, 0, bits, 0);
      if (!device_) return Fail("open failed");
    } else if (op == "reset") {
      int w = 0, h = 0, bits = 0;
      words >> w >> h >> bits;
      if (!device_ || VekResetGraphicsDevice(device_, 1, w, h, bits, 0) != 1)
        return Fail("reset failed");
    } else if (op == "clear") {
      unsigned long colour = 0;
      words >> std::hex >> colour;
      IDirect3DDevice8* d3d = device_ ? device_->cache.device : nullptr;
      if (!d3d || FAILED(d3d->BeginScene()) ||
          FAILED(d3d->Clear(0, nullptr, D3DCLEAR_TARGET, static_cast<D3DCOLOR>(colour), 1.0f, 0)) ||
          FAILED(d3d->EndScene()))
        return Fail("clear failed");
    } else if (op == "present") {
      if (!device_ || FAILED(device_->cache.device->Present(nullptr, nullptr, nullptr, nullptr)))
        return Fail("present failed");
    } else if (op == "capture") {
      std::string name;
      words >> name;
      UINT w = 0, h = 0;
      std::vector<unsigned char> pixels;
      if (!device_ || !ReadBackBuffer(device_, &w, &h, &pixels)) return Fail("capture failed");
      out << "frame " << name << ' ' << w << ' ' << h << '\n';
      out.write(reinterpret_cast<const char*>(pixels.data()),
                static_cast<std::streamsize>(pixels.size()));
    } else if (op == "surface") {
      if (!device_ || !AddSurface("main", VekOpenGraphics(device_)) ||
          !AddSurface("stencil", VekOpenStencilGraphics(Surface("main"))))
        return Fail("surface failed");
      current_ = Surface("main");
    } else if (op == "target") {
      std::string name;
      UINT w = 0, h = 0;
      words >> name >> w >> h;
      if (!device_ || !AddSurface(name, VekOpenTextureGraphics(device_, w, h, D3DFMT_A8R8G8B8)))
        return Fail("target failed");
    } else if (op == "use") {
      std::string name;
      words >> name;
      if (!(current_ = Surface(name))) return Fail("no such surface");
    } else if (op == "begin") {
      if (!current_ || VekBeginRender(current_) != 0) return Fail("begin failed");
    } else if (op == "end") {
      if (!current_ || VekEndRender(current_) < 0) return Fail("end failed");
    } else if (op == "fill") {
      unsigned long colour = 0;
      words >> std::hex >> colour;
      if (!current_ || VekClear(current_, static_cast<DWORD>(colour)) != 0)
        return Fail("fill failed");
    } else if (op == "clip") {
      float l = 0, t = 0, r = 0, b = 0;
      words >> l >> t >> r >> b;
      VekSetClip(current_, l, t, r, b);
    } else if (op == "stencil") {
      DWORD f = 0, p = 0, r = 0;
      words >> f >> p >> r;
      VekSetStencilParam(current_, f, p, r);
    } else if (op == "effect") {
      int id = 0;
      std::string low;
      float param[4] = {};
      if (!(words >> id >> low)) return Fail("bad effect");
      if (!current_) return Fail("no surface");
      if (low == "-") {
        VekSetPixelShader(current_, id, nullptr);
      } else {
        std::istringstream first(low);
        if (!(first >> param[0]) || !(words >> param[1] >> param[2])) return Fail("bad effect");
        VekSetPixelShader(current_, id, param);
      }
    } else if (op == "texture") {
      std::string name, pattern;
      UINT w = 0, h = 0;
      words >> name >> pattern >> w >> h;
      if (!MakeTexture(name, pattern, w, h)) return Fail("texture failed");
    } else if (op == "image") {
      std::string name, format, pattern;
      int w = 0, h = 0;
      words >> name >> format >> pattern >> w >> h;
      if (!MakeImage(name, format, pattern, w, h)) return Fail("image failed");
    } else if (op == "recolour") {
      std::string name, effect;
      int value = 0, a = 0, b = 0;
      if (!(words >> name >> effect >> value >> a >> b)) return Fail("bad recolour");
      const auto it = images_.find(name);
      if (it == images_.end()) return Fail("no such image");
      INT done = 0;
      if (effect == "grey") done = VekGrayImage(it->second, a, b);
      if (effect == "bright") done = VekBrightImage(it->second, value, a, b);
      if (effect == "hue") done = VekHueImage(it->second, static_cast<UINT>(value), a, b);
      if (effect == "swap") done = VekConvertRGBImage(it->second, static_cast<UINT>(value), a, b);
      if (done != 1) return Fail("recolour failed");
    } else if (op == "quad") {
      return Quad(words);
    } else if (op == "tri") {
      return Tri(words);
    } else if (op == "line") {
      return Line(words);
    } else if (op == "point") {
      return Point(words);
    } else if (op == "bezier") {
      return Bezier(words);
    } else if (op == "parsys") {
      return ParSys(words);
    } else if (op == "fontfile") {
      if (fontFile_ > 0 || (fontFile_ = VekAddFontFile(VEK_TEST_FONT_FILE)) <= 0)
        return Fail("font file not registered");
    } else if (op == "font") {
      std::string name;
      UINT size = 0;
      DWORD flags = 0;
      unsigned long colour = 0;
      words >> name >> size >> std::hex >> flags >> colour;
      const DWORD c = static_cast<DWORD>(colour);
      VekFont* font = VekCreateFont(VEK_TEST_FACE, size, flags, c);
      VekFont* twin = VekCreateFont(VEK_TEST_FACE, size, flags, c);
      if (!font || !twin || fonts_.count(name)) {
        VekDestroyFont(font);
        VekDestroyFont(twin);
        return Fail("font failed");
      }
      fonts_[name] = {font, twin};
    } else if (op == "text" || op == "char") {
      return Text(words, op == "char");
    } else if (op == "demo") {
      if (!device_ || !DrawDemoScene(device_)) return Fail("demo scene failed");
    } else if (op == "close") {
      CloseAll();
    } else {
      return Fail("unknown step");
    }
    return true;
  }

  const char* scenePath_;
  std::string line_;
  int lineNumber_ = 0;
  HWND window_ = nullptr;
  HVEKDEVICE device_ = nullptr;
  std::vector<std::pair<std::string, HVEKGRAPHICS>> surfaces_;  // in opening order
  HVEKGRAPHICS current_ = nullptr;
  std::map<std::string, VekTexture*> textures_;
  std::map<std::string, HVEKIMAGE> images_;
  std::map<std::string, std::pair<VekFont*, VekFont*>> fonts_;  // drawn font, measuring twin
  int fontFile_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SCENE OUTPUT\n", argv[0]);
    return 2;
  }
  std::ifstream scene(argv[1]);
  std::ofstream out(argv[2], std::ios::binary);
  if (!scene || !out) {
    std::fprintf(stderr, "cannot open %s or %s\n", argv[1], argv[2]);
    return 2;
  }
#ifdef _WIN32
  // Linked statically here, so no module attach loads FreeImage for us.
  LoadFreeImage();
#endif
  SceneHost host(argv[1]);
  return host.Run(scene, out);
}
