// Where the driver's own files are: the folder of its program, and the
// module it drives when --module names none.
#ifndef ZP_TOOLS_XADRIVER_PROGRAM_FILES_H
#define ZP_TOOLS_XADRIVER_PROGRAM_FILES_H

#include <string>

namespace zp {
namespace xadriver {

// The folder of the driver's program file, as the system knows it (a driver
// started through PATH has no folder in argv0); else the folder argv0 names,
// else ".".
std::string programDir(const char* argv0);

// The module the driver takes when --module names none: on Windows
// zpor8dtc23.dll by name (the library search starts in the program's
// folder); elsewhere libzpor8dtc23.so beside the program (a build folder),
// else the soname in the installed library folder beside its bin (the
// runtime package holds no unversioned link), else the soname alone, for the
// library search.
std::string defaultModuleFile(const char* argv0);

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_PROGRAM_FILES_H
