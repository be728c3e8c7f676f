// Loading the real module: the KV_ASSERTS_FILE stamp, appended to a regular
// file only and never waited for, and the attach that fails cleanly. Each case
// runs in a process of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <thread>
#endif

#include "module/libmain.h"
#include "platform/platform.h"
#include "testlib/module_file.h"
#include "testlib/text_file.h"

namespace zp {
namespace {

using test::readLines;

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

// What the named thing is before the call; each row of the table below sets
// one up under its own name.
enum class Kind { kNothing, kRegularFile, kDirectory, kDanglingLink, kLinkToRegularFile };

void makeKind(Kind kind, const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::remove_all(path, ignored);
  fs::remove_all(path + ".target", ignored);
  switch (kind) {
    case Kind::kNothing:
      break;
    case Kind::kRegularFile:
      std::ofstream(path) << "earlier line\n";
      break;
    case Kind::kDirectory:
      fs::create_directory(path);
      break;
    case Kind::kDanglingLink:
      fs::create_symlink(path + ".target", path);
      break;
    case Kind::kLinkToRegularFile:
      std::ofstream(path + ".target") << "earlier line\n";
      fs::create_symlink(path + ".target", path);
      break;
  }
}

TEST(AssertsFile, OnlyARegularFileIsAppendedTo) {
  namespace fs = std::filesystem;
  struct Row {
    const char* name;
    const char* path;
    Kind kind;
    bool appended;
    // The lines of the file the path leads to afterwards; "" for no file.
    std::vector<std::string> lines;
  };
  std::vector<Row> rows = {
    {"regular file", "append_regular.txt", Kind::kRegularFile, true, {"earlier line", "stamp"}},
    {"new file", "append_new.txt", Kind::kNothing, true, {"stamp"}},
    {"directory", "append_directory.d", Kind::kDirectory, false, {}},
    {"missing directory", "no_such_directory/append.txt", Kind::kNothing, false, {}},
#if defined(_WIN32)
    {"device", "NUL", Kind::kNothing, false, {}},
#else
    {"device", "/dev/null", Kind::kNothing, false, {}},
    {"dangling link", "append_dangling.txt", Kind::kDanglingLink, false, {}},
    {"link to a regular file",
     "append_link.txt",
     Kind::kLinkToRegularFile,
     true,
     {"earlier line", "stamp"}},
#endif
  };
  for (const Row& row : rows) {
    const bool device = row.path[0] == '/' || std::strcmp(row.path, "NUL") == 0;
    if (!device) makeKind(row.kind, row.path);
    const char line[] = "stamp\n";
    EXPECT_EQ(platform::fileAppendRegular(row.path, line, sizeof line - 1), row.appended)
        << row.name;
    if (device) continue;
    std::string target = row.path;
    if (row.kind == Kind::kDanglingLink || row.kind == Kind::kLinkToRegularFile) {
      target += ".target";
    }
    std::error_code error;
    if (row.kind == Kind::kDirectory) {
      EXPECT_TRUE(fs::is_directory(target, error) && fs::is_empty(target, error)) << row.name;
    } else if (row.lines.empty()) {
      EXPECT_FALSE(fs::exists(target, error)) << row.name << ": " << target << " was made";
    } else {
      EXPECT_EQ(readLines(target), row.lines) << row.name;
    }
  }
}

TEST(AssertsFile, DirectoryCountsAsAbsent) {
  namespace fs = std::filesystem;
  const std::string path = "asserts_directory.d";
  makeKind(Kind::kDirectory, path);
  platform::Library* module = loadModuleWith(path.c_str());
  ASSERT_NE(module, nullptr);
  std::error_code error;
  EXPECT_TRUE(fs::is_directory(path, error));
  EXPECT_TRUE(fs::is_empty(path, error));
}

TEST(AssertsFile, DeviceCountsAsAbsent) {
#if defined(_WIN32)
  EXPECT_NE(loadModuleWith("NUL"), nullptr);
#else
  EXPECT_NE(loadModuleWith("/dev/null"), nullptr);
#endif
}

#if defined(_WIN32)
// Windows keeps named pipes in a namespace of their own, and opening one
// never waits for a reader; the directory and device cases cover what a name
// can lead to there.
constexpr char kNoFifos[] = "no FIFOs on this target";
#else
// A FIFO that exists for the test's length, with the means to read it.
class Fifo {
 public:
  explicit Fifo(const char* path) : path_(path) {
    unlink(path_);
    made_ = mkfifo(path_, 0600) == 0;
  }
  ~Fifo() {
    closeReader();
    unlink(path_);
  }
  Fifo(const Fifo&) = delete;
  Fifo& operator=(const Fifo&) = delete;

  bool made() const { return made_; }
  // Opens the reading end without waiting for a writer.
  bool openReader() {
    reader_ = open(path_, O_RDONLY | O_NONBLOCK);
    return reader_ >= 0;
  }
  void closeReader() {
    if (reader_ >= 0) close(reader_);
    reader_ = -1;
  }
  // Bytes waiting in the FIFO (the reader must be open).
  size_t pending() {
    char buffer[256];
    const ssize_t count = read(reader_, buffer, sizeof buffer);
    return count > 0 ? static_cast<size_t>(count) : 0;
  }

 private:
  const char* path_;
  bool made_ = false;
  int reader_ = -1;
};
#endif

TEST(AssertsFile, FifoWithoutReaderDoesNotHoldUpTheLoad) {
#if defined(_WIN32)
  GTEST_SKIP() << kNoFifos;
#else
  Fifo fifo("asserts_fifo");
  ASSERT_TRUE(fifo.made());
  platform::environmentSet("KV_ASSERTS_FILE", "asserts_fifo");
  std::promise<platform::Library*> loaded;
  std::future<platform::Library*> result = loaded.get_future();
  std::thread loader([&loaded] { loaded.set_value(platform::libraryLoad(test::moduleFile())); });
  const bool inTime = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!inTime) {
    // The load waits for a reader: give it one, so the thread ends and the
    // test fails instead of hanging.
    ADD_FAILURE() << "the load waited for a reader of the FIFO";
    EXPECT_TRUE(fifo.openReader());
  }
  loader.join();
  EXPECT_NE(result.get(), nullptr);
#endif
}

TEST(AssertsFile, FifoWithReaderIsNotWritten) {
#if defined(_WIN32)
  GTEST_SKIP() << kNoFifos;
#else
  Fifo fifo("append_fifo");
  ASSERT_TRUE(fifo.made());
  ASSERT_TRUE(fifo.openReader());
  const char line[] = "stamp\n";
  EXPECT_FALSE(platform::fileAppendRegular("append_fifo", line, sizeof line - 1));
  EXPECT_EQ(fifo.pending(), 0u);
#endif
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
