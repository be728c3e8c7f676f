// Names of XA result codes and flags, both ways, as the driver prints and
// reads them.
#ifndef ZP_TOOLS_XADRIVER_XA_NAMES_H
#define ZP_TOOLS_XADRIVER_XA_NAMES_H

#include <string>

namespace zp {
namespace xadriver {

// "XA_OK", "XAER_RMERR", ...; a value with no name prints as its number.
std::string resultName(int result);
// Reads a result name or a number that fits an int (decimal, or 0x hex).
// Returns false when it is neither.
bool parseResult(const std::string& text, int* result);

// "TMNOFLAGS", "TMSTARTRSCAN|TMENDRSCAN", bits without a name in hex.
std::string flagsName(long flags);
// Reads flag names and numbers from 0 to 0xffffffff (decimal or 0x hex)
// joined by '|'. Returns false on anything else.
bool parseFlags(const std::string& text, long* flags);

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_XA_NAMES_H
