// The diagnostic log of the real module, on both switches against the
// stand-in client: what the lines say, that passwords stay masked, that the
// file stays bounded, that lines of many threads stay whole, and that nothing
// is written while the log is off. Each case runs in a process of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "platform/platform.h"
#include "testlib/client_standin_control.h"
#include "testlib/module_file.h"
#include "testlib/text_file.h"
#include "testlib/threads.h"
#include "xa/client_library.h"
#include "zpor8dtc23/zpor8dtc23.h"

namespace zp {
namespace {

using test::readAll;
using test::readLines;

constexpr char kOpenString[] = "ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=diag+SqlNet=diag";
constexpr int kRmid = 5;
constexpr int kRmidNeverOpened = 99;

bool anyLineHas(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

std::string scratchLog(const std::string& name) {
  const std::string path = "diag_" + name + ".log";
  std::remove(path.c_str());
  return path;
}

// The log settings of the next load; null removes a variable.
void setLogEnvironment(const char* file, const char* level = nullptr, const char* limit = nullptr) {
  platform::environmentSet("ZPXA_LOG", file);
  platform::environmentSet("ZPXA_LOG_LEVEL", level);
  platform::environmentSet("ZPXA_LOG_LIMIT", limit);
}

// The real module, loaded after the settings are made, and its switch.
class Module {
 public:
  explicit Module(const std::string& switchName) {
    library_ = platform::libraryLoad(test::moduleFile());
    if (library_ == nullptr) return;
    if (switchName == "dtc") {
      auto get = reinterpret_cast<int32_t (*)(uint32_t, xa_switch_t**)>(
          platform::librarySymbol(library_, "GetXaSwitch"));
      if (get != nullptr && get(0, &switch_) != 0) switch_ = nullptr;
    } else {
      auto start =
          reinterpret_cast<xa_switch_t* (*)()>(platform::librarySymbol(library_, "MQStart"));
      if (start != nullptr) switch_ = start();
    }
  }
  ~Module() { platform::libraryUnload(library_); }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  xa_switch_t* xa() const { return switch_; }

 private:
  platform::Library* library_ = nullptr;
  xa_switch_t* switch_ = nullptr;
};

XID sampleXid() {
  XID xid = {};
  xid.formatID = 0x5a50;
  xid.gtrid_length = 4;
  xid.bqual_length = 1;
  std::memcpy(xid.data, "diagb", 5);
  return xid;
}

// A session as a transaction manager would run it: a call that fails
// (before any open on the MQ switch, for an rmid never opened on the DTC
// switch), then open, start, end, commit one phase, close. Returns the
// results in that order.
std::vector<int> runSession(xa_switch_t* xa) {
  std::vector<int> results;
  XID xid = sampleXid();
  results.push_back(xa->xa_commit_entry(&xid, kRmidNeverOpened, TMNOFLAGS));
  std::string info = kOpenString;
  results.push_back(xa->xa_open_entry(&info[0], kRmid, TMNOFLAGS));
  xid = sampleXid();
  results.push_back(xa->xa_start_entry(&xid, kRmid, TMNOFLAGS));
  results.push_back(xa->xa_end_entry(&xid, kRmid, TMSUCCESS));
  results.push_back(xa->xa_commit_entry(&xid, kRmid, TMONEPHASE));
  char empty[1] = {'\0'};
  results.push_back(xa->xa_close_entry(empty, kRmid, TMNOFLAGS));
  return results;
}

const std::vector<int> kSessionResults = {XAER_RMERR, XA_OK, XA_OK, XA_OK, XA_OK, XA_OK};

TEST(DiagLog_xa80, LinesOfBothSwitchesAtEachLevel) {
  struct Row {
    const char* switchName;
    const char* level;  // ZPXA_LOG_LEVEL, or null
    bool verbose;
  };
  const Row rows[] = {
      {"dtc", nullptr, false},
      {"dtc", "verbose", true},
      {"mq", nullptr, false},
      {"mq", "VERBOSE", true},
  };
  for (const Row& row : rows) {
    const std::string name = std::string(row.switchName) + (row.verbose ? "_verbose" : "_normal");
    SCOPED_TRACE(name);
    const std::string path = scratchLog(name);
    setLogEnvironment(path.c_str(), row.level);
    {
      Module module(row.switchName);
      ASSERT_NE(module.xa(), nullptr);
      EXPECT_EQ(runSession(module.xa()), kSessionResults);
    }
    const std::vector<std::string> lines = readLines(path);
    const std::string sw = std::string(" ") + row.switchName + " ";
    const std::vector<std::string> expected = {
        "load module ",
        " version ",
        (sizeof(void*) == 8 ? " 64-bit process " : " 32-bit process "),
        "failed" + sw + "xa_commit rmid 99 flags 0x0 xid fmt 0x5a50 gtrid 4 ",
        "client library loaded: ",
        "open" + sw + "rmid 5 flags 0x0 info \"ORACLE_XA+Acc=P/scott/****+SesTm=60+DB=diag",
        "xa80",
        "(the first candidate) result XA_OK thread ",
        "close" + sw + "rmid 5 flags 0x0 result XA_OK thread ",
        "unload module ",
    };
    for (const std::string& part : expected) {
      EXPECT_TRUE(anyLineHas(lines, part)) << "no line has: " << part;
    }
    EXPECT_FALSE(anyLineHas(lines, "tiger")) << "a password reached the log";
    EXPECT_FALSE(anyLineHas(lines, "version unknown"));
    EXPECT_EQ(anyLineHas(lines, "call" + sw + "xa_start rmid 5"), row.verbose)
        << "successful calls are written at the verbose level only";
    EXPECT_EQ(anyLineHas(lines, "call" + sw + "xa_commit rmid 5 flags 0x40000000"), row.verbose);
  }
}

TEST(DiagLog_xa80, NothingWrittenWhileOff) {
  // Read once at load: a log switched off after a load that used it gets
  // nothing from the next load, and a module loaded without it writes nothing.
  const std::string path = scratchLog("off");
  const char* const switches[] = {"dtc", "mq"};
  setLogEnvironment(path.c_str(), "verbose");
  { Module module("dtc"); }
  const std::string before = readAll(path);
  ASSERT_FALSE(before.empty());
  for (const char* sw : switches) {
    SCOPED_TRACE(sw);
    setLogEnvironment(nullptr, "verbose");
    Module module(sw);
    ASSERT_NE(module.xa(), nullptr);
    EXPECT_EQ(runSession(module.xa()), kSessionResults);
  }
  EXPECT_EQ(readAll(path), before);
}

TEST(DiagLog_xa80, LogThatCannotBeWrittenLeavesResultsAlone) {
  const char* const paths[] = {".", "no-such-folder/diag.log"};
  for (const char* path : paths) {
    for (const char* sw : {"dtc", "mq"}) {
      SCOPED_TRACE(std::string(sw) + " " + path);
      setLogEnvironment(path, "verbose");
      Module module(sw);
      ASSERT_NE(module.xa(), nullptr);
      EXPECT_EQ(runSession(module.xa()), kSessionResults);
    }
  }
}

TEST(DiagLog_xa80, FileStaysWithinItsLimit) {
  constexpr size_t kLimit = 4000;
  const std::string path = scratchLog("limit");
  setLogEnvironment(path.c_str(), "verbose", "4000");
  {
    Module module("dtc");
    ASSERT_NE(module.xa(), nullptr);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(runSession(module.xa()), kSessionResults);
  }
  const std::vector<std::string> lines = readLines(path);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("log full: 4000 bytes reached"), std::string::npos) << lines.back();
  const size_t size = readAll(path).size();
  EXPECT_LE(size, kLimit);
  EXPECT_EQ(lines.size() - 1, static_cast<size_t>(std::count_if(
                                  lines.begin(), lines.end(), [](const std::string& line) {
                                    return line.find("log full") == std::string::npos;
                                  })));
  // A later load finds the file full and adds nothing.
  { Module module("mq"); }
  EXPECT_EQ(readAll(path).size(), size);
}

TEST(DiagLog_xa80, LinesOfManyThreadsStayWhole) {
  constexpr int kThreads = 8;
  constexpr int kCallsEach = 100;
  const std::string path = scratchLog("threads");
  setLogEnvironment(path.c_str());
  {
    Module module("dtc");
    ASSERT_NE(module.xa(), nullptr);
    xa_switch_t* xa = module.xa();
    test::runConcurrently(kThreads, [xa](int thread) {
      for (int i = 0; i < kCallsEach; ++i) {
        XID xid = sampleXid();
        xa->xa_rollback_entry(&xid, 1000 + thread, TMNOFLAGS);
      }
    });
  }
  int failedLines = 0;
  for (const std::string& line : readLines(path)) {
    // "2026-12-08 14:43:33 pid 1 tid 2 failed dtc xa_rollback rmid 1003 ... result XAER_RMERR"
    ASSERT_TRUE(line.size() > 20 && line[4] == '-' && line[13] == ':') << line;
    if (line.find(" failed dtc xa_rollback rmid 10") == std::string::npos) continue;
    EXPECT_EQ(line.substr(line.size() - 17), "result XAER_RMERR") << line;
    ++failedLines;
  }
  EXPECT_EQ(failedLines, kThreads * kCallsEach);
}

TEST(DiagLog_xa80, RecoverCountIsWrittenAsACount) {
  // The stand-in client is told to answer xa_recover with the count it is
  // asked for: 100 shares its value with XA_RBROLLBACK and 0 with XA_OK.
  const struct {
    const char* switchName;
    long count;
    const char* shown;
  } rows[] = {
      {"dtc", 100, "xa_recover rmid 5 flags 0x1000000 returned 100"},
      {"dtc", 0, "xa_recover rmid 5 flags 0x1000000 returned 0"},
      {"mq", 100, "xa_recover rmid 5 flags 0x1000000 returned 100"},
      {"mq", 3, "xa_recover rmid 5 flags 0x1000000 returned 3"},
  };
  for (const auto& row : rows) {
    const std::string name = std::string(row.switchName) + "_" + std::to_string(row.count);
    SCOPED_TRACE(name);
    const std::string path = scratchLog("recover_" + name);
    setLogEnvironment(path.c_str(), "verbose");
    {
      Module module(row.switchName);
      ASSERT_NE(module.xa(), nullptr);
      std::string info = kOpenString;
      ASSERT_EQ(module.xa()->xa_open_entry(&info[0], kRmid, TMNOFLAGS), XA_OK);
      // The same stand-in, reached through this program's own loader.
      ASSERT_EQ(load_client_xa_library(), kClientSwitchHeld);
      test::StandinControl::loaded().setResult(kStandinRecover, ZP_STANDIN_ECHO);
      std::vector<XID> xids(100);
      EXPECT_EQ(module.xa()->xa_recover_entry(xids.data(), row.count, kRmid, TMSTARTRSCAN),
                row.count);
      char empty[1] = {'\0'};
      module.xa()->xa_close_entry(empty, kRmid, TMNOFLAGS);
    }
    const std::vector<std::string> lines = readLines(path);
    EXPECT_TRUE(anyLineHas(lines, row.shown)) << readAll(path);
    EXPECT_FALSE(anyLineHas(lines, "xa_recover rmid 5 flags 0x1000000 result")) << readAll(path);
  }
}

// One module, both entry points: the switch record that every holder shares
// is filled by whichever was called last, and the log says when that changes
// the entries a holder calls.
TEST(DiagLog_xa80, EntryPointReplacingTheOtherIsWritten) {
  const struct {
    std::vector<std::string> calls;
    size_t lines;  // "switch record: ..." lines expected
  } rows[] = {
      {{"mq", "mq"}, 0},
      {{"dtc", "dtc"}, 0},
      {{"mq", "dtc"}, 1},
      {{"dtc", "mq", "mq", "dtc"}, 2},
  };
  for (const auto& row : rows) {
    std::string name;
    for (const std::string& call : row.calls) name += call + "_";
    SCOPED_TRACE(name);
    const std::string path = scratchLog("entry_" + name);
    setLogEnvironment(path.c_str());
    {
      Module module(row.calls[0]);
      ASSERT_NE(module.xa(), nullptr);
      for (size_t i = 1; i < row.calls.size(); ++i) Module again(row.calls[i]);
    }
    const std::vector<std::string> lines = readLines(path);
    const size_t replaced = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.find("switch record: ") != std::string::npos &&
             line.find("one process uses one entry point") != std::string::npos;
    });
    EXPECT_EQ(replaced, row.lines) << readAll(path);
    if (row.lines > 0) {
      EXPECT_TRUE(anyLineHas(lines, "GetXaSwitch replaces the entries MQStart gave") ||
                  anyLineHas(lines, "MQStart replaces the entries GetXaSwitch gave"))
          << readAll(path);
    }
  }
}

