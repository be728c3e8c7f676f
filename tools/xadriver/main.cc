// xadriver: drives a switch module as a transaction manager would, through
// GetXaSwitch (Microsoft DTC) or MQStart (IBM WebSphere MQ), with built-in
// scenarios or a script; and checks a setup for the usual causes of an
// xa_open that answers XAER_RMERR.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#ifdef ZP_XADRIVER_BANK
#include "tools/xadriver/bank.h"
#endif
#include "tools/xadriver/advice.h"
#include "tools/xadriver/check.h"
#include "tools/xadriver/dtc_registry.h"
#include "tools/xadriver/open_text.h"
#include "tools/xadriver/recover.h"
#include "tools/xadriver/script.h"
#include "tools/xadriver/session.h"
#include "zp_version.h"

namespace zp {
namespace xadriver {
namespace {

constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: xadriver [options] run SCENARIO\n"
    "       xadriver [options] script FILE\n"
    "       xadriver [options] check\n"
    "       xadriver [options] bank | bank-recover | verify\n"
    "\n"
    "Drives an XA switch module as a transaction manager would and prints each call\n"
    "with its arguments, its result, the client thread it ran on (when the client\n"
    "reports it) and its duration. Exit status: 0 when every result was the one\n"
    "expected, 1 when one was not (or a check failed, or the module is unusable),\n"
    "2 for wrong arguments.\n"
    "\n"
    "options:\n"
    "  --module FILE     the switch module (default: the project's, beside the driver\n"
    "                    or in ../lib, else found by the library search)\n"
    "  --tm dtc|mq       obtain the switch as Microsoft DTC does (GetXaSwitch, the\n"
    "                    default) or as IBM WebSphere MQ does (MQStart)\n"
    "  --open STRING     the open string of the scenarios; {rmid} becomes the rmid\n"
    "                    (default "
    "ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=rm{rmid}+SqlNet=zpdemo);\n"
    "                    for check, the open string to analyse\n"
    "  --open-file FILE  the same, read from FILE (- for standard input): one line,\n"
    "                    so that no password need be on a command line\n"
    "  --rmid N          the (first) rmid of a scenario (default 1)\n"
    "  --threads N       threads of the threads scenario, one rmid each (default 4)\n"
    "  --trace-lib NAME  check: the trace library to examine (default: the one the\n"
    "                    open string names)\n"
    "  --tm direct       bank commands only: the client XA library's own xaosw,\n"
    "                    without the module (the baseline)\n"
    "  --transfers N     bank: the number of transfers (default 100)\n"
    "  --log FILE        bank: the transaction manager's log (default\n"
    "                    xadriver-bank.log)\n"
    "  --crash-at POINT  bank: end the process at once at POINT of one transfer:\n"
    "                    after-first-prepare, after-prepare, after-decision or\n"
    "                    after-first-commit\n"
    "  --crash-transfer K  bank: the transfer that crashes (default 1)\n"
    "  --setup           bank: fresh tables, even when they exist\n"
    "  --open-per-thread bank, --tm dtc: every thread opens the same two rmids\n"
    "                    (--rmid and the next), each on a connection of its own\n"
    "  --help            this text\n"
    "  --version         the driver's version and word size\n"
    "\n"
    "scenarios:\n"
    "  two-phase   start, work, end, prepare, commit\n"
    "  one-phase   start, work, end, commit with TMONEPHASE\n"
    "  rollback    start, work, end, rollback; a later commit answers XAER_NOTA\n"
    "  read-only   start, end without work; prepare answers XA_RDONLY\n"
    "  crash       prepare a branch, then end the process without commit or close\n"
    "  recover     in a new process: recover lists the branch the crash left in\n"
    "              doubt, commit it, recover again lists none\n"
    "  threads     several rmids at once, one thread each, three two-phase\n"
    "              commits per rmid; checks which thread each client call ran on\n"
    "  all         two-phase, one-phase, rollback, read-only and threads\n"
    "\n"
    "Every open string the driver prints shows the password of its Acc option as\n"
    "****. An open string may not hold a line break.\n"
    "\n"
    "script: one call per line (# starts a comment):\n"
    "  open RMID \"OPEN STRING\" [FLAGS] [expect RESULT]\n"
    "  close RMID [FLAGS] [expect RESULT]\n"
    "  start|end|prepare|commit|rollback|forget RMID XID [FLAGS] [expect RESULT]\n"
    "  recover RMID COUNT [FLAGS] [expect RESULT]    COUNT at most 10000\n"
    "  complete RMID [FLAGS] [expect RESULT]\n"
    "  work RMID [expect RESULT]    one unit of work through the rmid's service context\n"
    "  crash                        end the process at once\n"
    "XID is GTRID or GTRID/BQUAL, or 'recovered' (each XID the rmid's latest recover\n"
    "listed); FLAGS are names joined by '|' (TMONEPHASE, TMJOIN, TMSUSPEND, ...);\n"
    "RESULT an XA name (XA_OK, XA_RDONLY, XAER_PROTO, ...) or a number.\n"
    "\n"
    "check: the word size of this process and of the module; which client XA\n"
    "libraries the search finds, which one the module would take and its exports;\n"
    "with --open, what the client receives and what is taken out or dropped; with\n"
    "--trace-lib (or a trace library in the open string), whether it is usable.\n"
    "One line per finding: OK, INFO, WARN or FAIL; exit status 1 when any failed.\n"
    "\n"
    "bank: global transactions over two databases behind the SQL client XA library\n"
    "(connections bank_a on PostgreSQL and bank_b on MariaDB): each transfer moves\n"
    "an amount between them in one two-phase commit whose decision is flushed to\n"
    "the log first. --threads T threads (default 1), each with an rmid per\n"
    "database (rmid and rmid+1 are the main thread's). Prints the totals before\n"
    "and after and the transactions per second.\n"
    "bank-recover: a new process lists the branches in doubt and commits those the\n"
    "log decided, rolls back the rest. verify: the balances sum to the opening\n"
    "sum, no branch is in doubt, every transfer is in both databases or neither.\n"
    "\n"
    "recover --list | --commit XID | --rollback XID | --forget XID: opens --rmid\n"
    "with the open string, lists the branches it holds in doubt (each XID as\n"
    "FORMAT:GTRID:BQUAL in hex, to paste back), or resolves one of them.\n"
    "\n"
    "check --dtc: also DTC's XADLL registry value for the module and whether XA\n"
    "transactions are enabled (Windows). register-dtc [--dry-run]: writes (prints)\n"
    "the XADLL value for the module.\n";

bool isBankCommand(const std::string& command) {
  return command == "bank" || command == "bank-recover" || command == "verify";
}

// The crash points --crash-at accepts, as the bank names them.
const char* const kCrashPoints[] = {"after-first-prepare", "after-prepare", "after-decision",
                                    "after-first-commit"};
const int kCrashPointCount = 4;

const char kDefaultOpen[] = "ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=rm{rmid}+SqlNet=zpdemo";

struct Options {
  std::string module;
  std::string tm = "dtc";
  bool dtc = true;
  bool hasOpen = false;
  std::string open = kDefaultOpen;
  int rmid = 1;
  int threads = 4;
  bool hasThreads = false;
  int transfers = 100;
  std::string logPath = "xadriver-bank.log";
  std::string crashAt;
  int crashTransfer = 1;
  bool setup = false;
  bool openPerThread = false;
  std::string traceLibrary;
  bool dtcRegistry = false;
  std::string command;
  std::string argument;
};

// An argument as a message quotes it: an open string given in the wrong place
// shows no password.
std::string shownArgument(const std::string& argument) {
  return "'" + maskPassword(argument) + "'";
}

[[noreturn]] void usageError(const std::string& message) {
  std::fprintf(stderr, "xadriver: %s (see xadriver --help)\n", message.c_str());
  std::exit(kExitUsage);
}

int parseCount(const std::string& option, const std::string& text, int lowest, int highest) {
  long long value = 0;
  if (!parseInteger(text, lowest, highest, &value))
    usageError(option + " needs a number from " + std::to_string(lowest) + " to " +
               std::to_string(highest) + ", not " + shownArgument(text));
  return static_cast<int>(value);
}

// An open string the driver can pass on: one line. The message names where the
// string came from and never shows it.
void checkOpenString(const std::string& origin, const std::string& open) {
  if (open.find('\n') != std::string::npos)
    usageError(origin + ": the open string holds a line break");
  if (open.find('\r') != std::string::npos)
    usageError(origin + ": the open string holds a carriage return");
}

// Reads the open string from a file, or standard input for "-": its one
// non-empty line, without the line end (a "\r\n" counts as one). The file may
// be at most kMaxOpenFileBytes long.
std::string readOpenFile(const std::string& name) {
  constexpr size_t kMaxOpenFileBytes = 65536;
  const std::string origin = "--open-file " + shownArgument(name);
  std::error_code ignored;
  if (name != "-" && std::filesystem::is_directory(name, ignored))
    usageError(origin + ": a directory, not a file");
  std::FILE* file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (file == nullptr) usageError(origin + ": cannot open it");
  std::string content(kMaxOpenFileBytes + 1, '\0');
  content.resize(std::fread(&content[0], 1, content.size(), file));
  const bool failed = std::ferror(file) != 0;
  if (file != stdin) std::fclose(file);
  if (failed) usageError(origin + ": cannot read it");
  if (content.size() > kMaxOpenFileBytes)
    usageError(origin + ": longer than " + std::to_string(kMaxOpenFileBytes) + " bytes");
  if (content.find('\0') != std::string::npos) usageError(origin + ": it holds a NUL byte");
  std::string open;
  int lines = 0;
  std::istringstream in(content);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (++lines > 1) usageError(origin + ": more than one non-empty line");
    open = line;
  }
  if (lines == 0) usageError(origin + ": no open string in it");
  checkOpenString(origin, open);
  return open;
}

// The folder of the driver's own file. A driver started through PATH has no
// folder in argv[0]; on Linux the kernel's link to the program names it.
std::string programDir(const char* argv0) {
  std::string path = argv0 == nullptr ? "" : argv0;
#ifndef _WIN32
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) path = self.string();
#endif
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usageError(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--version") {
      std::printf("xadriver %s (%d-bit)\n", ZP_VERSION_STRING, static_cast<int>(sizeof(void*) * 8));
      std::exit(0);
    } else if (arg == "--module") {
      options.module = value();
    } else if (arg == "--tm") {
      const std::string tm = value();
      if (tm != "dtc" && tm != "mq" && tm != "direct")
        usageError("--tm takes dtc, mq or direct, not " + shownArgument(tm));
      options.tm = tm;
      options.dtc = tm == "dtc";
    } else if (arg == "--open" || arg == "--open-file") {
      if (options.hasOpen) usageError("give the open string once, by --open or --open-file");
      if (arg == "--open") {
        options.open = value();
        checkOpenString(arg, options.open);
      } else {
        options.open = readOpenFile(value());
      }
      options.hasOpen = true;
    } else if (arg == "--rmid") {
      options.rmid = parseCount(arg, value(), -2147483647, 2147483647 - 64);
    } else if (arg == "--threads") {
      options.threads = parseCount(arg, value(), 1, 64);
      options.hasThreads = true;
    } else if (arg == "--transfers") {
      options.transfers = parseCount(arg, value(), 1, 10000000);
    } else if (arg == "--log") {
      options.logPath = value();
      if (options.logPath.empty()) usageError("--log needs a file name");
    } else if (arg == "--crash-at") {
      options.crashAt = value();
      bool known = false;
      for (int p = 0; p < kCrashPointCount; ++p)
        known = known || options.crashAt == kCrashPoints[p];
      if (!known)
        usageError(
            "--crash-at takes after-first-prepare, after-prepare, after-decision or "
            "after-first-commit, not " +
            shownArgument(options.crashAt));
    } else if (arg == "--crash-transfer") {
      options.crashTransfer = parseCount(arg, value(), 1, 10000000);
    } else if (arg == "--setup") {
      options.setup = true;
    } else if (arg == "--open-per-thread") {
      options.openPerThread = true;
    } else if (arg == "--trace-lib") {
      options.traceLibrary = value();
    } else if (arg == "--dtc") {
      options.dtcRegistry = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      usageError("unknown option " + shownArgument(arg));
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty())
    usageError("no command given: run, script, check, bank, bank-recover or verify");
  options.command = words[0];
  const bool bank = isBankCommand(options.command);
  if (options.openPerThread && (options.command != "bank" || options.tm != "dtc"))
    usageError("--open-per-thread serves the bank command with --tm dtc only");
  if (options.tm == "direct" && !bank)
    usageError("--tm direct serves the bank commands only (bank, bank-recover, verify)");
  if (options.command == "check" || bank) {
    if (words.size() != 1) usageError(options.command + " takes no further arguments");
    // The bank's rmids: a pair for the main thread and one per thread.
    if (bank && options.rmid > 2147483647 - 2 * 65)
      usageError("--rmid leaves no room for the bank's rmids");
  } else if (options.command == "run" || options.command == "script") {
    if (words.size() != 2)
      usageError(options.command + " takes exactly one " +
                 (options.command == "run" ? "scenario" : "file"));
    options.argument = words[1];
  } else {
    usageError("unknown command " + shownArgument(options.command));
  }
  return options;
}

std::vector<Step> parseOrDie(const std::string& text, const std::string& origin) {
  std::vector<Step> steps;
  std::string error;
  if (!parseScript(text, &steps, &error)) {
    std::fprintf(stderr, "xadriver: %s: %s\n", maskPassword(origin).c_str(), error.c_str());
    std::exit(kExitUsage);
  }
  return steps;
}

std::string threadScript(int rmid) {
  std::string body;
  for (int k = 1; k <= 3; ++k) {
    const std::string xid = "mt-" + std::to_string(rmid) + "-" + std::to_string(k) + "/b";
    const std::string r = std::to_string(rmid) + " ";
    body += "start " + r + xid + " expect XA_OK\nwork " + r + "expect XA_OK\nend " + r + xid +
            " expect XA_OK\n" + "prepare " + r + xid + " expect XA_OK\ncommit " + r + xid +
            " expect XA_OK\n";
  }
  return "open " + std::to_string(rmid) + " \"\" expect XA_OK\n" + body + "close " +
         std::to_string(rmid) + " expect XA_OK\n";
}

struct ThreadJob {
  Session* session;
  std::vector<Step> steps;
  platform::Semaphore* done;
};

uint32_t runJob(void* raw) {
  ThreadJob* job = static_cast<ThreadJob*>(raw);
  job->session->run(job->steps);
  platform::semaphoreRelease(job->done);
  return 0;
}

// Several rmids at once, each on a thread of its own.
bool runThreads(const Target& target, const ClientProbe& probe, const Options& options) {
  std::printf("== threads: %d rmids at once, one thread each\n", options.threads);
  std::fflush(stdout);
  std::vector<Session> sessions;
  for (int i = 0; i < options.threads; ++i)
    sessions.emplace_back(target, probe, true, "[rmid " + std::to_string(options.rmid + i) + "] ");
  std::vector<ThreadJob> jobs(static_cast<size_t>(options.threads));
  for (int i = 0; i < options.threads; ++i) {
    ThreadJob& job = jobs[static_cast<size_t>(i)];
    job.session = &sessions[static_cast<size_t>(i)];
    job.steps = parseOrDie(threadScript(options.rmid + i), "threads");
    setOpenStrings(&job.steps, options.open);
    job.done = platform::semaphoreCreate();
  }
  for (ThreadJob& job : jobs) {
    uint32_t id = 0;
    if (job.done == nullptr || !platform::threadStartDetached(runJob, &job, &id)) {
      std::fprintf(stderr, "xadriver: cannot start a thread\n");
      std::exit(1);
    }
  }
  bool good = true;
  for (size_t i = 0; i < jobs.size(); ++i) {
    platform::semaphoreWait(jobs[i].done);
    platform::semaphoreClose(jobs[i].done);
    sessions[i].checkThreads();
    std::fputs(sessions[i].output().c_str(), stdout);
    good = good && sessions[i].failures() == 0;
  }
  return good;
}

bool runScenario(const Target& target, const ClientProbe& probe, const Options& options,
                 const std::string& name) {
  if (name == "threads") return runThreads(target, probe, options);
  const std::string text = scenarioScript(name, options.rmid);
  if (text.empty()) usageError("unknown scenario " + shownArgument(name));
  std::vector<Step> steps = parseOrDie(text, name);
  setOpenStrings(&steps, options.open);
  std::printf("== %s\n", name.c_str());
  std::fflush(stdout);
  Session session(target, probe, false, "");
  session.run(steps);
  session.checkThreads();
  return session.failures() == 0;
}

int runMain(int argc, char** argv) {
  const std::string command = commandWord(argc, argv);
  if (command == "recover") return runRecover(argc, argv);
  if (command == "register-dtc") return runRegisterDtc(argc, argv);
  const Options parsed = parseOptions(argc, argv);
  Options options = parsed;
  if (options.module.empty()) {
#ifdef _WIN32
    options.module = "zpor8dtc23.dll";
#else
    // Beside the driver (a build folder), else where the packages install it
    // (lib beside bin), else by name through the library search.
    const std::string dir = programDir(argv[0]);
    std::error_code error;
    options.module = "libzpor8dtc23.so";
    for (const std::string& candidate :
         {dir + "/libzpor8dtc23.so", dir + "/../lib/libzpor8dtc23.so"}) {
      if (std::filesystem::exists(candidate, error)) {
        options.module = std::filesystem::path(candidate).lexically_normal().string();
        break;
      }
    }
#endif
  }
  // The module's open-string filter is used in this process too; it upper-
  // cases in the code page, as the module does once it is loaded.
  platform::codePageSelect();
  if (isBankCommand(options.command)) {
#ifdef ZP_XADRIVER_BANK
    BankOptions bank;
    bank.tm = options.tm;
    bank.module = options.module;
    bank.transfers = options.transfers;
    bank.threads = options.hasThreads ? options.threads : 1;
    bank.rmid = options.rmid;
    bank.logPath = options.logPath;
    bank.crashAt = options.crashAt;
    bank.crashTransfer = options.crashTransfer;
    bank.setup = options.setup;
    bank.openPerThread = options.openPerThread;
    if (options.command == "bank") return runBank(bank);
    if (options.command == "bank-recover") return runBankRecover(bank);
    return runBankVerify(bank);
#else
    std::fprintf(stderr,
                 "xadriver: %s needs the native build with libpq and libmariadb installed\n",
                 options.command.c_str());
    return 1;
#endif
  }
  if (options.command == "check") {
    CheckRequest request;
    request.moduleFile = options.module;
    request.programDir = programDir(argv[0]);
    request.hasOpenString = options.hasOpen;
    request.openString = options.open;
    request.traceLibrary = options.traceLibrary;
    request.dtcRegistry = options.dtcRegistry;
    return runCheck(request) == 0 ? 0 : 1;
  }

  std::vector<Step> scriptSteps;
  if (options.command == "script") {
    std::error_code ignored;
    if (std::filesystem::is_directory(options.argument, ignored))
      usageError("the script " + shownArgument(options.argument) + " is a directory, not a file");
    std::ifstream in(options.argument, std::ios::binary);
    if (!in) usageError("cannot read the script " + shownArgument(options.argument));
    std::stringstream text;
    text << in.rdbuf();
    if (in.bad()) usageError("cannot read the script " + shownArgument(options.argument));
    scriptSteps = parseOrDie(text.str(), options.argument);
    if (scriptSteps.empty())
      usageError("the script " + shownArgument(options.argument) + " holds no calls");
  } else {
    bool known = options.argument == "threads" || options.argument == "all";
    for (int i = 0; i < kScenarioCount; ++i) known = known || options.argument == kScenarioNames[i];
    if (!known) usageError("unknown scenario " + shownArgument(options.argument));
  }

  Target target;
  std::string error;
  if (!loadTarget(options.module, options.dtc, &target, &error)) {
    std::fprintf(stderr, "xadriver: %s\n", error.c_str());
    return 1;
  }
  std::printf("-- switch \"%.32s\" from %s through %s\n", target.sw->name, options.module.c_str(),
              options.dtc ? "GetXaSwitch (Microsoft DTC)" : "MQStart (IBM WebSphere MQ)");
  const ClientProbe probe = probeClient();
  bool good = true;
  if (options.command == "script") {
    Session session(target, probe, false, "");
    good = session.run(scriptSteps);
  } else if (options.argument == "all") {
    for (const char* name : {"two-phase", "one-phase", "rollback", "read-only", "threads"})
      good = runScenario(target, probe, options, name) && good;
  } else {
    good = runScenario(target, probe, options, options.argument);
  }
  std::printf("%s\n", good ? "-- every result as expected" : "-- UNEXPECTED results: see above");
  const FailedOpen failed = firstFailedOpen();
  if (failed.happened) {
    std::fputs(adviceAfterFailedOpen(argv[0], options.module, options.dtc, failed.openString,
                                     failed.result)
                   .c_str(),
               stdout);
  }
  return good ? 0 : 1;
}

}  // namespace
}  // namespace xadriver
}  // namespace zp

int main(int argc, char** argv) { return zp::xadriver::runMain(argc, argv); }
