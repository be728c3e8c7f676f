#include "tools/xadriver/advice.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "module/diag_log.h"
#include "platform/platform.h"
#include "tools/xadriver/open_text.h"
#include "tools/xadriver/xa_names.h"

namespace zp {
namespace xadriver {
namespace {

// The options the client reads, in the case the user guide writes them.
const char* const kClientOptions[] = {"Acc", "DB", "SesTm", "SqlNet", "Threads"};

std::string clientOptionName(const std::string& keyword) {
  for (const char* name : kClientOptions) {
    if (sameIgnoringCase(keyword, name)) return name;
  }
  return "";
}

bool wholeNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Why the client refuses an account value, or "" when it takes it.
std::string accountProblem(const std::string& value) {
  if (value.size() < 2 || (value[0] != 'P' && value[0] != 'p') || value[1] != '/')
    return "the account must have the form P/user/password";
  const size_t second = value.find('/', 2);
  if (second == 2) return "the account names no user (P/user/password)";
  if (second == std::string::npos || second + 1 == value.size())
    return "the account gives no password (P/user/password)";
  return "";
}

}  // namespace

std::string clientValueProblem(const std::string& keyword, const std::string& written) {
  const std::string name = clientOptionName(keyword);
  // Blanks before the next option reach the client too; they are not taken
  // as part of the value here.
  std::string value = written;
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  if (name == "Acc") return accountProblem(value);
  if (name == "SesTm" && !wholeNumber(value))
    return "the session timeout must be a whole number of seconds";
  if (name == "Threads" && !sameIgnoringCase(value, "true") && !sameIgnoringCase(value, "false"))
    return "+Threads takes true or false";
  if ((name == "DB" || name == "SqlNet") && value.empty()) return "the value is empty";
  return "";
}

std::vector<Finding> checkRepeatedClientOptions(const std::string& openString) {
  std::vector<Finding> findings;
  if (openString.size() < 9) return findings;
  std::map<std::string, int> seen;
  size_t at = openString.find('+', 9);
  while (at != std::string::npos) {
    const size_t next = openString.find('+', at + 1);
    const std::string text =
        openString.substr(at, next == std::string::npos ? std::string::npos : next - at);
    at = next;
    const size_t equals = text.find('=');
    if (equals == std::string::npos) continue;  // reported with the option reading
    const std::string name = clientOptionName(text.substr(1, equals - 1));
    if (name.empty()) continue;
    if (++seen[name] == 2) {
      findings.push_back({Verdict::kFail, "+" + name +
                                              " is given more than once: the client refuses an "
                                              "open string that repeats an option"});
    }
  }
  return findings;
}

Finding checkTraceFile(const std::string& file) {
  const std::string shown = "\"" + maskPassword(file) + "\"";
  std::error_code error;
  const std::filesystem::path path(file);
  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  if (!std::filesystem::is_directory(folder, error)) {
    return {Verdict::kFail, "the trace log " + shown + " cannot be created: its folder \"" +
                                maskPassword(folder.string()) + "\" does not exist"};
  }
  if (std::filesystem::is_directory(path, error)) {
    return {Verdict::kFail, "the trace log " + shown + " is a folder"};
  }
  // Not opened to find out: a FIFO without a reader would hold the open.
  if (platform::fileIsNotRegular(file.c_str())) {
    return {Verdict::kFail, "the trace log " + shown +
                                " is not a regular file (a FIFO or a device): the module refuses "
                                "it and the MQ switch does not trace"};
  }
  const bool existed = std::filesystem::exists(path, error);
  bool writable = false;
  {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    writable = out.is_open();
  }
  if (!existed && writable) std::filesystem::remove(path, error);
  if (!writable) {
    return {Verdict::kFail, "the trace log " + shown + " cannot be " +
                                (existed ? "written" : "created") + " by this account"};
  }
  std::string where = "";
  if (path.is_relative())
    where = " (a relative name: the host process resolves it from its own current folder)";
  return {Verdict::kOk,
          "the trace log " + shown + " can be " + (existed ? "appended to" : "created") + where};
}

std::vector<Finding> checkModuleSettings() {
  std::vector<Finding> findings;
  // The module reads KV_ASSERTS_FILE into a buffer of 260 bytes.
  std::vector<char> asserts(32768);
  const size_t length = platform::environmentGet("KV_ASSERTS_FILE", asserts.data(), asserts.size());
  if (length >= 260) {
    findings.push_back({Verdict::kWarn, "KV_ASSERTS_FILE is " + std::to_string(length) +
                                            " characters, too long: the module takes at most "
                                            "259 and writes no stamp"});
  }
  return findings;
}

std::string checkScopeNote() {
#ifdef _WIN32
  const std::string search = "PATH";
#else
  const std::string search = "LD_LIBRARY_PATH";
#endif
  // The account the process really runs as, not what $USER or %USERNAME%
  // claim.
  char account[256];
  const bool known = platform::processAccountName(account, sizeof account) > 0;
  return "this check runs in its own process (pid " + std::to_string(platform::currentProcessId()) +
         ", account " + (known ? std::string(account) : std::string("unknown")) +
         ") with this shell's " + search +
         " and current folder; a service (DTC, a queue manager) loads the module with its own "
         "search path, folder and account, which may differ";
}

namespace {

bool allIn(const std::string& word, const char* extra) {
  if (word.empty()) return false;
  for (char c : word) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!plain && std::strchr(extra, c) == nullptr) return false;
  }
  return true;
}

}  // namespace

