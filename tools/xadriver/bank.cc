// The bank commands: transfers as global transactions over two databases,
// recovery from the transaction manager's log, and the invariant check. The
// switch comes from the module (GetXaSwitch or MQStart) or, as a baseline,
// straight from the client XA library; SQL runs on the native connection
// the service-context accessor hands out.
#include "tools/xadriver/bank.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tools/xadriver/advice.h"
#include "tools/xadriver/bank_sql.h"
#include "tools/xadriver/session.h"
#include "tools/xadriver/tm_log.h"
#include "tools/xadriver/xa_names.h"
#include "xa/client_library.h"

namespace zp {
namespace xadriver {

namespace {

const char* const kBankCrashPoints[] = {"after-first-prepare", "after-prepare", "after-decision",
                                        "after-first-commit"};
const int kBankCrashPointCount = 4;

enum CrashPoint {
  kNoCrash = -1,
  kAfterFirstPrepare,
  kAfterPrepare,
  kAfterDecision,
  kAfterFirstCommit
};

constexpr long kBankFormatId = 0x5a42;  // "ZB": the bank's global transactions
// Every branch qualifier is 32 bytes, the width the DTC switch gives it, so
// that a branch prepared through one switch is found by its XID through the
// other.
constexpr long kBqualLength = 32;
constexpr int kAccounts = 100;  // per database
constexpr long long kOpeningBalance = 1000;
constexpr long kLockWaitSeconds = 10;
constexpr long kRecoverChunk = 32;
// A prepared branch whose session the server has not yet let go of (the
// session of a crashed process, or one the client library replaced) is held
// by it for a moment: phase two asks again, this often, this far apart.
constexpr int kRetryLimit = 250;
constexpr auto kRetryPause = std::chrono::milliseconds(20);

constexpr int kDatabases = 2;
const char* const kDatabaseName[kDatabases] = {"bank_a", "bank_b"};
const Dialect kDialect[kDatabases] = {Dialect::kPostgres, Dialect::kMariaDb};

bool isRollback(int result) { return result >= XA_RBBASE && result <= XA_RBEND; }

// The switch of the chosen transaction manager kind and its service-context
// accessor.
struct BankSwitch {
  std::string tm;
  std::string description;
  xa_switch_t* sw = nullptr;
  void* (*dtcSvcCtx)(int rmid, char* dbname) = nullptr;
  void* (*svcCtx)(char* dbname) = nullptr;
};

bool loadBankSwitch(const BankOptions& options, BankSwitch* out, std::string* error) {
  out->tm = options.tm;
  if (options.tm == "direct") {
    // The client XA library the module would take, without the module.
    for (const char* name : kClientCandidates) {
      platform::Library* library = platform::libraryLoad(name);
      if (library == nullptr) continue;
      out->sw = static_cast<xa_switch_t*>(platform::librarySymbol(library, "xaosw"));
      out->svcCtx =
          reinterpret_cast<void* (*)(char*)>(platform::librarySymbol(library, "xaoSvcCtx"));
      if (out->sw == nullptr || out->svcCtx == nullptr) {
        *error = std::string("the client XA library ") + name + " lacks xaosw or xaoSvcCtx";
        return false;
      }
      out->description = std::string("the client's own xaosw from ") + name + " (no module)";
      return true;
    }
    *error = "no client XA library loads (point the library search at the SQL client library)";
    return false;
  }
  Target target;
  if (!loadTarget(options.module, options.tm == "dtc", &target, error)) return false;
  out->sw = target.sw;
  out->dtcSvcCtx = target.dtcSvcCtx;
  out->svcCtx = target.mqSvcCtx;
  if (out->dtcSvcCtx == nullptr && out->svcCtx == nullptr) {
    *error = "the module " + options.module + " does not export its service-context accessor";
    return false;
  }
  out->description = options.module + (options.tm == "dtc" ? " through GetXaSwitch (Microsoft DTC)"
                                                           : " through MQStart (IBM WebSphere MQ)");
  return true;
}

// One database's resource manager as opened by the calling thread.
struct Rm {
  int database = 0;  // index into kDatabaseName
  int rmid = 0;
  bool open = false;
  void* handle = nullptr;  // the service context the connection came from
  SqlConnection sql;

