// The platform's locked files on both targets: what an open answers for each
// kind of name, and that what is appended reads back, cut where asked.
// Exclusion between processes is tested where a second process is at hand
// (tests/bank/tm_log_test.cc).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace zp {
namespace {

using platform::LockedFileStatus;

std::string scratch(const std::string& name) {
  const std::string path = "locked-file-test-" + name;
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
  return path;
}

TEST(LockedFile, OpensRegularFilesOnly) {
  const std::string folder = scratch("folder");
  std::filesystem::create_directory(folder);
  const std::string existing = scratch("existing");
  std::FILE* file = std::fopen(existing.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  const struct {
    const char* name;
    std::string path;
    bool create;
    LockedFileStatus status;
  } rows[] = {
      {"missing", scratch("missing"), false, LockedFileStatus::kMissing},
      {"missing-in-missing-folder", scratch("none") + "/x", true, LockedFileStatus::kMissing},
      {"created", scratch("created"), true, LockedFileStatus::kOpened},
      {"existing", existing, false, LockedFileStatus::kOpened},
      {"folder", folder, false, LockedFileStatus::kNotRegular},
      {"folder-create", folder, true, LockedFileStatus::kNotRegular},
  };
  for (const auto& row : rows) {
    platform::LockedFile* opened = nullptr;
    uint32_t holder = 7;
    char reason[128];
    EXPECT_EQ(platform::lockedFileOpen(row.path.c_str(), row.create, &opened, &holder, reason,
                                       sizeof reason),
              row.status)
        << row.name << ": " << reason;
    EXPECT_EQ(opened != nullptr, row.status == LockedFileStatus::kOpened) << row.name;
    EXPECT_EQ(holder, 0u) << row.name;
    platform::lockedFileClose(opened);
  }
}

TEST(LockedFile, AppendsReadsAndCuts) {
  const std::string path = scratch("bytes");
  platform::LockedFile* file = nullptr;
  uint32_t holder = 0;
  char reason[128];
  ASSERT_EQ(platform::lockedFileOpen(path.c_str(), true, &file, &holder, reason, sizeof reason),
            LockedFileStatus::kOpened)
      << reason;
  // Bytes go in unchanged: no line-end conversion on either target.
  ASSERT_TRUE(platform::lockedFileAppend(file, "ab\ncd", 5));
  ASSERT_TRUE(platform::lockedFileSync(file));
  ASSERT_TRUE(platform::lockedFileAppend(file, "\r\n", 2));
  const struct {
    const char* name;
    uint64_t cut;  // 0: none
    uint64_t offset;
    std::string expected;
    uint64_t size;
  } rows[] = {
      {"all", 0, 0, "ab\ncd\r\n", 7},
      {"from-the-middle", 0, 3, "cd\r\n", 7},
      {"past-the-end", 0, 9, "", 7},
      {"cut", 4, 0, "ab\nc", 4},
  };
  for (const auto& row : rows) {
    if (row.cut != 0) {
      ASSERT_TRUE(platform::lockedFileTruncate(file, row.cut)) << row.name;
    }
    uint64_t size = 0;
    ASSERT_TRUE(platform::lockedFileSize(file, &size)) << row.name;
    char buffer[32];
    size_t got = 99;
    ASSERT_TRUE(platform::lockedFileRead(file, row.offset, buffer, sizeof buffer, &got))
        << row.name;
    EXPECT_EQ(std::string(buffer, got), row.expected) << row.name;
    EXPECT_EQ(size, row.size) << row.name;
  }
  platform::lockedFileClose(file);
}

}  // namespace
}  // namespace zp
