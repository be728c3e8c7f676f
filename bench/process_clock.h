// The process's processor time and a plain sleep, for the benchmarks that
// measure what idle workers cost; both targets.
#ifndef ZP_BENCH_PROCESS_CLOCK_H
#define ZP_BENCH_PROCESS_CLOCK_H

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace zp {
namespace bench {

// Processor time of the whole process so far, in seconds.
inline double processCpuSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& t) {
    return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
#else
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
#endif
}

inline void sleepSeconds(double seconds) {
#ifdef _WIN32
  Sleep(static_cast<DWORD>(seconds * 1000));
#else
  timespec wait{
      static_cast<time_t>(seconds),
      static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9)};
  nanosleep(&wait, nullptr);
#endif
}

}  // namespace bench
}  // namespace zp

#endif  // ZP_BENCH_PROCESS_CLOCK_H
