#include "tools/xadriver/script.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>

#include "tools/xadriver/open_text.h"
#include "tools/xadriver/xa_names.h"
#include "zpor8dtc23/xa.h"

namespace zp {
namespace xadriver {
namespace {

struct OpName {
  const char* name;
  Op op;
};

const OpName kOps[] = {
    {"open", Op::kOpen},         {"close", Op::kClose},     {"start", Op::kStart},
    {"end", Op::kEnd},           {"prepare", Op::kPrepare}, {"commit", Op::kCommit},
    {"rollback", Op::kRollback}, {"forget", Op::kForget},   {"recover", Op::kRecover},
    {"complete", Op::kComplete}, {"work", Op::kWork},       {"crash", Op::kCrash}};

// Splits a line into words; a double-quoted word may hold spaces.
bool splitWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
  size_t at = 0;
  while (at < line.size()) {
    if (line[at] == ' ' || line[at] == '\t' || line[at] == '\r') {
      ++at;
    } else if (line[at] == '#') {
      break;
    } else if (line[at] == '"') {
      const size_t close = line.find('"', at + 1);
      if (close == std::string::npos) {
        *error = "unterminated quoted text";
        return false;
      }
      words->push_back(line.substr(at + 1, close - at - 1));
      at = close + 1;
    } else {
      size_t end = line.find_first_of(" \t\r", at);
      if (end == std::string::npos) end = line.size();
      words->push_back(line.substr(at, end - at));
      at = end;
    }
  }
  return true;
}

bool takesXid(Op op) {
  return op == Op::kStart || op == Op::kEnd || op == Op::kPrepare || op == Op::kCommit ||
         op == Op::kRollback || op == Op::kForget;
}

// A word of the line as a message may quote it. Words after an open string
// that holds a password may be pieces of it: they are not shown.
class WordQuoter {
 public:
  explicit WordQuoter(const std::string& line) : secret_(maskPassword(line) != line) {}
  void passOpenString() { afterOpen_ = true; }
  std::string operator()(const std::string& word) const {
    return afterOpen_ && secret_ ? "(a word not shown: the line holds a password)"
                                 : "'" + word + "'";
  }

