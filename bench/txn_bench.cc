// Global transactions per second on the reference resource manager (in
// memory, its journal on a RAM folder), where the module's share of the time
// is largest: each transaction-manager thread opens two rmids (two
// databases, as the bank does) and runs start, end, start, end, prepare,
// prepare, commit, commit, without SQL. Through the client's own switch
// (direct), MQStart (mq) and GetXaSwitch (dtc), at 1, 4 and 16 threads; dtc
// once more with the semaphores' spin off (ZP_SEMAPHORE_SPIN=0) or capped
// (ZP_BENCH_SPIN_CAPS), for the processor time per transaction with and
// without it. Every configuration
// runs in a process of its own, the rounds rotate the order, and the table
// gives medians and the ratios to direct taken within each round.
// ZP_BENCH_TXN_TRANSACTIONS (default 20000) per run, ZP_BENCH_ROUNDS
// (default 3). Native POSIX target only.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <limits.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "zpor8dtc23/xa.h"

namespace {

constexpr long kFormatId = 0x5a54;  // "ZT"

// A switch and how a thread reaches the connection an rmid opened: the
// service-context accessor of the client, or of the module (by rmid for
// GetXaSwitch, by name for MQStart).
struct Switch {
  xa_switch_t* sw = nullptr;
  void* (*svcCtx)(char* dbname) = nullptr;
  void* (*dtcSvcCtx)(int rmid, char* dbname) = nullptr;
  int (*work)(void* svcCtx, const char* statement) = nullptr;
  bool mq = false;

