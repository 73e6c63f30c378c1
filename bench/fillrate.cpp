// Fill rate of the software Direct3D 8 device against pixman compositing the
// same pixels in the same run, median of 9 frames each, for four workloads
// into a 1280 x 720 target:
//   sprites    2,000 textured, alpha-blended 64 x 64 quads with depth test
//   text       2,000 glyph quads of 10 x 14 from one 256 x 256 atlas, in a
//              text colour (modulated), blended (pixman: solid colour through
//              the glyph as mask)
//   particles  20,000 quads of 8 x 8 from one small texture, each in its own
//              colour, blended (pixman: solid colour through the texture)
//   textures   200 quads of 256 x 256, each from a different texture (one
//              draw each), beside the same quads from one texture in one draw
// The device draws with its worker pool (wall clock) and again on one
// thread (CPU time); pixman draws on one thread (both).
#include <d3d8.h>
#include <pixman.h>
#include <vekrt/runtime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

#include "bench_util.h"

namespace {

constexpr int kWidth = 1280, kHeight = 720, kRuns = 9;
constexpr int kSprite = 64, kSprites = 2000;
constexpr int kAtlas = 256, kGlyphW = 10, kGlyphH = 14, kGlyphs = 2000;
constexpr int kParticle = 8, kParticles = 20000;
constexpr int kPage = 256, kPages = 200;

struct Vertex {
  float x, y, z;
  DWORD colour;
  float u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// One quad of the frame: where it goes, which texels it shows, its colour.
struct Quad {
  int x, y, w, h;
  float z;
  int u, v;  // top-left texel
  uint32_t colour;
};

// Median wall-clock and process CPU seconds of a frame. On a shared machine
// the CPU time of single-threaded work is the steadier figure: it leaves out
// the time the process waited for a core.
struct Timing {
  double wall = 0, cpu = 0;
};

double CpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs the bodies in turn, kRuns rounds, so that a burst of load on a
// shared machine falls on all of them alike; the median wall and CPU time
// of each body. In each round a body draws an untimed frame before its
// timed one, so it is timed in its own steady state (its target and
// textures in the caches), as when frames follow each other.
std::vector<Timing> Interleaved(const std::vector<std::function<void()>>& bodies) {
  std::vector<std::vector<double>> wall(bodies.size()), cpu(bodies.size());
  for (int run = 0; run < kRuns; ++run) {
    for (size_t b = 0; b < bodies.size(); ++b) {
      bodies[b]();
      const auto start = std::chrono::steady_clock::now();
      const double cpuStart = CpuNow();
      bodies[b]();
      cpu[b].push_back(CpuNow() - cpuStart);
      wall[b].push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
  }
  std::vector<Timing> out;
  for (size_t b = 0; b < bodies.size(); ++b) out.push_back({Median(wall[b]), Median(cpu[b])});
  return out;
}

// Sprite texels: a gradient with alpha from half to fully opaque.
uint32_t SpriteTexel(int x, int y) {
  const uint32_t a = 128 + static_cast<uint32_t>((x + y) * 127 / (2 * kSprite - 2));
  return a << 24 | static_cast<uint32_t>(x * 4) << 16 | static_cast<uint32_t>(y * 4) << 8 | 0x40;
}
// Glyph coverage: white, alpha in strokes with soft edges and empty gaps.
uint32_t AtlasTexel(int x, int y) {
  const int cx = x % 16, cy = y % 16, glyph = (x / 16) * 7 + (y / 16) * 3;
  const bool stem = (cx + glyph) % 5 < 2 || (cy + glyph) % 7 == 0;
  const uint32_t a = cx >= kGlyphW || cy >= kGlyphH    ? 0
                     : stem                            ? 255
                     : (cx * cy * 37 + glyph) % 3 == 0 ? 96
                                                       : 0;
  return a << 24 | 0xFFFFFF;
}
// A particle: white, alpha falling off from the centre.
uint32_t ParticleTexel(int x, int y) {
  const int dx = 2 * x - (kParticle - 1), dy = 2 * y - (kParticle - 1);
  const int d = dx * dx + dy * dy;  // 2 .. 98
  return static_cast<uint32_t>(d >= 64 ? 0 : 255 - d * 4) << 24 | 0xFFFFFF;
}
// Page `i` of the many-textures scene.
uint32_t PageTexel(int i, int x, int y) {
  const uint32_t a = 160 + static_cast<uint32_t>((x ^ y ^ i) & 63);
  return a << 24 | static_cast<uint32_t>(x) << 16 | static_cast<uint32_t>(y) << 8 |
         static_cast<uint32_t>(i);
}

using TexelFn = std::function<uint32_t(int, int)>;

uint32_t Premultiplied(uint32_t t) {
  const uint32_t a = t >> 24;
  auto ch = [&](int s) { return (((t >> s) & 0xFF) * a + 127) / 255; };
  return a << 24 | ch(16) << 16 | ch(8) << 8 | ch(0);
}

// --- The software device ------------------------------------------------------

class SoftwareDevice {
 public:
  SoftwareDevice() {
    window_ = vrt::CreateVirtualWindow(0, 0, kWidth, kHeight);
    d3d_ = Direct3DCreate8(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = kWidth;
    p.BackBufferHeight = kHeight;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_COPY;
    p.hDeviceWindow = window_;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    if (!d3d_ || FAILED(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_,
                                           D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device_))) {
      std::fprintf(stderr, "cannot create the software device\n");
      device_ = nullptr;
      return;
    }
    D3DMATRIX ortho{};  // pixels to clip space, z 0..1 kept
    ortho._11 = 2.0f / kWidth;
    ortho._22 = -2.0f / kHeight;
    ortho._33 = 1.0f;
    ortho._41 = -1.0f;
    ortho._42 = 1.0f;
    ortho._44 = 1.0f;
    device_->SetTransform(D3DTS_PROJECTION, &ortho);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device_->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
    device_->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    device_->SetVertexShader(kFvf);
  }
  ~SoftwareDevice() {
    if (device_) {
      device_->SetTexture(0, nullptr);
      device_->SetStreamSource(0, nullptr, 0);
      device_->SetIndices(nullptr, 0);
      for (IDirect3DTexture8* t : textures_) t->Release();
      for (IDirect3DVertexBuffer8* b : buffers_) b->Release();
      for (IDirect3DIndexBuffer8* b : indexBuffers_) b->Release();
      device_->Release();
    }
    if (d3d_) d3d_->Release();
    vrt::DestroyVirtualWindow(window_);
  }
  bool ok() const { return device_ != nullptr; }

  IDirect3DTexture8* Texture(int w, int h, const TexelFn& texel) {
    IDirect3DTexture8* t = nullptr;
    device_->CreateTexture(w, h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t);
    D3DLOCKED_RECT locked{};
    t->LockRect(0, &locked, nullptr, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t c = texel(x, y);
        std::memcpy(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch + 4 * x, &c, 4);
      }
    t->UnlockRect(0);
    textures_.push_back(t);
    return t;
  }

  // A vertex and index buffer holding `quads` (texels of a tw x th texture),
  // bound for drawing.
  void Bind(const std::vector<Quad>& quads, int tw, int th) {
    const UINT n = static_cast<UINT>(quads.size());
    IDirect3DVertexBuffer8* vb = nullptr;
    IDirect3DIndexBuffer8* ib = nullptr;
    device_->CreateVertexBuffer(n * 4 * sizeof(Vertex), D3DUSAGE_WRITEONLY, kFvf, D3DPOOL_MANAGED,
                                &vb);
    device_->CreateIndexBuffer(n * 6 * 4, D3DUSAGE_WRITEONLY, D3DFMT_INDEX32, D3DPOOL_MANAGED, &ib);
    buffers_.push_back(vb);
    indexBuffers_.push_back(ib);
    BYTE* bytes = nullptr;
    vb->Lock(0, 0, &bytes, 0);
    Vertex* v = reinterpret_cast<Vertex*>(bytes);
    for (const Quad& q : quads) {
      // Corners half a pixel up and left map texels 1:1 onto pixel centres.
      const float x0 = q.x - 0.5f, y0 = q.y - 0.5f, x1 = x0 + q.w, y1 = y0 + q.h;
      const float u0 = float(q.u) / tw, v0 = float(q.v) / th;
      const float u1 = float(q.u + q.w) / tw, v1 = float(q.v + q.h) / th;
      *v++ = {x0, y0, q.z, q.colour, u0, v0};
      *v++ = {x1, y0, q.z, q.colour, u1, v0};
      *v++ = {x1, y1, q.z, q.colour, u1, v1};
      *v++ = {x0, y1, q.z, q.colour, u0, v1};
    }
    vb->Unlock();
    ib->Lock(0, 0, &bytes, 0);
    uint32_t* index = reinterpret_cast<uint32_t*>(bytes);
    for (UINT q = 0; q < n; ++q) {
      const uint32_t b = 4 * q, quad[6] = {b, b + 1, b + 2, b + 2, b + 3, b};
      std::memcpy(index + 6 * q, quad, sizeof(quad));
    }
    ib->Unlock();
    device_->SetStreamSource(0, vb, sizeof(Vertex));
    device_->SetIndices(ib, 0);
  }

  // FNV-1a over the back buffer's pixels.
  uint64_t FrameHash() {
    IDirect3DSurface8 *back = nullptr, *image = nullptr;
    uint64_t h = 1469598103934665603ull;
    device_->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back);
    device_->CreateImageSurface(kWidth, kHeight, D3DFMT_X8R8G8B8, &image);
    D3DLOCKED_RECT locked{};
    if (back && image && SUCCEEDED(device_->CopyRects(back, nullptr, 0, image, nullptr)) &&
        SUCCEEDED(image->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
      for (int y = 0; y < kHeight; ++y) {
        const BYTE* row = static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch;
        for (int i = 0; i < kWidth * 4; ++i) h = (h ^ row[i]) * 1099511628211ull;
      }
      image->UnlockRect();
    }
    if (image) image->Release();
    if (back) back->Release();
    return h;
  }

  // Depth test and write on or off; frames clear the depth buffer only when on.
  void Depth(bool on) {
    device_->SetRenderState(D3DRS_ZENABLE, on ? D3DZB_TRUE : D3DZB_FALSE);
    device_->SetRenderState(D3DRS_ZWRITEENABLE, on);
    clear_ = on ? D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER : D3DCLEAR_TARGET;
  }

  // One frame: a clear, then `draw` within a scene.
  void Frame(const std::function<void(IDirect3DDevice8*)>& draw) {
    device_->Clear(0, nullptr, clear_, 0xFF000000, 1.0f, 0);
    device_->BeginScene();
    draw(device_);
    device_->EndScene();
  }

 private:
  HWND window_ = nullptr;
  IDirect3D8* d3d_ = nullptr;
  IDirect3DDevice8* device_ = nullptr;
  DWORD clear_ = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;
  std::vector<IDirect3DTexture8*> textures_;
  std::vector<IDirect3DVertexBuffer8*> buffers_;
  std::vector<IDirect3DIndexBuffer8*> indexBuffers_;
};

// --- pixman -------------------------------------------------------------------

class PixmanTarget {
 public:
  PixmanTarget() : pixels_(static_cast<size_t>(kWidth) * kHeight) {
    image_ = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, pixels_.data(), kWidth * 4);
  }
  ~PixmanTarget() {
    for (pixman_image_t* i : images_) pixman_image_unref(i);
    pixman_image_unref(image_);
  }
  pixman_image_t* target() const { return image_; }

  // A premultiplied image of w x h texels.
  pixman_image_t* Image(int w, int h, const TexelFn& texel) {
    auto& bits = bits_.emplace_back(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) bits[static_cast<size_t>(y) * w + x] = Premultiplied(texel(x, y));
    pixman_image_t* i = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, bits.data(), w * 4);
    images_.push_back(i);
    return i;
  }
  pixman_image_t* Solid(uint32_t argb) {
    const auto c16 = [&](int s) { return static_cast<uint16_t>(((argb >> s) & 0xFF) * 257); };
    const pixman_color_t c{c16(16), c16(8), c16(0), c16(24)};
    pixman_image_t* i = pixman_image_create_solid_fill(&c);
    images_.push_back(i);
    return i;
  }

