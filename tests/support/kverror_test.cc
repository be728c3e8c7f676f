// Error records and the error list: SQLSTATE ranking, ordered insertion,
// admission and refusal, the two error entry points with an installed list,
// addArgument's conversions, and every allocation failure on these paths.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "module/statics.h"
#include "support/fault.h"
#include "support/icu.h"
#include "support/kverror.h"
#include "support/kvlist.h"
#include "support/perthred.h"
#include "support/wingetst.h"
#include "testlib/threads.h"
#include "wide_testing.h"

namespace zp {
namespace {

using test::contents;
using test::units;

// A record with the given order and SQLSTATE text (empty: none).
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
    const char16_t* stateA;
    uint32_t flagsA;
    int32_t orderB;
    const char16_t* stateB;
    int expected;
  };
  const Row rows[] = {
      {"smaller order first whatever the state", 1, u"IM", 0, 2, u"08S01", -1},
      {"larger order after", 3, u"08S01", 0, 2, u"HY000", 1},
      {"08S01 before 01S01", 0, u"08S01", 0, 0, u"01S01", -1},
      {"01S01 after 08S01", 0, u"01S01", 0, 0, u"08S01", 1},
      {"01S01 before HY000", 0, u"01S01", 0, 0, u"HY000", -1},
      {"HY000 before IM", 0, u"HY000", 0, 0, u"IM", -1},
      {"IM after the range", 0, u"IM", 0, 0, u"42000", 1},
      {"01000 and 01004 rank equal", 0, u"01000", 0, 0, u"01004", 0},
      {"unranked after IM", 0, u"01004", 0, 0, u"IM", 1},
      {"same rank: this one first", 0, u"HY000", 0, 0, u"HY000", -1},
      {"range low edge 03000", 0, u"03000", 0, 0, u"01000", -1},
      {"HZ000 lies outside the range", 0, u"HZ000", 0, 0, u"01000", 0},
      {"IM001 lies outside the range", 0, u"IM001", 0, 0, u"01000", 0},
      {"empty state defaults to HY000", 0, nullptr, 0, 0, u"01000", -1},
      {"out-of-memory default is HY001", 0, nullptr, KvError::kOutOfMemory, 0, u"HY001", -1},
      {"default states both ranked", 0, nullptr, 0, 0, nullptr, -1},
  };
  for (const Row& row : rows) {
    KvError a(1, 0, row.flagsA);
    KvError b(2);
    a.order = row.orderA;
    b.order = row.orderB;
    if (row.stateA != nullptr) a.setSqlState(units(row.stateA), 0);
    if (row.stateB != nullptr) b.setSqlState(units(row.stateB), 0);
    EXPECT_EQ(a.compare(b), row.expected) << row.name;
  }
}

// A state found through stateId counts with its first five characters.
TEST(ErrorCompare, StateFromMessageText) {
  static std::u16string scripted;
  const ResourceCalls saved = g_resourceCalls;
  const int32_t savedFlag = g_useAnsi.load();
  g_resourceCalls.loadStringW = [](void*, uint32_t, uint16_t* buffer, int capacity) {
    const int length = static_cast<int>(scripted.size()) < capacity - 1
                           ? static_cast<int>(scripted.size())
                           : capacity - 1;
    for (int i = 0; i < length; ++i) buffer[i] = scripted[static_cast<size_t>(i)];
    buffer[length] = 0;
    return length;
  };
  g_useAnsi.store(kAnsiWide);
  KvError byId(1, 77);
  KvError ranked(2);
  ranked.setSqlState(units(u"01S01"), 0);
  scripted = u"08S01 communication link failure";
  EXPECT_EQ(byId.compare(ranked), -1) << "long text cut to 08S01";
  scripted = u"01S01";
  EXPECT_EQ(byId.compare(ranked), -1) << "exact five";
  scripted = u"";
  EXPECT_EQ(byId.compare(ranked), 1) << "empty text ranks nothing";
  g_resourceCalls = saved;
  g_useAnsi.store(savedFlag);
}