  void* context(int rmid, char* dbname) const {
    return dtcSvcCtx != nullptr ? dtcSvcCtx(rmid, dbname) : svcCtx(dbname);
  }
};

bool loadSwitch(const std::string& tm, const std::string& folder, Switch* out) {
  // The client the module takes too: first on the library search path.
  zp::platform::Library* client = zp::platform::libraryLoad("libxa80.so");
  if (client == nullptr) return false;
  out->work = reinterpret_cast<int (*)(void*, const char*)>(
      zp::platform::librarySymbol(client, "refrm_work"));
  if (tm == "direct") {
    out->sw = static_cast<xa_switch_t*>(zp::platform::librarySymbol(client, "xaosw"));
    out->svcCtx =
        reinterpret_cast<void* (*)(char*)>(zp::platform::librarySymbol(client, "xaoSvcCtx"));
    return out->sw != nullptr && out->svcCtx != nullptr && out->work != nullptr;
  }
  zp::platform::Library* module = zp::platform::libraryLoad((folder + "/libzpor8dtc23.so").c_str());
  if (module == nullptr) return false;
  if (tm == "mq") {
    out->mq = true;
    auto start =
        reinterpret_cast<xa_switch_t* (*)()>(zp::platform::librarySymbol(module, "MQStart"));
    if (start != nullptr) out->sw = start();
    out->svcCtx =
        reinterpret_cast<void* (*)(char*)>(zp::platform::librarySymbol(module, "hkMQXaoSvcCtx"));
  } else {
    auto get = reinterpret_cast<int32_t (*)(uint32_t, xa_switch_t**)>(
        zp::platform::librarySymbol(module, "GetXaSwitch"));
    if (get != nullptr && get(0, &out->sw) != 0) out->sw = nullptr;
    out->dtcSvcCtx =
        reinterpret_cast<void* (*)(int, char*)>(zp::platform::librarySymbol(module, "hkXaoSvcCtx"));
  }
  return out->sw != nullptr && (out->svcCtx != nullptr || out->dtcSvcCtx != nullptr) &&
         out->work != nullptr;
}

struct Run {
  Switch target;
  int threads;
  long transactions;
  std::mutex mutex;
  std::condition_variable changed;
  int ready = 0;
  bool go = false;
  std::atomic<int> failures{0};
  std::atomic<int> firstFailure{0};  // step * 100 - result of the first failed call
};

// Counts a failed step; keeps the first one for the message.
bool check(Run* run, int step, int result, int wanted = XA_OK) {
  if (result == wanted) return true;
  int none = 0;
  run->firstFailure.compare_exchange_strong(none, step * 100 - result);
  return false;
}

XID makeXid(int thread, long number, int branch) {
  XID xid;
  std::memset(&xid, 0, sizeof xid);
  xid.formatID = kFormatId;
  const int gtrid = std::snprintf(xid.data, sizeof xid.data, "t%d-%ld", thread, number);
  xid.gtrid_length = gtrid;
  xid.bqual_length = 1;
  xid.data[gtrid] = static_cast<char>('a' + branch);
  return xid;
}

// One transaction-manager thread: its two rmids, then its share of the
// transactions once every thread is ready.
void threadMain(Run* run, int index) {
  const int rmid[2] = {1 + 2 * index, 2 + 2 * index};
  xa_switch_t* sw = run->target.sw;
  bool opened = true;
  void* context[2] = {nullptr, nullptr};
  for (int i = 0; i < 2; ++i) {
    std::string db = "rm" + std::to_string(rmid[i]);
    std::string info =
        std::string("ORACLE_XA+SqlNet=") + (i == 0 ? "bank_a" : "bank_b") + "+DB=" + db;
    opened = opened && check(run, 1, sw->xa_open_entry(&info[0], rmid[i], TMNOFLAGS));
    // MQStart's open gives the client the name with the process and thread ids.
    std::string name = db;
    if (run->target.svcCtx != nullptr && run->target.mq)
      name += std::to_string(zp::platform::currentProcessId()) +
              std::to_string(zp::platform::currentThreadId());
    if (opened) context[i] = run->target.context(rmid[i], &name[0]);
    opened = opened && check(run, 2, context[i] != nullptr ? XA_OK : XAER_RMERR);
  }
  {
    std::unique_lock<std::mutex> lock(run->mutex);
    ++run->ready;
    run->changed.notify_all();
    if (!run->changed.wait_for(lock, std::chrono::seconds(60), [run] { return run->go; }))
      opened = false;
  }
  if (!opened) {
    run->failures.fetch_add(1);
    return;
  }
  for (long n = index; n < run->transactions; n += run->threads) {
    XID xid[2] = {makeXid(index, n, 0), makeXid(index, n, 1)};
    bool ok = true;
    for (int i = 0; i < 2; ++i) {
      ok = ok && check(run, 3, sw->xa_start_entry(&xid[i], rmid[i], TMNOFLAGS));
      ok = ok && check(run, 4, run->target.work(context[i], "UPDATE accounts"));
      ok = ok && check(run, 5, sw->xa_end_entry(&xid[i], rmid[i], TMSUCCESS));
    }
    for (int i = 0; i < 2; ++i)
      ok = ok && check(run, 6, sw->xa_prepare_entry(&xid[i], rmid[i], TMNOFLAGS));
    for (int i = 0; i < 2; ++i)
      ok = ok && check(run, 7, sw->xa_commit_entry(&xid[i], rmid[i], TMNOFLAGS));
    if (!ok) run->failures.fetch_add(1);
  }
  char empty[] = "";
  for (int i = 0; i < 2; ++i) sw->xa_close_entry(empty, rmid[i], TMNOFLAGS);
}

double cpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The child: one configuration; prints "TPS CPU_MICROSECONDS_PER_TRANSACTION".
int runChild(const std::string& tm, int threads, long transactions, const std::string& folder) {
  Switch target;
  if (!loadSwitch(tm, folder, &target)) {
    std::fprintf(stderr, "txn_bench: no switch for %s\n", tm.c_str());
    return 1;
  }
  Run run;
  run.target = target;
  run.threads = threads;
  run.transactions = transactions;
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) workers.emplace_back(threadMain, &run, i);
  {
    std::unique_lock<std::mutex> lock(run.mutex);
    run.changed.wait_for(lock, std::chrono::seconds(60), [&] { return run.ready == threads; });
    run.go = true;
    run.changed.notify_all();
  }
  const double cpuBefore = cpuSeconds();
  const auto started = std::chrono::steady_clock::now();
  for (std::thread& worker : workers) worker.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double cpu = cpuSeconds() - cpuBefore;
  if (run.failures.load() != 0) {
    // Steps: 1 open, 2 service context, 3 start, 4 work, 5 end, 6 prepare, 7 commit.
    const int first = run.firstFailure.load();
    std::fprintf(stderr, "txn_bench: %s at %d threads: %d failure(s), the first at step %d: %d\n",
                 tm.c_str(), threads, run.failures.load(), (first + 50) / 100,
                 (first + 50) / 100 * 100 - first);
    return 1;
  }
  std::printf("%.1f %.2f\n", transactions / seconds, cpu * 1e6 / transactions);
  return 0;
}

long envNumber(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && std::atol(value) > 0 ? std::atol(value) : fallback;
}

