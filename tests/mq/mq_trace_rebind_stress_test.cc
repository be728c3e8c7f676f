// Traced calls through MQStart's switch on eight threads while another thread
// opens again and again, each open rebinding the trace library: every record
// a thread writes reaches the trace library (the stand-in counts what arrives
// from each thread), and no call reaches a library that is closed or being
// unloaded.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "journal_lines.h"
#include "mq_test_support.h"
#include "testlib/threads.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {
namespace {

constexpr int kWriters = 8;
constexpr int kRebinds = 150;
constexpr int kRmid = 3;
// A traced call with an XID writes its entry record, five data records and
// its exit record; a traced open with a client writes entry and exit.
constexpr int64_t kRecordsPerXidCall = 7;
constexpr int64_t kRecordsPerOpen = 2;
// The opener's thread counts under tag 0, writer i under tag i.
constexpr int32_t kOpenerTag = 0;

int openTraced(xa_switch_t* sw, const std::string& info) {
  std::vector<char> text(info.begin(), info.end());
  text.push_back('\0');
  return sw->xa_open_entry(text.data(), kRmid, TMNOFLAGS);
}

TEST(MqSwitch_xa80, TracedCallsLoseNoRecordWhileOpensRebind) {
  zp_journal_reset();
  zp_journal_keep_records(0);
  xa_switch_t* sw = MQStart();
  const std::string info =
      "ORACLE_XA+Acc=P/scott/tiger" + test::traceOptions(test::kTraceStub, "stress.log");
  ASSERT_EQ(openTraced(sw, info), XA_OK);

  std::atomic<bool> rebinding{true};
  std::atomic<int> failedOpens{0};
  std::vector<int64_t> calls(kWriters + 1, 0);
  const auto started = std::chrono::steady_clock::now();
  test::runConcurrently(kWriters + 1, [&](int index) {
    zp_journal_tag_thread(index);
    if (index == kOpenerTag) {
      for (int i = 0; i < kRebinds; ++i) {
        if (openTraced(sw, info) != XA_OK) failedOpens.fetch_add(1);
      }
      rebinding.store(false);
      return;
    }
    XID xid = test::knownXid();
    xid.formatID = index;
    do {
      sw->xa_start_entry(&xid, kRmid, TMNOFLAGS);
      sw->xa_end_entry(&xid, kRmid, TMSUCCESS);
      calls[static_cast<size_t>(index)] += 2;
    } while (rebinding.load());
  });
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);

  EXPECT_EQ(failedOpens.load(), 0);
  int64_t written = kRecordsPerOpen * kRebinds;
  int64_t received = zp_journal_tag_records(kOpenerTag);
  EXPECT_EQ(received, kRecordsPerOpen * kRebinds) << "the opener's own records";
  for (int index = 1; index <= kWriters; ++index) {
    const int64_t wrote = calls[static_cast<size_t>(index)] * kRecordsPerXidCall;
    const int64_t arrived = zp_journal_tag_records(index);
    written += wrote;
    received += arrived;
    EXPECT_EQ(arrived, wrote) << "writer " << index;
  }
  std::printf("records written %lld, received by the trace library %lld, %d rebinds, %lld ms\n",
              static_cast<long long>(written), static_cast<long long>(received), kRebinds,
              static_cast<long long>(elapsed.count()));
  EXPECT_EQ(zp_journal_violations(), 0);
  // Every open really closed, unloaded, loaded and opened the library again.
  EXPECT_EQ(test::journalLinesStartingWith({"unload"}).size(), static_cast<size_t>(kRebinds));
  EXPECT_EQ(test::journalLinesStartingWith({"load"}).size(), static_cast<size_t>(kRebinds + 1));
}

}  // namespace
}  // namespace zp
