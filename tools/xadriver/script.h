// Call sequences: the script language the driver reads, and the built-in
// scenarios written in it.
//
//   open RMID "OPEN STRING" [FLAGS] [expect RESULT]
//   close RMID [FLAGS] [expect RESULT]
//   start|end|prepare|commit|rollback|forget RMID XID [FLAGS] [expect RESULT]
//   recover RMID COUNT [FLAGS] [expect RESULT]
//   complete RMID [FLAGS] [expect RESULT]
//   work RMID [expect RESULT]
//   crash
//
// RMID is a decimal int; COUNT a decimal number of at most kMaxRecoverCount.
// XID is GTRID or GTRID/BQUAL (format id 0x5a50), or "recovered": each XID
// the latest recover of the rmid listed. FLAGS are names joined by '|'
// (end defaults to TMSUCCESS, recover to TMSTARTRSCAN|TMENDRSCAN, the rest to
// TMNOFLAGS). RESULT is an XA name or a number. '#' starts a comment. A line
// with a NUL byte, and an open string with a carriage return, are refused.
#ifndef ZP_TOOLS_XADRIVER_SCRIPT_H
#define ZP_TOOLS_XADRIVER_SCRIPT_H

#include <string>
#include <vector>

namespace zp {
namespace xadriver {

enum class Op {
  kOpen,
  kClose,
  kStart,
  kEnd,
  kPrepare,
  kCommit,
  kRollback,
  kForget,
  kRecover,
  kComplete,
  kWork,
  kCrash
};

struct Step {
  int line = 0;
  Op op = Op::kOpen;
  int rmid = 0;
  std::string text;  // the open string
  std::string gtrid, bqual;
  bool recovered = false;
  long flags = 0;
  long count = 0;
  bool checked = false;  // whether an expected result was given
  int expected = 0;
};

// The largest recover count: the driver allocates an XID for each (140
// bytes), and no resource manager in a test holds more branches in doubt.
constexpr long kMaxRecoverCount = 10000;

// Reads a decimal integer: an optional sign and digits, nothing else, within
// [lowest, highest]. Returns false otherwise (value untouched).
bool parseInteger(const std::string& text, long long lowest, long long highest, long long* value);

// The word a script uses for a step ("open", "work", ...).
const char* stepName(Op op);

// Parses a script. Returns false and a one-line message on the first error.
// A message never shows a word that follows an open string holding a
// password (an unquoted open string with blanks splits into such words).
bool parseScript(const std::string& source, std::vector<Step>* steps, std::string* error);

// The built-in scenarios by name, for one rmid. Their open steps have an
// empty open string; setOpenStrings gives them theirs. Returns an empty text
// for an unknown name.
std::string scenarioScript(const std::string& name, int rmid);

// Gives every open step openString, in which "{rmid}" becomes the step's rmid.
// The open string is never read as script text, so it may hold any byte.
void setOpenStrings(std::vector<Step>* steps, const std::string& openString);
// The names the driver accepts (besides "threads" and "all").
extern const char* const kScenarioNames[];
extern const int kScenarioCount;

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_SCRIPT_H
