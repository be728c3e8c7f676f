#include "tools/xadriver/dtc_registry.h"

#include <cstdio>
#include <filesystem>

#include "platform/platform.h"
#include "tools/xadriver/open_text.h"
#include "tools/xadriver/program_files.h"

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

// A reg command, for cmd.exe wherever the driver runs.
std::string regCommand(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) line += (line.empty() ? "" : " ") + cmdShellWord(word);
  return line;
}

// The registry view this process sees, for the messages.
std::string view() {
  return sizeof(void*) == 4 ? " (the 32-bit view: WOW6432Node on 64-bit Windows)" : "";
}

}  // namespace

std::string moduleFullPath(const std::string& moduleFile, const std::string& programDir) {
  std::error_code error;
  std::filesystem::path path(moduleFile);
  // A name without a folder is the file beside the driver first, as the
  // system's library search takes it, and only then one in the current
  // folder.
  const std::filesystem::path beside = std::filesystem::path(programDir) / moduleFile;
  const bool bare = !path.has_parent_path();
  if ((bare || !std::filesystem::is_regular_file(path, error)) &&
      std::filesystem::is_regular_file(beside, error)) {
    path = beside;
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
  // A DWORD as DTC writes it; a QWORD or a string "1" written by hand count
  // too.
  char enabled[32];
  if (platform::registryReadMachineSetting(kDtcSecurityKey, kXaTransactionsValue, enabled,
                                           sizeof enabled) == platform::RegistrySetting::kText &&
      std::string(enabled) == "1") {
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

namespace {

// xadriver [--module FILE] register-dtc|unregister-dtc [--dry-run].
int runDtcRegistration(int argc, char** argv, bool add) {
  const std::string command = add ? "register-dtc" : "unregister-dtc";
  std::string module;
  bool dryRun = false;
  bool seenCommand = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == command && !seenCommand) {
      seenCommand = true;
    } else if (arg == "--dry-run") {
      dryRun = true;
    } else if (arg == "--module" && i + 1 < argc) {
      module = argv[++i];
    } else {
      std::fprintf(stderr,
                   "xadriver: %s does not take '%s'\n"
                   "usage: xadriver [--module FILE] %s [--dry-run]\n",
                   command.c_str(), maskPassword(arg).c_str(), command.c_str());
      return 2;
    }
  }
  if (module.empty()) module = "zpor8dtc23.dll";
  const std::string full = moduleFullPath(module, programDir(argv[0]));
  const std::string name = fileName(full);
  std::error_code error;
  if (add && !std::filesystem::is_regular_file(full, error)) {
    // DTC would find nothing there: the value would only hide the mistake.
    std::fprintf(stderr,
                 "xadriver: register-dtc: the module %s does not exist; give --module the full "
                 "path of the installed zpor8dtc23.dll\n",
                 full.c_str());
    return 2;
  }
  const std::string key = "HKLM\\" + std::string(kXaDllKey);
  if (add) {
    std::printf(
        "%s\n",
        regCommand({"reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", full, "/f"}).c_str());
  } else {
    std::printf("%s\n", regCommand({"reg", "delete", key, "/v", name, "/f"}).c_str());
  }
  if (dryRun) {
    std::printf("-- not %s (--dry-run); the command above does it%s\n", add ? "written" : "deleted",
                view().c_str());
    return 0;
  }
  if (!kHasRegistry) {
    std::printf("-- not %s: Microsoft DTC and its registry exist on Windows only\n",
                add ? "written" : "deleted");
    return 1;
  }
  if (add ? !platform::registryWriteMachineString(kXaDllKey, name.c_str(), full.c_str())
          : !platform::registryDeleteMachineValue(kXaDllKey, name.c_str())) {
    std::printf("-- not %s: the registry refused (run as an administrator)\n",
                add ? "written" : "deleted");
    return 1;
  }
  if (add) {
    std::printf("-- written%s; DTC also needs XA transactions enabled (xadriver check --dtc)\n",
                view().c_str());
  } else {
    std::printf("-- deleted%s (or it was not there); restart the DTC service\n", view().c_str());
  }
  return 0;
}

}  // namespace

int runRegisterDtc(int argc, char** argv) { return runDtcRegistration(argc, argv, true); }

int runUnregisterDtc(int argc, char** argv) { return runDtcRegistration(argc, argv, false); }

}  // namespace xadriver
}  // namespace zp
