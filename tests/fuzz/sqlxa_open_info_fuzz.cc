// The SQL client XA library's open string and connections file: whatever the
// input, no message shows a password. The input's first line is the open
// string, the rest the connections file; each byte 0x01 in it stands for a
// password (kSecret), wherever it is put, so that no error message may show
// any four bytes of kSecret in a row: parse errors quote nothing of their
// input. What the parsers take as passwords is taken out of any message by
// without_secrets, which leaves no four bytes of one in a row.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "tools/sqlxa/open_info.h"

namespace {

const char kSecret[] = "Qz7Kv9Wx";

// Whether text holds four bytes of secret in a row (a shorter one: whole).
bool shows(const std::string& text, const std::string& secret) {
  const size_t run = secret.size() < 4 ? secret.size() : 4;
  for (size_t i = 0; run > 0 && i + run <= secret.size(); ++i) {
    if (text.find(secret.substr(i, run)) != std::string::npos) return true;
  }
  return false;
}

std::string withSecrets(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\x01') {
      out += kSecret;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  const std::string open = withSecrets(input.substr(0, newline));
  const std::string file =
      newline == std::string::npos ? "" : withSecrets(input.substr(newline + 1));

  zp::sqlxa::OpenInfo info;
  std::string error;
  if (!zp::sqlxa::parse_open_info(open, &info, &error)) {
    FUZZ_CHECK(!error.empty() && !shows(error, kSecret), input);
    return 0;
  }
  FUZZ_CHECK(!info.sqlnet.empty(), input);
  zp::sqlxa::Target target;
  if (!zp::sqlxa::parse_connections(file, "connections", info.sqlnet, &target, &error)) {
    FUZZ_CHECK(!error.empty() && !shows(error, kSecret), input);
    return 0;
  }
  // Both kinds of URI: the password the parser found is among the secrets.
  if (!target.password.empty()) {
    bool listed = false;
    for (const std::string& secret : target.secrets) listed = listed || secret == target.password;
    FUZZ_CHECK(listed, input);
  }
  // A message that quotes the whole open string and URI keeps no secret.
  std::vector<std::string> secrets = target.secrets;
  if (!info.password.empty()) secrets.push_back(info.password);
  const std::string message =
      zp::sqlxa::without_secrets("open " + open + " uri " + target.uri, secrets);
  for (const std::string& secret : secrets) {
    if (secret.find('*') == std::string::npos) FUZZ_CHECK(!shows(message, secret), input);
  }
  return 0;
}
