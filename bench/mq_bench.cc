// The cost of MQStart's wrappers: each one with tracing off against the same
// call made directly through the client's xaosw (target: at most 1.10 times),
// and a traced start writing through the reference trace library to a file.
// Also what the diagnostic log costs a call: its level check alone while it
// is off, and a start with the log on at the normal level (nothing written).
// Runs from the bench build's bin folder, with the stand-in client of
// ../clients/xa80 as the client library.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "module/diag_log.h"
#include "module/libmain.h"
#include "platform/platform.h"
#include "trace/trace_binding.h"
#include "xa/client_library.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace {

constexpr char kClientPath[] = "../clients/xa80/libxa80.so";
constexpr int kRmid = 1;

xa_switch_t* g_module;  // MQStart's switch
xa_switch_t* g_client;  // the client's xaosw
XID g_xid;
XID g_xids[4];
int g_handle;
int g_retval;
char g_openString[] = "ORACLE_XA+Acc=P/user/pw+SesTm=30+DB=BENCH";
char g_filtered[] = "ORACLE_XA+Acc=P/user/pw+SesTm=30+DB=BENCH123456";
char g_closeString[] = "ORACLE_XA";

// Calls one switch entry with fixed arguments.
int call_entry(xa_switch_t* sw, int operation) {
  switch (operation) {
    case 0:
      return sw->xa_open_entry(sw == g_client ? g_filtered : g_openString, kRmid, 0);
    case 1:
      return sw->xa_close_entry(g_closeString, kRmid, 0);
    case 2:
      return sw->xa_start_entry(&g_xid, kRmid, 0);
    case 3:
      return sw->xa_end_entry(&g_xid, kRmid, TMSUCCESS);
    case 4:
      return sw->xa_rollback_entry(&g_xid, kRmid, 0);
    case 5:
      return sw->xa_prepare_entry(&g_xid, kRmid, 0);
    case 6:
      return sw->xa_commit_entry(&g_xid, kRmid, 0);
    case 7:
      return sw->xa_recover_entry(g_xids, 4, kRmid, TMSTARTRSCAN);
    case 8:
      return sw->xa_forget_entry(&g_xid, kRmid, 0);
    default:
      return sw->xa_complete_entry(&g_handle, &g_retval, kRmid, 0);
  }
}

const char* const kOperations[] = {"open",    "close",  "start",   "end",    "rollback",
                                   "prepare", "commit", "recover", "forget", "complete"};
constexpr int kOperationCount = 10;

void BM_Direct(benchmark::State& state) {
  const int operation = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(call_entry(g_client, operation));
}

void BM_MqUntraced(benchmark::State& state) {
  const int operation = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(call_entry(g_module, operation));
}

// What every switch call adds while the diagnostic log is off.
void BM_DiagLogOffCheck(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(zp::diag_log_level() != zp::kDiagOff);
}

// A successful start with the log on at the normal level: nothing is written.
void BM_MqLogNormal(benchmark::State& state) {
  zp::platform::environmentSet(zp::kDiagLogVariable, "mq_bench_diag.log");
  zp::diag_log_start();
  if (zp::diag_log_level() == zp::kDiagOff) {
    state.SkipWithError("the diagnostic log did not start");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(call_entry(g_module, 2));
  zp::diag_log_stop();
  zp::platform::environmentSet(zp::kDiagLogVariable, nullptr);
}

// Registered last: once on, tracing stays on for the process.
void BM_MqTracedStart(benchmark::State& state) {
  if (zp::g_traceContext.enabled.load() == 0) {
    char open[] =
        "ORACLE_XA+Trace=2+TraceDll64=./libzptrace.so+TraceDll32=zptrace.dll"
        "+TraceFile=mq_bench_trace.log";
    if (g_module->xa_open_entry(open, kRmid, 0) != XA_OK ||
        zp::g_traceContext.enabled.load() == 0) {
      state.SkipWithError("tracing did not start");
      return;
    }
  }
  for (auto _ : state) benchmark::DoNotOptimize(call_entry(g_module, 2));
}

// Keeps each run's processor time per iteration for the ratios: on a shared
// machine it varies less than the wall-clock time.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  // The median of the repetitions when there were any.
  double time(const std::string& name) const {
    auto found = times_.find(name + "_median");
    if (found == times_.end()) found = times_.find(name);
    return found == times_.end() ? 0 : found->second;
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  if (!zp::moduleLoad(nullptr)) return 3;
  // Loaded by path first, the stand-in is what the module's search by file
  // name then finds.
  if (zp::platform::libraryLoad(kClientPath) == nullptr) {
    std::fprintf(stderr, "mq_bench: cannot load %s\n", kClientPath);
    return 1;
  }
  g_module = MQStart();
  char first[] = "ORACLE_XA+DB=BENCH";
  if (g_module->xa_open_entry(first, kRmid, 0) != XA_OK || zp::client_switch() == nullptr) {
    std::fprintf(stderr, "mq_bench: the client did not open\n");
    return 1;
  }
  g_client = zp::client_switch();
  g_xid.formatID = 1;
  g_xid.gtrid_length = 8;
  g_xid.bqual_length = 8;

  for (int i = 0; i < kOperationCount; ++i) {
    benchmark::RegisterBenchmark((std::string("direct/") + kOperations[i]).c_str(), BM_Direct)
        ->Arg(i);
    benchmark::RegisterBenchmark((std::string("mq/") + kOperations[i]).c_str(), BM_MqUntraced)
        ->Arg(i);
  }
  benchmark::RegisterBenchmark("diag_log_off/level_check", BM_DiagLogOffCheck);
  benchmark::RegisterBenchmark("mq_diag_log_normal/start", BM_MqLogNormal);
  benchmark::RegisterBenchmark("mq_traced_reference_file/start", BM_MqTracedStart);
  // Five repetitions unless the command line says otherwise; the ratios use
  // their medians.
  std::vector<char*> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=5";
  char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
  bool repetitionsGiven = false;
  for (char* arg : args) repetitionsGiven |= std::strstr(arg, "benchmark_repetitions") != nullptr;
  if (!repetitionsGiven) {
    args.push_back(repetitions);
    args.push_back(aggregatesOnly);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf(
      "\nProcessor time of MQStart's wrappers, tracing off, against a direct call\n"
      "through xaosw (target <= 1.10):\n");
  for (int i = 0; i < kOperationCount; ++i) {
    const std::string arg = "/" + std::to_string(i);
    const double direct = reporter.time(std::string("direct/") + kOperations[i] + arg);
    const double mq = reporter.time(std::string("mq/") + kOperations[i] + arg);
    if (direct > 0) std::printf("  %-9s %6.2f\n", kOperations[i], mq / direct);
  }
  const double directStart = reporter.time("direct/start/2");
  const double check = reporter.time("diag_log_off/level_check");
  const double mqStart = reporter.time("mq/start/2");
  const double logNormal = reporter.time("mq_diag_log_normal/start");
  if (check > 0) std::printf("Diagnostic log off: its check costs %.2f ns a call\n", check);
  if (mqStart > 0 && logNormal > 0) {
    std::printf("Start with the diagnostic log on (normal level) against log off: %.2f\n",
                logNormal / mqStart);
  }
  const double traced = reporter.time("mq_traced_reference_file/start");
  if (directStart > 0 && traced > 0) {
    std::printf("Traced start (reference trace library, log file) against a direct call: %.2f\n",
                traced / directStart);
  }
  benchmark::Shutdown();
  return 0;
}