  // One frame: the target cleared, then `draw`.
  void Frame(const std::function<void()>& draw) {
    std::fill(pixels_.begin(), pixels_.end(), 0xFF000000u);
    draw();
  }

 private:
  std::vector<uint32_t> pixels_;
  pixman_image_t* image_;
  std::vector<std::vector<uint32_t>> bits_;
  std::vector<pixman_image_t*> images_;
};

// --- Scenes -------------------------------------------------------------------

struct Result {
  const char* name;
  const char* state;
  double pixels;
  Timing device = {}, deviceOne = {}, pixman = {};
  bool sameFrames = false;
};

// A scene's device draw and, where one applies, pixman's frame.
struct Job {
  Result* result;
  std::function<void(IDirect3DDevice8*)> draw;
  std::function<void()> pixman;
};

// Frames of the device with its worker pool and on one thread, and of
// pixman, interleaved (see Interleaved). The frames the device draws both
// ways must be the same.
void Measure(SoftwareDevice& d, PixmanTarget& px, const std::vector<Job>& jobs) {
  std::vector<std::function<void()>> bodies;
  for (const Job& job : jobs) {
    vrt::SetRasterThreads(0);
    d.Frame(job.draw);
    const uint64_t pool = d.FrameHash();
    vrt::SetRasterThreads(1);
    d.Frame(job.draw);
    job.result->sameFrames = pool == d.FrameHash();
    bodies.push_back([&d, &job] {
      vrt::SetRasterThreads(0);
      d.Frame(job.draw);
    });
    bodies.push_back([&d, &job] {
      vrt::SetRasterThreads(1);
      d.Frame(job.draw);
    });
    if (job.pixman) bodies.push_back([&px, &job] { px.Frame(job.pixman); });
  }
  const std::vector<Timing> t = Interleaved(bodies);
  size_t k = 0;
  for (const Job& job : jobs) {
    job.result->device = t[k++];
    job.result->deviceOne = t[k++];
    if (job.pixman) job.result->pixman = t[k++];
  }
  vrt::SetRasterThreads(0);
}

void Print(const Result& r) {
  const double ns = 1e9 / r.pixels;
  std::printf(
      "%-10s %6.2f Mpx  pool wall %7.2f ms %5.2f ns/px  one thread cpu %7.2f ms %5.2f ns/px",
      r.name, r.pixels / 1e6, r.device.wall * 1e3, r.device.wall * ns, r.deviceOne.cpu * 1e3,
      r.deviceOne.cpu * ns);
  if (r.pixman.cpu > 0)
    std::printf("  pixman cpu %6.2f ms wall %6.2f ms", r.pixman.cpu * 1e3, r.pixman.wall * 1e3);
  std::printf("\n           %s%s\n", r.state,
              r.sameFrames ? "" : "; POOL AND ONE THREAD DREW DIFFERENT FRAMES");
}

}  // namespace

