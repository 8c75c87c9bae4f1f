#include "frame/Platform.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace vexo::templates::platform {

namespace {

// The id never changes for a thread, so it is fetched from the kernel once. A forked
// child's only thread inherits its parent's cache but has a new id: forget it there.
thread_local ThreadId cachedThreadId = 0;

void forgetThreadIdInChild()
{
    cachedThreadId = 0;
}

} // namespace

ThreadId currentThreadId()
{
    if (cachedThreadId == 0) {
        static const bool forkHandlerInstalled = ::pthread_atfork(nullptr, nullptr, &forgetThreadIdInChild) == 0;
        static_cast<void>(forkHandlerInstalled);
        cachedThreadId = static_cast<ThreadId>(::syscall(SYS_gettid));
    }
    return cachedThreadId;
}

void cpuPause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
    __asm__ __volatile__("yield");
#else
    std::this_thread::yield();
#endif
}

ManualResetEvent::ManualResetEvent(bool initiallySignalled)
    : signalled_(initiallySignalled)
{
}

void ManualResetEvent::set()
{
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
    becameSignalled_.notify_all();
}

void ManualResetEvent::reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

void ManualResetEvent::wait()
{
    std::unique_lock<std::mutex> lock(mutex_);
    becameSignalled_.wait(lock, [this] { return signalled_; });
}

} // namespace vexo::templates::platform
