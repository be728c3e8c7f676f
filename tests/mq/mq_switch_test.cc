// MQStart's switch driven as a transaction manager drives it: every wrapper
// returns the client's result and forwards its arguments; with tracing on,
// the trace stand-in receives the exact records in their order. Each suite
// MqSwitch_<folder> runs with that folder of client candidates.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "journal_lines.h"
#include "module/libmain.h"
#include "mq_test_support.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "testlib/client_standin_control.h"
#include "trace/trace_binding.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {
namespace {

using Lines = std::vector<std::string>;
using test::StandinControl;

constexpr int kRmid = 3;

std::string hex8(const void* address) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x",
                static_cast<unsigned>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address))));
  return text;
}

Lines concat(Lines first, const Lines& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// Arguments the wrappers are called with; they stay put for the whole test.
struct CallArgs {
  XID xid = test::knownXid();
  XID xids[3] = {};
  int handle = 0;
  int retval = 0;
  char closeInfo[40] = "ORACLE_XA+Acc=P/scott/tiger";
};

// One wrapper other than open: how to call it through the switch, the result
// the client is scripted to give, and the records written before the call.
struct WrapperCall {
  std::string function;
  StandinOperation operation;
  int result;
  long flags;
  std::function<int(xa_switch_t*)> call;
  Lines records;
};

using XidEntry = int (*xa_switch_t::*)(XID*, int, long);

WrapperCall xidWrapper(CallArgs& args, const char* function, StandinOperation operation, int result,
                       long flags, const char* flagsText, XidEntry entry) {
  return {function,
          operation,
          result,
          flags,
          [&args, entry, flags](xa_switch_t* sw) { return (sw->*entry)(&args.xid, kRmid, flags); },
          concat({std::string("entry ") + function + ": rmid: 3 flags: 0x" + flagsText},
                 test::knownXidLines(function))};
}

std::vector<WrapperCall> nineWrappers(CallArgs& args) {
  const long scan = TMSTARTRSCAN | TMENDRSCAN;
  return {
      xidWrapper(args, "or8_mq_xa_start", kStandinStart, XAER_NOTA, TMJOIN, "00200000",
                 &xa_switch_t::xa_start_entry),
      xidWrapper(args, "or8_mq_xa_end", kStandinEnd, XA_RBROLLBACK, TMSUCCESS, "04000000",
                 &xa_switch_t::xa_end_entry),
      xidWrapper(args, "or8_mq_xa_rollback", kStandinRollback, XA_HEURHAZ, TMNOFLAGS, "00000000",
                 &xa_switch_t::xa_rollback_entry),
      xidWrapper(args, "or8_mq_xa_prepare", kStandinPrepare, XA_RDONLY, TMNOFLAGS, "00000000",
                 &xa_switch_t::xa_prepare_entry),
      xidWrapper(args, "or8_mq_xa_commit", kStandinCommit, XAER_RMFAIL, TMONEPHASE, "40000000",
                 &xa_switch_t::xa_commit_entry),
      xidWrapper(args, "or8_mq_xa_forget", kStandinForget, XAER_PROTO, TMNOFLAGS, "00000000",
                 &xa_switch_t::xa_forget_entry),
      {"or8_mq_xa_recover",
       kStandinRecover,
       2,
       scan,
       [&args](xa_switch_t* sw) { return sw->xa_recover_entry(args.xids, 3, kRmid, scan); },
       {"entry or8_mq_xa_recover: rmid: 3 flags: 0x01800000 xids: 0x" + hex8(args.xids) +
        " count: 3"}},
      {"or8_mq_xa_complete",
       kStandinComplete,
       XA_RETRY,
       TMNOFLAGS,
       [&args](xa_switch_t* sw) {
         return sw->xa_complete_entry(&args.handle, &args.retval, kRmid, TMNOFLAGS);
       },
       {"entry or8_mq_xa_complete: handle: 0x" + hex8(&args.handle) + " retval: 0x" +
        hex8(&args.retval) + " rmid: 3 flags: 0x00000000"}},
      {"or8_mq_xa_close",
       kStandinClose,
       XAER_INVAL,
       TMNOFLAGS,
       [&args](xa_switch_t* sw) { return sw->xa_close_entry(args.closeInfo, kRmid, TMNOFLAGS); },
       {"entry or8_mq_xa_close: xa_info: ORACLE_XA+Acc=P/scott/**** rmid: 3 flags: 0x00000000",
        "data or8_mq_xa_close: Calling client xa_close(ORACLE_XA+Acc=P/scott/****, 3, "
        "0x00000000)"}},
  };
}

int openWith(xa_switch_t* sw, const std::string& info, int rmid = kRmid) {
  std::vector<char> text(info.begin(), info.end());
  text.push_back('\0');
  return sw->xa_open_entry(text.data(), rmid, TMNOFLAGS);
}

std::string ids() {
  return std::to_string(platform::currentProcessId()) + std::to_string(platform::currentThreadId());
}

const Lines kBindStub = {"load zptracestub", "TraceVersion", "TraceOpenLogFile \"mq.log\" 1000",
                         "mvSetTraceLevel 0", "mvTraceInit 0 \"\""};

TEST(MqSwitch_xa80, TracingOffForwardsEveryCallUnchanged) {
  zp_journal_reset();
  xa_switch_t* sw = MQStart();
  ASSERT_EQ(MQStart(), sw);
  ASSERT_EQ(openWith(sw, "ORACLE_XA+DB=ORCL"), XA_OK);
  const StandinControl client = StandinControl::loaded();
  ASSERT_TRUE(client.valid());
  client.setResult(kStandinOpen, XAER_INVAL);
  EXPECT_EQ(openWith(sw, "ORACLE_XA+DB=ORCL", 9), XAER_INVAL);
  EXPECT_EQ(client.calls().back().rmid, 9);

  CallArgs args;
  for (const WrapperCall& row : nineWrappers(args)) {
    client.setResult(row.operation, row.result);
    EXPECT_EQ(row.call(sw), row.result) << row.function;
    const StandinCall call = client.calls().back();
    EXPECT_EQ(call.operation, row.operation) << row.function;
    EXPECT_EQ(call.rmid, kRmid) << row.function;
    EXPECT_EQ(call.flags, row.flags) << row.function;
  }
  const std::vector<StandinCall> calls = client.calls();
  EXPECT_EQ(calls[2].pointer, &args.xid) << "start passes the caller's XID";
  EXPECT_EQ(calls[8].pointer, args.xids) << "recover passes the caller's array";
  EXPECT_EQ(calls[8].count, 3) << "recover passes the count";
  EXPECT_EQ(calls[9].pointer, &args.handle) << "complete passes the handle";
  EXPECT_STREQ(calls[10].text, args.closeInfo) << "close passes the caller's string";
  // No trace library was ever loaded, so not a single call reached one.
  EXPECT_EQ(test::journalLines(), Lines{});
}

TEST(MqSwitch_xa80, TracedCallsWriteTheirRecordsInOrder) {
  zp_journal_reset();
  xa_switch_t* sw = MQStart();
  const std::string info = "ORACLE_XA+Acc=P/scott/tiger+SesTm=30" +
                           test::traceOptions(test::kTraceStub, "mq.log") + "+DB=ORCL";
  ASSERT_EQ(openWith(sw, info), XA_OK);
  const std::string shown = "ORACLE_XA+Acc=P/scott/****+SesTm=30" +
                            test::traceOptions(test::kTraceStub, "mq.log") + "+DB=ORCL";
  EXPECT_EQ(test::journalLines(), concat(kBindStub, {"entry or8_mq_xa_open: xa_info: " + shown +
                                                         " rmid: 3 flags: 0x00000000",
                                                     "exit or8_mq_xa_open: rc = 0"}));
  // The client sees the password, and the DB name extended with the real ids.
  const StandinControl client = StandinControl::loaded();
  ASSERT_TRUE(client.valid());
  EXPECT_EQ(std::string(client.calls().back().text),
            "ORACLE_XA+Acc=P/scott/tiger+SesTm=30+DB=ORCL" + ids());

  CallArgs args;
  for (const WrapperCall& row : nineWrappers(args)) {
    client.setResult(row.operation, row.result);
    zp_journal_reset();
    EXPECT_EQ(row.call(sw), row.result) << row.function;
    EXPECT_EQ(test::journalLines(), concat(row.records, {"exit " + row.function +
                                                         ": rc = " + std::to_string(row.result)}))
        << row.function;
  }
  EXPECT_STREQ(client.calls().back().text, "ORACLE_XA+Acc=P/scott/tiger")
      << "close hands the client the unmasked string";
}

TEST(MqSwitch_none, OpenWithoutClientTracesTheErrorAndLaterCallsFail) {
  zp_journal_reset();
  xa_switch_t* sw = MQStart();
  const std::string info = "ORACLE_XA" + test::traceOptions(test::kTraceStub, "mq.log");
  EXPECT_EQ(openWith(sw, info), XAER_RMERR);
  EXPECT_EQ(test::journalLines(), concat(kBindStub, {"entry or8_mq_xa_open: xa_info: " + info +
                                                         " rmid: 3 flags: 0x00000000",
                                                     "data or8_mq_xa_open: Error loading XA switch",
                                                     "exit or8_mq_xa_open: rc = -3 (XAER_RMERR)"}));
  // Without a client switch each wrapper answers for itself, still traced.
  CallArgs args;
  for (const WrapperCall& row : nineWrappers(args)) {
    zp_journal_reset();
    EXPECT_EQ(row.call(sw), XAER_RMERR) << row.function;
    EXPECT_EQ(test::journalLines(), concat(row.records, {"exit " + row.function + ": rc = -3"}))
        << row.function;
  }
}

TEST(MqSwitch_none, WrappersBeforeAnyOpenReturnRmerr) {
  zp_journal_reset();
  xa_switch_t* sw = MQStart();
  CallArgs args;
  for (const WrapperCall& row : nineWrappers(args)) {
    EXPECT_EQ(row.call(sw), XAER_RMERR) << row.function;
  }
  EXPECT_EQ(test::journalLines(), Lines{});
}

// Once the module's unload has begun (as at the process's exit, where nothing
// is destroyed), no call reaches the client or any static object: each
// answers XAER_RMERR, the accessors null. A load admits calls again.
TEST(MqSwitch_xa80, CallsOnceTheUnloadHasBegunReachNothing) {
  xa_switch_t* sw = MQStart();
  ASSERT_EQ(openWith(sw, "ORACLE_XA+DB=ORCL"), XA_OK);
  const StandinControl client = StandinControl::loaded();
  ASSERT_TRUE(client.valid());
  const size_t before = client.calls().size();
  moduleUnload(UnloadKind::kProcessExit);
  CallArgs args;
  for (const WrapperCall& row : nineWrappers(args)) {
    EXPECT_EQ(row.call(sw), XAER_RMERR) << row.function;
  }
  EXPECT_EQ(openWith(sw, "ORACLE_XA+DB=ORCL"), XAER_RMERR) << "or8_mq_xa_open";
  char db[] = "ORCL";
  EXPECT_EQ(hkMQXaoEnv(db), nullptr) << "hkMQXaoEnv";
  EXPECT_EQ(hkMQXaoSvcCtx(db), nullptr) << "hkMQXaoSvcCtx";
  EXPECT_EQ(client.calls().size(), before) << "no call reached the client";
  ASSERT_TRUE(moduleLoad(nullptr));
  EXPECT_EQ(openWith(sw, "ORACLE_XA+DB=ORCL"), XA_OK) << "a load admits calls again";
}

TEST(MqSwitch_xa80, SecondTracedOpenRebindsInOrder) {
  zp_journal_reset();
  xa_switch_t* sw = MQStart();
  const std::string info = "ORACLE_XA" + test::traceOptions(test::kTraceStub, "mq.log");
  ASSERT_EQ(openWith(sw, info), XA_OK);
  zp_journal_reset();
  // The trace options stay from the first open, so this one traces too.
  ASSERT_EQ(openWith(sw, "ORACLE_XA+SesTm=5"), XA_OK);
  EXPECT_EQ(
      test::journalLines(),
      concat({"TraceCloseLogFile", "unload zptracestub"},
             concat(kBindStub, {"entry or8_mq_xa_open: xa_info: ORACLE_XA+SesTm=5 rmid: 3 flags: "
                                "0x00000000",
                                "exit or8_mq_xa_open: rc = 0"})));
}

// The trace binding lines after one open carrying options.
Lines bindingAfterOpen(const std::string& options) {
  zp_journal_reset();
  fault::resetCalls(fault::Point::kLibraryLoad);
  EXPECT_EQ(openWith(MQStart(), "ORACLE_XA" + options), XA_OK);
  return test::journalLinesStartingWith({"load", "TraceOpenLogFile", "entry"});
}

const std::string kEntryNoOptions = "entry or8_mq_xa_open: xa_info: ORACLE_XA";

TEST(MqSwitch_xa80, LevelOneStartsNothing) {
  const std::string options =
      "+Trace=1+" + std::string(kTraceDllKeyword) + "=" + test::kTraceStub + "+TraceFile=mq.log";
  EXPECT_EQ(bindingAfterOpen(options), Lines{});
  EXPECT_EQ(fault::calls(fault::Point::kLibraryLoad), 1u) << "the client library only";
  EXPECT_EQ(g_traceContext.enabled.load(), 0);
}

TEST(MqSwitch_xa80, NoLibraryNameLoadsNothing) {
  EXPECT_EQ(bindingAfterOpen(test::traceOptions(nullptr, "mq.log")), Lines{});
  EXPECT_EQ(fault::calls(fault::Point::kLibraryLoad), 1u) << "the client library only";
  EXPECT_EQ(g_traceContext.enabled.load(), 0);
}

TEST(MqSwitch_xa80, AbsentTraceFileGivesNullName) {
  const std::string options = test::traceOptions(test::kTraceStub, nullptr);
  EXPECT_EQ(bindingAfterOpen(options),
            (Lines{"load zptracestub", "TraceOpenLogFile NULL 1000",
                   kEntryNoOptions + options + " rmid: 3 flags: 0x00000000"}));
}

TEST(MqSwitch_xa80, EmptyTraceFileGivesEmptyName) {
  const std::string options = test::traceOptions(test::kTraceStub, "");
  EXPECT_EQ(bindingAfterOpen(options),
            (Lines{"load zptracestub", "TraceOpenLogFile \"\" 1000",
                   kEntryNoOptions + options + " rmid: 3 flags: 0x00000000"}));
}

TEST(MqSwitch_xa80, NullStringsAreTakenAsEmpty) {
  xa_switch_t* sw = MQStart();
  ASSERT_EQ(openWith(sw, "ORACLE_XA" + test::traceOptions(test::kTraceStub, "mq.log")), XA_OK);
  const StandinControl client = StandinControl::loaded();
  ASSERT_TRUE(client.valid());
  zp_journal_reset();
  EXPECT_EQ(sw->xa_open_entry(nullptr, 4, TMNOFLAGS), XA_OK);
  EXPECT_EQ(sw->xa_close_entry(nullptr, 4, TMNOFLAGS), XA_OK);
  const std::vector<StandinCall> calls = client.calls();
  ASSERT_GE(calls.size(), 2u);
  // Without the prefix the filtered string is empty; close passes "" on.
  for (size_t i = calls.size() - 2; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].textWasNull, 0) << "call " << i;
    EXPECT_STREQ(calls[i].text, "") << "call " << i;
  }
  EXPECT_EQ(test::journalLinesStartingWith({"entry", "data", "exit"}),
            (Lines{"entry or8_mq_xa_open: xa_info:  rmid: 4 flags: 0x00000000",
                   "exit or8_mq_xa_open: rc = 0",
                   "entry or8_mq_xa_close: xa_info:  rmid: 4 flags: 0x00000000",
                   "data or8_mq_xa_close: Calling client xa_close(, 4, 0x00000000)",
                   "exit or8_mq_xa_close: rc = 0"}));
}