  std::string label() const {
    return std::string(kDatabaseName[database]) + " (rmid " + std::to_string(rmid) + ")";
  }
};

std::string dbNameOf(int database, int rmid) {
  return std::string(kDatabaseName[database]) + "_rm" + std::to_string(rmid);
}

// Opens the database's rmid on the calling thread and takes its connection.
bool openRm(const BankSwitch& target, int database, int rmid, Rm* rm, std::string* error) {
  rm->database = database;
  rm->rmid = rmid;
  std::string info = std::string("ORACLE_XA+SqlNet=") + kDatabaseName[database] +
                     "+DB=" + dbNameOf(database, rmid) +
                     "+SesTm=" + std::to_string(kLockWaitSeconds);
  const int result = target.sw->xa_open_entry(&info[0], rmid, TMNOFLAGS);
  if (result != XA_OK) {
    *error = "xa_open(\"" + info + "\", rmid=" + std::to_string(rmid) + ") = " + resultName(result);
    return false;
  }
  rm->open = true;
  std::string db = dbNameOf(database, rmid);
  void* handle =
      target.dtcSvcCtx != nullptr ? target.dtcSvcCtx(rmid, &db[0]) : target.svcCtx(&db[0]);
  if (handle == nullptr) {
    *error = rm->label() + ": the service context of \"" + db + "\" is null";
    return false;
  }
  rm->handle = handle;
  rm->sql = SqlConnection(kDialect[database], handle);
  return true;
}

// False when the close did not answer XA_OK (and says so).
bool closeRm(const BankSwitch& target, Rm* rm) {
  if (!rm->open) return true;
  char empty[] = "";
  const int result = target.sw->xa_close_entry(empty, rm->rmid, TMNOFLAGS);
  if (result != XA_OK)
    std::fprintf(stderr, "xabank: xa_close of %s = %s\n", rm->label().c_str(),
                 resultName(result).c_str());
  rm->open = false;
  return result == XA_OK;
}

// Both databases opened on the calling thread; closed when it goes.
struct RmPair {
  const BankSwitch& target;
  Rm rm[kDatabases];
  explicit RmPair(const BankSwitch& t) : target(t) {}
  ~RmPair() { close(); }
  // The number of closes that failed.
  int close() {
    int failed = 0;
    for (Rm& one : rm) failed += closeRm(target, &one) ? 0 : 1;
    return failed;
  }
  bool open(int firstRmid, std::string* error) {
    for (int i = 0; i < kDatabases; ++i)
      if (!openRm(target, i, firstRmid + i, &rm[i], error)) return false;
    return true;
  }
};

// ---------------------------------------------------------------------------
// Tables and what they hold.

bool tablesExist(SqlConnection& sql, bool* exist, std::string* error) {
  const std::string schema =
      sql.dialect() == Dialect::kPostgres ? "current_schema()" : "DATABASE()";
  long long count = 0;
  if (!sql.queryNumber("SELECT count(*) FROM information_schema.tables WHERE table_schema = " +
                           schema + " AND table_name IN ('accounts', 'transfers')",
                       &count, error))
    return false;
  *exist = count == 2;
  return true;
}

// The branches of this database left in doubt: all prepared transactions of
// the PostgreSQL database; on MariaDB, whose XA RECOVER lists the whole
// server's, those of the transaction manager whose global transaction ids
// start with gtridPrefix.
bool inDoubtCount(SqlConnection& sql, const std::string& gtridPrefix, long long* count,
                  std::string* error) {
  if (sql.dialect() == Dialect::kPostgres)
    return sql.queryNumber(
        "SELECT count(*) FROM pg_prepared_xacts WHERE database = current_database()", count, error);
  std::vector<SqlRow> rows;
  if (!sql.query("XA RECOVER", &rows, error)) return false;
  *count = 0;
  for (const SqlRow& row : rows)
    if (row.size() >= 4 && row[0] == std::to_string(kBankFormatId) &&
        row[3].compare(0, gtridPrefix.size(), gtridPrefix) == 0)
      ++*count;
  return true;
}

bool createTables(SqlConnection& sql, std::string* error) {
  const bool my = sql.dialect() == Dialect::kMariaDb;
  const std::string engine = my ? " ENGINE=InnoDB" : "";
  std::string rows;
  for (int id = 1; id <= kAccounts; ++id)
    rows += (id > 1 ? "," : "") + std::string("(") + std::to_string(id) + "," +
            std::to_string(kOpeningBalance) + ")";
  const std::vector<std::string> statements = {
      "DROP TABLE IF EXISTS transfers", "DROP TABLE IF EXISTS accounts",
      "CREATE TABLE accounts (id INT PRIMARY KEY, balance BIGINT NOT NULL)" + engine,
      "INSERT INTO accounts (id, balance) VALUES " + rows,
      // One row per transfer: its global transaction id and this side's change.
      "CREATE TABLE transfers (gtrid VARCHAR(64) PRIMARY KEY, account INT NOT NULL, "
      "delta BIGINT NOT NULL)" +
          engine};
  for (const std::string& statement : statements)
    if (!sql.execute(statement, error)) return false;
  return true;
}

struct Totals {
  long long balance[kDatabases] = {0, 0};
  long long sum() const { return balance[0] + balance[1]; }
};

bool readTotals(Rm* rms, Totals* totals, std::string* error) {
  for (int i = 0; i < kDatabases; ++i) {
    if (!rms[i].sql.queryNumber("SELECT COALESCE(SUM(balance), 0) FROM accounts",
                                &totals->balance[i], error)) {
      *error = rms[i].label() + ": " + *error;
      return false;
    }
  }
  return true;
}

void printTotals(const char* when, const Totals& totals) {
  std::printf("totals %-7s bank_a %lld + bank_b %lld = %lld\n", when, totals.balance[0],
              totals.balance[1], totals.sum());
}

// ---------------------------------------------------------------------------
// Transfers.

// The start of this run's global transaction ids: the log's prefix (its
// transaction manager's identity), then the time and the process.
std::string runId(const TmLog& log) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const unsigned long long micros = static_cast<unsigned long long>(
      std::chrono::duration_cast<std::chrono::microseconds>(now).count());
  char text[48];
  std::snprintf(text, sizeof text, "%llx-%x", micros,
                static_cast<unsigned>(platform::currentProcessId()));
  return TmLog::gtridPrefix(log.tmId()) + text;
}

// Whether xid is a branch of the transaction manager with identity tmId.
bool isOurs(const XID& xid, const std::string& tmId) {
  const std::string prefix = TmLog::gtridPrefix(tmId);
  return xid.formatID == kBankFormatId && xid.gtrid_length >= static_cast<long>(prefix.size()) &&
         std::memcmp(xid.data, prefix.data(), prefix.size()) == 0;
}

XID bankXid(const std::string& gtrid, int database) {
  XID xid;
  std::memset(&xid, 0, sizeof(xid));
  xid.formatID = kBankFormatId;
  xid.gtrid_length = static_cast<long>(gtrid.size());
  xid.bqual_length = kBqualLength;
  std::memcpy(xid.data, gtrid.data(), gtrid.size());
  const char* bqual = kDatabaseName[database];
  std::memcpy(xid.data + gtrid.size(), bqual, std::strlen(bqual));
  return xid;
}

std::string gtridOf(const XID& xid) {
  return std::string(xid.data, static_cast<size_t>(xid.gtrid_length));
}

// The branches rmid's resource manager lists in doubt, by a full recovery
// scan in chunks. Returns XA_OK or the failing xa_recover's result.
int scanInDoubt(const BankSwitch& target, int rmid, std::vector<XID>* found) {
  std::vector<XID> chunk(static_cast<size_t>(kRecoverChunk));
  long flags = TMSTARTRSCAN;
  int result = XA_OK;
  for (;;) {
    const int count = target.sw->xa_recover_entry(chunk.data(), kRecoverChunk, rmid, flags);
    if (count < 0) {
      result = count;
      break;
    }
    found->insert(found->end(), chunk.begin(), chunk.begin() + count);
    flags = TMNOFLAGS;
    if (count < kRecoverChunk) break;
  }
  target.sw->xa_recover_entry(chunk.data(), 0, rmid, TMENDRSCAN);
  return result;
}

bool sameXid(const XID& a, const XID& b) {
  return a.formatID == b.formatID && a.gtrid_length == b.gtrid_length &&
         a.bqual_length == b.bqual_length &&
         std::memcmp(a.data, b.data, static_cast<size_t>(a.gtrid_length + a.bqual_length)) == 0;
}

bool listedInDoubt(const BankSwitch& target, int rmid, const XID& xid) {
  std::vector<XID> found;
  if (scanInDoubt(target, rmid, &found) != XA_OK) return false;
  for (const XID& one : found)
    if (sameXid(one, xid)) return true;
  return false;
}

// Completes a prepared branch, asking again while the resource manager
// answers XA_RETRY, or XAER_NOTA or XAER_RMFAIL for a branch its recovery
// scan still lists (a rollback of a branch another session still holds
// cannot answer XA_RETRY).
// complete makes one attempt; *attempts counts them.
template <typename Complete>
int completeInDoubt(const BankSwitch& target, int rmid, const XID& xid, Complete complete,
                    int* attempts) {
  int result = XAER_RMERR;
  for (*attempts = 1;; ++*attempts) {
    result = complete();
    const bool again = result == XA_RETRY || ((result == XAER_NOTA || result == XAER_RMFAIL) &&
                                              listedInDoubt(target, rmid, xid));
    if (!again || *attempts >= kRetryLimit) return result;
    std::this_thread::sleep_for(kRetryPause);
  }
}

struct Tally {
  int committed = 0;
  int askedAgain = 0;  // commits answered only at a later attempt
  int rolledBack = 0;  // rolled back after a failure the transfer survived
  int unresolved = 0;  // decided, but phase two did not finish: for recovery
  int failures = 0;    // results no transfer should see
  std::string messages;
};

// What every transfer thread shares.
struct BankRun {
  const BankOptions* options = nullptr;
  const BankSwitch* target = nullptr;
  TmLog* log = nullptr;
  std::string runId;
  int crashPoint = kNoCrash;
};

enum class Call { kStart, kEnd, kPrepare, kCommit, kRollback };

class Transfer {
 public:
  Transfer(const BankRun& run, Rm* rms, int number, Tally* tally)
      : run_(run), rms_(rms), number_(number), tally_(tally) {
    gtrid_ = run.runId + "-" + std::to_string(number);
    shown_ = run.crashPoint != kNoCrash && number == run.options->crashTransfer;
    const long long amount = 1 + (number * 7919LL) % 50;
    // Odd transfers move money from bank_a to bank_b, even ones back.
    delta_[0] = number % 2 != 0 ? -amount : amount;
    delta_[1] = -delta_[0];
    account_[0] = 1 + (number * 31) % kAccounts;
    account_[1] = 1 + (number * 17) % kAccounts;
  }

