// Every failure point of MQStart's switch, swept one at a time: the open
// (loading the client, untraced, traced with a first binding and with a
// rebinding), the nine other wrappers untraced and traced, the accessors and
// the trace record writers. Each run gives the result its wrapper documents,
// writes no record a clean run would not write, leaves nothing allocated, and
// the next call works. Each case runs in a process of its own.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "journal_lines.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "testlib/client_standin_control.h"
#include "testlib/fault_sweep.h"
#include "trace/trace_binding.h"
#include "trace/trace_records.h"
#include "xa/client_library.h"
#include "xa/open_string.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {
namespace {

using Lines = std::vector<std::string>;
using test::FaultRun;
using test::FaultSweepEntry;
using test::StandinControl;

constexpr int kRmid = 5;
constexpr char kPlainOpen[] = "ORACLE_XA+Acc=P/scott/tiger+DB=ORCL";

std::string tracedOpenString(const std::string& logFile = "mq.log") {
  return std::string("ORACLE_XA+Acc=P/scott/tiger+Trace=2+") + kTraceDllKeyword + "=" +
         test::kTraceStub + "+TraceFile=" + logFile + "+DB=ORCL";
}

int openWith(const std::string& info) {
  std::vector<char> text(info.begin(), info.end());
  text.push_back('\0');
  return MQStart()->xa_open_entry(text.data(), kRmid, TMNOFLAGS);
}

size_t clientCalls() { return StandinControl::loaded().calls().size(); }

// The records (entry, data, exit) in the journal.
Lines records() { return test::journalLinesStartingWith({"entry ", "data ", "exit "}); }

// True when every line of part appears in whole, in the same order.
bool isSubsequence(const Lines& part, const Lines& whole) {
  size_t at = 0;
  for (const std::string& line : part) {
    while (at < whole.size() && whole[at] != line) ++at;
    if (at == whole.size()) return false;
    ++at;
  }
  return true;
}

// Compares a run's records with those of the entry's clean run: a clean run
// keeps them as the reference, a faulted run may only leave some out.
class RecordReference {
 public:
  void check(const FaultRun& run, const Lines& lines) {
    if (run.clean()) {
      clean_ = lines;
      return;
    }
    EXPECT_TRUE(isSubsequence(lines, clean_))
        << run.row << ": records a clean run does not write:\n"
        << test::journalText();
  }

