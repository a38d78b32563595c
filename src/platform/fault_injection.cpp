#include "platform/fault_injection.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace kel::os {

namespace {

// One failure and one crash can be armed at once: a process may die while it
// handles a lasting failure.
std::atomic<bool> g_armed{false};
std::atomic<int> g_crashAt{0};
std::atomic<int> g_calls{0};
std::mutex g_mutex;
Primitive g_primitive = Primitive::Any;
int g_remaining = 0;
int g_times = 0;

}  // namespace

void FailNthCall(Primitive primitive, int nth, int times) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_primitive = primitive;
    g_remaining = nth;
    g_times = times;
    g_armed = nth > 0;
}

void CrashAtNthCall(int nth) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_calls = 0;
    g_crashAt = nth;
}

void ClearFault() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_remaining = 0;
    g_calls = 0;
    g_crashAt = 0;
    g_armed = false;
}

int PrimitiveCalls() { return g_calls; }

bool FaultPending() { return g_armed; }

namespace {
std::atomic<unsigned> g_lockWait{10000};
}  // namespace

unsigned LockWaitMilliseconds() { return g_lockWait; }
void SetLockWaitMilliseconds(unsigned milliseconds) { g_lockWait = milliseconds; }

namespace {
// Below, the thread costs more than it saves.
std::atomic<std::size_t> g_besideFrom{10'000};
}  // namespace

std::size_t BesideFromNodes() { return g_besideFrom; }
void SetBesideFromNodes(std::size_t nodes) { g_besideFrom = nodes; }

bool Faulted(Primitive primitive) {
    if (++g_calls == g_crashAt) std::_Exit(kCrashExitCode);
    if (!g_armed) return false;
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_armed || (g_primitive != Primitive::Any && g_primitive != primitive)) return false;
    if (g_remaining > 1) {
        --g_remaining;
        return false;
    }
    if (--g_times <= 0) g_armed = false;
    return true;
}

}  // namespace kel::os
