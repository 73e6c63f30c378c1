// The control API: failure injection by method name, the call log and the
// live-object count.
#include <string>

#include "runtime_test.h"

namespace {

using Control = DeviceTest;

TEST_F(Control, FailuresComeAfterSkipForTimesCalls) {
  vrt::FailCall("IDirect3DDevice8::SetRenderState", D3DERR_NOTAVAILABLE, 2, 2);
  HRESULT results[6];
  for (int i = 0; i < 6; ++i)
    results[i] = device->SetRenderState(D3DRS_ALPHAREF, static_cast<DWORD>(i + 1));
  EXPECT_EQ(results[0], D3D_OK);
  EXPECT_EQ(results[1], D3D_OK);
  EXPECT_EQ(results[2], D3DERR_NOTAVAILABLE);
  EXPECT_EQ(results[3], D3DERR_NOTAVAILABLE);
  EXPECT_EQ(results[4], D3D_OK);
  EXPECT_EQ(results[5], D3D_OK);
  // Other methods of the same device were never affected.
  DWORD value = 0;
  ASSERT_EQ(device->GetRenderState(D3DRS_ALPHAREF, &value), D3D_OK);
  EXPECT_EQ(value, 6u);
}

TEST_F(Control, AFailedCallDoesNothingElse) {
  vrt::FailCall("IDirect3DDevice8::SetRenderState", E_FAIL);
  EXPECT_EQ(device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE), E_FAIL);
  DWORD cull = 0;
  device->GetRenderState(D3DRS_CULLMODE, &cull);
  EXPECT_EQ(cull, static_cast<DWORD>(D3DCULL_CCW));

  vrt::FailCall("IDirect3DDevice8::CreateVertexBuffer", D3DERR_OUTOFVIDEOMEMORY);
  IDirect3DVertexBuffer8* vb = reinterpret_cast<IDirect3DVertexBuffer8*>(0x42);
  EXPECT_EQ(device->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &vb), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(vb, reinterpret_cast<IDirect3DVertexBuffer8*>(0x42));  // not even the out-pointer
  EXPECT_EQ(vrt::LiveObjectCount(), 2);

  Com<IDirect3DIndexBuffer8> ib;
  ASSERT_EQ(device->CreateIndexBuffer(16, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, ib.out()), D3D_OK);
  vrt::FailCall("IDirect3DIndexBuffer8::Lock", D3DERR_INVALIDCALL);
  BYTE* data = nullptr;
  EXPECT_EQ(ib->Lock(0, 0, &data, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(ib->Unlock(), D3DERR_INVALIDCALL);  // nothing was locked
  EXPECT_EQ(ib->Lock(0, 0, &data, 0), D3D_OK);  // one time only
  ib->Unlock();
}

TEST_F(Control, EveryCallOrNoneAndClearing) {
  vrt::FailCall("IDirect3D8::GetDeviceCaps", D3DERR_INVALIDCALL, 0, -1);
  D3DCAPS8 caps{};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->GetDeviceCaps(&caps), D3D_OK);                       // a different method
  vrt::FailCall("IDirect3D8::GetDeviceCaps", D3DERR_INVALIDCALL, 0, 0);  // disarms
  EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);

