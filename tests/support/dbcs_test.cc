// ANSI conversion under a double-byte code page. The test's environment
// selects a Shift-JIS locale (generated into the build tree where localedef
// exists; code page 932 under Wine); where no double-byte code page is in
// force, the test says so and skips.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "support/kvstringw.h"
#include "wide_testing.h"

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
};

TEST(AnsiDoubleByte, FinalLeadByteIsDropped) {
  const uint32_t codePage = platform::codePageCurrent();
  const DoubleByteSample* sample = nullptr;
  for (const DoubleByteSample& candidate : kSamples) {
    if (candidate.codePage == codePage) sample = &candidate;
  }
  if (sample == nullptr) {
    GTEST_SKIP() << "the code page in force (" << codePage
                 << ") is not a double-byte one this test knows (932, 936)";
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

}  // namespace
}  // namespace zp