  void run() {
    int started = 0;
    bool good = true;
    for (; started < kDatabases; ++started) {
      if (!expect(Call::kStart, started, TMNOFLAGS)) {
        good = false;
        break;
      }
    }
    for (int i = 0; good && i < started; ++i) good = work(i);
    for (int i = 0; i < started; ++i) {
      const int result = call(Call::kEnd, i, good ? TMSUCCESS : TMFAIL);
      if (result != XA_OK) {
        gone_[i] = isRollback(result);
        if (good) note(Call::kEnd, i, result);
        good = false;
      }
    }
    if (!good) return rollBack(started);
    for (int i = 0; i < kDatabases; ++i) {
      const int result = call(Call::kPrepare, i, TMNOFLAGS);
      if (result == XA_RDONLY) {
        gone_[i] = true;  // a branch that changed nothing is complete already
      } else if (result != XA_OK) {
        // After XA_RB* the branch is gone; after an error it may be prepared
        // or not, and a rollback is asked for either way.
        gone_[i] = isRollback(result);
        note(Call::kPrepare, i, result);
        return rollBack(kDatabases);
      }
      if (i == 0) crashAt(kAfterFirstPrepare);
    }
    crashAt(kAfterPrepare);
    std::string error;
    const TmLog::Outcome decided = run_.log->decideCommit(gtrid_, &error);
    if (decided != TmLog::Outcome::kWritten) {
      ++tally_->failures;
      tally_->messages += "transfer " + std::to_string(number_) + ": " + error + "\n";
      // A decision that may yet reach the disk leaves both branches prepared
      // for recovery, which reads what the log holds.
      if (decided == TmLog::Outcome::kUnknown) {
        ++tally_->unresolved;
        return;
      }
      return rollBack(kDatabases);
    }
    crashAt(kAfterDecision);
    bool finished = true;
    for (int i = 0; i < kDatabases; ++i) {
      // Once decided, a transfer commits: what fails here recovery finishes.
      if (!gone_[i] && !commitDecided(i)) finished = false;
      if (i == 0) crashAt(kAfterFirstCommit);
    }
    if (!finished) {
      ++tally_->unresolved;
      return;
    }
    ++tally_->committed;
    run_.log->noteDone(gtrid_, &error);
  }

