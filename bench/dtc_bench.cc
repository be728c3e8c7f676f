// The cost of one call through the GetXaSwitch switch against the stand-in
// client, beside what it is made of: a bare request/reply ping-pong between
// two threads over the same platform semaphores, and a direct call through
// the client's switch. Then the same call with 1, 16, 256 and 1,024 rmids
// open. The stand-in client must be on the library search path
// (run_benchmarks.sh sees to it).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <time.h>
#endif

#include "bench/process_clock.h"
#include "module/libmain.h"
#include "platform/platform.h"
#include "platform/spin_wait.h"
#include "xa/client_library.h"
#include "xa/rm_worker.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace {

using zp::bench::processCpuSeconds;
using zp::bench::sleepSeconds;

xa_switch_t* g_switch;
int g_openRmids;  // rmids 1 .. g_openRmids are open

XID benchXid() {
  XID xid;
  std::memset(&xid, 0, sizeof xid);
  xid.formatID = 1;
  xid.gtrid_length = 4;
  xid.bqual_length = 4;
  return xid;
}

bool openUpTo(int rmids) {
  char info[] = "ORACLE_XA+DB=ORCL";
  while (g_openRmids < rmids) {
    if (g_switch->xa_open_entry(info, g_openRmids + 1, TMNOFLAGS) != XA_OK) return false;
    ++g_openRmids;
  }
  return true;
}

// The partner thread of the bare ping-pong: answers every request until told
// to stop.
struct PingPong {
  zp::platform::Semaphore* request;
  zp::platform::Semaphore* reply;
  std::atomic<bool> stop;
};

uint32_t answer(void* raw) {
  auto* pair = static_cast<PingPong*>(raw);
  for (;;) {
    zp::platform::semaphoreWait(pair->request);
    const bool stop = pair->stop.load();
    zp::platform::semaphoreRelease(pair->reply);
    if (stop) return 0;
  }
}

void BM_BarePingPong(benchmark::State& state) {
  PingPong pair{zp::platform::semaphoreCreate(), zp::platform::semaphoreCreate(), {false}};
  uint32_t id = 0;
  if (pair.request == nullptr || pair.reply == nullptr ||
      !zp::platform::threadStartDetached(answer, &pair, &id)) {
    state.SkipWithError("no thread or semaphores");
    return;
  }
  for (auto _ : state) {
    zp::platform::semaphoreRelease(pair.request);
    zp::platform::semaphoreWait(pair.reply);
  }
  pair.stop.store(true);
  zp::platform::semaphoreRelease(pair.request);
  zp::platform::semaphoreWait(pair.reply);
  zp::platform::semaphoreClose(pair.request);
  zp::platform::semaphoreClose(pair.reply);
}
BENCHMARK(BM_BarePingPong)->UseRealTime();

// The physical floor of a hand-off between two threads: both spin on one
// atomic, no kernel involved. Only a floor while both threads have a
// processor: on a machine whose cores are busy with other work, a hand-off
// waits until the partner is scheduled again (milliseconds), which the
// median of single hand-offs shows less than the mean.
struct SpinPair {
  std::atomic<int> turn{0};
  std::atomic<bool> stop{false};
};

uint32_t spinAnswer(void* raw) {
  auto* pair = static_cast<SpinPair*>(raw);
  for (;;) {
    int seen = pair->turn.load(std::memory_order_acquire);
    while ((seen & 1) == 0) {
      if (pair->stop.load(std::memory_order_relaxed)) return 0;
      seen = pair->turn.load(std::memory_order_acquire);
    }
    pair->turn.store(seen + 1, std::memory_order_release);
  }
}

void BM_SpinningPingPong(benchmark::State& state) {
  SpinPair pair;
  uint32_t id = 0;
  zp::platform::Thread* thread = zp::platform::threadStart(spinAnswer, &pair, &id);
  if (thread == nullptr) {
    state.SkipWithError("no thread");
    return;
  }
  int turn = 0;
  for (auto _ : state) {
    pair.turn.store(++turn, std::memory_order_release);
    while (pair.turn.load(std::memory_order_acquire) == turn) {
    }
    ++turn;
  }
  pair.stop.store(true);
  zp::platform::threadJoin(thread);
}
BENCHMARK(BM_SpinningPingPong)->UseRealTime();

