// kernel32 services: critical sections, modules, the current directory, local
// memory and the thread's last error.
#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control.h"
#include "text.h"

namespace {

thread_local DWORD lastError = 0;

constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorModNotFound = 126;
constexpr DWORD kErrorProcNotFound = 127;

HMODULE Open(const char* path) {
  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!module) SetLastError(kErrorModNotFound);
  return static_cast<HMODULE>(module);
}

// The working directory in UTF-8, or empty (last error set) when unreadable.
std::string WorkingDirectory() {
  std::vector<char> buffer(256);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size())) return std::string(buffer.data());
    if (errno != ERANGE) {
      SetLastError(errno == ENOENT ? kErrorFileNotFound : kErrorInvalidParameter);
      return std::string();
    }
    buffer.resize(buffer.size() * 2);
  }
}

// Win32 buffer rule: too small (or absent) gets the size needed including the
// terminator and nothing written; otherwise the length copied, terminator not
// counted.
template <class Char>
DWORD CopyOut(const std::basic_string<Char>& text, DWORD size, Char* buffer) {
  const DWORD length = static_cast<DWORD>(text.size());
  if (!buffer || size < length + 1) return length + 1;
  std::memcpy(buffer, text.data(), length * sizeof(Char));
  buffer[length] = 0;
  return length;
}

}  // namespace

namespace vrt::text {

std::string ToUtf8(const WCHAR* text) {
  std::string out;
  if (!text) return out;
  for (size_t i = 0; text[i]; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string ToUtf16(const std::string& text) {
  std::u16string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char lead = s[i];
    uint32_t c;
    size_t length;
    if (lead < 0x80) {
      c = lead;
      length = 1;
    } else if ((lead & 0xE0) == 0xC0) {
      c = lead & 0x1F;
      length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
      c = lead & 0x0F;
      length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
      c = lead & 0x07;
      length = 4;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    bool valid = i + length <= n;
    for (size_t k = 1; valid && k < length; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (!valid || c > 0x10FFFF) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += length;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace vrt::text

extern "C" {

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&cs->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_destroy(&cs->mutex); }
void EnterCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_lock(&cs->mutex); }
void LeaveCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_unlock(&cs->mutex); }

HMODULE LoadLibraryA(LPCSTR path) {
  if (!path || !*path) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  return Open(path);
}

HMODULE LoadLibraryW(LPCWSTR path) {
  if (!path || !*path) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  return Open(vrt::text::ToUtf8(path).c_str());
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  // Ordinals (names below 0x10000) have no meaning for shared objects.
  if (!module || reinterpret_cast<uintptr_t>(name) < 0x10000) {
    SetLastError(module ? kErrorProcNotFound : kErrorInvalidHandle);
    return nullptr;
  }
  void* symbol = dlsym(module, name);
  if (!symbol) {
    SetLastError(kErrorProcNotFound);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  if (!module || dlclose(module) != 0) {
    SetLastError(kErrorInvalidHandle);
    return FALSE;
  }
  return TRUE;
}

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
  const std::string dir = WorkingDirectory();
  if (dir.empty()) return 0;
  return CopyOut(vrt::text::ToUtf16(dir), size, buffer);
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  const std::string dir = WorkingDirectory();
  if (dir.empty()) return 0;
  return CopyOut(dir, size, buffer);
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  HRESULT injected = S_OK;
  if (vrt::internal::Hooked("LocalAlloc", &injected, flags, bytes)) {
    SetLastError(static_cast<DWORD>(injected) & 0xffffu);
    return nullptr;
  }
  // Moveable blocks are handed out fixed: a pointer serves as its own handle.
  void* block =
      (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
  if (!block) SetLastError(kErrorNotEnoughMemory);
  return block;
}

HLOCAL LocalFree(HLOCAL block) {
  std::free(block);
  return nullptr;
}

DWORD GetLastError(void) { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

}  // extern "C"
