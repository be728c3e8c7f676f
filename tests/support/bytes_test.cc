// Byte-string routines: lengths at every alignment, bounded copies, unsigned
// compare, character sizes and decimal formatting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/bytes.h"

namespace zp {
namespace {

TEST(ByteLength, ExactAtEveryAlignmentAndLength) {
  alignas(8) char buffer[64];
  for (int offset = 0; offset < 4; ++offset) {
    for (uint32_t length = 0; length <= 40; ++length) {
      std::memset(buffer, 'x', sizeof buffer);
      char* text = buffer + offset;
      text[length] = '\0';
      EXPECT_EQ(byteLength(text), length) << "offset " << offset << " length " << length;
    }
  }
}

TEST(ByteLength, HighBytesAreNotTerminators) {
  const char text[] = "\x80\xff\x01\x7f\xfe";
  EXPECT_EQ(byteLength(text), 5u);
}

TEST(Copy, BoundedCutsAndTerminates) {
  struct Row {
    uint32_t size;
    const char* source;
    const char* expected;
  } rows[] = {
      {4, "abcdef", "abc"},
      {1, "abcdef", ""},
      {7, "abcdef", "abcdef"},
      {10, "ab", "ab"},
  };
  for (const Row& row : rows) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    copyBounded(buffer, row.size, row.source);
    EXPECT_STREQ(buffer, row.expected) << "size " << row.size << " source " << row.source;
  }
}

TEST(Copy, StringCountedAppendAndBackward) {
  char buffer[32] = "abc";
  appendString(buffer, "def");
  EXPECT_STREQ(buffer, "abcdef");
  char* end = copyString(buffer, "xy");
  EXPECT_EQ(end, buffer + 2);
  EXPECT_STREQ(buffer, "xy");
  copyCounted(buffer, "hello world", 5);
  EXPECT_STREQ(buffer, "hello");
  // An overlapping move to a higher address keeps the bytes intact.
  char moving[16] = "0123456789";
  copyBackward(moving + 2, moving, 8);
  EXPECT_EQ(std::string(moving, 10), "0101234567");
}

TEST(Compare, CountedIsUnsigned) {
  EXPECT_EQ(compareCounted("\x80", "\x7f", 1), 1);
  EXPECT_EQ(compareCounted("\x7f", "\x80", 1), -1);
  EXPECT_EQ(compareCounted("abcx", "abcy", 3), 0);
  EXPECT_EQ(compareCounted("abcx", "abcy", 4), -1);
  EXPECT_EQ(compareCounted("", "", 0), 0);
}

TEST(Fill, ZeroCountTouchesNothing) {
  char buffer[4] = {'a', 'b', 'c', 'd'};
  fillBytes(buffer, 'z', 0);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  fillBytes(buffer, 'z', 2);
  EXPECT_EQ(std::string(buffer, 4), "zzcd");
}

TEST(CharSize, Utf8ByFirstByte) {
  struct Row {
    unsigned char byte;
    int size;
  } rows[] = {{0x41, 1}, {0xBF, 1}, {0xC3, 2}, {0xDF, 2},
              {0xE2, 3}, {0xEF, 3}, {0xF0, 4}, {0xFF, 4}};
  for (const Row& row : rows) {
    const char text[2] = {static_cast<char>(row.byte), 0};
    EXPECT_EQ(charSize(text, kCharModeUtf8), row.size) << "byte " << int(row.byte);
  }
  const char word[] = "a\xc3\xa9z";
  EXPECT_EQ(nextChar(word + 1, kCharModeUtf8), word + 3);
  EXPECT_EQ(nextCharIndex(word, 1, kCharModeUtf8), 3u);
  // ASCII is never a lead byte, whatever the code page.
  EXPECT_EQ(charSize("A", kCharModeCodePage), 1);
  EXPECT_EQ(isLeadByte("A"), 0);
}

TEST(FormatDecimal, DigitsAndCapacity) {
  struct Row {
    uint32_t value;
    uint32_t capacity;
    const char* expected;  // empty: nothing written, result 0
  } rows[] = {
      {0, 1, "0"},
      {9, 1, "9"},
      {10, 1, ""},
      {10, 2, "10"},
      {999999999, 9, "999999999"},
      {1000000000, 9, ""},
      {4294967295u, 10, "4294967295"},
      {4294967295u, 9, ""},
      {1234, 32, "1234"},
  };
  for (const Row& row : rows) {
    char buffer[40];
    std::memset(buffer, '#', sizeof buffer);
    const uint32_t digits = formatDecimal(buffer, row.capacity, row.value);
    EXPECT_EQ(digits, std::strlen(row.expected)) << row.value << " into " << row.capacity;
    EXPECT_EQ(std::string(buffer, digits), row.expected) << row.value;
    EXPECT_EQ(buffer[digits], '#') << "no terminator for " << row.value;
  }
}

TEST(FormatDecimal, WideForms) {
  uint16_t buffer[16];
  std::memset(buffer, 0xAB, sizeof buffer);
  EXPECT_EQ(formatDecimalWideZ(buffer, 12), 2u);
  EXPECT_EQ(buffer[0], '1');
  EXPECT_EQ(buffer[1], '2');
  EXPECT_EQ(buffer[2], 0);
  EXPECT_EQ(formatDecimalWide(buffer, 3, 4096), 0u);
  EXPECT_EQ(formatDecimalWideZ(buffer, 4294967295u), 10u);
  EXPECT_EQ(buffer[10], 0);
}

}  // namespace
}  // namespace zp