std::string posixShellWord(const std::string& word) {
  if (allIn(word, "_@%+=:,./-")) return word;
  // Inside single quotes nothing is special; a quote itself ends them, is
  // given escaped, and they start again.
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string cmdShellWord(const std::string& word) {
  if (allIn(word, "_@+=:,./-\\")) return word;
  // The C runtime's rules first: the word in double quotes, a quote inside
  // as \", the backslashes before a quote (or the closing one) doubled.
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  // Between double quotes cmd.exe takes & | < > ^ ( ) as they are, but not
  // a quote inside (it ends the quoted part) nor % and ! (variables). Then
  // every character cmd.exe reads specially gets its escape ^, quotes too,
  // so that cmd.exe never reads a quoted part and passes the line on as it
  // was meant.
  if (word.find_first_of("\"%!") == std::string::npos) return quoted;
  std::string escaped;
  for (char c : quoted) {
    if (std::strchr("^&|<>()%!\"", c) != nullptr) escaped += '^';
    escaped += c;
  }
  return escaped;
}

std::string shellCommand(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
#ifdef _WIN32
    line += (line.empty() ? "" : " ") + cmdShellWord(word);
#else
    line += (line.empty() ? "" : " ") + posixShellWord(word);
#endif
  }
  return line;
}

std::string recoverHint(const RecoverCall& call, const std::string& xid) {
  std::vector<std::string> words = {call.driver, "--module", call.module};
  if (!call.dtc) words.insert(words.end(), {"--tm", "mq"});
  words.insert(words.end(), {"--rmid", std::to_string(call.rmid)});
  std::string text;
  if (!call.openFile.empty()) {
    words.insert(words.end(), {"--open-file", call.openFile});
  } else if (call.openGiven && maskPassword(call.open) != call.open) {
    // The password stays off the screen: the line names a file to hold the
    // open string instead.
    text +=
        "(the open string holds a password: write it into a file, one line, and give that "
        "file for OPEN-FILE)\n";
    words.insert(words.end(), {"--open-file", "OPEN-FILE"});
  } else if (call.openGiven) {
    words.insert(words.end(), {"--open", call.open});
  }
  if (!call.log.empty()) words.insert(words.end(), {"--log", call.log});
  words.insert(words.end(), {"recover", "--commit", xid});
  text += "   " + shellCommand(words) + "\n";
  return "resolve one with this (the first listed; --rollback or --forget in place of --commit, "
         "another XID as listed):\n" +
         text;
}

std::string adviceAfterFailedOpen(const std::string& driver, const std::string& moduleFile,
                                  bool dtc, const std::string& openString, int result) {
#ifdef _WIN32
  const std::string search = "PATH (or the folder of the program)";
#else
  const std::string search = "LD_LIBRARY_PATH";
#endif
  std::string text = "-- xa_open answered " + resultName(result) + ". Check:\n";
  text += "--   the client XA library is in a folder on " + search +
          " of the process that loads the module, with the module's word size;\n";
  text += "--   the open string's options (account P/user/password, numbers, no option twice);\n";
  text += "--   in a service, set ZPXA_LOG=FILE for the module's own log of what it loaded.\n";
  text += "-- Run this to see which of them fails (the password is not needed):\n";
  std::vector<std::string> words = {driver, "--module", moduleFile};
  if (!dtc) words.insert(words.end(), {"--tm", "mq"});
  words.insert(words.end(), {"check", "--open", maskPassword(openString)});
  text += "   " + shellCommand(words) + "\n";
  return text;
}

}  // namespace xadriver
}  // namespace zp
