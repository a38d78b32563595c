#include "platform/fault_injection.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace kel::os {

namespace {

std::atomic<bool> g_armed{false};
std::atomic<int> g_calls{0};
std::mutex g_mutex;
Primitive g_primitive = Primitive::Any;
int g_remaining = 0;
int g_times = 0;
bool g_crash = false;

}  // namespace

void FailNthCall(Primitive primitive, int nth, int times) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_primitive = primitive;
    g_remaining = nth;
    g_times = times;
    g_calls = 0;
    g_crash = false;
    g_armed = nth > 0;
}

void CrashAtNthCall(Primitive primitive, int nth) {
    FailNthCall(primitive, nth);
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_crash = true;
}

void ClearFault() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_remaining = 0;
    g_calls = 0;
    g_armed = false;
}

int PrimitiveCalls() { return g_calls; }

bool FaultPending() { return g_armed; }

namespace {
std::atomic<unsigned> g_lockWait{10000};
}  // namespace

unsigned LockWaitMilliseconds() { return g_lockWait; }
void SetLockWaitMilliseconds(unsigned milliseconds) { g_lockWait = milliseconds; }

bool Faulted(Primitive primitive) {
    ++g_calls;
    if (!g_armed) return false;
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_armed || (g_primitive != Primitive::Any && g_primitive != primitive)) return false;
    if (g_remaining > 1) {
        --g_remaining;
        return false;
    }
    if (--g_times <= 0) g_armed = false;
    if (g_crash) std::_Exit(kCrashExitCode);
    return true;
}

}  // namespace kel::os
