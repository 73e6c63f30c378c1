// The host's file library: file objects over a path on disk or over bytes
// held in memory, with hooks that make opening or reading fail on demand.

#include "rask.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/types.h>
#endif

using WString = std::basic_string<WCHAR>;

struct RaskFile {
  WString uri;
  bool inMemory = false;
  std::vector<unsigned char> bytes;  // the content of a memory file
  DWORD failures = 0;                // RASK_FAIL_* flags, kept until cleared
  bool open = false;
#ifdef _WIN32
  HANDLE handle = INVALID_HANDLE_VALUE;
#else
  FILE* stream = nullptr;
#endif
};

namespace {

const WCHAR kMemoryUri[] = {'m', 'e', 'm', 'o', 'r', 'y', ':', 0};

#ifndef _WIN32
// The UTF-8 name the file system knows a UTF-16 path by. A surrogate without
// its partner names no file, so the conversion fails instead of guessing.
bool PathToUtf8(const WString& path, std::string& out) {
  out.clear();
  const size_t n = path.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = static_cast<uint16_t>(path[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= n) return false;
      uint32_t low = static_cast<uint16_t>(path[i + 1]);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return true;
}
#endif

// Size of the regular file at `path` as it is on disk now; 0 when missing,
// not a regular file, or too large for a 32-bit size.
DWORD DiskFileSize(const WString& path) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0;
  if (data.nFileSizeHigh != 0) return 0;
  return data.nFileSizeLow;
#else
  std::string name;
  if (!PathToUtf8(path, name)) return 0;
  struct stat info;
  if (stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > UINT32_MAX) return 0;
  return static_cast<DWORD>(info.st_size);
#endif
}

void CloseDiskFile(RaskFile* file) {
#ifdef _WIN32
  if (file->handle != INVALID_HANDLE_VALUE) CloseHandle(file->handle);
  file->handle = INVALID_HANDLE_VALUE;
#else
  if (file->stream != nullptr) std::fclose(file->stream);
  file->stream = nullptr;
#endif
}

bool OpenDiskFile(RaskFile* file) {
#ifdef _WIN32
  file->handle = CreateFileW(file->uri.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file->handle != INVALID_HANDLE_VALUE;
#else
  std::string name;
  if (!PathToUtf8(file->uri, name)) return false;
  file->stream = std::fopen(name.c_str(), "rb");
  if (file->stream == nullptr) return false;
  // fopen accepts directories here; only regular files are offered, as on Windows.
  struct stat info;
  if (fstat(fileno(file->stream), &info) != 0 || !S_ISREG(info.st_mode)) {
    CloseDiskFile(file);
    return false;
  }
  return true;
#endif
}

DWORD ReadDiskFile(RaskFile* file, uint64_t offset, void* buffer, DWORD size) {
#ifdef _WIN32
  if (offset > static_cast<uint64_t>(std::numeric_limits<LONGLONG>::max())) return 0;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file->handle, position, nullptr, FILE_BEGIN)) return 0;
  DWORD total = 0;
  while (total < size) {
    DWORD got = 0;
    if (!ReadFile(file->handle, static_cast<char*>(buffer) + total, size - total, &got, nullptr) ||
        got == 0) {
      break;
    }
    total += got;
  }
  return total;
#else
  if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return 0;
  if (fseeko(file->stream, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
  size_t got = std::fread(buffer, 1, size, file->stream);
  std::clearerr(file->stream);
  return static_cast<DWORD>(got);
#endif
}

void CloseFile(RaskFile* file) {
  if (!file->inMemory) CloseDiskFile(file);
  file->open = false;
}

}  // namespace

extern "C" {

RASK_API HRASKFILE WINAPI RaskCreateFileFromPath(const WCHAR* path) {
  if (path == nullptr) return nullptr;
  RaskFile* file = new (std::nothrow) RaskFile;
  if (file == nullptr) return nullptr;
  try {
    file->uri = path;  // the content is read from disk when the file is opened
  } catch (...) {
    delete file;
    return nullptr;
  }
  return file;
}

RASK_API HRASKFILE WINAPI RaskCreateFileFromMemory(const void* data, DWORD size, const WCHAR* uri) {
  if (data == nullptr && size != 0) return nullptr;
  RaskFile* file = new (std::nothrow) RaskFile;
  if (file == nullptr) return nullptr;
  try {
    file->inMemory = true;
    file->uri = uri != nullptr ? uri : kMemoryUri;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    file->bytes.assign(bytes, bytes + size);
  } catch (...) {
    delete file;
    return nullptr;
  }
  return file;
}

RASK_API void WINAPI RaskDestroyFile(HRASKFILE file) {
  if (file == nullptr) return;
  CloseFile(file);
  delete file;
}

RASK_API DWORD WINAPI RaskGetFileSize(HRASKFILE file) {
  if (file == nullptr) return 0;
  if (file->inMemory) return static_cast<DWORD>(file->bytes.size());
  return DiskFileSize(file->uri);
}

RASK_API BOOL WINAPI RaskOpenFile(HRASKFILE file, DWORD mode) {
  if (file == nullptr || mode != 0) return FALSE;  // only reading is offered
  if ((file->failures & RASK_FAIL_OPEN) != 0) return FALSE;
  if (file->open) return TRUE;
  file->open = file->inMemory || OpenDiskFile(file);
  return file->open ? TRUE : FALSE;
}

RASK_API DWORD WINAPI RaskReadFile(HRASKFILE file, DWORD offsetLow, DWORD offsetHigh, void* buffer,
                                   DWORD size) {
  if (file == nullptr || buffer == nullptr || size == 0 || !file->open) return 0;
  if ((file->failures & RASK_FAIL_READ) != 0) return 0;
  const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
  if (!file->inMemory) return ReadDiskFile(file, offset, buffer, size);

  const uint64_t length = file->bytes.size();
  if (offset >= length) return 0;
  const uint64_t available = length - offset;
  const DWORD count = available < size ? static_cast<DWORD>(available) : size;
  std::memcpy(buffer, file->bytes.data() + offset, count);
  return count;
}

RASK_API BOOL WINAPI RaskCloseFile(HRASKFILE file) {
  if (file == nullptr) return FALSE;
  CloseFile(file);
  return TRUE;
}

RASK_API const WCHAR* WINAPI RaskGetFileURI(HRASKFILE file) {
  return file != nullptr ? file->uri.c_str() : nullptr;
}

RASK_API void WINAPI RaskSetFileFailure(HRASKFILE file, DWORD failures) {
  if (file != nullptr) file->failures = failures;
}

}  // extern "C"