void BM_DirectClientCall(benchmark::State& state) {
  xa_switch_t* client = zp::client_switch();
  XID xid = benchXid();
  for (auto _ : state) benchmark::DoNotOptimize(client->xa_start_entry(&xid, 1, TMNOFLAGS));
}
BENCHMARK(BM_DirectClientCall);

// One xa_start through the switch for the rmid opened last, which a lookup
// meets last.
void BM_SwitchRoundTrip(benchmark::State& state) {
  const int rmids = static_cast<int>(state.range(0));
  if (!openUpTo(rmids)) {
    state.SkipWithError("open failed");
    return;
  }
  XID xid = benchXid();
  for (auto _ : state) benchmark::DoNotOptimize(g_switch->xa_start_entry(&xid, rmids, TMNOFLAGS));
}
BENCHMARK(BM_SwitchRoundTrip)->Arg(1)->Arg(16)->Arg(256)->Arg(1024)->UseRealTime();

// The rmid a lookup meets first, with all the others' workers alive: what
// the number of threads alone costs.
void BM_SwitchRoundTripFirstRmid(benchmark::State& state) {
  XID xid = benchXid();
  for (auto _ : state) benchmark::DoNotOptimize(g_switch->xa_start_entry(&xid, 1, TMNOFLAGS));
}
BENCHMARK(BM_SwitchRoundTripFirstRmid)->UseRealTime();

// The table lookup alone, for the rmid opened last.
void BM_FindWorker(benchmark::State& state) {
  const int rmids = static_cast<int>(state.range(0));
  if (!openUpTo(rmids)) {
    state.SkipWithError("open failed");
    return;
  }
  zp::RmWorker* worker = nullptr;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zp::find_rm_worker(rmids, &worker));
    zp::unref_rm_worker(worker);
  }
}
BENCHMARK(BM_FindWorker)->Arg(1)->Arg(1024);

// What a call adds to the lookup to serialise itself on the record: its
// call lock, taken and left uncontended, and the closed check.
void BM_CallSerialisation(benchmark::State& state) {
  zp::RmWorker* worker = nullptr;
  if (zp::find_rm_worker(1, &worker) != XA_OK) {
    state.SkipWithError("no worker");
    return;
  }
  for (auto _ : state) {
    zp::platform::lockEnter(&worker->callLock);
    benchmark::DoNotOptimize(worker->closed);
    zp::platform::lockLeave(&worker->callLock);
  }
  zp::unref_rm_worker(worker);
}
BENCHMARK(BM_CallSerialisation);

// Keeps each run's real time per iteration, by name, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

void printRatio(const RatioReporter& reporter, const char* label, const std::string& over,
                const std::string& under) {
  const auto a = reporter.times.find(over);
  const auto b = reporter.times.find(under);
  if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0) return;
  std::printf("ratio %-40s %.3f\n", label, a->second / b->second);
}

// Median and 99th percentile of back-to-back calls, each timed alone.
// Returns the median.
double printLatency(const char* label, int samples, const std::function<void()>& call) {
  std::vector<double> times(static_cast<size_t>(samples));
  for (int i = 0; i < samples / 10; ++i) call();  // warm-up
  for (double& time : times) {
    const auto start = std::chrono::steady_clock::now();
    call();
    time =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  }
  std::sort(times.begin(), times.end());
  std::printf("latency %-38s median %9.0f ns   p99 %9.0f ns\n", label, times[times.size() / 2],
              times[times.size() * 99 / 100]);
  return times[times.size() / 2];
}

