#pragma once

// Helpers of the frame tests. Qt-free, because the recording dispatcher library includes it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Runs a job on its own thread: `started` is set just before it, `finished` just after.
// Tests poll these instead of sleeping; `finished` still false while the job should be
// blocked is the proof that it is.
class ProbeThread
{
public:
    explicit ProbeThread(std::function<void()> job)
        : thread_([this, job = std::move(job)] { started = true; job(); finished = true; }) {}
    ~ProbeThread() { thread_.join(); }
    std::atomic<bool> started{false}, finished{false};

private:
    std::thread thread_; // last, so the flags exist before the job runs
};

// Runs job(index) on `count` threads released together, so the jobs really overlap.
template <typename Job>
void runTogether(int count, Job job)
{
    std::atomic<int> arrived{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            for (++arrived; arrived.load() < count;)
                std::this_thread::yield();
            job(i);
        });
    for (std::thread& thread : threads)
        thread.join();
}

// Acquires the library for the scope; singletons created inside it go at its end, so
// each case attaches anew. A template, so this header needs no frame header.
template <typename Controller>
struct ControllerScopeOf
{
    ControllerScopeOf() { Controller::acquire(); }
    ~ControllerScopeOf() { Controller::release(); }
};

// The recording dispatcher, built as libcommon-logging-dispatcher.so into a test
// installation. The test programs link it, so these reach the very copy that the logging
// singleton loads.
namespace recording_dispatcher {

// In order: "attach", "detach" ("detach from a stranger" when the client or descriptor
// is not the attached one), "register <name>", "log <id> <level> <message> <value>
// <pointer value>", and the test's notes.
std::vector<std::string> journal();
void note(const std::string& text);
// Forgets the journal and the assignments.
void reset();
// Registrations of name answer (id, level); others get id 0 and level 0.
void assign(const std::string& name, std::uint64_t id, std::uint32_t level);
// Call the client back; false when none has ever attached. Kept after a disconnect or a
// detach, so that tests can make late calls.
bool callSetLevel(std::uint64_t id, std::uint32_t level);
bool callDisconnect();

} // namespace recording_dispatcher