 private:
  int call(Call what, int i, long flags) {
    XID xid = bankXid(gtrid_, i);  // the DTC switch writes to the XID it is given
    xa_switch_t* sw = run_.target->sw;
    const int rmid = rms_[i].rmid;
    int result = XAER_RMERR;
    switch (what) {
      case Call::kStart:
        result = sw->xa_start_entry(&xid, rmid, flags);
        break;
      case Call::kEnd:
        result = sw->xa_end_entry(&xid, rmid, flags);
        break;
      case Call::kPrepare:
        result = sw->xa_prepare_entry(&xid, rmid, flags);
        break;
      case Call::kCommit:
        result = sw->xa_commit_entry(&xid, rmid, flags);
        break;
      case Call::kRollback:
        result = sw->xa_rollback_entry(&xid, rmid, flags);
        break;
    }
    if (shown_) {
      std::printf("   transfer %d: %s(xid=%s, rmid=%d, flags=%s) = %s\n", number_, name(what),
                  describeXid(xid).c_str(), rmid, flagsName(flags).c_str(),
                  resultName(result).c_str());
      std::fflush(stdout);
    }
    return result;
  }

  static const char* name(Call what) {
    switch (what) {
      case Call::kStart:
        return "xa_start";
      case Call::kEnd:
        return "xa_end";
      case Call::kPrepare:
        return "xa_prepare";
      case Call::kCommit:
        return "xa_commit";
      case Call::kRollback:
        return "xa_rollback";
    }
    return "xa_?";
  }