 private:
  Lines clean_;
};

// The client loader back in its state at load, as in a new process: the next
// open loads the client library again.
void forgetClientLibrary() {
  platform::libraryUnload(g_clientXaLibrary.module.exchange(nullptr));
  g_clientXaLibrary.switchPointer.store(nullptr);
  g_clientXaLibrary.closeStringFlag.store(0);
}

void expectOpenWorks(const std::string& row) {
  EXPECT_EQ(openWith(kPlainOpen), XA_OK) << row << ": next open";
}

TEST(MqFaults_xa80, SwitchEntryPoints) {
  // Handing out a switch allocates and loads nothing: no failure point.
  struct Row {
    const char* name;
    std::function<long long()> call;
  } rows[] = {
      {"MQStart", [] { return MQStart() != nullptr ? 1LL : 0LL; }},
      {"GetXaSwitch",
       [] {
         xa_switch_t* sw = nullptr;
         return GetXaSwitch(0, &sw) == 0 && sw != nullptr ? 1LL : 0LL;
       }},
  };
  for (const Row& row : rows) {
    FaultSweepEntry entry;
    entry.name = row.name;
    entry.run = row.call;
    entry.check = [](const FaultRun& run, long long result) { EXPECT_EQ(result, 1) << run.row; };
    const test::FaultSweepCounts counts = test::sweepFaults(entry);
    EXPECT_EQ(test::describeCounts(counts), "no failure point") << row.name;
  }
}

TEST(MqFaults_xa80, OpenThatLoadsTheClient) {
  // Every failure while the client is found answers XAER_RMERR; the loader
  // stays able to load, so the next open works.
  FaultSweepEntry entry;
  entry.name = "MQ xa_open loading the client";
  entry.prepare = forgetClientLibrary;
  entry.run = [] { return openWith(kPlainOpen); };
  entry.check = [](const FaultRun& run, long long result) {
    if (run.clean()) {
      EXPECT_EQ(result, XA_OK) << run.row;
      return;
    }
    EXPECT_EQ(result, XAER_RMERR) << run.row;
    EXPECT_EQ(client_switch(), nullptr) << run.row;
  };
  entry.worksAgain = expectOpenWorks;
  const test::FaultSweepCounts counts = test::sweepFaults(entry);
  EXPECT_EQ(counts.reached[static_cast<int>(fault::Point::kLibraryLoad)], 1u);
  EXPECT_EQ(counts.reached[static_cast<int>(fault::Point::kLibrarySymbol)], 1u);
  test::expectSweepComplete(counts, "load");
}

TEST(MqFaults_xa80, UntracedOpen) {
  // The client is loaded by the first (clean) run; the open's own buffers
  // are all it can fail on, and then the client is not called.
  FaultSweepEntry entry;
  entry.name = "MQ xa_open";
  size_t callsBefore = 0;
  entry.prepare = [&callsBefore] { callsBefore = client_switch() == nullptr ? 0 : clientCalls(); };
  entry.run = [] { return openWith(kPlainOpen); };
  entry.check = [&callsBefore](const FaultRun& run, long long result) {
    const bool clientCalled = clientCalls() > callsBefore;
    if (run.clean()) {
      EXPECT_EQ(result, XA_OK) << run.row;
      return;
    }
    EXPECT_EQ(result, XAER_RMERR) << run.row;
    EXPECT_FALSE(clientCalled) << run.row;
  };
  entry.worksAgain = expectOpenWorks;
  const test::FaultSweepCounts counts = test::sweepFaults(entry);
  EXPECT_EQ(counts.reached[static_cast<int>(fault::Point::kAllocation)], 2u);
  test::expectSweepComplete(counts, "open");
}

// The traced open, rebinding (a library is bound before each run) or binding
// first (none is).
void sweepTracedOpen(const char* name, bool unbindFirst) {
  RecordReference reference;
  FaultSweepEntry entry;
  entry.name = name;
  entry.prepare = [unbindFirst] {
    if (unbindFirst) trace_unbind(&g_traceContext);
    zp_journal_reset();
  };
  entry.run = [] { return openWith(tracedOpenString()); };
  std::string cleanText;
  entry.check = [&reference, &cleanText](const FaultRun& run, long long result) {
    // Only the open's own buffers fail the open; a failed binding leaves it
    // untraced, and a failed masking leaves its entry record out. The client
    // receives the same string whatever the tracing did.
    const bool buffer = !run.clean() && run.point == fault::Point::kAllocation && run.nth <= 2;
    EXPECT_EQ(result, buffer ? XAER_RMERR : XA_OK) << run.row;
    reference.check(run, records());
    const std::string text = StandinControl::loaded().calls().back().text;
    if (run.clean()) cleanText = text;
    if (!buffer) {
      EXPECT_EQ(text, cleanText) << run.row;
    }
    if (!run.clean() && !buffer && !run.persistent) {
      // Failed once, the fallback binding takes over.
      EXPECT_NE(g_traceContext.library.load(), nullptr) << run.row;
    }
  };
  entry.worksAgain = [](const std::string& row) {
    zp_journal_reset();
    EXPECT_EQ(openWith(tracedOpenString()), XA_OK) << row << ": next open";
    EXPECT_NE(g_traceContext.library.load(), nullptr) << row << ": bound again";
    EXPECT_EQ(g_traceContext.enabled.load(), 1) << row << ": tracing again";
    const Lines lines = records();
    ASSERT_EQ(lines.size(), 2u) << row << ": next open's records\n" << test::journalText();
    EXPECT_EQ(lines[1], "exit or8_mq_xa_open: rc = 0") << row;
  };
  test::expectSweepComplete(test::sweepFaults(entry), name);
}

TEST(MqFaults_xa80, TracedOpenLoadingTheClient) {
  // The first traced open of a process binds the trace library and then
  // loads the client: a failed client load is traced as such and answers
  // XAER_RMERR; a failed binding leaves the open untraced.
  RecordReference reference;
  FaultSweepEntry entry;
  entry.name = "MQ traced xa_open loading the client";
  entry.prepare = [] {
    forgetClientLibrary();
    trace_unbind(&g_traceContext);
    zp_journal_reset();
  };
  entry.run = [] { return openWith(tracedOpenString()); };
  entry.check = [&reference](const FaultRun& run, long long result) {
    const Lines lines = records();
    if (run.clean() || client_switch() != nullptr) {
      EXPECT_EQ(result, XA_OK) << run.row;
      reference.check(run, lines);
      return;
    }
    // The client did not load: the open says so in two records of its own,
    // written through the bound library's exports (a failed lookup of an
    // export leaves its records out).
    EXPECT_EQ(result, XAER_RMERR) << run.row;
    const TraceLibrary* library = g_traceContext.library.load();
    if (g_traceContext.enabled.load() != 0 && library != nullptr && library->traceData != nullptr &&
        library->traceExit != nullptr) {
      ASSERT_GE(lines.size(), 2u) << run.row << "\n" << test::journalText();
      EXPECT_EQ(lines[lines.size() - 2], "data or8_mq_xa_open: Error loading XA switch") << run.row;
      EXPECT_EQ(lines.back(), "exit or8_mq_xa_open: rc = -3 (XAER_RMERR)") << run.row;
    }
  };
  entry.worksAgain = [](const std::string& row) {
    EXPECT_EQ(openWith(tracedOpenString()), XA_OK) << row << ": next open";
    EXPECT_EQ(g_traceContext.enabled.load(), 1) << row << ": tracing again";
  };
  test::expectSweepComplete(test::sweepFaults(entry), entry.name.c_str());
}

TEST(MqFaults_xa80, TracedOpenKeepingItsBinding) {
  // Without a log file name ever given the rebinding is refused and the first
  // binding stays: the open has nothing of the binding's left to fail.
  const std::string info = std::string("ORACLE_XA+Acc=P/scott/tiger+Trace=2+") + kTraceDllKeyword +
                           "=" + test::kTraceStub + "+DB=ORCL";
  ASSERT_EQ(openWith(info), XA_OK) << "the first open binds";
  RecordReference reference;
  FaultSweepEntry entry;
  entry.name = "MQ traced xa_open, binding kept";
  entry.prepare = [] { zp_journal_reset(); };
  entry.run = [&info] { return openWith(info); };
  entry.check = [&reference](const FaultRun& run, long long result) {
    const bool buffer = !run.clean() && run.point == fault::Point::kAllocation && run.nth <= 2;
    EXPECT_EQ(result, buffer ? XAER_RMERR : XA_OK) << run.row;
    EXPECT_TRUE(test::journalLinesStartingWith({"load", "unload"}).empty())
        << run.row << ": the binding changed\n"
        << test::journalText();
    reference.check(run, records());
  };
  entry.worksAgain = [&info](const std::string& row) {
    EXPECT_EQ(openWith(info), XA_OK) << row << ": next open";
    EXPECT_EQ(g_traceContext.enabled.load(), 1) << row << ": still tracing";
  };
  const test::FaultSweepCounts counts = test::sweepFaults(entry);
  EXPECT_EQ(counts.reached[static_cast<int>(fault::Point::kLibraryLoad)], 0u);
  test::expectSweepComplete(counts, entry.name.c_str());
}

TEST(MqFaults_xa80, TracedOpenWithANewLogFileName) {
  // Each run names a log file not named before, so the open string's trace
  // options keep a copy of it: failing that copy keeps the earlier name.
  int runs = 0;
  std::string logFile;
  FaultSweepEntry entry;
  entry.name = "MQ traced xa_open, new log file name";
  entry.prepare = [&runs, &logFile] {
    logFile = "mq-" + std::to_string(++runs) + ".log";
    zp_journal_reset();
  };
  entry.run = [&logFile] { return openWith(tracedOpenString(logFile)); };
  entry.check = [](const FaultRun& run, long long result) {
    const bool buffer = !run.clean() && run.point == fault::Point::kAllocation && run.nth <= 2;
    EXPECT_EQ(result, buffer ? XAER_RMERR : XA_OK) << run.row;
  };
  entry.worksAgain = [&logFile](const std::string& row) {
    zp_journal_reset();
    EXPECT_EQ(openWith(tracedOpenString(logFile)), XA_OK) << row << ": next open";
    EXPECT_EQ(g_traceContext.enabled.load(), 1) << row << ": tracing again";
    const Lines opened = test::journalLinesStartingWith({"TraceOpenLogFile"});
    ASSERT_FALSE(opened.empty()) << row << "\n" << test::journalText();
    EXPECT_EQ(opened.back(), "TraceOpenLogFile \"" + logFile + "\" 1000") << row;
  };
  test::expectSweepComplete(test::sweepFaults(entry), entry.name.c_str());
}

TEST(MqFaults_xa80, TracedOpenBindingFirst) {
  sweepTracedOpen("MQ traced xa_open, first binding", true);
}

TEST(MqFaults_xa80, TracedOpenRebinding) { sweepTracedOpen("MQ traced xa_open, rebinding", false); }

// The nine other wrappers: how each is called and the result the client is
// scripted to give.
struct Wrapper {
  const char* name;
  StandinOperation operation;
  int result;
};

const Wrapper kWrappers[] = {
    {"xa_close", kStandinClose, XAER_INVAL},     {"xa_start", kStandinStart, XAER_NOTA},
    {"xa_end", kStandinEnd, XA_RBROLLBACK},      {"xa_rollback", kStandinRollback, XA_HEURHAZ},
    {"xa_prepare", kStandinPrepare, XA_RDONLY},  {"xa_commit", kStandinCommit, XAER_RMFAIL},
    {"xa_recover", kStandinRecover, 2},          {"xa_forget", kStandinForget, XAER_PROTO},
    {"xa_complete", kStandinComplete, XA_RETRY},
};

int callWrapper(StandinOperation operation) {
  static XID xid;
  static XID xids[3];
  static int handle;
  static int retval;
  static char closeInfo[] = "ORACLE_XA+Acc=P/scott/tiger";
  xid.formatID = 4660;
  xid.gtrid_length = 2;
  xid.bqual_length = 1;
  xa_switch_t* sw = MQStart();
  switch (operation) {
    case kStandinClose:
      return sw->xa_close_entry(closeInfo, kRmid, TMNOFLAGS);
    case kStandinStart:
      return sw->xa_start_entry(&xid, kRmid, TMNOFLAGS);
    case kStandinEnd:
      return sw->xa_end_entry(&xid, kRmid, TMSUCCESS);
    case kStandinRollback:
      return sw->xa_rollback_entry(&xid, kRmid, TMNOFLAGS);
    case kStandinPrepare:
      return sw->xa_prepare_entry(&xid, kRmid, TMNOFLAGS);
    case kStandinCommit:
      return sw->xa_commit_entry(&xid, kRmid, TMNOFLAGS);
    case kStandinRecover:
      return sw->xa_recover_entry(xids, 3, kRmid, TMSTARTRSCAN | TMENDRSCAN);
    case kStandinForget:
      return sw->xa_forget_entry(&xid, kRmid, TMNOFLAGS);
    case kStandinComplete:
      return sw->xa_complete_entry(&handle, &retval, kRmid, TMNOFLAGS);
    default:
      return XAER_RMERR - 100;
  }
}

// Sweeps each wrapper after an open that traces (traced) or not. Whatever
// fails, the wrapper returns the client's result, and when traced its exit
// record is written.
void sweepWrappers(bool traced) {
  ASSERT_EQ(openWith(traced ? tracedOpenString() : std::string(kPlainOpen)), XA_OK);
  const StandinControl client = StandinControl::loaded();
  ASSERT_TRUE(client.valid());
  for (const Wrapper& wrapper : kWrappers) {
    client.setResult(wrapper.operation, wrapper.result);
    const std::string name = std::string(traced ? "MQ traced " : "MQ ") + wrapper.name;
    const std::string exitRecord =
        std::string("exit or8_mq_") + wrapper.name + ": rc = " + std::to_string(wrapper.result);
    RecordReference reference;
    FaultSweepEntry entry;
    entry.name = name;
    entry.prepare = [] { zp_journal_reset(); };
    entry.run = [&wrapper] { return callWrapper(wrapper.operation); };
    entry.check = [&](const FaultRun& run, long long result) {
      EXPECT_EQ(result, wrapper.result) << run.row;
      EXPECT_EQ(client.calls().back().operation, wrapper.operation) << run.row;
      const Lines lines = records();
      reference.check(run, lines);
      if (traced) {
        EXPECT_FALSE(lines.empty() || lines.back() != exitRecord) << run.row << "\n"
                                                                  << test::journalText();
      } else {
        EXPECT_TRUE(lines.empty()) << run.row;
      }
    };
    entry.worksAgain = [&wrapper](const std::string& row) {
      EXPECT_EQ(callWrapper(wrapper.operation), wrapper.result) << row << ": next call";
    };
    test::expectSweepComplete(test::sweepFaults(entry), name.c_str());
  }
}

TEST(MqFaults_xa80, NineWrappersUntraced) { sweepWrappers(false); }

TEST(MqFaults_xa80, NineWrappersTraced) { sweepWrappers(true); }

TEST(MqFaults_xa80, Accessors) {
  ASSERT_EQ(openWith(kPlainOpen), XA_OK);
  struct Row {
    const char* name;
    void* (*accessor)(char*);
    char tag;
  } rows[] = {{"hkMQXaoEnv", hkMQXaoEnv, ZP_STANDIN_ENV_TAG},
              {"hkMQXaoSvcCtx", hkMQXaoSvcCtx, ZP_STANDIN_SVCCTX_TAG}};
  for (const Row& row : rows) {
    static char dbname[] = "ORCL";
    // The accessor's handle, or 0 for null, as the result.
    auto call = [&row]() -> long long {
      void* handle = row.accessor(dbname);
      return handle == nullptr ? 0 : *static_cast<const char*>(handle);
    };
    FaultSweepEntry entry;
    entry.name = row.name;
    entry.run = call;
    entry.check = [&row](const FaultRun& run, long long result) {
      EXPECT_EQ(result, run.clean() ? row.tag : 0) << run.row;
    };
    entry.worksAgain = [&row, call](const std::string& text) {
      EXPECT_EQ(call(), row.tag) << text << ": next call";
    };
    const test::FaultSweepCounts counts = test::sweepFaults(entry);
    EXPECT_EQ(counts.reached[static_cast<int>(fault::Point::kLibrarySymbol)], 1u) << row.name;
    test::expectSweepComplete(counts, row.name);
  }
}

TEST(MqFaults_xa80, RecordWriters) {
  ASSERT_EQ(openWith(tracedOpenString()), XA_OK);
  XID xid = {};
  xid.formatID = 4660;
  xid.gtrid_length = 2;
  xid.bqual_length = 1;
  xid.data[0] = 0x0a;
  struct Row {
    const char* name;
    std::function<long long()> write;
  } rows[] = {
      {"trace_entry", [] { return (trace_entry(&g_traceContext, "fn", "rc = %d", 1), 0LL); }},
      {"trace_exit", [] { return (trace_exit(&g_traceContext, "fn", "rc = %d", 2), 0LL); }},
      {"trace_data", [] { return (trace_data(&g_traceContext, "fn", "rc = %d", 3), 0LL); }},
      {"trace_xid",
       [&xid] { return static_cast<long long>(trace_xid(&g_traceContext, "fn", &xid)); }},
  };
  for (const Row& row : rows) {
    RecordReference reference;
    FaultSweepEntry entry;
    entry.name = row.name;
    entry.prepare = [] { zp_journal_reset(); };
    entry.run = row.write;
    entry.check = [&reference](const FaultRun& run, long long result) {
      EXPECT_EQ(result, kTraceOk) << run.row;
      const Lines lines = records();
      reference.check(run, lines);
      // The three numbers of an XID are written whatever else fails.
      if (!run.clean()) {
        EXPECT_EQ(lines.size(), 3u) << run.row << "\n" << test::journalText();
      }
    };
    test::expectSweepComplete(test::sweepFaults(entry), row.name);
  }
}

}  // namespace
}  // namespace zp
