// The GetXaSwitch path measured without the benchmark library, so that both
// targets build it and the Windows figures come from the DLL's code under
// Wine: the median and 99th percentile of back-to-back calls on one rmid
// (ZP_BENCH_SAMPLES, default 20,000); memory per open rmid, as the process's
// address space (reserved and committed) and its committed (Windows) or
// resident (Linux) memory before and after 1,024 more rmids are opened; the
// processor time of those idle rmids (ZP_BENCH_IDLE_SECONDS, default 10);
// with --hold, then more rmids until an open fails (or ZP_BENCH_HOLD are
// open, default 100,000): how many a process can hold. The stand-in client
// must be found by the module's search (LD_LIBRARY_PATH natively, the working
// directory under Wine).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "bench/process_clock.h"
#include "module/libmain.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace {

using zp::bench::processCpuSeconds;
using zp::bench::sleepSeconds;

struct Memory {
  double virtualBytes = 0;
  double committedBytes = 0;  // committed on Windows, resident on Linux
};

Memory memoryNow() {
  Memory memory;
#ifdef _WIN32
  // Every region of the address space: not free is reserved or committed.
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  auto* address = static_cast<char*>(system.lpMinimumApplicationAddress);
  MEMORY_BASIC_INFORMATION region;
  while (address < static_cast<char*>(system.lpMaximumApplicationAddress) &&
         VirtualQuery(address, &region, sizeof region) == sizeof region) {
    if (region.State != MEM_FREE) memory.virtualBytes += static_cast<double>(region.RegionSize);
    if (region.State == MEM_COMMIT) memory.committedBytes += static_cast<double>(region.RegionSize);
    address = static_cast<char*>(region.BaseAddress) + region.RegionSize;
  }
#else
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return memory;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    double kib = 0;
    if (std::sscanf(line, "VmSize: %lf kB", &kib) == 1) memory.virtualBytes = kib * 1024;
    if (std::sscanf(line, "VmRSS: %lf kB", &kib) == 1) memory.committedBytes = kib * 1024;
  }
  std::fclose(status);
#endif
  return memory;
}

double envNumber(const char* name, double fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atof(value) : fallback;
}

const char* const kCommittedName =
#ifdef _WIN32
    "committed";
#else
    "resident";
#endif

}  // namespace

int main(int argc, char** argv) {
  const bool hold = argc > 1 && std::strcmp(argv[1], "--hold") == 0;
  xa_switch_t* sw = nullptr;
  if (!zp::moduleLoad(nullptr) || GetXaSwitch(0, &sw) != 0) return 3;
  char info[] = "ORACLE_XA+DB=ORCL";
  // The first rmid loads the client: not counted.
  if (sw->xa_open_entry(info, 1, TMNOFLAGS) != XA_OK) {
    std::fprintf(stderr, "dtc_probe: the stand-in client XA library was not found\n");
    return 1;
  }
  const int samples = static_cast<int>(envNumber("ZP_BENCH_SAMPLES", 20000));
  if (samples >= 100) {
    XID xid;
    std::memset(&xid, 0, sizeof xid);
    xid.formatID = 1;
    xid.gtrid_length = 4;
    xid.bqual_length = 4;
    std::vector<double> times(static_cast<size_t>(samples));
    for (int i = 0; i < samples / 10; ++i) sw->xa_start_entry(&xid, 1, TMNOFLAGS);  // warm-up
    for (double& time : times) {
      const auto start = std::chrono::steady_clock::now();
      sw->xa_start_entry(&xid, 1, TMNOFLAGS);
      time = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                 .count();
    }
    std::sort(times.begin(), times.end());
    std::printf("latency switch round trip (rmid 1)%s: median %.0f ns   p99 %.0f ns\n",
                std::getenv("ZP_SEMAPHORE_SPIN") != nullptr ? ", ZP_SEMAPHORE_SPIN set" : "",
                times[times.size() / 2], times[times.size() * 99 / 100]);
  }
  constexpr int kMeasured = 1024;
  const Memory before = memoryNow();
  const auto started = std::chrono::steady_clock::now();
  int open = 1;
  for (; open <= kMeasured; ++open)
    if (sw->xa_open_entry(info, open + 1, TMNOFLAGS) != XA_OK) break;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // A process that cannot hold them all (a 32-bit one) is measured on those
  // it could open.
  const int measured = open - 1;
  if (measured < kMeasured) std::printf("hold    xa_open failed with %d rmids open\n", open);
  if (measured == 0) return 1;
  const Memory after = memoryNow();
  std::printf(
      "memory  %d-bit process, %d more rmids open (%.2f s): per rmid %.1f KiB virtual, "
      "%.1f KiB %s\n",
      static_cast<int>(sizeof(void*) * 8), measured, seconds,
      (after.virtualBytes - before.virtualBytes) / measured / 1024,
      (after.committedBytes - before.committedBytes) / measured / 1024, kCommittedName);
  std::printf("memory  process with %d rmids open: %.1f MiB virtual, %.1f MiB %s\n", open,
              after.virtualBytes / 1048576, after.committedBytes / 1048576, kCommittedName);
  std::fflush(stdout);
  const double idleSeconds = envNumber("ZP_BENCH_IDLE_SECONDS", 10);
  if (idleSeconds > 0) {
    const double cpuBefore = processCpuSeconds();
    sleepSeconds(idleSeconds);
    std::printf("idle    %d open rmids for %.1f s: %.3f ms of processor time\n", open, idleSeconds,
                (processCpuSeconds() - cpuBefore) * 1e3);
    std::fflush(stdout);
  }
  if (hold && measured == kMeasured) {
    const char* limitText = std::getenv("ZP_BENCH_HOLD");
    const long limit = limitText != nullptr ? std::atol(limitText) : 100000;
    while (open < limit && sw->xa_open_entry(info, open + 1, TMNOFLAGS) == XA_OK) ++open;
    const Memory most = memoryNow();
    std::printf("hold    %d rmids open%s: %.1f MiB virtual, %.1f MiB %s\n", open,
                open < limit ? " when the next xa_open failed" : " (the limit asked for)",
                most.virtualBytes / 1048576, most.committedBytes / 1048576, kCommittedName);
  }
  // The workers stay: the process ends without closing thousands of rmids.
  std::fflush(stdout);
  std::_Exit(0);
}