  bool commitDecided(int i) {
    int attempts = 0;
    const int result = completeInDoubt(
        *run_.target, rms_[i].rmid, bankXid(gtrid_, i),
        [this, i] { return call(Call::kCommit, i, TMNOFLAGS); }, &attempts);
    if (attempts > 1 && result == XA_OK) ++tally_->askedAgain;
    if (result == XA_OK) return true;
    note(Call::kCommit, i, result);
    return false;
  }

  bool expect(Call what, int i, long flags) {
    const int result = call(what, i, flags);
    if (result == XA_OK) return true;
    note(what, i, result);
    return false;
  }

  // A failed call: a rollback the resource manager chose (a lock wait that
  // ran out under contention) is part of the game; anything else is a fault.
  void note(Call what, int i, int result) {
    if (!isRollback(result)) ++tally_->failures;
    tally_->messages += "transfer " + std::to_string(number_) + ": " + name(what) + " on " +
                        rms_[i].label() + " = " + resultName(result) + "\n";
  }

  bool work(int i) {
    Rm& rm = rms_[i];
    const std::string account = std::to_string(account_[i]);
    const std::string delta = std::to_string(delta_[i]);
    const std::string statements[] = {
        "UPDATE accounts SET balance = balance + (" + delta + ") WHERE id = " + account,
        "INSERT INTO transfers (gtrid, account, delta) VALUES ('" + gtrid_ + "', " + account +
            ", " + delta + ")"};
    for (const std::string& statement : statements) {
      std::string error;
      if (!rm.sql.execute(statement, &error)) {
        tally_->messages +=
            "transfer " + std::to_string(number_) + ": " + rm.label() + ": " + error + "\n";
        return false;
      }
    }
    if (shown_)
      std::printf("   transfer %d: %+lld on %s account %s\n", number_, delta_[i], kDatabaseName[i],
                  account.c_str());
    return true;
  }

  // Rolls back every started branch the resource manager has not already.
  void rollBack(int started) {
    for (int i = 0; i < started; ++i) {
      if (gone_[i]) continue;
      const int result = call(Call::kRollback, i, TMNOFLAGS);
      if (result != XA_OK && !isRollback(result)) note(Call::kRollback, i, result);
    }
    ++tally_->rolledBack;
  }

  void crashAt(int point) {
    if (!shown_ || run_.crashPoint != point) return;
    std::printf("-- crash %s of transfer %d: the process ends here (no phase two, no close)\n",
                kBankCrashPoints[point], number_);
    std::fflush(stdout);
    std::_Exit(kExitSimulatedCrash);
  }

