// The transaction manager's log: what a new process reads back as decided,
// and what it refuses to guess about.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "tools/xadriver/tm_log.h"

namespace zp {
namespace xadriver {
namespace {

std::string scratchFile(const std::string& name) {
  const std::string path = "tm-log-test-" + name + ".log";
  std::remove(path.c_str());
  return path;
}

void writeFile(const std::string& path, const std::string& content) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), file), content.size()) << path;
  std::fclose(file);
}

TEST(TmLog, ReadsTheDecisionsItCanTrust) {
  const struct {
    const char* name;
    const char* content;  // null: no file
    bool readable;
    std::set<std::string> committed;
  } rows[] = {
      {"missing", nullptr, true, {}},
      {"empty", "", true, {}},
      {"decided", "commit g1\ndone g1\ncommit g2\n", true, {"g1", "g2"}},
      {"done-without-decision", "done g3\n", true, {}},
      {"torn-last-line", "commit g1\ncommit g2", true, {"g1"}},
      {"unknown-record", "commit g1\nabort g2\n", false, {}},
      {"no-gtrid", "commit\n", false, {}},
      {"blank-in-gtrid", "commit g 1\n", false, {}},
  };
  for (const auto& row : rows) {
    const std::string path = scratchFile(row.name);
    if (row.content != nullptr) writeFile(path, row.content);
    std::set<std::string> committed;
    std::string error;
    EXPECT_EQ(TmLog::readDecisions(path, &committed, &error), row.readable) << row.name;
    if (row.readable) {
      EXPECT_EQ(committed, row.committed) << row.name;
    } else {
      EXPECT_NE(error.find("not a log record"), std::string::npos) << row.name;
    }
  }
}

TEST(TmLog, DecisionsAppendAndSurviveReopening) {
  const std::string path = scratchFile("append");
  std::string error;
  {
    TmLog log;
    ASSERT_TRUE(log.open(path, &error)) << error;
    ASSERT_TRUE(log.decideCommit("zpbank-1-1", &error)) << error;
    ASSERT_TRUE(log.noteDone("zpbank-1-1", &error)) << error;
  }
  {
    TmLog log;
    ASSERT_TRUE(log.open(path, &error)) << error;
    ASSERT_TRUE(log.decideCommit("zpbank-1-2", &error)) << error;
  }
  std::set<std::string> committed;
  ASSERT_TRUE(TmLog::readDecisions(path, &committed, &error)) << error;
  EXPECT_EQ(committed, (std::set<std::string>{"zpbank-1-1", "zpbank-1-2"}));
}

TEST(TmLog, NoDecisionWithoutALog) {
  std::string error;
  TmLog unopened;
  EXPECT_FALSE(unopened.decideCommit("g", &error));
  TmLog log;
  EXPECT_FALSE(log.open("no-such-folder/tm.log", &error));
  EXPECT_NE(error.find("cannot open the log"), std::string::npos) << error;
}

}  // namespace
}  // namespace xadriver
}  // namespace zp
