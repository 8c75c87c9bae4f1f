#pragma once

// Lock annotations that clang checks with -Wthread-safety (the clang build of the test
// script turns them into errors); other compilers see nothing. Put GUARDED_BY on every
// field a lock guards and REQUIRES on every function that expects its caller to hold one,
// so a field touched without its lock fails to compile instead of racing at run time.

#if defined(__clang__)
#define VEXO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VEXO_THREAD_ANNOTATION(x)
#endif

#define VEXO_CAPABILITY(name) VEXO_THREAD_ANNOTATION(capability(name))
#define VEXO_SCOPED_CAPABILITY VEXO_THREAD_ANNOTATION(scoped_lockable)
#define VEXO_GUARDED_BY(lock) VEXO_THREAD_ANNOTATION(guarded_by(lock))
#define VEXO_PT_GUARDED_BY(lock) VEXO_THREAD_ANNOTATION(pt_guarded_by(lock))
#define VEXO_REQUIRES(...) VEXO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define VEXO_REQUIRES_SHARED(...) VEXO_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define VEXO_EXCLUDES(...) VEXO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define VEXO_ACQUIRE(...) VEXO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define VEXO_ACQUIRE_SHARED(...) VEXO_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define VEXO_RELEASE(...) VEXO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define VEXO_RELEASE_SHARED(...) VEXO_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define VEXO_RELEASE_GENERIC(...) VEXO_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define VEXO_TRY_ACQUIRE(...) VEXO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define VEXO_TRY_ACQUIRE_SHARED(...) VEXO_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
#define VEXO_RETURN_CAPABILITY(x) VEXO_THREAD_ANNOTATION(lock_returned(x))
#define VEXO_NO_THREAD_SAFETY_ANALYSIS VEXO_THREAD_ANNOTATION(no_thread_safety_analysis)
