// The bank: global transactions across two resource managers, each a real
// database behind the SQL client XA library — accounts in bank_a on
// PostgreSQL and in bank_b on MariaDB. Each transfer moves an amount from one
// database to the other in one global transaction with a two-phase commit
// whose decision goes to the transaction manager's log (tm_log.h) first; a
// new process recovers what a crash left in doubt, and verify checks the
// invariant. Native target only.
#ifndef ZP_TOOLS_XADRIVER_BANK_H
#define ZP_TOOLS_XADRIVER_BANK_H

#include <string>

namespace zp {
namespace xadriver {

struct BankOptions {
  std::string tm = "dtc";  // dtc (GetXaSwitch), mq (MQStart) or direct (the client's xaosw)
  std::string module;      // the switch module, for dtc and mq
  int transfers = 100;
  int threads = 1;  // transaction-manager threads, each with an rmid per database
  int rmid = 1;     // rmids rmid and rmid+1 are the main thread's, then a pair per thread
  std::string logPath = "xadriver-bank.log";
  // A crash point's name, or empty: after-first-prepare, after-prepare,
  // after-decision or after-first-commit, in the order a transfer passes them.
  std::string crashAt;
  int crashTransfer = 1;
  bool setup = false;  // start from fresh tables even when they exist
  // dtc only: every thread, the main one first, opens the same pair of
  // rmids (rmid and rmid+1), as a transaction manager with a connection per
  // thread does; each thread's calls must run on its own connection.
  bool openPerThread = false;
};

// The commands. Each prints what it does and returns the exit status: 0 when
// everything went as it should, 1 otherwise.
//   runBank: sets the tables up when missing (or when asked), prints the
//     totals, runs the transfers on options.threads threads, prints the
//     totals again and the transactions per second. With a crash point, ends
//     the process at once when transfer crashTransfer reaches it.
//   runBankRecover: opens one rmid per database, lists the branches in doubt
//     and commits those the log decided, rolls back the rest.
//   runBankVerify: the sum of all balances is the opening sum, no branch is
//     in doubt, and every transfer left its row in both databases or neither.
int runBank(const BankOptions& options);
int runBankRecover(const BankOptions& options);
int runBankVerify(const BankOptions& options);

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_BANK_H
