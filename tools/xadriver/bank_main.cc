// xabank: the bank, a small transaction manager over two databases behind
// the SQL client XA library, with its log and its recovery. A program of its
// own, apart from xadriver, so that only this one needs the databases'
// client libraries (libpq, libmariadb).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "tools/xadriver/args.h"
#include "tools/xadriver/bank.h"
#include "tools/xadriver/open_text.h"
#include "tools/xadriver/program_files.h"
#include "tools/xadriver/script.h"
#include "zp_version.h"

namespace zp {
namespace xadriver {
namespace {

const char kUsage[] =
    "usage: xabank [options] bank | bank-recover | verify\n"
    "\n"
    "The bank: global transactions over two databases behind the SQL client XA\n"
    "library (connections bank_a on PostgreSQL and bank_b on MariaDB, from the file\n"
    "ZPSQLXA_CONNECTIONS names). The module finds that library by the ordinary\n"
    "library search: LD_LIBRARY_PATH names its folder.\n"
    "\n"
    "  bank          each transfer moves an amount between the databases in one\n"
    "                two-phase commit whose decision is flushed to the log first;\n"
    "                prints the totals before and after and the transactions per\n"
    "                second\n"
    "  bank-recover  in a new process: lists the branches in doubt and, of those\n"
    "                the log's transaction manager made, commits those the log\n"
    "                decided and rolls back the rest; any other branch is left\n"
    "                alone (\"not ours\")\n"
    "  verify        the balances sum to the opening sum, none of the log's\n"
    "                branches is in doubt, every transfer is in both databases or\n"
    "                neither\n"
    "All three lock the log, and refuse (exit 2) one that is missing, not a regular\n"
    "file, in use by another process, or not read whole.\n"
    "Exit status: 0 when all went as it should, 1 otherwise, 2 for wrong arguments\n"
    "or an unusable log, 3 for a simulated crash (--crash-at).\n"
    "\n"
    "options:\n"
    "  --module FILE     the switch module (default: the project's, beside this\n"
    "                    program or installed beside its bin folder, else found by\n"
    "                    the library search)\n"
    "  --tm dtc|mq|direct  the switch as Microsoft DTC obtains it (GetXaSwitch, the\n"
    "                    default), as IBM WebSphere MQ does (MQStart), or the client\n"
    "                    XA library's own xaosw without the module (the baseline)\n"
    "  --rmid N          the main thread's rmids are N and N+1 (default 1), then a\n"
    "                    pair per thread\n"
    "  --threads T       transaction-manager threads, each with an rmid per database\n"
    "                    (default 1)\n"
    "  --transfers N     the number of transfers (default 100)\n"
    "  --log FILE        the transaction manager's log (default xabank.log)\n"
    "  --crash-at POINT  end the process at once (exit status 3) at POINT of one\n"
    "                    transfer: after-first-prepare, after-prepare,\n"
    "                    after-decision or after-first-commit\n"
    "  --crash-transfer K  the transfer that crashes (default 1)\n"
    "  --setup           fresh tables, even when they exist\n"
    "  --open-per-thread bank, --tm dtc: every thread opens the same two rmids\n"
    "                    (--rmid and the next), each on a connection of its own\n"
    "  --help            this text\n"
    "  --version         the program's version and word size\n";

const char* const kCrashPoints[] = {"after-first-prepare", "after-prepare", "after-decision",
                                    "after-first-commit"};

[[noreturn]] void usageError(const std::string& message) { usageExit("xabank", message); }

int runMain(int argc, char** argv) {
  BankOptions bank;
  bank.logPath = "xabank.log";
  std::string command;
  ArgumentReader arguments("xabank", argc, argv);
  while (arguments.next()) {
    const std::string arg = arguments.current();
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("xabank %s (%d-bit)\n", ZP_VERSION_STRING, static_cast<int>(sizeof(void*) * 8));
      return 0;
    } else if (arg == "--module") {
      bank.module = arguments.value();
    } else if (arg == "--tm") {
      bank.tm = arguments.value();
      if (bank.tm != "dtc" && bank.tm != "mq" && bank.tm != "direct")
        usageError("--tm takes dtc, mq or direct, not " + shownArgument(bank.tm));
    } else if (arg == "--rmid") {
      // The bank's rmids: a pair for the main thread and one per thread.
      bank.rmid = arguments.count(-2147483647, 2147483647 - 2 * 65);
    } else if (arg == "--threads") {
      bank.threads = arguments.count(1, 64);
    } else if (arg == "--transfers") {
      bank.transfers = arguments.count(1, 10000000);
    } else if (arg == "--log") {
      bank.logPath = arguments.value();
      if (bank.logPath.empty()) usageError("--log needs a file name");
    } else if (arg == "--crash-at") {
      bank.crashAt = arguments.value();
      bool known = false;
      for (const char* point : kCrashPoints) known = known || bank.crashAt == point;
      if (!known)
        usageError(
            "--crash-at takes after-first-prepare, after-prepare, after-decision or "
            "after-first-commit, not " +
            shownArgument(bank.crashAt));
    } else if (arg == "--crash-transfer") {
      bank.crashTransfer = arguments.count(1, 10000000);
    } else if (arg == "--setup") {
      bank.setup = true;
    } else if (arg == "--open-per-thread") {
      bank.openPerThread = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      usageError("unknown option " + shownArgument(arg));
    } else if (command.empty()) {
      command = arg;
    } else {
      usageError(command + " takes no further arguments");
    }
  }
  if (command.empty()) usageError("no command given: bank, bank-recover or verify");
  if (command != "bank" && command != "bank-recover" && command != "verify")
    usageError("unknown command " + shownArgument(command));
  if (bank.openPerThread && (command != "bank" || bank.tm != "dtc"))
    usageError("--open-per-thread serves the bank command with --tm dtc only");
  if (bank.module.empty()) bank.module = defaultModuleFile(argv[0]);
  // The module's open-string filter upper-cases in the code page, in this
  // process as in the module.
  platform::codePageSelect();
  if (command == "bank") return runBank(bank);
  if (command == "bank-recover") return runBankRecover(bank);
  return runBankVerify(bank);
}

}  // namespace
}  // namespace xadriver
}  // namespace zp

int main(int argc, char** argv) { return zp::xadriver::runMain(argc, argv); }
