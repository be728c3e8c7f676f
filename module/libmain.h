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
// Runs the process detach, then destroys the static objects in reverse order.
// Safe after a failed or partial load, and when called twice.
void moduleUnload();

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
