// Error records and the error list: SQLSTATE ranking, ordered insertion,
// admission and refusal, the error entry points with an installed list,
// addArgument's conversions, and the allocation failures on these paths.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "module/statics.h"
#include "platform/fault.h"
#include "support/wingetst.h"
#include "testlib/threads.h"
#include "wide_testing.h"

namespace zp {
namespace {

using test::contents;
using test::units;

KvError* makeError(uint16_t id, int32_t order, const char16_t* state, uint32_t flags = 0) {
  KvError* record = new KvError(id, 0, flags);
  record->order = order;
  if (state != nullptr) record->setSqlState(units(state), 0);
  return record;
}

std::vector<uint16_t> ids(const KvErrorList& list) {
  std::vector<uint16_t> out;
  for (uint32_t i = 0; i < list.count(); ++i) out.push_back(list.error(i)->messageId);
  return out;
}

TEST(ErrorCompare, OrderThenStateRank) {
  struct Row {
    const char* name;
    int32_t orderA;
    const char16_t* stateA;  // null: none set
    uint32_t flagsA;
    const char16_t* stateB;
    int expected;
  };
  const Row rows[] = {
      {"smaller order first whatever the state", -1, u"IM", 0, u"08S01", -1},
      {"08S01 before 01S01", 0, u"08S01", 0, u"01S01", -1},
      {"01S01 after 08S01", 0, u"01S01", 0, u"08S01", 1},
      {"01S01 before HY000", 0, u"01S01", 0, u"HY000", -1},
      {"HY000 before IM", 0, u"HY000", 0, u"IM", -1},
      {"01000 and 01004 rank equal", 0, u"01000", 0, u"01004", 0},
      {"same rank: this one first", 0, u"HY000", 0, u"HY000", -1},
      {"HZ000 outside the range", 0, u"HZ000", 0, u"01000", 0},
      {"empty state is HY000", 0, nullptr, 0, u"01000", -1},
      {"out-of-memory default is HY001", 0, nullptr, KvError::kOutOfMemory, u"HY001", -1},
  };
  for (const Row& row : rows) {
    KvError a(1, 0, row.flagsA);
    KvError b(2);
    a.order = row.orderA;
    if (row.stateA != nullptr) a.setSqlState(units(row.stateA), 0);
    b.setSqlState(units(row.stateB), 0);
    EXPECT_EQ(a.compare(b), row.expected) << row.name;
  }
}

// A state found through stateId counts with its first five characters.
TEST(ErrorCompare, StateFromLongMessageText) {
  const ResourceCalls saved = g_resourceCalls;
  const int32_t savedFlag = g_useAnsi.load();
  g_resourceCalls.loadStringW = [](void*, uint32_t, uint16_t* buffer, int) {
    wideCopy(buffer, units(u"08S01 communication link failure"));
    return static_cast<int>(wideLength(buffer));
  };
  g_useAnsi.store(kAnsiWide);
  KvError byId(1, 77);
  KvError ranked(2);
  ranked.setSqlState(units(u"01S01"), 0);
  EXPECT_EQ(byId.compare(ranked), -1);
  g_resourceCalls = saved;
  g_useAnsi.store(savedFlag);
}

TEST(ErrorList, InsertSortedKeepsRankAndArrival) {
  const std::tuple<uint16_t, int32_t, const char16_t*> steps[] = {
      {1, 0, u"HY000"}, {2, 0, u"01000"},  {3, 0, u"HY000"}, {4, 0, u"01004"}, {5, 0, u"08S01"},
      {6, 0, u"IM"},    {7, -1, u"01000"}, {8, 1, u"08S01"}, {9, 0, u"01S01"}, {10, 0, u"01000"}};
  KvErrorList sorted;
  KvErrorList appending;
  appending.sortMode = 2;
  for (const auto& step : steps) {
    ASSERT_EQ(
        sorted.insertSorted(makeError(std::get<0>(step), std::get<1>(step), std::get<2>(step))), 0);
    ASSERT_EQ(
        appending.insertSorted(makeError(std::get<0>(step), std::get<1>(step), std::get<2>(step))),
        0);
  }
  // Order first; among equal order 08S01, 01S01, the range (newest first),
  // IM, then records of no rank in arrival order.
  EXPECT_EQ(ids(sorted), (std::vector<uint16_t>{7, 5, 9, 3, 1, 6, 2, 4, 10, 8}));
  EXPECT_EQ(ids(appending), (std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(ErrorList, AdmissionPopAndDiscard) {
  KvErrorList list;
  KvError* warning = makeError(1, 0, u"01000", KvError::kNonBlocking);
  EXPECT_EQ(list.submitError(warning), warning);
  EXPECT_FALSE(list.hasBlockingError());
  KvError* failure = makeError(2, 0, u"01000");
  EXPECT_EQ(list.submitError(failure), failure);
  EXPECT_TRUE(list.hasBlockingError());
  EXPECT_EQ(list.cursor, 2u);
  EXPECT_EQ(list.submitError(makeError(3, 0, u"01000")), &staticFixedError()) << "refused";
  EXPECT_EQ(list.submitError(nullptr), &staticFixedError());
  list.flags = KvErrorList::kAcceptAll | KvErrorList::kOutOfMemoryPending;
  KvError* admitted = makeError(4, 0, u"01000");
  EXPECT_EQ(list.submitError(admitted), admitted) << "accept-all admits behind a blocking record";
  EXPECT_EQ(list.popError(), &staticOutOfMemoryError()) << "the pending report comes first";
  EXPECT_EQ(list.popError(), admitted);
  delete admitted;
  list.discardLastError();
  EXPECT_EQ(ids(list), (std::vector<uint16_t>{1}));
  // A static record is taken out but never destroyed.
  list.sortMode = 1;
  list.insertSorted(&staticFixedError());
  list.discardLastError();
  EXPECT_EQ(ids(list), (std::vector<uint16_t>{1}));
}

TEST(ErrorEntryPoints, WithInstalledList) {
  KvErrorList list;
  test::ErrorListScope scope(&list);
  KvError* posted = postError(2716);
  ASSERT_NE(posted, nullptr);
  EXPECT_EQ(ids(list), (std::vector<uint16_t>{2716}));
  EXPECT_EQ(postError(2737), &staticFixedError()) << "refused behind a blocking record";
  reportOutOfMemory();  // the newest blocking record gives way
  EXPECT_EQ(list.count(), 0u);
  EXPECT_NE(list.flags & KvErrorList::kOutOfMemoryPending, 0u);
  list.flags = KvErrorList::kAcceptAll;
  ASSERT_NE(postError(1524), nullptr);
  reportOutOfMemory();
  EXPECT_EQ(list.count(), 1u) << "accept-all discards nothing";
}

TEST(ErrorArguments, ConversionRetryAndUnknown) {
  struct Row {
    const char* name;
    int32_t encoding;
    const char* argument;
    bool withList;
    bool blocked;  // the list already holds a blocking record
  };
  const Row rows[] = {
      {"UTF-8 argument", kEncodingUtf8, "caf\xC3\xA9", true, false},
      {"invalid UTF-8 retried as ANSI", kEncodingUtf8, "caf\xE9", true, false},
      {"invalid UTF-8 without a list", kEncodingUtf8, "caf\xE9", false, false},
      {"invalid UTF-8 refused by the list", kEncodingUtf8, "caf\xE9", true, true},
      {"null argument", kEncodingAnsi, nullptr, true, false},
  };
  for (const Row& row : rows) {
    KvErrorList list;
    if (row.blocked) list.insertSorted(makeError(99, 0, u"HY000"));
    KvError record(5);
    record.argumentEncoding = row.encoding;
    ASSERT_EQ(record.message.assignUtf16(units(u"<%s1>"), 5), 0);
    {
      test::ErrorListScope scope(row.withList ? &list : nullptr);
      EXPECT_EQ(record.addArgument(row.argument), &record) << row.name;
    }
    // Expected: the conversion by the encoding; else, when the failure left a
    // record behind, by the ANSI code page; else "<unknown>".
    std::u16string expected = u"<unknown>";
    KvStringW direct;
    KvStringW ansi;
    if (row.argument != nullptr && direct.assignCString(row.argument, row.encoding) == 0) {
      expected = contents(direct);
    } else if (row.argument != nullptr && row.withList && !row.blocked) {
      ASSERT_EQ(ansi.assignCString(row.argument, kEncodingAnsi), 0);
      expected = contents(ansi);
    }
    EXPECT_TRUE(contents(record.message) == u"<" + expected + u">") << row.name;
    EXPECT_EQ(list.count(), row.blocked ? 1u : 0u)
        << row.name << ": the conversion's record is gone";
  }
  KvError& fixed = staticFixedError();
  EXPECT_EQ(fixed.addArgument("anything"), &fixed);
  EXPECT_EQ(fixed.message.paramCount(), 0) << "a fixed record is left alone";
}

TEST(ErrorArguments, RetryRemovesOnlyItsOwnRecord) {
  // The failed conversion's record sorts before an older one; the retry must
  // remove that record, not the last in the list.
  KvErrorList list;
  KvError* older = makeError(99, 1, u"HY000", KvError::kNonBlocking);
  list.insertSorted(older);
  test::ErrorListScope scope(&list);
  KvError record(5);
  record.argumentEncoding = kEncodingUtf8;
  ASSERT_EQ(record.message.assignUtf16(units(u"%s1"), 3), 0);
  EXPECT_EQ(record.addArgument("\xFF"), &record);
  EXPECT_EQ(ids(list), (std::vector<uint16_t>{99}));
}

// Allocation failures on the error paths: the documented result, the list
// marked, nothing leaked.
TEST(ErrorAllocationFailure, EveryPath) {
  enum Result { kTheRecord, kOutOfMemoryRecord, kNull };
  struct Row {
    const char* name;
    uint32_t failing;  // which allocation of the action fails
    std::function<KvError*(KvErrorList&, KvError&)> act;
    Result expected;
  };
  const std::vector<Row> rows = {
      {"postError: the record", 1, [](KvErrorList&, KvError&) { return postError(2716); },
       kOutOfMemoryRecord},
      {"postError: its message", 2, [](KvErrorList&, KvError&) { return postError(2716); },
       kOutOfMemoryRecord},
      {"postError: the list's growth", 3, [](KvErrorList&, KvError&) { return postError(2716); },
       kOutOfMemoryRecord},
      {"newError", 1,
       [](KvErrorList& l, KvError&) { return l.newError(1, units(u"text"), 0, 0, 0); }, kNull},
      {"addArgument: the conversion", 1,
       [](KvErrorList&, KvError& r) { return r.addArgument("abcd"); }, kTheRecord},
      {"addArgument: the substitution", 2,
       [](KvErrorList&, KvError& r) { return r.addArgument("abcd"); }, kOutOfMemoryRecord},
  };
  for (const Row& row : rows) {
    KvErrorList list;
    test::ErrorListScope scope(&list);
    KvError record(5);
    ASSERT_EQ(record.message.assignUtf16(units(u"%s1"), 3), 0);
    fault::arm(fault::Point::kAllocation, row.failing);
    KvError* result = row.act(list, record);
    fault::disarmAll();
    KvError* const expected[] = {&record, &staticOutOfMemoryError(), nullptr};
    EXPECT_EQ(result, expected[row.expected]) << row.name;
    EXPECT_EQ(list.count(), 0u) << row.name;
    EXPECT_NE(list.flags & KvErrorList::kOutOfMemoryPending, 0u) << row.name;
    if (row.expected == kTheRecord) {
      EXPECT_TRUE(contents(record.message) == u"<unknown>") << row.name;
    }
  }
}

// Threads report into their own lists at once and race to decide the
// resource path; each list sees only its own thread's records.
TEST(ErrorEntryPoints, ThreadsUseTheirOwnLists) {
  constexpr int kThreads = 6;
  g_useAnsi.store(kAnsiUndecided);
  std::vector<uint32_t> admitted(kThreads);
  std::vector<uint32_t> afterReport(kThreads);
  test::runConcurrently(kThreads, [&](int i) {
    KvErrorList list;
    test::ErrorListScope scope(&list);
    list.flags = KvErrorList::kAcceptAll;
    for (int n = 0; n <= i; ++n) postError(static_cast<uint16_t>(100 + n));
    admitted[i] = list.count();
    list.flags = 0;
    reportOutOfMemory();
    afterReport[i] = list.count();
  });
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(admitted[i], static_cast<uint32_t>(i + 1)) << "thread " << i;
    EXPECT_EQ(afterReport[i], static_cast<uint32_t>(i)) << "thread " << i;
  }
  EXPECT_NE(g_useAnsi.load(), kAnsiUndecided);
}

}  // namespace
}  // namespace zp
