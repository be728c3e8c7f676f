// The reference trace library (zptrace) behind MQStart's switch: a traced
// transaction on several threads at once leaves one readable, whole line per
// record in the log file, each with the right process and thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "journal_lines.h"
#include "mq_test_support.h"
#include "platform/platform.h"
#include "testlib/threads.h"
#include "trace/trace_binding.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {
namespace {

struct LogLine {
  unsigned long pid;
  unsigned long tid;
  std::string kind;
  std::string function;
  std::string text;
};

// Every line of the log; a line that does not have the expected shape fails
// the test and is left out.
std::vector<LogLine> readLog(const char* file) {
  static const std::regex kShape(
      R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} pid (\d+) tid (\d+) (\S+) +(\S+) ?(.*)$)");
  std::vector<LogLine> lines;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch match;
    if (!std::regex_match(line, match, kShape)) {
      ADD_FAILURE() << "unreadable line: " << line;
      continue;
    }
    lines.push_back({std::stoul(match[1]), std::stoul(match[2]), match[3], match[4], match[5]});
  }
  return lines;
}

int openWith(xa_switch_t* sw, const std::string& info) {
  std::vector<char> text(info.begin(), info.end());
  text.push_back('\0');
  return sw->xa_open_entry(text.data(), 3, TMNOFLAGS);
}

TEST(MqSwitch_xa80, ReferenceLibraryWritesWholeLinesFromManyThreads) {
  constexpr int kThreads = 4;
  const char* log = "zptrace_threads_test.log";
  std::remove(log);
  xa_switch_t* sw = MQStart();
  const std::string options = test::traceOptions(test::kReferenceTrace, log);
  ASSERT_EQ(openWith(sw, "ORACLE_XA+Acc=P/scott/tiger" + options), XA_OK);

  std::vector<unsigned long> threadIds(kThreads);
  test::runConcurrently(kThreads, [&](int index) {
    threadIds[index] = platform::currentThreadId();
    XID xid = test::knownXid();
    sw->xa_start_entry(&xid, 3, TMNOFLAGS);
    sw->xa_end_entry(&xid, 3, TMSUCCESS);
    sw->xa_prepare_entry(&xid, 3, TMNOFLAGS);
    sw->xa_commit_entry(&xid, 3, TMNOFLAGS);
  });

  const std::vector<LogLine> lines = readLog(log);
  std::map<unsigned long, std::vector<std::string>> byThread;
  for (const LogLine& line : lines) {
    EXPECT_EQ(line.pid, platform::currentProcessId()) << line.text;
    byThread[line.tid].push_back(line.kind + " " + line.function + " " + line.text);
  }
  // Each thread's records are whole and in the order it wrote them.
  std::vector<std::string> expected;
  const char* calls[][2] = {{"or8_mq_xa_start", "rmid: 3 flags: 0x00000000"},
                            {"or8_mq_xa_end", "rmid: 3 flags: 0x04000000"},
                            {"or8_mq_xa_prepare", "rmid: 3 flags: 0x00000000"},
                            {"or8_mq_xa_commit", "rmid: 3 flags: 0x00000000"}};
  for (const auto& call : calls) {
    const std::string function = call[0];
    expected.push_back("ENTRY " + function + " " + call[1]);
    for (const std::string& data : test::knownXidLines(function)) {
      // "data <function>: <text>" as the stand-in keeps it; here the text alone.
      expected.push_back("DATA " + function + " " + data.substr(data.find(": ") + 2));
    }
    expected.push_back("EXIT " + function + " rc = 0");
  }
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(byThread[threadIds[i]], expected) << "thread " << i;
  }
  const std::vector<std::string>& opener = byThread[platform::currentThreadId()];
  ASSERT_EQ(opener.size(), 4u);
  EXPECT_EQ(opener[0], std::string("OPEN zptrace ") + log);
  EXPECT_EQ(opener[1], "INIT zptrace ");
  EXPECT_EQ(opener[2], "ENTRY or8_mq_xa_open xa_info: ORACLE_XA+Acc=P/scott/****" + options +
                           " rmid: 3 flags: 0x00000000");
  EXPECT_EQ(opener[3], "EXIT or8_mq_xa_open rc = 0");
}

TEST(MqSwitch_xa80, ReferenceLibraryDefaultsToItsOwnLogFile) {
  const char* defaultLog = "zptrace.log";
  std::remove(defaultLog);
  ASSERT_EQ(openWith(MQStart(), "ORACLE_XA" + test::traceOptions(test::kReferenceTrace, "")),
            XA_OK);
  const std::vector<LogLine> lines = readLog(defaultLog);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].kind + " " + lines[0].text, std::string("OPEN ") + defaultLog);
  EXPECT_EQ(lines[3].kind + " " + lines[3].function, "EXIT or8_mq_xa_open");
}

#if !defined(_WIN32)
// Waits until done() holds or ten seconds have passed; returns whether it came
// in time. When it did not, a reader of the FIFO is opened and drained until
// done() holds, so that a thread waiting in an open of it ends and the test
// fails instead of hanging.
bool doneInTime(const char* fifo, const std::function<bool()>& done) {
  const int64_t deadline = platform::monotonicNanoseconds() + 10LL * 1000 * 1000 * 1000;
  while (!done() && platform::monotonicNanoseconds() < deadline) test::yieldThread();
  if (done()) return true;
  signal(SIGPIPE, SIG_IGN);
  const int reader = open(fifo, O_RDONLY | O_NONBLOCK);
  char drained[4096];
  while (reader >= 0 && !done()) {
    if (read(reader, drained, sizeof drained) <= 0) test::yieldThread();
  }
  if (reader >= 0) close(reader);
  return false;
}

