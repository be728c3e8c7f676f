// A transaction manager's own library, written as hosts write them: a static
// object that owns its connections, opening rmids through GetXaSwitch when
// the library loads (when ZP_TM_OPEN_AT_LOAD is set) and closing every rmid
// it opened when it is destroyed, at FreeLibrary / dlclose or at process
// exit. It prints each outcome, since at process exit nobody is left to ask.
#include <cstdio>
#include <cstdlib>

#include "zpor8dtc23/zpor8dtc23.h"

namespace {

class Connections {
 public:
  Connections() {
    if (std::getenv("ZP_TM_OPEN_AT_LOAD") == nullptr) return;
    std::printf("open at load %d\n", open(1));
    std::fflush(stdout);
  }
  ~Connections() {
    std::printf("closed");
    for (int i = 0; i < count_; ++i) {
      char info[] = "ORACLE_XA";
      std::printf(" %d", switch_->xa_close_entry(info, rmids_[i], TMNOFLAGS));
    }
    std::printf("\n");
    std::fflush(stdout);
  }

  int open(int rmid) {
    if (switch_ == nullptr && GetXaSwitch(0, &switch_) != 0) return -100;
    char info[] = "ORACLE_XA+DB=ORCL";
    const int result = switch_->xa_open_entry(info, rmid, TMNOFLAGS);
    if (result == XA_OK && count_ < kMaxRmids) rmids_[count_++] = rmid;
    return result;
  }

 private:
  static constexpr int kMaxRmids = 8;
  xa_switch_t* switch_ = nullptr;
  int rmids_[kMaxRmids] = {};
  int count_ = 0;
};

Connections g_connections;

}  // namespace

extern "C" int tm_open(int rmid) { return g_connections.open(rmid); }
