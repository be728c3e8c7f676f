// The open string, the connections file and the URIs. No error message
// quotes what it complains about: a password may stand anywhere in a
// malformed open string or URI.
#include "tools/sqlxa/open_info.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

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
      *error = "a mariadb URI has a bad port";
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
      *error = "a mariadb URI takes only the parameter socket=PATH";
      return false;
    }
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  if (target->host.empty()) target->host = "localhost";
  return true;
}

// What a URI may hold as a password: after "scheme://", up to the first '/',
// '?' or '#', the text after the first ':' of the part before the last '@'
// (without an '@': after the first ':', which may be a port or a password
// whose '@' is missing), raw and %-decoded.
void add_uri_secrets(const std::string& uri, std::vector<std::string>* secrets) {
  size_t begin = uri.find("://");
  if (begin == std::string::npos) return;
  begin += 3;
  std::string authority = uri.substr(begin, uri.find_first_of("/?#", begin) - begin);
  size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(at);
  size_t colon = authority.find(':');
  if (colon == std::string::npos || colon + 1 == authority.size()) return;
  std::string raw = authority.substr(colon + 1);
  secrets->push_back(raw);
  std::string decoded;
  if (percent_decode(raw, &decoded) && decoded != raw) secrets->push_back(decoded);
}

bool parse_postgres(const std::string& uri, Target* target, std::string* error) {
  char* parse_error = nullptr;
  PQconninfoOption* parsed = PQconninfoParse(uri.c_str(), &parse_error);
  // libpq's message quotes the part it could not parse, which may be a password.
  PQfreemem(parse_error);
  if (parsed == nullptr) {
    *error = "libpq cannot parse the PostgreSQL URI";
    return false;
  }
  for (PQconninfoOption* option = parsed; option->keyword != nullptr; ++option) {
    if (std::strcmp(option->keyword, "password") == 0 && option->val != nullptr &&
        *option->val != '\0') {
      target->secrets.push_back(option->val);
    }
  }
  PQconninfoFree(parsed);
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
      *error = "an option of the open string has no '=' and value";
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
        *error = "+SesTm takes a number of seconds from 0 to 86400";
        return false;
      }
      info->lock_wait = seconds;
    } else {
      *error = "the open string has an unknown option (known: Acc, SqlNet, DB, SesTm, Threads)";
      return false;
    }
  }
  if (info->sqlnet.empty()) {
    *error = "the open string names no connection (+SqlNet=NAME)";
    return false;
  }
  return true;
}

bool same_open_info(const OpenInfo& a, const OpenInfo& b) {
  return lower(a.sqlnet) == lower(b.sqlnet) && a.user == b.user && a.password == b.password &&
         a.db == b.db && a.lock_wait == b.lock_wait;
}

bool parse_target(const std::string& uri, Target* target, std::string* error) {
  *target = Target();
  target->uri = uri;
  add_uri_secrets(uri, &target->secrets);
  if (starts_with(uri, "postgresql://") || starts_with(uri, "postgres://")) {
    target->kind = DatabaseKind::kPostgres;
    return parse_postgres(uri, target, error);
  }
  if (starts_with(uri, "mariadb://")) {
    target->kind = DatabaseKind::kMariaDb;
    if (!parse_mariadb(uri, target, error)) return false;
    if (!target->password.empty()) target->secrets.push_back(target->password);
    return true;
  }
  *error = "a connection URI begins with postgresql:// or mariadb://";
  return false;
}

bool parse_connections(const std::string& text, const std::string& path, const std::string& name,
                       Target* target, std::string* error) {
  std::string found;
  int found_line = 0;
  int number = 0;
  for (size_t begin = 0; begin < text.size();) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = trim(text.substr(begin, end - begin));
    begin = end + 1;
    ++number;
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? "" : trim(line.substr(0, eq));
    std::string value = eq == std::string::npos ? "" : trim(line.substr(eq + 1));
    if (key.empty() || value.empty()) {
      *error = path + ":" + std::to_string(number) + ": expected NAME = URI";
      return false;
    }
    if (found.empty() && lower(key) == lower(name)) {
      found = value;
      found_line = number;
    }
  }
  if (found.empty()) {
    *error = "no connection of the +SqlNet name in " + path;
    return false;
  }
  if (!parse_target(found, target, error)) {
    *error = path + ":" + std::to_string(found_line) + ": " + *error;
    return false;
  }
  return true;
}

namespace {

// The whole of a regular file of at most kMaxConnectionsFile bytes.
bool read_regular_file(const char* path, std::string* text, std::string* error) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *error = std::string("cannot open the connections file ") + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!ok) {
    *error = std::string("the connections file ") + path + " is not a regular file";
  } else if (static_cast<unsigned long long>(info.st_size) > kMaxConnectionsFile) {
    *error = std::string("the connections file ") + path + " is larger than " +
             std::to_string(kMaxConnectionsFile) + " bytes";
    ok = false;
  } else {
    // The size is read again: the file may grow meanwhile.
    text->clear();
    char buffer[8192];
    for (;;) {
      ssize_t got = read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        *error =
            std::string("cannot read the connections file ") + path + ": " + std::strerror(errno);
        ok = false;
        break;
      }
      if (got == 0) break;
      text->append(buffer, static_cast<size_t>(got));
      if (text->size() > kMaxConnectionsFile) {
        *error = std::string("the connections file ") + path + " is larger than " +
                 std::to_string(kMaxConnectionsFile) + " bytes";
        ok = false;
        break;
      }
    }
  }
  close(fd);
  return ok;
}

}  // namespace

bool find_connection(const std::string& name, Target* target, std::string* error) {
  const char* path = std::getenv(SQLXA_CONNECTIONS_VARIABLE);
  if (path == nullptr || *path == '\0') {
    *error = std::string(SQLXA_CONNECTIONS_VARIABLE) + " names no connections file";
    return false;
  }
  std::string text;
  return read_regular_file(path, &text, error) &&
         parse_connections(text, path, name, target, error);
}

std::string without_secrets(const std::string& message, const std::vector<std::string>& secrets) {
  std::string out = message;
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    const size_t shortest = secret.size() < 4 ? secret.size() : 4;
    std::string redacted;
    for (size_t i = 0; i < out.size();) {
      // The longest run from i that the secret holds.
      size_t longest = 0;
      for (size_t length = shortest; i + length <= out.size() && length <= secret.size();
           ++length) {
        if (secret.find(out.data() + i, 0, length) == std::string::npos) break;
        longest = length;
      }
      if (longest > 0) {
        redacted += "***";
        i += longest;
      } else {
        redacted += out[i++];
      }
    }
    out = redacted;
  }
  return out;
}

}  // namespace sqlxa
}  // namespace zp
