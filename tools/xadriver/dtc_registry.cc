#include "tools/xadriver/dtc_registry.h"

#include <cstdio>
#include <filesystem>

#include "platform/platform.h"
#include "tools/xadriver/open_text.h"

namespace zp {
namespace xadriver {
namespace {

#ifdef _WIN32
constexpr bool kHasRegistry = true;
#else
constexpr bool kHasRegistry = false;
#endif

std::string fileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

std::string programDirOf(const char* argv0) {
  const std::string path = argv0 == nullptr ? "" : argv0;
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The registry view this process sees, for the messages.
std::string view() {
  return sizeof(void*) == 4 ? " (the 32-bit view: WOW6432Node on 64-bit Windows)" : "";
}

}  // namespace

std::string moduleFullPath(const std::string& moduleFile, const std::string& programDir) {
  std::error_code error;
  std::filesystem::path path(moduleFile);
  if (!std::filesystem::is_regular_file(path, error)) {
    const std::filesystem::path beside = std::filesystem::path(programDir) / moduleFile;
    if (std::filesystem::is_regular_file(beside, error)) path = beside;
  }
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  return (error ? path : full.lexically_normal()).string();
}

std::vector<Finding> checkDtcRegistration(const std::string& moduleFile,
                                          const std::string& programDir) {
  std::vector<Finding> findings;
  if (!kHasRegistry) {
    findings.push_back(
        {Verdict::kInfo, "--dtc: Microsoft DTC and its registry exist on Windows only"});
    return findings;
  }
  const std::string full = moduleFullPath(moduleFile, programDir);
  const std::string name = fileName(full);
  const std::string where = "HKLM\\" + std::string(kXaDllKey) + view();
  char value[1024];
  const size_t length =
      platform::registryReadMachineString(kXaDllKey, name.c_str(), value, sizeof value);
  std::error_code error;
  if (length == 0 || length >= sizeof value) {
    findings.push_back({Verdict::kFail, where + " has no value \"" + name +
                                            "\": DTC refuses to load the module; run xadriver "
                                            "register-dtc (as an administrator)"});
  } else if (sameIgnoringCase(std::filesystem::path(value).lexically_normal().string(), full)) {
    findings.push_back({Verdict::kOk, where + " names " + full});
  } else if (std::filesystem::is_regular_file(value, error)) {
    findings.push_back({Verdict::kWarn, where + " value \"" + name + "\" names " + value +
                                            ", not the module checked here (" + full + ")"});
  } else {
    findings.push_back({Verdict::kFail, where + " value \"" + name + "\" names " + value +
                                            ", which does not exist"});
  }
  uint32_t enabled = 0;
  if (platform::registryReadMachineNumber(kDtcSecurityKey, kXaTransactionsValue, &enabled) &&
      enabled == 1) {
    findings.push_back({Verdict::kOk, "XA transactions are enabled (HKLM\\" +
                                          std::string(kDtcSecurityKey) + "\\" +
                                          kXaTransactionsValue + " is 1)"});
  } else {
    findings.push_back(
        {Verdict::kFail, "XA transactions are not enabled (HKLM\\" + std::string(kDtcSecurityKey) +
                             "\\" + kXaTransactionsValue +
                             " is not 1): enable them under Component Services, Local DTC, "
                             "Security, then restart the DTC service"});
  }
  return findings;
}

int runRegisterDtc(int argc, char** argv) {
  std::string module;
  bool dryRun = false;
  bool seenCommand = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "register-dtc" && !seenCommand) {
      seenCommand = true;
    } else if (arg == "--dry-run") {
      dryRun = true;
    } else if (arg == "--module" && i + 1 < argc) {
      module = argv[++i];
    } else {
      std::fprintf(stderr,
                   "xadriver: register-dtc does not take '%s'\n"
                   "usage: xadriver [--module FILE] register-dtc [--dry-run]\n",
                   maskPassword(arg).c_str());
      return 2;
    }
  }
  if (module.empty()) module = "zpor8dtc23.dll";
  const std::string full = moduleFullPath(module, programDirOf(argv[0]));
  const std::string name = fileName(full);
  std::printf("reg add \"HKLM\\%s\" /v %s /t REG_SZ /d \"%s\" /f\n", kXaDllKey, name.c_str(),
              full.c_str());
  if (dryRun) {
    std::printf("-- not written (--dry-run); the command above writes it%s\n", view().c_str());
    return 0;
  }
  if (!kHasRegistry) {
    std::printf("-- not written: Microsoft DTC and its registry exist on Windows only\n");
    return 1;
  }
  if (!platform::registryWriteMachineString(kXaDllKey, name.c_str(), full.c_str())) {
    std::printf("-- not written: the registry refused (run as an administrator)\n");
    return 1;
  }
  std::printf("-- written%s; DTC also needs XA transactions enabled (xadriver check --dtc)\n",
              view().c_str());
  return 0;
}

}  // namespace xadriver
}  // namespace zp