// Processor time that idle workers use: every rmid opened so far waits for a
// request while the process sleeps.
void printIdleCost(double seconds) {
  const double before = processCpuSeconds();
  sleepSeconds(seconds);
  const double used = processCpuSeconds() - before;
  std::printf("idle    %d open rmids for %.1f s: %.3f ms of processor time\n", g_openRmids, seconds,
              used * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  if (!zp::moduleLoad(nullptr)) return 3;
  benchmark::Initialize(&argc, argv);
  if (GetXaSwitch(0, &g_switch) != 0 || !openUpTo(1)) {
    std::fprintf(stderr, "dtc_bench: the stand-in client XA library was not found\n");
    return 1;
  }
  if (std::getenv("ZP_SEMAPHORE_SPIN") != nullptr)
    std::printf(
        "dtc_bench: ZP_SEMAPHORE_SPIN: semaphore waits look at most %d times before blocking\n",
        zp::platform::spinCap(zp::platform::SpinCount::kMaxBudget));
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printRatio(reporter, "switch round trip / bare ping-pong", "BM_SwitchRoundTrip/1/real_time",
             "BM_BarePingPong/real_time");
  printRatio(reporter, "switch round trip / spinning ping-pong", "BM_SwitchRoundTrip/1/real_time",
             "BM_SpinningPingPong/real_time");
  printRatio(reporter, "switch round trip / direct client call", "BM_SwitchRoundTrip/1/real_time",
             "BM_DirectClientCall");
  printRatio(reporter, "1,024 rmids open / 1", "BM_SwitchRoundTrip/1024/real_time",
             "BM_SwitchRoundTrip/1/real_time");
  printRatio(reporter, "call serialisation / switch round trip", "BM_CallSerialisation",
             "BM_SwitchRoundTrip/1/real_time");
  printRatio(reporter, "first of 1,024 rmids / 1", "BM_SwitchRoundTripFirstRmid/real_time",
             "BM_SwitchRoundTrip/1/real_time");
  // Back-to-back calls on one rmid, beside the two ping-pongs.
  const int samples = std::getenv("ZP_BENCH_SAMPLES") != nullptr
                          ? std::atoi(std::getenv("ZP_BENCH_SAMPLES"))
                          : 20000;
  if (samples >= 100) {
    XID xid = benchXid();
    const double roundTrip = printLatency("switch round trip (rmid 1)", samples,
                                          [&] { g_switch->xa_start_entry(&xid, 1, TMNOFLAGS); });
    PingPong pair{zp::platform::semaphoreCreate(), zp::platform::semaphoreCreate(), {false}};
    uint32_t id = 0;
    if (pair.request != nullptr && pair.reply != nullptr &&
        zp::platform::threadStartDetached(answer, &pair, &id)) {
      const double bare = printLatency("semaphore ping-pong", samples, [&] {
        zp::platform::semaphoreRelease(pair.request);
        zp::platform::semaphoreWait(pair.reply);
      });
      pair.stop.store(true);
      zp::platform::semaphoreRelease(pair.request);
      zp::platform::semaphoreWait(pair.reply);
      std::printf("ratio   switch round trip / semaphore ping-pong, medians  %.3f\n",
                  roundTrip / bare);
    }
    SpinPair spinning;
    zp::platform::Thread* thread = zp::platform::threadStart(spinAnswer, &spinning, &id);
    if (thread != nullptr) {
      int turn = 0;
      const double floor = printLatency("spinning ping-pong", samples, [&] {
        spinning.turn.store(++turn, std::memory_order_release);
        while (spinning.turn.load(std::memory_order_acquire) == turn) {
        }
        ++turn;
      });
      spinning.stop.store(true);
      zp::platform::threadJoin(thread);
      std::printf("ratio   switch round trip / spinning ping-pong, medians   %.3f\n",
                  roundTrip / floor);
    }
  }
  const char* idle = std::getenv("ZP_BENCH_IDLE_SECONDS");
  const double idleSeconds = idle != nullptr ? std::atof(idle) : 10.0;
  if (idleSeconds > 0 && openUpTo(1024)) printIdleCost(idleSeconds);
  benchmark::Shutdown();
  return 0;
}
