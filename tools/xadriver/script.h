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
// XID is GTRID or GTRID/BQUAL (format id 0x5a50), or "recovered": each XID
// the latest recover of the rmid listed. FLAGS are names joined by '|'
// (end defaults to TMSUCCESS, recover to TMSTARTRSCAN|TMENDRSCAN, the rest to
// TMNOFLAGS). RESULT is an XA name or a number. '#' starts a comment.
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

// The word a script uses for a step ("open", "work", ...).
const char* stepName(Op op);

// Parses a script. Returns false and a one-line message on the first error.
bool parseScript(const std::string& source, std::vector<Step>* steps, std::string* error);

// The built-in scenarios by name, for one rmid: openString may hold "{rmid}",
// which becomes the rmid. Returns an empty text for an unknown name.
std::string scenarioScript(const std::string& name, int rmid, const std::string& openString);
// The names the driver accepts (besides "threads" and "all").
extern const char* const kScenarioNames[];
extern const int kScenarioCount;

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_SCRIPT_H
