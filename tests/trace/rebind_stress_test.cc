// Records written from several threads while another thread rebinds the trace
// library again and again: the stand-in counts every call that reaches it
// while it is not open (its log closed, or being unloaded) and every close
// made while a call is still inside it; there must be none.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "journal_lines.h"
#include "testlib/threads.h"
#include "trace/trace_binding.h"
#include "trace/trace_records.h"

namespace zp {
namespace {

TEST(TraceRebindStress, NoCallReachesAnUnloadedLibrary) {
  constexpr int kWriters = 4;
  constexpr int kRebinds = 300;
  zp_journal_reset();
  zp_journal_keep_records(0);
  const uint32_t nameLength = static_cast<uint32_t>(std::strlen(test::kTraceStub));
  g_traceContext.enabled.store(1);
  trace_start(&g_traceContext, kTraceLevelOn, "stress.log", 10, test::kTraceStub, nameLength, "");
  ASSERT_NE(g_traceContext.library.load(), nullptr);

  std::atomic<bool> rebinding{true};
  std::atomic<int> boundAfterStart{0};
  XID xid;
  std::memset(&xid, 0, sizeof xid);
  xid.formatID = 1;
  xid.gtrid_length = 4;
  xid.bqual_length = 4;
  test::runConcurrently(kWriters + 1, [&](int index) {
    if (index == 0) {
      for (int i = 0; i < kRebinds; ++i) {
        trace_start(&g_traceContext, kTraceLevelOn, "stress.log", 10, test::kTraceStub, nameLength,
                    "");
        if (g_traceContext.library.load() != nullptr) boundAfterStart.fetch_add(1);
      }
      rebinding.store(false);
      return;
    }
    while (rebinding.load()) {
      trace_entry(&g_traceContext, "stress", "writer %d", index);
      trace_xid(&g_traceContext, "stress", &xid);
      trace_exit(&g_traceContext, "stress", "rc = %d", 0);
    }
  });

  EXPECT_EQ(zp_journal_violations(), 0);
  EXPECT_EQ(boundAfterStart.load(), kRebinds);
  EXPECT_GT(zp_journal_record_calls(), 0);
  // Every rebind really unloaded and loaded the library again.
  EXPECT_EQ(test::journalLinesStartingWith({"unload"}).size(), static_cast<size_t>(kRebinds));
  EXPECT_EQ(test::journalLinesStartingWith({"load"}).size(), static_cast<size_t>(kRebinds + 1));
}

}  // namespace
}  // namespace zp
