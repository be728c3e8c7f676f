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
#include "tools/xadriver/advice.h"
#include "tools/xadriver/args.h"
#include "tools/xadriver/check.h"
#include "tools/xadriver/dtc_registry.h"
#include "tools/xadriver/open_text.h"
#include "tools/xadriver/program_files.h"
#include "tools/xadriver/recover.h"
#include "tools/xadriver/script.h"
#include "tools/xadriver/session.h"
#include "zp_version.h"

namespace zp {
namespace xadriver {
namespace {

const char kUsage[] =
    "usage: xadriver [options] run SCENARIO\n"
    "       xadriver [options] script FILE\n"
    "       xadriver [options] check\n"
    "       xadriver [options] recover --list | --commit XID | --rollback XID | --forget XID\n"
    "       xadriver [--module FILE] register-dtc | unregister-dtc [--dry-run]\n"
    "       xadriver --help | --version\n"
    "\n"
    "Drives an XA switch module as a transaction manager would and prints each call\n"
    "with its arguments, its result, the client thread it ran on (when the client\n"
    "reports it) and its duration. Exit status: 0 when every result was the one\n"
    "expected, 1 when one was not (or a check failed, or the module is unusable),\n"
    "2 for wrong arguments, 3 after a simulated crash (--crash-at).\n"
    "\n"
    "options:\n"
    "  --module FILE     the switch module (default: the project's, beside the driver\n"
    "                    or installed beside its bin folder, else found by the\n"
    "                    library search)\n"
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
    "The bank (bank, bank-recover, verify) is a program of its own, xabank, so that\n"
    "the driver needs no database client libraries.\n"
    "\n"
    "recover --list | --commit XID | --rollback XID | --forget XID: opens --rmid\n"
    "with the open string, lists the branches it holds in doubt (each XID as\n"
    "FORMAT:GTRID:BQUAL in hex, to paste back), or resolves one of them. With\n"
    "--log FILE, --list marks each branch as that bank log's own or NOT OURS.\n"
    "\n"
    "check also reports the module's diagnostic-log settings (ZPXA_LOG... in this\n"
    "environment and, on Windows, LogFile, LogLevel, LogLimit under\n"
    "HKLM\\SOFTWARE\\zpor8dtc23) and warns when the log's folder is missing.\n"
    "check --dtc: also DTC's XADLL registry value for the module and whether XA\n"
    "transactions are enabled (Windows). register-dtc [--dry-run]: writes (prints)\n"
    "the XADLL value for the module, whose file must exist (exit status 2 when\n"
    "not). unregister-dtc [--dry-run]: deletes (prints the reg delete command for)\n"
    "that value.\n";

// The bank's commands, which moved to xabank: a call with one of them is
// answered with the command to use instead.
bool isBankCommand(const std::string& command) {
  return command == "bank" || command == "bank-recover" || command == "verify";
}

// The command word as the bank's options would leave it: the first argument
// that is neither an option nor the value of one, the bank's own value
// options (--transfers, --log, --crash-at, --crash-transfer) among them.
std::string bankCommandWord(int argc, char** argv) {
  static const char* const kValueOptions[] = {
      "--module",    "--tm",  "--open",     "--open-file",      "--rmid",     "--threads",
      "--trace-lib", "--log", "--crash-at", "--crash-transfer", "--transfers"};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() < 2 || arg[0] != '-') return arg;
    for (const char* option : kValueOptions) {
      if (arg == option) {
        ++i;
        break;
      }
    }
  }
  return "";
}

const char kDefaultOpen[] = "ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=rm{rmid}+SqlNet=zpdemo";

struct Options {
  std::string module;
  std::string tm = "dtc";
  bool dtc = true;
  bool hasOpen = false;
  std::string open = kDefaultOpen;
  int rmid = 1;
  int threads = 4;
  std::string traceLibrary;
  bool dtcRegistry = false;
  std::string command;
  std::string argument;
};

[[noreturn]] void usageError(const std::string& message) { usageExit("xadriver", message); }

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

Options parseOptions(int argc, char** argv) {
  Options options;
  std::vector<std::string> words;
  ArgumentReader arguments("xadriver", argc, argv);
  while (arguments.next()) {
    const std::string arg = arguments.current();
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--version") {
      std::printf("xadriver %s (%d-bit)\n", ZP_VERSION_STRING, static_cast<int>(sizeof(void*) * 8));
      std::exit(0);
    } else if (arg == "--module") {
      options.module = arguments.value();
    } else if (arg == "--tm") {
      const std::string tm = arguments.value();
      if (tm != "dtc" && tm != "mq") usageError("--tm takes dtc or mq, not " + shownArgument(tm));
      options.tm = tm;
      options.dtc = tm == "dtc";
    } else if (arg == "--open" || arg == "--open-file") {
      if (options.hasOpen) usageError("give the open string once, by --open or --open-file");
      if (arg == "--open") {
        options.open = arguments.value();
        checkOpenString(arg, options.open);
      } else {
        options.open = readOpenFile(arguments.value());
      }
      options.hasOpen = true;
    } else if (arg == "--rmid") {
      options.rmid = arguments.count(-2147483647, 2147483647 - 64);
    } else if (arg == "--threads") {
      options.threads = arguments.count(1, 64);
    } else if (arg == "--trace-lib") {
      options.traceLibrary = arguments.value();
    } else if (arg == "--dtc") {
      options.dtcRegistry = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      usageError("unknown option " + shownArgument(arg));
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty())
    usageError(
        "no command given: run, script, check, recover, register-dtc "
        "or unregister-dtc");
  options.command = words[0];
  if (options.command == "check") {
    if (words.size() != 1) usageError(options.command + " takes no further arguments");
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
  if (isBankCommand(bankCommandWord(argc, argv))) {
    std::fprintf(stderr,
                 "xadriver: the bank is a program of its own: run xabank with the same "
                 "options and command (xabank --help)\n");
    return kExitUsage;
  }
  if (command == "unregister-dtc") return runUnregisterDtc(argc, argv);
  const Options parsed = parseOptions(argc, argv);
  Options options = parsed;
  if (options.module.empty()) options.module = defaultModuleFile(argv[0]);
  // The module's open-string filter is used in this process too; it upper-
  // cases in the code page, as the module does once it is loaded.
  platform::codePageSelect();
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
