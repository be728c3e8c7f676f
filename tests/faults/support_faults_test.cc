// Every failure point of the support library's public operations, swept one
// at a time: error records with an installed list, wide strings, the pointer
// array, thread records, and the byte-string routines (which have none). Each
// failure gives the operation's documented result, leaves the object whole and
// nothing allocated, and the next call works.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "module/statics.h"
#include "platform/alloc.h"
#include "platform/fault.h"
#include "support/bytes.h"
#include "support/icu.h"
#include "support/kvarray.h"
#include "support/kverror.h"
#include "support/kvlist.h"
#include "support/kvparams.h"
#include "support/kvstringw.h"
#include "support/perthred.h"
#include "support/wide_testing.h"
#include "testlib/fault_sweep.h"

namespace zp {
namespace {

using test::contents;
using test::FaultRun;
using test::FaultSweepEntry;
using test::units;

// An operation on a wide string that starts from text: its result (0 or 1)
// and what the string holds afterwards. The string's own setup failing is
// result 2.
struct WideRow {
  const char* name;
  // A failed operation leaves the string as it was; replaceAll and
  // substitute keep the occurrences they replaced before the failure.
  bool keepsOnFailure;
  const char16_t* start;  // assigned first (null: a string with no buffer)
  std::function<int32_t(KvParamStringW&)> act;
  std::u16string expected;  // after a clean run
  int32_t cleanResult = 0;
};

TEST(SupportFaults, WideStrings) {
  const WideRow rows[] = {
      {"assign ANSI", true, nullptr,
       [](KvParamStringW& s) { return s.assignCString("abc", kEncodingAnsi); }, u"abc"},
      {"assign UTF-16", true, nullptr,
       [](KvParamStringW& s) {
         static const char16_t kText[] = u"ab";
         // The count of a UTF-16 input is in units.
         return s.assign(reinterpret_cast<const char*>(kText), 2, kEncodingUtf16);
       },
       u"ab"},
      {"assign UTF-8", true, nullptr,
       [](KvParamStringW& s) { return s.assignCString("caf\xC3\xA9", kEncodingUtf8); },
       u"caf\u00e9"},
      {"assign invalid UTF-8", true, nullptr,
       [](KvParamStringW& s) { return s.assignCString("caf\xE9", kEncodingUtf8); }, u"", 1},
      {"assignUtf16", true, nullptr,
       [](KvParamStringW& s) { return s.assignUtf16(units(u"xy"), 2); }, u"xy"},
      {"reserve", true, u"abc", [](KvParamStringW& s) { return s.reserve(40); }, u"abc"},
      {"replace, growing", true, u"abc",
       [](KvParamStringW& s) { return s.replace(1, 1, units(u"XYZ"), 3); }, u"aXYZc"},
      {"replaceAll, growing", false, u"a-b-c",
       [](KvParamStringW& s) { return s.replaceAll(units(u"-"), units(u"<->")); }, u"a<->b<->c"},
      {"substitute", false, u"[%s1|%s1]",
       [](KvParamStringW& s) { return s.substitute(units(u"long text")); },
       u"[long text|long text]"},
  };
  for (const WideRow& row : rows) {
    // Without ICU (a Windows system without icu.dll) UTF-8 never converts.
    if (row.expected == u"caf\u00e9" && !icu::available()) continue;
    std::u16string after;
    bool substitutionFailed = false;
    FaultSweepEntry entry;
    entry.name = std::string("KvStringW ") + row.name;
    entry.run = [&row, &after, &substitutionFailed]() -> long long {
      KvParamStringW text;
      if (row.start != nullptr) {
        const std::u16string start(row.start);
        if (text.assignUtf16(units(row.start), static_cast<uint32_t>(start.size())) != 0) return 2;
      }
      const int32_t result = row.act(text);
      after = contents(text);
      substitutionFailed = (text.paramFlags() & KvParamStringW::kSubstitutionFailed) != 0;
      return result;
    };
    entry.check = [&row, &after, &substitutionFailed](const FaultRun& run, long long result) {
      if (run.clean()) {
        EXPECT_EQ(result, row.cleanResult) << run.row;
        EXPECT_TRUE(after == row.expected) << run.row;
        return;
      }
      EXPECT_TRUE(result == 1 || result == 2) << run.row << ": result " << result;
      if (result == 1 && row.start != nullptr && row.keepsOnFailure) {
        EXPECT_TRUE(after == row.start) << run.row << ": the string changed";
      }
      // A failed assign leaves no text; a failed substitution says so.
      if (result == 1 && row.start == nullptr) {
        EXPECT_TRUE(after.empty()) << run.row;
      }
      EXPECT_EQ(substitutionFailed, result == 1 && std::string(row.name) == "substitute")
          << run.row;
    };
    entry.worksAgain = [&entry, &row, &after](const std::string& text) {
      EXPECT_EQ(entry.run(), row.cleanResult) << text << ": next call";
      EXPECT_TRUE(after == row.expected) << text << ": next call";
    };
    test::expectSweepComplete(test::sweepFaults(entry), entry.name);
  }
}

// An error-record operation with an installed list. Results: 1 the record
// itself, 2 the static out-of-memory record, 3 the static fixed record, 0
// null, -1 the message could not be set up.
long long recordResult(const KvError* result, const KvError* own) {
  if (result == nullptr) return 0;
  if (result == own) return 1;
  if (result == &staticOutOfMemoryError()) return 2;
  if (result == &staticFixedError()) return 3;
  return 4;
}

struct ErrorRow {
  const char* name;
  std::function<long long(KvErrorList&, std::u16string& message)> act;
  std::vector<long long> faulted;  // results a failure may give
};

TEST(SupportFaults, ErrorRecords) {
  // addArgument on a record whose message has one placeholder, in encoding.
  auto addArgument = [](int32_t encoding, const char* argument) {
    return [encoding, argument](KvErrorList&, std::u16string& message) -> long long {
      KvError record(5);
      record.argumentEncoding = encoding;
      if (record.message.assignUtf16(units(u"<%s1>"), 5) != 0) return -1;
      const long long result = recordResult(record.addArgument(argument), &record);
      message = contents(record.message);
      return result;
    };
  };
  const ErrorRow rows[] = {
      {"postError",
       [](KvErrorList& list, std::u16string&) {
         KvError* posted = postError(kMessageNotOwner);
         return list.count() == 1 && posted == list.error(0) ? 1LL : recordResult(posted, nullptr);
       },
       {2}},
      {"addArgument ANSI", addArgument(kEncodingAnsi, "abc"), {1, 2, -1}},
      {"addArgument UTF-8", addArgument(kEncodingUtf8, "caf\xC3\xA9"), {1, 2, -1}},
      {"addArgument UTF-8 retried as ANSI", addArgument(kEncodingUtf8, "caf\xE9"), {1, 2, -1}},
      {"newError",
       [](KvErrorList& list, std::u16string&) {
         KvError* made = list.newError(7, units(u"text"), 0, 0, 0);
         const bool whole = made != nullptr && contents(made->message) == u"text";
         delete made;
         return whole ? 1LL : 0LL;
       },
       {0}},
      {"submitError of 33 records",
       [](KvErrorList& list, std::u16string&) {
         // Appended in arrival order: every record admitted, or the
         // substitute handed back in its place.
         list.sortMode = KvErrorList::kSortAppend;
         constexpr uint16_t kRecords = 33;
         for (uint16_t id = 1; id <= kRecords; ++id) {
           KvError* admitted = list.submitError(list.newError(id, units(u"m"), 0, 0, 0));
           const bool appended = list.count() != 0 && admitted == list.error(list.count() - 1);
           if (!appended && admitted != &staticOutOfMemoryError()) return 4LL;
         }
         for (uint32_t i = 1; i < list.count(); ++i) {
           if (list.error(i - 1)->messageId >= list.error(i)->messageId) return 5LL;
         }
         return list.count() == kRecords ? 1LL : 0LL;
       },
       {0}},
      {"compare by a state from a message id",
       [](KvErrorList&, std::u16string&) {
         // No message carries text, so both rank as "HY000": equal.
         KvError first(1, 2716);
         KvError second(2, 2737);
         return first.compare(second) == 0 ? 1LL : 0LL;
       },
       {}},
      {"reportOutOfMemory",
       [](KvErrorList& list, std::u16string&) {
         reportOutOfMemory();
         return (list.flags & KvErrorList::kOutOfMemoryPending) != 0 ? 1LL : 0LL;
       },
       {}},
  };
  for (const ErrorRow& row : rows) {
    std::u16string message;
    std::u16string cleanMessage;
    uint32_t listCount = 0;
    bool pending = false;
    FaultSweepEntry entry;
    entry.name = std::string("KvError ") + row.name;
    entry.run = [&]() -> long long {
      KvErrorList list;
      test::ErrorListScope scope(&list);
      list.flags = KvErrorList::kAcceptAll;
      const long long result = row.act(list, message);
      listCount = list.count();
      pending = (list.flags & KvErrorList::kOutOfMemoryPending) != 0;
      return result;
    };
    entry.check = [&](const FaultRun& run, long long result) {
      if (run.clean()) {
        EXPECT_EQ(result, 1) << run.row;
        cleanMessage = message;
        return;
      }
      bool allowed = false;
      for (long long value : row.faulted) allowed = allowed || value == result;
      EXPECT_TRUE(allowed) << run.row << ": result " << result;
      EXPECT_TRUE(pending) << run.row << ": the list knows memory ran out";
      // A record handed back carries a complete message, or "<unknown>".
      if (result == 1 && !cleanMessage.empty()) {
        EXPECT_TRUE(message == cleanMessage || message == u"<<unknown>>")
            << run.row << ": " << std::string(message.begin(), message.end());
      }
      (void)listCount;
    };
    entry.worksAgain = [&entry](const std::string& text) {
      EXPECT_EQ(entry.run(), 1) << text << ": next call";
    };
    test::expectSweepComplete(test::sweepFaults(entry), entry.name);
  }
}

TEST(SupportFaults, PointerArray) {
  // Seventeen appends: the array grows twice. A failed growth refuses that
  // one insertion and leaves the array as it was.
  constexpr int kItems = 17;
  static int items[kItems];
  std::vector<int> inserted;
  std::vector<int> held;
  FaultSweepEntry entry;
  entry.name = "KvArrayPVoid insertAt";
  entry.run = [&]() -> long long {
    KvArrayPVoid array;
    inserted.clear();
    for (int i = 0; i < kItems; ++i) {
      if (array.insertAt(&items[i], array.count()) == 0) inserted.push_back(i);
    }
    held.clear();
    for (uint32_t i = 0; i < array.count(); ++i) {
      held.push_back(static_cast<int>(static_cast<int*>(array.at(i)) - items));
    }
    return static_cast<long long>(inserted.size());
  };
  entry.check = [&](const FaultRun& run, long long result) {
    EXPECT_EQ(held, inserted) << run.row << ": the array holds what was inserted, in order";
    EXPECT_EQ(result == kItems, run.clean()) << run.row << ": " << result << " inserted";
  };
  entry.worksAgain = [&entry](const std::string& text) {
    EXPECT_EQ(entry.run(), static_cast<long long>(kItems)) << text << ": next call";
  };
  test::expectSweepComplete(test::sweepFaults(entry), entry.name);
}

TEST(SupportFaults, ThreadRecords) {
  // A record for a thread id not seen before; each run takes a new id, and
  // the next call for the same id finds (or makes) its record.
  uint32_t threadId = 0xFFF00000u;
  FaultSweepEntry entry;
  entry.name = "findThreadInfo, new thread";
  entry.prepare = [&threadId] { ++threadId; };
  entry.run = [&threadId]() -> long long { return findThreadInfo(threadId) != nullptr ? 1 : 0; };
  entry.check = [](const FaultRun& run, long long result) {
    EXPECT_EQ(result, run.clean() ? 1 : 0) << run.row;
  };
  entry.worksAgain = [&threadId](const std::string& text) {
    KvThreadInfo* record = findThreadInfo(threadId);
    ASSERT_NE(record, nullptr) << text << ": next call";
    EXPECT_EQ(record, findThreadInfo(threadId)) << text << ": found again";
  };
  test::expectSweepComplete(test::sweepFaults(entry), entry.name);

  FaultSweepEntry zeroed;
  zeroed.name = "allocateZeroed";
  zeroed.run = []() -> long long {
    void* block = allocateZeroed(24);
    const bool made = block != nullptr;
    release(block);
    return made ? 1 : 0;
  };
  zeroed.check = [](const FaultRun& run, long long result) {
    EXPECT_EQ(result, run.clean() ? 1 : 0) << run.row;
  };
  test::expectSweepComplete(test::sweepFaults(zeroed), zeroed.name);
}

TEST(SupportFaults, ByteStrings) {
  // None of the byte-string routines can fail: the sweep finds no point.
  FaultSweepEntry entry;
  entry.name = "byte-string routines";
  entry.run = []() -> long long {
    char buffer[16];
    copyBounded(buffer, sizeof buffer, "abcdef");
    appendString(buffer, "gh");
    char digits[10];
    return byteLength(buffer) * 100 + formatDecimal(digits, sizeof digits, 4096) * 10 +
           compareCounted(buffer, "abcdefgh", 8) + charSize(buffer, kCharModeUtf8);
  };
  entry.check = [](const FaultRun& run, long long result) { EXPECT_EQ(result, 841) << run.row; };
  const test::FaultSweepCounts counts = test::sweepFaults(entry);
  for (int kind = 0; kind < test::kFaultKinds; ++kind) EXPECT_EQ(counts.reached[kind], 0u);
}

}  // namespace
}  // namespace zp
