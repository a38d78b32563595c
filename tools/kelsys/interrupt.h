// Ctrl-C and termination requests wait for the component call that runs, so
// that a change is never cut off inside the library (which would leave its
// work directory in the temporary folder); the tool ends right after it.
#pragma once

#include <atomic>

namespace kelsys {

inline constexpr int kInterrupted = 130;  // 128 + SIGINT, as shells report it
inline constexpr int kTerminated = 143;   // 128 + SIGTERM

// What the signal or console handler shares with the calls. Atomics rather
// than a volatile flag: Windows runs console handlers in a thread of their own.
class Interruption {
public:
    void Begin() noexcept { calls_.fetch_add(1); }
    // Once the outermost call ends, the exit code of a request that came
    // meanwhile; 0 otherwise.
    int End() noexcept { return calls_.fetch_sub(1) == 1 ? pending_.load() : 0; }
    // For the handler: keeps the request (the first one chooses the exit code)
    // and tells whether a call runs to wait for. When none does, the handler
    // leaves the process to the platform's default. The request is stored
    // before the calls are looked at, so an End racing with it either sees
    // the request or the handler sees no call.
    bool Defer(int exitCode) noexcept {
        int none = 0;
        pending_.compare_exchange_strong(none, exitCode);
        return calls_.load() > 0;
    }

private:
    static_assert(std::atomic<int>::is_always_lock_free, "used in signal handlers");
    std::atomic<int> calls_{0};
    std::atomic<int> pending_{0};
};

// The process's one instance, the one the handlers use.
Interruption& ProcessInterruption();
// SIGINT and SIGTERM, or Ctrl-C and Ctrl-Break (the latter exiting as
// terminated), go to ProcessInterruption(). Call first thing in main.
void InstallInterruptHandlers();
[[noreturn]] void ExitInterrupted(int code);

// The span of one component call.
class CallScope {
public:
    CallScope() { ProcessInterruption().Begin(); }
    ~CallScope() {
        if (const int code = ProcessInterruption().End()) ExitInterrupted(code);
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

}  // namespace kelsys
