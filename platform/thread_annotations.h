// Lock contracts the compiler checks. Under clang with -Wthread-safety these
// macros become the thread-safety attributes: a lock type is a CAPABILITY, a
// guard that holds one for its scope a SCOPED_CAPABILITY, data a lock guards is
// GUARDED_BY it, and a function that needs a lock held REQUIRES it. Other
// compilers see nothing. The locks are re-entrant; the analysis treats them as
// plain locks, so a function that takes one it already holds is reported.
#ifndef ZP_PLATFORM_THREAD_ANNOTATIONS_H
#define ZP_PLATFORM_THREAD_ANNOTATIONS_H

#if defined(__clang__)
#define ZP_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZP_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ZP_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ZP_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ZP_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ZP_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_AFTER(...) ZP_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define ACQUIRED_BEFORE(...) ZP_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define REQUIRES(...) ZP_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) ZP_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZP_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) ZP_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) ZP_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) ZP_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS ZP_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // ZP_PLATFORM_THREAD_ANNOTATIONS_H
