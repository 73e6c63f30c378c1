// Reference counts and lifetimes: resources keep their device, the device
// keeps what is bound, and everything goes when the last reference does.
#include "runtime_test.h"

namespace {

using Lifetime = DeviceTest;

TEST_F(Lifetime, ResourcesKeepTheirDeviceAlive) {
  EXPECT_EQ(vrt::LiveObjectCount(), 2);  // IDirect3D8 and the device
  IDirect3DVertexBuffer8* vb = nullptr;
  ASSERT_EQ(device->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &vb), D3D_OK);
  IDirect3DSurface8* image = nullptr;
  ASSERT_EQ(device->CreateImageSurface(8, 8, D3DFMT_A8R8G8B8, &image), D3D_OK);
  EXPECT_EQ(vrt::LiveObjectCount(), 4);
  EXPECT_EQ(RefCount(device.get()), 3u);  // ours and one per resource

  IDirect3DDevice8* raw = device.get();
  EXPECT_EQ(device.reset(), 2u);  // the resources still hold it
  EXPECT_EQ(vrt::LiveObjectCount(), 4);
  Com<IDirect3DDevice8> owner;
  ASSERT_EQ(vb->GetDevice(owner.out()), D3D_OK);
  EXPECT_EQ(owner.get(), raw);
  owner.reset();
  EXPECT_EQ(image->Release(), 0u);
  EXPECT_EQ(vrt::LiveObjectCount(), 3);
  EXPECT_EQ(vb->Release(), 0u);  // takes the device with it
  EXPECT_EQ(vrt::LiveObjectCount(), 1);
  // The device held the IDirect3D8 too; only ours is left.
  EXPECT_EQ(RefCount(d3d.get()), 1u);
}

TEST_F(Lifetime, TheDeviceHoldsWhatIsBound) {
  Com<IDirect3DTexture8> texture;
  ASSERT_EQ(device->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out()),
            D3D_OK);
  Com<IDirect3DVertexBuffer8> vb;
  ASSERT_EQ(device->CreateVertexBuffer(64, 0, D3DFVF_XYZ, D3DPOOL_SYSTEMMEM, vb.out()), D3D_OK);
  Com<IDirect3DIndexBuffer8> ib;
  ASSERT_EQ(device->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, ib.out()), D3D_OK);
  ASSERT_EQ(device->SetTexture(3, texture.get()), D3D_OK);
  ASSERT_EQ(device->SetStreamSource(2, vb.get(), 12), D3D_OK);
  ASSERT_EQ(device->SetIndices(ib.get(), 5), D3D_OK);
  EXPECT_EQ(RefCount(texture.get()), 2u);
  EXPECT_EQ(RefCount(vb.get()), 2u);

  // Get* hand out references of their own.
  Com<IDirect3DBaseTexture8> bound;
  ASSERT_EQ(device->GetTexture(3, bound.out()), D3D_OK);
  EXPECT_EQ(bound.get(), static_cast<IDirect3DBaseTexture8*>(texture.get()));
  EXPECT_EQ(RefCount(texture.get()), 3u);
  bound.reset();
  Com<IDirect3DVertexBuffer8> stream;
  UINT stride = 0;
  ASSERT_EQ(device->GetStreamSource(2, stream.out(), &stride), D3D_OK);
  EXPECT_EQ(stream.get(), vb.get());
  EXPECT_EQ(stride, 12u);
  stream.reset();
  Com<IDirect3DIndexBuffer8> indices;
  UINT base = 0;
  ASSERT_EQ(device->GetIndices(indices.out(), &base), D3D_OK);
  EXPECT_EQ(indices.get(), ib.get());
  EXPECT_EQ(base, 5u);
  indices.reset();

  // Released by us, kept by the bindings.
  EXPECT_EQ(texture.reset(), 1u);
  EXPECT_EQ(vb.reset(), 1u);
  EXPECT_EQ(ib.reset(), 1u);
  EXPECT_EQ(vrt::LiveObjectCount(), 5);
  // Rebinding drops the old one.
  ASSERT_EQ(device->SetStreamSource(2, nullptr, 0), D3D_OK);
  EXPECT_EQ(vrt::LiveObjectCount(), 4);
  // The rest goes with the device's last reference.
  EXPECT_EQ(device.reset(), 0u);
  EXPECT_EQ(vrt::LiveObjectCount(), 1);
}

TEST_F(Lifetime, BoundTextureTakenBackByTheApplication) {
  IDirect3DTexture8* texture = nullptr;
  ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
  ASSERT_EQ(device->SetTexture(0, texture), D3D_OK);
  EXPECT_EQ(texture->Release(), 1u);
  Com<IDirect3DBaseTexture8> again;
  ASSERT_EQ(device->GetTexture(0, again.out()), D3D_OK);  // the application holds it once more
  ASSERT_EQ(device->SetTexture(0, nullptr), D3D_OK);
  EXPECT_EQ(vrt::LiveObjectCount(), 3);
  IDirect3DDevice8* raw = device.get();
  EXPECT_EQ(device.reset(), 1u);  // held by the texture again
  Com<IDirect3DDevice8> owner;
  ASSERT_EQ(again->GetDevice(owner.out()), D3D_OK);
  EXPECT_EQ(owner.get(), raw);
  owner.reset();
  EXPECT_EQ(again.reset(), 0u);
  EXPECT_EQ(vrt::LiveObjectCount(), 1);
}

