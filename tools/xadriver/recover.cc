#include "tools/xadriver/recover.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include "tools/xadriver/advice.h"
#include "tools/xadriver/open_text.h"
#include "tools/xadriver/program_files.h"
#include "tools/xadriver/script.h"
#include "tools/xadriver/session.h"
#include "tools/xadriver/tm_log.h"
#include "tools/xadriver/xa_names.h"

namespace zp {
namespace xadriver {
namespace {

constexpr int kExitUsage = 2;
// The most XIDs one list reads (140 bytes each). A resource manager that
// holds more for one rmid shows the first ones; resolving them shows the rest.
constexpr long kMostListed = 1000;

const char kRecoverUsage[] =
    "usage: xadriver [--module FILE] [--tm dtc|mq] [--open STRING | --open-file FILE|-]\n"
    "                [--rmid N] [--log FILE]\n"
    "                recover --list | --commit XID | --rollback XID | --forget XID\n"
    "--log FILE: the bank's log; --list marks each branch as its transaction\n"
    "manager's (with the log's decision) or not.\n";

const char kDefaultOpen[] = "ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=rm{rmid}+SqlNet=zpdemo";

struct RecoverOptions {
  std::string module;
  bool dtc = true;
  std::string open = kDefaultOpen;
  bool openGiven = false;
  std::string openFile;  // for the printed hint
  int rmid = 1;
  std::string logPath;  // the bank's log to attribute branches by, or empty
  std::string action;   // "list", "commit", "rollback", "forget"
  XID xid = {};
};

[[noreturn]] void usage(const std::string& message) {
  std::fprintf(stderr, "xadriver: %s\n%s", message.c_str(), kRecoverUsage);
  std::exit(kExitUsage);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool bytesFromHex(const std::string& text, bool mayBeEmpty, std::string* bytes) {
  if ((text.empty() && !mayBeEmpty) || text.size() % 2 != 0 || text.size() > 2 * MAXGTRIDSIZE)
    return false;
  bytes->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

std::string replaceRmid(const std::string& text, int rmid) {
  std::string result = text;
  const std::string mark = "{rmid}";
  for (size_t at = result.find(mark); at != std::string::npos; at = result.find(mark, at))
    result.replace(at, mark.size(), std::to_string(rmid));
  return result;
}

// The one non-empty line of an open-string file ("-": standard input), so
// that no password need be on a command line.
std::string readOpenFile(const std::string& name) {
  std::ifstream file;
  if (name != "-") {
    file.open(name, std::ios::binary);
    if (!file) usage("--open-file: cannot read '" + maskPassword(name) + "'");
  }
  std::istream& in = name == "-" ? std::cin : file;
  std::string open;
  int lines = 0;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (++lines > 1) usage("--open-file: more than one non-empty line");
    open = line;
  }
  if (lines == 0) usage("--open-file: no open string in it");
  if (open.find('\0') != std::string::npos) usage("--open-file: it holds a NUL byte");
  return open;
}

RecoverOptions parseRecoverOptions(int argc, char** argv) {
  RecoverOptions options;
  bool seenCommand = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "recover" && !seenCommand) {
      seenCommand = true;
    } else if (arg == "--module") {
      options.module = value();
    } else if (arg == "--tm") {
      const std::string tm = value();
      if (tm != "dtc" && tm != "mq") usage("--tm takes dtc or mq");
      options.dtc = tm == "dtc";
    } else if (arg == "--open") {
      options.open = value();
      options.openGiven = true;
      if (options.open.find_first_of("\r\n") != std::string::npos)
        usage("--open: the open string holds a line break");
    } else if (arg == "--open-file") {
      options.openFile = value();
      options.openGiven = true;
      options.open = readOpenFile(options.openFile);
      if (options.open.find('\r') != std::string::npos)
        usage("--open-file: the open string holds a carriage return");
    } else if (arg == "--log") {
      options.logPath = value();
      if (options.logPath.empty()) usage("--log needs a file name");
    } else if (arg == "--rmid") {
      long long rmid = 0;
      if (!parseInteger(value(), -2147483647, 2147483647, &rmid)) usage("--rmid needs a number");
      options.rmid = static_cast<int>(rmid);
    } else if (arg == "--list" || arg == "--commit" || arg == "--rollback" || arg == "--forget") {
      if (!options.action.empty()) usage("give one of --list, --commit, --rollback, --forget");
      options.action = arg.substr(2);
      if (options.action != "list") {
        const std::string text = value();
        if (!xidFromHex(text, &options.xid))
          usage(arg + " needs an XID as --list prints it (FORMAT:GTRID:BQUAL in hex, BQUAL " +
                "may be empty), not '" + maskPassword(text) + "'");
      }
    } else {
      usage("recover does not take " + maskPassword(arg));
    }
  }
  if (options.action.empty()) usage("recover needs --list, --commit, --rollback or --forget");
  return options;
}

// Every XID the rmid holds in doubt, up to kMostListed, read in one scan
// (TMSTARTRSCAN|TMENDRSCAN). Returns the recover result.
int scan(xa_switch_t* sw, int rmid, std::vector<XID>* listed) {
  listed->assign(static_cast<size_t>(kMostListed), XID{});
  const int result =
      sw->xa_recover_entry(listed->data(), kMostListed, rmid, TMSTARTRSCAN | TMENDRSCAN);
  listed->resize(result > 0 ? static_cast<size_t>(result) : 0);
  return result;
}

}  // namespace

std::string xidToHex(const XID& xid) {
  char text[16 + 4 * XIDDATASIZE];
  int used = std::snprintf(text, sizeof text, "%x:", static_cast<unsigned>(xid.formatID));
  const long total = xid.gtrid_length + xid.bqual_length;
  for (long i = 0; i < total && i < XIDDATASIZE; ++i) {
    if (i == xid.gtrid_length) text[used++] = ':';
    used += std::snprintf(text + used, sizeof text - static_cast<size_t>(used), "%02x",
                          static_cast<unsigned char>(xid.data[i]));
  }
  // An empty branch qualifier still gets its separator, so that the text
  // reads back as the same XID.
  if (xid.bqual_length <= 0 && xid.gtrid_length >= 0 && xid.gtrid_length <= XIDDATASIZE)
    text[used++] = ':';
  return std::string(text, static_cast<size_t>(used));
}

bool xidFromHex(const std::string& text, XID* xid) {
  const size_t first = text.find(':');
  if (first == std::string::npos) return false;
  // FORMAT:GTRID is taken as FORMAT:GTRID: (an empty branch qualifier).
  size_t second = text.find(':', first + 1);
  if (second == std::string::npos) second = text.size();
  if (second < text.size() && text.find(':', second + 1) != std::string::npos) return false;
  const std::string format = text.substr(0, first);
  if (format.empty() || format.size() > 8) return false;
  unsigned long formatId = 0;
  for (char c : format) {
    const int digit = hexDigit(c);
    if (digit < 0) return false;
    formatId = formatId * 16 + static_cast<unsigned long>(digit);
  }
  std::string gtrid, bqual;
  if (!bytesFromHex(text.substr(first + 1, second - first - 1), false, &gtrid) ||
      !bytesFromHex(second < text.size() ? text.substr(second + 1) : "", true, &bqual))
    return false;
  XID parsed = {};
  parsed.formatID = static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(formatId)));
  parsed.gtrid_length = static_cast<long>(gtrid.size());
  parsed.bqual_length = static_cast<long>(bqual.size());
  std::memcpy(parsed.data, gtrid.data(), gtrid.size());
  std::memcpy(parsed.data + gtrid.size(), bqual.data(), bqual.size());
  *xid = parsed;
  return true;
}

