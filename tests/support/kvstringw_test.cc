// Wide strings: conversion from UTF-8 and the ANSI code page, search that
// respects surrogate pairs, replacement on long strings, placeholder
// substitution, case-insensitive comparison, and every allocation failure.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/fault.h"
#include "support/icu.h"
#include "support/kverror.h"
#include "support/kvlist.h"
#include "support/kvparams.h"
#include "support/kvstringw.h"
#include "wide_testing.h"

namespace zp {
namespace {

using test::contents;
using test::narrow;
using test::units;

TEST(WideUnits, LengthCopyCompareStep) {
  EXPECT_EQ(wideLength(units(u"")), 0u);
  EXPECT_EQ(wideLength(units(u"a\U0001F600b")), 4u);
  uint16_t copy[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  wideCopy(copy, units(u"abc"));
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(copy)), u"abc");
  EXPECT_EQ(copy[4], 9) << "copy stops after the terminator";

  struct Row {
    const char* name;
    const char16_t* a;
    const char16_t* b;
    int expected;
  };
  const Row rows[] = {
      {"equal", u"abc", u"abc", 0},
      {"prefix first", u"ab", u"abc", -1},
      {"longer after", u"abc", u"ab", 1},
      {"units unsigned", u"\uFFFF", u"a", 1},
      {"by first difference", u"abd", u"abz", -1},
      {"both empty", u"", u"", 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(wideCompare(units(row.a), units(row.b)), row.expected) << row.name;
    EXPECT_EQ(wideEqual(units(row.a), units(row.b)), row.expected == 0 ? 1 : 0) << row.name;
  }
  const uint16_t* pair = units(u"\U0001F600x");
  EXPECT_EQ(nextCodePoint(pair), pair + 2);
  EXPECT_EQ(nextCodePoint(pair + 2), pair + 3);
  EXPECT_EQ(nextCodePoint(pair + 1), pair + 2) << "a low surrogate steps by one";
}

TEST(WideConversion, Utf16AndUtf8) {
  KvStringW raw;
  const char16_t source[] = u"h\u00E9";
  ASSERT_EQ(raw.assign(reinterpret_cast<const char*>(source), 2, kEncodingUtf16), 0);
  EXPECT_EQ(contents(raw), u"h\u00E9");
  EXPECT_EQ(raw.data()[2], 0);

  if (!icu::available())
    GTEST_SKIP() << "ICU is not present on this system; UTF-8 conversion needs it";
  struct Row {
    const char* name;
    const char* utf8;
    std::u16string expected;
  };
  const std::vector<Row> rows = {
      {"accented letter is one unit", "\xC3\xA9", u"\u00E9"},
      {"ASCII", "abc", u"abc"},
      {"empty", "", u""},
      {"beyond the basic plane", "\xF0\x9F\x98\x80!", u"\U0001F600!"},
  };
  for (const Row& row : rows) {
    KvStringW text;
    EXPECT_EQ(text.assignCString(row.utf8, kEncodingUtf8), 0) << row.name;
    EXPECT_EQ(contents(text), row.expected) << row.name;
    EXPECT_EQ(text.data()[text.length()], 0) << row.name;
    EXPECT_GE(text.capacity(), text.length() + 1) << row.name;
  }
}

// Invalid UTF-8 takes the error path: length 0, and with an error list the
// posted record carries SQLSTATE "01004" and id 4. Where ICU is absent every
// UTF-8 conversion takes the same path.
TEST(WideConversion, InvalidUtf8PostsError) {
  const char* invalid = "ab\xC3";
  {
    KvStringW text;
    EXPECT_EQ(text.assignCString(invalid, kEncodingUtf8), 1) << "without an error list";
    EXPECT_EQ(text.length(), 0u);
  }
  KvErrorList list;
  test::ErrorListScope scope(&list);
  KvStringW text;
  EXPECT_EQ(text.assignCString("caf\xE9", kEncodingUtf8), 1);
  EXPECT_EQ(text.length(), 0u);
  ASSERT_NE(text.data(), nullptr);
  EXPECT_EQ(text.data()[0], 0);
  ASSERT_EQ(list.count(), 1u);
  const KvError* posted = list.error(0);
  EXPECT_EQ(posted->messageId, kMessageInvalidUtf8);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(posted->sqlState)), u"01004");
  EXPECT_EQ(posted->stateId, 4);

  // A list that refuses the record hands out a static substitute, which keeps
  // its own (empty) SQLSTATE.
  KvStringW again;
  EXPECT_EQ(again.assignCString("\xFF", kEncodingUtf8), 1);
  EXPECT_EQ(list.count(), 1u);
  EXPECT_EQ(list.substituteError()->sqlState[0], 0);
}

