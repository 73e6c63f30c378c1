// The host's base library: counted memory blocks with failure injection,
// frame memory, pointer lists, per-source loggers and the last-error slot.

#include "pelto.h"

#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <malloc.h>
#endif
#include <mutex>
#include <new>
#include <string>
#include <vector>

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELTO_PLAIN_HEAP 1
#endif
#endif
#ifndef PELTO_PLAIN_HEAP
#define PELTO_LARGE_BLOCKS 1
#include <sys/mman.h>
#endif
#endif

namespace {

// ---- Locking ----------------------------------------------------------------

// A plain mutex usable as a constant-initialised global. On Windows the
// slim reader/writer lock keeps the DLL free of a threads runtime.
class Lock {
 public:
  void lock() {
#ifdef _WIN32
    AcquireSRWLockExclusive(&lock_);
#else
    mutex_.lock();
#endif
  }
  void unlock() {
#ifdef _WIN32
    ReleaseSRWLockExclusive(&lock_);
#else
    mutex_.unlock();
#endif
  }

 private:
#ifdef _WIN32
  SRWLOCK lock_ = SRWLOCK_INIT;
#else
  std::mutex mutex_;
#endif
};

using Guard = std::lock_guard<Lock>;

// ---- Counted blocks ---------------------------------------------------------

std::atomic<LONG> g_liveBlocks{0};

// Failure injection: `skip` more calls succeed, then `times` calls fail.
// `armed` lets the common path skip the lock.
std::atomic<bool> g_failArmed{false};
Lock g_failLock;
LONG g_failSkip = 0;
LONG g_failTimes = 0;

bool InjectedFailure() {
  if (!g_failArmed.load(std::memory_order_acquire)) return false;
  Guard guard(g_failLock);
  if (g_failTimes <= 0) return false;
  if (g_failSkip > 0) {
    --g_failSkip;
    return false;
  }
  if (--g_failTimes == 0) g_failArmed.store(false, std::memory_order_release);
  return true;
}

// ---- Large blocks -----------------------------------------------------------

#ifdef PELTO_LARGE_BLOCKS
// Picture-sized blocks (a decoded picture, a file read whole) get mappings of
// their own, 2 MB aligned, rounded up to whole 2 MB and marked for transparent
// huge pages: the kernel faults them in 2 MB at a time instead of 4 KB, which
// on virtual machines costs a fraction. A few freed mappings are kept and
// handed out again, so loading picture after picture touches no fresh memory.
// Keeping them out of the C heap also leaves that heap, which other libraries
// in the process use (the picture decoder), as it would be without us, much
// as each DLL has a heap of its own on Windows. Sanitizer builds keep every
// block in the C heap so that its checks cover them.
//
// Every block carries a header: the length of its mapping, 0 for heap blocks.
constexpr size_t kBlockHeader = 16;
constexpr size_t kLargeBlock = size_t{1} << 20;
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kKeptMappings = 4;
constexpr size_t kKeptBytesLimit = size_t{32} << 20;

struct KeptMappings {
  void* base[kKeptMappings];
  size_t length[kKeptMappings];
  size_t count;
  size_t bytes;
};

Lock g_keptLock;
KeptMappings g_kept;

// A kept mapping of at least `length` bytes and at most twice that, or null.
void* TakeKeptMapping(size_t length, size_t* taken) {
  Guard guard(g_keptLock);
  for (size_t i = 0; i < g_kept.count; ++i) {
    if (g_kept.length[i] < length || g_kept.length[i] / 2 > length) continue;
    void* base = g_kept.base[i];
    *taken = g_kept.length[i];
    g_kept.bytes -= *taken;
    --g_kept.count;
    g_kept.base[i] = g_kept.base[g_kept.count];
    g_kept.length[i] = g_kept.length[g_kept.count];
    return base;
  }
  return nullptr;
}

// Keeps a freed mapping for reuse when there is room, else unmaps it.
void ReleaseMapping(void* base, size_t length) {
  {
    Guard guard(g_keptLock);
    if (g_kept.count < kKeptMappings && length <= kKeptBytesLimit - g_kept.bytes) {
      g_kept.base[g_kept.count] = base;
      g_kept.length[g_kept.count] = length;
      ++g_kept.count;
      g_kept.bytes += length;
      return;
    }
  }
  munmap(base, length);
}

// A new mapping of `length` bytes (a multiple of kHugePage) aligned to
// kHugePage: map one huge page more and cut the slack off both ends.
void* NewMapping(size_t length) {
  if (length > SIZE_MAX - kHugePage) return nullptr;
  const size_t span = length + kHugePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
  const size_t head = aligned - start;
  if (head != 0) munmap(raw, head);
  if (span - head - length != 0) munmap(reinterpret_cast<void*>(aligned + length), span - head - length);
  void* base = reinterpret_cast<void*>(aligned);
  madvise(base, length, MADV_HUGEPAGE);  // only a hint: fine if unsupported
  return base;
}

void* AllocateBlock(size_t size) {
  if (size > SIZE_MAX - kBlockHeader - kHugePage) return nullptr;
  const size_t need = size + kBlockHeader;
  unsigned char* raw;
  size_t mapped = 0;
  if (size >= kLargeBlock) {
    const size_t length = (need + kHugePage - 1) & ~(kHugePage - 1);
    raw = static_cast<unsigned char*>(TakeKeptMapping(length, &mapped));
    if (raw == nullptr) {
      raw = static_cast<unsigned char*>(NewMapping(length));
      mapped = length;
    }
  } else {
    raw = static_cast<unsigned char*>(std::malloc(need));
  }
  if (raw == nullptr) return nullptr;
  std::memcpy(raw, &mapped, sizeof mapped);
  return raw + kBlockHeader;
}

void ReleaseBlock(void* block) {
  unsigned char* raw = static_cast<unsigned char*>(block) - kBlockHeader;
  size_t mapped;
  std::memcpy(&mapped, raw, sizeof mapped);
  if (mapped != 0) {
    ReleaseMapping(raw, mapped);
  } else {
    std::free(raw);
  }
}
#elif defined(_WIN32)
// The C runtime's heap aligns to 8 bytes on 32-bit Windows; blocks promise 16.
void* AllocateBlock(size_t size) { return _aligned_malloc(size, 16); }
void ReleaseBlock(void* block) { _aligned_free(block); }
#else
void* AllocateBlock(size_t size) { return std::malloc(size); }
void ReleaseBlock(void* block) { std::free(block); }
#endif

// ---- Frame memory -----------------------------------------------------------

// Frame memory is bump allocation over a list of chunks from the C allocator,
// newest first. Each chunk header sits at a 16-byte boundary inside the raw
// allocation, and the data follows the header, so every block is 16-byte
// aligned whatever alignment malloc gives.
constexpr size_t kAlign = 16;
constexpr size_t kFirstChunk = 4096;

struct Chunk {
  Chunk* next;
  size_t capacity;  // data bytes, a multiple of kAlign
  void* raw;        // what malloc returned
};

constexpr size_t kChunkHeader = (sizeof(Chunk) + kAlign - 1) & ~(kAlign - 1);

// What a MemBuffer holds. All-zero is an empty buffer with no storage.
struct FrameState {
  Chunk* head;   // chunk being filled
  size_t used;   // bytes handed out from head
  size_t total;  // bytes handed out since the last reset, over all chunks
};

static_assert(sizeof(FrameState) <= sizeof(MemBuffer), "frame state must fit in MemBuffer");
static_assert(alignof(FrameState) <= alignof(MemBuffer), "MemBuffer alignment too small");

// Field by field: copied whole, the state was assembled on the stack and
// read back in one wide load that waited on the narrower stores before it (a
// store-forwarding stall on every allocation, the larger part of its time).
FrameState LoadState(const MemBuffer* buffer) {
  const auto* at = reinterpret_cast<const unsigned char*>(buffer->words);
  FrameState state;
  std::memcpy(&state.head, at + offsetof(FrameState, head), sizeof state.head);
  std::memcpy(&state.used, at + offsetof(FrameState, used), sizeof state.used);
  std::memcpy(&state.total, at + offsetof(FrameState, total), sizeof state.total);
  return state;
}

void StoreState(MemBuffer* buffer, const FrameState& state) {
  auto* at = reinterpret_cast<unsigned char*>(buffer->words);
  std::memcpy(at + offsetof(FrameState, head), &state.head, sizeof state.head);
  std::memcpy(at + offsetof(FrameState, used), &state.used, sizeof state.used);
  std::memcpy(at + offsetof(FrameState, total), &state.total, sizeof state.total);
}

unsigned char* ChunkData(Chunk* chunk) {
  return reinterpret_cast<unsigned char*>(chunk) + kChunkHeader;
}

Chunk* NewChunk(size_t capacity) {
  if (capacity > SIZE_MAX - kChunkHeader - (kAlign - 1)) return nullptr;
  void* raw = std::malloc(capacity + kChunkHeader + (kAlign - 1));
  if (raw == nullptr) return nullptr;
  uintptr_t at = (reinterpret_cast<uintptr_t>(raw) + (kAlign - 1)) & ~uintptr_t{kAlign - 1};
  return new (reinterpret_cast<void*>(at)) Chunk{nullptr, capacity, raw};
}

void FreeChunks(Chunk* chunk) {
  while (chunk != nullptr) {
    Chunk* next = chunk->next;
    std::free(chunk->raw);
    chunk = next;
  }
}

size_t SaturatingAdd(size_t a, size_t b) { return a > SIZE_MAX - b ? SIZE_MAX : a + b; }

// ---- Pointer lists ----------------------------------------------------------

// Resizes the entry storage to exactly `capacity` entries (never below count).
// Leaves the list untouched when the size does not fit or memory runs out.
bool ResizeEntries(PBuffer* buffer, DWORD capacity) {
  if (capacity < buffer->count) return false;
  if (capacity > SIZE_MAX / sizeof(void*)) return false;
  void* grown = std::realloc(buffer->entries, size_t{capacity} * sizeof(void*));
  if (grown == nullptr) return false;
  buffer->entries = static_cast<void**>(grown);
  buffer->capacity = capacity;
  return true;
}

// ---- Text -------------------------------------------------------------------

using WString = std::basic_string<WCHAR>;

void AppendUtf8(std::string& out, uint32_t cp) {
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

// UTF-16 to UTF-8; a surrogate without its partner becomes U+FFFD.
void AppendUtf16AsUtf8(std::string& out, const WString& text) {
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t unit = static_cast<uint16_t>(text[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < n) {
      uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
    AppendUtf8(out, unit);
  }
}

void AppendAscii(WString& out, const char* text) {
  for (; *text != '\0'; ++text) out += static_cast<WCHAR>(*text);
}

WString FormatLine(const WCHAR* format, va_list args) {
  WString text;
  if (format == nullptr) return text;
  for (const WCHAR* p = format; *p != 0; ++p) {
    if (*p != '%') {
      text += *p;
      continue;
    }
    const WCHAR next = p[1];
    if (next == 'd') {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%d", va_arg(args, int));
      AppendAscii(text, digits);
      ++p;
    } else if (next == 's') {
      const WCHAR* arg = va_arg(args, const WCHAR*);
      if (arg == nullptr) {
        AppendAscii(text, "(null)");
      } else {
        text += arg;
      }
      ++p;
    } else if (next == '%') {
      text += static_cast<WCHAR>('%');
      ++p;
    } else {
      // Unknown directive: keep the percent sign; the rest follows as text.
      text += *p;
    }
  }
  return text;
}

// ---- Loggers ----------------------------------------------------------------

Lock g_logLock;
std::vector<WString> g_sources;  // logger handle n is g_sources[n - 1]
bool g_capturing = false;
std::string g_capture;

#ifdef _WIN32
using EnvString = std::wstring;
#else
using EnvString = std::string;
#endif

// The file PELTO_LOG names, kept open while the variable keeps its value.
struct LogFile {
  EnvString name;
  FILE* file = nullptr;
  bool isStderr = false;
};
LogFile g_logFile;

void CloseLogFile() {
  if (g_logFile.file != nullptr && !g_logFile.isStderr) std::fclose(g_logFile.file);
  g_logFile = LogFile{};
}

// The log file for the current value of PELTO_LOG, or null when there is none.
// The variable is read on every line so a host may redirect the log at run time.
FILE* CurrentLogFile() {
#ifdef _WIN32
  const wchar_t* name = _wgetenv(L"PELTO_LOG");
#else
  const char* name = std::getenv("PELTO_LOG");
#endif
  if (name == nullptr || name[0] == 0) {
    CloseLogFile();
    return nullptr;
  }
  if (g_logFile.name == name) return g_logFile.file;
  CloseLogFile();
  g_logFile.name = name;
  if (name[0] == '-' && name[1] == 0) {
    g_logFile.file = stderr;
    g_logFile.isStderr = true;
  } else {
#ifdef _WIN32
    g_logFile.file = _wfopen(name, L"ab");
#else
    g_logFile.file = std::fopen(name, "ab");
#endif
  }
  return g_logFile.file;
}

// ---- Last error -------------------------------------------------------------

Lock g_errorLock;
ErrorRecord g_error;

static_assert(offsetof(ErrorRecord, code) == 4, "the code is the record's second word");

template <size_t N>
void CopyTruncated(WCHAR (&dest)[N], const WCHAR* source) {
  size_t i = 0;
  if (source != nullptr) {
    for (; i + 1 < N && source[i] != 0; ++i) dest[i] = source[i];
  }
  for (; i < N; ++i) dest[i] = 0;
}

}  // namespace

extern "C" {

// ---- Counted blocks ---------------------------------------------------------

PELTO_API void* WINAPI Malloc(UINT size) {
  if (InjectedFailure()) return nullptr;
  // Zero-byte requests still get a block of their own.
  void* block = AllocateBlock(size == 0 ? 1 : size);
  if (block != nullptr) g_liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

PELTO_API int WINAPI Free(void* block) {
  if (block == nullptr) return 0;
  ReleaseBlock(block);
  g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  return 1;
}

PELTO_API LONG WINAPI LiveBlockCount(void) { return g_liveBlocks.load(std::memory_order_relaxed); }

PELTO_API void WINAPI FailMalloc(LONG skip, LONG times) {
  Guard guard(g_failLock);
  g_failSkip = skip > 0 ? skip : 0;
  g_failTimes = times > 0 ? times : 0;
  g_failArmed.store(g_failTimes > 0, std::memory_order_release);
}

// ---- Frame memory -----------------------------------------------------------

PELTO_API void* WINAPI MemMalloc(MemBuffer* buffer, UINT size) {
  if (buffer == nullptr) return nullptr;
  size_t need = size == 0 ? 1 : size;
  if (need > SIZE_MAX - (kAlign - 1)) return nullptr;
  need = (need + kAlign - 1) & ~(kAlign - 1);

  FrameState state = LoadState(buffer);
  if (state.head == nullptr || state.head->capacity - state.used < need) {
    // Each new chunk doubles the last so a growing frame needs few of them;
    // fall back to the bare request when the doubled size is not available.
    size_t grown = kFirstChunk;
    if (state.head != nullptr) {
      grown = state.head->capacity > SIZE_MAX / 2 ? SIZE_MAX : state.head->capacity * 2;
    }
    size_t capacity = grown > need ? grown : need;
    Chunk* chunk = NewChunk(capacity);
    if (chunk == nullptr && capacity > need) chunk = NewChunk(need);
    if (chunk == nullptr) return nullptr;
    chunk->next = state.head;
    state.head = chunk;
    state.used = 0;
  }
  void* block = ChunkData(state.head) + state.used;
  state.used += need;
  state.total = SaturatingAdd(state.total, need);
  StoreState(buffer, state);
  return block;
}

PELTO_API void WINAPI ResetMemBuffer(MemBuffer* buffer) {
  if (buffer == nullptr) return;
  FrameState state = LoadState(buffer);
  if (state.head == nullptr) {
    StoreState(buffer, FrameState{});
    return;
  }
  // Keep a single chunk that holds the whole of the last frame, so a frame
  // like the last one runs without allocating. A chunk far larger than the
  // frame needed is swapped for one that fits.
  const size_t want = state.total > kFirstChunk ? state.total : kFirstChunk;
  Chunk* keep = nullptr;
  if (state.head->capacity >= state.total && state.head->capacity / 4 <= want) {
    keep = state.head;
    FreeChunks(keep->next);
    keep->next = nullptr;
  } else {
    FreeChunks(state.head);
    keep = NewChunk(want);  // null is fine: the next MemMalloc retries
  }
  StoreState(buffer, FrameState{keep, 0, 0});
}

PELTO_API void WINAPI ReleaseMemBuffer(MemBuffer* buffer) {
  if (buffer == nullptr) return;
  FreeChunks(LoadState(buffer).head);
  std::memset(buffer, 0, sizeof *buffer);
}

// ---- Pointer lists ----------------------------------------------------------

PELTO_API void WINAPI PBufferAdd(PBuffer* buffer, void* entry) {
  if (buffer == nullptr) return;
  if (buffer->count >= buffer->capacity) {
    if (buffer->count == UINT32_MAX) return;
    DWORD grown = 8;
    if (buffer->capacity >= 8) {
      grown = buffer->capacity > UINT32_MAX / 2 ? UINT32_MAX : buffer->capacity * 2;
    }
    if (grown <= buffer->count) grown = buffer->count + 1;
    if (!ResizeEntries(buffer, grown) && !ResizeEntries(buffer, buffer->count + 1)) return;
  }
  buffer->entries[buffer->count++] = entry;
}

PELTO_API void WINAPI PBufferRemoveAtPointer(PBuffer* buffer, void* entry) {
  if (buffer == nullptr || buffer->entries == nullptr) return;
  for (DWORD i = 0; i < buffer->count; ++i) {
    if (buffer->entries[i] == entry) {
      std::memmove(buffer->entries + i, buffer->entries + i + 1,
                   size_t{buffer->count - i - 1} * sizeof(void*));
      --buffer->count;
      return;
    }
  }
}

PELTO_API void WINAPI SetPBufferCapcity(PBuffer* buffer, UINT count) {
  if (buffer == nullptr || count <= buffer->capacity) return;
  ResizeEntries(buffer, count);
}

PELTO_API void WINAPI ReleasePBuffer(PBuffer* buffer) {
  if (buffer == nullptr) return;
  std::free(buffer->entries);
  std::memset(buffer, 0, sizeof *buffer);
}

// ---- Loggers ----------------------------------------------------------------

PELTO_API LONG WINAPI GetLogger(const WCHAR* sourcePath) {
  try {
    WString source = sourcePath != nullptr ? WString(sourcePath) : WString();
    Guard guard(g_logLock);
    for (size_t i = 0; i < g_sources.size(); ++i) {
      if (g_sources[i] == source) return static_cast<LONG>(i + 1);
    }
    if (g_sources.size() >= static_cast<size_t>(INT32_MAX)) return 0;
    g_sources.push_back(std::move(source));
    return static_cast<LONG>(g_sources.size());
  } catch (...) {
    return 0;  // out of memory: no handle
  }
}

PELTO_API void LogInfo(LONG logger, const WCHAR* format, ...) {
  try {
    va_list args;
    va_start(args, format);
    WString text = FormatLine(format, args);
    va_end(args);

    Guard guard(g_logLock);
    std::string line;
    if (logger > 0 && static_cast<size_t>(logger) <= g_sources.size()) {
      AppendUtf16AsUtf8(line, g_sources[static_cast<size_t>(logger) - 1]);
    } else {
      line += '?';
    }
    line += ": ";
    AppendUtf16AsUtf8(line, text);
    line += '\n';

    if (FILE* file = CurrentLogFile()) {
      std::fwrite(line.data(), 1, line.size(), file);
      std::fflush(file);
    }
    if (g_capturing) g_capture += line;
  } catch (...) {
    // Out of memory: the line is lost, the caller carries on.
  }
}

PELTO_API void WINAPI SetLogCapture(BOOL on) {
  Guard guard(g_logLock);
  g_capturing = on != FALSE;
  std::string().swap(g_capture);
}

PELTO_API int WINAPI GetCapturedLog(char* buffer, int size) {
  Guard guard(g_logLock);
  if (buffer != nullptr && size > 0) {
    size_t n = g_capture.size();
    if (n > static_cast<size_t>(size) - 1) n = static_cast<size_t>(size) - 1;
    std::memcpy(buffer, g_capture.data(), n);
    buffer[n] = '\0';
  }
  return g_capture.size() > static_cast<size_t>(INT_MAX) ? INT_MAX
                                                         : static_cast<int>(g_capture.size());
}

// ---- Last error -------------------------------------------------------------

PELTO_API LONG WINAPI SetError(LONG code, LONG detail, const WCHAR* message, LONG line,
                               const WCHAR* sourcePath) {
  Guard guard(g_errorLock);
  g_error.isSet = 1;
  g_error.code = code;
  g_error.detail = detail;
  g_error.line = line;
  CopyTruncated(g_error.message, message);
  CopyTruncated(g_error.source, sourcePath);
  return code < 0 ? code : -1;
}

PELTO_API ErrorRecord* WINAPI GetError(void) { return &g_error; }

PELTO_API int WINAPI ReadLastError(ErrorRecord* out) {
  Guard guard(g_errorLock);
  if (out != nullptr) *out = g_error;
  return g_error.isSet != 0 ? 1 : 0;
}

PELTO_API void WINAPI ClearError(void) {
  Guard guard(g_errorLock);
  std::memset(&g_error, 0, sizeof g_error);
}

}  // extern "C"