  const BankRun& run_;
  Rm* rms_;
  int number_;
  Tally* tally_;
  std::string gtrid_;
  bool shown_ = false;
  bool gone_[kDatabases] = {false, false};
  long long delta_[kDatabases];
  int account_[kDatabases];
};

// One transaction-manager thread: its own rmids, opened on it; transfers
// index+1, index+1+threads, ...
struct BankThread {
  const BankRun* run = nullptr;
  int index = 0;
  Tally tally;
  std::string error;
  platform::Semaphore* ready = nullptr;
  platform::Semaphore* go = nullptr;
  platform::Semaphore* done = nullptr;
  void* connection[kDatabases] = {};  // service contexts its rmids gave it
  int closeFailures = 0;
};

uint32_t bankThreadMain(void* raw) {
  BankThread* thread = static_cast<BankThread*>(raw);
  const BankRun& run = *thread->run;
  {
    RmPair pair(*run.target);
    const int rmid = run.options->openPerThread ? run.options->rmid
                                                : run.options->rmid + 2 * (thread->index + 1);
    const bool opened = pair.open(rmid, &thread->error);
    for (int i = 0; i < kDatabases; ++i) thread->connection[i] = pair.rm[i].handle;
    platform::semaphoreRelease(thread->ready);
    platform::semaphoreWait(thread->go);
    if (opened) {
      for (int number = thread->index + 1; number <= run.options->transfers;
           number += run.options->threads)
        Transfer(run, pair.rm, number, &thread->tally).run();
    }
    thread->closeFailures = pair.close();
  }
  platform::semaphoreRelease(thread->done);
  return 0;
}

// With --open-per-thread: every thread and the main one had a connection of
// its own to each database, and every close answered XA_OK. False, with a
// DEVIATION line, otherwise.
bool ownConnectionsShown(const std::vector<BankThread>& threads, const RmPair& control, int rmid) {
  bool good = true;
  for (int database = 0; database < kDatabases; ++database) {
    std::set<void*> connections = {control.rm[database].handle};
    for (const BankThread& thread : threads) connections.insert(thread.connection[database]);
    if (connections.size() != threads.size() + 1) {
      std::printf(
          "bank: DEVIATION: %zu thread(s) and the main one shared %zu connection(s) to %s\n",
          threads.size(), connections.size(), kDatabaseName[database]);
      good = false;
    }
  }
  int closeFailures = 0;
  for (const BankThread& thread : threads) closeFailures += thread.closeFailures;
  if (closeFailures != 0) {
    std::printf("bank: DEVIATION: %d xa_close call(s) failed\n", closeFailures);
    good = false;
  }
  if (good)
    std::printf(
        "bank: rmids %d and %d opened on each of %zu thread(s) and the main one: each "
        "on a connection of its own, every open closed\n",
        rmid, rmid + 1, threads.size());
  return good;
}

int crashPointIndex(const std::string& name) {
  for (int i = 0; i < kBankCrashPointCount; ++i)
    if (name == kBankCrashPoints[i]) return i;
  return kNoCrash;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "xabank: %s\n", message.c_str());
  return 1;
}

// A log that cannot be trusted: the command refuses before it touches a
// database.
constexpr int kExitRefused = 2;
int refuse(const std::string& message) {
  std::fprintf(stderr, "xabank: %s\n", message.c_str());
  return kExitRefused;
}

}  // namespace

