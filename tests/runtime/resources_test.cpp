// Resources with memory: lock rectangles and pitches (DXT included), mip
// chains, buffers, CopyRects and UpdateTexture.
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime_test.h"

namespace {

using Resources = DeviceTest;

BYTE* At(const D3DLOCKED_RECT& r) { return static_cast<BYTE*>(r.pBits); }

TEST_F(Resources, PitchAndRectanglesOfPlainFormats) {
  struct Case {
    D3DFORMAT format;
    UINT width;
    UINT bytesPerPixel;
  } cases[] = {{D3DFMT_A8R8G8B8, 100, 4},
               {D3DFMT_X8R8G8B8, 3, 4},
               {D3DFMT_R5G6B5, 3, 2},
               {D3DFMT_A8, 5, 1},
               {D3DFMT_R8G8B8, 7, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    Com<IDirect3DSurface8> s;
    ASSERT_EQ(device->CreateImageSurface(c.width, 10, c.format, s.out()), D3D_OK);
    D3DSURFACE_DESC desc{};
    s->GetDesc(&desc);
    EXPECT_EQ(desc.Pool, D3DPOOL_SYSTEMMEM);
    D3DLOCKED_RECT whole{};
    ASSERT_EQ(s->LockRect(&whole, nullptr, 0), D3D_OK);
    ASSERT_GE(static_cast<UINT>(whole.Pitch), c.width * c.bytesPerPixel);
    EXPECT_EQ(whole.Pitch % 4, 0);
    EXPECT_GE(desc.Size, static_cast<UINT>(whole.Pitch) * 10);
    std::memset(whole.pBits, 0x11, static_cast<size_t>(whole.Pitch) * 10);  // all of it is ours
    EXPECT_EQ(s->LockRect(&whole, nullptr, 0), D3DERR_INVALIDCALL);         // already locked
    ASSERT_EQ(s->UnlockRect(), D3D_OK);
    EXPECT_EQ(s->UnlockRect(), D3DERR_INVALIDCALL);

    const RECT part{1, 2, static_cast<LONG>(c.width), 9};
    D3DLOCKED_RECT r{};
    ASSERT_EQ(s->LockRect(&r, &part, 0), D3D_OK);
    EXPECT_EQ(r.Pitch, whole.Pitch);
    EXPECT_EQ(At(r), At(whole) + 2 * whole.Pitch + 1 * c.bytesPerPixel);
    s->UnlockRect();

    for (const RECT& bad : {RECT{0, 0, static_cast<LONG>(c.width) + 1, 1}, RECT{2, 0, 2, 1},
                            RECT{-1, 0, 1, 1}, RECT{0, 5, 1, 11}}) {
      EXPECT_EQ(s->LockRect(&r, &bad, 0), D3DERR_INVALIDCALL);
    }
  }
}

TEST_F(Resources, CompressedFormatsLockWholeBlocks) {
  struct Case {
    D3DFORMAT format;
    UINT blockBytes;
  } cases[] = {
      {D3DFMT_DXT1, 8}, {D3DFMT_DXT2, 16}, {D3DFMT_DXT3, 16}, {D3DFMT_DXT4, 16}, {D3DFMT_DXT5, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.blockBytes);
    Com<IDirect3DSurface8> s;
    ASSERT_EQ(device->CreateImageSurface(10, 10, c.format, s.out()), D3D_OK);  // 3 x 3 blocks
    D3DSURFACE_DESC desc{};
    s->GetDesc(&desc);
    EXPECT_EQ(desc.Size, 9 * c.blockBytes);
    D3DLOCKED_RECT whole{};
    ASSERT_EQ(s->LockRect(&whole, nullptr, 0), D3D_OK);
    EXPECT_EQ(static_cast<UINT>(whole.Pitch), 3 * c.blockBytes);
    s->UnlockRect();

    D3DLOCKED_RECT r{};
    const RECT block{4, 4, 8, 8};
    ASSERT_EQ(s->LockRect(&r, &block, 0), D3D_OK);
    EXPECT_EQ(At(r), At(whole) + whole.Pitch + c.blockBytes);
    s->UnlockRect();
    const RECT edge{8, 8, 10, 10};  // the partial blocks at the edge
    ASSERT_EQ(s->LockRect(&r, &edge, 0), D3D_OK);
    EXPECT_EQ(At(r), At(whole) + 2 * whole.Pitch + 2 * c.blockBytes);
    s->UnlockRect();
    for (const RECT& bad : {RECT{1, 0, 4, 4}, RECT{0, 2, 4, 4}, RECT{0, 0, 6, 4}}) {
      EXPECT_EQ(s->LockRect(&r, &bad, 0), D3DERR_INVALIDCALL);
    }
  }
  // A texture mip chain of a DXT format keeps whole blocks down to 1 x 1.
  Com<IDirect3DTexture8> t;
  ASSERT_EQ(device->CreateTexture(16, 8, 0, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, t.out()), D3D_OK);
  ASSERT_EQ(t->GetLevelCount(), 5u);
  D3DSURFACE_DESC last{};
  ASSERT_EQ(t->GetLevelDesc(4, &last), D3D_OK);
  EXPECT_EQ(last.Width, 1u);
  EXPECT_EQ(last.Size, 8u);
}

TEST_F(Resources, OnlyLockableSurfacesLock) {
  D3DLOCKED_RECT r{};
  Com<IDirect3DSurface8> back;
  ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
  EXPECT_EQ(back->LockRect(&r, nullptr, 0), D3DERR_INVALIDCALL);
  Com<IDirect3DSurface8> target;
  ASSERT_EQ(
      device->CreateRenderTarget(32, 32, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, FALSE, target.out()),
      D3D_OK);
  EXPECT_EQ(target->LockRect(&r, nullptr, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(
      device->CreateRenderTarget(32, 32, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, TRUE, target.out()),
      D3D_OK);
  EXPECT_EQ(target->LockRect(&r, nullptr, 0), D3D_OK);
  target->UnlockRect();
  Com<IDirect3DSurface8> depth;
  ASSERT_EQ(
      device->CreateDepthStencilSurface(32, 32, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, depth.out()),
      D3D_OK);
  EXPECT_EQ(depth->LockRect(&r, nullptr, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(device->CreateDepthStencilSurface(32, 32, D3DFMT_D16_LOCKABLE, D3DMULTISAMPLE_NONE,
                                              depth.out()),
            D3D_OK);
  EXPECT_EQ(depth->LockRect(&r, nullptr, 0), D3D_OK);
  depth->UnlockRect();
  EXPECT_EQ(
      device->CreateDepthStencilSurface(32, 32, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, depth.out()),
      D3DERR_INVALIDCALL);

  // Default-pool textures lock only when dynamic.
  Com<IDirect3DTexture8> t;
  ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.out()), D3D_OK);
  EXPECT_EQ(t->LockRect(0, &r, nullptr, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(
      device->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.out()),
      D3D_OK);
  EXPECT_EQ(t->LockRect(0, &r, nullptr, 0), D3D_OK);
  t->UnlockRect(0);
}

class LockableBackBuffer : public DeviceTest {
  D3DPRESENT_PARAMETERS Params() override {
    D3DPRESENT_PARAMETERS p = Windowed(window, 64, 32);
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    return p;
  }
};

TEST_F(LockableBackBuffer, LocksWhenAskedFor) {
  Com<IDirect3DSurface8> back;
  ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
  D3DLOCKED_RECT r{};
  ASSERT_EQ(back->LockRect(&r, nullptr, 0), D3D_OK);
  EXPECT_EQ(r.Pitch, 64 * 4);
  back->UnlockRect();
}

TEST_F(Resources, MipChains) {
  Com<IDirect3DTexture8> t;
  ASSERT_EQ(device->CreateTexture(256, 64, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, t.out()), D3D_OK);
  ASSERT_EQ(t->GetLevelCount(), 9u);
  UINT w = 256, h = 64;
  for (UINT level = 0; level < 9; ++level) {
    D3DSURFACE_DESC d{};
    ASSERT_EQ(t->GetLevelDesc(level, &d), D3D_OK);
    EXPECT_EQ(d.Width, w) << level;
    EXPECT_EQ(d.Height, h) << level;
    EXPECT_EQ(d.Format, D3DFMT_R5G6B5);
    EXPECT_EQ(d.Pool, D3DPOOL_MANAGED);
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  D3DSURFACE_DESC d{};
  EXPECT_EQ(t->GetLevelDesc(9, &d), D3DERR_INVALIDCALL);
  D3DLOCKED_RECT r{};
  EXPECT_EQ(t->LockRect(9, &r, nullptr, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(t->GetType(), D3DRTYPE_TEXTURE);

  // A level locked through the texture and through its surface is the same memory.
  ASSERT_EQ(t->LockRect(3, &r, nullptr, 0), D3D_OK);
  static_cast<WORD*>(r.pBits)[0] = 0x1234;
  EXPECT_EQ(t->LockRect(3, &r, nullptr, 0), D3DERR_INVALIDCALL);
  t->UnlockRect(3);
  Com<IDirect3DSurface8> level;
  ASSERT_EQ(t->GetSurfaceLevel(3, level.out()), D3D_OK);
  ASSERT_EQ(level->LockRect(&r, nullptr, 0), D3D_OK);
  EXPECT_EQ(static_cast<WORD*>(r.pBits)[0], 0x1234);
  level->UnlockRect();

  EXPECT_EQ(device->CreateTexture(256, 64, 10, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, t.out()),
            D3DERR_INVALIDCALL);  // more levels than the chain has
  ASSERT_EQ(device->CreateTexture(256, 64, 3, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, t.out()), D3D_OK);
  EXPECT_EQ(t->GetLevelCount(), 3u);
}

TEST_F(Resources, TextureRequestsOutsideTheRules) {
  IDirect3DTexture8* t = reinterpret_cast<IDirect3DTexture8*>(8);
  const struct {
    const char* what;
    UINT w, h, levels;
    DWORD usage;
    D3DFORMAT format;
    D3DPOOL pool;
  } rows[] = {
      {"render target outside the default pool", 64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
       D3DPOOL_MANAGED},
      {"compressed render target", 64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_DXT1, D3DPOOL_DEFAULT},
      {"depth texture", 64, 64, 1, D3DUSAGE_DEPTHSTENCIL, D3DFMT_D16, D3DPOOL_DEFAULT},
      {"depth format", 64, 64, 1, 0, D3DFMT_D24S8, D3DPOOL_MANAGED},
      {"palette format", 64, 64, 1, 0, D3DFMT_P8, D3DPOOL_MANAGED},
      {"dynamic and managed", 64, 64, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},
      {"zero width", 0, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},
      {"wider than the caps", 8192, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED},
      {"unknown pool", 64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL(7)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(device->CreateTexture(row.w, row.h, row.levels, row.usage, row.format, row.pool, &t),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(t, nullptr);
  }
  EXPECT_EQ(vrt::LiveObjectCount(), 2);
  IDirect3DCubeTexture8* cube = nullptr;
  EXPECT_EQ(device->CreateCubeTexture(64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(cube, nullptr);
}

TEST_F(Resources, PowerOfTwoCapsLimitTextureSizes) {
  for (DWORD caps : {DWORD{D3DPTEXTURECAPS_POW2},
                     DWORD{D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL}, DWORD{0}}) {
    SCOPED_TRACE(caps);
    vrt::AdapterConfig a = vrt::DefaultAdapter();
    a.textureCaps = caps;
    vrt::SetAdapters({a});
    Com<IDirect3DDevice8> d;
    ASSERT_EQ(Create(d3d.get(), Windowed(window), &d), D3D_OK);
    const bool pow2 = caps & D3DPTEXTURECAPS_POW2;
    const bool conditional = caps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
    Com<IDirect3DTexture8> t;
    EXPECT_EQ(d->CreateTexture(64, 32, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out()), D3D_OK);
    EXPECT_EQ(d->CreateTexture(100, 60, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out()),
              !pow2 || conditional ? D3D_OK : D3DERR_INVALIDCALL);
    EXPECT_EQ(d->CreateTexture(100, 60, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, t.out()),
              !pow2 ? D3D_OK : D3DERR_INVALIDCALL);
  }
}

TEST_F(Resources, BuffersLockRangesAndDescribeThemselves) {
  Com<IDirect3DVertexBuffer8> vb;
  const DWORD fvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
  ASSERT_EQ(device->CreateVertexBuffer(96000, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, fvf,
                                       D3DPOOL_DEFAULT, vb.out()),
            D3D_OK);
  D3DVERTEXBUFFER_DESC vd{};
  ASSERT_EQ(vb->GetDesc(&vd), D3D_OK);
  EXPECT_EQ(vd.Format, D3DFMT_VERTEXDATA);
  EXPECT_EQ(vd.Type, D3DRTYPE_VERTEXBUFFER);
  EXPECT_EQ(vd.Size, 96000u);
  EXPECT_EQ(vd.FVF, fvf);
  EXPECT_EQ(vd.Usage, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC);
  EXPECT_EQ(vd.Pool, D3DPOOL_DEFAULT);

  BYTE* whole = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &whole, D3DLOCK_DISCARD), D3D_OK);
  std::memset(whole, 0x5C, 96000);  // the whole length is there
  ASSERT_EQ(vb->Unlock(), D3D_OK);
  BYTE* part = nullptr;
  ASSERT_EQ(vb->Lock(240, 480, &part, D3DLOCK_NOOVERWRITE), D3D_OK);
  EXPECT_EQ(part, whole + 240);
  EXPECT_EQ(part[479], 0x5C);
  ASSERT_EQ(vb->Unlock(), D3D_OK);
  ASSERT_EQ(vb->Lock(95000, 0, &part, 0), D3D_OK);  // size 0: to the end
  EXPECT_EQ(part, whole + 95000);
  vb->Unlock();
  EXPECT_EQ(vb->Lock(95000, 1001, &part, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(vb->Lock(96000, 0, &part, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);

  Com<IDirect3DIndexBuffer8> ib;
  ASSERT_EQ(device->CreateIndexBuffer(12000, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                                      ib.out()),
            D3D_OK);
  D3DINDEXBUFFER_DESC id{};
  ASSERT_EQ(ib->GetDesc(&id), D3D_OK);
  EXPECT_EQ(id.Format, D3DFMT_INDEX16);
  EXPECT_EQ(id.Type, D3DRTYPE_INDEXBUFFER);
  EXPECT_EQ(id.Size, 12000u);
  EXPECT_EQ(id.Pool, D3DPOOL_MANAGED);

  IDirect3DVertexBuffer8* none = nullptr;
  EXPECT_EQ(device->CreateVertexBuffer(20, 0, fvf, D3DPOOL_MANAGED, &none),
            D3DERR_INVALIDCALL);  // less than one 24-byte vertex
  EXPECT_EQ(device->CreateVertexBuffer(24, 0, fvf, D3DPOOL_MANAGED, vb.out()), D3D_OK);
  EXPECT_EQ(device->CreateVertexBuffer(0, 0, 0, D3DPOOL_MANAGED, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_DYNAMIC, 0, D3DPOOL_MANAGED, &none),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_RENDERTARGET, 0, D3DPOOL_MANAGED, &none),
            D3DERR_INVALIDCALL);
  IDirect3DIndexBuffer8* noIndices = nullptr;
  EXPECT_EQ(device->CreateIndexBuffer(64, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &noIndices),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device->CreateIndexBuffer(2, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED, &noIndices),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(noIndices, nullptr);
}

// Memory a released resource gave back is handed to later resources of the
// same size: each must still start all zero, and churning through more sizes
// and blocks than are kept must neither fail nor mix blocks up.
TEST_F(Resources, ReleasedMemoryReturnsCleared) {
  struct Size {
    UINT width, height;
  } sizes[] = {{128, 128}, {256, 128}, {256, 256}, {512, 256}, {512, 512},
               {1024, 512}, {1024, 1024}, {128, 256}, {64, 512}, {128, 128}};
  for (int round = 0; round < 3; ++round) {
    std::vector<IDirect3DTexture8*> live;
    for (const Size& size : sizes) {
      SCOPED_TRACE(testing::Message() << round << ": " << size.width << "x" << size.height);
      Com<IDirect3DTexture8> t;
      ASSERT_EQ(device->CreateTexture(size.width, size.height, 1, 0, D3DFMT_A8R8G8B8,
                                      D3DPOOL_MANAGED, t.out()),
                D3D_OK);
      D3DLOCKED_RECT r{};
      ASSERT_EQ(t->LockRect(0, &r, nullptr, 0), D3D_OK);
      const size_t bytes = static_cast<size_t>(r.Pitch) * size.height;
      const BYTE* p = At(r);
      EXPECT_EQ(std::count(p, p + bytes, 0), static_cast<std::ptrdiff_t>(bytes));
      std::memset(At(r), 0xA5, bytes);
      t->UnlockRect(0);
      if (round == 1) {  // held: released together below
        t->AddRef();
        live.push_back(t.get());
      }
    }
    for (IDirect3DTexture8* t : live) t->Release();
  }
  Com<IDirect3DVertexBuffer8> vb;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(device->CreateVertexBuffer(1 << 18, 0, 0, D3DPOOL_MANAGED, vb.out()), D3D_OK);
    BYTE* data = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
    EXPECT_EQ(std::count(data, data + (1 << 18), 0), 1 << 18);
    std::memset(data, 0x5A, 1 << 18);
    vb->Unlock();
  }
}

// Fills a locked surface with bytes that encode their position.
void Pattern(IDirect3DSurface8* s, UINT rows) {
  D3DLOCKED_RECT r{};
  ASSERT_EQ(s->LockRect(&r, nullptr, 0), D3D_OK);
  for (UINT y = 0; y < rows; ++y)
    for (INT x = 0; x < r.Pitch; ++x) At(r)[y * r.Pitch + x] = static_cast<BYTE>(y * 31 + x);
  s->UnlockRect();
}

TEST_F(Resources, CopyRectsCopiesBytesBetweenSurfacesOfOneFormat) {
  Com<IDirect3DSurface8> from, to, other;
  ASSERT_EQ(device->CreateImageSurface(16, 8, D3DFMT_A8R8G8B8, from.out()), D3D_OK);
  ASSERT_EQ(device->CreateImageSurface(16, 8, D3DFMT_A8R8G8B8, to.out()), D3D_OK);
  ASSERT_EQ(device->CreateImageSurface(16, 8, D3DFMT_X8R8G8B8, other.out()), D3D_OK);
  Pattern(from.get(), 8);

  const RECT rect{2, 1, 6, 4};  // 4 x 3 pixels
  const POINT point{9, 5};
  ASSERT_EQ(device->CopyRects(from.get(), &rect, 1, to.get(), &point), D3D_OK);
  D3DLOCKED_RECT src{}, dst{};
  from->LockRect(&src, nullptr, D3DLOCK_READONLY);
  to->LockRect(&dst, nullptr, D3DLOCK_READONLY);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      const bool inside = x >= 9 && x < 13 && y >= 5 && y < 8;
      DWORD expected = 0;
      if (inside) std::memcpy(&expected, At(src) + (y - 4) * src.Pitch + (x - 7) * 4, 4);
      DWORD got = 0;
      std::memcpy(&got, At(dst) + y * dst.Pitch + x * 4, 4);
      EXPECT_EQ(got, expected) << x << "," << y;
    }
  }
  from->UnlockRect();
  to->UnlockRect();

  // No rectangles: the whole surface, to the same place.
  ASSERT_EQ(device->CopyRects(from.get(), nullptr, 0, to.get(), nullptr), D3D_OK);
  from->LockRect(&src, nullptr, D3DLOCK_READONLY);
  to->LockRect(&dst, nullptr, D3DLOCK_READONLY);
  EXPECT_EQ(std::memcmp(At(src), At(dst), static_cast<size_t>(src.Pitch) * 8), 0);
  from->UnlockRect();
  to->UnlockRect();

  EXPECT_EQ(device->CopyRects(from.get(), &rect, 1, other.get(), &point), D3DERR_INVALIDCALL);
  const POINT tooFar{13, 0};
  EXPECT_EQ(device->CopyRects(from.get(), &rect, 1, to.get(), &tooFar), D3DERR_INVALIDCALL);
  const RECT outside{10, 0, 17, 2};
  EXPECT_EQ(device->CopyRects(from.get(), &outside, 1, to.get(), nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->CopyRects(from.get(), &rect, 1, from.get(), &point), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->CopyRects(nullptr, &rect, 1, to.get(), &point), D3DERR_INVALIDCALL);
}

TEST_F(Resources, CopyRectsMovesCompressedDataInBlocks) {
  Com<IDirect3DSurface8> from, to;
  ASSERT_EQ(device->CreateImageSurface(16, 16, D3DFMT_DXT5, from.out()), D3D_OK);
  ASSERT_EQ(device->CreateImageSurface(16, 16, D3DFMT_DXT5, to.out()), D3D_OK);
  Pattern(from.get(), 4);
  const RECT block{4, 0, 8, 4};
  const POINT dest{12, 8};
  ASSERT_EQ(device->CopyRects(from.get(), &block, 1, to.get(), &dest), D3D_OK);
  D3DLOCKED_RECT src{}, dst{};
  from->LockRect(&src, nullptr, D3DLOCK_READONLY);
  to->LockRect(&dst, nullptr, D3DLOCK_READONLY);
  EXPECT_EQ(std::memcmp(At(dst) + 2 * dst.Pitch + 3 * 16, At(src) + 16, 16), 0);
  from->UnlockRect();
  to->UnlockRect();
  const RECT half{2, 0, 6, 4};
  EXPECT_EQ(device->CopyRects(from.get(), &half, 1, to.get(), &dest), D3DERR_INVALIDCALL);
  const POINT off{1, 0};
  EXPECT_EQ(device->CopyRects(from.get(), &block, 1, to.get(), &off), D3DERR_INVALIDCALL);
}

TEST_F(Resources, UpdateTextureCopiesEveryLevelIntoVideoMemory) {
  Com<IDirect3DTexture8> staging, target;
  ASSERT_EQ(device->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, staging.out()),
            D3D_OK);
  ASSERT_EQ(device->CreateTexture(8, 8, 0, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                  target.out()),
            D3D_OK);
  for (UINT level = 0; level < 4; ++level) {
    D3DLOCKED_RECT r{};
    ASSERT_EQ(staging->LockRect(level, &r, nullptr, 0), D3D_OK);
    static_cast<DWORD*>(r.pBits)[0] = 0xA0 + level;
    staging->UnlockRect(level);
  }
  ASSERT_EQ(device->UpdateTexture(staging.get(), target.get()), D3D_OK);
  for (UINT level = 0; level < 4; ++level) {
    D3DLOCKED_RECT r{};
    ASSERT_EQ(target->LockRect(level, &r, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<DWORD*>(r.pBits)[0], 0xA0 + level);
    target->UnlockRect(level);
  }
  // Only system memory into the default pool.
  EXPECT_EQ(device->UpdateTexture(target.get(), staging.get()), D3DERR_INVALIDCALL);
}

}  // namespace
