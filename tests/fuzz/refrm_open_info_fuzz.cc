// The reference resource manager's open-string reader: an accepted string
// gives fields that, written back as an open string, read back to the same
// fields; the module's filter hands an accepted string to the client
// unchanged (every option it accepts is one the filter keeps); a refused
// string comes with a reason.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "tools/refrm/open_info.h"
#include "xa/open_string.h"

namespace {

using zp::refrm::OpenInfo;

std::string openStringOf(const OpenInfo& info) {
  std::string text = "ORACLE_XA";
  if (!info.user.empty()) text += "+Acc=P/" + info.user + "/pw";
  if (!info.dbName.empty()) text += "+DB=" + info.dbName;
  text += "+SqlNet=" + info.database;
  text += "+SesTm=" + std::to_string(info.sessionTimeout);
  text += std::string("+Threads=") + (info.threads ? "true" : "false");
  return text;
}

bool sameInfo(const OpenInfo& a, const OpenInfo& b) {
  return a.user == b.user && a.dbName == b.dbName && a.database == b.database &&
         a.sessionTimeout == b.sessionTimeout && a.threads == b.threads;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string source = input.c_str();
  OpenInfo info;
  std::string reason;
  if (!zp::refrm::parseOpenInfo(source.c_str(), &info, &reason)) {
    FUZZ_CHECK(!reason.empty(), input);
    return 0;
  }
  FUZZ_CHECK(!info.database.empty() && info.sessionTimeout >= 0, input);

  const std::string written = openStringOf(info);
  OpenInfo again;
  FUZZ_CHECK(zp::refrm::parseOpenInfo(written.c_str(), &again, &reason), input + " | " + written);
  FUZZ_CHECK(sameInfo(again, info), input + " | " + written);

  const uint32_t capacity = static_cast<uint32_t>(source.size()) + 1;
  std::unique_ptr<char[]> filtered(new char[capacity]);
  FUZZ_CHECK(zp::parse_open_options(source.c_str(), capacity - 1, filtered.get(), capacity) == 0,
             input);
  FUZZ_CHECK(source == filtered.get(), input + " | " + filtered.get());
  return 0;
}
