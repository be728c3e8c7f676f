// Running call sequences through a module's switch as a transaction manager
// would: the switch obtained through the chosen entry point, each call
// printed with its arguments, result, client thread and duration, and each
// result held against the expected one.
#ifndef ZP_TOOLS_XADRIVER_SESSION_H
#define ZP_TOOLS_XADRIVER_SESSION_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/xadriver/script.h"
#include "zpor8dtc23/xa.h"

namespace zp {
namespace xadriver {

// The switch and the service-context accessor of one transaction manager kind.
struct Target {
  bool dtc = true;  // GetXaSwitch and hkXaoSvcCtx; else MQStart and hkMQXaoSvcCtx
  xa_switch_t* sw = nullptr;
  void* (*dtcSvcCtx)(int rmid, char* dbname) = nullptr;
  void* (*mqSvcCtx)(char* dbname) = nullptr;
};

// Loads the module by file name and takes the switch the way the chosen
// transaction manager does. On failure returns false and says what is missing.
bool loadTarget(const std::string& moduleFile, bool dtc, Target* target, std::string* error);

// What a client library reports about itself, when it is the reference
// resource manager (null entries otherwise).
struct ClientProbe {
  uint32_t (*callThread)(int rmid) = nullptr;
  int (*work)(void* svcCtx, const char* statement) = nullptr;
  int (*handleInfo)(void* handle, int* rmid, uint32_t* threadId) = nullptr;
};
// Loads the first candidate client library the search finds (the one the
// module takes) and binds its reports.
ClientProbe probeClient();

class Session {
 public:
  // With buffered set, lines are kept for output() instead of printed at once
  // (for sessions on threads of their own).
  Session(const Target& target, const ClientProbe& probe, bool buffered, const std::string& prefix);

  // Runs the steps in order. Returns false when any result differed from the
  // one expected. A crash step ends the process.
  bool run(const std::vector<Step>& steps);
  // Per rmid: every client call ran on one thread, a worker distinct from the
  // caller on the DTC switch, the caller itself on the MQ switch. Prints one
  // line per rmid; returns false on a difference. Without client reports,
  // says so and returns true.
  bool checkThreads();

  const std::string& output() const { return output_; }
  int failures() const { return failures_; }

 private:
  // Prints (or keeps) one line, after the session's prefix unless told not to.
  void emit(const std::string& line, bool prefixed = true);
  int call(const Step& step, XID* xid, std::string* arguments);
  void record(const Step& step, const std::string& text, int result, double milliseconds,
              uint32_t thread);
  void runOne(const Step& step, XID* xid);

  Target target_;
  ClientProbe probe_;
  bool buffered_;
  std::string prefix_;
  std::string output_;
  int failures_ = 0;
  std::map<int, std::string> dbNames_;         // the DB name the client got, per rmid
  std::map<int, std::vector<XID>> recovered_;  // the latest recover's list, per rmid
  std::map<int, std::set<uint32_t>> clientThreads_;
  std::map<int, uint32_t> callerThreads_;
};

std::string describeXid(const XID& xid);

// The first xa_open of the process whose failure was not what its step
// expected. REQUIRES: no session runs any more.
struct FailedOpen {
  bool happened = false;
  std::string openString;
  int result = 0;
};
FailedOpen firstFailedOpen();

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_SESSION_H
