// Loading the real module: the KV_ASSERTS_FILE stamp, and the attach that
// fails cleanly. Each case runs in a process of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "module/libmain.h"
#include "platform/platform.h"
#include "testlib/module_file.h"

namespace zp {
namespace {

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool fileExists(const std::string& path) { return std::ifstream(path).good(); }

// "--- Tue Dec 08 03:20:52 2026": the day of the month always two digits.
bool isStampLine(const std::string& line) {
  static const char* const kDays = "SunMonTueWedThuFriSat";
  static const char* const kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (line.size() != 28 || line.compare(0, 4, "--- ") != 0) return false;
  const std::string day = line.substr(4, 3), month = line.substr(8, 3);
  if (std::string(kDays).find(day) % 3 != 0 || std::string(kMonths).find(month) % 3 != 0)
    return false;
  const std::string pattern = "--- www mmm dd dd:dd:dd dddd";
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char want = pattern[i];
    if (want == 'd' && !(line[i] >= '0' && line[i] <= '9')) return false;
    if ((want == ' ' || want == ':' || want == '-') && line[i] != want) return false;
  }
  return true;
}

std::string scratchPath(const char* name) {
  const std::string path = std::string("asserts_") + name + ".txt";
  std::remove(path.c_str());
  return path;
}

platform::Library* loadModuleWith(const char* assertsFile) {
  platform::environmentSet("KV_ASSERTS_FILE", assertsFile);
  return platform::libraryLoad(test::moduleFile());
}

TEST(AssertsFile, EachLoadAppendsOneStampLine) {
  const std::string path = scratchPath("append");
  { std::ofstream(path) << "earlier line\n"; }
  platform::Library* module = loadModuleWith(path.c_str());
  ASSERT_NE(module, nullptr);
  const std::vector<std::string> lines = readLines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "earlier line");
  EXPECT_TRUE(isStampLine(lines[1])) << lines[1];
}

TEST(AssertsFile, UnsetOrEmptyTouchesNoFile) {
  const std::string path = scratchPath("unset");
  platform::Library* module = loadModuleWith(nullptr);
  ASSERT_NE(module, nullptr);
  EXPECT_FALSE(fileExists(path));
  platform::environmentSet("KV_ASSERTS_FILE", "");
  EXPECT_EQ(platform::environmentGet("KV_ASSERTS_FILE", nullptr, 0), 0u);
}

TEST(AssertsFile, MissingDirectoryStillLoads) {
  platform::Library* module = loadModuleWith("no_such_directory/sub/asserts.txt");
  EXPECT_NE(module, nullptr);
}

TEST(AssertsFile, ValueOf260CharactersOrMoreIsIgnored) {
  // A valid path of 260 characters or more: "./" repeated in front of a name.
  const std::string name = scratchPath("long");
  std::string path;
  while (path.size() + name.size() < 262) path += "./";
  path += name;
  ASSERT_GE(path.size(), 260u);
  platform::Library* module = loadModuleWith(path.c_str());
  ASSERT_NE(module, nullptr);
  EXPECT_FALSE(fileExists(name));
}

TEST(AssertsFile, StampDayIsZeroFilled) {
  char line[64];
  formatAssertsLine(line, 2, 11, 8, 3, 20, 52, 2026);
  EXPECT_STREQ(line, "--- Tue Dec 08 03:20:52 2026\n");
  formatAssertsLine(line, 0, 0, 31, 23, 59, 9, 1999);
  EXPECT_STREQ(line, "--- Sun Jan 31 23:59:09 1999\n");
}

}  // namespace
}  // namespace zp
