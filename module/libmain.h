// Module load and unload: the static objects, the process attach and the
// process detach. The load hook (DllMain on Windows, a load-time
// constructor and unload-time destructor on Linux) calls moduleLoad and
// moduleUnload; unit tests that link the module's objects call them directly.
#ifndef ZP_MODULE_LIBMAIN_H
#define ZP_MODULE_LIBMAIN_H

namespace zp {

// Constructs the static objects in their order, then runs the process attach.
// instance is the module's own handle (null on Linux). Returns false when the
// attach failed; the caller then calls moduleUnload, as the Windows loader
// does after a refused attach.
bool moduleLoad(void* instance);
// Why the module is unloaded: its library is unloaded (dlclose, FreeLibrary;
// on Linux also the process's exit, which the two cannot tell apart), or the
// process ends (Windows says so at the process detach).
enum class UnloadKind { kLibrary, kProcessExit };

// Runs the process detach, then destroys the static objects in reverse order.
// From then on every call of a host answers at once without touching them
// (ModuleCall). At process exit, and whenever a host's call is still in
// flight or a worker is still registered (on Linux the library stays loaded
// while a worker lives, so that is the process's exit too), nothing is
// destroyed: other threads may still call in while the process ends.
// Safe after a failed or partial load, and when called twice.
void moduleUnload(UnloadKind kind = UnloadKind::kLibrary);

// One call of a host into the module, counted while it runs. admitted() is
// false once the unload has begun: the call then touches no static object
// and answers at once (XAER_RMERR on the XA paths).
class ModuleCall {
 public:
  ModuleCall();
  ~ModuleCall();
  ModuleCall(const ModuleCall&) = delete;
  ModuleCall& operator=(const ModuleCall&) = delete;
  bool admitted() const { return admitted_; }

 private:
  bool admitted_;
};

// The attach and detach steps alone (the static objects must exist).
bool moduleProcessAttach(void* instance);
void moduleProcessDetach();

// The line appended to the KV_ASSERTS_FILE file: "--- " and the time in the
// C library's asctime form with the day of the month zero-filled. buffer holds
// at least 64 bytes.
void formatAssertsLine(char* buffer, int weekDay, int month, int monthDay, int hour, int minute,
                       int second, int year);

}  // namespace zp

#endif  // ZP_MODULE_LIBMAIN_H
