// The reference resource manager's journal reader, on any file content: the
// branches it finds pending are well-formed XIDs, each once; written to a new
// journal they read back the same, in the same order; and once a finished
// line is appended for each, the journal holds none in doubt.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "tools/refrm/journal.h"

namespace {

using zp::refrm::journalAppend;
using zp::refrm::journalPending;
using zp::refrm::xidKey;

std::string g_folder;

void removeFolder() {
  std::remove((g_folder + "/input.journal").c_str());
  std::remove((g_folder + "/copy.journal").c_str());
  rmdir(g_folder.c_str());
}

std::vector<std::string> keysOf(const std::vector<XID>& xids) {
  std::vector<std::string> keys;
  for (const XID& xid : xids) keys.push_back(xidKey(xid));
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* temporary = std::getenv("TMPDIR");
  std::string pattern =
      std::string(temporary != nullptr ? temporary : "/tmp") + "/zp-fuzz-journal-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) std::abort();
  g_folder = pattern;
  std::atexit(removeFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string file = g_folder + "/input.journal";
  const std::string copy = g_folder + "/copy.journal";
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) std::abort();
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  std::remove(copy.c_str());

  const std::vector<XID> pending = journalPending(file);
  const std::vector<std::string> keys = keysOf(pending);
  for (size_t i = 0; i < pending.size(); ++i) {
    FUZZ_CHECK(zp::refrm::xidIsValid(pending[i]), input);
    for (size_t j = 0; j < i; ++j) FUZZ_CHECK(keys[i] != keys[j], input);
  }

  for (const XID& xid : pending) FUZZ_CHECK(journalAppend(copy, xid, true), input);
  FUZZ_CHECK(keysOf(journalPending(copy)) == keys, input);

  for (const XID& xid : pending) FUZZ_CHECK(journalAppend(file, xid, false), input);
  FUZZ_CHECK(journalPending(file).empty(), input);
  return 0;
}