// A full log starts afresh once its file has gone or been emptied. The log
// looks again at most once a second, so the calls are repeated until the new
// file has lines, within a bounded time.
TEST(DiagLog_xa80, FullLogRestartsWhenItsFileGoes) {
  const struct {
    const char* name;
    void (*change)(const std::string& path);
  } rows[] = {
      {"deleted", [](const std::string& path) { std::remove(path.c_str()); }},
      {"moved",
       [](const std::string& path) {
         std::remove((path + ".old").c_str());
         std::rename(path.c_str(), (path + ".old").c_str());
       }},
      {"emptied", [](const std::string& path) { std::fclose(std::fopen(path.c_str(), "w")); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = scratchLog(std::string("restart_") + row.name);
    setLogEnvironment(path.c_str(), "verbose", "4000");
    Module module("dtc");
    ASSERT_NE(module.xa(), nullptr);
    for (int i = 0; i < 20; ++i) runSession(module.xa());
    ASSERT_TRUE(anyLineHas(readLines(path), "log full: 4000 bytes reached"));
    row.change(path);
    const int64_t deadline = platform::monotonicNanoseconds() + 5 * 1000 * 1000 * 1000LL;
    while (readLines(path).empty() && platform::monotonicNanoseconds() < deadline) {
      runSession(module.xa());
      test::yieldThread();
    }
    runSession(module.xa());
    const std::vector<std::string> lines = readLines(path);
    ASSERT_FALSE(lines.empty()) << "the log stayed silent after its file was " << row.name;
    EXPECT_NE(lines.front().find("log restarts"), std::string::npos) << lines.front();
    EXPECT_TRUE(anyLineHas(lines, "call dtc xa_start rmid 5"));
  }
}

constexpr char kWriterVariable[] = "ZP_DIAG_LOG_WRITER";
constexpr int kWriterOpens = 400;

// An open string near 600 bytes: its open line is longer than 512 bytes.
std::string longOpenString(int process) {
  std::string info = "ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=p" + std::to_string(process);
  while (info.size() < 600) info += "+SqlNet=s" + std::to_string(info.size());
  return info;
}

// Run as a child of the test below: writes kWriterOpens long open lines.
TEST(DiagLog_xa80, LongLineWriterProcess) {
  char process[16];
  if (platform::environmentGet(kWriterVariable, process, sizeof process) == 0) {
    GTEST_SKIP() << "a child of LongLinesOfSeveralProcessesStayWhole";
  }
  Module module("mq");
  ASSERT_NE(module.xa(), nullptr);
  std::string info = longOpenString(std::atoi(process));
  for (int i = 0; i < kWriterOpens; ++i) module.xa()->xa_open_entry(&info[0], kRmid, TMNOFLAGS);
}

// Starts this program as a writer process; false when it could not.
class WriterProcess {
 public:
  WriterProcess(const std::string& program, int index) {
    platform::environmentSet(kWriterVariable, std::to_string(index).c_str());
    const std::string filter = "--gtest_filter=DiagLog_xa80.LongLineWriterProcess";
#if defined(_WIN32)
    std::string command = "\"" + program + "\" " + filter;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process_) != 0;
    if (started_) CloseHandle(process_.hThread);
#else
    std::string programArg = program;
    std::string filterArg = filter;
    char* argv[] = {&programArg[0], &filterArg[0], nullptr};
    started_ = posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) == 0;
#endif
  }
  WriterProcess(const WriterProcess&) = delete;
  WriterProcess& operator=(const WriterProcess&) = delete;

  // Waits at most until deadline; true when it ended with status 0.
  bool finished(int64_t deadline) {
    if (!started_) return false;
#if defined(_WIN32)
    const int64_t left = (deadline - platform::monotonicNanoseconds()) / 1000000;
    const bool ended = WaitForSingleObject(process_.hProcess, left > 0 ? static_cast<DWORD>(left)
                                                                       : 0) == WAIT_OBJECT_0;
    DWORD code = 1;
    if (ended) GetExitCodeProcess(process_.hProcess, &code);
    if (!ended) TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hProcess);
    return ended && code == 0;
#else
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (platform::monotonicNanoseconds() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        return false;
      }
      usleep(10000);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
  }

 private:
  bool started_ = false;
