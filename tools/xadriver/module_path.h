// Where the tools find the switch module when no --module names it: beside
// the program (a build folder), else where the packages install it, else by
// name through the library search.
#ifndef ZP_TOOLS_XADRIVER_MODULE_PATH_H
#define ZP_TOOLS_XADRIVER_MODULE_PATH_H

#include <string>

namespace zp {
namespace xadriver {

// The folder of the program's own file ("." when argv0 names none). A
// program started through PATH has no folder in argv[0]; on Linux the
// kernel's link to the program names it.
std::string programDir(const char* argv0);

// The module a tool drives by default: zpor8dtc23.dll on Windows (the
// ordinary DLL search starts beside the program); on Linux
// <program folder>/libzpor8dtc23.so, else <program folder>/../<libdir>/ with
// the soname (the installed layout: the packages' runtime package holds no
// unversioned link), else the soname alone, for the library search.
std::string defaultModule(const char* argv0);

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_MODULE_PATH_H