std::string commandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--module" || arg == "--tm" || arg == "--open" || arg == "--open-file" ||
        arg == "--rmid" || arg == "--threads" || arg == "--trace-lib" || arg == "--log") {
      ++i;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') continue;
    return arg;
  }
  return "";
}

int runRecover(int argc, char** argv) {
  RecoverOptions options = parseRecoverOptions(argc, argv);
  if (options.module.empty()) options.module = defaultModuleFile(argv[0]);
  // With a log, listed branches are attributed by it; the log stays locked
  // while the list is made, so that no bank decides meanwhile.
  TmLog log;
  TmLogContents contents;
  std::string error;
  if (!options.logPath.empty() && !log.openForRecovery(options.logPath, &contents, &error)) {
    std::fprintf(stderr, "xadriver: %s\n", error.c_str());
    return kExitUsage;
  }
  // With the log of the branch's own transaction manager, an outcome that
  // contradicts it is refused: a decided commit is never rolled back by hand,
  // and a branch without a decision is never committed.
  if (!options.logPath.empty() && (options.action == "commit" || options.action == "rollback")) {
    const std::string prefix = TmLog::gtridPrefix(contents.tmId);
    const XID& xid = options.xid;
    const std::string gtrid(xid.data, static_cast<size_t>(xid.gtrid_length));
    const bool decided = contents.committed.count(gtrid) != 0;
    if (gtrid.compare(0, prefix.size(), prefix) == 0 && decided != (options.action == "commit")) {
      std::fprintf(stderr, "xadriver: the log %s %s: --%s refused\n", options.logPath.c_str(),
                   decided ? "decided to commit this branch"
                           : "holds no decision for this branch (presumed abort)",
                   options.action.c_str());
      return kExitUsage;
    }
  }
  Target target;
  if (!loadTarget(options.module, options.dtc, &target, &error)) {
    std::fprintf(stderr, "xadriver: %s\n", error.c_str());
    return 1;
  }
  std::string open = replaceRmid(options.open, options.rmid);
  const int opened = target.sw->xa_open_entry(&open[0], options.rmid, TMNOFLAGS);
  std::printf("xa_open(\"%s\", rmid=%d) = %s\n", maskPassword(open).c_str(), options.rmid,
              resultName(opened).c_str());
  if (opened != XA_OK) return 1;

  int status = 0;
  if (options.action == "list") {
    std::vector<XID> listed;
    const int scanned = scan(target.sw, options.rmid, &listed);
    if (scanned < 0) {
      std::printf("xa_recover(rmid=%d) = %s\n", options.rmid, resultName(scanned).c_str());
      status = 1;
    } else {
      std::printf("%zu branch%s in doubt for rmid %d%s\n", listed.size(),
                  listed.size() == 1 ? "" : "es", options.rmid, listed.empty() ? "" : ":");
      if (scanned == kMostListed)
        std::printf("(the first %ld: more may be in doubt; resolve these and list again)\n",
                    kMostListed);
      int foreign = 0;
      for (const XID& xid : listed) {
        std::string mark;
        if (!options.logPath.empty()) {
          const std::string prefix = TmLog::gtridPrefix(contents.tmId);
          const std::string gtrid(xid.data, static_cast<size_t>(xid.gtrid_length));
          if (gtrid.compare(0, prefix.size(), prefix) != 0) {
            mark = "  NOT OURS: another transaction manager's; leave it to its own recovery";
            ++foreign;
          } else if (contents.committed.count(gtrid) != 0) {
            mark = "  ours: the log decided commit";
          } else {
            mark = "  ours: no decision in the log (presumed abort: roll back)";
          }
        }
        std::printf("  %s    (%s)%s\n", xidToHex(xid).c_str(), describeXid(xid).c_str(),
                    mark.c_str());
      }
      if (foreign > 0)
        std::printf(
            "%d branch%s not of the log %s (transaction manager %s): another transaction "
            "manager's, perhaps of another database on the same server\n",
            foreign, foreign == 1 ? " is" : "es are", options.logPath.c_str(),
            contents.tmId.c_str());
      if (!listed.empty()) {
        RecoverCall call;
        call.driver = argv[0];
        call.module = options.module;
        call.dtc = options.dtc;
        call.rmid = options.rmid;
        call.openGiven = options.openGiven;
        call.openFile = options.openFile;
        call.open = options.open;
        call.log = options.logPath;
        std::fputs(recoverHint(call, xidToHex(listed.front())).c_str(), stdout);
      }
    }
  } else {
    XID xid = options.xid;
    int result = XAER_INVAL;
    if (options.action == "commit") {
      result = target.sw->xa_commit_entry(&xid, options.rmid, TMNOFLAGS);
    } else if (options.action == "rollback") {
      result = target.sw->xa_rollback_entry(&xid, options.rmid, TMNOFLAGS);
    } else {
      result = target.sw->xa_forget_entry(&xid, options.rmid, TMNOFLAGS);
    }
    std::printf("xa_%s(xid=%s, rmid=%d) = %s (%d)\n", options.action.c_str(),
                xidToHex(options.xid).c_str(), options.rmid, resultName(result).c_str(), result);
    status = result == XA_OK ? 0 : 1;
  }
  char empty[1] = {'\0'};
  const int closed = target.sw->xa_close_entry(empty, options.rmid, TMNOFLAGS);
  std::printf("xa_close(rmid=%d) = %s\n", options.rmid, resultName(closed).c_str());
  return closed == XA_OK ? status : 1;
}

}  // namespace xadriver
}  // namespace zp
