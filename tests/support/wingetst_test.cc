// Resource messages: the once-only version decision between the wide and the
// ANSI resource calls, the ANSI path's cutting, and the empty texts of a
// module without a string table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/wingetst.h"

namespace zp {
namespace {

// What the scripted system calls report, and how often they were made.
struct Script {
  bool versionOk;
  uint32_t major;
  uint32_t minor;
  int versionCalls;
  int wideCalls;
  int ansiCalls;
  int wideCapacity;
  const char* ansiText;  // null: the resource is absent
};
Script g_script;

const ResourceCalls kScripted = {
    [](uint32_t* major, uint32_t* minor) {
      ++g_script.versionCalls;
      *major = g_script.major;
      *minor = g_script.minor;
      return g_script.versionOk;
    },
    [](void*, uint32_t, uint16_t*, int capacity) {
      ++g_script.wideCalls;
      g_script.wideCapacity = capacity;
      return 0;
    },
    [](void*, uint32_t, char* buffer, int capacity) {
      ++g_script.ansiCalls;
      if (g_script.ansiText == nullptr) return 0;
      std::strncpy(buffer, g_script.ansiText, static_cast<size_t>(capacity));
      buffer[capacity - 1] = '\0';
      return static_cast<int>(std::strlen(buffer));
    },
};

class ResourceMessages : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = g_resourceCalls;
    g_resourceCalls = kScripted;
    g_script = Script{};
  }
  void TearDown() override {
    g_resourceCalls = saved_;
    g_useAnsi.store(kAnsiUndecided);
  }

 private:
  ResourceCalls saved_;
};

TEST_F(ResourceMessages, VersionDecidesOnceOnFirstLoad) {
  struct Row {
    const char* name;
    bool ok;
    uint32_t major;
    uint32_t minor;
    int32_t expected;
  };
  const Row rows[] = {
      {"4.0", true, 4, 0, kAnsiAnsi},           {"4.10", true, 4, 10, kAnsiAnsi},
      {"4.90", true, 4, 90, kAnsiAnsi},         {"4.20", true, 4, 20, kAnsiWide},
      {"5.0", true, 5, 0, kAnsiWide},           {"10.0", true, 10, 0, kAnsiWide},
      {"failed query", false, 4, 0, kAnsiAnsi},
  };
  for (const Row& row : rows) {
    g_script = Script{row.ok, row.major, row.minor, 0, 0, 0, 0, nullptr};
    g_useAnsi.store(kAnsiUndecided);
    uint16_t text[kMessageCapacity] = {0x7777};
    EXPECT_EQ(loadMessage(text, 2716), 0u) << row.name;
    EXPECT_EQ(text[0], 0) << row.name << ": empty text";
    EXPECT_EQ(g_useAnsi.load(), row.expected) << row.name;
    EXPECT_EQ(loadMessage(text, 2737), 0u) << row.name;
    EXPECT_EQ(g_script.versionCalls, 1) << row.name << ": decided once";
    const bool ansi = row.expected == kAnsiAnsi;
    EXPECT_EQ(g_script.ansiCalls, ansi ? 2 : 0) << row.name;
    EXPECT_EQ(g_script.wideCalls, ansi ? 0 : 2) << row.name;
    EXPECT_EQ(g_script.wideCapacity, ansi ? 0 : static_cast<int>(kMessageCapacity)) << row.name;
  }
}

// A converted text longer than the output is cut and terminated; the unit
// behind the capacity is never written.
TEST_F(ResourceMessages, AnsiTextIsCutToTheOutput) {
  g_useAnsi.store(kAnsiAnsi);
  g_script.ansiText = "ABCDEFGHIJ";
  const std::tuple<uint32_t, std::u16string, uint32_t> rows[] = {{16, u"ABCDEFGHIJ", 11},
                                                                 {11, u"ABCDEFGHIJ", 11},
                                                                 {10, u"ABCDEFGHI", 10},
                                                                 {4, u"ABC", 4},
                                                                 {1, u"", 1}};
  for (const auto& [capacity, expected, result] : rows) {
    uint16_t output[20];
    for (uint16_t& unit : output) unit = 0x7777;
    EXPECT_EQ(loadResourceText(nullptr, 7, output, capacity), result) << "capacity " << capacity;
    EXPECT_TRUE(std::u16string(reinterpret_cast<char16_t*>(output)) == expected)
        << "capacity " << capacity;
    EXPECT_EQ(output[capacity], 0x7777) << "capacity " << capacity << ": written past the end";
  }
  g_script.ansiText = nullptr;
  uint16_t output[4] = {1, 2, 3, 4};
  EXPECT_EQ(loadResourceText(nullptr, 7, output, 4), 0u) << "absent";
  EXPECT_EQ(output[0], 0);
}

// The real system calls: the module carries no string table.
TEST(ModuleMessages, EveryIdIsEmpty) {
  for (uint16_t id : {1524, 2716, 2737, 30190}) {
    uint16_t text[kMessageCapacity] = {0x7777};
    EXPECT_EQ(loadMessage(text, id), 0u) << "id " << id;
    EXPECT_EQ(text[0], 0) << "id " << id;
  }
}

}  // namespace
}  // namespace zp
