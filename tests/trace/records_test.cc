// Trace records as the trace library formats them: the XID dump with its
// clamping, the writers' silence without a library, and the masking of
// passwords in open strings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "journal_lines.h"
#include "platform/fault.h"
#include "trace/trace_binding.h"
#include "trace/trace_records.h"

namespace zp {
namespace {

using Lines = std::vector<std::string>;

class TraceRecords : public testing::Test {
 protected:
  void SetUp() override {
    zp_journal_reset();
    g_traceContext.enabled.store(1);
    trace_start(&g_traceContext, kTraceLevelOn, "records.log", 11, test::kTraceStub,
                static_cast<uint32_t>(std::strlen(test::kTraceStub)), "");
    ASSERT_NE(g_traceContext.library.load(), nullptr);
    zp_journal_reset();
  }
};

XID makeXid(long formatId, long gtridLength, long bqualLength, const std::vector<int>& bytes) {
  XID xid;
  std::memset(&xid, 0, sizeof xid);
  xid.formatID = formatId;
  xid.gtrid_length = gtridLength;
  xid.bqual_length = bqualLength;
  for (size_t i = 0; i < bytes.size(); ++i) xid.data[i] = static_cast<char>(bytes[i]);
  return xid;
}

std::string hexBytes(int value, int count) {
  std::string text;
  char pair[4];
  for (int i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02x ", value);
    text += pair;
  }
  return text;
}

TEST_F(TraceRecords, XidDumpShowsFieldsAndClampsLengths) {
  const std::vector<int> all128(128, 0xab);
  struct Row {
    const char* name;
    XID xid;
    Lines expected;
  } rows[] = {
      {"ordinary",
       makeXid(4660, 2, 1, {0x0a, 0xff, 0x01}),
       {"data f: xid->formatID: 0x1234 (4660)", "data f: xid->gtrid_length: 0x0002 (2)",
        "data f: xid->gtrid: 0a ff ", "data f: xid->bqual_length: 0x0001 (1)",
        "data f: xid->bqual: 01 "}},
      {"empty bqual, negative format",
       makeXid(-1, 1, 0, {0x80}),
       {"data f: xid->formatID: 0xffffffff (-1)", "data f: xid->gtrid_length: 0x0001 (1)",
        "data f: xid->gtrid: 80 ", "data f: xid->bqual_length: 0x0000 (0)",
        "data f: xid->bqual: "}},
      {"negative gtrid length counts as none",
       makeXid(1, -5, 2, {0x11, 0x22}),
       {"data f: xid->formatID: 0x0001 (1)", "data f: xid->gtrid_length: 0xfffffffb (-5)",
        "data f: xid->gtrid: ", "data f: xid->bqual_length: 0x0002 (2)",
        "data f: xid->bqual: 11 22 "}},
      {"lengths beyond the data are cut to the 128 bytes",
       makeXid(7, 100, 100, all128),
       {"data f: xid->formatID: 0x0007 (7)", "data f: xid->gtrid_length: 0x0064 (100)",
        "data f: xid->gtrid: " + hexBytes(0xab, 100), "data f: xid->bqual_length: 0x0064 (100)",
        "data f: xid->bqual: " + hexBytes(0xab, 28)}},
      {"huge gtrid length leaves nothing for bqual",
       makeXid(7, 100000, 3, all128),
       {"data f: xid->formatID: 0x0007 (7)", "data f: xid->gtrid_length: 0x186a0 (100000)",
        "data f: xid->gtrid: " + hexBytes(0xab, 128), "data f: xid->bqual_length: 0x0003 (3)",
        "data f: xid->bqual: "}},
  };
  for (const Row& row : rows) {
    zp_journal_reset();
    EXPECT_EQ(trace_xid(&g_traceContext, "f", &row.xid), kTraceOk) << row.name;
    EXPECT_EQ(test::journalLines(), row.expected) << row.name;
  }
}

TEST_F(TraceRecords, XidDumpWithoutBufferKeepsNumericRecords) {
  const XID xid = makeXid(4660, 2, 1, {0x0a, 0xff, 0x01});
  fault::arm(fault::Point::kAllocation, 1);
  EXPECT_EQ(trace_xid(&g_traceContext, "f", &xid), kTraceOk);
  fault::disarmAll();
  EXPECT_EQ(test::journalLines(),
            (Lines{"data f: xid->formatID: 0x1234 (4660)", "data f: xid->gtrid_length: 0x0002 (2)",
                   "data f: xid->bqual_length: 0x0001 (1)"}));
}

TEST_F(TraceRecords, XidDumpNullAndDisabled) {
  EXPECT_EQ(trace_xid(&g_traceContext, "f", nullptr), kTraceOk);
  EXPECT_EQ(test::journalLines(), Lines{"data f: xid: NULL"});
  zp_journal_reset();
  const XID xid = makeXid(1, 1, 1, {1, 2});
  g_traceContext.enabled.store(0);
  EXPECT_EQ(trace_xid(&g_traceContext, "f", &xid), kTraceFailed);
  EXPECT_EQ(trace_xid(nullptr, "f", &xid), kTraceFailed);
  EXPECT_EQ(test::journalLines(), Lines{});
}

TEST_F(TraceRecords, WritersNeedContextAndLibraryButNotEnabled) {
  g_traceContext.enabled.store(0);
  trace_entry(&g_traceContext, "f", "%s %d", "shown", 5);
  trace_entry(nullptr, "f", "hidden");
  EXPECT_EQ(test::journalLines(), Lines{"entry f: shown 5"});
  trace_unbind(&g_traceContext);
  zp_journal_reset();
  trace_data(&g_traceContext, "f", "hidden");
  EXPECT_EQ(test::journalLines(), Lines{});
}

TEST(MaskedOpenString, HidesPasswordsOnly) {
  struct Row {
    const char* source;
    const char* shown;
  } rows[] = {
      {"ORACLE_XA+Acc=P/scott/tiger+SesTm=35", "ORACLE_XA+Acc=P/scott/****+SesTm=35"},
      {"ORACLE_XA+acc=P/u/secret", "ORACLE_XA+acc=P/u/****"},
      {"ORACLE_XA+ACC=P/u/a/b+DB=x", "ORACLE_XA+ACC=P/u/****+DB=x"},
      {"ORACLE_XA+Acc=P/u/+DB=x", "ORACLE_XA+Acc=P/u/****+DB=x"},
      {"ORACLE_XA+Acc=P/u+DB=a/b/c", "ORACLE_XA+Acc=P/u+DB=a/b/c"},
      {"ORACLE_XA+Acc=+DB=a/b/c", "ORACLE_XA+Acc=+DB=a/b/c"},
      {"+Acc=P/a/1+Acc=P/b/22222222+aCc=P/c/3", "+Acc=P/a/****+Acc=P/b/****+aCc=P/c/****"},
      {"ORACLE_XA+Accx=P/u/p+SqlNet=a", "ORACLE_XA+Accx=P/u/p+SqlNet=a"},
      {"ORACLE_XA+Acc", "ORACLE_XA+Acc"},
      {"no options at all", "no options at all"},
      {"", ""},
  };
  for (const Row& row : rows) {
    MaskedOpenString masked(row.source);
    ASSERT_NE(masked.text(), nullptr) << row.source;
    EXPECT_STREQ(masked.text(), row.shown) << row.source;
  }
  MaskedOpenString null(nullptr);
  EXPECT_STREQ(null.text(), "");
}

// Blanks around the keyword or its '=', and values without the "P/" marker:
// the client may never see such an option, but the record shows the string
// as the transaction manager passed it.
TEST(MaskedOpenString, HidesEveryFormOfAccountOption) {
  struct Row {
    const char* source;
    const char* shown;
  } rows[] = {
      {"ORACLE_XA+Acc =P/scott/pw+DB=x", "ORACLE_XA+Acc =P/scott/****+DB=x"},
      {"ORACLE_XA+ Acc=P/scott/pw+DB=x", "ORACLE_XA+ Acc=P/scott/****+DB=x"},
      {"ORACLE_XA+Acc\t=P/scott/pw", "ORACLE_XA+Acc\t=P/scott/****"},
      {"ORACLE_XA+Acc=scott/pw+DB=x", "ORACLE_XA+Acc=scott/****+DB=x"},
      {"ORACLE_XA+Acc=pw+DB=x", "ORACLE_XA+Acc=****+DB=x"},
  };
  for (const Row& row : rows) {
    MaskedOpenString masked(row.source);
    ASSERT_NE(masked.text(), nullptr) << row.source;
    EXPECT_STREQ(masked.text(), row.shown) << row.source;
  }
  // A string too long to be masked on the stack is masked in a copy.
  const std::string longSource = "ORACLE_XA+Acc=P/u/pw+DB=" + std::string(300, 'x');
  MaskedOpenString masked(longSource.c_str());
  ASSERT_NE(masked.text(), nullptr);
  EXPECT_EQ(std::string(masked.text()), "ORACLE_XA+Acc=P/u/****+DB=" + std::string(300, 'x'));
}

TEST(MaskedOpenString, CopyThatCannotBeHadShowsNothing) {
  fault::arm(fault::Point::kAllocation, 1);
  MaskedOpenString masked("ORACLE_XA+Acc=P/u/secret");
  fault::disarmAll();
  EXPECT_EQ(masked.text(), nullptr);
  // Nothing to hide needs no copy.
  fault::arm(fault::Point::kAllocation, 1);
  MaskedOpenString plain("ORACLE_XA+DB=x");
  fault::disarmAll();
  EXPECT_STREQ(plain.text(), "ORACLE_XA+DB=x");
}

}  // namespace
}  // namespace zp
