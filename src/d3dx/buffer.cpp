// ID3DXBuffer: a reference-counted block of bytes.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "d3dx/d3dx8.h"

namespace {

class Buffer final : public ID3DXBuffer {
 public:
  Buffer(void* bytes, DWORD size) : bytes_(bytes), size_(size) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_INVALIDARG;
    static constexpr GUID kUnknown = {
        0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    if (std::memcmp(&riid, &IID_ID3DXBuffer, sizeof(GUID)) == 0 ||
        std::memcmp(&riid, &kUnknown, sizeof(GUID)) == 0) {
      AddRef();
      *object = static_cast<ID3DXBuffer*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  LPVOID STDMETHODCALLTYPE GetBufferPointer() override { return bytes_; }
  DWORD STDMETHODCALLTYPE GetBufferSize() override { return size_; }

 private:
  virtual ~Buffer() { std::free(bytes_); }
  void* bytes_;
  DWORD size_;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

HRESULT WINAPI D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer) {
  if (!ppBuffer) return D3DERR_INVALIDCALL;
  *ppBuffer = nullptr;
  // One byte at least, so the pointer is never null.
  void* bytes = std::calloc(NumBytes ? NumBytes : 1, 1);
  if (!bytes) return E_OUTOFMEMORY;
  Buffer* buffer = new (std::nothrow) Buffer(bytes, NumBytes);
  if (!buffer) {
    std::free(bytes);
    return E_OUTOFMEMORY;
  }
  *ppBuffer = buffer;
  return S_OK;
}
