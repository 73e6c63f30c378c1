#include "d3dx_test.h"

#include "d3dx/formats.h"

void D3dxTest::SetUp() {
  PlatformTest::SetUp();
  if (HasFatalFailure()) return;
  device = VekOpenGraphicsDevice(0, window, 0, 1, 0, 0, 32, 0);
  ASSERT_NE(device, nullptr) << ReadError().message;
  d3d = device->cache.device;
}

void D3dxTest::TearDown() {
  if (device) VekCloseGraphicsDevice(device);
  PlatformTest::TearDown();
}

D3DCAPS8 D3dxTest::Caps() const {
  D3DCAPS8 caps{};
  d3d->GetDeviceCaps(&caps);
  return caps;
}

HRESULT D3dxTest::Load(const std::vector<BYTE>& file, IDirect3DTexture8** out, D3DXIMAGE_INFO* info,
                       UINT width, UINT height, D3DFORMAT format, D3DPOOL pool) {
  return D3DXCreateTextureFromFileInMemoryEx(d3d, file.data(), static_cast<UINT>(file.size()),
                                             width, height, 1, 0, format, pool, D3DX_FILTER_NONE,
                                             D3DX_DEFAULT, 0, info, nullptr, out);
}

void PutU32(std::vector<BYTE>& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<BYTE>(value >> (8 * i));
}
uint32_t GetU32(const std::vector<BYTE>& bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | bytes.at(offset + i);
  return v;
}

std::vector<BYTE> Pattern(size_t n, BYTE seed) {
  std::vector<BYTE> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<BYTE>(seed + i * 7);
  return bytes;
}

std::vector<BYTE> MakeDds(D3DFORMAT format, UINT width, UINT height,
                          const std::vector<BYTE>& payload) {
  std::vector<BYTE> f(128, 0);
  std::memcpy(f.data(), "DDS ", 4);
  const uint32_t words[][2] = {{4, 124},    {8, 0x00081007}, {12, height},
                               {16, width}, {76, 32},        {108, 0x1000}};
  for (const auto& w : words) PutU32(f, w[0], w[1]);
  if (format == D3DFMT_A8R8G8B8) {
    const uint32_t rgb[][2] = {{20, width * height * 4}, {80, 0x41},       {88, 32},
                               {92, 0x00FF0000},         {96, 0x0000FF00}, {100, 0xFF},
                               {104, 0xFF000000}};
    for (const auto& w : rgb) PutU32(f, w[0], w[1]);
  } else {
    PutU32(f, 20, ((width + 3) / 4) * ((height + 3) / 4) * (format == D3DFMT_DXT1 ? 8 : 16));
    PutU32(f, 80, 0x4);
    PutU32(f, 84, static_cast<uint32_t>(format));
  }
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

namespace {
void LevelShape(IDirect3DTexture8* texture, UINT* rowBytes, UINT* rows) {
  D3DSURFACE_DESC desc{};
  texture->GetLevelDesc(0, &desc);
  const d3dx::Layout layout = d3dx::LayoutOf(desc.Format);
  *rowBytes = d3dx::BlockCount(desc.Width, layout.blockSize) * layout.blockBytes;
  *rows = d3dx::BlockCount(desc.Height, layout.blockSize);
}
}  // namespace

std::vector<BYTE> ReadLevel0(IDirect3DTexture8* texture) {
  UINT rowBytes = 0, rows = 0;
  LevelShape(texture, &rowBytes, &rows);
  std::vector<BYTE> out;
  D3DLOCKED_RECT locked{};
  if (rowBytes == 0 || FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return out;
  out.resize(static_cast<size_t>(rowBytes) * rows);
  for (UINT r = 0; r < rows; ++r)
    std::memcpy(out.data() + r * rowBytes,
                static_cast<const BYTE*>(locked.pBits) + r * locked.Pitch, rowBytes);
  texture->UnlockRect(0);
  return out;
}

void WriteLevel0(IDirect3DTexture8* texture, const std::vector<BYTE>& bytes) {
  UINT rowBytes = 0, rows = 0;
  LevelShape(texture, &rowBytes, &rows);
  ASSERT_EQ(bytes.size(), static_cast<size_t>(rowBytes) * rows);
  D3DLOCKED_RECT locked{};
  ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
  for (UINT r = 0; r < rows; ++r)
    std::memcpy(static_cast<BYTE*>(locked.pBits) + r * locked.Pitch, bytes.data() + r * rowBytes,
                rowBytes);
  texture->UnlockRect(0);
}

std::vector<UINT> LevelSizes(IDirect3DTexture8* texture) {
  std::vector<UINT> sizes;
  for (DWORD i = 0; i < texture->GetLevelCount(); ++i) {
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(i, &desc);
    sizes.push_back(desc.Width << 16 | desc.Height);
  }
  return sizes;
}
