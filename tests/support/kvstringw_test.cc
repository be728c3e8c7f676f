// Wide strings: conversion from UTF-8, search that respects surrogate pairs,
// replacement on long strings, placeholders, case-insensitive comparison, a
// borrowed buffer, and every allocation failure.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "support/icu.h"
#include "support/kverror.h"
#include "support/kvlist.h"
#include "support/kvparams.h"
#include "wide_testing.h"

namespace zp {
namespace {

using test::contents;
using test::units;

KvParamStringW* holding(KvParamStringW* s, const char16_t* text) {
  EXPECT_EQ(s->assignUtf16(units(text), wideLength(units(text))), 0);
  return s;
}

TEST(WideConversion, Utf8) {
  if (!icu::available())
    GTEST_SKIP() << "ICU is not present on this system; UTF-8 conversion needs it";
  const std::pair<const char*, std::u16string> rows[] = {
      {"\xC3\xA9", u"\u00E9"}, {"", u""}, {"\xF0\x9F\x98\x80!", u"\U0001F600!"}};
  for (const auto& row : rows) {
    KvStringW text;
    EXPECT_EQ(text.assignCString(row.first, kEncodingUtf8), 0) << row.first;
    EXPECT_EQ(contents(text), row.second) << row.first;
    EXPECT_EQ(text.data()[text.length()], 0) << row.first;
  }
}

// Invalid UTF-8 (or any UTF-8 where ICU is absent): length 0, message 2737,
// and the admitted record carries SQLSTATE "01004" with id 4.
TEST(WideConversion, InvalidUtf8PostsError) {
  KvStringW unlisted;
  EXPECT_EQ(unlisted.assignCString("ab\xC3", kEncodingUtf8), 1) << "without an error list";
  EXPECT_EQ(unlisted.length(), 0u);
  KvErrorList list;
  test::ErrorListScope scope(&list);
  KvStringW text;
  EXPECT_EQ(text.assignCString("caf\xE9", kEncodingUtf8), 1);
  EXPECT_EQ(text.length(), 0u);
  EXPECT_EQ(text.data()[0], 0);
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(list.error(0)->messageId, kMessageInvalidUtf8);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(list.error(0)->sqlState)), u"01004");
  EXPECT_EQ(list.error(0)->stateId, 4);
  // Refused behind that record: the static substitute keeps its own state.
  KvStringW again;
  EXPECT_EQ(again.assignCString("\xFF", kEncodingUtf8), 1);
  EXPECT_EQ(list.substituteError()->sqlState[0], 0);
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
      {"lone low half", lowHalf, 0, 5},
      {"lone low half, start inside a pair", lowHalf, 1, 5},
      {"whole pair", units(u"\U0001F600"), 1, 3},
      {"pattern longer than the rest", units(u"a\U0001F600x"), 2, 5},
  };
  for (const Row& row : rows)
    EXPECT_EQ(text.find(row.pattern, row.start), row.expected) << row.name;
  KvStringW one;
  ASSERT_EQ(one.assignUtf16(units(u"x"), 1), 0);
  EXPECT_EQ(one.find(units(u"xy"), 0), 1u);
}

// Beyond 65,535 units every occurrence is found and the tails move intact,
// growing and shrinking.
TEST(WideReplace, LongStrings) {
  std::u16string source(70000, u'.');
  for (uint32_t at : {10u, 65534u, 65536u, 69990u}) source.replace(at, 2, u"%s");
  for (size_t i = 0; i < source.size(); i += 997) {
    if (source[i] == u'.') source[i] = static_cast<char16_t>(u'A' + i % 26);
  }
  for (const std::u16string& replacement : {std::u16string(u"<grown>"), std::u16string(u"")}) {
    KvStringW text;
    ASSERT_EQ(text.assignUtf16(units(source.c_str()), static_cast<uint32_t>(source.size())), 0);
    ASSERT_EQ(text.replaceAll(units(u"%s"), units(replacement.c_str())), 0);
    std::u16string expected = source;
    for (size_t at = expected.find(u"%s"); at != std::u16string::npos;
         at = expected.find(u"%s", at + replacement.size())) {
      expected.replace(at, 2, replacement);
    }
    EXPECT_TRUE(contents(text) == expected) << "replacement of " << replacement.size() << " units";
    EXPECT_EQ(text.data()[text.length()], 0);
  }
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
      {"tenth",
       u"%s1|%sx10|%s9",
       {u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8", u"9", u"ten"},
       u"1|ten|9"},
      {"missing placeholder", u"none here", {u"x"}, u"none here"},
      {"inserted text not searched again", u"a%s1", {u"%s1%s1"}, u"a%s1%s1"},
  };
  for (const Row& row : rows) {
    KvParamStringW message;
    holding(&message, row.message);
    for (const std::u16string& argument : row.arguments) {
      EXPECT_EQ(message.substitute(units(argument.c_str())), 0) << row.name;
    }
    EXPECT_TRUE(contents(message) == row.expected) << row.name;
    EXPECT_EQ(message.paramCount(), row.arguments.size()) << row.name;
  }
}