TEST(WideConversion, AnsiDropsNothingItCanConvert) {
  KvStringW text;
  ASSERT_EQ(text.assignCString("plain ASCII", kEncodingAnsi), 0);
  EXPECT_EQ(contents(text), u"plain ASCII");
  EXPECT_EQ(text.capacity(), 2u * 11 + 1);
  KvStringW empty;
  ASSERT_EQ(empty.assign("", 0, kEncodingAnsi), 0);
  EXPECT_EQ(empty.length(), 0u);
  EXPECT_EQ(empty.data()[0], 0);
}

TEST(WideFind, NeverStartsOnLowSurrogate) {
  KvStringW text;
  ASSERT_EQ(text.assignUtf16(units(u"\U0001F600a\U0001F600"), 5), 0);
  const uint16_t lowHalf[] = {0xDE00, 0};  // the low half of U+1F600
  struct Row {
    const char* name;
    const uint16_t* pattern;
    uint32_t start;
    uint32_t expected;
  };
  const Row rows[] = {
      {"lone low half from 0", lowHalf, 0, 5},
      {"lone low half from inside a pair", lowHalf, 1, 5},
      {"whole pair", units(u"\U0001F600"), 1, 3},
      {"plain unit", units(u"a"), 0, 2},
      {"pattern longer than rest", units(u"a\U0001F600x"), 2, 5},
      {"start past the end", units(u"a"), 9, 5},
  };
  for (const Row& row : rows)
    EXPECT_EQ(text.find(row.pattern, row.start), row.expected) << row.name;

  KvStringW one;
  ASSERT_EQ(one.assignUtf16(units(u"x"), 1), 0);
  EXPECT_EQ(one.find(units(u"xy"), 0), 1u) << "two-unit pattern in a one-unit string";
  KvStringW never;
  EXPECT_EQ(never.find(units(u"x"), 0), 0u) << "a string without a buffer";
}

TEST(WideReplace, InsertRemoveAndClamp) {
  struct Row {
    const char* name;
    uint32_t index;
    uint32_t removed;
    const char16_t* text;
    uint32_t textLength;
    std::u16string expected;
  };
  const std::vector<Row> rows = {
      {"grow in the middle", 2, 1, u"XYZ", 3, u"abXYZdef"},
      {"shrink in the middle", 1, 3, u"Q", 1, u"aQef"},
      {"same size", 0, 2, u"12", 2, u"12cdef"},
      {"length taken from text", 6, 0, u"gh", 0, u"abcdefgh"},
      {"remove only", 0, 3, nullptr, 0, u"def"},
      {"removal past the end is cut", 4, 100, u"!", 1, u"abcd!"},
      {"index past the end appends", 50, 2, u"+", 1, u"abcdef+"},
  };
  for (const Row& row : rows) {
    KvStringW text;
    ASSERT_EQ(text.assignUtf16(units(u"abcdef"), 6), 0);
    EXPECT_EQ(
        text.replace(row.index, row.removed, row.text ? units(row.text) : nullptr, row.textLength),
        0)
        << row.name;
    EXPECT_EQ(contents(text), row.expected) << row.name;
    EXPECT_EQ(text.data()[text.length()], 0) << row.name;
  }
  KvStringW empty;
  EXPECT_EQ(empty.replace(0, 0, units(u"new"), 3), 0);
  EXPECT_EQ(contents(empty), u"new");
}

// Strings beyond 65,535 units: every occurrence is found and the tails move
// intact in both directions.
TEST(WideReplace, LongStrings) {
  constexpr uint32_t kLength = 70000;
  std::u16string source(kLength, u'.');
  const std::vector<uint32_t> marks = {10, 65534, 65536, 69990};
  for (uint32_t at : marks) source.replace(at, 2, u"%s");
  for (uint32_t i = 0; i < source.size(); i += 997) {
    if (source[i] == u'.') source[i] = static_cast<char16_t>(u'A' + i % 26);
  }
  struct Row {
    const char* name;
    std::u16string replacement;
  };
  const std::vector<Row> rows = {{"growing", u"<grown>"}, {"shrinking", u"-"}, {"removing", u""}};
  for (const Row& row : rows) {
    KvStringW text;
    ASSERT_EQ(text.assignUtf16(units(source.c_str()), kLength), 0);
    ASSERT_EQ(text.replaceAll(units(u"%s"), units(row.replacement.c_str())), 0) << row.name;
    std::u16string expected = source;
    for (size_t at = expected.find(u"%s"); at != std::u16string::npos;
         at = expected.find(u"%s", at + row.replacement.size())) {
      expected.replace(at, 2, row.replacement);
    }
    EXPECT_EQ(text.length(), expected.size()) << row.name;
    EXPECT_TRUE(contents(text) == expected) << row.name;
    EXPECT_EQ(text.data()[text.length()], 0) << row.name;
  }
}