TEST(MqSwitch_xa80, OpenRefusedBeforeTheClientIsCalled) {
  xa_switch_t* sw = MQStart();
  ASSERT_EQ(openWith(sw, "ORACLE_XA" + test::traceOptions(test::kTraceStub, "mq.log")), XA_OK);
  const StandinControl client = StandinControl::loaded();
  ASSERT_TRUE(client.valid());
  // Room for the ids is what is missing: the string itself fits the buffer.
  const std::string overlong = "ORACLE_XA+DB=" + std::string(1024 - 14, 'd');
  struct Row {
    const char* name;
    uint32_t failingAllocation;  // 0: none
    std::string info;
  } rows[] = {
      {"rewriting buffer", 1, "ORACLE_XA+DB=ORCL"},
      {"filtering buffer", 2, "ORACLE_XA+DB=ORCL"},
      {"rewritten string too long", 0, overlong},
  };
  for (const Row& row : rows) {
    zp_journal_reset();
    const size_t before = client.calls().size();
    fault::arm(fault::Point::kAllocation, row.failingAllocation);
    EXPECT_EQ(openWith(sw, row.info), XAER_RMERR) << row.name;
    fault::disarmAll();
    EXPECT_EQ(client.calls().size(), before) << row.name;
    EXPECT_EQ(test::journalLines(), Lines{}) << row.name;
  }
}

TEST(MqSwitch_oraclient8, CloseHandsTheClientTheCloseString) {
  xa_switch_t* sw = MQStart();
  ASSERT_EQ(openWith(sw, "ORACLE_XA" + test::traceOptions(test::kTraceStub, "mq.log")), XA_OK);
  const StandinControl client = StandinControl::loaded();
  ASSERT_TRUE(client.valid());
  zp_journal_reset();
  char info[] = "ORACLE_XA+Acc=P/u/pw+SesTm=9";
  EXPECT_EQ(sw->xa_close_entry(info, 1, TMNOFLAGS), XA_OK);
  EXPECT_STREQ(client.calls().back().text, "This_is_close_string");
  EXPECT_EQ(test::journalLines(),
            (Lines{"entry or8_mq_xa_close: xa_info: ORACLE_XA+Acc=P/u/****+SesTm=9 rmid: 1 flags: "
                   "0x00000000",
                   "data or8_mq_xa_close: Calling client xa_close(This_is_close_string, 1, "
                   "0x00000000)",
                   "exit or8_mq_xa_close: rc = 0"}));
}

}  // namespace
}  // namespace zp