#if defined(_WIN32)
  PROCESS_INFORMATION process_ = {};
#else
  pid_t pid_ = 0;
#endif
};

TEST(DiagLog_xa80, LongLinesOfSeveralProcessesStayWhole) {
  constexpr int kProcesses = 4;
  const std::string path = scratchLog("processes");
  char full[1024];
#if defined(_WIN32)
  ASSERT_NE(GetFullPathNameA(path.c_str(), sizeof full, full, nullptr), 0u);
#else
  ASSERT_NE(realpath(".", full), nullptr);
  std::strcat(full, ("/" + path).c_str());
#endif
  setLogEnvironment(full);
  char program[1024];
  ASSERT_NE(platform::processFilePath(program, sizeof program), 0u);
  std::vector<std::unique_ptr<WriterProcess>> writers;
  for (int i = 0; i < kProcesses; ++i) writers.emplace_back(new WriterProcess(program, i));
  const int64_t deadline = platform::monotonicNanoseconds() + 90 * 1000 * 1000 * 1000LL;
  for (auto& writer : writers) EXPECT_TRUE(writer->finished(deadline));
  int opens = 0;
  int torn = 0;
  for (const std::string& line : readLines(path)) {
    if (line.find(" open mq rmid 5 ") == std::string::npos) continue;
    ++opens;
    // Each line is whole: one prefix, one open string, ending in its thread.
    const bool whole =
        line.size() > 600 && line[4] == '-' && line[13] == ':' &&
        line.compare(19, 5, " pid ") == 0 && line.find("ORACLE_XA", 0) == line.rfind("ORACLE_XA") &&
        line.find(" result ") != std::string::npos && line.find(" thread ") != std::string::npos;
    if (!whole) ++torn;
  }
  EXPECT_EQ(opens, kProcesses * kWriterOpens);
  EXPECT_EQ(torn, 0) << "of " << opens << " lines";
}

