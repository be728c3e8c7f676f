// The reference trace library (zptrace) behind MQStart's switch: a traced
// transaction on several threads at once leaves one readable, whole line per
// record in the log file, each with the right process and thread.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "journal_lines.h"
#include "mq_test_support.h"
#include "platform/platform.h"
#include "testlib/threads.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {
namespace {

struct LogLine {
  unsigned long pid;
  unsigned long tid;
  std::string kind;
  std::string function;
  std::string text;
};

// Every line of the log; a line that does not have the expected shape fails
// the test and is left out.
std::vector<LogLine> readLog(const char* file) {
  static const std::regex kShape(
      R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} pid (\d+) tid (\d+) (\S+) +(\S+) ?(.*)$)");
  std::vector<LogLine> lines;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch match;
    if (!std::regex_match(line, match, kShape)) {
      ADD_FAILURE() << "unreadable line: " << line;
      continue;
    }
    lines.push_back({std::stoul(match[1]), std::stoul(match[2]), match[3], match[4], match[5]});
  }
  return lines;
}

int openWith(xa_switch_t* sw, const std::string& info) {
  std::vector<char> text(info.begin(), info.end());
  text.push_back('\0');
  return sw->xa_open_entry(text.data(), 3, TMNOFLAGS);
}

TEST(MqSwitch_xa80, ReferenceLibraryWritesWholeLinesFromManyThreads) {
  constexpr int kThreads = 4;
  const char* log = "zptrace_threads_test.log";
  std::remove(log);
  xa_switch_t* sw = MQStart();
  const std::string options = test::traceOptions(test::kReferenceTrace, log);
  ASSERT_EQ(openWith(sw, "ORACLE_XA+Acc=P/scott/tiger" + options), XA_OK);

  std::vector<unsigned long> threadIds(kThreads);
  test::runConcurrently(kThreads, [&](int index) {
    threadIds[index] = platform::currentThreadId();
    XID xid = test::knownXid();
    sw->xa_start_entry(&xid, 3, TMNOFLAGS);
    sw->xa_end_entry(&xid, 3, TMSUCCESS);
    sw->xa_prepare_entry(&xid, 3, TMNOFLAGS);
    sw->xa_commit_entry(&xid, 3, TMNOFLAGS);
  });

  const std::vector<LogLine> lines = readLog(log);
  std::map<unsigned long, std::vector<std::string>> byThread;
  for (const LogLine& line : lines) {
    EXPECT_EQ(line.pid, platform::currentProcessId()) << line.text;
    byThread[line.tid].push_back(line.kind + " " + line.function + " " + line.text);
  }
  // Each thread's records are whole and in the order it wrote them.
  std::vector<std::string> expected;
  const char* calls[][2] = {{"or8_mq_xa_start", "rmid: 3 flags: 0x00000000"},
                            {"or8_mq_xa_end", "rmid: 3 flags: 0x04000000"},
                            {"or8_mq_xa_prepare", "rmid: 3 flags: 0x00000000"},
                            {"or8_mq_xa_commit", "rmid: 3 flags: 0x00000000"}};
  for (const auto& call : calls) {
    const std::string function = call[0];
    expected.push_back("ENTRY " + function + " " + call[1]);
    for (const std::string& data : test::knownXidLines(function)) {
      // "data <function>: <text>" as the stand-in keeps it; here the text alone.
      expected.push_back("DATA " + function + " " + data.substr(data.find(": ") + 2));
    }
    expected.push_back("EXIT " + function + " rc = 0");
  }
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(byThread[threadIds[i]], expected) << "thread " << i;
  }
  const std::vector<std::string>& opener = byThread[platform::currentThreadId()];
  ASSERT_EQ(opener.size(), 4u);
  EXPECT_EQ(opener[0], std::string("OPEN zptrace ") + log);
  EXPECT_EQ(opener[1], "INIT zptrace ");
  EXPECT_EQ(opener[2], "ENTRY or8_mq_xa_open xa_info: ORACLE_XA+Acc=P/scott/****" + options +
                           " rmid: 3 flags: 0x00000000");
  EXPECT_EQ(opener[3], "EXIT or8_mq_xa_open rc = 0");
}

TEST(MqSwitch_xa80, ReferenceLibraryDefaultsToItsOwnLogFile) {
  const char* defaultLog = "zptrace.log";
  std::remove(defaultLog);
  ASSERT_EQ(openWith(MQStart(), "ORACLE_XA" + test::traceOptions(test::kReferenceTrace, "")),
            XA_OK);
  const std::vector<LogLine> lines = readLog(defaultLog);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].kind + " " + lines[0].text, std::string("OPEN ") + defaultLog);
  EXPECT_EQ(lines[3].kind + " " + lines[3].function, "EXIT or8_mq_xa_open");
}

}  // namespace
}  // namespace zp
