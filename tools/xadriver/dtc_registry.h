// Microsoft DTC's registry for XA: the XADLL value that lets DTC load the
// module, and the security setting that enables XA transactions. The driver
// checks both (check --dtc) and writes the first (register-dtc).
#ifndef ZP_TOOLS_XADRIVER_DTC_REGISTRY_H
#define ZP_TOOLS_XADRIVER_DTC_REGISTRY_H

#include <string>
#include <vector>

#include "tools/xadriver/advice.h"

namespace zp {
namespace xadriver {

// Under HKEY_LOCAL_MACHINE: one string value per XA DLL, named by its file
// name, holding its full path.
constexpr char kXaDllKey[] = "SOFTWARE\\Microsoft\\MSDTC\\XADLL";
// A DWORD that is 1 when XA transactions are enabled.
constexpr char kDtcSecurityKey[] = "SOFTWARE\\Microsoft\\MSDTC\\Security";
constexpr char kXaTransactionsValue[] = "XaTransactions";

// The full path of the module as DTC should be given it: moduleFile as it
// is when it names an existing file, else the file of that name beside the
// driver (programDir); made absolute.
std::string moduleFullPath(const std::string& moduleFile, const std::string& programDir);

// What DTC will find: the XADLL value for the module's file name, and the
// XA-transactions setting. On a system without a registry, one INFO line.
std::vector<Finding> checkDtcRegistration(const std::string& moduleFile,
                                          const std::string& programDir);

// xadriver [--module FILE] register-dtc [--dry-run]: writes (or, with
// --dry-run, only prints) the XADLL value for the module. Returns the exit
// status: 0 done, 1 refused (no registry, no rights), 2 wrong arguments or
// a module file that does not exist.
int runRegisterDtc(int argc, char** argv);
// xadriver [--module FILE] unregister-dtc [--dry-run]: deletes (prints the
// reg delete command for) the XADLL value of the module's file name; the
// file need not exist. The same exit statuses.
int runUnregisterDtc(int argc, char** argv);

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_DTC_REGISTRY_H