// A service's environment is awkward to set: the registry values switch the
// log on as well, written as administrators write them: strings, expandable
// strings, numbers of either width. A value of another type or one that
// cannot be used gives one line naming it. The test writes them in the test
// prefix's registry.
TEST(DiagLog_xa80, RegistryValuesOfEachType) {
#if !defined(_WIN32)
  GTEST_SKIP() << "the registry exists on Windows only";
#else
  struct Value {
    const char* name;
    DWORD type;
    std::string text;  // REG_SZ, REG_EXPAND_SZ, REG_BINARY bytes
    uint64_t number;   // REG_DWORD, REG_QWORD
  };
  struct Row {
    const char* name;
    std::vector<Value> values;  // LogFile is added to each
    std::vector<std::string> lines;
  };
  char folder[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryA(sizeof folder, folder), 0u);
  platform::environmentSet("ZP_DIAG_FOLDER", folder);
  const Row rows[] = {
      {"strings",
       {{"LogLevel", REG_SZ, "verbose", 0}, {"LogLimit", REG_SZ, "100000", 0}},
       {"level verbose limit 100000 settings from the registry"}},
      {"numbers",
       {{"LogLevel", REG_DWORD, "", 2}, {"LogLimit", REG_QWORD, "", 200000}},
       {"level verbose limit 200000 settings from the registry"}},
      {"dword limit",
       {{"LogLevel", REG_DWORD, "", 1}, {"LogLimit", REG_DWORD, "", 300000}},
       {"level normal limit 300000 settings from the registry"}},
      {"other types",
       {{"LogLevel", REG_BINARY, "\x02", 0}, {"LogLimit", REG_MULTI_SZ, std::string("1\0", 3), 0}},
       {"level normal limit 16777216 ", "setting LogLevel ignored: a REG_BINARY value",
        "setting LogLimit ignored: a REG_MULTI_SZ value"}},
      {"unusable values",
       {{"LogLevel", REG_SZ, "chatty", 0}, {"LogLimit", REG_SZ, "lots", 0}},
       {"setting LogLevel ignored: \"chatty\" is not normal, verbose, 1 or 2",
        "setting LogLimit ignored: \"lots\" is not a whole number of bytes"}},
  };
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\zpor8dtc23", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  setLogEnvironment(nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string file = std::string("diag_registry_") + row.name + ".log";
    std::remove(file.c_str());
    // Expanded from the environment of the process that loads the module.
    const std::string logFile = "%ZP_DIAG_FOLDER%\\" + file;
    ASSERT_EQ(RegSetValueExA(key, "LogFile", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(logFile.c_str()),
                             static_cast<DWORD>(logFile.size() + 1)),
              ERROR_SUCCESS);
    for (const Value& value : row.values) {
      std::string bytes = value.text;
      if (value.type == REG_SZ) bytes.push_back('\0');
      if (value.type == REG_DWORD || value.type == REG_QWORD) {
        bytes.assign(reinterpret_cast<const char*>(&value.number), value.type == REG_DWORD ? 4 : 8);
      }
      ASSERT_EQ(RegSetValueExA(key, value.name, 0, value.type,
                               reinterpret_cast<const BYTE*>(bytes.data()),
                               static_cast<DWORD>(bytes.size())),
                ERROR_SUCCESS);
    }
    {
      Module module("mq");
      ASSERT_NE(module.xa(), nullptr);
      EXPECT_EQ(runSession(module.xa()), kSessionResults);
    }
    const std::vector<std::string> lines = readLines(file);
    for (const std::string& part : row.lines) {
      EXPECT_TRUE(anyLineHas(lines, part)) << "no line has: " << part << "\n" << readAll(file);
    }
    EXPECT_FALSE(anyLineHas(lines, "tiger"));
  }
  RegDeleteValueA(key, "LogFile");
  RegDeleteValueA(key, "LogLevel");
  RegDeleteValueA(key, "LogLimit");
  RegCloseKey(key);
#endif
}

// A log path of 260 characters or more, which the ANSI file calls of Windows
// cannot take: "./" repeated in front of a name in the current folder.
TEST(DiagLog_xa80, LongPathIsWritten) {
  const std::string name = scratchLog("long_path");
  std::string path;
  while (path.size() + name.size() < 330) path += "./";
  path += name;
  setLogEnvironment(path.c_str());
  {
    Module module("dtc");
    ASSERT_NE(module.xa(), nullptr);
  }
  EXPECT_TRUE(anyLineHas(readLines(name), "load module ")) << path.size() << " characters";
}

}  // namespace
}  // namespace zp