TEST(ErrorList, InsertSortedKeepsRankAndArrival) {
  KvErrorList list;
  struct Step {
    uint16_t id;
    int32_t order;
    const char16_t* state;
  };
  const Step steps[] = {
      {1, 0, u"HY000"}, {2, 0, u"01000"},  {3, 0, u"HY000"}, {4, 0, u"01004"}, {5, 0, u"08S01"},
      {6, 0, u"IM"},    {7, -1, u"01000"}, {8, 1, u"08S01"}, {9, 0, u"01S01"}, {10, 0, u"01000"},
  };
  for (const Step& step : steps)
    ASSERT_EQ(list.insertSorted(makeError(step.id, step.order, step.state)), 0);
  // Order first; among equal order: 08S01, 01S01, the range (newest first),
  // IM, then unranked records in arrival order.
  EXPECT_EQ(ids(list), (std::vector<uint16_t>{7, 5, 9, 3, 1, 6, 2, 4, 10, 8}));

  KvErrorList appending;
  appending.sortMode = 2;
  for (const Step& step : steps)
    ASSERT_EQ(appending.insertSorted(makeError(step.id, step.order, step.state)), 0);
  EXPECT_EQ(ids(appending), (std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(ErrorList, AdmissionPopAndBlocking) {
  KvErrorList list;
  EXPECT_FALSE(list.hasBlockingError());
  EXPECT_EQ(list.popError(), nullptr);
  KvError* warning = makeError(1, 0, u"01000", KvError::kNonBlocking);
  EXPECT_EQ(list.submitError(warning), warning);
  EXPECT_FALSE(list.hasBlockingError());
  EXPECT_EQ(list.cursor, 1u);
  KvError* failure = makeError(2, 0, u"01000");
  EXPECT_EQ(list.submitError(failure), failure);
  EXPECT_TRUE(list.hasBlockingError());
  EXPECT_EQ(list.cursor, 2u);
  // Refused while a blocking record is held; the substitute is handed out.
  EXPECT_EQ(list.submitError(makeError(3, 0, u"01000")), &staticFixedError());
  EXPECT_EQ(list.submitError(nullptr), &staticFixedError());
  EXPECT_EQ(list.count(), 2u);
  // Accept-all admits it anyway.
  list.flags |= KvErrorList::kAcceptAll;
  KvError* admitted = makeError(4, 0, u"01000");
  EXPECT_EQ(list.submitError(admitted), admitted);
  EXPECT_EQ(ids(list), (std::vector<uint16_t>{1, 2, 4}));
  // Pop takes the last; a pending out-of-memory report comes first.
  list.flags |= KvErrorList::kOutOfMemoryPending;
  EXPECT_EQ(list.popError(), &staticOutOfMemoryError());
  EXPECT_EQ(list.flags & KvErrorList::kOutOfMemoryPending, 0u);
  KvError* last = list.popError();
  EXPECT_EQ(last, admitted);
  EXPECT_EQ(list.cursor, 0u);
  delete last;
  list.discardLastError();
  EXPECT_EQ(ids(list), (std::vector<uint16_t>{1}));
  // Static records are never destroyed by the list.
  list.sortMode = 1;
  list.insertSorted(&staticFixedError());
  list.discardLastError();
  EXPECT_EQ(ids(list), (std::vector<uint16_t>{1}));
  EXPECT_EQ(staticFixedError().flags, KvError::kStatic | KvError::kFixed);
}

TEST(ErrorEntryPoints, WithInstalledList) {
  KvErrorList list;
  test::ErrorListScope scope(&list);
  KvError* posted = postError(2716);
  ASSERT_NE(posted, nullptr);
  EXPECT_EQ(list.count(), 1u);
  EXPECT_EQ(posted->messageId, 2716);
  EXPECT_EQ(posted->message.length(), 0u) << "the module carries no message texts";
  EXPECT_EQ(postError(2737), &staticFixedError()) << "refused behind a blocking record";
  // Out of memory: the newest blocking record gives way, the mark is set.
  reportOutOfMemory();
  EXPECT_EQ(list.count(), 0u);
  EXPECT_NE(list.flags & KvErrorList::kOutOfMemoryPending, 0u);
  // The next record is admitted; the pending report is taken out first.
  KvError* later = postError(1524);
  ASSERT_NE(later, nullptr);
  EXPECT_EQ(list.count(), 1u);
  EXPECT_EQ(list.popError(), &staticOutOfMemoryError());
  EXPECT_EQ(list.popError(), later);
  delete later;
  // With accept-all nothing is discarded.
  list.flags = KvErrorList::kAcceptAll;
  ASSERT_NE(postError(1524), nullptr);
  reportOutOfMemory();
  EXPECT_EQ(list.count(), 1u);
}

TEST(ErrorArguments, ConversionAndRetry) {
  struct Row {
    const char* name;
    int32_t encoding;
    const char* argument;
    bool withList;
    bool blocked;  // the list already holds a blocking record
  };
  const Row rows[] = {
      {"ANSI argument", kEncodingAnsi, "plain", true, false},
      {"UTF-8 argument", kEncodingUtf8, "caf\xC3\xA9", true, false},
      {"invalid UTF-8 retried as ANSI", kEncodingUtf8, "caf\xE9", true, false},
      {"invalid UTF-8 without a list", kEncodingUtf8, "caf\xE9", false, false},
      {"invalid UTF-8 refused by the list", kEncodingUtf8, "caf\xE9", true, true},
      {"null argument", kEncodingAnsi, nullptr, true, false},
  };
  for (const Row& row : rows) {
    KvErrorList list;
    KvErrorList* installed = row.withList ? &list : nullptr;
    if (row.blocked) list.insertSorted(makeError(99, 0, u"HY000"));
    findThreadInfo(platform::currentThreadId())->slots[0] = installed;
    KvError record(5);
    record.argumentEncoding = row.encoding;
    ASSERT_EQ(record.message.assignUtf16(units(u"<%s1>"), 5), 0);
    const uint32_t before = list.count();
    EXPECT_EQ(record.addArgument(row.argument), &record) << row.name;
    findThreadInfo(platform::currentThreadId())->slots[0] = nullptr;

    // What the argument should have become: its conversion by the encoding,
    // else (UTF-8 with a record left behind) by the ANSI code page, else
    // "<unknown>".
    std::u16string expected = u"<unknown>";
    KvStringW direct;
    if (row.argument != nullptr) {
      const bool icuRefuses = direct.assignCString(row.argument, row.encoding) != 0;
      if (!icuRefuses) {
        expected = contents(direct);
      } else if (row.withList && !row.blocked) {
        KvStringW ansi;
        ASSERT_EQ(ansi.assignCString(row.argument, kEncodingAnsi), 0);
        expected = contents(ansi);
      }
    }
    EXPECT_EQ(contents(record.message), u"<" + expected + u">") << row.name;
    EXPECT_EQ(list.count(), before) << row.name << ": the failed conversion's record is gone";
    EXPECT_EQ(record.message.paramCount(), 1) << row.name;
  }
}

TEST(ErrorArguments, RetryRemovesOnlyItsOwnRecord) {
  // The conversion's record sorts before an older one; the retry must remove
  // the record it caused, not the last in the list.
  KvErrorList list;
  KvError* older = makeError(99, 1, u"HY000", KvError::kNonBlocking);
  list.insertSorted(older);
  test::ErrorListScope scope(&list);
  KvError record(5);
  record.argumentEncoding = kEncodingUtf8;
  ASSERT_EQ(record.message.assignUtf16(units(u"%s1"), 3), 0);
  EXPECT_EQ(record.addArgument("\xFF"), &record);
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(list.error(0), older);
}

TEST(ErrorArguments, FixedRecordUnchanged) {
  KvError& fixed = staticFixedError();
  EXPECT_EQ(fixed.addArgument("anything"), &fixed);
  EXPECT_EQ(fixed.message.data(), nullptr);
  EXPECT_EQ(fixed.message.paramCount(), 0);
}

// Allocation failures on the error paths: the documented result and no leak.
TEST(ErrorAllocationFailure, EveryPath) {
  struct Row {
    const char* name;
    uint32_t failingAllocation;  // counted from the action's first allocation
    std::function<KvError*(KvErrorList&)> act;
    std::function<KvError*()> expected;
    uint32_t countAfter;
  };
  auto outOfMemory = [] { return &staticOutOfMemoryError(); };
  auto none = []() -> KvError* { return nullptr; };
  const std::vector<Row> rows = {
      {"postError: the record", 1, [](KvErrorList&) { return postError(2716); }, outOfMemory, 0},
      {"postError: its message", 2, [](KvErrorList&) { return postError(2716); }, outOfMemory, 0},
      {"postError: the list's growth", 3, [](KvErrorList&) { return postError(2716); }, outOfMemory,
       0},
      {"newError alone", 1, [](KvErrorList& l) { return l.newError(1, units(u"text"), 0, 0, 0); },
       none, 0},
  };
  for (const Row& row : rows) {
    KvErrorList list;
    test::ErrorListScope scope(&list);
    fault::arm(fault::Point::kAllocation, row.failingAllocation);
    KvError* result = row.act(list);
    fault::disarmAll();
    EXPECT_EQ(result, row.expected()) << row.name;
    EXPECT_EQ(list.count(), row.countAfter) << row.name;
    EXPECT_NE(list.flags & KvErrorList::kOutOfMemoryPending, 0u) << row.name;
  }

  // addArgument: a conversion that cannot allocate becomes "<unknown>"; a
  // substitution that cannot grow hands out the list's substitute.
  for (uint32_t failing = 1; failing <= 2; ++failing) {
    KvErrorList list;
    test::ErrorListScope scope(&list);
    KvError record(5);
    ASSERT_EQ(record.message.assignUtf16(units(u"%s1"), 3), 0);
    fault::arm(fault::Point::kAllocation, failing);
    KvError* result = record.addArgument("abcd");
    fault::disarmAll();
    const std::string name = "addArgument, allocation " + std::to_string(failing);
    if (failing == 1) {
      EXPECT_EQ(result, &record) << name;
      EXPECT_EQ(contents(record.message), u"<unknown>") << name;
    } else {
      EXPECT_EQ(result, &staticOutOfMemoryError()) << name;
      EXPECT_NE(record.message.paramFlags() & KvParamStringW::kSubstitutionFailed, 0u) << name;
    }
  }
}

// Threads report into their own lists at once, and race to decide the
// resource path; each list sees only its own thread's records.
TEST(ErrorEntryPoints, ThreadsUseTheirOwnLists) {
  constexpr int kThreads = 6;
  g_useAnsi.store(kAnsiUndecided);
  std::vector<uint32_t> admitted(kThreads);
  std::vector<uint32_t> afterReport(kThreads);
  std::vector<uint32_t> pending(kThreads);
  test::runConcurrently(kThreads, [&](int i) {
    KvErrorList list;
    test::ErrorListScope scope(&list);
    list.flags = KvErrorList::kAcceptAll;
    for (int n = 0; n <= i; ++n) postError(static_cast<uint16_t>(100 + n));
    admitted[i] = list.count();
    list.flags = 0;
    reportOutOfMemory();
    afterReport[i] = list.count();
    pending[i] = list.flags & KvErrorList::kOutOfMemoryPending;
  });
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(admitted[i], static_cast<uint32_t>(i + 1)) << "thread " << i;
    EXPECT_EQ(afterReport[i], static_cast<uint32_t>(i)) << "thread " << i;
    EXPECT_NE(pending[i], 0u) << "thread " << i;
  }
  EXPECT_NE(g_useAnsi.load(), kAnsiUndecided);
}

}  // namespace
}  // namespace zp
