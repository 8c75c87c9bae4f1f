#pragma once

// Qt's event queue hands a posted event from the posting thread to the receiver's thread
// under a lock that ThreadSanitizer cannot see (Qt is not instrumented). These two calls
// tell it about that hand-over, so the event's fields written before posting are known to
// be visible when the receiver reads them. They compile to nothing in other builds.

#if defined(__SANITIZE_THREAD__)
#define VEXO_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VEXO_THREAD_SANITIZER 1
#endif
#endif

#if defined(VEXO_THREAD_SANITIZER)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace vexo {
namespace templates {
namespace platform {

// Before posting: everything written so far is released to whoever accepts `object`.
inline void announceHandOver(const void* object)
{
#if defined(VEXO_THREAD_SANITIZER)
    __tsan_release(const_cast<void*>(object));
#else
    (void)object;
#endif
}

// On receipt, before reading `object`.
inline void acceptHandOver(const void* object)
{
#if defined(VEXO_THREAD_SANITIZER)
    __tsan_acquire(const_cast<void*>(object));
#else
    (void)object;
#endif
}

} // namespace platform
} // namespace templates
} // namespace vexo
