// The SQL client XA library's gids: every valid XID comes back exactly from
// its gid in either form, within PostgreSQL's 199 characters, and only from
// its own database's; and any text that decodes is exactly what an encoder
// writes for the XID it decodes to, so a gid someone else wrote never does.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "tools/sqlxa/xid_text.h"

namespace {

uint32_t take32(const uint8_t* data, size_t size, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | (at + i < size ? data[at + i] : 0);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  using namespace zp::sqlxa;
  // The database: any OID but 0.
  const unsigned long database = take32(data, size, 0) == 0 ? 1 : take32(data, size, 0);

  // An XID made of the input: formatID, lengths, then the bytes.
  XID xid;
  std::memset(&xid, 0, sizeof xid);
  xid.formatID = static_cast<long>(take32(data, size, 4) & 0x7fffffff);
  xid.gtrid_length = 1 + (size > 8 ? data[8] % 64 : 0);
  xid.bqual_length = size > 9 ? data[9] % 65 : 0;
  for (long i = 0; i < xid.gtrid_length + xid.bqual_length; ++i) {
    xid.data[i] = static_cast<char>(10 + static_cast<size_t>(i) < size ? data[10 + i] : 0);
  }
  FUZZ_CHECK(xid_is_valid(xid), input);
  const std::string gid = xid_to_gid(xid, database);
  const std::string old = xid_to_old_gid(xid);
  FUZZ_CHECK(gid.size() <= 199 && old.size() <= 199, input);
  FUZZ_CHECK(gid.find_first_of("'\\\" ") == std::string::npos, input);
  XID back;
  FUZZ_CHECK(gid_to_xid(gid, database, &back) && xid_equal(back, xid), input);
  FUZZ_CHECK(!gid_to_xid(gid, database == 0xffffffffUL ? 1 : database + 1, &back), input);
  FUZZ_CHECK(gid_to_xid(old, database, &back) && xid_equal(back, xid), input);

  // The input itself as a gid: it decodes only as what an encoder writes.
  if (gid_to_xid(input, database, &back)) {
    FUZZ_CHECK(xid_is_valid(back), input);
    FUZZ_CHECK(input == xid_to_gid(back, database) || input == xid_to_old_gid(back), input);
  }
  return 0;
}
