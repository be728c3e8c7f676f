// The open string, the connections file and the URIs.
#include "tools/sqlxa/open_info.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

#include "tools/sqlxa/sqlxa.h"

namespace zp {
namespace sqlxa {
namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Decodes %XX escapes; false for a broken one.
bool percent_decode(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      return false;
    }
    *out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return true;
}

bool parse_mariadb(const std::string& uri, Target* target, std::string* error) {
  std::string rest = uri.substr(std::string("mariadb://").size());
  std::string query;
  size_t question = rest.find('?');
  if (question != std::string::npos) {
    query = rest.substr(question + 1);
    rest.erase(question);
  }
  size_t slash = rest.find('/');
  if (slash == std::string::npos) {
    *error = "a mariadb URI needs /DATABASE after the host";
    return false;
  }
  std::string authority = rest.substr(0, slash);
  if (!percent_decode(rest.substr(slash + 1), &target->database) || target->database.empty()) {
    *error = "a mariadb URI needs /DATABASE after the host";
    return false;
  }
  size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    std::string credentials = authority.substr(0, at);
    authority.erase(0, at + 1);
    size_t colon = credentials.find(':');
    if (!percent_decode(credentials.substr(0, colon), &target->user) ||
        (colon != std::string::npos &&
         !percent_decode(credentials.substr(colon + 1), &target->password))) {
      *error = "a mariadb URI has a broken %-escape in its user or password";
      return false;
    }
  }
  size_t colon = authority.find(':');
  target->host = authority.substr(0, colon);
  if (colon != std::string::npos) {
    std::string port = authority.substr(colon + 1);
    char* end = nullptr;
    long value = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || value <= 0 || value > 65535) {
      *error = "a mariadb URI has a bad port '" + port + "'";
      return false;
    }
    target->port = static_cast<unsigned>(value);
  }
  size_t start = 0;
  while (!query.empty() && start <= query.size()) {
    size_t amp = query.find('&', start);
    std::string pair =
        query.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    size_t eq = pair.find('=');
    std::string key = pair.substr(0, eq);
    if (key != "socket" || eq == std::string::npos ||
        !percent_decode(pair.substr(eq + 1), &target->socket)) {
      *error = "a mariadb URI takes only the parameter socket=PATH, not '" + key + "'";
      return false;
    }
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  if (target->host.empty()) target->host = "localhost";
  return true;
}

}  // namespace

bool parse_open_info(const std::string& text, OpenInfo* info, std::string* error) {
  *info = OpenInfo();
  if (lower(text.substr(0, 9)) != "oracle_xa") {
    *error = "the open string does not begin with ORACLE_XA";
    return false;
  }
  size_t position = 9;
  if (position < text.size() && text[position] != '+') {
    *error = "the open string needs '+' after ORACLE_XA";
    return false;
  }
  while (position < text.size()) {
    size_t next = text.find('+', position + 1);
    std::string option = text.substr(
        position + 1, next == std::string::npos ? std::string::npos : next - position - 1);
    position = next == std::string::npos ? text.size() : next;
    size_t eq = option.find('=');
    std::string keyword = lower(trim(option.substr(0, eq)));
    std::string value = eq == std::string::npos ? "" : trim(option.substr(eq + 1));
    if (keyword == "threads") continue;
    if (eq == std::string::npos) {
      *error = "the option '+" + option + "' has no value";
      return false;
    }
    if (keyword == "acc") {
      if (lower(value.substr(0, 2)) != "p/") {
        *error = "+Acc takes P/user/password";
        return false;
      }
      size_t slash = value.find('/', 2);
      if (slash == std::string::npos) {
        *error = "+Acc takes P/user/password";
        return false;
      }
      info->user = value.substr(2, slash - 2);
      info->password = value.substr(slash + 1);
    } else if (keyword == "sqlnet") {
      info->sqlnet = value;
    } else if (keyword == "db") {
      info->db = value;
    } else if (keyword == "sestm") {
      char* end = nullptr;
      long seconds = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || seconds < 0 || seconds > 86400 || value[0] == '-') {
        *error = "+SesTm takes a number of seconds from 0 to 86400, not '" + value + "'";
        return false;
      }
      info->lock_wait = seconds;
    } else {
      *error = "unknown option '+" + trim(option.substr(0, eq)) + "'";
      return false;
    }
  }
  if (info->sqlnet.empty()) {
    *error = "the open string names no connection (+SqlNet=NAME)";
    return false;
  }
  return true;
}

bool parse_target(const std::string& uri, Target* target, std::string* error) {
  *target = Target();
  target->uri = uri;
  if (starts_with(uri, "postgresql://") || starts_with(uri, "postgres://")) {
    target->kind = DatabaseKind::kPostgres;
    return true;
  }
  if (starts_with(uri, "mariadb://")) {
    target->kind = DatabaseKind::kMariaDb;
    return parse_mariadb(uri, target, error);
  }
  *error = "a connection URI begins with postgresql:// or mariadb://";
  return false;
}

bool find_connection(const std::string& name, Target* target, std::string* error) {
  const char* path = std::getenv(SQLXA_CONNECTIONS_VARIABLE);
  if (path == nullptr || *path == '\0') {
    *error = std::string(SQLXA_CONNECTIONS_VARIABLE) + " names no connections file";
    return false;
  }
  std::ifstream file(path);
  if (!file) {
    *error = std::string("cannot read the connections file ") + path;
    return false;
  }
  std::string line;
  std::string found;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? "" : trim(line.substr(0, eq));
    std::string value = eq == std::string::npos ? "" : trim(line.substr(eq + 1));
    if (key.empty() || value.empty()) {
      *error = std::string(path) + ":" + std::to_string(number) + ": expected NAME = URI";
      return false;
    }
    if (found.empty() && lower(key) == lower(name)) found = value;
  }
  if (found.empty()) {
    *error = "no connection named '" + name + "' in " + path;
    return false;
  }
  if (!parse_target(found, target, error)) {
    *error = "connection '" + name + "': " + *error;
    return false;
  }
  return true;
}

}  // namespace sqlxa
}  // namespace zp
