// The cost of one call through the GetXaSwitch switch against the stand-in
// client, beside what it is made of: a bare request/reply ping-pong between
// two threads over the same platform semaphores, and a direct call through
// the client's switch. Then the same call with 1, 16, 256 and 1,024 rmids
// open. The stand-in client must be on the library search path
// (run_benchmarks.sh sees to it).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "module/libmain.h"
#include "platform/platform.h"
#include "xa/client_library.h"
#include "xa/rm_worker.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace {

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
  for (auto _ : state) benchmark::DoNotOptimize(zp::find_rm_worker(rmids, &worker));
}
BENCHMARK(BM_FindWorker)->Arg(1)->Arg(1024);

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

}  // namespace

int main(int argc, char** argv) {
  if (!zp::moduleLoad(nullptr)) return 3;
  benchmark::Initialize(&argc, argv);
  if (GetXaSwitch(0, &g_switch) != 0 || !openUpTo(1)) {
    std::fprintf(stderr, "dtc_bench: the stand-in client XA library was not found\n");
    return 1;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printRatio(reporter, "switch round trip / bare ping-pong", "BM_SwitchRoundTrip/1/real_time",
             "BM_BarePingPong/real_time");
  printRatio(reporter, "switch round trip / direct client call", "BM_SwitchRoundTrip/1/real_time",
             "BM_DirectClientCall");
  printRatio(reporter, "1,024 rmids open / 1", "BM_SwitchRoundTrip/1024/real_time",
             "BM_SwitchRoundTrip/1/real_time");
  printRatio(reporter, "first of 1,024 rmids / 1", "BM_SwitchRoundTripFirstRmid/real_time",
             "BM_SwitchRoundTrip/1/real_time");
  benchmark::Shutdown();
  return 0;
}