int main(int argc, char** argv) {
  // Scenes named on the command line run alone (for profiling); none: all.
  auto wanted = [&](const char* name) {
    if (argc < 2) return true;
    for (int i = 1; i < argc; ++i)
      if (std::strcmp(argv[i], name) == 0) return true;
    return false;
  };
  std::mt19937 random(8);
  SoftwareDevice d;
  if (!d.ok()) return 1;
  PixmanTarget px;
  std::vector<Result> results;

  if (wanted("sprites")) {  // Sprites: one texture, random places and depths.
    std::vector<Quad> quads(kSprites);
    for (Quad& q : quads) {
      q = {static_cast<int>(random() % (kWidth - kSprite)),
           static_cast<int>(random() % (kHeight - kSprite)),
           kSprite,
           kSprite,
           0,
           0,
           0,
           0xFFFFFFFF};
      q.z = static_cast<float>(random() % 1000) / 1000.0f;
    }
    Result r{"sprites", "64 x 64, depth test, texture, modulate, blend",
             double(kSprites) * kSprite * kSprite};
    d.Bind(quads, kSprite, kSprite);
    d.Depth(true);
    IDirect3DTexture8* t = d.Texture(kSprite, kSprite, SpriteTexel);
    pixman_image_t* src = px.Image(kSprite, kSprite, SpriteTexel);
    Measure(d, px,
            {{&r,
              [&](IDirect3DDevice8* dev) {
                dev->SetTexture(0, t);
                dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kSprites * 4, 0, kSprites * 2);
              },
              [&] {
                for (const Quad& q : quads)
                  pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, px.target(), 0, 0, 0, 0,
                                           q.x, q.y, q.w, q.h);
              }}});
    results.push_back(r);
  }

  if (wanted("text")) {  // Text: lines of glyphs from one atlas in one colour.
    std::vector<Quad> quads;
    for (int i = 0; i < kGlyphs; ++i) {
      const int line = i / 120, column = i % 120, glyph = static_cast<int>(random() % 256);
      quads.push_back({20 + column * kGlyphW, 20 + line * 20, kGlyphW, kGlyphH, 0.5f,
                       (glyph % 16) * 16, (glyph / 16) * 16, 0xFFE0C040});
    }
    Result r{"text", "10 x 14 glyphs of one atlas, coloured, blend, no depth",
             double(kGlyphs) * kGlyphW * kGlyphH};
    d.Bind(quads, kAtlas, kAtlas);
    d.Depth(false);
    IDirect3DTexture8* t = d.Texture(kAtlas, kAtlas, AtlasTexel);
    pixman_image_t* mask = px.Image(kAtlas, kAtlas, AtlasTexel);
    pixman_image_t* colour = px.Solid(0xFFE0C040);
    Measure(d, px,
            {{&r,
              [&](IDirect3DDevice8* dev) {
                dev->SetTexture(0, t);
                dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kGlyphs * 4, 0, kGlyphs * 2);
              },
              [&] {
                for (const Quad& q : quads)
                  pixman_image_composite32(PIXMAN_OP_OVER, colour, mask, px.target(), 0, 0, q.u,
                                           q.v, q.x, q.y, q.w, q.h);
              }}});
    results.push_back(r);
  }

  if (wanted("particles")) {  // Particles: small, many, each in one of 16 colours.
    std::vector<uint32_t> colours(16);
    for (uint32_t& c : colours) c = 0xC0000000u | (static_cast<uint32_t>(random()) & 0xFFFFFF);
    std::vector<Quad> quads(kParticles);
    std::vector<int> colourOf(kParticles);
    for (int i = 0; i < kParticles; ++i) {
      colourOf[i] = static_cast<int>(random() % 16);
      quads[i] = {static_cast<int>(random() % (kWidth - kParticle)),
                  static_cast<int>(random() % (kHeight - kParticle)),
                  kParticle,
                  kParticle,
                  0.5f,
                  0,
                  0,
                  colours[colourOf[i]]};
    }
    Result r{"particles", "8 x 8, one texture, per-particle colour, blend, no depth",
             double(kParticles) * kParticle * kParticle};
    d.Bind(quads, kParticle, kParticle);
    d.Depth(false);
    IDirect3DTexture8* t = d.Texture(kParticle, kParticle, ParticleTexel);
    pixman_image_t* mask = px.Image(kParticle, kParticle, ParticleTexel);
    std::vector<pixman_image_t*> solids;
    for (uint32_t c : colours) solids.push_back(px.Solid(c));
    Measure(d, px,
            {{&r,
              [&](IDirect3DDevice8* dev) {
                dev->SetTexture(0, t);
                dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kParticles * 4, 0, kParticles * 2);
              },
              [&] {
                for (int i = 0; i < kParticles; ++i)
                  pixman_image_composite32(PIXMAN_OP_OVER, solids[colourOf[i]], mask, px.target(),
                                           0, 0, 0, 0, quads[i].x, quads[i].y, kParticle,
                                           kParticle);
              }}});
    results.push_back(r);
  }

  if (wanted(
          "textures")) {  // Many textures: one draw per texture, against one texture and one draw.
    std::vector<Quad> quads(kPages);
    for (Quad& q : quads)
      q = {static_cast<int>(random() % (kWidth - kPage)),
           static_cast<int>(random() % (kHeight - kPage)),
           kPage,
           kPage,
           0.5f,
           0,
           0,
           0xFFFFFFFF};
    const double pixels = double(kPages) * kPage * kPage;
    Result many{"textures", "256 x 256, a texture each, 200 draws, blend, no depth", pixels};
    Result one{"one tex", "the same quads from one texture in one draw", pixels};
    d.Bind(quads, kPage, kPage);
    d.Depth(false);
    std::vector<IDirect3DTexture8*> pages;
    for (int i = 0; i < kPages; ++i)
      pages.push_back(d.Texture(kPage, kPage, [i](int x, int y) { return PageTexel(i, x, y); }));
    std::vector<pixman_image_t*> images;
    for (int i = 0; i < kPages; ++i)
      images.push_back(px.Image(kPage, kPage, [i](int x, int y) { return PageTexel(i, x, y); }));
    Measure(d, px,
            {{&many,
              [&](IDirect3DDevice8* dev) {
                for (int i = 0; i < kPages; ++i) {
                  dev->SetTexture(0, pages[i]);
                  dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kPages * 4, 6 * i, 2);
                }
              },
              [&] {
                for (int i = 0; i < kPages; ++i)
                  pixman_image_composite32(PIXMAN_OP_OVER, images[i], nullptr, px.target(), 0, 0, 0,
                                           0, quads[i].x, quads[i].y, kPage, kPage);
              }},
             {&one,
              [&](IDirect3DDevice8* dev) {
                dev->SetTexture(0, pages[0]);
                dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, kPages * 4, 0, kPages * 2);
              },
              nullptr}});
    results.push_back(many);
    results.push_back(one);
  }

  std::printf(
      "1280 x 720 target, median of %d frames, each scene's frames interleaved; device with "
      "its worker pool and on one thread, pixman on one thread; cpu: process CPU time\n",
      kRuns);
  for (const Result& r : results) Print(r);
  auto find = [&](const char* name) -> const Result* {
    for (const Result& r : results)
      if (std::strcmp(r.name, name) == 0) return &r;
    return nullptr;
  };
  const Result *sprites = find("sprites"), *text = find("text"), *particles = find("particles"),
               *many = find("textures"), *one = find("one tex");
  auto perPixel = [](const Result* r) { return r->deviceOne.cpu / r->pixels; };
  if (sprites)
    std::printf(
        "sprites / pixman: %.2f wall (pool against one thread; goal below 1), %.2f cpu (one "
        "thread each; target at most 1.3)\n",
        sprites->device.wall / sprites->pixman.wall, sprites->deviceOne.cpu / sprites->pixman.cpu);
  if (sprites && text && particles)
    std::printf("cpu per pixel against sprites: text %.2f, particles %.2f (target at most 2)\n",
                perPixel(text) / perPixel(sprites), perPixel(particles) / perPixel(sprites));
  if (many && one)
    std::printf("200 textures / one texture: %.2f cpu, %.2f wall (target at most 1.2)\n",
                many->deviceOne.cpu / one->deviceOne.cpu, many->device.wall / one->device.wall);
  return 0;
}
