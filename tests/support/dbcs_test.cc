// Text under a double-byte code page: ANSI conversion, and character stepping
// over a lead byte that the next byte cannot trail. The test's environment
// selects a Shift-JIS locale (generated into the build tree where localedef
// exists; code page 932 under Wine), and natively the program runs once more
// under a UTF-8 locale; where no code page the test knows is in force, it
// says so and skips.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "support/kvstringw.h"
#include "support/strcase.h"
#include "wide_testing.h"
#include "xa/open_string.h"

namespace zp {
namespace {

struct DoubleByteSample {
  uint32_t codePage;
  const char* character;  // lead byte and trail byte
  char16_t unit;          // what the pair converts to
};

const DoubleByteSample kSamples[] = {
    {932, "\x93\xFA", u'\u65E5'},
    {936, "\xC8\xD5", u'\u65E5'},
    {65001, "\xC3\xA9", u'\u00E9'},
};

// The sample of the code page in force, or null.
const DoubleByteSample* sampleInForce() {
  for (const DoubleByteSample& candidate : kSamples) {
    if (candidate.codePage == platform::codePageCurrent()) return &candidate;
  }
  return nullptr;
}

TEST(AnsiDoubleByte, FinalLeadByteIsDropped) {
  const DoubleByteSample* sample = sampleInForce();
  if (sample == nullptr) {
    GTEST_SKIP() << "the code page in force (" << platform::codePageCurrent()
                 << ") is not one this test knows (932, 936, 65001)";
  }
  const std::string pair = sample->character;
  ASSERT_TRUE(platform::codePageIsLeadByte(static_cast<unsigned char>(pair[0])));
  struct Row {
    const char* name;
    std::string text;
    std::u16string expected;
  };
  const std::u16string unit(1, sample->unit);
  const Row rows[] = {
      {"pair between ASCII", "x" + pair + "y", u"x" + unit + u"y"},
      {"final lead byte dropped", "ab" + pair + pair.substr(0, 1), u"ab" + unit},
      {"lone lead byte", pair.substr(0, 1), u""},
  };
  for (const Row& row : rows) {
    KvStringW text;
    EXPECT_EQ(text.assign(row.text.data(), static_cast<uint32_t>(row.text.size()), kEncodingAnsi),
              0)
        << row.name;
    EXPECT_EQ(test::contents(text), row.expected) << row.name;
    EXPECT_EQ(text.data()[text.length()], 0) << row.name;
  }
}

// A lead byte followed by a byte that cannot trail it is a character by
// itself: the search finds "+DB=" right after it, and the MQ rewrite extends
// that option's value instead of adding a second one.
TEST(AnsiDoubleByte, LoneLeadByteBeforeAnOptionStandsAlone) {
  const DoubleByteSample* sample = sampleInForce();
  if (sample == nullptr) {
    GTEST_SKIP() << "the code page in force (" << platform::codePageCurrent()
                 << ") is not one this test knows (932, 936, 65001)";
  }
  const std::string pair = sample->character;
  const std::string lead = pair.substr(0, 1);
  const std::string ids =
      std::to_string(platform::currentProcessId()) + std::to_string(platform::currentThreadId());
  struct Row {
    const char* name;
    std::string info;
    std::string rewritten;
  };
  const Row rows[] = {
      {"lone lead byte before +DB=", "ORACLE_XA+SqlNet=a" + lead + "+DB=orcl+SesTm=9",
       "ORACLE_XA+SqlNet=a" + lead + "+DB=orcl" + ids + "+SesTm=9"},
      {"lone lead byte before a final +DB=", "ORACLE_XA" + lead + "+db=x",
       "ORACLE_XA" + lead + "+db=x" + ids},
      {"pair before +DB=", "ORACLE_XA+SqlNet=" + pair + "+DB=orcl",
       "ORACLE_XA+SqlNet=" + pair + "+DB=orcl" + ids},
      {"lone lead byte at the end", "ORACLE_XA+DB=o" + lead, "ORACLE_XA+DB=o" + lead + ids},
  };
  for (const Row& row : rows) {
    char out[1024];
    ASSERT_EQ(rewrite_db_name(row.info.c_str(), out, sizeof out), kOpenStringDone) << row.name;
    EXPECT_EQ(std::string(out), row.rewritten) << row.name;
  }
  const std::string text = "a" + lead + "+DB=x";
  EXPECT_EQ(findSubstringNoCase(text.c_str(), "+db="), text.c_str() + 2);
  EXPECT_EQ(findSubstring(text.c_str(), "+DB="), text.c_str() + 2);
}

}  // namespace
}  // namespace zp