TEST(WideReplace, ReplaceAllDoesNotRescanInsertedText) {
  KvStringW text;
  ASSERT_EQ(text.assignUtf16(units(u"aXa"), 3), 0);
  ASSERT_EQ(text.replaceAll(units(u"a"), units(u"aa")), 0);
  EXPECT_EQ(contents(text), u"aaXaa");
  ASSERT_EQ(text.replaceAll(units(u""), units(u"zz")), 0) << "an empty pattern matches nothing";
  EXPECT_EQ(contents(text), u"aaXaa");
}

TEST(WideParams, PlaceholderSubstitution) {
  struct Row {
    const char* name;
    const char16_t* message;
    std::vector<std::u16string> arguments;
    std::u16string expected;
  };
  const std::vector<Row> rows = {
      {"first placeholder twice", u"%s1 and %s1", {u"x"}, u"x and x"},
      {"first leaves the tenth intact", u"%s1|%sx10", {u"A"}, u"A|%sx10"},
      {"tenth after nine",
       u"%s1|%sx10|%s9",
       {u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8", u"9", u"ten"},
       u"1|ten|9"},
      {"missing placeholder", u"no placeholder", {u"x"}, u"no placeholder"},
      {"second after a missing first", u"[%s2]", {u"skipped", u"two"}, u"[two]"},
      {"empty argument removes", u"a%s1b", {u""}, u"ab"},
      {"argument holding a placeholder is not rescanned", u"%s1", {u"%s1"}, u"%s1"},
  };
  for (const Row& row : rows) {
    KvParamStringW message;
    ASSERT_EQ(message.assignUtf16(units(row.message), wideLength(units(row.message))), 0)
        << row.name;
    for (const std::u16string& argument : row.arguments) {
      EXPECT_EQ(message.substitute(units(argument.c_str())), 0) << row.name;
    }
    EXPECT_EQ(contents(message), row.expected) << row.name << ": " << narrow(contents(message));
    EXPECT_EQ(message.paramCount(), row.arguments.size()) << row.name;
    EXPECT_EQ(message.paramFlags(), 0u) << row.name;
  }
  // The second form takes another string's contents.
  KvParamStringW message;
  ASSERT_EQ(message.assignUtf16(units(u"<%s1>"), 5), 0);
  KvStringW argument;
  ASSERT_EQ(argument.assignUtf16(units(u"arg"), 3), 0);
  EXPECT_EQ(message.substitute(argument), 0);
  EXPECT_EQ(contents(message), u"<arg>");
}

TEST(WideCompare, CaseInsensitiveByCodePoint) {
  const bool icu = icu::available();
  struct Row {
    const char* name;
    const char16_t* a;
    const char16_t* b;
    int expected;
    bool needsIcu;
  };
  const Row rows[] = {
      {"upper and lower spelling", u"hello", u"HELLO", 0, true},
      {"prefix is smaller", u"abc", u"abcd", -1, false},
      {"b after A", u"b", u"A", 1, true},
      {"accented case pair", u"\u00E9t\u00E9", u"\u00C9T\u00C9", 0, true},
      {"pair case mapping (Deseret)", u"\U00010428", u"\U00010400", 0, true},
      {"pair above every basic unit", u"\U00010000", u"\uFFFF", 1, false},
      {"pair against a lower pair", u"\U0001F600", u"\U0001F601", -1, false},
      {"exact code points", u"same", u"same", 0, false},
      {"lone high surrogate at the end", u"a\xD800", u"a\xD800z", -1, false},
      {"high surrogate before a plain unit",
       u"\xD800"
       u"A",
       u"\xD800"
       u"B",
       -1, false},
      {"both empty", u"", u"", 0, false},
  };
  for (const Row& row : rows) {
    if (row.needsIcu && !icu) continue;
    KvStringW a;
    KvStringW b;
    ASSERT_EQ(a.assignUtf16(units(row.a), wideLength(units(row.a))), 0);
    ASSERT_EQ(b.assignUtf16(units(row.b), wideLength(units(row.b))), 0);
    EXPECT_EQ(a.compare(b), row.expected) << row.name;
    EXPECT_EQ(b.compare(a), -row.expected) << row.name << " (reversed)";
  }
  if (!icu) {
    // Without ICU, code points compare exactly.
    KvStringW lower;
    KvStringW upper;
    ASSERT_EQ(lower.assignUtf16(units(u"a"), 1), 0);
    ASSERT_EQ(upper.assignUtf16(units(u"A"), 1), 0);
    EXPECT_EQ(lower.compare(upper), 1);
    GTEST_SKIP() << "ICU is not present on this system: the case-folding rows were skipped";
  }
}

TEST(WideReserve, ForeignBufferIsNeverGrown) {
  uint16_t buffer[4] = {'a', 'b', 0, 0x7777};
  KvErrorList list;
  test::ErrorListScope scope(&list);
  KvStringW text;
  text.attachBuffer(buffer, 2, 4);
  EXPECT_FALSE(text.ownsBuffer());
  EXPECT_EQ(text.reserve(100), 1);
  EXPECT_EQ(text.data(), buffer);
  EXPECT_EQ(text.capacity(), 4u);
  EXPECT_EQ(buffer[3], 0x7777);
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(list.error(0)->messageId, kMessageNotOwner);
  // Growth through replace is refused the same way and leaves the text alone.
  EXPECT_EQ(text.replace(2, 0, units(u"cdef"), 4), 1);
  EXPECT_EQ(contents(text), u"ab");
  // A change that fits is made in place.
  EXPECT_EQ(text.replace(0, 1, units(u"z"), 1), 0);
  EXPECT_EQ(contents(text), u"zb");
}

// Every allocation of the wide strings, failed through the hook: the
// documented result, the out-of-memory report reaching the thread's error
// list, and nothing leaked.
TEST(WideAllocationFailure, EveryPath) {
  struct Row {
    const char* name;
    std::function<void(KvParamStringW&)> prepare;
    std::function<int32_t(KvParamStringW&)> act;
    std::u16string after;  // contents afterwards
    bool hasBuffer;        // whether a buffer remains
  };
  auto fill = [](const char16_t* text) {
    return [text](KvParamStringW& s) {
      ASSERT_EQ(s.assignUtf16(units(text), wideLength(units(text))), 0);
    };
  };
  auto nothing = [](KvParamStringW&) {};
  const std::vector<Row> rows = {
      {"assignUtf16", nothing, [](KvParamStringW& s) { return s.assignUtf16(units(u"abc"), 3); },
       u"", false},
      {"assign ANSI", nothing,
       [](KvParamStringW& s) { return s.assignCString("abc", kEncodingAnsi); }, u"", false},
      {"assign UTF-8", nothing,
       [](KvParamStringW& s) { return s.assignCString("abc", kEncodingUtf8); }, u"", false},
      {"reserve without a buffer", nothing, [](KvParamStringW& s) { return s.reserve(10); }, u"",
       false},
      {"reserve with a buffer", fill(u"keep"), [](KvParamStringW& s) { return s.reserve(100); },
       u"keep", true},
      {"replace that grows", fill(u"ab"),
       [](KvParamStringW& s) { return s.replace(1, 0, units(u"xyz"), 3); }, u"ab", true},
      {"replaceAll stops at the failure", fill(u"%s1-%s1"),
       [](KvParamStringW& s) { return s.replaceAll(units(u"%s1"), units(u"longer")); }, u"%s1-%s1",
       true},
      {"substitute", fill(u"[%s1]"),
       [](KvParamStringW& s) { return s.substitute(units(u"argument")); }, u"[%s1]", true},
  };
  for (const Row& row : rows) {
    KvErrorList list;
    test::ErrorListScope scope(&list);
    KvParamStringW text;
    row.prepare(text);
    fault::arm(fault::Point::kAllocation, 1, true);
    const int32_t result = row.act(text);
    fault::disarmAll();
    EXPECT_EQ(result, 1) << row.name;
    EXPECT_EQ(contents(text), row.after) << row.name;
    EXPECT_EQ(text.data() != nullptr, row.hasBuffer) << row.name;
    EXPECT_NE(list.flags & KvErrorList::kOutOfMemoryPending, 0u) << row.name << ": reported";
  }
  // A substitution that fails after replacing some occurrences keeps them and
  // marks the string.
  KvParamStringW message;
  ASSERT_EQ(message.assignUtf16(units(u"%s1 %s1"), 7), 0);
  ASSERT_EQ(message.reserve(message.length() + 2), 0);  // room for exactly one growth
  fault::arm(fault::Point::kAllocation, 1, true);
  EXPECT_EQ(message.substitute(units(u"four")), 1);
  fault::disarmAll();
  EXPECT_EQ(contents(message), u"four %s1");
  EXPECT_EQ(message.paramFlags() & KvParamStringW::kSubstitutionFailed, 1u);
}

}  // namespace
}  // namespace zp
