// FreeImage, loaded at run time, decodes every picture that is not kept as
// DXT blocks into an uncompressed 32-bit DDS file image.
#include "vekimage/freeimage.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <filesystem>
#include <string>
#include <system_error>
#endif

#include "d3dx/formats.h"
#include "gd/device.h"
#include "host/host.h"
#include "vekimage/image.h"
#include "vekimage/image_diagnostics.h"

namespace {

// FreeImage's opaque handles; only their addresses pass through here.
struct FiBitmap;
struct FiMemory;

typedef void(WINAPI* UnloadFn)(FiBitmap*);
typedef FiMemory*(WINAPI* OpenMemoryFn)(BYTE*, DWORD);
typedef void(WINAPI* CloseMemoryFn)(FiMemory*);
typedef FiBitmap*(WINAPI* LoadFromMemoryFn)(int, FiMemory*, int);
typedef unsigned(WINAPI* GetBppFn)(FiBitmap*);
typedef FiBitmap*(WINAPI* ConvertTo32BitsFn)(FiBitmap*);
typedef unsigned(WINAPI* GetPitchFn)(FiBitmap*);
typedef BYTE*(WINAPI* GetBitsFn)(FiBitmap*);
typedef unsigned(WINAPI* GetWidthFn)(FiBitmap*);
typedef unsigned(WINAPI* GetHeightFn)(FiBitmap*);

// The module and its entry points: all set, or all zero.
struct FreeImageApi {
  HMODULE module;
  UnloadFn unload;
  OpenMemoryFn openMemory;
  CloseMemoryFn closeMemory;
  LoadFromMemoryFn loadFromMemory;
  GetBppFn getBpp;
  ConvertTo32BitsFn convertTo32Bits;
  GetPitchFn getPitch;
  GetBitsFn getBits;
  GetWidthFn getWidth;
  GetHeightFn getHeight;
};

FreeImageApi api;

// The 32-bit Windows DLL exports its standard-call functions under
// decorated names; 64-bit DLLs and the shared object under the plain C names.
#if defined(_WIN32) && !defined(_WIN64)
#define VEK_FI_NAME(name, bytes) "_" #name "@" #bytes
#else
#define VEK_FI_NAME(name, bytes) #name
#endif
#ifdef _WIN32
constexpr WCHAR kSeparator = L'\\';
constexpr const WCHAR* kFileName = L"FreeImage.dll";
// Found by the system's search (an unusable copy in the current directory
// fails there as well, and nothing is loaded).
constexpr const WCHAR* kSystemName = L"FreeImage.dll";
constexpr bool kSystemWhenAbsent = false;  // only a copy beside the host is used
#else
constexpr WCHAR kSeparator = u'/';
constexpr const WCHAR* kFileName = u"libfreeimage.so.3";
// Used when the current directory holds no FreeImage of its own, or one
// that cannot be used.
constexpr const WCHAR* kSystemName = u"libfreeimage.so.3";
constexpr bool kSystemWhenAbsent = true;
#endif

size_t TextLength(const WCHAR* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

// True for a regular file of at least one byte.
bool IsNonEmptyFile(const WCHAR* path) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &info)) return false;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  return info.nFileSizeLow != 0 || info.nFileSizeHigh != 0;
#else
  std::error_code error;
  const std::filesystem::path file{std::u16string(path)};
  if (!std::filesystem::is_regular_file(file, error) || error) return false;
  const auto size = std::filesystem::file_size(file, error);
  return !error && size > 0;
#endif
}

template <class Fn>
bool Resolve(HMODULE module, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *out != nullptr;
}

