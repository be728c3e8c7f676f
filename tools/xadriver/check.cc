#include "tools/xadriver/check.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "module/diag_log.h"
#include "platform/platform.h"
#include "tools/xadriver/advice.h"
#include "tools/xadriver/dtc_registry.h"
#include "tools/xadriver/open_text.h"
#include "xa/client_library.h"
#include "xa/open_string.h"
#include "zpor8dtc23/xa.h"

namespace zp {
namespace xadriver {
namespace {

// Windows has a machine registry, and its library search starts in the
// folder of the process's program.
#ifdef _WIN32
constexpr bool kHasMachineRegistry = true;
constexpr bool kSearchesProgramFolder = true;
#else
constexpr bool kHasMachineRegistry = false;
constexpr bool kSearchesProgramFolder = false;
#endif

class Findings {
 public:
  void ok(const std::string& text) { line("OK  ", text); }
  void info(const std::string& text) { line("INFO", text); }
  void add(const Finding& finding) {
    switch (finding.verdict) {
      case Verdict::kOk:
        return ok(finding.text);
      case Verdict::kInfo:
        return info(finding.text);
      case Verdict::kWarn:
        return warn(finding.text);
      case Verdict::kFail:
        return fail(finding.text);
    }
  }
  void warn(const std::string& text) { line("WARN", text); }
  void fail(const std::string& text) {
    line("FAIL", text);
    ++failures_;
  }
  int failures() const { return failures_; }