// A FIFO in place of the trace log, for the test's length.
class TraceLogFifo {
 public:
  explicit TraceLogFifo(const char* path) : path_(path) {
    std::remove(path_);
    made_ = mkfifo(path_, 0600) == 0;
  }
  ~TraceLogFifo() { std::remove(path_); }
  TraceLogFifo(const TraceLogFifo&) = delete;
  TraceLogFifo& operator=(const TraceLogFifo&) = delete;
  bool made() const { return made_; }

 private:
  const char* path_;
  bool made_ = false;
};
#endif

// A FIFO named as the trace log: the open refuses it at once (tracing ends
// off, the client is opened all the same), and another thread's untraced
// calls never wait for the binding.
TEST(MqSwitch_xa80, TraceLogFifoIsRefusedWithoutWaiting) {
#if defined(_WIN32)
  GTEST_SKIP() << "no FIFOs on this target";
#else
  constexpr int kCalls = 1000;
  const char* fifo = "trace_log_fifo";
  TraceLogFifo made(fifo);
  ASSERT_TRUE(made.made());
  xa_switch_t* sw = MQStart();
  ASSERT_EQ(openWith(sw, "ORACLE_XA+Acc=P/scott/tiger"), XA_OK);
  struct Shared {
    xa_switch_t* sw;
    std::string info;
    std::atomic<int> opened{0};
    std::atomic<int> result{0};
    std::atomic<int> calls{0};
  } shared;
  shared.sw = sw;
  shared.info = "ORACLE_XA+Acc=P/scott/tiger" + test::traceOptions(test::kReferenceTrace, fifo);
  auto opener = [](void* argument) -> uint32_t {
    auto* data = static_cast<Shared*>(argument);
    data->result = openWith(data->sw, data->info);
    data->opened = 1;
    return 0;
  };
  auto caller = [](void* argument) -> uint32_t {
    auto* data = static_cast<Shared*>(argument);
    for (int i = 0; i < kCalls; ++i) {
      XID xid = test::knownXid();
      data->sw->xa_start_entry(&xid, 3, TMNOFLAGS);
      data->sw->xa_end_entry(&xid, 3, TMSUCCESS);
      data->calls.fetch_add(1);
    }
    return 0;
  };
  uint32_t ids[2];
  platform::Thread* threads[2] = {platform::threadStart(opener, &shared, &ids[0]),
                                  platform::threadStart(caller, &shared, &ids[1])};
  ASSERT_NE(threads[0], nullptr);
  ASSERT_NE(threads[1], nullptr);
  EXPECT_TRUE(doneInTime(fifo, [&shared] { return shared.opened == 1 && shared.calls == kCalls; }))
      << "opened " << shared.opened << " (the open waited for a reader of the trace log), calls "
      << shared.calls << " of " << kCalls << " (untraced calls waited for the binding)";
  platform::threadJoin(threads[0]);
  platform::threadJoin(threads[1]);
  EXPECT_EQ(shared.result.load(), XA_OK);
  EXPECT_EQ(g_traceContext.enabled.load(), 0) << "tracing stays off";
  EXPECT_EQ(g_traceContext.library.load(), nullptr);
#endif
}

// The reference trace library itself never waits in TraceOpenLogFile either:
// a FIFO (here without a reader) is refused at once.
TEST(MqSwitch_xa80, ReferenceLibraryRefusesAFifoWithoutWaiting) {
#if defined(_WIN32)
  GTEST_SKIP() << "no FIFOs on this target";
#else
  const char* fifo = "zptrace_fifo";
  TraceLogFifo made(fifo);
  ASSERT_TRUE(made.made());
  platform::Library* library = platform::libraryLoad(test::kReferenceTrace);
  ASSERT_NE(library, nullptr);
  struct Shared {
    TraceOpenLogFileFn openLog;
    const char* fifo;
    std::atomic<int> opened{0};
    std::atomic<int> status{-1};
  } shared;
  shared.openLog =
      reinterpret_cast<TraceOpenLogFileFn>(platform::librarySymbol(library, "TraceOpenLogFile"));
  shared.fifo = fifo;
  ASSERT_NE(shared.openLog, nullptr);
  auto opener = [](void* argument) -> uint32_t {
    auto* data = static_cast<Shared*>(argument);
    char scratch[kTraceScratchSize];
    data->status = data->openLog(data->fifo, scratch, kTraceScratchSize);
    data->opened = 1;
    return 0;
  };
  uint32_t id;
  platform::Thread* thread = platform::threadStart(opener, &shared, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(doneInTime(fifo, [&shared] { return shared.opened == 1; }))
      << "TraceOpenLogFile waited for a reader";
  platform::threadJoin(thread);
  EXPECT_NE(shared.status.load(), kTraceLogOpened) << "a FIFO is not taken as the log";
  platform::libraryUnload(library);
#endif
}

}  // namespace
}  // namespace zp
