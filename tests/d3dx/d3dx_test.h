// Shared pieces of the D3DX suites: a device fixture that runs on both
// builds, a COM pointer holder, DDS files built in memory, level access.
#pragma once

#include <vek/vek.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "d3dx/d3dx8.h"
#include "gd/device.h"
#include "support/platform_test.h"

template <class T>
struct Com {
  T* p = nullptr;
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() { reset(); }
  void reset() {
    if (p) p->Release();
    p = nullptr;
  }
  T** out() {
    reset();
    return &p;
  }
  T* operator->() const { return p; }
};

// A device on the test window; its IDirect3DDevice8 as `d3d`.
class D3dxTest : public PlatformTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  D3DCAPS8 Caps() const;
  // D3DXCreateTextureFromFileInMemoryEx as the library calls it, with the
  // size, format and pool open to change.
  HRESULT Load(const std::vector<BYTE>& file, IDirect3DTexture8** out,
               D3DXIMAGE_INFO* info = nullptr, UINT width = D3DX_DEFAULT,
               UINT height = D3DX_DEFAULT, D3DFORMAT format = D3DFMT_UNKNOWN,
               D3DPOOL pool = D3DPOOL_MANAGED);

  HVEKDEVICE device = nullptr;
  IDirect3DDevice8* d3d = nullptr;
};

// A DDS file: for A8R8G8B8 the header the library writes for decoded
// pictures, for DXT formats the FourCC header with its linear size.
// `payload` follows the header.
std::vector<BYTE> MakeDds(D3DFORMAT format, UINT width, UINT height,
                          const std::vector<BYTE>& payload);
std::vector<BYTE> Pattern(size_t n, BYTE seed);
void PutU32(std::vector<BYTE>& bytes, size_t offset, uint32_t value);
uint32_t GetU32(const std::vector<BYTE>& bytes, size_t offset);

// Level 0 of a lockable texture, rows (of blocks) packed; and the reverse.
std::vector<BYTE> ReadLevel0(IDirect3DTexture8* texture);
void WriteLevel0(IDirect3DTexture8* texture, const std::vector<BYTE>& bytes);
// Width << 16 | height of each level.
std::vector<UINT> LevelSizes(IDirect3DTexture8* texture);
