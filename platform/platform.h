// Everything the module needs from the operating system, in one header.
// platform/posix/ and platform/win32/ implement it, file by file with matching
// names; no other folder includes a system header of either kind.
#ifndef ZP_PLATFORM_PLATFORM_H
#define ZP_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>

#include "platform/thread_annotations.h"

namespace zp {
namespace platform {

// ---------------------------------------------------------------------------
// Re-entrant locks (lock.cc)

// Opaque storage for one system lock: a recursive pthread mutex or a Win32
// critical section. Large and aligned enough for either.
struct CAPABILITY("mutex") LockStorage {
  alignas(16) unsigned char bytes[64];
};

// REQUIRES: storage not initialised. Initialises a re-entrant lock in place.
void lockInit(LockStorage* lock);
// REQUIRES: initialised. Blocks until the calling thread holds the lock; a
// thread that holds it already enters again and must leave once per entry.
void lockEnter(LockStorage* lock) ACQUIRE(lock);
// REQUIRES: held by the calling thread.
void lockLeave(LockStorage* lock) RELEASE(lock);
// REQUIRES: initialised and not held. Releases the system resources.
void lockDestroy(LockStorage* lock);

// ---------------------------------------------------------------------------
// Counting semaphores (semaphore.cc)

// An unnamed semaphore with initial count 0 and maximum count 1.
struct Semaphore;

// Creates a semaphore. Returns null when the system (or the test fault hook
// for semaphore creation) refuses.
Semaphore* semaphoreCreate();
// Adds one to the count unless it is at its maximum of 1 already. Returns
// false when the count was at its maximum or the system call failed.
bool semaphoreRelease(Semaphore* semaphore);
// Waits without a time limit until the count is positive, then takes one.
// Returns false when the wait failed (or the test fault hook says so).
bool semaphoreWait(Semaphore* semaphore);
// How semaphoreWaitWatching ended.
enum class WatchedWait { kTaken, kFailed, kThreadEnded };
struct Thread;
// semaphoreWait that also watches a thread, the one expected to release the
// semaphore: returns kThreadEnded, nothing taken, when that thread has ended
// without a release left to take, so that no wait outlives the thread it
// waits for. Windows ends every other thread of a process before its
// libraries see the process detach; on Linux a thread of the module ends only
// by returning, so this is semaphoreWait's wait (kTaken or kFailed). A null
// thread is not watched.
WatchedWait semaphoreWaitWatching(Semaphore* semaphore, Thread* thread);
// REQUIRES: no thread waits on it. Releases it; null is ignored. A release
// whose count ended the last wait may still be finishing on its thread: the
// close waits for it, so the waiter may close the semaphore as soon as its
// wait returns.
void semaphoreClose(Semaphore* semaphore);

// ---------------------------------------------------------------------------
// Threads (thread.cc)

using ThreadMain = uint32_t (*)(void* argument);

// Starts a detached thread running main(argument) with the default stack size.
// The caller keeps no handle and never joins it. Stores the new thread's
// operating-system id in *threadId when the thread was created. Returns false
// when it could not be created (or the test fault hook says so).
bool threadStartDetached(ThreadMain main, void* argument, uint32_t* threadId);

// A thread that its creator joins.
struct Thread;

// Starts a joinable thread running main(argument) with the default stack size
// and stores its operating-system id in *threadId. Returns null when it could
// not be created (or the test fault hook for thread creation says so), and on
// Windows when the calling thread holds the loader lock (inside any library's
// DllMain, a static constructor or destructor of a library among them): a
// thread started then cannot begin before the caller has left the loader, so
// a creator that waits for it would wait for ever.
// REQUIRES: the result is passed to threadJoin exactly once.
Thread* threadStart(ThreadMain main, void* argument, uint32_t* threadId);
// Waits without a time limit until the thread has returned from main and
// released everything the platform held for it, then frees the handle.
// Returns true when the thread is known to have ended. On false (the system
// or the test fault hook for joins refused; on Windows also a thread not yet
// ended while the caller holds the loader lock, which a thread needs to end,
// so the join does not wait) the handle is given up all the same and the
// thread may still be running: the caller must keep everything the thread may
// use, the module's own code included.
bool threadJoin(Thread* thread);
// Offers the rest of the calling thread's time slice to another thread ready
// on the same processor; returns at once when there is none.
void threadYield();
// A monotonic clock in nanoseconds from an unspecified start, for measuring
// short intervals within the process.
int64_t monotonicNanoseconds();

// ---------------------------------------------------------------------------
// The module's own lifetime (module_reference.cc)

// One more reference on the library that holds this code, so that it stays
// mapped however often its loader unloads it, until moduleReferenceRelease.
// When the code is linked into the program itself nothing needs holding and
// a token is still returned. Returns null when the reference could not be
// taken (or the test fault hook for library loading says so).
void* moduleReferenceAcquire();
// Gives up a reference that moduleReferenceAcquire returned; null is ignored.
// REQUIRES: no code of the module runs on behalf of the reference any more
// (the caller itself is still inside a call its loader made).
void moduleReferenceRelease(void* reference);

// ---------------------------------------------------------------------------
// Process and thread identity (process.cc)

// The operating system's own ids: getpid() and gettid() on Linux,
// GetCurrentProcessId() and GetCurrentThreadId() on Windows.
uint32_t currentProcessId();
uint32_t currentThreadId();

// Copies the value of the environment variable into buffer (size bytes,
// terminated) and returns its length in bytes. Returns 0 with an empty buffer
// when the variable is absent or empty, and size or more (buffer empty) when
// the value does not fit. A failed query (or the test fault hook) reads as an
// absent variable.
size_t environmentGet(const char* name, char* buffer, size_t size);

// Sets (value not null) or removes (value null) an environment variable of the
// process, so that environmentGet and the system's own lookups see it.
// Returns false when the system (or the test fault hook) refused.
bool environmentSet(const char* name, const char* value);

// The name of the account the process runs as (its effective user id's name
// on Linux, GetUserName on Windows) into buffer, terminated. Returns its
// length; 0 with an empty buffer when the system cannot tell or it does not
// fit. Unlike $USER or %USERNAME%, the process cannot be told otherwise.
size_t processAccountName(char* buffer, size_t size);

// Broken-down local time of now.
struct LocalTime {
  int year;      // e.g. 2026
  int month;     // 0 to 11
  int monthDay;  // 1 to 31
  int weekDay;   // 0 (Sunday) to 6
  int hour;
  int minute;
  int second;
};
// Returns false when the system clock could not be read (or the test fault
// hook says so).
bool localTimeNow(LocalTime* out);

// Copies the full path of the program file of the process (/proc/self/exe,
// GetModuleFileNameA(NULL)) into buffer, terminated. Returns its length, or 0
// with an empty buffer when it cannot be had or does not fit.
size_t processFilePath(char* buffer, size_t size);

// ---------------------------------------------------------------------------
// Files (file.cc)

// Appends length bytes of text to the regular file at path, creating an empty
// one first when nothing of that name exists; on Windows each line feed is
// written as CR LF, as text mode does. Returns true when every byte was
// written. Returns false, without waiting and without writing anything, when
// path names anything but a regular file (a FIFO, a device, a directory, a
// dangling symbolic link), and false when the file cannot be opened or
// written. The type is checked on the opened file, so a name swapped between
// a check and the open cannot redirect the write.
bool fileAppendRegular(const char* path, const char* text, size_t length);

// The size in bytes of the regular file at path. Returns false when nothing
// of that name exists, when it is not a regular file, or when the query fails.
bool fileSize(const char* path, uint64_t* size);

// Whether something of that name exists and is not a regular file (a FIFO, a
// device, a directory, a socket; on Windows also any name in the \\.\ device
// space), following symbolic links. False when nothing of that name exists or
// it is a regular file. Opens nothing, so it never waits.
bool fileIsNotRegular(const char* path);

// ---------------------------------------------------------------------------
// Locked files (locked_file.cc)

// A regular file one process keeps for itself: open for reading and
// appending, under an exclusive lock that ends when it is closed or the
// process ends (a killed one too). The lock excludes other processes.
// REQUIRES: a process opens a file once at a time, and no other way (on
// Linux closing any descriptor of the file ends the process's lock on it).
struct LockedFile;

enum class LockedFileStatus {
  kOpened,      // *file is set
  kMissing,     // nothing of that name (and create not asked for)
  kNotRegular,  // a directory, FIFO, device or socket: never opened for long
  kHeld,        // another process holds the lock: *holder is its id (0: unknown)
  kFailed,      // the system refused: reason says why
};

// Opens the regular file at path without waiting and locks it. With create,
// a missing file is made empty (never through a dangling symbolic link) and
// its folder entry flushed. Never blocks: a FIFO or a device is refused
// after an open that does not wait, a held lock at once. On kFailed, reason
// (size bytes) holds the system's description.
LockedFileStatus lockedFileOpen(const char* path, bool create, LockedFile** file, uint32_t* holder,
                                char* reason, size_t size);
// The file's size in bytes now.
bool lockedFileSize(LockedFile* file, uint64_t* size);
// Reads up to size bytes at offset into buffer; *got is the number read
// (0 at the end of the file).
bool lockedFileRead(LockedFile* file, uint64_t offset, char* buffer, size_t size, size_t* got);
// Writes length bytes at the end of the file, unchanged (no line-end
// conversion). True when all were written.
bool lockedFileAppend(LockedFile* file, const char* bytes, size_t length);
// Makes what was written durable (fsync, FlushFileBuffers).
bool lockedFileSync(LockedFile* file);
// Cuts the file to size bytes.
bool lockedFileTruncate(LockedFile* file, uint64_t size);
// Releases the lock and closes the file; null is ignored.
void lockedFileClose(LockedFile* file);

// ---------------------------------------------------------------------------
// Libraries (library.cc)

struct Library;

// Loads a library by file name through the system's ordinary search: dlopen
// with RTLD_NOW, or LoadLibraryA. Returns null when it does not load (or the
// test fault hook for library loading says so).
Library* libraryLoad(const char* fileName);
// Address of an exported symbol (function or data), or null (also when the
// test fault hook for symbol lookup says so).
void* librarySymbol(Library* library, const char* name);
// Unloads a library that libraryLoad returned; null is ignored.
void libraryUnload(Library* library);

// libraryLoad that also says why a load failed: on null, reason (size bytes,
// terminated, may be null when size is 0) holds the operating system's text
// (dlerror; "error N: " and the FormatMessage text of GetLastError).
Library* libraryLoadExplained(const char* fileName, char* reason, size_t size);
// Copies the full path of a loaded library into buffer, terminated. Returns
// its length, or 0 with an empty buffer when it cannot be had or does not fit.
size_t libraryFilePath(Library* library, char* buffer, size_t size);
// The same for the library that holds this code (the module itself; the
// program when the code is linked into it).
size_t moduleFilePath(char* buffer, size_t size);

// ---------------------------------------------------------------------------
// Machine-wide settings (registry.cc)

// Reads the string value name of the key HKEY_LOCAL_MACHINE\subKey, in the
// registry view of the process's own word size, into buffer, terminated.
// Returns its length; 0 with an empty buffer when the key or value is absent,
// is not a string, is empty or does not fit. Linux has no registry: 0.
size_t registryReadMachineString(const char* subKey, const char* name, char* buffer, size_t size);
// Reads a DWORD value the same way. Returns false when the key or value is
// absent or is not a DWORD; always false on Linux.
bool registryReadMachineNumber(const char* subKey, const char* name, uint32_t* value);
// What registryReadMachineSetting found.
enum class RegistrySetting {
  kAbsent,     // no such key or value (always on Linux)
  kText,       // buffer holds the value as text
  kWrongType,  // buffer holds the name of the value's type ("REG_BINARY")
  kTooLong,    // the text does not fit buffer; buffer is empty
};
// Reads the value name of HKEY_LOCAL_MACHINE\subKey (the process's own
// registry view) as text into buffer (size bytes, terminated): REG_SZ as
// stored, REG_EXPAND_SZ with its %VARIABLE% references expanded from the
// process's environment, REG_DWORD and REG_QWORD as decimal digits. Any other
// type gives kWrongType and its name.
RegistrySetting registryReadMachineSetting(const char* subKey, const char* name, char* buffer,
                                           size_t size);
// Writes the string value name of HKEY_LOCAL_MACHINE\subKey, creating the
// key when needed. Returns false when the system refused (rights, no
// registry: always on Linux).
bool registryWriteMachineString(const char* subKey, const char* name, const char* value);

// Deletes the value name of HKEY_LOCAL_MACHINE\subKey, in the same view.
// Returns true when the value is gone (deleted now, or absent); false when
// the system refused (rights; no registry: always on Linux).
bool registryDeleteMachineValue(const char* subKey, const char* name);

// ---------------------------------------------------------------------------
// The ANSI code page (codepage.cc)
//
// On Windows this is the system's ANSI code page (GetACP). On Linux it is the
// character set of the C library's LC_CTYPE locale, which the module sets from
// the environment when it is loaded; its lead-byte table is taken at that
// moment and stays fixed, as the ANSI code page does on Windows.

// Sets the C runtime's LC_CTYPE category to the system's ANSI code page
// (".ACP" on Windows, the environment's locale on Linux) and refreshes the
// tables below.
void codePageSelect();
// Nonzero when the byte begins a two-byte character of the code page.
bool codePageIsLeadByte(unsigned char byte);
// Whether lead followed by trail is one two-byte character of the code page.
// A lead byte followed by a byte that cannot trail it (a '+', a digit, the
// terminator) is, by the code page's own rule, a character by itself.
bool codePageIsPair(unsigned char lead, unsigned char trail);
// The byte upper-cased in the code page (single-byte characters only).
unsigned char codePageUpperByte(unsigned char byte);
// Upper-cases length bytes in place, leaving double-byte characters alone.
void codePageUpperBuffer(char* buffer, size_t length);
// Converts sourceLength bytes of code-page text to UTF-16 into target
// (capacity units). Returns the number of units written, or 0 when the text
// could not be converted or does not fit.
int codePageToUtf16(const char* source, int sourceLength, uint16_t* target, int capacity);
// The code page number in force (Windows: GetACP; Linux: the number of the
// locale's character set where one is known, else 0).
uint32_t codePageCurrent();

// ---------------------------------------------------------------------------
// Resources and version (resource.cc; the instance handle in shared.cc)

// The module's own instance handle (HMODULE); null on Linux, which has none.
void* moduleInstance();
// Records the instance handle the loader gave the module (Windows only).
void moduleInstanceSet(void* instance);
// LoadStringW: copies the string resource id into buffer (capacity units) and
// returns its length, or 0 when absent. Linux has no string resources: 0.
int resourceLoadStringW(void* instance, uint32_t id, uint16_t* buffer, int capacity);
// LoadStringA: the same in the ANSI code page.
int resourceLoadStringA(void* instance, uint32_t id, char* buffer, int capacity);
// The operating system's version. Returns false when the query fails. On
// Linux it is the kernel release (major.minor from uname).
bool versionQuery(uint32_t* major, uint32_t* minor);

}  // namespace platform
}  // namespace zp

#endif  // ZP_PLATFORM_PLATFORM_H