 private:
  void line(const char* verdict, const std::string& text) {
    std::printf("%s %s\n", verdict, text.c_str());
    std::fflush(stdout);
  }
  int failures_ = 0;
};

// The word size of a shared library file from its header: 32 or 64, or 0
// when the file cannot be read or is neither ELF nor PE.
int fileWordSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char head[64] = {0};
  if (!in.read(reinterpret_cast<char*>(head), sizeof(head))) return 0;
  if (head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F')
    return head[4] == 2 ? 64 : 32;
  if (head[0] != 'M' || head[1] != 'Z') return 0;
  const uint32_t peOffset =
      head[0x3c] | head[0x3d] << 8 | head[0x3e] << 16 | static_cast<uint32_t>(head[0x3f]) << 24;
  unsigned char pe[6] = {0};
  if (!in.seekg(peOffset) || !in.read(reinterpret_cast<char*>(pe), sizeof(pe))) return 0;
  if (std::memcmp(pe, "PE\0\0", 4) != 0) return 0;
  const unsigned machine = pe[4] | pe[5] << 8;
  return machine == 0x8664 || machine == 0xaa64 ? 64 : machine == 0x14c ? 32 : 0;
}

std::vector<std::string> splitList(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(separator, at);
    if (end == std::string::npos) end = text.size();
    if (end > at) parts.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

std::string environment(const char* name) {
  std::vector<char> buffer(32768);
  const size_t length = platform::environmentGet(name, buffer.data(), buffer.size());
  return length > 0 && length < buffer.size() ? std::string(buffer.data()) : std::string();
}

// The folders the system searches for a library named without a folder (the
// common part of it: Linux also consults the ld.so cache).
std::vector<std::string> searchFolders(const std::string& programDir) {
#ifdef _WIN32
  std::vector<std::string> folders = {programDir, "."};
  for (const std::string& folder : splitList(environment("PATH"), ';')) folders.push_back(folder);
#else
  (void)programDir;
  std::vector<std::string> folders = splitList(environment("LD_LIBRARY_PATH"), ':');
  for (const char* folder :
       {"/lib", "/usr/lib", "/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/usr/local/lib"})
    folders.push_back(folder);
#endif
  return folders;
}

std::string findInSearch(const std::string& name, const std::vector<std::string>& folders) {
  std::error_code error;
  for (const std::string& folder : folders) {
    const std::filesystem::path path = std::filesystem::path(folder) / name;
    if (std::filesystem::is_regular_file(path, error)) return path.string();
  }
  return "";
}

std::string missingExports(platform::Library* library, const std::vector<const char*>& names) {
  std::string missing;
  for (const char* name : names) {
    if (platform::librarySymbol(library, name) == nullptr)
      missing += (missing.empty() ? "" : ", ") + std::string(name);
  }
  return missing;
}

void checkModule(const CheckRequest& request, Findings* findings) {
  const int processBits = static_cast<int>(sizeof(void*) * 8);
  findings->ok("this process is " + std::to_string(processBits) + "-bit");
  std::string path = request.moduleFile;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    const std::string beside =
        (std::filesystem::path(request.programDir) / request.moduleFile).string();
    if (std::filesystem::is_regular_file(beside, error)) path = beside;
  }
  const int moduleBits = fileWordSize(path);
  if (moduleBits == 0) {
    findings->warn("cannot read " + request.moduleFile + " to tell its word size");
  } else if (moduleBits != processBits) {
    findings->fail("the module " + path + " is " + std::to_string(moduleBits) + "-bit: a " +
                   std::to_string(processBits) + "-bit transaction manager cannot load it");
  } else {
    findings->ok("the module " + path + " is " + std::to_string(moduleBits) + "-bit");
  }
  char reason[512];
  platform::Library* module =
      platform::libraryLoadExplained(request.moduleFile.c_str(), reason, sizeof reason);
  if (module == nullptr) {
    findings->fail("the module " + request.moduleFile + " does not load: " + reason);
    return;
  }
  const std::string missing = missingExports(
      module, {"GetXaSwitch", "MQStart", "hkXaoEnv", "hkXaoSvcCtx", "hkMQXaoEnv", "hkMQXaoSvcCtx"});
  if (missing.empty()) {
    findings->ok("the module loads and exports GetXaSwitch, MQStart and the four accessors");
  } else {
    findings->fail("the module loads but lacks " + missing);
  }
}

void checkClientLibraries(const CheckRequest& request, Findings* findings) {
  const std::vector<std::string> folders = searchFolders(request.programDir);
  bool chosen = false;
  std::string reasons;
  for (int i = 0; i < kClientCandidateCount; ++i) {
    const std::string name = kClientCandidates[i];
    const std::string found = findInSearch(name, folders);
    char reason[512];
    platform::Library* library =
        platform::libraryLoadExplained(name.c_str(), reason, sizeof reason);
    const std::string where = found.empty() ? "" : " (" + found + ")";
    if (library == nullptr) {
      reasons += std::string(reasons.empty() ? "" : "; ") + reason;
      if (found.empty()) {
        findings->info("candidate " + std::to_string(i + 1) + " " + name +
                       ": not found by the library search (" + reason + ")");
      } else {
        findings->warn("candidate " + std::to_string(i + 1) + " " + name + " is found" + where +
                       " but does not load: " + reason);
      }
      continue;
    }
    const std::string missing = missingExports(library, {"xaosw", "xaoEnv", "xaoSvcCtx"});
    std::string text = "candidate " + std::to_string(i + 1) + " " + name + " loads" + where;
    if (chosen) {
      findings->ok(text + "; not used: an earlier candidate loads first");
      continue;
    }
    chosen = true;
    text += "; the module takes it";
    if (i == kCloseStringCandidate)
      text += " and hands its xa_close \"" + std::string(kCloseString) + "\"";
    if (platform::librarySymbol(library, "xaosw") == nullptr) {
      findings->fail(text + ", but it does not export xaosw: every xa_open answers XAER_RMERR");
    } else if (!missing.empty()) {
      findings->warn(text + "; it exports xaosw but lacks " + missing +
                     " (those accessors answer null)");
    } else {
      findings->ok(text + "; it exports xaosw, xaoEnv and xaoSvcCtx");
    }
  }
  if (!chosen) {
    std::string names;
    for (const char* name : kClientCandidates)
      names += (names.empty() ? "" : ", ") + std::string(name);
    findings->fail("no client XA library loads (" + names +
                   "): every xa_open answers XAER_RMERR; put its folder on the library search "
                   "path of the process that loads the module");
  }
}

// One option of an open string as the module's filter reads it: its keyword
// runs to the first '=' after its '+', even past the next '+'.
struct Option {
  std::string text;  // from its '+' to the next '+' or the end
  std::string keyword;
  std::string value;
  bool hasValue;  // an '=' before the next '+'
  bool last;      // no '+' follows
  std::string shown() const { return "\"" + maskPassword(text) + "\""; }
};

// An option the client understands: copied, unless its keyword ran on.
bool reportClientOption(const Option& option, Findings* findings, std::string* copied) {
  bool known = false;
  for (const char* name : {"ACC", "DB", "SesTM", "SqlNet", "Threads"})
    known |= sameIgnoringCase(option.keyword, name);
  if (!known) return false;
  if (option.hasValue || option.last) {
    const std::string problem = clientValueProblem(option.keyword, option.value);
    if (problem.empty()) {
      findings->ok("passed to the client: " + option.shown());
    } else {
      findings->fail("passed to the client, which refuses " + option.shown() + ": " + problem);
    }
    *copied += option.text;
  } else {
    findings->warn("dropped " + option.shown() +
                   ": no '=', so its keyword runs into the next option");
  }
  return true;
}

// "+Trace", the trace library keyword of this word size and "+TraceFile".
bool reportTraceOption(const Option& option, Findings* findings) {
  const bool level = sameIgnoringCase(option.keyword, "Trace");
  const bool file = sameIgnoringCase(option.keyword, "TraceFile");
  if (!level && !file && !sameIgnoringCase(option.keyword, kTraceDllKeyword)) return false;
  const std::string taken = "taken out " + option.shown() + ": ";
  const std::string what = level ? "trace level" : file ? "trace log file" : "trace library";
  const size_t space = option.value.find(' ');
  const std::string name = option.value.substr(0, space);
  if (!option.hasValue) {
    findings->warn(taken + "no value, the " + what + " stays as an earlier open left it");
  } else if (level && !option.value.empty() && option.value[0] == '2') {
    findings->ok(
        taken +
        "trace level 2, which turns tracing on (on the MQ switch; the DTC switch never traces)");
  } else if (level) {
    const bool one = !option.value.empty() && option.value[0] == '1';
    findings->warn(taken + "trace level " + (one ? "1" : "0") +
                   ", which starts no tracing (only 2 does)");
  } else if (space != std::string::npos) {
    findings->warn(taken + what + " \"" + maskPassword(name) +
                   "\"; the text after the space is dropped");
  } else {
    findings->ok(taken + what + " \"" + maskPassword(name) + "\"");
  }
  return true;
}

void reportDroppedOption(const Option& option, Findings* findings) {
  const std::string own = kTraceDllKeyword;
  const std::string other = own == "TraceDll64" ? "TraceDll32" : "TraceDll64";
  std::string reason = "unknown option \"" + maskPassword("+" + option.keyword) + "\"";
  if (sameIgnoringCase(option.keyword, other)) {
    reason = "this is a " + std::to_string(sizeof(void*) * 8) + "-bit process, which reads +" + own;
  } else if (!option.hasValue && !option.last) {
    reason = "no '=', so its keyword runs into the next option";
  } else if (option.keyword.find(' ') != std::string::npos) {
    reason = "a space inside the keyword";
  } else if (option.text.size() == 1) {
    reason = "an empty option";
  }
  findings->warn("dropped " + option.shown() + ": " + reason);
}

// Reads each option as the module's filter does and says what becomes of it.
// Returns the string the copied options make, for comparison with the
// module's own result.
std::string analyseOptions(const std::string& source, Findings* findings) {
  std::string copied = source.substr(0, 9);
  size_t at = source.find('+', 9);
  const std::string leading =
      source.substr(9, at == std::string::npos ? std::string::npos : at - 9);
  if (!leading.empty())
    findings->warn("dropped \"" + maskPassword(leading) + "\": text outside an option");
  while (at != std::string::npos) {
    const size_t next = source.find('+', at + 1);
    Option option;
    option.text = source.substr(at, next == std::string::npos ? std::string::npos : next - at);
    const size_t equals = source.find('=', at + 1);
    option.hasValue = equals != std::string::npos && (next == std::string::npos || equals < next);
    option.keyword = equals == std::string::npos ? option.text.substr(1)
                                                 : source.substr(at + 1, equals - at - 1);
    option.value = option.hasValue ? option.text.substr(equals - at + 1) : "";
    option.last = next == std::string::npos;
    if (!reportClientOption(option, findings, &copied) && !reportTraceOption(option, findings))
      reportDroppedOption(option, findings);
    at = next;
  }
  return copied;
}

// Whether any option asks for tracing: "+Trace", "+TraceFile" or a trace
// library keyword, in any letter case.
bool asksForTracing(const std::string& source) {
  for (size_t at = source.find('+'); at != std::string::npos; at = source.find('+', at + 1)) {
    if (source.size() - at > 5 && sameIgnoringCase(source.substr(at + 1, 5), "Trace")) return true;
  }
  return false;
}

void checkOpenString(const std::string& source, Findings* findings) {
  const bool traceAsked = asksForTracing(source);
  const size_t length = source.size();
  if (length + 1 > MAXINFOSIZE) {
    findings->fail("the open string is " + std::to_string(length) + " characters; XA allows " +
                   std::to_string(MAXINFOSIZE - 1));
  } else {
    findings->ok("the open string is " + std::to_string(length) + " of at most " +
                 std::to_string(MAXINFOSIZE - 1) + " characters");
  }
  if (source.size() < 9 || !sameIgnoringCase(source.substr(0, 9), "ORACLE_XA")) {
    findings->fail(
        "the open string does not begin with ORACLE_XA: the client receives an empty string");
    return;
  }
  const std::string expected = analyseOptions(source, findings);
  for (const Finding& finding : checkRepeatedClientOptions(source)) findings->add(finding);

  char dtcOutput[MAXINFOSIZE] = {0};
  const int32_t dtc = parse_open_options(source.c_str(), static_cast<uint32_t>(length), dtcOutput,
                                         sizeof(dtcOutput));
  if (dtc == kOpenStringTooLong) {
    findings->fail(
        "DTC switch: the filtered string does not fit 255 characters; xa_open answers XAER_RMERR");
  } else {
    findings->ok("DTC switch: the client receives \"" + maskPassword(dtcOutput) + "\"");
    if (expected != dtcOutput)
      findings->warn(
          "the reading above differs from the module's own filter; the line before is what the "
          "client gets");
  }
  char rewritten[kOpenBufferSize] = {0}, mqOutput[kOpenBufferSize] = {0};
  if (rewrite_db_name(source.c_str(), rewritten, sizeof(rewritten)) != kOpenStringDone ||
      parse_open_options(rewritten, static_cast<uint32_t>(std::strlen(rewritten)), mqOutput,
                         sizeof(mqOutput)) == kOpenStringTooLong) {
    findings->fail("MQ switch: the rewritten string does not fit; xa_open answers XAER_RMERR");
  } else {
    findings->ok("MQ switch: the client receives \"" + maskPassword(mqOutput) +
                 "\" (the +DB value gets the process and thread ids, here " +
                 std::to_string(platform::currentProcessId()) + " and " +
                 std::to_string(platform::currentThreadId()) + ")");
  }
  // What the module's own parse left for tracing, all options taken together.
  const char* library = trace_options_dll_name();
  const char* file = trace_options_file_name();
  if (file != nullptr && *file != '\0') findings->add(checkTraceFile(file));
  if (trace_options_level() != 2 && traceAsked) {
    findings->warn("MQ switch: trace level " + std::to_string(trace_options_level()) +
                   " traces nothing; only +Trace=2 turns tracing on");
  } else if (trace_options_level() != 2) {
    findings->ok("MQ switch: no tracing (no +Trace option)");
  } else if (library == nullptr || *library == '\0') {
    findings->warn("trace level 2 but no +" + std::string(kTraceDllKeyword) +
                   ": the MQ switch will not trace");
  } else {
    findings->ok("MQ switch: traces through \"" + maskPassword(library) + "\" to " +
                 (file == nullptr ? std::string("the library's default log")
                                  : "\"" + maskPassword(file) + "\""));
  }
}

void checkTraceLibrary(const std::string& file, Findings* findings) {
  char reason[512];
  platform::Library* library = platform::libraryLoadExplained(file.c_str(), reason, sizeof reason);
  // The name may come from the open string: it is shown as the rest of it is.
  const std::string name = maskPassword(file);
  if (library == nullptr) {
    findings->fail("the trace library " + name + " does not load (" + maskPassword(reason) +
                   "): tracing stays off");
    return;
  }
  const std::string required =
      missingExports(library, {"TraceOpenLogFile", "TraceCloseLogFile", "TraceVersion"});
  if (!required.empty()) {
    findings->fail("the trace library " + name + " lacks " + required +
                   ": it is refused and tracing stays off");
    return;
  }
  using VersionFunction = int32_t (*)();
  const int32_t version =
      reinterpret_cast<VersionFunction>(platform::librarySymbol(library, "TraceVersion"))();
  if (version < 1000) {
    findings->fail("the trace library " + name + " has interface version " +
                   std::to_string(version) + ", below 1000: it is refused");
    return;
  }
  const std::string optional = missingExports(
      library, {"mvTraceEntry", "mvTraceExit", "mvTraceData", "mvTraceInit", "mvSetTraceLevel"});
  const std::string text =
      "the trace library " + name + " loads, interface version " + std::to_string(version);
  if (optional.empty()) {
    findings->ok(text + ", every export present");
  } else {
    findings->warn(text + "; it lacks " + optional + " (those records or calls are skipped)");
  }
}

// Whether the registry holds a value of this name under the module's key
// (always false where there is no machine registry).
bool registryHasValue(const char* name) {
  char buffer[1024];
  return platform::registryReadMachineSetting(kDiagRegistryKey, name, buffer, sizeof buffer) !=
         platform::RegistrySetting::kAbsent;
}

// The module's diagnostic log as a process with this environment would get
// it, read by the module's own settings reader: the environment's ZPXA_LOG
// wins, else (Windows) the registry's LogFile. Names every setting the
// module would ignore and why, and whether the file's folder exists, since
// the module cannot say so anywhere when it does not.
void checkDiagLogSettings(Findings* findings) {
  DiagSettings settings;
  diag_log_read_settings(&settings);
  for (int i = 0; i < settings.noteCount; ++i)
    findings->warn(std::string("diagnostic log: ") + settings.notes[i]);
  const std::string where =
      std::string("HKLM\\") + kDiagRegistryKey + (sizeof(void*) == 4 ? " (the 32-bit view)" : "");
  if (settings.path[0] == '\0') {
    findings->info(
        std::string("diagnostic log: off (no ") + kDiagLogVariable + " in this environment" +
        (kHasMachineRegistry ? ", no usable LogFile under " + where : std::string()) + ")");
    return;
  }
  const std::string path = settings.path;
  std::string origin;
  if (settings.fromRegistry) {
    origin = where + " LogFile";
  } else {
    origin = std::string("the environment (") + kDiagLogVariable + ")";
    if (registryHasValue(kDiagRegistryFile))
      findings->info("diagnostic log: " + where + " also has a LogFile, which a process without " +
                     kDiagLogVariable + " (a service) uses instead");
  }
  const std::string text = "diagnostic log: " + path + " from " + origin + ", level " +
                           (settings.level == kDiagVerbose ? "verbose" : "normal") + ", limit " +
                           std::to_string(settings.limit) + " bytes";
  std::error_code error;
  const std::filesystem::path log(path);
  const std::filesystem::path folder = log.has_parent_path() ? log.parent_path() : ".";
  if (!std::filesystem::is_directory(folder, error)) {
    findings->warn(text + "; its folder " + folder.string() +
                   " does not exist: the module writes no log and cannot say so; create the "
                   "folder, writable by the service's account");
  } else if (log.is_relative()) {
    findings->warn(text +
                   "; a relative name: the host process resolves it from its own current "
                   "folder; give a full path");
  } else {
    findings->ok(text + "; its folder exists (the service's account must be able to write it)");
  }
}

// Where a trace library named without a folder was found by this process
// (the file the system loaded): the host's own search starts in its
// program's folder, not the driver's, so a library found beside the driver
// is the classic mistake.
void reportTraceLibraryLocation(const std::string& file, const std::string& programDir,
                                Findings* findings) {
  if (file.find_first_of("/\\") != std::string::npos) return;
  char reason[512];
  platform::Library* library = platform::libraryLoadExplained(file.c_str(), reason, sizeof reason);
  if (library == nullptr) return;  // reported with the library's other findings
  char loaded[1024];
  std::string found = platform::libraryFilePath(library, loaded, sizeof loaded) > 0
                          ? std::string(loaded)
                          : findInSearch(file, searchFolders(programDir));
  const std::string name = maskPassword(file);
  const std::string service =
      "a service's search (its program's folder, the system folders, its current folder, its "
      "PATH) may differ: give the full path";
  std::error_code error;
  const std::filesystem::path beside = std::filesystem::path(programDir) / file;
  if (kSearchesProgramFolder && !found.empty() &&
      std::filesystem::equivalent(beside, found, error)) {
    findings->warn("the trace library " + name + " is named without a folder and was found at " +
                   found + ", beside xadriver itself, which a host does not search; " + service);
  } else {
    findings->info("the trace library " + name + " is named without a folder: this process found " +
                   (found.empty() ? std::string("it") : "it at " + found) + "; " + service);
  }
}

}  // namespace

int runCheck(const CheckRequest& request) {
  Findings findings;
  findings.info(checkScopeNote());
  checkModule(request, &findings);
  checkDiagLogSettings(&findings);
  for (const Finding& finding : checkModuleSettings()) findings.add(finding);
  checkClientLibraries(request, &findings);
  std::string traceLibrary = request.traceLibrary;
  if (request.hasOpenString) {
    checkOpenString(request.openString, &findings);
    if (traceLibrary.empty() && trace_options_dll_name() != nullptr)
      traceLibrary = trace_options_dll_name();
  }
  if (!traceLibrary.empty()) {
    checkTraceLibrary(traceLibrary, &findings);
    reportTraceLibraryLocation(traceLibrary, request.programDir, &findings);
  }
  if (request.dtcRegistry) {
    for (const Finding& finding : checkDtcRegistration(request.moduleFile, request.programDir))
      findings.add(finding);
  }
  std::printf("%d finding%s failed\n", findings.failures(), findings.failures() == 1 ? "" : "s");
  return findings.failures();
}

}  // namespace xadriver
}  // namespace zp
