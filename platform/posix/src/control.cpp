// The control API of vekrt/runtime.h that is not about windows or devices:
// adapters, the call log, failure injection and the live-object count.
#include "control.h"
#include "desktop.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vrt {
namespace internal {

std::atomic<bool> hooksActive{false};

namespace {

struct Failure {
  HRESULT hr;
  int skip;
  int times;  // -1: without end
};

struct Hooks {
  std::mutex mutex;
  bool logging = false;
  std::vector<CallRecord> log;
  std::map<std::string, Failure, std::less<>> failures;
};

Hooks& TheHooks() {
  static Hooks* hooks = new Hooks;  // outlives every static destructor that may still log
  return *hooks;
}

void UpdateActive(const Hooks& h) {
  hooksActive.store(h.logging || !h.failures.empty(), std::memory_order_relaxed);
}

std::atomic<int> liveObjects{0};

struct AdapterList {
  std::mutex mutex;
  std::vector<AdapterConfig> adapters{DefaultAdapter()};
};

AdapterList& TheAdapters() {
  static AdapterList* list = new AdapterList;
  return *list;
}

}  // namespace

bool EnterCall(const char* method, const uint64_t* args, size_t count, HRESULT* injected) {
  Hooks& h = TheHooks();
  std::lock_guard<std::mutex> lock(h.mutex);
  if (h.logging) h.log.push_back(CallRecord{method, std::vector<uint64_t>(args, args + count)});
  auto it = h.failures.find(std::string_view(method));
  if (it == h.failures.end()) return false;
  Failure& f = it->second;
  if (f.skip > 0) {
    --f.skip;
    return false;
  }
  *injected = f.hr;
  if (f.times > 0 && --f.times == 0) {
    h.failures.erase(it);
    UpdateActive(h);
  }
  return true;
}

void NoteCall(const char* method, const uint64_t* args, size_t count) {
  Hooks& h = TheHooks();
  std::lock_guard<std::mutex> lock(h.mutex);
  if (h.logging) h.log.push_back(CallRecord{method, std::vector<uint64_t>(args, args + count)});
}

void ObjectCreated() { liveObjects.fetch_add(1, std::memory_order_relaxed); }
void ObjectDestroyed() { liveObjects.fetch_sub(1, std::memory_order_relaxed); }

bool AdapterAt(UINT ordinal, AdapterConfig* out) {
  AdapterList& list = TheAdapters();
  std::lock_guard<std::mutex> lock(list.mutex);
  if (ordinal >= list.adapters.size()) return false;
  *out = list.adapters[ordinal];
  return true;
}

UINT AdapterCount() {
  AdapterList& list = TheAdapters();
  std::lock_guard<std::mutex> lock(list.mutex);
  return static_cast<UINT>(list.adapters.size());
}

D3DDISPLAYMODE CurrentModeOfAdapter0() {
  AdapterList& list = TheAdapters();
  std::lock_guard<std::mutex> lock(list.mutex);
  return list.adapters.front().currentMode;
}

}  // namespace internal

AdapterConfig DefaultAdapter() {
  AdapterConfig a;
  static const UINT sizes[][2] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 720}, {1920, 1080}};
  for (const auto& s : sizes) {
    a.modes.push_back(D3DDISPLAYMODE{s[0], s[1], 60, D3DFMT_X8R8G8B8});
    a.modes.push_back(D3DDISPLAYMODE{s[0], s[1], 60, D3DFMT_R5G6B5});
  }
  return a;
}

void SetAdapters(std::vector<AdapterConfig> adapters) {
  if (adapters.empty()) adapters.push_back(DefaultAdapter());  // there is always one
  internal::AdapterList& list = internal::TheAdapters();
  std::lock_guard<std::mutex> lock(list.mutex);
  list.adapters = std::move(adapters);
}

const std::vector<AdapterConfig>& Adapters() { return internal::TheAdapters().adapters; }

void ResetRuntime() {
  SetAdapters({DefaultAdapter()});
  ClearFailures();
  EnableCallLog(false);
  ClearCallLog();
  internal::ClearDeviceLoss();
  desktop::ResetPixels();
  SetRasterization(true);
  SetRasterThreads(0);
  SetRasterWideVectors(true);
  SetSystemFonts(true);
}

int LiveObjectCount() { return internal::liveObjects.load(std::memory_order_relaxed); }

void FailCall(std::string_view method, HRESULT hr, int skip, int times) {
  internal::Hooks& h = internal::TheHooks();
  std::lock_guard<std::mutex> lock(h.mutex);
  if (times == 0) {
    // Nothing to fail: drop any earlier arming of the same method.
    auto it = h.failures.find(method);
    if (it != h.failures.end()) h.failures.erase(it);
  } else {
    h.failures[std::string(method)] =
        internal::Failure{hr, skip < 0 ? 0 : skip, times < 0 ? -1 : times};
  }
  internal::UpdateActive(h);
}

void ClearFailures() {
  internal::Hooks& h = internal::TheHooks();
  std::lock_guard<std::mutex> lock(h.mutex);
  h.failures.clear();
  internal::UpdateActive(h);
}

void EnableCallLog(bool on) {
  internal::Hooks& h = internal::TheHooks();
  std::lock_guard<std::mutex> lock(h.mutex);
  h.logging = on;
  internal::UpdateActive(h);
}

void ClearCallLog() {
  internal::Hooks& h = internal::TheHooks();
  std::lock_guard<std::mutex> lock(h.mutex);
  h.log.clear();
}

const std::vector<CallRecord>& CallLog() { return internal::TheHooks().log; }

size_t CountCalls(std::string_view method) {
  internal::Hooks& h = internal::TheHooks();
  std::lock_guard<std::mutex> lock(h.mutex);
  size_t n = 0;
  for (const CallRecord& r : h.log)
    if (r.method == method) ++n;
  return n;
}

}  // namespace vrt
