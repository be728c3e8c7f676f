// What the driver adds to its findings so that a user can act on them: the
// syntax of the options the client reads, whether the trace log can be
// created, where the check itself runs, and what to do after a failed open.
#ifndef ZP_TOOLS_XADRIVER_ADVICE_H
#define ZP_TOOLS_XADRIVER_ADVICE_H

#include <string>
#include <vector>

namespace zp {
namespace xadriver {

// The driver's exit status after a simulated crash (--crash-at), which ends
// the process at once on purpose: distinct from 0 (every result as
// expected), 1 (one was not) and 2 (wrong arguments).
constexpr int kExitSimulatedCrash = 3;

enum class Verdict { kOk, kInfo, kWarn, kFail };

struct Finding {
  Verdict verdict;
  std::string text;
};

// Why the client refuses the value of one of the options it reads (keyword
// in any letter case), or "" when it takes it: the account form
// "P/user/password", a "+SesTm" that is not a whole number of seconds, a
// "+Threads" that is neither true nor false, an empty "+DB" or "+SqlNet".
std::string clientValueProblem(const std::string& keyword, const std::string& value);

// The options the client reads that the open string gives more than once
// (the client refuses such a string): one FAIL finding for each.
std::vector<Finding> checkRepeatedClientOptions(const std::string& openString);

// Whether the trace log file can be created (or appended to) from this
// process: its folder exists, a name that exists is a regular file, and a
// file can be opened there. A file the check creates is removed again.
Finding checkTraceFile(const std::string& file);

// A KV_ASSERTS_FILE in this environment too long for the module to use.
// (The diagnostic log's settings are reported by check itself.)
std::vector<Finding> checkModuleSettings();

// The note that opens a check: it runs in this process, with this process's
// library search path, current folder and account, which need not be a
// service's.
std::string checkScopeNote();

// One word of a command line, quoted so that the shell gives the program
// exactly that word: for a POSIX shell (sh, bash) and for cmd.exe with the
// C runtime's argument rules (mingw and MSVC programs). Words of letters,
// digits and _@%+=:,./- (and \ on cmd.exe) stay bare.
std::string posixShellWord(const std::string& word);
std::string cmdShellWord(const std::string& word);
// The words joined into one line for the shell of this platform (cmd.exe on
// Windows, sh elsewhere).
std::string shellCommand(const std::vector<std::string>& words);

// The line recover --list prints after the branches: the command that
// commits the first one, with every option it needs (the module, the
// transaction manager, the rmid, and the open string as it was given: its
// file by --open-file, or by --open when it holds no password). When it was
// given by --open and holds a password, it is shown masked and a line before
// it says to give it by --open-file instead.
struct RecoverCall {
  std::string driver;
  std::string module;
  bool dtc = true;
  int rmid = 1;
  bool openGiven = false;  // --open or --open-file was given
  std::string openFile;    // the --open-file argument, or ""
  std::string open;        // the --open argument
  std::string log;         // the --log argument (the bank's log), or ""
};
std::string recoverHint(const RecoverCall& call, const std::string& xid);

// Printed after an xa_open that failed: what to check, and the check command
// that examines this setup (the open string shown masked: the check needs no
// password).
std::string adviceAfterFailedOpen(const std::string& driver, const std::string& moduleFile,
                                  bool dtc, const std::string& openString, int result);

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_ADVICE_H
