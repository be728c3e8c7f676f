#include "tools/xadriver/session.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/xadriver/open_text.h"
#include "tools/xadriver/xa_names.h"
#include "xa/client_library.h"
#include "xa/open_string.h"

namespace zp {
namespace xadriver {
namespace {

constexpr long kFormatId = 0x5a50;

XID makeXid(const std::string& gtrid, const std::string& bqual) {
  XID xid;
  std::memset(&xid, 0, sizeof(xid));
  xid.formatID = kFormatId;
  xid.gtrid_length = static_cast<long>(gtrid.size());
  xid.bqual_length = static_cast<long>(bqual.size());
  std::memcpy(xid.data, gtrid.data(), gtrid.size());
  std::memcpy(xid.data + gtrid.size(), bqual.data(), bqual.size());
  return xid;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The XA function a step calls ("xa_open"), or the step's own name.
std::string opName(Op op) {
  const std::string name = stepName(op);
  return op == Op::kWork || op == Op::kCrash ? name : "xa_" + name;
}

}  // namespace

std::string describeXid(const XID& xid) {
  std::string text;
  const long total = xid.gtrid_length + xid.bqual_length;
  for (long i = 0; i < total && i < XIDDATASIZE; ++i) {
    if (i == xid.gtrid_length) text += '/';
    const unsigned char byte = static_cast<unsigned char>(xid.data[i]);
    if (byte >= 0x20 && byte < 0x7f) {
      text += static_cast<char>(byte);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02x", byte);
      text += hex;
    }
  }
  // Trailing zero bytes of a widened branch qualifier say little: count them.
  size_t zeros = 0;
  while (text.size() >= 4 * (zeros + 1) &&
         text.compare(text.size() - 4 * (zeros + 1), 4, "\\x00") == 0)
    ++zeros;
  if (zeros > 1) text = text.substr(0, text.size() - 4 * zeros) + "\\x00*" + std::to_string(zeros);
  char head[64];
  std::snprintf(head, sizeof(head), "%#lx:", static_cast<long>(xid.formatID));
  return head + text + " (bqual " + std::to_string(xid.bqual_length) + ")";
}

bool loadTarget(const std::string& moduleFile, bool dtc, Target* target, std::string* error) {
  char reason[512];
  platform::Library* module =
      platform::libraryLoadExplained(moduleFile.c_str(), reason, sizeof reason);
  if (module == nullptr) {
    *error = "the module " + moduleFile + " does not load: " + reason;
    return false;
  }
  target->dtc = dtc;
  const char* entry = dtc ? "GetXaSwitch" : "MQStart";
  const char* accessor = dtc ? "hkXaoSvcCtx" : "hkMQXaoSvcCtx";
  void* entryAddress = platform::librarySymbol(module, entry);
  void* accessorAddress = platform::librarySymbol(module, accessor);
  if (entryAddress == nullptr) {
    *error = "the module " + moduleFile + " does not export " + entry;
    return false;
  }
  if (dtc) {
    using GetXaSwitchFunction = int32_t (*)(uint32_t, xa_switch_t**);
    const int32_t hr = reinterpret_cast<GetXaSwitchFunction>(entryAddress)(0, &target->sw);
    if (hr != 0 || target->sw == nullptr) {
      char text[64];
      std::snprintf(text, sizeof(text), "GetXaSwitch returned 0x%08x", static_cast<unsigned>(hr));
      *error = text;
      return false;
    }
    target->dtcSvcCtx = reinterpret_cast<void* (*)(int, char*)>(accessorAddress);
  } else {
    using MQStartFunction = xa_switch_t* (*)();
    target->sw = reinterpret_cast<MQStartFunction>(entryAddress)();
    if (target->sw == nullptr) {
      *error = "MQStart returned no switch";
      return false;
    }
    target->mqSvcCtx = reinterpret_cast<void* (*)(char*)>(accessorAddress);
  }
  return true;
}

ClientProbe probeClient() {
  ClientProbe probe;
  for (const char* name : kClientCandidates) {
    platform::Library* library = platform::libraryLoad(name);
    if (library == nullptr) continue;
    probe.callThread =
        reinterpret_cast<uint32_t (*)(int)>(platform::librarySymbol(library, "refrm_call_thread"));
    probe.work = reinterpret_cast<int (*)(void*, const char*)>(
        platform::librarySymbol(library, "refrm_work"));
    probe.handleInfo = reinterpret_cast<int (*)(void*, int*, uint32_t*)>(
        platform::librarySymbol(library, "refrm_handle_info"));
    break;  // the module takes the first that loads, whatever it exports
  }
  return probe;
}

Session::Session(const Target& target, const ClientProbe& probe, bool buffered,
                 const std::string& prefix)
    : target_(target), probe_(probe), buffered_(buffered), prefix_(prefix) {}

void Session::emit(const std::string& line, bool prefixed) {
  const std::string& prefix = prefixed ? prefix_ : std::string();
  if (buffered_) {
    output_ += prefix + line + "\n";
  } else {
    std::printf("%s%s\n", prefix.c_str(), line.c_str());
    std::fflush(stdout);
  }
}

int Session::call(const Step& step, XID* xid, std::string* arguments) {
  xa_switch_t* sw = target_.sw;
  const std::string rmidFlags =
      "rmid=" + std::to_string(step.rmid) + ", flags=" + flagsName(step.flags);
  if (xid != nullptr) *arguments = "xid=" + describeXid(*xid) + ", " + rmidFlags;
  switch (step.op) {
    case Op::kOpen: {
      *arguments = quoted(maskPassword(step.text)) + ", " + rmidFlags;
      std::string info = step.text;
      return sw->xa_open_entry(&info[0], step.rmid, step.flags);
    }
    case Op::kClose: {
      *arguments = "\"\", " + rmidFlags;
      char empty[] = "";
      return sw->xa_close_entry(empty, step.rmid, step.flags);
    }
    case Op::kStart:
      return sw->xa_start_entry(xid, step.rmid, step.flags);
    case Op::kEnd:
      return sw->xa_end_entry(xid, step.rmid, step.flags);
    case Op::kPrepare:
      return sw->xa_prepare_entry(xid, step.rmid, step.flags);
    case Op::kCommit:
      return sw->xa_commit_entry(xid, step.rmid, step.flags);
    case Op::kRollback:
      return sw->xa_rollback_entry(xid, step.rmid, step.flags);
    case Op::kForget:
      return sw->xa_forget_entry(xid, step.rmid, step.flags);
    case Op::kRecover: {
      std::vector<XID>& list = recovered_[step.rmid];
      list.assign(static_cast<size_t>(step.count > 0 ? step.count : 1), XID());
      *arguments = "xids[" + std::to_string(step.count) + "], count=" + std::to_string(step.count) +
                   ", " + rmidFlags;
      const int result = sw->xa_recover_entry(list.data(), step.count, step.rmid, step.flags);
      list.resize(result > 0 ? static_cast<size_t>(result) : 0);
      return result;
    }
    case Op::kComplete: {
      int handle = 0, retval = 0;
      *arguments = "&handle, &retval, " + rmidFlags;
      return sw->xa_complete_entry(&handle, &retval, step.rmid, step.flags);
    }
    case Op::kWork:
    case Op::kCrash:
      break;
  }
  return 0;
}

namespace {

// The first open of the process that failed unexpectedly. Claimed by one
// session thread; read by the main thread once every session has ended.
std::atomic<bool> g_failedOpenClaimed;
FailedOpen g_failedOpen;

void noteFailedOpen(const std::string& openString, int result) {
  if (g_failedOpenClaimed.exchange(true)) return;
  g_failedOpen.happened = true;
  g_failedOpen.openString = openString;
  g_failedOpen.result = result;
}

}  // namespace

FailedOpen firstFailedOpen() { return g_failedOpen; }

void Session::record(const Step& step, const std::string& text, int result, double milliseconds,
                     uint32_t thread) {
  if (step.op == Op::kOpen && result != XA_OK && (!step.checked || step.expected != result))
    noteFailedOpen(step.text, result);
  // A recover's non-negative result is a count, not a code.
  const std::string name =
      step.op == Op::kRecover && result >= 0 ? std::to_string(result) : resultName(result);
  std::string out = text + "\n      = " + name + " (" + std::to_string(result) + ")";
  if (thread != 0) out += "  client thread " + std::to_string(thread);
  char duration[32];
  std::snprintf(duration, sizeof(duration), "  %.3f ms", milliseconds);
  out += duration;
  if (step.checked && result != step.expected) {
    out += "  UNEXPECTED: wanted " + resultName(step.expected);
    ++failures_;
  }
  emit(out);
}

void Session::runOne(const Step& step, XID* xid) {
  if (step.op == Op::kWork) {
    const auto started = std::chrono::steady_clock::now();
    std::string db = dbNames_[step.rmid];
    void* svc = nullptr;
    std::string via;
    if (target_.dtc && target_.dtcSvcCtx != nullptr) {
      svc = target_.dtcSvcCtx(step.rmid, &db[0]);
      via = "hkXaoSvcCtx(" + std::to_string(step.rmid) + ", " + quoted(maskPassword(db)) + ")";
    } else if (!target_.dtc && target_.mqSvcCtx != nullptr) {
      svc = target_.mqSvcCtx(&db[0]);
      via = "hkMQXaoSvcCtx(" + quoted(maskPassword(db)) + ")";
    }
    int result = XAER_RMERR;
    uint32_t thread = 0;
    std::string text = "work through " + via;
    if (svc == nullptr) {
      text += ": no service context";
    } else if (probe_.work == nullptr) {
      text += ": the client library has no work call";
    } else {
      int owner = 0;
      if (probe_.handleInfo != nullptr && probe_.handleInfo(svc, &owner, &thread) == XA_OK)
        text += " -> connection of rmid " + std::to_string(owner) + ", opened on client thread " +
                std::to_string(thread);
      result = probe_.work(svc, "update");
      thread = 0;
    }
    const std::chrono::duration<double, std::milli> took =
        std::chrono::steady_clock::now() - started;
    record(step, text, result, took.count(), thread);
    return;
  }
  std::string arguments;
  const XID before = xid != nullptr ? *xid : XID();
  const auto started = std::chrono::steady_clock::now();
  const int result = call(step, xid, &arguments);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - started;
  uint32_t thread = probe_.callThread != nullptr ? probe_.callThread(step.rmid) : 0;
  if (thread != 0) clientThreads_[step.rmid].insert(thread);
  callerThreads_[step.rmid] = platform::currentThreadId();
  record(step, opName(step.op) + "(" + arguments + ")", result, took.count(), thread);
  // The DTC switch widens the branch qualifier before it passes the XID on.
  if (xid != nullptr && std::memcmp(&before, xid, sizeof(before)) != 0)
    emit("      the switch changed the XID to " + describeXid(*xid));
  if (step.op == Op::kRecover) {
    for (const XID& found : recovered_[step.rmid]) emit("      in doubt: " + describeXid(found));
  }
}

bool Session::run(const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    if (step.op == Op::kCrash) {
      emit(
          "-- the process ends here, between prepare and commit, without closing (a simulated "
          "crash)");
      std::fflush(stdout);
      std::_Exit(failures_ == 0 ? 0 : 1);
    }
    if (step.op == Op::kOpen) {
      std::string client = step.text;
      if (!target_.dtc) {
        char rewritten[kOpenBufferSize] = {0};
        if (rewrite_db_name(step.text.c_str(), rewritten, sizeof(rewritten)) == kOpenStringDone)
          client = rewritten;
      }
      dbNames_[step.rmid] = dbValue(client);
    }
    if (step.recovered) {
      const std::vector<XID> list = recovered_[step.rmid];
      if (list.empty())
        emit("-- " + opName(step.op) + " of the recovered XIDs: the latest recover listed none");
      for (XID xid : list) runOne(step, &xid);
    } else if (!step.gtrid.empty()) {
      XID xid = makeXid(step.gtrid, step.bqual);
      runOne(step, &xid);
    } else {
      runOne(step, nullptr);
    }
  }
  return failures_ == 0;
}

bool Session::checkThreads() {
  if (probe_.callThread == nullptr) {
    emit("-- the client library does not report its threads");
    return true;
  }
  bool good = true;
  for (const auto& entry : clientThreads_) {
    const int rmid = entry.first;
    const std::set<uint32_t>& threads = entry.second;
    const uint32_t caller = callerThreads_[rmid];
    const uint32_t thread = *threads.begin();
    std::string line = "rmid " + std::to_string(rmid) + ": ";
    bool ok;
    if (target_.dtc) {
      ok = threads.size() == 1 && thread != caller;
      line += ok ? "every client call ran on worker thread " + std::to_string(thread) +
                       " (the caller is thread " + std::to_string(caller) + ")"
              : threads.size() == 1
                  ? "client calls ran on the caller's thread " + std::to_string(caller) +
                        ", not on a worker"
                  : "client calls ran on " + std::to_string(threads.size()) + " different threads";
    } else {
      ok = threads.size() == 1 && thread == caller;
      line += ok ? "every client call ran on the caller's thread " + std::to_string(thread)
                 : "client calls ran on " + std::to_string(threads.size()) +
                       " thread(s) other than the caller's";
    }
    emit(line + (ok ? "  OK" : "  UNEXPECTED"), false);
    if (!ok) {
      ++failures_;
      good = false;
    }
  }
  return good;
}

}  // namespace xadriver
}  // namespace zp