// Resolves every entry point; a module that lacks one is not used at all,
// so no call can reach a missing function.
bool ResolveAll(HMODULE module) {
  FreeImageApi found{};
  found.module = module;
  const bool all =
      Resolve(module, VEK_FI_NAME(FreeImage_Unload, 4), &found.unload) &&
      Resolve(module, VEK_FI_NAME(FreeImage_OpenMemory, 8), &found.openMemory) &&
      Resolve(module, VEK_FI_NAME(FreeImage_CloseMemory, 4), &found.closeMemory) &&
      Resolve(module, VEK_FI_NAME(FreeImage_LoadFromMemory, 12), &found.loadFromMemory) &&
      Resolve(module, VEK_FI_NAME(FreeImage_GetBPP, 4), &found.getBpp) &&
      Resolve(module, VEK_FI_NAME(FreeImage_ConvertTo32Bits, 4), &found.convertTo32Bits) &&
      Resolve(module, VEK_FI_NAME(FreeImage_GetPitch, 4), &found.getPitch) &&
      Resolve(module, VEK_FI_NAME(FreeImage_GetBits, 4), &found.getBits) &&
      Resolve(module, VEK_FI_NAME(FreeImage_GetWidth, 4), &found.getWidth) &&
      Resolve(module, VEK_FI_NAME(FreeImage_GetHeight, 4), &found.getHeight);
  if (!all) return false;
  api = found;
  return true;
}

void ReleaseData(VekImage* image) {
  if (image->texture.data) Free(image->texture.data);
  image->texture.data = nullptr;
  image->texture.dataSize = 0;
}

}  // namespace

void LoadFreeImage() {
  if (api.module) UnloadFreeImage();

  // The current directory, a separator and the file name, in the fixed
  // buffer; with a directory too long for it nothing is loaded at all.
  WCHAR path[MAX_PATH];
  const DWORD dirLength = GetCurrentDirectoryW(MAX_PATH, path);
  const size_t nameLength = TextLength(kFileName);
  if (dirLength == 0 || dirLength >= MAX_PATH || dirLength + 1 + nameLength + 1 > MAX_PATH) return;
  path[dirLength] = kSeparator;
  std::memcpy(path + dirLength + 1, kFileName, (nameLength + 1) * sizeof(WCHAR));

  if (IsNonEmptyFile(path)) {
    HMODULE module = LoadLibraryW(path);
    if (module && ResolveAll(module)) return;
    if (module) FreeLibrary(module);
    // Not silently without decoding: the system's copy, and a line saying so.
    LogInfo(GetLogger(VEK_SRC_VEKIMAGE),
            VEK_W("FreeImage in the current directory cannot be used; trying the system's"));
  } else if (!kSystemWhenAbsent) {
    return;
  }
  HMODULE module = LoadLibraryW(kSystemName);
  if (module && !ResolveAll(module)) FreeLibrary(module);
}

void UnloadFreeImage() {
  if (api.module) FreeLibrary(api.module);
  api = FreeImageApi{};
}

bool FreeImageAvailable() { return api.module != nullptr; }

void WriteDdsHeader(BYTE* block, UINT width, UINT height) {
  d3dx::DdsHeader f{};
  f.flags = d3dx::kDdsdCaps | d3dx::kDdsdHeight | d3dx::kDdsdWidth | d3dx::kDdsdPixelFormat |
            d3dx::kDdsdLinearSize;
  f.height = height;
  f.width = width;
  f.pitchOrLinearSize = width * height * 4;
  f.pixelFlags = d3dx::kDdpfRgb | d3dx::kDdpfAlphaPixels;
  f.bitCount = 32;
  f.masks[0] = 0x00FF0000;
  f.masks[1] = 0x0000FF00;
  f.masks[2] = 0x000000FF;
  f.masks[3] = 0xFF000000;
  f.caps = d3dx::kDdsCapsTexture;
  d3dx::WriteDdsHeader(block, f);
}