int runBank(const BankOptions& options) {
  BankSwitch target;
  std::string error;
  if (!loadBankSwitch(options, &target, &error)) return fail(error);
  std::printf("-- bank through %s: %d transfer(s) on %d thread(s), log %s\n",
              target.description.c_str(), options.transfers, options.threads,
              options.logPath.c_str());
  std::fflush(stdout);
  TmLog log;
  if (!log.open(options.logPath, &error)) return refuse(error);

  RmPair control(target);
  if (!control.open(options.rmid, &error)) return fail(error);
  for (Rm& rm : control.rm) {
    bool exist = false;
    long long inDoubt = 0;
    if (!tablesExist(rm.sql, &exist, &error) ||
        !inDoubtCount(rm.sql, TmLog::gtridPrefix(log.tmId()), &inDoubt, &error))
      return fail(rm.label() + ": " + error);
    if (!options.setup && exist) continue;
    if (inDoubt > 0)
      return fail(rm.label() + ": " + std::to_string(inDoubt) +
                  " branch(es) in doubt; run bank-recover before a set-up");
    if (!createTables(rm.sql, &error)) return fail(rm.label() + ": set-up: " + error);
    std::printf("set up %s: %d accounts of %lld, no transfers\n", kDatabaseName[rm.database],
                kAccounts, kOpeningBalance);
  }
  Totals before;
  if (!readTotals(control.rm, &before, &error)) return fail(error);
  printTotals("before:", before);
  std::fflush(stdout);

  BankRun run;
  run.options = &options;
  run.target = &target;
  run.log = &log;
  run.runId = runId(log);
  run.crashPoint = crashPointIndex(options.crashAt);
  std::vector<BankThread> threads(static_cast<size_t>(options.threads));
  for (size_t i = 0; i < threads.size(); ++i) {
    BankThread& thread = threads[i];
    thread.run = &run;
    thread.index = static_cast<int>(i);
    thread.ready = platform::semaphoreCreate();
    thread.go = platform::semaphoreCreate();
    thread.done = platform::semaphoreCreate();
    uint32_t id = 0;
    if (thread.ready == nullptr || thread.go == nullptr || thread.done == nullptr ||
        !platform::threadStartDetached(bankThreadMain, &thread, &id)) {
      // Threads already started wait for a start that never comes.
      fail("cannot start a thread");
      std::fflush(stdout);
      std::_Exit(1);
    }
  }
  // Every thread has opened its rmids before the clock starts.
  for (BankThread& thread : threads) platform::semaphoreWait(thread.ready);
  const auto started = std::chrono::steady_clock::now();
  for (BankThread& thread : threads) platform::semaphoreRelease(thread.go);
  Tally tally;
  bool opened = true;
  for (BankThread& thread : threads) {
    platform::semaphoreWait(thread.done);
    for (platform::Semaphore* s : {thread.ready, thread.go, thread.done})
      platform::semaphoreClose(s);
    if (!thread.error.empty()) {
      std::fprintf(stderr, "xabank: thread %d: %s\n", thread.index + 1, thread.error.c_str());
      opened = false;
    }
    tally.committed += thread.tally.committed;
    tally.askedAgain += thread.tally.askedAgain;
    tally.rolledBack += thread.tally.rolledBack;
    tally.unresolved += thread.tally.unresolved;
    tally.failures += thread.tally.failures;
    tally.messages += thread.tally.messages;
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;

  std::fputs(tally.messages.c_str(), stdout);
  Totals after;
  if (!readTotals(control.rm, &after, &error)) return fail(error);
  printTotals("after:", after);
  const double seconds = took.count();
  std::printf(
      "bank: %d transfer(s) in %.3f s: %d committed, %d rolled back, %d left for recovery; "
      "%.1f transactions/s\n",
      options.transfers, seconds, tally.committed, tally.rolledBack, tally.unresolved,
      seconds > 0 ? tally.committed / seconds : 0.0);
  if (tally.askedAgain > 0)
    std::printf(
        "bank: %d commit(s) answered XA_RETRY or XAER_NOTA (for a branch still in doubt) at "
        "first and succeeded when asked again\n",
        tally.askedAgain);
  bool good = opened && tally.failures == 0 && tally.unresolved == 0;
  if (options.openPerThread && !ownConnectionsShown(threads, control, options.rmid)) good = false;
  if (after.sum() != before.sum()) {
    std::printf("bank: DEVIATION: the totals changed by %lld\n", after.sum() - before.sum());
    good = false;
  }
  if (run.crashPoint != kNoCrash) {
    std::printf("bank: DEVIATION: transfer %d never reached the crash point %s\n",
                options.crashTransfer, options.crashAt.c_str());
    good = false;
  }
  return good ? 0 : 1;
}

int runBankRecover(const BankOptions& options) {
  BankSwitch target;
  std::string error;
  if (!loadBankSwitch(options, &target, &error)) return fail(error);
  // The log stays locked until recovery ends: no bank decides meanwhile.
  TmLog log;
  TmLogContents contents;
  if (!log.openForRecovery(options.logPath, &contents, &error)) return refuse(error);
  const std::set<std::string>& committed = contents.committed;
  std::printf(
      "-- bank-recover through %s: the log %s (transaction manager %s) holds %zu commit "
      "decision(s)\n",
      target.description.c_str(), options.logPath.c_str(), contents.tmId.c_str(), committed.size());
  std::fflush(stdout);
  RmPair pair(target);
  if (!pair.open(options.rmid, &error)) return fail(error);

  int found = 0, toCommit = 0, toRollBack = 0, failed = 0, foreign = 0;
  for (Rm& rm : pair.rm) {
    std::vector<XID> inDoubt;
    const int scanned = scanInDoubt(target, rm.rmid, &inDoubt);
    if (scanned != XA_OK) {
      std::printf("%s: xa_recover = %s\n", rm.label().c_str(), resultName(scanned).c_str());
      ++failed;
    }
    std::printf("%s: %zu branch(es) in doubt\n", rm.label().c_str(), inDoubt.size());
    for (XID xid : inDoubt) {
      // Presumed abort holds only for this log's own branches: another
      // transaction manager's (MariaDB lists the whole server's) may be
      // decided in a log this process cannot see.
      if (!isOurs(xid, contents.tmId)) {
        std::printf("   %s: not ours: left alone\n", describeXid(xid).c_str());
        ++foreign;
        continue;
      }
      ++found;
      const bool commit = committed.count(gtridOf(xid)) != 0;
      const std::string shown = describeXid(xid);
      int attempts = 0;
      const int result = completeInDoubt(
          target, rm.rmid, xid,
          [&] {
            XID copy = xid;  // the DTC switch writes to the XID it is given
            return commit ? target.sw->xa_commit_entry(&copy, rm.rmid, TMNOFLAGS)
                          : target.sw->xa_rollback_entry(&copy, rm.rmid, TMNOFLAGS);
          },
          &attempts);
      const bool ok = result == XA_OK;
      std::printf("   %s: %s -> %s = %s%s\n", shown.c_str(),
                  commit ? "the log decided commit" : "no decision in the log (presumed abort)",
                  commit ? "xa_commit" : "xa_rollback", resultName(result).c_str(),
                  ok ? "" : "  FAILED");
      if (!ok)
        ++failed;
      else if (commit)
        ++toCommit;
      else
        ++toRollBack;
    }
  }
  std::printf("bank-recover: %d branch(es) in doubt: %d committed, %d rolled back, %d failed",
              found, toCommit, toRollBack, failed);
  if (foreign > 0) std::printf("; %d not ours: left alone", foreign);
  std::printf("\n");
  return failed == 0 ? 0 : 1;
}

int runBankVerify(const BankOptions& options) {
  BankSwitch target;
  std::string error;
  if (!loadBankSwitch(options, &target, &error)) return fail(error);
  TmLog log;
  TmLogContents contents;
  if (!log.openForRecovery(options.logPath, &contents, &error)) return refuse(error);
  const std::string ours = TmLog::gtridPrefix(contents.tmId);
  RmPair pair(target);
  if (!pair.open(options.rmid, &error)) return fail(error);
  bool good = true;
  auto verdict = [&good](bool ok) {
    good = good && ok;
    return ok ? "OK" : "DEVIATION";
  };

  Totals totals;
  if (!readTotals(pair.rm, &totals, &error)) return fail(error);
  const long long opening = kDatabases * kAccounts * kOpeningBalance;
  std::printf("verify: balances bank_a %lld + bank_b %lld = %lld, opening sum %lld  %s\n",
              totals.balance[0], totals.balance[1], totals.sum(), opening,
              verdict(totals.sum() == opening));

  long long inDoubt[kDatabases] = {0, 0};
  std::map<std::string, long long> deltas[kDatabases];
  long long deltaSum[kDatabases] = {0, 0};
  for (int i = 0; i < kDatabases; ++i) {
    SqlConnection& sql = pair.rm[i].sql;
    std::vector<SqlRow> rows;
    if (!inDoubtCount(sql, ours, &inDoubt[i], &error) ||
        !sql.query("SELECT gtrid, delta FROM transfers", &rows, &error))
      return fail(pair.rm[i].label() + ": " + error);
    for (const SqlRow& row : rows) {
      const long long delta = std::atoll(row[1].c_str());
      deltas[i][row[0]] = delta;
      deltaSum[i] += delta;
    }
  }
  std::printf(
      "verify: branches in doubt: bank_a %lld (pg_prepared_xacts), bank_b %lld (XA RECOVER)  %s\n",
      inDoubt[0], inDoubt[1], verdict(inDoubt[0] == 0 && inDoubt[1] == 0));

  size_t both = 0, unmatched = 0;
  std::string examples;
  for (int i = 0; i < kDatabases; ++i) {
    for (const auto& entry : deltas[i]) {
      const auto other = deltas[1 - i].find(entry.first);
      if (other == deltas[1 - i].end() || other->second != -entry.second) {
        ++unmatched;
        if (unmatched <= 5)
          examples += "   " + entry.first + ": in " + kDatabaseName[i] +
                      (other == deltas[1 - i].end() ? " only\n" : " with a different amount\n");
      } else if (i == 0) {
        ++both;
      }
    }
  }
  std::printf("verify: transfers: %zu in both databases, %zu in one only or unequal  %s\n", both,
              unmatched, verdict(unmatched == 0));
  std::fputs(examples.c_str(), stdout);
  for (int i = 0; i < kDatabases; ++i) {
    const long long change = totals.balance[i] - kAccounts * kOpeningBalance;
    std::printf("verify: %s: balances changed by %lld, its transfers by %lld  %s\n",
                kDatabaseName[i], change, deltaSum[i], verdict(change == deltaSum[i]));
  }
  std::printf("verify: %s\n", good ? "the invariant holds" : "the invariant does NOT hold");
  return good ? 0 : 1;
}

}  // namespace xadriver
}  // namespace zp