  vrt::FailCall("IDirect3D8::GetAdapterCount", E_FAIL, 0, -1);
  EXPECT_EQ(d3d->GetAdapterCount(), 1u);  // a count cannot carry a failure
  vrt::FailCall("IDirect3DDevice8::TestCooperativeLevel", D3DERR_DEVICELOST, 0, -1);
  vrt::FailCall("IDirect3DDevice8::Present", D3DERR_DEVICELOST, 0, -1);
  vrt::ClearFailures();
  EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST_F(Control, Direct3DCreate8FailsWithNull) {
  vrt::FailCall("Direct3DCreate8", E_FAIL, 1, 1);
  IDirect3D8* first = Direct3DCreate8(D3D_SDK_VERSION);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(Direct3DCreate8(D3D_SDK_VERSION), nullptr);
  IDirect3D8* third = Direct3DCreate8(D3D_SDK_VERSION);
  EXPECT_NE(third, nullptr);
  if (first) first->Release();
  if (third) third->Release();
}

TEST_F(Control, TheLogRecordsNamesAndArguments) {
  vrt::EnableCallLog(true);
  vrt::ClearCallLog();
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  D3DVIEWPORT8 vp{1, 2, 300, 200, 0.25f, 0.75f};
  device->SetViewport(&vp);
  D3DMATRIX m{};
  device->SetTransform(D3DTS_PROJECTION, &m);
  device->SetTexture(2, nullptr);
  const auto& log = vrt::CallLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].method, "IDirect3DDevice8::SetRenderState");
  EXPECT_EQ(log[0].args, (std::vector<uint64_t>{D3DRS_LIGHTING, FALSE}));
  EXPECT_EQ(log[1].method, "IDirect3DDevice8::SetViewport");
  EXPECT_EQ(log[1].args, (std::vector<uint64_t>{1, 2, 300, 200, Bits(0.25f), Bits(0.75f)}));
  EXPECT_EQ(log[2].method, "IDirect3DDevice8::SetTransform");
  ASSERT_FALSE(log[2].args.empty());
  EXPECT_EQ(log[2].args[0], static_cast<uint64_t>(D3DTS_PROJECTION));
  EXPECT_EQ(log[3].args, (std::vector<uint64_t>{2, 0}));
}

TEST_F(Control, TheLogKeepsFailuresPointersAndResultlessCalls) {
  Com<IDirect3DVertexBuffer8> vb;
  ASSERT_EQ(device->CreateVertexBuffer(48, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, vb.out()), D3D_OK);
  device->SetRenderState(D3DRS_ZENABLE, TRUE);  // before the log is on
  vrt::EnableCallLog(true);
  vrt::FailCall("IDirect3DDevice8::SetStreamSource", D3DERR_INVALIDCALL);
  EXPECT_EQ(device->SetStreamSource(1, vb.get(), 12), D3DERR_INVALIDCALL);
  EXPECT_EQ(device->SetStreamSource(1, vb.get(), 12), D3D_OK);
  vb->AddRef();
  vb->Release();
  device->SetCursorPosition(5, 6, 0);
  d3d->GetAdapterCount();
  IDirect3D8* extra = Direct3DCreate8(D3D_SDK_VERSION);
  ASSERT_NE(extra, nullptr);
  extra->Release();
  device->SetStreamSource(1, nullptr, 0);

  const auto& log = vrt::CallLog();
  ASSERT_EQ(log.size(), 6u);
  const uint64_t address = reinterpret_cast<uintptr_t>(vb.get());
  EXPECT_EQ(log[0].args, (std::vector<uint64_t>{1, address, 12}));  // the failed call too
  EXPECT_EQ(log[1].args, log[0].args);
  EXPECT_EQ(log[2].method, "IDirect3DDevice8::SetCursorPosition");
  EXPECT_EQ(log[2].args, (std::vector<uint64_t>{5, 6, 0}));
  EXPECT_EQ(log[3].method, "IDirect3D8::GetAdapterCount");
  EXPECT_TRUE(log[3].args.empty());
  EXPECT_EQ(log[4].method, "Direct3DCreate8");
  EXPECT_EQ(log[4].args, (std::vector<uint64_t>{D3D_SDK_VERSION}));
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::SetStreamSource"), 3u);
  EXPECT_EQ(vrt::CountCalls("IDirect3DDevice8::SetRenderState"), 0u);

  vrt::EnableCallLog(false);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  EXPECT_EQ(vrt::CallLog().size(), 6u);
  vrt::ClearCallLog();
  EXPECT_TRUE(vrt::CallLog().empty());
}

TEST_F(Control, ResetRuntimeStopsTheLogAndDisarmsFailures) {
  vrt::EnableCallLog(true);
  vrt::FailCall("IDirect3DDevice8::BeginScene", E_FAIL, 0, -1);
  device->EndScene();
  vrt::ResetRuntime();
  EXPECT_TRUE(vrt::CallLog().empty());
  EXPECT_EQ(device->BeginScene(), D3D_OK);
  EXPECT_EQ(device->EndScene(), D3D_OK);
  EXPECT_TRUE(vrt::CallLog().empty());
}

}  // namespace
