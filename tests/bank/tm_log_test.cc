// The transaction manager's log: what a new process reads back as decided,
// what it refuses to guess about, and how a writer keeps its records whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "platform/fault.h"
#include "tests/testlib/fault_sweep.h"
#include "tools/xadriver/tm_log.h"

namespace zp {
namespace xadriver {
namespace {

const std::string kId = "0123456789abcdef";

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

std::string readFile(const std::string& path) {
  std::string content;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return content;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) content.append(buffer, n);
  std::fclose(file);
  return content;
}

std::string header() { return TmLog::record(TmLog::headerPayload(kId)); }
std::string commit(const std::string& gtrid) { return TmLog::record("commit " + gtrid); }
std::string done(const std::string& gtrid) { return TmLog::record("done " + gtrid); }

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

TEST(TmLog, ReadsTheDecisionsItCanTrust) {
  const std::string decided = header() + commit("g1") + done("g1") + commit("g2");
  std::string flipped = decided;
  flipped[header().size() + 12] ^= 0x01;  // inside the first commit's payload
  const std::string second = "byte " + std::to_string(header().size()) + " (record 2)";
  const struct {
    const char* name;
    std::string bytes;
    bool readable;
    std::set<std::string> committed;
    std::string reason;  // when refused: a piece of the message
  } rows[] = {
      {"decided", decided, true, {"g1", "g2"}, ""},
      {"done-without-decision", header() + done("g3"), true, {}, ""},
      {"torn-last-record", decided + commit("g3").substr(0, 9), true, {"g1", "g2"}, ""},
      {"whole-record-without-line-end",
       decided + commit("g3").substr(0, commit("g3").size() - 1),
       true,
       {"g1", "g2", "g3"},
       ""},
      {"torn-then-zero-filled",
       decided + commit("g3").substr(0, 14) + std::string(9, '\0'),
       true,
       {"g1", "g2"},
       ""},
      {"last-line-end-damaged",
       decided.substr(0, decided.size() - 1) + "x",
       false,
       {},
       "damaged record"},
      {"garbage-after-the-last-record", decided + "\x01\x02", false, {}, "damaged record"},
      {"torn-header-only", header().substr(0, 10), false, {}, "no whole record"},
      {"crlf", crlf(decided), true, {"g1", "g2"}, ""},
      {"trailing-blank-line", decided + "\n", true, {"g1", "g2"}, ""},
      {"blank-lines-between", header() + "\r\n\n" + commit("g1"), true, {"g1"}, ""},
      {"flipped-byte-in-a-commit", flipped, false, {}, "damaged record at " + second},
      {"damaged-last-whole-record", decided + "9 00000000 commit g9\n", false, {}, "damaged"},
      {"torn-record-then-more",
       header() + commit("g1").substr(0, 9) + commit("g2"),
       false,
       {},
       "damaged record at " + second},
      {"no-line-end-between-records", header() + "\r" + commit("g1"), false, {}, "damaged"},
      {"older-form", "commit g1\ndone g1\n", false, {}, "damaged record at byte 0"},
      {"empty", "", false, {}, "no whole record"},
      {"not-a-header", commit("g1"), false, {}, "no bank log header at byte 0"},
      {"unknown-record", header() + TmLog::record("abort g1"), false, {}, "unknown record"},
      {"blank-in-gtrid", header() + TmLog::record("commit g 1"), false, {}, "unknown record"},
      {"second-header", header() + header(), false, {}, "unknown record"},
  };
  for (const auto& row : rows) {
    TmLogContents contents;
    std::string error;
    EXPECT_EQ(TmLog::parse(row.bytes, &contents, &error), row.readable)
        << row.name << ": " << error;
    if (row.readable) {
      EXPECT_EQ(contents.committed, row.committed) << row.name;
      EXPECT_EQ(contents.tmId, kId) << row.name;
    } else {
      EXPECT_NE(error.find(row.reason), std::string::npos) << row.name << ": " << error;
    }
  }
}

// The record's form is what other builds read: the CRC-32C check value.
TEST(TmLog, RecordForm) { EXPECT_EQ(TmLog::record("123456789"), "9 e3069283 123456789\n"); }

TEST(TmLog, RecoveryRefusesALogItCannotTrust) {
  const std::string fifo = scratchFile("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = scratchFile("folder");
  ::rmdir(folder.c_str());
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string huge = scratchFile("huge");
  writeFile(huge, header());
  ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(kTmLogMostBytes + 1)), 0);
  const std::string empty = scratchFile("empty");
  writeFile(empty, "");
  const std::string older = scratchFile("older");
  writeFile(older, "commit g1\n");
  const struct {
    const char* name;
    std::string path;
    const char* reason;
  } rows[] = {
      {"missing", scratchFile("missing"), "does not exist"},
      {"folder", folder, "is not a regular file"},
      {"fifo", fifo, "is not a regular file"},
      {"device", "/dev/zero", "is not a regular file"},
      {"too-large", huge, "is larger than"},
      {"empty", empty, "no bank log header"},
      {"older-form", older, "damaged record at byte 0"},
  };
  for (const auto& row : rows) {
    for (bool writer : {false, true}) {
      TmLog log;
      TmLogContents contents;
      std::string error;
      const bool opened =
          writer ? log.open(row.path, &error) : log.openForRecovery(row.path, &contents, &error);
      const bool writable =
          writer && (std::string(row.name) == "missing" || std::string(row.name) == "empty");
      if (writable) {
        // A writer makes what recovery refuses: a new log with its header.
        EXPECT_TRUE(opened) << row.name << ": " << error;
        continue;
      }
      EXPECT_FALSE(opened) << row.name << (writer ? " (writer)" : " (recovery)");
      EXPECT_NE(error.find("the log " + row.path), std::string::npos) << row.name << ": " << error;
      EXPECT_NE(error.find(row.reason), std::string::npos) << row.name << ": " << error;
      EXPECT_EQ(error.find('\n'), std::string::npos) << row.name << ": one line";
    }
  }
  std::remove(fifo.c_str());
  ::rmdir(folder.c_str());
  std::remove(huge.c_str());
}

TEST(TmLog, AWriterKeepsItsRecordsWhole) {
  const struct {
    const char* name;
    std::string before;  // empty: no file
    std::set<std::string> committed;
  } rows[] = {
      {"new", "", {"g9"}},
      {"torn-tail", header() + commit("g1") + commit("g2").substr(0, 12), {"g1", "g9"}},
      {"torn-header", header().substr(0, 5), {"g9"}},
      {"unterminated", header() + commit("g1").substr(0, commit("g1").size() - 1), {"g1", "g9"}},
      {"crlf", crlf(header() + commit("g1")), {"g1", "g9"}},
  };
  for (const auto& row : rows) {
    const std::string path = scratchFile(std::string("writer-") + row.name);
    if (!row.before.empty()) writeFile(path, row.before);
    std::string error;
    std::string id;
    {
      TmLog log;
      ASSERT_TRUE(log.open(path, &error)) << row.name << ": " << error;
      ASSERT_EQ(log.decideCommit("g9", &error), TmLog::Outcome::kWritten)
          << row.name << ": " << error;
      ASSERT_TRUE(log.noteDone("g9", &error)) << row.name << ": " << error;
      id = log.tmId();
    }
    TmLogContents contents;
    ASSERT_TRUE(TmLog::parse(readFile(path), &contents, &error)) << row.name << ": " << error;
    EXPECT_EQ(contents.committed, row.committed) << row.name;
    EXPECT_FALSE(contents.tornTail) << row.name;
    EXPECT_EQ(contents.tmId, id) << row.name;
    TmLog again;
    ASSERT_TRUE(again.open(path, &error)) << row.name << ": " << error;
    EXPECT_EQ(again.tmId(), id) << row.name << ": the identity stays with the log";
  }
  TmLog first, second;
  std::string error;
  ASSERT_TRUE(first.open(scratchFile("identity-1"), &error)) << error;
  ASSERT_TRUE(second.open(scratchFile("identity-2"), &error)) << error;
  EXPECT_NE(first.tmId(), second.tmId()) << "each new log has its own identity";
}

// Every failure point of making a log and deciding, once and from then on:
// a decision reported made is in the file, one reported failed is not, and
// the file is always a log the next writer opens and appends to.
TEST(TmLog, EveryFailureLeavesALogWhole) {
  const std::string path = scratchFile("faults");
  enum : long long { kDecided = 0, kNotOpened = 1, kNotDecided = 2, kUnknown = 3 };
  test::FaultSweepEntry entry;
  entry.name = "a new log and a decision";
  entry.prepare = [&path] { std::remove(path.c_str()); };
  entry.run = [&path]() -> long long {
    TmLog log;
    std::string error;
    if (!log.open(path, &error)) return kNotOpened;
    switch (log.decideCommit("g1", &error)) {
      case TmLog::Outcome::kWritten:
        return kDecided;
      case TmLog::Outcome::kNotWritten:
        return kNotDecided;
      case TmLog::Outcome::kUnknown:
        return kUnknown;
    }
    return kUnknown;
  };
  entry.check = [&path](const test::FaultRun& run, long long result) {
    if (run.clean()) {
      EXPECT_EQ(result, kDecided) << run.row;
    }
    TmLogContents contents;
    std::string error;
    const std::string bytes = readFile(path);
    if (result == kDecided) {
      ASSERT_TRUE(TmLog::parse(bytes, &contents, &error)) << run.row << ": " << error;
      EXPECT_EQ(contents.committed, std::set<std::string>{"g1"}) << run.row;
    } else if (result != kUnknown && TmLog::parse(bytes, &contents, &error)) {
      EXPECT_TRUE(contents.committed.empty()) << run.row << ": a failed decision is not in the log";
    }
  };
  entry.worksAgain = [&path](const std::string& row) {
    TmLog log;
    std::string error;
    ASSERT_TRUE(log.open(path, &error)) << row << ": " << error;
    ASSERT_EQ(log.decideCommit("g2", &error), TmLog::Outcome::kWritten) << row << ": " << error;
    TmLogContents contents;
    ASSERT_TRUE(TmLog::parse(readFile(path), &contents, &error)) << row << ": " << error;
    EXPECT_EQ(contents.committed.count("g2"), 1u) << row;
  };
  test::expectSweepComplete(test::sweepFaults(entry), entry.name);
}

TEST(TmLog, NoDecisionWithoutALog) {
  std::string error;
  TmLog unopened;
  EXPECT_EQ(unopened.decideCommit("g", &error), TmLog::Outcome::kNotWritten);
  TmLog log;
  EXPECT_FALSE(log.open("no-such-folder/tm.log", &error));
  EXPECT_NE(error.find("the log no-such-folder/tm.log"), std::string::npos) << error;
}

// A second process refuses a log another holds, writer or recovery, at once
// and naming the holder.
TEST(TmLog, OneProcessAtATime) {
  const std::string path = scratchFile("locked");
  std::string error;
  TmLog holder;
  ASSERT_TRUE(holder.open(path, &error)) << error;
  const std::string named =
      "the log " + path + " is in use by process " + std::to_string(static_cast<long>(::getpid()));
  for (bool writer : {false, true}) {
    EXPECT_EXIT(
        {
          TmLog other;
          TmLogContents contents;
          std::string reason;
          const bool opened =
              writer ? other.open(path, &reason) : other.openForRecovery(path, &contents, &reason);
          std::fprintf(stderr, "%s\n", reason.c_str());
          std::_Exit(opened ? 0 : 3);
        },
        testing::ExitedWithCode(3), named)
        << (writer ? "writer" : "recovery");
  }
}

}  // namespace
}  // namespace xadriver
}  // namespace zp