std::string median(std::vector<double> values) {
  if (values.empty()) return "-";
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  const double m = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  char text[32];
  std::snprintf(text, sizeof text, m >= 100 ? "%.0f" : "%.3f", m);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return 1;
  self[length] = '\0';
  std::string folder(self);
  folder.erase(folder.rfind('/'));
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0)
    return runChild(argv[2], std::atoi(argv[3]), std::atol(argv[4]), folder);

  const long transactions = envNumber("ZP_BENCH_TXN_TRANSACTIONS", 20000);
  const int rounds = static_cast<int>(envNumber("ZP_BENCH_ROUNDS", 3));
  // The switches, then GetXaSwitch again with its semaphores' spin capped at
  // each of ZP_BENCH_SPIN_CAPS (looks before blocking, 0: no spin; default
  // "0 256": none, and the pause phase alone, without the yielding looks).
  std::vector<std::string> tms = {"direct", "mq", "dtc"};
  std::vector<std::string> caps;
  {
    const char* list = std::getenv("ZP_BENCH_SPIN_CAPS");
    std::string text = list != nullptr ? list : "0 256";
    for (size_t at = 0; at < text.size();) {
      const size_t end = std::min(text.find(' ', at), text.size());
      if (end > at) {
        caps.push_back(text.substr(at, end - at));
        tms.push_back("dtc-spin" + caps.back());
      }
      at = end + 1;
    }
  }
  const int kinds = static_cast<int>(tms.size());
  const int threadCounts[] = {1, 4, 16};
  // results[threads][tm]: per round, tps and processor time per transaction.
  std::map<int, std::map<std::string, std::vector<std::pair<double, double>>>> results;
  bool failed = false;
  for (int round = 0; round < rounds && !failed; ++round) {
    for (int threads : threadCounts) {
      for (int k = 0; k < kinds && !failed; ++k) {
        const int kind = (k + round) % kinds;
        const std::string& tm = tms[static_cast<size_t>(kind)];
        const bool spin = kind < 3;
        // A journal of its own for every run: the reference resource manager
        // replays the whole journal at every open.
        char journal[] = "/dev/shm/zp-txn-bench.XXXXXX";
        char fallback[] = "/tmp/zp-txn-bench.XXXXXX";
        const char* journalDir = mkdtemp(journal);
        if (journalDir == nullptr) journalDir = mkdtemp(fallback);
        if (journalDir == nullptr) return 1;
        const std::string command =
            "ZP_REFRM_JOURNAL_DIR=" + std::string(journalDir) + " LD_LIBRARY_PATH=" + folder +
            "/../refrm" +
            (spin ? "" : " ZP_SEMAPHORE_SPIN=" + caps[static_cast<size_t>(kind - 3)]) +
            " timeout 300 " + self + " --child " + (spin ? tm : "dtc") + " " +
            std::to_string(threads) + " " + std::to_string(transactions);
        FILE* child = popen(command.c_str(), "r");
        double tps = 0, cpu = 0;
        const bool read = child != nullptr && std::fscanf(child, "%lf %lf", &tps, &cpu) == 2;
        const bool ended = child != nullptr && pclose(child) == 0;
        std::system(("rm -rf " + std::string(journalDir)).c_str());
        if (!ended || !read) {
          std::fprintf(stderr, "txn_bench: %s\n", command.c_str());
          failed = true;
          break;
        }
        results[threads][tm].push_back({tps, cpu});
      }
    }
  }
  if (failed) return 1;
  std::printf(
      "reference resource manager, in memory: %ld transactions per run, median of %d rounds\n",
      transactions, rounds);
  std::printf("%7s %-13s %12s %8s %16s\n", "threads", "switch", "transactions/s", "ratio",
              "cpu us/transaction");
  for (int threads : threadCounts) {
    const auto& byTm = results[threads];
    for (const std::string& tm : tms) {
      const auto& runs = byTm.at(tm);
      std::vector<double> tps, ratio, cpu;
      for (size_t r = 0; r < runs.size(); ++r) {
        tps.push_back(runs[r].first);
        cpu.push_back(runs[r].second);
        ratio.push_back(runs[r].first / byTm.at("direct")[r].first);
      }
      std::printf("%7d %-13s %14s %8s %16s\n", threads, tm.c_str(), median(tps).c_str(),
                  median(ratio).c_str(), median(cpu).c_str());
    }
  }
  return 0;
}

#else

int main() {
  std::printf("txn_bench: the POSIX target only\n");
  return 0;
}

#endif
