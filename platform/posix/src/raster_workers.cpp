// The worker pool behind large triangle draws. Rows are dealt out in bands
// (blocks of kBandRows rows in turn); each band applies every triangle of
// the draw in order, so every pixel sees the same sequence of fragments
// whatever the number of bands or threads, and the pixels are identical.
//
// The pool starts once, on the first large draw, with one thread per core
// but the caller's (at least one); the drawing thread takes bands too.
// Bands are handed out one at a time, so any number of bands runs on any
// number of threads.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "raster_internal.h"

namespace vrt::d3d::raster {

namespace {

// Bands asked for through vrt::SetRasterThreads; 0: one per core, at least two.
std::atomic<int> requestedBands{0};

// A draw smaller than this (bounding boxes, in pixels) stays on the calling
// thread: handing it over would cost more than drawing it.
constexpr int64_t kSplitPixels = 16 * 1024;

class WorkerPool {
 public:
  static WorkerPool& Instance() {
    static WorkerPool pool;
    return pool;
  }

  // Runs work(band) for every band in [0, bands) and returns when all are
  // done. A second drawing thread arriving while the pool is busy draws its
  // bands itself.
  void Run(int bands, const std::function<void(int)>& work) {
    std::unique_lock<std::mutex> runner(runMutex_, std::try_to_lock);
    Job job{&work, bands};
    if (runner.owns_lock() && !threads_.empty()) {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        job_ = &job;
        posted_.store(++generation_, std::memory_order_release);
      }
      wake_.notify_all();
      Work(job);
      {
        std::lock_guard<std::mutex> hold(mutex_);
        job_ = nullptr;  // no thread joins from here on
      }
      Spin([&] { return job.active.load(std::memory_order_acquire) == 0; });
      std::unique_lock<std::mutex> hold(mutex_);
      finished_.wait(hold, [&] { return job.active.load(std::memory_order_relaxed) == 0; });
    } else {
      Work(job);
    }
  }

  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

 private:
  struct Job {
    const std::function<void(int)>* work;
    int bands;
    std::atomic<int> next{0};
    std::atomic<int> active{0};  // pool threads inside Work, changed under mutex_
  };

  // Draws follow each other closely within a frame: a thread waits a short
  // while (about 50 us) for `done` before it sleeps, which saves a sleep and
  // a wake-up of the other side, each costing tens of microseconds.
  template <typename Done>
  static void Spin(Done done) {
    for (int i = 0; i < 2000 && !done(); ++i) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
  }

  WorkerPool() {
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned helpers = cores > 2 ? cores - 1 : 1;
    for (unsigned i = 0; i < helpers; ++i) {
      try {
        threads_.emplace_back([this] { Loop(); });
      } catch (const std::system_error&) {
        break;  // fewer threads; the caller draws what they do not
      }
    }
  }

  ~WorkerPool() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  static void Work(Job& job) {
    for (int band; (band = job.next.fetch_add(1)) < job.bands;) (*job.work)(band);
  }

  void Loop() {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
      hold.unlock();
      Spin([&] { return posted_.load(std::memory_order_acquire) != seen; });
      hold.lock();
      wake_.wait(hold, [&] { return stop_ || (generation_ != seen && job_); });
      if (stop_) return;
      seen = generation_;
      Job& job = *job_;
      ++job.active;
      hold.unlock();
      Work(job);
      hold.lock();
      if (--job.active == 0) finished_.notify_all();
    }
  }

  std::mutex runMutex_;  // one draw at a time uses the pool
  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  Job* job_ = nullptr;
  uint64_t generation_ = 0;
  std::atomic<uint64_t> posted_{0};  // generation_, read without the lock while spinning
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

int Bands() {
  const int requested = requestedBands.load(std::memory_order_relaxed);
  if (requested > 0) return requested;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 2 ? static_cast<int>(cores) : 2;
}

// Whether two triangles share two corners, as the halves of a quad do.
bool ShareAnEdge(const DeferredTriangle& a, const DeferredTriangle& b) {
  int shared = 0;
  for (int i = 0; i < 3; ++i) {
    const float* va = a.data() + i * (4 + kMaxAttrs);
    for (int j = 0; j < 3; ++j) {
      const float* vb = b.data() + j * (4 + kMaxAttrs);
      if (va[0] == vb[0] && va[1] == vb[1]) {
        ++shared;
        break;
      }
    }
  }
  return shared >= 2;
}

void RasterDeferred(Pipeline& p, const std::vector<DeferredTriangle>& tris, int attrs,
                    RowShare share) {
  auto corners = [](const DeferredTriangle& t, const ScreenVertex* v[3]) {
    for (int k = 0; k < 3; ++k)
      v[k] = reinterpret_cast<const ScreenVertex*>(t.data() + k * (4 + kMaxAttrs));
  };
  for (size_t i = 0; i < tris.size(); ++i) {
    const ScreenVertex* v[3];
    corners(tris[i], v);
    // Quads (two triangles on a shared edge) are drawn a row at a time.
    if (i + 1 < tris.size() && ShareAnEdge(tris[i], tris[i + 1])) {
      const ScreenVertex* w[3];
      corners(tris[++i], w);
      RasterTrianglePair(p, v, w, attrs, share);
    } else {
      RasterTriangle(p, v, attrs, share);
    }
  }
}

// The pixels the triangles' bounding boxes cover within the scissor, up to
// kSplitPixels.
int64_t BoundedArea(const Pipeline& p, const std::vector<DeferredTriangle>& tris) {
  int64_t area = 0;
  for (const DeferredTriangle& t : tris) {
    float x0 = t[0], x1 = t[0], y0 = t[1], y1 = t[1];
    for (int k = 1; k < 3; ++k) {
      const float x = t[k * (4 + kMaxAttrs)], y = t[k * (4 + kMaxAttrs) + 1];
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
    x0 = std::max(x0, static_cast<float>(p.x0)), x1 = std::min(x1, static_cast<float>(p.x1));
    y0 = std::max(y0, static_cast<float>(p.y0)), y1 = std::min(y1, static_cast<float>(p.y1));
    if (!(x0 < x1 && y0 < y1)) continue;  // also NaN: such triangles draw nothing
    area += static_cast<int64_t>(x1 - x0 + 1.0f) * static_cast<int64_t>(y1 - y0 + 1.0f);
    if (area >= kSplitPixels) break;
  }
  return area;
}

}  // namespace

bool SplitsDraws() { return Bands() > 1; }

void FlushTriangles(Pipeline& p, const std::vector<DeferredTriangle>& tris, int attrs) {
  if (tris.empty()) return;
  const int bands = Bands();
  if (bands <= 1 || BoundedArea(p, tris) < kSplitPixels) {
    RasterDeferred(p, tris, attrs, {0, 1});
    return;
  }
  // RasterTriangle picks filters per triangle in its Pipeline: one per band.
  std::vector<Pipeline> others(static_cast<size_t>(bands - 1), p);
  const std::function<void(int)> work = [&](int band) {
    RasterDeferred(band == 0 ? p : others[static_cast<size_t>(band - 1)], tris, attrs,
                   {band, bands});
  };
  WorkerPool::Instance().Run(bands, work);
}

}  // namespace vrt::d3d::raster

namespace vrt {

void SetRasterThreads(int count) {
  d3d::raster::requestedBands.store(count > 0 ? count : 0, std::memory_order_relaxed);
}

}  // namespace vrt