bool HueImage_OtherFormat(VekImage* image, int fif) {
  VekTexture& t = image->texture;
  if (!api.module) {
    ReleaseData(image);
    return false;
  }

  FiMemory* stream = api.openMemory(t.data, t.dataSize);
  if (!stream) {
    ReleaseData(image);
    ImagePrint(ImageLine::kOpenMemory);
    return false;
  }
  FiBitmap* bitmap = api.loadFromMemory(fif, stream, 0);
  api.closeMemory(stream);
  if (!bitmap) {
    ReleaseData(image);
    ImagePrint(ImageLine::kCloseMemory);
    return false;
  }

  if (api.getBpp(bitmap) != 32) {
    FiBitmap* copy = api.convertTo32Bits(bitmap);
    api.unload(bitmap);
    if (!copy) {
      ReleaseData(image);
      return false;
    }
    bitmap = copy;
  }

  const UINT pitch = api.getPitch(bitmap);
  const BYTE* bits = api.getBits(bitmap);
  if (!bits) {
    ReleaseData(image);
    api.unload(bitmap);
    ImagePrint(ImageLine::kGetBits);
    return false;
  }

  const UINT w0 = api.getWidth(bitmap);
  const UINT h0 = api.getHeight(bitmap);
  const uint64_t rowBytes = static_cast<uint64_t>(w0) * 4;
  UINT width = w0;
  UINT height = h0;
  const GraphicsDevice* device = GetCurrentDevice();
  const bool pad = device && device->texturesPow2 && (!IsPow2(w0) || !IsPow2(h0));
  if (pad) {
    width = PaddedPow2(w0);
    height = PaddedPow2(h0);
  }
  const uint64_t size = static_cast<uint64_t>(width) * height * 4 + kDdsHeaderSize;
  // An empty picture, a side over 65,535 (sizes are reported in 16 bits),
  // scan lines shorter than their pixels, a padded side past 32 bits or a
  // file image past 32 bits cannot be held: refused before anything is
  // allocated.
  if (w0 == 0 || h0 == 0 || w0 > kMaxPictureSide || h0 > kMaxPictureSide || pitch < rowBytes ||
      width == 0 || height == 0 || size > UINT32_MAX) {
    ReleaseData(image);
    api.unload(bitmap);
    return false;
  }

  BYTE* block = static_cast<BYTE*>(Malloc(static_cast<UINT>(size)));
  if (!block) {
    ReleaseData(image);
    api.unload(bitmap);
    ImagePrint(ImageLine::kMallocFile);
    return false;
  }
  // FreeImage's scan line 0 is the bottom one; the file image is top-down.
  // Only the padding is zeroed (transparent black): the picture's bytes are
  // written once.
  BYTE* pixels = block + kDdsHeaderSize;
  const size_t destPitch = static_cast<size_t>(width) * 4;
  for (UINT i = 0; i < h0; ++i) {
    BYTE* row = pixels + static_cast<size_t>(h0 - 1 - i) * destPitch;
    std::memcpy(row, bits + static_cast<size_t>(i) * pitch, static_cast<size_t>(rowBytes));
    if (destPitch > rowBytes) std::memset(row + rowBytes, 0, destPitch - rowBytes);
  }
  std::memset(pixels + static_cast<size_t>(h0) * destPitch, 0,
              static_cast<size_t>(height - h0) * destPitch);

  ReleaseData(image);
  t.data = block;
  t.dataSize = static_cast<UINT>(size);
  t.width = width;
  t.height = height;
  if (pad) {
    image->texture.contentScaleX = static_cast<float>(static_cast<double>(w0) / width);
    image->texture.contentScaleY = static_cast<float>(static_cast<double>(h0) / height);
  }
  WriteDdsHeader(block, width, height);
  api.unload(bitmap);
  return true;
}

#ifndef _WIN32
// The shared object (and a program linked with the static archive) loads
// FreeImage when it is loaded and releases it when it is unloaded, as the
// DLL's entry point does on Windows.
__attribute__((constructor)) static void AttachFreeImage() { LoadFreeImage(); }
__attribute__((destructor)) static void DetachFreeImage() { UnloadFreeImage(); }
#endif
