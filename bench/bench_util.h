// Small pieces every benchmark program shares.
#pragma once

#include <algorithm>
#include <ctime>
#include <vector>

// The calling thread's CPU time in seconds: leaves out the time the thread
// waited for a core on a shared machine.
inline double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The middle value of the runs (the upper middle of an even count).
inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
