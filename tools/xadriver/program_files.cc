#include "tools/xadriver/program_files.h"

#include <filesystem>

#include "platform/platform.h"
#include "zp_version.h"

// The installed library folder relative to the installed bin folder's parent
// (lib/x86_64-linux-gnu on Debian); the build defines it.
#ifndef ZP_INSTALL_LIBDIR
#define ZP_INSTALL_LIBDIR "lib"
#endif

namespace zp {
namespace xadriver {

std::string programDir(const char* argv0) {
  std::string path;
#ifdef _WIN32
  // The platform layer's code is linked into the program: its file is the
  // program's.
  char self[4096];
  if (platform::moduleFilePath(self, sizeof self) > 0) path = self;
#else
  // The kernel's link names the program file also when it was started
  // through PATH (argv0 and dladdr then name no folder).
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) path = self.string();
#endif
  if (path.empty() && argv0 != nullptr) path = argv0;
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string defaultModuleFile(const char* argv0) {
#ifdef _WIN32
  (void)argv0;
  return "zpor8dtc23.dll";
#else
  const std::string soname = "libzpor8dtc23.so." + std::to_string(ZP_VERSION_MAJOR);
  const std::string dir = programDir(argv0);
  std::error_code error;
  for (const std::string& candidate :
       {dir + "/libzpor8dtc23.so", dir + "/../" ZP_INSTALL_LIBDIR "/" + soname}) {
    if (std::filesystem::exists(candidate, error))
      return std::filesystem::path(candidate).lexically_normal().string();
  }
  return soname;
#endif
}

}  // namespace xadriver
}  // namespace zp
