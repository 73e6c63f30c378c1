// Runtime-wide bookkeeping shared by the Direct3D 8 objects: the call log and
// failure injection hooks every method runs first, the live-object count and
// the adapter list.
#pragma once

// The control API must be exported although the runtime is built with hidden
// visibility: its first declaration is made under default visibility here.
#pragma GCC visibility push(default)
#include <vekrt/runtime.h>
#pragma GCC visibility pop

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vrt::internal {

// COM's answer to a null out-pointer in QueryInterface.
inline constexpr HRESULT kPointerError = static_cast<HRESULT>(0x80004003);

// True while the call log is on or any failure is armed; the only cost a
// method pays when both are off is this one load.
extern std::atomic<bool> hooksActive;

// Records a call (when logging) and reports whether an armed failure takes
// it; `injected` then holds the result to return.
bool EnterCall(const char* method, const uint64_t* args, size_t count, HRESULT* injected);
// Records a call of a method whose result cannot carry a failure.
void NoteCall(const char* method, const uint64_t* args, size_t count);

template <class T>
inline uint64_t ArgBits(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<uintptr_t>(value);
  } else if constexpr (std::is_same_v<T, std::nullptr_t>) {
    return 0;
  } else if constexpr (std::is_same_v<T, float>) {
    return std::bit_cast<uint32_t>(value);
  } else if constexpr (std::is_enum_v<T>) {
    return static_cast<uint32_t>(value);
  } else {
    static_assert(std::is_integral_v<T>, "log arguments are integers, floats or pointers");
    return static_cast<uint64_t>(value);
  }
}

template <class... A>
inline bool Hooked(const char* method, HRESULT* injected, A... args) {
  if (!hooksActive.load(std::memory_order_relaxed)) return false;
  const uint64_t values[sizeof...(A) + 1] = {ArgBits(args)..., 0};
  return EnterCall(method, values, sizeof...(A), injected);
}

template <class... A>
inline void Noted(const char* method, A... args) {
  if (!hooksActive.load(std::memory_order_relaxed)) return;
  const uint64_t values[sizeof...(A) + 1] = {ArgBits(args)..., 0};
  NoteCall(method, values, sizeof...(A));
}

// Live-object count (vrt::LiveObjectCount).
void ObjectCreated();
void ObjectDestroyed();

// A copy of the adapter at `ordinal`; false when there is none.
bool AdapterAt(UINT ordinal, AdapterConfig* out);
UINT AdapterCount();
D3DDISPLAYMODE CurrentModeOfAdapter0();

// Puts every live device back in the operational state (vrt::ResetRuntime).
void ClearDeviceLoss();

}  // namespace vrt::internal

// First statement of a method returning HRESULT: logs the call and returns an
// injected failure before the method does anything else.
#define VRT_ENTRY(method, ...)                                                     \
  do {                                                                             \
    HRESULT vrtInjected_ = S_OK;                                                   \
    if (::vrt::internal::Hooked(method, &vrtInjected_ __VA_OPT__(, ) __VA_ARGS__)) \
      return vrtInjected_;                                                         \
  } while (0)

// First statement of a method whose result cannot report a failure.
#define VRT_NOTE(method, ...) ::vrt::internal::Noted(method __VA_OPT__(, ) __VA_ARGS__)