TEST_F(Lifetime, TextureLevelsShareTheTexturesCount) {
  Com<IDirect3DTexture8> texture;
  ASSERT_EQ(device->CreateTexture(16, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out()),
            D3D_OK);
  EXPECT_EQ(vrt::LiveObjectCount(), 3);  // levels are part of the texture
  Com<IDirect3DSurface8> level;
  ASSERT_EQ(texture->GetSurfaceLevel(2, level.out()), D3D_OK);
  EXPECT_EQ(RefCount(texture.get()), 2u);
  Com<IDirect3DTexture8> container;
  ASSERT_EQ(level->GetContainer(IID_IDirect3DTexture8, reinterpret_cast<void**>(container.out())),
            D3D_OK);
  EXPECT_EQ(container.get(), texture.get());
  container.reset();
  EXPECT_EQ(texture.reset(), 1u);  // the level keeps its texture
  D3DSURFACE_DESC desc{};
  ASSERT_EQ(level->GetDesc(&desc), D3D_OK);
  EXPECT_EQ(desc.Width, 4u);
  EXPECT_EQ(level.reset(), 0u);
  EXPECT_EQ(vrt::LiveObjectCount(), 2);
}

TEST_F(Lifetime, ImplicitSurfacesCountWhileHeld) {
  EXPECT_EQ(vrt::LiveObjectCount(), 2);
  Com<IDirect3DSurface8> back;
  ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, back.out()), D3D_OK);
  EXPECT_EQ(vrt::LiveObjectCount(), 3);
  EXPECT_EQ(RefCount(device.get()), 2u);
  Com<IDirect3DDevice8> container;
  ASSERT_EQ(back->GetContainer(IID_IDirect3DDevice8, reinterpret_cast<void**>(container.out())),
            D3D_OK);
  EXPECT_EQ(container.get(), device.get());
  container.reset();
  // A held back buffer keeps the device.
  EXPECT_EQ(device.reset(), 1u);
  EXPECT_EQ(vrt::LiveObjectCount(), 3);
  EXPECT_EQ(back.reset(), 0u);
  EXPECT_EQ(vrt::LiveObjectCount(), 1);
}

TEST_F(Lifetime, QueryInterfaceAnswersTheInterfacesAnObjectHas) {
  Com<IDirect3DTexture8> texture;
  ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.out()),
            D3D_OK);
  for (const GUID* id :
       {&IID_IDirect3DResource8, &IID_IDirect3DBaseTexture8, &IID_IDirect3DTexture8}) {
    void* out = nullptr;
    ASSERT_EQ(texture->QueryInterface(*id, &out), S_OK);
    EXPECT_EQ(out, texture.get());
    texture->Release();
  }
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(texture->QueryInterface(IID_IDirect3DSurface8, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(device->QueryInterface(IID_IDirect3DTexture8, &out), E_NOINTERFACE);
  ASSERT_EQ(device->QueryInterface(IID_IDirect3DDevice8, &out), S_OK);
  EXPECT_EQ(out, device.get());
  device->Release();
  EXPECT_EQ(RefCount(texture.get()), 1u);
}

TEST_F(Lifetime, PrivateDataCopiesBytesOrHoldsAnInterface) {
  static constexpr GUID kTag = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  Com<IDirect3DVertexBuffer8> vb;
  ASSERT_EQ(device->CreateVertexBuffer(16, 0, 0, D3DPOOL_SYSTEMMEM, vb.out()), D3D_OK);
  const char text[] = "vek";
  ASSERT_EQ(vb->SetPrivateData(kTag, text, sizeof(text), 0), D3D_OK);
  DWORD size = 0;
  ASSERT_EQ(vb->GetPrivateData(kTag, nullptr, &size), D3D_OK);
  EXPECT_EQ(size, sizeof(text));
  char small[2];
  size = sizeof(small);
  EXPECT_EQ(vb->GetPrivateData(kTag, small, &size), D3DERR_MOREDATA);
  EXPECT_EQ(size, sizeof(text));
  char back[8] = {};
  size = sizeof(back);
  ASSERT_EQ(vb->GetPrivateData(kTag, back, &size), D3D_OK);
  EXPECT_STREQ(back, "vek");

  // An interface is held until freed or replaced.
  Com<IDirect3DSurface8> image;
  ASSERT_EQ(device->CreateImageSurface(4, 4, D3DFMT_A8R8G8B8, image.out()), D3D_OK);
  IUnknown* held = image.get();
  ASSERT_EQ(vb->SetPrivateData(kTag, &held, sizeof(held), D3DSPD_IUNKNOWN), D3D_OK);
  EXPECT_EQ(RefCount(image.get()), 2u);
  ASSERT_EQ(vb->FreePrivateData(kTag), D3D_OK);
  EXPECT_EQ(RefCount(image.get()), 1u);
  EXPECT_EQ(vb->FreePrivateData(kTag), D3DERR_NOTFOUND);
  EXPECT_EQ(vb->GetPrivateData(kTag, back, &size), D3DERR_NOTFOUND);
  // Still attached when the resource goes: released with it.
  ASSERT_EQ(vb->SetPrivateData(kTag, &held, sizeof(held), D3DSPD_IUNKNOWN), D3D_OK);
  vb.reset();
  EXPECT_EQ(RefCount(image.get()), 1u);
}

}  // namespace