TEST(WideCompare, CaseInsensitiveByCodePoint) {
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
      {"case pair beyond the basic plane", u"\U00010428", u"\U00010400", 0, true},
      {"pair above every basic unit", u"\U00010000", u"\uFFFF", 1, false},
      {"lone high surrogate at the end", u"a\xD800", u"a\xD800z", -1, false},
  };
  for (const Row& row : rows) {
    if (row.needsIcu && !icu::available()) continue;
    KvParamStringW a;
    KvParamStringW b;
    EXPECT_EQ(holding(&a, row.a)->compare(*holding(&b, row.b)), row.expected) << row.name;
    EXPECT_EQ(b.compare(a), -row.expected) << row.name << " (reversed)";
  }
  if (!icu::available())
    GTEST_SKIP() << "ICU is not present on this system: the case-folding rows were skipped";
}

TEST(WideReserve, BorrowedBufferIsNeverGrown) {
  uint16_t buffer[4] = {'a', 'b', 0, 0x7777};
  KvErrorList list;
  test::ErrorListScope scope(&list);
  KvStringW text;
  text.attachBuffer(buffer, 2, 4);
  EXPECT_EQ(text.reserve(100), 1);
  EXPECT_EQ(text.replace(2, 0, units(u"cdef"), 4), 1);
  EXPECT_EQ(text.data(), buffer);
  EXPECT_EQ(contents(text), u"ab");
  EXPECT_EQ(buffer[3], 0x7777);
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(list.error(0)->messageId, kMessageNotOwner);
  // A change that fits is made in place; an owned buffer never shrinks below
  // its text.
  EXPECT_EQ(text.replace(0, 1, units(u"z"), 1), 0);
  EXPECT_EQ(contents(text), u"zb");
  KvParamStringW owned;
  EXPECT_EQ(holding(&owned, u"abcdef")->reserve(2), 0);
  EXPECT_EQ(owned.capacity(), 7u);
}

// Every allocation of the wide strings failed through the hook: result 1, the
// report reaching the thread's error list, the old text kept, nothing leaked.
TEST(WideAllocationFailure, EveryPath) {
  struct Row {
    const char* name;
    const char16_t* before;  // null: a string without a buffer
    std::function<int32_t(KvParamStringW&)> act;
  };
  const std::vector<Row> rows = {
      {"assignUtf16", nullptr, [](KvParamStringW& s) { return s.assignUtf16(units(u"abc"), 3); }},
      {"assign ANSI", nullptr,
       [](KvParamStringW& s) { return s.assignCString("abc", kEncodingAnsi); }},
      {"assign UTF-8", nullptr,
       [](KvParamStringW& s) { return s.assignCString("abc", kEncodingUtf8); }},
      {"reserve, first buffer", nullptr, [](KvParamStringW& s) { return s.reserve(10); }},
      {"reserve, growth", u"keep", [](KvParamStringW& s) { return s.reserve(100); }},
      {"replaceAll", u"%s1-%s1",
       [](KvParamStringW& s) { return s.replaceAll(units(u"%s1"), units(u"long")); }},
      {"substitute", u"[%s1]", [](KvParamStringW& s) { return s.substitute(units(u"argument")); }},
  };
  for (const Row& row : rows) {
    KvErrorList list;
    test::ErrorListScope scope(&list);
    KvParamStringW text;
    if (row.before != nullptr) holding(&text, row.before);
    fault::arm(fault::Point::kAllocation, 1, true);
    const int32_t result = row.act(text);
    fault::disarmAll();
    EXPECT_EQ(result, 1) << row.name;
    EXPECT_TRUE(contents(text) == (row.before ? row.before : u"")) << row.name;
    EXPECT_EQ(text.data() != nullptr, row.before != nullptr) << row.name;
    EXPECT_NE(list.flags & KvErrorList::kOutOfMemoryPending, 0u) << row.name << ": reported";
  }
  // A substitution that fails part-way keeps what it replaced and is marked.
  KvParamStringW message;
  holding(&message, u"%s1 %s1");
  ASSERT_EQ(message.reserve(message.length() + 2), 0);  // room for one growth only
  fault::arm(fault::Point::kAllocation, 1, true);
  EXPECT_EQ(message.substitute(units(u"four")), 1);
  fault::disarmAll();
  EXPECT_EQ(contents(message), u"four %s1");
  EXPECT_EQ(message.paramFlags(), static_cast<uint32_t>(KvParamStringW::kSubstitutionFailed));
}

}  // namespace
}  // namespace zp