 private:
  bool secret_;
  bool afterOpen_ = false;
};

std::string range(long long lowest, long long highest) {
  return "from " + std::to_string(lowest) + " to " + std::to_string(highest);
}

bool parseStep(const std::vector<std::string>& words, const std::string& line, Step* step,
               std::string* error) {
  WordQuoter quote(line);
  bool known = false;
  for (const OpName& name : kOps) {
    if (words[0] == name.name) {
      step->op = name.op;
      known = true;
    }
  }
  if (!known) {
    *error = "unknown call '" + words[0] + "'";
    return false;
  }
  if (step->op == Op::kCrash) {
    if (words.size() == 1) return true;
    *error = "crash takes no arguments";
    return false;
  }
  size_t at = 1;
  long long number = 0;
  if (at >= words.size()) {
    *error = words[0] + " needs an rmid";
    return false;
  }
  if (!parseInteger(words[at], INT_MIN, INT_MAX, &number)) {
    *error = words[0] + " needs an rmid, an int " + range(INT_MIN, INT_MAX) + ", not " +
             quote(words[at]);
    return false;
  }
  step->rmid = static_cast<int>(number);
  ++at;
  if (step->op == Op::kOpen) {
    if (at >= words.size()) {
      *error = "open needs an open string";
      return false;
    }
    step->text = words[at++];
    quote.passOpenString();
    if (step->text.find('\r') != std::string::npos) {
      *error = "the open string holds a carriage return";
      return false;
    }
  } else if (takesXid(step->op)) {
    if (at >= words.size()) {
      *error = words[0] + " needs an XID";
      return false;
    }
    const std::string& xid = words[at++];
    const size_t slash = xid.find('/');
    step->recovered = xid == "recovered";
    step->gtrid = xid.substr(0, slash);
    step->bqual = slash == std::string::npos ? "" : xid.substr(slash + 1);
    if (step->gtrid.empty() || step->gtrid.size() > 64 || step->bqual.size() > 64) {
      *error = "an XID needs a gtrid of 1 to 64 and a bqual of at most 64 characters";
      return false;
    }
  } else if (step->op == Op::kRecover) {
    if (at >= words.size()) {
      *error = "recover needs a count";
      return false;
    }
    if (!parseInteger(words[at], LONG_MIN, kMaxRecoverCount, &number)) {
      *error = "recover needs a count " + range(LONG_MIN, kMaxRecoverCount) +
               " (an XID is allocated for each), not " + quote(words[at]);
      return false;
    }
    step->count = static_cast<long>(number);
    ++at;
  }
  step->flags = step->op == Op::kEnd ? TMSUCCESS : 0;
  if (step->op == Op::kRecover) step->flags = TMSTARTRSCAN | TMENDRSCAN;
  if (at < words.size() && words[at] != "expect") {
    if (step->op == Op::kWork || !parseFlags(words[at], &step->flags)) {
      *error = "bad flags " + quote(words[at]);
      return false;
    }
    ++at;
  }
  if (at < words.size() && words[at] == "expect") {
    if (at + 1 >= words.size() || !parseResult(words[at + 1], &step->expected)) {
      *error = "expect needs an XA result name or a number " + range(INT_MIN, INT_MAX);
      return false;
    }
    step->checked = true;
    at += 2;
  }
  if (at != words.size()) {
    *error = "unexpected " + quote(words[at]);
    return false;
  }
  return true;
}

void replaceAll(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

}  // namespace

const char* const kScenarioNames[] = {"two-phase", "one-phase", "rollback",
                                      "read-only", "crash",     "recover"};
const int kScenarioCount = 6;

bool parseInteger(const std::string& text, long long lowest, long long highest, long long* value) {
  const size_t digits = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (digits >= text.size()) return false;
  for (size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  errno = 0;
  const long long number = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || number < lowest || number > highest) return false;
  *value = number;
  return true;
}

const char* stepName(Op op) {
  for (const OpName& name : kOps) {
    if (name.op == op) return name.name;
  }
  return "?";
}

bool parseScript(const std::string& source, std::vector<Step>* steps, std::string* error) {
  std::istringstream lines(source);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    std::vector<std::string> words;
    std::string message;
    Step step;
    step.line = number;
    bool good = line.find('\0') == std::string::npos;
    if (!good) message = "a NUL byte";
    good = good && splitWords(line, &words, &message);
    good = good && (words.empty() || parseStep(words, line, &step, &message));
    if (!good) {
      *error = "line " + std::to_string(number) + ": " + message;
      return false;
    }
    if (!words.empty()) steps->push_back(step);
  }
  return true;
}

std::string scenarioScript(const std::string& name, int rmid) {
  std::string script;
  if (name == "two-phase") {
    script =
        "start R 2pc-R/b expect XA_OK\nwork R expect XA_OK\nend R 2pc-R/b expect XA_OK\n"
        "prepare R 2pc-R/b expect XA_OK\ncommit R 2pc-R/b expect XA_OK\n";
  } else if (name == "one-phase") {
    script =
        "start R 1pc-R/b expect XA_OK\nwork R expect XA_OK\nend R 1pc-R/b expect XA_OK\n"
        "commit R 1pc-R/b TMONEPHASE expect XA_OK\n";
  } else if (name == "rollback") {
    script =
        "start R rb-R/b expect XA_OK\nwork R expect XA_OK\nend R rb-R/b expect XA_OK\n"
        "rollback R rb-R/b expect XA_OK\ncommit R rb-R/b expect XAER_NOTA\n";
  } else if (name == "read-only") {
    script =
        "start R ro-R/b expect XA_OK\nend R ro-R/b expect XA_OK\nprepare R ro-R/b expect "
        "XA_RDONLY\n"
        "commit R ro-R/b expect XAER_NOTA\n";
  } else if (name == "crash") {
    script =
        "open R \"OPEN\" expect XA_OK\nstart R crash-R/b expect XA_OK\nwork R expect XA_OK\n"
        "end R crash-R/b expect XA_OK\nprepare R crash-R/b expect XA_OK\ncrash\n";
  } else if (name == "recover") {
    script =
        "open R \"OPEN\" expect XA_OK\nrecover R 10 expect 1\ncommit R recovered expect XA_OK\n"
        "recover R 10 expect 0\nclose R expect XA_OK\n";
  } else {
    return "";
  }
  if (name != "crash" && name != "recover")
    script = "open R \"OPEN\" expect XA_OK\n" + script + "close R expect XA_OK\n";
  replaceAll(&script, " R ", " " + std::to_string(rmid) + " ");
  replaceAll(&script, "-R/", "-" + std::to_string(rmid) + "/");
  replaceAll(&script, " R\n", " " + std::to_string(rmid) + "\n");
  replaceAll(&script, "\"OPEN\"", "\"\"");
  return script;
}

void setOpenStrings(std::vector<Step>* steps, const std::string& openString) {
  for (Step& step : *steps) {
    if (step.op != Op::kOpen) continue;
    step.text = openString;
    replaceAll(&step.text, "{rmid}", std::to_string(step.rmid));
  }
}

}  // namespace xadriver
}  // namespace zp
